// The adaptive Huffman model shared by the block decoder and the encoder.
//
// Node positions 0-626 are kept ordered by frequency (never decreasing), the
// two children of an internal node sit at adjacent positions, and the root
// stays at position 626. The tree starts every block in the same shape and is
// adjusted after every symbol, so no code table travels in the file; encoder
// and decoder stay in step by applying the same updates in the same order.
//
// The rules of the update and the rebuild live here alone: the encoder counts
// a symbol from its leaf (UpdateTree), the decoder along the path it has just
// walked (UpdateTreeAlongPath), and both exchange nodes through ExchangeUp.
#pragma once

#include <stdint.h>

#include "pack_format.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Entries of 16 bits: positions and symbols stay below 941, and a frequency
// never passes RebuildLimit (the root holds the largest, and the tree is
// rebuilt when it reaches the limit), so the sentinel 0xFFFF exceeds them all.
// Half the width of the format's 32-bit description, twice as many entries a
// cache line; the values are the same.
typedef uint16_t TreeEntry;
static const uint32_t FreqSentinel = 0xFFFF;
// Entries past the sentinel, so that a search may read 8 frequencies at once
// from any position up to it.
static const uint32_t FreqPadding = 12;
// A parent entry nothing reads: the second child's link of a leaf goes there,
// so that an exchange writes both links without asking which kind it moved.
static const uint32_t ParentScratch = NodeCount + SymbolCount;

// Hints to where runs of equal frequencies end, by the frequency's low bits.
static const uint32_t RunTopHints = 1024;

// The decoder takes the first levels of its walk from a table: the next
// TopLevels bits pick the positions the walk passes there and the node it
// reaches (a leaf, if the code is that short).
static const uint32_t TopLevels = 4;
struct TopStep {
  TreeEntry path[TopLevels];  // the positions passed, root's child first
  TreeEntry node;             // the child entry reached after them
  TreeEntry depth;            // levels passed: TopLevels, or fewer when node is a leaf
};

struct CodeTree {
  // Frequency of the node at each position; entry 627 is a sentinel that ends
  // every upward scan, the padding after it holds the sentinel too.
  TreeEntry NodeFreq[NodeCount + 1 + FreqPadding];
  // First child's position for an internal node, 627 + symbol for a leaf.
  TreeEntry NodeChild[NodeCount];
  // 0-626: parent position of the node at each position (the root's is 0).
  // 627-940: position of the leaf of symbol (index - 627). 941: scratch.
  TreeEntry NodeParent[NodeCount + SymbolCount + 1];
  // The last known top position of the run of each frequency (modulo
  // RunTopHints). Only a guess: it is checked before use, so a stale one
  // costs the search and nothing else.
  TreeEntry RunTop[RunTopHints];
  // The table of the walk's first levels and the lowest position whose child
  // link it copied. An exchange reaching that position, or a rebuild, makes
  // it stale, and the decoder builds it again before its next walk. (The
  // encoder never builds it; for it the flag is merely set.)
  TopStep Top[1u << TopLevels];
  uint32_t TopFloor;
  uint32_t TopStale;
};

// Builds the initial tree: every symbol with frequency 1, symbol s at position s.
void ResetTree(CodeTree* tree);

// Halves every leaf frequency (rounding up) and rebuilds the internal nodes.
void RebuildTree(CodeTree* tree);

// Fills the table of the walk's first levels from the present tree.
void BuildTopTable(CodeTree* tree);

static inline bool IsLeafEntry(uint32_t child) { return child >= NodeCount; }

// Where the parent link of the sibling of the node child names goes: the next
// position for an internal node, the scratch entry for a leaf.
// Computed without a branch: which kind was moved is as good as random, and a
// mispredicted branch here cost more than the arithmetic.
static inline uint32_t SecondChildSlot(uint32_t child) {
  uint32_t leaf = 0u - (uint32_t)IsLeafEntry(child);  // all ones for a leaf
  return ((child + 1) & ~leaf) | (ParentScratch & leaf);
}

