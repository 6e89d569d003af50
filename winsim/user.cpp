// The simulated user: the machine's script of actions, turned into the input that Windows would
// deliver, when a program looks for a message and finds none. Mouse and keyboard input is posted
// (the program's pump dispatches it); what Windows does with it is in the window procedures
// (BUTTON, LISTBOX, DefWindowProcW's close box, Alt+F4 and sizing loop).
#include "winsim/window_internal.h"

using namespace winsim;
using namespace winsim::detail;

namespace {

std::string Describe(const UserAction& a) {
  switch (a.kind) {
    case UserAction::Click: return "click '" + a.text + "'";
    case UserAction::CloseBox: return "close box";
    case UserAction::SystemClose: return "system menu close";
    case UserAction::AltF4: return "Alt+F4";
    case UserAction::EndTask: return "end task";
    case UserAction::Resize: return "resize to " + std::to_string(a.width) + "x" + std::to_string(a.height);
    case UserAction::SelectLine: return "select line " + std::to_string(a.line);
    case UserAction::Snapshot: return "snapshot '" + a.text + "'";
    case UserAction::OtherSends:
    case UserAction::OtherPosts:
      return std::string(a.kind == UserAction::OtherSends ? "another program sends" : "another program posts") +
             " message " + std::to_string(a.message) + (a.duringCall.empty() ? "" : " during " + a.duringCall);
  }
  return "action";
}

bool IsClass(const Window& w, const wchar_t* folded) {
  std::wstring name = w.cls;
  for (WCHAR& c : name) c = FoldCase(c);
  return name == folded;
}

// A disabled window, or one inside a disabled window, takes no mouse input.
bool EnabledTree(HWND h) {
  for (Window* w = FindWindow(h); w; w = IsChildWindow(*w) ? FindWindow(w->parent) : nullptr)
    if (w->style & WS_DISABLED) return false;
  return true;
}

// The window that the user acts on: the active one, else the top visible top-level window.
HWND Target() {
  Process& p = P();
  if (p.active && IsVisibleTree(p.active)) return p.active;
  for (HWND h : p.topLevel)
    if (IsVisibleTree(h)) return h;
  return nullptr;
}

void Tree(HWND h, int depth, std::vector<std::pair<HWND, int>>& out) {
  Window* w = FindWindow(h);
  if (!w) return;
  out.push_back({h, depth});
  for (HWND c : w->children) Tree(c, depth + 1, out);
}

// The descendants of a window in tree order.
std::vector<HWND> Descendants(HWND top) {
  std::vector<std::pair<HWND, int>> all;
  Tree(top, 0, all);
  std::vector<HWND> out;
  for (size_t i = 1; i < all.size(); ++i) out.push_back(all[i].first);
  return out;
}

POINT ScreenPoint(const Window& w, POINT client) {
  POINT o = ClientOrigin(w);
  return POINT{o.x + client.x, o.y + client.y};
}

// A point that the user can hit: inside the client area of every ancestor (nothing clips it away).
bool Unclipped(const Window& w, POINT screen) {
  for (Window* a = IsChildWindow(w) ? FindWindow(w.parent) : nullptr; a;
       a = IsChildWindow(*a) ? FindWindow(a->parent) : nullptr) {
    POINT o = ClientOrigin(*a);
    if (screen.x < o.x || screen.y < o.y || screen.x >= o.x + (a->client.right - a->client.left) ||
        screen.y >= o.y + (a->client.bottom - a->client.top))
      return false;
  }
  return true;
}

LPARAM Coords(LONG x, LONG y) { return MAKELPARAM(WORD(x), WORD(y)); }

// Input from the mouse or the keyboard: posted, as winsim's own.
void Input(HWND h, UINT msg, WPARAM wp, LPARAM lp, POINT pt) {
  P().queue.push_back(Queued{MSG{h, msg, wp, lp, 0, pt}, true});
}

// The pointer moves onto a point of a window's client area, the left button goes down and up.
void ClickAt(HWND h, POINT client, POINT screen) {
  LPARAM lp = Coords(client.x, client.y);
  Input(h, WM_MOUSEMOVE, 0, lp, screen);
  Input(h, WM_LBUTTONDOWN, MK_LBUTTON, lp, screen);
  Input(h, WM_LBUTTONUP, 0, lp, screen);
}

// The window that takes mouse input at a screen point: the topmost visible top-level window there,
// then its deepest visible child there. A disabled window takes none: a disabled child leaves it
// to its parent, a disabled top-level window drops it.
HWND MouseTarget(POINT pt) {
  auto inside = [&](const Window& w) {
    RECT r = ScreenRect(w);
    return pt.x >= r.left && pt.x < r.right && pt.y >= r.top && pt.y < r.bottom;
  };
  auto enabled = [](const Window& w) { return !(w.style & WS_DISABLED); };
  HWND target = nullptr;
  for (HWND h : P().topLevel)
    if (IsVisibleTree(h) && inside(*FindWindow(h))) {
      target = h;
      break;
    }
  if (!target || !enabled(*FindWindow(target))) return nullptr;
  for (bool deeper = true; deeper;) {
    deeper = false;
    for (HWND c : FindWindow(target)->children) {
      Window* cw = FindWindow(c);
      if (!cw || !(cw->style & WS_VISIBLE) || !inside(*cw)) continue;
      if (enabled(*cw)) {
        target = c;
        deeper = true;
      }
      break;
    }
  }
  return target;
}

// Each action returns why it hit nothing, or an empty text.
std::string Click(HWND target, const std::string& text) {
  if (!EnabledTree(target)) return "the window is disabled";
  if (FindWindow(target)->style & WS_MINIMIZE) return "the window is minimised";
  std::wstring want = Wide(text);
  for (HWND h : Descendants(target)) {
    Window* w = FindWindow(h);
    if (!IsClass(*w, L"BUTTON") || w->text != want || !IsVisibleTree(h) || !EnabledTree(h)) continue;
    LONG cw = w->client.right - w->client.left, ch = w->client.bottom - w->client.top;
    POINT centre{cw / 2, ch / 2};
    POINT screen = ScreenPoint(*w, centre);
    if (cw <= 0 || ch <= 0 || !Unclipped(*w, screen)) continue;  // nothing of it to click
    ClickAt(h, centre, screen);
    return "";
  }
  return "no visible enabled button";
}

std::string CloseBox(HWND target) {
  Window* w = FindWindow(target);
  if (!(w->style & WS_SYSMENU) || (w->style & WS_CAPTION) != WS_CAPTION) return "the window has no close box";
  if (!HasCloseBox(*w)) return "the close box is greyed";
  if (!EnabledTree(target)) return "the window is disabled";
  if (w->style & WS_MINIMIZE) return "the window is minimised";
  RECT b = CloseBoxRect(*w);
  POINT pt{(b.left + b.right) / 2, (b.top + b.bottom) / 2};
  LPARAM lp = Coords(pt.x, pt.y);
  Input(target, WM_NCMOUSEMOVE, HTCLOSE, lp, pt);
  Input(target, WM_NCLBUTTONDOWN, HTCLOSE, lp, pt);
  Input(target, WM_NCLBUTTONUP, HTCLOSE, lp, pt);
  return "";
}

// Close chosen from the system menu (opened with Alt+Space, as from the keyboard: no point).
std::string SystemClose(HWND target) {
  Window* w = FindWindow(target);
  if (!(w->style & WS_SYSMENU)) return "the window has no system menu";
  if (w->classStyle & CS_NOCLOSE) return "Close is greyed in the system menu";
  if (!EnabledTree(target)) return "the window is disabled";
  Input(target, WM_SYSCOMMAND, SC_CLOSE, 0, POINT{0, 0});
  return "";
}

// The keys go to the focus window (a control of the target) or, without one, to the target.
std::string AltF4(HWND target) {
  HWND to = Within(target, P().focus) ? P().focus : target;
  const LPARAM context = LPARAM(1) << 29, up = (LPARAM(1) << 30) | (LPARAM(1) << 31);
  const LPARAM alt = 1 | (0x38 << 16), f4 = 1 | (0x3E << 16);  // repeat count 1 and the scan codes
  Input(to, WM_SYSKEYDOWN, VK_MENU, alt | context, POINT{0, 0});
  Input(to, WM_SYSKEYDOWN, VK_F4, f4 | context, POINT{0, 0});
  Input(to, WM_SYSKEYUP, VK_F4, f4 | context | up, POINT{0, 0});
  Input(to, WM_KEYUP, VK_MENU, alt | up, POINT{0, 0});
  return "";
}

// Whatever the window's state: Task Manager asks the window to close (no point, no key).
std::string EndTask(HWND target) {
  Input(target, WM_CLOSE, 0, 0, POINT{0, 0});
  return "";
}

// The user drags the bottom-right corner of the sizing border; the sizing loop that the press
// starts in DefWindowProcW takes the drag.
std::string Resize(HWND target, int width, int height) {
  Window* w = FindWindow(target);
  if (!(w->style & WS_THICKFRAME)) return "the window has no sizing border";
  if (w->style & (WS_MINIMIZE | WS_MAXIMIZE)) return "the window is minimised or maximised";
  if (!EnabledTree(target)) return "the window is disabled";
  RECT r = ScreenRect(*w);
  POINT pt{r.right - 1, r.bottom - 1};
  LPARAM lp = Coords(pt.x, pt.y);
  P().dragWindow = target;
  P().dragTo = SIZE{width, height};
  Input(target, WM_NCMOUSEMOVE, HTBOTTOMRIGHT, lp, pt);
  Input(target, WM_NCLBUTTONDOWN, HTBOTTOMRIGHT, lp, pt);
  return "";
}

std::string SelectLine(HWND target, int line) {
  if (FindWindow(target)->style & WS_MINIMIZE) return "the window is minimised";
  for (HWND h : Descendants(target)) {
    Window* w = FindWindow(h);
    if (!IsClass(*w, L"LISTBOX") || !IsVisibleTree(h)) continue;
    if (!EnabledTree(h)) return "the list is disabled";
    int ih = std::max(1, w->itemHeight);
    LONG cw = w->client.right - w->client.left, ch = w->client.bottom - w->client.top;
    if (line < 0 || line >= int(w->items.size())) return "the list has no such line";
    int64_t y = int64_t(line - w->topIndex) * ih + ih / 2;
    POINT client{cw / 2, LONG(y)};
    if (line < w->topIndex || y >= ch || cw <= 0) return "the line is not in view";
    POINT screen = ScreenPoint(*w, client);
    if (!Unclipped(*w, screen)) return "the line is not in view";
    ClickAt(h, client, screen);
    return "";
  }
  return "no visible list";
}

void TakeSnapshot(const std::string& label) {
  SnapshotRecord rec{P().program, label, {}};
  std::vector<std::pair<HWND, int>> all;
  for (const auto& [h, w] : P().windows)  // handles grow: creation order
    if (!IsChildWindow(w)) Tree(HWND(h), 0, all);
  for (const auto& [h, depth] : all) rec.windows.push_back(SnapshotWindow{depth, SnapshotOf(h)});
  M().snapshots.push_back(std::move(rec));
}

std::string Perform(const UserAction& a, HWND target) {
  switch (a.kind) {
    case UserAction::Click: return Click(target, a.text);
    case UserAction::CloseBox: return CloseBox(target);
    case UserAction::SystemClose: return SystemClose(target);
    case UserAction::AltF4: return AltF4(target);
    case UserAction::EndTask: return EndTask(target);
    case UserAction::Resize: return Resize(target, a.width, a.height);
    case UserAction::SelectLine: return SelectLine(target, a.line);
    case UserAction::Snapshot: TakeSnapshot(a.text); return "";
    case UserAction::OtherSends: {
      // Handled at once, on this thread; the other thread waits for the answer.
      ++P().otherThreadSends;
      Deliver(target, a.message, WPARAM(a.wParam), LPARAM(a.lParam));
      --P().otherThreadSends;
      return "";
    }
    case UserAction::OtherPosts:
      P().queue.push_back(Queued{MSG{target, a.message, WPARAM(a.wParam), LPARAM(a.lParam), 0, {0, 0}}, false});
      return "";
  }
  return "unknown action";
}

}  // namespace

