#include "driverinstall/DriverInstall.h"

namespace {

// Appends the text only when every character has its own place in the ANSI code page.
bool AppendExactAnsi(AnsiText& Out, const WCHAR* Wide, DWORD& Error) {
  BOOL defaulted = FALSE;
  int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, Wide, -1, nullptr, 0, nullptr, &defaulted);
  if (n > 0 && defaulted) {
    Error = ERROR_NO_UNICODE_TRANSLATION;
    return false;
  }
  size_t start = Out.Length();
  if (n > 0 && !Out.Grow(size_t(n))) {
    Error = ERROR_NOT_ENOUGH_MEMORY;
    return false;
  }
  defaulted = FALSE;
  bool ok = n > 0 && WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, Wide, -1, Out.Data() + start, n, nullptr,
                                         &defaulted) == n;
  if (!ok) Error = LastErrorOfFailure();
  else if (defaulted) Error = ERROR_NO_UNICODE_TRANSLATION;
  Out.Truncate(ok && !defaulted ? start + size_t(n) - 1 : start);
  return ok && !defaulted;
}

}  // namespace

bool AppendExactAnsiPath(AnsiText& Out, const WCHAR* Path, DWORD& Error) {
  if (AppendExactAnsi(Out, Path, Error)) return true;
  if (Error != ERROR_NO_UNICODE_TRANSLATION) return false;
  // Windows may know the path by its 8.3 names, which the code page holds.
  DWORD size = GetShortPathNameW(Path, nullptr, 0);
  if (size == 0) {
    Error = LastErrorOfFailure();
    return false;
  }
  WideText shortPath;
  if (!shortPath.Grow(size)) {
    Error = ERROR_NOT_ENOUGH_MEMORY;
    return false;
  }
  DWORD n = GetShortPathNameW(Path, shortPath.Data(), size);
  if (n == 0 || n >= size) {
    Error = n ? DWORD(ERROR_INSUFFICIENT_BUFFER) : LastErrorOfFailure();
    return false;
  }
  shortPath.Truncate(n);
  return AppendExactAnsi(Out, shortPath.c_str(), Error);
}
