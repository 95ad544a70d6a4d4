// The additional tasks page, after the destination page of a product that
// has tasks: a checkbox for each, checked as this run chose them so far
// (the defaults, the installation it replaces, /TASKS=), and the choice
// taken on Next or Back.
#include "wizard/wizard.h"
#include "setup/wide.h"

namespace {

// Below the page's text, a line of 12 dialog units each.
const int kFirstTop = 86;
const int kLineHeight = 12;

void MakeTaskBoxes(HWND page)
{
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(page, WM_GETFONT, 0, 0));
    for (int i = 0; i < TaskCount(); ++i) {
        RECT place = {24, kFirstTop + i * kLineHeight, 24 + 290, kFirstTop + i * kLineHeight + 10};
        MapDialogRect(page, &place);
        Text label = LoadStringAsText(IDS_TASK_TEXT + i);
        WideText wide(label.c_str());
        HWND box = CreateWindowExW(0, L"BUTTON", wide.ok() ? wide.c_str() : L"",
                                   WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, place.left, place.top,
                                   place.right - place.left, place.bottom - place.top, page,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_FIRST_TASK + i)),
                                   Context.InstanceHandle, nullptr);
        if (!box)
            continue;
        SendMessageW(box, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        CheckDlgButton(page, IDC_FIRST_TASK + i, TaskChosen(TaskName(i).c_str()) ? BST_CHECKED : BST_UNCHECKED);
    }
}

void TakeChoice(HWND page)
{
    Context.ChosenTasks.Clear();
    for (int i = 0; i < TaskCount(); ++i)
        if (IsDlgButtonChecked(page, IDC_FIRST_TASK + i) == BST_CHECKED)
            Context.ChosenTasks.Add(TaskName(i).c_str());
}

} // namespace

INT_PTR CALLBACK TasksPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        BeginPageInit(page);
        ExpandItemText(page, IDC_BODY);
        MakeTaskBoxes(page);
        ShowWindow(page, SW_SHOW);
        return TRUE;
    case WM_ERASEBKGND:
        return ErasePageBackground(page, wParam, lParam);
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            TakeChoice(page);
            LogEvent("tasks chosen on the page: %s", Context.ChosenTasks.Count() ? ChosenTaskList().c_str() : "none");
            EndDialog(page, PAGE_NEXT);
            return TRUE;
        case IDC_BACK:
            TakeChoice(page);
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
