// The off-screen main window: it hosts every page, turns each page result
// into the next page message, and ends the wizard with a restart or the
// launch of the installed product.
#include "wizard/wizard.h"
#include "wizard/pages.h"
#include "engine/engine.h"
#include "setup/wide.h"

#include <shellapi.h>

namespace {

const wchar_t kFrameClass[] = L"CMainFrame";
HWND MainWindow = nullptr;

// The main window class of the frame. It keeps no data of its own; all it
// uses lives in the installer context.
class CMainFrame {
public:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    static LRESULT OnCreate(HWND window);
    static void OnDestroy();
    static void OnPage(HWND window, UINT message);
    static void OnInstallPage(HWND window);
    static void OnFinishPage(HWND window);
    static void OnClose();
    static LRESULT OnQueryEndSession();
};

// A product may come without important information: its wizard has no
// information page then.
bool HasInformation()
{
    return FindLocalizedResource("INFORMATION", "RTF") != nullptr;
}

INT_PTR OpenPage(HWND owner, int templateId, DLGPROC procedure)
{
    return DialogInLanguage(owner, templateId, procedure, 0);
}

void RestartWindows()
{
    if (EndHooks.Restart) {
        EndHooks.Restart();
        return;
    }
    // A restart needs the shutdown privilege enabled first.
    HANDLE token;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        TOKEN_PRIVILEGES privileges = {};
        LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid);
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
        CloseHandle(token);
    }
    ExitWindowsEx(EWX_REBOOT, 0);
}

void LaunchProduct()
{
    Text command = ProductLaunchCommand();
    if (EndHooks.Launch) {
        EndHooks.Launch(command.c_str());
        return;
    }
    // As the signed-in user, once the program's start has given the way:
    // the program must not inherit the setup's administrator rights.
    Text program(command.c_str() + 1);
    const char* quote = strchr(program.c_str(), '"');
    Text arguments(quote && quote[1] == ' ' ? quote + 2 : "");
    program.Truncate(quote ? static_cast<size_t>(quote - program.c_str()) : program.length());
    LogEvent("the product is started: %s %s", program.c_str(), arguments.c_str());
    StartProduct(nullptr, "open", program.c_str(), arguments.empty() ? nullptr : arguments.c_str(), nullptr, SW_SHOW);
}

// The programs page when a program uses the installation's files, else
// the install page.
PageMessage PageBeforeInstall()
{
    FileHolders holders;
    return FindHoldersOfTheInstallation(holders) ? WM_PAGE_PROGRAMS : WM_PAGE_INSTALL;
}

} // namespace

ShellOpenFunction StartProduct = ShellExecuteU;

PageProcedures Pages = {WelcomePageProc, LicencePageProc,  InformationPageProc, DestinationPageProc, DiskSpacePageProc,
                        InstallPageProc, FinishPageProc,   ErrorPageProc,       InterruptedPageProc, TasksPageProc,
                        ProgramsPageProc};
WizardEndHooks EndHooks = {nullptr, nullptr};

void UseDefaultPages()
{
    Pages = {WelcomePageProc, LicencePageProc, InformationPageProc, DestinationPageProc, DiskSpacePageProc,
             InstallPageProc, FinishPageProc,  ErrorPageProc,       InterruptedPageProc, TasksPageProc,
             ProgramsPageProc};
    EndHooks = {nullptr, nullptr};
}

Text ProductLaunchCommand()
{
    // Quoted, so that a folder with blanks runs the intended program and a
    // C:\Program.exe cannot take its place. Only the program's name goes
    // through the macros: braces in the folder's name are no macros.
    Text name("{ExeName}");
    ExpandMacros(name);
    Text path(Context.TargetDir);
    path.Append(name.c_str());
    Text command("\"");
    command.Append(path.c_str());
    command.Append("\"");
    // The maker's arguments, with macros ({TargetDir} among them).
    Text arguments = LoadStringAsText(IDS_RUN_ARGUMENTS);
    ExpandMacros(arguments);
    if (!arguments.empty()) {
        command.Append(' ');
        command.Append(arguments.c_str());
    }
    return command;
}

