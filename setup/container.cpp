// UnpackContainer: writes the file carried in a "CVZB" resource (the
// uninstaller, the common-controls update package) to disk.
#include "setup/setup.h"
#include "cab/container_format.h"
#include "setup/wide.h"

#include <stdlib.h>

namespace {

// Writes the whole buffer and flushes it.
bool WriteAllTo(HANDLE file, const unsigned char* bytes, uint32_t length)
{
    DWORD written = 0;
    return WriteFile(file, bytes, length, &written, nullptr) && written == length && FlushFileBuffers(file);
}

// Writes the whole buffer, flushes it and closes the file. A file that
// could not be written completely is removed, so no caller ever runs or
// registers a truncated program.
bool WriteWholeFile(const char* path, const unsigned char* bytes, uint32_t length)
{
    HANDLE file = CreateFileU(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = WriteAllTo(file, bytes, length);
    if (!CloseHandle(file))
        ok = false;
    if (!ok)
        DeleteFileU(path);
    return ok;
}

// Decodes the container completely before write sees a byte, so that a
// damaged one never creates or truncates the output.
template <typename Write> int Unpack(const void* data, uint32_t size, Write write)
{
    unsigned char* bytes = nullptr;
    uint32_t length = 0;
    if (DecodeContainer(data, size, &bytes, &length) != CONTAINER_OK)
        return 0;
    bool written = write(bytes, length);
    free(bytes);
    return written ? 1 : 0;
}

} // namespace

int UnpackContainerTo(const void* data, uint32_t size, HANDLE file)
{
    return Unpack(data, size,
                  [&](const unsigned char* bytes, uint32_t length) { return WriteAllTo(file, bytes, length); });
}

int UnpackContainer(const void* data, uint32_t size, const char* path)
{
    if (!path)
        return 0;
    return Unpack(data, size,
                  [&](const unsigned char* bytes, uint32_t length) { return WriteWholeFile(path, bytes, length); });
}
