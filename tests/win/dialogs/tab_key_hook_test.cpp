// The Ctrl+Tab keyboard hook with real keystrokes: xdotool sends them through
// the X server's XTest extension into the Wine virtual desktop, so that the
// hook's GetAsyncKeyState sees Ctrl and Shift exactly as a user holds them.
#include <windows.h>

#include <list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dialog_test_fixture.h"

namespace {

// Registered in mixed case: the hook must upper-case before comparing.
const char kBookmarkClassName[] = "BookMark";
const WORD kEditId = 101;
const WORD kBookmarkId = 102;

void EnterDialogOnly(HWND dialog) { SubclassWindow(dialog, PassThroughProc); }

int KeyDownsOf(HWND window, WPARAM key) {
  int count = 0;
  for (const RecordedMessage& entry : ProbeLog()) {
    if (entry.window == window && entry.message == WM_KEYDOWN && entry.wParam == key) ++count;
  }
  return count;
}

int KeyDownsOf(HWND window) {
  int count = 0;
  for (const RecordedMessage& entry : ProbeLog()) {
    if (entry.window == window && entry.message == WM_KEYDOWN) ++count;
  }
  return count;
}

// Presses Tab while the modifiers ("ctrl", "ctrl shift") are held: the hook
// reads their state as it is when it runs.
bool PressTabHolding(const std::string& modifiers, MessageLog* retrieved = nullptr) {
  return SendKeysHolding(modifiers, "key Tab", retrieved);
}

class TabKeyHookKeystrokes : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    if (HasFatalFailure()) return;
    RegisterProbeClass(kBookmarkClassName);
    ASSERT_EQ(0, GetFileAttributesA("Z:\\usr\\bin\\xdotool") == INVALID_FILE_ATTRIBUTES)
        << "xdotool is missing (scripts/install-deps.sh)";
  }

  // A dialog holding an edit and, as a direct child, a "BookMark" control;
  // only the dialog is entered in the table. The edit gets the focus.
  HWND CreateBookmarkDialog(TestDialog* dialog, void (*enter)(HWND) = EnterDialogOnly) {
    DialogTemplate layout(WS_POPUP | WS_CAPTION | WS_VISIBLE | DS_MODALFRAME, 200, 100);
    layout.Add(L"EDIT", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP, 10, 10, 100, 14, kEditId)
        .Add(L"BookMark", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 10, 40, 100, 40, kBookmarkId);
    dialog->enhance = enter;
    dialog->prepare = [this](HWND window) { InstallSpy(GetDlgItem(window, kEditId), &editLog_); };
    HWND window = CreateTestDialog(layout, dialog);
    EXPECT_NE(nullptr, window);
    windows_.push_back(window);
    return window;
  }

  void ExpectTabPassedOnToTheEdit(HWND edit, HWND bookmark, const MessageLog& retrieved) {
    EXPECT_EQ(1, CountOf(retrieved, WM_KEYDOWN, VK_TAB));
    EXPECT_EQ(1, CountOf(editLog_, WM_KEYDOWN, VK_TAB)) << "the edit should have received the Tab";
    EXPECT_EQ(0, KeyDownsOf(bookmark));
    EXPECT_EQ(edit, GetFocus());
  }

  MessageLog editLog_;
};

TEST_F(TabKeyHookKeystrokes, CtrlTabPostsRightArrowToTheBookmarkAndGivesItTheFocus) {
  TestDialog& dialog = NewDialog();
  HWND window = CreateBookmarkDialog(&dialog);
  HWND edit = GetDlgItem(window, kEditId);
  HWND bookmark = GetDlgItem(window, kBookmarkId);
  char className[32] = "";
  GetClassNameA(bookmark, className, sizeof className);
  ASSERT_STREQ(kBookmarkClassName, className);
  ASSERT_TRUE(IsTabKeyHookInstalled());
  ASSERT_TRUE(ActivateForKeys(window, edit));

  MessageLog retrieved;
  ASSERT_TRUE(PressTabHolding("ctrl", &retrieved));

  EXPECT_EQ(1, KeyDownsOf(bookmark, VK_RIGHT));
  EXPECT_EQ(1, KeyDownsOf(bookmark));
  for (const RecordedMessage& entry : MessagesOf(ProbeLog(), WM_KEYDOWN)) EXPECT_EQ(0, entry.lParam);
  EXPECT_EQ(bookmark, GetFocus());
  // No window sees the key going down, the release passes on.
  EXPECT_EQ(0, CountOf(retrieved, WM_KEYDOWN, VK_TAB));
  EXPECT_EQ(0, CountOf(retrieved, WM_CHAR, '\t'));
  EXPECT_EQ(1, CountOf(retrieved, WM_KEYUP, VK_TAB));
  EXPECT_EQ(0, CountOf(editLog_, WM_KEYDOWN, VK_TAB));
  EXPECT_EQ(0, CountOf(editLog_, WM_CHAR, '\t'));
}

