// The cabinet decoder: walks a cabinet's file list, offers each file to the
// client through notifications and writes the accepted ones by decoding
// their folder's data blocks forward, crossing into following cabinets of a
// set when a folder runs on. All memory and file work goes through the
// client's callbacks; nothing here calls the platform.
#include "cab/cab.h"

#include <string.h>

#include "cab/cab_layout.h"
#include "cab/mszip.h"

namespace {

const uint16_t kMethodNone = 15;
const int32_t kNoFolder = 0xFFFF;
// Not yet learnt. A header reserve may itself be 0xFFFF bytes long, so the
// marker lies outside every size a cabinet can declare.
const int32_t kUnknownSize = -1;
const uint32_t kNameBufferSize = 257;  // 256 bytes read plus a terminator
const intptr_t kNoHandle = -1;

const uint16_t kFolderContinuedFromPrevious = 0xFFFD;
const uint16_t kFolderContinuedToNext = 0xFFFE;
const uint16_t kFolderContinuedBothWays = 0xFFFF;

const int kOpenCabinetFlags = 0x8000;
const int kOpenDataFlags = 0x8020;
const int kOpenPermission = 0x0180;

const uint16_t kAttributeRunAfterExtraction = 0x40;

}  // namespace

struct CabDecoder {
    CabErrorRecord* error;
    CabFreeCallback free;
    CabAllocCallback alloc;
    CabOpenCallback open;
    CabReadCallback read;
    CabWriteCallback write;
    CabCloseCallback close;
    CabSeekCallback seek;
    int32_t processorType;
    CabNotifyCallback notify;
    CabDecryptCallback decrypt;
    int32_t folderTableOffset;
    // Offset in the folder's uncompressed stream of the first byte in the
    // output buffer; 64 bits so that no offset plus size can wrap.
    uint64_t blockStart;
    MszipDecompressor* methodState;
    void* userValue;
    uint8_t* input;
    uint8_t* output;
    uint8_t* folderEntry;
    uint8_t* dataHeader;
    uint8_t* headerReserve;
    uint8_t header[kHeaderSize];
    uint8_t fileEntry[kFileEntrySize];
    intptr_t dataHandle;
    intptr_t cabinetHandle;
    intptr_t outputHandle;
    int32_t currentFolder;
    uint32_t outputSize;
    uint32_t inputSize;
    int32_t continuing;
    int32_t headerReserveSize;
    int32_t folderEntrySize;
    int32_t dataHeaderSize;
    int32_t filesLeft;
    int32_t skipCount;
    int32_t blocksLeft;
    uint16_t method;
    uint32_t blockLength;  // uncompressed bytes of the block in hand
    uint32_t storedLength; // stored bytes of the block in hand (all pieces)
    char fileName[kNameBufferSize];
    char previousCabinet[kNameBufferSize];
    char previousDisk[kNameBufferSize];
    char nextCabinet[kNameBufferSize];
    char nextDisk[kNameBufferSize];
    char cabinetPath[kNameBufferSize];
    char fullPath[kNameBufferSize + 1];
    CabNotification notification;
    CabDecryptRequest decryptRequest;
};

