// What UnpackFile spends outside decoding and checking, on the real Win32
// file and message calls: each round expands one pack file twice, in turn,
// through the record loop from memory with its bytes dropped (decoding and
// checking only), and with UnpackFile into a new file, and prints the median
// of the rounds' shares of wall time outside the first.
//
//   unpack_file_bench.exe PACKED [ROUNDS] [--seal]
//
// --seal hashes the pack file in both, as a sealed setup.exe does. Run it
// under scripts/wine-run.sh --win64; it writes unpack_file_bench.out in the
// current folder and removes it at the end.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <algorithm>
#include <vector>

#include "record_reader.h"
#include "seal.h"
#include "unpack_file.h"

namespace {

double Seconds() {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return (double)now.QuadPart / (double)frequency.QuadPart;
}

struct MemorySource {
  const std::vector<uint8_t>* bytes;
  size_t at;
  Sha256State* hash;  // NULL: not sealed
};

uint32_t ReadMemory(void* context, uint8_t* buffer, uint32_t size) {
  MemorySource* source = static_cast<MemorySource*>(context);
  uint32_t n = (uint32_t)std::min<size_t>(size, source->bytes->size() - source->at);
  memcpy(buffer, source->bytes->data() + source->at, n);
  if (source->hash) Sha256Update(source->hash, buffer, n);
  source->at += n;
  return n;
}

uint32_t DropBytes(void*, const uint8_t*, uint32_t size) { return size; }

// Decoding and checking alone; true when the file expands whole.
bool ExpandInMemory(const std::vector<uint8_t>& packed, const uint8_t* sealEntry) {
  static DecoderState decoder;
  static uint8_t input[BlockBufferSize + 1], output[BlockBufferSize];
  ResetDecoderState(&decoder);
  Sha256State hash;
  Sha256Init(&hash);
  MemorySource source = {&packed, 0, sealEntry ? &hash : NULL};
  RecordIo io = {&source, ReadMemory, DropBytes, NULL};
  char text[256];
  bool ok = ReadRecords(&decoder, &io, (uint32_t)packed.size(), input, output, NULL, text, sizeof text, NULL,
                        NULL) != 0;
  return ok && (!sealEntry || MatchesSealEntry(&hash, sealEntry));
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: unpack_file_bench PACKED [ROUNDS] [--seal]\n");
    return 2;
  }
  const char* source = argv[1];
  int rounds = argc > 2 ? atoi(argv[2]) : 11;
  bool sealed = argc > 3 && strcmp(argv[3], "--seal") == 0;
  const char* destination = "unpack_file_bench.out";

  std::vector<uint8_t> packed;
  FILE* file = fopen(source, "rb");
  if (!file) {
    fprintf(stderr, "cannot open %s\n", source);
    return 1;
  }
  uint8_t buffer[1 << 16];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) packed.insert(packed.end(), buffer, buffer + n);
  fclose(file);

  // The seal's entry for the file: its length and SHA-256.
  uint8_t entry[SealEntrySize];
  uint64_t length = packed.size();
  memcpy(entry, &length, 8);
  Sha256State hash;
  Sha256Init(&hash);
  Sha256Update(&hash, packed.data(), (uint32_t)packed.size());
  Sha256Final(&hash, entry + 8);

  std::vector<double> memory, unpacked, outside;
  for (int round = 0; round < rounds; ++round) {
    DeleteFileA(destination);  // a new file, as setup.exe writes
    double start = Seconds();
    bool inMemory = ExpandInMemory(packed, sealed ? entry : NULL);
    double middle = Seconds();
    ResetDecoderState(UnpackDecoderState());
    bool throughFiles = UnpackFile(destination, source, 0, NULL, 0, 0, sealed ? entry : NULL) != 0;
    double end = Seconds();
    if (!inMemory || !throughFiles) {
      fprintf(stderr, "%s does not expand whole: %s\n", source, LastErrorText);
      return 1;
    }
    memory.push_back(middle - start);
    unpacked.push_back(end - middle);
    outside.push_back(1 - (middle - start) / (end - middle));
  }
  DeleteFileA(destination);
  printf(
      "%s, %zu bytes%s, %d rounds: in memory %.3f s, UnpackFile %.3f s (medians, wall time); "
      "outside decoding and checking %.1f %% (median of the rounds; %.1f to %.1f)\n",
      source, packed.size(), sealed ? ", sealed" : "", rounds, Median(memory), Median(unpacked),
      100 * Median(outside), 100 * *std::min_element(outside.begin(), outside.end()),
      100 * *std::max_element(outside.begin(), outside.end()));
  return 0;
}
