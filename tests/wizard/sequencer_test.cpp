// The main window and its page sequencer under Wine, driven with page
// procedures of the test's own on the real templates: every transition of
// the page table, the repair start, the end of the wizard, pages that
// cannot be created, and the page services.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wizard/wizard.h"
#include "app/app.h"

namespace {

enum Page { WELCOME, LICENCE, INFORMATION, DESTINATION, DISK_SPACE, INSTALL, FINISH, ERROR_PAGE, INTERRUPTED, TASKS };
const char* const PageNames[] = {"welcome", "licence", "information", "destination", "disk space",
                                 "install", "finish",  "error",       "interrupted", "tasks"};

// What a scripted page does: end with a result, after setting the flags a
// real page would have set.
struct Step {
    Page page;
    INT_PTR result;
    int lowDiskSpace = 0;
    int userCancelled = 0;
    int startProduct = 1;  // the finish page's checkbox, left checked or not
};

std::vector<Step> Script;
size_t Position;
std::vector<std::string> Visited;
std::vector<std::string> Titles;
std::vector<std::string> Launched;
int Restarts;

void Visit(Page page, HWND dialog)
{
    char title[256] = "";
    GetWindowTextA(dialog, title, sizeof title);
    Titles.push_back(title);
    Visited.push_back(PageNames[page]);
    if (Position >= Script.size() || Script[Position].page != page) {
        // Off the script: quit, so that the test ends and reports the path.
        EndDialog(dialog, PAGE_CANCEL);
        return;
    }
    const Step& step = Script[Position++];
    Context.LowDiskSpace = step.lowDiskSpace;
    Context.UserCancelled = step.userCancelled;
    if (page == FINISH)
        Context.StartProductAtEnd = step.startProduct && OffersProductAtEnd();
    EndDialog(dialog, step.result);
}

template <Page P>
INT_PTR CALLBACK ScriptedPage(HWND dialog, UINT message, WPARAM, LPARAM)
{
    if (message == WM_INITDIALOG) {
        Visit(P, dialog);
        return TRUE;
    }
    return FALSE;
}

void RecordLaunch(const char* command) { Launched.push_back(command); }
void RecordRestart() { ++Restarts; }

class SequencerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetInstallerContext();
        Context.InstanceHandle = GetModuleHandleA(nullptr);
        AppConstruct();
        Pages = {ScriptedPage<WELCOME>,  ScriptedPage<LICENCE>, ScriptedPage<INFORMATION>,
                 ScriptedPage<DESTINATION>, ScriptedPage<DISK_SPACE>, ScriptedPage<INSTALL>,
                 ScriptedPage<FINISH>,   ScriptedPage<ERROR_PAGE>, ScriptedPage<INTERRUPTED>, ScriptedPage<TASKS>,
                 nullptr};
        EndHooks = {RecordRestart, RecordLaunch};
        Script.clear();
        Position = 0;
        Visited.clear();
        Titles.clear();
        Launched.clear();
        Restarts = 0;
    }
    void TearDown() override
    {
        UseDefaultPages();
        ResetInstallerContext();
    }

    // Builds the main window as the start step does and runs the message
    // loop until the wizard has ended.
    std::vector<std::string> Run()
    {
        BuildMainWindowObject();
        HWND frame = CreateMainWindow();
        EXPECT_NE(nullptr, frame);
        if (!frame)
            return Visited;
        ShowWindow(frame, SW_SHOW);
        RECT r;
        GetWindowRect(frame, &r);
        EXPECT_EQ(-1000, r.left);
        EXPECT_EQ(-1000, r.top);
        EXPECT_EQ(1, r.right - r.left);
        EXPECT_EQ(1, r.bottom - r.top);
        EXPECT_NE(nullptr, Context.RichEditModule);
        AppRun();
        EXPECT_EQ(nullptr, MainWindowHandle());
        EXPECT_EQ(nullptr, Context.RichEditModule);
        return Visited;
    }
};

