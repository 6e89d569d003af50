// The control base class: what a new control takes from its parent, the geometry cache, the
// properties over the live window, and the two ends of a control.
#include <cstring>

#include "probe.h"

using namespace probe;

namespace {

using Control = ProbeTest;

// A main window that records its DoClose and its freeing.
class TClosingWindow : public CMainWindow {
 public:
  ~TClosingWindow() override { ++Seen().freed; }

 protected:
  void DoClose() override { Seen().events.push_back(L"main:close"); }
};

// A control whose window cannot be made; records its DoClose and its freeing.
class TWindowless : public CControl {
 public:
  ~TWindowless() override { ++Seen().freed; }

 protected:
  void DoClose() override { Seen().events.push_back(L"windowless:close"); }
  void CreateWnd() override {
    wnd = CreateWindowExW(0, L"ClibNoSuchClass", L"", 0, 0, 0, 10, 10, nullptr, nullptr,
                          GetModuleHandleW(nullptr), nullptr);
  }
};

std::wstring TextOf(const CControl* c) {
  WideText t;
  EXPECT_TRUE(c->GetText(t));
  return t.c_str();
}

TEST_F(Control, ChildTakesItsParentsColoursAndFontWithAHandleOfItsOwn) {
  CMainWindow* main = New<CMainWindow>();
  main->SetBkColor(RGB(1, 2, 3));
  main->Font()->SetHeight(-20);
  TProbe* child = New<TProbe>(main);

  EXPECT_EQ(child->BkColor(), RGB(1, 2, 3));
  EXPECT_EQ(child->BkBrush()->GetColor(), RGB(1, 2, 3));
  EXPECT_EQ(child->Color(), main->Color());
  EXPECT_EQ(std::memcmp(&child->Font()->LogFont(), &main->Font()->LogFont(), sizeof(LOGFONTW)), 0);
  EXPECT_NE(child->Font()->Handle(), main->Font()->Handle());
  EXPECT_NE(child->Font()->Handle(), nullptr);
  main->Destroy();
}

TEST_F(Control, ControlWithoutParentTakesTheSystemFontAndButtonColours) {
  CMainWindow* main = New<CMainWindow>();
  EXPECT_EQ(main->Color(), GetSysColor(COLOR_BTNTEXT));
  EXPECT_EQ(main->BkColor(), GetSysColor(COLOR_BTNFACE));
  EXPECT_EQ(main->BkBrush()->GetColor(), GetSysColor(COLOR_BTNFACE));
  EXPECT_NE(GetSysColor(COLOR_BTNFACE), GetSysColor(COLOR_WINDOW));  // so the brush was remade

  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof(metrics);
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, 0, &metrics, 0));
  EXPECT_EQ(std::memcmp(&main->Font()->LogFont(), &metrics.lfMessageFont, sizeof(LOGFONTW)), 0);
  main->Destroy();
}

TEST_F(Control, OwnedWindowKeepsScreenCoordinates) {
  CMainWindow* owner = New<CMainWindow>();
  owner->Move(300, 310, 200, 150);
  CWindow* owned = New<CWindow>(owner);
  EXPECT_EQ(owned->Left(), owned->GetWindowRect().left);
  EXPECT_EQ(owned->Top(), owned->GetWindowRect().top);
  owned->Move(40, 50, 100, 80);
  RECT r = owned->GetWindowRect();
  EXPECT_EQ(owned->Left(), 40);
  EXPECT_EQ(owned->Top(), 50);
  EXPECT_EQ(r.left, 40);
  EXPECT_EQ(r.top, 50);
  owner->Destroy();
}

struct SetterRow {
  const char* name;
  void (CControl::*setter)(int);
  int value;
  RECT expected;  // left, top, width, height afterwards
};

TEST_F(Control, GeometrySettersChangeOneValueAndReadItBackAtOnce) {
  const SetterRow rows[] = {
      {"Left", &CControl::SetLeft, 130, {130, 120, 300, 200}},
      {"Top", &CControl::SetTop, 140, {100, 140, 300, 200}},
      {"Width", &CControl::SetWidth, 260, {100, 120, 260, 200}},
      {"Height", &CControl::SetHeight, 90, {100, 120, 300, 90}},
  };
  for (const SetterRow& row : rows) {
    SCOPED_TRACE(row.name);
    TProbe* p = New<TProbe>(nullptr);
    (p->*row.setter)(row.value);
    EXPECT_EQ(p->Left(), row.expected.left);
    EXPECT_EQ(p->Top(), row.expected.top);
    EXPECT_EQ(p->Width(), row.expected.right);
    EXPECT_EQ(p->Height(), row.expected.bottom);
    RECT r = p->GetWindowRect();
    EXPECT_EQ(r, (RECT{row.expected.left, row.expected.top, row.expected.left + row.expected.right,
                       row.expected.top + row.expected.bottom}));
    p->Destroy();
  }
}

