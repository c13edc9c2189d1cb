// What GoogleTest calls in the 32-bit test programs in place of CreateThread
// and OutputDebugStringA (tests/win/CMakeLists.txt renames them when it
// builds GoogleTest). qemu-i386 keeps one GDT for all threads of a process, so
// a thread that reloads %fs or %gs gets the TEB and C library thread block of
// the thread set up last. Wine reloads them after every exception and in its
// signal handlers: a program dies or hangs once it has raised an exception
// after starting a thread, or once a thread ends while an older one waits.
// GoogleTest on Windows sets off both at the first failure (or SCOPED_TRACE):
// it starts a thread to watch the thread that asserts, and it hands every
// failure to OutputDebugStringA, which raises an exception.
#include <windows.h>

namespace {

// The watcher is the thread GoogleTest starts suspended; it would free the
// values GoogleTest keeps for a thread once that thread ends. Without it they
// stay until the program ends. A handle to close stands in for the thread.
HANDLE WINAPI CreateThreadForGoogleTest(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize,
                                        LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                                        LPDWORD threadId) {
  if (flags & CREATE_SUSPENDED) {
    if (threadId) *threadId = 0;
    return CreateEventA(NULL, TRUE, FALSE, NULL);
  }
  return CreateThread(security, stackSize, start, parameter, flags, threadId);
}

// The copy of each failure for a debugger; none reads it here.
void WINAPI DropDebugString(LPCSTR) {}

}  // namespace

// The import slots GoogleTest's renamed calls go through.
extern "C" {
extern HANDLE(WINAPI* const GoogleTestCreateThreadSlot)(
    LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD,
    LPDWORD) __asm__("__imp__GoogleTestCreateThread@24") = CreateThreadForGoogleTest;
extern void(WINAPI* const GoogleTestOutputDebugStringSlot)(LPCSTR) __asm__(
    "__imp__GoogleTestOutputDebugStringA@4") = DropDebugString;
}
