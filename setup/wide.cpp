// The crossing to the system's wide interfaces (wide.h): conversions that
// refuse what has no exact form, and one function for each interface the
// program calls with a name.
#include "setup/wide.h"

#include <aclapi.h>
#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <stdlib.h>
#include <string.h>

namespace {

// The program's char strings are UTF-8; a wide text that is not well
// formed (half of a pair) is refused, never replaced by a stand-in.
const UINT kProgramCodePage = CP_UTF8;
const DWORD kNarrowFlags = WC_ERR_INVALID_CHARS;

// Wide text given back by the system, up to a path's longest form.
const DWORD kMostWide = 32768;

// A wide buffer for what the system gives back: a path fits in the fixed
// part; the rest of the way to kMostWide on the heap.
class WideOut {
public:
    WideOut() : data_(fixed_), size_(MAX_PATH) { fixed_[0] = L'\0'; }
    ~WideOut()
    {
        if (data_ != fixed_)
            free(data_);
    }
    WideOut(const WideOut&) = delete;
    WideOut& operator=(const WideOut&) = delete;

    wchar_t* data() { return data_; }
    DWORD size() const { return size_; }
    // Room for n wide characters, terminator included.
    bool Grow(DWORD n)
    {
        if (n <= size_)
            return true;
        if (n > kMostWide)
            return false;
        wchar_t* grown = static_cast<wchar_t*>(malloc(n * sizeof(wchar_t)));
        if (!grown)
            return false;
        if (data_ != fixed_)
            free(data_);
        data_ = grown;
        size_ = n;
        return true;
    }

private:
    wchar_t fixed_[MAX_PATH];
    wchar_t* data_;
    DWORD size_;
};

// The size in the program's text of wide, terminator included; 0 when a
// letter has no exact form there.
DWORD NarrowSize(const wchar_t* wide)
{
    int n = WideCharToMultiByte(kProgramCodePage, kNarrowFlags, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    return static_cast<DWORD>(n);
}

// Hands text the system wrote into wide back as the interfaces' A forms
// do: got is what the wide call returned (its length, or the wide size it
// needs, or 0).
DWORD GiveBack(DWORD got, const wchar_t* wide, DWORD wideSize, char* out, size_t size)
{
    if (got == 0) {
        if (size)
            out[0] = '\0';
        return 0;
    }
    if (got >= wideSize) {
        // Too small even for the wide form: the narrow one takes at most
        // three bytes for each wide character.
        if (size)
            out[0] = '\0';
        return got * 3;
    }
    return FromWide(wide, out, size);
}

// Calls fill (a wide interface that writes text into a buffer and returns
// its length, or the size it needs) and gives the text back, growing the
// wide buffer once when the system asks for more than a path.
template <typename Fill>
DWORD Fetch(char* out, size_t size, Fill fill)
{
    WideOut wide;
    DWORD got = fill(wide.data(), wide.size());
    if (got >= wide.size() && wide.Grow(got + 1))
        got = fill(wide.data(), wide.size());
    return GiveBack(got, wide.data(), wide.size(), out, size);
}

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

// Converts text for a wide call, or returns failed from the function with
// the conversion's error as the last error: a name that has no exact wide
// form reaches no interface.
#define WIDE_OR_FAIL(name, text, failed)                                                                          \
    WideText name(text);                                                                                        \
    if (!name.ok())                                                                                             \
        return failed

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

namespace {

bool IsTextType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// A value name for the registry: null stays null (the key's default value).
bool ValueName(const char* name, WideText& wide) { return !name || wide.Assign(name); }

// Text data of size bytes in code page as wide text with its terminator
// (a list keeps its inner terminators); false when it does not convert.
bool WideData(UINT codePage, const BYTE* data, DWORD size, wchar_t** out, DWORD* bytes)
{
    const char* text = reinterpret_cast<const char*>(data);
    int length = static_cast<int>(size);
    // Without the terminator: one is added.
    while (length > 0 && text[length - 1] == '\0')
        --length;
    int n = length ? MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text, length, nullptr, 0) : 0;
    if (length && n <= 0)
        return false;
    // A list ends in two terminators; any other text in one.
    wchar_t* wide = static_cast<wchar_t*>(calloc(static_cast<size_t>(n) + 2, sizeof(wchar_t)));
    if (!wide)
        return false;
    if (length)
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text, length, wide, n);
    *out = wide;
    *bytes = static_cast<DWORD>((static_cast<size_t>(n) + 1) * sizeof(wchar_t));
    return true;
}

LONG SetText(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size)
{
    WideText wideName;
    if (!ValueName(name, wideName))
        return ERROR_NO_UNICODE_TRANSLATION;
    if (!IsTextType(type))
        return RegSetValueExW(key, name ? wideName.c_str() : nullptr, 0, type, data, size);
    wchar_t* wide = nullptr;
    DWORD bytes = 0;
    if (!WideData(kProgramCodePage, data, size, &wide, &bytes))
        return ERROR_NO_UNICODE_TRANSLATION;
    if (type == REG_MULTI_SZ)
        bytes += sizeof(wchar_t);
    LONG result = RegSetValueExW(key, name ? wideName.c_str() : nullptr, 0, type, reinterpret_cast<BYTE*>(wide), bytes);
    free(wide);
    return result;
}

} // namespace

