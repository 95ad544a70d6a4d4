// UnInstall.exe: removes or repairs the product that the setup installed
// into this program's folder. It reads "UnInstall.ini" beside itself and
// the list of installed files in the registry, asks the user, and removes
// exactly what the setup made; /S removes without a word.
#include "uninstaller/uninstaller.h"

#include <shlobj.h>
#include <string.h>

#include "rollback/rollback.h"
#include "setup/languages.h"
#include "setup/file_holders.h"
#include "setup/system_libraries.h"
#include "uninstaller/resource_ids.h"
#include "setup/wide.h"

namespace {

struct Session {
    Session() : Silent(false), RepairAvailable(false) {}
    // The run lock goes, and the product's setup folder when it is empty.
    ~Session() { JournalEndSession(Journal); }
    RunJournal Journal;    // holds the product's run lock while removing
    bool Silent;
    Text OwnProgram;       // this program's full path
    UninstallSettings Settings;
    bool RepairAvailable;  // the setup program named under "repair" exists
    Text Caption;
};

bool IsExistingFile(const char* path)
{
    DWORD attributes = GetFileAttributesU(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int ShowText(const Session& session, HWND owner, const Text& text, UINT style)
{
    if (session.Silent)
        return IDOK;
    return MessageBoxU(owner, text.c_str(), session.Caption.c_str(), style | MB_SETFOREGROUND);
}

Text ProductText(int id, const Session& session)
{
    Text text = LoadUninstallText(id);
    ReplaceField(text, "{ProductName}", session.Settings.ProductName.c_str());
    ReplaceField(text, "{Setup}", session.Settings.RepairProgram.c_str());
    return text;
}

// ---------------------------------------------------------------------------
// The choice: remove, repair or cancel.

void InitChoice(HWND dialog, const Session& session)
{
    SetWindowTextU(dialog, session.Caption.c_str());
    SetDlgItemTextU(dialog, IDC_CHOICE_TEXT, ProductText(IDS_CHOICE_TEXT, session).c_str());
    if (!session.RepairAvailable) {
        SetDlgItemTextU(dialog, IDC_REPAIR_NOTE, ProductText(IDS_REPAIR_UNAVAILABLE, session).c_str());
        EnableWindow(GetDlgItem(dialog, IDC_REPAIR), FALSE);
    }
    SetForegroundWindow(dialog);
}

INT_PTR CALLBACK ChoiceProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        InitChoice(dialog, *reinterpret_cast<const Session*>(lParam));
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_REMOVE:
        case IDCANCEL:
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        case IDC_REPAIR:
            // A disabled button can still be reached by a posted command.
            if (IsWindowEnabled(GetDlgItem(dialog, IDC_REPAIR)))
                EndDialog(dialog, IDC_REPAIR);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

// ---------------------------------------------------------------------------
// A file that cannot be deleted: retry or ignore.

struct InUseRequest {
    const Session* Owner;
    const char* Path;
};

INT_PTR CALLBACK InUseProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        const InUseRequest* request = reinterpret_cast<const InUseRequest*>(lParam);
        SetWindowTextU(dialog, request->Owner->Caption.c_str());
        Text text = LoadUninstallText(IDS_FILE_IN_USE);
        ReplaceField(text, "{File}", request->Path);
        SetDlgItemTextU(dialog, IDC_IN_USE_TEXT, text.c_str());
        SetForegroundWindow(dialog);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDRETRY:
            EndDialog(dialog, IDRETRY);
            return TRUE;
        case IDIGNORE:
            EndDialog(dialog, IDIGNORE);
            return TRUE;
        case IDCANCEL: // also Escape: nothing is removed
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

int AskAboutFileInUse(const char* path, void* context)
{
    InUseRequest request = {static_cast<const Session*>(context), path};
    INT_PTR answer = UninstallDialog(IDD_UNINSTALL_IN_USE, InUseProc, reinterpret_cast<LPARAM>(&request));
    return answer == IDRETRY || answer == IDCANCEL ? static_cast<int>(answer) : IDIGNORE;
}

// Silent removal asks nobody: a file in use gets a few more tries, a
// moment apart, and is then left and counted.
struct SilentRetries {
    Text Path;
    int Tries;
};

int RetryQuietly(const char* path, void* context)
{
    SilentRetries* retries = static_cast<SilentRetries*>(context);
    if (!SameTextNoCase(retries->Path.c_str(), path)) {
        retries->Path = path;
        retries->Tries = 0;
    }
    if (++retries->Tries > 3)
        return IDIGNORE;
    Sleep(300);
    return IDRETRY;
}

// ---------------------------------------------------------------------------
// Repair: the setup program that made the installation, started with its
// repair switch and this folder. The setup takes everything after "/r " as
// the folder, quotes included, so the folder is not quoted.

bool StartRepair(const Session& session)
{
    Text command("\"");
    command.Append(session.Settings.RepairProgram.c_str());
    command.Append("\" /r ");
    command.Append(session.Settings.Folder.c_str());
    PROCESS_INFORMATION process;
    if (!CreateProcessU(session.Settings.RepairProgram.c_str(), command.c_str(), FALSE, 0, nullptr, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// ---------------------------------------------------------------------------
// Removal.

// Where the running program's file is now: the removal's commit moved it
// aside, since it could not be deleted while it runs.
const char* ProgramNow(const Session& session)
{
    const RunJournal& journal = session.Journal;
    for (size_t i = 0; i < journal.LeftForLater.Count(); ++i)
        if (SameTextNoCase(journal.LeftForLater.At(i), session.OwnProgram.c_str()))
            return journal.LeftAsides.At(i);
    return session.OwnProgram.c_str();
}

// Last of all the program itself, once this process has ended: a copy
// deletes it and finishes the journal the commit kept for that; when no
// copy can be started, the system does it at the next restart (for every
// user's installation: a per-user one has no right to that).
void LeaveProgramToCopy(const Session& session)
{
    const char* program = ProgramNow(session);
    if (!StartSelfRemoval(session.Settings.MakerName.c_str(), session.Settings.ProductName.c_str(), program) &&
        !session.Settings.PerUser)
        MoveFileExU(program, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// The product folder is kept when anything but this program is still in it.
bool FolderHoldsOtherFiles(const char* folder, const char* ownProgram)
{
    Text pattern(folder);
    pattern.Append('*');
    FoundFile found;
    HANDLE find = FindFirstFileU(pattern.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    const char* ownName = strrchr(ownProgram, '\\');
    ownName = ownName ? ownName + 1 : ownProgram;
    bool other = false;
    do {
        if (strcmp(found.Name, ".") == 0 || strcmp(found.Name, "..") == 0)
            continue;
        if (SameTextNoCase(found.Name, ownName))
            continue;
        other = true;
    } while (!other && FindNextFileU(find, &found));
    FindClose(find);
    return other;
}

// Before the first change, the programs that use the product's files
// are named and asked to close (a silent removal closes them); one that
// stays leaves its files to the in-use question, or to the next restart.
// False when the user chose to remove nothing.
bool CloseProgramsOfTheProduct(const Session& session, const TextList& files)
{
    FileHolders holders;
    FindFileHolders(session.Settings.Folder.c_str(), files, holders);
    if (holders.Count == 0)
        return true;
    if (!session.Silent) {
        Text text = ProductText(IDS_PROGRAMS_RUNNING, session);
        ReplaceField(text, "{Programs}", DescribeFileHolders(holders).c_str());
        int answer = MessageBoxU(nullptr, text.c_str(), session.Caption.c_str(),
                                 MB_YESNOCANCEL | MB_ICONEXCLAMATION | MB_SETFOREGROUND);
        if (answer == IDCANCEL)
            return false;
        if (answer == IDNO)
            return true;
    }
    FileHolders staying;
    CloseFileHolders(holders, kHolderCloseWait, staying);
    return true;
}

int RemoveProduct(Session& session, const TextList& files)
{
    // The sibling product's folder as the installation knew it; an older
    // installation did not record it, and the setup's own rule applies.
    // A product without a sibling has no sibling's folder to leave alone.
    const UninstallSettings& settings = session.Settings;
    Text archivist;
    if (!settings.SiblingName.empty())
        archivist = settings.ArchivistFolder.empty()
                        ? GetArchivistFolder(settings.MakerName.c_str(), settings.SiblingName.c_str())
                        : settings.ArchivistFolder;
    TextList protectedFolders;
    CollectProtectedFolders(protectedFolders, archivist.c_str());

    SilentRetries retries;
    retries.Tries = 0;
    RemovalOptions options;
    options.Journal = &session.Journal;
    options.ArchivistFolder = archivist.empty() ? nullptr : archivist.c_str();
    options.OwnProgram = session.OwnProgram.c_str();
    options.ProtectedFolders = &protectedFolders;
    options.InUse = session.Silent ? RetryQuietly : AskAboutFileInUse;
    options.InUseContext = session.Silent ? static_cast<void*>(&retries) : static_cast<void*>(&session);

    if (!CloseProgramsOfTheProduct(session, files))
        return UNINSTALL_CANCELLED;
    // Old copies that a per-user upgrade left in use may be free now.
    FinishFilesInUse(session.Journal);
    HCURSOR cursor = SetCursor(LoadCursor(nullptr, IDC_WAIT));
    RemovalReport report;
    bool removed = RemoveInstallation(settings, files, options, report);
    SetCursor(cursor);
    if (!removed) {
        ShowText(session, nullptr, ProductText(IDS_REMOVAL_CANCELLED, session), MB_OK | MB_ICONINFORMATION);
        return UNINSTALL_CANCELLED;
    }

    Text kept;
    if (FolderHoldsOtherFiles(session.Settings.Folder.c_str(), ProgramNow(session)))
        kept = session.Settings.Folder;
    Text summary = ComposeSummary(settings.ProductName.c_str(), report, settings.SiblingName.c_str(),
                                  archivist.c_str(), kept.c_str());
    ShowText(session, nullptr, summary,
             report.LeftFiles.Count() ? MB_OK | MB_ICONWARNING : MB_OK | MB_ICONINFORMATION);

    LeaveProgramToCopy(session);
    if (report.LeftFiles.Count())
        return UNINSTALL_FILES_LEFT;
    return session.Journal.WaitingForRestart.Count() && !settings.PerUser ? UNINSTALL_RESTART_NEEDED : UNINSTALL_DONE;
}

int Run(const char* arguments)
{
    CommandLine command;
    ParseCommandLine(arguments, command);
    if (command.Finish) {
        SetInstallScope(command.FinishPerUser ? SCOPE_USER : SCOPE_MACHINE);
        return FinishSelfRemoval(command.FinishHandle.c_str(), command.FinishPath.c_str(),
                                 command.FinishMaker.c_str(), command.FinishProduct.c_str())
                   ? 0
                   : 1;
    }

    Session session;
    session.Silent = command.Silent;
    session.RepairAvailable = false;
    char own[kPathBytes];
    DWORD n = GetModuleFileNameU(nullptr, own, sizeof own);
    if (n == 0 || n >= sizeof own)
        return UNINSTALL_SETTINGS_MISSING;
    session.OwnProgram = own;
    Text folder = FolderOf(own);

    // The product is the one its own settings file names ("args"); names
    // on the command line (the uninstall entry gives them, the Start-menu
    // link none) must be the same, or this elevated program would be
    // turned against another product of the maker.
    bool haveSettings = ReadUninstallSettings(folder.c_str(), session.Settings);
    if (haveSettings)
        UninstallLanguage =
            ChooseUninstallLanguage(UninstallLanguages, UserDisplayLanguage(), session.Settings.Language.c_str());
    session.Settings.Folder = folder;
    bool otherProduct = haveSettings && !command.ProductName.empty() &&
                        (!SameTextNoCase(command.ProductName.c_str(), session.Settings.ProductName.c_str()) ||
                         !SameTextNoCase(command.ExeName.c_str(), session.Settings.ExeName.c_str()));
    session.Caption = session.Settings.ProductName.empty() ? LoadUninstallText(IDS_GENERIC_CAPTION)
                                                             : ProductText(IDS_UNINSTALL_CAPTION, session);
    if (!haveSettings) {
        Text text = LoadUninstallText(IDS_SETTINGS_MISSING);
        Text settingsFile(folder);
        settingsFile.Append("UnInstall.ini");
        ReplaceField(text, "{File}", settingsFile.c_str());
        ShowText(session, nullptr, text, MB_OK | MB_ICONERROR);
        return UNINSTALL_SETTINGS_MISSING;
    }

    // Every user's installation or the user's own: the hive, the private
    // folders and the run lock of the removal follow.
    SetInstallScope(session.Settings.PerUser ? SCOPE_USER : SCOPE_MACHINE);
    // A 64-bit product's keys, in the registry's 64-bit view.
    SetRegistryView(session.Settings.SixtyFourBit ? REGISTRY_VIEW_64 : REGISTRY_VIEW_DEFAULT);

    if (otherProduct) {
        Text text = ProductText(IDS_OTHER_PRODUCT, session);
        ReplaceField(text, "{Other}", command.ProductName.c_str());
        ShowText(session, nullptr, text, MB_OK | MB_ICONERROR);
        return UNINSTALL_OTHER_PRODUCT;
    }

    // Before anything else: no setup of the product may be running, and a
    // run that never ended is finished first, as the setup itself does:
    // undone when it had not succeeded, completed when it had (a removal
    // killed after its commit is then over).
    JournalRecovery recovered = JOURNAL_NOTHING_FOUND;
    if (JournalStartSession(session.Journal, session.Settings.MakerName.c_str(), session.Settings.ProductName.c_str(),
                            &recovered) == JOURNAL_BUSY) {
        ShowText(session, nullptr, ProductText(IDS_SETUP_RUNNING, session), MB_OK | MB_ICONEXCLAMATION);
        return UNINSTALL_SETUP_RUNNING;
    }
    if (recovered == JOURNAL_ROLLED_BACK)
        ShowText(session, nullptr, ProductText(IDS_RUN_RECOVERED, session), MB_OK | MB_ICONINFORMATION);
    Text registered;
    if (recovered == JOURNAL_COMPLETED &&
        !IsRegisteredInstallation(session.Settings.MakerName.c_str(), session.Settings.ProductName.c_str(),
                                  folder.c_str(), registered) &&
        registered.empty()) {
        ShowText(session, nullptr, ProductText(IDS_REMOVED, session), MB_OK | MB_ICONINFORMATION);
        // Its program, left by the removal that was cut, goes as the
        // removal's own would have gone.
        Text guarded(folder);
        guarded.Truncate(guarded.length() - 1);
        JournalGuardFolder(session.Journal, guarded.c_str());
        RecordFileToDeleteAtCommit(session.Journal, session.OwnProgram.c_str());
        JournalCommit(session.Journal, true);
        LeaveProgramToCopy(session);
        return UNINSTALL_DONE;
    }

    TextList files;
    if (!ReadInstalledFileList(session.Settings.MakerName.c_str(), session.Settings.ProductName.c_str(), files)) {
        ShowText(session, nullptr, ProductText(IDS_LIST_MISSING, session), MB_OK | MB_ICONERROR);
        return UNINSTALL_LIST_MISSING;
    }

    // Only the registered installation is removed: an uninstaller left in
    // an older folder must not take the files of the newer one.
    Text installDir;
    if (!IsRegisteredInstallation(session.Settings.MakerName.c_str(), session.Settings.ProductName.c_str(),
                                  folder.c_str(), installDir)) {
        Text text = ProductText(IDS_OTHER_INSTALLATION, session);
        ReplaceField(text, "{Folder}", installDir.c_str());
        ShowText(session, nullptr, text, MB_OK | MB_ICONERROR);
        return UNINSTALL_OTHER_FOLDER;
    }

    if (!session.Silent) {
        session.RepairAvailable =
            !session.Settings.RepairProgram.empty() && IsExistingFile(session.Settings.RepairProgram.c_str());
        INT_PTR choice = UninstallDialog(IDD_UNINSTALL_CHOICE, ChoiceProc, reinterpret_cast<LPARAM>(&session));
        if (choice == IDC_REPAIR) {
            // Only the copy the setup kept where nobody but administrators
            // can change it is started with this program's rights.
            if (!IsKeptRepairCopy(session.Settings.MakerName.c_str(), session.Settings.ProductName.c_str(),
                                  session.Settings.RepairProgram.c_str())) {
                ShowText(session, nullptr, ProductText(IDS_REPAIR_REFUSED, session), MB_OK | MB_ICONERROR);
                return UNINSTALL_REPAIR_FAILED;
            }
            // The setup takes the run lock itself.
            JournalEndSession(session.Journal);
            if (StartRepair(session))
                return UNINSTALL_DONE;
            ShowText(session, nullptr, ProductText(IDS_REPAIR_NOT_STARTED, session), MB_OK | MB_ICONERROR);
            return UNINSTALL_REPAIR_FAILED;
        }
        if (choice != IDC_REMOVE)
            return UNINSTALL_CANCELLED;
        if (ShowText(session, nullptr, ProductText(IDS_CONFIRM_REMOVE, session), MB_YESNO | MB_ICONQUESTION) !=
            IDYES)
            return UNINSTALL_CANCELLED;
    }
    return RemoveProduct(session, files);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    HardenDllSearchPath();
    ReadCarriedLanguages(GetModuleHandleW(nullptr), &UninstallLanguages);
    UninstallLanguage = ChooseUninstallLanguage(UninstallLanguages, UserDisplayLanguage(), nullptr);
    // Started from the Start-menu link, the current folder is the product's
    // own folder, which could then not be removed.
    char temp[kPathBytes];
    DWORD n = GetTempPathU(sizeof temp, temp);
    if (n > 0 && n < sizeof temp)
        SetCurrentDirectoryU(temp);
    Text commandLine;
    if (!GetCommandLineU(commandLine))
        return ERROR_NO_UNICODE_TRANSLATION;
    return Run(SkipProgramName(commandLine.c_str()));
}
