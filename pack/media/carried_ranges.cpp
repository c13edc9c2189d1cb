#include "media/carried_ranges.h"

#include <string>
#include <vector>

#include "media/seal_image.h"

namespace {

// setup.exe's image is some 25 KB; a larger one is another program.
const uint64_t LargestImage = 1 << 20;
const size_t HeadersRead = 4096;

bool ReadBytes(FileReader* file, uint64_t at, size_t size, std::vector<uint8_t>* data) {
  std::string error;
  size_t got = 0;
  data->resize(size);
  if (!file->ReadAt(at, data->data(), size, &got, &error)) return false;
  data->resize(got);
  return true;
}

}  // namespace

bool FindCarriedPackFiles(FileReader* file, uint64_t base, uint64_t size, uint64_t offsets[2],
                          uint64_t lengths[2]) {
  std::vector<uint8_t> image;
  std::string error;
  size_t end = 0;
  if (!ReadBytes(file, base, (size_t)std::min<uint64_t>(size, HeadersRead), &image) || image.size() < 2 ||
      image[0] != 'M' || image[1] != 'Z' || !ImageEnd(image, "", &end, &error) || end > LargestImage ||
      end > size || !ReadBytes(file, base, end, &image)) {
    return false;
  }
  SealInfo seal;
  if (!ReadSeal(image, "", &seal, &error) || seal.state != SealState::Sealed) return false;
  for (int i = 0; i < 2; ++i) {
    const SealedPackFile& carried = seal.files[i];
    if (carried.carriedAt < end || carried.carriedAt >= size) return false;
    offsets[i] = carried.carriedAt;
    lengths[i] = std::min<uint64_t>(carried.length, size - carried.carriedAt);
  }
  return true;
}
