// winsim's ANSI code page: the machine chooses 1252, 932 (Shift-JIS) or UTF-8 (65001), and every
// conversion and every A function follows it. Code page 932 is double-byte: a trail byte may be
// 0x5C ("\") or a letter, so byte-wise text handling goes wrong there and character-wise handling
// must not. UTF-8 holds every character but takes only some of the flags and none of the default
// character arguments that the other code pages take.
#include <cstring>

#include "support.h"
#include "winsim/internal.h"

using winsim::Machine;

namespace {

Machine MachineWith(UINT codePage) {
  Machine m;
  m.ansiCodePage = codePage;
  return m;
}

std::wstring Decode(const std::string& bytes) {
  int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), int(bytes.size()), nullptr, 0);
  EXPECT_GT(n, 0);
  std::wstring out(size_t(n > 0 ? n : 0), L'\0');
  if (n > 0) {
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, bytes.data(), int(bytes.size()), out.data(), n), n);
  }
  return out;
}

std::string Encode(const std::wstring& wide, bool* usedDefault = nullptr) {
  BOOL used = FALSE;
  int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
  EXPECT_GT(n, 0);
  std::string out(size_t(n > 0 ? n : 0), '\0');
  if (n > 0) {
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide.data(), int(wide.size()), out.data(), n, nullptr, &used), n);
  }
  if (usedDefault) *usedDefault = used != FALSE;
  return out;
}

}  // namespace

// The same bytes read in both code pages.
TEST(WinsimCodePage, BytesDecodeByTheMachinesCodePage) {
  struct Row {
    const char* what;
    std::string bytes;
    std::wstring in1252, in932;
  } rows[] = {
      {"ASCII", "C:\\Drivers", L"C:\\Drivers", L"C:\\Drivers"},
      {"a pair whose trail byte is 0x5C", "\x95\x5C", L"\u2022\\", L"\u8868"},
      {"katakana with trail byte 0x5C", "\x83\x5C", L"\u0192\\", L"\u30BD"},
      {"a trail byte that is a letter", "\x83\x41", L"\u0192A", L"\u30A2"},
      {"the first and last katakana runs", "\x83\x40\x83\x7E\x83\x80\x83\x96", L"\u0192@\u0192~\u0192\u20AC\u0192\u2013",
       L"\u30A1\u30DF\u30E0\u30F6"},
      {"hiragana and full-width letters", "\x82\xA0\x82\x60\x82\x81", L"\u201A\u00A0\u201A`\u201A\u0081",
       L"\u3042\uFF21\uFF41"},
      {"kanji", "\x93\xFA\x96\x7B\x8C\xEA", L"\u201C\u00FA\u2013{\u0152\u00EA", L"\u65E5\u672C\u8A9E"},
      {"half-width katakana are single bytes", "\xA1\xB1\xDF", L"\u00A1\u00B1\u00DF", L"\uFF61\uFF71\uFF9F"},
      {"the single bytes that are not characters", "\x80\xA0\xFD\xFF", L"\u20AC\u00A0\u00FD\u00FF",
       L"\u0080\uF8F0\uF8F1\uF8F3"},
      {"a pair the code page lacks", "\x85\x40", L"\u2026@", L"\u30FB"},
      {"a lead byte without its trail byte", "A\x95", L"A\u2022", L"A\u30FB"},
  };
  for (UINT cp : {1252u, 932u}) {
    Machine m = MachineWith(cp);
    winsim::Session s(m);
    for (const Row& r : rows) {
      SCOPED_TRACE(std::string(r.what) + " in " + std::to_string(cp));
      EXPECT_EQ(Decode(r.bytes), cp == 932 ? r.in932 : r.in1252);
    }
  }
}

