// Cancelling the real setup program during staging and during extraction,
// on a payload large enough for each phase to last: the interrupted page,
// and after quitting nothing of the run is left (files, folders, staged
// cabinets), while a file of the sibling product that was there before
// survives. A repair cancelled halfway, and runs killed at several
// moments, give back the installation they ran over. Every scenario runs
// for the product installed for every user and, made from the same
// description, for the user alone (CancelE2eForTheUser).
#include <gtest/gtest.h>

#include <aclapi.h>
#include <shlobj.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/driver.h"

#if !defined(SETUP_EXE) || !defined(SETUP_USER_EXE)
#error SETUP_EXE, SETUP_USER_EXE, LARGE_MAIN_DIR and LARGE_ARCHIVIST_DIR come from the build
#endif

using namespace e2e;

namespace {

// The large product of the tests: Tessera Atlas, whose program is a
// stand-in that starts, notes its command line and ends.
const char kProduct[] = "Tessera Atlas";
const char kProductKey[] = "SOFTWARE\\Tessera\\Tessera Atlas";
// Its maker, the first word of its publisher.
const char kMaker[] = "Tessera";
const char kAppPathKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Atlas.exe";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tessera Atlas";
const char kGroup[] = "\\Tessera Maps";

// The staged cabinets of a run: in the run's private folder, or in the
// temporary folder where a run without one would put them.
std::vector<std::string> StagedFiles(Scope scope)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::vector<std::string> staged;
    for (const std::string& name : ListFiles(SetupFolder(kProduct, kMaker, scope)))
        if (name.compare(0, 4, "run-") == 0)
            staged.push_back(name);
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((std::string(temp) + "tmp*.tmp").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do
            staged.push_back(found.cFileName);
        while (FindNextFileA(h, &found));
        FindClose(h);
    }
    return staged;
}

class CancelE2e : public ::testing::Test {
protected:
    explicit CancelE2e(Scope scope = Scope::Machine)
        : scope_(scope), hive_(scope == Scope::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE)
    {
    }
    void SetUp() override
    {
        setup_ = FromUnixPath(scope_ == Scope::User ? SETUP_USER_EXE : SETUP_EXE);
        root_ = TempFolder("e2e cancel");
        CreateDirectoryA(root_.c_str(), nullptr);
        // An existing folder that holds other programs stays.
        parent_ = root_ + "\\Programs";
        CreateDirectoryA(parent_.c_str(), nullptr);
        WriteFile(parent_ + "\\other.txt", "another program");
        target_ = parent_ + "\\Large Product\\";
        archivist_ = root_ + "\\Archivist";
        HKEY k;
        RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Tessera\\folders", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                        nullptr);
        RegSetValueExA(k, "ArchivistLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(archivist_.c_str()),
                       static_cast<DWORD>(archivist_.size() + 1));
        RegCloseKey(k);
        SHCreateDirectoryExA(nullptr, (archivist_ + "\\shared").c_str(), nullptr);
        WriteFile(archivist_ + "\\shared\\a.dat", "was here before");
        stagedBefore_ = StagedFiles(scope_);
    }
    void TearDown() override
    {
        CloseLaunchedWindows();
        DeleteKeyTree(HKEY_CURRENT_USER, "SOFTWARE\\Tessera\\folders");
        for (const char* key : {kProductKey, kAppPathKey, kUninstallKey})
            DeleteKeyTree(hive_, key);
        char programs[MAX_PATH] = "";
        SHGetFolderPathA(nullptr, CSIDL_PROGRAMS, nullptr, 0, programs);
        RemoveTree(std::string(programs) + kGroup);
        RemoveTree(root_);
    }

    // Cancel, confirm with Yes, then Finish on the interrupted page.
    void CancelAndQuit(Process& setup, HWND installPage, bool expectFilesInstalled)
    {
        Click(installPage, IDCANCEL);
        HWND question = WaitForDialog(setup.Id(), IDYES, "", e2e::kHangWait);
        ASSERT_NE(nullptr, question) << "cancel question";
        // The worker is paused while the question is up: the phase shows
        // in what is on disk.
        std::vector<std::string> present = ListFiles(target_);
        if (expectFilesInstalled)
            EXPECT_FALSE(present.empty()) << "expected to be extracting";
        else
            EXPECT_TRUE(present.empty()) << "expected to be staging, found " << present.size() << " files";
        ExpectStagedCabinetsOutOfReach();
        Click(question, IDYES);
        HWND interrupted = WaitForDialog(setup.Id(), 1001, "User Interrupted Installation", e2e::kHangWait);
        ASSERT_NE(nullptr, interrupted) << "interrupted page";
        Click(interrupted, IDOK);
        EXPECT_EQ(1602, setup.Wait(e2e::kHangWait));

        EXPECT_FALSE(FolderExists(target_)) << "the destination folder stays";
        EXPECT_TRUE(Exists(parent_ + "\\other.txt"));
        EXPECT_EQ("was here before", ReadFile(archivist_ + "\\shared\\a.dat"));
        EXPECT_FALSE(Exists(archivist_ + "\\shared\\b.dat"));
        EXPECT_EQ(stagedBefore_, StagedFiles(scope_)) << "staged cabinets left in the temporary folder";
    }

