// Removal of an installed product: the settings file and the arguments that
// name the product, the list of installed files in the registry, the files
// themselves, the folders they leave empty and the registry entries.
#include "uninstaller/uninstaller.h"

#include "rollback/rollback.h"

#include <shlobj.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char kMakerKey[] = "SOFTWARE\\Corvane\\";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char kAppPathsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
const char kWindowsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

// Longest product or program file name taken from the arguments; registry
// key names are limited to 255 characters, and the product key adds its
// own path in front.
const size_t kMaxNameLength = 200;

// Takes the next blank-separated argument from *p; a quoted one may hold
// blanks and loses its quotes. False at the end of the text.
bool NextArgument(const char*& p, Text& argument)
{
    while (*p == ' ' || *p == '\t')
        ++p;
    if (*p == '\0')
        return false;
    argument.Clear();
    if (*p == '"') {
        const char* start = ++p;
        while (*p && *p != '"')
            ++p;
        argument.Assign(start, static_cast<size_t>(p - start));
        if (*p == '"')
            ++p;
    } else {
        const char* start = p;
        while (*p && *p != ' ' && *p != '\t')
            ++p;
        argument.Assign(start, static_cast<size_t>(p - start));
    }
    return true;
}

bool EqualNoCase(const char* a, const char* b) { return lstrcmpiA(a, b) == 0; }

// Compares the first n characters of two texts without regard to case, as
// Windows compares file names.
bool PrefixEqualNoCase(const char* a, const char* b, size_t n)
{
    return CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a, static_cast<int>(n), b,
                          static_cast<int>(n)) == CSTR_EQUAL;
}

// Reads one REG_SZ value into buffer (size bytes); false when it is
// missing, not a string or does not fit.
bool ReadStringValue(HKEY root, const char* subkey, const char* name, char* buffer, DWORD size)
{
    HKEY key;
    if (RegOpenKeyExA(root, subkey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    DWORD got = size - 1;
    LONG result = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &got);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    // The setup stores its strings without the terminating NUL.
    buffer[got < size ? got : size - 1] = '\0';
    return true;
}

void AddFolder(TextList& list, const char* folder)
{
    if (!folder || !folder[0])
        return;
    char copy[MAX_PATH];
    if (!CopyBounded(copy, sizeof copy, folder))
        return;
    StripTrailingBackslash(copy);
    list.Add(copy);
}

void AddSpecialFolder(TextList& list, int csidl)
{
    LPITEMIDLIST items = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &items)) || !items)
        return;
    char path[MAX_PATH];
    if (SHGetPathFromIDListA(items, path))
        AddFolder(list, path);
    CoTaskMemFree(items);
}

// A folder in its long form without a trailing backslash, so that
// "C:\PROGRA~1\Corvane" and "C:\Program Files\Corvane\" compare equal
// while the folder exists.
void LongFolderName(const char* folder, char* out, size_t size)
{
    char copy[MAX_PATH];
    CopyBounded(copy, sizeof copy, folder);
    DWORD n = GetLongPathNameA(copy, out, static_cast<DWORD>(size));
    if (n == 0 || n >= size)
        CopyBounded(out, size, copy);
    StripTrailingBackslash(out);
}

bool ContainsNoCase(const TextList& list, const char* text)
{
    for (size_t i = 0; i < list.Count(); ++i)
        if (EqualNoCase(list.At(i), text))
            return true;
    return false;
}

} // namespace

void StripTrailingBackslash(char* path)
{
    size_t n = strlen(path);
    // "C:\" keeps its backslash: "C:" alone names a current folder.
    if (n > 1 && path[n - 1] == '\\' && !(n == 3 && path[1] == ':'))
        path[n - 1] = '\0';
}

Text FolderOf(const char* path)
{
    Text folder(path);
    const char* cut = strrchr(path, '\\');
    folder.Truncate(cut ? static_cast<size_t>(cut - path) + 1 : 0);
    return folder;
}

