// Any bytes as a raw CD image and its cue sheet: the sheet's first data
// track (or the image's first sector) read as raw sectors when it looks like
// them, and the ISO 9660 image they hold listed. No read outside the image
// or the buffers; the sectors' user data is no more than 2,048 of every
// 2,352 bytes (and one sector's); every file listed holds bytes within it.
//
// Input: a cue sheet, a zero byte, then the image (no zero byte: the image
// alone). Seeds (seeds/fuzz_raw_sectors) are a small ISO image's sectors in
// mode 1 and in mode 2 form 1, with and without a sheet.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "rescue/iso9660.h"
#include "rescue/raw_sectors.h"

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
  const uint8_t* zero = (const uint8_t*)memchr(data, 0, size);
  size_t sheetSize = zero ? zero - data : 0;
  size_t skip = zero ? sheetSize + 1 : 0;
  std::shared_ptr<ImageBytes> raw(new MemoryBytes(data + skip, size - skip));
  RawTrack track = {0, 0, 0};
  CueTrack cue;
  if (zero && ReadCueSheet(std::string((const char*)data, sheetSize), &cue)) {
    Require(cue.track.sectorSize == 2048 || cue.track.sectorSize == 2352);
    if (cue.track.sectorSize == 2352 && !IsRawSectorImage(raw.get(), cue.track.start, &track)) return 0;
  } else if (!IsRawSectorImage(raw.get(), 0, &track)) {
    return 0;
  }
  if (track.sectorSize == 0) return 0;  // a sheet's plain ISO track: the ISO reader's own target
  RawSectorBytes sectors(raw, track);
  uint64_t after = raw->Size() - std::min<uint64_t>(raw->Size(), track.start);
  Require(sectors.Size() <= after / track.sectorSize * 2048 + 2048);
  IsoImage listing;
  bool joliet = false;
  std::string error;
  if (!IsIsoImage(&sectors) || !ReadIsoImage(&sectors, &listing, &joliet, &error)) return 0;
  std::vector<uint8_t> buffer;
  for (const IsoFile& f : listing.files) {
    Require(f.held <= f.size && (f.held == 0 || f.offset + f.held <= sectors.Size()));
    buffer.resize((size_t)std::min<uint64_t>(f.held, 1 << 16));
    size_t got = 0;
    Require(sectors.ReadAt(f.offset, buffer.data(), buffer.size(), &got, &error) && got == buffer.size());
  }
  return 0;
}
