// Which children of a real dialog EnhanceDialog gives which procedure.
#include <windows.h>

#include <map>

#include "dialog_test_fixture.h"

namespace {

const WORD kFirstStaticId = 200;  // + the static type 0x00 to 0x12
const WORD kNoWrapLabelId = 250;  // SS_LEFTNOWORDWRAP with a text
const WORD kUntitledGroupId = 300;
const WORD kTitledGroupId = 301;
const WORD kPushButtonId = 302;
const WORD kCheckBoxId = 303;
const WORD kRadioButtonId = 304;
const WORD kDefaultButtonId = 305;
const WORD kOwnerDrawButtonId = 306;
const WORD kGroupWithFlagsId = 307;  // BS_GROUPBOX with WS_GROUP and BS_LEFT
const WORD kDropDownListId = 400;
const WORD kSimpleComboId = 401;
const WORD kDropDownComboId = 402;
const WORD kKeepDeleteComboId = 403;
const WORD kMultiLineEditId = 500;
const WORD kSingleLineEditId = 501;
const WORD kWantReturnEditId = 502;
const WORD kSuperclassId = 600;
const WORD kPanelId = 700;

const char kSuperclassName[] = "FancyStatic";

void RegisterStaticSuperclass() {
  WNDCLASSA superclass = {};
  if (GetClassInfoA(GetModuleHandleA(NULL), kSuperclassName, &superclass)) return;
  ASSERT_TRUE(GetClassInfoA(NULL, "STATIC", &superclass));
  superclass.hInstance = GetModuleHandleA(NULL);
  superclass.lpszClassName = kSuperclassName;
  ASSERT_NE(0, RegisterClassA(&superclass));
}

class ChildSelection : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    RegisterStaticSuperclass();
  }

  // Opens a dialog holding every kind of child, plus a panel with
  // qualifying grandchildren, and remembers every control's procedure from
  // before EnhanceDialog.
  HWND OpenFullDialog() {
    const DWORD child = WS_CHILD | WS_VISIBLE;
    DialogTemplate layout(WS_POPUP | WS_CAPTION | WS_VISIBLE | DS_MODALFRAME, 300, 240);
    for (WORD type = 0; type <= 0x12; ++type) {
      layout.Add(L"STATIC", child | type, static_cast<short>(4 + type * 14), 4, 12, 12,
                 static_cast<WORD>(kFirstStaticId + type));
    }
    layout.Add(L"static", child | SS_LEFTNOWORDWRAP, 4, 20, 60, 10, kNoWrapLabelId, L"Label")
        .Add(L"BUTTON", child | BS_GROUPBOX, 4, 34, 60, 30, kUntitledGroupId)
        .Add(L"BUTTON", child | BS_GROUPBOX, 70, 34, 60, 30, kTitledGroupId, L"Group")
        .Add(L"BUTTON", child | BS_PUSHBUTTON, 136, 34, 40, 14, kPushButtonId)
        .Add(L"BUTTON", child | BS_CHECKBOX, 180, 34, 40, 14, kCheckBoxId)
        .Add(L"BUTTON", child | BS_AUTORADIOBUTTON, 224, 34, 40, 14, kRadioButtonId)
        .Add(L"BUTTON", child | BS_DEFPUSHBUTTON, 136, 50, 40, 14, kDefaultButtonId)
        .Add(L"BUTTON", child | BS_OWNERDRAW, 180, 50, 40, 14, kOwnerDrawButtonId)
        .Add(L"Button", child | BS_GROUPBOX | WS_GROUP | BS_LEFT, 224, 50, 60, 30, kGroupWithFlagsId)
        .Add(L"COMBOBOX", child | CBS_DROPDOWNLIST, 4, 90, 60, 60, kDropDownListId)
        .Add(L"COMBOBOX", child | CBS_SIMPLE, 70, 90, 60, 40, kSimpleComboId)
        .Add(L"COMBOBOX", child | CBS_DROPDOWN, 136, 90, 60, 60, kDropDownComboId)
        .Add(L"COMBOBOX", child | CBS_DROPDOWNLIST | COMBO_KEEP_DELETE_KEY_STYLE, 200, 90, 60, 60,
             kKeepDeleteComboId)
        .Add(L"EDIT", child | WS_BORDER | ES_MULTILINE, 4, 140, 60, 30, kMultiLineEditId)
        .Add(L"EDIT", child | WS_BORDER, 70, 140, 60, 14, kSingleLineEditId)
        .Add(L"edit", child | WS_BORDER | ES_MULTILINE | ES_WANTRETURN, 136, 140, 60, 30, kWantReturnEditId)
        .Add(L"FancyStatic", child | SS_BLACKRECT, 200, 140, 20, 20, kSuperclassId);
    dialog_.enhance = EnhanceDialog;
    dialog_.prepare = [this](HWND window) {
      HWND panel = CreateProbeWindow(WS_CHILD | WS_VISIBLE, window);
      SetWindowLongPtrA(panel, GWLP_ID, kPanelId);
      SetWindowPos(panel, NULL, 10, 300, 200, 60, SWP_NOZORDER);
      const DWORD inner = WS_CHILD | WS_VISIBLE;
      grandchildren_.push_back(
          CreateWindowExA(0, "STATIC", "", inner | SS_BLACKRECT, 0, 0, 10, 10, panel, NULL, NULL, NULL));
      grandchildren_.push_back(
          CreateWindowExA(0, "BUTTON", "", inner | BS_GROUPBOX, 20, 0, 30, 30, panel, NULL, NULL, NULL));
      grandchildren_.push_back(CreateWindowExA(0, "COMBOBOX", "", inner | CBS_DROPDOWNLIST, 60, 0, 50, 60,
                                               panel, NULL, NULL, NULL));
      grandchildren_.push_back(
          CreateWindowExA(0, "EDIT", "", inner | ES_MULTILINE, 120, 0, 50, 30, panel, NULL, NULL, NULL));
      for (HWND child = GetWindow(window, GW_CHILD); child != NULL; child = GetWindow(child, GW_HWNDNEXT)) {
        before_[child] = CurrentProcedure(child);
      }
      for (HWND grandchild : grandchildren_) before_[grandchild] = CurrentProcedure(grandchild);
    };
    return OpenDialog(layout, &dialog_);
  }

  void ExpectEnhancedWith(WORD id, WNDPROC procedure) {
    HWND child = GetDlgItem(dialog_.window, id);
    ASSERT_NE(nullptr, child) << "control " << id;
    EXPECT_EQ(procedure, CurrentProcedure(child)) << "control " << id;
    EXPECT_GE(SubclassSlotOfWindow(child), 1) << "control " << id;
  }

  void ExpectLeftAlone(HWND window, const char* what) {
    ASSERT_NE(nullptr, window) << what;
    EXPECT_EQ(before_[window], CurrentProcedure(window)) << what;
    EXPECT_EQ(-1, SubclassSlotOfWindow(window)) << what;
  }

  void ExpectLeftAlone(WORD id) {
    std::string what = "control " + std::to_string(id);
    ExpectLeftAlone(GetDlgItem(dialog_.window, id), what.c_str());
  }

  TestDialog dialog_;
  std::vector<HWND> grandchildren_;
  std::map<HWND, WNDPROC> before_;
};

