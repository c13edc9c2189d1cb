#include "platform/windows/system.h"

#include <string.h>

#include <algorithm>

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

std::string SystemError(const std::string& name, DWORD code) { return name + ": " + SystemMessage(code); }

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

bool ReadSome(HANDLE file, uint8_t* buffer, size_t size, size_t* got, const std::string& name,
              std::string* error) {
  DWORD n = 0;
  *got = 0;
  if (!ReadFile(file, buffer, (DWORD)std::min<size_t>(size, 1 << 30), &n, nullptr)) {
    DWORD failure = GetLastError();
    if (failure == ERROR_BROKEN_PIPE || failure == ERROR_HANDLE_EOF) return true;  // the writer is done
    *error = SystemError(name, failure);
    return false;
  }
  *got = n;
  return true;
}
