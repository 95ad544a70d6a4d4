// Folders that only administrators can change: made with, or given, a
// descriptor that grants Administrators and SYSTEM full control and nobody
// else any right, and checked by reading the descriptor back. An elevated
// program keeps here what it will act on later (the journal of a run), so
// that a standard user can neither forge nor swap it. A per-user
// installation keeps the same things in the user's local application
// data, in folders that the user owns and that grant the user and SYSTEM
// alone any right.
#include "rollback/admin_folder.h"
#include "rollback/cut_points.h"
#include "rollback/rollback.h"
#include "setup/wide.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>
#include <stdio.h>
#include <string.h>

namespace {

// Owner Administrators; protected from inheritance; full control for
// SYSTEM and Administrators, passed on to files and sub-folders.
const char kAdminOnlySddl[] = "O:BAG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// The maker's folder is "<maker> Setup".
const char kMakerFolderSuffix[] = " Setup";

// True when sid is the account this program runs as, and that account is
// an administrator here (an elevated token). Files an elevated program
// makes may be owned by its account rather than by the Administrators
// group, depending on the system's policy; Wine always does so.
bool IsOwnAdministratorAccount(PSID sid)
{
    // Asked for every entry of every descriptor checked: the answer about
    // the process's own token is worked out once.
    static int known = 0; // 1 an administrator, -1 not (or unknown)
    static char own[SECURITY_MAX_SID_SIZE];
    if (known == 0) {
        known = -1;
        char administrators[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof administrators;
        BOOL member = FALSE;
        HANDLE token;
        if (CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) &&
            CheckTokenMembership(nullptr, administrators, &member) && member &&
            OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
            char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
            DWORD got = 0;
            if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &got) &&
                CopySid(sizeof own, own, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid))
                known = 1;
            CloseHandle(token);
        }
    }
    return known == 1 && EqualSid(own, sid);
}

bool IsTrustedSid(PSID sid)
{
    return sid && (IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || IsWellKnownSid(sid, WinLocalSystemSid) ||
                   IsOwnAdministratorAccount(sid) ||
                   (CurrentInstallScope() == SCOPE_USER && IsCurrentUserSid(sid)));
}

// Turns on one privilege of the process token, if the token has it: an
// administrator may take over a folder whose owner is somebody else.
void EnablePrivilege(const char* name)
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueU(name, &privileges.Privileges[0].Luid))
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    CloseHandle(token);
}

// Gives an existing folder the administrators-only owner and access list.
bool ApplyAdminOnly(const char* folder)
{
    PSECURITY_DESCRIPTOR descriptor = NewAdminOnlyDescriptor();
    if (!descriptor)
        return false;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL ownerDefaulted = FALSE, present = FALSE, daclDefaulted = FALSE;
    bool ok = false;
    if (GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted) &&
        GetSecurityDescriptorDacl(descriptor, &present, &dacl, &daclDefaulted) && present) {
        SECURITY_INFORMATION what =
            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
        char path[kPathBytes];
        CopyBounded(path, sizeof path, folder);
        DWORD result = SetNamedSecurityInfoU(path, SE_FILE_OBJECT, what, owner, nullptr, dacl, nullptr);
        if (result != ERROR_SUCCESS) {
            EnablePrivilege("SeTakeOwnershipPrivilege");
            EnablePrivilege("SeRestorePrivilege");
            result = SetNamedSecurityInfoU(path, SE_FILE_OBJECT, what, owner, nullptr, dacl, nullptr);
        }
        ok = result == ERROR_SUCCESS;
    }
    LocalFree(descriptor);
    return ok;
}

bool IsPlainName(const char* name)
{
    size_t n = strlen(name);
    if (n == 0 || n > 200 || name[n - 1] == '.' || name[n - 1] == ' ')
        return false;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(name); *c; ++c)
        if (*c < 0x20 || strchr("\\/:*?\"<>|", *c))
            return false;
    return strcmp(name, ".") != 0 && strcmp(name, "..") != 0;
}

} // namespace

PSECURITY_DESCRIPTOR NewAdminOnlyDescriptor()
{
    char sddl[256];
    CopyBounded(sddl, sizeof sddl, kAdminOnlySddl);
    if (CurrentInstallScope() == SCOPE_USER) {
        // The user's own: the user owns it, SYSTEM (backups, the profile's
        // own care) keeps its way in, and no other account, administrators
        // included, is given any right.
        const char* user = CurrentUserSidText();
        if (!user[0])
            return nullptr;
        CopyBounded(sddl, sizeof sddl, "O:");
        AppendBounded(sddl, sizeof sddl, user);
        AppendBounded(sddl, sizeof sddl, "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;");
        AppendBounded(sddl, sizeof sddl, user);
        AppendBounded(sddl, sizeof sddl, ")");
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorU(sddl, SDDL_REVISION_1, &descriptor))
        return nullptr;
    return descriptor;
}

bool IsAdminOnly(const char* path)
{
    char copy[kPathBytes];
    if (!CopyBounded(copy, sizeof copy, path))
        return false;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoU(copy, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                              nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    // No access list at all would let everybody in.
    bool trusted = IsTrustedSid(owner) && dacl != nullptr;
    for (DWORD i = 0; trusted && i < dacl->AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) {
            trusted = false;
        } else if (ace->AceType == ACCESS_ALLOWED_ACE_TYPE) {
            trusted = IsTrustedSid(&reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart);
        } else if (ace->AceType != ACCESS_DENIED_ACE_TYPE) {
            // Object and callback entries grant in ways not checked here.
            trusted = false;
        }
    }
    LocalFree(descriptor);
    return trusted;
}

