// The silent road on a double-byte ANSI code page and under a refusing heap: the base directory
// ends in one separator character, install and quorvin install the same INF, the progress texts
// and list lines are decoded from the system code page, a text that the heap cut short is written
// nowhere, and a text's growth that cannot be counted fails like a refused block.
#include <algorithm>
#include <new>
#include <set>

#include "driverinstall/DriverInstall.h"
#include "install/Install.h"
#include "platform/heap_host.h"
#include "support.h"

using winsim::Machine;
using Lines = std::vector<std::string>;

namespace {

// The machine face takes UTF-8.
using test::U8;

// BaseDir as at the program's start: empty and without a block of its own.
void FreshBaseDir() {
  BaseDir.~AnsiText();
  new (&BaseDir) AnsiText();
}

// The package in `folder` (the current directory), quorvin beside install, and the vendor's
// devices: PID_0001 plugged in, PID_0002 not.
Machine FolderMachine(UINT codePage, const std::string& folder, DWORD major, DWORD minor, WORD architecture) {
  Machine m = test::PackageMachine(major, minor, VER_NT_WORKSTATION, folder);
  m.ansiCodePage = codePage;
  m.nativeArchitecture = architecture;
  m.AddDevice("USB\\VID_7A3C&PID_0001\\5&1", {"USB\\VID_7A3C&PID_0001"}, true);
  m.AddDevice("USB\\VID_7A3C&PID_0002\\5&2", {"USB\\VID_7A3C&PID_0002"}, false);
  return m;
}

Lines InfPathsOf(const Machine& m, const char* fn, const char* arg) {
  Lines out;
  for (const auto& c : m.Calls(fn)) out.push_back(c.proc + ":" + c.args[arg].get<std::string>());
  return out;
}

}  // namespace

// The last character decides, not the last byte: in 932 the trail byte of 表, ソ or 十 is the
// byte of "\", and such a folder still gets its separator.
TEST(BaseDir, EndsInOneSeparatorCharacter) {
  struct Row {
    UINT cp;
    std::string dir;   // UTF-8
    std::string base;  // the bytes of BaseDir
  } rows[] = {
      {1252, "C:\\Drivers", "C:\\Drivers\\"},
      {932, "C:\\Drivers", "C:\\Drivers\\"},
      {932, "C:\\", "C:\\"},
      {932, U8(u8"C:\\表"), "C:\\\x95\x5C\\"},
      {932, U8(u8"C:\\ドライバ\\ソ"), "C:\\\x83\x68\x83\x89\x83\x43\x83\x6F\\\x83\x5C\\"},
      {932, U8(u8"D:\\十"), "D:\\\x8F\x5C\\"},
      {932, U8(u8"C:\\ｿ"), "C:\\\xBF\\"},  // half-width katakana: one byte
      {1252, U8(u8"C:\\Pilotes été"), "C:\\Pilotes \xE9t\xE9\\"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.dir + " in " + std::to_string(r.cp));
    Machine m;
    m.ansiCodePage = r.cp;
    m.AddFolder(r.dir);
    m.currentDirectory = r.dir;
    winsim::Session s(m);
    FreshBaseDir();
    SetBaseDir();
    EXPECT_EQ(std::string(BaseDir.c_str()), r.base);
  }
}

// Whichever block the heap refuses, the base directory is whole or empty (the bare INF name then
// names the same file), never a directory without its separator.
TEST(BaseDir, WholeOrEmptyWhateverBlockIsRefused) {
  struct Row {
    UINT cp;
    std::string dir;
    std::string base;
  } rows[] = {
      // 15 bytes: the separator needs a block of its own.
      {1252, "C:\\Drivers\\Velt", "C:\\Drivers\\Velt\\"},
      {932, U8(u8"C:\\Drivers\\表表"), "C:\\Drivers\\\x95\x5C\x95\x5C\\"},
      {1252, "C:\\Drivers\\" + std::string(20, 'v'), "C:\\Drivers\\" + std::string(20, 'v') + "\\"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.dir);
    Machine m;
    m.ansiCodePage = r.cp;
    m.AddFolder(r.dir);
    m.currentDirectory = r.dir;
    winsim::Session s(m);
    FreshBaseDir();
    HostHeap::Allow();
    SetBaseDir();
    size_t requests = HostHeap::Requests();
    ASSERT_EQ(std::string(BaseDir.c_str()), r.base);
    ASSERT_GT(requests, 0u);
    for (size_t nth = 1; nth <= requests; ++nth) {
      FreshBaseDir();
      HostHeap::Refuse(nth);
      SetBaseDir();
      HostHeap::Allow();
      std::string base = BaseDir.c_str();
      EXPECT_TRUE(base.empty() || base == r.base) << "block " << nth << " refused: \"" << base << "\"";
    }
  }
  FreshBaseDir();
}

