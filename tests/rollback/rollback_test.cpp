// The undoable changes and the journal on real files and the real registry
// under Wine: a rollback gives back every file byte for byte with its
// attributes and times, every registry value, and removes only the folders
// the run made; a commit keeps the new state; a run that was never ended is
// undone (or tidied, once it had succeeded) by the next session; a
// per-user installation keeps to the user's own folders and hive.
#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "rollback/admin_folder.h"
#include "rollback/journal.h"
#include "tests/common/files.h"

namespace {

const char kProduct[] = "Rollback Test Product";
const char kKey[] = "SOFTWARE\\Corvane Rollback Test";
// The maker whose setup folder the journals are kept in.
const char kMaker[] = "Rollback Test";

// Every file below folder: content, attributes and write time.
std::map<std::string, std::string> Snapshot(const std::string& folder)
{
    std::map<std::string, std::string> result;
    testfiles::WalkTree(folder, [&](const std::string& path, const WIN32_FIND_DATAA& entry) {
        std::string name = path.substr(folder.size() + 1);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            result[name + "\\"] = "folder";
        else
            result[name] = testfiles::ReadFile(path) + "|" + std::to_string(entry.dwFileAttributes) + "|" +
                           std::to_string(entry.ftLastWriteTime.dwLowDateTime);
        return true;
    });
    return result;
}

std::map<std::string, std::string> RegistrySnapshot(const char* key)
{
    std::map<std::string, std::string> result;
    HKEY k;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &k) != ERROR_SUCCESS)
        return result;
    // Any name and data the registry takes.
    std::vector<char> name(16384);
    std::vector<BYTE> data(4 << 20);
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = DWORD(name.size()), dataLength = DWORD(data.size()), type = 0;
        if (RegEnumValueA(k, i, name.data(), &nameLength, nullptr, &type, data.data(), &dataLength) != ERROR_SUCCESS)
            break;
        result[name.data()] = std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data.data()), dataLength);
    }
    RegCloseKey(k);
    return result;
}

void SetValue(const char* key, const char* name, const std::string& data)
{
    HKEY k;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
    RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()), DWORD(data.size() + 1));
    RegCloseKey(k);
}

bool KeyExists(const std::string& key)
{
    HKEY k;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
        return false;
    RegCloseKey(k);
    return true;
}

void DeleteTree(const std::string& key)
{
    for (;;) {
        HKEY k;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
            return;
        char sub[256];
        DWORD n = sizeof sub;
        LONG r = RegEnumKeyExA(k, 0, sub, &n, nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(k);
        if (r != ERROR_SUCCESS)
            break;
        DeleteTree(key + "\\" + sub);
    }
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
}

std::string JournalFile()
{
    char folder[MAX_PATH];
    return GetProductAdminFolder(kMaker, kProduct, folder, sizeof folder) ? std::string(folder) + "\\setup.journal" : "";
}

// A journal file as a run would leave it (administrators only), then the
// next session's recovery of it.
JournalRecovery RecoverPlantedJournal(const std::string& bytes)
{
    char path[MAX_PATH];
    if (!JournalPath(kMaker, kProduct, true, path, sizeof path))
        return JOURNAL_NOTHING_FOUND;
    SECURITY_ATTRIBUTES security = {sizeof security, NewAdminOnlyDescriptor(), FALSE};
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, &security, CREATE_ALWAYS, 0, nullptr);
    LocalFree(security.lpSecurityDescriptor);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    RunJournal next;
    JournalRecovery recovered = JOURNAL_NOTHING_FOUND;
    EXPECT_EQ(JOURNAL_STARTED, JournalStartSession(next, kMaker, kProduct, &recovered));
    JournalEndSession(next);
    return recovered;
}

