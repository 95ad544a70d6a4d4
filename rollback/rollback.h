// Changes a run can undo, and the journal that records them.
//
// Every change an installation run makes to the machine goes through this
// unit: a folder created, a file created where there was none, an existing
// file moved aside (renamed within its own folder) before it is replaced or
// deleted, a temporary file, a registry key created or a value replaced.
// Each change is recorded in the run's journal before it is made. Rolling
// back undoes the records from the last to the first and puts every moved
// file back as it was; committing deletes what was moved aside. The journal
// is also kept as a file in a folder that only administrators can write,
// so that a run that never ended (killed, power cut, log-off) is undone the
// next time the setup program or the uninstaller of the product starts.
// Both programs link this unit. It stands on the core's texts and path
// rules only, never on the installer context, and inside it the journal
// (journal.cpp, recovery.cpp) uses the changes (file_changes.cpp) and the
// administrators-only folders (admin_folder.cpp), never the other way
// round; all of them follow the installation's scope (scope.cpp).
#pragma once

#include <windows.h>

#include "setup/paths.h"
#include "setup/registry_view.h"
#include "setup/text.h"

// ---------------------------------------------------------------------------
// The installation's scope (scope.cpp). A product is installed for every
// user of the machine or for the installing user alone; a process works in
// one scope, which the setup program reads from its own resources and the
// uninstaller from its settings file before either changes anything. In
// the user's scope the product's registry entries go under
// HKEY_CURRENT_USER, the private folders (journal, repair copy, working
// folders) under the user's local application data and private to that
// user, and nothing machine-wide is changed, undone or recovered.
enum InstallScope {
    SCOPE_MACHINE = 0, // the machine's hive and folders, administrator rights: as it always was
    SCOPE_USER,        // the user's hive and folders, no administrator rights
};
// Sets the process's scope; the user's scope also learns the account and
// the machine-wide folders, once.
void SetInstallScope(InstallScope scope);
InstallScope CurrentInstallScope();
// "machine" or "user", as the settings file and the log say it.
const char* InstallScopeName(InstallScope scope);
// The scope a name gives ("machine" or empty, "user", in any letter case);
// false for anything else.
bool InstallScopeFromName(const char* name, InstallScope* scope);
// The hive of the product key, its list, the uninstall entry and the
// application path: HKEY_LOCAL_MACHINE, or HKEY_CURRENT_USER for the user.
HKEY ScopeRegistryRoot();
// True when the scope may change a value under root: either hive for the
// machine, the user's own hive alone for the user.
bool IsRootOfScope(HKEY root);
// True when path lies in a folder all users share (Windows, the programs'
// folders, the common application data, the all-users Start menu and
// desktop), also when written with short names.
bool IsMachineWidePath(const char* path);
// True when the scope may change path: anything for the machine, nothing
// machine-wide for the user.
bool IsPathOfScope(const char* path);
// The account this process runs as: its SID as text ("" when unknown), and
// whether sid is it.
const char* CurrentUserSidText();
bool IsCurrentUserSid(PSID sid);
// What the run lock's name carries after the product's: nothing for the
// machine (one run of a product on the machine at a time), " for <SID>"
// for the user (one run at a time per user; other users' runs of their own
// installations are not held up).
const char* ScopeRunLockSuffix();
// A named mutex for the run lock; in the user's scope its access list lets
// the user's tokens in, elevated or not, and nobody else.
HANDLE CreateScopeMutex(const char* name);

// The folders below which nothing goes through a link, each with the final
// path it had when the session first found it there (every link, short
// name and mapped drive resolved once): a check compares with that, so that
// the folder itself swapped for a link later leads nowhere the run goes.
struct GuardedFolders {
    size_t Count() const { return Folders.Count(); }
    const char* At(size_t i) const { return Folders.At(i); }
    // "" while the folder was not there yet: it is resolved at each check.
    const char* FinalAt(size_t i) const { return i < kMostKnown ? Finals[i].c_str() : ""; }

    static const size_t kMostKnown = 16;
    TextList Folders;
    Text Finals[kMostKnown];
    // Finals are learnt while the extraction's helper checks its changes
    // against them: each is read and written under this lock.
    mutable SRWLOCK FinalsLock = SRWLOCK_INIT;
};

