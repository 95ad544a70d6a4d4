// The copy-error dialog: a file that cannot be written during the
// extraction is named, with Retry, Ignore and Abort. It runs on the
// extraction thread, which asks through the question the install page
// gives it; a confirmed cancel answers it from the interface thread.
#include "wizard/wizard.h"
#include "setup/wide.h"

namespace {

// The copy-error dialog while it is up, so that a confirmed cancel on the
// install page can answer it.
HWND volatile CopyErrorWindow = nullptr;

INT_PTR CALLBACK CopyErrorProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: {
        // Published before UserCancelled is read, while the page sets
        // UserCancelled before it reads this: one of the two always sees
        // the other, so a cancel never misses the dialog.
        InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&CopyErrorWindow), dialog);
        if (InterlockedCompareExchange(reinterpret_cast<volatile LONG*>(&Context.UserCancelled), 0, 0)) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        SendDlgItemMessageW(dialog, IDC_COPY_FILE, WM_SETFONT, reinterpret_cast<WPARAM>(Context.BoldFont), 0);
        SendDlgItemMessageW(dialog, IDC_HEADER_LINE, WM_SETFONT, reinterpret_cast<WPARAM>(Context.BoldFont), 0);
        const int expanded[] = {IDC_COPY_FILE, IDC_HEADER_LINE, IDC_COPY_HINT};
        for (int id : expanded) {
            HWND item = GetDlgItem(dialog, id);
            if (!item)
                continue;
            char buffer[301];
            buffer[0] = '\0';
            GetWindowTextU(item, buffer, sizeof buffer);
            Text t(buffer);
            ExpandMacros(t);
            SetWindowTextU(item, t.c_str());
        }
        // A file in use: the hint names what holds it, not the disk.
        if (Context.CopyInUse) {
            Text hint = LoadStringAsText(Context.CopyHolder.empty() ? IDS_COPY_IN_USE : IDS_COPY_HELD_BY);
            ReplaceField(hint, "{Holder}", Context.CopyHolder.c_str());
            SetDlgItemTextU(dialog, IDC_COPY_HINT, hint.c_str());
        }
        // The pages are centred; so is this dialog, which has no owner.
        CenterOnWorkArea(dialog);
        SetForegroundWindow(dialog);
        SetFocus(GetDlgItem(dialog, IDRETRY));
        return FALSE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDRETRY:
        case IDCANCEL:
        case IDIGNORE:
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    case WM_DESTROY:
        InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&CopyErrorWindow), nullptr);
        return FALSE;
    }
    return FALSE;
}

} // namespace

// Retry (4), Abort (2) or Ignore (5). A dialog that cannot be shown counts
// as Abort, so that the run fails rather than skipping files unseen; so
// does a silent run, which has nobody to ask. The answer goes to the log.
int CopyErrorDialog()
{
    if (!Context.Silent)
        MessageBeep(MB_ICONHAND);
    INT_PTR result = Context.Silent ? IDCANCEL
                                    : DialogInLanguage(nullptr, IDD_COPY_ERROR, CopyErrorProc, 0);
    if (result != IDRETRY && result != IDIGNORE)
        result = IDCANCEL;
    LogEvent("answer: %s%s", result == IDRETRY ? "Retry" : result == IDIGNORE ? "Ignore" : "Abort",
             Context.Silent ? " (a silent run stops at the first file it cannot write)" : "");
    return static_cast<int>(result);
}

void AnswerCopyErrorDialog()
{
    HWND dialog = static_cast<HWND>(
        InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&CopyErrorWindow), nullptr, nullptr));
    if (dialog)
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

