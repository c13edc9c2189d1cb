// ISO 9660 disc images read as files: no mounting, no root. Names come from
// the Joliet tree when the image has one, else from the primary tree.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "platform/file_io.h"

struct IsoFile {
  std::string path;  // inside the image, "/"-separated, without a leading "/"
  uint64_t offset;   // of its bytes in the file that holds the image
  uint64_t size;
};

// True when the bytes at base of file begin an ISO 9660 image.
bool IsIsoImage(FileReader* file, uint64_t base, uint64_t size);

// The regular files of the image at base (size bytes), in the order of its
// directories. False, with *error, when its directories cannot be read.
bool ReadIsoImage(FileReader* file, uint64_t base, uint64_t size, std::vector<IsoFile>* files,
                  std::string* error);
