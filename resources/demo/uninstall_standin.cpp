// Stand-in for the uninstaller ("UNINSTALL") until the real one is built:
// the setup writes it as UnInstall.exe and links it from the Start menu,
// so it says honestly that uninstalling is not available yet.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    MessageBoxA(nullptr,
                "Uninstalling GlyphForge is not available yet.\n\n"
                "This program stands in for the uninstaller of the demo product.",
                "GlyphForge Uninstall", MB_OK | MB_ICONINFORMATION);
    return 0;
}
