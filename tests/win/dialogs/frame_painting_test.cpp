// What the frame procedures paint, read back pixel by pixel from the real
// windows after they painted, and their immediate repaint on WM_ENABLE.
#include <windows.h>

#include <set>
#include <string>

#include "dialog_test_fixture.h"

namespace {

const WORD kHorizontalId = 200;  // SS_BLACKRECT, 100 x 2 pixels
const WORD kVerticalId = 201;    // SS_GRAYRECT, 2 x 100 pixels
const WORD kSquareId = 202;      // SS_BLACKFRAME, 10 x 10 pixels
const WORD kGroupBoxId = 300;    // untitled group box, 60 x 40 pixels
const COLORREF kScribble = RGB(255, 0, 0);

enum class Paint { Shadow, Highlight, DarkShadow, Light, Untouched };

COLORREF ColorOf(Paint paint, COLORREF background) {
  switch (paint) {
    case Paint::Shadow:
      return GetSysColor(COLOR_BTNSHADOW);
    case Paint::Highlight:
      return GetSysColor(COLOR_BTNHIGHLIGHT);
    case Paint::DarkShadow:
      return GetSysColor(COLOR_3DDKSHADOW);
    case Paint::Light:
      return GetSysColor(COLOR_3DLIGHT);
    case Paint::Untouched:
      return background;
  }
  return background;
}

// The sunken frame of a group box with client size width x height: outer
// ring shadow top/left, highlight right/bottom; inner ring dark shadow
// top/left, light right/bottom; the top-right and bottom-left corner of each
// ring in the colour of the right and bottom sides.
Paint ExpectedSunkenFrame(int x, int y, int width, int height) {
  const int right = width - 1, bottom = height - 1;
  if (y == bottom || x == right) return Paint::Highlight;
  if (y == 0 || x == 0) return Paint::Shadow;
  if (y == bottom - 1 || x == right - 1) return Paint::Light;
  if (y == 1 || x == 1) return Paint::DarkShadow;
  return Paint::Untouched;
}

// The etched line of a static: rows 0 and 1 of a wide control, columns 0
// and 1 of a tall or square one.
Paint ExpectedEtchedLine(int x, int y, int width, int height) {
  int across = width > height ? y : x;
  if (across == 0) return Paint::Shadow;
  if (across == 1) return Paint::Highlight;
  return Paint::Untouched;
}

std::string Describe(COLORREF color) {
  char text[16];
  wsprintfA(text, "#%06lX", static_cast<unsigned long>(color));
  return text;
}

class FramePainting : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    // The colours must differ from each other and from the dialog's
    // background, or the pixels could not tell the runs apart.
    std::set<COLORREF> colors = {GetSysColor(COLOR_BTNSHADOW),  GetSysColor(COLOR_BTNHIGHLIGHT),
                                 GetSysColor(COLOR_3DDKSHADOW), GetSysColor(COLOR_3DLIGHT),
                                 GetSysColor(COLOR_BTNFACE),    kScribble};
    ASSERT_EQ(6u, colors.size()) << "system colours too alike for pixel checks";

    const DWORD child = WS_CHILD | WS_VISIBLE;
    DialogTemplate layout(WS_POPUP | WS_CAPTION | WS_VISIBLE | DS_MODALFRAME, 200, 120);
    layout.Add(L"STATIC", child | SS_BLACKRECT, 1, 1, 1, 1, kHorizontalId)
        .Add(L"STATIC", child | SS_GRAYRECT, 1, 1, 1, 1, kVerticalId)
        .Add(L"STATIC", child | SS_BLACKFRAME, 1, 1, 1, 1, kSquareId)
        .Add(L"BUTTON", child | BS_GROUPBOX, 1, 1, 1, 1, kGroupBoxId);
    dialog_.enhance = EnhanceDialog;
    dialog_.prepare = [this](HWND window) {
      // Exact pixel sizes; the spies stand in for the previous procedures.
      SetWindowPos(GetDlgItem(window, kHorizontalId), NULL, 10, 10, 100, 2, SWP_NOZORDER);
      SetWindowPos(GetDlgItem(window, kVerticalId), NULL, 10, 20, 2, 100, SWP_NOZORDER);
      SetWindowPos(GetDlgItem(window, kSquareId), NULL, 30, 20, 10, 10, SWP_NOZORDER);
      SetWindowPos(GetDlgItem(window, kGroupBoxId), NULL, 60, 20, 60, 40, SWP_NOZORDER);
      InstallSpy(GetDlgItem(window, kSquareId), &previousLog_);
      InstallSpy(GetDlgItem(window, kGroupBoxId), &previousLog_);
    };
    window_ = OpenDialog(layout, &dialog_);
    ASSERT_NE(nullptr, window_);
    ASSERT_EQ(StaticFrameProc, CurrentProcedure(Control(kHorizontalId)));
    ASSERT_EQ(GroupBoxFrameProc, CurrentProcedure(Control(kGroupBoxId)));
    ASSERT_TRUE(ActivateForKeys(window_, NULL));
    RedrawWindow(window_, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    PumpMessagesFor(50);
    background_ = DialogPixel(5, 5);
    ASSERT_EQ(GetSysColor(COLOR_BTNFACE), background_) << "the dialog has not painted its background";
  }

