// The table of the description's sections and keys, and what mksetup
// says about a key or section that is not in it.
#include "tools/mksetup/description_keys.h"

#include <ctype.h>

#include <algorithm>

namespace mksetup {

namespace {

const KeyRule kKeys[] = {
    {"Product", "AppName", NAME, 5003, true, kMacroLimit, nullptr, {},
     "the program's name on every page and in the list of installed programs ({AppName})"},
    {"Product", "ProductName", NAME, 5004, true, kMacroLimit, nullptr, {},
     "the full name: the registry key SOFTWARE\\<Maker>\\<ProductName> and the uninstall entry ({ProductName})"},
    {"Product", "Version", NAME, 5006, true, kMacroLimit, nullptr, {},
     "one to four numbers separated by dots, compared part by part with an installed version ({Version})"},
    {"Product", "Publisher", NAME, 5007, true, kMacroLimit, nullptr, {}, "the uninstall entry's publisher ({Publisher})"},
    {"Product", "WebAddress", NAME, 5008, false, kMacroLimit, nullptr, {"", "", ""},
     "the uninstall entry's web address and the finish page's web button ({WebAddress})"},
    // Worked out from the other names when left out (CheckDescription).
    {"Product", "Maker", NAME, 5009, false, kMacroLimit, nullptr, {},
     "the maker's registry key and setup folder (default: the first word of Publisher)"},
    {"Product", "Sibling", NAME, 5010, false, kMacroLimit, nullptr, {},
     "the sibling product whose files [Files] Archivist holds (default: <Maker> Archivist)"},
    {"Product", "SiblingFolder", NAME, 5011, false, kMacroLimit, nullptr, {},
     "the sibling's folder in the user's Documents (default: Sibling)"},
    {"Product", "Program", MAIN_FILE, 5005, true, kMacroLimit, nullptr, {},
     "the program started at the end, at the top of the main folder ({ExeName})"},
    // For every user of the machine or for the installing user alone;
    // checked and written as string 5012 by CheckDescription.
    {"Product", "Scope", NAME, 0, false, kMacroLimit, nullptr, {"machine", nullptr, nullptr},
     "machine (every user; administrator rights) or user (the installing user alone)"},
    // The default for a per-user product is kPerUserFolder.
    {"Product", "DefaultFolder", SETUP_TEXT, 5002, false, kMacroLimit, nullptr,
     {"{ProgramFilesDir}\\{Publisher}\\{AppName}\\", nullptr, nullptr}, "the destination offered, with macros"},
    {"Product", "StartMenuFolder", NAME, 7004, false, kMacroLimit, nullptr, {"{Publisher}", nullptr, nullptr},
     "the links' folder in the Start menu's Programs ({AppCorvane})"},
    {"Product", "WindowTitle", SHOWN_TEXT, 1, false, kMacroLimit, nullptr, {"{AppName} Setup", nullptr, nullptr},
     "the setup window's and message boxes' title"},
    {"Product", "RequiredSpace", NUMBER, 5000, false, 0, nullptr, {},
     "free space asked for, in bytes (default: worked out; a number may only ask for more)"},
    // Whether the finish page offers to start the program (checked
    // by CheckDescription into string 5013), and its arguments.
    {"Product", "RunAfter", NAME, 0, false, kMacroLimit, nullptr, {"yes", nullptr, nullptr},
     "yes: the finish page offers to start the program, and /S /RUN starts it; no: neither"},
    // The programs' architecture, checked by CheckDescription into string
    // 5015 (and against the programs' images).
    {"Product", "Architecture", NAME, 0, false, kMacroLimit, nullptr, {"x86", nullptr, nullptr},
     "x86 (32-bit programs) or x64 (64-bit programs: the system's own folders and registry view on 64-bit Windows, "
     "refused on 32-bit Windows)"},
    {"Product", "RunArguments", SETUP_TEXT, 5014, false, kMacroLimit, nullptr, {"", nullptr, nullptr},
     "the program's arguments when it is started at the end, with macros"},
    {"Files", "Main", FOLDER, 0, true, 0, nullptr, {}, "the folder of the product's files, sub-folders kept"},
    {"Files", "Archivist", FOLDER, 0, false, 0, nullptr, {}, "the folder of the sibling product's files"},
    {"Files", "Uninstaller", FILE_PATH, 0, false, 0, nullptr, {"UnInstall.exe", nullptr, nullptr},
     "the uninstaller (default: beside the payload-free program)"},
    {"Files", "ComctlUpdate", FILE_PATH, 0, false, 0, nullptr, {"40comupd.exe", nullptr, nullptr},
     "Microsoft's common-controls update (default: beside the payload-free program)"},
    {"Uninstall", "RemoveAlso", SETUP_TEXT, 900, false, kMacroLimit, &Description::removeAlso, {},
     "a file the product creates later, removed with it; one line each, twelve at most"},
    // The lines of the product's own shape, each checked by its section's
    // unit (tasks.cpp, links.cpp, registry_values.cpp).
    {"Tasks", "Task", FIELDS, 0, false, 0, &Description::tasks, {},
     "name | checked or unchecked | text [| French text | Dutch text]: a checkbox of the Additional Tasks page"},
    {"Links", "Link", FIELDS, 0, false, 0, &Description::links, {},
     "name | where | target [| arguments | icon file,index | description | working folder] [| task=name]"},
    {"Registry", "Value", FIELDS, 0, false, 0, &Description::registryValues, {},
     "root | key | name | type | data | at removal [| task=name]"},
    {"FileTypes", "Type", FIELDS, 0, false, 0, &Description::fileTypes, {},
     "extension | ProgID | description | program [| icon file,index] [| task=name]"},
    {"Path", "Folder", FIELDS, 0, false, 0, &Description::pathFolders, {},
     "{TargetDir} or a folder below it, added to the PATH [| task=name]"},
    // The languages, checked by languages.cpp.
    {"Languages", "Carry", NAME, 0, false, 0, nullptr, {"all", nullptr, nullptr},
     "all (default: the kit's languages and the files named), or the codes of those to carry: en, fr, de, ..."},
    {"Languages", "File", FIELDS, 0, false, 0, &Description::languageFiles, {},
     "a language file of the maker's own (as the kit's languages/en.txt), named <code>.txt; one line each"},
    {"Languages", "FallBack", NAME, 0, false, 0, nullptr, {"no", nullptr, nullptr},
     "yes: a text a language file lacks is shown in English; no (default): such a file is refused"},
    {"Languages", "Ask", NAME, 0, false, 0, nullptr, {"no", nullptr, nullptr},
     "yes: the user chooses the language before the first page; no (default): the display language's"},
    {"Language", "Edition", NAME, 8002, true, kMacroLimit, nullptr, {}, "the edition ({Edition})"},
    // Left out: the product has no help file, and no help link.
    {"Language", "HelpFile", MAIN_FILE, 8010, false, kMacroLimit, nullptr, {},
     "the help file in the main folder ({HelpName}); none: no help link"},
    {"Language", "HelpLink", LINK, 8007, false, kMacroLimit, nullptr,
     {"\\{AppCorvane}\\{AppName} Help.lnk", "\\{AppCorvane}\\Aide de {AppName}.lnk",
      "\\{AppCorvane}\\{AppName} Help.lnk"},
     "the help link's name under the Programs folder, ending in .lnk"},
    {"Language", "UninstallLink", LINK, 8008, false, kMacroLimit, nullptr,
     {"\\{AppCorvane}\\Uninstall {AppName}.lnk", "\\{AppCorvane}\\D\xC3\xA9sinstaller {AppName}.lnk",
      "\\{AppCorvane}\\{AppName} verwijderen.lnk"},
     "the uninstall link's name under the Programs folder, ending in .lnk"},
    {"Language", "HeaderTitle", SHOWN_TEXT, 8005, false, kTextLimit, nullptr,
     {"{AppName} Setup", "Installation de {AppName}", "{AppName} Installatie"}, "the first line at the top of every page"},
    {"Language", "HeaderSubtitle", SHOWN_TEXT, 8006, false, kTextLimit, nullptr, {"", "", ""},
     "the second line at the top of every page"},
    {"Language", "BrowseTitle", SHOWN_TEXT, 8009, false, kMacroLimit, nullptr,
     {"Choose the folder where {AppName} will be installed:",
      "Choisissez le r\xC3\xA9pertoire o\xC3\xB9 {AppName} sera install\xC3\xA9 :",
      "Kies de map waarin {AppName} wordt ge\xC3\xAFnstalleerd:"},
     "the folder browser's title"},
    // The finish page's web button; left out, [Product] WebAddress.
    {"Language", "WebAddress", NAME, 8017, false, kMacroLimit, nullptr, {},
     "the finish page's web button in this language (default: [Product] WebAddress)"},
    {"Language", "ComctlQuestion", SHOWN_TEXT, 8004, false, kTextLimit, nullptr,
     {"The common controls of your system (COMCTL32.DLL) are older than version 4.72, which {AppName} "
      "needs.%n%nDo you want to update them now? Windows will restart at the end of the installation.",
      "Les contr\xC3\xB4les communs de votre syst\xC3\xA8me (COMCTL32.DLL) sont ant\xC3\xA9rieurs \xC3\xA0 la version "
      "4.72, requise par {AppName}.%n%nVoulez-vous les mettre \xC3\xA0 jour maintenant ? Windows red\xC3\xA9marrera "
      "\xC3\xA0 la fin de l'installation.",
      "De gemeenschappelijke besturingselementen van uw systeem (COMCTL32.DLL) zijn ouder dan versie 4.72, die "
      "{AppName} nodig heeft.%n%nWilt u ze nu bijwerken? Windows wordt aan het einde van de installatie opnieuw "
      "gestart."},
     "the question that offers the common-controls update"},
    {"Language", "Licence", TEXT_FILE, 0, true, 0, nullptr, {}, "the licence: an RTF document or plain text"},
    // Left out: the wizard has no information page.
    {"Language", "Information", TEXT_FILE, 0, false, 0, nullptr, {},
     "the important information, RTF or plain text; none: no information page"},
    {"Art", "Icon", ICON_FILE, 0, false, 0, nullptr, {}, "the program's icon (.ico)"},
    {"Art", "HeaderLarge", BITMAP_FILE, 960, false, 0, nullptr, {}, "the pages' header bitmap, 125 x 68 pixels"},
    {"Art", "HeaderSmall", BITMAP_FILE, 961, false, 0, nullptr, {}, "the header bitmap for small fonts, 109 x 59"},
    {"Art", "Footer", BITMAP_FILE, 962, false, 0, nullptr, {}, "the pages' footer bitmap, 136 x 30"},
};

bool SameWord(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

size_t EditDistance(const std::string& a, const std::string& b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (tolower(a[i - 1]) != tolower(b[j - 1]))});
            diagonal = up;
        }
    }
    return row[b.size()];
}

