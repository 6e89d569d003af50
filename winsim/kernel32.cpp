// kernel32 of winsim: last error, version and processor, modules, current directory, debug
// output, command line, and text (the ANSI code page and its characters, case, comparison).
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "winsim/internal.h"

using namespace winsim;
using namespace winsim::detail;

DWORD WINAPI GetLastError() { return P().lastError; }
void WINAPI SetLastError(DWORD dwErrCode) { P().lastError = dwErrCode; }

BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW info) {
  if (Faulted("GetVersionExW", {{"dwOSVersionInfoSize", info ? info->dwOSVersionInfoSize : 0}})) return FALSE;
  if (!info || (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW) &&
                info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXW))) {
    SetError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  Machine& m = M();
  info->dwMajorVersion = m.majorVersion;
  info->dwMinorVersion = m.minorVersion;
  info->dwBuildNumber = m.buildNumber;
  info->dwPlatformId = VER_PLATFORM_WIN32_NT;
  info->szCSDVersion[0] = 0;
  if (info->dwOSVersionInfoSize == sizeof(OSVERSIONINFOEXW)) {
    auto* ex = reinterpret_cast<LPOSVERSIONINFOEXW>(info);
    ex->wServicePackMajor = ex->wServicePackMinor = ex->wSuiteMask = 0;
    ex->wProductType = m.productType;
    ex->wReserved = 0;
  }
  return TRUE;
}

static void FillSystemInfo(LPSYSTEM_INFO si, WORD arch) {
  std::memset(si, 0, sizeof(*si));
  si->wProcessorArchitecture = arch;
  si->dwPageSize = 4096;
  si->dwNumberOfProcessors = 8;
  si->dwAllocationGranularity = 0x10000;
}

void WINAPI GetSystemInfo(LPSYSTEM_INFO si) {
  Enter("GetSystemInfo");
  // A 32-bit process on 64-bit Windows sees an x86 machine here.
  FillSystemInfo(si, P().Wow64(M()) ? WORD(PROCESSOR_ARCHITECTURE_INTEL) : M().nativeArchitecture);
}

void WINAPI GetNativeSystemInfo(LPSYSTEM_INFO si) {
  Enter("GetNativeSystemInfo");
  FillSystemInfo(si, M().nativeArchitecture);
}

// The instance handle of the program's own image (GetModuleHandleW(nullptr)).
constexpr uintptr_t kProgramImage = 0x00400000;

