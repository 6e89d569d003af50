// install runs as administrator, often from a folder that anyone may write to, and is started by
// whoever chooses its current directory. It loads DLLs only from the system directory, names
// only the real folders (never a best-fit look-alike of one) and starts only the quorvin shipped
// beside it.
#include "driverinstall/DriverInstall.h"
#include "install/Install.h"
#include "platform/heap_host.h"
#include "support.h"

using winsim::Machine;
using Lines = std::vector<std::string>;

namespace {

// The machine face takes UTF-8.
using test::U8;

const std::string kLukasz = U8(u8"C:\\Łukasz");
// A folder whose name holds an unpaired surrogate (the machine face keeps its three bytes), and
// the folder whose name is that one with U+FFFD in its place: the look-alike on code page UTF-8.
const std::string kSurrogate = "C:\\\xED\xA0\x80" "drv";
const std::string kReplaced = "C:\\\xEF\xBF\xBD" "drv";
const char* const kInstaller = "veltocoinst.dll";  // an installer DLL that Windows loads by bare name

// install.exe and amd64\quorvin.exe in `programFolder`, the package in the current directory.
Machine TrustMachine(DWORD major, DWORD minor, WORD architecture, const std::string& programFolder,
                     const std::string& currentDirectory) {
  Machine m = test::PackageMachine(major, minor, VER_NT_WORKSTATION, programFolder);
  m.nativeArchitecture = architecture;
  if (currentDirectory != programFolder) m.AddFile(currentDirectory + "\\veltowinusb.inf", test::SampleInf());
  m.currentDirectory = currentDirectory;
  m.AddDevice("USB\\VID_7A3C&PID_0001\\5&1", {"USB\\VID_7A3C&PID_0001"}, true);
  return m;
}

winsim::ProcessResult RunFrom(Machine& m, const std::string& programFolder, const std::string& arguments) {
  winsim::ProcessSpec spec;
  spec.program = "install";
  spec.bits = 32;
  spec.imagePath = programFolder + "\\install.exe";
  spec.commandLine = "\"" + spec.imagePath + "\" " + arguments;
  winsim::ProcessResult r = winsim::RunProgram(m, HOST_INSTALL, spec);
  EXPECT_FALSE(r.crashed);
  return r;
}

Lines Args(const Machine& m, const char* fn, const char* arg) {
  Lines out;
  for (const auto& c : m.Calls(fn)) out.push_back(c.proc + ":" + c.args[arg].get<std::string>());
  return out;
}

// The position of a program's first call of any of the functions; the record's size for none.
size_t FirstOf(const Machine& m, const std::string& proc, std::initializer_list<const char*> fns) {
  for (size_t i = 0; i < m.calls.size(); ++i)
    for (const char* fn : fns)
      if (m.calls[i].proc == proc && m.calls[i].fn == fn) return i;
  return m.calls.size();
}

}  // namespace