    // The staged cabinets lie in a private folder that only administrators
    // (SYSTEM, the Administrators group, the installing administrator's
    // own account) may open, or for the user's own product only the user
    // and SYSTEM, and while the run needs them nobody else can write,
    // rename or delete them.
    void ExpectStagedCabinetsOutOfReach()
    {
        std::string folder = SetupFolder(kProduct, kMaker, scope_);
        std::vector<std::string> staged;
        for (const std::string& name : ListFiles(folder))
            if (name.compare(0, 4, "run-") == 0)
                staged.push_back(folder + "\\" + name);
        ASSERT_FALSE(staged.empty()) << "no staged cabinet";
        for (const std::string& path : staged) {
            HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
            EXPECT_EQ(INVALID_HANDLE_VALUE, h) << "opened for writing: " << path;
            if (h != INVALID_HANDLE_VALUE)
                CloseHandle(h);
            EXPECT_FALSE(MoveFileA(path.c_str(), (path + ".swapped").c_str())) << "renamed: " << path;
            EXPECT_FALSE(DeleteFileA(path.c_str())) << "deleted: " << path;
        }
        std::string runFolder = staged[0].substr(0, staged[0].rfind('\\'));
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
                  GetNamedSecurityInfoA(runFolder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                        &dacl, nullptr, &descriptor));
        ASSERT_NE(nullptr, dacl);
        for (DWORD i = 0; i < dacl->AceCount; ++i) {
            ACCESS_ALLOWED_ACE* ace = nullptr;
            GetAce(dacl, i, reinterpret_cast<void**>(&ace));
            PSID sid = &ace->SidStart;
            for (WELL_KNOWN_SID_TYPE other : {WinWorldSid, WinBuiltinUsersSid, WinAuthenticatedUserSid})
                EXPECT_FALSE(IsWellKnownSid(sid, other)) << "the run's folder grants rights to " << other;
        }
        LocalFree(descriptor);
    }

    // Installs the large product through the wizard, ends the launched
    // program, and adds a file of the user's.
    void Install()
    {
        Process setup(setup_, "");
        ASSERT_EQ("", WalkToInstall(setup.Id(), target_));
        HWND finish = WaitForDialog(setup.Id(), IDOK, "Installation Successfully Completed", e2e::kHangWait);
        ASSERT_NE(nullptr, finish) << "finish page";
        FinishWithoutStarting(finish);
        setup.Wait(e2e::kHangWait);
        CloseLaunchedWindows();
        ASSERT_TRUE(WriteFile(target_ + "notes.txt", "the user's own notes"));
    }

    State Now()
    {
        char programs[MAX_PATH] = "";
        SHGetFolderPathA(nullptr, CSIDL_PROGRAMS, nullptr, 0, programs);
        std::string hive = scope_ == Scope::User ? "HKCU\\" : "";
        return Snapshot({target_, std::string(programs) + kGroup},
                        {hive + kProductKey, hive + kAppPathKey, hive + kUninstallKey});
    }

    // True once a file has been moved aside in folder by a running run.
    static bool MovedAsideIn(const std::string& folder)
    {
        WIN32_FIND_DATAA found;
        HANDLE h = FindFirstFileA((folder + "\\~RB*").c_str(), &found);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        FindClose(h);
        return true;
    }

    void CancelDuringStaging();
    void CancelDuringExtraction();
    void SilentRunAskedToCloseCancelsAndUndoesItsRun();
    void RepairCancelledHalfwayGivesBackTheInstallation();
    void KilledRunIsUndoneAtTheNextStart();

    const Scope scope_;
    const HKEY hive_;  // the hive of the product's keys
    std::string setup_, root_, parent_, target_, archivist_;
    std::vector<std::string> stagedBefore_;
};