namespace {

uint16_t HeaderVersion(const uint8_t* h) { return Get16(h + 24); }
uint16_t HeaderFolderCount(const uint8_t* h) { return Get16(h + 26); }
uint16_t HeaderFileCount(const uint8_t* h) { return Get16(h + 28); }
uint16_t HeaderFlags(const uint8_t* h) { return Get16(h + 30); }
uint16_t HeaderSetId(const uint8_t* h) { return Get16(h + 32); }
uint16_t HeaderIndex(const uint8_t* h) { return Get16(h + 34); }

// Bounded copy into a buffer of size bytes; false (and nothing copied) when
// the text and its terminator do not fit.
bool CopyText(char* dest, size_t size, const char* text)
{
    size_t length = strlen(text);
    if (length >= size) return false;
    memcpy(dest, text, length + 1);
    return true;
}

bool Fail(CabDecoder* d, int32_t code, int32_t detail = 0)
{
    if (d->error) {
        d->error->code = code;
        d->error->detail = detail;
        d->error->failed = 1;
    }
    return false;
}

bool ReadExact(CabDecoder* d, intptr_t handle, void* buffer, uint32_t count)
{
    return d->read(handle, buffer, count) == count;
}

void CloseCabinetHandles(CabDecoder* d)
{
    if (d->cabinetHandle != kNoHandle) d->close(d->cabinetHandle);
    d->cabinetHandle = kNoHandle;
    if (d->dataHandle != kNoHandle) d->close(d->dataHandle);
    d->dataHandle = kNoHandle;
}

bool Notify(CabDecoder* d, int kind, intptr_t* result = nullptr)
{
    intptr_t answer = d->notify(kind, &d->notification);
    if (result) *result = answer;
    if (answer == -1) return Fail(d, CAB_ERR_USER_ABORT);
    return true;
}

bool Decrypt(CabDecoder* d)
{
    if (!d->decrypt) return true;
    d->decryptRequest.userValue = d->userValue;
    if (d->decrypt(&d->decryptRequest) == -1) return Fail(d, CAB_ERR_USER_ABORT);
    return true;
}

// Reads a NUL-terminated name of at most 255 characters at the cabinet
// handle's position and leaves the handle just after it.
bool ReadName(CabDecoder* d, char* dest)
{
    int32_t at = d->seek(d->cabinetHandle, 0, 1);
    if (at == -1) return Fail(d, CAB_ERR_CORRUPT_CABINET);
    uint32_t got = d->read(d->cabinetHandle, dest, kNameBufferSize - 1);
    if (got == 0 || got > kNameBufferSize - 1) return Fail(d, CAB_ERR_CORRUPT_CABINET);
    const void* end = memchr(dest, 0, got);
    if (!end) return Fail(d, CAB_ERR_CORRUPT_CABINET);
    int64_t next = int64_t(at) + (static_cast<const char*>(end) - dest) + 1;
    if (next > INT32_MAX || d->seek(d->cabinetHandle, int32_t(next), 0) == -1) return Fail(d, CAB_ERR_CORRUPT_CABINET);
    return true;
}

bool ReadFileEntry(CabDecoder* d)
{
    if (!ReadExact(d, d->cabinetHandle, d->fileEntry, kFileEntrySize)) return Fail(d, CAB_ERR_CORRUPT_CABINET);
    return ReadName(d, d->fileName);
}

// Opens cabinetPath + name on both handles and reads its header up to the
// file list. With expectIndex, the cabinet must be the given member of the
// given set.
bool OpenCabinet(CabDecoder* d, const char* name, bool expectIndex, uint16_t setId, int32_t index)
{
    size_t pathLength = strlen(d->cabinetPath);
    size_t nameLength = strlen(name);
    if (pathLength + nameLength > CAB_MAX_FULL_PATH) return Fail(d, CAB_ERR_CABINET_NOT_FOUND);
    memcpy(d->fullPath, d->cabinetPath, pathLength);
    memcpy(d->fullPath + pathLength, name, nameLength + 1);

    d->cabinetHandle = d->open(d->fullPath, kOpenCabinetFlags, kOpenPermission);
    if (d->cabinetHandle == kNoHandle) return Fail(d, CAB_ERR_CABINET_NOT_FOUND);
    d->dataHandle = d->open(d->fullPath, kOpenDataFlags, kOpenPermission);
    if (d->dataHandle == kNoHandle) return Fail(d, CAB_ERR_CABINET_NOT_FOUND);

    uint8_t header[kHeaderSize];
    if (!ReadExact(d, d->cabinetHandle, header, kHeaderSize) || !HasSignature(header))
        return Fail(d, CAB_ERR_NOT_A_CABINET);
    if (HeaderVersion(header) != kCabinetVersion) return Fail(d, CAB_ERR_UNKNOWN_VERSION, HeaderVersion(header));
    if (expectIndex && (HeaderSetId(header) != setId || HeaderIndex(header) != index))
        return Fail(d, CAB_ERR_WRONG_CABINET);
    memcpy(d->header, header, kHeaderSize);
    uint16_t flags = HeaderFlags(header);

    uint32_t folderReserve = 0, dataReserve = 0;
    if (flags & kFlagReserve) {
        uint8_t sizes[4];
        if (!ReadExact(d, d->cabinetHandle, sizes, 4)) return Fail(d, CAB_ERR_NOT_A_CABINET);
        folderReserve = sizes[2];
        dataReserve = sizes[3];
        if (d->headerReserveSize == kUnknownSize) {
            int32_t size = Get16(sizes);
            if (size > 0) {
                d->headerReserve = static_cast<uint8_t*>(d->alloc(uint32_t(size)));
                if (!d->headerReserve) return Fail(d, CAB_ERR_ALLOC_FAIL);
            }
            d->headerReserveSize = size;
        }
        // Every reserving cabinet of the set is read with the size learnt
        // from the first one.
        if (d->headerReserveSize > 0 &&
            !ReadExact(d, d->cabinetHandle, d->headerReserve, uint32_t(d->headerReserveSize)))
            return Fail(d, CAB_ERR_NOT_A_CABINET);
    }

    int32_t folderEntrySize = int32_t(8 + folderReserve);
    if (d->folderEntrySize == kUnknownSize) {
        d->folderEntry = static_cast<uint8_t*>(d->alloc(uint32_t(folderEntrySize)));
        if (!d->folderEntry) return Fail(d, CAB_ERR_ALLOC_FAIL);
        d->folderEntrySize = folderEntrySize;
    } else if (d->folderEntrySize != folderEntrySize) {
        return Fail(d, CAB_ERR_RESERVE_MISMATCH);
    }
    int32_t dataHeaderSize = int32_t(8 + dataReserve);
    if (d->dataHeaderSize == kUnknownSize) {
        d->dataHeader = static_cast<uint8_t*>(d->alloc(uint32_t(dataHeaderSize)));
        if (!d->dataHeader) return Fail(d, CAB_ERR_ALLOC_FAIL);
        d->dataHeaderSize = dataHeaderSize;
    } else if (d->dataHeaderSize != dataHeaderSize) {
        return Fail(d, CAB_ERR_RESERVE_MISMATCH);
    }

    d->previousCabinet[0] = d->previousDisk[0] = d->nextCabinet[0] = d->nextDisk[0] = 0;
    if (flags & kFlagPrevious) {
        if (!ReadName(d, d->previousCabinet) || !ReadName(d, d->previousDisk)) return false;
    }
    if (flags & kFlagNext) {
        if (!ReadName(d, d->nextCabinet) || !ReadName(d, d->nextDisk)) return false;
    }

    d->folderTableOffset = d->seek(d->cabinetHandle, 0, 1);
    if (d->folderTableOffset == -1) return Fail(d, CAB_ERR_CORRUPT_CABINET);
    uint32_t firstFile = Get32(header + 16);
    if (firstFile > INT32_MAX || d->seek(d->cabinetHandle, int32_t(firstFile), 0) == -1)
        return Fail(d, CAB_ERR_CORRUPT_CABINET);

    d->filesLeft = HeaderFileCount(header);
    d->notification.text1 = d->nextCabinet;
    d->notification.text2 = d->nextDisk;
    d->notification.text3 = d->cabinetPath;
    d->notification.userValue = d->userValue;
    d->notification.setId = HeaderSetId(header);
    d->notification.cabinetIndex = HeaderIndex(header);
    if (!Notify(d, CAB_NOTIFY_CABINET_INFO)) return false;

    d->decryptRequest.kind = CAB_DECRYPT_NEW_CABINET;
    d->decryptRequest.reserve = d->headerReserveSize > 0 && d->headerReserveSize != kUnknownSize ? d->headerReserve : nullptr;
    d->decryptRequest.reserveSize = uint16_t(d->headerReserveSize == kUnknownSize ? 0 : d->headerReserveSize);
    d->decryptRequest.setId = HeaderSetId(header);
    d->decryptRequest.cabinetIndex = HeaderIndex(header);
    return Decrypt(d);
}

// Releases the method in force. False when the MSZIP state refuses to go.
bool TearDownMethod(CabDecoder* d)
{
    bool ok = true;
    switch (d->method & 0xF) {
    case 15:
        return true;
    case 1:
        if (MszipDestroy(d->methodState) != MSZIP_OK) ok = false;
        d->methodState = nullptr;
        break;
    default:
        break;
    }
    d->free(d->input);
    d->free(d->output);
    d->input = d->output = nullptr;
    d->method = kMethodNone;
    return ok;
}

// Makes compression type word t the method in force. The buffers are kept
// as long as the word stays the same, so folders and copies of one type
// allocate nothing new.
bool SwitchMethod(CabDecoder* d, uint16_t t)
{
    if (t == d->method) return true;
    if (!TearDownMethod(d)) return Fail(d, CAB_ERR_DECOMPRESS_FAIL);

    uint32_t type = t & 0xF;
    if (type != 0 && type != 1) return Fail(d, CAB_ERR_BAD_COMPRESSION_TYPE);
    d->outputSize = kBlockSize;
    d->inputSize = kBlockSize;
    if (type == 1) {
        uint32_t window = kBlockSize;
        MszipCreate(&window, d->alloc, d->free, &d->inputSize, nullptr);
    }
    d->input = static_cast<uint8_t*>(d->alloc(d->inputSize));
    if (!d->input) return Fail(d, CAB_ERR_ALLOC_FAIL);
    d->output = static_cast<uint8_t*>(d->alloc(d->outputSize));
    if (!d->output) {
        d->free(d->input);
        d->input = nullptr;
        return Fail(d, CAB_ERR_ALLOC_FAIL);
    }
    if (type == 1) {
        uint32_t window = kBlockSize, inputSize = 0;
        int result = MszipCreate(&window, d->alloc, d->free, &inputSize, &d->methodState);
        if (result != MSZIP_OK) {
            d->free(d->input);
            d->free(d->output);
            d->input = d->output = nullptr;
            d->methodState = nullptr;
            return Fail(d, result == MSZIP_ALLOC_FAILED ? CAB_ERR_ALLOC_FAIL : CAB_ERR_DECOMPRESS_FAIL);
        }
    }
    d->method = t;
    return true;
}

bool ResetMethod(CabDecoder* d)
{
    switch (d->method & 0xF) {
    case 0:
    case 15:
        return true;
    case 1:
        if (MszipReset(d->methodState) != MSZIP_OK) return Fail(d, CAB_ERR_DECOMPRESS_FAIL);
        return true;
    default:
        return Fail(d, CAB_ERR_BAD_COMPRESSION_TYPE);
    }
}

// Positions the data handle at folder i's first data block. A folder that
// runs on from the previous cabinet must keep the method in force, since its
// history and any split block's first piece live in that method's buffers.
bool OpenFolder(CabDecoder* d, int32_t i, bool continuation)
{
    d->currentFolder = i;
    if (i >= HeaderFolderCount(d->header)) return Fail(d, CAB_ERR_CORRUPT_CABINET);
    int64_t at = int64_t(d->folderTableOffset) + int64_t(i) * d->folderEntrySize;
    if (at > INT32_MAX || d->seek(d->dataHandle, int32_t(at), 0) == -1 ||
        !ReadExact(d, d->dataHandle, d->folderEntry, uint32_t(d->folderEntrySize)))
        return Fail(d, CAB_ERR_CORRUPT_CABINET);
    uint32_t firstBlock = Get32(d->folderEntry);
    if (firstBlock > INT32_MAX || d->seek(d->dataHandle, int32_t(firstBlock), 0) == -1)
        return Fail(d, CAB_ERR_CORRUPT_CABINET);
    d->blocksLeft = Get16(d->folderEntry + 4);
    uint16_t type = Get16(d->folderEntry + 6);
    if (continuation && type != d->method) return Fail(d, CAB_ERR_CORRUPT_CABINET);
    if (!SwitchMethod(d, type)) return false;

    d->decryptRequest.kind = CAB_DECRYPT_NEW_FOLDER;
    d->decryptRequest.reserve = d->folderEntrySize > 8 ? d->folderEntry + 8 : nullptr;
    d->decryptRequest.reserveSize = uint16_t(d->folderEntrySize - 8);
    d->decryptRequest.folderIndex = uint16_t(i);
    return Decrypt(d);
}

// Moves on to the next cabinet of the set in the middle of a folder and
// passes over the file entries that continue from the cabinet left behind.
bool MoveToNextCabinet(CabDecoder* d)
{
    // A cabinet that names no successor cannot be continued; asking the
    // client would only repeat the same failed open.
    if (!(HeaderFlags(d->header) & kFlagNext)) return Fail(d, CAB_ERR_CORRUPT_CABINET);

    char name[kNameBufferSize];
    char disk[kNameBufferSize];
    memcpy(name, d->nextCabinet, kNameBufferSize);
    memcpy(disk, d->nextDisk, kNameBufferSize);
    uint16_t setId = HeaderSetId(d->header);
    int32_t index = int32_t(HeaderIndex(d->header)) + 1;
    int32_t errorCode = 0;

    for (;;) {
        memcpy(d->nextCabinet, name, kNameBufferSize);
        memcpy(d->nextDisk, disk, kNameBufferSize);
        d->notification.text1 = d->nextCabinet;
        d->notification.text2 = d->nextDisk;
        d->notification.text3 = d->cabinetPath;
        d->notification.userValue = d->userValue;
        d->notification.setId = setId;
        d->notification.cabinetIndex = uint16_t(index);
        d->notification.errorCode = errorCode;

        bool closed = true;
        if (d->dataHandle != kNoHandle && d->close(d->dataHandle) != 0) closed = false;
        d->dataHandle = kNoHandle;
        if (d->cabinetHandle != kNoHandle && d->close(d->cabinetHandle) != 0) closed = false;
        d->cabinetHandle = kNoHandle;
        if (!closed) return Fail(d, CAB_ERR_CORRUPT_CABINET);

        if (!Notify(d, CAB_NOTIFY_NEXT_CABINET)) return false;
        d->cabinetPath[kNameBufferSize - 1] = 0;  // the client may have rewritten it

        if (OpenCabinet(d, name, true, setId, index) && OpenFolder(d, 0, true)) break;
        if (d->error && d->error->code == CAB_ERR_USER_ABORT) return false;
        errorCode = d->error ? d->error->code : CAB_ERR_CABINET_NOT_FOUND;
    }

    for (int32_t i = 0; i <= d->skipCount; ++i) {
        if (d->filesLeft <= 0) return Fail(d, CAB_ERR_CORRUPT_CABINET);
        --d->filesLeft;
        if (!ReadFileEntry(d)) return false;
    }
    d->skipCount = 0;
    d->continuing = 1;
    return true;
}

// Reads one data block (or one piece of a split block) into the input
// buffer at offset k and checks it.
bool ReadDataBlock(CabDecoder* d, uint32_t k)
{
    if (!d->input) return Fail(d, CAB_ERR_BAD_COMPRESSION_TYPE);
    if (!ReadExact(d, d->dataHandle, d->dataHeader, uint32_t(d->dataHeaderSize))) return Fail(d, CAB_ERR_CORRUPT_CABINET);
    uint32_t stored = Get16(d->dataHeader + 4);
    if (k + stored > d->inputSize) return Fail(d, CAB_ERR_CORRUPT_CABINET);
    if (!ReadExact(d, d->dataHandle, d->input + k, stored)) return Fail(d, CAB_ERR_CORRUPT_CABINET);
    uint32_t expected = Get32(d->dataHeader);
    if (expected != 0) {
        uint32_t sum = CabDataChecksum(d->input + k, stored, 0);
        sum = CabDataChecksum(d->dataHeader + 4, uint32_t(d->dataHeaderSize - 4), sum);
        if (sum != expected) return Fail(d, CAB_ERR_CORRUPT_CABINET);
    }
    d->storedLength = k + stored;

    d->decryptRequest.kind = CAB_DECRYPT_DATA;
    d->decryptRequest.reserve = d->dataHeaderSize > 8 ? d->dataHeader + 8 : nullptr;
    d->decryptRequest.reserveSize = uint16_t(d->dataHeaderSize - 8);
    d->decryptRequest.data = d->input + k;
    d->decryptRequest.dataSize = uint16_t(d->storedLength);
    d->decryptRequest.split = k > 0 || Get16(d->dataHeader + 6) == 0;
    d->decryptRequest.partialSize = uint16_t(k);
    return Decrypt(d);
}

bool ReadNextBlock(CabDecoder* d)
{
    d->blockStart += d->blockLength;
    d->blockLength = 0;
    if (d->blocksLeft <= 0) {
        if (!MoveToNextCabinet(d)) return false;
        if (d->blocksLeft <= 0) return Fail(d, CAB_ERR_CORRUPT_CABINET);
    }
    --d->blocksLeft;
    if (!ReadDataBlock(d, 0)) return false;
    uint32_t expected = Get16(d->dataHeader + 6);
    if (expected == 0) {
        // A split block: its second piece is the first block of the next
        // cabinet's first folder, and counts among that folder's blocks.
        if (!MoveToNextCabinet(d)) return false;
        if (d->blocksLeft > 0) --d->blocksLeft;
        if (!ReadDataBlock(d, d->storedLength)) return false;
        expected = Get16(d->dataHeader + 6);
    }

    uint32_t produced;
    switch (d->method & 0xF) {
    case 0:
        produced = d->storedLength <= d->outputSize ? d->storedLength : d->outputSize;
        memcpy(d->output, d->input, produced);
        if (produced != d->storedLength) return Fail(d, CAB_ERR_DECOMPRESS_FAIL);
        break;
    case 1:
        produced = d->outputSize;
        if (MszipDecompress(d->methodState, d->input, d->storedLength, d->output, &produced) != MSZIP_OK)
            return Fail(d, CAB_ERR_DECOMPRESS_FAIL);
        break;
    default:
        return Fail(d, CAB_ERR_BAD_COMPRESSION_TYPE);
    }
    if (produced != expected) return Fail(d, CAB_ERR_DECOMPRESS_FAIL);
    d->blockLength = produced;
    return true;
}

bool SelectFolder(CabDecoder* d, uint16_t folderIndex)
{
    int32_t folder;
    if (d->continuing) {
        folder = d->currentFolder;
    } else if (folderIndex < kFolderContinuedFromPrevious) {
        if (folderIndex >= HeaderFolderCount(d->header)) return Fail(d, CAB_ERR_CORRUPT_CABINET);
        folder = folderIndex;
    } else {
        if (HeaderFolderCount(d->header) == 0) return Fail(d, CAB_ERR_CORRUPT_CABINET);
        folder = HeaderFolderCount(d->header) - 1;
    }
    if (folder == kNoFolder) return Fail(d, CAB_ERR_CORRUPT_CABINET);
    if (folder == d->currentFolder) return true;

    if (!ResetMethod(d) || !OpenFolder(d, folder, false)) return false;
    d->blockStart = 0;
    d->blockLength = 0;
    // A folder without blocks (only empty files) has nothing to read.
    if (d->blocksLeft > 0) return ReadNextBlock(d);
    return true;
}

bool ExtractFile(CabDecoder* d)
{
    uint64_t remaining = Get32(d->fileEntry);
    uint64_t position = Get32(d->fileEntry + 4);
    if (!SelectFolder(d, Get16(d->fileEntry + 8))) return false;

    if (remaining > 0) {
        // Data is read forward only; a file listed out of folder order would
        // need the folder decoded again from its start, which a damaged
        // cabinet could make arbitrarily costly, so it is refused.
        if (position < d->blockStart) return Fail(d, CAB_ERR_CORRUPT_CABINET);
        while (position >= d->blockStart + d->blockLength) {
            if (!ReadNextBlock(d)) return false;
        }
        for (;;) {
            uint32_t offset = uint32_t(position - d->blockStart);
            uint64_t available = d->blockLength - offset;
            uint32_t n = uint32_t(remaining < available ? remaining : available);
            if (d->write(d->outputHandle, d->output + offset, n) != n) return Fail(d, CAB_ERR_TARGET_FILE);
            position += n;
            remaining -= n;
            if (remaining == 0) break;
            if (!ReadNextBlock(d)) return false;
        }
    }

    uint16_t attributes = Get16(d->fileEntry + 14);
    d->notification.text1 = d->fileName;
    d->notification.fileHandle = d->outputHandle;
    d->notification.date = Get16(d->fileEntry + 10);
    d->notification.time = Get16(d->fileEntry + 12);
    d->notification.attributes = uint16_t(attributes & ~kAttributeRunAfterExtraction);
    d->notification.size = (attributes & kAttributeRunAfterExtraction) ? 1 : 0;
    d->notification.userValue = d->userValue;
    intptr_t result;
    if (!Notify(d, CAB_NOTIFY_CLOSE_FILE_INFO, &result)) return false;
    d->outputHandle = kNoHandle;
    if (result == 0) return Fail(d, CAB_ERR_TARGET_FILE);
    return true;
}

bool WalkFiles(CabDecoder* d)
{
    while (d->filesLeft > 0) {
        --d->filesLeft;
        if (!ReadFileEntry(d)) return false;
        d->notification.size = int32_t(Get32(d->fileEntry));
        d->notification.text1 = d->fileName;
        d->notification.text2 = d->previousCabinet;
        d->notification.text3 = d->previousDisk;
        d->notification.date = Get16(d->fileEntry + 10);
        d->notification.time = Get16(d->fileEntry + 12);
        d->notification.attributes = Get16(d->fileEntry + 14);
        d->notification.userValue = d->userValue;

        uint16_t folderIndex = Get16(d->fileEntry + 8);
        bool fromPrevious = folderIndex == kFolderContinuedFromPrevious || folderIndex == kFolderContinuedBothWays;
        if (fromPrevious && !d->continuing) {
            if (!Notify(d, CAB_NOTIFY_PARTIAL_FILE)) return false;
            continue;
        }
        if (!fromPrevious && d->continuing) continue;

        intptr_t handle;
        if (!Notify(d, CAB_NOTIFY_COPY_FILE, &handle)) return false;
        if (handle == 0) {
            if (folderIndex == kFolderContinuedToNext || folderIndex == kFolderContinuedBothWays) ++d->skipCount;
            continue;
        }
        d->outputHandle = handle;
        if (!ExtractFile(d)) {
            if (d->outputHandle != kNoHandle) d->close(d->outputHandle);
            d->outputHandle = kNoHandle;
            return false;
        }
    }
    return true;
}

}  // namespace

