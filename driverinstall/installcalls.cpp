#include "driverinstall/DriverInstall.h"

TDiInstallDriverA DiInstallDriverProc = nullptr;
TUpdateDriverForPlugAndPlayDevicesA UpdateDriverProc = nullptr;
TCM_Get_DevNode_Status GetDevNodeStatusProc = nullptr;

namespace {

// An entry of a module, as the type of its pointer; null when there is no module or no entry.
template <typename T>
T Entry(HMODULE Module, const char* Name) {
  return Module ? reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(Module, Name))) : nullptr;
}

// How the DLLs that a DLL of the system directory imports are looked for when it is loaded by its
// full path. Where Windows knows the LOAD_LIBRARY_SEARCH flags (its kernel32 has
// SetDefaultDllDirectories then), in the system directory alone, whatever search the process
// has. Elsewhere (Windows XP and Server 2003, Vista and 7 without their update) the altered
// search: the DLL's own folder, the system directory, in the place of the program's folder.
// Windows refuses the two together.
DWORD ImportSearch() {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  bool flagsKnown = kernel && GetProcAddress(kernel, "SetDefaultDllDirectories");
  return flagsKnown ? LOAD_LIBRARY_SEARCH_SYSTEM32 : LOAD_WITH_ALTERED_SEARCH_PATH;
}

}  // namespace

HMODULE LoadSystemLibrary(const WCHAR* Name) {
  WCHAR path[MAX_PATH];
  UINT n = GetSystemDirectoryW(path, MAX_PATH);
  size_t nameLength = 0;
  while (Name[nameLength]) ++nameLength;
  if (n == 0 || n + 1 + nameLength >= MAX_PATH) return nullptr;
  path[n++] = L'\\';
  for (size_t i = 0; i <= nameLength; ++i) path[n + i] = Name[i];
  return LoadLibraryExW(path, nullptr, ImportSearch());
}

HMODULE SystemModule(const WCHAR* Name) {
  HMODULE module = GetModuleHandleW(Name);
  return module ? module : LoadSystemLibrary(Name);
}

void RestrictDllSearch() {
  typedef BOOL(WINAPI * TSetDefaultDllDirectories)(DWORD DirectoryFlags);
  typedef BOOL(WINAPI * TSetDllDirectoryW)(LPCWSTR lpPathName);
  // Looked up, not linked: Windows XP has neither of them, Windows 7 only with an update.
  HMODULE kernel = SystemModule(L"kernel32.dll");
  auto setDefault = Entry<TSetDefaultDllDirectories>(kernel, "SetDefaultDllDirectories");
  if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  // The program's folder stays in the search then; our own system DLLs come by full path, and
  // the DLLs they import from the system directory (LoadSystemLibrary).
  auto setDirectory = Entry<TSetDllDirectoryW>(kernel, "SetDllDirectoryW");
  if (setDirectory) setDirectory(L"");
}

bool BindSystemEntries() {
  HMODULE newdev = LoadSystemLibrary(L"newdev.dll");
  UpdateDriverProc = Entry<TUpdateDriverForPlugAndPlayDevicesA>(newdev, "UpdateDriverForPlugAndPlayDevicesA");
  GetDevNodeStatusProc = Entry<TCM_Get_DevNode_Status>(LoadSystemLibrary(L"cfgmgr32.dll"), "CM_Get_DevNode_Status");
  return UpdateDriverProc && GetDevNodeStatusProc;
}

bool LoadDiInstallDriver() {
  HMODULE newdev = SystemModule(L"newdev.dll");
  if (!newdev) return false;
  DiInstallDriverProc = Entry<TDiInstallDriverA>(newdev, "DiInstallDriverA");
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
