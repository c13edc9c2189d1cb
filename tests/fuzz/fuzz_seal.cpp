// Any bytes as the setup.exe that `seal`, `media` and `test` read: its PE
// headers and sections parsed, its seal block searched for, read, and filled
// in for two pack files. No read or write outside the image, and:
//   - a refusal says why and leaves every byte as it was;
//   - a seal is read only from a whole block (of its layout's size) inside
//     the file;
//   - sealing succeeds only where a seal block was found, changes no byte but
//     the block's and the checksum field's, and keeps the size;
//   - the sealed image reads back as sealed for exactly those two files;
//   - the checksum it writes is the one a plain word sum of the file finds.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "pack_format.h"
#include "seal.h"
#include "media/seal_image.h"

namespace {

// The PE checksum as a plain sum: the field cleared in a copy, every 16-bit
// word added into 64 bits, the carries folded at the end.
uint32_t PlainChecksum(std::vector<uint8_t> image, size_t field) {
  memset(&image[field], 0, 4);
  uint64_t sum = 0;
  for (size_t i = 0; i < image.size(); i += 2) {
    sum += image[i] + (i + 1 < image.size() ? (uint32_t)image[i + 1] << 8 : 0);
  }
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return (uint32_t)(sum + image.size());
}

void Require(bool holds) {
  if (!holds) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The image alone in its allocation, so that a read or write past its end
  // is one past the allocation.
  std::vector<uint8_t> image(data, data + size);
  image.shrink_to_fit();
  const std::vector<uint8_t> script = {'s', 'c'}, installer = {'e', 'x', 'e'}, other = {'o'};

  SealInfo seal;
  std::string error;
  bool read = ReadSeal(image, "setup.exe", &seal, &error);
  Require(read || !error.empty());
  if (read && seal.state != SealState::None) Require(seal.offset + SealBlockSizeOf(seal.version) <= size);
  if (read && seal.state == SealState::Sealed) {
    int mismatch = SealMismatch(seal, script, installer);
    Require(mismatch >= -1 && mismatch <= 1);
  }

  std::vector<uint8_t> sealed(image);
  sealed.shrink_to_fit();
  error.clear();
  if (!SealImage(&sealed, "setup.exe", script, installer, &error)) {
    Require(!error.empty() && sealed == image);
    return 0;
  }
  // A block whose state is damaged is sealed over; one that ReadSeal found
  // no trace of is not.
  Require(!(read && seal.state == SealState::None) && sealed.size() == size);
  SealInfo again;
  Require(ReadSeal(sealed, "setup.exe", &again, &error));
  Require(again.state == SealState::Sealed && again.offset + SealBlockSizeOf(again.version) <= size);
  Require(!read || again.offset == seal.offset);
  Require(SealMismatch(again, script, installer) == -1);
  Require(SealMismatch(again, other, installer) == 0);
  Require(SealMismatch(again, script, other) == 1);

  size_t field = ReadLE32(&image[60]) + 24 + 64;
  Require(field + 4 <= size);
  for (size_t i = 0; i < size; ++i) {
    bool mayChange = (i >= again.offset && i < again.offset + SealBlockSizeOf(again.version)) ||
                     (i >= field && i < field + 4);
    Require(mayChange || sealed[i] == image[i]);
  }
  Require(ReadLE32(&sealed[field]) == PlainChecksum(sealed, field));
  return 0;
}
