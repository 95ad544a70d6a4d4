// Registry entries and uninstaller files written after a successful
// extraction, checked in the real Wine registry and a temporary folder.
#include <gtest/gtest.h>

#include "registration/registration.h"
#include "rollback/rollback.h"
#include "app/app.h"
#include "test_support.h"

namespace {

const char kProductKey[] = "SOFTWARE\\Corvane\\Corvane GlyphForge";
const char kFilesKey[] = "SOFTWARE\\Corvane\\Corvane GlyphForge\\Files";
const char kAppPathKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\GlyphForge.exe";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvane GlyphForge";

void DeleteProductKeys()
{
    for (const char* key : {kProductKey, kAppPathKey, kUninstallKey})
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, key);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Corvane"); // only when nothing else is under it
}

std::string Stored(const char* key, const char* name)
{
    StoredValue v;
    if (!ReadStoredValue(HKEY_LOCAL_MACHINE, key, name, &v))
        return "<missing>";
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), v.type) << key << " " << name;
    // The program passes the length without the NUL; NT-family registries
    // (Wine's too) add the terminator themselves when the byte after the
    // counted text is a NUL, so exactly one NUL may follow the text here.
    if (!v.text.empty() && v.text.back() == '\0')
        v.text.pop_back();
    EXPECT_EQ(std::string::npos, v.text.find('\0')) << key << " " << name;
    return v.text;
}

class Registration : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetInstallerContext();
        DeleteProductKeys();
    }
    void TearDown() override
    {
        DeleteProductKeys();
        ResetInstallerContext();
    }
    void SetFiles(std::initializer_list<const char*> files)
    {
        for (const char* f : files)
            Context.InstalledFiles.Add(f);
    }
};

// The kind of run, from the product key an earlier installation left,
// against this program's version "1.0": versions as numbers part by part,
// none recorded older than any, a key whose folder is gone no installation.
TEST_F(Registration, EarlierInstallationDecidesTheKindOfRun)
{
    TempFolder folder;
    const struct {
        const char* version; // nullptr: none recorded
        bool folderThere;
        RunKind kind;
    } cases[] = {{"1.0", true, RUN_REINSTALL},  {"1", true, RUN_REINSTALL},      {"0.10", true, RUN_UPGRADE},
                 {"0.9.9.9", true, RUN_UPGRADE}, {nullptr, true, RUN_UPGRADE},    {"1.0.1", true, RUN_DOWNGRADE},
                 {"10.0", true, RUN_DOWNGRADE},  {"1.0", false, RUN_FIRST_INSTALL}};
    for (const auto& c : cases) {
        DeleteProductKeys();
        ResetInstallerContext();
        StoreText(HKEY_LOCAL_MACHINE, kProductKey, "InstallDir",
                  c.folderThere ? folder.Path() : folder.Path() + "gone\\");
        if (c.version)
            StoreText(HKEY_LOCAL_MACHINE, kProductKey, "Version", c.version);
        FindEarlierInstallation();
        EXPECT_EQ(c.kind, ClassifyRun()) << (c.version ? c.version : "no version") << (c.folderThere ? "" : ", gone");
    }
}

