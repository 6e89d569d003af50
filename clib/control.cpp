// The control base class: creation and binding, the two ends of a control, and its small API
// over the window.
#include "clib/clib.h"

void CControl::Create(CControl* Parent) {
  fParent = Parent;
  fDestroying = false;
  fFont = new CFont(this);  // wnd is still 0: no WM_SETFONT yet
  if (fFont && fParent && fParent->fFont) fFont->CopyOf(fParent->fFont);
  fBkBrush = new CBrush;
  CreateWnd();
  // Without a window the object stays unbound; every operation on it then does nothing.
  if (!wnd) return;
  SendMessageW(wnd, WM_SETFONT, reinterpret_cast<WPARAM>(fFont ? fFont->Handle() : nullptr), 0);
  if (!Bind()) {
    // A window that cannot be read or bound is no control: it goes, and the object stays unbound.
    DestroyWindow(wnd);
    wnd = nullptr;
    return;
  }
  Initialize();
}

bool CControl::Bind() {
  RECT r = {}, c = {};
  if (!::GetWindowRect(wnd, &r) || !GetClientRect(wnd, &c)) return false;
  fWidth = r.right - r.left;
  fHeight = r.bottom - r.top;
  POINT corner = {r.left, r.top};
  if (fParent && (GetStyle() & WS_CHILD)) ScreenToClient(fParent->wnd, &corner);
  fLeft = corner.x;
  fTop = corner.y;
  fClientWidth = c.right - c.left;
  fClientHeight = c.bottom - c.top;

  // The object goes in before the procedure, so ApiWndProc never runs without it. The two writes
  // can answer 0 on success (the previous value), so the error tells.
  fDefWindowProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(wnd, GWLP_WNDPROC));
  if (!fDefWindowProc) return false;
  SetLastError(0);
  if (!SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this)) && GetLastError()) return false;
  SetLastError(0);
  if (!SetWindowLongPtrW(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ApiWndProc)) && GetLastError()) {
    SetWindowLongPtrW(wnd, GWLP_USERDATA, 0);
    return false;
  }
  return true;
}

void CControl::Destroy() {
  Finalize();
  if (wnd && !fDestroying) {
    fDestroying = true;
    // Its WM_NCDESTROY finds fDestroying set; the children free themselves. A window that stays
    // (a WH_CBT hook may keep it) must lead nowhere once the object is gone.
    if (!DestroyWindow(wnd)) Unbind();
  }
  wnd = nullptr;
  // Only after the window: no message is ever handled with a freed font or brush.
  delete fFont;
  fFont = nullptr;
  delete fBkBrush;
  fBkBrush = nullptr;
  delete this;
}

void CControl::Unbind() {
  // Either write alone keeps ApiWndProc away from the object.
  SetWindowLongPtrW(wnd, GWLP_USERDATA, 0);
  SetWindowLongPtrW(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(fDefWindowProc));
  EnumChildWindows(wnd, ForgetParent, reinterpret_cast<LPARAM>(this));
}

BOOL CALLBACK CControl::ForgetParent(HWND Child, LPARAM Parent) {
  CControl* child = ControlOf(Child);
  if (child && child->fParent == reinterpret_cast<CControl*>(Parent)) child->fParent = nullptr;
  return TRUE;
}

void CControl::Close() {
  DoClose();
  // Without a window no WM_NCDESTROY comes to free the object.
  if (!wnd) {
    Destroy();
    return;
  }
  // WM_NCDESTROY frees the object inside this call; nothing of it is touched afterwards.
  DestroyWindow(wnd);
}

void CControl::Initialize() {
  if (fParent) {
    fColor = fParent->fColor;
    fBkColor = fParent->fBkColor;
  } else {
    fColor = GetSysColor(COLOR_BTNTEXT);
    fBkColor = GetSysColor(COLOR_BTNFACE);
  }
  if (fBkBrush) fBkBrush->SetColor(fBkColor);
}

HWND CControl::ParentHandle() const { return fParent ? fParent->wnd : nullptr; }

