// file_io.h on Windows. Names are UTF-8 inside setuppack and UTF-16 at every
// system call; every path goes to the system in its long form (\\?\C:\...),
// so that paths longer than MAX_PATH work without the system's long-path
// setting. Messages reach a console through WriteConsoleW, and a pipe or a
// file as UTF-8 bytes.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <algorithm>

#include "platform/file_io.h"
#include "platform/size_limit.h"

namespace {

std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0);
  std::wstring wide(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), &wide[0], n);
  return wide;
}

std::string Utf8(const wchar_t* text, size_t size) {
  if (size == 0) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text, (int)size, nullptr, 0, nullptr, nullptr);
  std::string narrow(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, (int)size, &narrow[0], n, nullptr, nullptr);
  return narrow;
}

std::string Utf8(const std::wstring& text) { return Utf8(text.data(), text.size()); }

// The system's own text for an error code, without its closing period and
// line break (as strerror gives it).
std::string SystemMessage(DWORD code) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, 0, (LPWSTR)&text, 0, nullptr);
  std::string message = n ? Utf8(text, n) : "error " + std::to_string(code);
  LocalFree(text);
  while (!message.empty() && strchr("\r\n .", message.back())) message.pop_back();
  return message;
}

// As gzip and xz say it: the file's name, then the system's reason
// ("nosuch: No such file or directory"). What was being done (opening,
// reading, writing) is left to the command's context, as there.
std::string SystemError(const std::string& name, DWORD code = GetLastError()) {
  return name + ": " + SystemMessage(code);
}

bool StartsWith(const std::wstring& text, const wchar_t* start) {
  return text.compare(0, wcslen(start), start) == 0;
}

