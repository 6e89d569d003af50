// The per-hardware-ID install. A file of its own, so that quorvin, which does not use it, does not
// link newdev.dll at load time.
#include "driverinstall/DriverInstall.h"

DWORD UpdateDeviceDriver(HWND Wnd, const char* /*Enumerator*/, const char* HardwareId, const char* InfPath, bool Force,
                         bool& Reboot) {
  BOOL rebootFlag = FALSE;
  BOOL ok = UpdateDriverForPlugAndPlayDevicesA(Wnd, HardwareId, InfPath, Force ? INSTALLFLAG_FORCE : 0, &rebootFlag);
  return FinishInstallCall(ok, rebootFlag, InfPath, Reboot);
}

