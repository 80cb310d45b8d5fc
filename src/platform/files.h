// The device file system: backslash paths rooted at the device root (a host folder). A path that
// would leave the root (a ".." component, a host path, a link) is refused like a missing file.
#pragma once

#include <cstdio>

#include "platform/kernel.h"
#include "platform/types.h"

constexpr DWORD MAX_PATH = 260;

DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size);
BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes);
BOOL DeleteFileW(LPCWSTR path);
BOOL GetDiskFreeSpaceExW(LPCWSTR directory, ULARGE_INTEGER* freeBytesAvailableToCaller,
                         ULARGE_INTEGER* totalNumberOfBytes,
                         ULARGE_INTEGER* totalNumberOfFreeBytes);

// The runtime library's open with a UTF-16 device path; the stream is an ordinary FILE. Only
// regular files open: a directory (errno EISDIR), a FIFO or a device (EINVAL) is refused, so no
// open or read ever blocks.
FILE* _wfopen(LPCWSTR path, const WCHAR* mode);

// Runtime library helpers the program uses on its texts.
long _wtol(const WCHAR* text);
char* _strupr(char* text);
size_t wcslen16(const WCHAR* text);
