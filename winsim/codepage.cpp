// The ANSI code pages of winsim: Windows-1252, code page 932 (Shift-JIS) for a subset of its
// double-byte characters, and UTF-8 (65001, which Windows 10 offers as the ANSI code page too).
// The machine chooses one as the system's ANSI code page (CP_ACP). Here also the rules of
// MultiByteToWideChar and WideCharToMultiByte for their flags and default-character arguments.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "winsim/internal.h"

namespace winsim::detail {

namespace {

// Windows-1252: 0x80..0x9F; every other byte is the code point of the same value.
const WCHAR k1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Code page 932: runs of double-byte codes (lead byte << 8 | trail byte) whose characters follow
// one another in Unicode. Only these pairs are known; any other well-formed pair decodes to the
// code page's default character, as a pair that Windows' table lacks does.
struct DbcsRun {
  uint16_t first, last;
  WCHAR wide;
};

const DbcsRun k932Runs[] = {
    {0x8140, 0x8142, 0x3000},  // ideographic space, 、 。
    {0x8145, 0x8145, 0x30FB},  // ・
    {0x815B, 0x815B, 0x30FC},  // ー
    {0x815C, 0x815C, 0x2015},  // ― (trail byte 0x5C)
    {0x815F, 0x815F, 0xFF3C},  // full-width reverse solidus
    {0x824F, 0x8258, 0xFF10},  // full-width digits
    {0x8260, 0x8279, 0xFF21},  // full-width A-Z
    {0x8281, 0x829A, 0xFF41},  // full-width a-z
    {0x829F, 0x82F1, 0x3041},  // hiragana
    {0x8340, 0x837E, 0x30A1},  // katakana ァ..ミ (ソ is 0x835C)
    {0x8380, 0x8396, 0x30E0},  // katakana ム..ヶ
    {0x8AED, 0x8AED, 0x5668},  // 器
    {0x8B40, 0x8B40, 0x6A5F},  // 機
    {0x8CEA, 0x8CEA, 0x8A9E},  // 語
    {0x8F5C, 0x8F5C, 0x5341},  // 十
    {0x9195, 0x9195, 0x88C5},  // 装
    {0x9275, 0x9275, 0x7F6E},  // 置
    {0x93FA, 0x93FA, 0x65E5},  // 日
    {0x945C, 0x945C, 0x80FD},  // 能
    {0x955C, 0x955C, 0x8868},  // 表
    {0x967B, 0x967B, 0x672C},  // 本
    {0x975C, 0x975C, 0x4E88},  // 予
};

// What code page 932 gives for a pair it does not know (CPINFOEX UnicodeDefaultChar).
constexpr WCHAR k932DefaultWide = 0x30FB;

bool Is932Trail(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }

// The single bytes of 932 that are neither ASCII nor lead bytes.
bool Single932(unsigned char c, WCHAR& wide) {
  if (c == 0x80) wide = 0x0080;
  else if (c == 0xA0) wide = 0xF8F0;
  else if (c >= 0xA1 && c <= 0xDF) wide = WCHAR(0xFF61 + (c - 0xA1));  // half-width katakana
  else if (c >= 0xFD) wide = WCHAR(0xF8F1 + (c - 0xFD));
  else return false;
  return true;
}

// The character of a pair; the default character, and `known` false, for a pair winsim lacks.
WCHAR Decode932Pair(unsigned char lead, unsigned char trail, bool* known = nullptr) {
  uint16_t code = uint16_t(lead << 8 | trail);
  if (known) *known = true;
  for (const DbcsRun& r : k932Runs)
    if (code >= r.first && code <= r.last) return WCHAR(r.wide + (code - r.first));
  if (known) *known = false;
  return k932DefaultWide;
}

// The bytes of one character in 932; 0 when the code page cannot hold it.
int Encode932(WCHAR c, unsigned char out[2]) {
  if (c < 0x80) {
    out[0] = (unsigned char)c;
    return 1;
  }
  for (int b = 0x80; b <= 0xFF; ++b) {
    WCHAR w;
    if (Single932((unsigned char)b, w) && w == c) {
      out[0] = (unsigned char)b;
      return 1;
    }
  }
  for (const DbcsRun& r : k932Runs) {
    if (c >= r.wide && c <= WCHAR(r.wide + (r.last - r.first))) {
      uint16_t code = uint16_t(r.first + (c - r.wide));
      out[0] = (unsigned char)(code >> 8);
      out[1] = (unsigned char)(code & 0xFF);
      return 2;
    }
  }
  return 0;
}

// Best fit of 1252 (what Windows gives without WC_NO_BEST_FIT_CHARS): a letter of Latin
// Extended-A becomes its letter without the mark ("Ł" becomes "L"), a full-width ASCII character
// the ASCII one; '?' in the table: no best fit.
const char kBestFitLatinA[] =
    "AaAaAaCcCcCcCcDd"
    "DdEeEeEeEeEeGgGg"
    "GgGgHhHhIiIiIiIi"
    "Ii??JjKk?LlLlLlL"
    "lLlNnNnNn???OoOo"
    "Oo??RrRrRrSsSsSs"
    "??TtTtTtUuUuUuUu"
    "UuUuWwYy?ZzZz???";

int BestFit1252(WCHAR c) {
  if (c >= 0x100 && c <= 0x17F && kBestFitLatinA[c - 0x100] != '?') return kBestFitLatinA[c - 0x100];
  if (c >= 0xFF01 && c <= 0xFF5E) return int(c - 0xFF01 + 0x21);
  return -1;
}

int Encode1252(WCHAR c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return int(c);
  for (int i = 0; i < 32; ++i)
    if (k1252High[i] == c) return 0x80 + i;
  return -1;
}

// UTF-16 to UTF-8. A surrogate pair is one character; so is a WCHAR above U+FFFF, which the
// host's 32-bit WCHAR holds whole (Wide gives one for a character beyond U+FFFF). An unpaired
// surrogate, or a value beyond U+10FFFF, is no character: it becomes U+FFFD and sets `invalid`.
std::string EncodeUtf8(const WCHAR* s, size_t n, bool& invalid) {
  std::wstring chars;
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = uint32_t(s[i]);
    uint32_t next = i + 1 < n ? uint32_t(s[i + 1]) : 0;
    if (c >= 0xD800 && c <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
      chars += WCHAR(0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00));
      ++i;
    } else if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
      invalid = true;
      chars += WCHAR(0xFFFD);
    } else {
      chars += WCHAR(c);
    }
  }
  return Utf8(chars.c_str(), int(chars.size()));
}