LONG RegOpenKeyExU(HKEY root, const char* subkey, REGSAM access, HKEY* key)
{
    WIDE_OR_FAIL(wide, subkey, ERROR_NO_UNICODE_TRANSLATION);
    return RegOpenKeyExW(root, wide.c_str(), 0, access, key);
}

LONG RegCreateKeyExU(HKEY root, const char* subkey, REGSAM access, HKEY* key)
{
    WIDE_OR_FAIL(wide, subkey, ERROR_NO_UNICODE_TRANSLATION);
    return RegCreateKeyExW(root, wide.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, key, nullptr);
}

LONG RegDeleteKeyU(HKEY root, const char* subkey)
{
    WIDE_OR_FAIL(wide, subkey, ERROR_NO_UNICODE_TRANSLATION);
    return RegDeleteKeyW(root, wide.c_str());
}

LONG RegDeleteValueU(HKEY key, const char* name)
{
    WideText wide;
    if (!ValueName(name, wide))
        return ERROR_NO_UNICODE_TRANSLATION;
    return RegDeleteValueW(key, name ? wide.c_str() : nullptr);
}

namespace {

// A subkey's or value's name, up to the registry's longest (16383).
template <typename Enumerate>
LONG EnumeratedName(char* out, DWORD* length, Enumerate enumerate)
{
    const DWORD kLongestName = 16384;
    wchar_t* wide = static_cast<wchar_t*>(malloc(kLongestName * sizeof(wchar_t)));
    if (!wide)
        return ERROR_NOT_ENOUGH_MEMORY;
    DWORD wideLength = kLongestName;
    LONG result = enumerate(wide, &wideLength);
    if (result == ERROR_SUCCESS) {
        DWORD n = FromWide(wide, out, *length);
        if (n == 0 && wide[0])
            result = ERROR_NO_UNICODE_TRANSLATION;
        else if (n >= *length)
            result = ERROR_MORE_DATA;
        else
            *length = n;
    }
    free(wide);
    return result;
}

} // namespace

LONG RegEnumKeyExU(HKEY key, DWORD index, char* out, DWORD* length)
{
    return EnumeratedName(out, length, [&](wchar_t* wide, DWORD* wideLength) {
        return RegEnumKeyExW(key, index, wide, wideLength, nullptr, nullptr, nullptr, nullptr);
    });
}

LONG RegEnumValueU(HKEY key, DWORD index, char* out, DWORD* length)
{
    return EnumeratedName(out, length, [&](wchar_t* wide, DWORD* wideLength) {
        return RegEnumValueW(key, index, wide, wideLength, nullptr, nullptr, nullptr, nullptr);
    });
}

LONG RegQueryStoredValue(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size)
{
    WideText wide;
    if (!ValueName(name, wide))
        return ERROR_NO_UNICODE_TRANSLATION;
    return RegQueryValueExW(key, name ? wide.c_str() : nullptr, nullptr, type, data, size);
}

LONG RegSetStoredValue(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size)
{
    WideText wide;
    if (!ValueName(name, wide))
        return ERROR_NO_UNICODE_TRANSLATION;
    return RegSetValueExW(key, name ? wide.c_str() : nullptr, 0, type, data, size);
}

