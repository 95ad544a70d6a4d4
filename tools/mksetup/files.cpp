// The files mksetup reads and writes, and the product folders laid out as
// the cabinets will list them. The C library's calls serve both builds
// (Linux and, through MinGW, Windows), so that both see the same names,
// sizes and dates and so write the same setup program; on Windows their
// wide forms, with every path in UTF-8 as on Linux, so that a name in any
// script is read as it is.
#include "tools/mksetup/mksetup.h"
#include "cab/cab_writer.h"

#include <dirent.h>
#ifdef _WIN32
#include <direct.h>
#include <windows.h>
#endif
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <wctype.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>

namespace mksetup {

namespace {

#ifdef _WIN32
std::wstring Wide(const std::string& utf8)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring wide(n > 0 ? static_cast<size_t>(n) : 1, L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], n);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}
typedef struct _stati64 FileStatus;
int MakeOneFolder(const std::string& path) { return _wmkdir(Wide(path).c_str()); }
int RemoveOneFolder(const std::string& path) { return _wrmdir(Wide(path).c_str()); }
int Status(const std::string& path, FileStatus* status) { return _wstati64(Wide(path).c_str(), status); }
// The names in a folder, "." and ".." left out; false when it cannot be
// read.
bool FolderNames(const std::string& path, std::vector<std::string>* names)
{
    _WDIR* dir = _wopendir(Wide(path).c_str());
    if (!dir)
        return false;
    while (_wdirent* entry = _wreaddir(dir)) {
        std::string name = Utf8FromUtf16(std::u16string(reinterpret_cast<const char16_t*>(entry->d_name)));
        if (name != "." && name != "..")
            names->push_back(name);
    }
    _wclosedir(dir);
    return true;
}
bool ReadOnly(const FileStatus& status) { return (status.st_mode & _S_IWRITE) == 0; }
struct tm LocalTime(time_t t)
{
    // MinGW's localtime keeps its result per thread.
    struct tm* local = localtime(&t);
    struct tm copy = {};
    if (local)
        copy = *local;
    return copy;
}
#else
typedef struct stat FileStatus;
int MakeOneFolder(const std::string& path) { return mkdir(path.c_str(), 0777); }
int RemoveOneFolder(const std::string& path) { return rmdir(path.c_str()); }
int Status(const std::string& path, FileStatus* status) { return stat(path.c_str(), status); }
bool FolderNames(const std::string& path, std::vector<std::string>* names)
{
    DIR* dir = opendir(path.c_str());
    if (!dir)
        return false;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names->push_back(name);
    }
    closedir(dir);
    return true;
}
bool ReadOnly(const FileStatus& status) { return (status.st_mode & S_IWUSR) == 0; }
struct tm LocalTime(time_t t)
{
    struct tm local = {};
    localtime_r(&t, &local);
    return local;
}
#endif

const uint16_t kAttributeReadOnly = 0x01;
const uint16_t kAttributeArchive = 0x20;

// The date and time the setup stamps on the installed file: the file's own
// modification time in local time, as MS-DOS keeps it (two-second steps,
// 1980 to 2107).
void DosDateTime(time_t modified, uint16_t* date, uint16_t* time)
{
    struct tm t = LocalTime(modified);
    int year = t.tm_year + 1900;
    if (year < 1980) {
        *date = (1 << 5) | 1;
        *time = 0;
        return;
    }
    if (year > 2107) {
        *date = uint16_t((127 << 9) | (12 << 5) | 31);
        *time = uint16_t((23 << 11) | (59 << 5) | 29);
        return;
    }
    *date = uint16_t(((year - 1980) << 9) | ((t.tm_mon + 1) << 5) | t.tm_mday);
    *time = uint16_t((t.tm_hour << 11) | (t.tm_min << 5) | (t.tm_sec / 2));
}

// A name Windows can create: UTF-8 text in any script, none of the
// characters Windows reserves, not ending in a dot or a blank. The
// cabinet carries it in UTF-8 and says so (CAB_WRITER_NAME_IS_UTF8).
bool PlainComponent(const std::string& name)
{
    if (name.empty() || name.back() == '.' || name.back() == ' ' || !ValidUtf8(name))
        return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || std::string("\\/:*?\"<>|").find(static_cast<char>(c)) != std::string::npos)
            return false;
    return true;
}

