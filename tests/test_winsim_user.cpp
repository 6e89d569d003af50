// winsim's simulated user: the machine's script of actions becomes the input that Windows would
// deliver when a program looks for a message. The programs here are small ones of the tests'
// own: a main window with push buttons and a list, pumped by GetMessageW or PeekMessageW.
#include <algorithm>
#include <map>
#include <set>

#include "support.h"

using winsim::Machine;
using winsim::Session;
using winsim::UserAction;

namespace {

using test::S;
using Lines = std::vector<std::string>;

enum Ids { kInstall = 1, kList = 2, kExit = 3, kHidden = 4, kDisabled = 5, kInner = 6, kFar = 7 };

// What the main window's procedure does besides passing messages on.
bool g_minimum = false;       // WM_GETMINMAXINFO: a minimum tracking size of 600x320
bool g_exitQuits = true;      // Exit: DestroyWindow of the main window
HWND g_main = nullptr;

LRESULT CALLBACK MainProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND: {
      std::wstring line = L"command " + std::to_wstring(LOWORD(wp)) + L" " + std::to_wstring(HIWORD(wp));
      OutputDebugStringW(line.c_str());
      if (LOWORD(wp) == kExit && g_exitQuits) DestroyWindow(h);
      return 0;
    }
    case WM_CLOSE:
      OutputDebugStringW(L"close");
      break;
    case WM_GETMINMAXINFO:
      if (g_minimum) {
        auto* mm = reinterpret_cast<MINMAXINFO*>(lp);
        mm->ptMinTrackSize = POINT{600, 320};
      }
      break;
    case WM_DESTROY:
      if (h == g_main) PostQuitMessage(0);
      break;
    default:
      break;
  }
  return DefWindowProcW(h, msg, wp, lp);
}

struct App {
  HWND main, install, list, exit, hidden, disabled, panel, inner, far;
};

HWND Child(const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int cx, int cy, HWND parent, int id) {
  return CreateWindowExW(0, cls, text, WS_CHILD | style, x, y, cx, cy, parent, HMENU(intptr_t(id)), nullptr, nullptr);
}

// The main window at (50, 50), 600x320: Install, a list of five lines, Exit, a hidden and a
// disabled button, a disabled panel with a button inside, and a button beyond the right edge.
App MakeApp(DWORD style = WS_OVERLAPPEDWINDOW, UINT classStyle = 0) {
  g_minimum = false;
  g_exitQuits = true;
  WNDCLASSW wc{};
  wc.style = classStyle;
  wc.lpfnWndProc = MainProc;
  wc.lpszClassName = L"UserMain";
  EXPECT_NE(RegisterClassW(&wc), 0);
  App a{};
  a.main = g_main = CreateWindowExW(0, L"UserMain", L"Main", style, 50, 50, 600, 320, nullptr, nullptr, nullptr, nullptr);
  a.install = Child(L"BUTTON", L"Install", WS_VISIBLE | BS_DEFPUSHBUTTON, 8, 8, 100, 25, a.main, kInstall);
  a.list = Child(L"LISTBOX", L"", WS_VISIBLE | WS_VSCROLL | LBS_NOTIFY, 8, 40, 300, 200, a.main, kList);
  a.exit = Child(L"BUTTON", L"Exit", WS_VISIBLE, 116, 8, 100, 25, a.main, kExit);
  a.hidden = Child(L"BUTTON", L"Hidden", 0, 224, 8, 100, 25, a.main, kHidden);
  a.disabled = Child(L"BUTTON", L"Disabled", WS_VISIBLE | WS_DISABLED, 332, 8, 100, 25, a.main, kDisabled);
  a.panel = Child(L"UserMain", L"panel", WS_VISIBLE | WS_DISABLED, 320, 40, 200, 100, a.main, 0);
  a.inner = Child(L"BUTTON", L"Inner", WS_VISIBLE, 10, 10, 80, 25, a.panel, kInner);
  a.far = Child(L"BUTTON", L"Far", WS_VISIBLE, 2000, 8, 80, 25, a.main, kFar);
  for (const wchar_t* line : {L"one", L"two", L"three", L"four", L"five"})
    SendMessageW(a.list, LB_ADDSTRING, 0, LPARAM(line));
  ShowWindow(a.main, SW_SHOWNORMAL);
  return a;
}

// The blocking loop, to the quit message.
void RunLoop() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// The pump of running work: what waits, and no more.
void Pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

