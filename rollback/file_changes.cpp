// The changes themselves and their undoing, as the journal asks for them
// once it has recorded them: a file created by a run deleted, a moved file
// put back, a registry value set back or deleted, and the look for a link
// below a folder that keeps any of them from going somewhere else. Nothing
// here records anything.
#include "rollback/file_changes.h"
#include "rollback/rollback.h"

#include <string.h>

namespace {

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

} // namespace

bool CrossesLinkBelow(const char* path, const char* root)
{
    size_t n = BelowFolder(path, root);
    if (n == 0)
        return false;
    char part[MAX_PATH];
    if (!CopyBounded(part, sizeof part, path))
        return true; // too long to look at: not to be gone through either
    size_t length = strlen(part);
    for (size_t i = n + 1; i <= length; ++i) {
        if (part[i] != '\\' && part[i] != '\0')
            continue;
        char saved = part[i];
        part[i] = '\0';
        DWORD attributes = GetFileAttributesA(part);
        part[i] = saved;
        // What does not exist hides no link, and nothing exists below it.
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return false;
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            return true;
    }
    return false;
}

bool KeyExists(HKEY root, const char* keyPath)
{
    HKEY key;
    if (RegOpenKeyExA(root, keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool DeleteCreatedFile(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    if (DeleteFileA(path) || GetLastError() == ERROR_FILE_NOT_FOUND)
        return true;
    // The machine's hive keeps what goes at the next restart: a per-user
    // run has no right to it and leaves the file where it is.
    if (CurrentInstallScope() == SCOPE_MACHINE)
        MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return false;
}

bool DeleteFileAsItIs(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return false;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    if (DeleteFileA(path) || GetLastError() == ERROR_FILE_NOT_FOUND)
        return true;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesA(path, attributes);
    return false;
}

bool RestoreMovedFile(const char* path, const char* aside)
{
    if (GetFileAttributesA(aside) == INVALID_FILE_ATTRIBUTES)
        return true;
    DeleteCreatedFile(path);
    if (MoveFileExA(aside, path, 0))
        return true;
    // The new file is still held: the original comes back at the restart
    // and stays safe under its aside name until then (a per-user run's
    // stays under it).
    if (CurrentInstallScope() == SCOPE_MACHINE)
        MoveFileExA(aside, path, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING);
    return false;
}

bool RestoreRegistryValue(HKEY root, const char* key, const char* name, DWORD type, const void* data, DWORD size)
{
    HKEY k;
    if (RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr) != ERROR_SUCCESS)
        return false;
    bool ok = RegSetValueExA(k, name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
    RegCloseKey(k);
    return ok;
}

bool DeleteRegistryValue(HKEY root, const char* key, const char* name)
{
    HKEY k;
    LONG r = RegOpenKeyExA(root, key, 0, KEY_SET_VALUE, &k);
    if (r == ERROR_FILE_NOT_FOUND)
        return true;
    if (r != ERROR_SUCCESS)
        return false;
    r = RegDeleteValueA(k, name);
    RegCloseKey(k);
    return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
}
