// File-level operations of setuppack: pack, unpack, list, verify. Every
// function returns true on success, or false with a one-line message in *error.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "encoder.h"
#include "record_reader.h"

struct FilePair {
  std::string from;
  std::string to;
};

// The progress line of large inputs: "  42% of N bytes" on standard error.
void ShowPackProgress(size_t done, size_t total);

// Reads a whole file; fails for files of 4 GB or more (pack sizes are 32-bit).
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* data, std::string* error);

// Writes a file through a temporary name in the same folder and renames it
// into place, so that a failure never leaves a half-written file behind.
bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& data, std::string* error);

// Packs each pair's source into its pack file, in order, through one encoder
// state, as the decoder will meet them; each file begins with a check record
// unless withCheck is false.
bool PackFiles(const std::vector<FilePair>& pairs, const EncoderOptions& options, bool withCheck,
               bool showProgress, std::string* error);

// Expands each pair's pack file into its destination, in order, through one
// decoder state, exactly as setup.exe does, and verifies the check record of
// each file that has one. Destinations are written only when every pack file
// expanded whole.
bool UnpackFiles(const std::vector<FilePair>& pairs, std::string* error);

// Expands pack files in memory, in order, through one fresh decoder state,
// and verifies their check records. checks (when not null) receives what was
// checked of each file, failedFile (when not null) the index of the file that
// failed.
bool ExpandPackedData(const std::vector<std::vector<uint8_t>>& packed,
                      std::vector<std::vector<uint8_t>>* expanded, std::vector<PackCheck>* checks,
                      size_t* failedFile, std::string* error);

struct ListedRecord {
  uint32_t offset;
  uint32_t packedSize;  // 0: stored
  uint32_t expandedSize;
  bool isCheck;  // a compressed record whose body begins as a check record's
};

// Reads the record headers of a pack file without expanding anything.
bool ListRecords(const std::vector<uint8_t>& packed, std::vector<ListedRecord>* records, std::string* error);
