// The device search and the reinstall marking on simulated device trees.
#include "driverinstall/DriverInstall.h"
#include "support.h"

namespace {

const char* const Id = "USB\\VID_7A3C&PID_0001";

struct Found {
  DWORD result = 0;
  bool set = false;                   // a found set came back
  std::vector<std::string> devices;   // its devices' instance IDs
  int openSets = -1;                  // sets left open once the found set is destroyed
};

Found Search(winsim::Machine& m, const char* hardwareId, bool notPresentOnly) {
  winsim::Session s(m);
  BindSystemEntries();
  Found f;
  HDEVINFO set = HDEVINFO(uintptr_t(1));  // neither a set nor "none": FindDevices must write it
  f.result = FindDevices("USB", hardwareId, notPresentOnly, set);
  EXPECT_NE(set, HDEVINFO(uintptr_t(1)));
  if (set != INVALID_HANDLE_VALUE && set != HDEVINFO(uintptr_t(1))) {
    f.set = true;
    SP_DEVINFO_DATA dev;
    dev.cbSize = sizeof(dev);
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &dev); ++i) {
      char id[256];
      EXPECT_TRUE(SetupDiGetDeviceInstanceIdA(set, &dev, id, sizeof(id), nullptr));
      f.devices.push_back(id);
    }
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
  }
  f.openSets = s.OpenDeviceInfoSets();
  return f;
}

// The member indexes that the search enumerated, in order.
std::vector<DWORD> EnumeratedIndexes(const winsim::Machine& m) {
  std::vector<DWORD> out;
  for (const auto& c : m.Calls("SetupDiEnumDeviceInfo")) out.push_back(c.args["MemberIndex"].get<DWORD>());
  return out;
}

void AddRaw(winsim::Machine& m, const std::string& instanceId, const std::string& data, bool present,
            DWORD type = REG_MULTI_SZ) {
  winsim::Device& d = m.AddDevice(instanceId, {}, present);
  d.hardwareIdData = data;
  d.hardwareIdType = type;
}

}  // namespace

