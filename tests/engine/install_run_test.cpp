// The install page run in-process over the demo payload linked into this
// test program: the common-controls update path (package run quietly and
// removed, no Explorer window) and the cancel question answered No.
#include <gtest/gtest.h>

#include <string>

#include "setup/wide.h"
#include "engine/engine.h"
#include "app/app.h"
#include "registration/registration.h"
#include "tests/setup/temp_folder.h"
#include "wizard/wizard.h"

#include <shellapi.h>
#include <shlobj.h>

namespace {

int ExplorerOpened;
HINSTANCE WINAPI RecordExplorer(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT)
{
    ++ExplorerOpened;
    return reinterpret_cast<HINSTANCE>(33);
}

std::string TempPath(const char* name)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    return std::string(temp) + name;
}

class InstallRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetInstallerContext();
        Context.InstanceHandle = GetModuleHandleA(nullptr);
        AppConstruct();
        RegisterCommonControls();
        target_ = folder_.Path() + "\\product\\";
        CreateDirectoryA(target_.c_str(), nullptr);
        std::string archivist = folder_.Path() + "\\archivist";
        HKEY k;
        RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Corvane\\folders", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                        nullptr);
        RegSetValueExA(k, "ArchivistLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(archivist.c_str()),
                       static_cast<DWORD>(archivist.size() + 1));
        RegCloseKey(k);
        Context.TargetDir = target_.c_str();
        long total = LoadStringNumber(IDS_PROGRESS_EXTRA);
        for (const char* name : {"MAIN", "ARCHIVIST"})
            if (HRSRC r = FindResourceA(Context.InstanceHandle, name, "CAB"))
                total += SizeofResource(Context.InstanceHandle, r);
        Context.ProgressTotal = total;
        ExplorerOpened = 0;
        ShellOpenFolder = RecordExplorer;
        DeleteFileA(TempPath("40comupd-standin.log").c_str());
    }
    void TearDown() override
    {
        CleanupAfterFailure();
        ShellOpenFolder = ShellExecuteU;
        RegDeleteKeyA(HKEY_CURRENT_USER, "SOFTWARE\\Corvane\\folders");
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Corvane\\Corvane GlyphForge\\Files");
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Corvane\\Corvane GlyphForge");
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\GlyphForge.exe");
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvane GlyphForge");
        char programs[MAX_PATH] = "";
        SHGetFolderPathA(nullptr, CSIDL_PROGRAMS, nullptr, 0, programs);
        TempFolder::RemoveTree(std::string(programs) + "\\Corvane");
        DeleteFileA(TempPath("40comupd-standin.log").c_str());
        ResetInstallerContext();
    }

    INT_PTR RunInstallPage()
    {
        return DialogBoxParamA(Context.InstanceHandle, MAKEINTRESOURCEA(IDD_INSTALL), nullptr, InstallPageProc, 0);
    }

    TempFolder folder_;
    std::string target_;
};

TEST_F(InstallRun, UpdatePackageRunsQuietlyAndNoExplorerOpens)
{
    Context.UpdateCommonControls = 1;
    ASSERT_EQ(PAGE_NEXT, RunInstallPage());
    EXPECT_EQ(3, Context.InstallPhase);
    EXPECT_EQ(0, ExplorerOpened);
    EXPECT_EQ("/r:n /q:a\r\n", TempFolder::ReadFile(TempPath("40comupd-standin.log")));
    EXPECT_FALSE(FileExists(TempPath("40comupd.exe").c_str()));
    EXPECT_TRUE(FileExists((target_ + "GlyphForge.exe").c_str()));
    EXPECT_TRUE(FileExists((target_ + "UnInstall.exe").c_str()));
    EXPECT_EQ(0, Context.CleanupRequired);
}

TEST_F(InstallRun, WithoutTheUpdateNothingIsUnpackedAndExplorerOpens)
{
    ASSERT_EQ(PAGE_NEXT, RunInstallPage());
    EXPECT_EQ(1, ExplorerOpened);
    EXPECT_FALSE(FileExists(TempPath("40comupd-standin.log").c_str()));
    EXPECT_FALSE(FileExists(TempPath("40comupd.exe").c_str()));
}

DWORD WINAPI AnswerCancelNo(LPVOID)
{
    // Cancel once the page is up, then answer the question with No.
    for (int i = 0; i < 500; ++i) {
        HWND page = FindWindowA("#32770", "GlyphForge Installation - Installing Application...");
        if (page) {
            PostMessageA(page, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            for (int j = 0; j < 500; ++j) {
                HWND question = FindWindowA("#32770", "GlyphForge Setup");
                if (question) {
                    PostMessageA(question, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED), 0);
                    return 0;
                }
                Sleep(5);
            }
            return 1;
        }
        Sleep(5);
    }
    return 1;
}

TEST_F(InstallRun, CancelAnsweredNoCompletesTheRun)
{
    HANDLE thread = CreateThread(nullptr, 0, AnswerCancelNo, nullptr, 0, nullptr);
    EXPECT_EQ(PAGE_NEXT, RunInstallPage());
    WaitForSingleObject(thread, INFINITE);
    DWORD code = 1;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    EXPECT_EQ(0u, code) << "the cancel question was not seen";
    EXPECT_EQ(0, Context.UserCancelled);
    EXPECT_EQ(0, Context.CleanupRequired);
    EXPECT_TRUE(FileExists((target_ + "ReadMe.txt").c_str()));
}

} // namespace
