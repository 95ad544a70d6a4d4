// System registration: registry entries and the uninstaller, shortcuts and
// Start-menu entries, the common-controls update, and the clean-up at the end.
#pragma once

#include <windows.h>

#include "setup/setup.h"

// Clean-up at the end of the process: staged cabinets always, the files of
// a cancelled or failed run when CleanupRequired is set.
void CleanupAfterFailure();
int RemoveFileAndEmptyFolders(const char* path);
// Deletes an existing file that is not a folder, read-only or not.
BOOL DeleteExistingFile(const char* path);
