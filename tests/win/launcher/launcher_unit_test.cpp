// The launcher's helpers, under Wine.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

#include "launcher.h"
#include "test_support.h"

using test::WinPath;

namespace {

std::string Strip(const char* path, uint32_t size = PathBufferSize) {
  char buffer[PathBufferSize];
  memset(buffer, 'x', sizeof(buffer));
  StripLastPathComponent(path, buffer, size);
  return buffer;
}

TEST(StripLastPathComponent, CutsAtTheLastBackslash) {
  EXPECT_EQ("C:\\SETUP", Strip("C:\\SETUP\\SETUP.EXE"));
  EXPECT_EQ("C:", Strip("C:\\SETUP.EXE"));
  EXPECT_EQ("", Strip("SETUP.EXE"));
  EXPECT_EQ("", Strip(""));
  EXPECT_EQ("C:\\A\\B", Strip("C:\\A\\B\\"));
}

TEST(StripLastPathComponent, IgnoresMissingArguments) {
  char buffer[8] = "keep";
  StripLastPathComponent(NULL, buffer, sizeof(buffer));
  EXPECT_STREQ("keep", buffer);
  StripLastPathComponent("C:\\X\\Y", buffer, 0);
  EXPECT_STREQ("keep", buffer);
  StripLastPathComponent("C:\\X\\Y", NULL, 8);
}

TEST(CopyBounded, FillsWithZerosAndAlwaysEnds) {
  char buffer[8];
  memset(buffer, 'x', sizeof(buffer));
  CopyBounded(buffer, "abc", sizeof(buffer));
  EXPECT_STREQ("abc", buffer);
  for (int i = 3; i < 8; ++i) EXPECT_EQ('\0', buffer[i]);
  CopyBounded(buffer, "abcdefghijkl", sizeof(buffer));
  EXPECT_STREQ("abcdefg", buffer);
}

TEST(JoinPath, JoinsOrRefusesWhatDoesNotFit) {
  char buffer[16];
  EXPECT_EQ(1, JoinPath(buffer, sizeof(buffer), "C:\\DIR", "FILE.EXT"));
  EXPECT_STREQ("C:\\DIR\\FILE.EXT", buffer);
  EXPECT_EQ(0, JoinPath(buffer, sizeof(buffer), "C:\\DIRECTORY", "FILE.EXT"));
  EXPECT_STREQ("", buffer);
  EXPECT_EQ(0, JoinPath(buffer, sizeof(buffer), "", "FILE.EXT"));
}

TEST(GetModuleDirectory, IsTheDirectoryOfTheModule) {
  char name[MAX_PATH];
  GetModuleFileNameA(NULL, name, MAX_PATH);
  std::string expected(name);
  expected = expected.substr(0, expected.find_last_of('\\'));
  char buffer[PathBufferSize];
  EXPECT_EQ(1, GetModuleDirectory(NULL, buffer, sizeof(buffer)));
  EXPECT_EQ(expected, buffer);
  // A buffer too small for the name gives no directory rather than a cut one.
  char small[8] = "keep";
  EXPECT_EQ(0, GetModuleDirectory(NULL, small, sizeof(small)));
  EXPECT_STREQ("", small);
  EXPECT_EQ(0, GetModuleDirectory(NULL, NULL, 8));
}

TEST(NarrowExactly, WritesWhatTheCodePageHasAsItselfAndTellsTheRestApart) {
  struct {
    UINT codePage;
    const wchar_t* wide;
    int exact;
    const char* narrow;
  } cases[] = {
      {1252, L"C:\\Caf\u00e9 Setup", 1, "C:\\Caf\xe9 Setup"},
      {1252, L"\u0141\u00f3d\u017a", 0,
       "?\xf3"
       "d?"},                           // best fit: "L\xf3" "dz"
      {1252, L"a\uff02 b", 0, "a? b"},  // best fit: a double quote
      {1252, L"\u0423\u0441", 0, "??"},
      {1250, L"\u0141\u00f3d\u017a", 1,
       "\xa3\xf3"
       "d\x9f"},
      {932, L"\u30bd\u30d5\u30c8", 1, "\x83\x5c\x83t\x83g"},
      // UTF-8 refuses the test and writes everything as itself.
      {CP_UTF8, L"\u0141\u00f3d\u017a", 1,
       "\xc5\x81\xc3\xb3"
       "d\xc5\xba"},
  };
  for (const auto& c : cases) {
    char buffer[16];
    EXPECT_EQ(c.exact, NarrowExactly(c.codePage, c.wide, buffer, sizeof(buffer))) << c.narrow;
    EXPECT_STREQ(c.narrow, buffer);
  }
  char small[4];
  EXPECT_EQ(0, NarrowExactly(1252, L"abcd", small, sizeof(small)));  // no room for the zero
}

// Under code page 932 (CodePage932 runs in a Japanese prefix, see
// code_page_932.sh): 0x5C after a lead byte is no backslash.
TEST(CodePage932, StripLastPathComponentStepsOverTrailBytes) {
  ASSERT_EQ(932u, GetACP());
  EXPECT_EQ("C:\\\x83\x43\x83\x93", Strip("C:\\\x83\x43\x83\x93\\\x83\x5c\x83t\x83g.exe"));
  EXPECT_EQ("C:\\\x91\xe3\x95\x5c", Strip("C:\\\x91\xe3\x95\x5c\\\x94\x5c.exe"));
  EXPECT_EQ("", Strip("\x83\x5c.exe"));
}

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::FreshTestFolder("unit");
    ASSERT_FALSE(dir_.empty());
  }
  std::string dir_;
};

