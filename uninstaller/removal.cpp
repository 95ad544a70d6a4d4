// The removal of an installed product: the listed files, the folders they
// leave empty (never a standard folder or the sibling product's) and the
// registry entries the setup wrote.
#include "uninstaller/uninstaller.h"

#include "rollback/rollback.h"
#include "setup/wide.h"

#include <shlobj.h>
#include <string.h>

namespace {

const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char kAppPathsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
const char kWindowsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

void AddFolder(TextList& list, const char* folder)
{
    if (!folder || !folder[0])
        return;
    char copy[kPathBytes];
    if (!CopyBounded(copy, sizeof copy, folder))
        return;
    StripTrailingBackslash(copy);
    list.Add(copy);
}

void AddSpecialFolder(TextList& list, int csidl)
{
    LPITEMIDLIST items = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &items)) || !items)
        return;
    char path[kPathBytes];
    if (SHGetPathFromIDListU(items, path))
        AddFolder(list, path);
    CoTaskMemFree(items);
}

bool ContainsNoCase(const TextList& list, const char* text)
{
    for (size_t i = 0; i < list.Count(); ++i)
        if (SameTextNoCase(list.At(i), text))
            return true;
    return false;
}

} // namespace

void CollectProtectedFolders(TextList& out, const char* archivistFolder)
{
    out.Clear();
    static const int kStandardFolders[] = {
        CSIDL_PROGRAMS,         CSIDL_STARTMENU,           CSIDL_STARTUP,
        CSIDL_COMMON_PROGRAMS,  CSIDL_COMMON_STARTMENU,    CSIDL_COMMON_STARTUP,
        CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_PERSONAL,
        CSIDL_COMMON_DOCUMENTS, CSIDL_APPDATA,             CSIDL_LOCAL_APPDATA,
        CSIDL_COMMON_APPDATA,   CSIDL_PROFILE,             CSIDL_FONTS,
        CSIDL_WINDOWS,          CSIDL_SYSTEM,              CSIDL_PROGRAM_FILES,
        CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMONX86,
    };
    for (int csidl : kStandardFolders)
        AddSpecialFolder(out, csidl);
    // The user's own programs' folder, where per-user installations go.
    LPITEMIDLIST items = nullptr;
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_LOCAL_APPDATA, &items)) && items) {
        char local[kPathBytes];
        if (SHGetPathFromIDListU(items, local) && AppendBounded(local, sizeof local, "\\Programs"))
            AddFolder(out, local);
        CoTaskMemFree(items);
    }

    // The folders the setup itself took its defaults from; on 64-bit
    // Windows also the 64-bit programs' folders, which a 32-bit program
    // only finds under their own names.
    static const char* const kFolderValues[] = {"ProgramFilesDir", "CommonFilesDir", "ProgramW6432Dir",
                                                "CommonW6432Dir"};
    char path[kPathBytes];
    for (const char* value : kFolderValues)
        if (ReadStringValue(HKEY_LOCAL_MACHINE, kWindowsKey, value, path, sizeof path))
            AddFolder(out, path);
    UINT n = GetWindowsDirectoryU(path, sizeof path);
    if (n > 0 && n < sizeof path)
        AddFolder(out, path);
    n = GetSystemDirectoryU(path, sizeof path);
    if (n > 0 && n < sizeof path)
        AddFolder(out, path);
    DWORD t = GetTempPathU(sizeof path, path);
    if (t > 0 && t < sizeof path)
        AddFolder(out, path);
    AddFolder(out, archivistFolder);
}

bool IsProtectedFolder(const char* folder, const TextList& protectedFolders)
{
    char copy[kPathBytes];
    if (!CopyBounded(copy, sizeof copy, folder))
        return true;
    StripTrailingBackslash(copy);
    return IsVolumeRoot(copy) || ContainsNoCase(protectedFolders, copy);
}

int RemoveEmptyFolders(const char* folder, const TextList& protectedFolders)
{
    char current[kPathBytes];
    if (!CopyBounded(current, sizeof current, folder))
        return 0;
    StripTrailingBackslash(current);
    int removed = 0;
    // RemoveDirectoryA takes only an empty folder: whatever still holds a
    // file, the user's or another product's, stays with all its parents.
    while (!IsProtectedFolder(current, protectedFolders) && RemoveDirectoryU(current)) {
        ++removed;
        char* cut = strrchr(current, '\\');
        if (!cut)
            break;
        *cut = '\0';
    }
    return removed;
}

