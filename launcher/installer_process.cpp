// The installer's process: started so that the launcher knows it, and waited
// for until the installer signals the completion event or no process runs
// it any more, so that an installer that ends without a word (one that does
// not know the event, crashes or is cancelled) never leaves the launcher
// waiting for ever.
#include "launcher.h"

namespace {

// How long a started program is given to come up, as WinExec gives it (the
// time Wine's WinExec waits): the please-wait dialog stays until the
// installer waits for its first input or this has passed.
const DWORD InstallerStartTimeLimit = 30000;
// How often the launcher looks whether the expanded installer still runs
// once the process it started has ended without the signal.
const DWORD InstallerPollInterval = 500;

}  // namespace

int InstallerImageInUse(const char* installerPath) {
  if (installerPath == NULL || installerPath[0] == '\0') return 0;
  // A running image cannot be opened for writing, whatever the sharing asked
  // for (on Windows and under Wine alike); nothing is written.
  HANDLE file = CreateFileA(installerPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_EXISTING, 0, NULL);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    return 0;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION ? 1 : 0;
}

HANDLE StartInstaller(char* command) {
  // As WinExec(command, SW_SHOW) starts it, but keeping its process.
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof(startup));
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION process;
  if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) return NULL;
  CloseHandle(process.hThread);
  WaitForInputIdle(process.hProcess, InstallerStartTimeLimit);
  return process.hProcess;
}

void WaitForInstaller(HANDLE event, HANDLE process, const char* installerPath) {
  // The event comes first: when both are signalled, the signal counts.
  HANDLE both[2] = {event, process};
  if (event != NULL && WaitForMultipleObjects(2, both, FALSE, INFINITE) == WAIT_OBJECT_0) return;
  if (event == NULL) WaitForSingleObject(process, INFINITE);
  // The process ended without the signal. A copy of the installer that it
  // started (to elevate, say) may still run from the folder and signal
  // later: wait for the signal as long as any process runs the image.
  while (InstallerImageInUse(installerPath)) {
    if (event == NULL) {
      Sleep(InstallerPollInterval);
    } else if (WaitForSingleObject(event, InstallerPollInterval) == WAIT_OBJECT_0) {
      return;
    }
  }
}
