// The cabinet decoder's public surface: the records a client shares with the
// decoder, the notification, decryption and error codes, the callback types
// and the four CabDecoder operations. The decoder reads Microsoft Cabinet
// archives (version 1.3, stored and MSZIP folders) and does no memory or file
// work of its own: everything goes through the client's callbacks.
//
// cab/ is the ground floor: the payload's formats (this decoder with its
// MSZIP method, the payload check, the cabinet writer of the maker's tools
// and the "CVZB" container), plain C++ and zlib with no platform call,
// using nothing of the program above it.
#ifndef CAB_CAB_H
#define CAB_CAB_H

#include <stdint.h>

// Notification kinds, the first argument of CabNotifyCallback.
enum {
    CAB_NOTIFY_CABINET_INFO = 0,
    CAB_NOTIFY_PARTIAL_FILE = 1,
    CAB_NOTIFY_COPY_FILE = 2,
    CAB_NOTIFY_CLOSE_FILE_INFO = 3,
    CAB_NOTIFY_NEXT_CABINET = 4
};

// Decryption request kinds, CabDecryptRequest::kind.
enum {
    CAB_DECRYPT_NEW_CABINET = 0,
    CAB_DECRYPT_NEW_FOLDER = 1,
    CAB_DECRYPT_DATA = 2
};

// Error codes, CabErrorRecord::code.
enum {
    CAB_ERR_NONE = 0,
    CAB_ERR_CABINET_NOT_FOUND = 1,
    CAB_ERR_NOT_A_CABINET = 2,
    CAB_ERR_UNKNOWN_VERSION = 3,
    CAB_ERR_CORRUPT_CABINET = 4,
    CAB_ERR_ALLOC_FAIL = 5,
    CAB_ERR_BAD_COMPRESSION_TYPE = 6,
    CAB_ERR_DECOMPRESS_FAIL = 7,
    CAB_ERR_TARGET_FILE = 8,
    CAB_ERR_RESERVE_MISMATCH = 9,
    CAB_ERR_WRONG_CABINET = 10,
    CAB_ERR_USER_ABORT = 11
};

// Owned by the client. The decoder writes it only when it reports a failure
// and never clears it.
struct CabErrorRecord {
    int32_t code;    // one of CAB_ERR_*
    int32_t detail;  // the version word found for CAB_ERR_UNKNOWN_VERSION, else 0
    int32_t failed;  // 1 once any failure has been recorded
};

// Filled by CabDecoderIsCabinet from a cabinet's fixed header.
struct CabCabinetInfo {
    int32_t cabinetSize;
    uint16_t folderCount;
    uint16_t fileCount;
    uint16_t setId;
    uint16_t cabinetIndex;
    int32_t hasReserve;   // 1 when the header carries reserve sizes
    int32_t hasPrevious;  // 1 when a previous cabinet is named
    int32_t hasNext;      // 2 (the flag bit itself) when a next cabinet is named
};

// One record per decoder, filled before each notification. Fields a kind
// does not fill keep their earlier values and mean nothing for that kind.
struct CabNotification {
    int32_t size;
    char* text1;
    char* text2;
    char* text3;
    void* userValue;
    intptr_t fileHandle;
    uint16_t date;
    uint16_t time;
    uint16_t attributes;
    uint16_t setId;
    uint16_t cabinetIndex;
    uint16_t folderIndex;  // never filled
    int32_t errorCode;
};

// One record per decoder, filled before each decryption request. Which
// fields carry a value depends on the kind (see the comment on
// CabDecryptCallback).
struct CabDecryptRequest {
    int32_t kind;
    void* userValue;
    void* reserve;
    uint16_t reserveSize;
    uint16_t setId;
    int32_t cabinetIndex;
    uint16_t folderIndex;
    void* data;
    uint16_t dataSize;
    int32_t split;
    uint16_t partialSize;
};

