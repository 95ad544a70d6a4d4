// The whole-image check of a single cabinet held in memory: its header, its
// folder and file tables and every data block's size and checksum, without
// decoding anything. The setup program runs it over its own payload before
// it changes anything, so that a download cut short or altered is refused
// at once instead of halfway through an installation. Also the names of its
// file table, in order, for a caller that prepares ahead of the decoder.
#include "cab/cab.h"
#include "cab/cab_layout.h"

#include <string.h>

namespace {

const uint32_t kMaxName = 256;
const uint32_t kMaxFolders = 256;

// Room for count bytes at offset inside an image of size bytes, computed so
// that nothing can wrap.
bool Fits(uint64_t offset, uint64_t count, uint32_t size) { return offset <= size && count <= size - offset; }

// Walks one folder's data blocks: each must lie inside the image, carry a
// plausible size for its method and, when it has one, the right checksum.
// The folder's uncompressed length is added up into *length.
CabCheckResult CheckFolderBlocks(const uint8_t* image, uint32_t size, uint32_t start, uint32_t blocks,
                                 uint16_t method, uint32_t dataHeaderSize, uint64_t* length)
{
    uint64_t at = start;
    *length = 0;
    for (uint32_t b = 0; b < blocks; ++b) {
        if (!Fits(at, dataHeaderSize, size))
            return CAB_CHECK_TRUNCATED;
        const uint8_t* header = image + at;
        uint32_t stored = Get16(header + 4);
        uint32_t unpacked = Get16(header + 6);
        at += dataHeaderSize;
        if (!Fits(at, stored, size))
            return CAB_CHECK_TRUNCATED;
        const uint8_t* data = image + at;
        // A zero length marks a block split across cabinets: a single
        // cabinet never has one.
        if (unpacked == 0 || unpacked > kBlockSize || stored == 0)
            return CAB_CHECK_BAD_BLOCK;
        if (method == kMethodStored && stored != unpacked)
            return CAB_CHECK_BAD_BLOCK;
        if (method == kMethodMszip && (stored < 2 || data[0] != 'C' || data[1] != 'K'))
            return CAB_CHECK_BAD_BLOCK;
        uint32_t expected = Get32(header);
        if (expected != 0) {
            uint32_t sum = CabDataChecksum(data, stored, 0);
            sum = CabDataChecksum(header + 4, dataHeaderSize - 4, sum);
            if (sum != expected)
                return CAB_CHECK_BAD_CHECKSUM;
        }
        at += stored;
        *length += unpacked;
    }
    return CAB_CHECK_OK;
}

} // namespace

uint32_t CabDataChecksum(const uint8_t* p, uint32_t count, uint32_t seed)
{
    uint32_t sum = seed;
    for (; count >= 4; count -= 4, p += 4)
        sum ^= Get32(p);
    switch (count) {
    case 3:
        sum ^= (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
        break;
    case 2:
        sum ^= (uint32_t(p[0]) << 8) | p[1];
        break;
    case 1:
        sum ^= p[0];
        break;
    }
    return sum;
}

CabCheckResult CabCheckImage(const uint8_t* image, uint32_t size)
{
    if (!image || size < kHeaderSize)
        return CAB_CHECK_TRUNCATED;
    if (!HasSignature(image) || Get16(image + 24) != kCabinetVersion)
        return CAB_CHECK_NOT_A_CABINET;
    // The cabinet states its own length: a download cut short or padded
    // differs from it.
    if (Get32(image + 8) != size)
        return CAB_CHECK_TRUNCATED;
    uint16_t flags = Get16(image + 30);
    if (flags & (kFlagPrevious | kFlagNext))
        return CAB_CHECK_BAD_TABLE;

    uint64_t at = kHeaderSize;
    uint32_t folderReserve = 0, dataReserve = 0;
    if (flags & kFlagReserve) {
        if (!Fits(at, 4, size))
            return CAB_CHECK_TRUNCATED;
        uint32_t headerReserve = Get16(image + at);
        folderReserve = image[at + 2];
        dataReserve = image[at + 3];
        at += 4 + uint64_t(headerReserve);
    }
    uint32_t folderCount = Get16(image + 26);
    uint32_t fileCount = Get16(image + 28);
    uint32_t folderEntrySize = kFolderEntrySize + folderReserve;
    if (!Fits(at, uint64_t(folderCount) * folderEntrySize, size))
        return CAB_CHECK_TRUNCATED;

    // Every folder's blocks, and the uncompressed length each one holds.
    // A payload cabinet has one folder or a few; more than the table holds
    // is refused rather than allocated for.
    uint64_t length[kMaxFolders];
    if (folderCount > kMaxFolders)
        return CAB_CHECK_BAD_TABLE;
    for (uint32_t f = 0; f < folderCount; ++f, at += folderEntrySize) {
        const uint8_t* entry = image + at;
        uint16_t method = Get16(entry + 6) & 0x000F;
        if (method != kMethodStored && method != kMethodMszip)
            return CAB_CHECK_BAD_TABLE;
        CabCheckResult r =
            CheckFolderBlocks(image, size, Get32(entry), Get16(entry + 4), method, kDataHeaderSize + dataReserve, &length[f]);
        if (r != CAB_CHECK_OK)
            return r;
    }

    // Every file must lie inside its folder's data and carry a name.
    at = Get32(image + 16);
    for (uint32_t i = 0; i < fileCount; ++i) {
        if (!Fits(at, kFileEntrySize, size))
            return CAB_CHECK_TRUNCATED;
        const uint8_t* entry = image + at;
        uint32_t fileSize = Get32(entry);
        uint32_t offset = Get32(entry + 4);
        uint16_t folder = Get16(entry + 8);
        if (folder >= folderCount || uint64_t(offset) + fileSize > length[folder])
            return CAB_CHECK_BAD_TABLE;
        at += kFileEntrySize;
        uint32_t n = 0;
        while (n <= kMaxName && at + n < size && image[at + n] != 0)
            ++n;
        if (n == 0 || n > kMaxName || at + n >= size)
            return CAB_CHECK_BAD_TABLE;
        at += n + 1;
    }
    return CAB_CHECK_OK;
}

bool CabListFileNames(const uint8_t* image, uint32_t size, void (*visit)(const char* name, void* context),
                      void* context)
{
    // The file table alone, every entry and name within the image first:
    // the blocks are the check's (CabCheckImage) and the decoder's.
    if (!image || size < kHeaderSize || !HasSignature(image) || Get16(image + 24) != kCabinetVersion)
        return false;
    uint32_t fileCount = Get16(image + 28);
    uint64_t at = Get32(image + 16);
    uint64_t start = at;
    for (uint32_t i = 0; i < fileCount; ++i) {
        if (!Fits(at, kFileEntrySize, size))
            return false;
        at += kFileEntrySize;
        const void* end = at < size ? memchr(image + at, 0, size - at) : nullptr;
        if (!end)
            return false;
        at = static_cast<const uint8_t*>(end) - image + 1;
    }
    at = start;
    for (uint32_t i = 0; i < fileCount; ++i) {
        at += kFileEntrySize;
        const char* name = reinterpret_cast<const char*>(image + at);
        visit(name, context);
        at += strlen(name) + 1;
    }
    return true;
}
