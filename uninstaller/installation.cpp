// What the uninstaller knows of the installation it belongs to: the command
// line and the settings file that name the product, the list of installed
// files in the registry, the folder the product is registered in, the kept
// repair copy and the sibling product's folder.
#include "uninstaller/uninstaller.h"

#include "rollback/rollback.h"

#include <shlobj.h>
#include <stdlib.h>
#include <string.h>

namespace {

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

} // namespace

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

void LongFolderName(const char* folder, char* out, size_t size)
{
    char copy[MAX_PATH];
    CopyBounded(copy, sizeof copy, folder);
    DWORD n = GetLongPathNameA(copy, out, static_cast<DWORD>(size));
    if (n == 0 || n >= size)
        CopyBounded(out, size, copy);
    StripTrailingBackslash(out);
}

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
    out.FinishPerUser = false;

    const char* p = arguments ? arguments : "";
    Text argument;
    int names = 0;
    bool first = true;
    while (NextArgument(p, argument)) {
        if (first && EqualNoCase(argument.c_str(), "/finish")) {
            out.Finish = true;
            NextArgument(p, out.FinishHandle);
            NextArgument(p, out.FinishPath);
            Text scope;
            out.FinishPerUser = NextArgument(p, scope) && EqualNoCase(scope.c_str(), "user");
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
    out.PerUser = false;
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
    // "\"Product Name\" \"Program.exe\"" comes back without its
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
    // The maker names the registry key and the setup folder of the product:
    // without it the installation cannot be found.
    n = GetPrivateProfileStringA("uninstall", "maker", "", value, sizeof value, path.c_str());
    if (n == 0 || n >= sizeof value - 2 || !IsPlainName(value))
        return false;
    out.MakerName = value;
    n = GetPrivateProfileStringA("uninstall", "sibling", "", value, sizeof value, path.c_str());
    out.SiblingName = n < sizeof value - 2 && IsPlainName(value) ? value : "";
    n = GetPrivateProfileStringA("uninstall", "version", "", value, sizeof value, path.c_str());
    out.Version = n < sizeof value - 2 ? value : "";
    // No scope: every user's, as every installation was before there were
    // scopes. Anything but the two names was not written by the setup.
    n = GetPrivateProfileStringA("uninstall", "scope", "", value, sizeof value, path.c_str());
    InstallScope scope = SCOPE_MACHINE;
    if (n >= sizeof value - 2 || !InstallScopeFromName(value, &scope))
        return false;
    out.PerUser = scope == SCOPE_USER;

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

Text ProductKeyOf(const char* makerName, const char* productName)
{
    Text key("SOFTWARE\\");
    key.Append(makerName);
    key.Append('\\');
    key.Append(productName);
    return key;
}

bool ReadInstalledFileList(const char* makerName, const char* productName, TextList& files)
{
    files.Clear();
    if (!IsPlainName(makerName) || !IsPlainName(productName))
        return false;
    Text keyPath = ProductKeyOf(makerName, productName);
    keyPath.Append("\\Files");
    HKEY key;
    if (RegOpenKeyExA(ScopeRegistryRoot(), keyPath.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
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
    return IsPlainFullPath(path) && IsPathOfScope(path);
}

Text KeptRepairCopy(const char* makerName, const char* productName)
{
    char folder[MAX_PATH];
    Text copy;
    if (FindProductAdminFolder(makerName, productName, folder, sizeof folder)) {
        copy = folder;
        copy.Append("\\setup.exe");
    }
    return copy;
}

bool IsKeptRepairCopy(const char* makerName, const char* productName, const char* program)
{
    Text kept = KeptRepairCopy(makerName, productName);
    if (kept.empty() || !program || lstrcmpiA(kept.c_str(), program) != 0)
        return false;
    DWORD attributes = GetFileAttributesA(kept.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

bool IsRegisteredInstallation(const char* makerName, const char* productName, const char* folder,
                              Text& installDir)
{
    installDir.Clear();
    if (!IsPlainName(makerName) || !IsPlainName(productName))
        return false;
    Text key = ProductKeyOf(makerName, productName);
    char value[MAX_PATH];
    if (!ReadStringValue(ScopeRegistryRoot(), key.c_str(), "InstallDir", value, sizeof value) || !value[0])
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

Text GetArchivistFolder(const char* makerName, const char* siblingFolder)
{
    char location[MAX_PATH];
    Text folder;
    Text settings("SOFTWARE\\");
    settings.Append(makerName);
    settings.Append("\\folders");
    if (ReadStringValue(HKEY_CURRENT_USER, settings.c_str(), "ArchivistLocation", location, sizeof location) &&
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
        folder.Append(siblingFolder);
    }
    if (folder.last() != '\\')
        folder.Append('\\');
    return folder;
}

