// The fault sweep: each main scenario runs once cleanly while winsim records every platform call,
// then once more for every recorded call with exactly that call failing, as Windows documents it
// can. Every faulted run must end (no stop, no crash, no sanitizer report), leak nothing, give
// exit code 0 only when what the user asked for happened, show a failure that the user must know
// about, and leave other vendors' devices, keys and driver packages as they were.
//
// A closer look at one faulted run: SWEEP_SHOW=<scenario>:<call position> prints its calls from
// the faulted one on, its debug lines and its list lines.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include "support.h"

// The sanitizer build (LeakSanitizer rides along with AddressSanitizer).
#if defined(__SANITIZE_ADDRESS__)
#define SWEEP_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SWEEP_SANITIZED 1
#endif
#endif

using winsim::Machine;
using json = nlohmann::json;

namespace {

// ---- Errors that winsim's headers do not name (values as Windows defines them) ----
constexpr DWORD kErrorReadFault = 30;              // ERROR_READ_FAULT
constexpr DWORD kErrorNoUnicodeTranslation = 1113; // ERROR_NO_UNICODE_TRANSLATION
constexpr DWORD kErrorNotEnoughQuota = 1816;       // ERROR_NOT_ENOUGH_QUOTA
constexpr DWORD kCrFailure = 0x13;                 // CR_FAILURE

// ---- The error table: how each platform call is made to fail ----

// What a failed release leaves behind: the object stays, and that is the platform's doing.
enum class Keeps { Nothing, Handle, DeviceInfoSet, DriverList, GdiObject, DeviceContext };

struct FaultEntry {
  const char* fn;
  bool faultable;
  DWORD error;         // GetLastError after the failure (CM_Get_DevNode_Status: the CONFIGRET)
  const char* how;     // the failure as Windows documents it, or why the call cannot fail
  Keeps keeps = Keeps::Nothing;
  // A position of a faultable function where the call cannot fail (null: none).
  bool (*cannotFailHere)(const json& args) = nullptr;
};

bool OwnModule(const json& args) { return args.value("lpModuleName", json()).is_null(); }

// clang-format off
const FaultEntry kFaults[] = {
  // kernel32
  {"GetVersionExW", true, ERROR_INVALID_PARAMETER, "FALSE; ERROR_INVALID_PARAMETER (a record size it does not take)"},
  {"GetSystemInfo", false, 0, "no result: cannot fail"},
  {"GetNativeSystemInfo", false, 0, "no result: cannot fail"},
  {"GetModuleHandleW", true, ERROR_MOD_NOT_FOUND, "NULL; ERROR_MOD_NOT_FOUND (the module is not loaded)",
   Keeps::Nothing, OwnModule},
  {"LoadLibraryExW", true, ERROR_MOD_NOT_FOUND, "NULL; ERROR_MOD_NOT_FOUND"},
  {"GetProcAddress", true, ERROR_PROC_NOT_FOUND, "NULL; ERROR_PROC_NOT_FOUND"},
  {"GetSystemDirectoryW", true, ERROR_NOT_ENOUGH_MEMORY, "0; GetLastError (ERROR_NOT_ENOUGH_MEMORY)"},
  {"GetModuleFileNameW", true, ERROR_NOT_ENOUGH_MEMORY, "0; GetLastError (ERROR_NOT_ENOUGH_MEMORY)"},
  {"SetDefaultDllDirectories", true, ERROR_INVALID_PARAMETER, "FALSE; ERROR_INVALID_PARAMETER"},
  {"SetDllDirectoryW", true, ERROR_INVALID_PARAMETER, "FALSE; ERROR_INVALID_PARAMETER"},
  {"GetShortPathNameW", true, ERROR_ACCESS_DENIED, "0; ERROR_ACCESS_DENIED (a folder on the way cannot be listed)"},
  {"GetCurrentDirectoryA", true, ERROR_ACCESS_DENIED, "0; ERROR_ACCESS_DENIED (the directory cannot be read)"},
  {"GetCurrentDirectoryW", true, ERROR_ACCESS_DENIED, "0; ERROR_ACCESS_DENIED (the directory cannot be read)"},
  {"HeapAlloc", true, ERROR_NOT_ENOUGH_MEMORY, "NULL, no error code (the heap refuses the block)"},
  {"HeapFree", false, 0, "fails only for a block that is not the heap's; a program can do nothing about it"},
  {"OutputDebugStringW", false, 0, "no result: cannot fail"},
  {"GetCommandLineW", false, 0, "cannot fail: the process's own command line"},
  {"CharLowerBuffW", false, 0, "returns the count it converted: cannot fail"},
  {"MultiByteToWideChar", true, kErrorNoUnicodeTranslation, "0; ERROR_NO_UNICODE_TRANSLATION"},
  {"WideCharToMultiByte", true, kErrorNoUnicodeTranslation, "0; ERROR_NO_UNICODE_TRANSLATION"},
  {"lstrcmpiA", false, 0, "returns the comparison: no failure value"},
  {"CharNextA", false, 0, "returns a place in the string it was given: no failure value"},
  {"CharPrevA", false, 0, "returns a place in the string it was given: no failure value"},
  {"GetACP", false, 0, "returns the code page: cannot fail"},
  {"IsDBCSLeadByte", false, 0, "returns an answer: no failure value"},
  {"CompareStringW", true, ERROR_INVALID_PARAMETER, "0; ERROR_INVALID_PARAMETER"},
  {"GetFileAttributesA", true, ERROR_ACCESS_DENIED, "INVALID_FILE_ATTRIBUTES; ERROR_ACCESS_DENIED"},
  {"CreateFileA", true, ERROR_ACCESS_DENIED, "INVALID_HANDLE_VALUE; ERROR_ACCESS_DENIED"},
  {"ReadFile", true, kErrorReadFault, "FALSE; ERROR_READ_FAULT (the device cannot be read)"},
  {"CloseHandle", true, ERROR_INVALID_HANDLE, "FALSE; ERROR_INVALID_HANDLE", Keeps::Handle},
  {"CreateProcessA", true, ERROR_FILE_NOT_FOUND, "FALSE; ERROR_FILE_NOT_FOUND"},
  {"WaitForSingleObject", true, ERROR_INVALID_HANDLE, "WAIT_FAILED; ERROR_INVALID_HANDLE"},
  {"GetExitCodeProcess", true, ERROR_ACCESS_DENIED, "FALSE; ERROR_ACCESS_DENIED (no query right on the handle)"},
  {"ExitProcess", false, 0, "does not return: cannot fail"},
  // setupapi, cfgmgr32, newdev
  {"SetupDiGetClassDevsA", true, ERROR_NOT_ENOUGH_MEMORY,
   "INVALID_HANDLE_VALUE; ERROR_NOT_ENOUGH_MEMORY (another error is taken for an enumerator without devices: no fault)"},
  {"SetupDiCreateDeviceInfoList", true, ERROR_NOT_ENOUGH_MEMORY, "INVALID_HANDLE_VALUE; ERROR_NOT_ENOUGH_MEMORY"},
  {"SetupDiOpenDeviceInfoA", true, ERROR_NO_SUCH_DEVINST, "FALSE; ERROR_NO_SUCH_DEVINST (the device went away)"},
  {"SetupDiEnumDeviceInfo", true, ERROR_INVALID_HANDLE,
   "FALSE; ERROR_INVALID_HANDLE (ERROR_NO_MORE_ITEMS is no fault)"},
  {"SetupDiGetDeviceInstanceIdA", true, ERROR_NO_SUCH_DEVINST, "FALSE; ERROR_NO_SUCH_DEVINST (the device vanished)"},
  {"SetupDiGetDeviceRegistryPropertyA", true, ERROR_INVALID_DATA, "FALSE; ERROR_INVALID_DATA (no such property)"},
  {"SetupDiSetDeviceRegistryPropertyA", true, ERROR_ACCESS_DENIED, "FALSE; ERROR_ACCESS_DENIED"},
  {"SetupDiDestroyDeviceInfoList", true, ERROR_INVALID_HANDLE, "FALSE; ERROR_INVALID_HANDLE", Keeps::DeviceInfoSet},
  {"CM_Get_DevNode_Status", true, kCrFailure, "CR_FAILURE"},
  {"SetupDiBuildDriverInfoList", true, ERROR_NOT_ENOUGH_MEMORY, "FALSE; ERROR_NOT_ENOUGH_MEMORY"},
  {"SetupDiEnumDriverInfoA", true, ERROR_INVALID_HANDLE,
   "FALSE; ERROR_INVALID_HANDLE (ERROR_NO_MORE_ITEMS is no fault)"},
  {"SetupDiGetDriverInfoDetailA", true, ERROR_INVALID_PARAMETER,
   "FALSE; ERROR_INVALID_PARAMETER (ERROR_INSUFFICIENT_BUFFER asks for a larger buffer: no fault)"},
  {"SetupDiDestroyDriverInfoList", true, ERROR_INVALID_HANDLE, "FALSE; ERROR_INVALID_HANDLE", Keeps::DriverList},
  {"SetupDiDeleteDevRegKey", true, ERROR_ACCESS_DENIED, "FALSE; ERROR_ACCESS_DENIED"},
  {"SetupDiRemoveDevice", true, ERROR_ACCESS_DENIED, "FALSE; ERROR_ACCESS_DENIED"},
  {"SetupCopyOEMInfA", true, ERROR_ACCESS_DENIED, "FALSE; ERROR_ACCESS_DENIED"},
  {"SetupUninstallOEMInfA", true, ERROR_ACCESS_DENIED, "FALSE; ERROR_ACCESS_DENIED"},
  {"DiInstallDriverA", true, ERROR_ACCESS_DENIED, "FALSE; ERROR_ACCESS_DENIED (the caller is no administrator)"},
  {"UpdateDriverForPlugAndPlayDevicesA", true, ERROR_ACCESS_DENIED,
   "FALSE; ERROR_ACCESS_DENIED (the caller is no administrator)"},
  // user32, comctl32
  {"GetSystemMetrics", false, 0, "0 is also an answer (SM_SERVERR2 on a system that is not R2), with no error code"},
  {"GetSysColor", false, 0, "returns a colour: no failure value"},
  {"SystemParametersInfoW", true, ERROR_INVALID_PARAMETER,
   "FALSE; ERROR_INVALID_PARAMETER (a record size it does not know)"},
  {"MessageBoxW", true, ERROR_NOT_ENOUGH_MEMORY, "0; ERROR_NOT_ENOUGH_MEMORY"},
  {"MessageBeep", true, ERROR_NOT_ENOUGH_MEMORY, "FALSE; GetLastError (ERROR_NOT_ENOUGH_MEMORY)"},
  {"SetWindowTextW", true, ERROR_NOT_ENOUGH_MEMORY, "FALSE; ERROR_NOT_ENOUGH_MEMORY"},
  {"GetWindowTextW", true, ERROR_INVALID_WINDOW_HANDLE, "0; ERROR_INVALID_WINDOW_HANDLE"},
  {"GetWindowTextLengthW", true, ERROR_INVALID_WINDOW_HANDLE, "0; ERROR_INVALID_WINDOW_HANDLE"},
  {"SetFocus", true, ERROR_INVALID_WINDOW_HANDLE, "NULL; ERROR_INVALID_WINDOW_HANDLE"},
  {"GetFocus", false, 0, "NULL means no focus window: no failure value"},
  {"IsWindowEnabled", false, 0, "returns an answer: no failure value"},
  {"EnableWindow", false, 0, "returns the previous state: no failure value"},
  {"InitCommonControls", false, 0, "no result: cannot fail"},
  {"RegisterClassW", true, ERROR_NOT_ENOUGH_MEMORY, "0; ERROR_NOT_ENOUGH_MEMORY"},
  {"RegisterClassExW", true, ERROR_NOT_ENOUGH_MEMORY, "0; ERROR_NOT_ENOUGH_MEMORY"},
  {"UnregisterClassW", true, ERROR_CLASS_HAS_WINDOWS, "FALSE; ERROR_CLASS_HAS_WINDOWS"},
  {"GetClassNameW", true, ERROR_INVALID_WINDOW_HANDLE, "0; ERROR_INVALID_WINDOW_HANDLE"},
  {"CreateWindowExW", true, ERROR_NOT_ENOUGH_MEMORY, "NULL; ERROR_NOT_ENOUGH_MEMORY"},
  {"DestroyWindow", true, ERROR_INVALID_WINDOW_HANDLE, "FALSE; ERROR_INVALID_WINDOW_HANDLE"},
  {"IsWindow", false, 0, "returns an answer: no failure value"},
  {"GetWindowLongPtrW", false, 0,
   "fails only for a window that is not there; the programs read longs only of their own live windows "
   "(the window whose procedure runs, the sender of its WM_COMMAND)"},
  {"SetWindowLongPtrW", true, ERROR_INVALID_WINDOW_HANDLE, "0; ERROR_INVALID_WINDOW_HANDLE"},
  {"GetWindowLongW", true, ERROR_INVALID_WINDOW_HANDLE, "0; ERROR_INVALID_WINDOW_HANDLE"},
  {"SetWindowLongW", true, ERROR_INVALID_WINDOW_HANDLE, "0; ERROR_INVALID_WINDOW_HANDLE"},
  {"GetParent", true, ERROR_INVALID_WINDOW_HANDLE, "NULL; ERROR_INVALID_WINDOW_HANDLE"},
  {"GetWindow", true, ERROR_INVALID_WINDOW_HANDLE, "NULL; ERROR_INVALID_WINDOW_HANDLE"},
  {"IsChild", false, 0, "returns an answer: no failure value"},
  {"GetDlgCtrlID", true, ERROR_INVALID_WINDOW_HANDLE, "0; ERROR_INVALID_WINDOW_HANDLE"},
  {"EnumChildWindows", false, 0, "its result is not used (documented so): cannot fail"},
  {"EnumWindows", true, ERROR_INVALID_PARAMETER, "FALSE; ERROR_INVALID_PARAMETER"},
  {"EnumThreadWindows", true, ERROR_INVALID_PARAMETER, "FALSE; ERROR_INVALID_PARAMETER"},
  {"ShowWindow", false, 0, "returns the previous visibility: no failure value"},
  {"IsWindowVisible", false, 0, "returns an answer: no failure value"},
  {"IsIconic", false, 0, "returns an answer: no failure value"},
  {"IsZoomed", false, 0, "returns an answer: no failure value"},
  {"SetWindowPos", true, ERROR_INVALID_WINDOW_HANDLE, "FALSE; ERROR_INVALID_WINDOW_HANDLE"},
  {"MoveWindow", true, ERROR_INVALID_WINDOW_HANDLE, "FALSE; ERROR_INVALID_WINDOW_HANDLE"},
  {"GetWindowRect", true, ERROR_INVALID_WINDOW_HANDLE, "FALSE; ERROR_INVALID_WINDOW_HANDLE"},
  {"GetClientRect", true, ERROR_INVALID_WINDOW_HANDLE, "FALSE; ERROR_INVALID_WINDOW_HANDLE"},
  {"ScreenToClient", true, ERROR_INVALID_WINDOW_HANDLE, "FALSE; ERROR_INVALID_WINDOW_HANDLE"},
  {"ClientToScreen", true, ERROR_INVALID_WINDOW_HANDLE, "FALSE; ERROR_INVALID_WINDOW_HANDLE"},
  {"GetActiveWindow", false, 0, "NULL means no active window: no failure value"},
  {"SendMessageW", false, 0,
   "returns the window procedure's answer; to a window of the calling thread it calls the procedure directly"},
  {"PostMessageW", true, kErrorNotEnoughQuota, "FALSE; ERROR_NOT_ENOUGH_QUOTA (the queue is full)"},
  {"PostQuitMessage", false, 0, "no result: cannot fail"},
  {"PeekMessageW", false, 0, "returns whether a message was there: no failure value"},
  {"GetMessageW", true, ERROR_INVALID_WINDOW_HANDLE, "-1; ERROR_INVALID_WINDOW_HANDLE"},
  {"TranslateMessage", false, 0, "returns whether it translated: no failure value"},
  {"DispatchMessageW", false, 0, "returns the window procedure's answer: no failure value"},
  {"InvalidateRect", true, ERROR_INVALID_WINDOW_HANDLE, "FALSE; ERROR_INVALID_WINDOW_HANDLE"},
  {"ValidateRect", true, ERROR_INVALID_WINDOW_HANDLE, "FALSE; ERROR_INVALID_WINDOW_HANDLE"},
  {"UpdateWindow", true, ERROR_INVALID_WINDOW_HANDLE, "FALSE; ERROR_INVALID_WINDOW_HANDLE"},
  {"GetUpdateRect", false, 0, "returns whether there is an update region: no failure value"},
  {"BeginPaint", true, ERROR_NOT_ENOUGH_MEMORY, "NULL: no display device context is available"},
  {"EndPaint", false, 0, "always nonzero (documented so)"},
  // gdi32
  {"CreateFontIndirectW", true, ERROR_NOT_ENOUGH_MEMORY, "NULL (the GDI object quota is reached)"},
  {"CreateBrushIndirect", true, ERROR_NOT_ENOUGH_MEMORY, "NULL (the GDI object quota is reached)"},
  {"CreateSolidBrush", true, ERROR_NOT_ENOUGH_MEMORY, "NULL (the GDI object quota is reached)"},
  {"CreateRectRgn", true, ERROR_NOT_ENOUGH_MEMORY, "NULL (the GDI object quota is reached)"},
  {"CreateRectRgnIndirect", true, ERROR_NOT_ENOUGH_MEMORY, "NULL (the GDI object quota is reached)"},
  {"OffsetRgn", true, ERROR_INVALID_HANDLE, "ERROR (0)"},
  {"CombineRgn", true, ERROR_NOT_ENOUGH_MEMORY, "ERROR (0)"},
  {"GetRgnBox", true, ERROR_INVALID_HANDLE, "0"},
  {"EqualRgn", true, ERROR_INVALID_HANDLE, "ERROR"},
  {"PtInRegion", false, 0, "returns an answer: no failure value"},
  {"FillRgn", true, ERROR_INVALID_HANDLE, "FALSE"},
  {"FillRect", true, ERROR_INVALID_HANDLE, "0"},
  {"DeleteObject", true, ERROR_INVALID_HANDLE, "FALSE (the handle is not valid, or still selected)", Keeps::GdiObject},
  {"GetStockObject", true, ERROR_INVALID_PARAMETER, "NULL"},
  {"SelectObject", true, ERROR_INVALID_HANDLE, "NULL"},
  {"GetObjectW", true, ERROR_INVALID_HANDLE, "0"},
  {"GetTextMetricsW", true, ERROR_INVALID_HANDLE, "FALSE"},
  {"GetDC", true, ERROR_NOT_ENOUGH_MEMORY, "NULL (no device context to be had)"},
  {"ReleaseDC", true, ERROR_INVALID_HANDLE, "0: the device context is not released", Keeps::DeviceContext},
};
// clang-format on

const FaultEntry* EntryOf(const std::string& fn) {
  for (const FaultEntry& e : kFaults)
    if (fn == e.fn) return &e;
  return nullptr;
}

// ---- The scenarios ----

enum class Ask { Install, Uninstall, Quorvin, Window };

struct Scenario {
  const char* name;
  Ask ask;
  const char* road;      // a call ("fn@program") that shows the clean run took the scenario's road
  std::function<Machine()> build;
};

const char kVendorPrefix[] = "USB\\VID_7A3C&";
const char kInfPath[] = "C:\\Drivers\\veltowinusb.inf";

char Upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; }

