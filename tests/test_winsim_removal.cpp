// winsim's driver lists and device removal, where Windows' answers are not obvious: record
// sizes, the detail's required size and what a short buffer still receives, the keys, removal
// from the machine and from a 32-bit process on 64-bit Windows.
#include <cstddef>
#include <cstring>

#include "support.h"
#include "winsim/internal.h"

using winsim::Machine;

namespace {

const char* kVendorId = "USB\\VID_7A3C&PID_0001";

// A 32-bit machine with one vendor device that has an entry of its own and the sample package
// in the driver store, and a second device after it.
Machine DriverMachine() {
  Machine m;
  m.nativeArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
  winsim::Device& d = m.AddDevice("USB\\VID_7A3C&PID_0001\\5&1A2B&0&1", {kVendorId});
  d.drivers.push_back({"VELTO Logger (legacy)", "C:\\Windows\\INF\\oem5.inf", {kVendorId, "USB\\Class_FF"}});
  m.AddDevice("USB\\VID_7A3C&PID_0002\\5&1A2B&0&2", {"USB\\VID_7A3C&PID_0002"}, false);
  m.AddStoredInf("oem7.inf", test::SampleInf());
  return m;
}

// The set of all USB devices and the record of its first device.
struct Walk {
  HDEVINFO set = SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_ALLCLASSES);
  SP_DEVINFO_DATA dev{};
  explicit Walk(DWORD index = 0) {
    dev.cbSize = sizeof dev;
    EXPECT_TRUE(SetupDiEnumDeviceInfo(set, index, &dev));
  }
  ~Walk() { SetupDiDestroyDeviceInfoList(set); }
  BOOL Enum(DWORD i, SP_DRVINFO_DATA_V2_A& drv, DWORD cbSize = sizeof(SP_DRVINFO_DATA_V2_A)) {
    drv.cbSize = cbSize;
    return SetupDiEnumDriverInfoA(set, &dev, SPDIT_COMPATDRIVER, i, &drv);
  }
};

const size_t kFixedPart = offsetof(SP_DRVINFO_DETAIL_DATA_A, HardwareID);

}  // namespace

TEST(WinsimDriverList, OwnEntriesThenStorePackagesUntilDestroyed) {
  Machine m = DriverMachine();
  winsim::Session s(m);
  Walk w;
  SP_DRVINFO_DATA_V2_A drv;
  // Nothing to enumerate before the list is built.
  EXPECT_FALSE(w.Enum(0, drv));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_ITEMS));
  ASSERT_TRUE(SetupDiBuildDriverInfoList(w.set, &w.dev, SPDIT_COMPATDRIVER));
  // The list was taken when built: a package that leaves the store later stays in it.
  m.driverStore.clear();
  ASSERT_TRUE(w.Enum(0, drv));
  EXPECT_STREQ(drv.Description, "VELTO Logger (legacy)");
  EXPECT_EQ(drv.DriverType, DWORD(SPDIT_COMPATDRIVER));
  ASSERT_TRUE(w.Enum(1, drv));
  EXPECT_STREQ(drv.Description, "VELTO Data Logger");
  EXPECT_FALSE(w.Enum(2, drv));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_ITEMS));
  // Lists are kept per device: the second device has none.
  SP_DEVINFO_DATA other{};
  other.cbSize = sizeof other;
  ASSERT_TRUE(SetupDiEnumDeviceInfo(w.set, 1, &other));
  drv.cbSize = sizeof drv;
  EXPECT_FALSE(SetupDiEnumDriverInfoA(w.set, &other, SPDIT_COMPATDRIVER, 0, &drv));
  ASSERT_TRUE(SetupDiDestroyDriverInfoList(w.set, &w.dev, SPDIT_COMPATDRIVER));
  EXPECT_FALSE(w.Enum(0, drv));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_ITEMS));
}

TEST(WinsimDriverList, RecordSizesOfBothVersions) {
  Machine m = DriverMachine();
  m.devices[0].drivers[0].description = std::string(300, 'd');
  winsim::Session s(m);
  Walk w;
  ASSERT_TRUE(SetupDiBuildDriverInfoList(w.set, &w.dev, SPDIT_COMPATDRIVER));
  SP_DRVINFO_DATA_V2_A drv;
  for (DWORD bad : {DWORD(0), DWORD(sizeof(SP_DRVINFO_DATA_V2_A) + 1), DWORD(sizeof(SP_DRVINFO_DATA_V1_A) - 1)}) {
    EXPECT_FALSE(w.Enum(0, drv, bad)) << bad;
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_USER_BUFFER)) << bad;
  }
  // A version-1 record is filled without a byte past its end.
  std::memset(&drv, 0xCC, sizeof drv);
  ASSERT_TRUE(w.Enum(0, drv, sizeof(SP_DRVINFO_DATA_V1_A)));
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&drv);
  for (size_t i = sizeof(SP_DRVINFO_DATA_V1_A); i < sizeof drv; ++i) ASSERT_EQ(bytes[i], 0xCC) << i;
  // A description longer than its field is cut with its NUL inside the field.
  EXPECT_EQ(std::string(drv.Description), std::string(sizeof drv.Description - 1, 'd'));
}

