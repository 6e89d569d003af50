// The interactive run of the host install, end to end, driven by winsim's simulated user: the
// window and its layout, the three buttons, clicks that wait while a step pumps, and the window's
// own messages.
#include <algorithm>

#include "install/Install.h"
#include "support.h"

using winsim::Machine;
using Lines = std::vector<std::string>;

namespace {

const char Caption[] = "VELTO drivers installation program";

// The layout: the margin on every side and between the buttons, the width of the button column.
const int kMargin = 8;
const int kButtonWidth = 128;

// A 32-bit Windows 7: the package is installed in the program's own process.
Machine WindowMachine() {
  Machine m = test::PackageMachine();
  m.nativeArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
  m.AddDevice("USB\\VID_7A3C&PID_0001\\5&1", {"USB\\VID_7A3C&PID_0001"}, false);
  return m;
}

winsim::ProcessResult RunWindow(Machine& m) {
  winsim::ProcessResult r = test::RunInstall(m, "");
  EXPECT_TRUE(r.stopped.empty()) << r.stopped;
  EXPECT_TRUE(m.missedActions.empty()) << m.missedActions.front();
  return r;
}

// The main window and its controls at a snapshot, the controls in client coordinates.
struct View {
  std::string label;  // the snapshot's
  winsim::WindowSnapshot main;
  RECT install{}, remove{}, exit{}, list{};
  Lines lines;
  int controls = 0;
  DWORD installEx = 0, removeEx = 0, exitEx = 0;
};

RECT InClient(const RECT& r, const winsim::WindowSnapshot& parent) {
  return RECT{r.left - parent.client.left, r.top - parent.client.top, r.right - parent.client.left,
              r.bottom - parent.client.top};
}

View Look(const Machine& m, const std::string& label) {
  View v;
  v.label = label;
  auto shot = std::find_if(m.snapshots.begin(), m.snapshots.end(),
                           [&](const winsim::SnapshotRecord& s) { return s.label == label; });
  EXPECT_NE(shot, m.snapshots.end()) << "no snapshot " << label;
  if (shot == m.snapshots.end()) return v;
  for (const winsim::SnapshotWindow& w : shot->windows) {
    if (w.depth == 0 && w.window.text == Caption) v.main = w.window;
    if (w.depth != 1) continue;
    ++v.controls;
    RECT r = InClient(w.window.window, v.main);
    if (w.window.className == "ListBox") {
      v.list = r;
      v.lines = w.window.items;
    } else if (w.window.text == "Install") {
      v.install = r;
      v.installEx = w.window.exStyle;
    } else if (w.window.text == "Uninstall") {
      v.remove = r;
      v.removeEx = w.window.exStyle;
    } else if (w.window.text == "Exit") {
      v.exit = r;
      v.exitEx = w.window.exStyle;
    }
  }
  return v;
}

int ClientWidth(const View& v) { return v.main.client.right - v.main.client.left; }
int ClientHeight(const View& v) { return v.main.client.bottom - v.main.client.top; }

// The layout for the window's client size: the button column kMargin from the right, Install at
// the top, Uninstall a margin below it, Exit at the bottom, the list filling the rest, a margin
// on every side. tests/wine/gui.sh (check_layout) repeats this arithmetic for the real window on
// Wine: a change of the layout changes both.
void ExpectLayout(const View& v) {
  SCOPED_TRACE("snapshot " + v.label);
  const int cw = ClientWidth(v), ch = ClientHeight(v);
  const int bh = v.install.bottom - v.install.top;  // every button is as high
  const int column = cw - kMargin - kButtonWidth;   // the buttons' left edge
  EXPECT_GT(bh, 12);
  EXPECT_EQ(test::S(v.install), test::S(RECT{column, kMargin, cw - kMargin, kMargin + bh}));
  const int removeTop = kMargin + bh + kMargin;
  EXPECT_EQ(test::S(v.remove), test::S(RECT{column, removeTop, cw - kMargin, removeTop + bh}));
  EXPECT_EQ(test::S(v.exit), test::S(RECT{column, ch - kMargin - bh, cw - kMargin, ch - kMargin}));
  EXPECT_EQ(test::S(v.list), test::S(RECT{kMargin, kMargin, column - kMargin, ch - kMargin}));
}

TEST(Interactive, WindowLayoutAtTheStartWhenLargerAndAtTheMinimum) {
  Machine m = WindowMachine();
  m.UserSnapshot("start");
  m.UserResizes(800, 500);
  m.UserSnapshot("larger");
  m.UserResizes(300, 200);
  m.UserSnapshot("minimum");
  m.UserClicks("Exit");
  winsim::ProcessResult r = RunWindow(m);
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.exitCode, 0u);

