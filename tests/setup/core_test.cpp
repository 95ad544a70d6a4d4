// Setup core under Wine: language choice, repair switch, bounded text and
// the template macros against the real string table and registry.
#include <gtest/gtest.h>

#include <shlobj.h>
#include <string.h>
#include <string>

#include "setup/languages.h"
#include "setup/setup.h"
#include "app/app.h"
#include "tests/setup/temp_folder.h"

namespace {

std::string Expand(const char* text)
{
    Text t(text);
    ExpandMacros(t);
    return t.c_str();
}

class CoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetInstallerContext();
        Context.InstanceHandle = GetModuleHandleA(nullptr);
    }
    void TearDown() override { ResetInstallerContext(); }
};

TEST_F(CoreTest, TheLanguageSpokenIsOneTheProgramCarriesAndItsTextsAreThatLanguages)
{
    // This program's own list, as its resources are written.
    LanguageList own;
    ReadCarriedLanguages(GetModuleHandleA(nullptr), &own);
    ASSERT_EQ(3, own.Count);
    EXPECT_STREQ("fr", own.Items[1].Code);
    EXPECT_STREQ("Fran\xC3\xA7" "ais", own.Items[1].Name);
    // The user's display language itself, else its primary language's
    // (Belgian French, Belgian Dutch), else English.
    struct {
        LANGID user, spoken;
    } users[] = {{0x040C, 0x040C}, {0x080C, 0x040C}, {0x0C0C, 0x040C}, {0x0813, 0x0413},
                 {0x0407, 0x0409}, {0x0809, 0x0409}, {0x0000, 0x0409}};
    for (auto& u : users)
        EXPECT_EQ(u.spoken, ChooseLanguage(own, u.user)) << std::hex << u.user;

    // A maker's list: two Portuguese and no English; a line that is not a
    // language is passed over.
    const char text[] = "\xEF\xBB\xBFpt-PT 0x0816 Portugu\xC3\xAAs\r\npt-BR 0x0416 Portugu\xC3\xAAs (Brasil)\n"
                        "; comment 0x0407 x\nxx 0x10000 Bad\nde 0x0407\nde 0x0407 Deutsch\n";
    LanguageList maker;
    ParseLanguageList(text, sizeof text - 1, &maker);
    ASSERT_EQ(3, maker.Count);
    EXPECT_STREQ("Portugu\xC3\xAAs (Brasil)", maker.Items[1].Name);
    EXPECT_EQ(0x0816, ChooseLanguage(maker, 0x0816));
    EXPECT_EQ(0x0416, ChooseLanguage(maker, 0x0416));
    EXPECT_EQ(0x0816, ChooseLanguage(maker, 0x0409));  // no English: the first carried
    EXPECT_FALSE(IsCarriedLanguage(maker, 0x0409));

    // /LANG= and UnInstall.ini: a code (any case, '_' for '-'), a code whose
    // region is not carried, a language alone, or an identifier carried.
    struct {
        const LanguageList* list;
        const char* name;
        LANGID id;
    } names[] = {
        {&own, "fr", 0x040C},     {&own, "FR-be", 0x040C},   {&own, "nl_NL", 0x0413}, {&own, "1036", 0x040C},
        {&own, "0x0813", 0},      {&own, "de", 0},           {&own, "1031", 0},       {&own, "french", 0},
        {&own, "", 0},            {&own, "f", 0},            {&own, "0x10000", 0},    {&maker, "PT_br", 0x0416},
        {&maker, "pt", 0x0416},   {&maker, "pt-AO", 0x0416}, {&maker, "p", 0},        {&maker, "de-AT", 0x0407},
    };
    for (auto& n : names)
        EXPECT_EQ(n.id, LanguageFromName(*n.list, n.name)) << n.name;

    // The texts: the language's own, English for one it lacks (the
    // product's names), and its own dialog templates under the same IDs.
    Context.LanguageCode = 0x0413;
    EXPECT_EQ(0u, std::string(LoadStringAsText(IDS_CANCEL_QUESTION).c_str()).find("Wilt u de installatie"));
    EXPECT_STREQ("GlyphForge", LoadStringAsText(IDS_APP_NAME).c_str());
    HMODULE module = GetModuleHandleA(nullptr);
    EXPECT_NE(DialogTemplateInLanguage(module, 108, 0x0409), DialogTemplateInLanguage(module, 108, 0x0413));
    EXPECT_EQ(DialogTemplateInLanguage(module, 108, 0x0409), DialogTemplateInLanguage(module, 108, 0x0407));
    EXPECT_EQ(nullptr, DialogTemplateInLanguage(module, 199, 0x0413));
}

