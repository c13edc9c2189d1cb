#include "crc32.h"

#include "pack_format.h"

namespace {

const uint32_t Crc32Polynomial = 0xEDB88320u;  // reflected

// Slicing by eight: Crc32Table[k][b] is the CRC of byte b followed by k zero
// bytes, so eight bytes cost eight independent lookups instead of a chain of
// eight. Built at first use (there is no start-up code to build it), and left
// in zero-filled storage, not in the file.
uint32_t Crc32Table[8][256];
bool Crc32TableReady;

void BuildCrc32Table() {
  for (uint32_t byte = 0; byte < 256; ++byte) {
    uint32_t crc = byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ Crc32Polynomial : crc >> 1;
    Crc32Table[0][byte] = crc;
  }
  for (int k = 1; k < 8; ++k) {
    for (uint32_t byte = 0; byte < 256; ++byte) {
      uint32_t previous = Crc32Table[k - 1][byte];
      Crc32Table[k][byte] = (previous >> 8) ^ Crc32Table[0][previous & 0xFF];
    }
  }
  Crc32TableReady = true;
}

}  // namespace

uint32_t Crc32Update(uint32_t crc, const uint8_t* data, uint32_t size) {
  if (!Crc32TableReady) BuildCrc32Table();
  const uint32_t(*t)[256] = Crc32Table;
  crc = ~crc;
  for (; size >= 8; size -= 8, data += 8) {
    uint32_t low = crc ^ ReadLE32(data);
    uint32_t high = ReadLE32(data + 4);
    crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
          t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
  }
  for (; size > 0; --size, ++data) crc = (crc >> 8) ^ t[0][(crc ^ *data) & 0xFF];
  return ~crc;
}
