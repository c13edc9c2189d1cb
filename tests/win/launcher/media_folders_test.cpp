// setup.exe from folders that narrow names get wrong: names code page 1252
// lacks or writes by best fit as other names, paths past MAX_PATH, and
// (CodePage932, run by code_page_932.sh) program names with a trail byte 0x5C.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>

#include "test_support.h"

using test::Utf8;
using test::Widen;

namespace {

// The plain conversion, as the system makes narrow names (best fit).
std::string Narrow(const std::wstring& wide) {
  char narrow[2048];
  return WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, narrow, sizeof(narrow), NULL, NULL) > 0 ? narrow
                                                                                                  : "";
}

// A path on drive Z: as Unix names it.
std::string UnixPath(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path.substr(2);
}

std::wstring ShortForm(const std::wstring& path) {
  wchar_t shortPath[1024];
  DWORD n = GetShortPathNameW(path.c_str(), shortPath, 1024);
  return n > 0 && n < 1024 ? shortPath : L"";
}

class MediaFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = Widen(test::FreshTestFolder("folders"));
    ASSERT_FALSE(base_.empty());
    test::RemoveTree(test::TempSetupDir());
    report_ = test::FreshTestFolder("folders-report");
    SetEnvironmentVariableA("STANDIN_REPORT", report_.c_str());
  }
  void TearDown() override { SetEnvironmentVariableA("STANDIN_REPORT", NULL); }

  // Media in the folder media (under base_ when relative), setup.exe saved
  // there as program; runs it with tail.
  test::SetupRun Run(const std::wstring& media, const std::wstring& program = L"setup.exe",
                     const std::wstring& tail = L"", bool fromUnixShell = false) {
    media_ = media.size() > 1 && media[1] == L':' ? media : base_ + L"\\" + media;
    for (size_t at = media_.find(L'\\', 3); at != std::wstring::npos; at = media_.find(L'\\', at + 1)) {
      CreateDirectoryW(media_.substr(0, at).c_str(), NULL);
    }
    CreateDirectoryW(media_.c_str(), NULL);
    std::wstring exe = media_ + L"\\" + program;
    EXPECT_TRUE(CopyFileW(Widen(test::WinPath(TEST_SETUP_EXE)).c_str(), exe.c_str(), FALSE));
    EXPECT_TRUE(
        CopyFileW(Widen(test::Data("sample.SC_")).c_str(), (media_ + L"\\INSTALL.SC_").c_str(), FALSE));
    EXPECT_TRUE(
        CopyFileW(Widen(test::Data("standin.EX_")).c_str(), (media_ + L"\\INSTALL.EX_").c_str(), FALSE));
    DeleteFileA((report_ + "\\report.txt").c_str());
    DeleteFileA((report_ + "\\exit.txt").c_str());
    if (fromUnixShell) return RunFromUnixShell();
    test::Started started = test::StartProgramW(exe, L"\"" + exe + L"\"" + tail);
    return test::Finish(started, 120);
  }

  // Wine's CreateProcess starts no program whose path passes MAX_PATH; its
  // loader does, started from a Unix shell in the folder as `wine setup.exe`
  // (wine-run.sh's loader, beside WINESERVER). The shell writes the exit
  // code into a file when the loader is done (Wine's handle of a Unix
  // process is never signalled). A message box would not be answered: a
  // failure shows as a run that does not finish.
  test::SetupRun RunFromUnixShell() {
    std::string done = report_ + "\\exit.txt", loader(MAX_PATH, '\0');
    loader.resize(GetEnvironmentVariableA("WINESERVER", &loader[0], MAX_PATH));
    loader = loader.substr(0, loader.rfind('/')) + (sizeof(void*) == 4 ? "/wine" : "/wine64");
    test::Started started = test::StartProgramW(
        L"", Widen("/bin/sh -c \"cd \\\"$0\\\" && \\\"$1\\\" setup.exe; echo $? >\\\"$2\\\"\" \"" +
                   UnixPath(Utf8(media_)) + "\" \"" + loader + "\" \"" + UnixPath(done) + "\""));
    for (int i = 0; i < 1200 && started.ok && !test::Exists(done); ++i) Sleep(100);
    CloseHandle(started.process.hThread);
    CloseHandle(started.process.hProcess);
    test::SetupRun run;
    std::string code = test::ReadFileBytes(done);
    run.finished = !code.empty();
    run.exitCode = (DWORD)atoi(code.c_str());
    return run;
  }

  // The installer started with firstArgument in quotes and tail; that
  // argument opens the media folder (INSTALL.SC_ is there; its long form is
  // the folder's).
  void ExpectStarted(const test::SetupRun& run, const std::string& firstArgument,
                     const std::string& tail = "") {
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(0u, run.boxes.size()) << (run.boxes.empty() ? "" : run.boxes[0].text);
    auto report = test::ReadReport(report_);
    std::string line = report["cmdline"];
    EXPECT_EQ(test::TempSetupDir() + "\\INSTALL.EXE \"" + firstArgument + "\"" + tail, line);
    EXPECT_EQ(2, std::count(line.begin(), line.end(), '"'));
    EXPECT_EQ("1", report["media_script"]);
    EXPECT_EQ(Utf8(media_), report["media_long"]);
    EXPECT_FALSE(test::Exists(test::TempSetupDir()));
  }

  std::wstring base_, media_;
  std::string report_;
};