namespace winsim::detail {

// An action is for the process that shows a window: one without (a child process started
// meanwhile) leaves it in the script. An action for a dialog waits for one.
bool TakeUserAction(bool busyOnly, bool inDialog) {
  Machine& m = M();
  if (m.script.empty() || m.script.front().inDialog != inDialog || !m.script.front().duringCall.empty()) return false;
  if (busyOnly && !inDialog && !m.script.front().whileBusy) return false;
  HWND target = Target();
  if (!target) return false;
  UserAction a = m.script.front();
  m.script.erase(m.script.begin());
  std::string missed = Perform(a, target);
  if (!missed.empty()) M().missedActions.push_back(Describe(a) + ": " + missed);
  return true;
}

void TakeSentMessages(bool busyOnly) {
  Machine& m = M();
  while (!m.script.empty() && m.script.front().kind == UserAction::OtherSends && TakeUserAction(busyOnly)) {
  }
}

void TakeCallActions(const char* fn) {
  Machine& m = M();
  while (!m.script.empty() && !m.script.front().duringCall.empty() && m.script.front().duringCall == fn) {
    HWND target = Target();
    if (!target) return;
    UserAction a = m.script.front();
    m.script.erase(m.script.begin());
    std::string missed = Perform(a, target);
    if (!missed.empty()) m.missedActions.push_back(Describe(a) + ": " + missed);
  }
}

std::string NoActionReason() {
  if (M().script.empty()) return "waits for input, and no user action is left";
  if (M().script.front().inDialog)
    return "waits for input, and the next user action (" + Describe(M().script.front()) + ") is for a dialog";
  if (!M().script.front().duringCall.empty())
    return "waits for input, and the next user action (" + Describe(M().script.front()) + ") was never reached";
  return "waits for input, and the next user action (" + Describe(M().script.front()) +
         ") finds no visible window of this program";
}

WindowSnapshot SnapshotOf(HWND h) {
  WindowSnapshot s;
  const Window* w = FindWindow(h);
  if (!w) return s;
  s.exists = true;
  s.className = Utf8(w->cls.c_str());
  s.text = Utf8(w->text.c_str());
  s.parent = uint64_t(uintptr_t((w->style & WS_CHILD) ? w->parent : nullptr));
  s.owner = uint64_t(uintptr_t(w->owner));
  s.style = w->style;
  s.exStyle = w->exStyle;
  s.window = ScreenRect(*w);
  POINT o = ClientOrigin(*w);
  s.client = RECT{o.x, o.y, o.x + (w->client.right - w->client.left), o.y + (w->client.bottom - w->client.top)};
  s.visible = IsVisibleTree(h);
  s.enabled = !(w->style & WS_DISABLED);
  s.focused = P().focus == h;
  s.font = uint64_t(uintptr_t(w->font));
  for (const std::wstring& item : w->items) s.items.push_back(Utf8(item.c_str()));
  s.curSel = w->curSel;
  s.itemHeight = w->itemHeight;
  for (HWND c : w->children) s.children.push_back(uint64_t(uintptr_t(c)));
  return s;
}

}  // namespace winsim::detail

