// winsim's window system: where Windows' behaviour is not obvious, these tests pin it. Message
// exchanges are compared as tables with what winsim delivered (the machine's message log).
#include <map>

#include "support.h"
#include "winsim/internal.h"

using winsim::Machine;
using winsim::Session;

namespace {

using test::S;

std::string Name(UINT msg) {
  static const std::map<UINT, const char*> names = {
      {WM_CREATE, "WM_CREATE"}, {WM_DESTROY, "WM_DESTROY"}, {WM_MOVE, "WM_MOVE"}, {WM_SIZE, "WM_SIZE"},
      {WM_ACTIVATE, "WM_ACTIVATE"}, {WM_SETFOCUS, "WM_SETFOCUS"}, {WM_KILLFOCUS, "WM_KILLFOCUS"},
      {WM_SETTEXT, "WM_SETTEXT"}, {WM_CLOSE, "WM_CLOSE"}, {WM_SHOWWINDOW, "WM_SHOWWINDOW"},
      {WM_ACTIVATEAPP, "WM_ACTIVATEAPP"}, {WM_GETMINMAXINFO, "WM_GETMINMAXINFO"},
      {WM_WINDOWPOSCHANGING, "WM_WINDOWPOSCHANGING"}, {WM_WINDOWPOSCHANGED, "WM_WINDOWPOSCHANGED"},
      {WM_NCCREATE, "WM_NCCREATE"}, {WM_NCDESTROY, "WM_NCDESTROY"}, {WM_NCCALCSIZE, "WM_NCCALCSIZE"},
      {WM_NCACTIVATE, "WM_NCACTIVATE"}, {WM_COMMAND, "WM_COMMAND"}, {WM_SYSCOMMAND, "WM_SYSCOMMAND"},
      {WM_LBUTTONDOWN, "WM_LBUTTONDOWN"}, {WM_LBUTTONUP, "WM_LBUTTONUP"}, {WM_PARENTNOTIFY, "WM_PARENTNOTIFY"},
      {WM_CAPTURECHANGED, "WM_CAPTURECHANGED"}, {WM_QUERYOPEN, "WM_QUERYOPEN"}, {BM_CLICK, "BM_CLICK"},
      {BM_SETSTATE, "BM_SETSTATE"}, {WM_STYLECHANGING, "WM_STYLECHANGING"}, {WM_STYLECHANGED, "WM_STYLECHANGED"},
      {WM_APP, "WM_APP"}};
  auto it = names.find(msg);
  return it != names.end() ? it->second : std::to_string(msg);
}

// What the log holds since the last clear, as "role message" lines, for the windows given roles.
std::vector<std::string> Seq(const Machine& m, const std::map<HWND, std::string>& roles) {
  std::vector<std::string> out;
  for (const winsim::MessageRecord& r : m.messages) {
    auto it = roles.find(HWND(uintptr_t(r.hwnd)));
    if (it != roles.end()) out.push_back(it->second + " " + Name(r.msg));
  }
  return out;
}

using Lines = std::vector<std::string>;

// A class whose procedure passes everything to DefWindowProcW, optionally with a class brush.
void RegisterPlain(const wchar_t* name = L"Plain", HBRUSH brush = nullptr) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hbrBackground = brush;
  wc.lpszClassName = name;
  ASSERT_NE(RegisterClassExW(&wc), 0);
}

HWND Make(DWORD style, HWND parent = nullptr, int x = 10, int y = 20, int cx = 300, int cy = 200, DWORD ex = 0) {
  return CreateWindowExW(ex, L"Plain", L"title", style, x, y, cx, cy, parent, nullptr, nullptr, nullptr);
}

RECT Client(HWND h) {
  RECT r{};
  GetClientRect(h, &r);
  return r;
}

RECT WindowRect(HWND h) {
  RECT r{};
  GetWindowRect(h, &r);
  return r;
}

// Procedures of the tests, with what they saw.
std::vector<std::pair<HWND, UINT>> g_seen;
LRESULT CALLBACK Recording(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  g_seen.push_back({h, msg});
  return DefWindowProcW(h, msg, wp, lp);
}

}  // namespace

// The messages of the creation go to the class procedure; a subclass made afterwards sees none of
// them. An overlapped window gets caption and sibling clipping and learns its size and place at
// its first show; a child learns them at once.
TEST(WinsimWindows, CreationMessagesGoToTheClassProcedure) {
  Machine m;
  Session s(m);
  RegisterPlain();
  HWND top = Make(0);
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(Seq(m, {{top, "top"}}), (Lines{"top WM_GETMINMAXINFO", "top WM_NCCREATE", "top WM_NCCALCSIZE", "top WM_CREATE"}));
  EXPECT_EQ(GetWindowLongW(top, GWL_STYLE), LONG(WS_CAPTION | WS_CLIPSIBLINGS));
  EXPECT_EQ(GetWindowLongW(top, GWL_EXSTYLE), LONG(WS_EX_WINDOWEDGE));
  m.ClearMessages();
  HWND child = Make(WS_CHILD, top, 1, 2, 30, 40);
  EXPECT_EQ(Seq(m, {{top, "top"}, {child, "child"}}),
            (Lines{"child WM_NCCREATE", "child WM_NCCALCSIZE", "child WM_CREATE", "child WM_SIZE", "child WM_MOVE",
                   "top WM_PARENTNOTIFY"}));
  for (const auto& r : m.messages) EXPECT_TRUE(r.fromSystem);

  // Subclassed after creation: the subclass sees the overlapped window's deferred size and place.
  g_seen.clear();
  SetWindowLongPtrW(top, GWLP_WNDPROC, LONG_PTR(Recording));
  EXPECT_TRUE(g_seen.empty());
  m.ClearMessages();
  ShowWindow(top, SW_SHOW);
  Lines shown;
  for (const std::string& line : Seq(m, {{top, "top"}}))
    if (line.find("ACTIVATE") == std::string::npos && line != "top WM_SETFOCUS") shown.push_back(line);
  EXPECT_EQ(shown, (Lines{"top WM_SHOWWINDOW", "top WM_WINDOWPOSCHANGING", "top WM_WINDOWPOSCHANGED", "top WM_SIZE",
                          "top WM_MOVE"}));
  EXPECT_EQ(GetFocus(), top);  // shown and activated: DefWindowProcW gives it the focus
}

