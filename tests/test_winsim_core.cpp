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
