// winsim user32: window classes, creating and destroying windows, the window longs and the window tree.
#include <algorithm>

#include "winsim/window_internal.h"

using namespace winsim;
using namespace winsim::detail;
namespace mx = winsim::metrics;

namespace {

std::wstring Fold(LPCWSTR s) {
  std::wstring w = s ? s : L"";
  for (WCHAR& c : w) c = FoldCase(c);
  return w;
}

std::string ClassArg(LPCWSTR name) {
  if (IsAtom(name)) return "#" + std::to_string(uintptr_t(name));
  return Utf8(name);
}

// The system classes and their procedures.
WNDPROC SystemClass(const std::wstring& folded) {
  if (folded == L"LISTBOX") return ListBoxProc;
  if (folded == L"BUTTON") return ButtonProc;
  return nullptr;
}

const WindowClass* FindClass(LPCWSTR name) {
  if (IsAtom(name)) {
    for (const auto& [key, c] : P().classes)
      if (c.atom == ATOM(uintptr_t(name))) return &c;
    return nullptr;
  }
  auto it = P().classes.find(Fold(name));
  return it == P().classes.end() ? nullptr : &it->second;
}

// Windows keeps WS_EX_WINDOWEDGE in step with the frame: a dialog or sizing frame has it.
DWORD FixExStyle(DWORD style, DWORD ex) {
  if ((ex & WS_EX_DLGMODALFRAME) || (!(ex & WS_EX_STATICEDGE) && (style & (WS_DLGFRAME | WS_THICKFRAME))))
    return ex | WS_EX_WINDOWEDGE;
  return ex & ~DWORD(WS_EX_WINDOWEDGE);
}

// Every window that is not a child clips its siblings.
DWORD FixStyle(DWORD style) { return (style & WS_CHILD) ? style : style | WS_CLIPSIBLINGS; }

bool IsDescendant(HWND ancestor, HWND h) {
  Window* w = FindWindow(h);
  while (w && IsChildWindow(*w)) {
    if (w->parent == ancestor) return true;
    w = FindWindow(w->parent);
  }
  return false;
}

// WM_PARENTNOTIFY to the parent, and on up while the windows are children that allow it.
void ParentNotify(HWND h, UINT event) {
  Window* w = FindWindow(h);
  if (!w) return;
  LONG_PTR id = w->id;
  HWND cur = h;
  while (Window* c = FindWindow(cur)) {
    if (!IsChildWindow(*c) || (c->exStyle & WS_EX_NOPARENTNOTIFY)) break;
    cur = c->parent;
    Deliver(cur, WM_PARENTNOTIFY, MAKEWPARAM(event, id), LPARAM(h));
  }
}

// Removes a window that has had its WM_NCDESTROY.
void Forget(HWND h) {
  Process& p = P();
  Window* w = FindWindow(h);
  if (!w) return;
  std::erase(Siblings(*w), h);
  std::erase(p.topLevel, h);
  if (p.focus == h) p.focus = nullptr;
  if (p.active == h) p.active = nullptr;
  p.windows.erase(uintptr_t(h));
}

// WM_DESTROY to the window, then to its children (parent first).
void SendDestroy(HWND h) {
  Deliver(h, WM_DESTROY, 0, 0);
  Window* w = FindWindow(h);
  if (!w) return;
  std::vector<HWND> children = w->children;
  for (HWND c : children) {
    Window* cw = FindWindow(c);
    if (!cw || cw->destroying) continue;
    cw->destroying = true;
    SendDestroy(c);
  }
}

// WM_NCDESTROY to the children (deepest first), then to the window, each the window's last.
void FreeTree(HWND h) {
  Window* w = FindWindow(h);
  if (!w) return;
  std::vector<HWND> children = w->children;
  for (HWND c : children) {
    Window* cw = FindWindow(c);
    if (!cw) continue;
    if (!cw->destroying) {  // made while its parent was being destroyed
      cw->destroying = true;
      SendDestroy(c);
    }
    FreeTree(c);
  }
  if (!FindWindow(h)) return;
  Deliver(h, WM_NCDESTROY, 0, 0);
  Forget(h);
}

// Every window of a tree, depth-first: a window, its descendants, then its next sibling.
void Descendants(HWND h, std::vector<HWND>& out) {
  Window* w = FindWindow(h);
  if (!w) return;
  for (HWND c : w->children) {
    out.push_back(c);
    Descendants(c, out);
  }
}

}  // namespace

