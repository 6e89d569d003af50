// winsim user32: the delivery of messages, the thread message queue, DefWindowProcW and painting.
#include <algorithm>
#include <cstring>

#include "winsim/window_internal.h"

using namespace winsim;
using namespace winsim::detail;

namespace {

json MsgArgs(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  return {{"hWnd", uintptr_t(h)}, {"Msg", msg}, {"wParam", wp}, {"lParam", lp}};
}

// The painting state of a window: BeginPaint without the call record.
HDC PaintBegin(HWND h, LPPAINTSTRUCT ps) {
  Window* w = FindWindow(h);
  if (!w) return nullptr;
  bool erase = w->needsErase;
  w->needsPaint = w->needsErase = false;
  P().paintsUnvalidated = 0;
  HDC dc = NewDC(h, true);
  BOOL stillToErase = FALSE;
  if (erase) stillToErase = Deliver(h, WM_ERASEBKGND, WPARAM(dc), 0) == 0;
  if (ps) {
    std::memset(ps, 0, sizeof *ps);
    ps->hdc = dc;
    ps->fErase = stillToErase;
    if ((w = FindWindow(h))) ps->rcPaint = RECT{0, 0, w->client.right - w->client.left, w->client.bottom - w->client.top};
  }
  return dc;
}

// The next message for the thread: posted messages first, then the quit message, then WM_PAINT
// for a visible window whose area needs painting.
bool Next(LPMSG msg, bool remove) {
  Process& p = P();
  if (!p.queue.empty()) {
    p.lastTaken = p.queue.front();
    *msg = p.queue.front().msg;
    if (remove) p.queue.pop_front();
    p.paintsUnvalidated = 0;
    return true;
  }
  if (p.quitPosted) {
    *msg = MSG{nullptr, WM_QUIT, WPARAM(p.quitCode), 0, 0, {0, 0}};
    if (remove) p.quitPosted = false;
    p.lastTaken = Queued{*msg, true};
    return true;
  }
  for (auto& [handle, w] : p.windows) {
    if (!w.needsPaint || !IsVisibleTree(HWND(handle))) continue;
    if (++p.paintsUnvalidated > 1000) Stop("a window never validates its area: WM_PAINT comes again and again");
    *msg = MSG{HWND(handle), WM_PAINT, 0, 0, 0, {0, 0}};
    p.lastTaken = Queued{*msg, true};
    return true;
  }
  return false;
}

}  // namespace

// ---- The internal face (internal.h, window_internal.h) ----

namespace winsim::detail {

LRESULT Deliver(HWND h, UINT msg, WPARAM wp, LPARAM lp, bool fromSystem, bool posted) {
  Window* w = FindWindow(h);
  if (!w || !w->proc) return 0;
  M().messages.push_back(MessageRecord{P().program, uint64_t(uintptr_t(h)), msg, uint64_t(wp), int64_t(lp), posted,
                                       fromSystem});
  WNDPROC proc = w->proc;
  return proc(h, msg, wp, lp);
}

bool DispatchQueued() {
  Process& p = P();
  while (!p.quitPosted && !p.queue.empty()) {
    Queued q = p.queue.front();
    p.queue.pop_front();
    p.lastTaken = q;
    if (q.msg.hwnd && FindWindow(q.msg.hwnd))
      Deliver(q.msg.hwnd, q.msg.message, q.msg.wParam, q.msg.lParam, q.fromSystem, true);
  }
  return p.quitPosted;
}

void Notify(HWND child, WORD code) {
  Window* w = FindWindow(child);
  if (!w || !IsChildWindow(*w)) return;
  HWND parent = w->parent;
  Deliver(parent, WM_COMMAND, MAKEWPARAM(w->id, code), LPARAM(child));
}

void Invalidate(HWND h, bool erase) {
  if (Window* w = FindWindow(h)) {
    w->needsPaint = true;
    w->needsErase = w->needsErase || erase;
  }
}

// The window text as DefWindowProcW keeps it.
LRESULT CopyText(const std::wstring& text, WPARAM size, LPARAM buffer) {
  if (!size || !buffer) return 0;
  size_t n = std::min<size_t>(text.size(), size - 1);
  auto* out = reinterpret_cast<LPWSTR>(buffer);
  std::memcpy(out, text.data(), n * sizeof(WCHAR));
  out[n] = 0;
  return LRESULT(n);
}

}  // namespace winsim::detail

