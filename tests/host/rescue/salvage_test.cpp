// Salvage and the record chain of damaged pack files, in-process: the
// chain's ends on crafted files, every byte salvage vouches for being right
// over a sweep of cuts and flipped bits, and disc images whose directories
// lie.
#include <gtest/gtest.h>
#include <stdio.h>

#include <memory>

#include "platform/file_io.h"
#include "rescue/iso9660.h"
#include "iso_test_image.h"
#include "encode/encoder.h"
#include "expand/expand.h"
#include "expand/layout.h"
#include "rescue/salvage.h"
#include "test_data.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

std::vector<uint8_t> Stored(const std::string& body) {
  std::vector<uint8_t> out;
  AppendStoredRecord(&out, body);
  return out;
}

std::vector<uint8_t> Join(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(PackLayout, HowFilesEnd) {
  std::vector<uint8_t> badSizes = Bytes("PACKDAT$");
  badSizes.resize(16, 0xFF);
  std::vector<uint8_t> longClaim;
  AppendRecordHeader(&longClaim, 0, 100);
  longClaim.resize(longClaim.size() + 10, 'x');
  struct {
    const char* what;
    std::vector<uint8_t> file;
    bool notPackFormat;
    ChainEnd end;
    size_t records, endOffset, chains;
  } cases[] = {
      {"empty", {}, false, ChainEnd::Whole, 0, 0, 1},
      {"a cut header", Bytes("PACKD"), false, ChainEnd::Cut, 0, 0, 1},
      {"one record", Stored("abc"), false, ChainEnd::Whole, 1, 19, 1},
      {"zero padding", Join(Stored("abc"), std::vector<uint8_t>(16, 0)), false, ChainEnd::Padding, 1, 19, 1},
      {"mixed padding", Join(Stored("abc"), {0x1A, 0x1A, 0, 0x1A}), false, ChainEnd::Padding, 1, 19, 1},
      {"garbage", Join(Stored("abc"), Bytes("x")), false, ChainEnd::Garbage, 1, 19, 1},
      {"padding, then garbage", Join(Stored("abc"), {0, 0, 'x'}), false, ChainEnd::Garbage, 1, 19, 1},
      {"a body cut short", Join(Stored("abc"), longClaim), false, ChainEnd::Cut, 1, 19, 1},
      {"sizes past the limit", Join(Stored("abc"), badSizes), false, ChainEnd::BadHeader, 1, 19, 1},
      {"junk between records", Join(Join(Stored("abc"), Bytes("junk!")), Stored("de")), false,
       ChainEnd::BadHeader, 1, 19, 2},
      {"a program", Bytes("MZ\x90\0\x03"), true, ChainEnd::Garbage, 0, 0, 1},
      {"only zeros", std::vector<uint8_t>(64, 0), true, ChainEnd::Garbage, 0, 0, 1},
  };
  for (const auto& c : cases) {
    PackLayout layout = ReadLayout(c.file);
    EXPECT_EQ(layout.NotPackFormat(), c.notPackFormat) << c.what;
    EXPECT_EQ(layout.first().end, c.end) << c.what;
    EXPECT_EQ(layout.first().records.size(), c.records) << c.what;
    EXPECT_EQ(layout.first().endOffset, c.endOffset) << c.what;
    EXPECT_EQ(layout.chains.size(), c.chains) << c.what;
  }
  // After junk, the next chain starts at the next record header.
  PackLayout junk = ReadLayout(cases[9].file);
  EXPECT_EQ(junk.chains[1].from, 24u);
  EXPECT_EQ(junk.chains[1].end, ChainEnd::Whole);
}

class KeptSink final : public ExpansionSink {
 public:
  void Take(const uint8_t* data, size_t size) override { bytes.insert(bytes.end(), data, data + size); }
  std::vector<uint8_t> bytes;
};

// Every cut and, at a stride, every flipped bit of an installer packed after
// its script: the script comes out whole, every byte salvage vouches for is
// the installer's, and a file that is only cut salvages to a prefix of it.
TEST(Salvage, VouchedBytesAreRightOverCutsAndFlippedBits) {
  std::vector<uint8_t> script = MixedBytes(6000, 51), installer(script.begin(), script.begin() + 2000);
  std::vector<uint8_t> rest = MixedBytes(150000, 52);
  installer.insert(installer.end(), rest.begin(), rest.end());
  auto state = std::make_unique<EncoderState>();
  std::vector<uint8_t> packedScript, packedInstaller;
  PackFile(state.get(), script.data(), script.size(), true, &packedScript, nullptr);
  PackFile(state.get(), installer.data(), installer.size(), true, &packedInstaller, nullptr);

  size_t tried = 0;
  uint64_t vouched = 0, written = 0;
  auto attempt = [&](const std::vector<uint8_t>& damaged, bool onlyCut, const std::string& what) {
    std::unique_ptr<PackExpander> expander(new PackExpander());
    ResetDecoderState(&expander->decoder);
    SalvageReport first, second;
    KeptSink kept;
    SalvagePackFile(expander.get(), packedScript, nullptr, &first);
    SalvagePackFile(expander.get(), damaged, &kept, &second);
    ASSERT_TRUE(first.whole);
    EXPECT_EQ(second.written, kept.bytes.size()) << what;
    EXPECT_EQ(second.whole, second.damage.empty()) << what;
    for (const auto& stretch : second.vouchedStretches) {
      ASSERT_LE(stretch.first + stretch.second, kept.bytes.size()) << what;
      ASSERT_LE(stretch.first + stretch.second, installer.size()) << what;
      EXPECT_TRUE(std::equal(kept.bytes.begin() + stretch.first,
                             kept.bytes.begin() + stretch.first + stretch.second,
                             installer.begin() + stretch.first))
          << what << ": vouched bytes at " << stretch.first;
    }
    if (onlyCut) {
      EXPECT_LE(kept.bytes.size(), installer.size()) << what;
      EXPECT_TRUE(std::equal(kept.bytes.begin(), kept.bytes.end(), installer.begin())) << what;
    }
    ++tried;
    vouched += second.vouched;
    written += second.written;
  };
  for (size_t length = 1; length < packedInstaller.size(); length += 7) {
    attempt(std::vector<uint8_t>(packedInstaller.begin(), packedInstaller.begin() + length), true,
            "cut at " + std::to_string(length));
  }
  for (size_t at = 0; at < packedInstaller.size(); at += 5) {
    std::vector<uint8_t> damaged = packedInstaller;
    damaged[at] ^= (uint8_t)(1 << (at % 8));
    attempt(damaged, false, "bit flipped at " + std::to_string(at));
  }
  printf("%zu damaged installers: %llu bytes salvaged, %llu of them vouched for\n", tried,
         (unsigned long long)written, (unsigned long long)vouched);
}

// A disc image of 19 sectors whose root folder names itself as a subfolder
// and a file beyond the image's end: read without looping, the file left out.
TEST(IsoImage, DirectoriesThatLieAreReadSafely) {
  const size_t Sector = 2048;
  std::vector<uint8_t> image(19 * Sector, 0);
  uint8_t* pvd = &image[16 * Sector];
  pvd[0] = 1;
  memcpy(pvd + 1, "CD001", 5);
  pvd[128] = 0x00, pvd[129] = 0x08;  // blocks of 2048 bytes
  auto record = [](uint8_t* r, uint32_t extent, uint32_t size, uint8_t flags, const char* name) {
    size_t nameSize = strlen(name);
    r[0] = (uint8_t)(33 + nameSize + (nameSize % 2 == 0));
    WriteLE32(r + 2, extent);
    WriteLE32(r + 10, size);
    r[25] = flags;
    r[32] = (uint8_t)nameSize;
    memcpy(r + 33, name, nameSize);
    return r[0];
  };
  record(pvd + 156, 18, Sector, 2, "\0");
  image[17 * Sector] = 255;
  memcpy(&image[17 * Sector + 1], "CD001", 5);
  uint8_t* root = &image[18 * Sector];
  size_t at = record(root, 18, Sector, 2, "\0");
  at += record(root + at, 18, Sector, 2, "\1");
  at += record(root + at, 18, Sector, 2, "AGAIN");
  at += record(root + at, 17, 100, 0, "SEEN.TXT;1");
  record(root + at, 400, 100, 0, "GONE.TXT;1");
  char path[] = "/tmp/setuppack-iso-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  auto save = [&] { std::ofstream(path, std::ios::binary).write((const char*)image.data(), image.size()); };
  save();
  FileReader file;
  std::string error;
  ASSERT_TRUE(file.Open(path, &error)) << error;
  ASSERT_TRUE(IsIsoImage(&file, 0, image.size()));
  std::vector<IsoFile> files;
  EXPECT_TRUE(ReadIsoImage(&file, 0, image.size(), &files, &error)) << error;
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].path, "SEEN.TXT");
  EXPECT_EQ(files[0].offset, 17 * Sector);
  // A folder that lies beyond the image is an error, not a read past it.
  WriteLE32(pvd + 156 + 2, 300);
  save();
  EXPECT_FALSE(ReadIsoImage(&file, 0, image.size(), &files, &error));
  EXPECT_NE(error.find("lies outside the image"), std::string::npos) << error;
  unlink(path);
}