TEST(WinsimDriverDetail, RequiredSizeAndShortBuffers) {
  Machine m = DriverMachine();
  winsim::Session s(m);
  Walk w;
  ASSERT_TRUE(SetupDiBuildDriverInfoList(w.set, &w.dev, SPDIT_COMPATDRIVER));
  SP_DRVINFO_DATA_V2_A drv;
  ASSERT_TRUE(w.Enum(0, drv));
  // The fixed part, then the ID list: hardware ID, compatible IDs, closing NUL.
  const std::string ids = std::string(kVendorId) + '\0' + "USB\\Class_FF" + '\0' + '\0';
  const DWORD required = DWORD(kFixedPart + ids.size());
  ASSERT_GT(required, sizeof(SP_DRVINFO_DETAIL_DATA_A));  // a usual detail needs the second call

  std::vector<char> buf(required + 16, 0);
  auto* detail = reinterpret_cast<PSP_DRVINFO_DETAIL_DATA_A>(buf.data());
  struct Row {
    const char* what;
    bool buffer;
    DWORD cbSize, size;
    BOOL ok;
    DWORD error;
  } rows[] = {
      {"no buffer asks for the size", false, 0, 0, FALSE, ERROR_INSUFFICIENT_BUFFER},
      {"no buffer with a size", false, 0, 100, FALSE, ERROR_INVALID_PARAMETER},
      {"the record alone", true, sizeof(SP_DRVINFO_DETAIL_DATA_A), sizeof(SP_DRVINFO_DETAIL_DATA_A), FALSE,
       ERROR_INSUFFICIENT_BUFFER},
      {"less than the record", true, sizeof(SP_DRVINFO_DETAIL_DATA_A), sizeof(SP_DRVINFO_DETAIL_DATA_A) - 1, FALSE,
       ERROR_INVALID_USER_BUFFER},
      {"cbSize of the buffer", true, required, required, FALSE, ERROR_INVALID_USER_BUFFER},
      {"the required size", true, sizeof(SP_DRVINFO_DETAIL_DATA_A), required, TRUE, 0},
      {"a larger buffer", true, sizeof(SP_DRVINFO_DETAIL_DATA_A), required + 16, TRUE, 0},
  };
  for (const Row& r : rows) {
    std::fill(buf.begin(), buf.end(), 0x5A);
    detail->cbSize = r.cbSize;
    DWORD got = 0;
    SetLastError(0);
    BOOL ok = SetupDiGetDriverInfoDetailA(w.set, &w.dev, &drv,
                                          r.buffer ? detail : nullptr, r.size, &got);
    EXPECT_EQ(ok, r.ok) << r.what;
    if (!r.ok) {
      EXPECT_EQ(GetLastError(), r.error) << r.what;
    }
    if (r.error == ERROR_INSUFFICIENT_BUFFER || r.ok) {
      EXPECT_EQ(got, required) << r.what;
    }
    if (r.buffer && (r.ok || r.error == ERROR_INSUFFICIENT_BUFFER)) {
      // The fixed part is filled even when the ID list does not fit.
      EXPECT_STREQ(detail->InfFileName, "C:\\Windows\\INF\\oem5.inf") << r.what;
      EXPECT_STREQ(detail->DrvDescription, "VELTO Logger (legacy)") << r.what;
      EXPECT_EQ(detail->cbSize, DWORD(sizeof(SP_DRVINFO_DETAIL_DATA_A))) << r.what;
      EXPECT_EQ(detail->CompatIDsOffset, DWORD(std::strlen(kVendorId) + 1)) << r.what;
      EXPECT_EQ(detail->CompatIDsLength, DWORD(std::strlen("USB\\Class_FF") + 2)) << r.what;
      std::string list(detail->HardwareID, r.ok ? ids.size() : 1);
      EXPECT_EQ(list, r.ok ? ids : std::string(1, '\0')) << r.what;
    }
  }
  // A driver record that no enumeration gave names no entry.
  SP_DRVINFO_DATA_V2_A made{};
  made.cbSize = sizeof made;
  made.DriverType = SPDIT_COMPATDRIVER;
  detail->cbSize = sizeof(SP_DRVINFO_DETAIL_DATA_A);
  EXPECT_FALSE(SetupDiGetDriverInfoDetailA(w.set, &w.dev, &made, detail,
                                           required, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST(WinsimDeviceKeys, DeleteByKeyType) {
  const DWORD kKeyMissing = 0xE0000204;
  struct Row {
    DWORD scope, keyType;
    bool hardware, software;  // the keys before
    BOOL ok;
    DWORD error;
    bool hardwareAfter, softwareAfter;
  } rows[] = {
      {DICS_FLAG_GLOBAL, DIREG_DEV, true, true, TRUE, 0, false, true},
      {DICS_FLAG_GLOBAL, DIREG_DRV, true, true, TRUE, 0, true, false},
      {DICS_FLAG_GLOBAL, DIREG_BOTH, true, true, TRUE, 0, false, false},
      {DICS_FLAG_GLOBAL, DIREG_BOTH, false, true, TRUE, 0, false, false},
      {DICS_FLAG_GLOBAL, DIREG_BOTH, false, false, FALSE, kKeyMissing, false, false},
      {DICS_FLAG_GLOBAL, DIREG_DRV, true, false, FALSE, kKeyMissing, true, false},
      {DICS_FLAG_CONFIGSPECIFIC, DIREG_BOTH, true, true, FALSE, kKeyMissing, true, true},
      {DICS_FLAG_GLOBAL, 8, true, true, FALSE, ERROR_INVALID_FLAGS, true, true},
      {0, DIREG_BOTH, true, true, FALSE, ERROR_INVALID_FLAGS, true, true},
  };
  for (const Row& r : rows) {
    Machine m = DriverMachine();
    m.devices[0].hardwareKey = r.hardware;
    m.devices[0].softwareKey = r.software;
    winsim::Session s(m);
    Walk w;
    SetLastError(0);
    EXPECT_EQ(SetupDiDeleteDevRegKey(w.set, &w.dev, r.scope, 0xFFFFFFFF, r.keyType), r.ok) << r.scope << r.keyType;
    EXPECT_EQ(GetLastError(), r.error) << r.scope << " " << r.keyType;
    EXPECT_EQ(m.devices[0].hardwareKey, r.hardwareAfter) << r.scope << " " << r.keyType;
    EXPECT_EQ(m.devices[0].softwareKey, r.softwareAfter) << r.scope << " " << r.keyType;
    EXPECT_TRUE(m.devices[1].hardwareKey && m.devices[1].softwareKey);
  }
}

TEST(WinsimRemoveDevice, GoneFromMachineWhileTheSetKeepsItsPlaces) {
  Machine m = DriverMachine();
  m.AddDevice("USB\\VID_1234&PID_0001\\7", {"USB\\VID_1234&PID_0001"});
  winsim::Session s(m);
  Walk w;
  ASSERT_TRUE(SetupDiRemoveDevice(w.set, &w.dev));
  EXPECT_EQ(m.FindDevice("USB\\VID_7A3C&PID_0001\\5&1A2B&0&1"), nullptr);
  ASSERT_EQ(m.devices.size(), 2u);
  // The record of the removed device names nothing any more.
  char id[200];
  EXPECT_FALSE(SetupDiGetDeviceInstanceIdA(w.set, &w.dev, id, sizeof id, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_SUCH_DEVINST));
  EXPECT_FALSE(SetupDiRemoveDevice(w.set, &w.dev));
  // The set keeps its element: the next device is still at the next index, so that a walk
  // that removes as it goes misses none.
  SP_DEVINFO_DATA next{};
  next.cbSize = sizeof next;
  ASSERT_TRUE(SetupDiEnumDeviceInfo(w.set, 1, &next));
  ASSERT_TRUE(SetupDiGetDeviceInstanceIdA(w.set, &next, id, sizeof id, nullptr));
  EXPECT_STREQ(id, "USB\\VID_7A3C&PID_0002\\5&1A2B&0&2");
  // A new set no longer holds it.
  Walk later;
  ASSERT_TRUE(SetupDiGetDeviceInstanceIdA(later.set, &later.dev, id, sizeof id, nullptr));
  EXPECT_STREQ(id, "USB\\VID_7A3C&PID_0002\\5&1A2B&0&2");
}

TEST(WinsimRemoveDevice, RefusedInA32BitProcessOn64BitWindows) {
  struct Row {
    WORD arch;
    int bits;
    bool removed;
  } rows[] = {{PROCESSOR_ARCHITECTURE_INTEL, 32, true},
              {PROCESSOR_ARCHITECTURE_AMD64, 64, true},
              {PROCESSOR_ARCHITECTURE_AMD64, 32, false}};
  for (const Row& r : rows) {
    Machine m = DriverMachine();
    m.nativeArchitecture = r.arch;
    winsim::ProcessSpec spec;
    spec.bits = r.bits;
    winsim::Session s(m, spec);
    Walk w;
    EXPECT_EQ(SetupDiRemoveDevice(w.set, &w.dev), r.removed ? TRUE : FALSE) << r.arch << "/" << r.bits;
    if (!r.removed) {
      EXPECT_EQ(GetLastError(), DWORD(ERROR_IN_WOW64));
    }
    EXPECT_EQ(m.devices.size(), r.removed ? 1u : 2u) << r.arch << "/" << r.bits;
  }
}