class Rollback : public ::testing::Test {
protected:
    void SetUp() override
    {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        root_ = std::string(temp) + "rollback test";
        testfiles::RemoveTree(root_);
        DeleteTree(kKey);
        CreateDirectoryA(root_.c_str(), nullptr);
        // An earlier installation: a program, a read-only help file and a
        // file of the user's, and the product's registry values.
        app_ = root_ + "\\App";
        CreateDirectoryA(app_.c_str(), nullptr);
        testfiles::WriteFile(app_ + "\\app.exe", "old program");
        testfiles::WriteFile(app_ + "\\help.hlp", "old help");
        testfiles::WriteFile(app_ + "\\help.gid", "old index");
        SetFileAttributesA((app_ + "\\help.hlp").c_str(), FILE_ATTRIBUTE_READONLY);
        testfiles::WriteFile(app_ + "\\mine.txt", "the user's");
        SetValue(kKey, "InstallDir", "C:\\Old\\");
        SetValue((std::string(kKey) + "\\Files").c_str(), "File0000", "C:\\Old\\app.exe");
        SetValue((std::string(kKey) + "\\Files").c_str(), "File0001", "C:\\Old\\help.hlp");
        // A name longer than any of ours, and data too large to record.
        SetValue((std::string(kKey) + "\\Files").c_str(), ("File" + std::string(300, 'x')).c_str(), "long");
        SetValue((std::string(kKey) + "\\Files").c_str(), "FileHuge", std::string(1536 * 1024, 'h'));
        DeleteFileA(JournalFile().c_str());
    }
    void TearDown() override
    {
        testfiles::RemoveTree(root_);
        DeleteTree(kKey);
    }

    // A run over the earlier installation: new folders and files, every
    // old file replaced or deleted, the registry rewritten.
    void ChangeEverything(RunJournal& journal)
    {
        ASSERT_TRUE(RecordedCreateFolder(journal, (app_ + "\\Fonts").c_str()));
        ASSERT_TRUE(RecordedCreateFolder(journal, (app_ + "\\Fonts\\Serif").c_str()));
        for (const char* name : {"\\app.exe", "\\help.hlp", "\\Fonts\\Serif\\a.cvf"}) {
            std::string path = app_ + name;
            ASSERT_TRUE(PrepareFileForWriting(journal, path.c_str())) << name;
            ASSERT_TRUE(testfiles::WriteFile(path, "new")) << name;
        }
        ASSERT_TRUE(MoveFileAsideForDeletion(journal, (app_ + "\\help.gid").c_str()));
        std::string temporary = root_ + "\\staged.tmp";
        testfiles::WriteFile(temporary, "staged");
        RecordTemporaryFile(journal, temporary.c_str());

        std::string files = std::string(kKey) + "\\Files";
        // The value too large to be given back is neither deleted nor
        // replaced; all the others are, whatever the length of their names.
        EXPECT_FALSE(RecordedDeleteRegistryValues(journal, HKEY_LOCAL_MACHINE, files.c_str(), "File"));
        EXPECT_EQ(1u, RegistrySnapshot(files.c_str()).count("FileHuge"));
        EXPECT_EQ(1u, RegistrySnapshot(files.c_str()).size());
        EXPECT_FALSE(RecordedSetRegistryValue(journal, HKEY_LOCAL_MACHINE, files.c_str(), "FileHuge", REG_SZ, "x", 1));
        const char dir[] = "C:\\New\\";
        ASSERT_TRUE(RecordedSetRegistryValue(journal, HKEY_LOCAL_MACHINE, kKey, "InstallDir", REG_SZ, dir, 7));
        ASSERT_TRUE(RecordedSetRegistryValue(journal, HKEY_LOCAL_MACHINE, files.c_str(), "File0000", REG_SZ, "x", 1));
        ASSERT_TRUE(RecordedSetRegistryValue(journal, HKEY_LOCAL_MACHINE, (std::string(kKey) + "\\New\\Deep").c_str(),
                                             "Path", REG_SZ, "y", 1));
    }

    std::string root_, app_;
};

std::vector<std::string> Heard;
void Listen(const char* event) { Heard.push_back(event); }