// Characters to bytes: a double-byte character takes two, what the code page lacks becomes the
// default character.
TEST(WinsimCodePage, CharactersEncodeByTheMachinesCodePage) {
  struct Row {
    const char* what;
    std::wstring wide;
    std::string in1252, in932;
    bool default1252, default932;
  } rows[] = {
      {"a folder ending in a pair with trail byte 0x5C", L"C:\\\u8868", "C:\\?", "C:\\\x95\x5C", true, false},
      {"katakana and the prolonged sound mark", L"\u30C7\u30FC\u30BF", "???", "\x83\x66\x81\x5B\x83\x5E", true, false},
      {"half-width katakana", L"\uFF71", "?", "\xB1", true, false},
      {"a character neither holds", L"\uAC00", "?", "?", true, true},
  };
  for (UINT cp : {1252u, 932u}) {
    Machine m = MachineWith(cp);
    winsim::Session s(m);
    for (const Row& r : rows) {
      SCOPED_TRACE(std::string(r.what) + " in " + std::to_string(cp));
      bool used = false;
      EXPECT_EQ(Encode(r.wide, &used), cp == 932 ? r.in932 : r.in1252);
      EXPECT_EQ(used, cp == 932 ? r.default932 : r.default1252);
    }
  }
}

// Sizes count bytes on the ANSI side and characters on the UTF-16 side, the NUL included for -1.
TEST(WinsimCodePage, SizesOfDoubleByteText) {
  Machine m = MachineWith(932);
  winsim::Session s(m);
  const char bytes[] = "C:\\\x95\x5C";  // 5 bytes, 4 characters
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, bytes, -1, nullptr, 0), 5);
  WCHAR wide[5];
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, bytes, -1, wide, 4), 0);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, bytes, -1, wide, 5), 5);
  EXPECT_EQ(std::wstring(wide), L"C:\\\u8868");
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr), 6);
  char back[6];
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, back, 5, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
  ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, back, 6, nullptr, nullptr), 6);
  EXPECT_STREQ(back, bytes);
  // A code page may also be named; one that winsim does not have is refused.
  WCHAR western[8];
  ASSERT_EQ(MultiByteToWideChar(1252, 0, bytes, -1, western, 8), 6);
  EXPECT_EQ(std::wstring(western), L"C:\\\u2022\\");
  EXPECT_EQ(MultiByteToWideChar(437, 0, bytes, -1, western, 8), 0);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(GetACP(), 932u);
}

TEST(WinsimCodePage, LeadBytes) {
  struct Row {
    BYTE byte;
    bool lead932;
  } rows[] = {{0x41, false}, {0x5C, false}, {0x80, false}, {0x81, true}, {0x95, true}, {0x9F, true},
              {0xA0, false}, {0xA1, false}, {0xDF, false}, {0xE0, true}, {0xFC, true}, {0xFD, false}};
  // UTF-8 is no double-byte code page: it has no lead bytes.
  for (UINT cp : {1252u, 932u, 65001u}) {
    Machine m = MachineWith(cp);
    winsim::Session s(m);
    for (const Row& r : rows) EXPECT_EQ(IsDBCSLeadByte(r.byte) != FALSE, cp == 932 && r.lead932) << int(r.byte) << " " << cp;
  }
}

// CharNextA and CharPrevA step over characters: the trail byte 0x5C of the last character is
// not a character of its own in 932.
TEST(WinsimCodePage, CharNextAndCharPrev) {
  const char text[] = "C:\\\x95\x5C\x83\x41";  // C : \ 表 ア
  const char* end = text + std::strlen(text);
  struct Row {
    UINT cp;
    std::vector<int> starts;  // where CharNextA goes from the start, up to the NUL
    int prevOfEnd, prevOfFourth;
  } rows[] = {
      {1252, {1, 2, 3, 4, 5, 6, 7}, 6, 3},
      {932, {1, 2, 3, 5, 7}, 5, 3},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.cp);
    Machine m = MachineWith(r.cp);
    winsim::Session s(m);
    std::vector<int> starts;
    for (const char* p = text; *p;) starts.push_back(int((p = CharNextA(p)) - text));
    EXPECT_EQ(starts, r.starts);
    EXPECT_EQ(CharNextA(end), end);
    EXPECT_EQ(CharPrevA(text, end) - text, r.prevOfEnd);
    EXPECT_EQ(CharPrevA(text, text + 4) - text, r.prevOfFourth);
    EXPECT_EQ(CharPrevA(text, text), text);
  }
  // A lead byte right before the NUL is a character of its own.
  Machine m = MachineWith(932);
  winsim::Session s(m);
  const char lone[] = "A\x95";
  EXPECT_EQ(CharNextA(lone + 1), lone + 2);
  EXPECT_EQ(CharPrevA(lone, lone + 2), lone + 1);
}

