// Packing a file as it is read, on every core, into memory that does not
// grow with the file.
//
// The input is cut into segments (PackSegmentSize) that are packed apart, by
// as many threads as asked for; the bytes are the same for any number of
// threads, since what a segment packs to depends on its data alone (and, for
// the first segment of a file, on the ring the files before it left).
//
// Bounds: each thread holds two segments in flight (its input and its
// records, 1 MiB each) and its encoder's work buffers (about 2.5 MB), so
// about 5 MB per thread; the records wait for the check record, which goes
// in front of them, in at most 16 MiB of memory and beyond that in a
// scratch file.
#pragma once

#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "encode/encoder.h"

// Where a file to pack comes from: Read returns false with *error on a read
// error, and *got = 0 at the end.
class PackInput {
 public:
  virtual bool Read(uint8_t* buffer, size_t size, size_t* got, std::string* error) = 0;

 protected:
  ~PackInput() = default;
};

// A file to pack held whole in memory, handed out at most largestRead
// bytes at a time (the tests give pipe-like short reads that way).
class MemoryInput final : public PackInput {
 public:
  explicit MemoryInput(const std::vector<uint8_t>& data, size_t largestRead = SIZE_MAX)
      : data_(data), largestRead_(largestRead) {}
  bool Read(uint8_t* buffer, size_t size, size_t* got, std::string*) override {
    *got = std::min({size, data_.size() - at_, largestRead_});
    memcpy(buffer, data_.data() + at_, *got);
    at_ += *got;
    return true;
  }

 private:
  const std::vector<uint8_t>& data_;
  size_t largestRead_;
  size_t at_ = 0;
};

// Where the packed file goes, in order.
class PackOutput {
 public:
  virtual bool Write(const uint8_t* data, size_t size, std::string* error) = 0;

 protected:
  ~PackOutput() = default;
};

struct PackStreamOptions {
  std::string inputName;  // for messages
  unsigned threads = 1;   // at least 1
  bool withCheck = true;
  // Where records may wait in a scratch file ("" for the system's folder of
  // temporary files): on the destination's disk, so that a full disk fails
  // the pack and leaves nothing there.
  std::string scratchFolder;
  // Called with the bytes read and packed so far (from the calling thread).
  void (*progress)(void* context, uint64_t done) = nullptr;
  void* progressContext = nullptr;
};

struct PackStreamResult {
  uint32_t crc = 0;  // CRC-32 of the input
  uint64_t expandedSize = 0;
  uint64_t packedSize = 0;
};

// The number of threads "-T 0" stands for: the processors there are.
unsigned AllProcessors();

// Packs what input gives into output through state (its ring continues from
// the files packed before, and is left as the decoder will leave it). False
// with *error when input or output fails, or the input reaches 4 GiB.
bool PackStream(EncoderState* state, PackInput* input, PackOutput* output, const PackStreamOptions& options,
                PackStreamResult* result, std::string* error);