void ParseCommandLine(const char* arguments, CommandLine& out)
{
    out.Silent = false;
    out.Finish = false;
    out.ProductName.Clear();
    out.ExeName.Clear();
    out.FinishHandle.Clear();
    out.FinishPath.Clear();

    const char* p = arguments ? arguments : "";
    Text argument;
    int names = 0;
    bool first = true;
    while (NextArgument(p, argument)) {
        if (first && EqualNoCase(argument.c_str(), "/finish")) {
            out.Finish = true;
            NextArgument(p, out.FinishHandle);
            NextArgument(p, out.FinishPath);
            return;
        }
        first = false;
        if (EqualNoCase(argument.c_str(), "/S")) {
            out.Silent = true;
        } else {
            if (names == 0)
                out.ProductName = argument;
            else if (names == 1)
                out.ExeName = argument;
            ++names;
        }
    }
}

bool IsPlainName(const char* name)
{
    size_t n = strlen(name);
    if (n == 0 || n > kMaxNameLength)
        return false;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(name); *c; ++c)
        if (*c < 0x20 || *c == '\\' || *c == '/' || *c == '"')
            return false;
    return true;
}

bool ParseNameArguments(const char* text, Text& productName, Text& exeName)
{
    const char* p = text;
    Text product, exe;
    if (!NextArgument(p, product) || !NextArgument(p, exe))
        return false;
    if (!IsPlainName(product.c_str()) || !IsPlainName(exe.c_str()))
        return false;
    productName = product;
    exeName = exe;
    return true;
}

bool ReadUninstallSettings(const char* folder, UninstallSettings& out)
{
    Text path(folder);
    if (path.last() != '\\')
        path.Append('\\');
    out.Folder = path;
    path.Append("UnInstall.ini");
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;

    char value[1024];
    DWORD n = GetPrivateProfileStringA("uninstall", "args", "", value, sizeof value, path.c_str());
    // A value that fills the buffer was cut: not the setup's.
    if (n == 0 || n >= sizeof value - 2)
        return false;
    // The profile reader drops the quotes that enclose a whole value, so
    // "\"Corvane GlyphForge\" \"GlyphForge.exe\"" comes back without its
    // first and last quote: put them back.
    Text arguments;
    if (value[0] != '"') {
        arguments.Append('"');
        arguments.Append(value);
        arguments.Append('"');
    } else {
        arguments = value;
    }
    if (!ParseNameArguments(arguments.c_str(), out.ProductName, out.ExeName))
        return false;

    n = GetPrivateProfileStringA("uninstall", "repair", "", value, sizeof value, path.c_str());
    if (n >= MAX_PATH)
        value[0] = '\0';
    out.RepairProgram = value;
    n = GetPrivateProfileStringA("uninstall", "archivist", "", value, sizeof value, path.c_str());
    out.ArchivistFolder.Clear();
    if (n < MAX_PATH && IsPlainFullPath(value)) {
        out.ArchivistFolder = value;
        if (out.ArchivistFolder.last() != '\\')
            out.ArchivistFolder.Append('\\');
    }
    return true;
}