namespace winsim {

static UserAction& Append(std::vector<UserAction>& script, UserAction::Kind kind) {
  UserAction a;
  a.kind = kind;
  script.push_back(a);
  return script.back();
}

UserAction& Machine::UserClicks(const std::string& buttonText) {
  UserAction& a = Append(script, UserAction::Click);
  a.text = buttonText;
  return a;
}

UserAction& Machine::UserClosesBox() { return Append(script, UserAction::CloseBox); }
UserAction& Machine::UserClosesFromSystemMenu() { return Append(script, UserAction::SystemClose); }
UserAction& Machine::UserPressesAltF4() { return Append(script, UserAction::AltF4); }
UserAction& Machine::UserEndsTask() { return Append(script, UserAction::EndTask); }

UserAction& Machine::UserResizes(int width, int height) {
  UserAction& a = Append(script, UserAction::Resize);
  a.width = width;
  a.height = height;
  return a;
}

UserAction& Machine::UserSelectsLine(int line) {
  UserAction& a = Append(script, UserAction::SelectLine);
  a.line = line;
  return a;
}

UserAction& Machine::UserSnapshot(const std::string& label) {
  UserAction& a = Append(script, UserAction::Snapshot);
  a.text = label;
  return a;
}

static UserAction& OtherProgram(std::vector<UserAction>& script, UserAction::Kind kind, UINT message,
                                uint64_t wParam, int64_t lParam) {
  UserAction& a = Append(script, kind);
  a.message = message;
  a.wParam = wParam;
  a.lParam = lParam;
  return a;
}

UserAction& Machine::OtherProgramSends(UINT message, uint64_t wParam, int64_t lParam) {
  return OtherProgram(script, UserAction::OtherSends, message, wParam, lParam);
}

UserAction& Machine::OtherProgramPosts(UINT message, uint64_t wParam, int64_t lParam) {
  return OtherProgram(script, UserAction::OtherPosts, message, wParam, lParam);
}

}  // namespace winsim

