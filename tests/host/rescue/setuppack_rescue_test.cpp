// Rescuing old media: damaged pack files with and without --salvage,
// padding, INSTALL.EX_ on its own, scan of folder trees and disc images, and
// the messages people read.
#include <stdio.h>
#include <zlib.h>

#include <functional>
#include <set>

#include "iso_test_image.h"
#include "expand/records.h"
#include "setuppack_runner.h"

namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string Hex32(unsigned long value) {
  char text[9];
  snprintf(text, sizeof text, "%08lx", value);
  return text;
}

class RescueTest : public SetuppackTest {
 protected:
  void SetUp() override {
    SetuppackTest::SetUp();
    script_ = MixedBytes(30000, 41);
    // The installer begins as the script does: its first block copies from
    // the decoder history the script left.
    installer_.assign(script_.begin(), script_.begin() + 5000);
    std::vector<uint8_t> binary = RealBinary("attrib.exe");
    installer_.insert(installer_.end(), binary.begin(), binary.end());
    Write("script", script_);
    Write("installer", installer_);
    ASSERT_EQ(Run("media --script script --installer installer --no-setup -o cd").status, 0);
    ASSERT_EQ(Run("media --script script --installer installer --no-setup --no-check -o old").status, 0);
  }
  // The records of a pack file and where each one's expansion begins.
  std::vector<ListedRecord> Records(const std::string& name, std::vector<size_t>* starts) const {
    std::vector<ListedRecord> records;
    std::string error;
    EXPECT_TRUE(ListRecords(Read(name), &records, &error)) << error;
    size_t at = 0;
    for (const ListedRecord& r : records) {
      starts->push_back(at);
      at += r.isCheck ? 0 : r.expandedSize;
    }
    return records;
  }
  std::vector<uint8_t> script_, installer_;
};

// What a salvaged INSTALL.EXE must be.
enum class Salvaged {
  Whole,        // the installer, byte for byte
  Prefix,       // the installer's first bytes, at least `least` of them
  DiffersFrom,  // the installer's size, equal before `least`, not within [least, most)
};

