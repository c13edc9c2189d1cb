#include "pump_messages.h"

#include <windows.h>

void PumpMessages(void) {
  MSG message;
  // Every message of the thread, any window, removed; a quit message is
  // dispatched like any other and does not end the loop.
  while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
    // The active window is looked up afresh for every message.
    HWND active = GetActiveWindow();
    if (active != NULL && ((DWORD)GetWindowLongA(active, GWL_STYLE) & WS_POPUP) != 0 &&
        IsDialogMessageA(active, &message)) {
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}
