// The check record's count and identifier at their limits: lists that claim
// more records than the file holds, counts whose four-byte entries wrap a
// 32-bit size, and a compressed block that happens to begin with the
// identifier.
#include <gtest/gtest.h>
#include <zlib.h>

#include <memory>

#include "check_record.h"
#include "encode/encoder.h"
#include "expand/expand.h"
#include "expand/records.h"
#include "reference_decoder.h"
#include "test_data.h"

namespace {

uint32_t ZlibCrc(const uint8_t* data, size_t size) { return (uint32_t)crc32(0, data, (uInt)size); }

std::vector<uint8_t> Packed(const std::vector<uint8_t>& data, bool withCheck) {
  auto state = std::make_unique<EncoderState>();
  std::vector<uint8_t> out;
  PackFile(state.get(), data.data(), data.size(), withCheck, &out, nullptr);
  return out;
}

struct Expansion {
  bool ok;
  PackCheck check;
  std::vector<uint8_t> bytes;
};

Expansion ExpandOne(const std::vector<uint8_t>& file) {
  std::vector<std::vector<uint8_t>> expanded;
  std::vector<PackCheck> checks;
  std::string error;
  Expansion e;
  e.ok = ExpandPackedData({file}, &expanded, &checks, nullptr, &error);
  e.check = checks[0];
  e.bytes = expanded[0];
  return e;
}

// The check record of a file replaced by one that lists `listed` records:
// the CRCs of the file's own records first, then copies of its last.
std::vector<uint8_t> WithListedCount(const std::vector<uint8_t>& file, uint32_t listed) {
  uint32_t size = ReadLE32(&file[8]);
  const uint8_t* body = &file[PackHeaderSize];
  uint32_t held = ReadLE32(body + 12);
  std::vector<uint8_t> newBody(body, body + 28);
  WriteLE32(&newBody[12], listed);
  for (uint32_t i = 0; i < listed; ++i) {
    const uint8_t* crc = body + 28 + 4 * std::min(i, held - 1);
    newBody.insert(newBody.end(), crc, crc + 4);
  }
  newBody.resize(newBody.size() + 4);
  WriteLE32(&newBody[newBody.size() - 4], ZlibCrc(newBody.data(), newBody.size() - 4));
  std::vector<uint8_t> out;
  AppendRecordHeader(&out, (uint32_t)newBody.size(), 0);
  out.insert(out.end(), newBody.begin(), newBody.end());
  out.insert(out.end(), file.begin() + PackHeaderSize + size, file.end());
  return out;
}

TEST(CheckRecordCount, AListThatDiffersFromTheRecordsHeldFailsInEitherDirection) {
  // Three data records: two full blocks and a short one.
  std::vector<uint8_t> data = MixedBytes(2 * BlockBufferSize + 5000, 36);
  std::vector<uint8_t> good = Packed(data, true);
  ASSERT_EQ(ReadLE32(&good[PackHeaderSize + 12]), 3u);
  const struct {
    uint32_t listed;
    bool ok;
  } cases[] = {
      {3, true},     // as written
      {0, true},     // none listed: a file of too many records to list
      {2, false},    // one short
      {1, false},    // two short
      {4, false},    // one more than the file holds, every size and CRC right
      {40, false},   // many more
      {400, false},  // more than a block's worth of list
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("listed " + std::to_string(c.listed));
    Expansion e = ExpandOne(WithListedCount(good, c.listed));
    EXPECT_EQ(e.ok, c.ok);
    EXPECT_EQ(e.check.present, 1u);
    EXPECT_EQ(e.check.listedRecords, c.listed);
    EXPECT_EQ(e.check.dataRecords, 3u);
    // Size and CRC agree throughout: the count alone decides.
    EXPECT_EQ(e.check.expandedSize, e.check.expectedSize);
    EXPECT_EQ(e.check.expandedCrc, e.check.expectedCrc);
  }
}

// A check record body of layout 1 built field by field, followed by a stored
// record of "abc" whose CRC it lists.
std::vector<uint8_t> CraftedFile(uint32_t count, uint32_t crcsHeld) {
  const std::string abc = "abc";
  const uint32_t abcCrc = ZlibCrc((const uint8_t*)abc.data(), abc.size());
  std::vector<uint8_t> body(28 + 4 * crcsHeld + 4);
  memcpy(&body[0], CheckRecordId, CheckRecordIdSize);  // identifier
  WriteLE32(&body[8], 1);                              // layout version
  WriteLE32(&body[12], count);                         // n: records listed
  WriteLE32(&body[16], (uint32_t)abc.size());          // expanded size, low half
  WriteLE32(&body[20], 0);                             // expanded size, high half
  WriteLE32(&body[24], abcCrc);                        // CRC of the whole expansion
  for (uint32_t i = 0; i < crcsHeld; ++i) {
    WriteLE32(&body[28 + 4 * i], abcCrc);  // CRCs of the records
  }
  WriteLE32(&body[body.size() - 4], ZlibCrc(body.data(), body.size() - 4));  // its own CRC
  std::vector<uint8_t> file;
  AppendRecordHeader(&file, (uint32_t)body.size(), 0);
  file.insert(file.end(), body.begin(), body.end());
  AppendStoredRecord(&file, abc);
  return file;
}

TEST(CheckRecordCount, ACountWhoseEntriesWrapThe32BitSizeIsDamage) {
  // The control: one record, listed once.
  Expansion control = ExpandOne(CraftedFile(1, 1));
  ASSERT_TRUE(control.ok);
  ASSERT_EQ(control.check.listedRecords, 1u);

  // Each count times four, in 32 bits, equals four times the CRCs the body
  // holds, so that the body's length alone matches it.
  const struct {
    uint32_t count, crcsHeld;
  } cases[] = {
      {0x40000000u, 0},  // 4n wraps to 0
      {0x40000001u, 1},  // to 4
      {0x80000001u, 1},  // to 4, twice round
      {0xC0000002u, 2},  // to 8
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("count " + std::to_string(c.count));
    std::vector<uint8_t> file = CraftedFile(c.count, c.crcsHeld);
    CheckRecord record;
    EXPECT_EQ(ReadCheckRecord(&file[PackHeaderSize], ReadLE32(&file[8]), &record),
              (uint32_t)CheckRecordDamaged);
    // The reader stops at the check record: nothing is believed of it and
    // nothing after it is written.
    Expansion e = ExpandOne(file);
    EXPECT_FALSE(e.ok);
    EXPECT_EQ(e.check.present, 0u);
    EXPECT_TRUE(e.bytes.empty());
  }
}

// A first file that leaves unique tokens in the ring: 3,100 random bytes,
// then zeros enough for the block to compress.
std::vector<uint8_t> RingFiller() {
  std::vector<uint8_t> data = RandomBytes(3100, 41);
  data.resize(data.size() + 60000, 0);
  return data;
}

// The bytes that a block coded after `first` must begin with for its body to
// begin with the check record's identifier: what the identifier's 64 bits
// decode to, to the end of the symbol they end in, through the ring `first`
// leaves.
std::vector<uint8_t> BytesCodedAsTheIdentifier(const std::vector<uint8_t>& first) {
  auto encoder = std::make_unique<EncoderState>();
  std::vector<uint8_t> body;
  uint32_t covered = EncodeBlock(encoder.get(), first.data(), (uint32_t)first.size(), true, &body);
  EXPECT_EQ(covered, first.size());
  auto decoder = std::make_unique<ReferenceDecoder>();
  decoder->Decode(body.data(), (uint32_t)body.size(), covered);
  std::vector<uint8_t> bits(CheckRecordId, CheckRecordId + CheckRecordIdSize);
  bits.resize(32, 0);
  std::vector<uint8_t> lead;
  for (uint32_t want = 1; want < 1000; ++want) {
    auto trial = std::make_unique<ReferenceDecoder>(*decoder);
    trial->DecodeInto(bits.data(), (uint32_t)bits.size(), want, &lead);
    if (trial->Consumed() >= 64) break;
  }
  return lead;
}

TEST(CheckRecordLookalike, ABlockThatBeginsWithTheIdentifierIsStored) {
  std::vector<uint8_t> first = RingFiller(), second = BytesCodedAsTheIdentifier(first);
  for (int i = 0; i < 3000; ++i) second.push_back((uint8_t) "setup install "[i % 14]);

  // The premise: coded after the first file, the second's block begins with
  // the identifier (and would shrink).
  auto encoder = std::make_unique<EncoderState>();
  std::vector<uint8_t> body;
  EncodeBlock(encoder.get(), first.data(), (uint32_t)first.size(), true, &body);
  body.clear();
  EncodeBlock(encoder.get(), second.data(), (uint32_t)second.size(), true, &body);
  ASSERT_TRUE(IsCheckRecordBody(body.data(), (uint32_t)body.size()))
      << "the encoder no longer codes these bytes as the decoder reads the identifier: another first file "
         "(RingFiller) is needed";
  ASSERT_LT(body.size(), second.size());

  for (bool withCheck : {true, false}) {
    SCOPED_TRACE(withCheck ? "with check records" : "without");
    auto state = std::make_unique<EncoderState>();
    std::vector<std::vector<uint8_t>> packed(2);
    PackFile(state.get(), first.data(), first.size(), withCheck, &packed[0], nullptr);
    PackFile(state.get(), second.data(), second.size(), withCheck, &packed[1], nullptr);
    std::vector<ListedRecord> records;
    std::string error;
    ASSERT_TRUE(ListRecords(packed[1], &records, &error)) << error;
    ASSERT_EQ(records.size(), withCheck ? 2u : 1u);
    EXPECT_EQ(records.back().packedSize, 0u) << "the block was kept compressed";
    EXPECT_FALSE(records.back().isCheck);
    std::vector<std::vector<uint8_t>> expanded;
    ASSERT_TRUE(ExpandPackedData(packed, &expanded, nullptr, nullptr, &error)) << error;
    EXPECT_TRUE(expanded[1] == second);
  }
}

}  // namespace
