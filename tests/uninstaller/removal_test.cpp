// Tests of the uninstaller's removal logic under Wine: command line and
// settings file, the registry's file list, file and folder removal on real
// temporary folders, the registry entries and the closing message.
#include <gtest/gtest.h>

#include <string>

#include <shlobj.h>

#include "rollback/rollback.h"
#include "tests/uninstaller/uninstall_test_support.h"
#include "uninstaller/resource_ids.h"
#include "uninstaller/uninstaller.h"

using namespace uninstall_test;

namespace {

const char kMaker[] = "Corvane";
const char kProduct[] = "Corvane RemovalTest";
const char kProductKey[] = "SOFTWARE\\Corvane\\Corvane RemovalTest";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvane RemovalTest";
const char kAppPathKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\RemovalTest.exe";

std::string Joined(const TextList& list)
{
    std::string all;
    for (size_t i = 0; i < list.Count(); ++i)
        all += std::string(list.At(i)) + "|";
    return all;
}

TEST(UninstallCommandLine, ArgumentsAndSwitches)
{
    struct Case {
        const char* line;
        bool silent, finish;
        const char* product;
        const char* exe;
    } cases[] = {
        {"\"Corvane GlyphForge\" \"GlyphForge.exe\"", false, false, "Corvane GlyphForge", "GlyphForge.exe"},
        {"\"Corvane GlyphForge\" \"GlyphForge.exe\" /S", true, false, "Corvane GlyphForge", "GlyphForge.exe"},
        {"/s \"Corvane GlyphForge\" \"GlyphForge.exe\"", true, false, "Corvane GlyphForge", "GlyphForge.exe"},
        {"\"Corvane GlyphForge\" /S \"GlyphForge.exe\"", true, false, "Corvane GlyphForge", "GlyphForge.exe"},
        {"", false, false, "", ""},
        {"/S", true, false, "", ""},
        // "/S" inside a name is part of the name, not the switch.
        {"\"A/S Tools\" \"tool.exe\"", false, false, "A/S Tools", "tool.exe"},
        {"  Plain  Second  ", false, false, "Plain", "Second"},
        {"/finish 1234 \"C:\\P\\UnInstall.exe\"", false, true, "", ""},
    };
    for (const Case& c : cases) {
        CommandLine parsed;
        ParseCommandLine(c.line, parsed);
        EXPECT_EQ(c.silent, parsed.Silent) << c.line;
        EXPECT_EQ(c.finish, parsed.Finish) << c.line;
        EXPECT_STREQ(c.product, parsed.ProductName.c_str()) << c.line;
        EXPECT_STREQ(c.exe, parsed.ExeName.c_str()) << c.line;
    }
    CommandLine finish;
    ParseCommandLine("/finish 1234 \"C:\\P\\UnInstall.exe\"", finish);
    EXPECT_STREQ("1234", finish.FinishHandle.c_str());
    EXPECT_STREQ("C:\\P\\UnInstall.exe", finish.FinishPath.c_str());
    EXPECT_FALSE(finish.FinishPerUser);
    ParseCommandLine("/finish 1234 \"C:\\P\\UnInstall.exe\" user \"Maker\" \"Some Product\"", finish);
    EXPECT_TRUE(finish.FinishPerUser);
    EXPECT_STREQ("Maker", finish.FinishMaker.c_str());
    EXPECT_STREQ("Some Product", finish.FinishProduct.c_str());
}

TEST(UninstallSettingsFile, NameArgumentsMustBeTwoPlainNames)
{
    struct Case {
        const char* args;
        bool ok;
    } cases[] = {
        {"\"Corvane GlyphForge\" \"GlyphForge.exe\"", true},
        {"\"Corvane GlyphForge\"", false},
        {"", false},
        {"\"\" \"GlyphForge.exe\"", false},
        // A backslash would reach another registry key than the product's.
        {"\"..\\Other\" \"GlyphForge.exe\"", false},
        {"\"Corvane GlyphForge\" \"sub\\GlyphForge.exe\"", false},
        {"\"Corvane GlyphForge\" \"GlyphForge.exe\" extra", true},
    };
    for (const Case& c : cases) {
        Text product, exe;
        EXPECT_EQ(c.ok, ParseNameArguments(c.args, product, exe)) << c.args;
    }
    // A name's limit counts letters, not bytes: 150 Cyrillic letters take
    // 300 bytes.
    std::string cyrillic;
    for (int i = 0; i < 150; ++i)
        cyrillic += "\xD0\x96";
    Text product, exe;
    EXPECT_TRUE(ParseNameArguments(("\"" + cyrillic + "\" \"a.exe\"").c_str(), product, exe));
    EXPECT_FALSE(ParseNameArguments(("\"" + std::string(201, 'x') + "\" \"a.exe\"").c_str(), product, exe));
}

TEST(UninstallSettingsFile, ReadsArgsAndRepairOrRefusesDamagedFile)
{
    struct Case {
        const char* content; // nullptr: no file at all
        bool ok;
        const char* repair;
    } cases[] = {
        {"[uninstall]\r\nargs=\"Corvane GlyphForge\" \"GlyphForge.exe\"\r\nrepair=C:\\Setup\\setup.exe\r\n"
         "maker=Corvane\r\n",
         true, "C:\\Setup\\setup.exe"},
        {"[uninstall]\r\nargs=\"Corvane GlyphForge\" \"GlyphForge.exe\"\r\nmaker=Corvane\r\n", true, ""},
        // As an earlier version wrote it: in the system's code page (1252).
        {"[uninstall]\r\nargs=\"Corvane GlyphForge\" \"GlyphForge.exe\"\r\nrepair=C:\\Donn\xE9" "es\\setup.exe\r\n"
         "maker=Corvane\r\n",
         true, "C:\\Donn\xC3\xA9" "es\\setup.exe"},
        // Without the maker the installation's keys and folders cannot be
        // found; a maker that names a path is not one.
        {"[uninstall]\r\nargs=\"Corvane GlyphForge\" \"GlyphForge.exe\"\r\n", false, ""},
        {"[uninstall]\r\nargs=\"Corvane GlyphForge\" \"GlyphForge.exe\"\r\nmaker=..\\Microsoft\r\n", false, ""},
        {"[uninstall]\r\nrepair=C:\\Setup\\setup.exe\r\nmaker=Corvane\r\n", false, ""},
        {"[other]\r\nargs=\"Corvane GlyphForge\" \"GlyphForge.exe\"\r\n", false, ""},
        {"\x01\x02garbage", false, ""},
        {nullptr, false, ""},
    };
    for (const Case& c : cases) {
        TempTree tree;
        if (c.content)
            tree.Write("UnInstall.ini", c.content);
        UninstallSettings settings;
        EXPECT_EQ(c.ok, ReadUninstallSettings(tree.Path().c_str(), settings)) << (c.content ? c.content : "none");
        if (c.ok) {
            EXPECT_STREQ("Corvane GlyphForge", settings.ProductName.c_str());
            EXPECT_STREQ("GlyphForge.exe", settings.ExeName.c_str());
            EXPECT_STREQ("Corvane", settings.MakerName.c_str());
            EXPECT_STREQ("", settings.SiblingName.c_str());
            EXPECT_STREQ(c.repair, settings.RepairProgram.c_str());
            EXPECT_STREQ(tree.Path().c_str(), settings.Folder.c_str());
        }
    }

    // Written as the setup writes it: UTF-16 with its mark, any letters.
    TempTree tree;
    std::wstring text = L"\xFEFF[uninstall]\r\nargs=\"\u041A\u043D\u0438\u0433\u0438\" \"GlyphForge.exe\"\r\n"
                        L"repair=C:\\Setup\\setup.exe\r\nmaker=\u0141\u00F3d\u017A\r\nsibling=Halvorsen Archive\r\n"
                        L"version=2.10\r\n";
    tree.Write("UnInstall.ini", std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));
    UninstallSettings settings;
    ASSERT_TRUE(ReadUninstallSettings(tree.Path().c_str(), settings));
    EXPECT_STREQ("\xD0\x9A\xD0\xBD\xD0\xB8\xD0\xB3\xD0\xB8", settings.ProductName.c_str());
    EXPECT_STREQ("GlyphForge.exe", settings.ExeName.c_str());
    EXPECT_STREQ("C:\\Setup\\setup.exe", settings.RepairProgram.c_str());
    EXPECT_STREQ("\xC5\x81\xC3\xB3" "d\xC5\xBA", settings.MakerName.c_str());
    EXPECT_STREQ("Halvorsen Archive", settings.SiblingName.c_str());
    EXPECT_STREQ("2.10", settings.Version.c_str());
}

