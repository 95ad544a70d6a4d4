// Stand-in for Microsoft's common-controls update package ("40COMUPD"),
// which is not ours to ship. The setup starts it with " /r:n /q:a" (no
// restart, quiet); it changes nothing on the system and exits with 0. So
// that a maker (and the tests) can see that it ran, it appends its command
// line to "40comupd-standin.log" in the temporary folder.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR arguments, int)
{
    char path[MAX_PATH + 32];
    DWORD n = GetTempPathA(MAX_PATH, path);
    if (n == 0 || n >= MAX_PATH)
        return 0;
    lstrcatA(path, "40comupd-standin.log");
    HANDLE log = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
    if (log != INVALID_HANDLE_VALUE) {
        DWORD written;
        WriteFile(log, arguments, lstrlenA(arguments), &written, nullptr);
        WriteFile(log, "\r\n", 2, &written, nullptr);
        CloseHandle(log);
    }
    return 0;
}
