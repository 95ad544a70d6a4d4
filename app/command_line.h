// The switches administrators and deployment tools give the setup program,
// read from its command line before anything is changed (command_line.cpp).
// Text only: the one call to the system is the full form of a /D= folder
// (MakeDestinationFolder), so that any command line can be tried natively
// (fuzz/command_line_fuzz.cpp).
#pragma once

#include "setup/text.h"

// The switches of a command line, in any order and any letter case:
//   /S          silent run
//   /LOG=file   the run's log; quoted when the name holds blanks:
//               /LOG="C:\My Logs\setup.log"
//   /?          the usage
//   /D=folder   the destination: the rest of the line, blanks included,
//               unquoted; it must be a full path
//   /r folder   repair: the rest of the line, as RepairFolderOf takes it
struct CommandLineSwitches {
    CommandLineSwitches()
        : Silent(false), Help(false), Run(false), TasksGiven(false), NoCloseApplications(false), Repair(nullptr)
    {
    }
    bool Silent;
    bool Help;
    bool Run;           // /RUN: a silent run starts the program when it has succeeded
    bool TasksGiven;    // /TASKS= was given (an empty list chooses none)
    Text Tasks;         // its names, separated by commas
    Text Language;      // /LANG=: the language to speak, by name or identifier (empty: the user's)
    bool NoCloseApplications; // /NOCLOSEAPPLICATIONS: programs that hold the installation's files keep running
    Text LogPath;
    Text Folder;        // /D=, in its full form
    const char* Repair; // where "/r" starts within the parsed arguments; null without it
    Text Problem;       // the switch that was not understood, as written
};
// False when a switch is unknown or malformed; Problem then names it.
bool ParseCommandLine(const char* arguments, CommandLineSwitches& out);


// The folder of the repair switch: finds "/r" in the arguments (program
// name excluded), or an upper-case "/R" at their very start, and returns
// what follows the switch and the one character after it, quotes and
// trailing blanks kept; null without the switch.
const char* RepairFolderOf(const char* arguments);
