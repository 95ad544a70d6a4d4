// The path rules shared by the setup program, its rollback unit and the
// uninstaller, and the few file operations they all need.
#include "setup/paths.h"
#include "setup/wide.h"

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
    if (n == 0 || WideLength(path) >= MAX_PATH || IsVolumeRoot(path))
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
    char full[kPathBytes];
    DWORD n = GetFullPathNameU(folder, sizeof full, full, nullptr);
    if (n == 0 || n >= sizeof full)
        return false;
    size_t length = strlen(full);
    if (length > 3 && full[length - 1] == '\\')
        full[length - 1] = '\0';
    // The edit and TargetDir hold 255 characters, and a folder part that
    // ends in a dot or blank would be dropped by Windows further on.
    if (WideLength(full) > kMaxFolderLength || !IsPlainFullPath(full))
        return false;
    return out.Assign(full);
}

bool MakeDestinationFolder(const char* typed, Text& out)
{
    return IsTypedAsFullPath(typed) && MakeFullFolderPath(typed, out);
}

namespace {

// A handle for looking at a file or folder, links followed.
HANDLE OpenToLookAt(const char* path)
{
    return CreateFileU(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Letters equal, case and trailing backslashes aside.
bool SameLetters(const char* a, const char* b)
{
    size_t na = strlen(a), nb = strlen(b);
    while (na > 0 && a[na - 1] == '\\')
        --na;
    while (nb > 0 && b[nb - 1] == '\\')
        --nb;
    return na == nb && _strnicmp(a, b, na) == 0;
}

} // namespace

bool FinalPathOfHandle(HANDLE handle, char* out, size_t size)
{
    char named[kPathBytes + 8];
    DWORD n = GetFinalPathNameByHandleU(handle, named, sizeof named, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n >= sizeof named)
        return false;
    if (strncmp(named, "\\\\?\\UNC\\", 8) == 0)
        return CopyBounded(out, size, "\\\\") && AppendBounded(out, size, named + 8);
    return CopyBounded(out, size, strncmp(named, "\\\\?\\", 4) == 0 ? named + 4 : named);
}

void FinalFormOfPath(const char* path, char* out, size_t size)
{
    char part[kPathBytes];
    if (CopyBounded(part, sizeof part, path)) {
        // From the whole path up to its volume: the first part that opens
        // is resolved, and what lies below it (not there yet) kept.
        for (size_t cut = strlen(part); cut > 2; --cut) {
            if (part[cut] != '\\' && part[cut] != '\0')
                continue;
            char saved = part[cut];
            part[cut] = '\0';
            HANDLE handle = OpenToLookAt(part);
            part[cut] = saved;
            if (handle == INVALID_HANDLE_VALUE)
                continue;
            bool named = FinalPathOfHandle(handle, out, size);
            CloseHandle(handle);
            if (named && AppendBounded(out, size, part + cut))
                return;
            break;
        }
    }
    CopyBounded(out, size, path);
}

bool IsSameFolder(const char* a, const char* b)
{
    if (SameLetters(a, b))
        return true;
    HANDLE first = OpenToLookAt(a);
    if (first == INVALID_HANDLE_VALUE)
        return false;
    HANDLE second = OpenToLookAt(b);
    bool same = false;
    if (second != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION one, other;
        if (GetFileInformationByHandle(first, &one) && GetFileInformationByHandle(second, &other))
            same = one.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
                   one.nFileIndexHigh == other.nFileIndexHigh && one.nFileIndexLow == other.nFileIndexLow &&
                   (one.nFileIndexHigh | one.nFileIndexLow) != 0;
        // Two drive letters onto one folder may report two serial numbers;
        // the system still names both by one final path.
        char finalA[kPathBytes], finalB[kPathBytes];
        if (!same && FinalPathOfHandle(first, finalA, sizeof finalA) &&
            FinalPathOfHandle(second, finalB, sizeof finalB))
            same = SameLetters(finalA, finalB);
        CloseHandle(second);
    }
    CloseHandle(first);
    return same;
}

bool FileExists(const char* path)
{
    FoundFile found;
    HANDLE h = FindFirstFileU(path, &found);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    FindClose(h);
    return (found.Attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

BOOL DeleteExistingFile(const char* path)
{
    if (!FileExists(path))
        return FALSE;
    SetFileAttributesU(path, FILE_ATTRIBUTE_NORMAL);
    return DeleteFileU(path);
}

DWORD RandomNumber()
{
    typedef BOOLEAN(WINAPI * RandomFunction)(PVOID, ULONG);
    HMODULE advapi = GetModuleHandleW(L"advapi32.dll");
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
