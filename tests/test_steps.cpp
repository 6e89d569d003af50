// The install steps: result reporting by both tables, with and without the main window, the pump
// before the install call, and the hand-over to the real host quorvin.
#include <algorithm>

#include "driverinstall/DriverInstall.h"
#include "install/Install.h"
#include "support.h"

namespace {

const char* const Id = "USB\\VID_7A3C&PID_0001";
const char* const AbsentDevice = "USB\\VID_7A3C&PID_0001\\ABSENT";
const std::string DeviceMessage = "Installing driver for USB\\VID_7A3C&PID_0001...";
const std::string PackageMessage = "Installing VELTO WinUsb driver...";
const std::string InfPath = "C:\\Drivers\\veltowinusb.inf";

void SetBase(const char* dir) {
  BaseDir.Truncate(0);
  BaseDir.Append(dir);
}

// What the install program did, in order: list lines, debug lines, beeps, the pumped message, the
// install call, marking writes, the process start and handle closes.
std::vector<std::string> Trace(const winsim::Machine& m, const std::vector<std::string>& listItems) {
  std::vector<std::string> out;
  size_t item = 0;
  for (const auto& c : m.calls) {
    if (c.proc != "install") continue;
    if (c.fn == "OutputDebugStringW") out.push_back("debug:" + c.args["lpOutputString"].get<std::string>());
    else if (c.fn == "SendMessageW" && c.args["Msg"].get<UINT>() == LB_ADDSTRING)
      out.push_back("list:" + (item < listItems.size() ? listItems[item++] : std::string("?")));
    else if (c.fn == "MessageBeep") out.push_back("beep:" + std::to_string(c.args["uType"].get<UINT>()));
    else if (c.fn == "DispatchMessageW") out.push_back("pump");
    else if (c.fn == "UpdateDriverForPlugAndPlayDevicesA" || c.fn == "DiInstallDriverA") out.push_back("install");
    else if (c.fn == "SetupDiSetDeviceRegistryPropertyA") out.push_back("mark");
    else if (c.fn == "CreateProcessA") out.push_back("start");
    else if (c.fn == "CloseHandle") out.push_back("close");
  }
  return out;
}

// The expected trace without the list lines, for the runs without a window.
std::vector<std::string> WithoutList(std::vector<std::string> trace) {
  std::erase_if(trace, [](const std::string& s) { return s.rfind("list:", 0) == 0; });
  return trace;
}

struct StepRun {
  DWORD result = 0;
  std::vector<std::string> trace;
  std::string owner;  // the hwndParent of the install call: "window" or "none"
  int openHandles = -1;
  int openSets = -1;
};

enum class Step { Device, Package };

// Runs one step in-process, with a window or none; a message waits in the queue when it starts.
StepRun RunStep(winsim::Machine& m, Step step, bool window) {
  winsim::Session s(m);
  BindSystemEntries();
  SetBase("C:\\Drivers\\");
  LoadDiInstallDriver();
  test::MainWindowScope scope(window);
  TMainWindow* w = scope.Window;
  HWND handle = WindowHandle(w);
  PostMessageW(handle, WM_USER + 7, 0, 0);
  StepRun r;
  r.result = step == Step::Device ? InstallDeviceDriver(w, Id, "veltowinusb.inf", DeviceMessage.c_str())
                                  : InstallDriver(w, "veltowinusb.inf", PackageMessage.c_str());
  r.trace = Trace(m, window ? s.ListBoxItems(w->lbLog->Handle()) : std::vector<std::string>{});
  const char* fn = step == Step::Device ? "UpdateDriverForPlugAndPlayDevicesA" : "DiInstallDriverA";
  for (const auto& c : m.Calls(fn))
    if (c.proc == "install")
      r.owner = c.args["hwndParent"].get<uintptr_t>() == uintptr_t(handle) && handle ? "window"
                : c.args["hwndParent"].get<uintptr_t>() == 0                              ? "none"
                                                                                           : "other";
  r.openHandles = s.OpenHandles();
  r.openSets = s.OpenDeviceInfoSets();
  return r;
}

// One row of the result tables.
struct Row {
  DWORD code;
  std::string deviceDebug;
  std::string packageDebug;
  std::string list;
  bool beep;
};

const Row Rows[] = {
    {0, "success.", "success", "Success.", false},
    {1, "error: invalid function", "error: invalid function", "Invalid function.", false},
    {2, "error: One or more files missing!", "error: One or more files missing!", "One or more files missing!",
     true},
    {5, "error: access denied", "error: access denied", "Access denied!", true},
    {259, "current driver is up-to-date", "current driver is up-to-date", "Current driver is up-to-date", false},
    {0xE000020B, "success, marked to reinstall", "success, mark to reinstall", "Success.", false},
    {0xE000023F, "error: not authenticated", "error: not authenticated", "Not authentified.", true},
    {0xE0000243, "error: publisher not trusted", "error: publisher not trusted", "Publisher not trusted.", false},
};

struct OtherRow {
  DWORD code;
  std::string text;
} const OtherRows[] = {{3, "Other error - 0x3"}, {0xE0000203, "Other error - 0xE0000203"},
                       {0x1F, "Other error - 0x1F"}};

winsim::Machine StepMachine(Step step, DWORD code) {
  winsim::Machine m = test::PackageMachine();
  m.AddDevice(AbsentDevice, {Id}, false);
  const char* fn = step == Step::Device ? "UpdateDriverForPlugAndPlayDevicesA" : "DiInstallDriverA";
  // ERROR_NO_SUCH_DEVINST comes back after the copy into the driver store, which succeeds here.
  m.Answer(fn, code == 0, code);
  return m;
}

}  // namespace

