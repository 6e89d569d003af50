// The harness on Windows and Wine: one process runs every test, so each test must leave the
// thread as it found it. Also the program's entry.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "harness.h"

namespace {

// A crash inside a window procedure need not end the program: for the messages that the system
// sends by itself (WM_CREATE during CreateWindowExW, WM_DESTROY during DestroyWindow, WM_MOVE
// during MoveWindow) Wine, like 64-bit Windows, swallows it and the call goes on. A vectored
// handler sees every exception first, so such a crash still fails the test. A fixed table: the
// handler may run with a corrupted heap.
struct Fault {
  DWORD code;
  void* address;
};
Fault g_faults[16];
int g_faultCount = 0;

LONG CALLBACK WatchFaults(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* r = info->ExceptionRecord;
  // Severity "error" (0xC...): access violations, illegal instructions, divisions by zero, stack
  // overflow, heap corruption. Debug output and the like are informational and pass.
  if ((r->ExceptionCode & 0xC0000000) == 0xC0000000 && g_faultCount < 16)
    g_faults[g_faultCount++] = {r->ExceptionCode, r->ExceptionAddress};
  return EXCEPTION_CONTINUE_SEARCH;
}

// A crash that nothing handles ends the program; say in which test, as the runner sees only the
// exit code.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info) {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::printf("[  CRASH   ] exception 0x%08lx at %p in %s.%s\n", info->ExceptionRecord->ExceptionCode,
              info->ExceptionRecord->ExceptionAddress, test ? test->test_suite_name() : "(no test)",
              test ? test->name() : "");
  std::fflush(stdout);
  return EXCEPTION_EXECUTE_HANDLER;
}

// A test that waits for ever (a modal loop, a box nobody answers) would hold up the whole run
// until the runner's limit; the watchdog ends the program naming the test. The limit is
// CLIB_TEST_TIMEOUT seconds (default 60, 0: none).
volatile LONG g_phase = 0;  // odd while a test runs; changes at every SetUp and TearDown
const char* g_suite = "";
const char* g_test = "";

DWORD WINAPI Watchdog(void* limitMs) {
  const DWORD limit = DWORD(reinterpret_cast<UINT_PTR>(limitMs));
  LONG seen = -1;
  DWORD since = GetTickCount();
  for (;;) {
    Sleep(500);
    LONG phase = g_phase;
    if (phase != seen) {
      seen = phase;
      since = GetTickCount();
    } else if ((phase & 1) && GetTickCount() - since > limit) {
      std::printf("[  HANG    ] %s.%s still runs after %lu s\n", g_suite, g_test, limit / 1000);
      std::fflush(stdout);
      TerminateProcess(GetCurrentProcess(), 3);
    }
  }
}

void StartWatchdog() {
  DWORD seconds = 60;
  char value[16];
  DWORD length = GetEnvironmentVariableA("CLIB_TEST_TIMEOUT", value, sizeof value);
  if (length > 0 && length < sizeof value) seconds = DWORD(std::strtoul(value, nullptr, 10));
  if (seconds == 0) return;
  HANDLE thread = CreateThread(nullptr, 0, Watchdog, reinterpret_cast<void*>(UINT_PTR(seconds) * 1000), 0, nullptr);
  if (thread) CloseHandle(thread);
}

// The system's own windows of the thread (the input-method windows, made with the thread's first
// window) are not the test's to destroy.
bool SystemWindow(HWND window) {
  WCHAR name[32] = {};
  GetClassNameW(window, name, 32);
  return lstrcmpiW(name, L"IME") == 0 || lstrcmpiW(name, L"MSCTFIME UI") == 0;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
  if (!SystemWindow(window)) reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}

std::vector<HWND> ThreadWindows() {
  std::vector<HWND> windows;
  EnumThreadWindows(GetCurrentThreadId(), CollectWindow, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

}  // namespace

// The top-level windows of the thread before the test.
struct ClibTest::Platform {
  std::vector<HWND> before;
};

ClibTest::ClibTest() = default;
ClibTest::~ClibTest() = default;

void ClibTest::SetUp() {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  g_suite = test->test_suite_name();
  g_test = test->name();
  InterlockedIncrement(&g_phase);
  platform_ = std::make_unique<Platform>();
  platform_->before = ThreadWindows();
  g_faultCount = 0;
  RegisterWndClass();
}

void ClibTest::TearDown() {
  // Destroying a top-level window destroys its children too, so a child met later in the list
  // may already be gone.
  for (HWND window : ThreadWindows()) {
    bool old = false;
    for (HWND b : platform_->before) old = old || b == window;
    if (!old && IsWindow(window)) DestroyWindow(window);
  }
  // A new winsim process starts with an empty queue; so does the next test here (a WM_QUIT left
  // by a destroyed main window would otherwise end the next test's message pump).
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
  UnregisterWndClass();
  for (int i = 0; i < g_faultCount; ++i)
    ADD_FAILURE() << "exception 0x" << std::hex << g_faults[i].code << " at " << g_faults[i].address
                  << " during the test (swallowed by the platform)";
  g_faultCount = 0;
  platform_.reset();
  InterlockedIncrement(&g_phase);
}

bool OnWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

int main(int argc, char** argv) {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  AddVectoredExceptionHandler(1, WatchFaults);
  SetUnhandledExceptionFilter(ReportCrash);
  ::testing::InitGoogleTest(&argc, argv);
  StartWatchdog();
  std::printf("clib_tests: %s\n", OnWine() ? "on Wine" : "on Windows");
  return RUN_ALL_TESTS();
}
