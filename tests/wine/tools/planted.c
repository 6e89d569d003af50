// A DLL of our own that stands for one that someone laid beside a program: loading it runs its
// entry point, which appends "<its own path> in <the program's path>" to C:\wtest\planted.log.
// It is copied under the names of the DLLs that the programs use (newdev.dll, cfgmgr32.dll), and
// exports their entries (those of newdev.dll as our test newdev.dll has them, CM_Get_DevNode_Status
// failing), so that a loader that takes it for one of them gets that far. What its newdev entries
// are asked is recorded as "Planted" + the test newdev's value names.
#define RECORD_PREFIX L"Planted"
#include "newdev.c"

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

__declspec(dllexport) DWORD WINAPI CM_Get_DevNode_Status(PULONG status, PULONG problem, DWORD node, ULONG flags) {
  (void)status, (void)problem, (void)node, (void)flags;
  return 0x13;  // CR_FAILURE
}
