// clib: the control library. A small class library over Win32 windows: one window class
// "CLibApiWnd", one shared window procedure, the controls, fonts and brushes, the message pumps.
//
// Roles, for a newcomer:
//   ApiWndProc       routes: every control window is subclassed to it; it finds the object in
//                    GWLP_USERDATA and hands it the message.
//   WndProc          dispatches per object: wraps the message in a TControlMessage and calls the
//                    handler of the most derived class that has one.
//   WMxxx            handlers: decode one message each.
//   Doxxx            what subclasses override (DoSize, DoEraseBkgnd, DoCommand, DoClick...).
//   fDefWindowProc   the window's procedure before the subclassing: where unhandled messages end.
//
// The Result convention: a handler leaves Result nonzero to pass the message on to
// fDefWindowProc, and sets it to 0 to consume it (the window procedure then answers 0).
//
// Lifetime: controls live on the heap, made with New<T>() (every field starts zero, then its
// creation runs as class T). The library frees each object when its window receives
// WM_NCDESTROY; Destroy() frees it the other way round (object first, window with it).
#pragma once

#include <cstdlib>

#include "platform/text.h"
#include "platform/win32.h"

// ---- Program start and end ----

// A step that runs when the program ends in the orderly way.
typedef void (*TFinalization)();

// Registers a finalisation step; the steps run last registered first. False when no room is left.
bool AddFinalization(TFinalization Step);

// Ends the program in the orderly way: the finalisation steps run, then the process exits with
// ExitCode. Objects and windows that still exist are not freed first.
[[noreturn]] void EndProgram(UINT ExitCode);

// The name of the library's window class.
extern const WCHAR ApiWndClassName[];

// The library's initialisation: registers "CLibApiWnd" and initialises the common controls; the
// first call also registers UnregisterWndClass as a finalisation step.
void RegisterWndClass();
// The library's finalisation: unregisters "CLibApiWnd".
void UnregisterWndClass();

// Dispatches every message waiting in the thread's queue and returns; WM_QUIT ends the program.
void ProcessMessages();

// The blocking main loop: dispatches messages until WM_QUIT, which ends the program.
[[noreturn]] void RunMessageLoop();

// ---- Messages and events ----

// One message as the handlers see it; Result starts at 1 (see the convention above).
struct TControlMessage {
  UINT Msg;
  WPARAM WParam;
  LPARAM LParam;
  LRESULT Result;
};

class CControl;
typedef void (CControl::*TMessageHandler)(TControlMessage& Message);
struct TMessageEntry {
  UINT Msg;
  TMessageHandler Handler;
};
// A class's handlers, and the table of its base class.
struct TMessageMap {
  const TMessageMap* Base;
  const TMessageEntry* Entries;
  int Count;
};
template <size_t N>
constexpr TMessageMap MapOf(const TMessageMap* Base, const TMessageEntry (&Entries)[N]) {
  return {Base, Entries, int(N)};
}

// Event handlers: a method pointer of two words, the code and the object it is called on. The
// library calls one only when its code is set, with the raising control as Sender.
typedef void (*TEventCode)(void* Self, void* Sender);
struct TButtonClickEvent {
  TEventCode Code;
  void* Data;
};
struct TNotification {
  TEventCode Code;
  void* Data;
};

template <class T, void (T::*Method)(void* Sender)>
void EventThunk(void* Self, void* Sender) {
  (static_cast<T*>(Self)->*Method)(Sender);
}
// An event that calls Method on Object: MakeEvent<TButtonClickEvent, T, &T::Handler>(this).
template <class TEvent, class T, void (T::*Method)(void* Sender)>
TEvent MakeEvent(T* Object) {
  TEvent e = {&EventThunk<T, Method>, Object};
  return e;
}

// The shared window procedure of every control window.
LRESULT CALLBACK ApiWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

// The control object of a window of this library; null for any other window.
CControl* ControlOf(HWND Window);

// Makes a control of class T: on the heap, every field zero (value-initialised, whatever the
// allocator gives), then created as class T. Null only when the heap refused; a control whose
// window could not be made has Handle() 0.
template <class T, class... A>
T* New(A... Args) {
  T* c = new T();
  if (c) c->Create(Args...);
  return c;
}

// ---- Fonts and brushes ----

// A font description and the font handle made from it; tells its owner's window of each handle.
class CFont {
 public:
  // Objects of the library start zero-filled, on the C heap.
  static void* operator new(size_t Size) noexcept { return std::calloc(1, Size); }
  static void operator delete(void* Block) noexcept { std::free(Block); }