TEST_F(Control, ClientSizeIsTheWindowLessItsFrame) {
  CMainWindow* main = New<CMainWindow>();
  main->Move(50, 50, 600, 320);
  RECT c = main->ClientRect();
  EXPECT_EQ(main->ClientWidth(), c.right);
  EXPECT_EQ(main->ClientHeight(), c.bottom);
  EXPECT_LT(main->ClientWidth(), 600);   // the caption window has a frame
  EXPECT_LT(main->ClientHeight(), 320);
  main->Destroy();
}

TEST_F(Control, BkColorOfTheSameValueKeepsTheBrush) {
  CMainWindow* main = New<CMainWindow>();
  HBRUSH before = main->BkBrush()->Handle();
  main->SetBkColor(main->BkColor());
  EXPECT_EQ(main->BkBrush()->Handle(), before);
  main->SetBkColor(RGB(200, 10, 10));
  EXPECT_EQ(main->BkColor(), RGB(200, 10, 10));
  EXPECT_EQ(main->BkBrush()->GetColor(), RGB(200, 10, 10));
  main->Destroy();
}

TEST_F(Control, VisibleLeavesAMinimisedWindowMinimisedShowRestoresIt) {
  CMainWindow* main = New<CMainWindow>();
  EXPECT_FALSE(main->GetVisible());
  ShowWindow(main->Handle(), SW_MINIMIZE);
  main->SetVisible(true);
  EXPECT_TRUE(main->GetVisible());
  EXPECT_NE(main->GetStyle() & WS_MINIMIZE, 0);
  main->Show();
  EXPECT_EQ(main->GetStyle() & WS_MINIMIZE, 0);
  main->SetVisible(false);
  EXPECT_FALSE(main->GetVisible());
  main->Destroy();
}

TEST_F(Control, BorderIsOneBitOfTheLiveStyle) {
  CMainWindow* main = New<CMainWindow>();
  LONG before = main->GetStyle();
  EXPECT_EQ(before & WS_CAPTION, WS_CAPTION);  // Windows gives an overlapped window its caption
  EXPECT_TRUE(main->GetBorder());
  main->SetBorder(false);
  EXPECT_EQ(main->GetStyle(), before & ~WS_BORDER);
  EXPECT_FALSE(main->GetBorder());
  main->Destroy();
}

TEST_F(Control, StyleLeavesTheCreationStyleUntilBorderOrHScrollReloadsIt) {
  TProbe* p = New<TProbe>(nullptr);
  LONG live = p->GetStyle() | WS_HSCROLL;
  p->SetStyle(live);
  EXPECT_EQ(p->CreationStyle(), 0u);
  EXPECT_TRUE(p->GetHScroll());
  EXPECT_EQ(p->CreationStyle(), DWORD(live));
  p->SetHScroll(false);
  EXPECT_EQ(p->GetStyle(), live & ~WS_HSCROLL);
  p->Destroy();
}

// Records which of two buttons a click came from.
struct ClickRecorder {
  const CButton* target;
  void Event(void* Sender) { Seen().events.push_back(Sender == target ? L"target" : L"marker"); }
};

