// Runs the setup.exe beside it at a base other than its own, as this
// process's program, so that every address in setup.exe's code and data
// passes through its base relocations. Wine 8.0 starts no program whose
// preferred base is taken ("wine: failed to start"), so the move is made
// here: this program sits at setup.exe's preferred base (the linker's
// default for both), LoadLibraryEx therefore maps setup.exe elsewhere, and
// this program then does what the loader does for a program: it applies
// the relocations (Wine 8.0 leaves them undone for a program loaded as a
// library; a loader that did them has written the new base into the
// header), fills in the import address table and calls the entry point,
// which ends the process. setup.exe's code then finds this program's command
// line, directory and resources (the same setup.rc) as its own.
//
// Exit codes before the hand-off: 2 no setup.exe beside it, 3 setup.exe did
// not prefer this program's base, 4 a relocation of an unknown kind, 5 an
// import that was not found.
#include <windows.h>

namespace {

template <typename T>
T* At(HMODULE image, DWORD rva) {
  return reinterpret_cast<T*>(reinterpret_cast<char*>(image) + rva);
}

// Moves every address the base relocations name by delta, a page at a time.
bool ApplyRelocations(HMODULE image, const IMAGE_NT_HEADERS* nt, ULONG_PTR delta) {
  const IMAGE_DATA_DIRECTORY& relocations = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
  for (DWORD at = 0; at + sizeof(IMAGE_BASE_RELOCATION) <= relocations.Size;) {
    auto* block = At<IMAGE_BASE_RELOCATION>(image, relocations.VirtualAddress + at);
    char* page = At<char>(image, block->VirtualAddress);
    // An address at the page's last bytes runs into the next page, which
    // is made writable too; each page gets its own protection back.
    DWORD previous = 0;
    DWORD nextPrevious = 0;
    VirtualProtect(page, 0x1000, PAGE_READWRITE, &previous);
    VirtualProtect(page + 0x1000, 1, PAGE_READWRITE, &nextPrevious);
    auto* entries = reinterpret_cast<WORD*>(block + 1);
    DWORD count = (block->SizeOfBlock - sizeof(*block)) / sizeof(WORD);
    for (DWORD i = 0; i < count; ++i) {
      char* target = page + (entries[i] & 0xFFF);
      switch (entries[i] >> 12) {
        case IMAGE_REL_BASED_ABSOLUTE:  // padding
          break;
        case IMAGE_REL_BASED_HIGHLOW:
          *reinterpret_cast<DWORD*>(target) += (DWORD)delta;
          break;
        case IMAGE_REL_BASED_DIR64:
          *reinterpret_cast<ULONGLONG*>(target) += delta;
          break;
        default:
          return false;
      }
    }
    if (nextPrevious != 0) VirtualProtect(page + 0x1000, 1, nextPrevious, &nextPrevious);
    VirtualProtect(page, 0x1000, previous, &previous);
    at += block->SizeOfBlock;
  }
  return true;
}

bool FillImports(HMODULE image, const IMAGE_NT_HEADERS* nt) {
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* d = At<IMAGE_IMPORT_DESCRIPTOR>(image, imports.VirtualAddress); d->Name != 0; ++d) {
    HMODULE dll = LoadLibraryA(At<char>(image, d->Name));
    if (dll == NULL) return false;
    auto* names = At<IMAGE_THUNK_DATA>(image, d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk);
    auto* slots = At<IMAGE_THUNK_DATA>(image, d->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      FARPROC function =
          IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)
              ? GetProcAddress(dll, MAKEINTRESOURCEA(IMAGE_ORDINAL(names->u1.Ordinal)))
              : GetProcAddress(dll, At<IMAGE_IMPORT_BY_NAME>(image, names->u1.AddressOfData)->Name);
      if (function == NULL) return false;
      DWORD previous = 0;
      VirtualProtect(slots, sizeof(*slots), PAGE_READWRITE, &previous);
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(function);
      VirtualProtect(slots, sizeof(*slots), previous, &previous);
    }
  }
  return true;
}

}  // namespace

int WINAPI WinMain(HINSTANCE self, HINSTANCE, LPSTR, int) {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
  while (length > 0 && path[length - 1] != '\\') --length;
  lstrcpynA(path + length, "setup.exe", MAX_PATH - length);
  HMODULE image = LoadLibraryExA(path, NULL, 0);
  if (image == NULL) return 2;
  auto* nt = At<IMAGE_NT_HEADERS>(image, At<IMAGE_DOS_HEADER>(image, 0)->e_lfanew);
  ULONG_PTR at = reinterpret_cast<ULONG_PTR>(image);
  if (nt->OptionalHeader.ImageBase == reinterpret_cast<ULONG_PTR>(self)) {
    if (!ApplyRelocations(image, nt, at - nt->OptionalHeader.ImageBase)) return 4;
  } else if (nt->OptionalHeader.ImageBase != at) {
    return 3;
  }
  if (!FillImports(image, nt)) return 5;
  reinterpret_cast<void (*)(void)>(At<char>(image, nt->OptionalHeader.AddressOfEntryPoint))();
  return 6;  // not reached: the entry point ends the process
}