// The sections as the table names them, in its order, the languages'
// where the table says "Language".
std::vector<std::string> Sections()
{
    std::vector<std::string> sections;
    for (const KeyRule& k : kKeys) {
        std::vector<std::string> names;
        if (std::string(k.section) == "Language")
            names.assign(kLanguageSections, kLanguageSections + LANGUAGE_COUNT);
        else
            names.push_back(k.section);
        for (const std::string& name : names)
            if (std::find(sections.begin(), sections.end(), name) == sections.end())
                sections.push_back(name);
    }
    return sections;
}

std::string Listed(const std::vector<std::string>& items)
{
    std::string out;
    for (size_t i = 0; i < items.size(); ++i)
        out += (i == 0 ? "" : i + 1 == items.size() ? " or " : ", ") + items[i];
    return out;
}

std::string SectionGroup(const std::string& section) { return IsLanguageSection(section) ? "Language" : section; }

std::string Shown(const KeyRule& k)
{
    return std::string(k.section) == "Language" ? "[English], [French] or [Dutch]" : "[" + std::string(k.section) + "]";
}

}  // namespace

const char* const kLanguageSections[LANGUAGE_COUNT] = {"English", "French", "Dutch"};
const uint16_t kLanguageIds[LANGUAGE_COUNT] = {0x0409, 0x040C, 0x0413};

