// The install page: runs staging and extraction on worker threads, shows
// the progress, and registers the product when the files are in place.
#include "engine/engine.h"
#include "wizard/wizard.h"

// Placeholder until the installation run lands: the page shows itself and
// Next ends it as a successful run.
INT_PTR CALLBACK InstallPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        BeginPageInit(page);
        ShowWindow(page, SW_SHOW);
        return TRUE;
    case WM_ERASEBKGND:
        return ErasePageBackground(page, wParam, lParam);
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            EndDialog(page, PAGE_NEXT);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}
