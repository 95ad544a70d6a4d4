// The extraction thread: runs the cabinet decoder over both staged cabinets
// and turns every entry into an installed file (folders created, file
// recorded, date, time and attributes applied), asking whoever started it
// (the install page's copy-error dialog) when a file cannot be created.
#include "engine/engine.h"
#include "engine/preparer.h"
#include "engine/write_behind.h"
#include "rollback/cut_points.h"
#include "cab/cab.h"
#include "rollback/rollback.h"
#include "setup/file_holders.h"
#include "setup/wide.h"

#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

namespace {

ExtractionJobRecord* ActiveJob = nullptr;

// Retry (IDRETRY), Ignore (IDIGNORE) or Abort (IDCANCEL) for a file that
// cannot be written, as whoever started the worker answers it; nobody to
// ask is an Abort, so that the run fails rather than skipping files unseen.
int AskAboutCopyError()
{
    if (ActiveJob && ActiveJob->AskCopyError)
        return ActiveJob->AskCopyError();
    LogEvent("answer: Abort (nobody to ask)");
    return IDCANCEL;
}
// The seven callbacks map one to one onto the run-time library.
void* AllocCallback(uint32_t size) { return malloc(size); }
void FreeCallback(void* memory) { free(memory); }
// The decoder only reads. The staged cabinets are held open for writing
// and deletion by the run itself, so a reader shares both.
intptr_t OpenCallback(char* path, int flags, int)
{
    HANDLE file = CreateFileU(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, (flags & _O_SEQUENTIAL) ? FILE_FLAG_SEQUENTIAL_SCAN : 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    int handle = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
    if (handle == -1)
        CloseHandle(file);
    return handle;
}
uint32_t ReadCallback(intptr_t handle, void* buffer, uint32_t count)
{
    return static_cast<uint32_t>(_read(static_cast<int>(handle), buffer, count));
}
// The product's files are written behind the decoder (write_behind.h);
// one that failed fails the decoder at its next write.
uint32_t WriteCallback(intptr_t handle, void* buffer, uint32_t count)
{
    return QueueWrite(handle, buffer, count) ? count : 0;
}
// A file the decoder closes itself (a damaged cabinet's) is written up to
// there first.
int CloseCallback(intptr_t handle)
{
    WaitForWrites();
    return _close(static_cast<int>(handle));
}
int32_t SeekCallback(intptr_t handle, int32_t offset, int origin)
{
    return _lseek(static_cast<int>(handle), offset, origin);
}

const int kOpenForHeader = _O_BINARY | _O_SEQUENTIAL | _O_RDONLY;                      // 0x8020

void AddDone(int32_t bytes)
{
    if (ActiveJob)
        ActiveJob->Done += bytes;
}

// Splits a path at its last backslash into folder and file name.
void SplitPath(const char* path, Text& folder, Text& file)
{
    const char* slash = strrchr(path, '\\');
    if (slash) {
        folder.Assign(path, static_cast<size_t>(slash - path));
        file.Assign(slash + 1);
    } else {
        folder.Clear();
        file.Assign(path);
    }
}

// Builds ExtractDir + name into path (kPathBytes bytes); false when it does
// not fit, so that it is never cut into another file's name.
bool BuildDestination(const char* name, char* path)
{
    return CopyBounded(path, kPathBytes, Context.ExtractDir.c_str()) && AppendBounded(path, kPathBytes, name) &&
           WideLength(path) < MAX_PATH;
}

// The help file's index (".gid") is rebuilt by Windows from the new help
// file: the old one goes, moved aside so that a rollback brings it back.
void DeleteHelpCompanion(const char* path)
{
    size_t n = strlen(path);
    if (n < 4 || _stricmp(path + n - 4, ".hlp") != 0)
        return;
    char companion[kPathBytes];
    CopyBounded(companion, sizeof companion, path);
    memcpy(companion + n - 3, "gid", 3);
    MoveFileAsideForDeletion(SessionJournal, companion);
}

// Most files land in the folder of the file before them: the folder last
// made sure of is remembered (on the extraction thread only), so that it
// is not looked at again for every file.
char KnownFolder[kPathBytes] = "";

// The journal's records are written ahead of the decoder for the next
// files of the cabinet: a new file's, and an existing file's move aside (a
// reinstall, an upgrade), so that one flush puts a batch of them on the
// disk before the first change instead of a flush for every file (a
// record must be on the disk before its change). A missing folder is
// recorded ahead too, before its files, which need no look then: a
// rollback, last record first, empties a folder before it removes it.
// The product's files so recorded have their places made by the preparer
// (preparer.h) while the decoder works; the sibling's, which stay when
// they are there, are made by the decoder itself. Each name is looked at
// once. On the extraction thread only.
const size_t kRecordsAhead = 64;
enum Ahead { NOT_AHEAD, NEW_AHEAD, MOVE_AHEAD };
struct AheadEntry {
    Ahead State;
    bool Queued;           // its place is made by the preparer
    unsigned long Ticket;  // the preparer's
    char Aside[kPathBytes]; // a move's aside name
};
TextList CabinetNames;             // the cabinet's file names, in the decoder's order
size_t NextName = 0;               // where the decoder is among them
// Name i's entry while AheadFrom <= i < AheadUntil, at i % kRecordsAhead.
size_t AheadFrom = 0, AheadUntil = 0;
AheadEntry Window[kRecordsAhead];
// The folder last recorded ahead (its files are new), and the one last
// found there.
char AheadFolder[kPathBytes] = "";
char FolderThere[kPathBytes] = "";

void AddName(const char* name, void* context) { static_cast<TextList*>(context)->Add(name); }

// The names of the cabinet the pass extracts, from the payload resource the
// staged file was copied from.
void LearnCabinetNames(int pass)
{
    CabinetNames.Clear();
    NextName = AheadFrom = AheadUntil = 0;
    AheadFolder[0] = FolderThere[0] = '\0';
    HMODULE module = Context.StagingJob.ModuleHandle;
    HRSRC found = FindResourceU(module, pass == 0 ? "MAIN" : "ARCHIVIST", "CAB");
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void* image = loaded ? LockResource(loaded) : nullptr;
    if (image)
        CabListFileNames(static_cast<const uint8_t*>(image), SizeofResource(module, found), AddName, &CabinetNames);
}

// The place of name among the cabinet's names, from where the decoder was;
// the count of names when it is not there.
size_t FindName(const char* name)
{
    size_t at = NextName;
    while (at < CabinetNames.Count() && strcmp(CabinetNames.At(at), name) != 0)
        ++at;
    return at;
}

// Looks at the file at path and writes its record: whether it is written
// ahead, and under what aside name a move goes (aside).
Ahead LookAhead(const char* path, char* aside)
{
    char folder[kPathBytes];
    CopyBounded(folder, sizeof folder, path);
    char* slash = strrchr(folder, '\\');
    if (!slash)
        return NOT_AHEAD;
    *slash = '\0';
    bool aheadOfFolder = _stricmp(folder, AheadFolder) == 0;
    if (!aheadOfFolder && _stricmp(folder, FolderThere) != 0) {
        DWORD attributes = GetFileAttributesU(folder);
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            if (!RecordFolderTreeAhead(folder))
                return NOT_AHEAD;
            CopyBounded(AheadFolder, sizeof AheadFolder, folder);
            aheadOfFolder = true;
        } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || RefuseLink(SessionJournal, folder)) {
            return NOT_AHEAD;
        } else {
            CopyBounded(FolderThere, sizeof FolderThere, folder);
        }
    }
    // The folder was looked at for links; a link at path itself shows in
    // its attributes, and goes the long way, which refuses it.
    DWORD attributes = aheadOfFolder ? INVALID_FILE_ATTRIBUTES : GetFileAttributesU(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        RecordNewFile(SessionJournal, path);
        return NEW_AHEAD;
    }
    // The sibling's files already there stay: no move for them.
    if (!(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
        !Context.ExtractingArchivist && RecordMoveAside(SessionJournal, path, aside, kPathBytes))
        return MOVE_AHEAD;
    return NOT_AHEAD;
}

// Brings the window to the names from on: each name new to it is looked
// at and recorded, and then the batch is queued for the preparer, whose
// first change puts all its records on the disk with one flush.
void FillWindow(size_t from)
{
    size_t until = from + kRecordsAhead < CabinetNames.Count() ? from + kRecordsAhead : CabinetNames.Count();
    size_t first = from > AheadUntil ? from : AheadUntil;
    char path[kPathBytes];
    for (size_t i = first; i < until; ++i) {
        AheadEntry& entry = Window[i % kRecordsAhead];
        entry.Queued = false;
        entry.State = CabEntryNameIsSafe(CabinetNames.At(i)) && BuildDestination(CabinetNames.At(i), path)
                          ? LookAhead(path, entry.Aside)
                          : NOT_AHEAD;
    }
    for (size_t i = first; i < until && !Context.ExtractingArchivist; ++i) {
        AheadEntry& entry = Window[i % kRecordsAhead];
        if (entry.State != NOT_AHEAD && BuildDestination(CabinetNames.At(i), path))
            entry.Queued = QueuePreparation(path, entry.State == MOVE_AHEAD ? entry.Aside : nullptr, &entry.Ticket);
    }
    AheadFrom = from;
    AheadUntil = until;
}

// A file that a program left running holds without delete sharing: its
// new version goes beside it and takes its place at the next restart.
int CreateBesideHeld(const char* path)
{
    char beside[kPathBytes];
    HANDLE file = CreateFileBesideHeld(SessionJournal, path, beside, sizeof beside);
    int handle = file == INVALID_HANDLE_VALUE ? -1 : _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
    if (file != INVALID_HANDLE_VALUE && handle == -1)
        CloseHandle(file);
    if (handle != -1)
        LogEvent("%s is in use: its new version is written beside it, for the next restart", path);
    return handle;
}

// The run-time library's handle of a new file at path; -1 when there is
// none, the earlier state put back.
int HandleOfNewFile(HANDLE file, const char* path)
{
    int handle = file == INVALID_HANDLE_VALUE ? -1 : _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
    if (file != INVALID_HANDLE_VALUE && handle == -1)
        CloseHandle(file);
    if (handle == -1) {
        // The reason is the open's, not the put-back's.
        DWORD error = GetLastError();
        PutBackFile(SessionJournal, path);
        SetLastError(error);
    }
    return handle;
}

// Creates the destination file, the existing one moved aside first; a new
// file only, checked to be at path, so that a name that appeared
// meanwhile, or a folder swapped for a link, is not written through. A
// read-only file is not replaced: the user is asked, as for a file in use.
int CreateDestinationFile(const char* path, const char* name)
{
    size_t at = FindName(name);
    if (at < CabinetNames.Count()) {
        NextName = at + 1;
        // Less than half a window ahead of the decoder: the next batch.
        if (at + kRecordsAhead / 2 >= AheadUntil)
            FillWindow(at);
    }
    AheadEntry* entry = at >= AheadFrom && at < AheadUntil ? &Window[at % kRecordsAhead] : nullptr;
    if (entry && entry->Queued) {
        DWORD error = 0;
        bool moved = false;
        HANDLE file = TakePrepared(entry->Ticket, &error, &moved);
        if (file != INVALID_HANDLE_VALUE)
            return HandleOfNewFile(file, path);
        // Not made: the moved file back in its place, and the long way,
        // which asks the user as the file needs.
        if (moved)
            PutBackFile(SessionJournal, path);
    }
    CreateParentFolders(path, KnownFolder);
    // A move looked at ahead that cannot be made now (the file is in use,
    // or gone) goes the long way.
    bool recorded = entry && !entry->Queued &&
                    (entry->State == NEW_AHEAD ||
                     (entry->State == MOVE_AHEAD && MoveRecordedAside(SessionJournal, path, entry->Aside)));
    for (int attempt = 0;; ++attempt) {
        if (!recorded) {
            // A file there already goes the long way once the files queued
            // before it are written and closed: it may be one of this run's.
            if (GetFileAttributesU(path) != INVALID_FILE_ATTRIBUTES)
                WaitForWrites();
            if (!PrepareFileForWriting(SessionJournal, path, false))
                return GetLastError() == ERROR_SHARING_VIOLATION && Context.HoldersRunning ? CreateBesideHeld(path)
                                                                                          : -1;
        }
        HANDLE file = CreatePreparedFile(SessionJournal, path);
        // A file that came since it was looked at goes aside as any other,
        // and the new one is made after all.
        if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS && attempt == 0) {
            recorded = false;
            continue;
        }
        return HandleOfNewFile(file, path);
    }
}