void CControl::Show() { ShowWindow(wnd, SW_SHOWNORMAL); }
void CControl::Hide() { ShowWindow(wnd, SW_HIDE); }

void CControl::Move(int X, int Y, int nWidth, int nHeight) { MoveWindow(wnd, X, Y, nWidth, nHeight, TRUE); }
void CControl::Move(int X, int Y) { MoveWindow(wnd, X, Y, fWidth, fHeight, TRUE); }

void CControl::SetWindowPos(int X, int Y, int nWidth, int nHeight, HWND hWndInsertAfter, UINT uFlags) {
  ::SetWindowPos(wnd, hWndInsertAfter, X, Y, nWidth, nHeight, uFlags);
}

RECT CControl::ClientRect() const {
  RECT r = {};
  GetClientRect(wnd, &r);
  return r;
}

RECT CControl::GetWindowRect() const {
  RECT r = {};
  ::GetWindowRect(wnd, &r);
  return r;
}

bool CControl::SetText(const WCHAR* AText) { return SetWindowTextW(wnd, AText ? AText : L"") != FALSE; }

bool CControl::GetText(WideText& Text) const {
  Text.Truncate(0);
  int n = GetWindowTextLengthW(wnd);
  if (n <= 0) return true;
  if (!Text.Grow(size_t(n))) return false;
  // The zero-filled buffer is cut to what Windows wrote: an overstated length shows no garbage.
  Text.Truncate(Clamped(GetWindowTextW(wnd, Text.Data(), n + 1), size_t(n)));
  return true;
}

void CControl::SetFocus() { ::SetFocus(wnd); }
void CControl::Invalidate() { ::InvalidateRect(wnd, nullptr, TRUE); }
void CControl::InvalidateRect(RECT r) { ::InvalidateRect(wnd, &r, TRUE); }

void CControl::SetLeft(int Value) { Move(Value, fTop, fWidth, fHeight); }
void CControl::SetTop(int Value) { Move(fLeft, Value, fWidth, fHeight); }
void CControl::SetWidth(int Value) { Move(fLeft, fTop, Value, fHeight); }
void CControl::SetHeight(int Value) { Move(fLeft, fTop, fWidth, Value); }

LONG CControl::GetStyle() const { return GetWindowLongW(wnd, GWL_STYLE); }
void CControl::SetStyle(LONG Value) { SetWindowLongW(wnd, GWL_STYLE, Value); }

// Border and HScroll reload fStyle from the live style, then read or write one bit of it.
bool CControl::StyleBit(DWORD Bit) {
  fStyle = DWORD(GetWindowLongW(wnd, GWL_STYLE));
  return (fStyle & Bit) != 0;
}

void CControl::SetStyleBit(DWORD Bit, bool Value) {
  fStyle = DWORD(GetWindowLongW(wnd, GWL_STYLE));
  fStyle = Value ? fStyle | Bit : fStyle & ~Bit;
  SetWindowLongW(wnd, GWL_STYLE, LONG(fStyle));
}

bool CControl::GetBorder() { return StyleBit(WS_BORDER); }
void CControl::SetBorder(bool Value) { SetStyleBit(WS_BORDER, Value); }
bool CControl::GetHScroll() { return StyleBit(WS_HSCROLL); }
void CControl::SetHScroll(bool Value) { SetStyleBit(WS_HSCROLL, Value); }

bool CControl::GetVisible() const { return IsWindowVisible(wnd) != FALSE; }
void CControl::SetVisible(bool Value) { ShowWindow(wnd, Value ? SW_SHOW : SW_HIDE); }
bool CControl::GetEnabled() const { return IsWindowEnabled(wnd) != FALSE; }
void CControl::SetEnabled(bool Value) { EnableWindow(wnd, Value ? TRUE : FALSE); }

void CControl::SetBkColor(COLORREF Value) {
  if (Value == fBkColor) return;
  fBkColor = Value;
  if (fBkBrush) fBkBrush->SetColor(Value);
  Invalidate();
}
