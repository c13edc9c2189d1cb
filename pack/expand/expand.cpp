#include "expand/expand.h"

#include <string.h>

#include "check_record.h"
#include "crc32.h"
#include "platform/size_limit.h"
#include "record_reader.h"

PackedSource::PackedSource() = default;
PackedSource::~PackedSource() = default;

bool PackedSource::Open(const std::string& path, bool hashed, std::string* error) {
  name_ = DisplayName(path, true);
  if (!file_.Open(path, error)) return false;
  if (hashed) hasher_.reset(new SealHasher());
  hashing_ = hashed;
  if (file_.SizeKnown()) {
    size_ = (uint32_t)file_.Size();
    return true;
  }
  // A pipe: its bytes are put aside, and its size is then known.
  ownScratch_.reset(new ScratchFile());
  scratch_ = ownScratch_.get();
  if (!scratch_->Open("", error)) return false;
  std::vector<uint8_t> buffer(1 << 20);
  uint64_t total = 0;
  for (;;) {
    size_t got = 0;
    if (!file_.Read(buffer.data(), buffer.size(), &got, error)) return false;
    if (got == 0) break;
    total += got;
    if (total >= SizeLimit()) {
      *error = name_ + ": 4 GiB or larger (pack files measure sizes in 32 bits)";
      return false;
    }
    if (hasher_) hasher_->Add(buffer.data(), got);
    if (!scratch_->Append(buffer.data(), got, error)) return false;
  }
  size_ = (uint32_t)total;
  if (hasher_) seal_ = hasher_->Finish();
  hashing_ = false;
  return scratch_->Rewind(error);
}

bool PackedSource::OpenScratch(ScratchFile* scratch, uint64_t size, std::string* error) {
  name_ = "the packed copy";
  scratch_ = scratch;
  size_ = (uint32_t)size;
  return scratch_->Rewind(error);
}

bool PackedSource::Rewind(std::string* error) {
  at_ = 0;
  // Only the first reading is hashed.
  hashing_ = false;
  if (scratch_) return scratch_->Rewind(error);
  return file_.Rewind(error);
}

bool PackedSource::ReadMore(uint8_t* buffer, size_t size, size_t* got) {
  return scratch_ ? scratch_->Read(buffer, size, got, &readError_)
                  : file_.Read(buffer, size, got, &readError_);
}

uint32_t PackedSource::Read(uint8_t* buffer, uint32_t size) {
  uint32_t done = 0;
  while (done < size && readError_.empty()) {
    size_t got = 0;
    if (!ReadMore(buffer + done, size - done, &got) || got == 0) break;
    done += (uint32_t)got;
  }
  at_ += done;
  if (hashing_) {
    hasher_->Add(buffer, done);
    if (at_ >= size_) {
      seal_ = hasher_->Finish();
      hashing_ = false;
    }
  }
  return done;
}

namespace {

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

bool ExpandOnce(PackExpander* expander, PackedSource* source, ExpansionSink* sink, PackCheck* check,
                char* text, size_t textSize, RecordPosition* at) {
  SourceIo context = {source, sink};
  RecordIo io = {&context, SourceRead, SinkWrite, nullptr};
  return ReadRecords(&expander->decoder, &io, source->Size(), expander->input.get(), expander->output.get(),
                     nullptr, text, (uint32_t)textSize, at, check) != 0;
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

}  // namespace

bool ExpandPackSource(PackExpander* expander, PackedSource* source, ExpansionSink* sink, PackCheck* check,
                      std::string* error) {
  // The bytes are gone once handed on: the file is expanded again, from the
  // state before it, only to say where a failed check differs.
  std::unique_ptr<DecoderState> before(new DecoderState(expander->decoder));
  char text[256];
  RecordPosition at = {0, 0};
  if (ExpandOnce(expander, source, sink, check, text, sizeof text, &at)) return true;
  if (!source->ReadError().empty()) {
    *error = source->ReadError();
    return false;
  }
  if (!(check->present && at.offset >= source->Size())) {
    *error = "record " + std::to_string(at.index) + " at offset " + std::to_string(at.offset) + ": " + text;
    return false;
  }
  *error = "damaged: " + CheckFailureReason(*check);
  std::vector<uint32_t> listed;
  std::string ignored;
  if (check->listedRecords == 0 || !ReadListedCrcs(source, &listed, &ignored) || !source->Rewind(&ignored)) {
    return false;
  }
  RecordCrcSink crcs(listed);
  expander->decoder = *before;
  PackCheck same;
  ExpandOnce(expander, source, &crcs, &same, text, sizeof text, &at);
  if (crcs.FirstDiffering() >= 0) {
    uint32_t record = (uint32_t)crcs.FirstDiffering() + 1;  // after the check record
    *error += "; record " + std::to_string(record) + " at offset " +
              std::to_string(RecordOffset(source, record, &ignored)) + " is the first that differs";
  }
  return false;
}
