// Acting on the journal's records: the rollback of a run, last change
// first; the commit of a run that succeeded; and, at the start of a
// session, the recovery of whatever an earlier run of the product left in
// its journal file (undone when it never ended, tidied when it had
// succeeded).
#include "rollback/journal.h"
#include "rollback/cut_points.h"
#include "rollback/file_changes.h"
#include "rollback/verified_files.h"
#include "setup/helpers.h"
#include "setup/wide.h"

#include <stdlib.h>
#include <string.h>

namespace {

// A journal holds a few records per installed file; anything larger than
// this was not written by a run of ours and is not read.
const DWORD kMaxJournalSize = 64u * 1024 * 1024;

// A record read back from a journal is acted on only when it is one our
// runs write (IsPlausibleRecord) and, for a per-user installation, names
// nothing in the machine's hive or machine-wide folders.
bool IsPlausible(const ParsedRecord& r)
{
    if (!IsPlausibleRecord(r))
        return false;
    switch (r.Kind) {
    case RECORD_KEY:
    case RECORD_DELETED_KEY:
    case RECORD_NEW_VALUE:
    case RECORD_OLD_VALUE:
        return IsRootOfScope(RootFromLetter(r.Fields[0].c_str()));
    case RECORD_COMMITTED:
        return true;
    default:
        return IsPathOfScope(r.Fields[0].c_str());
    }
}

// The guarded folders among records, known before any record is undone,
// with the final paths the run found them at: a folder swapped for a link
// since (while no run was there to see) leads nowhere a recovery goes.
void LoadGuards(RunJournal& journal, const TextList& records)
{
    GuardedFolders& guarded = journal.Guarded;
    ParsedRecord r;
    for (size_t i = 0; i < records.Count(); ++i) {
        if (!ParseRecord(records.At(i), r) || (r.Kind != RECORD_GUARDED && r.Kind != RECORD_GUARD_IDENTITY) ||
            !IsPlausible(r))
            continue;
        size_t k = 0;
        while (k < guarded.Count() && !SameTextNoCase(guarded.At(k), r.Fields[0].c_str()))
            ++k;
        if (k == guarded.Count())
            guarded.Folders.Add(r.Fields[0].c_str());
        if (r.Kind == RECORD_GUARD_IDENTITY && k < GuardedFolders::kMostKnown && !guarded.Finals[k].c_str()[0])
            guarded.Finals[k] = r.Fields[1].c_str();
    }
}

Text RegistryName(const ParsedRecord& r)
{
    return RegistryValueName(RootFromLetter(r.Fields[0].c_str()), r.Fields[1].c_str(),
                             r.Kind == RECORD_KEY || r.Kind == RECORD_DELETED_KEY ? nullptr : r.Fields[2].c_str());
}

// The paths that the journal's move-aside records name, each with the
// place of its last such record, sorted by path: a rollback learns in a
// binary search whether a new-file record's path was moved aside after it
// (the file came meanwhile, and is not the run's). Both records name the
// path as the run spelt it, byte for byte.
class LaterMoves {
public:
    explicit LaterMoves(const TextList& records)
    {
        bool whole = true;
        ParsedRecord r;
        for (size_t i = 0; i < records.Count(); ++i)
            if (IsMove(records.At(i), r))
                whole = paths_.Add(r.Fields[0].c_str()) && whole;
        moves_ = whole ? static_cast<Move*>(malloc(paths_.Count() * sizeof(Move) + 1)) : nullptr;
        for (size_t i = 0; moves_ && i < records.Count() && count_ < paths_.Count(); ++i) {
            if (IsMove(records.At(i), r)) {
                moves_[count_] = Move{paths_.At(count_), i};
                ++count_;
            }
        }
        if (count_ > 1)
            qsort(moves_, count_, sizeof(Move), Compare);
    }
    ~LaterMoves() { free(moves_); }
    LaterMoves(const LaterMoves&) = delete;
    LaterMoves& operator=(const LaterMoves&) = delete;