TEST_F(RescueTest, DamagedMediaTable) {
  std::vector<size_t> starts, oldStarts;
  std::vector<ListedRecord> records = Records("cd/INSTALL.EX_", &starts);
  std::vector<ListedRecord> oldRecords = Records("old/INSTALL.EX_", &oldStarts);
  ASSERT_GE(records.size(), 4u);  // a check record and three blocks or more
  const ListedRecord& r2 = records[2];
  size_t scriptSize = Read("cd/INSTALL.SC_").size();
  struct Case {
    const char* what;
    const char* folder;
    const char* file;
    std::function<void(std::vector<uint8_t>*)> damage;
    int status;               // of test, unpack and extract --salvage
    std::string said;         // by test and unpack
    std::string salvageSaid;  // by extract --salvage
    Salvaged exe;
    size_t least, most;
  } cases[] = {
      {"cut inside a record", "cd", "INSTALL.EX_",
       [&](std::vector<uint8_t>* d) { d->resize(r2.offset + 100); }, 1,
       "unexpected end of file (record 2 at offset " + std::to_string(r2.offset) + ")",
       "written before the cut, not vouched for", Salvaged::Prefix, starts[2] + 1, 0},
      {"cut between records", "cd", "INSTALL.EX_", [&](std::vector<uint8_t>* d) { d->resize(r2.offset); }, 1,
       "damaged: expands to " + std::to_string(starts[2]) + " bytes, its check record says " +
           std::to_string(installer_.size()),
       "missing: " + std::to_string(installer_.size() - starts[2]) + " bytes at " + std::to_string(starts[2]),
       Salvaged::Prefix, starts[2], 0},
      {"a flipped byte in a body", "cd", "INSTALL.EX_",
       [&](std::vector<uint8_t>* d) { (*d)[r2.offset + PackHeaderSize + r2.packedSize / 2] ^= 0x10; }, 1,
       "record 2 at offset " + std::to_string(r2.offset) + " is the first that differs",
       "damaged data (record 2 at offset " + std::to_string(r2.offset) + ")", Salvaged::DiffersFrom,
       starts[2], starts[2] + r2.expandedSize},
      {"a flipped byte in a header", "cd", "INSTALL.EX_",
       [&](std::vector<uint8_t>* d) { (*d)[r2.offset + 3] ^= 1; }, 1,
       "damaged record header (record 2 at offset " + std::to_string(r2.offset) + ")",
       "rebuilt from the check record", Salvaged::Whole, 0, 0},
      {"zero padding", "cd", "INSTALL.SC_", [](std::vector<uint8_t>* d) { d->resize(d->size() + 2048, 0); },
       0,
       "INSTALL.SC_: trailing padding ignored (2048 bytes at offset " + std::to_string(scriptSize) +
           "; setup.exe does not ignore it)",
       "trailing padding ignored", Salvaged::Whole, 0, 0},
      {"0x1A padding", "cd", "INSTALL.EX_", [](std::vector<uint8_t>* d) { d->resize(d->size() + 100, 0x1A); },
       0, "trailing padding ignored (100 bytes at offset ", "trailing padding ignored", Salvaged::Whole, 0,
       0},
      {"garbage after the end", "cd", "INSTALL.SC_",
       [](std::vector<uint8_t>* d) {
         d->insert(d->end(), {'j', 'u', 'n', 'k', 0});
       },
       1,
       "INSTALL.SC_: trailing garbage at offset " + std::to_string(scriptSize) +
           " (5 bytes after the last record)",
       "not part of the expansion", Salvaged::Whole, 0, 0},
      {"an old file cut inside a record", "old", "INSTALL.EX_",
       [&](std::vector<uint8_t>* d) { d->resize(oldRecords[1].offset + 100); }, 1,
       "unexpected end of file (record 1 at offset " + std::to_string(oldRecords[1].offset) + ")",
       "none vouched for", Salvaged::Prefix, oldStarts[1] + 1, 0},
      {"an old file with a flipped header", "old", "INSTALL.EX_",
       [&](std::vector<uint8_t>* d) { (*d)[oldRecords[1].offset] ^= 1; }, 1,
       "damaged record header (record 1 at offset " + std::to_string(oldRecords[1].offset) + ")",
       "cannot be placed in the expansion (no check record says where they belong): not written",
       Salvaged::Prefix, oldStarts[1], 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(Shell(std::string("rm -rf m out s e && cp -r ") + c.folder + " m").status, 0);
    std::vector<uint8_t> file = Read(std::string("m/") + c.file);
    c.damage(&file);
    Write(std::string("m/") + c.file, file);

    Result test = Run("test m");
    EXPECT_EQ(test.status, c.status) << test.output;
    EXPECT_TRUE(Contains(test.output, c.said)) << test.output;
    Result unpack = Run("unpack m/INSTALL.SC_ s m/INSTALL.EX_ e");
    EXPECT_EQ(unpack.status, c.status) << unpack.output;
    EXPECT_TRUE(Contains(unpack.output, c.said)) << unpack.output;
    // Without --salvage, damage writes nothing.
    EXPECT_EQ(Exists("s") && Exists("e"), c.status == 0);
    EXPECT_EQ(Exists("s") || Exists("e"), c.status == 0);

    Result salvage = Run("extract --salvage m out");
    EXPECT_EQ(salvage.status, c.status) << salvage.output;
    EXPECT_TRUE(Contains(salvage.output, c.salvageSaid)) << salvage.output;
    // A file that came out whole says what it says without --salvage.
    if (std::string(c.folder) == "cd" &&
        Contains(salvage.output, "m/INSTALL.SC_ -> out/INSTALL.SCR: 30000 bytes")) {
      EXPECT_TRUE(Contains(salvage.output, "m/INSTALL.SC_ -> out/INSTALL.SCR: 30000 bytes, size and CRC-32 " +
                                               Hex32(crc32(0, script_.data(), script_.size()))))
          << salvage.output;
    }
    EXPECT_TRUE(Read("out/INSTALL.SCR") == script_);  // the other file of the media, whole
    std::vector<uint8_t> exe = Read("out/INSTALL.EXE");
    switch (c.exe) {
      case Salvaged::Whole:
        EXPECT_TRUE(exe == installer_);
        break;
      case Salvaged::Prefix:
        EXPECT_GE(exe.size(), c.least);
        EXPECT_LT(exe.size(), installer_.size());
        EXPECT_TRUE(std::equal(exe.begin(), exe.end(), installer_.begin()));
        break;
      case Salvaged::DiffersFrom:
        ASSERT_EQ(exe.size(), installer_.size());
        EXPECT_FALSE(exe == installer_);
        // The records after it may copy from the history it left: only the
        // bytes before it are sure.
        EXPECT_TRUE(std::equal(exe.begin(), exe.begin() + c.least, installer_.begin()));
        EXPECT_FALSE(std::equal(exe.begin() + c.least, exe.begin() + c.most, installer_.begin() + c.least));
        break;
    }
    // unpack --salvage writes the same bytes.
    Result unpackSalvage = Run("unpack -f --salvage m/INSTALL.SC_ s m/INSTALL.EX_ e");
    EXPECT_EQ(unpackSalvage.status, c.status) << unpackSalvage.output;
    EXPECT_TRUE(Read("e") == exe);
  }
}

TEST_F(RescueTest, TheInstallerAloneIsExpandedAfterTheScriptBesideItOrExplained) {
  Result beside = Run("test cd/INSTALL.EX_");
  EXPECT_EQ(beside.status, 0) << beside.output;
  EXPECT_TRUE(Contains(beside.output, "cd/INSTALL.EX_: expanded after cd/INSTALL.SC_, as setup.exe does"))
      << beside.output;
  EXPECT_TRUE(Contains(beside.output, "cd/INSTALL.EX_: OK, " + std::to_string(installer_.size()) + " bytes"));
  // -q keeps the note away, not the result.
  Result quiet = Run("-q test cd/INSTALL.EX_");
  EXPECT_EQ(quiet.status, 0) << quiet.output;
  EXPECT_FALSE(Contains(quiet.output, "expanded after")) << quiet.output;
  ASSERT_EQ(Run("unpack cd/INSTALL.EX_ installer.out").status, 0);
  EXPECT_TRUE(Read("installer.out") == installer_);
  EXPECT_TRUE(Contains(Run("list cd/INSTALL.EX_").output, "expands after INSTALL.SC_"));

  // With no script beside it: not called damaged, and told what to do.
  ASSERT_EQ(Shell("mkdir alone && cp cd/INSTALL.EX_ alone/").status, 0);
  for (const char* command : {"test alone/INSTALL.EX_", "unpack alone/INSTALL.EX_ out"}) {
    Result r = Run(command);
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_TRUE(
        Contains(r.output, "alone/INSTALL.EX_: continues the decoder history of a file packed before it"))
        << r.output;
    EXPECT_TRUE(Contains(r.output, "'setuppack test INSTALL.SC_ INSTALL.EX_'")) << r.output;
    EXPECT_FALSE(Contains(r.output, "INSTALL.EX_: damaged")) << r.output;
  }
  EXPECT_FALSE(Exists("out"));
  // Named with the script, in order, it expands as ever; a script of its
  // own that genuinely fails is damage.
  EXPECT_EQ(Run("test cd/INSTALL.SC_ alone/INSTALL.EX_").status, 0);
  ASSERT_EQ(Run("pack script single.pk").status, 0);
  std::vector<uint8_t> single = Read("single.pk");
  single[single.size() / 2] ^= 0x20;
  Write("single.pk", single);
  Result damaged = Run("test single.pk");
  EXPECT_EQ(damaged.status, 1);
  EXPECT_TRUE(Contains(damaged.output, "single.pk: damaged data (record 1 at offset ")) << damaged.output;
}

TEST_F(RescueTest, MessagesReadAsGzipsDo) {
  Write("notepad.exe", RealBinary("notepad.exe"));
  std::vector<size_t> starts;
  std::vector<ListedRecord> records = Records("cd/INSTALL.EX_", &starts);
  std::vector<uint8_t> cut = Read("cd/INSTALL.EX_");
  cut.resize(cut.size() - 10);
  Write("INSTALL.EX_", cut);
  ASSERT_EQ(Shell("cp cd/INSTALL.SC_ .").status, 0);
  struct {
    std::string command, output;
    int status;
  } cases[] = {
      // Nothing before an error that makes it meaningless: no empty table.
      {"list notepad.exe", "setuppack: notepad.exe: not in pack format\n", 1},
      {"test notepad.exe", "setuppack: notepad.exe: not in pack format\n", 1},
      {"test INSTALL.EX_ 2>&1 >/dev/null",
       "setuppack: INSTALL.EX_: expanded after INSTALL.SC_, as setup.exe does: it continues that file's "
       "decoder history\nsetuppack: INSTALL.EX_: unexpected end of file (record " +
           std::to_string(records.size() - 1) + " at offset " + std::to_string(records.back().offset) + ")\n",
       1},
      {"extract notepad.exe",
       "setuppack: notepad.exe: not a folder; 'setuppack scan notepad.exe' finds media inside disc images "
       "and "
       "other files\n",
       1},
      {"scan script", "setuppack: no pack files found\n", 1},
      {"test --salvage cd",
       "setuppack: --salvage does not apply to test\n(run 'setuppack --help' for usage)\n", 2},
  };
  for (const auto& c : cases) {
    Result r = Run(c.command);
    EXPECT_EQ(r.status, c.status) << c.command;
    EXPECT_EQ(r.output, c.output) << c.command;
  }
  // The name, then the system's reason (Windows words it its own way).
  Result missing = Run("unpack nosuch out");
  EXPECT_EQ(missing.status, 1);
  if (getenv("SETUPPACK_UNDER_TEST")) {
    EXPECT_EQ(missing.output.find("setuppack: nosuch: "), 0u) << missing.output;
    EXPECT_EQ(missing.output.find('\n'), missing.output.size() - 1) << missing.output;
  } else {
    EXPECT_EQ(missing.output, "setuppack: nosuch: No such file or directory\n");
  }
  EXPECT_FALSE(Exists("out"));
}

TEST_F(RescueTest, ScanFindsMediaInFolderTreesDiscImagesAndOtherFiles) {
  std::vector<uint8_t> script = Read("cd/INSTALL.SC_");
  std::vector<uint8_t> blob = RandomBytes(5000, 42);
  blob.insert(blob.end(), script.begin(), script.end());
  blob.resize(blob.size() + 3000, 'x');
  ASSERT_EQ(Shell("mkdir -p tree/a/b iso/SETUP/DISK1 && cp cd/INSTALL.SC_ tree/a/b/install.sc_ &&"
                  " cp cd/INSTALL.EX_ tree/a/b/install.ex_ && cp cd/INSTALL.SC_ tree/lone.sc_ &&"
                  " cp cd/* iso/SETUP/DISK1/")
                .status,
            0);
  Write("tree/blob.bin", blob);
  // A raw disk image: the script and the installer lie in it whole, with
  // other bytes around them and no names.
  std::vector<uint8_t> floppy(3000, 0), installer = Read("cd/INSTALL.EX_");
  floppy.insert(floppy.end(), script.begin(), script.end());
  floppy.resize(floppy.size() + 1000, 0xF6);
  floppy.insert(floppy.end(), installer.begin(), installer.end());
  floppy.resize(floppy.size() + 7000, 0);
  Write("tree/floppy.img", floppy);
  std::string second = std::to_string(4000 + script.size());
  Result tree = Run("scan tree");
  EXPECT_EQ(tree.status, 0) << tree.output;
  EXPECT_TRUE(Contains(tree.output, "tree/a/b: media\n  tree/a/b/install.sc_: " +
                                        std::to_string(script.size()) + " bytes packed; " +
                                        std::to_string(script_.size()) + " bytes, matches its check record"))
      << tree.output;
  EXPECT_TRUE(Contains(tree.output, "tree/blob.bin at offset 5000: pack file, " +
                                        std::to_string(script.size()) + " bytes packed; " +
                                        std::to_string(script_.size()) + " bytes"))
      << tree.output;
  EXPECT_TRUE(Contains(tree.output, "tree/lone.sc_: pack file")) << tree.output;
  EXPECT_TRUE(
      Contains(tree.output, "tree/floppy.img at offsets 3000 and " + second +
                                ": two pack files, the second continuing the first's decoder history\n"))
      << tree.output;
  EXPECT_FALSE(Contains(tree.output, "damaged")) << tree.output;
  // The program itself holds a record's magic among its constants: no find.
  Result none = Run("scan '" + SetuppackUnderTest() + "'");
  EXPECT_EQ(none.status, 1);
  EXPECT_TRUE(Contains(none.output, "setuppack: no pack files found\n")) << none.output;

  if (Shell("command -v genisoimage").status != 0) {
    GTEST_SKIP() << "genisoimage is missing (scripts/install-deps.sh installs it)";
  }
  ASSERT_EQ(Shell("genisoimage -quiet -J -o disc.iso iso && genisoimage -quiet -o plain.iso iso").status, 0);
  Result r = Run("scan --extract rescued disc.iso plain.iso tree");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(Contains(r.output, "disc.iso:/SETUP/DISK1: media\n")) << r.output;
  EXPECT_TRUE(Contains(r.output, "plain.iso:/SETUP/DISK1: media\n")) << r.output;  // ISO 9660 names alone
  for (const char* folder :
       {"rescued/disc.iso_SETUP_DISK1", "rescued/plain.iso_SETUP_DISK1", "rescued/tree_a_b"}) {
    EXPECT_TRUE(Read(std::string(folder) + "/INSTALL.SCR") == script_) << folder;
    EXPECT_TRUE(Read(std::string(folder) + "/INSTALL.EXE") == installer_) << folder;
  }
  EXPECT_TRUE(Read("rescued/tree_blob.bin_at_offset_5000/at-5000.expanded") == script_);
  EXPECT_TRUE(Read("rescued/tree_lone.sc/lone.scr") == script_);
  std::string pair = "rescued/tree_floppy.img_at_offsets_3000_and_" + second + "/at-";
  EXPECT_TRUE(Read(pair + "3000.expanded") == script_);
  EXPECT_TRUE(Read(pair + second + ".expanded") == installer_);

  // A damaged find is listed and left out, unless salvaged.
  std::vector<uint8_t> cut = Read("cd/INSTALL.EX_");
  cut.resize(cut.size() * 2 / 3);
  Write("tree/a/b/install.ex_", cut);
  r = Run("scan --extract again tree");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.output, "tree/a/b/install.ex_: " + std::to_string(cut.size()) +
                                     " bytes packed; damaged: unexpected end of file"))
      << r.output;
  EXPECT_TRUE(Contains(r.output, "not extracted: damaged (--salvage writes what it holds)")) << r.output;
  EXPECT_FALSE(Exists("again/tree_a_b"));
  r = Run("scan --salvage --extract salvaged tree");
  EXPECT_EQ(r.status, 1);
  std::vector<uint8_t> exe = Read("salvaged/tree_a_b/INSTALL.EXE");
  EXPECT_GT(exe.size(), 0u);
  EXPECT_TRUE(std::equal(exe.begin(), exe.end(), installer_.begin()));
}