bool ReadInstalledFileList(const char* productName, TextList& files)
{
    files.Clear();
    if (!IsPlainName(productName))
        return false;
    Text keyPath(kMakerKey);
    keyPath.Append(productName);
    keyPath.Append("\\Files");
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;

    DWORD valueCount = 0, longestData = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &valueCount, nullptr,
                         &longestData, nullptr, nullptr) != ERROR_SUCCESS) {
        RegCloseKey(key);
        return false;
    }
    char* data = static_cast<char*>(malloc(longestData + 2));
    unsigned long* numbers = static_cast<unsigned long*>(malloc((valueCount + 1) * sizeof(unsigned long)));
    TextList unsorted;
    if (data && numbers) {
        for (DWORD i = 0; i < valueCount; ++i) {
            char name[64];
            DWORD nameLength = sizeof name;
            DWORD type = 0;
            DWORD dataLength = longestData + 1;
            if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data),
                              &dataLength) != ERROR_SUCCESS)
                continue;
            // Only the setup's own values: "File" and up to nine digits,
            // holding a string.
            if (type != REG_SZ || strncmp(name, "File", 4) != 0)
                continue;
            const char* digits = name + 4;
            size_t count = strlen(digits);
            if (count == 0 || count > 9 || strspn(digits, "0123456789") != count)
                continue;
            data[dataLength <= longestData ? dataLength : longestData] = '\0';
            if (!unsorted.Add(data))
                continue;
            numbers[unsorted.Count() - 1] = strtoul(digits, nullptr, 10);
        }
        // The registry hands values out in no promised order: sort them by
        // their number (insertion sort; they usually come in order).
        size_t n = unsorted.Count();
        size_t* order = static_cast<size_t*>(malloc((n + 1) * sizeof(size_t)));
        if (order) {
            for (size_t i = 0; i < n; ++i) {
                size_t j = i;
                while (j > 0 && numbers[order[j - 1]] > numbers[i]) {
                    order[j] = order[j - 1];
                    --j;
                }
                order[j] = i;
            }
            for (size_t i = 0; i < n; ++i)
                files.Add(unsorted.At(order[i]));
            free(order);
        }
    }
    free(numbers);
    free(data);
    RegCloseKey(key);
    return files.Count() > 0;
}

bool IsRemovablePath(const char* path)
{
    return IsPlainFullPath(path);
}

Text KeptRepairCopy(const char* productName)
{
    char folder[MAX_PATH];
    Text copy;
    if (FindProductAdminFolder(productName, folder, sizeof folder)) {
        copy = folder;
        copy.Append("\\setup.exe");
    }
    return copy;
}

bool IsKeptRepairCopy(const char* productName, const char* program)
{
    Text kept = KeptRepairCopy(productName);
    if (kept.empty() || !program || lstrcmpiA(kept.c_str(), program) != 0)
        return false;
    DWORD attributes = GetFileAttributesA(kept.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

bool IsRegisteredInstallation(const char* productName, const char* folder, Text& installDir)
{
    installDir.Clear();
    if (!IsPlainName(productName))
        return false;
    Text key(kMakerKey);
    key.Append(productName);
    char value[MAX_PATH];
    if (!ReadStringValue(HKEY_LOCAL_MACHINE, key.c_str(), "InstallDir", value, sizeof value) || !value[0])
        return false;
    installDir = value;
    char registered[MAX_PATH], own[MAX_PATH];
    LongFolderName(value, registered, sizeof registered);
    LongFolderName(folder, own, sizeof own);
    return EqualNoCase(registered, own);
}

bool IsUnderFolder(const char* path, const char* folder)
{
    char base[MAX_PATH];
    if (!folder || !folder[0] || !CopyBounded(base, sizeof base, folder))
        return false;
    size_t n = strlen(base);
    if (base[n - 1] == '\\')
        base[--n] = '\0';
    if (n == 0 || strlen(path) < n || !PrefixEqualNoCase(path, base, n))
        return false;
    return path[n] == '\0' || path[n] == '\\';
}

Text GetArchivistFolder()
{
    char location[MAX_PATH];
    Text folder;
    if (ReadStringValue(HKEY_CURRENT_USER, "SOFTWARE\\Corvane\\folders", "ArchivistLocation", location,
                        sizeof location) &&
        location[0]) {
        folder = location;
    } else {
        char documents[MAX_PATH];
        documents[0] = '\0';
        LPITEMIDLIST items = nullptr;
        if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_PERSONAL, &items)) && items) {
            if (!SHGetPathFromIDListA(items, documents))
                documents[0] = '\0';
            CoTaskMemFree(items);
        }
        if (!documents[0])
            CopyBounded(documents, sizeof documents, "C:\\My Documents");
        folder = documents;
        if (folder.last() != '\\')
            folder.Append('\\');
        folder.Append("Corvane Archivist");
    }
    if (folder.last() != '\\')
        folder.Append('\\');
    return folder;
}

