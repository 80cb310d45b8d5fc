// Access to the handheld's hardware: stream drivers ("LCM1:", "DSC1:"), the kernel's control
// codes, and dynamically loaded libraries.
#pragma once

#include "platform/kernel.h"
#include "platform/types.h"

constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

// Opens a stream driver by its device name ("LCM1:"); INVALID_HANDLE_VALUE when it is not
// installed or refuses the open.
HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES attributes,
                   DWORD creation, DWORD flags, HANDLE templateFile);
BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID input, DWORD inputSize, LPVOID output,
                     DWORD outputSize, DWORD* bytesReturned, LPVOID overlapped);

// Control codes of the kernel and the OEM hardware layer.
constexpr DWORD IOCTL_PROCESSOR_INFORMATION = 0x01010064;
BOOL KernelIoControl(DWORD code, LPVOID input, DWORD inputSize, LPVOID output, DWORD outputSize,
                     DWORD* bytesReturned);

// The answer of IOCTL_PROCESSOR_INFORMATION (576 bytes on the handheld).
struct PROCESSOR_INFO {
    WORD wVersion;
    WCHAR szProcessCore[40];
    WORD wCoreRevision;
    WCHAR szProcessorName[40];
    WORD wProcessorRevision;
    WCHAR szCatalogNumber[100];
    WCHAR szVendor[100];
    DWORD dwInstructionSet;
    DWORD dwClockSpeed;
};
static_assert(sizeof(PROCESSOR_INFO) == 576);

// Loads "X.dll" from the program's folder or \Windows of the device, or the library a full device
// path names.
HMODULE LoadLibraryW(LPCWSTR fileName);
FARPROC GetProcAddressW(HMODULE module, LPCWSTR procName);
BOOL FreeLibrary(HMODULE module);
