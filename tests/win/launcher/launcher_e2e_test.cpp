// setup.exe end to end under Wine: media folders holding setup.exe,
// INSTALL.SC_ and INSTALL.EX_ (the stand-in installer packed by setuppack),
// message boxes found, read and answered for real.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "test_support.h"

using test::ReadFileBytes;
using test::WinPath;

namespace {

const char kEvent[] = "TalvenorFinishComplete";

using test::Data;

std::string Lower(std::string s) {
  for (char& c : s) c = (char)tolower((unsigned char)c);
  return s;
}

class LauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = test::FreshTestFolder("e2e");
    ASSERT_FALSE(base_.empty());
    test::RemoveTree(test::TempSetupDir());
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, kEvent);
    if (event) CloseHandle(event);
    ASSERT_EQ((HANDLE)NULL, event) << "a launcher of an earlier test still runs";
    Report("report", "signal");
  }
  void TearDown() override {
    SetEnvironmentVariableA("STANDIN_REPORT", NULL);
    SetEnvironmentVariableA("STANDIN_MODE", NULL);
    SetEnvironmentVariableA("STANDIN_DELAY_MS", NULL);
  }

  // Where the stand-in reports, and how it behaves.
  std::string Report(const std::string& name, const char* mode, const char* delayMs = NULL) {
    report_ = base_ + "\\" + name;
    test::MakeDirectories(report_);
    SetEnvironmentVariableA("STANDIN_REPORT", report_.c_str());
    SetEnvironmentVariableA("STANDIN_MODE", mode);
    SetEnvironmentVariableA("STANDIN_DELAY_MS", delayMs);
    return report_;
  }

  // A media folder with setup.exe and the two pack files (null: left out).
  std::string Media(const std::string& name, const char* script = "sample.SC_",
                    const char* installer = "standin.EX_", const char* setup = TEST_SETUP_EXE) {
    std::string dir = name.size() > 1 && name[1] == ':' ? name : base_ + "\\" + name;
    EXPECT_TRUE(test::MakeDirectories(dir));
    EXPECT_TRUE(CopyFileA(WinPath(setup).c_str(), (dir + "\\setup.exe").c_str(), FALSE));
    if (script) {
      EXPECT_TRUE(CopyFileA(Data(script).c_str(), (dir + "\\INSTALL.SC_").c_str(), FALSE));
    }
    if (installer) {
      EXPECT_TRUE(CopyFileA(Data(installer).c_str(), (dir + "\\INSTALL.EX_").c_str(), FALSE));
    }
    return dir;
  }

  test::SetupRun Run(const std::string& media, const std::string& tail = "", bool quoted = true,
                     double timeout = 60) {
    std::string program = media + "\\setup.exe";
    std::string line = quoted ? "\"" + program + "\"" : program;
    if (!tail.empty()) line += tail;
    return test::RunProgram(program, line, timeout);
  }

  std::string Installer() { return test::TempSetupDir() + "\\INSTALL.EXE"; }

  // The launcher ran to its end without a box, started the stand-in, which
  // found its script expanded byte for byte, and everything was cleaned up.
  void ExpectCompleteRun(const test::SetupRun& run, const std::string& media, const std::string& arguments) {
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(0u, run.boxes.size()) << (run.boxes.empty() ? "" : run.boxes[0].text);
    auto report = test::ReadReport(report_);
    EXPECT_EQ(Installer() + " \"" + media + "\"" + arguments, report["cmdline"]);
    EXPECT_EQ(Lower(test::WindowsDirectory()), Lower(report["cwd"]));
    EXPECT_EQ(Lower(Installer()), Lower(report["exe"]));
    EXPECT_EQ("1", report["scr_exists"]);
    EXPECT_EQ("1", report["scr_at_signal"]);
    EXPECT_EQ("1", report["signalled"]);
    EXPECT_TRUE(ReadFileBytes(report_ + "\\INSTALL.SCR.copy") == ReadFileBytes(Data("script.bin")));
    EXPECT_TRUE(ReadFileBytes(report_ + "\\INSTALL.EXE.copy") == ReadFileBytes(Data("standin.exe")));
    EXPECT_FALSE(test::Exists(test::TempSetupDir()));
  }

  // One box with text; TempSetupDir held atBox while it was shown (on a
  // failure, whatever the launcher wrote is gone by then).
  void ExpectOneBox(const test::SetupRun& run, const std::string& text, const std::string& atBox = "") {
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_EQ("Setup", run.boxes[0].caption);
    EXPECT_EQ(text, run.boxes[0].text);
    EXPECT_EQ(atBox, run.boxes[0].tempSetupDirAtBox);
  }
  std::string NotFound(const std::string& path) {
    return "File " + path + " is not found. Further installation not possible." + test::ExtractAllHint;
  }
  std::string ErrorIn(const std::string& path) {
    return "Error in " + path + " file. Further installation not possible.";
  }
  std::string AlreadyRunning() {
    return "Setup is already running. Wait until it has finished, then start it again.";
  }
  bool InstallerRan() { return test::Exists(report_ + "\\report.txt"); }

  std::string base_, report_;
};

