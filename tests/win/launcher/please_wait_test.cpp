// The please-wait dialog of the real setup.exe under Wine, watched from this
// process while setup.exe expands a large installer (several MB, the
// stand-in followed by padding): the dialog appears, is centred in the work
// area, is titled "Setup" and shows its line of text, answers sent messages
// promptly during the expansion, survives the close command and Esc sent
// through its message queue, and is gone when the installer runs. On the
// path where an expansion fails it is gone before the message box appears.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "test_support.h"

using test::ReadFileBytes;
using test::WinPath;

namespace {

using test::Data;

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return (to.QuadPart - from.QuadPart) * 1000.0 / frequency.QuadPart;
}

struct ProcessWindows {
  DWORD processId;
  std::vector<HWND> dialogs;  // visible top-level windows of class #32770
};

BOOL CALLBACK CollectDialogs(HWND window, LPARAM lParam) {
  ProcessWindows* search = reinterpret_cast<ProcessWindows*>(lParam);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char className[64];
  if (owner == search->processId && IsWindowVisible(window) &&
      GetClassNameA(window, className, sizeof(className)) && strcmp(className, "#32770") == 0) {
    search->dialogs.push_back(window);
  }
  return TRUE;
}

std::vector<HWND> DialogsOf(DWORD processId) {
  ProcessWindows search{processId, {}};
  EnumWindows(CollectDialogs, reinterpret_cast<LPARAM>(&search));
  return search.dialogs;
}

// The please-wait dialog is the process's dialog without an OK button (a
// message box always has one).
HWND PleaseWaitOf(DWORD processId) {
  for (HWND dialog : DialogsOf(processId)) {
    if (GetDlgItem(dialog, IDOK) == NULL) return dialog;
  }
  return NULL;
}

HWND MessageBoxOf(DWORD processId) {
  for (HWND dialog : DialogsOf(processId)) {
    if (GetDlgItem(dialog, IDOK) != NULL) return dialog;
  }
  return NULL;
}

std::string TextOf(HWND window) {
  char text[512] = {0};
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                           5000, &length)) {
    return "<no answer>";
  }
  return text;
}

long long FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Whether two files hold the same bytes, read a piece at a time: the large
// installer does not fit twice into a 32-bit test's memory.
bool SameFileBytes(const std::string& a, const std::string& b) {
  HANDLE files[2] = {CreateFileA(a.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL),
                     CreateFileA(b.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL)};
  bool same = files[0] != INVALID_HANDLE_VALUE && files[1] != INVALID_HANDLE_VALUE;
  static char pieces[2][1 << 16];
  while (same) {
    DWORD got[2] = {0, 0};
    for (int i = 0; i < 2; ++i) ReadFile(files[i], pieces[i], sizeof pieces[i], &got[i], NULL);
    same = got[0] == got[1] && memcmp(pieces[0], pieces[1], got[0]) == 0;
    if (got[0] == 0) break;
  }
  for (HANDLE file : files) {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  return same;
}

// Sends WM_NULL and waits for the answer; the time in milliseconds, or -1
// when no answer came within 5 s.
double AnswerTime(HWND dialog) {
  LARGE_INTEGER before, after;
  QueryPerformanceCounter(&before);
  DWORD_PTR result = 0;
  LRESULT answered = SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
  QueryPerformanceCounter(&after);
  return answered ? Milliseconds(before, after) : -1;
}

class PleaseWaitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = test::FreshTestFolder("please_wait");
    ASSERT_FALSE(base_.empty());
    test::RemoveTree(test::TempSetupDir());
    report_ = base_ + "\\report";
    ASSERT_TRUE(test::MakeDirectories(report_));
    SetEnvironmentVariableA("STANDIN_REPORT", report_.c_str());
    SetEnvironmentVariableA("STANDIN_MODE", "signal");
  }
  void TearDown() override {
    SetEnvironmentVariableA("STANDIN_REPORT", NULL);
    SetEnvironmentVariableA("STANDIN_MODE", NULL);
  }

  std::string Media(const std::string& installerBytes) {
    std::string media = base_ + "\\media";
    EXPECT_TRUE(test::MakeDirectories(media));
    EXPECT_TRUE(CopyFileA(WinPath(TEST_SETUP_EXE).c_str(), (media + "\\setup.exe").c_str(), FALSE));
    EXPECT_TRUE(CopyFileA(Data("bigsample.SC_").c_str(), (media + "\\INSTALL.SC_").c_str(), FALSE));
    EXPECT_TRUE(test::WriteFileBytes(media + "\\INSTALL.EX_", installerBytes));
    return media;
  }

  test::Started Start(const std::string& media) {
    std::string program = media + "\\setup.exe";
    return test::StartProgram(program, "\"" + program + "\"");
  }

  // Waits for the please-wait dialog of the process to appear.
  HWND WaitForDialog(const test::Started& started, double seconds) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < seconds * 1000) {
      HWND dialog = PleaseWaitOf(started.process.dwProcessId);
      if (dialog != NULL) return dialog;
      if (WaitForSingleObject(started.process.hProcess, 0) == WAIT_OBJECT_0) return NULL;
      Sleep(10);
    }
    return NULL;
  }

  bool InstallerRan() { return test::Exists(report_ + "\\report.txt"); }
  // The installer while it expands, under its temporary name.
  std::string Installer() { return test::TempSetupDir() + "\\INSTALL.EXE.TMP"; }

  std::string base_, report_;
};

