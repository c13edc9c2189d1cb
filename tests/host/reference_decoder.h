// A deliberately plain decoder, written step by step from the format's
// description (16-bit bit buffer, one byte fetched whenever 8 bits or fewer
// are held, linear upward scans), against which the production decoder is
// compared on random and real blocks.
#pragma once

#include <stdint.h>
#include <string.h>

#include <vector>

#include "code_tree.h"

// The code tree with the format's own 32-bit tables.
struct ReferenceTree {
  uint32_t NodeFreq[NodeCount + 1];
  uint32_t NodeChild[NodeCount];
  uint32_t NodeParent[NodeCount + SymbolCount];
};

// Whether the model's tables hold the reference's values.
inline bool SameTree(const CodeTree& model, const ReferenceTree& reference) {
  for (uint32_t i = 0; i < NodeCount; ++i) {
    if (model.NodeFreq[i] != reference.NodeFreq[i] || model.NodeChild[i] != reference.NodeChild[i])
      return false;
  }
  for (uint32_t i = 0; i < NodeCount + SymbolCount; ++i) {
    if (model.NodeParent[i] != reference.NodeParent[i]) return false;
  }
  return true;
}

struct ReferenceDecoder {
  ReferenceTree tree;
  uint32_t ring[RingSize] = {};
  const uint8_t* input = nullptr;
  uint32_t packedSize = 0;
  uint32_t fetched = 0;
  uint32_t buffer = 0, count = 0;
  std::vector<uint16_t>* trace = nullptr;  // when set, every decoded symbol is appended

  uint32_t Read(uint32_t n) {
    if (count <= 8) {
      buffer |= (fetched < packedSize ? input[fetched] : 0u) << (8 - count);
      ++fetched;
      count += 8;
    }
    uint32_t v = buffer >> (16 - n);
    buffer = (buffer << n) & 0xFFFF;
    count -= n;
    return v;
  }

  // Its own rebuild, step by step: halve the leaves into the bottom
  // positions, insert each new internal node above those of equal count with
  // overlapping moves, reconnect the parents.
  static void Reset(ReferenceTree* t) {
    for (uint32_t s = 0; s < SymbolCount; ++s) {
      t->NodeFreq[s] = 1;
      t->NodeChild[s] = NodeCount + s;
      t->NodeParent[NodeCount + s] = s;
    }
    for (uint32_t j = SymbolCount; j < NodeCount; ++j) {
      uint32_t i = 2 * (j - SymbolCount);
      t->NodeChild[j] = i;
      t->NodeParent[i] = t->NodeParent[i + 1] = j;
      t->NodeFreq[j] = t->NodeFreq[i] + t->NodeFreq[i + 1];
    }
    t->NodeFreq[NodeCount] = 0xFFFFFFFF;
    t->NodeParent[RootNode] = 0;
  }

  static void Rebuild(ReferenceTree* t) {
    uint32_t* f = t->NodeFreq;
    uint32_t* c = t->NodeChild;
    uint32_t j = 0;
    for (uint32_t i = 0; i < NodeCount; ++i) {
      if (c[i] >= NodeCount) {
        f[j] = (f[i] + 1) / 2;
        c[j] = c[i];
        ++j;
      }
    }
    for (j = SymbolCount; j < NodeCount; ++j) {
      uint32_t i = 2 * (j - SymbolCount);
      uint32_t sum = f[i] + f[i + 1];
      uint32_t k = j - 1;
      while (sum < f[k]) --k;
      ++k;
      memmove(f + k + 1, f + k, (j - k) * sizeof(uint32_t));
      f[k] = sum;
      memmove(c + k + 1, c + k, (j - k) * sizeof(uint32_t));
      c[k] = i;
    }
    for (uint32_t i = 0; i < NodeCount; ++i) {
      uint32_t y = c[i];
      t->NodeParent[y] = i;
      if (y < NodeCount) t->NodeParent[y + 1] = i;
    }
  }

  static void Update(ReferenceTree* t, uint32_t s) {
    uint32_t* f = t->NodeFreq;
    uint32_t* c = t->NodeChild;
    uint32_t* up = t->NodeParent;
    if (f[RootNode] == RebuildLimit) Rebuild(t);
    uint32_t p = up[NodeCount + s];
    do {
      uint32_t k = ++f[p];
      if (k > f[p + 1]) {
        uint32_t l = p + 1;
        while (k > f[l + 1]) ++l;
        f[p] = f[l];
        f[l] = k;
        uint32_t i = c[p];
        up[i] = l;
        if (i < NodeCount) up[i + 1] = l;
        uint32_t j = c[l];
        c[l] = i;
        up[j] = p;
        if (j < NodeCount) up[j + 1] = p;
        c[p] = j;
        p = l;
      }
      p = up[p];
    } while (p != 0);
  }

  // Bits taken from the stream so far.
  uint32_t Consumed() const { return 8 * fetched - count; }

  uint32_t Symbol() {
    uint32_t v = tree.NodeChild[RootNode];
    while (v < NodeCount) v = tree.NodeChild[v + Read(1)];
    Update(&tree, v - NodeCount);
    if (trace) trace->push_back((uint16_t)(v - NodeCount));
    return v - NodeCount;
  }

  // Decodes without any bound: output grows as far as the block goes.
  std::vector<uint8_t> Decode(const uint8_t* in, uint32_t size, uint32_t expanded) {
    std::vector<uint8_t> out;
    DecodeInto(in, size, expanded, &out);
    return out;
  }

  // As Decode, into *into (emptied first, its capacity kept).
  void DecodeInto(const uint8_t* in, uint32_t size, uint32_t expanded, std::vector<uint8_t>* into) {
    input = in;
    packedSize = size;
    fetched = buffer = count = 0;
    Reset(&tree);
    std::vector<uint8_t>& out = *into;
    out.clear();
    out.reserve(expanded + 59 * (MaxRunBytes + 3));  // room for the last symbol's overshoot
    uint32_t w = 0;
    while (out.size() < expanded) {
      uint32_t s = Symbol();
      if (s < 256) {
        ring[w] = s;
        w = (w + 1) & RingMask;
        out.push_back((uint8_t)s);
      } else if (s == RunSymbol) {
        uint32_t v = Symbol(), n = Symbol();
        ring[w] = v | (n << 8);
        w = (w + 1) & RingMask;
        out.insert(out.end(), n + 3, (uint8_t)v);
      } else {
        uint32_t d = Read(8) * 16;
        d += Read(4);
        uint32_t src = (w - d - 1) & RingMask;
        for (uint32_t i = 0; i < s - 253; ++i) {
          uint32_t e = ring[src];
          ring[w] = e;
          out.insert(out.end(), (e >> 8) ? (e >> 8) + 3 : 1, (uint8_t)e);
          w = (w + 1) & RingMask;
          src = (src + 1) & RingMask;
        }
      }
    }
  }
};