// ---------------------------------------------------------------- the hand-off

TEST_F(LauncherTest, EmptyTailExpandsStartsWaitsForTheSignalAndCleansUp) {
  std::string media = Media("plain");
  Report("report", "late", "1500");
  test::SetupRun run = Run(media);
  ExpectCompleteRun(run, media, "");
  auto report = test::ReadReport(report_);
  EXPECT_EQ("INSTALL.EXE|INSTALL.SCR", report["beside"]);
  // It waited for the late signal, then paused 500 ms.
  EXPECT_GE(run.seconds, 2.0);
}

TEST_F(LauncherTest, TailIsPassedOnAfterTheQuotedSourceDirectory) {
  std::string media = Media("My Media");
  ExpectCompleteRun(Run(media, " \t /Q /X"), media, " /Q /X");
}

TEST_F(LauncherTest, UnquotedProgramNameEndsAtTheFirstBlank) {
  std::string media = Media("unquoted");
  ExpectCompleteRun(Run(media, " /Q", false), media, " /Q");
}

TEST_F(LauncherTest, MediaAtADriveRoot) {
  std::string root = TEST_DRIVE_ROOT;
  test::RemoveTree(root + "\\INSTALL.SC_");
  std::string media = Media(root);
  ExpectCompleteRun(Run(media), "M:", "");
  // ...and looks for M:\INSTALL.SC_ there.
  ASSERT_TRUE(DeleteFileA((root + "\\INSTALL.SC_").c_str()));
  ExpectOneBox(Run(media), NotFound("M:\\INSTALL.SC_"));
}

TEST_F(LauncherTest, CompressedAndStoredRecordsOfBothFilesThroughOneDecoderState) {
  int stored = 0, compressed = 0;
  ASSERT_TRUE(test::CountRecords(ReadFileBytes(Data("sample.SC_")), &stored, &compressed));
  EXPECT_GE(stored, 2);
  EXPECT_GE(compressed, 5);
  // The installer was packed after the script through one encoder state; it
  // runs and is byte-exact only if it was expanded after the script through
  // one decoder state (ExpectCompleteRun compares both files).
  std::string media = Media("records");
  ExpectCompleteRun(Run(media), media, "");
}

// setup.exe's code at a base other than its own, through its relocations
// (relocated_setup_host.cpp, since Wine 8.0 starts no program whose
// preferred base is taken): the whole hand-off runs as from setup.exe.
TEST_F(LauncherTest, RunsAtAnotherBaseThroughItsRelocations) {
  std::string media = Media("relocated");
  std::string host = media + "\\host.exe";
  ASSERT_TRUE(CopyFileA(WinPath(TEST_RELOCATED_HOST_EXE).c_str(), host.c_str(), FALSE));
  ExpectCompleteRun(test::RunProgram(host, "\"" + host + "\""), media, "");
}

// ---------------------------------------------------------------- failures

