// The journal of a session: its records in memory and on disk, the run
// lock that keeps two runs of one product apart, the rollback and commit
// that act on the records, and the recovery of a run that never ended.
#include "rollback/records.h"

#include <stdlib.h>
#include <string.h>

namespace {

const char kJournalName[] = "setup.journal";
const char kJournalHeader[] = "CORVANE SETUP JOURNAL 1";
// A journal holds a few records per installed file; anything larger than
// this was not written by a run of ours and is not read.
const DWORD kMaxJournalSize = 64u * 1024 * 1024;
// Moved-aside files carry this prefix; a recovery acts on no other name.
const char kAsidePrefix[] = "~RB";

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }
int HexValue(char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }

void AppendEscaped(Text& line, const char* field)
{
    static const char kHex[] = "0123456789ABCDEF";
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(field); *c; ++c) {
        if (*c < 0x20 || *c >= 0x7F || *c == '%') {
            char escaped[4] = {'%', kHex[*c >> 4], kHex[*c & 15], '\0'};
            line.Append(escaped);
        } else {
            line.Append(static_cast<char>(*c));
        }
    }
}

bool WriteAll(HANDLE file, const char* data, size_t size)
{
    DWORD written = 0;
    return WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

bool WriteLine(HANDLE file, const char* line)
{
    return WriteAll(file, line, strlen(line)) && WriteAll(file, "\n", 1);
}

// "<the product's administrators-only folder>\setup.journal". The folder
// is made only for writing; a journal is read only from a folder that is
// there and administrators-only.
bool JournalPath(const char* productName, bool makeFolder, char* path, size_t size)
{
    char folder[MAX_PATH];
    bool found = makeFolder ? GetProductAdminFolder(productName, folder, sizeof folder)
                            : FindProductAdminFolder(productName, folder, sizeof folder);
    return found && CopyBounded(path, size, folder) && AppendBounded(path, size, "\\") &&
           AppendBounded(path, size, kJournalName);
}

// Writes the header and every record held in memory over the file's
// content. An empty journal is no file at all.
void RewriteJournalFile(RunJournal& journal)
{
    if (journal.File == INVALID_HANDLE_VALUE)
        return;
    if (journal.Records.Count() == 0) {
        CloseHandle(journal.File);
        journal.File = INVALID_HANDLE_VALUE;
        char path[MAX_PATH];
        if (JournalPath(journal.ProductName.c_str(), false, path, sizeof path))
            DeleteFileA(path);
        return;
    }
    SetFilePointer(journal.File, 0, nullptr, FILE_BEGIN);
    SetEndOfFile(journal.File);
    WriteLine(journal.File, kJournalHeader);
    for (size_t i = 0; i < journal.Records.Count(); ++i)
        WriteLine(journal.File, journal.Records.At(i));
    FlushFileBuffers(journal.File);
}

// Opens the journal file on the first record of a session. Without a
// trusted folder for it the journal stays in memory: the run can still be
// undone while the program lives, only not after it was killed.
bool OpenJournalFile(RunJournal& journal)
{
    if (journal.File != INVALID_HANDLE_VALUE)
        return true;
    if (journal.FileRefused || journal.ProductName.empty())
        return false;
    char path[MAX_PATH];
    if (!JournalPath(journal.ProductName.c_str(), true, path, sizeof path)) {
        journal.FileRefused = true;
        return false;
    }
    // Held without sharing: nobody writes, renames or deletes it while
    // the session runs. Its own descriptor is administrators-only too,
    // whatever the token's default owner.
    SECURITY_ATTRIBUTES security = {sizeof security, NewAdminOnlyDescriptor(), FALSE};
    journal.File = CreateFileA(path, GENERIC_READ | GENERIC_WRITE | DELETE, 0, &security, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    LocalFree(security.lpSecurityDescriptor);
    if (journal.File == INVALID_HANDLE_VALUE) {
        journal.FileRefused = true;
        return false;
    }
    RewriteJournalFile(journal);
    return true;
}

// Deletes a file the run created, read-only or not. A file still in use
// is left to the next restart. False when it is still there.
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
    MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return false;
}

// Puts a moved file back in its place. Nothing to do when the aside name
// is gone (the rename never happened, or it was put back already).
bool RestoreMovedFile(const char* path, const char* aside)
{
    if (GetFileAttributesA(aside) == INVALID_FILE_ATTRIBUTES)
        return true;
    DeleteCreatedFile(path);
    if (MoveFileExA(aside, path, 0))
        return true;
    // The new file is still held: the original comes back at the restart
    // and stays safe under its aside name until then.
    MoveFileExA(aside, path, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING);
    return false;
}

bool RestoreValue(HKEY root, const char* key, const char* name, const char* typeText, const char* hex)
{
    size_t n = strlen(hex);
    if (n % 2 != 0)
        return false;
    unsigned char* data = static_cast<unsigned char*>(malloc(n / 2 + 1));
    if (!data)
        return false;
    for (size_t i = 0; i < n / 2; ++i) {
        if (!IsHexDigit(hex[2 * i]) || !IsHexDigit(hex[2 * i + 1])) {
            free(data);
            return false;
        }
        data[i] = static_cast<unsigned char>(HexValue(hex[2 * i]) * 16 + HexValue(hex[2 * i + 1]));
    }
    HKEY k;
    bool ok = false;
    if (RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr) == ERROR_SUCCESS) {
        ok = RegSetValueExA(k, name, 0, strtoul(typeText, nullptr, 10), data, static_cast<DWORD>(n / 2)) ==
             ERROR_SUCCESS;
        RegCloseKey(k);
    }
    free(data);
    return ok;
}

