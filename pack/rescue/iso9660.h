// ISO 9660 disc images read as files: no mounting, no root. Names come from
// the Joliet tree when the image has one, else from the primary tree.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "platform/file_io.h"
#include "rescue/image_bytes.h"

// Paths are kept as a tree, each folder naming its parent, so that memory
// follows the bytes of the image's directories however deep they nest.
struct IsoFolder {
  size_t parent;  // index in IsoImage::folders (the root is its own parent)
  std::string name;
};

struct IsoFile {
  size_t folder;     // index in IsoImage::folders
  std::string name;  // in its folder
  uint64_t offset;   // of its bytes in the file (or the bytes) that hold the image
  uint64_t size;
  uint64_t held;  // of its bytes, the image holds: less than size in an image that was cut
};

struct IsoImage {
  std::vector<IsoFolder> folders;  // the root first
  std::vector<IsoFile> files;      // in the order of their directories
  // "SETUP/DISK1" ("" for the root), "SETUP/DISK1/INSTALL.SC_": "/"-separated,
  // without a leading "/".
  std::string PathOf(size_t folder) const;
  std::string PathOf(const IsoFile& file) const;
};

// True when the bytes at base of file begin an ISO 9660 image.
bool IsIsoImage(FileReader* file, uint64_t base, uint64_t size);
bool IsIsoImage(ImageBytes* image);

// The folders and regular files of the image at base (size bytes). False,
// with *error, when its directories cannot be read.
bool ReadIsoImage(FileReader* file, uint64_t base, uint64_t size, IsoImage* image, std::string* error);

// The same for an image read through bytes of its own (the user data of a
// raw CD's sectors): offsets are in those bytes. *joliet: the names came
// from the Joliet tree.
bool ReadIsoImage(ImageBytes* image, IsoImage* listing, bool* joliet, std::string* error);
