// The uninstall procedure and the silent "/uninstall": the vendor's devices go with their
// packages, then the two packages by their fixed names; the log and the exit code.
#include "driverinstall/DriverInstall.h"
#include "install/Install.h"
#include "support.h"

using winsim::Machine;
using Texts = std::vector<std::string>;

namespace {



// The vendor's devices (present, absent, one ID in lower case) with the package in the driver
// store, and another vendor's devices with a package of their own.
Machine VendorMachine(WORD architecture) {
  Machine m = test::PackageMachine();
  m.nativeArchitecture = architecture;
  m.AddDevice("USB\\VID_7A3C&PID_0001\\5&1A2B&0&1", {"USB\\VID_7A3C&PID_0001"});
  m.AddDevice("USB\\VID_7A3C&PID_0002\\5&1A2B&0&2", {"USB\\VID_7A3C&PID_0002"}, false);
  m.AddDevice("usb\\vid_7a3c&pid_0010&mi_00\\6&3C4D&0&0", {"USB\\VID_7A3C&PID_0010&MI_00"});
  m.AddDevice("USB\\VID_1234&PID_0001\\7&1&0&1", {"USB\\VID_1234&PID_0001"});
  m.AddDevice("USB\\VID_1234&PID_0002\\7&1&0&2", {"USB\\VID_1234&PID_0002"}, false);
  m.AddDevice("USB\\VID_7A3C&PID_0001\\5&1A2B&0&3", {"USB\\VID_7A3C&PID_0001"}, false);
  m.AddStoredInf("oem3.inf", test::SampleInf());
  m.AddStoredInf("oem9.inf", "[Manufacturer]\nOther=Models\n[Models]\nOther=Install,USB\\VID_1234&PID_0001\n");
  return m;
}

const size_t kVendorDevices = 4;

bool IsVendor(const winsim::Device& d) { return d.hardwareIds.at(0).rfind("USB\\VID_7A3C&", 0) == 0; }

Texts Uninstalled(const Machine& m) {
  Texts out;
  for (const auto& c : m.Calls("SetupUninstallOEMInfA")) {
    EXPECT_EQ(c.args["Flags"], SUOI_FORCEDELETE);
    out.push_back(c.args["InfFileName"]);
  }
  return out;
}

const Texts kFixedNames = {"usbvelto.inf", "veltowinusb.inf"};

}  // namespace

TEST(DoUninstall, LogEndsInOkWhateverThePackageUninstallsGive) {
  struct Row {
    const char* what;
    bool devices;
    bool uninstallsFail;
    Texts log;
  } rows[] = {
      {"no vendor device", false, false,
       {"Searching for devices...", "No installed devices or drivers found", "Ok"}},
      {"no vendor device, uninstalls fail", false, true,
       {"Searching for devices...", "No installed devices or drivers found", "Ok"}},
      {"one vendor device", true, true,
       {"Searching for devices...", "Removing VELTO Data Logger", "Removing registry keys",
        "Removing device from system", "Uninstalling drivers", "Successfull uninstalled 1 devices", "Ok"}},
  };
  for (const Row& r : rows) {
    Machine m = test::PackageMachine();
    m.nativeArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
    m.AddDevice("USB\\VID_1234&PID_0001\\1", {"USB\\VID_1234&PID_0001"});
    if (r.devices) m.AddDevice("USB\\VID_7A3C&PID_0001\\2", {"USB\\VID_7A3C&PID_0001"}, false);
    m.AddStoredInf("oem3.inf", test::SampleInf());
    if (r.uninstallsFail) m.Fail("SetupUninstallOEMInfA", ERROR_ACCESS_DENIED);
    winsim::Session s(m);
    test::MainWindowScope scope;
    TMainWindow* window = scope.Window;
    EXPECT_TRUE(DoUninstall(window)) << r.what;
    EXPECT_EQ(s.ListBoxItems(window->lbLog->Handle()), r.log) << r.what;
    Texts expected = r.devices ? Texts{"oem3.inf"} : Texts{};
    expected.insert(expected.end(), kFixedNames.begin(), kFixedNames.end());
    EXPECT_EQ(Uninstalled(m), expected) << r.what;
    EXPECT_EQ(m.devices.size(), 1u) << r.what;
  }
}

