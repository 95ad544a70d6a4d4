// The switches administrators and deployment tools give the setup program:
// silent run, destination, log, repair and the usage, read from the
// command line before anything is changed; and the refusal of a command
// line that cannot be followed.
#include "app/app.h"

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

void RefuseCommandLine(const char* problem)
{
    Context.ExitCode = EXIT_INVALID_COMMAND_LINE;
    if (problem)
        LogEvent("invalid command line: %s", problem);
    else
        LogEvent("usage asked for (/?): nothing installed");
    if (Context.Silent)
        return;
    Text text;
    if (problem) {
        text = LoadStringAsText(LocalizedId(IDS_INVALID_COMMAND_LINE));
        text.Append("\n\n");
        text.Append(problem);
        text.Append("\n\n");
    }
    text.Append(LoadStringAsText(LocalizedId(IDS_USAGE)).c_str());
    Text caption = LoadStringAsText(IDS_MAIN_TITLE);
    MessageBoxA(nullptr, text.c_str(), caption.c_str(),
                MB_OK | MB_SETFOREGROUND | (problem ? MB_ICONEXCLAMATION : MB_ICONINFORMATION));
}
