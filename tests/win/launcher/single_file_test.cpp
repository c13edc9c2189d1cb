// A program that carries its pack files (setuppack media --single-file),
// under Wine: renamed as downloads are, alone in a folder, with other pack
// files planted beside it, signed, cut short and changed.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "test_support.h"

using test::Data;
using test::ReadFileBytes;
using test::WinPath;

namespace {

enum class Change { None, PlantPackFiles, CutShort, FlipInstallerByte };

TEST(SingleFileTest, RunsOnlyWhatItCarriesAndRefusesItselfCutOrChanged) {
  std::string base = test::FreshTestFolder("single");
  ASSERT_FALSE(base.empty());
  std::string single = ReadFileBytes(Data("single.exe"));
  ASSERT_GT(single.size(), 20000u);
  const struct {
    const char* program;  // the build's program, unsigned or signed
    Change change;
    bool runs;
  } cases[] = {
      {"single.exe", Change::None, true},
      {"single.exe", Change::PlantPackFiles, true},
      {TEST_SIGNED_SINGLE_EXE, Change::None, true},
      {"single.exe", Change::CutShort, false},
      {"single.exe", Change::FlipInstallerByte, false},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.program) + " case " + std::to_string(index));
    test::RemoveTree(test::TempSetupDir());
    std::string folder = base + "\\download" + std::to_string(index++);
    std::string report = folder + "-report";
    ASSERT_TRUE(test::MakeDirectories(folder) && test::MakeDirectories(report));
    SetEnvironmentVariableA("STANDIN_REPORT", report.c_str());
    std::string bytes = c.program == std::string("single.exe") ? single : ReadFileBytes(WinPath(c.program));
    // The installer's pack file is the last thing the unsigned program
    // holds; a signature only follows it.
    if (c.change == Change::CutShort) bytes.resize(single.size() - 1000);
    if (c.change == Change::FlipInstallerByte) bytes[single.size() - 100] ^= 0x01;
    std::string program = folder + "\\product-2.1-setup.exe";
    ASSERT_TRUE(test::WriteFileBytes(program, bytes));
    if (c.change == Change::PlantPackFiles) {
      // A valid pair whose installer is no program: read, it would fail to start.
      ASSERT_TRUE(CopyFileA(Data("notexe.SC_").c_str(), (folder + "\\INSTALL.SC_").c_str(), FALSE));
      ASSERT_TRUE(CopyFileA(Data("notexe.EX_").c_str(), (folder + "\\INSTALL.EX_").c_str(), FALSE));
    }

    test::SetupRun run = test::RunProgram(program, "\"" + program + "\" /S", 120);
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_FALSE(test::Exists(test::TempSetupDir()));
    auto seen = test::ReadReport(report);
    if (c.runs) {
      EXPECT_EQ(0u, run.boxes.size()) << (run.boxes.empty() ? "" : run.boxes[0].text);
      EXPECT_EQ(test::TempSetupDir() + "\\INSTALL.EXE \"" + folder + "\" /S", seen["cmdline"]);
      EXPECT_TRUE(ReadFileBytes(report + "\\INSTALL.SCR.copy") == ReadFileBytes(Data("script.bin")));
      EXPECT_TRUE(ReadFileBytes(report + "\\INSTALL.EXE.copy") == ReadFileBytes(Data("standin.exe")));
    } else {
      ASSERT_EQ(1u, run.boxes.size());
      EXPECT_EQ("Setup", run.boxes[0].caption);
      EXPECT_EQ("The download " + program +
                    " is incomplete or damaged. Download it again. Further "
                    "installation not possible.",
                run.boxes[0].text);
      EXPECT_TRUE(seen.empty()) << "the installer ran";
    }
  }
  SetEnvironmentVariableA("STANDIN_REPORT", NULL);
}

}  // namespace
