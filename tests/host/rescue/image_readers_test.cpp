// The FAT and raw CD readers against images the system's own tools make
// (mkfs.vfat, mtools, sfdisk, genisoimage), raw sectors written here from an
// ISO image, and images damaged or cut by the test.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "iso9660.h"
#include "rescue/fat.h"
#include "rescue/raw_sectors.h"
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

FileMap ListFat(const std::string& path, std::string* kind) {
  std::shared_ptr<ImageBytes> image = OpenBytes(path);
  FileMap listing;
  std::vector<FatVolume> volumes = FindFatVolumes(image.get());
  EXPECT_EQ(volumes.size(), 1u);
  for (const FatVolume& v : volumes) {
    *kind = v.kind + (v.offset ? " at " + std::to_string(v.offset) : "");
    std::vector<FatFile> files;
    std::vector<std::string> problems;
    std::string error;
    EXPECT_TRUE(ReadFatVolume(image.get(), v, &files, &problems, &error)) << error;
    for (const FatFile& f : files) {
      ExtentBytes bytes(image, f.extents);
      listing[f.path] = {ReadAll(&bytes), f.size, f.extents.size(), f.damage};
    }
  }
  return listing;
}

FileMap ListIso(std::shared_ptr<ImageBytes> image, std::string* kind) {
  std::vector<IsoFile> files;
  bool joliet = false;
  std::string error;
  FileMap listing;
  EXPECT_TRUE(ReadIsoImage(image.get(), &files, &joliet, &error)) << error;
  *kind = joliet ? "ISO 9660, Joliet" : "ISO 9660";
  for (const IsoFile& f : files) {
    ExtentBytes bytes(image, {{f.offset, f.held}});
    listing[f.path] = {ReadAll(&bytes), f.size, 1, f.held < f.size ? "cut" : ""};
  }
  return listing;
}

