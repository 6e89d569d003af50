// The two message pumps and the orderly end of the program.
#include "clib/clib.h"
#include "support.h"

using winsim::Machine;

namespace {

LRESULT CALLBACK RecordingProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_USER + 5) {
    WCHAR text[32] = L"dispatched ";
    text[11] = WCHAR(L'0' + wp);
    OutputDebugStringW(text);
    return 0;
  }
  return DefWindowProcW(h, msg, wp, lp);
}

HWND MakeWindow() {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = RecordingProc;
  wc.lpszClassName = L"PumpTest";
  RegisterClassW(&wc);
  return CreateWindowExW(0, L"PumpTest", L"", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
}

void Finalize() { OutputDebugStringW(L"finalized"); }

}  // namespace

TEST(ProcessMessages, EmptyQueueReturnsAtOnce) {
  Machine m;
  winsim::ProcessResult r = winsim::RunProcess(m, {}, [] { ProcessMessages(); });
  EXPECT_TRUE(r.returned);
  EXPECT_EQ(m.Calls("PeekMessageW").size(), 1u);
  auto peek = m.Calls("PeekMessageW")[0].args;
  EXPECT_EQ(peek["hWnd"], 0);
  EXPECT_EQ(peek["wMsgFilterMin"], 0);
  EXPECT_EQ(peek["wMsgFilterMax"], 0);
  EXPECT_EQ(peek["wRemoveMsg"], PM_REMOVE);
}

TEST(ProcessMessages, DispatchesEveryWaitingMessageTranslatedFirst) {
  Machine m;
  winsim::ProcessResult r = winsim::RunProcess(m, {}, [] {
    HWND w = MakeWindow();
    for (int i = 1; i <= 3; ++i) PostMessageW(w, WM_USER + 5, WPARAM(i), 0);
    ProcessMessages();
    OutputDebugStringW(L"returned");
  });
  EXPECT_TRUE(r.returned);
  EXPECT_EQ(m.debugLines, (std::vector<std::string>{"dispatched 1", "dispatched 2", "dispatched 3", "returned"}));
  std::vector<std::string> order;
  for (const std::string& fn : m.CallNames())
    if (fn == "TranslateMessage" || fn == "DispatchMessageW") order.push_back(fn);
  EXPECT_EQ(order, (std::vector<std::string>{"TranslateMessage", "DispatchMessageW", "TranslateMessage",
                                             "DispatchMessageW", "TranslateMessage", "DispatchMessageW"}));
}

TEST(ProcessMessages, QuitEndsTheProgramWithItsCode) {
  Machine m;
  winsim::ProcessResult r = winsim::RunProcess(m, {}, [] {
    AddFinalization(Finalize);
    HWND w = MakeWindow();
    PostMessageW(w, WM_USER + 5, 1, 0);
    PostQuitMessage(42);
    ProcessMessages();
    OutputDebugStringW(L"caller went on");
  });
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.exitCode, 42u);
  // Posted messages come before the quit; the finalisation runs before the process ends.
  EXPECT_EQ(m.debugLines, (std::vector<std::string>{"dispatched 1", "finalized"}));
}

TEST(RunMessageLoop, FailedGetMessageDoesNotEndTheLoop) {
  Machine m;
  m.Fail("GetMessageW", ERROR_INVALID_HANDLE, 1);
  m.Fail("GetMessageW", ERROR_INVALID_HANDLE, 2);
  winsim::ProcessResult r = winsim::RunProcess(m, {}, [] {
    HWND w = MakeWindow();
    PostMessageW(w, WM_USER + 5, 7, 0);
    PostQuitMessage(0);
    RunMessageLoop();
  });
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_EQ(m.Calls("GetMessageW").size(), 4u);
  EXPECT_EQ(m.debugLines, (std::vector<std::string>{"dispatched 7"}));
}

TEST(RunMessageLoop, QuitCodeBecomesTheExitCodeAfterFinalisation) {
  Machine m;
  winsim::ProcessResult r = winsim::RunProcess(m, {}, [] {
    AddFinalization(Finalize);
    PostQuitMessage(3);
    RunMessageLoop();
  });
  EXPECT_EQ(r.exitCode, 3u);
  EXPECT_EQ(m.debugLines, (std::vector<std::string>{"finalized"}));
  EXPECT_EQ(m.Calls("ExitProcess").size(), 1u);
}

// A program that waits for input that never comes is stopped, not left hanging.
TEST(RunMessageLoop, WaitingWithoutInputIsStopped) {
  Machine m;
  winsim::ProcessResult r = winsim::RunProcess(m, {}, [] { RunMessageLoop(); });
  EXPECT_FALSE(r.exited);
  EXPECT_NE(r.stopped.find("waits for input"), std::string::npos);
}
