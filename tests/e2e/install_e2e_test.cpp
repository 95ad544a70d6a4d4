// End-to-end installation runs of the real setup program under Wine,
// driven through its wizard from outside: a full install of the demo, a
// repair run, and copy errors answered with Retry, Ignore and Abort.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <map>
#include <string>
#include <vector>

#include "tests/e2e/driver.h"

#ifndef SETUP_EXE
#error SETUP_EXE, DEMO_MAIN_DIR and DEMO_ARCHIVIST_DIR come from the build
#endif

using namespace e2e;

namespace {

const DWORD kPageWait = 20000;
const DWORD kInstallWait = 180000;
const char kProductKey[] = "SOFTWARE\\Corvane\\Corvane GlyphForge";
const char kAppPathKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\GlyphForge.exe";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvane GlyphForge";
const char kMakerFolders[] = "SOFTWARE\\Corvane\\folders";

std::string SpecialFolder(int csidl)
{
    char path[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, csidl, nullptr, 0, path);
    return path;
}

std::vector<std::string> FilesList()
{
    std::vector<std::string> list;
    for (int i = 0;; ++i) {
        char name[32];
        wsprintfA(name, "File%04d", i);
        std::string value;
        if (!ReadRegString(HKEY_LOCAL_MACHINE, std::string(kProductKey) + "\\Files", name, value))
            break;
        list.push_back(value);
    }
    return list;
}

FILETIME LastWrite(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

long long SecondsApart(FILETIME a, FILETIME b)
{
    long long x = (static_cast<long long>(a.dwHighDateTime) << 32) | a.dwLowDateTime;
    long long y = (static_cast<long long>(b.dwHighDateTime) << 32) | b.dwLowDateTime;
    long long d = (x - y) / 10000000;
    return d < 0 ? -d : d;
}

class InstallE2e : public ::testing::Test {
protected:
    void SetUp() override
    {
        setup_ = FromUnixPath(SETUP_EXE);
        demoMain_ = FromUnixPath(DEMO_MAIN_DIR);
        demoArchivist_ = FromUnixPath(DEMO_ARCHIVIST_DIR);
        root_ = TempFolder("e2e install");
        CreateDirectoryA(root_.c_str(), nullptr);
        target_ = root_ + "\\Program Files\\GlyphForge";
        archivist_ = root_ + "\\Archivist";
        programs_ = SpecialFolder(CSIDL_PROGRAMS) + "\\Corvane";
        Clean();
        // The sibling product's folder is the maker's setting, inside the
        // test's own folder.
        HKEY k;
        RegCreateKeyExA(HKEY_CURRENT_USER, kMakerFolders, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
        RegSetValueExA(k, "ArchivistLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(archivist_.c_str()),
                       static_cast<DWORD>(archivist_.size() + 1));
        RegCloseKey(k);
    }
    void TearDown() override
    {
        CloseLaunchedWindows();
        Clean();
        RemoveTree(root_);
    }

    void Clean()
    {
        DeleteKeyTree(HKEY_LOCAL_MACHINE, kProductKey);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, kAppPathKey);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, kUninstallKey);
        DeleteKeyTree(HKEY_CURRENT_USER, kMakerFolders);
        RemoveTree(programs_);
    }


    void WalkToInstall(Process& setup, const std::string& folder)
    {
        ASSERT_EQ("", e2e::WalkToInstall(setup.Id(), folder));
    }

    HWND WaitForFinish(Process& setup, const char* title = "Installation Successfully Completed")
    {
        return WaitForDialog(setup.Id(), IDOK, title, kInstallWait);
    }

    void InstallDemo()
    {
        Process setup(setup_, "");
        ASSERT_TRUE(setup.Started());
        WalkToInstall(setup, target_);
        HWND finish = WaitForFinish(setup);
        ASSERT_NE(nullptr, finish) << "finish page";
        Click(finish, IDOK);
        EXPECT_EQ(0, setup.Wait(30000));
        CloseLaunchedWindows();
    }

    std::string setup_, demoMain_, demoArchivist_, root_, target_, archivist_, programs_;
};

TEST_F(InstallE2e, FullInstallOfTheDemo)
{
    // A file of the sibling product that is already there stays as it is.
    std::vector<std::string> siblingFiles = ListFiles(demoArchivist_);
    ASSERT_FALSE(siblingFiles.empty());
    CreateDirectoryA(archivist_.c_str(), nullptr);
    std::string kept = archivist_ + "\\" + siblingFiles[0];
    std::string keptFolder = kept.substr(0, kept.rfind('\\'));
    SHCreateDirectoryExA(nullptr, keptFolder.c_str(), nullptr);
    ASSERT_TRUE(WriteFile(kept, "the user's own copy"));

    Process setup(setup_, "");
    ASSERT_TRUE(setup.Started());
    WalkToInstall(setup, target_);
    HWND finish = WaitForFinish(setup);
    ASSERT_NE(nullptr, finish) << "finish page";

    // Every file of the product, byte for byte, with its date.
    std::vector<std::string> expected = ListFiles(demoMain_);
    std::vector<std::string> installed = ListFiles(target_);
    std::vector<std::string> withUninstaller = expected;
    withUninstaller.push_back("UnInstall.exe");
    withUninstaller.push_back("UnInstall.ini");
    std::sort(withUninstaller.begin(), withUninstaller.end());
    EXPECT_EQ(withUninstaller, installed);
    for (const std::string& f : expected) {
        EXPECT_EQ(ReadFile(demoMain_ + "\\" + f), ReadFile(target_ + "\\" + f)) << f;
        EXPECT_LE(SecondsApart(LastWrite(demoMain_ + "\\" + f), LastWrite(target_ + "\\" + f)), 2) << f;
    }
    for (const std::string& f : siblingFiles) {
        if (archivist_ + "\\" + f == kept)
            EXPECT_EQ("the user's own copy", ReadFile(kept));
        else
            EXPECT_EQ(ReadFile(demoArchivist_ + "\\" + f), ReadFile(archivist_ + "\\" + f)) << f;
    }

    // The uninstaller and its settings, keys in order.
    EXPECT_GT(ReadFile(target_ + "\\UnInstall.exe").size(), 1000u);
    std::string ini = ReadFile(target_ + "\\UnInstall.ini");
    size_t args = ini.find("args=\"Corvane GlyphForge\" \"GlyphForge.exe\"");
    size_t repair = ini.find("repair=");
    EXPECT_EQ(0u, ini.find("[uninstall]"));
    EXPECT_NE(std::string::npos, args);
    EXPECT_NE(std::string::npos, repair);
    EXPECT_LT(args, repair);
    EXPECT_NE(std::string::npos, ini.find("setup"));

    // Registry entries with their exact data.
    std::string value;
    EXPECT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, kProductKey, "InstallDir", value));
    EXPECT_EQ(target_ + "\\", value);
    EXPECT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, kAppPathKey, "", value));
    EXPECT_EQ(target_ + "\\GlyphForge.exe", value);
    EXPECT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, kAppPathKey, "Path", value));
    EXPECT_EQ(target_, value);
    EXPECT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName", value));
    EXPECT_EQ("GlyphForge", value);
    EXPECT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString", value));
    EXPECT_EQ("\"" + target_ + "\\UnInstall.exe\" \"Corvane GlyphForge\" \"GlyphForge.exe\"", value);
    // A 32-bit setup on 64-bit Windows writes into the 32-bit view
    // (WOW6432Node), where its 32-bit uninstaller and product look too.
    if (RunsUnderWow64()) {
        for (const char* key : {kProductKey, kUninstallKey}) {
            EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, key, KEY_WOW64_32KEY)) << key;
            EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key, KEY_WOW64_64KEY)) << key;
        }
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\WOW6432Node\\Corvane\\Corvane GlyphForge", KEY_WOW64_64KEY));
    }

    // The "\Files" list: every extracted file in cabinet order (product,
    // then the sibling product's new files), then the three links.
    std::vector<std::string> files = FilesList();
    size_t newSiblingFiles = siblingFiles.size() - 1;
    ASSERT_EQ(expected.size() + newSiblingFiles + 3, files.size());
    std::map<std::string, int> listed;
    for (size_t i = 0; i < expected.size(); ++i)
        ++listed[files[i]];
    for (const std::string& f : expected)
        EXPECT_EQ(1, listed[target_ + "\\" + f]) << f;
    for (size_t i = expected.size(); i < expected.size() + newSiblingFiles; ++i)
        EXPECT_EQ(0u, files[i].find(archivist_ + "\\")) << files[i];
    std::vector<std::string> links(files.end() - 3, files.end());
    EXPECT_EQ((std::vector<std::string>{programs_ + "\\GlyphForge.lnk", programs_ + "\\GlyphForge Help.lnk",
                                        programs_ + "\\Uninstall GlyphForge.lnk"}),
              links);
    for (const std::string& link : links)
        EXPECT_TRUE(Exists(link)) << link;

    // Finish launches the product.
    Click(finish, IDOK);
    EXPECT_EQ(0, setup.Wait(30000));
    HWND product = nullptr;
    for (int i = 0; i < 250 && !product; ++i) {
        product = FindTopLevel("GlyphForge (demo)");
        Sleep(40);
    }
    EXPECT_NE(nullptr, product) << "the installed program was not started";
}

