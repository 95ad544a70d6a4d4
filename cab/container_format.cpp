// The compressed single-file container: header checks and one-shot
// decoding of its zlib stream (RFC 1950: a two-byte header, deflate, the
// Adler-32 of the data), shared by the setup program and the cvzb tool.
// The deflate is decoded by the cabinet decoder's own inflater, so that
// the setup program carries one inflater, not two.
#include "cab/container_format.h"
#include "cab/mszip.h"

#include <stdlib.h>

namespace {

const unsigned char Magic[4] = {'C', 'V', 'Z', 'B'};

// The decoder allocates the length field plus this many bytes, as the
// setup program always has.
const uint32_t BufferSlack = 10;

unsigned char FoldAsciiUpper(unsigned char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

uint32_t Adler32(const unsigned char* p, uint32_t n)
{
    uint32_t a = 1, b = 0;
    while (n > 0) {
        // 5552 bytes at most between the reductions keep b inside 32 bits.
        uint32_t k = n < 5552 ? n : 5552;
        n -= k;
        while (k--) {
            a += *p++;
            b += a;
        }
        a %= 65521;
        b %= 65521;
    }
    return (b << 16) | a;
}

void* Allocate(uint32_t size) { return malloc(size); }
void Release(void* memory) { free(memory); }

// Inflates the zlib stream of size bytes into out (room for *length bytes
// and one more); *length becomes what it held.
ContainerResult InflateZlibStream(const unsigned char* stream, uint32_t size, unsigned char* out, uint32_t* length)
{
    // Deflate (method 8) with a window of at most 32 KB, no preset
    // dictionary, and the header's own check.
    if (size < 6 || (stream[0] & 0x0F) != 8 || (stream[0] >> 4) > 7 || (stream[1] & 0x20) ||
        ((static_cast<uint32_t>(stream[0]) << 8) | stream[1]) % 31 != 0)
        return CONTAINER_BAD_STREAM;
    uint32_t window = 0, inputSize = 0;
    MszipDecompressor* inflater = nullptr;
    if (MszipCreate(&window, Allocate, Release, &inputSize, &inflater) != MSZIP_OK)
        return CONTAINER_NO_MEMORY;
    uint32_t consumed = 0;
    int result = MszipInflateStream(inflater, stream + 2, size - 2, out, length, &consumed);
    MszipDestroy(inflater);
    if (result != MSZIP_OK || size - 2 - consumed < 4)
        return CONTAINER_BAD_STREAM;
    const unsigned char* check = stream + 2 + consumed;
    uint32_t expected = (static_cast<uint32_t>(check[0]) << 24) | (static_cast<uint32_t>(check[1]) << 16) |
                        (static_cast<uint32_t>(check[2]) << 8) | check[3];
    return Adler32(out, *length) == expected ? CONTAINER_OK : CONTAINER_BAD_STREAM;
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
    uint32_t produced = length;
    const unsigned char* stream = static_cast<const unsigned char*>(data) + CONTAINER_HEADER_SIZE;
    ContainerResult result = InflateZlibStream(stream, size - CONTAINER_HEADER_SIZE, buffer, &produced);
    if (result != CONTAINER_OK) {
        free(buffer);
        return result;
    }
    *out = buffer;
    *outLength = produced;
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
