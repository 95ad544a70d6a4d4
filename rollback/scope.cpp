// The installation's scope: one product installed for every user of the
// machine (the machine's hive, Program Files, the common application
// data) or for the installing user alone (that user's hive and folders).
// A process works in one scope, set before it changes anything; the
// journal, the private folders and the run lock take their places from
// it, and in the user's scope nothing machine-wide is changed or undone.
#include "rollback/rollback.h"
#include "setup/wide.h"

#include <sddl.h>
#include <shlobj.h>
#include <string.h>

namespace {

InstallScope Scope = SCOPE_MACHINE;

// Worked out once, when the user's scope is first set: the process's
// account never changes, and the shell is slow to ask.
bool UserKnown = false;
char UserSid[SECURITY_MAX_SID_SIZE];
char UserSidText[192];
char LockSuffix[200];
bool MachineFoldersKnown = false;
TextList MachineFolders;

const char kWindowsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

void LearnUser()
{
    if (UserKnown)
        return;
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return;
    char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD got = 0;
    UserKnown = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &got) &&
                CopySid(sizeof UserSid, UserSid, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid) &&
                ConvertSidToStringSidU(UserSid, UserSidText, sizeof UserSidText);
    CloseHandle(token);
    if (UserKnown) {
        CopyBounded(LockSuffix, sizeof LockSuffix, " for ");
        AppendBounded(LockSuffix, sizeof LockSuffix, UserSidText);
    }
}

void AddFolderAsNamed(const char* folder)
{
    char path[kPathBytes];
    if (!folder[0] || !CopyBounded(path, sizeof path, folder))
        return;
    size_t n = strlen(path);
    if (n > 3 && path[n - 1] == '\\')
        path[n - 1] = '\0';
    for (size_t i = 0; i < MachineFolders.Count(); ++i)
        if (SameTextNoCase(MachineFolders.At(i), path))
            return;
    MachineFolders.Add(path);
}

// A folder by its name and by its final path, which is what a path
// through a link, a short name or another drive letter resolves to.
void AddFolder(const char* folder)
{
    AddFolderAsNamed(folder);
    char final[kPathBytes];
    FinalFormOfPath(folder, final, sizeof final);
    AddFolderAsNamed(final);
}

// The folders every user of the machine shares, which only administrators
// may change: Windows, the programs' folders of both views, the common
// application data, the all-users Start menu and desktop.
void LearnMachineFolders()
{
    if (MachineFoldersKnown)
        return;
    MachineFoldersKnown = true;
    static const int kFolders[] = {CSIDL_WINDOWS,          CSIDL_PROGRAM_FILES,           CSIDL_PROGRAM_FILESX86,
                                   CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_COMMON_APPDATA,
                                   CSIDL_COMMON_STARTMENU, CSIDL_COMMON_DESKTOPDIRECTORY};
    for (int csidl : kFolders) {
        LPITEMIDLIST items = nullptr;
        if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &items)) || !items)
            continue;
        char path[kPathBytes];
        if (SHGetPathFromIDListU(items, path))
            AddFolder(path);
        CoTaskMemFree(items);
    }
    // A 32-bit program on 64-bit Windows learns the 64-bit programs'
    // folders only under these names.
    HKEY key;
    if (RegOpenKeyExU(HKEY_LOCAL_MACHINE, kWindowsKey, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return;
    static const char* const kValues[] = {"ProgramFilesDir", "CommonFilesDir", "ProgramW6432Dir", "CommonW6432Dir"};
    for (const char* name : kValues) {
        char path[kPathBytes];
        DWORD size = sizeof path - 1, type = 0;
        if (RegQueryValueExU(key, name, &type, reinterpret_cast<BYTE*>(path), &size) == ERROR_SUCCESS &&
            type == REG_SZ) {
            path[size] = '\0';
            AddFolder(path);
        }
    }
    RegCloseKey(key);
}

// path in its long form as far as it exists ("C:\PROGRA~1\New" is
// "C:\Program Files\New"): a short name must not hide a machine-wide
// folder.
void LongForm(const char* path, char* out, size_t size)
{
    char copy[kPathBytes];
    if (!CopyBounded(copy, sizeof copy, path)) {
        CopyBounded(out, size, path);
        return;
    }
    for (size_t cut = strlen(copy); cut > 2; --cut) {
        if (copy[cut] != '\\' && copy[cut] != '\0')
            continue;
        char saved = copy[cut];
        copy[cut] = '\0';
        char longer[kPathBytes];
        DWORD got = GetLongPathNameU(copy, longer, sizeof longer);
        copy[cut] = saved;
        if (got > 0 && got < sizeof longer) {
            CopyBounded(out, size, longer);
            AppendBounded(out, size, copy + cut);
            return;
        }
    }
    CopyBounded(out, size, copy);
}

bool IsFolderOrBelow(const char* path, const char* folder)
{
    size_t n = strlen(folder);
    return _strnicmp(path, folder, n) == 0 && (path[n] == '\0' || path[n] == '\\');
}

} // namespace