// ---------------------------------------------------------------------------
// The record of one session of a product's setup program: its changes in
// order, and the file that mirrors them.
struct RunJournal {
    RunJournal();
    ~RunJournal();
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    Text MakerName;       // names the maker's setup folder, the run lock and the journal's header
    Text ProductName;     // names the journal's folder; empty: memory only
    HANDLE Lock;          // the product's run lock, held for the whole session
    HANDLE File;          // the journal on disk, INVALID_HANDLE_VALUE until the first record
    bool Unflushed;       // records written to File since it was last put on the disk
    bool FileRefused;     // no trusted place for the file: the journal stays in memory
    bool Finishing;       // a removal's copy finishing the removal: never waits for itself
    TextList Records;     // every record still to be undone, oldest first
    GuardedFolders Guarded; // folders below which nothing goes through a link
    DWORD RunId;          // random, part of the names of moved-aside files
    unsigned long Asides; // moved-aside files named so far
    // The files this session moved aside, each one's handle kept open (by
    // the number in its aside name; null where none is), so that the
    // commit deletes it through its handle instead of opening and checking
    // its path again. Under Guard.
    HANDLE* KeptAsides;
    unsigned long KeptCount;
    // Files the commit could not delete because they were in use (the
    // running uninstaller), each moved aside for whoever finishes the
    // journal: their paths, and the aside names they went to.
    TextList LeftForLater;
    TextList LeftAsides;
    // Files the commit found still in use, deleted at the next restart
    // (a replaced program that is running): the restart completes the run.
    TextList WaitingForRestart;
    // The same in a per-user run, which may not ask for the restart: the
    // old copies' aside names, listed in the user's private folder for the
    // product's next setup or uninstaller (FinishFilesInUse).
    TextList LeftInUse;
    // Records may come from a worker thread that a cancel left finishing
    // while the interface thread goes on: one at a time.
    CRITICAL_SECTION Guard;
    // Told in a line of text of every change as it is made, undone or
    // committed (the setup's log); null when nobody listens. Called from
    // whichever thread makes the change.
    void (*Observer)(const char* event);
};

// The journal of this program's own session: the setup program and the
// uninstaller each run one session at a time, and every change the setup
// makes goes through this one.
extern RunJournal SessionJournal;

// ---------------------------------------------------------------------------
// The session.

// What JournalStartSession found of an earlier run of the product.
enum JournalRecovery {
    JOURNAL_NOTHING_FOUND = 0,
    JOURNAL_ROLLED_BACK,   // an unfinished run was undone
    JOURNAL_COMPLETED,     // a run that had succeeded was tidied up (its moved-aside files deleted)
};

enum JournalStart {
    JOURNAL_STARTED = 0,
    JOURNAL_BUSY,          // another setup program or uninstaller of the product is running
};

// Starts a session for the maker's product: takes the product's run lock
// (held until JournalEndSession) and finishes whatever an earlier run left
// in the product's journal, reporting it in *recovered. The setup program
// and the uninstaller call it before they change anything.
JournalStart JournalStartSession(RunJournal& journal, const char* makerName, const char* productName,
                                 JournalRecovery* recovered);
// Ends the session: whatever is still recorded is rolled back, the journal
// file is deleted and the run lock released.
void JournalEndSession(RunJournal& journal);

// True while the journal holds changes that a rollback would undo (other
// than folders created).
bool JournalHasRunChanges(const RunJournal& journal);

// Undoes the recorded changes, last first. keepFolders leaves the folders
// the session created (and their records) for a later run of the same
// session; the end of the session removes them. Returns the number of
// changes that could not be undone (a moved file then stays under its
// aside name, never lost).
int JournalRollBack(RunJournal& journal, bool keepFolders);
// The run succeeded: the moved-aside files are deleted (or, when still in
// use, left to the next restart), temporary files deleted, folders the
// session created that stayed empty removed, and the journal emptied.
// With finishLater, a file to delete at the commit that is still in use
// (the running uninstaller) is moved aside within its folder and keeps the
// committed journal on the disk: the next session of the product deletes
// it under that aside name, never under its own name, which a new
// installation may have taken by then (LeftForLater and LeftAsides say
// where each went). Without finishLater it stays listed.
void JournalCommit(RunJournal& journal, bool finishLater = false);

// The marker of a removal's copy at work: held from the copy's start until
// it has finished the removal's journal, so that a session of the product
// that starts meanwhile waits for the run lock instead of reporting another
// run (TakeRunLock). Null when no marker could be made.
HANDLE HoldFinishingMarker(const char* makerName, const char* productName);
void ReleaseFinishingMarker(HANDLE marker);

