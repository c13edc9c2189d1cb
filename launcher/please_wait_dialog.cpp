// The please-wait dialog: a modeless "Setup" window with one centred line of
// text, shown while the pack files are expanded. It handles no command, so
// neither its close box nor Esc dismisses it; the launcher destroys it.
#include "launcher.h"

#include "control_enhancements.h"

// Receives the dialog's title, string IDS_SETUP_CAPTION.
char PleaseWaitTitle[PleaseWaitTitleSize];

INT_PTR CALLBACK PleaseWaitDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  (void)wParam;
  (void)lParam;
  if (message == WM_INITDIALOG) {
    // Subclassed through the shared registry and centred in the work area.
    EnhanceDialog(dialog);
    if (LoadStringA(LauncherInstance, IDS_SETUP_CAPTION, PleaseWaitTitle, PleaseWaitTitleSize) <= 0) {
      PleaseWaitTitle[0] = '\0';
    }
    // Shown from its UTF-16 form where the system has one (NT and later), so
    // that a translated title keeps the letters the code page lacks.
    WCHAR wideTitle[PleaseWaitTitleSize];
    if (LoadStringW(LauncherInstance, IDS_SETUP_CAPTION, wideTitle, PleaseWaitTitleSize) <= 0 ||
        !SetWindowTextW(dialog, wideTitle)) {
      SetWindowTextA(dialog, PleaseWaitTitle);
    }
  }
  // 0 on WM_INITDIALOG keeps the system from moving the focus; 0 for every
  // other message leaves it to the default dialog handling.
  return 0;
}
