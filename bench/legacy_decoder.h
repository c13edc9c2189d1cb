// The block decoder as it was before the faster one: 32-bit tree tables, a
// leaf-to-root update by the parent links, one bit at a time. Kept only as the
// benchmark's and the tests' yardstick; the product never links it.
#pragma once

#include <stdint.h>

#include "block_decoder.h"

namespace legacy {

struct CodeTree {
  uint32_t NodeFreq[NodeCount + 1];
  uint32_t NodeChild[NodeCount];
  uint32_t NodeParent[NodeCount + SymbolCount];
};

struct DecoderState {
  CodeTree tree;
  uint32_t TokenRing[RingSize];
};

void ResetDecoderState(DecoderState* state);

// As ::DecodeBlock, with the same result flags.
uint32_t DecodeBlock(DecoderState* state, uint8_t* output, uint32_t expandedSize, const uint8_t* input,
                     uint32_t packedSize);

}  // namespace legacy