// Each named row: the debug line, then the list line (with a window), then the beep or, in the
// per-device step after a success, the marking of the absent devices.
TEST(InstallSteps, EveryRowOfBothTables) {
  for (Step step : {Step::Device, Step::Package}) {
    for (bool window : {true, false}) {
      for (const Row& row : Rows) {
        SCOPED_TRACE(std::string(step == Step::Device ? "device step, " : "package step, ") +
                     (window ? "window, code " : "no window, code ") + std::to_string(row.code));
        winsim::Machine m = StepMachine(step, row.code);
        StepRun r = RunStep(m, step, window);
        bool marks = step == Step::Device && (row.code == 0 || row.code == 0xE000020B);
        std::vector<std::string> expected = {
            "list:" + (step == Step::Device ? DeviceMessage : PackageMessage), "pump",
            "debug:" + std::string(step == Step::Device ? "Install_Device_Driver: " : "Install_Driver: ") + InfPath,
            "install", "debug:" + (step == Step::Device ? row.deviceDebug : row.packageDebug), "list:" + row.list};
        if (row.beep) expected.push_back("beep:48");
        if (marks) expected.push_back("mark");
        EXPECT_EQ(r.trace, window ? expected : WithoutList(expected));
        EXPECT_EQ(r.result, row.code);
        EXPECT_EQ(r.owner, window ? "window" : "none");
        EXPECT_EQ(*m.FindDevice(AbsentDevice)->configFlags, marks ? 0x20u : 0u);
        EXPECT_EQ(r.openSets, 0);
      }
    }
  }
}

// A code of no row: "Other error - 0x%x" in upper-case hexadecimal. The per-device step writes the
// list line and then the same debug line, the package step the list line alone. ERROR_IN_WOW64 is
// such a code in the per-device step.
TEST(InstallSteps, OtherCodesAreReportedInHexadecimal) {
  std::vector<OtherRow> rows(std::begin(OtherRows), std::end(OtherRows));
  for (bool window : {true, false}) {
    for (Step step : {Step::Device, Step::Package}) {
      std::vector<OtherRow> stepRows = rows;
      if (step == Step::Device) stepRows.push_back({0xE0000235, "Other error - 0xE0000235"});
      for (const OtherRow& row : stepRows) {
        SCOPED_TRACE(std::string(window ? "window, " : "no window, ") +
                     (step == Step::Device ? "device step, " : "package step, ") + row.text);
        winsim::Machine m = StepMachine(step, row.code);
        StepRun r = RunStep(m, step, window);
        std::vector<std::string> expected = {
            "list:" + (step == Step::Device ? DeviceMessage : PackageMessage), "pump",
            "debug:" + std::string(step == Step::Device ? "Install_Device_Driver: " : "Install_Driver: ") + InfPath,
            "install", "list:" + row.text};
        if (step == Step::Device) expected.push_back("debug:" + row.text);
        EXPECT_EQ(r.trace, window ? expected : WithoutList(expected));
        EXPECT_EQ(r.result, row.code);
        EXPECT_TRUE(m.beeps.empty());
        EXPECT_EQ(*m.FindDevice(AbsentDevice)->configFlags, 0u);
      }
    }
  }
}

