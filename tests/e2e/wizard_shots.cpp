// Walks the real setup program through every page and dialog of its wizard
// and saves a picture of each one, as the screen shows it, for the
// screenshots of the README and for looking at the three languages.
// Run inside a Wine desktop by tests/e2e/screenshots.sh:
//   wizard_shots SETUP_EXE OUTPUT_FOLDER TARGET_FOLDER [LOW_DISK_FOLDER]
// Pictures are 24-bit BMP files named after the page ("01-welcome.bmp");
// the script turns them into PNG. Prints the pages it passed.
#include <windows.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "tests/e2e/driver.h"

using namespace e2e;

namespace {

const DWORD kWait = 20000;
const DWORD kInstallWait = 180000;

std::string Output;
int Number = 0;

bool SaveWindow(HWND window, const std::string& name)
{
    // Let the page paint itself (header, bitmaps, texts) first.
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(700);
    RECT r;
    GetWindowRect(window, &r);
    int w = r.right - r.left;
    int h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
        GdiFlush();
        DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
        BITMAPFILEHEADER file = {};
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof file + sizeof info.bmiHeader;
        file.bfSize = file.bfOffBits + stride * h;
        char number[8];
        wsprintfA(number, "%02d-", ++Number);
        std::string data(reinterpret_cast<const char*>(&file), sizeof file);
        data.append(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
        data.append(static_cast<const char*>(bits), stride * h);
        ok = WriteFile(Output + "\\" + number + name + ".bmp", data);
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    printf("%s%s\n", ok ? "" : "NOT SAVED: ", name.c_str());
    fflush(stdout);
    return ok;
}

HWND Wait(Process& setup, int controlId, DWORD wait = kWait)
{
    return WaitForDialog(setup.Id(), controlId, "", wait);
}

// The dialog of the process that is not a page: message box, exit
// confirmation, copy-error dialog.
HWND WaitForNonPage(Process& setup, DWORD wait = kWait)
{
    DWORD start = GetTickCount();
    do {
        for (HWND d : Dialogs(setup.Id()))
            if (!HasItem(d, 1009) || !HasItem(d, 1013))
                return d;
        Sleep(20);
    } while (GetTickCount() - start < wait);
    return nullptr;
}

void Next(HWND page, int button = IDOK)
{
    Click(page, button);
    WaitGone(page, kWait);
}

// The error page holds its list of frequent errors; the interrupted page
// has far fewer controls.
bool IsErrorPage(HWND page)
{
    int n = 0;
    for (HWND c = GetWindow(page, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        ++n;
    return n > 10;
}

void CloseProduct()
{
    for (int i = 0; i < 20; ++i) {
        HWND w = FindTopLevel("GlyphForge (demo)");
        if (w) {
            PostMessageA(w, WM_CLOSE, 0, 0);
            WaitGone(w, 2000);
            return;
        }
        Sleep(100);
    }
}

// Welcome, exit confirmation, licence, information, destination.
HWND WalkToDestination(Process& setup, bool shots)
{
    HWND page = Wait(setup, 1010);
    if (!page)
        return nullptr;
    if (shots) {
        SaveWindow(page, "welcome");
        Click(page, IDCANCEL);
        HWND confirm = WaitForNonPage(setup);
        if (confirm) {
            SaveWindow(confirm, "exit-confirmation");
            Click(confirm, 1);
            WaitGone(confirm, kWait);
        }
    }
    Next(page);
    page = Wait(setup, 1012);
    if (!page)
        return nullptr;
    if (shots)
        SaveWindow(page, "licence");
    Toggle(page, 1012);
    Sleep(200);
    Next(page);
    page = Wait(setup, 1011);
    if (!page)
        return nullptr;
    if (shots)
        SaveWindow(page, "information");
    Next(page);
    return Wait(setup, 1014);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: wizard_shots SETUP_EXE OUTPUT_FOLDER TARGET_FOLDER [LOW_DISK_FOLDER]\n");
        return 2;
    }
    std::string setupExe = FromUnixPath(argv[1]);
    Output = FromUnixPath(argv[2]);
    std::string target = argv[3];
    std::string lowDisk = argc > 4 ? argv[4] : "";
    CreateDirectoryA(Output.c_str(), nullptr);

    Process setup(setupExe, "");
    if (!setup.Started()) {
        fprintf(stderr, "cannot start %s\n", setupExe.c_str());
        return 1;
    }
    HWND destination = WalkToDestination(setup, true);
    if (!destination)
        return 1;
    SetItemText(destination, 1014, target);
    SaveWindow(destination, "destination");

    // A folder blocked by a file: message 8001.
    std::string blocker = target.substr(0, target.rfind('\\')) + "\\blocker";
    WriteFile(blocker, "x");
    SetItemText(destination, 1014, blocker + "\\GlyphForge");
    Click(destination, IDOK);
    HWND box = WaitForNonPage(setup);
    if (box) {
        SaveWindow(box, "folder-not-created");
        Click(box, IDOK);
        WaitGone(box, kWait);
    }
    DeleteFileA(blocker.c_str());

    if (!lowDisk.empty()) {
        // The small volume: warning page, then install anyway into a copy
        // error, Abort, and the error page.
        SetItemText(destination, 1014, lowDisk + "\\GlyphForge");
        Next(destination);
        HWND warning = Wait(setup, 1039);
        if (warning) {
            SaveWindow(warning, "disk-space");
            Next(warning);
            HWND copyError = WaitForDialog(setup.Id(), 1003, "", kInstallWait);
            if (copyError) {
                SaveWindow(copyError, "copy-error");
                Click(copyError, IDCANCEL);
            }
            HWND error = WaitForDialog(setup.Id(), 1001, "", kInstallWait);
            if (error && !HasItem(error, 1014)) {
                SaveWindow(error, IsErrorPage(error) ? "error" : "interrupted");
                Next(error, 1001);
            }
        }
        destination = Wait(setup, 1014);
        if (!destination)
            return 1;
    }

    // Install, and stop it at once: the question, then the interrupted page.
    SetItemText(destination, 1014, target);
    Next(destination);
    HWND install = Wait(setup, 1016, kInstallWait);
    if (install) {
        SaveWindow(install, "install");
        Click(install, IDCANCEL);
        HWND question = WaitForNonPage(setup, 3000);
        if (question) {
            SaveWindow(question, "cancel-question");
            Click(question, IDYES);
        }
        HWND interrupted = WaitForDialog(setup.Id(), 1001, "", kInstallWait);
        if (interrupted && HasItem(interrupted, 1040) && !HasItem(interrupted, 1020)) {
            SaveWindow(interrupted, IsErrorPage(interrupted) ? "error" : "interrupted");
            Next(interrupted, 1001);
            destination = Wait(setup, 1014);
            if (destination)
                Next(destination);
        }
    }

    // The finish page of a run that went through.
    HWND finish = Wait(setup, 1020, kInstallWait);
    if (!finish)
        return 1;
    SaveWindow(finish, "finish");
    Next(finish);
    setup.Wait(kWait);
    CloseProduct();

    // A repair run of that installation: the repair-finished page.
    Process repair(setupExe, "/r " + target);
    HWND repaired = WaitForDialog(repair.Id(), 1020, "", kInstallWait);
    if (repaired) {
        SaveWindow(repaired, "repair-finished");
        Next(repaired);
        repair.Wait(kWait);
    }
    return 0;
}
