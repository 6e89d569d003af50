// setupapi driver lists and device removal: the compatible-driver list of a device with its
// entries and their details, the deletion of a device's registry keys, and SetupDiRemoveDevice.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "winsim/internal.h"

using namespace winsim;
using namespace winsim::detail;

namespace {

constexpr DWORD kErrorKeyDoesNotExist = 0xE0000204;  // ERROR_KEY_DOES_NOT_EXIST

// Where the variable part of a driver detail starts.
constexpr size_t kDetailFixedPart = offsetof(SP_DRVINFO_DETAIL_DATA_A, HardwareID);

json DeviceArgs(HDEVINFO set, PSP_DEVINFO_DATA data) {
  return {{"DeviceInfoSet", uintptr_t(set)}, {"DevInst", data ? data->DevInst : 0}};
}

// Copies text into a fixed field, cut to the field's size with its NUL, as Windows fills it; a
// double-byte character that does not fit whole is left out.
void PutField(CHAR* field, size_t size, const std::string& utf8) {
  std::string a = Utf8ToAnsi(utf8);
  size_t n = 0;
  for (UINT cp = AnsiCodePage(); n < a.size();) {
    size_t step = IsLeadByte(cp, (unsigned char)a[n]) && n + 1 < a.size() ? 2 : 1;
    if (n + step > size - 1) break;
    n += step;
  }
  std::memcpy(field, a.data(), n);
  field[n] = 0;
}

bool DriverRecordSize(DWORD cbSize) {
  return cbSize == sizeof(SP_DRVINFO_DATA_V1_A) || cbSize == sizeof(SP_DRVINFO_DATA_V2_A);
}

// The compatible-driver list built for the device, or null when none was built.
std::vector<Driver>* CompatList(DeviceInfoSet& set, DWORD devInst) {
  auto it = set.driverLists.find(devInst);
  return it == set.driverLists.end() ? nullptr : &it->second;
}

}  // namespace

BOOL WINAPI SetupDiBuildDriverInfoList(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD DriverType) {
  json args = DeviceArgs(DeviceInfoSet, DeviceInfoData);
  args["DriverType"] = DriverType;
  if (Faulted("SetupDiBuildDriverInfoList", args)) return FALSE;
  detail::DeviceInfoSet* set = SetOf(DeviceInfoSet);
  if (!set) return FALSE;
  if (DriverType == SPDIT_CLASSDRIVER) Stop("class driver lists are not simulated");
  if (DriverType != SPDIT_COMPATDRIVER || !DeviceInfoData) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Device* d = DeviceOf(DeviceInfoSet, DeviceInfoData);
  if (!d) return FALSE;
  // A list already built stays as it is.
  if (!CompatList(*set, d->devInst)) set->driverLists[d->devInst] = CompatibleDrivers(*d);
  return TRUE;
}

