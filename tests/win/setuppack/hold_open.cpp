// hold_open FILE MARK: opens FILE without sharing it with anyone, creates
// MARK to say so, and keeps FILE open until MARK is removed.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  HANDLE file = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  HANDLE mark = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  if (mark == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(mark);
  while (GetFileAttributesW(argv[2]) != INVALID_FILE_ATTRIBUTES) Sleep(20);
  CloseHandle(file);
  return 0;
}
