// quorvin on its own: the host build as a 64-bit process on the simulated machine.
#include "support.h"

namespace {

const char* const Id = "USB\\VID_7A3C&PID_0001";

// A folder whose name holds an unpaired surrogate (the machine face keeps its three bytes), and
// the folder whose name is that one with U+FFFD in its place.
const std::string kSurrogate = "C:\\\xED\xA0\x80" "drv";
const std::string kReplaced = "C:\\\xEF\xBF\xBD" "drv";

winsim::Machine QuorvinMachine(bool presentDevice = true) {
  winsim::Machine m = test::PackageMachine();
  if (presentDevice) m.AddDevice("USB\\VID_7A3C&PID_0001\\1", {Id}, true);
  return m;
}

std::vector<winsim::CallRecord> QuorvinCalls(const winsim::Machine& m, const std::string& fn) {
  std::vector<winsim::CallRecord> out;
  for (const auto& c : m.Calls(fn))
    if (c.proc == "quorvin") out.push_back(c);
  return out;
}

}  // namespace

// The INF is looked for in the current directory, named with one backslash before the file name;
// the command line changes nothing.
TEST(Quorvin, InstallsTheInfOfItsCurrentDirectory) {
  struct Case {
    const char* name;
    std::string currentDirectory;
    std::string commandLine;
    bool directoryUnreadable;
    std::string infPath;
    DWORD exitCode;
    UINT codePage = 1252;
    bool copyInf = false;   // a copy of the package in the current directory
    std::string shortName = "";  // of the current directory
  } cases[] = {
      {"folder", "C:\\Drivers", "", false, "C:\\Drivers\\veltowinusb.inf", 0},
      {"drive root", "C:\\", "", false, "C:\\veltowinusb.inf", ERROR_FILE_NOT_FOUND},
      {"arguments ignored", "C:\\Drivers", "quorvin.exe /uninstall C:\\Other\\x.inf", false,
       "C:\\Drivers\\veltowinusb.inf", 0},
      // No current directory: the bare name, which Windows completes against the current directory.
      {"empty directory", "C:\\Drivers", "", true, "veltowinusb.inf", 0},
      // 表 is 0x95 0x5C in code page 932: the folder still gets its backslash.
      {"folder ending in a double-byte character", "C:\\\xE8\xA1\xA8", "", false, "C:\\\xE8\xA1\xA8\\veltowinusb.inf",
       0, 932, true},
      // Code page 1252 has no "Ł": best fit would name "C:\Lukasz", another folder with another
      // package. Its 8.3 name serves, or nothing is installed.
      {"folder the code page cannot hold, by its 8.3 name", "C:\\\xC5\x81ukasz", "", false,
       "C:\\LUKASZ~1\\veltowinusb.inf", 0, 1252, true, "LUKASZ~1"},
      {"folder the code page cannot hold, no 8.3 name", "C:\\\xC5\x81ukasz", "", false, "",
       ERROR_NO_UNICODE_TRANSLATION, 1252, true},
      // UTF-8 holds every name that is UTF-16.
      {"UTF-8, an ASCII folder", "C:\\Drivers", "", false, "C:\\Drivers\\veltowinusb.inf", 0, 65001},
      {"UTF-8, a folder 1252 cannot hold", "C:\\\xC5\x81ukasz", "", false, "C:\\\xC5\x81ukasz\\veltowinusb.inf", 0,
       65001, true},
      {"UTF-8, a folder of 932", "C:\\\xE8\xA1\xA8", "", false, "C:\\\xE8\xA1\xA8\\veltowinusb.inf", 0, 65001, true},
      // A name with an unpaired surrogate is not UTF-16: as U+FFFD it would name another folder.
      {"UTF-8, an unpaired surrogate, by its 8.3 name", kSurrogate, "", false, "C:\\DRV~1\\veltowinusb.inf", 0, 65001,
       true, "DRV~1"},
      {"UTF-8, an unpaired surrogate, no 8.3 name", kSurrogate, "", false, "", ERROR_NO_UNICODE_TRANSLATION, 65001,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    winsim::Machine m = QuorvinMachine();
    m.ansiCodePage = c.codePage;
    if (c.copyInf) m.AddFile(c.currentDirectory + "\\veltowinusb.inf", test::SampleInf());
    if (!c.shortName.empty()) m.FindFile(c.currentDirectory)->shortName = c.shortName;
    m.AddFile("C:\\Lukasz\\veltowinusb.inf", "; another maker's package\n" + test::SampleInf());
    m.AddFile(kReplaced + "\\veltowinusb.inf", "; another maker's package\n" + test::SampleInf());
    m.AddFolder("C:\\Other");
    if (c.directoryUnreadable) m.Fail("GetCurrentDirectoryW", ERROR_ACCESS_DENIED);
    auto r = test::RunQuorvin(m, c.currentDirectory, c.commandLine);
    ASSERT_TRUE(r.exited) << r.stopped;
    EXPECT_FALSE(r.crashed);
    EXPECT_EQ(r.exitCode, c.exitCode);
    auto calls = QuorvinCalls(m, "DiInstallDriverA");
    std::vector<std::string> paths;
    for (const auto& call : calls) paths.push_back(call.args["InfPath"]);
    EXPECT_EQ(paths, c.infPath.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.infPath});
    if (calls.size() != 1) continue;
    EXPECT_EQ(calls[0].args["Flags"], DIIRFLAG_FORCE_INF);
    EXPECT_EQ(calls[0].args["hwndParent"], 0);
    EXPECT_EQ(m.FindDevice("USB\\VID_7A3C&PID_0001\\1")->driverInf.empty(), c.exitCode != 0);
    // quorvin shows and says nothing.
    EXPECT_TRUE(m.debugLines.empty());
    EXPECT_TRUE(m.messageBoxes.empty());
    ASSERT_EQ(m.exits.size(), 1u);
    EXPECT_EQ(m.exits[0].openHandles, 0);
  }
}

