// The registry view of the program's keys. RegDeleteKeyEx, the only way to
// delete a key of the other view, exists from Windows XP x64 on; on older
// (32-bit) Windows there is no other view, and RegDeleteKey is right.
#include "setup/registry_view.h"
#include "setup/system_libraries.h"

namespace {

RegistryView CurrentView = REGISTRY_VIEW_DEFAULT;

typedef BOOL(WINAPI* IsWow64ProcessFunction)(HANDLE, BOOL*);
typedef LONG(WINAPI* RegDeleteKeyExWFunction)(HKEY, const wchar_t*, REGSAM, DWORD);

}  // namespace

void SetRegistryView(RegistryView view) { CurrentView = view; }

RegistryView CurrentRegistryView() { return CurrentView; }

bool IsWindows64Bit()
{
    if (sizeof(void*) == 8)
        return true;
    static int known = -1;
    if (known < 0) {
        BOOL wow64 = FALSE;
        HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        IsWow64ProcessFunction isWow64 =
            kernel ? reinterpret_cast<IsWow64ProcessFunction>(reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process"))) : nullptr;
        known = isWow64 && isWow64(GetCurrentProcess(), &wow64) && wow64 ? 1 : 0;
    }
    return known == 1;
}

REGSAM RegistryViewAccess()
{
    return CurrentView == REGISTRY_VIEW_64 && IsWindows64Bit() ? KEY_WOW64_64KEY : 0;
}

bool IsSameRegistryView(RegistryView a, RegistryView b)
{
    return a == b || !IsWindows64Bit() || sizeof(void*) == 8;
}

LONG DeleteKeyInView(HKEY root, const wchar_t* subkey)
{
    REGSAM access = RegistryViewAccess();
    if (access) {
        // Looked up once: a removal deletes many keys. Two threads that
        // meet here find the same address.
        static bool looked;
        static RegDeleteKeyExWFunction deleteEx;
        if (!looked) {
            HMODULE advapi = LoadSystemLibrary("advapi32.dll");
            deleteEx = advapi ? reinterpret_cast<RegDeleteKeyExWFunction>(
                                    reinterpret_cast<void*>(GetProcAddress(advapi, "RegDeleteKeyExW")))
                              : nullptr;
            looked = true;
        }
        if (deleteEx)
            return deleteEx(root, subkey, access, 0);
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    return RegDeleteKeyW(root, subkey);
}
