// End-to-end walks through the wizard of the real setup program under Wine:
// the pages in order with Back and Next keeping their state, Cancel with
// Resume and with Exit Install on every page, a folder that cannot be
// created, Escape on the closing pages, a volume honestly short of space
// (a small tmpfs linked as drive S:), and the interface language chosen
// from the user's locale.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

#include "tests/e2e/driver.h"

#include <commctrl.h>
#include <tlhelp32.h>
#include <zlib.h>

#ifndef SETUP_EXE
#error SETUP_EXE comes from the build
#endif

using namespace e2e;

namespace {

const DWORD kPageWait = e2e::kHangWait;
const DWORD kInstallWait = e2e::kHangWait;
const char kMakerFolders[] = "SOFTWARE\\Corvane\\folders";
const char kProductKey[] = "SOFTWARE\\Corvane\\Corvane GlyphForge";
const char kAppPathKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\GlyphForge.exe";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvane GlyphForge";

// The page that is open now, found by a control only it has and a part of
// its title.
struct PageKey {
    const char* name;
    int controlId;
    const char* title;
};
const PageKey kWelcome = {"welcome", 1010, "GlyphForge Installation - Standard Edition"};
const PageKey kLicence = {"licence", 1012, "User License Agreement"};
const PageKey kInformation = {"information", 1011, "Important Information"};
const PageKey kDestination = {"destination", 1014, "Destination Folder"};
const PageKey kDiskSpace = {"disk space", 1039, "Insufficient Disk Space"};
const PageKey kFinish = {"finish", 1020, "Installation Successfully Completed"};


class WizardE2e : public ::testing::Test {
protected:
    void SetUp() override
    {
        setup_ = FromUnixPath(SETUP_EXE);
        root_ = TempFolder("e2e wizard");
        RemoveTree(root_);
        CreateDirectoryA(root_.c_str(), nullptr);
        // The sibling product goes into the test's own folder.
        std::string archivist = root_ + "\\Archivist";
        HKEY k;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, kMakerFolders, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) ==
            ERROR_SUCCESS) {
            RegSetValueExA(k, "ArchivistLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(archivist.c_str()),
                           static_cast<DWORD>(archivist.size() + 1));
            RegCloseKey(k);
        }
    }
    void TearDown() override
    {
        for (int i = 0; i < 5; ++i) {
            HWND w = FindTopLevel("GlyphForge (demo)");
            if (!w)
                break;
            PostMessageA(w, WM_CLOSE, 0, 0);
            WaitGone(w, 2000);
        }
        DeleteKeyTree(HKEY_CURRENT_USER, kMakerFolders);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, kProductKey);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, kAppPathKey);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, kUninstallKey);
        RemoveTree(root_);
    }

    HWND Page(Process& setup, const PageKey& key, DWORD wait = kPageWait)
    {
        HWND page = WaitForDialog(setup.Id(), key.controlId, key.title, wait);
        EXPECT_NE(nullptr, page) << "the " << key.name << " page did not appear";
        return page;
    }

    // Presses a button of a page and waits until the page has gone.
    static bool Leave(HWND page, int button)
    {
        Click(page, button);
        return WaitGone(page, kPageWait);
    }

    // The exit confirmation owned by a page, after Cancel on it.
    static HWND Confirmation(Process& setup) { return WaitForDialog(setup.Id(), 0, " Exit Installation", kPageWait); }

    // Cancel, then Resume: the page must still be there, unchanged.
    void CancelAndResume(Process& setup, HWND page)
    {
        Click(page, IDCANCEL);
        HWND confirm = Confirmation(setup);
        ASSERT_NE(nullptr, confirm) << "no exit confirmation";
        EXPECT_EQ("Resume", ItemText(confirm, 1));
        EXPECT_EQ("Exit Install", ItemText(confirm, 2));
        Click(confirm, 1);
        ASSERT_TRUE(WaitGone(confirm, kPageWait));
        EXPECT_TRUE(IsWindowVisible(page));
    }

    // Cancel, then Exit Install: the program ends.
    void CancelAndExit(Process& setup, HWND page)
    {
        Click(page, IDCANCEL);
        HWND confirm = Confirmation(setup);
        ASSERT_NE(nullptr, confirm) << "no exit confirmation";
        Click(confirm, 2);
        EXPECT_EQ(1602, setup.Wait(kPageWait)) << "the program did not end after Exit Install as cancelled";
    }

    // Welcome to destination, licence accepted.
    HWND WalkToDestination(Process& setup)
    {
        HWND page = Page(setup, kWelcome);
        if (!page || !Leave(page, IDOK))
            return nullptr;
        page = Page(setup, kLicence);
        if (!page)
            return nullptr;
        Toggle(page, 1012);
        if (!WaitUntil([&] { return ItemEnabled(page, IDOK); }, kHangWait))
            return nullptr;
        if (!Leave(page, IDOK))
            return nullptr;
        page = Page(setup, kInformation);
        if (!page || !Leave(page, IDOK))
            return nullptr;
        return Page(setup, kDestination);
    }

    // The message box that the page shows (a dialog without page lines).
    HWND MessageBoxOf(Process& setup)
    {
        DWORD start = GetTickCount();
        do {
            for (HWND d : Dialogs(setup.Id()))
                if (!HasItem(d, 1008) && !HasItem(d, 1009))
                    return d;
            Sleep(20);
        } while (GetTickCount() - start < kPageWait);
        return nullptr;
    }

    static std::string MessageText(HWND box) { return ItemText(box, 0xFFFF); }

    std::string setup_, root_;
};

