// The record loop that setup.exe and setuppack share: every way a pack file
// can fail, what is written before the failure, and the progress contract.
#include <gtest/gtest.h>

#include <memory>

#include "bit_writer.h"
#include "encode/encoder.h"
#include "record_reader.h"
#include "test_data.h"

namespace {

struct Harness {
  std::vector<uint8_t> source;
  size_t readAt = 0;
  std::string written;
  size_t writeLimit = SIZE_MAX;  // bytes the destination accepts
  int pumps = 0;
  std::vector<int32_t> progress;
  char error[256] = "untouched";
  RecordPosition failedAt = {99, 99};
  PackCheck check = {};
  std::unique_ptr<DecoderState> decoder = std::make_unique<DecoderState>();

  static uint32_t Read(void* c, uint8_t* buffer, uint32_t size) {
    Harness* h = static_cast<Harness*>(c);
    uint32_t n = (uint32_t)std::min<size_t>(size, h->source.size() - h->readAt);
    std::copy(h->source.begin() + h->readAt, h->source.begin() + h->readAt + n, buffer);
    h->readAt += n;
    return n;
  }
  static uint32_t Write(void* c, const uint8_t* buffer, uint32_t size) {
    Harness* h = static_cast<Harness*>(c);
    uint32_t n = (uint32_t)std::min<size_t>(size, h->writeLimit - h->written.size());
    h->written.append(reinterpret_cast<const char*>(buffer), n);
    return n;
  }
  static void Pump(void* c) { ++static_cast<Harness*>(c)->pumps; }
  static Harness* current;
  static void Progress(uint32_t target, int32_t value) {
    EXPECT_EQ(target, 0x1234u);
    current->progress.push_back(value);
  }

