// The changes a run makes, each recorded in the journal before it is made:
// folders created, files created or moved aside within their folder,
// temporary files, registry keys and values. Moving aside is a rename, not
// a copy: fast, byte-identical with its attributes and times, and possible
// for a file in use when the folder allows it.
#include "rollback/records.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// The registry value data of a V record is written as hex; larger values
// are not ours.
const DWORD kMaxRecordedValue = 64 * 1024;

// "<folder>\~RB<run><n>.tmp" beside path: the run's aside names are
// unique within it and unlikely to meet anything else's. False when it
// does not fit a path.
bool MakeAsideName(RunJournal& journal, const char* path, char* aside, size_t size)
{
    const char* slash = strrchr(path, '\\');
    if (!slash)
        return false;
    if (journal.RunId == 0)
        journal.RunId = RandomNumber() | 1;
    char name[40];
    snprintf(name, sizeof name, "~RB%08lX%04lX.tmp", static_cast<unsigned long>(journal.RunId),
             journal.Asides++);
    size_t folderLength = static_cast<size_t>(slash - path) + 1;
    if (folderLength >= size)
        return false;
    memcpy(aside, path, folderLength);
    aside[folderLength] = '\0';
    return AppendBounded(aside, size, name);
}

// Records and performs the rename of an existing file to an aside name.
// The record is on the disk before the rename: after a power cut the
// file is found again under its aside name.
bool MoveAside(RunJournal& journal, const char* path)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        char aside[MAX_PATH];
        if (!MakeAsideName(journal, path, aside, sizeof aside)) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return false;
        }
        const char* fields[] = {path, aside};
        AppendRecord(journal, RECORD_MOVED_FILE, fields, 2, true);
        if (MoveFileExA(path, aside, 0)) {
            TellObserver(journal, "file moved aside until the run succeeds:", path, aside);
            return true;
        }
        // Somebody took the aside name: try the next one. Anything else
        // (in use, access denied) is the caller's to report.
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    return false;
}

void AppendHex(Text& text, const unsigned char* data, DWORD size)
{
    static const char kHex[] = "0123456789ABCDEF";
    for (DWORD i = 0; i < size; ++i) {
        text.Append(kHex[data[i] >> 4]);
        text.Append(kHex[data[i] & 15]);
    }
}

// Records the present state of one value: its old data (V, flushed when
// asked) or its absence (A).
void RecordValueState(RunJournal& journal, HKEY key, const char* letter, const char* keyPath, const char* name,
                      bool flushNow)
{
    DWORD type = 0, size = 0;
    LONG result = key ? RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) : ERROR_FILE_NOT_FOUND;
    if (result != ERROR_SUCCESS || size > kMaxRecordedValue) {
        const char* fields[] = {letter, keyPath, name};
        AppendRecord(journal, RECORD_NEW_VALUE, fields, 3, false);
        return;
    }
    unsigned char* data = static_cast<unsigned char*>(malloc(size + 1));
    if (!data)
        return;
    if (RegQueryValueExA(key, name, nullptr, &type, data, &size) == ERROR_SUCCESS) {
        char typeText[16];
        snprintf(typeText, sizeof typeText, "%lu", static_cast<unsigned long>(type));
        Text hex;
        AppendHex(hex, data, size);
        const char* fields[] = {letter, keyPath, name, typeText, hex.c_str()};
        AppendRecord(journal, RECORD_OLD_VALUE, fields, 5, flushNow);
    }
    free(data);
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
        snprintf(number, sizeof number, "%lu (a number)", static_cast<unsigned long>(n));
        text.Append(number);
    } else {
        snprintf(number, sizeof number, "(%lu bytes)", static_cast<unsigned long>(size));
        text.Append(number);
    }
    return text;
}

