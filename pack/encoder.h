// The packer's encoder: turns files into pack records that the block decoder
// expands exactly.
//
// Every compressed block the decoder sees passes through one token ring, in
// the order the files are expanded, so the encoder keeps a copy of that ring
// and must be given the files in the same order (script first, then installer).
//
// Parsing works on tokens, not bytes. Each block is first cut into canonical
// tokens (single bytes, and run tokens for long runs of one byte), and every
// token becomes exactly one ring entry however it is coded (literal, run
// symbol or part of a match). The ring position of every token, and so every
// match distance, is then independent of the parse, which makes an exact
// longest-match search and a shortest-path parse over the block possible.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "pack_format.h"

struct EncoderOptions {
  // Runs of at least this many equal bytes become run tokens.
  uint32_t runThreshold = 4;
  // Candidates examined per position by the match finder.
  uint32_t chainLimit = 256;
  // Cost-model refinements of the parse per block (at least 1).
  uint32_t parsePasses = 3;
  // Try ending blocks halfway as well, and keep what codes smaller (slower).
  bool splitBlocks = false;
};

// Marks the end of a compressed block in a symbol log.
static const uint16_t SymbolLogBlockEnd = 0xFFFF;

// The work buffers of EncodeBlock and PackBuffer, kept between blocks so that
// every block does not allocate them again. Nothing in them outlives one call.
struct EncoderScratch {
  std::vector<uint32_t> tokens, window, cost;
  std::vector<int32_t> head, prev;
  std::vector<uint8_t> longest, step, choice;
  std::vector<uint16_t> distance;
  std::vector<uint8_t> body;  // PackBuffer's block before it is stored or written
};

struct EncoderState {
  uint32_t TokenRing[RingSize] = {};  // what the decoder's ring holds now
  EncoderOptions options;
  EncoderScratch scratch;
  // When set, PackBuffer appends every symbol of every compressed record it
  // writes, each record's followed by SymbolLogBlockEnd (for measurements).
  std::vector<uint16_t>* symbolLog = nullptr;
};

// Sizes of one record as written.
struct RecordInfo {
  uint32_t packedSize;  // 0 for a stored record
  uint32_t expandedSize;
};

// Packs size bytes of data into records appended to out, through state.
// Calls progress(bytesDone, size) after every block when it is not null.
void PackBuffer(EncoderState* state, const uint8_t* data, size_t size, std::vector<uint8_t>* out,
                std::vector<RecordInfo>* records, void (*progress)(size_t done, size_t total));

// Packs a whole file: as PackBuffer, after a check record (check_record.h)
// that names the file's size and CRC-32 and the CRC-32 of each record, unless
// withCheck is false.
void PackFile(EncoderState* state, const uint8_t* data, size_t size, bool withCheck,
              std::vector<uint8_t>* out, void (*progress)(size_t done, size_t total));

// Encodes a block of at most `size` (<= BlockBufferSize) bytes of data as a
// compressed body appended to packed, and advances the ring as the decoder
// would. Returns the number of bytes the block covers: fewer than `size`
// when it ends on a whole ring turn (unless isLast). PackBuffer decides
// between this and a stored record.
uint32_t EncodeBlock(EncoderState* state, const uint8_t* data, uint32_t size, bool isLast,
                     std::vector<uint8_t>* packed);
