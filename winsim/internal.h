// winsim internals shared by the implementations of the Win32 face.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "winsim/machine.h"

namespace winsim::detail {

struct Window {
  HWND handle = nullptr;
  std::wstring cls;        // the class name as registered
  std::wstring text;
  WNDPROC proc = nullptr;  // the current procedure (the class's until subclassed)
  HWND parent = nullptr;   // child windows: the parent
  HWND owner = nullptr;    // top-level windows: the owner
  DWORD style = 0;
  DWORD exStyle = 0;
  LONG_PTR userData = 0;
  LONG_PTR id = 0;
  HINSTANCE instance = nullptr;
  UINT classStyle = 0;
  HBRUSH classBrush = nullptr;
  // Rectangles in the parent's client coordinates (screen coordinates for top-level windows).
  RECT rect{};
  RECT client{};
  RECT normal{};                  // the restored rectangle while minimised or maximised
  bool restoreToMaximized = false;
  bool needSizeMove = false;      // overlapped windows: WM_SIZE and WM_MOVE wait for the first show
  bool destroying = false;        // WM_DESTROY is on its way: a second DestroyWindow does nothing
  bool closeBoxDown = false;      // the mouse went down on the close box and is not up yet
  std::vector<HWND> children;     // sibling order, top first (creation order)
  bool needsPaint = false;        // update region (the whole client area, or nothing)
  bool needsErase = false;
  // The system classes.
  HFONT font = nullptr;
  bool pressed = false;           // BUTTON: drawn pushed (BM_SETSTATE)
  bool captured = false;          // the mouse went down inside and is not up yet
  bool scrollStyle = false;       // LISTBOX: made with WS_VSCROLL (the bar shows when the lines overflow)
  std::vector<std::wstring> items;  // LISTBOX lines
  int curSel = -1;
  int topIndex = 0;
  int itemHeight = 16;
};

struct WindowClass {
  std::wstring name;
  WNDPROC proc = nullptr;
  UINT style = 0;
  HBRUSH brush = nullptr;
  HINSTANCE instance = nullptr;
  ATOM atom = 0;
};

// A message waiting in the thread's queue, and who put it there.
struct Queued {
  MSG msg;
  bool fromSystem = false;
};

enum class GdiKind { Font, Brush, Region };

struct GdiObject {
  GdiKind kind = GdiKind::Font;
  bool stock = false;
  LOGFONTW font{};
  LOGBRUSH brush{};
  std::vector<RECT> rects;  // a region: disjoint rectangles in y-x bands
};

struct DeviceContext {
  HWND window = nullptr;
  bool paint = false;       // made by BeginPaint (WM_PAINT), ended by EndPaint
  HGDIOBJ font = nullptr;   // selected objects
  HGDIOBJ brush = nullptr;
};

// A device information set: the devices it holds (by device node number) and, per device, the
// compatible-driver list built for it.
struct DeviceInfoSet {
  std::vector<DWORD> members;
  std::map<DWORD, std::vector<Driver>> driverLists;
};

struct ChildProcess {
  int pid = -1;
  std::string program;  // started by CreateProcessA (empty for the test's own runs)
  std::string stateFile;
  bool ended = false;
  DWORD exitCode = STILL_ACTIVE;
  std::string outcome;  // how it ended: "exit", "stop" or "return"
  int handles = 0;  // open handles on it (process and thread)
  uintptr_t processHandle = 0;  // the one of the two that is a process handle
  // The starter's record when the child started; what the starter adds meanwhile is kept.
  size_t callsAtStart = 0;
  size_t debugLinesAtStart = 0;
  size_t messageBoxesAtStart = 0;
  size_t beepsAtStart = 0;
  size_t messagesAtStart = 0;
  size_t snapshotsAtStart = 0;
  size_t missedActionsAtStart = 0;
  std::map<std::string, int> countsAtStart;
};

struct OpenFile {
  std::string path;  // full path
  size_t position = 0;
};

// One simulated process: what Windows keeps per process.
struct Process {
  std::string program = "install";
  int bits = 32;
  std::string currentDirectory;
  std::string imagePath;  // full path of the program file
  std::wstring commandLine;
  DWORD lastError = 0;
  std::set<std::string> loadedModules;  // lower-case names
  // The DLL search for bare names (loader.cpp): the LOAD_LIBRARY_SEARCH flags that
  // SetDefaultDllDirectories set (0: the standard search); SetDllDirectoryW("") takes the current
  // directory out of the standard search.
  DWORD defaultDllDirectories = 0;
  bool currentDirectoryOut = false;
  std::string stateFile;                // where the machine goes when the process ends