TEST_F(TabKeyHookKeystrokes, CtrlShiftTabPostsLeftArrow) {
  TestDialog& dialog = NewDialog();
  HWND window = CreateBookmarkDialog(&dialog);
  HWND bookmark = GetDlgItem(window, kBookmarkId);
  ASSERT_TRUE(ActivateForKeys(window, GetDlgItem(window, kEditId)));

  MessageLog retrieved;
  ASSERT_TRUE(PressTabHolding("ctrl shift", &retrieved));

  EXPECT_EQ(1, KeyDownsOf(bookmark, VK_LEFT));
  EXPECT_EQ(0, KeyDownsOf(bookmark, VK_RIGHT));
  EXPECT_EQ(bookmark, GetFocus());
  EXPECT_EQ(0, CountOf(retrieved, WM_KEYDOWN, VK_TAB));
}

TEST_F(TabKeyHookKeystrokes, HoldingCtrlTabRepeatsTheSwitchWithEveryAutoRepeat) {
  TestDialog& dialog = NewDialog();
  HWND window = CreateBookmarkDialog(&dialog);
  HWND bookmark = GetDlgItem(window, kBookmarkId);
  ASSERT_TRUE(ActivateForKeys(window, GetDlgItem(window, kEditId)));

  // Ctrl and Tab stay down until the X server's auto-repeat (after 660 ms by
  // default, then some 25 keys a second) has switched the page three times.
  MessageLog retrieved;
  bool repeated = SendKeysUntil(
      "keydown ctrl keydown Tab", [&] { return KeyDownsOf(bookmark, VK_RIGHT) >= 3; }, &retrieved);
  ASSERT_TRUE(SendKeysThroughXTest("keyup Tab keyup ctrl", &retrieved));
  ASSERT_TRUE(repeated) << KeyDownsOf(bookmark, VK_RIGHT) << " page switches while Ctrl+Tab was held";
  EXPECT_EQ(0, CountOf(retrieved, WM_KEYDOWN, VK_TAB));
  EXPECT_EQ(bookmark, GetFocus());
}

TEST_F(TabKeyHookKeystrokes, TabAloneIsPassedOn) {
  TestDialog& dialog = NewDialog();
  HWND window = CreateBookmarkDialog(&dialog);
  HWND edit = GetDlgItem(window, kEditId);
  ASSERT_TRUE(ActivateForKeys(window, edit));

  MessageLog retrieved;
  ASSERT_TRUE(SendKeysThroughXTest("key Tab", &retrieved));

  ExpectTabPassedOnToTheEdit(edit, GetDlgItem(window, kBookmarkId), retrieved);
}

TEST_F(TabKeyHookKeystrokes, BookmarkThatIsAGrandchildIsNotFound) {
  TestDialog& dialog = NewDialog();
  HWND grandchild = NULL;
  DialogTemplate layout(WS_POPUP | WS_CAPTION | WS_VISIBLE | DS_MODALFRAME, 200, 100);
  layout.Add(L"EDIT", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP, 10, 10, 100, 14, kEditId);
  dialog.enhance = EnterDialogOnly;
  dialog.prepare = [&](HWND window) {
    InstallSpy(GetDlgItem(window, kEditId), &editLog_);
    HWND panel = CreateProbeWindow(WS_CHILD | WS_VISIBLE, window);
    SetWindowPos(panel, NULL, 10, 60, 150, 60, SWP_NOZORDER);
    grandchild = CreateProbeWindow(WS_CHILD | WS_VISIBLE, panel, kBookmarkClassName);
  };
  HWND window = CreateTestDialog(layout, &dialog);
  ASSERT_NE(nullptr, window);
  windows_.push_back(window);
  HWND edit = GetDlgItem(window, kEditId);
  ASSERT_TRUE(ActivateForKeys(window, edit));

  MessageLog retrieved;
  ASSERT_TRUE(PressTabHolding("ctrl", &retrieved));

  ExpectTabPassedOnToTheEdit(edit, grandchild, retrieved);
}

