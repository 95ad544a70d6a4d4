// End-to-end installation runs of the real setup program under Wine,
// driven through its wizard from outside: a full install of the demo, a
// repair run, copy errors answered with Retry, Ignore and Abort, a
// reinstall that fails and gives back the installation it ran over, the
// destination folder's full form, a damaged setup program, a second
// product made by mksetup from a description of its own, installed and
// removed whole, and a second maker's product from one version to the
// next, and installed for the user alone, on its own and beside the
// installation for every user.
#include <gtest/gtest.h>

#include <shlobj.h>
#include <shobjidl.h>
#include <userenv.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/common/files.h"
#include "tests/e2e/driver.h"

#if !defined(SETUP_EXE) || !defined(LARGE_SETUP_EXE) || !defined(LEDGER_DIR) || !defined(LEDGER_USER_DIR)
#error SETUP_EXE, DEMO_MAIN_DIR, DEMO_ARCHIVIST_DIR, DEMO_MAIN_CAB, LARGE_SETUP_EXE, LARGE_MAIN_DIR, LEDGER_DIR and LEDGER_USER_DIR come from the build
#endif

using namespace e2e;

namespace {

const DWORD kPageWait = e2e::kHangWait;
// The product is started through the desktop's shell a moment after the
// setup ends; under emulation on a busy machine (the 32-bit guest) that
// moment has taken longer than ten seconds.
const DWORD kProductStartWait = e2e::kHangWait;
const DWORD kInstallWait = e2e::kHangWait;
const char kProductKey[] = "SOFTWARE\\Corvane\\Corvane GlyphForge";
const char kAppPathKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\GlyphForge.exe";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvane GlyphForge";
const char kMakerFolders[] = "SOFTWARE\\Corvane\\folders";
// The silent install goes where a deployment tool would put it.
const char kSilentParent[] = "C:\\Program Files\\Corvane Test";

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
        // The signing test runs the same scenarios on a signed copy.
        char signedSetup[MAX_PATH] = "";
        GetEnvironmentVariableA("E2E_SETUP_EXE", signedSetup, sizeof signedSetup);
        setup_ = FromUnixPath(signedSetup[0] ? signedSetup : SETUP_EXE);
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
        RemoveTree(kSilentParent);
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
        EXPECT_EQ(0, setup.Wait(e2e::kHangWait));
        // The product starts through the desktop's shell, a moment later.
        EXPECT_TRUE(WaitUntil([] { return FindTopLevel("GlyphForge (demo)") != nullptr; }, kProductStartWait));
        CloseLaunchedWindows();
    }

    void ExpectDemoInstalled(const std::string& target, const std::string& kept);

    // What a run may change: the installation and Start-menu folders and
    // the product's registry entries.
    State Now() { return Snapshot({target_, programs_}, {kProductKey, kAppPathKey, kUninstallKey}); }

    std::string setup_, demoMain_, demoArchivist_, root_, target_, archivist_, programs_;
};

// The target a shell link points at.
std::string LinkTarget(const std::string& link)
{
    CoInitialize(nullptr);
    std::string target;
    IShellLinkA* shellLink = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&shellLink)))) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            WCHAR wide[MAX_PATH];
            MultiByteToWideChar(CP_ACP, 0, link.c_str(), -1, wide, MAX_PATH);
            char path[MAX_PATH] = "";
            if (SUCCEEDED(file->Load(wide, STGM_READ)) && SUCCEEDED(shellLink->GetPath(path, MAX_PATH, nullptr, 0)))
                target = path;
            file->Release();
        }
        shellLink->Release();
    }
    CoUninitialize();
    return target;
}

// What a link holds, wide: "target | arguments | working folder | icon,index".
std::wstring LinkDetailsW(const std::wstring& link)
{
    CoInitialize(nullptr);
    std::wstring details;
    IShellLinkW* shellLink = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&shellLink)))) {
        IPersistFile* file = nullptr;
        wchar_t path[MAX_PATH] = L"", arguments[MAX_PATH] = L"", folder[MAX_PATH] = L"", icon[MAX_PATH] = L"";
        int index = 0;
        if (SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            // The target from the link's item list: Wine's GetPath gives
            // the path the link keeps in the system's code page.
            LPITEMIDLIST items = nullptr;
            if (SUCCEEDED(file->Load(link.c_str(), STGM_READ)) && SUCCEEDED(shellLink->GetIDList(&items)) &&
                SHGetPathFromIDListW(items, path) &&
                SUCCEEDED(shellLink->GetArguments(arguments, MAX_PATH)) &&
                SUCCEEDED(shellLink->GetWorkingDirectory(folder, MAX_PATH)) &&
                SUCCEEDED(shellLink->GetIconLocation(icon, MAX_PATH, &index)))
                details = std::wstring(path) + L" | " + arguments + L" | " + folder + L" | " + icon + L"," +
                          std::to_wstring(index);
            CoTaskMemFree(items);
            file->Release();
        }
        shellLink->Release();
    }
    CoUninitialize();
    return details;
}

// Every file of the product in target, byte for byte with its date; the
// sibling product's files (kept: one of them that was there before and
// stays as it was); the uninstaller and its settings; every registry value
// with its exact data; the "\Files" list; the links.
void InstallE2e::ExpectDemoInstalled(const std::string& target, const std::string& kept)
{
    std::vector<std::string> expected = ListFiles(demoMain_);
    std::vector<std::string> siblingFiles = ListFiles(demoArchivist_);
    std::vector<std::string> withUninstaller = expected;
    withUninstaller.push_back("UnInstall.exe");
    withUninstaller.push_back("UnInstall.ini");
    std::sort(withUninstaller.begin(), withUninstaller.end());
    EXPECT_EQ(withUninstaller, ListFiles(target));
    for (const std::string& f : expected) {
        EXPECT_EQ(ReadFile(demoMain_ + "\\" + f), ReadFile(target + "\\" + f)) << f;
        EXPECT_LE(SecondsApart(LastWrite(demoMain_ + "\\" + f), LastWrite(target + "\\" + f)), 2) << f;
    }
    for (const std::string& f : siblingFiles) {
        if (archivist_ + "\\" + f == kept)
            EXPECT_EQ("the user's own copy", ReadFile(kept));
        else
            EXPECT_EQ(ReadFile(demoArchivist_ + "\\" + f), ReadFile(archivist_ + "\\" + f)) << f;
    }

    // The uninstaller and its settings, keys in order.
    EXPECT_GT(ReadFile(target + "\\UnInstall.exe").size(), 1000u);
    std::string ini = ReadText(target + "\\UnInstall.ini");
    size_t args = ini.find("args=\"Corvane GlyphForge\" \"GlyphForge.exe\"");
    size_t repair = ini.find("repair=");
    EXPECT_EQ(0u, ini.find("[uninstall]"));
    EXPECT_NE(std::string::npos, args);
    EXPECT_NE(std::string::npos, repair);
    EXPECT_LT(args, repair);
    EXPECT_NE(std::string::npos, ini.find("setup"));

    // Registry entries with their exact data, the uninstall entry whole as
    // Programs and Features and deployment tools read it.
    std::string uninstall = "\"" + target + "\\UnInstall.exe\" \"Corvane GlyphForge\" \"GlyphForge.exe\"";
    unsigned long long bytes = 0;
    for (const std::string& f : ListFiles(target))
        bytes += ReadFile(target + "\\" + f).size();
    const struct {
        const char* key;
        const char* name;
        std::string data;
    } values[] = {
        {kProductKey, "InstallDir", target + "\\"},
        {kAppPathKey, "", target + "\\GlyphForge.exe"},
        {kAppPathKey, "Path", target},
        {kUninstallKey, "DisplayName", "GlyphForge"},
        {kUninstallKey, "UninstallString", uninstall},
        {kUninstallKey, "QuietUninstallString", uninstall + " /S"},
        {kUninstallKey, "ModifyPath", uninstall},
        {kUninstallKey, "DisplayIcon", target + "\\GlyphForge.exe"},
        {kUninstallKey, "DisplayVersion", "1.0"},
        {kUninstallKey, "Publisher", "Corvane Software"},
        {kUninstallKey, "URLInfoAbout", "http://www.corvane.com/"},
        {kUninstallKey, "InstallLocation", target},
        {kUninstallKey, "EstimatedSize", std::to_string((bytes + 1023) / 1024)},
        {kUninstallKey, "NoRepair", "1"},
    };
    for (const auto& v : values) {
        std::string value;
        EXPECT_TRUE(ReadRegValue(HKEY_LOCAL_MACHINE, v.key, v.name, value)) << v.name;
        EXPECT_EQ(v.data, value) << v.name;
    }

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
    size_t newSiblingFiles = siblingFiles.size() - (kept.empty() ? 0 : 1);
    ASSERT_EQ(expected.size() + newSiblingFiles + 3, files.size());
    std::map<std::string, int> listed;
    for (size_t i = 0; i < expected.size(); ++i)
        ++listed[files[i]];
    for (const std::string& f : expected)
        EXPECT_EQ(1, listed[target + "\\" + f]) << f;
    for (size_t i = expected.size(); i < expected.size() + newSiblingFiles; ++i)
        EXPECT_EQ(0u, files[i].find(archivist_ + "\\")) << files[i];
    std::vector<std::string> links(files.end() - 3, files.end());
    EXPECT_EQ((std::vector<std::string>{programs_ + "\\GlyphForge.lnk", programs_ + "\\GlyphForge Help.lnk",
                                        programs_ + "\\Uninstall GlyphForge.lnk"}),
              links);
    for (const std::string& link : links) {
        EXPECT_TRUE(Exists(link)) << link;
    }
    EXPECT_EQ(target + "\\GlyphForge.exe", LinkTarget(programs_ + "\\GlyphForge.lnk"));
}

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
    // The name it tells the user to look for is the one the list shows.
    EXPECT_EQ("2 - A list with all installed programs opens. Select GlyphForge.", ItemText(finish, 1041));
    ExpectDemoInstalled(target_, kept);
    // The run's private folder and journal are gone; the copy kept for
    // repairs stays.
    WIN32_FIND_DATAA found;
    HANDLE left = FindFirstFileA((SetupFolder("Corvane GlyphForge") + "\\*").c_str(), &found);
    std::vector<std::string> names;
    if (left != INVALID_HANDLE_VALUE) {
        do
            names.push_back(found.cFileName);
        while (FindNextFileA(left, &found));
        FindClose(left);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{".", "..", "setup.exe"}), names);

    // Finish launches the product, through the desktop's shell: it is no
    // child of the elevated setup. (The setup starts it itself when the
    // shell is not there yet, as in a Wine session just begun.)
    ASSERT_TRUE(WaitUntil(DesktopShellReachable, kHangWait)) << "the desktop's shell never came up";
    Click(finish, IDOK);
    EXPECT_EQ(0, setup.Wait(e2e::kHangWait));
    HWND product = nullptr;
    EXPECT_TRUE(WaitUntil([&] { return (product = FindTopLevel("GlyphForge (demo)")) != nullptr; }, kProductStartWait))
        << "the installed program was not started";
    DWORD productProcess = 0;
    GetWindowThreadProcessId(product, &productProcess);
    EXPECT_NE(setup.Id(), ParentProcessOf(productProcess)) << "started with the setup's rights";
    CloseLaunchedWindows();
}