TEST_F(LauncherTest, MissingPackFilesAreReportedWithMessage1) {
  std::string both = Media("none", NULL, NULL);
  ExpectOneBox(Run(both), NotFound(both + "\\INSTALL.SC_"));  // the script is named first
  EXPECT_FALSE(test::Exists(test::TempSetupDir()));

  std::string noInstaller = Media("noinstaller", "sample.SC_", NULL);
  ExpectOneBox(Run(noInstaller), NotFound(noInstaller + "\\INSTALL.EX_"));
  EXPECT_FALSE(test::Exists(test::TempSetupDir()));

  std::string noScript = Media("noscript", NULL, "standin.EX_");
  ExpectOneBox(Run(noScript), NotFound(noScript + "\\INSTALL.SC_"));
  EXPECT_FALSE(InstallerRan());
}

TEST_F(LauncherTest, DirectoriesNamedLikeThePackFilesCountAsMissing) {
  std::string script = Media("scriptdir", NULL, "standin.EX_");
  ASSERT_TRUE(CreateDirectoryA((script + "\\INSTALL.SC_").c_str(), NULL));
  ExpectOneBox(Run(script), NotFound(script + "\\INSTALL.SC_"));

  std::string installer = Media("installerdir", "sample.SC_", NULL);
  ASSERT_TRUE(CreateDirectoryA((installer + "\\INSTALL.EX_").c_str(), NULL));
  ExpectOneBox(Run(installer), NotFound(installer + "\\INSTALL.EX_"));
  EXPECT_FALSE(InstallerRan());
  EXPECT_FALSE(test::Exists(test::TempSetupDir()));
}

TEST_F(LauncherTest, InstallerThatCannotStartIsReportedWithMessage3) {
  std::string media = Media("notexe", "notexe.SC_", "notexe.EX_");
  ExpectOneBox(Run(media), ErrorIn(media + "\\INSTALL.EX_"));
  EXPECT_FALSE(test::Exists(test::TempSetupDir()));
}

// A failed expansion starts nothing and names the pack file.
TEST_F(LauncherTest, DamagedPackFilesStartNothing) {
  std::string installer = ReadFileBytes(Data("standin.EX_"));
  std::string truncated = Media("truncated", "sample.SC_", NULL);
  ASSERT_TRUE(test::WriteFileBytes(truncated + "\\INSTALL.EX_", installer.substr(0, installer.size() / 2)));
  ExpectOneBox(Run(truncated), ErrorIn(truncated + "\\INSTALL.EX_"));
  EXPECT_FALSE(InstallerRan());
  EXPECT_FALSE(test::Exists(test::TempSetupDir()));

  std::string script = ReadFileBytes(Data("sample.SC_"));
  std::string badMagic = Media("badmagic", NULL, "standin.EX_");
  script[0] = 'X';
  ASSERT_TRUE(test::WriteFileBytes(badMagic + "\\INSTALL.SC_", script));
  ExpectOneBox(Run(badMagic), ErrorIn(badMagic + "\\INSTALL.SC_"));
  EXPECT_FALSE(InstallerRan());

  // A record larger than the buffers fails the expansion too.
  std::string oversize = Media("oversize", "sample.SC_", NULL);
  ASSERT_TRUE(
      test::WriteFileBytes(oversize + "\\INSTALL.EX_", test::Record(0, 0xF801, std::string(0xF801, 'M'))));
  ExpectOneBox(Run(oversize), ErrorIn(oversize + "\\INSTALL.EX_"));
  EXPECT_FALSE(InstallerRan());
  EXPECT_FALSE(test::Exists(test::TempSetupDir()));
}