TEST(WinsimWindows, UseDefaultGivesOverlappedWindowsTheDefaultPlaceAndChildrenZero) {
  Machine m;
  Session s(m);
  RegisterPlain();
  HWND top = Make(0, nullptr, CW_USEDEFAULT, 5, CW_USEDEFAULT, 7);
  EXPECT_EQ(S(WindowRect(top)), "(0,0)-(768,576)");
  HWND child = Make(WS_CHILD, top, CW_USEDEFAULT, 5, CW_USEDEFAULT, 7);
  EXPECT_EQ(S(Client(child)), "(0,0)-(0,0)");
  EXPECT_EQ(CreateWindowExW(0, L"Plain", L"", WS_CHILD, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_TLW_WITH_WSCHILD));
  EXPECT_EQ(CreateWindowExW(0, L"NoSuchClass", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_CANNOT_FIND_WND_CLASS));
}

// The client area is the window rectangle less the frame of the styles (classic metrics).
TEST(WinsimWindows, ClientAreaIsTheWindowLessTheFrame) {
  struct Row {
    DWORD style, ex;
    int left, top, right, bottom;
  } rows[] = {
      {WS_CHILD, 0, 0, 0, 0, 0},
      {WS_CHILD | WS_BORDER, 0, 1, 1, 1, 1},
      {WS_CHILD | WS_DLGFRAME, 0, 3, 3, 3, 3},
      {WS_CHILD | WS_CAPTION, 0, 3, 22, 3, 3},
      {WS_CHILD | WS_THICKFRAME, 0, 3, 3, 3, 3},
      {WS_CHILD | WS_THICKFRAME | WS_BORDER, 0, 4, 4, 4, 4},
      {WS_CHILD | WS_CAPTION | WS_THICKFRAME, 0, 4, 23, 4, 4},
      {WS_CHILD, WS_EX_CLIENTEDGE, 2, 2, 2, 2},
      {WS_CHILD, WS_EX_DLGMODALFRAME, 3, 3, 3, 3},
      {WS_CHILD, WS_EX_STATICEDGE, 1, 1, 1, 1},
      {WS_CHILD | WS_VSCROLL, 0, 0, 0, 17, 0},
      {WS_CHILD | WS_HSCROLL, 0, 0, 0, 0, 17},
      {WS_CHILD | WS_CAPTION, WS_EX_TOOLWINDOW, 3, 19, 3, 3},
      {WS_CHILD | WS_THICKFRAME, WS_EX_CLIENTEDGE, 5, 5, 5, 5},
      {0, 0, 3, 22, 3, 3},
      {WS_OVERLAPPEDWINDOW, 0, 4, 23, 4, 4},
      {0, WS_EX_CLIENTEDGE, 5, 24, 5, 5},
  };
  Machine m;
  Session s(m);
  RegisterPlain();
  HWND parent = Make(WS_POPUP, nullptr, 0, 0, 500, 500);
  for (const Row& r : rows) {
    SCOPED_TRACE(::testing::Message() << std::hex << "style " << r.style << " ex " << r.ex);
    HWND h = Make(r.style, (r.style & WS_CHILD) ? parent : nullptr, 10, 10, 100, 100, r.ex);
    RECT w = WindowRect(h), c = Client(h);
    POINT o{0, 0};
    ClientToScreen(h, &o);
    EXPECT_EQ(o.x - w.left, r.left);
    EXPECT_EQ(o.y - w.top, r.top);
    EXPECT_EQ(w.right - o.x - c.right, r.right);
    EXPECT_EQ(w.bottom - o.y - c.bottom, r.bottom);
  }
  // A frame larger than the window leaves an empty client area, never a negative one.
  HWND tiny = Make(WS_CHILD | WS_CAPTION, parent, 0, 0, 5, 5);
  EXPECT_EQ(S(Client(tiny)), "(0,0)-(0,0)");
}

