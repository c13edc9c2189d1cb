// The decoder against the one it replaced and against the plain reference
// decoder, block after block through one state each: real packed files,
// damaged copies of their blocks, and blocks long enough to rebuild the tree.
// Output (with the last symbol's overshoot), result flags, ring and tree must
// agree exactly.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bit_writer.h"
#include "block_decoder.h"
#include "encode/encoder.h"
#include "legacy_decoder.h"
#include "reference_decoder.h"
#include "test_data.h"

namespace {

struct Block {
  std::vector<uint8_t> packed;
  uint32_t expandedSize;
};

// The three decoders, each with its own state, fed the same blocks in order.
struct ThreeDecoders {
  std::unique_ptr<DecoderState> now{new DecoderState()};
  std::unique_ptr<legacy::DecoderState> before{new legacy::DecoderState()};
  std::unique_ptr<ReferenceDecoder> reference{new ReferenceDecoder()};
  std::vector<uint8_t> outNow = std::vector<uint8_t>(BlockBufferSize);
  std::vector<uint8_t> outBefore = std::vector<uint8_t>(BlockBufferSize);
  std::vector<uint8_t> expect;
  uint32_t flagsSeen = 0;
  uint32_t blocks = 0;

  ThreeDecoders() {
    ResetDecoderState(now.get());
    legacy::ResetDecoderState(before.get());
  }

