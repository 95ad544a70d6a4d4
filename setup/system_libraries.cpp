// System libraries, loaded only from the system folder: the setup runs
// from a downloads folder, where anybody may have left a DLL of a system
// library's name.
#include "setup/system_libraries.h"
#include "setup/text.h"
#include "setup/wide.h"

void HardenDllSearchPath()
{
    // Neither the program's own folder (a downloads folder, say) nor the
    // current directory may supply a DLL.
    // SetDefaultDllDirectories came to Windows 7 with an update that not
    // every system has: looked up.
    typedef BOOL(WINAPI * SetDefaultDirs)(DWORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (!kernel)
        return;
    SetDefaultDirs setDefault =
        reinterpret_cast<SetDefaultDirs>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefault)
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetDllDirectoryW(L"");
}

HMODULE LoadSystemLibrary(const char* name)
{
    char path[kPathBytes];
    UINT n = GetSystemDirectoryU(path, sizeof path);
    if (n == 0 || n >= sizeof path)
        return nullptr;
    if (!AppendBounded(path, sizeof path, "\\") || !AppendBounded(path, sizeof path, name))
        return nullptr;
    return LoadLibraryExU(path, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void RegisterCommonControls()
{
    // The progress bar's class lives in COMCTL32, loaded from the system
    // folder and kept for the life of the process.
    static HMODULE comctl = nullptr;
    if (comctl)
        return;
    comctl = LoadSystemLibrary("comctl32.dll");
    if (!comctl)
        return;
    struct CommonControlsInit {
        DWORD size;
        DWORD classes;
    } init = {sizeof(CommonControlsInit), 0x00000020 /* ICC_PROGRESS_CLASS */};
    typedef BOOL(WINAPI * InitEx)(const void*);
    InitEx initEx = reinterpret_cast<InitEx>(reinterpret_cast<void*>(GetProcAddress(comctl, "InitCommonControlsEx")));
    if (initEx)
        initEx(&init);
}
