// Fuzz target for the setup program's command line (SkipProgramName,
// ParseCommandLine, RepairFolderOf). The input is the whole command line,
// program name included; the full form of a /D= folder comes from the
// stand-in for Windows' path rules (standin/). Besides memory safety it
// checks that a line that is understood gives a destination the run may
// use (a plain full path of at most 255 characters) and a repair folder
// inside the line, and that a refused line names what was not understood.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "app/command_line.h"
#include "setup/paths.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string line(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
    const char* arguments = SkipProgramName(line.c_str());
    if (arguments < line.c_str() || arguments > line.c_str() + line.size())
        abort();

    CommandLineSwitches switches;
    bool understood = ParseCommandLine(arguments, switches);
    if (!understood && switches.Problem.empty())
        abort();
    if (!switches.Folder.empty() &&
        (switches.Folder.length() > 255 || !IsPlainFullPath(switches.Folder.c_str())))
        abort();
    if (switches.Repair) {
        if (switches.Repair < arguments || switches.Repair >= line.c_str() + line.size())
            abort();
        const char* folder = RepairFolderOf(switches.Repair);
        if (!folder || folder < switches.Repair || folder > line.c_str() + line.size())
            abort();
    }
    // The repair folder is also looked for in a line as a whole.
    const char* anywhere = RepairFolderOf(arguments);
    if (anywhere && (anywhere < arguments || anywhere > line.c_str() + line.size()))
        abort();
    return 0;
}
