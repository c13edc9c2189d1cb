// Where the pack files a program carries (media --single-file) lie in its
// file, read from its image alone: scan finds such programs in any file
// without reading what they carry into memory.
#pragma once

#include <stdint.h>

#include "platform/file_io.h"

// True when the size bytes at base of file are a setup.exe of ours, sealed
// for two pack files it carries: offsets[0] and lengths[0] the script's
// (from base; the length cut to what the file holds), [1] the installer's.
bool FindCarriedPackFiles(FileReader* file, uint64_t base, uint64_t size, uint64_t offsets[2],
                          uint64_t lengths[2]);
