// Subclass registry and the Ctrl+Tab keyboard hook.
//
// One process-wide table remembers, for every window given a replacement
// window procedure, the procedure it had before. Replacement procedures end in
// ForwardSubclassedMessage, which passes the message on and undoes the
// subclass at WM_DESTROY. While the table holds entries, a thread keyboard
// hook turns Ctrl+Tab / Ctrl+Shift+Tab into page switches of a "BOOKMARK"
// control in the dialog that has the focus.
//
// Everything runs on the one user-interface thread; nothing here is locked.
#pragma once

#include <windows.h>

// Enters the window in the table and installs newProc. FALSE, with nothing
// changed, for a null window or procedure, a window already entered, a handle
// that is not a window of this process, or when memory runs out.
BOOL SubclassWindow(HWND window, WNDPROC newProc);

// The common tail of every replacement procedure: the previous procedure's
// result for this message; 0, calling nothing, for a window without an entry.
// At WM_DESTROY the previous procedure is put back and the entry released.
LRESULT ForwardSubclassedMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// A replacement procedure that changes nothing; installed on dialogs so that
// their entry keeps the table and the keyboard hook alive.
LRESULT CALLBACK PassThroughProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// WH_KEYBOARD hook: Ctrl+Tab posts VK_RIGHT, Ctrl+Shift+Tab VK_LEFT, to the
// first direct "BOOKMARK" child of the popup holding the focus; returns 1 to
// swallow the keystroke, otherwise the next hook's result.
LRESULT CALLBACK TabKeyHook(int code, WPARAM wParam, LPARAM lParam);

// The window itself or its nearest ancestor with WS_POPUP; NULL if none.
HWND FindPopupAncestor(HWND window);

// Read-only view of the table for tests and diagnostics.
int SubclassTableCapacity(void);
// Index of the window's slot, or -1 when the window has no entry.
int SubclassSlotOfWindow(HWND window);
BOOL IsTabKeyHookInstalled(void);
