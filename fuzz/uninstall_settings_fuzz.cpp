// Fuzz target for what the uninstaller takes from its settings file and
// its command line (TakeUninstallSettings, ParseNameArguments,
// ParseCommandLine). The input is an UnInstall.ini; the values of its
// [uninstall] section are taken as the system's profile reader hands them
// over (first occurrence of a section and a key in any letter case, blanks
// trimmed, one pair of enclosing double quotes dropped, cut at the
// uninstaller's 1023 characters), which is all the uninstaller relies on.
// Besides memory safety it checks that whatever is accepted is what the
// removal may use: plain product, program and maker names, a repair path shorter than MAX_PATH,
// the sibling's folder as a plain full path ending in a backslash.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>

#include "setup/paths.h"
#include "uninstaller/uninstaller.h"

namespace {

std::string Trim(const std::string& s)
{
    size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos)
        return "";
    size_t b = s.find_last_not_of(" \t\r");
    return s.substr(a, b - a + 1);
}

// The value of key in [uninstall], as the profile reader returns it.
std::string ProfileValue(const std::string& text, const char* key)
{
    bool inSection = false, seenSection = false;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = Trim(text.substr(at, end - at));
        at = end + 1;
        if (!line.empty() && line[0] == '[') {
            size_t close = line.find(']');
            std::string name = Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            // Only the first [uninstall] section is read.
            inSection = !seenSection && strcasecmp(name.c_str(), "uninstall") == 0;
            seenSection = seenSection || inSection;
            continue;
        }
        size_t equals = line.find('=');
        if (!inSection || equals == std::string::npos || strcasecmp(Trim(line.substr(0, equals)).c_str(), key) != 0)
            continue;
        std::string value = Trim(line.substr(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        value = value.substr(0, strnlen(value.c_str(), value.size()));
        return value.substr(0, kMaxSettingLength);
    }
    return "";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    std::string values[UNINSTALL_VALUE_COUNT];
    UninstallValues read;
    for (int i = 0; i < UNINSTALL_VALUE_COUNT; ++i) {
        values[i] = ProfileValue(text, kUninstallValueNames[i]);
        read.Value[i] = values[i].c_str();
    }

    UninstallSettings settings;
    if (TakeUninstallSettings(read, settings)) {
        if (!IsPlainName(settings.ProductName.c_str()) || !IsPlainName(settings.ExeName.c_str()) ||
            !IsPlainName(settings.MakerName.c_str()))
            abort();
        if (!settings.SiblingName.empty() && !IsPlainName(settings.SiblingName.c_str()))
            abort();
        if (settings.RepairProgram.length() >= MAX_PATH)
            abort();
        if (!settings.ArchivistFolder.empty()) {
            Text folder = settings.ArchivistFolder;
            if (folder.last() != '\\')
                abort();
            folder.Truncate(folder.length() - 1);
            if (!IsPlainFullPath(folder.c_str()) && !IsPlainFullPath(settings.ArchivistFolder.c_str()))
                abort();
        }
    }

    // The same text as the uninstaller's own command line.
    CommandLine line;
    ParseCommandLine(text.substr(0, strnlen(text.c_str(), text.size())).c_str(), line);
    if (line.Finish && (line.Silent || !line.ProductName.empty()))
        abort();
    return 0;
}
