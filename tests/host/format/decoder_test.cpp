// The block decoder against hand-made bit streams whose meaning is worked out
// from the format: initial codes, literals, runs, matches over tokens, the
// tree rebuild, the ring that outlives blocks, and the bounds of damaged data.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "block_decoder.h"
#include "code_tree.h"
#include "bit_writer.h"

namespace {

struct Decoded {
  std::vector<uint8_t> buffer = std::vector<uint8_t>(BlockBufferSize, 0xCC);
  uint32_t result = 0;
  std::string Text(size_t n) const { return std::string(buffer.begin(), buffer.begin() + n); }
};

Decoded Decode(DecoderState* state, const std::vector<uint8_t>& packed, uint32_t expanded) {
  Decoded out;
  out.result = DecodeBlock(state, out.buffer.data(), expanded, packed.data(), (uint32_t)packed.size());
  return out;
}

class DecoderTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetDecoderState(&state_); }
  DecoderState state_;
};

// --- The initial tree -------------------------------------------------------

TEST(CodeTreeTest, InitialCodesAreEightBitsFrom116AndNineBitsBelow) {
  CodeTree tree;
  ResetTree(&tree);
  EXPECT_EQ(tree.NodeFreq[RootNode], 314u);
  for (uint32_t s = 0; s < SymbolCount; ++s) {
    SymbolCode code = CodeOfSymbol(&tree, s);
    if (s >= 116) {
      EXPECT_EQ(code.length, 8u) << s;
      EXPECT_EQ(code.bits, s - 116) << s;
    } else {
      EXPECT_EQ(code.length, 9u) << s;
      EXPECT_EQ(code.bits, 396 + s) << s;
    }
    EXPECT_EQ(CodeLength(&tree, s), code.length);
  }
}

TEST_F(DecoderTest, FirstSymbolsOfABlockUseTheInitialCodes) {
  // 00000000 is symbol 116, the letter 't'.
  EXPECT_EQ(Decode(&state_, {0x00}, 1).Text(1), "t");
  // 10001011 is the literal 255; 110001100 the literal 0; 111111111 the literal 115.
  EXPECT_EQ(Decode(&state_, {0x8B}, 1).buffer[0], 0xFF);
  EXPECT_EQ(Decode(&state_, {0xC6, 0x00}, 1).buffer[0], 0x00);
  EXPECT_EQ(Decode(&state_, {0xFF, 0x80}, 1).buffer[0], 115);
}

TEST_F(DecoderTest, RunAndMatchSymbolsHaveTheirInitialCodes) {
  // 11000101 is the run symbol; follow it with the value 'x' and count 2.
  BitWriter w;
  w.Run('x', 2);
  ASSERT_EQ(w.bytes()[0], 0xC5);
  EXPECT_EQ(Decode(&state_, w.bytes(), 5).Text(5), "xxxxx");

  // 10001100 is a match of 3 tokens.
  BitWriter m;
  m.Literal('q');
  m.Match(3, 0);
  SymbolCode code;
  {
    CodeTree tree;
    ResetTree(&tree);
    code = CodeOfSymbol(&tree, 256);
  }
  EXPECT_EQ(code.length, 8u);
  EXPECT_EQ(code.bits, 0x8Cu);
  EXPECT_EQ(Decode(&state_, m.bytes(), 4).Text(4), "qqqq");
}

TEST_F(DecoderTest, ThreeLiteralsInTwentySevenBits) {
  Decoded d = Decode(&state_, {0xF6, 0xFB, 0xBD, 0xE0}, 3);
  EXPECT_EQ(d.Text(3), "abc");
  EXPECT_EQ(d.result, (uint32_t)DecodeOk);
}

TEST_F(DecoderTest, LiteralsMatchAndRun) {
  Decoded d = Decode(&state_, {0xF6, 0xFB, 0xBD, 0xF1, 0x80, 0x05, 0xED, 0x04, 0xC6, 0x80}, 10);
  EXPECT_EQ(d.Text(10), "abcabcxxxx");
  EXPECT_EQ(d.result, (uint32_t)DecodeOk);
}