TEST_F(ChildSelection, ClassNamesAreMatchedAfterUpperCasing) {
  // The system registers its classes in mixed case; only the upper-cased
  // name matches.
  HWND window = OpenFullDialog();
  char className[32] = "";
  GetClassNameA(GetDlgItem(window, kFirstStaticId + SS_BLACKRECT), className, sizeof className);
  ASSERT_STRNE("STATIC", className);
  ASSERT_STRCASEEQ("STATIC", className);
  ExpectEnhancedWith(kFirstStaticId + SS_BLACKRECT, StaticFrameProc);
  ExpectEnhancedWith(kDropDownListId, ComboClearProc);
}

TEST_F(ChildSelection, DialogItselfGetsThePassThroughProcedureInTheFirstSlot) {
  HWND window = OpenFullDialog();
  EXPECT_EQ(PassThroughProc, CurrentProcedure(window));
  EXPECT_EQ(0, SubclassSlotOfWindow(window));
  EXPECT_TRUE(IsTabKeyHookInstalled());
}

TEST_F(ChildSelection, StaticsQualifyByTheSingleStyleBit4) {
  OpenFullDialog();
  for (WORD type = 0; type <= 0x12; ++type) {
    bool qualifies = (type & 0x0004) != 0;
    SCOPED_TRACE(testing::Message() << "static type 0x" << std::hex << type);
    if (qualifies) {
      ExpectEnhancedWith(static_cast<WORD>(kFirstStaticId + type), StaticFrameProc);
    } else {
      ExpectLeftAlone(static_cast<WORD>(kFirstStaticId + type));
    }
  }
  // Types 4-7 and 0x0C-0x0F qualify: SS_BLACKRECT, SS_GRAYRECT, SS_WHITERECT,
  // SS_BLACKFRAME, SS_LEFTNOWORDWRAP, SS_OWNERDRAW, SS_BITMAP, SS_ENHMETAFILE.
  ExpectEnhancedWith(kNoWrapLabelId, StaticFrameProc);
  ExpectLeftAlone(static_cast<WORD>(kFirstStaticId + SS_GRAYFRAME));
  ExpectLeftAlone(static_cast<WORD>(kFirstStaticId + SS_WHITEFRAME));
  ExpectLeftAlone(static_cast<WORD>(kFirstStaticId + SS_ETCHEDHORZ));
}

