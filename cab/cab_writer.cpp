// The cabinet writer: the header, one folder entry and the file list are
// known before any data is compressed, so the cabinet is written out in one
// pass; only its total size is patched in at the end. The folder's data is
// read a batch of blocks at a time and the blocks are compressed on worker
// threads while the batch before is written and the batch after is read:
// each block needs nothing but its own bytes and the previous block's, so
// the result does not depend on how the work was shared, and the memory
// held is two batches whatever the folder's size.
#include "cab/cab_writer.h"

#include <string.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <zlib.h>

#include "cab/cab.h"
#include "cab/cab_layout.h"

namespace {

// Blocks per worker and batch: enough to keep the workers busy for a
// while, little enough to keep the memory small (two batches, about 2 MB a
// worker).
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

bool PlainName(const std::string& name, uint16_t attributes)
{
    if (name.empty() || name.size() > CAB_WRITER_MAX_NAME) return false;
    // Folders are separated by backslashes in a cabinet; a slash would
    // reach the installer as part of a name. Letters beyond ASCII only in
    // a name the entry says is UTF-8.
    bool utf8 = (attributes & CAB_WRITER_NAME_IS_UTF8) != 0;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || c == '/' || (c > 0x7F && !utf8)) return false;
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

namespace {

// One batch of consecutive blocks: their bytes with the block before them
// as the first block's history, and their compressed forms.
struct Batch {
    std::vector<uint8_t> window;  // slot 0: the block before the batch; slot i + 1: block i
    std::vector<uint8_t> packed;  // block i at i * CAB_WRITER_MAX_STORED
    std::vector<uint32_t> sizes, packedSizes;
    uint32_t count = 0;
    uint32_t taken = 0;     // blocks handed to a worker
    uint32_t finished = 0;  // blocks compressed
    bool hasHistory = false;
};

// The workers and the batches waiting for them. Two batches are in flight:
// while the workers compress one, this thread writes out the one before
// and reads the one after, so that neither side waits for the disk.
struct Pool {
    std::mutex lock;
    std::condition_variable work, finished;
    Batch* queue[2] = {nullptr, nullptr};  // batches with blocks not yet taken, oldest first
    int queued = 0;
    bool stop = false;
};

void CompressBlocks(Pool* pool, MszipEncoder* encoder)
{
    std::unique_lock<std::mutex> hold(pool->lock);
    for (;;) {
        pool->work.wait(hold, [pool] { return pool->stop || pool->queued > 0; });
        if (pool->stop) return;
        Batch* batch = pool->queue[0];
        uint32_t i = batch->taken++;
        if (batch->taken == batch->count) {
            pool->queue[0] = pool->queue[1];
            pool->queue[1] = nullptr;
            --pool->queued;
        }
        hold.unlock();
        const uint8_t* history =
            i > 0 || batch->hasHistory ? batch->window.data() + size_t(i) * CAB_WRITER_BLOCK_SIZE : nullptr;
        batch->packedSizes[i] = MszipEncodeBlock(encoder, history, history ? CAB_WRITER_BLOCK_SIZE : 0,
                                                 batch->window.data() + size_t(i + 1) * CAB_WRITER_BLOCK_SIZE,
                                                 batch->sizes[i], batch->packed.data() + size_t(i) * CAB_WRITER_MAX_STORED);
        hold.lock();
        if (++batch->finished == batch->count) pool->finished.notify_all();
    }
}

void Post(Pool* pool, Batch* batch)
{
    std::lock_guard<std::mutex> hold(pool->lock);
    batch->taken = batch->finished = 0;
    pool->queue[pool->queued++] = batch;
    pool->work.notify_all();
}

void WaitFor(Pool* pool, Batch* batch)
{
    std::unique_lock<std::mutex> hold(pool->lock);
    pool->finished.wait(hold, [batch] { return batch->finished == batch->count; });
}

// Reads the next blocks of the folder into batch, after history (the last
// block of the batch before, or nothing for the folder's first).
bool FillBatch(Batch* batch, const uint8_t* history, uint32_t perBatch, uint64_t* left, CabWriterReadCallback read,
               void* user)
{
    batch->count = 0;
    uint64_t bytes = 0;
    while (batch->count < perBatch && bytes < *left) {
        uint64_t size = std::min<uint64_t>(*left - bytes, CAB_WRITER_BLOCK_SIZE);
        batch->sizes[batch->count++] = uint32_t(size);
        bytes += size;
    }
    batch->hasHistory = history != nullptr;
    // Every block but the folder's last is full, so the history is always
    // a whole block.
    if (history) memcpy(batch->window.data(), history, CAB_WRITER_BLOCK_SIZE);
    *left -= bytes;
    return read(user, batch->window.data() + CAB_WRITER_BLOCK_SIZE, uint32_t(bytes));
}

const uint8_t* LastBlock(const Batch& batch) { return batch.window.data() + size_t(batch.count) * CAB_WRITER_BLOCK_SIZE; }

// The compressed blocks of a batch, each behind its header and checksum.
CabWriterResult WriteBatch(const Batch& batch, const CabWriterSink& sink, uint64_t* written)
{
    for (uint32_t i = 0; i < batch.count; ++i) {
        uint32_t stored = batch.packedSizes[i];
        if (stored == 0) return CAB_WRITER_DEFLATE_FAILED;
        const uint8_t* data = batch.packed.data() + size_t(i) * CAB_WRITER_MAX_STORED;
        uint8_t header[kDataHeaderSize] = {0, 0, 0, 0, uint8_t(stored), uint8_t(stored >> 8), uint8_t(batch.sizes[i]),
                                           uint8_t(batch.sizes[i] >> 8)};
        Set32(header, CabDataChecksum(header + 4, 4, CabDataChecksum(data, stored, 0)));
        if (!sink.write(sink.user, header, kDataHeaderSize) || !sink.write(sink.user, data, stored))
            return CAB_WRITER_WRITE_FAILED;
        *written += kDataHeaderSize + stored;
    }
    return CAB_WRITER_OK;
}

// Compresses the folder's blocks on the workers and writes them in order.
CabWriterResult WriteBlocks(uint64_t total, CabWriterReadCallback read, void* user, int level, unsigned threads,
                            const CabWriterSink& sink, uint64_t* written)
{
    uint64_t blocks = (total + CAB_WRITER_BLOCK_SIZE - 1) / CAB_WRITER_BLOCK_SIZE;
    if (blocks == 0) return CAB_WRITER_OK;
    if (threads == 0) threads = 1;
    if (threads > blocks) threads = unsigned(blocks);
    std::vector<MszipEncoder*> encoders;
    for (unsigned t = 0; t < threads; ++t) {
        encoders.push_back(MszipEncoderCreate(level));
        if (!encoders.back()) {
            for (MszipEncoder* e : encoders) MszipEncoderDestroy(e);
            return CAB_WRITER_DEFLATE_FAILED;
        }
    }
    const uint32_t perBatch = threads * kBlocksPerThread;
    Batch batches[2];
    for (Batch& b : batches) {
        b.window.resize(size_t(perBatch + 1) * CAB_WRITER_BLOCK_SIZE);
        b.packed.resize(size_t(perBatch) * CAB_WRITER_MAX_STORED);
        b.sizes.resize(perBatch);
        b.packedSizes.resize(perBatch);
    }
    Pool pool;
    std::vector<std::thread> workers;
    for (MszipEncoder* e : encoders) workers.emplace_back(CompressBlocks, &pool, e);

    CabWriterResult result = CAB_WRITER_OK;
    uint64_t left = total;
    bool inFlight[2] = {false, false};
    if (!FillBatch(&batches[0], nullptr, perBatch, &left, read, user)) {
        result = CAB_WRITER_READ_FAILED;
    } else {
        Post(&pool, &batches[0]);
        inFlight[0] = true;
    }
    if (result == CAB_WRITER_OK && left > 0) {
        if (!FillBatch(&batches[1], LastBlock(batches[0]), perBatch, &left, read, user)) {
            result = CAB_WRITER_READ_FAILED;
        } else {
            Post(&pool, &batches[1]);
            inFlight[1] = true;
        }
    }
    // The oldest batch is written when done; its buffers then take the
    // batch after the one still in flight.
    for (int oldest = 0; result == CAB_WRITER_OK && inFlight[oldest]; oldest ^= 1) {
        Batch& done = batches[oldest];
        WaitFor(&pool, &done);
        inFlight[oldest] = false;
        result = WriteBatch(done, sink, written);
        if (result != CAB_WRITER_OK || left == 0) continue;
        if (!FillBatch(&done, LastBlock(batches[oldest ^ 1]), perBatch, &left, read, user)) {
            result = CAB_WRITER_READ_FAILED;
            continue;
        }
        Post(&pool, &done);
        inFlight[oldest] = true;
    }
    {
        std::lock_guard<std::mutex> hold(pool.lock);
        pool.stop = true;
        pool.work.notify_all();
    }
    for (std::thread& w : workers) w.join();
    for (MszipEncoder* e : encoders) MszipEncoderDestroy(e);
    return result;
}

bool AppendToVector(void* user, const uint8_t* data, uint32_t count)
{
    std::vector<uint8_t>* out = static_cast<std::vector<uint8_t>*>(user);
    out->insert(out->end(), data, data + count);
    return true;
}

bool PatchVector(void* user, uint32_t offset, const uint8_t* data, uint32_t count)
{
    std::vector<uint8_t>* out = static_cast<std::vector<uint8_t>*>(user);
    if (offset > out->size() || count > out->size() - offset) return false;
    memcpy(out->data() + offset, data, count);
    return true;
}

}  // namespace

CabWriterResult WriteCabinetTo(const std::vector<CabWriterEntry>& entries, CabWriterReadCallback read, void* user,
                               int level, unsigned threads, const CabWriterSink& sink, uint32_t* size)
{
    *size = 0;
    if (entries.size() > CAB_WRITER_MAX_ENTRIES) return CAB_WRITER_TOO_LARGE;
    uint64_t total = 0;
    uint32_t fileListSize = 0;
    for (const CabWriterEntry& e : entries) {
        if (!PlainName(e.name, e.attributes)) return CAB_WRITER_BAD_NAME;
        total += e.size;
        fileListSize += kFileEntrySize + uint32_t(e.name.size()) + 1;
    }
    uint64_t blocks = (total + CAB_WRITER_BLOCK_SIZE - 1) / CAB_WRITER_BLOCK_SIZE;
    if (total > kLargestFolder || blocks > CAB_WRITER_MAX_BLOCKS) return CAB_WRITER_TOO_LARGE;

    uint32_t firstFile = kHeaderSize + kFolderEntrySize;
    uint32_t firstBlock = firstFile + fileListSize;
    std::vector<uint8_t> out;
    out.reserve(firstBlock);
    // Header: signature, reserved, size (patched in last), reserved, first
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
    if (!sink.write(sink.user, out.data(), uint32_t(out.size()))) return CAB_WRITER_WRITE_FAILED;
    uint64_t written = out.size();
    CabWriterResult result = WriteBlocks(total, read, user, level, threads, sink, &written);
    if (result != CAB_WRITER_OK) return result;
    // At most 2 GiB of data, each block grown by 15 bytes at the most: the
    // size always fits its 32-bit field.
    uint8_t field[4];
    Set32(field, uint32_t(written));
    if (!sink.patch(sink.user, 8, field, 4)) return CAB_WRITER_WRITE_FAILED;
    *size = uint32_t(written);
    return CAB_WRITER_OK;
}

CabWriterResult WriteCabinet(const std::vector<CabWriterEntry>& entries, CabWriterReadCallback read, void* user,
                             int level, unsigned threads, std::vector<uint8_t>* cabinet)
{
    cabinet->clear();
    CabWriterSink sink = {cabinet, AppendToVector, PatchVector};
    uint32_t size = 0;
    CabWriterResult result = WriteCabinetTo(entries, read, user, level, threads, sink, &size);
    if (result != CAB_WRITER_OK) cabinet->clear();
    return result;
}

const char* CabWriterResultText(CabWriterResult result)
{
    switch (result) {
    case CAB_WRITER_OK:
        return "written";
    case CAB_WRITER_BAD_NAME:
        return "a file name is empty, longer than 255 bytes, or beyond ASCII without the UTF-8 mark";
    case CAB_WRITER_TOO_LARGE:
        return "more than 65535 files or 2 GiB of data, more than one cabinet can hold";
    case CAB_WRITER_READ_FAILED:
        return "a file could not be read";
    case CAB_WRITER_DEFLATE_FAILED:
        return "zlib could not compress the data (not enough memory)";
    case CAB_WRITER_WRITE_FAILED:
        return "the cabinet could not be written";
    }
    return "unknown error";
}
