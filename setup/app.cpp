// The application layer: construction of the application object, the start
// and exit steps, the message loop, string resources and message boxes, and
// the loading of system libraries by their system path.
#include "setup/setup.h"
#include "wizard/wizard.h"

#include <objbase.h>
#include <shlobj.h>
#include <string.h>

namespace {

HFONT CreatePageFont(const char* face, int points, int weight)
{
    return CreateFontA(MulDiv(-points, Context.ScreenDpiY, 72), 0, 0, 0, weight, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0,
                       face);
}

} // namespace

void HardenDllSearchPath()
{
    // Neither the program's own folder (a downloads folder, say) nor the
    // current directory may supply a DLL.
    typedef BOOL(WINAPI * SetDefaultDirs)(DWORD);
    typedef BOOL(WINAPI * SetDllDir)(LPCSTR);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel)
        return;
    SetDefaultDirs setDefault =
        reinterpret_cast<SetDefaultDirs>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefault)
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetDllDir setDir = reinterpret_cast<SetDllDir>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryA")));
    if (setDir)
        setDir("");
}

HMODULE LoadSystemLibrary(const char* name)
{
    char path[MAX_PATH];
    UINT n = GetSystemDirectoryA(path, sizeof path);
    if (n == 0 || n >= sizeof path)
        return nullptr;
    if (!AppendBounded(path, sizeof path, "\\") || !AppendBounded(path, sizeof path, name))
        return nullptr;
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void RegisterCommonControls()
{
    // The progress bar's class lives in COMCTL32, loaded from the system
    // folder and kept for the life of the process.
    static HMODULE comctl = nullptr;
    if (comctl)
        return;
    comctl = LoadSystemLibrary("comctl32.dll");
    if (!comctl)
        return;
    struct CommonControlsInit {
        DWORD size;
        DWORD classes;
    } init = {sizeof(CommonControlsInit), 0x00000020 /* ICC_PROGRESS_CLASS */};
    typedef BOOL(WINAPI * InitEx)(const void*);
    InitEx initEx = reinterpret_cast<InitEx>(reinterpret_cast<void*>(GetProcAddress(comctl, "InitCommonControlsEx")));
    if (initEx)
        initEx(&init);
}

void LoadStringText(int id, char* buffer, int size)
{
    if (size <= 0)
        return;
    buffer[0] = '\0';
    HINSTANCE module = Context.InstanceHandle ? Context.InstanceHandle : GetModuleHandleA(nullptr);
    if (LoadStringA(module, static_cast<UINT>(id), buffer, size) <= 0)
        buffer[0] = '\0';
}

Text LoadStringAsText(int id)
{
    char buffer[1024];
    LoadStringText(id, buffer, sizeof buffer);
    return Text(buffer);
}

long LoadStringNumber(int id)
{
    char buffer[64];
    LoadStringText(id, buffer, sizeof buffer);
    return ParseDecimal(buffer);
}

int MessageBoxFromString(HWND owner, int id, UINT style)
{
    Text text = LoadStringAsText(id);
    Text caption = LoadStringAsText(IDS_MAIN_TITLE);
    return MessageBoxA(owner, text.c_str(), caption.c_str(), style | MB_SETFOREGROUND);
}

int MessageBoxExpanded(HWND owner, int id, UINT style)
{
    Text text = LoadStringAsText(id);
    ExpandMacros(text);
    Text caption = LoadStringAsText(IDS_MAIN_TITLE);
    return MessageBoxA(owner, text.c_str(), caption.c_str(), style | MB_SETFOREGROUND);
}

const char* SkipProgramName(const char* commandLine)
{
    const char* p = commandLine;
    if (*p == '"') {
        ++p;
        while (*p && *p != '"')
            ++p;
        if (*p == '"')
            ++p;
    } else {
        while (*p && *p != ' ' && *p != '\t')
            ++p;
    }
    while (*p == ' ' || *p == '\t')
        ++p;
    return p;
}

void ParseRepairSwitch(const char* arguments)
{
    Context.RepairMode = 0;
    // An upper-case "/R" counts where the command line's parser hands over
    // the text from the switch on.
    const char* found = arguments[0] == '/' && arguments[1] == 'R' ? arguments : strstr(arguments, "/r");
    if (!found)
        return;
    // The switch and the one character after it are skipped; nothing else
    // is trimmed, so quotes and trailing blanks stay.
    const char* rest = found + 2;
    if (*rest != '\0')
        ++rest;
    Context.RepairDir.Assign(rest);

    Text probe(Context.RepairDir);
    if (probe.last() != '\\')
        probe.Append('\\');
    probe.Append("Uninstall.ini");
    if (FileExists(probe.c_str()))
        Context.RepairMode = 1;
}

void AppConstruct()
{
    HWND desktop = GetDesktopWindow();
    HDC dc = GetDC(desktop);
    Context.ScreenDpiY = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(desktop, dc);

    Context.LanguageCode = LanguageCodeFromLangId(GetUserDefaultLangID());

    char fonts[MAX_PATH];
    fonts[0] = '\0';
    LPITEMIDLIST list = nullptr;
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_FONTS, &list)) && list) {
        if (!SHGetPathFromIDListA(list, fonts))
            fonts[0] = '\0';
        CoTaskMemFree(list);
    }
    char probe[MAX_PATH + 16];
    CopyBounded(probe, sizeof probe, fonts);
    size_t n = strlen(probe);
    if (n == 0 || probe[n - 1] != '\\')
        AppendBounded(probe, sizeof probe, "\\");
    AppendBounded(probe, sizeof probe, "Tahoma.ttf");
    const char* face = FileExists(probe) ? "Tahoma" : "MS Sans Serif";

    Context.DialogFont = CreatePageFont(face, 8, FW_NORMAL);
    Context.BoldFont = CreatePageFont(face, 8, FW_BOLD);
    Context.TitleFont = CreatePageFont(face, 16, FW_NORMAL);
}