// The deployment tool's way, never showing a window: a silent install with
// a log into the folder given (the same installation as through the
// wizard), a silent repair, then the uninstall entry's quiet command.
TEST_F(InstallE2e, SilentInstallRepairAndQuietUninstall)
{
    const std::string target = std::string(kSilentParent) + "\\GlyphForge";
    const std::string log = root_ + "\\setup.log";
    bool shown = false;
    EXPECT_EQ(0, RunUnseen(setup_, "/S /LOG=\"" + log + "\" /D=" + target, &shown));
    ExpectDemoInstalled(target, "");
    std::string text = ReadFile(log);
    std::vector<std::string> lines = {"switches: /S /LOG=\"" + log + "\" /D=" + target,
                                      "link " + programs_ + "\\GlyphForge.lnk leads to ", "exit code 0: installed"};
    for (const std::string& f : ListFiles(target))
        lines.push_back("new file: " + target + "\\" + f);
    for (const std::string& line : lines)
        EXPECT_NE(std::string::npos, text.find(line)) << line;

    std::string readme = target + "\\ReadMe.txt";
    std::string original = ReadFile(readme);
    ASSERT_TRUE(DeleteFileA(readme.c_str()));
    EXPECT_EQ(0, RunUnseen(setup_, "/s /RUN /LANG=nl /LOG=\"" + log + "\" /r " + target, &shown));
    EXPECT_EQ(original, ReadFile(readme));
    // /LANG= is spoken, and kept for the uninstaller.
    EXPECT_NE(std::string::npos, ReadFile(log).find("language: nl (Nederlands)"));
    EXPECT_NE(std::string::npos, ReadText(target + "\\UnInstall.ini").find("language=nl"));
    EXPECT_FALSE(shown) << "a window was shown";
    EXPECT_EQ(nullptr, FindTopLevel("GlyphForge (demo)")) << "a silent run launches nothing";
    EXPECT_NE(std::string::npos, ReadFile(log).find("/RUN: the product is not started")) << "nor does a repair";
    // Asked for, the program starts after a silent installation.
    EXPECT_EQ(0, RunUnseen(setup_, "/S /RUN /D=" + target, &shown));
    EXPECT_TRUE(WaitUntil([] { return FindTopLevel("GlyphForge (demo)") != nullptr; }, kProductStartWait));
    CloseLaunchedWindows();

    std::string quiet;
    ASSERT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, kUninstallKey, "QuietUninstallString", quiet));
    size_t programEnd = quiet.find("\" ");
    ASSERT_NE(std::string::npos, programEnd);
    Process uninstall(quiet.substr(1, programEnd - 1), quiet.substr(programEnd + 2));
    EXPECT_EQ(0, uninstall.Wait(e2e::kHangWait));
    EXPECT_TRUE(WaitUntil([&] { return !FolderExists(target); }, kPageWait)) << "the product folder stays";
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
}

// What cannot be followed changes nothing: another run of the setup in
// progress (1618), switches not understood or a destination that is not
// a full path (1639, with the usage when someone is there to read it), a
// volume too small for a silent run (1603); the log says why.
TEST_F(InstallE2e, RefusedRunsChangeNothing)
{
    const std::string log = "/S /LOG=\"" + root_ + "\\refused.log\"";
    State before = Now();
    std::vector<std::string> smallVolume = ListFiles("S:\\");
    Process first(setup_, "");
    HWND welcome = WaitForDialog(first.Id(), 1010, "", kPageWait);
    ASSERT_NE(nullptr, welcome) << "the first setup's welcome page";
    const struct {
        std::string arguments;
        long code;
        const char* logged; // null: a message box with the usage comes first
    } cases[] = {
        {log + " /D=" + target_, 1618, "another setup or the uninstaller of Corvane GlyphForge is running"},
        {"/X", 1639, nullptr},
        {"/?", 1639, nullptr},
        {"/D=Apps\\Tool", 1639, nullptr},
        {log + " /X", 1639, "invalid command line: /X"},
        {log + " /D=", 1639, "invalid command line: /D="},
        {log + " /D=Apps\\Tool", 1639, "invalid command line: /D=Apps\\Tool"},
        {log + " /TASKS=desktop", 1639, "invalid command line: /TASKS=desktop"},
        {log + " /LANG=eo", 1639, "/LANG=eo is not a language of this setup (en, fr, nl"},
        {log + " /r " + root_, 1639, "nothing to repair: "},
        {log + " /D=S:\\GlyphForge", 1603, "not enough free space for S:\\GlyphForge"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        if (c.code == 1603 && !FolderExists("S:\\"))
            continue;
        DeleteFileA((root_ + "\\refused.log").c_str());
        Process setup(setup_, c.arguments);
        if (!c.logged) {
            HWND box = WaitForDialog(setup.Id(), 0xFFFF, "", kPageWait);
            ASSERT_NE(nullptr, box) << "no message";
            std::string text = ItemText(box, 0xFFFF);
            EXPECT_NE(std::string::npos, text.find("/LOG=file")) << text;
            EXPECT_NE(std::string::npos, text.find(c.arguments == "/?" ? "" : c.arguments)) << text;
            Click(box, IDOK);
        }
        EXPECT_EQ(c.code, setup.Wait(kInstallWait));
        if (c.logged) {
            std::string text = ReadFile(root_ + "\\refused.log");
            EXPECT_NE(std::string::npos, text.find(c.logged)) << text;
            EXPECT_NE(std::string::npos, text.find("exit code " + std::to_string(c.code))) << text;
        }
        EXPECT_EQ("", Differences(before, Now()));
        if (c.code == 1618) {
            // The run lock goes with the first setup.
            Click(welcome, IDCANCEL);
            HWND confirm = WaitForOwnedDialog(welcome, kPageWait);
            ASSERT_NE(nullptr, confirm);
            Click(confirm, 2);
            EXPECT_EQ(1602, first.Wait(kPageWait));
        }
    }
    EXPECT_EQ(smallVolume, ListFiles("S:\\"));
    EXPECT_FALSE(Exists(JournalFile("Corvane GlyphForge")));
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

    // The product running: the repair's first page names it, without Back,
    // and Next closes it.
    Process product(target_ + "\\GlyphForge.exe", "");
    ASSERT_TRUE(WaitUntil([] { return FindTopLevel("GlyphForge (demo)") != nullptr; }, kProductStartWait));
    std::string log = root_ + "\\repair.log";
    Process repair(setup_, "/LOG=\"" + log + "\" /r " + target_);
    ASSERT_TRUE(repair.Started());
    HWND programs = WaitForDialog(repair.Id(), IDOK, "Programs in Use", kPageWait);
    ASSERT_NE(nullptr, programs) << "programs page";
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(programs, 1001))) << "Back";
    Click(programs, IDOK);
    EXPECT_EQ(0, product.Wait(e2e::kHangWait)) << "the product was asked to close";
    HWND finish = WaitForFinish(repair, "Repair Successfully Completed");
    ASSERT_NE(nullptr, finish) << "repair-finished page";
    EXPECT_FALSE(HasItem(finish, 1039));
    EXPECT_EQ(original, ReadFile(readme));
    Click(finish, IDOK);
    EXPECT_EQ(0, repair.Wait(e2e::kHangWait));
    EXPECT_EQ(before, FilesList());
    std::string text = ReadFile(log);
    EXPECT_NE(std::string::npos, text.find("exit code 0"));
    EXPECT_EQ(std::string::npos, text.find("product started")) << "a repair launches nothing";
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

        std::string log = root_ + "\\copy error.log";
        Process setup(setup_, "/log=\"" + log + "\"");
        WalkToInstall(setup, target_);
        HWND error = WaitForDialog(setup.Id(), 1003, "ERROR : File copy", kInstallWait);
        ASSERT_NE(nullptr, error) << "copy-error dialog";
        EXPECT_EQ("ReadMe.txt", ItemText(error, 1003));
        EXPECT_EQ(target_, ItemText(error, 1008));
        EXPECT_EQ("The file is in use by another program. Close that program, then click Retry.", ItemText(error, 1007));
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
        FinishWithoutStarting(finish);
        EXPECT_EQ(0, setup.Wait(e2e::kHangWait));
        // The log of a run with the wizard names the file and the answer.
        std::string text = ReadFile(log);
        for (std::string line : {"cannot write " + target_ + "\\ReadMe.txt (Windows error",
                                 std::string("answer: ") + (answer == IDRETRY ? "Retry" : "Ignore"),
                                 std::string("exit code 0: installed")})
            EXPECT_NE(std::string::npos, text.find(line)) << line;
        DeleteFileA(log.c_str());
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
    FinishWithoutStarting(finish);
    EXPECT_EQ(0, setup.Wait(e2e::kHangWait));

    // The second run's files stay: its success cleared the rollback.
    for (const std::string& f : ListFiles(demoMain_))
        EXPECT_TRUE(Exists(target_ + "\\" + f)) << f;
    EXPECT_EQ(ReadFile(demoMain_ + "\\ReadMe.txt"), ReadFile(target_ + "\\ReadMe.txt"));
}

// A reinstall over an installation the user has changed, aborted at a
// file held open near the end: every replaced file comes back byte for
// byte, the user's own file stays, and so do the links and registry values.
TEST_F(InstallE2e, ReinstallAbortedInACopyErrorGivesBackTheInstallation)
{
    InstallDemo();
    ASSERT_TRUE(WriteFile(target_ + "\\ReadMe.txt", "changed by the user"));
    ASSERT_TRUE(WriteFile(target_ + "\\notes.txt", "the user's own notes"));
    State before = Now();
    std::string last = target_ + "\\" + ListFiles(demoMain_).back();
    HANDLE held = CreateFileA(last.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);

    Process setup(setup_, "");
    WalkToInstall(setup, target_);
    HWND error = WaitForDialog(setup.Id(), 1003, "ERROR : File copy", kInstallWait);
    ASSERT_NE(nullptr, error) << "copy-error dialog";
    Click(error, IDCANCEL);
    HWND errorPage = WaitForDialog(setup.Id(), 1001, "Error during installation", kPageWait);
    ASSERT_NE(nullptr, errorPage) << "error page";
    Click(errorPage, IDOK);
    EXPECT_EQ(1603, setup.Wait(e2e::kHangWait));
    CloseHandle(held);
    EXPECT_EQ("", Differences(before, Now()));
    EXPECT_FALSE(Exists(JournalFile("Corvane GlyphForge")));
}

// Cancel while the copy-error dialog is up: the dialog is answered, nothing
// more is written, Back and Next start a clean run, and quitting leaves
// the machine as it was.
TEST_F(InstallE2e, CancelWhileACopyErrorIsUpWritesNothingMoreAndLeavesNothing)
{
    SHCreateDirectoryExA(nullptr, target_.c_str(), nullptr);
    HeldFile held(target_ + "\\ReadMe.txt");
    State before = Now();
    Process setup(setup_, "");
    WalkToInstall(setup, target_);
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        HWND error = WaitForDialog(setup.Id(), 1003, "ERROR : File copy", kInstallWait);
        ASSERT_NE(nullptr, error) << "copy-error dialog";
        HWND page = WaitForDialog(setup.Id(), 1016, "", kPageWait);
        ASSERT_NE(nullptr, page) << "install page";
        Click(page, IDCANCEL);
        HWND question = WaitForOwnedDialog(page, kPageWait);
        ASSERT_NE(nullptr, question) << "cancel question";
        Click(question, IDYES);
        HWND interrupted = WaitForDialog(setup.Id(), 1001, "User Interrupted Installation", kPageWait);
        ASSERT_NE(nullptr, interrupted) << "interrupted page";
        EXPECT_TRUE(WaitGone(error, kPageWait)) << "the copy-error dialog was left behind";
        if (run == 1) {
            Click(interrupted, IDOK);
            break;
        }
        State atCancel = Now();
        Click(interrupted, 1001);
        HWND destination = WaitForDialog(setup.Id(), 1014, "", kPageWait);
        ASSERT_NE(nullptr, destination) << "back on the destination page";
        EXPECT_EQ("", Differences(atCancel, Now())) << "written after the cancel";
        Click(destination, IDOK);
    }
    EXPECT_EQ(1602, setup.Wait(e2e::kHangWait)) << "the setup does not end as cancelled";
    EXPECT_EQ("", Differences(before, Now()));
    held.Release();
    EXPECT_EQ("in use", ReadFile(target_ + "\\ReadMe.txt"));
}

