// The MSZIP method of the cabinet decoder: one data block ("CK" followed by
// a raw deflate stream) decoded into a 32768-byte output buffer that also
// serves as the history window for the next block of the same folder.
#ifndef CAB_MSZIP_H
#define CAB_MSZIP_H

#include <stdint.h>

#include "cab/cab.h"

enum {
    MSZIP_TAG = 0x4349444D,  // the bytes "MDIC"
    MSZIP_WINDOW_SIZE = 32768,
    MSZIP_INPUT_SLACK = 12,  // a block may store a little more than it yields

    // Results of the Mszip* operations.
    MSZIP_OK = 0,
    MSZIP_ALLOC_FAILED = 1,
    MSZIP_BAD_STATE = 2,
    MSZIP_INPUT_TOO_LONG = 3,
    MSZIP_DATA_ERROR = 4,

    // Decoding table storage. The first-level widths are 10 bits for
    // literal/length codes and 8 for distance codes; the sizes cover the
    // worst complete codes of deflate with room to spare, and a code that
    // would not fit is refused rather than written past the end.
    MSZIP_LITERAL_TABLE_SIZE = 2048,
    MSZIP_DISTANCE_TABLE_SIZE = 1024,
    MSZIP_CODE_LENGTH_TABLE_SIZE = 128,
    MSZIP_FIXED_LITERAL_TABLE_SIZE = 1024,
    MSZIP_FIXED_DISTANCE_TABLE_SIZE = 256
};

// All working state lives here rather than in process-wide storage, so that
// several decoders can run at once on different threads. The fixed-code
// tables are built into each record when it is created.
struct MszipDecompressor {
    uint32_t tag;
    CabFreeCallback free;
    uint32_t windowSize;
    // The window as the previous blocks of the folder left it, the last
    // block's output first. Matches that reach before the current block
    // read it from here, which leaves the fast loop free to overshoot in the
    // output buffer. historyBytes counts the bytes decoded into it since the
    // last reset; a match before the current block is served only once the
    // whole window holds decoded data, so that damaged input can never read
    // memory that this folder did not write.
    uint32_t historyBytes;
    uint8_t history[MSZIP_WINDOW_SIZE];
    uint32_t fixedLiterals[MSZIP_FIXED_LITERAL_TABLE_SIZE];
    uint32_t fixedDistances[MSZIP_FIXED_DISTANCE_TABLE_SIZE];
    uint32_t literals[MSZIP_LITERAL_TABLE_SIZE];
    uint32_t distances[MSZIP_DISTANCE_TABLE_SIZE];
    uint32_t codeLengths[MSZIP_CODE_LENGTH_TABLE_SIZE];
};

// Settles the window size (0 or above 32768 becomes 32768) and the input
// size (window + 12). With a state pointer, also allocates and fills a
// record; on failure stores null there and returns MSZIP_ALLOC_FAILED.
int MszipCreate(uint32_t* windowSize, CabAllocCallback alloc, CabFreeCallback free, uint32_t* inputSize,
                MszipDecompressor** state);

// Prepares the record for a new folder: no history.
int MszipReset(MszipDecompressor* state);

// Decodes one block. On entry *outputCount is the room in output; on
// success it is the number of bytes produced (at most the window size).
int MszipDecompress(MszipDecompressor* state, const uint8_t* input, uint32_t inputLength, uint8_t* output,
                    uint32_t* outputCount);

// Decodes one whole raw deflate stream (no "CK", no history) into output,
// which has room for *outputCount bytes and one more (where a stream that
// is too long is caught). On success *outputCount is the number of
// bytes produced and *consumed the input bytes up to the end of the
// stream's last block. A stream that would produce more than output holds,
// or that runs past its input, is refused (MSZIP_DATA_ERROR).
int MszipInflateStream(MszipDecompressor* state, const uint8_t* input, uint32_t inputLength, uint8_t* output,
                       uint32_t* outputCount, uint32_t* consumed);

// Clears the tag and frees the record through its free callback.
int MszipDestroy(MszipDecompressor* state);

#endif
