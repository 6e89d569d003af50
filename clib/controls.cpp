// The two system controls of the library: push buttons and list boxes.
#include "clib/clib.h"

namespace {

// The character cell height of Font on Window's device context; false when it cannot be had.
bool CellHeight(HWND Window, const CFont* Font, LONG& Height) {
  HDC dc = GetDC(Window);
  if (!dc) return false;
  TEXTMETRICW tm = {};
  HGDIOBJ old = SelectObject(dc, Font ? Font->Handle() : nullptr);
  BOOL ok = GetTextMetricsW(dc, &tm);
  if (old) SelectObject(dc, old);  // the font leaves the context before it is released
  ReleaseDC(Window, dc);
  if (ok) Height = tm.tmHeight;
  return ok != FALSE;
}

}  // namespace

void CButton::CreateWnd() {
  fStyle = WS_CHILD;
  fStyleEx = 0;
  wnd = CreateWindowExW(0, L"BUTTON", L"", WS_CHILD, 0, 0, 128, 24, ParentHandle(), nullptr,
                        GetModuleHandleW(nullptr), nullptr);
}

// As high as the parent's text plus 12; without a measure the button keeps its height of 24.
void CButton::Initialize() {
  CControl::Initialize();
  LONG cell;
  if (fParent && CellHeight(wnd, fParent->Font(), cell)) SetHeight(cell + 12);
}

void CButton::DoCommand(WORD wNotifyCode, WORD) {
  if (wNotifyCode == BN_CLICKED) DoClick();
}

void CButton::DoClick() {
  if (fOnClick.Code) fOnClick.Code(fOnClick.Data, this);
}

// The default-button mark is bit 1 of the extended style, not BS_DEFPUSHBUTTON.
bool CButton::GetDefPushButton() const { return (GetWindowLongW(wnd, GWL_EXSTYLE) & 1) != 0; }

void CButton::SetDefPushButton(bool Value) {
  LONG x = GetWindowLongW(wnd, GWL_EXSTYLE) | 1;
  if (!Value) x ^= 1;
  SetWindowLongW(wnd, GWL_EXSTYLE, x);
}

void CListBox::CreateWnd() {
  fStyle = WS_CHILD | WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_HASSTRINGS | LBS_NOTIFY;
  fStyleEx = WS_EX_CLIENTEDGE;
  wnd = CreateWindowExW(fStyleEx, L"LISTBOX", L"", fStyle, 0, 0, 0, 0, ParentHandle(), nullptr,
                        GetModuleHandleW(nullptr), nullptr);
}

// Every line as high as the character cell of the list's own font; without a measure the
// current line height stays.
void CListBox::DoSize() {
  LONG cell;
  if (CellHeight(wnd, fFont, cell)) SendMessageW(wnd, LB_SETITEMHEIGHT, 0, cell);
}

void CListBox::DoCommand(WORD wNotifyCode, WORD) {
  if (wNotifyCode == LBN_SELCHANGE) DoSelChange();
}

void CListBox::DoSelChange() {
  if (fOnSelChange.Code) fOnSelChange.Code(fOnSelChange.Data, this);
}

LRESULT CListBox::AddString(const WCHAR* s) {
  return SendMessageW(wnd, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s ? s : L""));
}

void CListBox::Clear() { SendMessageW(wnd, LB_RESETCONTENT, 0, 0); }
int CListBox::Count() const { return int(SendMessageW(wnd, LB_GETCOUNT, 0, 0)); }
int CListBox::GetCurSel() const { return int(SendMessageW(wnd, LB_GETCURSEL, 0, 0)); }
void CListBox::SetCurSel(int index) { SendMessageW(wnd, LB_SETCURSEL, WPARAM(index), 0); }

bool CListBox::GetString(int index, WideText& Text) const {
  Text.Truncate(0);
  LRESULT n = SendMessageW(wnd, LB_GETTEXTLEN, WPARAM(index), 0);
  if (n <= 0) return true;  // LB_ERR: an index outside the list
  if (!Text.Grow(size_t(n))) return false;
  LRESULT written = SendMessageW(wnd, LB_GETTEXT, WPARAM(index), reinterpret_cast<LPARAM>(Text.Data()));
  Text.Truncate(Clamped(written, size_t(n)));
  return true;
}
