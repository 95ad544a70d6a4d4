// The journal of a session: its records in memory and on disk, the run
// lock that keeps two runs of one product apart, the folders guarded
// against links, and the registry's changes of a run, each recorded
// before it is made (the files' are in recorded_files.cpp).
#include "rollback/journal.h"
#include "rollback/admin_folder.h"
#include "rollback/cut_points.h"
#include "rollback/file_changes.h"
#include "rollback/verified_files.h"
#include "setup/wide.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char kJournalName[] = "setup.journal";
// The registry value data of a V record is written as hex; larger values
// are not ours.
// The largest value data a record holds (as hex, twice as long); a value
// larger than this is never changed, since a rollback could not give it
// back. Windows advises keeping values far smaller.
const DWORD kMaxRecordedValue = 1024 * 1024;
// The longest value name the registry allows, with its terminator.
const DWORD kMaxValueName = 16384;

bool WriteAll(HANDLE file, const char* data, size_t size)
{
    DWORD written = 0;
    return WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

bool WriteLine(HANDLE file, const char* line)
{
    return WriteAll(file, line, strlen(line)) && WriteAll(file, "\n", 1);
}

// Opens the journal file on the first record of a session and writes
// every record held so far into it (opened is set then). Without a
// trusted folder for it the journal stays in memory: the run can still be
// undone while the program lives, only not after it was killed.
bool OpenJournalFile(RunJournal& journal, bool* opened)
{
    *opened = false;
    if (journal.File != INVALID_HANDLE_VALUE)
        return true;
    if (journal.FileRefused || journal.ProductName.empty())
        return false;
    char path[kPathBytes];
    if (!JournalPath(journal.MakerName.c_str(), journal.ProductName.c_str(), true, path, sizeof path)) {
        journal.FileRefused = true;
        return false;
    }
    // Held without sharing: nobody writes, renames or deletes it while
    // the session runs. Its own descriptor is administrators-only too,
    // whatever the token's default owner.
    SECURITY_ATTRIBUTES security = {sizeof security, NewAdminOnlyDescriptor(), FALSE};
    journal.File = CreateFileU(path, GENERIC_READ | GENERIC_WRITE | DELETE, 0, &security, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    LocalFree(security.lpSecurityDescriptor);
    if (journal.File == INVALID_HANDLE_VALUE) {
        journal.FileRefused = true;
        return false;
    }
    TellObserver(journal, "the run's journal:", path);
    RewriteJournalFile(journal);
    *opened = true;
    return true;
}

// The records written so far are on the disk: a cut of the tests drops
// nothing before this point.
void FlushJournalFile(RunJournal& journal)
{
    FlushFileBuffers(journal.File);
    journal.Unflushed = false;
    NoteDurableJournal(journal.File);
}

// Records the present state of one value: its old data (V) or its
// absence (A). The caller makes it durable before the change. False, with
// nothing recorded, for a value that is there but cannot be recorded (too
// large, or gone meanwhile): it must not be changed.
bool RecordValueState(RunJournal& journal, HKEY key, const char* letter, const char* keyPath, const char* name)
{
    DWORD type = 0, size = 0;
    LONG result = key ? RegQueryStoredValue(key, name, &type, nullptr, &size) : ERROR_FILE_NOT_FOUND;
    if (result == ERROR_FILE_NOT_FOUND) {
        const char* fields[] = {letter, keyPath, name};
        AppendRecord(journal, RECORD_NEW_VALUE, fields, 3, false);
        return true;
    }
    if ((result != ERROR_SUCCESS && result != ERROR_MORE_DATA) || size > kMaxRecordedValue) {
        TellObserver(journal, "registry value left as it is, too large to be given back:",
                     RegistryValueName(RootFromLetter(letter), keyPath, name).c_str());
        return false;
    }
    unsigned char* data = static_cast<unsigned char*>(malloc(size + 1));
    if (!data)
        return false;
    bool recorded = false;
    if (RegQueryStoredValue(key, name, &type, data, &size) == ERROR_SUCCESS) {
        char typeText[16];
        FormatText(typeText, sizeof typeText, "%lu", static_cast<unsigned long>(type));
        Text hex;
        AppendHex(hex, data, size);
        const char* fields[] = {letter, keyPath, name, typeText, hex.c_str()};
        recorded = AppendRecord(journal, RECORD_OLD_VALUE, fields, 5, false);
    }
    free(data);
    return recorded;
}

// "HKLM\key [name] = data" for the observer: texts as they are, numbers
// in decimal, anything else by its size.
Text DescribeValue(HKEY root, const char* keyPath, const char* name, DWORD type, const void* data, DWORD size)
{
    Text text = RegistryValueName(root, keyPath, name);
    text.Append(" = ");
    char number[32];
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        Text value;
        value.Assign(static_cast<const char*>(data), size);
        text.Append(value.c_str());
    } else if (type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD n;
        memcpy(&n, data, sizeof n);
        FormatText(number, sizeof number, "%lu (a number)", static_cast<unsigned long>(n));
        text.Append(number);
    } else {
        FormatText(number, sizeof number, "(%lu bytes)", static_cast<unsigned long>(size));
        text.Append(number);
    }
    return text;
}

// "<namespace><maker> Setup <product>[ for <SID>]<what>": one lock per
// product of a maker, and the marker of a removal's copy at work beside it.
bool RunLockName(const char* nameSpace, const char* makerName, const char* productName, const char* what,
                 char* name, size_t size)
{
    CopyBounded(name, size, nameSpace);
    size_t start = strlen(name);
    bool fits = AppendBounded(name, size, makerName) && AppendBounded(name, size, " Setup ") &&
                AppendBounded(name, size, productName) && AppendBounded(name, size, ScopeRunLockSuffix()) &&
                AppendBounded(name, size, what);
    // A backslash would name another namespace.
    for (char* c = name + start; *c; ++c)
        if (*c == '\\')
            *c = '_';
    return fits;
}

HANDLE CreateRunLock(const char* nameSpace, const char* makerName, const char* productName)
{
    char name[kPathBytes];
    RunLockName(nameSpace, makerName, productName, "", name, sizeof name);
    return CreateScopeMutex(name);
}

const char kFinishing[] = " finishing";
const char* const kLockSpaces[] = {"Global\\", "Local\\"};
// How long a session waits for a removal's copy that holds the run lock:
// the copy waits for its uninstaller's end (a minute at most) and for the
// system to let go of the program's file before it finishes the journal.
const DWORD kFinishingWaitMs = 3 * 60 * 1000;

bool FinishingMarkerExists(const char* makerName, const char* productName)
{
    for (const char* space : kLockSpaces) {
        char name[kPathBytes];
        if (!RunLockName(space, makerName, productName, kFinishing, name, sizeof name))
            continue;
        HANDLE marker = OpenMutexU(SYNCHRONIZE, FALSE, name);
        if (marker) {
            CloseHandle(marker);
            return true;
        }
    }
    return false;
}

} // namespace

