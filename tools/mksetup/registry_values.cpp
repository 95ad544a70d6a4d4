// The product's own registry values: the [Registry] section's Value lines,
// each "root | key | name | type | data | at removal", checked here and
// written as strings 5100 on, one line each, in the form the setup reads
// (the fields separated by tabs, the root resolved for the product's scope,
// numbers in decimal, binary data as hexadecimal digits, the strings of a
// list separated by line breaks). The [FileTypes] section's lines become
// such values too. And the [Path] section's folders, which
// the setup adds to the PATH value of the scope's environment (strings
// 5200 on).
#include "tools/mksetup/mksetup.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

namespace mksetup {

namespace {

const size_t kMostValues = 100;         // strings 5100 to 5199
const size_t kMostKeyCharacters = 255;  // the registry's limit for a key path's part, kept for the whole path
const size_t kMostNameCharacters = 255;
const size_t kMostDataBytes = 1024;     // binary data
const size_t kMostLineBytes = 4000;     // what the setup loads of one string
const size_t kMostPathFolders = 8;      // strings 5200 to 5207

const char* const kTypes[] = {"string", "expand", "dword", "qword", "multi", "binary"};
const char* const kRemovals[] = {"remove", "removekey", "keep"};

int IndexOf(const std::string& word, const char* const* list, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (Lower(word) == list[i])
            return int(i);
    return -1;
}

// A number for a dword or a qword: decimal, or hexadecimal after 0x.
bool ParseNumber(const std::string& text, uint64_t most, uint64_t* out)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return false;
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* digits = hex ? "0123456789abcdefABCDEF" : "0123456789";
    if (text.find_first_not_of(digits, hex ? 2 : 0) != std::string::npos)
        return false;
    errno = 0;
    unsigned long long n = strtoull(text.c_str(), nullptr, hex ? 16 : 10);
    if (errno == ERANGE || n > most)
        return false;
    *out = n;
    return true;
}

// Binary data as pairs of hexadecimal digits, blanks allowed between
// them: the digits alone, lower case.
bool ParseBinary(const std::string& text, std::string* out)
{
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == ',')
            continue;
        if (!strchr("0123456789abcdefABCDEF", c) || c == '\0')
            return false;
        digits += char(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
    }
    if (digits.size() % 2 != 0)
        return false;
    *out = digits;
    return true;
}

// Every macro of text must be one the setup expands: mksetup's own are
// replaced already.
bool CheckMacros(const std::string& text, const Value& v, const std::string& what, Problems* problems)
{
    for (const std::string& name : MacroNames(text)) {
        if (!IsSetupMacro(name)) {
            problems->Add(v.origin, "{" + name + "} in the " + what + " is not a macro the setup knows",
                          "use {TargetDir}, {AppName}, {ProductName}, {ExeName}, {LocalAppDataDir} or another "
                          "macro the README lists");
            return false;
        }
    }
    return true;
}

// The key path's parts: none empty, no backslash at either end.
bool IsKeyPath(const std::string& key)
{
    if (key.empty() || key.front() == '\\' || key.back() == '\\' || key.find("\\\\") != std::string::npos)
        return false;
    return true;
}

// Identity of a value, for finding one written twice: root, key and name
// in one letter case.
std::string Identity(const std::string& root, const std::string& key, const std::string& name)
{
    return root + "\t" + Lower(key) + "\t" + Lower(name);
}

}  // namespace

