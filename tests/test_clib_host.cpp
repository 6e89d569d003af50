// The control library on winsim's machine face: the areas it fills, what it does when the
// platform refuses, the messages it causes, its GDI balance, and the window class's life.
#include <algorithm>
#include <memory>

#include "clib/probe.h"
#include "support.h"

using namespace probe;
using winsim::Machine;
using json = nlohmann::json;

namespace {

class ClibHost : public ::testing::Test {
 protected:
  void SetUp() override {
    session = std::make_unique<winsim::Session>(m);
    RegisterWndClass();
    RegisterProbeClass();
    Reset();
  }
  void TearDown() override {
    for (HWND h : session->Windows())
      if (IsWindow(h) && !(GetWindowLongW(h, GWL_STYLE) & WS_CHILD)) DestroyWindow(h);
    winsim::GdiBalance gdi = session->Gdi();
    EXPECT_TRUE(gdi.Clean()) << "fonts " << gdi.fonts << ", brushes " << gdi.brushes << ", regions "
                             << gdi.regions << ", double deletes " << gdi.doubleDeletes << ", DCs not released "
                             << gdi.dcsNotReleased << ", released with a selection " << gdi.releasedWithSelection;
    session.reset();
  }

  // What WM_ERASEBKGND of `window` filled: the rectangles of one FillRgn.
  std::vector<RECT> Erase(HWND window) {
    HDC dc = GetDC(window);
    session->ClearFills();
    EXPECT_EQ(SendMessageW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), 0);
    std::vector<winsim::FillRecord> fills = session->FillsOf(dc);
    ReleaseDC(window, dc);
    EXPECT_EQ(fills.size(), 1u);
    return fills.empty() ? std::vector<RECT>() : fills[0].rects;
  }

  // The messages of the log with one of these ids, as (window, message).
  std::vector<std::pair<HWND, UINT>> Delivered(std::initializer_list<UINT> ids) const {
    std::vector<std::pair<HWND, UINT>> out;
    for (const winsim::MessageRecord& r : m.messages)
      for (UINT id : ids)
        if (r.msg == id) out.push_back({HWND(uintptr_t(r.hwnd)), r.msg});
    return out;
  }

  Machine m;
  std::unique_ptr<winsim::Session> session;
};

long Area(const std::vector<RECT>& rects) {
  long a = 0;
  for (const RECT& r : rects) a += long(r.right - r.left) * (r.bottom - r.top);
  return a;
}

bool Covers(const std::vector<RECT>& rects, int x, int y) {
  for (const RECT& r : rects)
    if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return true;
  return false;
}

// ---- Background ----

