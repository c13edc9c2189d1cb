#include "test_windows.h"

#include <map>
#include <vector>

const char kProbeClassName[] = "DialogTestProbe";

namespace {

MessageLog probeLog;
std::map<std::pair<HWND, UINT>, std::function<void()>> probeCallbacks;

struct SpyRecord {
  WNDPROC original;
  MessageLog* log;
};
std::map<HWND, SpyRecord> spies;

LRESULT CALLBACK SpyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto found = spies.find(window);
  if (found == spies.end()) return DefWindowProcA(window, message, wParam, lParam);
  SpyRecord record = found->second;
  record.log->push_back({window, message, wParam, lParam});
  if (message == WM_NCDESTROY) spies.erase(window);
  return CallWindowProcA(record.original, window, message, wParam, lParam);
}

bool IsKeyboardMessage(UINT message) { return message >= WM_KEYFIRST && message <= WM_KEYLAST; }

}  // namespace

MessageLog MessagesOf(const MessageLog& log, UINT message) {
  MessageLog matching;
  for (const RecordedMessage& entry : log) {
    if (entry.message == message) matching.push_back(entry);
  }
  return matching;
}

int CountOf(const MessageLog& log, UINT message, WPARAM wParam) {
  int count = 0;
  for (const RecordedMessage& entry : log) {
    if (entry.message == message && entry.wParam == wParam) ++count;
  }
  return count;
}

LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  probeLog.push_back({window, message, wParam, lParam});
  auto found = probeCallbacks.find({window, message});
  if (found != probeCallbacks.end()) {
    std::function<void()> callback = found->second;
    probeCallbacks.erase(found);
    callback();
  }
  if (message == kProbeEcho) return static_cast<LRESULT>(lParam ^ static_cast<LPARAM>(wParam));
  if (message == kProbeCallback) return 0x5A5A;
  return DefWindowProcA(window, message, wParam, lParam);
}

void RegisterProbeClass(const char* className) {
  WNDCLASSA probeClass = {};
  if (GetClassInfoA(GetModuleHandleA(NULL), className, &probeClass)) return;
  probeClass.lpfnWndProc = ProbeProc;
  probeClass.hInstance = GetModuleHandleA(NULL);
  probeClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  probeClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
  probeClass.lpszClassName = className;
  RegisterClassA(&probeClass);
}

HWND CreateProbeWindow(DWORD style, HWND parent, const char* className) {
  RegisterProbeClass(className);
  int x = (style & WS_CHILD) ? 0 : 50;
  return CreateWindowExA(0, className, "probe", style, x, x, 120, 80, parent, NULL, GetModuleHandleA(NULL),
                         NULL);
}

MessageLog& ProbeLog() { return probeLog; }

void SetProbeCallback(HWND window, UINT message, std::function<void()> callback) {
  probeCallbacks[{window, message}] = std::move(callback);
}

void ClearProbeCallbacks() { probeCallbacks.clear(); }

void InstallSpy(HWND window, MessageLog* log) {
  WNDPROC original = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC));
  spies[window] = {original, log};
  SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SpyProc));
}

DialogTemplate::DialogTemplate(DWORD style, short cx, short cy) {
  words_.push_back(LOWORD(style));
  words_.push_back(HIWORD(style));
  words_.push_back(0);  // extended style
  words_.push_back(0);
  words_.push_back(0);  // item count, filled in by Data()
  words_.push_back(0);  // x
  words_.push_back(0);  // y
  words_.push_back(static_cast<WORD>(cx));
  words_.push_back(static_cast<WORD>(cy));
  words_.push_back(0);  // no menu
  words_.push_back(0);  // standard dialog class
  AppendText(L"Dialog test");
}

DialogTemplate& DialogTemplate::Add(const wchar_t* className, DWORD style, short x, short y, short cx,
                                    short cy, WORD id, const wchar_t* text) {
  AlignToDword();
  words_.push_back(LOWORD(style));
  words_.push_back(HIWORD(style));
  words_.push_back(0);
  words_.push_back(0);
  words_.push_back(static_cast<WORD>(x));
  words_.push_back(static_cast<WORD>(y));
  words_.push_back(static_cast<WORD>(cx));
  words_.push_back(static_cast<WORD>(cy));
  words_.push_back(id);
  AppendText(className);
  AppendText(text);
  words_.push_back(0);  // no creation data
  ++itemCount_;
  return *this;
}

const DLGTEMPLATE* DialogTemplate::Data() {
  words_[4] = itemCount_;
  return reinterpret_cast<const DLGTEMPLATE*>(words_.data());
}

void DialogTemplate::AppendText(const wchar_t* text) {
  for (; *text != L'\0'; ++text) words_.push_back(static_cast<WORD>(*text));
  words_.push_back(0);
}

void DialogTemplate::AlignToDword() {
  if (words_.size() % 2 != 0) words_.push_back(0);
}

namespace {

INT_PTR CALLBACK TestDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    TestDialog* dialog = reinterpret_cast<TestDialog*>(lParam);
    SetWindowLongPtrA(window, DWLP_USER, lParam);
    dialog->window = window;
    if (dialog->prepare) dialog->prepare(window);
    if (dialog->enhance != nullptr) dialog->enhance(window);
    return TRUE;
  }
  TestDialog* dialog = reinterpret_cast<TestDialog*>(GetWindowLongPtrA(window, DWLP_USER));
  if (message == WM_COMMAND && dialog != nullptr) {
    dialog->commands.push_back({window, message, wParam, lParam});
    return TRUE;
  }
  return FALSE;
}

}  // namespace

