// The uninstaller's removal logic: its settings file and arguments, the
// list of installed files in the registry, the deletion of files and of the
// folders they leave empty, the product's registry entries, and the removal
// of the uninstaller's own file once it has ended. The dialogs live in
// main.cpp; everything here runs the same with or without them.
//
// The uninstaller stands beside the setup program's top floor: it uses the
// rollback unit (its run lock and recovery) and the core's texts and path
// rules, never the installer context, the engine or the wizard.
#pragma once

#include <windows.h>

#include "rollback/rollback.h"
#include "setup/languages.h"
#include "setup/text.h"

// Exit codes of UnInstall.exe, for administrators running it with /S:
// those of the setup program (and of Windows Installer) where the meaning
// is the same, so that deployment tools read both alike.
enum UninstallExitCode {
    UNINSTALL_DONE = 0,                // removed, or the repair was started
    UNINSTALL_FILES_LEFT = 1,          // removed, but some listed files are still there
    UNINSTALL_CANCELLED = 1602,        // the user chose not to remove anything
    UNINSTALL_SETTINGS_MISSING = 1603, // "UnInstall.ini" missing or damaged: nothing removed
    UNINSTALL_LIST_MISSING = 1603,     // the "\Files" list is missing: nothing removed
    UNINSTALL_REPAIR_FAILED = 1603,    // the setup program could not be started
    UNINSTALL_OTHER_FOLDER = 1603,     // the product is registered in another folder: nothing removed
    UNINSTALL_SETUP_RUNNING = 1618,    // a setup of the product is running: nothing removed
    UNINSTALL_OTHER_PRODUCT = 1603,    // the command line names another product: nothing removed
    UNINSTALL_RESTART_NEEDED = 3010,   // removed; a file still in use goes when Windows restarts
};

// ---------------------------------------------------------------------------
// Command line and settings.

// What the command line asks for. Arguments are blank-separated; a quoted
// argument may hold blanks. "/S" (any case) as a whole argument asks for a
// silent removal; the first two other arguments are the product name and
// the program file name. "/finish <handle> <path> [user]" is the internal
// start of the temporary copy that deletes the uninstaller's own file (of
// a per-user installation with "user").
struct CommandLine {
    bool Silent;
    bool Finish;
    Text ProductName;
    Text ExeName;
    Text FinishHandle;
    Text FinishPath;
    bool FinishPerUser; // "/finish <handle> <path> user ...": the copy of a per-user uninstaller
    Text FinishMaker;   // "/finish <handle> <path> <scope> <maker> <product>": whose journal
    Text FinishProduct; // the copy finishes once the program is gone
};
void ParseCommandLine(const char* arguments, CommandLine& out);

// Splits "\"Corvane GlyphForge\" \"GlyphForge.exe\"" (the "args" key) into
// its two names. False when either is missing or not a plain name.
bool ParseNameArguments(const char* text, Text& productName, Text& exeName);

// A product or program file name that may be joined into a registry key:
// not empty, at most 200 characters, no backslash, no control character.
bool IsPlainName(const char* name);

// The contents of "UnInstall.ini" in the uninstaller's folder.
struct UninstallSettings {
    Text Folder;        // the uninstaller's folder, ending with a backslash
    Text ProductName;   // from "args"
    Text ExeName;       // from "args"
    Text RepairProgram; // "repair": the setup program that made the installation
    Text ArchivistFolder; // "archivist": the sibling product's folder at install time; may be empty
    Text MakerName;     // "maker": the maker's registry key and setup folder
    Text SiblingName;   // "sibling": the sibling product's name; empty when the product has none
    Text Version;       // "version": the version installed
    bool PerUser;       // "scope" is "user": the installation is the user's alone, in the user's hive and folders
    bool SixtyFourBit;  // "architecture" is "x64": the product's keys are in the registry's 64-bit view
    Text Language;      // "language": the installation's code ("de", "fr"); empty when not recorded
};
// Reads folder + "UnInstall.ini". False when the file is missing or its
// "args" or "maker" key is missing or damaged, or its "scope" is neither
// "machine" nor "user"; "repair", "archivist", "sibling", "version" and
// "scope" may be empty (no scope: every user's installation).
bool ReadUninstallSettings(const char* folder, UninstallSettings& out);
// The longest value of "UnInstall.ini" read whole; a longer one is cut
// there by the reader.
const size_t kMaxSettingLength = 1023;
// The values of "UnInstall.ini" that the uninstaller reads, in the order of
// UninstallValues.Value.
enum UninstallValue {
    UNINSTALL_ARGS,
    UNINSTALL_MAKER,
    UNINSTALL_SIBLING,
    UNINSTALL_VERSION,
    UNINSTALL_SCOPE,
    UNINSTALL_REPAIR,
    UNINSTALL_ARCHIVIST,
    UNINSTALL_ARCHITECTURE,
    UNINSTALL_LANGUAGE,
    UNINSTALL_VALUE_COUNT
};
// Their key names in the [uninstall] section.
extern const char* const kUninstallValueNames[UNINSTALL_VALUE_COUNT];
struct UninstallValues {
    const char* Value[UNINSTALL_VALUE_COUNT];
};
// The values as the profile reader gives them (enclosing quotes dropped,
// empty when missing), checked and taken into out (all but Folder). False
// when "args" is empty, was cut, or does not hold two plain names, when
// "maker" is not a plain name, or when "scope" is neither "machine" nor
// "user" (an empty scope is every user's, as installations were before
// there were scopes), or when "architecture" is neither empty, "x86" nor
// "x64". A "repair" longer than a path is taken as empty, an
// "archivist" that is not a plain full path too, a "sibling" that is not a
// plain name too.
bool TakeUninstallSettings(const UninstallValues& values, UninstallSettings& out);

