#include <windows.h>

#include "dll_search_path.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace {

typedef BOOL(WINAPI* SetDefaultDllDirectoriesCall)(DWORD directoryFlags);
typedef BOOL(WINAPI* SetDllDirectoryACall)(LPCSTR pathName);

}  // namespace

// GetProcAddress's result as the generic function type, which casts to any
// other without warnings on both builds.
KernelFunctionAddress KernelFunction(const char* name) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  return kernel != NULL ? reinterpret_cast<KernelFunctionAddress>(GetProcAddress(kernel, name)) : NULL;
}

uint32_t RestrictDllSearchPath(void) {
  uint32_t restricted = 0;
  SetDefaultDllDirectoriesCall setDefault =
      reinterpret_cast<SetDefaultDllDirectoriesCall>(KernelFunction("SetDefaultDllDirectories"));
  if (setDefault != NULL && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) restricted |= DllSearchSystemOnly;
  // Made whatever the call above did: where SetDefaultDllDirectories is
  // missing (Windows XP SP1 to 7 without its update), this one alone keeps
  // the current directory out.
  SetDllDirectoryACall setDirectory =
      reinterpret_cast<SetDllDirectoryACall>(KernelFunction("SetDllDirectoryA"));
  if (setDirectory != NULL && setDirectory("")) restricted |= DllSearchNoCurrentDirectory;
  return restricted;
}
