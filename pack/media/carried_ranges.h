// Where the pack files a program carries (media --single-file) lie in its
// file, read from its image alone: scan finds such programs in any file
// without reading what they carry into memory.
#pragma once

#include <stdint.h>

#include "file_io.h"

struct CarriedRange {
  uint64_t offset;  // in the file, after base
  uint64_t length;  // what the seal says, cut to what the file holds
};

// True when the size bytes at base of file are a setup.exe of ours, sealed
// for two pack files it carries; ranges[0] the script's, ranges[1] the
// installer's.
bool FindCarriedPackFiles(FileReader* file, uint64_t base, uint64_t size, CarriedRange ranges[2]);
