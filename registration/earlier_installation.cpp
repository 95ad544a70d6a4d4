// An earlier installation of the product: found at start through its
// product key in the run's own scope (a per-user installation and one for
// every user live side by side and never see each other), and what a new
// run leaves of it. The files of its list that the new version no longer
// carries go (moved aside during the run, deleted at its commit, put back
// by a rollback), and so does the earlier folder's uninstaller when the
// product moves to another folder; folders that this leaves empty go at
// the commit. Files the user created were never listed and stay.
#include "registration/registration.h"
#include "rollback/rollback.h"
#include "setup/wide.h"

#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

size_t Below(const char* path, const char* folder);

// The earlier installation's "\Files" list, in its order: "File0000",
// "File0001", ... up to the first that is missing. Given the folder as the
// earlier run spelt it, its files are listed as this run's TargetDir
// spells the same folder.
void ReadEarlierList(TextList& files, const char* respelt)
{
    ScopedRegistryView view(Context.EarlierView);
    Text key = ProductKeyPath();
    key.Append("\\Files");
    for (unsigned long i = 0;; ++i) {
        char name[32], value[kPathBytes];
        FormatText(name, sizeof name, "File%04lu", i);
        if (!ReadRegistryString(ScopeRegistryRoot(), key.c_str(), name, value))
            break;
        size_t base = respelt ? Below(value, respelt) : 0;
        if (base) {
            Text path = Context.TargetDir;
            path.Append(value + base);
            files.Add(path.c_str());
        } else {
            files.Add(value);
        }
    }
}

bool Contains(const TextList& list, const char* path)
{
    for (size_t i = 0; i < list.Count(); ++i)
        if (SameTextNoCase(list.At(i), path))
            return true;
    return false;
}

// The length of folder (with its trailing backslash) when path lies below
// it, else 0.
size_t Below(const char* path, const char* folder)
{
    size_t n = strlen(folder);
    if (n < 4 || folder[n - 1] != '\\' || _strnicmp(path, folder, n) != 0 || path[n] == '\0')
        return 0;
    return n;
}

// Adds every folder between base (excluded) and the folder of path to
// folders, once each.
void AddFoldersBetween(TextList& folders, const char* path, size_t baseLength)
{
    char folder[kPathBytes];
    if (!CopyBounded(folder, sizeof folder, path))
        return;
    for (char* cut = strrchr(folder, '\\'); cut && static_cast<size_t>(cut - folder) >= baseLength;
         cut = strrchr(folder, '\\')) {
        *cut = '\0';
        if (strlen(folder) < baseLength || Contains(folders, folder))
            break;
        folders.Add(folder);
    }
}

// Moves a file of the earlier installation aside for the commit to delete;
// false when it is not there (or could not be moved: a held file stays,
// as the uninstaller would leave it, and the log says so).
bool TakeAway(const char* path, const char* why)
{
    DWORD attributes = GetFileAttributesU(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    if (!MoveFileAsideForDeletion(SessionJournal, path)) {
        LogEvent("could NOT remove %s (%s): Windows error %lu", path, why, static_cast<unsigned long>(GetLastError()));
        return false;
    }
    LogEvent("removed %s: %s", path, why);
    return true;
}

} // namespace