TEST_F(WizardE2e, PagesInOrderWithBackAndNextKeepingTheirState)
{
    Process setup(setup_, "");
    ASSERT_TRUE(setup.Started());

    HWND welcome = Page(setup, kWelcome);
    ASSERT_NE(nullptr, welcome);
    EXPECT_EQ("Welcome to GlyphForge Installation!", ItemText(welcome, 1013));
    EXPECT_EQ("Thank you for choosing Corvane Software!\nThis program will install Corvane GlyphForge (Standard "
              "Edition) on your computer.",
              ItemText(welcome, 1026));
    EXPECT_FALSE(HasItem(welcome, 1001)); // no Back on the first page
    ASSERT_TRUE(Leave(welcome, IDOK));

    // Licence: Next greyed until the box is ticked, and again when it is not.
    HWND licence = Page(setup, kLicence);
    ASSERT_NE(nullptr, licence);
    EXPECT_FALSE(ItemEnabled(licence, IDOK));
    EXPECT_NE(std::string::npos, ItemText(licence, 1011).find("GlyphForge - End User License Agreement"));
    Click(licence, IDOK); // a Next that reaches the page anyway is ignored
    Sleep(300);
    EXPECT_TRUE(IsWindowVisible(licence));
    Toggle(licence, 1012);
    Sleep(200);
    EXPECT_TRUE(ItemEnabled(licence, IDOK));
    Toggle(licence, 1012);
    Sleep(200);
    EXPECT_FALSE(ItemEnabled(licence, IDOK));
    Toggle(licence, 1012);
    Sleep(200);
    ASSERT_TRUE(ItemEnabled(licence, IDOK));
    ASSERT_TRUE(Leave(licence, IDOK));

    HWND information = Page(setup, kInformation);
    ASSERT_NE(nullptr, information);
    EXPECT_NE(std::string::npos, ItemText(information, 1011).find("What is installed"));
    ASSERT_TRUE(Leave(information, 1001));

    // Back on the licence page: the box is still ticked.
    licence = Page(setup, kLicence);
    ASSERT_NE(nullptr, licence);
    EXPECT_EQ(BST_CHECKED, SendMessageA(GetDlgItem(licence, 1012), BM_GETCHECK, 0, 0));
    EXPECT_TRUE(ItemEnabled(licence, IDOK));
    ASSERT_TRUE(Leave(licence, 1001));
    welcome = Page(setup, kWelcome);
    ASSERT_NE(nullptr, welcome);
    ASSERT_TRUE(Leave(welcome, IDOK));
    licence = Page(setup, kLicence);
    ASSERT_NE(nullptr, licence);
    EXPECT_TRUE(ItemEnabled(licence, IDOK));
    ASSERT_TRUE(Leave(licence, IDOK));
    information = Page(setup, kInformation);
    ASSERT_NE(nullptr, information);
    ASSERT_TRUE(Leave(information, IDOK));

    // Destination: the default folder, then a typed one that Back keeps.
    HWND destination = Page(setup, kDestination);
    ASSERT_NE(nullptr, destination);
    std::string folder = ItemText(destination, 1014);
    EXPECT_NE(std::string::npos, folder.find("\\Corvane\\GlyphForge\\")) << folder;
    EXPECT_EQ("GlyphForge will be installed in the following folder.", ItemText(destination, 1026));
    std::string typed = root_ + "\\Typed Folder";
    ASSERT_TRUE(SetItemText(destination, 1014, typed));
    ASSERT_TRUE(Leave(destination, 1001));
    information = Page(setup, kInformation);
    ASSERT_NE(nullptr, information);
    ASSERT_TRUE(Leave(information, IDOK));
    destination = Page(setup, kDestination);
    ASSERT_NE(nullptr, destination);
    EXPECT_EQ(typed, ItemText(destination, 1014));

    CancelAndExit(setup, destination);
    EXPECT_FALSE(FolderExists(typed)) << "Back must not create the folder";
}

