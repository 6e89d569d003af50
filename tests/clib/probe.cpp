// The probe controls of the shared tests.
#include "probe.h"

#include <cstdio>

namespace probe {

namespace {

const WCHAR ProbeClass[] = L"ClibProbe";

LRESULT CALLBACK ProbeClassProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  Seen().passedOn.push_back({window, msg, wParam, lParam});
  if (msg == WmAnswer) return ClassAnswer;
  return DefWindowProcW(window, msg, wParam, lParam);
}

}  // namespace

Record& Seen() {
  static Record record;
  return record;
}

void Reset() { Seen() = Record(); }

void RegisterProbeClass() {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = ProbeClassProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = ProbeClass;
  RegisterClassW(&wc);  // already there on Windows after the first test
}

int PassedOnCount(HWND window, UINT msg) {
  int n = 0;
  for (const PassedOn& p : Seen().passedOn) n += p.Window == window && p.Msg == msg;
  return n;
}

TProbe::~TProbe() { ++Seen().freed; }

void TProbe::Finalize() { ++Seen().finalized; }

void TProbe::DoCommand(WORD wNotifyCode, WORD wID) {
  Seen().events.push_back(Name + L":command " + std::to_wstring(wNotifyCode) + L"," + std::to_wstring(wID));
}

void TProbe::CreateWnd() {
  fStyle = fParent ? WS_CHILD : 0;
  fStyleEx = 0;
  if (fParent)
    wnd = CreateWindowExW(0, ProbeClass, L"", fStyle, 10, 20, 100, 50, ParentHandle(), nullptr,
                          GetModuleHandleW(nullptr), nullptr);
  else
    wnd = CreateWindowExW(0, ProbeClass, L"", fStyle, 100, 120, 300, 200, nullptr, nullptr,
                          GetModuleHandleW(nullptr), nullptr);
}

LRESULT TProbe::DoNotify(UINT_PTR idFrom, UINT code) {
  Seen().events.push_back(Name + L":notify " + std::to_wstring(idFrom) + L"," + std::to_wstring(code));
  return NotifyAnswer;
}

void TProbe::DoClose() { Seen().events.push_back(Name + L":close"); }

const TMessageEntry TProbe::MessageEntries[] = {
    {WmConsume, static_cast<TMessageHandler>(&TProbe::WMConsume)},
    {WmRegistered, static_cast<TMessageHandler>(&TProbe::WMRegistered)},
};
const TMessageMap TProbe::MessageTable = MapOf(&CControl::MessageTable, TProbe::MessageEntries);

void TProbe::WMConsume(TControlMessage& Message) {
  Seen().events.push_back(Name + L":consume");
  Message.Result = 0;
}

void TProbe::WMRegistered(TControlMessage&) { Seen().events.push_back(Name + L":registered"); }

HWND ForeignWindow(HWND parent, LONG_PTR userData) {
  HWND w = CreateWindowExW(0, ProbeClass, L"", parent ? WS_CHILD : 0, 0, 0, 10, 10, parent, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
  SetWindowLongPtrW(w, GWLP_USERDATA, userData);
  return w;
}

std::vector<std::wstring> Lines(const CListBox* list) {
  std::vector<std::wstring> lines;
  for (int i = 0; i < list->Count(); ++i) {
    WideText t;
    list->GetString(i, t);
    lines.push_back(t.c_str());
  }
  return lines;
}

std::string Describe(const RECT& r) {
  char s[80];
  std::snprintf(s, sizeof s, "(%ld,%ld)-(%ld,%ld)", long(r.left), long(r.top), long(r.right), long(r.bottom));
  return s;
}

}  // namespace probe

std::vector<WPARAM> TakeQuitMessages() {
  std::vector<WPARAM> codes;
  MSG msg;
  // Everything else is dispatched: a visible window's WM_PAINT comes back until it is painted.
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) codes.push_back(msg.wParam);
    else DispatchMessageW(&msg);
  }
  return codes;
}
