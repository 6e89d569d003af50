// setupapi device information sets and device properties, and cfgmgr32's device node status.
#include <cstring>

#include "winsim/internal.h"

using namespace winsim;
using namespace winsim::detail;

namespace winsim::detail {

Device* DeviceByInst(DWORD devInst) {
  for (Device& d : M().devices)
    if (d.devInst == devInst) return &d;
  return nullptr;
}

DeviceInfoSet* SetOf(HDEVINFO h) {
  auto it = P().deviceInfoSets.find(uintptr_t(h));
  if (it == P().deviceInfoSets.end()) {
    SetError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return &it->second;
}

Device* DeviceOf(HDEVINFO h, PSP_DEVINFO_DATA data) {
  DeviceInfoSet* set = SetOf(h);
  if (!set) return nullptr;
  if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA) ||
      std::find(set->members.begin(), set->members.end(), data->DevInst) == set->members.end()) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Device* d = DeviceByInst(data->DevInst);
  if (!d) SetError(ERROR_NO_SUCH_DEVINST);  // removed since
  return d;
}

}  // namespace winsim::detail

namespace {

std::string Enumerator(const std::string& instanceId) { return instanceId.substr(0, instanceId.find('\\')); }

HDEVINFO NewSet(std::vector<DWORD> members) {
  uintptr_t h = P().NewHandle();
  P().deviceInfoSets[h] = DeviceInfoSet{std::move(members), {}};
  return HDEVINFO(h);
}

void Fill(PSP_DEVINFO_DATA data, const Device& d) {
  std::memset(&data->ClassGuid, 0, sizeof(data->ClassGuid));
  data->DevInst = d.devInst;
  data->Reserved = d.devInst;
}

std::string MultiSz(const std::vector<std::string>& list) {
  std::string out;
  for (const std::string& s : list) out += Utf8ToAnsi(s) + '\0';
  return out + '\0';
}

}  // namespace

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR Enumerator_, HWND hwndParent, DWORD Flags) {
  std::string enumerator = Enumerator_ ? AnsiToUtf8(Enumerator_) : "";
  if (Faulted("SetupDiGetClassDevsA", {{"ClassGuid", ClassGuid != nullptr},
                                       {"Enumerator", Enumerator_ ? json(enumerator) : json(nullptr)},
                                       {"hwndParent", uintptr_t(hwndParent)},
                                       {"Flags", Flags}}))
    return INVALID_HANDLE_VALUE;
  if (!ClassGuid && !(Flags & DIGCF_ALLCLASSES)) {
    SetError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  bool known = false;
  for (const char* e : {"USB", "PCI", "ROOT", "HID", "USBSTOR", "ACPI", "SWD"}) known = known || SameText(e, enumerator);
  std::vector<DWORD> members;
  for (const Device& d : M().devices) {
    if (!enumerator.empty() && !SameText(Enumerator(d.instanceId), enumerator)) continue;
    known = true;
    if ((Flags & DIGCF_PRESENT) && !d.present) continue;
    members.push_back(d.devInst);
  }
  if (!enumerator.empty() && !known) {
    SetError(ERROR_INVALID_DATA);
    return INVALID_HANDLE_VALUE;
  }
  return NewSet(std::move(members));
}

HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID* ClassGuid, HWND hwndParent) {
  if (Faulted("SetupDiCreateDeviceInfoList", {{"ClassGuid", ClassGuid != nullptr}, {"hwndParent", uintptr_t(hwndParent)}}))
    return INVALID_HANDLE_VALUE;
  return NewSet({});
}