TEST_F(Rollback, RollBackGivesBackEveryFileValueAndFolderAsItWas)
{
    auto files = Snapshot(root_);
    auto values = RegistrySnapshot(kKey);
    auto list = RegistrySnapshot((std::string(kKey) + "\\Files").c_str());
    Heard.clear();
    {
        RunJournal journal;
        journal.Observer = Listen;
        JournalRecovery recovered;
        ASSERT_EQ(JOURNAL_STARTED, JournalStartSession(journal, kMaker, kProduct, &recovered));
        ChangeEverything(journal);
        EXPECT_EQ("new", testfiles::ReadFile(app_ + "\\app.exe"));
        EXPECT_TRUE(JournalHasRunChanges(journal));
        EXPECT_EQ(0, JournalRollBack(journal, false));
        JournalEndSession(journal);
    }
    EXPECT_EQ(files, Snapshot(root_)) << "files, attributes and times";
    EXPECT_EQ(values, RegistrySnapshot(kKey));
    EXPECT_EQ(list, RegistrySnapshot((std::string(kKey) + "\\Files").c_str()));
    EXPECT_FALSE(KeyExists(std::string(kKey) + "\\New"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(JournalFile().c_str())) << "no journal left";

    // The observer (the setup's log) heard of each change and each undoing.
    std::string key = std::string("HKLM\\") + kKey;
    std::string expected[] = {
        "folder created: " + app_ + "\\Fonts",
        "file moved aside until the run succeeds: " + app_ + "\\app.exe " + app_ + "\\~RB",
        "new file: " + app_ + "\\Fonts\\Serif\\a.cvf",
        "registry value deleted: " + key + "\\Files [File0001]",
        "registry value: " + key + " [InstallDir] = C:\\New\\",
        "rollback: registry key deleted: " + key + "\\New\\Deep",
        "rollback: registry value restored: " + key + " [InstallDir]",
        "rollback: file deleted: " + app_ + "\\Fonts\\Serif\\a.cvf",
        "rollback: file put back: " + app_ + "\\app.exe",
        "rollback: folder removed: " + app_ + "\\Fonts",
    };
    size_t next = 0;
    for (const std::string& event : Heard)
        if (next < sizeof expected / sizeof expected[0] && event.compare(0, expected[next].size(), expected[next]) == 0)
            ++next;
    ASSERT_EQ(sizeof expected / sizeof expected[0], next) << "not heard, or out of order: " << expected[next];
}

TEST_F(Rollback, CommitKeepsTheRunAndRemovesWhatWasMovedAside)
{
    RunJournal journal;
    JournalRecovery recovered;
    ASSERT_EQ(JOURNAL_STARTED, JournalStartSession(journal, kMaker, kProduct, &recovered));
    // A folder the user abandoned on the way stays empty and goes.
    ASSERT_TRUE(RecordedCreateFolder(journal, (root_ + "\\Abandoned").c_str()));
    ChangeEverything(journal);
    JournalCommit(journal);
    JournalEndSession(journal);
    auto after = Snapshot(root_);
    std::map<std::string, std::string> contents;
    for (auto& entry : after)
        contents[entry.first] = entry.second.substr(0, entry.second.find('|'));
    EXPECT_EQ((std::map<std::string, std::string>{{"App\\", "folder"},
                                                  {"App\\Fonts\\", "folder"},
                                                  {"App\\Fonts\\Serif\\", "folder"},
                                                  {"App\\Fonts\\Serif\\a.cvf", "new"},
                                                  {"App\\app.exe", "new"},
                                                  {"App\\help.hlp", "new"},
                                                  {"App\\mine.txt", "the user's"}}),
              contents);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(JournalFile().c_str()));
}