// ---- Messages ----

LRESULT WINAPI SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  if (Faulted("SendMessageW", MsgArgs(hWnd, Msg, wParam, lParam))) return 0;
  if (!Require(hWnd)) return 0;
  // A window of the calling thread: its procedure is called directly.
  return Deliver(hWnd, Msg, wParam, lParam, false, false);
}

BOOL WINAPI PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  if (Faulted("PostMessageW", MsgArgs(hWnd, Msg, wParam, lParam))) return FALSE;
  if (hWnd && !Require(hWnd)) return FALSE;
  P().queue.push_back(Queued{MSG{hWnd, Msg, wParam, lParam, 0, {0, 0}}, false});
  return TRUE;
}

void WINAPI PostQuitMessage(int nExitCode) {
  Enter("PostQuitMessage", {{"nExitCode", nExitCode}});
  P().quitPosted = true;
  P().quitCode = nExitCode;
}

BOOL WINAPI PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
  if (Faulted("PeekMessageW", {{"hWnd", uintptr_t(hWnd)},
                                {"wMsgFilterMin", wMsgFilterMin},
                                {"wMsgFilterMax", wMsgFilterMax},
                                {"wRemoveMsg", wRemoveMsg}}))
    return FALSE;
  if (hWnd || wMsgFilterMin || wMsgFilterMax) Stop("PeekMessageW with a filter is not simulated");
  bool remove = wRemoveMsg & PM_REMOVE;
  TakeSentMessages(true);
  if (Next(lpMsg, remove)) return TRUE;
  // Only input that the user gave while the program was busy is waiting here.
  while (TakeUserAction(true))
    if (Next(lpMsg, remove)) return TRUE;
  return FALSE;
}

BOOL WINAPI GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
  if (Faulted("GetMessageW",
              {{"hWnd", uintptr_t(hWnd)}, {"wMsgFilterMin", wMsgFilterMin}, {"wMsgFilterMax", wMsgFilterMax}}))
    return -1;
  if (hWnd || wMsgFilterMin || wMsgFilterMax) Stop("GetMessageW with a filter is not simulated");
  TakeSentMessages(false);
  // The program waits for input: the user acts, until the actions give a message.
  while (!Next(lpMsg, true))
    if (!TakeUserAction(false)) Stop(NoActionReason());
  return lpMsg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL WINAPI TranslateMessage(const MSG* lpMsg) {
  Enter("TranslateMessage", {{"message", lpMsg->message}});
  // Nonzero for every key message, whether or not it gave a character.
  UINT m = lpMsg->message;
  return m == WM_KEYDOWN || m == WM_KEYUP || m == WM_SYSKEYDOWN || m == WM_SYSKEYUP ? TRUE : FALSE;
}

// A message for a window that no longer exists is dropped.
LRESULT WINAPI DispatchMessageW(const MSG* lpMsg) {
  Enter("DispatchMessageW", MsgArgs(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam));
  if (!lpMsg->hwnd) return 0;
  if (!Require(lpMsg->hwnd)) return 0;
  const Queued& last = P().lastTaken;
  bool fromSystem = last.msg.hwnd == lpMsg->hwnd && last.msg.message == lpMsg->message &&
                    last.msg.wParam == lpMsg->wParam && last.msg.lParam == lpMsg->lParam && last.fromSystem;
  return Deliver(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam, fromSystem, true);
}

// Not in the call record: a window procedure may ask it for every message.
DWORD WINAPI InSendMessageEx(LPVOID) { return P().otherThreadSends > 0 ? ISMEX_SEND : ISMEX_NOSEND; }

// ---- The default procedure ----