using Path = std::vector<std::string>;

TEST_F(SequencerTest, StraightThroughLaunchesTheQuotedProduct)
{
    Script = {{WELCOME, 1}, {LICENCE, 1}, {INFORMATION, 1}, {DESTINATION, 1}, {INSTALL, 1}, {FINISH, 1}};
    Context.TargetDir = "C:\\Program Files\\Corvane\\GlyphForge\\";
    EXPECT_EQ((Path{"welcome", "licence", "information", "destination", "install", "finish"}), Run());
    ASSERT_EQ(1u, Launched.size());
    EXPECT_EQ("\"C:\\Program Files\\Corvane\\GlyphForge\\GlyphForge.exe\"", Launched[0]);
    EXPECT_EQ(0, Restarts);
    EXPECT_EQ("{AppName} Installation - Installation Successfully Completed", Titles.back());
    // The checkbox cleared: nothing is started.
    Script = {{WELCOME, 1}, {LICENCE, 1}, {INFORMATION, 1}, {DESTINATION, 1}, {INSTALL, 1}, {FINISH, 1, 0, 0, 0}};
    Launched.clear();
    Run();
    EXPECT_TRUE(Launched.empty());
}

TEST_F(SequencerTest, BackLowDiskAndFailedRunsFollowThePageTable)
{
    Script = {
        {WELCOME, 1},      {LICENCE, 3},         {WELCOME, 1},          {LICENCE, 1},
        {INFORMATION, 3},  {LICENCE, 1},         {INFORMATION, 1},      {DESTINATION, 3},
        {INFORMATION, 1},  {DESTINATION, 1, 1},  {DISK_SPACE, 3},       {DESTINATION, 1, 1},
        {DISK_SPACE, 1},   {INSTALL, 0, 0, 1},   {INTERRUPTED, 3},      {DESTINATION, 1},
        {INSTALL, 0},      {ERROR_PAGE, 3},      {DESTINATION, 1},      {INSTALL, 1},
        {FINISH, 7},
    };
    Path expected = {"welcome",     "licence",     "welcome",     "licence",    "information", "licence",
                     "information", "destination", "information", "destination", "disk space",  "destination",
                     "disk space",  "install",     "interrupted", "destination", "install",     "error",
                     "destination", "install",     "finish"};
    EXPECT_EQ(expected, Run());
    EXPECT_EQ(1u, Launched.size());
}

TEST_F(SequencerTest, CancelOnAnyPageQuits)
{
    const Page pages[] = {WELCOME, LICENCE, INFORMATION, DESTINATION, DISK_SPACE};
    for (Page cancelled : pages) {
        SetUp();
        // Walk forward to the page, then cancel there.
        const Page route[] = {WELCOME, LICENCE, INFORMATION, DESTINATION, DISK_SPACE};
        for (Page p : route) {
            if (p == cancelled)
                break;
            Script.push_back({p, 1, p == DESTINATION ? 1 : 0});
        }
        Script.push_back({cancelled, 0});
        Path path = Run();
        EXPECT_EQ(PageNames[cancelled], path.back());
        EXPECT_EQ(Script.size(), path.size());
        EXPECT_TRUE(Launched.empty());
    }
}

TEST_F(SequencerTest, ErrorAndInterruptedPagesEndTheWizardUnlessBack)
{
    for (INT_PTR finish : {INT_PTR(1), INT_PTR(0), INT_PTR(5)}) {
        SetUp();
        Script = {{WELCOME, 1}, {LICENCE, 1}, {INFORMATION, 1}, {DESTINATION, 1}, {INSTALL, 0}, {ERROR_PAGE, finish}};
        EXPECT_EQ("error", Run().back());
        SetUp();
        Script = {{WELCOME, 1},       {LICENCE, 1},          {INFORMATION, 1},
                  {DESTINATION, 1},   {INSTALL, 0, 0, 1},    {INTERRUPTED, finish}};
        EXPECT_EQ("interrupted", Run().back());
        EXPECT_TRUE(Launched.empty());
    }
}

