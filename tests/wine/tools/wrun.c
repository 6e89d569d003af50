// wrun: runs one Windows program as its debugger and reports, one item per line in UTF-8:
//   debug: TEXT                 every debug-output string, as sent (control characters as \xNN)
//   window: class="C" caption="T" text="S"   every visible top-level window of the program,
//                               once, with the texts of its static controls joined by " | "
//   closed: caption="T"         a dialog box answered with -close
//   exception: 0xCODE           an exception that the program left unhandled
//   first-chance: 0xCODE        with -firstchance: every exception as it is raised, also one that
//                               the program or Wine handled (Wine swallows some in window procedures)
//   timeout                     the program was still running after the time limit and was ended
//   exit: 0xCODE                the full 32-bit exit code
// Usage: wrun [-dir DIR] [-timeout MS] [-close] [-firstchance] PROGRAM [ARGUMENT...]
//        wrun -osinfo     prints "os: MAJOR.MINOR.BUILD type=PRODUCTTYPE arch=NATIVEARCH acp=CODEPAGE"
//                         as a program without a supportedOS manifest sees it
// The arguments go on the program's command line exactly as given, joined by single spaces and
// without quotes of their own, so a test can hand the program any quoting it wants to check.
// Exit code of wrun itself: 0 when the program ended by itself, 3 on timeout, 2 on a usage or
// start failure.
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

static HANDLE Out;
static DWORD ChildPid;
static int CloseBoxes;
static int FirstChance;

static void Write(const char* s, int n) {
  DWORD done;
  WriteFile(Out, s, (DWORD)n, &done, NULL);
}

// Writes a UTF-16 text as UTF-8, control characters escaped so that one item stays one line.
static void WriteText(const WCHAR* w, int len) {
  for (int i = 0; i < len; ++i) {
    if (w[i] < 0x20 || w[i] == 0x7F) {
      char esc[8];
      int n = snprintf(esc, sizeof esc, "\\x%02X", (unsigned)w[i]);
      Write(esc, n);
      continue;
    }
    int j = i;
    while (j < len && w[j] >= 0x20 && w[j] != 0x7F) ++j;
    int n = WideCharToMultiByte(CP_UTF8, 0, w + i, j - i, NULL, 0, NULL, NULL);
    char* buf = (char*)malloc(n > 0 ? (size_t)n : 1);
    if (buf) {
      WideCharToMultiByte(CP_UTF8, 0, w + i, j - i, buf, n, NULL, NULL);
      Write(buf, n);
      free(buf);
    }
    i = j - 1;
  }
}

static void WriteLine(const char* s) {
  Write(s, (int)strlen(s));
  Write("\n", 1);
}

// ---- Windows of the program ----

#define MAX_SEEN 256
static HWND Seen[MAX_SEEN];
static int SeenCount;

typedef struct {
  WCHAR text[2048];
  int len;
} TextList;

static BOOL CALLBACK CollectStatic(HWND child, LPARAM param) {
  TextList* list = (TextList*)param;
  WCHAR cls[64], text[1024];
  if (!GetClassNameW(child, cls, 64) || lstrcmpiW(cls, L"Static") != 0) return TRUE;
  int n = GetWindowTextW(child, text, 1024);
  if (n <= 0) return TRUE;
  if (list->len && list->len + 3 < 2047) {
    wcscpy(list->text + list->len, L" | ");
    list->len += 3;
  }
  if (list->len + n < 2047) {
    wcscpy(list->text + list->len, text);
    list->len += n;
  }
  return TRUE;
}

static BOOL CALLBACK FindButton(HWND child, LPARAM param) {
  WCHAR cls[64];
  if (GetClassNameW(child, cls, 64) && lstrcmpiW(cls, L"Button") == 0 && IsWindowVisible(child)) {
    *(HWND*)param = child;
    return FALSE;
  }
  return TRUE;
}

