// Chains of records inside any file (a disc or disk image, a program that
// carries its pack files, pack files copied back to back), walked once from
// their first header: where each ends, and where each pack file in it
// begins. A check record is always the first record of its pack file, so
// one that follows other records begins the next file.
#pragma once

#include <stdint.h>

#include <vector>

#include "rescue/image_bytes.h"

struct WalkedChain {
  uint64_t end = 0;                  // the end of its last whole record (start: no whole record)
  std::vector<uint64_t> fileStarts;  // the first is the chain's start
};

// Walks the records from start in the size bytes at base of file, reading
// each header (and the first bytes of each compressed body) once: the time
// it takes follows the length of the chain.
WalkedChain WalkChain(ImageBytes* file, uint64_t base, uint64_t size, uint64_t start);

// The pack files of a walked chain, as (offset, length): each runs to the
// next one's start, the last to the chain's end, or to `last` when that is
// further (a file that begins with a record is one pack file to its end,
// padding, damage and all).
std::vector<std::pair<uint64_t, uint64_t>> PackFilesOf(const WalkedChain& chain, uint64_t last);
