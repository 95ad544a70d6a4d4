// Entry point of setup.exe.
#include "setup/setup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR arguments, int)
{
    HardenDllSearchPath();
    AppConstruct();
    if (!AppStart(arguments))
        return AppExit();
    AppRun();
    return AppExit();
}