// ---- The internal face (internal.h, window_internal.h) ----

namespace winsim::detail {

Window* FindWindow(HWND h) {
  if (!h) return nullptr;
  auto it = P().windows.find(uintptr_t(h));
  return it == P().windows.end() ? nullptr : &it->second;
}

Window* Require(HWND h) {
  Window* w = FindWindow(h);
  if (!w) SetError(ERROR_INVALID_WINDOW_HANDLE);
  return w;
}

std::vector<HWND>& Siblings(const Window& w) {
  if (IsChildWindow(w)) {
    if (Window* p = FindWindow(w.parent)) return p->children;
  }
  return P().topLevel;
}

// The top-level window above a window.
HWND Root(HWND h) {
  Window* w = FindWindow(h);
  while (w && IsChildWindow(*w)) {
    h = w->parent;
    w = FindWindow(h);
  }
  return h;
}

bool Within(HWND tree, HWND h) { return h && (h == tree || IsDescendant(tree, h)); }

// DestroyWindow without the call record. A window already on its way is left to that. A WH_CBT
// hook is asked first, for the window that DestroyWindow names (the owned windows go through
// DestroyWindow too; children go with their parent without asking).
bool DestroyTree(HWND h, bool explicitCall) {
  Window* w = FindWindow(h);
  if (!w || w->destroying) return true;
  if (explicitCall && !P().cbtHooks.empty()) {
    HOOKPROC first = P().cbtHooks.front().second;
    if (first(HCBT_DESTROYWND, WPARAM(h), 0) != 0) return false;
    if (!(w = FindWindow(h)) || w->destroying) return true;
  }
  // Owned windows go first.
  std::vector<HWND> owned;
  for (HWND t : P().topLevel)
    if (Window* tw = FindWindow(t); tw && tw->owner == h) owned.push_back(t);
  for (HWND t : owned) DestroyTree(t, true);
  if (!(w = FindWindow(h)) || w->destroying) return true;
  w->destroying = true;
  if (explicitCall && IsChildWindow(*w)) ParentNotify(h, WM_DESTROY);
  if ((w = FindWindow(h)) && (w->style & WS_VISIBLE)) {
    if (IsChildWindow(*w)) Deliver(h, WM_SHOWWINDOW, FALSE, 0);
    SetPos(h, nullptr, 0, 0, 0, 0, SWP_HIDEWINDOW | SWP_NOACTIVATE | SWP_NOZORDER | SWP_NOMOVE | SWP_NOSIZE);
  } else {
    LeaveHidden(h);
  }
  if (!FindWindow(h)) return true;
  SendDestroy(h);
  FreeTree(h);
  return true;
}

}  // namespace winsim::detail

// ---- Classes ----

