// A directory record of a disc image is read only when it lies whole in its
// folder: its length byte is checked against the folder's size.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "iso_test_image.h"
#include "rescue/iso9660.h"

namespace {

TEST(IsoImage, ARecordLongerThanWhatIsLeftOfItsFolderIsNotRead) {
  // The root folder: sector 18, 60 bytes. Its one record names the file
  // INSTALL.SC_;1 (13 bytes of name: 33 + 13 = 46 bytes of record) in sector
  // 19, 100 bytes long; its length byte says `length`. The sector holds the
  // folder's 60 bytes and zeros after them, as a damaged image may.
  const uint32_t FolderSize = 60;
  const struct {
    uint8_t length;
    bool listed;
  } cases[] = {{46, true}, {FolderSize, true}, {FolderSize + 1, false}, {200, false}};
  for (const auto& c : cases) {
    IsoTestImage iso(20, 2048, 18, FolderSize);
    uint8_t* record = &iso.bytes[18 * IsoTestImage::Sector];
    IsoTestImage::Record(record, 19, 100, 0, "INSTALL.SC_;1");
    record[0] = c.length;
    char path[] = "/tmp/setuppack-iso-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::ofstream(path, std::ios::binary).write((const char*)iso.bytes.data(), iso.bytes.size());
    FileReader file;
    std::string error;
    ASSERT_TRUE(file.Open(path, &error)) << error;
    IsoImage listing;
    EXPECT_TRUE(ReadIsoImage(&file, 0, iso.bytes.size(), &listing, &error)) << error;
    const std::vector<IsoFile>& files = listing.files;
    unlink(path);
    if (c.listed) {
      ASSERT_EQ(files.size(), 1u) << "length " << (int)c.length;
      EXPECT_EQ(listing.PathOf(files[0]), "INSTALL.SC_");
      EXPECT_EQ(files[0].offset, 19u * 2048);
      EXPECT_EQ(files[0].size, 100u);
    } else {
      EXPECT_TRUE(files.empty()) << "length " << (int)c.length << ": a record past its folder's end was read";
    }
  }
}

}  // namespace
