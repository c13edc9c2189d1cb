// The record a damaged pack file of more than 64 MiB first differs in, as
// the streamed expansion names it: such a file is not read whole again, so
// the offset comes from walking its headers as it streams.
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <string>

#include "setuppack_runner.h"

namespace {

using StreamedOffsetTest = SetuppackTest;

TEST_F(StreamedOffsetTest, TheFirstRecordThatDiffersIsNamedAtItsOffsetHeadersIncluded) {
  // 1,057 stored records of 63,488 zero bytes (67 MB expanded, 67.1 MB
  // packed: past the 64 MiB a damaged file is read whole up to), behind a
  // check record that lists them. Written sparse: only the headers and the
  // one damaged byte take room on the disk.
  const uint32_t Records = 1057, Damaged = 700;  // counted from 1, after the check record
  std::vector<uint8_t> zeros(BlockBufferSize, 0);
  uint32_t recordCrc = (uint32_t)crc32(0, zeros.data(), BlockBufferSize), wholeCrc = 0;
  for (uint32_t i = 0; i < Records; ++i) wholeCrc = (uint32_t)crc32(wholeCrc, zeros.data(), BlockBufferSize);
  uint64_t expanded = (uint64_t)Records * BlockBufferSize;

  const uint32_t checkBody = 32 + 4 * Records;
  std::vector<uint8_t> check(PackHeaderSize + checkBody, 0);
  memcpy(&check[0], PackMagic, PackMagicSize);  // the check record's header:
  WriteLE32(&check[8], checkBody);              //   its body's packed size
  WriteLE32(&check[12], 0);                     //   and expanded size, 0
  uint8_t* body = &check[PackHeaderSize];
  memcpy(body, "PACKCHK\x1A", 8);            // its id
  WriteLE32(body + 8, 1);                    // layout version
  WriteLE32(body + 12, Records);             // records listed
  WriteLE32(body + 16, (uint32_t)expanded);  // the expanded size, 64 bits
  WriteLE32(body + 20, (uint32_t)(expanded >> 32));
  WriteLE32(body + 24, wholeCrc);  // zlib's CRC-32 of the expansion
  for (uint32_t i = 0; i < Records; ++i) WriteLE32(body + 28 + 4 * i, recordCrc);  // each record's
  WriteLE32(body + checkBody - 4, (uint32_t)crc32(0, body, checkBody - 4));        // of the body before it

  int fd = open(Path("big.pk").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(pwrite(fd, check.data(), check.size(), 0), (ssize_t)check.size());
  uint64_t at = check.size(), damagedAt = 0;
  for (uint32_t i = 1; i <= Records; ++i) {
    uint8_t header[PackHeaderSize];
    memcpy(header, PackMagic, PackMagicSize);
    WriteLE32(header + 8, 0);  // stored
    WriteLE32(header + 12, BlockBufferSize);
    ASSERT_EQ(pwrite(fd, header, sizeof header, at), (ssize_t)sizeof header);
    if (i == Damaged) {
      damagedAt = at;
      uint8_t one = 1;  // the record's first byte is 1, not 0
      ASSERT_EQ(pwrite(fd, &one, 1, at + PackHeaderSize), 1);
    }
    at += PackHeaderSize + BlockBufferSize;
  }
  ASSERT_EQ(ftruncate(fd, (off_t)at), 0);
  close(fd);
  ASSERT_GT(at, 64u << 20);

  Result r = Run("test big.pk");
  EXPECT_EQ(r.status, 1) << r.output;
  std::string named = "record " + std::to_string(Damaged) + " at offset " + std::to_string(damagedAt) +
                      " is the first that differs";
  EXPECT_NE(r.output.find(named), std::string::npos) << "wanted: " << named << "\n" << r.output;
}

}  // namespace
