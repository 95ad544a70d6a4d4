// The user's display language, looked up at run time (the oldest systems
// the programs run on have only the regional format), and the language
// names of /LANG= and UnInstall.ini.
#include "setup/display_language.h"

#include <stdlib.h>
#include <string.h>

namespace {

typedef LANGID(WINAPI* UiLanguageFunction)();

// The carried languages by their ISO 639-1 names.
struct NamedLanguage {
    const char* Name;
    WORD Primary;
};
const NamedLanguage kCarried[] = {{"en", LANG_ENGLISH}, {"fr", LANG_FRENCH}, {"nl", LANG_DUTCH}};

} // namespace

LANGID UserDisplayLanguage()
{
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    UiLanguageFunction ui = kernel ? reinterpret_cast<UiLanguageFunction>(
                                         reinterpret_cast<void*>(GetProcAddress(kernel, "GetUserDefaultUILanguage")))
                                   : nullptr;
    LANGID language = ui ? ui() : 0;
    return language ? language : GetUserDefaultLangID();
}

LANGID LanguageFromName(const char* name)
{
    if (!name || !name[0] || strlen(name) > 16)
        return 0;
    if (name[0] >= '0' && name[0] <= '9') {
        char* end = nullptr;
        unsigned long number = strtoul(name, &end, 0);
        return *end == '\0' && number > 0 && number <= 0xFFFF ? static_cast<LANGID>(number) : 0;
    }
    // Two letters, then nothing or a region after '-' or '_'.
    char letters[3] = {name[0], name[1], '\0'};
    for (char& c : letters)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    if (name[1] == '\0' || (name[2] != '\0' && name[2] != '-' && name[2] != '_'))
        return 0;
    for (const NamedLanguage& language : kCarried)
        if (strcmp(letters, language.Name) == 0)
            return MAKELANGID(language.Primary, SUBLANG_DEFAULT);
    return 0;
}

bool IsCarriedLanguage(LANGID language)
{
    for (const NamedLanguage& carried : kCarried)
        if (PRIMARYLANGID(language) == carried.Primary)
            return true;
    return false;
}