void BuildMainWindowObject()
{
    Context.TargetDir = LoadStringAsText(IDS_DEFAULT_FOLDER);
    ExpandMacros(Context.TargetDir);
    Context.InstallPhase = 0;
    Context.ProgressPos = 0;
    Context.ProgressMax = 100;
    Context.HeaderTitle = LoadStringAsText(IDS_HEADER_TITLE);
    Context.HeaderSubtitle = LoadStringAsText(IDS_HEADER_SUBTITLE);
}

HWND MainWindowHandle() { return MainWindow; }

HWND CreateMainWindow()
{
    HINSTANCE instance = Context.InstanceHandle;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = CMainFrame::WindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME));
    wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // the arrow
    wc.lpszClassName = kFrameClass;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return nullptr;

    char title[3 * 256];
    LoadStringText(IDS_MAIN_TITLE, title, sizeof title);
    HMENU menu = LoadMenuW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME));
    WideText wideTitle(title);
    MainWindow = CreateWindowExW(0, kFrameClass, wideTitle.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, menu, instance, nullptr);
    if (!MainWindow && menu)
        DestroyMenu(menu);
    return MainWindow;
}

LRESULT CALLBACK CMainFrame::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return OnCreate(window);
    case WM_ERASEBKGND:
        return TRUE;
    case WM_GETMINMAXINFO:
        // The frame is meant to be one pixel: no minimum tracking size.
        reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize.x = 1;
        reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize.y = 1;
        return 0;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_QUERYENDSESSION:
        return OnQueryEndSession();
    case WM_ENDSESSION:
        // The process ends as soon as this returns: what the session
        // changed and did not commit is undone now.
        if (wParam)
            CleanupAfterFailure();
        return 0;
    case WM_PAGE_QUIT:
        DestroyWindow(window);
        return 0;
    case WM_PAGE_INSTALL:
        OnInstallPage(window);
        return 0;
    case WM_PAGE_FINISH:
        OnFinishPage(window);
        return 0;
    case WM_PAGE_WELCOME:
    case WM_PAGE_LICENCE:
    case WM_PAGE_INFORMATION:
    case WM_PAGE_DESTINATION:
    case WM_PAGE_TASKS:
    case WM_PAGE_PROGRAMS:
    case WM_PAGE_DISK_SPACE:
    case WM_PAGE_ERROR:
    case WM_PAGE_INTERRUPTED:
        OnPage(window, message);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

LRESULT CMainFrame::OnCreate(HWND window)
{
    // Off the screen at one pixel: the user never sees the frame, only the
    // pages it owns.
    MoveWindow(window, -1000, -1000, 1, 1, FALSE);
    Context.RichEditModule = LoadSystemLibrary("RICHED32.DLL");
    // A repair has no pages before the run, save the programs page when
    // the product is running.
    PostMessageW(window,
                 Context.Silent      ? WM_PAGE_INSTALL
                 : Context.RepairMode ? PageBeforeInstall()
                                      : WM_PAGE_WELCOME,
                 0, 0);
    return 0;
}

void CMainFrame::OnDestroy()
{
    if (Context.RichEditModule) {
        FreeLibrary(Context.RichEditModule);
        Context.RichEditModule = nullptr;
    }
    CleanupAfterFailure();
    Context.InstalledFiles.Clear();
    MainWindow = nullptr;
    PostQuitMessage(0);
}

