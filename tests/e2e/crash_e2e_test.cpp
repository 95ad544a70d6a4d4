// The real setup program and uninstaller, cut at an even spread of their
// steps: the test build passes a cut point after every journal record and
// every change, and SETUP_CUT_AT=K ends the process abruptly at the K-th.
// After each cut the next start of a setup of the product recovers (and is
// stopped right there, SETUP_STOP_AFTER_RECOVERY), and the machine must be
// exactly as it was before the run, or, once the run had committed,
// exactly as the completed run left it. The runs: a fresh install, a
// reinstall over an installation with the user's files, a repair, an
// upgrade that drops files, and a removal; for the upgrade also the
// recovery itself cut at its steps. Products: Halvorsen Ledger 1.0 and
// 2.0 (tests/e2e/make_maker_product.py).
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <functional>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "rollback/cut_points.h"
#include "tests/common/files.h"
#include "tests/e2e/driver.h"

#ifndef LEDGER_DIR
#error LEDGER_DIR comes from the build
#endif

using namespace e2e;

namespace {

const char kProduct[] = "Halvorsen Ledger";
const char kMaker[] = "Halvorsen";
const char* const kKeys[] = {"SOFTWARE\\Halvorsen", "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Halvorsen Ledger",
                             "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Ledger.exe",
                             "SOFTWARE\\Shared Tools", "SOFTWARE\\Classes\\.hlg",
                             "SOFTWARE\\Classes\\Halvorsen.Ledger.Book"};
// The PATH the product's folders go on: saved and compared, never cleaned.
const char kEnvironment[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

std::vector<std::string> StateKeys()
{
    std::vector<std::string> keys(std::begin(kKeys), std::end(kKeys));
    keys.push_back(kEnvironment);
    return keys;
}
// The spread of cut points per run.
const int kCuts = 30;

std::string SetupOf(const char* version) { return FromUnixPath(std::string(LEDGER_DIR) + "/ledger-" + version + ".exe"); }

std::string SpecialFolder(int csidl)
{
    char path[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, csidl, nullptr, 0, path);
    return path;
}

// Runs program to its end with the cut-point variables given (the others
// cleared); its exit code, or -1 when it did not end.
long RunWith(const std::string& program, const std::string& arguments,
             const std::map<std::string, std::string>& variables)
{
    for (const char* name : {"SETUP_CUT_AT", "SETUP_CUT_STEPS_FILE", "SETUP_STOP_AFTER_RECOVERY"}) {
        auto v = variables.find(name);
        SetEnvironmentVariableA(name, v == variables.end() ? nullptr : v->second.c_str());
    }
    // Wine has once refused a start here under load (CreateProcess, in a
    // run of the whole suite; not seen alone): a second start tells that
    // apart from a run that fails, and the error is named either way.
    auto process = std::make_unique<Process>(program, arguments);
    if (!process->Started()) {
        std::fprintf(stderr, "the run did not start (error %lu): starting it again\n",
                     static_cast<unsigned long>(process->StartError()));
        process = std::make_unique<Process>(program, arguments);
    }
    long code = process->Wait(e2e::kHangWait);
    if (code == -1)
        std::fprintf(stderr, "the run %s (error %lu)\n", process->Started() ? "did not end" : "did not start",
                     static_cast<unsigned long>(process->StartError()));
    for (const char* name : {"SETUP_CUT_AT", "SETUP_CUT_STEPS_FILE", "SETUP_STOP_AFTER_RECOVERY"})
        SetEnvironmentVariableA(name, nullptr);
    return code;
}

class CrashE2e : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = TempFolder("e2e crash");
        store_ = TempFolder("e2e crash saved");
        CreateDirectoryA(store_.c_str(), nullptr);
        target_ = root_ + "\\Ledger";
        group_ = SpecialFolder(CSIDL_PROGRAMS) + "\\Halvorsen Data";
        // 3.9's own links: for every user, and one on every user's desktop.
        commonGroup_ = SpecialFolder(CSIDL_COMMON_PROGRAMS) + "\\Halvorsen Data";
        desktopLink_ = SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + "\\Halvorsen Ledger.lnk";
        makerFolder_ = SetupFolder(kProduct, kMaker);
        makerFolder_.resize(makerFolder_.rfind('\\'));
        Clean();
    }
    void TearDown() override
    {
        Clean();
        RemoveTree(store_);
    }
    void Clean()
    {
        for (const char* key : kKeys)
            DeleteKeyTree(HKEY_LOCAL_MACHINE, key);
        for (const std::string& folder : {root_, group_, commonGroup_, makerFolder_})
            RemoveTree(folder);
        DeleteFileA(desktopLink_.c_str());
        CreateDirectoryA(root_.c_str(), nullptr);
    }

