// The install procedure: the INF's marker lines, the choice of method, the results, the
// reinstall marking, and "/install" end to end through the host programs.
#include "driverinstall/DriverInstall.h"
#include "install/Install.h"
#include "support.h"

using winsim::Machine;

namespace {

const char* kInfPath = "C:\\Drivers\\veltowinusb.inf";

// A 32-bit machine, so that the 32-bit install runs every call itself.
Machine X86Machine(const std::string& inf) {
  Machine m;
  m.nativeArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
  m.AddFile(kInfPath, inf);
  return m;
}

struct InstallRun {
  int result;
  std::vector<std::string> installedIds;  // HardwareId of every UpdateDriverForPlugAndPlayDevicesA
  std::vector<std::string> lines;         // the log list, with a window
  int openHandles;
};

// DoInstall in a session of install on the machine, with the OS kind given.
InstallRun DoInstallOn(Machine& m, BYTE kind, bool withWindow = false) {
  InstallRun run;
  {
    winsim::Session s(m);
    test::StartUp(kind);
    test::MainWindowScope scope(withWindow);
    TMainWindow* window = scope.Window;
    run.result = DoInstall(window);
    if (withWindow) run.lines = s.ListBoxItems(window->lbLog->Handle());
    run.openHandles = s.OpenHandles() + s.OpenDeviceInfoSets();
  }
  for (const auto& c : m.Calls("UpdateDriverForPlugAndPlayDevicesA")) run.installedIds.push_back(c.args["HardwareId"]);
  return run;
}


}  // namespace

// What the reading of the INF gives: the marker lines, less ";@", exactly and in order.
TEST(InstallProcedure, MarkerLinesBecomeHardwareIds) {
  struct Row {
    const char* what;
    std::string inf;
    std::vector<std::string> ids;
  } rows[] = {
      {"the sample package", test::SampleInf(), test::SampleHardwareIds()},
      {"no marker line", "[Version]\nSignature=\"$Windows NT$\"\n", {}},
      {"the marker alone", ";@USB\\VID_7A3C&\n", {"USB\\VID_7A3C&"}},
      {"trailing blanks and comments kept", ";@USB\\VID_7A3C&PID_0001  \t; logger\n",
       {"USB\\VID_7A3C&PID_0001  \t; logger"}},
      {"other case, leading blanks, short lines not taken",
       ";@usb\\vid_7a3c&PID_0001\n ;@USB\\VID_7A3C&PID_0002\n\t;@USB\\VID_7A3C&PID_0003\n;@USB\\VID_7A3C\n;@\n",
       {}},
      {"another vendor not taken", ";@USB\\VID_1234&PID_0001\n;@USB\\VID_7A3D&PID_0001\n", {}},
      {"the same line twice", ";@USB\\VID_7A3C&PID_0001\n;@USB\\VID_7A3C&PID_0001\n",
       {"USB\\VID_7A3C&PID_0001", "USB\\VID_7A3C&PID_0001"}},
      {"CR LF lines and a lone CR", ";@USB\\VID_7A3C&PID_0001\r\n;@USB\\VID_7A3C&PID\r_0002\r\r\n;@US\rB\\VID_7A3C&X\r",
       {"USB\\VID_7A3C&PID_0001", "USB\\VID_7A3C&PID_0002", "USB\\VID_7A3C&X"}},
      {"last line without a line feed", "x\n;@USB\\VID_7A3C&PID_0009", {"USB\\VID_7A3C&PID_0009"}},
      {"Ctrl-Z ends the file", ";@USB\\VID_7A3C&PID_0001\x1a;@USB\\VID_7A3C&PID_0002\n\x1a\n;@USB\\VID_7A3C&PID_0003\n",
       {"USB\\VID_7A3C&PID_0001"}},
      {"8-bit text kept as it is", ";@USB\\VID_7A3C&PID_0001 \xe9t\xe9\n", {"USB\\VID_7A3C&PID_0001 \xc3\xa9t\xc3\xa9"}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Machine m = X86Machine(r.inf);
    m.Answer("UpdateDriverForPlugAndPlayDevicesA", true);
    InstallRun run = DoInstallOn(m, osWinXP);
    // Without a hardware ID there is nothing to install for on this road.
    EXPECT_EQ(run.result, r.ids.empty() ? int(ERROR_LINE_NOT_FOUND) : 0);
    EXPECT_EQ(run.installedIds, r.ids);
    EXPECT_EQ(run.openHandles, 0);
    // The INF is opened for reading, sharing read access only.
    auto opens = m.Calls("CreateFileA");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].args["lpFileName"], "veltowinusb.inf");
    EXPECT_EQ(opens[0].args["dwDesiredAccess"], GENERIC_READ);
    EXPECT_EQ(opens[0].args["dwShareMode"], FILE_SHARE_READ);
  }
}

