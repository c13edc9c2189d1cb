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
  tree->NodeFreq[NodeCount] = 0xFFFFFFFFu;
  tree->NodeParent[RootNode] = 0;
}

void RebuildTree(CodeTree* tree) {
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

namespace {

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

}  // namespace

void UpdateTree(CodeTree* tree, uint32_t symbol) {
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
