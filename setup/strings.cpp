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
    if (LoadStringU(module, static_cast<UINT>(id), buffer, size) <= 0)
        buffer[0] = '\0';
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
