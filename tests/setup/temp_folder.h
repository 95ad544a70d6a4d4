// A uniquely named folder under the temporary folder, removed with all its
// contents when the test ends.
#pragma once

#include <windows.h>

#include <string>

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

    static std::string ReadFile(const std::string& path)
    {
        std::string data;
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return data;
        char buffer[65536];
        DWORD got;
        while (::ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got)
            data.append(buffer, got);
        CloseHandle(h);
        return data;
    }

    static void RemoveTree(const std::string& folder)
    {
        WIN32_FIND_DATAA found;
        HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &found);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                std::string name = found.cFileName;
                if (name == "." || name == "..")
                    continue;
                std::string full = folder + "\\" + name;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    RemoveTree(full);
                } else {
                    SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                    DeleteFileA(full.c_str());
                }
            } while (FindNextFileA(h, &found));
            FindClose(h);
        }
        RemoveDirectoryA(folder.c_str());
    }

private:
    std::string path_;
};
