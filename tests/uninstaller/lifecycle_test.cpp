// Life cycle of the real UnInstall.exe under Wine, on an installation laid
// out exactly as the setup leaves it (files, Start-menu links, registry
// entries, "UnInstall.ini"), for what an installation by setup.exe cannot
// easily set up: the exact repair command, a setup program that is gone, a
// file held open, a read-only file, and the language of the dialogs. The
// dialogs are driven from outside by their control IDs. This program also
// stands in for the setup program in the repair case: started with
// "/r <folder>", it records its command line in that folder.
#include <gtest/gtest.h>

#include <shlobj.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "rollback/rollback.h"
#include "tests/e2e/driver.h"
#include "tests/uninstaller/uninstall_test_support.h"
#include "uninstaller/resource_ids.h"

using namespace uninstall_test;
using e2e::Click;
using e2e::ItemText;

namespace {

const char kProduct[] = "Corvane LifecycleTest";
const char kExe[] = "LifecycleTest.exe";
const char kProductKey[] = "SOFTWARE\\Corvane\\Corvane LifecycleTest";
const char kOtherProductKey[] = "SOFTWARE\\Corvane\\Corvane LifecycleNeighbour";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvane LifecycleTest";
const char kAppPathKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\LifecycleTest.exe";
const char kRepairRecord[] = "repair-started.txt";
// The message box's text control.
const int kMessageTextId = 0xFFFF;
const DWORD kDialogWait = e2e::kHangWait;
// The removal's copy ends once it has finished the removal: a limit only
// against a hang, never a measure of speed.
const DWORD kCopyWait = e2e::kHangWait;

std::string ThisProgram()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    return path;
}

std::string ProgramsFolder()
{
    char path[MAX_PATH] = "";
    LPITEMIDLIST items = nullptr;
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_PROGRAMS, &items)) && items) {
        SHGetPathFromIDListA(items, path);
        CoTaskMemFree(items);
    }
    return path;
}