// The full path of path in the form the system takes at any length.
// Devices (\\.\NUL, \\.\CON, \\.\pipe\NAME) keep their own form.
std::wstring SystemPath(const std::string& path) {
  std::wstring wide = Wide(path);
  DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return wide;
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(wide.c_str(), n, &full[0], nullptr);
  full.resize(n);
  if (StartsWith(full, L"\\\\?\\") || StartsWith(full, L"\\\\.\\")) return full;
  if (StartsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

// A system path as people write it: C:\..., \\server\...
std::string ShownPath(const std::wstring& systemPath) {
  if (StartsWith(systemPath, L"\\\\?\\UNC\\")) return "\\\\" + Utf8(systemPath.substr(8));
  return Utf8(StartsWith(systemPath, L"\\\\?\\") ? systemPath.substr(4) : systemPath);
}

bool IsDevice(const std::wstring& systemPath) { return StartsWith(systemPath, L"\\\\.\\"); }

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

// The names of the temporary files being written, for the console's control
// handler to remove (they are opened with FILE_SHARE_DELETE, so that this
// works while they are open). The handler runs on a thread of its own: it
// takes the lock and keeps it, so that no temporary is made after it.
struct TemporaryName {
  std::wstring path;
  TemporaryName* next = nullptr;
};
TemporaryName* temporaries = nullptr;  // newest first
struct Lock {
  Lock() { InitializeCriticalSection(&section); }
  CRITICAL_SECTION section;
} temporariesLock;

BOOL WINAPI RemoveTemporariesOnInterrupt(DWORD) {
  EnterCriticalSection(&temporariesLock.section);
  for (TemporaryName* t = temporaries; t; t = t->next) DeleteFileW(t->path.c_str());
  return FALSE;  // and the system's handler ends the process
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

bool WriteAll(HANDLE handle, const uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    DWORD chunk = (DWORD)std::min<size_t>(size - done, 1 << 20), written = 0;
    if (!WriteFile(handle, data + done, chunk, &written, nullptr)) return false;
    if (written == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    done += written;
  }
  return true;
}

std::wstring TempPathFor(const std::wstring& target) {
  return target + L".partial-" + std::to_wstring(GetCurrentProcessId());
}

// The console, as a device name: CON, CONOUT$.
bool IsConsoleName(const std::wstring& device) {
  std::wstring name = device.substr(4);
  return _wcsicmp(name.c_str(), L"CON") == 0 || _wcsicmp(name.c_str(), L"CONOUT$") == 0;
}

bool IsRegularFileMode(WriteMode mode) {
  return mode == WriteMode::NewFile || mode == WriteMode::ReplaceFile;
}

// A new file's folder must take files: a probe file is made there and
// removed again, so that a missing or read-only folder is found before
// anything is written.
bool FolderTakesFiles(const std::string& name, const std::wstring& target, std::string* error) {
  HANDLE probe = CreateFileW(TempPathFor(target).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (probe == INVALID_HANDLE_VALUE) {
    *error = SystemError(name);
    return false;
  }
  CloseHandle(probe);
  return true;
}

// The identity of a regular file ("-": a standard stream's).
bool RegularFileIdentity(const std::string& path, DWORD standard, BY_HANDLE_FILE_INFORMATION* info) {
  bool own = !IsStandardStream(path);
  HANDLE file = GetStdHandle(standard);
  if (own) {
    std::wstring systemPath = SystemPath(path);
    if (IsDevice(systemPath)) return false;
    file = CreateFileW(systemPath.c_str(), FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  }
  bool ok = file && file != INVALID_HANDLE_VALUE && GetFileType(file) == FILE_TYPE_DISK &&
            GetFileInformationByHandle(file, info) && !(info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  if (own && file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return ok;
}

bool AsciiEqualIgnoringCase(const wchar_t* a, const std::wstring& b) {
  size_t i = 0;
  for (; a[i] && i < b.size(); ++i) {
    wchar_t x = a[i], y = b[i];
    if (x >= L'a' && x <= L'z') x -= 32;
    if (y >= L'a' && y <= L'z') y -= 32;
    if (x != y) return false;
  }
  return !a[i] && i == b.size();
}

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(Utf8(argv[i], wcslen(argv[i])));
  return arguments;
}

bool IsStandardStream(const std::string& path) { return path == "-"; }

std::string DisplayName(const std::string& path, bool isSource) {
  if (!IsStandardStream(path)) return path;
  return isSource ? "standard input" : "standard output";
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  size_t last = folder.find_last_of("\\/");
  // "C:" is the current folder of drive C, "C:\" and "out\" end in a separator.
  bool ended = folder.empty() || last == folder.size() - 1 || (folder.size() == 2 && folder[1] == ':');
  if (ended) return folder + name;
  return folder + (last != std::string::npos && folder[last] == '\\' ? "\\" : "/") + name;
}

static std::string TooLarge(const std::string& name) {
  return name + ": 4 GiB or larger (pack files measure sizes in 32 bits)";
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* data, std::string* error) {
  std::string name = DisplayName(path, true);
  bool standard = IsStandardStream(path);
  // Shared for reading only: a file another program is writing is not read.
  HANDLE file = standard ? GetStdHandle(STD_INPUT_HANDLE)
                         : CreateFileW(SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE || !file) {
    *error = SystemError(name);
    return false;
  }
  data->clear();
  LARGE_INTEGER size;
  if (GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size)) {
    if ((uint64_t)size.QuadPart >= SizeLimit()) {
      if (!standard) CloseHandle(file);
      *error = TooLarge(name);
      return false;
    }
    data->reserve((size_t)size.QuadPart);
  }
  DWORD failure = 0, n = 0;
  bool tooLarge = false;
  uint8_t buffer[1 << 16];
  for (;;) {
    if (!ReadFile(file, buffer, sizeof buffer, &n, nullptr)) {
      failure = GetLastError();
      if (failure == ERROR_BROKEN_PIPE || failure == ERROR_HANDLE_EOF) failure = 0;  // the writer is done
      break;
    }
    if (n == 0) break;
    data->insert(data->end(), buffer, buffer + n);
    if ((tooLarge = data->size() > SizeLimit() - 1)) break;
  }
  if (!standard) CloseHandle(file);
  if (failure) {
    *error = SystemError(name, failure);
    return false;
  }
  if (tooLarge) {
    *error = TooLarge(name);
    return false;
  }
  return true;
}

struct SourceFile::Handle {
  HANDLE file = INVALID_HANDLE_VALUE;
  bool owned = false;
};

SourceFile::SourceFile() = default;

SourceFile::~SourceFile() {
  if (handle_ && handle_->owned) CloseHandle(handle_->file);
}

bool SourceFile::Open(const std::string& path, std::string* error) {
  name_ = DisplayName(path, true);
  bool standard = IsStandardStream(path);
  // Shared for reading only: a file another program is writing is not read.
  HANDLE file = standard ? GetStdHandle(STD_INPUT_HANDLE)
                         : CreateFileW(SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE || !file) {
    *error = SystemError(name_);
    return false;
  }
  handle_.reset(new Handle);
  handle_->file = file;
  handle_->owned = !standard;
  LARGE_INTEGER size;
  if (GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size)) {
    sizeKnown_ = true;
    size_ = (uint64_t)size.QuadPart;
    if (size_ >= SizeLimit()) {
      *error = TooLarge(name_);
      return false;
    }
  }
  return true;
}

bool SourceFile::Read(uint8_t* buffer, size_t size, size_t* got, std::string* error) {
  DWORD n = 0;
  *got = 0;
  if (!ReadFile(handle_->file, buffer, (DWORD)std::min<size_t>(size, 1 << 30), &n, nullptr)) {
    DWORD failure = GetLastError();
    if (failure == ERROR_BROKEN_PIPE || failure == ERROR_HANDLE_EOF) return true;  // the writer is done
    *error = SystemError(name_, failure);
    return false;
  }
  *got = n;
  return true;
}

bool SourceFile::Rewind(std::string* error) {
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  if (SetFilePointerEx(handle_->file, zero, nullptr, FILE_BEGIN)) return true;
  *error = SystemError(name_);
  return false;
}

struct ScratchFile::Handle {
  HANDLE file = INVALID_HANDLE_VALUE;
};

ScratchFile::ScratchFile() = default;

ScratchFile::~ScratchFile() {
  if (handle_) CloseHandle(handle_->file);
}

bool ScratchFile::Open(const std::string& folder, std::string* error) {
  std::wstring where;
  if (!folder.empty()) {
    where = SystemPath(folder);
  } else {
    wchar_t temp[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    where = n ? std::wstring(temp, n) : L".";
  }
  if (!where.empty() && where.back() != L'\\') where += L'\\';
  // Deleted by the system when closed, also when the process ends otherwise.
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    std::wstring name = where + L".setuppack-scratch-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(GetTickCount() + attempt);
    HANDLE file =
        CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      handle_.reset(new Handle);
      handle_->file = file;
      return true;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) break;
  }
  *error = SystemError("scratch file in " + ShownPath(where));
  return false;
}

bool ScratchFile::Append(const uint8_t* data, size_t size, std::string* error) {
  for (size_t done = 0; done < size;) {
    DWORD n = 0;
    if (!WriteFile(handle_->file, data + done, (DWORD)std::min<size_t>(size - done, 1 << 20), &n, nullptr) ||
        n == 0) {
      *error = SystemError("scratch file of the packed records");
      return false;
    }
    done += n;
  }
  return true;
}

bool ScratchFile::Rewind(std::string* error) {
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  if (SetFilePointerEx(handle_->file, zero, nullptr, FILE_BEGIN)) return true;
  *error = SystemError("scratch file of the packed records");
  return false;
}

bool ScratchFile::Read(uint8_t* buffer, size_t size, size_t* got, std::string* error) {
  DWORD n = 0;
  if (!ReadFile(handle_->file, buffer, (DWORD)std::min<size_t>(size, 1 << 30), &n, nullptr)) {
    *error = SystemError("scratch file of the packed records");
    return false;
  }
  *got = n;
  return true;
}

bool IsSameRegularFile(const std::string& source, const std::string& destination) {
  BY_HANDLE_FILE_INFORMATION a, b;
  return RegularFileIdentity(source, STD_INPUT_HANDLE, &a) &&
         RegularFileIdentity(destination, STD_OUTPUT_HANDLE, &b) &&
         a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

bool PlanDestination(const std::string& name, bool force, Destination* d, std::string* error) {
  *d = {name, name, WriteMode::NewFile, false};
  if (IsStandardStream(name)) {
    d->name = DisplayName(name, false);
    d->mode = WriteMode::StandardOutput;
    d->isTerminal = outputIsConsole;
    return true;
  }
  std::wstring path = SystemPath(name);
  if (IsDevice(path)) {
    d->mode = WriteMode::InPlace;
    d->isTerminal = IsConsoleName(path);
    return true;
  }
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD code = GetLastError();
    if (code != ERROR_FILE_NOT_FOUND) {
      *error = SystemError(name, code);
      return false;
    }
    return FolderTakesFiles(name, path, error);
  }
  std::string what = "'" + name + "' already exists";
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    // The link stays; the file it leads to is what gets replaced.
    HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      *error = "'" + name + "' is a symbolic link that leads nowhere (" + SystemMessage(GetLastError()) +
               "); setuppack writes through links but creates no file behind them";
      return false;
    }
    std::wstring finalPath(32768, L'\0');
    DWORD n = GetFinalPathNameByHandleW(file, &finalPath[0], 32768, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(file);
    if (n == 0 || n >= 32768) {
      *error = SystemError(name);
      return false;
    }
    path = finalPath.substr(0, n);
    d->path = ShownPath(path);
    attributes = GetFileAttributesW(path.c_str());
    what = "'" + name + "' already exists (a link to '" + d->path + "')";
  }
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *error = "'" + name + "' is a directory";
    return false;
  }
  if (!force) {
    *error = what + "; -f replaces it";
    return false;
  }
  // What would stop the replacement is found now, before anything is
  // written: a read-only file, and a file another program holds open
  // without letting it be deleted.
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    *error = SystemError(name, ERROR_ACCESS_DENIED);
    return false;
  }
  HANDLE file = CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = SystemError(name);
    return false;
  }
  CloseHandle(file);
  d->mode = WriteMode::ReplaceFile;
  return FolderTakesFiles(name, path, error);
}

