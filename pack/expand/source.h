// Where a pack file is read from as it expands: a file, a pipe put aside, a
// scratch file, or bytes in memory (a pack file held whole, or the range of
// a program that carries it). Memory does not grow with the file: the record
// loop takes a block of it at a time. Standard input and other pipes are put
// aside in a nameless scratch file first (in $TMPDIR or /tmp), since a file
// that fails is read again to say where.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/file_io.h"

// Sees every byte of a pack file once, in order, as it is first read (the
// seal's hash of it): End() once the last has been seen.
class PackedBytesWatcher {
 public:
  virtual void Watch(const uint8_t* data, size_t size) = 0;
  virtual void End() = 0;

 protected:
  ~PackedBytesWatcher() = default;
};

class PackedSource {
 public:
  PackedSource();
  ~PackedSource();
  // Refuses a file of 4 GiB or more (a regular file before reading it).
  // watcher (when not null) sees the bytes as they are first read.
  bool Open(const std::string& path, PackedBytesWatcher* watcher, std::string* error);
  // Reads a pack file of size bytes from a scratch file that stays the caller's.
  bool OpenScratch(ScratchFile* scratch, uint64_t size, std::string* error);
  // Reads the size bytes at data, which stay the caller's.
  void OpenMemory(const uint8_t* data, size_t size);
  void OpenMemory(const std::vector<uint8_t>& data) { OpenMemory(data.data(), data.size()); }

  uint32_t Size() const { return size_; }
  bool InMemory() const { return memory_ != nullptr; }
  const uint8_t* Memory() const { return memory_; }
  // Reading starts again at the beginning.
  bool Rewind(std::string* error);
  // As the record loop reads: up to size bytes, fewer only at the end or on
  // a read error (kept in ReadError()).
  uint32_t Read(uint8_t* buffer, uint32_t size);
  // Why the file could not be read, in full ("" while it could).
  const std::string& ReadError() const { return readError_; }
  // Reads the file again, whole, into Whole() (a failure: ReadError()).
  bool ReadWhole();
  const std::vector<uint8_t>& Whole() const { return whole_; }
  const std::string& Name() const { return name_; }
  // Whether a read asked for bytes past the end of the file.
  bool RanShort() const { return ranShort_; }

 private:
  bool ReadMore(uint8_t* buffer, size_t size, size_t* got);
  std::string name_;
  SourceFile file_;
  std::unique_ptr<ScratchFile> ownScratch_;  // a pipe's bytes
  ScratchFile* scratch_ = nullptr;           // what is read, when not the file
  const uint8_t* memory_ = nullptr;          // what is read, when in memory
  uint32_t size_ = 0;
  uint64_t at_ = 0;
  bool ranShort_ = false;
  PackedBytesWatcher* watcher_ = nullptr;  // while the file is first read
  std::string readError_;
  std::vector<uint8_t> whole_;
};
