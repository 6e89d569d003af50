// The uninstall procedure: the vendor's devices with their driver packages, then the two
// packages of the vendor by their fixed names.
#include "driverinstall/DriverInstall.h"
#include "install/Install.h"

bool DoUninstall(TMainWindow* Window) {
  HWND handle = WindowHandle(Window);
  // The window takes progress texts only while the removal sends them.
  bool outer = Window && Window->TakeProgress(true);
  bool result = UninstallDevices("USB", "USB\\VID_7A3C&", handle, WM_ADDLOG);
  // A call of the removal may have let in a message that destroyed the window and its object.
  if (handle && (Window = MainWindowOf(handle))) Window->TakeProgress(outer);
  // Either package may never have been installed under its own name; nothing to report then.
  SetupUninstallOEMInfA("usbvelto.inf", SUOI_FORCEDELETE, nullptr);
  SetupUninstallOEMInfA("veltowinusb.inf", SUOI_FORCEDELETE, nullptr);
  return result;
}