    // True when a move-aside record of path comes after place.
    bool After(const char* path, size_t place) const
    {
        // The last of path's moves, the latest, by a search for the first
        // entry past it.
        size_t low = 0, high = count_;
        while (low < high) {
            size_t middle = (low + high) / 2;
            if (strcmp(moves_[middle].Path, path) <= 0)
                low = middle + 1;
            else
                high = middle;
        }
        return low > 0 && strcmp(moves_[low - 1].Path, path) == 0 && moves_[low - 1].Place > place;
    }

private:
    struct Move {
        const char* Path;
        size_t Place;
    };
    static int Compare(const void* a, const void* b)
    {
        const Move* x = static_cast<const Move*>(a);
        const Move* y = static_cast<const Move*>(b);
        int order = strcmp(x->Path, y->Path);
        return order != 0 ? order : (x->Place < y->Place ? -1 : x->Place > y->Place ? 1 : 0);
    }
    static bool IsMove(const char* record, ParsedRecord& r)
    {
        return ParseRecord(record, r) && r.Kind == RECORD_MOVED_FILE && r.Count >= 1;
    }
    TextList paths_;
    Move* moves_ = nullptr;
    size_t count_ = 0;
};

// A V record's earlier data, written back.
bool RestoreRecordedValue(const ParsedRecord& r)
{
    const char* hex = r.Fields[4].c_str();
    size_t n = strlen(hex);
    if (n % 2 != 0)
        return false;
    unsigned char* data = static_cast<unsigned char*>(malloc(n / 2 + 1));
    if (!data)
        return false;
    bool ok = DecodeHex(hex, data, n / 2) &&
              RestoreRegistryValue(RootFromLetter(r.Fields[0].c_str()), r.Fields[1].c_str(), r.Fields[2].c_str(),
                                   strtoul(r.Fields[3].c_str(), nullptr, 10), data, static_cast<DWORD>(n / 2));
    free(data);
    return ok;
}

// Undoes one record, telling the observer what it did. False when the
// change could not be undone: also when undoing it would go through a link
// below a guarded folder, which leaves whatever is behind the link (and a
// moved file under its aside name).
bool UndoRecord(RunJournal& journal, const ParsedRecord& r, bool keepFolders)
{
    if (!IsPlausible(r))
        return true;
    const char* a = r.Fields[0].c_str();
    // A key is undone in the view it was changed in.
    ScopedRegistryView view(ViewFromLetter(a));
    bool file = r.Kind == RECORD_FOLDER || r.Kind == RECORD_NEW_FILE || r.Kind == RECORD_TEMPORARY ||
                r.Kind == RECORD_MOVED_FILE || r.Kind == RECORD_AT_RESTART;
    if (file && IsBehindLink(journal, a)) {
        TellObserver(journal, "rollback: left, it lies behind a link:", a);
        return false;
    }
    switch (r.Kind) {
    case RECORD_FOLDER:
        // Only an empty folder goes: whatever somebody else put there
        // keeps it, and its parents, in place.
        if (!keepFolders && RemoveFolderAt(journal.Guarded, a))
            TellObserver(journal, "rollback: folder removed:", a);
        return true;
    case RECORD_NEW_FILE:
    case RECORD_TEMPORARY: {
        bool existed = GetFileAttributesU(a) != INVALID_FILE_ATTRIBUTES;
        bool deleted = DeleteCreatedFile(journal.Guarded, a);
        if (existed)
            TellObserver(journal, deleted ? "rollback: file deleted:" : "rollback: file left to the next restart:", a);
        return deleted;
    }
    case RECORD_AT_RESTART: {
        // The file in use was never touched: only its new version goes.
        bool deleted = DeleteCreatedFile(journal.Guarded, r.Fields[1].c_str());
        TellObserver(journal, deleted ? "rollback: new version of a file in use deleted:"
                                      : "rollback: new version of a file in use left to the next restart:",
                     a, r.Fields[1].c_str());
        return deleted;
    }
    case RECORD_MOVED_FILE: {
        bool restored = RestoreMovedFile(journal.Guarded, a, r.Fields[1].c_str());
        TellObserver(journal, restored ? "rollback: file put back:" : "rollback: file put back at the next restart:",
                     a);
        return restored;
    }
    case RECORD_KEY: {
        // RegDeleteKey takes only a key without subkeys: one that somebody
        // else filled meanwhile stays.
        LONG result = RegDeleteKeyU(RootFromLetter(a), r.Fields[1].c_str());
        if (result == ERROR_SUCCESS)
            TellObserver(journal, "rollback: registry key deleted:", RegistryName(r).c_str());
        return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND || result == ERROR_ACCESS_DENIED;
    }
    case RECORD_DELETED_KEY: {
        HKEY key;
        bool made = RegCreateKeyExU(RootFromLetter(a), r.Fields[1].c_str(), KEY_QUERY_VALUE, &key) == ERROR_SUCCESS;
        if (made)
            RegCloseKey(key);
        TellObserver(journal, made ? "rollback: registry key made again:" : "rollback: registry key not made again:",
                     RegistryName(r).c_str());
        return made;
    }
    case RECORD_NEW_VALUE: {
        bool deleted = DeleteRegistryValue(RootFromLetter(a), r.Fields[1].c_str(), r.Fields[2].c_str());
        TellObserver(journal, deleted ? "rollback: registry value deleted:" : "rollback: registry value not deleted:",
                     RegistryName(r).c_str());
        return deleted;
    }
    case RECORD_OLD_VALUE: {
        bool restored = RestoreRecordedValue(r);
        TellObserver(journal,
                     restored ? "rollback: registry value restored:" : "rollback: registry value not restored:",
                     RegistryName(r).c_str());
        return restored;
    }
    }
    return true;
}

// The files a committed run moved aside or wrote temporarily, deleted by
// two threads at once (each the next one not taken): under Wine most of a
// deletion's time is the caller's own work. One still in use is listed
// for later.
struct Deletions {
    RunJournal* Journal;
    TextList Names, Gone; // each file's own name, and the name it has now
    volatile LONG Next;
};

void DeleteOne(RunJournal& journal, const char* name, const char* gone)
{
    // Through the handle kept since the move, when there is one; what it
    // cannot delete is tried again by its name.
    HANDLE kept = TakeKeptAside(journal, gone);
    if (kept && DeleteThrough(kept, gone)) {
        PassCutPoint();
        return;
    }
    if (IsBehindLink(journal, gone))
        return;
    if (!DeleteCreatedFile(journal.Guarded, gone) && GetFileAttributesU(gone) != INVALID_FILE_ATTRIBUTES) {
        bool machine = CurrentInstallScope() == SCOPE_MACHINE;
        EnterCriticalSection(&journal.Guard);
        (machine ? journal.WaitingForRestart : journal.LeftInUse).Add(machine ? name : gone);
        LeaveCriticalSection(&journal.Guard);
        TellObserver(journal,
                     machine ? "in use: its old copy goes at the next restart:"
                             : "in use: its old copy goes at the product's next setup or uninstaller:",
                     name, gone);
    }
    PassCutPoint();
}

DWORD WINAPI DeleteSome(LPVOID parameter)
{
    Deletions* deletions = static_cast<Deletions*>(parameter);
    for (;;) {
        size_t i = static_cast<size_t>(InterlockedIncrement(&deletions->Next) - 1);
        if (i >= deletions->Gone.Count())
            return 0;
        DeleteOne(*deletions->Journal, deletions->Names.At(i), deletions->Gone.At(i));
    }
}

// Finishes a committed run: what was moved aside or written temporarily
// goes, and so does every folder the session made that stayed empty, and
// every folder the run's deletions left empty; nothing behind a link below
// a guarded folder.
void TidyCommitted(RunJournal& journal, const TextList& records)
{
    LoadGuards(journal, records);
    ParsedRecord r;
    Deletions deletions;
    deletions.Journal = &journal;
    deletions.Next = 0;
    for (size_t i = 0; i < records.Count(); ++i) {
        if (ParseRecord(records.At(i), r) && IsPlausible(r) &&
            (r.Kind == RECORD_MOVED_FILE || r.Kind == RECORD_TEMPORARY)) {
            deletions.Names.Add(r.Fields[0].c_str());
            deletions.Gone.Add(r.Fields[r.Kind == RECORD_MOVED_FILE ? 1 : 0].c_str());
        }
    }
    // A test that ends the thread at a cut keeps the deletions on it.
    Helper* helper = deletions.Gone.Count() > 1 && !CutsEndOneThread() ? StartHelper(DeleteSome, &deletions) : nullptr;
    DeleteSome(&deletions);
    JoinHelper(helper);
    for (size_t i = 0; i < records.Count(); ++i) {
        if (!ParseRecord(records.At(i), r) || !IsPlausible(r))
            continue;
        // A file in use gets its new version when Windows restarts (only
        // every user's installation may ask for that).
        if (r.Kind == RECORD_AT_RESTART && !IsBehindLink(journal, r.Fields[1].c_str()) &&
            GetFileAttributesU(r.Fields[1].c_str()) != INVALID_FILE_ATTRIBUTES) {
            if (CurrentInstallScope() == SCOPE_MACHINE &&
                MoveFileExU(r.Fields[1].c_str(), r.Fields[0].c_str(),
                            MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING))
                journal.WaitingForRestart.Add(r.Fields[0].c_str());
            TellObserver(journal, "in use: replaced by its new version at the next restart:", r.Fields[0].c_str(),
                         r.Fields[1].c_str());
        }
        // A file deleted at the commit that is still in use (the running
        // uninstaller) is its own to take away once it has ended.
        if (r.Kind == RECORD_DELETE_AT_COMMIT && !IsBehindLink(journal, r.Fields[0].c_str())) {
            // Deleted now if it can be; one still in use stays (no
            // deletion at the next restart).
            DeleteFileAt(journal.Guarded, r.Fields[0].c_str());
            PassCutPoint();
        }
    }
    for (size_t i = records.Count(); i-- > 0;)
        if (ParseRecord(records.At(i), r) && (r.Kind == RECORD_FOLDER || r.Kind == RECORD_EMPTIED_FOLDER) &&
            IsPlausible(r) && !IsBehindLink(journal, r.Fields[0].c_str()) && RemoveFolderAt(journal.Guarded, r.Fields[0].c_str()) &&
            r.Kind == RECORD_EMPTIED_FOLDER)
            TellObserver(journal, "folder left empty, removed:", r.Fields[0].c_str());
}

// The committed journal that a removal leaves for its finishing: each
// file still in use to be deleted (by its own name only while it has not
// moved: withOwnNames), its aside name when it has one, the guards and the
// folders the deletions may leave empty. Written and flushed at once.
void KeepForTheFinishing(RunJournal& journal, const TextList& files, const TextList& asides, bool withOwnNames)
{
    TextList kept;
    for (size_t i = 0; i < files.Count(); ++i) {
        const char* fields[] = {files.At(i), asides.At(i)};
        if (withOwnNames || !asides.At(i)[0])
            kept.Add(FormatRecord(RECORD_DELETE_AT_COMMIT, fields, 1).c_str());
        if (asides.At(i)[0])
            kept.Add(FormatRecord(RECORD_MOVED_FILE, fields, 2).c_str());
    }
    for (size_t i = 0; i < journal.Records.Count(); ++i) {
        char kind = journal.Records.At(i)[0];
        if (kind == RECORD_GUARDED || kind == RECORD_GUARD_IDENTITY || kind == RECORD_EMPTIED_FOLDER ||
            kind == RECORD_COMMITTED)
            kept.Add(journal.Records.At(i));
    }
    journal.Records.Clear();
    for (size_t i = 0; i < kept.Count(); ++i)
        journal.Records.Add(kept.At(i));
    RewriteJournalFile(journal);
}

// A record of a version-1 journal as this version writes it: its names
// from the system's code page into the program's text, and an old text
// value's data into the registry's own form. False when it does not
// convert: the record is then not acted on.
bool UpgradeRecord(const char* line, Text& upgraded)
{
    ParsedRecord r;
    if (!ParseRecord(line, r))
        return false;
    const char* fields[kMaxRecordFields];
    Text converted[kMaxRecordFields];
    for (int i = 0; i < r.Count; ++i) {
        if (!TextFromCodePage(r.Fields[i].c_str(), converted[i]))
            return false;
        fields[i] = converted[i].c_str();
    }
    if (r.Kind == RECORD_OLD_VALUE) {
        const char* hex = r.Fields[4].c_str();
        size_t n = strlen(hex) / 2;
        unsigned char* data = static_cast<unsigned char*>(malloc(n + 1));
        BYTE* stored = nullptr;
        DWORD storedSize = 0;
        bool ok = data && DecodeHex(hex, data, n) &&
                  StoredDataFromCodePage(strtoul(r.Fields[3].c_str(), nullptr, 10), data, static_cast<DWORD>(n),
                                         &stored, &storedSize);
        free(data);
        if (!ok)
            return false;
        converted[4].Clear();
        AppendHex(converted[4], stored, storedSize);
        free(stored);
        fields[4] = converted[4].c_str();
    }
    upgraded = FormatRecord(r.Kind, fields, r.Count);
    return true;
}

// Reads the journal file of an earlier run: the records a recovery acts
// on (ReadJournalText), those of an older version upgraded; false when it
// is not one of ours.
bool ReadJournalFile(HANDLE file, const char* makerName, TextList& records, bool* committed)
{
    DWORD size = GetFileSize(file, nullptr);
    if (size == INVALID_FILE_SIZE || size > kMaxJournalSize)
        return false;
    char* data = static_cast<char*>(malloc(size + 1));
    if (!data)
        return false;
    DWORD got = 0;
    int version = 0;
    bool read = ReadFile(file, data, size, &got, nullptr) && got == size;
    bool ok = read && ReadJournalText(data, size, JournalHeader(makerName).c_str(), records, committed, &version);
    // A maker's name beyond plain letters stood in the header of version 1
    // in the system's code page.
    Text earlierName;
    if (read && !ok && TextToCodePage(makerName, earlierName) && strcmp(earlierName.c_str(), makerName) != 0)
        ok = ReadJournalText(data, size, JournalHeader(earlierName.c_str()).c_str(), records, committed, &version) &&
             version == 1;
    free(data);
    if (ok && version == 1) {
        TextList read;
        for (size_t i = 0; i < records.Count(); ++i)
            read.Add(records.At(i));
        records.Clear();
        Text upgraded;
        for (size_t i = 0; i < read.Count(); ++i)
            if (UpgradeRecord(read.At(i), upgraded))
                records.Add(upgraded.c_str());
    }
    return ok;
}

// Finishes whatever an earlier run of the journal's product left in its
// journal file: undone when it never ended, tidied when it had succeeded.
JournalStart RecoverEarlierRun(RunJournal& journal, JournalRecovery* recovered);

} // namespace

