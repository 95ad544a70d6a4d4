// Walks the demo setup through its whole wizard from outside, as a person
// would, into its default folder, and prints the pages it passed and where
// the files, registry entries and links went. Used by `./build.sh run`
// when no display is there for a person.
//   demo_walk SETUP_EXE
#include <stdio.h>

#include <string>
#include <vector>

#include "tests/e2e/driver.h"

using namespace e2e;

namespace {

HWND Page(DWORD process, int control, const char* title, const char* name, DWORD wait = kHangWait)
{
    HWND page = WaitForDialog(process, control, title, wait);
    if (page)
        printf("  page: %-22s \"%s\"\n", name, Text(page).c_str());
    else
        printf("  page: %-22s NOT SHOWN\n", name);
    return page;
}

bool Next(HWND page, int id = IDOK)
{
    Click(page, id);
    return WaitGone(page, kHangWait);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: demo_walk SETUP_EXE\n");
        return 2;
    }
    printf("== walking the wizard of %s\n", argv[1]);
    Process setup(argv[1], "");
    if (!setup.Started()) {
        fprintf(stderr, "cannot start %s\n", argv[1]);
        return 1;
    }
    DWORD id = setup.Id();

    HWND welcome = Page(id, 1010, "", "welcome");
    if (!welcome || !Next(welcome))
        return 1;
    HWND licence = Page(id, 1012, "", "licence");
    if (!licence)
        return 1;
    printf("        Next is %s until the licence is accepted\n", ItemEnabled(licence, IDOK) ? "ENABLED" : "greyed");
    Toggle(licence, 1012);
    WaitUntil([&] { return ItemEnabled(licence, IDOK); }, kHangWait);
    if (!Next(licence))
        return 1;
    HWND information = Page(id, 1011, "Important Information", "information");
    if (!information || !Next(information))
        return 1;
    HWND destination = Page(id, 1014, "", "destination folder");
    if (!destination)
        return 1;
    std::string folder = ItemText(destination, 1014);
    printf("        destination: %s\n", folder.c_str());
    if (!Next(destination))
        return 1;
    HWND disk = WaitForDialog(id, 1039, "Insufficient Disk Space", 1500);
    if (disk) {
        printf("  page: %-22s \"%s\"\n", "insufficient space", Text(disk).c_str());
        Next(disk);
    }
    HWND install = Page(id, 1016, "", "installation");
    HWND finish = Page(id, 1020, "Successfully Completed", "finish");
    if (!finish) {
        (void)install;
        HWND error = WaitForDialog(id, 1001, "", 1000);
        if (error)
            printf("  the run failed: \"%s\"\n", Text(error).c_str());
        return 1;
    }

    printf("== files (the uninstaller's list, HKLM\\SOFTWARE\\Corvane\\Corvane GlyphForge\\Files)\n");
    for (int i = 0;; ++i) {
        char name[32];
        wsprintfA(name, "File%04d", i);
        std::string value;
        if (!ReadRegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Corvane\\Corvane GlyphForge\\Files", name, value))
            break;
        printf("  %s  %s\n", name, value.c_str());
    }
    printf("== registry entries (HKLM)\n");
    struct {
        const char* key;
        const char* value;
    } entries[] = {
        {"SOFTWARE\\Corvane\\Corvane GlyphForge", "InstallDir"},
        {"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\GlyphForge.exe", ""},
        {"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\GlyphForge.exe", "Path"},
        {"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvane GlyphForge", "DisplayName"},
        {"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvane GlyphForge", "UninstallString"},
    };
    for (auto& e : entries) {
        std::string value;
        ReadRegString(HKEY_LOCAL_MACHINE, e.key, e.value, value);
        printf("  %s [%s] = %s\n", e.key, e.value[0] ? e.value : "(default)", value.c_str());
    }

    Click(finish, IDOK);
    long code = setup.Wait(kHangWait);
    printf("== setup ended with exit code %ld\n", code);
    HWND product = nullptr;
    WaitUntil([&] { return (product = FindTopLevel("GlyphForge (demo)")) != nullptr; }, kHangWait);
    printf("== the installed program %s\n", product ? "was started: \"GlyphForge (demo)\" is open" : "did NOT start");
    if (product)
        PostMessageA(product, WM_CLOSE, 0, 0);
    return code == 0 && product ? 0 : 1;
}
