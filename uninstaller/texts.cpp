// The uninstaller's texts: language choice, string loading with the
// language offset, the {Field} placeholders and the closing message.
#include "uninstaller/uninstaller.h"

#include <stdio.h>
#include <string.h>

#include "setup/display_language.h"
#include "uninstaller/resource_ids.h"
#include "setup/wide.h"

int UninstallLanguageOffset = 0;

int LanguageOffsetFromLangId(LANGID langId)
{
    // Every sub-language counts: Belgian French, Belgian Dutch and so on.
    switch (PRIMARYLANGID(langId)) {
    case LANG_FRENCH:
        return UNINSTALL_OFFSET_FRENCH;
    case LANG_DUTCH:
        return UNINSTALL_OFFSET_DUTCH;
    default:
        return 0;
    }
}

LANGID ChooseUninstallLanguage(LANGID display, LANGID installation)
{
    if (IsCarriedLanguage(display) || !installation)
        return display;
    return installation;
}

Text LoadUninstallText(int id)
{
    char buffer[4096];
    int n = LoadStringU(GetModuleHandleW(nullptr), static_cast<UINT>(id + UninstallLanguageOffset), buffer,
                        sizeof buffer);
    if (n <= 0)
        n = LoadStringU(GetModuleHandleW(nullptr), static_cast<UINT>(id), buffer, sizeof buffer);
    return Text(n > 0 ? buffer : "");
}

Text ComposeSummary(const char* productName, const RemovalReport& report, const char* siblingName,
                    const char* archivistFolder, const char* keptFolder)
{
    Text summary = LoadUninstallText(IDS_REMOVED);
    ReplaceField(summary, "{ProductName}", productName);

    size_t left = report.LeftFiles.Count();
    if (left > 0) {
        summary.Append("\n\n");
        summary.Append(LoadUninstallText(IDS_FILES_LEFT).c_str());
        size_t shown = left < kListedFilesShown ? left : kListedFilesShown;
        for (size_t i = 0; i < shown; ++i) {
            summary.Append('\n');
            summary.Append(report.LeftFiles.At(i));
        }
        if (left > shown) {
            char count[24];
            snprintf(count, sizeof count, "%lu", static_cast<unsigned long>(left - shown));
            Text more = LoadUninstallText(IDS_MORE_FILES);
            ReplaceField(more, "{Count}", count);
            summary.Append('\n');
            summary.Append(more.c_str());
        }
    }
    if (keptFolder && keptFolder[0]) {
        Text kept = LoadUninstallText(IDS_FOLDER_KEPT);
        ReplaceField(kept, "{Folder}", keptFolder);
        summary.Append("\n\n");
        summary.Append(kept.c_str());
    }
    // A product without a sibling lists none of its files.
    if (report.SiblingFiles.Count() > 0 && siblingName && siblingName[0]) {
        Text sibling = LoadUninstallText(IDS_SIBLING_LEFT);
        ReplaceField(sibling, "{Sibling}", siblingName);
        ReplaceField(sibling, "{Folder}", archivistFolder ? archivistFolder : "");
        summary.Append("\n\n");
        summary.Append(sibling.c_str());
    }
    return summary;
}
