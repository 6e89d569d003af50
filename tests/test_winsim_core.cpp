// winsim itself: how its processes end, the state file, scripted answers, and the kernel32
// behaviour that the programs rely on.
#include "support.h"
#include "platform/text.h"
#include "winsim/internal.h"

using winsim::Machine;

TEST(WinsimProcess, FullExitCodeAndOpenHandlesReachTheStarter) {
  Machine m;
  winsim::ProcessResult r = winsim::RunProcess(m, {}, [] {
    SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_ALLCLASSES);  // never destroyed
    ExitProcess(0xE0000235);
  });
  EXPECT_TRUE(r.exited);
  EXPECT_FALSE(r.crashed);
  EXPECT_EQ(r.exitCode, 0xE0000235u);
  ASSERT_EQ(m.exits.size(), 1u);
  EXPECT_EQ(m.exits[0].openDeviceInfoSets, 1);
}

TEST(WinsimProcess, CrashIsReported) {
  Machine m;
  winsim::ProcessResult r = winsim::RunProcess(m, {}, [] { std::abort(); });
  EXPECT_TRUE(r.crashed);
  EXPECT_FALSE(r.exited);
}

TEST(WinsimState, RoundTripKeepsEverything) {
  Machine m;
  m.SetVersion(5, 2, VER_NT_SERVER, 1);
  m.AddFile("C:\\Drivers\\veltowinusb.inf", std::string("\xff\xfe;\0@\x1a", 6)).heldForWrite = true;
  winsim::Device& d = m.AddDevice("USB\\VID_7A3C&PID_0001\\7", {"USB\\VID_7A3C&PID_0001"}, false);
  d.hardwareIdData = std::string("A\0B", 3);
  d.configFlags.reset();
  d.drivers.push_back({"VELTO Data Logger", "C:\\Windows\\INF\\oem4.inf", {"USB\\VID_7A3C&PID_0001"}});
  m.Fail("SetupDiEnumDeviceInfo", ERROR_ACCESS_DENIED, 3, "install");
  m.debugLines.push_back("caf\xc3\xa9");
  Machine back = Machine::FromJson(m.ToJson());
  EXPECT_EQ(back.ToJson(), m.ToJson());
  EXPECT_EQ(back.FindFile("c:\\drivers\\VELTOWINUSB.INF")->data, std::string("\xff\xfe;\0@\x1a", 6));
  EXPECT_FALSE(back.devices[0].configFlags.has_value());
  EXPECT_EQ(*back.devices[0].hardwareIdData, std::string("A\0B", 3));
}

TEST(WinsimRules, NthCallAndProgramFilter) {
  Machine m;
  m.Fail("GetCurrentDirectoryA", ERROR_ACCESS_DENIED, 2);
  m.Fail("GetCurrentDirectoryW", ERROR_ACCESS_DENIED, 0, "quorvin");
  winsim::Session s(m);
  char buf[MAX_PATH];
  WCHAR wbuf[MAX_PATH];
  EXPECT_NE(GetCurrentDirectoryA(MAX_PATH, buf), 0u);
  EXPECT_EQ(GetCurrentDirectoryA(MAX_PATH, buf), 0u);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
  EXPECT_NE(GetCurrentDirectoryA(MAX_PATH, buf), 0u);
  EXPECT_NE(GetCurrentDirectoryW(MAX_PATH, wbuf), 0u);  // the rule is quorvin's only
}

TEST(WinsimKernel, CurrentDirectoryBufferRule) {
  Machine m;
  winsim::Session s(m);
  char buf[16];
  std::memset(buf, 'x', sizeof buf);
  // Too small: the size needed, NUL included, and the buffer untouched.
  EXPECT_EQ(GetCurrentDirectoryA(10, buf), 11u);
  EXPECT_EQ(buf[0], 'x');
  EXPECT_EQ(GetCurrentDirectoryA(11, buf), 10u);
  EXPECT_STREQ(buf, "C:\\Drivers");
}

TEST(WinsimKernel, AnsiCodePageIs1252) {
  Machine m;
  winsim::Session s(m);
  const char ansi[] = "\x80 \xe9 \x9f";
  WCHAR wide[8];
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide, 8), 6);
  EXPECT_EQ(std::wstring(wide), std::wstring(L"\u20ac \u00e9 \u0178"));
  char back[8];
  BOOL usedDefault = FALSE;
  ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, L"\u20ac\u4e00", -1, back, 8, nullptr, &usedDefault), 3);
  EXPECT_STREQ(back, "\x80?");
  EXPECT_TRUE(usedDefault);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide, 2), 0);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
}