// The fields of a line separated by '|'; a field in double quotes keeps
// its blanks and may hold '|' ("" stands for one quote). False for an
// unclosed quote.
bool SplitFields(const std::string& line, std::vector<std::string>* fields)
{
    size_t at = 0;
    for (;;) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t'))
            ++at;
        std::string field;
        if (at < line.size() && line[at] == '"') {
            for (++at;; ++at) {
                if (at >= line.size())
                    return false;
                if (line[at] == '"') {
                    if (at + 1 < line.size() && line[at + 1] == '"') {
                        field += '"';
                        ++at;
                        continue;
                    }
                    ++at;
                    break;
                }
                field += line[at];
            }
            size_t bar = line.find('|', at);
            if (!Trim(line.substr(at, bar == std::string::npos ? std::string::npos : bar - at)).empty())
                return false;
            at = bar;
        } else {
            size_t bar = line.find('|', at);
            field = Trim(line.substr(at, bar == std::string::npos ? std::string::npos : bar - at));
            at = bar;
        }
        fields->push_back(field);
        if (at == std::string::npos)
            return true;
        ++at;
    }
}

void CheckRegistryValues(Description* d, Problems* problems)
{
    if (d->registryValues.size() > kMostValues)
        problems->Add(d->registryValues[kMostValues].origin,
                      "more than " + std::to_string(kMostValues) + " Value lines in [Registry]",
                      "keep at most " + std::to_string(kMostValues) + " values");
    // mksetup's own macros ({Publisher}, {Maker}, ...) are written in; the
    // setup's stay for the setup.
    std::map<std::string, std::string> makerMacros;
    for (const auto& macro : d->macros[ENGLISH])
        if (!IsSetupMacro(macro.first))
            makerMacros[macro.first] = macro.second;
    std::map<std::string, int> seen;
    for (size_t i = 0; i < d->registryValues.size() && i < kMostValues; ++i) {
        const Value& v = d->registryValues[i];
        std::vector<std::string> f;
        std::string task;
        bool split = SplitFields(v.text, &f);
        if (split && !TakeTask(*d, &f, v, &task, problems))
            continue;
        if (!split || f.size() < 5 || f.size() > 6) {
            problems->Add(v.origin, "a registry value is written as root | key | name | type | data | at removal",
                          "write, for example, Value = Auto | Software\\{Publisher}\\{AppName} | Theme | string | "
                          "dark | remove (quote a field that holds |)");
            continue;
        }
        if (f.size() == 5)
            f.push_back("remove");
        for (std::string& field : f)
            field = ExpandKnownMacros(field, makerMacros);
        std::string root = Lower(f[0]);
        std::string scopeRoot = d->perUser ? "HKCU" : "HKLM";
        if (root == "auto" || Lower(scopeRoot) == root) {
            root = scopeRoot;
        } else if (root == "hkcu" || root == "hklm") {
            problems->Add(v.origin, std::string("a ") + (d->perUser ? "per-user" : "machine-wide") + " product cannot write " +
                                        (root == "hkcu" ? "HKCU" : "HKLM") + " (the setup runs " +
                                        (d->perUser ? "without administrator rights" : "for every user") + ")",
                          "write Auto: it is " + scopeRoot + " for this product");
            continue;
        } else {
            problems->Add(v.origin, "unknown root \"" + f[0] + "\"", "write Auto, HKLM or HKCU");
            continue;
        }
        const std::string& key = f[1];
        const std::string& name = f[2];
        int type = IndexOf(f[3], kTypes, sizeof kTypes / sizeof *kTypes);
        int removal = IndexOf(f[5], kRemovals, sizeof kRemovals / sizeof *kRemovals);
        std::string data = f[4];
        if (!IsKeyPath(key) || HasControl(key) || CharacterCount(key) > kMostKeyCharacters) {
            problems->Add(v.origin, "the key \"" + key + "\" is not a registry key path",
                          "write its parts separated by single backslashes, without the root, at most 255 "
                          "characters");
            continue;
        }
        if (Lower(key.substr(0, 9)) != "software\\" || key.size() == 9) {
            problems->Add(v.origin, "the key \"" + key + "\" is not below Software",
                          "write a key below Software, such as Software\\{Publisher}\\{AppName}");
            continue;
        }
        if (HasControl(name) || CharacterCount(name) > kMostNameCharacters) {
            problems->Add(v.origin, "the value's name holds a control character or is longer than 255 characters",
                          "shorten it; leave it empty for the key's default value");
            continue;
        }
        if (type < 0) {
            problems->Add(v.origin, "unknown type \"" + f[3] + "\"",
                          "write string, expand, dword, qword, multi or binary");
            continue;
        }
        if (removal < 0) {
            problems->Add(v.origin, "unknown removal \"" + f[5] + "\"",
                          "write remove, removekey (the key goes too when it is left empty) or keep");
            continue;
        }
        if (!CheckMacros(key, v, "key", problems) || !CheckMacros(name, v, "value's name", problems))
            continue;
        std::string written;
        uint64_t number = 0;
        switch (type) {
        case 0:
        case 1:
        case 4:
            if (HasControl(data)) {
                problems->Add(v.origin, "the data holds a control character", "write %n between the strings of a multi");
                continue;
            }
            if (!CheckMacros(data, v, "data", problems))
                continue;
            written = data;
            if (type == 4) {
                written.clear();
                for (size_t k = 0; k < data.size(); ++k) {
                    if (data.compare(k, 2, "%n") == 0) {
                        written += '\n';
                        ++k;
                    } else {
                        written += data[k];
                    }
                }
            }
            break;
        case 2:
        case 3:
            if (!ParseNumber(data, type == 2 ? 0xFFFFFFFFull : ~0ull, &number)) {
                problems->Add(v.origin, "\"" + data + "\" is not a " + kTypes[type] + " number",
                              std::string("write a number from 0 to ") + (type == 2 ? "4294967295" : "18446744073709551615") +
                                  ", in decimal or after 0x");
                continue;
            }
            written = std::to_string(number);
            break;
        case 5:
            if (!ParseBinary(data, &written) || written.size() / 2 > kMostDataBytes) {
                problems->Add(v.origin, "the binary data is not pairs of hexadecimal digits, or holds more than " +
                                            std::to_string(kMostDataBytes) + " bytes",
                              "write bytes as 01 ff 3a");
                continue;
            }
            break;
        }
        std::string id = Identity(root, key, name);
        if (seen.count(id)) {
            problems->Add(v.origin, "the value \"" + name + "\" of " + key + " is written twice (first on line " +
                                        std::to_string(seen[id]) + ")",
                          "keep one of the two lines");
            continue;
        }
        seen[id] = v.origin.line;
        std::string line = root + "\t" + key + "\t" + name + "\t" + kTypes[type] + "\t" + written + "\t" +
                           kRemovals[removal];
        if (line.size() > kMostLineBytes) {
            problems->Add(v.origin, "the registry value is " + std::to_string(line.size()) +
                                        " bytes long, the setup keeps " + std::to_string(kMostLineBytes) + " at most",
                          "shorten its data");
            continue;
        }
        d->strings[5100 + int(i)] = line;
        d->strings[5400 + int(i)] = task;
    }
}

