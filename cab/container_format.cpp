// The compressed single-file container: header checks and one-shot zlib
// decoding, shared by the setup program and the cvzb tool.
#include "cab/container_format.h"

#include <stdlib.h>
#include <zlib.h>

namespace {

const unsigned char Magic[4] = {'C', 'V', 'Z', 'B'};

// The decoder allocates the length field plus this many bytes, as the
// setup program always has.
const uint32_t BufferSlack = 10;

unsigned char FoldAsciiUpper(unsigned char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

uint32_t ReadLe32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

} // namespace

ContainerResult ReadContainerHeader(const void* data, uint32_t size, uint32_t* length)
{
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    if (!bytes || size < CONTAINER_HEADER_SIZE)
        return CONTAINER_TOO_SHORT;
    for (int i = 0; i < 4; ++i)
        if (FoldAsciiUpper(bytes[i]) != Magic[i])
            return CONTAINER_BAD_MAGIC;
    uint32_t declared = ReadLe32(bytes + 4);
    // length + slack must stay inside 32 bits: a wrapped sum would give a
    // tiny buffer that zlib is then told is four gigabytes long.
    if (declared > UINT32_MAX - BufferSlack)
        return CONTAINER_BAD_LENGTH;
    uint64_t streamBytes = size - CONTAINER_HEADER_SIZE;
    if (declared > streamBytes * CONTAINER_MAX_RATIO)
        return CONTAINER_BAD_LENGTH;
    *length = declared;
    return CONTAINER_OK;
}

ContainerResult DecodeContainer(const void* data, uint32_t size, unsigned char** out, uint32_t* outLength)
{
    *out = nullptr;
    *outLength = 0;
    uint32_t length = 0;
    ContainerResult header = ReadContainerHeader(data, size, &length);
    if (header != CONTAINER_OK)
        return header;

    unsigned char* buffer = static_cast<unsigned char*>(malloc(static_cast<size_t>(length) + BufferSlack));
    if (!buffer)
        return CONTAINER_NO_MEMORY;
    // The capacity is the length field, not the buffer: a stream that
    // inflates past the declared length is damaged and fails.
    uLongf produced = length;
    const Bytef* stream = static_cast<const Bytef*>(data) + CONTAINER_HEADER_SIZE;
    int z = uncompress(buffer, &produced, stream, size - CONTAINER_HEADER_SIZE);
    if (z != Z_OK) {
        free(buffer);
        return z == Z_MEM_ERROR ? CONTAINER_NO_MEMORY : CONTAINER_BAD_STREAM;
    }
    *out = buffer;
    *outLength = static_cast<uint32_t>(produced);
    return CONTAINER_OK;
}

void WriteContainerHeader(unsigned char header[CONTAINER_HEADER_SIZE], uint32_t length)
{
    for (int i = 0; i < 4; ++i)
        header[i] = Magic[i];
    for (int i = 0; i < 4; ++i)
        header[4 + i] = static_cast<unsigned char>(length >> (8 * i));
}

const char* ContainerResultText(ContainerResult result)
{
    switch (result) {
    case CONTAINER_OK:
        return "valid container";
    case CONTAINER_TOO_SHORT:
        return "shorter than the 8-byte container header";
    case CONTAINER_BAD_MAGIC:
        return "does not start with the magic \"CVZB\"";
    case CONTAINER_BAD_LENGTH:
        return "length field larger than the compressed data can hold";
    case CONTAINER_NO_MEMORY:
        return "not enough memory to decode the container";
    case CONTAINER_BAD_STREAM:
        return "damaged zlib stream, or data longer than the length field";
    }
    return "unknown error";
}
