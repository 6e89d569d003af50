// The main window as the install and uninstall procedures see it: the owner of the dialogs that
// Windows shows during an install, and the log list that receives the procedures' lines.
#pragma once

#include "platform/win32.h"

class TMainWindow {
 public:
  HWND Handle = nullptr;  // the top-level window
  HWND lbLog = nullptr;   // its log list
};

// The window's handle; 0 for none.
HWND WindowHandle(TMainWindow* Window);

// Appends one line to the window's log list; nothing without a window.
void AddLogLine(TMainWindow* Window, const WCHAR* Line);
