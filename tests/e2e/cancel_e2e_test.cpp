// Cancelling the real setup program during staging and during extraction,
// on a payload large enough for each phase to last: the interrupted page,
// and after quitting nothing of the run is left (files, folders, staged
// cabinets), while a file of the sibling product that was there before
// survives.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>
#include <vector>

#include "tests/e2e/driver.h"

#ifndef SETUP_EXE
#error SETUP_EXE, LARGE_MAIN_DIR and LARGE_ARCHIVIST_DIR come from the build
#endif

using namespace e2e;

namespace {

std::vector<std::string> StagedFiles()
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::vector<std::string> staged;
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
    void SetUp() override
    {
        setup_ = FromUnixPath(SETUP_EXE);
        root_ = TempFolder("e2e cancel");
        CreateDirectoryA(root_.c_str(), nullptr);
        // An existing folder that holds other programs stays.
        parent_ = root_ + "\\Programs";
        CreateDirectoryA(parent_.c_str(), nullptr);
        WriteFile(parent_ + "\\other.txt", "another program");
        target_ = parent_ + "\\Large Product\\";
        archivist_ = root_ + "\\Archivist";
        HKEY k;
        RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Corvane\\folders", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                        nullptr);
        RegSetValueExA(k, "ArchivistLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(archivist_.c_str()),
                       static_cast<DWORD>(archivist_.size() + 1));
        RegCloseKey(k);
        SHCreateDirectoryExA(nullptr, (archivist_ + "\\shared").c_str(), nullptr);
        WriteFile(archivist_ + "\\shared\\a.dat", "was here before");
        stagedBefore_ = StagedFiles();
    }
    void TearDown() override
    {
        DeleteKeyTree(HKEY_CURRENT_USER, "SOFTWARE\\Corvane\\folders");
        RemoveTree(root_);
    }

    // Cancel, confirm with Yes, then Finish on the interrupted page.
    void CancelAndQuit(Process& setup, HWND installPage, bool expectFilesInstalled)
    {
        Click(installPage, IDCANCEL);
        HWND question = WaitForDialog(setup.Id(), IDYES, "", 20000);
        ASSERT_NE(nullptr, question) << "cancel question";
        // The worker is paused while the question is up: the phase shows
        // in what is on disk.
        std::vector<std::string> present = ListFiles(target_);
        if (expectFilesInstalled)
            EXPECT_FALSE(present.empty()) << "expected to be extracting";
        else
            EXPECT_TRUE(present.empty()) << "expected to be staging, found " << present.size() << " files";
        Click(question, IDYES);
        HWND interrupted = WaitForDialog(setup.Id(), 1001, "User Interrupted Installation", 60000);
        ASSERT_NE(nullptr, interrupted) << "interrupted page";
        Click(interrupted, IDOK);
        EXPECT_EQ(0, setup.Wait(120000));

        EXPECT_FALSE(FolderExists(target_)) << "the destination folder stays";
        EXPECT_TRUE(Exists(parent_ + "\\other.txt"));
        EXPECT_EQ("was here before", ReadFile(archivist_ + "\\shared\\a.dat"));
        EXPECT_FALSE(Exists(archivist_ + "\\shared\\b.dat"));
        EXPECT_EQ(stagedBefore_, StagedFiles()) << "staged cabinets left in the temporary folder";
    }

    std::string setup_, root_, parent_, target_, archivist_;
    std::vector<std::string> stagedBefore_;
};

TEST_F(CancelE2e, CancelDuringStaging)
{
    Process setup(setup_, "");
    ASSERT_EQ("", WalkToInstall(setup.Id(), target_));
    // The page shows itself before it starts the staging thread, so a
    // Cancel posted at once is handled while the first cabinet is copied.
    HWND page = WaitForDialog(setup.Id(), 1016, "", 20000);
    ASSERT_NE(nullptr, page) << "install page";
    CancelAndQuit(setup, page, false);
}

TEST_F(CancelE2e, CancelDuringExtraction)
{
    Process setup(setup_, "");
    ASSERT_EQ("", WalkToInstall(setup.Id(), target_));
    HWND page = WaitForDialog(setup.Id(), 1016, "", 20000);
    ASSERT_NE(nullptr, page) << "install page";
    // Wait until the first files have arrived.
    for (int i = 0; i < 3000 && ListFiles(target_).size() < 20; ++i)
        Sleep(10);
    ASSERT_GE(ListFiles(target_).size(), 20u) << "extraction did not start";
    CancelAndQuit(setup, page, true);
}

} // namespace