// A style change alone does not move the client area; a size change or SWP_FRAMECHANGED does.
// Windows keeps WS_EX_WINDOWEDGE in step with the frame and WS_CLIPSIBLINGS on top-level windows.
TEST(WinsimWindows, StyleChangesAndTheFrame) {
  Machine m;
  Session s(m);
  RegisterPlain();
  HWND parent = Make(WS_POPUP, nullptr, 0, 0, 500, 500);
  HWND child = Make(WS_CHILD, parent, 0, 0, 100, 50);
  m.ClearMessages();
  SetWindowLongW(child, GWL_EXSTYLE, WS_EX_DLGMODALFRAME);
  EXPECT_EQ(Seq(m, {{child, "child"}}), (Lines{"child WM_STYLECHANGING", "child WM_STYLECHANGED"}));
  EXPECT_EQ(GetWindowLongW(child, GWL_EXSTYLE), LONG(WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE));
  EXPECT_EQ(S(Client(child)), "(0,0)-(100,50)");
  SetWindowPos(child, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
  EXPECT_EQ(S(Client(child)), "(0,0)-(94,44)");
  SetWindowLongW(child, GWL_EXSTYLE, 0);
  EXPECT_EQ(GetWindowLongW(child, GWL_EXSTYLE), 0);
  MoveWindow(child, 0, 0, 100, 60, TRUE);
  EXPECT_EQ(S(Client(child)), "(0,0)-(100,60)");
  SetWindowLongW(parent, GWL_STYLE, WS_POPUP);
  EXPECT_EQ(GetWindowLongW(parent, GWL_STYLE), LONG(WS_POPUP | WS_CLIPSIBLINGS));
  // The window procedure does not fit the 32-bit long of a 64-bit process.
  SetLastError(0);
  EXPECT_EQ(GetWindowLongW(child, GWL_WNDPROC), 0);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_INDEX));
}

