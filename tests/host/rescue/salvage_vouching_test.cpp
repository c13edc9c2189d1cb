// What salvage vouches for: the bytes of whole records whose CRC-32 the check
// record lists, and nothing else (not the decodable start of a record cut
// short, not a record the list does not reach).
#include <string>

#include "setuppack_runner.h"

namespace {

// Offsets of the records of a pack file, found by walking the headers: each
// is 16 bytes (magic, packed size, expanded size), then the packed size's
// bytes, or the expanded size's for a stored record (packed size 0).
std::vector<size_t> RecordOffsets(const std::vector<uint8_t>& packed) {
  std::vector<size_t> offsets;
  for (size_t at = 0; at + PackHeaderSize <= packed.size();) {
    offsets.push_back(at);
    uint32_t packedSize = ReadLE32(&packed[at + 8]), expandedSize = ReadLE32(&packed[at + 12]);
    at += PackHeaderSize + (packedSize != 0 ? packedSize : expandedSize);
  }
  return offsets;
}

using SalvageTest = SetuppackTest;

TEST_F(SalvageTest, TheStartOfARecordCutShortIsWrittenButNotVouchedFor) {
  // Three blocks of data: the check record, then three compressed records.
  std::vector<uint8_t> data = MixedBytes(3 * BlockBufferSize, 41);
  Write("data", data);
  ASSERT_EQ(Run("pack data data.pk").status, 0);
  std::vector<uint8_t> packed = Read("data.pk");
  std::vector<size_t> records = RecordOffsets(packed);
  ASSERT_EQ(records.size(), 4u);
  // Cut in the middle of the last record's body.
  size_t lastBody = packed.size() - records[3] - PackHeaderSize;
  packed.resize(records[3] + PackHeaderSize + lastBody / 2);
  Write("cut.pk", packed);

  Result r = Run("unpack --salvage cut.pk out");
  EXPECT_EQ(r.status, 1) << r.output;
  std::vector<uint8_t> out = Read("out");
  // Two whole records are vouched for; the cut one's decodable start is
  // written after them, and is not.
  const size_t whole = 2 * BlockBufferSize;
  ASSERT_GT(out.size(), whole) << r.output;
  EXPECT_TRUE(std::equal(out.begin(), out.end(), data.begin())) << "what is written is the data's start";
  std::string said = "salvaged " + std::to_string(out.size()) + " of " + std::to_string(data.size()) +
                     " bytes, " + std::to_string(whole) + " of them vouched for by its check record";
  EXPECT_NE(r.output.find(said), std::string::npos) << "wanted: " << said << "\n" << r.output;
}

TEST_F(SalvageTest, ARecordPastTheCheckRecordsListIsNotVouchedForNorCheckedAgainstWhatFollowsTheList) {
  // One block of data packed with its check record (which lists one record's
  // CRC-32, followed by the check record's own CRC-32), then a stored record
  // of 100 bytes that no check record lists.
  std::vector<uint8_t> data = MixedBytes(5000, 42);
  Write("data", data);
  ASSERT_EQ(Run("pack data data.pk").status, 0);
  std::vector<uint8_t> packed = Read("data.pk");
  ASSERT_EQ(RecordOffsets(packed).size(), 2u);
  size_t extraAt = packed.size();
  AppendStoredRecord(&packed, std::string(100, 'x'));
  Write("longer.pk", packed);

  Result r = Run("unpack --salvage longer.pk out");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("record 2 at offset " + std::to_string(extraAt) +
                          ": not listed in the check record; 100 bytes at 5000 of the expansion written, "
                          "not vouched for"),
            std::string::npos)
      << r.output;
  EXPECT_EQ(r.output.find("do not match their CRC-32"), std::string::npos)
      << "the record was checked against a CRC-32 the list does not hold:\n"
      << r.output;
  EXPECT_NE(r.output.find("salvaged 5100 of 5000 bytes, 5000 of them vouched for"), std::string::npos)
      << r.output;
  std::vector<uint8_t> out = Read("out");
  ASSERT_EQ(out.size(), 5100u);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin()));
}

}  // namespace