// "/install" from a folder of each code page, on each road: install's INF path is quorvin's, and
// the path debug line shows it decoded from the system code page. UTF-8 holds every name.
TEST(CodePages, InstallAndQuorvinInstallTheSameInf) {
  enum Road {
    PerId,     // Windows XP, 32-bit: one install per hardware ID
    Package,   // 32-bit Windows 7: the package in install's own process
    HandOver,  // 64-bit Windows 7: the package through quorvin
  };
  const char* const roadNames[] = {"per hardware ID", "package", "package through quorvin"};
  struct Row {
    UINT cp;
    std::string folder;
    Road road;
  } rows[] = {
      {1252, "C:\\Drivers", HandOver},
      {932, "C:\\Drivers", HandOver},
      {932, U8(u8"C:\\ドライバ\\表"), HandOver},
      {932, U8(u8"C:\\ソ"), PerId},
      {1252, U8(u8"C:\\Pilotes été"), HandOver},
      {1252, U8(u8"C:\\Pilotes été"), Package},
      {65001, "C:\\Drivers", PerId},
      {65001, "C:\\Drivers", Package},
      {65001, "C:\\Drivers", HandOver},
      {65001, U8(u8"C:\\Łukasz"), PerId},
      {65001, U8(u8"C:\\Łukasz"), Package},
      {65001, U8(u8"C:\\Łukasz"), HandOver},
      {65001, U8(u8"C:\\表"), PerId},
      {65001, U8(u8"C:\\表"), Package},
      {65001, U8(u8"C:\\表"), HandOver},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.folder + " in " + std::to_string(r.cp) + ", " + roadNames[r.road]);
    Machine m = r.road == PerId     ? FolderMachine(r.cp, r.folder, 5, 1, PROCESSOR_ARCHITECTURE_INTEL)
                : r.road == Package ? FolderMachine(r.cp, r.folder, 6, 1, PROCESSOR_ARCHITECTURE_INTEL)
                                    : FolderMachine(r.cp, r.folder, 6, 1, PROCESSOR_ARCHITECTURE_AMD64);
    winsim::ProcessResult res = test::RunInstall(m, "/install");
    EXPECT_EQ(res.exitCode, 0u) << testing::PrintToString(m.debugLines);
    const std::string path = r.folder + "\\veltowinusb.inf";
    if (r.road == PerId) {
      const std::string line = "Install_Device_Driver: " + path;
      EXPECT_EQ(m.debugLines, (Lines{line, "success.", line, "success, marked to reinstall", line,
                                     "success, marked to reinstall"}));
      EXPECT_EQ(InfPathsOf(m, "UpdateDriverForPlugAndPlayDevicesA", "FullInfPath"),
                (Lines{"install:" + path, "install:" + path, "install:" + path}));
    } else if (r.road == Package) {
      EXPECT_EQ(m.debugLines, (Lines{"Install_Driver: " + path, "success"}));
      EXPECT_EQ(InfPathsOf(m, "DiInstallDriverA", "InfPath"), (Lines{"install:" + path}));
    } else {
      EXPECT_EQ(m.debugLines,
                (Lines{"Install_Driver: " + path, "Running 64-bit installer...", "Process finished", "success"}));
      EXPECT_EQ(InfPathsOf(m, "DiInstallDriverA", "InfPath"), (Lines{"install:" + path, "quorvin:" + path}));
      EXPECT_EQ(InfPathsOf(m, "CreateProcessA", "lpApplicationName"),
                Lines{"install:" + r.folder + "\\amd64\\quorvin.exe"});
      EXPECT_EQ(InfPathsOf(m, "CreateProcessA", "lpCurrentDirectory"), Lines{"install:" + r.folder + "\\"});
    }
    ASSERT_EQ(m.devices.size(), 2u);
    EXPECT_EQ(m.devices[0].driverInf, "oem0.inf");
    EXPECT_EQ(m.devices[1].configFlags, std::optional<DWORD>(CONFIGFLAG_REINSTALL));
  }
}

