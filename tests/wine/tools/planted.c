// A DLL of our own that stands for one that someone laid beside a program: loading it runs its
// entry point, which appends "<its own path> in <the program's path>" to C:\wtest\planted.log.
// It is copied under the names of the DLLs that the programs use (newdev.dll, cfgmgr32.dll), and
// exports their entries, failing, so that a loader that takes it for one of them gets that far.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char line[2 * MAX_PATH + 8];
  DWORD n = GetModuleFileNameA(self, line, MAX_PATH);
  lstrcpyA(line + n, " in ");
  DWORD m = GetModuleFileNameA(NULL, line + n + 4, MAX_PATH);
  lstrcpyA(line + n + 4 + m, "\r\n");
  HANDLE f = CreateFileA("C:\\wtest\\planted.log", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                         OPEN_ALWAYS, 0, NULL);
  if (f != INVALID_HANDLE_VALUE) {
    DWORD done;
    WriteFile(f, line, (DWORD)lstrlenA(line), &done, NULL);
    CloseHandle(f);
  }
  return TRUE;
}

__declspec(dllexport) BOOL WINAPI UpdateDriverForPlugAndPlayDevicesA(HWND owner, LPCSTR id, LPCSTR path, DWORD flags,
                                                                     PBOOL reboot) {
  (void)owner, (void)id, (void)path, (void)flags, (void)reboot;
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return FALSE;
}

__declspec(dllexport) BOOL WINAPI DiInstallDriverA(HWND owner, LPCSTR path, DWORD flags, PBOOL reboot) {
  (void)owner, (void)path, (void)flags, (void)reboot;
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return FALSE;
}

__declspec(dllexport) DWORD WINAPI CM_Get_DevNode_Status(PULONG status, PULONG problem, DWORD node, ULONG flags) {
  (void)status, (void)problem, (void)node, (void)flags;
  return 0x13;  // CR_FAILURE
}
