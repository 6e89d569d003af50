#include "install/MainWindow.h"

HWND WindowHandle(TMainWindow* Window) { return Window ? Window->Handle : nullptr; }

void AddLogLine(TMainWindow* Window, const WCHAR* Line) {
  if (Window) SendMessageW(Window->lbLog, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Line));
}
