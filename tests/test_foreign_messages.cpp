// WM_ADDLOG from anyone: any program on the desktop can send or post WM_USER+1 to the main window
// with any wParam. Only the uninstall's own sends add lines; a foreign one, sent or posted, before,
// during or after a procedure, adds nothing and never has its wParam read. And whatever the window
// does with WM_ADDLOG or WM_GETMINMAXINFO, the message goes on to the previous procedure.
#include "install/Install.h"
#include "support.h"

using winsim::Machine;
using Lines = std::vector<std::string>;

namespace {

// A 32-bit Windows 7 with one absent vendor device: the uninstall removes it (SetupDiRemoveDevice).
Machine WindowMachine() {
  Machine m = test::PackageMachine();
  m.nativeArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
  m.AddDevice("USB\\VID_7A3C&PID_0001\\5&1", {"USB\\VID_7A3C&PID_0001"}, false);
  return m;
}

const Lines kInstallLines = {"Installing VELTO WinUsb driver...", "Success."};
const Lines kUninstallLines = {"Searching for devices...",     "Removing VELTO Data Logger",
                               "Removing registry keys",       "Removing device from system",
                               "Uninstalling drivers",         "Successfull uninstalled 1 devices",
                               "Ok"};

Lines ListAt(const Machine& m, const std::string& label) {
  for (const winsim::SnapshotRecord& s : m.snapshots) {
    if (s.label != label) continue;
    for (const winsim::SnapshotWindow& w : s.windows)
      if (w.depth == 1 && w.window.className == "ListBox") return w.window.items;
  }
  ADD_FAILURE() << "no snapshot " << label;
  return {};
}

Lines Concat(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

enum class When { Idle, InInstall, InUninstall };

// The host install's window takes one foreign WM_ADDLOG, then Install, Uninstall and Exit run as
// always. wParam 1 and the unmapped ones end the process where the window reads them.
TEST(ForeignAddLog, AddsNothingAndTheUninstallsOwnLinesStillArrive) {
  struct Row {
    const char* what;
    bool send;
    When when;
    uint64_t wParam;
  } rows[] = {
      {"posted, idle, null", false, When::Idle, 0},
      {"posted, idle, 1", false, When::Idle, 1},
      {"sent, idle, 1", true, When::Idle, 1},
      {"sent, idle, unmapped", true, When::Idle, 0xFFFFFFF0u},
      {"posted, idle, unmapped far", false, When::Idle, 0xFFFF800000000000u},
      {"posted while Install pumps, 1", false, When::InInstall, 1},
      {"sent while Install pumps, unmapped", true, When::InInstall, 0xFFFFFFF0u},
      {"sent inside the uninstall, 1", true, When::InUninstall, 1},
      {"sent inside the uninstall, unmapped", true, When::InUninstall, 0xFFFFFFF0u},
      {"posted inside the uninstall, 1 (taken after it)", false, When::InUninstall, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Machine m = WindowMachine();
    auto foreign = [&]() -> winsim::UserAction& {
      return r.send ? m.OtherProgramSends(WM_ADDLOG, r.wParam, 0) : m.OtherProgramPosts(WM_ADDLOG, r.wParam, 0);
    };
    if (r.when == When::Idle) foreign();
    m.UserSnapshot("before");
    m.UserClicks("Install");
    if (r.when == When::InInstall) foreign().whileBusy = true;
    m.UserSnapshot("installed");
    m.UserClicks("Uninstall");
    if (r.when == When::InUninstall) foreign().duringCall = "SetupDiRemoveDevice";
    m.UserSnapshot("uninstalled");
    m.UserClicks("Exit");
    winsim::ProcessResult p = test::RunInstall(m, "");
    EXPECT_TRUE(p.exited) << p.stopped;
    if (!p.exited) continue;
    EXPECT_EQ(p.exitCode, 0u);
    EXPECT_TRUE(m.missedActions.empty()) << m.missedActions.front();
    EXPECT_TRUE(m.script.empty()) << "the foreign message was never delivered";
    EXPECT_EQ(ListAt(m, "before"), Lines{});
    EXPECT_EQ(ListAt(m, "installed"), kInstallLines);
    EXPECT_EQ(ListAt(m, "uninstalled"), Concat(kInstallLines, kUninstallLines));
    EXPECT_EQ(m.FindDevice("USB\\VID_7A3C&PID_0001\\5&1"), nullptr);
    // The foreign message reached the window, as Windows would deliver it.
    size_t seen = 0;
    for (const winsim::MessageRecord& rec : m.messages)
      if (rec.msg == WM_ADDLOG && rec.wParam == r.wParam) ++seen;
    EXPECT_EQ(seen, 1u);
  }
}

// Texts of this process at real addresses: a foreign wParam that happens to point at memory of
// ours is still never shown.
const char kOwnMemory[] = "MZ text of this process";

// The main window with its previous procedure in view: what the window passes on reaches it and
// gets its answer back to the sender.
class TPassOnWindow : public TMainWindow {
 public:
  void PassOnTo(WNDPROC Proc) { fDefWindowProc = Proc; }
};

const LRESULT kPassedOn = 0x5EED;
std::vector<UINT> g_passedOn;

LRESULT CALLBACK PreviousProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg != WM_ADDLOG && msg != WM_GETMINMAXINFO) return DefWindowProcW(h, msg, wp, lp);
  g_passedOn.push_back(msg);
  return kPassedOn;
}

struct PassOnScope {
  PassOnScope() {
    RegisterWndClass();
    Window = New<TPassOnWindow>();
    Window->PassOnTo(PreviousProc);
    g_passedOn.clear();
  }
  ~PassOnScope() {
    if (Window && IsWindow(Window->Handle())) Window->Destroy();
  }
  TPassOnWindow* Window;
};

TEST(ForeignAddLog, OwnMemoryAtARealAddressIsNeverShown) {
  struct Row {
    const char* what;
    bool send;
    When when;
  } rows[] = {
      {"sent, idle", true, When::Idle},
      {"posted, idle", false, When::Idle},
      {"sent inside the uninstall", true, When::InUninstall},
      {"posted inside the uninstall", false, When::InUninstall},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Machine m = WindowMachine();
    m.AddStoredInf("oem3.inf", test::SampleInf());
    winsim::Session s(m);
    test::MainWindowScope scope;
    TMainWindow* w = scope.Window;
    w->Show();  // another program finds it on the desktop
    winsim::UserAction& a = r.send ? m.OtherProgramSends(WM_ADDLOG, uintptr_t(kOwnMemory), 0)
                                   : m.OtherProgramPosts(WM_ADDLOG, uintptr_t(kOwnMemory), 0);
    if (r.when == When::InUninstall) a.duringCall = "SetupDiRemoveDevice";
    a.whileBusy = true;  // idle: taken by the pump below
    if (r.when == When::Idle) ProcessMessages();
    w->btnRemoveClick(nullptr);
    ProcessMessages();  // a message posted meanwhile comes after the uninstall
    EXPECT_TRUE(m.script.empty());
    EXPECT_EQ(s.ListBoxItems(w->lbLog->Handle()), kUninstallLines);
  }
}

// WM_ADDLOG and WM_GETMINMAXINFO both go on to the previous procedure, whose answer the sender
// gets, whether or not a line was added.
TEST(MainWindowMessages, AddLogAndMinMaxInfoGoOnToThePreviousProcedure) {
  Machine m;
  winsim::Session s(m);
  PassOnScope scope;
  TPassOnWindow* w = scope.Window;
  ASSERT_NE(w->Handle(), nullptr);

  w->TakeProgress(true);
  EXPECT_EQ(SendMessageW(w->Handle(), WM_ADDLOG, WPARAM("Removing device from system"), 0), kPassedOn);
  w->TakeProgress(false);
  EXPECT_EQ(SendMessageW(w->Handle(), WM_ADDLOG, WPARAM("refused"), 0), kPassedOn);
  MINMAXINFO info = {};
  EXPECT_EQ(SendMessageW(w->Handle(), WM_GETMINMAXINFO, 0, LPARAM(&info)), kPassedOn);
  EXPECT_EQ(info.ptMinTrackSize.x, 600);
  EXPECT_EQ(g_passedOn, (std::vector<UINT>{WM_ADDLOG, WM_ADDLOG, WM_GETMINMAXINFO}));
  EXPECT_EQ(s.ListBoxItems(w->lbLog->Handle()), Lines{"Removing device from system"});
}

// The texts of the uninstall become lines from the ANSI code page, an empty one an empty line,
// none selected.
TEST(MainWindowMessages, ProgressTextsBecomeLinesFromTheAnsiCodePage) {
  Machine m;
  winsim::Session s(m);
  PassOnScope scope;
  TPassOnWindow* w = scope.Window;
  w->TakeProgress(true);
  SendMessageW(w->Handle(), WM_ADDLOG, reinterpret_cast<WPARAM>("Removing caf\xe9 device"), 0);
  SendMessageW(w->Handle(), WM_ADDLOG, reinterpret_cast<WPARAM>(""), 0);
  SendMessageW(w->Handle(), WM_ADDLOG, 0, 0);  // no text: no line
  EXPECT_EQ(s.ListBoxItems(w->lbLog->Handle()), (Lines{"Removing caf\xc3\xa9 device", ""}));
  EXPECT_EQ(w->lbLog->GetCurSel(), -1);
}

}  // namespace