bool AppStart(const char* arguments)
{
    CoInitialize(nullptr);

    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n >= sizeof path)
        n = 0;
    path[n] = '\0';
    // At most 250 characters are kept. A longer path is not kept at all:
    // cut, it would name another program.
    if (n <= 250)
        CopyBounded(Context.ModulePath, sizeof Context.ModulePath, path);

    Context.InstanceHandle = GetModuleHandleA(nullptr);

    // The switches come first: a command line that cannot be followed
    // changes nothing, and the log hears of everything after it.
    if (!arguments)
        arguments = "";
    CommandLineSwitches switches;
    bool understood = ParseCommandLine(arguments, switches);
    Context.Silent = switches.Silent;
    if (!switches.LogPath.empty() && OpenRunLog(switches.LogPath.c_str()))
        Context.Journal.Observer = LogJournalEvent;
    LogRunStart(arguments);
    if (!understood || switches.Help) {
        RefuseCommandLine(understood ? nullptr : switches.Problem.c_str());
        return false;
    }
    if (switches.Repair) {
        ParseRepairSwitch(switches.Repair);
        // With the dialogs a folder that holds no installation leads to an
        // ordinary installation, as it always did; nobody is there to see
        // that without them.
        if (!Context.RepairMode && Context.Silent) {
            LogEvent("nothing to repair: %s holds no UnInstall.ini", Context.RepairDir.c_str());
            RefuseCommandLine(switches.Repair);
            return false;
        }
    }
    Context.GivenFolder = switches.Folder;
    RegisterCommonControls();

    // A damaged download changes nothing: not even the recovery of an
    // earlier run.
    if (!CheckPayload()) {
        LogEvent("this setup program is damaged: a payload resource failed its check");
        if (!Context.Silent)
            MessageBoxFromString(nullptr, LocalizedId(IDS_SETUP_DAMAGED), MB_OK | MB_ICONHAND);
        Context.ExitCode = EXIT_FAILED;
        return false;
    }
    if (!StartInstallSession())
        return false;

    BuildMainWindowObject();
    if (!Context.GivenFolder.empty())
        Context.TargetDir = Context.GivenFolder;
    HWND frame = CreateMainWindow();
    if (!frame) {
        LogEvent("the main window could not be created");
        Context.ExitCode = EXIT_FAILED;
        return false;
    }
    // A silent run shows no window at all, not even the frame's button on
    // the task bar.
    if (!Context.Silent) {
        ShowWindow(frame, SW_SHOW);
        UpdateWindow(frame);
    }
    return true;
}

bool StartInstallSession()
{
    JournalRecovery recovered = JOURNAL_NOTHING_FOUND;
    Text product = LoadStringAsText(IDS_PRODUCT_NAME);
    if (JournalStartSession(Context.Journal, product.c_str(), &recovered) == JOURNAL_BUSY) {
        LogEvent("another setup or the uninstaller of %s is running: nothing was changed", product.c_str());
        if (!Context.Silent)
            MessageBoxExpanded(nullptr, LocalizedId(IDS_ALREADY_RUNNING), MB_OK | MB_ICONEXCLAMATION);
        Context.ExitCode = EXIT_ALREADY_RUNNING;
        return false;
    }
    // A run that had succeeded was only tidied up: nothing to tell.
    if (recovered == JOURNAL_ROLLED_BACK) {
        LogEvent("an unfinished earlier run was found and undone");
        if (!Context.Silent)
            MessageBoxExpanded(nullptr, LocalizedId(IDS_RUN_RECOVERED), MB_OK | MB_ICONINFORMATION);
    } else if (recovered == JOURNAL_COMPLETED) {
        LogEvent("an earlier run that had succeeded was tidied up");
    }
    return true;
}

int AppRun()
{
    MSG msg;
    HWND frame = MainWindowHandle();
    HACCEL accelerators = LoadAcceleratorsA(Context.InstanceHandle, MAKEINTRESOURCEA(IDR_MAINFRAME));
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (accelerators && frame && TranslateAcceleratorA(frame, accelerators, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}

int AppExit()
{
    // The session leaves no journal: whatever is still recorded (a run that
    // failed before the window existed, say) is undone first.
    JournalEndSession(Context.Journal);
    CoUninitialize();
    LogExitCode(Context.ExitCode);
    CloseRunLog();
    return Context.ExitCode;
}
