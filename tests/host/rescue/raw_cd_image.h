// Raw CD sectors written from an ISO image, as a drive's raw dump holds
// them, for the tests of the raw-sector reader and of scan.
#pragma once

#include <stdint.h>
#include <string.h>

#include <vector>

// The image's 2,048-byte sectors as 2,352-byte ones of mode 1, or of mode 2
// form 1, appended to raw (which may hold an audio track before them).
// Their error-correction bytes are left zero: the reader does not look at
// them.
inline std::vector<uint8_t> RawSectors(const std::vector<uint8_t>& iso, int mode,
                                       std::vector<uint8_t> raw = {}) {
  auto bcd = [](size_t n) { return (uint8_t)((n / 10) << 4 | n % 10); };
  for (size_t at = 0; at < iso.size(); at += 2048) {
    size_t sector = raw.size() / 2352 + 150;  // addresses count from 00:02:00
    std::vector<uint8_t> s(2352, 0);
    memset(&s[1], 0xFF, 10);  // the sync pattern: 00, ten FF, 00
    s[12] = bcd(sector / 4500), s[13] = bcd(sector / 75 % 60), s[14] = bcd(sector % 75);
    s[15] = (uint8_t)mode;
    if (mode == 2) s[18] = s[22] = 0x08;  // subheader: a data sector of form 1
    memcpy(&s[mode == 1 ? 16 : 24], &iso[at], 2048);
    raw.insert(raw.end(), s.begin(), s.end());
  }
  return raw;
}
