// SourceDir from the module's wide file name. The narrow name the system
// gives (GetModuleFileNameA) writes characters that the ANSI code page lacks
// as '?' or, by best fit, as other characters (Ł as L, U+FF02 as a double
// quote): a folder of another name, or a quote inside the installer's quoted
// first argument. So the folder is taken from the wide name and used only in
// a form that the code page writes exactly: as it is, or as its short (8.3)
// form, which names the same folder in characters the code page has.
#include "launcher.h"

#include "dll_search_path.h"  // KernelFunction

namespace {

typedef DWORD(WINAPI* GetModuleFileNameWCall)(HMODULE module, LPWSTR name, DWORD size);
typedef DWORD(WINAPI* GetShortPathNameWCall)(LPCWSTR longPath, LPWSTR shortPath, DWORD size);

// The longest folder whose pack file paths (folder, backslash, an 8.3 name)
// the narrow file functions take: MAX_PATH characters with the zero.
const uint32_t LongestSourceDirectory = MAX_PATH - sizeof("\\" SETUP_SCRIPT_SOURCE_NAME);

// A form of the folder of length characters, written into buffer with
// NarrowExactly's result exact, can be SourceDir: written exactly, short
// enough, and free of double quotes.
__attribute__((noinline)) int UsableForm(int exact, uint32_t length, const char* buffer) {
  if (!exact || length > LongestSourceDirectory) return 0;
  for (const char* p = buffer; *p != '\0'; ++p) {
    if (*p == '"') return 0;  // a trail byte is never 0x22
  }
  return 1;
}

// The module's wide file name into name (PathBufferSize characters): its
// length, or 0 where the system has no wide names (the Windows 95 family) or
// none could be read. A name cut to the buffer gives PathBufferSize.
DWORD ModuleWideName(HMODULE module, WCHAR* name) {
  GetModuleFileNameWCall wideName =
      reinterpret_cast<GetModuleFileNameWCall>(KernelFunction("GetModuleFileNameW"));
  DWORD length = wideName != NULL ? wideName(module, name, PathBufferSize) : 0;
  name[PathBufferSize - 1] = L'\0';  // a name cut to the buffer is not ended everywhere
  return length;
}

}  // namespace

int WideToNarrow(UINT codePage, DWORD flags, const WCHAR* wide, int length, char* buffer, uint32_t size,
                 BOOL* usedDefault) {
  return WideCharToMultiByte(codePage, flags, wide, length, buffer, (int)size, NULL, usedDefault);
}

int NarrowExactly(UINT codePage, const WCHAR* wide, char* buffer, uint32_t size) {
  BOOL usedDefault = FALSE;
  int written = WideToNarrow(codePage, WC_NO_BEST_FIT_CHARS, wide, -1, buffer, size, &usedDefault);
  // Refused where a code page has no best fit to turn off (UTF-8, which
  // writes every character as itself) and on systems older than the flag
  // (Windows NT 4, whose narrow names were always this conversion): then the
  // plain one. A buffer too small fails both.
  if (written == 0) written = WideToNarrow(codePage, 0, wide, -1, buffer, size, NULL);
  return written > 0 && !usedDefault ? 1 : 0;
}

int GetSourceDirectory(HMODULE module, char* buffer, uint32_t size) {
  if (buffer == NULL || size == 0) return SourceDirMissing;
  buffer[0] = '\0';
  WCHAR folder[PathBufferSize];
  DWORD length = ModuleWideName(module, folder);
  // The Windows 95 family has no wide name: the narrow one, as ever.
  if (length == 0) return GetModuleDirectory(module, buffer, size);
  if (length < PathBufferSize) {
    // Backwards in the wide name: no character of it holds another's code.
    while (length > 0 && folder[length - 1] != L'\\') --length;
    if (length == 0) return SourceDirMissing;
    folder[--length] = L'\0';
    if (UsableForm(NarrowExactly(CP_ACP, folder, buffer, size), length, buffer)) return SourceDirFound;
    WCHAR shortFolder[PathBufferSize];
    GetShortPathNameWCall shortName =
        reinterpret_cast<GetShortPathNameWCall>(KernelFunction("GetShortPathNameW"));
    DWORD shortLength = shortName != NULL ? shortName(folder, shortFolder, PathBufferSize) : 0;
    if (shortLength > 0 && shortLength < PathBufferSize &&
        UsableForm(NarrowExactly(CP_ACP, shortFolder, buffer, size), shortLength, buffer)) {
      return SourceDirFound;
    }
  }
  // No form of it will do (8.3 names turned off on its volume, a short form
  // still too long, a name cut to the buffer): the folder as well as the
  // code page writes it, for the message.
  NarrowExactly(CP_ACP, folder, buffer, size);
  buffer[size - 1] = '\0';
  return SourceDirUnusable;
}

HANDLE OpenOwnProgram(HMODULE module, char* name, uint32_t size) {
  WCHAR wide[PathBufferSize];
  DWORD length = ModuleWideName(module, wide);
  if (length != 0 && length < PathBufferSize) {
    WideToNarrow(CP_ACP, 0, wide, -1, name, size, NULL);  // best fit will do in a message
    name[size - 1] = '\0';
    return CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  }
  length = GetModuleFileNameA(module, name, size);
  if (length == 0 || length >= size) {
    name[0] = '\0';
    return INVALID_HANDLE_VALUE;
  }
  return CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
}
