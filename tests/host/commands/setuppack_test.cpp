// setuppack as its users run it: a real process, real files, exit codes and
// messages.
#include "setuppack_runner.h"

namespace {

TEST_F(SetuppackTest, PackThenUnpackThroughOneStateRestoresEveryFile) {
  std::vector<uint8_t> script = MixedBytes(40000, 1);
  std::vector<uint8_t> installer = RealBinary("attrib.exe");
  installer.insert(installer.end(), script.begin(), script.begin() + 5000);
  Write("script", script);
  Write("installer", installer);
  Write("empty", {});
  Result packed = RunTool("pack " + Path("script") + " " + Path("s.pk") + " " + Path("installer") + " " +
                          Path("i.pk") + " " + Path("empty") + " " + Path("e.pk"));
  ASSERT_EQ(packed.status, 0) << packed.output;
  Result unpacked = RunTool("unpack " + Path("s.pk") + " " + Path("s.out") + " " + Path("i.pk") + " " +
                            Path("i.out") + " " + Path("e.pk") + " " + Path("e.out"));
  ASSERT_EQ(unpacked.status, 0) << unpacked.output;
  EXPECT_TRUE(ReadFileBytes(Path("s.out")) == script);
  EXPECT_TRUE(ReadFileBytes(Path("i.out")) == installer);
  EXPECT_TRUE(Exists("e.out"));
  EXPECT_TRUE(ReadFileBytes(Path("e.out")).empty());
}

TEST_F(SetuppackTest, UnpackFailureNamesFileAndRecordAndLeavesNoDestination) {
  Write("data", MixedBytes(200000, 2));
  ASSERT_EQ(RunTool("pack " + Path("data") + " " + Path("d.pk")).status, 0);
  std::vector<uint8_t> packed = ReadFileBytes(Path("d.pk"));
  packed.push_back('!');
  Write("trailing.pk", packed);
  Result r = RunTool("unpack " + Path("trailing.pk") + " " + Path("out"));
  EXPECT_EQ(r.status, 1);
  // After the check record and 4 blocks: the byte after the last record.
  EXPECT_NE(r.output.find("trailing.pk: trailing garbage at offset " + std::to_string(packed.size() - 1) +
                          " (1 byte after the last record)"),
            std::string::npos)
      << r.output;
  EXPECT_FALSE(Exists("out"));

  packed.resize(packed.size() - 100);
  Write("short.pk", packed);
  r = RunTool("unpack " + Path("short.pk") + " " + Path("out"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("short.pk: unexpected end of file (record 4 at offset "), std::string::npos)
      << r.output;
  EXPECT_FALSE(Exists("out"));
  // Nothing partial either.
  std::system(("ls " + dir_ + " > " + Path("listing")).c_str());
  std::ifstream listing(Path("listing"));
  std::string name;
  while (listing >> name) EXPECT_EQ(name.find("partial"), std::string::npos) << name;
}

TEST_F(SetuppackTest, UnpackOfAMissingFileIsADataError) {
  Result r = RunTool("unpack " + Path("nothing.pk") + " " + Path("out"));
  EXPECT_EQ(r.status, 1);
  // The name, then the system's reason (Windows words it its own way).
  EXPECT_NE(r.output.find("setuppack: " + Path("nothing.pk") + ": "), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("error"), std::string::npos) << r.output;
}

TEST_F(SetuppackTest, ListShowsRecordsAndTotals) {
  std::vector<uint8_t> data = RandomBytes(70000, 3);
  std::vector<uint8_t> zeros(70000, 0);
  data.insert(data.end(), zeros.begin(), zeros.end());
  Write("data", data);
  ASSERT_EQ(RunTool("pack " + Path("data") + " " + Path("d.pk")).status, 0);
  Result r = RunTool("list " + Path("d.pk"));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("stored"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("compressed"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("140000 expanded"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("         0  check      "), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("        64  stored     "), std::string::npos) << r.output;
}

TEST_F(SetuppackTest, ListRejectsWhatUnpackRejects) {
  std::vector<uint8_t> oversized;
  AppendRecordHeader(&oversized, 0, 70000);
  oversized.resize(oversized.size() + 70000, 'x');
  Write("big.pk", oversized);
  Result list = RunTool("list " + Path("big.pk"));
  EXPECT_EQ(list.status, 1);
  EXPECT_NE(list.output.find("big.pk: damaged record header (record 0 at offset 0)"), std::string::npos)
      << list.output;
  Result unpack = RunTool("unpack " + Path("big.pk") + " " + Path("out"));
  EXPECT_EQ(unpack.status, 1);
  EXPECT_NE(unpack.output.find("big.pk: damaged record header (record 0 at offset 0)"), std::string::npos)
      << unpack.output;
}

TEST_F(SetuppackTest, MediaWritesVerifiedPackFilesAndTheLauncher) {
  Write("install.scr", MixedBytes(9000, 4));
  Write("install.exe", RealBinary("version.dll"));
  Write("setup.exe", {'M', 'Z', 1, 2, 3});
  Result r = RunTool("media --script " + Path("install.scr") + " --installer " + Path("install.exe") +
                     " --setup " + Path("setup.exe") + " -o " + Path("media") + " --no-seal");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("verified"), std::string::npos);
  EXPECT_TRUE(ReadFileBytes(Path("media/setup.exe")) == ReadFileBytes(Path("setup.exe")));
  // The two pack files expand, in the launcher's order, to the two sources.
  Result u = RunTool("unpack " + Path("media/INSTALL.SC_") + " " + Path("a") + " " +
                     Path("media/INSTALL.EX_") + " " + Path("b"));
  ASSERT_EQ(u.status, 0) << u.output;
  EXPECT_TRUE(ReadFileBytes(Path("a")) == ReadFileBytes(Path("install.scr")));
  EXPECT_TRUE(ReadFileBytes(Path("b")) == ReadFileBytes(Path("install.exe")));
}

TEST_F(SetuppackTest, DamagedCheckedMediaAreRefusedWholeAndNoCheckWritesTheOldFormat) {
  std::vector<uint8_t> script = MixedBytes(9000, 5);
  std::vector<uint8_t> installer = RealBinary("attrib.exe");
  Write("s", script);
  Write("i", installer);
  ASSERT_EQ(RunTool("pack " + Path("s") + " " + Path("s.pk") + " " + Path("i") + " " + Path("i.pk")).status,
            0);
  Result list = RunTool("list " + Path("i.pk"));
  EXPECT_NE(list.output.find("check record: layout 1, expands to " + std::to_string(installer.size())),
            std::string::npos)
      << list.output;

  // One bit in the installer's last block: neither destination is written.
  std::vector<uint8_t> packed = ReadFileBytes(Path("i.pk"));
  packed[packed.size() - 2] ^= 0x04;
  Write("i.pk", packed);
  Result r =
      RunTool("unpack " + Path("s.pk") + " " + Path("s.out") + " " + Path("i.pk") + " " + Path("i.out"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find(Path("i.pk") + ": "), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("is the first that differs"), std::string::npos) << r.output;
  EXPECT_FALSE(Exists("s.out"));
  EXPECT_FALSE(Exists("i.out"));
  // Nor a file it would replace, although the script was written before the
  // installer failed.
  Write("s.kept", {'k'});
  EXPECT_EQ(
      RunTool("unpack -f " + Path("s.pk") + " " + Path("s.kept") + " " + Path("i.pk") + " " + Path("i.out"))
          .status,
      1);
  EXPECT_TRUE(ReadFileBytes(Path("s.kept")) == std::vector<uint8_t>({'k'}));
  EXPECT_FALSE(Exists("i.out"));

  // --no-check: the records alone, as older versions wrote them.
  ASSERT_EQ(RunTool("--no-check pack " + Path("i") + " " + Path("plain.pk")).status, 0);
  ASSERT_EQ(RunTool("pack " + Path("i") + " " + Path("alone.pk")).status, 0);
  std::vector<uint8_t> plain = ReadFileBytes(Path("plain.pk"));
  std::vector<uint8_t> checked = ReadFileBytes(Path("alone.pk"));
  ASSERT_EQ(checked.size(), PackHeaderSize + ReadLE32(&checked[8]) + plain.size());
  EXPECT_TRUE(std::equal(plain.begin(), plain.end(), checked.end() - plain.size()));
  Result plainList = RunTool("list " + Path("plain.pk"));
  EXPECT_NE(plainList.output.find("no check record"), std::string::npos) << plainList.output;
  EXPECT_EQ(RunTool("unpack " + Path("plain.pk") + " " + Path("plain.out")).status, 0);
  EXPECT_TRUE(ReadFileBytes(Path("plain.out")) == installer);
}

TEST_F(SetuppackTest, UsageErrorsExitWithTwoAndSayWhy) {
  Write("f", {1, 2, 3});
  for (const std::string& args :
       {std::string(""), std::string("frobnicate"), std::string("pack"), "pack " + Path("f") + " a b",
        std::string("--turbo pack a b"), std::string("media -o x"), "pack " + Path("f") + " " + Path("f"),
        std::string("unpack a b c"), std::string("list"), "pack " + Path("f") + " --turbo " + Path("g"),
        "--best list " + Path("f"), "unpack --best " + Path("f") + " " + Path("g"),
        "test --no-check " + Path("f"), "pack --script " + Path("f") + " " + Path("f") + " " + Path("g"),
        "pack --best=yes " + Path("f") + " " + Path("g"), std::string("extract"),
        "pack - " + Path("a") + " - " + Path("b"),
        "pack " + Path("f") + " " + Path("g") + " " + Path("f") + " " + Path("g")}) {
    Result r = RunTool(args);
    EXPECT_EQ(r.status, 2) << "'" << args << "': " << r.output;
    EXPECT_NE(r.output.find("setuppack: "), std::string::npos) << r.output;
  }
  EXPECT_TRUE(ReadFileBytes(Path("f")) == std::vector<uint8_t>({1, 2, 3}));  // not packed onto itself
  EXPECT_FALSE(Exists("g"));
  // Options stand before or after the command word, as people put them:
  // "pack f --best g" (once a usage error) packs as "--best pack f g" does.
  ASSERT_EQ(RunTool("pack " + Path("f") + " --best " + Path("g")).status, 0);
  ASSERT_EQ(RunTool("--best pack " + Path("f") + " " + Path("g2")).status, 0);
  EXPECT_TRUE(ReadFileBytes(Path("g")) == ReadFileBytes(Path("g2")));
  Write("f", RealBinary("attrib.exe"));
  ASSERT_EQ(RunTool("pack " + Path("f") + " " + Path("best.pk") + " --best").status, 0);
  ASSERT_EQ(RunTool("pack --fast " + Path("f") + " " + Path("fast.pk")).status, 0);
  EXPECT_LT(ReadFileBytes(Path("best.pk")).size(), ReadFileBytes(Path("fast.pk")).size());
  // -h after the command (once a usage error) shows the help, as in gzip.
  Result laterHelp = RunTool("pack -h " + Path("f"));
  EXPECT_EQ(laterHelp.status, 0) << laterHelp.output;
  EXPECT_NE(laterHelp.output.find("usage: setuppack"), std::string::npos);
  // "--" ends the options, before or after the command: a file may be
  // called --best.
  Write("--best", {7, 7, 7, 7, 7, 7});
  Result before = RunTool("-- pack --best d1.pk", dir_);
  EXPECT_EQ(before.status, 0) << before.output;
  Result after = RunTool("pack -- --best d2.pk", dir_);
  EXPECT_EQ(after.status, 0) << after.output;
  EXPECT_TRUE(Exists("d1.pk") && Exists("d2.pk"));
  Result help = RunTool("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("usage: setuppack"), std::string::npos);
  // One version, the project's, shown by --version and --help.
  Result version = RunTool("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.output, "setuppack " SETUPPACK_VERSION "\n");
  EXPECT_EQ(help.output.find("setuppack " SETUPPACK_VERSION ":"), 0u) << help.output;
}

}  // namespace
