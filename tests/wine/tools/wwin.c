// wwin: reads a top-level window of another program back for the interactive Wine scenarios,
// one item per line in UTF-8. It never clicks, moves or sizes anything: the scenarios do that
// through the X server, as a person would.
// Usage:
//   wwin wait CAPTION MS   waits until a visible top-level window with this caption exists
//   wwin gone CAPTION MS   waits until no window with this caption exists
//   wwin closebox CAPTION  prints "closebox: X Y", the screen point in the middle of the area (sampled every 2 pixels)
//                          where the window answers WM_NCHITTEST with HTCLOSE, or "closebox: none"
//   wwin show CAPTION      prints the window, its children and its list lines:
//     window: visible=V rect=L T R B client=W H origin=X Y style=0xS
//     child: class="C" text="T" visible=V rect=L T R B screen=L T R B style=0xS exstyle=0xE
//     line: TEXT          (each line of each list box, in order; after "lines: N")
//   wwin imagebase CAPTION prints "imagebase: 0xADDRESS", where the window's program lies in its
//                          process (the instance its buttons were made with)
//   wwin send CAPTION MSG WPARAM LPARAM   another program's SendMessageW to the window (numbers
//                          in C notation); prints "sent: 0xRESULT" or "sent: failed 0xERROR"
//   wwin post CAPTION MSG WPARAM LPARAM   another program's PostMessageW to the window; prints
//                          "posted: handled" once the window's thread has taken everything posted
//                          before, or "posted: failed 0xERROR"
//   rect is the window rectangle (GetWindowRect) of the window in screen coordinates, and of a
//   child in the client coordinates of the window; origin is the client area's top left corner
//   on the screen (ClientToScreen). The list lines come from LB_GETCOUNT and LB_GETTEXT, which
//   Windows (and Wine) marshal between processes for a list box with strings.
// Exit code: 0 when found (or gone), 1 when not, 2 on a usage error.
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

static HANDLE Out;

static void Write(const char* s, int n) {
  DWORD done;
  WriteFile(Out, s, (DWORD)n, &done, NULL);
}

static void WriteA(const char* s) { Write(s, (int)strlen(s)); }

// A UTF-16 text as UTF-8, control characters and quotes as \xNN so that one item stays one line.
static void WriteText(const WCHAR* w, int len) {
  for (int i = 0; i < len; ++i) {
    if (w[i] < 0x20 || w[i] == 0x7F || w[i] == L'"') {
      char esc[8];
      int n = snprintf(esc, sizeof esc, "\\x%02X", (unsigned)w[i]);
      Write(esc, n);
      continue;
    }
    char buf[8];
    int n = WideCharToMultiByte(CP_UTF8, 0, w + i, 1, buf, sizeof buf, NULL, NULL);
    if (n > 0) Write(buf, n);
  }
}

typedef struct {
  const WCHAR* caption;
  HWND found;
  int visibleOnly;
} Search;

static BOOL CALLBACK FindTop(HWND wnd, LPARAM param) {
  Search* s = (Search*)param;
  WCHAR text[512];
  int n = GetWindowTextW(wnd, text, 512);
  if (n <= 0 || wcscmp(text, s->caption) != 0) return TRUE;
  if (s->visibleOnly && !IsWindowVisible(wnd)) return TRUE;
  s->found = wnd;
  return FALSE;
}

static HWND Find(const WCHAR* caption, int visibleOnly) {
  Search s = {caption, NULL, visibleOnly};
  EnumWindows(FindTop, (LPARAM)&s);
  return s.found;
}

static void WriteRect(const char* name, const RECT* r) {
  char buf[96];
  snprintf(buf, sizeof buf, " %s=%ld %ld %ld %ld", name, r->left, r->top, r->right, r->bottom);
  WriteA(buf);
}

static HWND Top;

static void WriteLines(HWND list) {
  LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
  char buf[64];
  snprintf(buf, sizeof buf, "lines: %ld\n", (long)count);
  WriteA(buf);
  for (LRESULT i = 0; i < count; ++i) {
    LRESULT len = SendMessageW(list, LB_GETTEXTLEN, (WPARAM)i, 0);
    if (len < 0) len = 0;
    WCHAR* text = (WCHAR*)calloc((size_t)len + 1, sizeof(WCHAR));
    if (!text) return;
    LRESULT got = SendMessageW(list, LB_GETTEXT, (WPARAM)i, (LPARAM)text);
    WriteA("line: ");
    WriteText(text, got > 0 ? (int)got : 0);
    WriteA("\n");
    free(text);
  }
}

