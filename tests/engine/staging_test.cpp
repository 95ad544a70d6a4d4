// Tests of the staging thread: byte-exact copies of the "CAB" resources in
// 32,767-byte chunks, the status codes of its failures, and a cancel in
// the middle of the first copy.
#include <gtest/gtest.h>

#include <string>

#include "engine/engine.h"
#include "app/app.h"
#include "tests/engine/engine_test_files.h"

using namespace enginetest;

namespace {

const uint32_t Chunk = 32767;

long ChunksOf(uint32_t size)
{
    return static_cast<long>((size + Chunk - 1) / Chunk);
}

class StagingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetInstallerContext();
        PauseWorkers(false);
        // Staged files land in the scratch folder, which the test removes.
        tmp_ = new ScopedEnvironment("TMP", scratch_.Path().c_str());
        temp_ = new ScopedEnvironment("TEMP", scratch_.Path().c_str());
    }
    void TearDown() override
    {
        PauseWorkers(false);
        if (module_)
            FreeLibrary(module_);
        ReleaseStagedCabinets();
        delete temp_;
        delete tmp_;
    }

    // Loads a case's resource-only DLL as data; null means the test
    // program itself, which carries no "CAB" resource.
    HMODULE UseCase(const char* name)
    {
        if (!name)
            return GetModuleHandleA(nullptr);
        module_ = LoadLibraryExA((ProgramFolder() + name + ".dll").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        return module_;
    }

    HANDLE Start(HMODULE module)
    {
        Context.StagingJob.ModuleHandle = module;
        return CreateThread(nullptr, 0, StagingThreadProc, &Context.StagingJob, 0, nullptr);
    }

    static void Finish(HANDLE thread)
    {
        ASSERT_EQ(WaitForSingleObject(thread, 120000), WAIT_OBJECT_0);
        CloseHandle(thread);
    }

    ScratchFolder scratch_;
    ScopedEnvironment* tmp_ = nullptr;
    ScopedEnvironment* temp_ = nullptr;
    HMODULE module_ = nullptr;
};

std::string BaseName(const std::string& path)
{
    return path.substr(path.find_last_of('\\') + 1);
}

TEST_F(StagingTest, CopiesBothCabinetsByteForByteInChunksOf32767)
{
    struct Case {
        const char* dll;
        uint32_t mainSize;
        uint32_t archivistSize;
    } cases[] = {
        {"stage_small", 0, 32767},       // empty copy; exactly one chunk
        {"stage_split", 32768, 65535},   // 32,767 + 1; 32,767 + 32,767 + 1
        {"stage_large", 4194304, 1000},  // the size of a real product cabinet
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dll);
        HMODULE module = UseCase(c.dll);
        ASSERT_NE(module, nullptr);
        Context.StagingJob.Status = -1;
        long passesBefore = WorkerGatePasses();
        Finish(Start(module));
        long passes = WorkerGatePasses() - passesBefore;

        const StagingJobRecord& job = Context.StagingJob;
        EXPECT_EQ(job.Status, 0);
        EXPECT_EQ(static_cast<uint32_t>(job.Done), c.mainSize + c.archivistSize);
        // One gate pass before every chunk and one that finds nothing left.
        EXPECT_EQ(passes, ChunksOf(c.mainSize) + 1 + ChunksOf(c.archivistSize) + 1);
        EXPECT_EQ(ReadWholeFile(job.MainCabTemp), ResourceBytes(module, "MAIN", "CAB"));
        EXPECT_EQ(ReadWholeFile(job.ArchivistCabTemp), ResourceBytes(module, "ARCHIVIST", "CAB"));
        EXPECT_EQ(ReadWholeFile(job.MainCabTemp).size(), c.mainSize);
        EXPECT_EQ(BaseName(job.MainCabTemp).compare(0, 3, "tmp"), 0) << job.MainCabTemp;
        EXPECT_EQ(std::string(job.ArchivistCabTemp).find(scratch_.Path()), 0u) << job.ArchivistCabTemp;

        ReleaseStagedCabinets();
        FreeLibrary(module_);
        module_ = nullptr;
    }
}