  View start = Look(m, "start");
  EXPECT_EQ(test::S(start.main.window), test::S(RECT{50, 50, 650, 370}));
  EXPECT_TRUE(start.main.visible);
  EXPECT_EQ(start.main.style & (WS_SYSMENU | WS_THICKFRAME), DWORD(WS_SYSMENU | WS_THICKFRAME));
  EXPECT_EQ(start.main.style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0u);
  EXPECT_EQ(start.controls, 4);
  EXPECT_TRUE(start.lines.empty());
  // Only Install is the default button (bit 1 of its extended style).
  EXPECT_EQ(start.installEx & 1, 1u);
  EXPECT_EQ(start.removeEx & 1, 0u);
  EXPECT_EQ(start.exitEx & 1, 0u);
  ExpectLayout(start);

  View larger = Look(m, "larger");
  EXPECT_EQ(test::S(larger.main.window), test::S(RECT{50, 50, 850, 550}));
  ExpectLayout(larger);

  View minimum = Look(m, "minimum");  // asked smaller: the minimum tracking size wins
  EXPECT_EQ(test::S(minimum.main.window), test::S(RECT{50, 50, 650, 370}));
  ExpectLayout(minimum);
}

TEST(Interactive, InstallWritesItsLinesUninstallAppendsInstallAgainClearsFirst) {
  Machine m = WindowMachine();
  m.UserClicks("Install");
  m.UserSnapshot("installed");
  m.UserClicks("Uninstall");
  m.UserSnapshot("uninstalled");
  m.UserClicks("Install");
  m.UserSnapshot("again");
  m.UserClicks("Exit");
  winsim::ProcessResult r = RunWindow(m);
  EXPECT_EQ(r.exitCode, 0u);

  const Lines install = {"Installing VELTO WinUsb driver...", "Success."};
  EXPECT_EQ(Look(m, "installed").lines, install);
  Lines uninstalled = Look(m, "uninstalled").lines;
  ASSERT_GT(uninstalled.size(), install.size());
  EXPECT_EQ(Lines(uninstalled.begin(), uninstalled.begin() + 2), install);
  EXPECT_EQ(uninstalled[2], "Searching for devices...");
  EXPECT_EQ(uninstalled.back(), "Ok");
  EXPECT_EQ(Look(m, "again").lines, install);

  // Both installs went to Windows with the main window as owner; the device was removed.
  auto calls = m.Calls("DiInstallDriverA");
  ASSERT_EQ(calls.size(), 2u);
  for (const auto& c : calls) EXPECT_NE(c.args["hwndParent"].get<uint64_t>(), 0u);
  EXPECT_EQ(m.FindDevice("USB\\VID_7A3C&PID_0001\\5&1"), nullptr);
}

// Install from a folder of each code page, per hardware ID (Windows XP) and by package (Windows
// 7): the list shows the steps and their success, and Windows was asked for that folder's INF.
TEST(Interactive, InstallFromAFolderOfEachCodePage) {
  struct Row {
    UINT cp;
    std::string folder;
    bool perId;
  } rows[] = {
      {1252, "C:\\Drivers", false},
      {932, test::U8(u8"C:\\表"), false},
      {932, test::U8(u8"C:\\表"), true},
      {65001, "C:\\Drivers", false},
      {65001, "C:\\Drivers", true},
      {65001, test::U8(u8"C:\\Łukasz"), false},
      {65001, test::U8(u8"C:\\Łukasz"), true},
      {65001, test::U8(u8"C:\\表"), false},
      {65001, test::U8(u8"C:\\表"), true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.folder + " in " + std::to_string(r.cp) + (r.perId ? ", per hardware ID" : ", package"));
    Machine m = r.perId ? test::PackageMachine(5, 1, VER_NT_WORKSTATION, r.folder)
                        : test::PackageMachine(6, 1, VER_NT_WORKSTATION, r.folder);
    m.ansiCodePage = r.cp;
    m.nativeArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
    m.AddDevice("USB\\VID_7A3C&PID_0001\\5&1", {"USB\\VID_7A3C&PID_0001"}, false);
    m.UserClicks("Install");
    m.UserSnapshot("installed");
    m.UserClicks("Exit");
    winsim::ProcessResult res = RunWindow(m);
    EXPECT_EQ(res.exitCode, 0u);
    const std::string inf = r.folder + "\\veltowinusb.inf";
    Lines lines, paths;
    if (r.perId) {
      for (const std::string& id : test::SampleHardwareIds()) {
        lines.push_back("Installing driver for " + id + "...");
        lines.push_back("Success.");
      }
      for (const auto& c : m.Calls("UpdateDriverForPlugAndPlayDevicesA")) paths.push_back(c.args["FullInfPath"]);
      EXPECT_EQ(paths, Lines(3, inf));
    } else {
      lines = {"Installing VELTO WinUsb driver...", "Success."};
      for (const auto& c : m.Calls("DiInstallDriverA")) paths.push_back(c.args["InfPath"]);
      EXPECT_EQ(paths, Lines{inf});
    }
    EXPECT_EQ(Look(m, "installed").lines, lines);
    EXPECT_EQ(m.FindDevice("USB\\VID_7A3C&PID_0001\\5&1")->configFlags, std::optional<DWORD>(CONFIGFLAG_REINSTALL));
  }
}

