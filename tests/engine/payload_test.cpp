// Tests of the finished setup.exe's payload: the four resources are there,
// the cabinets list the product's files with their folders, the containers
// unpack to Windows programs, the staging thread copies the real cabinets,
// and strings 5000 and 5001 match what the cabinets hold.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/engine.h"
#include "app/app.h"
#include "tests/engine/engine_test_files.h"

using namespace enginetest;

namespace {

struct CabinetEntry {
    std::string name;
    uint32_t size;
};

uint32_t Le32At(const std::string& s, size_t at)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(s[at + i]);
    return v;
}

uint16_t Le16At(const std::string& s, size_t at)
{
    return static_cast<uint16_t>(static_cast<unsigned char>(s[at]) | (static_cast<unsigned char>(s[at + 1]) << 8));
}

// The file list of a cabinet (its CFFILE records), read straight from the
// header; enough to check what the build put in, without decoding data.
std::vector<CabinetEntry> ListCabinet(const std::string& cab)
{
    std::vector<CabinetEntry> entries;
    if (cab.size() < 36 || cab.compare(0, 4, "MSCF") != 0)
        return entries;
    size_t at = Le32At(cab, 16);
    unsigned count = Le16At(cab, 28);
    for (unsigned i = 0; i < count && at + 16 < cab.size(); ++i) {
        CabinetEntry e;
        e.size = Le32At(cab, at);
        size_t nameEnd = cab.find('\0', at + 16);
        if (nameEnd == std::string::npos)
            break;
        e.name = cab.substr(at + 16, nameEnd - (at + 16));
        entries.push_back(e);
        at = nameEnd + 1;
    }
    return entries;
}

class PayloadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetInstallerContext();
        setup_ = LoadLibraryExA(SETUP_EXE_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(setup_, nullptr) << SETUP_EXE_PATH;
    }
    void TearDown() override
    {
        if (setup_)
            FreeLibrary(setup_);
    }
    long StringNumber(int id)
    {
        char text[64] = "";
        LoadStringA(setup_, id, text, sizeof text);
        return ParseDecimal(text);
    }
    std::string String(int id)
    {
        char text[260] = "";
        LoadStringA(setup_, id, text, sizeof text);
        return text;
    }
    HMODULE setup_ = nullptr;
};

TEST_F(PayloadTest, CabinetsHoldTheProductFilesAndMatchStrings5000And5001)
{
    bool foundMain = false;
    bool foundArchivist = false;
    std::vector<CabinetEntry> main = ListCabinet(ResourceBytes(setup_, "MAIN", "CAB", &foundMain));
    std::vector<CabinetEntry> archivist = ListCabinet(ResourceBytes(setup_, "ARCHIVIST", "CAB", &foundArchivist));
    ASSERT_TRUE(foundMain);
    ASSERT_TRUE(foundArchivist);
    ASSERT_FALSE(main.empty());
    ASSERT_FALSE(archivist.empty());

    uint64_t total = 0;
    bool hasProgram = false, hasHelp = false, hasSubFolder = false;
    for (const CabinetEntry& e : main) {
        total += e.size;
        hasProgram = hasProgram || e.name == String(IDS_EXE_NAME);
        hasHelp = hasHelp || e.name == String(IDS_HELP_NAME);
        hasSubFolder = hasSubFolder || e.name.find('\\') != std::string::npos;
        EXPECT_EQ(e.name.find('/'), std::string::npos) << e.name;
    }
    for (const CabinetEntry& e : archivist)
        total += e.size;
    EXPECT_TRUE(hasProgram) << "no " << String(IDS_EXE_NAME);
    EXPECT_TRUE(hasHelp) << "no " << String(IDS_HELP_NAME);
    EXPECT_TRUE(hasSubFolder);
    // The progress total (cabinet sizes + 5001) then ends where the
    // extraction's byte count ends.
    EXPECT_EQ(static_cast<uint64_t>(StringNumber(IDS_PROGRESS_EXTRA)), total);
    EXPECT_GT(static_cast<uint64_t>(StringNumber(IDS_REQUIRED_SPACE)), total);
}

TEST_F(PayloadTest, ContainersUnpackToWindowsPrograms)
{
    for (const char* name : {"UNINSTALL", "40COMUPD"}) {
        SCOPED_TRACE(name);
        bool found = false;
        std::string container = ResourceBytes(setup_, name, "CVZB", &found);
        ASSERT_TRUE(found);
        ASSERT_GT(container.size(), 10u);
        EXPECT_EQ(container.compare(0, 4, "CVZB"), 0);
        EXPECT_EQ(static_cast<unsigned char>(container[8]), 0x78);
        EXPECT_EQ(static_cast<unsigned char>(container[9]), 0x9C);

        ScratchFolder folder;
        std::string out = folder.File("unpacked.exe");
        ASSERT_EQ(UnpackContainer(container.data(), static_cast<uint32_t>(container.size()), out.c_str()), 1);
        std::string program = ReadWholeFile(out);
        EXPECT_EQ(program.compare(0, 2, "MZ"), 0);
        EXPECT_EQ(program.size(), Le32At(container, 4));
    }
}

TEST_F(PayloadTest, StagingCopiesTheRealCabinets)
{
    ScratchFolder folder;
    ScopedEnvironment tmp("TMP", folder.Path().c_str());
    ScopedEnvironment temp("TEMP", folder.Path().c_str());
    Context.StagingJob.ModuleHandle = setup_;
    HANDLE thread = CreateThread(nullptr, 0, StagingThreadProc, &Context.StagingJob, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 120000), WAIT_OBJECT_0);
    CloseHandle(thread);
    const StagingJobRecord& job = Context.StagingJob;
    EXPECT_EQ(job.Status, 0);
    std::string main = ResourceBytes(setup_, "MAIN", "CAB");
    std::string archivist = ResourceBytes(setup_, "ARCHIVIST", "CAB");
    EXPECT_EQ(ReadWholeFile(job.MainCabTemp), main);
    EXPECT_EQ(ReadWholeFile(job.ArchivistCabTemp), archivist);
    EXPECT_EQ(static_cast<size_t>(job.Done), main.size() + archivist.size());
    ReleaseStagedCabinets();
}

} // namespace
