// winsim: the machine face. Tests build a simulated Windows machine, run program code on it,
// and look at what it did. Text fields are UTF-8; winsim converts at the Win32 face, through the
// machine's ANSI code page.
#pragma once

#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "winsim/winsim.h"

namespace winsim {

using json = nlohmann::json;

// A scripted answer or an injected fault for one platform call.
struct Rule {
  std::string fn;      // the call, e.g. "SetupDiEnumDeviceInfo"
  std::string proc;    // only in this program ("install", "quorvin"); empty: in any
  int nth = 0;         // only the n-th matching call (from 1); 0: every matching call
  bool ok = false;     // false: the call fails with `error`; true: it succeeds (install calls)
  DWORD error = 0;     // GetLastError after the call
  bool reboot = false; // install calls: the restart flag passed back
};

// A file or folder of the simulated file system.
struct File {
  std::string path;           // full Windows path, as created
  bool directory = false;
  std::string data;           // the bytes of a file
  std::string image;          // a program image: the name of a host program, e.g. "quorvin"
  bool heldForWrite = false;  // another program holds it open for writing (read sharing allowed)
  bool readDenied = false;    // the user may not read it
  std::string shortName;      // the 8.3 alias of its last component ("LUKASZ~1"); empty: none, as
                              // on a volume that makes no 8.3 names
};

// A compatible-driver entry that Windows lists for a device.
struct Driver {
  std::string description;
  std::string infPath;                   // full path, e.g. "C:\Windows\INF\oem3.inf"
  std::vector<std::string> hardwareIds;  // the IDs of the entry (detail HardwareID list)
};

struct Device {
  std::string instanceId;                     // "USB\VID_7A3C&PID_0001\5&1A2B&0&1"
  std::vector<std::string> hardwareIds;       // empty: the device has no hardware-ID property
  std::optional<std::string> hardwareIdData;  // raw property bytes in place of hardwareIds
  DWORD hardwareIdType = REG_MULTI_SZ;
  std::vector<std::string> compatibleIds;
  bool present = true;
  std::optional<DWORD> configFlags;           // none: the property cannot be read
  DWORD configFlagsType = REG_DWORD;
  std::vector<Driver> drivers;                // listed besides the matching packages of the store
  bool hardwareKey = true;                    // the device's registry keys
  bool softwareKey = true;
  std::string driverInf;                      // published name of the INF installed on it
  DWORD devInst = 0;                          // device node number, given by AddDevice
};

// A driver package in the driver store.
struct StoredInf {
  std::string publishedName;  // "oem3.inf", or the name of an inbox INF such as "usb.inf"
  std::string originalPath;   // where it was copied from
  std::string data;           // the INF text
  bool inbox = false;
};

// A module of the system (in its system directory) that a process can load, the entries it
// exports by name, and the DLLs that it imports: the loader looks for each by its bare name when
// it loads the module, in the search of that load.
struct Module {
  std::string name;  // "newdev.dll"
  std::vector<std::string> exports;
  std::vector<std::string> imports = {};
};

struct CallRecord {
  std::string proc;
  std::string fn;
  json args;
};

struct MessageBoxRecord {
  std::string proc;
  std::string text;
  std::string caption;
  uint64_t owner = 0;
  UINT type = 0;
  bool endedByQuit = false;  // a WM_QUIT waited, or came while it showed: it ended at once, unread
};

// A message that winsim delivered to a window procedure.
struct MessageRecord {
  std::string proc;
  uint64_t hwnd = 0;
  UINT msg = 0;
  uint64_t wParam = 0;
  int64_t lParam = 0;
  bool posted = false;      // taken from the queue and dispatched (false: sent)
  bool fromSystem = false;  // winsim sent or posted it itself (false: the program's SendMessageW,
                            // PostMessageW)
};

// GDI use of a process: objects alive (made and never deleted) and misuse.
struct GdiBalance {
  int fonts = 0;
  int brushes = 0;
  int regions = 0;
  int doubleDeletes = 0;         // DeleteObject of a handle already deleted
  int invalidDeletes = 0;        // DeleteObject of a handle never made
  int deletedWhileSelected = 0;  // DeleteObject of an object still selected into a device context
  int dcsNotReleased = 0;        // GetDC without ReleaseDC, BeginPaint without EndPaint
  int releasedWithSelection = 0; // ReleaseDC with an object of the program still selected
  int Alive() const { return fonts + brushes + regions; }
  // Nothing left and nothing misused.
  bool Clean() const {
    return Alive() == 0 && doubleDeletes == 0 && invalidDeletes == 0 && deletedWhileSelected == 0 &&
           dcsNotReleased == 0 && releasedWithSelection == 0;
  }
};

// An area that FillRgn or FillRect painted: the rectangles as given, in the device context's
// coordinates (the window's client area), not clipped.
struct FillRecord {
  uint64_t dc = 0;
  uint64_t hwnd = 0;  // the window of the device context (0: the screen)
  std::vector<RECT> rects;
  COLORREF color = 0;
};

// What a window looks like at a moment.
struct WindowSnapshot {
  bool exists = false;
  std::string className;
  std::string text;
  uint64_t parent = 0;
  uint64_t owner = 0;
  DWORD style = 0;
  DWORD exStyle = 0;
  RECT window{};  // screen coordinates
  RECT client{};  // screen coordinates
  bool visible = false;  // IsWindowVisible
  bool enabled = false;
  bool focused = false;
  uint64_t font = 0;  // BUTTON and LISTBOX: WM_SETFONT's font
  std::vector<std::string> items;  // LISTBOX
  int curSel = -1;
  int itemHeight = 0;
  std::vector<uint64_t> children;  // sibling order
};

// One action of the simulated user.
struct UserAction {
  enum Kind { Click, CloseBox, SystemClose, AltF4, EndTask, Resize, SelectLine, Snapshot, OtherSends, OtherPosts };
  Kind kind = Click;
  std::string text;           // Click: the button's text; Snapshot: a label for the record
  int width = 0, height = 0;  // Resize: the window size asked for (the system's sizing applies)
  int line = 0;               // SelectLine: the list line clicked
  bool whileBusy = false;     // may be taken by a PeekMessageW pump inside running work (a click
                              // that waits in the queue); otherwise only when the program waits
                              // for input in GetMessageW with an empty queue
  bool inDialog = false;      // taken only while a dialog of an install call shows (Machine::ownedDialogs)
  // OtherSends, OtherPosts: the message that another program (another thread) sends or posts to
  // the window; its parameters mean nothing in this process.
  UINT message = 0;
  uint64_t wParam = 0;
  int64_t lParam = 0;
  // Taken only when the program calls this function, and before the call does its work, as a
  // Windows call that waits on another thread takes the messages that other threads send meanwhile
  // (a class installer's dialog, a COM call); such an action is never taken by a message pump.
  std::string duringCall;
};

// A window of the tree at a snapshot, in tree order (depth-first, parent before children).
struct SnapshotWindow {
  int depth = 0;
  WindowSnapshot window;
};

struct SnapshotRecord {
  std::string proc;
  std::string label;
  std::vector<SnapshotWindow> windows;
};

// How a simulated process ended.
struct ExitRecord {
  std::string proc;
  DWORD exitCode = 0;
  int openHandles = 0;          // process, thread and file handles never closed
  int openDeviceInfoSets = 0;   // device information sets never destroyed
  int gdiObjects = 0;           // fonts, brushes and regions never deleted
  int gdiDoubleDeletes = 0;     // DeleteObject of a handle already deleted or never made
  int dcsNotReleased = 0;
  int openDriverLists = 0;      // compatible-driver lists never destroyed (also those whose set went first)
  int heapLeaks = 0;            // sanitizer builds: 1 when LeakSanitizer found unreachable blocks at the end
  bool crashed = false;         // a started process that ended without ExitProcess or winsim's stop
};

// The simulated screen and the frame metrics (classic style, 96 DPI); GetSystemMetrics answers these.
namespace metrics {
constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;
constexpr int kCaption = 19;       // SM_CYCAPTION
constexpr int kSmallCaption = 16;  // SM_CYSMCAPTION (tool windows)
constexpr int kSizeFrame = 4;      // SM_CXSIZEFRAME
constexpr int kFixedFrame = 3;     // SM_CXFIXEDFRAME
constexpr int kBorder = 1;         // SM_CXBORDER
constexpr int kEdge = 2;           // SM_CXEDGE
constexpr int kScroll = 17;        // SM_CXVSCROLL, SM_CYHSCROLL
constexpr int kMinTrackWidth = 112, kMinTrackHeight = 27;
constexpr int kMaxTrackWidth = kScreenWidth + 12, kMaxTrackHeight = kScreenHeight + 12;
constexpr int kMinimizedWidth = 160, kMinimizedHeight = 24;
// An overlapped window created with CW_USEDEFAULT: at the screen's top-left, 3/4 of its size.
constexpr int kDefaultX = 0, kDefaultY = 0;
constexpr int kDefaultWidth = kScreenWidth * 3 / 4, kDefaultHeight = kScreenHeight * 3 / 4;
}  // namespace metrics

class Machine {
 public:
  Machine();  // 64-bit Windows 7 workstation, current directory C:\Drivers, the usual modules
              // (newdev.dll and cfgmgr32.dll import devobj.dll, which is no KnownDLL)