// MoveWindow of a sizable top-level window: the size is clamped to the minimum tracking size
// that WM_GETMINMAXINFO gives; a child asks nothing and is not clamped. Hidden windows alike.
TEST(WinsimWindows, MoveWindowSequenceAndMinimumSize) {
  struct Row {
    const char* name;
    DWORD style;
    bool child;
    Lines expected;
    const char* rect;
  } rows[] = {
      {"sizable top-level", WS_THICKFRAME, false,
       {"w WM_WINDOWPOSCHANGING", "w WM_GETMINMAXINFO", "w WM_NCCALCSIZE", "w WM_WINDOWPOSCHANGED", "w WM_MOVE",
        "w WM_SIZE"},
       "(100,100)-(212,127)"},
      {"child", WS_CHILD | WS_BORDER, true,
       {"w WM_WINDOWPOSCHANGING", "w WM_NCCALCSIZE", "w WM_WINDOWPOSCHANGED", "w WM_MOVE", "w WM_SIZE"},
       "(100,100)-(150,120)"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Machine m;
    Session s(m);
    RegisterPlain();
    HWND parent = Make(WS_POPUP, nullptr, 0, 0, 600, 600);
    HWND w = Make(r.style, r.child ? parent : nullptr, 10, 10, 300, 300);
    m.ClearMessages();
    ASSERT_TRUE(MoveWindow(w, 100, 100, 50, 20, TRUE));
    EXPECT_EQ(Seq(m, {{w, "w"}}), r.expected);
    EXPECT_EQ(S(WindowRect(w)), r.rect);
    // Moving to where it is changes nothing: no WM_WINDOWPOSCHANGED, no WM_MOVE, no WM_SIZE.
    RECT before = WindowRect(w);
    POINT at{before.left, before.top};
    if (r.child) ScreenToClient(parent, &at);
    m.ClearMessages();
    MoveWindow(w, at.x, at.y, before.right - before.left, before.bottom - before.top, TRUE);
    for (const std::string& line : Seq(m, {{w, "w"}})) EXPECT_TRUE(line == "w WM_WINDOWPOSCHANGING" || line == "w WM_GETMINMAXINFO") << line;
  }
}

// WM_MOVE carries the client area's top-left (parent's client coordinates for a child, as signed
// words), WM_SIZE its size; a child follows its parent on the screen.
TEST(WinsimWindows, MoveAndSizeWordsAndChildrenFollowTheirParent) {
  Machine m;
  Session s(m);
  RegisterPlain();
  HWND top = Make(WS_POPUP | WS_BORDER, nullptr, 0, 0, 400, 400);
  HWND child = Make(WS_CHILD | WS_BORDER, top, 5, 5, 50, 50);
  m.ClearMessages();
  MoveWindow(child, -20, 7, 60, 30, TRUE);
  std::vector<winsim::MessageRecord> got;
  for (const auto& r : m.messages)
    if (r.hwnd == uint64_t(uintptr_t(child)) && (r.msg == WM_MOVE || r.msg == WM_SIZE)) got.push_back(r);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(short(LOWORD(got[0].lParam)), -19);
  EXPECT_EQ(HIWORD(got[0].lParam), 8);
  EXPECT_EQ(got[1].wParam, uint64_t(SIZE_RESTORED));
  EXPECT_EQ(got[1].lParam, MAKELPARAM(58, 28));
  MoveWindow(top, 100, 200, 400, 400, TRUE);
  EXPECT_EQ(S(WindowRect(child)), "(81,208)-(141,238)");
  POINT p{81, 208};
  ScreenToClient(top, &p);
  EXPECT_EQ(p.x, -20);
  EXPECT_EQ(p.y, 7);
}

// SW_SHOW leaves a minimised window minimised; SW_SHOWNORMAL restores it to its rectangle.
TEST(WinsimWindows, ShowOnAMinimisedWindow) {
  Machine m;
  Session s(m);
  RegisterPlain();
  HWND w = Make(WS_OVERLAPPEDWINDOW, nullptr, 50, 60, 300, 200);
  EXPECT_FALSE(ShowWindow(w, SW_SHOWNORMAL));
  m.ClearMessages();
  EXPECT_TRUE(ShowWindow(w, SW_MINIMIZE));
  EXPECT_TRUE(IsIconic(w));
  EXPECT_EQ(S(Client(w)), "(0,0)-(0,0)");
  bool minimizedSize = false;
  for (const auto& r : m.messages)
    if (r.msg == WM_SIZE) minimizedSize = r.wParam == SIZE_MINIMIZED && r.lParam == 0;
  EXPECT_TRUE(minimizedSize);
  m.ClearMessages();
  EXPECT_TRUE(ShowWindow(w, SW_SHOW));
  EXPECT_TRUE(IsIconic(w));
  EXPECT_TRUE(Seq(m, {{w, "w"}}).empty());
  EXPECT_TRUE(ShowWindow(w, SW_SHOWNORMAL));
  EXPECT_FALSE(IsIconic(w));
  EXPECT_EQ(S(WindowRect(w)), "(50,60)-(350,260)");
  EXPECT_EQ(S(Client(w)), "(0,0)-(292,173)");
  EXPECT_EQ(ShowWindow(w, SW_HIDE), TRUE);
  EXPECT_EQ(ShowWindow(w, SW_HIDE), FALSE);
}

TEST(WinsimWindows, VisibilityAndParentsThroughTheTree) {
  Machine m;
  Session s(m);
  RegisterPlain();
  HWND top = Make(WS_VISIBLE);
  HWND child = Make(WS_CHILD | WS_VISIBLE, top);
  HWND grandchild = Make(WS_CHILD | WS_VISIBLE, child);
  HWND popup = Make(WS_POPUP, grandchild);
  HWND owned = Make(0, grandchild);
  EXPECT_TRUE(IsWindowVisible(grandchild));
  ShowWindow(child, SW_HIDE);
  EXPECT_FALSE(IsWindowVisible(grandchild));
  EXPECT_EQ(GetWindowLongW(grandchild, GWL_STYLE) & WS_VISIBLE, LONG(WS_VISIBLE));
  ShowWindow(child, SW_SHOW);
  ShowWindow(top, SW_HIDE);
  EXPECT_FALSE(IsWindowVisible(child));
  // A child's parent; a pop-up's owner (always the top-level window); an overlapped window none.
  EXPECT_EQ(GetParent(grandchild), child);
  EXPECT_EQ(GetParent(popup), top);
  EXPECT_EQ(GetParent(owned), nullptr);
  EXPECT_EQ(GetWindow(owned, GW_OWNER), top);
  EXPECT_EQ(GetParent(top), nullptr);
}

// Every descendant, depth-first in creation order; windows destroyed meanwhile are skipped; FALSE stops.
TEST(WinsimWindows, EnumChildWindowsIsDepthFirst) {
  Machine m;
  Session s(m);
  RegisterPlain();
  HWND top = Make(0);
  HWND a = Make(WS_CHILD, top), a1 = Make(WS_CHILD, a), a2 = Make(WS_CHILD, a), b = Make(WS_CHILD, top);
  HWND b1 = Make(WS_CHILD, b);
  struct Walk {
    std::vector<HWND> seen;
    HWND destroyAt = nullptr, victim = nullptr, stopAt = nullptr;
  };
  auto proc = [](HWND h, LPARAM lp) -> BOOL {
    auto* walk = reinterpret_cast<Walk*>(lp);
    walk->seen.push_back(h);
    if (h == walk->destroyAt) DestroyWindow(walk->victim);
    return h != walk->stopAt;
  };
  Walk all;
  EnumChildWindows(top, proc, LPARAM(&all));
  EXPECT_EQ(all.seen, (std::vector<HWND>{a, a1, a2, b, b1}));
  Walk stopped;
  stopped.stopAt = a1;
  EnumChildWindows(top, proc, LPARAM(&stopped));
  EXPECT_EQ(stopped.seen, (std::vector<HWND>{a, a1}));
  Walk destroying;
  destroying.destroyAt = a1;
  destroying.victim = a;
  EnumChildWindows(top, proc, LPARAM(&destroying));
  EXPECT_EQ(destroying.seen, (std::vector<HWND>{a, a1, b, b1}));
  EXPECT_EQ(GetWindow(top, GW_CHILD), b);
}

// WM_DESTROY to the window, then its children, parent first; WM_NCDESTROY to the children first
// and the window last. Owned windows go before their owner.
TEST(WinsimWindows, DestroyWindowOrder) {
  Machine m;
  Session s(m);
  RegisterPlain();
  HWND top = Make(0);
  HWND a = Make(WS_CHILD, top), a1 = Make(WS_CHILD, a), b = Make(WS_CHILD, top);
  HWND owned = Make(WS_POPUP, top);
  std::map<HWND, std::string> roles{{top, "top"}, {a, "a"}, {a1, "a1"}, {b, "b"}, {owned, "owned"}};
  m.ClearMessages();
  ASSERT_TRUE(DestroyWindow(top));
  const Lines expected = {"owned WM_DESTROY", "owned WM_NCDESTROY", "top WM_DESTROY", "a WM_DESTROY",
                          "a1 WM_DESTROY",    "b WM_DESTROY",       "a1 WM_NCDESTROY", "a WM_NCDESTROY",
                          "b WM_NCDESTROY",   "top WM_NCDESTROY"};
  EXPECT_EQ(Seq(m, roles), expected);
  for (HWND h : {top, a, a1, b, owned}) EXPECT_FALSE(IsWindow(h));
}

// After its WM_NCDESTROY a window gets nothing: a message posted before is dropped, its handle is
// invalid. A window destroyed again inside its own WM_DESTROY gets each message once.
TEST(WinsimWindows, NothingAfterNcDestroy) {
  Machine m;
  Session s(m);
  WNDCLASSW wc{};
  wc.lpszClassName = L"Again";
  wc.lpfnWndProc = [](HWND h, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
    if (msg == WM_DESTROY) {
      EXPECT_TRUE(DestroyWindow(h));
    }
    return DefWindowProcW(h, msg, wp, lp);
  };
  ASSERT_NE(RegisterClassW(&wc), 0);
  HWND w = CreateWindowExW(0, L"Again", L"", WS_VISIBLE, 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
  SetFocus(w);
  PostMessageW(w, WM_APP, 0, 0);
  m.ClearMessages();
  DestroyWindow(w);
  Lines seen = Seq(m, {{w, "w"}});
  EXPECT_EQ(std::count(seen.begin(), seen.end(), "w WM_DESTROY"), 1);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), "w WM_NCDESTROY"), 1);
  EXPECT_EQ(seen.back(), "w WM_NCDESTROY");
  EXPECT_EQ(GetFocus(), nullptr);
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  m.ClearMessages();
  EXPECT_EQ(DispatchMessageW(&msg), 0);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_TRUE(m.messages.empty());
  EXPECT_EQ(SendMessageW(w, WM_APP, 0, 0), 0);
  EXPECT_FALSE(DestroyWindow(w));
}

