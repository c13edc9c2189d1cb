#include "expand/records.h"

#include <stdio.h>
#include <string.h>

#include <memory>

#include "block_decoder.h"
#include "check_record.h"
#include "crc32.h"
#include "expand/layout.h"
#include "record_reader.h"

namespace {

// A record source over memory and a sink, for the shared record loop.
struct MemoryIo {
  const std::vector<uint8_t>* source;
  size_t at;
  ExpansionSink* sink;  // null: what is written is dropped
};

uint32_t MemoryRead(void* context, uint8_t* buffer, uint32_t size) {
  MemoryIo* io = static_cast<MemoryIo*>(context);
  size_t left = io->source->size() - io->at;
  uint32_t n = (uint32_t)std::min<size_t>(left, size);
  memcpy(buffer, io->source->data() + io->at, n);
  io->at += n;
  return n;
}

uint32_t MemoryWrite(void* context, const uint8_t* buffer, uint32_t size) {
  MemoryIo* io = static_cast<MemoryIo*>(context);
  if (io->sink) io->sink->Take(buffer, size);
  return size;
}

// An expansion kept in memory, made room for once.
class VectorSink final : public ExpansionSink {
 public:
  VectorSink(std::vector<uint8_t>* bytes, size_t expected) : bytes_(bytes) {
    bytes_->reserve(bytes_->size() + expected);
  }
  void Take(const uint8_t* data, size_t size) override { bytes_->insert(bytes_->end(), data, data + size); }

 private:
  std::vector<uint8_t>* bytes_;
};

std::string Hex32(uint32_t value) {
  char text[9];
  snprintf(text, sizeof text, "%08x", value);
  return text;
}

// Why a file that expanded failed its check, and the first record whose
// expansion differs from the CRC its check record lists for it.
std::string DescribeCheckFailure(const std::vector<uint8_t>& packed, const std::vector<ListedRecord>& records,
                                 const std::vector<uint8_t>& expanded, const PackCheck& check) {
  std::string why = CheckFailureReason(check);
  if (check.listedRecords == 0 || records.empty()) return why;
  CheckRecord listed;
  if (ReadCheckRecord(packed.data() + PackHeaderSize, records[0].packedSize, &listed) != CheckRecordOk) {
    return why;
  }
  size_t at = 0;
  for (uint32_t i = 0; i + 1 < records.size() && i < listed.listedRecords; ++i) {
    const ListedRecord& r = records[i + 1];
    if (at + r.expandedSize > expanded.size()) break;
    if (Crc32Update(0, expanded.data() + at, r.expandedSize) != ReadLE32(listed.recordCrcs + 4 * i)) {
      return why + "; record " + std::to_string(i + 1) + " at offset " + std::to_string(r.offset) +
             " is the first that differs";
    }
    at += r.expandedSize;
  }
  return why;
}

// What the record loop found wrong with a whole record, as setuppack says
// it: "damaged data (record 3 at offset 20000)".
std::string DescribeRecordFailure(const ListedRecord& record, const RecordPosition& at, const char* text) {
  std::string where = "record " + std::to_string(at.index) + " at offset " + std::to_string(at.offset);
  if (!record.isCheck) return "damaged data (" + where + ")";
  // "Pack check record error (not the first record)": the reason in brackets.
  std::string reason = text;
  size_t open = reason.find('(');
  reason = open == std::string::npos ? "" : ": " + reason.substr(open + 1, reason.size() - open - 2);
  return "damaged check record (" + where + reason + ")";
}

// Expands the records in packed[0, total).
bool ExpandInto(PackExpander* expander, const std::vector<uint8_t>& packed, size_t total, ExpansionSink* sink,
                PackCheck* check, char* text, size_t textSize, RecordPosition* at) {
  MemoryIo memory = {&packed, 0, sink};
  RecordIo io = {&memory, MemoryRead, MemoryWrite, nullptr};
  return ReadRecords(&expander->decoder, &io, (uint32_t)total, expander->input.get(), expander->output.get(),
                     nullptr, text, (uint32_t)textSize, at, check) != 0;
}

}  // namespace