namespace {

// INFs from which no hardware ID can be read.
struct NoIdInf {
  const char* what;
  std::string inf;
};

std::vector<NoIdInf> NoIdInfs() {
  std::string text = ";@USB\\VID_7A3C&PID_0001\r\n";
  std::string utf16 = "\xff\xfe";
  for (char c : text) utf16 += std::string{c, '\0'};
  return {
      {"UTF-16 with a byte-order mark", utf16},
      {"empty", ""},
      {"no marker line", "[Version]\nSignature=\"$Windows NT$\"\n"},
      // Lines end at line feeds only: the whole file is one line, and it is no marker line.
      {"CR-only line ends", "[Version]\r;@USB\\VID_7A3C&PID_0001\r;@USB\\VID_7A3C&PID_0002\r"},
      {"marker lines only after Ctrl-Z", "[Version]\n\x1a;@USB\\VID_7A3C&PID_0001\n"},
  };
}

}  // namespace

// An INF was read to its end without error, but none of its lines was a marker line: the
// per-hardware-ID road has nothing to install for, and says so as an error.
TEST(InstallProcedure, PerIdMethodWithoutHardwareIdFails) {
  for (const NoIdInf& inf : NoIdInfs()) {
    for (bool window : {false, true}) {
      SCOPED_TRACE(std::string(inf.what) + (window ? ", with a window" : ", silent"));
      Machine m = X86Machine(inf.inf);
      m.Answer("UpdateDriverForPlugAndPlayDevicesA", true);
      InstallRun run = DoInstallOn(m, osWinXP, window);
      EXPECT_EQ(run.result, int(ERROR_LINE_NOT_FOUND));
      EXPECT_EQ(run.lines, window ? std::vector<std::string>{"No hardware ID in VELTOWINUSB.INF!"}
                                  : std::vector<std::string>{});
      EXPECT_EQ(m.debugLines, std::vector<std::string>{"No hardware ID in " + std::string(kInfPath) +
                                                       ", error 0xE0000102"});
      EXPECT_FALSE(m.Calls("ReadFile").empty());
      EXPECT_TRUE(m.Calls("UpdateDriverForPlugAndPlayDevicesA").empty());
      EXPECT_TRUE(m.Calls("SetupDiGetClassDevsA").empty());
      EXPECT_TRUE(m.beeps.empty());
      EXPECT_EQ(run.openHandles, 0);
    }
  }
}

TEST(InstallProcedure, LinesOfAnyLength) {
  std::string longId = ";@USB\\VID_7A3C&" + std::string(100000, 'P');
  std::string inf = std::string(3000000, 'x') + "\n" + longId + "\n;@USB\\VID_7A3C&PID_0001\n";
  Machine m = X86Machine(inf);
  m.Answer("UpdateDriverForPlugAndPlayDevicesA", true);
  InstallRun run = DoInstallOn(m, osWinXP);
  ASSERT_EQ(run.installedIds.size(), 2u);
  EXPECT_EQ(run.installedIds[0], longId.substr(2));
  EXPECT_EQ(run.installedIds[1], "USB\\VID_7A3C&PID_0001");
}

