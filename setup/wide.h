// The one crossing between the program's text and the system's wide
// interfaces. Inside, text is UTF-8 in char strings; every call that takes
// or gives a name goes through a function here, which converts at the
// boundary and calls the interface's wide form, so that no letter depends
// on the system's code page. The conversions never guess: text that is
// not well formed is refused (ERROR_NO_UNICODE_TRANSLATION) rather than
// written with a stand-in, so that a folder the user named is that folder
// or none. Only what the program of the ANSI interfaces left behind is
// read in the system's code page (TextFromCodePage).
//
// Each function takes the arguments of the interface it stands for and
// keeps its way of reporting: a handle or FALSE and the last error, and
// for text given back the length written, or the size needed (terminator
// included) when the buffer is too small.
#pragma once

#include <windows.h>
#include <accctrl.h>
#include <shtypes.h>

#include "setup/text.h"

// The program's text as wide text, in a buffer of its own: a path fits in
// the fixed part, longer text goes to the heap.
class WideText {
public:
    WideText();
    explicit WideText(const char* text);
    ~WideText();
    WideText(const WideText&) = delete;
    WideText& operator=(const WideText&) = delete;

    // False (ERROR_NO_UNICODE_TRANSLATION) for text that is not valid in
    // the program's code page, or when memory runs out.
    bool Assign(const char* text);
    // Null when the last Assign failed, or for a null text given.
    const wchar_t* c_str() const { return ok_ ? data_ : nullptr; }
    bool ok() const { return ok_; }

private:
    wchar_t fixed_[kPathBytes];
    wchar_t* data_;
    bool ok_;
};

// Wide text into out (size bytes, terminator included). The length
// written, or the size needed when out is too small (nothing written then
// but an empty text); 0 with ERROR_NO_UNICODE_TRANSLATION when a letter
// has no exact form in the program's text.
DWORD FromWide(const wchar_t* wide, char* out, size_t size);

// True when two texts are the same, letter case aside, as Windows
// compares file names (the same for every user's language); the prefix
// form compares the first n bytes of each.
bool SameTextNoCase(const char* a, const char* b);
bool SamePrefixNoCase(const char* a, const char* b, size_t n);

// Files and folders.
DWORD GetFileAttributesU(const char* path);
BOOL GetFileAttributesExU(const char* path, GET_FILEEX_INFO_LEVELS level, void* data);
BOOL SetFileAttributesU(const char* path, DWORD attributes);
HANDLE CreateFileU(const char* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security, DWORD disposition,
                   DWORD flags, HANDLE templateFile);
BOOL DeleteFileU(const char* path);
BOOL MoveFileExU(const char* from, const char* to, DWORD flags);
BOOL CopyFileU(const char* from, const char* to, BOOL failIfExists);
BOOL CreateDirectoryU(const char* path, SECURITY_ATTRIBUTES* security);
BOOL RemoveDirectoryU(const char* path);
BOOL SetCurrentDirectoryU(const char* path);
// A found entry with its name in the program's text; entries whose name
// has no exact form there are passed over (the caller cannot name them).
struct FoundFile {
    DWORD Attributes;
    char Name[kPathBytes];
};
HANDLE FindFirstFileU(const char* pattern, FoundFile* found);
BOOL FindNextFileU(HANDLE find, FoundFile* found);
DWORD GetFullPathNameU(const char* path, DWORD size, char* out, char** filePart);
DWORD GetLongPathNameU(const char* path, char* out, DWORD size);
BOOL GetDiskFreeSpaceExU(const char* root, ULARGE_INTEGER* available, ULARGE_INTEGER* total, ULARGE_INTEGER* free);
DWORD GetFinalPathNameByHandleU(HANDLE file, char* out, DWORD size, DWORD flags);

// The system's folders and names.
DWORD GetTempPathU(DWORD size, char* out);
UINT GetTempFileNameU(const char* folder, const char* prefix, UINT unique, char* out);
DWORD GetModuleFileNameU(HMODULE module, char* out, DWORD size);
UINT GetSystemDirectoryU(char* out, UINT size);
UINT GetWindowsDirectoryU(char* out, UINT size);
BOOL GetUserNameU(char* out, DWORD* size);
DWORD GetEnvironmentVariableU(const char* name, char* out, DWORD size);
BOOL SetEnvironmentVariableU(const char* name, const char* value);

