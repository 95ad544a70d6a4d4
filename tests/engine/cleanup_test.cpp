// The clean-up at the end of the process on real folders under Wine: staged
// cabinets always go; a cancelled or failed run is rolled back through its
// journal, read-only files included, removing only the folders the run
// made and keeping everything that was there before.
#include <gtest/gtest.h>

#include <string>

#include "app/app.h"
#include "engine/engine.h"
#include "rollback/rollback.h"
#include "tests/setup/temp_folder.h"

namespace {

class Cleanup : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetInstallerContext();
        root_ = folder_.Path();
        mainCab_ = Write("main.cab", "staged");
        archivistCab_ = Write("archivist.cab", "staged");
        Context.MainCabTempPath = mainCab_.c_str();
        Context.ArchivistCabTempPath = archivistCab_.c_str();
        // An existing folder that holds another program, and the run's own
        // folder tree below it, recorded as the run makes it.
        CreateDirectoryA((root_ + "\\Programs").c_str(), nullptr);
        Write("Programs\\other.txt", "another program");
        target_ = root_ + "\\Programs\\Product\\";
        for (const char* folder : {"", "Samples", "Samples\\Deep", "Kept"})
            ASSERT_TRUE(RecordedCreateFolder(SessionJournal, (target_ + folder).c_str()));
        for (const char* f : {"a.exe", "Samples\\b.txt", "Samples\\Deep\\c.txt", "Kept\\d.txt"}) {
            std::string path = target_ + f;
            ASSERT_TRUE(PrepareFileForWriting(SessionJournal, path.c_str()));
            testfiles::WriteFile(path, "installed");
            Context.InstalledFiles.Add(path.c_str());
        }
        SetFileAttributesA((target_ + "Samples\\b.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
        Write("Programs\\Product\\Kept\\user.txt", "the user's own file");
        Context.ExtractTargetDir = target_.c_str();
        Context.TargetDir = target_.c_str();
    }
    void TearDown() override { ResetInstallerContext(); }

    std::string Write(const std::string& relative, const std::string& data)
    {
        std::string path = root_ + "\\" + relative;
        testfiles::WriteFile(path, data);
        return path;
    }
    bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

    TempFolder folder_;
    std::string root_, target_, mainCab_, archivistCab_;
};

TEST_F(Cleanup, SuccessfulRunOnlyLosesTheStagedCabinets)
{
    JournalCommit(SessionJournal);
    CleanupAfterFailure();
    EXPECT_FALSE(Exists(mainCab_));
    EXPECT_FALSE(Exists(archivistCab_));
    EXPECT_TRUE(Exists(target_ + "a.exe"));
    EXPECT_TRUE(Exists(target_ + "Samples\\Deep\\c.txt"));
}

TEST_F(Cleanup, FailedRunIsRolledBackUpToWhatWasThereBefore)
{
    Context.CleanupRequired = 1;
    CleanupAfterFailure();
    EXPECT_FALSE(Exists(mainCab_));
    EXPECT_FALSE(Exists(target_ + "a.exe"));
    EXPECT_FALSE(Exists(target_ + "Samples\\b.txt")) << "read-only files go too";
    EXPECT_FALSE(Exists(target_ + "Samples"));
    EXPECT_FALSE(Exists(target_ + "Kept\\d.txt"));
    EXPECT_TRUE(Exists(target_ + "Kept\\user.txt"));
    EXPECT_TRUE(Exists(root_ + "\\Programs\\other.txt"));
}

TEST_F(Cleanup, OnlyFoldersTheRunMadeGoAndOnlyWhenEmpty)
{
    // Nothing of the user's in the run's tree: it goes whole. An empty
    // folder that was there before (the user's Videos, say) and its empty
    // parent stay.
    DeleteFileA((target_ + "Kept\\user.txt").c_str());
    std::string chosen = root_ + "\\Empty\\Videos";
    CreateDirectoryA((root_ + "\\Empty").c_str(), nullptr);
    CreateDirectoryA(chosen.c_str(), nullptr);
    ASSERT_TRUE(PrepareFileForWriting(SessionJournal, (chosen + "\\x.exe").c_str()));
    testfiles::WriteFile(chosen + "\\x.exe", "installed");
    CleanupAfterFailure();
    EXPECT_FALSE(Exists(target_));
    EXPECT_TRUE(Exists(root_ + "\\Programs\\other.txt"));
    EXPECT_FALSE(Exists(chosen + "\\x.exe"));
    EXPECT_TRUE(Exists(chosen));
}

TEST_F(Cleanup, CancelDuringStagingRemovesTheStagedFilesAndTheEmptyDestination)
{
    // Staging never handed its paths over, and extraction never began.
    SessionJournal.Records.Clear();
    Context.MainCabTempPath.Clear();
    Context.ArchivistCabTempPath.Clear();
    RecordTemporaryFile(SessionJournal, mainCab_.c_str());
    RecordTemporaryFile(SessionJournal, archivistCab_.c_str());
    Context.InstalledFiles.Clear();
    Context.ExtractTargetDir.Clear();
    TempFolder::RemoveTree(target_);
    std::string fresh = root_ + "\\Programs\\Fresh\\";
    ASSERT_TRUE(RecordedCreateFolder(SessionJournal, fresh.c_str()));
    Context.TargetDir = fresh.c_str();
    Context.CleanupRequired = 1;
    CleanupAfterFailure();
    EXPECT_FALSE(Exists(mainCab_));
    EXPECT_FALSE(Exists(archivistCab_));
    EXPECT_FALSE(Exists(fresh));
    EXPECT_TRUE(Exists(root_ + "\\Programs\\other.txt"));
}

} // namespace
