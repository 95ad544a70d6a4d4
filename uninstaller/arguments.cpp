// The uninstaller's arguments, and the values of its settings file once
// read: the command line, the product and program names of "args", the
// "repair" and "archivist" values. Text only: nothing here reads a file or
// the registry, so that everything a person or another program can put
// there can be tried natively (fuzz/uninstall_settings_fuzz.cpp).
#include "uninstaller/uninstaller.h"

#include "setup/paths.h"

#include <string.h>

namespace {

// Longest product or program file name taken from the arguments; registry
// key names are limited to 255 characters, and the product key adds its
// own path in front.
const size_t kMaxNameLength = 200;

// Takes the next blank-separated argument from *p; a quoted one may hold
// blanks and loses its quotes. False at the end of the text.
bool NextArgument(const char*& p, Text& argument)
{
    while (*p == ' ' || *p == '\t')
        ++p;
    if (*p == '\0')
        return false;
    argument.Clear();
    if (*p == '"') {
        const char* start = ++p;
        while (*p && *p != '"')
            ++p;
        argument.Assign(start, static_cast<size_t>(p - start));
        if (*p == '"')
            ++p;
    } else {
        const char* start = p;
        while (*p && *p != ' ' && *p != '\t')
            ++p;
        argument.Assign(start, static_cast<size_t>(p - start));
    }
    return true;
}

bool EqualNoCase(const char* a, const char* b) { return lstrcmpiA(a, b) == 0; }

} // namespace

void ParseCommandLine(const char* arguments, CommandLine& out)
{
    out.Silent = false;
    out.Finish = false;
    out.ProductName.Clear();
    out.ExeName.Clear();
    out.FinishHandle.Clear();
    out.FinishPath.Clear();

    const char* p = arguments ? arguments : "";
    Text argument;
    int names = 0;
    bool first = true;
    while (NextArgument(p, argument)) {
        if (first && EqualNoCase(argument.c_str(), "/finish")) {
            out.Finish = true;
            NextArgument(p, out.FinishHandle);
            NextArgument(p, out.FinishPath);
            return;
        }
        first = false;
        if (EqualNoCase(argument.c_str(), "/S")) {
            out.Silent = true;
        } else {
            if (names == 0)
                out.ProductName = argument;
            else if (names == 1)
                out.ExeName = argument;
            ++names;
        }
    }
}

bool IsPlainName(const char* name)
{
    size_t n = strlen(name);
    if (n == 0 || n > kMaxNameLength)
        return false;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(name); *c; ++c)
        if (*c < 0x20 || *c == '\\' || *c == '/' || *c == '"')
            return false;
    return true;
}

bool ParseNameArguments(const char* text, Text& productName, Text& exeName)
{
    const char* p = text;
    Text product, exe;
    if (!NextArgument(p, product) || !NextArgument(p, exe))
        return false;
    if (!IsPlainName(product.c_str()) || !IsPlainName(exe.c_str()))
        return false;
    productName = product;
    exeName = exe;
    return true;
}

bool TakeUninstallSettings(const char* args, const char* repair, const char* archivist, UninstallSettings& out)
{
    size_t n = strnlen(args, kMaxSettingLength + 1);
    if (n == 0 || n >= kMaxSettingLength - 1)
        return false;
    // The profile reader drops the quotes that enclose a whole value, so
    // "\"Corvane GlyphForge\" \"GlyphForge.exe\"" comes back without its
    // first and last quote: put them back.
    Text arguments;
    if (args[0] != '"') {
        arguments.Append('"');
        arguments.Append(args);
        arguments.Append('"');
    } else {
        arguments = args;
    }
    if (!ParseNameArguments(arguments.c_str(), out.ProductName, out.ExeName))
        return false;
    // Whether the repair program may be started is decided when Repair is
    // chosen (IsKeptRepairCopy); a path Windows cannot take is none.
    out.RepairProgram.Clear();
    if (strnlen(repair, MAX_PATH) < MAX_PATH)
        out.RepairProgram = repair;
    out.ArchivistFolder.Clear();
    if (IsPlainFullPath(archivist)) {
        out.ArchivistFolder = archivist;
        if (out.ArchivistFolder.last() != '\\')
            out.ArchivistFolder.Append('\\');
    }
    return true;
}
