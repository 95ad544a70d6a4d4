// The programs that hold the files a run will replace or remove: found
// before the first change, named to the user, and asked to close. Two
// ways find them: the processes whose program lies below the installation
// folder (the product's own running program, found everywhere), and on
// Windows Vista and later the Restart Manager's list for the files (a
// holder outside the folder; Wine's answers nothing). Behind one seam, so
// that a test can give the list.
#pragma once

#include <windows.h>

#include "setup/text.h"

struct FileHolder {
    DWORD ProcessId;
    Text Name;  // the program's file name, or the name the Restart Manager gives
};

struct FileHolders {
    static const size_t kMost = 16;
    FileHolder Items[kMost];
    size_t Count = 0;
    void Add(DWORD processId, const char* name);
};

// The seam: every holder of a file below folder (a full path ending in a
// backslash) or among files. Set by a test; FindFileHoldersOnSystem
// otherwise.
typedef void (*FindFileHoldersFunction)(const char* folder, const TextList& files, FileHolders& out);
extern FindFileHoldersFunction FindFileHolders;
void FindFileHoldersOnSystem(const char* folder, const TextList& files, FileHolders& out);

// How long the programs asked to close get, in all: the setup's and the
// uninstaller's.
const DWORD kHolderCloseWait = 10000;

// Asks each holder to close, politely: WM_CLOSE to its top-level windows,
// then waits up to milliseconds in all; those still running are asked
// again through the Restart Manager where there is one (without force).
// Never ends a process by force.
// The holders still running go to stillRunning.
void CloseFileHolders(const FileHolders& holders, DWORD milliseconds, FileHolders& stillRunning);
// Ends each holder by force, for the user's second answer only (what it
// had not saved is lost), and waits up to milliseconds in all; true when
// none is left running.
bool EndFileHolders(const FileHolders& holders, DWORD milliseconds);
// "Ledger.exe (1234), Other.exe (5678)" for the log and the pages.
Text DescribeFileHolders(const FileHolders& holders);