void CMainFrame::OnClose()
{
    // Closing the frame (from the task bar, say) is the page's Cancel,
    // with its confirmation; pages without Cancel ignore it.
    HWND page = CurrentPageWindow();
    if (page)
        PostMessageW(page, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

LRESULT CMainFrame::OnQueryEndSession()
{
    // Refused while files are written (the reason was given to the system
    // when the run started); otherwise the session may end, and
    // WM_ENDSESSION rolls back.
    return InstallRunIsWriting() ? FALSE : TRUE;
}

void CMainFrame::OnPage(HWND window, UINT message)
{
    int templateId = 0;
    DLGPROC procedure = nullptr;
    switch (message) {
    case WM_PAGE_WELCOME:
        templateId = IDD_WELCOME;
        procedure = Pages.Welcome;
        break;
    case WM_PAGE_LICENCE:
        templateId = IDD_LICENCE;
        procedure = Pages.Licence;
        break;
    case WM_PAGE_INFORMATION:
        templateId = IDD_INFORMATION;
        procedure = Pages.Information;
        break;
    case WM_PAGE_DESTINATION:
        templateId = IDD_DESTINATION;
        procedure = Pages.Destination;
        break;
    case WM_PAGE_TASKS:
        templateId = IDD_TASKS;
        procedure = Pages.Tasks;
        break;
    case WM_PAGE_PROGRAMS:
        templateId = IDD_PROGRAMS;
        procedure = Pages.Programs;
        break;
    case WM_PAGE_DISK_SPACE:
        MessageBeep(0xFFFFFFFF);
        templateId = IDD_DISK_SPACE;
        procedure = Pages.DiskSpace;
        break;
    case WM_PAGE_ERROR:
        templateId = IDD_ERROR;
        procedure = Pages.Error;
        break;
    case WM_PAGE_INTERRUPTED:
        templateId = IDD_INTERRUPTED;
        procedure = Pages.Interrupted;
        break;
    }

    INT_PTR result = OpenPage(window, templateId, procedure);
    UINT next = WM_PAGE_QUIT;
    if (result == -1) {
        // The page could not be created. Following the table's "any other
        // result" could bounce between two broken pages for ever, so the
        // wizard ends instead.
        MessageBeep(MB_ICONHAND);
        Context.ExitCode = EXIT_FAILED;
    } else if (result == PAGE_CANCEL && message != WM_PAGE_ERROR && message != WM_PAGE_INTERRUPTED) {
        // Cancel confirmed on a page before the run, or after a failed run
        // the user went back from: whatever came before, the user gave up.
        Context.ExitCode = EXIT_CANCELLED;
        LogEvent("cancelled by the user on a page of the wizard");
    } else {
        switch (message) {
        case WM_PAGE_WELCOME:
            next = WM_PAGE_LICENCE;
            break;
        case WM_PAGE_LICENCE:
            next = result != PAGE_NEXT ? WM_PAGE_WELCOME : HasInformation() ? WM_PAGE_INFORMATION : WM_PAGE_DESTINATION;
            break;
        case WM_PAGE_INFORMATION:
            next = result == PAGE_NEXT ? WM_PAGE_DESTINATION : WM_PAGE_LICENCE;
            break;
        case WM_PAGE_DESTINATION:
            if (result == PAGE_NEXT)
                next = TaskCount() > 0         ? WM_PAGE_TASKS
                       : Context.LowDiskSpace ? WM_PAGE_DISK_SPACE
                                              : PageBeforeInstall();
            else
                next = HasInformation() ? WM_PAGE_INFORMATION : WM_PAGE_LICENCE;
            break;
        case WM_PAGE_TASKS:
            if (result == PAGE_NEXT)
                next = Context.LowDiskSpace ? WM_PAGE_DISK_SPACE : PageBeforeInstall();
            else
                next = WM_PAGE_DESTINATION;
            break;
        case WM_PAGE_DISK_SPACE:
            next = result == PAGE_NEXT ? PageBeforeInstall() : WM_PAGE_DESTINATION;
            break;
        case WM_PAGE_PROGRAMS:
            next = result == PAGE_NEXT ? WM_PAGE_INSTALL : WM_PAGE_DESTINATION;
            break;
        case WM_PAGE_ERROR:
        case WM_PAGE_INTERRUPTED:
            next = result == PAGE_BACK ? WM_PAGE_DESTINATION : WM_PAGE_QUIT;
            break;
        }
    }
    PostMessageW(window, next, 0, 0);
}

void CMainFrame::OnInstallPage(HWND window)
{
    // A silent run comes here first: it does what the destination page
    // would have done, and ends when that is not possible.
    if (Context.Silent && Context.InstallPhase == 0)
        CloseHoldersWithoutPages();
    if (Context.Silent && !Context.RepairMode && Context.InstallPhase == 0 && !PrepareDestinationWithoutPages()) {
        Context.ExitCode = EXIT_FAILED;
        PostMessageW(window, WM_PAGE_QUIT, 0, 0);
        return;
    }
    if (Context.RepairMode && Context.InstallPhase == 0) {
        // A repair run skips the destination page, so it prepares what
        // that page would have: the progress total and the folder, once:
        // a folder chosen later on the destination page is the one used.
        HINSTANCE instance = Context.InstanceHandle;
        long total = LoadStringNumber(IDS_PROGRESS_EXTRA);
        HRSRC main = FindResourceU(instance, "MAIN", "CAB");
        HRSRC archivist = FindResourceU(instance, "ARCHIVIST", "CAB");
        if (main)
            total += static_cast<long>(SizeofResource(instance, main));
        if (archivist)
            total += static_cast<long>(SizeofResource(instance, archivist));
        Context.ProgressTotal = static_cast<int32_t>(total);
        // The folder in its full form, as the destination page stores it.
        Text full;
        if (!MakeFullFolderPath(Context.RepairDir.c_str(), full))
            full = Context.RepairDir;
        Context.TargetDir = full;
        if (Context.TargetDir.last() != '\\')
            Context.TargetDir.Append('\\');
    }

    INT_PTR result = OpenPage(window, IDD_INSTALL, Pages.Install);
    if (result == PAGE_NEXT)
        Context.ExitCode = Context.UpdateCommonControls || Context.RestartForFiles ? EXIT_RESTART_NEEDED : EXIT_INSTALLED;
    else
        Context.ExitCode = result == PAGE_CANCEL && Context.UserCancelled ? EXIT_CANCELLED : EXIT_FAILED;
    if (Context.Silent) {
        // No closing page and no restart: the exit code says how it went,
        // the log why. The program starts only when /RUN asked for it.
        if (result == PAGE_NEXT && Context.StartProductAtEnd && OffersProductAtEnd())
            LaunchProduct();
        else if (Context.StartProductAtEnd)
            LogEvent("/RUN: the product is not started (%s)",
                     result != PAGE_NEXT            ? "the run did not succeed"
                     : Context.RepairMode           ? "a repair starts nothing"
                     : Context.UpdateCommonControls ? "Windows restarts first"
                                                    : "its maker says RunAfter = no");
        PostMessageW(window, WM_PAGE_QUIT, 0, 0);
    } else if (result == PAGE_NEXT) {
        PostMessageW(window, WM_PAGE_FINISH, 0, 0);
    } else if (result == PAGE_CANCEL && Context.UserCancelled) {
        MessageBeep(MB_OK);
        PostMessageW(window, WM_PAGE_INTERRUPTED, 0, 0);
    } else {
        // A failed run, or a page that could not even be created: either
        // way the user gets the error page, with Back and Finish.
        MessageBeep(MB_ICONHAND);
        PostMessageW(window, WM_PAGE_ERROR, 0, 0);
    }
}

void CMainFrame::OnFinishPage(HWND window)
{
    OpenPage(window, Context.RepairMode ? IDD_REPAIR_FINISHED : IDD_FINISH, Pages.Finish);
    if (Context.RestartNow) {
        Context.ExitCode = EXIT_RESTART_STARTED;
        LogEvent("the user restarts Windows now for the files in use");
    }
    if (Context.UpdateCommonControls || Context.RestartNow)
        RestartWindows();
    else if (Context.StartProductAtEnd)
        LaunchProduct();
    PostMessageW(window, WM_PAGE_QUIT, 0, 0);
}