// Windows counts a name's length in UTF-16 units.
size_t WideUnits(const std::string& utf8)
{
    size_t n = 0;
    for (unsigned char c : utf8)
        if ((c & 0xC0) != 0x80)
            n += c >= 0xF0 ? 2 : 1;
    return n;
}

// The name as Windows compares file names, letter case aside: every
// letter in its capital form, in any script (the system's own table on
// Windows, the C library's with the UTF-8 locale main chose on Linux).
std::string Folded(const std::string& name)
{
    std::u16string units = Utf16FromUtf8(name);
#ifdef _WIN32
    std::wstring wide(units.begin(), units.end());
    CharUpperBuffW(&wide[0], static_cast<DWORD>(wide.size()));
    units.assign(wide.begin(), wide.end());
#else
    for (char16_t& u : units)
        if (u < 0xD800 || u > 0xDFFF)
            u = static_cast<char16_t>(towupper(u));
#endif
    return Utf8FromUtf16(units);
}

void ListLevel(ProductFolder* folder, const std::string& relative, const Origin& where, Problems* problems)
{
    // relative is the folder as the cabinet names it, with backslashes.
    std::string onDisk = relative;
    std::replace(onDisk.begin(), onDisk.end(), '\\', '/');
    std::string path = relative.empty() ? folder->path : JoinPath(folder->path, onDisk);
    std::vector<std::string> names;
    if (!FolderNames(path, &names)) {
        problems->Add(where, "the folder " + path + " cannot be read", "check that it exists and may be read");
        return;
    }
    folder->folders.push_back(path);
    std::vector<std::pair<std::string, FileStatus>> found;
    for (const std::string& name : names) {
        FileStatus status;
        if (Status(JoinPath(path, name), &status) != 0) {
            problems->Add(where, JoinPath(path, name) + " cannot be read", "remove it or make it readable");
            continue;
        }
        found.push_back({name, status});
    }
    // Byte order of the names, the same on every system.
    std::sort(found.begin(), found.end(),
              [](const std::pair<std::string, FileStatus>& a, const std::pair<std::string, FileStatus>& b) {
                  return a.first < b.first;
              });
    std::vector<std::string> lowered;
    for (const auto& f : found) {
        std::string name = relative.empty() ? f.first : relative + "\\" + f.first;
        if (!PlainComponent(f.first)) {
            problems->Add(where, "\"" + name + "\" in " + folder->path + " is not a name Windows can create",
                          "rename it: UTF-8 letters of any script, digits and punctuation other than "
                          "\\ / : * ? \" < > |, not ending in a dot or a blank");
            continue;
        }
        if (WideUnits(name) > 255) {
            problems->Add(where, "\"" + name.substr(0, 40) + "...\" in " + folder->path + " is " +
                                     std::to_string(WideUnits(name)) + " characters long with its sub-folders",
                          "shorten it to 255 characters at most");
            continue;
        }
        if (name.size() > 255) {
            problems->Add(where, "\"" + name.substr(0, 40) + "...\" in " + folder->path + " takes " +
                                     std::to_string(name.size()) + " bytes in UTF-8 with its sub-folders",
                          "shorten it: a cabinet holds a name of 255 bytes at most");
            continue;
        }
        std::string low = Folded(f.first);
        if (std::find(lowered.begin(), lowered.end(), low) != lowered.end()) {
            problems->Add(where, "\"" + name + "\" in " + folder->path + " differs from another name only in letter case",
                          "rename one of them: Windows cannot keep both");
            continue;
        }
        lowered.push_back(low);
        if (S_ISDIR(f.second.st_mode))
            continue;
        if (!S_ISREG(f.second.st_mode)) {
            problems->Add(where, "\"" + name + "\" in " + folder->path + " is not a regular file", "remove it");
            continue;
        }
        ProductFile file;
        file.name = name;
        file.path = JoinPath(path, f.first);
        file.size = static_cast<uint64_t>(f.second.st_size);
        DosDateTime(f.second.st_mtime, &file.date, &file.time);
        bool plainAscii = std::all_of(name.begin(), name.end(), [](char c) { return (c & 0x80) == 0; });
        file.attributes = uint16_t(kAttributeArchive | (ReadOnly(f.second) ? kAttributeReadOnly : 0) |
                                   (plainAscii ? 0 : CAB_WRITER_NAME_IS_UTF8));
        folder->bytes += file.size;
        folder->files.push_back(file);
    }
    for (const auto& f : found) {
        std::string name = relative.empty() ? f.first : relative + "\\" + f.first;
        if (S_ISDIR(f.second.st_mode) && PlainComponent(f.first) && WideUnits(name) <= 255)
            ListLevel(folder, name, where, problems);
    }
}

}  // namespace

