#include "platform/text.h"

bool AppendDecimal(AnsiText& out, DWORD value) {
  char digits[10];
  size_t first = 10;
  do {
    digits[--first] = char('0' + value % 10);
    value /= 10;
  } while (value);
  return out.Append(digits + first, 10 - first);
}

bool AppendAnsiAsWide(WideText& out, const char* ansi) {
  if (!ansi || !*ansi) return true;
  int n = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
  if (n <= 0) return false;
  // Convert in place, the terminating NUL included, then drop the NUL from the length.
  size_t start = out.Length();
  if (!out.Grow(size_t(n))) return false;
  bool ok = MultiByteToWideChar(CP_ACP, 0, ansi, -1, out.Data() + start, n) == n;
  out.Truncate(ok ? start + size_t(n) - 1 : start);
  return ok;
}

bool AppendWideAsAnsi(AnsiText& out, const WCHAR* wide) {
  if (!wide || !*wide) return true;
  int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return false;
  size_t start = out.Length();
  if (!out.Grow(size_t(n))) return false;
  bool ok = WideCharToMultiByte(CP_ACP, 0, wide, -1, out.Data() + start, n, nullptr, nullptr) == n;
  out.Truncate(ok ? start + size_t(n) - 1 : start);
  return ok;
}

AnsiList::~AnsiList() {
  for (size_t i = 0; i < fCount; ++i) std::free(fItems[i]);
  std::free(fItems);
}

bool AnsiList::Add(const char* s, size_t n) {
  if (n >= size_t(-1)) return false;  // no room for the NUL
  if (fCount == fCapacity) {
    if (fCapacity > size_t(-1) / 2 / sizeof(char*)) return false;
    size_t capacity = fCapacity ? fCapacity * 2 : 8;
    char** items = static_cast<char**>(TextRealloc(fItems, capacity * sizeof(char*)));
    if (!items) return false;
    fItems = items;
    fCapacity = capacity;
  }
  char* copy = static_cast<char*>(TextRealloc(nullptr, n + 1));
  if (!copy) return false;
  std::memcpy(copy, s, n);
  copy[n] = 0;
  fItems[fCount++] = copy;
  return true;
}
