// Temporary page procedures: each page shows its template and answers
// Next, Back and Cancel. Replaced page by page as the real pages land.
#include "wizard/wizard.h"

namespace {

INT_PTR SimplePage(HWND page, UINT message, WPARAM wParam, LPARAM lParam, bool cancellable)
{
    switch (message) {
    case WM_INITDIALOG:
        BeginPageInit(page);
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
        case IDCANCEL:
            if (!cancellable)
                return FALSE;
            CancelWithConfirmation(page);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

} // namespace

INT_PTR CALLBACK WelcomePageProc(HWND h, UINT m, WPARAM w, LPARAM l) { return SimplePage(h, m, w, l, true); }
INT_PTR CALLBACK LicencePageProc(HWND h, UINT m, WPARAM w, LPARAM l) { return SimplePage(h, m, w, l, true); }
INT_PTR CALLBACK InformationPageProc(HWND h, UINT m, WPARAM w, LPARAM l) { return SimplePage(h, m, w, l, true); }
INT_PTR CALLBACK DestinationPageProc(HWND h, UINT m, WPARAM w, LPARAM l) { return SimplePage(h, m, w, l, true); }
INT_PTR CALLBACK DiskSpacePageProc(HWND h, UINT m, WPARAM w, LPARAM l) { return SimplePage(h, m, w, l, true); }
INT_PTR CALLBACK FinishPageProc(HWND h, UINT m, WPARAM w, LPARAM l) { return SimplePage(h, m, w, l, false); }
INT_PTR CALLBACK ErrorPageProc(HWND h, UINT m, WPARAM w, LPARAM l) { return SimplePage(h, m, w, l, false); }
INT_PTR CALLBACK InterruptedPageProc(HWND h, UINT m, WPARAM w, LPARAM l) { return SimplePage(h, m, w, l, false); }

int CreateFolderTree(const char*) { return 0; }
int CreateParentFolders(const char*) { return 0; }