// Refuses a change that would go through a link below a guarded folder,
// or that a per-user installation may not make (a machine-wide folder).
bool RefuseLink(RunJournal& journal, const char* path)
{
    if (!IsPathOfScope(path)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return true;
    }
    if (!IsBehindLink(journal, path))
        return false;
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return true;
}

RunJournal SessionJournal;

HANDLE HoldFinishingMarker(const char* makerName, const char* productName)
{
    for (const char* space : kLockSpaces) {
        char name[kPathBytes];
        if (!RunLockName(space, makerName, productName, kFinishing, name, sizeof name))
            continue;
        HANDLE marker = CreateScopeMutex(name);
        if (marker)
            return marker;
    }
    return nullptr;
}

void ReleaseFinishingMarker(HANDLE marker)
{
    if (marker)
        CloseHandle(marker);
}

void ReleaseKeptAsides(RunJournal& journal)
{
    for (unsigned long i = 0; i < journal.KeptCount; ++i)
        if (journal.KeptAsides[i])
            CloseHandle(journal.KeptAsides[i]);
    free(journal.KeptAsides);
    journal.KeptAsides = nullptr;
    journal.KeptCount = 0;
}

RunJournal::RunJournal()
    : Lock(nullptr), File(INVALID_HANDLE_VALUE), Unflushed(false), FileRefused(false), Finishing(false), RunId(0),
      Asides(0), KeptAsides(nullptr), KeptCount(0),
      Observer(nullptr)
{
    InitializeCriticalSection(&Guard);
}

RunJournal::~RunJournal()
{
    ReleaseKeptAsides(*this);
    DeleteCriticalSection(&Guard);
    CloseJournalFile(*this);
    if (Lock) {
        ReleaseMutex(Lock);
        CloseHandle(Lock);
    }
}

bool JournalPath(const char* makerName, const char* productName, bool makeFolder, char* path, size_t size)
{
    char folder[kPathBytes];
    bool found = makeFolder ? GetProductAdminFolder(makerName, productName, folder, sizeof folder)
                            : FindProductAdminFolder(makerName, productName, folder, sizeof folder);
    return found && CopyBounded(path, size, folder) && AppendBounded(path, size, "\\") &&
           AppendBounded(path, size, kJournalName);
}

