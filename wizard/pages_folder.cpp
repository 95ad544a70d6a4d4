// The destination-folder page with its folder browser, and the
// insufficient disk-space page.
#include "wizard/wizard.h"
#include "registration/registration.h"
#include "rollback/rollback.h"
#include "setup/wide.h"

#include <shlobj.h>
#include <string.h>

namespace {

// The edit holds 255 characters, three bytes each at most in the
// program's text.
const int kFolderEditLimit = 255;
const size_t kFolderEditBytes = 3 * kFolderEditLimit + 1;

// The edit's text (at most 255 characters) into TargetDir.
void StoreFolderEdit(HWND page)
{
    char folder[kFolderEditBytes];
    folder[0] = '\0';
    GetDlgItemTextU(page, IDC_FOLDER_EDIT, folder, sizeof folder);
    Context.TargetDir.Assign(folder);
}

// Message 8001 (folder not created) with its macros expanded, stop icon.
void ReportFolderNotCreated(HWND page)
{
    MessageBoxExpanded(page, IDS_FOLDER_NOT_CREATED, MB_OK | MB_ICONHAND);
}

void EndWithBackslash()
{
    if (Context.TargetDir.last() != '\\')
        Context.TargetDir.Append('\\');
}

long CabinetSize(const char* name)
{
    HRSRC resource = FindResourceU(Context.InstanceHandle, name, "CAB");
    return resource ? static_cast<long>(SizeofResource(Context.InstanceHandle, resource)) : 0;
}

int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM, LPARAM data)
{
    // Open the browser on the folder currently typed.
    if (message == BFFM_INITIALIZED)
        SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, data);
    return 0;
}

void OnBrowse(HWND page)
{
    char path[kPathBytes];
    path[0] = '\0';
    GetDlgItemTextU(page, IDC_FOLDER_EDIT, path, sizeof path);
    // The browser's title holds at most 127 characters; a longer text is cut.
    char title[128];
    CopyBounded(title, sizeof title, LoadResourceText(IDS_BROWSE_TITLE));
    WideText wideTitle(title);
    WideText typed(path);
    wchar_t shown[kPathBytes];

    BROWSEINFOW info;
    ZeroMemory(&info, sizeof info);
    info.hwndOwner = page;
    info.pidlRoot = nullptr;
    info.pszDisplayName = shown;
    info.lpszTitle = wideTitle.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(typed.c_str());
    LPITEMIDLIST chosen = SHBrowseForFolderW(&info);
    if (!chosen)
        return;
    char folder[kPathBytes];
    BOOL isFolder = SHGetPathFromIDListU(chosen, folder);
    CoTaskMemFree(chosen);
    if (!isFolder)
        return;
    // A folder longer than the edit and TargetDir's 255 characters would
    // be cut into another folder: it is refused instead.
    if (WideLength(folder) > static_cast<size_t>(kFolderEditLimit)) {
        MessageBeep(MB_ICONHAND);
        return;
    }
    HWND edit = GetDlgItem(page, IDC_FOLDER_EDIT);
    SetWindowTextU(edit, folder);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    SetFocus(edit);
    Context.TargetDir.Assign(folder);
}

void SetProgressTotal()
{
    long total = LoadStringNumber(IDS_PROGRESS_EXTRA) + CabinetSize("MAIN") + CabinetSize("ARCHIVIST");
    Context.ProgressTotal = static_cast<int32_t>(total);
}

// Free and required kilobytes on the volume of TargetDir; sets
// LowDiskSpace when the free space falls short.
void MeasureSpace(int32_t* freeKilobytes, int32_t* requiredKilobytes)
{
    char folder[kPathBytes];
    CopyBounded(folder, sizeof folder, Context.TargetDir.c_str());
    *freeKilobytes = GetFreeKilobytes(folder);
    *requiredKilobytes = static_cast<int32_t>(LoadStringNumber(IDS_REQUIRED_SPACE) / 1024);
    Context.LowDiskSpace = *freeKilobytes < *requiredKilobytes ? 1 : 0;
}

