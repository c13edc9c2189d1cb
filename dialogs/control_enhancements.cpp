// Control enhancements and window placement for dialogs.
//
// Every replacement procedure here handles a few messages itself and passes
// everything else, WM_DESTROY always among it, to ForwardSubclassedMessage,
// which also ends the subclass when the control goes away.
#include "control_enhancements.h"

#include "subclass_registry.h"

namespace {

const int kClassNameBufferSize = 32;
const LONG_PTR kStaticFrameStyleBit = 0x0004;  // rectangles, frames and the types 0x0C to 0x0F
const LONG_PTR kButtonTypeMask = 0x000F;

BOOL SameText(const char* left, const char* right) {
  while (*left != '\0' && *left == *right) {
    ++left;
    ++right;
  }
  return *left == *right;
}

BOOL IsKeyDownNow(int virtualKey) { return (GetAsyncKeyState(virtualKey) & 0x8000) != 0; }

// The replacement procedure a direct child of a dialog gets, or NULL.
WNDPROC EnhancementFor(HWND child) {
  char className[kClassNameBufferSize];
  className[0] = '\0';
  GetClassNameA(child, className, kClassNameBufferSize);
  CharUpperA(className);
  LONG_PTR style = GetWindowLongPtrA(child, GWL_STYLE);

  if (SameText(className, "STATIC")) {
    return (style & kStaticFrameStyleBit) != 0 ? StaticFrameProc : NULL;
  }
  if (SameText(className, "BUTTON")) {
    BOOL untitledGroupBox = (style & kButtonTypeMask) == BS_GROUPBOX && GetWindowTextLengthA(child) == 0;
    return untitledGroupBox ? GroupBoxFrameProc : NULL;
  }
  if (SameText(className, "COMBOBOX")) return ComboClearProc;
  if (SameText(className, "EDIT")) {
    return (style & ES_MULTILINE) != 0 ? MultiLineEditProc : NULL;
  }
  return NULL;
}

// The desktop work area; the primary screen when the work area cannot be
// read or comes back empty. FALSE when neither is known.
BOOL ReadWorkArea(RECT* work) {
  if (SystemParametersInfoA(SPI_GETWORKAREA, 0, work, 0) && work->right > work->left &&
      work->bottom > work->top) {
    return TRUE;
  }
  work->left = 0;
  work->top = 0;
  work->right = GetSystemMetrics(SM_CXSCREEN);
  work->bottom = GetSystemMetrics(SM_CYSCREEN);
  return work->right > 0 && work->bottom > 0;
}

// Repaints the control at once, leaving the background as it is.
void RepaintWithoutErasing(HWND window) {
  InvalidateRect(window, NULL, FALSE);
  UpdateWindow(window);
}

HPEN CreateOnePixelPen(int systemColorIndex) { return CreatePen(PS_SOLID, 0, GetSysColor(systemColorIndex)); }

// An etched line two pixels thick along the top edge of a wide control, or
// along the left edge of a tall or square one: shadow first, highlight beside.
void PaintEtchedLine(HWND window) {
  RECT client;
  GetClientRect(window, &client);
  int width = client.right - client.left;
  int height = client.bottom - client.top;

  HPEN highlightPen = CreateOnePixelPen(COLOR_BTNHIGHLIGHT);
  HPEN shadowPen = CreateOnePixelPen(COLOR_BTNSHADOW);
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);

  // The shadow runs from the corner to the end of the edge, the highlight
  // beside it, one pixel further in.
  BOOL wide = width > height;
  int endX = wide ? client.right : 0;
  int endY = wide ? 0 : client.bottom;
  int inX = wide ? 0 : 1;
  int inY = wide ? 1 : 0;
  HGDIOBJ previousPen = SelectObject(dc, shadowPen);
  MoveToEx(dc, 0, 0, NULL);
  LineTo(dc, endX, endY);
  SelectObject(dc, highlightPen);
  MoveToEx(dc, inX, inY, NULL);
  LineTo(dc, endX + inX, endY + inY);
  SelectObject(dc, previousPen);
  EndPaint(window, &paint);
  DeleteObject(highlightPen);
  DeleteObject(shadowPen);
}

}  // namespace

void EnhanceDialog(HWND dialog) {
  if (dialog == NULL) return;
  SubclassWindow(dialog, PassThroughProc);
  CenterWindowInWorkArea(dialog, 50, 50);
  // Direct children only: controls inside a child window keep their looks.
  for (HWND child = GetWindow(dialog, GW_CHILD); child != NULL; child = GetWindow(child, GW_HWNDNEXT)) {
    WNDPROC enhancement = EnhancementFor(child);
    if (enhancement != NULL) SubclassWindow(child, enhancement);
  }
}

