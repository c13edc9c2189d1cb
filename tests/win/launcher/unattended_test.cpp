// setup.exe as deployment tools run it, under Wine: its settings filled in
// (as setuppack media --exit-code --silent-switch writes them), exit codes
// of the stand-in and of a real NSIS installer, an installer that hands its
// work to a copy in %TEMP%, silent runs, a launcher inside a job that
// forbids breakaway, the please-wait dialog while a download is checked, and
// entries of the temporary folder that stand in the way.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "test_support.h"

using test::Data;
using test::ReadFileBytes;
using test::WinPath;

namespace {

const std::vector<std::string> kSwitches = {"/S", "/VERYSILENT"};

class UnattendedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = test::FreshTestFolder("unattended");
    ASSERT_FALSE(base_.empty());
    test::RemoveTree(test::TempSetupDir());
    DeleteFileA(test::FailureLog().c_str());
    Report("report", "signal");
  }
  void TearDown() override {
    for (const char* name : {"STANDIN_REPORT", "STANDIN_MODE", "STANDIN_DELAY_MS", "STANDIN_EXIT"})
      SetEnvironmentVariableA(name, NULL);
  }

  void Report(const std::string& name, const char* mode, const char* exitCode = NULL,
              const char* delayMs = NULL) {
    report_ = base_ + "\\" + name;
    test::MakeDirectories(report_);
    SetEnvironmentVariableA("STANDIN_REPORT", report_.c_str());
    SetEnvironmentVariableA("STANDIN_MODE", mode);
    SetEnvironmentVariableA("STANDIN_EXIT", exitCode);
    SetEnvironmentVariableA("STANDIN_DELAY_MS", delayMs);
  }

  // A media folder whose setup.exe has exit codes (or not) and the silent
  // switches /S and /VERYSILENT.
  std::string Media(const std::string& name, bool exitCodes, const char* script = "sample.SC_",
                    const char* installer = "standin.EX_") {
    std::string dir = base_ + "\\" + name;
    EXPECT_TRUE(test::MakeDirectories(dir));
    std::string setup = test::WithSettings(ReadFileBytes(WinPath(TEST_SETUP_EXE)), exitCodes, kSwitches);
    EXPECT_FALSE(setup.empty());
    EXPECT_TRUE(test::WriteFileBytes(dir + "\\setup.exe", setup));
    if (script) {
      EXPECT_TRUE(CopyFileA(Data(script).c_str(), (dir + "\\INSTALL.SC_").c_str(), FALSE));
    }
    if (installer) {
      EXPECT_TRUE(CopyFileA(Data(installer).c_str(), (dir + "\\INSTALL.EX_").c_str(), FALSE));
    }
    return dir;
  }

  test::SetupRun Run(const std::string& program, const std::string& tail = "") {
    return test::RunProgram(program, "\"" + program + "\"" + tail, 120);
  }

  std::string Log() { return ReadFileBytes(test::FailureLog()); }

  std::string base_, report_;
};

// The installer's exit code is setup.exe's only when its settings ask for
// it; without them setup.exe returns 0 as before. An installer that ends
// without the signal (as a console installer would) gives its code too.
TEST_F(UnattendedTest, InstallerExitCodesPassThroughWhenAsked) {
  const struct {
    const char* mode;
    const char* code;
    bool exitCodes;
    DWORD expected;
  } cases[] = {{"signal", "3", true, 3},  {"signal", "3010", true, 3010}, {"never", "7", true, 7},
               {"signal", "3", false, 0}, {"signal", "3010", false, 0},   {"linger", "1641", true, 1641}};
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + " " + c.code + (c.exitCodes ? " with" : " without") + " exit codes");
    std::string name = "codes" + std::to_string(index++);
    Report(name + "-report", c.mode, c.code, "1500");
    test::SetupRun run = Run(Media(name, c.exitCodes) + "\\setup.exe", " /S");
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(c.expected, run.exitCode);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_FALSE(test::ReadReport(report_).empty()) << "the installer did not run";
    EXPECT_FALSE(test::Exists(test::TempSetupDir()));
  }
}

// A real installer built with makensis that sets its error level to 3.
TEST_F(UnattendedTest, NsisInstallersErrorLevel) {
  for (bool exitCodes : {true, false}) {
    std::string media = Media(exitCodes ? "nsis-codes" : "nsis", exitCodes, "nsis.SC_", "nsis.EX_");
    test::SetupRun run = Run(media + "\\setup.exe", " /S");
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(exitCodes ? 3u : 0u, run.exitCode);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_FALSE(test::Exists(test::TempSetupDir()));
  }
}

