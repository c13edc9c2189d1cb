// UTF-8 and UTF-16, the two encodings of resource texts: the files setuppack
// reads are UTF-8, and every text in a Windows resource is UTF-16.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// false for bytes that are not UTF-8 (overlong forms, surrogates and code
// points past U+10FFFF included).
bool Utf8ToUtf16(const std::string& text, std::u16string* out);

// An unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const std::u16string& text);

// Appends text as little-endian code units, then a zero unit when terminated.
void AppendUtf16(std::vector<uint8_t>* out, const std::u16string& text, bool terminated);

// Little-endian fields of resource data.
inline uint16_t Get16(const uint8_t* p) { return (uint16_t)(p[0] | (p[1] << 8)); }
inline uint32_t Get32(const uint8_t* p) { return (uint32_t)Get16(p) | ((uint32_t)Get16(p + 2) << 16); }
inline void Put16(std::vector<uint8_t>* out, uint32_t value) {
  out->push_back((uint8_t)value);
  out->push_back((uint8_t)(value >> 8));
}
inline void Put32(std::vector<uint8_t>* out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}
inline void Set16(uint8_t* p, uint32_t value) {
  p[0] = (uint8_t)value;
  p[1] = (uint8_t)(value >> 8);
}
inline void Set32(uint8_t* p, uint32_t value) {
  Set16(p, value & 0xFFFF);
  Set16(p + 2, value >> 16);
}
// Zeros up to the next multiple of 4, as resource structures align.
inline void PadTo4(std::vector<uint8_t>* out) {
  while (out->size() % 4) out->push_back(0);
}
