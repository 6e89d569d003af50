// The harness on winsim: every test runs on a new simulated machine, and ends with nothing of
// the library left behind: windows the test left are destroyed (their objects freed), and no
// GDI object is alive, deleted twice or left selected.
#include "harness.h"
#include "winsim/machine.h"

struct ClibTest::Platform {
  winsim::Machine machine;
  winsim::Session session{machine};  // declared after the machine: ends before it
};

ClibTest::ClibTest() = default;
ClibTest::~ClibTest() = default;

void ClibTest::SetUp() {
  platform_ = std::make_unique<Platform>();
  RegisterWndClass();
}

void ClibTest::TearDown() {
  for (HWND h : platform_->session.Windows())
    if (IsWindow(h) && !(GetWindowLongW(h, GWL_STYLE) & WS_CHILD)) DestroyWindow(h);
  UnregisterWndClass();
  winsim::GdiBalance gdi = platform_->session.Gdi();
  EXPECT_TRUE(gdi.Clean()) << "GDI after the test: fonts " << gdi.fonts << ", brushes " << gdi.brushes
                           << ", regions " << gdi.regions << ", double deletes " << gdi.doubleDeletes
                           << ", invalid deletes " << gdi.invalidDeletes << ", DCs not released "
                           << gdi.dcsNotReleased << ", released with a selection " << gdi.releasedWithSelection;
  platform_.reset();
}

bool OnWine() { return false; }
