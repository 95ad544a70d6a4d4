// The run's changes to files, each recorded in the journal before it is
// made: folders created, existing files moved aside within their folder
// (a rename, not a copy: fast, byte-identical with its attributes and
// times, and possible for a file in use when the folder allows it), new
// files created, a failed write's file put back, temporary files and
// files to delete at the commit. The records of a batch of files are
// written ahead of their changes and flushed once; the handles of the
// moved files are kept for the commit, which deletes them through those.
#include "rollback/journal.h"
#include "rollback/cut_points.h"
#include "rollback/verified_files.h"
#include "setup/wide.h"

#include <stdlib.h>
#include <string.h>

namespace {

// Writes the record of a move of path to a new aside name (to aside),
// without a flush: MoveRecordedAside makes it durable before the move.
bool RecordMove(RunJournal& journal, const char* path, char* aside, size_t size)
{
    if (!MakeAsideName(journal, path, aside, size)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    const char* fields[] = {path, aside};
    AppendRecord(journal, RECORD_MOVED_FILE, fields, 2, false);
    return true;
}

// Records and performs the rename of an existing file to an aside name.
// The record is on the disk before the rename: after a power cut the
// file is found again under its aside name.
bool MoveAside(RunJournal& journal, const char* path)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        char aside[kPathBytes];
        if (!RecordMove(journal, path, aside, sizeof aside))
            return false;
        if (MoveRecordedAside(journal, path, aside))
            return true;
        // Somebody took the aside name: try the next one. Anything else
        // (in use, access denied) is the caller's to report.
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    return false;
}

// The number in an aside name of this session's (MakeAsideName); false
// for any other name.
bool AsideNumber(const RunJournal& journal, const char* aside, unsigned long* number)
{
    const char* slash = strrchr(aside, '\\');
    const char* name = slash ? slash + 1 : aside;
    char runId[16];
    FormatText(runId, sizeof runId, "%08lX", static_cast<unsigned long>(journal.RunId));
    size_t prefix = strlen(kAsidePrefix);
    if (_strnicmp(name, kAsidePrefix, prefix) != 0 || strncmp(name + prefix, runId, 8) != 0)
        return false;
    char* end = nullptr;
    *number = strtoul(name + prefix + 8, &end, 16);
    return end != name + prefix + 8 && SameTextNoCase(end, ".tmp");
}

// Keeps the handle of a file just moved to aside for its deletion at the
// commit; too many, or a name not of this session's, and it is closed.
void KeepAside(RunJournal& journal, const char* aside, HANDLE kept)
{
    const unsigned long kMostKept = 65536;
    unsigned long number = 0;
    bool keep = AsideNumber(journal, aside, &number) && number < kMostKept;
    EnterCriticalSection(&journal.Guard);
    if (keep && number >= journal.KeptCount) {
        unsigned long count = number + 1 > journal.KeptCount * 2 ? number + 1 : journal.KeptCount * 2;
        HANDLE* grown = static_cast<HANDLE*>(realloc(journal.KeptAsides, count * sizeof(HANDLE)));
        if (grown) {
            for (unsigned long i = journal.KeptCount; i < count; ++i)
                grown[i] = nullptr;
            journal.KeptAsides = grown;
            journal.KeptCount = count;
        }
        keep = number < journal.KeptCount;
    }
    if (keep) {
        if (journal.KeptAsides[number])
            CloseHandle(journal.KeptAsides[number]);
        journal.KeptAsides[number] = kept;
    }
    LeaveCriticalSection(&journal.Guard);
    if (!keep)
        CloseHandle(kept);
}

} // namespace

bool MakeAsideName(RunJournal& journal, const char* path, char* aside, size_t size)
{
    const char* slash = strrchr(path, '\\');
    if (!slash)
        return false;
    if (journal.RunId == 0)
        journal.RunId = RandomNumber() | 1;
    char name[40];
    FormatText(name, sizeof name, "%s%08lX%04lX.tmp", kAsidePrefix, static_cast<unsigned long>(journal.RunId),
             journal.Asides++);
    size_t folderLength = static_cast<size_t>(slash - path) + 1;
    if (folderLength >= size)
        return false;
    memcpy(aside, path, folderLength);
    aside[folderLength] = '\0';
    return AppendBounded(aside, size, name);
}

HANDLE TakeKeptAside(RunJournal& journal, const char* aside)
{
    unsigned long number = 0;
    HANDLE kept = nullptr;
    if (!AsideNumber(journal, aside, &number))
        return nullptr;
    EnterCriticalSection(&journal.Guard);
    if (number < journal.KeptCount) {
        kept = journal.KeptAsides[number];
        journal.KeptAsides[number] = nullptr;
    }
    LeaveCriticalSection(&journal.Guard);
    return kept;
}

bool IsAsideName(const char* path)
{
    const char* slash = strrchr(path, '\\');
    const char* name = slash ? slash + 1 : path;
    size_t prefix = strlen(kAsidePrefix), n = strlen(name);
    return n > prefix + 4 && _strnicmp(name, kAsidePrefix, prefix) == 0 &&
           strspn(name + prefix, "0123456789ABCDEFabcdef") == n - prefix - 4 && SameTextNoCase(name + n - 4, ".tmp");
}

void RecordCreatedFolder(RunJournal& journal, const char* folder)
{
    const char* fields[] = {folder};
    AppendRecord(journal, RECORD_FOLDER, fields, 1, true);
}

