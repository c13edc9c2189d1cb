#include "block_decoder.h"

#include <string.h>

namespace {

// The widest window the machine shifts in one instruction: 64 bits on 64-bit
// machines, 32 on i686, where 64-bit shifts take several.
#if UINTPTR_MAX > 0xFFFFFFFFu
typedef uint64_t BitWindow;
#else
typedef uint32_t BitWindow;
#endif
const uint32_t WindowBits = 8 * sizeof(BitWindow);

// The bit stream of one block: bytes from index 0, most significant bit
// first. Bytes are loaded into a window ahead of need; bytes past the packed
// bytes read as 0 and are never fetched from memory.
struct BitReader {
  const uint8_t* input;
  uint32_t packedSize;
  uint32_t position;  // bytes loaded into the window
  BitWindow window;   // the next bit in the top bit
  uint32_t count;     // valid bits in window; the bits below them are those of the next bytes, or 0

  // Fills the window to at least WindowBits - 7 bits.
  void Refill() {
#if UINTPTR_MAX > 0xFFFFFFFFu
    if (packedSize - position >= 8 && position <= packedSize) {
      // Eight bytes at once; those that do not fit whole are loaded again by
      // the next refill, onto the same bits.
      uint64_t next;
      memcpy(&next, input + position, 8);
      window |= __builtin_bswap64(next) >> count;
      uint32_t bytes = (63 - count) >> 3;
      position += bytes;
      count += 8 * bytes;
      return;
    }
#endif
    while (count <= WindowBits - 8) {
      BitWindow byte = position < packedSize ? input[position] : 0;
      ++position;
      window |= byte << (WindowBits - 8 - count);
      count += 8;
    }
  }
  uint32_t Bit() {
    if (count == 0) Refill();
    uint32_t bit = (uint32_t)(window >> (WindowBits - 1));
    window <<= 1;
    --count;
    return bit;
  }
  uint32_t Bits(uint32_t n) {
    if (count < n) Refill();
    uint32_t value = (uint32_t)(window >> (WindowBits - n));
    window <<= n;
    count -= n;
    return value;
  }
  // Bits handed out so far.
  uint32_t Consumed() const { return 8 * position - count; }
};

// Walks the tree from the root, noting the positions passed: the first
// TopLevels levels at once from the table (built again first if an exchange
// made it stale), then one bit per level. Then counts the symbol along that
// path. The window holds more bits than a code takes but for the deepest
// trees; those go on bit by bit.
inline uint32_t DecodeSymbol(DecoderState* state, BitReader* bits) {
  CodeTree* tree = &state->tree;
  const TreeEntry* child = tree->NodeChild;
  TreeEntry* path = state->path;
  if (bits->count < WindowBits - 8) bits->Refill();
  if (tree->TopStale) BuildTopTable(tree);
  BitWindow window = bits->window;
  uint32_t available = bits->count;  // at least TopLevels after the refill
  const TopStep* top = &tree->Top[window >> (WindowBits - TopLevels)];
  path[0] = (TreeEntry)RootNode;
  memcpy(path + 1, top->path, sizeof top->path);
  uint32_t depth = top->depth;
  uint32_t v = top->node;
  window <<= depth;
  while (v < NodeCount && depth < available) {
    uint32_t at = v + (uint32_t)(window >> (WindowBits - 1));
    window <<= 1;
    path[++depth] = (TreeEntry)at;
    v = child[at];
  }
  bits->window = window;
  bits->count = available - depth;
  while (v < NodeCount) {
    uint32_t at = v + bits->Bit();
    path[++depth] = (TreeEntry)at;
    v = child[at];
  }
  uint32_t symbol = v - NodeCount;
  UpdateTreeAlongPath(tree, symbol, path, depth);
  return symbol;
}

// Writes `length` copies of `byte` at output[*count], dropping what would pass
// the buffer. The count always advances by the full length, so the block ends
// exactly where an unbounded decoder would end it.
void EmitBytes(uint8_t* output, uint32_t* count, uint32_t byte, uint32_t length, uint32_t* result) {
  uint32_t at = *count;
  uint32_t fit = length;
  if (at >= BlockBufferSize) {
    fit = 0;
  } else if (BlockBufferSize - at < length) {
    fit = BlockBufferSize - at;
  }
  if (fit < length) *result |= DecodeOutputOverflow;
  if (fit != 0) memset(output + at, (int)byte, fit);
  *count = at + length;
}

// Copies `length` tokens from the ring at source to the ring at writeIndex,
// one at a time, each read before it is stored, so a source that runs into
// the tokens being stored repeats them. Writes their bytes, all of which fit
// the buffer. Returns the new output count.
inline uint32_t CopyTokens(uint32_t* ring, uint32_t writeIndex, uint32_t source, uint32_t length,
                           uint8_t* output, uint32_t outCount) {
  if (writeIndex + length <= RingSize && source + length <= RingSize) {
    uint32_t* to = ring + writeIndex;
    const uint32_t* from = ring + source;
    for (uint32_t i = 0; i < length; ++i) {
      uint32_t token = from[i];
      to[i] = token;
      if (token <= 0xFF) {
        output[outCount++] = (uint8_t)token;
      } else {
        uint32_t n = TokenLength(token);
        memset(output + outCount, (int)TokenByte(token), n);
        outCount += n;
      }
    }
    return outCount;
  }
  for (uint32_t i = 0; i < length; ++i) {
    uint32_t token = ring[source];
    ring[writeIndex] = token;
    uint32_t n = TokenLength(token);
    memset(output + outCount, (int)TokenByte(token), n);
    outCount += n;
    writeIndex = (writeIndex + 1) & RingMask;
    source = (source + 1) & RingMask;
  }
  return outCount;
}

}  // namespace