BOOL WINAPI SetupDiOpenDeviceInfoA(HDEVINFO DeviceInfoSet, PCSTR DeviceInstanceId, HWND hwndParent, DWORD OpenFlags,
                                   PSP_DEVINFO_DATA DeviceInfoData) {
  std::string id = DeviceInstanceId ? AnsiToUtf8(DeviceInstanceId) : "";
  if (Faulted("SetupDiOpenDeviceInfoA", {{"DeviceInfoSet", uintptr_t(DeviceInfoSet)},
                                         {"DeviceInstanceId", id},
                                         {"hwndParent", uintptr_t(hwndParent)},
                                         {"OpenFlags", OpenFlags},
                                         {"DeviceInfoData", DeviceInfoData != nullptr}}))
    return FALSE;
  auto* set = SetOf(DeviceInfoSet);
  if (!set) return FALSE;
  if (DeviceInfoData && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
    SetError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  Device* d = M().FindDevice(id);
  if (!d || !DeviceInstanceId) {
    SetError(ERROR_NO_SUCH_DEVINST);
    return FALSE;
  }
  // A device already in the set is not added a second time.
  if (std::find(set->members.begin(), set->members.end(), d->devInst) == set->members.end())
    set->members.push_back(d->devInst);
  if (DeviceInfoData) Fill(DeviceInfoData, *d);
  return TRUE;
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData) {
  if (Faulted("SetupDiEnumDeviceInfo", {{"DeviceInfoSet", uintptr_t(DeviceInfoSet)}, {"MemberIndex", MemberIndex}}))
    return FALSE;
  auto* set = SetOf(DeviceInfoSet);
  if (!set) return FALSE;
  if (!DeviceInfoData || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
    SetError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (MemberIndex >= set->members.size()) {
    SetError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  // A member removed from the system keeps its place in the set, so that a walk that removes as
  // it goes misses none; the calls on its record then fail with ERROR_NO_SUCH_DEVINST.
  DWORD inst = set->members[MemberIndex];
  std::memset(&DeviceInfoData->ClassGuid, 0, sizeof(DeviceInfoData->ClassGuid));
  DeviceInfoData->DevInst = inst;
  DeviceInfoData->Reserved = inst;
  return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, PSTR DeviceInstanceId,
                                        DWORD DeviceInstanceIdSize, PDWORD RequiredSize) {
  if (Faulted("SetupDiGetDeviceInstanceIdA", {{"DeviceInfoSet", uintptr_t(DeviceInfoSet)},
                                              {"DevInst", DeviceInfoData ? DeviceInfoData->DevInst : 0},
                                              {"DeviceInstanceIdSize", DeviceInstanceIdSize},
                                              {"RequiredSize", RequiredSize != nullptr}}))
    return FALSE;
  Device* d = DeviceOf(DeviceInfoSet, DeviceInfoData);
  if (!d) return FALSE;
  std::string id = Utf8ToAnsi(d->instanceId);
  if (RequiredSize) *RequiredSize = DWORD(id.size() + 1);
  if (!DeviceInstanceId || DeviceInstanceIdSize < id.size() + 1) {
    SetError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(DeviceInstanceId, id.c_str(), id.size() + 1);
  return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize) {
  if (Faulted("SetupDiGetDeviceRegistryPropertyA", {{"DeviceInfoSet", uintptr_t(DeviceInfoSet)},
                                                    {"DevInst", DeviceInfoData ? DeviceInfoData->DevInst : 0},
                                                    {"Property", Property},
                                                    {"PropertyBuffer", PropertyBuffer != nullptr},
                                                    {"PropertyBufferSize", PropertyBufferSize},
                                                    {"RequiredSize", RequiredSize != nullptr}}))
    return FALSE;
  Device* d = DeviceOf(DeviceInfoSet, DeviceInfoData);
  if (!d) return FALSE;
  std::string bytes;
  DWORD type;
  if (Property == SPDRP_HARDWAREID && (d->hardwareIdData || !d->hardwareIds.empty())) {
    bytes = d->hardwareIdData ? *d->hardwareIdData : MultiSz(d->hardwareIds);
    type = d->hardwareIdType;
  } else if (Property == SPDRP_COMPATIBLEIDS && !d->compatibleIds.empty()) {
    bytes = MultiSz(d->compatibleIds);
    type = REG_MULTI_SZ;
  } else if (Property == SPDRP_CONFIGFLAGS && d->configFlags) {
    DWORD v = *d->configFlags;
    bytes.assign(reinterpret_cast<const char*>(&v), sizeof v);
    type = d->configFlagsType;
  } else {
    SetError(ERROR_INVALID_DATA);  // the device has no such property
    return FALSE;
  }
  if (PropertyRegDataType) *PropertyRegDataType = type;
  if (RequiredSize) *RequiredSize = DWORD(bytes.size());
  if (!PropertyBuffer || PropertyBufferSize < bytes.size()) {
    SetError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(PropertyBuffer, bytes.data(), bytes.size());
  return TRUE;
}

BOOL WINAPI SetupDiSetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              const BYTE* PropertyBuffer, DWORD PropertyBufferSize) {
  DWORD value = 0;
  if (PropertyBuffer && PropertyBufferSize == sizeof value) std::memcpy(&value, PropertyBuffer, sizeof value);
  if (Faulted("SetupDiSetDeviceRegistryPropertyA", {{"DeviceInfoSet", uintptr_t(DeviceInfoSet)},
                                                    {"DevInst", DeviceInfoData ? DeviceInfoData->DevInst : 0},
                                                    {"Property", Property},
                                                    {"PropertyBufferSize", PropertyBufferSize},
                                                    {"value", value}}))
    return FALSE;
  Device* d = DeviceOf(DeviceInfoSet, DeviceInfoData);
  if (!d) return FALSE;
  if (Property != SPDRP_CONFIGFLAGS || !PropertyBuffer || PropertyBufferSize != sizeof value) {
    SetError(ERROR_INVALID_DATA);
    return FALSE;
  }
  d->configFlags = value;
  d->configFlagsType = REG_DWORD;
  return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
  if (Faulted("SetupDiDestroyDeviceInfoList", {{"DeviceInfoSet", uintptr_t(DeviceInfoSet)}})) return FALSE;
  auto it = P().deviceInfoSets.find(uintptr_t(DeviceInfoSet));
  if (it == P().deviceInfoSets.end()) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // Windows frees the driver lists with the set; a list that its builder never destroyed is
  // counted as left all the same.
  P().driverListsLeft += int(it->second.driverLists.size());
  P().deviceInfoSets.erase(it);
  return TRUE;
}

CONFIGRET WINAPI CM_Get_DevNode_Status(PULONG pulStatus, PULONG pulProblemNumber, DEVINST dnDevInst, ULONG ulFlags) {
  const Rule* r = Enter("CM_Get_DevNode_Status", {{"dnDevInst", dnDevInst}, {"ulFlags", ulFlags}});
  if (r && !r->ok) return r->error;  // a scripted CONFIGRET
  if (!pulStatus || !pulProblemNumber) return 0x00000003;  // CR_INVALID_POINTER
  if (ulFlags) return 0x0000000B;                          // CR_INVALID_FLAG
  const Device* d = DeviceByInst(dnDevInst);
  if (!d || !d->present) return CR_NO_SUCH_DEVNODE;  // no live device node: not present
  *pulStatus = 0x0180200A;                           // started, driver loaded
  *pulProblemNumber = 0;
  return CR_SUCCESS;
}