    // What a run may change: the product's folder (in its parent, so that
    // an empty folder left behind shows), the Start-menu folder, the
    // product's setup folder (its journal, its repair copy) and its keys.
    State Now()
    {
        State state = Snapshot({root_, group_, commonGroup_, SetupFolder(kProduct, kMaker)}, StateKeys(), {desktopLink_});
        for (const std::string& folder : {group_, commonGroup_, SetupFolder(kProduct, kMaker)})
            if (FolderExists(folder))
                state[folder + "\\"] = "folder";
        return state;
    }

    // The machine as a run found it (or as a cut left it), kept and put
    // back exactly.
    void Save(SavedState& state)
    {
        state.Save(store_ + "\\" + std::to_string(reinterpret_cast<uintptr_t>(&state)),
                   {{root_, false}, {group_, false}, {commonGroup_, true}, {SetupFolder(kProduct, kMaker), true},
                    {desktopLink_, false, true}},
                   StateKeys());
    }
    void Restore(const SavedState& state)
    {
        Clean();
        state.Restore();
    }

    void Install(const char* version) { ASSERT_EQ(0, RunWith(SetupOf(version), "/S /D=" + target_, {})); }
    void AddUsersFiles()
    {
        ASSERT_TRUE(WriteFile(target_ + "\\notes.txt", "the user's own"));
        ASSERT_TRUE(WriteFile(target_ + "\\Data\\mine.dat", "the user's own data"));
    }
    // The start of a setup of the product that recovers whatever a run
    // left, and nothing more.
    long Recover(const std::map<std::string, std::string>& more = {})
    {
        std::map<std::string, std::string> variables = more;
        variables["SETUP_STOP_AFTER_RECOVERY"] = "1";
        return RunWith(SetupOf("3.9"), "/S", variables);
    }
    // The steps of a run of program that goes its whole way.
    unsigned long CountSteps(const std::string& program, const std::string& arguments, long* code,
                             std::map<std::string, std::string> variables = {})
    {
        std::string file = store_ + "\\steps.txt";
        DeleteFileA(file.c_str());
        variables["SETUP_CUT_STEPS_FILE"] = file;
        *code = RunWith(program, arguments, variables);
        return strtoul(ReadFile(file).c_str(), nullptr, 10);
    }
    // kCuts steps from 1 to last, both included, evenly spread.
    static std::vector<unsigned long> Spread(unsigned long last, int count)
    {
        std::vector<unsigned long> steps;
        for (int i = 0; i < count; ++i) {
            unsigned long k = 1 + static_cast<unsigned long>((last - 1) * static_cast<double>(i) / (count - 1) + 0.5);
            if (steps.empty() || steps.back() != k)
                steps.push_back(k);
        }
        return steps;
    }

