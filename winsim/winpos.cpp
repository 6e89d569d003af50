// winsim user32: frames and rectangles, SetWindowPos and MoveWindow, showing, minimising and maximising, activation.
#include <algorithm>

#include "winsim/window_internal.h"

using namespace winsim;
using namespace winsim::detail;
namespace mx = winsim::metrics;

namespace {

// The width of the outer frame on each side: a sizing frame, a dialog frame and a thin border
// each add their part, the window edge the rest.
int OuterFrame(DWORD style, DWORD ex) {
  if ((ex & (WS_EX_STATICEDGE | WS_EX_DLGMODALFRAME)) == WS_EX_STATICEDGE) return mx::kBorder;
  int n = 0;
  if (style & WS_THICKFRAME) n += mx::kSizeFrame - mx::kEdge - mx::kBorder;
  if ((ex & WS_EX_DLGMODALFRAME) || ((style & WS_DLGFRAME) && !(style & WS_BORDER))) n += mx::kFixedFrame - mx::kEdge;
  if (style & WS_BORDER) n += mx::kBorder;
  if (ex & WS_EX_WINDOWEDGE) n += mx::kEdge;
  return n;
}

bool Contains(const std::vector<HWND>& v, HWND h) { return std::find(v.begin(), v.end(), h) != v.end(); }

// The rectangle of a minimised window: top-level ones go off the screen.
RECT IconicRect(const Window& w) {
  if (!IsChildWindow(w)) return RECT{-32000, -32000, -32000 + mx::kMinimizedWidth, -32000 + mx::kMinimizedHeight};
  LONG bottom = 0;
  if (Window* p = FindWindow(w.parent)) bottom = p->client.bottom - p->client.top;
  LONG top = std::max<LONG>(0, bottom - mx::kMinimizedHeight);
  return RECT{0, top, mx::kMinimizedWidth, top + mx::kMinimizedHeight};
}

}  // namespace

// ---- The internal face (internal.h, window_internal.h) ----

