// The subclass registry with real windows: the table's life cycle, message
// forwarding (also when the previous procedure changes the table during the
// call) and FindPopupAncestor.
#include <windows.h>

#include <vector>

#include <gtest/gtest.h>

#include "subclass_registry.h"
#include "test_windows.h"

namespace {

MessageLog replacementLog;

// A replacement procedure that records what it sees and forwards everything.
LRESULT CALLBACK RecordingReplacementProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  replacementLog.push_back({window, message, wParam, lParam});
  return ForwardSubclassedMessage(window, message, wParam, lParam);
}

LRESULT CALLBACK OtherReplacementProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return ForwardSubclassedMessage(window, message, wParam, lParam);
}

int CountFor(const MessageLog& log, HWND window, UINT message) {
  int count = 0;
  for (const RecordedMessage& entry : log) {
    if (entry.window == window && entry.message == message) ++count;
  }
  return count;
}

// Fills the process heap around the table's array, so that growing the array
// cannot happen in place and the array really moves.
class HeapCrowd {
 public:
  HeapCrowd() {
    for (int index = 0; index < 400; ++index)
      blocks_.push_back(HeapAlloc(GetProcessHeap(), 0, 16 + index * 8));
  }
  ~HeapCrowd() {
    for (void* block : blocks_) HeapFree(GetProcessHeap(), 0, block);
  }

 private:
  std::vector<void*> blocks_;
};

class RegistryTest : public testing::Test {
 protected:
  void SetUp() override {
    ProbeLog().clear();
    replacementLog.clear();
    ClearProbeCallbacks();
    ASSERT_EQ(0, SubclassTableCapacity()) << "an earlier test left windows entered";
    ASSERT_FALSE(IsTabKeyHookInstalled());
  }

  void TearDown() override {
    ClearProbeCallbacks();
    for (HWND window : windows_) {
      if (IsWindow(window)) DestroyWindow(window);
    }
    // Every entered window has been destroyed: the table must be gone.
    EXPECT_EQ(0, SubclassTableCapacity());
    EXPECT_FALSE(IsTabKeyHookInstalled());
    EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr)) << "the process heap is damaged";
  }

  HWND Probe(DWORD style = WS_POPUP, HWND parent = NULL) {
    HWND window = CreateProbeWindow(style, parent);
    EXPECT_NE(nullptr, window);
    windows_.push_back(window);
    return window;
  }

  HWND EnteredProbe(WNDPROC replacement = RecordingReplacementProc) {
    HWND window = Probe();
    EXPECT_TRUE(SubclassWindow(window, replacement));
    return window;
  }

  std::vector<HWND> windows_;
};

using SubclassTableLifecycle = RegistryTest;

TEST_F(SubclassTableLifecycle, FirstEntryCreatesFiftySlotsAndInstallsTheHook) {
  HWND window = Probe();
  EXPECT_EQ(-1, SubclassSlotOfWindow(window));

  ASSERT_TRUE(SubclassWindow(window, RecordingReplacementProc));

  EXPECT_EQ(50, SubclassTableCapacity());
  EXPECT_EQ(0, SubclassSlotOfWindow(window));
  EXPECT_TRUE(IsTabKeyHookInstalled());
  EXPECT_EQ(RecordingReplacementProc, CurrentProcedure(window));
}

TEST_F(SubclassTableLifecycle, NullWindowOrProcedureIsRefusedWithoutCreatingTheTable) {
  HWND window = Probe();

  EXPECT_FALSE(SubclassWindow(NULL, RecordingReplacementProc));
  EXPECT_FALSE(SubclassWindow(window, NULL));

  EXPECT_EQ(0, SubclassTableCapacity());
  EXPECT_FALSE(IsTabKeyHookInstalled());
  EXPECT_EQ(ProbeProc, CurrentProcedure(window));
}

TEST_F(SubclassTableLifecycle, HandleOfNoWindowIsRefusedWithoutCreatingTheTable) {
  HWND gone = CreateProbeWindow();
  ASSERT_TRUE(DestroyWindow(gone));

  EXPECT_FALSE(SubclassWindow(gone, RecordingReplacementProc));

  EXPECT_EQ(0, SubclassTableCapacity());
  EXPECT_FALSE(IsTabKeyHookInstalled());
}

