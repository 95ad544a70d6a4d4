// The pause gate of the worker threads: the install page closes it while
// the cancel question is up, the workers wait at it between chunks and
// files. A flag and a short sleep, so that no handle has to outlive the
// page and a pause never catches a worker inside the heap.
#include "engine/engine.h"

namespace {

volatile LONG GateClosed = 0;
volatile LONG ParkedWorkers = 0;
volatile LONG GatePasses = 0;
// The pass at which the gate closes by itself; 0 for none.
volatile LONG CloseAtPass = 0;

// Long enough not to spin, short enough that Resume feels immediate.
const DWORD ParkedPollMs = 10;

} // namespace

void PauseWorkers(bool pause)
{
    InterlockedExchange(&GateClosed, pause ? 1 : 0);
}

void PauseWorkersAfterPasses(long passes)
{
    InterlockedExchange(&CloseAtPass, InterlockedCompareExchange(&GatePasses, 0, 0) + passes);
}

void WaitAtWorkerGate()
{
    LONG pass = InterlockedIncrement(&GatePasses);
    LONG closeAt = InterlockedCompareExchange(&CloseAtPass, 0, 0);
    if (closeAt != 0 && pass >= closeAt) {
        InterlockedExchange(&CloseAtPass, 0);
        InterlockedExchange(&GateClosed, 1);
    }
    if (!InterlockedCompareExchange(&GateClosed, 0, 0))
        return;
    InterlockedIncrement(&ParkedWorkers);
    while (InterlockedCompareExchange(&GateClosed, 0, 0))
        Sleep(ParkedPollMs);
    InterlockedDecrement(&ParkedWorkers);
}

void WaitWhileWorkersPaused()
{
    while (InterlockedCompareExchange(&GateClosed, 0, 0))
        Sleep(ParkedPollMs);
}

bool WorkerIsParked()
{
    return InterlockedCompareExchange(&ParkedWorkers, 0, 0) != 0;
}

long WorkerGatePasses()
{
    return InterlockedCompareExchange(&GatePasses, 0, 0);
}
