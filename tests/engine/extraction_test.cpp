// The extraction thread under Wine, on small stored cabinets written by
// make_test_cabinets.py: files and folders created, everything recorded,
// date, time and attributes applied, the sibling product's files kept,
// copy errors answered through the real dialog, unsafe names refused.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "rollback/rollback.h"
#include "engine/write_behind.h"
#include "app/app.h"
#include "tests/setup/temp_folder.h"
#include "wizard/wizard.h"

#ifndef TEST_CABINET_DIR
#error TEST_CABINET_DIR must name the folder of the test cabinets
#endif

namespace {

std::string CabinetPath(const char* name)
{
    char path[MAX_PATH];
    // The build passes a Unix path; Wine maps it through the Z: drive.
    std::string unix = std::string(TEST_CABINET_DIR) + "/" + name;
    std::string windows = "Z:" + unix;
    for (char& c : windows)
        if (c == '/')
            c = '\\';
    CopyBounded(path, sizeof path, windows.c_str());
    return path;
}

std::string Content(int seed, size_t size)
{
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>((seed * 31 + i * 7) % 251);
    return s;
}

std::vector<std::string> Installed()
{
    std::vector<std::string> list;
    for (size_t i = 0; i < Context.InstalledFiles.Count(); ++i)
        list.push_back(Context.InstalledFiles.At(i));
    return list;
}

// Answers the copy-error dialog from another thread, the way a user would.
class CopyErrorAnswerer {
public:
    explicit CopyErrorAnswerer(std::vector<int> answers, void (*beforeAnswer)(int) = nullptr)
        : answers_(std::move(answers)), beforeAnswer_(beforeAnswer)
    {
        thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    }
    ~CopyErrorAnswerer()
    {
        stop_ = true;
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
    int Shown() const { return shown_; }
    std::string LastFileText() const { return lastFile_; }

private:
    static DWORD WINAPI Run(LPVOID self)
    {
        static_cast<CopyErrorAnswerer*>(self)->Loop();
        return 0;
    }
    void Loop()
    {
        while (!stop_) {
            HWND dialog = FindWindowA("#32770", "ERROR : File copy");
            if (dialog && IsWindowVisible(dialog) && shown_ < static_cast<int>(answers_.size())) {
                char text[300] = "";
                GetDlgItemTextA(dialog, IDC_COPY_FILE, text, sizeof text);
                lastFile_ = text;
                int answer = answers_[shown_];
                if (beforeAnswer_)
                    beforeAnswer_(shown_);
                ++shown_;
                PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
                while (IsWindow(dialog) && !stop_)
                    Sleep(10);
            }
            Sleep(10);
        }
    }
    std::vector<int> answers_;
    void (*beforeAnswer_)(int);
    HANDLE thread_ = nullptr;
    volatile bool stop_ = false;
    volatile int shown_ = 0;
    std::string lastFile_;
};

class ExtractionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetInstallerContext();
        Context.InstanceHandle = GetModuleHandleA(nullptr);
        AppConstruct();
        Context.StagingJob.ModuleHandle = Context.InstanceHandle;
        target_ = folder_.Path() + "\\product\\";
        archivist_ = folder_.Path() + "\\archivist\\";
        Context.ExtractTargetDir = target_.c_str();
        Context.ArchivistDir = archivist_.c_str();
        Context.TargetDir = target_.c_str();
    }
    void TearDown() override { ResetInstallerContext(); }

    // Runs the thread routine on a thread of its own, as the install page does.
    int32_t Extract(const char* mainCab, const char* archivistCab)
    {
        ExtractionJobRecord& job = Context.ExtractionJob;
        CopyBounded(job.MainCabPath, sizeof job.MainCabPath, CabinetPath(mainCab).c_str());
        CopyBounded(job.ArchivistCabPath, sizeof job.ArchivistCabPath, CabinetPath(archivistCab).c_str());
        job.Status = -1;
        job.Done = 100;
        job.Total = 1000000;
        // Asked as the install page asks: through the copy-error dialog.
        job.AskCopyError = CopyErrorDialog;
        job.AnswerCopyError = AnswerCopyErrorDialog;
        HANDLE thread = CreateThread(nullptr, 0, ExtractionThreadProc, &job, 0, nullptr);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 60000));
        CloseHandle(thread);
        return job.Status;
    }

    TempFolder folder_;
    std::string target_;
    std::string archivist_;
};

