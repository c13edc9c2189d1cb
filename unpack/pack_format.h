// Constants of the pack file format: the record layout and the block code.
// Everything here is part of the file format; changing a value changes what
// existing media expand to.
#pragma once

#include <stdint.h>

// Every integer of the format is little-endian.
static inline uint32_t ReadLE32(const uint8_t* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
static inline void WriteLE32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = (uint8_t)(value >> (8 * i));
}

// Records: a 16-byte header, then the body.
static const char PackMagic[8] = {'P', 'A', 'C', 'K', 'D', 'A', 'T', '$'};
static const uint32_t PackHeaderSize = 16;
static const uint32_t PackMagicSize = 8;

// Both working buffers of the unpacker hold exactly this much; every record's
// packed and expanded size, and the overshoot of a block's last symbol, must
// fit in it.
static const uint32_t BlockBufferSize = 0xF800;  // 63,488

// The adaptive code: 314 symbols, a tree of 627 node positions.
static const uint32_t SymbolCount = 314;
static const uint32_t NodeCount = 2 * SymbolCount - 1;  // 627
static const uint32_t RootNode = NodeCount - 1;         // 626
static const uint32_t RebuildLimit = 0xF000;            // root frequency that triggers a rebuild

// Symbols 0-255 are literals, 256-312 matches of 3-59 tokens, 313 a run.
static const uint32_t FirstMatchSymbol = 256;
static const uint32_t RunSymbol = 313;
static const uint32_t MinMatchTokens = 3;
static const uint32_t MaxMatchTokens = 59;    // RunSymbol - 1 - 253
static const uint32_t MatchSymbolBias = 253;  // length = symbol - 253

// Runs: the count symbol n (0-313) writes n + 3 bytes.
static const uint32_t MinRunBytes = 3;
static const uint32_t MaxRunBytes = 316;

// The token history: a ring of 4096 tokens addressed by a 12-bit distance.
static const uint32_t RingSize = 4096;
static const uint32_t RingMask = RingSize - 1;
static const uint32_t DistanceBits = 12;

// A token holds a byte value in bits 0-7 and a count field above; a count field
// c != 0 stands for c + 3 copies of the byte, 0 for a single byte.
static inline uint32_t TokenByte(uint32_t token) { return token & 0xFF; }
static inline uint32_t TokenCount(uint32_t token) { return token >> 8; }
static inline uint32_t TokenLength(uint32_t token) {
  return TokenCount(token) == 0 ? 1 : TokenCount(token) + 3;
}