TEST_F(Rollback, WriteThatFailsPutsTheOriginalBack)
{
    auto files = Snapshot(root_);
    RunJournal journal;
    std::string path = app_ + "\\app.exe";
    ASSERT_TRUE(PrepareFileForWriting(journal, path.c_str()));
    testfiles::WriteFile(path, "half");
    PutBackFile(journal, path.c_str());
    EXPECT_EQ(files, Snapshot(root_));
    // Put back, it is no longer a moved file for the commit to delete.
    JournalCommit(journal);
    EXPECT_EQ(files, Snapshot(root_));
    // A file held without delete sharing cannot be moved aside: nothing
    // changes and the caller learns why.
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_FALSE(PrepareFileForWriting(journal, path.c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    CloseHandle(held);
    EXPECT_EQ(files, Snapshot(root_));
}

// A file that somebody puts where the run had recorded a new one (the
// records go ahead of the files) is moved aside as any other, and a
// rollback gives it back instead of deleting it as the run's.
TEST_F(Rollback, AFileThatCameAfterItsRecordIsGivenBack)
{
    RunJournal journal;
    JournalRecovery recovered;
    ASSERT_EQ(JOURNAL_STARTED, JournalStartSession(journal, kMaker, kProduct, &recovered));
    std::string path = app_ + "\\late.txt";
    RecordNewFile(journal, path.c_str());
    testfiles::WriteFile(path, "somebody's");
    ASSERT_TRUE(PrepareFileForWriting(journal, path.c_str()));
    testfiles::WriteFile(path, "new");
    EXPECT_EQ(0, JournalRollBack(journal, false));
    JournalEndSession(journal);
    EXPECT_EQ("somebody's", testfiles::ReadFile(path));
}

// A file a program holds without delete sharing keeps its place: its new
// version is written beside it, deleted by a rollback, and put in its
// place at the next restart once the run has committed.
TEST_F(Rollback, AFileHeldWithoutDeleteSharingGetsItsNewVersionAtTheRestart)
{
    const char kManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    const std::string path = app_ + "\\app.exe";
    for (bool commit : {false, true}) {
        SCOPED_TRACE(commit ? "commit" : "rollback");
        auto files = Snapshot(root_);
        RunJournal journal;
        JournalRecovery recovered;
        ASSERT_EQ(JOURNAL_STARTED, JournalStartSession(journal, kMaker, kProduct, &recovered));
        HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        char beside[MAX_PATH];
        HANDLE file = CreateFileBesideHeld(journal, path.c_str(), beside, sizeof beside);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        DWORD written = 0;
        WriteFile(file, "new", 3, &written, nullptr);
        CloseHandle(file);
        if (commit) {
            JournalCommit(journal);
            EXPECT_EQ(1u, journal.WaitingForRestart.Count());
            EXPECT_EQ("old program", testfiles::ReadFile(path));
            EXPECT_EQ("new", testfiles::ReadFile(beside));
            std::string pending = RegistrySnapshot(kManager)["PendingFileRenameOperations"];
            EXPECT_NE(std::string::npos, pending.find("~RB")) << "the new version goes in at the restart";
            HKEY manager;
            ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kManager, 0, KEY_SET_VALUE, &manager));
            RegDeleteValueA(manager, "PendingFileRenameOperations");
            RegCloseKey(manager);
        } else {
            EXPECT_EQ(0, JournalRollBack(journal, false));
            EXPECT_EQ(files, Snapshot(root_));
        }
        CloseHandle(held);
        JournalEndSession(journal);
    }
}

TEST_F(Rollback, ARunThatNeverEndedIsUndoneOrTidiedByTheNextSession)
{
    auto files = Snapshot(root_);
    auto values = RegistrySnapshot(kKey);
    for (bool committed : {false, true}) {
        SCOPED_TRACE(committed ? "committed" : "killed halfway");
        {
            // A run that dies: its handles close with the process, nothing
            // is undone.
            RunJournal journal;
            JournalRecovery recovered;
            ASSERT_EQ(JOURNAL_STARTED, JournalStartSession(journal, kMaker, kProduct, &recovered));
            ChangeEverything(journal);
            if (committed)
                AppendRecord(journal, RECORD_COMMITTED, nullptr, 0, true);
            CloseHandle(journal.File);
            journal.File = INVALID_HANDLE_VALUE;
            ReleaseMutex(journal.Lock);
        }
        // A torn last record is ignored.
        HANDLE f = CreateFileA(JournalFile().c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, f);
        DWORD written;
        WriteFile(f, "N\tC:\\wind", 9, &written, nullptr);
        CloseHandle(f);

        RunJournal next;
        JournalRecovery recovered;
        ASSERT_EQ(JOURNAL_STARTED, JournalStartSession(next, kMaker, kProduct, &recovered));
        EXPECT_EQ(committed ? JOURNAL_COMPLETED : JOURNAL_ROLLED_BACK, recovered);
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(JournalFile().c_str()));
        if (!committed) {
            EXPECT_EQ(files, Snapshot(root_));
            EXPECT_EQ(values, RegistrySnapshot(kKey));
        } else {
            EXPECT_EQ("new", testfiles::ReadFile(app_ + "\\help.hlp"));
            EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((app_ + "\\help.gid").c_str()));
        }
        JournalEndSession(next);
    }
    // A journal that is not administrators-only was planted: it is deleted
    // unread, and the file it names stays.
    SECURITY_ATTRIBUTES everyone = {sizeof everyone, nullptr, FALSE};
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;FA;;;WD)", 1,
                                                                     &everyone.lpSecurityDescriptor, nullptr));
    HANDLE planted = CreateFileA(JournalFile().c_str(), GENERIC_WRITE, 0, &everyone, CREATE_ALWAYS, 0, nullptr);
    LocalFree(everyone.lpSecurityDescriptor);
    std::string forged = "ROLLBACK TEST SETUP JOURNAL 1\nN\t" + app_ + "\\mine.txt\n";
    DWORD written;
    WriteFile(planted, forged.data(), DWORD(forged.size()), &written, nullptr);
    CloseHandle(planted);
    RunJournal last;
    JournalRecovery recovered;
    ASSERT_EQ(JOURNAL_STARTED, JournalStartSession(last, kMaker, kProduct, &recovered));
    EXPECT_EQ(JOURNAL_NOTHING_FOUND, recovered);
    EXPECT_EQ("the user's", testfiles::ReadFile(app_ + "\\mine.txt"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(JournalFile().c_str()));
    JournalEndSession(last);
}

