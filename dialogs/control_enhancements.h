// Control enhancements and window placement for dialogs.
//
// EnhanceDialog, called from a dialog's WM_INITDIALOG, enters the dialog in
// the subclass registry, centres it in the desktop work area and gives some of
// its direct children a replacement procedure:
//   "STATIC" with style bit 0x0004          -> StaticFrameProc (etched line)
//   "BUTTON" BS_GROUPBOX without a title    -> GroupBoxFrameProc (sunken frame)
//   "COMBOBOX"                              -> ComboClearProc (Delete clears)
//   "EDIT" with ES_MULTILINE                -> MultiLineEditProc (keys)
#pragma once

#include <windows.h>

// Combo boxes with this style bit keep the standard Delete/Backspace handling.
#define COMBO_KEEP_DELETE_KEY_STYLE 0x8000

void EnhanceDialog(HWND dialog);

// Moves the window, keeping its size, its Z order and the activation, so that xPercent of the free
// horizontal space of the work area lies left of it and yPercent of the free
// vertical space above it. Without a readable work area the primary screen
// serves; a window whose rectangle cannot be read stays where it is.
void CenterWindowInWorkArea(HWND window, int xPercent, int yPercent);

LRESULT CALLBACK GroupBoxFrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Paints a sunken edge two pixels wide around the client area, inside left
// untouched; BeginPaint and EndPaint included.
void PaintSunkenFrame(HWND window);
LRESULT CALLBACK StaticFrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK ComboClearProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK MultiLineEditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