TEST_F(SequencerTest, RepairStartsAtTheInstallPageAndLaunchesNothing)
{
    Context.RepairMode = 1;
    Context.RepairDir = "C:\\Apps\\Tool";
    Script = {{INSTALL, 1}, {FINISH, 1}};
    EXPECT_EQ((Path{"install", "finish"}), Run());
    EXPECT_STREQ("C:\\Apps\\Tool\\", Context.TargetDir.c_str());
    long expected = LoadStringNumber(IDS_PROGRESS_EXTRA);
    HINSTANCE self = GetModuleHandleA(nullptr);
    if (HRSRC r = FindResourceA(self, "MAIN", "CAB"))
        expected += SizeofResource(self, r);
    if (HRSRC r = FindResourceA(self, "ARCHIVIST", "CAB"))
        expected += SizeofResource(self, r);
    EXPECT_EQ(expected, Context.ProgressTotal);
    EXPECT_EQ("{AppName} Installation - Repair Successfully Completed", Titles.back());
    EXPECT_TRUE(Launched.empty());
    EXPECT_EQ(0, Restarts);
}

TEST_F(SequencerTest, CommonControlsUpdateRestartsInsteadOfLaunching)
{
    for (int repair : {0, 1}) {
        SetUp();
        Context.UpdateCommonControls = 1;
        Context.RepairMode = repair;
        Context.RepairDir = "C:\\Apps";
        if (!repair)
            Script = {{WELCOME, 1}, {LICENCE, 1}, {INFORMATION, 1}, {DESTINATION, 1}};
        Script.push_back({INSTALL, 1});
        Script.push_back({FINISH, 1});
        EXPECT_EQ("finish", Run().back());
        EXPECT_EQ(1, Restarts);
        EXPECT_TRUE(Launched.empty());
    }
}

TEST_F(SequencerTest, FrenchPagesUseTheFrenchTemplatesAndHeader)
{
    Context.LanguageCode = 0x040C;
    Script = {{WELCOME, 0}};
    Run();
    EXPECT_EQ("Installation de {AppName} - {Edition}", Titles[0]);
    EXPECT_STREQ("Installation de GlyphForge", Context.HeaderTitle.c_str());
    EXPECT_STREQ(LoadStringAsText(IDS_HEADER_SUBTITLE).c_str(), Context.HeaderSubtitle.c_str());
}

TEST_F(SequencerTest, PagesThatCannotBeCreatedEndTheWizard)
{
    // A module without templates: every DialogBoxParam gives -1. The wizard
    // must end instead of bouncing between pages or waiting with no page.
    for (int repair : {0, 1}) {
        SetUp();
        Context.RepairMode = repair;
        BuildMainWindowObject();
        Context.InstanceHandle = GetModuleHandleA("kernel32.dll");
        HWND frame = CreateMainWindow();
        ASSERT_NE(nullptr, frame);
        UINT_PTR guard = SetTimer(nullptr, 0, 10000, nullptr);
        MSG msg;
        bool timedOut = false;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            if (msg.message == WM_TIMER && msg.hwnd == nullptr) {
                timedOut = true;
                DestroyWindow(frame);
                continue;
            }
            DispatchMessageA(&msg);
        }
        KillTimer(nullptr, guard);
        EXPECT_FALSE(timedOut) << "repair " << repair;
        EXPECT_TRUE(Visited.empty());
    }
}

// ---------------------------------------------------------------------------
// Page services.

TEST(PageServices, CenteringClampsToTheWorkArea)
{
    struct {
        int start, end, size, position;
    } cases[] = {
        {0, 1024, 500, 262}, {0, 1024, 1024, 0}, {0, 1024, 2000, 0},   {100, 500, 1000, 100},
        {0, 1024, 1023, 0},  {-200, 0, 100, -150}, {50, 60, 11, 49},
    };
    for (auto& c : cases)
        EXPECT_EQ(c.position, CenteredPosition(c.start, c.end, c.size)) << c.start << " " << c.end << " " << c.size;
}