// UTF-8 to UTF-16. Each maximal part of an ill-formed sequence (a byte that starts nothing, a
// sequence cut short, an overlong form, an encoded surrogate, a value beyond U+10FFFF) becomes
// one U+FFFD and sets `invalid`, as Unicode recommends. A character beyond U+FFFF is one WCHAR,
// as Wide gives it (on Windows: a surrogate pair).
std::wstring DecodeUtf8(const char* s, size_t n, bool& invalid) {
  std::wstring out;
  for (size_t i = 0; i < n;) {
    unsigned char c = (unsigned char)s[i];
    int extra = -1;  // continuation bytes to come; -1: a byte that starts no character
    uint32_t cp = c;
    // The second byte's range: narrower after E0, ED, F0 and F4, which would otherwise start an
    // overlong form, an encoded surrogate or a value beyond U+10FFFF.
    unsigned char low = 0x80, high = 0xBF;
    if (c < 0x80) {
      extra = 0;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1, cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2, cp = c & 0x0F;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3, cp = c & 0x07;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    }
    size_t j = i + 1;
    int k = 0;
    for (; k < extra && j < n; ++k, ++j) {
      unsigned char t = (unsigned char)s[j];
      if (t < (k ? 0x80 : low) || t > (k ? 0xBF : high)) break;
      cp = (cp << 6) | (t & 0x3F);
    }
    if (k < extra || extra < 0) {
      invalid = true;
      cp = 0xFFFD;
    }
    out += WCHAR(cp);
    i = j;
  }
  return out;
}

}  // namespace

bool ValidUtf8(const std::string& s) {
  bool invalid = false;
  DecodeUtf8(s.data(), s.size(), invalid);
  return !invalid;
}

bool KnownCodePage(UINT cp) { return cp == 1252 || cp == 932 || cp == CP_UTF8; }

UINT AnsiCodePage() {
  if (!Attached()) return 1252;
  UINT cp = M().ansiCodePage;
  if (!KnownCodePage(cp)) {
    std::fprintf(stderr, "winsim: ANSI code page %u is not simulated (1252, 932 or 65001)\n", cp);
    std::abort();
  }
  return cp;
}

bool IsLeadByte(UINT cp, unsigned char c) { return cp == 932 && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)); }

std::wstring AnsiToWide(const char* s, size_t n, UINT cp) {
  if (cp == CP_UTF8) {
    bool invalid = false;
    return DecodeUtf8(s, n, invalid);
  }
  std::wstring out;
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = (unsigned char)s[i];
    WCHAR single;
    if (cp != 932) out += (c >= 0x80 && c < 0xA0) ? k1252High[c - 0x80] : WCHAR(c);
    else if (c < 0x80) out += WCHAR(c);
    else if (Single932(c, single)) out += single;
    else if (i + 1 < n && Is932Trail((unsigned char)s[i + 1])) out += Decode932Pair(c, (unsigned char)s[++i]);
    else out += k932DefaultWide;  // a lead byte without its trail byte; the next byte stands alone
  }
  return out;
}