CabDecoder* CabDecoderCreate(CabAllocCallback alloc, CabFreeCallback free, CabOpenCallback open,
                             CabReadCallback read, CabWriteCallback write, CabCloseCallback close,
                             CabSeekCallback seek, int processorType, CabErrorRecord* error)
{
    CabDecoder* d = static_cast<CabDecoder*>(alloc(sizeof(CabDecoder)));
    if (!d) {
        if (error) {
            error->code = CAB_ERR_ALLOC_FAIL;
            error->detail = 0;
            error->failed = 1;
        }
        return nullptr;
    }
    memset(d, 0, sizeof(*d));
    d->error = error;
    d->free = free;
    d->alloc = alloc;
    d->open = open;
    d->read = read;
    d->write = write;
    d->close = close;
    d->seek = seek;
    d->processorType = processorType;
    d->method = kMethodNone;
    d->dataHandle = d->cabinetHandle = d->outputHandle = kNoHandle;
    d->currentFolder = kNoFolder;
    d->headerReserveSize = d->folderEntrySize = d->dataHeaderSize = kUnknownSize;
    return d;
}

bool CabDecoderIsCabinet(CabDecoder* d, intptr_t file, CabCabinetInfo* info)
{
    uint8_t header[kHeaderSize];
    if (!ReadExact(d, file, header, kHeaderSize) || !HasSignature(header)) return false;
    if (HeaderVersion(header) != kCabinetVersion) return Fail(d, CAB_ERR_UNKNOWN_VERSION, HeaderVersion(header));
    uint16_t flags = HeaderFlags(header);
    info->cabinetSize = int32_t(Get32(header + 8));
    info->folderCount = HeaderFolderCount(header);
    info->fileCount = HeaderFileCount(header);
    info->setId = HeaderSetId(header);
    info->cabinetIndex = HeaderIndex(header);
    info->hasReserve = (flags & kFlagReserve) ? 1 : 0;
    info->hasPrevious = (flags & kFlagPrevious) ? 1 : 0;
    info->hasNext = flags & kFlagNext;
    return true;
}

