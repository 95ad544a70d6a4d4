// Resources, windows, the shell and the profile files through their wide
// interfaces (wide.h), and the program's own command line.
#include "setup/wide_internal.h"

#include <shellapi.h>

namespace {

// A resource's name or type for the wide call: a number stays a number.
bool ResourceName(const char* name, WideText& wide, const wchar_t** out)
{
    if (IS_INTRESOURCE(name)) {
        *out = reinterpret_cast<const wchar_t*>(name);
        return true;
    }
    if (!wide.Assign(name))
        return false;
    *out = wide.c_str();
    return true;
}

} // namespace

HRSRC FindResourceU(HMODULE module, const char* name, const char* type)
{
    WideText wideName, wideType;
    const wchar_t *n = nullptr, *t = nullptr;
    if (!ResourceName(name, wideName, &n) || !ResourceName(type, wideType, &t))
        return nullptr;
    return FindResourceW(module, n, t);
}

int FromWideCounted(const wchar_t* text, int n, char* out, int size)
{
    if (size <= 0)
        return 0;
    out[0] = '\0';
    if (n <= 0 || !text)
        return 0;
    wchar_t* copy = static_cast<wchar_t*>(malloc((static_cast<size_t>(n) + 1) * sizeof(wchar_t)));
    if (!copy)
        return 0;
    memcpy(copy, text, static_cast<size_t>(n) * sizeof(wchar_t));
    copy[n] = L'\0';
    DWORD got = FromWide(copy, out, static_cast<size_t>(size));
    free(copy);
    if (got >= static_cast<DWORD>(size)) {
        out[0] = '\0';
        return 0;
    }
    return static_cast<int>(got);
}

BOOL SetWindowTextU(HWND window, const char* text)
{
    WIDE_OR_FAIL(wide, text, FALSE);
    return SetWindowTextW(window, wide.c_str());
}

BOOL SetDlgItemTextU(HWND dialog, int item, const char* text)
{
    WIDE_OR_FAIL(wide, text, FALSE);
    return SetDlgItemTextW(dialog, item, wide.c_str());
}

int GetWindowTextU(HWND window, char* out, int size)
{
    if (size <= 0)
        return 0;
    int length = GetWindowTextLengthW(window);
    WideOut wide;
    if (length < 0 || !wide.Grow(static_cast<DWORD>(length) + 1)) {
        out[0] = '\0';
        return 0;
    }
    GetWindowTextW(window, wide.data(), static_cast<int>(wide.size()));
    DWORD n = FromWide(wide.data(), out, static_cast<size_t>(size));
    if (n >= static_cast<DWORD>(size)) {
        // As the interface does: cut to fit, here at a whole letter.
        int units = length;
        do {
            wide.data()[--units] = L'\0';
            n = FromWide(wide.data(), out, static_cast<size_t>(size));
        } while (units > 0 && n >= static_cast<DWORD>(size));
    }
    return static_cast<int>(n < static_cast<DWORD>(size) ? n : 0);
}

UINT GetDlgItemTextU(HWND dialog, int item, char* out, int size)
{
    HWND control = GetDlgItem(dialog, item);
    if (!control) {
        if (size > 0)
            out[0] = '\0';
        return 0;
    }
    return static_cast<UINT>(GetWindowTextU(control, out, size));
}

int MessageBoxU(HWND owner, const char* text, const char* caption, UINT style)
{
    WIDE_OR_FAIL(wideText, text, 0);
    WIDE_OR_FAIL(wideCaption, caption, 0);
    return MessageBoxW(owner, wideText.c_str(), wideCaption.c_str(), style);
}

int DrawTextU(HDC dc, const char* text, RECT* rect, UINT format)
{
    WIDE_OR_FAIL(wide, text, 0);
    return DrawTextW(dc, wide.c_str(), -1, rect, format);
}

HFONT CreateFontU(int height, int weight, const char* face)
{
    WIDE_OR_FAIL(wide, face, nullptr);
    // The face's own character set: letters beyond the system's code page
    // are drawn too.
    return CreateFontW(height, 0, 0, 0, weight, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, wide.c_str());
}

HINSTANCE WINAPI ShellExecuteU(HWND window, const char* verb, const char* file, const char* parameters,
                               const char* folder, INT show)
{
    // ShellExecute's way of saying it failed: a value of 32 or less.
    HINSTANCE failed = reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(SE_ERR_NOASSOC));
    WideText wideVerb, wideFile, wideParameters, wideFolder;
    if ((verb && !wideVerb.Assign(verb)) || !wideFile.Assign(file) ||
        (parameters && !wideParameters.Assign(parameters)) || (folder && !wideFolder.Assign(folder)))
        return failed;
    return ShellExecuteW(window, verb ? wideVerb.c_str() : nullptr, wideFile.c_str(),
                         parameters ? wideParameters.c_str() : nullptr, folder ? wideFolder.c_str() : nullptr, show);
}

DWORD GetPrivateProfileStringU(const char* section, const char* key, const char* fallback, char* out, DWORD size,
                               const char* path)
{
    WIDE_OR_FAIL(wideSection, section, 0);
    WIDE_OR_FAIL(wideKey, key, 0);
    WIDE_OR_FAIL(wideFallback, fallback, 0);
    WIDE_OR_FAIL(widePath, path, 0);
    return Fetch(out, size, [&](wchar_t* buffer, DWORD room) {
        DWORD n = GetPrivateProfileStringW(wideSection.c_str(), wideKey.c_str(), wideFallback.c_str(), buffer, room,
                                           widePath.c_str());
        // Cut to fit, it says room - 1: asked again with more room.
        return n + 1 >= room ? room : n;
    });
}

bool GetCommandLineU(Text& out)
{
    return AssignFromWide(GetCommandLineW(), out);
}
