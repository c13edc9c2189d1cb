// Inputs shared by the host tests: real files of the machine and generated data.
#pragma once

#include <stdint.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "pack_format.h"

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A real Windows binary from the Wine installation, or text when that is not there.
inline std::vector<uint8_t> RealBinary(const char* name) {
  std::vector<uint8_t> data =
      ReadFileBytes(std::string("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/") + name);
  if (data.empty()) data = ReadFileBytes("/usr/share/common-licenses/GPL-3");
  return data;
}

inline std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> data(size);
  for (auto& b : data) b = (uint8_t)rng();
  return data;
}

// Text-like data with repeats near and far, runs and noise.
inline std::vector<uint8_t> MixedBytes(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> data;
  const char* words[] = {"setup ", "install ", "file ", "\r\n", "    ", "0000", "directory ", "=", "; "};
  while (data.size() < size) {
    uint32_t pick = rng() % 16;
    if (pick < 9) {
      for (const char* w = words[pick]; *w; ++w) data.push_back((uint8_t)*w);
    } else if (pick < 11) {
      data.insert(data.end(), rng() % 700, (uint8_t)(rng() % 3 == 0 ? 0 : rng()));
    } else if (pick < 14 && data.size() > 10) {
      size_t from = rng() % data.size(), len = rng() % 200;
      for (size_t i = 0; i < len; ++i) data.push_back(data[from + i]);
    } else {
      data.push_back((uint8_t)rng());
    }
  }
  data.resize(size);
  return data;
}

inline void AppendRecordHeader(std::vector<uint8_t>* out, uint32_t packedSize, uint32_t expandedSize) {
  out->insert(out->end(), PackMagic, PackMagic + PackMagicSize);
  for (int b = 0; b < 4; ++b) out->push_back((uint8_t)(packedSize >> (8 * b)));
  for (int b = 0; b < 4; ++b) out->push_back((uint8_t)(expandedSize >> (8 * b)));
}

inline void AppendStoredRecord(std::vector<uint8_t>* out, const std::string& body) {
  AppendRecordHeader(out, 0, (uint32_t)body.size());
  out->insert(out->end(), body.begin(), body.end());
}