HWND CreateTestDialog(DialogTemplate& dialogTemplate, TestDialog* dialog) {
  HWND window = CreateDialogIndirectParamA(GetModuleHandleA(NULL), dialogTemplate.Data(), NULL,
                                           TestDialogProc, reinterpret_cast<LPARAM>(dialog));
  if (window != NULL) {
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    PumpPendingMessages();
  }
  return window;
}

void PumpPendingMessages() {
  MSG message;
  while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

void PumpMessagesFor(DWORD milliseconds) {
  DWORD start = GetTickCount();
  do {
    PumpPendingMessages();
    MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
  } while (GetTickCount() - start < milliseconds);
  PumpPendingMessages();
}

namespace {

// A display that has hung, not a slow one: every wait below ends as soon as
// the state it waits for is there.
const DWORD kGiveUpMs = 60000;

int sentinelsSeen = 0;

// Dispatches messages until `done` holds. Keyboard messages are appended to
// `retrieved`; the F12 sentinel reaches no window and is only counted.
bool PumpUntil(const std::function<bool()>& done, MessageLog* retrieved) {
  DWORD start = GetTickCount();
  for (;;) {
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
      if (IsKeyboardMessage(message.message) && message.wParam == VK_F12) {
        if (message.message == WM_KEYUP) ++sentinelsSeen;
        continue;
      }
      if (retrieved != nullptr && IsKeyboardMessage(message.message)) {
        retrieved->push_back({message.hwnd, message.message, message.wParam, message.lParam});
      }
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    if (done()) return true;
    if (GetTickCount() - start > kGiveUpMs) return false;
    MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
  }
}

// The virtual key of an xdotool key name used as a modifier.
int VirtualKeyOf(const std::string& name) {
  if (name == "ctrl") return VK_CONTROL;
  if (name == "shift") return VK_SHIFT;
  if (name == "alt") return VK_MENU;
  return 0;
}

}  // namespace

bool ActivateForKeys(HWND window, HWND focus) {
  auto active = [&] {
    SetForegroundWindow(window);
    SetActiveWindow(window);
    if (focus != NULL) SetFocus(focus);
    PumpPendingMessages();
    return GetForegroundWindow() == window && (focus == NULL || GetFocus() == focus);
  };
  return PumpUntil(active, nullptr);
}

bool SendKeysUntil(const std::string& commands, const std::function<bool()>& done, MessageLog* retrieved) {
  // Wine starts Unix programs given by a Unix path on drive Z:. The shell
  // finds xdotool on PATH; DISPLAY comes with the environment.
  std::string commandLine = "Z:\\bin\\sh -c \"xdotool " + commands + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(NULL, &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
    return false;
  if (process.hProcess != NULL) CloseHandle(process.hProcess);
  if (process.hThread != NULL) CloseHandle(process.hThread);
  bool reached = PumpUntil(done, retrieved);
  PumpPendingMessages();
  return reached;
}

bool SendKeysThroughXTest(const std::string& commands, MessageLog* retrieved) {
  int before = sentinelsSeen;
  return SendKeysUntil(
      commands + " key F12", [&] { return sentinelsSeen > before; }, retrieved);
}

bool WaitForAsyncKeyState(int virtualKey, bool down) {
  // Wine answers from a copy of the key state for 50 ms after each question,
  // so the state is asked again until it changes.
  return PumpUntil([&] { return (GetAsyncKeyState(virtualKey) < 0) == down; }, nullptr);
}

bool SendKeysHolding(const std::string& modifiers, const std::string& keys, MessageLog* retrieved) {
  std::vector<std::string> names;
  for (size_t at = 0; at < modifiers.size();) {
    size_t end = modifiers.find(' ', at);
    if (end == std::string::npos) end = modifiers.size();
    names.push_back(modifiers.substr(at, end - at));
    at = end + 1;
  }
  std::string down, up;
  for (const std::string& name : names) {
    down += "keydown " + name + " ";
    up = "keyup " + name + " " + up;
  }
  bool held = SendKeysThroughXTest(down);
  for (const std::string& name : names) held = held && WaitForAsyncKeyState(VirtualKeyOf(name), true);
  bool sent = held && SendKeysThroughXTest(keys, retrieved);
  bool released = SendKeysThroughXTest(up);
  for (const std::string& name : names)
    released = released && WaitForAsyncKeyState(VirtualKeyOf(name), false);
  return sent && released;
}

void ReleaseModifierKeys() {
  if (GetAsyncKeyState(VK_CONTROL) < 0 || GetAsyncKeyState(VK_SHIFT) < 0 || GetAsyncKeyState(VK_TAB) < 0) {
    SendKeysThroughXTest("keyup Tab keyup shift keyup ctrl");
    WaitForAsyncKeyState(VK_CONTROL, false);
    WaitForAsyncKeyState(VK_SHIFT, false);
  }
}

WNDPROC CurrentProcedure(HWND window) {
  return reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC));
}
