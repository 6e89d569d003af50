// The main window: its controls, layout, progress lines and the three buttons' handlers.
#include "install/Install.h"

namespace {

// The layout: the margin on every side and between the buttons, and the width of the button column.
const int Margin = 8;
const int ButtonWidth = 128;

// A button of the column, at (Margin, Margin) and ButtonWidth wide, with its text and handler;
// null when it could not be made whole (a button without window or text is of no use to the user).
CButton* NewButton(TMainWindow* Window, const WCHAR* Text, TButtonClickEvent OnClick) {
  CButton* b = New<CButton>(Window);
  if (!b) return nullptr;
  if (!b->Handle() || !b->SetText(Text)) {
    b->Destroy();
    return nullptr;
  }
  b->Move(Margin, Margin);
  b->SetWidth(ButtonWidth);
  b->SetOnClick(OnClick);
  return b;
}

}  // namespace

const TMessageEntry TMainWindow::MessageEntries[] = {
    {WM_GETMINMAXINFO, static_cast<TMessageHandler>(&TMainWindow::WMGetMinMaxInfo)},
    {WM_ADDLOG, static_cast<TMessageHandler>(&TMainWindow::WMAddLog)},
};
const TMessageMap TMainWindow::MessageTable = MapOf(&CMainWindow::MessageTable, TMainWindow::MessageEntries);

void TMainWindow::Create() {
  CMainWindow::Create();
  if (!wnd) return;  // no window: the caller tells the user
  btnInstall = NewButton(this, L"Install", MakeEvent<TButtonClickEvent, TMainWindow, &TMainWindow::btnInstallClick>(this));
  if (btnInstall) {
    btnInstall->SetDefPushButton(true);
    btnInstall->Show();
  }
  btnRemove = NewButton(this, L"Uninstall", MakeEvent<TButtonClickEvent, TMainWindow, &TMainWindow::btnRemoveClick>(this));
  if (btnRemove) btnRemove->Show();
  btnExit = NewButton(this, L"Exit", MakeEvent<TButtonClickEvent, TMainWindow, &TMainWindow::btnExitClick>(this));
  if (btnExit) btnExit->Show();
  lbLog = New<CListBox>(this);
  if (lbLog && !lbLog->Handle()) {
    lbLog->Destroy();
    lbLog = nullptr;
  }
  if (lbLog) {
    lbLog->Move(Margin, Margin);
    lbLog->Show();
  }
}

bool TMainWindow::Complete() const { return wnd && btnInstall && btnRemove && btnExit && lbLog; }

void TMainWindow::DoSize() {
  // Each setter moves its control at once, so each step reads what the steps before made. The
  // top margin of Install and the list, and the list's left margin, are not set here: they come
  // from the controls' creation at (Margin, Margin) in Create.
  if (!btnInstall || !btnRemove || !btnExit || !lbLog) return;
  btnInstall->SetLeft(ClientWidth() - btnInstall->Width() - Margin);
  btnRemove->SetLeft(btnInstall->Left());
  btnRemove->SetTop(btnInstall->Top() + btnInstall->Height() + Margin);
  btnExit->SetLeft(btnInstall->Left());
  btnExit->SetTop(ClientHeight() - btnExit->Height() - Margin);
  lbLog->SetWidth(btnInstall->Left() - lbLog->Left() - Margin);
  lbLog->SetHeight(ClientHeight() - lbLog->Top() - Margin);
}

void TMainWindow::WMGetMinMaxInfo(TControlMessage& Message) {
  MINMAXINFO* info = reinterpret_cast<MINMAXINFO*>(Message.LParam);
  if (!info) return;
  info->ptMinTrackSize.x = 600;
  info->ptMinTrackSize.y = 320;
}

void TMainWindow::WMAddLog(TControlMessage& Message) {
  // Only the uninstall's own sends carry a text of this process: another thread's or program's
  // wParam, sent or posted, is never read. The uninstall pumps no messages, so nothing posted is
  // dispatched while it runs.
  if (!fTakesProgress || InSendMessageEx(nullptr) != ISMEX_NOSEND) return;
  const char* text = reinterpret_cast<const char*>(Message.WParam);
  // A text the heap could not hold is not cut short.
  if (!text || !lbLog) return;
  WideText line;
  if (AppendAnsiAsWide(line, text)) lbLog->AddString(line.c_str());
}

void TMainWindow::btnInstallClick(void*) {
  if (lbLog) lbLog->Clear();
  DoInstall(this);
}

void TMainWindow::btnRemoveClick(void*) { DoUninstall(this); }

bool TMainWindow::TakeProgress(bool Takes) {
  bool previous = fTakesProgress;
  fTakesProgress = Takes;
  return previous;
}

void TMainWindow::btnExitClick(void*) { Close(); }

HWND WindowHandle(TMainWindow* Window) { return Window ? Window->Handle() : nullptr; }

// While the window lives, its user data holds its object; a window that has gone holds none.
TMainWindow* MainWindowOf(HWND Handle) { return static_cast<TMainWindow*>(ControlOf(Handle)); }

void AddLogLine(TMainWindow* Window, const WCHAR* Line) {
  if (Window && Window->lbLog) Window->lbLog->AddString(Line);
}
