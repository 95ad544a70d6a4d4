// The whole life cycle with the real programs under Wine: the demo is
// installed by setup.exe through its wizard, then removed by the UnInstall.exe
// that the setup wrote (silently through the uninstall entry's command, and
// through its dialogs as the Start-menu link starts it), repaired from it,
// and refused when its settings file or file list is missing.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>
#include <vector>

#include "tests/e2e/driver.h"
#include "uninstaller/resource_ids.h"

#ifndef SETUP_EXE
#error SETUP_EXE comes from the build
#endif

using namespace e2e;

namespace {

const DWORD kPageWait = e2e::kHangWait;
const DWORD kInstallWait = e2e::kHangWait;
// The uninstaller and the copy that finishes its removal: limits against a
// hang only.
const DWORD kRemovalWait = e2e::kHangWait;
const char kProductKey[] = "SOFTWARE\\Corvane\\Corvane GlyphForge";
const char kAppPathKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\GlyphForge.exe";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvane GlyphForge";
const char kMakerFolders[] = "SOFTWARE\\Corvane\\folders";
const char kNeighbourKey[] = "SOFTWARE\\Corvane\\Corvane Neighbour";
const int kMessageTextId = 0xFFFF;

std::string ProgramsFolder()
{
    char path[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, CSIDL_PROGRAMS, nullptr, 0, path);
    return path;
}

class SetupLifecycle : public ::testing::Test {
protected:
    void SetUp() override
    {
        setup_ = FromUnixPath(SETUP_EXE);
        root_ = TempFolder("uninstall lifecycle");
        CreateDirectoryA(root_.c_str(), nullptr);
        maker_ = root_ + "\\Program Files\\Corvane";
        target_ = maker_ + "\\GlyphForge";
        archivist_ = root_ + "\\Archivist";
        group_ = ProgramsFolder() + "\\Corvane";
        // The programs under test get their temporary folder inside the
        // test's, so that the uninstaller's self-removing copy goes with it.
        GetEnvironmentVariableA("TEMP", oldTemp_, sizeof oldTemp_);
        GetEnvironmentVariableA("TMP", oldTmp_, sizeof oldTmp_);
        std::string temp = root_ + "\\tmp";
        CreateDirectoryA(temp.c_str(), nullptr);
        SetEnvironmentVariableA("TEMP", temp.c_str());
        SetEnvironmentVariableA("TMP", temp.c_str());
        Clean();
        HKEY k;
        RegCreateKeyExA(HKEY_CURRENT_USER, kMakerFolders, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
        RegSetValueExA(k, "ArchivistLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(archivist_.c_str()),
                       static_cast<DWORD>(archivist_.size() + 1));
        RegCloseKey(k);
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, kNeighbourKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
        RegCloseKey(k);
        // Already there: another product of the maker beside GlyphForge, and
        // a note of the user in the sibling product's folder.
        SHCreateDirectoryExA(nullptr, (maker_ + "\\Neighbour").c_str(), nullptr);
        neighbour_ = maker_ + "\\Neighbour\\neighbour.exe";
        WriteFile(neighbour_, "another product");
        CreateDirectoryA(archivist_.c_str(), nullptr);
        siblingNote_ = archivist_ + "\\my notes.txt";
        WriteFile(siblingNote_, "the user's notes");
    }

    void TearDown() override
    {
        CloseLaunchedWindows();
        Clean();
        SetEnvironmentVariableA("TEMP", oldTemp_);
        SetEnvironmentVariableA("TMP", oldTmp_);
        for (int i = 0; i < 50 && FolderExists(root_); ++i) {
            RemoveTree(root_);
            if (FolderExists(root_))
                Sleep(100);
        }
    }

    void Clean()
    {
        DeleteKeyTree(HKEY_LOCAL_MACHINE, kProductKey);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, kAppPathKey);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, kUninstallKey);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, kNeighbourKey);
        DeleteKeyTree(HKEY_CURRENT_USER, kMakerFolders);
        RemoveTree(group_);
    }


    void Next(Process& setup, int controlId, const char* what)
    {
        HWND page = WaitForDialog(setup.Id(), controlId, "", kPageWait);
        ASSERT_NE(nullptr, page) << what;
        Click(page, IDOK);
        ASSERT_TRUE(WaitGone(page, kPageWait)) << what;
    }

    // Welcome, licence, information, destination, installation, finish.
    void InstallDemo()
    {
        Process setup(setup_, "");
        ASSERT_TRUE(setup.Started());
        Next(setup, 1010, "welcome page");
        HWND licence = WaitForDialog(setup.Id(), 1012, "", kPageWait);
        ASSERT_NE(nullptr, licence) << "licence page";
        Toggle(licence, 1012);
        ASSERT_TRUE(WaitUntil([&] { return ItemEnabled(licence, IDOK); }, kHangWait));
        Click(licence, IDOK);
        ASSERT_TRUE(WaitGone(licence, kPageWait));
        Next(setup, 1011, "information page");
        HWND destination = WaitForDialog(setup.Id(), 1014, "", kPageWait);
        ASSERT_NE(nullptr, destination) << "destination page";
        ASSERT_TRUE(SetItemText(destination, 1014, target_));
        Click(destination, IDOK);
        ASSERT_TRUE(WaitGone(destination, kPageWait));
        HWND finish = WaitForDialog(setup.Id(), IDOK, "Installation Successfully Completed", kInstallWait);
        ASSERT_NE(nullptr, finish) << "finish page";
        Click(finish, IDOK);
        EXPECT_EQ(0, setup.Wait(e2e::kHangWait));
        // The program started by the finish page runs from the product
        // folder; wait for it to show, then close it.
        EXPECT_TRUE(WaitUntil([] { return FindTopLevel("GlyphForge (demo)") != nullptr; }, kHangWait));
        CloseLaunchedWindows();

        for (int i = 0;; ++i) {
            char name[32];
            wsprintfA(name, "File%04d", i);
            std::string value;
            if (!ReadRegString(HKEY_LOCAL_MACHINE, std::string(kProductKey) + "\\Files", name, value))
                break;
            listed_.push_back(value);
        }
        ASSERT_GT(listed_.size(), 3u);
        uninstaller_ = target_ + "\\UnInstall.exe";
        ASSERT_TRUE(Exists(uninstaller_));
    }

    bool IsSiblingFile(const std::string& path) const { return path.compare(0, archivist_.size() + 1, archivist_ + "\\") == 0; }

    // The uninstaller's end, then its copy's, which deletes the program and
    // finishes the removal.
    void WaitForRemoval(Process& uninstall, long exitCode)
    {
        EXPECT_EQ(exitCode, uninstall.Wait(kRemovalWait));
        EXPECT_TRUE(WaitForChildrenOf(uninstall.Id(), kRemovalWait)) << "the removal's copy did not end";
    }

    void ExpectRemoved()
    {
        EXPECT_FALSE(Exists(uninstaller_)) << "the uninstaller removes itself";
        for (const std::string& f : listed_) {
            if (IsSiblingFile(f))
                EXPECT_TRUE(Exists(f)) << "the sibling product's file stays: " << f;
            else
                EXPECT_FALSE(Exists(f)) << f;
        }
        EXPECT_FALSE(Exists(target_ + "\\UnInstall.ini"));
        EXPECT_FALSE(FolderExists(group_)) << "the emptied Start-menu folder goes";
        EXPECT_EQ("the user's notes", ReadFile(siblingNote_));
        EXPECT_TRUE(Exists(neighbour_));
        EXPECT_TRUE(FolderExists(maker_)) << "the maker's folder still holds another product";
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kProductKey));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kAppPathKey));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kNeighbourKey));
        EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kMakerFolders));
    }

    void ExpectNothingRemoved()
    {
        for (const std::string& f : listed_)
            EXPECT_TRUE(Exists(f)) << f;
        EXPECT_TRUE(Exists(uninstaller_));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kAppPathKey));
    }

    std::string setup_, root_, maker_, target_, archivist_, group_, neighbour_, siblingNote_, uninstaller_;
    std::vector<std::string> listed_;
    char oldTemp_[MAX_PATH] = "";
    char oldTmp_[MAX_PATH] = "";
};

