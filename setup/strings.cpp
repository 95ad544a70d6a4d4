// String resources and the message boxes whose texts are string
// resources: how every page and step gets its words.
#include "setup/setup.h"
#include "setup/wide.h"

void LoadStringText(int id, char* buffer, int size)
{
    if (size <= 0)
        return;
    buffer[0] = '\0';
    HINSTANCE module = Context.InstanceHandle ? Context.InstanceHandle : GetModuleHandleW(nullptr);
    LoadStringInLanguage(module, static_cast<UINT>(id), Context.LanguageCode, buffer, size);
}

HRSRC FindLocalizedResource(const char* name, const char* type)
{
    HINSTANCE module = Context.InstanceHandle ? Context.InstanceHandle : GetModuleHandleW(nullptr);
    WideText wideName(name), wideType(type);
    if (!wideName.ok() || !wideType.ok())
        return nullptr;
    return FindResourceInLanguage(module, wideType.c_str(), wideName.c_str(), Context.LanguageCode);
}

INT_PTR DialogInLanguage(HWND owner, int templateId, DLGPROC procedure, LPARAM parameter)
{
    HINSTANCE module = Context.InstanceHandle ? Context.InstanceHandle : GetModuleHandleW(nullptr);
    const DLGTEMPLATE* found = DialogTemplateInLanguage(module, templateId, Context.LanguageCode);
    if (!found)
        return -1;
    return DialogBoxIndirectParamW(module, found, owner, procedure, parameter);
}

Text LoadStringAsText(int id)
{
    char buffer[4096];
    LoadStringText(id, buffer, sizeof buffer);
    return Text(buffer);
}

long LoadStringNumber(int id)
{
    char buffer[64];
    LoadStringText(id, buffer, sizeof buffer);
    return ParseDecimal(buffer);
}

int MessageBoxFromString(HWND owner, int id, UINT style)
{
    Text text = LoadStringAsText(id);
    Text caption = LoadStringAsText(IDS_MAIN_TITLE);
    return MessageBoxU(owner, text.c_str(), caption.c_str(), style | MB_SETFOREGROUND);
}

int MessageBoxExpanded(HWND owner, int id, UINT style)
{
    Text text = LoadStringAsText(id);
    ExpandMacros(text);
    Text caption = LoadStringAsText(IDS_MAIN_TITLE);
    return MessageBoxU(owner, text.c_str(), caption.c_str(), style | MB_SETFOREGROUND);
}
