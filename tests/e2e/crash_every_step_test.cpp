// Every step of a run, cut: the installation run's steps (the install
// page's, without a window) and the uninstaller's transaction, run in this
// test's own process on a thread that the test build's cut point ends at
// its K-th step, each cut from the machine as it was before the run. What
// a killed process would have let go goes too (the journal's file, the
// staged cabinets, the open files, the run lock), and a fresh session of
// the product recovers: the machine must be exactly as it was before the
// run, or, once the run had committed, exactly as the completed run left
// it. A cut after a change is a power cut: the journal keeps only what
// its last flush put on the disk. At every step that wrote a record, the
// same again with that record torn, as a power cut would leave it; for a
// sample of cuts, the recovery
// cut in turn at its own steps; and at the steps of a reinstall and of a
// removal, a folder of the installation swapped for a link while the run
// goes on. The fresh install and the removal are cut at every step, the
// other runs at an even spread of 64 (every step with
// SETUP_CUT_EVERY_STEP set: ./build.sh test --full); one run is cut in the
// per-user scope as well.
// Products: Halvorsen Ledger 1.0 and 2.0, for every user and for the user
// alone (tests/e2e/make_maker_product.py), with links of their own (1.0's
// desktop link a task), registry values, a file type and PATH folders.
#include <gtest/gtest.h>

#include <io.h>
#include <shlobj.h>

#include <map>
#include <new>
#include <string>
#include <vector>

#include "app/app.h"
#include "engine/engine.h"
#include "engine/write_behind.h"
#include "registration/registration.h"
#include "rollback/cut_points.h"
#include "rollback/rollback.h"
#include "tests/common/files.h"
#include "tests/e2e/driver.h"
#include "uninstaller/uninstaller.h"
#include "wizard/wizard.h"

#if !defined(LEDGER_DIR) || !defined(LEDGER_USER_DIR) || !defined(LEDGER_X64_DIR)
#error LEDGER_DIR, LEDGER_USER_DIR and LEDGER_X64_DIR come from the build
#endif

