// The two install calls, the binding of DiInstallDriverA, and the install result code.
#include "driverinstall/DriverInstall.h"
#include "support.h"
#include "winsim/internal.h"

using winsim::Machine;

namespace {

const char* kInf = "C:\\Drivers\\veltowinusb.inf";

struct Outcome {
  DWORD result;
  bool reboot;
};

// Runs one install call in a 64-bit process (no WoW64), the package call with DiInstallDriverA bound.
Outcome Install(Machine& m, bool package, bool force = false, bool rebootBefore = false) {
  winsim::ProcessSpec spec;
  spec.program = "quorvin";
  spec.bits = 64;
  winsim::Session s(m, spec);
  BindSystemEntries();
  bool reboot = rebootBefore;
  DWORD r;
  if (package) {
    EXPECT_TRUE(LoadDiInstallDriver());
    r = InstallDriverPackage(nullptr, kInf, force, reboot);
  } else {
    r = UpdateDeviceDriver(nullptr, "USB", "USB\\VID_7A3C&PID_0001", kInf, force, reboot);
  }
  return {r, reboot};
}

const char* CallName(bool package) { return package ? "DiInstallDriverA" : "UpdateDriverForPlugAndPlayDevicesA"; }

}  // namespace

TEST(InstallCalls, PackageCallBeforeBindingReturnsInvalidFunction) {
  Machine m;
  winsim::Session s(m);
  DiInstallDriverProc = nullptr;
  bool reboot = true;
  EXPECT_EQ(InstallDriverPackage(nullptr, kInf, false, reboot), DWORD(ERROR_INVALID_FUNCTION));
  EXPECT_TRUE(reboot);  // not written
  EXPECT_TRUE(m.calls.empty());
}

TEST(InstallCalls, BindingWithoutTheEntryLeavesNothingBound) {
  Machine m;
  m.RemoveExport("newdev.dll", "DiInstallDriverA");
  {
    winsim::Session s(m);
    DiInstallDriverProc = nullptr;
    EXPECT_FALSE(LoadDiInstallDriver());
    EXPECT_EQ(DiInstallDriverProc, nullptr);
  }

  Machine none;
  none.RemoveModule("newdev.dll");
  winsim::ProcessSpec spec;
  spec.program = "quorvin";
  spec.bits = 64;
  winsim::Session q(none, spec);
  EXPECT_FALSE(LoadDiInstallDriver());
  EXPECT_EQ(DiInstallDriverProc, nullptr);
}