void CollectProtectedFolders(TextList& out)
{
    out.Clear();
    static const int kStandardFolders[] = {
        CSIDL_PROGRAMS,         CSIDL_STARTMENU,           CSIDL_STARTUP,
        CSIDL_COMMON_PROGRAMS,  CSIDL_COMMON_STARTMENU,    CSIDL_COMMON_STARTUP,
        CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_PERSONAL,
        CSIDL_COMMON_DOCUMENTS, CSIDL_APPDATA,             CSIDL_LOCAL_APPDATA,
        CSIDL_COMMON_APPDATA,   CSIDL_PROFILE,             CSIDL_FONTS,
        CSIDL_WINDOWS,          CSIDL_SYSTEM,              CSIDL_PROGRAM_FILES,
        CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMONX86,
    };
    for (int csidl : kStandardFolders)
        AddSpecialFolder(out, csidl);

    // The folders the setup itself took its defaults from; on 64-bit
    // Windows also the 64-bit programs' folders, which a 32-bit program
    // only finds under their own names.
    static const char* const kFolderValues[] = {"ProgramFilesDir", "CommonFilesDir", "ProgramW6432Dir",
                                                "CommonW6432Dir"};
    char path[MAX_PATH];
    for (const char* value : kFolderValues)
        if (ReadStringValue(HKEY_LOCAL_MACHINE, kWindowsKey, value, path, sizeof path))
            AddFolder(out, path);
    UINT n = GetWindowsDirectoryA(path, sizeof path);
    if (n > 0 && n < sizeof path)
        AddFolder(out, path);
    n = GetSystemDirectoryA(path, sizeof path);
    if (n > 0 && n < sizeof path)
        AddFolder(out, path);
    DWORD t = GetTempPathA(sizeof path, path);
    if (t > 0 && t < sizeof path)
        AddFolder(out, path);
    AddFolder(out, GetArchivistFolder().c_str());
}

bool IsProtectedFolder(const char* folder, const TextList& protectedFolders)
{
    char copy[MAX_PATH];
    if (!CopyBounded(copy, sizeof copy, folder))
        return true;
    StripTrailingBackslash(copy);
    return IsVolumeRoot(copy) || ContainsNoCase(protectedFolders, copy);
}

bool IsBehindGuardedLink(const char* path, const TextList* guarded)
{
    for (size_t i = 0; guarded && i < guarded->Count(); ++i)
        if (CrossesLinkBelow(path, guarded->At(i)))
            return true;
    return false;
}

int RemoveEmptyFolders(const char* folder, const TextList& protectedFolders, const TextList* guarded)
{
    char current[MAX_PATH];
    if (!CopyBounded(current, sizeof current, folder))
        return 0;
    StripTrailingBackslash(current);
    int removed = 0;
    // RemoveDirectoryA takes only an empty folder: whatever still holds a
    // file, the user's or another product's, stays with all its parents.
    while (!IsProtectedFolder(current, protectedFolders) && !IsBehindGuardedLink(current, guarded) &&
           RemoveDirectoryA(current)) {
        ++removed;
        char* cut = strrchr(current, '\\');
        if (!cut)
            break;
        *cut = '\0';
    }
    return removed;
}

DWORD DeleteOneFile(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : error;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return ERROR_DIRECTORY;
    const DWORD kBlocking = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if (attributes & kBlocking)
        SetFileAttributesA(path, attributes & ~kBlocking);
    if (DeleteFileA(path))
        return ERROR_SUCCESS;
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    // The file stays: as it was, read-only or not.
    if (attributes & kBlocking)
        SetFileAttributesA(path, attributes);
    return error ? error : ERROR_ACCESS_DENIED;
}