TEST_F(TabKeyHookKeystrokes, FocusInATopLevelWindowWithoutPopupStyleIsPassedOn) {
  HWND topLevel = CreateProbeWindow(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
  windows_.push_back(topLevel);
  ASSERT_EQ(0u, static_cast<DWORD>(GetWindowLongPtrA(topLevel, GWL_STYLE)) & WS_POPUP);
  HWND edit = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE | WS_BORDER, 5, 5, 100, 20, topLevel, NULL,
                              GetModuleHandleA(NULL), NULL);
  HWND bookmark = CreateProbeWindow(WS_CHILD | WS_VISIBLE, topLevel, kBookmarkClassName);
  InstallSpy(edit, &editLog_);
  ASSERT_TRUE(SubclassWindow(topLevel, PassThroughProc));
  ASSERT_TRUE(ActivateForKeys(topLevel, edit));

  MessageLog retrieved;
  ASSERT_TRUE(PressTabHolding("ctrl", &retrieved));

  ExpectTabPassedOnToTheEdit(edit, bookmark, retrieved);
}

TEST_F(TabKeyHookKeystrokes, OnlyTheKeyDownOfTabWithCtrlHeldIsUsed) {
  TestDialog& dialog = NewDialog();
  HWND window = CreateBookmarkDialog(&dialog);
  HWND edit = GetDlgItem(window, kEditId);
  HWND bookmark = GetDlgItem(window, kBookmarkId);
  ASSERT_TRUE(ActivateForKeys(window, edit));
  const LPARAM tabGoingDown = 0x000F0001;
  const LPARAM tabRepeating = 0x400F0001;
  const LPARAM tabGoingUp = static_cast<LPARAM>(static_cast<LONG>(0xC00F0001u));

  // Without Ctrl, nothing is used.
  ASSERT_FALSE(GetAsyncKeyState(VK_CONTROL) < 0);
  EXPECT_EQ(0, TabKeyHook(HC_ACTION, VK_TAB, tabGoingDown));

  ASSERT_TRUE(SendKeysThroughXTest("keydown ctrl"));
  ASSERT_TRUE(WaitForAsyncKeyState(VK_CONTROL, true));
  EXPECT_EQ(0, TabKeyHook(HC_NOREMOVE, VK_TAB, tabGoingDown));
  EXPECT_EQ(0, TabKeyHook(-1, VK_TAB, tabGoingDown));
  EXPECT_EQ(0, TabKeyHook(HC_ACTION, VK_TAB, tabGoingUp));
  EXPECT_EQ(0, TabKeyHook(HC_ACTION, VK_SPACE, tabGoingDown));
  PumpPendingMessages();
  EXPECT_EQ(0, KeyDownsOf(bookmark));
  EXPECT_EQ(edit, GetFocus());

  // A repeated key-down counts like the first one.
  EXPECT_EQ(1, TabKeyHook(HC_ACTION, VK_TAB, tabRepeating));
  ASSERT_TRUE(SendKeysThroughXTest("keyup ctrl"));
  EXPECT_EQ(1, KeyDownsOf(bookmark, VK_RIGHT));
  EXPECT_EQ(bookmark, GetFocus());
}

TEST_F(TabKeyHookKeystrokes, HookLivesExactlyAsLongAsTheTableHoldsEntries) {
  // Dialog `entered` keeps the table alive; the keys go to `typing`, whose
  // own entry is not needed: the hook serves the whole thread.
  HWND entered = CreateProbeWindow(WS_POPUP);
  windows_.push_back(entered);
  ASSERT_TRUE(SubclassWindow(entered, PassThroughProc));
  TestDialog& dialog = NewDialog();
  HWND typing = CreateBookmarkDialog(&dialog, nullptr);
  HWND edit = GetDlgItem(typing, kEditId);
  HWND bookmark = GetDlgItem(typing, kBookmarkId);
  ASSERT_TRUE(ActivateForKeys(typing, edit));

  ASSERT_TRUE(PressTabHolding("ctrl"));
  EXPECT_EQ(1, KeyDownsOf(bookmark, VK_RIGHT));

  ASSERT_TRUE(DestroyWindow(entered));
  ASSERT_FALSE(IsTabKeyHookInstalled());
  ASSERT_TRUE(ActivateForKeys(typing, edit));
  MessageLog retrieved;
  ASSERT_TRUE(PressTabHolding("ctrl", &retrieved));
  EXPECT_EQ(1, KeyDownsOf(bookmark, VK_RIGHT)) << "no switch without the hook";
  EXPECT_EQ(1, CountOf(editLog_, WM_KEYDOWN, VK_TAB));

  // Entering a window again brings a new hook.
  ASSERT_TRUE(SubclassWindow(typing, PassThroughProc));
  ASSERT_TRUE(IsTabKeyHookInstalled());
  ASSERT_TRUE(PressTabHolding("ctrl"));
  EXPECT_EQ(2, KeyDownsOf(bookmark, VK_RIGHT));
  EXPECT_EQ(bookmark, GetFocus());
}

}  // namespace