// The settings file of a per-user installation says "scope=user"; one
// without the key is every user's, as every installation was before.
TEST(UninstallSettingsFile, ScopeIsEveryUsersUnlessTheFileSaysUser)
{
    const char kBase[] = "[uninstall]\r\nargs=\"Corvane GlyphForge\" \"GlyphForge.exe\"\r\nmaker=Corvane\r\n";
    struct Case {
        const char* scope; // nullptr: no key
        bool ok, perUser;
    } cases[] = {
        {nullptr, true, false}, {"machine", true, false}, {"user", true, true},
        {"User", true, true},   {"everyone", false, false}, {"", true, false},
    };
    for (const Case& c : cases) {
        TempTree tree;
        tree.Write("UnInstall.ini", std::string(kBase) + (c.scope ? std::string("scope=") + c.scope + "\r\n" : ""));
        UninstallSettings settings;
        EXPECT_EQ(c.ok, ReadUninstallSettings(tree.Path().c_str(), settings)) << (c.scope ? c.scope : "none");
        EXPECT_EQ(c.perUser, c.ok && settings.PerUser) << (c.scope ? c.scope : "none");
    }
}

TEST(UninstallLanguage, TheInstallationsLanguageForAUserWhoseLanguageIsNotCarried)
{
    LanguageList carried;
    ReadCarriedLanguages(GetModuleHandleA(nullptr), &carried);
    ASSERT_EQ(3, carried.Count);
    // Every text exists in every language carried.
    for (int i = 0; i < carried.Count; ++i) {
        UninstallLanguage = carried.Items[i].Id;
        for (int id = IDS_UNINSTALL_CAPTION; id <= IDS_PROGRAMS_RUNNING; ++id)
            EXPECT_NE("", std::string(LoadUninstallText(id).c_str())) << carried.Items[i].Code << " " << id;
    }
    UninstallLanguage = 0x040C;
    EXPECT_NE(std::string::npos, std::string(LoadUninstallText(IDS_REMOVED).c_str()).find("supprim"));

    // A French installation's uninstaller speaks French to a German user,
    // Dutch to a Belgian Dutch one; without a recorded language (or with
    // one it does not carry), the user's own or else English.
    TempTree tree;
    tree.Write("UnInstall.ini", "[uninstall]\r\nargs=\"Corvane GlyphForge\" \"GlyphForge.exe\"\r\nmaker=Corvane\r\n"
                                "language=fr\r\n");
    UninstallSettings settings;
    ASSERT_TRUE(ReadUninstallSettings(tree.Path().c_str(), settings));
    EXPECT_STREQ("fr", settings.Language.c_str());
    EXPECT_EQ(0x040C, ChooseUninstallLanguage(carried, 0x0407, settings.Language.c_str()));
    EXPECT_EQ(0x0413, ChooseUninstallLanguage(carried, 0x0813, settings.Language.c_str()));
    EXPECT_EQ(0x0409, ChooseUninstallLanguage(carried, 0x0407, ""));
    EXPECT_EQ(0x0409, ChooseUninstallLanguage(carried, 0x0407, "de"));
    UninstallLanguage = 0x0409;
}