// ---------------------------------------------------------------------------
// Links. A user who can write into a folder the elevated program works in
// could put a junction or symbolic link there, so that a write or delete
// lands in System32. Below a guarded folder no change, and no undoing of
// one, goes through a link (any reparse point): it fails with
// ERROR_CANT_ACCESS_FILE and nothing behind the link is touched. A change
// is made through a handle whose final path was checked, so that a folder
// swapped for a link after the look finds no change let through either.

// True when a part of path below root (root excluded, path's last part
// included) is a reparse point. False for a path that is not below root.
bool CrossesLinkBelow(const char* path, const char* root);
// Guards folder for the rest of the session (recorded, so that a recovery
// guards it too), with the final path it has now when it is there; one made
// later by the run gets its final path then. Both are recorded, so that a
// recovery compares with what the run found, not with what is there then.
void JournalGuardFolder(RunJournal& journal, const char* folder);
// True when path lies below a guarded folder through a link.
bool IsBehindLink(RunJournal& journal, const char* path);
// Removes an empty folder through a handle checked to be at folder below
// the guarded folders; false when it is not empty, not there, or elsewhere.
bool RemoveFolderAt(const GuardedFolders& guarded, const char* folder);

// ---------------------------------------------------------------------------
// Changes, each recorded before it is made.

// Records a folder the run has just made itself (one whose name could not
// be known before), so that the end of the run removes it.
void RecordCreatedFolder(RunJournal& journal, const char* folder);
// Creates one folder (its parent must exist). Already there: true, nothing
// recorded.
bool RecordedCreateFolder(RunJournal& journal, const char* folder);
// Makes path free for a new file: an existing file is moved aside, nothing
// there is recorded as a file this run creates. False when an existing
// file cannot be moved (in use without delete sharing, access denied), is
// read-only and replaceReadOnly is false, or path names a folder;
// GetLastError tells why and nothing has changed.
bool PrepareFileForWriting(RunJournal& journal, const char* path, bool replaceReadOnly = true);
// The handle kept open of the file moved to aside (null when none is), no
// longer kept; and every such handle closed (before a rollback puts the
// files back, and after a commit).
HANDLE TakeKeptAside(RunJournal& journal, const char* aside);
void ReleaseKeptAsides(RunJournal& journal);
// True (GetLastError tells why) when a change at path would go through a
// link below a guarded folder, or is one a per-user installation may not
// make (a machine-wide folder). The records ahead below leave this look to
// their caller, who makes it once for a folder and its files.
bool RefuseLink(RunJournal& journal, const char* path);
// The creation of a folder that is not there, recorded ahead of the
// files it will hold without a flush; RecordedCreateFolder makes it later
// without a second record. Always true: the return is for
// CreateFolderTree's walk.
bool RecordFolderAhead(RunJournal& journal, const char* folder);
// The creation of a file that was not there when looked at, recorded
// ahead of time without a flush, as the move below. A file that arrives
// at path before it is created is moved aside as any other (its record
// later than this one): a rollback puts it back and leaves it.
void RecordNewFile(RunJournal& journal, const char* path);
// The move aside of an existing file recorded ahead of time, for a batch
// of files whose records reach the disk with one flush: writes the record
// (its aside name to aside) without a flush. False when the aside name
// does not fit.
bool RecordMoveAside(RunJournal& journal, const char* path, char* aside, size_t size);
// Performs a move so recorded, its record on the disk first. False when
// the file cannot be moved (GetLastError tells why): the record stays,
// and means nothing to a rollback, which finds no file under the aside
// name.
bool MoveRecordedAside(RunJournal& journal, const char* path, const char* aside);
// Sets a file's attributes through a handle opened for writing, so that
// they land on the file that was written whatever its path leads to now.
bool SetAttributesThrough(HANDLE file, DWORD attributes);
// Puts the records written since the last flush on the disk; called right
// before a change that goes by path instead of through CreatePreparedFile,
// which does it itself. After a power cut no change is found without its
// record, and records written together cost one flush.
void MakeRecordsDurable(RunJournal& journal);
// Creates the file that PrepareFileForWriting made room for, for writing,
// through a handle checked to be at path: INVALID_HANDLE_VALUE with
// ERROR_CANT_ACCESS_FILE when a folder below a guarded one was swapped for
// a link meanwhile (what was created there is gone again).
HANDLE CreatePreparedFile(RunJournal& journal, const char* path);
// For a file that a program holds without delete sharing: creates its new
// version beside it under an aside name (written to beside), recorded so
// that a rollback deletes it and the commit has it put in place at the
// next restart. Every user's installation only: a per-user run cannot
// replace at restart. INVALID_HANDLE_VALUE as CreatePreparedFile.
HANDLE CreateFileBesideHeld(RunJournal& journal, const char* path, char* beside, size_t size);
// Undoes the last PrepareFileForWriting of path when the new file could
// not be written after all: whatever is at path goes, the moved file
// comes back.
void PutBackFile(RunJournal& journal, const char* path);
// The same after CreatePreparedFile made the file and writing it failed:
// the file it made goes first (through a checked handle).
void DiscardCreatedFile(RunJournal& journal, const char* path);
// Deletes the old copies that an earlier per-user run left in use (its
// list in the private folder), those that can be deleted now; the others
// stay listed. Done at every session's start, and by the uninstaller once
// it has closed the product's programs.
void FinishFilesInUse(RunJournal& journal);
// Moves an existing file aside without putting anything in its place (a
// deletion that a rollback can undo). True when nothing is left at path.
bool MoveFileAsideForDeletion(RunJournal& journal, const char* path);
// True when path's file name is one the journal gives a file it moves
// aside ("~RB" and hexadecimal digits, ".tmp").
bool IsAsideName(const char* path);
// A temporary file of the run, deleted at the end either way.
void RecordTemporaryFile(RunJournal& journal, const char* path);
// A folder that the run's deletions may leave empty (an earlier version's
// folder, say): removed at the run's commit when nothing is left in it,
// never by a rollback, which brings its files back.
void RecordFolderToRemoveIfEmpty(RunJournal& journal, const char* folder);