// The destination must name its drive or share; what is stored, linked and
// launched is its full form, whatever its blanks or braces.
TEST_F(InstallE2e, DestinationIsOneFullFolderEverywhere)
{
    std::string error;
    Process refused(setup_, "");
    HWND destination = WalkToDestination(refused.Id(), kPageWait, &error);
    ASSERT_NE(nullptr, destination) << error;
    for (const char* folder : {"Apps\\Tool", "S:Tool", "C:"}) {
        SetItemText(destination, 1014, folder);
        Click(destination, IDOK);
        HWND box = WaitForOwnedDialog(destination, kPageWait);
        ASSERT_NE(nullptr, box) << folder;
        EXPECT_NE(std::string::npos, ItemText(box, 0xFFFF).find("full path")) << folder;
        Click(box, IDOK);
        ASSERT_TRUE(WaitGone(box, kPageWait));
        EXPECT_TRUE(IsWindowVisible(destination)) << folder;
    }
    refused.Kill();
    refused.Wait(e2e::kHangWait);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kProductKey));

    for (const std::string& typed : {root_ + "\\Apps\\Tool ", root_ + "\\Apps\\{v2}"}) {
        std::string folder = typed.substr(0, typed.find_last_not_of(' ') + 1);
        SCOPED_TRACE(folder);
        Process setup(setup_, "");
        WalkToInstall(setup, typed);
        HWND finish = WaitForFinish(setup);
        ASSERT_NE(nullptr, finish);
        std::string value;
        EXPECT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, kProductKey, "InstallDir", value));
        EXPECT_EQ(folder + "\\", value);
        EXPECT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, kAppPathKey, "", value));
        EXPECT_EQ(folder + "\\GlyphForge.exe", value);
        EXPECT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, kAppPathKey, "Path", value));
        EXPECT_EQ(folder, value);
        for (const std::string& f : FilesList())
            EXPECT_TRUE(f.find(folder + "\\") == 0 || f.find(archivist_) == 0 || f.find(programs_) == 0) << f;
        EXPECT_EQ(folder + "\\GlyphForge.exe", LinkTarget(programs_ + "\\GlyphForge.lnk"));
        Click(finish, IDOK);
        EXPECT_TRUE(WaitUntil([] { return FindTopLevel("GlyphForge (demo)") != nullptr; }, kProductStartWait))
            << "the product was not launched";
        setup.Wait(e2e::kHangWait);
        CloseLaunchedWindows();
        Clean();
    }
}

// One byte changed inside the MAIN cabinet of a copy of setup.exe: the
// program still starts, says it is damaged before any page and ends
// without writing anything.
TEST_F(InstallE2e, DamagedSetupSaysSoAndChangesNothing)
{
    std::string program = ReadFile(setup_);
    std::string cabinet = ReadFile(FromUnixPath(DEMO_MAIN_CAB));
    ASSERT_GT(cabinet.size(), 1000u);
    size_t at = program.find(cabinet.substr(0, 512));
    ASSERT_NE(std::string::npos, at) << "the cabinet is not in setup.exe";
    program[at + cabinet.size() / 2] ^= 0x20;
    std::string damaged = root_ + "\\damaged setup.exe";
    ASSERT_TRUE(WriteFile(damaged, program));
    State before = Snapshot({SetupFolder("Corvane GlyphForge")}, {});

    Process setup(damaged, "");
    HWND box = WaitForDialog(setup.Id(), 0xFFFF, "", kPageWait);
    ASSERT_NE(nullptr, box) << "no message";
    EXPECT_NE(std::string::npos, ItemText(box, 0xFFFF).find("damaged"));
    EXPECT_FALSE(HasItem(box, 1008)) << "a page came instead";
    Click(box, IDOK);
    EXPECT_EQ(1603, setup.Wait(e2e::kHangWait));
    EXPECT_FALSE(FolderExists(programs_));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kProductKey));
    EXPECT_EQ("", Differences(before, Snapshot({SetupFolder("Corvane GlyphForge")}, {})));
}

// The installation's Fonts folder replaced by a link to a folder outside
// it, as a user who can write there could do: the elevated uninstaller and
// a reinstall (undone, or finished without those files) report every entry
// behind the link and touch none of what is there.
TEST_F(InstallE2e, NothingGoesThroughALinkBelowTheInstallation)
{
    std::string fonts = target_ + "\\Fonts";
    std::string elsewhere = root_ + "\\Elsewhere";
    auto placeLink = [&] {
        testfiles::RemoveTree(elsewhere);
        ASSERT_TRUE(MoveFileA(fonts.c_str(), elsewhere.c_str()));
        for (const std::string& f : ListFiles(elsewhere))
            ASSERT_TRUE(WriteFile(elsewhere + "\\" + f, "not the product's: " + f));
        ASSERT_TRUE(testfiles::MakeUnixLink(elsewhere, fonts));
    };
    ASSERT_NO_FATAL_FAILURE(InstallDemo());
    ASSERT_NO_FATAL_FAILURE(placeLink());
    State behind = Snapshot({elsewhere}, {});
    size_t linked = ListFiles(elsewhere).size();
    ASSERT_GT(linked, 0u);

    std::string command;
    ASSERT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, kUninstallKey, "QuietUninstallString", command));
    std::string uninstaller = target_ + "\\UnInstall.exe";
    Process uninstall(uninstaller, command.substr(uninstaller.size() + 3));
    EXPECT_EQ(1, uninstall.Wait(e2e::kHangWait)) << "the entries behind the link are reported as left";
    EXPECT_EQ("", Differences(behind, Snapshot({elsewhere}, {})));
    testfiles::RemoveLink(fonts);
    Clean();

    ASSERT_NO_FATAL_FAILURE(InstallDemo());
    ASSERT_NO_FATAL_FAILURE(placeLink());
    behind = Snapshot({elsewhere}, {});
    for (int answer : {IDCANCEL, IDIGNORE}) {
        SCOPED_TRACE(answer == IDCANCEL ? "abort: undone" : "ignore: finished without them");
        Process setup(setup_, "");
        WalkToInstall(setup, target_);
        size_t asked = 0;
        HWND end = nullptr;
        ASSERT_TRUE(WaitUntil([&] {
            for (HWND dialog : Dialogs(setup.Id())) {
                if (HasItem(dialog, 1003) && IsWindowEnabled(GetDlgItem(dialog, answer))) {
                    Click(dialog, answer);
                    WaitGone(dialog, kPageWait);
                    ++asked;
                } else if (HasItem(dialog, 1008) && (Text(dialog).find("Completed") != std::string::npos ||
                                                     Text(dialog).find("Error") != std::string::npos)) {
                    end = dialog;
                }
            }
            return end != nullptr;
        }, kInstallWait));
        EXPECT_EQ(answer == IDCANCEL ? 1u : linked, asked);
        Click(end, IDOK);
        setup.Wait(e2e::kHangWait);
        CloseLaunchedWindows();
        EXPECT_EQ("", Differences(behind, Snapshot({elsewhere}, {})));
    }
    testfiles::RemoveLink(fonts);
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
    EXPECT_EQ(1603, setup.Wait(e2e::kHangWait));
    EXPECT_EQ(before, ListFiles("S:\\"));
    EXPECT_FALSE(FolderExists("S:\\GlyphForge"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
}

// Tessera Atlas, described from scratch by tests/e2e/make_large_product.py:
// its own names, English only, a licence in plain text, sub-folders and
// 100 MB of files. Installed byte for byte, then removed whole through its
// uninstall entry.
TEST_F(InstallE2e, ProductFromItsOwnDescriptionInstallsAndUninstalls)
{
    const std::string product = "SOFTWARE\\Tessera\\Tessera Atlas";
    const std::string entry = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tessera Atlas";
    const std::string appPath = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Atlas.exe";
    const std::string group = SpecialFolder(CSIDL_PROGRAMS) + "\\Tessera Maps";
    const std::string target = root_ + "\\Tessera Atlas";
    const std::string main = FromUnixPath(LARGE_MAIN_DIR);
    for (const std::string& key : {product, entry, appPath})
        DeleteKeyTree(HKEY_LOCAL_MACHINE, key);
    // Its sibling's folder is its own maker's setting, inside the test's
    // folder.
    const std::string folders = "SOFTWARE\\Tessera\\folders";
    HKEY k;
    RegCreateKeyExA(HKEY_CURRENT_USER, folders.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
    RegSetValueExA(k, "ArchivistLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(archivist_.c_str()),
                   static_cast<DWORD>(archivist_.size() + 1));
    RegCloseKey(k);

    Process setup(FromUnixPath(LARGE_SETUP_EXE), "");
    ASSERT_TRUE(setup.Started());
    std::string licence;
    ASSERT_EQ("", e2e::WalkToInstall(setup.Id(), target, kPageWait, &licence));
    EXPECT_NE(std::string::npos, licence.find("TESSERA ATLAS LICENCE")) << licence;
    EXPECT_NE(std::string::npos, licence.find("for tests only")) << licence;
    HWND finish = WaitForFinish(setup);
    ASSERT_NE(nullptr, finish) << "finish page";
    EXPECT_EQ("Tessera Atlas Installation - Installation Successfully Completed", Text(finish));
    FinishWithoutStarting(finish);
    EXPECT_EQ(0, setup.Wait(e2e::kHangWait));

    std::vector<std::string> expected = ListFiles(main);
    expected.push_back("UnInstall.exe");
    expected.push_back("UnInstall.ini");
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(expected, ListFiles(target));
    for (const std::string& f : ListFiles(main))
        ASSERT_EQ(ReadFile(main + "\\" + f), ReadFile(target + "\\" + f)) << f;
    std::string value;
    EXPECT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, entry, "DisplayName", value));
    EXPECT_EQ("Tessera Atlas", value);
    EXPECT_TRUE(Exists(group + "\\Uninstall Tessera Atlas.lnk"));

    std::string command;
    ASSERT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, entry, "UninstallString", command));
    std::string uninstaller = target + "\\UnInstall.exe";
    ASSERT_EQ(0u, command.find("\"" + uninstaller + "\" "));
    Process uninstall(uninstaller, command.substr(uninstaller.size() + 3) + " /S");
    ASSERT_TRUE(uninstall.Started());
    EXPECT_EQ(0, uninstall.Wait(e2e::kHangWait));
    // The uninstaller's copy removes it and the emptied folder once the
    // uninstaller has ended.
    EXPECT_TRUE(WaitForChildrenOf(uninstall.Id(), kHangWait));
    EXPECT_FALSE(FolderExists(target));
    EXPECT_FALSE(FolderExists(group));
    for (const std::string& key : {product, entry, appPath})
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key)) << key;
    DeleteKeyTree(HKEY_CURRENT_USER, "SOFTWARE\\Tessera");
}

