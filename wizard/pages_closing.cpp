// The pages that end a run of the wizard: finish (also after a repair),
// installation error and installation interrupted. None of them can be
// dismissed with Escape or the close box.
#include "wizard/pages.h"
#include "wizard/wizard.h"
#include "setup/wide.h"

#include <shellapi.h>
#include <string.h>

namespace {

INT_PTR ProblemPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam, bool expandBody)
{
    switch (message) {
    case WM_INITDIALOG:
        BeginPageInit(page);
        if (expandBody)
            ExpandItemText(page, IDC_BODY);
        ShowWindow(page, SW_SHOW);
        return TRUE;
    case WM_ERASEBKGND:
        return ErasePageBackground(page, wParam, lParam);
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            EndDialog(page, PAGE_NEXT);
            return TRUE;
        case IDC_BACK:
            EndDialog(page, PAGE_BACK);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

} // namespace

// As the signed-in user once the program's start has given the way: a
// browser must not run with the setup's rights.
WebsiteOpenFunction OpenWebsite = ShellExecuteU;

Text WebsiteAddress() { return LoadStringAsText(IDS_WEBSITE); }

bool OffersProductAtEnd()
{
    return !Context.RepairMode && !Context.UpdateCommonControls && strcmp(LoadStringAsText(IDS_RUN_AFTER).c_str(), "no") != 0;
}

namespace {

// A checkbox made by the page below its last line, checked or not: the
// program started at the end, or Windows restarted.
void AddEndChoice(HWND page, int id, StringId label, bool checked)
{
    RECT place = {12, 187, 12 + 304, 187 + 10};
    MapDialogRect(page, &place);
    Text text = LoadStringAsText(label);
    ExpandMacros(text);
    WideText wide(text.c_str());
    HWND box = CreateWindowExW(0, L"BUTTON", wide.ok() ? wide.c_str() : L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX,
                               place.left, place.top, place.right - place.left, place.bottom - place.top, page,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Context.InstanceHandle, nullptr);
    if (!box)
        return;
    SendMessageW(box, WM_SETFONT, SendMessageW(page, WM_GETFONT, 0, 0), FALSE);
    CheckDlgButton(page, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

// The closing line says only how to close, and below it a checkbox
// (checked) lets the user start the program or not; a product that is not
// started at the end has the line alone.
void ShowStartChoice(HWND page)
{
    Text closes = LoadStringAsText(IDS_FINISH_CLOSES);
    ExpandMacros(closes);
    SetDlgItemTextU(page, IDC_CLOSING, closes.c_str());
    if (!OffersProductAtEnd())
        return;
    AddEndChoice(page, IDC_START_PRODUCT, IDS_START_PRODUCT, true);
}

} // namespace

INT_PTR CALLBACK FinishPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        BeginPageInit(page);
        ExpandItemText(page, IDC_HEADING);
        ExpandItemText(page, IDC_BODY);
        ExpandItemText(page, IDC_DETAIL);
        ExpandItemText(page, IDC_LIST_NAME);
        // A product without a web site has no button for it.
        if (WebsiteAddress().empty())
            ShowWindow(GetDlgItem(page, IDC_WEBSITE), SW_HIDE);
        if (Context.UpdateCommonControls) {
            // The restart note is shown as it stands, braces and all.
            Text note = LoadStringAsText(IDS_RESTART_NOTE);
            SetDlgItemTextU(page, IDC_CLOSING, note.c_str());
        } else if (Context.RestartForFiles) {
            // Files wait for the restart: now, or later (the default).
            Text note = LoadStringAsText(IDS_FILES_RESTART_NOTE);
            ExpandMacros(note);
            SetDlgItemTextU(page, IDC_CLOSING, note.c_str());
            AddEndChoice(page, IDC_RESTART_NOW, IDS_RESTART_NOW, false);
        } else if (Context.RepairMode) {
            ExpandItemText(page, IDC_CLOSING);
        } else {
            ShowStartChoice(page);
        }
        ShowWindow(page, SW_SHOW);
        return TRUE;
    case WM_ERASEBKGND:
        return ErasePageBackground(page, wParam, lParam);
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            Context.StartProductAtEnd = OffersProductAtEnd() && IsDlgButtonChecked(page, IDC_START_PRODUCT) == BST_CHECKED;
            Context.RestartNow = Context.RestartForFiles && IsDlgButtonChecked(page, IDC_RESTART_NOW) == BST_CHECKED;
            EndDialog(page, PAGE_NEXT);
            return TRUE;
        case IDC_WEBSITE:
            if (!WebsiteAddress().empty())
                OpenWebsite(nullptr, "open", WebsiteAddress().c_str(), nullptr, nullptr, SW_SHOWNORMAL);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

INT_PTR CALLBACK ErrorPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    return ProblemPage(page, message, wParam, lParam, true);
}

INT_PTR CALLBACK InterruptedPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    return ProblemPage(page, message, wParam, lParam, false);
}
