// Services shared by every page: the header painter, centring on the work
// area, the string loader, the child-font setter, the exit confirmation and
// the common initialisation and Cancel handling.
#include "wizard/wizard.h"
#include "setup/wide.h"

namespace {

HBITMAP HeaderBitmap = nullptr;
HBITMAP FooterBitmap = nullptr;
// The page open now: every page passes through BeginPageInit.
HWND CurrentPage = nullptr;

bool SmallFonts() { return Context.ScreenDpiY <= 100; }

RECT ControlRectInClient(HWND dialog, HWND control)
{
    RECT r;
    GetWindowRect(control, &r);
    POINT topLeft = {r.left, r.top};
    POINT bottomRight = {r.right, r.bottom};
    ScreenToClient(dialog, &topLeft);
    ScreenToClient(dialog, &bottomRight);
    RECT c = {topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
    return c;
}

INT_PTR CALLBACK ConfirmExitProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        EnumChildWindows(dialog, SetChildFont, reinterpret_cast<LPARAM>(Context.DialogFont));
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 1);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

void DrawBitmap(HDC dc, HBITMAP bitmap, int x, int y)
{
    if (!bitmap)
        return;
    BITMAP info;
    if (!GetObjectW(bitmap, sizeof info, &info))
        return;
    HDC memory = CreateCompatibleDC(dc);
    if (!memory)
        return;
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(dc, x, y, info.bmWidth, info.bmHeight, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
}

int PaintPageHeader(HWND dialog, HDC dc)
{
    HWND headerLine = GetDlgItem(dialog, IDC_HEADER_LINE);
    HWND footerLine = GetDlgItem(dialog, IDC_FOOTER_LINE);
    if (!headerLine || !footerLine)
        return 0;

    if (!HeaderBitmap)
        HeaderBitmap = LoadBitmapW(Context.InstanceHandle,
                                   MAKEINTRESOURCEW(SmallFonts() ? IDB_HEADER_SMALL : IDB_HEADER_LARGE));
    if (!FooterBitmap)
        FooterBitmap = LoadBitmapW(Context.InstanceHandle, MAKEINTRESOURCEW(IDB_FOOTER));

    RECT band = ControlRectInClient(dialog, headerLine);
    band.top = 0;
    HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
    FillRect(dc, &band, white);
    DeleteObject(white);
    DrawBitmap(dc, HeaderBitmap, band.right - (SmallFonts() ? 109 : 125), 0);

    RECT client;
    GetClientRect(dialog, &client);
    RECT body = client;
    body.top = band.bottom - 1;
    HBRUSH face = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    FillRect(dc, &body, face);
    DeleteObject(face);
    DrawBitmap(dc, FooterBitmap, client.left + 12, client.bottom - (SmallFonts() ? 39 : 45));

    SetBkMode(dc, TRANSPARENT);
    COLORREF oldColour = SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    HGDIOBJ oldFont = SelectObject(dc, Context.TitleFont);
    RECT text = client;
    text.left += 15;
    text.top += 5;
    text.right -= 70;
    text.bottom = client.top + 40;
    DrawTextU(dc, Context.HeaderTitle.c_str(), &text, DT_NOPREFIX);
    SelectObject(dc, Context.BoldFont);
    OffsetRect(&text, 1, MulDiv(27, Context.ScreenDpiY, 96));
    DrawTextU(dc, Context.HeaderSubtitle.c_str(), &text, DT_NOPREFIX);
    SelectObject(dc, oldFont);
    SetTextColor(dc, oldColour);
    return 1;
}

int CenteredPosition(int workStart, int workEnd, int size)
{
    int x = workStart + (workEnd - workStart - size) / 2;
    if (x < workStart)
        x = workStart;
    else if (x + size > workEnd)
        x = workEnd - size;
    return x;
}

BOOL CenterOnWorkArea(HWND window)
{
    RECT r;
    GetWindowRect(window, &r);
    RECT work;
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) {
        work.left = 0;
        work.top = 0;
        work.right = GetSystemMetrics(SM_CXSCREEN);
        work.bottom = GetSystemMetrics(SM_CYSCREEN);
    }
    int x = CenteredPosition(work.left, work.right, r.right - r.left);
    int y = CenteredPosition(work.top, work.bottom, r.bottom - r.top);
    return SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

const char* LoadResourceText(int id)
{
    Context.TextBuffer[0] = '\0';
    LoadStringText(id, Context.TextBuffer, sizeof Context.TextBuffer);
    return Context.TextBuffer;
}

BOOL CALLBACK SetChildFont(HWND child, LPARAM font)
{
    SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(font), 0);
    return TRUE;
}

int ConfirmExit(HWND owner)
{
    INT_PTR result = DialogInLanguage(owner, IDD_CONFIRM_EXIT, ConfirmExitProc, 0);
    // A confirmation that cannot be shown counts as a decision to quit, so
    // that no page is ever left without a way out.
    return result == 0 ? 0 : 1;
}

HWND CurrentPageWindow()
{
    return IsWindow(CurrentPage) ? CurrentPage : nullptr;
}

void BeginPageInit(HWND page)
{
    CurrentPage = page;
    ShowWindow(page, SW_HIDE);
    char title[128];
    title[0] = '\0';
    GetWindowTextU(page, title, sizeof title);
    Text t(title);
    ExpandMacros(t);
    SetWindowTextU(page, t.c_str());
    CenterOnWorkArea(page);
    EnumChildWindows(page, SetChildFont, reinterpret_cast<LPARAM>(Context.DialogFont));
    SendDlgItemMessageW(page, IDC_HEADING, WM_SETFONT, reinterpret_cast<WPARAM>(Context.BoldFont), 0);
}

INT_PTR ErasePageBackground(HWND page, WPARAM wParam, LPARAM lParam)
{
    if (PaintPageHeader(page, reinterpret_cast<HDC>(wParam)))
        return TRUE;
    return DefWindowProcW(page, WM_ERASEBKGND, wParam, lParam);
}

void CancelWithConfirmation(HWND page)
{
    if (ConfirmExit(page))
        EndDialog(page, PAGE_CANCEL);
}