// One installation as the setup leaves it, below a temporary tree that
// stands for Program Files, with the sibling product's folder beside it.
class Installation : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = tree.Path();
        makerFolder = root + "Programs\\Corvane\\";
        product = makerFolder + "LifecycleTest\\";
        archivist = root + "Archivist\\";
        group = ProgramsFolder() + "\\Corvane LifecycleTest\\";
        temp = root + "tmp\\";
        MakeFolders(temp);
        MakeFolders(group);
        archivistSetting.reset(new ArchivistSetting(archivist));

        installed = {tree.Write("Programs\\Corvane\\LifecycleTest\\LifecycleTest.exe"),
                     tree.Write("Programs\\Corvane\\LifecycleTest\\LifecycleTest.hlp"),
                     tree.Write("Programs\\Corvane\\LifecycleTest\\Fonts\\Sample.ttf")};
        installedSibling = tree.Write("Archivist\\Samples\\sample.gfa");
        links = {group + "LifecycleTest.lnk", group + "LifecycleTest Help.lnk", group + "Uninstall LifecycleTest.lnk"};
        for (const std::string& link : links)
            WriteText(link, "link");
        // Already there before the installation: another product of the
        // maker, and the sibling product's own file.
        neighbour = tree.Write("Programs\\Corvane\\Neighbour\\neighbour.exe");
        siblingOwn = tree.Write("Archivist\\notes.txt");

        std::vector<std::string> listed = installed;
        listed.push_back(installedSibling);
        listed.insert(listed.end(), links.begin(), links.end());
        for (size_t i = 0; i < listed.size(); ++i) {
            char name[16];
            wsprintfA(name, "File%04d", static_cast<int>(i));
            SetString(HKEY_LOCAL_MACHINE, std::string(kProductKey) + "\\Files", name, listed[i]);
        }
        SetString(HKEY_LOCAL_MACHINE, kProductKey, "InstallDir", product);
        SetString(HKEY_LOCAL_MACHINE, kAppPathKey, "", product + kExe);
        SetString(HKEY_LOCAL_MACHINE, kAppPathKey, "Path", product.substr(0, product.size() - 1));
        SetString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName", "LifecycleTest");
        SetString(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString",
                  "\"" + product + "UnInstall.exe\" \"" + kProduct + "\" \"" + kExe + "\"");
        SetString(HKEY_LOCAL_MACHINE, kOtherProductKey, "InstallDir", makerFolder + "Neighbour\\");

        uninstaller = product + "UnInstall.exe";
        ASSERT_TRUE(CopyFileA(e2e::FromUnixPath(UNINSTALLER_PATH).c_str(), uninstaller.c_str(), FALSE));
        // The setup program a repair starts is the copy kept where only
        // administrators can change it; this test program plays it.
        char kept[MAX_PATH];
        ASSERT_TRUE(GetProductAdminFolder("Corvane", kProduct, kept, sizeof kept));
        setupProgram = std::string(kept) + "\\setup.exe";
        ASSERT_TRUE(CopyFileA(ThisProgram().c_str(), setupProgram.c_str(), FALSE));
        settings = product + "UnInstall.ini";
        std::string args = std::string("\"") + kProduct + "\" \"" + kExe + "\"";
        WritePrivateProfileStringA("uninstall", "args", args.c_str(), settings.c_str());
        WritePrivateProfileStringA("uninstall", "repair", setupProgram.c_str(), settings.c_str());
        WritePrivateProfileStringA("uninstall", "maker", "Corvane", settings.c_str());
        WritePrivateProfileStringA("uninstall", "sibling", "Corvane Archivist", settings.c_str());
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, settings.c_str());
    }

    void TearDown() override
    {
        if (process.hProcess) {
            if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(process.hProcess, 99);
            CloseHandle(process.hProcess);
        }
        DeleteTree(HKEY_LOCAL_MACHINE, kProductKey);
        DeleteTree(HKEY_LOCAL_MACHINE, kOtherProductKey);
        DeleteTree(HKEY_LOCAL_MACHINE, kUninstallKey);
        DeleteTree(HKEY_LOCAL_MACHINE, kAppPathKey);
        RemoveTree(group.substr(0, group.size() - 1));
        DeleteFileA(setupProgram.c_str());
        RemoveEmptyProductAdminFolder("Corvane", kProduct);
        archivistSetting.reset();
    }

    // Starts UnInstall.exe with arguments, its temporary folder inside the
    // test tree so that its self-removing copy is cleaned up with it.
    void Start(const std::string& arguments)
    {
        std::string command = "\"" + uninstaller + "\"" + (arguments.empty() ? "" : " " + arguments);
        std::vector<char> line(command.begin(), command.end());
        line.push_back('\0');
        char oldTemp[MAX_PATH] = "", oldTmp[MAX_PATH] = "";
        GetEnvironmentVariableA("TEMP", oldTemp, sizeof oldTemp);
        GetEnvironmentVariableA("TMP", oldTmp, sizeof oldTmp);
        SetEnvironmentVariableA("TEMP", temp.c_str());
        SetEnvironmentVariableA("TMP", temp.c_str());
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        BOOL started = CreateProcessA(uninstaller.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                      product.c_str(), &startup, &info);
        SetEnvironmentVariableA("TEMP", oldTemp);
        SetEnvironmentVariableA("TMP", oldTmp);
        ASSERT_TRUE(started) << command;
        CloseHandle(info.hThread);
        process = info;
    }

    DWORD WaitForExit()
    {
        DWORD code = 12345;
        if (WaitForSingleObject(process.hProcess, e2e::kHangWait) == WAIT_OBJECT_0)
            GetExitCodeProcess(process.hProcess, &code);
        return code;
    }

    DWORD RunSilently(const std::string& arguments)
    {
        Start(arguments);
        return WaitForExit();
    }

    HWND WaitForDialog(int id) { return e2e::WaitForDialog(process.dwProcessId, id, "", kDialogWait); }

    // Clicks Remove, then Yes on the question.
    void ChooseRemove()
    {
        HWND choice = WaitForDialog(IDC_REMOVE);
        ASSERT_TRUE(choice);
        EXPECT_NE(std::string::npos, ItemText(choice, IDC_CHOICE_TEXT).find(kProduct));
        Click(choice, IDC_REMOVE);
        HWND question = WaitForDialog(IDYES);
        ASSERT_TRUE(question);
        EXPECT_NE(std::string::npos, ItemText(question, kMessageTextId).find(kProduct));
        Click(question, IDYES);
    }

    // The closing or error message (the only box with OK): its text, after
    // clicking OK.
    std::string AcknowledgeMessage()
    {
        HWND box = WaitForDialog(IDOK);
        if (!box)
            return "(no message)";
        std::string text = ItemText(box, kMessageTextId);
        Click(box, IDOK);
        return text;
    }

    // The uninstaller to its end, and the copy it left to finish the
    // removal (the program's file, the emptied folders) to its own.
    DWORD WaitForRemovalToFinish()
    {
        DWORD code = WaitForExit();
        EXPECT_TRUE(e2e::WaitForChildrenOf(process.dwProcessId, kCopyWait)) << "the removal's copy did not end";
        CloseHandle(process.hProcess);
        process = {};
        return code;
    }

    // Files the removal moved aside and left behind ("~RB....tmp").
    bool AsideFilesLeft(const std::string& folder)
    {
        WIN32_FIND_DATAA found;
        HANDLE find = FindFirstFileA((folder + "~RB*.tmp").c_str(), &found);
        if (find == INVALID_HANDLE_VALUE)
            return false;
        FindClose(find);
        return true;
    }

    void ExpectRegistrationGone()
    {
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kProductKey));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kAppPathKey));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kOtherProductKey)) << "another product's key stays";
        EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, ArchivistSetting::kKey)) << "the maker's user settings stay";
    }

    void ExpectNothingRemoved()
    {
        for (const std::string& f : installed)
            EXPECT_TRUE(Exists(f)) << f;
        for (const std::string& l : links)
            EXPECT_TRUE(Exists(l)) << l;
        EXPECT_TRUE(Exists(uninstaller));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kAppPathKey));
    }

    void ExpectSiblingAndNeighbourKept()
    {
        EXPECT_TRUE(Exists(installedSibling)) << "the sibling product's files are never removed";
        EXPECT_TRUE(Exists(siblingOwn));
        EXPECT_TRUE(Exists(neighbour));
    }

    TempTree tree{"ulc"};
    std::string root, makerFolder, product, archivist, group, temp;
    std::string uninstaller, settings, setupProgram, installedSibling, neighbour, siblingOwn;
    std::vector<std::string> installed, links;
    std::unique_ptr<ArchivistSetting> archivistSetting;
    PROCESS_INFORMATION process = {};
};