TEST_F(CoreTest, RepairSwitchSkipsOneCharacterAndKeepsTheRest)
{
    struct {
        const char* arguments;
        const char* repairDir;
    } cases[] = {
        {"/r C:\\Apps\\Tool", "C:\\Apps\\Tool"},
        {"/r:C:\\Apps\\Tool\\", "C:\\Apps\\Tool\\"},
        {"/rC:\\Apps", ":\\Apps"},
        {"/r \"C:\\My Apps\" ", "\"C:\\My Apps\" "},
        {"/r", ""},
        {"/r ", ""},
        {"-x /r D:\\X", "D:\\X"},
        {"/R C:\\Apps", "C:\\Apps"}, // the switches are read in any letter case
    };
    for (auto& c : cases) {
        ResetInstallerContext();
        ParseRepairSwitch(c.arguments);
        EXPECT_STREQ(c.repairDir, Context.RepairDir.c_str()) << c.arguments;
        EXPECT_EQ(0, Context.RepairMode) << c.arguments;
    }
}

TEST_F(CoreTest, RepairModeOnlyWhenTheFolderHoldsTheSettingsFile)
{
    TempFolder folder;
    std::string withFile = folder.Path() + "\\withfile";
    std::string withFolder = folder.Path() + "\\withfolder";
    CreateDirectoryA(withFile.c_str(), nullptr);
    CreateDirectoryA(withFolder.c_str(), nullptr);
    folder.WriteFile("withfile\\Uninstall.ini", "[uninstall]\r\n");
    CreateDirectoryA((withFolder + "\\Uninstall.ini").c_str(), nullptr);

    ParseRepairSwitch(("/r " + withFile).c_str());
    EXPECT_EQ(1, Context.RepairMode);
    ParseRepairSwitch(("/r:" + withFile + "\\").c_str());
    EXPECT_EQ(1, Context.RepairMode);
    ParseRepairSwitch(("/r " + withFolder).c_str());
    EXPECT_EQ(0, Context.RepairMode);
    ParseRepairSwitch(("/r \"" + withFile + "\"").c_str());
    EXPECT_EQ(0, Context.RepairMode);
}

