// A test-only cfgmgr32.dll for Wine, whose own CM_Get_DevNode_Status calls every device present.
// It answers from the device's key HKLM\System\CurrentControlSet\Enum\<instance ID>: a REG_DWORD
// "TestPresent" of 0 makes the device absent (CR_NO_SUCH_DEVNODE, as Windows answers for a device
// that is not plugged in); any other value, or none, makes it present and started. Every other
// export goes on to setupapi.dll, where Wine keeps the configuration manager.
#define _CFGMGR32_  // this is cfgmgr32 itself: its functions are defined here, not imported
#include <windows.h>
#include <cfgmgr32.h>
#include <wchar.h>

typedef CONFIGRET(WINAPI* TGetDeviceIdW)(DEVINST, PWSTR, ULONG, ULONG);

static CONFIGRET Status(PULONG status, PULONG problem, DEVINST devInst) {
  if (!status || !problem) return CR_INVALID_POINTER;
  // Through GetProcAddress: an import of CM_Get_Device_IDW would resolve to this DLL itself.
  HMODULE setupapi = LoadLibraryW(L"setupapi.dll");
  TGetDeviceIdW getId =
      setupapi ? (TGetDeviceIdW)(void*)GetProcAddress(setupapi, "CM_Get_Device_IDW") : NULL;
  if (!getId) return CR_FAILURE;
  WCHAR key[400] = L"System\\CurrentControlSet\\Enum\\";
  size_t prefix = wcslen(key);
  CONFIGRET cr = getId(devInst, key + prefix, (ULONG)(400 - prefix), 0);
  if (cr != CR_SUCCESS) return cr;
  DWORD present = 1, type = 0, size = sizeof present;
  HKEY hkey;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &hkey) == ERROR_SUCCESS) {
    if (RegQueryValueExW(hkey, L"TestPresent", NULL, &type, (BYTE*)&present, &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
      present = 1;
    RegCloseKey(hkey);
  }
  if (!present) return CR_NO_SUCH_DEVNODE;
  *status = DN_DRIVER_LOADED | DN_STARTED;
  *problem = 0;
  return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_DevNode_Status(PULONG status, PULONG problem, DEVINST devInst, ULONG flags) {
  (void)flags;
  return Status(status, problem, devInst);
}

CONFIGRET WINAPI CM_Get_DevNode_Status_Ex(PULONG status, PULONG problem, DEVINST devInst, ULONG flags,
                                          HMACHINE machine) {
  (void)flags;
  (void)machine;
  return Status(status, problem, devInst);
}