  explicit CFont(CControl* AOwner);
  ~CFont();
  CFont(const CFont&) = delete;
  CFont& operator=(const CFont&) = delete;

  // Loads the system's message font (or the fallback font) and rebuilds the handle.
  void CreateFnt();
  // Takes the whole description of AFont and rebuilds the handle, even when they are equal.
  void CopyOf(const CFont* AFont);

  HFONT Handle() const { return hFnt; }
  const LOGFONTW& LogFont() const { return lf; }
  LONG GetHeight() const { return lf.lfHeight; }
  void SetHeight(LONG Value);
  LONG GetWeight() const { return lf.lfWeight; }
  void SetWeight(LONG Value);
  // The face name up to its first NUL, all 32 characters when it has none.
  bool GetName(WideText& Name) const;
  void SetName(const WCHAR* Value);

 private:
  void RecreateFnt();

  LOGFONTW lf;
  HFONT hFnt;
  CControl* fOwner;
};

// A solid brush and its handle.
class CBrush {
 public:
  static void* operator new(size_t Size) noexcept { return std::calloc(1, Size); }
  static void operator delete(void* Block) noexcept { std::free(Block); }

  CBrush();
  ~CBrush();
  CBrush(const CBrush&) = delete;
  CBrush& operator=(const CBrush&) = delete;

  HBRUSH Handle() const { return hbr; }
  COLORREF GetColor() const { return logbrush.lbColor; }
  void SetColor(COLORREF Value);

 private:
  HBRUSH hbr;
  LOGBRUSH logbrush;
};

// ---- The control base class ----

class CControl {
 public:
  static void* operator new(size_t Size) noexcept { return std::calloc(1, Size); }
  static void operator delete(void* Block) noexcept { std::free(Block); }
  CControl(const CControl&) = delete;
  CControl& operator=(const CControl&) = delete;

  // The creation: font and brush, the window (CreateWnd), its geometry, the binding to
  // ApiWndProc, then Initialize; all as the object's final class.
  void Create(CControl* Parent);
  // Frees the object: Finalize, the window (unless it is already going), the font and brush.
  void Destroy();
  // Ends the control: DoClose, then its window; the object is gone when Close returns.
  void Close();

  virtual void Initialize();
  virtual void Finalize() {}
  virtual void DoCommand(WORD wNotifyCode, WORD wID);

  void Show();
  void Hide();
  void Move(int X, int Y, int nWidth, int nHeight);
  void Move(int X, int Y);
  void SetWindowPos(int X, int Y, int nWidth, int nHeight, HWND hWndInsertAfter, UINT uFlags);
  RECT ClientRect() const;
  RECT GetWindowRect() const;
  // False when Windows refused the text.
  bool SetText(const WCHAR* AText);
  // The window text; false when the heap refused.
  bool GetText(WideText& Text) const;
  void SetFocus();
  void Invalidate();
  void InvalidateRect(RECT r);

  // The geometry cache, kept by WM_MOVE and WM_SIZE.
  int Left() const { return fLeft; }
  int Top() const { return fTop; }
  int Width() const { return fWidth; }
  int Height() const { return fHeight; }
  int ClientWidth() const { return fClientWidth; }
  int ClientHeight() const { return fClientHeight; }
  void SetLeft(int Value);
  void SetTop(int Value);
  void SetWidth(int Value);
  void SetHeight(int Value);

  LONG GetStyle() const;
  void SetStyle(LONG Value);
  bool GetBorder();
  void SetBorder(bool Value);
  bool GetHScroll();
  void SetHScroll(bool Value);
  bool GetVisible() const;
  void SetVisible(bool Value);
  bool GetEnabled() const;
  void SetEnabled(bool Value);
  COLORREF BkColor() const { return fBkColor; }
  void SetBkColor(COLORREF Value);
  COLORREF Color() const { return fColor; }

  HWND Handle() const { return wnd; }
  CControl* Parent() const { return fParent; }
  CFont* Font() const { return fFont; }
  CBrush* BkBrush() const { return fBkBrush; }
  DWORD CreationStyle() const { return fStyle; }
  DWORD CreationStyleEx() const { return fStyleEx; }

 protected:
  CControl() = default;
  virtual ~CControl() = default;