TEST_F(WizardE2e, CancelOnEveryPageResumesOrExits)
{
    // Resume on every page of one walk...
    {
        Process setup(setup_, "");
        ASSERT_TRUE(setup.Started());
        HWND page = Page(setup, kWelcome);
        ASSERT_NE(nullptr, page);
        CancelAndResume(setup, page);
        ASSERT_TRUE(Leave(page, IDOK));

        page = Page(setup, kLicence);
        ASSERT_NE(nullptr, page);
        CancelAndResume(setup, page);
        EXPECT_FALSE(ItemEnabled(page, IDOK)); // still as it was
        Toggle(page, 1012);
        Sleep(200);
        ASSERT_TRUE(Leave(page, IDOK));

        page = Page(setup, kInformation);
        ASSERT_NE(nullptr, page);
        CancelAndResume(setup, page);
        ASSERT_TRUE(Leave(page, IDOK));

        page = Page(setup, kDestination);
        ASSERT_NE(nullptr, page);
        std::string typed = root_ + "\\Kept";
        ASSERT_TRUE(SetItemText(page, 1014, typed));
        CancelAndResume(setup, page);
        EXPECT_EQ(typed, ItemText(page, 1014));
        CancelAndExit(setup, page);
    }
    // ...and Exit Install (or Escape) from each of the first pages.
    const PageKey* pages[] = {&kWelcome, &kLicence, &kInformation};
    for (size_t stop = 0; stop < 3; ++stop) {
        SCOPED_TRACE(pages[stop]->name);
        Process setup(setup_, "");
        ASSERT_TRUE(setup.Started());
        HWND page = nullptr;
        for (size_t i = 0; i <= stop; ++i) {
            page = Page(setup, *pages[i]);
            ASSERT_NE(nullptr, page);
            if (i == 1) {
                Toggle(page, 1012);
                Sleep(200);
            }
            if (i < stop) {
                ASSERT_TRUE(Leave(page, IDOK));
            }
        }
        // Escape arrives as Cancel; it asks before it quits.
        PostMessageA(page, WM_KEYDOWN, VK_ESCAPE, 0);
        HWND confirm = Confirmation(setup);
        if (!confirm) {
            CancelAndExit(setup, page);
            continue;
        }
        Click(confirm, 2);
        EXPECT_EQ(1602, setup.Wait(kPageWait));
    }
}