// Programs, libraries and named objects.
// Starts program with commandLine (both in the program's text; the
// command line is copied, so it may be constant), its window shown as
// show says.
BOOL CreateProcessU(const char* program, const char* commandLine, BOOL inheritHandles, DWORD flags,
                    const char* folder, PROCESS_INFORMATION* process, WORD show = SW_SHOWDEFAULT);
HMODULE LoadLibraryExU(const char* path, DWORD flags);
HANDLE CreateMutexU(SECURITY_ATTRIBUTES* security, BOOL initialOwner, const char* name);
HANDLE OpenMutexU(DWORD access, BOOL inherit, const char* name);

// Security of named objects (a path), errors as the interfaces return them.
DWORD GetNamedSecurityInfoU(const char* path, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID* owner,
                            PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor);
DWORD SetNamedSecurityInfoU(const char* path, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID owner,
                            PSID group, PACL dacl, PACL sacl);

// The shell's folders: out holds kPathBytes bytes.
BOOL SHGetPathFromIDListU(PCIDLIST_ABSOLUTE list, char* out);

// The registry. Names, and the data of text values (REG_SZ,
// REG_EXPAND_SZ, REG_MULTI_SZ), in the program's text; sizes in its
// bytes. Errors as the registry's own. Keys are opened, created and
// deleted in the view registry_view.h chose.
LONG RegOpenKeyExU(HKEY root, const char* subkey, REGSAM access, HKEY* key);
LONG RegCreateKeyExU(HKEY root, const char* subkey, REGSAM access, HKEY* key);
LONG RegDeleteKeyU(HKEY root, const char* subkey);
LONG RegDeleteValueU(HKEY key, const char* name);
// The name of the index'th subkey or value; *length: out's size in, the
// name's length out.
LONG RegEnumKeyExU(HKEY key, DWORD index, char* out, DWORD* length);
LONG RegEnumValueU(HKEY key, DWORD index, char* out, DWORD* length);
// A value's type and data; data may be null to learn the size. A text
// value's data is given with its terminator, stored with one or not.
LONG RegQueryValueExU(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size);
LONG RegSetValueExU(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size);
// A value's data exactly as the registry keeps it (text as wide text), for
// giving a value back as it was.
LONG RegQueryStoredValue(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size);
LONG RegSetStoredValue(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size);

// What the program of the ANSI interfaces left in the system's code page
// (the journal of a run it did not finish): text in the program's text,
// and the data of a text value as the registry keeps it (*out the
// caller's to free). False when it does not convert.
bool TextFromCodePage(const char* text, Text& out);
bool TextToCodePage(const char* text, Text& out);
bool StoredDataFromCodePage(DWORD type, const BYTE* data, DWORD size, BYTE** out, DWORD* outSize);

// Security descriptors and names in their text forms.
BOOL ConvertStringSecurityDescriptorToSecurityDescriptorU(const char* sddl, DWORD revision,
                                                          PSECURITY_DESCRIPTOR* descriptor);
// The SID as "S-1-5-...", into out (size bytes).
BOOL ConvertSidToStringSidU(PSID sid, char* out, size_t size);
BOOL LookupPrivilegeValueU(const char* name, LUID* luid);

// Resources: a name or type is text, or a number (MAKEINTRESOURCEA).
HRSRC FindResourceU(HMODULE module, const char* name, const char* type);
// Counted wide text (a string table's, not terminated) into out (size
// bytes); its length, 0 when it does not fit (out is then "").
int FromWideCounted(const wchar_t* text, int length, char* out, int size);

// Windows and their texts.
BOOL SetWindowTextU(HWND window, const char* text);
BOOL SetDlgItemTextU(HWND dialog, int item, const char* text);
int GetWindowTextU(HWND window, char* out, int size);
UINT GetDlgItemTextU(HWND dialog, int item, char* out, int size);
int MessageBoxU(HWND owner, const char* text, const char* caption, UINT style);
int DrawTextU(HDC dc, const char* text, RECT* rect, UINT format);
HFONT CreateFontU(int height, int weight, const char* face);

// The shell and the profile files.
HINSTANCE WINAPI ShellExecuteU(HWND window, const char* verb, const char* file, const char* parameters,
                               const char* folder, INT show);
DWORD GetPrivateProfileStringU(const char* section, const char* key, const char* fallback, char* out, DWORD size,
                               const char* path);
// The program's command line in the program's text; false when it has a
// letter the program's text cannot hold.
bool GetCommandLineU(Text& out);
