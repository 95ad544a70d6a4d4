// Clean-up at the end of the process: the staged cabinets are always
// deleted; a cancelled or failed run is rolled back through its journal.
#include "registration/registration.h"

#include <string.h>

#include "engine/engine.h"

BOOL DeleteExistingFile(const char* path)
{
    if (!FileExists(path))
        return FALSE;
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(path);
}

void RemoveEmptyFolders(const char* path)
{
    char folder[MAX_PATH];
    CopyBounded(folder, sizeof folder, path);
    // A drive root ("C:\") and anything shorter is never touched.
    while (strlen(folder) > 3) {
        char parent[MAX_PATH];
        CopyBounded(parent, sizeof parent, folder);
        char* p = strrchr(parent + 1, '\\');
        if (p)
            *p = '\0';
        else
            parent[0] = '\0';
        // "S:" alone names the current directory of drive S, which may be
        // the very folder to remove: step out to the drive's root instead.
        if (strlen(parent) == 2 && parent[1] == ':')
            AppendBounded(parent, sizeof parent, "\\");
        SetCurrentDirectoryA(parent);
        BOOL removed = RemoveDirectoryA(folder);
        char* up = strrchr(folder, '\\');
        if (up)
            *up = '\0';
        else
            folder[0] = '\0';
        if (!removed)
            break;
    }
}

int RemoveFileAndEmptyFolders(const char* path)
{
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path);

    char folder[MAX_PATH];
    CopyBounded(folder, sizeof folder, path);
    char* cut = strrchr(folder, '\\');
    if (!cut)
        return 1;
    *cut = '\0';
    RemoveEmptyFolders(folder);
    return 1;
}

void CleanupAfterFailure()
{
    // Nothing is undone while a worker could still write: a cancelled one
    // is stopped and waited for.
    StopAndJoinWorkers();
    ReleaseStagedCabinets();

    if (!Context.MainCabTempPath.empty())
        DeleteExistingFile(Context.MainCabTempPath.c_str());
    if (!Context.ArchivistCabTempPath.empty())
        DeleteExistingFile(Context.ArchivistCabTempPath.c_str());

    // Whatever the journal still holds was not committed: a cancelled or
    // failed run, or a session that ended before its run (the folders it
    // made). Moved files come back, new ones go, and only the folders
    // this session created are removed, when they are empty. After a
    // successful run the journal is empty but for temporary files.
    JournalRollBack(Context.Journal, false);
}