  std::map<uintptr_t, Window> windows;
  std::vector<HWND> topLevel;                   // z-order, top first
  std::map<std::wstring, WindowClass> classes;  // lower-case names
  ATOM nextAtom = 0xC000;
  HWND focus = nullptr;
  HWND active = nullptr;
  std::deque<Queued> queue;
  bool quitPosted = false;
  int quitCode = 0;
  Queued lastTaken{};        // the message that GetMessageW or PeekMessageW handed out last
  int paintsUnvalidated = 0;  // WM_PAINTs in a row that left their window unvalidated
  // A border drag of the simulated user, waiting for the sizing loop that its WM_NCLBUTTONDOWN starts.
  HWND dragWindow = nullptr;
  SIZE dragTo{};
  POINT cursor{};  // the mouse cursor, in screen coordinates
  // Messages sent by other threads whose handling has not ended: while one is being handled, the
  // handling of what it leads to (sends of this thread, dispatched messages) is inside it.
  int otherThreadSends = 0;
  std::vector<std::pair<HHOOK, HOOKPROC>> cbtHooks;  // the thread's WH_CBT hooks, the latest first

  std::map<uintptr_t, GdiObject> gdi;
  std::set<uintptr_t> deletedGdi;
  std::map<uintptr_t, DeviceContext> dcs;
  GdiBalance gdiFaults;     // the counters of misuse (the live counts come from the tables)
  std::vector<FillRecord> fills;

  std::map<uintptr_t, DeviceInfoSet> deviceInfoSets;
  int driverListsLeft = 0;  // compatible-driver lists still built when their set was destroyed
  std::map<uintptr_t, std::shared_ptr<ChildProcess>> processHandles;  // process and thread handles
  std::map<uintptr_t, OpenFile> files;
  uintptr_t nextHandle = 0x1000;

