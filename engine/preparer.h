// The places of the extraction's next files, made by a thread of its own
// ahead of the decoder: each file's folders created, the file that is
// there moved aside, the new file created and checked, in the cabinet's
// order, their journal records written (and flushed once for a batch) by
// the extraction before it queues them. The decoder then finds each file
// open and waiting, and the system's slow calls for the names (a create,
// a move, a look at a handle's final path) run beside the decoding and
// the writes, on the second core. A place that could not be made is
// handed back with the system's error, and the extraction goes its own
// way for that file (the copy-error question, a file in use).
#pragma once

#include <windows.h>

// Starts the preparer; false when there is none (no thread, or a test
// that ends the run's own thread at a cut, which cannot end a second one
// at the same step): nothing may be queued then.
bool StartPreparer();
// Queues the place of the new file path (its creation recorded), with the
// move aside of the file there to aside first (recorded too; null: none).
// Its ticket, for TakePrepared, to *ticket. False when not queued (no
// preparer, or the queue is full).
bool QueuePreparation(const char* path, const char* aside, unsigned long* ticket);
// Waits for a ticket's place: the new file's handle, or
// INVALID_HANDLE_VALUE with the system's error to *error and whether the
// file there was moved aside all the same to *moved. Places queued before
// it and never taken (a file the decoder skipped) are undone first.
HANDLE TakePrepared(unsigned long ticket, DWORD* error, bool* moved);
// Ends the preparer after the place at hand; what is still queued is
// never made. The places made and never taken are closed, and undone with
// undo (the new file deleted, the moved one put back): a run that goes on
// to its commit has them undone now; one that was cancelled or failed
// leaves them, as everything else it made, to its rollback, so that
// nothing changes behind the page that says so.
void FinishPreparer(bool undo);