// A raw dump of an ISO image's sectors: mode 1, or mode 2 form 1; the
// error-correction bytes are left zero (the reader does not look at them).
std::vector<uint8_t> RawSectors(const std::vector<uint8_t>& iso, int mode, std::vector<uint8_t> raw = {}) {
  for (size_t at = 0; at < iso.size(); at += 2048) {
    size_t sector = raw.size() / 2352 + 150;  // addresses count from 00:02:00
    std::vector<uint8_t> s(2352, 0);
    memset(&s[1], 0xFF, 10);
    s[12] = (uint8_t)((sector / 4500 / 10) << 4 | sector / 4500 % 10);
    s[13] = (uint8_t)((sector / 75 % 60 / 10) << 4 | sector / 75 % 60 % 10);
    s[14] = (uint8_t)((sector % 75 / 10) << 4 | sector % 75 % 10);
    s[15] = (uint8_t)mode;
    if (mode == 2) s[18] = s[22] = 0x08;  // subheader: a data sector of form 1
    memcpy(&s[mode == 1 ? 16 : 24], &iso[at], 2048);
    raw.insert(raw.end(), s.begin(), s.end());
  }
  return raw;
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
    std::function<FileMap(std::string*)> list;
    std::string kind;
    std::vector<Expect> expect;
  };
  const std::vector<Expect> media = {{"DISK1/INSTALL.SC_", "script", 0, ""},
                                     {"DISK1/INSTALL.EX_", "installer", 0, ""},
                                     {"README.TXT", "readme", 0, ""}};
  auto rawMode = [&](int mode) {
    return [&, mode](std::string* kind) {
      RawTrack track;
      std::shared_ptr<ImageBytes> raw = OpenBytes(Path("disc.bin"));
      EXPECT_TRUE(IsRawSectorImage(raw.get(), 0, &track));
      EXPECT_EQ(track.mode, mode);
      return ListIso(std::make_shared<RawSectorBytes>(raw, track), kind);
    };
  };
  std::vector<Case> cases = {
      {"FAT12 floppy, written, deleted, written",
       [&] { Make(Floppy); },
       [&](std::string* kind) { return ListFat(Path("floppy.img"), kind); },
       "FAT12",
       {{"SETUP/INSTALL.EX_", "installer", 0, ""},
        {"SETUP/install.sc_", "script", 0, ""},
        {"F1", "filler", 0, ""},
        {"F3", "filler", 0, ""}}},
      {"FAT16 behind an MBR",
       [&] {
         Make(
             "truncate -s 20M disk.img && printf 'label: dos\\nstart=2048, type=6\\n' | sfdisk -q disk.img "
             "&& "
             "mkfs.vfat -F 16 --offset 2048 disk.img >/dev/null && mmd -i disk.img@@1M ::/DISK1 && "
             "mcopy -i disk.img@@1M script ::/DISK1/INSTALL.SC_ && mcopy -i disk.img@@1M installer "
             "::/DISK1/INSTALL.EX_");
       },
       [&](std::string* kind) { return ListFat(Path("disk.img"), kind); },
       "FAT16 at 1048576",
       {{"DISK1/INSTALL.SC_", "script", 0, ""}, {"DISK1/INSTALL.EX_", "installer", 0, ""}}},
      {"FAT32 with long names",
       [&] {
         Make(
             "mkfs.vfat -F 32 -s 1 -C card.img 36000 >/dev/null && mmd -i card.img '::/Program Files' "
             "'::/Program Files/The Setup Disk, 2nd edition' && mcopy -i card.img installer "
             "'::/Program Files/The Setup Disk, 2nd edition/Install.ex_' && mcopy -i card.img readme "
             "'::/Program Files/a read-me with a long name.txt'");
       },
       [&](std::string* kind) { return ListFat(Path("card.img"), kind); },
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
       [&](std::string* kind) { return ListFat(Path("floppy.img"), kind); },
       "FAT12",
       {{"SETUP/INSTALL.EX_", "installer", 3 * 512, "its cluster chain loops back to cluster 43"},
        {"SETUP/install.sc_", "script", 0, ""}}},
      {"FAT12 cut through INSTALL.EX_",
       [&] { Make(Floppy + " && truncate -s 200000 floppy.img"); },
       [&](std::string* kind) { return ListFat(Path("floppy.img"), kind); },
       "FAT12",
       {{"SETUP/INSTALL.EX_", "installer", 100000, "the image ends inside it"}, {"F1", "filler", 0, ""}}},
      {"ISO 9660 cut through INSTALL.EX_",
       [&] {
         isoImage();
         std::vector<IsoFile> files;
         bool joliet;
         std::string error;
         ASSERT_TRUE(ReadIsoImage(OpenBytes(Path("disc.iso")).get(), &files, &joliet, &error));
         for (const IsoFile& f : files) {
           if (f.path == "DISK1/INSTALL.EX_")
             Write("cut.iso", {iso.begin(), iso.begin() + f.offset + 150000});
         }
       },
       [&](std::string* kind) { return ListIso(OpenBytes(Path("cut.iso")), kind); },
       "ISO 9660, Joliet",
       {{"DISK1/INSTALL.EX_", "installer", 150000, "cut"},
        {"DISK1/INSTALL.SC_", "script", 0, "cut"},  // after it
        {"README.TXT", "readme", 0, ""}}},
      {"raw mode 1 sectors",
       [&] {
         isoImage();
         Write("disc.bin", RawSectors(iso, 1));
       },
       rawMode(1), "ISO 9660, Joliet", media},
      {"raw mode 2 form 1 sectors",
       [&] {
         isoImage();
         Write("disc.bin", RawSectors(iso, 2));
       },
       rawMode(2), "ISO 9660, Joliet", media},
      {"raw sectors after an audio track, found by their cue sheet",
       [&] {
         isoImage();
         Write("disc.bin", RawSectors(iso, 1, RandomBytes(300 * 2352, 5)));
         std::string cue =
             "FILE \"disc.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
             "  TRACK 02 MODE1/2352\n    INDEX 00 00:02:00\n    INDEX 01 00:04:00\n";
         Write("disc.cue", std::vector<uint8_t>(cue.begin(), cue.end()));
       },
       [&](std::string* kind) {
         std::vector<uint8_t> text = Read("disc.cue");
         CueTrack cue;
         EXPECT_TRUE(ReadCueSheet(std::string(text.begin(), text.end()), &cue));
         EXPECT_EQ(cue.file, "disc.bin");
         std::shared_ptr<ImageBytes> raw = OpenBytes(Path(cue.file));
         RawTrack ignored;
         EXPECT_FALSE(IsRawSectorImage(raw.get(), 0, &ignored));  // audio there
         EXPECT_TRUE(IsRawSectorImage(raw.get(), cue.track.start, &ignored));
         return ListIso(std::make_shared<RawSectorBytes>(raw, cue.track), kind);
       },
       "ISO 9660, Joliet", media},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Shell("rm -rf tree *.img *.iso *.bin *.cue");
    c.make();
    std::string kind;
    FileMap listing = c.list(&kind);
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

}  // namespace
