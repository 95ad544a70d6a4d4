// Walks the real setup program through every page and dialog of its wizard
// and saves a picture of each one, as the screen shows it, for the
// screenshots of the README and for looking at the three languages.
// Run inside a Wine desktop by tests/e2e/screenshots.sh:
//   wizard_shots SETUP_EXE OUTPUT_FOLDER TARGET_FOLDER [LOW_DISK_FOLDER]
// Pictures are 24-bit BMP files named after the page ("01-welcome.bmp");
// the script turns them into PNG. Prints the pages it passed.
#include <windows.h>

#include <stdio.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "tests/e2e/driver.h"

using namespace e2e;

namespace {

const DWORD kWait = 20000;
const DWORD kInstallWait = 60000;

std::string Output;
int Number = 0;

bool SaveWindow(HWND window, const std::string& name)
{
    // Above every other window (the Explorer window that the installation
    // opens, say), and painted afresh: header, bitmaps, texts.
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_FRAME);
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
    SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
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


// The page that follows an installation run: the finish page, the error
// or interrupted page, or a copy-error dialog on the way.
HWND WaitAfterInstall(Process& setup)
{
    DWORD start = GetTickCount();
    do {
        for (HWND d : Dialogs(setup.Id()))
            if (HasItem(d, 1020) || HasItem(d, 1003) || (HasItem(d, 1001) && HasItem(d, 1040)))
                return d;
        Sleep(50);
    } while (GetTickCount() - start < kInstallWait);
    return nullptr;
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

// The installation opens the Start-menu folder "Corvane" in a window of
// its own, which comes up about when the finish page does and may cover
// it: once it is there it is closed, so that the picture shows the page.
void CloseStartMenuFolderWindow(Process& setup)
{
    HWND folder = nullptr;
    WaitUntil([&] {
        folder = FindWindowWhere(
            [&](HWND w) { return ProcessOf(w) != setup.Id() && IsWindowVisible(w) && Text(w) == "Corvane"; });
        return folder != nullptr;
    }, kWait);
    if (!folder)
        return;
    PostMessageA(folder, WM_CLOSE, 0, 0);
    WaitGone(folder, kWait);
}

// Tells the screenshot script that the walk is over.
int Finish(int status)
{
    WriteFile(Output + "\\done", status ? "failed\n" : "ok\n");
    return status;
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
        return Finish(1);
    }
    HWND destination = WalkToDestination(setup, true);
    if (!destination)
        return Finish(1);
    SetItemText(destination, 1014, target);
    SaveWindow(destination, "destination");

    // A folder blocked by a file: message 8001.
    std::string parent = target.substr(0, target.rfind('\\'));
    CreateDirectoryA(parent.c_str(), nullptr);
    std::string blocker = parent + "\\blocker";
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
            HWND after = WaitAfterInstall(setup);
            if (after && HasItem(after, 1003)) {
                SaveWindow(after, "copy-error");
                Click(after, IDCANCEL);
                WaitGone(after, kWait);
                after = WaitAfterInstall(setup);
            }
            HWND error = after;
            if (error && HasItem(error, 1040) && !HasItem(error, 1020)) {
                SaveWindow(error, IsErrorPage(error) ? "error" : "interrupted");
                Next(error, 1001);
            }
        }
        destination = Wait(setup, 1014);
        if (!destination)
            return Finish(1);
    }

    // Install, and stop it at once: Cancel is posted as soon as the page
    // shows, so the worker is paused at its first chunk while the page,
    // the question and then the interrupted page are photographed.
    SetItemText(destination, 1014, target);
    Next(destination);
    HWND install = Wait(setup, 1016, kInstallWait);
    if (install) {
        Click(install, IDCANCEL);
        HWND question = WaitForNonPage(setup, 3000);
        SaveWindow(install, "install");
        if (question) {
            SaveWindow(question, "cancel-question");
            Click(question, IDYES);
        }
        HWND interrupted = WaitForDialog(setup.Id(), 1001, "", kInstallWait);
        if (interrupted && HasItem(interrupted, 1040) && !HasItem(interrupted, 1020)) {
            SaveWindow(interrupted, IsErrorPage(interrupted) ? "error" : "interrupted");
            Next(interrupted, 1001);
            destination = Wait(setup, 1014);
        }
    }

    // The run that goes through meets a file held open by another program
    // first: the copy-error dialog, then Retry once the file is free.
    if (destination) {
        CreateDirectoryA(target.c_str(), nullptr);
        std::string held = target + "\\ReadMe.txt";
        HANDLE file = CreateFileA(held.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        Next(destination);
        HWND copyError = WaitForDialog(setup.Id(), 1003, "", kInstallWait);
        if (copyError)
            SaveWindow(copyError, "copy-error");
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        if (copyError)
            Click(copyError, IDRETRY);
    }

    // The finish page of a run that went through.
    HWND finish = Wait(setup, 1020, kInstallWait);
    if (finish) {
        CloseStartMenuFolderWindow(setup);
        SaveWindow(finish, "finish");
        Next(finish);
        setup.Wait(kWait);
        Sleep(1000);
    }
    EndChildrenOf(setup.Id());
    setup.Kill();
    if (!finish)
        return Finish(1);

    // A repair run of that installation while the product that Finish
    // started runs: the programs page, then the repair-finished page.
    WaitUntil([] { return FindTopLevel("GlyphForge (demo)") != nullptr; }, kWait);
    Process repair(setupExe, "/r " + target);
    HWND programs = nullptr, repaired = nullptr;
    WaitUntil([&] {
        programs = WaitForDialog(repair.Id(), 1060, "", 0);
        repaired = WaitForDialog(repair.Id(), 1020, "", 0);
        return programs || repaired;
    }, kInstallWait);
    if (programs) {
        SaveWindow(programs, "programs");
        Next(programs);
        repaired = WaitForDialog(repair.Id(), 1020, "", kInstallWait);
    }
    if (repaired) {
        CloseStartMenuFolderWindow(repair);
        SaveWindow(repaired, "repair-finished");
        Next(repaired);
        repair.Wait(kWait);
    }
    EndChildrenOf(repair.Id());
    repair.Kill();
    return Finish(0);
}