bool DeleteValue(HKEY root, const char* key, const char* name)
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

bool IsAsideOf(const char* path, const char* aside)
{
    const char* slash = strrchr(path, '\\');
    const char* asideSlash = strrchr(aside, '\\');
    if (!slash || !asideSlash || slash - path != asideSlash - aside)
        return false;
    return _strnicmp(path, aside, static_cast<size_t>(slash - path)) == 0 &&
           strncmp(asideSlash + 1, kAsidePrefix, sizeof kAsidePrefix - 1) == 0;
}

// A record read back from a journal is acted on only when it is one our
// runs write: full plain paths, moved files beside their original under
// our aside name, registry keys under SOFTWARE.
bool IsPlausible(const ParsedRecord& r)
{
    switch (r.Kind) {
    case RECORD_FOLDER:
    case RECORD_NEW_FILE:
    case RECORD_TEMPORARY:
        return r.Count == 1 && IsPlainFullPath(r.Fields[0].c_str());
    case RECORD_MOVED_FILE:
        return r.Count == 2 && IsPlainFullPath(r.Fields[0].c_str()) && IsPlainFullPath(r.Fields[1].c_str()) &&
               IsAsideOf(r.Fields[0].c_str(), r.Fields[1].c_str());
    case RECORD_KEY:
    case RECORD_NEW_VALUE:
    case RECORD_OLD_VALUE: {
        int expected = r.Kind == RECORD_KEY ? 2 : r.Kind == RECORD_NEW_VALUE ? 3 : 5;
        return r.Count == expected && RootFromLetter(r.Fields[0].c_str()) &&
               _strnicmp(r.Fields[1].c_str(), "SOFTWARE\\", 9) == 0;
    }
    case RECORD_GUARDED:
        return r.Count == 1 && IsPlainFullPath(r.Fields[0].c_str());
    case RECORD_COMMITTED:
        return r.Count == 0;
    }
    return false;
}

// The guarded folders among records, known before any record is undone.
void LoadGuards(RunJournal& journal, const TextList& records)
{
    ParsedRecord r;
    for (size_t i = 0; i < records.Count(); ++i) {
        if (!ParseRecord(records.At(i), r) || r.Kind != RECORD_GUARDED || !IsPlausible(r))
            continue;
        bool known = false;
        for (size_t k = 0; k < journal.Guarded.Count() && !known; ++k)
            known = lstrcmpiA(journal.Guarded.At(k), r.Fields[0].c_str()) == 0;
        if (!known)
            journal.Guarded.Add(r.Fields[0].c_str());
    }
}