// ---------------------------------------------------------------------------
// The product key, "SOFTWARE\<maker>\<product>".
Text ProductKeyOf(const char* makerName, const char* productName);
// The list of installed files under "SOFTWARE\<maker>\<product>\Files" in the
// installation scope's hive (HKLM, or HKCU for a per-user installation).
// Every value named "File" followed by digits is taken, in the order of its
// number. False when the key is missing or holds no such value.
bool ReadInstalledFileList(const char* makerName, const char* productName, TextList& files);

// A listed path the uninstaller may act on: a full path on a drive
// ("C:\...") or a share ("\\server\share\..."), shorter than MAX_PATH,
// without wildcards, stream names, "." or ".." parts, and not the root of
// a volume; for a per-user installation, none in a machine-wide folder.
bool IsRemovablePath(const char* path);

// True when the product's key names folder as its "InstallDir" (long
// names compared without regard to case): the installation this
// uninstaller belongs to is the one registered. installDir receives the
// registered folder, empty when there is none.
bool IsRegisteredInstallation(const char* makerName, const char* productName, const char* folder,
                              Text& installDir);

// The copy of the setup program kept for repairs: "setup.exe" in the
// product's administrators-only folder under the common application data.
// Empty when that folder is not there or not administrators-only.
Text KeptRepairCopy(const char* makerName, const char* productName);
// True when program is that copy and it exists: the only program Repair
// starts.
bool IsKeptRepairCopy(const char* makerName, const char* productName, const char* program);

// True when path is folder itself or lies below it (case-insensitive).
bool IsUnderFolder(const char* path, const char* folder);

// The sibling product's folder as the setup computes it: HKCU
// "SOFTWARE\<maker>\folders" "ArchivistLocation", else the user's
// Documents folder + siblingFolder, ending with a backslash.
Text GetArchivistFolder(const char* makerName, const char* siblingFolder);

// Folders no removal ever takes away even when empty: the system's and the
// user's standard folders (Windows, Program Files, Common Files, Start
// menu and Programs, Documents, Desktop, application data and the user's
// programs' folder in it, the temporary folder) and the sibling product's
// folder (archivistFolder, when there is one). Volume roots are refused
// separately.
void CollectProtectedFolders(TextList& out, const char* archivistFolder);
bool IsProtectedFolder(const char* folder, const TextList& protectedFolders);

// Removes folder and then each parent that is left empty, stopping at the
// first folder that still holds anything, is protected or is a volume
// root. Returns the number of folders removed.
int RemoveEmptyFolders(const char* folder, const TextList& protectedFolders);

// ---------------------------------------------------------------------------
// Removal of the listed files.

// Asked when a file cannot be taken away (in use, or access denied):
// returns IDRETRY to try again, IDIGNORE to leave the file, IDCANCEL to
// stop and keep the whole product.
typedef int (*FileInUseHandler)(const char* path, void* context);

struct RemovalReport {
    TextList LeftFiles;      // listed files still there: in use, ignored, or not a usable path
    TextList SiblingFiles;   // listed files of the sibling product, left on purpose
    int RemovedFiles;
    RemovalReport() : RemovedFiles(0) {}
};

struct RemovalOptions {
    RunJournal* Journal = nullptr;              // the removal's session: every change goes through it
    const char* ArchivistFolder = nullptr;      // files below it are left in place
    const char* OwnProgram = nullptr;           // the running uninstaller: removed last, by the copy
    const TextList* ProtectedFolders = nullptr; // never removed, even when empty
    FileInUseHandler InUse = nullptr;           // null: the file is left at once
    void* InUseContext = nullptr;
};