TEST(UninstallPaths, OnlyFullPlainPathsAreRemovable)
{
    struct Case {
        const char* path;
        bool ok;
    } cases[] = {
        {"C:\\Program Files\\Corvane\\GlyphForge\\GlyphForge.exe", true},
        {"c:\\a", true},
        {"C:\\Program Files\\Corvane\\GlyphForge\\Data\\", true},
        {"\\\\server\\share\\GlyphForge\\a.txt", true},
        {"C:\\", false},
        {"C:", false},
        {"\\\\server\\share", false},
        {"\\\\server\\share\\", false},
        {"GlyphForge.exe", false},
        {"\\GlyphForge.exe", false},
        {"C:GlyphForge.exe", false},
        {"C:\\Program Files\\..\\Windows\\win.ini", false},
        {"C:\\Program Files\\.\\x", false},
        {"C:\\Windows.\\win.ini", false},
        {"C:\\Windows \\win.ini", false},
        {"C:\\a\\\\b", false},
        {"C:\\a\\*.*", false},
        {"C:\\a\\b?.txt", false},
        {"C:\\a\\b.txt:stream", false},
        {"C:/Windows/win.ini", false},
        {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.ok, IsRemovablePath(c.path)) << c.path;
    std::string tooLong = "C:\\" + std::string(MAX_PATH, 'a');
    EXPECT_FALSE(IsRemovablePath(tooLong.c_str()));
}

TEST(UninstallPaths, UnderFolderComparesWholeNamesWithoutCase)
{
    struct Case {
        const char* path;
        const char* folder;
        bool under;
    } cases[] = {
        {"C:\\Docs\\Corvane Archivist\\a.txt", "C:\\Docs\\Corvane Archivist\\", true},
        {"c:\\docs\\CORVANE ARCHIVIST\\sub\\a.txt", "C:\\Docs\\Corvane Archivist", true},
        {"C:\\Docs\\Corvane Archivist", "C:\\Docs\\Corvane Archivist\\", true},
        {"C:\\Docs\\Corvane Archivist2\\a.txt", "C:\\Docs\\Corvane Archivist\\", false},
        {"C:\\Docs\\a.txt", "C:\\Docs\\Corvane Archivist\\", false},
        {"C:\\Docs\\a.txt", "", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.under, IsUnderFolder(c.path, c.folder)) << c.path << " in " << c.folder;
}

TEST(UninstallPaths, ArchivistFolderFollowsMakerSetting)
{
    TempTree tree;
    {
        ArchivistSetting setting(tree.Path() + "Archive");
        EXPECT_EQ(tree.Path() + "Archive\\", std::string(GetArchivistFolder("Corvane", "Corvane Archivist").c_str()));
    }
    // Without the setting: the user's documents and "Corvane Archivist".
    HKEY k;
    bool set = false;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, ArchivistSetting::kKey, 0, KEY_READ, &k) == ERROR_SUCCESS) {
        set = RegQueryValueExA(k, "ArchivistLocation", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
        RegCloseKey(k);
    }
    if (!set) {
        std::string folder = GetArchivistFolder("Corvane", "Corvane Archivist").c_str();
        EXPECT_NE(std::string::npos, folder.find("\\Corvane Archivist\\")) << folder;
    }
}

class RegistryList : public ::testing::Test {
protected:
    void TearDown() override { DeleteTree(HKEY_LOCAL_MACHINE, kProductKey); }
    std::string FilesKey() const { return std::string(kProductKey) + "\\Files"; }
};

TEST_F(RegistryList, TakesFileValuesInNumberOrder)
{
    SetString(HKEY_LOCAL_MACHINE, FilesKey(), "File0002", "C:\\P\\c.txt");
    SetString(HKEY_LOCAL_MACHINE, FilesKey(), "File0000", "C:\\P\\a.txt");
    SetString(HKEY_LOCAL_MACHINE, FilesKey(), "File10000", "C:\\P\\z.txt");
    SetString(HKEY_LOCAL_MACHINE, FilesKey(), "File0001", "C:\\P\\b.txt");
    // Not the setup's: ignored.
    SetString(HKEY_LOCAL_MACHINE, FilesKey(), "Note", "C:\\P\\note.txt");
    SetString(HKEY_LOCAL_MACHINE, FilesKey(), "File12x", "C:\\P\\odd.txt");
    HKEY k;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, FilesKey().c_str(), 0, KEY_SET_VALUE, &k));
    DWORD number = 7;
    RegSetValueExA(k, "File0003", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    RegCloseKey(k);

    TextList files;
    ASSERT_TRUE(ReadInstalledFileList(kMaker, kProduct, files));
    EXPECT_EQ("C:\\P\\a.txt|C:\\P\\b.txt|C:\\P\\c.txt|C:\\P\\z.txt|", Joined(files));
}

