// winsim user32: system values, message boxes and beeps, window text, focus and enabling; InitCommonControls.
#include <cstring>

#include "winsim/window_internal.h"

using namespace winsim;
using namespace winsim::detail;
namespace mx = winsim::metrics;

// ---- The internal face shared with the rest of winsim ----

namespace winsim::detail {

HWND SetFocusTo(HWND h) {
  Process& p = P();
  HWND old = p.focus;
  if (old == h) return old;
  if (h && !FindWindow(h)) return nullptr;
  if (h) {
    HWND root = Root(h);
    Window* r = FindWindow(root);
    if (r && root != p.active && (r->style & WS_VISIBLE)) Activate(root);
    old = p.focus;
    if (old == h || !FindWindow(h)) return old;
  }
  if (old && FindWindow(old)) Deliver(old, WM_KILLFOCUS, WPARAM(h), 0);
  if (h && !FindWindow(h)) {
    p.focus = nullptr;
    return old;
  }
  p.focus = h;
  if (h) Deliver(h, WM_SETFOCUS, WPARAM(old), 0);
  return old;
}

}  // namespace winsim::detail

// ---- System values ----

int WINAPI GetSystemMetrics(int nIndex) {
  Enter("GetSystemMetrics", {{"nIndex", nIndex}});
  switch (nIndex) {
    case SM_CXSCREEN: return mx::kScreenWidth;
    case SM_CYSCREEN: return mx::kScreenHeight;
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
    case SM_CYVSCROLL:
    case SM_CXHSCROLL: return mx::kScroll;
    case SM_CYCAPTION: return mx::kCaption;
    case SM_CYSMCAPTION: return mx::kSmallCaption;
    case SM_CXBORDER:
    case SM_CYBORDER: return mx::kBorder;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME: return mx::kFixedFrame;
    case SM_CXFRAME:
    case SM_CYFRAME: return mx::kSizeFrame;
    case SM_CXEDGE:
    case SM_CYEDGE: return mx::kEdge;
    case SM_CXMINTRACK: return mx::kMinTrackWidth;
    case SM_CYMINTRACK: return mx::kMinTrackHeight;
    case SM_CXMAXTRACK: return mx::kMaxTrackWidth;
    case SM_CYMAXTRACK: return mx::kMaxTrackHeight;
    case SM_CXMINIMIZED: return mx::kMinimizedWidth;
    case SM_CYMINIMIZED: return mx::kMinimizedHeight;
    case SM_CXMAXIMIZED: return mx::kScreenWidth + 2 * mx::kSizeFrame;
    case SM_CYMAXIMIZED: return mx::kScreenHeight + 2 * mx::kSizeFrame;
    case SM_SERVERR2: return M().serverR2;
    default: return 0;
  }
}

// The standard scheme of Windows 7.
COLORREF winsim::detail::SysColor(int nIndex) {
  static const COLORREF kColors[] = {
      RGB(200, 200, 200), RGB(0, 0, 0),       RGB(153, 180, 209), RGB(191, 205, 219), RGB(240, 240, 240),
      RGB(255, 255, 255), RGB(100, 100, 100), RGB(0, 0, 0),       RGB(0, 0, 0),       RGB(0, 0, 0),
      RGB(180, 180, 180), RGB(244, 247, 252), RGB(171, 171, 171), RGB(51, 153, 255),  RGB(255, 255, 255),
      RGB(240, 240, 240), RGB(160, 160, 160), RGB(109, 109, 109), RGB(0, 0, 0),       RGB(67, 78, 84),
      RGB(255, 255, 255), RGB(105, 105, 105), RGB(227, 227, 227), RGB(0, 0, 0),       RGB(255, 255, 225),
      RGB(0, 0, 0),       RGB(0, 102, 204),   RGB(185, 209, 234), RGB(215, 228, 242), RGB(51, 153, 255),
      RGB(240, 240, 240)};
  if (nIndex < 0 || nIndex >= int(sizeof kColors / sizeof kColors[0])) return 0;
  return kColors[nIndex];
}

DWORD WINAPI GetSysColor(int nIndex) {
  if (Faulted("GetSysColor", {{"nIndex", nIndex}})) return 0;
  return SysColor(nIndex);
}

namespace {

LOGFONTW SystemFontDescription(const wchar_t* face, LONG height, LONG weight) {
  LOGFONTW lf{};
  lf.lfHeight = height;
  lf.lfWeight = weight;
  lf.lfCharSet = DEFAULT_CHARSET;
  for (int i = 0; face[i] && i < LF_FACESIZE - 1; ++i) lf.lfFaceName[i] = face[i];
  return lf;
}

}  // namespace

