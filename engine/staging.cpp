// The staging thread: copies the payload cabinets "MAIN" and "ARCHIVIST"
// out of the program's resources into temporary files, because the
// cabinet decoder reads cabinets only through file handles. The files go
// into the run's private working folder and stay open, readable but
// neither writable, renamable nor deletable by anybody else, until the run
// no longer needs them; closing them deletes them.
#include "engine/engine.h"
#include "rollback/cut_points.h"
#include "rollback/rollback.h"
#include "setup/wide.h"

namespace {

// The largest count a 16-bit signed int holds; the progress bar moves once
// per chunk, so a multi-megabyte cabinet still shows its progress.
const UINT StagingChunk = 0x7FFF;
// Room for the temporary folder; GetTempFileNameA adds at most 13
// characters, so the staged path always fits its 260-byte field.
const DWORD TempFolderRoom = 150;
// Random names tried before giving up on a temporary folder that is full
// of other files.
const int kNameAttempts = 16;

enum StagingStatus {
    STAGING_DONE = 0,
    STAGING_NOT_FOUND = 1,
    STAGING_NOT_LOADED = 2,
    STAGING_NOT_LOCKED = 3,
    STAGING_NOT_CREATED = 4,
    STAGING_WRITE_FAILED = 5,
};

// Copies one "CAB" resource into a new temporary file whose path is left
// in path (260 bytes) and whose open handle is left in *held. After a
// cancel the file is still created, empty or short. tempFolder is empty
// when the temporary folder was unusable.
int StageCabinet(StagingJobRecord* job, const char* name, const char* tempFolder, char* path, HANDLE* held)
{
    HRSRC found = FindResourceU(job->ModuleHandle, name, "CAB");
    if (!found)
        return STAGING_NOT_FOUND;
    DWORD remaining = SizeofResource(job->ModuleHandle, found);
    HGLOBAL loaded = LoadResource(job->ModuleHandle, found);
    if (!loaded)
        return STAGING_NOT_LOADED;
    const char* source = static_cast<const char*>(LockResource(loaded));
    if (!source)
        return STAGING_NOT_LOCKED;

    // A new file under a name chosen at random and recorded before the file
    // exists, so that even a run killed the moment it was made leaves no
    // staged cabinet behind. An unusable temporary folder or no free name
    // leaves the path empty: nothing else may be handed on.
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; tempFolder[0] != '\0' && attempt < kNameAttempts; ++attempt) {
        UINT unique = (RandomNumber() & 0xFFFF) | 1;
        if (GetTempFileNameU(tempFolder, "tmp", unique, path) == 0)
            break;
        RecordTemporaryFile(SessionJournal, path);
        file = CreateFileU(path, GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    if (file == INVALID_HANDLE_VALUE) {
        path[0] = '\0';
        return STAGING_NOT_CREATED;
    }
    *held = file;
    PassCutPoint();

    for (;;) {
        WaitAtWorkerGate();
        if (remaining == 0 || Context.UserCancelled)
            break;
        UINT chunk = remaining < StagingChunk ? static_cast<UINT>(remaining) : StagingChunk;
        // A short write (a full disk) is as much a failure as an error:
        // the decoder would otherwise meet a truncated cabinet.
        DWORD written = 0;
        if (!WriteFile(file, source, chunk, &written, nullptr) || written != chunk)
            return STAGING_WRITE_FAILED;
        source += chunk;
        remaining -= chunk;
        job->Done += static_cast<int32_t>(chunk);
    }
    return STAGING_DONE;
}

} // namespace

DWORD WINAPI StagingThreadProc(LPVOID parameter)
{
    StagingJobRecord* job = static_cast<StagingJobRecord*>(parameter);
    // Paths of an earlier run must not survive into this one: the page
    // hands them to the clean-up, which would delete someone else's file.
    job->MainCabTemp[0] = '\0';
    job->ArchivistCabTemp[0] = '\0';

    // The run's private folder; the temporary folder only when the run has
    // none (the setup not run as an administrator, say).
    char tempFolder[TempFolderRoom];
    DWORD folderLength = 0;
    if (!Context.WorkFolder.empty()) {
        if (CopyBounded(tempFolder, TempFolderRoom, Context.WorkFolder.c_str()))
            folderLength = static_cast<DWORD>(Context.WorkFolder.length());
    } else {
        folderLength = GetTempPathU(TempFolderRoom, tempFolder);
    }
    if (folderLength == 0 || folderLength >= TempFolderRoom)
        tempFolder[0] = '\0';
    job->Done = 0;

    int status = StageCabinet(job, "MAIN", tempFolder, job->MainCabTemp, &job->MainCabFile);
    if (status == STAGING_DONE)
        status = StageCabinet(job, "ARCHIVIST", tempFolder, job->ArchivistCabTemp, &job->ArchivistCabFile);
    job->Status = status;
    return static_cast<DWORD>(status);
}
