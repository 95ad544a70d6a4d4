// The changes themselves and their undoing (file_changes.cpp), as the
// journal asks for them once it has recorded them; for the rollback
// unit's own files.
#pragma once

#include <windows.h>

#include "rollback/rollback.h"
#include "setup/text.h"

bool KeyExists(HKEY root, const char* keyPath);
// Below the guarded folders, each of these acts only on the path itself,
// never through a link (ERROR_CANT_ACCESS_FILE).
// Deletes a file the run created, read-only or not. A file still in use
// is left to the next restart. False when it is still there.
bool DeleteCreatedFile(const GuardedFolders& guarded, const char* path);
// Puts a moved file back in its place. Nothing to do when the aside name
// is gone (the rename never happened, or it was put back already).
bool RestoreMovedFile(const GuardedFolders& guarded, const char* path, const char* aside);
// Stores a value's earlier data again, creating its key when needed.
bool RestoreRegistryValue(HKEY root, const char* key, const char* name, DWORD type, const void* data, DWORD size);
// Deletes a value; true when it is gone (or never was).
bool DeleteRegistryValue(HKEY root, const char* key, const char* name);