// The same scenarios for the product made for the user alone: its keys in
// HKEY_CURRENT_USER, its private folders in the user's local application
// data.
class CancelE2eForTheUser : public CancelE2e {
protected:
    CancelE2eForTheUser() : CancelE2e(Scope::User) {}
};

void CancelE2e::CancelDuringStaging()
{
    Process setup(setup_, "");
    ASSERT_EQ("", WalkToInstall(setup.Id(), target_));
    // The page shows itself before it starts the staging thread, so a
    // Cancel posted at once is handled while the first cabinet is copied.
    HWND page = WaitForDialog(setup.Id(), 1016, "", e2e::kHangWait);
    ASSERT_NE(nullptr, page) << "install page";
    CancelAndQuit(setup, page, false);
}

void CancelE2e::CancelDuringExtraction()
{
    Process setup(setup_, "");
    ASSERT_EQ("", WalkToInstall(setup.Id(), target_));
    HWND page = WaitForDialog(setup.Id(), 1016, "", e2e::kHangWait);
    ASSERT_NE(nullptr, page) << "install page";
    // Wait until the first files have arrived.
    ASSERT_TRUE(WaitUntil([&] { return ListFiles(target_).size() >= 20; }, kHangWait)) << "extraction did not start";
    CancelAndQuit(setup, page, true);
}

// A silent run asked to close (as a deployment tool or a log-off closes
// it) while it extracts has nobody to ask: it cancels, undoes its run and
// returns 1602, and the log says so.
void CancelE2e::SilentRunAskedToCloseCancelsAndUndoesItsRun()
{
    std::string log = root_ + "\\silent.log";
    Process setup(setup_, "/S /LOG=\"" + log + "\" /D=" + target_);
    // A run that ended before (refused, failed) has its log looked at
    // rather than waited for.
    long ended = -1;
    ASSERT_TRUE(WaitUntil([&] { return ListFiles(target_).size() >= 20 || (ended = setup.Wait(0)) != -1; },
                          e2e::kHangWait))
        << "extraction did not start";
    ASSERT_EQ(-1, ended) << "the run ended before it was asked to close; its log:\n" << ReadFile(log);
    HWND frame = FindWindowWhere([&](HWND w) {
        char name[32] = "";
        GetClassNameA(w, name, sizeof name);
        return ProcessOf(w) == setup.Id() && std::string(name) == "CMainFrame";
    });
    ASSERT_NE(nullptr, frame) << "the hidden frame window";
    EXPECT_FALSE(IsWindowVisible(frame));
    PostMessageA(frame, WM_CLOSE, 0, 0);
    EXPECT_EQ(1602, setup.Wait(e2e::kHangWait));
    EXPECT_FALSE(FolderExists(target_)) << "the destination folder stays";
    EXPECT_EQ("was here before", ReadFile(archivist_ + "\\shared\\a.dat"));
    EXPECT_EQ(stagedBefore_, StagedFiles(scope_)) << "staged cabinets left in the temporary folder";
    std::string text = ReadFile(log);
    for (const char* line : {"installation run cancelled", "rollback: file deleted: ", "exit code 1602"})
        EXPECT_NE(std::string::npos, text.find(line)) << line;
}