TEST(DoUninstall, RefusedRemovalOn64BitWindowsIsReported) {
  Machine m = test::PackageMachine();  // 64-bit Windows
  m.AddDevice("USB\\VID_7A3C&PID_0002\\1", {"USB\\VID_7A3C&PID_0002"});
  m.AddStoredInf("oem3.inf", test::SampleInf());
  winsim::Session s(m);  // the 32-bit install
  test::MainWindowScope scope;
  TMainWindow* window = scope.Window;
  EXPECT_FALSE(DoUninstall(window));
  EXPECT_EQ(s.ListBoxItems(window->lbLog->Handle()), (Texts{"Searching for devices...", "Removing VELTO Data Logger (bootloader)",
                          "Removing registry keys", "Removing device from system",
                          "Unable to remove device, error 0xE0000235", "Uninstalling drivers",
                          "Successfull uninstalled 1 devices", "Ok"}));
  // The device stays; its keys and its package, which need no device installer, are gone.
  ASSERT_EQ(m.devices.size(), 1u);
  EXPECT_FALSE(m.devices[0].hardwareKey || m.devices[0].softwareKey);
  EXPECT_EQ(m.FindStoredInf("oem3.inf"), nullptr);
  EXPECT_EQ(Uninstalled(m), (Texts{"oem3.inf", "usbvelto.inf", "veltowinusb.inf"}));
}

TEST(UninstallCommand, RemovesEveryVendorDeviceAndNothingElse) {
  Machine m = VendorMachine(PROCESSOR_ARCHITECTURE_INTEL);
  winsim::ProcessResult r = test::RunInstall(m, "/uninstall");
  EXPECT_TRUE(r.exited);
  EXPECT_FALSE(r.crashed);
  EXPECT_EQ(r.exitCode, 0u);
  ASSERT_EQ(m.devices.size(), 2u);
  for (const winsim::Device& d : m.devices) {
    EXPECT_FALSE(IsVendor(d)) << d.instanceId;
    EXPECT_TRUE(d.hardwareKey && d.softwareKey) << d.instanceId;
  }
  EXPECT_EQ(m.FindStoredInf("oem3.inf"), nullptr);
  EXPECT_NE(m.FindStoredInf("oem9.inf"), nullptr);
  // The package once per device that names it, then the two fixed names; no text without a window.
  EXPECT_EQ(Uninstalled(m), (Texts{"oem3.inf", "oem3.inf", "oem3.inf", "oem3.inf", "usbvelto.inf", "veltowinusb.inf"}));
  EXPECT_TRUE(m.Calls("SendMessageW").empty());
  // Every removal was made for a vendor device, from the install program, and no set was left.
  EXPECT_EQ(m.Calls("SetupDiRemoveDevice").size(), kVendorDevices);
  EXPECT_EQ(m.Calls("SetupDiDeleteDevRegKey").size(), kVendorDevices);
  for (const auto& c : m.Calls("SetupDiRemoveDevice")) EXPECT_EQ(c.proc, "install");
  ASSERT_FALSE(m.exits.empty());
  EXPECT_EQ(m.exits.back().openDeviceInfoSets, 0);
}

TEST(UninstallCommand, ExitCodes) {
  struct Row {
    const char* what;
    WORD architecture;
    const char* arguments;
    const char* failing;  // a call made to fail, or null
    DWORD error;          // its error
    DWORD exitCode;
    size_t devicesLeft;
  } rows[] = {
      {"32-bit Windows", PROCESSOR_ARCHITECTURE_INTEL, "/UNINSTALL", nullptr, 0, 0, 2},
      {"64-bit Windows refuses the removal", PROCESSOR_ARCHITECTURE_AMD64, "/uninstall", nullptr, 0, 1, 6},
      // Only a refused allocation fails the run; any other error tells of no device to remove.
      {"no device list: not enough memory", PROCESSOR_ARCHITECTURE_INTEL, "/uninstall", "SetupDiGetClassDevsA",
       ERROR_NOT_ENOUGH_MEMORY, 1, 6},
      {"no device list: out of memory", PROCESSOR_ARCHITECTURE_INTEL, "/uninstall", "SetupDiGetClassDevsA",
       ERROR_OUTOFMEMORY, 1, 6},
      {"no device list: no such enumerator", PROCESSOR_ARCHITECTURE_INTEL, "/uninstall", "SetupDiGetClassDevsA",
       ERROR_INVALID_DATA, 0, 6},
      {"no device list: access denied", PROCESSOR_ARCHITECTURE_INTEL, "/uninstall", "SetupDiGetClassDevsA",
       ERROR_ACCESS_DENIED, 0, 6},
      {"package uninstalls fail", PROCESSOR_ARCHITECTURE_INTEL, "/uninstall", "SetupUninstallOEMInfA",
       ERROR_ACCESS_DENIED, 0, 2},
  };
  for (const Row& r : rows) {
    Machine m = VendorMachine(r.architecture);
    if (r.failing) m.Fail(r.failing, r.error);
    winsim::ProcessResult p = test::RunInstall(m, r.arguments);
    EXPECT_TRUE(p.exited) << r.what;
    EXPECT_EQ(p.exitCode, r.exitCode) << r.what;
    EXPECT_EQ(m.devices.size(), r.devicesLeft) << r.what;
    EXPECT_TRUE(m.messageBoxes.empty()) << r.what;
  }
}
