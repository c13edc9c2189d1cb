#include "legacy_decoder.h"

namespace legacy {

namespace {

inline void ResetTree(CodeTree* tree) {
  for (uint32_t s = 0; s < SymbolCount; ++s) {
    tree->NodeFreq[s] = 1;
    tree->NodeChild[s] = NodeCount + s;
    tree->NodeParent[NodeCount + s] = s;
  }
  for (uint32_t j = SymbolCount; j < NodeCount; ++j) {
    uint32_t i = 2 * (j - SymbolCount);
    tree->NodeChild[j] = i;
    tree->NodeParent[i] = j;
    tree->NodeParent[i + 1] = j;
    tree->NodeFreq[j] = tree->NodeFreq[i] + tree->NodeFreq[i + 1];
  }
  tree->NodeFreq[NodeCount] = 0xFFFFFFFFu;
  tree->NodeParent[RootNode] = 0;
}

inline void RebuildTree(CodeTree* tree) {
  uint32_t* freq = tree->NodeFreq;
  uint32_t* child = tree->NodeChild;

  // Gather the leaves at the bottom, in their present order, with halved counts.
  uint32_t j = 0;
  for (uint32_t i = 0; i < NodeCount; ++i) {
    if (IsLeafEntry(child[i])) {
      freq[j] = (freq[i] + 1) / 2;
      child[j] = child[i];
      ++j;
    }
  }

  // Pair positions (0,1), (2,3), ... into internal nodes, each inserted just
  // above the highest node whose frequency does not exceed its own. The
  // entries above the insertion point move up by one; the loops run downward
  // so that the overlapping ranges behave as moves.
  for (j = SymbolCount; j < NodeCount; ++j) {
    uint32_t i = 2 * (j - SymbolCount);
    uint32_t f = freq[i] + freq[i + 1];
    uint32_t k = j - 1;
    while (f < freq[k]) --k;
    ++k;
    for (uint32_t m = j; m > k; --m) {
      freq[m] = freq[m - 1];
      child[m] = child[m - 1];
    }
    freq[k] = f;
    child[k] = i;
  }

  for (uint32_t i = 0; i < NodeCount; ++i) {
    uint32_t y = child[i];
    tree->NodeParent[y] = i;
    if (!IsLeafEntry(y)) tree->NodeParent[y + 1] = i;
  }
}

// First position from `from` on whose frequency is at least k. Frequencies
// never decrease with the position and the sentinel ends the table, so a
// short step-by-step look (the common case) is followed by a galloping binary
// search: long runs of equal frequencies, as in a fresh tree, cost a few
// steps instead of hundreds.
inline uint32_t FirstPositionAtLeast(const uint32_t* freq, uint32_t from, uint32_t k) {
  for (uint32_t i = 0; i < 4; ++i) {
    if (freq[from + i] >= k) return from + i;
  }
  uint32_t below = from + 3;  // freq[below] < k
  uint32_t step = 4;
  uint32_t above = below + step;
  while (above < NodeCount && freq[above] < k) {
    below = above;
    step *= 2;
    above = below + step;
  }
  if (above > NodeCount) above = NodeCount;  // the sentinel is at least k
  while (above - below > 1) {
    uint32_t mid = below + (above - below) / 2;
    if (freq[mid] >= k) {
      above = mid;
    } else {
      below = mid;
    }
  }
  return above;
}

inline void UpdateTree(CodeTree* tree, uint32_t symbol) {
  uint32_t* freq = tree->NodeFreq;
  uint32_t* child = tree->NodeChild;
  uint32_t* parent = tree->NodeParent;

  if (freq[RootNode] == RebuildLimit) RebuildTree(tree);

  uint32_t p = parent[NodeCount + symbol];
  do {
    uint32_t k = ++freq[p];
    if (k > freq[p + 1]) {
      // Positions p+1..l hold k-1; move node p to l, the top of that run,
      // and the node from l down to p. Each position keeps its own parent
      // entry, so the two subtrees change parents.
      uint32_t l = FirstPositionAtLeast(freq, p + 2, k) - 1;
      freq[p] = freq[l];
      freq[l] = k;

      uint32_t i = child[p];
      parent[i] = l;
      if (!IsLeafEntry(i)) parent[i + 1] = l;

      uint32_t jj = child[l];
      child[l] = i;
      parent[jj] = p;
      if (!IsLeafEntry(jj)) parent[jj + 1] = p;
      child[p] = jj;

      p = l;
    }
    p = parent[p];
  } while (p != 0);
}

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

}  // namespace legacy
