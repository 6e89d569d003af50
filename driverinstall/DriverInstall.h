// DriverInstall: driver installation over the Windows device-installation services: the install
// calls and their result code, the device search and reinstall marking, and device removal.
#pragma once

#include "platform/text.h"
#include "platform/win32.h"

// The error of the Windows call that just failed; a failure that names no error is still a
// failure (ERROR_INVALID_FUNCTION), never success.
DWORD LastErrorOfFailure();

// Appends Path as ANSI text that names the same file: exactly as it is, or its short (8.3) form
// when the ANSI code page lacks a character of it. Never a best-fit look-alike, which may name
// another file. False with the error otherwise (ERROR_NO_UNICODE_TRANSLATION: neither form fits).
bool AppendExactAnsiPath(AnsiText& Out, const WCHAR* Path, DWORD& Error);

// ---- Install calls ----

typedef BOOL(WINAPI* TDiInstallDriverA)(HWND hwndParent, PCSTR InfPath, DWORD Flags, PBOOL NeedReboot);

// DiInstallDriverA of newdev.dll, bound by LoadDiInstallDriver; null until then.
extern TDiInstallDriverA DiInstallDriverProc;

// Loads a module of Windows from the system directory, never from the program's folder; the
// DLLs that it imports come from the system directory too.
HMODULE LoadSystemLibrary(const WCHAR* Name);

// A module of Windows: the one already loaded, else the system directory's.
HMODULE SystemModule(const WCHAR* Name);

// The first thing each program does: DLLs that Windows loads by bare name for us come from the
// system directory only (where Windows cannot do that, at least not from the current directory).
// Both programs run as administrator, often from a folder that anyone may write to.
void RestrictDllSearch();

// The entries of newdev.dll and cfgmgr32.dll that install uses from its start. They are bound at
// run time from the system directory, so that the import table names no DLL that the loader
// would look for in the program's folder first; null when they cannot be bound.
typedef BOOL(WINAPI* TUpdateDriverForPlugAndPlayDevicesA)(HWND hwndParent, LPCSTR HardwareId, LPCSTR FullInfPath,
                                                         DWORD InstallFlags, PBOOL bRebootRequired);
typedef CONFIGRET(WINAPI* TCM_Get_DevNode_Status)(PULONG pulStatus, PULONG pulProblemNumber, DEVINST dnDevInst,
                                                  ULONG ulFlags);
extern TUpdateDriverForPlugAndPlayDevicesA UpdateDriverProc;
extern TCM_Get_DevNode_Status GetDevNodeStatusProc;

// Binds both; true when both are bound.
bool BindSystemEntries();

// Binds DiInstallDriverA; true when it is bound afterwards.
bool LoadDiInstallDriver();

// Installs the INF for the devices that carry HardwareId. Enumerator is not used. Returns the
// install result code: 0, 0xE000020B after the fallback copy into the driver store, else an error;
// 1 when UpdateDriverForPlugAndPlayDevicesA is not bound.
DWORD UpdateDeviceDriver(HWND Wnd, const char* Enumerator, const char* HardwareId, const char* InfPath, bool Force,
                         bool& Reboot);

// The end of both install calls once Windows has answered: the restart flag, and on
// ERROR_NO_SUCH_DEVINST the copy of the package into the driver store.
DWORD FinishInstallCall(BOOL Ok, BOOL RebootFlag, const char* InfPath, bool& Reboot);

// Installs the whole driver package; 1 when DiInstallDriverA is not bound. Result as above.
DWORD InstallDriverPackage(HWND Wnd, const char* InfPath, bool Force, bool& Reboot);

// ---- Device search and reinstall marking ----

// Gathers into a new set (FoundSet) every device of the enumerator whose hardware-ID list holds
// HardwareId; with NotPresentOnly, only those that are not present. 0 with a set or with none
// (INVALID_HANDLE_VALUE); an error code with none (1 when presence cannot be told because
// CM_Get_DevNode_Status is not bound). The caller destroys the set.
DWORD FindDevices(const char* Enumerator, const char* HardwareId, bool NotPresentOnly, HDEVINFO& FoundSet);

// The device's configuration flags; 0 when they cannot be read or are not a REG_DWORD.
DWORD GetConfigFlags(HDEVINFO DevInfo, PSP_DEVINFO_DATA DevData);
bool SetConfigFlags(HDEVINFO DevInfo, PSP_DEVINFO_DATA DevData, DWORD Flags);

// Sets CONFIGFLAG_REINSTALL for every device of the set.
void SetReinstallFlag(HDEVINFO DevInfo);

// Marks every device of the enumerator that carries HardwareId and is not present for
// reinstallation; the result of FindDevices.
DWORD MarkForReinstall(const char* Enumerator, const char* HardwareId);

// ---- Device removal ----

// Removes every device of "USB", present or not, whose instance ID begins with Prefix, with its
// registry keys and the INF packages of its compatible drivers, sending each step as a progress
// text (SendMessageW(Window, MessageId, text, 0); nothing when Window is 0).
bool UninstallDevices(const char* Enumerator, const char* Prefix, HWND Window, UINT MessageId);
