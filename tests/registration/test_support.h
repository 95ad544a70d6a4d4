// Helpers shared by the registration tests: a temporary folder that removes
// itself, whole-file reads and registry value reads.
#pragma once

#include <windows.h>

#include <string>
#include "tests/common/files.h"

#include "setup/text.h"

// A fresh folder under the temporary folder, removed with its content when
// the test ends. Path() ends with a backslash, as TargetDir does.
class TempFolder {
public:
    TempFolder()
    {
        char base[MAX_PATH], name[MAX_PATH];
        GetTempPathA(sizeof base, base);
        GetTempFileNameA(base, "reg", 0, name);
        DeleteFileA(name);
        CreateDirectoryA(name, nullptr);
        path_ = std::string(name) + "\\";
    }
    ~TempFolder() { RemoveTree(path_.substr(0, path_.size() - 1)); }
    const std::string& Path() const { return path_; }

    static void RemoveTree(const std::string& folder) { testfiles::RemoveTree(folder); }

private:
    std::string path_;
};

inline bool ReadWholeFile(const std::string& path, std::string* bytes)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bytes->clear();
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(h, chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes->append(chunk, got);
    CloseHandle(h);
    return true;
}

inline bool WriteWholeFile(const std::string& path, const std::string& bytes)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return written == bytes.size();
}

// One registry value as the registry holds it: its type, its text
// (converted back to ANSI) and its stored size in bytes. The registry keeps
// strings in UTF-16, and the ANSI read adds a NUL that may not be stored,
// so the value is read in its wide form. False when missing.
struct StoredValue {
    DWORD type = 0;
    DWORD size = 0;
    std::string text;
};
inline bool ReadStoredValue(HKEY root, const std::string& key, const char* name, StoredValue* value)
{
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
        return false;
    WCHAR wideName[256], data[1024];
    MultiByteToWideChar(CP_ACP, 0, name, -1, wideName, 256);
    DWORD size = sizeof data;
    LONG r = RegQueryValueExW(k, wideName, nullptr, &value->type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(k);
    if (r != ERROR_SUCCESS)
        return false;
    value->size = size;
    char text[1024];
    int n = WideCharToMultiByte(CP_ACP, 0, data, static_cast<int>(size / sizeof(WCHAR)), text, sizeof text,
                                nullptr, nullptr);
    value->text.assign(text, n > 0 ? n : 0);
    return true;
}

// Stores a text value as an earlier installation left it, creating the key.
inline void StoreText(HKEY root, const std::string& key, const char* name, const std::string& text)
{
    HKEY k;
    if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), static_cast<DWORD>(text.size()));
    RegCloseKey(k);
}

inline std::string ListAsString(const TextList& list)
{
    std::string all;
    for (size_t i = 0; i < list.Count(); ++i)
        all += std::string(list.At(i)) + "\n";
    return all;
}

// The test program's own folder, where the resource module lies.
inline std::string ProgramFolder()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string p = path;
    return p.substr(0, p.find_last_of('\\') + 1);
}
