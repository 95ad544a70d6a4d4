// The crossing to the system's wide interfaces (wide.h): conversions that
// refuse what has no exact form, and the interfaces of files, folders, the
// system's names, programs and security. The registry's are in
// wide_registry.cpp, the windows' and the shell's in wide_windows.cpp.
#include "setup/wide_internal.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

namespace {

// The entry's name in the program's text; false when it has none.
bool NarrowFound(const WIN32_FIND_DATAW& wide, FoundFile* found)
{
    DWORD n = FromWide(wide.cFileName, found->Name, sizeof found->Name);
    if (n == 0 || n >= sizeof found->Name)
        return false;
    found->Attributes = wide.dwFileAttributes;
    return true;
}

} // namespace

WideText::WideText() : data_(fixed_), ok_(false) { fixed_[0] = L'\0'; }

WideText::WideText(const char* text) : data_(fixed_), ok_(false)
{
    fixed_[0] = L'\0';
    Assign(text);
}

WideText::~WideText()
{
    if (data_ != fixed_)
        free(data_);
}

bool WideText::Assign(const char* text)
{
    ok_ = false;
    if (!text)
        return false;
    int n = MultiByteToWideChar(kProgramCodePage, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (n <= 0) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return false;
    }
    wchar_t* target = fixed_;
    if (static_cast<size_t>(n) > sizeof fixed_ / sizeof fixed_[0]) {
        target = static_cast<wchar_t*>(malloc(static_cast<size_t>(n) * sizeof(wchar_t)));
        if (!target) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
    }
    MultiByteToWideChar(kProgramCodePage, MB_ERR_INVALID_CHARS, text, -1, target, n);
    if (data_ != fixed_ && data_ != target)
        free(data_);
    data_ = target;
    ok_ = true;
    return true;
}

DWORD FromWide(const wchar_t* wide, char* out, size_t size)
{
    DWORD needed = NarrowSize(wide);
    if (needed == 0) {
        if (size)
            out[0] = '\0';
        return 0;
    }
    if (needed > size) {
        if (size)
            out[0] = '\0';
        return needed;
    }
    WideCharToMultiByte(kProgramCodePage, kNarrowFlags, wide, -1, out, static_cast<int>(size), nullptr, nullptr);
    return needed - 1;
}


DWORD GetFileAttributesU(const char* path)
{
    WIDE_OR_FAIL(wide, path, INVALID_FILE_ATTRIBUTES);
    return GetFileAttributesW(wide.c_str());
}

BOOL GetFileAttributesExU(const char* path, GET_FILEEX_INFO_LEVELS level, void* data)
{
    WIDE_OR_FAIL(wide, path, FALSE);
    return GetFileAttributesExW(wide.c_str(), level, data);
}

BOOL SetFileAttributesU(const char* path, DWORD attributes)
{
    WIDE_OR_FAIL(wide, path, FALSE);
    return SetFileAttributesW(wide.c_str(), attributes);
}

HANDLE CreateFileU(const char* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security, DWORD disposition,
                   DWORD flags, HANDLE templateFile)
{
    WIDE_OR_FAIL(wide, path, INVALID_HANDLE_VALUE);
    return CreateFileW(wide.c_str(), access, share, security, disposition, flags, templateFile);
}

BOOL DeleteFileU(const char* path)
{
    WIDE_OR_FAIL(wide, path, FALSE);
    return DeleteFileW(wide.c_str());
}

BOOL MoveFileExU(const char* from, const char* to, DWORD flags)
{
    WIDE_OR_FAIL(wideFrom, from, FALSE);
    // A null target deletes the file at the restart.
    WideText wideTo;
    if (to && !wideTo.Assign(to))
        return FALSE;
    return MoveFileExW(wideFrom.c_str(), to ? wideTo.c_str() : nullptr, flags);
}

BOOL CopyFileU(const char* from, const char* to, BOOL failIfExists)
{
    WIDE_OR_FAIL(wideFrom, from, FALSE);
    WIDE_OR_FAIL(wideTo, to, FALSE);
    return CopyFileW(wideFrom.c_str(), wideTo.c_str(), failIfExists);
}

