// The three page fonts, made once for the screen's resolution and kept
// for the whole process.
#include "setup/setup.h"
#include "setup/wide.h"

#include <shlobj.h>
#include <string.h>

namespace {

HFONT CreatePageFont(const char* face, int points, int weight)
{
    return CreateFontU(MulDiv(-points, Context.ScreenDpiY, 72), weight, face);
}

} // namespace

void CreatePageFonts()
{
    char fonts[kPathBytes];
    fonts[0] = '\0';
    LPITEMIDLIST list = nullptr;
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_FONTS, &list)) && list) {
        if (!SHGetPathFromIDListU(list, fonts))
            fonts[0] = '\0';
        CoTaskMemFree(list);
    }
    char probe[kPathBytes + 16];
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