uint16_t LanguageId(Language language) { return kLanguageIds[language]; }

Language DescriptionLanguage(uint16_t id)
{
    for (int l = 0; l < LANGUAGE_COUNT; ++l)
        if (kLanguageIds[l] == id)
            return static_cast<Language>(l);
    return ENGLISH;
}

const KeyRule* KeyRulesBegin() { return kKeys; }
const KeyRule* KeyRulesEnd() { return kKeys + sizeof kKeys / sizeof *kKeys; }

bool IsLanguageCode(const std::string& section)
{
    // Two or three letters, and a region after '-': de, pt-BR, zh-CN; not
    // a section of the table ([Art]).
    for (const KeyRule& k : kKeys)
        if (SameWord(section, k.section))
            return false;
    size_t letters = 0;
    while (letters < section.size() && isalpha(static_cast<unsigned char>(section[letters])))
        ++letters;
    if (letters < 2 || letters > 3)
        return false;
    if (letters == section.size())
        return true;
    if (section[letters] != '-' || section.size() - letters - 1 < 2 || section.size() - letters - 1 > 4)
        return false;
    for (size_t i = letters + 1; i < section.size(); ++i)
        if (!isalnum(static_cast<unsigned char>(section[i])))
            return false;
    return true;
}

bool IsLanguageSection(const std::string& section)
{
    for (const char* l : kLanguageSections)
        if (section == l)
            return true;
    return IsLanguageCode(section);
}