TEST_F(ChildSelection, OnlyUntitledGroupBoxesAmongButtons) {
  OpenFullDialog();
  ExpectEnhancedWith(kUntitledGroupId, GroupBoxFrameProc);
  ExpectEnhancedWith(kGroupWithFlagsId, GroupBoxFrameProc);
  ExpectLeftAlone(kTitledGroupId);
  ExpectLeftAlone(kPushButtonId);
  ExpectLeftAlone(kCheckBoxId);
  ExpectLeftAlone(kRadioButtonId);
  ExpectLeftAlone(kDefaultButtonId);
  ExpectLeftAlone(kOwnerDrawButtonId);
}

TEST_F(ChildSelection, EveryComboBox) {
  OpenFullDialog();
  ExpectEnhancedWith(kDropDownListId, ComboClearProc);
  ExpectEnhancedWith(kSimpleComboId, ComboClearProc);
  ExpectEnhancedWith(kDropDownComboId, ComboClearProc);
  ExpectEnhancedWith(kKeepDeleteComboId, ComboClearProc);
}

TEST_F(ChildSelection, OnlyMultiLineEdits) {
  OpenFullDialog();
  ExpectEnhancedWith(kMultiLineEditId, MultiLineEditProc);
  ExpectEnhancedWith(kWantReturnEditId, MultiLineEditProc);
  ExpectLeftAlone(kSingleLineEditId);
}

TEST_F(ChildSelection, SuperclassUnderAnotherNameGrandchildrenAndOtherClassesAreLeftAlone) {
  HWND window = OpenFullDialog();
  ExpectLeftAlone(kSuperclassId);
  ExpectLeftAlone(kPanelId);
  ASSERT_EQ(4u, grandchildren_.size());
  for (HWND grandchild : grandchildren_) ExpectLeftAlone(grandchild, "grandchild");
  EXPECT_EQ(window, GetParent(GetDlgItem(window, kPanelId)));
}

TEST_F(ChildSelection, SecondCallCentresAgainAndKeepsEveryEntry) {
  HWND window = OpenFullDialog();
  RECT centred = {};
  GetWindowRect(window, &centred);
  int staticSlot = SubclassSlotOfWindow(GetDlgItem(window, kFirstStaticId + SS_BLACKRECT));
  SetWindowPos(window, NULL, 3, 4, 0, 0, SWP_NOSIZE | SWP_NOZORDER);

  EnhanceDialog(window);

  RECT again = {};
  GetWindowRect(window, &again);
  EXPECT_TRUE(EqualRect(&centred, &again));
  EXPECT_EQ(0, SubclassSlotOfWindow(window));
  EXPECT_EQ(PassThroughProc, CurrentProcedure(window));
  EXPECT_EQ(staticSlot, SubclassSlotOfWindow(GetDlgItem(window, kFirstStaticId + SS_BLACKRECT)));
  EXPECT_EQ(StaticFrameProc, CurrentProcedure(GetDlgItem(window, kFirstStaticId + SS_BLACKRECT)));
}

TEST_F(ChildSelection, NullDialogDoesNothing) {
  EnhanceDialog(NULL);
  EXPECT_EQ(0, SubclassTableCapacity());
  EXPECT_FALSE(IsTabKeyHookInstalled());
}

TEST_F(ChildSelection, PleaseWaitLayoutEntersOnlyTheDialog) {
  DialogTemplate layout(WS_POPUP | WS_CAPTION | WS_VISIBLE | DS_MODALFRAME, 180, 60);
  layout.Add(L"STATIC", 0x50020001, 10, 20, 160, 10, 100, L"Please wait");
  TestDialog& dialog = NewDialog();
  dialog.enhance = EnhanceDialog;
  HWND window = OpenDialog(layout, &dialog);

  EXPECT_EQ(0, SubclassSlotOfWindow(window));
  EXPECT_EQ(-1, SubclassSlotOfWindow(GetDlgItem(window, 100)));
  // Nothing else was entered: the next window takes slot 1.
  HWND next = OwnWindow(CreateProbeWindow(WS_POPUP));
  ASSERT_TRUE(SubclassWindow(next, PassThroughProc));
  EXPECT_EQ(1, SubclassSlotOfWindow(next));
}

}  // namespace
