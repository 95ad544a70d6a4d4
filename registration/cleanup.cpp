// Clean-up at the end of the process: the staged cabinets are always
// deleted; a cancelled or failed run is rolled back.
#include "registration/registration.h"

#include <string.h>

namespace {

// Waits for a worker that a confirmed cancel left running: it stops at its
// next chunk or file once UserCancelled is set, and nothing may be created
// after the rollback.
void WaitForWorker(HANDLE& thread)
{
    if (thread) {
        WaitForSingleObject(thread, 30000);
        CloseHandle(thread);
        thread = nullptr;
    }
}

} // namespace

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
    WaitForWorker(Context.StagingThread);
    WaitForWorker(Context.ExtractionThread);

    if (!Context.MainCabTempPath.empty())
        DeleteExistingFile(Context.MainCabTempPath.c_str());
    if (!Context.ArchivistCabTempPath.empty())
        DeleteExistingFile(Context.ArchivistCabTempPath.c_str());
    // A cancel during staging never handed the staged paths over: take
    // them from the staging record so that they do not stay behind.
    if (Context.MainCabTempPath.empty() && Context.StagingJob.MainCabTemp[0])
        DeleteExistingFile(Context.StagingJob.MainCabTemp);
    if (Context.ArchivistCabTempPath.empty() && Context.StagingJob.ArchivistCabTemp[0])
        DeleteExistingFile(Context.StagingJob.ArchivistCabTemp);

    if (!Context.CleanupRequired)
        return;
    for (size_t i = 0; i < Context.InstalledFiles.Count(); ++i)
        RemoveFileAndEmptyFolders(Context.InstalledFiles.At(i));
    if (!Context.ExtractTargetDir.empty()) {
        RemoveDirectoryA(Context.ExtractTargetDir.c_str());
    } else if (!Context.TargetDir.empty()) {
        // Cancelled or failed before extraction began: the destination
        // folder that the wizard created for this run is removed with its
        // emptied parents (a folder that holds anything stays).
        Text folder(Context.TargetDir);
        if (folder.last() == '\\')
            folder.Truncate(folder.length() - 1);
        RemoveEmptyFolders(folder.c_str());
    }
}
