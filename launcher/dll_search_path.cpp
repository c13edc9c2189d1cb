#include <windows.h>

#include "dll_search_path.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace {

typedef BOOL(WINAPI* SetDefaultDllDirectoriesCall)(DWORD directoryFlags);
typedef BOOL(WINAPI* SetDllDirectoryACall)(LPCSTR pathName);

// GetProcAddress's result as the function it is; the detour through the
// generic function type keeps the cast free of warnings on both builds.
template <typename Call>
Call LookUp(HMODULE module, const char* name) {
  return reinterpret_cast<Call>(reinterpret_cast<void (*)(void)>(GetProcAddress(module, name)));
}

}  // namespace

uint32_t RestrictDllSearchPath(void) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == NULL) return 0;
  uint32_t restricted = 0;
  SetDefaultDllDirectoriesCall setDefault =
      LookUp<SetDefaultDllDirectoriesCall>(kernel, "SetDefaultDllDirectories");
  if (setDefault != NULL && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) restricted |= DllSearchSystemOnly;
  // Made whatever the call above did: where SetDefaultDllDirectories is
  // missing (Windows XP SP1 to 7 without its update), this one alone keeps
  // the current directory out.
  SetDllDirectoryACall setDirectory = LookUp<SetDllDirectoryACall>(kernel, "SetDllDirectoryA");
  if (setDirectory != NULL && setDirectory("")) restricted |= DllSearchNoCurrentDirectory;
  return restricted;
}
