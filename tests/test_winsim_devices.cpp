// winsim's setupapi and cfgmgr32 where Windows' behaviour is not obvious: which devices a set
// holds, buffer rules and required sizes, property types, handles.
#include <cstring>

#include "support.h"

namespace {

const char* const Id = "USB\\VID_7A3C&PID_0001";

winsim::Machine DeviceMachine() {
  winsim::Machine m;
  m.AddDevice("USB\\VID_7A3C&PID_0001\\PRESENT", {Id, "USB\\VID_7A3C"}, true).configFlags = 0x400;
  m.AddDevice("USB\\VID_7A3C&PID_0001\\ABSENT", {Id}, false).configFlags.reset();
  m.AddDevice("PCI\\VEN_8086&DEV_0001\\3&1", {"PCI\\VEN_8086&DEV_0001"}, true);
  m.AddDevice("USB\\ROOT_HUB\\4&1", {}, true);
  return m;
}

std::vector<std::string> Members(HDEVINFO set) {
  std::vector<std::string> out;
  SP_DEVINFO_DATA dev;
  dev.cbSize = sizeof(dev);
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &dev); ++i) {
    char id[200];
    if (SetupDiGetDeviceInstanceIdA(set, &dev, id, sizeof(id), nullptr)) out.push_back(id);
  }
  return out;
}

// The record of the set's member with that index.
SP_DEVINFO_DATA Member(HDEVINFO set, DWORD index) {
  SP_DEVINFO_DATA dev;
  dev.cbSize = sizeof(dev);
  EXPECT_TRUE(SetupDiEnumDeviceInfo(set, index, &dev));
  return dev;
}

}  // namespace

TEST(WinsimDevices, ClassDevsOfAnEnumerator) {
  struct Case {
    const char* enumerator;
    DWORD flags;
    bool classGuid;
    std::vector<std::string> members;  // empty with error: no set
    DWORD error;
  } cases[] = {
      {"USB", DIGCF_ALLCLASSES, false,
       {"USB\\VID_7A3C&PID_0001\\PRESENT", "USB\\VID_7A3C&PID_0001\\ABSENT", "USB\\ROOT_HUB\\4&1"}, 0},
      {"usb", DIGCF_ALLCLASSES | DIGCF_PRESENT, false, {"USB\\VID_7A3C&PID_0001\\PRESENT", "USB\\ROOT_HUB\\4&1"}, 0},
      {"HID", DIGCF_ALLCLASSES, false, {}, 0},  // a known enumerator without devices: an empty set
      {"NOSUCH", DIGCF_ALLCLASSES, false, {}, ERROR_INVALID_DATA},
      {"USB", 0, false, {}, ERROR_INVALID_PARAMETER},  // neither a class nor all classes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.enumerator) + " " + std::to_string(c.flags));
    winsim::Machine m = DeviceMachine();
    winsim::Session s(m);
    SetLastError(0);
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, c.enumerator, nullptr, c.flags);
    if (c.error) {
      EXPECT_EQ(set, INVALID_HANDLE_VALUE);
      EXPECT_EQ(GetLastError(), c.error);
      EXPECT_EQ(s.OpenDeviceInfoSets(), 0);
      continue;
    }
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Members(set), c.members);
    EXPECT_EQ(s.OpenDeviceInfoSets(), 1);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(s.OpenDeviceInfoSets(), 0);
  }
}

TEST(WinsimDevices, EnumerationEndsWithNoMoreItemsAndChecksTheRecordSize) {
  winsim::Machine m = DeviceMachine();
  winsim::Session s(m);
  HDEVINFO set = SetupDiGetClassDevsA(nullptr, "PCI", nullptr, DIGCF_ALLCLASSES);
  SP_DEVINFO_DATA dev;
  dev.cbSize = sizeof(dev);
  EXPECT_TRUE(SetupDiEnumDeviceInfo(set, 0, &dev));
  EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 1, &dev));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_ITEMS));
  dev.cbSize = sizeof(dev) - 4;
  EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &dev));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_USER_BUFFER));
  SetupDiDestroyDeviceInfoList(set);
  // A destroyed set is no longer a handle.
  EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

// The instance ID needs room for its NUL; a buffer too small is left as it was.
TEST(WinsimDevices, InstanceIdBufferRules) {
  winsim::Machine m = DeviceMachine();
  winsim::Session s(m);
  HDEVINFO set = SetupDiGetClassDevsA(nullptr, "PCI", nullptr, DIGCF_ALLCLASSES);
  SP_DEVINFO_DATA dev = Member(set, 0);
  const std::string id = "PCI\\VEN_8086&DEV_0001\\3&1";
  const DWORD need = DWORD(id.size() + 1);
  struct Case {
    DWORD size;
    bool buffer;
    bool ok;
  } cases[] = {{0, false, false}, {need - 1, true, false}, {need, true, true}, {need + 10, true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    char buf[64];
    std::memset(buf, 'x', sizeof(buf));
    DWORD required = 0;
    BOOL ok = SetupDiGetDeviceInstanceIdA(set, &dev, c.buffer ? buf : nullptr, c.size, &required);
    EXPECT_EQ(ok != FALSE, c.ok);
    EXPECT_EQ(required, need);
    if (c.ok) {
      EXPECT_EQ(std::string(buf), id);
    } else {
      EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
      EXPECT_EQ(buf[0], 'x');
    }
  }
  SetupDiDestroyDeviceInfoList(set);
}

// SPDRP_HARDWAREID is a REG_MULTI_SZ ending in an empty string; type and required size come back
// also when the buffer is too small, and the buffer is then not written.
TEST(WinsimDevices, HardwareIdPropertyTypeAndRequiredSize) {
  winsim::Machine m = DeviceMachine();
  winsim::Session s(m);
  HDEVINFO set = SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_ALLCLASSES);
  SP_DEVINFO_DATA present = Member(set, 0);
  const std::string data = std::string(Id) + '\0' + "USB\\VID_7A3C" + '\0' + '\0';
  const DWORD need = DWORD(data.size());
  struct Case {
    DWORD size;
    bool buffer;
    bool ok;
  } cases[] = {{0, false, false}, {need - 1, true, false}, {need, true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    BYTE buf[128];
    std::memset(buf, 0xEE, sizeof(buf));
    DWORD type = 0, required = 0;
    BOOL ok = SetupDiGetDeviceRegistryPropertyA(set, &present, SPDRP_HARDWAREID, &type, c.buffer ? buf : nullptr,
                                                c.size, &required);
    EXPECT_EQ(ok != FALSE, c.ok);
    EXPECT_EQ(type, DWORD(REG_MULTI_SZ));
    EXPECT_EQ(required, need);
    if (c.ok) {
      EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), need), data);
      EXPECT_EQ(buf[need], 0xEE);
    } else {
      EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
      EXPECT_EQ(buf[0], 0xEE);
    }
  }
  // A device without hardware IDs has no such property.
  SP_DEVINFO_DATA hub = Member(set, 2);
  BYTE buf[16];
  DWORD required = 0;
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &hub, SPDRP_HARDWAREID, nullptr, buf, sizeof(buf), &required));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_DATA));
  SetupDiDestroyDeviceInfoList(set);
}

