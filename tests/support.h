// What the tests share: machines with the vendor's driver package, and the host programs.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driverinstall/DriverInstall.h"
#include "install/Install.h"
#include "install/MainWindow.h"
#include "winsim/machine.h"

namespace test {

// In a session of install, what its start-up leaves for a procedure: the system entries bound,
// the base directory read afresh, the OS kind, DiInstallDriverA looked up afresh.
inline void StartUp(BYTE kind) {
  BindSystemEntries();
  BaseDir.Truncate(0);
  SetBaseDir();
  OSKind = kind;
  DiInstallDriverProc = nullptr;
  LoadDiInstallDriver();
}

// A UTF-8 literal as the text the machine face takes.
inline std::string U8(const char8_t* s) { return reinterpret_cast<const char*>(s); }

// "(left,top)-(right,bottom)", for readable geometry failures.
inline std::string S(const RECT& r) {
  return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" + std::to_string(r.right) + "," +
         std::to_string(r.bottom) + ")";
}

// The sample driver package INF of the tests (tests/data/veltowinusb.inf).
inline std::string SampleInf() {
  std::ifstream in(std::string(TEST_DATA_DIR) + "/veltowinusb.inf", std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The hardware IDs that the sample INF's marker lines name.
inline std::vector<std::string> SampleHardwareIds() {
  return {"USB\\VID_7A3C&PID_0001", "USB\\VID_7A3C&PID_0002", "USB\\VID_7A3C&PID_0010&MI_00"};
}

// A machine with the driver package in `folder` (the current directory, C:\Drivers by default),
// quorvin beside install in its amd64 subfolder, and the host builds of both programs.
inline winsim::Machine PackageMachine(DWORD major = 6, DWORD minor = 1, BYTE product = VER_NT_WORKSTATION,
                                      const std::string& folder = "C:\\Drivers") {
  winsim::Machine m;
  m.SetVersion(major, minor, product);
  m.AddFile(folder + "\\veltowinusb.inf", SampleInf());
  m.AddProgram(folder + "\\install.exe", "install");
  m.AddProgram(folder + "\\amd64\\quorvin.exe", "quorvin");
  m.programs["install"] = HOST_INSTALL;
  m.programs["quorvin"] = HOST_QUORVIN;
  m.currentDirectory = folder;
  return m;
}

// Runs the host install with the arguments, as from C:\Drivers.
inline winsim::ProcessResult RunInstall(winsim::Machine& m, const std::string& arguments) {
  winsim::ProcessSpec spec;
  spec.program = "install";
  spec.bits = 32;
  spec.commandLine = "\"C:\\Drivers\\install.exe\"" + (arguments.empty() ? "" : " " + arguments);
  winsim::ProcessResult r = winsim::RunProgram(m, HOST_INSTALL, spec);
  EXPECT_FALSE(r.crashed) << "install " << arguments << " crashed or was reported by a sanitizer";
  return r;
}

// Runs the host quorvin in the given current directory.
inline winsim::ProcessResult RunQuorvin(winsim::Machine& m, const std::string& currentDirectory,
                                        const std::string& commandLine = "") {
  winsim::ProcessSpec spec;
  spec.program = "quorvin";
  spec.bits = 64;
  spec.commandLine = commandLine;
  spec.currentDirectory = currentDirectory;
  winsim::ProcessResult r = winsim::RunProgram(m, HOST_QUORVIN, spec);
  EXPECT_FALSE(r.crashed) << "quorvin crashed or was reported by a sanitizer";
  return r;
}

// The main window of install on the current session for one scope (its window class registered
// first), or none; at the end of the scope, before the session ends, it is destroyed and the
// library frees its objects.
class MainWindowScope {
 public:
  explicit MainWindowScope(bool make = true) {
    if (!make) return;
    RegisterWndClass();
    Window = New<TMainWindow>();
  }
  ~MainWindowScope() {
    if (Window && IsWindow(Window->Handle())) Window->Destroy();
  }
  MainWindowScope(const MainWindowScope&) = delete;
  MainWindowScope& operator=(const MainWindowScope&) = delete;
  TMainWindow* Window = nullptr;
};

// The texts that the recorder window has received, in order.
inline std::vector<std::string>& RecordedTexts() {
  static std::vector<std::string> texts;
  return texts;
}

// A plain window that keeps a copy of every ANSI text (wParam) sent to it with `message` while
// the send lasts, as the main window's log does with its progress texts. Clears the record.
inline HWND RecorderWindow(UINT message) {
  static UINT recorded;
  recorded = message;
  RecordedTexts().clear();
  WNDCLASSW wc{};
  wc.lpfnWndProc = [](HWND h, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
    if (msg != recorded) return DefWindowProcW(h, msg, wp, lp);
    RecordedTexts().push_back(lp == 0 ? reinterpret_cast<const char*>(wp) : "(lParam not 0)");
    return 0;
  };
  wc.lpszClassName = L"TextRecorder";
  RegisterClassW(&wc);
  return CreateWindowExW(0, L"TextRecorder", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace test