const KeyRule* FindRule(const std::string& section, const std::string& key)
{
    std::string group = SectionGroup(section);
    for (const KeyRule& k : kKeys)
        if (group == k.section && SameWord(key, k.key))
            return &k;
    return nullptr;
}

const KeyRule& Rule(const char* section, const char* key)
{
    for (const KeyRule& k : kKeys)
        if (std::string(section) == k.section && std::string(key) == k.key)
            return k;
    return kKeys[0];
}

std::string SectionSpelling(const std::string& section)
{
    for (const std::string& s : Sections())
        if (SameWord(section, s))
            return s;
    // A language's code names the product's texts in a language of a file.
    return IsLanguageCode(section) ? section : "";
}

std::string KeyFix(const std::string& section, const std::string& key)
{
    std::string group = SectionGroup(section);
    const KeyRule* best = nullptr;
    size_t bestDistance = 4;
    std::vector<std::string> keys;
    for (const KeyRule& k : kKeys) {
        if (group != k.section)
            continue;
        keys.push_back(k.key);
        size_t d = EditDistance(key, k.key);
        if (d < bestDistance) {
            bestDistance = d;
            best = &k;
        }
    }
    if (best)
        return std::string("did you mean \"") + best->key + "\"?";
    // A key of another section, written there or misspelt.
    for (const KeyRule& k : kKeys) {
        if (EditDistance(key, k.key) > 3)
            continue;
        return SameWord(key, k.key) ? "move it to " + Shown(k)
                                    : std::string("did you mean \"") + k.key + "\" under " + Shown(k) + "?";
    }
    return "remove it; [" + section + "] has " + Listed(keys) + " (mksetup --keys lists them all)";
}

std::string SectionFix(const std::string& section)
{
    std::vector<std::string> sections = Sections();
    for (const std::string& s : sections)
        if (EditDistance(section, s) <= 3)
            return "did you mean [" + s + "]?";
    for (std::string& s : sections)
        s = "[" + s + "]";
    return "use " + Listed(sections);
}

std::string KeyTableText()
{
    std::string text;
    for (const KeyRule& k : kKeys) {
        std::string where = std::string(k.section) == "Language" ? "[English] [French] [Dutch]" : Shown(k);
        text += where + " " + k.key + (k.required ? " (required)" : "") + (k.lines ? " (one line each)" : "") +
                ": " + k.help + "\n";
    }
    return text;
}

}  // namespace mksetup
