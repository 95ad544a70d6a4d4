// The product description as the maker writes it: an INI file read line
// by line, every line number kept for the messages, each value stored
// under the key the table (description_keys.cpp) spells, and the
// command line's settings over it. Whether the values make sense is the
// checks' business (description_checks.cpp).
#include "tools/mksetup/description_keys.h"

namespace mksetup {

namespace {

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
    if (rule->lines) {
        (d->*rule->lines).push_back(v);
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

void Problems::Add(const Origin& where, const std::string& what, const std::string& fix)
{
    lines.push_back(Where(where) + ": " + what + "; fix: " + fix);
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
            // A line of fields has each field quoted on its own.
            std::string key = Trim(line.substr(0, equals)), value = Trim(line.substr(equals + 1));
            const KeyRule* rule = FindRule(section, key);
            bool fields = rule && rule->kind == FIELDS;
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

}  // namespace mksetup
