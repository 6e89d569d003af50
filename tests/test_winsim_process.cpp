// winsim's processes: CreateProcessA starts the host quorvin as a real child process on the same
// machine; waits, exit codes and handles as Windows has them; the WoW64 refusal of DiInstallDriverA.
#include "driverinstall/DriverInstall.h"
#include "support.h"

namespace {

const char* const Id = "USB\\VID_7A3C&PID_0001";

winsim::Machine ProcessMachine() {
  winsim::Machine m = test::PackageMachine();
  m.AddDevice("USB\\VID_7A3C&PID_0001\\1", {Id}, true);
  return m;
}

BOOL Start(const char* application, const char* currentDirectory, PROCESS_INFORMATION& pi) {
  STARTUPINFOA si = {};
  si.cb = sizeof(si);
  char commandLine[] = "";
  pi = PROCESS_INFORMATION();
  return CreateProcessA(application, commandLine, nullptr, nullptr, FALSE, 0, nullptr, currentDirectory, &si, &pi);
}

}  // namespace

// A relative application name is completed against the starter's current directory; the child
// runs in the directory it is given and its changes come back to the machine after the wait.
TEST(WinsimProcess, StartsTheProgramImageAsAChildProcess) {
  winsim::Machine m = ProcessMachine();
  m.AddFolder("C:\\Elsewhere");
  m.AddFile("C:\\Elsewhere\\veltowinusb.inf", test::SampleInf());
  {
    winsim::Session s(m);
    PROCESS_INFORMATION pi;
    ASSERT_TRUE(Start("amd64\\quorvin.exe", "C:\\Elsewhere\\", pi));
    DWORD code = 12345;
    // The end of the child is seen through a wait only.
    EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
    EXPECT_EQ(code, DWORD(STILL_ACTIVE));
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), DWORD(WAIT_OBJECT_0));
    EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
    EXPECT_EQ(code, 0u);
    // A thread handle is no process handle.
    EXPECT_FALSE(GetExitCodeProcess(pi.hThread, &code));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_EQ(s.OpenHandles(), 2);
    EXPECT_TRUE(CloseHandle(pi.hProcess));
    EXPECT_TRUE(CloseHandle(pi.hThread));
    EXPECT_EQ(s.OpenHandles(), 0);
    EXPECT_FALSE(CloseHandle(pi.hThread));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
  }
  std::vector<winsim::CallRecord> installs = m.Calls("DiInstallDriverA");
  ASSERT_EQ(installs.size(), 1u);
  EXPECT_EQ(installs[0].proc, "quorvin");
  EXPECT_EQ(installs[0].args["InfPath"], "C:\\Elsewhere\\veltowinusb.inf");
  EXPECT_EQ(m.FindDevice("USB\\VID_7A3C&PID_0001\\1")->driverInf, "oem0.inf");
  ASSERT_EQ(m.exits.size(), 1u);
  EXPECT_EQ(m.exits[0].proc, "quorvin");
}

// The exit code comes back whole, beyond the 8 bits of a host exit status.
TEST(WinsimProcess, ExitCodeKeepsAllThirtyTwoBits) {
  winsim::Machine m = ProcessMachine();
  m.Fail("DiInstallDriverA", 0xE0000243, 0, "quorvin");
  winsim::Session s(m);
  PROCESS_INFORMATION pi;
  ASSERT_TRUE(Start("amd64\\quorvin.exe", "C:\\Drivers\\", pi));
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, 0xE0000243u);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
}

