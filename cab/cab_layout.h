// The fixed layout of a cabinet file: the sizes of its tables, the header
// flags and compression types, and the little-endian reads every field
// needs. The decoder, the whole-image check and the writer all lay out or
// read the same bytes; this is the one place that states them.
#pragma once

#include <stdint.h>

const uint32_t kHeaderSize = 36;
const uint32_t kFolderEntrySize = 8;  // without its reserve
const uint32_t kFileEntrySize = 16;   // without its name
const uint32_t kDataHeaderSize = 8;   // without its reserve
const uint32_t kBlockSize = 32768;    // uncompressed bytes a data block holds at most
const uint16_t kCabinetVersion = 0x0103;

const uint16_t kFlagPrevious = 0x0001;
const uint16_t kFlagNext = 0x0002;
const uint16_t kFlagReserve = 0x0004;

const uint16_t kMethodStored = 0;
const uint16_t kMethodMszip = 1;

inline uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

inline uint32_t Get32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline bool HasSignature(const uint8_t* h) { return h[0] == 'M' && h[1] == 'S' && h[2] == 'C' && h[3] == 'F'; }