std::string Name(UINT msg) {
  static const std::map<UINT, const char*> names = {
      {WM_MOUSEMOVE, "WM_MOUSEMOVE"}, {WM_LBUTTONDOWN, "WM_LBUTTONDOWN"}, {WM_LBUTTONUP, "WM_LBUTTONUP"},
      {WM_COMMAND, "WM_COMMAND"}, {WM_NCMOUSEMOVE, "WM_NCMOUSEMOVE"}, {WM_NCLBUTTONDOWN, "WM_NCLBUTTONDOWN"},
      {WM_NCLBUTTONUP, "WM_NCLBUTTONUP"}, {WM_SYSKEYDOWN, "WM_SYSKEYDOWN"}, {WM_SYSKEYUP, "WM_SYSKEYUP"},
      {WM_KEYUP, "WM_KEYUP"}, {WM_SYSCOMMAND, "WM_SYSCOMMAND"}, {WM_CLOSE, "WM_CLOSE"}, {WM_DESTROY, "WM_DESTROY"},
      {WM_ENTERSIZEMOVE, "WM_ENTERSIZEMOVE"}, {WM_EXITSIZEMOVE, "WM_EXITSIZEMOVE"}, {WM_SIZING, "WM_SIZING"},
      {WM_GETMINMAXINFO, "WM_GETMINMAXINFO"}, {WM_WINDOWPOSCHANGING, "WM_WINDOWPOSCHANGING"},
      {WM_WINDOWPOSCHANGED, "WM_WINDOWPOSCHANGED"}, {WM_NCCALCSIZE, "WM_NCCALCSIZE"}, {WM_SIZE, "WM_SIZE"},
      {WM_MOVE, "WM_MOVE"}};
  auto it = names.find(msg);
  return it != names.end() ? it->second : std::to_string(msg);
}

// The log as "role MESSAGE posted|sent" lines, for the windows given roles and the messages named.
Lines Log(const Machine& m, const std::map<HWND, std::string>& roles, const std::set<UINT>& only) {
  Lines out;
  for (const winsim::MessageRecord& r : m.messages) {
    auto it = roles.find(HWND(uintptr_t(r.hwnd)));
    if (it == roles.end() || !only.count(r.msg)) continue;
    out.push_back(it->second + " " + Name(r.msg) + (r.posted ? " posted" : " sent"));
  }
  return out;
}

const winsim::MessageRecord* Find(const Machine& m, HWND h, UINT msg) {
  for (const winsim::MessageRecord& r : m.messages)
    if (r.hwnd == uint64_t(uintptr_t(h)) && r.msg == msg) return &r;
  return nullptr;
}

}  // namespace

// A click is the pointer's move, the button going down and coming up, posted to the button as
// real input at the centre of its client area; the button tells its parent with WM_COMMAND.
TEST(SimulatedUser, ClickReachesTheParentAsBnClicked) {
  Machine m;
  Session s(m);
  App a = MakeApp();
  m.UserClicks("Install");
  m.UserClicks("Exit");
  m.ClearMessages();
  RunLoop();
  EXPECT_EQ(Log(m, {{a.main, "main"}, {a.install, "install"}, {a.exit, "exit"}},
                {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_COMMAND}),
            (Lines{"install WM_MOUSEMOVE posted", "install WM_LBUTTONDOWN posted", "install WM_LBUTTONUP posted",
                   "main WM_COMMAND sent", "exit WM_MOUSEMOVE posted", "exit WM_LBUTTONDOWN posted",
                   "exit WM_LBUTTONUP posted", "main WM_COMMAND sent"}));
  const winsim::MessageRecord* down = Find(m, a.install, WM_LBUTTONDOWN);
  ASSERT_NE(down, nullptr);
  EXPECT_TRUE(down->fromSystem);
  EXPECT_EQ(down->wParam, uint64_t(MK_LBUTTON));
  EXPECT_EQ(down->lParam, int64_t(MAKELPARAM(50, 12)));  // the centre of 100x25
  const winsim::MessageRecord* command = Find(m, a.main, WM_COMMAND);
  ASSERT_NE(command, nullptr);
  EXPECT_EQ(command->wParam, uint64_t(MAKEWPARAM(kInstall, BN_CLICKED)));
  EXPECT_EQ(command->lParam, int64_t(uintptr_t(a.install)));
  EXPECT_EQ(m.debugLines, (Lines{"command 1 0", "command 3 0"}));
  EXPECT_TRUE(m.script.empty());
  EXPECT_TRUE(m.missedActions.empty());
  EXPECT_FALSE(IsWindow(a.main));
}

