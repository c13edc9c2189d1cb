// SHA-256 (FIPS 180-4), for the seal: setup.exe hashes each pack file as it
// reads it and compares the digest its seal holds.
#pragma once

#include <stdint.h>

static const uint32_t Sha256DigestSize = 32;

struct Sha256State {
  uint32_t hash[8];
  uint64_t length;  // bytes hashed so far
  uint8_t block[64];
};

void Sha256Init(Sha256State* state);
void Sha256Update(Sha256State* state, const uint8_t* data, uint32_t size);
// Pads the message and stores its digest; the state is spent.
void Sha256Final(Sha256State* state, uint8_t digest[Sha256DigestSize]);
