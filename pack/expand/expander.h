// The decoder a chain of pack files expands through, and where their bytes
// go. Every file of expand/ uses it; it uses only the format (unpack/).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <memory>

#include "block_decoder.h"

// The decoder and the record loop's two buffers, shared by the files of one
// expansion. The buffers are not cleared: the record loop reads only what it
// has filled, and clearing them costs more than the expansion of a small file.
struct PackExpander {
  DecoderState decoder;
  std::unique_ptr<uint8_t[]> input{new uint8_t[BlockBufferSize]};
  std::unique_ptr<uint8_t[]> output{new uint8_t[BlockBufferSize]};
};

// Where the expansion of a pack file goes, record by record, as it comes.
class ExpansionSink {
 public:
  virtual void Take(const uint8_t* data, size_t size) = 0;

 protected:
  ~ExpansionSink() = default;
};