struct DestinationWriter::Temporary {
  TemporaryName name;
  HANDLE file = INVALID_HANDLE_VALUE;  // INVALID_HANDLE_VALUE once closed
  bool stream = false;                 // a pipe, a device or standard output: written where it is
  bool owned = false;                  // a stream this writer opened (not standard output)
};

namespace {

// A reader that went away: the rest is of no use to anyone. Ends quietly,
// as gzip does, once the temporaries are gone (status 1: not all was written).
[[noreturn]] void EndOnClosedPipe() {
  EnterCriticalSection(&temporariesLock.section);
  for (TemporaryName* t = temporaries; t; t = t->next) DeleteFileW(t->path.c_str());
  ExitProcess(1);
}

bool IsClosedPipe(DWORD code) { return code == ERROR_NO_DATA || code == ERROR_BROKEN_PIPE; }

}  // namespace

DestinationWriter::DestinationWriter(const Destination& destination) : destination_(destination) {}

DestinationWriter::~DestinationWriter() { Discard(); }

bool DestinationWriter::Open(size_t, std::string* error) {
  const Destination& d = destination_;
  if (!IsRegularFileMode(d.mode)) {
    temporary_.reset(new Temporary);
    temporary_->stream = true;
    if (d.mode == WriteMode::StandardOutput) {
      fflush(stdout);
      temporary_->file = (HANDLE)_get_osfhandle(1);
      return true;
    }
    std::wstring path = SystemPath(d.path);
    if (IsConsoleName(path)) path = L"CONOUT$";
    temporary_->owned = true;
    temporary_->file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
    if (temporary_->file == INVALID_HANDLE_VALUE) {
      *error = SystemError(d.name);
    } else if (GetFileType(temporary_->file) == FILE_TYPE_DISK) {
      *error = "'" + d.name + "' became a regular file after it was checked; it was left alone";
    } else {
      return true;
    }
    Discard();
    return false;
  }
  temporary_.reset(new Temporary);
  temporary_->name.path = TempPathFor(SystemPath(d.path));
  Remember(&temporary_->name);
  temporary_->file = CreateFileW(temporary_->name.path.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                 CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (temporary_->file == INVALID_HANDLE_VALUE) {
    *error = SystemError(d.name);
    Forget(&temporary_->name);  // a file of that name that was there is not this one's
    temporary_.reset();
    return false;
  }
  return true;
}

bool DestinationWriter::Write(const uint8_t* data, size_t size, std::string* error) {
  if (temporary_ && temporary_->file != INVALID_HANDLE_VALUE && WriteAll(temporary_->file, data, size)) {
    return true;
  }
  DWORD code = temporary_ && temporary_->file != INVALID_HANDLE_VALUE ? GetLastError() : ERROR_INVALID_HANDLE;
  if (temporary_ && temporary_->stream && IsClosedPipe(code)) EndOnClosedPipe();
  *error = SystemError(destination_.name, code);
  Discard();
  return false;
}

bool DestinationWriter::Close(std::string* error) {
  if (!temporary_ || temporary_->file == INVALID_HANDLE_VALUE) return true;
  DWORD failure = 0;
  // Pipes, consoles and most devices cannot be flushed; that is no failure.
  if (!temporary_->stream && !FlushFileBuffers(temporary_->file)) failure = GetLastError();
  if ((!temporary_->stream || temporary_->owned) && !CloseHandle(temporary_->file) && !failure) {
    failure = GetLastError();
  }
  temporary_->file = INVALID_HANDLE_VALUE;
  if (failure == 0) return true;
  *error = SystemError(destination_.name, failure);
  Discard();
  return false;
}

bool DestinationWriter::Commit(std::string* error) {
  const Destination& d = destination_;
  if (!Close(error)) return false;
  if (temporary_ && temporary_->stream) {
    temporary_.reset();
    return true;
  }
  if (!temporary_) {
    *error = SystemError(d.name, ERROR_INVALID_HANDLE);
    return false;
  }
  DWORD flags = MOVEFILE_WRITE_THROUGH | (d.mode == WriteMode::ReplaceFile ? MOVEFILE_REPLACE_EXISTING : 0);
  bool ok = MoveFileExW(temporary_->name.path.c_str(), SystemPath(d.path).c_str(), flags);
  DWORD code = GetLastError();
  if (ok) {
    // Moved first: an interruption in between finds no temporary to remove.
    Forget(&temporary_->name);
    temporary_.reset();
  } else if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) {
    *error = "'" + d.name + "' appeared while it was being written; it was left alone (-f replaces it)";
  } else {
    *error = SystemError(d.name, code);
  }
  Discard();
  return ok;
}

