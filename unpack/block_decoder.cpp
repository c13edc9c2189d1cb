#include "block_decoder.h"

namespace {

// The bit stream of one block: bytes from index 0, most significant bit
// first. Bytes are loaded into a 32-bit window ahead of need; bytes past the
// packed bytes read as 0 and are never fetched from memory.
struct BitReader {
  const uint8_t* input;
  uint32_t packedSize;
  uint32_t position;  // bytes loaded into the window
  uint32_t window;    // the next bit in bit 31
  uint32_t count;     // valid bits in window

  void Refill() {
    while (count <= 24) {
      uint32_t byte = position < packedSize ? input[position] : 0;
      ++position;
      window |= byte << (24 - count);
      count += 8;
    }
  }
  uint32_t Bit() {
    if (count == 0) Refill();
    uint32_t bit = window >> 31;
    window <<= 1;
    --count;
    return bit;
  }
  uint32_t Bits(uint32_t n) {
    if (count < n) Refill();
    uint32_t value = window >> (32 - n);
    window <<= n;
    count -= n;
    return value;
  }
  // Bits handed out so far.
  uint32_t Consumed() const { return 8 * position - count; }
};

// Walks the tree from the root with one bit per level, then counts the symbol.
inline uint32_t DecodeSymbol(CodeTree* tree, BitReader* bits) {
  if (bits->count < 25) bits->Refill();
  uint32_t v = tree->NodeChild[RootNode];
  while (v < NodeCount) v = tree->NodeChild[v + bits->Bit()];
  uint32_t symbol = v - NodeCount;
  UpdateTree(tree, symbol);
  return symbol;
}

// Writes `length` copies of `byte` at output[*count], dropping what would pass
// the buffer. The count always advances by the full length, so the block ends
// exactly where an unbounded decoder would end it.
inline void EmitBytes(uint8_t* output, uint32_t* count, uint32_t byte, uint32_t length, uint32_t* result) {
  uint32_t at = *count;
  uint32_t fit = length;
  if (at >= BlockBufferSize) {
    fit = 0;
  } else if (BlockBufferSize - at < length) {
    fit = BlockBufferSize - at;
  }
  if (fit < length) *result |= DecodeOutputOverflow;
  for (uint32_t i = 0; i < fit; ++i) output[at + i] = (uint8_t)byte;
  *count = at + length;
}

}  // namespace

void ResetDecoderState(DecoderState* state) {
  for (uint32_t i = 0; i < RingSize; ++i) state->TokenRing[i] = 0;
}

uint32_t DecodeBlock(DecoderState* state, uint8_t* output, uint32_t expandedSize, const uint8_t* input,
                     uint32_t packedSize) {
  BitReader bits = {input, packedSize, 0, 0, 0};
  CodeTree* tree = &state->tree;
  uint32_t* ring = state->TokenRing;
  uint32_t writeIndex = 0;
  uint32_t outCount = 0;
  uint32_t result = DecodeOk;

  ResetTree(tree);
  if (expandedSize == 0) return result;
  // A block that cannot fit the buffer is refused whole; the record reader
  // never asks for one.
  if (expandedSize > BlockBufferSize) return DecodeOutputOverflow;

  // The end test comes after each whole symbol: a run or a match is never cut
  // short, and all of its tokens reach the ring.
  while (outCount < expandedSize) {
    uint32_t symbol = DecodeSymbol(tree, &bits);
    if (symbol < FirstMatchSymbol) {
      ring[writeIndex] = symbol;
      writeIndex = (writeIndex + 1) & RingMask;
      EmitBytes(output, &outCount, symbol, 1, &result);
    } else if (symbol == RunSymbol) {
      uint32_t value = DecodeSymbol(tree, &bits);
      uint32_t countSymbol = DecodeSymbol(tree, &bits);
      ring[writeIndex] = value | (countSymbol << 8);
      writeIndex = (writeIndex + 1) & RingMask;
      EmitBytes(output, &outCount, value & 0xFF, countSymbol + MinRunBytes, &result);
    } else {
      uint32_t distance = bits.Bits(8) << 4;
      distance |= bits.Bits(4);
      uint32_t length = symbol - MatchSymbolBias;
      uint32_t source = (writeIndex - distance - 1) & RingMask;
      // One token at a time, read before it is stored, so a source that runs
      // into the tokens being stored repeats them.
      for (uint32_t i = 0; i < length; ++i) {
        uint32_t token = ring[source];
        ring[writeIndex] = token;
        EmitBytes(output, &outCount, TokenByte(token), TokenLength(token), &result);
        writeIndex = (writeIndex + 1) & RingMask;
        source = (source + 1) & RingMask;
      }
    }
  }

  // The bytes past the packed bytes read as 0; a block whose symbols took
  // any of those bits ran out of data before its expansion was complete.
  if ((bits.Consumed() + 7) / 8 > packedSize) result |= DecodeInputOverrun;
  return result;
}
