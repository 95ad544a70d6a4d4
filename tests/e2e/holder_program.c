/* The product's program as the tests run it while a setup replaces its
   files: a window, and the file named by its argument held open without
   sharing it for writing or deletion, until the window is asked to close;
   with a second argument it does not close when asked. */
#include <windows.h>

static int Stubborn;

static LRESULT CALLBACK HolderWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE && Stubborn)
        return 0;
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int main(int argc, char** argv)
{
    HANDLE held = INVALID_HANDLE_VALUE;
    WNDCLASSA windowClass = {0};
    int tries;
    /* The test looks whether the file is held by opening it for deletion:
       an open that meets its look is refused, and tried again. */
    for (tries = 0; argc > 1 && held == INVALID_HANDLE_VALUE && tries < 600; ++tries) {
        held = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        if (held == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION)
            Sleep(50);
        else
            break;
    }
    Stubborn = argc > 2;
    windowClass.lpfnWndProc = HolderWindow;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = "LedgerHolder";
    RegisterClassA(&windowClass);
    CreateWindowA("LedgerHolder", "Halvorsen Ledger", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, NULL, NULL,
                  windowClass.hInstance, NULL);
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0)
        DispatchMessageA(&message);
    if (held != INVALID_HANDLE_VALUE)
        CloseHandle(held);
    return 0;
}
