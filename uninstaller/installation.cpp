// What the uninstaller knows of the installation it belongs to: the
// settings file that names the product (its values are checked in
// arguments.cpp), the list of installed files in the registry, the folder
// the product is registered in, the kept repair copy and the sibling
// product's folder.
#include "uninstaller/uninstaller.h"

#include "rollback/rollback.h"
#include "setup/wide.h"

#include <shlobj.h>
#include <stdlib.h>
#include <string.h>

namespace {

// Compares the first n characters of two texts without regard to case, as
// Windows compares file names.
bool PrefixEqualNoCase(const char* a, const char* b, size_t n)
{
    return SamePrefixNoCase(a, b, n);
}

} // namespace

bool ReadStringValue(HKEY root, const char* subkey, const char* name, char* buffer, DWORD size)
{
    HKEY key;
    if (RegOpenKeyExU(root, subkey, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    DWORD got = size - 1;
    LONG result = RegQueryValueExU(key, name, &type, reinterpret_cast<BYTE*>(buffer), &got);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    // The setup stores its strings without the terminating NUL.
    buffer[got < size ? got : size - 1] = '\0';
    return true;
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

bool ReadUninstallSettings(const char* folder, UninstallSettings& out)
{
    Text path(folder);
    if (path.last() != '\\')
        path.Append('\\');
    out.Folder = path;
    path.Append("UnInstall.ini");
    DWORD attributes = GetFileAttributesU(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;

    char values[UNINSTALL_VALUE_COUNT][kMaxSettingLength + 1];
    UninstallValues read;
    for (int i = 0; i < UNINSTALL_VALUE_COUNT; ++i) {
        GetPrivateProfileStringU("uninstall", kUninstallValueNames[i], "", values[i], sizeof values[i], path.c_str());
        read.Value[i] = values[i];
    }
    return TakeUninstallSettings(read, out);
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
    if (RegOpenKeyExU(ScopeRegistryRoot(), keyPath.c_str(), KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;

    DWORD valueCount = 0, longestData = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &valueCount, nullptr,
                         &longestData, nullptr, nullptr) != ERROR_SUCCESS) {
        RegCloseKey(key);
        return false;
    }
    // The longest data in the registry's wide text; in the program's text
    // a wide character takes up to three bytes.
    DWORD dataRoom = longestData / 2 * 3 + 2;
    char* data = static_cast<char*>(malloc(dataRoom));
    unsigned long* numbers = static_cast<unsigned long*>(malloc((valueCount + 1) * sizeof(unsigned long)));
    TextList unsorted;
    if (data && numbers) {
        for (DWORD i = 0; i < valueCount; ++i) {
            char name[64];
            DWORD nameLength = sizeof name;
            DWORD type = 0;
            DWORD dataLength = dataRoom - 1;
            if (RegEnumValueU(key, i, name, &nameLength) != ERROR_SUCCESS ||
                RegQueryValueExU(key, name, &type, reinterpret_cast<BYTE*>(data), &dataLength) != ERROR_SUCCESS)
                continue;
            // Only the setup's own values: "File" and up to nine digits,
            // holding a string.
            if (type != REG_SZ || strncmp(name, "File", 4) != 0)
                continue;
            const char* digits = name + 4;
            size_t count = strlen(digits);
            if (count == 0 || count > 9 || strspn(digits, "0123456789") != count)
                continue;
            data[dataLength < dataRoom ? dataLength : dataRoom - 1] = '\0';
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
    char folder[kPathBytes];
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
    if (kept.empty() || !program || !SameTextNoCase(kept.c_str(), program))
        return false;
    DWORD attributes = GetFileAttributesU(kept.c_str());
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
    char value[kPathBytes];
    if (!ReadStringValue(ScopeRegistryRoot(), key.c_str(), "InstallDir", value, sizeof value) || !value[0])
        return false;
    installDir = value;
    return IsSameFolder(value, folder);
}

bool IsUnderFolder(const char* path, const char* folder)
{
    char base[kPathBytes];
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
    char location[kPathBytes];
    Text folder;
    Text settings("SOFTWARE\\");
    settings.Append(makerName);
    settings.Append("\\folders");
    if (ReadStringValue(HKEY_CURRENT_USER, settings.c_str(), "ArchivistLocation", location, sizeof location) &&
        location[0]) {
        folder = location;
    } else {
        char documents[kPathBytes];
        documents[0] = '\0';
        LPITEMIDLIST items = nullptr;
        if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_PERSONAL, &items)) && items) {
            if (!SHGetPathFromIDListU(items, documents))
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