BOOL CreateDirectoryU(const char* path, SECURITY_ATTRIBUTES* security)
{
    WIDE_OR_FAIL(wide, path, FALSE);
    return CreateDirectoryW(wide.c_str(), security);
}

BOOL RemoveDirectoryU(const char* path)
{
    WIDE_OR_FAIL(wide, path, FALSE);
    return RemoveDirectoryW(wide.c_str());
}

BOOL SetCurrentDirectoryU(const char* path)
{
    WIDE_OR_FAIL(wide, path, FALSE);
    return SetCurrentDirectoryW(wide.c_str());
}

HANDLE FindFirstFileU(const char* pattern, FoundFile* found)
{
    WIDE_OR_FAIL(wide, pattern, INVALID_HANDLE_VALUE);
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(wide.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return find;
    if (NarrowFound(entry, found) || FindNextFileU(find, found))
        return find;
    DWORD error = GetLastError();
    FindClose(find);
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

BOOL FindNextFileU(HANDLE find, FoundFile* found)
{
    WIN32_FIND_DATAW entry;
    while (FindNextFileW(find, &entry))
        if (NarrowFound(entry, found))
            return TRUE;
    return FALSE;
}

DWORD GetFullPathNameU(const char* path, DWORD size, char* out, char** filePart)
{
    WIDE_OR_FAIL(wide, path, 0);
    DWORD n = Fetch(out, size, [&](wchar_t* buffer, DWORD room) {
        return GetFullPathNameW(wide.c_str(), room, buffer, nullptr);
    });
    if (filePart && n > 0 && n < size) {
        char* name = strrchr(out, '\\');
        *filePart = name && name[1] ? name + 1 : nullptr;
    }
    return n;
}

DWORD GetLongPathNameU(const char* path, char* out, DWORD size)
{
    WIDE_OR_FAIL(wide, path, 0);
    return Fetch(out, size, [&](wchar_t* buffer, DWORD room) { return GetLongPathNameW(wide.c_str(), buffer, room); });
}

BOOL GetDiskFreeSpaceExU(const char* root, ULARGE_INTEGER* available, ULARGE_INTEGER* total, ULARGE_INTEGER* free)
{
    WIDE_OR_FAIL(wide, root, FALSE);
    return GetDiskFreeSpaceExW(wide.c_str(), available, total, free);
}

DWORD GetFinalPathNameByHandleU(HANDLE file, char* out, DWORD size, DWORD flags)
{
    return Fetch(out, size,
                 [&](wchar_t* buffer, DWORD room) { return GetFinalPathNameByHandleW(file, buffer, room, flags); });
}

DWORD GetTempPathU(DWORD size, char* out)
{
    return Fetch(out, size, [&](wchar_t* buffer, DWORD room) { return GetTempPathW(room, buffer); });
}

UINT GetTempFileNameU(const char* folder, const char* prefix, UINT unique, char* out)
{
    WIDE_OR_FAIL(wideFolder, folder, 0);
    WIDE_OR_FAIL(widePrefix, prefix, 0);
    WideOut name;
    UINT got = GetTempFileNameW(wideFolder.c_str(), widePrefix.c_str(), unique, name.data());
    if (got == 0)
        return 0;
    // out holds kPathBytes bytes (MAX_PATH characters);
    // the name the system reserved goes again when it cannot be named.
    DWORD n = FromWide(name.data(), out, kPathBytes);
    if (n == 0 || n >= kPathBytes) {
        if (unique == 0)
            DeleteFileW(name.data());
        SetLastError(n == 0 ? ERROR_NO_UNICODE_TRANSLATION : ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    return got;
}

DWORD GetModuleFileNameU(HMODULE module, char* out, DWORD size)
{
    // The wide form cuts a long name rather than saying how long it is:
    // a name that fills the buffer is taken for one that was cut.
    WideOut wide;
    DWORD got = GetModuleFileNameW(module, wide.data(), wide.size());
    if (got >= wide.size() && wide.Grow(kMostWide))
        got = GetModuleFileNameW(module, wide.data(), wide.size());
    if (got >= wide.size())
        got = 0;
    DWORD n = GiveBack(got, wide.data(), wide.size(), out, size);
    // As the A form: a name that does not fit is cut, and the size given.
    return n >= size ? size : n;
}

UINT GetSystemDirectoryU(char* out, UINT size)
{
    return Fetch(out, size, [&](wchar_t* buffer, DWORD room) { return GetSystemDirectoryW(buffer, room); });
}

UINT GetWindowsDirectoryU(char* out, UINT size)
{
    return Fetch(out, size, [&](wchar_t* buffer, DWORD room) { return GetWindowsDirectoryW(buffer, room); });
}

BOOL GetUserNameU(char* out, DWORD* size)
{
    WideOut wide;
    DWORD room = wide.size();
    if (!GetUserNameW(wide.data(), &room))
        return FALSE;
    DWORD n = FromWide(wide.data(), out, *size);
    if (n == 0 || n >= *size) {
        if (n >= *size)
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
        *size = n == 0 ? *size : n;
        return FALSE;
    }
    *size = n + 1;
    return TRUE;
}

DWORD GetEnvironmentVariableU(const char* name, char* out, DWORD size)
{
    WIDE_OR_FAIL(wide, name, 0);
    return Fetch(out, size,
                 [&](wchar_t* buffer, DWORD room) { return GetEnvironmentVariableW(wide.c_str(), buffer, room); });
}

BOOL SetEnvironmentVariableU(const char* name, const char* value)
{
    WIDE_OR_FAIL(wideName, name, FALSE);
    // A null value removes the variable.
    WideText wideValue;
    if (value && !wideValue.Assign(value))
        return FALSE;
    return SetEnvironmentVariableW(wideName.c_str(), value ? wideValue.c_str() : nullptr);
}

BOOL CreateProcessU(const char* program, const char* commandLine, BOOL inheritHandles, DWORD flags,
                    const char* folder, PROCESS_INFORMATION* process, WORD show)
{
    WIDE_OR_FAIL(wideProgram, program, FALSE);
    // The wide form may write into its command line: WideText's own copy.
    WIDE_OR_FAIL(wideCommand, commandLine, FALSE);
    WideText wideFolder;
    if (folder && !wideFolder.Assign(folder))
        return FALSE;
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    if (show != SW_SHOWDEFAULT) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = show;
    }
    return CreateProcessW(wideProgram.c_str(), const_cast<wchar_t*>(wideCommand.c_str()), nullptr, nullptr,
                          inheritHandles, flags, nullptr, folder ? wideFolder.c_str() : nullptr, &startup, process);
}

HMODULE LoadLibraryExU(const char* path, DWORD flags)
{
    WIDE_OR_FAIL(wide, path, nullptr);
    return LoadLibraryExW(wide.c_str(), nullptr, flags);
}

HANDLE CreateMutexU(SECURITY_ATTRIBUTES* security, BOOL initialOwner, const char* name)
{
    WIDE_OR_FAIL(wide, name, nullptr);
    return CreateMutexW(security, initialOwner, wide.c_str());
}

HANDLE OpenMutexU(DWORD access, BOOL inherit, const char* name)
{
    WIDE_OR_FAIL(wide, name, nullptr);
    return OpenMutexW(access, inherit, wide.c_str());
}

DWORD GetNamedSecurityInfoU(const char* path, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID* owner,
                            PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor)
{
    WIDE_OR_FAIL(wide, path, ERROR_NO_UNICODE_TRANSLATION);
    return GetNamedSecurityInfoW(wide.c_str(), type, what, owner, group, dacl, sacl, descriptor);
}

DWORD SetNamedSecurityInfoU(const char* path, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID owner,
                            PSID group, PACL dacl, PACL sacl)
{
    WIDE_OR_FAIL(wide, path, ERROR_NO_UNICODE_TRANSLATION);
    return SetNamedSecurityInfoW(const_cast<wchar_t*>(wide.c_str()), type, what, owner, group, dacl, sacl);
}

BOOL SHGetPathFromIDListU(PCIDLIST_ABSOLUTE list, char* out)
{
    wchar_t wide[MAX_PATH];
    if (!SHGetPathFromIDListW(list, wide))
        return FALSE;
    DWORD n = FromWide(wide, out, kPathBytes);
    return n > 0 && n < kPathBytes;
}

bool TextFromCodePage(const char* text, Text& out)
{
    int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (n <= 0)
        return false;
    wchar_t* wide = static_cast<wchar_t*>(malloc(static_cast<size_t>(n) * sizeof(wchar_t)));
    if (!wide)
        return false;
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, wide, n);
    bool ok = AssignFromWide(wide, out);
    free(wide);
    return ok;
}

bool TextToCodePage(const char* text, Text& out)
{
    WideText wide(text);
    if (!wide.ok())
        return false;
    BOOL guessed = FALSE;
    int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, nullptr, 0, nullptr, &guessed);
    if (n <= 0 || guessed)
        return false;
    char* narrow = static_cast<char*>(malloc(static_cast<size_t>(n)));
    bool ok = narrow &&
              WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, narrow, n, nullptr, nullptr) == n &&
              out.Assign(narrow);
    free(narrow);
    return ok;
}

