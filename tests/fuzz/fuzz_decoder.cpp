// Compressed blocks through one fresh decoder state, in order, as a process
// expands them: the decoder must stay within its buffers and agree with the
// plain reference decoder on every byte, the ring, the code tree and the
// damage flags, block after block.
//
// Input: blocks, each a 4-byte head (expanded size, body length: 16 bits
// each, most significant byte first) and then its body; a body length past
// the end of the input takes the rest. Earlier blocks leave the ring that
// later ones copy from, so every input starts from the same all-zero ring.
//
// An expanded size is held to 8 bytes per body byte (a literal for every
// bit) plus 64: the work of an input follows its length, and a body of 7,928
// bytes can still ask for the whole buffer. A size above BlockBufferSize must
// be refused whole.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "block_decoder.h"
#include "reference_decoder.h"

namespace {

const uint32_t BytesPerBodyByte = 8;
const uint32_t BytesForAnyBody = 64;

uint32_t Head16(const uint8_t* p) { return (uint32_t)p[0] << 8 | p[1]; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Allocated once, since fresh memory costs ASan more than decoding a short
  // input, and set back for every input to a process's first state: an
  // all-zero ring (DecodeBlock resets the tree). Exactly sized heap buffers,
  // so that ASan sees any access past them.
  static DecoderState* const state = new DecoderState;
  static ReferenceDecoder* const reference = new ReferenceDecoder;
  static uint8_t* const output = new uint8_t[BlockBufferSize];
  ResetDecoderState(state);
  *reference = ReferenceDecoder();

  for (size_t at = 0; at + 4 <= size;) {
    uint32_t request = Head16(data + at);
    uint32_t packedSize = (uint32_t)std::min<size_t>(Head16(data + at + 2), size - at - 4);
    std::unique_ptr<uint8_t[]> packed(new uint8_t[packedSize]);
    memcpy(packed.get(), data + at + 4, packedSize);
    at += 4 + packedSize;

    if (request > BlockBufferSize) {
      if (DecodeBlock(state, output, request, packed.get(), packedSize) != DecodeOutputOverflow) {
        abort();
      }
      if (memcmp(reference->ring, state->TokenRing, sizeof state->TokenRing) != 0) abort();
      continue;
    }
    uint32_t expanded = std::min(request, BytesPerBodyByte * packedSize + BytesForAnyBody);
    uint32_t result = DecodeBlock(state, output, expanded, packed.get(), packedSize);
    std::vector<uint8_t> expect = reference->Decode(packed.get(), packedSize, expanded);

    bool overrun = reference->Consumed() > 8 * packedSize;
    bool overflow = expect.size() > BlockBufferSize;
    if (((result & DecodeInputOverrun) != 0) != overrun) abort();
    if (((result & DecodeOutputOverflow) != 0) != overflow) abort();
    if ((result & ~(uint32_t)(DecodeInputOverrun | DecodeOutputOverflow)) != 0) abort();
    if (!expect.empty() && memcmp(expect.data(), output, overflow ? BlockBufferSize : expect.size()) != 0) {
      abort();
    }
    if (memcmp(reference->ring, state->TokenRing, sizeof state->TokenRing) != 0) abort();
    if (!SameTree(state->tree, reference->tree)) abort();
  }
  return 0;
}
