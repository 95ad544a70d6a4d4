// The extraction's writes, done by a second thread while the decoder goes
// on to the next block: the decoder's output is copied into a bounded
// queue and written in order by the writer, and a file's last steps (its
// date and time, its attributes, the close) queue behind its data. The
// files themselves are created, and their journal records written, on the
// extraction thread as before; only what goes into a file the run made
// moves. The first write that fails stops every later one, and the
// extraction hears of it at its next write, or when it finishes.
#pragma once

#include <windows.h>
#include <stdint.h>

// Starts the writer. False (no thread or no memory): the calls below then
// do their work on the caller's thread.
bool StartWriteBehind();
// The file the next writes go to, for the log's message when one fails.
void QueueWritesFor(intptr_t handle, const char* path);
// Queues count bytes of data for the file's run-time library handle;
// false once a write has failed (nothing more is written then).
bool QueueWrite(intptr_t handle, const void* data, uint32_t count);
// Queues the file's end: its date and time (utc; null: left as they
// are), its attributes (INVALID_FILE_ATTRIBUTES: left as they are; set
// through the handle, or by path after the close where the system
// cannot), then the close.
void QueueClose(intptr_t handle, const FILETIME* utc, DWORD attributes, const char* path);
// Returns once everything queued so far is done (for a handle that the
// decoder closes itself).
void WaitForWrites();
// Waits for the queue and ends the writer. False when a write failed.
bool FinishWriteBehind();
