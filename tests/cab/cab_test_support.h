// Helpers for the decoder tests: cabinets built byte by byte (with MSZIP
// blocks made by zlib's raw deflate, each with the previous 32 KB as its
// dictionary), and a client that serves cabinets from memory, keeps the
// files written and records every notification and decryption request.
#ifndef TESTS_CAB_CAB_TEST_SUPPORT_H
#define TESTS_CAB_CAB_TEST_SUPPORT_H

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include <zlib.h>

#include "cab/cab.h"

typedef std::vector<uint8_t> Bytes;

inline Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

inline Bytes Slice(const Bytes& data, size_t at, size_t size)
{
    return Bytes(data.begin() + long(at), data.begin() + long(at + size));
}

inline void Put16(Bytes* b, uint32_t v)
{
    b->push_back(uint8_t(v));
    b->push_back(uint8_t(v >> 8));
}

inline void Put32(Bytes* b, uint32_t v)
{
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

// Deterministic test data: compressible text or incompressible noise.
inline Bytes MakeText(size_t size, uint32_t seed)
{
    static const char* const words[] = {"cabinet ", "folder ", "setup ", "the ", "file ", "data\n", "of ", "MSZIP "};
    Bytes out;
    while (out.size() < size) {
        seed = seed * 1103515245u + 12345u;
        const char* w = words[(seed >> 16) % 8];
        out.insert(out.end(), w, w + strlen(w));
    }
    out.resize(size);
    return out;
}

inline Bytes MakeNoise(size_t size, uint32_t seed)
{
    Bytes out(size);
    for (auto& b : out) {
        seed = seed * 1103515245u + 12345u;
        b = uint8_t(seed >> 16);
    }
    return out;
}

// The test's own copy of the block checksum, so that the decoder's is checked
// against an independent one.
inline uint32_t ExpectedChecksum(const uint8_t* p, size_t count, uint32_t seed)
{
    uint32_t sum = seed;
    for (; count >= 4; count -= 4, p += 4) sum ^= uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
    if (count == 3) sum ^= (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
    if (count == 2) sum ^= (uint32_t(p[0]) << 8) | p[1];
    if (count == 1) sum ^= p[0];
    return sum;
}

struct DataBlock {
    Bytes stored;
    uint16_t uncompressed = 0;
    enum { kGood, kNone, kBad } checksum = kGood;
};

// One "CK" + raw deflate block per 32 KB, each with the previous 32 KB as
// dictionary so that back-references cross blocks.
inline std::vector<DataBlock> MszipBlocks(const Bytes& data, int level = 6)
{
    std::vector<DataBlock> blocks;
    for (size_t at = 0; at < data.size(); at += 32768) {
        size_t size = data.size() - at < 32768 ? data.size() - at : 32768;
        z_stream z;
        memset(&z, 0, sizeof(z));
        deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
        if (at > 0) deflateSetDictionary(&z, &data[at - 32768], 32768);
        DataBlock block;
        block.stored.resize(2 + deflateBound(&z, uLong(size)) + 16);
        block.stored[0] = 'C';
        block.stored[1] = 'K';
        z.next_in = const_cast<Bytef*>(&data[at]);
        z.avail_in = uInt(size);
        z.next_out = &block.stored[2];
        z.avail_out = uInt(block.stored.size() - 2);
        deflate(&z, Z_FINISH);
        block.stored.resize(2 + z.total_out);
        deflateEnd(&z);
        block.uncompressed = uint16_t(size);
        blocks.push_back(block);
    }
    return blocks;
}

inline std::vector<DataBlock> StoredBlocks(const Bytes& data)
{
    std::vector<DataBlock> blocks;
    for (size_t at = 0; at < data.size(); at += 32768) {
        size_t size = data.size() - at < 32768 ? data.size() - at : 32768;
        DataBlock block;
        block.stored.assign(data.begin() + long(at), data.begin() + long(at + size));
        block.uncompressed = uint16_t(size);
        blocks.push_back(block);
    }
    return blocks;
}

struct FolderSpec {
    uint16_t type = 1;
    std::vector<DataBlock> blocks;
    int32_t blockCount = -1;  // the count written, when it must differ
};

struct FileSpec {
    std::string name;
    uint32_t size = 0;
    uint32_t offset = 0;
    uint16_t folder = 0;
    uint16_t attributes = 0x20;
    uint16_t date = 0x5988;  // 2024-12-08
    uint16_t time = 0x6000;  // 12:00:00
};

struct CabinetSpec {
    uint16_t version = 0x0103;
    uint16_t setId = 0;
    uint16_t index = 0;
    std::string previous;
    std::string next;
    bool reserve = false;
    Bytes headerReserve;
    uint8_t folderReserve = 0;
    uint8_t dataReserve = 0;
    std::vector<FolderSpec> folders;
    std::vector<FileSpec> files;

    Bytes Build() const
    {
        uint16_t flags = uint16_t((previous.empty() ? 0 : 1) | (next.empty() ? 0 : 2) | (reserve ? 4 : 0));
        Bytes names;
        auto addName = [&names](const std::string& s) { names.insert(names.end(), s.begin(), s.end()); names.push_back(0); };
        if (!previous.empty()) { addName(previous); addName("disk"); }
        if (!next.empty()) { addName(next); addName("disk"); }
        size_t headerSize = 36 + (reserve ? 4 + headerReserve.size() : 0);
        size_t folderTable = headerSize + names.size();
        size_t fileTable = folderTable + folders.size() * (8 + folderReserve);
        Bytes entries;
        for (const FileSpec& f : files) {
            Put32(&entries, f.size);
            Put32(&entries, f.offset);
            Put16(&entries, f.folder);
            Put16(&entries, f.date);
            Put16(&entries, f.time);
            Put16(&entries, f.attributes);
            entries.insert(entries.end(), f.name.begin(), f.name.end());
            entries.push_back(0);
        }
        size_t dataAt = fileTable + entries.size();
        Bytes folderEntries, data;
        for (const FolderSpec& folder : folders) {
            Put32(&folderEntries, uint32_t(dataAt + data.size()));
            Put16(&folderEntries, uint32_t(folder.blockCount >= 0 ? folder.blockCount : int32_t(folder.blocks.size())));
            Put16(&folderEntries, folder.type);
            for (uint8_t i = 0; i < folderReserve; ++i) folderEntries.push_back(uint8_t(0xF0 + i));
            for (const DataBlock& block : folder.blocks) {
                Bytes header;
                Put16(&header, uint32_t(block.stored.size()));
                Put16(&header, block.uncompressed);
                for (uint8_t i = 0; i < dataReserve; ++i) header.push_back(uint8_t(0xD0 + i));
                uint32_t sum = ExpectedChecksum(header.data(), header.size(), ExpectedChecksum(block.stored.data(), block.stored.size(), 0));
                if (block.checksum == DataBlock::kNone) sum = 0;
                if (block.checksum == DataBlock::kBad) sum ^= 0x00010000;
                Put32(&data, sum);
                data.insert(data.end(), header.begin(), header.end());
                data.insert(data.end(), block.stored.begin(), block.stored.end());
            }
        }
        Bytes cab = ToBytes("MSCF");
        Put32(&cab, 0);
        Put32(&cab, uint32_t(dataAt + data.size()));
        Put32(&cab, 0);
        Put32(&cab, uint32_t(fileTable));
        Put32(&cab, 0);
        Put16(&cab, version);
        Put16(&cab, uint32_t(folders.size()));
        Put16(&cab, uint32_t(files.size()));
        Put16(&cab, flags);
        Put16(&cab, setId);
        Put16(&cab, index);
        if (reserve) {
            Put16(&cab, uint32_t(headerReserve.size()));
            cab.push_back(folderReserve);
            cab.push_back(dataReserve);
            cab.insert(cab.end(), headerReserve.begin(), headerReserve.end());
        }
        cab.insert(cab.end(), names.begin(), names.end());
        cab.insert(cab.end(), folderEntries.begin(), folderEntries.end());
        cab.insert(cab.end(), entries.begin(), entries.end());
        cab.insert(cab.end(), data.begin(), data.end());
        return cab;
    }
};

// What the client saw, in order.
struct Event {
    int kind;
    std::string text1;
    int32_t size;
    uint16_t attributes;
    uint16_t setId;
    uint16_t cabinetIndex;
    int32_t errorCode;
};

struct DecryptEvent {
    int kind;
    Bytes reserve;
    uint16_t setId;
    int32_t cabinetIndex;
    uint16_t folderIndex;
    uint16_t dataSize;
    int32_t split;
    uint16_t partialSize;
};

// A cabinet client over memory: cabinets are looked up by full path, files
// written are kept by entry name. Answers are configurable per kind.
class MemoryClient {
public:
    std::map<std::string, Bytes> cabinets;
    std::map<std::string, Bytes> written;
    std::vector<Event> events;
    std::vector<DecryptEvent> decrypts;
    std::function<intptr_t(const CabNotification&)> copyAnswer;
    std::function<intptr_t(const CabNotification&)> closeAnswer;
    std::function<intptr_t(const CabNotification&)> nextAnswer;
    int allocations = 0;
    int liveAllocations = 0;
    int openHandles = 0;
    int closedOutputs = 0;
    int dataReads = 0;

    MemoryClient()
    {
        copyAnswer = [](const CabNotification&) { return intptr_t(1); };
        closeAnswer = [](const CabNotification&) { return intptr_t(1); };
        nextAnswer = [](const CabNotification& n) { return n.errorCode ? intptr_t(-1) : intptr_t(0); };
        current = this;
    }
    ~MemoryClient() { current = nullptr; }

    CabDecoder* Create(CabErrorRecord* error)
    {
        return CabDecoderCreate(Alloc, Free, Open, Read, Write, Close, Seek, 1, error);
    }

    bool Copy(CabDecoder* d, const char* name, const char* path = "", bool withDecrypt = false)
    {
        return CabDecoderCopy(d, name, path, 0, Notify, withDecrypt ? Decrypt : nullptr, this);
    }

    std::vector<int> Kinds() const
    {
        std::vector<int> kinds;
        for (const Event& e : events) kinds.push_back(e.kind);
        return kinds;
    }

    // File handles are indexes into these tables, offset so that none is 0
    // or -1.
    struct OpenCabinet {
        std::string path;
        size_t position;
        bool open;
    };
    std::vector<OpenCabinet> handles;
    std::vector<std::string> outputs;
    static constexpr intptr_t kCabinetBase = 1000;
    static constexpr intptr_t kOutputBase = 100000;

    static inline MemoryClient* current = nullptr;

    static void* Alloc(uint32_t size)
    {
        current->allocations++;
        current->liveAllocations++;
        return malloc(size);
    }
    static void Free(void* p)
    {
        if (p) current->liveAllocations--;
        free(p);
    }
    static intptr_t Open(char* path, int, int)
    {
        if (!current->cabinets.count(path)) return -1;
        current->handles.push_back(OpenCabinet{path, 0, true});
        current->openHandles++;
        return kCabinetBase + intptr_t(current->handles.size()) - 1;
    }
    static uint32_t Read(intptr_t h, void* buffer, uint32_t count)
    {
        OpenCabinet& c = current->handles.at(size_t(h - kCabinetBase));
        const Bytes& data = current->cabinets[c.path];
        size_t available = c.position < data.size() ? data.size() - c.position : 0;
        if (count > available) count = uint32_t(available);
        if (count) memcpy(buffer, &data[c.position], count);
        c.position += count;
        current->dataReads++;
        return count;
    }
    static uint32_t Write(intptr_t h, void* buffer, uint32_t count)
    {
        const std::string& name = current->outputs.at(size_t(h - kOutputBase));
        Bytes& out = current->written[name];
        out.insert(out.end(), static_cast<uint8_t*>(buffer), static_cast<uint8_t*>(buffer) + count);
        return count;
    }
    static int Close(intptr_t h)
    {
        if (h >= kOutputBase) {
            current->closedOutputs++;
            return 0;
        }
        OpenCabinet& c = current->handles.at(size_t(h - kCabinetBase));
        if (!c.open) return -1;
        c.open = false;
        current->openHandles--;
        return 0;
    }
    static int32_t Seek(intptr_t h, int32_t offset, int origin)
    {
        OpenCabinet& c = current->handles.at(size_t(h - kCabinetBase));
        int64_t target = origin == 1 ? int64_t(c.position) + offset : offset;
        if (target < 0) return -1;
        c.position = size_t(target);
        return int32_t(target);
    }
    static intptr_t Notify(int kind, CabNotification* n)
    {
        MemoryClient* self = static_cast<MemoryClient*>(n->userValue);
        Event e = {kind, n->text1 ? n->text1 : "", n->size, n->attributes, n->setId, n->cabinetIndex, n->errorCode};
        self->events.push_back(e);
        switch (kind) {
        case CAB_NOTIFY_COPY_FILE: {
            intptr_t answer = self->copyAnswer(*n);
            if (answer != 0 && answer != -1) {
                self->outputs.push_back(n->text1);
                self->written[n->text1];
                return kOutputBase + intptr_t(self->outputs.size()) - 1;
            }
            return answer;
        }
        case CAB_NOTIFY_CLOSE_FILE_INFO: {
            intptr_t answer = self->closeAnswer(*n);
            if (answer != -1) Close(n->fileHandle);
            return answer;
        }
        case CAB_NOTIFY_NEXT_CABINET:
            return self->nextAnswer(*n);
        default:
            return 0;
        }
    }
    static int Decrypt(CabDecryptRequest* r)
    {
        MemoryClient* self = static_cast<MemoryClient*>(r->userValue);
        DecryptEvent e = {r->kind, Bytes(), r->setId, r->cabinetIndex, r->folderIndex, r->dataSize, r->split, r->partialSize};
        if (r->reserve) e.reserve.assign(static_cast<uint8_t*>(r->reserve), static_cast<uint8_t*>(r->reserve) + r->reserveSize);
        if (r->kind != CAB_DECRYPT_DATA) e.dataSize = 0, e.split = 0, e.partialSize = 0;
        self->decrypts.push_back(e);
        return 0;
    }
};

#endif
