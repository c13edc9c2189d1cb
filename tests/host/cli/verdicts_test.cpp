// The verdicts an archivist acts on, over whole and damaged inputs of every
// kind: programs that carry their pack files, media folders, pack files back
// to back or in the launcher's order reversed (as on a FAT image), padding,
// reserved device names. A whole input is never called damaged; a damaged
// one never whole. Each row prints "input -> verdict" as it runs.
#include "iso_test_image.h"
#include "pe_test_image.h"
#include "setuppack_runner.h"

namespace {

class Verdicts : public SetuppackTest {
 protected:
  void SetUp() override {
    SetuppackTest::SetUp();
    // An installer that copies from its script: it expands only after it.
    std::vector<uint8_t> script = MixedBytes(6000, 61), installer(script.begin(), script.begin() + 3000);
    std::vector<uint8_t> rest = MixedBytes(120000, 62);
    installer.insert(installer.end(), rest.begin(), rest.end());
    Write("script", script);
    Write("installer", installer);
    // Stored as is, and holding the seal's identifier.
    std::vector<uint8_t> random = RandomBytes(40000, 63);
    memcpy(&random[20000], SealId, SealIdSize);
    Write("sealid", random);
    Write("setup.exe", ImageOf({1024, 512, 512, 512, 512 + 16, 0}));
    const char* steps[] = {
        "\"$SP\" -q media --script script --installer installer --setup setup.exe -o cd",
        "\"$SP\" -q media --script script --installer installer --setup setup.exe --single-file -o one.exe",
        "\"$SP\" -q media --script script --installer sealid --setup setup.exe --single-file -o id.exe",
        "cat cd/INSTALL.SC_ cd/INSTALL.EX_ > raw.bin",
        "{ head -c 5000 /dev/zero; cat cd/INSTALL.EX_; head -c 3000 /dev/zero; cat cd/INSTALL.SC_; } > "
        "fat.img",
        "{ cat cd/INSTALL.SC_; head -c 2048 /dev/zero; } > padded.SC_",
        "cp -r cd bad && cp one.exe bad.exe && cp raw.bin badraw.bin && cp -r cd cd2 && cp -r cd badsc",
        "\"$SP\" -q media --script script --installer sealid --setup setup.exe -o apart",
        "mkdir alone && cp cd/INSTALL.EX_ alone/ && touch exists.pk && cp -r apart badapart",
    };
    for (const char* step : steps) ASSERT_EQ(Shell(step).status, 0) << step;
    // One byte of the installer's body changed, in each form.
    size_t packedScript = Read("cd/INSTALL.SC_").size(), image = 1024;
    Flip("bad/INSTALL.EX_", 1500);
    Flip("bad.exe", image + packedScript + 1500);
    Flip("badraw.bin", packedScript + 1500);
    Flip("badsc/INSTALL.SC_", 100);
    Flip("badapart/INSTALL.SC_", 100);
    // A disc image naming the script NUL.SC_ and CON (names Windows opens
    // as devices, which a folder on Windows cannot hold).
    std::vector<uint8_t> packed = Read("cd/INSTALL.SC_");
    const size_t Sector = IsoTestImage::Sector;
    ASSERT_LE(packed.size(), Sector);
    IsoTestImage iso(21, 2048, 18, Sector);
    const char* names[] = {"NUL.SC_;1", "CON;1"};
    for (uint32_t i = 0; i < 2; ++i) {
      memcpy(&iso.bytes[(19 + i) * Sector], packed.data(), packed.size());
      iso.Add(18 * Sector, 19 + i, (uint32_t)packed.size(), 0, names[i]);
    }
    Write("dev.iso", iso.bytes);
  }
  void Flip(const std::string& name, size_t at) {
    std::vector<uint8_t> data = Read(name);
    ASSERT_LT(at, data.size());
    data[at] ^= 0x40;
    Write(name, data);
  }
};

TEST_F(Verdicts, WholeInputsAreWholeAndDamagedOnesDamaged) {
  // The first read of INSTALL.EX_ gets one byte flipped (flaky media): in a
  // compressed block (decoding breaks), or in a stored one (it decodes, and
  // only its CRC-32 tells).
  const std::string flip =
      std::string("LD_PRELOAD=") + FAULTS_SHIM +
      " ASAN_OPTIONS=verify_asan_link_order=0 FAULT_FLIP_FILE=INSTALL.EX_ FAULT_FLIP_AT=";
  const struct {
    const char* input;
    const char* command;
    int status;
    const char* says;  // in its output
  } rows[] = {
      {"whole program", "test one.exe", 0, "sealed, and both pack files it carries match its seal"},
      {"whole program, installer holding the seal's identifier", "test id.exe", 0,
       "sealed, and both pack files it carries match its seal"},
      {"whole program, listed", "list id.exe", 0, "INSTALL.EX_ from byte"},
      {"whole program, scanned", "scan one.exe", 0, "one.exe: a program that carries its media\n"},
      {"whole program, scanned and extracted",
       "scan --extract x one.exe && cmp x/one.exe/INSTALL.EXE installer", 0, "-> x/one.exe/INSTALL.EXE"},
      {"whole folder", "test cd", 0, "cd/setup.exe: sealed, and both pack files match its seal"},
      {"whole folder, scanned", "scan cd", 0, "cd: media\n"},
      {"pack files back to back", "scan raw.bin", 0,
       "raw.bin at offsets 0 and 262: two pack files, the second continuing"},
      {"pack files back to back, extracted",
       "scan --extract x raw.bin && cmp x/raw.bin_at_offsets_0_and_262/at-262.expanded installer", 0,
       "at-262.expanded"},
      {"installer before its script (FAT order)", "scan fat.img", 0,
       "fat.img at offsets 11742 and 5000: two pack files"},
      {"installer before its script, extracted",
       "scan --extract x fat.img && cmp x/fat.img_at_offsets_11742_and_5000/at-5000.expanded installer", 0,
       "at-5000.expanded"},
      {"padded pack file", "test padded.SC_", 0, "trailing padding ignored"},
      {"names Windows keeps for devices", "scan --extract x dev.iso && cmp x/dev.iso_NUL.SC/_NUL.SCR script",
       0, "x/dev.iso_CON/_CON.expanded"},
      {"damaged folder", "test bad", 1, "bad/INSTALL.EX_: damaged"},
      {"damaged program", "test bad.exe", 1, "bad.exe (INSTALL.EX_): "},
      {"damaged program, scanned", "scan bad.exe", 1, "bad.exe:INSTALL.EX_: 3742 bytes packed; damaged: "},
      {"damaged back-to-back files, scanned", "scan badraw.bin", 1, "damaged"},
      {"two whole programs", "test one.exe id.exe", 0,
       "id.exe: sealed, and both pack files it carries match"},
      {"two whole folders", "test cd cd2", 0, "cd2/setup.exe: sealed, and both pack files match its seal"},
      {"a folder, then pack files", "test cd cd2/INSTALL.SC_ cd2/INSTALL.EX_", 0, "cd2/INSTALL.EX_: OK"},
      {"damaged script, its installer tested after it", "test badsc/INSTALL.SC_ badsc/INSTALL.EX_", 1,
       "badsc/INSTALL.EX_: damaged, or not known: 0 of 123000 bytes are in records whose CRC-32 matches"},
      {"damaged script, an installer apart from it tested after it", "test badapart", 1,
       "badapart/INSTALL.EX_: OK, 40000 bytes, size and CRC-32 "},
      {"flip on first read in a compressed block, unpacked",
       "FLIP1500 unpack cd/INSTALL.SC_ s cd/INSTALL.EX_ e || ls s e", 2,
       "cd/INSTALL.EX_: its two reads disagree: the first failed ("},
      {"flip on first read in a stored block, unpacked",
       "FLIP20000 unpack apart/INSTALL.SC_ s apart/INSTALL.EX_ e || ls s e", 2,
       "apart/INSTALL.EX_: its two reads disagree: the first failed (damaged: expands to bytes of CRC-32 "},
      {"flip on first read in a stored block, sealed media extracted", "FLIP20000 extract apart x || ls x", 2,
       "its two reads disagree"},
      {"damaged folder salvaged into a folder whose parent is missing", "extract --salvage bad missing/out",
       1, "setuppack: cannot create 'missing/out' ("},
      {"a missing source packed over a file that exists", "pack nosuch exists.pk", 1, "setuppack: nosuch: "},
      {"an installer without its script, unpacked", "unpack alone/INSTALL.EX_ out", 1,
       "'setuppack unpack --salvage alone/INSTALL.EX_ OUT' writes what it holds"},
      {"an installer without its script, scanned", "scan alone", 1,
       "not expanded: it continues the decoder history of a file packed before it"},
  };
  // The shim plants faults in this build's setuppack only (not in a
  // Windows one run under Wine).
  const bool native = SetuppackUnderTest() == SETUPPACK_PATH;
  for (const auto& row : rows) {
    std::string command = row.command;
    if (command.compare(0, 4, "FLIP") == 0 && !native) continue;
    if (command.compare(0, 4, "FLIP") == 0) {
      size_t space = command.find(' ');
      command = flip + command.substr(4, space - 4) + " \"$SP\" " + command.substr(space + 1);
    } else {
      command = "\"$SP\" " + command;
    }
    Result r = Shell(command);
    printf("  %-58s -> %s\n", row.input, r.status == 0 ? "whole" : "damaged or refused");
    EXPECT_EQ(r.status, row.status) << row.input << ": " << row.command << "\n" << r.output;
    EXPECT_NE(r.output.find(row.says), std::string::npos) << row.input << ": " << row.command << "\n"
                                                          << r.output;
    Shell("rm -rf x");
  }
}

}  // namespace
