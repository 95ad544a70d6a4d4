// The first pages of the wizard: welcome, licence agreement and important
// information, with the display of an RTF resource in a rich-edit control.
#include "wizard/pages.h"
#include "wizard/wizard.h"
#include "setup/wide.h"

#include <richedit.h>
#include <string.h>

namespace {

const DWORD kWriteChunk = 0x7FFF; // written a piece at a time

DWORD CALLBACK ReadRtfChunk(DWORD_PTR cookie, LPBYTE buffer, LONG wanted, LONG* got)
{
    DWORD read = 0;
    BOOL ok = ReadFile(reinterpret_cast<HANDLE>(cookie), buffer, static_cast<DWORD>(wanted), &read, nullptr);
    *got = static_cast<LONG>(read);
    return ok ? 0 : GetLastError();
}

void ShowPage(HWND page) { ShowWindow(page, SW_SHOW); }

} // namespace

int ExtractResourceToTempFile(const char* type, const char* name, char* outPath)
{
    // A temporary folder of 150 characters or more is refused here rather
    // than used as whatever the buffer held before.
    char folder[kPathBytes];
    folder[0] = '\0';
    DWORD folderLength = GetTempPathU(sizeof folder, folder);
    outPath[0] = '\0';
    if (folderLength == 0 || folderLength >= sizeof folder || WideLength(folder) >= 150)
        return 0;

    HINSTANCE module = Context.InstanceHandle;
    HRSRC resource = FindLocalizedResource(name, type);
    if (!resource)
        return 0;
    DWORD size = SizeofResource(module, resource);
    HGLOBAL loaded = LoadResource(module, resource);
    if (!loaded)
        return 0;
    const char* data = static_cast<const char*>(LockResource(loaded));
    if (!data)
        return 0;

    char created[kPathBytes];
    if (!GetTempFileNameU(folder, "tmp", 0, created))
        return 0;
    // A name of 144 characters or more is not handed on, and the empty
    // file GetTempFileName made goes again.
    if (WideLength(created) >= 144) {
        DeleteFileU(created);
        return 0;
    }
    HANDLE file = CreateFileU(created, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DeleteFileU(created);
        return 0;
    }
    CopyBounded(outPath, kPathBytes, created);

    for (DWORD done = 0; done < size;) {
        DWORD chunk = size - done < kWriteChunk ? size - done : kWriteChunk;
        // A short write (a full disk) fails like an error would.
        DWORD written = 0;
        if (!WriteFile(file, data + done, chunk, &written, nullptr) || written != chunk) {
            // A half-written copy would stay behind: the page deletes the
            // file only after a successful extraction.
            CloseHandle(file);
            DeleteFileU(created);
            outPath[0] = '\0';
            return 0;
        }
        done += chunk;
    }
    CloseHandle(file);
    return 1;
}

int StreamRtfFile(HWND control, int format, const char* path)
{
    // CreateFile rather than OpenFile: OpenFile's record holds only 128
    // characters of path, and temporary names may be longer.
    HANDLE file = CreateFileU(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    // The control takes 32767 characters unless told otherwise; a text
    // cannot hold more characters than its file has bytes.
    DWORD size = GetFileSize(file, nullptr);
    if (size != INVALID_FILE_SIZE && size > 32767)
        SendMessageW(control, EM_EXLIMITTEXT, 0, static_cast<LPARAM>(size));
    EDITSTREAM stream;
    stream.dwCookie = reinterpret_cast<DWORD_PTR>(file);
    stream.dwError = 0;
    stream.pfnCallback = ReadRtfChunk;
    SendMessageW(control, EM_STREAMIN, static_cast<WPARAM>(format), reinterpret_cast<LPARAM>(&stream));
    SendMessageW(control, EM_SETMODIFY, TRUE, 0);
    CloseHandle(file);
    return 1;
}

void ShowRtfResource(HWND page, const char* baseName)
{
    HWND control = GetDlgItem(page, IDC_RICHTEXT);
    char path[kPathBytes];
    if (!ExtractResourceToTempFile("RTF", baseName, path))
        return;
    StreamRtfFile(control, SF_RTF, path);
    DeleteExistingFile(path);
}

INT_PTR CALLBACK WelcomePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        BeginPageInit(page);
        SendDlgItemMessageW(page, IDC_NOTICE, WM_SETFONT, reinterpret_cast<WPARAM>(Context.BoldFont), 0);
        ExpandItemText(page, IDC_HEADING);
        ExpandItemText(page, IDC_BODY);
        ShowPage(page);
        return TRUE;
    case WM_ERASEBKGND:
        return ErasePageBackground(page, wParam, lParam);
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            EndDialog(page, PAGE_NEXT);
            return TRUE;
        case IDCANCEL:
            CancelWithConfirmation(page);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

INT_PTR CALLBACK LicencePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        BeginPageInit(page);
        BOOL result;
        if (Context.LicenceAccepted) {
            CheckDlgButton(page, IDC_AGREE, BST_CHECKED);
            EnableWindow(GetDlgItem(page, IDOK), TRUE);
            result = TRUE;
        } else {
            CheckDlgButton(page, IDC_AGREE, BST_UNCHECKED);
            EnableWindow(GetDlgItem(page, IDOK), FALSE);
            SetFocus(GetDlgItem(page, IDC_AGREE));
            result = FALSE;
        }
        ShowRtfResource(page, "AGREEMENT");
        SetFocus(GetDlgItem(page, IDC_RICHTEXT));
        ShowPage(page);
        return result;
    }
    case WM_ERASEBKGND:
        return ErasePageBackground(page, wParam, lParam);
    case WM_COMMAND:
        // The rich-edit control's notifications arrive here too.
        if (HIWORD(wParam) != 0)
            return FALSE;
        switch (LOWORD(wParam)) {
        case IDC_AGREE: {
            bool ticked = IsDlgButtonChecked(page, IDC_AGREE) == BST_CHECKED;
            Context.LicenceAccepted = ticked ? 1 : 0;
            EnableWindow(GetDlgItem(page, IDOK), ticked);
            return FALSE;
        }
        case IDOK:
            // A Next command that does not come from the (enabled) button,
            // from another program say, must not skip the agreement.
            if (!Context.LicenceAccepted)
                return TRUE;
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

INT_PTR CALLBACK InformationPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        BeginPageInit(page);
        ShowRtfResource(page, "INFORMATION");
        SetFocus(GetDlgItem(page, IDC_RICHTEXT));
        ShowPage(page);
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
            CancelWithConfirmation(page);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}
