// cabtool: the maker's command-line view of a cabinet through the same
// decoder and the same low-level file callbacks that setup.exe uses.
//
//   cabtool list CABINET          one line per file entry
//   cabtool extract CABINET DIR   every file of the cabinet and its set
//   cabtool test CABINET          decode everything, write nothing
//
// Exit 0 on success, 1 on failure (one line on stderr naming the error
// code), 2 on a usage error.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>

#ifdef _WIN32
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/utime.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>
#endif

#include "cab/cab.h"

namespace {

const char kSeparator =
#ifdef _WIN32
    '\\';
#else
    '/';
#endif

// The handle given for files of `test`: its bytes are counted and dropped.
const intptr_t kDiscardHandle = -2;

const char* const kErrorNames[] = {
    "CAB_ERR_NONE",           "CAB_ERR_CABINET_NOT_FOUND", "CAB_ERR_NOT_A_CABINET",
    "CAB_ERR_UNKNOWN_VERSION", "CAB_ERR_CORRUPT_CABINET",  "CAB_ERR_ALLOC_FAIL",
    "CAB_ERR_BAD_COMPRESSION_TYPE", "CAB_ERR_DECOMPRESS_FAIL", "CAB_ERR_TARGET_FILE",
    "CAB_ERR_RESERVE_MISMATCH", "CAB_ERR_WRONG_CABINET",    "CAB_ERR_USER_ABORT"};

const char* const kErrorWords[] = {
    "no error",
    "the cabinet file could not be opened",
    "the file is not a cabinet",
    "the cabinet has a version this decoder does not read",
    "the cabinet is damaged",
    "out of memory",
    "the cabinet uses a compression method this decoder does not read",
    "the compressed data is damaged",
    "an extracted file could not be written",
    "the cabinets of the set disagree on their reserve sizes",
    "the next cabinet belongs to another set or is out of order",
    "extraction was stopped"};

enum Command { kList, kExtract, kTest };

// What the notification callback works with; one per run.
struct Run {
    Command command;
    std::string targetDir;  // with a trailing separator
    std::string crossedTo;  // the cabinet the last copy crossed into
    std::string nextName;   // next cabinet named by the last header read
    int32_t lastIndex;      // index of the last cabinet opened
    std::string message;    // why the client stopped the copy, if it did
    uint64_t bytes;
};

Run gRun;

// Low-level file callbacks over the C run-time library.
void* Alloc(uint32_t size) { return malloc(size); }
void Free(void* p) { free(p); }

intptr_t Open(char* path, int flags, int mode)
{
#ifdef _WIN32
    return _open(path, flags, mode);
#else
    (void)flags;
    (void)mode;
    return open(path, O_RDONLY);
#endif
}

uint32_t Read(intptr_t h, void* buffer, uint32_t count)
{
#ifdef _WIN32
    int n = _read(int(h), buffer, count);
#else
    ssize_t n = read(int(h), buffer, count);
#endif
    return n < 0 ? uint32_t(-1) : uint32_t(n);
}

uint32_t Write(intptr_t h, void* buffer, uint32_t count)
{
    gRun.bytes += count;
    if (h == kDiscardHandle) return count;
#ifdef _WIN32
    int n = _write(int(h), buffer, count);
#else
    ssize_t n = write(int(h), buffer, count);
#endif
    return n < 0 ? uint32_t(-1) : uint32_t(n);
}

int Close(intptr_t h)
{
    if (h == kDiscardHandle) return 0;
#ifdef _WIN32
    return _close(int(h));
#else
    return close(int(h));
#endif
}

int32_t Seek(intptr_t h, int32_t offset, int origin)
{
#ifdef _WIN32
    return int32_t(_lseek(int(h), offset, origin));
#else
    return int32_t(lseek(int(h), offset, origin == 1 ? SEEK_CUR : SEEK_SET));
#endif
}

bool MakeFolder(const std::string& path)
{
#ifdef _WIN32
    return _mkdir(path.c_str()) == 0;
#else
    return mkdir(path.c_str(), 0777) == 0;
#endif
}

bool IsFolder(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && (info.st_mode & S_IFDIR);
}

// Creates every missing folder on the way to the file at path.
bool CreateParentFolders(const std::string& path, size_t rootLength)
{
    for (size_t at = path.find_first_of("/\\", rootLength); at != std::string::npos; at = path.find_first_of("/\\", at + 1)) {
        if (at == 0) continue;  // the root itself
        std::string folder = path.substr(0, at);
        if (!IsFolder(folder) && !MakeFolder(folder) && !IsFolder(folder)) return false;
    }
    return true;
}

void SplitDosTime(uint16_t date, uint16_t time, struct tm* out)
{
    memset(out, 0, sizeof(*out));
    out->tm_year = (date >> 9) + 80;
    out->tm_mon = ((date >> 5) & 15) - 1;
    out->tm_mday = date & 31;
    out->tm_hour = time >> 11;
    out->tm_min = (time >> 5) & 63;
    out->tm_sec = (time & 31) * 2;
    out->tm_isdst = -1;
}

void StampTime(const std::string& path, uint16_t date, uint16_t time)
{
    struct tm local;
    SplitDosTime(date, time, &local);
    time_t when = mktime(&local);
    if (when == time_t(-1)) return;
#ifdef _WIN32
    struct _utimbuf times = {when, when};
    _utime(path.c_str(), &times);
#else
    struct utimbuf times = {when, when};
    utime(path.c_str(), &times);
#endif
}

void PrintEntry(const CabNotification* n)
{
    struct tm t;
    SplitDosTime(n->date, n->time, &t);
    printf("%lu %04d-%02d-%02d %02d:%02d:%02d %04x %s\n", static_cast<unsigned long>(uint32_t(n->size)), t.tm_year + 1900,
           t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, n->attributes, n->text1);
}

std::string OutputPath(const char* name)
{
    std::string path = gRun.targetDir;
    for (const char* p = name; *p; ++p) path += (*p == '\\' || *p == '/') ? kSeparator : *p;
    return path;
}

intptr_t CopyFile(CabNotification* n)
{
    if (gRun.command == kList) {
        PrintEntry(n);
        return 0;
    }
    if (!CabEntryNameIsSafe(n->text1)) {
        gRun.message = std::string("refused entry \"") + n->text1 +
                       "\": its name points outside the target folder or is no plain Windows file name"
                       " (a device such as NUL or COM1, or a name ending in a dot or blank)";
        return -1;
    }
    if (gRun.command == kTest) return kDiscardHandle;
    std::string path = OutputPath(n->text1);
    if (!CreateParentFolders(path, gRun.targetDir.size())) {
        gRun.message = "cannot create the folders for " + path;
        return -1;
    }
#ifdef _WIN32
    intptr_t h = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    intptr_t h = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
#endif
    if (h == -1) {
        gRun.message = "cannot create " + path;
        return -1;
    }
    return h;
}

intptr_t CloseFile(CabNotification* n)
{
    if (Close(n->fileHandle) != 0) return 0;
    if (gRun.command == kExtract) StampTime(OutputPath(n->text1), n->date, n->time);
    return 1;
}

intptr_t Notify(int kind, CabNotification* n)
{
    switch (kind) {
    case CAB_NOTIFY_CABINET_INFO:
        gRun.nextName = n->text1;
        gRun.lastIndex = n->cabinetIndex;
        return 0;
    case CAB_NOTIFY_PARTIAL_FILE:
        if (gRun.command == kList) PrintEntry(n);
        return 0;
    case CAB_NOTIFY_COPY_FILE:
        return CopyFile(n);
    case CAB_NOTIFY_CLOSE_FILE_INFO:
        return CloseFile(n);
    case CAB_NOTIFY_NEXT_CABINET:
        // One attempt per cabinet: a second request means the first failed.
        if (n->errorCode != 0) {
            gRun.message = std::string("next cabinet \"") + n->text1 + "\" could not be used: " +
                           (n->errorCode > 0 && n->errorCode <= CAB_ERR_USER_ABORT ? kErrorNames[n->errorCode] : "?");
            return -1;
        }
        gRun.crossedTo = n->text1;
        return 0;
    }
    return 0;
}

int Failure(const CabErrorRecord& error)
{
    int32_t code = error.code >= 0 && error.code <= CAB_ERR_USER_ABORT ? error.code : CAB_ERR_NONE;
    if (!gRun.message.empty())
        fprintf(stderr, "cabtool: %s: %s\n", kErrorNames[code], gRun.message.c_str());
    else if (code == CAB_ERR_UNKNOWN_VERSION)
        fprintf(stderr, "cabtool: %s: %s (0x%04x)\n", kErrorNames[code], kErrorWords[code], unsigned(error.detail));
    else
        fprintf(stderr, "cabtool: %s: %s\n", kErrorNames[code], kErrorWords[code]);
    return 1;
}

int Usage()
{
    fprintf(stderr, "usage: cabtool list CABINET | extract CABINET DIR | test CABINET\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) return Usage();
    if (strcmp(argv[1], "list") == 0 && argc == 3)
        gRun.command = kList;
    else if (strcmp(argv[1], "extract") == 0 && argc == 4)
        gRun.command = kExtract;
    else if (strcmp(argv[1], "test") == 0 && argc == 3)
        gRun.command = kTest;
    else
        return Usage();

    // The decoder opens cabinets as folder + name; the folder keeps its
    // separator so that following cabinets are looked for beside the first.
    std::string cabinet = argv[2];
    size_t slash = cabinet.find_last_of("/\\");
    std::string folder = slash == std::string::npos ? "" : cabinet.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? cabinet : cabinet.substr(slash + 1);

    if (gRun.command == kExtract) {
        gRun.targetDir = argv[3];
        if (!gRun.targetDir.empty() && gRun.targetDir.back() != '/' && gRun.targetDir.back() != '\\')
            gRun.targetDir += kSeparator;
        if (!IsFolder(gRun.targetDir.substr(0, gRun.targetDir.size() - 1)) &&
            (!CreateParentFolders(gRun.targetDir, 0) || !IsFolder(gRun.targetDir.substr(0, gRun.targetDir.size() - 1)))) {
            fprintf(stderr, "cabtool: CAB_ERR_TARGET_FILE: cannot create the folder %s\n", argv[3]);
            return 1;
        }
    }

    CabErrorRecord error = {0, 0, 0};
    CabDecoder* decoder = CabDecoderCreate(Alloc, Free, Open, Read, Write, Close, Seek, 1, &error);
    if (!decoder) return Failure(error);

    // list reads one cabinet; extract and test follow the set: after a copy
    // that crossed into a following cabinet that cabinet is copied for its
    // remaining files, otherwise the next cabinet named is copied. Indexes
    // must rise, so a set that names itself cannot loop.
    int result = 0;
    int32_t previousIndex = -1;
    for (;;) {
        gRun.crossedTo.clear();
        gRun.nextName.clear();
        gRun.lastIndex = -1;
        if (!CabDecoderCopy(decoder, name.c_str(), folder.c_str(), 0, Notify, nullptr, nullptr)) {
            result = Failure(error);
            break;
        }
        if (gRun.command == kList) break;
        std::string next = !gRun.crossedTo.empty() ? gRun.crossedTo : gRun.nextName;
        if (next.empty()) break;
        if (gRun.lastIndex <= previousIndex) {
            error.code = CAB_ERR_WRONG_CABINET;
            result = Failure(error);
            break;
        }
        previousIndex = gRun.crossedTo.empty() ? gRun.lastIndex : gRun.lastIndex - 1;
        name = next;
    }
    CabDecoderDestroy(decoder);
    if (result == 0 && gRun.command == kTest) printf("%llu bytes decoded\n", static_cast<unsigned long long>(gRun.bytes));
    return result;
}
