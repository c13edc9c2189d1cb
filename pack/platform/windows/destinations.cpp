// Destinations on Windows: planned, written to a temporary, put in place by
// a rename that replaces nothing it should not.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "platform/file_io.h"
#include "platform/windows/system.h"

namespace {

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

}  // namespace

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
    d->isTerminal = StandardOutputIsConsole();
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
  RemoveTemporaries();
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

std::string ScratchFolderFor(const Destination& destination) {
  if (!IsRegularFileMode(destination.mode)) return "";
  size_t separator = destination.path.find_last_of("\\/");
  if (separator == std::string::npos) return ".";
  return destination.path.substr(0, separator + 1);
}