  // Creates the window into wnd; every class that can be made supplies it.
  virtual void CreateWnd() = 0;
  virtual void DoSize() {}
  virtual void DoMove() {}
  virtual LRESULT DoEraseBkgnd(HDC DC);
  virtual LRESULT DoPaint() { return 1; }
  virtual LRESULT WndProc(UINT Msg, WPARAM WParam, LPARAM LParam);
  virtual LRESULT DoNotify(UINT_PTR idFrom, UINT code);
  virtual void DoClose() {}
  // The handler table of the object's class.
  virtual const TMessageMap* Messages() const { return &MessageTable; }

  HWND ParentHandle() const;
  // Reads the new window's geometry and subclasses it; false when Windows refused either.
  bool Bind();
  // Undoes the binding of a window that outlives its object: its previous procedure again, no
  // object in its user data, and no child control that names the object as its parent.
  void Unbind();
  static BOOL CALLBACK ForgetParent(HWND Child, LPARAM Parent);
  bool StyleBit(DWORD Bit);
  void SetStyleBit(DWORD Bit, bool Value);

  // Handlers of every control.
  void WMMove(TControlMessage& Message);
  void WMSize(TControlMessage& Message);
  void WMPaint(TControlMessage& Message);
  void WMEraseBkgnd(TControlMessage& Message);
  void WMNotify(TControlMessage& Message);
  void WMNCDestroy(TControlMessage& Message);
  void WMCommand(TControlMessage& Message);
  static const TMessageEntry MessageEntries[];
  static const TMessageMap MessageTable;

  HWND wnd;
  bool fDestroying;
  CControl* fParent;
  WNDPROC fDefWindowProc;
  DWORD fStyle;
  DWORD fStyleEx;
  CFont* fFont;
  COLORREF fBkColor;
  CBrush* fBkBrush;
  COLORREF fColor;
  int fLeft;
  int fTop;
  int fWidth;
  int fHeight;
  int fClientWidth;
  int fClientHeight;

  friend LRESULT CALLBACK ApiWndProc(HWND, UINT, WPARAM, LPARAM);
};

// ---- Top-level windows ----

// A plain, hidden window of "CLibApiWnd" that paints its background around its visible children.
class CWindow : public CControl {
 public:
  bool GetMinimizeBox() const;
  void SetMinimizeBox(bool Value);
  bool GetSysMenu() const;
  void SetSysMenu(bool Value);
  bool GetThickFrame() const;
  void SetThickFrame(bool Value);
  bool GetToolWindow() const;
  void SetToolWindow(bool Value);

 protected:
  void CreateWnd() override;
  LRESULT DoEraseBkgnd(HDC DC) override;
};

// The window being painted and the region cut out of it, handed to ExcludeChildProc.
struct TExclusionPair {
  HWND Window;
  HRGN Region;
};
// Cuts the window rectangle of each visible direct child out of the pair's region.
BOOL CALLBACK ExcludeChildProc(HWND Child, LPARAM Pair);

// The application's top-level window: no parent, WS_EX_APPWINDOW, and its end ends the program.
class CMainWindow : public CWindow {
 public:
  void Create() { CControl::Create(nullptr); }

 protected:
  void CreateWnd() override;
  const TMessageMap* Messages() const override { return &MessageTable; }
  // WM_DESTROY: posts WM_QUIT 0 and consumes the message.
  void WMDestroy(TControlMessage& Message);
  static const TMessageEntry MessageEntries[];
  static const TMessageMap MessageTable;
};

// ---- Buttons and list boxes ----

// A push button of the system class "BUTTON", as high as its parent's text plus 12.
class CButton : public CControl {
 public:
  void Initialize() override;
  void DoCommand(WORD wNotifyCode, WORD wID) override;
  virtual void DoClick();

  TButtonClickEvent OnClick() const { return fOnClick; }
  void SetOnClick(TButtonClickEvent Value) { fOnClick = Value; }
  bool GetDefPushButton() const;
  void SetDefPushButton(bool Value);

 protected:
  void CreateWnd() override;

  TButtonClickEvent fOnClick;
};

// A list box of the system class "LISTBOX": lines in the order added, line height from its font.
class CListBox : public CControl {
 public:
  void DoCommand(WORD wNotifyCode, WORD wID) override;
  virtual void DoSelChange();

  TNotification OnSelChange() const { return fOnSelChange; }
  void SetOnSelChange(TNotification Value) { fOnSelChange = Value; }

  LRESULT AddString(const WCHAR* s);
  void Clear();
  int Count() const;
  // The line's text; empty for an index outside the list. False when the heap refused.
  bool GetString(int index, WideText& Text) const;
  int GetCurSel() const;
  void SetCurSel(int index);

 protected:
  void CreateWnd() override;
  void DoSize() override;

  TNotification fOnSelChange;
};
