// Start-up of install: base directory, OS kinds, the checks with their message boxes, the
// processor architectures and the command line.
#include "driverinstall/DriverInstall.h"
#include "install/Install.h"
#include "platform/heap_host.h"
#include "support.h"
#include "winsim/internal.h"

using winsim::Machine;
using winsim::ProcessResult;

namespace {

winsim::ProcessSpec InstallSpec(const std::string& args = "/nothing") {
  winsim::ProcessSpec spec;
  spec.commandLine = "install.exe " + args;
  return spec;
}

// Runs the main block of install in a process of its own.
ProcessResult RunMain(Machine& m, const std::string& args = "/nothing") {
  ProcessResult r = winsim::RunProcess(m, InstallSpec(args), [] { InstallMain(); });
  EXPECT_FALSE(r.crashed) << args;
  return r;
}

bool LookedUpDiInstallDriver(const Machine& m) {
  for (const auto& c : m.Calls("GetProcAddress"))
    if (c.args["lpProcName"] == "DiInstallDriverA") return true;
  return false;
}

}  // namespace

TEST(BaseDir, EndsInOneBackslash) {
  struct Row {
    const char* dir;
    const char* base;
  } rows[] = {{"C:\\Drivers", "C:\\Drivers\\"}, {"C:\\", "C:\\"}, {"D:\\Velto\\Setup Files", "D:\\Velto\\Setup Files\\"}};
  for (const Row& r : rows) {
    Machine m;
    m.AddFolder(r.dir);
    m.currentDirectory = r.dir;
    winsim::Session s(m);
    BaseDir.Truncate(0);
    SetBaseDir();
    EXPECT_STREQ(BaseDir.c_str(), r.base) << r.dir;
  }
}

TEST(BaseDir, LongDirectoryIsReadWhole) {
  std::string dir = "C:\\" + std::string(150, 'a') + "\\" + std::string(150, 'b');
  Machine m;
  m.AddFolder(dir);
  m.currentDirectory = dir;
  winsim::Session s(m);
  BaseDir.Truncate(0);
  SetBaseDir();
  EXPECT_EQ(std::string(BaseDir.c_str()), dir + "\\");
  EXPECT_EQ(m.Calls("GetCurrentDirectoryW").size(), 2u);
}

TEST(BaseDir, UnreadableDirectoryGivesEmpty) {
  Machine m;
  m.Fail("GetCurrentDirectoryW", ERROR_ACCESS_DENIED);
  winsim::Session s(m);
  BaseDir.Truncate(0);
  SetBaseDir();
  EXPECT_STREQ(BaseDir.c_str(), "");
  EXPECT_EQ(BaseDirError, 0u);  // the bare file name still names the INF
}

// Every row of the OS-kind table, and the versions that stop the start-up.
TEST(OSKind, ClassifiesEveryVersion) {
  struct Row {
    DWORD major, minor;
    BYTE product;
    int r2;
    BYTE kind;
    bool stops;
  } rows[] = {
      {5, 0, VER_NT_WORKSTATION, 0, osWin2000, true},
      {5, 1, VER_NT_WORKSTATION, 0, osWinXP, false},
      {5, 2, VER_NT_SERVER, 0, osServer2003, false},
      {5, 2, VER_NT_SERVER, 1, osServer2003R2, false},
      {5, 3, VER_NT_WORKSTATION, 0, osUnknown, true},
      {6, 0, VER_NT_WORKSTATION, 0, osVista, false},
      {6, 0, VER_NT_SERVER, 0, osServer2008, false},
      {6, 0, VER_NT_DOMAIN_CONTROLLER, 0, osServer2008, false},
      {6, 1, VER_NT_WORKSTATION, 0, osWin7, false},
      {6, 1, VER_NT_SERVER, 0, osServer2003R2, false},
      {6, 2, VER_NT_WORKSTATION, 0, osWin8, false},
      {6, 2, VER_NT_SERVER, 0, osServer2012, false},
      {6, 3, VER_NT_WORKSTATION, 0, osWin81, false},
      {6, 3, VER_NT_SERVER, 0, osServer2012R2, false},
      {6, 4, VER_NT_WORKSTATION, 0, osVistaFamily, false},
      {10, 0, VER_NT_WORKSTATION, 0, osUnknown, true},
      {7, 0, VER_NT_WORKSTATION, 0, osUnknown, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.major << "." << r.minor << " product " << int(r.product));
    Machine m;
    m.SetVersion(r.major, r.minor, r.product, r.r2);
    {
      winsim::Session s(m);
      ASSERT_TRUE(ReadVersion());
      ClassifyOS();
      EXPECT_EQ(OSKind, r.kind);
    }
    EXPECT_EQ(LookedUpDiInstallDriver(m), r.major == 6);
    // A start-up that goes on reaches the command line: "/uninstall" runs and succeeds on a
    // 32-bit Windows; one that stops shows its box and exits 1 before it.
    Machine run;
    run.SetVersion(r.major, r.minor, r.product, r.r2);
    run.nativeArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
    ProcessResult res = RunMain(run, "/uninstall");
    EXPECT_TRUE(res.exited);
    EXPECT_EQ(res.exitCode, r.stops ? 1u : 0u);
    EXPECT_EQ(run.Calls("SetupDiGetClassDevsA").size(), r.stops ? 0u : 1u);
    ASSERT_EQ(run.messageBoxes.size(), r.stops ? 1u : 0u);
    if (r.stops) {
      EXPECT_EQ(run.messageBoxes[0].text, "This OS is not supported!");
    }
  }
}