TEST_F(WizardE2e, FolderThatCannotBeCreatedKeepsTheUserOnThePage)
{
    ASSERT_TRUE(WriteFile(root_ + "\\blocker", "a file where a folder should go"));
    Process setup(setup_, "");
    ASSERT_TRUE(setup.Started());
    HWND destination = WalkToDestination(setup);
    ASSERT_NE(nullptr, destination);
    std::string folder = root_ + "\\blocker\\GlyphForge";
    ASSERT_TRUE(SetItemText(destination, 1014, folder));
    Click(destination, IDOK);

    HWND box = MessageBoxOf(setup);
    ASSERT_NE(nullptr, box) << "message 8001 did not appear";
    EXPECT_EQ("GlyphForge Setup", Text(box));
    EXPECT_NE(std::string::npos, MessageText(box).find("The folder " + folder + " could not be created."))
        << MessageText(box);
    Click(box, IDOK);
    ASSERT_TRUE(WaitGone(box, kPageWait));

    // Still the same page, with the folder as typed, and nothing created.
    EXPECT_TRUE(IsWindowVisible(destination));
    EXPECT_EQ(folder, ItemText(destination, 1014));
    EXPECT_FALSE(FolderExists(folder));
    CancelAndExit(setup, destination);
}

TEST_F(WizardE2e, ClosingPageIgnoresEscapeAndTheCloseBox)
{
    Process setup(setup_, "");
    ASSERT_TRUE(setup.Started());
    HWND destination = WalkToDestination(setup);
    ASSERT_NE(nullptr, destination);
    std::string target = root_ + "\\Program Files\\GlyphForge";
    ASSERT_TRUE(SetItemText(destination, 1014, target));
    ASSERT_TRUE(Leave(destination, IDOK));

    // The installation ends on the finish page (the install page of an
    // earlier build needed a Next to get there).
    HWND finish = WaitForDialog(setup.Id(), 1020, "", kInstallWait);
    if (!finish) {
        HWND install = WaitForDialog(setup.Id(), 1016, "", 1000);
        if (install && HasItem(install, IDOK))
            Click(install, IDOK);
        finish = WaitForDialog(setup.Id(), 1020, "", kPageWait);
    }
    ASSERT_NE(nullptr, finish) << "the finish page did not appear";
    EXPECT_NE(std::string::npos, Text(finish).find(kFinish.title));
    EXPECT_EQ("Click Finish to close this window.", ItemText(finish, 1040));
    EXPECT_EQ("Start GlyphForge", ItemText(finish, 1042));
    EXPECT_EQ(BST_CHECKED, SendMessageA(GetDlgItem(finish, 1042), BM_GETCHECK, 0, 0));
    EXPECT_EQ(std::string::npos, ItemText(finish, 1039).find('{'));

    PostMessageA(finish, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageA(finish, WM_COMMAND, IDCANCEL, 0);
    PostMessageA(finish, WM_SYSCOMMAND, SC_CLOSE, 0);
    Sleep(500);
    EXPECT_TRUE(IsWindowVisible(finish)) << "the finish page was dismissed without Finish";
    EXPECT_EQ(-1, setup.Wait(0));
    Click(finish, IDOK);
    EXPECT_TRUE(WaitGone(finish, kPageWait));
    EXPECT_EQ(0, setup.Wait(kPageWait));
    // Finish launched the product; neither it nor the Explorer window on
    // the Start-menu folder may outlive the test.
    EXPECT_TRUE(WaitUntil([] { return FindTopLevel("GlyphForge (demo)") != nullptr; }, kHangWait))
        << "the product was not launched";
    CloseLaunchedWindows();
    EndChildrenOf(setup.Id());
}

// Drive S: is a 512 KB tmpfs that the test fixture links into the prefix.
bool LowDiskDriveReady()
{
    ULARGE_INTEGER available, total, free;
    return GetDiskFreeSpaceExA("S:\\", &available, &total, &free) && free.QuadPart < 4 * 1024 * 1024;
}

TEST_F(WizardE2e, VolumeShortOfSpaceShowsTheWarningPage)
{
    if (!LowDiskDriveReady())
        GTEST_SKIP() << "no small volume as S: (mounting a tmpfs needs root); low-disk scenario skipped";
    RemoveTree("S:\\GlyphForge");
    DeleteFileA("S:\\blocker");

    Process setup(setup_, "");
    ASSERT_TRUE(setup.Started());
    HWND destination = WalkToDestination(setup);
    ASSERT_NE(nullptr, destination);
    ASSERT_TRUE(SetItemText(destination, 1014, "s:\\GlyphForge"));
    ASSERT_TRUE(Leave(destination, IDOK));

    HWND warning = Page(setup, kDiskSpace);
    ASSERT_NE(nullptr, warning);
    EXPECT_EQ("WARNING - Insufficient Disk Space on Destination Volume!", ItemText(warning, 1013));
    std::string body = ItemText(warning, 1026);
    EXPECT_NE(std::string::npos, body.find("on volume S:.")) << body;
    EXPECT_NE(std::string::npos, body.find("This volume has only 0,")) << body;
    std::string detail = ItemText(warning, 1039);
    EXPECT_EQ(0u, detail.find("GlyphForge requires ")) << detail;
    EXPECT_NE(std::string::npos, detail.find(" Mb or more free space on the destination volume")) << detail;
    EXPECT_FALSE(FolderExists("S:\\GlyphForge")) << "the folder is made only when installing anyway";

    // Back returns to the destination with the folder kept; Cancel on the
    // warning page asks like every other page.
    ASSERT_TRUE(Leave(warning, 1001));
    destination = Page(setup, kDestination);
    ASSERT_NE(nullptr, destination);
    EXPECT_EQ("s:\\GlyphForge", ItemText(destination, 1014));

    // A folder that cannot be made on the small volume fails on the
    // warning page and leads back to the destination.
    ASSERT_TRUE(WriteFile("S:\\blocker", "x"));
    ASSERT_TRUE(SetItemText(destination, 1014, "S:\\blocker\\GlyphForge"));
    ASSERT_TRUE(Leave(destination, IDOK));
    warning = Page(setup, kDiskSpace);
    ASSERT_NE(nullptr, warning);
    CancelAndResume(setup, warning);
    Click(warning, IDOK);
    HWND box = MessageBoxOf(setup);
    ASSERT_NE(nullptr, box) << "message 8001 did not appear";
    EXPECT_NE(std::string::npos, MessageText(box).find("could not be created"));
    Click(box, IDOK);
    destination = Page(setup, kDestination);
    ASSERT_NE(nullptr, destination);
    EXPECT_EQ("S:\\blocker\\GlyphForge", ItemText(destination, 1014));
    DeleteFileA("S:\\blocker");
    CancelAndExit(setup, destination);
}

// The interface language follows the user's locale: each run of this test
// gets its own Wine prefix and LANG from tests/e2e/run_language.sh, which
// names the expected language in E2E_LANGUAGE (fr, nl or de).
TEST(WizardLanguage, PagesFollowTheUsersLanguage)
{
    const char* language = getenv("E2E_LANGUAGE");
    if (!language)
        GTEST_SKIP() << "run through run_language.sh with E2E_LANGUAGE set";
    struct Expected {
        const char* code;
        const char* welcomeTitle;
        const char* next;
        const char* licenceTitle;
        const char* licenceText;
        const char* confirmTitle;
        const char* remove;  // the uninstaller's Remove button
    } table[] = {
        {"fr", "Installation de GlyphForge - \xc9" "dition Standard", "Suivant >",
         "Installation de GlyphForge - Licence d'utilisation", "Contrat de licence utilisateur final",
         " Quitter l'installation", "&Supprimer"},
        {"nl", "GlyphForge Installatie - Standaard Editie", "Volgende >",
         "GlyphForge Installatie - Gebruikers Licentie Overeenkomst", "Licentieovereenkomst voor eindgebruikers",
         " Installation Stoppen", "&Verwijderen"},
        // German from the kit's language file; the demo's own texts
        // (its edition, its licence) have no German and stay English.
        {"de", "Installation von GlyphForge - Standard Edition", "Weiter >", "Installation von GlyphForge - Lizenzvertrag",
         "End User License Agreement", " Installation beenden", "&Entfernen"},
    };
    const Expected* e = nullptr;
    for (const Expected& x : table)
        if (std::string(x.code) == language)
            e = &x;
    ASSERT_NE(nullptr, e) << language;

    Process setup(FromUnixPath(SETUP_EXE), "");
    ASSERT_TRUE(setup.Started());
    HWND welcome = WaitForDialog(setup.Id(), 1010, "", kPageWait);
    ASSERT_NE(nullptr, welcome);
    EXPECT_EQ(e->welcomeTitle, Text(welcome));
    EXPECT_EQ(e->next, ItemText(welcome, IDOK));
    Click(welcome, IDOK);
    ASSERT_TRUE(WaitGone(welcome, kPageWait));

    HWND licence = WaitForDialog(setup.Id(), 1012, "", kPageWait);
    ASSERT_NE(nullptr, licence);
    EXPECT_EQ(e->licenceTitle, Text(licence));
    // The French and Dutch licences are the demo's own "AGREEMENT" in those languages.
    EXPECT_NE(std::string::npos, ItemText(licence, 1011).find(e->licenceText)) << ItemText(licence, 1011);

    Click(licence, IDCANCEL);
    HWND confirm = WaitForDialog(setup.Id(), 0, e->confirmTitle, kPageWait);
    ASSERT_NE(nullptr, confirm);
    Click(confirm, 2);
    EXPECT_EQ(1602, setup.Wait(kPageWait));

    // The uninstaller the setup writes speaks the language too.
    const std::string target = "C:\\Language Test";
    Process install(FromUnixPath(SETUP_EXE), "/S /D=" + target);
    ASSERT_EQ(0, install.Wait(kInstallWait));
    std::string command;
    ASSERT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString", command));
    const std::string uninstaller = target + "\\UnInstall.exe";
    Process uninstall(uninstaller, command.substr(uninstaller.size() + 3));
    HWND choice = WaitForDialog(uninstall.Id(), 1003, "", kPageWait);
    ASSERT_NE(nullptr, choice);
    EXPECT_EQ(e->remove, ItemText(choice, 1003));
    Click(choice, IDCANCEL);
    EXPECT_EQ(1602, uninstall.Wait(kPageWait));
}

} // namespace