TEST(Interactive, EveryWayOfClosingEndsWithExitCodeZero) {
  struct Road {
    const char* name;
    void (*act)(Machine&);
  } roads[] = {
      {"Exit", [](Machine& m) { m.UserClicks("Exit"); }},
      {"close box", [](Machine& m) { m.UserClosesBox(); }},
      {"system menu", [](Machine& m) { m.UserClosesFromSystemMenu(); }},
      {"Alt+F4", [](Machine& m) { m.UserPressesAltF4(); }},
  };
  for (const Road& road : roads) {
    SCOPED_TRACE(road.name);
    Machine m = WindowMachine();
    road.act(m);
    winsim::ProcessResult r = RunWindow(m);
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(m.script.empty());
    ASSERT_EQ(m.exits.size(), 1u);
    EXPECT_EQ(m.exits[0].gdiObjects, 0) << "the window's fonts and brushes went with it";
    EXPECT_EQ(m.Calls("UnregisterClassW").size(), 1u);
  }
}

TEST(Interactive, InstallClickedWhileAStepPumpsRunsThereAndClearsTheList) {
  Machine m = WindowMachine();
  m.UserClicks("Install");
  m.UserClicks("Install").whileBusy = true;  // waits in the queue; the step's pump takes it
  m.UserSnapshot("done");
  m.UserClicks("Exit");
  winsim::ProcessResult r = RunWindow(m);
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_EQ(m.Calls("DiInstallDriverA").size(), 2u);
  // The inner install cleared the outer one's first line; the outer step then reported too.
  EXPECT_EQ(Look(m, "done").lines, (Lines{"Installing VELTO WinUsb driver...", "Success.", "Success."}));
}

TEST(Interactive, ExitClickedWhileAStepPumpsEndsTheProgramThere) {
  Machine m = WindowMachine();
  m.UserClicks("Install");
  m.UserClicks("Exit").whileBusy = true;
  winsim::ProcessResult r = RunWindow(m);
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_TRUE(m.Calls("DiInstallDriverA").empty());  // nothing of the step ran after its pump
  EXPECT_EQ(m.Calls("UnregisterClassW").size(), 1u);
}

// Windows may run the window's messages inside an install call (a dialog of its own, owned by
// the window); a WM_CLOSE taken there (Task Manager's End task) ends the window and frees its
// objects. The step goes on as in a silent run, and the quit that the window's end posted ends
// the program.
TEST(Interactive, WindowClosedInsideTheInstallCallIsNotUsedAgain) {
  struct Road {
    const char* name;
    DWORD major, minor;
    WORD architecture;
    const char* call;
    std::string result;  // the step's last debug line
  } roads[] = {
      {"package", 6, 1, PROCESSOR_ARCHITECTURE_INTEL, "DiInstallDriverA", "success, mark to reinstall"},
      {"hand-over", 6, 1, PROCESSOR_ARCHITECTURE_AMD64, "DiInstallDriverA", "success, mark to reinstall"},
      {"per hardware ID", 5, 1, PROCESSOR_ARCHITECTURE_INTEL, "UpdateDriverForPlugAndPlayDevicesA",
       "success, marked to reinstall"},
  };
  for (const Road& road : roads) {
    SCOPED_TRACE(road.name);
    Machine m = test::PackageMachine(road.major, road.minor);
    m.nativeArchitecture = road.architecture;
    m.AddDevice("USB\\VID_7A3C&PID_0001\\5&1", {"USB\\VID_7A3C&PID_0001"}, false);
    m.ownedDialogs = {road.call};
    m.UserClicks("Install");
    m.UserEndsTask().inDialog = true;
    winsim::ProcessResult r = RunWindow(m);
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(m.script.empty());
    EXPECT_EQ(m.debugLines.empty() ? "" : m.debugLines.back(), road.result);
    EXPECT_EQ(m.exits.size(), road.architecture == PROCESSOR_ARCHITECTURE_AMD64 ? 2u : 1u);
    for (const winsim::ExitRecord& e : m.exits) EXPECT_EQ(e.gdiObjects, 0) << e.proc;

    // The one install call, which the window owned.
    size_t call = m.calls.size();
    for (size_t i = 0; i < m.calls.size(); ++i)
      if (m.calls[i].proc == "install" && m.calls[i].fn == road.call) {
        EXPECT_EQ(call, m.calls.size()) << "a second install call";
        call = i;
      }
    if (call == m.calls.size()) {
      ADD_FAILURE() << "no install call";
      continue;
    }
    EXPECT_NE(m.calls[call].args["hwndParent"].get<uint64_t>(), 0u);
    // From the step's first debug line after the call on, the call has returned, and the program
    // has no window left (the window's end ran inside the call): no call names one, but to ask
    // whether it is still there.
    size_t returned = call + 1;
    while (returned < m.calls.size() && m.calls[returned].fn != "OutputDebugStringW") ++returned;
    EXPECT_LT(returned, m.calls.size()) << "no debug line after the install call";
    for (size_t i = returned; i < m.calls.size(); ++i) {
      const winsim::CallRecord& c = m.calls[i];
      if (c.proc != "install" || !c.args.contains("hWnd") || c.fn == "GetWindowLongPtrW") continue;
      EXPECT_EQ(c.args["hWnd"].get<uint64_t>(), 0u) << c.fn << " on a window, after the window has gone";
    }
  }
}