// A button that the user cannot click (hidden, disabled, inside a disabled window, outside its
// window's area, or not there: the text must match exactly) is missed; the program goes on.
TEST(SimulatedUser, ClickOnWhatCannotBeClickedIsMissed) {
  const struct {
    const char* text;
    std::string missed;  // empty: the click reaches the button
    std::string command;
  } rows[] = {
      {"Install", "", "command 1 0"},
      {"Hidden", "click 'Hidden': no visible enabled button", ""},
      {"Disabled", "click 'Disabled': no visible enabled button", ""},
      {"Inner", "click 'Inner': no visible enabled button", ""},
      {"Far", "click 'Far': no visible enabled button", ""},
      {"Missing", "click 'Missing': no visible enabled button", ""},
      {"install", "click 'install': no visible enabled button", ""},
      {"Instal", "click 'Instal': no visible enabled button", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    Machine m;
    Session s(m);
    App a = MakeApp();
    m.UserClicks(row.text);
    m.UserClicks("Exit");
    RunLoop();
    Lines want;
    if (!row.command.empty()) want.push_back(row.command);
    want.push_back("command 3 0");  // and the program went on to the next action
    EXPECT_EQ(m.debugLines, want);
    EXPECT_EQ(m.missedActions, row.missed.empty() ? Lines{} : Lines{row.missed});
    EXPECT_FALSE(IsWindow(a.main));
  }
}

// PeekMessageW takes an action only when the user gave it while the program was busy; the next
// action without whileBusy waits for GetMessageW, and the ones behind it with it.
TEST(SimulatedUser, WhileBusyActionsAreTakenByPeekMessage) {
  const struct {
    std::vector<std::pair<std::string, bool>> script;  // button text, whileBusy
    Lines byPump;    // commands handled by the pump of running work
    size_t leftAfterPump;
  } rows[] = {
      {{{"Install", false}}, {}, 1},
      {{{"Install", true}}, {"command 1 0"}, 0},
      {{{"Install", true}, {"Install", false}}, {"command 1 0"}, 1},
      {{{"Install", true}, {"Install", true}}, {"command 1 0", "command 1 0"}, 0},
      {{{"Install", false}, {"Install", true}}, {}, 2},
      {{{"Hidden", true}, {"Install", true}}, {"command 1 0"}, 0},
  };
  for (const auto& row : rows) {
    Machine m;
    Session s(m);
    App a = MakeApp();
    for (const auto& [text, busy] : row.script) m.UserClicks(text).whileBusy = busy;
    Pump();
    EXPECT_EQ(m.debugLines, row.byPump);
    EXPECT_EQ(m.script.size(), row.leftAfterPump);
    // The rest goes to the blocking loop.
    m.UserClicks("Exit");
    RunLoop();
    EXPECT_FALSE(IsWindow(a.main));
    EXPECT_TRUE(m.script.empty());
  }
}

// A snapshot taken while busy is recorded at once and the pump goes on to the next busy action.
TEST(SimulatedUser, BusySnapshotIsRecordedAndThePumpGoesOn) {
  Machine m;
  Session s(m);
  App a = MakeApp();
  m.UserSnapshot("busy").whileBusy = true;
  m.UserClicks("Install").whileBusy = true;
  m.UserSnapshot("idle");
  Pump();
  ASSERT_EQ(m.snapshots.size(), 1u);
  EXPECT_EQ(m.snapshots[0].label, "busy");
  EXPECT_EQ(m.debugLines, (Lines{"command 1 0"}));
  ASSERT_EQ(m.script.size(), 1u);
  EXPECT_EQ(m.script[0].text, "idle");
  DestroyWindow(a.main);
}

// A program that waits for input when the script has run out is stopped with the reason; one
// without a visible window leaves the actions to the program whose window they are for.
TEST(SimulatedUser, ScriptRunningOutStopsTheProgram) {
  Machine m;
  m.UserClicks("Install");
  winsim::ProcessResult r = winsim::RunProcess(m, {}, [] {
    MakeApp();
    RunLoop();
  });
  EXPECT_EQ(r.stopped, "install: waits for input, and no user action is left");
  EXPECT_FALSE(r.returned);
  EXPECT_EQ(m.debugLines, (Lines{"command 1 0"}));
  EXPECT_TRUE(m.script.empty());

  Machine hidden;
  hidden.UserClicks("Install");
  r = winsim::RunProcess(hidden, {}, [] {
    App a = MakeApp();
    ShowWindow(a.main, SW_HIDE);
    RunLoop();
  });
  EXPECT_EQ(r.stopped, "install: waits for input, and the next user action (click 'Install') finds no visible "
                       "window of this program");
  ASSERT_EQ(hidden.script.size(), 1u);  // still there
  EXPECT_TRUE(hidden.debugLines.empty());
}

// The three ways of closing: each ends in WM_CLOSE and the window's destruction. The close box and
// the system menu need WS_SYSMENU (the close box a caption too) and an enabled Close command;
// Alt+F4 goes to the focus window and closes its top-level window even without a system menu.
TEST(SimulatedUser, CloseBoxSystemMenuAndAltF4) {
  const DWORD sys = WS_OVERLAPPEDWINDOW, plain = WS_OVERLAPPED | WS_CAPTION | WS_THICKFRAME;
  const DWORD popupSys = WS_POPUP | WS_BORDER | WS_SYSMENU;
  const std::set<UINT> watched = {WM_NCMOUSEMOVE, WM_NCLBUTTONDOWN, WM_NCLBUTTONUP, WM_SYSKEYDOWN, WM_SYSKEYUP,
                                  WM_KEYUP, WM_SYSCOMMAND, WM_CLOSE, WM_DESTROY};
  const struct {
    const char* name;
    UserAction::Kind kind;
    DWORD style;
    UINT classStyle;
    bool focusOnButton;
    Lines messages;       // of the main window and the Install button
    std::string missed;   // empty: closed
  } rows[] = {
      {"close box", UserAction::CloseBox, sys, 0, false,
       {"main WM_NCMOUSEMOVE posted", "main WM_NCLBUTTONDOWN posted", "main WM_NCLBUTTONUP posted",
        "main WM_SYSCOMMAND sent", "main WM_CLOSE sent", "main WM_DESTROY sent", "install WM_DESTROY sent"},
       ""},
      {"close box without system menu", UserAction::CloseBox, plain, 0, false, {}, "close box: the window has no close box"},
      {"close box without caption", UserAction::CloseBox, popupSys, 0, false, {}, "close box: the window has no close box"},
      {"close box greyed", UserAction::CloseBox, sys, CS_NOCLOSE, false, {}, "close box: the close box is greyed"},
      {"system menu", UserAction::SystemClose, sys, 0, false,
       {"main WM_SYSCOMMAND posted", "main WM_CLOSE sent", "main WM_DESTROY sent", "install WM_DESTROY sent"}, ""},
      {"system menu of a pop-up", UserAction::SystemClose, popupSys, 0, false,
       {"main WM_SYSCOMMAND posted", "main WM_CLOSE sent", "main WM_DESTROY sent", "install WM_DESTROY sent"}, ""},
      {"system menu absent", UserAction::SystemClose, plain, 0, false, {},
       "system menu close: the window has no system menu"},
      {"system menu greyed", UserAction::SystemClose, sys, CS_NOCLOSE, false, {},
       "system menu close: Close is greyed in the system menu"},
      {"Alt+F4", UserAction::AltF4, sys, 0, false,
       {"main WM_SYSKEYDOWN posted", "main WM_SYSKEYDOWN posted", "main WM_SYSCOMMAND sent", "main WM_CLOSE sent",
        "main WM_DESTROY sent", "install WM_DESTROY sent"},
       ""},
      {"Alt+F4 on a focused button", UserAction::AltF4, sys, 0, true,
       {"install WM_SYSKEYDOWN posted", "install WM_SYSKEYDOWN posted", "main WM_SYSCOMMAND sent",
        "main WM_CLOSE sent", "main WM_DESTROY sent", "install WM_DESTROY sent"},
       ""},
      {"Alt+F4 without system menu", UserAction::AltF4, plain, 0, false,
       {"main WM_SYSKEYDOWN posted", "main WM_SYSKEYDOWN posted", "main WM_SYSCOMMAND sent", "main WM_CLOSE sent",
        "main WM_DESTROY sent", "install WM_DESTROY sent"},
       ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Machine m;
    Session s(m);
    App a = MakeApp(row.style, row.classStyle);
    if (row.focusOnButton) SetFocus(a.install);
    UserAction action;
    action.kind = row.kind;
    m.script.push_back(action);
    m.UserClicks("Exit");  // when the close is ignored
    m.ClearMessages();
    RunLoop();
    EXPECT_FALSE(IsWindow(a.main));
    bool closed = row.missed.empty();
    if (closed) {
      EXPECT_EQ(Log(m, {{a.main, "main"}, {a.install, "install"}}, watched), row.messages);
      EXPECT_EQ(m.debugLines, (Lines{"close"}));
      EXPECT_EQ(m.script.size(), 1u);  // the Exit click was not needed
      EXPECT_TRUE(m.missedActions.empty());
    } else {
      EXPECT_EQ(m.missedActions, (Lines{row.missed}));
      EXPECT_EQ(m.debugLines, (Lines{"command 3 0"}));  // no WM_CLOSE; Exit ended it
      EXPECT_TRUE(m.script.empty());
    }
    const winsim::MessageRecord* sc = Find(m, a.main, WM_SYSCOMMAND);
    if (closed) {
      ASSERT_NE(sc, nullptr);
      EXPECT_EQ(sc->wParam & 0xFFF0, uint64_t(SC_CLOSE));
    }
  }
}

// The keys of Alt+F4 as a keyboard gives them: Alt down, F4 down with the context bit (Alt held),
// F4 up, Alt up, each a key message for TranslateMessage. Dispatched, the F4 closes the window and
// the ups after it find no window: they are dropped.
TEST(SimulatedUser, AltF4KeysAndTheirDropAfterTheClose) {
  Machine m;
  Session s(m);
  App a = MakeApp();
  Pump();  // the paints of the first show
  m.UserPressesAltF4();
  MSG msg;
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));  // not given while busy
  ASSERT_EQ(m.script.size(), 1u);

  ASSERT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
  std::vector<std::pair<UINT, LPARAM>> keys = {{msg.message, msg.lParam}};
  EXPECT_NE(TranslateMessage(&msg), FALSE);
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    EXPECT_NE(TranslateMessage(&msg), FALSE);
    keys.push_back({msg.message, msg.lParam});
  }
  const std::vector<std::pair<UINT, LPARAM>> want = {{WM_SYSKEYDOWN, 0x20380001},
                                                     {WM_SYSKEYDOWN, 0x203E0001},
                                                     {WM_SYSKEYUP, LPARAM(0xE03E0001u)},
                                                     {WM_KEYUP, LPARAM(0xC0380001u)}};
  EXPECT_EQ(keys, want);
  EXPECT_TRUE(IsWindow(a.main));  // nothing dispatched: nothing closed

  m.UserPressesAltF4();
  m.ClearMessages();
  RunLoop();
  EXPECT_FALSE(IsWindow(a.main));
  EXPECT_EQ(Log(m, {{a.main, "main"}}, {WM_SYSKEYDOWN, WM_SYSKEYUP, WM_KEYUP}),
            (Lines{"main WM_SYSKEYDOWN posted", "main WM_SYSKEYDOWN posted"}));
  int ups = 0;
  for (const winsim::CallRecord& c : m.Calls("DispatchMessageW"))
    if (c.args["Msg"] == WM_SYSKEYUP || c.args["Msg"] == WM_KEYUP) ++ups;
  EXPECT_EQ(ups, 2);  // dispatched, and dropped
}

