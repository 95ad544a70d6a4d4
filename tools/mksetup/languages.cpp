// The languages a setup speaks: the language files (the kit's, in the
// languages folder beside the payload-free program, and the maker's own),
// read, checked against English and chosen by the description's
// [Languages] section. setup_resources.cpp writes them into the programs.
//
// A language file is UTF-8: a [Language] section with the language's own
// Name and its Windows language Id, then [Setup] and [Uninstaller] with one
// quoted text per key: a string's number, "D<template>" for a dialog's
// caption and "D<template>.<n>" for the text of its n-th control.
#include "tools/mksetup/description_keys.h"
#include "tools/mksetup/mksetup.h"

#include <stdlib.h>

#include <algorithm>

namespace mksetup {

namespace {

const char* const kTextSections[3] = {"Setup", "Uninstaller", "Product"};

// A quoted value: \n, \t, \\ and \" inside; false when it is not one.
bool Unquote(const std::string& value, std::string* text)
{
    if (value.size() < 2 || value.front() != '"' || value.back() != '"')
        return false;
    text->clear();
    for (size_t i = 1; i + 1 < value.size(); ++i) {
        char c = value[i];
        if (c == '"')
            return false;
        if (c != '\\') {
            *text += c;
            continue;
        }
        if (++i + 1 >= value.size())
            return false;
        char e = value[i];
        if (e == 'n')
            *text += '\n';
        else if (e == 't')
            *text += '\t';
        else if (e == '\\' || e == '"')
            *text += e;
        else
            return false;
    }
    return true;
}

// The macros of a text, sorted, and its tabs: a translation keeps both.
std::string Shape(const std::string& text)
{
    std::vector<std::string> names = MacroNames(text);
    std::sort(names.begin(), names.end());
    std::string shape;
    for (const std::string& n : names)
        shape += "{" + n + "}";
    for (size_t at = text.find("%n"); at != std::string::npos; at = text.find("%n", at + 2))
        shape += "%n";
    return shape + std::string(size_t(std::count(text.begin(), text.end(), '\t')), '\t');
}

bool EndsWith(const std::string& s, const std::string& end)
{
    return s.size() >= end.size() && Lower(s.substr(s.size() - end.size())) == end;
}

std::string CodeOfFile(const std::string& path)
{
    size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return EndsWith(name, ".txt") ? name.substr(0, name.size() - 4) : name;
}

std::vector<std::string> Codes(const std::string& list)
{
    std::vector<std::string> codes;
    size_t at = 0;
    while (at <= list.size()) {
        size_t comma = list.find(',', at);
        std::string code = Trim(list.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        if (!code.empty())
            codes.push_back(code);
        if (comma == std::string::npos)
            break;
        at = comma + 1;
    }
    return codes;
}

}  // namespace

bool ReadLanguageFile(const std::string& path, LanguageFile* file, Problems* problems)
{
    file->path = path;
    file->code = CodeOfFile(path);
    Bytes data;
    if (!ReadWholeFile(path, &data)) {
        problems->Add(Origin(), "the language file " + path + " cannot be read", "name a readable file");
        return false;
    }
    std::string text(data.begin(), data.end());
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    if (!ValidUtf8(text)) {
        problems->Add(Origin{path, 0}, "the language file is not UTF-8", "save it as UTF-8");
        return false;
    }
    size_t before = problems->lines.size();
    std::string section;
    int lineNumber = 0;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        std::string line = Trim(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
        at = end == std::string::npos ? text.size() : end + 1;
        Origin where{path, ++lineNumber};
        if (line.empty() || line[0] == ';')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            if (section != "Language" && section != kTextSections[0] && section != kTextSections[1] &&
                section != kTextSections[2])
                problems->Add(where, "[" + section + "] is not a section of a language file",
                              "write [Language], [Setup], [Uninstaller] or [Product]");
            continue;
        }
        size_t equals = line.find('=');
        if (equals == std::string::npos || section.empty()) {
            problems->Add(where, "the line is not \"key = \\\"text\\\"\" under a section", "write it so, or start it "
                                                                                           "with ; as a comment");
            continue;
        }
        std::string key = Trim(line.substr(0, equals)), value = Trim(line.substr(equals + 1));
        if (section == "Language") {
            std::string name;
            if (key == "Name" && Unquote(value, &name) && !name.empty() && name.find('\n') == std::string::npos) {
                file->name = name;
            } else if (key == "Id") {
                char* stop = nullptr;
                unsigned long id = strtoul(value.c_str(), &stop, 0);
                if (value.empty() || *stop != '\0' || id == 0 || id > 0xFFFF || (id & 0x3FF) == 0)
                    problems->Add(where, "Id must be a Windows language identifier, such as 0x0407",
                                  "write the language's identifier in hexadecimal");
                else
                    file->id = uint16_t(id);
            } else {
                problems->Add(where, "[Language] takes Name = \"its own name\" and Id = its identifier",
                              "write those two lines");
            }
            continue;
        }
        int which = section == kTextSections[0]   ? SETUP_TEXTS
                    : section == kTextSections[1] ? UNINSTALLER_TEXTS
                                                  : PRODUCT_TEXTS;
        std::string unquoted;
        if (!Unquote(value, &unquoted)) {
            problems->Add(where, key + " is not a quoted text", "write the text in double quotes (\\\" for a quote)");
            continue;
        }
        if (file->texts[which].count(key)) {
            problems->Add(where, key + " is written twice", "keep one of them");
            continue;
        }
        file->texts[which][key] = unquoted;
        file->lines[which][key] = lineNumber;
    }
    if (file->name.empty() || file->id == 0)
        problems->Add(Origin{path, 0}, "the language file lacks its [Language] Name or Id",
                      "write [Language] with Name = \"its own name\" and Id = its language identifier");
    return problems->lines.size() == before;
}

void CheckLanguageFile(const LanguageFile& english, bool fallBack, LanguageFile* file, Problems* problems)
{
    for (int which = 0; which < 3; ++which) {
        std::vector<std::string> missing;
        for (const auto& e : english.texts[which]) {
            auto found = file->texts[which].find(e.first);
            if (found == file->texts[which].end()) {
                missing.push_back(e.first);
                if (fallBack)
                    file->texts[which][e.first] = e.second;
                continue;
            }
            if (Shape(found->second) != Shape(e.second))
                problems->Add(Origin{file->path, file->lines[which][e.first]},
                              "[" + std::string(kTextSections[which]) + "] " + e.first +
                                  " has other macros or tabs than English's \"" + e.second.substr(0, 40) + "\"",
                              "keep every {Macro}, tab and %n of the English text");
        }
        for (const auto& t : file->texts[which])
            if (!english.texts[which].count(t.first))
                problems->Add(Origin{file->path, file->lines[which][t.first]},
                              "[" + std::string(kTextSections[which]) + "] " + t.first + " is not a text of the programs",
                              "take the keys from the kit's languages/en.txt");
        if (missing.empty() || fallBack)
            continue;
        std::string listed;
        for (size_t i = 0; i < missing.size() && i < 5; ++i)
            listed += (i ? ", " : "") + missing[i];
        if (missing.size() > 5)
            listed += " and " + std::to_string(missing.size() - 5) + " more";
        problems->Add(Origin{file->path, 0},
                      "[" + std::string(kTextSections[which]) + "] lacks " + std::to_string(missing.size()) +
                          " text(s) English has: " + listed,
                      "translate them, or write FallBack = yes under [Languages] to show them in English");
    }
}

void ChooseLanguages(const std::string& stubFolder, Description* d, Problems* problems)
{
    const Value* carryValue = FindValue(*d, "Languages.Carry");
    const Value* fallBackValue = FindValue(*d, "Languages.FallBack");
    Origin carryOrigin = carryValue ? carryValue->origin : Origin{d->file, 0};
    bool fallBack = fallBackValue && Lower(fallBackValue->text) == "yes";
    if (fallBackValue && !fallBack && Lower(fallBackValue->text) != "no")
        problems->Add(fallBackValue->origin, "FallBack must be yes or no", "write yes or no");
    const Value* ask = FindValue(*d, "Languages.Ask");
    if (ask && Lower(ask->text) != "yes" && Lower(ask->text) != "no")
        problems->Add(ask->origin, "Ask must be yes or no", "write yes or no");
    d->strings[5016] = ask && Lower(ask->text) == "yes" ? "yes" : "";

    // The kit's files by code; en.txt is English's, against which each
    // file is checked and which the programs carry themselves.
    std::string folder = JoinPath(stubFolder, "languages");
    std::map<std::string, std::string> available;
    std::vector<std::string> names;
    ListFolderNames(folder, &names);
    for (const std::string& name : names)
        if (EndsWith(name, ".txt"))
            available[Lower(CodeOfFile(name))] = JoinPath(folder, name);
    for (const Value& v : d->languageFiles) {
        std::string path = ResolvePath(*d, v);
        if (!IsFile(path))
            problems->Add(v.origin, "the language file " + path + " does not exist",
                          "name a language file, relative to the description");
        else
            available[Lower(CodeOfFile(path))] = path;
    }

    d->carryAll = !carryValue || Lower(Trim(carryValue->text)) == "all";
    std::vector<std::string> wanted;
    if (d->carryAll) {
        for (const auto& a : available)
            if (a.first != "en")
                wanted.push_back(a.first);
    } else {
        for (const std::string& code : Codes(carryValue->text)) {
            d->carryCodes.push_back(Lower(code));
            if (available.count(Lower(code)) && Lower(code) != "en")
                wanted.push_back(Lower(code));
        }
        if (d->carryCodes.empty())
            problems->Add(carryOrigin, "Carry names no language", "write all, or the codes of the languages, "
                                                                  "such as en, de, fr");
    }
    if (wanted.empty())
        return;
    if (!available.count("en")) {
        problems->Add(carryOrigin, "the kit's English language file " + JoinPath(folder, "en.txt") + " is missing",
                      "put the languages folder that came with mksetup beside the payload-free program");
        return;
    }
    if (!ReadLanguageFile(available["en"], &d->english, problems))
        return;
    for (const std::string& code : wanted) {
        LanguageFile file;
        if (!ReadLanguageFile(available[code], &file, problems))
            continue;
        CheckLanguageFile(d->english, fallBack, &file, problems);
        for (const LanguageFile& other : d->languages)
            if (other.id == file.id)
                problems->Add(Origin{file.path, 0}, "the language file has the Id of " + other.path,
                              "carry one file of each language");
        d->languages.push_back(std::move(file));
    }
}

}  // namespace mksetup
