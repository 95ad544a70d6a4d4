// The checks of a description read: every value against its key's rule
// in the table (description_keys.h), the names and folders worked out
// from the others, the product's folders laid out, and the setup
// program's string table made of it all.
#include "tools/mksetup/description_keys.h"

#include <string.h>

#include <algorithm>

namespace mksetup {

namespace {

const size_t kMostRemoveAlso = 12;  // strings 900 to 911
// The largest product the shipped 32-bit setup was seen to install, in
// both kinds of Wine prefix (README: the shipped 32-bit program): 1950
// MiB, just under what the setup's 2 GiB count of the space needed allows.
const uint64_t kLargestProduct = 1950ull << 20;

// The macros the setup expands itself when it shows or uses a text.
const char* const kSetupMacros[] = {"ProgramFilesDir", "CommonFilesDir", "LocalAppDataDir", "ProductName", "AppName",
                                    "Edition", "AppCorvane", "ExeName", "HelpName", "TargetDir", "PF", "AL",
                                    "TargetDrive", "EspaceLibre", "EspaceRequis", "CopyDir", "CopyFile"};
// A per-user product's default folder: the user's own programs' folder,
// as Windows names it for programs installed without administrator rights.
const char kPerUserFolder[] = "{LocalAppDataDir}\\Programs\\{AppName}\\";
// The folders that only administrators may write, which a per-user
// product cannot be installed into.
const char* const kMachineFolderMacros[] = {"ProgramFilesDir", "CommonFilesDir"};
// Known only to mksetup: replaced wherever they are written.
const char* const kMakerMacros[] = {"Publisher", "Version", "WebAddress"};

// Registry keys and the uninstaller's arguments that the setup builds
// around the names, each cut at 255 characters.
const char kUninstallKeyPrefix[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char kAppPathKeyPrefix[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

bool SameWord(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

std::string LanguageKey(Language language, const char* key) { return std::string(kLanguageSections[language]) + "." + key; }
// The value of a key for a language (or of a key of another section): as
// written, else the English one, else the default. given is false for a
// default.
Value Resolve(const Description& d, const KeyRule& rule, Language language)
{
    bool byLanguage = std::string(rule.section) == "Language";
    std::string name = byLanguage ? LanguageKey(language, rule.key) : std::string(rule.section) + "." + rule.key;
    const Value* v = FindValue(d, name);
    if (v)
        return *v;
    Value fallback;
    const char* text = rule.defaults[byLanguage ? language : ENGLISH];
    if (!text && byLanguage)
        text = rule.defaults[ENGLISH];
    fallback.text = text ? text : "";
    fallback.origin.file = d.file;
    return fallback;
}

bool HasBraceOrControl(const std::string& text)
{
    for (unsigned char c : text)
        if (c == '{' || c == '}' || c < 0x20)
            return true;
    return false;
}

bool OneOf(const std::string& name, const char* const* list, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (name == list[i])
            return true;
    return false;
}

std::string MacroList(const char* const* list, size_t count)
{
    std::string out;
    for (size_t i = 0; i < count; ++i)
        out += std::string(i ? ", {" : "{") + list[i] + "}";
    return out;
}

std::string Describe(const KeyRule& rule, Language language)
{
    return std::string(rule.key) + (std::string(rule.section) == "Language" ? std::string(" of [") +
                                                                                 kLanguageSections[language] + "]"
                                                                           : std::string());
}

void CheckLength(const Value& v, const std::string& text, const KeyRule& rule, Language language,
                 Problems* problems)
{
    size_t n = CharacterCount(text);
    if (rule.limit && n > rule.limit)
        problems->Add(v.origin, Describe(rule, language) + " is " + std::to_string(n) +
                                    " characters long, the setup keeps " + std::to_string(rule.limit) + " at most",
                      "shorten it by " + std::to_string(n - rule.limit) + " characters");
}

// A name that the setup puts into other texts through a macro.
std::string CheckName(const Value& v, const KeyRule& rule, Language language, bool required, Problems* problems)
{
    if (required && Trim(v.text).empty()) {
        problems->Add(v.origin, Describe(rule, language) + " is empty", "write the text after the equals sign");
        return v.text;
    }
    if (HasBraceOrControl(v.text)) {
        problems->Add(v.origin, Describe(rule, language) + " holds a brace or a control character",
                      "write it without { }: it is itself the value of a macro");
        return v.text;
    }
    CheckLength(v, v.text, rule, language, problems);
    return v.text;
}

// A text the setup shows without expanding it: mksetup puts the values in.
std::string CheckShownText(const Value& v, const KeyRule& rule, Language language,
                           const std::map<std::string, std::string>& macros, Problems* problems)
{
    std::string text;
    for (size_t i = 0; i < v.text.size(); ++i) {
        if (v.text.compare(i, 2, "%n") == 0) {
            text += '\n';
            ++i;
        } else {
            text += v.text[i];
        }
    }
    text = ExpandKnownMacros(text, macros);
    std::vector<std::string> left = MacroNames(text);
    if (!left.empty())
        problems->Add(v.origin, "{" + left[0] + "} in " + Describe(rule, language) + " would be shown as it is written",
                      "use only " + MacroList(kSetupMacros + 3, 6) + ", " + MacroList(kMakerMacros, 3) + " here");
    else
        CheckLength(v, text, rule, language, problems);
    return text;
}

// A text the setup expands when it uses it: only mksetup's own macros are
// replaced, and every other must be one the setup knows.
std::string CheckSetupText(const Value& v, const KeyRule& rule, Language language,
                           const std::map<std::string, std::string>& macros, Problems* problems)
{
    std::map<std::string, std::string> makerOnly;
    for (const char* name : kMakerMacros)
        makerOnly[name] = macros.at(name);
    std::string text = ExpandKnownMacros(v.text, makerOnly);
    for (const std::string& name : MacroNames(text)) {
        if (!OneOf(name, kSetupMacros, sizeof kSetupMacros / sizeof *kSetupMacros)) {
            problems->Add(v.origin, "{" + name + "} in " + Describe(rule, language) + " is not a macro the setup knows",
                          "use " + MacroList(kSetupMacros, 13) + " or " + MacroList(kMakerMacros, 3));
            return text;
        }
    }
    CheckLength(v, text, rule, language, problems);
    return text;
}


// True when a language takes the key's value from [English] (or the
// default): its checks were made for English.
bool Inherits(const Description& d, Language language, const char* key)
{
    return language != ENGLISH && !d.values.count(LanguageKey(language, key));
}

// The macro through which the setup (or mksetup) uses a name.
std::string MacroOfKey(const std::string& key)
{
    if (key == "Program")
        return "ExeName";
    if (key == "StartMenuFolder")
        return "AppCorvane";
    if (key == "HelpFile")
        return "HelpName";
    return key;
}

// A name that becomes a registry key or a folder of its own: one plain
// part that Windows keeps as written.
bool IsPlainPart(const std::string& name)
{
    if (name.empty() || name.size() > 100 || name.back() == '.' || name.back() == ' ' || name == "." || name == "..")
        return false;
    for (unsigned char c : name)
        if (c < 0x20 || strchr("\\/:*?\"<>|", c))
            return false;
    return true;
}

// One to four parts of digits separated by dots ("2", "3.10", "1.0.0.17").
bool IsDottedVersion(const std::string& version)
{
    int parts = 0;
    size_t digits = 0;
    for (size_t i = 0; i <= version.size(); ++i) {
        if (i < version.size() && version[i] >= '0' && version[i] <= '9') {
            if (++digits > 9)
                return false;
        } else if (i == version.size() || version[i] == '.') {
            if (digits == 0 || ++parts > 4)
                return false;
            digits = 0;
        } else {
            return false;
        }
    }
    return true;
}

// A [Product] key that is one of two words, in any letter case: the
// word in lower case; anything else is a mistake, mended as fix says.
std::string CheckChoice(const Description& d, const char* key, const char* first, const char* second, const char* fix,
                        Problems* problems)
{
    Value v = Resolve(d, Rule("Product", key), ENGLISH);
    std::string word = Lower(Trim(v.text));
    if (word != first && word != second)
        problems->Add(v.origin, std::string(key) + " \"" + v.text + "\" is neither " + first + " nor " + second, fix);
    return word;
}

const ProductFile* FindMainFile(const Description& d, std::string name)
{
    std::replace(name.begin(), name.end(), '/', '\\');
    for (const ProductFile& f : d.main.files)
        if (SameWord(f.name, name))
            return &f;
    return nullptr;
}
// The product's texts in each language of a file: the description's
// section of that language's code ([de]) where it gives them, else, for a
// text it does not give in English either, the file's [Product] text; each
// put through the checks a description's text gets. A text given in
// English alone is left to the setup to show from English.
void ProductTextsOfLanguageFiles(Description* d, Problems* problems)
{
    std::map<std::string, std::string> sections;  // lower-case code -> the section as written
    for (const auto& v : d->values) {
        std::string section = v.first.substr(0, v.first.find('.'));
        if (IsLanguageCode(section))
            sections[Lower(section)] = section;
    }
    for (LanguageFile& file : d->languages) {
        auto own = sections.find(Lower(file.code));
        std::string section = own == sections.end() ? "" : own->second;
        if (own != sections.end())
            sections.erase(own);
        file.macros = d->macros[ENGLISH];
        // The names first: the texts after them expand {Edition}.
        for (const char* key : {"Edition", "WebAddress"})
            if (d->values.count(section + "." + key)) {
                const Value& v = d->values[section + "." + key];
                std::string name = CheckName(v, Rule("Language", key), ENGLISH, false, problems);
                if (std::string(key) == "Edition")
                    file.macros["Edition"] = name;
                file.product[Rule("Language", key).stringId] = name;
            }
        for (const KeyRule* r = KeyRulesBegin(); r != KeyRulesEnd(); ++r) {
            if (std::string(r->section) != "Language")
                continue;
            Value v;
            auto given = d->values.find(section + "." + r->key);
            auto fallback = file.texts[PRODUCT_TEXTS].find(r->key);
            if (!section.empty() && given != d->values.end()) {
                v = given->second;
            } else if (fallback != file.texts[PRODUCT_TEXTS].end() && !Resolve(*d, *r, ENGLISH).given) {
                v.text = fallback->second;
                v.origin = Origin{file.path, file.lines[PRODUCT_TEXTS][r->key]};
                v.given = true;
            } else {
                continue;
            }
            if (r->kind == SHOWN_TEXT) {
                file.product[r->stringId] = CheckShownText(v, *r, ENGLISH, file.macros, problems);
            } else if (r->kind == LINK && !(std::string(r->key) == "HelpLink" && file.macros["HelpName"].empty())) {
                std::string link = CheckSetupText(v, *r, ENGLISH, file.macros, problems);
                file.product[r->stringId] = link.empty() || link[0] == '\\' ? link : "\\" + link;
            } else if (r->kind == TEXT_FILE) {
                std::string path = ResolvePath(*d, v);
                if (!IsFile(path) || FileSize(path) == 0)
                    problems->Add(v.origin, "the file " + path + " does not exist or is empty",
                                  "name an RTF or plain-text file, relative to the description");
                else
                    (std::string(r->key) == "Licence" ? file.licence : file.information) = path;
            }
        }
    }
    for (const auto& left : sections) {
        const Value& first = d->values.lower_bound(left.second + ".")->second;
        problems->Add(first.origin, "[" + left.second + "] names no language the setup carries from a file",
                      "carry its language file (the kit's languages folder, or [Languages] File), or write "
                      "[English], [French] or [Dutch]");
    }
}

}  // namespace

std::string ResolvePath(const Description& d, const Value& v)
{
    // A path on the command line is taken from the current folder, one in
    // the description from the description's folder.
    if (v.origin.line == 0 && v.given)
        return v.text;
    return JoinPath(d.folder, v.text);
}

bool HasMainFile(const Description& d, const std::string& name) { return FindMainFile(d, name) != nullptr; }

void CheckProgramArchitecture(const Description& d, const std::string& name, const Value& v, Problems* problems)
{
    const uint16_t kX64 = 0x8664;
    const ProductFile* file = FindMainFile(d, name);
    if (!d.sixtyFourBit || !file || ImageMachine(file->path) == kX64)
        return;
    problems->Add(v.origin, name + " is not a 64-bit (x64) program, and Architecture = x64 says the product's are",
                  "build it for x64, or leave Architecture out for a 32-bit product");
}

bool IsSetupMacro(const std::string& name)
{
    return OneOf(name, kSetupMacros, sizeof kSetupMacros / sizeof *kSetupMacros);
}
uint64_t RequiredSpace(uint64_t installedBytes)
{
    // Cluster slack, the uninstaller's settings file and the links: 5 % and
    // 64 KB more than the bytes installed.
    return (installedBytes * 105 + 99) / 100 + 64 * 1024;
}
void CheckDescription(const std::string& stubFolder, Description* d, Problems* problems)
{
    Origin whole{d->file, 0};
    // Required keys first: without them nothing else can be worked out.
    for (const KeyRule* r = KeyRulesBegin(); r != KeyRulesEnd(); ++r) {
        const KeyRule& rule = *r;
        if (!rule.required)
            continue;
        bool byLanguage = std::string(rule.section) == "Language";
        std::string section = byLanguage ? "English" : rule.section;
        if (!FindValue(*d, section + "." + rule.key))
            problems->Add(whole, std::string(rule.key) + " is missing from [" + section + "]",
                          std::string("add a line \"") + rule.key + " = ...\" under [" + section + "]");
    }
    if (problems->Any())
        return;

    // The names, and with them the macros mksetup itself replaces.
    std::map<std::string, std::string> common;
    const char* names[][2] = {{"AppName", "AppName"}, {"ProductName", "ProductName"}, {"Version", "Version"},
                              {"Publisher", "Publisher"}, {"WebAddress", "WebAddress"}, {"Program", "ExeName"}};
    for (auto& n : names) {
        const KeyRule& rule = Rule("Product", n[0]);
        common[n[1]] = CheckName(Resolve(*d, rule, ENGLISH), rule, ENGLISH, rule.required, problems);
    }
    bool makerIsPlain = false;
    {
        // The maker's registry key and setup folder: the first word of the
        // publisher unless written ("Corvane Software" gives "Corvane").
        const KeyRule& rule = Rule("Product", "Maker");
        Value v = Resolve(*d, rule, ENGLISH);
        if (!v.given)
            v.text = common["Publisher"].substr(0, common["Publisher"].find(' '));
        common["Maker"] = CheckName(v, rule, ENGLISH, true, problems);
        makerIsPlain = IsPlainPart(v.text);
        if (!v.text.empty() && !makerIsPlain)
            problems->Add(v.origin, "Maker \"" + v.text + "\" cannot name a registry key and a folder",
                          "write one name of at most 100 characters, without \\ / : * ? \" < > | and not ending in a "
                          "dot or blank");
    }
    // For every user (administrator rights, the machine's hive and
    // folders) or for the installing user alone.
    d->perUser = CheckChoice(*d, "Scope", "machine", "user",
                             "write Scope = machine (every user; the setup asks for administrator rights) or Scope = "
                             "user (the installing user alone; no administrator rights)",
                             problems) == "user";
    d->strings[5012] = d->perUser ? "user" : "machine";
    d->strings[5013] = CheckChoice(
        *d, "RunAfter", "yes", "no",
        "write RunAfter = yes (the finish page offers to start the program) or RunAfter = no", problems);
    d->strings[5015] = CheckChoice(*d, "Architecture", "x86", "x64",
                                   "write Architecture = x64 for a product whose programs are 64-bit, or leave it out",
                                   problems);
    d->sixtyFourBit = d->strings[5015] == "x64";
    {
        const Value* version = FindValue(*d, "Product.Version");
        if (!IsDottedVersion(version->text))
            problems->Add(version->origin, "Version \"" + version->text + "\" is not a dotted version",
                          "write one to four numbers separated by dots, such as 2.1 or 3.10.0.17");
    }
    {
        const KeyRule& rule = Rule("Product", "StartMenuFolder");
        Value v = Resolve(*d, rule, ENGLISH);
        if (!v.given)
            v.text = ExpandKnownMacros(v.text, common);
        common["AppCorvane"] = CheckName(v, rule, ENGLISH, true, problems);
        if (v.text.find_first_of("\\/:*?\"<>|") != std::string::npos)
            problems->Add(v.origin, "StartMenuFolder is a folder name and cannot hold \\ / : * ? \" < > |",
                          "write one folder name");
    }
    const Value* product = FindValue(*d, "Product.ProductName");
    const Value* program = FindValue(*d, "Product.Program");
    if (product->text.find('\\') != std::string::npos)
        problems->Add(product->origin, "ProductName names a registry key and cannot hold a backslash",
                      "write it without \\");
    if (program->text.find_first_of("\\/") != std::string::npos)
        problems->Add(program->origin, "Program must be a file at the top of the main folder, not in a sub-folder",
                      "write its file name only, and put the file at the top of [Files] Main");
    if (sizeof kUninstallKeyPrefix - 1 + product->text.size() > kMacroLimit ||
        common["ProductName"].size() + common["ExeName"].size() + 5 > kMacroLimit)
        problems->Add(product->origin, "ProductName makes the uninstall entry's registry key or arguments longer than "
                                       "the setup's 255 characters",
                      "shorten ProductName");
    if (sizeof kAppPathKeyPrefix - 1 + program->text.size() > kMacroLimit)
        problems->Add(program->origin, "Program makes the application path key longer than 255 characters",
                      "shorten the program's file name");

    Problems inheritedNames;
    for (int l = 0; l < LANGUAGE_COUNT; ++l) {
        Language language = static_cast<Language>(l);
        d->macros[l] = common;
        const KeyRule& edition = Rule("Language", "Edition");
        const KeyRule& help = Rule("Language", "HelpFile");
        d->macros[l]["Edition"] = CheckName(Resolve(*d, edition, language), edition, language, true,
                                            Inherits(*d, language, "Edition") ? &inheritedNames : problems);
        Value helpValue = Resolve(*d, help, language);
        std::string helpName = CheckName(helpValue, help, language, helpValue.given,
                                         Inherits(*d, language, "HelpFile") ? &inheritedNames : problems);
        std::replace(helpName.begin(), helpName.end(), '/', '\\');
        d->macros[l]["HelpName"] = helpName;
    }

    // The folders and files.
    const KeyRule& mainRule = Rule("Files", "Main");
    const KeyRule& archivistRule = Rule("Files", "Archivist");
    Value mainValue = Resolve(*d, mainRule, ENGLISH);
    d->main.path = ResolvePath(*d, mainValue);
    if (!IsFolder(d->main.path)) {
        problems->Add(mainValue.origin, "the folder " + d->main.path + " does not exist",
                      "name the folder of the product's files, relative to the description");
    } else {
        ListProductFolder(&d->main, mainValue.origin, problems);
        if (d->main.files.empty())
            problems->Add(mainValue.origin, "the folder " + d->main.path + " holds no files",
                          "put the product's files into it");
    }
    Value archivistValue = Resolve(*d, archivistRule, ENGLISH);
    if (archivistValue.given) {
        d->archivist.path = ResolvePath(*d, archivistValue);
        if (!IsFolder(d->archivist.path))
            problems->Add(archivistValue.origin, "the folder " + d->archivist.path + " does not exist",
                          "name the folder of the sibling product's files, or leave the key out");
        else
            ListProductFolder(&d->archivist, archivistValue.origin, problems);
    }
    {
        // The sibling product, whose files [Files] Archivist holds: named
        // "<Maker> Archivist" unless written, and none without such files.
        const KeyRule& siblingRule = Rule("Product", "Sibling");
        const KeyRule& folderRule = Rule("Product", "SiblingFolder");
        Value sibling = Resolve(*d, siblingRule, ENGLISH);
        Value folder = Resolve(*d, folderRule, ENGLISH);
        if (!archivistValue.given) {
            if (sibling.given || folder.given)
                problems->Add((sibling.given ? sibling : folder).origin,
                              "a sibling product is named, but [Files] has no Archivist folder with its files",
                              "add Archivist = <folder> under [Files], or leave Sibling and SiblingFolder out");
            sibling.text.clear();
            folder.text.clear();
        } else {
            if (!sibling.given)
                sibling.text = common["Maker"] + " Archivist";
            if (!folder.given)
                folder.text = sibling.text;
            // Names made from a maker that is already refused are not
            // refused again.
            bool derived = !sibling.given || !folder.given;
            CheckName(sibling, siblingRule, ENGLISH, true, problems);
            CheckName(folder, folderRule, ENGLISH, true, problems);
            if (!IsPlainPart(folder.text) && (makerIsPlain || !derived))
                problems->Add(folder.origin, "SiblingFolder is a folder name in the user's Documents",
                              "write one folder name, without \\ / : * ? \" < > |");
        }
        for (int l = 0; l < LANGUAGE_COUNT; ++l) {
            d->macros[l]["Sibling"] = sibling.text;
            d->macros[l]["SiblingFolder"] = folder.text;
        }
    }
    for (const char* key : {"Uninstaller", "ComctlUpdate"}) {
        const KeyRule& rule = Rule("Files", key);
        Value v = Resolve(*d, rule, ENGLISH);
        std::string path = v.given ? ResolvePath(*d, v) : JoinPath(stubFolder, v.text);
        if (!IsFile(path))
            problems->Add(v.origin, "the file " + path + " does not exist",
                          v.given ? std::string("name an existing file, relative to the description")
                                  : "put " + v.text + " beside the payload-free setup program, or name it with " +
                                        key + " under [Files]");
        (std::string(key) == "Uninstaller" ? d->uninstaller : d->comctlUpdate) = path;
    }
    if (!d->main.files.empty()) {
        if (!FindMainFile(*d, program->text) || program->text.find_first_of("\\/") != std::string::npos)
            problems->Add(program->origin, "the program " + program->text + " is not at the top of the folder " +
                                               d->main.path,
                          "put it there, or write the name of a program that is");
        else
            CheckProgramArchitecture(*d, program->text, *program, problems);
        for (int l = 0; l < LANGUAGE_COUNT; ++l) {
            Value help = Resolve(*d, Rule("Language", "HelpFile"), static_cast<Language>(l));
            if (!Inherits(*d, static_cast<Language>(l), "HelpFile") && !d->macros[l]["HelpName"].empty() &&
                !FindMainFile(*d, d->macros[l]["HelpName"]))
                problems->Add(help.origin, "the help file " + help.text + " is not in the folder " + d->main.path,
                              "put it there, or name a file of that folder (sub-folders with \\)");
        }
    }
    if (d->main.bytes + d->archivist.bytes > kLargestProduct)
        problems->Add(mainValue.origin, "the product is " + std::to_string(d->main.bytes + d->archivist.bytes) +
                                            " bytes, more than the " + std::to_string(kLargestProduct) +
                                            " bytes (1950 MB) the setup installs",
                      "make the folders smaller");

    // The texts. A language that takes a value from [English] has it
    // checked there once.
    StringTable& s = d->strings;
    Problems inherited;
    for (const KeyRule* r = KeyRulesBegin(); r != KeyRulesEnd(); ++r) {
        const KeyRule& rule = *r;
        bool byLanguage = std::string(rule.section) == "Language";
        for (int l = 0; l < (byLanguage ? int(LANGUAGE_COUNT) : 1); ++l) {
            Language language = static_cast<Language>(l);
            std::string key = rule.key;
            int id = rule.stringId + 100 * l;
            Value v = Resolve(*d, rule, language);
            Problems* sink = byLanguage && Inherits(*d, language, rule.key) ? &inherited : problems;
            switch (rule.kind) {
            case NAME:
                if (byLanguage && key == "WebAddress") {
                    // The web button's address in this language, else the
                    // product's own.
                    s[id] = v.given ? CheckName(v, rule, language, false, sink) : common["WebAddress"];
                } else if (rule.stringId) {
                    s[id] = d->macros[l][MacroOfKey(key)];
                }
                break;
            case SHOWN_TEXT:
                s[id] = CheckShownText(v, rule, language, d->macros[l], sink);
                break;
            case SETUP_TEXT:
                if (key == "DefaultFolder") {
                    if (!v.given)
                        v.text = ExpandKnownMacros(d->perUser ? kPerUserFolder : v.text, d->macros[l]);
                    std::string folder = CheckSetupText(v, rule, language, d->macros[l], sink);
                    for (const char* machine : kMachineFolderMacros)
                        if (d->perUser && folder.find("{" + std::string(machine) + "}") != std::string::npos)
                            sink->Add(v.origin, "a per-user product cannot be installed into {" +
                                                    std::string(machine) + "}, which only administrators may write",
                                      "start DefaultFolder with {LocalAppDataDir}, or leave it out");
                    bool full = (!folder.empty() && folder[0] == '{') || folder.compare(0, 2, "\\\\") == 0 ||
                                (folder.size() >= 3 && folder[1] == ':' && folder[2] == '\\');
                    if (!full)
                        sink->Add(v.origin, "DefaultFolder must be a full path",
                                  "start it with a folder macro such as {ProgramFilesDir}, or with a drive");
                    // The destination page adds the file names to it.
                    s[id] = folder.empty() || folder.back() == '\\' ? folder : folder + "\\";
                } else if (rule.stringId) {
                    s[id] = CheckSetupText(v, rule, language, d->macros[l], sink);
                }
                break;
            case LINK: {
                // No help file, no help link: the setup makes none for an
                // empty text.
                if (key == "HelpLink" && d->macros[l]["HelpName"].empty()) {
                    s[id] = "";
                    break;
                }
                std::string link = CheckSetupText(v, rule, language, d->macros[l], sink);
                if (link.size() < 4 || !SameWord(link.substr(link.size() - 4), ".lnk"))
                    sink->Add(v.origin, Describe(rule, language) + " must name a link file ending in .lnk",
                              "add .lnk to the name");
                s[id] = link.empty() || link[0] == '\\' ? link : "\\" + link;
                break;
            }
            case MAIN_FILE:
                s[id] = key == "Program" ? common["ExeName"] : d->macros[l]["HelpName"];
                break;
            case TEXT_FILE: {
                if (!v.given)
                    break;
                std::string path = ResolvePath(*d, v);
                if (!IsFile(path))
                    sink->Add(v.origin, "the file " + path + " does not exist",
                              "name an RTF or plain-text file, relative to the description");
                else if (FileSize(path) == 0)
                    sink->Add(v.origin, "the file " + path + " is empty", "write the text into it");
                (key == "Licence" ? d->licence : d->information)[l] = path;
                break;
            }
            case ICON_FILE:
            case BITMAP_FILE:
                if (v.given) {
                    Bytes art;
                    std::string error;
                    if (!ReadWholeFile(ResolvePath(*d, v), &art))
                        sink->Add(v.origin, "the file " + ResolvePath(*d, v) + " cannot be read",
                                  std::string("name an existing ") + (rule.kind == ICON_FILE ? ".ico" : ".bmp") +
                                      " file, relative to the description");
                    else if (!CheckArt(art, rule.stringId, &error))
                        sink->Add(v.origin, ResolvePath(*d, v) + " " + error, "save the picture as asked");
                    else
                        d->art[rule.stringId] = art;
                    d->artFiles.push_back(ResolvePath(*d, v));
                }
                break;
            case FIELDS:
            case FOLDER:
            case FILE_PATH:
            case NUMBER:
                break;
            }
        }
    }
    if (d->removeAlso.size() > kMostRemoveAlso)
        problems->Add(d->removeAlso[kMostRemoveAlso].origin,
                      "more than " + std::to_string(kMostRemoveAlso) + " RemoveAlso lines",
                      "list at most " + std::to_string(kMostRemoveAlso) + " files (a folder's files go with it)");
    const KeyRule& removeRule = Rule("Uninstall", "RemoveAlso");
    for (size_t i = 0; i < kMostRemoveAlso; ++i)
        s[900 + int(i)] =
            i < d->removeAlso.size() ? CheckSetupText(d->removeAlso[i], removeRule, ENGLISH, common, problems) : "";
    CheckTasks(d, problems);
    CheckRegistryValues(d, problems);
    CheckFileTypes(d, problems);
    CheckLinks(d, problems);
    CheckPathFolders(d, problems);
    ChooseLanguages(stubFolder, d, problems);
    ProductTextsOfLanguageFiles(d, problems);

    // The size figures, as the destination page and the progress use them.
    uint64_t extracted = d->main.bytes + d->archivist.bytes;
    uint64_t required = RequiredSpace(extracted + FileSize(d->uninstaller));
    if (const Value* asked = FindValue(*d, "Product.RequiredSpace")) {
        bool digits = !asked->text.empty() && asked->text.size() <= 12 &&
                      asked->text.find_first_not_of("0123456789") == std::string::npos;
        if (!digits)
            problems->Add(asked->origin, "RequiredSpace must be a number of bytes", "write digits only, or leave it out");
        else if (std::stoull(asked->text) < required)
            problems->Add(asked->origin, "RequiredSpace asks for less than the " + std::to_string(required) +
                                             " bytes the product needs",
                          "leave it out, or write at least " + std::to_string(required));
        else
            required = std::stoull(asked->text);
    }
    if (required > 0x7FFFFFFFull)
        problems->Add(mainValue.origin, "the product needs more space than the setup can count (2 GiB)",
                      "make the folders smaller");
    s[5000] = std::to_string(required);
    s[5001] = std::to_string(extracted);
}

}  // namespace mksetup