void RewriteJournalFile(RunJournal& journal)
{
    if (journal.File == INVALID_HANDLE_VALUE)
        return;
    if (journal.Records.Count() == 0) {
        CloseJournalFile(journal);
        char path[kPathBytes];
        if (JournalPath(journal.MakerName.c_str(), journal.ProductName.c_str(), false, path, sizeof path))
            DeleteFileU(path);
        return;
    }
    SetFilePointer(journal.File, 0, nullptr, FILE_BEGIN);
    SetEndOfFile(journal.File);
    WriteLine(journal.File, JournalHeader(journal.MakerName.c_str()).c_str());
    for (size_t i = 0; i < journal.Records.Count(); ++i)
        WriteLine(journal.File, journal.Records.At(i));
    FlushJournalFile(journal);
    PassCutPoint();
}

void CloseJournalFile(RunJournal& journal)
{
    if (journal.File == INVALID_HANDLE_VALUE)
        return;
    NoteDurableJournal(INVALID_HANDLE_VALUE);
    CloseHandle(journal.File);
    journal.File = INVALID_HANDLE_VALUE;
    journal.Unflushed = false;
}

void MakeRecordsDurable(RunJournal& journal)
{
    EnterCriticalSection(&journal.Guard);
    if (journal.Unflushed && journal.File != INVALID_HANDLE_VALUE)
        FlushJournalFile(journal);
    LeaveCriticalSection(&journal.Guard);
}

Text JournalHeader(const char* makerName)
{
    Text header(makerName);
    header.Append(" SETUP JOURNAL 2");
    char upper[kPathBytes];
    CopyBounded(upper, sizeof upper, header.c_str());
    for (char* c = upper; *c; ++c)
        if (*c >= 'a' && *c <= 'z')
            *c = static_cast<char>(*c - 'a' + 'A');
    return Text(upper);
}

bool TakeRunLock(RunJournal& journal)
{
    // The lock is a named mutex: it goes with the process, however that
    // ends, and a lock left by a killed run is simply taken over. Without
    // the right to a global name the session's own has to do.
    const char* maker = journal.MakerName.c_str();
    const char* product = journal.ProductName.c_str();
    const char* space = "Global\\";
    journal.Lock = CreateRunLock(space, maker, product);
    if (!journal.Lock) {
        space = "Local\\";
        journal.Lock = CreateRunLock(space, maker, product);
    }
    if (journal.Observer) {
        Text name(space);
        name.Append(maker);
        name.Append(" Setup ");
        name.Append(product);
        name.Append(ScopeRunLockSuffix());
        TellObserver(journal, "the product's run lock:", name.c_str());
    }
    if (!journal.Lock)
        return true;
    DWORD wait = WaitForSingleObject(journal.Lock, 0);
    // A removal's copy finishing the removal holds the lock for a moment:
    // it is waited for, not reported as another run.
    if (wait == WAIT_TIMEOUT && !journal.Finishing && FinishingMarkerExists(maker, product)) {
        TellObserver(journal, "waiting for the removal that is finishing");
        wait = WaitForSingleObject(journal.Lock, kFinishingWaitMs);
    }
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED)
        return true;
    CloseHandle(journal.Lock);
    journal.Lock = nullptr;
    return false;
}

