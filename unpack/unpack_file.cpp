#include "unpack_file.h"

#include <windows.h>

#include "bounded_format.h"
#include "pump_messages.h"
#include "seal.h"

char LastErrorText[LastErrorTextSize];

namespace {

// Zero-initialised like a process's first state: the ring starts as 4096 zero
// tokens and is never cleared, so the script's blocks and then the
// installer's pass through one history.
DecoderState ProcessUnpackDecoder;

// The record loop offers to pump messages four times a record. Under Wine
// every look at the queue is a call to its server (about 12 us, a twentieth
// of the expansion at four a record), and a dialog is answered in time with
// a look every few milliseconds: an offer is taken once about 2 ms (a 512th
// of a second, by the performance counter) have passed since the last look.
// (GetTickCount would not do: Wine moves it on in steps of about 16 ms, and
// answers then took 26 ms at worst instead of 5.)
const int PumpIntervalShift = 9;

struct FileIo {
  HANDLE source;
  DWORD sourceLeft;  // bytes of the source's range not read yet
  HANDLE destination;
  Sha256State* sealHash;  // NULL when there is no seal to match
  DWORD pumpInterval;     // in counter ticks
  DWORD lastPump;         // the counter (its low 32 bits) at the last look
};

uint32_t ReadSource(void* context, uint8_t* buffer, uint32_t size) {
  FileIo* files = static_cast<FileIo*>(context);
  // The range ends the source as the end of a file would: a pack file
  // carried inside another file never reads the bytes after it.
  if (size > files->sourceLeft) size = files->sourceLeft;
  DWORD got = 0;
  if (!ReadFile(files->source, buffer, size, &got, NULL)) {
    // A failed read may still report what it delivered; count only that.
  }
  if (got > size) got = size;
  files->sourceLeft -= got;
  // The bytes that are expanded are the bytes that are hashed: one handle,
  // one pass, so the file cannot change between the check and its use.
  if (files->sealHash) Sha256Update(files->sealHash, buffer, got);
  return got;
}

uint32_t WriteDestination(void* context, const uint8_t* buffer, uint32_t size) {
  DWORD written = 0;
  if (!WriteFile(static_cast<FileIo*>(context)->destination, buffer, size, &written, NULL)) {
    // As above: what was stored is what counts.
  }
  return written;
}

// The low 32 bits of the performance counter: differences of them are right
// for as long as the counter takes to pass 2^32 ticks, seconds at the least,
// far longer than a step of the record loop.
DWORD CounterNow() {
  LARGE_INTEGER now;
  now.QuadPart = 0;
  QueryPerformanceCounter(&now);
  return now.LowPart;
}

// The pump interval in counter ticks; 0 (every offer taken) without a counter.
DWORD PumpInterval() {
  LARGE_INTEGER frequency;
  frequency.QuadPart = 0;
  QueryPerformanceFrequency(&frequency);
  return (DWORD)(frequency.QuadPart >> PumpIntervalShift);
}

void Pump(void* context) {
  FileIo* files = static_cast<FileIo*>(context);
  DWORD now = CounterNow();
  if (now - files->lastPump < files->pumpInterval) return;
  files->lastPump = now;
  PumpMessages();
}

// Steps 4 to 8 of an expansion, from total bytes of source at its file
// pointer; sourceName names the source in messages.
int ExpandSource(const char* destinationPath, HANDLE source, DWORD total, const char* sourceName,
                 uint32_t progressTarget, ProgressCallback progressCallback, int32_t progressStart,
                 int32_t progressEnd, const uint8_t* sealEntry) {
  int result = 0;
  SetErrorMode(SEM_NOOPENFILEERRORBOX);  // never set back
  HANDLE destination = CreateFileA(destinationPath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (destination == INVALID_HANDLE_VALUE) {
    FormatBounded(LastErrorText, LastErrorTextSize, "Open dest file '%s' error", destinationPath);
    return 0;
  }

  HANDLE heap = GetProcessHeap();
  uint8_t* output = static_cast<uint8_t*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, BlockBufferSize));
  uint8_t* input = output ? static_cast<uint8_t*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, BlockBufferSize)) : NULL;
  if (output == NULL || input == NULL) {
    CopyBounded(LastErrorText, "No memory", LastErrorTextSize);
  } else {
    result = 1;
    PumpMessages();
    Sha256State sealHash;
    Sha256Init(&sealHash);
    if (total != 0) {
      FileIo files = {source, total, destination, sealEntry ? &sealHash : NULL, PumpInterval(), CounterNow()};
      RecordIo io = {&files, ReadSource, WriteDestination, Pump};
      RecordProgress progress = {progressTarget, progressCallback, progressStart, progressEnd};
      result = ReadRecords(&ProcessUnpackDecoder, &io, total, input, output, &progress, LastErrorText,
                           LastErrorTextSize, NULL, NULL);
    }
    if (result && sealEntry && !MatchesSealEntry(&sealHash, sealEntry)) {
      FormatBounded(LastErrorText, LastErrorTextSize, "Seal mismatch '%s'", sourceName);
      result = 0;
    }
  }

  if (output) HeapFree(heap, 0, output);
  if (input) HeapFree(heap, 0, input);
  CloseHandle(destination);
  return result;
}

}  // namespace

