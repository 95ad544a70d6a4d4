// The switches administrators and deployment tools give the setup program:
// silent run, destination, log, repair and the usage, read from the
// command line before anything is changed. Text only (command_line.h); the
// refusal of a command line that cannot be followed is the start step's
// (app.cpp).
#include "app/command_line.h"

#include "setup/paths.h"

#include <string.h>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

const char* SkipBlanks(const char* p)
{
    while (IsBlank(*p))
        ++p;
    return p;
}

// The end of the argument that starts at p: the next blank, or the end.
const char* ArgumentEnd(const char* p)
{
    while (*p && !IsBlank(*p))
        ++p;
    return p;
}

// True when the argument [p, end) starts with name in any letter case.
bool StartsWith(const char* p, const char* end, const char* name)
{
    size_t n = strlen(name);
    return static_cast<size_t>(end - p) >= n && _strnicmp(p, name, n) == 0;
}

bool IsExactly(const char* p, const char* end, const char* name)
{
    return static_cast<size_t>(end - p) == strlen(name) && _strnicmp(p, name, strlen(name)) == 0;
}

// "/LOG=" at p: the file name, quoted or up to the next blank, into out;
// returns where the argument ends, or null when it is malformed (no name,
// an unclosed quote, or text glued to the closing quote).
const char* TakeLogPath(const char* p, Text& out)
{
    const char* value = p + 5;
    if (*value == '"') {
        const char* close = strchr(value + 1, '"');
        if (!close || close == value + 1 || (close[1] && !IsBlank(close[1])))
            return nullptr;
        out.Assign(value + 1, static_cast<size_t>(close - value - 1));
        return close + 1;
    }
    const char* end = ArgumentEnd(value);
    if (end == value)
        return nullptr;
    out.Assign(value, static_cast<size_t>(end - value));
    return end;
}

// The rest of the line from p, without the blanks that end it.
Text RestOfLine(const char* p)
{
    size_t n = strlen(p);
    while (n > 0 && IsBlank(p[n - 1]))
        --n;
    Text rest;
    rest.Assign(p, n);
    return rest;
}

} // namespace

bool ParseCommandLine(const char* arguments, CommandLineSwitches& out)
{
    for (const char* p = SkipBlanks(arguments); *p; p = SkipBlanks(p)) {
        const char* end = ArgumentEnd(p);
        if (IsExactly(p, end, "/S")) {
            out.Silent = true;
        } else if (IsExactly(p, end, "/?")) {
            out.Help = true;
        } else if (IsExactly(p, end, "/RUN")) {
            out.Run = true;
        } else if (IsExactly(p, end, "/NOCLOSEAPPLICATIONS")) {
            out.NoCloseApplications = true;
        } else if (StartsWith(p, end, "/LANG=")) {
            out.Language.Assign(p + 6, static_cast<size_t>(end - p - 6));
            if (out.Language.empty())
                out.Language = "?";
        } else if (StartsWith(p, end, "/TASKS=")) {
            out.TasksGiven = true;
            out.Tasks.Assign(p + 7, static_cast<size_t>(end - p - 7));
        } else if (StartsWith(p, end, "/LOG=")) {
            end = TakeLogPath(p, out.LogPath);
            if (!end) {
                out.Problem = RestOfLine(p);
                return false;
            }
        } else if (StartsWith(p, end, "/D=")) {
            // The convention installers share: the last switch, taking the
            // rest of the line with its blanks, never quoted.
            Text typed = RestOfLine(p + 3);
            if (typed.empty() || !MakeDestinationFolder(typed.c_str(), out.Folder)) {
                out.Problem = RestOfLine(p);
                return false;
            }
            return true;
        } else if (p[0] == '/' && (p[1] == 'r' || p[1] == 'R') && (p[2] == '\0' || p[2] == ':' || IsBlank(p[2]))) {
            // The repair folder is the rest of the line, as it always was.
            out.Repair = p;
            return true;
        } else {
            Text argument;
            argument.Assign(p, static_cast<size_t>(end - p));
            out.Problem = argument;
            return false;
        }
        p = end;
    }
    return true;
}

const char* RepairFolderOf(const char* arguments)
{
    // An upper-case "/R" counts where the command line's parser hands over
    // the text from the switch on.
    const char* found = arguments[0] == '/' && arguments[1] == 'R' ? arguments : strstr(arguments, "/r");
    if (!found)
        return nullptr;
    // The switch and the one character after it are skipped; nothing else
    // is trimmed, so quotes and trailing blanks stay.
    const char* rest = found + 2;
    if (*rest != '\0')
        ++rest;
    return rest;
}
