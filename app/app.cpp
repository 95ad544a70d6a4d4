// The application object's construction, the start and exit steps and the
// message loop: what the program does before its first page and after its
// last, the refusal of a command line it cannot follow among them. The
// start also gives the lower floors the desktop shell's way of
// starting things as the signed-in user.
#include "app/app.h"
#include "engine/engine.h"
#include "registration/registration.h"
#include "rollback/rollback.h"
#include "wizard/pages.h"
#include "wizard/wizard.h"
#include "setup/registry_view.h"
#include "setup/wide.h"

#include <new>
#include <objbase.h>
#include <string.h>

void ParseRepairSwitch(const char* arguments)
{
    Context.RepairMode = 0;
    const char* folder = RepairFolderOf(arguments);
    if (!folder)
        return;
    Context.RepairDir.Assign(folder);

    Text probe(Context.RepairDir);
    if (probe.last() != '\\')
        probe.Append('\\');
    probe.Append("Uninstall.ini");
    if (FileExists(probe.c_str()))
        Context.RepairMode = 1;
}

void RefuseCommandLine(const char* problem)
{
    Context.ExitCode = EXIT_INVALID_COMMAND_LINE;
    if (problem)
        LogEvent("invalid command line: %s", problem);
    else
        LogEvent("usage asked for (/?): nothing installed");
    if (Context.Silent)
        return;
    Text text;
    if (problem) {
        text = LoadStringAsText(IDS_INVALID_COMMAND_LINE);
        text.Append("\n\n");
        text.Append(problem);
        text.Append("\n\n");
    }
    text.Append(LoadStringAsText(IDS_USAGE).c_str());
    Text caption = LoadStringAsText(IDS_MAIN_TITLE);
    MessageBoxU(nullptr, text.c_str(), caption.c_str(),
                MB_OK | MB_SETFOREGROUND | (problem ? MB_ICONEXCLAMATION : MB_ICONINFORMATION));
}

void AppConstruct()
{
    HWND desktop = GetDesktopWindow();
    HDC dc = GetDC(desktop);
    Context.ScreenDpiY = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(desktop, dc);

    ReadCarriedLanguages(GetModuleHandleW(nullptr), &Context.Languages);
    Context.LanguageCode = ChooseLanguage(Context.Languages, UserDisplayLanguage());
    if (!Context.LanguageCode)
        Context.LanguageCode = kEnglish;
    CreatePageFonts();
}