// The common controls are too old, but updating them needs administrator
// rights that a per-user installation does not ask for: the user is told
// once, and the run goes on without the update. Only the product's name
// is put in (the text is longer than the macros' 255 characters).
void TellComctlNotOffered(HWND page)
{
    if (Context.ComctlNoticeShown)
        return;
    Context.ComctlNoticeShown = 1;
    LogEvent("the common controls are older than version 4.72: a per-user installation cannot update them, the "
             "user is told");
    Text text = LoadStringAsText(IDS_COMCTL_NOT_OFFERED);
    ReplaceField(text, "{AppName}", LoadStringAsText(IDS_APP_NAME).c_str());
    Text caption = LoadStringAsText(IDS_MAIN_TITLE);
    MessageBoxU(page, text.c_str(), caption.c_str(), MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
}

void OnDestinationNext(HWND page)
{
    StoreFolderEdit(page);
    // One absolute folder is stored, registered and shown: the page stays
    // until the user gives one.
    Text full;
    if (!MakeDestinationFolder(Context.TargetDir.c_str(), full)) {
        MessageBoxExpanded(page, IDS_FULL_PATH_NEEDED, MB_OK | MB_ICONEXCLAMATION);
        SetFocus(GetDlgItem(page, IDC_FOLDER_EDIT));
        return;
    }
    Context.TargetDir = full;
    SetDlgItemTextU(page, IDC_FOLDER_EDIT, full.c_str());

    if (!ComctlIsCurrent() && CurrentInstallScope() == SCOPE_USER) {
        TellComctlNotOffered(page);
    } else if (!ComctlIsCurrent()) {
        if (MessageBoxFromString(page, IDS_COMCTL_QUESTION, MB_YESNO | MB_ICONQUESTION) != IDYES)
            return;
        Context.UpdateCommonControls = 1;
    }

    SetProgressTotal();
    int32_t freeKilobytes, requiredKilobytes;
    MeasureSpace(&freeKilobytes, &requiredKilobytes);
    if (Context.LowDiskSpace) {
        EndDialog(page, PAGE_NEXT);
        return;
    }
    if (!CreateFolderTree(Context.TargetDir.c_str())) {
        ReportFolderNotCreated(page);
        return;
    }
    EndWithBackslash();
    EndDialog(page, PAGE_NEXT);
}

} // namespace

bool PrepareDestinationWithoutPages()
{
    Text full;
    if (!MakeDestinationFolder(Context.TargetDir.c_str(), full)) {
        LogEvent("the destination %s is not a full path", Context.TargetDir.c_str());
        return false;
    }
    Context.TargetDir = full;
    // Nobody is asked: the update is the only way the product runs, and
    // whoever started the run restarts the computer when it suits them.
    if (!ComctlIsCurrent() && CurrentInstallScope() == SCOPE_USER) {
        LogEvent("the common controls are older than version 4.72: updating them needs administrator rights, which a "
                 "per-user installation does not ask for; the product is installed without the update");
    } else if (!ComctlIsCurrent()) {
        LogEvent("the common controls are older than version 4.72: they are updated, a restart is needed");
        Context.UpdateCommonControls = 1;
    }
    SetProgressTotal();
    int32_t freeKilobytes, requiredKilobytes;
    MeasureSpace(&freeKilobytes, &requiredKilobytes);
    // Installing anyway is the user's choice to make, never a silent one.
    if (Context.LowDiskSpace) {
        LogEvent("not enough free space for %s: %ld KB free, %ld KB needed; nothing was installed",
                 Context.TargetDir.c_str(), static_cast<long>(freeKilobytes), static_cast<long>(requiredKilobytes));
        return false;
    }
    if (!CreateFolderTree(Context.TargetDir.c_str())) {
        LogEvent("the folder %s could not be created (error %lu)%s", Context.TargetDir.c_str(), GetLastError(),
                 IsPathOfScope(Context.TargetDir.c_str()) ? ""
                                                          : ": a per-user installation writes nothing in a folder "
                                                            "that every user shares");
        return false;
    }
    EndWithBackslash();
    return true;
}

INT_PTR CALLBACK DestinationPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        BeginPageInit(page);
        ExpandItemText(page, IDC_BODY);
        HWND edit = GetDlgItem(page, IDC_FOLDER_EDIT);
        // The edit never holds more than is read back from it.
        SendMessageW(edit, EM_LIMITTEXT, kFolderEditLimit, 0);
        SetWindowTextU(edit, Context.TargetDir.c_str());
        SetFocus(edit);
        ShowWindow(page, SW_SHOW);
        return TRUE;
    }
    case WM_ERASEBKGND:
        return ErasePageBackground(page, wParam, lParam);
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            OnDestinationNext(page);
            return TRUE;
        case IDC_BACK:
            StoreFolderEdit(page);
            EndDialog(page, PAGE_BACK);
            return TRUE;
        case IDC_BROWSE:
            OnBrowse(page);
            return TRUE;
        case IDCANCEL:
            CancelWithConfirmation(page);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

INT_PTR CALLBACK DiskSpacePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        BeginPageInit(page);
        SendDlgItemMessageW(page, IDC_DETAIL, WM_SETFONT, reinterpret_cast<WPARAM>(Context.BoldFont), 0);
        ExpandItemText(page, IDC_HEADING);
        ExpandItemText(page, IDC_BODY);
        ExpandItemText(page, IDC_DETAIL);
        ShowWindow(page, SW_SHOW);
        return TRUE;
    case WM_ERASEBKGND:
        return ErasePageBackground(page, wParam, lParam);
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            // Install anyway: the folder must still be creatable.
            if (!CreateFolderTree(Context.TargetDir.c_str())) {
                ReportFolderNotCreated(page);
                EndDialog(page, PAGE_BACK);
                return TRUE;
            }
            EndWithBackslash();
            EndDialog(page, PAGE_NEXT);
            return TRUE;
        case IDC_BACK:
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
