// Entry point of setup.exe.
#include "app/app.h"
#include "setup/wide.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    HardenDllSearchPath();
    AppConstruct();
    // The command line as the user typed it, not as the system's code page
    // would have it: null when a letter does not fit the program's text.
    Text commandLine;
    bool readable = GetCommandLineU(commandLine);
    if (!AppStart(readable ? SkipProgramName(commandLine.c_str()) : nullptr))
        return AppExit();
    AppRun();
    return AppExit();
}
