#include "crc32.h"

#include "pack_format.h"

namespace {

const uint32_t Crc32Polynomial = 0xEDB88320u;  // reflected

// Slicing by sixteen: Crc32Table[k][b] is the CRC of byte b followed by k
// zero bytes, so sixteen bytes cost sixteen independent lookups instead of a
// chain of sixteen; that keeps the check at about 2 % of the decoder's time
// (eight lookups cost 3 %). Built at first use (there is no start-up code to
// build it), and left in zero-filled storage, not in the file.
const int Crc32Slices = 16;
uint32_t Crc32Table[Crc32Slices][256];
bool Crc32TableReady;

void BuildCrc32Table() {
  for (uint32_t byte = 0; byte < 256; ++byte) {
    uint32_t crc = byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ Crc32Polynomial : crc >> 1;
    Crc32Table[0][byte] = crc;
  }
  for (int k = 1; k < Crc32Slices; ++k) {
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
  for (; size >= 16; size -= 16, data += 16) {
    // The first byte has fifteen bytes after it, the last none.
    uint32_t a = crc ^ ReadLE32(data), b = ReadLE32(data + 4), c = ReadLE32(data + 8),
             d = ReadLE32(data + 12);
    crc = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
          t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^ t[7][c & 0xFF] ^
          t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^ t[3][d & 0xFF] ^
          t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
  }
  for (; size > 0; --size, ++data) crc = (crc >> 8) ^ t[0][(crc ^ *data) & 0xFF];
  return ~crc;
}
