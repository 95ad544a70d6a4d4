// The program's start and end: the application object, the start and exit
// steps and the message loop, the command line administrators and
// deployment tools use, the run's first and last lines in the log, and the
// desktop's shell that starts things as the signed-in user. The top floor:
// it uses every floor below (the wizard, the engine, the registration, the
// rollback unit, the core) and nothing uses it but the entry point and
// the tests.
#pragma once

#include <windows.h>

#include "app/command_line.h"
#include "setup/setup.h"

// ---------------------------------------------------------------------------
// Start and end (app.cpp).

// Construction of the application object: screen resolution, language,
// fonts. Runs before AppStart.
void AppConstruct();
// The start step: COM, module path, repair switch, the payload check, the
// recovery of an unfinished earlier run, main window. False ends the
// process without a page (ExitCode says why).
bool AppStart(const char* commandLine);
// The exit step; returns the process exit code.
int AppExit();
// Runs the message loop until the main window is gone.
int AppRun();

// Sets the process's installation scope from the setup program's own
// string table ("user" for a per-user product, else every user's).
void ApplyInstallScope();
// A 64-bit product on 64-bit Windows: the registry's 64-bit view for the
// run. On 32-bit Windows it is refused (exit code 1633, told in the log and,
// unless silent, in a message): false.
bool ApplyProductArchitecture();

// Takes the product's run lock and finishes what an earlier run left in
// its journal, telling the user in one sentence. False (with a message and
// ExitCode) when another setup of the product is running.
bool StartInstallSession();

// Finds an installation of the product and tells the log whether this run
// installs it for the first time, reinstalls the same version, upgrades or
// downgrades it. Replacing a newer version is asked first (No is the
// default, and gives ExitCode 1602) and refused in a silent run (1638);
// false then, with nothing changed.
bool AcceptEarlierInstallation();

// The tasks of this run: those /TASKS= names, else those the installation
// it replaces (or repairs) chose, else the product's defaults; logged.
void ChooseRunTasks(const CommandLineSwitches& switches);

// Repair switch: the folder RepairFolderOf finds in the arguments into
// RepairDir, and RepairMode when it holds the settings file, as the start
// step does.
void ParseRepairSwitch(const char* arguments);

// Puts the process back to its start-of-program state: the installer
// context (fonts deleted, lists emptied), the session's journal (left
// without undoing anything, no file of it kept) and the scope (every
// user's). For tests, and for nothing else.
void ResetInstallerContext();

// ---------------------------------------------------------------------------
// The command line: its switches (command_line.h), and the refusal of one
// that cannot be followed (app.cpp).

// Ends a start with a command line that cannot be followed: the usage
// (after the message 8016 and the problem, when there is one) in a
// message box unless the run is silent, the log told, ExitCode 1639.
void RefuseCommandLine(const char* problem);

// ---------------------------------------------------------------------------
// The run's first and last lines in the log (run_report.cpp).

// The first lines: program, product and version, switches, language, user,
// whether the run has administrator rights, and the installation's scope.
void LogRunStart(const char* arguments);
// The last line: the exit code and what it means.
void LogExitCode(int code);

// ---------------------------------------------------------------------------
// The desktop's shell (desktop_shell.cpp).

// Starts file (a program, a folder, a web address) through the desktop's
// own shell, so that it runs as the signed-in user with ordinary rights,
// never with the setup's administrator token. False when the desktop's
// shell cannot be reached (no shell window, as under a service or Wine):
// the caller then starts it itself.
bool StartAsDesktopUser(const char* file, const char* parameters, const char* verb, int show);
// ShellExecuteA's form of the same, falling back to ShellExecuteA itself;
// the log says which way it went.
HINSTANCE WINAPI OpenAsDesktopUser(HWND window, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                                   INT show);
