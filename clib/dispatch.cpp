// The message path: the window class, the shared window procedure, the per-class dispatch and
// the handlers that every control has.
#include "clib/clib.h"

const WCHAR ApiWndClassName[] = L"CLibApiWnd";

namespace {

// Held for the program's lifetime, as the class was registered with it.
WNDCLASSEXW WndClass;

}  // namespace

void RegisterWndClass() {
  static bool finalizationAdded = false;
  WndClass.cbSize = sizeof(WndClass);
  WndClass.style = CS_VREDRAW | CS_HREDRAW;
  WndClass.lpfnWndProc = DefWindowProcW;
  WndClass.hInstance = GetModuleHandleW(nullptr);
  WndClass.lpszClassName = ApiWndClassName;
  RegisterClassExW(&WndClass);  // a failure shows when the first window cannot be made
  InitCommonControls();
  if (!finalizationAdded) finalizationAdded = AddFinalization(UnregisterWndClass);
}

void UnregisterWndClass() { UnregisterClassW(ApiWndClassName, GetModuleHandleW(nullptr)); }

CControl* ControlOf(HWND Window) {
  // Only a window of ours holds a control in GWLP_USERDATA; any other may hold anything.
  if (!Window || GetWindowLongPtrW(Window, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(ApiWndProc)) return nullptr;
  return reinterpret_cast<CControl*>(GetWindowLongPtrW(Window, GWLP_USERDATA));
}

LRESULT CALLBACK ApiWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  CControl* obj = reinterpret_cast<CControl*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
  if (!obj) return DefWindowProcW(hWnd, uMsg, wParam, lParam);
  // Taken first: the dispatch may free the object (WM_NCDESTROY, or a handler closing it).
  WNDPROC prev = obj->fDefWindowProc;
  if (obj->WndProc(uMsg, wParam, lParam) != 0)
    return prev ? CallWindowProcW(prev, hWnd, uMsg, wParam, lParam) : DefWindowProcW(hWnd, uMsg, wParam, lParam);
  return 0;
}

LRESULT CControl::WndProc(UINT Msg, WPARAM WParam, LPARAM LParam) {
  TControlMessage message = {Msg, WParam, LParam, 1};
  // Registered messages (0xC000 and up) and 0 never reach a handler.
  if (Msg < 1 || Msg > 0xBFFF) return message.Result;
  for (const TMessageMap* map = Messages(); map; map = map->Base)
    for (int i = 0; i < map->Count; ++i)
      if (map->Entries[i].Msg == Msg) {
        (this->*map->Entries[i].Handler)(message);
        return message.Result;  // the object may be gone: only the record is read
      }
  return message.Result;
}

const TMessageEntry CControl::MessageEntries[] = {
    {WM_MOVE, &CControl::WMMove},           {WM_SIZE, &CControl::WMSize},
    {WM_PAINT, &CControl::WMPaint},         {WM_ERASEBKGND, &CControl::WMEraseBkgnd},
    {WM_NOTIFY, &CControl::WMNotify},       {WM_NCDESTROY, &CControl::WMNCDestroy},
    {WM_COMMAND, &CControl::WMCommand},
};
const TMessageMap CControl::MessageTable = MapOf(nullptr, CControl::MessageEntries);

// WM_MOVE: reads the window rectangle, not lParam; a child's corner in its parent's client area.
void CControl::WMMove(TControlMessage&) {
  RECT r = {};
  if (!::GetWindowRect(wnd, &r)) return;  // the cache keeps what it knew
  POINT corner = {r.left, r.top};
  if (fParent && (GetStyle() & WS_CHILD)) ScreenToClient(fParent->wnd, &corner);
  fLeft = corner.x;
  fTop = corner.y;
  DoMove();
}

// WM_SIZE: the window size from its rectangle, the client size from lParam's unsigned words.
void CControl::WMSize(TControlMessage& Message) {
  RECT r = {};
  if (!::GetWindowRect(wnd, &r)) return;
  fWidth = r.right - r.left;
  fHeight = r.bottom - r.top;
  fClientWidth = LOWORD(Message.LParam);
  fClientHeight = HIWORD(Message.LParam);
  DoSize();
}

// WM_PAINT: whatever DoPaint answers.
void CControl::WMPaint(TControlMessage& Message) { Message.Result = DoPaint(); }

// WM_ERASEBKGND: wParam is the device context.
void CControl::WMEraseBkgnd(TControlMessage& Message) {
  Message.Result = DoEraseBkgnd(reinterpret_cast<HDC>(Message.WParam));
}

// WM_NOTIFY: lParam points to the sender's NMHDR; the sending control answers.
void CControl::WMNotify(TControlMessage& Message) {
  const NMHDR* header = reinterpret_cast<const NMHDR*>(Message.LParam);
  CControl* child = header ? ControlOf(header->hwndFrom) : nullptr;
  Message.Result = child ? child->DoNotify(header->idFrom, header->code) : 1;
}

// WM_NCDESTROY: the window's last message frees the object, unless Destroy is freeing it.
void CControl::WMNCDestroy(TControlMessage&) {
  if (fDestroying) return;
  fDestroying = true;
  Destroy();
}

// WM_COMMAND: lParam is the sending control's window; wParam holds its code and id.
void CControl::WMCommand(TControlMessage& Message) {
  CControl* child = ControlOf(reinterpret_cast<HWND>(Message.LParam));
  if (!child) return;  // a menu, an accelerator or a foreign window: passed on
  Message.Result = 0;
  child->DoCommand(HIWORD(Message.WParam), LOWORD(Message.WParam));
}

LRESULT CControl::DoEraseBkgnd(HDC) { return 1; }
LRESULT CControl::DoNotify(UINT_PTR, UINT) { return 1; }
void CControl::DoCommand(WORD, WORD) {}
