// The console and the standard streams on Windows: messages reach a console
// through WriteConsoleW, and a pipe or a file as UTF-8 bytes; Ctrl+C,
// Ctrl+Break and closing the console remove the temporaries being written.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "platform/file_io.h"
#include "platform/windows/system.h"

namespace {

// What the standard streams were when the program started (before the
// console relay below replaced them).
bool outputIsConsole = false;
bool errorIsConsole = false;

bool IsConsole(HANDLE handle) {
  DWORD mode;
  return handle && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

// The C runtime writes messages as bytes. When standard output or error is
// a console, its descriptor is pointed at a pipe instead, and a thread
// turns what comes out of it into UTF-16 for WriteConsoleW. Both share one
// pipe when both are the console, so that they keep their order.
HANDLE relayConsole, relayInput, relayThread;

void WriteToConsole(const char* text, size_t size) {
  std::wstring wide = Wide(std::string(text, size));
  DWORD written;
  WriteConsoleW(relayConsole, wide.data(), (DWORD)wide.size(), &written, nullptr);
}

DWORD WINAPI RelayToConsole(void*) {
  char buffer[4096];
  size_t kept = 0;
  DWORD n;
  while (ReadFile(relayInput, buffer + kept, (DWORD)(sizeof buffer - kept), &n, nullptr) && n > 0) {
    size_t size = kept + n, whole = size;
    // A character cut by the end of the read waits for the rest of its bytes.
    size_t tail = 0;
    while (tail < 3 && tail < size && (buffer[size - 1 - tail] & 0xC0) == 0x80) ++tail;
    if (tail < size) {
      unsigned char lead = (unsigned char)buffer[size - 1 - tail];
      size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
      if (length > tail + 1) whole = size - tail - 1;
    }
    WriteToConsole(buffer, whole);
    kept = size - whole;
    memmove(buffer, buffer + whole, kept);
  }
  if (kept) WriteToConsole(buffer, kept);
  return 0;
}

void EndConsoleRelay() {
  fflush(stdout);
  fflush(stderr);
  if (outputIsConsole) _close(1);
  if (errorIsConsole) _close(2);
  WaitForSingleObject(relayThread, 5000);
}

void StartConsoleRelay() {
  HANDLE writeEnd;
  if (!CreatePipe(&relayInput, &writeEnd, nullptr, 0)) return;
  // A handle of its own: _dup2 closes the one the descriptor had.
  if (!DuplicateHandle(GetCurrentProcess(),
                       GetStdHandle(outputIsConsole ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE),
                       GetCurrentProcess(), &relayConsole, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    CloseHandle(relayInput);
    CloseHandle(writeEnd);
    return;
  }
  int fd = _open_osfhandle((intptr_t)writeEnd, _O_BINARY);
  if (outputIsConsole) _dup2(fd, 1);
  if (errorIsConsole) _dup2(fd, 2);
  _close(fd);
  relayThread = CreateThread(nullptr, 0, RelayToConsole, nullptr, 0, nullptr);
  atexit(EndConsoleRelay);
}

// The temporary files being written. The console's control handler runs on
// a thread of its own: it takes the lock and keeps it, so that no temporary
// is made after it.
TemporaryName* temporaries = nullptr;  // newest first
struct Lock {
  Lock() { InitializeCriticalSection(&section); }
  CRITICAL_SECTION section;
} temporariesLock;

BOOL WINAPI RemoveTemporariesOnInterrupt(DWORD) {
  RemoveTemporaries();
  return FALSE;  // and the system's handler ends the process
}

}  // namespace

bool StandardOutputIsConsole() { return outputIsConsole; }

void RemoveTemporaries() {
  EnterCriticalSection(&temporariesLock.section);
  for (TemporaryName* t = temporaries; t; t = t->next) DeleteFileW(t->path.c_str());
}

void Remember(TemporaryName* name) {
  EnterCriticalSection(&temporariesLock.section);
  name->next = temporaries;
  temporaries = name;
  LeaveCriticalSection(&temporariesLock.section);
}

void Forget(TemporaryName* name) {
  EnterCriticalSection(&temporariesLock.section);
  for (TemporaryName** link = &temporaries; *link; link = &(*link)->next) {
    if (*link == name) {
      *link = name->next;
      break;
    }
  }
  LeaveCriticalSection(&temporariesLock.section);
}

std::vector<std::string> Utf8Arguments(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(Utf8(argv[i], wcslen(argv[i])));
  return arguments;
}

bool FinishStandardOutput(std::string* error) {
  bool earlierFailure = ferror(stdout) != 0;
  SetLastError(0);
  if (fflush(stdout) != 0 || earlierFailure) {
    DWORD code = GetLastError();
    *error = code ? SystemError("standard output", code) : "standard output: an earlier write failed";
    return false;
  }
  return true;
}

void InstallSignalHandlers() {
  outputIsConsole = IsConsole(GetStdHandle(STD_OUTPUT_HANDLE));
  errorIsConsole = IsConsole(GetStdHandle(STD_ERROR_HANDLE));
  // Bytes pass unchanged: packed data on standard input and output, and
  // messages with the same line ends as on every other system.
  _setmode(0, _O_BINARY);
  _setmode(1, _O_BINARY);
  _setmode(2, _O_BINARY);
  if (outputIsConsole || errorIsConsole) StartConsoleRelay();
  SetConsoleCtrlHandler(RemoveTemporariesOnInterrupt, TRUE);
}

bool StandardErrorIsTerminal() { return errorIsConsole; }