void SetInstallScope(InstallScope scope)
{
    Scope = scope;
    if (scope == SCOPE_USER) {
        LearnUser();
        LearnMachineFolders();
    }
}

InstallScope CurrentInstallScope() { return Scope; }

const char* InstallScopeName(InstallScope scope) { return scope == SCOPE_USER ? "user" : "machine"; }

bool InstallScopeFromName(const char* name, InstallScope* scope)
{
    if (!name[0] || SameTextNoCase(name, "machine")) {
        *scope = SCOPE_MACHINE;
        return true;
    }
    if (SameTextNoCase(name, "user")) {
        *scope = SCOPE_USER;
        return true;
    }
    return false;
}

HKEY ScopeRegistryRoot() { return Scope == SCOPE_USER ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

bool IsRootOfScope(HKEY root)
{
    return root == HKEY_CURRENT_USER || (root == HKEY_LOCAL_MACHINE && Scope == SCOPE_MACHINE);
}

bool IsMachineWidePath(const char* path)
{
    LearnMachineFolders();
    // Compared as it stands, in its long form (a short name "PROGRA~1"
    // must not hide a machine-wide folder) and in its final form (nor a
    // link or a drive letter mapped onto one).
    char full[kPathBytes], final[kPathBytes];
    if (strchr(path, '~'))
        LongForm(path, full, sizeof full);
    else
        CopyBounded(full, sizeof full, path);
    FinalFormOfPath(path, final, sizeof final);
    for (size_t i = 0; i < MachineFolders.Count(); ++i)
        if (IsFolderOrBelow(path, MachineFolders.At(i)) || IsFolderOrBelow(full, MachineFolders.At(i)) ||
            IsFolderOrBelow(final, MachineFolders.At(i)))
            return true;
    return false;
}

bool IsPathOfScope(const char* path) { return Scope == SCOPE_MACHINE || !IsMachineWidePath(path); }

const char* CurrentUserSidText()
{
    LearnUser();
    return UserKnown ? UserSidText : "";
}

bool IsCurrentUserSid(PSID sid)
{
    LearnUser();
    return UserKnown && sid && EqualSid(UserSid, sid);
}

const char* ScopeRunLockSuffix()
{
    if (Scope == SCOPE_MACHINE)
        return "";
    LearnUser();
    return LockSuffix;
}

HANDLE CreateScopeMutex(const char* name)
{
    if (Scope == SCOPE_MACHINE || !UserKnown)
        return CreateMutexU(nullptr, FALSE, name);
    // The user's own tokens, elevated or not, must open the same lock: a
    // default access list made by an elevated token would shut out the
    // ordinary one, which would then take a lock of its own.
    char sddl[256];
    CopyBounded(sddl, sizeof sddl, "D:P(A;;GA;;;SY)(A;;GA;;;");
    AppendBounded(sddl, sizeof sddl, UserSidText);
    AppendBounded(sddl, sizeof sddl, ")");
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorU(sddl, SDDL_REVISION_1, &security.lpSecurityDescriptor))
        return CreateMutexU(nullptr, FALSE, name);
    HANDLE mutex = CreateMutexU(&security, FALSE, name);
    LocalFree(security.lpSecurityDescriptor);
    return mutex;
}
