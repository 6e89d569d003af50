// The window system's internals shared by windows.cpp, winpos.cpp, messages.cpp and user32.cpp.
// What the rest of winsim uses of it (FindWindow, Deliver, ...) is in internal.h; the system
// BUTTON and LISTBOX classes are in controls.cpp.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "winsim/internal.h"

namespace winsim::detail {

// Window coordinates stay within the range of GDI's coordinate space, so no sum overflows.
constexpr LONG kMaxCoord = 0x7FFFFFF;

inline LONG Clamp(int64_t v, int64_t lo, int64_t hi) { return LONG(std::min(std::max(v, lo), hi)); }

// A class name may be an atom (MAKEINTATOM): a value below 0x10000, not a pointer.
inline bool IsAtom(LPCWSTR name) { return uintptr_t(name) < 0x10000; }

inline json HwndArg(HWND h) { return {{"hWnd", uintptr_t(h)}}; }

inline bool IsChildWindow(const Window& w) { return (w.style & WS_CHILD) && w.parent; }
inline bool IsOverlapped(DWORD style) { return !(style & (WS_CHILD | WS_POPUP)); }
// A caption with a system menu has a close box; a class without the Close command greys it.
inline bool HasCloseBox(const Window& w) {
  return (w.style & WS_SYSMENU) && (w.style & WS_CAPTION) == WS_CAPTION && !(w.classStyle & CS_NOCLOSE);
}

// Windows and their tree (windows.cpp).
Window* Require(HWND h);  // FindWindow, with ERROR_INVALID_WINDOW_HANDLE when there is none
std::vector<HWND>& Siblings(const Window& w);
HWND Root(HWND h);
bool Within(HWND tree, HWND h);  // `h` is `tree` or one of its descendants
// False when a WH_CBT hook kept a window that DestroyWindow was asked to destroy.
bool DestroyTree(HWND h, bool explicitCall);

// Frames, places, showing and activation (winpos.cpp).
RECT ClientFor(const RECT& r, DWORD style, DWORD ex);
RECT Within(const RECT& c, const RECT& r);
MINMAXINFO DefaultMinMax(const Window& w);
bool AsksMinMax(DWORD style);
void SendSize(HWND h);
void SendMove(HWND h);
void LeaveHidden(HWND h);
bool SetPos(HWND h, HWND after, int x, int y, int cx, int cy, UINT flags, bool stateChanged = false);
enum class State { Normal, Minimized, Maximized };
void ChangeState(HWND h, State to, UINT flags);
BOOL Show(HWND h, int cmd);
void Activate(HWND h);
RECT CloseBoxRect(const Window& w);  // where the close box of the caption is, in screen coordinates
// The modal sizing loop of WM_SYSCOMMAND SC_SIZE: it follows the simulated user's border drag.
void SizeLoop(HWND h, UINT edge);

// The window text as DefWindowProcW keeps it (messages.cpp).
LRESULT CopyText(const std::wstring& text, WPARAM size, LPARAM buffer);

}  // namespace winsim::detail
