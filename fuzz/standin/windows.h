// A stand-in for <windows.h> in the native fuzz builds only: the types and
// the few calls that the pure parts of the setup program, the uninstaller
// and the rollback unit name (path rules, records, arguments), so that
// they build unchanged on the host. Nothing here is linked into a program
// that ships; fuzz/run.sh puts this folder first on the include path.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <strings.h>

typedef int BOOL;
typedef unsigned char BOOLEAN;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef void* PVOID;
typedef char* LPSTR;
typedef void* HANDLE;
typedef unsigned short LANGID;
typedef struct HKEY__* HKEY;
typedef DWORD REGSAM;
typedef struct HINSTANCE__* HMODULE;
typedef void* PSID;
// Named by the journal's types, never used by the parsers fuzzed.
typedef struct {
    void* opaque[5];
} CRITICAL_SECTION;
typedef struct {
    void* Ptr;
} SRWLOCK;
#define SRWLOCK_INIT {nullptr}
typedef intptr_t (*FARPROC)();
typedef union {
    struct {
        DWORD LowPart;
        LONG HighPart;
    };
    int64_t QuadPart;
} LARGE_INTEGER;

#define WINAPI
#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define INVALID_FILE_ATTRIBUTES (static_cast<DWORD>(-1))
#define FILE_ATTRIBUTE_READONLY 0x1
#define FILE_ATTRIBUTE_DIRECTORY 0x10
#define FILE_ATTRIBUTE_NORMAL 0x80
#define FILE_ATTRIBUTE_REPARSE_POINT 0x400
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u)))
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define REG_SZ 1
#define FILE_READ_ATTRIBUTES 0x80
#define FILE_SHARE_READ 0x1
#define FILE_SHARE_WRITE 0x2
#define FILE_SHARE_DELETE 0x4
#define OPEN_EXISTING 3
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000
#define FILE_NAME_NORMALIZED 0x0
#define VOLUME_NAME_DOS 0x0
#define IDRETRY 4
#define IDIGNORE 5

typedef struct {
    DWORD dwLowDateTime, dwHighDateTime;
} FILETIME;
typedef struct {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime, ftLastAccessTime, ftLastWriteTime;
    DWORD nFileSizeHigh, nFileSizeLow, dwReserved0, dwReserved1;
    char cFileName[MAX_PATH];
    char cAlternateFileName[14];
} WIN32_FIND_DATAA;
typedef struct {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime, ftLastAccessTime, ftLastWriteTime;
    DWORD dwVolumeSerialNumber, nFileSizeHigh, nFileSizeLow, nNumberOfLinks, nFileIndexHigh, nFileIndexLow;
} BY_HANDLE_FILE_INFORMATION;

inline int _strnicmp(const char* a, const char* b, size_t n) { return strncasecmp(a, b, n); }
inline int _stricmp(const char* a, const char* b) { return strcasecmp(a, b); }
inline int lstrcmpiA(const char* a, const char* b) { return strcasecmp(a, b); }

BOOL FindClose(HANDLE find);
BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information);
BOOL CloseHandle(HANDLE handle);
HMODULE GetModuleHandleW(const wchar_t* name);
#define LANG_ENGLISH 0x09
#define SUBLANG_ENGLISH_US 0x01
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))
typedef struct HRSRC__* HRSRC;
typedef unsigned int UINT;
typedef intptr_t INT_PTR;
typedef intptr_t LPARAM;
typedef struct HWND__* HWND;
typedef INT_PTR (*DLGPROC)(HWND, UINT, uintptr_t, LPARAM);
typedef struct DLGTEMPLATE DLGTEMPLATE;
FARPROC GetProcAddress(HMODULE module, const char* name);
BOOL QueryPerformanceCounter(LARGE_INTEGER* counter);
DWORD GetCurrentProcessId();
DWORD GetTickCount();
