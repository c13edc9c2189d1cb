// The adaptive Huffman model shared by the block decoder and the encoder.
//
// Node positions 0-626 are kept ordered by frequency (never decreasing), the
// two children of an internal node sit at adjacent positions, and the root
// stays at position 626. The tree starts every block in the same shape and is
// adjusted after every symbol, so no code table travels in the file; encoder
// and decoder stay in step by applying the same updates in the same order.
#pragma once

#include <stdint.h>

#include "pack_format.h"

struct CodeTree {
  // Frequency of the node at each position; entry 627 is a sentinel that ends
  // every upward scan.
  uint32_t NodeFreq[NodeCount + 1];
  // First child's position for an internal node, 627 + symbol for a leaf.
  uint32_t NodeChild[NodeCount];
  // 0-626: parent position of the node at each position (the root's is 0).
  // 627-940: position of the leaf of symbol (index - 627).
  uint32_t NodeParent[NodeCount + SymbolCount];
};

// Builds the initial tree: every symbol with frequency 1, symbol s at position s.
void ResetTree(CodeTree* tree);

// Counts one occurrence of symbol and restores the frequency order, rebuilding
// the tree first when the root has reached RebuildLimit.
void UpdateTree(CodeTree* tree, uint32_t symbol);

// Halves every leaf frequency (rounding up) and rebuilds the internal nodes.
void RebuildTree(CodeTree* tree);

static inline bool IsLeafEntry(uint32_t child) { return child >= NodeCount; }

// The current code of symbol: its bits, first bit sent in the most significant
// of the `length` low bits of the result.
struct SymbolCode {
  uint32_t bits;
  uint32_t length;
};
SymbolCode CodeOfSymbol(const CodeTree* tree, uint32_t symbol);

// Depth of symbol's leaf, i.e. the length of its current code in bits.
uint32_t CodeLength(const CodeTree* tree, uint32_t symbol);