DWORD DeleteOneFile(const char* path)
{
    DWORD attributes = GetFileAttributesU(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : error;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return ERROR_DIRECTORY;
    const DWORD kBlocking = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if (attributes & kBlocking)
        SetFileAttributesU(path, attributes & ~kBlocking);
    if (DeleteFileU(path))
        return ERROR_SUCCESS;
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    // The file stays: as it was, read-only or not.
    if (attributes & kBlocking)
        SetFileAttributesU(path, attributes);
    return error ? error : ERROR_ACCESS_DENIED;
}

bool RemoveListedFiles(const TextList& files, const RemovalOptions& options, RemovalReport& report)
{
    RunJournal& journal = *options.Journal;
    TextList folders;       // folders of removed files, each once
    for (size_t i = 0; i < files.Count(); ++i) {
        const char* path = files.At(i);
        if (!IsRemovablePath(path)) {
            report.LeftFiles.Add(path);
            continue;
        }
        if (options.ArchivistFolder && IsUnderFolder(path, options.ArchivistFolder)) {
            report.SiblingFiles.Add(path);
            continue;
        }
        if (options.OwnProgram && SameTextNoCase(path, options.OwnProgram))
            continue;
        // A link placed below the installation or the Start menu is not
        // gone through: the entry is left and reported.
        if (IsBehindLink(journal, path)) {
            report.LeftFiles.Add(path);
            continue;
        }
        DWORD attributes = GetFileAttributesU(path);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            if (!ContainsNoCase(folders, path))
                folders.Add(path);
            continue;
        }
        // Moved aside within its folder, deleted at the commit: until then
        // a cancel, a failure or a killed removal puts it back.
        for (;;) {
            if (MoveFileAsideForDeletion(journal, path)) {
                ++report.RemovedFiles;
                Text folder = FolderOf(path);
                folder.Truncate(folder.length() - 1);
                if (!ContainsNoCase(folders, folder.c_str()))
                    folders.Add(folder.c_str());
                break;
            }
            int answer = options.InUse ? options.InUse(path, options.InUseContext) : IDIGNORE;
            if (answer == IDCANCEL)
                return false;
            if (answer != IDRETRY) {
                report.LeftFiles.Add(path);
                break;
            }
        }
    }

    // Every folder the removal may leave empty, up to the first that is
    // protected: recorded outermost first, so that the commit removes them
    // innermost first, each only when nothing is left in it.
    TextList none;
    const TextList& protectedFolders = options.ProtectedFolders ? *options.ProtectedFolders : none;
    TextList emptied;
    for (size_t i = 0; i < folders.Count(); ++i) {
        char current[kPathBytes];
        if (!CopyBounded(current, sizeof current, folders.At(i)))
            continue;
        StripTrailingBackslash(current);
        while (!IsProtectedFolder(current, protectedFolders) && !ContainsNoCase(emptied, current)) {
            emptied.Add(current);
            char* cut = strrchr(current, '\\');
            if (!cut)
                break;
            *cut = '\0';
        }
    }
    for (size_t length = 0; emptied.Count() > 0 && length < MAX_PATH; ++length)
        for (size_t i = 0; i < emptied.Count(); ++i)
            if (strlen(emptied.At(i)) == length)
                RecordFolderToRemoveIfEmpty(journal, emptied.At(i));
    return true;
}