// The main window, or any of its controls, that cannot be made whole is a start-up error: the
// box stays until the user closes it (a WM_QUIT from the window's end would close it unread).
TEST(Interactive, IncompleteMainWindowIsAStartUpError) {
  struct Row {
    const char* what;
    const char* fn;
    int nth;
  } rows[] = {
      {"main window", "CreateWindowExW", 1},   {"Install", "CreateWindowExW", 2},
      {"Uninstall", "CreateWindowExW", 3},     {"Exit", "CreateWindowExW", 4},
      {"list", "CreateWindowExW", 5},          {"Install's text", "SetWindowTextW", 1},
      {"Uninstall's text", "SetWindowTextW", 2}, {"Exit's text", "SetWindowTextW", 3},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Machine m = WindowMachine();
    m.Fail(row.fn, ERROR_NOT_ENOUGH_MEMORY, row.nth);
    winsim::ProcessResult r = test::RunInstall(m, "");
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 1u);
    ASSERT_EQ(m.messageBoxes.size(), 1u);
    EXPECT_EQ(m.messageBoxes[0].text, "Unable to create the main window!");
    EXPECT_EQ(m.messageBoxes[0].caption, "Error");
    EXPECT_EQ(m.messageBoxes[0].owner, 0u);
    EXPECT_EQ(m.messageBoxes[0].type, UINT(MB_ICONERROR));
    EXPECT_FALSE(m.messageBoxes[0].endedByQuit) << "the user never saw the box";
    ASSERT_EQ(m.exits.size(), 1u);
    EXPECT_EQ(m.exits[0].gdiObjects, 0);
  }
}

// ---- The window's own messages, in-process ----

TEST(MainWindow, MinimumTrackingSizeIsSetAndTheRestLeftToWindows) {
  Machine m;
  winsim::Session s(m);
  test::MainWindowScope scope;
  TMainWindow* w = scope.Window;
  MINMAXINFO info = {};
  info.ptMaxTrackSize = {1111, 2222};
  info.ptMinTrackSize = {1, 2};
  SendMessageW(w->Handle(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.ptMinTrackSize.x, 600);
  EXPECT_EQ(info.ptMinTrackSize.y, 320);
  EXPECT_EQ(info.ptMaxTrackSize.x, 1111);
  EXPECT_EQ(info.ptMaxTrackSize.y, 2222);
}

TEST(MainWindow, ControlsStandAtTheirStartUntilTheFirstLayout) {
  Machine m;
  winsim::Session s(m);
  test::MainWindowScope scope;
  TMainWindow* w = scope.Window;
  for (CControl* c : std::vector<CControl*>{w->btnInstall, w->btnRemove, w->btnExit, w->lbLog}) {
    EXPECT_EQ(c->Left(), kMargin);
    EXPECT_EQ(c->Top(), kMargin);
    EXPECT_NE(s.Window(c->Handle()).style & WS_VISIBLE, 0u);  // shown, inside the hidden window
  }
  EXPECT_EQ(w->btnInstall->Width(), kButtonWidth);
  EXPECT_FALSE(w->GetVisible());
  // Created in the order Install, Uninstall, Exit, list: the sibling order of the children.
  auto children = s.Window(w->Handle()).children;
  ASSERT_EQ(children.size(), 4u);
  EXPECT_EQ(HWND(uintptr_t(children[0])), w->btnInstall->Handle());
  EXPECT_EQ(HWND(uintptr_t(children[1])), w->btnRemove->Handle());
  EXPECT_EQ(HWND(uintptr_t(children[2])), w->btnExit->Handle());
  EXPECT_EQ(HWND(uintptr_t(children[3])), w->lbLog->Handle());
}

}  // namespace
