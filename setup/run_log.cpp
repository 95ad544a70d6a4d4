// The run's log (/LOG=file): one line per event, each with the local date
// and time, appended to a plain-text file that administrators read after
// an unattended run. Writing it is never a reason to stop: a log that
// cannot be opened or written is simply not there.
#include "setup/setup.h"
#include "setup/wide.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace {

// A line's text is cut here; paths and registry data are far shorter.
const int kMaxLine = 1000;

} // namespace

bool OpenRunLog(const char* path)
{
    CloseRunLog();
    // Appended to, never emptied: an earlier run's lines stay. Others may
    // read it meanwhile, and a second run of the setup may add its lines.
    HANDLE file = CreateFileU(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    // UTF-8, said by its mark at the start of a new log, so that an editor
    // shows every letter of the names in it.
    LARGE_INTEGER size;
    if (GetFileSizeEx(file, &size) && size.QuadPart == 0) {
        DWORD written = 0;
        WriteFile(file, "\xEF\xBB\xBF", 3, &written, nullptr);
    }
    EnterCriticalSection(&Context.LogLock);
    Context.RunLog = file;
    LeaveCriticalSection(&Context.LogLock);
    return true;
}

void CloseRunLog()
{
    EnterCriticalSection(&Context.LogLock);
    if (Context.RunLog)
        CloseHandle(Context.RunLog);
    Context.RunLog = nullptr;
    LeaveCriticalSection(&Context.LogLock);
}

void LogEvent(const char* format, ...)
{
    if (!Context.RunLog)
        return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char line[kMaxLine + 64];
    int n = FormatText(line, sizeof line, "%04u-%02u-%02u %02u:%02u:%02u.%03u  ", now.wYear, now.wMonth, now.wDay,
                     now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    if (n < 0)
        return;
    va_list arguments;
    va_start(arguments, format);
    int m = FormatTextV(line + n, kMaxLine, format, arguments);
    va_end(arguments);
    if (m < 0)
        return;
    // A line never breaks in two: line breaks within the text (a message
    // of the string table, say) become blanks.
    size_t length = strlen(line);
    for (size_t i = static_cast<size_t>(n); i < length; ++i)
        if (line[i] == '\r' || line[i] == '\n')
            line[i] = ' ';
    AppendBounded(line, sizeof line, "\r\n");
    // Writes from the interface and extraction threads do not interleave.
    EnterCriticalSection(&Context.LogLock);
    if (Context.RunLog) {
        DWORD written = 0;
        WriteFile(Context.RunLog, line, static_cast<DWORD>(strlen(line)), &written, nullptr);
    }
    LeaveCriticalSection(&Context.LogLock);
}

void LogJournalEvent(const char* event) { LogEvent("%s", event); }