// A run of the program of the ANSI interfaces, killed before an update:
// its journal (version 1, names and a text value's data in the system's
// code page) is undone by this one, the value given back letter for
// letter.
TEST_F(Rollback, AJournalOfTheEarlierVersionIsUndoneToo)
{
    const char earlier[] = "R\xE9sum\xE9";
    wchar_t expected[16] = L"";
    MultiByteToWideChar(CP_ACP, 0, earlier, -1, expected, 16);
    SetValue(kKey, "Title", "changed");
    testfiles::WriteFile(app_ + "\new.txt", "made by the killed run");
    std::string journal = "ROLLBACK TEST SETUP JOURNAL 1\nN\t" + app_ + "\\new.txt\n";
    Text hex;
    AppendHex(hex, reinterpret_cast<const unsigned char*>(earlier), sizeof earlier);
    const char* value[] = {"M", kKey, "Title", "1", hex.c_str()};
    journal += std::string(FormatRecord(RECORD_OLD_VALUE, value, 5).c_str()) + "\n";
    EXPECT_EQ(JOURNAL_ROLLED_BACK, RecoverPlantedJournal(journal));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((app_ + "\\new.txt").c_str()));
    HKEY key;
    wchar_t title[16] = L"";
    DWORD size = sizeof title;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Corvane Rollback Test", 0, KEY_READ, &key));
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"Title", nullptr, nullptr, reinterpret_cast<BYTE*>(title), &size));
    RegCloseKey(key);
    EXPECT_STREQ(expected, title);
}

TEST_F(Rollback, OneSessionOfAProductAtATime)
{
    RunJournal first;
    JournalRecovery recovered;
    ASSERT_EQ(JOURNAL_STARTED, JournalStartSession(first, kMaker, kProduct, &recovered));
    JournalStart second = JOURNAL_STARTED, other = JOURNAL_BUSY;
    std::thread([&] {
        RunJournal journal, otherProduct;
        JournalRecovery r;
        second = JournalStartSession(journal, kMaker, kProduct, &r);
        other = JournalStartSession(otherProduct, kMaker, "Another Product", &r);
        JournalEndSession(otherProduct);
    }).join();
    EXPECT_EQ(JOURNAL_BUSY, second);
    EXPECT_EQ(JOURNAL_STARTED, other);
    JournalEndSession(first);
    std::thread([&] {
        RunJournal journal;
        JournalRecovery r;
        second = JournalStartSession(journal, kMaker, kProduct, &r);
        JournalEndSession(journal);
    }).join();
    EXPECT_EQ(JOURNAL_STARTED, second);
}