// Hostile files scan reads in work bounded by their size: a disc image whose
// root names the image itself eight times, and holds a pack file in bytes
// that no name covers (read as it says, 8 + 64 + 512 images, and the 4096
// at the depth where images are searched as other files each find it), and
// a megabyte of record headers of nothing, no chain's start (each once
// walked to the end of the run: 2 billion header reads).
TEST_F(RescueTest, ScanOfHostileFilesIsBounded) {
  std::vector<uint8_t> script = Read("cd/INSTALL.SC_");
  const size_t Sector = IsoTestImage::Sector;
  IsoTestImage iso(20 + (script.size() + Sector - 1) / Sector, 2048, 18, 2 * Sector);
  iso.Add(18 * Sector, 18, 2 * Sector, 2, std::string(1, '\0'));
  iso.Add(18 * Sector, 18, 2 * Sector, 2, std::string(1, '\1'));
  for (int i = 0; i < 8; ++i) {
    iso.Add(18 * Sector, 0, (uint32_t)iso.bytes.size(), 0, "SELF" + std::to_string(i) + ".ISO;1");
  }
  memcpy(&iso.bytes[20 * Sector], script.data(), script.size());
  Write("self.iso", iso.bytes);
  Result r = Run("scan self.iso");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "setuppack: no pack files found\n");

  std::vector<uint8_t> headers(1, 'x');
  for (int i = 0; i < 65536; ++i)
    headers.insert(headers.end(), {'P', 'A', 'C', 'K', 'D', 'A', 'T', '$', 0, 0, 0, 0, 0, 0, 0, 0});
  Write("headers.bin", headers);
  Result none = Run("scan headers.bin");
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.output, "setuppack: no pack files found\n");
}