TEST(WinsimKernel, CaseInsensitiveComparisons) {
  Machine m;
  winsim::Session s(m);
  EXPECT_EQ(lstrcmpiA("USB\\VID_7A3C&PID_00AB", "usb\\vid_7a3c&pid_00ab"), 0);
  EXPECT_NE(lstrcmpiA("USB\\VID_7A3C&PID_0001", "USB\\VID_7A3C&PID_0001&MI_00"), 0);
  EXPECT_EQ(lstrcmpiA("\xe9", "\xc9"), 0);
  EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, L"usb\\vid_7a3c&", 13, L"USB\\VID_7A3C&", -1),
            CSTR_EQUAL);
  EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, 0, L"usb", -1, L"USB", -1), CSTR_GREATER_THAN);
  EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, L"USB\\VID", -1, L"USB\\VID_7A3C&", -1),
            CSTR_LESS_THAN);
  WCHAR lower[] = L"/INSTALL \u00c9\u0178";
  CharLowerBuffW(lower, 11);
  EXPECT_EQ(std::wstring(lower), std::wstring(L"/install \u00e9\u00ff"));
}

TEST(WinsimKernel, VersionRecordSizeIsChecked) {
  Machine m;
  m.SetVersion(6, 3, VER_NT_SERVER);
  winsim::Session s(m);
  OSVERSIONINFOEXW ex = {};
  ex.dwOSVersionInfoSize = 100;
  EXPECT_FALSE(GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&ex)));
  ex.dwOSVersionInfoSize = sizeof ex;
  ASSERT_TRUE(GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&ex)));
  EXPECT_EQ(ex.dwMajorVersion, 6u);
  EXPECT_EQ(ex.dwMinorVersion, 3u);
  EXPECT_EQ(ex.wProductType, VER_NT_SERVER);
}

TEST(WinsimKernel, SystemInfoOfAWow64Process) {
  Machine m;  // x64
  winsim::Session s(m);
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  EXPECT_EQ(si.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_INTEL);
  GetNativeSystemInfo(&si);
  EXPECT_EQ(si.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_AMD64);
}

TEST(Text, FormattingAndConversions) {
  Machine m;
  winsim::Session s(m);
  struct Row {
    DWORD value;
    const WCHAR* hex;
  } rows[] = {{0, L"0"}, {3, L"3"}, {0x103, L"103"}, {0xE0000235, L"E0000235"}, {0xFFFFFFFF, L"FFFFFFFF"}, {0xabc, L"ABC"}};
  for (const Row& r : rows) {
    WideText t;
    AppendHex(t, r.value);
    EXPECT_EQ(std::wstring(t.c_str()), std::wstring(r.hex));
  }
  AnsiText d;
  AppendDecimal(d, 0);
  AppendDecimal(d, 4294967295u);
  EXPECT_STREQ(d.c_str(), "04294967295");
  WideText w;
  ASSERT_TRUE(AppendAnsiAsWide(w, "Installing \x93x\x94"));
  EXPECT_EQ(std::wstring(w.c_str()), std::wstring(L"Installing \u201cx\u201d"));
  AnsiText a;
  ASSERT_TRUE(AppendWideAsAnsi(a, w.c_str()));
  EXPECT_STREQ(a.c_str(), "Installing \x93x\x94");
}

