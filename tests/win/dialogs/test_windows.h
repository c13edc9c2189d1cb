// Shared helpers of the dialog helper tests: real windows whose messages are
// recorded, in-memory dialog templates, message pumping, and keystrokes sent
// through the X server's XTest extension (xdotool), so that GetAsyncKeyState
// sees them exactly as it sees a user's keys.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct RecordedMessage {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

using MessageLog = std::vector<RecordedMessage>;

// Messages of the log with this message number, in order.
MessageLog MessagesOf(const MessageLog& log, UINT message);
// Number of messages with this message number and wParam.
int CountOf(const MessageLog& log, UINT message, WPARAM wParam);

// ---- Probe windows: a class whose procedure records every message in a log
// and answers the private messages below, so tests can see what reaches a
// window's previous procedure.
extern const char kProbeClassName[];
const UINT kProbeEcho = WM_APP + 1;      // returns lParam ^ wParam
const UINT kProbeCallback = WM_APP + 2;  // runs the window's callback, returns 0x5A5A
// Registers the probe procedure under this class name (once).
void RegisterProbeClass(const char* className = kProbeClassName);
HWND CreateProbeWindow(DWORD style = WS_POPUP, HWND parent = NULL, const char* className = kProbeClassName);
// Everything every probe window has received, in order.
MessageLog& ProbeLog();
// A callback run once, the next time the probe receives this message.
void SetProbeCallback(HWND window, UINT message, std::function<void()> callback);
void ClearProbeCallbacks();
LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// ---- Spies: slid under a window's current procedure, they record what
// reaches it and pass everything on unchanged.
void InstallSpy(HWND window, MessageLog* log);

// ---- Dialog templates built in memory.
class DialogTemplate {
 public:
  DialogTemplate(DWORD style, short cx, short cy);
  DialogTemplate& Add(const wchar_t* className, DWORD style, short x, short y, short cx, short cy, WORD id,
                      const wchar_t* text = L"");
  const DLGTEMPLATE* Data();

 private:
  void AppendText(const wchar_t* text);
  void AlignToDword();
  std::vector<WORD> words_;
  WORD itemCount_ = 0;
};

// A modeless test dialog: in WM_INITDIALOG `prepare` runs first, then
// `enhance` when given (EnhanceDialog, say); WM_COMMAND is recorded.
struct TestDialog {
  std::function<void(HWND)> prepare;
  void (*enhance)(HWND) = nullptr;
  MessageLog commands;
  HWND window = NULL;
};
HWND CreateTestDialog(DialogTemplate& dialogTemplate, TestDialog* dialog);

// Dispatches what is queued (no dialog-manager key handling).
void PumpPendingMessages();
// Dispatches messages for about this many milliseconds.
void PumpMessagesFor(DWORD milliseconds);

// Brings the window to the front of the Wine desktop and gives `focus` the
// keyboard focus; true once the window is the foreground window and `focus`
// has the focus (tried again until then; a minute means a hung display).
bool ActivateForKeys(HWND window, HWND focus);

// Runs `xdotool COMMANDS key F12` on the X display and dispatches messages
// until the F12 sentinel comes back through the queue, so that every earlier
// keystroke has been handled. Keyboard messages the loop retrieved (sentinel
// excluded) are appended to `retrieved` when given. False on a timeout.
bool SendKeysThroughXTest(const std::string& commands, MessageLog* retrieved = nullptr);
// Starts `xdotool COMMANDS` and dispatches messages, keyboard messages
// appended to `retrieved`, until `done` holds. False when it never does.
bool SendKeysUntil(const std::string& commands, const std::function<bool()>& done, MessageLog* retrieved);
// Dispatches messages until GetAsyncKeyState sees the key down (or up).
bool WaitForAsyncKeyState(int virtualKey, bool down);
// Presses the modifiers ("ctrl", "ctrl shift"), waits until GetAsyncKeyState
// sees them down, sends `keys` ("key Tab") and lets the modifiers go only
// once every message of those keys has been handled: code that reads the
// modifiers' state as it is when it runs would otherwise meet the keys after
// the modifiers were released on a loaded machine, as a user who lets go of
// Ctrl that early would see too.
bool SendKeysHolding(const std::string& modifiers, const std::string& keys, MessageLog* retrieved = nullptr);
// Releases Ctrl, Shift and Tab in case a failed test left them down.
void ReleaseModifierKeys();

// The window procedure now installed on the window.
WNDPROC CurrentProcedure(HWND window);