BOOL WINAPI SystemParametersInfoW(UINT uiAction, UINT uiParam, PVOID pvParam, UINT fWinIni) {
  if (Faulted("SystemParametersInfoW",
              {{"uiAction", uiAction}, {"uiParam", uiParam}, {"pvParam", pvParam != nullptr}, {"fWinIni", fWinIni}}))
    return FALSE;
  if (uiAction != SPI_GETNONCLIENTMETRICS) Stop("SystemParametersInfoW action " + std::to_string(uiAction) + " is not simulated");
  auto* ncm = static_cast<NONCLIENTMETRICSW*>(pvParam);
  // Windows before Vista knows only the record without iPaddedBorderWidth; later ones take both.
  const UINT full = sizeof(NONCLIENTMETRICSW), legacy = full - sizeof(int);
  bool vista = M().majorVersion >= 6;
  if (!ncm || !(ncm->cbSize == legacy || (vista && ncm->cbSize == full))) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  UINT size = ncm->cbSize;
  std::memset(reinterpret_cast<BYTE*>(ncm) + sizeof(UINT), 0, size - sizeof(UINT));
  LOGFONTW font = vista ? SystemFontDescription(L"Segoe UI", -12, FW_NORMAL)
                        : SystemFontDescription(L"Tahoma", -11, FW_NORMAL);
  ncm->iBorderWidth = mx::kBorder;
  ncm->iScrollWidth = ncm->iScrollHeight = mx::kScroll;
  ncm->iCaptionWidth = ncm->iCaptionHeight = mx::kCaption - 1;
  ncm->iSmCaptionWidth = 12;
  ncm->iSmCaptionHeight = mx::kSmallCaption - 1;
  ncm->iMenuWidth = ncm->iMenuHeight = mx::kCaption - 1;
  ncm->lfCaptionFont = ncm->lfSmCaptionFont = ncm->lfMenuFont = ncm->lfStatusFont = ncm->lfMessageFont = font;
  return TRUE;
}

int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
  MessageBoxRecord r{P().program, Utf8(lpText), Utf8(lpCaption), uint64_t(uintptr_t(hWnd)), uType};
  if (Faulted("MessageBoxW", {{"hWnd", r.owner}, {"lpText", r.text}, {"lpCaption", r.caption}, {"uType", uType}}))
    return 0;
  // The box runs a loop of its own, which dispatches what waits in the queue. A WM_QUIT that waits
  // or that those messages post ends the box at once and stays queued for the program's loop;
  // otherwise the user reads the box and closes it.
  r.endedByQuit = DispatchQueued();
  M().messageBoxes.push_back(r);
  return r.endedByQuit ? 0 : IDOK;
}

BOOL WINAPI MessageBeep(UINT uType) {
  if (Faulted("MessageBeep", {{"uType", uType}})) return FALSE;
  M().beeps.push_back(uType);
  return TRUE;
}

// ---- Text, focus and enabling ----

BOOL WINAPI SetWindowTextW(HWND hWnd, LPCWSTR lpString) {
  if (Faulted("SetWindowTextW", {{"hWnd", uintptr_t(hWnd)}, {"lpString", lpString ? Utf8(lpString) : ""}}))
    return FALSE;
  if (!Require(hWnd)) return FALSE;
  return Deliver(hWnd, WM_SETTEXT, 0, LPARAM(lpString)) ? TRUE : FALSE;
}

int WINAPI GetWindowTextW(HWND hWnd, LPWSTR lpString, int nMaxCount) {
  if (lpString && nMaxCount > 0) lpString[0] = 0;
  if (Faulted("GetWindowTextW", {{"hWnd", uintptr_t(hWnd)}, {"nMaxCount", nMaxCount}})) return 0;
  if (!Require(hWnd) || !lpString || nMaxCount <= 0) return 0;
  return int(Deliver(hWnd, WM_GETTEXT, WPARAM(nMaxCount), LPARAM(lpString)));
}

int WINAPI GetWindowTextLengthW(HWND hWnd) {
  if (Faulted("GetWindowTextLengthW", HwndArg(hWnd))) return 0;
  if (!Require(hWnd)) return 0;
  return int(Deliver(hWnd, WM_GETTEXTLENGTH, 0, 0));
}

HWND WINAPI SetFocus(HWND hWnd) {
  if (Faulted("SetFocus", HwndArg(hWnd))) return nullptr;
  if (hWnd && !Require(hWnd)) return nullptr;
  return SetFocusTo(hWnd);
}

HWND WINAPI GetFocus() {
  if (Faulted("GetFocus")) return nullptr;
  return P().focus;
}

BOOL WINAPI IsWindowEnabled(HWND hWnd) {
  if (Faulted("IsWindowEnabled", HwndArg(hWnd))) return FALSE;
  Window* w = FindWindow(hWnd);
  return w && !(w->style & WS_DISABLED) ? TRUE : FALSE;
}

bool winsim::detail::EnableTo(HWND hWnd, bool enable) {
  Window* w = FindWindow(hWnd);
  if (!w) return false;
  bool wasDisabled = w->style & WS_DISABLED;
  if (enable && wasDisabled) {
    w->style &= ~DWORD(WS_DISABLED);
    Deliver(hWnd, WM_ENABLE, TRUE, 0);
  } else if (!enable && !wasDisabled) {
    Deliver(hWnd, WM_CANCELMODE, 0, 0);
    if ((w = FindWindow(hWnd))) w->style |= WS_DISABLED;
    if (Within(hWnd, P().focus)) SetFocusTo(nullptr);
    Deliver(hWnd, WM_ENABLE, FALSE, 0);
  }
  return wasDisabled;
}

// The previous state: nonzero when the window was disabled.
BOOL WINAPI EnableWindow(HWND hWnd, BOOL bEnable) {
  if (Faulted("EnableWindow", {{"hWnd", uintptr_t(hWnd)}, {"bEnable", bEnable}})) return FALSE;
  if (!Require(hWnd)) return FALSE;
  return EnableTo(hWnd, bEnable != FALSE) ? TRUE : FALSE;
}

void WINAPI InitCommonControls() { Enter("InitCommonControls"); }
