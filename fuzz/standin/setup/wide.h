// A stand-in for the program's crossing to the wide interfaces, in the
// native fuzz builds only: the calls that the pure parts name, on the
// stand-in windows.h beside it (fuzz/standin/windows_standin.cpp).
#pragma once

#include <windows.h>

#include "setup/text.h"

struct FoundFile {
    DWORD Attributes;
    char Name[kPathBytes];
};

DWORD GetFullPathNameU(const char* path, DWORD size, char* buffer, char** filePart);
// The machine is never touched: no file is found, nothing is deleted.
HANDLE FindFirstFileU(const char* path, FoundFile* found);
BOOL SetFileAttributesU(const char* path, DWORD attributes);
BOOL DeleteFileU(const char* path);
DWORD GetFileAttributesU(const char* path);
HANDLE CreateFileU(const char* path, DWORD access, DWORD share, void* security, DWORD disposition, DWORD flags,
                   HANDLE model);
DWORD GetFinalPathNameByHandleU(HANDLE file, char* out, DWORD size, DWORD flags);
inline bool SameTextNoCase(const char* a, const char* b) { return strcasecmp(a, b) == 0; }
