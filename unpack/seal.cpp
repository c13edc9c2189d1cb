#include "seal.h"

#include "pack_format.h"

int MatchesSealEntry(Sha256State* state, const uint8_t* lengthAndDigest) {
  const uint8_t* entry = lengthAndDigest;
  uint64_t length = state->length;
  uint8_t digest[Sha256DigestSize];
  Sha256Final(state, digest);
  // Every byte is compared, whatever the first difference: nothing to gain
  // from an early exit, and no timing to learn from.
  uint32_t differ = (ReadLE32(entry) ^ (uint32_t)length) | (ReadLE32(entry + 4) ^ (uint32_t)(length >> 32));
  for (uint32_t i = 0; i < Sha256DigestSize; ++i) differ |= digest[i] ^ entry[8 + i];
  return differ == 0;
}
