// user32 of winsim: message boxes and beeps, window classes and windows, the system LISTBOX and
// BUTTON classes, and the thread message queue.
#include <algorithm>
#include <cstring>

#include "winsim/internal.h"

using namespace winsim;
using namespace winsim::detail;

namespace {

Window* Find(HWND h) {
  auto it = P().windows.find(uintptr_t(h));
  return it == P().windows.end() ? nullptr : &it->second;
}

LRESULT CALLBACK ListBoxProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  Window* w = Find(h);
  if (!w) return LB_ERR;
  switch (msg) {
    case LB_ADDSTRING:
      w->items.push_back(reinterpret_cast<LPCWSTR>(lp));
      return LRESULT(w->items.size() - 1);
    case LB_RESETCONTENT:
      w->items.clear();
      return 0;
    case LB_GETCOUNT:
      return LRESULT(w->items.size());
    case LB_GETTEXTLEN:
      return wp < w->items.size() ? LRESULT(w->items[wp].size()) : LB_ERR;
    case LB_GETTEXT:
      if (wp >= w->items.size()) return LB_ERR;
      std::memcpy(reinterpret_cast<LPWSTR>(lp), w->items[wp].c_str(), (w->items[wp].size() + 1) * sizeof(WCHAR));
      return LRESULT(w->items[wp].size());
    default:
      return DefWindowProcW(h, msg, wp, lp);
  }
}

WNDPROC SystemClass(const std::wstring& folded) {
  if (folded == L"LISTBOX") return ListBoxProc;
  if (folded == L"BUTTON") return DefWindowProcW;
  return nullptr;
}

std::wstring Fold(LPCWSTR s) {
  std::wstring w = s ? s : L"";
  for (WCHAR& c : w) c = FoldCase(c);
  return w;
}

json MsgArgs(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  return {{"hWnd", uintptr_t(h)}, {"Msg", msg}, {"wParam", wp}, {"lParam", lp}};
}

void Destroy(HWND h) {
  Window* w = Find(h);
  if (!w) return;
  // WM_DESTROY goes to the window before its children, WM_NCDESTROY to the children first.
  SendMessageW(h, WM_DESTROY, 0, 0);
  std::vector<HWND> children;
  for (auto& [handle, child] : P().windows)
    if (child.parent == h) children.push_back(HWND(handle));
  for (HWND c : children) Destroy(c);
  SendMessageW(h, WM_NCDESTROY, 0, 0);
  P().windows.erase(uintptr_t(h));
}

}  // namespace

int WINAPI GetSystemMetrics(int nIndex) {
  Enter("GetSystemMetrics", {{"nIndex", nIndex}});
  return nIndex == SM_SERVERR2 ? M().serverR2 : 0;
}

int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
  MessageBoxRecord r{P().program, Utf8(lpText), Utf8(lpCaption), uint64_t(uintptr_t(hWnd)), uType};
  if (Faulted("MessageBoxW", {{"hWnd", r.owner}, {"lpText", r.text}, {"lpCaption", r.caption}, {"uType", uType}}))
    return 0;
  // The user reads the box and closes it.
  M().messageBoxes.push_back(r);
  return IDOK;
}

BOOL WINAPI MessageBeep(UINT uType) {
  if (Faulted("MessageBeep", {{"uType", uType}})) return FALSE;
  M().beeps.push_back(uType);
  return TRUE;
}

