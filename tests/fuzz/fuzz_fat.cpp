// Any bytes as a FAT image (a volume, or an MBR with FAT partitions): no
// read outside the image or the buffers, every file's clusters within the
// image and within its size, and no cluster given to two files (so that
// all the files' bytes together are no more than the image holds).
//
// Input: the image from its first byte, read from memory. Seeds
// (seeds/fuzz_fat) are small images made by mkfs.vfat and mtools: a FAT12
// volume with folders and long names, one behind an MBR, and the first 64
// KiB of FAT16 and FAT32 volumes.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "rescue/fat.h"

namespace {

void Require(bool condition) {
  if (!condition) abort();
}

class MemoryBytes final : public ImageBytes {
 public:
  MemoryBytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, uint8_t* data, size_t size, size_t* got, std::string*) override {
    Require(size <= (64u << 20));  // no read sized by a damaged field
    *got = offset >= size_ ? 0 : (size_t)std::min<uint64_t>(size, size_ - offset);
    if (*got) memcpy(data, data_ + offset, *got);
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryBytes image(data, size);
  for (const FatVolume& volume : FindFatVolumes(&image)) {
    std::vector<FatFile> files;
    std::vector<std::string> problems;
    std::string error;
    if (!ReadFatVolume(&image, volume, &files, &problems, &error)) {
      Require(!error.empty());
      continue;
    }
    std::vector<Extent> all;
    for (const FatFile& f : files) {
      uint64_t held = 0;
      for (const Extent& e : f.extents) {
        Require(e.size > 0 && e.offset <= size && e.size <= size - e.offset);
        held += e.size;
        all.push_back(e);
      }
      Require(held <= f.size && (held == f.size || !f.damage.empty()));
    }
    std::sort(all.begin(), all.end(), [](const Extent& a, const Extent& b) { return a.offset < b.offset; });
    for (size_t i = 1; i < all.size(); ++i) Require(all[i - 1].offset + all[i - 1].size <= all[i].offset);
  }
  return 0;
}
