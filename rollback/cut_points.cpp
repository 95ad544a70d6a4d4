// The cut points of the test build (see cut_points.h): a count of the
// steps a run has made, and what a test asked to happen at one of them.
#include "rollback/cut_points.h"
#include "setup/wide.h"

#ifdef SETUP_CUT_POINTS

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

volatile LONG Passed = 0;
// The journal's file and its size at its last flush.
HANDLE Journal = INVALID_HANDLE_VALUE;
LARGE_INTEGER JournalDurable = {};
CutPointAction Action = nullptr;
void* ActionContext = nullptr;

// What the environment asks for, read once: the step to end at (0: none)
// and the file that keeps the count (empty: none).
struct Request {
    bool Read = false;
    unsigned long CutAt = 0;
    char StepsFile[kPathBytes] = "";
    bool StopAfterRecovery = false;
};
Request Asked;

void ReadRequest()
{
    if (Asked.Read)
        return;
    Asked.Read = true;
    char value[32];
    DWORD n = GetEnvironmentVariableU("SETUP_CUT_AT", value, sizeof value);
    if (n > 0 && n < sizeof value)
        Asked.CutAt = strtoul(value, nullptr, 10);
    n = GetEnvironmentVariableU("SETUP_CUT_STEPS_FILE", Asked.StepsFile, sizeof Asked.StepsFile);
    if (n == 0 || n >= sizeof Asked.StepsFile)
        Asked.StepsFile[0] = '\0';
    Asked.StopAfterRecovery = GetEnvironmentVariableU("SETUP_STOP_AFTER_RECOVERY", value, sizeof value) > 0;
    SetEnvironmentVariableU("SETUP_CUT_AT", nullptr);
    SetEnvironmentVariableU("SETUP_CUT_STEPS_FILE", nullptr);
    SetEnvironmentVariableU("SETUP_STOP_AFTER_RECOVERY", nullptr);
}

void KeepCount(unsigned long step)
{
    HANDLE file = CreateFileU(Asked.StepsFile, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    char text[32];
    int length = FormatText(text, sizeof text, "%lu\n", step);
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(file);
}

} // namespace

void PassCutPoint(CutStep kind)
{
    ReadRequest();
    unsigned long step = static_cast<unsigned long>(InterlockedIncrement(&Passed));
    if (Asked.StepsFile[0])
        KeepCount(step);
    if (Asked.CutAt && step == Asked.CutAt) {
        if (kind == CUT_AFTER_CHANGE)
            DropUndurableJournal();
        TerminateProcess(GetCurrentProcess(), kCutExitCode);
    }
    if (Action)
        Action(step, kind, ActionContext);
}

bool StopAfterRecoveryAsked()
{
    ReadRequest();
    return Asked.StopAfterRecovery;
}

void EndProcessAtCut() { TerminateProcess(GetCurrentProcess(), kCutExitCode); }

bool CutsEndOneThread() { return Action != nullptr; }

void SetCutPointAction(CutPointAction action, void* context)
{
    ActionContext = context;
    Action = action;
}

void NoteDurableJournal(HANDLE file)
{
    Journal = file;
    if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &JournalDurable))
        JournalDurable.QuadPart = 0;
}

void DropUndurableJournal()
{
    if (Journal == INVALID_HANDLE_VALUE)
        return;
    LARGE_INTEGER size;
    if (GetFileSizeEx(Journal, &size) && size.QuadPart > JournalDurable.QuadPart &&
        SetFilePointerEx(Journal, JournalDurable, nullptr, FILE_BEGIN))
        SetEndOfFile(Journal);
}

unsigned long CutPointsPassed() { return static_cast<unsigned long>(Passed); }

void ResetCutPoints() { InterlockedExchange(&Passed, 0); }

#endif