TEST_F(Installation, RepairStartsTheRecordedSetupWithTheFolder)
{
    // A "repair" edited to point anywhere but the kept copy is refused with
    // a message, and nothing is started.
    std::string elsewhere = root + "setup.exe";
    ASSERT_TRUE(CopyFileA(ThisProgram().c_str(), elsewhere.c_str(), FALSE));
    WritePrivateProfileStringA("uninstall", "repair", elsewhere.c_str(), settings.c_str());
    Start("");
    HWND choice = WaitForDialog(IDC_REPAIR);
    ASSERT_TRUE(choice);
    Click(choice, IDC_REPAIR);
    HWND refusal = WaitForDialog(kMessageTextId);
    ASSERT_TRUE(refusal);
    EXPECT_NE(std::string::npos, ItemText(refusal, kMessageTextId).find("cannot be repaired"));
    Click(refusal, IDOK);
    EXPECT_EQ(1603u, WaitForExit());
    EXPECT_FALSE(Exists(product + kRepairRecord));
    CloseHandle(process.hProcess);
    process = PROCESS_INFORMATION();
    WritePrivateProfileStringA("uninstall", "repair", setupProgram.c_str(), settings.c_str());

    ASSERT_TRUE(DeleteFileA(installed[0].c_str()));
    Start("");
    choice = WaitForDialog(IDC_REPAIR);
    ASSERT_TRUE(choice);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(choice, IDC_REPAIR)));
    Click(choice, IDC_REPAIR);
    EXPECT_EQ(0u, WaitForExit());

    // The setup takes everything after "/r " as the folder: unquoted.
    // The started program writes the record a moment later: waited for
    // until it holds its line, not merely until the file is there.
    std::string record = product + kRepairRecord;
    EXPECT_TRUE(e2e::WaitUntil([&] { return !ReadText(record).empty(); }, e2e::kHangWait));
    EXPECT_EQ("\"" + setupProgram + "\" /r " + product, ReadText(record));
    for (size_t i = 1; i < installed.size(); ++i)
        EXPECT_TRUE(Exists(installed[i]));
    EXPECT_TRUE(Exists(uninstaller));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kProductKey));
}

