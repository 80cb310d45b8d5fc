// Basic types, handles and constants of the handheld platform, with the platform's own spelling.
// WCHAR is char16_t: paths, registry names and file names are UTF-16 as on the device.
#pragma once

#include <cstddef>
#include <cstdint>

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using UINT = uint32_t;
using ULONG = uint32_t;
using LONG = int32_t;
using BOOL = int32_t;
using SHORT = int16_t;
using WCHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPVOID = void*;
using LPCVOID = const void*;
using DWORD_PTR = uintptr_t;
using UINT_PTR = uintptr_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using ATOM = uint16_t;
using HRESULT = int32_t;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Kernel objects (events, threads, opened drivers) are reference counted; CloseHandle releases.
using HANDLE = void*;
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~uintptr_t{0});

// User and module objects get distinct handle types so they cannot be mixed up.
struct HWND__;
using HWND = HWND__*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
struct HKEY__;
using HKEY = HKEY__*;
struct HDC__;
using HDC = HDC__*;
struct HRSRC__;
using HRSRC = HRSRC__*;
using HGLOBAL = HANDLE;
struct HGDIOBJ__;
using HGDIOBJ = HGDIOBJ__*;
using HBRUSH = HGDIOBJ;
struct HCURSOR__;
using HCURSOR = HCURSOR__*;
using HICON = HCURSOR;
using HMENU = HANDLE;
using FARPROC = void (*)();

struct POINT {
    LONG x;
    LONG y;
};

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

union ULARGE_INTEGER {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    };
    uint64_t QuadPart;
};

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

// Error codes (GetLastError) and registry results.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_DEV_NOT_EXIST = 55;
constexpr DWORD ERROR_NO_ASSOCIATION = 1155;

DWORD GetLastError();
void SetLastError(DWORD error);

// MAKEINTRESOURCE: small integer identifiers in place of names.
inline LPCWSTR MAKEINTRESOURCEW(uintptr_t id) {
    return reinterpret_cast<LPCWSTR>(id);
}
inline bool IS_INTRESOURCE(LPCWSTR p) {
    return (reinterpret_cast<uintptr_t>(p) >> 16) == 0;
}

constexpr WORD LOWORD(uintptr_t v) {
    return static_cast<WORD>(v & 0xFFFF);
}
constexpr WORD HIWORD(uintptr_t v) {
    return static_cast<WORD>((v >> 16) & 0xFFFF);
}
constexpr LPARAM MAKELPARAM(int lo, int hi) {
    return static_cast<LPARAM>(static_cast<DWORD>((static_cast<DWORD>(lo) & 0xFFFF) |
                                                  ((static_cast<DWORD>(hi) & 0xFFFF) << 16)));
}