// DLLs of the names that install and quorvin use, and an installer DLL that Windows loads by bare
// name during the install, lie in the program's folder and the current directory: none of them
// is loaded (winsim stops a program that loads one). The search is restricted before anything can
// load a DLL by name; where Windows cannot restrict it to the system directory (Windows XP), the
// current directory is out of it.
TEST(TrustedDlls, PlantedDllsAreNeverLoaded) {
  struct Row {
    const char* what;
    DWORD major, minor;
    WORD architecture;
    bool restrictable;  // kernel32 has SetDefaultDllDirectories
  } rows[] = {
      {"per hardware ID, Windows XP", 5, 1, PROCESSOR_ARCHITECTURE_INTEL, false},
      {"package, Windows 7", 6, 1, PROCESSOR_ARCHITECTURE_INTEL, true},
      {"package through quorvin, Windows 7 x64", 6, 1, PROCESSOR_ARCHITECTURE_AMD64, true},
  };
  const std::string programs = "C:\\Tools", current = "C:\\Drivers";
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Machine m = TrustMachine(r.major, r.minor, r.architecture, programs, current);
    m.installerLoads = {kInstaller};
    for (const std::string& folder : {programs, programs + "\\amd64", current})
      for (const char* dll : {"newdev.dll", "cfgmgr32.dll", "setupapi.dll", "kernel32.dll"}) {
        // Windows XP has no setupapi.dll among its KnownDLLs: the loader takes install's import of
        // it from the program's folder first, before install runs (WinsimLoader.KnownDllsOfTheVersion).
        if (r.major < 6 && folder != current && std::string(dll) == "setupapi.dll") continue;
        m.AddFile(folder + "\\" + dll, "MZ planted");
      }
    if (r.restrictable) {
      // The system has the installer DLL; a copy lies beside the programs, which Windows would
      // search first.
      m.modules.push_back({kInstaller, {}});
      for (const std::string& folder : {programs, programs + "\\amd64", current})
        m.AddFile(folder + "\\" + kInstaller, "MZ planted");
    } else {
      // The system lacks it; the search would go on to the current directory.
      m.RemoveExport("kernel32.dll", "SetDefaultDllDirectories");
      m.AddFile(current + "\\" + kInstaller, "MZ planted");
    }
    winsim::ProcessResult res = RunFrom(m, programs, "/install");
    ASSERT_TRUE(res.stopped.empty()) << res.stopped;
    EXPECT_TRUE(res.exited);
    EXPECT_EQ(res.exitCode, 0u);
    EXPECT_EQ(m.FindDevice("USB\\VID_7A3C&PID_0001\\5&1")->driverInf, "oem0.inf");
    for (const std::string& load : Args(m, "LoadLibraryExW", "lpLibFileName"))
      EXPECT_EQ(load.substr(load.find(':') + 1, 20), "C:\\Windows\\system32\\") << load;
    // newdev.dll is bound at the start: LoadDiInstallDriver finds it loaded.
    Lines newdev;
    for (const std::string& load : Args(m, "LoadLibraryExW", "lpLibFileName"))
      if (load.rfind("install:", 0) == 0 && load.compare(load.size() - 10, 10, "newdev.dll") == 0) newdev.push_back(load);
    EXPECT_EQ(newdev, (Lines{"install:C:\\Windows\\system32\\newdev.dll"}));
    // First thing in each program.
    const char* restriction = r.restrictable ? "SetDefaultDllDirectories" : "SetDllDirectoryW";
    for (const char* proc : {"install", "quorvin"}) {
      if (std::string(proc) == "quorvin" && r.architecture != PROCESSOR_ARCHITECTURE_AMD64) continue;
      size_t restricted = FirstOf(m, proc, {restriction});
      ASSERT_LT(restricted, m.calls.size()) << proc;
      EXPECT_LT(restricted, FirstOf(m, proc, {"LoadLibraryExW", "InitCommonControls", "RegisterClassExW"})) << proc;
      const winsim::json asked = r.restrictable ? winsim::json{{"DirectoryFlags", LOAD_LIBRARY_SEARCH_SYSTEM32}}
                                                : winsim::json{{"lpPathName", ""}};
      EXPECT_EQ(m.calls[restricted].args, asked) << proc;
    }
  }
}

