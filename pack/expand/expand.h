// Expanding a pack file as it is read, into memory that does not grow with
// the file: the record loop's two buffers and a block of the file at a time.
// A regular file is read where it is; standard input and other pipes are put
// aside in a nameless scratch file first (in $TMPDIR or /tmp), since a file
// that fails its check is read again to name the first record that differs.
#pragma once

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "expand/records.h"
#include "media/seal_image.h"

class PackedSource {
 public:
  PackedSource();
  ~PackedSource();
  // Refuses a file of 4 GiB or more (a regular file before reading it).
  // With hashed, Seal() gives the length and SHA-256 of the file.
  bool Open(const std::string& path, bool hashed, std::string* error);
  // Reads a pack file of size bytes from a scratch file that stays the caller's.
  bool OpenScratch(ScratchFile* scratch, uint64_t size, std::string* error);
  uint32_t Size() const { return size_; }
  bool Rewind(std::string* error);
  // As the record loop reads: up to size bytes, fewer only at the end or on
  // a read error (kept in ReadError()).
  uint32_t Read(uint8_t* buffer, uint32_t size);
  const std::string& ReadError() const { return readError_; }
  const std::string& Name() const { return name_; }
  // Of every byte of the file, once it has been read to its end.
  SealedPackFile Seal() const { return seal_; }

 private:
  bool ReadMore(uint8_t* buffer, size_t size, size_t* got);
  std::string name_;
  SourceFile file_;
  std::unique_ptr<ScratchFile> ownScratch_;  // a pipe's bytes
  ScratchFile* scratch_ = nullptr;           // what is read, when not the file
  uint32_t size_ = 0;
  uint64_t at_ = 0;
  bool hashing_ = false;
  std::unique_ptr<SealHasher> hasher_;
  SealedPackFile seal_ = {};
  std::string readError_;
};

// ExpandPackFile (pack_files.h) for a file read as it expands: the same
// checks and the same messages.
bool ExpandPackSource(PackExpander* expander, PackedSource* source, ExpansionSink* sink, PackCheck* check,
                      std::string* error);