static BOOL CALLBACK ShowChild(HWND child, LPARAM param) {
  (void)param;
  if (GetParent(child) != Top) return TRUE;  // direct children only
  WCHAR cls[64], text[512];
  int clsLen = GetClassNameW(child, cls, 64);
  int textLen = GetWindowTextW(child, text, 512);
  RECT screen, client;
  GetWindowRect(child, &screen);
  client = screen;
  MapWindowPoints(NULL, Top, (POINT*)&client, 2);
  WriteA("child: class=\"");
  WriteText(cls, clsLen > 0 ? clsLen : 0);
  WriteA("\" text=\"");
  WriteText(text, textLen > 0 ? textLen : 0);
  char buf[64];
  snprintf(buf, sizeof buf, "\" visible=%d", IsWindowVisible(child) ? 1 : 0);
  WriteA(buf);
  WriteRect("rect", &client);
  WriteRect("screen", &screen);
  snprintf(buf, sizeof buf, " style=0x%08lX exstyle=0x%08lX\n", (unsigned long)GetWindowLongW(child, GWL_STYLE),
           (unsigned long)GetWindowLongW(child, GWL_EXSTYLE));
  WriteA(buf);
  return TRUE;
}

static BOOL CALLBACK ShowLists(HWND child, LPARAM param) {
  (void)param;
  WCHAR cls[64];
  if (GetParent(child) == Top && GetClassNameW(child, cls, 64) && !lstrcmpiW(cls, L"ListBox")) WriteLines(child);
  return TRUE;
}

static int Show(HWND wnd) {
  RECT r, c;
  POINT origin = {0, 0};
  GetWindowRect(wnd, &r);
  GetClientRect(wnd, &c);
  ClientToScreen(wnd, &origin);
  char buf[160];
  snprintf(buf, sizeof buf, "window: visible=%d", IsWindowVisible(wnd) ? 1 : 0);
  WriteA(buf);
  WriteRect("rect", &r);
  snprintf(buf, sizeof buf, " client=%ld %ld origin=%ld %ld style=0x%08lX\n", c.right - c.left, c.bottom - c.top,
           origin.x, origin.y, (unsigned long)GetWindowLongW(wnd, GWL_STYLE));
  WriteA(buf);
  Top = wnd;
  EnumChildWindows(wnd, ShowChild, 0);
  EnumChildWindows(wnd, ShowLists, 0);
  return 0;
}

// The close box as the window itself reports it: every point of the top right corner is asked.
static int CloseBox(HWND wnd) {
  RECT r;
  GetWindowRect(wnd, &r);
  long left = r.right, top = r.bottom, right = r.left, bottom = r.top;
  for (long y = r.top; y < r.top + 48 && y < r.bottom; y += 2)
    for (long x = r.right - 1; x >= r.right - 96 && x >= r.left; x -= 2)
      if (SendMessageW(wnd, WM_NCHITTEST, 0, MAKELPARAM((short)x, (short)y)) == HTCLOSE) {
        if (x < left) left = x;
        if (x > right) right = x;
        if (y < top) top = y;
        if (y > bottom) bottom = y;
      }
  if (right < left) {
    WriteA("closebox: none\n");
    return 1;
  }
  char buf[64];
  snprintf(buf, sizeof buf, "closebox: %ld %ld\n", (left + right) / 2, (top + bottom) / 2);
  WriteA(buf);
  return 0;
}

// The window's Exit button, whose state tells when the window's thread has taken a posted message.
static BOOL CALLBACK FindExit(HWND child, LPARAM param) {
  WCHAR cls[64], text[64];
  if (GetClassNameW(child, cls, 64) && !lstrcmpiW(cls, L"Button") && GetWindowTextW(child, text, 64) &&
      !wcscmp(text, L"Exit")) {
    *(HWND*)param = child;
    return FALSE;
  }
  return TRUE;
}

