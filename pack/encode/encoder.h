// The packer's encoder: turns files into pack records that the block decoder
// expands exactly.
//
// encode/ holds the encoder and the segments it packs on a pool of threads,
// handed back in order (segments.h); it uses the format (unpack/) and
// platform/ only.
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

// A ring entry whose token the encoder does not know: one left by a stretch
// of the input packed apart (see PackSegmentSize). No token equals it, so no
// match ever copies it.
static const uint32_t UnknownToken = 0xFFFFFFFFu;

// The input is packed in segments of this many bytes (the last of a file may
// be shorter), each of which can be packed apart from the others: a segment
// after the first of a file starts with a ring of UnknownToken, ends its last
// block where the segment ends, and so copies nothing from before it. The
// packed bytes then depend on the data alone, not on how many threads pack
// the segments. Changing the value changes what the packer writes (not what
// readers accept).
static const size_t PackSegmentSize = (size_t)1 << 20;

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
  uint32_t crc;  // CRC-32 of the record's expansion
};

// Packs one segment (at most PackSegmentSize bytes) into records appended to
// out, from the ring state->TokenRing holds (UnknownToken where it is not
// known), and leaves in it the ring after the segment, UnknownToken where the
// segment wrote nothing and the ring was not known.
void PackSegment(EncoderState* state, const uint8_t* data, size_t size, std::vector<uint8_t>* out,
                 std::vector<RecordInfo>* records);

// The ring after a segment: what the segment wrote (segmentRing's known
// entries) over what the ring held before it.
void ContinueRing(uint32_t* ring, const uint32_t* segmentRing);

// Appends a check record for a file of size bytes, of CRC-32 crc, made of
// the given records (it lists their CRCs when they fit).
void AppendCheckRecord(std::vector<uint8_t>* out, uint64_t size, uint32_t crc,
                       const std::vector<RecordInfo>& records);

// Packs size bytes of data into records appended to out, through state,
// segment by segment as PackSegment does (the first continues the ring the
// state holds). Calls progress(bytesDone, size) after every block when it is
// not null.
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