TEST_F(SubclassTableLifecycle, WindowOfAnotherProcessIsRefusedAndLeavesNoEntry) {
  // The desktop window belongs to Wine's explorer, not to this process: its
  // procedure cannot be replaced, so entering it must not report success.
  HWND desktop = GetDesktopWindow();
  DWORD owner = 0;
  GetWindowThreadProcessId(desktop, &owner);
  ASSERT_NE(GetCurrentProcessId(), owner);

  EXPECT_FALSE(SubclassWindow(desktop, RecordingReplacementProc));

  EXPECT_EQ(-1, SubclassSlotOfWindow(desktop));
  EXPECT_EQ(0, SubclassTableCapacity());
  EXPECT_FALSE(IsTabKeyHookInstalled());

  // With other windows entered the refusal leaves the table as it was.
  HWND entered = EnteredProbe();
  EXPECT_FALSE(SubclassWindow(desktop, RecordingReplacementProc));
  EXPECT_EQ(-1, SubclassSlotOfWindow(desktop));
  EXPECT_EQ(0, SubclassSlotOfWindow(entered));
  EXPECT_EQ(50, SubclassTableCapacity());
}

TEST_F(SubclassTableLifecycle, FiftyFirstWindowGrowsTheTableByFiftyAndKeepsEveryIndex) {
  std::vector<HWND> first;
  for (int index = 0; index < 50; ++index) first.push_back(EnteredProbe());
  for (int index = 0; index < 50; ++index) ASSERT_EQ(index, SubclassSlotOfWindow(first[index]));
  ASSERT_EQ(50, SubclassTableCapacity());

  HWND fiftyFirst = EnteredProbe();

  EXPECT_EQ(100, SubclassTableCapacity());
  EXPECT_EQ(50, SubclassSlotOfWindow(fiftyFirst));
  for (int index = 0; index < 50; ++index) EXPECT_EQ(index, SubclassSlotOfWindow(first[index]));
  // The entries survived the move intact: messages still reach the right
  // previous procedure with the right result.
  EXPECT_EQ(0x77, SendMessageA(first[0], kProbeEcho, 0x70, 0x07));
  EXPECT_EQ(0x77, SendMessageA(first[49], kProbeEcho, 0x70, 0x07));
  EXPECT_EQ(0x77, SendMessageA(fiftyFirst, kProbeEcho, 0x70, 0x07));
  EXPECT_EQ(1, CountFor(ProbeLog(), first[0], kProbeEcho));
  EXPECT_EQ(1, CountFor(ProbeLog(), fiftyFirst, kProbeEcho));
}

TEST_F(SubclassTableLifecycle, FreedSlotIsFilledBeforeNewSlots) {
  std::vector<HWND> five;
  for (int index = 0; index < 5; ++index) five.push_back(EnteredProbe());

  ASSERT_TRUE(DestroyWindow(five[2]));
  EXPECT_EQ(-1, SubclassSlotOfWindow(five[2]));
  EXPECT_EQ(3, SubclassSlotOfWindow(five[3]));
  EXPECT_EQ(4, SubclassSlotOfWindow(five[4]));

  HWND next = EnteredProbe();
  EXPECT_EQ(2, SubclassSlotOfWindow(next));
  EXPECT_EQ(50, SubclassTableCapacity());
}

TEST_F(SubclassTableLifecycle, WindowEnteredTwiceIsRefusedAndKeepsItsFirstProcedure) {
  HWND window = EnteredProbe(RecordingReplacementProc);

  EXPECT_FALSE(SubclassWindow(window, OtherReplacementProc));
  EXPECT_FALSE(SubclassWindow(window, RecordingReplacementProc));

  EXPECT_EQ(RecordingReplacementProc, CurrentProcedure(window));
  EXPECT_EQ(0, SubclassSlotOfWindow(window));
  // Only the one entry: the next window takes slot 1.
  EXPECT_EQ(1, SubclassSlotOfWindow(EnteredProbe()));
}

TEST_F(SubclassTableLifecycle, WindowEnteredTwiceIsRefusedAlsoBehindAFreeSlot) {
  HWND first = EnteredProbe();
  HWND second = EnteredProbe(RecordingReplacementProc);
  ASSERT_TRUE(DestroyWindow(first));  // slot 0 becomes a hole before the entry

  EXPECT_FALSE(SubclassWindow(second, OtherReplacementProc));

  EXPECT_EQ(RecordingReplacementProc, CurrentProcedure(second));
  EXPECT_EQ(1, SubclassSlotOfWindow(second));
  EXPECT_EQ(0, SubclassSlotOfWindow(EnteredProbe()));
}

TEST_F(SubclassTableLifecycle, LastDestroyFreesTableAndHookAndTheNextEntryStartsAfresh) {
  HWND first = EnteredProbe();
  HWND second = EnteredProbe();
  for (int index = 0; index < 60; ++index) EnteredProbe();
  ASSERT_EQ(100, SubclassTableCapacity());
  for (size_t index = 2; index < windows_.size(); ++index) ASSERT_TRUE(DestroyWindow(windows_[index]));

  ASSERT_TRUE(DestroyWindow(first));
  EXPECT_EQ(100, SubclassTableCapacity()) << "the array never shrinks while entries remain";
  EXPECT_TRUE(IsTabKeyHookInstalled());

  ASSERT_TRUE(DestroyWindow(second));
  EXPECT_EQ(0, SubclassTableCapacity());
  EXPECT_FALSE(IsTabKeyHookInstalled());
  EXPECT_EQ(-1, SubclassSlotOfWindow(second));

  HWND again = EnteredProbe();
  EXPECT_EQ(50, SubclassTableCapacity());
  EXPECT_EQ(0, SubclassSlotOfWindow(again));
  EXPECT_TRUE(IsTabKeyHookInstalled());
}