// The callbacks mirror the run-time library's low-level calls so that a
// client can pass thin wrappers around malloc, free, _open, _read, _write,
// _close and _lseek. File handles are intptr_t so that they can hold a
// descriptor or a pointer on both 32- and 64-bit builds.
//
//   alloc   byte count -> memory, or null on failure
//   free    releases memory from alloc
//   open    path, flags, permission -> handle, or -1 on failure. The decoder
//           passes flags 0x8000 (binary, read-only) for the handle that reads
//           the file list and 0x8020 (binary, sequential) for the one that
//           reads data blocks, permission 0x0180 for both.
//   read    handle, buffer, count -> bytes read; (uint32_t)-1 on failure. A
//           short count is a failure wherever the decoder needs every byte.
//   write   handle, buffer, count -> bytes written; anything but the full
//           count is a failure
//   close   handle -> 0 on success
//   seek    handle, offset, origin (0 from start, 1 from current) -> new
//           position, or -1 on failure
//   notify  kind, notification -> depends on the kind: -1 always aborts;
//           for CAB_NOTIFY_COPY_FILE 0 skips the file and any other value is
//           the output handle; for CAB_NOTIFY_CLOSE_FILE_INFO the client
//           closes the handle and returns nonzero on success, 0 on failure
//   decrypt request -> -1 aborts, anything else continues.
//           CAB_DECRYPT_NEW_CABINET fills reserve, reserveSize, setId and
//           cabinetIndex; CAB_DECRYPT_NEW_FOLDER reserve, reserveSize and
//           folderIndex; CAB_DECRYPT_DATA reserve, reserveSize, data,
//           dataSize, split and partialSize.
typedef void* (*CabAllocCallback)(uint32_t size);
typedef void (*CabFreeCallback)(void* memory);
typedef intptr_t (*CabOpenCallback)(char* path, int flags, int mode);
typedef uint32_t (*CabReadCallback)(intptr_t handle, void* buffer, uint32_t count);
typedef uint32_t (*CabWriteCallback)(intptr_t handle, void* buffer, uint32_t count);
typedef int (*CabCloseCallback)(intptr_t handle);
typedef int32_t (*CabSeekCallback)(intptr_t handle, int32_t offset, int origin);
typedef intptr_t (*CabNotifyCallback)(int kind, CabNotification* notification);
typedef int (*CabDecryptCallback)(CabDecryptRequest* request);

// Longest cabinet folder (with its trailing separator) and longest joined
// folder and cabinet name the decoder accepts; longer ones are refused with
// CAB_ERR_CABINET_NOT_FOUND, since no such file can be opened through the
// decoder's buffers.
enum { CAB_MAX_CABINET_PATH = 256, CAB_MAX_FULL_PATH = 257 };

struct CabDecoder;

// Returns a decoder, or null with CAB_ERR_ALLOC_FAIL recorded.
CabDecoder* CabDecoderCreate(CabAllocCallback alloc, CabFreeCallback free, CabOpenCallback open,
                             CabReadCallback read, CabWriteCallback write, CabCloseCallback close,
                             CabSeekCallback seek, int processorType, CabErrorRecord* error);

// Reads the 36-byte header at the handle's current position and fills info.
// False for a non-cabinet (nothing recorded) or an unknown version (recorded).
bool CabDecoderIsCabinet(CabDecoder* decoder, intptr_t file, CabCabinetInfo* info);

// Walks the file list of cabinetPath + cabinetName, offering files to notify.
// True when the whole list (or that of the last cabinet reached after
// crossing into following cabinets) has been walked.
bool CabDecoderCopy(CabDecoder* decoder, const char* cabinetName, const char* cabinetPath, int flags,
                    CabNotifyCallback notify, CabDecryptCallback decrypt, void* userValue);

// Releases the method, its buffers, any open cabinet handles and the decoder.
bool CabDecoderDestroy(CabDecoder* decoder);

// True when a cabinet entry's name may be written below a target folder on
// Windows: relative, no ".." or "." part, no drive, stream or wildcard, and
// no part that Windows would not keep as written (ending in a dot or
// blank) or would take for a device (CON, PRN, AUX, NUL, COM1-9, LPT1-9,
// with or without an extension).
bool CabEntryNameIsSafe(const char* name);

// The data-block checksum of the format: little-endian 32-bit words XORed
// into seed, a short tail taken most significant byte first. A block's
// checksum is that of its stored bytes, then of its two size fields with
// the first result as seed. Shared by the decoder and the cabinet writer.
uint32_t CabDataChecksum(const uint8_t* bytes, uint32_t count, uint32_t seed);

// Results of CabCheckImage.
enum CabCheckResult {
    CAB_CHECK_OK = 0,
    CAB_CHECK_TRUNCATED,      // shorter or longer than the cabinet says, or a table or block runs past the end
    CAB_CHECK_NOT_A_CABINET,  // no "MSCF" signature or not version 1.3
    CAB_CHECK_BAD_TABLE,      // a folder or file entry that cannot be right, or part of a set of cabinets
    CAB_CHECK_BAD_BLOCK,      // a data block whose sizes or framing cannot be right for its method
    CAB_CHECK_BAD_CHECKSUM    // a data block whose checksum does not match
};

// Checks a whole single cabinet held in memory (size bytes) without
// decoding it: header, folder and file tables, and every data block's
// sizes, framing and checksum (a block whose checksum field is 0 carries
// none). Fast enough to run over a payload before a program's first page.
CabCheckResult CabCheckImage(const uint8_t* image, uint32_t size);
// Calls visit with each file name of a cabinet held in memory, in the
// order of its file table (the order a decoder delivers the files in);
// false, with no call, for a cabinet that fails CabCheckImage.
bool CabListFileNames(const uint8_t* image, uint32_t size, void (*visit)(const char* name, void* context),
                      void* context);

#endif