// Each find is written into a folder of its own, though the names made of
// where they lie collide ("m 1" and "m_1" are both "m_1"; the second one's
// "m_1-2" is a third's own name) or differ only in letter case (one folder
// where DIR ignores case): none replaces what another wrote.
TEST_F(RescueTest, ScanGivesEachFindAFolderOfItsOwn) {
  const char* folders[] = {"m 1", "m_1", "m_1-2", "Q", "q"};
  for (const char* folder : folders) {
    ASSERT_EQ(Shell(std::string("mkdir -p 't/") + folder + "' && cp cd/* 't/" + folder + "'").status, 0);
  }
  Result r = Run("scan -f --extract out t");
  EXPECT_EQ(r.status, 0) << r.output;
  std::set<std::string> written;
  for (size_t at = r.output.find("  -> "); at != std::string::npos; at = r.output.find("  -> ", at + 1)) {
    std::string path = r.output.substr(at + 5, r.output.find('\n', at) - at - 5);
    for (char& c : path) c = (char)tolower((unsigned char)c);
    EXPECT_TRUE(written.insert(path).second) << path << " written twice:\n" << r.output;
  }
  EXPECT_EQ(written.size(), 2 * (sizeof folders / sizeof *folders)) << r.output;
}

// A pack file larger than memory allows (a disc's worth of bytes after a
// record header) is an error, not an abort.
TEST_F(RescueTest, AFileLargerThanMemoryIsAnError) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "AddressSanitizer takes more address space than the limit set here";
#endif
  Write("big.bin", {'P', 'A', 'C', 'K', 'D', 'A', 'T', '$', 0, 0, 0, 0, 16, 0, 0, 0});
  ASSERT_EQ(Shell("truncate -s 1G big.bin").status, 0);
  // scan holds what it reads; test reads as it expands, and so gets as far
  // as the damage.
  const struct {
    const char* command;
    const char* says;
  } cases[] = {
      {"scan", "setuppack: out of memory\n"},
      {"test", "setuppack: big.bin: record 1 at offset 32: "},
  };
  for (const auto& c : cases) {
    Result r = Shell(std::string("ulimit -v 400000 && \"$SP\" ") + c.command + " big.bin");
    EXPECT_EQ(r.status, 1) << c.command << ": " << r.output;
    EXPECT_TRUE(Contains(r.output, c.says)) << c.command << ": " << r.output;
  }
}

}  // namespace
