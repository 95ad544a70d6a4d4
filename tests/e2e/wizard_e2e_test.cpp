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

#include <tlhelp32.h>

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
    } table[] = {
        {"fr", "Installation de GlyphForge - \xc9" "dition Standard", "Suivant >",
         "Installation de GlyphForge - Licence d'utilisation", "Contrat de licence utilisateur final",
         " Quitter l'installation"},
        {"nl", "GlyphForge Installatie - Standaard Editie", "Volgende >",
         "GlyphForge Installatie - Gebruikers Licentie Overeenkomst", "Licentieovereenkomst voor eindgebruikers",
         " Installation Stoppen"},
        {"de", "GlyphForge Installation - Standard Edition", "Next >", "GlyphForge Installation - User License Agreement",
         "End User License Agreement", " Exit Installation"},
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
    // The French and Dutch texts come from "AGREEMENT_FR" and "AGREEMENT_DU".
    EXPECT_NE(std::string::npos, ItemText(licence, 1011).find(e->licenceText)) << ItemText(licence, 1011);

    Click(licence, IDCANCEL);
    HWND confirm = WaitForDialog(setup.Id(), 0, e->confirmTitle, kPageWait);
    ASSERT_NE(nullptr, confirm);
    Click(confirm, 2);
    EXPECT_EQ(1602, setup.Wait(kPageWait));
}

} // namespace