void CheckPathFolders(Description* d, Problems* problems)
{
    if (d->pathFolders.size() > kMostPathFolders)
        problems->Add(d->pathFolders[kMostPathFolders].origin,
                      "more than " + std::to_string(kMostPathFolders) + " Folder lines in [Path]",
                      "add at most " + std::to_string(kMostPathFolders) + " folders");
    for (size_t i = 0; i < d->pathFolders.size() && i < kMostPathFolders; ++i) {
        const Value& v = d->pathFolders[i];
        std::vector<std::string> f;
        std::string task;
        if (!SplitFields(v.text, &f) || !TakeTask(*d, &f, v, &task, problems))
            continue;
        std::string folder = f.size() == 1 ? f[0] : "";
        while (folder.size() > 11 && folder.back() == '\\')
            folder.pop_back();
        // A folder of the product's own: the uninstaller takes it away,
        // and with it the entry.
        if (folder.compare(0, 11, "{TargetDir}") != 0 || folder.find_first_of(";\"") != std::string::npos ||
            HasControl(folder) || folder.find("..") != std::string::npos || CharacterCount(folder) > 200) {
            problems->Add(v.origin, "a PATH folder is a folder of the product, written {TargetDir} or {TargetDir}bin",
                          "start it with {TargetDir}, without ; \" or .. (at most 200 characters)");
            continue;
        }
        if (!CheckMacros(folder, v, "folder", problems))
            continue;
        d->strings[5200 + int(i)] = folder;
        d->strings[5500 + int(i)] = task;
    }
}