// newdev.dll and cfgmgr32.dll import devobj.dll, which is no KnownDLL; a copy of it lies beside
// install, beside quorvin and in the current directory. On every Windows that the programs run
// on, the system directory's devobj.dll is loaded: with the system directory alone searched for
// the imports of a DLL loaded by full path where Windows knows that flag, else with the altered
// search, which begins in the DLL's own folder, not the program's (Windows XP and Server 2003,
// Vista and 7 without their update, where SetDllDirectoryW("") only takes the current directory
// out). quorvin loads newdev.dll itself, when it binds DiInstallDriverA.
TEST(TrustedDlls, ImportsOfSystemDllsComeFromTheSystemDirectory) {
  constexpr BYTE kWorkstation = VER_NT_WORKSTATION, kServer = VER_NT_SERVER;
  constexpr WORD kX86 = PROCESSOR_ARCHITECTURE_INTEL, kX64 = PROCESSOR_ARCHITECTURE_AMD64;
  struct Row {
    const char* what;
    DWORD major, minor;
    BYTE product;
    WORD architecture;
    bool update;          // kernel32 has SetDefaultDllDirectories
    bool quorvin;         // the package road in a 32-bit process on 64-bit Windows: the hand-over
    bool refused = false; // SetDefaultDllDirectories fails
  } rows[] = {
      {"Windows XP, per hardware ID", 5, 1, kWorkstation, kX86, false, false},
      {"Windows Server 2003, per hardware ID", 5, 2, kServer, kX86, false, false},
      {"Windows Vista without its update, package", 6, 0, kWorkstation, kX86, false, false},
      {"Windows Vista x64 without its update", 6, 0, kWorkstation, kX64, false, true},
      {"Windows Server 2008 x64 without its update", 6, 0, kServer, kX64, false, true},
      {"Windows 7 without its update, package", 6, 1, kWorkstation, kX86, false, false},
      {"Windows 7 x64 without its update", 6, 1, kWorkstation, kX64, false, true},
      {"Windows 7 with its update, package", 6, 1, kWorkstation, kX86, true, false},
      {"Windows 7 x64 with its update", 6, 1, kWorkstation, kX64, true, true},
      {"Windows 8 x64 and later (reported 6.2)", 6, 2, kWorkstation, kX64, true, true},
      {"Windows 8 x64, SetDefaultDllDirectories refused", 6, 2, kWorkstation, kX64, true, true, true},
  };
  const std::string programs = "C:\\Tools", current = "C:\\Drivers";
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Machine m = TrustMachine(r.major, r.minor, r.architecture, programs, current);
    m.productType = r.product;
    ASSERT_EQ(m.FindModule("newdev.dll")->imports, Lines{"devobj.dll"});
    ASSERT_EQ(m.FindModule("cfgmgr32.dll")->imports, Lines{"devobj.dll"});
    if (!r.update) m.RemoveExport("kernel32.dll", "SetDefaultDllDirectories");
    if (r.refused) m.Fail("SetDefaultDllDirectories", ERROR_INVALID_PARAMETER);
    for (const std::string& folder : {programs, programs + "\\amd64", current})
      m.AddFile(folder + "\\devobj.dll", "MZ planted");
    winsim::ProcessResult res = RunFrom(m, programs, "/install");
    ASSERT_TRUE(res.stopped.empty()) << res.stopped;
    EXPECT_TRUE(res.exited);
    EXPECT_EQ(res.exitCode, 0u) << testing::PrintToString(m.debugLines);
    EXPECT_EQ(m.FindDevice("USB\\VID_7A3C&PID_0001\\5&1")->driverInf, "oem0.inf");
    Lines expected = {"install:C:\\Windows\\system32\\newdev.dll", "install:C:\\Windows\\system32\\cfgmgr32.dll"};
    if (r.quorvin) expected.push_back("quorvin:C:\\Windows\\system32\\newdev.dll");
    EXPECT_EQ(Args(m, "LoadLibraryExW", "lpLibFileName"), expected);
    for (const winsim::CallRecord& load : m.Calls("LoadLibraryExW"))
      EXPECT_EQ(load.args["dwFlags"], r.update ? LOAD_LIBRARY_SEARCH_SYSTEM32 : LOAD_WITH_ALTERED_SEARCH_PATH)
          << load.proc;
  }
}