TEST_F(SetupLifecycle, SilentUninstallThroughTheUninstallEntry)
{
    ASSERT_NO_FATAL_FAILURE(InstallDemo());
    std::string userFile = target_ + "\\My Glyphs.gfg";
    ASSERT_TRUE(WriteFile(userFile, "the user's work"));
    SetFileAttributesA(listed_[0].c_str(), FILE_ATTRIBUTE_READONLY);
    // The copy of the setup kept for repairs, named in the settings file.
    std::string kept = SetupFolder("Corvane GlyphForge") + "\\setup.exe";
    EXPECT_EQ(ReadFile(setup_), ReadFile(kept));
    EXPECT_NE(std::string::npos, ReadText(target_ + "\\UnInstall.ini").find("repair=" + kept));

    // Exactly the command Windows' list of installed programs runs, with /S.
    std::string command;
    ASSERT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString", command));
    ASSERT_EQ(0u, command.find("\"" + uninstaller_ + "\" "));
    std::string arguments = command.substr(uninstaller_.size() + 3) + " /S";
    Process uninstall(uninstaller_, arguments);
    ASSERT_TRUE(uninstall.Started());
    WaitForRemoval(uninstall, 0);

    ExpectRemoved();
    EXPECT_EQ("the user's work", ReadFile(userFile));
    EXPECT_FALSE(Exists(kept)) << "the copy kept for repairs goes with the product";
}

