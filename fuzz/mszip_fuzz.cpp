// Fuzz target for MszipDecompress alone. The input is a run of blocks, each
// a 2-byte little-endian length and that many bytes, decoded one after the
// other through one record so that history crosses blocks. Besides memory
// safety it checks the output against zlib's raw inflate wherever zlib
// decodes a block completely: then the MSZIP method must succeed with the
// same bytes (cut at 32768).
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <zlib.h>

#include "cab/mszip.h"

namespace {

void* Allocate(uint32_t size) { return malloc(size); }
void Release(void* p) { free(p); }

uint8_t gWindow[MSZIP_WINDOW_SIZE];
uint8_t gHistory[MSZIP_WINDOW_SIZE];
uint8_t gExpected[2 * MSZIP_WINDOW_SIZE];

// zlib's view of one block; returns the byte count, or -1 when zlib does not
// decode the whole stream within its bounds.
long InflateWithZlib(const uint8_t* data, uint32_t size, bool withHistory)
{
    if (size < 2 || data[0] != 'C' || data[1] != 'K') return -1;
    z_stream z;
    memset(&z, 0, sizeof(z));
    if (inflateInit2(&z, -15) != Z_OK) return -1;
    if (withHistory) inflateSetDictionary(&z, gHistory, MSZIP_WINDOW_SIZE);
    z.next_in = const_cast<Bytef*>(data + 2);
    z.avail_in = size - 2;
    z.next_out = gExpected;
    z.avail_out = sizeof(gExpected);
    int result = inflate(&z, Z_FINISH);
    long produced = long(z.total_out);
    inflateEnd(&z);
    return result == Z_STREAM_END ? produced : -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint32_t window = 0, inputSize = 0;
    MszipDecompressor* state = nullptr;
    if (MszipCreate(&window, Allocate, Release, &inputSize, &state) != MSZIP_OK) abort();
    MszipReset(state);

    for (int block = 0; block < 8 && size >= 2; ++block) {
        uint32_t length = uint32_t(data[0] | (data[1] << 8));
        data += 2;
        size -= 2;
        if (length > size) length = uint32_t(size);
        if (length > inputSize) length = inputSize;

        // The decoder hands over exactly the stored bytes; a private copy
        // lets the sanitizer see any read past them.
        uint8_t* input = static_cast<uint8_t*>(malloc(length ? length : 1));
        memcpy(input, data, length);
        bool withHistory = state->historyBytes == MSZIP_WINDOW_SIZE;
        memcpy(gHistory, gWindow, sizeof(gWindow));
        long expected = InflateWithZlib(input, length, withHistory);

        uint32_t count = sizeof(gWindow);
        int result = MszipDecompress(state, input, length, gWindow, &count);
        if (result == MSZIP_OK && count > MSZIP_WINDOW_SIZE) abort();
        if (expected >= 0) {
            uint32_t want = uint32_t(expected < long(MSZIP_WINDOW_SIZE) ? expected : long(MSZIP_WINDOW_SIZE));
            if (result != MSZIP_OK || count != want || memcmp(gWindow, gExpected, want) != 0) abort();
        }
        if (result != MSZIP_OK) MszipReset(state);
        free(input);
        data += length;
        size -= length;
    }

    if (MszipDestroy(state) != MSZIP_OK) abort();
    return 0;
}