TEST_F(RegistryList, MissingOrEmptyListIsRefused)
{
    TextList files;
    EXPECT_FALSE(ReadInstalledFileList(kMaker, kProduct, files));
    SetString(HKEY_LOCAL_MACHINE, FilesKey(), "Other", "x");
    EXPECT_FALSE(ReadInstalledFileList(kMaker, kProduct, files));
    EXPECT_FALSE(ReadInstalledFileList(kMaker, "", files));
    EXPECT_FALSE(ReadInstalledFileList(kMaker, "Corvane\\..", files));
    EXPECT_FALSE(ReadInstalledFileList("", kProduct, files));
}

// A product folder with a sub-folder, a user's file, a folder of another
// product beside it, and the sibling product's folder.
class FileRemoval : public ::testing::Test {
protected:
    void SetUp() override
    {
        product = tree.Path() + "Corvane\\Product\\";
        archivist = tree.Path() + "Archivist\\";
        installed = {tree.Write("Corvane\\Product\\Program.exe"), tree.Write("Corvane\\Product\\Help.hlp"),
                     tree.Write("Corvane\\Product\\Data\\Deep\\fonts.dat"), tree.Write("Archivist\\sample.gfa")};
        for (const std::string& f : installed)
            files.Add(f.c_str());
        options.ArchivistFolder = archivist.c_str();
        options.OwnProgram = nullptr;
        options.ProtectedFolders = &protectedFolders;
        options.InUse = nullptr;
        options.InUseContext = nullptr;
        options.Journal = &journal;
    }

