// Any bytes as a pack file through the record loop: no read or write outside
// the buffers, every failure with a message, and a success only when the
// records account for the whole file.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "record_reader.h"

namespace {

struct Source {
  const uint8_t* data;
  size_t size;
  size_t at;
  size_t written;
};

uint32_t Read(void* c, uint8_t* buffer, uint32_t size) {
  Source* s = static_cast<Source*>(c);
  size_t n = s->size - s->at < size ? s->size - s->at : size;
  memcpy(buffer, s->data + s->at, n);
  s->at += n;
  return (uint32_t)n;
}

uint32_t Write(void* c, const uint8_t* buffer, uint32_t size) {
  Source* s = static_cast<Source*>(c);
  volatile uint8_t sink = 0;
  for (uint32_t i = 0; i < size; ++i) sink ^= buffer[i];  // touch every byte written
  (void)sink;
  s->written += size;
  return size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static DecoderState decoder;
  uint8_t* input = (uint8_t*)calloc(BlockBufferSize, 1);
  uint8_t* output = (uint8_t*)calloc(BlockBufferSize, 1);
  Source source = {data, size, 0, 0};
  RecordIo io = {&source, Read, Write, nullptr};
  char error[256] = "";
  RecordPosition at;
  int ok =
      ReadRecords(&decoder, &io, (uint32_t)size, input, output, nullptr, error, sizeof error, &at, nullptr);
  if (!ok && error[0] == '\0') abort();  // a failure always says why
  if (ok && source.at < size) abort();   // success consumed the whole file
  free(input);
  free(output);
  return 0;
}