// A sub-folder of the installation replaced by a link to a folder outside
// it: no change and no undoing goes through it, and nothing behind it is
// touched.
TEST_F(Rollback, NothingGoesThroughALinkBelowAGuardedFolder)
{
    std::string elsewhere = root_ + "\\Elsewhere";
    CreateDirectoryA(elsewhere.c_str(), nullptr);
    testfiles::WriteFile(elsewhere + "\\a.cvf", "not the product's");
    RunJournal journal;
    JournalGuardFolder(journal, app_.c_str());
    // A file made before the link appeared: its undoing must not follow.
    CreateDirectoryA((app_ + "\\Fonts").c_str(), nullptr);
    ASSERT_TRUE(PrepareFileForWriting(journal, (app_ + "\\Fonts\\b.cvf").c_str()));
    testfiles::RemoveTree(app_ + "\\Fonts");
    ASSERT_TRUE(testfiles::MakeUnixLink(elsewhere, app_ + "\\Fonts"));
    testfiles::WriteFile(elsewhere + "\\b.cvf", "not the product's either");
    auto behind = Snapshot(elsewhere);

    EXPECT_TRUE(CrossesLinkBelow((app_ + "\\Fonts\\a.cvf").c_str(), app_.c_str()));
    EXPECT_FALSE(CrossesLinkBelow((app_ + "\\app.exe").c_str(), app_.c_str()));
    EXPECT_FALSE(CrossesLinkBelow((app_ + "\\Fonts\\a.cvf").c_str(), (root_ + "\\Other").c_str()));
    EXPECT_FALSE(PrepareFileForWriting(journal, (app_ + "\\Fonts\\a.cvf").c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_CANT_ACCESS_FILE), GetLastError());
    EXPECT_FALSE(MoveFileAsideForDeletion(journal, (app_ + "\\Fonts\\a.cvf").c_str()));
    EXPECT_FALSE(RecordedCreateFolder(journal, (app_ + "\\Fonts\\New").c_str()));
    EXPECT_EQ(1, JournalRollBack(journal, false)) << "the one undoing that would go through the link";
    EXPECT_EQ(behind, Snapshot(elsewhere));
}

TEST(AdminFolder, DescriptorReadsBackAsAdministratorsAndSystemOnly)
{
    char folder[MAX_PATH];
    ASSERT_TRUE(GetProductAdminFolder(kMaker, kProduct, folder, sizeof folder));
    EXPECT_TRUE(IsAdminOnly(folder));
    // A folder somebody else made for everybody, with a file planted in
    // it, is replaced by one of ours: the planted file is not in it.
    std::string open = std::string(folder) + "\\open to all";
    testfiles::RemoveTree(open);
    SECURITY_ATTRIBUTES everyone = {sizeof everyone, nullptr, FALSE};
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;OICI;FA;;;WD)", 1,
                                                                     &everyone.lpSecurityDescriptor, nullptr));
    ASSERT_TRUE(CreateDirectoryA(open.c_str(), &everyone));
    LocalFree(everyone.lpSecurityDescriptor);
    testfiles::WriteFile(open + "\\setup.journal", "planted");
    EXPECT_FALSE(IsAdminOnly(open.c_str()));
    EXPECT_TRUE(CreateAdminOnlyFolder(open.c_str()));
    EXPECT_TRUE(IsAdminOnly(open.c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((open + "\\setup.journal").c_str()));
    RemoveDirectoryA(open.c_str());
    WIN32_FIND_DATAA found;
    HANDLE moved = FindFirstFileA((open + ".untrusted-*").c_str(), &found);
    ASSERT_NE(INVALID_HANDLE_VALUE, moved);
    FindClose(moved);
    testfiles::RemoveTree(std::string(folder) + "\\" + found.cFileName);
    EXPECT_FALSE(GetProductAdminFolder(kMaker, "..\\Windows", folder, sizeof folder));
}