bool RemoveInstallation(const UninstallSettings& settings, const TextList& files, const RemovalOptions& options,
                        RemovalReport& report)
{
    // The installation folder and the folders of the links (the Start
    // menu's Programs folders, the desktops, the startup folders) are where
    // a user could have put a link for the elevated removal to go through:
    // guarded for the removal and for its undoing.
    RunJournal& journal = *options.Journal;
    TextList guarded;
    Text folder(settings.Folder);
    folder.Truncate(folder.length() - 1);
    guarded.Add(folder.c_str());
    // The folders the product's links may lie in.
    static const int kLinkFolders[] = {CSIDL_PROGRAMS,         CSIDL_COMMON_PROGRAMS, CSIDL_DESKTOPDIRECTORY,
                                       CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_STARTUP,  CSIDL_COMMON_STARTUP};
    for (int csidl : kLinkFolders)
        AddSpecialFolder(guarded, csidl);
    for (size_t i = 0; i < guarded.Count(); ++i)
        JournalGuardFolder(journal, guarded.At(i));

    // One transaction: every file moved aside, every registry value and key
    // recorded, and nothing deleted before the commit. Cancelled, failed or
    // killed before it, the product is whole again; after it, gone.
    if (!RemoveListedFiles(files, options, report)) {
        JournalRollBack(journal, false);
        return false;
    }
    bool fileTypes = false;
    bool pathChanged = GiveBackProductValues(journal, settings.Folder.c_str(), &fileTypes);
    RemoveProductRegistration(journal, settings.MakerName.c_str(), settings.ProductName.c_str(),
                              settings.ExeName.c_str(), settings.Folder.c_str());
    // The copy of the setup kept for repairs goes with the product.
    Text repairCopy = KeptRepairCopy(settings.MakerName.c_str(), settings.ProductName.c_str());
    if (!repairCopy.empty())
        MoveFileAsideForDeletion(journal, repairCopy.c_str());
    // The settings file and the program itself go last: until the commit
    // has been tidied, a removal that was killed finds its journal again
    // through them, and finishes.
    Text settingsFile(settings.Folder);
    settingsFile.Append("UnInstall.ini");
    RecordFileToDeleteAtCommit(journal, settingsFile.c_str());
    if (options.OwnProgram)
        RecordFileToDeleteAtCommit(journal, options.OwnProgram);
    JournalCommit(journal, true);
    if (pathChanged)
        AnnounceEnvironmentChange();
    if (fileTypes)
        AnnounceFileTypesChange();
    return true;
}

bool GiveBackProductValues(RunJournal& journal, const char* folder, bool* fileTypes)
{
    *fileTypes = false;
    Text settings(folder);
    settings.Append("UnInstall.ini");
    TextList lines, entries;
    ReadProductValueRecords(settings.c_str(), lines);
    for (size_t i = 0; i < lines.Count(); ++i) {
        ProductValueRecord record;
        if (ParseProductValueRecord(lines.At(i), record)) {
            GiveBackProductValue(journal, record);
            *fileTypes |= IsFileTypeRecord(record);
        }
    }
    ReadPathEntries(settings.c_str(), entries);
    for (size_t i = 0; i < entries.Count(); ++i)
        RemovePathEntry(journal, entries.At(i));
    return entries.Count() > 0;
}

void RemoveProductRegistration(RunJournal& journal, const char* makerName, const char* productName,
                               const char* exeName, const char* installDir)
{
    // The hive the installation was registered in: the machine's, or the
    // user's for a per-user installation.
    const HKEY root = ScopeRegistryRoot();
    // An empty or compound name would reach the maker's key itself or
    // another product's.
    if (!IsPlainName(makerName) || !IsPlainName(productName))
        return;
    RecordedDeleteRegistryTree(journal, root, ProductKeyOf(makerName, productName).c_str());
    Text uninstallKey(kUninstallKey);
    uninstallKey.Append(productName);
    RecordedDeleteRegistryTree(journal, root, uninstallKey.c_str());

    if (IsPlainName(exeName)) {
        Text appPathKey(kAppPathsKey);
        appPathKey.Append(exeName);
        char value[kPathBytes];
        bool ours = false;
        if (ReadStringValue(root, appPathKey.c_str(), "Path", value, sizeof value)) {
            ours = installDir[0] && IsSameFolder(value, installDir);
        } else if (ReadStringValue(root, appPathKey.c_str(), "", value, sizeof value)) {
            ours = IsUnderFolder(value, installDir);
        }
        if (ours)
            RecordedDeleteRegistryTree(journal, root, appPathKey.c_str());
    }

    // The maker's key goes with its last product: only when nothing at all
    // is left in it.
    Text makerKey("SOFTWARE\\");
    makerKey.Append(makerName);
    HKEY key;
    DWORD values = 1, subkeys = 1;
    if (RegOpenKeyExU(root, makerKey.c_str(), KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                             nullptr, nullptr) != ERROR_SUCCESS)
            values = 1;
        RegCloseKey(key);
        if (values == 0 && subkeys == 0)
            RecordedDeleteRegistryTree(journal, root, makerKey.c_str());
    }
}