TEST_F(DecoderTest, TheHandWrittenExampleIsWhatTheModelEncodes) {
  BitWriter w;
  w.Literal('a');
  w.Literal('b');
  w.Literal('c');
  w.Match(3, 2);
  w.Run('x', 1);
  EXPECT_EQ(w.bytes(), (std::vector<uint8_t>{0xF6, 0xFB, 0xBD, 0xF1, 0x80, 0x05, 0xED, 0x04, 0xC6, 0x80}));
}

// --- Tokens: runs, matches, overlap ----------------------------------------

TEST_F(DecoderTest, RunTokenKeepsItsWholeRunWhenCopied) {
  // Count symbol 5 writes 8 bytes in one token; copying 3 tokens at distance 0
  // repeats that token three times: 24 bytes.
  BitWriter w;
  w.Run('r', 5);
  w.Match(3, 0);
  Decoded d = Decode(&state_, w.bytes(), 32);
  EXPECT_EQ(d.Text(32), std::string(32, 'r'));
  EXPECT_EQ(state_.TokenRing[0], (uint32_t)'r' | (5u << 8));
  EXPECT_EQ(state_.TokenRing[3], (uint32_t)'r' | (5u << 8));
  EXPECT_EQ(state_.TokenRing[4], 0u);
}

TEST_F(DecoderTest, RunWithCountZeroWritesThreeBytesButItsTokenOnlyOne) {
  BitWriter w;
  w.Run('z', 0);
  w.Literal('-');
  w.Match(3, 1);  // copies 'z' (1 byte), '-' and the first copied 'z'
  Decoded d = Decode(&state_, w.bytes(), 7);
  EXPECT_EQ(d.Text(7), "zzz-z-z");
  EXPECT_EQ(state_.TokenRing[0], (uint32_t)'z');
}

TEST_F(DecoderTest, MatchAtDistanceZeroRepeatsTheLastToken) {
  BitWriter w;
  w.Literal('x');
  w.Match(10, 0);
  Decoded d = Decode(&state_, w.bytes(), 11);
  EXPECT_EQ(d.Text(11), std::string(11, 'x'));
  for (int i = 0; i <= 10; ++i) EXPECT_EQ(state_.TokenRing[i], (uint32_t)'x');
}

TEST_F(DecoderTest, FirstBlockOfAProcessCopiesZeroTokensFromTheUnwrittenRing) {
  BitWriter w;
  w.Literal('a');
  w.Match(5, 100);
  Decoded d = Decode(&state_, w.bytes(), 6);
  EXPECT_EQ(d.buffer[0], 'a');
  for (int i = 1; i < 6; ++i) EXPECT_EQ(d.buffer[i], 0) << i;
}

TEST_F(DecoderTest, DistanceFourThousandNinetyFiveCopiesTheRingOntoItself) {
  state_.TokenRing[0] = 'A';
  state_.TokenRing[1] = 'B' | (1u << 8);  // "BBBB"
  state_.TokenRing[2] = 'C';
  BitWriter w;
  w.Match(3, 4095);
  Decoded d = Decode(&state_, w.bytes(), 6);
  EXPECT_EQ(d.Text(6), "ABBBBC");
}

// --- The ring across blocks -------------------------------------------------

TEST_F(DecoderTest, LaterBlockCopiesTokensThatAnEarlierBlockLeft) {
  BitWriter first;
  for (char c : std::string("hello")) first.Literal((uint8_t)c);
  ASSERT_EQ(Decode(&state_, first.bytes(), 5).Text(5), "hello");

  // The write index restarts at 0, so the second block's first token
  // overwrites 'h'; a match at distance 4095 from index 1 reads index 1.
  BitWriter second;
  second.Literal('J');
  second.Match(4, 4095);
  EXPECT_EQ(Decode(&state_, second.bytes(), 5).Text(5), "Jello");

  // The same block in a fresh process state reads zero tokens instead.
  DecoderState fresh;
  ResetDecoderState(&fresh);
  Decoded d = Decode(&fresh, second.bytes(), 5);
  EXPECT_EQ(d.buffer[0], 'J');
  EXPECT_EQ(d.buffer[1], 0);
}