TEST_F(FilesTest, FileExistsCountsADirectoryAsMissing) {
  EXPECT_EQ(0, FileExists(NULL));
  EXPECT_EQ(0, FileExists((dir_ + "\\none").c_str()));
  EXPECT_EQ(0, FileExists(dir_.c_str()));
  ASSERT_TRUE(test::WriteFileBytes(dir_ + "\\file", "x"));
  EXPECT_EQ(1, FileExists((dir_ + "\\file").c_str()));
}

TEST(IsInstallFile, UpperCasesInPlaceAndFindsInstallAnywhere) {
  char a[] = "install.scr", b[] = "UNINSTALL.LOG", c[] = "setup.exe", d[] = "Instal.exe";
  EXPECT_EQ(1, IsInstallFile(a));
  EXPECT_STREQ("INSTALL.SCR", a);
  EXPECT_EQ(1, IsInstallFile(b));
  EXPECT_EQ(0, IsInstallFile(c));
  EXPECT_STREQ("SETUP.EXE", c);
  EXPECT_EQ(0, IsInstallFile(d));
}

std::string g_names;
int RecordName(char* name) {
  g_names += std::string(name) + "|";
  return IsInstallFile(name);
}

TEST_F(FilesTest, DeleteMatchingFilesDeletesOneLevelOfMatchingFiles) {
  for (const char* name : {"install.scr", "Keep.txt", "UnInstall.log", "install-long-name.data"}) {
    ASSERT_TRUE(test::WriteFileBytes(dir_ + "\\" + name, "x"));
  }
  ASSERT_TRUE(test::MakeDirectories(dir_ + "\\INSTALL.DIR"));
  ASSERT_TRUE(test::WriteFileBytes(dir_ + "\\INSTALL.DIR\\INSTALL.EXE", "x"));
  g_names.clear();
  DeleteMatchingFiles(dir_.c_str(), RecordName);
  EXPECT_FALSE(test::Exists(dir_ + "\\install.scr"));
  EXPECT_FALSE(test::Exists(dir_ + "\\UnInstall.log"));
  EXPECT_FALSE(test::Exists(dir_ + "\\install-long-name.data"));
  EXPECT_TRUE(test::Exists(dir_ + "\\Keep.txt"));
  EXPECT_TRUE(test::Exists(dir_ + "\\INSTALL.DIR\\INSTALL.EXE"));
  // Long names reach the predicate; directories (and . and ..) do not.
  EXPECT_NE(std::string::npos, g_names.find("install-long-name.data|"));
  EXPECT_EQ(std::string::npos, g_names.find("INSTALL.DIR"));
  EXPECT_EQ(std::string::npos, g_names.find(".|"));
}

