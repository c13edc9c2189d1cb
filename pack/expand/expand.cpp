#include "expand/expand.h"

#include <string.h>

#include <memory>

#include "check_record.h"
#include "crc32.h"
#include "expand/layout.h"
#include "expand/records.h"

namespace {

// How large a file that failed as it streamed may be to be read again
// whole, to say what is wrong with it (64 MiB).
const uint32_t WholeReadAfterFailureLimit = 64u << 20;

struct SourceIo {
  PackedSource* source;
  ExpansionSink* sink;  // null: what is written is dropped
};

uint32_t SourceRead(void* context, uint8_t* buffer, uint32_t size) {
  return static_cast<SourceIo*>(context)->source->Read(buffer, size);
}

uint32_t SinkWrite(void* context, const uint8_t* buffer, uint32_t size) {
  SourceIo* io = static_cast<SourceIo*>(context);
  if (io->sink) io->sink->Take(buffer, size);
  return size;
}

// The record loop over the first total bytes of source.
bool ExpandOnce(PackExpander* expander, PackedSource* source, uint32_t total, ExpansionSink* sink,
                PackCheck* check, char* text, size_t textSize, RecordPosition* at) {
  SourceIo context = {source, sink};
  RecordIo io = {&context, SourceRead, SinkWrite, nullptr};
  return ReadRecords(&expander->decoder, &io, total, expander->input.get(), expander->output.get(), nullptr,
                     text, (uint32_t)textSize, at, check) != 0;
}

// Compares the CRC-32 of every data record, as it comes, with the list of
// the check record.
class RecordCrcSink final : public ExpansionSink {
 public:
  explicit RecordCrcSink(const std::vector<uint32_t>& listed) : listed_(listed) {}
  void Take(const uint8_t* data, size_t size) override {
    if (firstDiffering_ < 0 && index_ < listed_.size() &&
        Crc32Update(0, data, (uint32_t)size) != listed_[index_]) {
      firstDiffering_ = (long)index_;
    }
    ++index_;
  }
  long FirstDiffering() const { return firstDiffering_; }