TEST_F(DecoderTest, ExpandedSizeZeroFetchesNothingAndKeepsTheRing) {
  state_.TokenRing[7] = 0x1234;
  Decoded d = Decode(&state_, {}, 0);
  EXPECT_EQ(d.result, (uint32_t)DecodeOk);
  EXPECT_EQ(d.buffer[0], 0xCC);
  EXPECT_EQ(state_.TokenRing[7], 0x1234u);
}

// --- The rebuild ------------------------------------------------------------

TEST_F(DecoderTest, FullBlockOfLiteralsRebuildsTheTreeOnce) {
  // 63,488 literals cycling through all byte values: the rebuild happens at
  // the start of the update for the 61,127th symbol, and the symbols after it
  // are coded with the halved tree. The writer's tree follows the same model,
  // so any divergence in the rebuild garbles the tail.
  BitWriter w;
  std::vector<uint8_t> expect(BlockBufferSize);
  CodeTree probe;
  ResetTree(&probe);
  int rebuilds = 0;
  for (uint32_t i = 0; i < BlockBufferSize; ++i) {
    uint8_t byte = (uint8_t)((i * 7 + (i >> 9)) & 0xFF);
    expect[i] = byte;
    w.Literal(byte);
    if (probe.NodeFreq[RootNode] == RebuildLimit) {
      ++rebuilds;
      EXPECT_EQ(i + 1, 61127u);
    }
    UpdateTree(&probe, byte);
  }
  EXPECT_EQ(rebuilds, 1);
  Decoded d = Decode(&state_, w.bytes(), BlockBufferSize);
  EXPECT_EQ(d.result, (uint32_t)DecodeOk);
  EXPECT_EQ(d.buffer, expect);
}

TEST(CodeTreeTest, RebuildHalvesRoundingUpAndKeepsTheOrder) {
  CodeTree tree;
  ResetTree(&tree);
  for (int i = 0; i < 5; ++i) UpdateTree(&tree, 'e');
  for (int i = 0; i < 2; ++i) UpdateTree(&tree, 'q');
  RebuildTree(&tree);
  uint32_t leafE = tree.NodeParent[NodeCount + 'e'];
  uint32_t leafQ = tree.NodeParent[NodeCount + 'q'];
  EXPECT_EQ(tree.NodeFreq[leafE], 3u);  // (6 + 1) / 2
  EXPECT_EQ(tree.NodeFreq[leafQ], 2u);  // (3 + 1) / 2
  uint32_t leafs = 0, sum = 0;
  for (uint32_t i = 0; i < NodeCount; ++i) {
    if (i > 0) {
      EXPECT_LE(tree.NodeFreq[i - 1], tree.NodeFreq[i]) << i;
    }
    if (IsLeafEntry(tree.NodeChild[i])) {
      ++leafs;
      sum += tree.NodeFreq[i];
      EXPECT_EQ(tree.NodeParent[tree.NodeChild[i]], i);
    } else {
      uint32_t c = tree.NodeChild[i];
      EXPECT_EQ(tree.NodeParent[c], i);
      EXPECT_EQ(tree.NodeParent[c + 1], i);
      EXPECT_EQ(tree.NodeFreq[i], tree.NodeFreq[c] + tree.NodeFreq[c + 1]);
    }
  }
  EXPECT_EQ(leafs, SymbolCount);
  EXPECT_EQ(tree.NodeFreq[RootNode], sum);
}

// --- Overshoot and damaged blocks --------------------------------------------

TEST_F(DecoderTest, LastSymbolIsCarriedOutInFull) {
  BitWriter w;
  w.Run('k', 2);  // 5 bytes
  Decoded d = Decode(&state_, w.bytes(), 2);
  EXPECT_EQ(d.Text(5), "kkkkk");
  EXPECT_EQ(d.buffer[5], 0xCC);
  EXPECT_EQ(d.result, (uint32_t)DecodeOk);
}

