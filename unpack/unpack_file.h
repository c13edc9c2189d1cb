// UnpackFile: expands one pack file into one plain destination file
// on the real Win32 file calls, through the portable record loop ReadRecords
// and the process-wide decoder state.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "record_reader.h"

// The last failure message of UnpackFile (process-wide, 256 bytes).
static const uint32_t LastErrorTextSize = 256;
extern char LastErrorText[LastErrorTextSize];

// Returns 1 on success, 0 on failure (message in LastErrorText). A null path
// returns 0 at once and touches nothing. progressTarget 0 or a null callback
// disables progress reporting; otherwise one value is reported after each
// record, progressStart plus the share of the source read so far of the span
// (a span of 0 or less, or above 100, counts as 100).
//
// sealEntry, when not NULL, is the length and SHA-256 that the seal holds for
// this pack file (the last 40 bytes of its entry, seal.h): the source's bytes
// are hashed as they are read, and a source whose length or SHA-256 differs
// fails once it has been read to its end.
int UnpackFile(const char* destinationPath, const char* sourcePath, uint32_t progressTarget,
               ProgressCallback progressCallback, int32_t progressStart, int32_t progressEnd,
               const uint8_t* sealEntry = NULL);

// UnpackFile of a pack file that lies inside another file: the length bytes
// of source from offset on, read as if they were a file of their own
// (nothing before or after them is read). The caller opened source and
// closes it; its file pointer moves. sourceName names it in LastErrorText.
// No progress is reported.
int UnpackFileFrom(const char* destinationPath, HANDLE source, uint32_t offset, uint32_t length,
                   const char* sourceName, const uint8_t* sealEntry);

// 1 when the length bytes of source from offset on are there whole and have
// the length and SHA-256 that sealed holds (as sealEntry above), else 0.
int SourceRangeMatches(HANDLE source, uint32_t offset, uint32_t length, const uint8_t* sealed);

// The decoder state every UnpackFile call of the process shares, in call order.
DecoderState* UnpackDecoderState(void);
