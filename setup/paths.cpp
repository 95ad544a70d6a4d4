// The path rules shared by the setup program, its rollback unit and the
// uninstaller, and the few file operations they all need.
#include "setup/paths.h"

#include <string.h>

namespace {

// TargetDir and the destination page's edit hold 255 characters.
const size_t kMaxFolderLength = 255;

// A folder as typed is taken only when it names its drive or share: a
// relative one would land wherever the setup was started from (usually
// Downloads), and "D:Tool" in drive D's current folder.
bool IsTypedAsFullPath(const char* folder)
{
    bool drive = ((folder[0] >= 'A' && folder[0] <= 'Z') || (folder[0] >= 'a' && folder[0] <= 'z')) &&
                 folder[1] == ':' && folder[2] == '\\';
    bool share = folder[0] == '\\' && folder[1] == '\\';
    return drive || share;
}

} // namespace

bool IsVolumeRoot(const char* path)
{
    size_t n = strlen(path);
    if (n <= 3)
        return true;
    if (path[0] == '\\' && path[1] == '\\') {
        // \\server\share with at most a trailing backslash after it.
        const char* server = strchr(path + 2, '\\');
        if (!server)
            return true;
        const char* share = strchr(server + 1, '\\');
        return !share || share[1] == '\0';
    }
    return false;
}

bool IsPlainFullPath(const char* path)
{
    size_t n = strlen(path);
    if (n == 0 || n >= MAX_PATH || IsVolumeRoot(path))
        return false;
    const char* rest;
    if (((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) && path[1] == ':' &&
        path[2] == '\\') {
        rest = path + 3;
    } else if (path[0] == '\\' && path[1] == '\\' && path[2] != '\\') {
        rest = path + 2;
    } else {
        return false;
    }
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(rest); *c; ++c)
        if (*c < 0x20 || strchr("/*?\"<>|:", *c))
            return false;
    // Every part must be a real name: no empty part (but a trailing
    // backslash), no "." or "..", none ending in a dot or blank.
    const char* part = rest;
    while (*part) {
        const char* end = strchr(part, '\\');
        size_t length = end ? static_cast<size_t>(end - part) : strlen(part);
        if (length == 0)
            return false;
        if (part[length - 1] == '.' || part[length - 1] == ' ')
            return false;
        if (!end)
            break;
        part = end + 1;
    }
    return true;
}

bool MakeFullFolderPath(const char* folder, Text& out)
{
    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(folder, sizeof full, full, nullptr);
    if (n == 0 || n >= sizeof full)
        return false;
    size_t length = strlen(full);
    if (length > 3 && full[length - 1] == '\\')
        full[length - 1] = '\0';
    // The edit and TargetDir hold 255 characters, and a folder part that
    // ends in a dot or blank would be dropped by Windows further on.
    if (strlen(full) > kMaxFolderLength || !IsPlainFullPath(full))
        return false;
    return out.Assign(full);
}

bool MakeDestinationFolder(const char* typed, Text& out)
{
    return IsTypedAsFullPath(typed) && MakeFullFolderPath(typed, out);
}

bool FileExists(const char* path)
{
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA(path, &found);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    FindClose(h);
    return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

BOOL DeleteExistingFile(const char* path)
{
    if (!FileExists(path))
        return FALSE;
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(path);
}

DWORD RandomNumber()
{
    typedef BOOLEAN(WINAPI * RandomFunction)(PVOID, ULONG);
    HMODULE advapi = GetModuleHandleA("advapi32.dll");
    RandomFunction random =
        advapi ? reinterpret_cast<RandomFunction>(reinterpret_cast<void*>(GetProcAddress(advapi, "SystemFunction036")))
               : nullptr;
    DWORD value = 0;
    if (random && random(&value, sizeof value))
        return value;
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.LowPart ^ (GetCurrentProcessId() << 16) ^ GetTickCount();
}