static ATOM Register(LPCWSTR name, WNDPROC proc, UINT style, HBRUSH brush, HINSTANCE instance) {
  if (!name || IsAtom(name) || !proc) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::wstring key = Fold(name);
  if (P().classes.count(key) || SystemClass(key)) {
    SetError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  ATOM atom = P().nextAtom++;
  P().classes[key] = WindowClass{name, proc, style, brush, instance, atom};
  return atom;
}

ATOM WINAPI RegisterClassW(const WNDCLASSW* wc) {
  if (Faulted("RegisterClassW", {{"lpszClassName", wc ? ClassArg(wc->lpszClassName) : ""}})) return 0;
  if (!wc) {
    SetError(ERROR_NOACCESS);
    return 0;
  }
  return Register(wc->lpszClassName, wc->lpfnWndProc, wc->style, wc->hbrBackground, wc->hInstance);
}

// The whole record goes into the call record.
ATOM WINAPI RegisterClassExW(const WNDCLASSEXW* wc) {
  json args = json::object();
  if (wc)
    args = {{"cbSize", wc->cbSize},
            {"style", wc->style},
            {"lpfnWndProc", uintptr_t(wc->lpfnWndProc)},
            {"cbClsExtra", wc->cbClsExtra},
            {"cbWndExtra", wc->cbWndExtra},
            {"hInstance", uintptr_t(wc->hInstance)},
            {"hIcon", uintptr_t(wc->hIcon)},
            {"hCursor", uintptr_t(wc->hCursor)},
            {"hbrBackground", uintptr_t(wc->hbrBackground)},
            {"lpszMenuName", wc->lpszMenuName ? json(ClassArg(wc->lpszMenuName)) : json(nullptr)},
            {"lpszClassName", ClassArg(wc->lpszClassName)},
            {"hIconSm", uintptr_t(wc->hIconSm)}};
  if (Faulted("RegisterClassExW", args)) return 0;
  if (!wc || wc->cbSize != sizeof(WNDCLASSEXW)) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return Register(wc->lpszClassName, wc->lpfnWndProc, wc->style, wc->hbrBackground, wc->hInstance);
}

BOOL WINAPI UnregisterClassW(LPCWSTR lpClassName, HINSTANCE hInstance) {
  if (Faulted("UnregisterClassW", {{"lpClassName", ClassArg(lpClassName)}, {"hInstance", uintptr_t(hInstance)}}))
    return FALSE;
  const WindowClass* c = FindClass(lpClassName);
  if (!c) {
    SetError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  std::wstring key = Fold(c->name.c_str());
  for (const auto& [h, w] : P().windows)
    if (Fold(w.cls.c_str()) == key) {
      SetError(ERROR_CLASS_HAS_WINDOWS);
      return FALSE;
    }
  P().classes.erase(key);
  return TRUE;
}

int WINAPI GetClassNameW(HWND hWnd, LPWSTR lpClassName, int nMaxCount) {
  if (Faulted("GetClassNameW", HwndArg(hWnd))) return 0;
  Window* w = Require(hWnd);
  if (!w || nMaxCount <= 0 || !lpClassName) return 0;
  return int(CopyText(w->cls, WPARAM(nMaxCount), LPARAM(lpClassName)));
}

// ---- Windows ----

HWND WINAPI CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam) {
  if (Faulted("CreateWindowExW", {{"dwExStyle", dwExStyle},
                                   {"lpClassName", ClassArg(lpClassName)},
                                   {"lpWindowName", IsAtom(lpWindowName) ? "" : Utf8(lpWindowName)},
                                   {"dwStyle", dwStyle},
                                   {"X", X},
                                   {"Y", Y},
                                   {"nWidth", nWidth},
                                   {"nHeight", nHeight},
                                   {"hWndParent", uintptr_t(hWndParent)},
                                   {"hMenu", uintptr_t(hMenu)}}))
    return nullptr;
  Process& p = P();
  std::wstring clsName;
  WNDPROC proc = nullptr;
  UINT classStyle = 0;
  HBRUSH classBrush = nullptr;
  if (const WindowClass* c = FindClass(lpClassName)) {
    clsName = c->name;
    proc = c->proc;
    classStyle = c->style;
    classBrush = c->brush;
  } else if (!IsAtom(lpClassName) && (proc = SystemClass(Fold(lpClassName)))) {
    clsName = Fold(lpClassName) == L"BUTTON" ? L"Button" : L"ListBox";
    classStyle = CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
  }
  if (!proc) {
    SetError(ERROR_CANNOT_FIND_WND_CLASS);
    return nullptr;
  }
  HWND owner = nullptr;
  if (dwStyle & WS_CHILD) {
    if (!hWndParent) {
      SetError(ERROR_TLW_WITH_WSCHILD);
      return nullptr;
    }
    if (!Require(hWndParent)) return nullptr;
  } else if (hWndParent) {
    if (!Require(hWndParent)) return nullptr;
    owner = Root(hWndParent);  // the owner is always a top-level window
  }
  // The styles as Windows fixes them: an overlapped window has a caption.
  DWORD style = dwStyle;
  if (IsOverlapped(style)) style |= WS_CAPTION;
  style = FixStyle(style);
  DWORD ex = FixExStyle(style, dwExStyle);
  DWORD want = style & (WS_MINIMIZE | WS_MAXIMIZE);
  bool visible = style & WS_VISIBLE;
  style &= ~DWORD(WS_MINIMIZE | WS_MAXIMIZE | WS_VISIBLE);
  // Position and size; CW_USEDEFAULT gives an overlapped window the default place.
  int64_t x = X, y = Y, cx = nWidth, cy = nHeight;
  if (IsOverlapped(dwStyle)) {
    if (X == CW_USEDEFAULT) x = mx::kDefaultX, y = mx::kDefaultY;
    if (nWidth == CW_USEDEFAULT) cx = mx::kDefaultWidth, cy = mx::kDefaultHeight;
    else if (nHeight == CW_USEDEFAULT) cy = std::max<int64_t>(0, mx::kDefaultY + mx::kDefaultHeight - y);
  } else {
    if (X == CW_USEDEFAULT) x = y = 0;
    if (nWidth == CW_USEDEFAULT) cx = cy = 0;
  }
  x = Clamp(x, -kMaxCoord, kMaxCoord);
  y = Clamp(y, -kMaxCoord, kMaxCoord);
  cx = Clamp(cx, 0, kMaxCoord);
  cy = Clamp(cy, 0, kMaxCoord);

  HWND h = HWND(p.NewHandle());
  Window w;
  w.handle = h;
  w.cls = clsName;
  w.proc = proc;
  w.parent = (style & WS_CHILD) ? hWndParent : nullptr;
  w.owner = owner;
  w.style = style;
  w.exStyle = ex;
  w.id = (style & WS_CHILD) ? LONG_PTR(hMenu) : 0;
  w.instance = hInstance;
  w.classStyle = classStyle;
  w.classBrush = classBrush;
  w.rect = RECT{LONG(x), LONG(y), LONG(x + cx), LONG(y + cy)};
  w.client = w.rect;
  w.normal = w.rect;
  w.needSizeMove = IsOverlapped(style);
  p.windows[uintptr_t(h)] = w;

  CREATESTRUCTW cs{lpParam, hInstance, hMenu, hWndParent, int(cy), int(cx), int(y), int(x), LONG(dwStyle),
                   lpWindowName, lpClassName, dwExStyle};
  // The messages of the creation go to the class procedure, the window's procedure now.
  if (AsksMinMax(style)) {
    MINMAXINFO mm = DefaultMinMax(w);
    Deliver(h, WM_GETMINMAXINFO, 0, LPARAM(&mm));
    Window* nw = FindWindow(h);
    if (!nw) return nullptr;
    cx = std::min<int64_t>(cx, std::max<LONG>(0, mm.ptMaxTrackSize.x));
    cy = std::min<int64_t>(cy, std::max<LONG>(0, mm.ptMaxTrackSize.y));
    nw->rect.right = LONG(x + cx);
    nw->rect.bottom = LONG(y + cy);
    nw->client = nw->normal = nw->rect;
    cs.cx = int(cx);
    cs.cy = int(cy);
  }
  if (!Deliver(h, WM_NCCREATE, 0, LPARAM(&cs))) {
    if (Window* nw = FindWindow(h)) {
      nw->destroying = true;
      Deliver(h, WM_NCDESTROY, 0, 0);
      Forget(h);
    }
    return nullptr;
  }
  Window* nw = FindWindow(h);
  if (!nw) return nullptr;
  // Linked into the sibling order after WM_NCCREATE: children at the bottom, top-level windows on top.
  if (nw->parent) {
    if (Window* parent = FindWindow(nw->parent)) parent->children.push_back(h);
  } else {
    p.topLevel.insert(p.topLevel.begin(), h);
  }
  RECT calc = nw->rect;
  Deliver(h, WM_NCCALCSIZE, FALSE, LPARAM(&calc));
  if (!(nw = FindWindow(h))) return nullptr;
  nw->client = Within(calc, nw->rect);
  if (Deliver(h, WM_CREATE, 0, LPARAM(&cs)) == -1) {
    DestroyTree(h, false);
    return nullptr;
  }
  if (!(nw = FindWindow(h))) return nullptr;
  if (!nw->needSizeMove) {
    SendSize(h);
    SendMove(h);
  }
  if (want & WS_MINIMIZE) ChangeState(h, State::Minimized, SWP_NOACTIVATE | SWP_NOZORDER);
  else if (want & WS_MAXIMIZE) ChangeState(h, State::Maximized, SWP_NOACTIVATE | SWP_NOZORDER);
  if (!FindWindow(h)) return nullptr;
  if (style & WS_CHILD) ParentNotify(h, WM_CREATE);
  if (visible && FindWindow(h)) Show(h, SW_SHOW);
  return FindWindow(h) ? h : nullptr;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
  if (Faulted("DestroyWindow", HwndArg(hWnd))) return FALSE;
  if (!Require(hWnd)) return FALSE;
  return DestroyTree(hWnd, true) ? TRUE : FALSE;
}

// ---- Hooks ----

HHOOK WINAPI SetWindowsHookExW(int idHook, HOOKPROC lpfn, HINSTANCE hmod, DWORD dwThreadId) {
  if (Faulted("SetWindowsHookExW", {{"idHook", idHook}, {"hmod", uintptr_t(hmod)}, {"dwThreadId", dwThreadId}}))
    return nullptr;
  if (idHook != WH_CBT) Stop("SetWindowsHookExW with hook " + std::to_string(idHook) + " is not simulated");
  if (!lpfn || dwThreadId != GetCurrentThreadId()) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  HHOOK hook = HHOOK(P().NewHandle());
  P().cbtHooks.insert(P().cbtHooks.begin(), {hook, lpfn});
  return hook;
}

BOOL WINAPI UnhookWindowsHookEx(HHOOK hhk) {
  if (Faulted("UnhookWindowsHookEx", {{"hhk", uintptr_t(hhk)}})) return FALSE;
  auto& hooks = P().cbtHooks;
  for (auto it = hooks.begin(); it != hooks.end(); ++it)
    if (it->first == hhk) {
      hooks.erase(it);
      return TRUE;
    }
  SetError(ERROR_INVALID_HOOK_HANDLE);
  return FALSE;
}

// The next hook of the chain after hhk answers; without one, 0 (the default: go on).
LRESULT WINAPI CallNextHookEx(HHOOK hhk, int nCode, WPARAM wParam, LPARAM lParam) {
  auto& hooks = P().cbtHooks;
  for (size_t i = 0; i + 1 < hooks.size(); ++i)
    if (hooks[i].first == hhk) return hooks[i + 1].second(nCode, wParam, lParam);
  return 0;
}

BOOL WINAPI IsWindow(HWND hWnd) {
  if (Faulted("IsWindow", HwndArg(hWnd))) return FALSE;
  return FindWindow(hWnd) ? TRUE : FALSE;
}

// ---- Window longs ----

static LONG_PTR GetLong(HWND hWnd, int nIndex) {
  Window* w = Require(hWnd);
  if (!w) return 0;
  switch (nIndex) {
    case GWLP_WNDPROC: return LONG_PTR(w->proc);
    case GWLP_USERDATA: return w->userData;
    case GWL_STYLE: return LONG_PTR(LONG(w->style));
    case GWL_EXSTYLE: return LONG_PTR(LONG(w->exStyle));
    case GWLP_ID: return w->id;
    case GWLP_HINSTANCE: return LONG_PTR(w->instance);
    default: SetError(ERROR_INVALID_INDEX); return 0;
  }
}

// A style change goes through WM_STYLECHANGING and WM_STYLECHANGED; the frame is not recomputed
// until the next size change or SWP_FRAMECHANGED.
static LONG_PTR SetStyleLong(HWND h, int index, DWORD value) {
  Window* w = FindWindow(h);
  DWORD old = index == GWL_STYLE ? w->style : w->exStyle;
  STYLESTRUCT ss{old, value};
  Deliver(h, WM_STYLECHANGING, WPARAM(LONG_PTR(index)), LPARAM(&ss));
  if (!(w = FindWindow(h))) return LONG(old);
  if (index == GWL_STYLE) {
    w->style = FixStyle(ss.styleNew);
    w->exStyle = FixExStyle(w->style, w->exStyle);
    ss.styleNew = w->style;
  } else {
    DWORD ex = (ss.styleNew & ~DWORD(WS_EX_TOPMOST)) | (w->exStyle & WS_EX_TOPMOST);
    w->exStyle = FixExStyle(w->style, ex);
    ss.styleNew = w->exStyle;
  }
  Deliver(h, WM_STYLECHANGED, WPARAM(LONG_PTR(index)), LPARAM(&ss));
  return LONG(old);
}

// The previous value; the last error is left as it was on success, as Windows documents.
static LONG_PTR SetLong(HWND hWnd, int nIndex, LONG_PTR value) {
  Window* w = Require(hWnd);
  if (!w) return 0;
  LONG_PTR old = 0;
  switch (nIndex) {
    case GWLP_WNDPROC:
      old = LONG_PTR(w->proc);
      w->proc = reinterpret_cast<WNDPROC>(value);
      return old;
    case GWLP_USERDATA:
      old = w->userData;
      w->userData = value;
      return old;
    case GWLP_ID:
      old = w->id;
      w->id = value;
      return old;
    case GWLP_HINSTANCE:
      old = LONG_PTR(w->instance);
      w->instance = HINSTANCE(value);
      return old;
    case GWL_STYLE:
    case GWL_EXSTYLE:
      return SetStyleLong(hWnd, nIndex, DWORD(value));
    default:
      SetError(ERROR_INVALID_INDEX);
      return 0;
  }
}

LONG_PTR WINAPI GetWindowLongPtrW(HWND hWnd, int nIndex) {
  if (Faulted("GetWindowLongPtrW", {{"hWnd", uintptr_t(hWnd)}, {"nIndex", nIndex}})) return 0;
  return GetLong(hWnd, nIndex);
}

LONG_PTR WINAPI SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
  if (Faulted("SetWindowLongPtrW", {{"hWnd", uintptr_t(hWnd)}, {"nIndex", nIndex}, {"dwNewLong", dwNewLong}}))
    return 0;
  return SetLong(hWnd, nIndex, dwNewLong);
}

