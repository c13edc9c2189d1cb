// The please-wait dialog: a modeless "Setup" window with one centred line of
// text, shown while the pack files are expanded. It handles no command, so
// neither its close box nor Esc dismisses it; the launcher destroys it.
#include "launcher.h"

#include "control_enhancements.h"

// Receives the dialog's title, string IDS_SETUP_CAPTION.
char PleaseWaitTitle[PleaseWaitTitleSize];

namespace {

// A translated title and line (setuppack media --strings) may hold letters
// the code page lacks. The dialog is a narrow window: its procedures would
// pass a UTF-16 text on in the code page, and its line was made narrow from
// the template. DefWindowProcW stores a text as it is, and Windows NT and
// later draw the caption and a static's text from what is stored.
void SetWideText(HWND window, const WCHAR* text) { DefWindowProcW(window, WM_SETTEXT, 0, (LPARAM)text); }

// The line as the template holds it: the template ends with it (its one
// control's text after the static class, 0xFFFF 0x0082), its zero and an
// empty creation-data count.
void SetWideLine(HWND dialog) {
  HRSRC found = FindResourceW(LauncherInstance, MAKEINTRESOURCEW(IDD_PLEASE_WAIT), MAKEINTRESOURCEW(5));
  HGLOBAL loaded = found != NULL ? LoadResource(LauncherInstance, found) : NULL;
  const WCHAR* start = loaded != NULL ? (const WCHAR*)LockResource(loaded) : NULL;
  if (start == NULL) return;
  const WCHAR* text = start + SizeofResource(LauncherInstance, found) / 2 - 2;
  while (text - 2 > start && (text[-1] != 0x0082 || text[-2] != 0xFFFF)) --text;
  if (text - 2 > start) SetWideText(GetWindow(dialog, GW_CHILD), text);
}

}  // namespace

INT_PTR CALLBACK PleaseWaitDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  (void)wParam;
  (void)lParam;
  if (message == WM_INITDIALOG) {
    // Subclassed through the shared registry and centred in the work area.
    EnhanceDialog(dialog);
    if (LoadStringA(LauncherInstance, IDS_SETUP_CAPTION, PleaseWaitTitle, PleaseWaitTitleSize) <= 0) {
      PleaseWaitTitle[0] = '\0';
    }
    // Windows 95, 98 and Me have no wide strings (LoadStringW loads nothing):
    // there the narrow title and line are all there is.
    WCHAR wideTitle[PleaseWaitTitleSize];
    if (LoadStringW(LauncherInstance, IDS_SETUP_CAPTION, wideTitle, PleaseWaitTitleSize) > 0) {
      SetWideText(dialog, wideTitle);
      SetWideLine(dialog);
    } else {
      SetWindowTextA(dialog, PleaseWaitTitle);
    }
  }
  // 0 on WM_INITDIALOG keeps the system from moving the focus; 0 for every
  // other message leaves it to the default dialog handling.
  return 0;
}
