// Any bytes as a compressed block: the decoder must stay within its buffers
// and agree with the plain reference decoder on every byte, the ring and the
// damage flags.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "block_decoder.h"
#include "reference_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  uint32_t expanded = ((uint32_t)data[0] << 8 | data[1]) % (BlockBufferSize + 1);
  // The block is copied into an exactly sized heap buffer so that ASan sees
  // any read past the packed bytes.
  size_t packedSize = size - 2;
  uint8_t* packed = (uint8_t*)malloc(packedSize ? packedSize : 1);
  memcpy(packed, data + 2, packedSize);
  static uint8_t output[BlockBufferSize];
  // Both ring states carry over between inputs, as in a process.
  static DecoderState state;
  static ReferenceDecoder reference;
  uint32_t result = DecodeBlock(&state, output, expanded, packed, (uint32_t)packedSize);
  std::vector<uint8_t> expect = reference.Decode(packed, (uint32_t)packedSize, expanded);
  free(packed);

  bool overrun = reference.Consumed() > 8 * packedSize;
  bool overflow = expect.size() > BlockBufferSize;
  if (((result & DecodeInputOverrun) != 0) != overrun) abort();
  if (((result & DecodeOutputOverflow) != 0) != overflow) abort();
  if (!expect.empty() && memcmp(expect.data(), output, overflow ? BlockBufferSize : expect.size()) != 0)
    abort();
  if (memcmp(reference.ring, state.TokenRing, sizeof state.TokenRing) != 0) abort();
  return 0;
}
