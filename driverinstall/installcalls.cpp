#include "driverinstall/DriverInstall.h"

TDiInstallDriverA DiInstallDriverProc = nullptr;

HMODULE LoadSystemLibrary(const WCHAR* Name) {
  WCHAR path[MAX_PATH];
  UINT n = GetSystemDirectoryW(path, MAX_PATH);
  size_t nameLength = 0;
  while (Name[nameLength]) ++nameLength;
  if (n == 0 || n + 1 + nameLength >= MAX_PATH) return nullptr;
  path[n++] = L'\\';
  for (size_t i = 0; i <= nameLength; ++i) path[n + i] = Name[i];
  return LoadLibraryW(path);
}

bool LoadDiInstallDriver() {
  HMODULE newdev = GetModuleHandleW(L"newdev.dll");
  if (!newdev) newdev = LoadSystemLibrary(L"newdev.dll");
  if (!newdev) return false;
  DiInstallDriverProc =
      reinterpret_cast<TDiInstallDriverA>(reinterpret_cast<void*>(GetProcAddress(newdev, "DiInstallDriverA")));
  return DiInstallDriverProc != nullptr;
}

// The error of a failed Windows call; a failure that names no error is still a failure.
DWORD LastErrorOfFailure() {
  DWORD e = GetLastError();
  return e ? e : ERROR_INVALID_FUNCTION;
}

// What both install calls share after Windows answered: the restart flag, and on
// ERROR_NO_SUCH_DEVINST the copy of the package into the driver store.
DWORD FinishInstallCall(BOOL ok, BOOL rebootFlag, const char* InfPath, bool& Reboot) {
  Reboot = rebootFlag != FALSE;
  if (ok) return ERROR_SUCCESS;
  DWORD e = LastErrorOfFailure();
  if (e == ERROR_NO_SUCH_DEVINST &&
      !SetupCopyOEMInfA(InfPath, nullptr, SPOST_PATH, 0, nullptr, 0, nullptr, nullptr))
    e = LastErrorOfFailure();
  return e;
}

DWORD InstallDriverPackage(HWND Wnd, const char* InfPath, bool Force, bool& Reboot) {
  if (!DiInstallDriverProc) return ERROR_INVALID_FUNCTION;
  BOOL rebootFlag = FALSE;
  BOOL ok = DiInstallDriverProc(Wnd, InfPath, Force ? DIIRFLAG_FORCE_INF : 0, &rebootFlag);
  return FinishInstallCall(ok, rebootFlag, InfPath, Reboot);
}