TEST_F(SetupLifecycle, UninstallThroughItsDialogsAsTheStartMenuStartsIt)
{
    ASSERT_NO_FATAL_FAILURE(InstallDemo());
    Process uninstall(uninstaller_, "");
    ASSERT_TRUE(uninstall.Started());
    HWND choice = WaitForDialog(uninstall.Id(), IDC_REMOVE, "Corvane GlyphForge", kPageWait);
    ASSERT_NE(nullptr, choice);
    EXPECT_TRUE(ItemEnabled(choice, IDC_REPAIR));
    Click(choice, IDC_REMOVE);
    HWND question = WaitForDialog(uninstall.Id(), IDYES, "", kPageWait);
    ASSERT_NE(nullptr, question);
    Click(question, IDYES);
    HWND done = WaitForDialog(uninstall.Id(), IDOK, "", kPageWait);
    ASSERT_NE(nullptr, done);
    std::string summary = ItemText(done, kMessageTextId);
    EXPECT_NE(std::string::npos, summary.find("Corvane GlyphForge has been removed")) << summary;
    EXPECT_NE(std::string::npos, summary.find("Corvane Archivist in " + archivist_)) << summary;
    Click(done, IDOK);
    WaitForRemoval(uninstall, 0);

    ExpectRemoved();
    EXPECT_FALSE(FolderExists(target_)) << "the emptied product folder goes";
}

TEST_F(SetupLifecycle, RepairFromTheUninstallerRestoresADeletedFile)
{
    ASSERT_NO_FATAL_FAILURE(InstallDemo());
    std::string program = target_ + "\\GlyphForge.exe";
    std::string original = ReadFile(program);
    ASSERT_FALSE(original.empty());
    ASSERT_TRUE(DeleteFileA(program.c_str()));

    Process uninstall(uninstaller_, "");
    ASSERT_TRUE(uninstall.Started());
    HWND choice = WaitForDialog(uninstall.Id(), IDC_REPAIR, "", kPageWait);
    ASSERT_NE(nullptr, choice);
    Click(choice, IDC_REPAIR);
    EXPECT_EQ(0, uninstall.Wait(e2e::kHangWait));

    // The setup runs in repair mode, a process of its own.
    HWND finish = nullptr;
    for (int i = 0; i < 1800 && !finish; ++i) {
        finish = FindTopLevel("Repair Successfully Completed");
        if (!finish)
            Sleep(100);
    }
    ASSERT_NE(nullptr, finish) << "repair-finished page";
    DWORD setupId = 0;
    GetWindowThreadProcessId(finish, &setupId);
    HANDLE setup = OpenProcess(SYNCHRONIZE, FALSE, setupId);
    EXPECT_EQ(original, ReadFile(program));
    Click(finish, IDOK);
    if (setup) {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(setup, e2e::kHangWait));
        CloseHandle(setup);
    }
    EXPECT_TRUE(Exists(uninstaller_));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kProductKey));
}

