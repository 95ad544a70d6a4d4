// Changes made through a handle whose final path was checked first: a
// file or folder below a guarded folder is opened once, the handle's final
// path (every link resolved by the system) is compared with the path the
// run meant, and the change (writing, renaming, deleting) goes through
// that same handle. Looking at a path part by part and then acting on the
// path left a moment in which a folder could be swapped for a link; here
// the look and the change are one.
#include "rollback/verified_files.h"
#include "rollback/rollback.h"
#include "setup/wide.h"

#include <stdlib.h>
#include <string.h>

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The length of root (without a trailing backslash) when path lies below
// it, else 0.
size_t BelowFolder(const char* path, const char* root)
{
    size_t n = strlen(root);
    while (n > 0 && root[n - 1] == '\\')
        --n;
    if (n == 0 || _strnicmp(path, root, n) != 0 || path[n] != '\\' || path[n + 1] == '\0')
        return 0;
    return n;
}

// Opens path itself (a link as a link) for a rename or deletion.
HANDLE OpenForChange(const char* path, DWORD access)
{
    return CreateFileU(path, access | DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Marks what handle refers to for deletion when the handle is closed.
bool DeleteOnClose(HANDLE handle)
{
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// Renames what handle refers to; to must not exist.
bool RenameHandle(HANDLE handle, const char* to)
{
    WideText wide(to);
    if (!wide.ok())
        return false;
    size_t n = wcslen(wide.c_str()) + 1;
    size_t bytes = sizeof(FILE_RENAME_INFO) + n * sizeof(WCHAR);
    FILE_RENAME_INFO* rename = static_cast<FILE_RENAME_INFO*>(calloc(1, bytes));
    if (!rename)
        return false;
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>((n - 1) * sizeof(WCHAR));
    memcpy(rename->FileName, wide.c_str(), n * sizeof(WCHAR));
    bool renamed = SetFileInformationByHandle(handle, FileRenameInfo, rename, static_cast<DWORD>(bytes)) != 0;
    free(rename);
    return renamed;
}

// The attributes of what handle refers to. Not GetFileInformationByHandle:
// it asks the volume for its serial number as well, which Wine answers
// in half a millisecond, a third of a removal's time for a small file.
bool AttributesThrough(HANDLE handle, DWORD* attributes)
{
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic))
        return false;
    *attributes = basic.FileAttributes;
    return true;
}

bool Gone(const char* path) { return GetFileAttributesU(path) == INVALID_FILE_ATTRIBUTES; }

} // namespace

bool SetAttributesThrough(HANDLE file, DWORD attributes)
{
    // Times left at zero stay as they are.
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != 0;
}

bool CrossesLinkBelow(const char* path, const char* root)
{
    size_t n = BelowFolder(path, root);
    if (n == 0)
        return false;
    char part[kPathBytes];
    if (!CopyBounded(part, sizeof part, path))
        return true; // too long to look at: not to be gone through either
    size_t length = strlen(part);
    for (size_t i = n + 1; i <= length; ++i) {
        if (part[i] != '\\' && part[i] != '\0')
            continue;
        char saved = part[i];
        part[i] = '\0';
        DWORD attributes = GetFileAttributesU(part);
        part[i] = saved;
        // What does not exist hides no link, and nothing exists below it.
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return false;
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            return true;
    }
    return false;
}

