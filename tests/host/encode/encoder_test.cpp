// The encoder against the real decoder: whatever it writes must expand to the
// input, record limits must hold, and the ring must carry across files.
#include <gtest/gtest.h>

#include <memory>

#include "block_decoder.h"
#include "encode/encoder.h"
#include "expand/expand.h"
#include "expand/records.h"
#include "reference_decoder.h"
#include "test_data.h"

namespace {

std::vector<uint8_t> Pack(EncoderState* state, const std::vector<uint8_t>& data,
                          std::vector<RecordInfo>* records = nullptr) {
  std::vector<uint8_t> packed;
  PackBuffer(state, data.data(), data.size(), &packed, records, nullptr);
  return packed;
}

// Packs the files in order through one encoder and expands them in order
// through one fresh decoder.
void ExpectRoundTrip(const std::vector<std::vector<uint8_t>>& files, EncoderOptions options = {}) {
  auto state = std::make_unique<EncoderState>();
  state->options = options;
  std::vector<std::vector<uint8_t>> packed, expanded;
  for (const auto& f : files) packed.push_back(Pack(state.get(), f));
  std::string error;
  ASSERT_TRUE(ExpandPackedData(packed, &expanded, nullptr, nullptr, &error)) << error;
  ASSERT_EQ(expanded.size(), files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    ASSERT_EQ(expanded[i].size(), files[i].size()) << "file " << i;
    EXPECT_TRUE(expanded[i] == files[i]) << "file " << i;
  }
}

TEST(EncoderRoundTrip, RealWindowsBinaries) {
  ExpectRoundTrip({RealBinary("xcopy.exe")});
  ExpectRoundTrip({RealBinary("version.dll"), RealBinary("attrib.exe")});
}

TEST(EncoderRoundTrip, TextAndMixedData) {
  ExpectRoundTrip({ReadFileBytes("/usr/share/common-licenses/GPL-2"), MixedBytes(300000, 7)});
}

TEST(EncoderRoundTrip, EmptyZeroAndIncompressible) {
  ExpectRoundTrip({{}, std::vector<uint8_t>(200000, 0), RandomBytes(150000, 1), {}});
  ExpectRoundTrip(
      {std::vector<uint8_t>(1, 0x41), std::vector<uint8_t>(3, 0x41), std::vector<uint8_t>(4, 0x41)});
}

TEST(EncoderRoundTrip, SizesAroundTheBlockBuffer) {
  for (size_t size : {BlockBufferSize - 1, BlockBufferSize, BlockBufferSize + 1, 2 * BlockBufferSize + 5}) {
    SCOPED_TRACE(size);
    ExpectRoundTrip({MixedBytes(size, (uint32_t)size)});
    ExpectRoundTrip({std::vector<uint8_t>(size, 0xEE)});
  }
}

TEST(EncoderRoundTrip, EverySettingAndRunThreshold) {
  std::vector<uint8_t> data = MixedBytes(150000, 3);
  for (uint32_t threshold : {1u, 4u, 5u, 16u, 400u}) {
    EncoderOptions options;
    options.runThreshold = threshold;
    options.chainLimit = 8;
    options.parsePasses = 1;
    SCOPED_TRACE(threshold);
    ExpectRoundTrip({data}, options);
  }
}

TEST(EncoderRoundTrip, BestSettingWithBlockSplitting) {
  // Text then binary in one file: the split search has a reason to end a
  // block early, and the ring must follow whichever choice it makes.
  std::vector<uint8_t> data = ReadFileBytes("/usr/share/common-licenses/GPL-2");
  std::vector<uint8_t> binary = RealBinary("version.dll");
  data.insert(data.end(), binary.begin(), binary.end());
  EncoderOptions best;
  best.chainLimit = 4096;
  best.parsePasses = 5;
  best.splitBlocks = true;
  ExpectRoundTrip({MixedBytes(70000, 8), data}, best);

  auto plain = std::make_unique<EncoderState>();
  auto split = std::make_unique<EncoderState>();
  split->options = best;
  EXPECT_LE(Pack(split.get(), data).size(), Pack(plain.get(), data).size());
}

TEST(EncoderRoundTrip, RunsOfEveryLengthAroundTheRunLimits) {
  // Runs of 1 to 700 bytes, each cut by a different byte: every way of
  // splitting a long run into run tokens of 4 to 316 bytes.
  std::vector<uint8_t> data;
  for (uint32_t len = 1; len <= 700; ++len) {
    data.insert(data.end(), len, (uint8_t)(len % 7));
    data.push_back(0xFF);
  }
  ExpectRoundTrip({data});
}

TEST(EncoderRecords, StayWithinTheBufferAndStoreWhatDoesNotShrink) {
  auto state = std::make_unique<EncoderState>();
  std::vector<uint8_t> data = RandomBytes(100000, 9);
  std::vector<uint8_t> zeros(100000, 0);
  data.insert(data.end(), zeros.begin(), zeros.end());
  std::vector<RecordInfo> records;
  std::vector<uint8_t> packed = Pack(state.get(), data, &records);

  std::vector<ListedRecord> listed;
  std::string error;
  ASSERT_TRUE(ListRecords(packed, &listed, &error)) << error;
  ASSERT_EQ(listed.size(), records.size());
  size_t stored = 0, expanded = 0;
  for (const RecordInfo& r : records) {
    EXPECT_LE(r.packedSize, BlockBufferSize);
    EXPECT_LE(r.expandedSize, BlockBufferSize);
    EXPECT_LT(r.packedSize, r.expandedSize);  // compressed only when it shrinks
    stored += r.packedSize == 0;
    expanded += r.expandedSize;
  }
  EXPECT_EQ(expanded, data.size());
  EXPECT_GE(stored, 1u);                             // the random part
  EXPECT_LT(packed.size(), data.size() / 2 + 5000);  // the zeros pack to almost nothing
}

TEST(EncoderRecords, NoBlockLetsItsLastSymbolPassTheExpandedSize) {
  // Decode every compressed record alone into a buffer poisoned past its
  // expanded size: nothing may be written there.
  auto state = std::make_unique<EncoderState>();
  std::vector<uint8_t> data = RealBinary("attrib.exe");
  std::vector<uint8_t> tail(5000, 0x90);
  data.insert(data.end(), tail.begin(), tail.end());
  std::vector<uint8_t> packed = Pack(state.get(), data);
  std::vector<ListedRecord> listed;
  std::string error;
  ASSERT_TRUE(ListRecords(packed, &listed, &error));
  auto decoder = std::make_unique<DecoderState>();
  ResetDecoderState(decoder.get());
  std::vector<uint8_t> out(BlockBufferSize);
  for (const ListedRecord& r : listed) {
    if (r.packedSize == 0) continue;
    std::fill(out.begin(), out.end(), 0xA5);
    uint32_t result = DecodeBlock(decoder.get(), out.data(), r.expandedSize,
                                  packed.data() + r.offset + PackHeaderSize, r.packedSize);
    EXPECT_EQ(result, (uint32_t)DecodeOk);
    if (r.expandedSize < BlockBufferSize) {
      EXPECT_EQ(out[r.expandedSize], 0xA5) << r.offset;
    }
  }
}

TEST(EncoderSymbolLog, HoldsExactlyTheSymbolsOfEveryCompressedRecord) {
  // A real binary, a random stretch that must be stored, then text: the log
  // must list what a decoder reads from each compressed record, in order,
  // and nothing of stored records or of the block-splitting trials.
  std::vector<uint8_t> data = RealBinary("attrib.exe");
  std::vector<uint8_t> noise = RandomBytes(140000, 4);
  std::vector<uint8_t> text = MixedBytes(150000, 11);
  data.insert(data.end(), noise.begin(), noise.end());
  data.insert(data.end(), text.begin(), text.end());
  for (bool split : {false, true}) {
    SCOPED_TRACE(split ? "with block splitting" : "default");
    auto state = std::make_unique<EncoderState>();
    state->options.splitBlocks = split;
    std::vector<uint16_t> log;
    state->symbolLog = &log;
    std::vector<uint8_t> packed = Pack(state.get(), data);

    std::vector<ListedRecord> listed;
    std::string error;
    ASSERT_TRUE(ListRecords(packed, &listed, &error)) << error;
    ReferenceDecoder reference;
    std::vector<uint16_t> decoded;
    reference.trace = &decoded;
    size_t stored = 0;
    for (const ListedRecord& r : listed) {
      if (r.packedSize == 0) {
        ++stored;
        continue;
      }
      reference.Decode(packed.data() + r.offset + PackHeaderSize, r.packedSize, r.expandedSize);
      decoded.push_back(SymbolLogBlockEnd);
    }
    EXPECT_GE(stored, 1u);
    ASSERT_EQ(log.size(), decoded.size());
    EXPECT_TRUE(log == decoded);
  }
}

TEST(EncoderRing, SecondFileDependsOnTheFirst) {
  // The installer repeats much of the script: packed through one state, its
  // blocks copy tokens the script left in the ring, so it only expands
  // correctly after the script, through the same decoder.
  std::vector<uint8_t> script = MixedBytes(20000, 11);
  std::vector<uint8_t> installer(script.end() - 3000, script.end());

  auto state = std::make_unique<EncoderState>();
  std::vector<uint8_t> packedScript = Pack(state.get(), script);
  std::vector<uint8_t> packedInstaller = Pack(state.get(), installer);

  auto alone = std::make_unique<EncoderState>();
  EXPECT_LT(packedInstaller.size(), Pack(alone.get(), installer).size() / 4);

  std::vector<std::vector<uint8_t>> expanded;
  std::string error;
  ASSERT_TRUE(ExpandPackedData({packedScript, packedInstaller}, &expanded, nullptr, nullptr, &error))
      << error;
  EXPECT_TRUE(expanded[1] == installer);

  // With a fresh ring the same records expand to something else.
  std::vector<std::vector<uint8_t>> fresh;
  bool ok = ExpandPackedData({packedInstaller}, &fresh, nullptr, nullptr, &error);
  EXPECT_TRUE(!ok || fresh[0] != installer);
}

TEST(EncoderRing, StoredRecordLeavesTheRingAsItWas) {
  // Compressible, then incompressible (stored), then a repeat of the first
  // part: the last file must match against the ring as the first left it.
  std::vector<uint8_t> first = MixedBytes(5000, 21);
  std::vector<uint8_t> noise = RandomBytes(3000, 22);
  std::vector<uint8_t> again(first.end() - 2000, first.end());
  ExpectRoundTrip({first, noise, again});

  auto state = std::make_unique<EncoderState>();
  Pack(state.get(), first);
  uint32_t before[RingSize];
  std::copy(state->TokenRing, state->TokenRing + RingSize, before);
  std::vector<RecordInfo> records;
  Pack(state.get(), noise, &records);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].packedSize, 0u);
  EXPECT_TRUE(std::equal(before, before + RingSize, state->TokenRing));
}

TEST(EncoderCompression, BeatsTheClassicFamilyOnARealBinary) {
  // Not a benchmark: a floor that catches a parser that stopped finding
  // matches or runs.
  std::vector<uint8_t> data = RealBinary("notepad.exe");
  auto state = std::make_unique<EncoderState>();
  std::vector<uint8_t> packed = Pack(state.get(), data);
  EXPECT_LT(packed.size(), data.size() * 45 / 100);
}

}  // namespace