bool SameAscii(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

bool IsVendorDevice(const std::string& instanceId) {
  std::string prefix = kVendorPrefix;
  return instanceId.size() >= prefix.size() && SameAscii(instanceId.substr(0, prefix.size()), prefix);
}

// The vendor's devices (present, absent, one in lower case) among other vendors' devices: another
// vendor with its own package, a near miss of the vendor ID, and the vendor ID on another
// enumerator.
void AddDevices(Machine& m) {
  m.AddDevice("USB\\VID_7A3C&PID_0001\\5&1A2B&0&1", {"USB\\VID_7A3C&PID_0001"}, true);
  m.AddDevice("USB\\VID_7A3C&PID_0002\\5&1A2B&0&2", {"USB\\VID_7A3C&PID_0002"}, false);
  m.AddDevice("usb\\vid_7a3c&pid_0010&mi_00\\6&3c4d&0&0", {"USB\\VID_7A3C&PID_0010&MI_00"}, false);
  m.AddDevice("USB\\VID_1234&PID_0001\\7&1&0&1", {"USB\\VID_1234&PID_0001"}, true).driverInf = "oem9.inf";
  m.AddDevice("USB\\VID_1234&PID_0002\\7&1&0&2", {"USB\\VID_1234&PID_0002"}, false).configFlags = 0x4;
  m.AddDevice("USB\\VID_7A3CD&PID_0001\\8&1", {"USB\\VID_7A3CD&PID_0001"}, false);
  m.AddDevice("HID\\VID_7A3C&PID_0001\\9&1", {"HID\\VID_7A3C&PID_0001"}, true);
  m.AddStoredInf("oem9.inf", "[Manufacturer]\nOther=Models\n[Models]\nOther=Install,USB\\VID_1234&PID_0001\n");
}

Machine InstallMachine(DWORD major, DWORD minor, WORD architecture) {
  Machine m = test::PackageMachine(major, minor);
  m.nativeArchitecture = architecture;
  AddDevices(m);
  return m;
}

Machine UninstallMachine() {
  Machine m = InstallMachine(6, 1, PROCESSOR_ARCHITECTURE_INTEL);  // removal is refused in WoW64
  m.AddStoredInf("oem3.inf", test::SampleInf());
  return m;
}

Machine WindowMachine() {
  Machine m = InstallMachine(6, 1, PROCESSOR_ARCHITECTURE_INTEL);
  m.UserClicks("Install");
  m.UserSnapshot("install");
  m.UserClicks("Uninstall");
  m.UserSnapshot("uninstall");
  m.UserClicks("Exit");
  // A user whose Exit did nothing tries once more, then the close box.
  m.UserClicks("Exit");
  m.UserClosesBox();
  return m;
}
const size_t kFallbackActions = 2;

const Scenario kScenarios[] = {
    {"install-per-id", Ask::Install, "UpdateDriverForPlugAndPlayDevicesA@install",
     [] { return InstallMachine(5, 1, PROCESSOR_ARCHITECTURE_INTEL); }},
    {"install-package", Ask::Install, "DiInstallDriverA@install",
     [] { return InstallMachine(6, 1, PROCESSOR_ARCHITECTURE_INTEL); }},
    {"install-hand-over", Ask::Install, "DiInstallDriverA@quorvin",
     [] { return InstallMachine(6, 1, PROCESSOR_ARCHITECTURE_AMD64); }},
    {"uninstall", Ask::Uninstall, "SetupDiRemoveDevice@install", UninstallMachine},
    {"quorvin", Ask::Quorvin, "DiInstallDriverA@quorvin",
     [] { return InstallMachine(6, 1, PROCESSOR_ARCHITECTURE_AMD64); }},
    {"window", Ask::Window, "DiInstallDriverA@install", WindowMachine},
};

const Scenario& ScenarioNamed(const std::string& name) {
  for (const Scenario& s : kScenarios)
    if (name == s.name) return s;
  std::abort();
}

// ---- The exceptions: failures that the programs ignore, or report as success, on purpose ----

// Every exception is about the removal: the uninstall, silent or from the window.
struct Exception {
  const char* id;
  const char* fn;   // the faulted call
  bool exitCode;    // exit code 0 allowed although the request did not happen
  bool visibility;  // nothing need show
  const char* reason;
};

// clang-format off
const Exception kExceptions[] = {
  {"walk-ends", "SetupDiEnumDeviceInfo", true, true,
   "a failed device enumeration ends the removal walk, and an uninstall that runs to its end is a success"},
  {"device-skipped", "SetupDiGetDeviceInstanceIdA", true, true,
   "a device whose instance ID cannot be read is skipped: not counted, no text, nothing removed"},
};
// clang-format on

bool Applies(const Exception& x, const Scenario& s, const std::string& fn) {
  return (s.ask == Ask::Uninstall || s.ask == Ask::Window) && fn == x.fn;
}

// ---- One run ----

struct Fault {
  std::string fn;
  std::string proc;
  int nth = 0;
  DWORD error = 0;
  size_t position = 0;
};

// The devices (with their keys and configuration flags) and the driver store of a machine, as JSON.
json Vendors(const Machine& m) {
  Machine view;
  view.devices = m.devices;
  view.driverStore = m.driverStore;
  json j = view.ToJson();
  return json{{"devices", j["devices"]}, {"driverStore", j["driverStore"]}};
}

struct Run {
  Machine m;
  winsim::ProcessResult r;
  json before;                            // Vendors() before the run
  std::set<std::string> otherPackages;    // the packages in the store before that are not the vendor's
};

Run Execute(const Scenario& s, const Fault* fault) {
  Run run{s.build(), {}, {}, {}};
  run.before = Vendors(run.m);
  for (const winsim::StoredInf& p : run.m.driverStore)
    if (p.data != test::SampleInf()) run.otherPackages.insert(p.publishedName);
  if (fault) run.m.Fail(fault->fn, fault->error, fault->nth, fault->proc);
  winsim::ProcessSpec spec;
  if (s.ask == Ask::Quorvin) {
    spec.program = "quorvin";
    spec.bits = 64;
    spec.currentDirectory = "C:\\Drivers";
    run.r = winsim::RunProgram(run.m, HOST_QUORVIN, spec);
  } else {
    spec.program = "install";
    spec.bits = 32;
    spec.commandLine = "\"C:\\Drivers\\install.exe\"";
    if (s.ask == Ask::Install) spec.commandLine += " /install";
    if (s.ask == Ask::Uninstall) spec.commandLine += " /uninstall";
    run.r = winsim::RunProgram(run.m, HOST_INSTALL, spec);
  }
  return run;
}

// ---- What happened ----

// The vendor's package reached the driver store and every present device that carries one of its
// hardware IDs runs it.
bool Installed(const Machine& m) {
  const std::string inf = test::SampleInf();
  const winsim::StoredInf* package = nullptr;
  for (const winsim::StoredInf& s : m.driverStore)
    if (!s.inbox && s.data == inf) package = &s;
  if (!package) return false;
  const std::vector<std::string> ids = test::SampleHardwareIds();
  for (const winsim::Device& d : m.devices) {
    bool carries = false;
    for (const std::string& h : d.hardwareIds)
      for (const std::string& id : ids) carries = carries || SameAscii(h, id);
    if (d.present && carries && !SameAscii(d.driverInf, package->publishedName)) return false;
  }
  return true;
}

// What of the vendor an uninstall left: a device, or a package (one with the sample's text) in the
// driver store; empty when everything went.
std::string LeftOfTheVendor(const Machine& m) {
  for (const winsim::Device& d : m.devices)
    if (IsVendorDevice(d.instanceId)) return "a device of the vendor is still there (" + d.instanceId + ")";
  const std::string inf = test::SampleInf();
  for (const winsim::StoredInf& s : m.driverStore)
    if (s.data == inf) return "a package of the vendor is still in the driver store (" + s.publishedName + ")";
  return "";
}

bool Uninstalled(const Machine& m) { return LeftOfTheVendor(m).empty(); }

// In the window the Uninstall click comes after the Install click, so the store no longer tells:
// the install happened when install's package install call was made, unfaulted, on the INF (winsim
// answers such a call with success on this machine).
bool InstallCallMade(const Machine& m, const Fault* fault) {
  for (size_t i = 0; i < m.calls.size(); ++i) {
    const winsim::CallRecord& c = m.calls[i];
    if (c.proc != "install" || c.fn != "DiInstallDriverA" || (fault && i == fault->position)) continue;
    std::string path = c.args.value("InfPath", json("")).get<std::string>();
    if (SameAscii(path, kInfPath) || SameAscii(path, "veltowinusb.inf")) return true;
  }
  return false;
}

std::vector<std::string> SnapshotLines(const Machine& m, const std::string& label) {
  for (const winsim::SnapshotRecord& s : m.snapshots) {
    if (s.label != label) continue;
    for (const winsim::SnapshotWindow& w : s.windows)
      if (w.window.className == "ListBox") return w.window.items;
  }
  return {};
}

// The lines of the Install click and those that the Uninstall click added after them.
struct WindowLines {
  std::vector<std::string> install, uninstall;
};

WindowLines LinesOf(const Machine& m) {
  WindowLines w;
  w.install = SnapshotLines(m, "install");
  std::vector<std::string> all = SnapshotLines(m, "uninstall");
  size_t from = std::min(w.install.size(), all.size());
  w.uninstall.assign(all.begin() + long(from), all.end());
  return w;
}

// ---- What tells the user of a failure ----

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// The texts of progress and success that the programs write (list lines and debug lines); any
// other line reports a failure.
bool ProgressOrSuccess(const std::string& line) {
  static const char* const exact[] = {
      "Installing VELTO WinUsb driver...", "Running 64-bit installer...", "Process finished", "Success.", "success.",
      "success", "success, marked to reinstall", "success, mark to reinstall", "Searching for devices...",
      "Removing registry keys", "Removing device from system", "Uninstalling drivers",
      "No installed devices or drivers found", "Ok"};
  for (const char* e : exact)
    if (line == e) return true;
  return StartsWith(line, "Installing driver for ") || StartsWith(line, "Install_Device_Driver: ") ||
         StartsWith(line, "Install_Driver: ") || StartsWith(line, "Removing ") ||
         (StartsWith(line, "Successfull uninstalled ") && line.size() > 32 &&
          line.compare(line.size() - 8, 8, " devices") == 0);
}

// A line that reports a failure and that the clean run did not have.
bool TellsOfFailure(const std::vector<std::string>& lines, const std::vector<std::string>& clean) {
  for (const std::string& l : lines)
    if (!ProgressOrSuccess(l) && std::find(clean.begin(), clean.end(), l) == clean.end()) return true;
  return false;
}

// ---- Findings ----

struct Finding {
  std::string scenario;
  std::string check;  // "ends", "leaks", "exit code", "shows", "window", "other vendor", "harness"
  Fault fault;
  std::string detail;
};

// The figures of one scenario.
struct Figures {
  std::string scenario;
  size_t calls = 0, faulted = 0, notFaultable = 0;
  std::set<std::string> called, faultedFns;
  size_t failedRuns = 0, findings = 0;
  std::map<std::string, int> exceptionsUsed;
  double seconds = 0;
};

std::vector<Figures>& AllFigures() {
  static std::vector<Figures> all;
  return all;
}

class Judge {
 public:
  Judge(const Scenario& s, const Run& clean, std::vector<Finding>& out) : s_(s), clean_(clean), out_(out) {}

  // Everything a run must satisfy; `fault` is null for the clean run.
  void Check(const Run& run, const Fault* fault) {
    fault_ = fault ? *fault : Fault{"(none)", "", 0, 0, 0};
    taken_.clear();
    // A run that did not end through ExitProcess has no exit code to judge.
    if (Ends(run)) Outcome(run, fault);
    Leaks(run, fault);
    OtherVendors(run);
    for (const std::string& id : taken_) ++exceptionsUsed[id];
  }

  std::map<std::string, int> exceptionsUsed;  // runs that an exception let pass

 private:
  void Add(const std::string& check, const std::string& detail) {
    out_.push_back(Finding{s_.name, check, fault_, detail});
  }

  bool Ends(const Run& run) {
    size_t before = out_.size();
    const winsim::ProcessResult& r = run.r;
    bool leaked = false;
    for (const winsim::ExitRecord& e : run.m.exits) leaked = leaked || e.heapLeaks;
    if (!r.stopped.empty()) Add("ends", "stopped by winsim: " + r.stopped);
    for (const std::string& why : run.m.stops)
      if (why != r.stopped) Add("ends", "stopped by winsim: " + why);
    if (r.crashed && !leaked) Add("ends", "crashed or reported by a sanitizer (ended unseen by winsim)");
    if (r.returned) Add("ends", "returned without ending its process");
    if (!r.exited && r.stopped.empty() && !r.crashed && !r.returned) Add("ends", "did not end through ExitProcess");
    for (const winsim::ExitRecord& e : run.m.exits)
      if (e.crashed) Add("ends", e.proc + " crashed or was reported by a sanitizer, code 0x" + Hex(e.exitCode));
    return out_.size() == before;
  }

  static std::string Hex(DWORD v) {
    char b[16];
    std::snprintf(b, sizeof b, "%X", v);
    return b;
  }

  void Leaks(const Run& run, const Fault* fault) {
    Keeps kept = Keeps::Nothing;
    if (fault) kept = EntryOf(fault->fn)->keeps;
    for (const winsim::ExitRecord& e : run.m.exits) {
      if (e.crashed) continue;
      bool faulted = fault && e.proc == fault->proc;
      auto allow = [&](Keeps k) { return faulted && kept == k ? 1 : 0; };
      auto expect = [&](int count, int allowed, const char* what) {
        if (count > allowed) Add("leaks", e.proc + ": " + std::to_string(count) + " " + what);
      };
      expect(e.openHandles, allow(Keeps::Handle), "process, thread or file handles left open");
      expect(e.openDeviceInfoSets, allow(Keeps::DeviceInfoSet), "device information sets never destroyed");
      expect(e.openDriverLists, allow(Keeps::DriverList), "driver lists never destroyed");
      expect(e.gdiObjects, allow(Keeps::GdiObject), "GDI objects never deleted");
      expect(e.gdiDoubleDeletes, 0, "GDI handles deleted twice or never made");
      expect(e.dcsNotReleased, allow(Keeps::DeviceContext), "device contexts never released");
      expect(e.heapLeaks, 0, "heap leak (LeakSanitizer's report is on the test's error output)");
    }
  }

  // Whether an exception allows what a check would refuse (and counts it as taken).
  bool Relaxed(bool exitCode) {
    for (const Exception& x : kExceptions) {
      if (!Applies(x, s_, fault_.fn) || !(exitCode ? x.exitCode : x.visibility)) continue;
      taken_.insert(x.id);
      return true;
    }
    return false;
  }

  void Outcome(const Run& run, const Fault* fault) {
    const winsim::ProcessResult& r = run.r;
    if (s_.ask == Ask::Window) return WindowOutcome(run, fault);
    bool happened = s_.ask == Ask::Uninstall ? Uninstalled(run.m) : Installed(run.m);
    if (!fault) {
      if (!happened || r.exitCode != 0) Add("harness", "the clean run did not succeed: exit code " + Hex(r.exitCode));
      return;
    }
    if (happened) return;
    // What the user asked for did not happen: no exit code 0, and the failure shows.
    if (r.exitCode == 0 && !Relaxed(true)) Add("exit code", "exit code 0, but " + Missed(run.m));
    bool shows = r.exitCode != 0 || (s_.ask != Ask::Quorvin && TellsOfFailure(run.m.debugLines, clean_.m.debugLines));
    if (!shows && !Relaxed(false))
      Add("shows", Missed(run.m) + ", and nothing tells (exit code 0, no debug line of a failure)");
  }

  std::string Missed(const Machine& m) const {
    switch (s_.ask) {
      case Ask::Uninstall: return LeftOfTheVendor(m);
      default: return "the driver package is not installed";
    }
  }

  void WindowOutcome(const Run& run, const Fault* fault) {
    const winsim::ProcessResult& r = run.r;
    WindowLines lines = LinesOf(run.m), cleanLines = LinesOf(clean_.m);
    bool installed = InstallCallMade(run.m, fault), uninstalled = Uninstalled(run.m);
    if (!fault) {
      if (!installed || !uninstalled || r.exitCode != 0 || run.m.script.size() != kFallbackActions ||
          cleanLines.install.empty() || cleanLines.uninstall.empty())
        Add("harness", "the clean run did not succeed");
      return;
    }
    if (r.exitCode != 0) {
      // A start-up failure: the message box tells, if the user got to read it (a WM_QUIT that
      // waited ended it at once).
      bool read = std::any_of(run.m.messageBoxes.begin(), run.m.messageBoxes.end(),
                              [](const winsim::MessageBoxRecord& b) { return !b.endedByQuit; });
      if (!read) Add("shows", "exit code 0x" + Hex(r.exitCode) + " without a message box that the user read");
      return;
    }
    // A click that finds no such button: the window lacks what the user asks for.
    auto missed = [&](const char* button) {
      std::string click = std::string("click '") + button + "'";
      for (const std::string& m : run.m.missedActions)
        if (StartsWith(m, click.c_str())) return true;
      return false;
    };
    std::set<std::string> missedOnce(run.m.missedActions.begin(), run.m.missedActions.end());
    for (const std::string& m : missedOnce) Add("window", "the user's " + m);
    if (run.m.script.size() > kFallbackActions)
      Add("exit code", "exit code 0 before the user's clicks were all taken (" + std::to_string(run.m.script.size()) +
                           " actions left)");
    if (!installed && !missed("Install") && !TellsOfFailure(lines.install, cleanLines.install))
      Add("shows", "Install: the driver package was not installed, and no list line tells");
    if (!uninstalled && !missed("Uninstall") && !TellsOfFailure(lines.uninstall, cleanLines.uninstall) &&
        !Relaxed(false))
      Add("shows", "Uninstall: " + LeftOfTheVendor(run.m) + ", and no list line tells");
  }

  // Other vendors' devices (with their registry keys and configuration flags) and packages are
  // exactly as they were.
  void OtherVendors(const Run& run) {
    json after = Vendors(run.m);
    std::map<std::string, json> devicesAfter;
    for (const json& d : after["devices"]) devicesAfter[d["instanceId"].get<std::string>()] = d;
    for (const json& d : run.before["devices"]) {
      std::string id = d["instanceId"].get<std::string>();
      if (IsVendorDevice(id)) continue;
      auto it = devicesAfter.find(id);
      if (it == devicesAfter.end()) Add("other vendor", "device " + id + " was removed");
      else if (it->second != d)
        Add("other vendor", "device " + id + " was changed: " + json::diff(d, it->second).dump());
    }
    std::map<std::string, json> storeAfter;
    for (const json& p : after["driverStore"]) storeAfter[p["publishedName"].get<std::string>()] = p;
    for (const json& p : run.before["driverStore"]) {
      std::string name = p["publishedName"].get<std::string>();
      if (!run.otherPackages.count(name)) continue;
      auto it = storeAfter.find(name);
      if (it == storeAfter.end()) Add("other vendor", "driver package " + name + " was removed");
      else if (it->second != p) Add("other vendor", "driver package " + name + " was changed");
    }
  }

  const Scenario& s_;
  const Run& clean_;
  std::vector<Finding>& out_;
  Fault fault_;
  std::set<std::string> taken_;
};

// Arguments without the host addresses in them (objects and procedures, which move from run to
// run); handles and Windows values stay.
json Stable(const json& args) {
  if (args.is_object() || args.is_array()) {
    json out = args;
    for (auto& v : out) v = Stable(v);
    return out;
  }
  if (args.is_number_unsigned() && args.get<uint64_t>() > 0xFFFFFFFFu) return "address";
  if (args.is_number_integer() && (args.get<int64_t>() > int64_t(0xFFFFFFFF) || args.get<int64_t>() < INT32_MIN))
    return "address";
  return args;
}

// The fault hit the call it aimed at: the faulted run made the clean run's calls up to it, and
// that call with the same arguments.
bool HitsItsCall(const Machine& clean, const Machine& run, size_t position) {
  if (clean.calls.size() <= position || run.calls.size() <= position) return false;
  for (size_t i = 0; i <= position; ++i)
    if (clean.calls[i].proc != run.calls[i].proc || clean.calls[i].fn != run.calls[i].fn) return false;
  return Stable(clean.calls[position].args) == Stable(run.calls[position].args);
}

std::string Report(const std::vector<Finding>& findings) {
  // Grouped by check and faulted function, each with its runs.
  std::map<std::string, std::vector<const Finding*>> groups;
  for (const Finding& f : findings) groups[f.check + " | " + f.fault.fn + " | " + f.detail].push_back(&f);
  std::string out;
  for (const auto& [key, list] : groups) {
    out += "  [" + list.front()->check + "] " + list.front()->scenario + ": " + list.front()->detail + "\n      when " +
           list.front()->fault.fn + " fails at";
    size_t shown = 0;
    for (const Finding* f : list) {
      if (shown++ == 6) {
        out += " ... (" + std::to_string(list.size()) + " runs)";
        break;
      }
      out += " #" + std::to_string(f->fault.nth) + "/" + f->fault.proc + "@" + std::to_string(f->fault.position);
    }
    out += "\n";
  }
  return out;
}

void PrintFigures(const Figures& f) {
  std::printf("[ sweep    ] %-18s %4zu calls, %4zu faulted runs, %3zu calls that cannot fail; functions faulted %zu "
              "of %zu called; %zu failed runs (%zu findings); %.1f s\n",
              f.scenario.c_str(), f.calls, f.faulted, f.notFaultable, f.faultedFns.size(), f.called.size(),
              f.failedRuns, f.findings, f.seconds);
  for (const auto& [id, n] : f.exceptionsUsed)
    std::printf("[ sweep    ]   exception %s let %d runs pass\n", id.c_str(), n);
}

// The positions to fault, each with its fault; the calls that cannot fail are counted.
std::vector<Fault> Positions(const Machine& clean, Figures& figures) {
  std::vector<Fault> faults;
  std::map<std::string, int> counts;  // "fn@proc" -> calls so far
  for (size_t k = 0; k < clean.calls.size(); ++k) {
    const winsim::CallRecord& call = clean.calls[k];
    figures.called.insert(call.fn);
    int nth = ++counts[call.fn + "@" + call.proc];
    const FaultEntry* entry = EntryOf(call.fn);
    if (!entry) {
      ADD_FAILURE() << "harness: " << call.fn << " has no entry in the error table";
      continue;
    }
    if (!entry->faultable || (entry->cannotFailHere && entry->cannotFailHere(call.args))) {
      ++figures.notFaultable;
      continue;
    }
    faults.push_back(Fault{call.fn, call.proc, nth, entry->error, k});
    figures.faultedFns.insert(call.fn);
  }
  return faults;
}

// One faulted run's record, for a closer look (SWEEP_SHOW, see the top of the file).
void Show(const Scenario& s, const std::vector<Fault>& faults) {
  const char* show = std::getenv("SWEEP_SHOW");
  if (!show || std::string(show).rfind(std::string(s.name) + ":", 0) != 0) return;
  size_t k = std::stoul(std::string(show).substr(std::strlen(s.name) + 1));
  for (const Fault& f : faults) {
    if (f.position != k) continue;
    Run run = Execute(s, &f);
    std::printf("fault %s #%d in %s: exit 0x%X exited %d crashed %d stopped '%s'\n", f.fn.c_str(), f.nth,
                f.proc.c_str(), run.r.exitCode, run.r.exited, run.r.crashed, run.r.stopped.c_str());
    for (size_t i = k >= 3 ? k - 3 : 0; i < run.m.calls.size(); ++i)
      std::printf("  %s%zu %s %s %s\n", i == k ? "*" : " ", i, run.m.calls[i].proc.c_str(), run.m.calls[i].fn.c_str(),
                  Stable(run.m.calls[i].args).dump().c_str());
    for (const std::string& l : run.m.debugLines) std::printf("  debug: %s\n", l.c_str());
    for (const auto& snap : run.m.snapshots)
      for (const std::string& l : SnapshotLines(run.m, snap.label))
        std::printf("  %s: %s\n", snap.label.c_str(), l.c_str());
  }
}

void Sweep(const std::string& name) {
  const Scenario& s = ScenarioNamed(name);
  auto start = std::chrono::steady_clock::now();
  Figures figures;
  figures.scenario = s.name;
  std::vector<Finding> findings;

  Run clean = Execute(s, nullptr);
  Judge(s, clean, findings).Check(clean, nullptr);
  // winsim is deterministic: a second clean run makes the same calls with the same arguments, so
  // that a position names the same call in every run.
  Run again = Execute(s, nullptr);
  bool same = !clean.m.calls.empty() && clean.m.calls.size() == again.m.calls.size();
  for (size_t i = 0; same && i < clean.m.calls.size(); ++i) same = HitsItsCall(clean.m, again.m, i);
  ASSERT_TRUE(same) << "two clean runs made different calls: the positions would not name the same call";
  ASSERT_TRUE(findings.empty()) << "the clean run fails its own checks:\n" << Report(findings);
  bool onRoad = false;
  for (const winsim::CallRecord& c : clean.m.calls) onRoad = onRoad || c.fn + "@" + c.proc == s.road;
  ASSERT_TRUE(onRoad) << "the clean run made no " << s.road;
  figures.calls = clean.m.calls.size();
  std::vector<Fault> faults = Positions(clean.m, figures);
  Show(s, faults);

  // The runs are host processes of their own: several at a time.
  std::atomic<size_t> next{0};
  std::mutex lock;
  auto worker = [&] {
    std::vector<Finding> mine;
    Judge judge(s, clean, mine);
    for (size_t i; (i = next++) < faults.size();) {
      const Fault& fault = faults[i];
      Run run = Execute(s, &fault);
      // A process that crashed took its record with it: only the crash can be judged then.
      bool crashed = run.r.crashed;
      for (const winsim::ExitRecord& e : run.m.exits) crashed = crashed || e.crashed;
      if (!crashed && !HitsItsCall(clean.m, run.m, fault.position))
        mine.push_back(Finding{s.name, "harness", fault, "the fault did not hit the call it aimed at"});
      else
        judge.Check(run, &fault);
    }
    std::lock_guard<std::mutex> hold(lock);
    findings.insert(findings.end(), mine.begin(), mine.end());
    for (const auto& [id, n] : judge.exceptionsUsed) figures.exceptionsUsed[id] += n;
  };
  std::vector<std::thread> workers;
  unsigned n = std::max(1u, std::min(8u, std::thread::hardware_concurrency()));
  for (unsigned i = 0; i < n; ++i) workers.emplace_back(worker);
  for (std::thread& t : workers) t.join();
  std::sort(findings.begin(), findings.end(),
            [](const Finding& a, const Finding& b) { return a.fault.position < b.fault.position; });

  figures.faulted = faults.size();
  std::set<size_t> failed;
  for (const Finding& f : findings) failed.insert(f.fault.position);
  figures.failedRuns = failed.size();
  figures.findings = findings.size();
  figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  PrintFigures(figures);
  AllFigures().push_back(figures);
  EXPECT_TRUE(findings.empty()) << figures.failedRuns << " faulted runs of " << s.name << " failed their checks ("
                                << findings.size() << " findings):\n"
                                << Report(findings);
}

// The totals over the scenarios that this process ran.
class Totals : public ::testing::Environment {
 public:
  void TearDown() override {
    const std::vector<Figures>& all = AllFigures();
    if (all.size() < 2) return;
    Figures t;
    for (const Figures& f : all) {
      t.calls += f.calls;
      t.faulted += f.faulted;
      t.notFaultable += f.notFaultable;
      t.called.insert(f.called.begin(), f.called.end());
      t.faultedFns.insert(f.faultedFns.begin(), f.faultedFns.end());
      t.failedRuns += f.failedRuns;
      t.findings += f.findings;
      t.seconds += f.seconds;
      for (const auto& [id, n] : f.exceptionsUsed) t.exceptionsUsed[id] += n;
    }
    t.scenario = std::to_string(all.size()) + " scenarios";
    PrintFigures(t);
  }
};
const auto* const kTotals = ::testing::AddGlobalTestEnvironment(new Totals);

}  // namespace