// A repair cancelled while it replaces the files: the installation comes
// back as it was, the product still starts, and its uninstaller removes it.
void CancelE2e::RepairCancelledHalfwayGivesBackTheInstallation()
{
    Install();
    ASSERT_TRUE(WriteFile(target_ + "ReadMe.txt", "changed by the user"));
    State before = Now();

    Process repair(setup_, "/r " + target_);
    HWND page = WaitForDialog(repair.Id(), 1016, "", e2e::kHangWait);
    ASSERT_NE(nullptr, page) << "install page";
    ASSERT_TRUE(WaitUntil([&] { return MovedAsideIn(target_); }, e2e::kHangWait)) << "extraction did not start";
    Click(page, IDCANCEL);
    HWND question = WaitForOwnedDialog(page, e2e::kHangWait);
    ASSERT_NE(nullptr, question) << "cancel question";
    Click(question, IDYES);
    HWND interrupted = WaitForDialog(repair.Id(), 1001, "User Interrupted Installation", e2e::kHangWait);
    ASSERT_NE(nullptr, interrupted) << "interrupted page";
    Click(interrupted, IDOK);
    repair.Wait(e2e::kHangWait);
    EXPECT_EQ("", Differences(before, Now()));

    Process product(target_ + "Atlas.exe", "");
    EXPECT_EQ(0, product.Wait(e2e::kHangWait)) << "the product does not start";
    // A removal for the user alone never adds to the machine's renames at
    // the restart, which only an administrator may ask for.
    const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    std::string renamesBefore, renamesAfter;
    ReadRegValue(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations", renamesBefore);
    Process uninstall(target_ + "UnInstall.exe", "/S");
    EXPECT_EQ(0, uninstall.Wait(e2e::kHangWait));
    EXPECT_TRUE(WaitUntil([&] { return ListFiles(target_) == std::vector<std::string>{"notes.txt"}; }, e2e::kHangWait));
    EXPECT_FALSE(KeyExists(hive_, kProductKey));
    ReadRegValue(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations", renamesAfter);
    if (scope_ == Scope::User) {
        EXPECT_EQ(renamesBefore, renamesAfter);
    }
}

// A repair killed while staging, while extracting and while registering:
// the next start of the setup program gives back the installation before
// its first page (or finds the run complete), and leaves no journal.
void CancelE2e::KilledRunIsUndoneAtTheNextStart()
{
    Install();
    State before = Now();
    char programs[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, CSIDL_PROGRAMS, nullptr, 0, programs);
    std::string group = std::string(programs) + kGroup;
    struct Moment {
        const char* name;
        std::function<bool()> reached;
    } moments[] = {
        {"staging", [&] { return StagedFiles(scope_).size() > stagedBefore_.size(); }},
        {"extraction", [&] { return MovedAsideIn(target_); }},
        {"registration", [&] { return MovedAsideIn(group); }},
    };
    for (const Moment& moment : moments) {
        SCOPED_TRACE(moment.name);
        {
            Process run(setup_, "/r " + target_);
            ASSERT_TRUE(WaitUntil(moment.reached, e2e::kHangWait)) << "never reached";
            run.Kill();
            run.Wait(e2e::kHangWait);
        }
        Process next(setup_, "");
        HWND first = nullptr;
        ASSERT_TRUE(WaitUntil([&] {
            for (HWND dialog : Dialogs(next.Id())) {
                if ((HasItem(dialog, 0xFFFF) && !HasItem(dialog, 1008)) || HasItem(dialog, 1010))
                    first = dialog;
            }
            return first != nullptr;
        }, e2e::kHangWait)) << "neither the recovery message nor the welcome page";
        // Staging and extraction come before the run could succeed: they
        // are undone, with a word to the user.
        bool told = !HasItem(first, 1010);
        if (std::string(moment.name) != "registration") {
            EXPECT_TRUE(told);
        }
        EXPECT_EQ("", Differences(before, Now()));
        EXPECT_EQ(stagedBefore_, StagedFiles(scope_));
        if (told)
            Click(first, IDOK);
        HWND welcome = WaitForDialog(next.Id(), 1010, "", e2e::kHangWait);
        ASSERT_NE(nullptr, welcome);
        Click(welcome, IDCANCEL);
        HWND confirm = WaitForOwnedDialog(welcome, e2e::kHangWait);
        ASSERT_NE(nullptr, confirm);
        Click(confirm, 2);
        EXPECT_NE(-1, next.Wait(e2e::kHangWait));
        EXPECT_FALSE(Exists(JournalFile(kProduct, kMaker, scope_)));
    }
}

TEST_F(CancelE2e, CancelDuringStaging) { CancelDuringStaging(); }
TEST_F(CancelE2e, CancelDuringExtraction) { CancelDuringExtraction(); }
TEST_F(CancelE2e, SilentRunAskedToCloseCancelsAndUndoesItsRun) { SilentRunAskedToCloseCancelsAndUndoesItsRun(); }
TEST_F(CancelE2e, RepairCancelledHalfwayGivesBackTheInstallation) { RepairCancelledHalfwayGivesBackTheInstallation(); }
TEST_F(CancelE2e, KilledRunIsUndoneAtTheNextStart) { KilledRunIsUndoneAtTheNextStart(); }

TEST_F(CancelE2eForTheUser, CancelDuringStaging) { CancelDuringStaging(); }
TEST_F(CancelE2eForTheUser, CancelDuringExtraction) { CancelDuringExtraction(); }
TEST_F(CancelE2eForTheUser, SilentRunAskedToCloseCancelsAndUndoesItsRun)
{
    SilentRunAskedToCloseCancelsAndUndoesItsRun();
}
TEST_F(CancelE2eForTheUser, RepairCancelledHalfwayGivesBackTheInstallation)
{
    RepairCancelledHalfwayGivesBackTheInstallation();
}
TEST_F(CancelE2eForTheUser, KilledRunIsUndoneAtTheNextStart) { KilledRunIsUndoneAtTheNextStart(); }

} // namespace
