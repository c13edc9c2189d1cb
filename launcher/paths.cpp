// Path operations and the clean-up of the temporary directory.
#include "launcher.h"

#include "dll_search_path.h"  // KernelFunction

int JoinPath(char* buffer, uint32_t size, const char* directory, const char* name) {
  if (buffer == NULL || size == 0) return 0;
  buffer[0] = '\0';
  if (directory == NULL || directory[0] == '\0' || name == NULL) return 0;
  if (!FormatBounded(buffer, size, "%s\\%s", directory, name)) {
    buffer[0] = '\0';
    return 0;
  }
  return 1;
}

void StripLastPathComponent(const char* path, char* buffer, uint32_t size) {
  if (path == NULL || buffer == NULL || size == 0) return;
  buffer[0] = '\0';
  if (path[0] == '\0') return;
  CopyBounded(buffer, path, size);
  // Forwards, a character at a time: in a double-byte code page a trail
  // byte may be 0x5C (that of ソ, 表 or 能), which is no backslash. No
  // backslash at all leaves it empty.
  char* last = buffer;
  for (char* p = buffer; *p != '\0'; ++p) {
    if (*p == '\\') {
      last = p;
    } else if (AnsiLeadByte((unsigned char)*p) && p[1] != '\0') {
      ++p;
    }
  }
  *last = '\0';
}

int GetModuleDirectory(HMODULE module, char* buffer, uint32_t size) {
  if (buffer == NULL || size == 0) return 0;
  buffer[0] = '\0';
  char fileName[PathBufferSize];
  DWORD length = GetModuleFileNameA(module, fileName, PathBufferSize);
  // A name that could not be read or did not fit whole gives no directory:
  // a cut name would point beside the wrong file.
  if (length == 0 || length >= PathBufferSize || length >= size) return 0;
  fileName[length] = '\0';
  StripLastPathComponent(fileName, buffer, size);
  return buffer[0] != '\0' ? 1 : 0;
}

int FileExists(const char* path) {
  if (path == NULL) return 0;
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ? 1 : 0;
}

int IsInstallFile(char* name) {
  CharUpperA(name);
  static const char kWord[] = "INSTALL";
  for (const char* start = name; *start != '\0'; ++start) {
    uint32_t i = 0;
    while (kWord[i] != '\0' && start[i] == kWord[i]) ++i;
    if (kWord[i] == '\0') return 1;
  }
  return 0;
}

