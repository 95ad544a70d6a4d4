// The changes themselves and their undoing, as the journal asks for them
// once it has recorded them: a file created by a run deleted, a moved file
// put back, a registry value set back or deleted. Files are changed
// through handles checked to be where the run meant (verified_files.cpp),
// so that none of it goes through a link below a guarded folder. Nothing
// here records anything.
#include "rollback/file_changes.h"
#include "rollback/rollback.h"
#include "rollback/verified_files.h"

#include <string.h>

bool KeyExists(HKEY root, const char* keyPath)
{
    HKEY key;
    if (RegOpenKeyExA(root, keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool DeleteCreatedFile(const GuardedFolders& guarded, const char* path)
{
    if (DeleteFileAt(guarded, path))
        return true;
    // Behind a link, or a folder: not the run's file to delete.
    if (GetLastError() == ERROR_CANT_ACCESS_FILE || GetLastError() == ERROR_DIRECTORY)
        return false;
    // The machine's hive keeps what goes at the next restart: a per-user
    // run has no right to it and leaves the file where it is.
    if (CurrentInstallScope() == SCOPE_MACHINE)
        MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return false;
}

bool RestoreMovedFile(const GuardedFolders& guarded, const char* path, const char* aside)
{
    if (GetFileAttributesA(aside) == INVALID_FILE_ATTRIBUTES)
        return true;
    DeleteCreatedFile(guarded, path);
    if (MoveFileAt(guarded, aside, path))
        return true;
    if (GetLastError() == ERROR_CANT_ACCESS_FILE)
        return false;
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