// Takes exactly the listed files away (read-only ones too): each is moved
// aside within its folder and recorded in the journal, deleted at its
// commit; the folders listed and every folder this may leave empty are
// recorded for the commit to remove when they are empty. Nothing through
// a link below a guarded folder. A file that no longer exists counts as
// removed. False when the user cancelled at a file in use: the caller
// rolls the journal back and the product is whole again.
bool RemoveListedFiles(const TextList& files, const RemovalOptions& options, RemovalReport& report);

// The whole removal of the installation that settings describe, as one
// transaction of options.Journal: its folder and the Programs folders
// guarded against links, the listed files taken away, the registration
// and the kept repair copy removed, the settings file and options'
// OwnProgram deleted at the commit, then the commit. False when the user
// cancelled at a file in use: everything is rolled back then, and the
// product is whole.
bool RemoveInstallation(const UninstallSettings& settings, const TextList& files, const RemovalOptions& options,
                        RemovalReport& report);

// Deletes one file, clearing its read-only attribute first; the attributes
// come back when it cannot be deleted. Returns ERROR_SUCCESS, or the error
// of DeleteFileA (ERROR_FILE_NOT_FOUND counts as success).
DWORD DeleteOneFile(const char* path);

// ---------------------------------------------------------------------------
// The product's own registry values that the settings file in folder
// lists, each given back to what was there before the product (a value
// that another program had set stays that program's), and its folders
// taken out of the PATH, recorded in journal. True when it listed PATH
// folders; *fileTypes when it listed file types.
bool GiveBackProductValues(RunJournal& journal, const char* folder, bool* fileTypes);
// Registry entries the setup wrote: the product key with its "\Files" list,
// the uninstall entry, and the application path entry when it still points
// into installDir (another installation of the same program keeps its
// own). The maker's key and its other products are left alone.
// Every deletion goes through the journal, so that a rollback restores it.
void RemoveProductRegistration(RunJournal& journal, const char* makerName, const char* productName,
                               const char* exeName, const char* installDir);

// ---------------------------------------------------------------------------
// The uninstaller's own file. A running program cannot delete its file:
// the removal's commit moves it aside within its folder (JournalCommit
// with finishLater keeps the journal for it), and StartSelfRemoval copies
// the program from there into a private folder and starts the copy with
// "/finish"; the copy waits for this process to end, finishes the journal
// (the aside file deleted, the folders that leaves empty removed) and has
// itself deleted at the next restart (a per-user copy, which has no right
// to that, stays in the user's temporary folder). program is where the
// running program's file is now. False when the copy could not be
// started.
bool StartSelfRemoval(const char* makerName, const char* productName, const char* program);

// The copy's side: holds the product's finishing marker, waits for the
// process behind handleText and for its program's file to be let go, then
// finishes the journal of the maker's product under its run lock. It
// deletes no file by the name an installation gives it: only programPath,
// when that is an aside name, once the journal is finished. Returns true
// when programPath is gone.
bool FinishSelfRemoval(const char* handleText, const char* programPath, const char* makerName,
                       const char* productName);

// Small helpers.
// Reads one REG_SZ value into buffer (size bytes); false when it is
// missing, not a string or does not fit.
bool ReadStringValue(HKEY root, const char* subkey, const char* name, char* buffer, DWORD size);
void StripTrailingBackslash(char* path);
// The folder of a path, with its trailing backslash ("C:\A\b.txt" -> "C:\A\").
Text FolderOf(const char* path);

// ---------------------------------------------------------------------------
// Texts, in one of the languages this program carries (setup/languages.h).

// The language to speak: the user's display language when this program
// carries it (itself or its primary language), else the installation's
// (its code from UnInstall.ini, when recorded and carried), else English.
LANGID ChooseUninstallLanguage(const LanguageList& carried, LANGID display, const char* installation);
// What this program carries, and the language spoken: set at start from
// the display language, and again once UnInstall.ini is read.
extern LanguageList UninstallLanguages;
extern LANGID UninstallLanguage;
// String id of this program's table in the language spoken.
Text LoadUninstallText(int id);
// A modal dialog of this program's in the language spoken, as
// DialogBoxParam opens it.
INT_PTR UninstallDialog(int templateId, DLGPROC procedure, LPARAM parameter);
// The closing message: removed, then the files that were left (at most
// kListedFilesShown of them by name), the folder that was kept because it
// still holds other files (keptFolder, may be empty) and the sibling
// product's files left in place (siblingName's, in archivistFolder).
const size_t kListedFilesShown = 12;
Text ComposeSummary(const char* productName, const RemovalReport& report, const char* siblingName,
                    const char* archivistFolder, const char* keptFolder);
