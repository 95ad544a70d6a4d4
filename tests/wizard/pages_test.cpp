// The pages as the user meets them: each page template is opened modally
// with its real procedure and driven from its own message loop, as a user
// would, through clicks on its buttons and answers to its message boxes.
#include <gtest/gtest.h>

#include "setup/wide.h"
#include "tests/wizard/wizard_test_support.h"

#include <shellapi.h>
#include "rollback/rollback.h"
#include "wizard/pages.h"
#include "wizard/wizard.h"

namespace {

std::string WindowText(HWND w) { return Utf8WindowText(w); }

// How long a step waits for the state it needs: 30 s of 30 ms ticks.
const int kPatienceTicks = 1000;

// Ends a page that a failed expectation left open.
bool EndPage(HWND page, INT_PTR result)
{
    EndDialog(page, result);
    return false;
}

TEST(LicencePage, NextFollowsTheAgreementBoxAndTheBoxIsRemembered)
{
    PrepareWizardContext();
    ScratchFolder temp;
    TempFolderOverride redirect(temp.Path());
    INT_PTR result = RunPage(IDD_LICENCE, LicencePageProc, [&](HWND page, int tick) {
        HWND next = GetDlgItem(page, IDOK);
        switch (tick) {
        case 0:
            EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(page, IDC_AGREE));
            EXPECT_FALSE(IsWindowEnabled(next));
            EXPECT_EQ(GetDlgItem(page, IDC_RICHTEXT), GetFocus());
            EXPECT_NE(std::string::npos, ItemText(page, IDC_RICHTEXT).find("GlyphForge"));
            EXPECT_EQ(0, CountTempCopies(temp.Path())); // the RTF copy is gone
            EXPECT_EQ("GlyphForge Installation - User License Agreement", WindowText(page));
            // A stray Next does not skip the agreement.
            Click(page, IDOK);
            return true;
        case 1:
            SendDlgItemMessageA(page, IDC_AGREE, BM_CLICK, 0, 0);
            EXPECT_TRUE(IsWindowEnabled(next));
            EXPECT_EQ(1, Context.LicenceAccepted);
            SendDlgItemMessageA(page, IDC_AGREE, BM_CLICK, 0, 0);
            EXPECT_FALSE(IsWindowEnabled(next));
            EXPECT_EQ(0, Context.LicenceAccepted);
            SendDlgItemMessageA(page, IDC_AGREE, BM_CLICK, 0, 0);
            SendMessageA(next, BM_CLICK, 0, 0);
            return true;
        }
        return EndPage(page, -2);
    });
    EXPECT_EQ(PAGE_NEXT, result);

    result = RunPage(IDD_LICENCE, LicencePageProc, [&](HWND page, int) {
        EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(page, IDC_AGREE));
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(page, IDOK)));
        Click(page, IDC_BACK);
        return false;
    });
    EXPECT_EQ(PAGE_BACK, result);
    EXPECT_EQ(1, Context.LicenceAccepted);
}

TEST(CancelOnPages, ResumeKeepsThePageAndExitEndsItWithZero)
{
    struct Case {
        int templateId;
        DLGPROC procedure;
    } cases[] = {{IDD_WELCOME, WelcomePageProc},
                 {IDD_LICENCE, LicencePageProc},
                 {IDD_INFORMATION, InformationPageProc},
                 {IDD_DESTINATION, DestinationPageProc},
                 {IDD_DISK_SPACE, DiskSpacePageProc}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.templateId);
        PrepareWizardContext(kDutch);
        Context.TargetDir = "C:\\Corvane\\";
        // Each step waits for the state it needs (the confirmation up, or
        // gone again) rather than for a number of ticks: a posted Cancel
        // may take more than one tick on a loaded machine.
        int step = 0;
        INT_PTR result = RunPage(c.templateId, c.procedure, [&](HWND page, int tick) {
            HWND confirmation = FindOwnedWindow(page);
            if (tick > kPatienceTicks)
                return confirmation ? true : EndPage(page, -3);
            switch (step) {
            case 0:
            case 2:
                if (confirmation)
                    return true;
                PostMessageA(page, WM_COMMAND, IDCANCEL, 0);
                ++step;
                return true;
            case 1:
                if (!confirmation)
                    return true;
                EXPECT_EQ(" Installation Stoppen", WindowText(confirmation));
                SendMessageA(GetDlgItem(confirmation, 1), BM_CLICK, 0, 0); // "Doorgaan"
                ++step;
                return true;
            case 3:
                if (!confirmation)
                    return true;
                SendMessageA(GetDlgItem(confirmation, 2), BM_CLICK, 0, 0); // "Installatie Stoppen"
                ++step;
                return true;
            }
            return true;
        });
        EXPECT_EQ(4, step);
        EXPECT_EQ(PAGE_CANCEL, result);
    }
}

