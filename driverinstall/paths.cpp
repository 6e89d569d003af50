#include "driverinstall/DriverInstall.h"

namespace {

// Appends the text only when every character has its own place in the ANSI code page. Where that
// is UTF-8 every character has one, and Windows refuses the best-fit flag and the default-character
// pointers there: WC_ERR_INVALID_CHARS reports text that is not UTF-16 (an unpaired surrogate,
// which a name may hold) instead of writing it as U+FFFD, another folder's name.
bool AppendExactAnsi(AnsiText& Out, const WCHAR* Wide, DWORD& Error) {
  const bool utf8 = GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? DWORD(WC_ERR_INVALID_CHARS) : DWORD(WC_NO_BEST_FIT_CHARS);
  BOOL defaulted = FALSE;
  BOOL* const usedDefault = utf8 ? nullptr : &defaulted;
  int n = WideCharToMultiByte(CP_ACP, flags, Wide, -1, nullptr, 0, nullptr, usedDefault);
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
  bool ok = n > 0 && WideCharToMultiByte(CP_ACP, flags, Wide, -1, Out.Data() + start, n, nullptr, usedDefault) == n;
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