TEST(PageServices, CenterOnWorkAreaMovesARealWindow)
{
    HWND w = CreateWindowExA(0, "STATIC", "x", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, w);
    EXPECT_TRUE(CenterOnWorkArea(w));
    RECT work, r;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(w, &r);
    EXPECT_EQ(CenteredPosition(work.left, work.right, 300), r.left);
    EXPECT_EQ(CenteredPosition(work.top, work.bottom, 200), r.top);
    DestroyWindow(w);
}

TEST(PageServices, ResourceTextLoadsIntoTheSharedBuffer)
{
    ResetInstallerContext();
    EXPECT_STREQ("GlyphForge", LoadResourceText(IDS_APP_NAME));
    EXPECT_EQ(Context.TextBuffer, LoadResourceText(IDS_APP_NAME));
    EXPECT_STREQ("", LoadResourceText(4321));
}

// The exit confirmation answered from another thread by keys, as a user
// at the keyboard would.
struct KeyPress {
    WPARAM key;
    HANDLE thread;
};

DWORD WINAPI PressKeyInConfirmation(LPVOID parameter)
{
    KeyPress* press = static_cast<KeyPress*>(parameter);
    for (int i = 0; i < 500; ++i) {
        HWND dialog = FindWindowA("#32770", " Exit Installation");
        if (dialog && IsWindowVisible(dialog)) {
            PostMessageA(dialog, WM_KEYDOWN, press->key, 0);
            return 0;
        }
        Sleep(10);
    }
    return 1;
}

TEST(PageServices, ConfirmExitEscapeQuitsEnterResumes)
{
    ResetInstallerContext();
    Context.InstanceHandle = GetModuleHandleA(nullptr);
    AppConstruct();
    struct {
        WPARAM key;
        int result;
    } cases[] = {{VK_ESCAPE, 1}, {VK_RETURN, 0}};
    for (auto& c : cases) {
        KeyPress press = {c.key, nullptr};
        HANDLE thread = CreateThread(nullptr, 0, PressKeyInConfirmation, &press, 0, nullptr);
        EXPECT_EQ(c.result, ConfirmExit(nullptr)) << c.key;
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    // Without a template to show, the confirmation counts as quit.
    Context.InstanceHandle = GetModuleHandleA("kernel32.dll");
    EXPECT_EQ(1, ConfirmExit(nullptr));
    ResetInstallerContext();
}

INT_PTR CALLBACK PaintProbe(HWND dialog, UINT message, WPARAM, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        HDC dc = GetDC(dialog);
        *reinterpret_cast<int*>(lParam) = PaintPageHeader(dialog, dc);
        ReleaseDC(dialog, dc);
        EndDialog(dialog, 0);
        return TRUE;
    }
    return FALSE;
}

TEST(PageServices, HeaderIsPaintedOnlyOnPagesWithBothLines)
{
    ResetInstallerContext();
    Context.InstanceHandle = GetModuleHandleA(nullptr);
    AppConstruct();
    Context.RichEditModule = LoadSystemLibrary("RICHED32.DLL");
    RegisterCommonControls();
    const int pages[] = {100, 102, 103, 104, 105, 106, 107, 108, 109, 110};
    for (LANGID language : {0x0409, 0x040C, 0x0413}) {
        Context.LanguageCode = language;
        for (int id : pages) {
            int painted = -1;
            DialogInLanguage(nullptr, id, PaintProbe, reinterpret_cast<LPARAM>(&painted));
            EXPECT_EQ(1, painted) << id << " " << language;
        }
        int painted = -1;
        DialogInLanguage(nullptr, 111, PaintProbe, reinterpret_cast<LPARAM>(&painted));
        EXPECT_EQ(0, painted) << language;
    }
    FreeLibrary(Context.RichEditModule);
    ResetInstallerContext();
}

} // namespace