DecoderState* UnpackDecoderState(void) { return &ProcessUnpackDecoder; }

int UnpackFile(const char* destinationPath, const char* sourcePath, uint32_t progressTarget,
               ProgressCallback progressCallback, int32_t progressStart, int32_t progressEnd,
               const uint8_t* sealEntry) {
  if (destinationPath == NULL || sourcePath == NULL) return 0;

  LastErrorText[0] = '\0';
  PumpMessages();

  SetErrorMode(SEM_NOOPENFILEERRORBOX);
  // Other readers of the media are welcome; writers stay out while it is read.
  HANDLE source = CreateFileA(sourcePath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (source == INVALID_HANDLE_VALUE) {
    FormatBounded(LastErrorText, LastErrorTextSize, "Open source file '%s' error", sourcePath);
    return 0;
  }
  // The format measures a file in 32 bits: a larger one is damaged, never
  // read as a shorter one.
  int result = 0;
  DWORD high = 0;
  DWORD total = GetFileSize(source, &high);
  if (high != 0) {
    FormatBounded(LastErrorText, LastErrorTextSize, "Source file '%s' too large", sourcePath);
  } else {
    result = ExpandSource(destinationPath, source, total, sourcePath, progressTarget, progressCallback,
                          progressStart, progressEnd, sealEntry);
  }
  CloseHandle(source);
  return result;
}

int SourceRangeMatches(HANDLE source, uint32_t offset, uint32_t length, const uint8_t* sealed) {
  Sha256State hash;
  Sha256Init(&hash);
  // The please-wait dialog stays answering while a large download is read.
  FileIo files = {source, length, NULL, &hash, PumpInterval(), CounterNow()};
  // With its high half: without it, an offset of 2 GiB or more would be
  // taken as negative, refused, and the pointer left where it was.
  LONG high = 0;
  SetFilePointer(source, (LONG)offset, &high, FILE_BEGIN);
  uint8_t buffer[2048];
  while (ReadSource(&files, buffer, sizeof(buffer)) != 0) Pump(&files);
  return MatchesSealEntry(&hash, sealed);
}

int UnpackFileFrom(const char* destinationPath, HANDLE source, uint32_t offset, uint32_t length,
                   const char* sourceName, const uint8_t* sealEntry) {
  if (destinationPath == NULL || sourceName == NULL || source == INVALID_HANDLE_VALUE) return 0;
  LastErrorText[0] = '\0';
  PumpMessages();
  // With its high half, as above; past the end, reads deliver nothing.
  LONG high = 0;
  SetFilePointer(source, (LONG)offset, &high, FILE_BEGIN);
  return ExpandSource(destinationPath, source, length, sourceName, 0, NULL, 0, 0, sealEntry);
}