static void ReportWindow(HWND wnd) {
  WCHAR cls[256], caption[1024];
  int clsLen = GetClassNameW(wnd, cls, 256);
  int capLen = GetWindowTextW(wnd, caption, 1024);
  TextList statics;
  statics.len = 0;
  statics.text[0] = 0;
  EnumChildWindows(wnd, CollectStatic, (LPARAM)&statics);
  Write("window: class=\"", 15);
  WriteText(cls, clsLen > 0 ? clsLen : 0);
  Write("\" caption=\"", 11);
  WriteText(caption, capLen > 0 ? capLen : 0);
  Write("\" text=\"", 8);
  WriteText(statics.text, statics.len);
  WriteLine("\"");
  // A dialog box is answered the way a user pressing Enter would: its default (first) button.
  if (CloseBoxes && lstrcmpW(cls, L"#32770") == 0) {
    HWND button = NULL;
    EnumChildWindows(wnd, FindButton, (LPARAM)&button);
    int id = button ? GetDlgCtrlID(button) : IDOK;
    PostMessageW(wnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)button);
    Write("closed: caption=\"", 17);
    WriteText(caption, capLen > 0 ? capLen : 0);
    WriteLine("\"");
  }
}

static BOOL CALLBACK PollWindow(HWND wnd, LPARAM param) {
  (void)param;
  DWORD pid = 0;
  GetWindowThreadProcessId(wnd, &pid);
  if (pid != ChildPid || !IsWindowVisible(wnd)) return TRUE;
  for (int i = 0; i < SeenCount; ++i)
    if (Seen[i] == wnd) return TRUE;
  if (SeenCount < MAX_SEEN) Seen[SeenCount++] = wnd;
  ReportWindow(wnd);
  return TRUE;
}

static void PollWindows(void) { EnumWindows(PollWindow, 0); }

// ---- Debug events ----

static void ReportDebugString(HANDLE process, const OUTPUT_DEBUG_STRING_INFO* info) {
  SIZE_T chars = info->nDebugStringLength;
  if (chars > 65536) chars = 65536;
  SIZE_T unit = info->fUnicode ? 2 : 1;
  char* raw = (char*)calloc(chars + 1, unit);
  if (!raw) return;
  SIZE_T got = 0;
  ReadProcessMemory(process, info->lpDebugStringData, raw, chars * unit, &got);
  WCHAR* text;
  int len;
  if (info->fUnicode) {
    text = (WCHAR*)raw;
    len = (int)(got / 2);
    while (len > 0 && text[len - 1] == 0) --len;
  } else {
    int bytes = (int)got;
    while (bytes > 0 && raw[bytes - 1] == 0) --bytes;
    len = MultiByteToWideChar(CP_ACP, 0, raw, bytes, NULL, 0);
    text = (WCHAR*)calloc((size_t)len + 1, sizeof(WCHAR));
    if (text) MultiByteToWideChar(CP_ACP, 0, raw, bytes, text, len);
    else len = 0;
  }
  Write("debug: ", 7);
  if (text) WriteText(text, len);
  Write("\n", 1);
  if (text != (WCHAR*)raw) free(text);
  free(raw);
}

static void OsInfo(void) {
  OSVERSIONINFOEXW v;
  memset(&v, 0, sizeof v);
  v.dwOSVersionInfoSize = sizeof v;
  GetVersionExW((OSVERSIONINFOW*)&v);
  SYSTEM_INFO si;
  GetNativeSystemInfo(&si);
  char msg[128];
  snprintf(msg, sizeof msg, "os: %lu.%lu.%lu type=%u arch=%u acp=%u", v.dwMajorVersion, v.dwMinorVersion,
           v.dwBuildNumber, v.wProductType, si.wProcessorArchitecture, GetACP());
  WriteLine(msg);
  ExitProcess(0);
}

static void Usage(void) {
  WriteLine("usage: wrun [-dir DIR] [-timeout MS] [-close] [-firstchance] PROGRAM [ARGUMENT...]");
  ExitProcess(2);
}