TEST(InstallProcedure, MissingInfOrFolderOfThatName) {
  for (bool folder : {false, true}) {
    for (bool window : {false, true}) {
      SCOPED_TRACE(std::string(folder ? "folder" : "missing") + (window ? " with window" : ""));
      Machine m;
      if (folder) m.AddFolder(kInfPath);
      InstallRun run = DoInstallOn(m, osWin7, window);
      EXPECT_EQ(run.result, 2);
      EXPECT_EQ(run.lines, window ? std::vector<std::string>{"Unable to find VELTOWINUSB.INF!"} : std::vector<std::string>{});
      EXPECT_TRUE(m.debugLines.empty());
      EXPECT_TRUE(m.beeps.empty());
      EXPECT_TRUE(m.Calls("CreateFileA").empty());
      EXPECT_TRUE(m.Calls("DiInstallDriverA").empty());
    }
  }
}

// An INF that exists but cannot be read stops the install, visibly and with the Windows error.
TEST(InstallProcedure, UnreadableInfStopsTheInstall) {
  struct Row {
    const char* what;
    std::function<void(Machine&)> setUp;
    int result;
    const char* debug;
  } rows[] = {
      {"held open for writing", [](Machine& m) { m.FindFile(kInfPath)->heldForWrite = true; }, ERROR_SHARING_VIOLATION,
       "Unable to read VELTOWINUSB.INF, error 0x20"},
      {"not readable for the user", [](Machine& m) { m.FindFile(kInfPath)->readDenied = true; }, ERROR_ACCESS_DENIED,
       "Unable to read VELTOWINUSB.INF, error 0x5"},
      {"reading fails", [](Machine& m) { m.Fail("ReadFile", 0x17, 2); }, 0x17,
       "Unable to read VELTOWINUSB.INF, error 0x17"},
      {"opening fails naming no error", [](Machine& m) { m.Fail("CreateFileA", 0); }, ERROR_FILE_NOT_FOUND,
       "Unable to read VELTOWINUSB.INF, error 0x2"},
  };
  for (const Row& r : rows) {
    for (bool window : {false, true}) {
      SCOPED_TRACE(r.what);
      Machine m = X86Machine(std::string(10000, '\n') + test::SampleInf());
      r.setUp(m);
      InstallRun run = DoInstallOn(m, osWin7, window);
      EXPECT_EQ(run.result, r.result);
      EXPECT_EQ(run.lines, window ? std::vector<std::string>{"Unable to read VELTOWINUSB.INF!"} : std::vector<std::string>{});
      EXPECT_EQ(m.debugLines, std::vector<std::string>{r.debug});
      EXPECT_TRUE(m.Calls("DiInstallDriverA").empty());
      EXPECT_TRUE(m.Calls("SetupDiGetClassDevsA").empty());
      EXPECT_EQ(run.openHandles, 0);  // the file was closed
    }
  }
}

TEST(InstallProcedure, MethodFollowsTheOsKind) {
  for (BYTE kind : {osWinXP, osServer2003, osServer2003R2, osVistaFamily, osVista, osServer2008, osWin7, osServer2012,
                    osWin8, osServer2012R2, osWin81}) {
    SCOPED_TRACE(int(kind));
    Machine m = X86Machine(test::SampleInf());
    m.Answer("UpdateDriverForPlugAndPlayDevicesA", true);
    m.Answer("DiInstallDriverA", true);
    InstallRun run = DoInstallOn(m, kind);
    EXPECT_EQ(run.result, 0);
    bool perId = kind < osVista;
    EXPECT_EQ(m.Calls("UpdateDriverForPlugAndPlayDevicesA").size(), perId ? 3u : 0u);
    EXPECT_EQ(m.Calls("DiInstallDriverA").size(), perId ? 0u : 1u);
  }
}

