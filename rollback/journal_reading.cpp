// What a recovery reads back from the journal file of an earlier run: the
// records it will act on, from the file's bytes. Text only; the file is
// opened and read, and the records acted on, in recovery.cpp. Kept apart so
// that everything an earlier run, a crash or a forger left in that file
// can be tried without touching the machine (fuzz/journal_fuzz.cpp).
#include "rollback/records.h"
#include "setup/paths.h"

#include <string.h>

namespace {

// A moved file keeps its folder and takes our aside name in it.
bool IsAsideOf(const char* path, const char* aside)
{
    const char* slash = strrchr(path, '\\');
    const char* asideSlash = strrchr(aside, '\\');
    if (!slash || !asideSlash || slash - path != asideSlash - aside)
        return false;
    return _strnicmp(path, aside, static_cast<size_t>(slash - path)) == 0 &&
           strncmp(asideSlash + 1, kAsidePrefix, strlen(kAsidePrefix)) == 0;
}

} // namespace

bool IsPlausibleRecord(const ParsedRecord& r)
{
    switch (r.Kind) {
    case RECORD_FOLDER:
    case RECORD_NEW_FILE:
    case RECORD_TEMPORARY:
    case RECORD_GUARDED:
    case RECORD_EMPTIED_FOLDER:
    case RECORD_DELETE_AT_COMMIT:
        return r.Count == 1 && IsPlainFullPath(r.Fields[0].c_str());
    case RECORD_MOVED_FILE:
    case RECORD_AT_RESTART:
        return r.Count == 2 && IsPlainFullPath(r.Fields[0].c_str()) && IsPlainFullPath(r.Fields[1].c_str()) &&
               IsAsideOf(r.Fields[0].c_str(), r.Fields[1].c_str());
    case RECORD_GUARD_IDENTITY:
        return r.Count == 2 && IsPlainFullPath(r.Fields[0].c_str()) && IsPlainFullPath(r.Fields[1].c_str());
    case RECORD_KEY:
    case RECORD_DELETED_KEY:
    case RECORD_NEW_VALUE:
    case RECORD_OLD_VALUE: {
        int expected = r.Kind == RECORD_KEY || r.Kind == RECORD_DELETED_KEY ? 2 : r.Kind == RECORD_NEW_VALUE ? 3 : 5;
        if (r.Count != expected || !RootFromLetter(r.Fields[0].c_str()))
            return false;
        // Outside SOFTWARE only the PATH of the environment, machine's or
        // user's, is a value a run changes.
        bool path = (r.Kind == RECORD_NEW_VALUE || r.Kind == RECORD_OLD_VALUE) && _stricmp(r.Fields[2].c_str(), "Path") == 0 &&
                    _stricmp(r.Fields[1].c_str(), strcmp(r.Fields[0].c_str(), "M") == 0
                                                      ? "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment"
                                                      : "Environment") == 0;
        return path || _strnicmp(r.Fields[1].c_str(), "SOFTWARE\\", 9) == 0;
    }
    case RECORD_COMMITTED:
        return r.Count == 0;
    }
    return false;
}

bool ReadJournalText(const char* data, size_t size, const char* header, TextList& records, bool* committed,
                     int* version)
{
    records.Clear();
    *committed = false;
    // A NUL never stands in a journal we wrote: from the first one on, the
    // file holds what a power cut left (a zero-filled tail), not records.
    size = strnlen(data, size);
    // The header ends in its version's digit.
    size_t headerLength = strlen(header);
    if (headerLength == 0 || size <= headerLength || memcmp(data, header, headerLength - 1) != 0 ||
        data[headerLength - 1] < '1' || data[headerLength - 1] > header[headerLength - 1] ||
        data[headerLength] != '\n')
        return false;
    if (version)
        *version = data[headerLength - 1] - '0';
    // Only whole lines: a last line without its newline was torn by the end
    // of the run that wrote it, and counts as never written.
    Text line;
    ParsedRecord r;
    for (size_t at = headerLength + 1; at < size;) {
        const char* end = static_cast<const char*>(memchr(data + at, '\n', size - at));
        if (!end)
            break;
        if (!line.Assign(data + at, static_cast<size_t>(end - (data + at))))
            return false;
        at = static_cast<size_t>(end - data) + 1;
        if (!ParseRecord(line.c_str(), r) || !IsPlausibleRecord(r))
            continue;
        if (r.Kind == RECORD_COMMITTED)
            *committed = true;
        records.Add(line.c_str());
    }
    return true;
}