LONG RegQueryValueExU(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size)
{
    DWORD storedType = 0, storedSize = 0;
    LONG result = RegQueryStoredValue(key, name, &storedType, nullptr, &storedSize);
    if (result != ERROR_SUCCESS)
        return result;
    if (type)
        *type = storedType;
    if (!IsTextType(storedType))
        return RegQueryStoredValue(key, name, type, data, size);
    // Text: read whole as wide text, terminated however it was stored.
    DWORD units = storedSize / sizeof(wchar_t);
    wchar_t* wide = static_cast<wchar_t*>(calloc(units + 2, sizeof(wchar_t)));
    if (!wide)
        return ERROR_NOT_ENOUGH_MEMORY;
    result = RegQueryStoredValue(key, name, nullptr, reinterpret_cast<BYTE*>(wide), &storedSize);
    if (result == ERROR_SUCCESS) {
        units = storedSize / sizeof(wchar_t);
        while (units > 0 && wide[units - 1] == L'\0')
            --units;
        // A list's inner terminators are kept: converted as one run.
        int n = units ? WideCharToMultiByte(kProgramCodePage, kNarrowFlags, wide, static_cast<int>(units), nullptr,
                                            0, nullptr, nullptr)
                      : 0;
        DWORD needed = static_cast<DWORD>(n) + (storedType == REG_MULTI_SZ ? 2 : 1);
        if (units && n <= 0) {
            result = ERROR_NO_UNICODE_TRANSLATION;
        } else if (!data) {
            *size = needed;
        } else if (needed > *size) {
            *size = needed;
            result = ERROR_MORE_DATA;
        } else {
            if (n)
                WideCharToMultiByte(kProgramCodePage, kNarrowFlags, wide, static_cast<int>(units), reinterpret_cast<char*>(data),
                                    n, nullptr, nullptr);
            memset(data + n, 0, needed - static_cast<DWORD>(n));
            *size = needed;
        }
    }
    free(wide);
    return result;
}