ATOM WINAPI RegisterClassW(const WNDCLASSW* wc) {
  if (Faulted("RegisterClassW", {{"lpszClassName", wc ? Utf8(wc->lpszClassName) : ""}})) return 0;
  std::wstring key = Fold(wc->lpszClassName);
  if (P().classes.count(key) || SystemClass(key)) {
    SetError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  P().classes[key] = WindowClass{wc->lpszClassName, wc->lpfnWndProc};
  return ATOM(0xC000 + P().classes.size());
}

BOOL WINAPI UnregisterClassW(LPCWSTR lpClassName, HINSTANCE) {
  if (Faulted("UnregisterClassW", {{"lpClassName", Utf8(lpClassName)}})) return FALSE;
  if (!P().classes.erase(Fold(lpClassName))) {
    SetError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  return TRUE;
}

HWND WINAPI CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam) {
  if (Faulted("CreateWindowExW", {{"lpClassName", Utf8(lpClassName)},
                                   {"lpWindowName", Utf8(lpWindowName)},
                                   {"dwStyle", dwStyle},
                                   {"hWndParent", uintptr_t(hWndParent)}}))
    return nullptr;
  std::wstring key = Fold(lpClassName);
  WNDPROC proc = SystemClass(key);
  if (auto it = P().classes.find(key); it != P().classes.end()) proc = it->second.proc;
  if (!proc) {
    SetError(ERROR_CLASS_DOES_NOT_EXIST);
    return nullptr;
  }
  if (hWndParent && !Find(hWndParent)) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  HWND h = HWND(P().NewHandle());
  Window w;
  w.cls = lpClassName;
  w.text = lpWindowName ? lpWindowName : L"";
  w.proc = proc;
  w.parent = hWndParent;
  w.style = dwStyle;
  P().windows[uintptr_t(h)] = w;
  CREATESTRUCTW cs{lpParam, hInstance, hMenu, hWndParent, nHeight, nWidth, Y, X, LONG(dwStyle),
                   lpWindowName, lpClassName, dwExStyle};
  // The messages of the creation go to the class procedure.
  if (!proc(h, WM_NCCREATE, 0, LPARAM(&cs)) || proc(h, WM_CREATE, 0, LPARAM(&cs)) == -1) {
    Destroy(h);
    return nullptr;
  }
  return h;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
  if (Faulted("DestroyWindow", {{"hWnd", uintptr_t(hWnd)}})) return FALSE;
  if (!Find(hWnd)) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  Destroy(hWnd);
  return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd) { return Find(hWnd) ? TRUE : FALSE; }

LRESULT WINAPI DefWindowProcW(HWND hWnd, UINT Msg, WPARAM, LPARAM) {
  switch (Msg) {
    case WM_NCCREATE:
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(hWnd);
      return 0;
    default:
      return 0;
  }
}

LRESULT WINAPI CallWindowProcW(WNDPROC proc, HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return proc ? proc(hWnd, Msg, wParam, lParam) : 0;
}

LONG_PTR WINAPI GetWindowLongPtrW(HWND hWnd, int nIndex) {
  Window* w = Find(hWnd);
  if (!w) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (nIndex == GWLP_WNDPROC) return LONG_PTR(w->proc);
  if (nIndex == GWLP_USERDATA) return w->userData;
  SetError(ERROR_INVALID_PARAMETER);
  return 0;
}

LONG_PTR WINAPI SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR value) {
  Window* w = Find(hWnd);
  if (!w) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  LONG_PTR old;
  if (nIndex == GWLP_WNDPROC) {
    old = LONG_PTR(w->proc);
    w->proc = reinterpret_cast<WNDPROC>(value);
  } else if (nIndex == GWLP_USERDATA) {
    old = w->userData;
    w->userData = value;
  } else {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  SetError(0);
  return old;
}

LRESULT WINAPI SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  if (Faulted("SendMessageW", MsgArgs(hWnd, Msg, wParam, lParam))) return 0;
  Window* w = Find(hWnd);
  if (!w) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  // A window of the calling thread: its procedure is called directly.
  return w->proc(hWnd, Msg, wParam, lParam);
}

BOOL WINAPI PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  if (Faulted("PostMessageW", MsgArgs(hWnd, Msg, wParam, lParam))) return FALSE;
  if (hWnd && !Find(hWnd)) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  MSG m{hWnd, Msg, wParam, lParam, 0, {0, 0}};
  P().queue.push_back(m);
  return TRUE;
}

void WINAPI PostQuitMessage(int nExitCode) {
  Enter("PostQuitMessage", {{"nExitCode", nExitCode}});
  P().quitPosted = true;
  P().quitCode = nExitCode;
}

// The next message for the thread: posted messages first, then the quit message.
static bool Next(LPMSG msg, bool remove) {
  Process& p = P();
  if (!p.queue.empty()) {
    *msg = p.queue.front();
    if (remove) p.queue.pop_front();
    return true;
  }
  if (p.quitPosted) {
    *msg = MSG{nullptr, WM_QUIT, WPARAM(p.quitCode), 0, 0, {0, 0}};
    if (remove) p.quitPosted = false;
    return true;
  }
  return false;
}

BOOL WINAPI PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
  if (Faulted("PeekMessageW", {{"hWnd", uintptr_t(hWnd)},
                                {"wMsgFilterMin", wMsgFilterMin},
                                {"wMsgFilterMax", wMsgFilterMax},
                                {"wRemoveMsg", wRemoveMsg}}))
    return FALSE;
  if (hWnd || wMsgFilterMin || wMsgFilterMax) Stop("PeekMessageW with a filter is not simulated");
  return Next(lpMsg, wRemoveMsg & PM_REMOVE) ? TRUE : FALSE;
}

BOOL WINAPI GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
  if (Faulted("GetMessageW",
              {{"hWnd", uintptr_t(hWnd)}, {"wMsgFilterMin", wMsgFilterMin}, {"wMsgFilterMax", wMsgFilterMax}}))
    return -1;
  if (hWnd || wMsgFilterMin || wMsgFilterMax) Stop("GetMessageW with a filter is not simulated");
  if (!Next(lpMsg, true)) Stop("waits for input, and no user action is left");
  return lpMsg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL WINAPI TranslateMessage(const MSG* lpMsg) {
  Enter("TranslateMessage", {{"message", lpMsg->message}});
  return lpMsg->message == WM_KEYDOWN ? TRUE : FALSE;
}

LRESULT WINAPI DispatchMessageW(const MSG* lpMsg) {
  Enter("DispatchMessageW", MsgArgs(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam));
  Window* w = Find(lpMsg->hwnd);
  return w ? w->proc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam) : 0;
}

void WINAPI InitCommonControls() { Enter("InitCommonControls"); }