namespace {

const char kProduct[] = "Halvorsen Ledger";
const char kMaker[] = "Halvorsen";
const char* const kKeys[] = {"SOFTWARE\\Halvorsen", "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Halvorsen Ledger",
                             "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Ledger.exe",
                             // where the product's own values share a key with another program's
                             "SOFTWARE\\Shared Tools", "SOFTWARE\\Classes\\.hlg",
                             "SOFTWARE\\Classes\\Halvorsen.Ledger.Book"};

// One run in this process: an installation of a version (a repair when
// asked), or the removal of the installation in the folder; for every
// user or for the user alone.
struct RunPlan {
    const char* version;
    bool repair;
    bool removal;
    std::string folder;
    bool user = false;
    bool x64 = false;  // the product with 64-bit programs
};

// The setup program of a version, loaded for its resources only: its
// cabinets, containers and strings are what the run installs.
HMODULE ProductModule(const RunPlan& plan)
{
    static std::map<std::string, HMODULE> modules;
    std::string path = std::string(plan.x64 ? LEDGER_X64_DIR : plan.user ? LEDGER_USER_DIR : LEDGER_DIR) + "/ledger-" +
                       plan.version + ".exe";
    HMODULE& module = modules[path];
    if (!module)
        module = LoadLibraryExA(e2e::FromUnixPath(path).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    return module;
}

// The shell's link object is the slow part of a link under Wine, and what
// it makes of a target does not change between the cuts of one run: each
// link's bytes are made once, and every cut writes them as the run writes
// any link.
std::map<std::string, std::string> LinkBytes;

HRESULT KeptLinkBytes(const LinkDetails& link, void** bytes, DWORD* size)
{
    std::string key = std::string(link.Target) + "\n" + link.Arguments + "\n" + link.Description + "\n" +
                      link.WorkingFolder + "\n" + link.IconFile + "\n" + std::to_string(link.IconIndex);
    auto kept = LinkBytes.find(key);
    if (kept == LinkBytes.end()) {
        HRESULT made = ShellLinkBytes(link, bytes, size);
        if (FAILED(made))
            return made;
        kept = LinkBytes.emplace(key, std::string(static_cast<char*>(*bytes), *size)).first;
        free(*bytes);
    }
    *size = static_cast<DWORD>(kept->second.size());
    *bytes = malloc(*size);
    memcpy(*bytes, kept->second.data(), *size);
    return S_OK;
}

// What a killed process lets go of, and a fresh start of the process's
// state: the journal's file, the run lock (abandoned by its dead owner),
// the staged cabinets (deleted on close), the files the extraction held
// open, and the installer context.
void ForgetTheProcess()
{
    // The writer behind the extraction ends with the process: here it
    // ends once what was queued is written, which the recovery undoes
    // like a file cut short.
    FinishWriteBehind();
    SessionJournal.~RunJournal();
    new (&SessionJournal) RunJournal();
    ReleaseStagedCabinets();
    for (int fd = 3; fd < 512; ++fd)
        _close(fd);
    Context.~InstallerContext();
    new (&Context) InstallerContext();
    SetRegistryView(REGISTRY_VIEW_DEFAULT);
}

void InstallSteps(const RunPlan& plan)
{
    SetInstallScope(plan.user ? SCOPE_USER : SCOPE_MACHINE);
    Context.InstanceHandle = ProductModule(plan);
    Context.Silent = 1;
    if (!ApplyProductArchitecture())
        return;
    JournalRecovery recovered;
    if (JournalStartSession(SessionJournal, kMaker, kProduct, &recovered) != JOURNAL_STARTED)
        return;
    FindEarlierInstallation();
    Context.TargetDir = Context.EarlierDir.empty() ? plan.folder.c_str() : Context.EarlierDir.c_str();
    // The tasks as a silent run without /TASKS= takes them: 1.0's desktop
    // link among them.
    ChooseDefaultTasks(nullptr);
    if (plan.repair) {
        Context.RepairMode = 1;
    } else if (!PrepareDestinationWithoutPages()) {
        return;
    }
    BeginInstallRun();
    StagingThreadProc(&Context.StagingJob);
    if (Context.StagingJob.Status != 0)
        return;
    TakeOverStagedCabinets();
    PrepareExtraction();
    ExtractionThreadProc(&Context.ExtractionJob);
    if (Context.ExtractionJob.Status != 0)
        return;
    RegisterInstallation();
    JournalEndSession(SessionJournal);
}

void RemovalSteps(const RunPlan& plan)
{
    SetInstallScope(plan.user ? SCOPE_USER : SCOPE_MACHINE);
    UninstallSettings settings;
    TextList files, protectedFolders;
    JournalRecovery recovered;
    if (!ReadUninstallSettings(plan.folder.c_str(), settings))
        return;
    SetRegistryView(settings.SixtyFourBit ? REGISTRY_VIEW_64 : REGISTRY_VIEW_DEFAULT);
    if (JournalStartSession(SessionJournal, kMaker, kProduct, &recovered) != JOURNAL_STARTED ||
        !ReadInstalledFileList(kMaker, kProduct, files))
        return;
    CollectProtectedFolders(protectedFolders, "");
    Text program(settings.Folder);
    program.Append("UnInstall.exe");
    RemovalOptions options;
    options.Journal = &SessionJournal;
    options.OwnProgram = program.c_str();
    options.ProtectedFolders = &protectedFolders;
    RemovalReport report;
    RemoveInstallation(settings, files, options, report);
    JournalEndSession(SessionJournal);
}

// The next start of a setup of the product: it recovers, and ends.
void RecoverySteps(const RunPlan& plan)
{
    SetInstallScope(plan.user ? SCOPE_USER : SCOPE_MACHINE);
    JournalRecovery recovered;
    JournalStartSession(SessionJournal, kMaker, kProduct, &recovered);
    JournalEndSession(SessionJournal);
}

// The steps of a run of total steps that a scenario cuts: every one, or
// an even spread of spread of them (the first and the last among them).
// SETUP_CUT_EVERY_STEP (./build.sh test --full) makes every scenario cut
// every step.
std::vector<unsigned long> StepsToCut(unsigned long total, unsigned long spread)
{
    char full[8];
    if (spread == 0 || spread >= total || GetEnvironmentVariableA("SETUP_CUT_EVERY_STEP", full, sizeof full) > 0)
        spread = total;
    std::vector<unsigned long> steps;
    for (unsigned long i = 0; i < spread; ++i) {
        unsigned long k = spread == 1 ? total : 1 + i * (total - 1) / (spread - 1);
        if (steps.empty() || steps.back() != k)
            steps.push_back(k);
    }
    return steps;
}
// The default spread of the scenarios that do not cut every step, and of
// each recovery that is cut in turn.
const unsigned long kSpread = 64;
const unsigned long kRecoverySpread = 16;

struct Cut {
    void (*steps)(const RunPlan&);
    const RunPlan* plan;
    unsigned long at;      // 0: the whole way
    CutStep kind;          // what the step cut at was
};

void EndThisThread(unsigned long step, CutStep kind, void* context)
{
    Cut* cut = static_cast<Cut*>(context);
    if (step != cut->at)
        return;
    cut->kind = kind;
    if (kind == CUT_AFTER_CHANGE)
        DropUndurableJournal();
    ExitThread(kCutExitCode);
}

DWORD WINAPI RunOnThread(LPVOID parameter)
{
    Cut* cut = static_cast<Cut*>(parameter);
    CoInitialize(nullptr);
    cut->steps(*cut->plan);
    CoUninitialize();
    return 0;
}

// Runs cut's steps on a thread of their own, action called at each step;
// the steps passed.
unsigned long RunOnItsThread(Cut& cut, CutPointAction action, void* context)
{
    ResetCutPoints();
    SetCutPointAction(action, context);
    HANDLE thread = CreateThread(nullptr, 0, RunOnThread, &cut, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    SetCutPointAction(nullptr, nullptr);
    unsigned long passed = CutPointsPassed();
    ForgetTheProcess();
    return passed;
}

// Runs steps on a thread of their own, ended at step at (0: never); the
// steps passed, and the kind of the step it was ended at in *kind.
unsigned long RunCut(void (*steps)(const RunPlan&), const RunPlan& plan, unsigned long at, CutStep* kind = nullptr)
{
    Cut cut = {steps, &plan, at, CUT_AFTER_CHANGE};
    unsigned long passed = RunOnItsThread(cut, EndThisThread, &cut);
    if (kind)
        *kind = cut.kind;
    return passed;
}

// A folder of the installation swapped, at one step of a run that goes
// on, for a link to a folder of somebody else's holding files of the same
// names.
// A guarded folder itself is swapped only once the run has found it:
// before, the link is as good as the user's own choice of folder.
struct Swap {
    unsigned long at;
    std::string folder, moved, victim;
    bool made;
    bool guarded;
};

bool FoundByTheRun(const std::string& folder)
{
    for (size_t i = 0; i < SessionJournal.Guarded.Count(); ++i)
        if (lstrcmpiA(SessionJournal.Guarded.At(i), folder.c_str()) == 0)
            return SessionJournal.Guarded.FinalAt(i)[0] != '\0';
    return false;
}

void SwapForLink(unsigned long step, CutStep, void* context)
{
    Swap* swap = static_cast<Swap*>(context);
    if (step >= swap->at && !swap->made && (step == swap->at || swap->guarded) &&
        (!swap->guarded || FoundByTheRun(swap->folder)))
        swap->made = MoveFileA(swap->folder.c_str(), swap->moved.c_str()) &&
                     testfiles::MakeUnixLink(swap->victim, swap->folder);
}

// The last record of the journal file torn, as a power cut leaves it: the
// first half of its bytes kept, its newline lost.
void TearLastRecord(e2e::Scope scope)
{
    std::string path = e2e::JournalFile(kProduct, kMaker, scope);
    std::string data = e2e::ReadFile(path);
    if (data.size() < 2)
        return;
    size_t start = data.rfind('\n', data.size() - 2) + 1;
    size_t keep = start + (data.size() - 1 - start) / 2;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    SetFilePointer(file, static_cast<LONG>(keep), nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    CloseHandle(file);
}

class CrashEveryStep : public ::testing::Test {
protected:
    void SetUp() override
    {
        scope_ = user_ ? e2e::Scope::User : e2e::Scope::Machine;
        root_ = e2e::TempFolder("crash steps");
        store_ = e2e::TempFolder("crash steps saved");
        target_ = root_ + "\\Ledger";
        group_ = SpecialFolder(CSIDL_PROGRAMS) + "\\Halvorsen Data";
        // 1.0's own links, for every user in the common Start menu; 2.0's
        // three default ones in the installing user's.
        commonGroup_ = SpecialFolder(CSIDL_COMMON_PROGRAMS) + "\\Halvorsen Data";
        desktopLink_ = SpecialFolder(user_ ? CSIDL_DESKTOPDIRECTORY : CSIDL_COMMON_DESKTOPDIRECTORY) +
                       "\\Halvorsen Ledger.lnk";
        setup_ = e2e::SetupFolder(kProduct, kMaker, scope_);
        for (const char* key : kKeys)
            keys_.push_back(user_ ? std::string("HKCU\\") + key : key);
        // The PATH the product's folders go on (saved and compared, never
        // cleaned).
        keys_.push_back(user_ ? "HKCU\\Environment" : "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment");
        CreateDirectoryA(store_.c_str(), nullptr);
        LinkBytes.clear();
        MakeLinkBytes = KeptLinkBytes;
        Clean();
    }
    void TearDown() override
    {
        Clean();
        e2e::RemoveTree(store_);
        MakeLinkBytes = ShellLinkBytes;
        SetInstallScope(SCOPE_MACHINE);
    }
    static std::string SpecialFolder(int csidl)
    {
        char path[MAX_PATH] = "";
        SHGetFolderPathA(nullptr, csidl, nullptr, 0, path);
        return path;
    }
    void Clean()
    {
        for (const char* key : kKeys) {
            e2e::DeleteKeyTree(HKEY_LOCAL_MACHINE, key);
            e2e::DeleteKeyTree(HKEY_CURRENT_USER, key);
        }
        for (const std::string& folder : {root_, group_, commonGroup_, setup_.substr(0, setup_.rfind('\\'))})
            e2e::RemoveTree(folder);
        DeleteFileA(desktopLink_.c_str());
        CreateDirectoryA(root_.c_str(), nullptr);
    }
    e2e::State Now()
    {
        e2e::State state = e2e::Snapshot({root_, group_, commonGroup_, setup_}, keys_, {desktopLink_});
        for (const std::string& folder : {group_, commonGroup_, setup_})
            if (e2e::FolderExists(folder))
                state[folder + "\\"] = "folder";
        return state;
    }
    void Save(e2e::SavedState& state, const char* name)
    {
        state.Save(store_ + "\\" + name, {{root_, false}, {group_, false}, {commonGroup_, true}, {setup_, true},
                                             {desktopLink_, false, true}},
                   keys_, scope_);
    }
    void Restore(const e2e::SavedState& state)
    {
        Clean();
        state.Restore();
    }
    RunPlan Plan(const char* version, bool repair = false, bool removal = false)
    {
        return {version, repair, removal, target_, user_, x64_};
    }
    void Install(const char* version)
    {
        RunCut(InstallSteps, Plan(version), 0);
        ASSERT_TRUE(e2e::Exists(target_ + "\\UnInstall.ini")) << "the installation of " << version;
    }
    void AddUsersFiles()
    {
        ASSERT_TRUE(e2e::WriteFile(target_ + "\\notes.txt", "the user's own"));
        ASSERT_TRUE(e2e::WriteFile(target_ + "\\Data\\mine.dat", "the user's own data"));
    }

    // Cuts the run at every one of its steps (or an even spread of them),
    // each cut from the machine as it was before the run (each record step
    // also torn, as a power cut leaves it); after each, a fresh session
    // recovers, and the machine is the one before or, from the commit on,
    // the one after. A record lost whole needs no cut of its own: the
    // journal then ends at the boundary before it, which is the cut at the
    // step before.
    void CutAtEveryStep(const RunPlan& plan, unsigned long spread = 0)
    {
        e2e::SavedState before;
        Save(before, "before");
        e2e::State was = Now();
        void (*steps)(const RunPlan&) = plan.removal ? RemovalSteps : InstallSteps;
        unsigned long total = RunCut(steps, plan, 0);
        ASSERT_GT(total, 10u);
        e2e::State after = Now();
        ASSERT_NE("", e2e::Differences(was, after)) << "the run changed nothing";
        Restore(before);
        ASSERT_EQ("", e2e::Differences(was, Now())) << "the machine was not put back";
        bool committed = false, restore = false;
        unsigned long cuts = 0;
        for (unsigned long k : StepsToCut(total, spread)) {
            CutStep kind = CUT_AFTER_CHANGE;
            for (int torn = 0; torn < 2 && (!torn || kind == CUT_AFTER_RECORD); ++torn) {
                SCOPED_TRACE("step " + std::to_string(k) + " of " + std::to_string(total) +
                             (torn ? ", its record torn" : ""));
                // A recovery that gave the machine back as it was, file for
                // file and value for value, leaves nothing to put back.
                if (restore)
                    Restore(before);
                RunCut(steps, plan, k, &kind);
                if (torn)
                    TearLastRecord(scope_);
                ++cuts;
                RunCut(RecoverySteps, plan, 0);
                e2e::State now = Now();
                ASSERT_FALSE(e2e::Exists(e2e::JournalFile(kProduct, kMaker, scope_))) << "a journal is left";
                std::string toBefore = e2e::Differences(was, now);
                restore = !toBefore.empty();
                if (!restore && (torn || !committed))
                    continue;
                // A torn record is never the commit of a run that had
                // committed before it.
                ASSERT_EQ(0, torn) << toBefore;
                committed = true;
                ASSERT_EQ("", e2e::Differences(e2e::WithoutTimes(after), e2e::WithoutTimes(now)))
                    << "neither before nor after the run:\n"
                    << toBefore;
            }
        }
        RecordProperty("cuts", static_cast<int>(cuts));
        printf("%s: %lu steps, %lu cuts\n", ::testing::UnitTest::GetInstance()->current_test_info()->name(), total,
               cuts);
        Restore(before);
    }

    // A folder swapped for a link at every step of the run in turn (the
    // installation's Data folder, below the guarded installation folder;
    // the installation folder itself, which holds UnInstall.exe and
    // UnInstall.ini; or the Start-menu group of the links), the link
    // leading to somebody else's folder with files of the same names:
    // nothing behind it changes, whatever the run and its recovery do
    // after the swap.
    enum Swapped { DATA_FOLDER, INSTALLATION_FOLDER, LINK_GROUP };
    void SwapAtEveryStep(const RunPlan& plan, unsigned long spread = 0, Swapped which = DATA_FOLDER)
    {
        std::string victim = root_ + "\\Victim";
        std::string data = which == DATA_FOLDER ? target_ + "\\Data" : which == LINK_GROUP ? commonGroup_ : target_;
        std::vector<std::string> names = {"accounts.dat", "rates.dat", "mine.dat", "Old\\2019.dat"};
        if (which != DATA_FOLDER)
            names = e2e::ListFiles(data);
        for (const std::string& name : names) {
            std::string path = victim + "\\" + name;
            SHCreateDirectoryExA(nullptr, path.substr(0, path.rfind('\\')).c_str(), nullptr);
            ASSERT_TRUE(e2e::WriteFile(path, "somebody else's"));
        }
        e2e::State theirs = e2e::Snapshot({victim}, {});
        e2e::SavedState before;
        Save(before, "before");
        void (*steps)(const RunPlan&) = plan.removal ? RemovalSteps : InstallSteps;
        unsigned long total = RunCut(steps, plan, 0), swaps = 0;
        std::vector<unsigned long> cuts = StepsToCut(total, spread);
        for (unsigned long k : cuts) {
            SCOPED_TRACE(data.substr(data.rfind('\\') + 1) + " swapped for a link after step " + std::to_string(k) +
                         " of " + std::to_string(total));
            Restore(before);
            Swap swap = {k, data, data + " moved", victim, false, which == INSTALLATION_FOLDER};
            Cut run = {steps, &plan, 0, CUT_AFTER_CHANGE};
            RunOnItsThread(run, SwapForLink, &swap);
            RunCut(RecoverySteps, plan, 0);
            if (swap.made)
                testfiles::RemoveLink(data);
            e2e::RemoveTree(swap.moved);
            swaps += swap.made;
            ASSERT_EQ("", e2e::Differences(theirs, e2e::Snapshot({victim}, {}))) << "a change went through the link";
            ASSERT_FALSE(e2e::Exists(e2e::JournalFile(kProduct, kMaker))) << "a journal is left";
        }
        ASSERT_GT(swaps, cuts.size() / 2);
        printf("%s: %lu steps, %lu swaps\n", ::testing::UnitTest::GetInstance()->current_test_info()->name(), total,
               swaps);
        Restore(before);
    }

    bool user_ = false;
    bool x64_ = false;
    e2e::Scope scope_ = e2e::Scope::Machine;
    std::string root_, store_, target_, group_, commonGroup_, setup_, desktopLink_;
    std::vector<std::string> keys_;
};

// The same cuts for a product installed for the user alone: its keys in the
// user's hive, its private folder in the user's local application data.
class CrashEveryStepForTheUser : public CrashEveryStep {
protected:
    void SetUp() override
    {
        user_ = true;
        CrashEveryStep::SetUp();
    }
};

TEST_F(CrashEveryStep, FreshInstall)
{
    CutAtEveryStep(Plan("3.9"));
    Install("3.9");
    EXPECT_TRUE(e2e::Exists(desktopLink_)) << "the run's steps make its task's link";
    EXPECT_TRUE(e2e::Exists(commonGroup_ + "\\Halvorsen Ledger Help.lnk"));
}

TEST_F(CrashEveryStep, ReinstallOverTheUsersFiles)
{
    Install("3.9");
    AddUsersFiles();
    CutAtEveryStep(Plan("3.9"), kSpread);
}

TEST_F(CrashEveryStep, Repair)
{
    Install("3.9");
    AddUsersFiles();
    DeleteFileA((target_ + "\\Docs\\Guide.txt").c_str());
    CutAtEveryStep(Plan("3.9", true), kSpread);
}

TEST_F(CrashEveryStep, UpgradeThatDropsFiles)
{
    Install("3.9");
    AddUsersFiles();
    CutAtEveryStep(Plan("3.10"), kSpread);
}

TEST_F(CrashEveryStepForTheUser, UpgradeThatDropsFiles)
{
    Install("3.9");
    AddUsersFiles();
    CutAtEveryStep(Plan("3.10"), kSpread);
}

// In the twin's own prefix the 64-bit view is the test's own: the keys
// compared are the ones the run changes.
TEST_F(CrashEveryStep, UpgradeOfASixtyFourBitProduct)
{
    x64_ = true;
    Install("3.9");
    AddUsersFiles();
    CutAtEveryStep(Plan("3.10"), kSpread);
}

TEST_F(CrashEveryStep, Removal)
{
    Install("3.9");
    AddUsersFiles();
    CutAtEveryStep(Plan("3.9", false, true));
}

TEST_F(CrashEveryStep, LinkSwappedIntoAReinstall)
{
    Install("3.9");
    AddUsersFiles();
    SwapAtEveryStep(Plan("3.9"), kSpread);
}

TEST_F(CrashEveryStep, LinkSwappedIntoARemoval)
{
    Install("3.9");
    AddUsersFiles();
    SwapAtEveryStep(Plan("3.9", false, true));
}

// The guarded folders themselves swapped: the installation folder and the
// links' group, at an even spread of the steps of a reinstall and of a
// removal.
TEST_F(CrashEveryStep, LinkSwappedForAGuardedFolder)
{
    Install("3.9");
    AddUsersFiles();
    for (Swapped which : {INSTALLATION_FOLDER, LINK_GROUP}) {
        SCOPED_TRACE(which == LINK_GROUP ? "the links' group" : "the installation folder");
        SwapAtEveryStep(Plan("3.9"), kRecoverySpread, which);
        SwapAtEveryStep(Plan("3.9", false, true), kRecoverySpread, which);
    }
}

// A run cut at eight steps spread over an upgrade (the last, after its
// commit, among them), then its recovery cut at its own steps (an even
// spread of 16, every one with SETUP_CUT_EVERY_STEP): the recovery after
// that still gives back the machine as it was, or as the completed run
// left it.
TEST_F(CrashEveryStep, RecoveryOfARecovery)
{
    Install("3.9");
    AddUsersFiles();
    RunPlan plan = Plan("3.10");
    e2e::SavedState before, cut;
    Save(before, "before");
    e2e::State was = Now();
    unsigned long total = RunCut(InstallSteps, plan, 0);
    e2e::State after = Now();
    for (unsigned long i = 0; i < 8; ++i) {
        unsigned long k = 1 + i * (total - 1) / 7;
        Restore(before);
        RunCut(InstallSteps, plan, k);
        Save(cut, "cut");
        unsigned long recovery = RunCut(RecoverySteps, plan, 0);
        e2e::State recovered = Now();
        for (unsigned long j : StepsToCut(recovery, kRecoverySpread)) {
            SCOPED_TRACE("run cut at " + std::to_string(k) + ", its recovery at " + std::to_string(j) + " of " +
                         std::to_string(recovery));
            Restore(cut);
            RunCut(RecoverySteps, plan, j);
            RunCut(RecoverySteps, plan, 0);
            ASSERT_EQ("", e2e::Differences(recovered, Now()));
        }
        EXPECT_TRUE(e2e::Differences(was, recovered).empty() || e2e::Differences(e2e::WithoutTimes(after), e2e::WithoutTimes(recovered)).empty());
    }
}

} // namespace