// An installer that copies itself to %TEMP%, starts the copy and ends at
// once with code 5: setup.exe waits for the copy, which still finds the
// script 3 s later and signals, and returns the first installer's code.
TEST_F(UnattendedTest, InstallerThatHandsItsWorkToACopyInTemp) {
  Report("report", "handoff", "5", "3000");
  test::SetupRun run = Run(Media("handoff", true) + "\\setup.exe");
  SetEnvironmentVariableA("STANDIN_HOME", NULL);
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(5u, run.exitCode);
  auto report = test::ReadReport(report_);  // written by the copy before it signalled
  EXPECT_NE(std::string::npos, report["exe"].find("standin-handoff.exe"));
  EXPECT_EQ("1", report["scr_at_signal"]);
  EXPECT_EQ("1", report["signalled"]);
  EXPECT_TRUE(ReadFileBytes(report_ + "\\INSTALL.SCR.at_signal") == ReadFileBytes(Data("script.bin")));
  EXPECT_FALSE(test::Exists(test::TempSetupDir()));
}

// setup.exe started inside a job that lets no process leave it: the
// installation still runs and its code comes back.
TEST_F(UnattendedTest, LauncherInsideAJobThatForbidsBreakaway) {
  Report("report", "late", "3010", "1000");
  std::string program = Media("in-job", true) + "\\setup.exe";
  HANDLE job = CreateJobObjectA(NULL, NULL);
  ASSERT_NE((HANDLE)NULL, job);
  test::Started started;
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  std::string line = "\"" + program + "\"";
  started.startTicks = GetTickCount();
  started.ok = CreateProcessA(program.c_str(), &line[0], NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, NULL,
                              &startup, &started.process) != 0;
  ASSERT_TRUE(started.ok);
  EXPECT_TRUE(AssignProcessToJobObject(job, started.process.hProcess));
  ResumeThread(started.process.hThread);
  test::SetupRun run = test::Finish(started, 120);
  CloseHandle(job);
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(3010u, run.exitCode);
  EXPECT_EQ("1", test::ReadReport(report_)["signalled"]);
  EXPECT_FALSE(test::Exists(test::TempSetupDir()));
}

// Silent runs: a switch of the settings among the arguments (in any letter
// case) shows no window and no box; a failure is logged with its code and
// reason. Without the switch the same failure is a message box.
TEST_F(UnattendedTest, SilentRunsShowNothingAndLogTheirFailures) {
  // Installs: no dialog when the installer starts, the tail passed whole.
  std::string media = Media("silent", true);
  test::SetupRun run = Run(media + "\\setup.exe", " /verysilent /D=x");
  EXPECT_EQ(0u, run.exitCode);
  EXPECT_FALSE(run.dialogSeen);
  auto report = test::ReadReport(report_);
  EXPECT_EQ("0", report["setup_dialog_at_start"]);
  EXPECT_EQ(test::TempSetupDir() + "\\INSTALL.EXE \"" + media + "\" /verysilent /D=x", report["cmdline"]);
  // A word that only begins with a switch is no switch.
  Report("report-not-silent", "signal");
  Run(media + "\\setup.exe", " /Sx");
  EXPECT_EQ("1", test::ReadReport(report_)["setup_dialog_at_start"]);

  // A missing pack file: 2.
  std::string missing = Media("missing", true, "sample.SC_", NULL);
  run = Run(missing + "\\setup.exe", " /s");
  EXPECT_EQ(2u, run.exitCode);
  EXPECT_FALSE(run.dialogSeen);
  EXPECT_NE(std::string::npos,
            Log().find(" setup.exe exit code 2: File " + missing + "\\INSTALL.EX_ is not found."));

  // A download cut short: 1603, silent and not.
  std::string folder = base_ + "\\download";
  ASSERT_TRUE(test::MakeDirectories(folder));
  std::string program = folder + "\\product-setup.exe";
  std::string single = test::WithSettings(ReadFileBytes(Data("single.exe")), true, kSwitches);
  ASSERT_TRUE(test::WriteFileBytes(program, single.substr(0, single.size() - 1000)));
  std::string damaged = "The download " + program + " is incomplete or damaged.";
  run = Run(program, " /S");
  EXPECT_EQ(1603u, run.exitCode);
  EXPECT_FALSE(run.dialogSeen);
  std::string log = Log();
  EXPECT_NE(std::string::npos, log.find(" setup.exe exit code 1603: " + damaged)) << log;
  // Each line begins with the local time, yyyy-mm-dd hh:mm:ss.
  ASSERT_GT(log.size(), 20u);
  EXPECT_EQ("-- ::",
            log.substr(4, 1) + log.substr(7, 1) + log.substr(10, 1) + log.substr(13, 1) + log.substr(16, 1));
  run = Run(program);
  EXPECT_EQ(1603u, run.exitCode);
  ASSERT_EQ(1u, run.boxes.size());
  EXPECT_EQ(0u, run.boxes[0].text.find(damaged));

  // A second launcher while the first one's installer runs: 1618.
  std::string firstReport = base_ + "\\report-first";
  Report("report-first", "wait");
  test::Started first = test::StartProgram(media + "\\setup.exe", "\"" + media + "\\setup.exe\" /S");
  for (int i = 0; i < 400 && !test::Exists(firstReport + "\\holding.txt"); ++i) Sleep(50);
  ASSERT_TRUE(test::Exists(firstReport + "\\holding.txt"));
  Report("report-second", "signal");
  run = Run(Media("second", true) + "\\setup.exe", " /S");
  HANDLE release = CreateEventA(NULL, TRUE, FALSE, "StandInRelease");
  SetEvent(release);
  EXPECT_TRUE(test::Finish(first, 120).finished);
  CloseHandle(release);
  EXPECT_EQ(1618u, run.exitCode);
  EXPECT_FALSE(run.dialogSeen);
  EXPECT_TRUE(test::ReadReport(report_).empty()) << "the second installer ran";
  EXPECT_NE(std::string::npos, Log().find(" setup.exe exit code 1618: Setup is already running."));
}

