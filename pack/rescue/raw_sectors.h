// Raw CD images: whole 2,352-byte sectors as a drive reads them (sync
// pattern, header, user data, error correction), from a .bin with a .cue
// beside it or a CloneCD .img; 2,448-byte sectors carry 96 bytes of
// subchannel after each. Data sectors of mode 1 and of mode 2 form 1 hold
// 2,048 bytes each: read one after another they are the ISO 9660 image the
// disc holds. The error-correction bytes are not looked at (a drive that
// made the dump corrected what it could).
#pragma once

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "rescue/image_bytes.h"

struct RawTrack {
  uint64_t start;       // of its first sector, in the file that holds it
  uint32_t sectorSize;  // 2352 or 2448 (2048: sectors of user data alone, an ISO image)
  int mode;             // 1 or 2 (form 1)
};

// True, with *track, when the bytes at start begin data sectors as a raw
// dump holds them: sync pattern, an address that counts on and a mode of 1
// or 2 in each of the first two sectors.
bool IsRawSectorImage(ImageBytes* bytes, uint64_t start, RawTrack* track);

// The user data of the track's sectors, read as one run of bytes (a sector
// the image ends inside gives what it holds).
class RawSectorBytes final : public ImageBytes {
 public:
  RawSectorBytes(std::shared_ptr<ImageBytes> raw, const RawTrack& track);
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, uint8_t* data, size_t size, size_t* got, std::string* error) override;

 private:
  std::shared_ptr<ImageBytes> raw_;
  RawTrack track_;
  uint64_t size_;
};

// A cue sheet's first data track: the file that holds it (as the sheet
// names it) and where it starts. False when the sheet names no data track
// of a kind read here.
struct CueTrack {
  std::string file;
  RawTrack track;
};
bool ReadCueSheet(const std::string& text, CueTrack* first);
