// The language the user reads Windows in, which the setup and the
// uninstaller speak when they carry it, and the names a language is given
// by on the command line (/LANG=) and in UnInstall.ini.
#pragma once

#include <windows.h>

// The user's display language (GetUserDefaultUILanguage, Windows 2000
// and later), else the language of the user's regional format.
LANGID UserDisplayLanguage();
// "fr", "fr-BE", "nl_NL", "1036", "0x040C": the language identifier (a
// bare name gives its primary language); 0 for anything else.
LANGID LanguageFromName(const char* name);
// Whether the programs' texts include a language's primary language:
// English, French and Dutch.
bool IsCarriedLanguage(LANGID language);
