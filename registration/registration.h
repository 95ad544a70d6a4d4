// System registration: registry entries and the uninstaller, shortcuts and
// Start-menu entries, the common-controls update, and the clean-up at the end.
#pragma once

#include <windows.h>

#include "setup/setup.h"

// Clean-up at the end of the process: staged cabinets always, and every
// change of the session that was not committed (a cancelled or failed
// run) undone through the journal.
void CleanupAfterFailure();
int RemoveFileAndEmptyFolders(const char* path);
// Removes folder and each parent that becomes empty, never a drive root.
void RemoveEmptyFolders(const char* folder);
// Deletes an existing file that is not a folder, read-only or not.
BOOL DeleteExistingFile(const char* path);

// Registry entries and uninstaller files, written after a successful
// extraction (and after the shortcuts, so that the link files are listed).
// Stores one REG_SZ value (length without the NUL) under root\subkey,
// creating the key when needed. True when the value was stored.
bool SetRegistryString(HKEY root, const char* subkey, const char* valueName, const char* data);
// The product key with "InstallDir" and the "\Files" list (not in repair
// mode), the application path entry and the uninstall entry with its
// icon, version, publisher, web address, folder, quiet command, "Change"
// command and "NoRepair".
void RegisterProduct();
// "UnInstall.exe" from the "UNINSTALL" container and "UnInstall.ini"
// ("args" then "repair") in TargetDir.
void WriteUninstaller();
// "EstimatedSize" of the uninstall entry, a number of kilobytes (rounded
// up): the listed files in TargetDir with the uninstaller and its
// settings file. After WriteUninstaller.
void RegisterInstalledSize();

// Shortcuts: the maker's Start-menu folder, the extra paths 900+ and the
// application, help and uninstall links, every link path appended to
// InstalledFiles whether or not it was saved.
void CreateShortcuts();
// One link file through the shell link object. The HRESULT of the save, or
// of the first step that failed (a link path longer than MAX_PATH - 1
// characters is refused, never saved truncated).
HRESULT CreateShellLink(const char* linkPath, const char* targetPath, const char* description,
                        const char* workingFolder);
// A folder without its trailing backslash, except that a drive root keeps
// it ("C:\Tools\App\" gives "C:\Tools\App", "C:\" stays "C:\"): the links'
// working folder and the application path's "Path".
Text FolderWithoutBackslash(const char* folder);
// How CreateShortcuts opens the group folder in Explorer; ShellExecuteA
// unless a test puts a recorder in its place.
typedef HINSTANCE(WINAPI* ShellOpenFunction)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);
extern ShellOpenFunction ShellOpenFolder;

// Common-controls update. ReadComctlVersion fills ComctlVersion on its
// first successful call and returns ComctlVersionState (-1 not read, 1
// read); ComctlIsCurrent is 1 from version 4.72 on; UnpackComctlUpdate
// writes "40comupd.exe" into the temporary folder and its path into
// outPath (260 characters), 0 and nothing left behind on failure.
int ReadComctlVersion();
int ComctlIsCurrent();
int UnpackComctlUpdate(char* outPath);