JournalStart JournalStartSession(RunJournal& journal, const char* makerName, const char* productName,
                                 JournalRecovery* recovered)
{
    *recovered = JOURNAL_NOTHING_FOUND;
    journal.MakerName = makerName;
    journal.ProductName = productName;
    if (!TakeRunLock(journal))
        return JOURNAL_BUSY;
    JournalStart started = RecoverEarlierRun(journal, recovered);
    FinishFilesInUse(journal);
    if (started == JOURNAL_STARTED && StopAfterRecoveryAsked()) {
        JournalEndSession(journal);
        EndProcessAtCut();
    }
    return started;
}

namespace {

// The list of old copies left in use, beside the journal.
const char kInUseListName[] = "in use.txt";

bool InUseListPath(const RunJournal& journal, bool makeFolder, char* path, size_t size)
{
    if (!JournalPath(journal.MakerName.c_str(), journal.ProductName.c_str(), makeFolder, path, size))
        return false;
    char* slash = strrchr(path, '\\');
    if (!slash)
        return false;
    slash[1] = '\0';
    return AppendBounded(path, size, kInUseListName);
}

// Writes list (one full path a line), or deletes the file when it is empty.
void WriteInUseList(const RunJournal& journal, const TextList& list)
{
    char path[kPathBytes];
    if (!InUseListPath(journal, list.Count() > 0, path, sizeof path))
        return;
    if (list.Count() == 0) {
        DeleteFileU(path);
        return;
    }
    Text text;
    for (size_t i = 0; i < list.Count(); ++i) {
        text.Append(list.At(i));
        text.Append('\n');
    }
    HANDLE file = CreateFileU(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, text.c_str(), static_cast<DWORD>(text.length()), &written, nullptr);
    CloseHandle(file);
}

void ReadInUseList(const RunJournal& journal, TextList& list)
{
    list.Clear();
    char path[kPathBytes];
    if (!InUseListPath(journal, false, path, sizeof path))
        return;
    HANDLE file = CreateFileU(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    // A few lines of paths: anything larger is not a list of ours.
    char data[16 * kPathBytes];
    DWORD got = 0;
    bool read = ReadFile(file, data, sizeof data - 1, &got, nullptr) != FALSE;
    CloseHandle(file);
    if (!read)
        return;
    data[got] = '\0';
    for (char* line = data; *line;) {
        char* end = strchr(line, '\n');
        if (end)
            *end = '\0';
        size_t length = strlen(line);
        if (length && line[length - 1] == '\r')
            line[length - 1] = '\0';
        // Only an aside name of ours, a full plain path: the list never
        // deletes anything else, whoever wrote it.
        if (IsPlainFullPath(line) && IsAsideName(line))
            list.Add(line);
        if (!end)
            break;
        line = end + 1;
    }
}

// A per-user commit's old copies still in use join the list.
void KeepFilesInUse(RunJournal& journal)
{
    if (journal.LeftInUse.Count() == 0)
        return;
    TextList list;
    ReadInUseList(journal, list);
    for (size_t i = 0; i < journal.LeftInUse.Count(); ++i) {
        bool listed = false;
        for (size_t j = 0; j < list.Count() && !listed; ++j)
            listed = SameTextNoCase(list.At(j), journal.LeftInUse.At(i));
        if (!listed)
            list.Add(journal.LeftInUse.At(i));
    }
    WriteInUseList(journal, list);
}

JournalStart RecoverEarlierRun(RunJournal& journal, JournalRecovery* recovered)
{
    const char* makerName = journal.MakerName.c_str();
    const char* productName = journal.ProductName.c_str();

    char path[kPathBytes];
    if (!JournalPath(makerName, productName, false, path, sizeof path))
        return JOURNAL_STARTED;
    DWORD attributes = GetFileAttributesU(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return JOURNAL_STARTED;
    // A journal that is not administrators-only was put there by somebody
    // else before the folder was ours: it is deleted unread.
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) || !IsAdminOnly(path)) {
        DeleteFileU(path);
        return JOURNAL_STARTED;
    }
    HANDLE file = CreateFileU(path, GENERIC_READ | DELETE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return JOURNAL_STARTED;
    TextList records;
    bool committed = false;
    bool ours = ReadJournalFile(file, makerName, records, &committed);
    CloseHandle(file);
    if (ours && records.Count() > 0) {
        if (committed) {
            TidyCommitted(journal, records);
            *recovered = JOURNAL_COMPLETED;
        } else {
            for (size_t i = 0; i < records.Count(); ++i)
                journal.Records.Add(records.At(i));
            JournalRollBack(journal, false);
            *recovered = JOURNAL_ROLLED_BACK;
        }
    }
    journal.Records.Clear();
    DeleteFileU(path);
    PassCutPoint();
    // A recovery leaves no trace either: the product's setup folder goes
    // when nothing else is in it (the session makes it again if it needs
    // it).
    RemoveEmptyProductAdminFolder(makerName, productName);
    return JOURNAL_STARTED;
}

} // namespace

void FinishFilesInUse(RunJournal& journal)
{
    TextList list, staying;
    ReadInUseList(journal, list);
    if (list.Count() == 0)
        return;
    for (size_t i = 0; i < list.Count(); ++i) {
        if (DeleteFileU(list.At(i)) || GetFileAttributesU(list.At(i)) == INVALID_FILE_ATTRIBUTES)
            TellObserver(journal, "an old copy left in use by an earlier run is deleted:", list.At(i));
        else
            staying.Add(list.At(i));
    }
    WriteInUseList(journal, staying);
}

void JournalEndSession(RunJournal& journal)
{
    // Rolling back empties the journal, and an empty journal is no file;
    // nor is an empty folder for it kept.
    JournalRollBack(journal, false);
    if (!journal.ProductName.empty())
        RemoveEmptyProductAdminFolder(journal.MakerName.c_str(), journal.ProductName.c_str());
    ReleaseRunLock(journal);
}

int JournalRollBack(RunJournal& journal, bool keepFolders)
{
    int failures = 0;
    ParsedRecord r;
    TextList kept;
    LoadGuards(journal, journal.Records);
    // The moved files go back by their names.
    ReleaseKeptAsides(journal);
    if (JournalHasRunChanges(journal) || (!keepFolders && journal.Records.Count() > 0))
        TellObserver(journal, "rollback: undoing the changes of the run, last first");
    // A file that was found at a path after the run had recorded it as
    // new there (it came meanwhile) was moved aside, its record later: put
    // back, it is not the run's to delete.
    LaterMoves laterMoves(journal.Records);
    for (size_t i = journal.Records.Count(); i-- > 0;) {
        const char* record = journal.Records.At(i);
        if (!ParseRecord(record, r))
            continue;
        if (r.Kind == RECORD_NEW_FILE && r.Count >= 1 && laterMoves.After(r.Fields[0].c_str(), i)) {
            TellObserver(journal, "rollback: left, it was there before the run replaced it:", r.Fields[0].c_str());
            continue;
        }
        if (!UndoRecord(journal, r, keepFolders))
            ++failures;
        PassCutPoint();
    }
    // The session's folders, and the guards over them, outlive the run.
    if (keepFolders) {
        for (size_t i = 0; i < journal.Records.Count(); ++i)
            if (journal.Records.At(i)[0] == RECORD_FOLDER || journal.Records.At(i)[0] == RECORD_GUARDED ||
                journal.Records.At(i)[0] == RECORD_GUARD_IDENTITY)
                kept.Add(journal.Records.At(i));
    }
    journal.Records.Clear();
    for (size_t i = 0; i < kept.Count(); ++i)
        journal.Records.Add(kept.At(i));
    RewriteJournalFile(journal);
    return failures;
}

void JournalCommit(RunJournal& journal, bool finishLater)
{
    // Once this record is on the disk the run counts as done: a recovery
    // finishes the tidying below instead of undoing the run.
    AppendRecord(journal, RECORD_COMMITTED, nullptr, 0, true);
    TellObserver(journal, "run committed: the files kept aside for a rollback are deleted");
    TidyCommitted(journal, journal.Records);
    ReleaseKeptAsides(journal);
    // A file to delete that is still in use (the running uninstaller
    // itself) keeps the committed journal on the disk, with the guards and
    // the folders it may leave empty: whichever run of the product starts
    // next (the uninstaller's own copy, as soon as the program has ended)
    // finishes the deletion. Killed before that, the removal is still done.
    TextList pending;
    ParsedRecord r;
    for (size_t i = 0; i < journal.Records.Count(); ++i)
        if (ParseRecord(journal.Records.At(i), r) && r.Kind == RECORD_DELETE_AT_COMMIT &&
            GetFileAttributesU(r.Fields[0].c_str()) != INVALID_FILE_ATTRIBUTES)
            pending.Add(r.Fields[0].c_str());
    if (finishLater && pending.Count() > 0) {
        // Each goes aside within its folder first (a running program may be
        // renamed), so that the finishing deletes it under a name only this
        // run made: its own name is free at once for a new installation,
        // which the finishing must never touch. The journal names both the
        // file and where it goes before it moves.
        TextList planned, moved;
        for (size_t i = 0; i < pending.Count(); ++i) {
            char aside[kPathBytes];
            planned.Add(MakeAsideName(journal, pending.At(i), aside, sizeof aside) ? aside : "");
        }
        KeepForTheFinishing(journal, pending, planned, true);
        for (size_t i = 0; i < pending.Count(); ++i) {
            bool gone = planned.At(i)[0] && MoveFileAt(journal.Guarded, pending.At(i), planned.At(i));
            moved.Add(gone ? planned.At(i) : "");
            if (!gone)
                continue;
            PassCutPoint();
            journal.LeftForLater.Add(pending.At(i));
            journal.LeftAsides.Add(planned.At(i));
            TellObserver(journal, "in use, moved aside for the finishing:", pending.At(i), planned.At(i));
        }
        KeepForTheFinishing(journal, pending, moved, false);
        // The file stays as written: this session's end leaves it alone.
        CloseJournalFile(journal);
        journal.Records.Clear();
        return;
    }
    journal.Records.Clear();
    RewriteJournalFile(journal);
    KeepFilesInUse(journal);
}