// The A functions take and give bytes of the machine's code page.
TEST(WinsimCodePage, AnsiFunctionsFollowTheCodePage) {
  for (UINT cp : {1252u, 932u}) {
    SCOPED_TRACE(cp);
    Machine m = MachineWith(cp);
    m.AddFile("C:\\\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88\\veltowinusb.inf", "[Version]\n");  // C:\ソフト
    m.currentDirectory = "C:\\\xE8\xA1\xA8";                                                  // C:\表
    m.AddFolder(m.currentDirectory);
    winsim::Session s(m);
    char dir[16];
    DWORD n = GetCurrentDirectoryA(sizeof dir, dir);
    EXPECT_EQ(std::string(dir, n), cp == 932 ? "C:\\\x95\x5C" : "C:\\?");
    // The same bytes name the file only in 932.
    const char* path = "C:\\\x83\x5C\x83\x74\x83\x67\\veltowinusb.inf";
    EXPECT_EQ(GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES, cp == 932);
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(h != INVALID_HANDLE_VALUE, cp == 932);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    auto opens = m.Calls("CreateFileA");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].args["lpFileName"],
              cp == 932 ? "C:\\\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88\\veltowinusb.inf"
                        : "C:\\\xC6\x92\\\xC6\x92t\xC6\x92g\\veltowinusb.inf");
    // lstrcmpiA compares characters: in 932 the trail bytes A and a belong to two katakana.
    EXPECT_EQ(lstrcmpiA("\x83\x41", "\x83\x61") == 0, cp == 1252);
  }
}

// SetupAPI fills its fixed ANSI fields in the code page, and never with half a character.
TEST(WinsimCodePage, SetupApiFieldsInTheCodePage) {
  for (UINT cp : {1252u, 932u}) {
    SCOPED_TRACE(cp);
    Machine m = MachineWith(cp);
    m.nativeArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
    winsim::Device& d = m.AddDevice("USB\\VID_7A3C&PID_0001\\1", {"USB\\VID_7A3C&PID_0001"});
    std::string hyo300;
    for (int i = 0; i < 300; ++i) hyo300 += "\xE8\xA1\xA8";  // 表 x 300
    d.drivers.push_back({"\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF", "C:\\Windows\\INF\\oem5.inf", {}});  // データ
    d.drivers.push_back({hyo300, "C:\\Windows\\INF\\oem6.inf", {}});
    winsim::Session s(m);
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA dev{};
    dev.cbSize = sizeof dev;
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &dev));
    ASSERT_TRUE(SetupDiBuildDriverInfoList(set, &dev, SPDIT_COMPATDRIVER));
    SP_DRVINFO_DATA_V2_A drv{};
    drv.cbSize = sizeof drv;
    ASSERT_TRUE(SetupDiEnumDriverInfoA(set, &dev, SPDIT_COMPATDRIVER, 0, &drv));
    EXPECT_STREQ(drv.Description, cp == 932 ? "\x83\x66\x81\x5B\x83\x5E" : "???");
    ASSERT_TRUE(SetupDiEnumDriverInfoA(set, &dev, SPDIT_COMPATDRIVER, 1, &drv));
    // 256 bytes: 127 whole characters in 932 and the NUL; 255 single bytes in 1252.
    std::string expected;
    for (int i = 0; i < (cp == 932 ? 127 : 255); ++i) expected += cp == 932 ? "\x95\x5C" : "?";
    EXPECT_EQ(std::string(drv.Description), expected);
    SetupDiDestroyDriverInfoList(set, &dev, SPDIT_COMPATDRIVER);
    SetupDiDestroyDeviceInfoList(set);
  }
}

TEST(WinsimCodePage, KeptInTheStateFile) {
  for (UINT cp : {932u, 65001u}) EXPECT_EQ(Machine::FromJson(MachineWith(cp).ToJson()).ansiCodePage, cp);
  EXPECT_EQ(Machine::FromJson(Machine().ToJson()).ansiCodePage, 1252u);
}

TEST(WinsimCodePageDeathTest, OnlyTheSimulatedCodePages) {
  Machine m = MachineWith(437);
  winsim::Session s(m);
  EXPECT_DEATH(GetACP(), "code page 437 is not simulated");
}