TEST_F(Installation, RepairIsNotOfferedWhenTheSetupIsGone)
{
    ASSERT_TRUE(DeleteFileA(setupProgram.c_str()));
    Start("");
    HWND choice = WaitForDialog(IDC_REPAIR);
    ASSERT_TRUE(choice);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(choice, IDC_REPAIR)));
    EXPECT_NE(std::string::npos, ItemText(choice, IDC_REPAIR_NOTE).find(setupProgram));
    // A command that reaches the disabled button changes nothing.
    Click(choice, IDC_REPAIR);
    Sleep(300);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(process.hProcess, 0));
    Click(choice, IDCANCEL);
    EXPECT_EQ(1602u, WaitForExit());
    ExpectNothingRemoved();
}

// Retry removes the file once it is free, Ignore leaves it and says so,
// and Cancel gives back everything already taken away: the removal is one
// change, made whole or not at all.
TEST_F(Installation, FileHeldOpenIsNamedAndRetriedLeftOrCancelled)
{
    struct Case {
        int answer;
        DWORD exitCode;
    } cases[] = {{IDIGNORE, 1}, {IDRETRY, 0}, {IDCANCEL, 1602}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer == IDRETRY ? "retry" : c.answer == IDIGNORE ? "ignore" : "cancel");
        if (c.answer != IDIGNORE) {
            TearDown();
            SetUp();
        }
        HANDLE held =
            CreateFileA(installed[0].c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, held);
        Start(std::string("\"") + kProduct + "\" \"" + kExe + "\"");
        ChooseRemove();
        HWND inUse = WaitForDialog(IDIGNORE);
        ASSERT_TRUE(inUse);
        EXPECT_NE(std::string::npos, ItemText(inUse, IDC_IN_USE_TEXT).find(installed[0]));
        if (c.answer == IDRETRY) {
            CloseHandle(held);
            held = INVALID_HANDLE_VALUE;
        }
        Click(inUse, c.answer);
        std::string summary = AcknowledgeMessage();
        EXPECT_EQ(c.exitCode, WaitForRemovalToFinish());
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        ExpectSiblingAndNeighbourKept();
        if (c.answer == IDCANCEL) {
            ExpectNothingRemoved();
            EXPECT_FALSE(Exists(e2e::JournalFile(kProduct))) << "the cancelled removal was rolled back and ended";
            continue;
        }
        EXPECT_EQ(c.answer == IDIGNORE, summary.find(installed[0]) != std::string::npos) << summary;
        EXPECT_EQ(c.answer == IDIGNORE, Exists(installed[0]));
        EXPECT_FALSE(Exists(installed[1]));
        EXPECT_FALSE(Exists(uninstaller));
        EXPECT_FALSE(AsideFilesLeft(product));
        ExpectRegistrationGone();
    }
}