    // The removal and its commit, as the uninstaller runs them: false when
    // it was cancelled (nothing is committed then).
    bool Remove(const TextList& list, RemovalReport& result)
    {
        if (!RemoveListedFiles(list, options, result))
            return false;
        JournalCommit(journal);
        return true;
    }

    TempTree tree;
    std::string product, archivist;
    std::vector<std::string> installed;
    TextList files, protectedFolders;
    RunJournal journal;
    RemovalOptions options;
    RemovalReport report;
};

TEST_F(FileRemoval, RemovesListedFilesAndEmptiedFoldersOnly)
{
    std::string userFile = tree.Write("Corvane\\Product\\MyGlyphs.gfg");
    std::string otherProduct = tree.Write("Corvane\\Other\\keep.txt");
    std::string siblingOwn = tree.Write("Archivist\\mine.txt");
    SetFileAttributesA(installed[1].c_str(), FILE_ATTRIBUTE_READONLY);
    files.Add((product + "NeverInstalled.txt").c_str()); // already gone: fine

    Remove(files, report);

    for (size_t i = 0; i < 3; ++i)
        EXPECT_FALSE(Exists(installed[i])) << installed[i];
    EXPECT_FALSE(Exists(product + "Data")) << "emptied folders go";
    EXPECT_TRUE(Exists(userFile));
    EXPECT_TRUE(Exists(otherProduct));
    EXPECT_TRUE(Exists(installed[3])) << "the sibling product's files stay";
    EXPECT_TRUE(Exists(siblingOwn));
    EXPECT_EQ(4, report.RemovedFiles);
    EXPECT_EQ(0u, report.LeftFiles.Count());
    EXPECT_EQ(installed[3] + "|", Joined(report.SiblingFiles));
}

TEST_F(FileRemoval, EmptiedFoldersGoUpToProtectedFolder)
{
    protectedFolders.Add((tree.Path() + "Corvane").c_str());
    Remove(files, report);
    EXPECT_FALSE(Exists(product));
    EXPECT_TRUE(Exists(tree.Path() + "Corvane")) << "protected even when empty";
}

TEST_F(FileRemoval, ListedFolderIsRemovedOnlyWhenEmpty)
{
    std::string emptyListed = product + "Cache\\";
    std::string fullListed = product + "Styles";
    MakeFolders(emptyListed);
    tree.Write("Corvane\\Product\\Styles\\user.sty");
    files.Add(emptyListed.c_str());
    files.Add(fullListed.c_str());
    Remove(files, report);
    EXPECT_FALSE(Exists(emptyListed));
    EXPECT_TRUE(Exists(fullListed + "\\user.sty"));
    EXPECT_EQ(0u, report.LeftFiles.Count());
}

