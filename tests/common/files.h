// File helpers shared by the Windows tests and benchmarks: remove a whole
// folder tree, read and write a whole file.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testfiles {

// Runs a Unix command on Windows paths inside the Wine prefix (Wine starts
// Unix programs too); Wine's own CreateSymbolicLink makes no link, and its
// RemoveDirectory removes none.
// Starts it and does not wait: whether it did its work is for the caller to
// see.
inline bool RunUnixCommand(const std::string& program, const std::vector<std::string>& paths)
{
    typedef char*(__cdecl * UnixName)(LPCWSTR);
    UnixName unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!unixName)
        return false;
    auto toUnix = [&](const std::string& path) {
        WCHAR wide[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
        char* name = unixName(wide);
        std::string result = name ? name : "";
        HeapFree(GetProcessHeap(), 0, name);
        return result;
    };
    std::string command = program;
    for (const std::string& path : paths)
        command += " \"" + toUnix(path) + "\"";
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// Waits until path's attributes satisfy done (Wine cannot always wait for
// a Unix program to end): false after five minutes, a limit against a
// hang only.
template <typename Condition> bool WaitForAttributes(const std::string& path, Condition done)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < 300000; Sleep(20))
        if (done(GetFileAttributesA(path.c_str())))
            return true;
    return false;
}

// Makes link a Unix symbolic link to target, which Wine shows as a reparse
// point (made relative: Wine does not resolve a link whose target it
// names through its own dosdevices folder). False when it could not be
// made.
inline bool MakeUnixLink(const std::string& target, const std::string& link)
{
    return RunUnixCommand("Z:\\bin\\ln -sr", {target, link}) && WaitForAttributes(link, [](DWORD a) {
               return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
           });
}

// Removes a link itself, never what it points at.
inline void RemoveLink(const std::string& link)
{
    if (!RemoveDirectoryA(link.c_str()) && !DeleteFileA(link.c_str()) && RunUnixCommand("Z:\\bin\\rm -f", {link}))
        WaitForAttributes(link, [](DWORD a) { return a == INVALID_FILE_ATTRIBUTES; });
}

// Calls visit(path, entry) for every entry below folder, parents before
// their contents; a folder is gone into unless visit returns false for
// it. Links are visited, never gone into.
template <typename Visit> void WalkTree(const std::string& folder, Visit visit)
{
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        std::string path = folder + "\\" + name;
        bool into = visit(path, found);
        if (into && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            WalkTree(path, visit);
    } while (FindNextFileA(h, &found));
    FindClose(h);
}

// Removes folder and everything below it, read-only files included; a
// link below it is removed itself, never followed.
inline void RemoveTree(const std::string& folder)
{
    DWORD self = GetFileAttributesA(folder.c_str());
    if (self != INVALID_FILE_ATTRIBUTES && (self & FILE_ATTRIBUTE_REPARSE_POINT)) {
        RemoveLink(folder);
        return;
    }
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string full = folder + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                RemoveLink(full);
            } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
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

// A text file's content in UTF-8: one in UTF-16 with its mark (the
// uninstaller's settings) converted, any other as its bytes.
inline std::string ReadText(const std::string& path)
{
    std::string data = ReadFile(path);
    if (data.size() < 2 || data[0] != '\xFF' || data[1] != '\xFE')
        return data;
    std::wstring wide(reinterpret_cast<const wchar_t*>(data.data() + 2), (data.size() - 2) / 2);
    int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &text[0], n, nullptr, nullptr);
    return text;
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
