// Folders on Windows: listed, searched in any letter case, made; and where
// the program itself lies.
#include <windows.h>

#include <algorithm>

#include "platform/file_io.h"
#include "platform/windows/system.h"

namespace {

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

std::string JoinPath(const std::string& folder, const std::string& name) {
  size_t last = folder.find_last_of("\\/");
  // "C:" is the current folder of drive C, "C:\" and "out\" end in a separator.
  bool ended = folder.empty() || last == folder.size() - 1 || (folder.size() == 2 && folder[1] == ':');
  if (ended) return folder + name;
  return folder + (last != std::string::npos && folder[last] == '\\' ? "\\" : "/") + name;
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
