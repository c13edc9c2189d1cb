#include "code_tree.h"

void ResetTree(CodeTree* tree) {
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
  for (uint32_t i = NodeCount; i <= NodeCount + FreqPadding; ++i) tree->NodeFreq[i] = FreqSentinel;
  tree->NodeParent[RootNode] = 0;
  tree->NodeParent[ParentScratch] = 0;
  for (uint32_t i = 0; i < RunTopHints; ++i) tree->RunTop[i] = 0;
  tree->TopFloor = 0;
  tree->TopStale = 1;
}

void BuildTopTable(CodeTree* tree) {
  const TreeEntry* child = tree->NodeChild;
  uint32_t floor = RootNode;
  for (uint32_t bits = 0; bits < (1u << TopLevels); ++bits) {
    TopStep* step = &tree->Top[bits];
    uint32_t v = child[RootNode];
    uint32_t depth = 0;
    while (!IsLeafEntry(v) && depth < TopLevels) {
      uint32_t at = v + ((bits >> (TopLevels - 1 - depth)) & 1);
      step->path[depth++] = (TreeEntry)at;
      if (at < floor) floor = at;
      v = child[at];
    }
    step->node = (TreeEntry)v;
    step->depth = (TreeEntry)depth;
  }
  tree->TopFloor = floor;
  tree->TopStale = 0;
}

void RebuildTree(CodeTree* tree) {
  TreeEntry* freq = tree->NodeFreq;
  TreeEntry* child = tree->NodeChild;
  tree->TopStale = 1;

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

void UpdateTree(CodeTree* tree, uint32_t symbol) {
  if (tree->NodeFreq[RootNode] == RebuildLimit) RebuildTree(tree);
  CountFrom(tree, tree->NodeParent[NodeCount + symbol]);
}

SymbolCode CodeOfSymbol(const CodeTree* tree, uint32_t symbol) {
  SymbolCode code = {0, 0};
  uint32_t p = tree->NodeParent[NodeCount + symbol];
  while (p != RootNode) {
    uint32_t up = tree->NodeParent[p];
    code.bits |= (p - tree->NodeChild[up]) << code.length;
    ++code.length;
    p = up;
  }
  return code;
}

uint32_t CodeLength(const CodeTree* tree, uint32_t symbol) {
  uint32_t length = 0;
  uint32_t p = tree->NodeParent[NodeCount + symbol];
  while (p != RootNode) {
    p = tree->NodeParent[p];
    ++length;
  }
  return length;
}