TEST_F(SetupLifecycle, MissingSettingsOrFileListRemovesNothing)
{
    ASSERT_NO_FATAL_FAILURE(InstallDemo());
    std::string settings = target_ + "\\UnInstall.ini";
    std::string saved = settings + ".saved";
    ASSERT_TRUE(MoveFileA(settings.c_str(), saved.c_str()));
    {
        Process uninstall(uninstaller_, "");
        HWND message = WaitForDialog(uninstall.Id(), kMessageTextId, "", kPageWait);
        ASSERT_NE(nullptr, message);
        std::string text = ItemText(message, kMessageTextId);
        EXPECT_NE(std::string::npos, text.find(settings)) << text;
        EXPECT_NE(std::string::npos, text.find("Nothing has been removed")) << text;
        Click(message, IDOK);
        EXPECT_EQ(1603, uninstall.Wait(e2e::kHangWait));
    }
    ExpectNothingRemoved();

    ASSERT_TRUE(MoveFileA(saved.c_str(), settings.c_str()));
    DeleteKeyTree(HKEY_LOCAL_MACHINE, std::string(kProductKey) + "\\Files");
    {
        Process uninstall(uninstaller_, "");
        HWND message = WaitForDialog(uninstall.Id(), kMessageTextId, "", kPageWait);
        ASSERT_NE(nullptr, message);
        std::string text = ItemText(message, kMessageTextId);
        EXPECT_NE(std::string::npos, text.find("Corvane GlyphForge is missing from the registry")) << text;
        EXPECT_NE(std::string::npos, text.find("Nothing has been removed")) << text;
        Click(message, IDOK);
        EXPECT_EQ(1603, uninstall.Wait(e2e::kHangWait));
    }
    {
        Process uninstall(uninstaller_, "/S");
        EXPECT_EQ(1603, uninstall.Wait(e2e::kHangWait));
    }
    ExpectNothingRemoved();
}

// The elevated uninstaller cannot be turned against anything but its own
// product: other names on its command line, or "/finish" with a path that
// is not the file of an uninstaller that handed down its own process.
TEST_F(SetupLifecycle, ForeignNamesOrPathsRemoveNothing)
{
    ASSERT_NO_FATAL_FAILURE(InstallDemo());
    {
        Process uninstall(uninstaller_, "\"Corvane Neighbour\" \"neighbour.exe\" /S");
        EXPECT_EQ(1603, uninstall.Wait(e2e::kHangWait));
    }
    ExpectNothingRemoved();
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kNeighbourKey));
    std::string foreign = maker_ + "\\Neighbour\\UnInstall.exe";
    ASSERT_TRUE(WriteFile(foreign, "another product's uninstaller"));
    for (const char* handle : {"1234", "4"}) {
        Process finish(uninstaller_, std::string("/finish ") + handle + " \"" + foreign + "\"");
        finish.Wait(e2e::kHangWait);
        EXPECT_TRUE(Exists(foreign)) << handle;
    }
    ExpectNothingRemoved();
}

// Installed twice, in two folders: the second installation moves the
// product and takes the older folder's uninstaller away; one left there
// all the same (copied back, say) belongs to no registered installation
// and removes nothing at all.
TEST_F(SetupLifecycle, UninstallerOfAnOlderFolderLeavesTheNewerInstallation)
{
    std::string older = target_;
    InstallDemo();
    target_ = maker_ + "\\GlyphForge Two";
    listed_.clear();
    InstallDemo();
    EXPECT_FALSE(Exists(older + "\\UnInstall.exe"));
    CreateDirectoryA(older.c_str(), nullptr);
    for (const char* name : {"\\UnInstall.exe", "\\UnInstall.ini"})
        ASSERT_TRUE(CopyFileA((target_ + name).c_str(), (older + name).c_str(), FALSE));
    auto state = [&] { return Snapshot({older, target_, group_}, {kProductKey, kAppPathKey, kUninstallKey}); };
    State before = state();
    Process stale(older + "\\UnInstall.exe", "/S");
    EXPECT_EQ(1603, stale.Wait(e2e::kHangWait));
    EXPECT_EQ("", Differences(before, state()));
}

} // namespace
