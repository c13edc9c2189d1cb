#include "sha256.h"

namespace {

const uint32_t RoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t ReadBE32(const uint8_t* p) {
  return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3];
}

// One round per turn, the message schedule kept in a ring of 16 words:
// as fast as rounds written out eight at a time (the compiler renames the
// variables either way), in a quarter of the code.
void Compress(uint32_t* hash, const uint8_t* block) {
  uint32_t w[16], v[8];
  for (int i = 0; i < 16; ++i) w[i] = ReadBE32(block + 4 * i);
  for (int i = 0; i < 8; ++i) v[i] = hash[i];
  for (int round = 0; round < 64; ++round) {
    if (round >= 16) {
      uint32_t w15 = w[(round + 1) & 15], w2 = w[(round + 14) & 15];
      w[round & 15] += (Rotr(w15, 7) ^ Rotr(w15, 18) ^ (w15 >> 3)) + w[(round + 9) & 15] +
                       (Rotr(w2, 17) ^ Rotr(w2, 19) ^ (w2 >> 10));
    }
    uint32_t a = v[0], e = v[4];
    uint32_t t1 = v[7] + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + (v[6] ^ (e & (v[5] ^ v[6]))) +
                  RoundConstants[round] + w[round & 15];
    uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & v[1]) | (v[2] & (a | v[1])));
    for (int i = 7; i > 0; --i) v[i] = v[i - 1];
    v[4] += t1;
    v[0] = t1 + t2;
  }
  for (int i = 0; i < 8; ++i) hash[i] += v[i];
}

}  // namespace

void Sha256Init(Sha256State* state) {
  // Stored as immediates: no table, and no relocation in setup.exe.
  state->hash[0] = 0x6a09e667;
  state->hash[1] = 0xbb67ae85;
  state->hash[2] = 0x3c6ef372;
  state->hash[3] = 0xa54ff53a;
  state->hash[4] = 0x510e527f;
  state->hash[5] = 0x9b05688c;
  state->hash[6] = 0x1f83d9ab;
  state->hash[7] = 0x5be0cd19;
  state->length = 0;
}

void Sha256Update(Sha256State* state, const uint8_t* data, uint32_t size) {
  uint32_t used = (uint32_t)state->length & 63;
  state->length += size;
  // Whole blocks straight from the caller's buffer; only the ends are copied.
  if (used != 0) {
    while (size != 0 && used < 64) {
      state->block[used++] = *data++;
      --size;
    }
    if (used < 64) return;
    Compress(state->hash, state->block);
  }
  for (; size >= 64; size -= 64, data += 64) Compress(state->hash, data);
  for (uint32_t i = 0; i < size; ++i) state->block[i] = data[i];
}

void Sha256Final(Sha256State* state, uint8_t digest[Sha256DigestSize]) {
  // 0x80, zeros up to 56 bytes into a block, the length in bits (big-endian).
  uint64_t bits = state->length * 8;
  uint8_t pad = 0x80;
  do {
    Sha256Update(state, &pad, 1);
    pad = 0;
  } while ((state->length & 63) != 56);
  for (int i = 56; i >= 0; i -= 8) {
    pad = (uint8_t)(bits >> i);
    Sha256Update(state, &pad, 1);
  }
  for (uint32_t i = 0; i < Sha256DigestSize; ++i)
    digest[i] = (uint8_t)(state->hash[i / 4] >> (24 - 8 * (i % 4)));
}
