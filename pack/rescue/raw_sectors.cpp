#include "rescue/raw_sectors.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <sstream>

namespace {

const uint8_t Sync[12] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
const uint32_t UserData = 2048;

int FromBcd(uint8_t b) { return (b >> 4) < 10 && (b & 15) < 10 ? (b >> 4) * 10 + (b & 15) : -1; }

// The sector's address (minutes, seconds, frames) as a count of sectors; -1
// when it is no address.
long Address(const uint8_t* header) {
  int m = FromBcd(header[0]), s = FromBcd(header[1]), f = FromBcd(header[2]);
  if (m < 0 || s < 0 || s >= 60 || f < 0 || f >= 75) return -1;
  return (m * 60L + s) * 75 + f;
}

// Where the user data begins in a sector of the track.
uint32_t DataOffset(const RawTrack& track) {
  if (track.sectorSize == UserData) return 0;
  return track.mode == 1 ? 16 : 24;  // mode 2: an 8-byte subheader after the header
}

}  // namespace

bool IsRawSectorImage(ImageBytes* bytes, uint64_t start, RawTrack* track) {
  for (uint32_t sectorSize : {2352u, 2448u}) {
    uint8_t first[16], second[16];
    std::string ignored;
    if (!ReadExactly(bytes, start, first, sizeof first, "", &ignored) ||
        !ReadExactly(bytes, start + sectorSize, second, sizeof second, "", &ignored)) {
      continue;
    }
    long at = Address(first + 12);
    if (memcmp(first, Sync, 12) == 0 && memcmp(second, Sync, 12) == 0 && at >= 0 &&
        Address(second + 12) == at + 1 && (first[15] == 1 || first[15] == 2) && second[15] == first[15]) {
      *track = {start, sectorSize, first[15]};
      return true;
    }
  }
  return false;
}

RawSectorBytes::RawSectorBytes(std::shared_ptr<ImageBytes> raw, const RawTrack& track)
    : raw_(raw), track_(track), size_(0) {
  uint64_t held = raw_->Size() > track.start ? raw_->Size() - track.start : 0;
  uint64_t rest = held % track.sectorSize, offset = DataOffset(track);
  size_ =
      held / track.sectorSize * UserData + (rest > offset ? std::min<uint64_t>(UserData, rest - offset) : 0);
}

bool RawSectorBytes::ReadAt(uint64_t offset, uint8_t* data, size_t size, size_t* got, std::string* error) {
  *got = 0;
  while (*got < size && offset + *got < size_) {
    uint64_t at = offset + *got, sector = at / UserData, within = at % UserData;
    size_t want = (size_t)std::min<uint64_t>({size - *got, UserData - within, size_ - at});
    size_t read = 0;
    if (!raw_->ReadAt(track_.start + sector * track_.sectorSize + DataOffset(track_) + within, data + *got,
                      want, &read, error)) {
      return false;
    }
    *got += read;
    if (read < want) break;
  }
  return true;
}

bool ReadCueSheet(const std::string& text, CueTrack* first) {
  std::istringstream lines(text);
  std::string line, file;
  RawTrack track = {0, 0, 0};
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string keyword;
    words >> keyword;
    for (char& c : keyword) c = (char)toupper((unsigned char)c);
    if (keyword == "FILE") {
      // FILE "name with spaces.bin" BINARY, or FILE name.bin BINARY
      size_t open = line.find('"'), close = line.rfind('"');
      if (open != std::string::npos && close > open) {
        file = line.substr(open + 1, close - open - 1);
      } else {
        words >> file;
      }
      track.sectorSize = 0;
    } else if (keyword == "TRACK") {
      std::string number, kind;
      words >> number >> kind;
      for (char& c : kind) c = (char)toupper((unsigned char)c);
      track.sectorSize = 0;
      if (kind == "MODE1/2352" || kind == "MODE2/2352") track = {0, 2352, kind[4] - '0'};
      if (kind == "MODE1/2048") track = {0, UserData, 1};
    } else if (keyword == "INDEX" && track.sectorSize != 0 && !file.empty()) {
      std::string number, time;
      words >> number >> time;
      int m = 0, s = 0, f = 0;
      char colon1 = 0, colon2 = 0;
      std::istringstream at(time);
      if (atoi(number.c_str()) != 1 || !(at >> m >> colon1 >> s >> colon2 >> f) || colon1 != ':' ||
          colon2 != ':' || m < 0 || s < 0 || f < 0) {
        continue;
      }
      track.start = ((uint64_t)m * 60 * 75 + (uint64_t)s * 75 + f) * track.sectorSize;
      *first = {file, track};
      return true;
    }
  }
  return false;
}
