// install: the installer application. Start-up and command line, the install and uninstall
// procedures, the install steps with their result reporting.
#pragma once

#include "install/MainWindow.h"
#include "platform/text.h"

// The OS kinds, from the Windows version, product type and the Server 2003 R2 flag.
enum : BYTE {
  osUnknown = 0,
  osWin2000 = 1,
  osWinXP = 2,
  osServer2003 = 3,
  osServer2003R2 = 4,
  osVistaFamily = 5,
  osVista = 6,
  osServer2008 = 7,
  osWin7 = 9,
  osServer2012 = 10,
  osWin8 = 11,
  osServer2012R2 = 12,
  osWin81 = 13,
};

// Program-wide values, set once by the start-up before any procedure runs.
extern AnsiText BaseDir;  // the current directory at start, ending in "\" (empty when unreadable)
extern DWORD BaseDirError;  // 0, or why BaseDir could not name the current directory: no install then
extern OSVERSIONINFOEXW VersionInfo;
extern BYTE OSKind;
extern SYSTEM_INFO SysInfo;
extern HMODULE hSetupLib;

// ---- Start-up and command line ----

// The main block of install: start-up checks, then the command line. Never returns.
[[noreturn]] void InstallMain();

// The start-up steps, in the order InstallMain runs them.
void SetBaseDir();
bool ReadVersion();
void ClassifyOS();  // sets OSKind; binds DiInstallDriverA on every version 6
bool LoadSetupApi();
void ReadSysInfo();
bool ArchitectureRefused(WORD Architecture);

// Item Index of a command line (0: the program itself); false when there is no such item.
// Item.Failed() tells that the heap could not hold the item whole.
bool CommandLineItem(const WCHAR* CommandLine, int Index, WideText& Item);

// The window branch: the main window, shown, and the message loop; ends the program.
[[noreturn]] void OpenMainWindow();

// The exit code of the silent run that the command line asks for (the first argument only);
// without an argument, the window branch, which never returns.
UINT RunCommandLine(const WCHAR* CommandLine);

// ---- Install steps and result reporting ----

// The message that carries a progress text (an ANSI string in wParam) to the main window.
const UINT WM_ADDLOG = WM_USER + 1;

// One debug-output line, unchanged.
void DebugOutput(const WCHAR* Text);

// An install result that counts as success: 0, or ERROR_NO_SUCH_DEVINST (no matching device was
// present, and the package went into the driver store). The steps report it so, mark the absent
// devices after it, and the procedure returns 0 for it.
inline bool InstallSucceeded(DWORD Result) { return Result == ERROR_SUCCESS || Result == ERROR_NO_SUCH_DEVINST; }

// The per-device step: installs InfFileName (in BaseDir) for one hardware ID and reports the
// result. A null Message adds no message line.
DWORD InstallDeviceDriver(TMainWindow* Window, const char* HardwareId, const char* InfFileName, const char* Message);

// The package step: installs the whole package, through quorvin when Windows refuses it in this
// 32-bit process, and reports the result.
DWORD InstallDriver(TMainWindow* Window, const char* InfFileName, const char* Message);

// ---- Install and uninstall procedures ----

// Reads the hardware IDs from "veltowinusb.inf" and installs by the method of the OS kind; 0 on success.
int DoInstall(TMainWindow* Window);

// Removes the vendor's devices and driver packages; true on success.
bool DoUninstall(TMainWindow* Window);