TEST(WinsimProcess, StartFailuresAsWindowsReportsThem) {
  struct Case {
    const char* name;
    const char* application;
    const char* currentDirectory;
    bool thirtyTwoBitWindows;
    DWORD error;
  } cases[] = {
      {"image missing", "amd64\\quorvin64.exe", "C:\\Drivers\\", false, ERROR_FILE_NOT_FOUND},
      {"folder missing", "x64\\quorvin.exe", "C:\\Drivers\\", false, ERROR_PATH_NOT_FOUND},
      {"not a program", "veltowinusb.inf", "C:\\Drivers\\", false, ERROR_BAD_EXE_FORMAT},
      {"empty current directory", "amd64\\quorvin.exe", "", false, ERROR_DIRECTORY},
      {"missing current directory", "amd64\\quorvin.exe", "C:\\Nowhere", false, ERROR_DIRECTORY},
      {"64-bit program on 32-bit Windows", "amd64\\quorvin.exe", "C:\\Drivers\\", true, ERROR_BAD_EXE_FORMAT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    winsim::Machine m = ProcessMachine();
    if (c.thirtyTwoBitWindows) m.nativeArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
    winsim::Session s(m);
    PROCESS_INFORMATION pi;
    EXPECT_FALSE(Start(c.application, c.currentDirectory, pi));
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(s.OpenHandles(), 0);
    EXPECT_TRUE(m.exits.empty());
  }
}

// Closing both handles without a wait still collects the child, so no host process is left.
TEST(WinsimProcess, ClosingWithoutWaitCollectsTheChild) {
  winsim::Machine m = ProcessMachine();
  {
    winsim::Session s(m);
    PROCESS_INFORMATION pi;
    ASSERT_TRUE(Start("amd64\\quorvin.exe", "C:\\Drivers\\", pi));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(s.OpenHandles(), 0);
  }
  ASSERT_EQ(m.exits.size(), 1u);
  EXPECT_EQ(m.exits[0].proc, "quorvin");
}

// What the starter records while the child runs stays in the record after the child's, and its
// calls still count for scripted faults.
TEST(WinsimProcess, StarterRecordSurvivesTheChildsState) {
  winsim::Machine m = ProcessMachine();
  m.Fail("MessageBeep", ERROR_ACCESS_DENIED, 2, "install");
  winsim::Session s(m);
  PROCESS_INFORMATION pi;
  ASSERT_TRUE(Start("amd64\\quorvin.exe", "C:\\Drivers\\", pi));
  OutputDebugStringW(L"while quorvin runs");
  EXPECT_TRUE(MessageBeep(MB_ICONEXCLAMATION));
  WaitForSingleObject(pi.hProcess, INFINITE);
  EXPECT_FALSE(MessageBeep(MB_ICONEXCLAMATION));  // the second beep of install
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  EXPECT_EQ(m.debugLines, std::vector<std::string>{"while quorvin runs"});
  EXPECT_EQ(m.beeps, std::vector<UINT>{MB_ICONEXCLAMATION});
  std::vector<std::string> names = m.CallNames();
  auto install = std::find(names.begin(), names.end(), "DiInstallDriverA");
  auto debug = std::find(names.begin(), names.end(), "OutputDebugStringW");
  EXPECT_TRUE(install != names.end() && debug != names.end() && install < debug);
}

// DiInstallDriverA refuses in a 32-bit process on 64-bit Windows only.
TEST(WinsimProcess, DiInstallDriverRefusesInWow64) {
  struct Case {
    const char* name;
    std::string program;
    int bits;
    bool thirtyTwoBitWindows;
    DWORD expected;
  } cases[] = {
      {"32-bit install on 64-bit Windows", "install", 32, false, ERROR_IN_WOW64},
      {"64-bit quorvin on 64-bit Windows", "quorvin", 64, false, 0},
      {"32-bit install on 32-bit Windows", "install", 32, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    winsim::Machine m = ProcessMachine();
    if (c.thirtyTwoBitWindows) m.nativeArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
    winsim::ProcessSpec spec;
    spec.program = c.program;
    spec.bits = c.bits;
    winsim::Session s(m, spec);
    DiInstallDriverProc = nullptr;
    ASSERT_TRUE(LoadDiInstallDriver());
    bool reboot = false;
    EXPECT_EQ(InstallDriverPackage(nullptr, "C:\\Drivers\\veltowinusb.inf", false, reboot), c.expected);
  }
}
