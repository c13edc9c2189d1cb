// The search path of DLLs loaded by name, narrowed at entry: setup.exe runs
// from download folders and removable media, often elevated, and a DLL
// planted beside it or in its current directory must not be loaded in place
// of the system's.
#pragma once

#include <stdint.h>

// What RestrictDllSearchPath achieved, as bits.
enum {
  DllSearchSystemOnly = 1,          // SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)
  DllSearchNoCurrentDirectory = 2,  // SetDllDirectoryA("")
};

// Restricts the DLLs loaded by name to the system folder where the system
// offers that, and drops the current directory from the search. Both calls
// are looked up at run time: a system without them (older Windows) keeps its
// default search and the program still starts. Returns the bits of the calls
// that were made and succeeded.
uint32_t RestrictDllSearchPath(void);

// A KERNEL32 function that older systems lack, looked up at run time so that
// setup.exe still starts there; NULL when it is missing. Cast it to its type.
typedef void (*KernelFunctionAddress)(void);
KernelFunctionAddress KernelFunction(const char* name);