// A per-user installation keeps its journal in the user's own folder under
// the local application data, which the user owns and nobody but the user
// and SYSTEM may enter, and holds a run lock of its own: a run of the
// product for every user may go on beside it, a second run for the user
// may not.
TEST(UserScope, PrivateFolderAndARunLockOfItsOwn)
{
    SetInstallScope(SCOPE_USER);
    char folder[MAX_PATH], local[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, local);
    ASSERT_TRUE(GetProductAdminFolder(kMaker, kProduct, folder, sizeof folder));
    EXPECT_EQ(std::string(local) + "\\" + kMaker + " Setup\\" + kProduct, folder);
    EXPECT_TRUE(IsAdminOnly(folder));
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              GetNamedSecurityInfoA(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                    &owner, nullptr, &dacl, nullptr, &descriptor));
    EXPECT_TRUE(IsCurrentUserSid(owner));
    ASSERT_NE(nullptr, dacl);
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        PSID sid = &ace->SidStart;
        EXPECT_TRUE(IsCurrentUserSid(sid) || IsWellKnownSid(sid, WinLocalSystemSid)) << "entry " << i;
    }
    LocalFree(descriptor);

    RunJournal user;
    JournalRecovery recovered;
    ASSERT_EQ(JOURNAL_STARTED, JournalStartSession(user, kMaker, kProduct, &recovered));
    JournalStart second = JOURNAL_STARTED, machine = JOURNAL_BUSY;
    std::thread([&] {
        RunJournal journal;
        JournalRecovery r;
        second = JournalStartSession(journal, kMaker, kProduct, &r);
    }).join();
    SetInstallScope(SCOPE_MACHINE);
    std::thread([&] {
        RunJournal journal;
        JournalRecovery r;
        machine = JournalStartSession(journal, kMaker, kProduct, &r);
        JournalEndSession(journal);
    }).join();
    SetInstallScope(SCOPE_USER);
    EXPECT_EQ(JOURNAL_BUSY, second);
    EXPECT_EQ(JOURNAL_STARTED, machine);
    JournalEndSession(user);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(folder)) << "an empty private folder stays";
    SetInstallScope(SCOPE_MACHINE);
}

// Nothing that every user shares is changed by a per-user run, nor undone
// by the recovery of a per-user journal that names it (forged, say),
// whether a folder is written in full, with short names or through a link
// in the user's own folder; the user's own records are undone all the
// same.
TEST(UserScope, NothingMachineWideIsChangedOrRecovered)
{
    char programFiles[MAX_PATH] = "", common[MAX_PATH] = "", temp[MAX_PATH];
    SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, programFiles);
    SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, common);
    GetTempPathA(sizeof temp, temp);
    std::string shared = std::string(programFiles) + "\\Rollback Test";
    std::string own = std::string(temp) + "rollback user test";
    CreateDirectoryA(shared.c_str(), nullptr);
    CreateDirectoryA(own.c_str(), nullptr);
    ASSERT_TRUE(testfiles::WriteFile(shared + "\\planted.dll", "every user's"));
    ASSERT_TRUE(testfiles::WriteFile(own + "\\mine.txt", "the user's"));
    SetValue(kKey, "Shared", "every user's");
    char shortShared[MAX_PATH] = "";
    ASSERT_GT(GetShortPathNameA(shared.c_str(), shortShared, sizeof shortShared), 0u);
    std::string link = std::string(temp) + "rollback link";
    ASSERT_TRUE(testfiles::MakeUnixLink(shared, link));
    const std::string machineWide[] = {shared + "\\planted.dll", std::string(shortShared) + "\\planted.dll",
                                       std::string(common) + "\\Rollback Test.txt", link + "\\planted.dll"};

    SetInstallScope(SCOPE_USER);
    {
        RunJournal journal;
        for (const std::string& path : machineWide) {
            EXPECT_FALSE(PrepareFileForWriting(journal, path.c_str())) << path;
            EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError()) << path;
            EXPECT_FALSE(MoveFileAsideForDeletion(journal, path.c_str())) << path;
        }
        EXPECT_FALSE(RecordedCreateFolder(journal, (std::string(common) + "\\Rollback Test").c_str()));
        EXPECT_FALSE(RecordedSetRegistryValue(journal, HKEY_LOCAL_MACHINE, kKey, "Shared", REG_SZ, "x", 1));
        EXPECT_TRUE(RecordedSetRegistryValue(journal, HKEY_CURRENT_USER, kKey, "Own", REG_SZ, "x", 1));
        EXPECT_EQ(0, JournalRollBack(journal, false));
    }

    Text forged = JournalHeader(kMaker);
    forged.Append("\n");
    Text hex;
    AppendHex(hex, reinterpret_cast<const unsigned char*>("forged"), 7);
    const char* value[] = {"M", kKey, "Shared", "1", hex.c_str()};
    forged.Append(FormatRecord(RECORD_OLD_VALUE, value, 5).c_str());
    forged.Append("\n");
    for (const std::string& file : {machineWide[0], machineWide[1], own + "\\mine.txt"}) {
        const char* fields[] = {file.c_str()};
        forged.Append(FormatRecord(RECORD_NEW_FILE, fields, 1).c_str());
        forged.Append("\n");
    }
    EXPECT_EQ(JOURNAL_ROLLED_BACK, RecoverPlantedJournal(forged.c_str()));
    SetInstallScope(SCOPE_MACHINE);

    EXPECT_EQ("every user's", testfiles::ReadFile(shared + "\\planted.dll"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((own + "\\mine.txt").c_str())) << "the user's own record";
    EXPECT_EQ("1:every user's", RegistrySnapshot(kKey)["Shared"].substr(0, 14));
    testfiles::RemoveLink(link);
    testfiles::RemoveTree(shared);
    testfiles::RemoveTree(own);
    DeleteTree(kKey);
    RegDeleteTreeA(HKEY_CURRENT_USER, kKey);
}