TEST(StartupChecks, FatalBoxesInOrder) {
  struct Row {
    const char* what;
    std::function<void(Machine&)> setUp;
    const char* text;
  } rows[] = {
      {"version unreadable", [](Machine& m) { m.Fail("GetVersionExW", ERROR_ACCESS_DENIED); },
       "Unable to get Windows version!"},
      {"major 4", [](Machine& m) { m.SetVersion(4, 0); }, "This OS is not supported!"},
      {"major 4 on Itanium: the version check comes first",
       [](Machine& m) {
         m.SetVersion(4, 0);
         m.nativeArchitecture = PROCESSOR_ARCHITECTURE_IA64;
       },
       "This OS is not supported!"},
      {"no SetupAPI", [](Machine& m) { m.RemoveModule("setupapi.dll"); }, "Cannot load SetupAPI library!"},
      {"Itanium", [](Machine& m) { m.nativeArchitecture = PROCESSOR_ARCHITECTURE_IA64; },
       "This type of OS is not supported!"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Machine m;
    r.setUp(m);
    ProcessResult res = RunMain(m, "/install");
    EXPECT_TRUE(res.exited);
    EXPECT_EQ(res.exitCode, 1u);
    ASSERT_EQ(m.messageBoxes.size(), 1u);
    EXPECT_EQ(m.messageBoxes[0].text, r.text);
    EXPECT_EQ(m.messageBoxes[0].caption, "Error");
    EXPECT_EQ(m.messageBoxes[0].owner, 0u);
    EXPECT_EQ(m.messageBoxes[0].type, UINT(MB_ICONERROR));
    EXPECT_TRUE(m.Calls("DiInstallDriverA").empty());
  }
}

// Not loaded yet, SetupAPI comes from the system directory, never from a file planted beside
// the program.
TEST(StartupChecks, SetupApiLoadedFromTheSystemDirectory) {
  Machine m;
  m.AddFile("C:\\Drivers\\SetupApi.dll", "planted");
  winsim::Session s(m);
  winsim::detail::P().loadedModules.erase(winsim::detail::FoldUtf8("setupapi.dll"));
  ASSERT_TRUE(LoadSetupApi());
  auto loads = m.Calls("LoadLibraryExW");
  ASSERT_EQ(loads.size(), 1u);
  EXPECT_EQ(loads[0].args["lpLibFileName"], "C:\\Windows\\system32\\SetupApi.dll");
  EXPECT_EQ(GetModuleHandleW(L"setupapi.dll"), hSetupLib);
}

// Every architecture value, through the whole start-up: a refused one stops at its box before the
// command line; the others go on to it.
TEST(Architecture, RefusedAndAcceptedValues) {
  struct Row {
    WORD arch;
    bool refused;
  } rows[] = {{0, false}, {1, true},  {2, false}, {3, true},   {4, true},   {5, true},  {6, true},
              {7, true},  {8, true},  {9, false}, {10, true},  {11, false}, {12, false}, {0xFFFF, false}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.arch);
    EXPECT_EQ(ArchitectureRefused(r.arch), r.refused);
    Machine m;
    m.nativeArchitecture = r.arch;
    ProcessResult res = RunMain(m, "/nothing");
    EXPECT_EQ(res.exitCode, 1u);
    EXPECT_EQ(m.messageBoxes.size(), r.refused ? 1u : 0u);
    if (r.refused && !m.messageBoxes.empty()) {
      EXPECT_EQ(m.messageBoxes[0].text, "This type of OS is not supported!");
    }
    EXPECT_EQ(m.Calls("CharLowerBuffW").size(), r.refused ? 0u : 1u);
  }
  // The native architecture counts: a 32-bit process on x64 Windows goes on.
  Machine x64;
  RunMain(x64);
  EXPECT_TRUE(x64.messageBoxes.empty());
  EXPECT_EQ(x64.Calls("GetNativeSystemInfo").size(), 1u);
}