// The removal's copy finishes after the uninstaller has ended. An
// installation laid out in the same folder before that (here while the
// removal's closing message is still open) stays whole: the running
// program went aside at the commit, and only that aside file is deleted.
TEST_F(Installation, RemovalFinishedLateLeavesANewInstallationAlone)
{
    Start(std::string("\"") + kProduct + "\" \"" + kExe + "\"");
    ChooseRemove();
    HWND summary = WaitForDialog(IDOK);
    ASSERT_TRUE(summary);
    EXPECT_FALSE(Exists(uninstaller)) << "the running program was not moved aside";
    SetUp();
    Click(summary, IDOK);
    EXPECT_EQ(0u, WaitForRemovalToFinish());
    ExpectNothingRemoved();
    EXPECT_TRUE(Exists(settings));
    EXPECT_FALSE(AsideFilesLeft(product));
}

TEST_F(Installation, SilentRemovalWithFileHeldOpenReportsFailure)
{
    HANDLE held = CreateFileA(installed[2].c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(1u, RunSilently("/S"));
    CloseHandle(held);
    EXPECT_TRUE(Exists(installed[2]));
    EXPECT_FALSE(Exists(installed[0]));
}

// Run once in each language by the build (LC_ALL fr_FR, nl_BE or none):
// the texts follow the user's default language, as the setup's do.
TEST_F(Installation, SpeaksTheUsersLanguage)
{
    struct Language {
        WORD primary;
        const char* remove;
        const char* caption;
        const char* question;
    } languages[] = {
        // The window texts as the ANSI message gives them to this test
        // (code page 1252 for all three).
        {LANG_FRENCH, "&Supprimer", "D\xE9sinstaller Corvane LifecycleTest", "Que voulez-vous faire ?"},
        {LANG_DUTCH, "&Verwijderen", "Corvane LifecycleTest verwijderen", "Wat wilt u doen?"},
        {LANG_ENGLISH, "&Remove", "Uninstall Corvane LifecycleTest", "What do you want to do?"},
    };
    const Language* expected = &languages[2];
    for (const Language& l : languages)
        if (PRIMARYLANGID(GetUserDefaultLangID()) == l.primary)
            expected = &l;
    // The build names the language it started this run in.
    char wanted[8] = "";
    if (GetEnvironmentVariableA("UNINSTALL_TEST_LANGUAGE", wanted, sizeof wanted)) {
        WORD primary = strcmp(wanted, "fr") == 0 ? LANG_FRENCH : strcmp(wanted, "nl") == 0 ? LANG_DUTCH : LANG_ENGLISH;
        ASSERT_EQ(primary, expected->primary) << "the run did not start in language " << wanted;
    }

    Start("");
    HWND choice = WaitForDialog(IDC_REMOVE);
    ASSERT_TRUE(choice);
    char caption[256] = "";
    GetWindowTextA(choice, caption, sizeof caption);
    EXPECT_STREQ(expected->caption, caption);
    EXPECT_EQ(expected->remove, ItemText(choice, IDC_REMOVE));
    EXPECT_NE(std::string::npos, ItemText(choice, IDC_CHOICE_TEXT).find(expected->question));
    Click(choice, IDCANCEL);
    EXPECT_EQ(1602u, WaitForExit());
    ExpectNothingRemoved();
}

} // namespace

int main(int argc, char** argv)
{
    // Started as the setup program of a repair: record the command line in
    // the folder that follows "/r " and end.
    const char* line = GetCommandLineA();
    const char* repair = strstr(line, " /r ");
    if (repair) {
        std::string folder = repair + 4;
        WriteText(folder + kRepairRecord, line);
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
