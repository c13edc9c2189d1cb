// Any bytes as a pack file through the record loop, with a fresh decoder
// state: no read or write outside the buffers, every failure with a message,
// a success only when the records account for the whole file, and the same
// outcome as a plain model of the format (the reference decoder, zlib's
// CRC-32): the bytes written, the failing record, the kind of failure and
// what the check record said.
//
// Input: one option byte, then the pack file.
//   bit 0  the target rewrites the first record's own CRC-32 when it is a
//          check record, so that mutations of its fields get past it
//   bit 1  the target also writes into it the size and CRC-32 of what the
//          data records expand to, so that mutated files can pass the check
//   bits 2-3  progress: 0 to 100, none, a range the loop replaces (40 to 20),
//          a zero target
//   bit 4  no failing record and no check asked for
//   bits 5-7  w: the destination takes (w - 1) * 1000 bytes and then no more
//          (w = 0: all)
// Before anything reads the file, a compressed record's expanded size is held
// to 8 bytes per packed byte (a literal for every bit) plus 64: the work of an
// input follows its length.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "check_record.h"
#include "record_reader.h"
#include "reference_decoder.h"

namespace {

const uint32_t BytesPerPackedByte = 8;
const uint32_t BytesForAnyRecord = 64;

enum Outcome {
  Ok,
  HeaderError,
  SizeError,
  ReadError,
  BlockDamaged,
  CheckNotFirst,
  CheckExpandedSize,
  CheckUnknownVersion,
  CheckDamaged,
  CheckMismatch,
  WriteError,
};

struct Result {
  Outcome outcome = Ok;
  RecordPosition at = {0, 0};
  std::vector<uint8_t> written;
  PackCheck check = PackCheck();
};

// zlib's CRC-32 of size bytes after crc (zlib takes a null pointer for a
// request of its initial value, so none is passed).
uint32_t ZlibCrc(uint32_t crc, const uint8_t* data, size_t size) {
  return size == 0 ? crc : (uint32_t)crc32(crc, data, (uInt)size);
}

// The record loop as the format describes it, step by step, writing to a
// destination that takes `room` bytes.
Result Model(const std::vector<uint8_t>& file, size_t room) {
  Result r;
  auto decoder = std::make_unique<ReferenceDecoder>();
  PackCheck& c = r.check;
  uint64_t at = 0;
  uint32_t index = 0;
  for (; at < file.size(); ++index) {
    r.at = {index, (uint32_t)at};
    uint8_t header[PackHeaderSize] = {0};
    memcpy(header, file.data() + at, std::min<size_t>(PackHeaderSize, file.size() - at));
    at += PackHeaderSize;
    if (memcmp(header, PackMagic, PackMagicSize) != 0) return r.outcome = HeaderError, r;
    uint32_t packedSize = ReadLE32(header + 8), expandedSize = ReadLE32(header + 12);
    if (packedSize > BlockBufferSize || expandedSize > BlockBufferSize) return r.outcome = SizeError, r;
    uint64_t left = file.size() > at ? file.size() - at : 0;
    const uint8_t* body = file.data() + at;
    std::vector<uint8_t> out;
    if (packedSize == 0) {
      if (left < expandedSize) return r.outcome = ReadError, r;
      out.assign(body, body + expandedSize);
      at += expandedSize;
    } else {
      if (left < packedSize) return r.outcome = ReadError, r;
      at += packedSize;
      if (packedSize >= 8 && memcmp(body, "PACKCHK\x1A", 8) == 0) {
        if (index != 0) return r.outcome = CheckNotFirst, r;
        if (expandedSize != 0) return r.outcome = CheckExpandedSize, r;
        if (packedSize < 32 || ZlibCrc(0, body, packedSize - 4) != ReadLE32(body + packedSize - 4)) {
          return r.outcome = CheckDamaged, r;
        }
        if (ReadLE32(body + 8) != 1) return r.outcome = CheckUnknownVersion, r;
        uint32_t listed = ReadLE32(body + 12);
        if (32 + 4 * (uint64_t)listed != packedSize) return r.outcome = CheckDamaged, r;
        c.present = 1;
        c.listedRecords = listed;
        c.expectedSize = ReadLE32(body + 16) | (uint64_t)ReadLE32(body + 20) << 32;
        c.expectedCrc = ReadLE32(body + 24);
        continue;
      }
      out = decoder->Decode(body, packedSize, expandedSize);
      if (decoder->Consumed() > 8 * packedSize || out.size() > BlockBufferSize)
        return r.outcome = BlockDamaged, r;
      out.resize(expandedSize);
    }
    if (room - r.written.size() < out.size()) {
      r.written.insert(r.written.end(), out.begin(), out.begin() + (room - r.written.size()));
      return r.outcome = WriteError, r;
    }
    r.written.insert(r.written.end(), out.begin(), out.end());
    c.expandedSize += expandedSize;
    c.dataRecords += 1;
    if (c.present) c.expandedCrc = ZlibCrc(c.expandedCrc, out.data(), out.size());
  }
  if (c.present && (c.expandedSize != c.expectedSize || c.expandedCrc != c.expectedCrc ||
                    (c.listedRecords != 0 && c.listedRecords != c.dataRecords))) {
    r.at = {index, (uint32_t)at};
    r.outcome = CheckMismatch;
  }
  return r;
}

Outcome FromMessage(const char* text) {
  static const struct {
    const char* prefix;
    Outcome outcome;
  } kinds[] = {
      {"Pack data header error", HeaderError},
      {"Pack record size error", SizeError},
      {"Read source error", ReadError},
      {"Pack data damaged", BlockDamaged},
      {"Pack check record error (not the first record)", CheckNotFirst},
      {"Pack check record error (expanded size", CheckExpandedSize},
      {"Pack check record error (layout version", CheckUnknownVersion},
      {"Pack check record error (damaged)", CheckDamaged},
      {"Pack check error", CheckMismatch},
      {"Write dest error", WriteError},
  };
  for (const auto& kind : kinds) {
    if (strncmp(text, kind.prefix, strlen(kind.prefix)) == 0) return kind.outcome;
  }
  abort();  // a message of no known kind
}

// Holds each compressed record's expanded size to BytesPerPackedByte per
// packed byte, walking the records as the loop will.
void BoundExpansion(std::vector<uint8_t>* file) {
  for (size_t at = 0; at + PackHeaderSize <= file->size();) {
    uint8_t* header = file->data() + at;
    if (memcmp(header, PackMagic, PackMagicSize) != 0) return;
    uint32_t packedSize = ReadLE32(header + 8), expandedSize = ReadLE32(header + 12);
    if (packedSize > BlockBufferSize || expandedSize > BlockBufferSize) return;
    uint32_t limit = BytesPerPackedByte * packedSize + BytesForAnyRecord;
    if (packedSize != 0 && expandedSize > limit) WriteLE32(header + 12, limit);
    at += PackHeaderSize + (packedSize != 0 ? packedSize : expandedSize);
  }
}

// The first record's body when it is a check record whole enough to carry
// its own CRC-32, else null.
uint8_t* CheckBody(std::vector<uint8_t>* file, uint32_t* size) {
  if (file->size() < PackHeaderSize || memcmp(file->data(), PackMagic, PackMagicSize) != 0) return nullptr;
  *size = ReadLE32(file->data() + 8);
  if (*size < CheckFixedSize || *size > file->size() - PackHeaderSize) return nullptr;
  uint8_t* body = file->data() + PackHeaderSize;
  return IsCheckRecordBody(body, *size) ? body : nullptr;
}

void Reseal(std::vector<uint8_t>* file) {
  uint32_t size;
  if (uint8_t* body = CheckBody(file, &size)) WriteLE32(body + size - 4, ZlibCrc(0, body, size - 4));
}

struct Source {
  const std::vector<uint8_t>* file;
  size_t at;
  std::vector<uint8_t> written;
  size_t room;
  uint32_t pumps;
};

uint32_t Read(void* c, uint8_t* buffer, uint32_t size) {
  Source* s = static_cast<Source*>(c);
  size_t n = std::min<size_t>(s->file->size() - s->at, size);
  memcpy(buffer, s->file->data() + s->at, n);
  s->at += n;
  return (uint32_t)n;
}

uint32_t Write(void* c, const uint8_t* buffer, uint32_t size) {
  Source* s = static_cast<Source*>(c);
  uint32_t n = (uint32_t)std::min<size_t>(s->room - s->written.size(), size);
  s->written.insert(s->written.end(), buffer, buffer + n);
  return n;
}

void Pump(void* c) { static_cast<Source*>(c)->pumps += 1; }

// The progress callback has no context: the range it must report in and the
// last value reported, set for every input.
int32_t lastProgress, progressEnd;

void Progress(uint32_t target, int32_t value) {
  if (target != 1 || value < lastProgress || value > progressEnd) abort();
  lastProgress = value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  uint8_t options = data[0];
  std::vector<uint8_t> file(data + 1, data + size);
  BoundExpansion(&file);
  if (options & 3) Reseal(&file);
  if (options & 2) {
    Result first = Model(file, SIZE_MAX);
    uint32_t bodySize;
    uint8_t* body = CheckBody(&file, &bodySize);
    if (first.check.present && body) {
      WriteLE32(body + 16, (uint32_t)first.check.expandedSize);
      WriteLE32(body + 20, (uint32_t)(first.check.expandedSize >> 32));
      WriteLE32(body + 24, first.check.expandedCrc);
      Reseal(&file);
    }
  }
  uint32_t rooms = options >> 5;
  size_t room = rooms == 0 ? SIZE_MAX : (rooms - 1) * 1000;
  Result expect = Model(file, room);

  std::unique_ptr<DecoderState> decoder(new DecoderState);
  ResetDecoderState(decoder.get());
  std::unique_ptr<uint8_t[]> input(new uint8_t[BlockBufferSize]());
  std::unique_ptr<uint8_t[]> output(new uint8_t[BlockBufferSize]());
  Source source = {&file, 0, {}, room, 0};
  RecordIo io = {&source, Read, Write, Pump};
  static const RecordProgress progresses[4] = {
      {1, Progress, 0, 100}, {0, nullptr, 0, 0}, {1, Progress, 40, 20}, {0, Progress, 0, 100}};
  const RecordProgress* progress = &progresses[(options >> 2) & 3];
  lastProgress = progress->start;
  progressEnd = progress->end > progress->start ? progress->end : progress->start + 100;
  bool asked = (options & 0x10) == 0;
  char error[256] = "";
  RecordPosition at = {0, 0};
  PackCheck check = PackCheck();
  int ok = ReadRecords(decoder.get(), &io, (uint32_t)file.size(), input.get(), output.get(),
                       progress->callback ? progress : nullptr, error, sizeof error, asked ? &at : nullptr,
                       asked ? &check : nullptr);

  if (!ok && error[0] == '\0') abort();        // a failure always says why
  if (ok && source.at < file.size()) abort();  // success consumed the whole file
  if ((ok ? Ok : FromMessage(error)) != expect.outcome) abort();
  if (source.written != expect.written) abort();
  if (!asked) return 0;
  if (!ok && (at.index != expect.at.index || at.offset != expect.at.offset)) abort();
  const PackCheck& c = expect.check;
  if (check.present != c.present || check.listedRecords != c.listedRecords ||
      check.expectedSize != c.expectedSize || check.expectedCrc != c.expectedCrc ||
      check.expandedSize != c.expandedSize || check.expandedCrc != c.expandedCrc ||
      check.dataRecords != c.dataRecords) {
    abort();
  }
  return 0;
}