// A file type's extension (".hlg") and ProgID ("Maker.Product.Book"):
// letters, digits and the few signs Windows' own use.
bool IsTypeName(const std::string& name, bool extension)
{
    if (name.size() < 2 || name.size() > 39 || (extension && name[0] != '.') || (!extension && name[0] == '.'))
        return false;
    for (size_t i = extension ? 1 : 0; i < name.size(); ++i) {
        char c = name[i];
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                     c == '-' || (!extension && c == '.');
        if (!plain)
            return false;
    }
    return true;
}

void CheckFileTypes(Description* d, Problems* problems)
{
    size_t next = std::min(d->registryValues.size(), kMostValues);
    std::string root = d->perUser ? "HKCU" : "HKLM";
    for (const Value& v : d->fileTypes) {
        std::vector<std::string> f;
        std::string task;
        bool split = SplitFields(v.text, &f);
        if (split && !TakeTask(*d, &f, v, &task, problems))
            continue;
        if (!split || f.size() < 4 || f.size() > 5) {
            problems->Add(v.origin, "a file type is written as extension | ProgID | description | program [| icon]",
                          "write, for example, Type = .hlg | Maker.Product.Book | Ledger book | Ledger.exe");
            continue;
        }
        const std::string &extension = f[0], &progId = f[1], &description = f[2], &program = f[3];
        std::string icon = f.size() == 5 && !f[4].empty() ? f[4] : program + ",0";
        if (!IsTypeName(extension, true) || !IsTypeName(progId, false)) {
            problems->Add(v.origin, "\"" + extension + "\" or \"" + progId + "\" is not an extension and a ProgID",
                          "write an extension such as .hlg, and a ProgID of letters, digits and dots such as "
                          "Maker.Product.Book (39 characters at most)");
            continue;
        }
        size_t comma = icon.rfind(',');
        bool iconIndex = comma != std::string::npos && comma + 1 < icon.size() &&
                         icon.find_first_not_of("-0123456789", comma + 1) == std::string::npos;
        if (HasControl(description) || description.find_first_of("{}") != std::string::npos ||
            CharacterCount(description) > 255 || !HasMainFile(*d, program) || !iconIndex ||
            !HasMainFile(*d, icon.substr(0, comma))) {
            problems->Add(v.origin, "the file type " + extension + " needs a plain description, a program of the main "
                                    "folder and an icon written file,index",
                          "write, for example, Type = .hlg | Maker.Product.Book | Ledger book | Ledger.exe | "
                          "Ledger.exe,0");
            continue;
        }
        if (next + 4 > kMostValues) {
            problems->Add(v.origin, "the file types and [Registry] values make more than " +
                                        std::to_string(kMostValues) + " values",
                          "each file type takes four; keep fewer");
            return;
        }
        const std::string classes = "Software\\Classes\\";
        const std::string lines[] = {
            // The extension's link to the ProgID goes only while it still
            // names this product's: another program may have taken it.
            root + "\t" + classes + extension + "\t\tstring\t" + progId + "\tremovekey-ifsame",
            root + "\t" + classes + progId + "\t\tstring\t" + description + "\tremovekey",
            root + "\t" + classes + progId + "\\DefaultIcon\t\tstring\t{TargetDir}" + icon + "\tremovekey",
            root + "\t" + classes + progId + "\\shell\\open\\command\t\tstring\t\"{TargetDir}" + program +
                "\" \"%1\"\tremovekey"};
        for (const std::string& line : lines) {
            d->strings[5400 + int(next)] = task;
            d->strings[5100 + int(next++)] = line;
        }
    }
}

}  // namespace mksetup