// Without WC_NO_BEST_FIT_CHARS a character that 1252 lacks may become a look-alike ("Ł" becomes
// "L", a full-width "＼" a "\"), which is no default character; with it, the default character
// and lpUsedDefaultChar tell. The A functions convert with best fit.
TEST(WinsimCodePage, BestFitUnlessForbidden) {
  struct Row {
    const WCHAR* text;
    DWORD flags;
    const char* bytes;
    BOOL usedDefault;
  } rows[] = {
      {L"\x141ukasz", 0, "Lukasz", FALSE},
      {L"\x141ukasz", WC_NO_BEST_FIT_CHARS, "?ukasz", TRUE},
      {L"a\xFF3C" L"b", 0, "a\\b", FALSE},
      {L"a\xFF3C" L"b", WC_NO_BEST_FIT_CHARS, "a?b", TRUE},
      {L"\x65E5", 0, "?", TRUE},  // 日: no look-alike either way
      {L"Pilotes \xE9t\xE9", WC_NO_BEST_FIT_CHARS, "Pilotes \xE9t\xE9", FALSE},
  };
  Machine m;
  m.AddFolder("C:\\\xC5\x81ukasz");
  m.currentDirectory = "C:\\\xC5\x81ukasz";
  winsim::Session s(m);
  for (const Row& r : rows) {
    SCOPED_TRACE(winsim::detail::Utf8(r.text) + " flags " + std::to_string(r.flags));
    char out[32] = {};
    BOOL used = 2;
    int n = WideCharToMultiByte(CP_ACP, r.flags, r.text, -1, out, sizeof out, nullptr, &used);
    EXPECT_EQ(n, int(std::strlen(r.bytes) + 1));
    EXPECT_STREQ(out, r.bytes);
    EXPECT_EQ(used, r.usedDefault);
  }
  char dir[MAX_PATH];
  ASSERT_EQ(GetCurrentDirectoryA(sizeof dir, dir), 9u);
  EXPECT_STREQ(dir, "C:\\Lukasz");
}

// ---- UTF-8 ----

namespace {

// What a conversion gave: the text, or 0 and the error.
struct Converted {
  std::string bytes;  // WideCharToMultiByte
  std::wstring wide;  // MultiByteToWideChar
  DWORD error = 0;
};

// WideCharToMultiByte twice, as programs call it: the size, then the conversion. Both calls
// succeed or fail alike; for a failure the error must be the same.
Converted ToBytes(UINT cp, DWORD flags, const std::wstring& text, const char* defaultChar = nullptr,
                  BOOL* usedDefault = nullptr) {
  Converted c;
  SetLastError(0);
  int n = WideCharToMultiByte(cp, flags, text.data(), int(text.size()), nullptr, 0, defaultChar, usedDefault);
  DWORD sizeError = n > 0 ? 0 : GetLastError();
  std::string out(size_t(n > 0 ? n : 16), '\0');
  SetLastError(0);
  int m = WideCharToMultiByte(cp, flags, text.data(), int(text.size()), out.data(), int(out.size()), defaultChar,
                              usedDefault);
  c.error = m > 0 ? 0 : GetLastError();
  EXPECT_EQ(sizeError, c.error) << "the size query and the conversion disagree";
  if (m > 0) {
    EXPECT_EQ(m, n);
    c.bytes.assign(out.data(), size_t(m));
  }
  return c;
}

Converted ToWide(UINT cp, DWORD flags, const std::string& bytes) {
  Converted c;
  SetLastError(0);
  int n = MultiByteToWideChar(cp, flags, bytes.data(), int(bytes.size()), nullptr, 0);
  DWORD sizeError = n > 0 ? 0 : GetLastError();
  std::wstring out(size_t(n > 0 ? n : 16), L'\0');
  SetLastError(0);
  int m = MultiByteToWideChar(cp, flags, bytes.data(), int(bytes.size()), out.data(), int(out.size()));
  c.error = m > 0 ? 0 : GetLastError();
  EXPECT_EQ(sizeError, c.error) << "the size query and the conversion disagree";
  if (m > 0) {
    EXPECT_EQ(m, n);
    c.wide.assign(out.data(), size_t(m));
  }
  return c;
}

std::string Hex(const std::string& bytes) {
  std::string out;
  char b[4];
  for (unsigned char c : bytes) std::snprintf(b, sizeof b, "%02X ", c), out += b;
  return out;
}

}  // namespace