// Names that the code page writes only by best fit (full-width dots and
// backslashes: ..\INSTALL\..\victim.txt) or not at all (Ж): the files of the
// folder are deleted by their own names, the file that the best-fit name
// would reach outside the folder stays, and names without INSTALL stay.
TEST_F(FilesTest, DeleteMatchingFilesDeletesByTheNamesTheFileSystemGives) {
  std::wstring dir = test::Widen(dir_);
  std::string victim = dir_ + "\\..\\victim.txt";
  ASSERT_TRUE(test::WriteFileBytes(victim, "outside"));
  for (const wchar_t* name : {L"\uFF0E\uFF0E\uFF3CINSTALL\uFF3C\uFF0E\uFF0E\uFF3Cvictim.txt",
                              L"INSTALL-\u0416.log", L"\uFF29NSTALL-\u0416.keep", L"install.scr"}) {
    HANDLE file = CreateFileW((dir + L"\\" + name).c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << test::Utf8(name);
    CloseHandle(file);
  }
  g_names.clear();
  EXPECT_EQ(0u, DeleteMatchingFiles(dir_.c_str(), RecordName));
  EXPECT_EQ("outside", test::ReadFileBytes(victim));
  DeleteFileA(victim.c_str());
  // Only the name whose I is full-width (no INSTALL in it) is left.
  EXPECT_EQ(test::Utf8(L"\uFF29NSTALL-\u0416.keep"), test::FolderNames(dir_));
  // The predicate saw '?' for what code page 1252 lacks, never a best fit.
  EXPECT_NE(std::string::npos,
            g_names.find(std::string(3, '?') + "INSTALL" + std::string(4, '?') + "victim.txt|"));
  EXPECT_NE(std::string::npos, g_names.find("INSTALL-?.log|")) << g_names;
}

TEST_F(FilesTest, DeleteMatchingFilesIgnoresMissingArguments) {
  ASSERT_TRUE(test::WriteFileBytes(dir_ + "\\INSTALL.EXE", "x"));
  DeleteMatchingFiles(NULL, IsInstallFile);
  DeleteMatchingFiles("", IsInstallFile);
  DeleteMatchingFiles(dir_.c_str(), NULL);
  EXPECT_TRUE(test::Exists(dir_ + "\\INSTALL.EXE"));
}

// What the clean-up still cannot delete after its retries (a script held
// without sharing, a file whose name code page 1252 lacks a letter of), and
// then the folder, is left to the next start of Windows under the names the
// file system gives them; other files and subdirectories are never named
// for it.
TEST_F(FilesTest, CleanUpAfterInstallerLeavesFilesInUseToTheRestart) {
  for (const char* name : {"INSTALL.SCR", "INSTALL.EXE", "keep.txt"})
    test::WriteFileBytes(dir_ + "\\" + name, "x");
  test::MakeDirectories(dir_ + "\\INSTALL.SUB");
  HANDLE held = CreateFileA((dir_ + "\\INSTALL.SCR").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  std::wstring wideHeld = test::Widen(dir_) + L"\\INSTALL-\u0416.log";
  HANDLE heldWide = CreateFileW(wideHeld.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
  HKEY key;
  ASSERT_EQ(0, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0,
                             KEY_ALL_ACCESS, &key));
  RegDeleteValueA(key, "PendingFileRenameOperations");
  CleanUpAfterInstaller(dir_.c_str(), 1);
  CloseHandle(held);
  CloseHandle(heldWide);
  wchar_t pending[4096] = {0};
  DWORD size = sizeof(pending) - 4;
  RegQueryValueExW(key, L"PendingFileRenameOperations", NULL, NULL, (BYTE*)pending, &size);
  RegDeleteValueA(key, "PendingFileRenameOperations");
  RegCloseKey(key);
  std::vector<std::string> sources;  // pairs of source and empty destination
  for (const wchar_t* at = pending; *at != L'\0'; at += wcslen(at) + 2) sources.push_back(test::Utf8(at));
  ASSERT_EQ(3u, sources.size());
  std::sort(sources.begin(), sources.begin() + 2);  // the files in the order found, the folder last
  EXPECT_EQ("\\??\\" + dir_ + "\\INSTALL-" + test::Utf8(L"\u0416") + ".log", sources[0]);
  EXPECT_EQ("\\??\\" + dir_ + "\\INSTALL.SCR", sources[1]);
  EXPECT_EQ("\\??\\" + dir_, sources[2]);
  EXPECT_FALSE(test::Exists(dir_ + "\\INSTALL.EXE"));
}

// A code page 932 style test: 0x81-0x9F and 0xE0-0xFC lead a pair.
int Cp932Lead(unsigned char byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

TEST(CommandTail, SkipsTheProgramNameAndTheBlanksAfterIt) {
  EXPECT_STREQ("/Q /X", CommandTail("\"C:\\My Setup\\setup.exe\" /Q /X", NULL));
  EXPECT_STREQ("/Q /X", CommandTail("\"C:\\My Setup\\setup.exe\"/Q /X", NULL));
  EXPECT_STREQ("/Q", CommandTail("C:\\SETUP\\setup.exe /Q", NULL));
  EXPECT_STREQ("", CommandTail("setup.exe", NULL));
  EXPECT_STREQ("", CommandTail("\"setup.exe\"", NULL));
  EXPECT_STREQ("", CommandTail("\"C:\\unterminated", NULL));
  EXPECT_STREQ("/Q  x", CommandTail("setup.exe \t\x01\x1f /Q  x", NULL));
  EXPECT_STREQ("/Q", CommandTail("setup.exe\t/Q", NULL));
  EXPECT_STREQ("", CommandTail("", NULL));
}

TEST(CommandTail, ALeadByteInAQuotedNameTakesTheNextByteAlong) {
  const char* line = "\"C:\\\x81\"dir\\setup.exe\" /Q";
  EXPECT_STREQ("/Q", CommandTail(line, Cp932Lead));
  EXPECT_STREQ("dir\\setup.exe\" /Q", CommandTail(line, NULL));
  // A lead byte at the very end does not run past the terminator.
  EXPECT_STREQ("", CommandTail("\"abc\x81", Cp932Lead));
}

TEST(CommandTail, OfThisProcessIsASuffixOfItsCommandLine) {
  std::string line = GetCommandLineA();
  std::string tail = ProcessCommandTail();
  ASSERT_LE(tail.size(), line.size());
  EXPECT_EQ(line.substr(line.size() - tail.size()), tail);
  EXPECT_TRUE(tail.empty() || (unsigned char)tail[0] > ' ');
}

// The name is found on the wide line; the tail keeps the narrow line's
// bytes, best fit and all (code page 1252, this prefix's).
TEST(NarrowCommandTail, FindsTheNameOnTheWideLineAndKeepsTheNarrowBytes) {
  const wchar_t* wide = L"\"C:\\a\uff02 b\\setup.exe\" \t/X \u0141\uff02";
  char narrow[64];  // "C:\a" b\setup.exe" \t/X L"
  ASSERT_GT(WideCharToMultiByte(1252, 0, wide, -1, narrow, sizeof(narrow), NULL, NULL), 0);
  EXPECT_STREQ("/X L\"", NarrowCommandTail(wide, narrow));
  // No wide line, or an empty one: the narrow line read as it is.
  EXPECT_STREQ("b\\setup.exe\" /Q", NarrowCommandTail(NULL, "\"C:\\a\" b\\setup.exe\" /Q"));
  EXPECT_STREQ("/Q", NarrowCommandTail(L"", "setup.exe /Q"));
}

TEST(InstallerArguments, QuoteTheSourceDirectoryAndAppendTheTail) {
  char buffer[ArgumentsBufferSize];
  EXPECT_EQ(1, BuildInstallerArguments(buffer, sizeof(buffer), "D:\\SETUP", ""));
  EXPECT_STREQ("\"D:\\SETUP\"", buffer);
  EXPECT_EQ(1, BuildInstallerArguments(buffer, sizeof(buffer), "D:", NULL));
  EXPECT_STREQ("\"D:\"", buffer);
  EXPECT_EQ(1, BuildInstallerArguments(buffer, sizeof(buffer), "D:\\My Setup", "/Q /X"));
  EXPECT_STREQ("\"D:\\My Setup\" /Q /X", buffer);
  EXPECT_EQ(0, BuildInstallerArguments(buffer, 8, "D:\\SETUP", "/Q"));
}

TEST(InstallerCommand, IsQuotedOnlyWhenThePathHoldsABlank) {
  char buffer[CommandBufferSize];
  EXPECT_EQ(1, BuildInstallerCommand(buffer, sizeof(buffer), "C:\\WINDOWS\\ZIMRO~SE.TUP\\INSTALL.EXE",
                                     "\"D:\" /Q"));
  EXPECT_STREQ("C:\\WINDOWS\\ZIMRO~SE.TUP\\INSTALL.EXE \"D:\" /Q", buffer);
  EXPECT_EQ(1, BuildInstallerCommand(buffer, sizeof(buffer), "C:\\MY WINDOWS\\ZIMRO~SE.TUP\\INSTALL.EXE",
                                     "\"D:\""));
  EXPECT_STREQ("\"C:\\MY WINDOWS\\ZIMRO~SE.TUP\\INSTALL.EXE\" \"D:\"", buffer);
  EXPECT_EQ(0, BuildInstallerCommand(buffer, 10, "C:\\INSTALL.EXE", "\"D:\""));
}

// ShowMessage shows a real box; a second thread finds it, reads it and presses OK.
struct Shown {
  int result;
  std::vector<test::MessageBoxSeen> boxes;
};
Shown Show(const char* text, UINT textId, UINT captionId) {
  LauncherInstance = GetModuleHandleA(NULL);
  Shown shown;
  // The watcher answers the box, or stops when ShowMessage returned without one.
  std::atomic<bool> returned(false);
  std::thread watcher([&] {
    shown.boxes = test::AnswerBoxesUntil(
        GetCurrentProcessId(), [&] { return returned.load(); }, 1);
  });
  shown.result = ShowMessage(NULL, text, textId, captionId, MB_ICONHAND);
  returned = true;
  watcher.join();
  return shown;
}

TEST(ShowMessage, FormatsTheStringWithTheText) {
  Shown shown = Show("D:\\INSTALL.SC_", IDS_FILE_NOT_FOUND, IDS_SETUP_CAPTION);
  EXPECT_EQ(IDOK, shown.result);
  ASSERT_EQ(1u, shown.boxes.size());
  EXPECT_EQ("Setup", shown.boxes[0].caption);
  EXPECT_EQ("File D:\\INSTALL.SC_ is not found. Further installation not possible.", shown.boxes[0].text);
}

TEST(ShowMessage, ShowsTheTextAloneOrTheStringAlone) {
  Shown shown = Show("plain text", 0, IDS_SETUP_CAPTION);
  ASSERT_EQ(1u, shown.boxes.size());
  EXPECT_EQ("plain text", shown.boxes[0].text);
  shown = Show(NULL, IDS_FILE_ERROR, IDS_SETUP_CAPTION);
  ASSERT_EQ(1u, shown.boxes.size());
  EXPECT_EQ("Error in %s file. Further installation not possible.", shown.boxes[0].text);
}

TEST(ShowMessage, ShowsNothingWithoutTextOrId) {
  LauncherInstance = GetModuleHandleA(NULL);
  EXPECT_EQ(0, ShowMessage(NULL, NULL, 0, IDS_SETUP_CAPTION, MB_ICONHAND));
}

}  // namespace

// ---------------------------------------------------------------- the please-wait dialog
// Created from this program's own copy of the resources (setup.rc), the way
// the launcher creates it: modeless, no owner, parameter 0.

#include "subclass_registry.h"

namespace {

HWND CreatePleaseWait() {
  LauncherInstance = GetModuleHandleA(NULL);
  return CreateDialogParamA(LauncherInstance, MAKEINTRESOURCEA(IDD_PLEASE_WAIT), NULL, PleaseWaitDialogProc,
                            0);
}

std::string TextOf(HWND window) {
  char text[256] = {0};
  GetWindowTextA(window, text, sizeof(text));
  return text;
}

}  // namespace

TEST(PleaseWaitDialog, IsTitledFromTheStringTableAndCentredInTheWorkArea) {
  PleaseWaitTitle[0] = '\0';
  HWND dialog = CreatePleaseWait();
  ASSERT_NE((HWND)NULL, dialog);
  EXPECT_STREQ("Setup", PleaseWaitTitle);
  EXPECT_EQ("Setup", TextOf(dialog));
  EXPECT_TRUE(IsWindowVisible(dialog));
  EXPECT_EQ((HWND)NULL, GetWindow(dialog, GW_OWNER));

  RECT work, placed;
  ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
  ASSERT_TRUE(GetWindowRect(dialog, &placed));
  EXPECT_EQ(work.left + MulDiv((work.right - work.left) - (placed.right - placed.left), 50, 100),
            placed.left);
  EXPECT_EQ(work.top + MulDiv((work.bottom - work.top) - (placed.bottom - placed.top), 50, 100), placed.top);

  HWND text = GetWindow(dialog, GW_CHILD);
  ASSERT_NE((HWND)NULL, text);
  EXPECT_EQ("Setup is initializing, please wait...", TextOf(text));
  EXPECT_EQ((HWND)NULL, GetWindow(text, GW_HWNDNEXT));
  DestroyWindow(dialog);
}

TEST(PleaseWaitDialog, OnlyTheDialogIsSubclassedAndDestroyingItEndsTheSubclass) {
  ASSERT_FALSE(IsTabKeyHookInstalled());
  HWND dialog = CreatePleaseWait();
  ASSERT_NE((HWND)NULL, dialog);
  HWND text = GetWindow(dialog, GW_CHILD);
  EXPECT_GE(SubclassSlotOfWindow(dialog), 0);
  EXPECT_EQ(-1, SubclassSlotOfWindow(text));  // SS_CENTER does not qualify
  EXPECT_TRUE(IsTabKeyHookInstalled());
  DestroyWindow(dialog);
  EXPECT_EQ(-1, SubclassSlotOfWindow(dialog));
  EXPECT_FALSE(IsTabKeyHookInstalled());
}

TEST(PleaseWaitDialog, HandlesNoCommand) {
  HWND dialog = CreatePleaseWait();
  ASSERT_NE((HWND)NULL, dialog);
  // The procedure answers 0 to every message, WM_INITDIALOG included (so the
  // system does not move the focus; a second one only centres again).
  EXPECT_EQ(0, PleaseWaitDialogProc(dialog, WM_INITDIALOG, 0, 0));
  EXPECT_EQ(0, PleaseWaitDialogProc(dialog, WM_COMMAND, IDCANCEL, 0));
  EXPECT_EQ(0, PleaseWaitDialogProc(dialog, WM_CLOSE, 0, 0));
  EXPECT_EQ(0, PleaseWaitDialogProc(dialog, WM_SYSCOMMAND, SC_CLOSE, 0));
  // Through the window manager: close, Esc and Cancel leave it open.
  SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  SendMessageA(dialog, WM_CLOSE, 0, 0);
  SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  MSG escape = {dialog, WM_KEYDOWN, VK_ESCAPE, 0x00010001, 0, {0, 0}};
  IsDialogMessageA(dialog, &escape);
  MSG message;
  while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
    if (!IsDialogMessageA(dialog, &message)) DispatchMessageA(&message);
  }
  EXPECT_TRUE(IsWindow(dialog));
  EXPECT_TRUE(IsWindowVisible(dialog));
  DestroyWindow(dialog);
}

TEST(PleaseWaitDialog, TitleBufferHolds256Bytes) { EXPECT_EQ(256u, sizeof(PleaseWaitTitle)); }