TEST_F(DecoderTest, OutputPastTheBufferIsDroppedButTokensAreStored) {
  // Nine bytes of the last run would land past the buffer.
  Decoded d = Decode(&state_, OverflowingBlock(), BlockBufferSize);
  EXPECT_EQ(d.result & DecodeOutputOverflow, (uint32_t)DecodeOutputOverflow);
  EXPECT_EQ(d.buffer[BlockBufferSize - 1], 'c');
  // The run's token is in the ring even though most of its bytes were dropped.
  uint32_t tokens = (BlockBufferSize - 1) / 316 + (BlockBufferSize - 1) % 316 + 1;
  EXPECT_EQ(state_.TokenRing[(tokens - 1) & RingMask], (uint32_t)'c' | (7u << 8));
}

TEST_F(DecoderTest, OneByteOfReadAheadIsNormalMoreIsAnOverrun) {
  // 'abc' takes 27 of 32 bits; the last fetch is within the packed bytes.
  EXPECT_EQ(Decode(&state_, {0xF6, 0xFB, 0xBD, 0xE0}, 3).result, (uint32_t)DecodeOk);
  // Three literals of eight bits use exactly three bytes; the reader fetches
  // a fourth while 8 bits remain: that read-ahead is normal.
  BitWriter w;
  w.Literal('t');
  w.Literal('u');
  w.Literal('v');
  ASSERT_EQ(w.bytes().size(), 3u);
  EXPECT_EQ(Decode(&state_, w.bytes(), 3).result, (uint32_t)DecodeOk);
  // Claiming many more bytes than the stream holds runs off its end.
  Decoded d = Decode(&state_, w.bytes(), 40);
  EXPECT_EQ(d.result & DecodeInputOverrun, (uint32_t)DecodeInputOverrun);
  EXPECT_EQ(d.Text(3), "tuv");
}

TEST_F(DecoderTest, EmptyInputReadsAsZeroBitsWithoutTouchingMemory) {
  // A null input with packed size 0 must not be dereferenced.
  std::vector<uint8_t> out(BlockBufferSize);
  uint32_t result = DecodeBlock(&state_, out.data(), 4, nullptr, 0);
  EXPECT_EQ(result & DecodeInputOverrun, (uint32_t)DecodeInputOverrun);
  // All-zero bits: the first symbol is 't' in the fresh tree.
  EXPECT_EQ(out[0], 't');
}

}  // namespace

// --- Against the plain reference decoder ------------------------------------

#include "reference_decoder.h"
#include "test_data.h"

namespace {

// Random bytes decode to arbitrary symbol mixes; the flags must say exactly
// what the reference's reads and output say.
TEST(DecoderAgainstReference, RandomBlocksGiveTheSameBytesRingAndFlags) {
  auto reference = std::make_unique<ReferenceDecoder>();
  auto state = std::make_unique<DecoderState>();
  ResetDecoderState(state.get());
  std::vector<uint8_t> out(BlockBufferSize);
  std::mt19937 rng(1234);
  int overruns = 0, overflows = 0, clean = 0;
  for (int trial = 0; trial < 400; ++trial) {
    uint32_t packedSize = rng() % 3000;
    std::vector<uint8_t> packed = RandomBytes(packedSize, (uint32_t)trial);
    // Skewed data makes long codes and runs; zeros make short ones.
    if (trial % 3 == 1) {
      for (auto& b : packed) b &= 0xF0;
    }
    uint32_t expanded = rng() % (trial % 5 == 0 ? BlockBufferSize : 4000);
    std::vector<uint8_t> expect = reference->Decode(packed.data(), packedSize, expanded);
    uint32_t result = DecodeBlock(state.get(), out.data(), expanded, packed.data(), packedSize);

    bool overrun = reference->Consumed() > 8 * packedSize;
    bool overflow = expect.size() > BlockBufferSize;
    EXPECT_EQ((result & DecodeInputOverrun) != 0, overrun) << trial;
    EXPECT_EQ((result & DecodeOutputOverflow) != 0, overflow) << trial;
    size_t kept = std::min<size_t>(expect.size(), BlockBufferSize);
    ASSERT_TRUE(std::equal(expect.begin(), expect.begin() + kept, out.begin())) << trial;
    ASSERT_TRUE(std::equal(reference->ring, reference->ring + RingSize, state->TokenRing)) << trial;
    overruns += overrun;
    overflows += overflow;
    clean += !overrun && !overflow;
  }
  // The trials must cover every outcome.
  EXPECT_GT(overruns, 10);
  EXPECT_GT(overflows, 0);
  EXPECT_GT(clean, 10);
}

}  // namespace