HMODULE WINAPI GetModuleHandleW(LPCWSTR name) {
  std::string n = Utf8(name);
  if (Faulted("GetModuleHandleW", {{"lpModuleName", name ? json(n) : json(nullptr)}})) return nullptr;
  if (!name) return HMODULE(kProgramImage);
  if (!P().loadedModules.count(FoldUtf8(BaseName(n))) || !ModuleHandle(BaseName(n))) {
    SetError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return ModuleHandle(BaseName(n));
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
  std::string n = name ? name : "";
  if (Faulted("GetProcAddress", {{"hModule", uintptr_t(module)}, {"lpProcName", n}})) return nullptr;
  const Module* mod = ModuleOf(module);
  if (!mod) {
    SetError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  bool exported = false;
  for (const std::string& e : mod->exports) exported = exported || e == n;
  FARPROC entry = exported ? EntryPoint(n) : nullptr;
  if (!entry) SetError(ERROR_PROC_NOT_FOUND);
  return entry;
}

template <typename C>
static DWORD CopyOut(const std::basic_string<C>& s, C* buf, DWORD size) {
  if (!buf || size <= s.size()) return DWORD(s.size() + 1);
  std::memcpy(buf, s.c_str(), (s.size() + 1) * sizeof(C));
  return DWORD(s.size());
}

UINT WINAPI GetSystemDirectoryW(LPWSTR buf, UINT size) {
  if (Faulted("GetSystemDirectoryW", {{"uSize", size}})) return 0;
  return CopyOut(Wide(M().systemDirectory), buf, size);
}

// A buffer too small takes as much of the name as fits with its NUL, and the call answers the
// buffer's size with ERROR_INSUFFICIENT_BUFFER (as Windows does since Vista).
DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buf, DWORD size) {
  if (Faulted("GetModuleFileNameW", {{"hModule", uintptr_t(module)}, {"nSize", size}})) return 0;
  std::wstring name;
  if (!module || uintptr_t(module) == kProgramImage) {
    name = Wide(P().imagePath);
  } else if (const Module* mod = ModuleOf(module)) {
    name = Wide(M().systemDirectory + "\\" + mod->name);
  } else {
    SetError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (size == 0) {
    SetError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (name.size() < size) {
    std::memcpy(buf, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
    return DWORD(name.size());
  }
  std::memcpy(buf, name.c_str(), (size - 1) * sizeof(WCHAR));
  buf[size - 1] = 0;
  SetError(ERROR_INSUFFICIENT_BUFFER);
  return size;
}

DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buf) {
  if (Faulted("GetCurrentDirectoryA", {{"nBufferLength", size}})) return 0;
  return CopyOut(Utf8ToAnsi(P().currentDirectory), buf, size);
}

DWORD WINAPI GetCurrentDirectoryW(DWORD size, LPWSTR buf) {
  if (Faulted("GetCurrentDirectoryW", {{"nBufferLength", size}})) return 0;
  return CopyOut(Wide(P().currentDirectory), buf, size);
}

// One heap per process; its blocks come from the host's heap, so the sanitizers see them.
static const uintptr_t kProcessHeap = 0x00500000;

HANDLE WINAPI GetProcessHeap() { return HANDLE(kProcessHeap); }

LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
  // A refused allocation sets no error code (HEAP_GENERATE_EXCEPTIONS is not simulated).
  DWORD before = P().lastError;
  if (Faulted("HeapAlloc", {{"hHeap", uintptr_t(hHeap)}, {"dwFlags", dwFlags}, {"dwBytes", dwBytes}})) {
    P().lastError = before;
    return nullptr;
  }
  if (uintptr_t(hHeap) != kProcessHeap || (dwFlags & ~DWORD(HEAP_ZERO_MEMORY)))
    Stop("HeapAlloc on a heap or with flags that are not simulated");
  void* p = std::malloc(dwBytes ? dwBytes : 1);
  if (p && (dwFlags & HEAP_ZERO_MEMORY)) std::memset(p, 0, dwBytes);
  return p;
}

BOOL WINAPI HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem) {
  Enter("HeapFree", {{"hHeap", uintptr_t(hHeap)}, {"dwFlags", dwFlags}, {"lpMem", lpMem != nullptr}});
  if (uintptr_t(hHeap) != kProcessHeap || dwFlags) Stop("HeapFree on a heap or with flags that are not simulated");
  std::free(lpMem);
  return TRUE;
}

void WINAPI OutputDebugStringW(LPCWSTR text) {
  std::string s = Utf8(text);
  Enter("OutputDebugStringW", {{"lpOutputString", s}});
  M().debugLines.push_back(s);
}

// One thread per process: the GUI thread.
DWORD WINAPI GetCurrentThreadId() { return 0x1000 + DWORD(getpid() & 0xFFFF) * 4; }

LPWSTR WINAPI GetCommandLineW() {
  Enter("GetCommandLineW");
  return P().commandLine.data();
}

DWORD WINAPI CharLowerBuffW(LPWSTR s, DWORD n) {
  Enter("CharLowerBuffW", {{"lpsz", Utf8(s, int(n))}, {"cchLength", n}});
  for (DWORD i = 0; i < n; ++i) {
    WCHAR c = s[i];
    if ((c >= L'A' && c <= L'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) s[i] = WCHAR(c + 0x20);
    else if (c == 0x178) s[i] = 0xFF;
    else if (c == 0x160 || c == 0x152 || c == 0x17D) s[i] = WCHAR(c + 1);
  }
  return n;
}

// CP_ACP is the machine's code page; the others that winsim knows may also be named.
static bool CodePageOf(UINT cp, UINT& resolved) {
  resolved = cp == CP_ACP ? AnsiCodePage() : cp;
  return KnownCodePage(resolved);
}

UINT WINAPI GetACP() {
  Enter("GetACP");
  return AnsiCodePage();
}

BOOL WINAPI IsDBCSLeadByte(BYTE TestChar) {
  Enter("IsDBCSLeadByte", {{"TestChar", TestChar}});
  return IsLeadByte(AnsiCodePage(), TestChar);
}

// The character after `p`: a lead byte takes its trail byte with it, but never the NUL.
static LPCSTR NextChar(LPCSTR p) {
  if (!*p) return p;
  return IsLeadByte(AnsiCodePage(), (unsigned char)p[0]) && p[1] ? p + 2 : p + 1;
}

LPSTR WINAPI CharNextA(LPCSTR lpsz) {
  Enter("CharNextA");
  return const_cast<LPSTR>(lpsz ? NextChar(lpsz) : lpsz);
}

// A trail byte cannot be told from a lead or single byte by itself: the text is walked from its start.
LPSTR WINAPI CharPrevA(LPCSTR lpszStart, LPCSTR lpszCurrent) {
  Enter("CharPrevA", {{"offset", lpszStart && lpszCurrent ? json(lpszCurrent - lpszStart) : json(nullptr)}});
  if (!lpszStart || !lpszCurrent || lpszCurrent <= lpszStart) return const_cast<LPSTR>(lpszStart);
  LPCSTR p = lpszStart;
  for (;;) {
    LPCSTR next = NextChar(p);
    if (next == p || next >= lpszCurrent) return const_cast<LPSTR>(p);
    p = next;
  }
}

int WINAPI MultiByteToWideChar(UINT cp, DWORD flags, LPCSTR s, int n, LPWSTR out, int size) {
  if (Faulted("MultiByteToWideChar",
              {{"CodePage", cp}, {"dwFlags", flags}, {"cbMultiByte", n}, {"cchWideChar", size}}))
    return 0;
  UINT page;
  if (!CodePageOf(cp, page) || !s || size < 0 || n == 0 || n < -1) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::wstring wide;
  if (DWORD e = BytesToWide(page, flags, s, n < 0 ? std::strlen(s) + 1 : size_t(n), wide)) {
    SetError(e);
    return 0;
  }
  int count = int(wide.size());
  if (size == 0) return count;
  if (size < count) {
    SetError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(out, wide.data(), wide.size() * sizeof(WCHAR));
  return count;
}

int WINAPI WideCharToMultiByte(UINT cp, DWORD flags, LPCWSTR s, int n, LPSTR out, int size, LPCSTR defaultChar,
                               PBOOL usedDefault) {
  if (Faulted("WideCharToMultiByte", {{"CodePage", cp}, {"dwFlags", flags}, {"cchWideChar", n}, {"cbMultiByte", size},
                                       {"lpDefaultChar", defaultChar != nullptr},
                                       {"lpUsedDefaultChar", usedDefault != nullptr}}))
    return 0;
  UINT page;
  if (!CodePageOf(cp, page) || !s || size < 0 || n == 0 || n < -1) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t length = 0;
  if (n < 0)
    while (s[length]) ++length;
  length = n < 0 ? length + 1 : size_t(n);
  std::string bytes;
  if (DWORD e = WideToBytes(page, flags, s, length, defaultChar, usedDefault, bytes)) {
    SetError(e);
    return 0;
  }
  int count = int(bytes.size());
  if (size == 0) return count;
  if (size < count) {
    SetError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(out, bytes.data(), bytes.size());
  return count;
}

static int Compare(const std::wstring& a, const std::wstring& b, bool fold) {
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    WCHAR x = fold ? FoldCase(a[i]) : a[i], y = fold ? FoldCase(b[i]) : b[i];
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

static std::wstring AnsiWide(LPCSTR s) { return s ? AnsiToWide(s, std::strlen(s), AnsiCodePage()) : L""; }

int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) {
  Enter("lstrcmpiA", {{"lpString1", AnsiToUtf8(a)}, {"lpString2", AnsiToUtf8(b)}});
  return Compare(AnsiWide(a), AnsiWide(b), true);
}

int WINAPI CompareStringW(LCID locale, DWORD flags, PCWSTR a, int na, PCWSTR b, int nb) {
  std::wstring x = a ? (na < 0 ? std::wstring(a) : std::wstring(a, size_t(na))) : L"";
  std::wstring y = b ? (nb < 0 ? std::wstring(b) : std::wstring(b, size_t(nb))) : L"";
  if (Faulted("CompareStringW", {{"Locale", locale},
                                  {"dwCmpFlags", flags},
                                  {"lpString1", Utf8(x.c_str(), int(x.size()))},
                                  {"lpString2", Utf8(y.c_str(), int(y.size()))}}))
    return 0;
  if (!a || !b || (flags & ~DWORD(NORM_IGNORECASE))) {
    SetError(!a || !b ? ERROR_INVALID_PARAMETER : ERROR_INVALID_FLAGS);
    return 0;
  }
  return CSTR_EQUAL + Compare(x, y, flags & NORM_IGNORECASE);
}
