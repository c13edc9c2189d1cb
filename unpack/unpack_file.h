// UnpackFile: expands one pack file into one plain destination file
// on the real Win32 file calls, through the portable record loop ReadRecords
// and the process-wide decoder state.
#pragma once

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
int UnpackFile(const char* destinationPath, const char* sourcePath, uint32_t progressTarget,
               ProgressCallback progressCallback, int32_t progressStart, int32_t progressEnd);

// The decoder state every UnpackFile call of the process shares, in call order.
DecoderState* UnpackDecoderState(void);