TEST_F(ClibHost, BackgroundFillSparesVisibleDirectChildrenOnly) {
  struct Row {
    const char* name;
    bool childVisible;
    POINT childAt;
    bool bordered;
    bool grandchild;  // a visible grandchild reaching out of the child
    long cut;         // area not filled
    POINT spared;     // a point left unfilled (-1: none)
  } rows[] = {
      {"no visible child", false, {10, 20}, false, false, 0, {-1, -1}},
      {"a visible child", true, {10, 20}, false, false, 100 * 50, {15, 25}},
      {"a child with a frame: its window rectangle", true, {10, 20}, true, false, 100 * 50, {10, 20}},
      {"a child partly outside", true, {370, 20}, false, false, 30 * 50, {390, 30}},
      {"a grandchild does not count by itself", true, {10, 20}, false, true, 100 * 50, {15, 25}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CMainWindow* main = New<CMainWindow>();
    main->Move(0, 0, 406, 322);
    main->Show();
    TProbe* child = New<TProbe>(main);
    child->Move(row.childAt.x, row.childAt.y, 100, 50);
    if (row.bordered) {
      child->SetBorder(true);
      child->SetWindowPos(0, 0, 0, 0, nullptr, SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
    }
    if (row.childVisible) child->Show();
    if (row.grandchild) {
      TProbe* grandchild = New<TProbe>(child);
      grandchild->Move(90, 40, 100, 50);
      grandchild->Show();
    }
    const int cw = main->ClientWidth(), ch = main->ClientHeight();
    ASSERT_EQ(cw, 400);

    std::vector<RECT> filled = Erase(main->Handle());
    EXPECT_EQ(Area(filled), long(cw) * ch - row.cut);
    EXPECT_TRUE(Covers(filled, 0, 0));
    if (row.spared.x >= 0) {
      EXPECT_FALSE(Covers(filled, row.spared.x, row.spared.y));
    }
    EXPECT_EQ(session->Fills()[0].color, main->BkColor());
    main->Destroy();
  }
}

// ---- When the platform refuses ----

TEST_F(ClibHost, FontFallsBackWhenTheSystemGivesNoMessageFont) {
  for (bool oldWindows : {false, true}) {
    SCOPED_TRACE(oldWindows ? "Windows 5.1: the full record is refused" : "the call fails");
    Machine fresh;
    m = fresh;
    session.reset();
    if (oldWindows) m.SetVersion(5, 1);
    else m.Fail("SystemParametersInfoW", ERROR_INVALID_PARAMETER);
    SetUp();
    CFont font(nullptr);
    const LOGFONTW& lf = font.LogFont();
    EXPECT_EQ(lf.lfCharSet, 204);
    EXPECT_STREQ(lf.lfFaceName, L"MS Sans Serif");
    EXPECT_EQ(lf.lfHeight, 0);
    EXPECT_EQ(lf.lfWeight, 0);
    EXPECT_EQ(lf.lfItalic + lf.lfUnderline + lf.lfStrikeOut + lf.lfOutPrecision + lf.lfClipPrecision + lf.lfQuality +
                  lf.lfPitchAndFamily,
              0);
    EXPECT_NE(font.Handle(), nullptr);
  }
}

TEST_F(ClibHost, WithoutTextMetricsAButtonKeepsItsHeightAndAListItsLineHeight) {
  for (const char* fn : {"GetDC", "GetTextMetricsW"}) {
    SCOPED_TRACE(fn);
    CMainWindow* main = New<CMainWindow>();
    CListBox* list = New<CListBox>(main);
    list->Move(0, 0, 100, 100);
    LRESULT lineHeight = SendMessageW(list->Handle(), LB_GETITEMHEIGHT, 0, 0);
    m.Fail(fn, ERROR_INVALID_HANDLE);
    CButton* button = New<CButton>(main);
    EXPECT_EQ(button->Height(), 24);
    m.ClearMessages();
    list->SetHeight(150);
    EXPECT_TRUE(Delivered({LB_SETITEMHEIGHT}).empty());
    EXPECT_EQ(SendMessageW(list->Handle(), LB_GETITEMHEIGHT, 0, 0), lineHeight);
    m.rules.clear();
    main->Destroy();
  }
}

TEST_F(ClibHost, ControlWithoutWindowLeavesNothingBehind) {
  m.Fail("CreateWindowExW", ERROR_NOT_ENOUGH_MEMORY);
  CMainWindow* main = New<CMainWindow>();
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(main->Handle(), nullptr);
  main->Show();
  main->SetText(L"x");
  main->Close();  // frees the object without a window
  // TearDown: the font and the brush are gone with it.
}

TEST_F(ClibHost, WindowThatCannotBeReadOrBoundGoesAndLeavesAnUnboundObject) {
  struct Row {
    const char* fn;
    int nth;
  } rows[] = {{"GetWindowRect", 1}, {"GetClientRect", 1}, {"GetWindowLongPtrW", 1},
              {"SetWindowLongPtrW", 1}, {"SetWindowLongPtrW", 2}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.fn) + " #" + std::to_string(row.nth));
    size_t windows = session->Windows().size();
    m.rules.clear();
    m.callCounts.clear();
    m.Fail(row.fn, ERROR_INVALID_WINDOW_HANDLE, row.nth);
    CMainWindow* main = New<CMainWindow>();
    m.rules.clear();
    EXPECT_EQ(main->Handle(), nullptr);
    EXPECT_EQ(session->Windows().size(), windows);  // the half-made window went
    main->Destroy();
  }
}

TEST_F(ClibHost, FontWithoutOwnerWindowSendsNothingAndEveryRebuildDeletesOnce) {
  CFont font(nullptr);
  for (int h = -10; h > -15; --h) font.SetHeight(h);
  EXPECT_EQ(session->Gdi().fonts, 1);
  EXPECT_TRUE(Delivered({WM_SETFONT}).empty());
}

