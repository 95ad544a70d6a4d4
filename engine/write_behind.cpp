// The writer thread of the extraction and its queue: a ring of slots, each
// a piece of one file (up to 256 KB of its data, and its end when the
// piece is its last), filled by the extraction thread and emptied in the
// same order by the writer. A small file is one slot; the two threads meet
// once a slot, under a slim lock and two condition variables, which wait
// in the process itself rather than in the system (under Wine a semaphore
// is a request to its server, which was slower than the writes it saved).
#include "engine/write_behind.h"
#include "rollback/rollback.h"
#include "setup/helpers.h"
#include "setup/setup.h"
#include "setup/wide.h"

#include <errno.h>
#include <io.h>
#include <stdlib.h>
#include <string.h>

namespace {

const uint32_t kSlotBytes = 256 * 1024;
const int kSlots = 8;

struct Slot {
    intptr_t Handle; // -1: a fence or the writer's end
    bool Stop;
    uint32_t Count;
    bool Ends; // the file ends with this piece
    bool HasTime;
    FILETIME Time;
    DWORD Attributes;
    char Path[kPathBytes];
};

Slot Slots[kSlots];
unsigned char* Data = nullptr; // kSlots * kSlotBytes
SRWLOCK Lock = SRWLOCK_INIT;
CONDITION_VARIABLE SlotFreed = CONDITION_VARIABLE_INIT, SlotFilled = CONDITION_VARIABLE_INIT;
Helper* Writer = nullptr;
// Under the lock: the slots filled and not yet done, and how many were
// done in all (a fence waits for its own number).
int Filled = 0;
unsigned long Done = 0, Published = 0;
// The extraction thread's: the slot it fills (Head), if any (Open).
int Head = 0;
bool Open = false;
volatile LONG Failed = 0;
// The file the extraction thread writes now, for the log.
char CallerPath[kPathBytes];

unsigned char* DataOf(int slot) { return Data + static_cast<size_t>(slot) * kSlotBytes; }

bool WriteAll(intptr_t handle, const unsigned char* data, uint32_t count, const char* path)
{
    int written = count ? _write(static_cast<int>(handle), data, count) : 0;
    if (written >= 0 && static_cast<uint32_t>(written) == count)
        return true;
    // A full volume ends the run here: the log names the file and why.
    LogEvent("writing %s failed: %s", path, strerror(errno));
    return false;
}

void EndFile(intptr_t handle, const FILETIME* utc, DWORD attributes, const char* path)
{
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(static_cast<int>(handle)));
    if (h != INVALID_HANDLE_VALUE && utc)
        SetFileTime(h, utc, nullptr, utc);
    bool set = attributes == INVALID_FILE_ATTRIBUTES || (h != INVALID_HANDLE_VALUE && SetAttributesThrough(h, attributes));
    _close(static_cast<int>(handle));
    if (!set)
        SetFileAttributesU(path, attributes);
}

DWORD WINAPI WriterProc(LPVOID)
{
    for (int tail = 0;; tail = (tail + 1) % kSlots) {
        AcquireSRWLockExclusive(&Lock);
        while (Filled == 0)
            SleepConditionVariableSRW(&SlotFilled, &Lock, INFINITE, 0);
        ReleaseSRWLockExclusive(&Lock);
        Slot& slot = Slots[tail];
        bool stop = slot.Stop;
        if (slot.Handle != -1) {
            if (!Failed && !WriteAll(slot.Handle, DataOf(tail), slot.Count, slot.Path))
                InterlockedExchange(&Failed, 1);
            if (slot.Ends)
                EndFile(slot.Handle, slot.HasTime ? &slot.Time : nullptr, slot.Attributes, slot.Path);
        }
        AcquireSRWLockExclusive(&Lock);
        --Filled;
        ++Done;
        ReleaseSRWLockExclusive(&Lock);
        WakeAllConditionVariable(&SlotFreed);
        if (stop)
            return 0;
    }
}