// Halvorsen Ledger, a second maker's product (tests/e2e/make_maker_product.py):
// its own names everywhere, and the life of a maker's versions: upgrades
// that drop and add files, in place and into another folder, an upgrade
// that fails, and a downgrade.
class LedgerE2e : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = TempFolder("e2e ledger");
        CreateDirectoryA(root_.c_str(), nullptr);
        target_ = root_ + "\\Ledger";
        group_ = SpecialFolder(CSIDL_PROGRAMS) + "\\Halvorsen Data";
        commonGroup_ = SpecialFolder(CSIDL_COMMON_PROGRAMS) + "\\Halvorsen Data";
        Clean();
    }
    void TearDown() override
    {
        Clean();
        RemoveTree(root_);
    }
    void Clean()
    {
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
            for (const char* key : {kShared, kExtension, kProgId})
                DeleteKeyTree(root, key);
        for (const char* key : {kMakerKey, kEntry, kAppPath})
            DeleteKeyTree(HKEY_LOCAL_MACHINE, key);
        RemoveTree(group_);
        RemoveTree(commonGroup_);
        RemoveTree(SetupFolder("Halvorsen Ledger", "Halvorsen"));
    }
    static std::string Setup(const char* version)
    {
        return FromUnixPath(std::string(LEDGER_DIR) + "/ledger-" + version + ".exe");
    }
    static std::string Main(const char* version)
    {
        return FromUnixPath(std::string(LEDGER_DIR) + "/" + version + "/main");
    }
    long Silent(const char* version, const std::string& arguments)
    {
        bool shown = false;
        return RunUnseen(Setup(version), "/S /LOG=\"" + root_ + "\\setup.log\" " + arguments, &shown);
    }
    // Through the wizard: the destination page offers folder (an earlier
    // installation's, when there is one), Next, Finish.
    // 3.9 asks for its tasks after the destination: Next keeps the
    // defaults.
    void Wizard(const char* version, const std::string& offered) { WizardOf(Setup(version), offered); }
    // With a program running, the programs page comes before the run and
    // names it: Next closes it, leaves it running (which ends with a
    // restart to come, 3010), or, when it does not close, ends it after
    // the second question.
    enum class Programs { None, Close, Leave, End };
    void WizardOf(const std::string& program, const std::string& offered, bool tasks = false,
                  Programs programs = Programs::None)
    {
        const bool leaveThem = programs == Programs::Leave;
        Process setup(program, "");
        ASSERT_TRUE(setup.Started());
        std::string error;
        HWND destination = WalkToDestination(setup.Id(), kPageWait, &error);
        ASSERT_NE(nullptr, destination) << error;
        EXPECT_EQ(offered, ItemText(destination, 1014));
        Click(destination, IDOK);
        if (tasks) {
            HWND page = WaitForDialog(setup.Id(), IDOK, "Additional Tasks", kPageWait);
            ASSERT_NE(nullptr, page) << "tasks page";
            Click(page, IDOK);
        }
        if (programs != Programs::None) {
            HWND page = WaitForDialog(setup.Id(), IDOK, "Programs in Use", kPageWait);
            ASSERT_NE(nullptr, page) << "programs page";
            EXPECT_EQ(1, SendDlgItemMessageA(page, 1060, LB_GETCOUNT, 0, 0));
            EXPECT_EQ(BST_CHECKED, SendDlgItemMessageA(page, 1061, BM_GETCHECK, 0, 0)) << "closing is the default";
            if (leaveThem) {
                SendDlgItemMessageA(page, 1061, BM_SETCHECK, BST_UNCHECKED, 0);
                SendDlgItemMessageA(page, 1062, BM_SETCHECK, BST_CHECKED, 0);
            }
            Click(page, IDOK);
            if (programs == Programs::End) {
                HWND question = WaitForOwnedDialog(page, kPageWait);
                ASSERT_NE(nullptr, question) << "the second question";
                Click(question, IDYES);
            }
        }
        HWND finish = WaitForDialog(setup.Id(), IDOK, "Installation Successfully Completed", kInstallWait);
        ASSERT_NE(nullptr, finish) << "finish page";
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(finish, 1020))) << "a product without a web site has no web button";
        EXPECT_EQ(leaveThem, ItemText(finish, 1040).find("Restart Windows to complete") != std::string::npos)
            << ItemText(finish, 1040);
        EXPECT_EQ(leaveThem, HasItem(finish, 1043)) << "Restart Windows now (unchecked: later)";
        FinishWithoutStarting(finish);
        EXPECT_EQ(leaveThem ? 3010 : 0, setup.Wait(e2e::kHangWait));
        EndChildrenOf(setup.Id());
    }
    // The version's files in folder, byte for byte, with the uninstaller;
    // its registry values in the hive of root.
    void ExpectVersion(const char* version, const std::string& folder, std::vector<std::string> users = {},
                       HKEY root = HKEY_LOCAL_MACHINE, std::string registered = "")
    {
        std::vector<std::string> expected = ListFiles(Main(version));
        for (const char* f : {"UnInstall.exe", "UnInstall.ini"})
            expected.push_back(f);
        expected.insert(expected.end(), users.begin(), users.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(expected, ListFiles(folder));
        for (const std::string& f : ListFiles(Main(version)))
            EXPECT_TRUE(ReadFile(Main(version) + "\\" + f) == ReadFile(folder + "\\" + f)) << f << " differs";
        std::string value;
        EXPECT_TRUE(ReadRegString(root, kProductKey, "Version", value));
        EXPECT_EQ(version, value);
        EXPECT_TRUE(ReadRegString(root, kEntry, "DisplayVersion", value));
        EXPECT_EQ(version, value);
        EXPECT_TRUE(ReadRegString(root, kProductKey, "InstallDir", value));
        EXPECT_EQ((registered.empty() ? folder : registered) + "\\", value);
        EXPECT_NE(std::string::npos, ReadText(folder + "\\UnInstall.ini").find(std::string("version=") + version));
    }
    // The uninstall entry's quiet command (from the hive of root), to its
    // end and its copy's: the copy deletes the program, then finishes the
    // removal's journal and the product's setup folder.
    void Uninstall(const std::string& folder, HKEY root = HKEY_LOCAL_MACHINE, REGSAM view = 0)
    {
        std::string quiet;
        ASSERT_TRUE(ReadRegString(root, kEntry, "QuietUninstallString", quiet, view));
        size_t programEnd = quiet.find("\" ");
        ASSERT_NE(std::string::npos, programEnd);
        Process uninstall(quiet.substr(1, programEnd - 1), quiet.substr(programEnd + 2));
        EXPECT_EQ(0, uninstall.Wait(e2e::kHangWait));
        std::string setupFolder =
            SetupFolder("Halvorsen Ledger", "Halvorsen", root == HKEY_CURRENT_USER ? Scope::User : Scope::Machine);
        EXPECT_TRUE(WaitUntil(
            [&] { return !Exists(folder + "\\UnInstall.exe") && !FolderExists(setupFolder); }, kPageWait));
    }
    State Now(const std::string& folder)
    {
        return Snapshot({folder, group_, commonGroup_}, {kMakerKey, kEntry, kAppPath});
    }
    // A value of root's hive as its type and bytes; empty when it is not there.
    static std::string Raw(HKEY root, const std::string& key, const char* name)
    {
        HKEY k;
        if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, &k) != ERROR_SUCCESS)
            return "";
        DWORD type = 0, size = 4096;
        std::string data(size, '\0');
        LONG rc = RegQueryValueExA(k, name, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size);
        RegCloseKey(k);
        return rc == ERROR_SUCCESS ? std::to_string(type) + ":" + data.substr(0, size) : "";
    }
    // The PATH of root's environment, and setting it.
    static const char* EnvironmentKey(HKEY root)
    {
        return root == HKEY_CURRENT_USER ? "Environment" : "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
    }
    static std::string Path(HKEY root = HKEY_LOCAL_MACHINE)
    {
        std::string raw = Raw(root, EnvironmentKey(root), "Path");
        return raw.empty() ? "" : std::string(raw.c_str() + raw.find(':') + 1);
    }
    static void SetPath(const std::string& path, HKEY root = HKEY_LOCAL_MACHINE)
    {
        HKEY k;
        if (RegCreateKeyExA(root, EnvironmentKey(root), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr) ==
            ERROR_SUCCESS) {
            RegSetValueExA(k, "Path", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                           static_cast<DWORD>(path.size() + 1));
            RegCloseKey(k);
        }
    }
    // The product's own values (make_maker_product.py) as the setup wrote
    // them into root's hive, 3.9's binary one with them or not.
    void ExpectOwnValues(HKEY root, const std::string& folder, bool seed)
    {
        const std::string settings = std::string(kMakerKey) + "\\Ledger Settings";
        const std::pair<const char*, std::string> expected[] = {
            {"Theme", "1:" + std::string("dark | wide\0", 12)},
            {"Home", "2:" + folder + "\\Data" + '\0'},
            {"Columns", "4:" + std::string("\x10\0\0\0", 4)},
            {"Books", "7:" + std::string("2024\0" "2025\0\0", 11)},
            {"Limit", "11:" + std::string("\0\0\0\0\1\0\0\0", 8)},
            {"Seed", seed ? "3:\x01\x02\xff" : ""}};
        for (const auto& value : expected)
            EXPECT_EQ(value.second, Raw(root, settings, value.first)) << value.first;
        EXPECT_EQ("1:" + folder + "\\Data\\words.dic" + '\0', Raw(root, kShared, "Dictionary"));
        EXPECT_EQ("1:" + std::string("Halvorsen Ledger\0", 17), Raw(root, kShared, "LastProduct"));
    }

    // 3.9's desktop link, on every user's desktop or the user's own.
    static std::string Desktop(int csidl = CSIDL_COMMON_DESKTOPDIRECTORY)
    {
        return SpecialFolder(csidl) + "\\Halvorsen Ledger.lnk";
    }

    static constexpr const char* kMakerKey = "SOFTWARE\\Halvorsen";
    static constexpr const char* kProductKey = "SOFTWARE\\Halvorsen\\Halvorsen Ledger";
    static constexpr const char* kEntry = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Halvorsen Ledger";
    static constexpr const char* kAppPath = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Ledger.exe";
    // A key the product shares with another program's values.
    static constexpr const char* kShared = "SOFTWARE\\Shared Tools\\Spell";
    static constexpr const char* kExtension = "SOFTWARE\\Classes\\.hlg";
    static constexpr const char* kProgId = "SOFTWARE\\Classes\\Halvorsen.Ledger.Book";
    // The Start menu's folder of the three default links, in the installing
    // user's Programs (3.10's), and of 3.9's own (every user's when it is
    // installed for every user).
    std::string root_, target_, group_, commonGroup_;
};

