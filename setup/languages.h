// The languages a program carries, the one it speaks, and its texts in
// that language. What a program carries is data: its "LANGUAGES" resource
// (UTF-8, one line each: the language's code, its Windows language
// identifier and its own name, as in "de 0x0407 Deutsch") lists the
// languages its string tables and dialog templates are written in, each
// under the same IDs in the resource's language. The program's own build
// carries some; mksetup writes the list again with every language it adds.
// Shared by the setup and the uninstaller.
#pragma once

#include <windows.h>

const LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

struct CarriedLanguage {
    char Code[16];   // "de", "pt-BR"
    LANGID Id;
    char Name[64];   // UTF-8, in the language itself
};

struct LanguageList {
    static const int kMost = 64;
    CarriedLanguage Items[kMost];
    int Count = 0;
};

// The list in a module's "LANGUAGES" resource; empty when it has none.
void ReadCarriedLanguages(HMODULE module, LanguageList* list);
// The same from the resource's text. Lines that are not a code, a
// number and a name are passed over, and a list stops at kMost.
void ParseLanguageList(const char* text, size_t size, LanguageList* list);

// The user's display language (GetUserDefaultUILanguage, Windows 2000
// and later), else the language of the user's regional format.
LANGID UserDisplayLanguage();
// "de", "pt-BR", "PT_br", "1031", "0x0407": the carried language it names.
// A code whose region is not carried ("fr-BE") or that has none ("pt")
// names the carried language of its primary language, as ChooseLanguage
// gives it. 0 when it names none.
LANGID LanguageFromName(const LanguageList& list, const char* name);
// The carried language to speak to a user who reads wanted: wanted
// itself, else one of its primary language (pt-PT for pt-BR), else US
// English, else the first carried; 0 only for an empty list.
LANGID ChooseLanguage(const LanguageList& list, LANGID wanted);
// Whether wanted is carried, itself or through its primary language.
bool IsCarriedLanguage(const LanguageList& list, LANGID wanted);
// The carried language's entry; null when it is not carried.
const CarriedLanguage* FindCarriedLanguage(const LanguageList& list, LANGID language);

// A resource in the language, else in US English, else in whatever
// language the module has it.
HRSRC FindResourceInLanguage(HMODULE module, const wchar_t* type, const wchar_t* name, LANGID language);
// String id in the language as UTF-8 (a string the language leaves empty
// is taken from US English). The length written, 0 when there is none or
// it does not fit (out is then "").
int LoadStringInLanguage(HMODULE module, UINT id, LANGID language, char* out, int size);
// A dialog template in the language, for the *Indirect* dialog functions;
// null when the module has none by that ID.
const DLGTEMPLATE* DialogTemplateInLanguage(HMODULE module, int id, LANGID language);