// The 32-bit longs: a window procedure does not fit in them in a 64-bit process.
LONG WINAPI GetWindowLongW(HWND hWnd, int nIndex) {
  if (Faulted("GetWindowLongW", {{"hWnd", uintptr_t(hWnd)}, {"nIndex", nIndex}})) return 0;
  if (nIndex == GWL_WNDPROC || nIndex == GWL_HINSTANCE) {
    if (Require(hWnd)) SetError(ERROR_INVALID_INDEX);
    return 0;
  }
  return LONG(GetLong(hWnd, nIndex));
}

LONG WINAPI SetWindowLongW(HWND hWnd, int nIndex, LONG dwNewLong) {
  if (Faulted("SetWindowLongW", {{"hWnd", uintptr_t(hWnd)}, {"nIndex", nIndex}, {"dwNewLong", dwNewLong}})) return 0;
  if (nIndex == GWL_WNDPROC || nIndex == GWL_HINSTANCE) {
    if (Require(hWnd)) SetError(ERROR_INVALID_INDEX);
    return 0;
  }
  if (nIndex == GWL_STYLE || nIndex == GWL_EXSTYLE) return LONG(SetLong(hWnd, nIndex, LONG_PTR(DWORD(dwNewLong))));
  return LONG(SetLong(hWnd, nIndex, LONG_PTR(dwNewLong)));
}