// Resizing goes through the system's sizing loop started by the press on the sizing border: the
// size passes WM_GETMINMAXINFO (the program's minimum wins), WM_SIZE follows, the top-left stays.
TEST(SimulatedUser, ResizeGoesThroughTheMinimumTrackingSize) {
  const struct {
    int width, height;
    bool minimum;
    int wantWidth, wantHeight;
  } rows[] = {
      {500, 300, true, 600, 320}, {800, 500, true, 800, 500}, {700, 200, true, 700, 320},
      {500, 300, false, 500, 300}, {50, 10, false, 112, 27},  {5000, 5000, false, 1036, 780},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.width << "x" << row.height << (row.minimum ? " minimum" : ""));
    Machine m;
    Session s(m);
    App a = MakeApp();
    g_minimum = row.minimum;
    m.UserResizes(row.width, row.height);
    m.UserSnapshot("after");
    m.UserPressesAltF4();  // a small window may clip its buttons away
    m.ClearMessages();
    RunLoop();
    ASSERT_EQ(m.snapshots.size(), 1u);
    ASSERT_FALSE(m.snapshots[0].windows.empty());
    const winsim::WindowSnapshot& w = m.snapshots[0].windows[0].window;
    EXPECT_EQ(S(w.window), S(RECT{50, 50, 50 + row.wantWidth, 50 + row.wantHeight}));
    const winsim::MessageRecord* size = Find(m, a.main, WM_SIZE);
    if (row.wantWidth == 600 && row.wantHeight == 320) {
      EXPECT_EQ(size, nullptr);  // the size it had: nothing changes
    } else {
      ASSERT_NE(size, nullptr);
      EXPECT_EQ(size->lParam, int64_t(MAKELPARAM(row.wantWidth - 8, row.wantHeight - 27)));  // less the frame
    }
    EXPECT_TRUE(m.missedActions.empty());
  }
}

