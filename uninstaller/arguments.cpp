// The uninstaller's arguments, and the values of its settings file once
// read: the command line, the product and program names of "args", the
// maker, sibling, version, scope, "repair" and "archivist" values. Text only: nothing here reads a file or
// the registry, so that everything a person or another program can put
// there can be tried natively (fuzz/uninstall_settings_fuzz.cpp).
#include "uninstaller/uninstaller.h"

#include "setup/paths.h"
#include "setup/wide.h"

#include <string.h>

namespace {

// Longest product or program file name taken from the arguments, in
// characters (a name in UTF-8 takes more bytes); registry key names are
// limited to 255 characters, and the product key adds its own path in
// front.
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

bool EqualNoCase(const char* a, const char* b) { return SameTextNoCase(a, b); }

} // namespace

const char* const kUninstallValueNames[UNINSTALL_VALUE_COUNT] = {"args",  "maker",  "sibling",  "version",
                                                                 "scope", "repair", "archivist", "architecture",
                                                                 "language"};

void ParseCommandLine(const char* arguments, CommandLine& out)
{
    out.Silent = false;
    out.Finish = false;
    out.ProductName.Clear();
    out.ExeName.Clear();
    out.FinishHandle.Clear();
    out.FinishPath.Clear();
    out.FinishPerUser = false;
    out.FinishMaker.Clear();
    out.FinishProduct.Clear();

    const char* p = arguments ? arguments : "";
    Text argument;
    int names = 0;
    bool first = true;
    while (NextArgument(p, argument)) {
        if (first && EqualNoCase(argument.c_str(), "/finish")) {
            out.Finish = true;
            NextArgument(p, out.FinishHandle);
            NextArgument(p, out.FinishPath);
            Text scope;
            out.FinishPerUser = NextArgument(p, scope) && EqualNoCase(scope.c_str(), "user");
            NextArgument(p, out.FinishMaker);
            NextArgument(p, out.FinishProduct);
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
    if (name[0] == '\0' || WideLength(name) > kMaxNameLength)
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

bool TakeUninstallSettings(const UninstallValues& values, UninstallSettings& out)
{
    const char* args = values.Value[UNINSTALL_ARGS];
    size_t n = strnlen(args, kMaxSettingLength + 1);
    if (n == 0 || n >= kMaxSettingLength - 1)
        return false;
    // The profile reader drops the quotes that enclose a whole value, so
    // "\"Product Name\" \"Program.exe\"" comes back without its
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
    // The maker names the registry key and the setup folder of the product:
    // without it the installation cannot be found.
    if (!IsPlainName(values.Value[UNINSTALL_MAKER]))
        return false;
    out.MakerName = values.Value[UNINSTALL_MAKER];
    const char* scope = values.Value[UNINSTALL_SCOPE];
    if (scope[0] && !EqualNoCase(scope, "machine") && !EqualNoCase(scope, "user"))
        return false;
    out.PerUser = EqualNoCase(scope, "user");
    const char* architecture = values.Value[UNINSTALL_ARCHITECTURE];
    if (architecture[0] && !EqualNoCase(architecture, "x86") && !EqualNoCase(architecture, "x64"))
        return false;
    out.SixtyFourBit = EqualNoCase(architecture, "x64");
    // An unknown language is none: the user's own is spoken.
    out.Language = values.Value[UNINSTALL_LANGUAGE];
    const char* sibling = values.Value[UNINSTALL_SIBLING];
    out.SiblingName = IsPlainName(sibling) ? sibling : "";
    out.Version = values.Value[UNINSTALL_VERSION];
    // Whether the repair program may be started is decided when Repair is
    // chosen (IsKeptRepairCopy); a path Windows cannot take is none.
    const char* repair = values.Value[UNINSTALL_REPAIR];
    out.RepairProgram.Clear();
    if (WideLength(repair) < MAX_PATH)
        out.RepairProgram = repair;
    const char* archivist = values.Value[UNINSTALL_ARCHIVIST];
    out.ArchivistFolder.Clear();
    if (IsPlainFullPath(archivist)) {
        out.ArchivistFolder = archivist;
        if (out.ArchivistFolder.last() != '\\')
            out.ArchivistFolder.Append('\\');
    }
    return true;
}