// The INF path is the base directory and the file name, an empty base directory giving the bare
// name; neither install call is forced; the marking looks at "USB".
TEST(InstallSteps, InstallCallArguments) {
  for (Step step : {Step::Device, Step::Package}) {
    for (const char* base : {"C:\\Drivers\\", ""}) {
      SCOPED_TRACE(std::string(step == Step::Device ? "device step, base " : "package step, base ") + base);
      winsim::Machine m = StepMachine(step, 0);
      {
        winsim::Session s(m);
        BindSystemEntries();
        SetBase(base);
        LoadDiInstallDriver();
        if (step == Step::Device) InstallDeviceDriver(nullptr, Id, "veltowinusb.inf", DeviceMessage.c_str());
        else InstallDriver(nullptr, "veltowinusb.inf", PackageMessage.c_str());
      }
      std::string path = std::string(base) + "veltowinusb.inf";
      EXPECT_EQ(m.debugLines.front(),
                std::string(step == Step::Device ? "Install_Device_Driver: " : "Install_Driver: ") + path);
      if (step == Step::Device) {
        auto calls = m.Calls("UpdateDriverForPlugAndPlayDevicesA");
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].args["FullInfPath"], path);
        EXPECT_EQ(calls[0].args["HardwareId"], Id);
        EXPECT_EQ(calls[0].args["InstallFlags"], 0);
        ASSERT_FALSE(m.Calls("SetupDiGetClassDevsA").empty());
        EXPECT_EQ(m.Calls("SetupDiGetClassDevsA")[0].args["Enumerator"], "USB");
      } else {
        auto calls = m.Calls("DiInstallDriverA");
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].args["InfPath"], path);
        EXPECT_EQ(calls[0].args["Flags"], 0);
      }
    }
  }
}

// A quit message waiting in the queue ends the program in the pump, before any install call.
TEST(InstallSteps, QuitInThePumpEndsTheProgramBeforeTheInstall) {
  for (Step step : {Step::Device, Step::Package}) {
    winsim::Machine m = StepMachine(step, 0);
    winsim::ProcessSpec spec;
    auto r = winsim::RunProcess(m, spec, [step] {
      SetBase("C:\\Drivers\\");
      LoadDiInstallDriver();
      PostQuitMessage(7);
      if (step == Step::Device) InstallDeviceDriver(nullptr, Id, "veltowinusb.inf", DeviceMessage.c_str());
      else InstallDriver(nullptr, "veltowinusb.inf", PackageMessage.c_str());
    });
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 7u);
    EXPECT_TRUE(m.Calls("UpdateDriverForPlugAndPlayDevicesA").empty());
    EXPECT_TRUE(m.Calls("DiInstallDriverA").empty());
    EXPECT_TRUE(m.debugLines.empty());
  }
}

// ---- The 64-bit hand-over, with the host quorvin as a real second process ----

namespace {

const std::string PresentDevice = "USB\\VID_7A3C&PID_0001\\PRESENT";

struct HandOverRow {
  const char* name;
  DWORD exitCode;
  bool scripted;       // quorvin's DiInstallDriverA is scripted to fail with the code
  bool presentDevice;  // else no device takes the package: it goes to the driver store
  std::vector<std::string> tail;  // the trace after the hand-over's "Process finished"
};

const HandOverRow HandOverRows[] = {
    {"installed", 0, false, true, {"debug:success", "list:Success."}},
    {"access denied", 5, true, true, {"debug:error: access denied", "list:Access denied!", "beep:48"}},
    {"copied to the driver store", 0xE000020B, false, false, {"debug:success, mark to reinstall", "list:Success."}},
    {"refused in WoW64 again", 0xE0000235, true, true, {"list:Other error - 0xE0000235"}},
    {"up to date", 259, true, true, {"debug:current driver is up-to-date", "list:Current driver is up-to-date"}},
};

winsim::Machine HandOverMachine(const HandOverRow& row) {
  winsim::Machine m = test::PackageMachine();
  m.AddDevice(AbsentDevice, {Id}, false);
  if (row.presentDevice) m.AddDevice(PresentDevice, {Id}, true);
  if (row.scripted) m.Answer("DiInstallDriverA", false, row.exitCode, false, 0, "quorvin");
  return m;
}

std::vector<std::string> HandOverTrace(const std::vector<std::string>& tail) {
  std::vector<std::string> t = {"list:" + PackageMessage,
                                "debug:Install_Driver: " + InfPath,
                                "install",
                                "debug:Running 64-bit installer...",
                                "list:Running 64-bit installer...",
                                "start",
                                "debug:Process finished",
                                "close",
                                "close"};
  t.insert(t.end(), tail.begin(), tail.end());
  return t;
}

const winsim::ExitRecord* ExitOf(const winsim::Machine& m, const std::string& proc) {
  for (const auto& e : m.exits)
    if (e.proc == proc) return &e;
  return nullptr;
}

}  // namespace