namespace {

typedef BOOL(WINAPI* MoveFileExACall)(LPCSTR existing, LPCSTR replacement, DWORD flags);
typedef HANDLE(WINAPI* FindFirstFileWCall)(LPCWSTR pattern, WIN32_FIND_DATAW* entry);
typedef BOOL(WINAPI* FindNextFileWCall)(HANDLE search, WIN32_FIND_DATAW* entry);
typedef BOOL(WINAPI* DeleteFileWCall)(LPCWSTR path);
typedef BOOL(WINAPI* MoveFileExWCall)(LPCWSTR existing, LPCWSTR replacement, DWORD flags);

// RemoveMatchingFilesByWideName's answer on a system without wide names.
const uint32_t NoWideNames = 0xFFFFFFFF;

// Deletes every file of directory whose name predicate accepts, or, with
// atRestart, schedules it for deletion when Windows restarts; returns how
// many of them it could not delete (or schedule).
//
// Each file is found and removed by its wide name, through the "\\?\" form
// of the path, which the system takes as it stands: no character of the
// name is mapped, and no dot or blank at its end is dropped. The predicate
// sees the name as the ANSI code page writes it, with the default character
// for what the code page lacks (never a best fit: a full-width backslash
// stays no backslash), and only decides; no path is built from that form.
__attribute__((noinline)) uint32_t RemoveMatchingFilesByWideName(const char* directory,
                                                                 FileNamePredicate predicate, int atRestart) {
  FindFirstFileWCall findFirst = reinterpret_cast<FindFirstFileWCall>(KernelFunction("FindFirstFileW"));
  FindNextFileWCall findNext = reinterpret_cast<FindNextFileWCall>(KernelFunction("FindNextFileW"));
  DeleteFileWCall deleteFile = reinterpret_cast<DeleteFileWCall>(KernelFunction("DeleteFileW"));
  MoveFileExWCall moveFile = reinterpret_cast<MoveFileExWCall>(KernelFunction("MoveFileExW"));
  if (findFirst == NULL || findNext == NULL || deleteFile == NULL) return NoWideNames;
  if (atRestart && moveFile == NULL) return 0;  // nothing can be scheduled

  // "\\?\" and the directory, as a drive path always is; any other form is
  // taken as the system normalises it.
  WCHAR path[PathBufferSize];
  uint32_t length = 0;
  if (directory[0] != '\0' && directory[1] == ':' && directory[2] == '\\') {
    path[0] = path[1] = path[3] = L'\\';
    path[2] = L'?';
    length = 4;
  }
  int converted =
      MultiByteToWideChar(CP_ACP, 0, directory, -1, path + length, (int)(PathBufferSize - length));
  if (converted <= 0) return 0;
  length += (uint32_t)converted - 1;
  if (length + 3 > PathBufferSize) return 0;
  path[length++] = L'\\';
  path[length] = L'*';
  path[length + 1] = L'\0';

  WIN32_FIND_DATAW entry;
  HANDLE search = findFirst(path, &entry);
  if (search == INVALID_HANDLE_VALUE) {
    // The Windows 95 family has the name but not the function.
    return GetLastError() == ERROR_CALL_NOT_IMPLEMENTED ? NoWideNames : 0;
  }
  uint32_t failed = 0;
  do {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    char name[3 * MAX_PATH];  // a character takes at most 3 bytes (UTF-8)
    NarrowExactly(CP_ACP, entry.cFileName, name, sizeof(name));
    name[sizeof(name) - 1] = '\0';
    uint32_t nameLength = (uint32_t)lstrlenW(entry.cFileName);
    // A name that does not fit beside the directory is left alone.
    if (!predicate(name) || length + nameLength >= PathBufferSize) continue;
    for (uint32_t i = 0; i <= nameLength; ++i) path[length + i] = entry.cFileName[i];
    BOOL removed = atRestart ? moveFile(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT) : deleteFile(path);
    if (!removed) ++failed;
  } while (findNext(search, &entry));
  FindClose(search);
  return failed;
}

// The same with the narrow names, exact on the systems without wide ones.
__attribute__((noinline)) uint32_t RemoveMatchingFilesByNarrowName(const char* directory,
                                                                   FileNamePredicate predicate,
                                                                   int atRestart) {
  // Not in every Windows (95 lacks it), so looked up, never imported.
  MoveFileExACall moveFile = reinterpret_cast<MoveFileExACall>(KernelFunction("MoveFileExA"));
  if (atRestart && moveFile == NULL) return 0;
  char path[PathBufferSize];
  if (!FormatBounded(path, PathBufferSize, "%s\\*.*", directory)) return 0;  // cut: use nothing
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA(path, &entry);
  if (search == INVALID_HANDLE_VALUE) return 0;
  uint32_t failed = 0;
  do {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    // The predicate gets the long name in the find record and may upper-case
    // it; the file is deleted under the name under which it was found.
    char found[sizeof(entry.cFileName)];
    CopyBounded(found, entry.cFileName, sizeof(found));
    if (predicate(entry.cFileName) && FormatBounded(path, PathBufferSize, "%s\\%s", directory, found)) {
      BOOL removed = atRestart ? moveFile(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT) : DeleteFileA(path);
      if (!removed) ++failed;
    }
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return failed;
}

uint32_t RemoveMatchingFiles(const char* directory, FileNamePredicate predicate, int atRestart) {
  if (directory == NULL || directory[0] == '\0' || predicate == NULL) return 0;
  uint32_t failed = RemoveMatchingFilesByWideName(directory, predicate, atRestart);
  return failed != NoWideNames ? failed : RemoveMatchingFilesByNarrowName(directory, predicate, atRestart);
}

}  // namespace

uint32_t DeleteMatchingFiles(const char* directory, FileNamePredicate predicate) {
  return RemoveMatchingFiles(directory, predicate, 0);
}

void CleanUpAfterInstaller(const char* directory, uint32_t retries) {
  if (directory == NULL || directory[0] == '\0') return;
  uint32_t left;
  while ((left = DeleteMatchingFiles(directory, IsInstallFile)) != 0 && retries-- != 0) Sleep(500);
  if (left == 0) {
    RemoveDirectoryA(directory);  // only if empty: other files and subdirectories keep it
    return;
  }
  RemoveMatchingFiles(directory, IsInstallFile, 1);
  // The directory last: it goes at the restart only once it is empty.
  MoveFileExACall moveFile = reinterpret_cast<MoveFileExACall>(KernelFunction("MoveFileExA"));
  if (moveFile != NULL) moveFile(directory, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
}