// ---- The window tree ----

// The parent of a child window; of a top-level window, its owner only when it is a pop-up.
HWND WINAPI GetParent(HWND hWnd) {
  if (Faulted("GetParent", HwndArg(hWnd))) return nullptr;
  Window* w = Require(hWnd);
  if (!w) return nullptr;
  if (IsChildWindow(*w)) return w->parent;
  return (w->style & WS_POPUP) ? w->owner : nullptr;
}

HWND WINAPI GetWindow(HWND hWnd, UINT uCmd) {
  if (Faulted("GetWindow", {{"hWnd", uintptr_t(hWnd)}, {"uCmd", uCmd}})) return nullptr;
  Window* w = Require(hWnd);
  if (!w) return nullptr;
  const std::vector<HWND>& sibs = Siblings(*w);
  auto at = std::find(sibs.begin(), sibs.end(), hWnd);
  switch (uCmd) {
    case GW_HWNDFIRST: return sibs.empty() ? nullptr : sibs.front();
    case GW_HWNDLAST: return sibs.empty() ? nullptr : sibs.back();
    case GW_HWNDNEXT: return at == sibs.end() || at + 1 == sibs.end() ? nullptr : *(at + 1);
    case GW_HWNDPREV: return at == sibs.end() || at == sibs.begin() ? nullptr : *(at - 1);
    case GW_OWNER: return w->owner;
    case GW_CHILD: return w->children.empty() ? nullptr : w->children.front();
    default: SetError(ERROR_INVALID_PARAMETER); return nullptr;
  }
}