TEST_F(SubclassTableLifecycle, DestroyPassesThroughTheReplacementAndThenRestoresThePreviousProcedure) {
  HWND window = EnteredProbe(RecordingReplacementProc);
  WNDPROC procedureAtNcDestroy = nullptr;
  SetProbeCallback(window, WM_NCDESTROY, [&] { procedureAtNcDestroy = CurrentProcedure(window); });

  ASSERT_TRUE(DestroyWindow(window));

  EXPECT_EQ(1, CountFor(replacementLog, window, WM_DESTROY));
  EXPECT_EQ(0, CountFor(replacementLog, window, WM_NCDESTROY));
  EXPECT_EQ(1, CountFor(ProbeLog(), window, WM_DESTROY));
  EXPECT_EQ(1, CountFor(ProbeLog(), window, WM_NCDESTROY));
  EXPECT_EQ(ProbeProc, procedureAtNcDestroy);
}

using MessageForwarding = RegistryTest;

TEST_F(MessageForwarding, ResultAndArgumentsOfThePreviousProcedureComeBackUnchanged) {
  HWND window = EnteredProbe(PassThroughProc);
  // Values wider than 32 bits where the platform has them.
  const WPARAM wParam = static_cast<WPARAM>(sizeof(WPARAM) > 4 ? 0x0123456700000001ull : 0x00000001u);
  const LPARAM lParam = static_cast<LPARAM>(sizeof(LPARAM) > 4 ? 0x7654321012345678ll : 0x12345678);
  const LRESULT expected = static_cast<LRESULT>(lParam ^ static_cast<LPARAM>(wParam));

  EXPECT_EQ(expected, SendMessageA(window, kProbeEcho, wParam, lParam));
  EXPECT_EQ(expected, ForwardSubclassedMessage(window, kProbeEcho, wParam, lParam));
  EXPECT_EQ(expected, PassThroughProc(window, kProbeEcho, wParam, lParam));

  MessageLog echoes = MessagesOf(ProbeLog(), kProbeEcho);
  ASSERT_EQ(3u, echoes.size());
  for (const RecordedMessage& echo : echoes) {
    EXPECT_EQ(window, echo.window);
    EXPECT_EQ(wParam, echo.wParam);
    EXPECT_EQ(lParam, echo.lParam);
  }
}

TEST_F(MessageForwarding, WindowNeverEnteredGetsZeroAndNothingIsCalled) {
  HWND stranger = Probe();
  // While the table is empty.
  EXPECT_EQ(0, ForwardSubclassedMessage(stranger, kProbeEcho, 1, 2));
  EXPECT_EQ(0, ForwardSubclassedMessage(stranger, WM_DESTROY, 0, 0));
  EXPECT_EQ(0, ForwardSubclassedMessage(NULL, kProbeEcho, 1, 2));

  // While another window is entered.
  HWND entered = EnteredProbe();
  ProbeLog().clear();
  EXPECT_EQ(0, ForwardSubclassedMessage(stranger, kProbeEcho, 1, 2));
  EXPECT_EQ(0, ForwardSubclassedMessage(stranger, WM_DESTROY, 0, 0));
  EXPECT_EQ(0, ForwardSubclassedMessage(NULL, WM_DESTROY, 0, 0));

  EXPECT_TRUE(ProbeLog().empty());
  EXPECT_EQ(0, SubclassSlotOfWindow(entered));
  EXPECT_EQ(50, SubclassTableCapacity());
  EXPECT_EQ(ProbeProc, CurrentProcedure(stranger));
}

TEST_F(MessageForwarding, PreviousProcedureMayEnterManyWindowsDuringTheCall) {
  HWND window = EnteredProbe();
  HeapCrowd crowd;
  std::vector<HWND> added;
  SetProbeCallback(window, kProbeCallback, [&] {
    for (int index = 0; index < 120; ++index) added.push_back(EnteredProbe());
  });

  EXPECT_EQ(0x5A5A, SendMessageA(window, kProbeCallback, 0, 0));

  EXPECT_EQ(150, SubclassTableCapacity());
  EXPECT_EQ(0, SubclassSlotOfWindow(window));
  EXPECT_EQ(120, SubclassSlotOfWindow(added.back()));
  EXPECT_EQ(0x33, SendMessageA(window, kProbeEcho, 0x30, 0x03));
}

