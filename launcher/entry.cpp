// The process entry point of setup.exe: no C runtime. It hands the instance
// and the command tail to LauncherMain and ends the process with its result.
#include "launcher.h"

extern "C" __attribute__((force_align_arg_pointer, noreturn)) void SetupEntry(void) {
  UINT code = (UINT)LauncherMain(GetModuleHandleA(NULL), ProcessCommandTail());
  ExitProcess(code);
}