// Hands the slot being filled to the writer.
void Publish()
{
    if (!Open)
        return;
    Open = false;
    Head = (Head + 1) % kSlots;
    AcquireSRWLockExclusive(&Lock);
    ++Filled;
    ++Published;
    ReleaseSRWLockExclusive(&Lock);
    WakeConditionVariable(&SlotFilled);
}

// Starts filling the next slot, once the writer has freed it.
Slot& OpenSlot(intptr_t handle)
{
    Publish();
    AcquireSRWLockExclusive(&Lock);
    while (Filled == kSlots)
        SleepConditionVariableSRW(&SlotFreed, &Lock, INFINITE, 0);
    ReleaseSRWLockExclusive(&Lock);
    Slot& slot = Slots[Head];
    slot.Handle = handle;
    slot.Stop = false;
    slot.Count = 0;
    slot.Ends = false;
    Open = true;
    return slot;
}

// Publishes a marker slot and waits until the writer has done it.
void PublishAndWait(bool stop)
{
    Slot& slot = OpenSlot(-1);
    slot.Stop = stop;
    Publish();
    unsigned long mine = Published;
    AcquireSRWLockExclusive(&Lock);
    while (Done < mine)
        SleepConditionVariableSRW(&SlotFreed, &Lock, INFINITE, 0);
    ReleaseSRWLockExclusive(&Lock);
}

} // namespace

bool StartWriteBehind()
{
    // An extraction that ended without its finish (a test that ends the
    // thread at a step) left its writer: it finishes first.
    FinishWriteBehind();
    Head = 0;
    Open = false;
    Filled = 0;
    Done = Published = 0;
    Failed = 0;
    Data = static_cast<unsigned char*>(malloc(static_cast<size_t>(kSlots) * kSlotBytes));
    if (Data)
        Writer = StartHelper(WriterProc, nullptr);
    if (!Writer) {
        free(Data);
        Data = nullptr;
    }
    return Writer != nullptr;
}

void QueueWritesFor(intptr_t handle, const char* path)
{
    CopyBounded(CallerPath, sizeof CallerPath, path);
    if (Writer)
        CopyBounded(OpenSlot(handle).Path, kPathBytes, path);
}

bool QueueWrite(intptr_t handle, const void* data, uint32_t count)
{
    if (!Writer)
        return WriteAll(handle, static_cast<const unsigned char*>(data), count, CallerPath);
    const unsigned char* from = static_cast<const unsigned char*>(data);
    while (count > 0 && !Failed) {
        // The next piece of the file.
        if (!Open || Slots[Head].Handle != handle || Slots[Head].Count == kSlotBytes)
            CopyBounded(OpenSlot(handle).Path, kPathBytes, CallerPath);
        Slot& slot = Slots[Head];
        uint32_t part = kSlotBytes - slot.Count < count ? kSlotBytes - slot.Count : count;
        memcpy(DataOf(Head) + slot.Count, from, part);
        slot.Count += part;
        from += part;
        count -= part;
    }
    return !Failed;
}

void QueueClose(intptr_t handle, const FILETIME* utc, DWORD attributes, const char* path)
{
    if (!Writer) {
        EndFile(handle, utc, attributes, path);
        return;
    }
    Slot& slot = Open && Slots[Head].Handle == handle ? Slots[Head] : OpenSlot(handle);
    slot.Ends = true;
    slot.HasTime = utc != nullptr;
    if (utc)
        slot.Time = *utc;
    slot.Attributes = attributes;
    CopyBounded(slot.Path, sizeof slot.Path, path);
    Publish();
}

void WaitForWrites()
{
    if (Writer)
        PublishAndWait(false);
}

bool FinishWriteBehind()
{
    if (Writer) {
        PublishAndWait(true);
        JoinHelper(Writer);
        Writer = nullptr;
        free(Data);
        Data = nullptr;
    }
    return !Failed;
}