int main(void) {
  Out = GetStdHandle(STD_OUTPUT_HANDLE);
  int argc = 0;
  WCHAR** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  const WCHAR* dir = NULL;
  DWORD timeout = 60000;
  int i = 1;
  for (; i < argc && argv[i][0] == L'-'; ++i) {
    if (!wcscmp(argv[i], L"-dir") && i + 1 < argc) dir = argv[++i];
    else if (!wcscmp(argv[i], L"-timeout") && i + 1 < argc) timeout = (DWORD)wcstoul(argv[++i], NULL, 10);
    else if (!wcscmp(argv[i], L"-close")) CloseBoxes = 1;
    else if (!wcscmp(argv[i], L"-firstchance")) FirstChance = 1;
    else if (!wcscmp(argv[i], L"-osinfo")) OsInfo();
    else Usage();
  }
  if (i >= argc) Usage();

  // Command line: the program in quotes, then the arguments as given.
  size_t size = wcslen(argv[i]) + 3;
  for (int k = i + 1; k < argc; ++k) size += wcslen(argv[k]) + 1;
  WCHAR* cmd = (WCHAR*)calloc(size + 1, sizeof(WCHAR));
  if (!cmd) return 2;
  wcscat(cmd, L"\"");
  wcscat(cmd, argv[i]);
  wcscat(cmd, L"\"");
  for (int k = i + 1; k < argc; ++k) {
    wcscat(cmd, L" ");
    wcscat(cmd, argv[k]);
  }

  if (dir && !SetCurrentDirectoryW(dir)) {
    char msg[64];
    snprintf(msg, sizeof msg, "error: SetCurrentDirectory 0x%lX", GetLastError());
    WriteLine(msg);
    return 2;
  }
  STARTUPINFOW si;
  PROCESS_INFORMATION pi;
  memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  if (!CreateProcessW(NULL, cmd, NULL, NULL, FALSE, DEBUG_ONLY_THIS_PROCESS, NULL, NULL, &si, &pi)) {
    char msg[64];
    snprintf(msg, sizeof msg, "error: CreateProcess 0x%lX", GetLastError());
    WriteLine(msg);
    return 2;
  }
  ChildPid = pi.dwProcessId;
  DWORD start = GetTickCount();
  int timedOut = 0;
  DWORD exitCode = 0;

  for (;;) {
    if (!timedOut && GetTickCount() - start > timeout) {
      timedOut = 1;
      PollWindows();
      WriteLine("timeout");
      TerminateProcess(pi.hProcess, 0xDEAD);
    }
    DEBUG_EVENT ev;
    if (!WaitForDebugEvent(&ev, 50)) {
      PollWindows();
      continue;
    }
    DWORD cont = DBG_CONTINUE;
    int done = 0;
    switch (ev.dwDebugEventCode) {
      case CREATE_PROCESS_DEBUG_EVENT:
        if (ev.u.CreateProcessInfo.hFile) CloseHandle(ev.u.CreateProcessInfo.hFile);
        break;
      case LOAD_DLL_DEBUG_EVENT:
        if (ev.u.LoadDll.hFile) CloseHandle(ev.u.LoadDll.hFile);
        break;
      case OUTPUT_DEBUG_STRING_EVENT:
        ReportDebugString(pi.hProcess, &ev.u.DebugString);
        break;
      case EXCEPTION_DEBUG_EVENT: {
        DWORD code = ev.u.Exception.ExceptionRecord.ExceptionCode;
        // 0x4000001F: the breakpoint of a 32-bit process on 64-bit Windows.
        if (code == EXCEPTION_BREAKPOINT || code == 0x4000001F) break;
        cont = DBG_EXCEPTION_NOT_HANDLED;
        if (ev.u.Exception.dwFirstChance && FirstChance) {
          char msg[64];
          snprintf(msg, sizeof msg, "first-chance: 0x%08lX", code);
          WriteLine(msg);
        }
        if (!ev.u.Exception.dwFirstChance) {
          char msg[64];
          snprintf(msg, sizeof msg, "exception: 0x%08lX", code);
          WriteLine(msg);
        }
        break;
      }
      case EXIT_PROCESS_DEBUG_EVENT:
        exitCode = ev.u.ExitProcess.dwExitCode;
        done = 1;
        break;
      default:
        break;
    }
    ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, cont);
    if (done) break;
  }
  char msg[64];
  snprintf(msg, sizeof msg, "exit: 0x%08lX", exitCode);
  WriteLine(msg);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return timedOut ? 3 : 0;
}