TEST(DestinationPage, NextCreatesTheFolderOrStaysWithMessage8001)
{
    PrepareWizardContext();
    ScratchFolder root;
    WriteWholeFile(root / "blocker", "x");
    Context.TargetDir = (root / "blocker\\GlyphForge").c_str();
    std::string boxText;
    INT_PTR result = RunPage(IDD_DESTINATION, DestinationPageProc, [&](HWND page, int tick) {
        HWND box = FindOwnedWindow(page);
        switch (tick) {
        case 0:
            EXPECT_EQ(Context.TargetDir.c_str(), ItemText(page, IDC_FOLDER_EDIT));
            EXPECT_EQ("GlyphForge will be installed in the following folder.", ItemText(page, IDC_BODY));
            PostMessageA(page, WM_COMMAND, IDOK, 0);
            return true;
        case 1:
            if (!box)
                return EndPage(page, -2);
            boxText = ItemText(box, 0xFFFF); // the message box's text control
            SendMessageA(box, WM_COMMAND, IDOK, 0);
            return true;
        case 2:
            EXPECT_EQ(nullptr, box); // still on the page
            SetDlgItemTextA(page, IDC_FOLDER_EDIT, (root / "Good\\Folder").c_str());
            Click(page, IDOK);
            return false;
        }
        return EndPage(page, -3);
    });
    EXPECT_EQ(PAGE_NEXT, result);
    EXPECT_NE(std::string::npos, boxText.find("blocker\\GlyphForge could not be created"));
    EXPECT_EQ(root / "Good\\Folder\\", std::string(Context.TargetDir.c_str()));
    EXPECT_TRUE(IsFolder(root / "Good\\Folder"));
    EXPECT_EQ(0, Context.LowDiskSpace);
    EXPECT_EQ(LoadStringNumber(IDS_PROGRESS_EXTRA), Context.ProgressTotal);
}

// Common controls too old for the product, in a per-user run: updating them
// needs administrator rights, so nothing is offered. The wizard tells the
// user once and goes on, a silent run says so in its log; neither updates.
TEST(DestinationPage, PerUserRunTellsOnceThatTheCommonControlsStayOld)
{
    PrepareWizardContext();
    SetInstallScope(SCOPE_USER);
    Context.ComctlVersionState = 1;
    Context.ComctlVersion.Major = 4;
    Context.ComctlVersion.Minor = 70;
    ScratchFolder root;
    Context.TargetDir = (root / "Mine").c_str();
    std::string boxText;
    int boxes = 0;
    for (int run = 0; run < 2; ++run) {
        INT_PTR result = RunPage(IDD_DESTINATION, DestinationPageProc, [&](HWND page, int tick) {
            HWND box = FindOwnedWindow(page);
            if (tick == 0) {
                PostMessageA(page, WM_COMMAND, IDOK, 0);
                return true;
            }
            if (!box)
                return tick < 10 || EndPage(page, -2);
            boxText = ItemText(box, 0xFFFF);
            ++boxes;
            SendMessageA(box, WM_COMMAND, IDOK, 0);
            return true;
        });
        EXPECT_EQ(PAGE_NEXT, result);
        EXPECT_EQ(0, Context.UpdateCommonControls);
    }
    EXPECT_EQ(1, boxes) << "told once";
    EXPECT_NE(std::string::npos, boxText.find("GlyphForge is installed for you all the same")) << boxText;
    EXPECT_NE(std::string::npos, boxText.find("administrator rights")) << boxText;

    ASSERT_TRUE(OpenRunLog((root / "run.log").c_str()));
    Context.TargetDir = (root / "Silent").c_str();
    EXPECT_TRUE(PrepareDestinationWithoutPages());
    CloseRunLog();
    EXPECT_EQ(0, Context.UpdateCommonControls);
    std::string log = ReadWholeFile(root / "run.log");
    EXPECT_NE(std::string::npos, log.find("a per-user installation does not ask for")) << log;
    SetInstallScope(SCOPE_MACHINE);
}

