#include "rescue/salvage.h"

#include <string.h>

#include <memory>

#include "block_decoder.h"
#include "check_record.h"
#include "crc32.h"
#include "expand/expand.h"
#include "expand/layout.h"

namespace {

const long UnknownIndex = -1;

std::string Bytes(uint64_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

// "record 5 at offset 88196", or "the record at offset 88196" after a
// damaged header, where the records before it cannot be counted.
std::string RecordAt(long index, size_t offset) {
  return (index == UnknownIndex ? std::string("the record") : "record " + std::to_string(index)) +
         " at offset " + std::to_string(offset);
}

// Where a stretch lies in the expansion.
std::string Stretch(uint64_t at, uint64_t length) {
  return Bytes(length) + " at " + std::to_string(at) + " of the expansion";
}

class ExpansionMemory final : public ExpansionSink {
 public:
  void Take(const uint8_t* data, size_t size) override { bytes.insert(bytes.end(), data, data + size); }
  std::vector<uint8_t> bytes;
};

class Salvager {
 public:
  Salvager(PackExpander* expander, const std::vector<uint8_t>& packed, ExpansionSink* sink,
           SalvageReport* report)
      : expander_(expander), packed_(packed), sink_(sink), report_(report), layout_(ReadLayout(packed)) {}

  void Run() {
    if (layout_.NotPackFormat()) {
      Damage("not in pack format: nothing written");
      return;
    }
    const RecordChain& first = layout_.first();
    size_t start = ReadCheck(first);
    long dataIndex = 0;
    for (size_t i = start; i < first.records.size(); ++i) DataRecord(first.records[i], (long)i, &dataIndex);
    switch (first.end) {
      case ChainEnd::Whole:
        break;
      case ChainEnd::Padding:
        report_->note = DescribePadding(first, packed_.size());
        break;
      case ChainEnd::Garbage:
        Damage(DescribeChainEnd(first, packed_.size()) + ": not part of the expansion");
        break;
      case ChainEnd::Cut:
        CutRecord(first, (long)first.records.size());
        break;
      case ChainEnd::BadHeader:
        AfterDamagedHeader(first, dataIndex);
        break;
    }
    if (expectedKnown_ && pos_ < report_->expected && !endReported_) {
      Damage("missing: " + Stretch(pos_, report_->expected - pos_) + ", after the last record that is there");
    }
  }

 private:
  void Damage(const std::string& what) { report_->damage.push_back(what); }

  void Emit(const uint8_t* data, size_t size, bool vouched) {
    if (sink_) sink_->Take(data, size);
    if (vouched && size > 0) {
      std::vector<std::pair<uint64_t, uint64_t>>& stretches = report_->vouchedStretches;
      if (!stretches.empty() && stretches.back().first + stretches.back().second == pos_) {
        stretches.back().second += size;
      } else {
        stretches.push_back({pos_, size});
      }
      report_->vouched += size;
    }
    pos_ += size;
    report_->written += size;
  }

  void Zeros(uint64_t size) {
    static const uint8_t zeros[4096] = {0};
    while (size > 0) {
      size_t n = (size_t)std::min<uint64_t>(size, sizeof zeros);
      Emit(zeros, n, false);
      size -= n;
    }
  }

  // Reads the check record, when the file begins with one; returns the index
  // of the first data record.
  size_t ReadCheck(const RecordChain& first) {
    if (first.records.empty() || !first.records[0].isCheck) return 0;
    const ListedRecord& r = first.records[0];
    if (ReadCheckRecord(packed_.data() + r.offset + PackHeaderSize, r.packedSize, &check_) != CheckRecordOk ||
        r.expandedSize != 0) {
      Damage("damaged check record (record 0 at offset 0): no byte is vouched for");
      return 1;
    }
    expectedKnown_ = true;
    report_->expected = check_.expandedSize;
    report_->checked = check_.listedRecords > 0;
    return 1;
  }

  bool ListedCrc(long dataIndex, uint32_t* crc) const {
    if (!report_->checked || dataIndex == UnknownIndex || (uint32_t)dataIndex >= check_.listedRecords) {
      return false;
    }
    *crc = ReadLE32(check_.recordCrcs + 4 * dataIndex);
    return true;
  }

  // Expands a whole record's body through the decoder; false when the
  // decoder found its block damaged.
  bool ExpandBody(DecoderState* decoder, uint32_t packedSize, uint32_t expandedSize, const uint8_t* body,
                  const uint8_t** bytes) {
    if (packedSize == 0) {
      *bytes = body;
      return true;
    }
    *bytes = expander_->output.get();
    return DecodeBlock(decoder, expander_->output.get(), expandedSize, body, packedSize) == DecodeOk;
  }

  void DataRecord(const ListedRecord& r, long recordIndex, long* dataIndex) {
    if (r.isCheck) {
      Damage("damaged check record (" + RecordAt(recordIndex, r.offset) + ": not the first record): skipped");
      return;
    }
    const uint8_t* bytes;
    bool decoded = ExpandBody(&expander_->decoder, r.packedSize, r.expandedSize,
                              packed_.data() + r.offset + PackHeaderSize, &bytes);
    uint32_t listed = 0;
    bool hasCrc = ListedCrc(*dataIndex, &listed);
    if (report_->checked && *dataIndex != UnknownIndex && (uint32_t)*dataIndex >= check_.listedRecords) {
      Damage("record " + std::to_string(recordIndex) + " at offset " + std::to_string(r.offset) +
             ": not listed in the check record; " + Stretch(pos_, r.expandedSize) +
             " written, not vouched for");
    }
    bool matches = hasCrc && decoded && Crc32Update(0, bytes, r.expandedSize) == listed;
    if (!decoded || (hasCrc && !matches)) {
      Damage("damaged data (" + RecordAt(recordIndex, r.offset) + "): " + Stretch(pos_, r.expandedSize) +
             (decoded ? " do not match their CRC-32" : " do not decode") + "; written as decoded");
    }
    Emit(bytes, r.expandedSize, matches);
    if (*dataIndex != UnknownIndex) ++*dataIndex;
  }

  // The longest prefix of a block cut after `available` bytes that decodes
  // without the bytes past the cut: every symbol of it is whole.
  uint32_t DecodablePrefix(const uint8_t* body, uint32_t available, uint32_t expandedSize) {
    std::unique_ptr<DecoderState> trial(new DecoderState);
    uint32_t low = 0, high = expandedSize;
    while (low < high) {
      uint32_t mid = low + (high - low + 1) / 2;
      *trial = expander_->decoder;
      uint32_t flags = DecodeBlock(trial.get(), expander_->output.get(), mid, body, available);
      if (flags & DecodeInputOverrun) {
        high = mid - 1;
      } else {
        low = mid;
      }
    }
    return low;
  }

  void CutRecord(const RecordChain& chain, long recordIndex) {
    std::string where = "unexpected end of file (" + RecordAt(recordIndex, chain.endOffset) + ")";
    if (!chain.cutHeaderWhole) {
      Damage(where + ": the file ends inside its header");
      return;
    }
    const uint8_t* body = packed_.data() + chain.endOffset + PackHeaderSize;
    uint32_t available = (uint32_t)(packed_.size() - chain.endOffset - PackHeaderSize);
    uint32_t expandedSize = chain.cutExpandedSize;
    uint32_t kept = 0;
    if (chain.cutPackedSize == 0) {
      kept = available;
      Emit(body, kept, false);
    } else if (available > 0) {
      kept = DecodablePrefix(body, available, expandedSize);
      DecodeBlock(&expander_->decoder, expander_->output.get(), kept, body, available);
      Emit(expander_->output.get(), kept, false);
    }
    std::string missing =
        expectedKnown_ && report_->expected >= pos_
            ? Stretch(pos_, report_->expected - pos_) + " missing"
            : "its other " + Bytes(expandedSize - kept) + " and any records after it missing";
    Damage(where + ": the first " + Bytes(kept) + " of its " + Bytes(expandedSize) +
           " written before the cut, not vouched for; " + missing);
    endReported_ = true;
  }

  // Tries the bytes between a damaged header and the next one as the one
  // record the check record says is missing there: a compressed body, or a
  // stored one. True (with the bytes written) when they match its CRC-32.
  bool RebuildRecord(size_t from, size_t to, uint64_t expandedSize, long dataIndex) {
    uint32_t listed = 0;
    if (to < from + PackHeaderSize || expandedSize > BlockBufferSize || !ListedCrc(dataIndex, &listed)) {
      return false;
    }
    const uint8_t* body = packed_.data() + from + PackHeaderSize;
    size_t bodySize = to - from - PackHeaderSize;
    std::unique_ptr<DecoderState> trial(new DecoderState(expander_->decoder));
    const uint8_t* bytes;
    uint32_t packedSize = bodySize == expandedSize ? 0 : (uint32_t)bodySize;
    if (bodySize > BlockBufferSize ||
        !ExpandBody(trial.get(), packedSize, (uint32_t)expandedSize, body, &bytes) ||
        Crc32Update(0, bytes, (size_t)expandedSize) != listed) {
      return false;
    }
    expander_->decoder = *trial;
    Emit(bytes, (size_t)expandedSize, true);
    return true;
  }

  void AfterDamagedHeader(const RecordChain& first, long dataIndex) {
    std::string where =
        "damaged record header (" + RecordAt((long)first.records.size(), first.endOffset) + ")";
    const RecordChain& last = layout_.chains.back();
    uint64_t tail = 0;
    long tailRecords = 0;
    for (const ListedRecord& r : last.records) {
      tail += r.isCheck ? 0 : r.expandedSize;
      tailRecords += r.isCheck ? 0 : 1;
    }
    // Each missing record took 16 bytes of the file at least, and expanded
    // to BlockBufferSize bytes at most: a check record that says more is
    // not believed.
    uint64_t mostMissing = (uint64_t)(last.from - first.endOffset) / PackHeaderSize * BlockBufferSize;
    bool placeable = expectedKnown_ && layout_.chains.size() > 1 &&
                     (last.end == ChainEnd::Whole || last.end == ChainEnd::Padding) &&
                     report_->expected >= pos_ + tail && report_->expected - tail - pos_ <= mostMissing;
    if (!placeable) {
      Damage(where + ": the " + Bytes(packed_.size() - first.endOffset) +
             " after it cannot be placed in the expansion" +
             (expectedKnown_ ? "" : " (no check record says where they belong)") + ": not written");
      endReported_ = true;
      return;
    }
    for (size_t c = 1; c + 1 < layout_.chains.size(); ++c) {
      Damage("the records at offsets " + std::to_string(layout_.chains[c].from) + " to " +
             std::to_string(layout_.chains[c].endOffset) + " lie between damaged headers: not written");
    }
    uint64_t gap = report_->expected - tail - pos_;
    long lastIndex = report_->checked ? (long)check_.listedRecords - tailRecords : UnknownIndex;
    if (layout_.chains.size() == 2 && lastIndex == dataIndex + 1 &&
        RebuildRecord(first.endOffset, last.from, gap, dataIndex)) {
      Damage(where + ": rebuilt from the check record; its " + Bytes(gap) + " match their CRC-32");
    } else {
      uint64_t at = pos_;
      Zeros(gap);
      Damage(where + ": " + Stretch(at, gap) + " missing, written as zero bytes");
    }
    for (const ListedRecord& r : last.records) DataRecord(r, UnknownIndex, &lastIndex);
    if (last.end == ChainEnd::Padding) report_->note = DescribePadding(last, packed_.size());
  }

  PackExpander* expander_;
  const std::vector<uint8_t>& packed_;
  ExpansionSink* sink_;
  SalvageReport* report_;
  PackLayout layout_;
  CheckRecord check_ = {};
  bool expectedKnown_ = false;  // the check record says how long the expansion is
  bool endReported_ = false;    // a missing end was reported already
  uint64_t pos_ = 0;            // bytes written so far
};

}  // namespace

void SalvagePackFile(PackExpander* expander, const std::vector<uint8_t>& packed, ExpansionSink* sink,
                     SalvageReport* report) {
  *report = SalvageReport();
  // A whole file is expanded as unpack expands it, and then handed on.
  std::unique_ptr<DecoderState> before(new DecoderState(expander->decoder));
  ExpansionMemory whole;
  PackCheck& check = report->check;
  std::string error;
  if (ExpandPackFile(expander, packed, &whole, &check, &error, &report->note)) {
    if (sink) sink->Take(whole.bytes.data(), whole.bytes.size());
    report->whole = true;
    report->written = whole.bytes.size();
    report->checked = check.present != 0;
    report->vouched = check.present ? report->written : 0;
    if (report->vouched > 0) report->vouchedStretches.push_back({0, report->vouched});
    report->expected = check.expectedSize;
    return;
  }
  expander->decoder = *before;
  report->note.clear();
  report->check = PackCheck();
  Salvager(expander, packed, sink, report).Run();
  // Damage that no stretch shows (the whole expansion's size or CRC-32, or
  // its number of records, differs from the check record) is said as unpack
  // says it.
  if (report->damage.empty()) report->damage.push_back(error);
}
