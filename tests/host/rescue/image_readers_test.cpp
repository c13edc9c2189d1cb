// The FAT and raw CD readers against images the system's own tools make
// (mkfs.vfat, mtools, sfdisk, genisoimage), raw sectors written here from an
// ISO image, and images damaged or cut by the test.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "rescue/fat.h"
#include "rescue/image_files.h"
#include "rescue/iso9660.h"
#include "rescue/raw_cd_image.h"
#include "setuppack_runner.h"

namespace {

// A file as a reader lists it: its bytes as far as they can be read.
struct Listed {
  std::vector<uint8_t> bytes;
  uint64_t size;
  size_t extents;
  std::string damage;
};
using FileMap = std::map<std::string, Listed>;

std::vector<uint8_t> ReadAll(ImageBytes* bytes) {
  std::vector<uint8_t> data((size_t)bytes->Size());
  size_t got = 0;
  std::string error;
  EXPECT_TRUE(bytes->ReadAt(0, data.data(), data.size(), &got, &error)) << error;
  data.resize(got);
  return data;
}

std::shared_ptr<ImageBytes> OpenBytes(const std::string& path) {
  std::shared_ptr<FileReader> file(new FileReader());
  std::string error;
  EXPECT_TRUE(file->Open(path, &error)) << error;
  return std::make_shared<FileBytes>(file, 0, file->Size());
}

// The files of the one volume the image holds, and its file system.
FileMap List(const std::string& path, const RawTrack* track, std::string* kind) {
  std::vector<ImageVolume> volumes;
  std::string error;
  FileMap listing;
  EXPECT_TRUE(ReadImage(OpenBytes(path), track, &volumes, &error)) << error;
  EXPECT_EQ(volumes.size(), 1u);
  for (const ImageVolume& v : volumes) {
    *kind = v.fileSystem;
    for (const ImageFile& f : v.files) {
      ExtentBytes* extents = dynamic_cast<ExtentBytes*>(f.bytes.get());
      listing[v.PathOf(f)] = {ReadAll(f.bytes.get()), f.size, extents ? extents->Count() : 0, f.damage};
    }
  }
  return listing;
}

class ImageReadersTest : public SetuppackTest {
 protected:
  void SetUp() override {
    SetuppackTest::SetUp();
    if (Shell("command -v mkfs.vfat && command -v mcopy && command -v sfdisk && command -v genisoimage")
            .status) {
      GTEST_SKIP()
          << "dosfstools, mtools, fdisk or genisoimage is missing (scripts/install-deps.sh installs them)";
    }
    files_ = {{"script", RandomBytes(30000, 1)},
              {"installer", RandomBytes(300000, 2)},
              {"filler", RandomBytes(20000, 3)},
              {"readme", RandomBytes(100, 4)}};
    for (const auto& f : files_) Write(f.first, f.second);
  }
  // Makes an image by a shell line (MTOOLS_SKIP_CHECK: the tools do not
  // refuse images of unusual geometry).
  void Make(const std::string& line) {
    ASSERT_EQ(Shell("export MTOOLS_SKIP_CHECK=1; " + line).status, 0) << line;
  }
  std::map<std::string, std::vector<uint8_t>> files_;
};

// What a listed file must be: the named input whole (no damage), or a
// prefix of it at least `least` bytes long, with damage that says `damage`.
struct Expect {
  std::string path, input;
  size_t least;
  std::string damage;
};

TEST_F(ImageReadersTest, EachImageKindListsItsFilesUnderTheirNames) {
  const std::string Floppy =
      "mkfs.vfat -C floppy.img 1440 >/dev/null && mmd -i floppy.img ::/SETUP && mcopy -i floppy.img filler "
      "::/F1 && mcopy -i floppy.img filler ::/F2 && mcopy -i floppy.img filler ::/F3 && mdel -i floppy.img "
      "::/F2 && mcopy -i floppy.img installer ::/SETUP/INSTALL.EX_ && mcopy -i floppy.img script "
      "::/SETUP/install.sc_";
  std::vector<uint8_t> iso;
  auto isoImage = [&]() {
    Make(
        "mkdir -p tree/DISK1 && cp script tree/DISK1/INSTALL.SC_ && cp installer tree/DISK1/INSTALL.EX_ && "
        "cp readme tree/README.TXT && genisoimage -quiet -J -o disc.iso tree");
    iso = Read("disc.iso");
  };
  struct Case {
    const char* name;
    std::function<void()> make;
    const char* image;  // a .cue: the image it names, from the track it places
    std::string kind;
    std::vector<Expect> expect;
  };
  const std::vector<Expect> media = {{"DISK1/INSTALL.SC_", "script", 0, ""},
                                     {"DISK1/INSTALL.EX_", "installer", 0, ""},
                                     {"README.TXT", "readme", 0, ""}};
  std::vector<Case> cases = {
      {"FAT12 floppy, written, deleted, written",
       [&] { Make(Floppy); },
       "floppy.img",
       "FAT12",
       {{"SETUP/INSTALL.EX_", "installer", 0, ""},
        {"SETUP/install.sc_", "script", 0, ""},
        {"F1", "filler", 0, ""},
        {"F3", "filler", 0, ""}}},
      {"FAT32 with long names",
       [&] {
         Make(
             "mkfs.vfat -F 32 -s 1 -C card.img 36000 >/dev/null && mmd -i card.img '::/Program Files' "
             "'::/Program Files/The Setup Disk, 2nd edition' && mcopy -i card.img installer "
             "'::/Program Files/The Setup Disk, 2nd edition/Install.ex_' && mcopy -i card.img readme "
             "'::/Program Files/a read-me with a long name.txt'");
       },
       "card.img",
       "FAT32",
       {{"Program Files/The Setup Disk, 2nd edition/Install.ex_", "installer", 0, ""},
        {"Program Files/a read-me with a long name.txt", "readme", 0, ""}}},
      {"FAT12 whose FAT loops",
       [&] {
         Make(Floppy);
         // INSTALL.EX_'s first clusters are the hole F2 left (clusters 43
         // on): its third cluster's entry leads back to its first.
         std::vector<uint8_t> image = Read("floppy.img");
         size_t fat = 512, n = 45;
         uint16_t pair = (uint16_t)(image[fat + n * 3 / 2] | image[fat + n * 3 / 2 + 1] << 8);
         pair = n & 1 ? (uint16_t)((pair & 0x000F) | 43 << 4) : (uint16_t)((pair & 0xF000) | 43);
         image[fat + n * 3 / 2] = (uint8_t)pair, image[fat + n * 3 / 2 + 1] = (uint8_t)(pair >> 8);
         Write("floppy.img", image);
       },
       "floppy.img",
       "FAT12",
       {{"SETUP/INSTALL.EX_", "installer", 3 * 512, "its cluster chain loops back to cluster 43"},
        {"SETUP/install.sc_", "script", 0, ""}}},
      {"FAT12 cut through INSTALL.EX_",
       [&] { Make(Floppy + " && truncate -s 200000 floppy.img"); },
       "floppy.img",
       "FAT12",
       {{"SETUP/INSTALL.EX_", "installer", 100000, "the image ends inside it"}, {"F1", "filler", 0, ""}}},
      {"ISO 9660 cut through INSTALL.EX_",
       [&] {
         isoImage();
         IsoImage listing;
         bool joliet;
         std::string error;
         ASSERT_TRUE(ReadIsoImage(OpenBytes(Path("disc.iso")).get(), &listing, &joliet, &error));
         for (const IsoFile& f : listing.files) {
           if (listing.PathOf(f) == "DISK1/INSTALL.EX_")
             Write("cut.iso", {iso.begin(), iso.begin() + f.offset + 150000});
         }
       },
       "cut.iso",
       "ISO 9660, Joliet",
       {{"DISK1/INSTALL.EX_", "installer", 150000, "the image ends inside it"},
        {"DISK1/INSTALL.SC_", "script", 0, "the image ends before it"},
        {"README.TXT", "readme", 0, ""}}},
      {"raw sectors after an audio track, found by their cue sheet",
       [&] {
         isoImage();
         Write("disc.bin", RawSectors(iso, 1, RandomBytes(300 * 2352, 5)));
         std::string cue =
             "FILE \"disc.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
             "  TRACK 02 MODE1/2352\n    INDEX 00 00:02:00\n    INDEX 01 00:04:00\n";
         Write("disc.cue", std::vector<uint8_t>(cue.begin(), cue.end()));
       },
       "disc.cue", "ISO 9660, Joliet; raw sectors, mode 1", media},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Shell("rm -rf tree *.img *.iso *.bin *.cue");
    c.make();
    std::string kind, image = Path(c.image);
    RawTrack track;
    bool cue = image.size() > 4 && image.substr(image.size() - 4) == ".cue";
    if (cue) {
      std::string error;
      ASSERT_TRUE(ReadCueFile(Path(c.image), &image, &track, &error)) << error;
      EXPECT_EQ(image, Path("disc.bin"));
      EXPECT_FALSE(IsRawSectorImage(OpenBytes(image).get(), 0, &track));  // the audio track lies there
    }
    FileMap listing = List(image, cue ? &track : nullptr, &kind);
    EXPECT_EQ(kind, c.kind);
    for (const Expect& e : c.expect) {
      SCOPED_TRACE(e.path);
      ASSERT_TRUE(listing.count(e.path))
          << listing.size() << " files, the first " << (listing.empty() ? "" : listing.begin()->first);
      const Listed& got = listing[e.path];
      const std::vector<uint8_t>& want = files_[e.input];
      EXPECT_EQ(got.size, want.size());
      EXPECT_EQ(got.damage.substr(0, e.damage.size()), e.damage);
      EXPECT_EQ(got.damage.empty(), e.damage.empty()) << got.damage;
      if (e.damage.empty()) {
        EXPECT_TRUE(got.bytes == want);
      } else {
        EXPECT_GE(got.bytes.size(), e.least);
        EXPECT_LT(got.bytes.size(), want.size());
        EXPECT_TRUE(std::equal(got.bytes.begin(), got.bytes.end(), want.begin()));
      }
    }
    if (c.name == std::string("FAT12 floppy, written, deleted, written")) {
      EXPECT_GT(listing["SETUP/INSTALL.EX_"].extents, 1u);  // fragmented, and read whole
    }
  }
}

// A floppy whose 224 root entries all name one folder, which names itself:
// each folder's clusters are read once, every other name of them is
// reported (read as they say, the tree would be 224 folders deep 64 times).
TEST_F(ImageReadersTest, ManyNamesOfOneFolderAreReadOnce) {
  Make("mkfs.vfat -C floppy.img 1440 >/dev/null && mmd -i floppy.img ::/A");
  std::vector<uint8_t> image = Read("floppy.img");
  const size_t Root = 19 * 512, Entries = 224, FolderA = 33 * 512;  // after the boot sector and two FATs
  ASSERT_EQ(memcmp(&image[Root], "A          ", 11), 0);
  for (size_t i = 1; i < Entries; ++i) {
    memcpy(&image[Root + 32 * i], &image[Root], 32);
    std::string name = "A" + std::to_string(1000 + i);
    memcpy(&image[Root + 32 * i], name.data(), name.size());
  }
  memcpy(&image[FolderA + 64], &image[Root], 32);  // after "." and ".."
  memcpy(&image[FolderA + 64], "LOOP", 4);
  Write("floppy.img", image);
  std::shared_ptr<ImageBytes> bytes = OpenBytes(Path("floppy.img"));
  std::vector<FatVolume> volumes = FindFatVolumes(bytes.get());
  ASSERT_EQ(volumes.size(), 1u);
  std::vector<FatFile> files;
  std::vector<std::string> problems;
  std::string error;
  ASSERT_TRUE(ReadFatVolume(bytes.get(), volumes[0], &files, &problems, &error)) << error;
  EXPECT_TRUE(files.empty());
  ASSERT_EQ(problems.size(), Entries);  // 223 more names of A, and A/LOOP
  for (const std::string& p : problems)
    EXPECT_NE(p.find("runs into the clusters of A/ (cluster 2)"), std::string::npos) << p;
}

}  // namespace