TEST_F(ExtractionTest, FilesFoldersDatesAndAttributesArriveAndAreRecorded)
{
    ASSERT_EQ(0, Extract("tree.cab", "archivist.cab"));

    EXPECT_EQ("GlyphForge read-me\r\n", TempFolder::ReadFile(target_ + "readme.txt"));
    EXPECT_EQ(Content(1, 70000), TempFolder::ReadFile(target_ + "data\\fonts\\sample.glyph"));
    EXPECT_EQ("", TempFolder::ReadFile(target_ + "data\\empty.bin"));
    EXPECT_TRUE(FileExists((target_ + "data\\empty.bin").c_str()));
    EXPECT_EQ(Content(5, 300), TempFolder::ReadFile(archivist_ + "shared\\new.dat"));

    std::vector<std::string> expected = {
        target_ + "readme.txt",        target_ + "data\\fonts\\sample.glyph", target_ + "data\\empty.bin",
        target_ + "GlyphForge.HLP",    target_ + "flags.bin",                 archivist_ + "shared\\common.dat",
        archivist_ + "shared\\new.dat",
    };
    EXPECT_EQ(expected, Installed());

    // Every byte counted once, on top of what the job started with.
    EXPECT_EQ(100 + 20 + 70000 + 0 + 1000 + 10 + 5000 + 300, Context.ExtractionJob.Done);

    // The cabinet's local date and time, through local → UTC.
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA((target_ + "readme.txt").c_str(), GetFileExInfoStandard, &data));
    FILETIME local;
    FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
    WORD date, time;
    FileTimeToDosDateTime(&local, &date, &time);
    EXPECT_EQ(((2021 - 1980) << 9) | (3 << 5) | 14, date);
    EXPECT_EQ((15 << 11) | (9 << 5) | 13, time);

    // Only read-only, hidden, system and archive pass.
    DWORD attributes = GetFileAttributesA((target_ + "flags.bin").c_str());
    EXPECT_EQ(0x27u, attributes & 0x1FFu);
}

TEST_F(ExtractionTest, SiblingFilesThatExistAreKeptButCounted)
{
    CreateDirectoryA(archivist_.c_str(), nullptr);
    CreateDirectoryA((archivist_ + "shared").c_str(), nullptr);
    folder_.WriteFile("archivist\\shared\\common.dat", "user's own copy");

    ASSERT_EQ(0, Extract("single.cab", "archivist.cab"));
    EXPECT_EQ("user's own copy", TempFolder::ReadFile(archivist_ + "shared\\common.dat"));
    std::vector<std::string> expected = {target_ + "one.txt", archivist_ + "shared\\new.dat"};
    EXPECT_EQ(expected, Installed());
    EXPECT_EQ(100 + 8 + 5000 + 300, Context.ExtractionJob.Done);
}

TEST_F(ExtractionTest, HelpCompanionIsRemovedWhateverTheCase)
{
    CreateDirectoryA(target_.c_str(), nullptr);
    std::string gid = folder_.WriteFile("product\\GlyphForge.gid", "stale index");
    SetFileAttributesA(gid.c_str(), FILE_ATTRIBUTE_READONLY);
    std::string other = folder_.WriteFile("product\\readme.gid", "unrelated");

    ASSERT_EQ(0, Extract("tree.cab", "archivist.cab"));
    EXPECT_FALSE(FileExists(gid.c_str()));
    EXPECT_TRUE(FileExists(other.c_str()));
}

// Wine lets root write a read-only file, so the obstacles here are the two
// that hold under Wine too: a file held open without sharing, and a folder
// of the same name.
HANDLE HeldFile = INVALID_HANDLE_VALUE;
std::string Obstacle;

void RemoveObstacle(int shown)
{
    if (shown != 1)
        return;
    if (HeldFile != INVALID_HANDLE_VALUE) {
        CloseHandle(HeldFile);
        HeldFile = INVALID_HANDLE_VALUE;
    } else {
        RemoveDirectoryA(Obstacle.c_str());
    }
}

