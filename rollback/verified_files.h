// Changes made through a handle whose final path was checked first
// (verified_files.cpp), for the rollback unit's own changes below the
// folders guarded against links. A path is resolved once, when its handle
// is opened: a folder swapped for a link after a look at the path finds the
// handle somewhere else, and the change is not made.
#pragma once

#include <windows.h>

#include "rollback/rollback.h"
#include "setup/text.h"

// True when handle, opened through path, refers to path itself: below a
// guarded folder its final path (every link resolved) must be the
// folder's final path, as the session found it (or, before the folder was
// there, as it is now), followed by the rest of path, letter case aside.
// A path below no guarded folder is taken as it is.
bool HandleIsAt(const GuardedFolders& guarded, HANDLE handle, const char* path);

// Creates path, which must not exist, for writing. A file that turns out
// to lie behind a link is deleted again through its handle:
// INVALID_HANDLE_VALUE then, with ERROR_CANT_ACCESS_FILE.
HANDLE CreateNewFileAt(const GuardedFolders& guarded, const char* path, DWORD access, DWORD share);
// Deletes the file path (a link as a link), read-only or not, through a
// handle at it. True when it is gone or was never there; false with
// ERROR_CANT_ACCESS_FILE when path leads elsewhere.
bool DeleteFileAt(const GuardedFolders& guarded, const char* path);
// Renames the file from to to (to must not exist) through a handle at
// from; a file that arrives anywhere but at to is renamed back. False with
// the system's error, or ERROR_CANT_ACCESS_FILE. With kept, the handle of
// the moved file stays open there (every sharing allowed), for its
// deletion later through it (DeleteThrough).
bool MoveFileAt(const GuardedFolders& guarded, const char* from, const char* to, HANDLE* kept = nullptr);
// Deletes the file a handle opened for its deletion refers to (not a
// folder: ERROR_DIRECTORY), read-only or not, and closes the handle. For a
// handle kept by MoveFileAt, what it refers to is the file that was moved,
// whatever its name now, so no path is looked at again. True when path
// (its name when it was opened or moved) is gone.
bool DeleteThrough(HANDLE kept, const char* path);
// Creates folder; one that turns out to lie behind a link is removed
// again (ERROR_CANT_ACCESS_FILE). ERROR_ALREADY_EXISTS as the system's.
bool CreateFolderAt(const GuardedFolders& guarded, const char* folder);
