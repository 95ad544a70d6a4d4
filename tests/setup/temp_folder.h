// A uniquely named folder under the temporary folder, removed with all its
// contents when the test ends.
#pragma once

#include <windows.h>

#include <string>
#include "tests/common/files.h"

class TempFolder {
public:
    TempFolder()
    {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        char name[MAX_PATH];
        GetTempFileNameA(temp, "tst", 0, name);
        DeleteFileA(name);
        CreateDirectoryA(name, nullptr);
        path_ = name;
    }
    ~TempFolder() { RemoveTree(path_); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path_; }

    // Writes a file below the folder (its sub-folders must exist).
    std::string WriteFile(const std::string& relative, const std::string& content) const
    {
        std::string full = path_ + "\\" + relative;
        HANDLE h = CreateFileA(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        if (h != INVALID_HANDLE_VALUE) {
            ::WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
            CloseHandle(h);
        }
        return full;
    }

    static std::string ReadFile(const std::string& path) { return testfiles::ReadFile(path); }

    static void RemoveTree(const std::string& folder) { testfiles::RemoveTree(folder); }

private:
    std::string path_;
};