TEST_F(FileRemoval, UnusablePathsAndOwnProgramAreNotTouched)
{
    std::string own = tree.Write("Corvane\\Product\\UnInstall.exe");
    options.OwnProgram = own.c_str();
    std::string dotted = product + "..\\Other\\keep.txt";
    tree.Write("Corvane\\Other\\keep.txt");
    TextList odd;
    odd.Add(own.c_str());
    odd.Add(dotted.c_str());
    odd.Add("relative.txt");
    Remove(odd, report);
    EXPECT_TRUE(Exists(own));
    EXPECT_TRUE(Exists(tree.Path() + "Corvane\\Other\\keep.txt"));
    EXPECT_EQ(dotted + "|relative.txt|", Joined(report.LeftFiles));
}

// A file held open without delete sharing cannot be deleted; the handler
// decides, once per attempt.
struct HeldFile {
    HANDLE handle;
    int asked;
    int answer;      // what the handler says while the file is held
    bool releaseOnAsk;
};

int AnswerForHeldFile(const char*, void* context)
{
    HeldFile* held = static_cast<HeldFile*>(context);
    ++held->asked;
    if (held->releaseOnAsk && held->handle != INVALID_HANDLE_VALUE) {
        CloseHandle(held->handle);
        held->handle = INVALID_HANDLE_VALUE;
    }
    return held->answer;
}

TEST_F(FileRemoval, FileInUseIsRetriedOrLeftAsTheUserSays)
{
    struct Case {
        int answer;
        bool releaseOnAsk;
        bool readOnly;
        bool left;
    } cases[] = {
        {IDRETRY, true, false, false},
        {IDIGNORE, false, false, true},
        {IDIGNORE, false, true, true},
    };
    for (const Case& c : cases) {
        std::string path = tree.Write("Corvane\\Product\\busy.dll");
        if (c.readOnly)
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
        HeldFile held = {CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
                         0, c.answer, c.releaseOnAsk};
        ASSERT_NE(INVALID_HANDLE_VALUE, held.handle);
        options.InUse = AnswerForHeldFile;
        options.InUseContext = &held;
        TextList one;
        one.Add(path.c_str());
        RemovalReport result;
        Remove(one, result);
        EXPECT_EQ(1, held.asked);
        EXPECT_EQ(c.left, Exists(path));
        EXPECT_EQ(c.left ? 1u : 0u, result.LeftFiles.Count());
        if (c.left && c.readOnly) {
            EXPECT_TRUE(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_READONLY) << "a file left keeps its state";
        }
        if (held.handle != INVALID_HANDLE_VALUE)
            CloseHandle(held.handle);
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
    }
}

