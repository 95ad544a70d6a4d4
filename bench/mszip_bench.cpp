// mszip-bench: how fast the MSZIP method decodes compared with zlib's raw
// inflate on the same blocks. The data (a file, or a built mixed corpus of
// text, binary and already-compressed bytes) is framed as a cabinet folder
// would be: 32 KB blocks, each "CK" and a raw deflate stream that has the
// previous 32 KB as its dictionary. Both decoders produce the whole output
// and are checked against the original before any timing.
//
//   mszip-bench [--rounds N] [FILE]
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <time.h>

#include <algorithm>
#include <vector>

#include <zlib.h>

#include "cab/mszip.h"

namespace {

const uint32_t kBlock = 32768;

typedef std::vector<uint8_t> Bytes;

uint32_t NextRandom(uint32_t* seed)
{
    *seed = *seed * 1103515245u + 12345u;
    return *seed >> 8;
}

// Several MB with the character of a real payload: prose-like text,
// structured binary (tables of slowly changing numbers, repeated records)
// and bytes that are already compressed.
Bytes BuildCorpus()
{
    static const char* const words[] = {"setup",  "folder", "cabinet", "install", "the",    "of",     "program",
                                        "window", "string", "file",    "and",     "to",     "product", "license",
                                        "a",      "data",   "version", "error",   "value",  "registry"};
    Bytes corpus;
    uint32_t seed = 12345;
    for (int segment = 0; segment < 12; ++segment) {
        uint32_t kind = uint32_t(segment % 3);
        size_t end = corpus.size() + 512 * 1024;
        if (kind == 0) {
            while (corpus.size() < end) {
                const char* w = words[NextRandom(&seed) % 20];
                corpus.insert(corpus.end(), w, w + strlen(w));
                corpus.push_back(NextRandom(&seed) % 11 == 0 ? '\n' : ' ');
            }
        } else if (kind == 1) {
            uint32_t value = 0;
            while (corpus.size() < end) {
                value += NextRandom(&seed) % 7;
                uint8_t record[16] = {uint8_t(value), uint8_t(value >> 8), 0, 0, 0x8B, 0x45, 0xFC, 0x50,
                                      uint8_t(NextRandom(&seed) % 4), 0, 0, 0, 0xE8, 0, 0, 0};
                corpus.insert(corpus.end(), record, record + 16);
            }
        } else {
            Bytes text(end - corpus.size() + 1024);
            for (auto& b : text) b = uint8_t(NextRandom(&seed) % 64 + 32);
            uLongf size = compressBound(uLong(text.size()));
            Bytes packed(size);
            compress2(packed.data(), &size, text.data(), uLong(text.size()), 9);
            packed.resize(size);
            while (corpus.size() < end) {
                corpus.push_back(uint8_t(NextRandom(&seed)));
                if (corpus.size() < end && !packed.empty()) corpus.push_back(packed[corpus.size() % packed.size()]);
            }
        }
        corpus.resize(end);
    }
    return corpus;
}

struct Framed {
    std::vector<Bytes> blocks;
    std::vector<uint32_t> sizes;
};

bool Frame(const Bytes& data, Framed* framed)
{
    z_stream z;
    memset(&z, 0, sizeof(z));
    if (deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
    for (size_t at = 0; at < data.size(); at += kBlock) {
        uint32_t size = uint32_t(data.size() - at < kBlock ? data.size() - at : kBlock);
        deflateReset(&z);
        if (at > 0) deflateSetDictionary(&z, &data[at - kBlock], kBlock);
        Bytes block(2 + deflateBound(&z, size) + 64);
        block[0] = 'C';
        block[1] = 'K';
        z.next_in = const_cast<Bytef*>(&data[at]);
        z.avail_in = size;
        z.next_out = &block[2];
        z.avail_out = uInt(block.size() - 2);
        if (deflate(&z, Z_FINISH) != Z_STREAM_END) return false;
        block.resize(2 + z.total_out);
        if (block.size() > kBlock + MSZIP_INPUT_SLACK) {
            fprintf(stderr, "mszip-bench: block at %zu does not fit an MSZIP block\n", at);
            return false;
        }
        framed->blocks.push_back(block);
        framed->sizes.push_back(size);
    }
    deflateEnd(&z);
    return true;
}

void* Allocate(uint32_t size) { return malloc(size); }
void Release(void* p) { free(p); }

// Each block is decoded straight into its place in the output, as zlib's
// is; the output has a block's worth of room past the data because the
// method may use all the room it is given.
bool DecodeOurs(MszipDecompressor* state, const Framed& framed, Bytes* out)
{
    MszipReset(state);
    size_t at = 0;
    for (size_t i = 0; i < framed.blocks.size(); ++i) {
        uint32_t count = kBlock;
        const Bytes& b = framed.blocks[i];
        if (MszipDecompress(state, b.data(), uint32_t(b.size()), &(*out)[at], &count) != MSZIP_OK) return false;
        if (count != framed.sizes[i]) return false;
        at += count;
    }
    return true;
}

bool DecodeZlib(z_stream* z, const Framed& framed, Bytes* out)
{
    size_t at = 0;
    for (size_t i = 0; i < framed.blocks.size(); ++i) {
        const Bytes& b = framed.blocks[i];
        inflateReset(z);
        if (at > 0 && inflateSetDictionary(z, &(*out)[at - kBlock], kBlock) != Z_OK) return false;
        z->next_in = const_cast<Bytef*>(b.data() + 2);
        z->avail_in = uInt(b.size() - 2);
        z->next_out = &(*out)[at];
        z->avail_out = framed.sizes[i];
        int result = inflate(z, Z_FINISH);
        if (result != Z_STREAM_END || z->avail_out != 0) return false;
        at += framed.sizes[i];
    }
    return true;
}

// The machine is shared, so rounds are timed by this thread's processor
// time rather than by the wall clock.
double ThreadSeconds()
{
    struct timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv)
{
    Bytes data;
    int rounds = 10;
    const char* file = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
            rounds = atoi(argv[++i]);
        else if (!file && argv[i][0] != '-')
            file = argv[i];
        else
            rounds = 0;
    }
    if (rounds < 1) {
        fprintf(stderr, "usage: mszip-bench [--rounds N] [FILE]\n");
        return 2;
    }
    if (file) {
        FILE* f = fopen(file, "rb");
        if (!f) {
            fprintf(stderr, "mszip-bench: cannot open %s\n", file);
            return 1;
        }
        uint8_t chunk[65536];
        size_t n;
        while ((n = fread(chunk, 1, sizeof(chunk), f)) > 0) data.insert(data.end(), chunk, chunk + n);
        fclose(f);
    } else {
        data = BuildCorpus();
    }
    if (data.empty()) {
        fprintf(stderr, "mszip-bench: nothing to decode\n");
        return 1;
    }

    Framed framed;
    if (!Frame(data, &framed)) return 1;
    size_t packed = 0;
    for (const Bytes& b : framed.blocks) packed += b.size();

    uint32_t window = kBlock, inputSize = 0;
    MszipDecompressor* state = nullptr;
    if (MszipCreate(&window, Allocate, Release, &inputSize, &state) != MSZIP_OK) return 1;
    z_stream z;
    memset(&z, 0, sizeof(z));
    if (inflateInit2(&z, -15) != Z_OK) return 1;

    Bytes ours(data.size() + kBlock), theirs(data.size());
    if (!DecodeOurs(state, framed, &ours) || !std::equal(data.begin(), data.end(), ours.begin())) {
        fprintf(stderr, "mszip-bench: MSZIP output differs from the original\n");
        return 1;
    }
    if (!DecodeZlib(&z, framed, &theirs) || theirs != data) {
        fprintf(stderr, "mszip-bench: zlib output differs from the original\n");
        return 1;
    }

    // Rounds alternate between the two so that both see the same machine
    // load; the best round of each counts.
    double bestOurs = 1e30, bestZlib = 1e30;
    for (int r = 0; r < rounds; ++r) {
        double start = ThreadSeconds();
        DecodeOurs(state, framed, &ours);
        double t = ThreadSeconds() - start;
        if (t < bestOurs) bestOurs = t;
        start = ThreadSeconds();
        DecodeZlib(&z, framed, &theirs);
        t = ThreadSeconds() - start;
        if (t < bestZlib) bestZlib = t;
    }
    inflateEnd(&z);
    MszipDestroy(state);

    double mb = double(data.size()) / 1e6;
    printf("input: %.2f MB in %zu blocks, %.2f MB compressed\n", mb, framed.blocks.size(), double(packed) / 1e6);
    printf("mszip: %.1f MB/s\n", mb / bestOurs);
    printf("zlib:  %.1f MB/s\n", mb / bestZlib);
    printf("speedup_vs_zlib: %.2f\n", bestZlib / bestOurs);
    return 0;
}
