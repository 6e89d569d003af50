// The main window of an interactive run: a log list on the left, Install and Uninstall at the
// top right and Exit at the bottom right. The install and uninstall procedures take it as their
// window: their lines go to its list, its handle owns the install dialogs and receives the
// uninstall's progress texts (WM_ADDLOG).
//
// The message path, from a click to the log list:
// - Binding: each control is subclassed when it is created, in CControl::Bind (clib/control.cpp):
//   its object goes into GWLP_USERDATA and ApiWndProc becomes its window procedure. The class
//   registration has nothing to do with it ("CLibApiWnd" names DefWindowProcW).
// - A click: the button's own window procedure (BUTTON's, behind ApiWndProc) sends WM_COMMAND with
//   BN_CLICKED to its parent, this window. ApiWndProc hands it to this object's WndProc, whose
//   CControl::WMCommand finds the button's object from the message's window handle (ControlOf)
//   and calls its DoCommand; CButton::DoClick then calls OnClick, which is btnInstallClick,
//   btnRemoveClick or btnExitClick. The command is consumed: the parent's DefWindowProcW never
//   sees it.
// - Lines: Install writes its lines straight into lbLog as UTF-16 (AddLogLine), since the install
//   steps are this program's own and hold this window. Uninstall's lines come from the removal in
//   driverinstall, which is shared and knows no window class: it sends each ANSI text with
//   SendMessageW(handle, WM_ADDLOG, text, 0), and WMAddLog decodes it from the ANSI code page
//   before the send returns. Any program on the desktop can send or post WM_ADDLOG too, with any
//   wParam: a text is read only while DoUninstall's removal runs and only from a send of this
//   thread (InSendMessageEx); every other WM_ADDLOG goes on untouched.
#pragma once

#include "clib/clib.h"

class TMainWindow : public CMainWindow {
 public:
  // The window with its four controls, each shown at the margins' corner (8, 8); the window itself
  // stays hidden. The first layout comes with the first size.
  void Create();
  // The window and all four controls exist.
  bool Complete() const;

  CButton* btnInstall;
  CListBox* lbLog;
  CButton* btnExit;
  CButton* btnRemove;

  // Whether WM_ADDLOG texts are taken (DoUninstall, for the run of its removal); the previous value.
  bool TakeProgress(bool Takes);

  void btnInstallClick(void* Sender);
  void btnRemoveClick(void* Sender);
  void btnExitClick(void* Sender);

 protected:
  // The layout: a column of buttons 128 wide, 8 from the right, the list filling the rest,
  // margins of 8 (mainwindow.cpp: Margin, ButtonWidth).
  void DoSize() override;
  const TMessageMap* Messages() const override { return &MessageTable; }
  // WM_GETMINMAXINFO: lParam points to the MINMAXINFO; the message goes on.
  void WMGetMinMaxInfo(TControlMessage& Message);
  // WM_ADDLOG: wParam points to an ANSI text to append to the list, when the uninstall of this
  // window sent it; the message goes on.
  void WMAddLog(TControlMessage& Message);
  static const TMessageEntry MessageEntries[];
  static const TMessageMap MessageTable;

 private:
  // True while DoUninstall runs for this window: the one time a progress text is expected.
  bool fTakesProgress;
};

// The window's handle; 0 for none.
HWND WindowHandle(TMainWindow* Window);

// The main window of this handle (the main window's own), found again after a call that can run
// its messages: a step's pump, an install call (Windows may show a dialog that the window owns),
// the hand-over's wait. A WM_CLOSE taken there destroys the window and frees the object; null
// then, and the caller goes on as in a silent run.
TMainWindow* MainWindowOf(HWND Handle);

// Appends one line to the window's log list; nothing without a window.
void AddLogLine(TMainWindow* Window, const WCHAR* Line);
