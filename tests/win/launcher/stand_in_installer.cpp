// A stand-in for INSTALL.EXE: packed into INSTALL.EX_ for the launcher tests.
//
// It records what the launcher handed it, then signals the completion event
// "TalvenorFinishComplete" as a real installer must. Configured
// through its environment (inherited from setup.exe, which inherits it from
// the test):
//   STANDIN_REPORT    directory for report.txt and copies of INSTALL.SCR and
//                     of itself (INSTALL.SCR.copy, INSTALL.EXE.copy);
//                     without it nothing is written
//   STANDIN_MODE      signal (default): signal at once
//                     late: wait STANDIN_DELAY_MS (1500 when unset), then signal
//                     never: exit without signalling
//                     hold: keep INSTALL.SCR open without sharing until the
//                     event "StandInRelease" is set (at most 60 s), then signal
//                     wait: the same without holding INSTALL.SCR
//                     relaunch: start a copy of itself in mode late and exit
//                     at once, writing nothing and signalling nothing (an
//                     installer that starts itself again to elevate)
//                     linger: signal, then keep INSTALL.SCR open without
//                     sharing for STANDIN_DELAY_MS more
//                     handoff: copy itself to %TEMP%, start the copy in mode
//                     late and exit at once, writing nothing and signalling
//                     nothing (an installer that hands its work to a copy
//                     that survives its own folder); the copy reports on the
//                     folder of the first (STANDIN_HOME)
//   STANDIN_EXIT      exit code (0 when unset)
// report.txt holds key=value lines: cmdline, cwd, exe, beside (the names in
// its own directory, '|'-separated, sorted), scr_exists, scr_size,
// scr_at_signal (INSTALL.SCR still there just before signalling),
// media_script (the first argument, the media folder in double quotes, holds
// a file INSTALL.SC_), media_long (that folder's long form, UTF-8), signalled
// (the event was opened and is set right after report.txt is written),
// INSTALL.SCR.at_signal (a copy of INSTALL.SCR just before signalling, when
// it is not held),
// setup_dialog_at_start (a top-level window of class #32770 titled "Setup",
// the launcher's please-wait dialog, existed when the stand-in started) and
// setup_dialog_gone_ms (how long after the start it was gone, looked for
// every 10 ms for up to 10 s; -1 if it stayed).
#include <string.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::string Env(const char* name, const char* fallback) {
  char value[1024];
  DWORD n = GetEnvironmentVariableA(name, value, sizeof(value));
  if (n == 0 || n >= sizeof(value)) return fallback;
  return std::string(value, n);
}

std::string Directory(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

void WriteText(const std::string& path, const std::string& text) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), (DWORD)text.size(), &written, NULL);
  CloseHandle(file);
}

