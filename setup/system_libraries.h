// System libraries, loaded only from the system folder, for the setup
// program and the uninstaller alike: both run with administrator rights
// from folders where anybody may have left a DLL of a system library's
// name.
#pragma once

#include <windows.h>

// Opens a DLL from the system folder only, never from the program's own
// folder or the current directory.
HMODULE LoadSystemLibrary(const char* name);
// Registers the progress bar's window class (COMCTL32 from the system
// folder).
void RegisterCommonControls();
// Takes the program's folder and the current directory out of the DLL
// search path. Called first thing at start.
void HardenDllSearchPath();
