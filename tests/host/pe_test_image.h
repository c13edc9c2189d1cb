// A small PE32 image with one section and a seal block, laid out field by
// field, for the seal tests and the seal fuzz target's seeds.
#pragma once

#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "pack_format.h"
#include "seal.h"

static const size_t PeHeaderAt = 64, ChecksumAt = PeHeaderAt + 24 + 64;

struct ImageLayout {
  size_t fileSize;
  uint32_t rawStart, rawSize, virtualSize;  // of the one section
  size_t blockAt;                           // where the seal block begins
  uint32_t checksum;                        // the field's value as built
};

// A PE32 image with one section and an unsealed seal block at blockAt, cut
// where the file ends.
inline std::vector<uint8_t> ImageOf(const ImageLayout& l) {
  std::vector<uint8_t> image(std::max<size_t>(l.fileSize, 1024));
  const size_t optional = PeHeaderAt + 24, section = optional + 224;
  memcpy(&image[0], "MZ", 2);
  WriteLE32(&image[60], PeHeaderAt);              // the PE header's offset
  memcpy(&image[PeHeaderAt], "PE\0\0", 4);        // its signature
  WriteLE32(&image[PeHeaderAt + 4], 0x14c);       // i386
  WriteLE32(&image[PeHeaderAt + 6], 1);           // one section
  WriteLE32(&image[PeHeaderAt + 20], 224);        // the optional header's size
  WriteLE32(&image[optional], 0x10b);             // PE32
  WriteLE32(&image[ChecksumAt], l.checksum);      // the checksum
  WriteLE32(&image[ChecksumAt + 4], 2);           // the subsystem, right after it: GUI
  WriteLE32(&image[optional + 92], 16);           // 16 data directories
  WriteLE32(&image[section + 8], l.virtualSize);  // the section's virtual size,
  WriteLE32(&image[section + 12], 0x1000);        // its address,
  WriteLE32(&image[section + 16], l.rawSize);     // its size in the file,
  WriteLE32(&image[section + 20], l.rawStart);    // its offset in the file
  uint8_t block[SealBlockSize] = {0};
  memcpy(block, SealId, SealIdSize);
  WriteLE32(block + SealIdSize, SealLayoutVersion);
  memcpy(block + SealStateOffset, SealStateUnsealed, SealStateSize);
  memcpy(&image[l.blockAt], block, std::min<size_t>(SealBlockSize, image.size() - l.blockAt));
  image.resize(l.fileSize);
  image.shrink_to_fit();  // a write past the end is a write past the allocation
  return image;
}
