// A test-only newdev.dll for Wine, whose own DiInstallDriverA always succeeds and never answers
// ERROR_IN_WOW64. This one answers what the test asks for and records how it was called, so that
// the 64-bit hand-over of install.exe runs for real: the 32-bit build is told to refuse with
// ERROR_IN_WOW64, the 64-bit build answers quorvin.exe with the code under test.
//   HKCU\Software\VeltoTest  Answer32 / Answer64 (REG_DWORD): 0 or missing: success; else the
//                            error that the call fails with
//                            Calls32 / Calls64 (REG_SZ, appended): one "owner|path|flags;" per call
//                            Callers32 / Callers64 (REG_SZ, appended): the calling program's
//                            file, one "path;" per call
// The per-device install is not under test here: it fails with ERROR_CALL_NOT_IMPLEMENTED.
#include <windows.h>
#include <stdio.h>

#ifdef _WIN64
#define BITS L"64"
#else
#define BITS L"32"
#endif

static const WCHAR Key[] = L"Software\\VeltoTest";

// Appends the text to the REG_SZ value.
static void Append(HKEY hkey, const WCHAR* name, const WCHAR* text) {
  WCHAR all[4096] = L"";
  DWORD size = sizeof all - sizeof(WCHAR), type = 0;
  if (RegQueryValueExW(hkey, name, NULL, &type, (BYTE*)all, &size) || type != REG_SZ) all[0] = 0;
  all[4095] = 0;
  size_t used = wcslen(all);
  _snwprintf(all + used, 4095 - used, L"%ls", text);
  RegSetValueExW(hkey, name, 0, REG_SZ, (const BYTE*)all, (DWORD)((wcslen(all) + 1) * sizeof(WCHAR)));
}

static void Record(HWND owner, const char* path, DWORD flags) {
  HKEY hkey;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, Key, 0, NULL, 0, KEY_READ | KEY_WRITE, NULL, &hkey, NULL)) return;
  WCHAR calls[4096] = L"";
  DWORD size = sizeof calls - sizeof(WCHAR), type = 0;
  if (RegQueryValueExW(hkey, L"Calls" BITS, NULL, &type, (BYTE*)calls, &size) || type != REG_SZ) calls[0] = 0;
  calls[4095] = 0;
  size_t used = wcslen(calls);
  _snwprintf(calls + used, 4095 - used, L"%lu|%hs|0x%lX;", (unsigned long)(ULONG_PTR)owner, path ? path : "(null)", flags);
  RegSetValueExW(hkey, L"Calls" BITS, 0, REG_SZ, (const BYTE*)calls, (DWORD)((wcslen(calls) + 1) * sizeof(WCHAR)));
  WCHAR caller[MAX_PATH + 2] = L"";
  DWORD n = GetModuleFileNameW(NULL, caller, MAX_PATH);
  lstrcpyW(caller + n, L";");
  Append(hkey, L"Callers" BITS, caller);
  RegCloseKey(hkey);
}

static DWORD Answer(void) {
  DWORD answer = 0, size = sizeof answer, type = 0;
  HKEY hkey;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, Key, 0, KEY_READ, &hkey)) return 0;
  if (RegQueryValueExW(hkey, L"Answer" BITS, NULL, &type, (BYTE*)&answer, &size) || type != REG_DWORD) answer = 0;
  RegCloseKey(hkey);
  return answer;
}

__declspec(dllexport) BOOL WINAPI DiInstallDriverA(HWND owner, LPCSTR path, DWORD flags, PBOOL reboot) {
  Record(owner, path, flags);
  if (reboot) *reboot = FALSE;
  DWORD answer = Answer();
  if (answer == 0) return TRUE;
  SetLastError(answer);
  return FALSE;
}

__declspec(dllexport) BOOL WINAPI UpdateDriverForPlugAndPlayDevicesA(HWND owner, LPCSTR id, LPCSTR path, DWORD flags,
                                                                     PBOOL reboot) {
  (void)owner, (void)id, (void)path, (void)flags, (void)reboot;
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return FALSE;
}
