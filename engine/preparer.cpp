// The preparer's queue: a ring of places, each a file's path, its aside
// name and, once made, the handle or the error, filled by the extraction
// thread in the cabinet's order. Two preparers take them in that order,
// each the next one not taken, so that the system's calls for two files
// run at once (under Wine a file's creation is mostly the caller's own
// work, and two threads make twice as many). The threads meet under a
// slim lock and two condition variables, as the writer and the decoder do
// (write_behind.cpp).
#include "engine/preparer.h"
#include "engine/engine.h"
#include "rollback/cut_points.h"
#include "rollback/rollback.h"
#include "setup/helpers.h"
#include "setup/setup.h"

#include <string.h>

namespace {

// As many as the extraction records ahead of the decoder.
const unsigned long kPlaces = 64;
const int kPreparers = 2;

struct Place {
    char Path[kPathBytes];
    char Aside[kPathBytes]; // "": no move
    HANDLE File;
    DWORD Error;
    bool Moved;
    bool Made; // under the lock
};

Place Places[kPlaces];
SRWLOCK Lock = SRWLOCK_INIT;
CONDITION_VARIABLE PlaceQueued = CONDITION_VARIABLE_INIT, PlaceMade = CONDITION_VARIABLE_INIT;
Helper* Preparers[kPreparers];
int Started = 0;
// Under the lock: tickets below Queued were queued, below Claimed claimed
// by a preparer; Stop ends the preparers once the places they hold are
// made. The extraction thread's: tickets below Taken were taken (or
// undone).
unsigned long Queued = 0, Claimed = 0, Taken = 0;
bool Stop = false;

Place& PlaceOf(unsigned long ticket) { return Places[ticket % kPlaces]; }

// Makes one place: its folders (unless they are knownFolder, the
// preparer's last), the move aside, the new file. After a cancel nothing
// more is changed.
void Prepare(Place& place, char* knownFolder)
{
    place.File = INVALID_HANDLE_VALUE;
    place.Moved = false;
    place.Error = ERROR_CANCELLED;
    // While the cancel question is up nothing changes; the page waits for
    // the decoder only, which stops at its next file.
    WaitWhileWorkersPaused();
    if (Context.UserCancelled)
        return;
    // The other preparer may be making the same folder: one of them does.
    if (!CreateParentFolders(place.Path, knownFolder)) {
        place.Error = GetLastError();
        return;
    }
    if (place.Aside[0]) {
        place.Moved = MoveRecordedAside(SessionJournal, place.Path, place.Aside);
        if (!place.Moved) {
            place.Error = GetLastError();
            return;
        }
    }
    place.File = CreatePreparedFile(SessionJournal, place.Path);
    place.Error = place.File == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
}

DWORD WINAPI PreparerProc(LPVOID)
{
    char knownFolder[kPathBytes] = "";
    for (;;) {
        AcquireSRWLockExclusive(&Lock);
        while (Claimed == Queued && !Stop)
            SleepConditionVariableSRW(&PlaceQueued, &Lock, INFINITE, 0);
        if (Claimed == Queued) {
            ReleaseSRWLockExclusive(&Lock);
            return 0;
        }
        unsigned long ticket = Claimed++;
        bool stop = Stop;
        ReleaseSRWLockExclusive(&Lock);
        Place& place = PlaceOf(ticket);
        if (stop) {
            // What is still queued at the end is never made.
            place.File = INVALID_HANDLE_VALUE;
            place.Moved = false;
            place.Error = ERROR_CANCELLED;
        } else {
            Prepare(place, knownFolder);
        }
        AcquireSRWLockExclusive(&Lock);
        place.Made = true;
        ReleaseSRWLockExclusive(&Lock);
        WakeAllConditionVariable(&PlaceMade);
    }
}

// Waits until the place of ticket is made.
void WaitUntilMade(unsigned long ticket)
{
    AcquireSRWLockExclusive(&Lock);
    while (!PlaceOf(ticket).Made)
        SleepConditionVariableSRW(&PlaceMade, &Lock, INFINITE, 0);
    ReleaseSRWLockExclusive(&Lock);
}

// A place made and never taken: its handle closed, and, when undo is set,
// the place undone (the new file deleted, the moved one put back). On the
// extraction thread.
void Release(unsigned long ticket, bool undo)
{
    WaitUntilMade(ticket);
    Place& place = PlaceOf(ticket);
    if (place.File != INVALID_HANDLE_VALUE) {
        CloseHandle(place.File);
        place.File = INVALID_HANDLE_VALUE;
        if (undo)
            DiscardCreatedFile(SessionJournal, place.Path);
    } else if (place.Moved && undo) {
        PutBackFile(SessionJournal, place.Path);
    }
}

} // namespace

bool StartPreparer()
{
    FinishPreparer(false);
    if (CutsEndOneThread())
        return false;
    Queued = Claimed = Taken = 0;
    Stop = false;
    for (Started = 0; Started < kPreparers; ++Started) {
        Preparers[Started] = StartHelper(PreparerProc, nullptr);
        if (!Preparers[Started])
            break;
    }
    return Started > 0;
}

bool QueuePreparation(const char* path, const char* aside, unsigned long* ticket)
{
    if (Started == 0 || Queued - Taken == kPlaces)
        return false;
    Place& place = PlaceOf(Queued);
    if (!CopyBounded(place.Path, sizeof place.Path, path) ||
        !CopyBounded(place.Aside, sizeof place.Aside, aside ? aside : ""))
        return false;
    place.Made = false;
    *ticket = Queued;
    AcquireSRWLockExclusive(&Lock);
    ++Queued;
    ReleaseSRWLockExclusive(&Lock);
    WakeConditionVariable(&PlaceQueued);
    return true;
}

HANDLE TakePrepared(unsigned long ticket, DWORD* error, bool* moved)
{
    for (; Taken < ticket; ++Taken)
        Release(Taken, true);
    WaitUntilMade(ticket);
    Place& place = PlaceOf(ticket);
    Taken = ticket + 1;
    *error = place.Error;
    *moved = place.Moved;
    HANDLE file = place.File;
    place.File = INVALID_HANDLE_VALUE;
    return file;
}

void FinishPreparer(bool undo)
{
    if (Started == 0)
        return;
    AcquireSRWLockExclusive(&Lock);
    Stop = true;
    ReleaseSRWLockExclusive(&Lock);
    WakeAllConditionVariable(&PlaceQueued);
    for (int i = 0; i < Started; ++i)
        JoinHelper(Preparers[i]);
    Started = 0;
    for (; Taken < Queued; ++Taken)
        Release(Taken, undo);
}