// The order of the sizing loop, as the window procedure sees it.
TEST(SimulatedUser, ResizeMessageSequence) {
  Machine m;
  Session s(m);
  App a = MakeApp();
  g_minimum = true;
  m.UserResizes(640, 400);
  m.UserClicks("Exit");
  m.ClearMessages();
  RunLoop();
  Lines seq = Log(m, {{a.main, "main"}},
                  {WM_NCLBUTTONDOWN, WM_SYSCOMMAND, WM_ENTERSIZEMOVE, WM_GETMINMAXINFO, WM_SIZING,
                   WM_WINDOWPOSCHANGING, WM_NCCALCSIZE, WM_WINDOWPOSCHANGED, WM_SIZE, WM_MOVE, WM_EXITSIZEMOVE});
  auto end = std::find(seq.begin(), seq.end(), "main WM_EXITSIZEMOVE sent");
  if (end != seq.end()) seq.erase(end + 1, seq.end());  // what Exit does after
  EXPECT_EQ(seq, (Lines{"main WM_NCLBUTTONDOWN posted", "main WM_SYSCOMMAND sent", "main WM_ENTERSIZEMOVE sent",
                        "main WM_GETMINMAXINFO sent", "main WM_SIZING sent", "main WM_WINDOWPOSCHANGING sent",
                        "main WM_GETMINMAXINFO sent", "main WM_NCCALCSIZE sent", "main WM_WINDOWPOSCHANGED sent",
                        "main WM_SIZE sent", "main WM_EXITSIZEMOVE sent"}));
  const winsim::MessageRecord* sc = Find(m, a.main, WM_SYSCOMMAND);
  ASSERT_NE(sc, nullptr);
  EXPECT_EQ(sc->wParam, uint64_t(SC_SIZE | WMSZ_BOTTOMRIGHT));
}