// The loader's search for a bare name, as Windows makes it: a module already loaded and the
// KnownDLLs first, then the program's folder, the system directory and the current directory.
// SetDllDirectoryW("") takes the current directory out, not the program's folder;
// SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) leaves the system directory alone. A
// file found before the system's module is loaded, and its code runs: winsim stops the program.
TEST(WinsimLoader, BareNamesFollowTheProcesssSearch) {
  enum Search { Default, NoCurrentDirectory, SystemOnly };
  enum Outcome { System, Planted, NotFound };
  struct Row {
    Search search;
    const char* name;
    const char* plantedIn;  // "program" (C:\Tools) or "current" (C:\Work)
    Outcome outcome;
  } rows[] = {
      {Default, "coinst.dll", "program", Planted},
      {Default, "coinst.dll", "current", System},
      {Default, "missing.dll", "current", Planted},
      {Default, "kernel32.dll", "program", System},
      {NoCurrentDirectory, "coinst.dll", "program", Planted},
      {NoCurrentDirectory, "missing.dll", "current", NotFound},
      {SystemOnly, "coinst.dll", "program", System},
      {SystemOnly, "missing.dll", "current", NotFound},
      {SystemOnly, "missing.dll", "program", NotFound},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.name) + " in the " + r.plantedIn + " folder, search " + std::to_string(r.search));
    Machine m;
    m.modules.push_back({"coinst.dll", {}});
    m.AddFolder("C:\\Work");
    m.AddFile(std::string(r.plantedIn) == "program" ? std::string("C:\\Tools\\") + r.name
                                                     : std::string("C:\\Work\\") + r.name,
              "MZ");
    winsim::ProcessSpec spec;
    spec.imagePath = "C:\\Tools\\install.exe";
    spec.currentDirectory = "C:\\Work";
    const Search search = r.search;
    const std::wstring name = winsim::detail::Wide(r.name);
    winsim::ProcessResult res = winsim::RunProcess(m, spec, [search, name] {
      if (search == NoCurrentDirectory) SetDllDirectoryW(L"");
      if (search == SystemOnly) SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
      HMODULE h = LoadLibraryW(name.c_str());
      ExitProcess(h && h == GetModuleHandleW(name.c_str()) ? 0 : 2);
    });
    EXPECT_EQ(res.stopped.empty(), r.outcome != Planted) << res.stopped;
    if (r.outcome != Planted) {
      EXPECT_EQ(res.exitCode, r.outcome == System ? 0u : 2u);
    }
  }
}

// The program's own file, a module's file in the system directory; a buffer too small takes what
// fits with its NUL and answers its own size with ERROR_INSUFFICIENT_BUFFER (Windows since Vista).
TEST(WinsimLoader, ModuleFileNames) {
  Machine m;
  winsim::ProcessSpec spec;
  spec.imagePath = "D:\\Velto Setup\\install.exe";
  winsim::Session s(m, spec);
  WCHAR buf[64];
  EXPECT_EQ(GetModuleFileNameW(nullptr, buf, 64), 26u);
  EXPECT_EQ(std::wstring(buf), L"D:\\Velto Setup\\install.exe");
  EXPECT_EQ(GetModuleFileNameW(GetModuleHandleW(L"kernel32.dll"), buf, 64), 32u);
  EXPECT_EQ(std::wstring(buf), L"C:\\Windows\\system32\\kernel32.dll");
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameW(nullptr, buf, 8), 8u);
  EXPECT_EQ(std::wstring(buf), L"D:\\Velt");
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
}

// A folder with an 8.3 alias is found by either name; GetShortPathNameW gives each component by
// its alias where it has one, keeps the rest of the text as given, and needs the path to exist.
TEST(WinsimFiles, ShortNames) {
  Machine m;
  m.AddFolder("C:\\\xC5\x81ukasz").shortName = "LUKASZ~1";  // Łukasz
  m.AddFile("C:\\\xC5\x81ukasz\\Long Name.inf", "x").shortName = "LONGNA~1.INF";
  m.AddFolder("C:\\Plain");
  EXPECT_NE(m.FindFile("C:\\lukasz~1\\long name.inf"), nullptr);
  EXPECT_EQ(m.FindFile("C:\\Lukasz"), nullptr);
  winsim::Session s(m);
  struct Row {
    const WCHAR* path;
    const WCHAR* shortPath;  // null: the call fails with `error`
    DWORD error;
  } rows[] = {
      {L"C:\\\x141ukasz\\", L"C:\\LUKASZ~1\\", 0},
      {L"C:\\\x141ukasz\\Long Name.inf", L"C:\\LUKASZ~1\\LONGNA~1.INF", 0},
      {L"C:\\Plain", L"C:\\Plain", 0},
      {L"C:\\Plain\\none.inf", nullptr, ERROR_FILE_NOT_FOUND},
      {L"C:\\None\\none.inf", nullptr, ERROR_PATH_NOT_FOUND},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(winsim::detail::Utf8(r.path));
    WCHAR buf[64] = {};
    DWORD n = GetShortPathNameW(r.path, buf, 64);
    if (!r.shortPath) {
      EXPECT_EQ(n, 0u);
      EXPECT_EQ(GetLastError(), r.error);
      continue;
    }
    EXPECT_EQ(std::wstring(buf), r.shortPath);
    EXPECT_EQ(n, std::wstring(r.shortPath).size());
    EXPECT_EQ(GetShortPathNameW(r.path, nullptr, 0), n + 1);  // the size needed, NUL included
  }
}
