/* Entry point of the staging tests' resource-only DLLs; they are loaded as
   data files, so it never runs. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