// Not in the call record: window procedures call it for nearly every message, and it cannot fail.
LRESULT WINAPI DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  Window* w = FindWindow(hWnd);
  if (!w) return 0;
  switch (Msg) {
    case WM_NCCREATE: {
      auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      if (cs && cs->lpszName && !IsAtom(cs->lpszName) && cs->lpszName[0] != 0xFFFF) w->text = cs->lpszName;
      return TRUE;
    }
    case WM_NCCALCSIZE:
      if (!lParam) return 0;
      if (wParam) {
        auto* nc = reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam);
        nc->rgrc[0] = ClientFor(nc->rgrc[0], w->style, w->exStyle);
      } else {
        auto* r = reinterpret_cast<RECT*>(lParam);
        *r = ClientFor(*r, w->style, w->exStyle);
      }
      return 0;
    case WM_CLOSE:
      DestroyTree(hWnd, true);  // DestroyWindow; a hook may keep the window
      return 0;
    case WM_SYSCOMMAND:
      switch (wParam & 0xFFF0) {
        case SC_CLOSE: Deliver(hWnd, WM_CLOSE, 0, 0); break;
        case SC_SIZE: SizeLoop(hWnd, UINT(wParam & 0xF)); break;
        case SC_MINIMIZE: Show(hWnd, SW_MINIMIZE); break;
        case SC_MAXIMIZE: Show(hWnd, SW_SHOWMAXIMIZED); break;
        case SC_RESTORE: Show(hWnd, SW_RESTORE); break;
        default: break;
      }
      return 0;
    case WM_SETTEXT:
      w->text = lParam ? reinterpret_cast<LPCWSTR>(lParam) : L"";
      return TRUE;
    case WM_GETTEXT:
      return CopyText(w->text, wParam, lParam);
    case WM_GETTEXTLENGTH:
      return LRESULT(w->text.size());
    case WM_ERASEBKGND: {
      COLORREF color;
      if (!w->classBrush || !BrushColor(w->classBrush, color)) return 0;
      RECT r{0, 0, w->client.right - w->client.left, w->client.bottom - w->client.top};
      if (P().dcs.count(uintptr_t(wParam))) RecordFill(HDC(wParam), {r}, color);
      return 1;
    }
    case WM_PAINT: {
      HDC dc = PaintBegin(hWnd, nullptr);
      EndDC(dc);
      return 0;
    }
    case WM_WINDOWPOSCHANGING: {
      auto* pos = reinterpret_cast<WINDOWPOS*>(lParam);
      if (!pos || (pos->flags & SWP_NOSIZE) || !AsksMinMax(w->style) || (w->style & (WS_MINIMIZE | WS_MAXIMIZE)))
        return 0;
      MINMAXINFO mm = DefaultMinMax(*w);
      Deliver(hWnd, WM_GETMINMAXINFO, 0, LPARAM(&mm));
      pos->cx = std::max<int>(std::min<int>(pos->cx, mm.ptMaxTrackSize.x), mm.ptMinTrackSize.x);
      pos->cy = std::max<int>(std::min<int>(pos->cy, mm.ptMaxTrackSize.y), mm.ptMinTrackSize.y);
      return 0;
    }
    case WM_WINDOWPOSCHANGED: {
      auto* pos = reinterpret_cast<const WINDOWPOS*>(lParam);
      if (!pos) return 0;
      UINT flags = pos->flags;
      if (!(flags & SWP_NOCLIENTMOVE)) SendMove(hWnd);
      if (!(flags & SWP_NOCLIENTSIZE) || (flags & SWP_STATECHANGED)) SendSize(hWnd);
      return 0;
    }
    // The close box acts when the button comes up on it after going down on it.
    case WM_NCLBUTTONDOWN:
      w->closeBoxDown = wParam == HTCLOSE && HasCloseBox(*w);
      if (wParam == HTBOTTOMRIGHT && (w->style & WS_THICKFRAME))
        Deliver(hWnd, WM_SYSCOMMAND, SC_SIZE | WMSZ_BOTTOMRIGHT, lParam);
      return 0;
    case WM_NCLBUTTONUP:
      if (wParam == HTCLOSE && w->closeBoxDown && HasCloseBox(*w)) {
        w->closeBoxDown = false;
        Deliver(hWnd, WM_SYSCOMMAND, SC_CLOSE, lParam);
      } else {
        w->closeBoxDown = false;
      }
      return 0;
    // Alt+F4 closes the top-level window of the focus, with or without a system menu; only a
    // class without the Close command (CS_NOCLOSE) keeps it.
    case WM_SYSKEYDOWN:
      if (wParam == VK_F4 && (lParam & (LPARAM(1) << 29))) {
        HWND top = Root(hWnd);
        Window* t = FindWindow(top);
        if (t && !(t->classStyle & CS_NOCLOSE)) Deliver(top, WM_SYSCOMMAND, SC_CLOSE, 0);
      }
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE && !(w->style & WS_MINIMIZE) && !Within(hWnd, P().focus)) SetFocusTo(hWnd);
      return 0;
    case WM_NCACTIVATE:
    case WM_QUERYOPEN:
      return TRUE;
    default:
      return 0;
  }
}