TEST_F(ClibHost, SelectionChangeByTheUserGoesThroughTheParentToTheEvent) {
  CMainWindow* main = New<CMainWindow>();
  CListBox* list = New<CListBox>(main);
  list->Move(0, 0, 100, 100);
  main->Show();
  list->Show();
  list->AddString(L"a");
  m.ClearMessages();
  SendMessageW(list->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
  SendMessageW(list->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
  // The list box tells its parent; the parent's object reflects it to the list's object.
  int selectionChanges = 0;
  for (const winsim::MessageRecord& r : m.messages)
    if (r.msg == WM_COMMAND && HIWORD(r.wParam) == LBN_SELCHANGE) {
      ++selectionChanges;
      EXPECT_EQ(HWND(uintptr_t(r.hwnd)), main->Handle());
      EXPECT_EQ(HWND(r.lParam), list->Handle());
    }
  EXPECT_EQ(selectionChanges, 1);
  main->Destroy();
}

// ---- Messages of the two ends ----

TEST_F(ClibHost, DestroyingTheMainWindowSequence) {
  CMainWindow* main = New<CMainWindow>();
  CButton* button = New<CButton>(main);
  CListBox* list = New<CListBox>(main);
  HWND w = main->Handle(), b = button->Handle(), l = list->Handle();
  m.ClearMessages();
  size_t sends = m.Calls("SendMessageW").size();
  main->Close();
  const std::vector<std::pair<HWND, UINT>> expected = {
      {w, WM_DESTROY}, {b, WM_DESTROY}, {l, WM_DESTROY}, {b, WM_NCDESTROY}, {l, WM_NCDESTROY}, {w, WM_NCDESTROY}};
  EXPECT_EQ(Delivered({WM_DESTROY, WM_NCDESTROY}), expected);
  EXPECT_EQ(TakeQuitMessages(), std::vector<WPARAM>{0});
  // The destruction came from winsim, not from calls of the program.
  EXPECT_EQ(m.Calls("SendMessageW").size(), sends);
}

TEST_F(ClibHost, EachWindowIsDestroyedOnceWhicheverEndComesFirst) {
  struct Road {
    const char* name;
    void (*end)(TProbe* parent);
    size_t destroyCalls;  // DestroyWindow calls of the program
  } roads[] = {
      {"the object first", [](TProbe* p) { p->Destroy(); }, 1},
      {"the window first", [](TProbe* p) { DestroyWindow(p->Handle()); }, 1},
      {"closed", [](TProbe* p) { p->Close(); }, 1},
  };
  for (const Road& road : roads) {
    SCOPED_TRACE(road.name);
    TProbe* parent = New<TProbe>(nullptr);
    New<TProbe>(New<TProbe>(parent));
    Reset();
    size_t before = m.Calls("DestroyWindow").size();
    road.end(parent);
    EXPECT_EQ(m.Calls("DestroyWindow").size() - before, road.destroyCalls);
    EXPECT_EQ(Seen().freed, 3);
    EXPECT_EQ(Seen().finalized, 3);
  }
}

TEST_F(ClibHost, RegistrationRecordsTheWindowClass) {
  auto calls = m.Calls("RegisterClassExW");
  ASSERT_EQ(calls.size(), 1u);
  // The whole record: redrawn on every size change, DefWindowProcW as the class procedure, the
  // program's module, and nothing else (no extra bytes, icon, cursor, brush or menu).
  const json expected = {{"cbSize", sizeof(WNDCLASSEXW)},
                         {"style", CS_VREDRAW | CS_HREDRAW},
                         {"lpfnWndProc", uintptr_t(&DefWindowProcW)},
                         {"cbClsExtra", 0},
                         {"cbWndExtra", 0},
                         {"hInstance", uintptr_t(GetModuleHandleW(nullptr))},
                         {"hIcon", 0},
                         {"hCursor", 0},
                         {"hbrBackground", 0},
                         {"lpszMenuName", nullptr},
                         {"lpszClassName", "CLibApiWnd"},
                         {"hIconSm", 0}};
  EXPECT_EQ(calls[0].args, expected) << json::diff(expected, calls[0].args).dump();
  std::vector<std::string> names = m.CallNames();
  auto registered = std::find(names.begin(), names.end(), "RegisterClassExW");
  EXPECT_NE(std::find(registered, names.end(), "InitCommonControls"), names.end());
  // No class brush: a plain window of the class erases nothing by itself.
  HWND plain = CreateWindowExW(0, L"CLibApiWnd", L"", 0, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
  HDC dc = GetDC(plain);
  EXPECT_EQ(SendMessageW(plain, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), 0);
  EXPECT_TRUE(session->Fills().empty());
  ReleaseDC(plain, dc);
  DestroyWindow(plain);
}

// ---- The window class at the orderly end ----

TEST(ClibEnd, EveryOrderlyEndUnregistersTheClassOnce) {
  struct Road {
    const char* name;
    void (*body)();
    DWORD exitCode;
  } roads[] = {
      {"EndProgram", [] { RegisterWndClass(); RegisterWndClass(); EndProgram(3); }, 3},
      {"blocking loop", [] { RegisterWndClass(); PostQuitMessage(4); RunMessageLoop(); }, 4},
      {"pump", [] { RegisterWndClass(); PostQuitMessage(5); ProcessMessages(); }, 5},
      {"main window closed", [] {
         RegisterWndClass();
         New<CMainWindow>()->Close();
         RunMessageLoop();
       }, 0},
  };
  for (const Road& road : roads) {
    SCOPED_TRACE(road.name);
    Machine m;
    winsim::ProcessResult r = winsim::RunProcess(m, {}, road.body);
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, road.exitCode);
    auto calls = m.Calls("UnregisterClassW");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args["lpClassName"], "CLibApiWnd");
  }
}

TEST(ClibEnd, InstallUnregistersTheClassOnEveryEnd) {
  struct Road {
    const char* name;
    const char* arguments;
    const char* failing;
  } roads[] = {
      {"silent install", "/install", nullptr},
      {"unknown argument", "/what", nullptr},
      {"start-up error box", "/install", "GetVersionExW"},
  };
  for (const Road& road : roads) {
    SCOPED_TRACE(road.name);
    Machine m = test::PackageMachine();
    if (road.failing) m.Fail(road.failing, ERROR_ACCESS_DENIED);
    test::RunInstall(m, road.arguments);
    auto names = m.CallNames();
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(m.Calls("RegisterClassExW").size(), 1u);
    EXPECT_EQ(m.Calls("UnregisterClassW").size(), 1u);
  }
}

}  // namespace