Text RegistryName(const ParsedRecord& r)
{
    return RegistryValueName(RootFromLetter(r.Fields[0].c_str()), r.Fields[1].c_str(),
                             r.Kind == RECORD_KEY ? nullptr : r.Fields[2].c_str());
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
    bool file = r.Kind == RECORD_FOLDER || r.Kind == RECORD_NEW_FILE || r.Kind == RECORD_TEMPORARY ||
                r.Kind == RECORD_MOVED_FILE;
    if (file && IsBehindLink(journal, a)) {
        TellObserver(journal, "rollback: left, it lies behind a link:", a);
        return false;
    }
    switch (r.Kind) {
    case RECORD_FOLDER:
        // Only an empty folder goes: whatever somebody else put there
        // keeps it, and its parents, in place.
        if (!keepFolders && RemoveDirectoryA(a))
            TellObserver(journal, "rollback: folder removed:", a);
        return true;
    case RECORD_NEW_FILE:
    case RECORD_TEMPORARY: {
        bool existed = GetFileAttributesA(a) != INVALID_FILE_ATTRIBUTES;
        bool deleted = DeleteCreatedFile(a);
        if (existed)
            TellObserver(journal, deleted ? "rollback: file deleted:" : "rollback: file left to the next restart:", a);
        return deleted;
    }
    case RECORD_MOVED_FILE: {
        bool restored = RestoreMovedFile(a, r.Fields[1].c_str());
        TellObserver(journal, restored ? "rollback: file put back:" : "rollback: file put back at the next restart:",
                     a);
        return restored;
    }
    case RECORD_KEY: {
        // RegDeleteKey takes only a key without subkeys: one that somebody
        // else filled meanwhile stays.
        LONG result = RegDeleteKeyA(RootFromLetter(a), r.Fields[1].c_str());
        if (result == ERROR_SUCCESS)
            TellObserver(journal, "rollback: registry key deleted:", RegistryName(r).c_str());
        return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND || result == ERROR_ACCESS_DENIED;
    }
    case RECORD_NEW_VALUE: {
        bool deleted = DeleteValue(RootFromLetter(a), r.Fields[1].c_str(), r.Fields[2].c_str());
        TellObserver(journal, deleted ? "rollback: registry value deleted:" : "rollback: registry value not deleted:",
                     RegistryName(r).c_str());
        return deleted;
    }
    case RECORD_OLD_VALUE: {
        bool restored = RestoreValue(RootFromLetter(a), r.Fields[1].c_str(), r.Fields[2].c_str(),
                                     r.Fields[3].c_str(), r.Fields[4].c_str());
        TellObserver(journal,
                     restored ? "rollback: registry value restored:" : "rollback: registry value not restored:",
                     RegistryName(r).c_str());
        return restored;
    }
    }
    return true;
}

// Finishes a committed run: what was moved aside or written temporarily
// goes, and so does every folder the session made that stayed empty;
// nothing behind a link below a guarded folder.
void TidyCommitted(RunJournal& journal, const TextList& records)
{
    LoadGuards(journal, records);
    ParsedRecord r;
    for (size_t i = 0; i < records.Count(); ++i) {
        if (!ParseRecord(records.At(i), r) || !IsPlausible(r))
            continue;
        const char* gone = r.Kind == RECORD_MOVED_FILE ? r.Fields[1].c_str()
                           : r.Kind == RECORD_TEMPORARY ? r.Fields[0].c_str()
                                                        : nullptr;
        if (gone && !IsBehindLink(journal, gone))
            DeleteCreatedFile(gone);
    }
    for (size_t i = records.Count(); i-- > 0;)
        if (ParseRecord(records.At(i), r) && r.Kind == RECORD_FOLDER && IsPlausible(r) &&
            !IsBehindLink(journal, r.Fields[0].c_str()))
            RemoveDirectoryA(r.Fields[0].c_str());
}