// ---- Input that a program makes ----

BOOL WINAPI SetCursorPos(int X, int Y) {
  if (Faulted("SetCursorPos", {{"X", X}, {"Y", Y}})) return FALSE;
  P().cursor = POINT{std::clamp(X, 0, metrics::kScreenWidth - 1), std::clamp(Y, 0, metrics::kScreenHeight - 1)};
  return TRUE;
}

// The left button goes down or up at the cursor, for the window that takes the mouse there
// (posted, as all input; dropped where no window takes it). Other input is not simulated.
UINT WINAPI SendInput(UINT cInputs, LPINPUT pInputs, int cbSize) {
  if (Faulted("SendInput", {{"cInputs", cInputs}, {"cbSize", cbSize}})) return 0;
  if (!pInputs || cbSize != int(sizeof(INPUT))) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  for (UINT i = 0; i < cInputs; ++i) {
    const INPUT& in = pInputs[i];
    const DWORD buttons = MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_LEFTUP;
    if (in.type != INPUT_MOUSE || !(in.mi.dwFlags & buttons) || (in.mi.dwFlags & ~buttons))
      Stop("SendInput of anything but the left mouse button is not simulated");
    POINT pt = P().cursor;
    HWND h = MouseTarget(pt);
    if (!h) continue;
    const Window& w = *FindWindow(h);
    POINT o = ClientOrigin(w);
    LONG x = pt.x - o.x, y = pt.y - o.y;
    if (x < 0 || y < 0 || x >= w.client.right - w.client.left || y >= w.client.bottom - w.client.top)
      Stop("SendInput on a window's frame is not simulated");
    if (in.mi.dwFlags & MOUSEEVENTF_LEFTDOWN) Input(h, WM_LBUTTONDOWN, MK_LBUTTON, Coords(x, y), pt);
    if (in.mi.dwFlags & MOUSEEVENTF_LEFTUP) Input(h, WM_LBUTTONUP, 0, Coords(x, y), pt);
  }
  return cInputs;
}