  // The system.
  DWORD majorVersion = 6;
  DWORD minorVersion = 1;
  DWORD buildNumber = 7601;
  BYTE productType = VER_NT_WORKSTATION;
  int serverR2 = 0;
  WORD nativeArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
  // The system's ANSI code page (CP_ACP): 1252 (Western) or 932 (Japanese, double-byte). Every
  // A function and CP_ACP conversion reads and writes its bytes.
  UINT ansiCodePage = 1252;
  std::vector<Module> modules;
  std::string currentDirectory = "C:\\Drivers";     // where programs are started
  std::string systemDirectory = "C:\\Windows\\system32";
  std::map<std::string, std::string> programs;       // program image name -> host executable
  // DLLs that the device-installation calls load by bare name while they run, as Windows loads
  // class and co-installers; each must be a module of the system (modules) to be found there.
  std::vector<std::string> installerLoads;

  std::vector<File> files;
  std::vector<Device> devices;
  std::vector<StoredInf> driverStore;
  DWORD nextDevInst = 1;
  int nextOemNumber = 0;

  std::vector<Rule> rules;
  std::map<std::string, int> callCounts;  // "fn" and "fn@proc" -> calls so far
  // The install calls, by name, that show a dialog owned by their window, as Windows does for
  // driver signing or a file it cannot find: while it shows, its loop runs the thread's messages
  // and the user's inDialog actions; then the user closes it and the call goes on.
  std::vector<std::string> ownedDialogs;

