// The process entry point of setup.exe: no C runtime. It narrows the DLL
// search path before anything else can load a DLL, hands the instance and the
// command tail to LauncherMain and ends the process with its result.
#include "dll_search_path.h"
#include "launcher.h"

extern "C" __attribute__((force_align_arg_pointer, noreturn)) void SetupEntry(void) {
  RestrictDllSearchPath();
  UINT code = (UINT)LauncherMain(GetModuleHandleA(NULL), ProcessCommandTail());
  ExitProcess(code);
}