bool AppStart(const char* arguments)
{
    CoInitialize(nullptr);

    char path[kPathBytes];
    DWORD n = GetModuleFileNameU(nullptr, path, sizeof path);
    if (n >= sizeof path)
        n = 0;
    path[n] = '\0';
    // At most 250 characters are kept. A longer path is not kept at all:
    // cut, it would name another program.
    if (WideLength(path) <= 250)
        CopyBounded(Context.ModulePath, sizeof Context.ModulePath, path);

    Context.InstanceHandle = GetModuleHandleW(nullptr);
    // For every user or for the user alone: the setup program's own
    // resources say, never its command line, and everything below follows.
    ApplyInstallScope();

    // The switches come first: a command line that cannot be followed
    // changes nothing, and the log hears of everything after it.
    CommandLineSwitches switches;
    bool understood = arguments && ParseCommandLine(arguments, switches);
    if (!arguments) {
        // Nothing of it can be followed, not even /S.
        arguments = "";
        switches.Problem = "a letter of the command line has no form in this system's code page";
    }
    // /LANG= speaks one of the languages carried; another is refused below,
    // once the log is open.
    LANGID language = switches.Language.empty() ? 0 : LanguageFromName(Context.Languages, switches.Language.c_str());
    bool languageCarried = switches.Language.empty() || language;
    if (language)
        Context.LanguageCode = language;
    Context.Silent = switches.Silent;
    Context.StartProductAtEnd = switches.Silent && switches.Run;
    Context.LeaveApplicationsRunning = switches.NoCloseApplications;
    if (!switches.LogPath.empty() && OpenRunLog(switches.LogPath.c_str()))
        SessionJournal.Observer = LogJournalEvent;
    LogRunStart(arguments);
    if (!understood || switches.Help) {
        RefuseCommandLine(understood ? nullptr : switches.Problem.c_str());
        return false;
    }
    if (!languageCarried) {
        Text codes;
        for (int i = 0; i < Context.Languages.Count; ++i) {
            codes.Append(i ? ", " : "");
            codes.Append(Context.Languages.Items[i].Code);
        }
        LogEvent("/LANG=%s is not a language of this setup (%s)", switches.Language.c_str(), codes.c_str());
        Text problem("/LANG=");
        problem.Append(switches.Language.c_str());
        RefuseCommandLine(problem.c_str());
        return false;
    }
    // A task the product does not have is a mistake of the command line.
    Text unknownTask;
    if (switches.TasksGiven && UnknownTask(switches.Tasks.c_str(), unknownTask)) {
        LogEvent("/TASKS= names %s, which is not a task of this product", unknownTask.c_str());
        Text problem("/TASKS=");
        problem.Append(switches.Tasks.c_str());
        RefuseCommandLine(problem.c_str());
        return false;
    }
    if (!ApplyProductArchitecture())
        return false;
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
    // A product that asks has the user choose its language first, unless
    // /LANG= chose one; everything after speaks it.
    if (!Context.Silent && switches.Language.empty()) {
        if (!ChooseLanguageAtStart()) {
            LogEvent("the language choice was cancelled: nothing was changed");
            Context.ExitCode = EXIT_CANCELLED;
            return false;
        }
    }
    // The web site, the Start-menu folder and the product after Finish
    // open as the signed-in user: never with the setup's administrator
    // rights.
    OpenWebsite = OpenAsDesktopUser;
    ShellOpenFolder = OpenAsDesktopUser;
    StartProduct = OpenAsDesktopUser;

    // A damaged download changes nothing: not even the recovery of an
    // earlier run.
    if (!CheckPayload()) {
        LogEvent("this setup program is damaged: a payload resource failed its check");
        if (!Context.Silent)
            MessageBoxFromString(nullptr, IDS_SETUP_DAMAGED, MB_OK | MB_ICONHAND);
        Context.ExitCode = EXIT_FAILED;
        return false;
    }
    if (!StartInstallSession() || !AcceptEarlierInstallation())
        return false;
    ChooseRunTasks(switches);

    // The destination offered is the one given, else the folder of the
    // installation this run replaces, else the product's default.
    BuildMainWindowObject();
    if (!Context.GivenFolder.empty())
        Context.TargetDir = Context.GivenFolder;
    else if (!Context.EarlierDir.empty() && !EarlierIsOtherBuild())
        Context.TargetDir = Context.EarlierDir;
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

void ChooseRunTasks(const CommandLineSwitches& switches)
{
    if (TaskCount() == 0)
        return;
    char earlier[kPathBytes] = "?";
    Text settings = EarlierSettingsFile();
    if (!settings.empty())
        GetPrivateProfileStringU("uninstall", "tasks", "?", earlier, sizeof earlier, settings.c_str());
    ChooseDefaultTasks(strcmp(earlier, "?") == 0 ? nullptr : earlier);
    if (switches.TasksGiven)
        ChooseTasks(switches.Tasks.c_str());
    LogEvent("tasks chosen: %s", Context.ChosenTasks.Count() ? ChosenTaskList().c_str() : "none");
}

void ApplyInstallScope()
{
    InstallScope scope = SCOPE_MACHINE;
    InstallScopeFromName(LoadStringAsText(IDS_INSTALL_SCOPE).c_str(), &scope);
    SetInstallScope(scope);
}

bool ApplyProductArchitecture()
{
    SetRegistryView(REGISTRY_VIEW_DEFAULT);
    if (!ProductIs64Bit())
        return true;
    if (!IsWindows64Bit()) {
        LogEvent("this product's programs are 64-bit and this Windows is 32-bit: it cannot be installed, nothing was "
                 "changed");
        if (!Context.Silent)
            MessageBoxExpanded(nullptr, IDS_NEEDS_64BIT, MB_OK | MB_ICONHAND);
        Context.ExitCode = EXIT_NOT_SUPPORTED;
        return false;
    }
    // The program is 32-bit: the system's own folders and the 64-bit view
    // are asked for by name.
    SetRegistryView(REGISTRY_VIEW_64);
    LogEvent("a 64-bit product on 64-bit Windows: its folders are the system's own, its keys in the registry's 64-bit "
             "view");
    return true;
}

bool StartInstallSession()
{
    JournalRecovery recovered = JOURNAL_NOTHING_FOUND;
    Text maker = LoadStringAsText(IDS_MAKER);
    Text product = LoadStringAsText(IDS_PRODUCT_NAME);
    if (JournalStartSession(SessionJournal, maker.c_str(), product.c_str(), &recovered) == JOURNAL_BUSY) {
        LogEvent("another setup or the uninstaller of %s is running: nothing was changed", product.c_str());
        if (!Context.Silent)
            MessageBoxExpanded(nullptr, IDS_ALREADY_RUNNING, MB_OK | MB_ICONEXCLAMATION);
        Context.ExitCode = EXIT_ALREADY_RUNNING;
        return false;
    }
    // A run that had succeeded was only tidied up: nothing to tell.
    if (recovered == JOURNAL_ROLLED_BACK) {
        LogEvent("an unfinished earlier run was found and undone");
        if (!Context.Silent)
            MessageBoxExpanded(nullptr, IDS_RUN_RECOVERED, MB_OK | MB_ICONINFORMATION);
    } else if (recovered == JOURNAL_COMPLETED) {
        LogEvent("an earlier run that had succeeded was tidied up");
    }
    return true;
}

bool AcceptEarlierInstallation()
{
    FindEarlierInstallation();
    Text version = LoadStringAsText(IDS_PRODUCT_VERSION);
    const char* earlier = Context.EarlierVersion.empty() ? "(not recorded)" : Context.EarlierVersion.c_str();
    RunKind kind = ClassifyRun();
    switch (kind) {
    case RUN_FIRST_INSTALL:
        LogEvent("the product is not installed yet: a first installation of version %s", version.c_str());
        return true;
    case RUN_REINSTALL:
        LogEvent("version %s is installed in %s: this run reinstalls it", earlier, Context.EarlierDir.c_str());
        return true;
    case RUN_UPGRADE:
        LogEvent("version %s is installed in %s: this run upgrades it to version %s", earlier,
                 Context.EarlierDir.c_str(), version.c_str());
        return true;
    case RUN_DOWNGRADE:
        break;
    }
    LogEvent("the newer version %s is installed in %s: this setup's version %s is older", earlier,
             Context.EarlierDir.c_str(), version.c_str());
    // Nobody replaces a newer version unasked: a silent run is refused, as
    // Windows Installer refuses it, and the wizard asks first (No is the
    // default).
    if (!Context.Silent) {
        Text question = LoadStringAsText(IDS_DOWNGRADE_QUESTION);
        // The two versions first: the macros know neither.
        ReplaceField(question, "{Installed}", earlier);
        ReplaceField(question, "{Version}", version.c_str());
        ExpandMacros(question);
        Text caption = LoadStringAsText(IDS_MAIN_TITLE);
        if (MessageBoxU(nullptr, question.c_str(), caption.c_str(),
                        MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION | MB_SETFOREGROUND) == IDYES) {
            LogEvent("the older version replaces the newer one, as the user chose");
            return true;
        }
        LogEvent("the user keeps the newer version: nothing was changed");
        Context.ExitCode = EXIT_CANCELLED;
        return false;
    }
    LogEvent("a silent run does not replace a newer version: nothing was changed");
    Context.ExitCode = EXIT_NEWER_INSTALLED;
    return false;
}

int AppRun()
{
    MSG msg;
    HWND frame = MainWindowHandle();
    HACCEL accelerators = LoadAcceleratorsW(Context.InstanceHandle, MAKEINTRESOURCEW(IDR_MAINFRAME));
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (accelerators && frame && TranslateAcceleratorW(frame, accelerators, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

int AppExit()
{
    // The session leaves no journal: whatever is still recorded (a run that
    // failed before the window existed, say) is undone first.
    JournalEndSession(SessionJournal);
    CoUninitialize();
    LogExitCode(Context.ExitCode);
    CloseRunLog();
    return Context.ExitCode;
}

void ResetInstallerContext()
{
    HFONT fonts[] = {Context.DialogFont, Context.BoldFont, Context.TitleFont};
    for (HFONT f : fonts)
        if (f)
            DeleteObject(f);
    // A test's changes are the test's to clean up: the journal is left
    // without undoing anything, and no file of it stays behind.
    SessionJournal.Records.Clear();
    JournalEndSession(SessionJournal);
    SessionJournal.~RunJournal();
    new (&SessionJournal) RunJournal();
    SetInstallScope(SCOPE_MACHINE);
    SetRegistryView(REGISTRY_VIEW_DEFAULT);
    Context.~InstallerContext();
    new (&Context) InstallerContext();
}
