// Loads the rich-edit library the way setup.exe does, from a folder that
// holds a planted RICHED32.DLL, and fails when the planted one was loaded.
#include "setup/setup.h"

#include <stdio.h>

int main()
{
    HardenDllSearchPath();
    HMODULE system = LoadSystemLibrary("RICHED32.DLL");
    // Even a plain load by name must no longer search the program's folder.
    HMODULE plain = LoadLibraryA("RICHED32.DLL");
    bool planted = GetFileAttributesA("planted-dll-was-loaded.txt") != INVALID_FILE_ATTRIBUTES;
    printf("system load %s, plain load %s, planted DLL %s\n", system ? "ok" : "failed", plain ? "ok" : "failed",
           planted ? "LOADED" : "not loaded");
    return system && !planted ? 0 : 1;
}
