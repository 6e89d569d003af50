// The one switch between the platforms: the toolchain's Windows headers in the Windows builds,
// our simulated Windows (winsim) in the host build. Program code includes only this header.
#pragma once

#ifdef _WIN32
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0501
#endif
// The user32 records at their full size (NONCLIENTMETRICSW with its padded border width).
#ifndef WINVER
#define WINVER 0x0600
#endif
#include <windows.h>
#include <commctrl.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <newdev.h>
// The records whose size the 32-bit program hands to Windows.
static_assert(sizeof(void*) != 4 || sizeof(WNDCLASSEXW) == 48, "WNDCLASSEXW");
static_assert(sizeof(void*) != 4 || sizeof(NONCLIENTMETRICSW) == 504, "NONCLIENTMETRICSW");
static_assert(sizeof(LOGFONTW) == 92, "LOGFONTW");
// The device, driver, driver detail and startup records of the 32-bit layouts (1-byte packing
// for SetupAPI), whose cbSize and cb values the removal and the hand-over hand to Windows.
static_assert(sizeof(void*) != 4 || sizeof(SP_DEVINFO_DATA) == 28, "SP_DEVINFO_DATA");
static_assert(sizeof(void*) != 4 || sizeof(SP_DRVINFO_DATA_V2_A) == 796, "SP_DRVINFO_DATA_V2_A");
static_assert(sizeof(void*) != 4 || sizeof(SP_DRVINFO_DETAIL_DATA_A) == 797, "SP_DRVINFO_DETAIL_DATA_A");
static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOA) == 68, "STARTUPINFOA");
#else
#include "winsim/winsim.h"
#endif

// Values that not every toolchain header defines.
#ifndef ERROR_IN_WOW64
#define ERROR_IN_WOW64 0xE0000235
#endif
#ifndef ERROR_NO_AUTHENTICODE_CATALOG
#define ERROR_NO_AUTHENTICODE_CATALOG 0xE000023F
#endif
#ifndef ERROR_AUTHENTICODE_PUBLISHER_NOT_TRUSTED
#define ERROR_AUTHENTICODE_PUBLISHER_NOT_TRUSTED 0xE0000243
#endif
#ifndef DIIRFLAG_FORCE_INF
#define DIIRFLAG_FORCE_INF 0x00000002
#endif
#ifndef SUOI_FORCEDELETE
#define SUOI_FORCEDELETE 0x00000001
#endif
#ifndef CONFIGFLAG_REINSTALL
#define CONFIGFLAG_REINSTALL 0x00000020
#endif
#ifndef SM_SERVERR2
#define SM_SERVERR2 89
#endif

// The codes that the programs compare and store have the same sign and width in both builds
// (winsim declares them with Windows' own types), so that a narrowing that breaks the 32-bit
// build breaks the host build too.
#include <type_traits>
#define PLATFORM_CODE_TYPE(Code, Signed) \
  static_assert(std::is_signed_v<decltype(Code)> == (Signed) && sizeof(Code) == 4, #Code)
PLATFORM_CODE_TYPE(ERROR_SUCCESS, true);
PLATFORM_CODE_TYPE(ERROR_ACCESS_DENIED, true);
PLATFORM_CODE_TYPE(ERROR_NO_MORE_ITEMS, true);
PLATFORM_CODE_TYPE(WAIT_TIMEOUT, true);
PLATFORM_CODE_TYPE(WAIT_OBJECT_0, false);
PLATFORM_CODE_TYPE(WAIT_FAILED, false);
PLATFORM_CODE_TYPE(STILL_ACTIVE, false);
PLATFORM_CODE_TYPE(ERROR_NO_SUCH_DEVINST, false);
PLATFORM_CODE_TYPE(ERROR_IN_WOW64, false);
PLATFORM_CODE_TYPE(ERROR_NO_AUTHENTICODE_CATALOG, false);
PLATFORM_CODE_TYPE(ERROR_LINE_NOT_FOUND, false);
#undef PLATFORM_CODE_TYPE
