// CenterWindowInWorkArea with work areas set through SPI_SETWORKAREA, and
// one real dialog centred in Wine's own work area by EnhanceDialog.
#include <windows.h>

#include <cstdlib>

#include "dialog_test_fixture.h"

namespace {

class WorkAreaPlacement : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &savedWorkArea_, 0));
  }

  void TearDown() override {
    SystemParametersInfoA(SPI_SETWORKAREA, 0, &savedWorkArea_, 0);
    DialogTest::TearDown();
  }

  void SetWorkArea(int left, int top, int right, int bottom) {
    RECT work = {left, top, right, bottom};
    ASSERT_TRUE(SystemParametersInfoA(SPI_SETWORKAREA, 0, &work, 0));
    RECT readBack = {};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &readBack, 0);
    ASSERT_TRUE(EqualRect(&work, &readBack));
  }

  // A borderless popup: its window rectangle is exactly the size given.
  HWND Popup(int width, int height, int x = 7, int y = 9) {
    HWND window = OwnWindow(CreateProbeWindow(WS_POPUP));
    SetWindowPos(window, NULL, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    return window;
  }

  static RECT RectOf(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return rect;
  }

  RECT savedWorkArea_ = {};
};

void ExpectPlacedAt(HWND window, int x, int y, int width, int height) {
  RECT rect = {};
  GetWindowRect(window, &rect);
  EXPECT_EQ(x, rect.left);
  EXPECT_EQ(y, rect.top);
  EXPECT_EQ(width, rect.right - rect.left) << "the size must not change";
  EXPECT_EQ(height, rect.bottom - rect.top) << "the size must not change";
}

TEST_F(WorkAreaPlacement, WindowIsCentredInAWorkAreaAboveTheTaskBar) {
  SetWorkArea(0, 0, 1024, 738);
  HWND window = Popup(300, 200);

  CenterWindowInWorkArea(window, 50, 50);

  ExpectPlacedAt(window, 362, 269, 300, 200);
}

TEST_F(WorkAreaPlacement, HalfPixelsRoundAwayFromZero) {
  SetWorkArea(0, 0, 1000, 700);
  // Free space 101 across gives 50.5 -> 51; -3 down gives -1.5 -> -2.
  HWND window = Popup(899, 703);

  CenterWindowInWorkArea(window, 50, 50);

  ExpectPlacedAt(window, 51, -2, 899, 703);
}

TEST_F(WorkAreaPlacement, OffsetsStartAtTheWorkAreaCornerWhenTheTaskBarIsLeftOrTop) {
  SetWorkArea(120, 40, 1024, 768);
  HWND window = Popup(300, 200);

  CenterWindowInWorkArea(window, 50, 50);

  ExpectPlacedAt(window, 120 + 302, 40 + 264, 300, 200);
}

TEST_F(WorkAreaPlacement, WindowLargerThanTheWorkAreaOverhangsBothSides) {
  SetWorkArea(10, 20, 810, 620);
  HWND window = Popup(1000, 701);

  CenterWindowInWorkArea(window, 50, 50);

  // Free space -200 and -101: -100 and -50.5 -> -51.
  ExpectPlacedAt(window, 10 - 100, 20 - 51, 1000, 701);
}

TEST_F(WorkAreaPlacement, PercentagesZeroAndHundredTouchTheEdges) {
  SetWorkArea(100, 50, 900, 650);
  HWND window = Popup(200, 100);

  CenterWindowInWorkArea(window, 0, 0);
  ExpectPlacedAt(window, 100, 50, 200, 100);

  CenterWindowInWorkArea(window, 100, 100);
  ExpectPlacedAt(window, 700, 550, 200, 100);

  CenterWindowInWorkArea(window, 25, 75);
  ExpectPlacedAt(window, 100 + 150, 50 + 375, 200, 100);
}

TEST_F(WorkAreaPlacement, ZOrderAndActivationAreKept) {
  SetWorkArea(0, 0, 1024, 768);
  HWND lower = Popup(100, 100, 10, 10);
  HWND upper = Popup(100, 100, 20, 20);
  ShowWindow(lower, SW_SHOWNOACTIVATE);
  ShowWindow(upper, SW_SHOWNOACTIVATE);
  SetWindowPos(upper, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  auto lowerIsBelowUpper = [&] {
    for (HWND next = GetWindow(upper, GW_HWNDNEXT); next != NULL; next = GetWindow(next, GW_HWNDNEXT)) {
      if (next == lower) return true;
    }
    return false;
  };
  ASSERT_TRUE(lowerIsBelowUpper());
  HWND activeBefore = GetActiveWindow();
  ASSERT_NE(lower, activeBefore);

  CenterWindowInWorkArea(lower, 50, 50);

  EXPECT_TRUE(lowerIsBelowUpper());
  EXPECT_EQ(activeBefore, GetActiveWindow());
  ExpectPlacedAt(lower, 462, 334, 100, 100);
}

TEST_F(WorkAreaPlacement, EmptyWorkAreaFallsBackToThePrimaryScreen) {
  // A work area that cannot be used would put the window at negative
  // coordinates, off the screen; the primary screen serves instead.
  SetWorkArea(0, 0, 0, 0);
  int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  ASSERT_GT(screenWidth, 300);
  ASSERT_GT(screenHeight, 200);
  HWND window = Popup(300, 200);

  CenterWindowInWorkArea(window, 50, 50);

  ExpectPlacedAt(window, MulDiv(screenWidth - 300, 50, 100), MulDiv(screenHeight - 200, 50, 100), 300, 200);
}

TEST_F(WorkAreaPlacement, HandleOfNoWindowIsIgnored) {
  HWND gone = CreateProbeWindow(WS_POPUP);
  ASSERT_TRUE(DestroyWindow(gone));
  CenterWindowInWorkArea(gone, 50, 50);
  CenterWindowInWorkArea(NULL, 50, 50);
  EXPECT_FALSE(IsWindow(gone));
}

TEST_F(WorkAreaPlacement, RealDialogIsCentredInWinesWorkArea) {
  DialogTemplate layout(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE | DS_MODALFRAME, 180, 60);
  layout.Add(L"STATIC", 0x50020001, 10, 20, 160, 10, 100, L"Please wait");
  TestDialog& dialog = NewDialog();
  dialog.enhance = EnhanceDialog;
  HWND window = OpenDialog(layout, &dialog);
  ASSERT_NE(nullptr, window);

  RECT work = {};
  ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
  RECT placed = RectOf(window);
  int width = placed.right - placed.left;
  int height = placed.bottom - placed.top;
  EXPECT_EQ(work.left + MulDiv(work.right - work.left - width, 50, 100), placed.left);
  EXPECT_EQ(work.top + MulDiv(work.bottom - work.top - height, 50, 100), placed.top);
  // Really in the middle, not only by the same arithmetic.
  EXPECT_LE(std::abs((placed.left - work.left) - (work.right - placed.right)), 1);
  EXPECT_LE(std::abs((placed.top - work.top) - (work.bottom - placed.bottom)), 1);
}

}  // namespace