TEST_F(MessageForwarding, PreviousProcedureMayEnterManyWindowsDuringItsDestroy) {
  HWND keeper = EnteredProbe();
  HWND dying = EnteredProbe(RecordingReplacementProc);
  HeapCrowd crowd;
  std::vector<HWND> added;
  SetProbeCallback(dying, WM_DESTROY, [&] {
    for (int index = 0; index < 120; ++index) added.push_back(EnteredProbe());
  });

  ASSERT_TRUE(DestroyWindow(dying));

  // The dying window's slot was found again in the grown array and freed;
  // everything entered during the call is still in place.
  EXPECT_EQ(-1, SubclassSlotOfWindow(dying));
  EXPECT_EQ(150, SubclassTableCapacity());
  EXPECT_EQ(0, SubclassSlotOfWindow(keeper));
  ASSERT_EQ(120u, added.size());
  EXPECT_EQ(2, SubclassSlotOfWindow(added.front()));
  EXPECT_EQ(121, SubclassSlotOfWindow(added.back()));
  EXPECT_EQ(0, CountFor(replacementLog, dying, WM_NCDESTROY));
  EXPECT_EQ(1, CountFor(ProbeLog(), dying, WM_NCDESTROY));
  // The freed slot is the first free one.
  EXPECT_EQ(1, SubclassSlotOfWindow(EnteredProbe()));
}

TEST_F(MessageForwarding, PreviousProcedureMayDestroyAnotherEnteredWindowDuringTheCall) {
  HWND window = EnteredProbe();
  HWND other = EnteredProbe();
  SetProbeCallback(window, kProbeCallback, [&] { DestroyWindow(other); });

  EXPECT_EQ(0x5A5A, SendMessageA(window, kProbeCallback, 0, 0));

  EXPECT_FALSE(IsWindow(other));
  EXPECT_EQ(-1, SubclassSlotOfWindow(other));
  EXPECT_EQ(0, SubclassSlotOfWindow(window));
  EXPECT_TRUE(IsTabKeyHookInstalled());
}

TEST_F(MessageForwarding, DestroyingTheLastOtherWindowDuringDestroyEmptiesTheTableAfterwards) {
  HWND window = EnteredProbe();
  HWND other = EnteredProbe();
  bool tableAliveDuringCall = false;
  SetProbeCallback(window, WM_DESTROY, [&] {
    DestroyWindow(other);
    tableAliveDuringCall = SubclassSlotOfWindow(window) == 0 && IsTabKeyHookInstalled();
  });

  ASSERT_TRUE(DestroyWindow(window));

  EXPECT_TRUE(tableAliveDuringCall) << "the window's own slot keeps the table during its WM_DESTROY";
  EXPECT_FALSE(IsWindow(other));
  EXPECT_EQ(0, SubclassTableCapacity());
  EXPECT_FALSE(IsTabKeyHookInstalled());
}

TEST_F(MessageForwarding, PreviousProcedureMayDestroyItsOwnWindowDuringTheCall) {
  HWND window = EnteredProbe(RecordingReplacementProc);
  SetProbeCallback(window, kProbeCallback, [&] { DestroyWindow(window); });

  EXPECT_EQ(0x5A5A, SendMessageA(window, kProbeCallback, 0, 0));

  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(1, CountFor(replacementLog, window, WM_DESTROY));
  EXPECT_EQ(0, SubclassTableCapacity());
  EXPECT_FALSE(IsTabKeyHookInstalled());
}

using PopupAncestor = RegistryTest;

TEST_F(PopupAncestor, NullGivesNull) { EXPECT_EQ(nullptr, FindPopupAncestor(NULL)); }

TEST_F(PopupAncestor, PopupIsItsOwnAncestor) {
  HWND popup = Probe(WS_POPUP);
  EXPECT_EQ(popup, FindPopupAncestor(popup));
}

TEST_F(PopupAncestor, ChildrenAndGrandchildrenFindTheirPopup) {
  HWND popup = Probe(WS_POPUP);
  HWND child = Probe(WS_CHILD, popup);
  HWND grandchild = Probe(WS_CHILD, child);
  EXPECT_EQ(popup, FindPopupAncestor(child));
  EXPECT_EQ(popup, FindPopupAncestor(grandchild));
}

TEST_F(PopupAncestor, WindowsWithoutAPopupAboveThemGiveNull) {
  HWND topLevel = Probe(WS_OVERLAPPEDWINDOW);
  HWND child = Probe(WS_CHILD, topLevel);
  HWND grandchild = Probe(WS_CHILD, child);
  EXPECT_EQ(nullptr, FindPopupAncestor(topLevel));
  EXPECT_EQ(nullptr, FindPopupAncestor(child));
  EXPECT_EQ(nullptr, FindPopupAncestor(grandchild));
}

}  // namespace