// ---------------------------------------------------------------- while expanding

TEST_F(PleaseWaitTest, ShownCentredAndAnsweringWhileALargeInstallerExpands) {
  std::string bigInstaller = ReadFileBytes(Data("bigstandin.EX_"));
  long long expandedSize = FileSize(Data("bigstandin.exe"));  // not read whole: 24 MB in a 32-bit process
  ASSERT_GT(expandedSize, 4 * 1024 * 1024);
  std::string media = Media(bigInstaller);
  test::Started started = Start(media);
  ASSERT_TRUE(started.ok);

  HWND dialog = WaitForDialog(started, 60);
  ASSERT_NE((HWND)NULL, dialog) << "no please-wait dialog appeared";
  DWORD shownTicks = GetTickCount();
  EXPECT_FALSE(InstallerRan());

  // Title, text, styles.
  EXPECT_EQ("Setup", TextOf(dialog));
  LONG_PTR style = GetWindowLongPtrA(dialog, GWL_STYLE);
  const LONG_PTR expectedStyle = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  EXPECT_EQ(expectedStyle, style & expectedStyle) << std::hex << style;
  EXPECT_EQ(0, GetWindowLongPtrA(dialog, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  HWND text = FindWindowExA(dialog, NULL, "Static", NULL);
  ASSERT_NE((HWND)NULL, text);
  EXPECT_EQ("Setup is initializing, please wait...", TextOf(text));
  EXPECT_EQ(SS_CENTER, GetWindowLongPtrA(text, GWL_STYLE) & SS_TYPEMASK);
  EXPECT_EQ((HWND)NULL, FindWindowExA(dialog, text, NULL, NULL)) << "more than one control";
  EXPECT_EQ((HWND)NULL, GetWindow(dialog, GW_OWNER));

  // Centred in the work area: half the free space on each side, rounded as
  // MulDiv rounds.
  RECT work, placed;
  ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
  ASSERT_TRUE(GetWindowRect(dialog, &placed));
  int width = placed.right - placed.left, height = placed.bottom - placed.top;
  EXPECT_EQ(work.left + MulDiv((work.right - work.left) - width, 50, 100), placed.left);
  EXPECT_EQ(work.top + MulDiv((work.bottom - work.top) - height, 50, 100), placed.top);
  EXPECT_GT(width, 176);  // 176 dialog units are wider than 176 pixels
  EXPECT_GT(height, 93);

  // Sent messages are answered while the installer grows in TempSetupDir.
  std::vector<double> answers;
  int unanswered = 0;
  long long firstSize = -1, lastSize = -1;
  bool survivedClose = false, survivedEscape = false;
  long long sizeAtEscape = -1;
  // Answers counted when the close command and Esc were posted: the dialog
  // has drained its queue, posted messages included, by the time it answers
  // the second message sent after them. (Counted, not slept on: a fast
  // expansion would be over before a pause ends.)
  size_t closePostedAt = 0, escapePostedAt = 0;
  while (IsWindow(dialog) && !InstallerRan()) {
    long long size = FileSize(Installer());
    double ms = AnswerTime(dialog);
    long long sizeAfter = FileSize(Installer());
    if (!IsWindow(dialog)) break;  // destroyed while the message waited
    // Only answers given while the installer was being expanded count: once
    // it is whole, the launcher renames it, starts it and waits until it
    // waits for input.
    bool expanding = size >= 0 && sizeAfter >= 0 && sizeAfter < expandedSize;
    if (!expanding) {
      Sleep(10);
      continue;
    }
    if (ms < 0) {
      ++unanswered;
    } else {
      answers.push_back(ms);
      if (firstSize < 0) firstSize = size;
      lastSize = size;
    }
    bool visible = IsWindowVisible(dialog) != FALSE;
    if (closePostedAt != 0 && answers.size() == closePostedAt + 2) survivedClose = visible;
    if (escapePostedAt != 0 && answers.size() == escapePostedAt + 2) survivedEscape = visible;
    // Once answers are coming, the close command and Esc go through the
    // dialog's message queue (the launcher's PumpMessages and
    // IsDialogMessageA, as for a click on the close box or a key press); the
    // dialog must stay, and the expansion must go on.
    if (answers.size() == 3 && closePostedAt == 0) {
      PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
      PostMessageA(dialog, WM_CLOSE, 0, 0);
      closePostedAt = answers.size();
    }
    if (answers.size() == 6 && escapePostedAt == 0) {
      sizeAtEscape = FileSize(Installer());
      PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
      PostMessageA(dialog, WM_KEYUP, VK_ESCAPE, 0xC0010001);
      PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
      escapePostedAt = answers.size();
    }
    Sleep(10);
  }
  DWORD dialogSeconds = GetTickCount() - shownTicks;

  test::SetupRun run = test::Finish(started, 120);
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(0u, run.exitCode);
  EXPECT_EQ(0u, run.boxes.size()) << (run.boxes.empty() ? "" : run.boxes[0].text);

  ASSERT_GE(answers.size(), 10u) << "the expansion was over too soon to measure";
  std::vector<double> sorted = answers;
  std::sort(sorted.begin(), sorted.end());
  double median = sorted[sorted.size() / 2];
  double worst = sorted.back();
  printf(
      "please-wait dialog: shown %.1f s; %zu WM_NULL answered during the expansion "
      "(INSTALL.EXE.TMP at %lld..%lld of %lld bytes): median %.1f ms, worst %.1f ms; %d unanswered\n",
      dialogSeconds / 1000.0, answers.size(), firstSize, lastSize, expandedSize, median, worst, unanswered);
  EXPECT_EQ(0, unanswered);
  EXPECT_LT(worst, 1000.0);
  EXPECT_LT(median, 250.0);
  EXPECT_LT(firstSize, lastSize) << "the answers did not come while the file grew";
  EXPECT_TRUE(survivedClose);
  EXPECT_TRUE(survivedEscape);
  EXPECT_LT(sizeAtEscape, lastSize) << "the expansion did not go on after Esc";

  // Gone when the installer runs, and the installer complete.
  EXPECT_FALSE(IsWindow(dialog));
  auto report = test::ReadReport(report_);
  EXPECT_EQ("1", report["signalled"]);
  long goneMs = atol(report["setup_dialog_gone_ms"].c_str());
  EXPECT_GE(goneMs, 0) << "the dialog stayed while the installer ran";
  EXPECT_LT(goneMs, 5000);
  EXPECT_TRUE(SameFileBytes(report_ + "\\INSTALL.EXE.copy", Data("bigstandin.exe")));
  EXPECT_FALSE(test::Exists(test::TempSetupDir()));
}

// ---------------------------------------------------------------- a failed expansion

TEST_F(PleaseWaitTest, GoneBeforeTheMessageOfAFailedExpansion) {
  std::string bigInstaller = ReadFileBytes(Data("bigstandin.EX_"));
  // Cut in the middle of a record: the expansion fails after a while.
  std::string media = Media(bigInstaller.substr(0, bigInstaller.size() / 2 + 7));
  test::Started started = Start(media);
  ASSERT_TRUE(started.ok);
  DWORD processId = started.process.dwProcessId;
  HWND dialog = WaitForDialog(started, 60);
  ASSERT_NE((HWND)NULL, dialog);

  HWND box = NULL;
  HWND dialogBesideBox = NULL;
  DWORD start = GetTickCount();
  while (box == NULL && GetTickCount() - start < 60000) {
    box = MessageBoxOf(processId);
    if (box != NULL) dialogBesideBox = PleaseWaitOf(processId);
    Sleep(10);
  }
  ASSERT_NE((HWND)NULL, box) << "no message box";
  EXPECT_EQ((HWND)NULL, dialogBesideBox) << "the please-wait dialog is still there";
  EXPECT_FALSE(IsWindow(dialog));

  test::SetupRun run = test::Finish(started, 60);
  EXPECT_TRUE(run.finished);
  ASSERT_EQ(1u, run.boxes.size());
  EXPECT_EQ("Setup", run.boxes[0].caption);
  EXPECT_EQ("Error in " + media + "\\INSTALL.EX_ file. Further installation not possible.",
            run.boxes[0].text);
  EXPECT_FALSE(InstallerRan());
  EXPECT_FALSE(test::Exists(test::TempSetupDir()));
}

// ---------------------------------------------------------------- no dialog

// A setup.exe whose dialog template is renumbered (4001 -> 4002 in the
// resource directory) cannot create the dialog; everything else goes on.
TEST_F(PleaseWaitTest, WithoutItsDialogTheLauncherDoesEverythingElse) {
  std::string exe = ReadFileBytes(WinPath(TEST_SETUP_EXE));
  // The resource section's place in the file.
  ASSERT_GT(exe.size(), 0x400u);
  auto dword = [&exe](size_t at) {
    DWORD value;
    memcpy(&value, &exe[at], 4);
    return value;
  };
  size_t pe = dword(0x3C);
  size_t sections = static_cast<unsigned char>(exe[pe + 6]) | (static_cast<unsigned char>(exe[pe + 7]) << 8);
  size_t optionalSize =
      static_cast<unsigned char>(exe[pe + 20]) | (static_cast<unsigned char>(exe[pe + 21]) << 8);
  size_t rsrcStart = 0, rsrcEnd = 0;
  for (size_t i = 0; i < sections; ++i) {
    size_t header = pe + 24 + optionalSize + 40 * i;
    if (exe.compare(header, 6, ".rsrc\0", 6) == 0) {
      rsrcStart = dword(header + 20);
      rsrcEnd = rsrcStart + dword(header + 16);
    }
  }
  ASSERT_NE(0u, rsrcStart);
  // The directory entry: id 4001, then the offset of its subdirectory (high bit set).
  const std::string id("\xA1\x0F\x00\x00", 4);
  size_t entry = std::string::npos;
  for (size_t at = exe.find(id, rsrcStart); at != std::string::npos && at + 8 <= rsrcEnd;
       at = exe.find(id, at + 1)) {
    if (at % 4 == 0 && at + 8 <= exe.size() && (static_cast<unsigned char>(exe[at + 7]) & 0x80)) {
      ASSERT_EQ(std::string::npos, entry) << "two candidate entries";
      entry = at;
    }
  }
  ASSERT_NE(std::string::npos, entry);
  exe[entry] = '\xA2';

  std::string media = Media(ReadFileBytes(Data("standin.EX_")));
  ASSERT_TRUE(test::WriteFileBytes(media + "\\setup.exe", exe));
  test::Started started = Start(media);
  ASSERT_TRUE(started.ok);
  bool dialogSeen = false;
  DWORD start = GetTickCount();
  while (WaitForSingleObject(started.process.hProcess, 5) == WAIT_TIMEOUT && GetTickCount() - start < 60000) {
    if (PleaseWaitOf(started.process.dwProcessId) != NULL) dialogSeen = true;
    if (MessageBoxOf(started.process.dwProcessId) != NULL) break;
  }
  test::SetupRun run = test::Finish(started, 60);
  EXPECT_FALSE(dialogSeen);
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(0u, run.boxes.size()) << (run.boxes.empty() ? "" : run.boxes[0].text);
  auto report = test::ReadReport(report_);
  EXPECT_EQ("1", report["signalled"]);
  EXPECT_EQ("0", report["setup_dialog_at_start"]);
  EXPECT_TRUE(ReadFileBytes(report_ + "\\INSTALL.EXE.copy") == ReadFileBytes(Data("standin.exe")));
  EXPECT_FALSE(test::Exists(test::TempSetupDir()));
}

TEST_F(PleaseWaitTest, NotShownWhenAPackFileIsMissing) {
  std::string media = base_ + "\\missing";
  ASSERT_TRUE(test::MakeDirectories(media));
  ASSERT_TRUE(CopyFileA(WinPath(TEST_SETUP_EXE).c_str(), (media + "\\setup.exe").c_str(), FALSE));
  test::Started started = Start(media);
  ASSERT_TRUE(started.ok);
  DWORD processId = started.process.dwProcessId;
  HWND box = NULL;
  bool dialogSeen = false;
  DWORD start = GetTickCount();
  while (box == NULL && GetTickCount() - start < 60000) {
    if (PleaseWaitOf(processId) != NULL) dialogSeen = true;
    box = MessageBoxOf(processId);
    Sleep(5);
  }
  ASSERT_NE((HWND)NULL, box);
  EXPECT_FALSE(dialogSeen);
  test::SetupRun run = test::Finish(started, 60);
  ASSERT_EQ(1u, run.boxes.size());
  EXPECT_EQ("File " + media + "\\INSTALL.SC_ is not found. Further installation not possible." +
                test::ExtractAllHint,
            run.boxes[0].text);
}

}  // namespace