TEST(FaultSweep, InstallByHardwareId) { Sweep("install-per-id"); }
TEST(FaultSweep, InstallByPackage) { Sweep("install-package"); }
TEST(FaultSweep, InstallWithTheHandOver) { Sweep("install-hand-over"); }
TEST(FaultSweep, Uninstall) { Sweep("uninstall"); }
TEST(FaultSweep, QuorvinAlone) { Sweep("quorvin"); }
TEST(FaultSweep, WindowInstallUninstallExit) { Sweep("window"); }

// One line per function; a fault names its error, a call that cannot fail says why.
TEST(FaultSweep, ErrorTableIsWellFormed) {
  std::set<std::string> seen;
  for (const FaultEntry& e : kFaults) {
    EXPECT_TRUE(seen.insert(e.fn).second) << e.fn << " twice";
    EXPECT_TRUE(*e.how) << e.fn;
    if (e.faultable) {
      EXPECT_NE(e.error, 0u) << e.fn << ": a fault with no error code";
    }
  }
}

// ---- What the sweep counts on winsim for ----

namespace {

#ifdef SWEEP_SANITIZED
// A heap block that nothing points to once this returns.
[[gnu::noinline]] void Drop() {
  void* volatile p = std::malloc(64);
  (void)p;
}
void* gKept = nullptr;
void Keep() { gKept = std::malloc(64); }
#endif

}  // namespace

