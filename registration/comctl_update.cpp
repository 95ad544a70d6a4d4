// The common-controls update: the installed COMCTL32.DLL version, whether
// it is recent enough (4.72), and the update package written out of the
// "40COMUPD" container into the temporary folder.
#include "registration/registration.h"
#include "rollback/rollback.h"
#include "setup/wide.h"

#include <stdlib.h>
#include <stdio.h>
#include <string.h>

namespace {

typedef DWORD(WINAPI* VersionSizeFunction)(LPCWSTR, LPDWORD);
typedef BOOL(WINAPI* VersionInfoFunction)(LPCWSTR, DWORD, DWORD, LPVOID);
typedef BOOL(WINAPI* VersionQueryFunction)(LPCVOID, LPCWSTR, LPVOID*, PUINT);

template <typename F> F Lookup(HMODULE module, const char* name)
{
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Reads the file version of the library into major and minor; false when
// the version information is missing or unreadable.
bool QueryComctlVersion(uint16_t& major, uint16_t& minor)
{
    // version.dll is loaded from the system folder by full path, so that
    // the program's folder cannot supply it.
    HMODULE version = LoadSystemLibrary("version.dll");
    if (!version)
        return false;
    VersionSizeFunction getSize = Lookup<VersionSizeFunction>(version, "GetFileVersionInfoSizeW");
    VersionInfoFunction getInfo = Lookup<VersionInfoFunction>(version, "GetFileVersionInfoW");
    VersionQueryFunction query = Lookup<VersionQueryFunction>(version, "VerQueryValueW");
    bool ok = false;
    if (getSize && getInfo && query) {
        // The system's own copy, not one that happens to lie next to us.
        char library[kPathBytes];
        UINT n = GetSystemDirectoryU(library, sizeof library);
        if (n == 0 || n >= sizeof library || !AppendBounded(library, sizeof library, "\\COMCTL32.DLL"))
            CopyBounded(library, sizeof library, "COMCTL32.DLL");
        WideText wide(library);
        DWORD handle = 0;
        DWORD size = wide.ok() ? getSize(wide.c_str(), &handle) : 0;
        void* block = size ? malloc(size) : nullptr;
        if (block) {
            VS_FIXEDFILEINFO* fixed = nullptr;
            UINT fixedSize = 0;
            if (getInfo(wide.c_str(), 0, size, block) &&
                query(block, L"\\", reinterpret_cast<LPVOID*>(&fixed), &fixedSize) && fixed &&
                fixedSize >= sizeof *fixed) {
                major = HIWORD(fixed->dwFileVersionMS);
                minor = LOWORD(fixed->dwFileVersionMS);
                ok = true;
            }
            free(block);
        }
    }
    FreeLibrary(version);
    return ok;
}

} // namespace

int ReadComctlVersion()
{
    if (Context.ComctlVersionState != -1)
        return Context.ComctlVersionState;
    uint16_t major = 0;
    uint16_t minor = 0;
    // Unreadable version information is tried again on the next call.
    if (!QueryComctlVersion(major, minor))
        return -1;
    Context.ComctlVersion.Major = major;
    Context.ComctlVersion.Minor = minor;
    Context.ComctlVersionState = 1;
    return 1;
}

int ComctlIsCurrent()
{
    ReadComctlVersion();
    uint16_t major = Context.ComctlVersion.Major;
    uint16_t minor = Context.ComctlVersion.Minor;
    return major > 4 || (major == 4 && minor >= 72) ? 1 : 0;
}

int UnpackComctlUpdate(char* outPath)
{
    // The run's private folder when it has one, where nobody else can swap
    // the package before it runs elevated. A temporary folder longer than
    // the 150 characters GetTempPathA is allowed is not written at all:
    // refuse it rather than use garbage.
    char folder[kPathBytes];
    folder[0] = '\0';
    DWORD length = 0;
    bool privateFolder = !Context.WorkFolder.empty();
    if (privateFolder) {
        if (CopyBounded(folder, 150, Context.WorkFolder.c_str()))
            length = static_cast<DWORD>(strlen(folder));
    } else {
        length = GetTempPathU(150, folder);
    }
    if (length == 0 || length >= 150)
        return 0;

    HINSTANCE module = Context.InstanceHandle;
    HRSRC resource = FindResourceU(module, "40COMUPD", "CVZB");
    if (!resource)
        return 0;
    DWORD size = SizeofResource(module, resource);
    HGLOBAL loaded = LoadResource(module, resource);
    if (!loaded)
        return 0;
    const void* data = LockResource(loaded);
    if (!data)
        return 0;

    length = static_cast<DWORD>(strlen(folder));
    if (length && folder[length - 1] == '\\')
        folder[length - 1] = '\0';
    // In the private folder the package gets a name of its own as well
    // (the folder is under 150 characters: the name fits).
    char path[kPathBytes];
    if (privateFolder)
        FormatText(path, sizeof path, "%s\\40comupd-%08lX.exe", folder, static_cast<unsigned long>(RandomNumber()));
    else
        FormatText(path, sizeof path, "%s\\40comupd.exe", folder);
    if (!UnpackContainer(data, size, path)) {
        DeleteFileU(path);
        return 0;
    }
    CopyBounded(outPath, kPathBytes, path);
    return 1;
}
