// The helpers: a fixed set of slots, each a thread that waits for a task
// under a slim lock and condition variables, runs it, says it has
// returned, and waits again.
#include "setup/helpers.h"

struct Helper {
    HANDLE Thread;
    LPTHREAD_START_ROUTINE Routine; // the task; null while there is none
    void* Parameter;
    bool Busy;     // taken by a caller, until its join
    bool Returned; // the task has returned
};

namespace {

const int kHelpers = 4;

Helper Helpers[kHelpers];
SRWLOCK Lock = SRWLOCK_INIT;
CONDITION_VARIABLE TaskGiven = CONDITION_VARIABLE_INIT, TaskReturned = CONDITION_VARIABLE_INIT;

DWORD WINAPI HelperProc(LPVOID parameter)
{
    Helper* helper = static_cast<Helper*>(parameter);
    for (;;) {
        AcquireSRWLockExclusive(&Lock);
        while (!helper->Routine)
            SleepConditionVariableSRW(&TaskGiven, &Lock, INFINITE, 0);
        LPTHREAD_START_ROUTINE routine = helper->Routine;
        void* argument = helper->Parameter;
        ReleaseSRWLockExclusive(&Lock);
        routine(argument);
        AcquireSRWLockExclusive(&Lock);
        helper->Routine = nullptr;
        helper->Returned = true;
        ReleaseSRWLockExclusive(&Lock);
        WakeAllConditionVariable(&TaskReturned);
    }
}

} // namespace

Helper* StartHelper(LPTHREAD_START_ROUTINE routine, void* parameter)
{
    AcquireSRWLockExclusive(&Lock);
    Helper* helper = nullptr;
    for (Helper& candidate : Helpers) {
        if (candidate.Busy)
            continue;
        if (!candidate.Thread)
            candidate.Thread = CreateThread(nullptr, 0, HelperProc, &candidate, 0, nullptr);
        if (candidate.Thread) {
            helper = &candidate;
            break;
        }
    }
    if (helper) {
        helper->Busy = true;
        helper->Returned = false;
        helper->Parameter = parameter;
        helper->Routine = routine;
    }
    ReleaseSRWLockExclusive(&Lock);
    if (helper)
        WakeAllConditionVariable(&TaskGiven);
    return helper;
}

void JoinHelper(Helper* helper)
{
    if (!helper)
        return;
    AcquireSRWLockExclusive(&Lock);
    while (!helper->Returned)
        SleepConditionVariableSRW(&TaskReturned, &Lock, INFINITE, 0);
    helper->Busy = false;
    ReleaseSRWLockExclusive(&Lock);
}
