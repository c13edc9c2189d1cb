// Any bytes through the encoder and back through the decoder must come out
// unchanged, in two files packed through one state.
#include <stdint.h>
#include <stdlib.h>

#include <memory>
#include <vector>

#include "encoder.h"
#include "pack_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  auto state = std::make_unique<EncoderState>();
  state->options.runThreshold = data[0] % 12;
  state->options.chainLimit = 1 + data[1] % 64;
  state->options.parsePasses = 1 + data[1] % 3;
  state->options.splitBlocks = (data[0] & 0x80) != 0;
  size_t split = size / 3;
  std::vector<uint8_t> first(data + 2, data + 2 + (split > 2 ? split - 2 : 0));
  std::vector<uint8_t> second(data + 2 + first.size(), data + size);
  // Repeat the input so that long runs and far matches occur.
  std::vector<uint8_t> repeated = second;
  for (int i = 0; i < 3; ++i) repeated.insert(repeated.end(), first.begin(), first.end());

  std::vector<std::vector<uint8_t>> packed(2), expanded;
  PackBuffer(state.get(), first.data(), first.size(), &packed[0], nullptr, nullptr);
  PackBuffer(state.get(), repeated.data(), repeated.size(), &packed[1], nullptr, nullptr);
  std::string error;
  if (!ExpandPackedData(packed, &expanded, nullptr, nullptr, &error)) abort();
  if (expanded[0] != first || expanded[1] != repeated) abort();
  return 0;
}