// A folder in TempSetupDir named as a file the launcher writes: message 3
// names that entry, not the media, and the code is 1603.
TEST_F(UnattendedTest, EntryOfTheFolderInTheWayIsNamed) {
  for (const char* name : {"INSTALL.EXE.TMP", "INSTALL.SCR", "INSTALL.EXE"}) {
    SCOPED_TRACE(name);
    std::string entry = test::TempSetupDir() + "\\" + name;
    ASSERT_TRUE(test::MakeDirectories(entry));
    test::SetupRun run = Run(Media(std::string("in-the-way-") + name, true) + "\\setup.exe");
    test::RemoveTree(test::TempSetupDir());
    EXPECT_EQ(1603u, run.exitCode);
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_EQ("Error in " + entry + " file. Further installation not possible.", run.boxes[0].text);
  }
}

// The please-wait dialog of a program that carries its pack files is up
// while the program checks them (here 16 or 64 MB that the seal claims for
// the installer, of which all but the real bytes are zero: the check fails),
// and gone when the message box says so; a silent run shows neither.
TEST_F(UnattendedTest, PleaseWaitShowsWhileADownloadIsChecked) {
  std::string program = base_ + "\\large-setup.exe";
  std::string single = test::WithSettings(ReadFileBytes(Data("single.exe")), false, kSwitches);
  size_t seal = single.find(std::string("SETSEAL\x1A", 8));
  ASSERT_NE(std::string::npos, seal);
  uint32_t claimed = sizeof(void*) == 8 ? 64u << 20 : 16u << 20;
  uint32_t installerAt = *reinterpret_cast<const uint32_t*>(&single[seal + 68]);
  single.replace(seal + 76, 4, reinterpret_cast<const char*>(&claimed), 4);
  ASSERT_TRUE(test::WriteFileBytes(program, single));
  HANDLE file = CreateFileA(program.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  LARGE_INTEGER end;
  end.QuadPart = (LONGLONG)installerAt + claimed;
  ASSERT_TRUE(SetFilePointerEx(file, end, NULL, FILE_BEGIN) && SetEndOfFile(file));
  CloseHandle(file);

  for (bool silent : {false, true}) {
    SCOPED_TRACE(silent ? "silent" : "not silent");
    std::string line = "\"" + program + "\"" + (silent ? " /S" : "");
    test::Started started = test::StartProgram(program, line);
    ASSERT_TRUE(started.ok);
    // Every top-level dialog of the process, looked at without pause until
    // the box appears or the process ends.
    bool pleaseWaitSeen = false, pleaseWaitAtBox = false, box = false;
    while (!box && WaitForSingleObject(started.process.hProcess, 0) == WAIT_TIMEOUT) {
      bool boxNow = false, pleaseWaitNow = false;
      for (HWND window = GetTopWindow(NULL); window != NULL; window = GetWindow(window, GW_HWNDNEXT)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        char className[16];
        if (owner != started.process.dwProcessId || !IsWindowVisible(window) ||
            !GetClassNameA(window, className, sizeof(className)) || strcmp(className, "#32770") != 0) {
          continue;
        }
        (GetDlgItem(window, IDOK) != NULL ? boxNow : pleaseWaitNow) = true;
      }
      box = boxNow;
      pleaseWaitSeen = pleaseWaitSeen || pleaseWaitNow;
      pleaseWaitAtBox = boxNow && pleaseWaitNow;
    }
    test::SetupRun run = test::Finish(started, 120);
    EXPECT_EQ(silent ? 0u : 1u, run.boxes.size());
    EXPECT_EQ(!silent, pleaseWaitSeen);
    EXPECT_FALSE(pleaseWaitAtBox);
  }
  EXPECT_NE(std::string::npos, Log().find("exit code 0: The download " + program + " is incomplete"));
  DeleteFileA(program.c_str());
}

}  // namespace