TEST(DestinationPage, BackStoresTheEditWithoutCreatingIt)
{
    PrepareWizardContext();
    ScratchFolder root;
    Context.TargetDir = "C:\\Corvane\\";
    INT_PTR result = RunPage(IDD_DESTINATION, DestinationPageProc, [&](HWND page, int) {
        SetDlgItemTextA(page, IDC_FOLDER_EDIT, "D:\\Typed");
        Click(page, IDC_BACK);
        return false;
    });
    EXPECT_EQ(PAGE_BACK, result);
    EXPECT_STREQ("D:\\Typed", Context.TargetDir.c_str());
}

TEST(DiskSpacePage, ShowsDriveAndSizesAndInstallsAnywayIntoANewFolder)
{
    PrepareWizardContext();
    ScratchFolder root;
    Context.TargetDir = (root / "Low").c_str();
    std::string body, detail;
    INT_PTR result = RunPage(IDD_DISK_SPACE, DiskSpacePageProc, [&](HWND page, int) {
        body = ItemText(page, IDC_BODY);
        detail = ItemText(page, IDC_DETAIL);
        Click(page, IDOK);
        return false;
    });
    EXPECT_EQ(PAGE_NEXT, result);
    std::string drive(Context.TargetDir.c_str(), 2);
    drive[0] = static_cast<char>(toupper(drive[0]));
    EXPECT_NE(std::string::npos, body.find("on volume " + drive + "."));
    EXPECT_EQ(std::string::npos, body.find('{'));
    char required[32];
    FormatBytesMb(required, sizeof required, static_cast<int32_t>(LoadStringNumber(IDS_REQUIRED_SPACE)));
    EXPECT_NE(std::string::npos, detail.find(std::string("GlyphForge requires ") + required + " or more"));
    EXPECT_TRUE(IsFolder(root / "Low"));
    EXPECT_EQ('\\', Context.TargetDir.last());
}

std::string OpenedAddress;
HINSTANCE WINAPI RecordWebsite(HWND, LPCSTR, LPCSTR file, LPCSTR, LPCSTR, INT)
{
    OpenedAddress = file;
    return reinterpret_cast<HINSTANCE>(33);
}

TEST(FinishPage, RestartNoteWebsiteAndNoEscape)
{
    struct Case {
        int language;
        int templateId;
        int update;
        const char* closing;  // text of 1040
        const char* address;
    } cases[] = {
        {kEnglish, IDD_FINISH, 0, "Click Finish to close this window.", "http://www.corvane.com/"},
        {kFrench, IDD_FINISH, 1, nullptr, "http://www.corvane.fr/"},
        {kDutch, IDD_REPAIR_FINISHED, 0, "Klik op Voltooien om dit venster te sluiten.",
         "http://www.corvane.com/"},
    };
    OpenWebsite = RecordWebsite;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.templateId + 0x10000 * c.language);
        PrepareWizardContext(c.language);
        Context.UpdateCommonControls = c.update;
        OpenedAddress.clear();
        std::string closing;
        bool escapeIgnored = false;
        INT_PTR result = RunPage(c.templateId, FinishPageProc, [&](HWND page, int tick) {
            if (tick == 0) {
                closing = ItemText(page, IDC_CLOSING);
                // Without a restart to come, a checkbox (checked) offers the
                // program.
                EXPECT_EQ(c.update ? "" : c.language == kDutch ? "GlyphForge starten" : "Start GlyphForge",
                          ItemText(page, IDC_START_PRODUCT));
                EXPECT_EQ(c.update ? BST_UNCHECKED : BST_CHECKED, IsDlgButtonChecked(page, IDC_START_PRODUCT));
                EXPECT_EQ(std::string::npos, ItemText(page, IDC_BODY).find('{'));
                EXPECT_EQ(std::string::npos, WindowText(page).find('{'));
                SendMessageA(page, WM_COMMAND, IDCANCEL, 0);
                Click(page, IDC_WEBSITE);
                return true;
            }
            escapeIgnored = IsWindow(page) != FALSE;
            Click(page, IDOK);
            return false;
        });
        EXPECT_EQ(PAGE_NEXT, result);
        EXPECT_EQ(!c.update, Context.StartProductAtEnd != 0);
        EXPECT_TRUE(escapeIgnored);
        EXPECT_EQ(c.address, OpenedAddress);
        EXPECT_EQ(c.closing ? std::string(c.closing) : std::string(LoadStringAsText(IDS_RESTART_NOTE).c_str()),
                  closing);
    }
    OpenWebsite = ShellExecuteU;
}

