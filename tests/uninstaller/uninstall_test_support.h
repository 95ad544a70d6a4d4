// Helpers of the uninstaller tests: a temporary folder tree that removes
// itself, small file and registry helpers, and a saved-and-restored value
// of the sibling product's folder setting.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include "tests/common/files.h"
#include <vector>

namespace uninstall_test {

inline bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline bool WriteText(const std::string& path, const std::string& text)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(h);
    return written == text.size();
}

inline std::string ReadText(const std::string& path)
{
    std::string data;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return data;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got)
        data.append(buffer, got);
    CloseHandle(h);
    return data;
}

// Creates every folder of a path ending with a backslash.
inline void MakeFolders(const std::string& folder)
{
    for (size_t i = 3; i < folder.size(); ++i)
        if (folder[i] == '\\')
            CreateDirectoryA(folder.substr(0, i).c_str(), nullptr);
}

inline void RemoveTree(const std::string& folder) { testfiles::RemoveTree(folder); }

// A fresh folder under the temporary folder; Path() ends with a backslash.
// Removed with its content at the end, with a few retries for a program
// that still runs from it.
class TempTree {
public:
    explicit TempTree(const char* prefix = "uit")
    {
        char base[MAX_PATH], name[MAX_PATH];
        GetTempPathA(sizeof base, base);
        GetTempFileNameA(base, prefix, 0, name);
        DeleteFileA(name);
        CreateDirectoryA(name, nullptr);
        path_ = std::string(name) + "\\";
    }
    ~TempTree()
    {
        std::string folder = path_.substr(0, path_.size() - 1);
        for (int i = 0; i < 50 && Exists(folder); ++i) {
            RemoveTree(folder);
            if (Exists(folder))
                Sleep(100);
        }
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;
    const std::string& Path() const { return path_; }

    // Writes a file below the tree, making its folders.
    std::string Write(const std::string& relative, const std::string& text = "data") const
    {
        std::string full = path_ + relative;
        MakeFolders(full.substr(0, full.find_last_of('\\') + 1));
        WriteText(full, text);
        return full;
    }

private:
    std::string path_;
};

inline bool KeyExists(HKEY root, const std::string& key)
{
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
        return false;
    RegCloseKey(k);
    return true;
}

inline void SetString(HKEY root, const std::string& key, const char* name, const std::string& data)
{
    HKEY k;
    if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) != ERROR_SUCCESS)
        return;
    // Stored without the NUL, as the setup stores its values.
    RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()), static_cast<DWORD>(data.size()));
    RegCloseKey(k);
}

inline void DeleteTree(HKEY root, const std::string& key)
{
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_ALL_ACCESS, &k) == ERROR_SUCCESS) {
        char name[256];
        DWORD n = sizeof name;
        while (n = sizeof name, RegEnumKeyExA(k, 0, name, &n, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
            DeleteTree(root, key + "\\" + name);
        RegCloseKey(k);
    }
    RegDeleteKeyA(root, key.c_str());
}

// Every key and value below key, as sorted lines of text, for comparing
// the registry before and after.
inline void CollectRegistryLines(HKEY root, const std::string& key, std::vector<std::string>& lines)
{
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
        return;
    lines.push_back(key);
    std::vector<std::string> subkeys;
    for (DWORD i = 0;; ++i) {
        char name[256];
        BYTE data[4096];
        DWORD n = sizeof name, size = sizeof data, type = 0;
        if (RegEnumValueA(k, i, name, &n, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        lines.push_back(key + " [" + name + "] " + std::to_string(type) + " " +
                        std::string(reinterpret_cast<char*>(data), size));
    }
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD n = sizeof name;
        if (RegEnumKeyExA(k, i, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        subkeys.push_back(name);
    }
    RegCloseKey(k);
    for (const std::string& subkey : subkeys)
        CollectRegistryLines(root, key + "\\" + subkey, lines);
}

inline std::string RegistryText(const std::vector<std::string>& keys)
{
    std::vector<std::string> lines;
    for (const std::string& key : keys)
        CollectRegistryLines(HKEY_LOCAL_MACHINE, key, lines);
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

// The files below folder whose names start with prefix.
inline int CountFilesNamed(const std::string& folder, const std::string& prefix)
{
    int count = 0;
    testfiles::WalkTree(folder, [&](const std::string&, const WIN32_FIND_DATAA& found) {
        if (std::string(found.cFileName).compare(0, prefix.size(), prefix) == 0)
            ++count;
        return true;
    });
    return count;
}

// Points the sibling product's folder setting (HKCU, key
// "SOFTWARE\Corvane\folders", value "ArchivistLocation") at a test folder
// and puts the old state back afterwards.
class ArchivistSetting {
public:
    explicit ArchivistSetting(const std::string& folder)
    {
        char old[MAX_PATH];
        DWORD size = sizeof old;
        DWORD type = 0;
        HKEY k;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &k) == ERROR_SUCCESS) {
            had_ = RegQueryValueExA(k, "ArchivistLocation", nullptr, &type, reinterpret_cast<BYTE*>(old), &size) ==
                   ERROR_SUCCESS;
            RegCloseKey(k);
        }
        keyExisted_ = KeyExists(HKEY_CURRENT_USER, kKey);
        if (had_)
            old_.assign(old, size && old[size - 1] == '\0' ? size - 1 : size);
        SetString(HKEY_CURRENT_USER, kKey, "ArchivistLocation", folder);
    }
    ~ArchivistSetting()
    {
        if (had_) {
            SetString(HKEY_CURRENT_USER, kKey, "ArchivistLocation", old_);
        } else {
            HKEY k;
            if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &k) == ERROR_SUCCESS) {
                RegDeleteValueA(k, "ArchivistLocation");
                RegCloseKey(k);
            }
            if (!keyExisted_)
                RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
        }
    }
    ArchivistSetting(const ArchivistSetting&) = delete;
    ArchivistSetting& operator=(const ArchivistSetting&) = delete;

    static constexpr const char* kKey = "SOFTWARE\\Corvane\\folders";

private:
    bool had_ = false;
    bool keyExisted_ = false;
    std::string old_;
};

} // namespace uninstall_test