// DefWindowProcW: WM_CLOSE destroys the window, SC_CLOSE sends WM_CLOSE.
TEST(WinsimWindows, DefaultCloseHandling) {
  for (UINT msg : {UINT(WM_CLOSE), UINT(WM_SYSCOMMAND)}) {
    SCOPED_TRACE(Name(msg));
    Machine m;
    Session s(m);
    RegisterPlain();
    HWND w = Make(0);
    m.ClearMessages();
    SendMessageW(w, msg, msg == WM_SYSCOMMAND ? SC_CLOSE : 0, 0);
    EXPECT_FALSE(IsWindow(w));
    Lines seen = Seq(m, {{w, "w"}});
    Lines expected = {"w WM_CLOSE", "w WM_DESTROY", "w WM_NCDESTROY"};
    if (msg == WM_SYSCOMMAND) expected.insert(expected.begin(), "w WM_SYSCOMMAND");
    EXPECT_EQ(seen, expected);
  }
}

// What winsim sends itself takes its own path: a program whose SendMessageW always fails still
// has its windows' WM_DESTROY and WM_NCDESTROY, and they are no calls of the program.
TEST(WinsimWindows, SystemMessagesDoNotGoThroughSendMessage) {
  Machine m;
  m.Fail("SendMessageW", ERROR_ACCESS_DENIED);
  Session s(m);
  RegisterPlain();
  HWND top = Make(0);
  HWND child = Make(WS_CHILD, top);
  m.ClearMessages();
  size_t callsBefore = m.calls.size();
  ASSERT_TRUE(DestroyWindow(top));
  EXPECT_EQ(Seq(m, {{top, "top"}, {child, "child"}}),
            (Lines{"top WM_DESTROY", "child WM_DESTROY", "child WM_NCDESTROY", "top WM_NCDESTROY"}));
  EXPECT_EQ(m.calls.size(), callsBefore + 1);  // DestroyWindow itself
  EXPECT_TRUE(m.Calls("SendMessageW").empty());
  EXPECT_EQ(SendMessageW(top, WM_APP, 0, 0), 0);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
}

TEST(WinsimWindows, TextThroughTheWindowsMessages) {
  Machine m;
  Session s(m);
  RegisterPlain();
  HWND w = Make(0);
  g_seen.clear();
  SetWindowLongPtrW(w, GWLP_WNDPROC, LONG_PTR(Recording));
  EXPECT_TRUE(SetWindowTextW(w, L"abcdef"));
  EXPECT_EQ(GetWindowTextLengthW(w), 6);
  WCHAR buf[8] = L"xxxxxxx";
  EXPECT_EQ(GetWindowTextW(w, buf, 3), 2);
  EXPECT_EQ(std::wstring(buf), L"ab");
  EXPECT_EQ(GetWindowTextW(w, buf, 0), 0);
  EXPECT_EQ(SendMessageW(w, WM_GETTEXT, 8, LPARAM(buf)), 6);
  std::vector<UINT> msgs;
  for (auto& [h, msg] : g_seen) msgs.push_back(msg);
  EXPECT_EQ(msgs, (std::vector<UINT>{WM_SETTEXT, WM_GETTEXTLENGTH, WM_GETTEXT, WM_GETTEXT}));
  EXPECT_TRUE(SetWindowTextW(w, nullptr));
  EXPECT_EQ(GetWindowTextLengthW(w), 0);
}

TEST(WinsimWindows, FocusMovesAndLeavesHiddenWindows) {
  Machine m;
  Session s(m);
  RegisterPlain();
  HWND top = Make(WS_VISIBLE);
  HWND a = Make(WS_CHILD | WS_VISIBLE, top), b = Make(WS_CHILD | WS_VISIBLE, top);
  SetFocus(a);
  m.ClearMessages();
  EXPECT_EQ(SetFocus(b), a);
  EXPECT_EQ(Seq(m, {{a, "a"}, {b, "b"}}), (Lines{"a WM_KILLFOCUS", "b WM_SETFOCUS"}));
  ShowWindow(b, SW_HIDE);
  EXPECT_EQ(GetFocus(), top);
  SetFocus(a);
  EnableWindow(a, FALSE);
  EXPECT_EQ(GetFocus(), nullptr);
  EXPECT_FALSE(IsWindowEnabled(a));
  EXPECT_TRUE(EnableWindow(a, TRUE));  // it was disabled
}

