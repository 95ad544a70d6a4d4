// The few Win32 calls that the pure parts name, for the native fuzz builds
// (windows.h beside this file). The full form of a path follows Windows'
// rules for the full paths the setup takes: "/" is "\", runs of
// separators are one, "." and ".." parts are resolved without climbing
// above the drive or the share, a part ending in one dot loses it, and a
// path that does not end in a separator loses its trailing dots and
// blanks. A buffer too small gets nothing and the size it needs. Every
// other call finds nothing and changes nothing.
#include <windows.h>
#include "setup/registry_view.h"
#include "setup/wide.h"

#include <string>
#include <vector>

DWORD GetFullPathNameU(const char* path, DWORD size, char* buffer, char** filePart)
{
    std::string p(path);
    for (char& c : p)
        if (c == '/')
            c = '\\';
    std::string root, rest;
    if (p.size() >= 2 && p[0] == '\\' && p[1] == '\\') {
        // \\server\share: both kept as written, the rest resolved below them.
        size_t server = p.find('\\', 2);
        size_t share = server == std::string::npos ? std::string::npos : p.find('\\', server + 1);
        root = p.substr(0, share);
        rest = share == std::string::npos ? "" : p.substr(share);
    } else if (p.size() >= 2 && p[1] == ':') {
        root = p.substr(0, 2);
        rest = p.substr(2);
        // "D:Tool" is relative to drive D's current folder, its root here.
        if (rest.empty() || rest[0] != '\\')
            rest = "\\" + rest;
    } else {
        // Relative to the current folder, C:\Work here.
        root = "C:";
        rest = (p.empty() || p[0] != '\\' ? "\\Work\\" : "") + p;
    }
    bool trailingSeparator = !rest.empty() && rest.back() == '\\';
    std::vector<std::string> parts;
    size_t at = 0;
    while (at <= rest.size()) {
        size_t end = rest.find('\\', at);
        if (end == std::string::npos)
            end = rest.size();
        std::string part = rest.substr(at, end - at);
        at = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
            continue;
        }
        if (part.size() >= 2 && part.back() == '.' && part[part.size() - 2] != '.')
            part.pop_back();
        parts.push_back(part);
    }
    std::string full = root + "\\";
    for (size_t i = 0; i < parts.size(); ++i) {
        full += parts[i];
        if (i + 1 < parts.size() || trailingSeparator)
            full += '\\';
    }
    if (!trailingSeparator)
        while (full.size() > root.size() + 1 && (full.back() == '.' || full.back() == ' '))
            full.pop_back();
    if (full.size() + 1 > size)
        return static_cast<DWORD>(full.size() + 1);
    memcpy(buffer, full.c_str(), full.size() + 1);
    if (filePart) {
        char* slash = strrchr(buffer, '\\');
        *filePart = slash && slash[1] ? slash + 1 : nullptr;
    }
    return static_cast<DWORD>(full.size());
}

HANDLE FindFirstFileU(const char*, FoundFile*) { return INVALID_HANDLE_VALUE; }
BOOL FindClose(HANDLE) { return TRUE; }
BOOL SetFileAttributesU(const char*, DWORD) { return FALSE; }
BOOL DeleteFileU(const char*) { return FALSE; }
DWORD GetFileAttributesU(const char*) { return INVALID_FILE_ATTRIBUTES; }
HANDLE CreateFileU(const char*, DWORD, DWORD, void*, DWORD, DWORD, HANDLE) { return INVALID_HANDLE_VALUE; }
DWORD GetFinalPathNameByHandleU(HANDLE, char*, DWORD, DWORD) { return 0; }
BOOL GetFileInformationByHandle(HANDLE, BY_HANDLE_FILE_INFORMATION*) { return FALSE; }
BOOL CloseHandle(HANDLE) { return TRUE; }
HMODULE GetModuleHandleW(const wchar_t*) { return nullptr; }
LANGID GetUserDefaultLangID() { return 0x0409; }
FARPROC GetProcAddress(HMODULE, const char*) { return nullptr; }
BOOL QueryPerformanceCounter(LARGE_INTEGER* counter)
{
    counter->QuadPart = 0;
    return TRUE;
}
DWORD GetCurrentProcessId() { return 1; }
// No key is opened here: the records name the default view.
RegistryView CurrentRegistryView() { return REGISTRY_VIEW_DEFAULT; }
DWORD GetTickCount() { return 0; }