  HWND Control(WORD id) { return GetDlgItem(window_, id); }

  COLORREF DialogPixel(int x, int y) {
    HDC dc = GetDC(window_);
    COLORREF color = GetPixel(dc, x, y);
    ReleaseDC(window_, dc);
    return color;
  }

  // Compares every pixel of the control's client area with the expected
  // paint; `untouched` is the colour the unpainted pixels must keep.
  template <typename Expected>
  void ExpectPixels(WORD id, Expected expected, COLORREF untouched) {
    HWND control = Control(id);
    RECT client = {};
    GetClientRect(control, &client);
    HDC dc = GetDC(control);
    int mismatches = 0;
    for (int y = 0; y < client.bottom; ++y) {
      for (int x = 0; x < client.right; ++x) {
        Paint paint = expected(x, y, client.right, client.bottom);
        COLORREF want = ColorOf(paint, untouched);
        COLORREF got = GetPixel(dc, x, y);
        if (got != want && ++mismatches <= 8) {
          ADD_FAILURE() << "control " << id << " pixel (" << x << "," << y << ") is " << Describe(got)
                        << ", expected " << Describe(want);
        }
      }
    }
    ReleaseDC(control, dc);
    EXPECT_EQ(0, mismatches) << "control " << id;
  }

  void ScribbleOver(WORD id) {
    HWND control = Control(id);
    RECT client = {};
    GetClientRect(control, &client);
    HDC dc = GetDC(control);
    HBRUSH brush = CreateSolidBrush(kScribble);
    FillRect(dc, &client, brush);
    DeleteObject(brush);
    ASSERT_EQ(kScribble, GetPixel(dc, 0, 0));
    ReleaseDC(control, dc);
  }

  TestDialog dialog_;
  HWND window_ = NULL;
  COLORREF background_ = 0;
  MessageLog previousLog_;
};

TEST_F(FramePainting, WideStaticGetsAnEtchedLineInRowsZeroAndOne) {
  RECT client = {};
  GetClientRect(Control(kHorizontalId), &client);
  ASSERT_EQ(100, client.right);
  ASSERT_EQ(2, client.bottom);
  ExpectPixels(kHorizontalId, ExpectedEtchedLine, background_);
}

TEST_F(FramePainting, TallStaticGetsAnEtchedLineInColumnsZeroAndOne) {
  RECT client = {};
  GetClientRect(Control(kVerticalId), &client);
  ASSERT_EQ(2, client.right);
  ASSERT_EQ(100, client.bottom);
  ExpectPixels(kVerticalId, ExpectedEtchedLine, background_);
}

TEST_F(FramePainting, SquareStaticGetsAVerticalLineAndNoFrameOfItsOwn) {
  // SS_BLACKFRAME alone would draw a frame on all four sides.
  ExpectPixels(kSquareId, ExpectedEtchedLine, background_);
}

TEST_F(FramePainting, UntitledGroupBoxGetsASunkenFrameWithItsInsideUnpainted) {
  ExpectPixels(kGroupBoxId, ExpectedSunkenFrame, background_);
  HDC dc = GetDC(Control(kGroupBoxId));
  // The corners named explicitly: top-right and bottom-left of each ring
  // take the right and bottom colours.
  EXPECT_EQ(GetSysColor(COLOR_BTNHIGHLIGHT), GetPixel(dc, 59, 0));
  EXPECT_EQ(GetSysColor(COLOR_BTNHIGHLIGHT), GetPixel(dc, 0, 39));
  EXPECT_EQ(GetSysColor(COLOR_3DLIGHT), GetPixel(dc, 58, 1));
  EXPECT_EQ(GetSysColor(COLOR_3DLIGHT), GetPixel(dc, 1, 38));
  EXPECT_EQ(GetSysColor(COLOR_BTNSHADOW), GetPixel(dc, 0, 0));
  EXPECT_EQ(GetSysColor(COLOR_3DDKSHADOW), GetPixel(dc, 1, 1));
  ReleaseDC(Control(kGroupBoxId), dc);
}