// What the copy-error dialog says of a file in use: the program that
// holds it, when one is known.
void NameHolderOf(const char* path, DWORD error)
{
    Context.CopyHolder.Clear();
    Context.CopyInUse = path && (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION);
    if (!Context.CopyInUse)
        return;
    TextList files;
    files.Add(path);
    FileHolders holders;
    Text folder(Context.ExtractDir.c_str());
    if (!folder.empty() && folder.last() != '\\')
        folder.Append('\\');
    FindFileHolders(folder.c_str(), files, holders);
    if (holders.Count) {
        Context.CopyHolder = DescribeFileHolders(holders);
        LogEvent("%s is held by %s", path, Context.CopyHolder.c_str());
    }
}

intptr_t OnCopyFile(CabNotification* n)
{
    // Between files is where a pause for the cancel question holds nothing.
    WaitAtWorkerGate();
    if (Context.UserCancelled)
        return 0;

    Context.CurrentFileSize = n->size;
    char path[kPathBytes];
    bool fits = BuildDestination(n->text1, path);
    bool safe = CabEntryNameIsSafe(n->text1);
    if (!fits)
        CopyBounded(path, sizeof path, n->text1);

    // Carried by this version, whatever becomes of it below: an earlier
    // version's file of that name is not one the upgrade removes.
    if (fits && safe)
        Context.CarriedFiles.Add(path);

    Text folder, file;
    SplitPath(fits ? path : n->text1, folder, file);
    SetCurrentFileAndDir(file.c_str(), fits ? folder.c_str() : Context.ExtractDir.c_str());

    if (fits && safe && Context.ExtractingArchivist && FileExists(path)) {
        // The sibling product's files already installed are never replaced.
        LogEvent("skipped %s: the sibling product's file is already there", path);
        AddDone(Context.CurrentFileSize);
        return 0;
    }

    for (;;) {
        int handle = -1;
        if (fits && safe) {
            DeleteHelpCompanion(path);
            handle = CreateDestinationFile(path, n->text1);
            // A Retry looks at the folder again: the user may have fixed it.
            if (handle == -1)
                KnownFolder[0] = '\0';
            SplitPath(path, Context.CopyDir, Context.CopyFile);
        } else {
            // Refused without touching the disk: the name would leave the
            // destination folder or does not fit a path.
            Context.CopyFile.Assign(n->text1);
            Context.CopyDir.Assign(Context.ExtractDir.c_str());
            if (Context.CopyDir.last() == '\\')
                Context.CopyDir.Truncate(Context.CopyDir.length() - 1);
        }
        if (handle != -1) {
            Context.InstalledFiles.Add(path);
            QueueWritesFor(handle, path);
            return handle;
        }
        DWORD error = GetLastError();
        // After a cancel nothing more is asked or written, whatever the
        // dialog's answer was.
        if (Context.UserCancelled)
            return 0;
        NameHolderOf(fits && safe ? path : nullptr, error);
        if (fits && safe)
            LogEvent("cannot write %s (Windows error %lu)", path, static_cast<unsigned long>(error));
        else
            LogEvent("refused %s: the name leaves the destination folder or is too long", n->text1);
        int answer = AskAboutCopyError();
        if (Context.UserCancelled)
            return 0;
        if (answer == IDRETRY)
            continue;
        if (answer == IDIGNORE) {
            LogEvent("skipped %s: Ignore was chosen", fits ? path : n->text1);
            AddDone(Context.CurrentFileSize);
            return 0;
        }
        return -1;
    }
}

