// The records of a pack file, read from their headers: listed, and what
// they say of the file; and how a failed check is described. Every function
// returns true on success, or false with a one-line message in *error.
#pragma once

#include <stdint.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "block_decoder.h"
#include "expand/layout.h"
#include "record_reader.h"

// True when the expansion of a pack file copies from the decoder history
// that earlier files left (as a file packed after another does): it then
// expands differently after different files.
bool ContinuesEarlierHistory(const std::vector<uint8_t>& packed);

// Why a file that expanded whole failed its check record: its size, its
// CRC-32 or its number of records differs from what the check record says.
std::string CheckFailureReason(const PackCheck& check);

// What was verified of a pack file that expanded whole to size bytes.
std::string Verified(const PackCheck& check, size_t size);

// What the records of a pack file say it expands to, up to the first record
// that is not whole and at most 256 MiB: the room to make for its expansion
// at once.
size_t ListedExpansion(const std::vector<uint8_t>& packed);
size_t ListedExpansion(const uint8_t* packed, size_t size);

// Reads the record headers of a pack file without expanding anything.
bool ListRecords(const std::vector<uint8_t>& packed, std::vector<ListedRecord>* records, std::string* error);
