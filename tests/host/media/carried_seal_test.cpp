// extract of a program that carries its pack files: a carried installer that
// expands whole but is not the one the program was sealed for is refused,
// and nothing is written.
#include <string>

#include "media/seal_image.h"
#include "pe_test_image.h"
#include "setuppack_runner.h"

namespace {

using CarriedSealTest = SetuppackTest;

TEST_F(CarriedSealTest, ExtractRefusesACarriedInstallerThatIsNotTheOneSealedFor) {
  // A sealable setup.exe of 1,024 bytes: one 512-byte section at 512, the
  // seal block 16 bytes into it.
  Write("setup.exe", ImageOf({1024, 512, 512, 512, 512 + 16, 0}));
  // Two installers of one size whose random bytes pack into stored records
  // of one size: their pack files differ in content alone.
  Write("script", MixedBytes(5000, 61));
  Write("sealed-for", RandomBytes(20000, 62));
  Write("carried", RandomBytes(20000, 63));
  ASSERT_EQ(
      Run("media -q --script script --installer sealed-for --setup setup.exe --single-file -o p.exe").status,
      0);
  ASSERT_EQ(Run("media -q --script script --installer carried --setup setup.exe -o other").status, 0);
  std::vector<uint8_t> program = Read("p.exe"), carried = Read("other/INSTALL.EX_");
  ASSERT_LT(carried.size(), program.size());
  // The program carries its installer at its end: put the other pack file
  // there, and set the PE checksum as media would.
  std::vector<uint8_t> swapped = program;
  std::copy(carried.begin(), carried.end(), swapped.end() - carried.size());
  ASSERT_FALSE(swapped == program);
  std::string error;
  ASSERT_TRUE(SetPeChecksum(&swapped, "swapped.exe", &error)) << error;
  Write("swapped.exe", swapped);
  // Both carried pack files expand whole: only the seal tells them apart.
  ASSERT_EQ(Run("unpack other/INSTALL.SC_ s other/INSTALL.EX_ i").status, 0);

  Result r = Run("extract swapped.exe out");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("the INSTALL.EX_ it carries does not match its seal"), std::string::npos)
      << r.output;
  EXPECT_FALSE(Exists("out")) << "written all the same";
  // The program as sealed is extracted.
  Result good = Run("extract p.exe good");
  EXPECT_EQ(good.status, 0) << good.output;
  EXPECT_TRUE(Read("good/INSTALL.EXE") == Read("sealed-for"));
}

}  // namespace
