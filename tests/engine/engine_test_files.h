// File helpers shared by the engine tests: a scratch folder removed at the
// end of each test, whole-file reads, and resource lookup in a module.
#pragma once

#include <windows.h>

#include <string>

namespace enginetest {

inline bool PathExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Reads a whole file; *found tells whether it could be opened.
inline std::string ReadWholeFile(const std::string& path, bool* found = nullptr)
{
    std::string data;
    // Shares everything: a staged cabinet is held open for writing and
    // deletion by the run.
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (found)
        *found = h != INVALID_HANDLE_VALUE;
    if (h == INVALID_HANDLE_VALUE)
        return data;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got)
        data.append(buffer, got);
    CloseHandle(h);
    return data;
}

inline void WriteWholeFile(const std::string& path, const std::string& data)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
    CloseHandle(h);
}

// The bytes of a named resource, empty when it is missing.
inline std::string ResourceBytes(HMODULE module, const char* name, const char* type, bool* found = nullptr)
{
    HRSRC r = FindResourceA(module, name, type);
    if (found)
        *found = r != nullptr;
    if (!r)
        return std::string();
    HGLOBAL g = LoadResource(module, r);
    const char* p = g ? static_cast<const char*>(LockResource(g)) : nullptr;
    return p ? std::string(p, SizeofResource(module, r)) : std::string();
}

// The folder of the running test program, with a trailing backslash.
inline std::string ProgramFolder()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder = path;
    return folder.substr(0, folder.find_last_of("\\/") + 1);
}

// A fresh folder under the temporary folder, removed with its files (one
// level deep) when the test ends.
class ScratchFolder {
public:
    ScratchFolder()
    {
        char temp[MAX_PATH] = "";
        GetTempPathA(sizeof temp, temp);
        char name[MAX_PATH] = "";
        GetTempFileNameA(temp, "eng", 0, name);
        DeleteFileA(name);
        CreateDirectoryA(name, nullptr);
        path_ = name;
    }
    ~ScratchFolder()
    {
        WIN32_FIND_DATAA found;
        HANDLE h = FindFirstFileA((path_ + "\\*").c_str(), &found);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                std::string full = path_ + "\\" + found.cFileName;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    RemoveDirectoryA(full.c_str());
                else
                    DeleteFileA(full.c_str());
            } while (FindNextFileA(h, &found));
            FindClose(h);
        }
        RemoveDirectoryA(path_.c_str());
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string File(const char* name) const { return path_ + "\\" + name; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// Sets an environment variable for the life of the object.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : name_(name)
    {
        char old[1024];
        DWORD n = GetEnvironmentVariableA(name, old, sizeof old);
        had_ = n > 0 && n < sizeof old;
        if (had_)
            old_ = old;
        SetEnvironmentVariableA(name, value);
    }
    ~ScopedEnvironment() { SetEnvironmentVariableA(name_.c_str(), had_ ? old_.c_str() : nullptr); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string name_;
    std::string old_;
    bool had_;
};

} // namespace enginetest