// Code page 65001 as the machine's ANSI code page, and CP_UTF8 named on a machine of 1252: every
// character has its bytes, those beyond U+FFFF four of them.
TEST(WinsimUtf8, EveryCharacterHasItsBytes) {
  struct Row {
    const char* what;
    std::wstring wide;
    std::string bytes;
  } rows[] = {
      {"ASCII", L"C:\\Drivers", "C:\\Drivers"},
      {"a letter 1252 lacks", L"C:\\\x141ukasz", "C:\\\xC5\x81ukasz"},
      {"a letter 1252 has", L"\xE9t\xE9", "\xC3\xA9t\xC3\xA9"},
      {"a character of 932", L"C:\\\x8868", "C:\\\xE8\xA1\xA8"},
      {"a character neither holds", L"\xAC00", "\xEA\xB0\x80"},
      {"beyond U+FFFF", L"\U0001F600", "\xF0\x9F\x98\x80"},
  };
  struct Road {
    const char* what;
    UINT machine, named;
  } roads[] = {{"CP_ACP on 65001", 65001, CP_ACP}, {"CP_UTF8 on 1252", 1252, CP_UTF8}};
  for (const Road& road : roads) {
    Machine m = MachineWith(road.machine);
    winsim::Session s(m);
    EXPECT_EQ(GetACP(), road.machine);
    for (const Row& r : rows) {
      SCOPED_TRACE(std::string(r.what) + ", " + road.what);
      for (DWORD flags : {DWORD(0), DWORD(WC_ERR_INVALID_CHARS)}) {
        Converted c = ToBytes(road.named, flags, r.wide);
        EXPECT_EQ(c.error, 0u);
        EXPECT_EQ(Hex(c.bytes), Hex(r.bytes));
      }
      for (DWORD flags : {DWORD(0), DWORD(MB_ERR_INVALID_CHARS)}) {
        Converted c = ToWide(road.named, flags, r.bytes);
        EXPECT_EQ(c.error, 0u);
        EXPECT_TRUE(c.wide == r.wide);
      }
    }
  }
}