TEST_F(InstallE2e, RepairRestoresADeletedFileAndKeepsTheFilesList)
{
    ASSERT_NO_FATAL_FAILURE(InstallDemo());
    std::vector<std::string> before = FilesList();
    ASSERT_FALSE(before.empty());
    std::string readme = target_ + "\\ReadMe.txt";
    std::string original = ReadFile(readme);
    ASSERT_FALSE(original.empty());
    ASSERT_TRUE(DeleteFileA(readme.c_str()));

    Process repair(setup_, "/r " + target_);
    ASSERT_TRUE(repair.Started());
    HWND finish = WaitForFinish(repair, "Repair Successfully Completed");
    ASSERT_NE(nullptr, finish) << "repair-finished page";
    EXPECT_FALSE(HasItem(finish, 1039));
    EXPECT_EQ(original, ReadFile(readme));
    Click(finish, IDOK);
    EXPECT_EQ(0, repair.Wait(30000));
    EXPECT_EQ(before, FilesList());
    Sleep(1500);
    EXPECT_EQ(nullptr, FindTopLevel("GlyphForge (demo)")) << "a repair launches nothing";
}

// A file held open without sharing cannot be replaced: the copy-error
// dialog names it and offers Retry, Abort and Ignore.
class HeldFile {
public:
    explicit HeldFile(const std::string& path)
    {
        handle_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written;
        ::WriteFile(handle_, "in use", 6, &written, nullptr);
    }
    ~HeldFile() { Release(); }
    void Release()
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
    bool Held() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

TEST_F(InstallE2e, CopyErrorRetryAndIgnore)
{
    for (int answer : {IDRETRY, IDIGNORE}) {
        SCOPED_TRACE(answer == IDRETRY ? "retry" : "ignore");
        SHCreateDirectoryExA(nullptr, target_.c_str(), nullptr);
        HeldFile held(target_ + "\\ReadMe.txt");
        ASSERT_TRUE(held.Held());

        Process setup(setup_, "");
        WalkToInstall(setup, target_);
        HWND error = WaitForDialog(setup.Id(), 1003, "ERROR : File copy", kInstallWait);
        ASSERT_NE(nullptr, error) << "copy-error dialog";
        EXPECT_EQ("ReadMe.txt", ItemText(error, 1003));
        EXPECT_EQ(target_, ItemText(error, 1008));
        if (answer == IDRETRY)
            held.Release();
        Click(error, answer);
        HWND finish = WaitForFinish(setup);
        ASSERT_NE(nullptr, finish);
        held.Release();

        int listed = 0;
        for (const std::string& f : FilesList())
            listed += f == target_ + "\\ReadMe.txt";
        if (answer == IDRETRY) {
            EXPECT_EQ(1, listed);
            EXPECT_EQ(ReadFile(demoMain_ + "\\ReadMe.txt"), ReadFile(target_ + "\\ReadMe.txt"));
        } else {
            EXPECT_EQ(0, listed);
            EXPECT_EQ("in use", ReadFile(target_ + "\\ReadMe.txt"));
        }
        Click(finish, IDOK);
        EXPECT_EQ(0, setup.Wait(30000));
        CloseLaunchedWindows();
        Clean();
        RemoveTree(target_);
    }
}

TEST_F(InstallE2e, AbortLeadsToTheErrorPageAndASecondRunSucceeds)
{
    SHCreateDirectoryExA(nullptr, target_.c_str(), nullptr);
    HeldFile held(target_ + "\\ReadMe.txt");
    Process setup(setup_, "");
    WalkToInstall(setup, target_);
    HWND error = WaitForDialog(setup.Id(), 1003, "ERROR : File copy", kInstallWait);
    ASSERT_NE(nullptr, error);
    Click(error, IDCANCEL);

    HWND errorPage = WaitForDialog(setup.Id(), 1001, "Error during installation", kPageWait);
    ASSERT_NE(nullptr, errorPage) << "error page";
    held.Release();
    Click(errorPage, 1001);
    ASSERT_TRUE(WaitGone(errorPage, kPageWait));

    HWND destination = WaitForDialog(setup.Id(), 1014, "", kPageWait);
    ASSERT_NE(nullptr, destination) << "back on the destination page";
    EXPECT_EQ(target_ + "\\", ItemText(destination, 1014));
    Click(destination, IDOK);
    HWND finish = WaitForFinish(setup);
    ASSERT_NE(nullptr, finish) << "second run";
    Click(finish, IDOK);
    EXPECT_EQ(0, setup.Wait(30000));

    // The second run's files stay: its success cleared the rollback.
    for (const std::string& f : ListFiles(demoMain_))
        EXPECT_TRUE(Exists(target_ + "\\" + f)) << f;
    EXPECT_EQ(ReadFile(demoMain_ + "\\ReadMe.txt"), ReadFile(target_ + "\\ReadMe.txt"));
}

TEST_F(InstallE2e, InstallingAnywayOntoAVolumeTooSmallFailsAndLeavesNothing)
{
    // Drive S: is a 512 KB tmpfs made by the test run's low-disk fixture.
    if (!FolderExists("S:\\")) {
        GTEST_SKIP() << "no small volume S: (mounting a tmpfs needs root)";
    }
    std::vector<std::string> before = ListFiles("S:\\");
    Process setup(setup_, "");
    ASSERT_EQ("", e2e::WalkToInstall(setup.Id(), "S:\\GlyphForge"));
    HWND disk = WaitForDialog(setup.Id(), 1039, "Insufficient Disk Space", kPageWait);
    ASSERT_NE(nullptr, disk) << "disk-space page";
    EXPECT_NE(std::string::npos, ItemText(disk, 1026).find("S:"));
    Click(disk, IDOK);

    // The volume fills during extraction: the run fails, possibly after a
    // file could not even be created (answered with Abort).
    HWND errorPage = nullptr;
    DWORD start = GetTickCount();
    while (!errorPage && GetTickCount() - start < kInstallWait) {
        if (HWND copyError = WaitForDialog(setup.Id(), 1003, "ERROR : File copy", 0))
            Click(copyError, IDCANCEL);
        errorPage = WaitForDialog(setup.Id(), 1001, "Error during installation", 100);
    }
    ASSERT_NE(nullptr, errorPage) << "error page";
    Click(errorPage, IDOK);
    EXPECT_EQ(0, setup.Wait(60000));
    EXPECT_EQ(before, ListFiles("S:\\"));
    EXPECT_FALSE(FolderExists("S:\\GlyphForge"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
}

} // namespace