bool SetupDialogExists() { return FindWindowA("#32770", "Setup") != NULL; }

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  DWORD startTicks = GetTickCount();
  bool dialogAtStart = SetupDialogExists();
  // Wait on the message queue once, so that the system counts the program
  // as ready for input and WinExec in the launcher returns at once.
  MSG message;
  PeekMessageA(&message, NULL, 0, 0, PM_NOREMOVE);
  MsgWaitForMultipleObjects(0, NULL, FALSE, 1, QS_ALLINPUT);

  std::string report = Env("STANDIN_REPORT", "");
  std::string mode = Env("STANDIN_MODE", "signal");
  int exitCode = atoi(Env("STANDIN_EXIT", "0").c_str());
  if (mode == "handoff") {
    char path[MAX_PATH], temp[MAX_PATH];
    GetModuleFileNameA(NULL, path, sizeof(path));
    SetEnvironmentVariableA("STANDIN_HOME", Directory(path).c_str());
    GetTempPathA(sizeof(temp), temp);
    std::string copy = std::string(temp) + "standin-handoff.exe";
    CopyFileA(path, copy.c_str(), FALSE);
    std::string rest = GetCommandLineA();
    rest = rest.substr(rest.find(' '));  // the installer's path holds no blank
    std::string command = "\"" + copy + "\"" + rest;
    SetEnvironmentVariableA("STANDIN_MODE", "late");
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started;
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    if (CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &started)) {
      CloseHandle(started.hThread);
      CloseHandle(started.hProcess);
    }
    return exitCode;
  }
  if (mode == "relaunch") {
    SetEnvironmentVariableA("STANDIN_MODE", "late");
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION copy;
    std::vector<char> line(GetCommandLineA(), GetCommandLineA() + strlen(GetCommandLineA()) + 1);
    if (CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &copy)) {
      CloseHandle(copy.hThread);
      CloseHandle(copy.hProcess);
    }
    return exitCode;
  }

  // The launcher destroys its dialog once WinExec has returned, which is
  // after the wait on the queue above.
  long dialogGoneMs = -1;
  while (GetTickCount() - startTicks < 10000) {
    if (!SetupDialogExists()) {
      dialogGoneMs = (long)(GetTickCount() - startTicks);
      break;
    }
    Sleep(10);
  }

  char buffer[MAX_PATH * 2];
  std::string text = "cmdline=" + std::string(GetCommandLineA()) + "\n";
  text += std::string("setup_dialog_at_start=") + (dialogAtStart ? "1" : "0") + "\n";
  text += "setup_dialog_gone_ms=" + std::to_string(dialogGoneMs) + "\n";
  DWORD n = GetCurrentDirectoryA(sizeof(buffer), buffer);
  text += "cwd=" + std::string(buffer, n) + "\n";
  n = GetModuleFileNameA(NULL, buffer, sizeof(buffer));
  std::string exe(buffer, n);
  text += "exe=" + exe + "\n";
  std::string dir = Env("STANDIN_HOME", Directory(exe).c_str());

  std::vector<std::string> names;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::string name = entry.cFileName;
      if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
  }
  std::sort(names.begin(), names.end());
  std::string beside;
  for (size_t i = 0; i < names.size(); ++i) beside += (i ? "|" : "") + names[i];
  text += "beside=" + beside + "\n";

  std::string script = dir + "\\INSTALL.SCR";
  DWORD attributes = GetFileAttributesA(script.c_str());
  bool scriptExists = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
  text += std::string("scr_exists=") + (scriptExists ? "1" : "0") + "\n";
  if (scriptExists) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExA(script.c_str(), GetFileExInfoStandard, &data)) {
      text += "scr_size=" + std::to_string(data.nFileSizeLow) + "\n";
    }
  }
  if (!report.empty()) {
    CopyFileA(script.c_str(), (report + "\\INSTALL.SCR.copy").c_str(), FALSE);
    CopyFileA(exe.c_str(), (report + "\\INSTALL.EXE.copy").c_str(), FALSE);
  }

  // The media folder as the installer reads it: between the first two double
  // quotes (no byte of a double-byte character is one).
  std::string line = GetCommandLineA();
  size_t open = line.find('"'), close = line.find('"', open + 1);
  if (open != std::string::npos && close != std::string::npos) {
    std::string media = line.substr(open + 1, close - open - 1);
    attributes = GetFileAttributesA((media + "\\INSTALL.SC_").c_str());
    bool found = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    text += std::string("media_script=") + (found ? "1" : "0") + "\n";
    wchar_t wide[1024], longForm[1024];
    char utf8[3072] = "";
    if (MultiByteToWideChar(CP_ACP, 0, media.c_str(), -1, wide, 1024) > 0 &&
        GetLongPathNameW(wide, longForm, 1024) - 1 < 1023) {
      WideCharToMultiByte(CP_UTF8, 0, longForm, -1, utf8, sizeof(utf8), NULL, NULL);
    }
    text += "media_long=" + std::string(utf8) + "\n";
  }

  HANDLE held = INVALID_HANDLE_VALUE;
  if (mode == "hold" || mode == "linger") {
    held = CreateFileA(script.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    text += std::string("held=") + (held != INVALID_HANDLE_VALUE ? "1" : "0") + "\n";
  }
  if (mode == "hold" || mode == "wait") {
    if (!report.empty()) WriteText(report + "\\holding.txt", "1\n");
    HANDLE release = CreateEventA(NULL, TRUE, FALSE, "StandInRelease");
    WaitForSingleObject(release, 60000);
    CloseHandle(release);
  } else if (mode == "late") {
    Sleep((DWORD)atoi(Env("STANDIN_DELAY_MS", "1500").c_str()));
  }

  if (!report.empty() && held == INVALID_HANDLE_VALUE) {
    CopyFileA(script.c_str(), (report + "\\INSTALL.SCR.at_signal").c_str(), FALSE);
  }
  attributes = GetFileAttributesA(script.c_str());
  text += std::string("scr_at_signal=") + (attributes != INVALID_FILE_ATTRIBUTES ? "1" : "0") + "\n";
  // The report is complete before the signal: the launcher cleans up soon after.
  HANDLE event = NULL;
  if (mode != "never") event = OpenEventA(EVENT_MODIFY_STATE, FALSE, "TalvenorFinishComplete");
  text += std::string("signalled=") + (event != NULL ? "1" : "0") + "\n";
  if (!report.empty()) WriteText(report + "\\report.txt", text);
  if (held != INVALID_HANDLE_VALUE && mode == "hold") CloseHandle(held);
  if (event != NULL) {
    SetEvent(event);
    CloseHandle(event);
  }
  if (mode == "linger") {
    Sleep((DWORD)atoi(Env("STANDIN_DELAY_MS", "1500").c_str()));
    CloseHandle(held);
  }
  return exitCode;
}