bool HandleIsAt(const GuardedFolders& guarded, HANDLE handle, const char* path)
{
    for (size_t i = 0; i < guarded.Count(); ++i) {
        size_t n = BelowFolder(path, guarded.At(i));
        if (n == 0)
            continue;
        // The guarded folder as the session found it: links above it (and
        // at it, then) are the user's own choice of folder, and stay
        // allowed; one swapped in since is not. Not there when the session
        // began, it is resolved now.
        char folder[kPathBytes], expected[kPathBytes], actual[kPathBytes];
        if (n >= sizeof folder)
            return false;
        AcquireSRWLockShared(&guarded.FinalsLock);
        bool named = CopyBounded(expected, sizeof expected, guarded.FinalAt(i));
        ReleaseSRWLockShared(&guarded.FinalsLock);
        if (!expected[0]) {
            memcpy(folder, path, n);
            folder[n] = '\0';
            HANDLE root = CreateFileU(folder, FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
            if (root == INVALID_HANDLE_VALUE)
                return false;
            named = FinalPathOfHandle(root, expected, sizeof expected);
            CloseHandle(root);
        }
        if (!named || !AppendBounded(expected, sizeof expected, path + n) ||
            !FinalPathOfHandle(handle, actual, sizeof actual) || !SameTextNoCase(expected, actual))
            return false;
    }
    return true;
}

HANDLE CreateNewFileAt(const GuardedFolders& guarded, const char* path, DWORD access, DWORD share)
{
    HANDLE file = CreateFileU(path, access | DELETE, share, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE || HandleIsAt(guarded, file, path))
        return file;
    // Made behind a link, and empty: it goes again, through its handle.
    DeleteOnClose(file);
    CloseHandle(file);
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return INVALID_HANDLE_VALUE;
}

bool DeleteFileAt(const GuardedFolders& guarded, const char* path)
{
    HANDLE file = OpenForChange(path, FILE_WRITE_ATTRIBUTES);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    if (HandleIsAt(guarded, file, path))
        return DeleteThrough(file, path);
    CloseHandle(file);
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return false;
}

bool MoveFileAt(const GuardedFolders& guarded, const char* from, const char* to, HANDLE* kept)
{
    HANDLE file = OpenForChange(from, kept ? FILE_WRITE_ATTRIBUTES : 0);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool moved = false;
    DWORD error = ERROR_CANT_ACCESS_FILE;
    if (HandleIsAt(guarded, file, from)) {
        moved = RenameHandle(file, to);
        error = GetLastError();
        // The new name is resolved by the rename itself: a file that
        // arrived anywhere else goes back.
        if (moved && !HandleIsAt(guarded, file, to)) {
            RenameHandle(file, from);
            moved = false;
            error = ERROR_CANT_ACCESS_FILE;
        }
    }
    if (moved && kept)
        *kept = file;
    else
        CloseHandle(file);
    if (!moved)
        SetLastError(error);
    return moved;
}

bool DeleteThrough(HANDLE file, const char* path)
{
    DWORD attributes = 0;
    bool ok = false;
    DWORD error = ERROR_CANT_ACCESS_FILE;
    if (AttributesThrough(file, &attributes)) {
        error = ERROR_DIRECTORY;
        bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
        if (!folder) {
            // A read-only file cannot be deleted.
            if (attributes & FILE_ATTRIBUTE_READONLY)
                SetAttributesThrough(file, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
            ok = DeleteOnClose(file);
            error = GetLastError();
        }
    }
    CloseHandle(file);
    ok = ok && Gone(path);
    if (!ok)
        SetLastError(error);
    return ok;
}

bool CreateFolderAt(const GuardedFolders& guarded, const char* folder)
{
    if (!CreateDirectoryU(folder, nullptr))
        return false;
    // A scanner or an indexer may hold a new folder a moment without
    // sharing it: tried again for a second before it counts as a failure.
    HANDLE made = OpenForChange(folder, 0);
    for (int i = 0; i < 20 && made == INVALID_HANDLE_VALUE &&
                    (GetLastError() == ERROR_SHARING_VIOLATION || GetLastError() == ERROR_ACCESS_DENIED);
         ++i) {
        Sleep(50);
        made = OpenForChange(folder, 0);
    }
    bool ours = made != INVALID_HANDLE_VALUE && HandleIsAt(guarded, made, folder);
    if (made != INVALID_HANDLE_VALUE) {
        // Made behind a link, and empty: it goes again.
        if (!ours)
            DeleteOnClose(made);
        CloseHandle(made);
    }
    if (!ours)
        SetLastError(ERROR_CANT_ACCESS_FILE);
    return ours;
}

bool RemoveFolderAt(const GuardedFolders& guarded, const char* folder)
{
    HANDLE handle = OpenForChange(folder, 0);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    bool marked = HandleIsAt(guarded, handle, folder) && DeleteOnClose(handle);
    CloseHandle(handle);
    // A folder that is not empty stays, whatever the mark said.
    return marked && Gone(folder);
}
