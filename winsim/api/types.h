// Base types of the Win32 API, as the 64-bit Windows ABI defines them (LLP64). WCHAR is the
// host's wchar_t: code units are wider than on Windows, which the programs never rely on.
#pragma once

#include <cstddef>
#include <cstdint>

#define WINAPI
#define CALLBACK
#define CONST const

typedef int BOOL;
typedef BOOL* PBOOL;
typedef unsigned char BYTE;
typedef BYTE* PBYTE;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef DWORD* PDWORD;
typedef DWORD* LPDWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef ULONG* PULONG;
typedef int INT;
typedef unsigned int UINT;
typedef uint64_t DWORDLONG;
typedef intptr_t INT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t UINT_PTR;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef char CHAR;
typedef wchar_t WCHAR;
typedef CHAR* LPSTR;
typedef CHAR* PSTR;
typedef const CHAR* LPCSTR;
typedef const CHAR* PCSTR;
typedef WCHAR* LPWSTR;
typedef WCHAR* PWSTR;
typedef const WCHAR* LPCWSTR;
typedef const WCHAR* PCWSTR;
typedef void* PVOID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef void* HANDLE;
typedef HANDLE* PHANDLE;
typedef WORD ATOM;
typedef DWORD LCID;

#define DECLARE_HANDLE(name) \
  struct name##__ {          \
    int unused;              \
  };                         \
  typedef struct name##__* name
DECLARE_HANDLE(HWND);
DECLARE_HANDLE(HINSTANCE);
DECLARE_HANDLE(HMENU);
DECLARE_HANDLE(HICON);
DECLARE_HANDLE(HBRUSH);
DECLARE_HANDLE(HFONT);
DECLARE_HANDLE(HDC);
DECLARE_HANDLE(HRGN);
DECLARE_HANDLE(HPEN);
DECLARE_HANDLE(HBITMAP);
DECLARE_HANDLE(HHOOK);
typedef void* HGDIOBJ;  // any GDI object: every kind converts to it
typedef HICON HCURSOR;
typedef HINSTANCE HMODULE;
typedef INT_PTR(WINAPI* FARPROC)();

typedef DWORD COLORREF;
typedef unsigned short USHORT;
typedef short SHORT;

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define ANYSIZE_ARRAY 1

typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME;

typedef struct _GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID;
typedef const GUID* LPCGUID;

typedef struct tagPOINT {
  LONG x;
  LONG y;
} POINT;

typedef POINT* LPPOINT;

typedef struct tagRECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
} RECT, *LPRECT;
typedef const RECT* LPCRECT;

typedef struct tagSIZE {
  LONG cx;
  LONG cy;
} SIZE, *LPSIZE;

// Words and colours.
#define LOWORD(l) ((WORD)(((DWORD_PTR)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((DWORD_PTR)(l)) >> 16) & 0xffff))
#define LOBYTE(w) ((BYTE)(((DWORD_PTR)(w)) & 0xff))
#define MAKELONG(lo, hi) ((LONG)(((WORD)(((DWORD_PTR)(lo)) & 0xffff)) | ((DWORD)((WORD)(((DWORD_PTR)(hi)) & 0xffff))) << 16))
#define MAKEWPARAM(lo, hi) ((WPARAM)(DWORD)MAKELONG(lo, hi))
#define MAKELPARAM(lo, hi) ((LPARAM)(DWORD)MAKELONG(lo, hi))
#define MAKELRESULT(lo, hi) ((LRESULT)(DWORD)MAKELONG(lo, hi))
#define RGB(r, g, b) ((COLORREF)(((BYTE)(r) | ((WORD)((BYTE)(g)) << 8)) | (((DWORD)(BYTE)(b)) << 16)))
#define GetRValue(c) (LOBYTE(c))
#define GetGValue(c) (LOBYTE(((WORD)(c)) >> 8))
#define GetBValue(c) (LOBYTE((c) >> 16))

// Error codes, with Windows' own types, so that a narrowing that breaks the 32-bit build breaks
// this one too (platform/win32.h checks both): the codes of winerror.h are signed 32-bit there
// (long, LONG here); the SetupAPI codes, severity and customer bits set, are unsigned.
#define ERROR_SUCCESS ((LONG)0)
#define NO_ERROR ((LONG)0)
#define ERROR_INVALID_FUNCTION ((LONG)1)
#define ERROR_FILE_NOT_FOUND ((LONG)2)
#define ERROR_PATH_NOT_FOUND ((LONG)3)
#define ERROR_ACCESS_DENIED ((LONG)5)
#define ERROR_INVALID_HANDLE ((LONG)6)
#define ERROR_NOT_ENOUGH_MEMORY ((LONG)8)
#define ERROR_INVALID_DATA ((LONG)13)
#define ERROR_OUTOFMEMORY ((LONG)14)
#define ERROR_SHARING_VIOLATION ((LONG)32)
#define ERROR_HANDLE_EOF ((LONG)38)
#define ERROR_INVALID_PARAMETER ((LONG)87)
#define ERROR_INSUFFICIENT_BUFFER ((LONG)122)
#define ERROR_MOD_NOT_FOUND ((LONG)126)
#define ERROR_PROC_NOT_FOUND ((LONG)127)
#define ERROR_BAD_EXE_FORMAT ((LONG)193)
#define ERROR_DIRECTORY ((LONG)267)
#define ERROR_NO_MORE_ITEMS ((LONG)259)
#define ERROR_NOACCESS ((LONG)998)
#define ERROR_NO_UNICODE_TRANSLATION ((LONG)1113)
#define ERROR_INVALID_WINDOW_HANDLE ((LONG)1400)
#define ERROR_INVALID_HOOK_HANDLE ((LONG)1404)
#define ERROR_TLW_WITH_WSCHILD ((LONG)1406)
#define ERROR_CANNOT_FIND_WND_CLASS ((LONG)1407)
#define ERROR_CLASS_HAS_WINDOWS ((LONG)1412)
#define ERROR_INVALID_INDEX ((LONG)1413)
#define ERROR_CLASS_ALREADY_EXISTS ((LONG)1410)
#define ERROR_CLASS_DOES_NOT_EXIST ((LONG)1411)
#define ERROR_INVALID_USER_BUFFER ((LONG)1784)
#define ERROR_LINE_NOT_FOUND 0xE0000102
#define ERROR_NO_SUCH_DEVINST 0xE000020B
#define ERROR_INVALID_FLAGS ((LONG)1004)
#define ERROR_IN_WOW64 0xE0000235
#define ERROR_NO_AUTHENTICODE_CATALOG 0xE000023F
#define ERROR_AUTHENTICODE_PUBLISHER_NOT_TRUSTED 0xE0000243
#define ERROR_NO_DRIVER_SELECTED 0xE0000203