// Images whose records name overlapping folders or files, each naming many:
// read in work bounded by the image's size, or refused. (Read as they say,
// the folders of the first one, 292 KiB, would be queued half a million
// times.)
TEST(IsoImage, OverlappingFoldersAndFilesAreRefused) {
  const size_t Sector = IsoTestImage::Sector, Sectors = 128;
  struct Case {
    const char* what;
    uint8_t flags;
    const char* error;
  } cases[] = {{"folders", 2, "its folders overlap"}, {"files", 0, "its files overlap"}};
  for (const Case& c : cases) {
    // Every record names the rest of the image from one of its sectors on.
    IsoTestImage iso(18 + Sectors, 2048, 18, Sectors * Sector);
    iso.used = 0;
    for (size_t i = 0; i < Sectors * 60; ++i) {
      uint32_t extent = (uint32_t)(18 + i % Sectors);
      iso.Add(18 * Sector, extent, (uint32_t)((18 + Sectors - extent) * Sector), c.flags, "A");
    }
    char path[] = "/tmp/setuppack-iso-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::ofstream(path, std::ios::binary).write((const char*)iso.bytes.data(), iso.bytes.size());
    FileReader file;
    std::string error;
    ASSERT_TRUE(file.Open(path, &error)) << error;
    std::vector<IsoFile> files;
    EXPECT_FALSE(ReadIsoImage(&file, 0, iso.bytes.size(), &files, &error)) << c.what;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.what << ": " << error;
    // Damage that makes one file run over all those after it is read.
    IsoTestImage full(18 + Sectors, 2048, 18, 4 * Sector);
    full.Add(18 * Sector, 18, 4 * Sector, 2, std::string(1, '\0'));
    for (uint32_t extent = 22; extent < 18 + Sectors; ++extent) {
      uint32_t size = extent == 22 ? (uint32_t)((Sectors - 4) * Sector) : (uint32_t)Sector;
      full.Add(18 * Sector, extent, size, 0, "F" + std::to_string(extent) + ";1");
    }
    std::ofstream(path, std::ios::binary).write((const char*)full.bytes.data(), full.bytes.size());
    EXPECT_TRUE(ReadIsoImage(&file, 0, full.bytes.size(), &files, &error)) << error;
    EXPECT_EQ(files.size(), Sectors - 4);
    unlink(path);
  }
}

}  // namespace
