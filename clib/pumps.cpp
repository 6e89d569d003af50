#include "clib/clib.h"

namespace {
TFinalization Finalizations[8];
int FinalizationCount = 0;
}  // namespace

bool AddFinalization(TFinalization Step) {
  if (FinalizationCount == int(sizeof(Finalizations) / sizeof(Finalizations[0]))) return false;
  Finalizations[FinalizationCount++] = Step;
  return true;
}

void EndProgram(UINT ExitCode) {
  while (FinalizationCount > 0) Finalizations[--FinalizationCount]();
  ExitProcess(ExitCode);
}

void ProcessMessages() {
  MSG msg;
  while (PeekMessageW(&msg, 0, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) EndProgram(UINT(msg.wParam));
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void RunMessageLoop() {
  MSG msg;
  for (;;) {
    BOOL r = GetMessageW(&msg, 0, 0, 0);
    if (r == 0) EndProgram(UINT(msg.wParam));
    if (r == -1) continue;  // a failed call: nothing was taken, wait again
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}
