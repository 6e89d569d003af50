// The device search and the reinstall marking: devices of an enumerator that carry a hardware ID,
// present or not, and CONFIGFLAG_REINSTALL in their configuration flags, so that Windows installs
// their driver anew when they are next connected.
#include "driverinstall/DriverInstall.h"
#include "platform/text.h"

namespace {

// A device without a live device node is not present.
bool NotPresent(DEVINST DevInst) {
  ULONG status = 0, problem = 0;
  return GetDevNodeStatusProc(&status, &problem, DevInst, 0) != CR_SUCCESS;
}

// Adds the device to the found set, which is created on the first device; 0 or the error of the
// call that failed.
DWORD AddToFoundSet(HDEVINFO DevInfo, PSP_DEVINFO_DATA DevData, HDEVINFO& Found) {
  if (Found == INVALID_HANDLE_VALUE) {
    Found = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (Found == INVALID_HANDLE_VALUE) return LastErrorOfFailure();
  }
  char instanceId[200];
  if (!SetupDiGetDeviceInstanceIdA(DevInfo, DevData, instanceId, sizeof(instanceId), nullptr))
    return LastErrorOfFailure();
  if (!SetupDiOpenDeviceInfoA(Found, instanceId, nullptr, 0, nullptr)) return LastErrorOfFailure();
  return 0;
}

// The result of walking one device's hardware-ID list.
enum TWalk { wNoMatch, wSelected, wNoMemory };

// Walks the list that Windows returned in Size bytes of Data. A string ends at its NUL or at the
// end of the data, the list at its empty string or at the end of the data: the buffer is reused
// from device to device, so nothing past Size belongs to this device.
TWalk WalkHardwareIds(const char* Data, DWORD Size, const char* HardwareId, bool NotPresentOnly, DEVINST DevInst) {
  for (DWORD start = 0; start < Size;) {
    DWORD end = start;
    while (end < Size && Data[end]) ++end;
    if (end == start) break;
    bool equal;
    if (end < Size) {
      equal = lstrcmpiA(Data + start, HardwareId) == 0;
    } else {
      // The last string has no NUL within the data: compare a terminated copy.
      AnsiText last;
      if (!last.Append(Data + start, end - start)) return wNoMemory;
      equal = lstrcmpiA(last.c_str(), HardwareId) == 0;
    }
    // An equal string of a present device does not end the walk: only selection does.
    if (equal && (!NotPresentOnly || NotPresent(DevInst))) return wSelected;
    start = end + 1;
  }
  return wNoMatch;
}

}  // namespace

DWORD FindDevices(const char* Enumerator, const char* HardwareId, bool NotPresentOnly, HDEVINFO& FoundSet) {
  DWORD result = 0;
  HDEVINFO found = INVALID_HANDLE_VALUE;
  FoundSet = INVALID_HANDLE_VALUE;
  // Without the configuration manager a present device could not be told from an absent one.
  if (NotPresentOnly && !GetDevNodeStatusProc) return ERROR_INVALID_FUNCTION;
  HDEVINFO all = SetupDiGetClassDevsA(nullptr, Enumerator, nullptr, DIGCF_ALLCLASSES);
  if (all == INVALID_HANDLE_VALUE) return 0;

  // One property buffer for the whole search; it grows to exactly the size that Windows asks for.
  BYTE* buffer = nullptr;
  DWORD bufferSize = 0;
  SP_DEVINFO_DATA dev;
  dev.cbSize = sizeof(dev);
  DWORD index = 0;
  while (result == 0 && SetupDiEnumDeviceInfo(all, index, &dev)) {
    DWORD type = 0, required = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(all, &dev, SPDRP_HARDWAREID, &type, buffer, bufferSize, &required)) {
      // Too small: the same device is fetched and read again at the size asked for. A size that is
      // not larger would fail again, so that device is skipped like any other failure.
      if (GetLastError() == ERROR_INSUFFICIENT_BUFFER && required > bufferSize) {
        if (buffer) HeapFree(GetProcessHeap(), 0, buffer);
        bufferSize = 0;
        buffer = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, required));
        if (!buffer) {
          result = ERROR_NOT_ENOUGH_MEMORY;
          break;
        }
        bufferSize = required;
        continue;
      }
      ++index;
      continue;
    }
    if (type == REG_MULTI_SZ && required >= 2) {
      DWORD size = required < bufferSize ? required : bufferSize;
      switch (WalkHardwareIds(reinterpret_cast<const char*>(buffer), size, HardwareId, NotPresentOnly, dev.DevInst)) {
        case wSelected: result = AddToFoundSet(all, &dev, found); break;
        case wNoMemory: result = ERROR_NOT_ENOUGH_MEMORY; break;
        case wNoMatch: break;
      }
    }
    ++index;
  }

  if (buffer) HeapFree(GetProcessHeap(), 0, buffer);
  SetupDiDestroyDeviceInfoList(all);
  // No set is handed back with an error.
  if (result != 0 && found != INVALID_HANDLE_VALUE) {
    SetupDiDestroyDeviceInfoList(found);
    found = INVALID_HANDLE_VALUE;
  }
  FoundSet = found;
  return result;
}

DWORD GetConfigFlags(HDEVINFO DevInfo, PSP_DEVINFO_DATA DevData) {
  DWORD type = 0, flags = 0;
  if (!SetupDiGetDeviceRegistryPropertyA(DevInfo, DevData, SPDRP_CONFIGFLAGS, &type, reinterpret_cast<PBYTE>(&flags),
                                         sizeof(flags), nullptr) ||
      type != REG_DWORD)
    return 0;
  return flags;
}

bool SetConfigFlags(HDEVINFO DevInfo, PSP_DEVINFO_DATA DevData, DWORD Flags) {
  return SetupDiSetDeviceRegistryPropertyA(DevInfo, DevData, SPDRP_CONFIGFLAGS, reinterpret_cast<const BYTE*>(&Flags),
                                           sizeof(Flags)) != FALSE;
}

void SetReinstallFlag(HDEVINFO DevInfo) {
  SP_DEVINFO_DATA dev;
  dev.cbSize = sizeof(dev);
  // A failed write leaves that device as it was; the others are still flagged.
  for (DWORD index = 0; SetupDiEnumDeviceInfo(DevInfo, index, &dev); ++index)
    SetConfigFlags(DevInfo, &dev, GetConfigFlags(DevInfo, &dev) | CONFIGFLAG_REINSTALL);
}

DWORD MarkForReinstall(const char* Enumerator, const char* HardwareId) {
  HDEVINFO found;
  DWORD result = FindDevices(Enumerator, HardwareId, true, found);
  if (found != INVALID_HANDLE_VALUE) {
    SetReinstallFlag(found);
    SetupDiDestroyDeviceInfoList(found);
  }
  return result;
}