// Every switch in any order and letter case; /D= and /r take the rest of
// the line; anything else is refused with the text that was not understood.
TEST_F(CoreTest, CommandLineSwitches)
{
    struct {
        const char* arguments;
        bool silent, help;
        const char* log;
        const char* folder;
        const char* repair;  // the text handed to the repair switch
        const char* problem; // empty: understood
    } cases[] = {
        {"  /s   /LOG=C:\\x.log ", true, false, "C:\\x.log", "", nullptr, ""},
        {"/log=\"C:\\My Logs\\a.log\" /?", false, true, "C:\\My Logs\\a.log", "", nullptr, ""},
        {"/S /D=C:\\Program Files\\Corvane Test\\GlyphForge", true, false, "",
         "C:\\Program Files\\Corvane Test\\GlyphForge", nullptr, ""},
        {"/d=c:\\Apps\\..\\Tool\\  ", false, false, "", "c:\\Tool", nullptr, ""},
        {"/S /r C:\\My Apps\\x /S", true, false, "", "", "/r C:\\My Apps\\x /S", ""},
        {"/R:C:\\x", false, false, "", "", "/R:C:\\x", ""},
        {"/S /SILENT", true, false, "", "", nullptr, "/SILENT"},
        {"/S/D=C:\\x", false, false, "", "", nullptr, "/S/D=C:\\x"},
        {"-x /r D:\\X", false, false, "", "", nullptr, "-x"},
        {"/rC:\\Apps", false, false, "", "", nullptr, "/rC:\\Apps"},
        {"/S /D=   ", true, false, "", "", nullptr, "/D="},
        {"/D=Apps\\Tool", false, false, "", "", nullptr, "/D=Apps\\Tool"},
        {"/D=S:Tool", false, false, "", "", nullptr, "/D=S:Tool"},
        {"/D=\"C:\\Apps\"", false, false, "", "", nullptr, "/D=\"C:\\Apps\""},
        {"/LOG=", false, false, "", "", nullptr, "/LOG="},
        {"/LOG=\"C:\\a.log\"x /S", false, false, "", "", nullptr, "/LOG=\"C:\\a.log\"x /S"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        CommandLineSwitches switches;
        EXPECT_EQ(c.problem[0] == '\0', ParseCommandLine(c.arguments, switches));
        EXPECT_EQ(c.silent, switches.Silent);
        EXPECT_EQ(c.help, switches.Help);
        EXPECT_STREQ(c.log, switches.LogPath.c_str());
        EXPECT_STREQ(c.folder, switches.Folder.c_str());
        EXPECT_STREQ(c.repair, switches.Repair);
        EXPECT_STREQ(c.problem, switches.Problem.c_str());
        EXPECT_FALSE(switches.Run);
    }
    // /RUN is no repair switch, and nothing longer is /RUN.
    CommandLineSwitches run, longer;
    EXPECT_TRUE(ParseCommandLine("/run /S /r C:\\x", run));
    EXPECT_TRUE(run.Run && run.Silent);
    EXPECT_FALSE(ParseCommandLine("/RUNS", longer));
    CommandLineSwitches tasks;
    EXPECT_TRUE(ParseCommandLine("/tasks=desktop,path /S", tasks));
    EXPECT_TRUE(tasks.TasksGiven && tasks.Silent);
    EXPECT_STREQ("desktop,path", tasks.Tasks.c_str());
}

// One line per event with its time, appended; a log that cannot be opened
// is none, and nothing fails for it.
TEST_F(CoreTest, RunLogAppendsTimedLines)
{
    TempFolder folder;
    std::string path = folder.WriteFile("setup.log", "an earlier run\r\n");
    EXPECT_FALSE(OpenRunLog(folder.Path().c_str()));
    LogEvent("nowhere");
    ASSERT_TRUE(OpenRunLog(path.c_str()));
    LogEvent("file %s", "C:\\a.txt");
    LogEvent("two\nlines");
    LogExitCode(EXIT_CANCELLED);
    CloseRunLog();
    LogEvent("after the end");
    std::string log = TempFolder::ReadFile(path);
    const char* lines[] = {"file C:\\a.txt", "two lines", "exit code 1602: cancelled, the changes were undone"};
    size_t at = strlen("an earlier run\r\n");
    for (const char* line : lines) {
        // "YYYY-MM-DD hh:mm:ss.mmm  text\r\n"
        ASSERT_GT(log.size(), at + 25) << log;
        EXPECT_EQ("-:.", log.substr(at + 4, 1) + log[at + 13] + log[at + 19]);
        EXPECT_EQ(std::string(line) + "\r\n", log.substr(at + 25, strlen(line) + 2));
        at += 25 + strlen(line) + 2;
    }
    EXPECT_EQ(at, log.size()) << log;
}

TEST_F(CoreTest, SkipProgramNameHandlesQuotes)
{
    EXPECT_STREQ("/r x", SkipProgramName("\"C:\\Program Files\\setup.exe\" /r x"));
    EXPECT_STREQ("/r x", SkipProgramName("setup.exe   /r x"));
    EXPECT_STREQ("", SkipProgramName("setup.exe"));
}

TEST_F(CoreTest, BoundedCopyCutsAtTheLimit)
{
    char buffer[8];
    EXPECT_TRUE(CopyBounded(buffer, sizeof buffer, "1234567"));
    EXPECT_STREQ("1234567", buffer);
    EXPECT_FALSE(CopyBounded(buffer, sizeof buffer, "123456789"));
    EXPECT_STREQ("1234567", buffer);
    CopyBounded(buffer, sizeof buffer, "abc");
    EXPECT_FALSE(AppendBounded(buffer, sizeof buffer, "defgh"));
    EXPECT_STREQ("abcdefg", buffer);
    EXPECT_FALSE(AppendBounded(buffer, sizeof buffer, "x"));
    EXPECT_STREQ("abcdefg", buffer);
    // The system's printf: cut, terminated and measured as written, at
    // the limit and past it.
    EXPECT_EQ(7, FormatText(buffer, sizeof buffer, "%s-%04lu", "ab", 7ul));
    EXPECT_STREQ("ab-0007", buffer);
    EXPECT_EQ(7, FormatText(buffer, sizeof buffer, "%08lX%I64u", 0xABCDul, 12345678901ull));
    EXPECT_STREQ("0000ABC", buffer);
}

TEST_F(CoreTest, TextListKeepsOrderAcrossGrowth)
{
    TextList list;
    for (int i = 0; i < 25; ++i)
        ASSERT_TRUE(list.Add(std::to_string(i).c_str()));
    ASSERT_EQ(25u, list.Count());
    for (int i = 0; i < 25; ++i)
        EXPECT_STREQ(std::to_string(i).c_str(), list.At(i));
    list.Clear();
    EXPECT_EQ(0u, list.Count());
}

TEST_F(CoreTest, MacrosFromTheStringTableAndContext)
{
    EXPECT_EQ("GlyphForge Installation - Standard Edition", Expand("{AppName} Installation - {Edition}"));
    EXPECT_EQ("Corvane GlyphForge", Expand("{ProductName}"));
    EXPECT_EQ("GlyphForge.exe|GlyphForge.hlp|Corvane", Expand("{ExeName}|{HelpName}|{AppCorvane}"));
    Context.LanguageCode = 0x040C;
    EXPECT_EQ("GlyphForge Installation - \xC3\x89" "dition Standard", Expand("{AppName} Installation - {Edition}"));
    Context.LanguageCode = kEnglish;

    Context.TargetDir = "d:\\Apps\\";
    EXPECT_EQ("D:", Expand("{TargetDrive}"));
    EXPECT_EQ(Expand("{TargetDir}"), Expand("{PF}"));
    EXPECT_EQ("d:\\Apps\\", Expand("{PF}"));

    Context.CopyFile = "a.txt";
    Context.CopyDir = "C:\\X";
    EXPECT_EQ("a.txt in C:\\X", Expand("{CopyFile} in {CopyDir}"));
}

TEST_F(CoreTest, MacroSyntaxEdgeCases)
{
    struct {
        const char* input;
        const char* output;
    } cases[] = {
        {"{Unknown}", "##UNKNOWN MACRO##"},
        {"{targetdir}", "##UNKNOWN MACRO##"},
        {"{}", "##UNKNOWN MACRO##"},
        {"a}b", "a}b"},
        {"{{AppName}", "##UNKNOWN MACRO##"},
        {"x{AppName", "xGlyphForge"},
        {"x{Unclosed", "x##UNKNOWN MACRO##"},
        {"{", "##UNKNOWN MACRO##"},
        {"", ""},
        {"no macro", "no macro"},
    };
    for (auto& c : cases)
        EXPECT_EQ(c.output, Expand(c.input)) << c.input;
}

TEST_F(CoreTest, ValuesAreNotExpandedAgain)
{
    Context.TargetDir = "C:\\{AppName}\\";
    EXPECT_EQ("C:\\{AppName}\\", Expand("{TargetDir}"));
}

TEST_F(CoreTest, OverLongTextsAreCutAt255Characters)
{
    std::string longText(300, 'a');
    EXPECT_EQ(std::string(255, 'a'), Expand(longText.c_str()));

    Context.TargetDir = std::string(300, 'b').c_str();
    EXPECT_EQ(std::string(255, 'b'), Expand("{TargetDir}"));
    EXPECT_EQ("x" + std::string(254, 'b'), Expand("x{TargetDir}"));
    std::string twice = Expand("{TargetDir}{TargetDir}{AppName}");
    EXPECT_EQ(255u, twice.size());
}

TEST_F(CoreTest, SizeFormatUsesTheHundredsDigit)
{
    struct {
        int32_t kilobytes;
        const char* text;
    } cases[] = {{1023, "0,0 Mb"}, {1536, "1,5 Mb"}, {2047, "1,0 Mb"}, {1100, "1,1 Mb"},
                 {10240, "10,2 Mb"}, {-1, "0,0 Mb"}, {0, "0,0 Mb"}};
    char buffer[32];
    for (auto& c : cases) {
        FormatKilobytesMb(buffer, sizeof buffer, c.kilobytes);
        EXPECT_STREQ(c.text, buffer) << c.kilobytes;
    }
    FormatBytesMb(buffer, sizeof buffer, 1572864);
    EXPECT_STREQ("1,5 Mb", buffer);
    FormatBytesMb(buffer, sizeof buffer, 0);
    EXPECT_STREQ("0,0 Mb", buffer);
}

TEST_F(CoreTest, RequiredSpaceComesFromString5000)
{
    char expected[32];
    FormatBytesMb(expected, sizeof expected, static_cast<int32_t>(LoadStringNumber(IDS_REQUIRED_SPACE)));
    EXPECT_EQ(expected, Expand("{EspaceRequis}"));
    EXPECT_GT(LoadStringNumber(IDS_REQUIRED_SPACE), 0);
}

TEST_F(CoreTest, DecimalParsing)
{
    struct {
        const char* text;
        long value;
    } cases[] = {{"1572864", 1572864}, {"  -12x", -12}, {"+7", 7}, {"abc", 0}, {"", 0}, {"99999999999", 0x7FFFFFFF}};
    for (auto& c : cases)
        EXPECT_EQ(c.value, ParseDecimal(c.text)) << c.text;
}

TEST_F(CoreTest, VolumeRootOfDrivesAndShares)
{
    struct {
        const char* path;
        const char* root;
    } cases[] = {
        {"\\\\srv\\share\\dir\\file", "\\\\srv\\share\\"},
        {"\\\\srv\\share", "\\\\srv\\share"},
        {"\\\\srv", "\\\\srv"},
        {"C:\\a\\b", "C:\\"},
        {"C:", "C:"},
    };
    for (auto& c : cases) {
        char buffer[260];
        CopyBounded(buffer, sizeof buffer, c.path);
        CutToVolumeRoot(buffer);
        EXPECT_STREQ(c.root, buffer) << c.path;
    }
}

TEST_F(CoreTest, FreeSpaceSaturatesInsteadOfWrapping)
{
    EXPECT_EQ(1, SaturatedKilobytes(1024));
    EXPECT_EQ(0x7FFFFFFF, SaturatedKilobytes(2ull << 40));
    EXPECT_EQ(0x7FFFFFFF, SaturatedKilobytes(~0ull));
    EXPECT_GE(GetFreeKilobytes("C:\\windows\\system32"), 0);
    EXPECT_EQ(-1, GetFreeKilobytes("Q:\\no\\such\\drive"));
}

TEST_F(CoreTest, ArchivistFolderFromRegistryOrDocuments)
{
    const char* key = "SOFTWARE\\Corvane\\folders";
    RegDeleteKeyA(HKEY_CURRENT_USER, key);

    char documents[MAX_PATH] = "";
    ASSERT_EQ(S_OK, SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, 0, documents));
    std::string expected = documents;
    if (expected.back() != '\\')
        expected += '\\';
    expected += "Corvane Archivist\\";
    EXPECT_EQ(expected, GetArchivistDir().c_str());

    HKEY k;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr));
    RegSetValueExA(k, "ArchivistLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>("E:\\Lib"), 7);
    RegCloseKey(k);
    EXPECT_STREQ("E:\\Lib\\", GetArchivistDir().c_str());
    EXPECT_EQ("E:\\Lib\\", Expand("{AL}"));
    RegDeleteKeyA(HKEY_CURRENT_USER, key);
}