// A compatible-driver list that its builder never destroyed counts as left, also when its set was
// destroyed (which frees it on Windows, but not by the program's doing).
TEST(FaultSweepWinsim, DriverListsNeverDestroyedAreCounted) {
  struct Case {
    const char* name;
    bool destroyList, destroySet;
    int lists, sets;
  } cases[] = {
      {"both destroyed", true, true, 0, 0},
      {"the set went first", false, true, 1, 0},
      {"neither", false, false, 1, 1},
      {"the list only", true, false, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Machine m;
    m.AddDevice("USB\\VID_7A3C&PID_0001\\1", {"USB\\VID_7A3C&PID_0001"});
    m.AddStoredInf("oem3.inf", test::SampleInf());
    winsim::ProcessResult r = winsim::RunProcess(m, {}, [c] {
      HDEVINFO set = SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_ALLCLASSES);
      SP_DEVINFO_DATA device = {};
      device.cbSize = sizeof(device);
      if (!SetupDiEnumDeviceInfo(set, 0, &device) || !SetupDiBuildDriverInfoList(set, &device, SPDIT_COMPATDRIVER))
        ExitProcess(2);
      if (c.destroyList) SetupDiDestroyDriverInfoList(set, &device, SPDIT_COMPATDRIVER);
      if (c.destroySet) SetupDiDestroyDeviceInfoList(set);
      ExitProcess(0);
    });
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 0u);
    ASSERT_EQ(m.exits.size(), 1u);
    EXPECT_EQ(m.exits[0].openDriverLists, c.lists);
    EXPECT_EQ(m.exits[0].openDeviceInfoSets, c.sets);
  }
}