bool CreateAdminOnlyFolder(const char* folder)
{
    DWORD attributes = GetFileAttributesU(folder);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        // A link could lead anywhere, and a file is no folder.
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return false;
        if (IsAdminOnly(folder))
            return true;
        // Somebody else made it: nothing in it can be trusted. It is moved
        // out of the way whole, so that the folder starts empty and ours;
        // when it cannot be moved, it is taken over where it stands.
        char away[kPathBytes + 16];
        FormatText(away, sizeof away, "%s.untrusted-%08lX", folder, static_cast<unsigned long>(RandomNumber()));
        if (!MoveFileExU(folder, away, 0))
            return ApplyAdminOnly(folder) && IsAdminOnly(folder);
    }
    SECURITY_ATTRIBUTES security = {sizeof security, NewAdminOnlyDescriptor(), FALSE};
    BOOL made = security.lpSecurityDescriptor && CreateDirectoryU(folder, &security);
    LocalFree(security.lpSecurityDescriptor);
    if (!made)
        return false;
    PassCutPoint();
    // Read back: a system that ignored the descriptor gets it set.
    return IsAdminOnly(folder) || (ApplyAdminOnly(folder) && IsAdminOnly(folder));
}

namespace {

// "<common application data>\<makerName> Setup" into path (the user's
// local application data in the user's scope); false when the system does
// not name a plain folder for it, or the maker's name is not a plain name.
bool MakerAdminFolder(const char* makerName, char* path, size_t size)
{
    // The shell is asked once per process and scope: it is slow to ask.
    static char folders[2][kPathBytes] = {"", ""};
    bool user = CurrentInstallScope() == SCOPE_USER;
    char* common = folders[user ? 1 : 0];
    if (!common[0]) {
        LPITEMIDLIST items = nullptr;
        if (FAILED(SHGetSpecialFolderLocation(nullptr, user ? CSIDL_LOCAL_APPDATA : CSIDL_COMMON_APPDATA, &items)) ||
            !items)
            return false;
        BOOL found = SHGetPathFromIDListU(items, common);
        CoTaskMemFree(items);
        if (!found || !IsPlainFullPath(common)) {
            common[0] = '\0';
            return false;
        }
    }
    return IsPlainName(makerName) && CopyBounded(path, size, common) && AppendBounded(path, size, "\\") &&
           AppendBounded(path, size, makerName) && AppendBounded(path, size, kMakerFolderSuffix);
}

} // namespace

bool GetMakerAdminFolder(const char* makerName, char* folder, size_t size)
{
    char path[kPathBytes];
    return MakerAdminFolder(makerName, path, sizeof path) && CreateAdminOnlyFolder(path) && CopyBounded(folder, size, path);
}

bool CreateRandomAdminFolder(const char* parent, const char* prefix, char* folder, size_t size,
                             void (*announce)(const char* folder, void* context), void* context)
{
    // A parent anybody could write would let a folder of ours be swapped.
    if (!IsAdminOnly(parent))
        return false;
    for (int attempt = 0; attempt < 8; ++attempt) {
        char path[kPathBytes];
        FormatText(path, sizeof path, "%s\\%s%08lX", parent, prefix, static_cast<unsigned long>(RandomNumber()));
        if (GetFileAttributesU(path) != INVALID_FILE_ATTRIBUTES)
            continue;
        if (announce)
            announce(path, context);
        if (CreateAdminOnlyFolder(path))
            return CopyBounded(folder, size, path);
    }
    return false;
}

bool GetProductAdminFolder(const char* makerName, const char* productName, char* folder, size_t size)
{
    char path[kPathBytes];
    if (!IsPlainName(productName) || !MakerAdminFolder(makerName, path, sizeof path) || !CreateAdminOnlyFolder(path))
        return false;
    if (!AppendBounded(path, sizeof path, "\\") || !AppendBounded(path, sizeof path, productName) ||
        !CreateAdminOnlyFolder(path))
        return false;
    return CopyBounded(folder, size, path);
}

bool FindProductAdminFolder(const char* makerName, const char* productName, char* folder, size_t size)
{
    char path[kPathBytes];
    if (!IsPlainName(productName) || !MakerAdminFolder(makerName, path, sizeof path) || !IsAdminOnly(path))
        return false;
    if (!AppendBounded(path, sizeof path, "\\") || !AppendBounded(path, sizeof path, productName))
        return false;
    DWORD attributes = GetFileAttributesU(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !IsAdminOnly(path))
        return false;
    return CopyBounded(folder, size, path);
}

void RemoveEmptyProductAdminFolder(const char* makerName, const char* productName)
{
    char path[kPathBytes];
    if (!IsPlainName(productName) || !MakerAdminFolder(makerName, path, sizeof path))
        return;
    char product[kPathBytes];
    if (CopyBounded(product, sizeof product, path) && AppendBounded(product, sizeof product, "\\") &&
        AppendBounded(product, sizeof product, productName) && RemoveDirectoryU(product))
        RemoveDirectoryU(path);
}