// Reads the journal file of an earlier run into records; false when it is
// not one of ours.
bool ReadJournalFile(HANDLE file, TextList& records)
{
    DWORD size = GetFileSize(file, nullptr);
    if (size == INVALID_FILE_SIZE || size > kMaxJournalSize)
        return false;
    char* data = static_cast<char*>(malloc(size + 1));
    if (!data)
        return false;
    DWORD got = 0;
    bool ok = ReadFile(file, data, size, &got, nullptr) && got == size;
    data[ok ? size : 0] = '\0';
    size_t headerLength = strlen(kJournalHeader);
    ok = ok && strncmp(data, kJournalHeader, headerLength) == 0 && data[headerLength] == '\n';
    if (ok) {
        // Only whole lines: a last line without its newline was torn by
        // the end of the run that wrote it.
        char* line = data + headerLength + 1;
        for (char* end; (end = strchr(line, '\n')) != nullptr; line = end + 1) {
            *end = '\0';
            records.Add(line);
        }
    }
    free(data);
    return ok;
}

HANDLE CreateRunLock(const char* nameSpace, const char* productName)
{
    char name[MAX_PATH];
    CopyBounded(name, sizeof name, nameSpace);
    AppendBounded(name, sizeof name, "Corvane Setup ");
    size_t start = strlen(name);
    AppendBounded(name, sizeof name, productName);
    // A backslash would name another namespace.
    for (char* c = name + start; *c; ++c)
        if (*c == '\\')
            *c = '_';
    return CreateMutexA(nullptr, FALSE, name);
}

} // namespace

RunJournal::RunJournal()
    : Lock(nullptr), File(INVALID_HANDLE_VALUE), FileRefused(false), RunId(0), Asides(0), Observer(nullptr)
{
    InitializeCriticalSection(&Guard);
}

RunJournal::~RunJournal()
{
    DeleteCriticalSection(&Guard);
    if (File != INVALID_HANDLE_VALUE)
        CloseHandle(File);
    if (Lock) {
        ReleaseMutex(Lock);
        CloseHandle(Lock);
    }
}

void TellObserver(const RunJournal& journal, const char* text, const char* detail, const char* more)
{
    if (!journal.Observer)
        return;
    Text event(text);
    const char* parts[] = {detail, more};
    for (const char* part : parts) {
        if (!part)
            continue;
        event.Append(' ');
        event.Append(part);
    }
    journal.Observer(event.c_str());
}

Text RegistryValueName(HKEY root, const char* key, const char* name)
{
    Text text(root == HKEY_CURRENT_USER ? "HKCU\\" : "HKLM\\");
    text.Append(key);
    if (name) {
        text.Append(" [");
        text.Append(name);
        text.Append("]");
    }
    return text;
}

HKEY RootFromLetter(const char* letter)
{
    if (strcmp(letter, "M") == 0)
        return HKEY_LOCAL_MACHINE;
    if (strcmp(letter, "U") == 0)
        return HKEY_CURRENT_USER;
    return nullptr;
}

const char* LetterFromRoot(HKEY root)
{
    if (root == HKEY_LOCAL_MACHINE)
        return "M";
    if (root == HKEY_CURRENT_USER)
        return "U";
    return nullptr;
}

bool AppendRecord(RunJournal& journal, char kind, const char* const* fields, int count, bool flushNow)
{
    Text line;
    line.Append(kind);
    for (int i = 0; i < count; ++i) {
        line.Append('\t');
        AppendEscaped(line, fields[i]);
    }
    EnterCriticalSection(&journal.Guard);
    bool added = journal.Records.Add(line.c_str());
    // The file keeps up with memory; a write that fails leaves the run
    // undoable in memory, which is all a failing disk allows.
    if (added && OpenJournalFile(journal) && WriteLine(journal.File, line.c_str()) &&
        (flushNow || kind == RECORD_COMMITTED))
        FlushFileBuffers(journal.File);
    LeaveCriticalSection(&journal.Guard);
    return added;
}

bool ParseRecord(const char* line, ParsedRecord& out)
{
    out.Count = 0;
    out.Kind = line[0];
    if (out.Kind == '\0' || (line[1] != '\0' && line[1] != '\t'))
        return false;
    const char* p = line + 1;
    while (*p == '\t') {
        if (out.Count == kMaxRecordFields)
            return false;
        Text& field = out.Fields[out.Count++];
        field.Clear();
        for (++p; *p && *p != '\t'; ++p) {
            if (*p == '%') {
                if (!IsHexDigit(p[1]) || !IsHexDigit(p[2]))
                    return false;
                field.Append(static_cast<char>(HexValue(p[1]) * 16 + HexValue(p[2])));
                p += 2;
            } else {
                field.Append(*p);
            }
        }
    }
    return *p == '\0';
}

