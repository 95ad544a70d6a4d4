// The changes themselves and their undoing, as the journal asks for them
// once it has recorded them: a file created by a run deleted, a moved file
// put back, a registry value set back or deleted. Files are changed
// through handles checked to be where the run meant (verified_files.cpp),
// so that none of it goes through a link below a guarded folder. Nothing
// here records anything.
#include "rollback/file_changes.h"
#include "rollback/rollback.h"
#include "rollback/verified_files.h"
#include "setup/wide.h"

#include <string.h>

bool KeyExists(HKEY root, const char* keyPath)
{
    HKEY key;
    if (RegOpenKeyExU(root, keyPath, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
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
        MoveFileExU(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return false;
}

bool RestoreMovedFile(const GuardedFolders& guarded, const char* path, const char* aside)
{
    if (GetFileAttributesU(aside) == INVALID_FILE_ATTRIBUTES)
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
        MoveFileExU(aside, path, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING);
    return false;
}

bool RestoreRegistryValue(HKEY root, const char* key, const char* name, DWORD type, const void* data, DWORD size)
{
    HKEY k;
    if (RegCreateKeyExU(root, key, KEY_SET_VALUE, &k) != ERROR_SUCCESS)
        return false;
    bool ok = RegSetStoredValue(k, name, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
    RegCloseKey(k);
    return ok;
}

bool DeleteRegistryValue(HKEY root, const char* key, const char* name)
{
    HKEY k;
    LONG r = RegOpenKeyExU(root, key, KEY_SET_VALUE, &k);
    if (r == ERROR_FILE_NOT_FOUND)
        return true;
    if (r != ERROR_SUCCESS)
        return false;
    r = RegDeleteValueU(k, name);
    RegCloseKey(k);
    return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
}
