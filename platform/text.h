// Zero-terminated texts on the heap, for code built without exceptions: nothing here throws, and
// a failed allocation leaves the text as it was and marks it failed.
#pragma once

#include <cstdlib>
#include <cstring>

#include "platform/win32.h"

// Every block of the texts and lists below. The host build can refuse blocks for the tests
// (platform/heap_host.h); the Windows builds take them from the C run-time heap.
#ifdef _WIN32
inline void* TextRealloc(void* block, size_t bytes) { return std::realloc(block, bytes); }
#else
void* TextRealloc(void* block, size_t bytes);
#endif

template <typename C>
class TextBuf {
 public:
  TextBuf() = default;
  explicit TextBuf(const C* s) { Append(s); }
  TextBuf(const TextBuf&) = delete;
  TextBuf& operator=(const TextBuf&) = delete;
  ~TextBuf() { std::free(fData); }

  const C* c_str() const { return fData ? fData : Empty(); }
  // Writable text; null only when nothing could ever be allocated.
  C* Data() { return Reserve(fLength) ? fData : nullptr; }
  size_t Length() const { return fLength; }
  bool Failed() const { return fFailed; }

  bool Append(const C* s, size_t n) {
    if (!ReserveMore(n)) return false;
    std::memcpy(fData + fLength, s, n * sizeof(C));
    fLength += n;
    fData[fLength] = 0;
    return true;
  }
  bool Append(const C* s) { return Append(s, Count(s)); }
  bool Append(C c) { return Append(&c, 1); }
  C Last() const { return fLength ? fData[fLength - 1] : C(0); }
  // Appends n zero characters to be filled through Data(); false when the heap refused.
  bool Grow(size_t n) {
    if (!ReserveMore(n)) return false;
    std::memset(fData + fLength, 0, n * sizeof(C));
    fLength += n;
    fData[fLength] = 0;
    return true;
  }
  void Truncate(size_t length) {
    if (length < fLength) {
      fLength = length;
      fData[fLength] = 0;
    }
  }

  static size_t Count(const C* s) {
    size_t n = 0;
    while (s && s[n]) ++n;
    return n;
  }

 private:
  static const C* Empty() {
    static const C empty[1] = {0};
    return empty;
  }
  // The most characters a block can hold, its NUL included, without its size in bytes overflowing.
  static constexpr size_t MaxCapacity = size_t(-1) / sizeof(C);
  bool Refused() {
    fFailed = true;
    return false;
  }
  // Room for n more characters; a length that cannot be counted fails like a refused block.
  bool ReserveMore(size_t n) { return n < MaxCapacity - fLength ? Reserve(fLength + n) : Refused(); }
  // Room for `length` characters and the NUL.
  bool Reserve(size_t length) {
    if (fData && length < fCapacity) return true;
    if (length >= MaxCapacity) return Refused();
    size_t capacity = fCapacity ? fCapacity : 16;
    while (capacity <= length) capacity = capacity > MaxCapacity / 2 ? MaxCapacity : capacity * 2;
    C* p = static_cast<C*>(TextRealloc(fData, capacity * sizeof(C)));
    if (!p) return Refused();
    if (!fData) p[0] = 0;
    fData = p;
    fCapacity = capacity;
    return true;
  }

  C* fData = nullptr;
  size_t fLength = 0;
  size_t fCapacity = 0;
  bool fFailed = false;
};

// A count that a Windows call reported for a buffer of `room` characters, kept within 0..room.
inline size_t Clamped(LONG_PTR count, size_t room) {
  return count < 0 ? 0 : size_t(count) > room ? room : size_t(count);
}

using AnsiText = TextBuf<char>;
using WideText = TextBuf<WCHAR>;

// An ordered list of ANSI texts, duplicates kept; Add fails without throwing.
class AnsiList {
 public:
  AnsiList() = default;
  AnsiList(const AnsiList&) = delete;
  AnsiList& operator=(const AnsiList&) = delete;
  ~AnsiList();

  bool Add(const char* s, size_t n);
  bool Add(const char* s) { return Add(s, TextBuf<char>::Count(s)); }
  size_t Count() const { return fCount; }
  const char* operator[](size_t i) const { return fItems[i]; }

 private:
  char** fItems = nullptr;
  size_t fCount = 0;
  size_t fCapacity = 0;
};

// "%x": upper-case hexadecimal digits, no leading zeros, no minimum width; all of them or none.
template <typename C>
bool AppendHex(TextBuf<C>& out, DWORD value) {
  C digits[8];
  size_t first = 8;
  do {
    digits[--first] = C("0123456789ABCDEF"[value & 0xF]);
    value >>= 4;
  } while (value);
  return out.Append(digits + first, 8 - first);
}
// Decimal digits, no sign, separators or padding; all of them or none.
bool AppendDecimal(AnsiText& out, DWORD value);
// Conversions through the system's ANSI code page; false when Windows or the heap refused.
bool AppendAnsiAsWide(WideText& out, const char* ansi);
bool AppendWideAsAnsi(AnsiText& out, const WCHAR* wide);
