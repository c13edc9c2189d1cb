// Keys in multi-line edits, typed for real through XTest (xdotool) so that
// Ctrl and Shift are down where GetAsyncKeyState looks. The test's message
// loop has no dialog manager: every key reaches the edit's procedures.
#include <windows.h>

#include <string>

#include "dialog_test_fixture.h"

namespace {

const WORD kSingleLineId = 501;
const WORD kMultiLineId = 500;
const WORD kWantReturnId = 502;
const WORD kBookmarkId = 503;
const char kBookmarkClassName[] = "BookMark";

std::string TextOf(HWND window) {
  char text[256] = "";
  GetWindowTextA(window, text, sizeof text);
  return text;
}

class MultiLineEditKeys : public DialogTest {
 protected:
  // Tab order: single-line edit, multi-line edit, multi-line edit with
  // ES_WANTRETURN (and a "BookMark" control when asked for).
  void Open(bool withBookmark) {
    RegisterProbeClass(kBookmarkClassName);
    const DWORD child = WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP;
    DialogTemplate layout(WS_POPUP | WS_CAPTION | WS_VISIBLE | DS_MODALFRAME, 220, 120);
    layout.Add(L"EDIT", child | ES_AUTOHSCROLL, 10, 10, 200, 14, kSingleLineId)
        .Add(L"EDIT", child | ES_MULTILINE | ES_AUTOVSCROLL, 10, 30, 200, 30, kMultiLineId)
        .Add(L"EDIT", child | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN, 10, 66, 200, 30, kWantReturnId);
    if (withBookmark) layout.Add(L"BookMark", WS_CHILD | WS_VISIBLE, 10, 100, 100, 14, kBookmarkId);
    dialog_.enhance = EnhanceDialog;
    dialog_.prepare = [this](HWND window) {
      InstallSpy(GetDlgItem(window, kMultiLineId), &multiLineLog_);
      InstallSpy(GetDlgItem(window, kWantReturnId), &wantReturnLog_);
    };
    window_ = OpenDialog(layout, &dialog_);
    ASSERT_NE(nullptr, window_);
    ASSERT_EQ(MultiLineEditProc, CurrentProcedure(Item(kMultiLineId)));
    ASSERT_EQ(MultiLineEditProc, CurrentProcedure(Item(kWantReturnId)));
  }

  HWND Item(WORD id) { return GetDlgItem(window_, id); }

  void Type(WORD id, const std::string& keys) {
    ASSERT_TRUE(ActivateForKeys(window_, Item(id)));
    ASSERT_TRUE(SendKeysThroughXTest(keys));
  }

  // Tab with the modifiers held until the edit has handled it: the edit
  // reads them as they are when the Tab reaches it.
  void TabHolding(WORD id, const std::string& modifiers) {
    ASSERT_TRUE(ActivateForKeys(window_, Item(id)));
    ASSERT_TRUE(SendKeysHolding(modifiers, "key Tab"));
  }

  TestDialog dialog_;
  HWND window_ = NULL;
  MessageLog multiLineLog_;
  MessageLog wantReturnLog_;
};

TEST_F(MultiLineEditKeys, TabInsertsNothing) {
  Open(false);
  Type(kMultiLineId, "key a Tab b");

  EXPECT_EQ("ab", TextOf(Item(kMultiLineId)));
  EXPECT_EQ(1, CountOf(multiLineLog_, WM_KEYDOWN, VK_TAB)) << "the Tab key-down itself is passed on";
  EXPECT_EQ(0, CountOf(multiLineLog_, WM_CHAR, '\t'));
  EXPECT_EQ(1, CountOf(multiLineLog_, WM_CHAR, 'a'));
}

TEST_F(MultiLineEditKeys, CtrlTabMovesTheFocusToTheNextControl) {
  Open(false);
  TabHolding(kMultiLineId, "ctrl");

  EXPECT_EQ(Item(kWantReturnId), GetFocus());
  EXPECT_EQ(0, CountOf(multiLineLog_, WM_KEYDOWN, VK_TAB)) << "Ctrl+Tab must not be passed on";
  EXPECT_EQ("", TextOf(Item(kMultiLineId)));
  EXPECT_EQ("", TextOf(Item(kWantReturnId)));
}

TEST_F(MultiLineEditKeys, CtrlShiftTabMovesTheFocusToThePreviousControl) {
  Open(false);
  TabHolding(kMultiLineId, "ctrl shift");

  EXPECT_EQ(Item(kSingleLineId), GetFocus());
  EXPECT_EQ(0, CountOf(multiLineLog_, WM_KEYDOWN, VK_TAB));
  EXPECT_EQ("", TextOf(Item(kMultiLineId)));
}

TEST_F(MultiLineEditKeys, EnterAndCtrlEnterInsertNothingWithoutWantReturn) {
  Open(false);
  Type(kMultiLineId, "key a Return b ctrl+Return c shift+Return d");

  EXPECT_EQ("abcd", TextOf(Item(kMultiLineId)));
  EXPECT_EQ(0, CountOf(multiLineLog_, WM_CHAR, '\r'));
  EXPECT_EQ(0, CountOf(multiLineLog_, WM_CHAR, '\n'));
  EXPECT_EQ(Item(kMultiLineId), GetFocus());
}

TEST_F(MultiLineEditKeys, WantReturnKeepsEnterAndCtrlEnterButStillDropsTab) {
  Open(false);
  Type(kWantReturnId, "key a Return b ctrl+Return c Tab d");

  std::string text = TextOf(Item(kWantReturnId));
  EXPECT_EQ(1, CountOf(wantReturnLog_, WM_CHAR, '\r'));
  EXPECT_EQ(1, CountOf(wantReturnLog_, WM_CHAR, '\n'));
  EXPECT_EQ(0, CountOf(wantReturnLog_, WM_CHAR, '\t'));
  EXPECT_EQ(0u, text.find("a\r\nb")) << text;
  EXPECT_EQ(std::string::npos, text.find('\t')) << text;
  EXPECT_EQ(text.size() - 2, text.find("cd")) << text;
}

TEST_F(MultiLineEditKeys, SingleLineEditIsNotEnhanced) {
  Open(false);
  EXPECT_EQ(-1, SubclassSlotOfWindow(Item(kSingleLineId)));
}

TEST_F(MultiLineEditKeys, BookmarkInTheDialogTakesCtrlTabBeforeTheEdit) {
  Open(true);
  HWND bookmark = Item(kBookmarkId);
  TabHolding(kMultiLineId, "ctrl");

  EXPECT_EQ(bookmark, GetFocus()) << "the page switch, not the move to the next control";
  EXPECT_EQ(1, CountOf(MessagesOf(ProbeLog(), WM_KEYDOWN), WM_KEYDOWN, VK_RIGHT));
  EXPECT_EQ(0, CountOf(multiLineLog_, WM_KEYDOWN, VK_TAB));
}

}  // namespace
