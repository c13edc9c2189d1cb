// scan ends in time that follows its input and in memory that follows the
// directories it reads, whatever the input holds: a chain of records longer
// than a pack file can be, and a disc image whose folders nest deep under
// long names. Both inputs are sparse or small; the bounds are limits of CPU
// time and address space set on the process, far above what it needs.
#include <fcntl.h>

#include "iso_test_image.h"
#include "setuppack_runner.h"

namespace {

class ScanBounds : public SetuppackTest {
 protected:
  // Runs scan under a limit of CPU seconds and, where the build allows it
  // (not under the sanitizers), of address space.
  Result Bounded(const std::string& args, int megabytes) {
    bool limitMemory = Shell("ulimit -v 262144; \"$SP\" --version").status == 0;
    std::string memory = limitMemory ? "ulimit -v " + std::to_string(megabytes * 1024) + "; " : "";
    return Shell("ulimit -t 120; " + memory + "\"$SP\" " + args);
  }
};

// 4.3 GB of stored records after a megabyte of zeros, all but their headers
// holes: each header was once walked to the end of the file, 68,000 times.
TEST_F(ScanBounds, AChainLongerThanAPackFileIsWalkedOnce) {
  const uint64_t Start = 1 << 20, Record = PackHeaderSize + BlockBufferSize, Records = 68000;
  int fd = open(Path("long.img").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  std::vector<uint8_t> header;
  AppendRecordHeader(&header, 0, BlockBufferSize);
  for (uint64_t i = 0; i < Records; ++i) {
    ASSERT_EQ(pwrite(fd, header.data(), header.size(), (off_t)(Start + i * Record)), (ssize_t)header.size());
  }
  ASSERT_EQ(ftruncate(fd, (off_t)(Start + Records * Record + 100)), 0);
  close(fd);
  Result r = Bounded("scan long.img", 256);
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_EQ(r.output, "setuppack: long.img: the records at offsets 1048576 to " +
                          std::to_string(Start + Records * Record) +
                          " are 4 GiB or more with no check record between them: not a pack file (pack files "
                          "measure sizes in 32 bits)\n");
}

// 64 folders nested under names of 200 characters, the deepest holding
// 32,768 files of such names (an 8.5 MB image): each file's path was kept
// whole, 13 KB each, 420 MB in all.
TEST_F(ScanBounds, DeepFoldersTakeMemoryThatFollowsTheirDirectories) {
  const size_t Sector = IsoTestImage::Sector, Depth = 63, ListSectors = 4096, PerSector = 8;
  const uint32_t Root = 18, Deepest = Root + Depth, List = Deepest + 1;
  IsoTestImage iso(List + ListSectors + 1, 2048, Root, Sector);
  const std::string name(200, 'D');
  for (uint32_t f = Root; f < Deepest; ++f) {
    iso.used = 0;
    iso.Add(f * Sector, f + 1, Sector, 2, name);
  }
  // The deepest folder lists the files, a sector at a time (it names one
  // sector of its own; the list follows as a folder of its own).
  iso.used = 0;
  iso.Add(Deepest * Sector, List, (uint32_t)(ListSectors * Sector), 2, "L");
  iso.used = 0;
  for (size_t i = 0; i + 1 < ListSectors * PerSector; ++i) {
    iso.Add(List * Sector, 16, 6, 0, name.substr(0, 190) + std::to_string(100000 + i) + ";1");
  }
  // The last one is a pack file, in the image's last sector.
  std::vector<uint8_t> packed;
  AppendStoredRecord(&packed, "found");
  memcpy(&iso.bytes[(List + ListSectors) * Sector], packed.data(), packed.size());
  iso.Add(List * Sector, (uint32_t)(List + ListSectors), (uint32_t)packed.size(), 0, "LAST.PK;1");
  Write("deep.iso", iso.bytes);
  Result r = Bounded("scan deep.iso", 160);
  EXPECT_EQ(r.status, 0) << r.output.substr(0, 2000);
  std::string path = "deep.iso:";
  for (size_t i = 0; i < Depth; ++i) path += "/" + name;
  EXPECT_EQ(r.output, path + "/L/LAST.PK (ISO 9660): pack file, 21 bytes packed; 5 bytes, no check record\n")
      << r.output.substr(0, 2000);
}

}  // namespace
