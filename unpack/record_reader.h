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

// Expands every record of a source of totalSize bytes through decoder.
// Both buffers hold BlockBufferSize bytes. Returns 1 on success; on failure 0,
// with the message in errorText (errorSize >= 1 bytes) and, when failedAt is
// not null, the record that failed. Records already written stay written.
int ReadRecords(DecoderState* decoder, const RecordIo* io, uint32_t totalSize, uint8_t* inputBuffer,
                uint8_t* outputBuffer, const RecordProgress* progress, char* errorText, uint32_t errorSize,
                RecordPosition* failedAt);

// Reads a little-endian 32-bit value.
static inline uint32_t ReadLE32(const uint8_t* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