bool ListFolderNames(const std::string& path, std::vector<std::string>* names)
{
    names->clear();
    if (!FolderNames(path, names))
        return false;
    std::sort(names->begin(), names->end());
    return true;
}

bool ReadWholeFile(const std::string& path, Bytes* data)
{
    data->clear();
    FILE* file = OpenFile(path, "rb");
    if (!file)
        return false;
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0)
        data->insert(data->end(), buffer, buffer + n);
    bool ok = !ferror(file);
    fclose(file);
    return ok;
}

bool IsFile(const std::string& path)
{
    FileStatus status;
    return Status(path, &status) == 0 && S_ISREG(status.st_mode);
}

bool IsFolder(const std::string& path)
{
    FileStatus status;
    return Status(path, &status) == 0 && S_ISDIR(status.st_mode);
}

uint64_t FileSize(const std::string& path)
{
    FileStatus status;
    return Status(path, &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
}

bool MakeFolder(const std::string& path, std::vector<std::string>* created)
{
    if (path.empty() || IsFolder(path))
        return true;
    std::string parent = FolderOf(path);
    if (parent != path && !MakeFolder(parent, created))
        return false;
    if (MakeOneFolder(path) == 0) {
        if (created)
            created->push_back(path);
        return true;
    }
    return IsFolder(path);
}

void RemoveEmptyFolders(const std::vector<std::string>& created)
{
    for (size_t i = created.size(); i-- > 0;)
        RemoveOneFolder(created[i]);
}

FILE* OpenFile(const std::string& path, const char* mode)
{
#ifdef _WIN32
    return _wfopen(Wide(path).c_str(), Wide(mode).c_str());
#else
    return fopen(path.c_str(), mode);
#endif
}

int RemoveFile(const std::string& path)
{
#ifdef _WIN32
    return _wremove(Wide(path).c_str());
#else
    return remove(path.c_str());
#endif
}

bool RenameOver(const std::string& from, const std::string& to)
{
#ifdef _WIN32
    // The C library's rename will not replace a file on Windows.
    return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return rename(from.c_str(), to.c_str()) == 0;
#endif
}

bool IsAbsolutePath(const std::string& path)
{
    if (!path.empty() && (path[0] == '/' || path[0] == '\\'))
        return true;
#ifdef _WIN32
    return path.size() >= 2 && path[1] == ':';
#else
    return false;
#endif
}

std::string JoinPath(const std::string& folder, const std::string& relative)
{
    if (folder.empty() || IsAbsolutePath(relative))
        return relative;
    char last = folder.back();
    return last == '/' || last == '\\' ? folder + relative : folder + "/" + relative;
}

std::string FolderOf(const std::string& path)
{
    size_t slash = path.find_last_of("/\\");
#ifdef _WIN32
    if (slash == std::string::npos && path.size() >= 2 && path[1] == ':')
        return path.substr(0, 2);
#endif
    if (slash == std::string::npos)
        return "";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

void ListProductFolder(ProductFolder* folder, const Origin& where, Problems* problems)
{
    folder->files.clear();
    folder->folders.clear();
    folder->bytes = 0;
    ListLevel(folder, "", where, problems);
}

}  // namespace mksetup
