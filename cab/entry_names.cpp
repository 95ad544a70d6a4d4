// Which cabinet entry names may be written below a target folder on
// Windows: plain C++, shared by the setup program's extraction and the
// maker's cabtool, so that both refuse the same names.
#include "cab/cab.h"

#include <ctype.h>
#include <string.h>

namespace {

// A part Windows would not keep as written or would not treat as a file:
// empty, "." or "..", ending in a dot or blank (dropped, reaching another
// name), or a device (CON, PRN, AUX, NUL, COM1-9, LPT1-9) with or without
// an extension ("NUL.txt" is the device too).
bool IsPlainPart(const char* part, size_t length)
{
    if (length == 0 || part[length - 1] == '.' || part[length - 1] == ' ')
        return false;
    size_t stem = 0;
    while (stem < length && part[stem] != '.')
        ++stem;
    char upper[5] = "";
    if (stem == 3 || stem == 4) {
        for (size_t i = 0; i < stem; ++i)
            upper[i] = static_cast<char>(toupper(static_cast<unsigned char>(part[i])));
        upper[stem] = '\0';
    }
    if (stem == 3)
        return strcmp(upper, "CON") != 0 && strcmp(upper, "PRN") != 0 && strcmp(upper, "AUX") != 0 &&
               strcmp(upper, "NUL") != 0;
    if (stem == 4 && (strncmp(upper, "COM", 3) == 0 || strncmp(upper, "LPT", 3) == 0))
        return !(upper[3] >= '1' && upper[3] <= '9');
    return true;
}

} // namespace

bool CabEntryNameIsSafe(const char* name)
{
    // No root, no drive or stream, no control character: the name stays
    // below the folder it is extracted into.
    if (!name || name[0] == '\0' || name[0] == '\\' || name[0] == '/')
        return false;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(name); *c; ++c)
        if (*c < 0x20 || strchr(":*?\"<>|", *c))
            return false;
    const char* part = name;
    for (;;) {
        size_t n = strcspn(part, "\\/");
        if (!IsPlainPart(part, n))
            return false;
        if (part[n] == '\0')
            return true;
        part += n + 1;
    }
}
