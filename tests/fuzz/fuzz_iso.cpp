// Any bytes as the volume descriptors and directories of a disc image: no
// read outside the file or the buffers, and every file listed lies within the
// image, their bytes (each range counted once) no more than twice what the
// image holds.
//
// Input: the image from its volume descriptor set on (sector 16); the 32 KiB
// before it, which the reader never looks at, are zero bytes. It is read
// from a file, as scan reads images.
#include <stdint.h>
#include <stdlib.h>
#include <unistd.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_io.h"
#include "rescue/iso9660.h"

namespace {

const size_t SystemArea = 16 * 2048;

void Require(bool condition) {
  if (!condition) abort();
}

std::string imageFile;  // made once and removed at exit

void RemoveImage() { unlink(imageFile.c_str()); }

std::string ImagePath() {
  if (imageFile.empty()) {
    char name[] = "/tmp/fuzz_iso-XXXXXX";
    int fd = mkstemp(name);
    Require(fd >= 0);
    close(fd);
    imageFile = name;
    atexit(RemoveImage);
  }
  return imageFile;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> image(SystemArea, 0);
  image.insert(image.end(), data, data + size);
  std::string imagePath = ImagePath();
  FILE* f = fopen(imagePath.c_str(), "wb");
  Require(f && fwrite(image.data(), 1, image.size(), f) == image.size() && fclose(f) == 0);

  FileReader file;
  std::string error;
  Require(file.Open(imagePath, &error));
  if (!IsIsoImage(&file, 0, image.size())) return 0;
  std::vector<IsoFile> files;
  if (!ReadIsoImage(&file, 0, image.size(), &files, &error)) {
    Require(!error.empty());
    return 0;
  }
  std::set<std::pair<uint64_t, uint64_t>> ranges;
  uint64_t bytes = 0;
  for (const IsoFile& f : files) {
    Require(f.offset <= image.size() && f.size <= image.size() - f.offset);
    if (ranges.insert({f.offset, f.size}).second) bytes += f.size;
  }
  Require(bytes <= 2 * image.size());
  return 0;
}
