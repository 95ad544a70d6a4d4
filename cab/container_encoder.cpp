// The packing side of the compressed single-file container, for the
// maker's tools (cvzb, mksetup). A file of its own so that zlib's deflate
// never reaches the setup program, which only unpacks.
#include "cab/container_format.h"

#include <stdlib.h>
#include <zlib.h>

unsigned char* EncodeContainer(const void* data, uint32_t size, uint32_t* containerSize)
{
    uLongf streamSize = compressBound(size);
    unsigned char* container = static_cast<unsigned char*>(malloc(streamSize + CONTAINER_HEADER_SIZE));
    if (!container)
        return nullptr;
    // The default level gives the stream header 0x78 0x9C that the setup
    // program's containers have always carried.
    if (compress2(container + CONTAINER_HEADER_SIZE, &streamSize, static_cast<const Bytef*>(data), size,
                  Z_DEFAULT_COMPRESSION) != Z_OK) {
        free(container);
        return nullptr;
    }
    WriteContainerHeader(container, size);
    *containerSize = static_cast<uint32_t>(streamSize + CONTAINER_HEADER_SIZE);
    return container;
}
