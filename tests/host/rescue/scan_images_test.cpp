// scan of the images archivists are given: FAT floppies, disks and cards
// made by mkfs.vfat and mtools, raw CD sectors with and without a cue
// sheet, and images that were damaged or cut; each find named by image,
// path and file system, and extracted under its name or salvaged.
#include <gtest/gtest.h>

#include "pe_test_image.h"
#include "rescue/raw_cd_image.h"
#include "setuppack_runner.h"

namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class ScanImagesTest : public SetuppackTest {
 protected:
  void SetUp() override {
    SetuppackTest::SetUp();
    if (Shell("command -v mkfs.vfat && command -v mcopy && command -v sfdisk && command -v genisoimage")
            .status) {
      GTEST_SKIP()
          << "dosfstools, mtools, fdisk or genisoimage is missing (scripts/install-deps.sh installs them)";
    }
    script_ = MixedBytes(30000, 41);
    installer_.assign(script_.begin(), script_.begin() + 5000);  // copies from the script's history
    std::vector<uint8_t> binary = RealBinary("attrib.exe");
    installer_.insert(installer_.end(), binary.begin(), binary.end());
    Write("script", script_);
    Write("installer", installer_);
    Write("filler", RandomBytes(2048, 3));
    ASSERT_EQ(Run("media --script script --installer installer --no-setup -o cd").status, 0);
  }
  // Makes the FAT12 entry of the file's third cluster lead back to its
  // first (mshowfat tells where its clusters lie: "<7-10> <15-58>").
  void LoopBack(const std::string& image, const std::string& file) {
    Result clusters = Shell("MTOOLS_SKIP_CHECK=1 mshowfat -i " + image + " " + file);
    size_t open = clusters.output.find('<');
    ASSERT_NE(open, std::string::npos) << clusters.output;
    size_t first = std::stoul(clusters.output.substr(open + 1)), third = first + 2;
    std::vector<uint8_t> bytes = Read(image);
    uint8_t* entry = &bytes[512 + third * 3 / 2];  // the FAT follows the boot sector
    uint16_t pair = (uint16_t)(entry[0] | entry[1] << 8);
    pair = third & 1 ? (uint16_t)((pair & 0x000F) | first << 4) : (uint16_t)((pair & 0xF000) | first);
    entry[0] = (uint8_t)pair, entry[1] = (uint8_t)(pair >> 8);
    Write(image, bytes);
  }
  std::vector<uint8_t> script_, installer_;
};

// What scan must say and write for one image.
struct Case {
  const char* name;
  std::string make;  // shell line (MTOOLS_SKIP_CHECK set; cd/ holds the media)
  std::string scan;  // what scan is given (--extract out, and --salvage when damaged)
  std::vector<std::string> says;
  int status;
  std::string folder;  // where the media are written, under out/
  bool salvaged;       // INSTALL.EXE is a prefix of the installer, not all of it
  const char* loop;    // a file of floppy.img whose third cluster is made to lead back to its first
};

