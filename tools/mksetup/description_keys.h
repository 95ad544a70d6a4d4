// The table of the description: every section and key, what it holds,
// the string of the setup program it becomes, its default in each
// language, how it is checked and its help text. The reader
// (description.cpp) takes its spellings and its forms from here, the
// checks (description_checks.cpp) its kinds, limits and defaults, and
// mksetup --keys prints it for the maker.
#pragma once

#include "tools/mksetup/mksetup.h"

namespace mksetup {

// What a key holds, which decides how it is checked and expanded.
enum KeyKind {
    NAME,        // a macro value or name: no braces, one line
    SHOWN_TEXT,  // shown by the setup as it stands: mksetup expands the macros, "%n" is a line break
    SETUP_TEXT,  // expanded by the setup when it is used: its macros stay
    FIELDS,      // "a | b | c", each field quoted on its own; checked by its section's unit
    LINK,        // a Start-menu link, expanded by the setup
    FOLDER,      // a folder of files to pack
    FILE_PATH,   // a file to pack
    MAIN_FILE,   // a file of the main folder
    NUMBER,
    TEXT_FILE,   // RTF or plain text
    ICON_FILE,
    BITMAP_FILE,
};

struct KeyRule {
    const char* section;  // "Language": any of [English], [French] and [Dutch]
    const char* key;
    KeyKind kind;
    int stringId;         // 0: none; for language keys the English one (+100 French, +200 Dutch)
    bool required;        // for language keys: in [English]
    size_t limit;         // characters the setup keeps of it; 0: no limit
    // A key written once a line, as often as the section needs, goes to
    // this list of the description; nullptr: a key written once.
    std::vector<Value> Description::*lines;
    const char* defaults[LANGUAGE_COUNT];
    const char* help;     // one line for the maker (mksetup --keys)
};

// The setup's buffers: 255 characters for a text that passes through the
// macros and for the window title, 1023 for the other texts it loads.
const size_t kMacroLimit = 255;
const size_t kTextLimit = 1023;

extern const char* const kLanguageSections[LANGUAGE_COUNT];

// Every rule, in the table's order.
const KeyRule* KeyRulesBegin();
const KeyRule* KeyRulesEnd();
// The rule of a key as written in a section (any letter case); nullptr
// for a key the section does not have.
const KeyRule* FindRule(const std::string& section, const std::string& key);
// The rule of a key spelt as the table spells it.
const KeyRule& Rule(const char* section, const char* key);
bool IsLanguageSection(const std::string& section);
// A section named by a language's code ([de], [pt-BR]): the product's
// texts in a language that a language file brings.
bool IsLanguageCode(const std::string& section);
// The table's spelling of a section written in any letter case; "" for
// none.
std::string SectionSpelling(const std::string& section);
// How to mend an unknown key or section: "did you mean", where the key
// belongs, or the keys and sections there are.
std::string KeyFix(const std::string& section, const std::string& key);
std::string SectionFix(const std::string& section);
// The table as the maker reads it: one line per key.
std::string KeyTableText();

}  // namespace mksetup
