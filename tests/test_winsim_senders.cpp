// winsim: messages from other threads and programs, as Windows delivers them. Another thread's
// SendMessageW is handled on the window's thread only when that thread looks for messages
// (before anything posted) or is inside a call that waits on another thread; InSendMessageEx
// says ISMEX_SEND while it is handled, also inside sends of this thread that it leads to.
// PostMessageW from anywhere is queued, and handled as this thread's own (ISMEX_NOSEND).
#include "support.h"

using winsim::Machine;

namespace {

struct Seen {
  UINT msg;
  WPARAM wParam;
  DWORD inSend;
};
std::vector<Seen> g_seen;

// WM_APP+1 is answered; WM_APP+2 sends WM_APP+3 to the same window first.
LRESULT CALLBACK Recorder(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg < WM_APP || msg > WM_APP + 3) return DefWindowProcW(h, msg, wp, lp);
  g_seen.push_back(Seen{msg, wp, InSendMessageEx(nullptr)});
  if (msg == WM_APP + 2) SendMessageW(h, WM_APP + 3, wp, 0);
  return 0;
}

HWND ShownRecorder() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = Recorder;
  wc.lpszClassName = L"Recorder";
  EXPECT_NE(RegisterClassW(&wc), 0);
  HWND h = CreateWindowExW(0, L"Recorder", L"r", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                           nullptr);
  ShowWindow(h, SW_SHOW);
  g_seen.clear();
  return h;
}

void PumpAll() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

std::vector<std::string> Text(const std::vector<Seen>& seen) {
  std::vector<std::string> out;
  for (const Seen& s : seen)
    out.push_back(std::to_string(s.msg - WM_APP) + "/" + std::to_string(s.wParam) +
                  (s.inSend == ISMEX_SEND ? " other thread" : s.inSend == ISMEX_NOSEND ? " own" : " ?"));
  return out;
}

TEST(WinsimSenders, InSendMessageExTellsAnotherThreadsSendFromOwnAndPosted) {
  Machine m;
  winsim::Session s(m);
  HWND h = ShownRecorder();
  SendMessageW(h, WM_APP + 1, 1, 0);
  PostMessageW(h, WM_APP + 1, 2, 0);
  PumpAll();
  m.OtherProgramPosts(WM_APP + 1, 3, 0).whileBusy = true;
  m.OtherProgramSends(WM_APP + 1, 4, 0).whileBusy = true;
  m.OtherProgramSends(WM_APP + 2, 5, 0).whileBusy = true;  // leads to a send of this thread
  PumpAll();
  SendMessageW(h, WM_APP + 1, 6, 0);  // the other thread's send is over
  EXPECT_EQ(Text(g_seen), (std::vector<std::string>{"1/1 own", "1/2 own", "1/3 own", "1/4 other thread",
                                                     "2/5 other thread", "3/5 other thread", "1/6 own"}));
  DestroyWindow(h);
}

// A send of another thread waits for the thread to look for messages, then comes before what
// was posted earlier; within a call that waits on another thread it comes at the call.
TEST(WinsimSenders, AnotherThreadsSendComesFirstWhenTheThreadLooks) {
  Machine m;
  winsim::Session s(m);
  HWND h = ShownRecorder();
  PostMessageW(h, WM_APP + 1, 1, 0);
  m.OtherProgramSends(WM_APP + 1, 2, 0).whileBusy = true;
  m.OtherProgramSends(WM_APP + 1, 3, 0).duringCall = "OutputDebugStringW";
  EXPECT_TRUE(g_seen.empty());  // nothing until the thread looks
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(Text(g_seen), (std::vector<std::string>{"1/2 other thread"}));  // handled inside the peek
  EXPECT_EQ(msg.wParam, 1u);
  DispatchMessageW(&msg);
  PumpAll();
  EXPECT_EQ(g_seen.size(), 2u);  // a pump never takes the one for the call
  OutputDebugStringW(L"waits");
  EXPECT_EQ(Text(g_seen), (std::vector<std::string>{"1/2 other thread", "1/1 own", "1/3 other thread"}));
  EXPECT_TRUE(m.script.empty());
  DestroyWindow(h);
}

}  // namespace
