#include "clib/clib.h"
#include "driverinstall/DriverInstall.h"
#include "install/Install.h"

AnsiText BaseDir;
DWORD BaseDirError = 0;
OSVERSIONINFOEXW VersionInfo;
BYTE OSKind = osUnknown;
SYSTEM_INFO SysInfo;
HMODULE hSetupLib = nullptr;

namespace {

void ShowError(const WCHAR* Text) { MessageBoxW(nullptr, Text, L"Error", MB_ICONERROR); }

[[noreturn]] void Fatal(const WCHAR* Text) {
  ShowError(Text);
  EndProgram(1);
}

bool SameText(const WCHAR* a, const WCHAR* b) {
  while (*a && *a == *b) ++a, ++b;
  return *a == *b;
}

}  // namespace

void SetBaseDir() {
  // Read as UTF-16: an ANSI read would turn a character that the code page lacks into a
  // look-alike ("Łukasz" into "Lukasz"), the name of another folder. A directory too long for the
  // usual buffer is read again at the size Windows asks for; a failed read (the heap's refusal
  // too) leaves the base directory empty, and the bare file name names the same file.
  BaseDirError = 0;
  const DWORD InitialSize = MAX_PATH + 1;
  DWORD size = InitialSize;
  WideText dir;
  for (int attempt = 0; attempt < 2 && dir.Length() == 0; ++attempt) {
    WideText buffer;
    if (!buffer.Grow(size)) break;
    DWORD n = GetCurrentDirectoryW(size, buffer.Data());
    if (n == 0) return;
    if (n >= size) {
      size = n;
      continue;
    }
    if (!dir.Append(buffer.c_str(), n)) return;
  }
  // Without its separator the directory would run into the file name.
  if (dir.Length() && dir.Last() != L'\\') dir.Append(L'\\');
  // The directory, or no base directory at all: the install then fails rather than name
  // another folder.
  DWORD error = dir.Failed() ? DWORD(ERROR_NOT_ENOUGH_MEMORY) : 0;
  if (error || (dir.Length() && !AppendExactAnsiPath(BaseDir, dir.c_str(), error))) {
    BaseDir.Truncate(0);
    BaseDirError = error;
  }
}

bool ReadVersion() {
  VersionInfo = OSVERSIONINFOEXW();
  VersionInfo.dwOSVersionInfoSize = sizeof(VersionInfo);
  return GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&VersionInfo)) != FALSE;
}

void ClassifyOS() {
  bool workstation = VersionInfo.wProductType == VER_NT_WORKSTATION;
  OSKind = osUnknown;
  if (VersionInfo.dwMajorVersion == 5) {
    switch (VersionInfo.dwMinorVersion) {
      case 0: OSKind = osWin2000; break;
      case 1: OSKind = osWinXP; break;
      case 2: OSKind = GetSystemMetrics(SM_SERVERR2) ? osServer2003R2 : osServer2003; break;
      default: break;
    }
  } else if (VersionInfo.dwMajorVersion == 6) {
    OSKind = osVistaFamily;
    LoadDiInstallDriver();
    switch (VersionInfo.dwMinorVersion) {
      case 0: OSKind = workstation ? osVista : osServer2008; break;
      case 1: OSKind = workstation ? osWin7 : osServer2003R2; break;
      case 2: OSKind = workstation ? osWin8 : osServer2012; break;
      case 3: OSKind = workstation ? osWin81 : osServer2012R2; break;
      default: break;
    }
  }
}

bool LoadSetupApi() {
  hSetupLib = GetModuleHandleW(L"SetupApi.dll");
  if (!hSetupLib) hSetupLib = LoadSystemLibrary(L"SetupApi.dll");
  return hSetupLib != nullptr;
}

void ReadSysInfo() {
  typedef void(WINAPI * TGetNativeSystemInfo)(LPSYSTEM_INFO);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (!kernel) kernel = LoadSystemLibrary(L"kernel32.dll");
  TGetNativeSystemInfo native = nullptr;
  if (kernel)
    native = reinterpret_cast<TGetNativeSystemInfo>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "GetNativeSystemInfo")));
  // Windows without GetNativeSystemInfo runs no 32-bit programs on a 64-bit processor.
  if (native) native(&SysInfo);
  else GetSystemInfo(&SysInfo);
}

bool ArchitectureRefused(WORD Architecture) {
  switch (Architecture) {
    case 1: case 3: case 4: case 5: case 6: case 7: case 8: case 10:
      return true;
    default:
      return false;
  }
}

bool CommandLineItem(const WCHAR* CommandLine, int Index, WideText& Item) {
  const WCHAR* p = CommandLine ? CommandLine : L"";
  for (int i = 0;; ++i) {
    while (*p && *p <= L' ') ++p;  // every character up to the space separates
    if (!*p) return false;
    bool quoted = false;
    while (*p && (quoted || *p > L' ')) {
      if (*p == L'"') quoted = !quoted;
      else if (i == Index) Item.Append(*p);
      ++p;
    }
    if (i == Index) return true;
  }
}

void OpenMainWindow() {
  TMainWindow* window = New<TMainWindow>();
  if (!window || !window->Complete()) {
    // The box comes first: destroying the main window posts WM_QUIT, which would end the box at
    // once, unread. Destroying it then frees the controls that were made with it.
    ShowError(L"Unable to create the main window!");
    if (window) window->Destroy();
    EndProgram(1);
  }
  window->SetText(L"VELTO drivers installation program");
  window->SetStyle(window->GetStyle() | WS_SYSMENU | WS_THICKFRAME);
  window->Move(50, 50, 600, 320);  // the first layout
  window->Show();
  RunMessageLoop();
}

UINT RunCommandLine(const WCHAR* CommandLine) {
  WideText arg;
  if (!CommandLineItem(CommandLine, 1, arg)) OpenMainWindow();
  // What the heap cut short is another argument ("x/uninstall" less its "x"): not the one given.
  if (arg.Failed()) return 1;
  if (arg.Length()) CharLowerBuffW(arg.Data(), DWORD(arg.Length()));
  if (SameText(arg.c_str(), L"/install")) return DoInstall(nullptr) == 0 ? 0 : 1;
  if (SameText(arg.c_str(), L"/uninstall")) return DoUninstall(nullptr) ? 0 : 1;
  return 1;
}

void InstallMain() {
  // What the import table would have loaded: LoadDiInstallDriver finds newdev.dll loaded.
  BindSystemEntries();
  SetBaseDir();
  if (!ReadVersion()) Fatal(L"Unable to get Windows version!");
  if (VersionInfo.dwMajorVersion < 5) Fatal(L"This OS is not supported!");
  ClassifyOS();
  if (OSKind < osWinXP) Fatal(L"This OS is not supported!");
  if (!LoadSetupApi()) Fatal(L"Cannot load SetupAPI library!");
  ReadSysInfo();
  if (ArchitectureRefused(SysInfo.wProcessorArchitecture)) Fatal(L"This type of OS is not supported!");
  EndProgram(RunCommandLine(GetCommandLineW()));
}