void DestinationWriter::Discard() {
  if (!temporary_) return;
  if (temporary_->stream) {
    if (temporary_->owned && temporary_->file != INVALID_HANDLE_VALUE) CloseHandle(temporary_->file);
    temporary_.reset();
    return;
  }
  if (temporary_->file != INVALID_HANDLE_VALUE) CloseHandle(temporary_->file);
  DeleteFileW(temporary_->name.path.c_str());
  Forget(&temporary_->name);
  temporary_.reset();
}

bool WriteDestination(const Destination& d, const std::vector<uint8_t>& data, std::string* error) {
  DestinationWriter writer(d);
  return writer.Open(data.size(), error) && writer.Write(data.data(), data.size(), error) &&
         writer.Commit(error);
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

bool FindAnyCase(const std::string& folder, const std::string& name, std::vector<std::string>* found,
                 std::string* error) {
  found->clear();
  std::vector<FolderEntry> entries;
  if (!ListFolder(folder, &entries, error)) return false;
  std::wstring wideName = Wide(name);
  for (const FolderEntry& entry : entries) {
    // ASCII letters only, as on every system: these are 8.3 names.
    if (AsciiEqualIgnoringCase(Wide(entry.name).c_str(), wideName)) found->push_back(entry.name);
  }
  return true;  // sorted, as ListFolder gives them
}

bool MakeFolder(const std::string& folder, std::string* error, bool* created) {
  bool made = CreateDirectoryW(SystemPath(folder).c_str(), nullptr);
  if (created) *created = made;
  if (made || GetLastError() == ERROR_ALREADY_EXISTS) return true;
  *error = "cannot create '" + folder + "' (" + SystemMessage(GetLastError()) + ")";
  return false;
}

void RemoveFolder(const std::string& folder) { RemoveDirectoryW(SystemPath(folder).c_str()); }

std::string ProgramFolder(const char*) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, &path[0], (DWORD)path.size());
    if (n == 0) return "";
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  return Utf8(path.substr(0, path.find_last_of(L"\\/")));
}

