// Expands one compressed block of a pack file.
//
// Portable: no platform headers, no allocation, no exceptions. The decoder's
// state is one struct; the token ring in it lives across blocks and files, so
// every block of a set of pack files must pass through the same state, in the
// order in which the files are expanded.
#pragma once

#include <stdint.h>

#include "code_tree.h"
#include "pack_format.h"

struct DecoderState {
  CodeTree tree;
  // The positions of the walk to the last symbol's leaf, root first: the
  // update climbs them again without the parent links.
  TreeEntry path[NodeCount];
  // Token history. Starts as all zeros and is never cleared; a block's first
  // token goes to index 0 whatever the previous block left.
  uint32_t TokenRing[RingSize];
};

// Result flags. A block that raises either flag is damaged: its bytes are not
// to be trusted, although every symbol it carried out stored its tokens.
enum DecodeResult {
  DecodeOk = 0,
  // The block's symbols took bits beyond its packed bytes (which read as 0).
  DecodeInputOverrun = 1,
  // The expansion, with the overshoot of its last symbol, passed the
  // BlockBufferSize bytes of the output buffer; the excess was dropped.
  DecodeOutputOverflow = 2,
};

// Resets a state to the one a process starts with: an all-zero ring. (A
// zero-initialised static DecoderState starts that way too.)
void ResetDecoderState(DecoderState* state);

// Expands `packedSize` bytes of `input` until at least `expandedSize` bytes
// are produced. `output` must hold BlockBufferSize bytes; the block's last
// symbol may write past `expandedSize` (those bytes are not part of the file).
// An `expandedSize` above BlockBufferSize decodes nothing and returns
// DecodeOutputOverflow. Returns a combination of DecodeResult flags.
uint32_t DecodeBlock(DecoderState* state, uint8_t* output, uint32_t expandedSize, const uint8_t* input,
                     uint32_t packedSize);
