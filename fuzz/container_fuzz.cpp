// Fuzz target for the "CVZB" container reader (ReadContainerHeader,
// DecodeContainer), as the setup program unpacks the uninstaller and the
// common-controls update and as cvzb checks a container. Besides memory
// safety it checks that a container decodes to no more than its length
// field says, that what decodes packs again into a container that decodes
// to the same bytes, that the header check agrees with the decoder, and
// that zlib's own decoder accepts exactly the streams it accepts, with the
// same bytes.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <zlib.h>

#include "cab/container_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > UINT32_MAX)
        return 0;
    // A private copy: the decoder must stay within size.
    unsigned char* container = static_cast<unsigned char*>(malloc(size ? size : 1));
    memcpy(container, data, size);
    uint32_t length = 0;
    ContainerResult header = ReadContainerHeader(container, uint32_t(size), &length);
    unsigned char* out = nullptr;
    uint32_t outLength = 0;
    ContainerResult result = DecodeContainer(container, uint32_t(size), &out, &outLength);
    if (header != CONTAINER_OK && result != header)
        abort();
    if (result != CONTAINER_OK && out)
        abort();
    if (header == CONTAINER_OK && result != CONTAINER_NO_MEMORY) {
        unsigned char* theirs = static_cast<unsigned char*>(malloc(size_t(length) + 1));
        uLongf produced = length;
        int z = uncompress(theirs, &produced, container + CONTAINER_HEADER_SIZE, uLong(size - CONTAINER_HEADER_SIZE));
        if ((z == Z_OK) != (result == CONTAINER_OK) ||
            (z == Z_OK && (produced != outLength || memcmp(theirs, out, outLength) != 0)))
            abort();
        free(theirs);
    }
    if (result == CONTAINER_OK) {
        if (outLength > length || !out)
            abort();
        uint32_t packedSize = 0;
        unsigned char* packed = EncodeContainer(out, outLength, &packedSize);
        if (packed) {
            unsigned char* again = nullptr;
            uint32_t againLength = 0;
            if (DecodeContainer(packed, packedSize, &again, &againLength) != CONTAINER_OK ||
                againLength != outLength || memcmp(again, out, outLength) != 0)
                abort();
            free(again);
            free(packed);
        }
        free(out);
    }
    if (ContainerResultText(result) == nullptr)
        abort();
    free(container);
    return 0;
}
