// A test-only newdev.dll for Wine, whose own install calls succeed for any file and never answer
// ERROR_IN_WOW64. This one records how it was called and answers what the test asks for, so that
// a scenario learns what the program asked of Windows (which file, which hardware ID, which
// flags, which owner window) and the 64-bit hand-over of install.exe runs for real: the 32-bit
// build is told to refuse with ERROR_IN_WOW64, the 64-bit build answers quorvin.exe with the code
// under test.
//   HKCU\Software\VeltoTest  Answer32 / Answer64 (REG_DWORD): DiInstallDriverA's answer,
//                            UpdateAnswer32 / UpdateAnswer64: UpdateDriverForPlugAndPlayDevicesA's;
//                            0 or missing: as Windows answers a good package (success), or
//                            ERROR_FILE_NOT_FOUND when the path names no file; else the error
//                            that the call fails with
//                            Calls32 / Calls64 (REG_SZ, appended): "owner|path|flags;" per
//                            DiInstallDriverA call
//                            Updates32 / Updates64 (REG_SZ, appended): "owner|id|path|flags;"
//                            per UpdateDriverForPlugAndPlayDevicesA call
//                            Callers32 / Callers64 (REG_SZ, appended): the calling program's
//                            file, "path;" per call of either
// The owner is "0" for none, CLASS "CAPTION" for a window (the call runs in the caller's
// process, so the window is read here), or 0xHANDLE? for a handle that names no window; flags in
// hexadecimal. Texts are the caller's ANSI strings as the ANSI code page reads them.
#include <windows.h>
#include <stdio.h>

#ifdef _WIN64
#define BITS L"64"
#else
#define BITS L"32"
#endif

#define RECORD_MAX 16384  // characters of one recorded value
#define TEXT_MAX 1024     // characters of one argument as recorded

// The planted DLL (planted.c) builds this file with a prefix of its own, so that its calls are
// never taken for those of the system's newdev.dll.
#ifndef RECORD_PREFIX
#define RECORD_PREFIX L""
#endif

static const WCHAR Key[] = L"Software\\VeltoTest";

// Appends the text to the REG_SZ value; a record too long for the value is cut short and ends in
// "...", which no scenario expects.
static void Append(HKEY hkey, const WCHAR* name, const WCHAR* text) {
  static WCHAR all[RECORD_MAX];
  DWORD size = sizeof all - sizeof(WCHAR), type = 0;
  if (RegQueryValueExW(hkey, name, NULL, &type, (BYTE*)all, &size) || type != REG_SZ) size = 0;
  all[size / sizeof(WCHAR)] = 0;
  size_t used = wcslen(all), room = RECORD_MAX - 1 - used;
  if (wcslen(text) <= room) {
    wcscat(all, text);
  } else if (room >= 3) {
    wcsncat(all, text, room - 3);
    wcscat(all, L"...");
  }
  RegSetValueExW(hkey, name, 0, REG_SZ, (const BYTE*)all, (DWORD)((wcslen(all) + 1) * sizeof(WCHAR)));
}

// An ANSI text of the caller as UTF-16, "(null)" for none.
static void Widen(const char* text, WCHAR* out, int size) {
  if (!text) {
    lstrcpynW(out, L"(null)", size);
  } else if (!MultiByteToWideChar(CP_ACP, 0, text, -1, out, size)) {
    lstrcpynW(out, L"(unreadable)", size);
  }
}

// The owner as "0", CLASS "CAPTION" or 0xHANDLE?.
static void DescribeOwner(HWND owner, WCHAR* out, int size) {
  WCHAR cls[128] = L"", caption[256] = L"";
  if (!owner) {
    lstrcpynW(out, L"0", size);
  } else if (!IsWindow(owner)) {
    _snwprintf(out, size, L"0x%llX?", (unsigned long long)(ULONG_PTR)owner);
  } else {
    GetClassNameW(owner, cls, 128);
    GetWindowTextW(owner, caption, 256);
    _snwprintf(out, size, L"%ls \"%ls\"", cls, caption);
  }
  out[size - 1] = 0;
}

// Records one call: the line into the value NAME + bitness, the program into Callers.
static void Record(const WCHAR* name, const WCHAR* line) {
  HKEY hkey;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, Key, 0, NULL, 0, KEY_READ | KEY_WRITE, NULL, &hkey, NULL)) return;
  WCHAR value[32];
  _snwprintf(value, 32, RECORD_PREFIX L"%ls" BITS, name);
  value[31] = 0;
  Append(hkey, value, line);
  WCHAR caller[MAX_PATH + 2] = L"";
  DWORD n = GetModuleFileNameW(NULL, caller, MAX_PATH);
  lstrcpyW(caller + n, L";");
  Append(hkey, RECORD_PREFIX L"Callers" BITS, caller);
  RegCloseKey(hkey);
}

// The answer that the test asks for, or Windows' answer for the file.
static DWORD Answer(const WCHAR* name, const char* path) {
  DWORD answer = 0, size = sizeof answer, type = 0;
  HKEY hkey;
  WCHAR value[32];
  _snwprintf(value, 32, L"%ls" BITS, name);
  value[31] = 0;
  if (!RegOpenKeyExW(HKEY_CURRENT_USER, Key, 0, KEY_READ, &hkey)) {
    if (RegQueryValueExW(hkey, value, NULL, &type, (BYTE*)&answer, &size) || type != REG_DWORD) answer = 0;
    RegCloseKey(hkey);
  }
  if (answer) return answer;
  DWORD attributes = path ? GetFileAttributesA(path) : INVALID_FILE_ATTRIBUTES;
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return ERROR_FILE_NOT_FOUND;
  return 0;
}

static BOOL Finish(DWORD answer, PBOOL reboot) {
  if (reboot) *reboot = FALSE;
  if (answer == 0) return TRUE;
  SetLastError(answer);
  return FALSE;
}

__declspec(dllexport) BOOL WINAPI DiInstallDriverA(HWND owner, LPCSTR path, DWORD flags, PBOOL reboot) {
  WCHAR who[TEXT_MAX], file[TEXT_MAX], line[3 * TEXT_MAX];
  DescribeOwner(owner, who, TEXT_MAX);
  Widen(path, file, TEXT_MAX);
  _snwprintf(line, 3 * TEXT_MAX, L"%ls|%ls|0x%lX;", who, file, (unsigned long)flags);
  line[3 * TEXT_MAX - 1] = 0;
  Record(L"Calls", line);
  return Finish(Answer(L"Answer", path), reboot);
}

__declspec(dllexport) BOOL WINAPI UpdateDriverForPlugAndPlayDevicesA(HWND owner, LPCSTR id, LPCSTR path, DWORD flags,
                                                                     PBOOL reboot) {
  WCHAR who[TEXT_MAX], hwid[TEXT_MAX], file[TEXT_MAX], line[4 * TEXT_MAX];
  DescribeOwner(owner, who, TEXT_MAX);
  Widen(id, hwid, TEXT_MAX);
  Widen(path, file, TEXT_MAX);
  _snwprintf(line, 4 * TEXT_MAX, L"%ls|%ls|%ls|0x%lX;", who, hwid, file, (unsigned long)flags);
  line[4 * TEXT_MAX - 1] = 0;
  Record(L"Updates", line);
  return Finish(Answer(L"UpdateAnswer", path), reboot);
}