void ReleaseRunLock(RunJournal& journal)
{
    if (!journal.Lock)
        return;
    ReleaseMutex(journal.Lock);
    CloseHandle(journal.Lock);
    journal.Lock = nullptr;
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

bool AppendRecord(RunJournal& journal, char kind, const char* const* fields, int count, bool flushNow)
{
    Text line = FormatRecord(kind, fields, count);
    EnterCriticalSection(&journal.Guard);
    bool added = journal.Records.Add(line.c_str());
    // The file keeps up with memory (a file opened now holds the record
    // already); a write that fails leaves the run undoable in memory,
    // which is all a failing disk allows.
    bool opened = false;
    if (added && OpenJournalFile(journal, &opened) && !opened && WriteLine(journal.File, line.c_str())) {
        journal.Unflushed = true;
        if (flushNow || kind == RECORD_COMMITTED)
            FlushJournalFile(journal);
    }
    LeaveCriticalSection(&journal.Guard);
    PassCutPoint(CUT_AFTER_RECORD);
    return added;
}

bool JournalHasRunChanges(const RunJournal& journal)
{
    for (size_t i = 0; i < journal.Records.Count(); ++i)
        if (journal.Records.At(i)[0] != RECORD_FOLDER && journal.Records.At(i)[0] != RECORD_GUARDED &&
            journal.Records.At(i)[0] != RECORD_GUARD_IDENTITY)
            return true;
    return false;
}

void JournalGuardFolder(RunJournal& journal, const char* given)
{
    // Without a trailing backslash (a volume's root keeps it), as the
    // folders the run creates are named.
    char folder[kPathBytes];
    if (!CopyBounded(folder, sizeof folder, given))
        return;
    for (size_t n = strlen(folder); n > 3 && folder[n - 1] == '\\'; --n)
        folder[n - 1] = '\0';
    for (size_t i = 0; i < journal.Guarded.Count(); ++i)
        if (SameTextNoCase(journal.Guarded.At(i), folder))
            return;
    journal.Guarded.Folders.Add(folder);
    const char* fields[] = {folder};
    AppendRecord(journal, RECORD_GUARDED, fields, 1, false);
    LearnGuardedFolder(journal, folder);
}

void LearnGuardedFolder(RunJournal& journal, const char* folder)
{
    GuardedFolders& guarded = journal.Guarded;
    for (size_t i = 0; i < guarded.Count() && i < GuardedFolders::kMostKnown; ++i) {
        if (!SameTextNoCase(guarded.At(i), folder))
            continue;
        AcquireSRWLockShared(&guarded.FinalsLock);
        bool known = guarded.Finals[i].c_str()[0] != '\0';
        ReleaseSRWLockShared(&guarded.FinalsLock);
        if (known)
            continue;
        // Links followed: the folder as it is now, whatever leads to it.
        HANDLE handle = CreateFileU(folder, FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return;
        char final[kPathBytes];
        bool named = FinalPathOfHandle(handle, final, sizeof final) && IsPlainFullPath(final);
        CloseHandle(handle);
        if (!named)
            return;
        AcquireSRWLockExclusive(&guarded.FinalsLock);
        guarded.Finals[i] = final;
        ReleaseSRWLockExclusive(&guarded.FinalsLock);
        const char* fields[] = {folder, final};
        AppendRecord(journal, RECORD_GUARD_IDENTITY, fields, 2, false);
        return;
    }
}

bool IsBehindLink(RunJournal& journal, const char* path)
{
    // Every part is looked at each time: a link may be put in place while
    // the run goes on, or between the run and its undoing.
    for (size_t i = 0; i < journal.Guarded.Count(); ++i)
        if (CrossesLinkBelow(path, journal.Guarded.At(i)))
            return true;
    return false;
}

bool RecordedSetRegistryValue(RunJournal& journal, HKEY root, const char* keyPath, const char* name, DWORD type,
                              const void* data, DWORD size)
{
    const char* letter = LetterFromRoot(root);
    char prefix[kPathBytes];
    if (!letter || !IsRootOfScope(root) || !CopyBounded(prefix, sizeof prefix, keyPath))
        return false;
    // The key's missing levels, outermost first: a rollback deletes them
    // innermost first. Most values go into a key that is there already.
    if (!KeyExists(root, keyPath)) {
        bool missing = false;
        size_t length = strlen(prefix);
        for (size_t i = 1; i <= length; ++i) {
            if (prefix[i] != '\\' && prefix[i] != '\0')
                continue;
            char saved = prefix[i];
            prefix[i] = '\0';
            if (missing || !KeyExists(root, prefix)) {
                missing = true;
                const char* fields[] = {letter, prefix};
                AppendRecord(journal, RECORD_KEY, fields, 2, false);
            }
            prefix[i] = saved;
        }
    }

    HKEY key = nullptr;
    MakeRecordsDurable(journal);
    if (RegCreateKeyExU(root, keyPath, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return false;
    PassCutPoint();
    if (!RecordValueState(journal, key, letter, keyPath, name)) {
        RegCloseKey(key);
        return false;
    }
    MakeRecordsDurable(journal);
    LONG result = RegSetValueExU(key, name, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    PassCutPoint();
    if (journal.Observer)
        TellObserver(journal, result == ERROR_SUCCESS ? "registry value:" : "registry value NOT stored:",
                     DescribeValue(root, keyPath, name, type, data, size).c_str());
    return result == ERROR_SUCCESS;
}

bool RecordedDeleteRegistryValues(RunJournal& journal, HKEY root, const char* keyPath, const char* prefix)
{
    const char* letter = LetterFromRoot(root);
    HKEY key;
    LONG opened = letter && IsRootOfScope(root)
                      ? RegOpenKeyExU(root, keyPath, KEY_QUERY_VALUE | KEY_SET_VALUE, &key)
                      : ERROR_ACCESS_DENIED;
    if (opened != ERROR_SUCCESS)
        return opened == ERROR_FILE_NOT_FOUND;
    // Names first: deleting while enumerating would skip values. Names of
    // any length the registry allows: one left out would go unrecorded
    // with its key.
    TextList names;
    size_t prefixLength = strlen(prefix);
    char* name = static_cast<char*>(malloc(kMaxValueName));
    bool all = name != nullptr;
    for (DWORD i = 0; name; ++i) {
        DWORD length = kMaxValueName;
        LONG result = RegEnumValueU(key, i, name, &length);
        if (result != ERROR_SUCCESS) {
            all = all && result == ERROR_NO_MORE_ITEMS;
            break;
        }
        if (_strnicmp(name, prefix, prefixLength) == 0)
            names.Add(name);
    }
    free(name);
    TextList recorded;
    for (size_t i = 0; i < names.Count(); ++i) {
        if (RecordValueState(journal, key, letter, keyPath, names.At(i)))
            recorded.Add(names.At(i));
        else
            all = false;
    }
    MakeRecordsDurable(journal);
    for (size_t i = 0; i < recorded.Count(); ++i) {
        const char* name = recorded.At(i);
        RegDeleteValueU(key, name);
        PassCutPoint();
        if (journal.Observer)
            TellObserver(journal, "registry value deleted:", RegistryValueName(root, keyPath, name).c_str());
    }
    RegCloseKey(key);
    return all;
}

bool RecordedDeleteRegistryValue(RunJournal& journal, HKEY root, const char* keyPath, const char* name)
{
    const char* letter = LetterFromRoot(root);
    HKEY key;
    LONG opened = letter && IsRootOfScope(root)
                      ? RegOpenKeyExU(root, keyPath, KEY_QUERY_VALUE | KEY_SET_VALUE, &key)
                      : ERROR_ACCESS_DENIED;
    if (opened != ERROR_SUCCESS)
        return opened == ERROR_FILE_NOT_FOUND;
    DWORD size = 0;
    bool gone = RegQueryStoredValue(key, name, nullptr, nullptr, &size) == ERROR_FILE_NOT_FOUND;
    if (!gone && RecordValueState(journal, key, letter, keyPath, name)) {
        MakeRecordsDurable(journal);
        gone = RegDeleteValueU(key, name) == ERROR_SUCCESS;
        PassCutPoint();
        if (gone && journal.Observer)
            TellObserver(journal, "registry value deleted:", RegistryValueName(root, keyPath, name).c_str());
    }
    RegCloseKey(key);
    return gone;
}

bool RecordedDeleteRegistryTree(RunJournal& journal, HKEY root, const char* keyPath)
{
    const char* letter = LetterFromRoot(root);
    HKEY key;
    LONG result = letter ? RegOpenKeyExU(root, keyPath, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, &key)
                         : ERROR_INVALID_PARAMETER;
    if (result == ERROR_FILE_NOT_FOUND)
        return true;
    if (result != ERROR_SUCCESS)
        return false;
    // The subkeys first, each whole, then this key's values and the key.
    TextList children;
    for (DWORD i = 0;; ++i) {
        char name[3 * 256];
        DWORD length = sizeof name;
        if (RegEnumKeyExU(key, i, name, &length) != ERROR_SUCCESS)
            break;
        Text child(keyPath);
        child.Append('\\');
        child.Append(name);
        children.Add(child.c_str());
    }
    RegCloseKey(key);
    for (size_t i = 0; i < children.Count(); ++i)
        if (!RecordedDeleteRegistryTree(journal, root, children.At(i)))
            return false;
    // A value that could not be recorded keeps its key.
    if (!RecordedDeleteRegistryValues(journal, root, keyPath, ""))
        return false;
    // Its existence too: a rollback makes it again, empty or not.
    const char* fields[] = {letter, keyPath};
    AppendRecord(journal, RECORD_DELETED_KEY, fields, 2, false);
    MakeRecordsDurable(journal);
    result = RegDeleteKeyU(root, keyPath);
    PassCutPoint();
    if (journal.Observer && result == ERROR_SUCCESS)
        TellObserver(journal, "registry key deleted:", RegistryValueName(root, keyPath, nullptr).c_str());
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}