TEST_F(MediaFolderTest, FoldersTheAnsiCodePageCannotWriteOrThatPassMaxPath) {
  ASSERT_EQ(1252u, GetACP());
  // A folder of 272 characters: its pack file paths pass MAX_PATH.
  std::wstring longFolder;
  while (base_.size() + 1 + longFolder.size() + 40 < 272) longFolder += L"a folder with a long name\\";
  longFolder += std::wstring(272 - base_.size() - 1 - longFolder.size(), L'z');
  struct {
    std::wstring folder;
    bool asItIs;  // else its short form
    const wchar_t* tail;
    bool fromUnixShell;
  } cases[] = {
      {L"Caf\u00e9 Setup", true, L"", false},  // as it has always been
      {L"\u0423\u0441\u0442\u0430\u043d\u043e\u0432\u043a\u0430", false, L"", false},
      {L"\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb", false, L"", false},
      {L"\u0141\u00f3d\u017a instalacja", false, L"", false},  // best fit: "Lodz instalacja", another folder
      // Best fit writes U+FF02 as a double quote: it must neither end the
      // first argument nor end the program name, which would make
      // `b\setup.exe"` part of the tail.
      {L"a\uff02 b", false, L" /Q", false},
      {longFolder, false, L"", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf8(c.folder));
    test::SetupRun run = Run(c.folder, L"setup.exe", c.tail, c.fromUnixShell);
    std::string first = Narrow(c.asItIs ? media_ : ShortForm(media_));
    ASSERT_FALSE(first.empty());
    ExpectStarted(run, first, Narrow(c.tail));
  }
  EXPECT_EQ(272u, media_.size());
}

// A folder of 8.3 names on drive M: (its short form is itself) whose pack
// file paths pass MAX_PATH: no narrow path names it, and setup.exe says so.
TEST_F(MediaFolderTest, FolderThatNoNarrowPathNamesIsReportedAsSuch) {
  std::wstring folder = Widen(TEST_DRIVE_ROOT);
  for (int i = 10; folder.size() < 249; ++i) folder += L"\\FOLDER" + std::to_wstring(i) + L".DIR";
  test::SetupRun run = Run(folder);
  EXPECT_EQ(ShortForm(media_), media_);
  EXPECT_EQ(249u, media_.size());
  EXPECT_TRUE(run.finished);
  ASSERT_EQ(1u, run.boxes.size());
  EXPECT_EQ("Setup", run.boxes[0].caption);
  EXPECT_EQ(
      "Setup cannot use the folder " + Narrow(media_) +
          ": its name is too long or has letters of another code page. Further installation not possible.",
      run.boxes[0].text);
  EXPECT_FALSE(test::Exists(report_ + "\\report.txt"));
}

class CodePage932 : public MediaFolderTest {};

// ソ (0x83 0x5C) and 能 (0x94 0x5C) end in 0x5C; so does 表 (0x95 0x5C),
// the last character of the folder 代表, just before the closing quote.
TEST_F(CodePage932, ProgramNamesWithTrailByte5C) {
  ASSERT_EQ(932u, GetACP());
  struct {
    const wchar_t* folder;
    const wchar_t* program;
  } cases[] = {
      {L"media", L"\u30bd\u30d5\u30c8.exe"},
      {L"\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb", L"\u30bd\u30d5\u30c8.exe"},
      {L"\u4ee3\u8868", L"\u80fd.exe"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf8(c.folder) + "\\" + Utf8(c.program));
    test::SetupRun run = Run(c.folder, c.program);
    ExpectStarted(run, Narrow(media_));
  }
}

}  // namespace