namespace {

INT_PTR CALLBACK Inert(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// What a control's text needs beyond its rectangle, in pixels, as the
// control lays it out with its own font; 0 when it fits. A multi-line
// static breaks at words (and a word longer than a line does not fit),
// buttons and check boxes keep one line, a group box has its frame's
// corners.
int Overflow(HWND control)
{
    wchar_t text[1024];
    wchar_t kind[32];
    int length = GetWindowTextW(control, text, 1024);
    GetClassNameW(control, kind, 32);
    RECT have;
    GetClientRect(control, &have);
    LONG style = GetWindowLongW(control, GWL_STYLE);
    bool isStatic = lstrcmpiW(kind, L"Static") == 0, isButton = lstrcmpiW(kind, L"Button") == 0;
    if (length == 0 || (!isStatic && !isButton))
        return 0;
    int type = isStatic ? (style & SS_TYPEMASK) : (style & BS_TYPEMASK);
    bool wraps = isStatic && type <= SS_RIGHT;
    if (isStatic && !wraps && type != SS_LEFTNOWORDWRAP && type != SS_SIMPLE)
        return 0;  // an icon, a frame, a line
    int margin = 0;
    if (isButton && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON))
        margin = 2 * GetSystemMetrics(SM_CXEDGE) + 2;
    else if (isButton && type == BS_GROUPBOX)
        margin = 16;
    else if (isButton)
        margin = GetSystemMetrics(SM_CXMENUCHECK) + 4;
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    RECT need = {0, 0, have.right - margin, 0};
    UINT format = DT_CALCRECT | DT_EXPANDTABS | (wraps ? DT_WORDBREAK : DT_SINGLELINE) |
                  (isStatic && (style & SS_NOPREFIX) ? DT_NOPREFIX : 0);
    DrawTextW(dc, text, length, &need, format);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    int wide = need.right - (have.right - margin);
    int tall = wraps ? need.bottom - have.bottom : 0;
    return wide > 0 ? wide : tall > 0 ? tall : 0;
}

} // namespace