// Without a window: InstallDriver in a 32-bit install process of its own on 64-bit Windows.
TEST(HandOver, QuorvinExitCodeBecomesTheResult) {
  for (const HandOverRow& row : HandOverRows) {
    SCOPED_TRACE(row.name);
    winsim::Machine m = HandOverMachine(row);
    winsim::ProcessSpec spec;
    spec.program = "install";
    spec.bits = 32;
    auto r = winsim::RunProcess(m, spec, [] {
      BaseDir.Truncate(0);  // the child starts with the test process's globals
      SetBaseDir();
      LoadDiInstallDriver();
      ExitProcess(InstallDriver(nullptr, "veltowinusb.inf", PackageMessage.c_str()));
    });
    ASSERT_TRUE(r.exited) << r.stopped;
    EXPECT_FALSE(r.crashed);
    EXPECT_EQ(r.exitCode, row.exitCode);
    EXPECT_EQ(Trace(m, {}), WithoutList(HandOverTrace(row.tail)));
    // install's own call was refused in WoW64; quorvin made the one forced call.
    auto calls = m.Calls("DiInstallDriverA");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].proc, "install");
    EXPECT_EQ(calls[1].proc, "quorvin");
    EXPECT_EQ(calls[1].args["InfPath"], InfPath);
    EXPECT_EQ(calls[1].args["Flags"], DIIRFLAG_FORCE_INF);
    EXPECT_EQ(m.Calls("CreateProcessA").size(), 1u);
    const winsim::ExitRecord* quorvin = ExitOf(m, "quorvin");
    const winsim::ExitRecord* install = ExitOf(m, "install");
    ASSERT_TRUE(quorvin && install);
    EXPECT_EQ(quorvin->exitCode, row.exitCode);
    EXPECT_EQ(install->openHandles, 0);
    EXPECT_EQ(install->openDeviceInfoSets, 0);
    EXPECT_EQ(quorvin->openHandles, 0);
    // The package step leaves the marking to its caller.
    EXPECT_EQ(*m.FindDevice(AbsentDevice)->configFlags, 0u);
  }
}

// With a window: the same hand-over in-process, its lines in the log list.
TEST(HandOver, LinesWithAWindow) {
  for (const HandOverRow& row : HandOverRows) {
    SCOPED_TRACE(row.name);
    winsim::Machine m = HandOverMachine(row);
    std::vector<std::string> items;
    {
      winsim::Session s(m);
      BindSystemEntries();
      SetBase("C:\\Drivers\\");
      LoadDiInstallDriver();
      test::MainWindowScope scope;
      TMainWindow* w = scope.Window;
      EXPECT_EQ(InstallDriver(w, "veltowinusb.inf", PackageMessage.c_str()), row.exitCode);
      items = s.ListBoxItems(w->lbLog->Handle());
      EXPECT_EQ(s.OpenHandles(), 0);
    }
    EXPECT_EQ(Trace(m, items), HandOverTrace(row.tail));
  }
}

// quorvin is started as Windows needs it: the relative name, a writable empty command line, the
// base directory as its current directory, the startup record as given.
TEST(HandOver, StartsQuorvinFromTheBaseDirectory) {
  winsim::Machine m = HandOverMachine(HandOverRows[0]);
  {
    winsim::Session s(m);
    BindSystemEntries();
    SetBase("C:\\Drivers\\");
    LoadDiInstallDriver();
    InstallDriver(nullptr, "veltowinusb.inf", PackageMessage.c_str());
  }
  auto starts = m.Calls("CreateProcessA");
  ASSERT_EQ(starts.size(), 1u);
  const auto& a = starts[0].args;
  // By full path, from the folder of install's own file.
  EXPECT_EQ(a["lpApplicationName"], "C:\\Drivers\\amd64\\quorvin.exe");
  EXPECT_EQ(a["lpCommandLine"], "");
  EXPECT_EQ(a["lpCurrentDirectory"], "C:\\Drivers\\");
  EXPECT_EQ(a["lpProcessAttributes"], false);
  EXPECT_EQ(a["lpThreadAttributes"], false);
  EXPECT_EQ(a["bInheritHandles"], 0);
  EXPECT_EQ(a["dwCreationFlags"], 0);
  EXPECT_EQ(a["lpEnvironment"], false);
  EXPECT_EQ(a["startupInfo"]["cb"], sizeof(STARTUPINFOA));
  EXPECT_EQ(a["startupInfo"]["dwXSize"], 128);
  EXPECT_EQ(a["startupInfo"]["dwYSize"], 128);
  EXPECT_EQ(a["startupInfo"]["dwXCountChars"], 80);
  EXPECT_EQ(a["startupInfo"]["dwYCountChars"], 25);
  EXPECT_EQ(a["startupInfo"]["dwFlags"], 0);
  EXPECT_EQ(a["startupInfo"]["others"], false);
  auto waits = m.Calls("WaitForSingleObject");
  ASSERT_EQ(waits.size(), 1u);
  EXPECT_EQ(waits[0].args["dwMilliseconds"], INFINITE);
  // The process handle is closed first, then the thread handle.
  auto closes = m.Calls("CloseHandle");
  ASSERT_EQ(closes.size(), 2u);
  EXPECT_EQ(closes[0].args["hObject"], waits[0].args["hHandle"]);
  EXPECT_NE(closes[1].args["hObject"], closes[0].args["hObject"]);
}

