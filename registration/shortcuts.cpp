// Shortcuts and Start-menu entries: the maker's folder under the Start
// menu's Programs folder (the user's own, in either scope), the extra paths
// the uninstaller is to remove, and the application, help and uninstall
// links.
#include "registration/registration.h"
#include "rollback/cut_points.h"

#include <objbase.h>
#include <stdlib.h>
#include <string.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "rollback/rollback.h"
#include "setup/wide.h"

// Explorer on the Start-menu folder runs as the signed-in user, once the
// program's start has given the way.
ShellOpenFunction ShellOpenFolder = ShellExecuteA;
LinkBytesFunction MakeLinkBytes = ShellLinkBytes;

namespace {

// The shell's link object and the two interfaces used on it, spelled out
// here so that no GUID library decides which names exist.
const CLSID kClsidShellLink = {0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kIidShellLinkW = {0x000214F9, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kIidPersistFile = {0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kIidPersistStream = {0x00000109, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

Text Expanded(const char* pattern)
{
    Text text(pattern);
    ExpandMacros(text);
    return text;
}

// A folder followed by an expanded pattern. Only the pattern goes through
// the macros, so a folder with braces in its name or a long path is taken
// as it is, never rewritten or cut into another file's name.
Text Joined(const char* folder, const char* pattern)
{
    Text path(folder);
    path.Append(Expanded(pattern).c_str());
    return path;
}

// Where an existing link leads; empty when it cannot be read.
Text LinkTarget(const char* linkPath)
{
    Text target;
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(kClsidShellLink, nullptr, CLSCTX_INPROC_SERVER, kIidShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return target;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(kIidPersistFile, reinterpret_cast<void**>(&file)))) {
        WideText widePath(linkPath);
        wchar_t wideTarget[kPathBytes];
        char path[kPathBytes];
        if (widePath.ok() && SUCCEEDED(file->Load(widePath.c_str(), STGM_READ)) &&
            SUCCEEDED(link->GetPath(wideTarget, MAX_PATH, nullptr, 0))) {
            DWORD n = FromWide(wideTarget, path, sizeof path);
            if (n > 0 && n < sizeof path)
                target = path;
        }
        file->Release();
    }
    link->Release();
    return target;
}

// The same product installed in the other scope (for every user when this
// run is the user's own, and the other way round) keeps the links that
// lead into its folder: both installations stay whole side by side, and
// each uninstaller takes only the links it listed. A user who has both
// sees one set of links, the one that was there first. Returns that
// installation's folder when the link at linkPath is one of them.
Text OtherScopesLinkFolder(const char* linkPath)
{
    if (!FileExists(linkPath))
        return Text();
    HKEY other = CurrentInstallScope() == SCOPE_USER ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    char folder[kPathBytes];
    if (!ReadRegistryString(other, ProductKeyPath().c_str(), "InstallDir", folder) || !folder[0])
        return Text();
    Text base(folder);
    if (base.last() != '\\')
        base.Append('\\');
    Text target = LinkTarget(linkPath);
    if (target.length() <= base.length() || _strnicmp(target.c_str(), base.c_str(), base.length()) != 0)
        return Text();
    return base;
}

// Strings 900, 901, ... up to the first empty one name paths that the
// uninstaller is to remove. An existing file among them was not made by
// this installation and is left out; a folder, or nothing yet, is listed.
void AddExtraPaths()
{
    for (int id = IDS_EXTRA_PATH_FIRST; id <= IDS_EXTRA_PATH_LAST; ++id) {
        Text path = LoadStringAsText(id);
        if (path.empty())
            break;
        ExpandMacros(path);
        // A file the product created meanwhile is not listed again, but it
        // is still the product's: an upgrade does not take it away.
        Context.CarriedFiles.Add(path.c_str());
        if (!FileExists(path.c_str()))
            Context.InstalledFiles.Add(path.c_str());
    }
}

} // namespace

Text FolderWithoutBackslash(const char* folder)
{
    Text result(folder);
    if (result.last() == '\\')
        result.Truncate(result.length() - 1);
    // "C:" alone names the current folder of drive C, not its root.
    if (result.last() == ':')
        result.Append('\\');
    return result;
}

HRESULT ShellLinkBytes(const LinkDetails& details, void** bytes, DWORD* size)
{
    *bytes = nullptr;
    *size = 0;
    WideText wideTarget(details.Target), wideFolder(details.WorkingFolder), wideDescription(details.Description),
        wideArguments(details.Arguments), wideIcon(details.IconFile);
    if (!wideTarget.ok() || !wideFolder.ok() || !wideDescription.ok() || !wideArguments.ok() || !wideIcon.ok())
        return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    IShellLinkW* link = nullptr;
    HRESULT result = CoCreateInstance(kClsidShellLink, nullptr, CLSCTX_INPROC_SERVER, kIidShellLinkW,
                                      reinterpret_cast<void**>(&link));
    if (FAILED(result))
        return result;
    link->SetPath(wideTarget.c_str());
    link->SetWorkingDirectory(wideFolder.c_str());
    link->SetDescription(wideDescription.c_str());
    if (details.Arguments[0])
        link->SetArguments(wideArguments.c_str());
    if (details.IconFile[0])
        link->SetIconLocation(wideIcon.c_str(), details.IconIndex);
    IPersistStream* persist = nullptr;
    IStream* stream = nullptr;
    result = link->QueryInterface(kIidPersistStream, reinterpret_cast<void**>(&persist));
    if (SUCCEEDED(result))
        result = CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    if (SUCCEEDED(result))
        result = persist->Save(stream, TRUE);
    // The stream's memory may be larger than what was written: its
    // position says how much that was.
    LARGE_INTEGER zero = {};
    ULARGE_INTEGER end = {};
    if (SUCCEEDED(result))
        result = stream->Seek(zero, STREAM_SEEK_CUR, &end);
    if (SUCCEEDED(result) && (end.QuadPart == 0 || end.QuadPart > 1024 * 1024))
        result = E_FAIL;
    HGLOBAL memory = nullptr;
    if (SUCCEEDED(result))
        result = GetHGlobalFromStream(stream, &memory);
    if (SUCCEEDED(result)) {
        DWORD n = static_cast<DWORD>(end.QuadPart);
        void* data = GlobalLock(memory);
        *bytes = data ? malloc(n) : nullptr;
        if (*bytes) {
            memcpy(*bytes, data, n);
            *size = n;
        } else {
            result = E_OUTOFMEMORY;
        }
        if (data)
            GlobalUnlock(memory);
    }
    if (stream)
        stream->Release();
    if (persist)
        persist->Release();
    link->Release();
    return result;
}

HRESULT CreateShellLink(const char* linkPath, const LinkDetails& link)
{
    // A path that does not fit with its terminator is not saved: a cut
    // path would name another file. Nor is a link to a target too long for
    // the link to hold whole.
    if (WideLength(link.Target) >= MAX_PATH || WideLength(linkPath) >= MAX_PATH ||
        WideLength(link.IconFile) >= MAX_PATH)
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    void* bytes = nullptr;
    DWORD size = 0;
    HRESULT result = MakeLinkBytes(link, &bytes, &size);
    if (FAILED(result))
        return result;
    HANDLE file = CreatePreparedFile(SessionJournal, linkPath);
    if (file == INVALID_HANDLE_VALUE) {
        result = HRESULT_FROM_WIN32(GetLastError());
    } else {
        DWORD written = 0;
        if (!WriteFile(file, bytes, size, &written, nullptr) || written != size)
            result = HRESULT_FROM_WIN32(GetLastError() ? GetLastError() : ERROR_WRITE_FAULT);
        CloseHandle(file);
    }
    free(bytes);
    return result;
}

namespace {

const int kFirstLinkString = 5300;
const int kLastLinkString = 5315;
const int kFirstLinkTaskString = 5600; // the task that makes each link, "" for none
const int kLinkFields = 8; // place, name, target, arguments, icon, icon index, description, working folder

bool SpecialFolder(int csidl, char* folder, size_t size)
{
    folder[0] = '\0';
    LPITEMIDLIST list = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &list)) || !list)
        return false;
    char path[kPathBytes];
    BOOL found = SHGetPathFromIDListU(list, path);
    CoTaskMemFree(list);
    return found && path[0] && CopyBounded(folder, size, path);
}

// One link, saved or not, listed; a link of the product's installation in
// the other scope is left as it is.
void MakeLink(const Text& linkPath, const LinkDetails& details)
{
    Text other = OtherScopesLinkFolder(linkPath.c_str());
    if (!other.empty()) {
        LogEvent("link %s leads into the installation in %s, which is %s: left as it is", linkPath.c_str(),
                 other.c_str(), CurrentInstallScope() == SCOPE_USER ? "every user's" : "a user's own");
        return;
    }
    // An existing link is kept aside until the run has succeeded.
    bool prepared = PrepareFileForWriting(SessionJournal, linkPath.c_str());
    bool saved = prepared && SUCCEEDED(CreateShellLink(linkPath.c_str(), details));
    if (prepared && !saved)
        PutBackFile(SessionJournal, linkPath.c_str());
    PassCutPoint();
    LogEvent("link %s %s to %s", linkPath.c_str(), saved ? "leads" : "could NOT be saved, it was", details.Target);
    Context.InstalledFiles.Add(linkPath.c_str());
}

// Makes the Start-menu folder of the product below programs and opens it
// in Explorer, once: a restart follows the common-controls update (no
// window then), and a silent run shows none at all.
Text MakeGroup(const char* programs, bool* opened)
{
    Text group = Joined(programs, "\\{AppCorvane}");
    CreateFolderTree(group.c_str());
    if (!*opened && !Context.UpdateCommonControls && !Context.Silent)
        ShellOpenFolder(nullptr, "open", group.c_str(), nullptr, nullptr, SW_SHOWNOACTIVATE);
    *opened = true;
    return group;
}

// The links the maker listed; false when there are none.
bool CreateMakersLinks(const Text& workingFolder)
{
    if (LoadStringAsText(kFirstLinkString).empty())
        return false;
    bool machine = CurrentInstallScope() == SCOPE_MACHINE;
    bool groupOpened = false;
    for (int id = kFirstLinkString; id <= kLastLinkString; ++id) {
        Text line = LoadStringAsText(id);
        Text f[kLinkFields];
        if (line.empty())
            break;
        if (!TaskChosen(LoadStringAsText(id - kFirstLinkString + kFirstLinkTaskString).c_str()) ||
            !SplitFields(line.c_str(), '\t', f, kLinkFields))
            continue;
        const char* place = f[0].c_str();
        bool menu = strncmp(place, "StartMenu", 9) == 0;
        int csidl = menu ? (machine ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS)
                    : strcmp(place, "Desktop") == 0 ? (machine ? CSIDL_COMMON_DESKTOPDIRECTORY : CSIDL_DESKTOPDIRECTORY)
                                                    : (machine ? CSIDL_COMMON_STARTUP : CSIDL_STARTUP);
        char base[kPathBytes];
        if (!SpecialFolder(csidl, base, sizeof base)) {
            LogEvent("no link %s: the shell names no folder for %s", f[1].c_str(), place);
            continue;
        }
        // A link placed in the folder by somebody is not followed.
        JournalGuardFolder(SessionJournal, base);
        Text folder = strcmp(place, "StartMenu") == 0 ? MakeGroup(base, &groupOpened) : Text(base);
        Text link(folder);
        link.Append('\\');
        link.Append(ExpandEachMacro(f[1].c_str()).c_str());
        link.Append(".lnk");
        Text target(Context.TargetDir);
        target.Append(strcmp(f[2].c_str(), "{Uninstaller}") == 0 ? "UnInstall.exe" : f[2].c_str());
        Text arguments = ExpandEachMacro(f[3].c_str());
        Text icon;
        if (!f[4].empty()) {
            icon = Context.TargetDir;
            icon.Append(f[4].c_str());
        }
        Text description = f[6].empty() ? Expanded("{AppName}") : ExpandEachMacro(f[6].c_str());
        Text working = f[7].empty() ? workingFolder : FolderWithoutBackslash(ExpandEachMacro(f[7].c_str()).c_str());
        LinkDetails details = {target.c_str(), arguments.c_str(), description.c_str(), working.c_str(), icon.c_str(),
                               atoi(f[5].c_str())};
        MakeLink(link, details);
    }
    return true;
}

} // namespace