// The record of NONCLIENTMETRICSW: Vista and later take it with and without iPaddedBorderWidth;
// earlier Windows only without it.
TEST(WinsimWindows, NonClientMetricsRecordSize) {
  struct Row {
    DWORD major;
    UINT size;
    bool ok;
  } rows[] = {{6, sizeof(NONCLIENTMETRICSW), true},
              {6, sizeof(NONCLIENTMETRICSW) - sizeof(int), true},
              {5, sizeof(NONCLIENTMETRICSW), false},
              {5, sizeof(NONCLIENTMETRICSW) - sizeof(int), true},
              {6, 100, false}};
  for (const Row& r : rows) {
    SCOPED_TRACE(::testing::Message() << r.major << " " << r.size);
    Machine m;
    m.SetVersion(r.major, 1);
    Session s(m);
    NONCLIENTMETRICSW ncm{};
    ncm.cbSize = r.size;
    EXPECT_EQ(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, 0, &ncm, 0), r.ok ? TRUE : FALSE);
    if (r.ok) {
      EXPECT_LT(ncm.lfMessageFont.lfHeight, 0);
    } else {
      EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    }
  }
}

TEST(WinsimWindows, SystemValues) {
  Machine m;
  m.serverR2 = 1;
  Session s(m);
  EXPECT_NE(GetSysColor(COLOR_WINDOW), GetSysColor(COLOR_BTNFACE));
  EXPECT_EQ(GetSysColor(COLOR_BTNTEXT), 0u);
  EXPECT_EQ(GetSystemMetrics(SM_SERVERR2), 1);
  EXPECT_EQ(GetSystemMetrics(SM_CYCAPTION), 19);
  HMODULE self = GetModuleHandleW(nullptr);
  EXPECT_NE(self, nullptr);
  EXPECT_NE(self, GetModuleHandleW(L"user32.dll"));
}

// A message box runs a loop of its own: a WM_QUIT that waits, or that a message it dispatches
// posts, ends the box before the user has read it, and stays in the queue for the program.
TEST(WinsimWindows, MessageBoxEndsAtOnceOnAQuitAndLeavesIt) {
  struct Row {
    const char* name;
    bool quitWaits, messageQueued;
    bool endedByQuit;
  } rows[] = {
      {"nothing waits", false, false, false},
      {"a quit waits", true, false, true},
      {"a queued message posts the quit", false, true, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Machine m;
    Session s(m);
    WNDCLASSW wc{};
    wc.lpfnWndProc = [](HWND h, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
      if (msg == WM_APP) PostQuitMessage(int(wp));
      return DefWindowProcW(h, msg, wp, lp);
    };
    wc.lpszClassName = L"Quitter";
    ASSERT_NE(RegisterClassW(&wc), 0);
    HWND w = CreateWindowExW(0, L"Quitter", L"", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    if (row.quitWaits) PostQuitMessage(3);
    if (row.messageQueued) PostMessageW(w, WM_APP, 3, 0);

    EXPECT_EQ(MessageBoxW(nullptr, L"text", L"Error", MB_ICONERROR), row.endedByQuit ? 0 : IDOK);
    ASSERT_EQ(m.messageBoxes.size(), 1u);
    EXPECT_EQ(m.messageBoxes[0].endedByQuit, row.endedByQuit);
    MSG msg{};
    EXPECT_EQ(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) != FALSE, row.endedByQuit);
    if (row.endedByQuit) {
      EXPECT_EQ(msg.message, UINT(WM_QUIT));
      EXPECT_EQ(msg.wParam, WPARAM(3));
    }
  }
}

// ---- BUTTON ----

namespace {

struct Clicks {
  int commands = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  bool destroyButton = false, destroySelf = false;
};
Clicks g_clicks;

LRESULT CALLBACK ParentProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_COMMAND) {
    ++g_clicks.commands;
    g_clicks.wParam = wp;
    g_clicks.lParam = lp;
    if (g_clicks.destroyButton) DestroyWindow(HWND(lp));
    if (g_clicks.destroySelf) DestroyWindow(h);
    return 0;
  }
  return DefWindowProcW(h, msg, wp, lp);
}