  bool Wow64(const Machine& m) const { return bits == 32 && m.Is64Bit(); }
  uintptr_t NewHandle() { return nextHandle += 4; }
};

Machine& M();
Process& P();
void Attach(Machine* m, Process* p);
bool Active();    // a machine and process are set up
bool Attached();  // a machine is set up

// Records the call with its arguments and returns the rule that scripts it, if any.
const Rule* Enter(const char* fn, json args = json::object());
// Enter, and when a rule makes the call fail: sets its error and returns true.
bool Faulted(const char* fn, json args = json::object());

void SetError(DWORD e);

// Text.
std::string Utf8(const WCHAR* s, int n = -1);
std::wstring Wide(const std::string& utf8);
// The code pages (codepage.cpp): 1252, 932 with a subset of its double-byte pairs, and UTF-8.
bool KnownCodePage(UINT cp);
UINT AnsiCodePage();  // the machine's (CP_ACP); 1252 when no machine is set up
bool IsLeadByte(UINT cp, unsigned char c);
// Bytes to UTF-16; never fails: a pair the code page lacks, or a lead byte without its trail
// byte, gives the code page's default character.
std::wstring AnsiToWide(const char* s, size_t n, UINT cp);
// UTF-16 to bytes; what the code page cannot hold becomes defaultChar, or with bestFit a
// look-alike where Windows' best fit has one (1252 only).
std::string WideToAnsi(const WCHAR* s, size_t n, UINT cp, char defaultChar = '?', bool* usedDefault = nullptr,
                       bool bestFit = false);
// MultiByteToWideChar's and WideCharToMultiByte's conversion of n characters in a known code
// page (not CP_ACP), with Windows' rules for the flags and default-character arguments: 0 and the
// text, or the error that the call fails with.
DWORD BytesToWide(UINT cp, DWORD flags, const char* s, size_t n, std::wstring& out);
DWORD WideToBytes(UINT cp, DWORD flags, const WCHAR* s, size_t n, const char* defaultChar, BOOL* usedDefault,
                  std::string& out);
bool ValidUtf8(const std::string& s);  // no ill-formed part (the machine face may hold lone surrogates)
std::string AnsiToUtf8(const char* s, int n = -1);  // bytes of the machine's ANSI code page to UTF-8
// As the A functions give text: best fit, '?' for what the code page cannot hold otherwise.
std::string Utf8ToAnsi(const std::string& utf8);
WCHAR FoldCase(WCHAR c);      // upper-case, as the user's default locale compares
std::string FoldUtf8(const std::string& utf8);  // case-folded copy, for comparisons
bool SameText(const std::string& a, const std::string& b);  // ignoring case

// Paths: full Windows path for `path` as seen from the current process.
std::string FullPath(const std::string& path);
std::string FullPathFrom(const std::string& currentDirectory, const std::string& path);
std::string BaseName(const std::string& path);

// Ends the current process: records it, saves the machine where it goes, exits the host process.
[[noreturn]] void EndProcess(DWORD code);
// Stops a program that can go no further on the simulated machine (waits for input that
// never comes, calls what winsim cannot answer).
[[noreturn]] void Stop(const std::string& why);

// The entries that GetProcAddress can hand out, by name; null for an unknown name.
FARPROC EntryPoint(const std::string& name);

// The loader (loader.cpp): the handle of a module of the system by its name (null: the system
// has none), and the module of a handle that the process has loaded (null: none).
HMODULE ModuleHandle(const std::string& name);
const Module* ModuleOf(HMODULE h);

// A bare-name load by Windows itself on the process's behalf (an installer DLL), by the search
// that the process has set; false when no file of that name is found. A file that is not the
// system's module is code planted in the search path: loading it runs it, and stops the program.
bool SystemLoadsByName(const std::string& name);

// Device information sets: the set of a handle, and the device that a record of it names; each
// sets the last error and gives null when there is none.
Device* DeviceByInst(DWORD devInst);
DeviceInfoSet* SetOf(HDEVINFO h);
Device* DeviceOf(HDEVINFO h, PSP_DEVINFO_DATA data);

// The compatible drivers that Windows lists for a device: its own entries, then every package of
// the driver store whose model lines name one of its hardware or compatible IDs.
std::vector<Driver> CompatibleDrivers(const Device& d);

// The window system (windows.cpp, winpos.cpp, messages.cpp, user32.cpp; their shared internals are
// in window_internal.h): the one path by which winsim delivers a message to a window's current
// procedure, logged on the machine; nothing after a window's WM_NCDESTROY.
Window* FindWindow(HWND h);
LRESULT Deliver(HWND h, UINT msg, WPARAM wp, LPARAM lp, bool fromSystem = true, bool posted = false);
void Notify(HWND child, WORD code);  // WM_COMMAND from a control to its parent
// The loop of a box or dialog of the system: dispatches what waits in the queue until it is empty
// or a WM_QUIT waits; true when a WM_QUIT ends it (the quit stays queued).
bool DispatchQueued();
// EnableWindow without the call record; whether the window was disabled before.
bool EnableTo(HWND h, bool enable);
HWND SetFocusTo(HWND h);             // SetFocus without the call record
bool IsVisibleTree(HWND h);          // WS_VISIBLE on the window and every ancestor
void Invalidate(HWND h, bool erase);
RECT ScreenRect(const Window& w);    // the window rectangle in screen coordinates
POINT ClientOrigin(const Window& w); // the client area's top-left in screen coordinates
void RecalcFrame(HWND h);            // SWP_FRAMECHANGED: the client area from the styles again
COLORREF SysColor(int index);

// The simulated user (user.cpp): takes the next action of the machine's script when it acts on a
// window of this process (only one with whileBusy set when `busyOnly`; only one with inDialog set,
// and only then, when `inDialog`); false when none is taken.
bool TakeUserAction(bool busyOnly, bool inDialog = false);
// Messages that other threads send, at the front of the script: a thread that looks for a message
// handles them before anything posted.
void TakeSentMessages(bool busyOnly);
// The actions for this call (UserAction::duringCall) at its start, in script order.
void TakeCallActions(const char* fn);
std::string NoActionReason();  // why a program waiting for input gets no action
WindowSnapshot SnapshotOf(HWND h);

// The system classes (controls.cpp).
LRESULT CALLBACK ButtonProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);
LRESULT CALLBACK ListBoxProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);

// GDI (gdi32.cpp).
HDC NewDC(HWND window, bool paint);
void EndDC(HDC dc);
int TextHeight(HFONT font);  // the cell height of a font (of the system font for 0 or an unknown handle)
void RecordFill(HDC dc, const std::vector<RECT>& rects, COLORREF color);
// The colour of a brush object or of a system-colour brush value (COLOR_xxx + 1); false for neither.
bool BrushColor(HBRUSH brush, COLORREF& color);
GdiBalance CountGdi(const Process& p);

// Starting processes (shared by CreateProcessA and the test runner).
void SetUpProcess(Machine& m, const ProcessSpec& spec, const std::string& stateFile);

}  // namespace winsim::detail