// Nothing of the demo's maker: the keys, the setup folder, the run lock
// and the journal are the product's maker's, named from its publisher; the
// log names every folder, file, value and link the run made, and none says
// Corvane. The uninstaller then takes every trace away, its maker's key
// too.
TEST_F(LedgerE2e, ItsOwnMakerEverywhereAndNoTraceAfterRemoval)
{
    // Another program's value where the product writes one of its own.
    HKEY shared;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kShared, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &shared,
                                             nullptr));
    RegSetValueExA(shared, "Dictionary", 0, REG_SZ, reinterpret_cast<const BYTE*>("C:\\Other\\words.dic"), 19);
    RegCloseKey(shared);
    // And on the PATH: another program's folder before the installation,
    // one after it; the product's own two at the end.
    const std::string path = Path();
    SetPath(path + ";C:\\Other\\bin");
    ASSERT_EQ(0, Silent("3.9", "/D=" + target_));
    ExpectOwnValues(HKEY_LOCAL_MACHINE, target_, true);
    EXPECT_EQ(path + ";C:\\Other\\bin;" + target_ + ";" + target_ + "\\Reports", Path());
    SetPath(Path() + ";C:\\Later\\bin");
    // The file type opens with the product, until another program takes
    // the extension.
    EXPECT_EQ("1:Halvorsen.Ledger.Book" + std::string(1, '\0'), Raw(HKEY_LOCAL_MACHINE, kExtension, ""));
    EXPECT_EQ("1:\"" + target_ + "\\Ledger.exe\" \"%1\"" + std::string(1, '\0'),
              Raw(HKEY_LOCAL_MACHINE, std::string(kProgId) + "\\shell\\open\\command", ""));
    RegSetValueA(HKEY_LOCAL_MACHINE, kExtension, REG_SZ, "Other.Book", 10);
    std::string log = ReadFile(root_ + "\\setup.log");
    EXPECT_EQ(std::string::npos, log.find("Corvane")) << log;
    EXPECT_EQ(std::string::npos, log.find("sibling")) << "no sibling, no sibling's folder";
    for (const std::string& line : {std::string("the product's run lock: Global\\Halvorsen Setup Halvorsen Ledger"),
                                    "the run's journal: " + JournalFile("Halvorsen Ledger", "Halvorsen"),
                                    std::string("a first installation of version 3.9")})
        EXPECT_NE(std::string::npos, log.find(line)) << line;
    ExpectVersion("3.9", target_);
    std::string ini = ReadText(target_ + "\\UnInstall.ini");
    EXPECT_NE(std::string::npos, ini.find("maker=Halvorsen")) << ini;
    EXPECT_EQ(std::string::npos, ini.find("Corvane")) << ini;
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Corvane\\Halvorsen Ledger"));
    // The programs' manifests name the maker and the product too.
    for (const auto& program : {std::make_pair(Setup("3.9"), "Halvorsen.HalvorsenLedger.Setup"),
                                std::make_pair(target_ + "\\UnInstall.exe", "Halvorsen.HalvorsenLedger.Uninstall")}) {
        std::string bytes = ReadFile(program.first);
        EXPECT_NE(std::string::npos, bytes.find(std::string("name=\"") + program.second + "\"")) << program.first;
        EXPECT_EQ(std::string::npos, bytes.find("Corvane.GlyphForge")) << program.first;
    }
    EXPECT_TRUE(Exists(commonGroup_ + "\\Halvorsen Ledger.lnk"));
    EXPECT_TRUE(Exists(SetupFolder("Halvorsen Ledger", "Halvorsen") + "\\setup.exe")) << "the repair copy";
    for (const auto& entry : Now(target_))
        EXPECT_EQ(std::string::npos, (entry.first + " = " + entry.second).find("Corvane")) << entry.first;

    Uninstall(target_);
    EXPECT_TRUE(WaitUntil([&] { return !FolderExists(target_); }, kPageWait)) << "the product's folder stays";
    EXPECT_FALSE(FolderExists(commonGroup_));
    EXPECT_FALSE(Exists(Desktop()));
    EXPECT_FALSE(FolderExists(SetupFolder("Halvorsen Ledger", "Halvorsen")));
    for (const char* key : {kMakerKey, kEntry, kAppPath})
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key)) << key;
    // The other program's value is its own again; the one the product
    // keeps stays.
    EXPECT_EQ("1:C:\\Other\\words.dic" + std::string(1, '\0'), Raw(HKEY_LOCAL_MACHINE, kShared, "Dictionary"));
    EXPECT_NE("", Raw(HKEY_LOCAL_MACHINE, kShared, "LastProduct"));
    EXPECT_EQ(path + ";C:\\Other\\bin;C:\\Later\\bin", Path());
    SetPath(path);
    EXPECT_EQ("1:Other.Book" + std::string(1, '\0'), Raw(HKEY_LOCAL_MACHINE, kExtension, ""));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kProgId));
}

// 1.0 then 2.0 over it, silently and through the wizard (which offers the
// installed folder): the three files 2.0 no longer carries go with the
// folders they leave empty, the two new ones come, the user's own files
// stay, and the entry says 2.0; the uninstaller then leaves only the
// user's files.
TEST_F(LedgerE2e, UpgradeRemovesWhatTheNewVersionNoLongerCarries)
{
    for (bool silent : {true, false}) {
        SCOPED_TRACE(silent ? "silent" : "wizard");
        ASSERT_EQ(0, Silent("3.9", "/D=" + target_));
        EXPECT_EQ(target_ + "\\Ledger.exe", LinkTarget(Desktop()));
        ASSERT_TRUE(WriteFile(target_ + "\\notes.txt", "the user's own"));
        ASSERT_TRUE(WriteFile(target_ + "\\Data\\mine.dat", "the user's own data"));
        if (silent)
            ASSERT_EQ(0, Silent("3.10", ""));
        else
            ASSERT_NO_FATAL_FAILURE(Wizard("3.10", target_ + "\\"));
        ExpectVersion("3.10", target_, {"Data\\mine.dat", "notes.txt"});
        ExpectOwnValues(HKEY_LOCAL_MACHINE, target_, false);
        EXPECT_EQ(std::string::npos, Path().find(target_ + "\\Reports")) << "3.10 no longer declares it";
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kExtension)) << "nor the file type";
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kProgId));
        EXPECT_FALSE(Exists(Desktop())) << "nor the desktop link";
        // 3.10's three links are its defaults, in the user's Start menu.
        EXPECT_FALSE(FolderExists(commonGroup_)) << "3.9's links in every user's Start menu";
        EXPECT_EQ(target_ + "\\Docs\\Guide.txt", LinkTarget(group_ + "\\Halvorsen Ledger Help.lnk"));
        EXPECT_NE(std::string::npos, Path().find(target_)) << Path();
        EXPECT_FALSE(FolderExists(target_ + "\\Reports")) << "left empty by the upgrade";
        EXPECT_FALSE(FolderExists(target_ + "\\Data\\Old"));
        if (silent) {
            std::string log = ReadFile(root_ + "\\setup.log");
            EXPECT_NE(std::string::npos, log.find("this run upgrades it to version 3.10")) << log;
            EXPECT_NE(std::string::npos, log.find("removed " + target_ + "\\Data\\rates.dat")) << log;
        }
        Uninstall(target_);
        std::vector<std::string> left = {"Data\\mine.dat", "notes.txt"};
        EXPECT_EQ(left, ListFiles(target_));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kProductKey));
        EXPECT_EQ("", Raw(HKEY_LOCAL_MACHINE, kShared, "Dictionary")) << "there was none before";
        EXPECT_EQ(std::string::npos, Path().find(target_)) << Path();
        RemoveTree(target_);
    }
}

// A different folder chosen for the upgrade moves the product: the
// earlier folder keeps only what the user made there.
TEST_F(LedgerE2e, UpgradeIntoAnotherFolderLeavesOnlyTheUsersFiles)
{
    std::string other = root_ + "\\Ledger 2";
    ASSERT_EQ(0, Silent("3.9", "/D=" + target_));
    ASSERT_TRUE(WriteFile(target_ + "\\Reports\\mine.txt", "the user's own"));
    ASSERT_EQ(0, Silent("3.10", "/D=" + other));
    ExpectVersion("3.10", other);
    std::vector<std::string> left = {"Reports\\mine.txt"};
    EXPECT_EQ(left, ListFiles(target_));
    EXPECT_FALSE(FolderExists(target_ + "\\Data"));
    std::string value;
    EXPECT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, kProductKey, "InstallDir", value));
    EXPECT_EQ(other + "\\", value);
}

// The installed folder named another way (through a link, by its short
// name, on a drive letter mapped onto it) is the same folder: 2.0 upgrades
// 1.0 in place, keeps every file it wrote and takes away only what it
// dropped.
TEST_F(LedgerE2e, UpgradeThroughAnotherSpellingOfTheFolderIsInPlace)
{
    // The drive is a link among the prefix's drives, which Wine reads anew
    // at each path.
    const char* drive = "Z:\\bin\\sh -c \"ln -sfn \\\"$0\\\" \\\"$WINEPREFIX/dosdevices/m:\\\"\"";
    for (const char* way : {"link", "short name", "mapped drive"}) {
        SCOPED_TRACE(way);
        ASSERT_EQ(0, Silent("3.9", "/D=" + target_));
        ASSERT_TRUE(WriteFile(target_ + "\\notes.txt", "the user's own"));
        std::string spelt;
        if (way[0] == 'l') {
            spelt = root_ + "\\Via";
            ASSERT_TRUE(testfiles::MakeUnixLink(target_, spelt));
        } else if (way[0] == 's') {
            char shortName[MAX_PATH];
            DWORD n = GetShortPathNameA(target_.c_str(), shortName, sizeof shortName);
            ASSERT_TRUE(n > 0 && n < sizeof shortName);
            spelt = shortName;
        } else {
            spelt = "M:\\Ledger";
            ASSERT_TRUE(testfiles::RunUnixCommand(drive, {root_}));
            ASSERT_TRUE(WaitUntil([&] { return FolderExists(spelt); }, kHangWait));
        }
        ASSERT_NE(target_, spelt);
        ASSERT_EQ(0, Silent("3.10", "/D=" + spelt));
        ExpectVersion("3.10", target_, {"notes.txt"}, HKEY_LOCAL_MACHINE, spelt);
        EXPECT_FALSE(FolderExists(target_ + "\\Reports")) << "left empty by the upgrade";
        Uninstall(spelt);
        std::vector<std::string> left = {"notes.txt"};
        EXPECT_EQ(left, ListFiles(target_));
        if (way[0] == 'l')
            testfiles::RemoveLink(spelt);
        else if (way[0] == 'm')
            testfiles::RunUnixCommand("Z:\\bin\\sh -c \"rm -f \\\"$WINEPREFIX/dosdevices/m:\\\"\"", {});
        RemoveTree(target_);
    }
}