HWND Parent() {
  WNDCLASSW wc{};
  wc.lpszClassName = L"Parent";
  wc.lpfnWndProc = ParentProc;
  RegisterClassW(&wc);
  g_clicks = Clicks{};
  return CreateWindowExW(0, L"Parent", L"", WS_VISIBLE, 0, 0, 400, 300, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace

TEST(WinsimButton, ClickByMessageAndByMouse) {
  Machine m;
  Session s(m);
  HWND parent = Parent();
  HWND b = CreateWindowExW(0, L"BUTTON", L"OK", WS_CHILD | WS_VISIBLE, 0, 0, 40, 20, parent, HMENU(7), nullptr, nullptr);
  m.ClearMessages();
  SendMessageW(b, BM_CLICK, 0, 0);
  EXPECT_EQ(Seq(m, {{b, "b"}, {parent, "parent"}}),
            (Lines{"b BM_CLICK", "b WM_LBUTTONDOWN", "parent WM_KILLFOCUS", "b WM_SETFOCUS", "b BM_SETSTATE",
                   "b WM_LBUTTONUP", "b BM_SETSTATE", "b WM_CAPTURECHANGED", "parent WM_COMMAND"}));
  EXPECT_EQ(g_clicks.wParam, MAKEWPARAM(7, BN_CLICKED));
  EXPECT_EQ(g_clicks.lParam, LPARAM(b));
  // Posted and dispatched as the mouse would; released outside the button: no click.
  struct Row {
    LPARAM down, up;
    int clicks;
  } rows[] = {{MAKELPARAM(5, 5), MAKELPARAM(39, 19), 1}, {MAKELPARAM(5, 5), MAKELPARAM(40, 5), 0},
              {MAKELPARAM(5, 5), MAKELPARAM(-1, 5), 0}};
  for (const Row& r : rows) {
    g_clicks.commands = 0;
    PostMessageW(b, WM_LBUTTONDOWN, MK_LBUTTON, r.down);
    PostMessageW(b, WM_LBUTTONUP, 0, r.up);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) && msg.message != WM_PAINT) DispatchMessageW(&msg);
    EXPECT_EQ(g_clicks.commands, r.clicks);
  }
  // A button of no size has no point to click.
  MoveWindow(b, 0, 0, 0, 0, TRUE);
  g_clicks.commands = 0;
  SendMessageW(b, BM_CLICK, 0, 0);
  EXPECT_EQ(g_clicks.commands, 0);
}

// The parent destroys the button, or itself with it, inside the button's WM_COMMAND (ASan run).
TEST(WinsimButton, SurvivesItsDestructionDuringTheCommand) {
  for (int self = 0; self < 2; ++self) {
    Machine m;
    Session s(m);
    HWND parent = Parent();
    HWND b = CreateWindowExW(0, L"BUTTON", L"", WS_CHILD, 0, 0, 40, 20, parent, nullptr, nullptr, nullptr);
    g_clicks.destroyButton = !self;
    g_clicks.destroySelf = self;
    SendMessageW(b, BM_CLICK, 0, 0);
    EXPECT_EQ(g_clicks.commands, 1);
    EXPECT_FALSE(IsWindow(b));
    EXPECT_EQ(IsWindow(parent), self ? FALSE : TRUE);
  }
}

TEST(WinsimButton, KeepsItsFont) {
  Machine m;
  Session s(m);
  HWND parent = Parent();
  HWND b = CreateWindowExW(0, L"BUTTON", L"", WS_CHILD, 0, 0, 40, 20, parent, nullptr, nullptr, nullptr);
  HFONT f = HFONT(GetStockObject(DEFAULT_GUI_FONT));
  EXPECT_EQ(SendMessageW(b, WM_GETFONT, 0, 0), 0);
  SendMessageW(b, WM_SETFONT, WPARAM(f), 0);
  EXPECT_EQ(SendMessageW(b, WM_GETFONT, 0, 0), LRESULT(f));
}

// ---- LISTBOX ----

namespace {

// A list of the installer's kind: hidden, notifying, line height 10.
HWND List(HWND parent, DWORD extra = 0) {
  HWND lb = CreateWindowExW(WS_EX_CLIENTEDGE, L"LISTBOX", L"", WS_CHILD | WS_VSCROLL | LBS_NOTIFY | LBS_HASSTRINGS |
                                                                   LBS_NOINTEGRALHEIGHT | extra,
                            0, 0, 104, 104, parent, HMENU(9), nullptr, nullptr);
  SendMessageW(lb, LB_SETITEMHEIGHT, 0, 10);
  return lb;
}

std::vector<WORD> Codes(const Machine& m, HWND parent) {
  std::vector<WORD> out;
  for (const auto& r : m.messages)
    if (r.hwnd == uint64_t(uintptr_t(parent)) && r.msg == WM_COMMAND) out.push_back(HIWORD(r.wParam));
  return out;
}

}  // namespace

TEST(WinsimListBox, LinesAndTheirErrors) {
  Machine m;
  Session s(m);
  HWND lb = List(Parent());
  EXPECT_EQ(SendMessageW(lb, LB_GETCURSEL, 0, 0), LB_ERR);
  EXPECT_EQ(SendMessageW(lb, LB_ADDSTRING, 0, LPARAM(L"b")), 0);
  EXPECT_EQ(SendMessageW(lb, LB_ADDSTRING, 0, LPARAM(L"")), 1);
  EXPECT_EQ(SendMessageW(lb, LB_ADDSTRING, 0, LPARAM(L"a")), 2);  // not sorted
  WCHAR buf[8] = L"xxxxxxx";
  struct Row {
    UINT msg;
    WPARAM index;
    LRESULT result;
    const wchar_t* text;
  } rows[] = {{LB_GETTEXTLEN, 0, 1, nullptr}, {LB_GETTEXTLEN, 3, LB_ERR, nullptr}, {LB_GETTEXTLEN, WPARAM(-1), LB_ERR, nullptr},
              {LB_GETTEXT, 2, 1, L"a"},       {LB_GETTEXT, 1, 0, L""},            {LB_GETTEXT, 3, LB_ERR, nullptr},
              {LB_SETCURSEL, 3, LB_ERR, nullptr}, {LB_SETCURSEL, WPARAM(-1), LB_ERR, nullptr}};
  for (const Row& r : rows) {
    SCOPED_TRACE(::testing::Message() << std::hex << r.msg << " " << std::dec << LONG_PTR(r.index));
    EXPECT_EQ(SendMessageW(lb, r.msg, r.index, LPARAM(buf)), r.result);
    if (r.text) {
      EXPECT_EQ(std::wstring(buf), r.text);
    }
  }
  EXPECT_EQ(SendMessageW(lb, LB_GETCOUNT, 0, 0), 3);
  SendMessageW(lb, LB_RESETCONTENT, 0, 0);
  EXPECT_EQ(SendMessageW(lb, LB_GETCOUNT, 0, 0), 0);
}