namespace {

// The model's update and rebuild against the reference's own, array by array,
// over enough symbols of skewed and of even distributions to rebuild the tree
// many times.
TEST(CodeTreeAgainstReference, UpdatesAndRebuildsLeaveIdenticalTables) {
  CodeTree model;
  ReferenceTree reference;
  std::mt19937 rng(99);
  for (int distribution = 0; distribution < 6; ++distribution) {
    ResetTree(&model);
    ReferenceDecoder::Reset(&reference);
    int rebuilds = 0;
    for (int n = 0; n < 200000; ++n) {
      uint32_t s = distribution % 2 == 0 ? rng() % SymbolCount : (rng() % 17) * (rng() % 19) % SymbolCount;
      if (model.NodeFreq[RootNode] == RebuildLimit) ++rebuilds;
      UpdateTree(&model, s);
      ReferenceDecoder::Update(&reference, s);
      if (n % 997 == 0 || model.NodeFreq[RootNode] == 0x7801) {
        ASSERT_TRUE(SameTree(model, reference)) << "after " << n << " symbols";
      }
    }
    ASSERT_TRUE(SameTree(model, reference));
    EXPECT_GE(rebuilds, 2);
  }
}

// A block that rebuilds its tree, coded with the model and decoded by the
// reference: a rebuild that differed from the format would garble its tail.
TEST(DecoderAgainstReference, BlockThatRebuildsItsTree) {
  BitWriter w;
  std::vector<uint8_t> expect;
  std::mt19937 rng(5);
  while (expect.size() < BlockBufferSize) {
    uint8_t byte = (uint8_t)(rng() % 7 == 0 ? rng() : 'a' + rng() % 5);
    w.Literal(byte);
    expect.push_back(byte);
  }
  auto reference = std::make_unique<ReferenceDecoder>();
  std::vector<uint8_t> out = reference->Decode(w.bytes().data(), (uint32_t)w.bytes().size(), BlockBufferSize);
  EXPECT_TRUE(out == expect);
  auto state = std::make_unique<DecoderState>();
  ResetDecoderState(state.get());
  std::vector<uint8_t> mine(BlockBufferSize);
  EXPECT_EQ(
      DecodeBlock(state.get(), mine.data(), BlockBufferSize, w.bytes().data(), (uint32_t)w.bytes().size()),
      (uint32_t)DecodeOk);
  EXPECT_TRUE(mine == expect);
}

// Five literals and a match of 3 tokens at distance 1 take 65 bits; cut to 8
// packed bytes, the match's last distance bit lies past them. The read-ahead
// never fetched more than one byte past the block, but the block used a bit
// it does not have.
TEST(DecoderBounds, DistanceBitsPastThePackedBytesAreAnOverrun) {
  const std::vector<uint8_t> block = {0xF6, 0xFB, 0xBD, 0xFF, 0x0F, 0x8C, 0x60, 0x00, 0x80};
  auto state = std::make_unique<DecoderState>();
  ResetDecoderState(state.get());
  std::vector<uint8_t> out(BlockBufferSize);
  EXPECT_EQ(DecodeBlock(state.get(), out.data(), 8, block.data(), 9), (uint32_t)DecodeOk);
  EXPECT_EQ(std::string(out.begin(), out.begin() + 8), "abcdeded");
  EXPECT_EQ(DecodeBlock(state.get(), out.data(), 8, block.data(), 8), (uint32_t)DecodeInputOverrun);
}

TEST(DecoderBounds, ExpandedSizeBeyondTheBufferDecodesNothing) {
  auto state = std::make_unique<DecoderState>();
  ResetDecoderState(state.get());
  std::vector<uint8_t> out(BlockBufferSize, 0xCC);
  const uint8_t block[] = {0x00, 0x00};
  EXPECT_EQ(DecodeBlock(state.get(), out.data(), BlockBufferSize + 1, block, 2),
            (uint32_t)DecodeOutputOverflow);
  EXPECT_EQ(out[0], 0xCC);
  EXPECT_EQ(state->TokenRing[0], 0u);
}

}  // namespace