// An upgrade that fails (a file held open: a silent run aborts at the
// copy error) gives back 1.0 byte for byte, its files that 2.0 drops
// included, with its registry values.
TEST_F(LedgerE2e, FailedUpgradeGivesBackTheEarlierVersion)
{
    ASSERT_EQ(0, Silent("3.9", "/D=" + target_));
    State before = Now(target_);
    HANDLE held = CreateFileA((target_ + "\\Docs\\Guide.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(1603, Silent("3.10", ""));
    CloseHandle(held);
    EXPECT_EQ("", Differences(before, Now(target_)));
    EXPECT_FALSE(Exists(JournalFile("Halvorsen Ledger", "Halvorsen")));
}

// An older version over a newer one: the wizard asks first, and No (the
// default) changes nothing; a silent run is refused with 1638.
TEST_F(LedgerE2e, DowngradeIsAskedForOrRefused)
{
    ASSERT_EQ(0, Silent("3.10", "/D=" + target_));
    State before = Now(target_);
    EXPECT_EQ(1638, Silent("3.9", ""));
    EXPECT_NE(std::string::npos, ReadFile(root_ + "\\setup.log").find("exit code 1638"));
    EXPECT_EQ("", Differences(before, Now(target_)));

    Process setup(Setup("3.9"), "");
    ASSERT_TRUE(setup.Started());
    HWND question = WaitForDialog(setup.Id(), IDNO, "", kPageWait);
    ASSERT_NE(nullptr, question) << "the downgrade question";
    EXPECT_NE(std::string::npos, ItemText(question, 0xFFFF).find("Version 3.10 of Halvorsen Ledger is installed"))
        << ItemText(question, 0xFFFF);
    Click(question, IDNO);
    EXPECT_EQ(1602, setup.Wait(e2e::kHangWait));
    EXPECT_EQ("", Differences(before, Now(target_)));
}

// The product's program running, holding a data file that 3.10 replaces,
// while 3.10 is installed over 3.9: asked to close, silently or on the
// wizard's programs page that names it, it closes and the run ends with 0.
// Left running (/NOCLOSEAPPLICATIONS, "Do not close them"), the file's new
// version waits beside it for the restart that the run asks for (3010).
// One that does not close is ended only on the wizard's second question.
// The silent uninstaller closes the running program too.
TEST_F(LedgerE2e, ProgramsThatHoldTheFilesAreAskedToClose)
{
    const std::string data = target_ + "\\Data\\accounts.dat";
    auto held = [&] {
        HANDLE h = CreateFileA(data.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
        return h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
    };
    const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    const std::string pendingBefore = Raw(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations");
    for (const char* way : {"silent", "wizard", "silent, left running", "wizard, left running", "wizard, ended"}) {
        SCOPED_TRACE(way);
        const bool wizard = way[0] == 'w', leave = strstr(way, "left") != nullptr, end = strstr(way, "ended") != nullptr;
        ASSERT_EQ(0, Silent("3.9", "/D=" + target_));
        const std::string oldData = ReadFile(data);
        ASSERT_TRUE(CopyFileA(FromUnixPath(HOLDER_PROGRAM).c_str(), (target_ + "\\Ledger.exe").c_str(), FALSE));
        auto program = std::make_unique<Process>(target_ + "\\Ledger.exe", "\"" + data + "\"" + (end ? " stay" : ""));
        ASSERT_TRUE(WaitUntil(held, kPageWait)) << "the program holds its data";
        if (wizard) {
            ASSERT_NO_FATAL_FAILURE(WizardOf(Setup("3.10"), target_ + "\\", false,
                                             end ? Programs::End : leave ? Programs::Leave : Programs::Close));
        } else {
            EXPECT_EQ(leave ? 3010 : 0, Silent("3.10", leave ? "/NOCLOSEAPPLICATIONS" : ""));
            std::string log = ReadFile(root_ + "\\setup.log");
            EXPECT_NE(std::string::npos, log.find("programs that use files of the installation: Ledger.exe (")) << log;
            EXPECT_NE(std::string::npos, log.find(leave ? "/NOCLOSEAPPLICATIONS: they are left running" : "they have closed"))
                << log;
            if (leave) {
                EXPECT_NE(std::string::npos, log.find("accounts.dat is in use: its new version is written beside it"))
                    << log;
            }
        }
        if (leave) {
            EXPECT_TRUE(held()) << "the program still runs";
            EXPECT_TRUE(oldData == ReadFile(data)) << "the file in use is left as it is until the restart";
            std::string pending = Raw(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations");
            EXPECT_NE(std::string::npos, pending.find("accounts.dat")) << "its new version goes in at the restart";
            PostMessageA(FindWindowA("LedgerHolder", nullptr), WM_CLOSE, 0, 0);
        }
        EXPECT_EQ(end ? 1 : 0, program->Wait(e2e::kHangWait)) << "the program was asked to close, or ended";
        if (!leave)
            ExpectVersion("3.10", target_);
        if (!leave && !wizard) {
            // Running again while the silent uninstaller removes it.
            ASSERT_TRUE(CopyFileA(FromUnixPath(HOLDER_PROGRAM).c_str(), (target_ + "\\Ledger.exe").c_str(), FALSE));
            program = std::make_unique<Process>(target_ + "\\Ledger.exe", "\"" + data + "\"");
            ASSERT_TRUE(WaitUntil(held, kPageWait)) << "the program holds its data again";
        }
        Uninstall(target_);
        EXPECT_EQ(end ? 1 : 0, program->Wait(e2e::kHangWait)) << "the uninstaller asked the program to close";
        if (!leave) {
            EXPECT_FALSE(FolderExists(target_)) << "the product is gone";
        }
        RemoveTree(target_);
    }
    // The restart never comes here: the renames asked for go again.
    HKEY manager;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &manager));
    size_t colon = pendingBefore.find(':');
    if (colon == std::string::npos)
        RegDeleteValueA(manager, "PendingFileRenameOperations");
    else
        RegSetValueExA(manager, "PendingFileRenameOperations", 0, std::stoul(pendingBefore.substr(0, colon)),
                       reinterpret_cast<const BYTE*>(pendingBefore.data() + colon + 1),
                       static_cast<DWORD>(pendingBefore.size() - colon - 1));
    RegCloseKey(manager);
}

// Halvorsen Ledger with 64-bit programs (Architecture = x64), from the same
// 32-bit setup: on 64-bit Windows (the guest's WOW64 prefix, the 64-bit
// twin's) its 3.10 replaces the 32-bit build's 3.9 and goes into the
// system's own Program Files, with every key in the registry's 64-bit view
// and none in the 32-bit one, nothing left of 3.9's folder, and its
// program starts; its quiet uninstaller leaves nothing in either view. On
// 32-bit Windows (the guest's 32-bit prefix) it is refused with 1633 and
// nothing changes.
TEST_F(LedgerE2e, SixtyFourBitProductInTheSystemsOwnPlacesOrRefused)
{
    const std::string setup = FromUnixPath(std::string(LEDGER_X64_DIR) + "/ledger-3.10.exe");
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    bool windows64 = sizeof(void*) == 8 || wow64;
    std::string x86Folder;
    if (windows64) {
        ASSERT_EQ(0, Silent("3.9", ""));
        ASSERT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, kProductKey, "InstallDir", x86Folder));
    }
    const std::string log = root_ + "\\x64.log";
    bool shown = false;
    long exit = RunUnseen(setup, "/S /LOG=\"" + log + "\"", &shown);
    if (!windows64) {
        EXPECT_EQ(1633, exit);
        EXPECT_NE(std::string::npos, ReadFile(log).find("this Windows is 32-bit: it cannot be installed")) << ReadFile(log);
        for (const char* key : {kMakerKey, kEntry, kAppPath})
            EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key)) << key;
        return;
    }
    ASSERT_EQ(0, exit) << ReadFile(log);
    std::string programFiles;
    ASSERT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                              programFiles, KEY_WOW64_64KEY));
    const std::string folder = programFiles + "\\Halvorsen Data\\Halvorsen Ledger";
    EXPECT_EQ(std::string::npos, folder.find("(x86)"));
    ASSERT_TRUE(Exists(folder + "\\Ledger.exe")) << ReadFile(log);
    EXPECT_NE(std::string::npos, ReadText(folder + "\\UnInstall.ini").find("architecture=x64"));
    std::string installDir;
    EXPECT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, kProductKey, "InstallDir", installDir, KEY_WOW64_64KEY));
    EXPECT_EQ(folder + "\\", installDir);
    if (x86Folder != installDir) {
        EXPECT_FALSE(FolderExists(x86Folder)) << "the 32-bit build's folder";
    }
    EXPECT_NE(std::string::npos, ReadFile(log).find("this run upgrades it to version 3.10")) << ReadFile(log);
    const std::string settings = std::string(kMakerKey) + "\\Ledger Settings";
    // 3.9's values and keys are gone from the 32-bit view. (Wine keeps App
    // Paths in one copy for both views.)
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kAppPath, KEY_WOW64_64KEY));
    for (const std::string& key : {std::string(kProductKey), std::string(kEntry), settings}) {
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, key, KEY_WOW64_64KEY)) << key;
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key, KEY_WOW64_32KEY)) << key;
    }
    // Wine in the emulated guest once failed to start the 64-bit program
    // from this 32-bit one (CreateProcess, on a fresh machine; not seen in
    // a dozen runs since): a second start tells that apart from a program
    // that cannot start, and the error is named either way.
    auto product = std::make_unique<Process>(folder + "\\Ledger.exe", "");
    if (!product->Started()) {
        std::fprintf(stderr, "the 64-bit program did not start (error %lu): starting it again\n",
                     static_cast<unsigned long>(product->StartError()));
        product = std::make_unique<Process>(folder + "\\Ledger.exe", "");
    }
    EXPECT_EQ(0, product->Wait(e2e::kHangWait)) << "the product does not start: error " << product->StartError();

    Uninstall(folder, HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY);
    EXPECT_TRUE(WaitUntil([&] { return !FolderExists(folder); }, kPageWait)) << "the product's folder stays";
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY})
        for (const char* key : {kMakerKey, kEntry, kAppPath, kExtension, kProgId})
            EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key, view)) << key;
    RemoveTree(programFiles + "\\Halvorsen Data");
}

// Halvorsen Ledger made for the user alone (Scope = user): Windows starts
// its setup and its uninstaller without asking for an administrator; it
// goes into the user's own folder, hive and Start menu, starts, and leaves
// what every user shares as it found it, silently and through the wizard.
class LedgerUserE2e : public LedgerE2e {
protected:
    void SetUp() override
    {
        LedgerE2e::SetUp();
        userTarget_ = SpecialFolder(CSIDL_LOCAL_APPDATA) + "\\Programs\\Halvorsen Ledger";
        userPrograms_ = FolderExists(SpecialFolder(CSIDL_LOCAL_APPDATA) + "\\Programs");
        // The per-user uninstaller leaves its copy in the user's temporary
        // folder: the test's own.
        GetEnvironmentVariableA("TEMP", oldTemp_, sizeof oldTemp_);
        temp_ = root_ + "\\tmp";
        CreateDirectoryA(temp_.c_str(), nullptr);
        SetEnvironmentVariableA("TEMP", temp_.c_str());
        SetEnvironmentVariableA("TMP", temp_.c_str());
        CleanUser();
    }
    void TearDown() override
    {
        CleanUser();
        if (!userPrograms_)
            RemoveDirectoryA((SpecialFolder(CSIDL_LOCAL_APPDATA) + "\\Programs").c_str());
        SetEnvironmentVariableA("TEMP", oldTemp_);
        SetEnvironmentVariableA("TMP", oldTemp_);
        LedgerE2e::TearDown();
    }
    void CleanUser()
    {
        for (const char* key : {kMakerKey, kEntry, kAppPath})
            DeleteKeyTree(HKEY_CURRENT_USER, key);
        RemoveTree(userTarget_);
        RemoveTree(SetupFolder("Halvorsen Ledger", "Halvorsen", Scope::User));
        RemoveDirectoryA((SpecialFolder(CSIDL_LOCAL_APPDATA) + "\\Halvorsen Setup").c_str());
    }
    static std::string UserSetup(const char* version)
    {
        return FromUnixPath(std::string(LEDGER_USER_DIR) + "/ledger-" + version + ".exe");
    }
    long UserSilent(const char* version, const std::string& arguments = "")
    {
        bool shown = false;
        return RunUnseen(UserSetup(version), "/S /LOG=\"" + root_ + "\\user.log\" " + arguments, &shown);
    }
    // What every user shares, which a per-user run never changes: the
    // programs' folders, the common application data (the all-users Start
    // menu with it), the machine's product, uninstall and application path
    // keys, and the deletions planned for the next restart.
    State MachineWide()
    {
        std::vector<std::string> folders = {SpecialFolder(CSIDL_PROGRAM_FILES), SpecialFolder(CSIDL_COMMON_APPDATA)};
        std::string x86 = SpecialFolder(CSIDL_PROGRAM_FILESX86);
        if (!x86.empty() && x86 != folders[0])
            folders.push_back(x86);
        return Snapshot(folders, {kMakerKey, kShared, kExtension, kProgId, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                                  "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths",
                                  "SYSTEM\\CurrentControlSet\\Control\\Session Manager"});
    }
    // The per-user installation: its folder, the user's keys and the
    // setup's private folder of the user.
    State UserNow()
    {
        return Snapshot({userTarget_, SetupFolder("Halvorsen Ledger", "Halvorsen", Scope::User)},
                        {std::string("HKCU\\") + kMakerKey, std::string("HKCU\\") + kEntry,
                         std::string("HKCU\\") + kAppPath});
    }
    // The copy that removed the uninstaller's file has ended.
    void WaitForTheCopy()
    {
        EXPECT_TRUE(WaitUntil([&] {
            for (const std::string& name : ListFiles(temp_))
                DeleteFileA((temp_ + "\\" + name).c_str());
            return ListFiles(temp_).empty();
        }, kPageWait)) << "the uninstaller's copy is still running";
    }
    std::string userTarget_, temp_;
    bool userPrograms_ = false;
    char oldTemp_[MAX_PATH] = "";
};