    // The scenario: prepare() lays out the machine the run finds; the run
    // is cut at an even spread of its steps; each cut is recovered and
    // compared. The uninstaller's copy that removes its program is waited
    // for before the complete run is looked at.
    void CutEverywhere(const std::function<void()>& prepare, const std::string& program, const std::string& arguments)
    {
        prepare();
        if (HasFatalFailure())
            return;
        Save(before_);
        State before = Now();
        long code = 0;
        unsigned long steps = CountSteps(program, arguments, &code);
        ASSERT_TRUE(code == 0 || code == 1) << "the whole run: exit code " << code;
        ASSERT_GT(steps, 10u);
        // The uninstaller's copy deletes the program once it has ended, and
        // finishes the journal after it.
        WaitUntil(
            [&] {
                return program.find("UnInstall") == std::string::npos ||
                       (!Exists(target_ + "\\UnInstall.exe") && !FolderExists(SetupFolder(kProduct, kMaker)));
            },
            kHangWait);
        State after = Now();
        ASSERT_NE("", Differences(before, after)) << "the run changed nothing";
        Restore(before_);
        ASSERT_EQ("", Differences(before, Now())) << "the machine was not put back";
        bool committed = false, restore = false;
        for (unsigned long k : Spread(steps, kCuts)) {
            SCOPED_TRACE("cut at step " + std::to_string(k) + " of " + std::to_string(steps));
            // A recovery that gave the machine back as it was leaves
            // nothing to put back.
            if (restore)
                Restore(before_);
            EXPECT_EQ(kCutExitCode, RunWith(program, arguments, {{"SETUP_CUT_AT", std::to_string(k)}}));
            EXPECT_EQ(kCutExitCode, Recover());
            State now = Now();
            EXPECT_FALSE(Exists(JournalFile(kProduct, kMaker))) << "a journal is left";
            std::string toBefore = Differences(before, now);
            std::string toAfter = Differences(WithoutTimes(after), WithoutTimes(now));
            restore = !toBefore.empty();
            if (!committed && toBefore.empty())
                continue;
            committed = true;
            EXPECT_EQ("", toAfter) << "neither the machine before the run nor the completed run:\n" << toBefore;
        }
        Restore(before_);
    }

    std::string root_, store_, target_, group_, commonGroup_, desktopLink_, makerFolder_;
    SavedState before_, cut_;
};

TEST_F(CrashE2e, FreshInstall)
{
    CutEverywhere([] {}, SetupOf("3.9"), "/S /D=" + target_);
}

TEST_F(CrashE2e, ReinstallOverTheUsersFiles)
{
    CutEverywhere([&] { Install("3.9"); AddUsersFiles(); }, SetupOf("3.9"), "/S");
}

TEST_F(CrashE2e, Repair)
{
    CutEverywhere(
        [&] {
            Install("3.9");
            AddUsersFiles();
            DeleteFileA((target_ + "\\Docs\\Guide.txt").c_str());
        },
        SetupOf("3.9"), "/S /r " + target_);
}

TEST_F(CrashE2e, UpgradeThatDropsFiles)
{
    CutEverywhere([&] { Install("3.9"); AddUsersFiles(); }, SetupOf("3.10"), "/S");
}

TEST_F(CrashE2e, Removal)
{
    CutEverywhere([&] { Install("3.9"); AddUsersFiles(); }, target_ + "\\UnInstall.exe",
                  "\"Halvorsen Ledger\" \"Ledger.exe\" /S");
}

// The recovery itself cut at its steps: a run cut in the middle of an
// upgrade, its recovery cut again, and the next start still gives back the
// machine as it was.
TEST_F(CrashE2e, RecoveryOfARecovery)
{
    Install("3.9");
    AddUsersFiles();
    Save(before_);
    State before = Now();
    long code = 0;
    unsigned long steps = CountSteps(SetupOf("3.10"), "/S", &code);
    ASSERT_EQ(0, code);
    for (unsigned long k : {steps / 3, steps / 2}) {
        Restore(before_);
        EXPECT_EQ(kCutExitCode, RunWith(SetupOf("3.10"), "/S", {{"SETUP_CUT_AT", std::to_string(k)}}));
        Save(cut_);
        State cut = Now();
        long recovered = 0;
        unsigned long recovery = CountSteps(SetupOf("3.9"), "/S", &recovered, {{"SETUP_STOP_AFTER_RECOVERY", "1"}});
        EXPECT_EQ("", Differences(before, Now())) << "the recovery of the cut at " << k;
        ASSERT_GT(recovery, 2u);
        for (unsigned long j : Spread(recovery, 6)) {
            SCOPED_TRACE("run cut at " + std::to_string(k) + ", its recovery at " + std::to_string(j));
            Restore(cut_);
            ASSERT_EQ("", Differences(cut, Now()));
            EXPECT_EQ(kCutExitCode, Recover({{"SETUP_CUT_AT", std::to_string(j)}}));
            EXPECT_EQ(kCutExitCode, Recover());
            EXPECT_EQ("", Differences(before, Now()));
        }
    }
}

} // namespace
