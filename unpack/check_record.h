// The check record: what a pack file must expand to, carried inside the file
// without changing the format.
//
// It is a compressed record whose expanded size is 0. Every decoder of the
// format reads such a record's body, fetches no bit of it, writes nothing and
// leaves the token ring alone, so old readers skip the check and new readers
// find it. It stands first in the file, and its body (all integers
// little-endian) is:
//
//   offset     size  field
//   0          8     CheckRecordId
//   8          4     layout version (CheckLayoutVersion)
//   12         4     n: the number of data records listed below, or 0
//   16         8     expanded size of the whole file
//   24         4     CRC-32 of the whole expansion
//   28         4n    CRC-32 of each data record's expansion, in file order
//   28 + 4n    4     CRC-32 of the body bytes before this field
//
// The data records are all the records after the check record. A file whose
// records would not all fit in the list lists none (n = 0).
#pragma once

#include <stdint.h>

#include "pack_format.h"

static const uint8_t CheckRecordId[8] = {'P', 'A', 'C', 'K', 'C', 'H', 'K', 0x1A};
static const uint32_t CheckRecordIdSize = 8;
static const uint32_t CheckLayoutVersion = 1;
// A body without its record list.
static const uint32_t CheckFixedSize = 32;
// As many record CRCs as a body of at most BlockBufferSize bytes holds.
static const uint32_t CheckMaxListedRecords = (BlockBufferSize - CheckFixedSize) / 4;

struct CheckRecord {
  uint32_t version;
  uint32_t listedRecords;     // n
  uint64_t expandedSize;      // of the whole file
  uint32_t crc;               // of the whole expansion
  const uint8_t* recordCrcs;  // n little-endian CRC-32 values (inside the body read)
};

enum CheckRecordStatus {
  CheckRecordOk = 0,
  CheckRecordDamaged = 1,         // wrong length or its own CRC does not match
  CheckRecordUnknownVersion = 2,  // whole, but of a layout this reader does not know
};

// 1 when a compressed record's body of size bytes begins with CheckRecordId.
int IsCheckRecordBody(const uint8_t* body, uint32_t size);

// Reads a check record's body (one for which IsCheckRecordBody holds) into
// check and returns a CheckRecordStatus.
uint32_t ReadCheckRecord(const uint8_t* body, uint32_t size, CheckRecord* check);

// Writes the body of a check record of layout CheckLayoutVersion with the
// listed record CRCs (check->listedRecords of them; check->version and
// check->recordCrcs are not used) into body.
// Returns its size, CheckFixedSize + 4n, or 0 when that exceeds capacity.
uint32_t WriteCheckRecord(uint8_t* body, uint32_t capacity, const CheckRecord* check,
                          const uint32_t* recordCrcs);