// What each code page takes: UTF-8 only 0 or WC_ERR_INVALID_CHARS / MB_ERR_INVALID_CHARS
// (ERROR_INVALID_FLAGS otherwise) and no default-character pointer (ERROR_INVALID_PARAMETER);
// WC_ERR_INVALID_CHARS is for UTF-8 alone; a flag that Windows does not define is refused by all.
TEST(WinsimUtf8, FlagsAndDefaultCharactersEachCodePageTakes) {
  const char question = '?';
  BOOL used = FALSE;
  struct Row {
    UINT cp;
    DWORD flags;
    const char* defaultChar;
    BOOL* usedDefault;
    DWORD error;
  } toBytes[] = {
      {65001, 0, nullptr, nullptr, 0},
      {65001, WC_ERR_INVALID_CHARS, nullptr, nullptr, 0},
      {65001, WC_NO_BEST_FIT_CHARS, nullptr, nullptr, ERROR_INVALID_FLAGS},
      {65001, WC_NO_BEST_FIT_CHARS | WC_ERR_INVALID_CHARS, nullptr, nullptr, ERROR_INVALID_FLAGS},
      {65001, WC_COMPOSITECHECK, nullptr, nullptr, ERROR_INVALID_FLAGS},
      {65001, WC_DEFAULTCHAR, nullptr, nullptr, ERROR_INVALID_FLAGS},
      {65001, WC_DISCARDNS, nullptr, nullptr, ERROR_INVALID_FLAGS},
      {65001, WC_SEPCHARS, nullptr, nullptr, ERROR_INVALID_FLAGS},
      {65001, 0, nullptr, &used, ERROR_INVALID_PARAMETER},
      {65001, 0, &question, nullptr, ERROR_INVALID_PARAMETER},
      {65001, WC_ERR_INVALID_CHARS, nullptr, &used, ERROR_INVALID_PARAMETER},
      {65001, WC_NO_BEST_FIT_CHARS, nullptr, &used, ERROR_INVALID_FLAGS},  // the flags are looked at first
      {1252, 0, &question, &used, 0},
      {1252, WC_NO_BEST_FIT_CHARS, nullptr, &used, 0},
      {1252, WC_ERR_INVALID_CHARS, nullptr, nullptr, ERROR_INVALID_FLAGS},
      {932, WC_ERR_INVALID_CHARS, nullptr, nullptr, ERROR_INVALID_FLAGS},
      {932, WC_NO_BEST_FIT_CHARS, nullptr, &used, 0},
      {1252, 0x1, nullptr, nullptr, ERROR_INVALID_FLAGS},
      {65001, 0x1, nullptr, nullptr, ERROR_INVALID_FLAGS},
  };
  for (const Row& r : toBytes) {
    SCOPED_TRACE("WideCharToMultiByte, code page " + std::to_string(r.cp) + ", flags " + std::to_string(r.flags) +
                 (r.defaultChar ? ", lpDefaultChar" : "") + (r.usedDefault ? ", lpUsedDefaultChar" : ""));
    for (UINT machine : {1252u, 932u, 65001u}) {
      Machine m = MachineWith(machine);
      winsim::Session s(m);
      // Named, and as the machine's own.
      for (UINT named : {r.cp, machine == r.cp ? UINT(CP_ACP) : r.cp}) {
        Converted c = ToBytes(named, r.flags, L"C:\\Drivers", r.defaultChar, r.usedDefault);
        EXPECT_EQ(c.error, r.error) << "named " << named << " on " << machine;
        if (!r.error) {
          EXPECT_EQ(c.bytes, "C:\\Drivers");
        }
      }
    }
  }
  struct WideRow {
    UINT cp;
    DWORD flags;
    DWORD error;
  } toWide[] = {
      {65001, 0, 0},
      {65001, MB_ERR_INVALID_CHARS, 0},
      {65001, MB_PRECOMPOSED, ERROR_INVALID_FLAGS},
      {65001, MB_COMPOSITE, ERROR_INVALID_FLAGS},
      {65001, MB_USEGLYPHCHARS, ERROR_INVALID_FLAGS},
      {65001, MB_PRECOMPOSED | MB_ERR_INVALID_CHARS, ERROR_INVALID_FLAGS},
      {1252, MB_ERR_INVALID_CHARS, 0},
      {1252, MB_PRECOMPOSED, 0},
      {932, MB_ERR_INVALID_CHARS, 0},
      {1252, 0x10, ERROR_INVALID_FLAGS},
      {65001, 0x10, ERROR_INVALID_FLAGS},
  };
  for (const WideRow& r : toWide) {
    SCOPED_TRACE("MultiByteToWideChar, code page " + std::to_string(r.cp) + ", flags " + std::to_string(r.flags));
    for (UINT machine : {1252u, 65001u}) {
      Machine m = MachineWith(machine);
      winsim::Session s(m);
      for (UINT named : {r.cp, machine == r.cp ? UINT(CP_ACP) : r.cp}) {
        Converted c = ToWide(named, r.flags, "C:\\Drivers");
        EXPECT_EQ(c.error, r.error) << "named " << named << " on " << machine;
        if (!r.error) {
          EXPECT_TRUE(c.wide == L"C:\\Drivers");
        }
      }
    }
  }
}

// Text that is not UTF-16 (an unpaired surrogate, which NTFS allows in a name) has no UTF-8: it
// becomes U+FFFD, or with WC_ERR_INVALID_CHARS the call fails with ERROR_NO_UNICODE_TRANSLATION.
// A surrogate pair is one character, as is a WCHAR above U+FFFF (the host's WCHAR holds one whole).
TEST(WinsimUtf8, UnpairedSurrogatesHaveNoBytes) {
  struct Row {
    const char* what;
    std::wstring wide;
    std::string bytes;  // without the flag
    bool valid;
  } rows[] = {
      {"a pair", L"a\xD83D\xDE00z", "a\xF0\x9F\x98\x80z", true},
      {"a high surrogate alone", L"a\xD800z", "a\xEF\xBF\xBDz", false},
      {"a low surrogate alone", L"a\xDC00z", "a\xEF\xBF\xBDz", false},
      {"a high surrogate at the end", L"C:\\\xD800", "C:\\\xEF\xBF\xBD", false},
      {"low before high", L"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD", false},
      {"two highs and a low", L"\xD83D\xD83D\xDE00", "\xEF\xBF\xBD\xF0\x9F\x98\x80", false},
      {"beyond U+10FFFF", std::wstring(1, WCHAR(0x110000)), "\xEF\xBF\xBD", false},
  };
  Machine m = MachineWith(65001);
  winsim::Session s(m);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Converted plain = ToBytes(CP_ACP, 0, r.wide);
    EXPECT_EQ(plain.error, 0u);
    EXPECT_EQ(Hex(plain.bytes), Hex(r.bytes));
    Converted strict = ToBytes(CP_ACP, WC_ERR_INVALID_CHARS, r.wide);
    EXPECT_EQ(strict.error, r.valid ? 0u : DWORD(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_EQ(Hex(strict.bytes), r.valid ? Hex(r.bytes) : "");
  }
  // The terminating NUL counts when the length is -1; a lone surrogate before it is still one.
  char out[8];
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, WC_ERR_INVALID_CHARS, L"C:\\\xD800", -1, out, 8, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_UNICODE_TRANSLATION));
  ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, L"C:\\\xD800", -1, out, 8, nullptr, nullptr), 7);
  EXPECT_STREQ(out, "C:\\\xEF\xBF\xBD");
}