  // The record of what programs did, in order.
  std::vector<CallRecord> calls;
  std::vector<std::string> debugLines;
  std::vector<MessageBoxRecord> messageBoxes;
  std::vector<UINT> beeps;
  std::vector<ExitRecord> exits;
  std::vector<std::string> stops;  // why winsim stopped a program
  std::vector<MessageRecord> messages;  // every message delivered to a window, in order

  // The simulated user: the actions not yet taken (the front is next), the snapshots taken, and
  // the actions that hit nothing, with why.
  std::vector<UserAction> script;
  std::vector<SnapshotRecord> snapshots;
  std::vector<std::string> missedActions;

  bool Is64Bit() const;

  // Building the machine.
  File& AddFile(const std::string& path, const std::string& data);
  File& AddFolder(const std::string& path);
  File& AddProgram(const std::string& path, const std::string& image);
  Device& AddDevice(const std::string& instanceId, std::vector<std::string> hardwareIds, bool present = true);
  StoredInf& AddStoredInf(const std::string& publishedName, const std::string& data, bool inbox = false);
  Module* FindModule(const std::string& name);
  void RemoveModule(const std::string& name);
  void RemoveExport(const std::string& module, const std::string& entry);
  void SetVersion(DWORD major, DWORD minor, BYTE product = VER_NT_WORKSTATION, int r2 = 0);

  // Scripting: the call fails with `error`, or answers as given.
  Rule& Fail(const std::string& fn, DWORD error, int nth = 0, const std::string& proc = "");
  Rule& Answer(const std::string& fn, bool ok, DWORD error = 0, bool reboot = false, int nth = 0,
               const std::string& proc = "");