// First position from `from` on whose frequency is at least k. Frequencies
// never decrease with the position and the sentinel ends the table. Most runs
// of equal frequencies are short; long ones, as in a fresh tree, are crossed
// by galloping, or 8 positions a step where the machine compares 8 at once.
static inline uint32_t FirstPositionAtLeast(const TreeEntry* freq, uint32_t from, uint32_t k) {
#if defined(__SSE2__)
  // freq >= k exactly where k - freq saturates to 0.
  const __m128i key = _mm_set1_epi16((short)k);
  const __m128i zero = _mm_setzero_si128();
  for (;; from += 8) {
    __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(freq + from));
    uint32_t hits = (uint32_t)_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_subs_epu16(key, f), zero));
    if (hits != 0) return from + (uint32_t)__builtin_ctz(hits) / 2;
  }
#else
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
#endif
}

// Node p has just been counted to k and passed the node above it. Positions
// p+1..l hold k-1, the count p had; node p moves to l, the top of that run,
// and the node from l down to p. Each position keeps its own parent entry, so
// the two subtrees change parents. Returns l.
static inline uint32_t ExchangeUp(CodeTree* tree, uint32_t p, uint32_t k) {
  TreeEntry* freq = tree->NodeFreq;
  TreeEntry* child = tree->NodeChild;
  TreeEntry* parent = tree->NodeParent;
  // l is the one position above p that holds k - 1 below one that holds more.
  TreeEntry* hint = &tree->RunTop[(k - 1) & (RunTopHints - 1)];
  uint32_t l = *hint;
  if (!(l > p && l < NodeCount && freq[l] == k - 1 && freq[l + 1] >= k))
    l = FirstPositionAtLeast(freq, p + 2, k) - 1;
  *hint = (TreeEntry)(l - 1);             // the run's top once p holds k - 1 and l holds k
  tree->TopStale |= l >= tree->TopFloor;  // p < l: only l need be compared
  freq[p] = (TreeEntry)(k - 1);
  freq[l] = (TreeEntry)k;

  uint32_t i = child[p];
  parent[i] = (TreeEntry)l;
  parent[SecondChildSlot(i)] = (TreeEntry)l;

  uint32_t j = child[l];
  child[l] = (TreeEntry)i;
  parent[j] = (TreeEntry)p;
  parent[SecondChildSlot(j)] = (TreeEntry)p;
  child[p] = (TreeEntry)j;
  return l;
}

// Counts one occurrence at position p and at every ancestor, by the parent
// links, exchanging nodes wherever the order breaks. The root is counted
// last and alone: it never moves (the sentinel is above it).
static inline void CountFrom(CodeTree* tree, uint32_t p) {
  TreeEntry* freq = tree->NodeFreq;
  while (p != RootNode) {
    uint32_t k = ++freq[p];
    if (k > freq[p + 1]) p = ExchangeUp(tree, p, k);
    p = tree->NodeParent[p];
  }
  ++freq[RootNode];
}

// Counts one occurrence of symbol and restores the frequency order, rebuilding
// the tree first when the root has reached RebuildLimit (tested before any
// count of this symbol rises).
void UpdateTree(CodeTree* tree, uint32_t symbol);

// The same update for the symbol whose leaf the decoder has just reached:
// path[0] is the root, path[depth] the leaf, each the parent of the next.
// While the node counted sits on the path, its ancestors are those of the
// path, so their parent links need not be loaded. An exchange moves it off
// the path, and the count goes on from its new parent by the links. (Staying
// on the path where the new parent is the path's next node was measured
// slower: the test costs more than the links it saves.)
static inline void UpdateTreeAlongPath(CodeTree* tree, uint32_t symbol, const TreeEntry* path,
                                       uint32_t depth) {
  TreeEntry* freq = tree->NodeFreq;
  if (freq[RootNode] == RebuildLimit) {
    RebuildTree(tree);
    CountFrom(tree, tree->NodeParent[NodeCount + symbol]);
    return;
  }
  for (uint32_t at = depth; at != 0; --at) {
    uint32_t p = path[at];
    uint32_t k = ++freq[p];
    if (k > freq[p + 1]) {
      CountFrom(tree, tree->NodeParent[ExchangeUp(tree, p, k)]);
      return;
    }
  }
  ++freq[RootNode];
}

// The current code of symbol: its bits, first bit sent in the most significant
// of the `length` low bits of the result.
struct SymbolCode {
  uint32_t bits;
  uint32_t length;
};
SymbolCode CodeOfSymbol(const CodeTree* tree, uint32_t symbol);

// Depth of symbol's leaf, i.e. the length of its current code in bits.
uint32_t CodeLength(const CodeTree* tree, uint32_t symbol);
