// System registration: registry entries and the uninstaller, shortcuts and
// Start-menu entries, and the common-controls update. Uses the core and
// the rollback unit (every change is recorded); no engine, no window.
#pragma once

#include <windows.h>

#include "setup/setup.h"

// Registry entries and uninstaller files, written after a successful
// extraction (and after the shortcuts, so that the link files are listed),
// in the scope's hive (HKEY_CURRENT_USER for a per-user product).
// The product key with "InstallDir" and the "\Files" list (not in repair
// mode), the application path entry and the uninstall entry with its
// icon, version, publisher, web address, folder, quiet command, "Change"
// command and "NoRepair".
void RegisterProduct();
// The product's own registry values (strings 5100 on), each through the
// run's journal, and their records for the settings file; what the
// earlier installation declared and this one does not is given back as it
// was before the product. Before RemoveDroppedFiles, which may take the
// earlier settings file away.
void RegisterProductValues();
// The settings file of the installation this run replaces (or repairs),
// as long as it is there; empty when there is none.
Text EarlierSettingsFile();
// "UnInstall.exe" from the "UNINSTALL" container and "UnInstall.ini"
// ("args" then "repair", ..., and "scope" for a per-user product; the
// product values' records in its [registry] section) in TargetDir.
void WriteUninstaller();
// "EstimatedSize" of the uninstall entry, a number of kilobytes (rounded
// up): the listed files in TargetDir with the uninstaller and its
// settings file. After WriteUninstaller.
void RegisterInstalledSize();

// An earlier installation of the product (earlier_installation.cpp).
// Fills EarlierDir and EarlierVersion from the product key: an
// installation is there when its "InstallDir" names an existing folder.
void FindEarlierInstallation();
// True when that installation is the product's other build (the 32-bit
// one, which a 64-bit build replaces): its keys are in the other view, and
// its folder is not offered.
bool EarlierIsOtherBuild();
// For the other build: its keys (the product key, the uninstall entry and
// application path, count of them) go from its view, and so does the
// maker's key there when that leaves it empty; journaled.
void RemoveOtherBuildsRegistration(const char* const* keys, size_t count);
enum RunKind { RUN_FIRST_INSTALL, RUN_REINSTALL, RUN_UPGRADE, RUN_DOWNGRADE };
// This setup's version against the earlier installation's, compared part
// by part as numbers.
RunKind ClassifyRun();
// After the extraction, before RegisterProduct replaces the list: every
// file the earlier "\Files" list names below the earlier folder (and every
// link of it in the Start menu) that this run does not carry again is
// moved aside for the commit to delete; a product that moves to another
// folder also leaves the earlier folder's uninstaller behind. The folders
// this empties go at the commit. Nothing in repair mode.
void RemoveDroppedFiles();
// The files the earlier installation's "\Files" list names, as it wrote
// them.
void ReadEarlierInstalledFiles(TextList& files);

// Shortcuts: the extra paths 900+, and the maker's links (strings 5300
// on: in the product's Start-menu folder, at the top of the Start menu, on
// the desktop, in the startup folder; every user's folders for a product
// for every user) or, for a product that lists none, the application,
// help and uninstall links in the user's Start-menu folder of the
// product. Every link path is appended to InstalledFiles whether or not it
// was saved; an existing link that leads into the product's installation
// in the other scope is that installation's, and is neither replaced nor
// listed.
void CreateShortcuts();
// The Start menu's Programs folder of the current user; false when the
// shell cannot name it.
bool GetProgramsFolder(char* folder, size_t size);
// What a link holds: its target, the arguments, the description, the
// working folder and the icon ("" for the target's own).
struct LinkDetails {
    const char* Target;
    const char* Arguments;
    const char* Description;
    const char* WorkingFolder;
    const char* IconFile;
    int IconIndex;
};
// One link file: the shell link object writes the link's bytes into
// memory, and the run writes them into a new file at linkPath through a
// handle it checked itself (CreatePreparedFile), never through a path the
// link object opens. The HRESULT of the first step that failed (a link
// path longer than MAX_PATH - 1 characters is refused, never saved
// truncated).
HRESULT CreateShellLink(const char* linkPath, const LinkDetails& link);
// The bytes of a link (malloc'd, the caller frees them).
typedef HRESULT (*LinkBytesFunction)(const LinkDetails& link, void** bytes, DWORD* size);
// How CreateShellLink makes them: through the shell's link object, unless
// a test keeps the bytes of links it has seen made.
extern LinkBytesFunction MakeLinkBytes;
HRESULT ShellLinkBytes(const LinkDetails& link, void** bytes, DWORD* size);
// The folders the product's links may lie in, in the scope's kind (the
// Programs folder, the desktop and the startup folder: every user's for a
// product for every user, the user's own otherwise, and the user's
// Programs folder, where the three links of a product without [Links] go,
// in either): what an upgrade looks in for the links it drops.
void GetLinkFolders(TextList& folders);
// A folder without its trailing backslash, except that a drive root keeps
// it ("C:\Tools\App\" gives "C:\Tools\App", "C:\" stays "C:\"): the links'
// working folder and the application path's "Path".
Text FolderWithoutBackslash(const char* folder);
// How CreateShortcuts opens the group folder in Explorer: ShellExecuteA
// until the program's start puts the desktop shell's way here (or a test
// a recorder).
extern ShellOpenFunction ShellOpenFolder;

// Common-controls update. ReadComctlVersion fills ComctlVersion on its
// first successful call and returns ComctlVersionState (-1 not read, 1
// read); ComctlIsCurrent is 1 from version 4.72 on; UnpackComctlUpdate
// writes "40comupd.exe" into the temporary folder and its path into
// outPath (kPathBytes bytes), 0 and nothing left behind on failure.
int ReadComctlVersion();
int ComctlIsCurrent();
int UnpackComctlUpdate(char* outPath);
