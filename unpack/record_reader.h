// The record loop of the unpacker, independent of how files are read and
// written: setup.exe runs it over Win32 file handles, setuppack over stdio,
// and both therefore expand a pack file in exactly the same way.
#pragma once

#include <stdint.h>

#include "block_decoder.h"

struct RecordIo {
  void* context;
  // Reads up to size bytes; returns the number delivered.
  uint32_t (*read)(void* context, uint8_t* buffer, uint32_t size);
  // Writes size bytes; returns the number stored.
  uint32_t (*write)(void* context, const uint8_t* buffer, uint32_t size);
  // Called between the steps of the loop (keeps a user interface alive); may be null.
  void (*pump)(void* context);
};

// Reports progress: callback(target, start + span * consumed / total) after
// every record. A zero target or a null callback disables it.
typedef void (*ProgressCallback)(uint32_t target, int32_t value);
struct RecordProgress {
  uint32_t target;
  ProgressCallback callback;
  int32_t start;
  int32_t end;
};

// Where a failure happened: the record's index (from 0) and file offset.
struct RecordPosition {
  uint32_t index;
  uint32_t offset;
};

// What the check record of a file said and what the file expanded to
// (check_record.h).
struct PackCheck {
  uint32_t present;        // the file begins with a check record
  uint32_t listedRecords;  // data records whose CRCs the check record lists (0: none)
  uint64_t expectedSize;
  uint32_t expectedCrc;
  uint64_t expandedSize;  // what the data records wrote
  uint32_t expandedCrc;
  uint32_t dataRecords;
};

// Expands every record of a source of totalSize bytes through decoder.
// Both buffers hold BlockBufferSize bytes. Returns 1 on success; on failure 0,
// with the message in errorText (errorSize >= 1 bytes) and, when failedAt is
// not null, the record that failed. Records already written stay written.
//
// A file that begins with a check record must expand to the size and CRC-32
// it names, else the call fails once the last record is written (failedAt
// then names the record after the last). A check record anywhere else, or
// with an expanded size other than 0, makes the file damaged. When check is
// not null it receives what was checked.
int ReadRecords(DecoderState* decoder, const RecordIo* io, uint32_t totalSize, uint8_t* inputBuffer,
                uint8_t* outputBuffer, const RecordProgress* progress, char* errorText, uint32_t errorSize,
                RecordPosition* failedAt, PackCheck* check);