// The user's click: the left mouse button down and up at the control's centre, through the system.
void UserClick(const CControl* c) {
  RECT r = c->GetWindowRect();
  SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  INPUT in[2] = {};
  in[0].type = in[1].type = INPUT_MOUSE;
  in[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  in[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, in, sizeof(INPUT));
}

// A disabled button takes no click of the user's: the system gives a disabled window no mouse
// input (a message sent to the button itself would still click it). Input comes in order, so
// once a second button's click has come, the first one's would have too.
TEST_F(Control, DisabledButtonTakesNoClick) {
  CMainWindow* main = New<CMainWindow>();
  main->Move(100, 100, 400, 300);
  main->Show();
  CButton* target = New<CButton>(main);
  CButton* marker = New<CButton>(main);
  target->Move(10, 10, 120, 30);
  marker->Move(10, 60, 120, 30);
  target->Show();
  marker->Show();
  ClickRecorder recorder{target};
  target->SetOnClick(MakeEvent<TButtonClickEvent, ClickRecorder, &ClickRecorder::Event>(&recorder));
  marker->SetOnClick(target->OnClick());
  for (bool enabled : {false, true}) {
    SCOPED_TRACE(enabled ? "enabled" : "disabled");
    target->SetEnabled(enabled);
    EXPECT_EQ(target->GetEnabled(), enabled);
    Seen().events.clear();
    UserClick(target);
    UserClick(marker);
    MSG msg;
    while ((Seen().events.empty() || Seen().events.back() != L"marker") && GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    std::vector<std::wstring> expected = {L"marker"};
    if (enabled) expected.insert(expected.begin(), L"target");
    EXPECT_EQ(Seen().events, expected);
  }
  main->Destroy();
}

TEST_F(Control, TextRoundTrips) {
  TProbe* p = New<TProbe>(nullptr);
  EXPECT_EQ(TextOf(p), L"");
  p->SetText(L"Install");
  EXPECT_EQ(TextOf(p), L"Install");
  p->SetText(L"");
  EXPECT_EQ(TextOf(p), L"");
  p->SetText(nullptr);
  EXPECT_EQ(TextOf(p), L"");
  p->Destroy();
}

TEST_F(Control, CloseRunsDoCloseFreesTheObjectAndPostsOneQuit) {
  TClosingWindow* main = New<TClosingWindow>();
  HWND h = main->Handle();
  TakeQuitMessages();
  main->Close();
  EXPECT_FALSE(IsWindow(h));
  EXPECT_EQ(Seen().events, std::vector<std::wstring>{L"main:close"});
  EXPECT_EQ(Seen().freed, 1);
  EXPECT_EQ(TakeQuitMessages(), std::vector<WPARAM>{0});
}

// The quit that the main window's end posts ends a message box at once, before the user has read
// it, and stays queued for the program's loop; so a box meant to be read comes before that end.
TEST_F(Control, QuitOfAClosedMainWindowEndsAMessageBoxAtOnce) {
  struct Row {
    const char* name;
    bool closedFirst;  // else a WM_CLOSE waits, which the box's own loop dispatches
  } rows[] = {{"closed before the box", true}, {"closed by a message that the box takes", false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Reset();
    TakeQuitMessages();
    TClosingWindow* main = New<TClosingWindow>();
    HWND h = main->Handle();
    if (row.closedFirst) main->Close();
    else PostMessageW(h, WM_CLOSE, 0, 0);
    MessageBoxW(nullptr, L"This box ends by itself.", L"Error", MB_ICONERROR);
    EXPECT_FALSE(IsWindow(h));
    EXPECT_EQ(Seen().freed, 1);
    EXPECT_EQ(TakeQuitMessages(), std::vector<WPARAM>{0});
  }
}

TEST_F(Control, WindowClosedByTheUserIsDestroyedWithoutDoClose) {
  struct Road {
    const char* name;
    UINT msg;
    WPARAM wParam;
  } roads[] = {{"close", WM_CLOSE, 0}, {"system menu", WM_SYSCOMMAND, SC_CLOSE}};
  for (const Road& road : roads) {
    SCOPED_TRACE(road.name);
    Reset();
    TClosingWindow* main = New<TClosingWindow>();
    HWND h = main->Handle();
    TakeQuitMessages();
    SendMessageW(h, road.msg, road.wParam, 0);
    EXPECT_FALSE(IsWindow(h));
    EXPECT_TRUE(Seen().events.empty());
    EXPECT_EQ(Seen().freed, 1);
    EXPECT_EQ(TakeQuitMessages(), std::vector<WPARAM>{0});
  }
}

// Either end frees a control that has no window; Close runs DoClose first.
TEST_F(Control, ControlWithoutWindowDoesNothingHarmfulAndEitherEndFreesIt) {
  struct Road {
    const char* name;
    void (CControl::*end)();
    std::vector<std::wstring> events;
  } roads[] = {{"Destroy", &CControl::Destroy, {}}, {"Close", &CControl::Close, {L"windowless:close"}}};
  for (const Road& road : roads) {
    SCOPED_TRACE(road.name);
    Reset();
    TWindowless* c = New<TWindowless>(nullptr);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->Handle(), nullptr);
    c->Show();
    c->Move(1, 2, 3, 4);
    c->SetText(L"x");
    c->SetBkColor(RGB(9, 9, 9));
    c->SetBorder(true);
    c->Invalidate();
    EXPECT_EQ(TextOf(c), L"");
    EXPECT_FALSE(c->GetVisible());
    EXPECT_NE(c->Font(), nullptr);
    (c->*road.end)();  // frees the font and the brush without a window
    EXPECT_EQ(Seen().freed, 1);
    EXPECT_EQ(Seen().events, road.events);
  }
}

}  // namespace