TEST_F(CoreTest, RegistryStringIsTerminatedAndBounded)
{
    const char* key = "SOFTWARE\\Corvane\\test";
    HKEY k;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr));
    // Stored without its terminator, and a value longer than the buffer.
    RegSetValueExA(k, "short", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3);
    std::string big(400, 'z');
    RegSetValueExA(k, "long", 0, REG_SZ, reinterpret_cast<const BYTE*>(big.c_str()), 401);
    RegCloseKey(k);

    char buffer[260];
    memset(buffer, 'X', sizeof buffer);
    EXPECT_TRUE(ReadRegistryString(HKEY_CURRENT_USER, key, "short", buffer));
    EXPECT_STREQ("abc", buffer);
    EXPECT_FALSE(ReadRegistryString(HKEY_CURRENT_USER, key, "long", buffer));
    EXPECT_FALSE(ReadRegistryString(HKEY_CURRENT_USER, key, "missing", buffer));
    EXPECT_STREQ("dflt", ReadMakerSetting("test", "missing", "dflt").c_str());
    EXPECT_STREQ("", ReadMakerSetting("test", "missing", nullptr).c_str());
    EXPECT_STREQ("abc", ReadMakerSetting("test", "short", "dflt").c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, key);
}

TEST_F(CoreTest, ProgramFilesMacrosReadTheRegistry)
{
    char expected[260];
    ASSERT_TRUE(ReadRegistryString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                                   "ProgramFilesDir", expected));
    EXPECT_EQ(expected, Expand("{ProgramFilesDir}"));
    EXPECT_EQ(std::string(expected) + "\\Corvane\\GlyphForge\\",
              Expand(LoadStringAsText(IDS_DEFAULT_FOLDER).c_str()));
}