// SPDRP_CONFIGFLAGS is a 4-byte REG_DWORD; a device without it answers ERROR_INVALID_DATA until
// it is written.
TEST(WinsimDevices, ConfigFlagsReadAndWrite) {
  winsim::Machine m = DeviceMachine();
  {
    winsim::Session s(m);
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA present = Member(set, 0), absent = Member(set, 1);
    DWORD type = 0, value = 0, required = 0;
    EXPECT_TRUE(SetupDiGetDeviceRegistryPropertyA(set, &present, SPDRP_CONFIGFLAGS, &type,
                                                  reinterpret_cast<PBYTE>(&value), sizeof(value), &required));
    EXPECT_EQ(type, DWORD(REG_DWORD));
    EXPECT_EQ(required, 4u);
    EXPECT_EQ(value, 0x400u);
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &absent, SPDRP_CONFIGFLAGS, &type,
                                                   reinterpret_cast<PBYTE>(&value), sizeof(value), nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_DATA));
    DWORD flags = 0x20;
    EXPECT_TRUE(SetupDiSetDeviceRegistryPropertyA(set, &absent, SPDRP_CONFIGFLAGS, reinterpret_cast<BYTE*>(&flags),
                                                  sizeof(flags)));
    value = 0;
    EXPECT_TRUE(SetupDiGetDeviceRegistryPropertyA(set, &absent, SPDRP_CONFIGFLAGS, &type,
                                                  reinterpret_cast<PBYTE>(&value), sizeof(value), nullptr));
    EXPECT_EQ(value, 0x20u);
    SetupDiDestroyDeviceInfoList(set);
  }
  EXPECT_EQ(*m.FindDevice("USB\\VID_7A3C&PID_0001\\ABSENT")->configFlags, 0x20u);
}

// A device opened into a set by its instance ID, present or not, is a member once; a record of
// another set is refused.
TEST(WinsimDevices, OpenDeviceInfoAddsTheDeviceOnce) {
  winsim::Machine m = DeviceMachine();
  winsim::Session s(m);
  HDEVINFO found = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  ASSERT_NE(found, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(Members(found).empty());
  EXPECT_TRUE(SetupDiOpenDeviceInfoA(found, "usb\\vid_7a3c&pid_0001\\absent", nullptr, 0, nullptr));
  EXPECT_TRUE(SetupDiOpenDeviceInfoA(found, "USB\\VID_7A3C&PID_0001\\ABSENT", nullptr, 0, nullptr));
  EXPECT_FALSE(SetupDiOpenDeviceInfoA(found, "USB\\VID_7A3C&PID_0001\\NONE", nullptr, 0, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_SUCH_DEVINST));
  EXPECT_EQ(Members(found), std::vector<std::string>{"USB\\VID_7A3C&PID_0001\\ABSENT"});

  HDEVINFO pci = SetupDiGetClassDevsA(nullptr, "PCI", nullptr, DIGCF_ALLCLASSES);
  SP_DEVINFO_DATA other = Member(pci, 0);
  char id[200];
  EXPECT_FALSE(SetupDiGetDeviceInstanceIdA(found, &other, id, sizeof(id), nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(s.OpenDeviceInfoSets(), 2);
  SetupDiDestroyDeviceInfoList(pci);
  SetupDiDestroyDeviceInfoList(found);
  EXPECT_EQ(s.OpenDeviceInfoSets(), 0);
}

// lstrcmpiA: the whole strings, without regard to case (the letters of code page 1252 too).
TEST(WinsimDevices, LstrcmpiComparesWholeStringsIgnoringCase) {
  winsim::Machine m;
  winsim::Session s(m);
  struct Case {
    const char* a;
    const char* b;
    int sign;
  } cases[] = {
      {"USB\\VID_7A3C&PID_0001", "usb\\vid_7a3c&pid_0001", 0},
      {"USB\\VID_7A3C&PID_0001", "USB\\VID_7A3C&PID_0001&REV_0100", -1},
      {"USB\\VID_7A3C&PID_0001", "USB\\VID_7A3C&PID_000", 1},
      {"\xC9T\xC9", "\xE9t\xE9", 0},  // "ÉTÉ" and "été"
      {"", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " / " + c.b);
    int r = lstrcmpiA(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign);
  }
}
