// Stand-in for Microsoft's common-controls update package ("40COMUPD"),
// which is not ours to ship. The setup starts it with " /r:n /q:a" (no
// restart, quiet); it changes nothing on the system and exits with 0.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return 0;
}
