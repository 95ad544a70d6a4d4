// The programs that use the installation's files, before the install
// page: a page that names them and offers to close them (shown only when
// one is running), and a silent run's answer, which closes them unless
// /NOCLOSEAPPLICATIONS says not to. A program is asked to close, never
// ended by force; one that stays holds its files, which the run then
// replaces at the next restart where Windows allows it.
#include "wizard/wizard.h"
#include "registration/registration.h"
#include "setup/wide.h"

namespace {

// Asks the holders to close; those that stay are named in the log and,
// when page is given, to the user, who alone may have them ended.
void CloseAndTell(const FileHolders& holders, HWND page)
{
    FileHolders staying;
    LogEvent("asking these programs to close: %s", DescribeFileHolders(holders).c_str());
    CloseFileHolders(holders, kHolderCloseWait, staying);
    Context.HoldersRunning = staying.Count > 0;
    if (!staying.Count) {
        LogEvent("they have closed");
        return;
    }
    Text names = DescribeFileHolders(staying);
    LogEvent("still running after %lu seconds (a file they hold may need a restart): %s",
             static_cast<unsigned long>(kHolderCloseWait / 1000), names.c_str());
    if (!page)
        return;
    Text question = LoadStringAsText(IDS_PROGRAMS_STAY);
    ReplaceField(question, "{Programs}", names.c_str());
    Text caption = LoadStringAsText(IDS_MAIN_TITLE);
    if (MessageBoxU(page, question.c_str(), caption.c_str(), MB_YESNO | MB_ICONEXCLAMATION | MB_SETFOREGROUND) !=
        IDYES)
        return;
    Context.HoldersRunning = !EndFileHolders(staying, kHolderCloseWait);
    LogEvent(Context.HoldersRunning ? "the user had them ended; some still run" : "the user had them ended");
}

} // namespace

bool FindHoldersOfTheInstallation(FileHolders& out)
{
    out.Count = 0;
    // An installation this run replaces (or repairs) is where the files in
    // use are.
    Text folder = Context.RepairMode           ? Context.RepairDir
                  : Context.EarlierDir.empty() ? Context.TargetDir
                                               : Context.EarlierDir;
    if (folder.empty())
        return false;
    if (folder.last() != '\\')
        folder.Append('\\');
    TextList files;
    if (!Context.EarlierDir.empty())
        ReadEarlierInstalledFiles(files);
    FindFileHolders(folder.c_str(), files, out);
    return out.Count > 0;
}

void CloseHoldersWithoutPages()
{
    FileHolders holders;
    if (!FindHoldersOfTheInstallation(holders))
        return;
    LogEvent("programs that use files of the installation: %s", DescribeFileHolders(holders).c_str());
    Context.HoldersRunning = Context.LeaveApplicationsRunning;
    if (Context.LeaveApplicationsRunning)
        LogEvent("/NOCLOSEAPPLICATIONS: they are left running; a file they hold may need a restart");
    else
        CloseAndTell(holders, nullptr);
}

INT_PTR CALLBACK ProgramsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        BeginPageInit(page);
        ExpandItemText(page, IDC_BODY);
        FileHolders holders;
        FindHoldersOfTheInstallation(holders);
        for (size_t i = 0; i < holders.Count; ++i) {
            WideText name(holders.Items[i].Name.c_str());
            if (name.ok())
                SendDlgItemMessageW(page, IDC_PROGRAM_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
        }
        // A repair's first page: there is nothing to go back to.
        if (Context.RepairMode)
            ShowWindow(GetDlgItem(page, IDC_BACK), SW_HIDE);
        CheckRadioButton(page, IDC_CLOSE_PROGRAMS, IDC_LEAVE_PROGRAMS,
                         Context.LeaveApplicationsRunning ? IDC_LEAVE_PROGRAMS : IDC_CLOSE_PROGRAMS);
        ShowWindow(page, SW_SHOW);
        return TRUE;
    }
    case WM_ERASEBKGND:
        return ErasePageBackground(page, wParam, lParam);
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: {
            Context.LeaveApplicationsRunning = IsDlgButtonChecked(page, IDC_LEAVE_PROGRAMS) == BST_CHECKED;
            Context.HoldersRunning = Context.LeaveApplicationsRunning;
            FileHolders holders;
            if (!FindHoldersOfTheInstallation(holders)) {
                Context.HoldersRunning = 0;
            } else if (Context.LeaveApplicationsRunning) {
                LogEvent("the user leaves running the programs that use files of the installation: %s",
                         DescribeFileHolders(holders).c_str());
            } else {
                HCURSOR was = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
                CloseAndTell(holders, page);
                SetCursor(was);
            }
            EndDialog(page, PAGE_NEXT);
            return TRUE;
        }
        case IDC_BACK:
            if (!Context.RepairMode)
                EndDialog(page, PAGE_BACK);
            return TRUE;
        case IDCANCEL:
            CancelWithConfirmation(page);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}
