// The check of the setup program's own payload before anything is changed:
// a download cut short or altered still starts (resources are read only
// when used), so every cabinet and container is checked whole first, and a
// damaged one ends the run with nothing written.
#include "engine/engine.h"
#include "cab/cab.h"
#include "cab/container_format.h"
#include "setup/wide.h"

#include <stdlib.h>

namespace {

const char* const kCabinets[] = {"MAIN", "ARCHIVIST"};
const char* const kContainers[] = {"UNINSTALL", "40COMUPD"};

// The resource's bytes, or null when it is missing or cannot be read.
const void* LockPayload(const char* name, const char* type, DWORD* size)
{
    HRSRC found = FindResourceU(Context.InstanceHandle, name, type);
    if (!found)
        return nullptr;
    *size = SizeofResource(Context.InstanceHandle, found);
    HGLOBAL loaded = LoadResource(Context.InstanceHandle, found);
    return loaded ? LockResource(loaded) : nullptr;
}

} // namespace

bool CheckPayload()
{
    // Both cabinets are needed for any installation.
    for (const char* name : kCabinets) {
        DWORD size = 0;
        const void* data = LockPayload(name, "CAB", &size);
        if (!data || CabCheckImage(static_cast<const uint8_t*>(data), size) != CAB_CHECK_OK)
            return false;
    }
    // A missing container is allowed (the run then writes no uninstaller or
    // runs no update); one that is there must decode to its stated length
    // with zlib's checksum intact.
    for (const char* name : kContainers) {
        DWORD size = 0;
        if (!FindResourceU(Context.InstanceHandle, name, "CVZB"))
            continue;
        const void* data = LockPayload(name, "CVZB", &size);
        unsigned char* decoded = nullptr;
        uint32_t length = 0;
        ContainerResult result = data ? DecodeContainer(data, size, &decoded, &length) : CONTAINER_TOO_SHORT;
        free(decoded);
        uint32_t stated = 0;
        if (result != CONTAINER_OK || ReadContainerHeader(data, size, &stated) != CONTAINER_OK || stated != length)
            return false;
    }
    return true;
}
