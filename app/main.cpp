// Entry point of setup.exe.
#include "app/app.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR arguments, int)
{
    HardenDllSearchPath();
    AppConstruct();
    if (!AppStart(arguments))
        return AppExit();
    AppRun();
    return AppExit();
}
