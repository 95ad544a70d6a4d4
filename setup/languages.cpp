// The languages a program carries and its texts in one of them: the
// "LANGUAGES" list, the choice for the user, and string tables and dialog
// templates looked up by the resource's language rather than by the
// thread's, so that the language spoken is the one chosen here.
#include "setup/languages.h"

#include <stdlib.h>
#include <string.h>

#include "setup/wide.h"

namespace {

typedef LANGID(WINAPI* UiLanguageFunction)();

const size_t kMostListBytes = 16 * 1024;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Codes compare without case, '_' standing for '-': "pt_br" is "pt-BR".
bool SameCode(const char* a, const char* b, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        char x = a[i] == '_' ? '-' : Lower(a[i]);
        char y = b[i] == '_' ? '-' : Lower(b[i]);
        if (x != y)
            return false;
        if (!x)
            return true;
    }
    return true;
}

// One whitespace-separated field of a line into out (size bytes); false
// when it is empty or does not fit.
bool NextField(const char*& at, const char* end, char* out, size_t size, bool toEnd)
{
    while (at < end && IsBlank(*at))
        ++at;
    const char* start = at;
    while (at < end && (toEnd || !IsBlank(*at)))
        ++at;
    const char* stop = at;
    while (toEnd && stop > start && IsBlank(stop[-1]))
        --stop;
    size_t n = static_cast<size_t>(stop - start);
    if (n == 0 || n >= size)
        return false;
    memcpy(out, start, n);
    out[n] = '\0';
    return true;
}

} // namespace

void ParseLanguageList(const char* text, size_t size, LanguageList* list)
{
    list->Count = 0;
    const char* end = text + size;
    // A byte-order mark is not part of the first code.
    if (size >= 3 && memcmp(text, "\xEF\xBB\xBF", 3) == 0)
        text += 3;
    for (const char* line = text; line < end && list->Count < LanguageList::kMost;) {
        const char* stop = static_cast<const char*>(memchr(line, '\n', static_cast<size_t>(end - line)));
        if (!stop)
            stop = end;
        CarriedLanguage item = {};
        char number[16];
        const char* at = line;
        line = stop + 1;
        if (!NextField(at, stop, item.Code, sizeof item.Code, false) || item.Code[0] == ';' ||
            !NextField(at, stop, number, sizeof number, false) || !NextField(at, stop, item.Name, sizeof item.Name, true))
            continue;
        char* numberEnd = nullptr;
        unsigned long id = strtoul(number, &numberEnd, 0);
        if (*numberEnd != '\0' || id == 0 || id > 0xFFFF)
            continue;
        item.Id = static_cast<LANGID>(id);
        list->Items[list->Count++] = item;
    }
}

void ReadCarriedLanguages(HMODULE module, LanguageList* list)
{
    list->Count = 0;
    HRSRC found = FindResourceW(module, L"LANGUAGES", MAKEINTRESOURCEW(10));  // RT_RCDATA
    DWORD size = found ? SizeofResource(module, found) : 0;
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const char* text = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (text && size <= kMostListBytes)
        ParseLanguageList(text, size, list);
}

LANGID UserDisplayLanguage()
{
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    UiLanguageFunction ui = kernel ? reinterpret_cast<UiLanguageFunction>(
                                         reinterpret_cast<void*>(GetProcAddress(kernel, "GetUserDefaultUILanguage")))
                                   : nullptr;
    LANGID language = ui ? ui() : 0;
    return language ? language : GetUserDefaultLangID();
}

const CarriedLanguage* FindCarriedLanguage(const LanguageList& list, LANGID language)
{
    for (int i = 0; i < list.Count; ++i)
        if (list.Items[i].Id == language)
            return &list.Items[i];
    return nullptr;
}