bool GetProgramsFolder(char* folder, size_t size) { return SpecialFolder(CSIDL_PROGRAMS, folder, size); }

void GetLinkFolders(TextList& folders)
{
    bool machine = CurrentInstallScope() == SCOPE_MACHINE;
    const int csidls[] = {CSIDL_PROGRAMS, machine ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS,
                          machine ? CSIDL_COMMON_DESKTOPDIRECTORY : CSIDL_DESKTOPDIRECTORY,
                          machine ? CSIDL_COMMON_STARTUP : CSIDL_STARTUP};
    for (int csidl : csidls) {
        char folder[kPathBytes];
        if (SpecialFolder(csidl, folder, sizeof folder))
            folders.Add(folder);
    }
}

void CreateShortcuts()
{
    Text workingFolder = FolderWithoutBackslash(Context.TargetDir.c_str());
    AddExtraPaths();
    if (CreateMakersLinks(workingFolder))
        return;

    char programs[kPathBytes];
    // Without the Programs folder the link paths would fall into the root
    // of the current drive; no link is made or listed then.
    if (!GetProgramsFolder(programs, sizeof programs))
        return;
    // The user's own Programs folder: a link placed in it is not followed
    // by the links' writes.
    JournalGuardFolder(SessionJournal, programs);
    bool opened = false;
    MakeGroup(programs, &opened);

    Text appName = Expanded("{AppName}");
    Text helpDescription(appName);
    helpDescription.Append(" Help");

    struct Shortcut {
        Text link;
        Text target;
        const Text* description;
    } shortcuts[] = {
        {Joined(programs, "\\{AppCorvane}\\{AppName}.lnk"), Joined(Context.TargetDir.c_str(), "{ExeName}"),
         &appName},
        {Joined(programs, LoadStringAsText(IDS_HELP_LINK).c_str()),
         Joined(Context.TargetDir.c_str(), "{HelpName}"), &helpDescription},
        {Joined(programs, LoadStringAsText(IDS_UNINSTALL_LINK).c_str()),
         Joined(Context.TargetDir.c_str(), "Uninstall.exe"), &appName},
    };
    // Every link path is listed, saved or not, so that the uninstaller and
    // the clean-up know of it; but not one that the product's installation
    // in the other scope keeps.
    for (const Shortcut& s : shortcuts) {
        // A product without a help file has no help link.
        bool helpLink = &s == &shortcuts[1];
        if (helpLink && (Expanded("{HelpName}").empty() || LoadStringAsText(IDS_HELP_LINK).empty()))
            continue;
        LinkDetails details = {s.target.c_str(), "", s.description->c_str(), workingFolder.c_str(), "", 0};
        MakeLink(s.link, details);
    }
}