TEST_F(StagingTest, FailuresEndWithTheirStatusAndNoStalePath)
{
    std::string longFolder = "C:\\" + std::string(180, 'f');
    std::string missingFolder = scratch_.Path() + "\\absent";
    struct Case {
        const char* name;
        const char* dll;
        const char* tempFolder; // null: the scratch folder
        int status;
        bool mainComplete;
    } cases[] = {
        {"ARCHIVIST missing", "stage_no_archivist", nullptr, 1, true},
        {"MAIN missing", nullptr, nullptr, 1, false},
        {"temporary folder longer than 150 characters", "stage_split", longFolder.c_str(), 4, false},
        {"temporary folder that does not exist", "stage_split", missingFolder.c_str(), 4, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HMODULE module = UseCase(c.dll);
        ASSERT_NE(module, nullptr);
        ScopedEnvironment tmp("TMP", c.tempFolder ? c.tempFolder : scratch_.Path().c_str());
        ScopedEnvironment temp("TEMP", c.tempFolder ? c.tempFolder : scratch_.Path().c_str());
        // Paths left from an earlier run must not reach the clean-up.
        CopyBounded(Context.StagingJob.MainCabTemp, 260, "C:\\stale-main.tmp");
        CopyBounded(Context.StagingJob.ArchivistCabTemp, 260, "C:\\stale-archivist.tmp");
        Finish(Start(module));

        const StagingJobRecord& job = Context.StagingJob;
        EXPECT_EQ(job.Status, c.status);
        EXPECT_STREQ(job.ArchivistCabTemp, "");
        if (c.mainComplete) {
            EXPECT_EQ(ReadWholeFile(job.MainCabTemp), ResourceBytes(module, "MAIN", "CAB"));
            EXPECT_EQ(static_cast<uint32_t>(job.Done), ResourceBytes(module, "MAIN", "CAB").size());
        } else {
            EXPECT_STREQ(job.MainCabTemp, "");
            EXPECT_EQ(job.Done, 0);
        }
        ReleaseStagedCabinets();
        if (module_) {
            FreeLibrary(module_);
            module_ = nullptr;
        }
    }
}

// The worker stops at a chunk boundary; with the gate closed the test
// knows exactly where. A cancel then leaves a short first file, an empty
// second one and Status 0.
TEST_F(StagingTest, CancelLeavesShortFirstCopyAndEmptySecond)
{
    HMODULE module = UseCase("stage_large");
    ASSERT_NE(module, nullptr);
    const std::string main = ResourceBytes(module, "MAIN", "CAB");

    for (bool afterSomeChunks : {false, true}) {
        SCOPED_TRACE(afterSomeChunks ? "cancel after some chunks" : "cancel before the first chunk");
        // The gate holds the worker before its first chunk; after some
        // chunks it closes by itself at an exact pass, so the copy can
        // never outrun the test.
        Context.UserCancelled = 0;
        PauseWorkers(true);
        HANDLE thread = Start(module);
        ASSERT_NE(thread, nullptr);
        while (!WorkerIsParked() && WaitForSingleObject(thread, 1) == WAIT_TIMEOUT)
            ;
        if (afterSomeChunks) {
            PauseWorkersAfterPasses(2);
            PauseWorkers(false);
            while (Context.StagingJob.Done < static_cast<int32_t>(2 * Chunk) || !WorkerIsParked())
                Sleep(1);
        }
        EXPECT_EQ(afterSomeChunks ? 2 * Chunk : 0u, static_cast<uint32_t>(Context.StagingJob.Done));
        Context.UserCancelled = 1;
        PauseWorkers(false);
        Finish(thread);

        const StagingJobRecord& job = Context.StagingJob;
        bool mainFound = false;
        bool archivistFound = false;
        std::string staged = ReadWholeFile(job.MainCabTemp, &mainFound);
        std::string archivist = ReadWholeFile(job.ArchivistCabTemp, &archivistFound);
        EXPECT_EQ(job.Status, 0);
        EXPECT_TRUE(mainFound);
        EXPECT_EQ(staged.size(), static_cast<uint32_t>(job.Done));
        EXPECT_EQ(staged.size() % Chunk, 0u);
        EXPECT_EQ(staged, main.substr(0, staged.size()));
        if (afterSomeChunks)
            EXPECT_GT(staged.size(), 0u);
        else
            EXPECT_EQ(staged.size(), 0u);
        EXPECT_TRUE(archivistFound);
        EXPECT_EQ(archivist.size(), 0u);
        ReleaseStagedCabinets();
    }
}

} // namespace