LANGID ChooseLanguage(const LanguageList& list, LANGID wanted)
{
    if (list.Count == 0)
        return 0;
    if (FindCarriedLanguage(list, wanted))
        return wanted;
    // Of the same primary language, the one Windows counts as its default
    // (sub-language 1) first: a user in Belgium or Canada reads French.
    LANGID sameLanguage = 0;
    for (int i = 0; i < list.Count; ++i) {
        LANGID id = list.Items[i].Id;
        if (PRIMARYLANGID(id) != PRIMARYLANGID(wanted))
            continue;
        if (SUBLANGID(id) == SUBLANG_DEFAULT)
            return id;
        if (!sameLanguage)
            sameLanguage = id;
    }
    if (sameLanguage)
        return sameLanguage;
    return FindCarriedLanguage(list, kEnglish) ? kEnglish : list.Items[0].Id;
}

bool IsCarriedLanguage(const LanguageList& list, LANGID wanted)
{
    for (int i = 0; i < list.Count; ++i)
        if (PRIMARYLANGID(list.Items[i].Id) == PRIMARYLANGID(wanted))
            return true;
    return false;
}

LANGID LanguageFromName(const LanguageList& list, const char* name)
{
    size_t length = name ? strlen(name) : 0;
    if (length == 0 || length >= sizeof list.Items[0].Code)
        return 0;
    if (name[0] >= '0' && name[0] <= '9') {
        char* end = nullptr;
        unsigned long number = strtoul(name, &end, 0);
        if (*end != '\0' || number == 0 || number > 0xFFFF)
            return 0;
        return FindCarriedLanguage(list, static_cast<LANGID>(number)) ? static_cast<LANGID>(number) : 0;
    }
    for (int i = 0; i < list.Count; ++i)
        if (SameCode(name, list.Items[i].Code, sizeof list.Items[i].Code))
            return list.Items[i].Id;
    // A code with a region not carried ("fr-BE") counts as its language
    // alone; a language alone ("pt") names the carried one of its regions
    // that a user of that language would be given.
    size_t primary = 0;
    while (primary < length && name[primary] != '-' && name[primary] != '_')
        ++primary;
    for (int i = 0; i < list.Count; ++i) {
        const char* code = list.Items[i].Code;
        bool sameLanguage = SameCode(name, code, primary) && (code[primary] == '-' || code[primary] == '\0');
        if (sameLanguage && primary > 0)
            return ChooseLanguage(list, MAKELANGID(PRIMARYLANGID(list.Items[i].Id), SUBLANG_DEFAULT));
    }
    return 0;
}

HRSRC FindResourceInLanguage(HMODULE module, const wchar_t* type, const wchar_t* name, LANGID language)
{
    HRSRC found = FindResourceExW(module, type, name, language);
    if (!found && language != kEnglish)
        found = FindResourceExW(module, type, name, kEnglish);
    return found ? found : FindResourceW(module, name, type);
}

namespace {

// String id of a string table block in one language: where it lies in the
// resource and its length, 0 when the block or the string is not there.
int StringInBlock(HMODULE module, UINT id, LANGID language, const wchar_t** text)
{
    HRSRC found = FindResourceExW(module, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(id / 16 + 1), language);  // RT_STRING
    DWORD size = found ? SizeofResource(module, found) : 0;
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const WORD* at = loaded ? static_cast<const WORD*>(LockResource(loaded)) : nullptr;
    if (!at)
        return 0;
    // Sixteen counted strings; a block cut short has no more of them.
    const WORD* end = at + size / sizeof(WORD);
    for (UINT i = 0; i < id % 16; ++i) {
        if (at >= end || *at > end - at - 1)
            return 0;
        at += 1 + *at;
    }
    if (at >= end || *at > end - at - 1)
        return 0;
    *text = reinterpret_cast<const wchar_t*>(at + 1);
    return *at;
}

} // namespace

int LoadStringInLanguage(HMODULE module, UINT id, LANGID language, char* out, int size)
{
    const wchar_t* text = nullptr;
    int n = StringInBlock(module, id, language, &text);
    if (n == 0 && language != kEnglish)
        n = StringInBlock(module, id, kEnglish, &text);
    return FromWideCounted(text, n, out, size);
}

const DLGTEMPLATE* DialogTemplateInLanguage(HMODULE module, int id, LANGID language)
{
    HRSRC found = FindResourceInLanguage(module, MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(id), language);  // RT_DIALOG
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    return loaded ? static_cast<const DLGTEMPLATE*>(LockResource(loaded)) : nullptr;
}