// The hand-over's own failures: reported as "<call> error 0x%x" (list line, then debug line), the
// code returned without the table, no beep, no handle left open.
TEST(HandOver, FailuresEndTheStepWithTheirOwnLine) {
  struct Case {
    const char* name;
    std::function<void(winsim::Machine&)> setUp;
    const char* baseDir;
    DWORD expected;
    std::string line;
    bool started;
    bool attempted = true;  // CreateProcessA was called
  } cases[] = {
      {"quorvin missing",
       [](winsim::Machine& m) {
         std::erase_if(m.files, [](const winsim::File& f) { return f.path == "C:\\Drivers\\amd64\\quorvin.exe"; });
       },
       "C:\\Drivers\\", ERROR_FILE_NOT_FOUND, "CreateProcess error 0x2", false},
      {"empty base directory", [](winsim::Machine&) {}, "", ERROR_DIRECTORY, "CreateProcess error 0x10B", false},
      {"start fails without an error code", [](winsim::Machine& m) { m.Fail("CreateProcessA", 0); }, "C:\\Drivers\\",
       ERROR_INVALID_FUNCTION, "CreateProcess error 0x1", false},
      {"wait fails", [](winsim::Machine& m) { m.Fail("WaitForSingleObject", ERROR_INVALID_HANDLE, 0, "install"); },
       "C:\\Drivers\\", ERROR_INVALID_HANDLE, "WaitForSingleObject error 0x6", true},
      {"exit code unreadable",
       [](winsim::Machine& m) { m.Fail("GetExitCodeProcess", ERROR_ACCESS_DENIED, 0, "install"); }, "C:\\Drivers\\",
       ERROR_ACCESS_DENIED, "GetExitCodeProcess error 0x5", true},
      // quorvin is named by install's own folder: a path that cannot be built starts nothing.
      {"install's own file name unreadable",
       [](winsim::Machine& m) { m.Fail("GetModuleFileNameW", ERROR_NOT_ENOUGH_MEMORY, 0, "install"); },
       "C:\\Drivers\\", ERROR_NOT_ENOUGH_MEMORY, "CreateProcess error 0x8", false, false},
  };
  for (const Case& c : cases) {
    for (bool window : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (window ? ", window" : ", no window"));
      winsim::Machine m = HandOverMachine(HandOverRows[0]);
      c.setUp(m);
      std::vector<std::string> items;
      DWORD result;
      {
        winsim::Session s(m);
        BindSystemEntries();
        SetBase(c.baseDir);
        LoadDiInstallDriver();
        test::MainWindowScope scope(window);
  TMainWindow* w = scope.Window;
        result = InstallDriver(w, "veltowinusb.inf", PackageMessage.c_str());
        if (window) items = s.ListBoxItems(w->lbLog->Handle());
        EXPECT_EQ(s.OpenHandles(), 0);
      }
      EXPECT_EQ(result, c.expected);
      std::string path = std::string(c.baseDir) + "veltowinusb.inf";
      std::vector<std::string> expected = {"list:" + PackageMessage,
                                           "debug:Install_Driver: " + path,
                                           "install",
                                           "debug:Running 64-bit installer...",
                                           "list:Running 64-bit installer...",
                                           "start",
                                           "list:" + c.line,
                                           "debug:" + c.line};
      if (c.started) expected.insert(expected.end(), {"close", "close"});
      if (!c.attempted) std::erase(expected, "start");
      EXPECT_EQ(Trace(m, items), window ? expected : WithoutList(expected));
      EXPECT_TRUE(m.beeps.empty());
      // A failed wait reads no exit code: a running quorvin would answer STILL_ACTIVE.
      if (std::string(c.name) == "wait fails") {
        EXPECT_TRUE(m.Calls("GetExitCodeProcess").empty());
      }
    }
  }
}