// newdev.dll is not loaded in quorvin: it comes from the system directory, never from a file of
// that name in the current directory.
TEST(InstallCalls, NewdevLoadedFromTheSystemDirectory) {
  Machine m;
  m.AddFile("C:\\Drivers\\newdev.dll", "planted");
  winsim::ProcessSpec spec;
  spec.program = "quorvin";
  spec.bits = 64;
  winsim::Session s(m, spec);
  ASSERT_TRUE(LoadDiInstallDriver());
  auto loads = m.Calls("LoadLibraryExW");
  ASSERT_EQ(loads.size(), 1u);
  EXPECT_EQ(loads[0].args["lpLibFileName"], "C:\\Windows\\system32\\newdev.dll");
  EXPECT_EQ(loads[0].args["dwFlags"], LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// Every result that the install calls produce, for both calls.
TEST(InstallCalls, ResultCodes) {
  struct Row {
    const char* what;
    DWORD windowsError;  // the install call fails with it; 0 with `ok`: success
    bool ok;
    bool copyFails;
    DWORD copyError;
    DWORD result;
  } rows[] = {
      {"success", 0, true, false, 0, 0},
      {"invalid function", ERROR_INVALID_FUNCTION, false, false, 0, ERROR_INVALID_FUNCTION},
      {"files missing", ERROR_FILE_NOT_FOUND, false, false, 0, ERROR_FILE_NOT_FOUND},
      {"access denied", ERROR_ACCESS_DENIED, false, false, 0, ERROR_ACCESS_DENIED},
      {"up to date", ERROR_NO_MORE_ITEMS, false, false, 0, ERROR_NO_MORE_ITEMS},
      {"no device, copied", ERROR_NO_SUCH_DEVINST, false, false, 0, ERROR_NO_SUCH_DEVINST},
      {"no device, copy refused", ERROR_NO_SUCH_DEVINST, false, true, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
      {"no device, copy fails naming no error", ERROR_NO_SUCH_DEVINST, false, true, 0, ERROR_INVALID_FUNCTION},
      {"WoW64", ERROR_IN_WOW64, false, false, 0, ERROR_IN_WOW64},
      {"no catalog", ERROR_NO_AUTHENTICODE_CATALOG, false, false, 0, ERROR_NO_AUTHENTICODE_CATALOG},
      {"untrusted", ERROR_AUTHENTICODE_PUBLISHER_NOT_TRUSTED, false, false, 0, ERROR_AUTHENTICODE_PUBLISHER_NOT_TRUSTED},
      {"other", 0x1234, false, false, 0, 0x1234},
      {"failure naming no error", 0, false, false, 0, ERROR_INVALID_FUNCTION},
  };
  for (bool package : {false, true}) {
    for (const Row& r : rows) {
      SCOPED_TRACE(std::string(CallName(package)) + ": " + r.what);
      Machine m;
      m.AddFile(kInf, test::SampleInf());
      m.Answer(CallName(package), r.ok, r.windowsError);
      if (r.copyFails) m.Fail("SetupCopyOEMInfA", r.copyError);
      EXPECT_EQ(Install(m, package).result, r.result);
      auto copies = m.Calls("SetupCopyOEMInfA");
      // Only ERROR_NO_SUCH_DEVINST brings the copy into the driver store, and only once.
      ASSERT_EQ(copies.size(), r.windowsError == ERROR_NO_SUCH_DEVINST ? 1u : 0u);
      if (!copies.empty()) {
        EXPECT_EQ(copies[0].args["SourceInfFileName"], kInf);
        EXPECT_EQ(copies[0].args["OEMSourceMediaLocation"], nullptr);
        EXPECT_EQ(copies[0].args["OEMSourceMediaType"], SPOST_PATH);
        EXPECT_EQ(copies[0].args["CopyStyle"], 0);
        EXPECT_EQ(copies[0].args["DestinationInfFileName"], false);
        EXPECT_EQ(copies[0].args["DestinationInfFileNameSize"], 0);
        EXPECT_EQ(copies[0].args["RequiredSize"], false);
        EXPECT_EQ(copies[0].args["DestinationInfFileNameComponent"], false);
      }
      if (r.windowsError == ERROR_NO_SUCH_DEVINST && !r.copyFails) {
        ASSERT_EQ(m.driverStore.size(), 1u);
        EXPECT_EQ(m.driverStore[0].originalPath, kInf);
      }
    }
  }
}

TEST(InstallCalls, ForceFlagsAndRestartFlag) {
  for (bool package : {false, true}) {
    for (bool force : {false, true}) {
      for (bool restart : {false, true}) {
        SCOPED_TRACE(std::string(CallName(package)) + (force ? " forced" : "") + (restart ? " restart" : ""));
        Machine m;
        m.Answer(CallName(package), true, 0, restart);
        Outcome o = Install(m, package, force, !restart);
        EXPECT_EQ(o.result, 0u);
        EXPECT_EQ(o.reboot, restart);
        auto calls = m.Calls(CallName(package));
        ASSERT_EQ(calls.size(), 1u);
        DWORD flag = package ? DIIRFLAG_FORCE_INF : INSTALLFLAG_FORCE;
        EXPECT_EQ(calls[0].args[package ? "Flags" : "InstallFlags"], force ? flag : 0u);
        EXPECT_EQ(calls[0].args[package ? "InfPath" : "FullInfPath"], kInf);
        EXPECT_EQ(calls[0].args[package ? "NeedReboot" : "bRebootRequired"], true);
      }
    }
  }
}

TEST(InstallCalls, EnumeratorChangesNothing) {
  std::vector<winsim::json> seen;
  for (const char* enumerator : {"USB", "PCI", ""}) {
    Machine m;
    m.Answer("UpdateDriverForPlugAndPlayDevicesA", true);
    winsim::Session s(m);
    BindSystemEntries();
    bool reboot = false;
    EXPECT_EQ(UpdateDeviceDriver(HWND(0x1234), enumerator, "USB\\VID_7A3C&PID_0002", kInf, false, reboot), 0u);
    seen.push_back(m.Calls("UpdateDriverForPlugAndPlayDevicesA").at(0).args);
  }
  EXPECT_EQ(seen[0], seen[1]);
  EXPECT_EQ(seen[0], seen[2]);
  EXPECT_EQ(seen[0]["hwndParent"], 0x1234);
  EXPECT_EQ(seen[0]["HardwareId"], "USB\\VID_7A3C&PID_0002");
}

// winsim's answers where no test scripts them, as Windows gives them.
TEST(WinsimInstallCalls, AnswerAsWindows) {
  struct Row {
    const char* what;
    std::function<void(Machine&)> setUp;
    DWORD result;
    size_t storeSize;
  } rows[] = {
      {"a present device takes the package",
       [](Machine& m) { m.AddDevice("USB\\VID_7A3C&PID_0001\\1", {"USB\\VID_7A3C&PID_0001"}); }, 0, 1},
      {"no present device: copied to the store",
       [](Machine& m) { m.AddDevice("USB\\VID_7A3C&PID_0001\\1", {"USB\\VID_7A3C&PID_0001"}, false); },
       ERROR_NO_SUCH_DEVINST, 1},
      {"INF missing", [](Machine& m) { m.files.erase(m.files.begin() + long(m.files.size()) - 1); },
       ERROR_FILE_NOT_FOUND, 0},
  };
  for (bool package : {false, true}) {
    for (const Row& r : rows) {
      SCOPED_TRACE(std::string(CallName(package)) + ": " + r.what);
      Machine m;
      m.AddFile(kInf, test::SampleInf());
      r.setUp(m);
      EXPECT_EQ(Install(m, package).result, r.result);
      EXPECT_EQ(m.driverStore.size(), r.storeSize);
    }
  }
}

TEST(WinsimInstallCalls, SecondInstallIsUpToDateUnlessForced) {
  for (bool package : {false, true}) {
    Machine m;
    m.AddFile(kInf, test::SampleInf());
    m.AddDevice("USB\\VID_7A3C&PID_0001\\1", {"USB\\VID_7A3C&PID_0001"});
    EXPECT_EQ(Install(m, package).result, 0u);
    EXPECT_EQ(Install(m, package).result, DWORD(ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(Install(m, package, true).result, 0u);
    EXPECT_EQ(m.driverStore.size(), 1u);
    EXPECT_EQ(m.devices[0].driverInf, "oem0.inf");
  }
}

TEST(WinsimInstallCalls, RefusedInWow64) {
  Machine m;  // 64-bit Windows
  m.AddFile(kInf, test::SampleInf());
  m.AddDevice("USB\\VID_7A3C&PID_0001\\1", {"USB\\VID_7A3C&PID_0001"});
  winsim::Session s(m);  // install: a 32-bit process
  BindSystemEntries();
  ASSERT_TRUE(LoadDiInstallDriver());
  bool reboot = false;
  EXPECT_EQ(InstallDriverPackage(nullptr, kInf, false, reboot), DWORD(ERROR_IN_WOW64));
  EXPECT_EQ(UpdateDeviceDriver(nullptr, "USB", "USB\\VID_7A3C&PID_0001", kInf, false, reboot), DWORD(ERROR_IN_WOW64));
  EXPECT_TRUE(m.Calls("SetupCopyOEMInfA").empty());
}
