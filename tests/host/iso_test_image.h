// Disc images made record by record, for reading ones whose directories lie.
#pragma once

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "test_data.h"

// An image of `sectors` sectors of 2048 bytes with a primary volume
// descriptor (blocks of blockSize bytes, its root folder at rootExtent,
// rootSize bytes) and the set's terminator after it.
struct IsoTestImage {
  static const size_t Sector = 2048;
  std::vector<uint8_t> bytes;
  size_t used = 0;  // of the folder being filled, from its start

  IsoTestImage(size_t sectors, uint32_t blockSize, uint32_t rootExtent, uint32_t rootSize)
      : bytes(sectors * Sector, 0) {
    uint8_t* pvd = &bytes[16 * Sector];
    pvd[0] = 1;
    memcpy(pvd + 1, "CD001", 5);
    pvd[128] = (uint8_t)blockSize, pvd[129] = (uint8_t)(blockSize >> 8);
    Record(pvd + 156, rootExtent, rootSize, 2, std::string(1, '\0'));
    bytes[17 * Sector] = 255;
    memcpy(&bytes[17 * Sector + 1], "CD001", 5);
  }
  // Writes a directory record at r; returns its length.
  static size_t Record(uint8_t* r, uint32_t extent, uint32_t size, uint8_t flags, const std::string& name) {
    r[0] = (uint8_t)(33 + name.size() + (name.size() % 2 == 0));
    WriteLE32(r + 2, extent);
    WriteLE32(r + 10, size);
    r[25] = flags;
    r[32] = (uint8_t)name.size();
    memcpy(r + 33, name.data(), name.size());
    return r[0];
  }
  // Appends a record to the folder at byte `folder`, starting a new sector
  // where the record would cross one.
  void Add(size_t folder, uint32_t extent, uint32_t size, uint8_t flags, const std::string& name) {
    size_t length = 33 + name.size() + (name.size() % 2 == 0);
    if (used % Sector + length > Sector) used = (used / Sector + 1) * Sector;
    used += Record(&bytes[folder + used], extent, size, flags, name);
  }
};