namespace {

bool SameWideNoCase(const char* a, int an, const char* b, int bn)
{
    int wa = MultiByteToWideChar(kProgramCodePage, MB_ERR_INVALID_CHARS, a, an, nullptr, 0);
    int wb = MultiByteToWideChar(kProgramCodePage, MB_ERR_INVALID_CHARS, b, bn, nullptr, 0);
    if (wa <= 0 || wb <= 0 || wa != wb)
        return false;
    wchar_t* wide = static_cast<wchar_t*>(malloc(2 * static_cast<size_t>(wa) * sizeof(wchar_t)));
    if (!wide)
        return false;
    MultiByteToWideChar(kProgramCodePage, MB_ERR_INVALID_CHARS, a, an, wide, wa);
    MultiByteToWideChar(kProgramCodePage, MB_ERR_INVALID_CHARS, b, bn, wide + wa, wb);
    bool same = CompareStringOrdinal(wide, wa, wide + wa, wb, TRUE) == CSTR_EQUAL;
    free(wide);
    return same;
}

} // namespace

bool SameTextNoCase(const char* a, const char* b)
{
    // Most comparisons meet the same bytes, or differ in plain letters.
    if (strcmp(a, b) == 0)
        return true;
    return SameWideNoCase(a, static_cast<int>(strlen(a)), b, static_cast<int>(strlen(b)));
}

bool SamePrefixNoCase(const char* a, const char* b, size_t n)
{
    if (n == 0 || strncmp(a, b, n) == 0)
        return true;
    if (strnlen(a, n) < n || strnlen(b, n) < n)
        return false;
    return SameWideNoCase(a, static_cast<int>(n), b, static_cast<int>(n));
}

BOOL ConvertStringSecurityDescriptorToSecurityDescriptorU(const char* sddl, DWORD revision,
                                                          PSECURITY_DESCRIPTOR* descriptor)
{
    WIDE_OR_FAIL(wide, sddl, FALSE);
    return ConvertStringSecurityDescriptorToSecurityDescriptorW(wide.c_str(), revision, descriptor, nullptr);
}

BOOL ConvertSidToStringSidU(PSID sid, char* out, size_t size)
{
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text))
        return FALSE;
    DWORD n = FromWide(text, out, size);
    LocalFree(text);
    return n > 0 && n < size;
}

BOOL LookupPrivilegeValueU(const char* name, LUID* luid)
{
    WIDE_OR_FAIL(wide, name, FALSE);
    return LookupPrivilegeValueW(nullptr, wide.c_str(), luid);
}