std::string CheckFailureReason(const PackCheck& check) {
  if (check.expandedSize != check.expectedSize) {
    return "expands to " + std::to_string(check.expandedSize) + " bytes, its check record says " +
           std::to_string(check.expectedSize);
  }
  if (check.expandedCrc != check.expectedCrc) {
    return "expands to bytes of CRC-32 " + Hex32(check.expandedCrc) + ", its check record says " +
           Hex32(check.expectedCrc);
  }
  return "has " + std::to_string(check.dataRecords) + " data records, its check record lists " +
         std::to_string(check.listedRecords);
}

std::string Verified(const PackCheck& check, size_t size) {
  std::string bytes = std::to_string(size) + " bytes";
  if (!check.present) return bytes + ", no check record: damage to it can go unnoticed";
  return bytes + ", size and CRC-32 " + Hex32(check.expectedCrc) + " match its check record";
}

void ShowPackProgress(size_t done, size_t total) {
  fprintf(stderr, "\r  %3u%% of %zu bytes", (unsigned)(done * 100 / (total ? total : 1)), total);
  if (done == total) fprintf(stderr, "\n");
}

size_t ListedExpansion(const std::vector<uint8_t>& packed) {
  size_t total = 0;
  for (size_t at = 0; at + PackHeaderSize <= packed.size();) {
    const uint8_t* header = packed.data() + at;
    if (memcmp(header, PackMagic, PackMagicSize) != 0) break;
    uint32_t packedSize = ReadLE32(header + 8), expandedSize = ReadLE32(header + 12);
    if (packedSize > BlockBufferSize || expandedSize > BlockBufferSize) break;
    total += expandedSize;
    at += PackHeaderSize + (packedSize != 0 ? packedSize : expandedSize);
  }
  // A damaged file may list far more than it can expand to (a compressed
  // record of one byte may claim 62 KB): room beyond this is made as the
  // bytes come.
  const size_t MostAtOnce = (size_t)256 << 20;
  return std::min(total, MostAtOnce);
}

bool ExpandPackFile(PackExpander* expander, const std::vector<uint8_t>& packed, ExpansionSink* sink,
                    PackCheck* check, std::string* error, std::string* note) {
  PackLayout layout = ReadLayout(packed);
  const RecordChain& chain = layout.first();
  *check = PackCheck();
  if (layout.NotPackFormat()) {
    *error = "not in pack format";
    return false;
  }
  // The records before any damage to the file's structure are expanded
  // first: what fails among them is named before the structure is.
  std::unique_ptr<DecoderState> before(new DecoderState(expander->decoder));
  char text[256];
  RecordPosition at = {0, 0};
  bool expanded = ExpandInto(expander, packed, chain.endOffset, sink, check, text, sizeof text, &at);
  if (!expanded && at.index < chain.records.size()) {
    *error = DescribeRecordFailure(chain.records[at.index], at, text);
    return false;
  }
  std::string structure = DescribeChainEnd(chain, packed.size());
  if (!structure.empty()) {
    *error = structure;
    return false;
  }
  if (!expanded) {
    std::vector<uint8_t> again;
    VectorSink memory(&again, ListedExpansion(packed));
    expander->decoder = *before;
    PackCheck same;
    ExpandInto(expander, packed, chain.endOffset, &memory, &same, text, sizeof text, &at);
    *error = "damaged: " + DescribeCheckFailure(packed, chain.records, again, *check);
    return false;
  }
  if (note && chain.end == ChainEnd::Padding) *note = DescribePadding(chain, packed.size());
  return true;
}

bool ExpandPackedData(const std::vector<std::vector<uint8_t>>& packed,
                      std::vector<std::vector<uint8_t>>* expanded, std::vector<PackCheck>* checks,
                      size_t* failedFile, std::string* error) {
  std::unique_ptr<PackExpander> expander(new PackExpander());
  return ExpandPackedData(expander.get(), packed, expanded, checks, failedFile, error);
}

