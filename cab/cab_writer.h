// The cabinet writer, the maker's side of the format that cab.h decodes: one
// cabinet (version 1.3, no set, no reserve) holding one MSZIP folder, its
// data blocks checksummed. Each 32 KB block is "CK" followed by a raw
// deflate stream from zlib that has the previous block as its preset
// dictionary, so back-references may reach into the previous block as the
// decoder's history allows. Plain C++ and zlib, no platform call; the
// output depends on the input and the zlib version only, never on the
// number of threads or the machine.
#ifndef CAB_CAB_WRITER_H
#define CAB_CAB_WRITER_H

#include <stdint.h>

#include <string>
#include <vector>

enum {
    CAB_WRITER_BLOCK_SIZE = 32768,
    // Stored bytes of one block at most: the decoder's input buffer, the
    // window and 12 bytes. A block that deflate cannot fit is stored.
    CAB_WRITER_MAX_STORED = 32768 + 12,
    CAB_WRITER_MAX_NAME = 255,
    CAB_WRITER_MAX_ENTRIES = 65535,
    // The folder's blocks are counted in 16 bits.
    CAB_WRITER_MAX_BLOCKS = 65535,
};

struct CabWriterEntry {
    std::string name;     // relative path, folders separated by '\', ASCII or UTF-8 (CAB_WRITER_NAME_IS_UTF8)
    uint32_t size;
    uint16_t date;        // MS-DOS date and time, as the decoder hands them on
    uint16_t time;
    uint16_t attributes;  // MS-DOS attribute bits (0x01 read-only, 0x20 archive), CAB_WRITER_NAME_IS_UTF8
};
// The attribute bit that says a name is UTF-8 (a cabinet's names are
// otherwise read in the code page of the machine that reads them).
const uint16_t CAB_WRITER_NAME_IS_UTF8 = 0x80;

// Fills buffer with the next count bytes of the folder: the entries'
// contents one after the other, in list order. False when they cannot be
// read; the writer then stops.
typedef bool (*CabWriterReadCallback)(void* user, uint8_t* buffer, uint32_t count);

enum CabWriterResult {
    CAB_WRITER_OK = 0,
    CAB_WRITER_BAD_NAME,       // empty, longer than 255 bytes, beyond ASCII without the UTF-8 mark, or with a '/'
    CAB_WRITER_TOO_LARGE,      // more entries or blocks than the format counts, or over 2 GiB
    CAB_WRITER_READ_FAILED,    // the read callback failed
    CAB_WRITER_DEFLATE_FAILED, // zlib refused (out of memory)
    CAB_WRITER_WRITE_FAILED,   // the sink refused the bytes
};

// Where the cabinet goes as it is made. write appends count bytes; patch
// overwrites bytes already written (the writer patches the header's total
// size, 4 bytes at offset 8, once, after the last block). False from either
// stops the writer.
struct CabWriterSink {
    void* user;
    bool (*write)(void* user, const uint8_t* data, uint32_t count);
    bool (*patch)(void* user, uint32_t offset, const uint8_t* data, uint32_t count);
};

// Writes the cabinet into sink as it goes, holding a few batches of blocks
// in memory whatever the folder's size, and leaves its size in *size.
// level is zlib's (1-9); threads is how many worker threads compress
// blocks (0 counts as 1) while this thread reads and writes.
CabWriterResult WriteCabinetTo(const std::vector<CabWriterEntry>& entries, CabWriterReadCallback read, void* user,
                               int level, unsigned threads, const CabWriterSink& sink, uint32_t* size);

// The same, into *cabinet in memory.
CabWriterResult WriteCabinet(const std::vector<CabWriterEntry>& entries, CabWriterReadCallback read, void* user,
                             int level, unsigned threads, std::vector<uint8_t>* cabinet);

// One block's encoder (a zlib stream kept from block to block).
struct MszipEncoder;
MszipEncoder* MszipEncoderCreate(int level);
void MszipEncoderDestroy(MszipEncoder* encoder);
// Encodes size bytes (at most 32768) into out, which holds
// CAB_WRITER_MAX_STORED bytes: "CK" and a raw deflate stream whose preset
// dictionary is history (the previous block, or nothing for a folder's
// first). Returns the stored byte count, or 0 when zlib fails.
uint32_t MszipEncodeBlock(MszipEncoder* encoder, const uint8_t* history, uint32_t historySize, const uint8_t* data,
                          uint32_t size, uint8_t* out);

const char* CabWriterResultText(CabWriterResult result);

#endif
