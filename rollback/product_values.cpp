// The product's own registry values as the settings file keeps them for
// the removal: one record a value, in the journal's escaped record form
// ("P", root letter, key, name, "remove" or "removekey" with ":hex" of
// the data written when the value goes only while it holds that, and
// "type:hex" of the value that was there before the product, or "-"),
// and the
// giving back of such a value through a journal; and the product's
// folders on the PATH. Shared by the setup (an upgrade that drops a value
// or a folder) and the uninstaller.
#include "rollback/rollback.h"

#include "rollback/file_changes.h"
#include "rollback/records.h"
#include "setup/wide.h"

#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char kRecordKind = 'P';
// Earlier data kept for the removal: a setting, not a document.
const DWORD kMostEarlierBytes = 1024;
// The longest line of the [registry] section: the key, the name and the
// earlier data escaped.
const DWORD kMostRecordBytes = 8192;

const char kMachineEnvironment[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
const char kUserEnvironment[] = "Environment";

HKEY PathRoot() { return CurrentInstallScope() == SCOPE_USER ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }
const char* PathKey() { return CurrentInstallScope() == SCOPE_USER ? kUserEnvironment : kMachineEnvironment; }

// The PATH value as the program's text (no terminator counted) and its
// type; empty and REG_EXPAND_SZ when there is none. False when it is there
// but cannot be read.
bool ReadPath(Text& path, DWORD* type)
{
    path.Clear();
    *type = REG_EXPAND_SZ;
    HKEY key;
    if (RegOpenKeyExU(PathRoot(), PathKey(), KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return true;
    DWORD size = 0;
    LONG result = RegQueryValueExU(key, "Path", type, nullptr, &size);
    if (result == ERROR_FILE_NOT_FOUND) {
        *type = REG_EXPAND_SZ;
        RegCloseKey(key);
        return true;
    }
    char* data = result == ERROR_SUCCESS ? static_cast<char*>(malloc(size + 1)) : nullptr;
    bool read = data && RegQueryValueExU(key, "Path", type, reinterpret_cast<BYTE*>(data), &size) == ERROR_SUCCESS &&
                (*type == REG_SZ || *type == REG_EXPAND_SZ);
    if (read) {
        data[size] = '\0';
        path = data;
    }
    free(data);
    RegCloseKey(key);
    return read;
}

bool WritePath(RunJournal& journal, const Text& path, DWORD type)
{
    return RecordedSetRegistryValue(journal, PathRoot(), PathKey(), "Path", type, path.c_str(),
                                    static_cast<DWORD>(path.length()));
}

// True when the entry of n bytes at entry names folder: quotes and a
// final backslash aside, letter case aside.
bool EntryNames(const char* entry, size_t n, const char* folder)
{
    while (n > 0 && (entry[n - 1] == ' ' || entry[n - 1] == '"'))
        --n;
    while (n > 0 && (*entry == ' ' || *entry == '"'))
        ++entry, --n;
    if (n > 1 && entry[n - 1] == '\\')
        --n;
    size_t f = strlen(folder);
    if (f > 1 && folder[f - 1] == '\\')
        --f;
    Text a, b;
    a.Assign(entry, n);
    b.Assign(folder, f);
    return n > 0 && SameTextNoCase(a.c_str(), b.c_str());
}

bool UnderSoftware(const char* key) { return SamePrefixNoCase(key, "SOFTWARE\\", 9) && key[9] != '\0'; }

bool KeyIsEmpty(HKEY root, const char* keyPath)
{
    HKEY key;
    if (RegOpenKeyExU(root, keyPath, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    DWORD subkeys = 1, values = 1;
    LONG result = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                   nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return result == ERROR_SUCCESS && subkeys == 0 && values == 0;
}

} // namespace

Text FormatProductValueRecord(const ProductValueRecord& record)
{
    // "-" for none: the profile reader would drop an empty last field
    // with the tab before it.
    Text earlier(record.HadEarlier ? "" : "-");
    if (record.HadEarlier) {
        char type[16];
        FormatText(type, sizeof type, "%lu:", static_cast<unsigned long>(record.EarlierType));
        earlier.Append(type);
        earlier.Append(record.EarlierData.c_str());
    }
    Text removal(record.RemoveKey ? "removekey" : "remove");
    if (!record.Written.empty()) {
        removal.Append(':');
        removal.Append(record.Written.c_str());
    }
    const char* letter = LetterFromRoot(record.Root, record.View);
    const char* fields[] = {letter ? letter : "", record.Key.c_str(),
                            record.Name.c_str(), removal.c_str(), earlier.c_str()};
    return FormatRecord(kRecordKind, fields, 5);
}

bool ParseProductValueRecord(const char* line, ProductValueRecord& record)
{
    ParsedRecord r;
    if (!ParseRecord(line, r) || r.Kind != kRecordKind || r.Count != 5)
        return false;
    record.Root = RootFromLetter(r.Fields[0].c_str());
    record.View = ViewFromLetter(r.Fields[0].c_str());
    record.Key = r.Fields[1];
    record.Name = r.Fields[2];
    const char* removal = r.Fields[3].c_str();
    const char* written = strchr(removal, ':');
    size_t word = written ? static_cast<size_t>(written - removal) : strlen(removal);
    record.RemoveKey = word == 9 && strncmp(removal, "removekey", 9) == 0;
    record.Written = written ? written + 1 : "";
    if (!record.Root || !UnderSoftware(record.Key.c_str()) ||
        (!record.RemoveKey && !(word == 6 && strncmp(removal, "remove", 6) == 0)) ||
        (written && (record.Written.empty() || record.Written.length() % 2 != 0)))
        return false;
    const char* earlier = r.Fields[4].c_str();
    record.HadEarlier = strcmp(earlier, "-") != 0;
    record.EarlierType = 0;
    record.EarlierData.Clear();
    if (!record.HadEarlier)
        return true;
    char* end = nullptr;
    unsigned long type = strtoul(earlier, &end, 10);
    if (end == earlier || *end != ':' || strlen(end + 1) % 2 != 0 || strlen(end + 1) > 2 * kMostEarlierBytes)
        return false;
    record.EarlierType = type;
    record.EarlierData = end + 1;
    return true;
}

bool SameProductValue(const ProductValueRecord& a, HKEY root, const char* key, const char* name)
{
    return a.Root == root && IsSameRegistryView(a.View, CurrentRegistryView()) && SameTextNoCase(a.Key.c_str(), key) &&
           SameTextNoCase(a.Name.c_str(), name);
}

namespace {

// A value of at most a kilobyte: its type and data as hexadecimal digits.
// ERROR_SUCCESS, ERROR_FILE_NOT_FOUND (no key or no value), or the reason
// it cannot be kept (ERROR_MORE_DATA for a larger one).
LONG ReadSmallValue(HKEY root, const char* keyPath, const char* name, DWORD* type, Text& hex)
{
    HKEY key;
    if (RegOpenKeyExU(root, keyPath, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return ERROR_FILE_NOT_FOUND;
    DWORD size = 0;
    LONG result = RegQueryValueExU(key, name, type, nullptr, &size);
    if (result == ERROR_SUCCESS && size > kMostEarlierBytes)
        result = ERROR_MORE_DATA;
    if (result == ERROR_SUCCESS) {
        unsigned char data[kMostEarlierBytes];
        result = RegQueryValueExU(key, name, type, data, &size);
        if (result == ERROR_SUCCESS)
            AppendHex(hex, data, size);
    }
    RegCloseKey(key);
    return result;
}

} // namespace

bool ReadEarlierValueState(ProductValueRecord& record)
{
    record.EarlierType = 0;
    record.EarlierData.Clear();
    LONG result = ReadSmallValue(record.Root, record.Key.c_str(), record.Name.c_str(), &record.EarlierType,
                                 record.EarlierData);
    record.HadEarlier = result == ERROR_SUCCESS;
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

Text ValueDataHex(HKEY root, const char* keyPath, const char* name)
{
    DWORD type = 0;
    Text hex;
    if (ReadSmallValue(root, keyPath, name, &type, hex) != ERROR_SUCCESS)
        hex.Clear();
    return hex;
}

bool GiveBackProductValue(RunJournal& journal, const ProductValueRecord& record)
{
    ScopedRegistryView view(record.View);
    if (!record.Written.empty() &&
        !SameTextNoCase(ValueDataHex(record.Root, record.Key.c_str(), record.Name.c_str()).c_str(),
                        record.Written.c_str()))
        return true;
    if (record.HadEarlier) {
        size_t size = record.EarlierData.length() / 2;
        unsigned char data[kMostEarlierBytes];
        if (size > sizeof data || !DecodeHex(record.EarlierData.c_str(), data, size))
            return false;
        // Text comes back as the program's text, with its terminators.
        return RecordedSetRegistryValue(journal, record.Root, record.Key.c_str(), record.Name.c_str(),
                                        record.EarlierType, data, static_cast<DWORD>(size));
    }
    if (!RecordedDeleteRegistryValue(journal, record.Root, record.Key.c_str(), record.Name.c_str()))
        return false;
    if (!record.RemoveKey)
        return true;
    // The key and the keys above it that this leaves empty, never SOFTWARE
    // itself nor a key right below it (Classes, a maker's key: the
    // uninstaller takes the maker's key when its last product goes).
    Text key(record.Key);
    for (;;) {
        const char* last = strrchr(key.c_str(), '\\');
        if (!last || last - key.c_str() <= 9 || !KeyIsEmpty(record.Root, key.c_str()))
            return true;
        if (!RecordedDeleteRegistryTree(journal, record.Root, key.c_str()))
            return false;
        key.Truncate(static_cast<size_t>(last - key.c_str()));
    }
}

void ReadProductValueRecords(const char* settingsFile, TextList& lines)
{
    char* line = static_cast<char*>(malloc(kMostRecordBytes));
    if (!line)
        return;
    for (unsigned i = 0;; ++i) {
        char key[32];
        FormatText(key, sizeof key, "value%u", i);
        DWORD n = GetPrivateProfileStringU("registry", key, "", line, kMostRecordBytes, settingsFile);
        if (n == 0)
            break;
        lines.Add(line);
    }
    free(line);
}

void ReadPathEntries(const char* settingsFile, TextList& folders)
{
    char folder[kPathBytes];
    for (unsigned i = 0;; ++i) {
        char key[32];
        FormatText(key, sizeof key, "entry%u", i);
        if (GetPrivateProfileStringU("path", key, "", folder, sizeof folder, settingsFile) == 0)
            break;
        folders.Add(folder);
    }
}

bool AddPathEntry(RunJournal& journal, const char* folder, bool* added)
{
    *added = false;
    Text path;
    DWORD type;
    if (!ReadPath(path, &type))
        return false;
    for (const char* p = path.c_str(); *p;) {
        const char* end = strchr(p, ';');
        size_t n = end ? static_cast<size_t>(end - p) : strlen(p);
        if (EntryNames(p, n, folder))
            return true;
        p += n + (end ? 1 : 0);
    }
    if (!path.empty() && path.last() != ';')
        path.Append(';');
    path.Append(folder);
    *added = WritePath(journal, path, type);
    return *added;
}

bool RemovePathEntry(RunJournal& journal, const char* folder)
{
    Text path, kept;
    DWORD type;
    if (!ReadPath(path, &type))
        return false;
    // Split at every ';', empty entries too: what stays is written back
    // exactly as it was.
    bool found = false, first = true;
    for (const char* p = path.c_str();;) {
        const char* end = strchr(p, ';');
        size_t n = end ? static_cast<size_t>(end - p) : strlen(p);
        if (EntryNames(p, n, folder)) {
            found = true;
        } else {
            Text entry;
            entry.Assign(p, n);
            if (!first)
                kept.Append(';');
            kept.Append(entry.c_str());
            first = false;
        }
        if (!end)
            break;
        p = end + 1;
    }
    return !found || WritePath(journal, kept, type);
}

void AnnounceEnvironmentChange()
{
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Environment"),
                        SMTO_ABORTIFHUNG, 5000, &answer);
}

void AnnounceFileTypesChange() { SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr); }

bool IsFileTypeRecord(const ProductValueRecord& record)
{
    return SamePrefixNoCase(record.Key.c_str(), "Software\\Classes\\", 17);
}