// The Uninstall button on a machine of each code page: the driver description travels as ANSI
// text of the system code page and shows decoded in the list; the INF name is taken after the
// last separator character.
TEST(CodePages, UninstallLinesDecodedFromTheSystemCodePage) {
  struct Row {
    UINT cp;
    std::string description, infPath;  // as Windows keeps them (UTF-8)
    std::string line, name;            // the list line and the INF name uninstalled
  } rows[] = {
      {932, U8(u8"VELTO データロガー"), U8(u8"C:\\Windows\\INF\\表.inf"), U8(u8"Removing VELTO データロガー"),
       U8(u8"表.inf")},
      {1252, U8(u8"VELTO Enregistreur été"), U8(u8"C:\\Windows\\INF\\pilote été.inf"),
       U8(u8"Removing VELTO Enregistreur été"), U8(u8"pilote été.inf")},
      {65001, U8(u8"VELTO データロガー Łódź"), U8(u8"C:\\Windows\\INF\\表 ł.inf"),
       U8(u8"Removing VELTO データロガー Łódź"), U8(u8"表 ł.inf")},
      // What the code page cannot hold reaches the program as "?".
      {1252, U8(u8"VELTO データロガー"), U8(u8"C:\\Windows\\INF\\表.inf"), "Removing VELTO ??????", "?.inf"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line);
    Machine m = test::PackageMachine();
    m.ansiCodePage = r.cp;
    m.nativeArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
    winsim::Device& d = m.AddDevice("USB\\VID_7A3C&PID_0001\\5&1", {"USB\\VID_7A3C&PID_0099"}, false);
    d.drivers.push_back({r.description, r.infPath, {"USB\\VID_7A3C&PID_0099"}});
    m.UserClicks("Uninstall");
    m.UserSnapshot("after");
    m.UserClicks("Exit");
    winsim::ProcessResult res = test::RunInstall(m, "");
    EXPECT_TRUE(res.stopped.empty()) << res.stopped;
    EXPECT_EQ(res.exitCode, 0u);
    Lines lines;
    for (const auto& shot : m.snapshots)
      for (const auto& w : shot.windows)
        if (shot.label == "after" && w.window.className == "ListBox") lines = w.window.items;
    EXPECT_EQ(lines, (Lines{"Searching for devices...", r.line, "Removing registry keys", "Removing device from system",
                            "Uninstalling drivers", "Successfull uninstalled 1 devices", "Ok"}));
    Lines uninstalled;
    for (const auto& c : m.Calls("SetupUninstallOEMInfA")) uninstalled.push_back(c.args["InfFileName"]);
    EXPECT_EQ(uninstalled, (Lines{r.name, "usbvelto.inf", "veltowinusb.inf"}));
    EXPECT_TRUE(m.devices.empty());
  }
}

// ---- A refusing heap ----

namespace {

const char* const Id = "USB\\VID_7A3C&PID_0001";
const char* const DeviceMessage = "Installing driver for USB\\VID_7A3C&PID_0001...";
const char* const PackageMessage = "Installing VELTO WinUsb driver...";
const char* const InfPath = "C:\\Drivers\\veltowinusb.inf";

struct Written {
  Lines debug, list, paths;  // paths: of the install calls
};

// Runs `work` in a session of install, with the main window or none, the heap refusing its
// nth block from the start of the work (0: none); `requests` receives the blocks asked for.
Written RunWork(Machine m, bool window, size_t nth, const std::function<void(TMainWindow*)>& work,
                size_t* requests = nullptr) {
  Written w;
  {
    winsim::Session s(m);
    BindSystemEntries();
    BaseDir.Truncate(0);
    BaseDir.Append("C:\\Drivers\\");
    OSKind = osWinXP;
    DiInstallDriverProc = nullptr;
    LoadDiInstallDriver();
    test::MainWindowScope scope(window);
    if (nth) HostHeap::Refuse(nth);
    else HostHeap::Allow();
    work(scope.Window);
    if (requests) *requests = HostHeap::Requests();
    HostHeap::Allow();
    if (window) w.list = s.ListBoxItems(scope.Window->lbLog->Handle());
  }
  w.debug = m.debugLines;
  for (const auto& c : m.Calls("UpdateDriverForPlugAndPlayDevicesA")) w.paths.push_back(c.args["FullInfPath"]);
  for (const auto& c : m.Calls("DiInstallDriverA")) w.paths.push_back(c.args["InfPath"]);
  return w;
}

}  // namespace

