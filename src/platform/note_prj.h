// Note_prj.dll: enumeration of the storage cards.
#pragma once

#include "platform/files.h"
#include "platform/types.h"

struct WIN32_FIND_DATA {
    DWORD dwFileAttributes;
    DWORD ftCreationTime[2];
    DWORD ftLastAccessTime[2];
    DWORD ftLastWriteTime[2];
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwOID;
    WCHAR cFileName[MAX_PATH];
};

constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_TEMPORARY = 0x100;

// The first card; INVALID_HANDLE_VALUE when there is none.
HANDLE FindFirstFlashCard(WIN32_FIND_DATA* data);
BOOL FindNextFlashCard(HANDLE search, WIN32_FIND_DATA* data);
BOOL FindClose(HANDLE search);