TEST(Architecture, WithoutGetNativeSystemInfoTheSystemInfoServes) {
  Machine m;
  m.SetVersion(5, 1);
  m.nativeArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
  m.RemoveExport("kernel32.dll", "GetNativeSystemInfo");
  ProcessResult res = RunMain(m);
  EXPECT_EQ(res.exitCode, 1u);
  EXPECT_TRUE(m.messageBoxes.empty());
  EXPECT_TRUE(m.Calls("GetNativeSystemInfo").empty());
  EXPECT_EQ(m.Calls("GetSystemInfo").size(), 1u);
}

TEST(CommandLine, SplitsItemsLikeTheProgram) {
  struct Row {
    const WCHAR* line;
    bool has;
    const WCHAR* first;
  } rows[] = {
      {L"install.exe", false, L""},
      {L"install.exe   ", false, L""},
      {L"install.exe /install", true, L"/install"},
      {L"\"C:\\Program Files\\Velto\\install.exe\" /install", true, L"/install"},
      {L"install.exe \"/install\"", true, L"/install"},
      {L"install.exe /install /uninstall", true, L"/install"},
      {L"install.exe\t/uninstall", true, L"/uninstall"},
      {L"install.exe /in\"stall x\"y", true, L"/install xy"},
      {L"install.exe \"\"", true, L""},
  };
  for (const Row& r : rows) {
    WideText item;
    EXPECT_EQ(CommandLineItem(r.line, 1, item), r.has) << winsim::detail::Utf8(r.line);
    EXPECT_EQ(std::wstring(item.c_str()), std::wstring(r.first)) << winsim::detail::Utf8(r.line);
  }
  WideText program;
  EXPECT_TRUE(CommandLineItem(L"\"C:\\Program Files\\install.exe\" /x", 0, program));
  EXPECT_EQ(std::wstring(program.c_str()), L"C:\\Program Files\\install.exe");
}

TEST(CommandLine, UnrecognisedArgumentsExitOneSilently) {
  for (const char* args : {"install", "-install", "/install:x", "/help", "\"/ install\""}) {
    Machine m;
    m.AddFile("C:\\Drivers\\veltowinusb.inf", test::SampleInf());
    ProcessResult res = RunMain(m, args);
    EXPECT_TRUE(res.exited) << args;
    EXPECT_EQ(res.exitCode, 1u) << args;
    EXPECT_TRUE(m.messageBoxes.empty()) << args;
    EXPECT_TRUE(m.debugLines.empty()) << args;
    EXPECT_TRUE(m.Calls("UpdateDriverForPlugAndPlayDevicesA").empty()) << args;
    EXPECT_TRUE(m.Calls("DiInstallDriverA").empty()) << args;
    EXPECT_TRUE(m.Calls("SetupDiGetClassDevsA").empty()) << args;
  }
}

// An argument that the heap could not hold whole is no keyword, whatever is left of it: with its
// first block refused, "x/uninstall" would lose its "x".
TEST(CommandLine, ArgumentTheHeapCutShortDoesNothing) {
  for (const char* args : {"x/uninstall", "x/install", "/uninstall", "/install"}) {
    SCOPED_TRACE(args);
    Machine m = test::PackageMachine();
    m.nativeArchitecture = PROCESSOR_ARCHITECTURE_INTEL;  // where the removal would run
    m.AddDevice("USB\\VID_7A3C&PID_0001\\5&1", {"USB\\VID_7A3C&PID_0001"}, false);
    ProcessResult res = winsim::RunProcess(m, InstallSpec(args), [] {
      HostHeap::Refuse(1);  // the argument's first block
      UINT code = RunCommandLine(GetCommandLineW());
      HostHeap::Allow();
      ExitProcess(code);
    });
    EXPECT_TRUE(res.exited);
    EXPECT_EQ(res.exitCode, 1u);
    EXPECT_TRUE(m.debugLines.empty());
    EXPECT_TRUE(m.Calls("GetFileAttributesA").empty());
    EXPECT_TRUE(m.Calls("SetupDiGetClassDevsA").empty());
    EXPECT_NE(m.FindDevice("USB\\VID_7A3C&PID_0001\\5&1"), nullptr);
  }
}

TEST(CommandLine, FirstArgumentIsLowerCasedThroughWindows) {
  Machine m;
  RunMain(m, "/INSTALL:X /uninstall");
  auto calls = m.Calls("CharLowerBuffW");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].args["lpsz"], "/INSTALL:X");
  EXPECT_EQ(calls[0].args["cchLength"], 10);
}