// LB_SETCURSEL selects without a notification; a selection by the mouse selects at the button's
// going down and is reported when it comes up (also for the line already selected); a double
// click and the focus have codes of their own.
TEST(WinsimListBox, UserSelectionNotifiesTheParent) {
  Machine m;
  Session s(m);
  HWND parent = Parent();
  HWND lb = List(parent);
  for (int i = 0; i < 5; ++i) SendMessageW(lb, LB_ADDSTRING, 0, LPARAM(L"line"));
  m.ClearMessages();
  EXPECT_EQ(SendMessageW(lb, LB_SETCURSEL, 1, 0), 1);
  EXPECT_TRUE(Codes(m, parent).empty());
  SendMessageW(lb, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 25));
  EXPECT_EQ(SendMessageW(lb, LB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(Codes(m, parent), (std::vector<WORD>{LBN_SETFOCUS}));
  SendMessageW(lb, WM_LBUTTONUP, 0, MAKELPARAM(5, 25));
  SendMessageW(lb, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 25));
  SendMessageW(lb, WM_LBUTTONUP, 0, MAKELPARAM(5, 25));
  SendMessageW(lb, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 80));  // below the last line
  SendMessageW(lb, WM_LBUTTONUP, 0, MAKELPARAM(5, 80));
  SendMessageW(lb, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 5));
  SetFocus(parent);
  EXPECT_EQ(Codes(m, parent), (std::vector<WORD>{LBN_SETFOCUS, LBN_SELCHANGE, LBN_SELCHANGE, LBN_DBLCLK, LBN_KILLFOCUS}));
  EXPECT_EQ(SendMessageW(lb, LB_GETCURSEL, 0, 0), 2);
  for (const auto& r : m.messages)
    if (r.msg == WM_COMMAND) {
      EXPECT_EQ(LOWORD(r.wParam), 9);
    }
}

// The line height is the list's own: WM_SETFONT takes the font's cell; LB_SETITEMHEIGHT stores
// 1 to 255 and never resizes the window. The scroll bar shows while the lines overflow.
TEST(WinsimListBox, LineHeightAndScrollBar) {
  Machine m;
  Session s(m);
  HWND lb = List(Parent());
  LOGFONTW lf{};
  lf.lfHeight = 22;
  HFONT f = CreateFontIndirectW(&lf);
  SendMessageW(lb, WM_SETFONT, WPARAM(f), 0);
  EXPECT_EQ(SendMessageW(lb, LB_GETITEMHEIGHT, 0, 0), 22);
  EXPECT_EQ(SendMessageW(lb, WM_GETFONT, 0, 0), LRESULT(f));
  RECT before = WindowRect(lb);
  struct Row {
    LPARAM height;
    LRESULT result;
    LRESULT after;
  } rows[] = {{10, LB_OKAY, 10}, {255, LB_OKAY, 255}, {256, LB_ERR, 255}, {0x10010, LB_ERR, 255}, {0, LB_OKAY, 1}};
  for (const Row& r : rows) {
    EXPECT_EQ(SendMessageW(lb, LB_SETITEMHEIGHT, 0, r.height), r.result) << r.height;
    EXPECT_EQ(SendMessageW(lb, LB_GETITEMHEIGHT, 0, 0), r.after) << r.height;
  }
  EXPECT_EQ(S(WindowRect(lb)), S(before));
  SendMessageW(lb, LB_SETITEMHEIGHT, 0, 10);
  EXPECT_EQ(GetWindowLongW(lb, GWL_STYLE) & WS_VSCROLL, 0);
  EXPECT_EQ(S(Client(lb)), "(0,0)-(100,100)");
  for (int i = 0; i < 11; ++i) SendMessageW(lb, LB_ADDSTRING, 0, LPARAM(L"line"));
  EXPECT_EQ(GetWindowLongW(lb, GWL_STYLE) & WS_VSCROLL, LONG(WS_VSCROLL));
  EXPECT_EQ(S(Client(lb)), "(0,0)-(83,100)");
  SendMessageW(lb, LB_SETCURSEL, 10, 0);
  EXPECT_EQ(SendMessageW(lb, LB_GETTOPINDEX, 0, 0), 1);
  SendMessageW(lb, LB_RESETCONTENT, 0, 0);
  EXPECT_EQ(S(Client(lb)), "(0,0)-(100,100)");
  DeleteObject(f);
}

// The list box, too, may be destroyed by its parent while its notification is on the way.
TEST(WinsimListBox, SurvivesItsDestructionDuringTheNotification) {
  Machine m;
  Session s(m);
  HWND parent = Parent();
  HWND lb = List(parent);
  SendMessageW(lb, LB_ADDSTRING, 0, LPARAM(L"line"));
  SendMessageW(lb, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  g_clicks.destroyButton = true;
  SendMessageW(lb, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  EXPECT_FALSE(IsWindow(lb));
}