// Without a sizing border, or while maximised, the user cannot resize; a program that sends
// SC_SIZE itself, with no drag of the user, moves nothing.
TEST(SimulatedUser, ResizeNeedsASizingBorder) {
  const struct {
    DWORD style;
    bool maximise;
    std::string missed;
  } rows[] = {
      {WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, false, "resize to 700x400: the window has no sizing border"},
      {WS_OVERLAPPEDWINDOW, true, "resize to 700x400: the window is minimised or maximised"},
  };
  for (const auto& row : rows) {
    Machine m;
    Session s(m);
    App a = MakeApp(row.style);
    if (row.maximise) ShowWindow(a.main, SW_SHOWMAXIMIZED);
    RECT before{};
    GetWindowRect(a.main, &before);
    m.UserResizes(700, 400);
    m.UserClicks("Exit");
    m.ClearMessages();
    SendMessageW(a.main, WM_SYSCOMMAND, SC_SIZE | WMSZ_BOTTOMRIGHT, 0);
    EXPECT_EQ(Find(m, a.main, WM_ENTERSIZEMOVE), nullptr);
    RunLoop();
    EXPECT_EQ(m.missedActions, (Lines{row.missed}));
    EXPECT_EQ(Find(m, a.main, WM_ENTERSIZEMOVE), nullptr);
    EXPECT_EQ(Find(m, a.main, WM_SIZE), nullptr);
  }
}

