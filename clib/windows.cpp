// Top-level windows of "CLibApiWnd": the plain window with its background painting and frame
// properties, and the main window whose end ends the program.
#include "clib/clib.h"

namespace {

bool LongBit(HWND Window, int Index, LONG Bit) { return (GetWindowLongW(Window, Index) & Bit) != 0; }

// Only the one bit changes; fStyle and fStyleEx keep their creation values.
void SetLongBit(HWND Window, int Index, LONG Bit, bool Value) {
  LONG s = GetWindowLongW(Window, Index);
  SetWindowLongW(Window, Index, Value ? s | Bit : s & ~Bit);
}

}  // namespace

void CWindow::CreateWnd() {
  fStyle = 0;
  fStyleEx = 0;
  wnd = CreateWindowExW(fStyleEx, ApiWndClassName, L"", fStyle, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, ParentHandle(), nullptr, GetModuleHandleW(nullptr), nullptr);
}

// Fills the client area less the visible direct children, and answers 0: erased here.
LRESULT CWindow::DoEraseBkgnd(HDC DC) {
  RECT client = ClientRect();
  TExclusionPair pair = {wnd, CreateRectRgnIndirect(&client)};
  if (!pair.Region) return 0;
  EnumChildWindows(wnd, ExcludeChildProc, reinterpret_cast<LPARAM>(&pair));
  FillRgn(DC, pair.Region, fBkBrush ? fBkBrush->Handle() : nullptr);
  DeleteObject(pair.Region);
  return 0;
}

BOOL CALLBACK ExcludeChildProc(HWND Child, LPARAM Pair) {
  TExclusionPair* pair = reinterpret_cast<TExclusionPair*>(Pair);
  // Deeper descendants lie inside their direct child; hidden children are painted over.
  if (GetParent(Child) != pair->Window || !IsWindowVisible(Child)) return TRUE;
  RECT r = {};
  GetWindowRect(Child, &r);
  HRGN childRegion = CreateRectRgnIndirect(&r);
  if (!childRegion) return TRUE;
  POINT offset = {0, 0};
  ScreenToClient(pair->Window, &offset);
  OffsetRgn(childRegion, offset.x, offset.y);
  CombineRgn(pair->Region, pair->Region, childRegion, RGN_DIFF);
  DeleteObject(childRegion);
  return TRUE;  // always on, over every descendant
}

bool CWindow::GetMinimizeBox() const { return LongBit(wnd, GWL_STYLE, WS_MINIMIZEBOX); }
void CWindow::SetMinimizeBox(bool Value) { SetLongBit(wnd, GWL_STYLE, WS_MINIMIZEBOX, Value); }
bool CWindow::GetSysMenu() const { return LongBit(wnd, GWL_STYLE, WS_SYSMENU); }
void CWindow::SetSysMenu(bool Value) { SetLongBit(wnd, GWL_STYLE, WS_SYSMENU, Value); }
bool CWindow::GetThickFrame() const { return LongBit(wnd, GWL_STYLE, WS_THICKFRAME); }
void CWindow::SetThickFrame(bool Value) { SetLongBit(wnd, GWL_STYLE, WS_THICKFRAME, Value); }
bool CWindow::GetToolWindow() const { return LongBit(wnd, GWL_EXSTYLE, WS_EX_TOOLWINDOW); }
void CWindow::SetToolWindow(bool Value) { SetLongBit(wnd, GWL_EXSTYLE, WS_EX_TOOLWINDOW, Value); }

const TMessageEntry CMainWindow::MessageEntries[] = {
    {WM_DESTROY, static_cast<TMessageHandler>(&CMainWindow::WMDestroy)},
};
const TMessageMap CMainWindow::MessageTable = MapOf(&CControl::MessageTable, CMainWindow::MessageEntries);

void CMainWindow::CreateWnd() {
  fStyle = 0;
  fStyleEx = WS_EX_APPWINDOW;
  wnd = CreateWindowExW(fStyleEx, ApiWndClassName, L"MyMainWindow", fStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, ParentHandle(), nullptr, GetModuleHandleW(nullptr), nullptr);
}

// WM_DESTROY: no parameters read.
void CMainWindow::WMDestroy(TControlMessage& Message) {
  PostQuitMessage(0);
  Message.Result = 0;
}