bool CabDecoderCopy(CabDecoder* d, const char* cabinetName, const char* cabinetPath, int flags,
                    CabNotifyCallback notify, CabDecryptCallback decrypt, void* userValue)
{
    (void)flags;
    d->notify = notify;
    d->decrypt = decrypt;
    d->userValue = userValue;
    d->skipCount = 0;
    d->continuing = 0;
    d->currentFolder = kNoFolder;

    bool ok = false;
    if (!cabinetPath) cabinetPath = "";
    if (!cabinetName || strlen(cabinetName) >= kNameBufferSize ||
        !CopyText(d->cabinetPath, CAB_MAX_CABINET_PATH + 1, cabinetPath)) {
        Fail(d, CAB_ERR_CABINET_NOT_FOUND);
    } else if (OpenCabinet(d, cabinetName, false, 0, 0)) {
        d->continuing = 0;
        d->currentFolder = kNoFolder;
        ok = WalkFiles(d);
    }
    CloseCabinetHandles(d);
    return ok;
}

bool CabDecoderDestroy(CabDecoder* d)
{
    if (!d) return true;
    TearDownMethod(d);
    if (d->headerReserve) d->free(d->headerReserve);
    if (d->folderEntry) d->free(d->folderEntry);
    if (d->dataHeader) d->free(d->dataHeader);
    CloseCabinetHandles(d);
    d->free(d);
    return true;
}