BOOL WINAPI SetupDiEnumDriverInfoA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD DriverType,
                                   DWORD MemberIndex, PSP_DRVINFO_DATA_A DriverInfoData) {
  json args = DeviceArgs(DeviceInfoSet, DeviceInfoData);
  args["DriverType"] = DriverType;
  args["MemberIndex"] = MemberIndex;
  args["cbSize"] = DriverInfoData ? DriverInfoData->cbSize : 0;
  if (Faulted("SetupDiEnumDriverInfoA", args)) return FALSE;
  detail::DeviceInfoSet* set = SetOf(DeviceInfoSet);
  if (!set) return FALSE;
  if ((DriverType != SPDIT_CLASSDRIVER && DriverType != SPDIT_COMPATDRIVER) ||
      (DriverType == SPDIT_COMPATDRIVER && !DeviceInfoData)) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!DriverInfoData || !DriverRecordSize(DriverInfoData->cbSize)) {
    SetError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  const std::vector<Driver>* list = nullptr;
  if (DriverType == SPDIT_COMPATDRIVER) {
    Device* d = DeviceOf(DeviceInfoSet, DeviceInfoData);
    if (!d) return FALSE;
    list = CompatList(*set, d->devInst);
  }
  // No list built (or a class list, which is never built here): nothing to enumerate.
  if (!list || MemberIndex >= list->size()) {
    SetError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  const Driver& drv = (*list)[MemberIndex];
  SP_DRVINFO_DATA_V2_A out;
  std::memset(&out, 0, sizeof out);
  out.cbSize = DriverInfoData->cbSize;
  out.DriverType = DriverType;
  out.Reserved = MemberIndex + 1;  // names the entry for the detail call
  PutField(out.Description, sizeof out.Description, drv.description);
  // A version-1 record is the leading part of the version-2 one; nothing past it is written.
  std::memcpy(DriverInfoData, &out, DriverInfoData->cbSize);
  return TRUE;
}

BOOL WINAPI SetupDiGetDriverInfoDetailA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        PSP_DRVINFO_DATA_A DriverInfoData,
                                        PSP_DRVINFO_DETAIL_DATA_A DriverInfoDetailData,
                                        DWORD DriverInfoDetailDataSize, PDWORD RequiredSize) {
  json args = DeviceArgs(DeviceInfoSet, DeviceInfoData);
  args["Reserved"] = DriverInfoData ? DriverInfoData->Reserved : 0;
  args["DriverInfoDetailData"] = DriverInfoDetailData != nullptr;
  args["cbSize"] = DriverInfoDetailData ? DriverInfoDetailData->cbSize : 0;
  args["DriverInfoDetailDataSize"] = DriverInfoDetailDataSize;
  args["RequiredSize"] = RequiredSize != nullptr;
  if (Faulted("SetupDiGetDriverInfoDetailA", args)) return FALSE;
  detail::DeviceInfoSet* set = SetOf(DeviceInfoSet);
  if (!set) return FALSE;
  if (!DeviceInfoData) {
    SetError(ERROR_INVALID_PARAMETER);  // class lists are never built here
    return FALSE;
  }
  Device* d = DeviceOf(DeviceInfoSet, DeviceInfoData);
  if (!d) return FALSE;
  if (!DriverInfoData || !DriverRecordSize(DriverInfoData->cbSize)) {
    SetError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  const std::vector<Driver>* list = CompatList(*set, d->devInst);
  if (!list || DriverInfoData->DriverType != SPDIT_COMPATDRIVER || DriverInfoData->Reserved == 0 ||
      DriverInfoData->Reserved > list->size()) {
    SetError(ERROR_INVALID_PARAMETER);  // the record names no entry of the device's list
    return FALSE;
  }
  // The detail record itself carries the size of the record, whatever the buffer's size.
  if (DriverInfoDetailData && (DriverInfoDetailData->cbSize != sizeof(SP_DRVINFO_DETAIL_DATA_A) ||
                               DriverInfoDetailDataSize < sizeof(SP_DRVINFO_DETAIL_DATA_A))) {
    SetError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (!DriverInfoDetailData && DriverInfoDetailDataSize != 0) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const Driver& drv = (*list)[DriverInfoData->Reserved - 1];
  // The ID list: the hardware ID first, then the compatible IDs, as a multi-string.
  std::string ids;
  for (const std::string& id : drv.hardwareIds) ids += Utf8ToAnsi(id) + '\0';
  ids += '\0';
  DWORD required = DWORD(kDetailFixedPart + ids.size());
  if (RequiredSize) *RequiredSize = required;
  if (!DriverInfoDetailData) {
    SetError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  // The fixed part is always filled; of the IDs, as many as fit with the list's closing NUL.
  SP_DRVINFO_DETAIL_DATA_A& out = *DriverInfoDetailData;
  std::memset(&out, 0, kDetailFixedPart);
  out.cbSize = sizeof(SP_DRVINFO_DETAIL_DATA_A);
  out.Reserved = DriverInfoData->Reserved;
  PutField(out.InfFileName, sizeof out.InfFileName, drv.infPath);
  PutField(out.DrvDescription, sizeof out.DrvDescription, drv.description);
  size_t room = DriverInfoDetailDataSize - kDetailFixedPart;
  size_t fits = 0, pos = 0;
  for (const std::string& id : drv.hardwareIds) {
    size_t next = pos + Utf8ToAnsi(id).size() + 1;
    if (next + 1 > room) break;
    pos = next;
    ++fits;
  }
  std::memcpy(out.HardwareID, ids.data(), pos);
  out.HardwareID[pos] = 0;
  if (!drv.hardwareIds.empty()) {
    out.CompatIDsOffset = DWORD(Utf8ToAnsi(drv.hardwareIds[0]).size() + 1);
    out.CompatIDsLength = drv.hardwareIds.size() > 1 ? DWORD(ids.size() - out.CompatIDsOffset) : 0;
  }
  if (fits < drv.hardwareIds.size()) {
    SetError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI SetupDiDestroyDriverInfoList(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD DriverType) {
  json args = DeviceArgs(DeviceInfoSet, DeviceInfoData);
  args["DriverType"] = DriverType;
  if (Faulted("SetupDiDestroyDriverInfoList", args)) return FALSE;
  detail::DeviceInfoSet* set = SetOf(DeviceInfoSet);
  if (!set) return FALSE;
  if (DriverType != SPDIT_CLASSDRIVER && DriverType != SPDIT_COMPATDRIVER) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!DeviceInfoData) return TRUE;  // the set's class list, never built here
  // The element's list goes even when the device has been removed since.
  if (DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA) ||
      std::find(set->members.begin(), set->members.end(), DeviceInfoData->DevInst) == set->members.end()) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (DriverType == SPDIT_COMPATDRIVER) set->driverLists.erase(DeviceInfoData->DevInst);
  return TRUE;
}

BOOL WINAPI SetupDiDeleteDevRegKey(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Scope,
                                   DWORD HwProfile, DWORD KeyType) {
  json args = DeviceArgs(DeviceInfoSet, DeviceInfoData);
  args["Scope"] = Scope;
  args["HwProfile"] = HwProfile;
  args["KeyType"] = KeyType;
  if (Faulted("SetupDiDeleteDevRegKey", args)) return FALSE;
  Device* d = DeviceOf(DeviceInfoSet, DeviceInfoData);
  if (!d) return FALSE;
  if ((Scope != DICS_FLAG_GLOBAL && Scope != DICS_FLAG_CONFIGSPECIFIC) ||
      (KeyType != DIREG_DEV && KeyType != DIREG_DRV && KeyType != DIREG_BOTH)) {
    SetError(ERROR_INVALID_FLAGS);
    return FALSE;
  }
  // The device's keys are global ones; no hardware profile holds keys of its own.
  bool hardware = Scope == DICS_FLAG_GLOBAL && KeyType != DIREG_DRV && d->hardwareKey;
  bool software = Scope == DICS_FLAG_GLOBAL && KeyType != DIREG_DEV && d->softwareKey;
  if (!hardware && !software) {
    SetError(kErrorKeyDoesNotExist);
    return FALSE;
  }
  if (hardware) d->hardwareKey = false;
  if (software) d->softwareKey = false;
  return TRUE;
}

BOOL WINAPI SetupDiRemoveDevice(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData) {
  if (Faulted("SetupDiRemoveDevice", DeviceArgs(DeviceInfoSet, DeviceInfoData))) return FALSE;
  Device* d = DeviceOf(DeviceInfoSet, DeviceInfoData);
  if (!d) return FALSE;
  // The device installer refuses a 32-bit process on 64-bit Windows.
  if (P().Wow64(M())) {
    SetError(ERROR_IN_WOW64);
    return FALSE;
  }
  std::vector<Device>& devices = M().devices;
  devices.erase(devices.begin() + (d - devices.data()));
  return TRUE;
}