// A program that a process started and that ended without ExitProcess (a signal, a sanitizer's
// report, an exit of its own) leaves a record that says so; one that ended properly does not.
TEST(FaultSweepWinsim, AStartedProgramThatEndsUnseenLeavesACrashRecord) {
  char script[] = "/tmp/sweep-crash-XXXXXX";
  int fd = mkstemp(script);
  ASSERT_GE(fd, 0);
  const char text[] = "#!/bin/sh\nkill -SEGV $$\n";
  ASSERT_EQ(write(fd, text, sizeof(text) - 1), ssize_t(sizeof(text) - 1));
  close(fd);
  chmod(script, 0700);
  struct Case {
    const char* name;
    std::string host;
    bool crashed;
    DWORD exitCode;
  } cases[] = {
      {"quorvin", HOST_QUORVIN, false, 0},
      {"killed by a signal", script, true, 0xC0000005},
      {"an exit of its own", "/bin/false", true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Machine m = test::PackageMachine();
    m.AddDevice("USB\\VID_7A3C&PID_0001\\1", {"USB\\VID_7A3C&PID_0001"});
    m.programs["quorvin"] = c.host;
    DWORD code = 12345;
    {
      winsim::Session s(m);
      STARTUPINFOA si = {};
      si.cb = sizeof(si);
      PROCESS_INFORMATION pi = {};
      char commandLine[] = "";
      ASSERT_TRUE(CreateProcessA("amd64\\quorvin.exe", commandLine, nullptr, nullptr, FALSE, 0, nullptr,
                                 "C:\\Drivers\\", &si, &pi));
      WaitForSingleObject(pi.hProcess, INFINITE);
      GetExitCodeProcess(pi.hProcess, &code);
      CloseHandle(pi.hProcess);
      CloseHandle(pi.hThread);
    }
    EXPECT_EQ(code, c.exitCode);
    ASSERT_EQ(m.exits.size(), 1u);
    EXPECT_EQ(m.exits[0].proc, "quorvin");
    EXPECT_EQ(m.exits[0].crashed, c.crashed);
    EXPECT_EQ(m.exits[0].exitCode, c.exitCode);
  }
  unlink(script);
}

// Under the sanitizers the end of a process looks for leaks while the globals still hold what
// they point to: a block that nothing points to is a leak, one that a global holds is not.
TEST(FaultSweepWinsim, LeaksFoundAtTheEndReachTheExitRecord) {
#ifndef SWEEP_SANITIZED
  GTEST_SKIP() << "LeakSanitizer runs in the sanitizer build only";
#else
  struct Case {
    const char* name;
    void (*body)();
    int leaks;
  } cases[] = {
      {"dropped", [] { Drop(); ExitProcess(0); }, 1},
      {"held by a global", [] { Keep(); ExitProcess(0); }, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Machine m;
    winsim::ProcessResult r = winsim::RunProcess(m, {}, c.body);
    ASSERT_EQ(m.exits.size(), 1u);
    EXPECT_EQ(m.exits[0].heapLeaks, c.leaks);
    EXPECT_EQ(r.crashed, c.leaks != 0) << "a leak is a sanitizer's report";
    EXPECT_EQ(r.exitCode, 0u);
  }
#endif
}