// Versions compare part by part as numbers: what decides between an
// upgrade, a reinstall and a downgrade.
TEST_F(CoreTest, VersionsCompareAsNumbersPartByPart)
{
    const struct {
        const char *a, *b;
        int order;
    } cases[] = {{"3.10", "3.9", 1},    {"3.9", "3.10", -1},        {"1.0", "1", 0},     {"1", "1.0.0.0", 0},
                 {"1.2.3.4", "1.2.3.5", -1}, {"1.2.3.10", "1.2.3.9", 1}, {"01.002", "1.2", 0}, {"2.0", "10.0", -1},
                 {"1.0.1", "1.0", 1},   {"", "0", 0},               {"1.x", "1.0", 0}};
    for (const auto& c : cases) {
        int order = CompareVersions(c.a, c.b);
        EXPECT_EQ(c.order, order > 0 ? 1 : order < 0 ? -1 : 0) << c.a << " against " << c.b;
    }
}

TEST_F(CoreTest, FileExistsIsFalseForFolders)
{
    TempFolder folder;
    folder.WriteFile("f.txt", "x");
    EXPECT_TRUE(FileExists((folder.Path() + "\\f.txt").c_str()));
    EXPECT_FALSE(FileExists(folder.Path().c_str()));
    EXPECT_FALSE(FileExists((folder.Path() + "\\missing").c_str()));
}

TEST_F(CoreTest, FontsUseEightAndSixteenPoints)
{
    AppConstruct();
    ASSERT_NE(nullptr, Context.DialogFont);
    LOGFONTA dialog, bold, title;
    GetObjectA(Context.DialogFont, sizeof dialog, &dialog);
    GetObjectA(Context.BoldFont, sizeof bold, &bold);
    GetObjectA(Context.TitleFont, sizeof title, &title);
    EXPECT_EQ(MulDiv(-8, Context.ScreenDpiY, 72), dialog.lfHeight);
    EXPECT_EQ(MulDiv(-16, Context.ScreenDpiY, 72), title.lfHeight);
    EXPECT_EQ(FW_BOLD, bold.lfWeight);
    EXPECT_EQ(FW_NORMAL, dialog.lfWeight);
    EXPECT_STREQ(dialog.lfFaceName, title.lfFaceName);
    if (Context.ScreenDpiY == 96) {
        EXPECT_EQ(-11, dialog.lfHeight);
        EXPECT_EQ(-21, title.lfHeight);
    }
}

} // namespace
