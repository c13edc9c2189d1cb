// The seal block at the edges of a section and of the file, and the PE
// checksum that sealing writes, checked against a computation of its own
// (a few lines of Python) on images whose checksum field is not zero.
#include <string.h>

#include "pe_test_image.h"
#include "seal.h"
#include "media/seal_image.h"
#include "setuppack_runner.h"

namespace {

TEST(SealPlacement, ABlockThatDoesNotFitInItsSectionIsRefusedAndNothingIsWritten) {
  const struct {
    const char* what;
    ImageLayout layout;
    bool sealable;
  } cases[] = {
      {"the section's last bytes", {1024, 512, 512, 512, 1024 - SealBlockSize, 0}, true},
      {"the file's last bytes, the section running past it",
       {1024, 512, 4096, 0, 1024 - SealBlockSize, 0},
       true},
      {"one byte past the section, more file after it",
       {1024, 512, 256, 256, 768 - SealBlockSize + 1, 0},
       false},
      {"its identifier alone at the section's end", {1024, 512, 256, 256, 760, 0}, false},
      {"past the loaded part of the section", {1024, 512, 256, 150, 600, 0}, false},
      {"one byte past the file's end", {1024, 512, 4096, 0, 1024 - SealBlockSize + 1, 0}, false},
      {"its identifier and version alone at the file's end", {1024, 512, 4096, 4096, 1012, 0}, false},
      {"its identifier alone at the file's end", {1024, 512, 4096, 4096, 1016, 0}, false},
      // Its last bytes over the section table, which sealing would change.
      {"in the headers, under a section that covers them", {1024, 0, 1024, 1024, 224, 0}, false},
  };
  const std::vector<uint8_t> script = {1, 2, 3}, installer = {4, 5};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<uint8_t> built = ImageOf(c.layout);
    std::vector<uint8_t> image = built;
    SealInfo seal;
    std::string error;
    EXPECT_EQ(ReadSeal(image, "setup.exe", &seal, &error), c.sealable) << error;
    EXPECT_EQ(SealImage(&image, "setup.exe", script, installer, &error), c.sealable) << error;
    ASSERT_EQ(image.size(), built.size());
    if (!c.sealable) {
      EXPECT_TRUE(image == built);
      continue;
    }
    EXPECT_TRUE(ReadSeal(image, "setup.exe", &seal, &error)) << error;
    EXPECT_EQ(seal.state, SealState::Sealed);
    EXPECT_EQ(SealMismatch(seal, script, installer), -1);
    for (size_t i = 0; i < image.size(); ++i) {
      bool mayChange = (i >= c.layout.blockAt && i < c.layout.blockAt + SealBlockSize) ||
                       (i >= ChecksumAt && i < ChecksumAt + 4);
      if (!mayChange) {
        ASSERT_EQ(image[i], built[i]) << "byte " << i;
      }
    }
  }
}

class PeChecksumTest : public SetuppackTest {
 protected:
  // The checksum of a file as Windows defines it (16-bit words summed with
  // their carries folded back, the checksum field counted as zero, plus the
  // file's length), computed by Python from the file itself.
  uint32_t PythonChecksum(const std::vector<uint8_t>& image) {
    Write("image", image);
    Result r = Shell(
        "python3 -c '\n"
        "import struct\n"
        "data = bytearray(open(\"image\", \"rb\").read())\n"
        "field = struct.unpack_from(\"<I\", data, 60)[0] + 24 + 64\n"
        "data[field:field + 4] = bytes(4)\n"
        "total = 0\n"
        "for (word,) in struct.iter_unpack(\"<H\", data + bytes(len(data) % 2)):\n"
        "    total = (total & 0xFFFF) + (total >> 16) + word\n"
        "total = (total & 0xFFFF) + (total >> 16)\n"
        "print(total + len(data))'");
    EXPECT_EQ(r.status, 0) << r.output;
    return (uint32_t)strtoul(r.output.c_str(), nullptr, 10);
  }
};

TEST_F(PeChecksumTest, SealingWritesTheChecksumThatAnIndependentComputationFinds) {
  // Odd and even lengths, each with a checksum field that is not zero before
  // sealing (so that counting any of it would show).
  for (size_t size : {1024u, 1023u, 2049u}) {
    for (uint32_t field : {0xA5A5A5A5u, 0xFFFFFFFFu, 0x00010000u}) {
      SCOPED_TRACE(std::to_string(size) + " bytes, field " + std::to_string(field));
      std::vector<uint8_t> image = ImageOf({size, 512, 4096, 0, 600, field});
      for (size_t i = 700; i < size; ++i) image[i] = (uint8_t)(i * 7 + (i >> 8));
      std::string error;
      ASSERT_TRUE(SealImage(&image, "setup.exe", {1}, {2}, &error)) << error;
      EXPECT_EQ(ReadLE32(&image[ChecksumAt]), PythonChecksum(image));
    }
  }
  // A real Windows program, its own checksum field set.
  std::vector<uint8_t> program = RealBinary("version.dll");
  if (program.size() < 1024 || program[0] != 'M') GTEST_SKIP() << "no Windows program here";
  size_t field = ReadLE32(&program[60]) + 24 + 64;
  ASSERT_NE(ReadLE32(&program[field]), 0u);
  EXPECT_EQ(PeChecksum(program, field), PythonChecksum(program));
}

}  // namespace
