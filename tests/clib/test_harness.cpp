// The pipeline itself: a window of the test's own class is bound, answers, keeps its text and is
// destroyed the same way on winsim and on Windows.
#include <vector>

#include "harness.h"

namespace {

using ClibHarness = ClibTest;

const wchar_t kClass[] = L"ClibHarnessProbe";

struct Seen {
  UINT msg;
  LONG_PTR userData;  // the window's GWLP_USERDATA when the message came
};
std::vector<Seen> g_seen;

// Records the messages of the window's life with the user data the window had when each came,
// and binds the creation parameter to the window at WM_NCCREATE, as the library does.
LRESULT CALLBACK ProbeProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE || msg == WM_CREATE || msg == WM_DESTROY || msg == WM_NCDESTROY || msg == WM_USER + 1)
    g_seen.push_back({msg, GetWindowLongPtrW(window, GWLP_USERDATA)});
  if (msg == WM_NCCREATE) {
    const CREATESTRUCTW* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  if (msg == WM_USER + 1) return LRESULT(wParam) * 2;
  return DefWindowProcW(window, msg, wParam, lParam);
}

}  // namespace

TEST_F(ClibHarness, TopLevelWindowIsBoundAnswersKeepsItsTextAndIsDestroyed) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = ProbeProc;
  wc.lpszClassName = kClass;
  ASSERT_NE(RegisterClassW(&wc), 0);
  g_seen.clear();

  int object = 0;
  const LONG_PTR bound = reinterpret_cast<LONG_PTR>(&object);
  HWND window = CreateWindowExW(0, kClass, L"Probe", WS_OVERLAPPED | WS_SYSMENU, 10, 20, 300, 200, nullptr,
                                nullptr, nullptr, &object);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(IsWindow(window));
  EXPECT_EQ(GetWindowLongPtrW(window, GWLP_USERDATA), bound);
  EXPECT_EQ(SendMessageW(window, WM_USER + 1, 21, 0), 42);

  WCHAR text[16] = {};
  EXPECT_EQ(GetWindowTextW(window, text, 16), 5);
  EXPECT_STREQ(text, L"Probe");
  EXPECT_TRUE(SetWindowTextW(window, L"Renamed"));
  EXPECT_EQ(GetWindowTextLengthW(window), 7);
  // A short buffer gets what fits, terminated.
  WCHAR shortText[4] = {L'x', L'x', L'x', L'x'};
  EXPECT_EQ(GetWindowTextW(window, shortText, 4), 3);
  EXPECT_STREQ(shortText, L"Ren");

  EXPECT_TRUE(DestroyWindow(window));
  EXPECT_FALSE(IsWindow(window));
  EXPECT_FALSE(DestroyWindow(window));

  // Bound from WM_NCCREATE on; still bound while the window is taken down.
  const std::vector<std::pair<UINT, LONG_PTR>> expected = {
      {WM_NCCREATE, 0}, {WM_CREATE, bound}, {WM_USER + 1, bound}, {WM_DESTROY, bound}, {WM_NCDESTROY, bound}};
  std::vector<std::pair<UINT, LONG_PTR>> seen;
  for (const Seen& s : g_seen) seen.push_back({s.msg, s.userData});
  EXPECT_EQ(seen, expected);

  EXPECT_TRUE(UnregisterClassW(kClass, nullptr));
}