// Selecting a line is a click on it (its place from the line height and the top line); the list
// takes the focus (LBN_SETFOCUS, with or without LBS_NOTIFY), selects the line and tells its parent
// (LBN_SELCHANGE). A line that is not there or not in view is missed.
TEST(SimulatedUser, SelectLineSelectsAndNotifies) {
  const struct {
    int line, topIndex, itemHeight;  // itemHeight 0: the font's
    std::string missed;              // empty: selected
  } rows[] = {
      {0, 0, 0, ""}, {2, 0, 0, ""}, {4, 0, 0, ""}, {4, 3, 0, ""}, {2, 0, 60, ""},
      {5, 0, 0, "select line 5: the list has no such line"},
      {-1, 0, 0, "select line -1: the list has no such line"},
      {1, 2, 0, "select line 1: the line is not in view"},
      {4, 0, 60, "select line 4: the line is not in view"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << "line " << row.line << " top " << row.topIndex << " height " << row.itemHeight);
    Machine m;
    Session s(m);
    App a = MakeApp();
    g_exitQuits = false;  // the list is read after the loop
    if (row.itemHeight) SendMessageW(a.list, LB_SETITEMHEIGHT, 0, row.itemHeight);
    SendMessageW(a.list, LB_SETTOPINDEX, WPARAM(row.topIndex), 0);
    int itemHeight = int(SendMessageW(a.list, LB_GETITEMHEIGHT, 0, 0));
    m.UserSelectsLine(row.line);
    m.UserClicks("Exit");
    m.ClearMessages();
    MSG msg;
    while (m.debugLines.empty() || m.debugLines.back() != "command 3 0") {
      ASSERT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (row.missed.empty()) {
      EXPECT_EQ(SendMessageW(a.list, LB_GETCURSEL, 0, 0), row.line);
      EXPECT_EQ(m.debugLines, (Lines{"command 2 4", "command 2 1", "command 2 5", "command 3 0"}));
      const winsim::MessageRecord* down = Find(m, a.list, WM_LBUTTONDOWN);
      ASSERT_NE(down, nullptr);
      EXPECT_TRUE(down->posted);
      EXPECT_EQ(short(HIWORD(down->lParam)), (row.line - row.topIndex) * itemHeight + itemHeight / 2);
      EXPECT_TRUE(m.missedActions.empty());
    } else {
      EXPECT_EQ(SendMessageW(a.list, LB_GETCURSEL, 0, 0), LB_ERR);
      EXPECT_EQ(m.debugLines, (Lines{"command 3 0"}));
      EXPECT_EQ(m.missedActions, (Lines{row.missed}));
    }
    DestroyWindow(a.main);
  }
}

// A list that the user cannot reach: hidden, or disabled.
TEST(SimulatedUser, SelectLineNeedsAVisibleEnabledList) {
  const struct {
    int show;
    BOOL enable;
    std::string missed;
  } rows[] = {{SW_HIDE, TRUE, "select line 0: no visible list"}, {SW_SHOW, FALSE, "select line 0: the list is disabled"}};
  for (const auto& row : rows) {
    Machine m;
    Session s(m);
    App a = MakeApp();
    ShowWindow(a.list, row.show);
    EnableWindow(a.list, row.enable);
    m.UserSelectsLine(0);
    m.UserClicks("Exit");
    RunLoop();
    EXPECT_EQ(m.missedActions, (Lines{row.missed}));
    EXPECT_EQ(m.debugLines, (Lines{"command 3 0"}));
  }
}

// A snapshot holds every window of the process in tree order: top-level windows in creation order,
// each followed by its descendants (sibling order), with depth, class, text, rectangles,
// visibility, styles and list lines.
TEST(SimulatedUser, SnapshotRecordsTheTreeInOrder) {
  Machine m;
  Session s(m);
  App a = MakeApp();
  HWND popup = CreateWindowExW(0, L"UserMain", L"Popup", WS_POPUP, 100, 100, 50, 40, a.main, nullptr, nullptr, nullptr);
  ASSERT_NE(popup, nullptr);
  ShowWindow(popup, SW_SHOWNA);  // the main window stays the active one, the one the user acts on
  SendMessageW(a.list, LB_SETCURSEL, 1, 0);
  m.UserSnapshot("start");
  m.UserClicks("Exit");
  RunLoop();
  ASSERT_EQ(m.snapshots.size(), 1u);
  const winsim::SnapshotRecord& rec = m.snapshots[0];
  EXPECT_EQ(rec.proc, "install");
  EXPECT_EQ(rec.label, "start");
  Lines tree;
  for (const winsim::SnapshotWindow& w : rec.windows)
    tree.push_back(std::string(size_t(w.depth) * 2, ' ') + w.window.className + " '" + w.window.text + "'" +
                   (w.window.visible ? "" : " hidden"));
  EXPECT_EQ(tree, (Lines{"UserMain 'Main'", "  Button 'Install'", "  ListBox ''", "  Button 'Exit'",
                         "  Button 'Hidden' hidden", "  Button 'Disabled'", "  UserMain 'panel'", "    Button 'Inner'",
                         "  Button 'Far'", "UserMain 'Popup'"}));
  const winsim::WindowSnapshot& main = rec.windows[0].window;
  EXPECT_EQ(S(main.window), "(50,50)-(650,370)");
  EXPECT_EQ(S(main.client), "(54,73)-(646,366)");
  EXPECT_EQ(main.style & WS_OVERLAPPEDWINDOW, DWORD(WS_OVERLAPPEDWINDOW));
  EXPECT_TRUE(main.visible);
  const winsim::WindowSnapshot& list = rec.windows[2].window;
  EXPECT_EQ(list.items, (Lines{"one", "two", "three", "four", "five"}));
  EXPECT_EQ(list.curSel, 1);
  EXPECT_EQ(S(list.window), "(62,113)-(362,313)");
  EXPECT_FALSE(rec.windows[5].window.enabled);
  EXPECT_EQ(rec.windows[9].window.owner, uint64_t(uintptr_t(a.main)));
}

// Script, snapshots and missed actions travel with the machine's state: through JSON, and through
// a program run as a process of its own, which takes actions from the front and leaves the rest.
TEST(SimulatedUser, ScriptAndRecordsSurviveTheStateFile) {
  Machine m;
  m.UserClicks("Install").whileBusy = true;
  m.UserClosesBox();
  m.UserClosesFromSystemMenu();
  m.UserPressesAltF4();
  m.UserResizes(640, 480);
  m.UserSelectsLine(3);
  m.UserSnapshot("label");
  m.missedActions.push_back("close box: the window has no close box");
  winsim::SnapshotRecord rec{"install", "x", {{0, {}}, {1, {}}}};
  rec.windows[1].window.exists = true;
  rec.windows[1].window.className = "ListBox";
  rec.windows[1].window.window = RECT{1, 2, 3, 4};
  rec.windows[1].window.items = {"a", "b"};
  rec.windows[1].window.curSel = 1;
  m.snapshots.push_back(rec);
  Machine back = Machine::FromJson(m.ToJson());
  EXPECT_EQ(back.ToJson(), m.ToJson());
  ASSERT_EQ(back.script.size(), 7u);
  const UserAction::Kind kinds[] = {UserAction::Click,  UserAction::CloseBox,   UserAction::SystemClose,
                                    UserAction::AltF4,  UserAction::Resize,     UserAction::SelectLine,
                                    UserAction::Snapshot};
  for (size_t i = 0; i < 7; ++i) EXPECT_EQ(back.script[i].kind, kinds[i]);
  EXPECT_EQ(back.script[0].text, "Install");
  EXPECT_TRUE(back.script[0].whileBusy);
  EXPECT_FALSE(back.script[1].whileBusy);
  EXPECT_EQ(back.script[4].width, 640);
  EXPECT_EQ(back.script[4].height, 480);
  EXPECT_EQ(back.script[5].line, 3);
  EXPECT_EQ(back.script[6].text, "label");
  EXPECT_EQ(back.missedActions, m.missedActions);
  ASSERT_EQ(back.snapshots.size(), 1u);
  EXPECT_EQ(back.snapshots[0].windows[1].depth, 1);
  EXPECT_EQ(S(back.snapshots[0].windows[1].window.window), "(1,2)-(3,4)");
  EXPECT_EQ(back.snapshots[0].windows[1].window.items, (Lines{"a", "b"}));

  // A forked process: Install quits the program, the snapshot behind it is left.
  Machine run;
  run.UserSnapshot("first");
  run.UserClicks("Missing");
  run.UserClicks("Exit");
  run.UserSnapshot("left");
  winsim::ProcessResult r = winsim::RunProcess(run, {}, [] {
    MakeApp();
    RunLoop();
  });
  EXPECT_TRUE(r.returned);
  ASSERT_EQ(run.snapshots.size(), 1u);
  EXPECT_EQ(run.snapshots[0].label, "first");
  EXPECT_EQ(run.snapshots[0].windows.size(), 9u);
  EXPECT_EQ(run.missedActions, (Lines{"click 'Missing': no visible enabled button"}));
  ASSERT_EQ(run.script.size(), 1u);
  EXPECT_EQ(run.script[0].text, "left");
}

// A child process started meanwhile (it has no window) takes nothing; the actions that the starter
// took while the child ran stay taken when the child's state comes back.
TEST(SimulatedUser, ChildProcessLeavesTheStartersActions) {
  Machine m = test::PackageMachine();
  m.UserClicks("Install").whileBusy = true;
  m.UserSnapshot("end");
  m.UserClicks("Exit");
  winsim::ProcessResult r = winsim::RunProcess(m, {}, [] {
    MakeApp();
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    char cmd[] = "quorvin.exe";
    if (!CreateProcessA("C:\\Drivers\\amd64\\quorvin.exe", cmd, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
      return;
    Pump();  // the user's click, while the child runs
    WaitForSingleObject(pi.hProcess, INFINITE);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    RunLoop();
  });
  EXPECT_TRUE(r.returned) << r.stopped;
  EXPECT_EQ(m.debugLines, (Lines{"command 1 0", "command 3 0"}));
  ASSERT_EQ(m.snapshots.size(), 1u);
  EXPECT_EQ(m.snapshots[0].label, "end");
  EXPECT_TRUE(m.script.empty());
}

// Input that waits in the queue for a window destroyed meanwhile is dropped when dispatched.
TEST(SimulatedUser, InputForADestroyedWindowIsDropped) {
  Machine m;
  Session s(m);
  App a = MakeApp();
  Pump();  // the paints of the first show
  m.UserClicks("Install").whileBusy = true;
  m.UserClicks("Exit");
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));  // the click waits in the queue
  EXPECT_EQ(msg.hwnd, a.install);
  DestroyWindow(a.install);
  m.ClearMessages();
  m.calls.clear();
  RunLoop();
  EXPECT_EQ(m.debugLines, (Lines{"command 3 0"}));
  for (const winsim::MessageRecord& r : m.messages) EXPECT_NE(r.hwnd, uint64_t(uintptr_t(a.install)));
  Lines dropped;
  for (const winsim::CallRecord& c : m.Calls("DispatchMessageW"))
    if (c.args["hWnd"] == uintptr_t(a.install)) dropped.push_back(Name(c.args["Msg"].get<UINT>()));
  EXPECT_EQ(dropped, (Lines{"WM_MOUSEMOVE", "WM_LBUTTONDOWN", "WM_LBUTTONUP"}));
}

// How a process ended is its own, not that of a process it started (whose records come back with
// it); an end that winsim did not see (a sanitizer's report exits so) counts as a crash.
TEST(WinsimProcessOutcome, TheProcessOwnEndOnly) {
  const struct {
    const char* name;
    void (*body)();
    bool exited, returned, crashed;
    DWORD exitCode;
  } rows[] = {
      {"returns", [] {}, false, true, false, 0},
      {"ExitProcess", [] { ExitProcess(7); }, true, false, false, 7},
      {"exit behind winsim's back", [] { std::exit(0); }, false, false, true, 0},
      {"starts a child that exits, returns", [] {
         STARTUPINFOA si{};
         si.cb = sizeof si;
         PROCESS_INFORMATION pi{};
         char cmd[] = "quorvin.exe";
         if (!CreateProcessA("C:\\Drivers\\amd64\\quorvin.exe", cmd, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
           std::abort();
         WaitForSingleObject(pi.hProcess, INFINITE);
         CloseHandle(pi.hProcess);
         CloseHandle(pi.hThread);
       }, false, true, false, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Machine m = test::PackageMachine();
    winsim::ProcessResult r = winsim::RunProcess(m, {}, row.body);
    EXPECT_EQ(r.exited, row.exited);
    EXPECT_EQ(r.returned, row.returned);
    EXPECT_EQ(r.crashed, row.crashed);
    EXPECT_EQ(r.exitCode, row.exitCode);
    EXPECT_TRUE(r.stopped.empty());
  }
}
