// The version information of a program (its VERSIONINFO resource): a fixed
// part with the file's and the product's version numbers, and a table of
// texts (ProductName, CompanyName, ...) in one language, which Windows shows
// in the file's properties.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

struct VersionInfo {
  uint16_t fileVersion[4] = {0, 0, 0, 0};
  uint16_t productVersion[4] = {0, 0, 0, 0};
  uint16_t language = 1033;
  // Key and value, UTF-8, in the order they are written.
  std::vector<std::pair<std::string, std::string>> strings;
};

// "1", "1.2", "1.2.3" or "1.2.3.4", each number 0 to 65535; false for
// anything else.
bool ParseVersion(const std::string& text, uint16_t numbers[4]);

// The resource's bytes, its texts UTF-16 (code page 1200). false with
// *error for a text that is not UTF-8.
bool WriteVersionInfo(const VersionInfo& info, std::vector<uint8_t>* out, std::string* error);

// Reads the resource back (its first table of texts). false for bytes that
// are not one.
bool ReadVersionInfo(const std::vector<uint8_t>& data, VersionInfo* info);

// "1.2.3.4".
std::string DottedVersion(const uint16_t numbers[4]);
