/* A DLL planted beside the program under a system library's name. If it is
   ever loaded, it leaves a marker file in the current directory. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        HANDLE h = CreateFileA("planted-dll-was-loaded.txt", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
    return TRUE;
}