TEST_F(ExtractionTest, FileThatCannotBeCreated)
{
    struct Case {
        const char* name;
        bool folder;
        std::vector<int> answers;
        int32_t status;
        int recordedTimes;
    };
    const Case cases[] = {
        {"ignore skips a file in use", false, {IDIGNORE}, 0, 0},
        {"abort fails the run", false, {IDCANCEL}, 4, 0},
        {"retry after the file is free records it once", false, {IDRETRY, IDRETRY}, 0, 1},
        {"retry after a folder in the way is gone", true, {IDRETRY, IDRETRY}, 0, 1},
        {"ignore skips a folder in the way", true, {IDIGNORE}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Context.InstalledFiles.Clear();
        TempFolder::RemoveTree(target_);
        CreateDirectoryA(target_.c_str(), nullptr);
        Obstacle = target_ + "one.txt";
        if (c.folder) {
            CreateDirectoryA(Obstacle.c_str(), nullptr);
        } else {
            folder_.WriteFile("product\\one.txt", "held open");
            HeldFile = CreateFileA(Obstacle.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(INVALID_HANDLE_VALUE, HeldFile);
        }

        {
            CopyErrorAnswerer answerer(c.answers, RemoveObstacle);
            EXPECT_EQ(c.status, Extract("single.cab", "archivist.cab"));
            EXPECT_EQ(static_cast<int>(c.answers.size()), answerer.Shown());
            EXPECT_EQ("one.txt", answerer.LastFileText());
        }
        if (HeldFile != INVALID_HANDLE_VALUE) {
            CloseHandle(HeldFile);
            HeldFile = INVALID_HANDLE_VALUE;
        }

        int recorded = 0;
        for (const std::string& path : Installed())
            recorded += path == Obstacle;
        EXPECT_EQ(c.recordedTimes, recorded);
        if (c.recordedTimes) {
            EXPECT_EQ("one file", TempFolder::ReadFile(Obstacle));
        } else if (!c.folder) {
            EXPECT_EQ("held open", TempFolder::ReadFile(Obstacle));
        }
    }
}

// The files after the one asked about may have been made ready already
// (created, empty): after an Abort the rollback leaves none of them.
TEST_F(ExtractionTest, AbortLeavesNothingOfTheFilesAfter)
{
    CreateDirectoryA(target_.c_str(), nullptr);
    folder_.WriteFile("product\\readme.txt", "held open");
    HeldFile = CreateFileA((target_ + "readme.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, HeldFile);
    {
        CopyErrorAnswerer answerer({IDCANCEL});
        EXPECT_EQ(4, Extract("tree.cab", "archivist.cab"));
    }
    CloseHandle(HeldFile);
    HeldFile = INVALID_HANDLE_VALUE;
    JournalRollBack(SessionJournal, false);
    for (const char* name : {"data\\fonts\\sample.glyph", "data\\empty.bin", "GlyphForge.HLP", "flags.bin"})
        EXPECT_FALSE(FileExists((target_ + name).c_str())) << name;
    EXPECT_EQ("held open", TempFolder::ReadFile(target_ + "readme.txt"));
}

TEST_F(ExtractionTest, NamesThatLeaveTheDestinationAreRefused)
{
    // Each refused name (leaving the folder, a device, a name Windows
    // would cut) is offered through the copy-error dialog; Ignore skips
    // it and the run goes on to the last file.
    CopyErrorAnswerer answerer({IDIGNORE, IDIGNORE, IDIGNORE, IDIGNORE, IDIGNORE, IDIGNORE, IDIGNORE});
    ASSERT_EQ(0, Extract("escape.cab", "archivist.cab"));
    EXPECT_EQ(7, answerer.Shown());
    EXPECT_FALSE(FileExists((target_ + "name").c_str()));
    EXPECT_FALSE(FileExists((folder_.Path() + "\\escaped.txt").c_str()));
    EXPECT_FALSE(FileExists("C:\\absolute.txt"));
    EXPECT_FALSE(FileExists("C:\\rooted.txt"));
    EXPECT_FALSE(FileExists((folder_.Path() + "\\up.txt").c_str()));
    EXPECT_EQ("last", TempFolder::ReadFile(target_ + "last.txt"));
    std::vector<std::string> expected = {target_ + "ok.txt", target_ + "last.txt", archivist_ + "shared\\common.dat",
                                         archivist_ + "shared\\new.dat"};
    EXPECT_EQ(expected, Installed());
}

TEST_F(ExtractionTest, DestinationTooLongIsRefusedNotCut)
{
    // A destination folder of 237 characters: "data\\fonts\\sample.glyph"
    // no longer fits 259, the other names do.
    std::string deep = folder_.Path() + "\\" + std::string(235 - folder_.Path().size(), 'd') + "\\";
    ASSERT_EQ(237u, deep.size());
    Context.ExtractTargetDir = deep.c_str();
    CopyErrorAnswerer answerer({IDIGNORE});
    ASSERT_EQ(0, Extract("tree.cab", "archivist.cab"));
    EXPECT_EQ(1, answerer.Shown());
    EXPECT_EQ("data\\fonts\\sample.glyph", answerer.LastFileText());
    EXPECT_EQ(6u, Installed().size());
    for (const std::string& path : Installed())
        EXPECT_LT(path.size(), 260u) << path;
}

TEST_F(ExtractionTest, AfterACancelEveryFileIsSkippedUncounted)
{
    Context.UserCancelled = 1;
    ASSERT_EQ(0, Extract("tree.cab", "archivist.cab"));
    EXPECT_TRUE(Installed().empty());
    EXPECT_EQ(100, Context.ExtractionJob.Done);
    EXPECT_FALSE(FileExists((target_ + "readme.txt").c_str()));
}

TEST_F(ExtractionTest, StatusCodesOfFailedPasses)
{
    EXPECT_EQ(2, Extract("missing.cab", "archivist.cab"));
    EXPECT_EQ(3, Extract("notacab.cab", "archivist.cab"));
    EXPECT_EQ(2, Extract("single.cab", "missing.cab"));
    EXPECT_EQ(3, Extract("single.cab", "notacab.cab"));
}

TEST_F(ExtractionTest, DamagedCabinetAskingForANextCabinetFailsAtOnce)
{
    // A single cabinet whose data runs out makes the decoder ask for the
    // next cabinet; the answer -1 ends the copy instead of asking for ever.
    EXPECT_EQ(4, Extract("truncated.cab", "archivist.cab"));
}

// The writer behind the decoder: a file written in pieces larger than
// its slots arrives whole with its date; a write that fails stops every
// later one and fails the queue, and the files are closed all the same.
TEST(WriteBehind, FilesArriveWholeAndAFailedWriteFailsTheRest)
{
    TempFolder folder;
    std::string whole = folder.Path() + "\\whole.bin", refused = folder.WriteFile("refused.bin", "old");
    std::string content = Content(3, 700000);
    ASSERT_TRUE(StartWriteBehind());
    int file = _open(whole.c_str(), _O_CREAT | _O_WRONLY | _O_BINARY, _S_IWRITE);
    QueueWritesFor(file, whole.c_str());
    for (size_t at = 0; at < content.size(); at += 32768)
        EXPECT_TRUE(QueueWrite(file, content.data() + at, static_cast<uint32_t>(std::min<size_t>(32768, content.size() - at))));
    FILETIME utc = {0x12345678, 0x01D70000};
    QueueClose(file, &utc, FILE_ATTRIBUTE_READONLY, whole.c_str());
    // Opened for reading only: its write fails in the writer.
    int readOnly = _open(refused.c_str(), _O_RDONLY | _O_BINARY);
    QueueWritesFor(readOnly, refused.c_str());
    QueueWrite(readOnly, "new", 3);
    QueueClose(readOnly, nullptr, INVALID_FILE_ATTRIBUTES, refused.c_str());
    WaitForWrites();
    EXPECT_FALSE(QueueWrite(file, "late", 4)) << "a later write is refused at once";
    EXPECT_FALSE(FinishWriteBehind());
    EXPECT_EQ(content, TempFolder::ReadFile(whole));
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA(whole.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(utc.dwHighDateTime, data.ftLastWriteTime.dwHighDateTime);
    EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA(whole.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(DeleteFileA(refused.c_str())) << "closed by the writer";
    ASSERT_TRUE(StartWriteBehind());
    EXPECT_TRUE(FinishWriteBehind()) << "a new extraction starts afresh";
}

TEST(Progress, PercentIsClampedAndComputedWide)
{
    struct {
        uint32_t pos, max;
        unsigned percent;
    } cases[] = {
        {0, 1000, 0},       {1000, 1000, 100},          {2000, 1000, 100},       {500, 1000, 50},
        {5, 0, 0},          {100000000, 200000000, 50}, {0xFFFFFFFFu, 0xFFFFFFFFu, 100},
        {43000000, 86000000, 50},
    };
    for (auto& c : cases)
        EXPECT_EQ(c.percent, ProgressPercent(c.pos, c.max)) << c.pos << "/" << c.max;
}

} // namespace