// An entry that cannot be bound fails its call as an unbound call does (ERROR_INVALID_FUNCTION),
// without calling anything; the other entry serves.
TEST(TrustedDlls, UnboundEntriesFailTheirCall) {
  struct Row {
    const char* what;
    std::function<void(Machine&)> setUp;
    bool update, marking;  // bound afterwards
  } rows[] = {
      {"both bound", [](Machine&) {}, true, true},
      {"newdev.dll without the entry",
       [](Machine& m) { m.RemoveExport("newdev.dll", "UpdateDriverForPlugAndPlayDevicesA"); }, false, true},
      {"no cfgmgr32.dll", [](Machine& m) { m.RemoveModule("cfgmgr32.dll"); }, true, false},
      {"no DLL loads", [](Machine& m) { m.Fail("LoadLibraryExW", ERROR_MOD_NOT_FOUND); }, false, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Machine m;
    m.AddDevice("USB\\VID_7A3C&PID_0001\\ABSENT", {"USB\\VID_7A3C&PID_0001"}, false);
    m.Answer("UpdateDriverForPlugAndPlayDevicesA", true);
    r.setUp(m);
    {
      winsim::Session s(m);
      EXPECT_EQ(BindSystemEntries(), r.update && r.marking);
      bool reboot = false;
      EXPECT_EQ(UpdateDeviceDriver(nullptr, "USB", "USB\\VID_7A3C&PID_0001", "C:\\Drivers\\veltowinusb.inf", false,
                                   reboot),
                r.update ? 0u : DWORD(ERROR_INVALID_FUNCTION));
      EXPECT_EQ(MarkForReinstall("USB", "USB\\VID_7A3C&PID_0001"), r.marking ? 0u : DWORD(ERROR_INVALID_FUNCTION));
      EXPECT_EQ(s.OpenDeviceInfoSets(), 0);
    }
    EXPECT_EQ(m.Calls("UpdateDriverForPlugAndPlayDevicesA").size(), r.update ? 1u : 0u);
    EXPECT_EQ(*m.devices[0].configFlags, r.marking ? DWORD(CONFIGFLAG_REINSTALL) : 0u);
  }
}

// On code page 1252 "Łukasz" has no place: best fit would make it "Lukasz", the folder beside it
// with another package. On UTF-8 it has, but a name with an unpaired surrogate has none: U+FFFD in
// its place names another folder. The base directory is the folder's 8.3 name then, or there is
// none and the install fails visibly; on both roads the package of the real folder is installed,
// or none.
TEST(BaseDirName, NamesTheRealFolderOrNone) {
  const std::string other = "; another maker's package\n" + test::SampleInf();
  struct Row {
    const char* what;
    std::string folder;
    std::string shortName;  // of the folder; empty: none
    bool package;           // 64-bit Windows 7: the package road through quorvin (else XP, per ID)
    std::string base;       // the base directory install hands to Windows (empty: no install)
    UINT cp = 1252;
  } rows[] = {
      {"8.3 name, per hardware ID", kLukasz, "LUKASZ~1", false, "C:\\LUKASZ~1\\"},
      {"8.3 name, through quorvin", kLukasz, "LUKASZ~1", true, "C:\\LUKASZ~1\\"},
      {"no 8.3 name, per hardware ID", kLukasz, "", false, ""},
      {"no 8.3 name, through quorvin", kLukasz, "", true, ""},
      {"held by the code page", U8(u8"C:\\Pilotes été"), "PILOTE~1", true, U8(u8"C:\\Pilotes été\\")},
      {"UTF-8 holds it, per hardware ID", kLukasz, "", false, kLukasz + "\\", 65001},
      {"UTF-8 holds it, through quorvin", kLukasz, "LUKASZ~1", true, kLukasz + "\\", 65001},
      {"UTF-8, unpaired surrogate, 8.3 name, per hardware ID", kSurrogate, "DRV~1", false, "C:\\DRV~1\\", 65001},
      {"UTF-8, unpaired surrogate, 8.3 name, through quorvin", kSurrogate, "DRV~1", true, "C:\\DRV~1\\", 65001},
      {"UTF-8, unpaired surrogate, no 8.3 name, per hardware ID", kSurrogate, "", false, "", 65001},
      {"UTF-8, unpaired surrogate, no 8.3 name, through quorvin", kSurrogate, "", true, "", 65001},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Machine m = r.package ? TrustMachine(6, 1, PROCESSOR_ARCHITECTURE_AMD64, r.folder, r.folder)
                          : TrustMachine(5, 1, PROCESSOR_ARCHITECTURE_INTEL, r.folder, r.folder);
    m.ansiCodePage = r.cp;
    m.FindFile(r.folder)->shortName = r.shortName;
    m.AddFile("C:\\Lukasz\\veltowinusb.inf", other);
    m.AddFile(kReplaced + "\\veltowinusb.inf", other);
    winsim::ProcessResult res = RunFrom(m, r.folder, "/install");
    ASSERT_TRUE(res.exited) << res.stopped;
    Lines paths = Args(m, r.package ? "DiInstallDriverA" : "UpdateDriverForPlugAndPlayDevicesA",
                       r.package ? "InfPath" : "FullInfPath");
    for (const winsim::StoredInf& s : m.driverStore)
      EXPECT_TRUE(s.data == test::SampleInf()) << "installed the package of " << s.originalPath;
    if (r.base.empty()) {
      EXPECT_EQ(res.exitCode, 1u);
      EXPECT_TRUE(paths.empty());
      EXPECT_TRUE(m.driverStore.empty());
      EXPECT_EQ(m.debugLines, Lines{"Unable to use the folder of VELTOWINUSB.INF, error 0x459"});
      continue;
    }
    EXPECT_EQ(res.exitCode, 0u) << testing::PrintToString(m.debugLines);
    const std::string inf = r.base + "veltowinusb.inf";
    // Through quorvin, or once for each of the sample's three hardware IDs.
    EXPECT_EQ(paths, r.package ? (Lines{"install:" + inf, "quorvin:" + inf}) : Lines(3, "install:" + inf));
    EXPECT_EQ(m.driverStore.size(), 1u);
    if (r.package) {
      EXPECT_EQ(Args(m, "CreateProcessA", "lpCurrentDirectory"), Lines{"install:" + r.base});
    }
  }

  // With a window the failure is a line of the list.
  for (const auto& [cp, folder] : {std::pair{1252u, kLukasz}, std::pair{65001u, kSurrogate}}) {
    SCOPED_TRACE("the window, code page " + std::to_string(cp));
    Machine m = TrustMachine(6, 1, PROCESSOR_ARCHITECTURE_INTEL, folder, folder);
    m.ansiCodePage = cp;
    Lines list;
    {
      winsim::Session s(m);
      BindSystemEntries();
      BaseDir.Truncate(0);
      SetBaseDir();
      EXPECT_STREQ(BaseDir.c_str(), "");
      OSKind = osWin7;
      test::MainWindowScope scope;
      EXPECT_EQ(DoInstall(scope.Window), int(ERROR_NO_UNICODE_TRANSLATION));
      list = s.ListBoxItems(scope.Window->lbLog->Handle());
    }
    EXPECT_EQ(list, Lines{"Unable to use the folder of VELTOWINUSB.INF!"});
    EXPECT_TRUE(m.Calls("DiInstallDriverA").empty());
    BaseDir.Truncate(0);
  }
}

// Every block of the heap refused in turn: the path is named whole, or not at all and the text is
// left as it was. Half a name (a refused 8.3 form taken for success) would let a relative
// amd64\quorvin.exe or INF name another folder's file.
TEST(BaseDirName, ExactNameIsWholeOrNone) {
  Machine m;
  m.AddFolder(kLukasz).shortName = "LUKASZ~1";
  winsim::Session s(m);
  size_t refusals = 0;
  for (size_t nth = 1;; ++nth) {
    SCOPED_TRACE("block " + std::to_string(nth));
    AnsiText out;
    ASSERT_TRUE(out.Append("dir="));
    DWORD error = 0;
    HostHeap::Refuse(nth, 1);
    bool ok = AppendExactAnsiPath(out, L"C:\\\u0141ukasz", error);
    size_t requests = HostHeap::Requests();
    HostHeap::Allow();
    if (ok) {
      EXPECT_STREQ(out.c_str(), "dir=C:\\LUKASZ~1");
    } else {
      ++refusals;
      EXPECT_EQ(error, DWORD(ERROR_NOT_ENOUGH_MEMORY));
      EXPECT_STREQ(out.c_str(), "dir=");
    }
    if (requests < nth) break;  // no block left to refuse: this run was clean
  }
  EXPECT_GE(refusals, 2u);  // the 8.3 form's buffer and the text's growth
}

// Whoever starts install chooses its current directory, which may hold an amd64\quorvin.exe of
// its own (a program that winsim has no host build of: starting it stops install). The quorvin
// started is the one beside install, by full path, with the base directory as its current
// directory; a path that cannot be built starts nothing.
TEST(QuorvinPath, TheOneBesideInstall) {
  struct Row {
    const char* what;
    std::string programs, current;
    std::string shortName;  // of the program folder
    std::string started;    // the application name (empty: none started)
    DWORD exitCode;
    UINT cp = 1252;
  } rows[] = {
      {"started from its own folder", "C:\\Drivers", "C:\\Drivers", "", "C:\\Drivers\\amd64\\quorvin.exe", 0},
      {"started from another folder", "C:\\Tools", "C:\\Drivers", "", "C:\\Tools\\amd64\\quorvin.exe", 0},
      {"its folder by its 8.3 name", kLukasz, "C:\\Drivers", "LUKASZ~1", "C:\\LUKASZ~1\\amd64\\quorvin.exe", 0},
      {"its folder not to be named", kLukasz, "C:\\Drivers", "", "", 1},
      {"UTF-8, its folder by its own name", kLukasz, "C:\\Drivers", "", kLukasz + "\\amd64\\quorvin.exe", 0, 65001},
      {"UTF-8, from a folder of 932", U8(u8"C:\\表"), U8(u8"C:\\ドライバ"), "", U8(u8"C:\\表\\amd64\\quorvin.exe"),
       0, 65001},
      {"UTF-8, an unpaired surrogate, by its 8.3 name", kSurrogate, "C:\\Drivers", "DRV~1",
       "C:\\DRV~1\\amd64\\quorvin.exe", 0, 65001},
      {"UTF-8, an unpaired surrogate, not to be named", kSurrogate, "C:\\Drivers", "", "", 1, 65001},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Machine m = TrustMachine(6, 1, PROCESSOR_ARCHITECTURE_AMD64, r.programs, r.current);
    m.ansiCodePage = r.cp;
    m.FindFile(r.programs)->shortName = r.shortName;
    if (r.current != r.programs) m.AddProgram(r.current + "\\amd64\\quorvin.exe", "decoy");
    m.AddProgram("C:\\Lukasz\\amd64\\quorvin.exe", "decoy");
    m.AddProgram(kReplaced + "\\amd64\\quorvin.exe", "decoy");
    winsim::ProcessResult res = RunFrom(m, r.programs, "/install");
    ASSERT_TRUE(res.exited) << res.stopped;
    EXPECT_EQ(res.exitCode, r.exitCode);
    if (r.started.empty()) {
      EXPECT_TRUE(m.Calls("CreateProcessA").empty());
      EXPECT_EQ(m.debugLines.back(), "CreateProcess error 0x459");
      continue;
    }
    EXPECT_EQ(Args(m, "CreateProcessA", "lpApplicationName"), Lines{"install:" + r.started});
    EXPECT_EQ(Args(m, "CreateProcessA", "lpCurrentDirectory"), Lines{"install:" + r.current + "\\"});
    EXPECT_EQ(Args(m, "DiInstallDriverA", "InfPath"),
              (Lines{"install:" + r.current + "\\veltowinusb.inf", "quorvin:" + r.current + "\\veltowinusb.inf"}));
  }
}