TEST_F(ScanImagesTest, EachImageKindGivesBackItsMediaUnderTheirNames) {
  // A floppy written, a file deleted, written again: INSTALL.EX_ fills the
  // hole F2 left and goes on after F3, and lies before INSTALL.SC_.
  const std::string Floppy =
      "mkfs.vfat -C floppy.img 1440 >/dev/null && mmd -i floppy.img ::/SETUP && "
      "mcopy -i floppy.img filler ::/F1 && mcopy -i floppy.img filler ::/F2 && mcopy -i floppy.img filler "
      "::/F3 "
      "&& mdel -i floppy.img ::/F2 && mcopy -i floppy.img cd/INSTALL.EX_ ::/SETUP/INSTALL.EX_ && "
      "mcopy -i floppy.img cd/INSTALL.SC_ ::/SETUP/INSTALL.SC_";
  const std::string Iso =
      "mkdir -p iso/DISK1 && cp cd/* iso/DISK1/ && printf 'iso/DISK1/INSTALL.SC_ 2\\n' > sort && "
      "genisoimage -quiet -J -sort sort -o disc.iso iso";
  std::vector<Case> cases = {
      {"FAT12 floppy, INSTALL.EX_ fragmented and first",
       Floppy,
       "--extract out floppy.img",
       {"floppy.img:/SETUP (FAT12): media\n", "floppy.img:/SETUP/INSTALL.EX_ (FAT12): "},
       0,
       "floppy.img_SETUP",
       false,
       nullptr},
      {"FAT16 behind an MBR, in a primary and a logical partition",
       "truncate -s 30M disk.img && printf 'label: dos\\nstart=2048, size=10M, type=6\\nstart=22528, "
       "type=5\\n"
       "start=24576, type=6\\n' | sfdisk -q disk.img && mkfs.vfat -F 16 --offset 2048 disk.img 10240 "
       ">/dev/null "
       "&& mkfs.vfat -F 16 --offset 24576 disk.img 18432 >/dev/null && mcopy -i disk.img@@1M filler ::/F1 && "
       "mmd -i disk.img@@12M ::/DISK1 && mcopy -i disk.img@@12M cd/INSTALL.SC_ cd/INSTALL.EX_ ::/DISK1/",
       "--extract out disk.img",
       {"disk.img:/DISK1 (FAT16, partition at byte 12582912): media\n"},
       0,
       "disk.img_DISK1",
       false,
       nullptr},
      {"FAT32 with long names in lower case",
       "mkfs.vfat -F 32 -s 1 -C card.img 36000 >/dev/null && mmd -i card.img '::/Program Files' "
       "'::/Program Files/Setup Disk 1' && mcopy -i card.img cd/INSTALL.SC_ '::/Program Files/Setup Disk "
       "1/install.sc_' && mcopy -i card.img cd/INSTALL.EX_ '::/Program Files/Setup Disk 1/install.ex_'",
       "--extract out card.img",
       {"card.img:/Program Files/Setup Disk 1 (FAT32): media\n"},
       0,
       "card.img_Program_Files_Setup_Disk_1",
       false,
       nullptr},
      {"FAT12 whose FAT loops",
       Floppy,
       "--salvage --extract out floppy.img",
       {"floppy.img:/SETUP/INSTALL.EX_ (FAT12): its cluster chain loops back to cluster ",
        "floppy.img:/SETUP (FAT12): media\n"},
       1,
       "floppy.img_SETUP",
       true,
       "::/SETUP/INSTALL.EX_"},
      // Cut 6,000 bytes into the clusters after INSTALL.SC_'s (a 1.44 MB
      // floppy's clusters begin at byte 16,896: boot sector, two FATs, root).
      {"FAT12 cut through INSTALL.EX_",
       "mkfs.vfat -C floppy.img 1440 >/dev/null && mcopy -i floppy.img cd/INSTALL.SC_ ::/ && "
       "mcopy -i floppy.img cd/INSTALL.EX_ ::/ && truncate -s $(( $(stat -c %s cd/INSTALL.SC_) + 16896 + "
       "6000 )) floppy.img",
       "--salvage --extract out floppy.img",
       {"floppy.img:/INSTALL.EX_ (FAT12): the image ends inside it", "floppy.img:/ (FAT12): media\n"},
       1,
       "floppy.img",
       true,
       nullptr},
      {"ISO 9660 cut through INSTALL.EX_",
       Iso +
           " && at=$(isoinfo -l -i disc.iso | sed -n 's/.*\\[ *\\([0-9]*\\) 00\\].*INSTALL.EX_.*/\\1/p') && "
           "head -c $(( at * 2048 + 6000 )) disc.iso > cut.iso",
       "--salvage --extract out cut.iso",
       {"cut.iso:/DISK1/INSTALL.EX_ (ISO 9660, Joliet): the image ends inside it (6000 of its",
        "cut.iso:/DISK1 (ISO 9660, Joliet): media\n"},
       1,
       "cut.iso_DISK1",
       true,
       nullptr},
      {"raw mode 1 sectors, no cue sheet",
       Iso,
       "--extract out disc.bin",
       {"disc.bin:/DISK1 (ISO 9660, Joliet; raw sectors, mode 1): media\n"},
       0,
       "disc.bin_DISK1",
       false,
       nullptr},
      {"raw mode 2 form 1 sectors after an audio track, and their cue sheet",
       Iso + " && mkdir dump && printf 'FILE \"DISC.BIN\" BINARY\\n TRACK 01 AUDIO\\n  INDEX 01 00:00:00\\n"
             " TRACK 02 MODE2/2352\\n  INDEX 01 00:02:00\\n' > dump/disc.cue",
       "--extract out dump",
       {"dump/disc.bin:/DISK1 (ISO 9660, Joliet; raw sectors, mode 2): media\n"},
       0,
       "dump_disc.bin_DISK1",
       false,
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Shell("rm -rf out iso dump *.img *.iso *.bin");
    ASSERT_EQ(Shell("export MTOOLS_SKIP_CHECK=1; " + c.make).status, 0) << c.make;
    if (c.loop) LoopBack("floppy.img", c.loop);
    if (Exists("disc.iso") && c.scan.find(".bin") != std::string::npos) {
      Write("disc.bin", RawSectors(Read("disc.iso"), 1));
    }
    if (Exists("dump")) {  // 150 sectors of audio (2 seconds), then the data track
      Write("dump/disc.bin", RawSectors(Read("disc.iso"), 2, RandomBytes(150 * 2352, 5)));
    }
    Result r = Run("scan " + c.scan);
    EXPECT_EQ(r.status, c.status) << r.output;
    for (const std::string& line : c.says) EXPECT_TRUE(Contains(r.output, line)) << line << "\n" << r.output;
    EXPECT_EQ(r.output.find(": media\n"), r.output.rfind(": media\n")) << "one find: " << r.output;
    std::string folder = "out/" + c.folder + "/";
    EXPECT_TRUE(Read(folder + "INSTALL.SCR") == script_) << r.output;
    std::vector<uint8_t> exe = Read(folder + "INSTALL.EXE");
    if (c.salvaged) {
      EXPECT_GT(exe.size(), 0u);
      EXPECT_LT(exe.size(), installer_.size());
      EXPECT_TRUE(std::equal(exe.begin(), exe.end(), installer_.begin()));
    } else {
      EXPECT_TRUE(exe == installer_);
    }
  }
}

// A program that carries its media (media --single-file), in an image, in
// a folder, and cut short by a download: found as what it is.
TEST_F(ScanImagesTest, AProgramThatCarriesItsMediaIsFoundAsOne) {
  Write("setup.exe", ImageOf({1024, 512, 512, 512, 512 + 16, 0}));
  Result made = Run("media --script script --installer installer --setup setup.exe --single-file -o p.exe");
  ASSERT_EQ(made.status, 0) << made.output;
  ASSERT_EQ(Shell("mkdir -p iso/SETUP tree && cp p.exe iso/SETUP/PRODUCT.EXE && cp p.exe tree/ && "
                  "genisoimage -quiet -J -o disc.iso iso && head -c $(( $(stat -c %s p.exe) - 3000 )) p.exe "
                  "> tree/cut.exe")
                .status,
            0);
  Result r = Run("scan --salvage --extract out disc.iso tree");
  EXPECT_EQ(r.status, 1) << r.output;  // the cut one
  for (const char* line :
       {"disc.iso:/SETUP/PRODUCT.EXE (ISO 9660, Joliet): a program that carries its media\n",
        "tree/p.exe: a program that carries its media\n",
        "tree/cut.exe: a program that carries its media\n"}) {
    EXPECT_TRUE(Contains(r.output, line)) << line << r.output;
  }
  for (const char* folder : {"out/disc.iso_SETUP_PRODUCT.EXE/", "out/tree_p.exe/"}) {
    EXPECT_TRUE(Read(std::string(folder) + "INSTALL.SCR") == script_) << folder;
    EXPECT_TRUE(Read(std::string(folder) + "INSTALL.EXE") == installer_) << folder;
  }
  Result json = Run("scan --json disc.iso");
  EXPECT_TRUE(Contains(json.output, "\"where\": \"disc.iso:/SETUP/PRODUCT.EXE (ISO 9660, Joliet)\","))
      << json.output;
  EXPECT_TRUE(Contains(json.output, "\"kind\": \"program\",")) << json.output;
  std::vector<uint8_t> exe = Read("out/tree_cut.exe/INSTALL.EXE");
  EXPECT_TRUE(Read("out/tree_cut.exe/INSTALL.SCR") == script_);
  EXPECT_TRUE(!exe.empty() && exe.size() < installer_.size() &&
              std::equal(exe.begin(), exe.end(), installer_.begin()));
}

}  // namespace
