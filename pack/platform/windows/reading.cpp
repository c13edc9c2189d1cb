// Reading on Windows: whole files, streams, scratch files, and files read
// at any offset.
#include <windows.h>

#include <algorithm>

#include "platform/file_io.h"
#include "platform/size_limit.h"
#include "platform/windows/system.h"

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
  bool ok = true, tooLarge = false;
  uint8_t buffer[1 << 16];
  size_t got = 0;
  while ((ok = ReadSome(file, buffer, sizeof buffer, &got, name, error)) && got != 0) {
    data->insert(data->end(), buffer, buffer + got);
    if ((tooLarge = data->size() > SizeLimit() - 1)) break;
  }
  if (!standard) CloseHandle(file);
  if (!ok) return false;
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
  return ReadSome(handle_->file, buffer, size, got, name_, error);
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
  return ReadSome(handle_->file, buffer, size, got, "scratch file of the packed records", error);
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