bool ResolveRegularFile(const std::string& path, std::string* resolved) {
  std::wstring full = SystemPath(path);
  DWORD attributes = GetFileAttributesW(full.c_str());
  if (IsDevice(full) || attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return false;
  }
  *resolved = ShownPath(full);
  return true;
}

bool StandardErrorIsTerminal() { return errorIsConsole; }

std::string ScratchFolderFor(const Destination& destination) {
  if (!IsRegularFileMode(destination.mode)) return "";
  size_t separator = destination.path.find_last_of("\\/");
  if (separator == std::string::npos) return ".";
  return destination.path.substr(0, separator + 1);
}

FileReader::FileReader() : handle_(nullptr) {}

FileReader::~FileReader() {
  if (handle_) CloseHandle((HANDLE)handle_);
}

bool FileReader::Open(const std::string& path, std::string* error) {
  name_ = path;
  HANDLE file = CreateFileW(SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_RANDOM_ACCESS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = SystemError(path);
    return false;
  }
  handle_ = file;
  LARGE_INTEGER size;
  size_ = GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size) ? (uint64_t)size.QuadPart : 0;
  return true;
}

bool FileReader::ReadAt(uint64_t offset, uint8_t* data, size_t size, size_t* got, std::string* error) {
  *got = 0;
  while (*got < size) {
    OVERLAPPED at = {};
    uint64_t from = offset + *got;
    at.Offset = (DWORD)from;
    at.OffsetHigh = (DWORD)(from >> 32);
    DWORD n = 0, ask = (DWORD)std::min<size_t>(size - *got, 1u << 30);
    if (!ReadFile((HANDLE)handle_, data + *got, ask, &n, &at)) {
      DWORD failure = GetLastError();
      if (failure == ERROR_HANDLE_EOF) break;
      *error = SystemError(name_, failure);
      return false;
    }
    if (n == 0) break;
    *got += n;
  }
  return true;
}

bool ListFolder(const std::string& folder, std::vector<FolderEntry>* entries, std::string* error) {
  entries->clear();
  std::wstring pattern = SystemPath(folder);
  if (pattern.empty() || pattern.back() != L'\\') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_FILE_NOT_FOUND) return true;
    *error = SystemError(folder);
    return false;
  }
  do {
    std::string name = Utf8(entry.cFileName, wcslen(entry.cFileName));
    if (name == "." || name == "..") continue;
    bool folderEntry = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // A reparse point that is a folder (a junction, a link) is not walked into.
    bool link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    entries->push_back({name, folderEntry && !link, !folderEntry});
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  std::sort(entries->begin(), entries->end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  return true;
}

bool IsFolder(const std::string& path) {
  DWORD attributes = GetFileAttributesW(SystemPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}
