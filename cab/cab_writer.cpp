// The cabinet writer: the header, one folder entry and the file list are
// known before any data is compressed, so the cabinet is laid out in one
// pass; only its total size is filled in at the end. The folder's data is
// read a batch of blocks at a time and the blocks of a batch are
// compressed on several threads at once: each block needs nothing but its
// own bytes and the previous block's, so the result does not depend on how
// the work was shared.
#include "cab/cab_writer.h"

#include <string.h>

#include <algorithm>
#include <thread>

#include <zlib.h>

#include "cab/cab.h"
#include "cab/cab_layout.h"

namespace {

// Blocks compressed per thread and batch: enough to keep the threads busy
// for a while, little enough to keep the memory small (about 1 MB a thread).
const uint32_t kBlocksPerThread = 16;
// The match search of MszipEncodeBlock (zlib's deflateTune).
const int kGoodLength = 4, kLazyLength = 16, kNiceLength = 64, kChainLength = 64;
// The progress counter of the setup program is a signed 32-bit number.
const uint64_t kLargestFolder = 0x7FFFFFFF;

void Put16(std::vector<uint8_t>* out, uint32_t v)
{
    out->push_back(uint8_t(v));
    out->push_back(uint8_t(v >> 8));
}

void Put32(std::vector<uint8_t>* out, uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

void Set32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

bool PlainName(const std::string& name)
{
    if (name.empty() || name.size() > CAB_WRITER_MAX_NAME) return false;
    // Folders are separated by backslashes in a cabinet; a slash would
    // reach the installer as part of a name.
    for (unsigned char c : name)
        if (c < 0x20 || c > 0x7E || c == '/') return false;
    return true;
}

// A deflate stored block holding the data as it is: never larger than the
// limit, whatever the data.
uint32_t StoredBlock(const uint8_t* data, uint32_t size, uint8_t* out)
{
    out[0] = 'C';
    out[1] = 'K';
    out[2] = 0x01;  // final block, stored
    out[3] = uint8_t(size);
    out[4] = uint8_t(size >> 8);
    out[5] = uint8_t(~size);
    out[6] = uint8_t(~size >> 8);
    memcpy(out + 7, data, size);
    return size + 7;
}

struct BatchJob {
    MszipEncoder* encoder;
    const uint8_t* window;  // slot 0: the block before the batch; slot i + 1: block i
    const uint32_t* sizes;
    uint32_t count;
    uint32_t first;         // this job takes blocks first, first + step, ...
    uint32_t step;
    bool hasHistory;        // slot 0 holds the previous block
    uint8_t* out;
    uint32_t* outSizes;
};

void EncodeBatchShare(BatchJob job)
{
    for (uint32_t i = job.first; i < job.count; i += job.step) {
        const uint8_t* history = i > 0 || job.hasHistory ? job.window + size_t(i) * CAB_WRITER_BLOCK_SIZE : nullptr;
        job.outSizes[i] =
            MszipEncodeBlock(job.encoder, history, history ? CAB_WRITER_BLOCK_SIZE : 0,
                             job.window + size_t(i + 1) * CAB_WRITER_BLOCK_SIZE, job.sizes[i],
                             job.out + size_t(i) * CAB_WRITER_MAX_STORED);
    }
}

}  // namespace

struct MszipEncoder {
    z_stream stream;
};

MszipEncoder* MszipEncoderCreate(int level)
{
    MszipEncoder* encoder = new MszipEncoder;
    memset(&encoder->stream, 0, sizeof encoder->stream);
    // Raw deflate (no zlib header) with the full 32 KB window the format
    // allows.
    if (deflateInit2(&encoder->stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        delete encoder;
        return nullptr;
    }
    return encoder;
}

void MszipEncoderDestroy(MszipEncoder* encoder)
{
    if (!encoder) return;
    deflateEnd(&encoder->stream);
    delete encoder;
}

uint32_t MszipEncodeBlock(MszipEncoder* encoder, const uint8_t* history, uint32_t historySize, const uint8_t* data,
                          uint32_t size, uint8_t* out)
{
    z_stream* z = &encoder->stream;
    // zlib's level 6 with a shorter search for matches (64 steps where it
    // takes 128, lazy matching cut short at 4 bytes instead of 8): with the
    // previous block as dictionary the cabinets still come out smaller than
    // gcab's, in about two thirds of the time. A reset restores the
    // level's own settings, so they are set for every block.
    if (deflateReset(z) != Z_OK || deflateTune(z, kGoodLength, kLazyLength, kNiceLength, kChainLength) != Z_OK)
        return 0;
    if (history && historySize > 0 && deflateSetDictionary(z, history, historySize) != Z_OK) return 0;
    out[0] = 'C';
    out[1] = 'K';
    z->next_in = const_cast<Bytef*>(data);
    z->avail_in = size;
    z->next_out = out + 2;
    z->avail_out = CAB_WRITER_MAX_STORED - 2;
    int result = deflate(z, Z_FINISH);
    if (result == Z_STREAM_END) {
        uint32_t stored = uint32_t(2 + z->total_out);
        // Noise comes out a little larger than it went in: store it instead.
        if (stored <= size + 7) return stored;
    } else if (result != Z_OK && result != Z_BUF_ERROR) {
        return 0;
    }
    return StoredBlock(data, size, out);
}

CabWriterResult WriteCabinet(const std::vector<CabWriterEntry>& entries, CabWriterReadCallback read, void* user,
                             int level, unsigned threads, std::vector<uint8_t>* cabinet)
{
    cabinet->clear();
    if (entries.size() > CAB_WRITER_MAX_ENTRIES) return CAB_WRITER_TOO_LARGE;
    uint64_t total = 0;
    uint32_t fileListSize = 0;
    for (const CabWriterEntry& e : entries) {
        if (!PlainName(e.name)) return CAB_WRITER_BAD_NAME;
        total += e.size;
        fileListSize += kFileEntrySize + uint32_t(e.name.size()) + 1;
    }
    uint64_t blocks = (total + CAB_WRITER_BLOCK_SIZE - 1) / CAB_WRITER_BLOCK_SIZE;
    if (total > kLargestFolder || blocks > CAB_WRITER_MAX_BLOCKS) return CAB_WRITER_TOO_LARGE;

    uint32_t firstFile = kHeaderSize + kFolderEntrySize;
    uint32_t firstBlock = firstFile + fileListSize;
    std::vector<uint8_t>& out = *cabinet;
    out.reserve(firstBlock + size_t(total) / 2 + 4096);
    // Header: signature, reserved, size (filled in last), reserved, first
    // file entry, reserved, version 1.3, one folder, the files, no flags,
    // set 0, index 0.
    out.insert(out.end(), {'M', 'S', 'C', 'F'});
    Put32(&out, 0);
    Put32(&out, 0);
    Put32(&out, 0);
    Put32(&out, firstFile);
    Put32(&out, 0);
    out.push_back(3);
    out.push_back(1);
    Put16(&out, 1);
    Put16(&out, uint32_t(entries.size()));
    Put16(&out, 0);
    Put16(&out, 0);
    Put16(&out, 0);
    Put32(&out, firstBlock);
    Put16(&out, uint32_t(blocks));
    Put16(&out, kMethodMszip);
    uint32_t offset = 0;
    for (const CabWriterEntry& e : entries) {
        Put32(&out, e.size);
        Put32(&out, offset);
        Put16(&out, 0);
        Put16(&out, e.date);
        Put16(&out, e.time);
        Put16(&out, e.attributes);
        out.insert(out.end(), e.name.begin(), e.name.end());
        out.push_back(0);
        offset += e.size;
    }

    if (threads == 0) threads = 1;
    if (threads > blocks) threads = blocks > 0 ? unsigned(blocks) : 1;
    std::vector<MszipEncoder*> encoders;
    CabWriterResult result = CAB_WRITER_OK;
    for (unsigned t = 0; t < threads && result == CAB_WRITER_OK; ++t) {
        encoders.push_back(MszipEncoderCreate(level));
        if (!encoders.back()) result = CAB_WRITER_DEFLATE_FAILED;
    }

    const uint32_t perBatch = threads * kBlocksPerThread;
    std::vector<uint8_t> window(size_t(perBatch + 1) * CAB_WRITER_BLOCK_SIZE);
    std::vector<uint8_t> packed(size_t(perBatch) * CAB_WRITER_MAX_STORED);
    std::vector<uint32_t> sizes(perBatch), packedSizes(perBatch);
    uint64_t left = total;
    bool hasHistory = false;
    while (left > 0 && result == CAB_WRITER_OK) {
        uint32_t count = 0;
        uint64_t batchBytes = 0;
        while (count < perBatch && batchBytes < left) {
            uint64_t size = std::min<uint64_t>(left - batchBytes, CAB_WRITER_BLOCK_SIZE);
            sizes[count++] = uint32_t(size);
            batchBytes += size;
        }
        if (!read(user, window.data() + CAB_WRITER_BLOCK_SIZE, uint32_t(batchBytes))) {
            result = CAB_WRITER_READ_FAILED;
            break;
        }
        std::vector<std::thread> helpers;
        BatchJob job = {nullptr, window.data(), sizes.data(), count, 0, threads, hasHistory,
                        packed.data(), packedSizes.data()};
        for (unsigned t = 1; t < threads; ++t) {
            job.encoder = encoders[t];
            job.first = t;
            helpers.emplace_back(EncodeBatchShare, job);
        }
        job.encoder = encoders[0];
        job.first = 0;
        EncodeBatchShare(job);
        for (std::thread& helper : helpers) helper.join();

        for (uint32_t i = 0; i < count; ++i) {
            uint32_t stored = packedSizes[i];
            if (stored == 0) {
                result = CAB_WRITER_DEFLATE_FAILED;
                break;
            }
            const uint8_t* data = packed.data() + size_t(i) * CAB_WRITER_MAX_STORED;
            uint8_t header[kDataHeaderSize] = {0, 0, 0, 0, uint8_t(stored), uint8_t(stored >> 8), uint8_t(sizes[i]),
                                               uint8_t(sizes[i] >> 8)};
            Set32(header, CabDataChecksum(header + 4, 4, CabDataChecksum(data, stored, 0)));
            out.insert(out.end(), header, header + kDataHeaderSize);
            out.insert(out.end(), data, data + stored);
        }
        // Every block but the folder's last is full, so the next batch's
        // history is always a whole block.
        memcpy(window.data(), window.data() + size_t(count) * CAB_WRITER_BLOCK_SIZE, CAB_WRITER_BLOCK_SIZE);
        hasHistory = true;
        left -= batchBytes;
    }
    for (MszipEncoder* e : encoders) MszipEncoderDestroy(e);
    if (result != CAB_WRITER_OK) {
        cabinet->clear();
        return result;
    }
    // At most 2 GiB of data, each block grown by 15 bytes at the most: the
    // size always fits its 32-bit field.
    Set32(out.data() + 8, uint32_t(out.size()));
    return CAB_WRITER_OK;
}

const char* CabWriterResultText(CabWriterResult result)
{
    switch (result) {
    case CAB_WRITER_OK:
        return "written";
    case CAB_WRITER_BAD_NAME:
        return "a file name is empty, longer than 255 characters or not plain ASCII";
    case CAB_WRITER_TOO_LARGE:
        return "more than 65535 files or 2 GiB of data, more than one cabinet can hold";
    case CAB_WRITER_READ_FAILED:
        return "a file could not be read";
    case CAB_WRITER_DEFLATE_FAILED:
        return "zlib could not compress the data (not enough memory)";
    }
    return "unknown error";
}
