// Top-level windows: how a new main window looks, background erasing, the frame properties.
#include "probe.h"

using namespace probe;

namespace {

using Windows = ProbeTest;

TEST_F(Windows, NewMainWindowIsAHiddenCaptionWindowWithoutParent) {
  CMainWindow* main = New<CMainWindow>();
  WCHAR title[32] = {};
  GetWindowTextW(main->Handle(), title, 32);
  EXPECT_STREQ(title, L"MyMainWindow");
  EXPECT_EQ(main->CreationStyle(), 0u);
  EXPECT_EQ(main->CreationStyleEx(), DWORD(WS_EX_APPWINDOW));
  EXPECT_NE(GetWindowLongW(main->Handle(), GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);
  EXPECT_EQ(main->Parent(), nullptr);
  EXPECT_EQ(GetParent(main->Handle()), nullptr);
  EXPECT_FALSE(main->GetVisible());
  EXPECT_EQ(main->GetStyle() & WS_CHILD, 0);
  main->Destroy();
}

TEST_F(Windows, WindowErasesItsOwnBackgroundOtherControlsPassItOn) {
  CMainWindow* main = New<CMainWindow>();
  TProbe* probeWindow = New<TProbe>(nullptr);
  HDC dc = GetDC(main->Handle());
  ASSERT_NE(dc, nullptr);
  Reset();
  EXPECT_EQ(SendMessageW(main->Handle(), WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), 0);
  SendMessageW(probeWindow->Handle(), WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  EXPECT_EQ(PassedOnCount(probeWindow->Handle(), WM_ERASEBKGND), 1);
  ReleaseDC(main->Handle(), dc);
  probeWindow->Destroy();
  main->Destroy();
}

struct FrameRow {
  const char* name;
  bool (CWindow::*get)() const;
  void (CWindow::*set)(bool);
  int index;
  LONG bit;
};

const FrameRow FrameRows[] = {
    {"MinimizeBox", &CWindow::GetMinimizeBox, &CWindow::SetMinimizeBox, GWL_STYLE, WS_MINIMIZEBOX},
    {"SysMenu", &CWindow::GetSysMenu, &CWindow::SetSysMenu, GWL_STYLE, WS_SYSMENU},
    {"ThickFrame", &CWindow::GetThickFrame, &CWindow::SetThickFrame, GWL_STYLE, WS_THICKFRAME},
    {"ToolWindow", &CWindow::GetToolWindow, &CWindow::SetToolWindow, GWL_EXSTYLE, WS_EX_TOOLWINDOW},
};

TEST_F(Windows, FramePropertiesChangeOneBitOfTheLiveStyle) {
  for (const FrameRow& row : FrameRows) {
    SCOPED_TRACE(row.name);
    CWindow* w = New<CWindow>(nullptr);
    HWND h = w->Handle();
    int other = row.index == GWL_STYLE ? GWL_EXSTYLE : GWL_STYLE;
    LONG otherBefore = GetWindowLongW(h, other);
    LONG before = GetWindowLongW(h, row.index) & ~row.bit;
    EXPECT_FALSE((w->*row.get)());

    (w->*row.set)(true);
    (w->*row.set)(true);
    EXPECT_TRUE((w->*row.get)());
    EXPECT_EQ(GetWindowLongW(h, row.index), before | row.bit);
    (w->*row.set)(false);
    EXPECT_FALSE((w->*row.get)());
    EXPECT_EQ(GetWindowLongW(h, row.index), before);
    EXPECT_EQ(GetWindowLongW(h, other), otherBefore);
    EXPECT_EQ(w->CreationStyle(), 0u);
    EXPECT_EQ(w->CreationStyleEx(), 0u);
    w->Destroy();
  }
}

TEST_F(Windows, FramePropertiesReadStylesSetByOthers) {
  CWindow* w = New<CWindow>(nullptr);
  w->SetStyle(w->GetStyle() | WS_THICKFRAME);
  EXPECT_TRUE(w->GetThickFrame());
  w->SetThickFrame(false);
  EXPECT_EQ(w->CreationStyle(), 0u);
  EXPECT_EQ(w->GetStyle() & WS_THICKFRAME, 0);
  w->Destroy();
}

}  // namespace
