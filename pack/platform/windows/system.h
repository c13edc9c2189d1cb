// What the Windows files of file_io.h share, and nothing outside them uses.
// Names are UTF-8 inside setuppack and UTF-16 at every system call; every
// path goes to the system in its long form (\\?\C:\...), so that paths
// longer than MAX_PATH work without the system's long-path setting.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <windows.h>

#include <string>

std::wstring Wide(const std::string& text);
std::string Utf8(const wchar_t* text, size_t size);
std::string Utf8(const std::wstring& text);

// The system's own text for an error code, without its closing period and
// line break (as strerror gives it).
std::string SystemMessage(DWORD code);

// As gzip and xz say it: the file's name, then the system's reason
// ("nosuch: No such file or directory"). What was being done (opening,
// reading, writing) is left to the command's context, as there.
std::string SystemError(const std::string& name, DWORD code = GetLastError());

bool StartsWith(const std::wstring& text, const wchar_t* start);

// The full path of path in the form the system takes at any length.
// Devices (\\.\NUL, \\.\CON, \\.\pipe\NAME) keep their own form.
std::wstring SystemPath(const std::string& path);

// A system path as people write it: C:\..., \\server\...
std::string ShownPath(const std::wstring& systemPath);

bool IsDevice(const std::wstring& systemPath);

bool WriteAll(HANDLE handle, const uint8_t* data, size_t size);

// One ReadFile of up to size bytes (*got = 0 at the end, also when the
// writer of a pipe is done); false with *error naming name.
bool ReadSome(HANDLE file, uint8_t* buffer, size_t size, size_t* got, const std::string& name,
              std::string* error);

// Whether standard output was a console when the program started.
bool StandardOutputIsConsole();

// The names of the temporary files being written, for the console's control
// handler to remove (they are opened with FILE_SHARE_DELETE, so that this
// works while they are open).
struct TemporaryName {
  std::wstring path;
  TemporaryName* next = nullptr;
};
void Remember(TemporaryName* name);
void Forget(TemporaryName* name);
// Removes every temporary being written, and keeps the lock of their list,
// so that no temporary is made after it: the process is ending.
void RemoveTemporaries();