TEST_F(LedgerUserE2e, InstallsForTheUserAloneAndLeavesTheMachineAsItWas)
{
    std::string program = ReadFile(UserSetup("3.9"));
    EXPECT_NE(std::string::npos, program.find("level=\"asInvoker\""));
    EXPECT_EQ(std::string::npos, program.find("requireAdministrator"));
    State machine = MachineWide();
    // A folder that every user shares is refused, even to an administrator.
    EXPECT_EQ(1603, UserSilent("3.9", "/D=" + SpecialFolder(CSIDL_PROGRAM_FILES) + "\\Halvorsen Ledger"));
    EXPECT_NE(std::string::npos, ReadFile(root_ + "\\user.log").find("a per-user installation writes nothing in"));
    for (bool silent : {true, false}) {
        SCOPED_TRACE(silent ? "silent" : "wizard");
        if (silent)
            ASSERT_EQ(0, UserSilent("3.9"));
        else
            ASSERT_NO_FATAL_FAILURE(WizardOf(UserSetup("3.9"), userTarget_ + "\\", true));
        ExpectVersion("3.9", userTarget_, {}, HKEY_CURRENT_USER);
        ExpectOwnValues(HKEY_CURRENT_USER, userTarget_, true);
        EXPECT_NE(std::string::npos, Path(HKEY_CURRENT_USER).find(userTarget_ + ";" + userTarget_ + "\\Reports"));
        EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kProgId));
        std::string ini = ReadText(userTarget_ + "\\UnInstall.ini");
        EXPECT_NE(std::string::npos, ini.find("scope=user")) << ini;
        std::string uninstaller = ReadFile(userTarget_ + "\\UnInstall.exe");
        EXPECT_NE(std::string::npos, uninstaller.find("level=\"asInvoker\""));
        EXPECT_EQ(std::string::npos, uninstaller.find("requireAdministrator"));
        std::string value;
        EXPECT_TRUE(ReadRegString(HKEY_CURRENT_USER, kAppPath, "", value));
        EXPECT_EQ(userTarget_ + "\\Ledger.exe", value);
        EXPECT_EQ(userTarget_ + "\\Ledger.exe", LinkTarget(group_ + "\\Halvorsen Ledger.lnk"));
        EXPECT_EQ(userTarget_ + "\\Ledger.exe", LinkTarget(Desktop(CSIDL_DESKTOPDIRECTORY))) << "its task's link";
        EXPECT_TRUE(Exists(SetupFolder("Halvorsen Ledger", "Halvorsen", Scope::User) + "\\setup.exe"))
            << "the repair copy";
        if (silent) {
            std::string log = ReadFile(root_ + "\\user.log");
            for (const std::string& line :
                 {std::string("installation scope: per user"),
                  std::string("the product's run lock: Global\\Halvorsen Setup Halvorsen Ledger for S-1-"),
                  "the run's journal: " + JournalFile("Halvorsen Ledger", "Halvorsen", Scope::User),
                  std::string("a first installation of version 3.9")})
                EXPECT_NE(std::string::npos, log.find(line)) << line;
        }
        Process product(userTarget_ + "\\Ledger.exe", "");
        EXPECT_EQ(0, product.Wait(e2e::kHangWait)) << "the product does not start";

        Uninstall(userTarget_, HKEY_CURRENT_USER);
        WaitForTheCopy();
        EXPECT_FALSE(FolderExists(userTarget_));
        EXPECT_FALSE(FolderExists(group_));
        EXPECT_FALSE(Exists(Desktop(CSIDL_DESKTOPDIRECTORY)));
        EXPECT_FALSE(FolderExists(SpecialFolder(CSIDL_LOCAL_APPDATA) + "\\Halvorsen Setup"));
        for (const char* key : {kMakerKey, kEntry, kAppPath, kExtension, kProgId})
            EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key)) << key;
        EXPECT_EQ("", Differences(machine, MachineWide()));
    }
}

// The product for every user and for the user side by side: each finds
// only its own scope's installation (the user's upgrade too), the Start
// menu's links stay with the installation that made them first, and each
// uninstaller takes away its own installation and nothing of the other.
// For the user alone, the product's program left running while 3.10 is
// installed: Windows lets the run rename it, and its old copy, which only
// a restart could take in an installation for every user, is listed in
// the user's private folder instead; nothing waits for a restart (0). The
// uninstaller closes the program and deletes the old copy with the rest.
TEST_F(LedgerUserE2e, ARunningProgramsOldCopyGoesWithTheNextRun)
{
    ASSERT_EQ(0, UserSilent("3.9"));
    ASSERT_TRUE(CopyFileA(FromUnixPath(HOLDER_PROGRAM).c_str(), (userTarget_ + "\\Ledger.exe").c_str(), FALSE));
    Process program(userTarget_ + "\\Ledger.exe", "");
    ASSERT_TRUE(WaitUntil([] { return FindWindowA("LedgerHolder", nullptr) != nullptr; }, kPageWait));
    EXPECT_EQ(0, UserSilent("3.10", "/NOCLOSEAPPLICATIONS"));
    const std::string list = SetupFolder("Halvorsen Ledger", "Halvorsen", Scope::User) + "\\in use.txt";
    EXPECT_NE(std::string::npos, ReadFile(list).find(userTarget_ + "\\~RB")) << ReadFile(root_ + "\\user.log");
    Uninstall(userTarget_, HKEY_CURRENT_USER);
    EXPECT_EQ(0, program.Wait(e2e::kHangWait)) << "the uninstaller asked the program to close";
    WaitForTheCopy();
    EXPECT_FALSE(FolderExists(userTarget_)) << "the old copy stayed";
}

TEST_F(LedgerUserE2e, BesideTheMachinesInstallationEachRemovesOnlyItsOwn)
{
    // 3.10 for every user: its links are the default ones, in this user's
    // Start menu.
    ASSERT_EQ(0, Silent("3.10", "/D=" + target_));
    ASSERT_EQ(0, UserSilent("3.9"));
    std::string log = ReadFile(root_ + "\\user.log");
    EXPECT_NE(std::string::npos, log.find("a first installation of version 3.9")) << log;
    EXPECT_NE(std::string::npos, log.find("link " + group_ + "\\Halvorsen Ledger.lnk leads into the installation in " +
                                          target_ + "\\, which is every user's: left as it is"))
        << log;
    ASSERT_EQ(0, UserSilent("3.10"));
    EXPECT_NE(std::string::npos, ReadFile(root_ + "\\user.log").find("this run upgrades it to version 3.10"));
    ExpectVersion("3.10", target_);
    ExpectVersion("3.10", userTarget_, {}, HKEY_CURRENT_USER);
    EXPECT_EQ(target_ + "\\Ledger.exe", LinkTarget(group_ + "\\Halvorsen Ledger.lnk"));

    State machine = Now(target_);
    Uninstall(userTarget_, HKEY_CURRENT_USER);
    WaitForTheCopy();
    EXPECT_FALSE(FolderExists(userTarget_));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kMakerKey));
    EXPECT_EQ("", Differences(machine, Now(target_)));

    ASSERT_EQ(0, UserSilent("3.9"));
    State user = UserNow();
    Uninstall(target_);
    EXPECT_TRUE(WaitUntil([&] { return !FolderExists(target_); }, kPageWait)) << "the product's folder stays";
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kMakerKey));
    EXPECT_EQ("", Differences(user, UserNow()));
    ExpectVersion("3.9", userTarget_, {}, HKEY_CURRENT_USER);
    Uninstall(userTarget_, HKEY_CURRENT_USER);
    WaitForTheCopy();
}

// ---------------------------------------------------------------------------
// A product named in Polish, Greek, Cyrillic and Japanese letters, its
// files and folders too, installed into a folder named so (silently, and
// typed on the destination page after its licence was shown), with the
// user's temporary folder named so: every name reaches the machine letter
// for letter, the product starts, and the quiet uninstaller of its
// uninstall entry takes it all away. For every user and for the user alone
// (the user's shell folders pointed at folders named so: a Wine prefix's
// user is "root"). The product has no help file, and so no help link, and
// no important information: the wizard goes from the licence to the
// destination.

std::wstring Wide(const std::string& utf8)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], n);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

// The program run with arguments to its end (in the environment given,
// else the test's own); its exit code, -1 when it does not start or end.
long RunWide(const std::wstring& program, const std::wstring& arguments, void* environment = nullptr)
{
    std::wstring line = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, environment ? CREATE_UNICODE_ENVIRONMENT : 0,
                        environment, nullptr, &startup, &process))
        return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, e2e::kHangWait) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<long>(code);
}

std::wstring RegText(HKEY root, const std::wstring& key, const wchar_t* name)
{
    wchar_t data[1024] = L"";
    DWORD size = sizeof data;
    if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, data,
                     &size) != ERROR_SUCCESS)
        return L"<missing>";
    return data;
}