// Cancel at a file in use stops the removal; rolled back, every file that
// was already taken away is back as it was, read-only ones too.
TEST_F(FileRemoval, CancelAtAFileInUseGivesEverythingBack)
{
    SetFileAttributesA(installed[0].c_str(), FILE_ATTRIBUTE_READONLY);
    std::string busy = tree.Write("Corvane\\Product\\Data\\busy.dll");
    files.Add(busy.c_str());
    files.Add((product + "Later.txt").c_str());
    HeldFile held = {CreateFileA(busy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr), 0,
                     IDCANCEL, false};
    ASSERT_NE(INVALID_HANDLE_VALUE, held.handle);
    options.InUse = AnswerForHeldFile;
    options.InUseContext = &held;
    EXPECT_FALSE(Remove(files, report));
    EXPECT_EQ(0, JournalRollBack(journal, false));
    CloseHandle(held.handle);
    for (const std::string& f : installed)
        EXPECT_EQ("data", ReadText(f)) << f;
    EXPECT_TRUE(GetFileAttributesA(installed[0].c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(1, held.asked);
    EXPECT_EQ(0, CountFilesNamed(tree.Path(), "~RB")) << "nothing moved aside is left";
    SetFileAttributesA(installed[0].c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(UninstallFolders, VolumeRootsAndStandardFoldersAreNeverRemoved)
{
    TextList standard;
    CollectProtectedFolders(standard, "C:\\Docs\\Corvane Archivist\\");
    char windows[MAX_PATH], temp[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    GetTempPathA(sizeof temp, temp);
    EXPECT_TRUE(IsProtectedFolder(windows, standard));
    EXPECT_TRUE(IsProtectedFolder(temp, standard));
    EXPECT_TRUE(IsProtectedFolder("C:\\", standard));
    EXPECT_TRUE(IsProtectedFolder("c:", standard));
    EXPECT_TRUE(IsProtectedFolder("\\\\server\\share", standard));
    char programFiles[MAX_PATH];
    DWORD size = sizeof programFiles;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                     RRF_RT_REG_SZ, nullptr, programFiles, &size) == ERROR_SUCCESS) {
        EXPECT_TRUE(IsProtectedFolder(programFiles, standard)) << programFiles;
    }
    EXPECT_FALSE(IsProtectedFolder("C:\\Program Files\\Corvane", standard));
    EXPECT_TRUE(IsProtectedFolder("C:\\Docs\\Corvane Archivist", standard));

    // An empty folder directly below the temporary folder goes; the
    // temporary folder itself stays.
    TempTree tree;
    MakeFolders(tree.Path() + "a\\b\\");
    EXPECT_EQ(3, RemoveEmptyFolders((tree.Path() + "a\\b\\").c_str(), standard));
    EXPECT_TRUE(Exists(temp));
}

class ProductRegistration : public ::testing::Test {
protected:
    void TearDown() override
    {
        DeleteTree(HKEY_LOCAL_MACHINE, kProductKey);
        DeleteTree(HKEY_LOCAL_MACHINE, kUninstallKey);
        DeleteTree(HKEY_LOCAL_MACHINE, kAppPathKey);
        DeleteTree(HKEY_LOCAL_MACHINE, kOtherProductKey);
    }
    void Register(const std::string& folder)
    {
        SetString(HKEY_LOCAL_MACHINE, kProductKey, "InstallDir", folder);
        SetString(HKEY_LOCAL_MACHINE, std::string(kProductKey) + "\\Files", "File0000", folder + "RemovalTest.exe");
        SetString(HKEY_LOCAL_MACHINE, kAppPathKey, "", folder + "RemovalTest.exe");
        SetString(HKEY_LOCAL_MACHINE, kAppPathKey, "Path", folder.substr(0, folder.size() - 1));
        SetString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName", "RemovalTest");
        SetString(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString", "\"" + folder + "UnInstall.exe\"");
        SetString(HKEY_LOCAL_MACHINE, kOtherProductKey, "InstallDir", "C:\\Other\\");
    }
    static constexpr const char* kOtherProductKey = "SOFTWARE\\Corvane\\Corvane OtherTest";
    RunJournal journal;
};

TEST_F(ProductRegistration, RemovesOwnEntriesAndLeavesTheMakersOthers)
{
    struct Case {
        const char* registeredDir;
        const char* uninstallDir;
        bool appPathGoes;
    } cases[] = {
        {"C:\\Tools\\Removal\\", "C:\\Tools\\Removal\\", true},
        {"C:\\Tools\\Removal\\", "c:\\tools\\removal", true},
        // The application path entry of another installation stays.
        {"D:\\Elsewhere\\", "C:\\Tools\\Removal\\", false},
    };
    for (const Case& c : cases) {
        Register(c.registeredDir);
        RemoveProductRegistration(journal, kMaker, kProduct, "RemovalTest.exe", c.uninstallDir);
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kProductKey));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
        EXPECT_EQ(!c.appPathGoes, KeyExists(HKEY_LOCAL_MACHINE, kAppPathKey)) << c.registeredDir;
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Corvane"));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kOtherProductKey));
        TearDown();
    }
}

TEST_F(ProductRegistration, ShortFormOfTheFolderIsTheSameFolder)
{
    TempTree tree;
    std::string folder = tree.Path() + "Long Product Folder\\";
    MakeFolders(folder);
    char shortForm[MAX_PATH];
    ASSERT_GT(GetShortPathNameA(folder.c_str(), shortForm, sizeof shortForm), 0u);
    ASSERT_NE(folder, shortForm);
    Register(shortForm);
    RemoveProductRegistration(journal, kMaker, kProduct, "RemovalTest.exe", folder.c_str());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kAppPathKey)) << shortForm;
}

TEST_F(ProductRegistration, EmptyOrCompoundNameTouchesNothing)
{
    Register("C:\\Tools\\Removal\\");
    RemoveProductRegistration(journal, kMaker, "", "RemovalTest.exe", "C:\\Tools\\Removal\\");
    RemoveProductRegistration(journal, kMaker, "..\\Corvane RemovalTest", "RemovalTest.exe", "C:\\Tools\\Removal\\");
    RemoveProductRegistration(journal, "", kProduct, "RemovalTest.exe", "C:\\Tools\\Removal\\");
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kProductKey));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kOtherProductKey));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kAppPathKey));
}