// The signed setup.exe, sealed for sample.SC_ and standin.EX_, runs them and
// refuses other valid pack files (the same script and installer packed
// without check records) before starting anything, naming the first that
// differs, with nothing of them left in TempSetupDir while it says so (an
// installer swapped in is never written at the installer's name); the
// unsealed setup.exe runs every pair as before.
TEST_F(LauncherTest, SealedSignedSetupRunsOnlyThePackFilesItWasSealedFor) {
  const struct {
    const char* setup;
    const char* script;
    const char* installer;
    const char* refused;  // the pack file message 3 names, or null
  } cases[] = {
      {TEST_SIGNED_SETUP_EXE, "sample.SC_", "standin.EX_", NULL},
      {TEST_SIGNED_SETUP_EXE, "sample.SC_", "standin_plain.EX_", "INSTALL.EX_"},
      {TEST_SIGNED_SETUP_EXE, "sample_plain.SC_", "standin_plain.EX_", "INSTALL.SC_"},
      {TEST_SETUP_EXE, "sample.SC_", "standin_plain.EX_", NULL},
      {TEST_SETUP_EXE, "sample_plain.SC_", "standin_plain.EX_", NULL},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.setup) + " " + c.script + " " + c.installer);
    Report("report" + std::to_string(index), "signal");
    std::string media = Media("sealed" + std::to_string(index++), c.script, c.installer, c.setup);
    test::SetupRun run = Run(media);
    if (c.refused == NULL) {
      ExpectCompleteRun(run, media, "");
    } else {
      ExpectOneBox(run, ErrorIn(media + "\\" + c.refused));
      EXPECT_FALSE(InstallerRan());
      EXPECT_FALSE(test::Exists(test::TempSetupDir()));
    }
  }
}

// Media as setuppack makes them carry check records. One flipped bit that a
// reader of the format alone would expand without noticing, in the installer
// and then in the script, starts nothing, names that pack file and leaves no
// temporary folder.
TEST_F(LauncherTest, DamageThatOnlyTheCheckRecordNoticesStartsNothing) {
  std::vector<std::string> packs = {ReadFileBytes(Data("sample.SC_")), ReadFileBytes(Data("standin.EX_"))};
  for (const std::string& pack : packs) ASSERT_EQ(0, pack.compare(16, 8, "PACKCHK\x1A"));
  const char* names[] = {"INSTALL.SC_", "INSTALL.EX_"};
  for (size_t which : {1, 0}) {
    std::string damaged = test::FlipOnlyTheCheckNotices(packs, which, 4 * packs[which].size());
    ASSERT_FALSE(damaged.empty()) << names[which];
    std::string media = Media(std::string("damaged-") + names[which]);
    ASSERT_TRUE(test::WriteFileBytes(media + "\\" + names[which], damaged));
    ExpectOneBox(Run(media), ErrorIn(media + "\\" + names[which]));
    EXPECT_FALSE(InstallerRan()) << names[which];
    EXPECT_FALSE(test::Exists(test::TempSetupDir())) << names[which];
  }
}

TEST_F(LauncherTest, MediaWithoutCheckRecordsRunAsBefore) {
  std::string plain = ReadFileBytes(Data("standin_plain.EX_"));
  ASSERT_EQ(0, plain.compare(0, 8, "PACKDAT$"));
  ASSERT_NE(0, plain.compare(16, 8, "PACKCHK\x1A"));
  std::string media = Media("plain-media", "sample_plain.SC_", "standin_plain.EX_");
  ExpectCompleteRun(Run(media), media, "");
}