void RemoveListedFiles(const TextList& files, const RemovalOptions& options, RemovalReport& report)
{
    TextList folders;       // folders of removed files, each once
    TextList listedFolders; // entries that name folders
    for (size_t i = 0; i < files.Count(); ++i) {
        const char* path = files.At(i);
        if (!IsRemovablePath(path)) {
            report.LeftFiles.Add(path);
            continue;
        }
        if (options.ArchivistFolder && IsUnderFolder(path, options.ArchivistFolder)) {
            report.SiblingFiles.Add(path);
            continue;
        }
        if (options.OwnProgram && EqualNoCase(path, options.OwnProgram))
            continue;
        // A link placed below the installation or the Start menu is not
        // gone through: the entry is left and reported.
        if (IsBehindGuardedLink(path, options.Guarded)) {
            report.LeftFiles.Add(path);
            continue;
        }
        DWORD attributes = GetFileAttributesA(path);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            listedFolders.Add(path);
            continue;
        }
        for (;;) {
            if (DeleteOneFile(path) == ERROR_SUCCESS) {
                ++report.RemovedFiles;
                Text folder = FolderOf(path);
                if (!ContainsNoCase(folders, folder.c_str()))
                    folders.Add(folder.c_str());
                break;
            }
            if (!options.InUse || options.InUse(path, options.InUseContext) != IDRETRY) {
                report.LeftFiles.Add(path);
                break;
            }
        }
    }

    TextList none;
    const TextList& protectedFolders = options.ProtectedFolders ? *options.ProtectedFolders : none;
    for (size_t i = 0; i < listedFolders.Count(); ++i)
        RemoveEmptyFolders(listedFolders.At(i), protectedFolders, options.Guarded);
    for (size_t i = 0; i < folders.Count(); ++i)
        RemoveEmptyFolders(folders.At(i), protectedFolders, options.Guarded);
}

bool DeleteRegistryTree(HKEY root, const char* subkey)
{
    HKEY key;
    LONG result = RegOpenKeyExA(root, subkey, 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, &key);
    if (result == ERROR_FILE_NOT_FOUND)
        return true;
    if (result != ERROR_SUCCESS)
        return false;
    bool ok = true;
    for (;;) {
        // Always the first subkey: the previous one is gone by now.
        char name[256];
        DWORD length = sizeof name;
        result = RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result != ERROR_SUCCESS)
            break;
        Text child(subkey);
        child.Append('\\');
        child.Append(name);
        if (!DeleteRegistryTree(root, child.c_str())) {
            ok = false;
            break;
        }
    }
    RegCloseKey(key);
    return ok && RegDeleteKeyA(root, subkey) == ERROR_SUCCESS;
}

void RemoveProductRegistration(const char* productName, const char* exeName, const char* installDir)
{
    // An empty or compound name would reach the maker's key itself or
    // another product's.
    if (!IsPlainName(productName))
        return;
    Text productKey(kMakerKey);
    productKey.Append(productName);
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, productKey.c_str());

    Text uninstallKey(kUninstallKey);
    uninstallKey.Append(productName);
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, uninstallKey.c_str());

    if (!IsPlainName(exeName))
        return;
    Text appPathKey(kAppPathsKey);
    appPathKey.Append(exeName);
    char value[MAX_PATH];
    bool ours = false;
    if (ReadStringValue(HKEY_LOCAL_MACHINE, appPathKey.c_str(), "Path", value, sizeof value)) {
        char a[MAX_PATH], b[MAX_PATH];
        LongFolderName(value, a, sizeof a);
        LongFolderName(installDir, b, sizeof b);
        ours = b[0] && EqualNoCase(a, b);
    } else if (ReadStringValue(HKEY_LOCAL_MACHINE, appPathKey.c_str(), "", value, sizeof value)) {
        ours = IsUnderFolder(value, installDir);
    }
    if (ours)
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, appPathKey.c_str());
}