// A file the run takes away only once it has succeeded (the running
// uninstaller, its settings file): deleted at the commit, when it can be,
// and left as it is by a rollback.
void RecordFileToDeleteAtCommit(RunJournal& journal, const char* path);

// Stores a registry value, creating its key: the key's missing levels and
// the value's earlier state are recorded first. A value there already that
// is too large to record (over a megabyte) is left as it is: false, and
// the observer is told.
bool RecordedSetRegistryValue(RunJournal& journal, HKEY root, const char* key, const char* name, DWORD type,
                              const void* data, DWORD size);
// Deletes every value of key whose name starts with prefix (all of them
// for an empty prefix), each recorded so that a rollback restores it. A
// value too large to record (over a megabyte) stays, and the observer is
// told; false then (and when the key cannot be read), true when every
// such value is gone.
bool RecordedDeleteRegistryValues(RunJournal& journal, HKEY root, const char* key, const char* prefix);
// Deletes one value of key, recorded first. True when it is gone (or
// never was); false when it is there still (too large to record, access
// denied).
bool RecordedDeleteRegistryValue(RunJournal& journal, HKEY root, const char* key, const char* name);
// Deletes key with its subkeys and values, each value's data and each key
// recorded first so that a rollback puts them all back. True when the key
// is gone (or never was).
bool RecordedDeleteRegistryTree(RunJournal& journal, HKEY root, const char* key);

// ---------------------------------------------------------------------------
// The product's own registry values, those its description declares
// (product_values.cpp). The settings file keeps, for each one that the
// removal takes away, what was there before the product's first
// installation: the uninstaller, and an upgrade that no longer declares
// the value, give that back instead of deleting a value that another
// program had set.
struct ProductValueRecord {
    HKEY Root;
    RegistryView View = CurrentRegistryView();  // the view its key is in
    Text Key;           // under SOFTWARE, as every key a run changes
    Text Name;
    bool RemoveKey;     // the key goes too when nothing is left in it, and so do the keys
                        // above it that this leaves empty, down to the second level below SOFTWARE
    Text Written;       // not empty: given back only while the value still holds this (the
                        // hexadecimal digits of what the product wrote); another program's since stays
    bool HadEarlier;    // a value was there before the product
    DWORD EarlierType;
    Text EarlierData;   // its data as hexadecimal digits, text as the program's text
};
// One line of the settings file's [registry] section, and back; false for
// a line that is not one (or names a key outside SOFTWARE).
Text FormatProductValueRecord(const ProductValueRecord& record);
bool ParseProductValueRecord(const char* line, ProductValueRecord& record);
// True when a names the same value as root, key and name in the current
// view (keys and names in any letter case).
bool SameProductValue(const ProductValueRecord& a, HKEY root, const char* key, const char* name);
// The value's present state, as the earlier one of record. False when it
// is there but cannot be kept (more than a kilobyte, or unreadable): the
// removal then leaves the value as it is.
bool ReadEarlierValueState(ProductValueRecord& record);
// The value's present data as hexadecimal digits (as Written keeps it);
// empty when it is not there.
Text ValueDataHex(HKEY root, const char* key, const char* name);
// Gives the value back as it was before the product: its earlier data, or
// no value (and, with RemoveKey, no keys that are left empty), each
// change recorded in journal; nothing when Written no longer matches.
// False when something could not be undone.
bool GiveBackProductValue(RunJournal& journal, const ProductValueRecord& record);
// The records of the [registry] section of a settings file (value0,
// value1, ... up to the first missing one), as written; the same for the
// folders of its [path] section (entry0, ...).
void ReadProductValueRecords(const char* settingsFile, TextList& lines);
void ReadPathEntries(const char* settingsFile, TextList& folders);

