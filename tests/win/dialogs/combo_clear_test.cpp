// Delete and Backspace in combo boxes: the selection is cleared, the list
// closes, the parent hears CBN_SELCHANGE then CBN_SELENDOK with lParam 0, and
// the combo box still receives the key.
#include <windows.h>

#include "dialog_test_fixture.h"

namespace {

const WORD kComboId = 400;
const WORD kKeepDeleteComboId = 403;
const LPARAM kDeleteKeyData = 0x01530001;

class ComboBoxClearing : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    const DWORD child = WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP;
    DialogTemplate layout(WS_POPUP | WS_CAPTION | WS_VISIBLE | DS_MODALFRAME, 200, 120);
    layout.Add(L"COMBOBOX", child | CBS_DROPDOWNLIST, 10, 10, 80, 80, kComboId)
        .Add(L"COMBOBOX", child | CBS_DROPDOWNLIST | COMBO_KEEP_DELETE_KEY_STYLE, 100, 10, 80, 80,
             kKeepDeleteComboId);
    dialog_.enhance = EnhanceDialog;
    dialog_.prepare = [this](HWND window) {
      for (WORD id : {kComboId, kKeepDeleteComboId}) {
        HWND combo = GetDlgItem(window, id);
        SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("one"));
        SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("two"));
        SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("three"));
        SendMessageA(combo, CB_SETCURSEL, 1, 0);
        // The parent's WM_COMMAND and what reaches the combo box's
        // previous procedure go into one log, in order.
        InstallSpy(combo, &dialog_.commands);
      }
    };
    window_ = OpenDialog(layout, &dialog_);
    ASSERT_NE(nullptr, window_);
    ASSERT_EQ(ComboClearProc, CurrentProcedure(Combo(kComboId)));
    ASSERT_EQ(ComboClearProc, CurrentProcedure(Combo(kKeepDeleteComboId)));
    dialog_.commands.clear();
  }

  HWND Combo(WORD id) { return GetDlgItem(window_, id); }

  // The WM_COMMAND notifications the parent received with lParam 0.
  std::vector<WPARAM> NotificationsWithoutHandle() {
    std::vector<WPARAM> found;
    for (const RecordedMessage& entry : dialog_.commands) {
      if (entry.window == window_ && entry.message == WM_COMMAND && entry.lParam == 0) {
        found.push_back(entry.wParam);
      }
    }
    return found;
  }

  // Index in the log of the first message matching, or -1.
  int PositionOf(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    for (size_t index = 0; index < dialog_.commands.size(); ++index) {
      const RecordedMessage& entry = dialog_.commands[index];
      if (entry.window == window && entry.message == message && entry.wParam == wParam &&
          entry.lParam == lParam) {
        return static_cast<int>(index);
      }
    }
    return -1;
  }

  void ExpectClearedBy(WPARAM key) {
    HWND combo = Combo(kComboId);
    SendMessageA(combo, CB_SHOWDROPDOWN, TRUE, 0);
    ASSERT_TRUE(SendMessageA(combo, CB_GETDROPPEDSTATE, 0, 0));
    ASSERT_EQ(1, SendMessageA(combo, CB_GETCURSEL, 0, 0));
    dialog_.commands.clear();

    SendMessageA(combo, WM_KEYDOWN, key, kDeleteKeyData);

    EXPECT_EQ(CB_ERR, SendMessageA(combo, CB_GETCURSEL, 0, 0));
    EXPECT_FALSE(SendMessageA(combo, CB_GETDROPPEDSTATE, 0, 0));
    std::vector<WPARAM> expected = {MAKEWPARAM(kComboId, CBN_SELCHANGE), MAKEWPARAM(kComboId, CBN_SELENDOK)};
    EXPECT_EQ(expected, NotificationsWithoutHandle());
    int selectionChange = PositionOf(window_, WM_COMMAND, MAKEWPARAM(kComboId, CBN_SELCHANGE), 0);
    int selectionEnd = PositionOf(window_, WM_COMMAND, MAKEWPARAM(kComboId, CBN_SELENDOK), 0);
    int keyAtCombo = PositionOf(combo, WM_KEYDOWN, key, kDeleteKeyData);
    ASSERT_NE(-1, keyAtCombo) << "the key must still reach the combo box";
    EXPECT_LT(selectionChange, selectionEnd);
    EXPECT_LT(selectionEnd, keyAtCombo);
  }

  void ExpectUnchangedBy(WORD id, UINT message, WPARAM key) {
    HWND combo = Combo(id);
    dialog_.commands.clear();

    SendMessageA(combo, message, key, kDeleteKeyData);

    EXPECT_EQ(1, SendMessageA(combo, CB_GETCURSEL, 0, 0));
    EXPECT_TRUE(NotificationsWithoutHandle().empty());
    EXPECT_NE(-1, PositionOf(combo, message, key, kDeleteKeyData)) << "the key must reach the combo box";
  }

  TestDialog dialog_;
  HWND window_ = NULL;
};

TEST_F(ComboBoxClearing, DeleteClearsTheSelectionClosesTheListAndNotifiesTheParent) {
  ExpectClearedBy(VK_DELETE);
}

TEST_F(ComboBoxClearing, BackspaceDoesTheSame) { ExpectClearedBy(VK_BACK); }

TEST_F(ComboBoxClearing, RealDeleteKeystrokeClearsTheSelection) {
  HWND combo = Combo(kComboId);
  ASSERT_TRUE(ActivateForKeys(window_, combo));
  dialog_.commands.clear();

  ASSERT_TRUE(SendKeysThroughXTest("key Delete"));

  EXPECT_EQ(CB_ERR, SendMessageA(combo, CB_GETCURSEL, 0, 0));
  std::vector<WPARAM> expected = {MAKEWPARAM(kComboId, CBN_SELCHANGE), MAKEWPARAM(kComboId, CBN_SELENDOK)};
  EXPECT_EQ(expected, NotificationsWithoutHandle());
  EXPECT_EQ(1, CountOf(MessagesOf(dialog_.commands, WM_KEYDOWN), WM_KEYDOWN, VK_DELETE));
}

TEST_F(ComboBoxClearing, OtherKeysAndKeyReleasesChangeNothing) {
  ExpectUnchangedBy(kComboId, WM_KEYDOWN, VK_INSERT);
  ExpectUnchangedBy(kComboId, WM_KEYDOWN, VK_F5);
  ExpectUnchangedBy(kComboId, WM_KEYUP, VK_DELETE);
  ExpectUnchangedBy(kComboId, WM_KEYUP, VK_BACK);
}

TEST_F(ComboBoxClearing, StyleBit8000KeepsTheStandardHandling) {
  ExpectUnchangedBy(kKeepDeleteComboId, WM_KEYDOWN, VK_DELETE);
  ExpectUnchangedBy(kKeepDeleteComboId, WM_KEYDOWN, VK_BACK);
}

}  // namespace
