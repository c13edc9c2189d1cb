// Subclass registry and the Ctrl+Tab keyboard hook.
//
// The table is a heap array of slots that grows by 50 and is never compacted,
// so a window keeps its slot index for as long as it is entered. Only Win32
// calls are used: setup.exe links without the C runtime.
#include "subclass_registry.h"

namespace {

struct SubclassEntry {
  HWND hwnd;             // null marks a free slot
  WNDPROC previousProc;  // the procedure the window had when it was entered
};

struct SubclassTable {
  SubclassEntry* entries;  // null while no window is entered
  int capacity;            // slots in entries, 0 or a multiple of 50
  HHOOK keyboardHook;      // the TabKeyHook, installed together with entries
};

const int kSlotsPerAllocation = 50;
// Growth stops short of overflowing the signed slot count.
const int kLargestCapacity = 0x7FFFFFFF - kSlotsPerAllocation;

SubclassTable table;  // all zero at start: no array, no hook

const char kBookmarkClass[] = "BOOKMARK";
const int kClassNameBufferSize = 32;

void ClearSlot(SubclassEntry* slot) {
  slot->hwnd = NULL;
  slot->previousProc = NULL;
}

int FindSlot(HWND window) {
  if (table.entries == NULL || window == NULL) return -1;
  for (int index = 0; index < table.capacity; ++index) {
    if (table.entries[index].hwnd == window) return index;
  }
  return -1;
}

BOOL AnySlotInUse() {
  for (int index = 0; index < table.capacity; ++index) {
    if (table.entries[index].hwnd != NULL) return TRUE;
  }
  return FALSE;
}

SIZE_T BytesForSlots(int slots) { return (SIZE_T)slots * sizeof(SubclassEntry); }

// Creates the first 50-slot array and the thread's keyboard hook.
BOOL CreateTable() {
  void* block = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, BytesForSlots(kSlotsPerAllocation));
  if (block == NULL) return FALSE;
  table.entries = static_cast<SubclassEntry*>(block);
  table.capacity = kSlotsPerAllocation;
  // A hook that cannot be installed only costs the Ctrl+Tab page switch.
  table.keyboardHook = SetWindowsHookExA(WH_KEYBOARD, TabKeyHook, NULL, GetCurrentThreadId());
  return TRUE;
}

void ReleaseTable() {
  HeapFree(GetProcessHeap(), 0, table.entries);
  table.entries = NULL;
  table.capacity = 0;
  if (table.keyboardHook != NULL) {
    UnhookWindowsHookEx(table.keyboardHook);
    table.keyboardHook = NULL;
  }
}

// Adds 50 zero-filled slots behind the existing ones; every entry keeps its
// index. On failure the old array stays exactly as it was.
BOOL GrowTable() {
  if (table.capacity > kLargestCapacity) return FALSE;
  int grownCapacity = table.capacity + kSlotsPerAllocation;
  void* block = HeapReAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, table.entries, BytesForSlots(grownCapacity));
  if (block == NULL) return FALSE;
  table.entries = static_cast<SubclassEntry*>(block);
  table.capacity = grownCapacity;
  return TRUE;
}

BOOL SameText(const char* left, const char* right) {
  while (*left != '\0' && *left == *right) {
    ++left;
    ++right;
  }
  return *left == *right;
}

BOOL IsBookmarkControl(HWND window) {
  char className[kClassNameBufferSize];
  if (GetClassNameA(window, className, kClassNameBufferSize) == 0) return FALSE;
  CharUpperA(className);
  return SameText(className, kBookmarkClass);
}

BOOL IsKeyDownNow(int virtualKey) { return (GetAsyncKeyState(virtualKey) & 0x8000) != 0; }

}  // namespace

BOOL SubclassWindow(HWND window, WNDPROC newProc) {
  if (window == NULL || newProc == NULL) return FALSE;
  // A handle that is no window (or one whose procedure cannot be read)
  // would leave an entry that never sees WM_DESTROY and pins the table.
  if (!IsWindow(window)) return FALSE;

  if (table.entries == NULL && !CreateTable()) return FALSE;

  int chosen = -1;
  for (int index = 0; index < table.capacity; ++index) {
    HWND occupant = table.entries[index].hwnd;
    if (occupant == window) return FALSE;
    if (occupant == NULL && chosen < 0) chosen = index;
  }
  if (chosen < 0) {
    int firstAdded = table.capacity;
    if (!GrowTable()) return FALSE;
    chosen = firstAdded;
  }

  // The entry is complete before the new procedure can receive a message.
  SubclassEntry* slot = &table.entries[chosen];
  ClearSlot(slot);
  slot->previousProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC));
  slot->hwnd = window;
  LONG_PTR replaced = 0;
  if (slot->previousProc != NULL) {
    replaced = SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(newProc));
  }
  if (replaced == 0) {
    // The window's procedure could not be read or replaced (a window of
    // another process, for one): take the entry back and report failure.
    ClearSlot(&table.entries[chosen]);
    if (!AnySlotInUse()) ReleaseTable();
    return FALSE;
  }
  return TRUE;
}

LRESULT ForwardSubclassedMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  int index = FindSlot(window);
  if (index < 0) return 0;

  LRESULT result = CallWindowProcA(table.entries[index].previousProc, window, message, wParam, lParam);
  if (message != WM_DESTROY) return result;

  // The previous procedure may have entered further windows (growing and
  // moving the array) or released others: address the slot by index in the
  // array as it is now, and look again should it no longer hold the window.
  if (index >= table.capacity || table.entries[index].hwnd != window) {
    index = FindSlot(window);
    if (index < 0) return result;
  }
  SubclassEntry* slot = &table.entries[index];
  SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(slot->previousProc));
  ClearSlot(slot);
  if (!AnySlotInUse()) ReleaseTable();
  return result;
}

LRESULT CALLBACK PassThroughProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return ForwardSubclassedMessage(window, message, wParam, lParam);
}

LRESULT CALLBACK TabKeyHook(int code, WPARAM wParam, LPARAM lParam) {
  BOOL keyGoingDown = ((DWORD)lParam & 0x80000000u) == 0;  // auto-repeats included
  if (code == HC_ACTION && wParam == VK_TAB && keyGoingDown && IsKeyDownNow(VK_CONTROL)) {
    HWND dialog = FindPopupAncestor(GetFocus());
    HWND child = dialog != NULL ? GetWindow(dialog, GW_CHILD) : NULL;
    for (; child != NULL; child = GetWindow(child, GW_HWNDNEXT)) {
      if (!IsBookmarkControl(child)) continue;
      WPARAM arrow = IsKeyDownNow(VK_SHIFT) ? VK_LEFT : VK_RIGHT;
      PostMessageA(child, WM_KEYDOWN, arrow, 0);
      SetFocus(child);
      return 1;  // the keystroke is used up: no window receives it
    }
  }
  return CallNextHookEx(table.keyboardHook, code, wParam, lParam);
}

HWND FindPopupAncestor(HWND window) {
  while (window != NULL) {
    DWORD style = (DWORD)GetWindowLongPtrA(window, GWL_STYLE);
    if ((style & WS_POPUP) != 0) return window;
    window = GetParent(window);
  }
  return NULL;
}

int SubclassTableCapacity(void) { return table.capacity; }

int SubclassSlotOfWindow(HWND window) { return FindSlot(window); }

BOOL IsTabKeyHookInstalled(void) { return table.keyboardHook != NULL; }
