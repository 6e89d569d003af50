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
  std::wstring cls;
  std::wstring text;
  WNDPROC proc = nullptr;
  HWND parent = nullptr;
  DWORD style = 0;
  LONG_PTR userData = 0;
  std::vector<std::wstring> items;  // LISTBOX lines
};

struct WindowClass {
  std::wstring name;
  WNDPROC proc = nullptr;
};

// A device information set: the devices it holds (by device node number) and, per device, the
// compatible-driver list built for it.
struct DeviceInfoSet {
  std::vector<DWORD> members;
  std::map<DWORD, std::vector<Driver>> driverLists;
};

struct ChildProcess {
  int pid = -1;
  std::string stateFile;
  bool ended = false;
  DWORD exitCode = STILL_ACTIVE;
  int handles = 0;  // open handles on it (process and thread)
  uintptr_t processHandle = 0;  // the one of the two that is a process handle
  // The starter's record when the child started; what the starter adds meanwhile is kept.
  size_t callsAtStart = 0;
  size_t debugLinesAtStart = 0;
  size_t messageBoxesAtStart = 0;
  size_t beepsAtStart = 0;
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
  std::wstring commandLine;
  DWORD lastError = 0;
  std::set<std::string> loadedModules;  // lower-case names
  std::string stateFile;                // where the machine goes when the process ends

  std::map<uintptr_t, Window> windows;
  std::map<std::wstring, WindowClass> classes;  // lower-case names
  std::deque<MSG> queue;
  bool quitPosted = false;
  int quitCode = 0;

  std::map<uintptr_t, DeviceInfoSet> deviceInfoSets;
  std::map<uintptr_t, std::shared_ptr<ChildProcess>> processHandles;  // process and thread handles
  std::map<uintptr_t, OpenFile> files;
  uintptr_t nextHandle = 0x1000;

  bool Wow64(const Machine& m) const { return bits == 32 && m.Is64Bit(); }
  uintptr_t NewHandle() { return nextHandle += 4; }
};

Machine& M();
Process& P();
void Attach(Machine* m, Process* p);
bool Active();  // a machine and process are set up

// Records the call with its arguments and returns the rule that scripts it, if any.
const Rule* Enter(const char* fn, json args = json::object());
// Enter, and when a rule makes the call fail: sets its error and returns true.
bool Faulted(const char* fn, json args = json::object());

void SetError(DWORD e);

// Text.
std::string Utf8(const WCHAR* s, int n = -1);
std::wstring Wide(const std::string& utf8);
std::string AnsiToUtf8(const char* s, int n = -1);  // Windows-1252 bytes to UTF-8
std::string Utf8ToAnsi(const std::string& utf8);    // '?' for what 1252 cannot hold
WCHAR AnsiToWideChar(unsigned char c);
int WideCharToAnsi(WCHAR c);  // -1 when 1252 has no such character
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

// Device information sets: the set of a handle, and the device that a record of it names; each
// sets the last error and gives null when there is none.
Device* DeviceByInst(DWORD devInst);
DeviceInfoSet* SetOf(HDEVINFO h);
Device* DeviceOf(HDEVINFO h, PSP_DEVINFO_DATA data);

// The compatible drivers that Windows lists for a device: its own entries, then every package of
// the driver store whose model lines name one of its hardware or compatible IDs.
std::vector<Driver> CompatibleDrivers(const Device& d);

// Starting processes (shared by CreateProcessA and the test runner).
void SetUpProcess(Machine& m, const ProcessSpec& spec, const std::string& stateFile);

}  // namespace winsim::detail
