// Path operations and the clean-up of the temporary directory.
#include "launcher.h"

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

// Deletes every file of directory whose name predicate accepts, or, with
// atRestart, schedules it for deletion when Windows restarts. Returns how
// many of them it could not delete (or schedule).
uint32_t RemoveMatchingFiles(const char* directory, FileNamePredicate predicate, MoveFileExACall atRestart) {
  if (directory == NULL || directory[0] == '\0' || predicate == NULL) return 0;
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
      BOOL removed =
          atRestart != NULL ? atRestart(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT) : DeleteFileA(path);
      if (!removed) ++failed;
    }
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return failed;
}

}  // namespace

uint32_t DeleteMatchingFiles(const char* directory, FileNamePredicate predicate) {
  return RemoveMatchingFiles(directory, predicate, NULL);
}

void CleanUpAfterInstaller(const char* directory, uint32_t retries) {
  if (directory == NULL || directory[0] == '\0') return;
  uint32_t left;
  while ((left = DeleteMatchingFiles(directory, IsInstallFile)) != 0 && retries-- != 0) Sleep(500);
  if (left == 0) {
    RemoveDirectoryA(directory);  // only if empty: other files and subdirectories keep it
    return;
  }
  // Not in every Windows (95 lacks it), so looked up, never imported.
  MoveFileExACall atRestart = reinterpret_cast<MoveFileExACall>(
      reinterpret_cast<void (*)(void)>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "MoveFileExA")));
  if (atRestart == NULL) return;
  RemoveMatchingFiles(directory, IsInstallFile, atRestart);
  atRestart(directory, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
}