  int Run(int32_t start = 0, int32_t end = 100) {
    ResetDecoderState(decoder.get());
    current = this;
    std::vector<uint8_t> in(BlockBufferSize), out(BlockBufferSize);
    RecordIo io = {this, Read, Write, Pump};
    RecordProgress p = {0x1234, Progress, start, end};
    return ReadRecords(decoder.get(), &io, (uint32_t)source.size(), in.data(), out.data(), &p, error,
                       sizeof error, &failedAt, &check);
  }
};
Harness* Harness::current = nullptr;

std::vector<uint8_t> TwoStoredRecords() {
  std::vector<uint8_t> s;
  AppendStoredRecord(&s, "first record|");
  AppendStoredRecord(&s, "second");
  return s;
}

TEST(RecordReaderSuccess, EmptySourceReadsNothing) {
  Harness h;
  EXPECT_EQ(h.Run(), 1);
  EXPECT_EQ(h.written, "");
  EXPECT_TRUE(h.progress.empty());
}

TEST(RecordReaderSuccess, StoredRecordsConcatenateWithoutHeaders) {
  Harness h;
  h.source = TwoStoredRecords();
  AppendRecordHeader(&h.source, 0, 0);  // contributes nothing
  AppendStoredRecord(&h.source, "|third");
  EXPECT_EQ(h.Run(), 1);
  EXPECT_EQ(h.written, "first record|second|third");
  EXPECT_GT(h.pumps, 8);
}

TEST(RecordReaderSuccess, CompressedAndStoredRecordsMix) {
  auto state = std::make_unique<EncoderState>();
  std::vector<uint8_t> data = MixedBytes(150000, 5);
  Harness h;
  AppendStoredRecord(&h.source, "head:");
  PackBuffer(state.get(), data.data(), data.size(), &h.source, nullptr, nullptr);
  EXPECT_EQ(h.Run(), 1) << h.error;
  EXPECT_EQ(h.written, "head:" + std::string(data.begin(), data.end()));
}

TEST(RecordReaderSuccess, BareMagicTailReadsAsAnEmptyStoredRecord) {
  Harness h;
  h.source = TwoStoredRecords();
  h.source.insert(h.source.end(), PackMagic, PackMagic + 8);
  EXPECT_EQ(h.Run(), 1);
  EXPECT_EQ(h.written, "first record|second");
  EXPECT_EQ(h.progress.back(), 100);  // never past the end of the range
}

TEST(RecordReaderFailure, TrailingByteIsAHeaderErrorAfterTheEarlierRecords) {
  Harness h;
  h.source = TwoStoredRecords();
  h.source.push_back('P');
  EXPECT_EQ(h.Run(), 0);
  EXPECT_STREQ(h.error, "Pack data header error");
  EXPECT_EQ(h.written, "first record|second");
  EXPECT_EQ(h.failedAt.index, 2u);
  EXPECT_EQ(h.failedAt.offset, 16u + 13u + 16u + 6u);
}

TEST(RecordReaderFailure, WrongMagic) {
  Harness h;
  AppendStoredRecord(&h.source, "abc");
  h.source[7] = '%';
  EXPECT_EQ(h.Run(), 0);
  EXPECT_STREQ(h.error, "Pack data header error");
  EXPECT_EQ(h.written, "");
}

TEST(RecordReaderFailure, MagicWithPackedSizeButNoBody) {
  Harness h;
  h.source.insert(h.source.end(), PackMagic, PackMagic + 8);
  h.source.insert(h.source.end(), {0x10, 0x02, 0, 0});  // packed size 528, 12 bytes in all
  EXPECT_EQ(h.Run(), 0);
  EXPECT_STREQ(h.error, "Read source error (0 of 528 bytes)");
}

TEST(RecordReaderFailure, ShortBodies) {
  Harness stored;
  AppendRecordHeader(&stored.source, 0, 100);
  stored.source.insert(stored.source.end(), 40, 'x');
  EXPECT_EQ(stored.Run(), 0);
  EXPECT_STREQ(stored.error, "Read source error (40 of 100 bytes)");

  Harness compressed;
  AppendRecordHeader(&compressed.source, 300, 1000);
  compressed.source.insert(compressed.source.end(), 299, 0);
  EXPECT_EQ(compressed.Run(), 0);
  EXPECT_STREQ(compressed.error, "Read source error (299 of 300 bytes)");
}

TEST(RecordReaderFailure, DestinationThatStopsAcceptingBytes) {
  Harness h;
  h.source = TwoStoredRecords();
  h.writeLimit = 15;
  EXPECT_EQ(h.Run(), 0);
  EXPECT_STREQ(h.error, "Write dest error (2 of 6 bytes)");
  EXPECT_EQ(h.written, "first record|se");
}

TEST(RecordReaderFailure, RecordsLargerThanTheBuffersAreRejectedUnread) {
  for (auto sizes : {std::pair<uint32_t, uint32_t>{0, BlockBufferSize + 1},
                     std::pair<uint32_t, uint32_t>{BlockBufferSize + 1, 10},
                     std::pair<uint32_t, uint32_t>{10, 0xFFFFFFFFu}}) {
    Harness h;
    AppendRecordHeader(&h.source, sizes.first, sizes.second);
    h.source.resize(h.source.size() + BlockBufferSize + 1);
    EXPECT_EQ(h.Run(), 0);
    EXPECT_NE(std::string(h.error).find("Pack record size error"), std::string::npos) << h.error;
    EXPECT_EQ(h.readAt, 16u);
  }
  Harness limit;
  AppendRecordHeader(&limit.source, 0, BlockBufferSize);
  limit.source.resize(limit.source.size() + BlockBufferSize, 'L');
  EXPECT_EQ(limit.Run(), 1);
  EXPECT_EQ(limit.written.size(), BlockBufferSize);
}

TEST(RecordReaderFailure, DamagedBlocksAreReportedNotWritten) {
  // Runs off its packed bytes: one byte of code for 50,000 bytes of output.
  Harness overrun;
  AppendRecordHeader(&overrun.source, 1, 50000);
  overrun.source.push_back(0x00);
  EXPECT_EQ(overrun.Run(), 0);
  EXPECT_NE(std::string(overrun.error).find("damaged"), std::string::npos) << overrun.error;
  EXPECT_EQ(overrun.written, "");

  // Overshoots the buffer: its last run passes byte 63,488.
  std::vector<uint8_t> block = OverflowingBlock();
  Harness overflow;
  AppendRecordHeader(&overflow.source, (uint32_t)block.size(), BlockBufferSize);
  overflow.source.insert(overflow.source.end(), block.begin(), block.end());
  EXPECT_EQ(overflow.Run(), 0);
  EXPECT_NE(std::string(overflow.error).find("damaged"), std::string::npos) << overflow.error;
  EXPECT_EQ(overflow.written, "");
}

TEST(RecordReaderProgress, RisesToTheEndOfTheRange) {
  Harness h;
  AppendStoredRecord(&h.source, "x");
  AppendStoredRecord(&h.source, std::string(5000, 'y'));
  AppendStoredRecord(&h.source, std::string(3000, 'z'));
  EXPECT_EQ(h.Run(0, 100), 1);
  ASSERT_EQ(h.progress.size(), 3u);
  EXPECT_EQ(h.progress[0], 0);  // 17 of 8,049 bytes
  EXPECT_LE(h.progress[0], h.progress[1]);
  EXPECT_LE(h.progress[1], h.progress[2]);
  EXPECT_EQ(h.progress[2], 100);
}

TEST(RecordReaderProgress, ReversedOrOversizedRangeCountsAsAHundred) {
  Harness h;
  AppendStoredRecord(&h.source, std::string(1000, 'a'));
  AppendStoredRecord(&h.source, std::string(1000, 'b'));
  EXPECT_EQ(h.Run(40, 20), 1);
  ASSERT_EQ(h.progress.size(), 2u);
  EXPECT_EQ(h.progress[0], 40 + 1016 * 100 / 2032);
  EXPECT_EQ(h.progress[1], 140);

  Harness wide;
  wide.source = h.source;
  EXPECT_EQ(wide.Run(0, 500), 1);
  EXPECT_EQ(wide.progress.back(), 100);

  // A range wider than 32 bits can hold (UBSan watches the arithmetic).
  Harness extreme;
  extreme.source = h.source;
  EXPECT_EQ(extreme.Run(INT32_MIN, 100), 1);
  EXPECT_EQ(extreme.progress.back(), INT32_MIN + 100);
}

}  // namespace
