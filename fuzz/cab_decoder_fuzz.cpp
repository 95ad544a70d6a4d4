// Fuzz target for the whole cabinet decoder. The input holds up to three
// cabinets separated by the marker "#NEXTCAB"; they are served from memory
// as "set1.cab", "set2.cab" and "set3.cab", so sets with files and blocks
// continued across cabinets can be reached. The client accepts every file
// except those whose name starts with 'x', answers -1 to a repeated
// next-cabinet request, and checks that allocations stay bounded.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "cab/cab.h"

namespace {

const char kMarker[] = "#NEXTCAB";
const int kMaxCabinets = 3;
const intptr_t kFirstHandle = 100;
const intptr_t kOutputHandle = 200;
const int kMaxHandles = 16;

struct MemoryFile {
    const uint8_t* data;
    size_t size;
};

MemoryFile gCabinets[kMaxCabinets];
int gCabinetCount;
struct OpenFile {
    bool used;
    int cabinet;
    size_t position;
} gHandles[kMaxHandles];
size_t gLiveBytes;
uint32_t gSink;
int gNextCabinetRequests;

struct Block {
    size_t size;
};

void* Allocate(uint32_t size)
{
    if (size > (1u << 20)) abort();  // no single allocation may follow the input's numbers
    Block* block = static_cast<Block*>(malloc(sizeof(Block) + size));
    if (!block) return nullptr;
    block->size = size;
    gLiveBytes += size;
    if (gLiveBytes > (4u << 20)) abort();
    return block + 1;
}

void Release(void* p)
{
    if (!p) return;
    Block* block = static_cast<Block*>(p) - 1;
    gLiveBytes -= block->size;
    free(block);
}

intptr_t Open(char* path, int, int)
{
    const char* digit = strpbrk(path, "123");
    if (!digit || strcmp(digit + 1, ".cab") != 0) return -1;
    int cabinet = *digit - '1';
    if (cabinet >= gCabinetCount) return -1;
    for (int i = 0; i < kMaxHandles; ++i) {
        if (!gHandles[i].used) {
            gHandles[i].used = true;
            gHandles[i].cabinet = cabinet;
            gHandles[i].position = 0;
            return kFirstHandle + i;
        }
    }
    abort();  // handles leak
}

OpenFile* Find(intptr_t handle)
{
    if (handle < kFirstHandle || handle >= kFirstHandle + kMaxHandles || !gHandles[handle - kFirstHandle].used) abort();
    return &gHandles[handle - kFirstHandle];
}

uint32_t Read(intptr_t handle, void* buffer, uint32_t count)
{
    OpenFile* f = Find(handle);
    const MemoryFile& m = gCabinets[f->cabinet];
    size_t available = f->position < m.size ? m.size - f->position : 0;
    if (count > available) count = uint32_t(available);
    memcpy(buffer, m.data + f->position, count);
    f->position += count;
    return count;
}

uint32_t Write(intptr_t handle, void* buffer, uint32_t count)
{
    if (handle != kOutputHandle) abort();
    const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
    for (uint32_t i = 0; i < count; ++i) gSink = gSink * 31 + bytes[i];
    return count;
}

int Close(intptr_t handle)
{
    if (handle == kOutputHandle) return 0;
    Find(handle)->used = false;
    return 0;
}

int32_t Seek(intptr_t handle, int32_t offset, int origin)
{
    OpenFile* f = Find(handle);
    int64_t target = origin == 1 ? int64_t(f->position) + offset : offset;
    if (target < 0) return -1;
    f->position = size_t(target);
    return int32_t(target);
}

intptr_t Notify(int kind, CabNotification* n)
{
    switch (kind) {
    case CAB_NOTIFY_COPY_FILE:
        if (strlen(n->text1) > 255) abort();
        return n->text1[0] == 'x' ? 0 : kOutputHandle;
    case CAB_NOTIFY_CLOSE_FILE_INFO:
        if (n->fileHandle != kOutputHandle) abort();
        return n->text1[0] == 'y' ? 0 : 1;
    case CAB_NOTIFY_NEXT_CABINET:
        if (strlen(n->text3) > 256) abort();
        if (n->errorCode != 0 || ++gNextCabinetRequests > 8) return -1;
        return 0;
    default:
        return 0;
    }
}

int Decrypt(CabDecryptRequest* r)
{
    const uint8_t* reserve = static_cast<const uint8_t*>(r->reserve);
    for (uint32_t i = 0; reserve && i < r->reserveSize; ++i) gSink += reserve[i];
    if (r->kind == CAB_DECRYPT_DATA) {
        const uint8_t* data = static_cast<const uint8_t*>(r->data);
        uint32_t piece = r->dataSize - r->partialSize;
        for (uint32_t i = 0; i < piece; ++i) gSink += data[i];
    }
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The whole-image check reads the same untrusted bytes before the
    // setup's first page; it must never read outside them either.
    CabCheckImage(data, uint32_t(size));
    gCabinetCount = 0;
    const uint8_t* start = data;
    const uint8_t* end = data + size;
    while (gCabinetCount < kMaxCabinets) {
        const uint8_t* marker = static_cast<const uint8_t*>(memmem(start, size_t(end - start), kMarker, 8));
        const uint8_t* stop = marker && gCabinetCount < kMaxCabinets - 1 ? marker : end;
        gCabinets[gCabinetCount++] = MemoryFile{start, size_t(stop - start)};
        if (stop == end) break;
        start = stop + 8;
    }
    memset(gHandles, 0, sizeof(gHandles));
    gNextCabinetRequests = 0;

    CabErrorRecord error = {0, 0, 0};
    CabDecoder* d = CabDecoderCreate(Allocate, Release, Open, Read, Write, Close, Seek, 1, &error);
    if (!d) abort();
    char name[] = "set1.cab";
    intptr_t h = Open(name, 0x8000, 0);
    CabCabinetInfo info;
    CabDecoderIsCabinet(d, h, &info);
    Close(h);
    // A second copy on the same instance exercises the kept method and the
    // learnt reserve sizes.
    CabDecoderCopy(d, "set1.cab", "", 0, Notify, Decrypt, nullptr);
    CabDecoderCopy(d, "set2.cab", "", 0, Notify, Decrypt, nullptr);
    if (error.failed && (error.code <= CAB_ERR_NONE || error.code > CAB_ERR_USER_ABORT)) abort();
    CabDecoderDestroy(d);
    for (int i = 0; i < kMaxHandles; ++i)
        if (gHandles[i].used) abort();
    if (gLiveBytes != 0) abort();
    return 0;
}