LONG RegSetValueExU(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size)
{
    return SetText(key, name, type, data, size);
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
    DWORD size = NarrowSize(wide);
    char* narrow = size ? static_cast<char*>(malloc(size)) : nullptr;
    bool ok = narrow && FromWide(wide, narrow, size) == size - 1 && out.Assign(narrow);
    free(narrow);
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

bool StoredDataFromCodePage(DWORD type, const BYTE* data, DWORD size, BYTE** out, DWORD* outSize)
{
    if (!IsTextType(type)) {
        *out = static_cast<BYTE*>(malloc(size ? size : 1));
        if (!*out)
            return false;
        memcpy(*out, data, size);
        *outSize = size;
        return true;
    }
    wchar_t* wide = nullptr;
    if (!WideData(CP_ACP, data, size, &wide, outSize))
        return false;
    if (type == REG_MULTI_SZ)
        *outSize += sizeof(wchar_t);
    *out = reinterpret_cast<BYTE*>(wide);
    return true;
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

namespace {

// A resource's name or type for the wide call: a number stays a number.
bool ResourceName(const char* name, WideText& wide, const wchar_t** out)
{
    if (IS_INTRESOURCE(name)) {
        *out = reinterpret_cast<const wchar_t*>(name);
        return true;
    }
    if (!wide.Assign(name))
        return false;
    *out = wide.c_str();
    return true;
}

} // namespace

HRSRC FindResourceU(HMODULE module, const char* name, const char* type)
{
    WideText wideName, wideType;
    const wchar_t *n = nullptr, *t = nullptr;
    if (!ResourceName(name, wideName, &n) || !ResourceName(type, wideType, &t))
        return nullptr;
    return FindResourceW(module, n, t);
}

int LoadStringU(HINSTANCE module, UINT id, char* out, int size)
{
    if (size <= 0)
        return 0;
    out[0] = '\0';
    // With no buffer the call hands out the string where it lies, not
    // terminated.
    const wchar_t* text = nullptr;
    int n = LoadStringW(module, id, reinterpret_cast<wchar_t*>(&text), 0);
    if (n <= 0 || !text)
        return 0;
    wchar_t* copy = static_cast<wchar_t*>(malloc((static_cast<size_t>(n) + 1) * sizeof(wchar_t)));
    if (!copy)
        return 0;
    memcpy(copy, text, static_cast<size_t>(n) * sizeof(wchar_t));
    copy[n] = L'\0';
    DWORD got = FromWide(copy, out, static_cast<size_t>(size));
    free(copy);
    if (got >= static_cast<DWORD>(size)) {
        out[0] = '\0';
        return 0;
    }
    return static_cast<int>(got);
}

BOOL SetWindowTextU(HWND window, const char* text)
{
    WIDE_OR_FAIL(wide, text, FALSE);
    return SetWindowTextW(window, wide.c_str());
}

BOOL SetDlgItemTextU(HWND dialog, int item, const char* text)
{
    WIDE_OR_FAIL(wide, text, FALSE);
    return SetDlgItemTextW(dialog, item, wide.c_str());
}

int GetWindowTextU(HWND window, char* out, int size)
{
    if (size <= 0)
        return 0;
    int length = GetWindowTextLengthW(window);
    WideOut wide;
    if (length < 0 || !wide.Grow(static_cast<DWORD>(length) + 1)) {
        out[0] = '\0';
        return 0;
    }
    GetWindowTextW(window, wide.data(), static_cast<int>(wide.size()));
    DWORD n = FromWide(wide.data(), out, static_cast<size_t>(size));
    if (n >= static_cast<DWORD>(size)) {
        // As the interface does: cut to fit, here at a whole letter.
        int units = length;
        do {
            wide.data()[--units] = L'\0';
            n = FromWide(wide.data(), out, static_cast<size_t>(size));
        } while (units > 0 && n >= static_cast<DWORD>(size));
    }
    return static_cast<int>(n < static_cast<DWORD>(size) ? n : 0);
}

UINT GetDlgItemTextU(HWND dialog, int item, char* out, int size)
{
    HWND control = GetDlgItem(dialog, item);
    if (!control) {
        if (size > 0)
            out[0] = '\0';
        return 0;
    }
    return static_cast<UINT>(GetWindowTextU(control, out, size));
}

int MessageBoxU(HWND owner, const char* text, const char* caption, UINT style)
{
    WIDE_OR_FAIL(wideText, text, 0);
    WIDE_OR_FAIL(wideCaption, caption, 0);
    return MessageBoxW(owner, wideText.c_str(), wideCaption.c_str(), style);
}

int DrawTextU(HDC dc, const char* text, RECT* rect, UINT format)
{
    WIDE_OR_FAIL(wide, text, 0);
    return DrawTextW(dc, wide.c_str(), -1, rect, format);
}

HFONT CreateFontU(int height, int weight, const char* face)
{
    WIDE_OR_FAIL(wide, face, nullptr);
    // The face's own character set: letters beyond the system's code page
    // are drawn too.
    return CreateFontW(height, 0, 0, 0, weight, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, wide.c_str());
}

HINSTANCE WINAPI ShellExecuteU(HWND window, const char* verb, const char* file, const char* parameters,
                               const char* folder, INT show)
{
    // ShellExecute's way of saying it failed: a value of 32 or less.
    HINSTANCE failed = reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(SE_ERR_NOASSOC));
    WideText wideVerb, wideFile, wideParameters, wideFolder;
    if ((verb && !wideVerb.Assign(verb)) || !wideFile.Assign(file) ||
        (parameters && !wideParameters.Assign(parameters)) || (folder && !wideFolder.Assign(folder)))
        return failed;
    return ShellExecuteW(window, verb ? wideVerb.c_str() : nullptr, wideFile.c_str(),
                         parameters ? wideParameters.c_str() : nullptr, folder ? wideFolder.c_str() : nullptr, show);
}

DWORD GetPrivateProfileStringU(const char* section, const char* key, const char* fallback, char* out, DWORD size,
                               const char* path)
{
    WIDE_OR_FAIL(wideSection, section, 0);
    WIDE_OR_FAIL(wideKey, key, 0);
    WIDE_OR_FAIL(wideFallback, fallback, 0);
    WIDE_OR_FAIL(widePath, path, 0);
    return Fetch(out, size, [&](wchar_t* buffer, DWORD room) {
        DWORD n = GetPrivateProfileStringW(wideSection.c_str(), wideKey.c_str(), wideFallback.c_str(), buffer, room,
                                           widePath.c_str());
        // Cut to fit, it says room - 1: asked again with more room.
        return n + 1 >= room ? room : n;
    });
}

bool GetCommandLineU(Text& out)
{
    const wchar_t* line = GetCommandLineW();
    DWORD size = NarrowSize(line);
    char* narrow = size ? static_cast<char*>(malloc(size)) : nullptr;
    bool ok = narrow && FromWide(line, narrow, size) == size - 1 && out.Assign(narrow);
    free(narrow);
    return ok;
}