static HWND ExitButton(HWND wnd) {
  HWND button = NULL;
  EnumChildWindows(wnd, FindExit, (LPARAM)&button);
  return button;
}

// Posted messages of one thread are taken in order: once a BM_SETSTATE posted after them has
// pushed the button, they have been handled. The button is released the same way.
static int WaitPosted(HWND button, WPARAM pushed) {
  if (!PostMessageW(button, BM_SETSTATE, pushed, 0)) return 0;
  DWORD start = GetTickCount();
  while (((SendMessageW(button, BM_GETSTATE, 0, 0) & BST_PUSHED) != 0) != (pushed != 0)) {
    if (!IsWindow(button) || GetTickCount() - start > 20000) return 0;
    Sleep(10);
  }
  return 1;
}

static int Foreign(const WCHAR* how, HWND wnd, WCHAR** args) {
  UINT msg = (UINT)wcstoul(args[0], NULL, 0);
  WPARAM wp = (WPARAM)wcstoull(args[1], NULL, 0);
  LPARAM lp = (LPARAM)wcstoull(args[2], NULL, 0);
  char buf[96];
  if (!wcscmp(how, L"send")) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(wnd, msg, wp, lp, SMTO_NORMAL, 20000, &result)) {
      snprintf(buf, sizeof buf, "sent: failed 0x%lX\n", GetLastError());
      WriteA(buf);
      return 1;
    }
    snprintf(buf, sizeof buf, "sent: 0x%llX\n", (unsigned long long)result);
    WriteA(buf);
    return 0;
  }
  HWND button = ExitButton(wnd);
  if (!button || !PostMessageW(wnd, msg, wp, lp)) {
    snprintf(buf, sizeof buf, "posted: failed 0x%lX\n", button ? GetLastError() : 0x490ul);
    WriteA(buf);
    return 1;
  }
  if (!WaitPosted(button, TRUE) || !WaitPosted(button, FALSE)) {
    WriteA("posted: never handled\n");
    return 1;
  }
  WriteA("posted: handled\n");
  return 0;
}

static void Usage(void) {
  WriteA("usage: wwin wait|gone CAPTION MS | wwin show|closebox|imagebase CAPTION | wwin send|post CAPTION MSG WP LP\n");
  ExitProcess(2);
}

int main(void) {
  Out = GetStdHandle(STD_OUTPUT_HANDLE);
  int argc = 0;
  WCHAR** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc < 3) Usage();
  const WCHAR* cmd = argv[1];
  const WCHAR* caption = argv[2];
  if (!wcscmp(cmd, L"show")) {
    HWND wnd = Find(caption, 0);
    if (!wnd) {
      WriteA("window: none\n");
      return 1;
    }
    return Show(wnd);
  }
  if (!wcscmp(cmd, L"closebox")) {
    HWND wnd = Find(caption, 1);
    if (!wnd) {
      WriteA("closebox: none\n");
      return 1;
    }
    return CloseBox(wnd);
  }
  if (!wcscmp(cmd, L"imagebase") || !wcscmp(cmd, L"send") || !wcscmp(cmd, L"post")) {
    HWND wnd = Find(caption, 0);
    HWND button = wnd ? ExitButton(wnd) : NULL;
    if (!button) {
      WriteA("window: none\n");
      return 1;
    }
    if (cmd[0] != L'i') {
      if (argc < 6) Usage();
      return Foreign(cmd, wnd, argv + 3);
    }
    char buf[64];
    snprintf(buf, sizeof buf, "imagebase: 0x%llX\n", (unsigned long long)GetWindowLongPtrW(button, GWLP_HINSTANCE));
    WriteA(buf);
    return 0;
  }
  if (argc < 4) Usage();
  DWORD limit = (DWORD)wcstoul(argv[3], NULL, 10);
  DWORD start = GetTickCount();
  if (!wcscmp(cmd, L"wait")) {
    for (;;) {
      if (Find(caption, 1)) return 0;
      if (GetTickCount() - start > limit) return 1;
      Sleep(20);
    }
  }
  if (!wcscmp(cmd, L"gone")) {
    for (;;) {
      if (!Find(caption, 0)) return 0;
      if (GetTickCount() - start > limit) return 1;
      Sleep(20);
    }
  }
  Usage();
  return 2;
}