// Every text of every page and dialog, in every language the setup and its
// uninstaller carry, fits its control at the session's DPI (96, and 144 in
// the run wizard_e2e_layout_144).
TEST(WizardLayout, EveryLanguagesTextsFitTheirControls)
{
    // The run asked for a DPI gets it, or the measure would not be of it.
    if (const char* dpi = getenv("E2E_DPI")) {
        HDC screen = GetDC(nullptr);
        ASSERT_EQ(atoi(dpi), GetDeviceCaps(screen, LOGPIXELSY));
        ReleaseDC(nullptr, screen);
    }
    LoadLibraryA("riched32.dll");
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    // The uninstaller as the setup carries it, languages and all.
    std::string packed = ReadFile(FromUnixPath(UNINSTALL_CVZB));
    ASSERT_GT(packed.size(), 8u);
    uLongf size = *reinterpret_cast<const uint32_t*>(packed.data() + 4);
    std::string uninstaller(size, '\0');
    ASSERT_EQ(Z_OK, uncompress(reinterpret_cast<Bytef*>(&uninstaller[0]), &size,
                               reinterpret_cast<const Bytef*>(packed.data() + 8), uLong(packed.size() - 8)));
    const std::string uninstallerPath = "C:\\layout-UnInstall.exe";
    WriteFile(uninstallerPath, uninstaller);
    for (const std::string& program : {FromUnixPath(SETUP_EXE), uninstallerPath}) {
        HMODULE module = LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, module) << program;
        HRSRC listed = FindResourceW(module, L"LANGUAGES", MAKEINTRESOURCEW(10));
        ASSERT_NE(nullptr, listed);
        std::string list(static_cast<const char*>(LockResource(LoadResource(module, listed))),
                         SizeofResource(module, listed));
        size_t languages = 0;
        for (size_t at = 0, end = 0; at < list.size(); at = end + 1, ++languages) {
            end = list.find('\n', at) == std::string::npos ? list.size() : list.find('\n', at);
            std::string code = list.substr(at, list.find(' ', at) - at);
            LANGID id = static_cast<LANGID>(strtoul(list.c_str() + at + code.size() + 1, nullptr, 16));
            for (int templateId = 100; templateId <= 114; ++templateId) {
                HRSRC found = FindResourceExW(module, MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(templateId), id);
                if (!found)
                    continue;
                auto* dialogTemplate = static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(module, found)));
                HWND dialog = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), dialogTemplate, nullptr, Inert, 0);
                ASSERT_NE(nullptr, dialog) << code << " " << templateId;
                int index = 0;
                for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT), ++index) {
                    EXPECT_EQ(0, Overflow(c)) << program << " " << code << ": template " << templateId
                                              << " control " << index << " \"" << Text(c) << "\" does not fit";
                }
                DestroyWindow(dialog);
            }
        }
        EXPECT_GE(languages, 20u) << program;
        FreeLibrary(module);
    }
    DeleteFileA(uninstallerPath.c_str());
}