BOOL WINAPI IsChild(HWND hWndParent, HWND hWnd) {
  if (Faulted("IsChild", {{"hWndParent", uintptr_t(hWndParent)}, {"hWnd", uintptr_t(hWnd)}})) return FALSE;
  return IsDescendant(hWndParent, hWnd) ? TRUE : FALSE;
}

int WINAPI GetDlgCtrlID(HWND hWnd) {
  if (Faulted("GetDlgCtrlID", HwndArg(hWnd))) return 0;
  Window* w = Require(hWnd);
  return w && IsChildWindow(*w) ? int(w->id) : 0;
}

// Calls `proc` for a list made before the first call; windows destroyed meanwhile are skipped.
static BOOL Enumerate(const std::vector<HWND>& list, WNDENUMPROC proc, LPARAM lParam) {
  for (HWND h : list) {
    if (!FindWindow(h)) continue;
    if (!proc(h, lParam)) return FALSE;
  }
  return TRUE;
}

BOOL WINAPI EnumChildWindows(HWND hWndParent, WNDENUMPROC lpEnumFunc, LPARAM lParam) {
  if (Faulted("EnumChildWindows", {{"hWndParent", uintptr_t(hWndParent)}})) return FALSE;
  if (!lpEnumFunc) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::vector<HWND> list;
  if (!hWndParent) {
    list = P().topLevel;
  } else {
    if (!Require(hWndParent)) return FALSE;
    Descendants(hWndParent, list);
  }
  Enumerate(list, lpEnumFunc, lParam);
  return TRUE;
}

BOOL WINAPI EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam) {
  if (Faulted("EnumWindows")) return FALSE;
  if (!lpEnumFunc) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return Enumerate(P().topLevel, lpEnumFunc, lParam);
}

BOOL WINAPI EnumThreadWindows(DWORD dwThreadId, WNDENUMPROC lpfn, LPARAM lParam) {
  if (Faulted("EnumThreadWindows", {{"dwThreadId", dwThreadId}})) return FALSE;
  if (!lpfn || dwThreadId != GetCurrentThreadId()) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return Enumerate(P().topLevel, lpfn, lParam);
}