JournalStart JournalStartSession(RunJournal& journal, const char* productName, JournalRecovery* recovered)
{
    *recovered = JOURNAL_NOTHING_FOUND;
    journal.ProductName = productName;

    // The lock is a named mutex: it goes with the process, however that
    // ends, and a lock left by a killed run is simply taken over. Without
    // the right to a global name the session's own has to do.
    journal.Lock = CreateRunLock("Global\\", productName);
    if (!journal.Lock)
        journal.Lock = CreateRunLock("Local\\", productName);
    if (journal.Lock) {
        DWORD wait = WaitForSingleObject(journal.Lock, 0);
        if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
            CloseHandle(journal.Lock);
            journal.Lock = nullptr;
            return JOURNAL_BUSY;
        }
    }

    char path[MAX_PATH];
    if (!JournalPath(productName, false, path, sizeof path))
        return JOURNAL_STARTED;
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return JOURNAL_STARTED;
    // A journal that is not administrators-only was put there by somebody
    // else before the folder was ours: it is deleted unread.
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) || !IsAdminOnly(path)) {
        DeleteFileA(path);
        return JOURNAL_STARTED;
    }
    HANDLE file = CreateFileA(path, GENERIC_READ | DELETE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return JOURNAL_STARTED;
    TextList records;
    bool ours = ReadJournalFile(file, records);
    CloseHandle(file);
    if (ours && records.Count() > 0) {
        bool committed = false;
        for (size_t i = 0; i < records.Count(); ++i)
            committed = committed || records.At(i)[0] == RECORD_COMMITTED;
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
    DeleteFileA(path);
    return JOURNAL_STARTED;
}

void JournalEndSession(RunJournal& journal)
{
    // Rolling back empties the journal, and an empty journal is no file;
    // nor is an empty folder for it kept.
    JournalRollBack(journal, false);
    if (!journal.ProductName.empty())
        RemoveEmptyProductAdminFolder(journal.ProductName.c_str());
    if (journal.Lock) {
        ReleaseMutex(journal.Lock);
        CloseHandle(journal.Lock);
        journal.Lock = nullptr;
    }
}

bool JournalHasRunChanges(const RunJournal& journal)
{
    for (size_t i = 0; i < journal.Records.Count(); ++i)
        if (journal.Records.At(i)[0] != RECORD_FOLDER && journal.Records.At(i)[0] != RECORD_GUARDED)
            return true;
    return false;
}

int JournalRollBack(RunJournal& journal, bool keepFolders)
{
    int failures = 0;
    ParsedRecord r;
    TextList kept;
    LoadGuards(journal, journal.Records);
    if (JournalHasRunChanges(journal) || (!keepFolders && journal.Records.Count() > 0))
        TellObserver(journal, "rollback: undoing the changes of the run, last first");
    for (size_t i = journal.Records.Count(); i-- > 0;) {
        const char* record = journal.Records.At(i);
        if (!ParseRecord(record, r))
            continue;
        if (!UndoRecord(journal, r, keepFolders))
            ++failures;
    }
    // The session's folders, and the guards over them, outlive the run.
    if (keepFolders) {
        for (size_t i = 0; i < journal.Records.Count(); ++i)
            if (journal.Records.At(i)[0] == RECORD_FOLDER || journal.Records.At(i)[0] == RECORD_GUARDED)
                kept.Add(journal.Records.At(i));
    }
    journal.Records.Clear();
    for (size_t i = 0; i < kept.Count(); ++i)
        journal.Records.Add(kept.At(i));
    RewriteJournalFile(journal);
    return failures;
}

void JournalCommit(RunJournal& journal)
{
    // Once this record is on the disk the run counts as done: a recovery
    // finishes the tidying below instead of undoing the run.
    AppendRecord(journal, RECORD_COMMITTED, nullptr, 0, true);
    TellObserver(journal, "run committed: the files kept aside for a rollback are deleted");
    TidyCommitted(journal, journal.Records);
    journal.Records.Clear();
    RewriteJournalFile(journal);
}