// The exit code is the install result code, unchanged, also beyond what a host status can hold.
TEST(Quorvin, ExitCodeIsTheInstallResult) {
  struct Case {
    const char* name;
    bool presentDevice;
    const char* failing;  // a call that fails with `error`
    DWORD error;
    DWORD exitCode;
  } cases[] = {
      {"copied to the driver store", false, nullptr, 0, ERROR_NO_SUCH_DEVINST},
      {"copy fails", false, "SetupCopyOEMInfA", ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
      {"up to date", true, "DiInstallDriverA", ERROR_NO_MORE_ITEMS, ERROR_NO_MORE_ITEMS},
      {"publisher not trusted", true, "DiInstallDriverA", 0xE0000243, 0xE0000243},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    winsim::Machine m = QuorvinMachine(c.presentDevice);
    if (c.failing) m.Fail(c.failing, c.error);
    auto r = test::RunQuorvin(m, "C:\\Drivers");
    ASSERT_TRUE(r.exited) << r.stopped;
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_EQ(m.exits.back().exitCode, c.exitCode);
  }
  // After the copy the package is in the driver store.
  winsim::Machine m = QuorvinMachine(false);
  test::RunQuorvin(m, "C:\\Drivers");
  ASSERT_EQ(m.driverStore.size(), 1u);
  EXPECT_EQ(m.driverStore[0].originalPath, "C:\\Drivers\\veltowinusb.inf");
}

// Without DiInstallDriverA nothing is installed and the exit code is 1.
TEST(Quorvin, WithoutDiInstallDriverExitsWithOne) {
  struct Case {
    const char* name;
    std::function<void(winsim::Machine&)> setUp;
  } cases[] = {
      {"newdev.dll without the entry", [](winsim::Machine& m) { m.RemoveExport("newdev.dll", "DiInstallDriverA"); }},
      {"no newdev.dll", [](winsim::Machine& m) { m.RemoveModule("newdev.dll"); }},
      {"newdev.dll does not load", [](winsim::Machine& m) { m.Fail("LoadLibraryExW", ERROR_MOD_NOT_FOUND); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    winsim::Machine m = QuorvinMachine();
    c.setUp(m);
    auto r = test::RunQuorvin(m, "C:\\Drivers");
    ASSERT_TRUE(r.exited) << r.stopped;
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_TRUE(m.Calls("DiInstallDriverA").empty());
    EXPECT_TRUE(m.FindDevice("USB\\VID_7A3C&PID_0001\\1")->driverInf.empty());
  }
}

// quorvin runs as administrator: a newdev.dll planted beside it or in its current directory is
// never loaded, nor a devobj.dll there, which newdev.dll imports and which is no KnownDLL:
// newdev.dll comes from the system directory, and its imports too, on Windows with
// SetDefaultDllDirectories and on Windows without it (Vista and 7 without their update).
TEST(Quorvin, LoadsNewdevFromTheSystemDirectory) {
  struct Case {
    const char* name;
    DWORD minor;
    bool update;  // kernel32 has SetDefaultDllDirectories
  } cases[] = {
      {"Windows 7 x64 with its update", 1, true},
      {"Windows 7 x64 without its update", 1, false},
      {"Windows Vista x64 without its update", 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    winsim::Machine m = QuorvinMachine();
    m.SetVersion(6, c.minor);
    if (!c.update) m.RemoveExport("kernel32.dll", "SetDefaultDllDirectories");
    for (const char* folder : {"C:\\Drivers", "C:\\Drivers\\amd64"})
      for (const char* dll : {"newdev.dll", "devobj.dll"}) m.AddFile(std::string(folder) + "\\" + dll, "MZ planted");
    auto r = test::RunQuorvin(m, "C:\\Drivers");
    ASSERT_TRUE(r.exited) << r.stopped;
    EXPECT_EQ(r.exitCode, 0u);
    auto loads = QuorvinCalls(m, "LoadLibraryExW");
    ASSERT_EQ(loads.size(), 1u);
    EXPECT_EQ(loads[0].args["lpLibFileName"], "C:\\Windows\\system32\\newdev.dll");
    EXPECT_EQ(loads[0].args["dwFlags"], c.update ? LOAD_LIBRARY_SEARCH_SYSTEM32 : LOAD_WITH_ALTERED_SEARCH_PATH);
  }
}