TEST(FullPath, OnlyPlainFullPathsBelowARoot)
{
    for (const char* good : {"C:\\Apps\\Tool", "c:\\a", "\\\\server\\share\\dir", "C:\\Apps\\{v2}\\x.exe"})
        EXPECT_TRUE(IsPlainFullPath(good)) << good;
    for (const char* bad : {"", "Apps\\Tool", "D:Tool", "C:", "C:\\", "\\\\server\\share", "C:\\Apps\\Tool ",
                            "C:\\Apps.\\Tool", "C:\\a\\..\\b", "C:\\a\\.\\b", "C:\\a\\\\b", "C:\\a*", "C:\\a:s",
                            "\\Apps"})
        EXPECT_FALSE(IsPlainFullPath(bad)) << bad;
}

// What a recovery acts on, from the bytes of a journal file: whole lines
// only (a power cut tears the last one or leaves a zero-filled tail), and
// of them only the records our runs write.
TEST(JournalText, OnlyWholePlausibleRecordsAreActedOn)
{
    const std::string header = "CORVANE SETUP JOURNAL 2\n";
    const std::string file = "N\tC:\\Apps\\Tool\\a.exe\n";
    struct {
        std::string text;
        bool ours, committed;
        int records;
    } cases[] = {
        {header, true, false, 0},
        {"CORVANE SETUP JOURNAL 2", false, false, 0},
        {"CORVANE SETUP JOURNAL 3\n" + file, false, false, 0},
        {"CORVANE SETUP JOURNAL 1\n" + file, true, false, 1},
        {header + file + "N\tC:\\Apps\\To", true, false, 1},
        {header + file + std::string(4, '\0') + file, true, false, 1},
        {header + file + "C", true, false, 1},
        {header + file + "C\n", true, true, 2},
        {header + "C\tx\nCx\n", true, false, 0},
        {header + "N\tTool\\a.exe\nN\tC:\\Apps\\..\\Windows\\a.dll\nN\tC:\\Apps\\%4\n", true, false, 0},
        {header + "M\tC:\\Apps\\a.exe\tC:\\Temp\\~RB1.tmp\nM\tC:\\Apps\\a.exe\tC:\\Apps\\b.tmp\n", true, false, 0},
        {header + "M\tC:\\Apps\\a.exe\tC:\\apps\\~RB1.tmp\n", true, false, 1},
        {header + "K\tM\tSYSTEM\\CurrentControlSet\nA\tX\tSOFTWARE\\Maker\tv\nV\tM\tSOFTWARE\\Maker\tv\n", true,
         false, 0},
        {header + "V\tU\tSOFTWARE\\Maker\tv\t1\t41%0A\nN\tC:\\Apps\\R%E9sum%E9.txt\n", true, false, 2},
    };
    for (auto& c : cases) {
        TextList records;
        bool committed = true;
        EXPECT_EQ(c.ours, ReadJournalText(c.text.data(), c.text.size(), "CORVANE SETUP JOURNAL 2", records, &committed)) << c.text;
        EXPECT_EQ(c.committed, committed) << c.text;
        EXPECT_EQ(c.records, static_cast<int>(records.Count())) << c.text;
    }
}

} // namespace