namespace winsim::detail {

// The client rectangle that a window rectangle leaves with these styles; never negative.
RECT ClientFor(const RECT& r, DWORD style, DWORD ex) {
  if (style & WS_MINIMIZE) return RECT{r.left, r.top, r.left, r.top};
  int f = OuterFrame(style, ex);
  int64_t left = int64_t(r.left) + f, top = int64_t(r.top) + f, right = int64_t(r.right) - f,
          bottom = int64_t(r.bottom) - f;
  if ((style & WS_CAPTION) == WS_CAPTION) top += (ex & WS_EX_TOOLWINDOW) ? mx::kSmallCaption : mx::kCaption;
  if (ex & WS_EX_CLIENTEDGE) left += mx::kEdge, top += mx::kEdge, right -= mx::kEdge, bottom -= mx::kEdge;
  if (style & WS_VSCROLL) right -= mx::kScroll;
  if (style & WS_HSCROLL) bottom -= mx::kScroll;
  RECT c;
  c.left = Clamp(left, r.left, r.right);
  c.top = Clamp(top, r.top, r.bottom);
  c.right = Clamp(right, c.left, r.right);
  c.bottom = Clamp(bottom, c.top, r.bottom);
  return c;
}

// A client rectangle that a window procedure returned, kept inside the window rectangle.
RECT Within(const RECT& c, const RECT& r) {
  RECT o;
  o.left = Clamp(c.left, r.left, r.right);
  o.top = Clamp(c.top, r.top, r.bottom);
  o.right = Clamp(c.right, o.left, r.right);
  o.bottom = Clamp(c.bottom, o.top, r.bottom);
  return o;
}

MINMAXINFO DefaultMinMax(const Window& w) {
  int f = OuterFrame(w.style, w.exStyle);
  MINMAXINFO mm{};
  mm.ptMaxSize = {mx::kScreenWidth + 2 * f, mx::kScreenHeight + 2 * f};
  mm.ptMaxPosition = {-f, -f};
  if ((w.style & WS_CAPTION) == WS_CAPTION) mm.ptMinTrackSize = {mx::kMinTrackWidth, mx::kMinTrackHeight};
  else mm.ptMinTrackSize = {2 * f, 2 * f};
  mm.ptMaxTrackSize = {mx::kMaxTrackWidth, mx::kMaxTrackHeight};
  return mm;
}

// Windows that ask for their size limits: sizable ones and overlapped ones.
bool AsksMinMax(DWORD style) { return (style & WS_THICKFRAME) || IsOverlapped(style); }

void SendSize(HWND h) {
  Window* w = FindWindow(h);
  if (!w) return;
  WPARAM state = (w->style & WS_MINIMIZE) ? SIZE_MINIMIZED : (w->style & WS_MAXIMIZE) ? SIZE_MAXIMIZED : SIZE_RESTORED;
  LPARAM size = state == SIZE_MINIMIZED ? 0 : MAKELPARAM(w->client.right - w->client.left, w->client.bottom - w->client.top);
  Deliver(h, WM_SIZE, state, size);
}

void SendMove(HWND h) {
  if (Window* w = FindWindow(h)) Deliver(h, WM_MOVE, 0, MAKELPARAM(w->client.left, w->client.top));
}

// Focus and activation leave a window that is hidden: a child hands the focus to its parent; a
// top-level window that was active is deactivated and the focus goes.
void LeaveHidden(HWND h) {
  Window* w = FindWindow(h);
  if (!w) return;
  if (IsChildWindow(*w)) {
    if (Within(h, P().focus)) SetFocusTo(w->parent);
    return;
  }
  if (P().active == h) {
    P().active = nullptr;
    Deliver(h, WM_NCACTIVATE, FALSE, 0);
    Deliver(h, WM_ACTIVATE, WA_INACTIVE, 0);
    Deliver(h, WM_ACTIVATEAPP, FALSE, 0);
  }
  if (Within(h, P().focus)) SetFocusTo(nullptr);
}

// SetWindowPos without the call record: the one place where a window's rectangle, order and
// visibility change. `stateChanged`: minimised, maximised or restored (WM_SIZE is sent even
// when the client size stays).
bool SetPos(HWND h, HWND after, int x, int y, int cx, int cy, UINT flags, bool stateChanged) {
  Window* w = FindWindow(h);
  if (!w) return false;
  if (!(flags & SWP_NOSIZE)) {
    cx = Clamp(cx, 0, kMaxCoord);
    cy = Clamp(cy, 0, kMaxCoord);
  }
  if (!(flags & SWP_NOMOVE)) {
    x = Clamp(x, -kMaxCoord, kMaxCoord);
    y = Clamp(y, -kMaxCoord, kMaxCoord);
  }
  if (w->style & WS_VISIBLE) flags &= ~UINT(SWP_SHOWWINDOW);
  else flags &= ~UINT(SWP_HIDEWINDOW);
  WINDOWPOS pos{h, after, x, y, cx, cy, flags};
  if (!(flags & SWP_NOSENDCHANGING)) {
    Deliver(h, WM_WINDOWPOSCHANGING, 0, LPARAM(&pos));
    if (!(w = FindWindow(h))) return false;
  }
  flags = pos.flags;
  if (w->style & WS_VISIBLE) flags &= ~UINT(SWP_SHOWWINDOW);
  else flags &= ~UINT(SWP_HIDEWINDOW);
  RECT old = w->rect, oldClient = w->client, now = old;
  if (!(flags & SWP_NOMOVE)) {
    LONG nx = Clamp(pos.x, -kMaxCoord, kMaxCoord), ny = Clamp(pos.y, -kMaxCoord, kMaxCoord);
    now = RECT{nx, ny, nx + (old.right - old.left), ny + (old.bottom - old.top)};
  }
  if (!(flags & SWP_NOSIZE)) {
    now.right = now.left + Clamp(pos.cx, 0, kMaxCoord);
    now.bottom = now.top + Clamp(pos.cy, 0, kMaxCoord);
  }
  if (now.left == old.left && now.top == old.top) flags |= SWP_NOMOVE;
  if (now.right - now.left == old.right - old.left && now.bottom - now.top == old.bottom - old.top) flags |= SWP_NOSIZE;
  // The new place in the sibling order.
  std::vector<HWND>& sibs = Siblings(*w);
  std::vector<HWND> order = sibs;
  if (!(flags & SWP_NOZORDER)) {
    std::erase(order, h);
    HWND a = pos.hwndInsertAfter;
    auto at = std::find(order.begin(), order.end(), a);
    if (a == HWND_BOTTOM) order.push_back(h);
    else if (a != HWND_TOP && uintptr_t(a) < uintptr_t(-2) && at != order.end()) order.insert(at + 1, h);
    else if (a == HWND_TOP || uintptr_t(a) >= uintptr_t(-2)) order.insert(order.begin(), h);
    else order = sibs;  // not a sibling: the order stays
    if (order == sibs) flags |= SWP_NOZORDER;
  }
  if (!(w->style & WS_VISIBLE) && !(flags & SWP_SHOWWINDOW)) flags |= SWP_NOREDRAW;
  if ((flags & (SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER)) == (SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER) &&
      !(flags & (SWP_SHOWWINDOW | SWP_HIDEWINDOW | SWP_FRAMECHANGED)) && !stateChanged)
    return true;  // nothing changes: no WM_WINDOWPOSCHANGED
  pos.x = now.left;
  pos.y = now.top;
  pos.cx = now.right - now.left;
  pos.cy = now.bottom - now.top;
  pos.flags = flags;
  RECT client;
  if (!(flags & SWP_NOSIZE) || (flags & SWP_FRAMECHANGED) || stateChanged) {
    NCCALCSIZE_PARAMS nc{};
    nc.rgrc[0] = now;
    nc.rgrc[1] = old;
    nc.rgrc[2] = oldClient;
    nc.lppos = &pos;
    Deliver(h, WM_NCCALCSIZE, TRUE, LPARAM(&nc));
    if (!(w = FindWindow(h))) return false;
    client = Within(nc.rgrc[0], now);
  } else {
    LONG dx = now.left - old.left, dy = now.top - old.top;
    client = RECT{oldClient.left + dx, oldClient.top + dy, oldClient.right + dx, oldClient.bottom + dy};
  }
  w->rect = now;
  w->client = client;
  if (!(flags & SWP_NOZORDER) && Contains(Siblings(*w), h)) {
    // The procedures may have made or destroyed siblings meanwhile: only the living keep a place.
    std::vector<HWND>& now_sibs = Siblings(*w);
    std::vector<HWND> kept;
    for (HWND s : order)
      if (Contains(now_sibs, s)) kept.push_back(s);
    for (HWND s : now_sibs)
      if (!Contains(kept, s)) kept.push_back(s);
    now_sibs = kept;
  }
  if (flags & SWP_SHOWWINDOW) w->style |= WS_VISIBLE;
  if (flags & SWP_HIDEWINDOW) w->style &= ~DWORD(WS_VISIBLE);
  if (client.left == oldClient.left && client.top == oldClient.top) flags |= SWP_NOCLIENTMOVE;
  if (client.right - client.left == oldClient.right - oldClient.left &&
      client.bottom - client.top == oldClient.bottom - oldClient.top)
    flags |= SWP_NOCLIENTSIZE;
  if (stateChanged) flags |= SWP_STATECHANGED;
  pos.flags = flags;
  if (!(flags & SWP_NOREDRAW) && (!(flags & SWP_NOSIZE) || (flags & (SWP_SHOWWINDOW | SWP_FRAMECHANGED))))
    Invalidate(h, true);
  Deliver(h, WM_WINDOWPOSCHANGED, 0, LPARAM(&pos));
  if (flags & SWP_HIDEWINDOW) LeaveHidden(h);
  if ((w = FindWindow(h)) && !IsChildWindow(*w) && !(flags & SWP_NOACTIVATE) && (w->style & WS_VISIBLE) &&
      !(w->style & WS_MINIMIZE))
    Activate(h);
  return true;
}

// Minimises, maximises or restores a window, with the flags of the caller (show or not).
void ChangeState(HWND h, State to, UINT flags) {
  Window* w = FindWindow(h);
  if (!w) return;
  State from = (w->style & WS_MINIMIZE) ? State::Minimized : (w->style & WS_MAXIMIZE) ? State::Maximized : State::Normal;
  if (from == to) return;
  if (from == State::Normal) w->normal = w->rect;
  RECT target = w->normal;
  if (to == State::Minimized) {
    w->restoreToMaximized = from == State::Maximized;
    w->style = (w->style & ~DWORD(WS_MAXIMIZE)) | WS_MINIMIZE;
    target = IconicRect(*w);
  } else if (to == State::Maximized) {
    MINMAXINFO mm = DefaultMinMax(*w);
    if (IsChildWindow(*w)) {
      Window* p = FindWindow(w->parent);
      int f = OuterFrame(w->style, w->exStyle);
      LONG pw = p ? p->client.right - p->client.left : 0, ph = p ? p->client.bottom - p->client.top : 0;
      mm.ptMaxPosition = {-f, -f};
      mm.ptMaxSize = {pw + 2 * f, ph + 2 * f};
    }
    Deliver(h, WM_GETMINMAXINFO, 0, LPARAM(&mm));
    if (!(w = FindWindow(h))) return;
    w->style = (w->style & ~DWORD(WS_MINIMIZE)) | WS_MAXIMIZE;
    target = RECT{mm.ptMaxPosition.x, mm.ptMaxPosition.y, mm.ptMaxPosition.x + mm.ptMaxSize.x,
                  mm.ptMaxPosition.y + mm.ptMaxSize.y};
  } else {
    w->style &= ~DWORD(WS_MINIMIZE | WS_MAXIMIZE);
    w->restoreToMaximized = false;
  }
  SetPos(h, nullptr, target.left, target.top, target.right - target.left, target.bottom - target.top,
         flags | SWP_FRAMECHANGED | SWP_NOCOPYBITS, true);
}

// ShowWindow without the call record.
BOOL Show(HWND h, int cmd) {
  Window* w = FindWindow(h);
  if (!w) return FALSE;
  bool wasVisible = w->style & WS_VISIBLE;
  bool child = IsChildWindow(*w);
  UINT quiet = child ? SWP_NOACTIVATE | SWP_NOZORDER : 0;
  bool activate = false;
  switch (cmd) {
    case SW_HIDE:
      if (!wasVisible) return FALSE;
      Deliver(h, WM_SHOWWINDOW, FALSE, 0);
      SetPos(h, nullptr, 0, 0, 0, 0, SWP_HIDEWINDOW | SWP_NOACTIVATE | SWP_NOZORDER | SWP_NOMOVE | SWP_NOSIZE);
      return TRUE;
    case SW_MINIMIZE:
    case SW_SHOWMINIMIZED:
    case SW_SHOWMINNOACTIVE:
    case SW_FORCEMINIMIZE:
      if (!wasVisible) Deliver(h, WM_SHOWWINDOW, TRUE, 0);
      if ((w = FindWindow(h)) && (w->style & WS_MINIMIZE))
        SetPos(h, nullptr, 0, 0, 0, 0, SWP_SHOWWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | quiet);
      else
        ChangeState(h, State::Minimized, SWP_SHOWWINDOW | SWP_NOACTIVATE | SWP_NOZORDER);
      break;
    case SW_SHOWMAXIMIZED:
      if (!wasVisible) Deliver(h, WM_SHOWWINDOW, TRUE, 0);
      if ((w = FindWindow(h)) && (w->style & WS_MAXIMIZE))
        SetPos(h, nullptr, 0, 0, 0, 0, SWP_SHOWWINDOW | SWP_NOSIZE | SWP_NOMOVE | quiet);
      else
        ChangeState(h, State::Maximized, SWP_SHOWWINDOW | quiet);
      activate = true;
      break;
    case SW_SHOWNORMAL:
    case SW_RESTORE:
    case SW_SHOWNOACTIVATE:
    case SW_SHOWDEFAULT: {
      UINT noact = cmd == SW_SHOWNOACTIVATE ? SWP_NOACTIVATE : 0;
      if (w->style & (WS_MINIMIZE | WS_MAXIMIZE)) {
        if ((w->style & WS_MINIMIZE) && !Deliver(h, WM_QUERYOPEN, 0, 0)) return wasVisible;
        if (!wasVisible) Deliver(h, WM_SHOWWINDOW, TRUE, 0);
        if (!(w = FindWindow(h))) return wasVisible;
        State to = (w->style & WS_MINIMIZE) && w->restoreToMaximized ? State::Maximized : State::Normal;
        ChangeState(h, to, SWP_SHOWWINDOW | noact | quiet);
      } else {
        if (wasVisible) return TRUE;
        Deliver(h, WM_SHOWWINDOW, TRUE, 0);
        SetPos(h, nullptr, 0, 0, 0, 0, SWP_SHOWWINDOW | SWP_NOSIZE | SWP_NOMOVE | noact | quiet);
      }
      activate = !noact;
      break;
    }
    case SW_SHOW:
    case SW_SHOWNA:
      if (wasVisible) return TRUE;
      Deliver(h, WM_SHOWWINDOW, TRUE, 0);
      SetPos(h, nullptr, 0, 0, 0, 0,
             SWP_SHOWWINDOW | SWP_NOSIZE | SWP_NOMOVE | (cmd == SW_SHOWNA ? SWP_NOACTIVATE : 0) | quiet);
      activate = cmd == SW_SHOW;
      break;
    default:
      SetError(ERROR_INVALID_PARAMETER);
      return FALSE;
  }
  // An overlapped window learns its size and place when it is first shown.
  if ((w = FindWindow(h)) && w->needSizeMove) {
    w->needSizeMove = false;
    SendSize(h);
    SendMove(h);
  }
  if (activate && (w = FindWindow(h)) && !IsChildWindow(*w) && !(w->style & WS_MINIMIZE)) Activate(h);
  return wasVisible;
}

void Activate(HWND h) {
  Process& p = P();
  if (p.active == h || !FindWindow(h)) return;
  HWND old = p.active;
  if (old && FindWindow(old)) {
    Deliver(old, WM_NCACTIVATE, FALSE, 0);
    Deliver(old, WM_ACTIVATE, WA_INACTIVE, LPARAM(h));
  }
  p.active = h;
  if (!old) Deliver(h, WM_ACTIVATEAPP, TRUE, 0);
  Deliver(h, WM_NCACTIVATE, TRUE, 0);
  Deliver(h, WM_ACTIVATE, WA_ACTIVE, LPARAM(old));
}

bool IsVisibleTree(HWND h) {
  Window* w = FindWindow(h);
  while (w) {
    if (!(w->style & WS_VISIBLE)) return false;
    if (!IsChildWindow(*w)) return true;
    w = FindWindow(w->parent);
  }
  return false;
}

POINT ClientOrigin(const Window& w) {
  POINT o{w.client.left, w.client.top};
  if (IsChildWindow(w))
    if (Window* p = FindWindow(w.parent)) {
      POINT po = ClientOrigin(*p);
      o.x += po.x;
      o.y += po.y;
    }
  return o;
}

void RecalcFrame(HWND h) {
  SetPos(h, nullptr, 0, 0, 0, 0, SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

RECT CloseBoxRect(const Window& w) {
  RECT r = ScreenRect(w);
  int f = OuterFrame(w.style, w.exStyle);
  int c = (w.exStyle & WS_EX_TOOLWINDOW) ? mx::kSmallCaption : mx::kCaption;
  return RECT{r.right - f - c, r.top + f, r.right - f, r.top + f + c};
}

// Windows tracks the mouse in a loop of its own until the button comes up; here the drag is the
// one that the simulated user's action left, taken as a single move. Without such a drag for this
// window (a program that sends SC_SIZE itself) nothing moves.
void SizeLoop(HWND h, UINT edge) {
  Process& p = P();
  if (p.dragWindow != h) return;
  SIZE to = p.dragTo;
  p.dragWindow = nullptr;
  Window* w = FindWindow(h);
  if (!w || !(w->style & WS_THICKFRAME) || (w->style & (WS_MINIMIZE | WS_MAXIMIZE))) return;
  Deliver(h, WM_ENTERSIZEMOVE, 0, 0);
  if (!(w = FindWindow(h))) return;
  // The tracking limits hold the drag rectangle; the program may still change it in WM_SIZING.
  MINMAXINFO mm = DefaultMinMax(*w);
  Deliver(h, WM_GETMINMAXINFO, 0, LPARAM(&mm));
  if (!(w = FindWindow(h))) return;
  RECT screen = ScreenRect(*w);
  LONG dx = screen.left - w->rect.left, dy = screen.top - w->rect.top;  // parent client to screen
  int64_t cx = std::max<int64_t>(std::min<int64_t>(std::max(0, int(to.cx)), mm.ptMaxTrackSize.x), mm.ptMinTrackSize.x);
  int64_t cy = std::max<int64_t>(std::min<int64_t>(std::max(0, int(to.cy)), mm.ptMaxTrackSize.y), mm.ptMinTrackSize.y);
  RECT drag{screen.left, screen.top, Clamp(screen.left + cx, -kMaxCoord, kMaxCoord),
            Clamp(screen.top + cy, -kMaxCoord, kMaxCoord)};
  Deliver(h, WM_SIZING, edge, LPARAM(&drag));
  if (FindWindow(h))
    SetPos(h, nullptr, drag.left - dx, drag.top - dy, drag.right - drag.left, drag.bottom - drag.top,
           SWP_NOZORDER | SWP_NOACTIVATE);
  if (FindWindow(h)) Deliver(h, WM_EXITSIZEMOVE, 0, 0);
}

RECT ScreenRect(const Window& w) {
  RECT r = w.rect;
  if (IsChildWindow(w))
    if (Window* p = FindWindow(w.parent)) {
      POINT po = ClientOrigin(*p);
      r.left += po.x, r.right += po.x, r.top += po.y, r.bottom += po.y;
    }
  return r;
}

}  // namespace winsim::detail

// ---- Position, size and visibility ----

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) {
  if (Faulted("ShowWindow", {{"hWnd", uintptr_t(hWnd)}, {"nCmdShow", nCmdShow}})) return FALSE;
  if (!Require(hWnd)) return FALSE;
  return Show(hWnd, nCmdShow);
}

BOOL WINAPI IsWindowVisible(HWND hWnd) {
  if (Faulted("IsWindowVisible", HwndArg(hWnd))) return FALSE;
  return IsVisibleTree(hWnd) ? TRUE : FALSE;
}

BOOL WINAPI IsIconic(HWND hWnd) {
  if (Faulted("IsIconic", HwndArg(hWnd))) return FALSE;
  Window* w = FindWindow(hWnd);
  return w && (w->style & WS_MINIMIZE) ? TRUE : FALSE;
}

BOOL WINAPI IsZoomed(HWND hWnd) {
  if (Faulted("IsZoomed", HwndArg(hWnd))) return FALSE;
  Window* w = FindWindow(hWnd);
  return w && (w->style & WS_MAXIMIZE) ? TRUE : FALSE;
}

BOOL WINAPI SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags) {
  if (Faulted("SetWindowPos", {{"hWnd", uintptr_t(hWnd)},
                                {"hWndInsertAfter", uintptr_t(hWndInsertAfter)},
                                {"X", X},
                                {"Y", Y},
                                {"cx", cx},
                                {"cy", cy},
                                {"uFlags", uFlags}}))
    return FALSE;
  if (!Require(hWnd)) return FALSE;
  if (!SetPos(hWnd, hWndInsertAfter, X, Y, cx, cy, uFlags & ~UINT(SWP_STATECHANGED | SWP_NOCLIENTSIZE | SWP_NOCLIENTMOVE))) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI MoveWindow(HWND hWnd, int X, int Y, int nWidth, int nHeight, BOOL bRepaint) {
  if (Faulted("MoveWindow", {{"hWnd", uintptr_t(hWnd)},
                              {"X", X},
                              {"Y", Y},
                              {"nWidth", nWidth},
                              {"nHeight", nHeight},
                              {"bRepaint", bRepaint}}))
    return FALSE;
  if (!Require(hWnd)) return FALSE;
  UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | (bRepaint ? 0 : SWP_NOREDRAW);
  if (!SetPos(hWnd, nullptr, X, Y, nWidth, nHeight, flags)) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect) {
  if (Faulted("GetWindowRect", HwndArg(hWnd))) return FALSE;
  Window* w = Require(hWnd);
  if (!w || !lpRect) return FALSE;
  *lpRect = ScreenRect(*w);
  return TRUE;
}

BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect) {
  if (Faulted("GetClientRect", HwndArg(hWnd))) return FALSE;
  Window* w = Require(hWnd);
  if (!w || !lpRect) return FALSE;
  *lpRect = RECT{0, 0, w->client.right - w->client.left, w->client.bottom - w->client.top};
  return TRUE;
}

BOOL WINAPI ScreenToClient(HWND hWnd, LPPOINT lpPoint) {
  if (Faulted("ScreenToClient", HwndArg(hWnd))) return FALSE;
  Window* w = Require(hWnd);
  if (!w || !lpPoint) return FALSE;
  POINT o = ClientOrigin(*w);
  lpPoint->x -= o.x;
  lpPoint->y -= o.y;
  return TRUE;
}

BOOL WINAPI ClientToScreen(HWND hWnd, LPPOINT lpPoint) {
  if (Faulted("ClientToScreen", HwndArg(hWnd))) return FALSE;
  Window* w = Require(hWnd);
  if (!w || !lpPoint) return FALSE;
  POINT o = ClientOrigin(*w);
  lpPoint->x += o.x;
  lpPoint->y += o.y;
  return TRUE;
}

HWND WINAPI GetActiveWindow() {
  if (Faulted("GetActiveWindow")) return nullptr;
  return P().active;
}