void ResetDecoderState(DecoderState* state) {
  for (uint32_t i = 0; i < RingSize; ++i) state->TokenRing[i] = 0;
}

uint32_t DecodeBlock(DecoderState* state, uint8_t* output, uint32_t expandedSize, const uint8_t* input,
                     uint32_t packedSize) {
  BitReader bits = {input, packedSize, 0, 0, 0};
  uint32_t* ring = state->TokenRing;
  uint32_t writeIndex = 0;
  uint32_t outCount = 0;
  uint32_t result = DecodeOk;

  ResetTree(&state->tree);
  if (expandedSize == 0) return result;
  // A block that cannot fit the buffer is refused whole; the record reader
  // never asks for one.
  if (expandedSize > BlockBufferSize) return DecodeOutputOverflow;

  // The end test comes after each whole symbol: a run or a match is never cut
  // short, and all of its tokens reach the ring. A run's value and count
  // symbols come round the loop like the others, so that the tree walk is
  // written once and stays in registers.
  uint32_t runSymbols = 0;  // of a run still to come: 2 the value, 1 the count
  uint32_t runValue = 0;
  for (;;) {
    uint32_t symbol = DecodeSymbol(state, &bits);
    if (runSymbols == 0 && symbol < FirstMatchSymbol) {
      // Below expandedSize, so within the buffer.
      ring[writeIndex] = symbol;
      writeIndex = (writeIndex + 1) & RingMask;
      output[outCount++] = (uint8_t)symbol;
    } else if (runSymbols == 0 && symbol == RunSymbol) {
      runSymbols = 2;
      continue;
    } else if (runSymbols == 2) {
      runValue = symbol;
      runSymbols = 1;
      continue;
    } else if (runSymbols == 1) {
      runSymbols = 0;
      ring[writeIndex] = runValue | (symbol << 8);
      writeIndex = (writeIndex + 1) & RingMask;
      EmitBytes(output, &outCount, runValue & 0xFF, symbol + MinRunBytes, &result);
    } else {
      uint32_t distance = bits.Bits(DistanceBits);
      uint32_t length = symbol - MatchSymbolBias;
      uint32_t source = (writeIndex - distance - 1) & RingMask;
      if (outCount + length * MaxRunBytes <= BlockBufferSize) {
        outCount = CopyTokens(ring, writeIndex, source, length, output, outCount);
        writeIndex = (writeIndex + length) & RingMask;
      } else {
        // Near the end of the buffer: every token's bytes are bounded.
        for (uint32_t i = 0; i < length; ++i) {
          uint32_t token = ring[source];
          ring[writeIndex] = token;
          EmitBytes(output, &outCount, TokenByte(token), TokenLength(token), &result);
          writeIndex = (writeIndex + 1) & RingMask;
          source = (source + 1) & RingMask;
        }
      }
    }
    if (outCount >= expandedSize) break;
  }

  // The bytes past the packed bytes read as 0; a block whose symbols took
  // any of those bits ran out of data before its expansion was complete.
  if ((bits.Consumed() + 7) / 8 > packedSize) result |= DecodeInputOverrun;
  return result;
}
