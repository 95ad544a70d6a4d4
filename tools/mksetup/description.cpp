// The product description: the INI file a maker writes, read line by line
// with every line number kept for the messages, the table of its sections
// and keys (with the string of the setup program each one becomes, its
// default and its checks), and the checks that turn the values into the
// setup program's string table.
#include "tools/mksetup/mksetup.h"

#include <ctype.h>
#include <string.h>

#include <algorithm>

namespace mksetup {

namespace {

// What a key holds, which decides how it is checked and expanded.
enum KeyKind {
    NAME,        // a macro value or name: no braces, one line
    SHOWN_TEXT,  // shown by the setup as it stands: mksetup expands the macros, "%n" is a line break
    SETUP_TEXT,  // expanded by the setup when it is used: its macros stay
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
    const char* defaults[LANGUAGE_COUNT];
};

// The setup's buffers: 255 characters for a text that passes through the
// macros and for the window title, 1023 for the other texts it loads.
const size_t kMacroLimit = 255;
const size_t kTextLimit = 1023;

const KeyRule kKeys[] = {
    {"Product", "AppName", NAME, 5003, true, kMacroLimit, {}},
    {"Product", "ProductName", NAME, 5004, true, kMacroLimit, {}},
    {"Product", "Version", NAME, 5006, true, kMacroLimit, {}},
    {"Product", "Publisher", NAME, 5007, true, kMacroLimit, {}},
    {"Product", "WebAddress", NAME, 5008, false, kMacroLimit, {"", "", ""}},
    // Worked out from the other names when left out (CheckDescription).
    {"Product", "Maker", NAME, 5009, false, kMacroLimit, {}},
    {"Product", "Sibling", NAME, 5010, false, kMacroLimit, {}},
    {"Product", "SiblingFolder", NAME, 5011, false, kMacroLimit, {}},
    {"Product", "Program", MAIN_FILE, 5005, true, kMacroLimit, {}},
    // For every user of the machine or for the installing user alone;
    // checked and written as string 5012 by CheckDescription.
    {"Product", "Scope", NAME, 0, false, kMacroLimit, {"machine", nullptr, nullptr}},
    // The default for a per-user product is kPerUserFolder.
    {"Product", "DefaultFolder", SETUP_TEXT, 5002, false, kMacroLimit,
     {"{ProgramFilesDir}\\{Publisher}\\{AppName}\\", nullptr, nullptr}},
    {"Product", "StartMenuFolder", NAME, 7004, false, kMacroLimit, {"{Publisher}", nullptr, nullptr}},
    {"Product", "WindowTitle", SHOWN_TEXT, 1, false, kMacroLimit, {"{AppName} Setup", nullptr, nullptr}},
    {"Product", "RequiredSpace", NUMBER, 5000, false, 0, {}},
    // Whether the finish page offers to start the program (checked
    // by CheckDescription into string 5013), and its arguments.
    {"Product", "RunAfter", NAME, 0, false, kMacroLimit, {"yes", nullptr, nullptr}},
    {"Product", "RunArguments", SETUP_TEXT, 5014, false, kMacroLimit, {"", nullptr, nullptr}},
    {"Files", "Main", FOLDER, 0, true, 0, {}},
    {"Files", "Archivist", FOLDER, 0, false, 0, {}},
    {"Files", "Uninstaller", FILE_PATH, 0, false, 0, {"UnInstall.exe", nullptr, nullptr}},
    {"Files", "ComctlUpdate", FILE_PATH, 0, false, 0, {"40comupd.exe", nullptr, nullptr}},
    {"Uninstall", "RemoveAlso", SETUP_TEXT, 900, false, kMacroLimit, {}},
    // One line per value of the product's own, checked by
    // CheckRegistryValues.
    {"Registry", "Value", SETUP_TEXT, 0, false, 0, {}},
    // A folder of the product added to PATH; CheckPathFolders.
    {"Path", "Folder", SETUP_TEXT, 0, false, 0, {}},
    // A file type the product opens; CheckFileTypes.
    {"FileTypes", "Type", SETUP_TEXT, 0, false, 0, {}},
    // A link of the product's own; CheckLinks.
    {"Links", "Link", SETUP_TEXT, 0, false, 0, {}},
    // An optional task, a checkbox of the setup; CheckTasks.
    {"Tasks", "Task", SETUP_TEXT, 0, false, 0, {}},
    {"Language", "Edition", NAME, 8002, true, kMacroLimit, {}},
    // Left out: the product has no help file, and no help link.
    {"Language", "HelpFile", MAIN_FILE, 8010, false, kMacroLimit, {}},
    {"Language", "HelpLink", LINK, 8007, false, kMacroLimit,
     {"\\{AppCorvane}\\{AppName} Help.lnk", "\\{AppCorvane}\\Aide de {AppName}.lnk",
      "\\{AppCorvane}\\{AppName} Help.lnk"}},
    {"Language", "UninstallLink", LINK, 8008, false, kMacroLimit,
     {"\\{AppCorvane}\\Uninstall {AppName}.lnk", "\\{AppCorvane}\\D\xC3\xA9sinstaller {AppName}.lnk",
      "\\{AppCorvane}\\{AppName} verwijderen.lnk"}},
    {"Language", "HeaderTitle", SHOWN_TEXT, 8005, false, kTextLimit,
     {"{AppName} Setup", "Installation de {AppName}", "{AppName} Installatie"}},
    {"Language", "HeaderSubtitle", SHOWN_TEXT, 8006, false, kTextLimit, {"", "", ""}},
    {"Language", "BrowseTitle", SHOWN_TEXT, 8009, false, kMacroLimit,
     {"Choose the folder where {AppName} will be installed:",
      "Choisissez le r\xC3\xA9pertoire o\xC3\xB9 {AppName} sera install\xC3\xA9 :",
      "Kies de map waarin {AppName} wordt ge\xC3\xAFnstalleerd:"}},
    // The finish page's web button; left out, [Product] WebAddress.
    {"Language", "WebAddress", NAME, 8017, false, kMacroLimit, {}},
    {"Language", "ComctlQuestion", SHOWN_TEXT, 8004, false, kTextLimit,
     {"The common controls of your system (COMCTL32.DLL) are older than version 4.72, which {AppName} "
      "needs.%n%nDo you want to update them now? Windows will restart at the end of the installation.",
      "Les contr\xC3\xB4les communs de votre syst\xC3\xA8me (COMCTL32.DLL) sont ant\xC3\xA9rieurs \xC3\xA0 la version "
      "4.72, requise par {AppName}.%n%nVoulez-vous les mettre \xC3\xA0 jour maintenant ? Windows red\xC3\xA9marrera "
      "\xC3\xA0 la fin de l'installation.",
      "De gemeenschappelijke besturingselementen van uw systeem (COMCTL32.DLL) zijn ouder dan versie 4.72, die "
      "{AppName} nodig heeft.%n%nWilt u ze nu bijwerken? Windows wordt aan het einde van de installatie opnieuw "
      "gestart."}},
    {"Language", "Licence", TEXT_FILE, 0, true, 0, {}},
    // Left out: the wizard has no information page.
    {"Language", "Information", TEXT_FILE, 0, false, 0, {}},
    {"Art", "Icon", ICON_FILE, 0, false, 0, {}},
    {"Art", "HeaderLarge", BITMAP_FILE, 960, false, 0, {}},
    {"Art", "HeaderSmall", BITMAP_FILE, 961, false, 0, {}},
    {"Art", "Footer", BITMAP_FILE, 962, false, 0, {}},
};

const char* const kLanguageSections[LANGUAGE_COUNT] = {"English", "French", "Dutch"};
const char* const kSections[] = {"Product", "Files", "Uninstall", "Tasks", "Links", "Registry", "FileTypes", "Path", "English", "French", "Dutch", "Art"};
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

bool IsLanguageSection(const std::string& section)
{
    for (const char* l : kLanguageSections)
        if (section == l)
            return true;
    return false;
}

const KeyRule* FindRule(const std::string& section, const std::string& key)
{
    std::string group = IsLanguageSection(section) ? "Language" : section;
    for (const KeyRule& k : kKeys)
        if (group == k.section && SameWord(key, k.key))
            return &k;
    return nullptr;
}

std::string SectionSpelling(const std::string& section)
{
    for (const char* s : kSections)
        if (SameWord(section, s))
            return s;
    return "";
}

// "did you mean" for a misspelt key or section, or where the key belongs.
std::string KeyFix(const std::string& section, const std::string& key)
{
    std::string group = IsLanguageSection(section) ? "Language" : section;
    const KeyRule* best = nullptr;
    size_t bestDistance = 4;
    for (const KeyRule& k : kKeys) {
        if (group != k.section)
            continue;
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
        std::string where = std::string(k.section) == "Language" ? "[English], [French] or [Dutch]"
                                                                  : "[" + std::string(k.section) + "]";
        return SameWord(key, k.key) ? "move it to " + where
                                    : std::string("did you mean \"") + k.key + "\" under " + where + "?";
    }
    return "remove it; the keys of [" + section + "] are listed in the README";
}

std::string SectionFix(const std::string& section)
{
    for (const char* s : kSections)
        if (EditDistance(section, s) <= 3)
            return std::string("did you mean [") + s + "]?";
    return "use [Product], [Files], [Uninstall], [Tasks], [Links], [Registry], [FileTypes], [Path], [English], [French], [Dutch] or [Art]";
}

std::string Where(const Origin& o)
{
    if (o.file.empty())
        return "mksetup";
    return o.line > 0 ? o.file + ":" + std::to_string(o.line) : o.file;
}

// Stores one value read from the description or the command line.
void Store(Description* d, const std::string& section, const std::string& keyText, const std::string& value,
           const Origin& origin, Problems* problems)
{
    const KeyRule* rule = FindRule(section, keyText);
    if (!rule) {
        problems->Add(origin, "unknown key \"" + keyText + "\" in [" + section + "]", KeyFix(section, keyText));
        return;
    }
    Value v;
    v.text = value;
    v.origin = origin;
    v.given = true;
    // The keys written once a line.
    std::string key = rule->key;
    if (key == "RemoveAlso" || key == "Value" || key == "Folder" || key == "Type" || key == "Link" || key == "Task") {
        (key == "Value"    ? d->registryValues
         : key == "Folder" ? d->pathFolders
         : key == "Type"   ? d->fileTypes
         : key == "Link"   ? d->links
         : key == "Task"   ? d->tasks
                           : d->removeAlso)
            .push_back(v);
        return;
    }
    std::string name = section + "." + rule->key;
    auto earlier = d->values.find(name);
    if (earlier != d->values.end() && earlier->second.origin.file == origin.file) {
        problems->Add(origin, std::string(rule->key) + " is written twice in [" + section + "] (first on line " +
                                  std::to_string(earlier->second.origin.line) + ")",
                      "keep one of the two lines");
        return;
    }
    d->values[name] = v;
}

// A quoted value keeps its blanks; the quotes themselves go.
std::string Unquote(const std::string& value)
{
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        return value.substr(1, value.size() - 2);
    return value;
}

std::string LanguageKey(Language language, const char* key) { return std::string(kLanguageSections[language]) + "." + key; }

const KeyRule& Rule(const char* section, const char* key)
{
    for (const KeyRule& k : kKeys)
        if (std::string(section) == k.section && std::string(key) == k.key)
            return k;
    return kKeys[0];
}

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

std::string ResolvePath(const Description& d, const Value& v)
{
    // A path on the command line is taken from the current folder, one in
    // the description from the description's folder.
    if (v.origin.line == 0 && v.given)
        return v.text;
    return JoinPath(d.folder, v.text);
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

const ProductFile* FindMainFile(const Description& d, std::string name)
{
    std::replace(name.begin(), name.end(), '/', '\\');
    for (const ProductFile& f : d.main.files)
        if (SameWord(f.name, name))
            return &f;
    return nullptr;
}

}  // namespace

std::string Lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string Trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return "";
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

bool HasControl(const std::string& text)
{
    for (unsigned char c : text)
        if (c < 0x20)
            return true;
    return false;
}

bool HasMainFile(const Description& d, const std::string& name) { return FindMainFile(d, name) != nullptr; }

bool IsSetupMacro(const std::string& name)
{
    return OneOf(name, kSetupMacros, sizeof kSetupMacros / sizeof *kSetupMacros);
}

void Problems::Add(const Origin& where, const std::string& what, const std::string& fix)
{
    lines.push_back(Where(where) + ": " + what + "; fix: " + fix);
}

uint64_t RequiredSpace(uint64_t installedBytes)
{
    // Cluster slack, the uninstaller's settings file and the links: 5 % and
    // 64 KB more than the bytes installed.
    return (installedBytes * 105 + 99) / 100 + 64 * 1024;
}

const Value* FindValue(const Description& d, const std::string& sectionKey)
{
    auto v = d.values.find(sectionKey);
    if (v != d.values.end())
        return &v->second;
    size_t dot = sectionKey.find('.');
    if (IsLanguageSection(sectionKey.substr(0, dot)) && sectionKey.compare(0, dot, "English") != 0)
        return FindValue(d, "English" + sectionKey.substr(dot));
    return nullptr;
}

bool ReadDescription(const std::string& file, const std::vector<std::string>& settings, Description* d,
                     Problems* problems)
{
    d->file = file;
    d->folder = FolderOf(file);
    Bytes data;
    if (!ReadWholeFile(file, &data)) {
        Origin o;
        problems->Add(o, "the description " + file + " cannot be read", "name an existing INI file");
        return false;
    }
    ReadDescriptionText(file, std::string(data.begin(), data.end()), settings, d, problems);
    return true;
}

void ReadDescriptionText(const std::string& file, std::string text, const std::vector<std::string>& settings,
                         Description* d, Problems* problems)
{
    d->file = file;
    d->folder = FolderOf(file);
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    std::string section;
    bool sectionKnown = false;
    int lineNumber = 0;
    for (size_t at = 0; at <= text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = Trim(text.substr(at, end - at));
        at = end + 1;
        ++lineNumber;
        Origin origin{file, lineNumber};
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (!ValidUtf8(line)) {
            problems->Add(origin, "the line is not UTF-8 text", "save the description as UTF-8");
            continue;
        }
        if (line[0] == '[') {
            std::string name = Trim(line.substr(1, line.find(']') == std::string::npos ? std::string::npos
                                                                                        : line.find(']') - 1));
            section = SectionSpelling(name);
            sectionKnown = !section.empty();
            if (!sectionKnown) {
                problems->Add(origin, "unknown section [" + name + "]", SectionFix(name));
                section = name;
            }
            continue;
        }
        size_t equals = line.find('=');
        if (equals == std::string::npos) {
            problems->Add(origin, "\"" + line.substr(0, 40) + "\" is not a \"key = value\" line",
                          "write key = value, or start a comment with ;");
            continue;
        }
        if (section.empty()) {
            problems->Add(origin, "\"" + Trim(line.substr(0, equals)) + "\" stands before the first section",
                          "put it under its section, such as [Product]");
            continue;
        }
        if (sectionKnown) {
            // A registry value's fields are quoted one by one.
            std::string key = Trim(line.substr(0, equals)), value = Trim(line.substr(equals + 1));
            bool fields = section == "Registry" || section == "FileTypes" || section == "Links" || section == "Tasks";
            Store(d, section, key, fields ? value : Unquote(value), origin, problems);
        }
    }
    for (const std::string& setting : settings) {
        size_t dot = setting.find('.');
        size_t equals = setting.find('=');
        Origin origin{"--set " + setting.substr(0, equals), 0};
        std::string section = dot < equals ? SectionSpelling(setting.substr(0, dot)) : "";
        if (equals == std::string::npos || dot > equals || section.empty()) {
            problems->Add(origin, "\"" + setting + "\" is not Section.Key=value with a known section",
                          "write, for example, --set Files.Main=path/to/folder");
            continue;
        }
        Store(d, section, setting.substr(dot + 1, equals - dot - 1), setting.substr(equals + 1), origin, problems);
    }
}

void CheckDescription(const std::string& stubFolder, Description* d, Problems* problems)
{
    Origin whole{d->file, 0};
    // Required keys first: without them nothing else can be worked out.
    for (const KeyRule& rule : kKeys) {
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
    {
        // For every user (administrator rights, the machine's hive and
        // folders) or for the installing user alone.
        const KeyRule& rule = Rule("Product", "Scope");
        Value v = Resolve(*d, rule, ENGLISH);
        std::string scope = Lower(Trim(v.text));
        if (scope != "machine" && scope != "user")
            problems->Add(v.origin, "Scope \"" + v.text + "\" is neither machine nor user",
                          "write Scope = machine (every user; the setup asks for administrator rights) or Scope = user "
                          "(the installing user alone; no administrator rights)");
        d->perUser = scope == "user";
        d->strings[5012] = d->perUser ? "user" : "machine";
    }
    {
        const KeyRule& rule = Rule("Product", "RunAfter");
        Value v = Resolve(*d, rule, ENGLISH);
        std::string runAfter = Lower(Trim(v.text));
        if (runAfter != "yes" && runAfter != "no")
            problems->Add(v.origin, "RunAfter \"" + v.text + "\" is neither yes nor no",
                          "write RunAfter = yes (the finish page offers to start the program) or RunAfter = no");
        d->strings[5013] = runAfter;
    }
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
    for (const KeyRule& rule : kKeys) {
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
