// Cut points, for the tests that end a run at every step: the rollback
// unit passes one after every record it writes and every change it makes,
// and the engine, the registration and the uninstaller after each change
// of their own. Compiled in only where SETUP_CUT_POINTS is set (the 64-bit
// test build; never the shipped program), and idle unless a test asks:
//   SETUP_CUT_AT=K            the process ends abruptly (TerminateProcess,
//                             exit code kCutExitCode) at its K-th step
//   SETUP_CUT_STEPS_FILE=path the number of steps passed so far is kept
//                             there, for a run that counts its steps
//   SETUP_STOP_AFTER_RECOVERY the process ends as soon as the start of its
//                             session has recovered an earlier run's journal
//                             (and ended the session, as a run that only
//                             recovers ends it)
// or, in a test's own process, an action called at every step. A cut
// after a change is a power cut for the journal: what was written to its
// file since its last flush is gone (DropUndurableJournal). The
// variables are read at the first step and taken out of the process's
// environment, so that a program the run starts (the uninstaller's copy
// that removes it) is never cut or counted in its place.
#pragma once

enum { kCutExitCode = 0xC7 };

// What the step just passed was: a change, or a record written to the
// journal (whose change comes next).
enum CutStep { CUT_AFTER_CHANGE = 0, CUT_AFTER_RECORD = 1 };

#ifdef SETUP_CUT_POINTS

#include <windows.h>

void PassCutPoint(CutStep kind = CUT_AFTER_CHANGE);
// The journal's file has just been flushed (its size then is what a power
// cut keeps); INVALID_HANDLE_VALUE: it was closed.
void NoteDurableJournal(HANDLE file);
// Cuts the journal's file back to what its last flush put on the disk.
void DropUndurableJournal();
// True when the process is to end once a session's start has recovered.
bool StopAfterRecoveryAsked();
// Ends the process as a cut does.
void EndProcessAtCut();
// Called with the number of the step just passed (1 for the first), on
// whichever thread passed it; null: none. For tests in their own process.
typedef void (*CutPointAction)(unsigned long step, CutStep kind, void* context);
void SetCutPointAction(CutPointAction action, void* context);
// True while a test's action is set: the test ends the thread that passes
// its step, so a run's changes must stay on one thread.
bool CutsEndOneThread();
// Steps passed since the process started or the count was reset.
unsigned long CutPointsPassed();
void ResetCutPoints();

#else

inline void PassCutPoint(CutStep = CUT_AFTER_CHANGE) {}
inline void NoteDurableJournal(void*) {}
inline bool StopAfterRecoveryAsked() { return false; }
inline void EndProcessAtCut() {}
inline bool CutsEndOneThread() { return false; }

#endif