 private:
  const std::vector<uint32_t>& listed_;
  size_t index_ = 0;
  long firstDiffering_ = -1;
};

// The check record's list of record CRCs, read from the start of the file.
bool ReadListedCrcs(PackedSource* source, std::vector<uint32_t>* listed, std::string* error) {
  uint8_t header[PackHeaderSize];
  if (!source->Rewind(error) || source->Read(header, PackHeaderSize) != PackHeaderSize) return false;
  uint32_t packedSize = ReadLE32(header + 8);
  if (packedSize == 0 || packedSize > BlockBufferSize) return false;
  std::vector<uint8_t> body(packedSize);
  if (source->Read(body.data(), packedSize) != packedSize) return false;
  CheckRecord check;
  if (ReadCheckRecord(body.data(), packedSize, &check) != CheckRecordOk) return false;
  for (uint32_t i = 0; i < check.listedRecords; ++i) listed->push_back(ReadLE32(check.recordCrcs + 4 * i));
  return true;
}

// The offset of record `index` (from 0), found by walking the headers.
uint64_t RecordOffset(PackedSource* source, uint32_t index, std::string* error) {
  uint64_t offset = 0;
  if (!source->Rewind(error)) return 0;
  std::vector<uint8_t> skip(BlockBufferSize);
  for (uint32_t i = 0; i < index; ++i) {
    uint8_t header[PackHeaderSize];
    if (source->Read(header, PackHeaderSize) != PackHeaderSize) break;
    uint32_t packedSize = ReadLE32(header + 8), expandedSize = ReadLE32(header + 12);
    uint32_t body = packedSize != 0 ? packedSize : expandedSize;
    source->Read(skip.data(), std::min<uint32_t>(body, BlockBufferSize));
    offset += PackHeaderSize + body;
  }
  return offset;
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

// Counts the bytes handed on to the next sink (if any).
class CountingSink final : public ExpansionSink {
 public:
  explicit CountingSink(ExpansionSink* next) : next_(next) {}
  void Take(const uint8_t* data, size_t size) override {
    if (next_) next_->Take(data, size);
    count_ += size;
  }
  uint64_t Count() const { return count_; }

 private:
  ExpansionSink* next_;
  uint64_t count_ = 0;
};

// Why a file that expanded failed its check, and the first record whose
// expansion differs from the CRC its check record lists for it.
std::string DescribeCheckFailure(const uint8_t* packed, const std::vector<ListedRecord>& records,
                                 const std::vector<uint8_t>& expanded, const PackCheck& check) {
  std::string why = CheckFailureReason(check);
  if (check.listedRecords == 0 || records.empty()) return why;
  CheckRecord listed;
  if (ReadCheckRecord(packed + PackHeaderSize, records[0].packedSize, &listed) != CheckRecordOk) {
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

// Says what is wrong with a whole pack file that failed as it streamed,
// from its record chain: its records are expanded again from the decoder
// state before it, up to any damage to its structure, so that what fails
// among them is named before the structure is. Zero and 0x1A bytes after
// the last record are no failure (*note says so).
bool ExpandWhole(PackExpander* expander, const uint8_t* packed, size_t size, ExpansionSink* sink,
                 PackCheck* check, std::string* error, std::string* note) {
  PackLayout layout = ReadLayout(packed, size);
  const RecordChain& chain = layout.first();
  *check = PackCheck();
  if (layout.NotPackFormat()) {
    *error = "not in pack format";
    return false;
  }
  std::unique_ptr<DecoderState> before(new DecoderState(expander->decoder));
  char text[256];
  RecordPosition at = {0, 0};
  PackedSource source;
  source.OpenMemory(packed, size);
  bool expanded =
      ExpandOnce(expander, &source, (uint32_t)chain.endOffset, sink, check, text, sizeof text, &at);
  if (!expanded && at.index < chain.records.size()) {
    *error = DescribeRecordFailure(chain.records[at.index], at, text);
    return false;
  }
  std::string structure = DescribeChainEnd(chain, size);
  if (!structure.empty()) {
    *error = structure;
    return false;
  }
  if (!expanded) {
    std::vector<uint8_t> again;
    VectorSink memory(&again, ListedExpansion(packed, size));
    expander->decoder = *before;
    PackCheck same;
    source.OpenMemory(packed, size);
    ExpandOnce(expander, &source, (uint32_t)chain.endOffset, &memory, &same, text, sizeof text, &at);
    *error = "damaged: " + DescribeCheckFailure(packed, chain.records, again, *check);
    return false;
  }
  if (note && chain.end == ChainEnd::Padding) *note = DescribePadding(chain, size);
  return true;
}

// Says what is wrong with a file too large to be read again whole, from
// what the stream found: the record that failed, or how the expansion
// differs from the check record (the file is then expanded again, from the
// state before it, to name the first record that differs).
void DescribeStreamed(PackExpander* expander, const DecoderState& before, PackedSource* source,
                      const PackCheck& check, const char* text, const RecordPosition& at,
                      std::string* error) {
  if (!(check.present && at.offset >= source->Size())) {
    *error = "record " + std::to_string(at.index) + " at offset " + std::to_string(at.offset) + ": " + text;
    return;
  }
  *error = "damaged: " + CheckFailureReason(check);
  std::vector<uint32_t> listed;
  std::string ignored;
  if (check.listedRecords == 0 || !ReadListedCrcs(source, &listed, &ignored) || !source->Rewind(&ignored)) {
    return;
  }
  RecordCrcSink crcs(listed);
  expander->decoder = before;
  PackCheck same;
  char again[256];
  RecordPosition where = {0, 0};
  ExpandOnce(expander, source, source->Size(), &crcs, &same, again, sizeof again, &where);
  if (crcs.FirstDiffering() >= 0) {
    uint32_t record = (uint32_t)crcs.FirstDiffering() + 1;  // after the check record
    *error += "; record " + std::to_string(record) + " at offset " +
              std::to_string(RecordOffset(source, record, &ignored)) + " is the first that differs";
  }
}

}  // namespace

bool ExpandPackFile(PackExpander* expander, PackedSource* source, ExpansionSink* sink, PackCheck* check,
                    std::string* error, std::string* note) {
  // The bytes are gone once handed on: the file is expanded again, from the
  // state before it, only to say what is wrong with it.
  std::unique_ptr<DecoderState> before(new DecoderState(expander->decoder));
  CountingSink streamed(sink);
  char text[256];
  RecordPosition at = {0, 0};
  bool expanded = ExpandOnce(expander, source, source->Size(), &streamed, check, text, sizeof text, &at);
  // A last record header cut short after its magic reads as an empty record
  // (the bytes past the end read as zero), and a file expands so, as
  // setup.exe expands it; a pack file held whole is judged by its record
  // chain as well, which says it is cut.
  if (expanded && !(source->InMemory() && source->RanShort())) return true;
  if (!source->ReadError().empty()) {
    *error = source->ReadError();
    return false;
  }
  const uint8_t* whole = source->Memory();
  if (!whole && source->Size() > WholeReadAfterFailureLimit) {
    DescribeStreamed(expander, *before, source, *check, text, at, error);
    if (!source->ReadError().empty()) *error = source->ReadError();
    return false;
  }
  if (!whole) {
    if (!source->ReadWhole()) {
      *error = source->ReadError();
      return false;
    }
    whole = source->Whole().data();
  }
  expander->decoder = *before;
  CountingSink again(nullptr);
  if (!ExpandWhole(expander, whole, source->Size(), &again, check, error, note)) return false;
  if (again.Count() != streamed.Count()) {
    *error = "expanded to other bytes when read again (did it change while it was read?)";
    return false;
  }
  return true;
}

bool ExpandPackFile(PackExpander* expander, const std::vector<uint8_t>& packed, ExpansionSink* sink,
                    PackCheck* check, std::string* error, std::string* note) {
  PackedSource source;
  source.OpenMemory(packed);
  return ExpandPackFile(expander, &source, sink, check, error, note);
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
