// The three page fonts, made once for the screen's resolution and kept
// for the whole process.
#include "setup/setup.h"

#include <shlobj.h>
#include <string.h>

namespace {

HFONT CreatePageFont(const char* face, int points, int weight)
{
    return CreateFontA(MulDiv(-points, Context.ScreenDpiY, 72), 0, 0, 0, weight, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0,
                       face);
}

} // namespace

void CreatePageFonts()
{
    char fonts[MAX_PATH];
    fonts[0] = '\0';
    LPITEMIDLIST list = nullptr;
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_FONTS, &list)) && list) {
        if (!SHGetPathFromIDListA(list, fonts))
            fonts[0] = '\0';
        CoTaskMemFree(list);
    }
    char probe[MAX_PATH + 16];
    CopyBounded(probe, sizeof probe, fonts);
    size_t n = strlen(probe);
    if (n == 0 || probe[n - 1] != '\\')
        AppendBounded(probe, sizeof probe, "\\");
    AppendBounded(probe, sizeof probe, "Tahoma.ttf");
    const char* face = FileExists(probe) ? "Tahoma" : "MS Sans Serif";

    Context.DialogFont = CreatePageFont(face, 8, FW_NORMAL);
    Context.BoldFont = CreatePageFont(face, 8, FW_BOLD);
    Context.TitleFont = CreatePageFont(face, 16, FW_NORMAL);
}