// Every hardware ID is tried; the first failure is the result, so a silent run reports it.
TEST(InstallProcedure, PerIdMethodReturnsTheFirstFailure) {
  struct Row {
    const char* what;
    std::vector<std::pair<bool, DWORD>> answers;
    int result;
  } rows[] = {
      {"all succeed", {{true, 0}, {true, 0}, {true, 0}}, 0},
      {"no device: copied", {{false, ERROR_NO_SUCH_DEVINST}, {true, 0}, {false, ERROR_NO_SUCH_DEVINST}}, 0},
      {"second and third fail", {{true, 0}, {false, ERROR_ACCESS_DENIED}, {false, ERROR_FILE_NOT_FOUND}},
       ERROR_ACCESS_DENIED},
      {"up to date is a failure of the install", {{false, ERROR_NO_MORE_ITEMS}, {true, 0}, {true, 0}},
       ERROR_NO_MORE_ITEMS},
      {"all refused in WoW64", {{false, ERROR_IN_WOW64}, {false, ERROR_IN_WOW64}, {false, ERROR_IN_WOW64}},
       int(ERROR_IN_WOW64)},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Machine m = X86Machine(test::SampleInf());
    for (size_t i = 0; i < r.answers.size(); ++i)
      m.Answer("UpdateDriverForPlugAndPlayDevicesA", r.answers[i].first, r.answers[i].second, false, int(i + 1));
    InstallRun run = DoInstallOn(m, osServer2003);
    EXPECT_EQ(run.result, r.result);
    EXPECT_EQ(run.installedIds, test::SampleHardwareIds());
  }
}

TEST(InstallProcedure, PackageMethodMarksAbsentDevicesAfterSuccessOnly) {
  struct Row {
    bool ok;
    DWORD error;
    int result;
    bool marked;
  } rows[] = {
      {true, 0, 0, true},
      {false, ERROR_NO_SUCH_DEVINST, 0, true},
      {false, ERROR_NO_MORE_ITEMS, ERROR_NO_MORE_ITEMS, false},
      {false, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, false},
      {false, ERROR_NO_AUTHENTICODE_CATALOG, int(ERROR_NO_AUTHENTICODE_CATALOG), false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.error);
    Machine m = X86Machine(test::SampleInf());
    m.Answer("DiInstallDriverA", r.ok, r.error);
    winsim::Device& absent = m.AddDevice("USB\\VID_7A3C&PID_0002\\6&1", {"USB\\VID_7A3C&PID_0002"}, false);
    absent.configFlags = 0x4;
    m.AddDevice("USB\\VID_7A3C&PID_0001\\6&2", {"USB\\VID_7A3C&PID_0001"}, true);
    m.AddDevice("USB\\VID_1234&PID_0002\\6&3", {"USB\\VID_1234&PID_0002"}, false);
    InstallRun run = DoInstallOn(m, osWin7);
    EXPECT_EQ(run.result, r.result);
    EXPECT_EQ(*m.devices[0].configFlags, r.marked ? 0x24u : 0x4u);
    EXPECT_EQ(*m.devices[1].configFlags, 0u);  // present: never marked
    EXPECT_EQ(*m.devices[2].configFlags, 0u);  // another vendor
    // One search per listed hardware ID after a success, none otherwise.
    EXPECT_EQ(m.Calls("SetupDiGetClassDevsA").size(), r.marked ? 3u : 0u);
    EXPECT_EQ(run.openHandles, 0);
  }
}

// The package road needs no hardware ID: the package is installed once, nothing is marked.
TEST(InstallProcedure, PackageMethodWithoutMarkerLinesInstallsOnce) {
  for (const NoIdInf& inf : NoIdInfs()) {
    for (bool window : {false, true}) {
      SCOPED_TRACE(std::string(inf.what) + (window ? ", with a window" : ", silent"));
      Machine m = X86Machine(inf.inf);
      m.Answer("DiInstallDriverA", true);
      InstallRun run = DoInstallOn(m, osWin8, window);
      EXPECT_EQ(run.result, 0);
      EXPECT_EQ(m.Calls("DiInstallDriverA").size(), 1u);
      EXPECT_TRUE(m.Calls("SetupDiGetClassDevsA").empty());
      EXPECT_EQ(m.debugLines, (std::vector<std::string>{"Install_Driver: " + std::string(kInfPath), "success"}));
      EXPECT_EQ(run.lines, window ? (std::vector<std::string>{"Installing VELTO WinUsb driver...", "Success."})
                                  : std::vector<std::string>{});
    }
  }
}

// ---- "/install" through the host programs ----