// Every value of a first installation, for folders that the rules treat
// differently: a drive root keeps its backslash in "Path", a blank needs
// the uninstaller's path quoted, braces in a folder are not macros.
TEST_F(Registration, RegisterProductWritesEveryEntryWithExactData)
{
    const struct {
        const char* target;
        const char* path;
    } cases[] = {
        {"C:\\Tools\\App\\", "C:\\Tools\\App"},
        {"C:\\", "C:\\"},
        {"C:\\Program Files\\Corvane\\GlyphForge\\", "C:\\Program Files\\Corvane\\GlyphForge"},
        {"C:\\{AppName}\\", "C:\\{AppName}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        DeleteProductKeys();
        Context.InstalledFiles.Clear();
        Context.TargetDir = c.target;
        SetFiles({"C:\\a.exe", "C:\\b.hlp", "C:\\c.dll", "L1.lnk", "L2.lnk", "L3.lnk"});
        RegisterProduct();

        std::string t = c.target;
        EXPECT_EQ(t, Stored(kProductKey, "InstallDir"));
        EXPECT_EQ(t + "GlyphForge.exe", Stored(kAppPathKey, ""));
        EXPECT_EQ(c.path, Stored(kAppPathKey, "Path"));
        EXPECT_EQ("GlyphForge", Stored(kUninstallKey, "DisplayName"));
        std::string command = "\"" + t + "UnInstall.exe\" \"Corvane GlyphForge\" \"GlyphForge.exe\"";
        EXPECT_EQ(command, Stored(kUninstallKey, "UninstallString"));
        // What Programs and Features and deployment tools read.
        EXPECT_EQ(t + "GlyphForge.exe", Stored(kUninstallKey, "DisplayIcon"));
        EXPECT_EQ("1.0", Stored(kUninstallKey, "DisplayVersion"));
        EXPECT_EQ("Corvane Software", Stored(kUninstallKey, "Publisher"));
        EXPECT_EQ("http://www.corvane.com/", Stored(kUninstallKey, "URLInfoAbout"));
        EXPECT_EQ(c.path, Stored(kUninstallKey, "InstallLocation"));
        EXPECT_EQ(command + " /S", Stored(kUninstallKey, "QuietUninstallString"));
        EXPECT_EQ(command, Stored(kUninstallKey, "ModifyPath"));
        StoredValue noRepair;
        ASSERT_TRUE(ReadStoredValue(HKEY_LOCAL_MACHINE, kUninstallKey, "NoRepair", &noRepair));
        EXPECT_EQ(static_cast<DWORD>(REG_DWORD), noRepair.type);
        EXPECT_EQ(4u, noRepair.size);
        const char* names[] = {"File0000", "File0001", "File0002", "File0003", "File0004", "File0005"};
        for (size_t i = 0; i < 6; ++i)
            EXPECT_EQ(Context.InstalledFiles.At(i), Stored(kFilesKey, names[i]));
        EXPECT_EQ("<missing>", Stored(kFilesKey, "File0006"));
    }
}

// A repair writes no list at all; any other run replaces the list whole:
// a longer list of an earlier installation keeps none of its higher
// numbers, which would name files that are not this installation's.
TEST_F(Registration, ExistingListIsReplacedWholeAndRepairLeavesIt)
{
    for (const char* name : {"File0000", "File0001", "File0002", "File0003"})
        StoreText(HKEY_LOCAL_MACHINE, kFilesKey, name, "old");
    StoreText(HKEY_LOCAL_MACHINE, kProductKey, "InstallDir", "D:\\Old\\");

    const struct {
        int repair;
        const char* expected[4];
    } cases[] = {
        {1, {"old", "old", "old", "old"}},
        {0, {"C:\\new1", "C:\\new2", "<missing>", "<missing>"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.repair);
        Context.RepairMode = c.repair;
        Context.TargetDir = "C:\\Tools\\App\\";
        Context.InstalledFiles.Clear();
        SetFiles({"C:\\new1", "C:\\new2"});
        RegisterProduct();
        const char* names[] = {"File0000", "File0001", "File0002", "File0003"};
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(c.expected[i], Stored(kFilesKey, names[i]));
        EXPECT_EQ("C:\\Tools\\App\\", Stored(kProductKey, "InstallDir"));
        EXPECT_EQ("C:\\Tools\\App\\GlyphForge.exe", Stored(kAppPathKey, ""));
        EXPECT_EQ("GlyphForge", Stored(kUninstallKey, "DisplayName"));
    }
}

// Four digits at least; the 10001st file is File10000, not a cut name.
TEST_F(Registration, FileCounterGrowsPastFourDigits)
{
    Context.TargetDir = "C:\\Tools\\App\\";
    for (int i = 0; i <= 10000; ++i)
        Context.InstalledFiles.Add(i == 9999 ? "nine" : i == 10000 ? "ten" : "x");
    RegisterProduct();
    EXPECT_EQ("nine", Stored(kFilesKey, "File9999"));
    EXPECT_EQ("ten", Stored(kFilesKey, "File10000"));
    EXPECT_EQ("<missing>", Stored(kFilesKey, "File10001"));
}

std::string ExpectedUninstallerBytes()
{
    std::string bytes;
    for (int i = 0; i < 5000; ++i)
        bytes += static_cast<char>((i * 131 + 7) & 0xFF);
    return bytes;
}

// The settings file is written only beside a program that could be
// unpacked; no "UNINSTALL" resource writes neither file. The repair
// program it names is a copy of the running setup kept where only
// administrators can change it.
TEST_F(Registration, WriteUninstallerWritesProgramThenSettingsInOrder)
{
    HMODULE damaged = LoadLibraryExA((ProgramFolder() + "registration_test_resources.dll").c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(damaged != nullptr);
    const struct {
        const char* what;
        HINSTANCE module;
        bool written;
    } cases[] = {
        {"stand-in uninstaller", nullptr, true},
        {"no UNINSTALL resource", GetModuleHandleA("kernel32.dll"), false},
        {"damaged container", damaged, false},
    };
    char kept[MAX_PATH];
    ASSERT_TRUE(GetProductAdminFolder("Corvane", "Corvane GlyphForge", kept, sizeof kept));
    std::string copy = std::string(kept) + "\\setup.exe";
    SessionJournal.MakerName = "Corvane";
    SessionJournal.ProductName = "Corvane GlyphForge";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        Context.TargetDir = folder.Path().c_str();
        Context.ArchivistDir = "D:\\Docs\\Corvane Archivist\\";
        Context.InstanceHandle = c.module;
        CopyBounded(Context.ModulePath, sizeof Context.ModulePath, "C:\\Setup Files\\setup.exe");
        WriteUninstaller();

        std::string program, settings;
        EXPECT_EQ(c.written, ReadWholeFile(folder.Path() + "UnInstall.exe", &program));
        EXPECT_EQ(c.written, ReadWholeFile(folder.Path() + "UnInstall.ini", &settings));
        if (c.written) {
            EXPECT_EQ(ExpectedUninstallerBytes(), program);
            // In UTF-16 with its mark, for the wide profile functions.
            EXPECT_EQ("\xFF\xFE", settings.substr(0, 2));
            EXPECT_EQ("[uninstall]\r\nargs=\"Corvane GlyphForge\" \"GlyphForge.exe\"\r\n"
                      "repair=" + copy + "\r\narchivist=D:\\Docs\\Corvane Archivist\\\r\n"
                      "maker=Corvane\r\nsibling=Corvane Archivist\r\nversion=1.0\r\nlanguage=en\r\n",
                      testfiles::ReadText(folder.Path() + "UnInstall.ini"));
            std::string self;
            ReadWholeFile(ProgramFolder() + "registration_tests.exe", &self);
            std::string cached;
            EXPECT_TRUE(ReadWholeFile(copy, &cached));
            EXPECT_TRUE(cached == self) << "the copy is the running program";
            JournalCommit(SessionJournal);
        }
    }
    Context.InstanceHandle = nullptr;
    FreeLibrary(damaged);
    DeleteFileA(copy.c_str());
    RemoveEmptyProductAdminFolder("Corvane", "Corvane GlyphForge");
}

} // namespace
