// Helper threads of the process, kept between their tasks: the extraction's
// writer and preparers and the commit's second deleter run one task each
// on them. A thread's start and end cost about 0.6 ms under Wine, a tenth
// of a small product's whole extraction, so a helper that has finished
// its task waits for the next one instead of ending.
#pragma once

#include <windows.h>

// A helper running a task; null when none could be had.
struct Helper;

// Runs routine(parameter) on a free helper, making one when none is free
// (at most four live). Null when no thread can be had: the caller then
// does the work itself.
Helper* StartHelper(LPTHREAD_START_ROUTINE routine, void* parameter);
// Waits until the helper's task has returned; the helper is free again.
void JoinHelper(Helper* helper);
