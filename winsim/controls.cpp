// The system window classes of winsim: the push button "BUTTON" and the list box "LISTBOX".
// Their notifications go to the parent through the internal delivery path; after a notification
// a control touches nothing of its own, since the parent may have destroyed it meanwhile.
#include <algorithm>
#include <cstring>

#include "winsim/internal.h"

using namespace winsim;
using namespace winsim::detail;

namespace {

// A point of a mouse message (signed 16-bit words) inside the window's client area.
bool InClient(const Window& w, LPARAM lp) {
  int x = short(LOWORD(lp)), y = short(HIWORD(lp));
  return x >= 0 && y >= 0 && x < w.client.right - w.client.left && y < w.client.bottom - w.client.top;
}

bool Enabled(const Window& w) { return !(w.style & WS_DISABLED); }

int ClientHeight(const Window& w) { return w.client.bottom - w.client.top; }

// The lines that fit the client area (at least one).
int VisibleLines(const Window& w) { return std::max(1, ClientHeight(w) / std::max(1, w.itemHeight)); }

// The vertical scroll bar of a list made with WS_VSCROLL shows only while the lines overflow; a
// change of it changes the frame (WM_NCCALCSIZE, and WM_SIZE when the client width changes).
void UpdateScrollBar(HWND h) {
  Window* w = FindWindow(h);
  if (!w || !w->scrollStyle) return;
  bool needed = int64_t(w->items.size()) * w->itemHeight > ClientHeight(*w);
  bool shown = w->style & WS_VSCROLL;
  if (needed == shown) return;
  w->style ^= WS_VSCROLL;
  RecalcFrame(h);
}

void ScrollTo(Window& w, int index) {
  int visible = VisibleLines(w);
  if (index < w.topIndex) w.topIndex = index;
  else if (index >= w.topIndex + visible) w.topIndex = index - visible + 1;
}

// Case-insensitive order of sorted lists.
bool Before(const std::wstring& a, const std::wstring& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    WCHAR x = FoldCase(a[i]), y = FoldCase(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

LRESULT Insert(HWND h, Window& w, LONG_PTR at, LPARAM text) {
  std::wstring s = text ? reinterpret_cast<LPCWSTR>(text) : L"";
  size_t count = w.items.size();
  size_t index;
  if (at == -2) {  // LB_ADDSTRING
    index = (w.style & LBS_SORT)
                ? size_t(std::upper_bound(w.items.begin(), w.items.end(), s, Before) - w.items.begin())
                : count;
  } else if (at == -1) {
    index = count;
  } else if (at < 0 || size_t(at) > count) {
    return LB_ERR;
  } else {
    index = size_t(at);
  }
  w.items.insert(w.items.begin() + long(index), s);
  if (w.curSel >= 0 && size_t(w.curSel) >= index) ++w.curSel;
  Invalidate(h, true);
  UpdateScrollBar(h);
  return LRESULT(index);
}

}  // namespace

namespace winsim::detail {

LRESULT CALLBACK ButtonProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  Window* w = FindWindow(h);
  if (!w) return 0;
  switch (msg) {
    case WM_SETFONT:
      w->font = HFONT(wp);
      if (LOWORD(lp)) Invalidate(h, true);
      return 0;
    case WM_GETFONT:
      return LRESULT(w->font);
    case BM_CLICK:
      // As a click of the mouse at the button's top-left corner.
      Deliver(h, WM_LBUTTONDOWN, 0, 0);
      Deliver(h, WM_LBUTTONUP, 0, 0);
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      if (Enabled(*w) && P().focus != h) SetFocusTo(h);
      Deliver(h, BM_SETSTATE, TRUE, 0);
      if ((w = FindWindow(h))) w->captured = true;
      return 0;
    case WM_LBUTTONUP: {
      if (!w->captured) return 0;
      w->captured = false;
      Deliver(h, BM_SETSTATE, FALSE, 0);
      Deliver(h, WM_CAPTURECHANGED, 0, 0);
      if (!(w = FindWindow(h)) || !InClient(*w, lp)) return 0;
      Notify(h, BN_CLICKED);  // the parent may destroy the button here: nothing of it after
      return 0;
    }
    case BM_SETSTATE:
      w->pressed = wp != 0;
      Invalidate(h, true);
      return 0;
    case BM_GETSTATE:
      return (w->pressed ? BST_PUSHED : 0) | (P().focus == h ? BST_FOCUS : 0);
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      Invalidate(h, true);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the button paints its whole area itself
    default:
      return DefWindowProcW(h, msg, wp, lp);
  }
}

LRESULT CALLBACK ListBoxProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  Window* w = FindWindow(h);
  if (!w) return msg == LB_GETCOUNT || msg >= LB_ADDSTRING ? LB_ERR : 0;
  int count = int(w->items.size());
  switch (msg) {
    case WM_NCCREATE:
      // The scroll bars show only when they are needed.
      w->scrollStyle = w->style & WS_VSCROLL;
      w->style &= ~DWORD(WS_VSCROLL | WS_HSCROLL);
      w->itemHeight = TextHeight(nullptr);
      return DefWindowProcW(h, msg, wp, lp);
    case WM_SETFONT:
      w->font = HFONT(wp);
      w->itemHeight = std::clamp(TextHeight(w->font), 1, 255);
      if (LOWORD(lp)) Invalidate(h, true);
      UpdateScrollBar(h);
      return 0;
    case WM_GETFONT:
      return LRESULT(w->font);
    case WM_SIZE:
      UpdateScrollBar(h);
      return 0;
    case LB_ADDSTRING:
      return Insert(h, *w, -2, lp);
    case LB_INSERTSTRING:
      return Insert(h, *w, LONG_PTR(int(wp)), lp);
    case LB_DELETESTRING: {
      int i = int(wp);
      if (i < 0 || i >= count) return LB_ERR;
      w->items.erase(w->items.begin() + i);
      if (w->curSel == i) w->curSel = -1;
      else if (w->curSel > i) --w->curSel;
      w->topIndex = std::min(w->topIndex, std::max(0, count - 1));
      Invalidate(h, true);
      UpdateScrollBar(h);
      return LRESULT(count - 1);
    }
    case LB_RESETCONTENT:
      w->items.clear();
      w->curSel = -1;
      w->topIndex = 0;
      Invalidate(h, true);
      UpdateScrollBar(h);
      return TRUE;
    case LB_GETCOUNT:
      return count;
    case LB_GETTEXTLEN: {
      int i = int(wp);
      return i >= 0 && i < count ? LRESULT(w->items[size_t(i)].size()) : LB_ERR;
    }
    case LB_GETTEXT: {
      int i = int(wp);
      if (i < 0 || i >= count || !lp) return LB_ERR;
      const std::wstring& s = w->items[size_t(i)];
      std::memcpy(reinterpret_cast<LPWSTR>(lp), s.c_str(), (s.size() + 1) * sizeof(WCHAR));
      return LRESULT(s.size());
    }
    case LB_GETCURSEL:
      return w->curSel >= 0 ? w->curSel : LB_ERR;
    case LB_SETCURSEL: {
      // Selects without a notification: LBN_SELCHANGE is for the user's selections.
      int i = int(wp);
      if (i == -1) {
        w->curSel = -1;
        Invalidate(h, true);
        return LB_ERR;
      }
      if (i < 0 || i >= count) return LB_ERR;
      w->curSel = i;
      ScrollTo(*w, i);
      Invalidate(h, true);
      return i;
    }
    case LB_GETTOPINDEX:
      return w->topIndex;
    case LB_SETTOPINDEX: {
      int i = int(wp);
      if (i < 0 || (i >= count && count > 0)) return LB_ERR;
      w->topIndex = i;
      Invalidate(h, true);
      return LB_OKAY;
    }
    case LB_SETITEMHEIGHT:
      // The line height only: the window keeps its size.
      if (lp < 0 || lp > 255) return LB_ERR;
      w->itemHeight = lp ? int(lp) : 1;
      Invalidate(h, true);
      UpdateScrollBar(h);
      return LB_OKAY;
    case LB_GETITEMHEIGHT:
      return w->itemHeight;
    case WM_LBUTTONDOWN: {
      if (Enabled(*w) && P().focus != h) SetFocusTo(h);
      if (!(w = FindWindow(h)) || !InClient(*w, lp)) return 0;
      int i = w->topIndex + int(short(HIWORD(lp))) / std::max(1, w->itemHeight);
      if (i >= int(w->items.size())) return 0;
      w->curSel = i;
      w->captured = true;
      Invalidate(h, true);
      return 0;
    }
    case WM_LBUTTONUP:
      // The user's selection is reported when the button comes up.
      if (!w->captured) return 0;
      w->captured = false;
      Deliver(h, WM_CAPTURECHANGED, 0, 0);
      if ((w = FindWindow(h)) && (w->style & LBS_NOTIFY) && !w->items.empty()) Notify(h, LBN_SELCHANGE);
      return 0;
    case WM_LBUTTONDBLCLK:
      if (w->style & LBS_NOTIFY) Notify(h, LBN_DBLCLK);
      return 0;
    case WM_SETFOCUS:
      Notify(h, LBN_SETFOCUS);
      return 0;
    case WM_KILLFOCUS:
      w->captured = false;
      Notify(h, LBN_KILLFOCUS);
      return 0;
    case WM_ERASEBKGND: {
      if (P().dcs.count(uintptr_t(wp)))
        RecordFill(HDC(wp), {RECT{0, 0, w->client.right - w->client.left, ClientHeight(*w)}}, SysColor(COLOR_WINDOW));
      return 1;
    }
    default:
      return DefWindowProcW(h, msg, wp, lp);
  }
}

}  // namespace winsim::detail