bool KeyExists(HKEY root, const char* keyPath)
{
    HKEY key;
    if (RegOpenKeyExA(root, keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// The length of root (without a trailing backslash) when path lies below
// it, else 0.
size_t BelowFolder(const char* path, const char* root)
{
    size_t n = strlen(root);
    while (n > 0 && root[n - 1] == '\\')
        --n;
    if (n == 0 || _strnicmp(path, root, n) != 0 || path[n] != '\\' || path[n + 1] == '\0')
        return 0;
    return n;
}

// Refuses a change that would go through a link below a guarded folder.
bool RefuseLink(RunJournal& journal, const char* path)
{
    if (!IsBehindLink(journal, path))
        return false;
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return true;
}

} // namespace

bool IsVolumeRoot(const char* path)
{
    size_t n = strlen(path);
    if (n <= 3)
        return true;
    if (path[0] == '\\' && path[1] == '\\') {
        // \\server\share with at most a trailing backslash after it.
        const char* server = strchr(path + 2, '\\');
        if (!server)
            return true;
        const char* share = strchr(server + 1, '\\');
        return !share || share[1] == '\0';
    }
    return false;
}

bool CrossesLinkBelow(const char* path, const char* root)
{
    size_t n = BelowFolder(path, root);
    if (n == 0)
        return false;
    char part[MAX_PATH];
    if (!CopyBounded(part, sizeof part, path))
        return true; // too long to look at: not to be gone through either
    size_t length = strlen(part);
    for (size_t i = n + 1; i <= length; ++i) {
        if (part[i] != '\\' && part[i] != '\0')
            continue;
        char saved = part[i];
        part[i] = '\0';
        DWORD attributes = GetFileAttributesA(part);
        part[i] = saved;
        // What does not exist hides no link, and nothing exists below it.
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return false;
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            return true;
    }
    return false;
}

void JournalGuardFolder(RunJournal& journal, const char* folder)
{
    for (size_t i = 0; i < journal.Guarded.Count(); ++i)
        if (lstrcmpiA(journal.Guarded.At(i), folder) == 0)
            return;
    journal.Guarded.Add(folder);
    const char* fields[] = {folder};
    AppendRecord(journal, RECORD_GUARDED, fields, 1, false);
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

bool IsPlainFullPath(const char* path)
{
    size_t n = strlen(path);
    if (n == 0 || n >= MAX_PATH || IsVolumeRoot(path))
        return false;
    const char* rest;
    if (((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) && path[1] == ':' &&
        path[2] == '\\') {
        rest = path + 3;
    } else if (path[0] == '\\' && path[1] == '\\' && path[2] != '\\') {
        rest = path + 2;
    } else {
        return false;
    }
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(rest); *c; ++c)
        if (*c < 0x20 || strchr("/*?\"<>|:", *c))
            return false;
    // Every part must be a real name: no empty part (but a trailing
    // backslash), no "." or "..", none ending in a dot or blank.
    const char* part = rest;
    while (*part) {
        const char* end = strchr(part, '\\');
        size_t length = end ? static_cast<size_t>(end - part) : strlen(part);
        if (length == 0)
            return false;
        if (part[length - 1] == '.' || part[length - 1] == ' ')
            return false;
        if (!end)
            break;
        part = end + 1;
    }
    return true;
}

DWORD RandomNumber()
{
    typedef BOOLEAN(WINAPI * RandomFunction)(PVOID, ULONG);
    HMODULE advapi = GetModuleHandleA("advapi32.dll");
    RandomFunction random =
        advapi ? reinterpret_cast<RandomFunction>(reinterpret_cast<void*>(GetProcAddress(advapi, "SystemFunction036")))
               : nullptr;
    DWORD value = 0;
    if (random && random(&value, sizeof value))
        return value;
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.LowPart ^ (GetCurrentProcessId() << 16) ^ GetTickCount();
}

void RecordCreatedFolder(RunJournal& journal, const char* folder)
{
    const char* fields[] = {folder};
    AppendRecord(journal, RECORD_FOLDER, fields, 1, false);
}

bool RecordedCreateFolder(RunJournal& journal, const char* folder)
{
    if (RefuseLink(journal, folder))
        return false;
    DWORD attributes = GetFileAttributesA(folder);
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const char* fields[] = {folder};
    AppendRecord(journal, RECORD_FOLDER, fields, 1, false);
    if (CreateDirectoryA(folder, nullptr)) {
        TellObserver(journal, "folder created:", folder);
        return true;
    }
    return GetLastError() == ERROR_ALREADY_EXISTS;
}

bool PrepareFileForWriting(RunJournal& journal, const char* path, bool replaceReadOnly)
{
    if (RefuseLink(journal, path))
        return false;
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const char* fields[] = {path};
        AppendRecord(journal, RECORD_NEW_FILE, fields, 1, false);
        TellObserver(journal, "new file:", path);
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

void PutBackFile(RunJournal& journal, const char* path)
{
    ParsedRecord r;
    for (size_t i = journal.Records.Count(); i-- > 0;) {
        if (!ParseRecord(journal.Records.At(i), r) || r.Count < 1 || lstrcmpiA(r.Fields[0].c_str(), path) != 0)
            continue;
        if (r.Kind == RECORD_MOVED_FILE && GetFileAttributesA(r.Fields[1].c_str()) != INVALID_FILE_ATTRIBUTES) {
            // Whatever the failed write left goes; the original returns.
            DWORD attributes = GetFileAttributesA(path);
            if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path);
            }
            MoveFileExA(r.Fields[1].c_str(), path, 0);
        }
        if (r.Kind == RECORD_MOVED_FILE || r.Kind == RECORD_NEW_FILE) {
            TellObserver(journal, "not written, the earlier state is back:", path);
            return;
        }
    }
}

bool MoveFileAsideForDeletion(RunJournal& journal, const char* path)
{
    if (RefuseLink(journal, path))
        return false;
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return false;
    return MoveAside(journal, path);
}

void RecordTemporaryFile(RunJournal& journal, const char* path)
{
    const char* fields[] = {path};
    AppendRecord(journal, RECORD_TEMPORARY, fields, 1, false);
    TellObserver(journal, "temporary file:", path);
}

bool RecordedSetRegistryValue(RunJournal& journal, HKEY root, const char* keyPath, const char* name, DWORD type,
                              const void* data, DWORD size)
{
    const char* letter = LetterFromRoot(root);
    char prefix[MAX_PATH];
    if (!letter || !CopyBounded(prefix, sizeof prefix, keyPath))
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
    if (RegCreateKeyExA(root, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE | KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    RecordValueState(journal, key, letter, keyPath, name, true);
    LONG result = RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    if (journal.Observer)
        TellObserver(journal, result == ERROR_SUCCESS ? "registry value:" : "registry value NOT stored:",
                     DescribeValue(root, keyPath, name, type, data, size).c_str());
    return result == ERROR_SUCCESS;
}

void RecordedDeleteRegistryValues(RunJournal& journal, HKEY root, const char* keyPath, const char* prefix)
{
    const char* letter = LetterFromRoot(root);
    HKEY key;
    if (!letter || RegOpenKeyExA(root, keyPath, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    // Names first: deleting while enumerating would skip values.
    TextList names;
    size_t prefixLength = strlen(prefix);
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD length = sizeof name;
        LONG result = RegEnumValueA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_MORE_DATA)
            continue; // a name longer than any of ours
        if (result != ERROR_SUCCESS)
            break;
        if (_strnicmp(name, prefix, prefixLength) == 0)
            names.Add(name);
    }
    for (size_t i = 0; i < names.Count(); ++i)
        RecordValueState(journal, key, letter, keyPath, names.At(i), i + 1 == names.Count());
    for (size_t i = 0; i < names.Count(); ++i) {
        RegDeleteValueA(key, names.At(i));
        if (journal.Observer)
            TellObserver(journal, "registry value deleted:", RegistryValueName(root, keyPath, names.At(i)).c_str());
    }
    RegCloseKey(key);
}
