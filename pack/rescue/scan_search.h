// Finding pack files anywhere: in folder trees, disc images and any other
// file. Every place a find can come from yields the same thing, a Find, so
// that a new kind of place (a file system inside an image, a setup program
// that carries its pack files) adds a reader and nothing else.
#pragma once

#include <stdint.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_io.h"

// Bytes of a file that holds them: a file of its own, a file inside a disc
// image, a chain of records inside another file. A file of a folder is
// opened when it is first read, so that a folder of thousands of files does
// not hold them all open.
struct ByteRange {
  std::string path;                  // the file the bytes lie in, opened when file is not open yet
  std::shared_ptr<FileReader> file;  // the open file
  uint64_t offset;
  uint64_t size;

  bool Open(std::string* error) {
    if (file) return true;
    file.reset(new FileReader());
    if (!file->Open(path, error)) return false;
    size = file->Size();
    return true;
  }
};

// One pack file found: where it lies, and its bytes.
struct FoundPackFile {
  std::string where;  // as the listing shows it
  std::string name;   // its own name (or "at-OFFSET" inside another file)
  ByteRange bytes;
};

// A find: media (a script and an installer, in the launcher's order), two
// chains of records inside one file of which the second continues the
// first's decoder history, or one pack file on its own.
enum class FindKind { Media, ChainedPair, PackFile };
struct Find {
  FindKind kind;
  std::string where;
  std::vector<FoundPackFile> files;
};

// Whether name is wanted, in any letter case.
bool NameIs(const std::string& name, const char* wanted);

// Reads the bytes of range whole (fails for 4 GiB or more).
bool ReadRange(ByteRange range, std::vector<uint8_t>* data, std::string* error);

// Walks the folder trees, disc images and files of paths, in order, and
// hands every find to onFind as it is made (its files are closed again once
// it is handled). *problems: what could not be read; *found: the finds.
void ScanPaths(const std::vector<std::string>& paths, const std::function<void(const Find&)>& onFind,
               std::vector<std::string>* problems, size_t* found);