void CenterWindowInWorkArea(HWND window, int xPercent, int yPercent) {
  RECT placed;
  if (!GetWindowRect(window, &placed)) return;
  RECT work;
  if (!ReadWorkArea(&work)) return;
  // MulDiv rounds halves away from zero, so a negative free space (a window
  // larger than the work area) overhangs it evenly.
  int x = work.left + MulDiv((work.right - work.left) - (placed.right - placed.left), xPercent, 100);
  int y = work.top + MulDiv((work.bottom - work.top) - (placed.bottom - placed.top), yPercent, 100);
  // Without SWP_NOACTIVATE the move would activate the window, and
  // activation lifts it to the top of the Z order it is meant to keep.
  SetWindowPos(window, NULL, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK GroupBoxFrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      PaintSunkenFrame(window);  // the group box's own line is never drawn
      return 0;
    case WM_ENABLE:
      RepaintWithoutErasing(window);
      return 0;
    default:
      return ForwardSubclassedMessage(window, message, wParam, lParam);
  }
}

void PaintSunkenFrame(HWND window) {
  RECT client;
  GetClientRect(window, &client);
  const int left = client.left, top = client.top, right = client.right, bottom = client.bottom;

  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  HPEN lightPen = CreateOnePixelPen(COLOR_3DLIGHT);
  HPEN highlightPen = CreateOnePixelPen(COLOR_BTNHIGHLIGHT);
  HPEN shadowPen = CreateOnePixelPen(COLOR_BTNSHADOW);
  HPEN darkShadowPen = CreateOnePixelPen(COLOR_3DDKSHADOW);

  // Two rings, the inner one a pixel inside the outer: each runs from its
  // bottom-left corner up the left and along the top in its first pen, then
  // down the right and back along the bottom in its second (outer: shadow,
  // highlight; inner: dark shadow, light). LineTo leaves out its end point,
  // and the later run wins the corner pixels, so the top-right and
  // bottom-left corners take the second pen.
  HPEN ringPens[2][2] = {{shadowPen, highlightPen}, {darkShadowPen, lightPen}};
  HGDIOBJ previousPen = NULL;
  for (int inset = 0; inset < 2; ++inset) {
    const int x0 = left + inset, y0 = top + inset, x1 = right - 1 - inset, y1 = bottom - 1 - inset;
    HGDIOBJ replaced = SelectObject(dc, ringPens[inset][0]);
    if (inset == 0) previousPen = replaced;
    MoveToEx(dc, x0, y1, NULL);
    LineTo(dc, x0, y0);
    LineTo(dc, x1, y0);
    SelectObject(dc, ringPens[inset][1]);
    LineTo(dc, x1, y1);
    LineTo(dc, x0 - 1, y1);
  }

  SelectObject(dc, previousPen);
  DeleteObject(lightPen);
  DeleteObject(highlightPen);
  DeleteObject(shadowPen);
  DeleteObject(darkShadowPen);
  EndPaint(window, &paint);
}

LRESULT CALLBACK StaticFrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      PaintEtchedLine(window);  // the static's text, rectangle or frame is never drawn
      return 0;
    case WM_ENABLE:
      RepaintWithoutErasing(window);
      return 0;
    default:
      return ForwardSubclassedMessage(window, message, wParam, lParam);
  }
}

LRESULT CALLBACK ComboClearProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_KEYDOWN && (wParam == VK_DELETE || wParam == VK_BACK) &&
      (GetWindowLongPtrA(window, GWL_STYLE) & COMBO_KEEP_DELETE_KEY_STYLE) == 0) {
    SendMessageA(window, CB_SETCURSEL, (WPARAM)-1, 0);
    SendMessageA(window, CB_SHOWDROPDOWN, FALSE, 0);
    // The parent learns of the cleared selection as if the user had made
    // it; both notifications carry lParam 0 rather than the combo box.
    HWND parent = GetParent(window);
    WORD controlId = LOWORD(GetDlgCtrlID(window));
    SendMessageA(parent, WM_COMMAND, MAKEWPARAM(controlId, CBN_SELCHANGE), 0);
    SendMessageA(parent, WM_COMMAND, MAKEWPARAM(controlId, CBN_SELENDOK), 0);
  }
  // The combo box sees the key as well.
  return ForwardSubclassedMessage(window, message, wParam, lParam);
}

LRESULT CALLBACK MultiLineEditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_KEYDOWN && wParam == VK_TAB && IsKeyDownNow(VK_CONTROL)) {
    // Ctrl+Tab leaves the edit: wParam 1 moves to the previous control.
    WPARAM towardsPrevious = IsKeyDownNow(VK_SHIFT) ? 1 : 0;
    PostMessageA(GetParent(window), WM_NEXTDLGCTL, towardsPrevious, 0);
    return 0;
  }
  if (message == WM_CHAR) {
    if (wParam == '\t') return 0;
    if ((wParam == '\r' || wParam == '\n') && (GetWindowLongPtrA(window, GWL_STYLE) & ES_WANTRETURN) == 0) {
      return 0;
    }
  }
  return ForwardSubclassedMessage(window, message, wParam, lParam);
}