  // Scripting the user; each appends an action and returns it (to set whileBusy).
  UserAction& UserClicks(const std::string& buttonText);
  UserAction& UserClosesBox();
  UserAction& UserClosesFromSystemMenu();
  UserAction& UserPressesAltF4();
  // Task Manager's End task, or Close window on the taskbar: WM_CLOSE posted to the window.
  UserAction& UserEndsTask();
  UserAction& UserResizes(int width, int height);
  UserAction& UserSelectsLine(int line);
  UserAction& UserSnapshot(const std::string& label);
  // Another program of the desktop: SendMessageW (delivered when the program next takes messages,
  // before anything posted; InSendMessageEx says ISMEX_SEND meanwhile) or PostMessageW to the
  // window that the user acts on.
  UserAction& OtherProgramSends(UINT message, uint64_t wParam, int64_t lParam);
  UserAction& OtherProgramPosts(UINT message, uint64_t wParam, int64_t lParam);

  // Looking at the machine.
  File* FindFile(const std::string& fullPath);
  Device* FindDevice(const std::string& instanceId);
  const StoredInf* FindStoredInf(const std::string& publishedName) const;
  std::vector<CallRecord> Calls(const std::string& fn) const;
  std::vector<std::string> CallNames() const;  // every recorded call name, in order
  void ClearMessages() { messages.clear(); }

  json ToJson() const;
  static Machine FromJson(const json& j);
  void Save(const std::string& path) const;
  static Machine Load(const std::string& path);
};

// Which program a simulated process runs and how it was started.
struct ProcessSpec {
  std::string program = "install";  // "install" (32-bit) or "quorvin" (64-bit)
  int bits = 32;
  std::string commandLine;          // as GetCommandLineW gives it; empty: "install.exe"
  std::string currentDirectory;     // empty: the machine's
  std::string imagePath;            // the program file (GetModuleFileNameW); empty: the program's
                                    // name in the current directory
};

struct ProcessResult {
  DWORD exitCode = 0;
  bool exited = false;    // ended through ExitProcess
  bool returned = false;  // the body returned without ending the process
  bool crashed = false;   // ended by a signal or a sanitizer's report (not by winsim)
  std::string stopped;    // why winsim stopped it, when it did
};

// Runs `body` as a simulated process of its own (a forked child) on the machine; afterwards the
// machine holds what the child changed and recorded.
ProcessResult RunProcess(Machine& m, const ProcessSpec& spec, const std::function<void()>& body);

// Runs the host build of a program as a real child process on the machine (through a state file).
ProcessResult RunProgram(Machine& m, const std::string& hostExecutable, const ProcessSpec& spec);

// In-process use: `m` is the current machine, with one process on it, for the session's scope.
class Session {
 public:
  explicit Session(Machine& m, const ProcessSpec& spec = {});
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  int OpenHandles() const;
  int OpenDeviceInfoSets() const;
  std::vector<std::string> ListBoxItems(HWND listBox) const;

  // The window system: a window as it is now, and every window that exists (creation order).
  WindowSnapshot Window(HWND window) const;
  std::vector<HWND> Windows() const;

  // GDI: what is alive and what was misused; the areas filled, in order (optionally of one device
  // context); the rectangles of a region (empty for an unknown handle).
  GdiBalance Gdi() const;
  std::vector<FillRecord> Fills() const;
  std::vector<FillRecord> FillsOf(HDC dc) const;
  void ClearFills();
  std::vector<RECT> RegionRects(HRGN region) const;
};

// The entry of a host program: loads the machine from the state file named by WINSIM_STATE,
// runs `body` as process `program`, saves the machine when the process ends.
[[noreturn]] void ProgramMain(const char* program, int bits, int argc, char** argv, void (*body)());

// The INF reading of winsim: the model lines of an INF, each with its description and its IDs
// (the line's hardware ID first, then its compatible IDs; an empty field stays empty).
struct ModelLine {
  std::string description;
  std::vector<std::string> ids;
};
std::vector<ModelLine> InfModelLines(const std::string& infText);
// Every ID of the model lines, with the description of its line (used to decide which devices a
// package installs on).
std::vector<std::pair<std::string, std::string>> InfModels(const std::string& infText);

}  // namespace winsim
