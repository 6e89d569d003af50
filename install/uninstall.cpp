// The uninstall procedure: the vendor's devices with their driver packages, then the two
// packages of the vendor by their fixed names.
#include "driverinstall/DriverInstall.h"
#include "install/Install.h"

bool DoUninstall(TMainWindow* Window) {
  bool result = UninstallDevices("USB", "USB\\VID_7A3C&", WindowHandle(Window), WM_ADDLOG);
  // Either package may never have been installed under its own name; nothing to report then.
  SetupUninstallOEMInfA("usbvelto.inf", SUOI_FORCEDELETE, nullptr);
  SetupUninstallOEMInfA("veltowinusb.inf", SUOI_FORCEDELETE, nullptr);
  return result;
}