intptr_t OnCloseFile(CabNotification* n)
{
    char path[kPathBytes];
    BuildDestination(n->text1, path);

    // The date and time go onto the handle that wrote the file, just before
    // it is closed: the same result as opening the file again afterwards,
    // for one open less per file. The writes are unbuffered, so nothing
    // after this changes the time.
    FILETIME local, utc;
    bool timed = DosDateTimeToFileTime(n->date, n->time, &local) && LocalFileTimeToFileTime(&local, &utc);
    // A new file has the archive attribute already, which is what most
    // entries carry; the others go onto the same handle.
    DWORD attributes = n->attributes & 0x27;
    QueueClose(n->fileHandle, timed ? &utc : nullptr,
               attributes == FILE_ATTRIBUTE_ARCHIVE ? INVALID_FILE_ATTRIBUTES : attributes, path);
    PassCutPoint();
    AddDone(Context.CurrentFileSize);
    return 1;
}

// One pass: 0 when the cabinet was processed, else the status code.
int32_t ExtractCabinet(const char* cabinetPath)
{
    CabErrorRecord error = {};
    CabDecoder* decoder = CabDecoderCreate(AllocCallback, FreeCallback, OpenCallback, ReadCallback, WriteCallback,
                                           CloseCallback, SeekCallback, 1, &error);
    if (!decoder)
        return 1;
    char path[kPathBytes];
    CopyBounded(path, sizeof path, cabinetPath);
    intptr_t file = OpenCallback(path, kOpenForHeader, 0);
    if (file == -1) {
        CabDecoderDestroy(decoder);
        return 2;
    }
    CabCabinetInfo info;
    bool isCabinet = CabDecoderIsCabinet(decoder, file, &info);
    CloseCallback(file);
    if (!isCabinet) {
        CabDecoderDestroy(decoder);
        return 3;
    }

    char folder[kPathBytes] = "";
    const char* name = path;
    char* slash = strrchr(path, '\\');
    if (slash) {
        name = slash + 1;
        size_t n = static_cast<size_t>(slash - path) + 1;
        memcpy(folder, path, n);
        folder[n] = '\0';
    }
    if (!CabDecoderCopy(decoder, name, folder, 0, ExtractionNotify, nullptr, nullptr)) {
        CabDecoderDestroy(decoder);
        return 4;
    }
    if (!CabDecoderDestroy(decoder))
        return 5;
    return 0;
}

} // namespace