// The PATH of the scope's environment: the machine's (under SYSTEM, the
// one key outside SOFTWARE that a run changes) or the user's. Adds folder
// at its end unless an entry names it already (in any letter case, with
// or without its backslash, quoted or not); *added says whether this call
// added it. The value keeps its type (a new one is REG_EXPAND_SZ), and the
// journal its earlier data.
bool AddPathEntry(RunJournal& journal, const char* folder, bool* added);
// Takes every entry that names folder out of the PATH, the others as they
// are, even when added since.
bool RemovePathEntry(RunJournal& journal, const char* folder);
// Tells the running programs that the environment changed (a broadcast
// that waits five seconds at most for a program that does not answer).
void AnnounceEnvironmentChange();
// Tells the shell that file types changed (their icons, what opens them).
void AnnounceFileTypesChange();
// True when a record names a file type's key (under Software\Classes).
bool IsFileTypeRecord(const ProductValueRecord& record);

// The folders of a path that are missing, made from the top down, each
// recorded in SessionJournal before it is made. 1 when the whole path is
// a folder now; 0 when a part cannot be made, is a file, or the path does
// not fit 259 characters or holds wildcards.
int CreateFolderTree(const char* path);
// The same for the folder of a file's path. With knownFolder (kPathBytes,
// the caller's folder last made sure of), nothing is looked at when the
// file's folder is that one, and the folder becomes it once made or found.
int CreateParentFolders(const char* filePath, char* knownFolder = nullptr);
// Records the folders of path that are missing without making them, ahead
// of the files they will hold (RecordFolderAhead); 0 as above.
int RecordFolderTreeAhead(const char* path);

// ---------------------------------------------------------------------------
// Places.

// The product's folder for what only administrators may change:
// "<common application data>\<makerName> Setup\<productName>". Created with
// a descriptor that gives Administrators and SYSTEM full control and
// nobody else any right; an existing folder whose descriptor says
// otherwise is given that descriptor. False when no such folder can be had.
// In the user's scope the same names stand for the user's private folders:
// "<the user's local application data>\<makerName> Setup\<productName>",
// owned by the user, full control for the user and SYSTEM alone.
bool GetProductAdminFolder(const char* makerName, const char* productName, char* folder, size_t size);
// "<common application data>\<makerName> Setup" itself, made as above.
bool GetMakerAdminFolder(const char* makerName, char* folder, size_t size);
// Makes a new administrators-only folder below parent (itself
// administrators-only) under a name nobody can guess: prefix and eight
// random hexadecimal digits. False when none could be made.
// announce, when given, is told each name before the folder is made (a
// journal records it, so that a run killed the moment the folder is made
// still removes it).
bool CreateRandomAdminFolder(const char* parent, const char* prefix, char* folder, size_t size,
                             void (*announce)(const char* folder, void* context) = nullptr, void* context = nullptr);
// The same folder when it is there and administrators-only, without
// making it. False otherwise.
bool FindProductAdminFolder(const char* makerName, const char* productName, char* folder, size_t size);
// Removes the product's folder, and the maker's above it, when they are
// empty: a session that leaves nothing there leaves no folder either.
void RemoveEmptyProductAdminFolder(const char* makerName, const char* productName);
// Creates folder (its parent must exist) with the administrators-only
// descriptor. An existing folder that is not administrators-only was made
// by somebody else: it is moved out of the way (renamed with
// ".untrusted-" and a random number) and a new one made, or, when it
// cannot be moved, given the descriptor. False when the folder is a link
// or no administrators-only folder can be had.
bool CreateAdminOnlyFolder(const char* folder);
// True when path's owner is Administrators, SYSTEM or this program's own
// account while it runs as an administrator, and its access list grants
// nothing to anybody else. In the user's scope the user's own account
// counts too, elevated or not.
bool IsAdminOnly(const char* path);