// For every block that the work asks the heap for, a run in which just that block is refused:
// each line written is a whole line (one of the clean run, or a whole report of the refusal),
// and every install call names the whole INF path.
TEST(RefusedHeap, TextsCutShortAreNotWritten) {
  struct Scenario {
    const char* what;
    std::function<void(Machine&)> setUp;
    std::function<void(TMainWindow*)> work;
  } scenarios[] = {
      {"per-device step, success", [](Machine& m) { m.Answer("UpdateDriverForPlugAndPlayDevicesA", true); },
       [](TMainWindow* w) { InstallDeviceDriver(w, Id, "veltowinusb.inf", DeviceMessage); }},
      {"per-device step, other error",
       [](Machine& m) { m.Answer("UpdateDriverForPlugAndPlayDevicesA", false, 0xE0000203); },
       [](TMainWindow* w) { InstallDeviceDriver(w, Id, "veltowinusb.inf", DeviceMessage); }},
      {"package step, other error", [](Machine& m) { m.Answer("DiInstallDriverA", false, 0x1F); },
       [](TMainWindow* w) { InstallDriver(w, "veltowinusb.inf", PackageMessage); }},
      {"package step, quorvin missing",
       [](Machine& m) {
         m.nativeArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
         std::erase_if(m.files, [](const winsim::File& f) { return f.path == "C:\\Drivers\\amd64\\quorvin.exe"; });
       },
       [](TMainWindow* w) { InstallDriver(w, "veltowinusb.inf", PackageMessage); }},
      {"procedure, one step per hardware ID", [](Machine& m) { m.Answer("UpdateDriverForPlugAndPlayDevicesA", true); },
       [](TMainWindow* w) { DoInstall(w); }},
      {"procedure, INF held open for writing",
       [](Machine& m) { m.FindFile(InfPath)->heldForWrite = true; }, [](TMainWindow* w) { DoInstall(w); }},
  };
  // Whole lines that report the refusal itself.
  const std::set<std::string> refusalLines = {"Other error - 0x8", "Unable to read VELTOWINUSB.INF!",
                                              "Unable to read VELTOWINUSB.INF, error 0x8",
                                              "CreateProcess error 0x8"};
  for (const Scenario& sc : scenarios) {
    for (bool window : {true, false}) {
      SCOPED_TRACE(std::string(sc.what) + (window ? ", window" : ", no window"));
      Machine m = test::PackageMachine(5, 1);
      m.nativeArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
      m.AddDevice("USB\\VID_7A3C&PID_0001\\ABSENT", {Id}, false);
      sc.setUp(m);
      size_t requests = 0;
      Written clean = RunWork(m, window, 0, sc.work, &requests);
      ASSERT_GT(requests, 0u);
      ASSERT_FALSE(clean.debug.empty());
      std::set<std::string> debug(clean.debug.begin(), clean.debug.end());
      std::set<std::string> list(clean.list.begin(), clean.list.end());
      debug.insert(refusalLines.begin(), refusalLines.end());
      list.insert(refusalLines.begin(), refusalLines.end());
      for (size_t nth = 1; nth <= requests; ++nth) {
        Written w = RunWork(m, window, nth, sc.work);
        for (const std::string& line : w.debug) EXPECT_TRUE(debug.count(line)) << "block " << nth << ": debug \"" << line << "\"";
        for (const std::string& line : w.list) EXPECT_TRUE(list.count(line)) << "block " << nth << ": list \"" << line << "\"";
        for (const std::string& path : w.paths) EXPECT_EQ(path, InfPath) << "block " << nth;
      }
    }
  }
}

// A length or a size in bytes that cannot be counted is refused before the heap is asked; the
// text stays as it was and can still grow.
TEST(RefusedHeap, GrowthThatWouldOverflowFailsLikeARefusedBlock) {
  WideText wide;
  ASSERT_TRUE(wide.Append(L"ab"));
  EXPECT_FALSE(wide.Grow(size_t(-1) / sizeof(WCHAR) - 1));  // capacity x character size overflows
  EXPECT_TRUE(wide.Failed());
  EXPECT_EQ(std::wstring(wide.c_str()), L"ab");
  EXPECT_TRUE(wide.Append(L'c'));
  EXPECT_EQ(std::wstring(wide.c_str()), L"abc");

  AnsiText ansi;
  ASSERT_TRUE(ansi.Append("abc"));
  EXPECT_FALSE(ansi.Grow(size_t(-1) - 1));        // length + n overflows
  EXPECT_FALSE(ansi.Append("x", size_t(-1)));
  EXPECT_TRUE(ansi.Failed());
  EXPECT_STREQ(ansi.c_str(), "abc");
  EXPECT_TRUE(ansi.Append('d'));
  EXPECT_STREQ(ansi.c_str(), "abcd");

  AnsiList list;
  EXPECT_FALSE(list.Add("x", size_t(-1)));
  EXPECT_EQ(list.Count(), 0u);
}

// The host's heap switch itself: a refused block leaves the text as it was, marked failed.
TEST(RefusedHeap, RefusedBlockLeavesTheTextAsItWas) {
  AnsiText text;
  HostHeap::Refuse(1);
  EXPECT_FALSE(text.Append("abc"));
  EXPECT_EQ(HostHeap::Requests(), 1u);
  HostHeap::Allow();
  EXPECT_TRUE(text.Failed());
  EXPECT_STREQ(text.c_str(), "");
  EXPECT_TRUE(text.Append("abc"));
  EXPECT_STREQ(text.c_str(), "abc");
}