bool ExpandPackedData(PackExpander* expander, const std::vector<std::vector<uint8_t>>& packed,
                      std::vector<std::vector<uint8_t>>* expanded, std::vector<PackCheck>* checks,
                      size_t* failedFile, std::string* error) {
  ResetDecoderState(&expander->decoder);
  if (expanded) {
    expanded->resize(packed.size());
    for (std::vector<uint8_t>& file : *expanded) file.clear();
  }
  std::vector<PackCheck> found(packed.size(), PackCheck());
  bool ok = true;
  for (size_t i = 0; i < packed.size() && ok; ++i) {
    std::unique_ptr<VectorSink> sink(expanded ? new VectorSink(&(*expanded)[i], ListedExpansion(packed[i]))
                                              : nullptr);
    ok = ExpandPackFile(expander, packed[i], sink.get(), &found[i], error);
    if (!ok && failedFile) *failedFile = i;
  }
  if (checks) *checks = found;
  return ok;
}

bool ListRecords(const std::vector<uint8_t>& packed, std::vector<ListedRecord>* records, std::string* error) {
  records->clear();
  size_t at = 0;
  while (at < packed.size()) {
    // As the unpacker does: header bytes past the end of the file read as zero.
    uint8_t header[PackHeaderSize] = {0};
    memcpy(header, packed.data() + at, std::min<size_t>(PackHeaderSize, packed.size() - at));
    if (memcmp(header, PackMagic, PackMagicSize) != 0) {
      *error = "record " + std::to_string(records->size()) + " at offset " + std::to_string(at) +
               ": Pack data header error";
      return false;
    }
    ListedRecord r = {(uint32_t)at, ReadLE32(header + 8), ReadLE32(header + 12), false};
    if (r.packedSize > BlockBufferSize || r.expandedSize > BlockBufferSize) {
      *error = "record " + std::to_string(records->size()) + " at offset " + std::to_string(at) +
               ": Pack record size error (" + std::to_string(r.packedSize) + " packed, " +
               std::to_string(r.expandedSize) + " expanded bytes; at most " +
               std::to_string(BlockBufferSize) + ")";
      return false;
    }
    size_t available = packed.size() - std::min(packed.size(), at + PackHeaderSize);
    uint32_t body = r.packedSize != 0 ? r.packedSize : r.expandedSize;
    if (available < body) {
      *error = "record " + std::to_string(records->size()) + " at offset " + std::to_string(at) +
               ": Read source error (" + std::to_string(available) + " of " + std::to_string(body) +
               " bytes)";
      return false;
    }
    r.isCheck = r.packedSize != 0 && IsCheckRecordBody(packed.data() + at + PackHeaderSize, r.packedSize);
    records->push_back(r);
    at += PackHeaderSize + body;
  }
  return true;
}

bool ContinuesEarlierHistory(const std::vector<uint8_t>& packed) {
  // Its first compressed block, decoded from an all-zero ring and from a
  // ring of other tokens: a block that copies only what it wrote itself
  // decodes the same from both.
  PackLayout layout = ReadLayout(packed);
  for (const ListedRecord& r : layout.first().records) {
    if (r.packedSize == 0 || r.isCheck) continue;
    std::unique_ptr<PackExpander> expander[2] = {std::unique_ptr<PackExpander>(new PackExpander()),
                                                 std::unique_ptr<PackExpander>(new PackExpander())};
    uint32_t flags[2];
    for (int pass = 0; pass < 2; ++pass) {
      ResetDecoderState(&expander[pass]->decoder);
      if (pass == 1) {
        for (uint32_t& token : expander[pass]->decoder.TokenRing) token = 0x5A;
      }
      flags[pass] = DecodeBlock(&expander[pass]->decoder, expander[pass]->output.get(), r.expandedSize,
                                packed.data() + r.offset + PackHeaderSize, r.packedSize);
    }
    return flags[0] != flags[1] ||
           memcmp(expander[0]->output.get(), expander[1]->output.get(), r.expandedSize) != 0;
  }
  return false;
}
