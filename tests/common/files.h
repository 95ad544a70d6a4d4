// File helpers shared by the Windows tests and benchmarks: remove a whole
// folder tree, read and write a whole file.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testfiles {

// Removes folder and everything below it, read-only files included.
inline void RemoveTree(const std::string& folder)
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

// The whole content of a file; empty when it cannot be read.
inline std::string ReadFile(const std::string& path)
{
    std::string data;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return data;
    std::vector<char> buffer(1 << 16);
    DWORD got;
    while (::ReadFile(h, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got)
        data.append(buffer.data(), got);
    CloseHandle(h);
    return data;
}

// Creates or replaces a file with data; true when all of it was written.
inline bool WriteFile(const std::string& path, const std::string& data)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = ::WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == data.size();
}

} // namespace testfiles