namespace {

// The vendor's devices: PID_0001 plugged in, PID_0002 not; and a device of another vendor.
void AddDevices(Machine& m) {
  m.AddDevice("USB\\VID_7A3C&PID_0001\\5&2F1A&0&1", {"USB\\VID_7A3C&PID_0001&REV_0100", "USB\\VID_7A3C&PID_0001"}, true);
  m.AddDevice("USB\\VID_7A3C&PID_0002\\5&2F1A&0&2", {"USB\\VID_7A3C&PID_0002&REV_0100", "USB\\VID_7A3C&PID_0002"},
              false);
  m.AddDevice("USB\\VID_1234&PID_0002\\5&2F1A&0&3", {"USB\\VID_1234&PID_0002"}, false);
}

}  // namespace

TEST(SilentInstall, PerIdMethodEndToEnd) {
  Machine m = test::PackageMachine(5, 1);
  m.nativeArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
  AddDevices(m);
  winsim::ProcessResult r = test::RunInstall(m, "/install");
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_FALSE(r.crashed);
  EXPECT_EQ(m.devices[0].driverInf, "oem0.inf");             // installed on the present device
  EXPECT_EQ(*m.devices[1].configFlags, DWORD(CONFIGFLAG_REINSTALL));  // absent: marked
  EXPECT_EQ(*m.devices[2].configFlags, 0u);
  EXPECT_EQ(m.driverStore.size(), 1u);
  EXPECT_EQ(m.debugLines, (std::vector<std::string>{
                              "Install_Device_Driver: C:\\Drivers\\veltowinusb.inf", "success.",
                              "Install_Device_Driver: C:\\Drivers\\veltowinusb.inf", "success, marked to reinstall",
                              "Install_Device_Driver: C:\\Drivers\\veltowinusb.inf", "success, marked to reinstall"}));
  EXPECT_TRUE(m.messageBoxes.empty());
  ASSERT_EQ(m.exits.size(), 1u);
  EXPECT_EQ(m.exits[0].openHandles + m.exits[0].openDeviceInfoSets, 0);
}

// A package from which no hardware ID can be read: the per-hardware-ID road installs nothing and
// fails, the package road installs the package.
TEST(SilentInstall, NoHardwareIdFailsThePerIdMethodOnly) {
  struct Row {
    const char* what;
    DWORD major, minor;
    BYTE product;
    DWORD exitCode;
    std::vector<std::string> debug;
  } rows[] = {
      {"Windows XP", 5, 1, VER_NT_WORKSTATION, 1,
       {"No hardware ID in C:\\Drivers\\veltowinusb.inf, error 0xE0000102"}},
      {"Windows Server 2003", 5, 2, VER_NT_SERVER, 1,
       {"No hardware ID in C:\\Drivers\\veltowinusb.inf, error 0xE0000102"}},
      {"Windows 7", 6, 1, VER_NT_WORKSTATION, 0, {"Install_Driver: C:\\Drivers\\veltowinusb.inf", "success"}},
  };
  for (const NoIdInf& inf : NoIdInfs()) {
    for (const Row& r : rows) {
      SCOPED_TRACE(std::string(inf.what) + ", " + r.what);
      Machine m = test::PackageMachine(r.major, r.minor, r.product);
      m.nativeArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
      m.FindFile("C:\\Drivers\\veltowinusb.inf")->data = inf.inf;
      AddDevices(m);
      m.Answer("DiInstallDriverA", true);  // whatever the package holds
      winsim::ProcessResult res = test::RunInstall(m, "/install");
      EXPECT_TRUE(res.exited);
      EXPECT_EQ(res.exitCode, r.exitCode);
      EXPECT_EQ(m.debugLines, r.debug);
      EXPECT_TRUE(m.Calls("UpdateDriverForPlugAndPlayDevicesA").empty());
      EXPECT_EQ(m.Calls("DiInstallDriverA").size(), r.exitCode ? 0u : 1u);
      EXPECT_TRUE(m.messageBoxes.empty());
      EXPECT_EQ(*m.devices[1].configFlags, 0u);  // nothing to mark for
    }
  }
}