// Others may read the media meanwhile; one writing to a pack file keeps it
// out, and so does a size beyond the format's 32 bits (a script padded to
// 4 GiB, sparse): message 3 names it.
TEST_F(LauncherTest, MediaReadByOthersStartsWrittenOrHugeDoesNot) {
  struct Case {
    const char* name;
    DWORD access;
    bool pad;
  } cases[] = {{"INSTALL.SC_", GENERIC_READ, false},
               {"INSTALL.EX_", GENERIC_WRITE, false},
               {"INSTALL.SC_", GENERIC_WRITE, true}};
  for (const Case& c : cases) {
    std::string media = Media("other" + std::to_string(&c - cases));
    Report("report" + std::to_string(&c - cases), "signal");
    std::string pack = media + "\\" + c.name;
    HANDLE other =
        CreateFileA(pack.c_str(), c.access, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    LARGE_INTEGER end = {};
    end.QuadPart = 1LL << 32;
    if (c.pad) {
      ASSERT_TRUE(SetFilePointerEx(other, end, NULL, FILE_BEGIN) && SetEndOfFile(other) &&
                  CloseHandle(other));
    }
    test::SetupRun run = Run(media);
    if (!c.pad) CloseHandle(other);
    DeleteFileA(pack.c_str());
    if (c.access == GENERIC_READ) {
      ExpectCompleteRun(run, media, "");
      continue;
    }
    ExpectOneBox(run, ErrorIn(pack));
    EXPECT_FALSE(InstallerRan()) << pack;
  }
}

// When TempSetupDir cannot be created (here a file holds its name), the
// script's expansion fails first and is named; nothing is started.
TEST_F(LauncherTest, TempSetupDirThatCannotBeCreatedFailsTheScriptsExpansion) {
  std::string temp = test::TempSetupDir();
  ASSERT_TRUE(test::WriteFileBytes(temp, "a file, not a directory"));
  std::string media = Media("nodir");
  test::SetupRun run = Run(media);
  DWORD attributes = GetFileAttributesA(temp.c_str());
  test::RemoveTree(temp);
  ExpectOneBox(run, ErrorIn(media + "\\INSTALL.SC_"));
  EXPECT_FALSE(InstallerRan());
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, attributes);
  EXPECT_FALSE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Arguments that do not fit their 1,024 bytes are not passed
// on cut; the start counts as failed (message 3) and everything is cleaned up.
TEST_F(LauncherTest, TailTooLongForTheArgumentsStartsNothing) {
  std::string media = Media("longtail");
  std::string tail = " /" + std::string(1100 - media.size(), 'T');
  ExpectOneBox(Run(media, tail), ErrorIn(media + "\\INSTALL.EX_"));
  EXPECT_FALSE(InstallerRan());
  EXPECT_FALSE(test::Exists(test::TempSetupDir()));
  // One that just fits is passed on whole.
  std::string fits = " /" + std::string(1024 - 1 - (media.size() + 2) - 2, 'T');
  ExpectCompleteRun(Run(media, fits), media, fits);
}

// ---------------------------------------------------------------- clean-up

TEST_F(LauncherTest, CleanUpKeepsOtherFilesAndSubdirectoriesAndThenTheDirectory) {
  std::string temp = test::TempSetupDir();
  ASSERT_TRUE(test::MakeDirectories(temp + "\\Install.Sub"));
  ASSERT_TRUE(test::WriteFileBytes(temp + "\\keep.txt", "keep"));
  ASSERT_TRUE(test::WriteFileBytes(temp + "\\old install.tmp", "left by an earlier run"));
  // A name that code page 1252 writes, by best fit, as ..\INSTALL\..\victim.txt
  // (full-width dots and backslashes) and one with a letter it lacks: both
  // are files of the folder, deleted by their own names; the file that the
  // best-fit name would reach stays.
  std::wstring wideTemp = test::Widen(temp);
  std::string victim = test::WindowsDirectory() + "\\victim.txt";
  ASSERT_TRUE(test::WriteFileBytes(victim, "not the launcher's"));
  for (const wchar_t* name :
       {L"\uFF0E\uFF0E\uFF3CINSTALL\uFF3C\uFF0E\uFF0E\uFF3Cvictim.txt", L"INSTALL-\u0416.log"}) {
    HANDLE file = CreateFileW((wideTemp + L"\\" + name).c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
  }
  std::string media = Media("cleanup");
  test::SetupRun run = Run(media);
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(0u, run.boxes.size());
  EXPECT_EQ("not the launcher's", ReadFileBytes(victim));
  DeleteFileA(victim.c_str());
  // The first clean-up removed the leftover before the installer started.
  EXPECT_EQ("INSTALL.EXE|INSTALL.SCR|Install.Sub|keep.txt", test::ReadReport(report_)["beside"]);
  EXPECT_TRUE(test::Exists(temp + "\\keep.txt"));
  EXPECT_TRUE(test::IsDirectory(temp + "\\Install.Sub"));
  EXPECT_FALSE(test::Exists(temp + "\\INSTALL.EXE"));
  EXPECT_FALSE(test::Exists(temp + "\\INSTALL.SCR"));

  // The missing-file path cleans up the same way.
  ASSERT_TRUE(test::WriteFileBytes(temp + "\\INSTALL.SCR", "stale"));
  std::string none = Media("cleanup-none", NULL, NULL);
  ExpectOneBox(Run(none), NotFound(none + "\\INSTALL.SC_"), "Install.Sub|keep.txt");
  EXPECT_FALSE(test::Exists(temp + "\\INSTALL.SCR"));
  EXPECT_TRUE(test::Exists(temp + "\\keep.txt"));
}

// An installer that signals and then holds its script for 5 s more: the
// clean-up tries again until it has removed everything.
TEST_F(LauncherTest, CleanUpWaitsForFilesStillInUse) {
  Report("report", "linger", "5000");
  test::SetupRun run = Run(Media("linger"));
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(0u, run.boxes.size());
  EXPECT_EQ("1", test::ReadReport(report_)["held"]);
  EXPECT_FALSE(test::Exists(test::TempSetupDir()));
}

// ---------------------------------------------------------------- the event

// An installer that ends without signalling (one that does not know the
// event, crashes or is cancelled): the launcher ends once no process runs
// it, and leaves nothing.
TEST_F(LauncherTest, InstallerThatNeverSignalsIsWaitedForUntilItEnds) {
  Report("report", "never");
  test::SetupRun run = Run(Media("never"));
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(0u, run.boxes.size());
  EXPECT_EQ("0", test::ReadReport(report_)["signalled"]);
  EXPECT_FALSE(test::Exists(test::TempSetupDir()));
}

// An installer that starts itself again from the folder (to elevate, say)
// and ends: the launcher waits for the signal while the copy runs, and the
// copy still finds its script 6 s later.
TEST_F(LauncherTest, WaitsForTheCopyOfAnInstallerThatStartedItselfAgain) {
  Report("report", "relaunch", "6000");
  test::SetupRun run = Run(Media("relaunch"));
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(0u, run.boxes.size());
  auto report = test::ReadReport(report_);
  EXPECT_EQ(Lower(Installer()), Lower(report["exe"]));
  EXPECT_EQ("1", report["signalled"]);
  EXPECT_TRUE(ReadFileBytes(report_ + "\\INSTALL.SCR.at_signal") == ReadFileBytes(Data("script.bin")));
  EXPECT_FALSE(test::Exists(test::TempSetupDir()));
}

// An installer still running in the folder, its launcher gone (killed): setup
// is already running, and nothing in the folder is deleted or written.
// (Another launcher's event: SecondLauncherWhileTheFirstWaits.)
TEST_F(LauncherTest, RunningInstallerWithoutItsLauncherMeansSetupIsAlreadyRunning) {
  std::string temp = test::TempSetupDir();
  ASSERT_TRUE(test::MakeDirectories(temp));
  ASSERT_TRUE(test::WriteFileBytes(temp + "\\INSTALL.SCR", "the other's script"));
  ASSERT_TRUE(CopyFileA(Data("standin.exe").c_str(), Installer().c_str(), FALSE));
  HANDLE release = CreateEventA(NULL, TRUE, FALSE, "StandInRelease");
  std::string otherReport = Report("other", "wait");
  test::Started other = test::StartProgram(Installer(), Installer());
  for (int i = 0; i < 400 && !test::Exists(otherReport + "\\holding.txt"); ++i) Sleep(50);
  Report("report", "signal");
  test::SetupRun run = Run(Media("running"));
  SetEvent(release);
  EXPECT_TRUE(test::Finish(other, 60).finished);
  CloseHandle(release);
  ExpectOneBox(run, AlreadyRunning(), "INSTALL.EXE|INSTALL.SCR");
  EXPECT_FALSE(InstallerRan());
  EXPECT_TRUE(ReadFileBytes(otherReport + "\\INSTALL.SCR.at_signal") == "the other's script");
  test::RemoveTree(temp);
}

// A mutex holds the event's name, so no event can say when the installer is
// done: the launcher waits for the installer's process instead, which finds
// its script 6 s later, and then cleans up.
TEST_F(LauncherTest, EventNameHeldByAnotherObjectMeansWaitingForTheProcess) {
  HANDLE mutex = CreateMutexA(NULL, FALSE, kEvent);
  Report("report", "late", "6000");
  test::SetupRun run = Run(Media("squatted"));
  CloseHandle(mutex);
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(0u, run.boxes.size());
  auto report = test::ReadReport(report_);
  EXPECT_EQ("1", report["scr_at_signal"]);
  EXPECT_EQ("0", report["signalled"]);
  EXPECT_FALSE(test::Exists(test::TempSetupDir()));
}

// Two launchers started together: one creates the event and waits (it ends
// after its installer's report, written just before the signal); the other
// finds the event and says that setup is already running. The folder is
// cleaned up.
TEST_F(LauncherTest, OfTwoLaunchersStartedTogetherOneWaits) {
  std::string media = Media("together"), reports[2];
  test::Started runs[2];
  for (int i = 0; i < 2; ++i) {
    reports[i] = Report("report" + std::to_string(i), "late", "2000");
    runs[i] = test::StartProgram(media + "\\setup.exe", "\"" + media + "\\setup.exe\"");
  }
  bool ended[2] = {false, false};
  int waited = 0;
  std::vector<test::MessageBoxSeen> boxes;
  for (DWORD start = GetTickCount(); GetTickCount() - start < 60000 && !(ended[0] && ended[1]);) {
    for (int i = 0; i < 2; ++i) {
      if (ended[i]) continue;
      if ((ended[i] = WaitForSingleObject(runs[i].process.hProcess, 0) == WAIT_OBJECT_0)) {
        waited += test::Exists(reports[i] + "\\report.txt");
      } else {
        for (const auto& box : test::AnswerBoxes(runs[i].process.dwProcessId, 0.05)) boxes.push_back(box);
      }
    }
  }
  for (test::Started& run : runs) EXPECT_TRUE(test::Finish(run, 0).finished);
  EXPECT_EQ(1, waited);
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(AlreadyRunning(), boxes[0].text);
  EXPECT_FALSE(test::Exists(test::TempSetupDir()));
}

// A second launcher, of other media, started while the first one's
// installer runs: it says that setup is already running and touches
// nothing; the first installer's script is unchanged when it signals.
TEST_F(LauncherTest, SecondLauncherWhileTheFirstWaits) {
  std::string first = Media("first");
  std::string firstReport = Report("report-first", "wait");
  test::Started a = test::StartProgram(first + "\\setup.exe", "\"" + first + "\\setup.exe\"");
  ASSERT_TRUE(a.ok);
  for (int i = 0; i < 400 && !test::Exists(firstReport + "\\holding.txt"); ++i) Sleep(50);
  ASSERT_TRUE(test::Exists(firstReport + "\\holding.txt"));

  std::string second = Media("second", "ring_a.pk", "standin_plain.EX_");
  Report("report-second", "signal");
  test::SetupRun b = Run(second);
  ExpectOneBox(b, AlreadyRunning(), "INSTALL.EXE|INSTALL.SCR");
  EXPECT_FALSE(InstallerRan());

  // The first launcher is still waiting; released, it completes.
  EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(a.process.hProcess, 0));
  HANDLE release = CreateEventA(NULL, TRUE, FALSE, "StandInRelease");
  SetEvent(release);
  report_ = firstReport;
  test::SetupRun run = test::Finish(a, 60);
  CloseHandle(release);
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(0u, run.exitCode);
  EXPECT_EQ(0u, run.boxes.size());
  EXPECT_TRUE(ReadFileBytes(firstReport + "\\INSTALL.SCR.at_signal") == ReadFileBytes(Data("script.bin")));
  EXPECT_FALSE(test::Exists(test::TempSetupDir()));
}

}  // namespace