std::string WideToAnsi(const WCHAR* s, size_t n, UINT cp, char defaultChar, bool* usedDefault, bool bestFit) {
  std::string out;
  if (usedDefault) *usedDefault = false;
  if (cp == CP_UTF8) {
    bool invalid = false;
    out = EncodeUtf8(s, n, invalid);
    if (usedDefault) *usedDefault = invalid;
    return out;
  }
  for (size_t i = 0; i < n; ++i) {
    unsigned char bytes[2];
    int count = 0;
    if (cp == 932) {
      count = Encode932(s[i], bytes);
    } else if (int a = Encode1252(s[i]); a >= 0 || (bestFit && (a = BestFit1252(s[i])) >= 0)) {
      bytes[0] = (unsigned char)a;
      count = 1;
    }
    if (count == 0) {
      if (usedDefault) *usedDefault = true;
      bytes[0] = (unsigned char)defaultChar;
      count = 1;
    }
    out.append(reinterpret_cast<const char*>(bytes), size_t(count));
  }
  return out;
}

namespace {

// Flags that Windows documents but winsim does not simulate for these code pages: a program
// that passes one is stopped rather than given an answer Windows would not give.
[[noreturn]] void NotSimulated(const char* fn, DWORD flags, UINT cp) {
  std::fprintf(stderr, "winsim: %s flags 0x%X are not simulated for code page %u\n", fn, unsigned(flags), cp);
  std::abort();
}

constexpr DWORD kMbFlags = MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS;
constexpr DWORD kWcFlags =
    WC_DISCARDNS | WC_SEPCHARS | WC_DEFAULTCHAR | WC_ERR_INVALID_CHARS | WC_COMPOSITECHECK | WC_NO_BEST_FIT_CHARS;

}  // namespace

DWORD BytesToWide(UINT cp, DWORD flags, const char* s, size_t n, std::wstring& out) {
  // UTF-8 takes 0 or MB_ERR_INVALID_CHARS, nothing else; undefined flags are refused everywhere.
  if (flags & ~(cp == CP_UTF8 ? DWORD(MB_ERR_INVALID_CHARS) : kMbFlags)) return ERROR_INVALID_FLAGS;
  if (cp == CP_UTF8) {
    bool invalid = false;
    out = DecodeUtf8(s, n, invalid);
    return invalid && (flags & MB_ERR_INVALID_CHARS) ? DWORD(ERROR_NO_UNICODE_TRANSLATION) : 0;
  }
  if (flags & (MB_COMPOSITE | MB_USEGLYPHCHARS)) NotSimulated("MultiByteToWideChar", flags, cp);
  if ((flags & MB_ERR_INVALID_CHARS) && cp == 932) {
    // winsim's 932 knows a subset of the pairs: it can tell a lead byte without its trail byte,
    // not a pair that Windows' table lacks.
    for (size_t i = 0; i < n; ++i) {
      unsigned char c = (unsigned char)s[i];
      WCHAR single;
      if (c < 0x80 || Single932(c, single)) continue;
      if (i + 1 >= n || !Is932Trail((unsigned char)s[i + 1])) return ERROR_NO_UNICODE_TRANSLATION;
      bool known = false;
      Decode932Pair(c, (unsigned char)s[i + 1], &known);
      if (!known) NotSimulated("MultiByteToWideChar", flags, cp);
      ++i;
    }
  }
  // Every byte of 1252 is a character.
  out = AnsiToWide(s, n, cp);
  return 0;
}

DWORD WideToBytes(UINT cp, DWORD flags, const WCHAR* s, size_t n, const char* defaultChar, BOOL* usedDefault,
                  std::string& out) {
  if (cp == CP_UTF8) {
    // UTF-8 takes 0 or WC_ERR_INVALID_CHARS, and no default character: every character has its
    // bytes, and text that is not UTF-16 becomes U+FFFD or fails the call.
    if (flags & ~DWORD(WC_ERR_INVALID_CHARS)) return ERROR_INVALID_FLAGS;
    if (defaultChar || usedDefault) return ERROR_INVALID_PARAMETER;
    bool invalid = false;
    out = EncodeUtf8(s, n, invalid);
    return invalid && (flags & WC_ERR_INVALID_CHARS) ? DWORD(ERROR_NO_UNICODE_TRANSLATION) : 0;
  }
  // WC_ERR_INVALID_CHARS is for UTF-8 (and 54936) only.
  if ((flags & ~kWcFlags) || (flags & WC_ERR_INVALID_CHARS)) return ERROR_INVALID_FLAGS;
  if (flags & ~DWORD(WC_NO_BEST_FIT_CHARS)) NotSimulated("WideCharToMultiByte", flags, cp);
  bool defaulted = false;
  // A character made a look-alike by best fit is no default character.
  out = WideToAnsi(s, n, cp, defaultChar ? *defaultChar : '?', &defaulted, !(flags & WC_NO_BEST_FIT_CHARS));
  if (usedDefault) *usedDefault = defaulted;
  return 0;
}

std::string AnsiToUtf8(const char* s, int n) {
  if (!s) return {};
  std::wstring w = AnsiToWide(s, n < 0 ? std::strlen(s) : size_t(n), AnsiCodePage());
  return Utf8(w.c_str(), int(w.size()));
}

std::string Utf8ToAnsi(const std::string& utf8) {
  std::wstring w = Wide(utf8);
  return WideToAnsi(w.c_str(), w.size(), AnsiCodePage(), '?', nullptr, true);
}

}  // namespace winsim::detail
