// Start-menu folder, extra paths and the three links, checked with real
// link files read back through the shell's link object under Wine.
#include <gtest/gtest.h>

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include "setup/wide.h"
#include "registration/registration.h"
#include "app/app.h"
#include "test_support.h"

namespace {

struct OpenCall {
    std::string verb, file;
    INT show;
};
std::vector<OpenCall> openCalls;

HINSTANCE WINAPI RecordOpen(HWND, LPCSTR verb, LPCSTR file, LPCSTR, LPCSTR, INT show)
{
    openCalls.push_back({verb, file, show});
    return reinterpret_cast<HINSTANCE>(42);
}

std::string ProgramsFolder()
{
    char path[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, CSIDL_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

struct LinkFields {
    std::string target, folder, description;
};

bool ReadLink(const std::string& path, LinkFields* fields)
{
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link))))
        return false;
    IPersistFile* file = nullptr;
    bool ok = SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)));
    // The program's paths are UTF-8.
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide, MAX_PATH);
    ok = ok && SUCCEEDED(file->Load(wide, STGM_READ));
    char text[3][MAX_PATH] = {"", "", ""};
    if (ok) {
        link->GetPath(text[0], MAX_PATH, nullptr, SLGP_RAWPATH);
        link->GetWorkingDirectory(text[1], MAX_PATH);
        link->GetDescription(text[2], MAX_PATH);
        *fields = {text[0], text[1], text[2]};
    }
    if (file)
        file->Release();
    link->Release();
    return ok;
}

class Shortcuts : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetInstallerContext();
        openCalls.clear();
        ShellOpenFolder = RecordOpen;
        group_ = ProgramsFolder() + "\\Corvane";
        // The group folder is made here as well, so that these tests do not
        // hang on the folder helper of the destination page.
        createdGroup_ = CreateDirectoryA(group_.c_str(), nullptr) != 0;
        Context.TargetDir = target_.Path().c_str();
    }
    void TearDownLinks()
    {
        for (size_t i = 0; i < Context.InstalledFiles.Count(); ++i)
            if (strstr(Context.InstalledFiles.At(i), ".lnk")) {
                WCHAR wide[MAX_PATH];
                MultiByteToWideChar(CP_UTF8, 0, Context.InstalledFiles.At(i), -1, wide, MAX_PATH);
                DeleteFileW(wide);
            }
    }
    void TearDown() override
    {
        TearDownLinks();
        if (createdGroup_)
            RemoveDirectoryA(group_.c_str());
        ShellOpenFolder = ShellExecuteU;
        ResetInstallerContext();
    }
    TempFolder target_;
    std::string group_;
    bool createdGroup_ = false;
};

TEST(WorkingFolder, DropsTrailingBackslashButKeepsDriveRoot)
{
    const struct {
        const char* folder;
        const char* expected;
    } cases[] = {
        {"C:\\Tools\\App\\", "C:\\Tools\\App"},
        {"C:\\", "C:\\"},
        {"C:", "C:\\"},
        {"D:\\Tools", "D:\\Tools"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(c.expected, FolderWithoutBackslash(c.folder).c_str()) << c.folder;
}

// Links in each language, with and without a restart to follow: every link
// file reads back its target, working folder and description, the paths
// are listed after what was there, and Explorer opens only without restart.
TEST_F(Shortcuts, CreatesListsAndOpensTheGroupFolder)
{
    const struct {
        LANGID language;
        int32_t update;
        const char* help;
        const char* uninstall;
    } cases[] = {
        {kEnglish, 0, "GlyphForge Help.lnk", "Uninstall GlyphForge.lnk"},
        {0x040C, 1, "Aide de GlyphForge.lnk", "D\xC3\xA9sinstaller GlyphForge.lnk"},
        {0x0413, 0, "GlyphForge Help.lnk", "GlyphForge verwijderen.lnk"},
    };
    CoInitialize(nullptr);
    for (const char* f : {"GlyphForge.exe", "GlyphForge.hlp", "UnInstall.exe"})
        WriteWholeFile(target_.Path() + f, "x");
    std::string t = target_.Path(), folder = t.substr(0, t.size() - 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.help);
        Context.LanguageCode = c.language;
        Context.UpdateCommonControls = c.update;
        Context.InstalledFiles.Clear();
        Context.InstalledFiles.Add("C:\\extracted.dll");
        openCalls.clear();
        CreateShortcuts();

        const struct {
            std::string link, target, description;
        } links[] = {
            {group_ + "\\GlyphForge.lnk", t + "GlyphForge.exe", "GlyphForge"},
            {group_ + "\\" + c.help, t + "GlyphForge.hlp", "GlyphForge Help"},
            {group_ + "\\" + c.uninstall, t + "Uninstall.exe", "GlyphForge"},
        };
        std::string listed = "C:\\extracted.dll\n";
        for (const auto& l : links) {
            listed += l.link + "\n";
            LinkFields read;
            ASSERT_TRUE(ReadLink(l.link, &read)) << l.link;
            EXPECT_STRCASEEQ(l.target.c_str(), read.target.c_str());
            EXPECT_EQ(folder, read.folder);
            EXPECT_EQ(l.description, read.description);
        }
        EXPECT_EQ(listed, ListAsString(Context.InstalledFiles));
        ASSERT_EQ(c.update ? 0u : 1u, openCalls.size());
        if (!c.update) {
            EXPECT_EQ("open", openCalls[0].verb);
            EXPECT_EQ(group_, openCalls[0].file);
            EXPECT_EQ(SW_SHOWNOACTIVATE, openCalls[0].show);
        }
        TearDownLinks();
    }
    CoUninitialize();
}

// Without COM no link can be made, yet every link path is still listed,
// after the extra paths: of strings 900.. (up to the first gap) an existing
// file is left out, an existing folder and a missing path are listed.
TEST_F(Shortcuts, WithoutComListsExtraPathsAndLinkPathsAnyway)
{
    HMODULE strings = LoadLibraryExA((ProgramFolder() + "registration_test_resources.dll").c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(strings != nullptr);
    Context.InstanceHandle = strings;
    std::string t = target_.Path();
    WriteWholeFile(t + "present.txt", "x");
    CreateDirectoryA((t + "Fonts").c_str(), nullptr);

    CreateShortcuts();

    std::string links[] = {group_ + "\\GlyphForge.lnk", group_ + "\\GlyphForge Help.lnk",
                           group_ + "\\Uninstall GlyphForge.lnk"};
    EXPECT_EQ(t + "Fonts\n" + t + "absent.txt\n" + links[0] + "\n" + links[1] + "\n" + links[2] + "\n",
              ListAsString(Context.InstalledFiles));
    for (const auto& l : links)
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(l.c_str())) << l;
    Context.InstanceHandle = nullptr;
    FreeLibrary(strings);
}

// A link path that does not fit MAX_PATH wide characters with its NUL is
// refused: nothing is saved under a cut name.
TEST_F(Shortcuts, OverlongLinkPathIsNeverSaved)
{
    CoInitialize(nullptr);
    std::string longPath = target_.Path() + std::string(MAX_PATH, 'a') + ".lnk";
    LinkDetails link = {"C:\\x.exe", "", "x", "C:\\", "", 0};
    EXPECT_TRUE(FAILED(CreateShellLink(longPath.c_str(), link)));
    // Not even a file under the name cut at MAX_PATH - 1 characters.
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((target_.Path() + "a*").c_str(), &found);
    EXPECT_EQ(INVALID_HANDLE_VALUE, h);
    if (h != INVALID_HANDLE_VALUE)
        FindClose(h);
    CoUninitialize();
}

} // namespace