bool RecordedCreateFolder(RunJournal& journal, const char* folder)
{
    if (RefuseLink(journal, folder))
        return false;
    DWORD attributes = GetFileAttributesU(folder);
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // Recorded already when it was recorded ahead with the files it holds.
    RecordFolderAhead(journal, folder);
    MakeRecordsDurable(journal);
    if (CreateFolderAt(journal.Guarded, folder)) {
        PassCutPoint();
        TellObserver(journal, "folder created:", folder);
        LearnGuardedFolder(journal, folder);
        return true;
    }
    return GetLastError() == ERROR_ALREADY_EXISTS;
}

bool PrepareFileForWriting(RunJournal& journal, const char* path, bool replaceReadOnly)
{
    if (RefuseLink(journal, path))
        return false;
    DWORD attributes = GetFileAttributesU(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        RecordNewFile(journal, path);
        return true;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        SetLastError(ERROR_DIRECTORY);
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) && !replaceReadOnly) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return MoveAside(journal, path);
}

bool RecordFolderAhead(RunJournal& journal, const char* folder)
{
    // Once: a rollback removes the folder when it is empty, however often
    // the session made it.
    // Under the journal's lock: the extraction's helper makes folders
    // while the extraction records.
    const char* fields[] = {folder};
    Text record = FormatRecord(RECORD_FOLDER, fields, 1);
    EnterCriticalSection(&journal.Guard);
    size_t i = journal.Records.Count();
    while (i > 0 && strcmp(journal.Records.At(i - 1), record.c_str()) != 0)
        --i;
    LeaveCriticalSection(&journal.Guard);
    if (i == 0)
        AppendRecord(journal, RECORD_FOLDER, fields, 1, false);
    return true;
}

void RecordNewFile(RunJournal& journal, const char* path)
{
    const char* fields[] = {path};
    AppendRecord(journal, RECORD_NEW_FILE, fields, 1, false);
    TellObserver(journal, "new file:", path);
}

bool RecordMoveAside(RunJournal& journal, const char* path, char* aside, size_t size)
{
    return RecordMove(journal, path, aside, size);
}

bool MoveRecordedAside(RunJournal& journal, const char* path, const char* aside)
{
    MakeRecordsDurable(journal);
    HANDLE kept = nullptr;
    if (!MoveFileAt(journal.Guarded, path, aside, &kept))
        return false;
    KeepAside(journal, aside, kept);
    PassCutPoint();
    TellObserver(journal, "file moved aside until the run succeeds:", path, aside);
    return true;
}

HANDLE CreatePreparedFile(RunJournal& journal, const char* path)
{
    MakeRecordsDurable(journal);
    return CreateNewFileAt(journal.Guarded, path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
}

HANDLE CreateFileBesideHeld(RunJournal& journal, const char* path, char* beside, size_t size)
{
    if (CurrentInstallScope() != SCOPE_MACHINE || RefuseLink(journal, path) ||
        !MakeAsideName(journal, path, beside, size)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    const char* fields[] = {path, beside};
    AppendRecord(journal, RECORD_AT_RESTART, fields, 2, false);
    TellObserver(journal, "in use: its new version is written beside it:", path, beside);
    return CreatePreparedFile(journal, beside);
}

void PutBackFile(RunJournal& journal, const char* path)
{
    // The last record of path, found under the journal's lock (the
    // extraction's helper may be recording meanwhile).
    ParsedRecord r;
    bool found = false;
    EnterCriticalSection(&journal.Guard);
    for (size_t i = journal.Records.Count(); i-- > 0 && !found;)
        found = ParseRecord(journal.Records.At(i), r) && r.Count >= 1 && SameTextNoCase(r.Fields[0].c_str(), path) &&
                (r.Kind == RECORD_MOVED_FILE || r.Kind == RECORD_NEW_FILE);
    LeaveCriticalSection(&journal.Guard);
    if (!found)
        return;
    if (r.Kind == RECORD_MOVED_FILE && GetFileAttributesU(r.Fields[1].c_str()) != INVALID_FILE_ATTRIBUTES) {
        // Whatever the failed write left goes; the original returns, and
        // is no longer one for the commit to delete.
        HANDLE kept = TakeKeptAside(journal, r.Fields[1].c_str());
        if (kept)
            CloseHandle(kept);
        DeleteFileAt(journal.Guarded, path);
        MoveFileAt(journal.Guarded, r.Fields[1].c_str(), path);
        PassCutPoint();
    }
    TellObserver(journal, "not written, the earlier state is back:", path);
}

void DiscardCreatedFile(RunJournal& journal, const char* path)
{
    DeleteFileAt(journal.Guarded, path);
    PassCutPoint();
    PutBackFile(journal, path);
}

bool MoveFileAsideForDeletion(RunJournal& journal, const char* path)
{
    if (RefuseLink(journal, path))
        return false;
    DWORD attributes = GetFileAttributesU(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return false;
    return MoveAside(journal, path);
}

void RecordTemporaryFile(RunJournal& journal, const char* path)
{
    const char* fields[] = {path};
    // The caller makes the file right after.
    AppendRecord(journal, RECORD_TEMPORARY, fields, 1, true);
    TellObserver(journal, "temporary file:", path);
}

void RecordFileToDeleteAtCommit(RunJournal& journal, const char* path)
{
    const char* fields[] = {path};
    AppendRecord(journal, RECORD_DELETE_AT_COMMIT, fields, 1, false);
}

void RecordFolderToRemoveIfEmpty(RunJournal& journal, const char* folder)
{
    const char* fields[] = {folder};
    AppendRecord(journal, RECORD_EMPTIED_FOLDER, fields, 1, false);
}
