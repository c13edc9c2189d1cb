// Hand-made compressed blocks for tests: symbols coded with the adaptive code
// exactly as the decoder expects them.
#pragma once

#include <stdint.h>

#include <vector>

#include "code_tree.h"

// Writes bits most significant first, the way the decoder reads them, and keeps
// a code tree in step so that later symbols get their adapted codes.
class BitWriter {
 public:
  BitWriter() { ResetTree(&tree_); }

  void Bits(uint32_t value, uint32_t count) {
    for (uint32_t i = count; i-- > 0;) {
      if (used_ % 8 == 0) bytes_.push_back(0);
      if ((value >> i) & 1) bytes_.back() |= (uint8_t)(0x80 >> (used_ % 8));
      ++used_;
    }
  }
  void Symbol(uint32_t symbol) {
    SymbolCode code = CodeOfSymbol(&tree_, symbol);
    Bits(code.bits, code.length);
    UpdateTree(&tree_, symbol);
  }
  void Literal(uint8_t byte) { Symbol(byte); }
  void Run(uint8_t byte, uint32_t countSymbol) {
    Symbol(RunSymbol);
    Symbol(byte);
    Symbol(countSymbol);
  }
  void Match(uint32_t tokens, uint32_t distance) {
    Symbol(tokens + MatchSymbolBias);
    Bits(distance, 12);
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  CodeTree tree_;
  std::vector<uint8_t> bytes_;
  uint32_t used_ = 0;
};

// A block whose output passes the 63,488-byte buffer: 63,487 bytes of runs
// and literals, then a run of 10 bytes.
inline std::vector<uint8_t> OverflowingBlock() {
  BitWriter w;
  uint32_t produced = 0;
  while (produced + 316 <= BlockBufferSize - 1) {
    w.Run('a', 313);
    produced += 316;
  }
  while (produced < BlockBufferSize - 1) {
    w.Literal('b');
    ++produced;
  }
  w.Run('c', 7);
  return w.bytes();
}