// The registration's removal is recorded whole: a rollback gives every
// key and value back, the maker's own key too.
TEST_F(ProductRegistration, RolledBackRemovalGivesEveryValueBack)
{
    Register("C:\\Tools\\Removal\\");
    DeleteTree(HKEY_LOCAL_MACHINE, kOtherProductKey);
    std::vector<std::string> keys = {"SOFTWARE\\Corvane", kUninstallKey, kAppPathKey};
    std::string before = RegistryText(keys);
    RemoveProductRegistration(journal, kMaker, kProduct, "RemovalTest.exe", "C:\\Tools\\Removal\\");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kProductKey));
    JournalRollBack(journal, false);
    EXPECT_EQ(before, RegistryText(keys));
}

TEST_F(ProductRegistration, TheMakersKeyGoesWithItsLastProduct)
{
    SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Lone Maker\\Lone Product\\Files", "File0000", "C:\\P\\a.exe");
    SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Lone Maker\\Lone Product", "InstallDir", "C:\\P\\");
    RemoveProductRegistration(journal, "Lone Maker", "Lone Product", "Lone.exe", "C:\\P\\");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Lone Maker"));
}

// A per-user installation's uninstaller acts on no listed path in a folder
// that every user shares (its hive and folders are the end-to-end tests').
TEST(UninstallPaths, PerUserRemovesNothingMachineWide)
{
    char programFiles[MAX_PATH] = "", common[MAX_PATH] = "", windows[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, programFiles);
    SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, common);
    GetWindowsDirectoryA(windows, sizeof windows);
    SetInstallScope(SCOPE_USER);
    for (const char* folder : {programFiles, common, windows})
        EXPECT_FALSE(IsRemovablePath((std::string(folder) + "\\Corvane\\a.exe").c_str())) << folder;
    EXPECT_TRUE(IsRemovablePath("C:\\Users\\Me\\Removal\\a.exe"));
    SetInstallScope(SCOPE_MACHINE);
    EXPECT_TRUE(IsRemovablePath((std::string(programFiles) + "\\Corvane\\a.exe").c_str()));
}

TEST(UninstallSummary, NamesWhatWasLeftAndWhy)
{
    UninstallLanguage = 0x0409;
    RemovalReport clean;
    EXPECT_STREQ("Corvane GlyphForge has been removed from your computer.",
                 ComposeSummary("Corvane GlyphForge", clean, "Corvane Archivist", "C:\\A\\", "").c_str());

    RemovalReport report;
    for (int i = 0; i < 15; ++i)
        report.LeftFiles.Add(("C:\\P\\busy" + std::to_string(i) + ".dll").c_str());
    report.SiblingFiles.Add("C:\\A\\sample.gfa");
    std::string text = ComposeSummary("Corvane GlyphForge", report, "Corvane Archivist", "C:\\A\\", "C:\\P\\").c_str();
    EXPECT_NE(std::string::npos, text.find("C:\\P\\busy0.dll"));
    EXPECT_NE(std::string::npos, text.find("C:\\P\\busy11.dll"));
    EXPECT_EQ(std::string::npos, text.find("C:\\P\\busy12.dll"));
    EXPECT_NE(std::string::npos, text.find("... and 3 more."));
    EXPECT_NE(std::string::npos, text.find("The folder C:\\P\\ was kept"));
    EXPECT_NE(std::string::npos, text.find("Corvane Archivist in C:\\A\\ were left"));
    // A product without a sibling says nothing of one.
    text = ComposeSummary("Halvorsen Ledger", report, "", "C:\\A\\", "").c_str();
    EXPECT_EQ(std::string::npos, text.find("were left in place")) << text;
}

TEST(UninstallSummary, FieldValuesAreInsertedLiterally)
{
    Text text("{File} and {File}");
    ReplaceField(text, "{File}", "C:\\{File}\\x");
    EXPECT_STREQ("C:\\{File}\\x and C:\\{File}\\x", text.c_str());
}

} // namespace
