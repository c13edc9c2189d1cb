// Helpers of the launcher tests under Wine: files, pack files with stored
// records, Unix build paths seen from Windows, running setup.exe and watching
// its message boxes for real.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "launcher_test_config.h"

namespace test {

// What setup.exe adds to message 1 (a pack file missing: perhaps started
// alone from inside an archive).
const char ExtractAllHint[] =
    "\n\nStarted from a zip file? Extract all of its files into one folder first, then start Setup there.";

// Text in the ANSI code page as UTF-16, and UTF-16 as UTF-8.
std::wstring Widen(const std::string& text);
std::string Utf8(const std::wstring& text);

// A Unix path of the build as the prefix sees it (drive Z:).
std::string WinPath(const std::string& unixPath);

// A file the build generated for the tests (TEST_DATA_DIR/name).
std::string Data(const char* name);

// An empty folder of the running test, TEST_WORK_DIR/group/<test name>,
// removed and made anew; "" when it cannot be made.
std::string FreshTestFolder(const char* group);

std::string ReadFileBytes(const std::string& path, bool* ok = nullptr);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);  // file or directory
bool IsDirectory(const std::string& path);
void RemoveTree(const std::string& path);  // files and directories below, then path
bool MakeDirectories(const std::string& path);

// A pack record: "PACKDAT$", packed size, expanded size, then the body.
std::string Record(uint32_t packedSize, uint32_t expandedSize, const std::string& body);
std::string StoredRecord(const std::string& body);

// Counts the records of a pack file's bytes; false when they do not parse.
bool CountRecords(const std::string& pack, int* stored, int* compressed);

// Expands pack files in order through one fresh decoder state as a reader
// that knows only records and blocks would: a check record at the start is
// dropped unread. False when a file does not expand.
bool ExpandIgnoringChecks(const std::vector<std::string>& packs, std::vector<std::string>* expanded);

// packs[which] with one bit flipped, at or after bit firstBit of the file: the
// first flip that such a reader expands without complaint to other bytes, so
// that only the check record can notice it. "" when none is found.
std::string FlipOnlyTheCheckNotices(const std::vector<std::string>& packs, size_t which, size_t firstBit);

// key=value lines of the stand-in's report.txt.
std::map<std::string, std::string> ReadReport(const std::string& directory);

std::string WindowsDirectory();
std::string TempSetupDir();  // the launcher's C:\windows\ZIMRO~SE.TUP

// The names of the files and folders in directory, sorted and '|'-separated;
// "" when there are none or no such directory.
std::string FolderNames(const std::string& directory);

struct MessageBoxSeen {
  std::string caption;
  std::string text;
  std::string tempSetupDirAtBox;  // FolderNames(TempSetupDir()) while the box was shown
};

struct SetupRun {
  bool started = false;
  bool finished = false;    // ended on its own within the time limit
  bool dialogSeen = false;  // a visible dialog of the process was seen (looked for every 50 ms)
  DWORD exitCode = 0xFFFFFFFF;
  double seconds = 0;
  std::vector<MessageBoxSeen> boxes;
};

// Starts program with commandLine (the whole command line, program name
// included) and waits up to timeoutSeconds, answering every message box of the
// process: it finds the window, reads caption and text and presses OK. A
// process still running at the limit is ended (finished stays false).
SetupRun RunProgram(const std::string& program, const std::string& commandLine, double timeoutSeconds = 60);

// The same, started without waiting; Finish does the waiting part.
struct Started {
  PROCESS_INFORMATION process{};
  DWORD startTicks = 0;
  bool ok = false;
};
Started StartProgram(const std::string& program, const std::string& commandLine);
// An empty program: the first word of commandLine (a Unix program too, in Wine).
Started StartProgramW(const std::wstring& program, const std::wstring& commandLine);
SetupRun Finish(Started& started, double timeoutSeconds);
// Answers the message boxes of a running process for up to seconds (or until
// stopAfter boxes were answered, when it is not 0); returns those seen.
std::vector<MessageBoxSeen> AnswerBoxes(DWORD processId, double seconds, size_t stopAfter = 0);
// The same until `done` holds (or stopAfter boxes were answered): for a box
// this process shows, however long a busy machine takes to show it.
std::vector<MessageBoxSeen> AnswerBoxesUntil(DWORD processId, const std::function<bool()>& done,
                                             size_t stopAfter);

// program (the bytes of a setup.exe, or of a program that carries its pack
// files) with its settings block filled in, as setuppack media
// --exit-code --silent-switch writes it; "" when it has no block.
std::string WithSettings(std::string program, bool exitCodes, const std::vector<std::string>& switches);
// Where setup.exe's silent runs log their failures: %TEMP%\ZIMRO~SE.LOG.
std::string FailureLog();

}  // namespace test
