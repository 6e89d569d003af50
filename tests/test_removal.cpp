// UninstallDevices: which devices go, the progress texts in their order, the INF names gathered
// from the compatible drivers and their uninstalls, and the result.
#include <cstddef>
#include <cstring>
#include <set>

#include "driverinstall/DriverInstall.h"
#include "platform/heap_host.h"
#include "support.h"

using winsim::Machine;
using Texts = std::vector<std::string>;

namespace {

const UINT kProgress = WM_USER + 7;
const char* kPrefix = "USB\\VID_7A3C&";
const char* kLogger = "USB\\VID_7A3C&PID_0001";

// Removal runs in the 32-bit install: on 32-bit Windows the device installer lets it remove.
Machine X86Machine() {
  Machine m;
  m.nativeArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
  return m;
}

struct Outcome {
  bool result = false;
  Texts texts;
  int openSets = -1;
};

// Runs the removal on the machine, reporting to a recording window or to none.
Outcome Remove(Machine& m, bool window = true, const char* prefix = kPrefix, const char* enumerator = "USB") {
  winsim::Session s(m);
  HWND w = window ? test::RecorderWindow(kProgress) : nullptr;
  Outcome o;
  o.result = UninstallDevices(enumerator, prefix, w, kProgress);
  o.texts = window ? test::RecordedTexts() : Texts{};
  o.openSets = s.OpenDeviceInfoSets();
  return o;
}

Texts Closing(const std::string& count) { return {"Successfull uninstalled " + count + " devices", "Ok"}; }

Texts Join(std::initializer_list<Texts> parts) {
  Texts out;
  for (const Texts& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const Texts kSearching = {"Searching for devices..."};
const Texts kDeviceSteps = {"Removing registry keys", "Removing device from system"};

// The names passed to SetupUninstallOEMInfA, in order.
Texts Uninstalled(const Machine& m) {
  Texts out;
  for (const auto& c : m.Calls("SetupUninstallOEMInfA")) out.push_back(c.args["InfFileName"]);
  return out;
}

// The device node numbers that a call was made for, in order.
std::vector<DWORD> DevicesOf(const Machine& m, const std::string& fn) {
  std::vector<DWORD> out;
  for (const auto& c : m.Calls(fn)) out.push_back(c.args["DevInst"]);
  return out;
}

// A vendor device whose own driver entry names an INF.
winsim::Device& VendorDevice(Machine& m, const std::string& instance, const std::string& description,
                             const std::string& infPath, bool present = true) {
  winsim::Device& d = m.AddDevice(instance, {kLogger}, present);
  d.drivers.push_back({description, infPath, {kLogger}});
  return d;
}

}  // namespace

TEST(UninstallDevices, NoMatchingDevice) {
  Machine m = X86Machine();
  winsim::Device& other = m.AddDevice("USB\\VID_1234&PID_0001\\1", {"USB\\VID_1234&PID_0001"});
  other.drivers.push_back({"Other Device", "C:\\Windows\\INF\\oem9.inf", {"USB\\VID_1234&PID_0001"}});
  Outcome o = Remove(m);
  EXPECT_TRUE(o.result);
  EXPECT_EQ(o.texts, Join({kSearching, {"No installed devices or drivers found", "Ok"}}));
  EXPECT_TRUE(Uninstalled(m).empty());
  EXPECT_TRUE(m.Calls("SetupDiBuildDriverInfoList").empty());
  EXPECT_TRUE(m.Calls("SetupDiDeleteDevRegKey").empty());
  EXPECT_TRUE(m.Calls("SetupDiRemoveDevice").empty());
  EXPECT_EQ(o.openSets, 0);
}

TEST(UninstallDevices, DeviceWithoutDriverTexts) {
  for (bool buildFails : {false, true}) {
    Machine m = X86Machine();
    m.AddDevice("USB\\VID_7A3C&PID_0001\\1", {kLogger});
    if (buildFails) m.Fail("SetupDiBuildDriverInfoList", ERROR_INVALID_PARAMETER);
    Outcome o = Remove(m);
    EXPECT_TRUE(o.result) << buildFails;
    // The plural stays for one device.
    EXPECT_EQ(o.texts, Join({kSearching, kDeviceSteps, Closing("1")})) << buildFails;
    EXPECT_TRUE(m.devices.empty()) << buildFails;
    EXPECT_EQ(m.Calls("SetupDiDestroyDriverInfoList").size(), buildFails ? 0u : 1u);
    EXPECT_TRUE(Uninstalled(m).empty());
  }
}

TEST(UninstallDevices, PrefixComparedAsTextIgnoringCase) {
  struct Row {
    const char* instance;
    const char* prefix;
    bool removed;
  } rows[] = {
      {"USB\\VID_7A3C&PID_0001\\1", kPrefix, true},
      {"usb\\vid_7a3c&pid_0001\\1", kPrefix, true},
      {"USB\\VID_7A3C&PID_0001\\1", "usb\\Vid_7a3C&", true},
      {"USB\\VID_7A3C", kPrefix, false},  // a proper beginning of the prefix
      {"USB\\VID_7A3C_PID_0001\\1", kPrefix, false},
      {"USB\\VID_7A3D&PID_0001\\1", kPrefix, false},
      {"USB\\VID_\xC3\xA9T&1", "USB\\VID_\xC9", true},  // "é" against "É" of the ANSI code page
  };
  for (const Row& r : rows) {
    Machine m = X86Machine();
    m.AddDevice(r.instance, {kLogger});
    Outcome o = Remove(m, true, r.prefix);
    EXPECT_TRUE(o.result) << r.instance;
    EXPECT_EQ(m.devices.empty(), r.removed) << r.instance << " / " << r.prefix;
    EXPECT_EQ(o.texts.size(), r.removed ? 5u : 3u) << r.instance;
  }
}

TEST(UninstallDevices, EveryVendorDeviceGoesAndNothingElse) {
  Machine m = X86Machine();
  m.AddDevice("USB\\VID_1234&PID_0001\\1", {"USB\\VID_1234&PID_0001"});
  m.AddDevice("USB\\VID_7A3C&PID_0001\\2", {kLogger});
  m.AddDevice("USB\\VID_7A3C&PID_0002\\3", {"USB\\VID_7A3C&PID_0002"}, false);  // not plugged in
  m.AddDevice("usb\\vid_7a3c&pid_0010&mi_00\\4", {"USB\\VID_7A3C&PID_0010&MI_00"});
  winsim::Device& other = m.AddDevice("USB\\VID_4321&PID_0007\\5", {"USB\\VID_4321&PID_0007"}, false);
  other.drivers.push_back({"Other Device", "C:\\Windows\\INF\\oem9.inf", {"USB\\VID_4321&PID_0007"}});
  m.AddDevice("PCI\\VEN_7A3C&DEV_0001\\6", {"PCI\\VEN_7A3C&DEV_0001"});
  m.AddStoredInf("oem9.inf", "[Manufacturer]\nOther=Models\n[Models]\nOther Device=Install,USB\\VID_4321&PID_0007\n");
  const std::vector<DWORD> vendor = {2, 3, 4};
  // Whatever enumerator is named, the USB devices are walked.
  Outcome o = Remove(m, true, kPrefix, "PCI");
  EXPECT_TRUE(o.result);
  EXPECT_EQ(o.texts, Join({kSearching, kDeviceSteps, kDeviceSteps, kDeviceSteps, Closing("3")}));
  ASSERT_EQ(m.devices.size(), 3u);
  for (const winsim::Device& d : m.devices) {
    EXPECT_EQ(d.instanceId.find("7A3C&PID"), std::string::npos) << d.instanceId;
    EXPECT_TRUE(d.hardwareKey && d.softwareKey) << d.instanceId;
  }
  EXPECT_EQ(DevicesOf(m, "SetupDiBuildDriverInfoList"), vendor);
  EXPECT_EQ(DevicesOf(m, "SetupDiDeleteDevRegKey"), vendor);
  EXPECT_EQ(DevicesOf(m, "SetupDiRemoveDevice"), vendor);
  EXPECT_TRUE(Uninstalled(m).empty());
  EXPECT_NE(m.FindStoredInf("oem9.inf"), nullptr);
  ASSERT_EQ(m.Calls("SetupDiGetClassDevsA").size(), 1u);
  EXPECT_EQ(m.Calls("SetupDiGetClassDevsA")[0].args,
            (winsim::json{{"ClassGuid", false}, {"Enumerator", "USB"}, {"hwndParent", 0}, {"Flags", DIGCF_ALLCLASSES}}));
  for (const auto& c : m.Calls("SetupDiDeleteDevRegKey")) {
    EXPECT_EQ(c.args["Scope"], DICS_FLAG_GLOBAL);
    EXPECT_EQ(c.args["HwProfile"], 0xFFFFFFFFu);
    EXPECT_EQ(c.args["KeyType"], DIREG_BOTH);
  }
  EXPECT_EQ(o.openSets, 0);
}

TEST(UninstallDevices, DriverTextsAndInfNamesInOrder) {
  Machine m = X86Machine();
  winsim::Device& d = VendorDevice(m, "USB\\VID_7A3C&PID_0001\\1", "VELTO Logger (legacy)", "C:\\Windows\\INF\\oem5.inf");
  d.drivers.push_back({"", "C:oem6.inf", {kLogger}});  // no description, a drive-relative path
  m.AddStoredInf("oem7.inf", test::SampleInf());
  Outcome o = Remove(m);
  EXPECT_TRUE(o.result);
  EXPECT_EQ(o.texts, Join({kSearching,
                           {"Removing VELTO Logger (legacy)", "Removing ", "Removing VELTO Data Logger"},
                           kDeviceSteps,
                           {"Uninstalling drivers"},
                           Closing("1")}));
  EXPECT_EQ(Uninstalled(m), (Texts{"oem5.inf", "oem6.inf", "oem7.inf"}));
  for (const auto& c : m.Calls("SetupUninstallOEMInfA")) {
    EXPECT_EQ(c.args["Flags"], SUOI_FORCEDELETE);
    EXPECT_EQ(c.args["Reserved"], false);
  }
  EXPECT_EQ(m.FindStoredInf("oem7.inf"), nullptr);
  // Each "Removing " text comes once the driver's detail has shown its package to be the vendor's;
  // the list goes after the walk.
  Texts order;
  for (const std::string& fn : m.CallNames())
    if (fn == "SendMessageW" || fn == "SetupDiGetDriverInfoDetailA" || fn == "SetupDiDestroyDriverInfoList" ||
        fn == "SetupDiDeleteDevRegKey")
      order.push_back(fn);
  Texts perDriver = {"SetupDiGetDriverInfoDetailA", "SetupDiGetDriverInfoDetailA", "SendMessageW"};
  EXPECT_EQ(order, Join({{"SendMessageW"}, perDriver, perDriver, perDriver,
                         {"SetupDiDestroyDriverInfoList", "SendMessageW", "SetupDiDeleteDevRegKey", "SendMessageW",
                          "SendMessageW", "SendMessageW", "SendMessageW"}}));
  EXPECT_EQ(o.openSets, 0);
}

// The separator characters, not bytes: in code page 932 the trail byte of 表 (0x95 0x5C) or
// ソ (0x83 0x5C) is the byte of "\".
TEST(UninstallDevices, InfNameIsWhatFollowsTheLastSeparator) {
  struct Row {
    UINT cp;
    const char* path;
    const char* name;
  } rows[] = {
      {1252, "C:\\Windows\\INF\\oem5.inf", "oem5.inf"},
      {1252, "oem5.inf", "oem5.inf"},
      {1252, "C:oem5.inf", "oem5.inf"},
      {1252, "\\\\server\\share:drivers\\velto.inf", "velto.inf"},
      {1252, "C:\\Windows\\INF\\pilote \xC3\xA9t\xC3\xA9.inf", "pilote \xC3\xA9t\xC3\xA9.inf"},
      {932, "C:\\Windows\\INF\\oem5.inf", "oem5.inf"},
      {932, "C:\\Windows\\INF\\\xE8\xA1\xA8.inf", "\xE8\xA1\xA8.inf"},                        // 表.inf
      {932, "C:\\\xE3\x83\x89\\velto\xE3\x82\xBD.inf", "velto\xE3\x82\xBD.inf"},              // C:\ド\veltoソ.inf
  };
  for (const Row& r : rows) {
    Machine m = X86Machine();
    m.ansiCodePage = r.cp;
    VendorDevice(m, "USB\\VID_7A3C&PID_0001\\1", "VELTO", r.path);
    Remove(m);
    EXPECT_EQ(Uninstalled(m), Texts{r.name}) << r.path;
  }
}

TEST(UninstallDevices, InfNamedTwiceIsUninstalledTwice) {
  Machine m = X86Machine();
  m.AddDevice("USB\\VID_7A3C&PID_0001\\1", {kLogger});
  m.AddDevice("USB\\VID_7A3C&PID_0001\\2", {kLogger}, false);
  m.AddStoredInf("oem3.inf", test::SampleInf());
  Outcome o = Remove(m);
  // The second uninstall finds the package gone; that changes nothing.
  EXPECT_TRUE(o.result);
  EXPECT_EQ(Uninstalled(m), (Texts{"oem3.inf", "oem3.inf"}));
  EXPECT_EQ(o.texts.back(), "Ok");
  EXPECT_EQ(o.texts[o.texts.size() - 2], "Successfull uninstalled 2 devices");
  EXPECT_TRUE(m.driverStore.empty());
}

// A detail that Windows does not give may be the vendor's package: the run fails with the call's
// own error (a failure that names none: error 1); the device goes all the same.
TEST(UninstallDevices, DetailReadThroughTheSecondCall) {
  const DWORD record = sizeof(SP_DRVINFO_DETAIL_DATA_A);
  const DWORD required = DWORD(offsetof(SP_DRVINFO_DETAIL_DATA_A, HardwareID) + std::strlen(kLogger) + 2);
  struct Row {
    const char* what;
    std::vector<winsim::Rule> rules;
    std::vector<DWORD> sizes;  // of the detail calls made
    const char* failure;       // the run's line when the detail was not read; null: read and named
  } rows[] = {
      {"larger than the record", {}, {record, required}, nullptr},
      // With no size named, the retry is at the record's size, and there is no third call.
      {"refused without a size", {{"SetupDiGetDriverInfoDetailA", "", 1, false, ERROR_INSUFFICIENT_BUFFER}},
       {record, record}, "Unable to check driver, error 0x7A"},
      {"second call fails", {{"SetupDiGetDriverInfoDetailA", "", 2, false, ERROR_INVALID_DATA}},
       {record, required}, "Unable to check driver, error 0xD"},
      {"other failure, no retry", {{"SetupDiGetDriverInfoDetailA", "", 1, false, ERROR_INVALID_PARAMETER}},
       {record}, "Unable to check driver, error 0x57"},
      {"failure naming no error", {{"SetupDiGetDriverInfoDetailA", "", 1, false, 0}}, {record},
       "Unable to check driver, error 0x1"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Machine m = X86Machine();
    VendorDevice(m, "USB\\VID_7A3C&PID_0001\\1", "VELTO Data Logger", "C:\\Windows\\INF\\oem4.inf");
    m.rules = r.rules;
    Outcome o = Remove(m);
    std::vector<DWORD> sizes;
    for (const auto& c : m.Calls("SetupDiGetDriverInfoDetailA")) {
      sizes.push_back(c.args["DriverInfoDetailDataSize"]);
      EXPECT_EQ(c.args["cbSize"], record);  // the record's size, not the buffer's
    }
    EXPECT_EQ(sizes, r.sizes);
    const bool named = !r.failure;
    EXPECT_EQ(Uninstalled(m), named ? Texts{"oem4.inf"} : Texts{});
    EXPECT_EQ(o.texts, Join({kSearching, named ? Texts{"Removing VELTO Data Logger"} : Texts{r.failure}, kDeviceSteps,
                             named ? Texts{"Uninstalling drivers"} : Texts{}, Closing("1")}));
    EXPECT_EQ(o.result, named);
    EXPECT_TRUE(m.devices.empty());
    EXPECT_EQ(o.openSets, 0);
  }
}

// A failure that names no error (GetLastError 0) is still a failure: error 1, as the install calls
// report it.
TEST(UninstallDevices, FailedRemovalIsCountedAndReported) {
  struct Row {
    DWORD error;
    const char* text;
  } rows[] = {{ERROR_ACCESS_DENIED, "Unable to remove device, error 0x5"}, {0, "Unable to remove device, error 0x1"}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    Machine m = X86Machine();
    m.AddDevice("USB\\VID_7A3C&PID_0001\\1", {kLogger});
    m.AddDevice("USB\\VID_7A3C&PID_0001\\2", {kLogger});
    m.Fail("SetupDiRemoveDevice", r.error, 1);
    m.Fail("SetupDiDeleteDevRegKey", ERROR_ACCESS_DENIED);  // ignored
    Outcome o = Remove(m);
    EXPECT_FALSE(o.result);
    EXPECT_EQ(o.texts, Join({kSearching, kDeviceSteps, {r.text}, kDeviceSteps, Closing("2")}));
    ASSERT_EQ(m.devices.size(), 1u);
    EXPECT_EQ(m.devices[0].instanceId, "USB\\VID_7A3C&PID_0001\\1");
  }
}

TEST(UninstallDevices, UnreadableInstanceIdSkipsTheDevice) {
  Machine m = X86Machine();
  m.AddDevice("USB\\VID_7A3C&PID_0001\\1", {kLogger});
  m.AddDevice("USB\\VID_7A3C&PID_0001\\2", {kLogger});
  m.Fail("SetupDiGetDeviceInstanceIdA", ERROR_INSUFFICIENT_BUFFER, 1);
  Outcome o = Remove(m);
  EXPECT_TRUE(o.result);
  EXPECT_EQ(o.texts, Join({kSearching, kDeviceSteps, Closing("1")}));
  EXPECT_EQ(DevicesOf(m, "SetupDiRemoveDevice"), std::vector<DWORD>{2});
  EXPECT_EQ(m.Calls("SetupDiGetDeviceInstanceIdA")[0].args["DeviceInstanceIdSize"], 200);
}

// No device set: a refused allocation fails the run; any other error is the answer of a machine
// whose USB enumerator has no device, which has nothing to remove.
TEST(UninstallDevices, DeviceListNotAvailable) {
  struct Row {
    const char* what;
    DWORD error;
    const char* failure;  // the run's line; null: no device
  } rows[] = {
      {"not enough memory", ERROR_NOT_ENOUGH_MEMORY, "Unable to get device list, error 0x8"},
      {"out of memory", ERROR_OUTOFMEMORY, "Unable to get device list, error 0xE"},
      {"no such enumerator", ERROR_INVALID_DATA, nullptr},
      {"invalid parameter", ERROR_INVALID_PARAMETER, nullptr},
      {"access denied", ERROR_ACCESS_DENIED, nullptr},
      {"invalid handle", ERROR_INVALID_HANDLE, nullptr},
      {"no error named", 0, nullptr},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Machine m = X86Machine();
    m.AddDevice("USB\\VID_7A3C&PID_0001\\1", {kLogger});
    m.AddStoredInf("oem3.inf", test::SampleInf());
    m.Fail("SetupDiGetClassDevsA", r.error);
    Outcome o = Remove(m);
    EXPECT_EQ(o.result, !r.failure);
    EXPECT_EQ(o.texts, Join({kSearching, {r.failure ? r.failure : "No installed devices or drivers found", "Ok"}}));
    EXPECT_TRUE(m.Calls("SetupDiEnumDeviceInfo").empty());
    EXPECT_TRUE(m.Calls("SetupDiDestroyDeviceInfoList").empty());
    EXPECT_TRUE(Uninstalled(m).empty());
    EXPECT_EQ(m.devices.size(), 1u);
    EXPECT_NE(m.FindStoredInf("oem3.inf"), nullptr);
    EXPECT_EQ(o.openSets, 0);
  }
}

TEST(UninstallDevices, WithoutWindowTheStepsAreTheSame) {
  Machine base = X86Machine();
  VendorDevice(base, "USB\\VID_7A3C&PID_0001\\1", "VELTO", "C:\\Windows\\INF\\oem5.inf");
  base.AddDevice("USB\\VID_7A3C&PID_0002\\2", {"USB\\VID_7A3C&PID_0002"}, false);
  base.AddStoredInf("oem7.inf", test::SampleInf());
  Machine withWindow = base, silent = base;
  Outcome shown = Remove(withWindow, true);
  Outcome quiet = Remove(silent, false);
  EXPECT_TRUE(quiet.result);
  EXPECT_TRUE(quiet.texts.empty());
  EXPECT_TRUE(silent.Calls("SendMessageW").empty());
  EXPECT_TRUE(silent.devices.empty());
  Texts expected;
  for (const std::string& fn : withWindow.CallNames())
    if (fn != "SendMessageW" && fn != "RegisterClassW" && fn != "CreateWindowExW") expected.push_back(fn);
  EXPECT_EQ(silent.CallNames(), expected);
  EXPECT_EQ(Uninstalled(silent), Uninstalled(withWindow));
}

namespace {

// An instance ID that cannot be compared may be the vendor's: the device stays, the run says so
// with the error of the failure itself (a refused heap block: ERROR_NOT_ENOUGH_MEMORY) and fails,
// and its closing text does not claim that there was no device.
TEST(UninstallDevices, DeviceThatCannotBeCheckedFailsTheRun) {
  struct Row {
    const char* fn;  // null: the heap refuses the comparison's first block
    DWORD error;
    const char* line;
  } rows[] = {
      {"CompareStringW", ERROR_INVALID_PARAMETER, "Unable to check device, error 0x57"},
      {"MultiByteToWideChar", DWORD(1113) /* ERROR_NO_UNICODE_TRANSLATION */, "Unable to check device, error 0x459"},
      {nullptr, 0, "Unable to check device, error 0x8"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fn ? row.fn : "heap");
    Machine m = X86Machine();
    m.AddDevice("USB\\VID_7A3C&PID_0001\\1", {kLogger});
    if (row.fn) m.Fail(row.fn, row.error, 1);
    if (!row.fn) HostHeap::Refuse(1);
    Outcome o = Remove(m);
    HostHeap::Allow();
    EXPECT_FALSE(o.result);
    EXPECT_EQ(o.texts, Join({kSearching, {row.line}, {"Ok"}}));
    EXPECT_EQ(m.devices.size(), 1u);
    EXPECT_EQ(o.openSets, 0);
  }
}

}  // namespace

// A package goes only when the driver's own hardware ID (the first of its detail's list) is the
// vendor's, in any letter case: another maker's package or a class driver that the device
// matches only through a compatible ID stays, and has no "Removing " text.
TEST(UninstallDevices, OnlyTheVendorsPackagesGo) {
  Machine m = X86Machine();
  winsim::Device& d = m.AddDevice("USB\\VID_7A3C&PID_0001\\1", {kLogger});
  d.compatibleIds = {"USB\\Class_FF", "USB\\COMPOSITE"};
  d.drivers.push_back({"Generic class driver", "C:\\Windows\\INF\\oem11.inf", {"USB\\Class_FF"}});
  d.drivers.push_back({"Driver without IDs", "C:\\Windows\\INF\\oem12.inf", {}});
  m.AddStoredInf("oem3.inf", test::SampleInf());
  m.AddStoredInf("oem8.inf", "[Manufacturer]\nGeneric=Models\n[Models]\nGeneric Device=Install,USB\\Class_FF\n");
  m.AddStoredInf("oem9.inf", "[Manufacturer]\nOther=Models\n[Models]\n"
                             "Other Gadget=Install,USB\\VID_1234&PID_0001,USB\\COMPOSITE\n");
  // The vendor's own package, which the device matches through a compatible ID.
  m.AddStoredInf("oem10.inf", "[Manufacturer]\nV=Models\n[Models]\n"
                              "VELTO Hub=Install,usb\\vid_7a3c&pid_0009,USB\\Class_FF\n");
  Outcome o = Remove(m);
  EXPECT_TRUE(o.result);
  EXPECT_EQ(Uninstalled(m), (Texts{"oem3.inf", "oem10.inf"}));
  EXPECT_EQ(o.texts, Join({kSearching, {"Removing VELTO Data Logger", "Removing VELTO Hub"}, kDeviceSteps,
                           {"Uninstalling drivers"}, Closing("1")}));
  Texts store;
  for (const winsim::StoredInf& s : m.driverStore) store.push_back(s.publishedName);
  EXPECT_EQ(store, (Texts{"oem8.inf", "oem9.inf"}));
}

// Whichever heap block is refused (a detail block, or a block of a comparison, of the INF name or
// of its list entry), a vendor's device or package that stays fails the run, with a line that says
// why (ERROR_NOT_ENOUGH_MEMORY).
TEST(UninstallDevices, PackageThatCannotBeGatheredFailsTheRun) {
  auto build = [] {
    Machine m = X86Machine();
    m.AddDevice("USB\\VID_7A3C&PID_0001\\1", {kLogger});
    m.AddStoredInf("oem3.inf", test::SampleInf());
    return m;
  };
  struct Refusal {
    std::string what;
    int heapAlloc;  // HeapAlloc refused (its nth call), or 0
    size_t block;   // the nth block of the texts refused, or 0
  };
  std::vector<Refusal> refusals = {{"first detail block", 1, 0}, {"second detail block", 2, 0}};
  Machine clean = build();
  HostHeap::Allow();
  ASSERT_TRUE(Remove(clean).result);
  const size_t blocks = HostHeap::Requests();
  ASSERT_GT(blocks, 0u);
  for (size_t nth = 1; nth <= blocks; ++nth) refusals.push_back({"text block " + std::to_string(nth), 0, nth});
  std::set<std::string> reports;
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.what);
    Machine m = build();
    if (r.heapAlloc) m.Fail("HeapAlloc", ERROR_NOT_ENOUGH_MEMORY, r.heapAlloc);
    if (r.block) HostHeap::Refuse(r.block);
    Outcome o = Remove(m);
    HostHeap::Allow();
    // The device and the package gone, or the run failed.
    EXPECT_TRUE((m.devices.empty() && m.FindStoredInf("oem3.inf") == nullptr) || !o.result);
    for (const std::string& t : o.texts)
      if (t.rfind("Unable to ", 0) == 0) reports.insert(t);
  }
  EXPECT_EQ(reports, (std::set<std::string>{"Unable to check device, error 0x8", "Unable to check driver, error 0x8",
                                            "Unable to remove driver, error 0x8"}));
}