// Whole-string comparison without regard to case, hardware IDs only, absent devices only (or all
// of them), each device once.
TEST(DeviceSearch, SelectsTheDevicesThatCarryTheHardwareId) {
  winsim::Machine m;
  m.AddDevice("USB\\VID_7A3C&PID_0001\\A", {"USB\\VID_7A3C&PID_0001&REV_0100", Id}, false);
  m.AddDevice("USB\\VID_7A3C&PID_0001\\LONGER", {"USB\\VID_7A3C&PID_0001&REV_0100"}, false);
  m.AddDevice("USB\\VID_7A3C&PID_000\\SHORTER", {"USB\\VID_7A3C&PID_000"}, false);
  m.AddDevice("USB\\VID_7A3C&PID_0001\\CASE", {"usb\\vid_7a3c&pid_0001"}, false);
  m.AddDevice("USB\\VID_0000&PID_0000\\COMPAT", {"USB\\Class_FF"}, false).compatibleIds = {Id};
  m.AddDevice("USB\\VID_7A3C&PID_0001\\PRESENT", {Id}, true);
  m.AddDevice("USB\\VID_7A3C&PID_0001\\TWICE", {Id, "USB\\VID_7A3C&PID_0001&REV_0100", Id}, false);
  m.AddDevice("USB\\VID_7A3C&PID_0001\\NOIDS", {}, false);
  m.AddDevice("PCI\\VEN_7A3C\\OTHERENUM", {Id}, false);
  m.AddDevice("USB\\VID_7A3C&PID_0001\\SZ", {Id}, false).hardwareIdType = REG_SZ;

  struct Case {
    bool notPresentOnly;
    std::vector<std::string> expected;
  } cases[] = {
      {true, {"USB\\VID_7A3C&PID_0001\\A", "USB\\VID_7A3C&PID_0001\\CASE", "USB\\VID_7A3C&PID_0001\\TWICE"}},
      {false,
       {"USB\\VID_7A3C&PID_0001\\A", "USB\\VID_7A3C&PID_0001\\CASE", "USB\\VID_7A3C&PID_0001\\PRESENT",
        "USB\\VID_7A3C&PID_0001\\TWICE"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.notPresentOnly ? "not present only" : "all");
    winsim::Machine run = m;
    Found f = Search(run, Id, c.notPresentOnly);
    EXPECT_EQ(f.result, 0u);
    EXPECT_TRUE(f.set);
    EXPECT_EQ(f.devices, c.expected);
    EXPECT_EQ(f.openSets, 0);
    // One addition per selected device: a list that names the ID twice adds its device once.
    EXPECT_EQ(run.Calls("SetupDiOpenDeviceInfoA").size(), c.expected.size());
    EXPECT_EQ(run.Calls("SetupDiCreateDeviceInfoList").size(), 1u);
  }
}

TEST(DeviceSearch, NothingSelectedOrNoEnumerationSetGivesNoSet) {
  struct Case {
    const char* name;
    bool enumerationFails;
  } cases[] = {{"no matching device", false}, {"SetupDiGetClassDevsA fails", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    winsim::Machine m;
    m.AddDevice("USB\\VID_7A3C&PID_0002\\1", {"USB\\VID_7A3C&PID_0002"}, false);
    m.AddDevice("USB\\VID_7A3C&PID_0001\\1", {Id}, true);
    if (c.enumerationFails) m.Fail("SetupDiGetClassDevsA", ERROR_ACCESS_DENIED);
    Found f = Search(m, Id, true);
    EXPECT_EQ(f.result, 0u);
    EXPECT_FALSE(f.set);
    EXPECT_EQ(f.openSets, 0);
    EXPECT_TRUE(m.Calls("SetupDiCreateDeviceInfoList").empty());
  }
  // The enumeration set was built for all classes, present or not, of the enumerator.
  winsim::Machine m;
  Search(m, Id, true);
  ASSERT_EQ(m.Calls("SetupDiGetClassDevsA").size(), 1u);
  auto args = m.Calls("SetupDiGetClassDevsA")[0].args;
  EXPECT_EQ(args["Enumerator"], "USB");
  EXPECT_EQ(args["Flags"], DIGCF_ALLCLASSES);
  EXPECT_EQ(args["ClassGuid"], false);
}

// The shared buffer starts empty: the first device with hardware IDs is read again at the size
// asked for; the buffer grows only for a longer list, and to exactly its size.
TEST(DeviceSearch, PropertyBufferGrowsToTheRequiredSize) {
  winsim::Machine m;
  m.AddDevice("USB\\NOIDS\\1", {}, false);
  m.AddDevice("USB\\VID_7A3C&PID_0001\\1", {Id}, false);
  m.AddDevice("USB\\VID_7A3C&PID_0001\\2", {"USB\\VID_7A3C&PID_0001&REV_0100&MI_00", "USB\\Class_FF", Id}, false);
  m.AddDevice("USB\\VID_7A3C&PID_0002\\1", {"USB\\VID_7A3C&PID_0002"}, false);
  const DWORD small = DWORD(std::string(Id).size() + 2);
  const DWORD large = DWORD(std::string("USB\\VID_7A3C&PID_0001&REV_0100&MI_00").size() + 1 +
                            std::string("USB\\Class_FF").size() + 1 + std::string(Id).size() + 1 + 1);

  Found f = Search(m, Id, true);
  EXPECT_EQ(f.result, 0u);
  EXPECT_EQ(f.devices, (std::vector<std::string>{"USB\\VID_7A3C&PID_0001\\1", "USB\\VID_7A3C&PID_0001\\2"}));
  // Member 1 and member 2 are each fetched twice; the search then ends at member 4. The enumeration
  // of the found set by the test follows.
  std::vector<DWORD> indexes = EnumeratedIndexes(m);
  ASSERT_GE(indexes.size(), 7u);
  EXPECT_EQ(std::vector<DWORD>(indexes.begin(), indexes.begin() + 7), (std::vector<DWORD>{0, 1, 1, 2, 2, 3, 4}));
  std::vector<DWORD> sizes;
  for (const auto& c : m.Calls("SetupDiGetDeviceRegistryPropertyA")) {
    EXPECT_EQ(c.args["Property"], SPDRP_HARDWAREID);
    EXPECT_EQ(c.args["RequiredSize"], true);
    sizes.push_back(c.args["PropertyBufferSize"].get<DWORD>());
  }
  EXPECT_EQ(sizes, (std::vector<DWORD>{0, 0, small, small, large, large}));
  std::vector<size_t> allocations;
  for (const auto& c : m.Calls("HeapAlloc")) allocations.push_back(c.args["dwBytes"].get<size_t>());
  EXPECT_EQ(allocations, (std::vector<size_t>{small, large}));
  EXPECT_EQ(m.Calls("HeapFree").size(), 2u);
}

// A platform that answers ERROR_INSUFFICIENT_BUFFER without asking for more room: each device is
// skipped once, and the search ends.
TEST(DeviceSearch, InsufficientBufferWithoutALargerSizeSkipsTheDevice) {
  winsim::Machine m;
  m.AddDevice("USB\\VID_7A3C&PID_0001\\1", {Id}, false);
  m.AddDevice("USB\\VID_7A3C&PID_0001\\2", {Id}, false);
  m.Fail("SetupDiGetDeviceRegistryPropertyA", ERROR_INSUFFICIENT_BUFFER);
  Found f = Search(m, Id, true);
  EXPECT_EQ(f.result, 0u);
  EXPECT_FALSE(f.set);
  EXPECT_EQ(f.openSets, 0);
  EXPECT_EQ(m.Calls("SetupDiGetDeviceRegistryPropertyA").size(), 2u);
  EXPECT_EQ(EnumeratedIndexes(m), (std::vector<DWORD>{0, 1, 2}));
}

// The walk ends with the data that Windows returned, also when the list lacks its final empty
// string or its last string lacks the NUL: what follows in the shared buffer belongs to an
// earlier device (here a present one that names the ID), and a block of exactly the required
// size has nothing after the data at all.
TEST(DeviceSearch, HardwareIdWalkStaysWithinTheReturnedData) {
  const std::string id = Id;
  const std::string other = "USB\\VID_7A3C&PID_0002";
  const std::string earlier = other + '\0' + id + '\0' + '\0';
  struct Case {
    const char* name;
    bool earlierDevice;
    std::string data;
    bool selected;
  } cases[] = {
      {"string without NUL after a longer list", true, other, false},
      {"list without its empty string after a longer list", true, other + '\0', false},
      {"matching string without NUL after a longer list", true, id, true},
      {"matching list without its empty string", true, id + '\0', true},
      {"matching string without NUL in an exact block", false, id, true},
      {"other string without NUL in an exact block", false, other, false},
      {"matching last string without NUL", false, other + '\0' + id, true},
      {"data after the list's empty string", false, other + '\0' + '\0' + id + '\0' + '\0', false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    winsim::Machine m;
    if (c.earlierDevice) AddRaw(m, "USB\\VID_7A3C&PID_0002\\EARLIER", earlier, true);
    AddRaw(m, "USB\\VID_7A3C&PID_0001\\RAW", c.data, false);
    Found f = Search(m, Id, true);
    EXPECT_EQ(f.result, 0u);
    EXPECT_EQ(f.devices, c.selected ? std::vector<std::string>{"USB\\VID_7A3C&PID_0001\\RAW"}
                                    : std::vector<std::string>{});
    EXPECT_EQ(f.openSets, 0);
  }
}

// Each failing call stops the search at once; the found set built so far is destroyed.
TEST(DeviceSearch, FailuresStopTheSearchAndDestroyTheFoundSet) {
  struct Case {
    const char* fn;
    int nth;
    DWORD error;
    DWORD expected;
    DWORD lastIndex;  // the last member enumerated
  } cases[] = {
      {"SetupDiCreateDeviceInfoList", 1, ERROR_NOT_ENOUGH_MEMORY, ERROR_NOT_ENOUGH_MEMORY, 0},
      {"SetupDiGetDeviceInstanceIdA", 2, ERROR_INVALID_PARAMETER, ERROR_INVALID_PARAMETER, 1},
      {"SetupDiOpenDeviceInfoA", 2, ERROR_NO_SUCH_DEVINST, ERROR_NO_SUCH_DEVINST, 1},
      {"SetupDiOpenDeviceInfoA", 1, 0, ERROR_INVALID_FUNCTION, 0},  // a failure that names no error
      {"HeapAlloc", 1, 0, ERROR_NOT_ENOUGH_MEMORY, 0},
      {"HeapAlloc", 2, 0, ERROR_NOT_ENOUGH_MEMORY, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.fn) + " #" + std::to_string(c.nth));
    winsim::Machine m;
    m.AddDevice("USB\\VID_7A3C&PID_0001\\1", {Id}, false);
    m.AddDevice("USB\\VID_7A3C&PID_0001\\2", {Id}, false);
    m.AddDevice("USB\\VID_7A3C&PID_0001\\3", {"USB\\VID_7A3C&PID_0001&REV_0100", Id}, false);
    m.AddDevice("USB\\VID_7A3C&PID_0001\\4", {Id}, false);
    m.Fail(c.fn, c.error, c.nth);
    Found f = Search(m, Id, true);
    EXPECT_EQ(f.result, c.expected);
    EXPECT_FALSE(f.set);
    EXPECT_EQ(f.openSets, 0);
    EXPECT_EQ(EnumeratedIndexes(m).back(), c.lastIndex);
  }
}

TEST(DeviceSearch, InstanceIdLongerThanTheBufferFailsTheSearch) {
  winsim::Machine m;
  m.AddDevice("USB\\VID_7A3C&PID_0001\\1", {Id}, false);
  m.AddDevice("USB\\VID_7A3C&PID_0001\\" + std::string(180, 'A'), {Id}, false);
  Found f = Search(m, Id, true);
  EXPECT_EQ(f.result, DWORD(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_FALSE(f.set);
  EXPECT_EQ(f.openSets, 0);
  for (const auto& c : m.Calls("SetupDiGetDeviceInstanceIdA")) {
    EXPECT_EQ(c.args["DeviceInstanceIdSize"], 200);
    EXPECT_EQ(c.args["RequiredSize"], false);
  }
}

// An enumeration that fails midway ends the search like its end: what was found is kept.
TEST(DeviceSearch, EnumerationFailureKeepsWhatWasFound) {
  winsim::Machine m;
  m.AddDevice("USB\\VID_7A3C&PID_0001\\1", {Id}, false);
  m.AddDevice("USB\\VID_7A3C&PID_0001\\2", {Id}, false);
  m.Fail("SetupDiEnumDeviceInfo", ERROR_INVALID_PARAMETER, 3);  // member 1, fetched after member 0's re-read
  Found f = Search(m, Id, true);
  EXPECT_EQ(f.result, 0u);
  EXPECT_EQ(f.devices, std::vector<std::string>{"USB\\VID_7A3C&PID_0001\\1"});
  EXPECT_EQ(f.openSets, 0);
}

// Absent devices with the ID get CONFIGFLAG_REINSTALL, their other flags kept; present devices and
// devices of other IDs are not touched.
TEST(ReinstallMarking, SetsTheReinstallFlagOfAbsentDevices) {
  winsim::Machine m;
  m.AddDevice("USB\\VID_7A3C&PID_0001\\KEEP", {Id}, false).configFlags = 0x400;
  m.AddDevice("USB\\VID_7A3C&PID_0001\\ALREADY", {Id}, false).configFlags = 0x20;
  m.AddDevice("USB\\VID_7A3C&PID_0001\\UNREADABLE", {Id}, false).configFlags.reset();
  winsim::Device& binary = m.AddDevice("USB\\VID_7A3C&PID_0001\\BINARY", {Id}, false);
  binary.configFlags = 0x400;
  binary.configFlagsType = REG_BINARY;
  m.AddDevice("USB\\VID_7A3C&PID_0001\\PRESENT", {Id}, true).configFlags = 0x400;
  m.AddDevice("USB\\VID_7A3C&PID_0002\\OTHER", {"USB\\VID_7A3C&PID_0002"}, false).configFlags = 0x400;
  {
    winsim::Session s(m);
    BindSystemEntries();
    EXPECT_EQ(MarkForReinstall("USB", Id), 0u);
    EXPECT_EQ(s.OpenDeviceInfoSets(), 0);
  }
  struct Expect {
    const char* device;
    DWORD flags;
  } expected[] = {
      {"USB\\VID_7A3C&PID_0001\\KEEP", 0x420},   {"USB\\VID_7A3C&PID_0001\\ALREADY", 0x20},
      {"USB\\VID_7A3C&PID_0001\\UNREADABLE", 0x20}, {"USB\\VID_7A3C&PID_0001\\BINARY", 0x20},
      {"USB\\VID_7A3C&PID_0001\\PRESENT", 0x400}, {"USB\\VID_7A3C&PID_0002\\OTHER", 0x400},
  };
  for (const Expect& e : expected) {
    SCOPED_TRACE(e.device);
    ASSERT_TRUE(m.FindDevice(e.device)->configFlags.has_value());
    EXPECT_EQ(*m.FindDevice(e.device)->configFlags, e.flags);
  }
  // Every absent device with the ID is written, the one already flagged too.
  std::vector<DWORD> written;
  for (const auto& c : m.Calls("SetupDiSetDeviceRegistryPropertyA")) {
    EXPECT_EQ(c.args["Property"], SPDRP_CONFIGFLAGS);
    EXPECT_EQ(c.args["PropertyBufferSize"], 4);
    written.push_back(c.args["value"].get<DWORD>());
  }
  EXPECT_EQ(written, (std::vector<DWORD>{0x420, 0x20, 0x20, 0x20}));
}

TEST(ReinstallMarking, FailedWriteLeavesTheOthersFlagged) {
  winsim::Machine m;
  m.AddDevice("USB\\VID_7A3C&PID_0001\\1", {Id}, false);
  m.AddDevice("USB\\VID_7A3C&PID_0001\\2", {Id}, false);
  m.Fail("SetupDiSetDeviceRegistryPropertyA", ERROR_ACCESS_DENIED, 1);
  {
    winsim::Session s(m);
    BindSystemEntries();
    EXPECT_EQ(MarkForReinstall("USB", Id), 0u);
    EXPECT_EQ(s.OpenDeviceInfoSets(), 0);
  }
  EXPECT_EQ(*m.FindDevice("USB\\VID_7A3C&PID_0001\\1")->configFlags, 0u);
  EXPECT_EQ(*m.FindDevice("USB\\VID_7A3C&PID_0001\\2")->configFlags, 0x20u);
}

// A search that fails marks nothing, not even the devices found before the failure; one that
// finds nothing marks nothing and succeeds.
TEST(ReinstallMarking, NothingMarkedWithoutAFoundSet) {
  struct Case {
    const char* name;
    const char* hardwareId;
    bool fail;
    DWORD expected;
  } cases[] = {
      {"search fails", Id, true, ERROR_NO_SUCH_DEVINST},
      {"no device", "USB\\VID_7A3C&PID_0009", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    winsim::Machine m;
    m.AddDevice("USB\\VID_7A3C&PID_0001\\1", {Id}, false);
    m.AddDevice("USB\\VID_7A3C&PID_0001\\2", {Id}, false);
    if (c.fail) m.Fail("SetupDiOpenDeviceInfoA", ERROR_NO_SUCH_DEVINST, 2);
    {
      winsim::Session s(m);
      BindSystemEntries();
      EXPECT_EQ(MarkForReinstall("USB", c.hardwareId), c.expected);
      EXPECT_EQ(s.OpenDeviceInfoSets(), 0);
    }
    EXPECT_TRUE(m.Calls("SetupDiSetDeviceRegistryPropertyA").empty());
    EXPECT_EQ(*m.FindDevice("USB\\VID_7A3C&PID_0001\\1")->configFlags, 0u);
  }
}