// Bytes that are no UTF-8 likewise: each maximal ill-formed part becomes one U+FFFD, or with
// MB_ERR_INVALID_CHARS the call fails with ERROR_NO_UNICODE_TRANSLATION. A four-byte character
// is one WCHAR here, as winsim's W functions give it (Windows gives a surrogate pair).
TEST(WinsimUtf8, InvalidBytesHaveNoCharacters) {
  struct Row {
    const char* what;
    std::string bytes;
    std::wstring wide;  // without the flag
    bool valid;
  } rows[] = {
      {"four bytes", "\xF0\x9F\x98\x80", L"\U0001F600", true},
      {"the largest character", "\xF4\x8F\xBF\xBF", std::wstring(1, WCHAR(0x10FFFF)), true},
      {"a byte that starts nothing", "a\xFFz", L"a\xFFFDz", false},
      {"a continuation byte alone", "a\x80z", L"a\xFFFDz", false},
      {"a sequence cut short", "a\xE8\xA1z", L"a\xFFFDz", false},
      {"a sequence cut short by the end", "a\xE8\xA1", L"a\xFFFD", false},
      {"an overlong slash", "\xC0\xAF", L"\xFFFD\xFFFD", false},
      {"an overlong three-byte form", "\xE0\x80\xAF", L"\xFFFD\xFFFD\xFFFD", false},
      {"an encoded surrogate", "\xED\xA0\x80", L"\xFFFD\xFFFD\xFFFD", false},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", L"\xFFFD\xFFFD\xFFFD\xFFFD", false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Machine m = MachineWith(65001);
    winsim::Session s(m);
    Converted plain = ToWide(CP_ACP, 0, r.bytes);
    EXPECT_EQ(plain.error, 0u);
    EXPECT_TRUE(plain.wide == r.wide) << winsim::detail::Utf8(plain.wide.c_str());
    Converted strict = ToWide(CP_ACP, MB_ERR_INVALID_CHARS, r.bytes);
    EXPECT_EQ(strict.error, r.valid ? 0u : DWORD(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_TRUE(strict.wide == (r.valid ? r.wide : L""));
  }
  // 932 tells a lead byte without its trail byte with MB_ERR_INVALID_CHARS; 1252 has no bytes
  // that are no character.
  Machine sjis = MachineWith(932);
  winsim::Session s(sjis);
  EXPECT_EQ(ToWide(CP_ACP, MB_ERR_INVALID_CHARS, "A\x95").error, DWORD(ERROR_NO_UNICODE_TRANSLATION));
  EXPECT_TRUE(ToWide(CP_ACP, MB_ERR_INVALID_CHARS, "A\x95\x5C").wide == L"A\x8868");
}

// The A functions on a machine of 65001 take and give UTF-8. A folder whose name is not UTF-16
// reaches them as U+FFFD: the name of another folder, which may exist.
TEST(WinsimUtf8, AnsiFunctionsTakeAndGiveUtf8) {
  const std::string lone = "C:\\\xED\xA0\x80" "drv";  // the machine face keeps the surrogate's three bytes
  const std::string replaced = "C:\\\xEF\xBF\xBD" "drv";
  Machine m = MachineWith(65001);
  m.AddFile("C:\\\xC5\x81ukasz\\veltowinusb.inf", "[Version]\n");
  m.AddFolder(lone).shortName = "DRV~1";
  m.AddFile(replaced + "\\veltowinusb.inf", "; another folder\n");
  m.currentDirectory = lone;
  winsim::Session s(m);
  WCHAR wide[16];
  ASSERT_EQ(GetCurrentDirectoryW(16, wide), 7u);
  EXPECT_TRUE(std::wstring(wide) == L"C:\\\xD800" L"drv");
  char dir[16];
  ASSERT_EQ(GetCurrentDirectoryA(sizeof dir, dir), 9u);
  EXPECT_EQ(Hex(dir), Hex(replaced));
  EXPECT_NE(GetFileAttributesA((std::string(dir) + "\\veltowinusb.inf").c_str()), INVALID_FILE_ATTRIBUTES);
  // The surrogate's own folder is named by its 8.3 name, and a pair names the same file as the
  // character it stands for.
  WCHAR shortName[16];
  ASSERT_EQ(GetShortPathNameW(wide, shortName, 16), 8u);
  EXPECT_TRUE(std::wstring(shortName) == L"C:\\DRV~1");
  const char* lukasz = "C:\\\xC5\x81ukasz\\veltowinusb.inf";
  EXPECT_NE(GetFileAttributesA(lukasz), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA("C:\\Lukasz\\veltowinusb.inf"), INVALID_FILE_ATTRIBUTES);
  HANDLE h = CreateFileA(lukasz, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_EQ(m.Calls("CreateFileA").back().args["lpFileName"], lukasz);
  EXPECT_EQ(lstrcmpiA("PILOTES \xC3\x89T\xC3\x89", "pilotes \xC3\xA9t\xC3\xA9"), 0);  // characters, not bytes
}

TEST(WinsimUtf8, SurrogatePairNamesTheFileOfItsCharacter) {
  Machine m;
  m.AddFolder("C:\\\xF0\x9F\x98\x80").shortName = "SMILE~1";
  winsim::Session s(m);
  for (const std::wstring& path : {std::wstring(L"C:\\\xD83D\xDE00"), std::wstring(L"C:\\\U0001F600")}) {
    WCHAR out[16];
    ASSERT_EQ(GetShortPathNameW(path.c_str(), out, 16), 10u);
    EXPECT_TRUE(std::wstring(out) == L"C:\\SMILE~1");
  }
}

// Flags that Windows has but winsim does not simulate stop the program rather than give it an
// answer Windows would not give; so does MB_ERR_INVALID_CHARS for a 932 pair winsim lacks.
TEST(WinsimUtf8DeathTest, FlagsNotSimulatedStopTheProgram) {
  Machine m;
  winsim::Session s(m);
  char out[8];
  EXPECT_DEATH(WideCharToMultiByte(CP_ACP, WC_COMPOSITECHECK, L"e", -1, out, 8, nullptr, nullptr),
               "flags 0x200 are not simulated for code page 1252");
  WCHAR wide[8];
  EXPECT_DEATH(MultiByteToWideChar(CP_ACP, MB_COMPOSITE, "e", -1, wide, 8), "not simulated");
  EXPECT_DEATH(MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, "\x85\x40", -1, wide, 8), "not simulated");
}

// The state file that the host programs load and save carries such a name as it is, though its
// bytes are no UTF-8, and the record of the calls that named it.
TEST(WinsimUtf8, NameWithAnUnpairedSurrogateSurvivesTheStateFile) {
  const std::string lone = "C:\\\xED\xA0\x80" "drv";
  Machine m = MachineWith(65001);
  m.AddFolder(lone).shortName = "DRV~1";
  m.currentDirectory = lone;
  {
    winsim::Session s(m);
    WCHAR out[16];
    EXPECT_EQ(GetShortPathNameW(L"C:\\\xD800" L"drv", out, 16), 8u);
  }
  const std::string path = testing::TempDir() + "winsim-surrogate-state.json";
  m.Save(path);
  Machine back = Machine::Load(path);
  std::remove(path.c_str());
  EXPECT_EQ(Hex(back.currentDirectory), Hex(lone));
  ASSERT_NE(back.FindFile(lone), nullptr);
  EXPECT_EQ(back.FindFile(lone)->shortName, "DRV~1");
  ASSERT_EQ(back.Calls("GetShortPathNameW").size(), 1u);
  EXPECT_EQ(Hex(back.Calls("GetShortPathNameW")[0].args["lpszLongPath"]), Hex(lone));
  EXPECT_EQ(back.ToJson(), m.ToJson());
}
