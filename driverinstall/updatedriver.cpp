// The per-hardware-ID install, through UpdateDriverForPlugAndPlayDevicesA as BindSystemEntries
// bound it.
#include "driverinstall/DriverInstall.h"

DWORD UpdateDeviceDriver(HWND Wnd, const char* /*Enumerator*/, const char* HardwareId, const char* InfPath, bool Force,
                         bool& Reboot) {
  if (!UpdateDriverProc) return ERROR_INVALID_FUNCTION;
  BOOL rebootFlag = FALSE;
  BOOL ok = UpdateDriverProc(Wnd, HardwareId, InfPath, Force ? INSTALLFLAG_FORCE : 0, &rebootFlag);
  return FinishInstallCall(ok, rebootFlag, InfPath, Reboot);
}