bool ThereW(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST(WorldE2e, NamesInAnyScriptArriveLetterForLetterAndLeaveWhole)
{
    const std::wstring app = L"Ksi\u0119gowo\u015B\u0107 \u039B\u03BF\u03B3\u03B9\u03C3\u03C4\u03B9\u03BA\u03AE \u4F1A\u8A08";
    const std::wstring product = L"Ksi\u0119gowo\u015B\u0107 \u041A\u043D\u0438\u0433\u0438";
    const std::wstring publisher = L"\u0141\u00F3d\u017A Wydawnictwo";
    const std::wstring entry = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + product;
    const std::wstring productKey = L"SOFTWARE\\\u0141\u00F3d\u017A\\" + product;
    const std::wstring files[] = {L"Dokumenty\\Za\u017C\u00F3\u0142\u0107 g\u0119\u015Bl\u0105 ja\u017A\u0144.txt",
                                  L"\u041A\u043D\u0438\u0433\u0438\\\u0412\u043E\u0439\u043D\u0430 \u0438 \u043C\u0438\u0440.txt",
                                  L"\u6771\u4EAC\\\u5730\u56F3.txt", L"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC.txt",
                                  L"Ksi\u0119gowo\u015B\u0107.exe", L"UnInstall.exe", L"UnInstall.ini"};
    {
        // The product asks for its language first, listing each by its own
        // name: its own Esperanto, chosen there, is spoken from the first
        // page on, and Cancel changes nothing.
        Process asked(FromUnixPath(std::string(LEDGER_DIR) + "/world.exe"), "");
        HWND ask = WaitForDialog(asked.Id(), 1070, "", kPageWait);
        ASSERT_NE(nullptr, ask);
        LRESULT esperanto =
            SendDlgItemMessageW(ask, 1070, CB_FINDSTRINGEXACT, WPARAM(-1), reinterpret_cast<LPARAM>(L"Esperanto"));
        ASSERT_GE(esperanto, 0);
        EXPECT_GE(SendDlgItemMessageW(ask, 1070, CB_FINDSTRINGEXACT, WPARAM(-1), reinterpret_cast<LPARAM>(L"Deutsch")), 0);
        SendDlgItemMessageW(ask, 1070, CB_SETCURSEL, WPARAM(esperanto), 0);
        Click(ask, IDOK);
        HWND welcome = WaitForDialog(asked.Id(), 1010, "", kPageWait);
        ASSERT_NE(nullptr, welcome);
        EXPECT_EQ(0u, Text(welcome).find("Eo: ")) << Text(welcome);
        Click(welcome, IDCANCEL);
        HWND confirm = WaitForDialog(asked.Id(), 0, "Exit Installation", kPageWait);
        ASSERT_NE(nullptr, confirm);
        Click(confirm, 2);
        EXPECT_EQ(1602, asked.Wait(kPageWait));
        Process cancelled(FromUnixPath(std::string(LEDGER_DIR) + "/world.exe"), "");
        ask = WaitForDialog(cancelled.Id(), 1070, "", kPageWait);
        ASSERT_NE(nullptr, ask);
        Click(ask, IDCANCEL);
        EXPECT_EQ(1602, cancelled.Wait(kPageWait));
    }
    for (int run = 0; run < 3; ++run) {
        bool user = run == 2, wizard = run == 1;
        SCOPED_TRACE(user ? "for the user alone" : wizard ? "through the wizard" : "for every user");
        HKEY hive = user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
        std::wstring root = Wide(TempFolder("e2e world"));
        std::wstring temp = root + L"\\Tymczasowe \u03A9\u03BC\u03AD\u03B3\u03B1";
        std::wstring target = root + L"\\Programy \u0141\u00F3d\u017A\\\u041A\u043D\u0438\u0433\u0438 \u6771\u4EAC";
        std::wstring appData = root + L"\\Dane \u0436\u0438\u0437\u043D\u0438", programs = root + L"\\Men\u00FC Start";
        CreateDirectoryW(root.c_str(), nullptr);
        CreateDirectoryW(temp.c_str(), nullptr);
        CreateDirectoryW(appData.c_str(), nullptr);
        CreateDirectoryW(programs.c_str(), nullptr);
        wchar_t oldTemp[MAX_PATH] = L"";
        GetEnvironmentVariableW(L"TEMP", oldTemp, MAX_PATH);
        SetEnvironmentVariableW(L"TEMP", temp.c_str());
        SetEnvironmentVariableW(L"TMP", temp.c_str());
        // The user's own folders, named in such letters.
        const wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
        std::wstring oldAppData = RegText(HKEY_CURRENT_USER, kShellFolders, L"Local AppData");
        std::wstring oldPrograms = RegText(HKEY_CURRENT_USER, kShellFolders, L"Programs");
        auto setFolder = [&](const wchar_t* name, const std::wstring& value) {
            if (value == L"<missing>")
                RegDeleteKeyValueW(HKEY_CURRENT_USER, kShellFolders, name);
            else
                RegSetKeyValueW(HKEY_CURRENT_USER, kShellFolders, name, REG_EXPAND_SZ, value.c_str(),
                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        };
        if (user) {
            setFolder(L"Local AppData", appData);
            setFolder(L"Programs", programs);
        }

        std::string setup = FromUnixPath(std::string(user ? LEDGER_USER_DIR : LEDGER_DIR) + "/world.exe");
        std::wstring installed = user ? appData + L"\\Programs\\" + app : target;
        if (wizard) {
            // In the product's own language (the kit's English texts,
            // marked), which it carries beside the kit's: /LANG= chooses
            // it, and the product then asks nothing.
            Process wizardRun(setup, "/LANG=eo");
            std::string error, licence;
            HWND destination = WalkToDestination(wizardRun.Id(), kPageWait, &error, &licence);
            ASSERT_NE(nullptr, destination) << error;
            EXPECT_EQ(0u, Text(destination).find("Eo: ")) << Text(destination);
            EXPECT_EQ(0u, licence.find("LICENCJA KSI")) << licence;
            SendMessageW(GetDlgItem(destination, 1014), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(target.c_str()));
            Click(destination, IDOK);
            // The tasks as the product offers them: Next keeps the choice.
            HWND tasks = WaitForDialog(wizardRun.Id(), IDOK, "Additional Tasks", kPageWait);
            ASSERT_NE(nullptr, tasks) << "tasks page";
            EXPECT_EQ("Create a desktop link", ItemText(tasks, 1050));
            EXPECT_EQ(0u, ItemText(tasks, IDOK).find("Eo: ")) << ItemText(tasks, IDOK);
            EXPECT_EQ(BST_UNCHECKED, SendMessageA(GetDlgItem(tasks, 1050), BM_GETCHECK, 0, 0));
            EXPECT_EQ(BST_CHECKED, SendMessageA(GetDlgItem(tasks, 1051), BM_GETCHECK, 0, 0));
            Click(tasks, IDOK);
            HWND finish = WaitForDialog(wizardRun.Id(), IDOK, "Installation Successfully Completed", kInstallWait);
            ASSERT_NE(nullptr, finish) << "finish page";
            EXPECT_EQ(0u, Text(finish).find("Eo: ")) << Text(finish);
            // Not started at the end: started through the desktop's shell, it
            // could still be running from the folder when the uninstaller
            // below comes to it.
            FinishWithoutStarting(finish);
            EXPECT_EQ(0, wizardRun.Wait(e2e::kHangWait));
            EndChildrenOf(wizardRun.Id());
        } else {
            // For every user, the desktop link alone; for the user, the
            // defaults (the PATH folder alone).
            EXPECT_EQ(0, RunWide(Wide(setup), user ? L"/S" : L"/S /TASKS=desktop /D=" + target));
        }
        for (const std::wstring& f : files)
            EXPECT_TRUE(ThereW(installed + L"\\" + f)) << f;
        EXPECT_EQ(app, RegText(hive, entry, L"DisplayName"));
        EXPECT_EQ(publisher, RegText(hive, entry, L"Publisher"));
        EXPECT_EQ(installed + L"\\", RegText(hive, productKey, L"InstallDir"));
        // Its own links: in the Start menu and on the desktop, every user's
        // for every user.
        wchar_t shown[MAX_PATH] = L"", desktop[MAX_PATH] = L"";
        SHGetFolderPathW(nullptr, user ? CSIDL_PROGRAMS : CSIDL_COMMON_PROGRAMS, nullptr, 0, shown);
        SHGetFolderPathW(nullptr, user ? CSIDL_DESKTOPDIRECTORY : CSIDL_COMMON_DESKTOPDIRECTORY, nullptr, 0, desktop);
        std::wstring group = std::wstring(shown) + L"\\" + publisher;
        std::wstring onDesktop = std::wstring(desktop) + L"\\" + app + L".lnk";
        EXPECT_EQ(installed + L"\\Ksi\u0119gowo\u015B\u0107.exe |  | " + installed + L" | ,0",
                  LinkDetailsW(group + L"\\" + app + L".lnk"));
        EXPECT_EQ(installed + L"\\UnInstall.exe |  | " + installed + L" | ,0",
                  LinkDetailsW(group + L"\\Odinstaluj " + app + L".lnk"));
        bool desktopTask = run == 0;
        if (desktopTask) {
            EXPECT_EQ(installed + L"\\Ksi\u0119gowo\u015B\u0107.exe | --ksi\u0119ga \u0412\u043E\u0439\u043D\u0430 | " +
                          installed + L"\\\u041A\u043D\u0438\u0433\u0438 | " + installed + L"\\Ksi\u0119gowo\u015B\u0107.exe,0",
                      LinkDetailsW(onDesktop));
        }
        EXPECT_EQ(desktopTask, ThereW(onDesktop)) << "the desktop link is there when its task was chosen";
        std::wstring path = RegText(hive, user ? L"Environment" : L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", L"Path");
        EXPECT_EQ(!desktopTask, path.find(installed) != std::wstring::npos) << "the PATH folder is there when its task was chosen";
        // The choice is kept for a repair and the next upgrade.
        wchar_t chosen[64] = L"";
        GetPrivateProfileStringW(L"uninstall", L"tasks", L"", chosen, 64, (installed + L"\\UnInstall.ini").c_str());
        EXPECT_EQ(std::wstring(desktopTask ? L"desktop" : L"path"), chosen);
        EXPECT_FALSE(ThereW(group + L"\\" + app + L" Help.lnk")) << "a help link without a help file";
        EXPECT_EQ(0, RunWide(installed + L"\\Ksi\u0119gowo\u015B\u0107.exe", L"")) << "the product does not start";
        // A console started afresh (its environment built from the registry,
        // as the desktop builds one after the setup's broadcast) finds the
        // program by its name alone exactly when the PATH folder is there.
        // For every user only: Wine's environment block takes the user's
        // own variables but not the user's Path after the machine's, as
        // Windows does, so the user's case is the value above.
        if (!user) {
            void* fresh = nullptr;
            HANDLE token = nullptr;
            ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_IMPERSONATE, &token));
            ASSERT_TRUE(CreateEnvironmentBlock(&fresh, token, FALSE));
            CloseHandle(token);
            wchar_t system[MAX_PATH] = L"";
            GetSystemDirectoryW(system, MAX_PATH);
            EXPECT_EQ(!desktopTask, RunWide(std::wstring(system) + L"\\cmd.exe", L"/c Ksi\u0119gowo\u015B\u0107.exe", fresh) == 0)
                << "cmd /c finds the program on the PATH";
            DestroyEnvironmentBlock(fresh);
        }

        std::wstring quiet = RegText(hive, entry, L"QuietUninstallString");
        size_t programEnd = quiet.find(L"\" ");
        ASSERT_NE(std::wstring::npos, programEnd);
        EXPECT_EQ(0, RunWide(quiet.substr(1, programEnd - 1), quiet.substr(programEnd + 2)));
        EXPECT_TRUE(WaitUntil([&] { return !ThereW(installed) && !ThereW(group) && !ThereW(onDesktop); }, kPageWait))
            << "the product's folder or its links stay";
        EXPECT_EQ(L"<missing>", RegText(hive, entry, L"DisplayName"));
        EXPECT_EQ(std::wstring::npos, RegText(hive, user ? L"Environment" : L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", L"Path").find(installed));
        EXPECT_EQ(L"<missing>", RegText(hive, productKey, L"InstallDir"));

        SetEnvironmentVariableW(L"TEMP", oldTemp);
        SetEnvironmentVariableW(L"TMP", oldTemp);
        if (user) {
            setFolder(L"Local AppData", oldAppData);
            setFolder(L"Programs", oldPrograms);
        }
        RemoveTree(TempFolder("e2e world"));
    }
}

} // namespace