TEST(SilentInstall, PerIdMethodRefusedOnA64BitServerExitsOne) {
  Machine m = test::PackageMachine(6, 1, VER_NT_SERVER);  // kind 4 on 64-bit Windows
  AddDevices(m);
  winsim::ProcessResult r = test::RunInstall(m, "/install");
  EXPECT_EQ(r.exitCode, 1u);
  EXPECT_EQ(m.Calls("UpdateDriverForPlugAndPlayDevicesA").size(), 3u);
  const std::string path = "Install_Device_Driver: C:\\Drivers\\veltowinusb.inf";
  const std::string refused = "Other error - 0xE0000235";
  EXPECT_EQ(m.debugLines, (std::vector<std::string>{path, refused, path, refused, path, refused}));
  EXPECT_EQ(*m.devices[1].configFlags, 0u);
}

TEST(SilentInstall, PackageMethodOn32BitWindows) {
  Machine m = test::PackageMachine(6, 1);
  m.nativeArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
  AddDevices(m);
  winsim::ProcessResult r = test::RunInstall(m, "/INSTALL");
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_EQ(m.devices[0].driverInf, "oem0.inf");
  EXPECT_EQ(*m.devices[1].configFlags, DWORD(CONFIGFLAG_REINSTALL));
  EXPECT_EQ(m.debugLines, (std::vector<std::string>{"Install_Driver: C:\\Drivers\\veltowinusb.inf", "success"}));
}

// On 64-bit Windows quorvin installs the package; install then marks the absent devices.
TEST(SilentInstall, PackageMethodHandedOverTo64BitInstaller) {
  Machine m = test::PackageMachine(6, 1);
  AddDevices(m);
  winsim::ProcessResult r = test::RunInstall(m, "\"/install\"");
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_EQ(m.debugLines, (std::vector<std::string>{"Install_Driver: C:\\Drivers\\veltowinusb.inf",
                                                    "Running 64-bit installer...", "Process finished", "success"}));
  auto installs = m.Calls("DiInstallDriverA");
  ASSERT_EQ(installs.size(), 2u);
  EXPECT_EQ(installs[0].proc, "install");
  EXPECT_EQ(installs[1].proc, "quorvin");
  EXPECT_EQ(installs[1].args["Flags"], DIIRFLAG_FORCE_INF);
  EXPECT_EQ(m.devices[0].driverInf, "oem0.inf");
  EXPECT_EQ(*m.devices[1].configFlags, DWORD(CONFIGFLAG_REINSTALL));
  ASSERT_EQ(m.exits.size(), 2u);
  EXPECT_EQ(m.exits[1].proc, "install");
  EXPECT_EQ(m.exits[1].openHandles, 0);
}

TEST(SilentInstall, FailuresExitOne) {
  struct Row {
    const char* what;
    std::function<void(Machine&)> setUp;
  } rows[] = {
      {"no INF", [](Machine& m) { m.files.erase(std::find_if(m.files.begin(), m.files.end(), [](auto& f) {
                                    return f.path == "C:\\Drivers\\veltowinusb.inf";
                                  })); }},
      {"package up to date", [](Machine& m) { m.Answer("DiInstallDriverA", false, ERROR_NO_MORE_ITEMS, false, 0, "quorvin"); }},
      {"quorvin missing", [](Machine& m) { m.files.erase(std::find_if(m.files.begin(), m.files.end(), [](auto& f) {
                                             return f.path == "C:\\Drivers\\amd64\\quorvin.exe";
                                           })); }},
      {"INF held open for writing", [](Machine& m) { m.FindFile("C:\\Drivers\\veltowinusb.inf")->heldForWrite = true; }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Machine m = test::PackageMachine(6, 1);
    AddDevices(m);
    r.setUp(m);
    winsim::ProcessResult res = test::RunInstall(m, "/install");
    EXPECT_EQ(res.exitCode, 1u);
    EXPECT_TRUE(m.messageBoxes.empty());
    EXPECT_EQ(*m.devices[1].configFlags, 0u);
  }
}