intptr_t ExtractionNotify(int kind, CabNotification* n)
{
    switch (kind) {
    case CAB_NOTIFY_COPY_FILE:
        return OnCopyFile(n);
    case CAB_NOTIFY_CLOSE_FILE_INFO:
        return OnCloseFile(n);
    case CAB_NOTIFY_NEXT_CABINET:
        // The payload cabinets are single cabinets: this only comes from a
        // damaged one, and answering 0 would have the decoder ask for ever.
        return -1;
    default:
        return 0;
    }
}

DWORD WINAPI ExtractionThreadProc(LPVOID parameter)
{
    ExtractionJobRecord* job = static_cast<ExtractionJobRecord*>(parameter);
    ActiveJob = job;
    KnownFolder[0] = '\0';
    // Without the writer (no thread, no memory) the files are written
    // here, and without the preparer their places made here.
    StartWriteBehind();
    StartPreparer();
    int32_t status = 0;
    for (int pass = 0; pass < 2 && status == 0; ++pass) {
        // A product without a sibling has no folder for the second cabinet
        // (which is empty then).
        if (pass == 1 && Context.ArchivistDir.empty())
            break;
        Context.ExtractingArchivist = pass;
        Context.ExtractDir = pass == 0 ? Context.ExtractTargetDir : Context.ArchivistDir;
        LearnCabinetNames(pass);
        status = ExtractCabinet(pass == 0 ? job->MainCabPath : job->ArchivistCabPath);
    }
    // Every file written and closed before the run goes on to its commit
    // or its rollback; a write that failed last fails the run as the
    // decoder's would have.
    FinishPreparer(status == 0 && !Context.UserCancelled);
    if (!FinishWriteBehind() && status == 0)
        status = 4;
    job->Status = status;
    return 0;
}