// The programs page lists what the seam finds: here a holder outside the
// folder, as only the Restart Manager names one. Closing is the default;
// "Do not close them" leaves them running, for a restart to finish.
std::string HolderSearchedIn;
void GiveOutsideHolder(const char* folder, const TextList&, FileHolders& out)
{
    HolderSearchedIn = folder;
    out.Count = 0;
    out.Add(0xFFFFFFF0, "Outside Viewer");
}

TEST(ProgramsPage, NamesTheHoldersTheSeamGivesAndLeavesThemWhenAsked)
{
    FindFileHolders = GiveOutsideHolder;
    for (bool leave : {false, true}) {
        SCOPED_TRACE(leave ? "do not close" : "close");
        PrepareWizardContext();
        Context.TargetDir = "C:\\Corvane\\GlyphForge";
        INT_PTR result = RunPage(IDD_PROGRAMS, ProgramsPageProc, [&](HWND page, int) {
            EXPECT_EQ(1, SendDlgItemMessageA(page, IDC_PROGRAM_LIST, LB_GETCOUNT, 0, 0));
            char name[64] = "";
            SendDlgItemMessageA(page, IDC_PROGRAM_LIST, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(name));
            EXPECT_STREQ("Outside Viewer", name);
            EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(page, IDC_CLOSE_PROGRAMS));
            if (leave)
                SendDlgItemMessageA(page, IDC_LEAVE_PROGRAMS, BM_CLICK, 0, 0);
            Click(page, IDOK);
            return false;
        });
        EXPECT_EQ(PAGE_NEXT, result);
        EXPECT_EQ("C:\\Corvane\\GlyphForge\\", HolderSearchedIn);
        EXPECT_EQ(leave, Context.LeaveApplicationsRunning != 0);
        // A holder that is gone by the time it is asked counts as closed.
        EXPECT_EQ(leave, Context.HoldersRunning != 0);
    }
    FindFileHolders = FindFileHoldersOnSystem;
}

TEST(ProblemPages, BackOrFinishOnlyAndTheErrorNamesTheProduct)
{
    struct Case {
        int templateId;
        DLGPROC procedure;
        int button;
        INT_PTR result;
    } cases[] = {{IDD_ERROR, ErrorPageProc, IDC_BACK, PAGE_BACK},
                 {IDD_ERROR, ErrorPageProc, IDOK, PAGE_NEXT},
                 {IDD_INTERRUPTED, InterruptedPageProc, IDC_BACK, PAGE_BACK},
                 {IDD_INTERRUPTED, InterruptedPageProc, IDOK, PAGE_NEXT}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.templateId * 10000 + c.button);
        PrepareWizardContext();
        std::string body;
        INT_PTR result = RunPage(c.templateId, c.procedure, [&](HWND page, int tick) {
            if (tick == 0) {
                body = ItemText(page, IDC_BODY);
                SendMessageA(page, WM_COMMAND, IDCANCEL, 0);
                SendMessageA(page, WM_CLOSE, 0, 0);
                return true;
            }
            Click(page, c.button);
            return false;
        });
        EXPECT_EQ(c.result, result);
        if (c.templateId == IDD_ERROR) {
            EXPECT_NE(std::string::npos, body.find("during Corvane GlyphForge installation"));
        }
    }
}

TEST(WelcomePage, TitleHeadingAndBodyAreExpanded)
{
    PrepareWizardContext(kFrench);
    std::string title, heading, body;
    INT_PTR result = RunPage(IDD_WELCOME, WelcomePageProc, [&](HWND page, int) {
        title = WindowText(page);
        heading = ItemText(page, IDC_HEADING);
        body = ItemText(page, IDC_BODY);
        Click(page, IDOK);
        return false;
    });
    EXPECT_EQ(PAGE_NEXT, result);
    EXPECT_EQ("Installation de GlyphForge - \xC3\x89" "dition Standard", title);
    EXPECT_EQ("Bienvenue dans l'installation de GlyphForge !", heading);
    EXPECT_NE(std::string::npos, body.find("Corvane GlyphForge (\xC3\x89" "dition Standard)"));
}

} // namespace
