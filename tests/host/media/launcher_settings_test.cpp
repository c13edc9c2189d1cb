// setup.exe's settings block as setuppack writes and reads it, on a small
// PE image that holds a seal block and a settings block in its one section.
#include "media/launcher_settings.h"

#include <gtest/gtest.h>
#include <string.h>

#include "media/seal_image.h"
#include "pe_test_image.h"
#include "settings.h"
#include "setuppack_runner.h"

namespace {

const size_t SettingsAt = 512 + 200;

// A 1,024-byte image with a settings block as built at SettingsAt.
std::vector<uint8_t> SettingsImage() {
  std::vector<uint8_t> image = ImageOf({1024, 512, 512, 512, 512 + 16, 0});
  memcpy(&image[SettingsAt], SettingsId, SettingsIdSize);
  WriteLE32(&image[SettingsAt + SettingsIdSize], SettingsLayoutVersion);
  return image;
}

TEST(LauncherSettingsTest, WrittenAndReadBackChangingOnlyTheBlockAndTheChecksum) {
  std::vector<uint8_t> image = SettingsImage(), written = image;
  LauncherSettings settings;
  settings.exitCodes = true;
  settings.silentSwitches = {"/S", "/qn", "-quiet"};
  std::string error;
  ASSERT_TRUE(ApplyMediaSettings(&written, "setup.exe", settings, &error)) << error;
  const uint8_t expected[] = {1, 0, 0, 0, '/', 'S', 0, '/', 'q', 'n', 0, '-', 'q', 'u', 'i', 'e', 't', 0, 0};
  EXPECT_EQ(0, memcmp(&written[SettingsAt + SettingsFlagsOffset], expected, sizeof(expected)));
  for (size_t i = 0; i < image.size(); ++i) {
    bool block = i >= SettingsAt && i < SettingsAt + SettingsBlockSize;
    bool checksum = i >= ChecksumAt && i < ChecksumAt + 4;
    if (!block && !checksum) {
      ASSERT_EQ(image[i], written[i]) << "byte " << i;
    }
  }
  EXPECT_EQ(ReadLE32(&written[ChecksumAt]), PeChecksum(written, ChecksumAt));

  LauncherSettings read;
  bool found = false;
  ASSERT_TRUE(ReadLauncherSettings(written, "setup.exe", &read, &found, &error)) << error;
  EXPECT_TRUE(found);
  EXPECT_TRUE(read.exitCodes);
  EXPECT_EQ(settings.silentSwitches, read.silentSwitches);
  EXPECT_EQ(
      "  exit code: the installer's, or 2, 1603, 1618 for its own failures (--exit-code)\n"
      "  silent switches: /S /qn -quiet (no window, failures logged to %TEMP%\\ZIMRO~SE.LOG)\n",
      SettingsLines(written, "setup.exe"));
  EXPECT_EQ("  exit code: 0 whatever happens\n  silent switches: none\n", SettingsLines(image, "setup.exe"));
}

// The block is looked for in the image alone: one in the bytes a program
// carries after it is none, and two in the image are refused; an image
// without one takes no settings.
TEST(LauncherSettingsTest, BlockIsFoundInTheImageOnly) {
  LauncherSettings exitCodes;
  exitCodes.exitCodes = true;
  std::string error;
  std::vector<uint8_t> none = ImageOf({1024, 512, 512, 512, 512 + 16, 0}), carried = none;
  carried.insert(carried.end(), SettingsId, SettingsId + SettingsIdSize);
  carried.resize(carried.size() + SettingsBlockSize);
  for (const std::vector<uint8_t>* image : {&none, &carried}) {
    std::vector<uint8_t> copy = *image;
    EXPECT_EQ("", SettingsLines(copy, "old.exe"));
    EXPECT_TRUE(ApplyMediaSettings(&copy, "old.exe", LauncherSettings(), &error));
    EXPECT_TRUE(copy == *image);
    EXPECT_FALSE(ApplyMediaSettings(&copy, "old.exe", exitCodes, &error));
    EXPECT_NE(std::string::npos, error.find("'old.exe' has no settings block"));
  }
  std::vector<uint8_t> twice = SettingsImage();
  memcpy(&twice[SettingsAt + SettingsBlockSize], &twice[SettingsAt], SettingsBlockSize);
  EXPECT_FALSE(ApplyMediaSettings(&twice, "twice.exe", exitCodes, &error));
  EXPECT_EQ("'twice.exe' holds 2 settings blocks", error);
  std::vector<uint8_t> damaged = SettingsImage();
  damaged[SettingsAt + SettingsSwitchesOffset] = '\t';
  EXPECT_EQ("  'bad.exe': damaged settings block (a silent switch holds byte 9)\n",
            SettingsLines(damaged, "bad.exe"));
}

TEST(LauncherSettingsTest, SilentSwitchesAreWordsThatFitTheBlock) {
  const struct {
    std::vector<std::string> switches;
    const char* error;  // a part of it; null: taken
  } cases[] = {
      {{"/S", "/VERYSILENT", "/quiet", "/qn"}, nullptr},
      {{std::string(111, 'x')}, nullptr},  // 112 bytes with its end
      {{std::string(56, 'x'), std::string(56, 'y')}, "take 114 bytes"},
      {{std::string(112, 'x')}, "take 113 bytes"},
      {{""}, "one word of printable ASCII"},
      {{"/S x"}, "one word of printable ASCII"},
      {{"\"/S\""}, "one word of printable ASCII"},
      {{"/s\xC3\xA9"}, "one word of printable ASCII"},
      {{"/S", "/s"}, "'/s' is given twice"},
  };
  for (const auto& c : cases) {
    std::string error;
    bool taken = CheckSilentSwitches(c.switches, &error);
    EXPECT_EQ(c.error == nullptr, taken) << c.switches[0];
    if (c.error) {
      EXPECT_NE(std::string::npos, error.find(c.error)) << error;
    }
  }
}

// media --exit-code --silent-switch, into a folder's setup.exe (sealed or
// not) and into a single-file program; test and list print the settings.
TEST_F(SetuppackTest, MediaWritesTheSettingsThatTestAndListPrint) {
  Write("script", MixedBytes(5000, 31));
  Write("installer", MixedBytes(9000, 32));
  Write("setup.exe", SettingsImage());
  Write("old.exe", ImageOf({1024, 512, 512, 512, 512 + 16, 0}));
  const std::string made = "media --script script --installer installer ";
  const std::string lines =
      "  exit code: the installer's, or 2, 1603, 1618 for its own failures (--exit-code)\n"
      "  silent switches: /S /qn (no window, failures logged to %TEMP%\\ZIMRO~SE.LOG)\n";
  const struct {
    const char* options;
    const char* written;  // what test reads
    const char* image;    // the setup.exe written
  } forms[] = {{"--single-file -o p.exe", "p.exe", "p.exe"},
               {"-o folder", "folder", "folder/setup.exe"},
               {"--no-seal -o plain", "plain", "plain/setup.exe"}};
  for (const auto& form : forms) {
    SCOPED_TRACE(form.options);
    Result r =
        Run(made + "--setup setup.exe --exit-code --silent-switch /S --silent-switch=/qn " + form.options);
    ASSERT_EQ(r.status, 0) << r.output;
    std::vector<uint8_t> bytes = Read(form.image);
    EXPECT_EQ(ReadLE32(&bytes[ChecksumAt]), PeChecksum(bytes, ChecksumAt));
    Result tested = Run(std::string("test ") + form.written);
    EXPECT_EQ(tested.status, 0) << tested.output;
    EXPECT_NE(std::string::npos, tested.output.find(lines)) << tested.output;
  }
  Result listed = Run("list p.exe");
  EXPECT_NE(std::string::npos, listed.output.find("p.exe: setup.exe's settings\n" + lines)) << listed.output;

  // A setup.exe from before the settings takes none; what media cannot
  // make is a usage error.
  Result old = Run(made + "--setup old.exe --exit-code -o from-old");
  EXPECT_EQ(old.status, 1);
  EXPECT_NE(std::string::npos, old.output.find("'old.exe' has no settings block")) << old.output;
  EXPECT_FALSE(Exists("from-old/setup.exe"));
  EXPECT_EQ(Run(made + "--no-setup --exit-code -o none").status, 2);
  EXPECT_EQ(Run(made + "--setup setup.exe --silent-switch '/S x' -o bad").status, 2);
  EXPECT_EQ(Run("pack --exit-code script s.pk").status, 2);
}

}  // namespace