// Not in the call record, as DefWindowProcW.
LRESULT WINAPI CallWindowProcW(WNDPROC proc, HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return proc ? proc(hWnd, Msg, wParam, lParam) : 0;
}

// ---- Painting ----

BOOL WINAPI InvalidateRect(HWND hWnd, const RECT* lpRect, BOOL bErase) {
  if (Faulted("InvalidateRect", {{"hWnd", uintptr_t(hWnd)}, {"lpRect", lpRect != nullptr}, {"bErase", bErase}}))
    return FALSE;
  if (lpRect && (lpRect->left >= lpRect->right || lpRect->top >= lpRect->bottom)) return hWnd ? (Require(hWnd) != nullptr) : TRUE;
  if (!hWnd) {  // every window
    for (auto& [h, w] : P().windows) Invalidate(HWND(h), bErase);
    return TRUE;
  }
  if (!Require(hWnd)) return FALSE;
  Invalidate(hWnd, bErase);
  return TRUE;
}

BOOL WINAPI ValidateRect(HWND hWnd, const RECT* lpRect) {
  if (Faulted("ValidateRect", {{"hWnd", uintptr_t(hWnd)}, {"lpRect", lpRect != nullptr}})) return FALSE;
  Window* w = Require(hWnd);
  if (!w) return FALSE;
  if (!lpRect) {
    w->needsPaint = w->needsErase = false;
    P().paintsUnvalidated = 0;
  }
  return TRUE;
}

BOOL WINAPI UpdateWindow(HWND hWnd) {
  if (Faulted("UpdateWindow", HwndArg(hWnd))) return FALSE;
  Window* w = Require(hWnd);
  if (!w) return FALSE;
  if (w->needsPaint && IsVisibleTree(hWnd)) Deliver(hWnd, WM_PAINT, 0, 0);
  return TRUE;
}

BOOL WINAPI GetUpdateRect(HWND hWnd, LPRECT lpRect, BOOL bErase) {
  if (Faulted("GetUpdateRect", {{"hWnd", uintptr_t(hWnd)}, {"bErase", bErase}})) return FALSE;
  Window* w = Require(hWnd);
  if (!w) return FALSE;
  RECT r{0, 0, 0, 0};
  if (w->needsPaint) r = RECT{0, 0, w->client.right - w->client.left, w->client.bottom - w->client.top};
  if (lpRect) *lpRect = r;
  return w->needsPaint ? TRUE : FALSE;
}

HDC WINAPI BeginPaint(HWND hWnd, LPPAINTSTRUCT lpPaint) {
  if (Faulted("BeginPaint", HwndArg(hWnd))) return nullptr;
  if (!Require(hWnd)) return nullptr;
  return PaintBegin(hWnd, lpPaint);
}

BOOL WINAPI EndPaint(HWND hWnd, const PAINTSTRUCT* lpPaint) {
  Enter("EndPaint", HwndArg(hWnd));
  if (lpPaint) EndDC(lpPaint->hdc);
  return TRUE;
}
