// The language choice before the first page: the languages the setup
// carries, each by its own name, the one spoken chosen first.
#include "wizard/wizard.h"

#include "setup/wide.h"

namespace {

INT_PTR CALLBACK LanguagePageProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: {
        HWND list = GetDlgItem(dialog, IDC_LANGUAGE_LIST);
        for (int i = 0; i < Context.Languages.Count; ++i) {
            WideText name(Context.Languages.Items[i].Name);
            SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.ok() ? name.c_str() : L"?"));
            if (Context.Languages.Items[i].Id == Context.LanguageCode)
                SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
        }
        SetForegroundWindow(dialog);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            // The item's index, plus one: 0 is the dialog's Cancel.
            LRESULT chosen = SendDlgItemMessageW(dialog, IDC_LANGUAGE_LIST, CB_GETCURSEL, 0, 0);
            EndDialog(dialog, chosen >= 0 ? chosen + 1 : 0);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

} // namespace

bool ChooseLanguageAtStart()
{
    if (Context.Languages.Count < 2 || !SameTextNoCase(LoadStringAsText(IDS_ASK_LANGUAGE).c_str(), "yes"))
        return true;
    INT_PTR chosen = DialogInLanguage(nullptr, IDD_LANGUAGE, LanguagePageProc, 0);
    if (chosen == 0)
        return false;
    if (chosen > 0 && chosen <= Context.Languages.Count) {
        const CarriedLanguage& language = Context.Languages.Items[chosen - 1];
        Context.LanguageCode = language.Id;
        LogEvent("language chosen: %s (%s)", language.Code, language.Name);
    }
    return true;
}