TEST_F(FramePainting, RepaintDrawsOnlyTheFrameOverWhatIsThere) {
  ScribbleOver(kGroupBoxId);
  ScribbleOver(kSquareId);

  InvalidateRect(Control(kGroupBoxId), NULL, FALSE);
  InvalidateRect(Control(kSquareId), NULL, FALSE);
  UpdateWindow(Control(kGroupBoxId));
  UpdateWindow(Control(kSquareId));

  ExpectPixels(kGroupBoxId, ExpectedSunkenFrame, kScribble);
  ExpectPixels(kSquareId, ExpectedEtchedLine, kScribble);
  EXPECT_EQ(0, CountOf(previousLog_, WM_PAINT, 0)) << "the previous procedures must not paint";
}

using EnableRepaint = FramePainting;

TEST_F(EnableRepaint, DisablingAndEnablingRepaintsAtOnceWithoutErasing) {
  previousLog_.clear();
  for (WORD id : {kSquareId, kGroupBoxId}) {
    auto expected = id == kSquareId ? ExpectedEtchedLine : ExpectedSunkenFrame;
    SCOPED_TRACE(testing::Message() << "control " << id);

    ScribbleOver(id);
    EnableWindow(Control(id), FALSE);
    // No message pumping: the repaint has happened inside WM_ENABLE.
    ExpectPixels(id, expected, kScribble);

    ScribbleOver(id);
    EnableWindow(Control(id), TRUE);
    ExpectPixels(id, expected, kScribble);
  }
  EXPECT_EQ(0u, MessagesOf(previousLog_, WM_ENABLE).size())
      << "WM_ENABLE must not reach the previous procedure";
  EXPECT_EQ(0u, MessagesOf(previousLog_, WM_ERASEBKGND).size()) << "the repaint must not erase";
}

}  // namespace

namespace {

// A window of a CS_OWNDC class keeps one device context across paints, so
// what a paint leaves selected in it can be read afterwards.
const char kOwnDcClassName[] = "DialogTestOwnDc";

class PenHousekeeping : public DialogTest {
 protected:
  HWND OwnDcWindow() {
    WNDCLASSA ownDcClass = {};
    if (!GetClassInfoA(GetModuleHandleA(NULL), kOwnDcClassName, &ownDcClass)) {
      ownDcClass.style = CS_OWNDC;
      ownDcClass.lpfnWndProc = ProbeProc;
      ownDcClass.hInstance = GetModuleHandleA(NULL);
      ownDcClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
      ownDcClass.lpszClassName = kOwnDcClassName;
      EXPECT_NE(0, RegisterClassA(&ownDcClass));
    }
    return OwnWindow(CreateWindowExA(0, kOwnDcClassName, "", WS_POPUP | WS_VISIBLE, 40, 40, 60, 40, NULL,
                                     NULL, GetModuleHandleA(NULL), NULL));
  }

  void ExpectPenSelectedBackAfterPainting(WNDPROC frameProc) {
    HWND window = OwnDcWindow();
    ASSERT_NE(nullptr, window);
    HPEN marker = CreatePen(PS_SOLID, 0, RGB(1, 2, 3));
    HDC dc = GetDC(window);
    SelectObject(dc, marker);
    ReleaseDC(window, dc);
    ASSERT_TRUE(SubclassWindow(window, frameProc));

    for (int paint = 0; paint < 3; ++paint) {
      InvalidateRect(window, NULL, TRUE);
      UpdateWindow(window);
    }

    dc = GetDC(window);
    EXPECT_EQ(marker, GetCurrentObject(dc, OBJ_PEN));
    // The frame really was painted into this context.
    EXPECT_EQ(GetSysColor(COLOR_BTNSHADOW), GetPixel(dc, 0, 0));
    ReleaseDC(window, dc);
    DestroyWindow(window);
    DeleteObject(marker);
  }
};

TEST_F(PenHousekeeping, SunkenFrameSelectsThePreviousPenBack) {
  ExpectPenSelectedBackAfterPainting(GroupBoxFrameProc);
}

TEST_F(PenHousekeeping, EtchedLineSelectsThePreviousPenBack) {
  ExpectPenSelectedBackAfterPainting(StaticFrameProc);
}

}  // namespace
