// The seal: a block inside setup.exe's image that names the two pack files
// it may expand, by length and SHA-256. It lies in a section, so that an
// Authenticode signature of setup.exe covers it; setuppack fills it in, and
// setup.exe, once it is filled in, refuses pack files that do not match.
//
// Layout (integers little-endian):
//
//   offset  size  field
//   0       8     SealId
//   8       4     layout version (SealLayoutVersion)
//   12      8     state: "unsealed" as built, "sealed" and two zero bytes
//                 once filled in
//   20      48    INSTALL.SC_: where it lies (8 bytes: its offset in the
//                 program's own file, or 0 when it lies beside the program,
//                 in its folder), its length (8), its SHA-256 (32)
//   68      48    INSTALL.EX_: the same
//
// A program whose entries name offsets carries its pack files after its
// image (setuppack media --single-file), where a signature covers them too.
// Layout version 1, of setup.exe before it could carry them, has entries of
// length and SHA-256 only (40 bytes, a block of 100); setuppack still reads
// and seals it.
//
// setup.exe reads every state but "unsealed" as sealed, so a seal block
// damaged in its state refuses every pack file rather than none.
#pragma once

#include <stdint.h>

#include "sha256.h"

static const uint8_t SealId[8] = {'S', 'E', 'T', 'S', 'E', 'A', 'L', 0x1A};
static const uint32_t SealIdSize = 8;
static const uint32_t SealLayoutVersion = 2;
static const uint32_t SealStateOffset = 12;
static const uint32_t SealStateSize = 8;
static const uint32_t SealEntriesOffset = 20;
static const uint32_t SealEntryLengthOffset = 8;  // the offset comes first
static const uint32_t SealEntrySize = SealEntryLengthOffset + 8 + Sha256DigestSize;
static const uint32_t SealBlockSize = SealEntriesOffset + 2 * SealEntrySize;  // 116
static const uint32_t SealLayoutVersion1 = 1;
static const uint32_t SealEntrySizeVersion1 = 8 + Sha256DigestSize;  // length and SHA-256
static const char SealStateUnsealed[SealStateSize] = {'u', 'n', 's', 'e', 'a', 'l', 'e', 'd'};
static const char SealStateSealed[SealStateSize] = {'s', 'e', 'a', 'l', 'e', 'd', 0, 0};

// Finishes state, the SHA-256 of a whole pack file, and returns 1 when its
// length and digest are those that lengthAndDigest holds (an entry's last
// 40 bytes, from SealEntryLengthOffset), else 0.
int MatchesSealEntry(Sha256State* state, const uint8_t* lengthAndDigest);