  void Decode(const Block& b) {
    SCOPED_TRACE("block " + std::to_string(blocks++));
    const uint8_t* in = b.packed.data();
    uint32_t size = (uint32_t)b.packed.size();
    uint32_t r = DecodeBlock(now.get(), outNow.data(), b.expandedSize, in, size);
    uint32_t old = legacy::DecodeBlock(before.get(), outBefore.data(), b.expandedSize, in, size);
    ASSERT_EQ(r, old);
    ASSERT_TRUE(outNow == outBefore);
    ASSERT_EQ(0, memcmp(now->TokenRing, before->TokenRing, sizeof now->TokenRing));
    if (b.expandedSize > BlockBufferSize) return;  // refused whole by both; the reference has no bound
    reference->DecodeInto(in, size, b.expandedSize, &expect);
    uint32_t flags = (reference->Consumed() > 8 * size ? DecodeInputOverrun : 0) |
                     (expect.size() > BlockBufferSize ? DecodeOutputOverflow : 0);
    ASSERT_EQ(r, flags);
    size_t kept = std::min<size_t>(expect.size(), BlockBufferSize);
    ASSERT_TRUE(std::equal(expect.begin(), expect.begin() + kept, outNow.begin()));
    ASSERT_EQ(0, memcmp(reference->ring, now->TokenRing, sizeof now->TokenRing));
    ASSERT_TRUE(SameTree(now->tree, reference->tree));
    flagsSeen |= 1u << r;
  }
};

// The compressed blocks of a file packed with the default setting.
std::vector<Block> PackedBlocks(const std::vector<uint8_t>& data) {
  auto state = std::make_unique<EncoderState>();
  std::vector<uint8_t> packed;
  std::vector<RecordInfo> records;
  PackBuffer(state.get(), data.data(), data.size(), &packed, &records, nullptr);
  std::vector<Block> blocks;
  size_t at = 0;
  for (const RecordInfo& r : records) {
    at += PackHeaderSize;
    if (r.packedSize != 0) {
      blocks.push_back(
          {std::vector<uint8_t>(packed.begin() + at, packed.begin() + at + r.packedSize), r.expandedSize});
    }
    at += r.packedSize != 0 ? r.packedSize : r.expandedSize;
  }
  return blocks;
}

std::vector<Block> CorpusBlocks() {
  std::vector<Block> all;
  for (const auto& data : {RealBinary("notepad.exe"), RealBinary("cabinet.dll"), MixedBytes(300000, 3),
                           ReadFileBytes("/usr/share/common-licenses/GPL-2")}) {
    for (Block& b : PackedBlocks(data)) all.push_back(std::move(b));
  }
  return all;
}

TEST(DecoderAgainstBefore, CorpusBlocks) {
  std::vector<Block> blocks = CorpusBlocks();
  ASSERT_GT(blocks.size(), 10u);
  ThreeDecoders d;
  for (const Block& b : blocks) ASSERT_NO_FATAL_FAILURE(d.Decode(b));
  EXPECT_EQ(d.flagsSeen, 1u << DecodeOk);
}

// Copies of real blocks with bits flipped, spans zeroed or cut off, and the
// expanded size changed, so that every kind of damage and every flag occurs.
TEST(DecoderAgainstBefore, DamagedBlocks) {
  std::vector<Block> blocks = CorpusBlocks();
  std::mt19937 rng(2024);
  ThreeDecoders d;
  for (int trial = 0; trial < 3000; ++trial) {
    const Block& from = blocks[rng() % blocks.size()];
    // A head of the block keeps the work small; its expanded size is then a guess.
    size_t keep = std::min<size_t>(from.packed.size(), 200 + rng() % 1800);
    Block b = {std::vector<uint8_t>(from.packed.begin(), from.packed.begin() + keep), 0};
    switch (trial % 4) {
      case 0:
        for (int n = 1 + rng() % 3; n > 0; --n) b.packed[rng() % keep] ^= (uint8_t)(1u << (rng() % 8));
        break;
      case 1: {
        size_t at = rng() % keep;
        std::fill(b.packed.begin() + at, b.packed.begin() + std::min(keep, at + 1 + rng() % 64), 0);
        break;
      }
      case 2:
        b.packed.resize(rng() % keep);
        break;
      default:
        for (auto& byte : b.packed) byte = (uint8_t)rng();
    }
    uint32_t choice = rng() % 10;
    b.expandedSize = choice == 0   ? BlockBufferSize - (uint32_t)(rng() % 400)
                     : choice == 1 ? BlockBufferSize + 1
                                   : (uint32_t)(rng() % (8 * keep + 64));
    ASSERT_NO_FATAL_FAILURE(d.Decode(b));
  }
  EXPECT_EQ(d.flagsSeen, (1u << DecodeOk) | (1u << DecodeInputOverrun) | (1u << DecodeOutputOverflow) |
                             (1u << (DecodeInputOverrun | DecodeOutputOverflow)));
}

// A block's last symbol, a match of run tokens of 316 bytes each, ending at
// every side of the buffer's end and of the point where the copy without
// per-token bounds stops being safe (room for the match's tokens at their
// longest): output, flags and ring as the decoders before and by the format.
TEST(DecoderAgainstBefore, LastMatchAtTheBufferEnd) {
  for (uint32_t tokens : {3u, 59u}) {
    for (uint32_t room : {1u, 947u, 948u, 949u, 18643u, 18644u, 18645u, 18960u, 20000u}) {
      SCOPED_TRACE("match of " + std::to_string(tokens) + " tokens, " + std::to_string(room) +
                   " bytes of room");
      uint32_t target = BlockBufferSize - room;  // bytes before the match
      BitWriter w;
      uint32_t rest = target % MaxRunBytes;
      if (rest >= MinRunBytes) {
        w.Run('r', rest - MinRunBytes);
      } else {
        for (uint32_t i = 0; i < rest; ++i) w.Literal('l');
      }
      for (uint32_t i = 0; i < target / MaxRunBytes; ++i) w.Run((uint8_t)i, MaxRunBytes - MinRunBytes);
      w.Match(tokens, tokens - 1);  // the last `tokens` runs again
      ThreeDecoders d;
      ASSERT_NO_FATAL_FAILURE(d.Decode({w.bytes(), target + 1}));
      bool overflows = tokens * MaxRunBytes > room;
      EXPECT_EQ(d.flagsSeen, 1u << (overflows ? DecodeOutputOverflow : DecodeOk));
    }
  }
}

// Blocks of more than 61,126 symbols rebuild the tree once; literals, runs
// and matches of skewed and even mixes, one after another through one state.
TEST(DecoderAgainstBefore, BlocksThatRebuildTheTree) {
  std::mt19937 rng(77);
  ThreeDecoders d;
  for (int trial = 0; trial < 40; ++trial) {
    BitWriter w;
    uint32_t bytes = 0, symbols = 0;
    uint32_t alphabet = 2 + (uint32_t)trial * 6;
    while (bytes < BlockBufferSize - 400 && symbols < 61300) {
      uint32_t pick = rng() % 100;
      if (trial % 4 == 3 && pick < 1) {
        uint32_t count = rng() % 4;
        w.Run((uint8_t)rng(), count);
        bytes += count + MinRunBytes;
        symbols += 3;
      } else if (trial % 4 == 2 && pick < 1 && symbols > 16) {
        w.Match(3, rng() % 16);  // three of this block's literals
        bytes += 3;
        symbols += 1;
      } else {
        w.Literal((uint8_t)(rng() % alphabet * (rng() % 3 + 1)));
        bytes += 1;
        symbols += 1;
      }
    }
    ASSERT_GE(symbols, 61127u);
    ASSERT_NO_FATAL_FAILURE(d.Decode({w.bytes(), bytes}));
  }
  EXPECT_EQ(d.flagsSeen, 1u << DecodeOk);
}

// The table of the walk's first levels, wherever the tree does not mark it
// stale, must be what walking the present tree gives: an exchange that moves
// a node it copied and fails to mark it would send later symbols astray.
// Skewed, even and shifting symbol streams, one long enough to rebuild.
TEST(TopTable, AgreesWithTheTreeWheneverNotStale) {
  std::mt19937 rng(5);
  auto tree = std::make_unique<CodeTree>();
  for (uint32_t stream = 0; stream < 4; ++stream) {
    ResetTree(tree.get());
    uint32_t length = stream == 3 ? 62000 : 20000;
    uint32_t checked = 0;
    for (uint32_t n = 0; n < length; ++n) {
      uint32_t symbol = stream == 0   ? rng() % SymbolCount
                        : stream == 1 ? std::min<uint32_t>(SymbolCount - 1,
                                                           (uint32_t)std::geometric_distribution<>(0.05)(rng))
                                      : (rng() % 24 + n / 500 * 7) % SymbolCount;
      if (tree->TopStale) BuildTopTable(tree.get());  // as the decoder does before each walk
      UpdateTree(tree.get(), symbol);
      if (tree->TopStale) continue;
      ++checked;
      for (uint32_t bits = 0; bits < (1u << TopLevels); ++bits) {
        const TopStep& step = tree->Top[bits];
        uint32_t v = tree->NodeChild[RootNode], depth = 0;
        while (!IsLeafEntry(v) && depth < TopLevels) {
          uint32_t at = v + ((bits >> (TopLevels - 1 - depth)) & 1);
          ASSERT_EQ(step.path[depth], at) << "symbol " << n << ", entry " << bits << ", level " << depth;
          ++depth;
          v = tree->NodeChild[at];
        }
        ASSERT_EQ(step.depth, depth) << "symbol " << n << ", entry " << bits;
        ASSERT_EQ(step.node, v) << "symbol " << n << ", entry " << bits;
      }
    }
    EXPECT_GT(checked, length / 10) << "stream " << stream;  // the table is mostly fresh
  }
}

}  // namespace