void FindEarlierInstallation()
{
    Context.EarlierDir.Clear();
    Context.EarlierVersion.Clear();
    Context.EarlierView = CurrentRegistryView();
    Text key = ProductKeyPath();
    char dir[kPathBytes], version[kPathBytes];
    Text full;
    bool found = ReadRegistryString(ScopeRegistryRoot(), key.c_str(), "InstallDir", dir);
    // A 64-bit build replaces the 32-bit build of the product, whose keys
    // are in the other view.
    if (!found && !IsSameRegistryView(CurrentRegistryView(), REGISTRY_VIEW_DEFAULT)) {
        ScopedRegistryView view(REGISTRY_VIEW_DEFAULT);
        found = ReadRegistryString(ScopeRegistryRoot(), key.c_str(), "InstallDir", dir);
        if (found)
            Context.EarlierView = REGISTRY_VIEW_DEFAULT;
    }
    if (!found || !MakeFullFolderPath(dir, full))
        return;
    // A product key whose folder is gone is no installation any more.
    DWORD attributes = GetFileAttributesU(full.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return;
    full.Append('\\');
    Context.EarlierDir = full;
    ScopedRegistryView view(Context.EarlierView);
    if (ReadRegistryString(ScopeRegistryRoot(), key.c_str(), "Version", version))
        Context.EarlierVersion = version;
}

void ReadEarlierInstalledFiles(TextList& files) { ReadEarlierList(files, nullptr); }

bool EarlierIsOtherBuild()
{
    return !Context.EarlierDir.empty() && !IsSameRegistryView(Context.EarlierView, CurrentRegistryView());
}

void RemoveOtherBuildsRegistration(const char* const* keys, size_t count)
{
    if (!EarlierIsOtherBuild())
        return;
    ScopedRegistryView view(Context.EarlierView);
    HKEY root = ScopeRegistryRoot();
    for (size_t i = 0; i < count; ++i)
        if (!RecordedDeleteRegistryTree(SessionJournal, root, keys[i]))
            LogEvent("the 32-bit build's key %s could NOT be removed", keys[i]);
    // The maker's key goes when nothing of it is left there.
    Text maker = MakerKeyPath("");
    maker.Truncate(maker.length() - 1);
    HKEY key;
    DWORD subkeys = 1, values = 1;
    if (RegOpenKeyExU(root, maker.c_str(), KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr);
        RegCloseKey(key);
        if (subkeys == 0 && values == 0)
            RecordedDeleteRegistryTree(SessionJournal, root, maker.c_str());
    }
}

RunKind ClassifyRun()
{
    if (Context.EarlierDir.empty())
        return RUN_FIRST_INSTALL;
    // An installation that recorded no version came before versions were
    // recorded: older than any.
    if (Context.EarlierVersion.empty())
        return RUN_UPGRADE;
    int order = CompareVersions(LoadStringAsText(IDS_PRODUCT_VERSION).c_str(), Context.EarlierVersion.c_str());
    return order > 0 ? RUN_UPGRADE : order < 0 ? RUN_DOWNGRADE : RUN_REINSTALL;
}

void RemoveDroppedFiles()
{
    // A repair keeps the list as it is, and a first installation has none.
    if (Context.RepairMode || Context.EarlierDir.empty())
        return;
    // The same folder by another spelling (a link above it, a short name,
    // a drive letter mapped onto it) is no move: its list is read in the
    // spelling of this run, so that the files just written are known as
    // carried again.
    bool moved = !IsSameFolder(Context.EarlierDir.c_str(), Context.TargetDir.c_str());
    const char* earlier = moved ? Context.EarlierDir.c_str() : Context.TargetDir.c_str();
    if (moved) {
        // Nothing of the earlier folder is taken away through a link that
        // somebody placed below it.
        Text guard(earlier);
        guard.Truncate(guard.length() - 1);
        JournalGuardFolder(SessionJournal, guard.c_str());
        LogEvent("the product moves from %s to %s: the earlier folder's files go", earlier,
                 Context.TargetDir.c_str());
    }
    // The folders the product's links lie in (the Start menu's Programs
    // folders, the desktop, the startup folder), each with a trailing
    // backslash.
    TextList linkFolders;
    {
        TextList found;
        GetLinkFolders(found);
        for (size_t i = 0; i < found.Count(); ++i) {
            Text folder(found.At(i));
            if (folder.last() != '\\')
                folder.Append('\\');
            linkFolders.Add(folder.c_str());
        }
    }
    const char* archivist = Context.ArchivistDir.c_str();
    TextList list, emptied;
    ReadEarlierList(list, moved ? nullptr : Context.EarlierDir.c_str());
    for (size_t i = 0; i < list.Count(); ++i) {
        const char* path = list.At(i);
        // Carried again, or written by this run (a link of the same name):
        // replaced already. The sibling product's files may still be used
        // by it, as the uninstaller knows too.
        if (Contains(Context.CarriedFiles, path) || Contains(Context.InstalledFiles, path) ||
            (archivist[0] && Below(path, archivist)) || !IsPlainFullPath(path))
            continue;
        size_t base = Below(path, earlier);
        bool link = false;
        size_t n = strlen(path);
        for (size_t k = 0; !base && k < linkFolders.Count(); ++k) {
            if (Below(path, linkFolders.At(k))) {
                link = n > 4 && _stricmp(path + n - 4, ".lnk") == 0;
                base = link ? strlen(linkFolders.At(k)) : 0;
            }
        }
        if (!base)
            continue;
        if (TakeAway(path, link ? "a link of the earlier version" : "no longer part of the product"))
            AddFoldersBetween(emptied, path, base);
        else if (GetFileAttributesU(path) != INVALID_FILE_ATTRIBUTES)
            // Held open, it stays for now; listed again, the uninstaller
            // still takes it away later.
            Context.InstalledFiles.Add(path);
    }
    if (moved) {
        const char* const uninstaller[] = {"UnInstall.exe", "UnInstall.ini"};
        for (const char* name : uninstaller) {
            Text path(earlier);
            path.Append(name);
            TakeAway(path.c_str(), "the uninstaller of the earlier folder");
        }
        Text folder(earlier);
        folder.Truncate(folder.length() - 1);
        emptied.Add(folder.c_str());
    }
    // Recorded outermost first: the commit removes them innermost first,
    // each only when nothing is left in it.
    for (size_t length = 0; emptied.Count() > 0 && length < MAX_PATH; ++length)
        for (size_t i = 0; i < emptied.Count(); ++i)
            if (strlen(emptied.At(i)) == length)
                RecordFolderToRemoveIfEmpty(SessionJournal, emptied.At(i));
}
