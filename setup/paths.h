// Paths and files as the whole program takes them: what counts as a full,
// plain path and as the root of a volume, the full form of a destination
// folder, a look for a file, a deletion, and random bits for names nobody
// can guess. No installer context here: the uninstaller and the rollback
// unit use the same rules.
#pragma once

#include <windows.h>

#include "setup/text.h"

// True for the root of a volume: "C:\", anything of three characters or
// fewer, "\\server\share" with at most a trailing backslash.
bool IsVolumeRoot(const char* path);
// A full path on a drive ("C:\...") or a share ("\\server\share\..."),
// shorter than MAX_PATH, without wildcards, stream names, empty parts, "."
// or ".." parts, parts that end in a dot or a blank (which Windows would
// drop, reaching another name), and not the root of a volume.
bool IsPlainFullPath(const char* path);

// The full form of a folder (GetFullPathNameA: "." and ".." resolved,
// trailing blanks and dots gone) without its trailing backslash. False for
// a volume root, a folder longer than 255 characters or one that Windows
// would not keep as written.
bool MakeFullFolderPath(const char* folder, Text& out);
// A destination as the user or the command line gives it: it must name its
// drive or share ("C:\..." or "\\server\share\...") and have a full form
// (MakeFullFolderPath), which goes into out.
bool MakeDestinationFolder(const char* typed, Text& out);

// The final path of an open handle (every link, short name and mapped
// drive resolved by the system) in plain form: "C:\..." or
// "\\server\share\...". False when it cannot be named or does not fit.
bool FinalPathOfHandle(HANDLE handle, char* out, size_t size);
// path as the system finally names it: its longest existing part resolved
// (FinalPathOfHandle), the rest appended as written. Where nothing of it
// can be resolved, path as it stands.
void FinalFormOfPath(const char* path, char* out, size_t size);
// True when two folders are one, however each is spelt: the same letters
// (case and a trailing backslash aside), the same file of the same volume,
// or the same final path. "C:\PROGRA~1\Tool", a junction above
// "C:\Program Files\Tool" and a drive letter mapped onto it all name it.
bool IsSameFolder(const char* a, const char* b);

// True when the path names an existing entry that is not a folder.
bool FileExists(const char* path);
// Deletes an existing file that is not a folder, read-only or not.
BOOL DeleteExistingFile(const char* path);

// Random bits for names nobody can guess; falls back to the clock and the
// process id when the system's generator is missing.
DWORD RandomNumber();
