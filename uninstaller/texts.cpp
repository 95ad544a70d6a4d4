// The uninstaller's texts: the language choice, its strings and dialogs in
// that language, the {Field} placeholders and the closing message.
#include "uninstaller/uninstaller.h"

#include <stdio.h>
#include <string.h>

#include "uninstaller/resource_ids.h"
#include "setup/wide.h"

LanguageList UninstallLanguages;
LANGID UninstallLanguage = kEnglish;

LANGID ChooseUninstallLanguage(const LanguageList& carried, LANGID display, const char* installation)
{
    LANGID recorded = installation && installation[0] ? LanguageFromName(carried, installation) : 0;
    if (IsCarriedLanguage(carried, display) || !recorded)
        return ChooseLanguage(carried, display);
    return recorded;
}

Text LoadUninstallText(int id)
{
    char buffer[4096];
    int n = LoadStringInLanguage(GetModuleHandleW(nullptr), static_cast<UINT>(id), UninstallLanguage, buffer,
                                 sizeof buffer);
    return Text(n > 0 ? buffer : "");
}

INT_PTR UninstallDialog(int templateId, DLGPROC procedure, LPARAM parameter)
{
    HMODULE module = GetModuleHandleW(nullptr);
    const DLGTEMPLATE* found = DialogTemplateInLanguage(module, templateId, UninstallLanguage);
    return found ? DialogBoxIndirectParamW(module, found, nullptr, procedure, parameter) : -1;
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
            FormatText(count, sizeof count, "%lu", static_cast<unsigned long>(left - shown));
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
