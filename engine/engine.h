// Payload and installation engine: the staging thread, the extraction
// thread with its callbacks, the check of the payload before the first
// page, the workers' pause gate and end, and the clean-up at the end of
// the process. No window of its own: the install page (wizard/) starts
// the workers and gives them the question they ask. Uses the core, the
// cabinet formats and the rollback unit.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "setup/setup.h"

// Checks every payload resource whole before anything is changed: each
// "CAB" cabinet's tables and block checksums, each "CVZB" container's
// length and checksum. False when one is missing or damaged.
bool CheckPayload();

// Staging thread: copies the "MAIN" and "ARCHIVIST" cabinet resources into
// temporary files. Its parameter is a StagingJobRecord.
DWORD WINAPI StagingThreadProc(LPVOID job);

// Pause gate of the worker threads. While the install page asks whether
// to cancel it closes the gate; the running worker stops at its next
// chunk (staging) or file (extraction) boundary, never inside a call that
// may hold a lock the question itself needs, as a suspended thread could.
void PauseWorkers(bool pause);
// Closes the gate by itself once the workers have called WaitAtWorkerGate
// passes more times: a pause at an exact chunk or file, without racing the
// worker. For the tests.
void PauseWorkersAfterPasses(long passes);
// Called by a worker before each chunk or file: returns at once while the
// gate is open, otherwise waits until it opens again.
void WaitAtWorkerGate();
// The same for a helper of the extraction, which the page does not wait
// for: it neither counts as a pass nor as a parked worker.
void WaitWhileWorkersPaused();
// True while a worker is waiting at the closed gate.
bool WorkerIsParked();
// How often workers have called WaitAtWorkerGate since the process
// started. Staging calls it before every chunk and once more when a
// cabinet is complete, so tests can count the chunks.
long WorkerGatePasses();

// Stops whatever worker is still running (a run that was cancelled: its
// copy-error dialog is answered, its pause gate opened) and waits for it
// to end. Nothing may be cleaned up or started again while a worker lives.
void StopAndJoinWorkers();
// Closes the staged cabinets, which deletes them; for a run whose workers
// have ended.
void ReleaseStagedCabinets();
// Makes the run's private working folder (Context.WorkFolder) below the
// product's administrators-only folder, recorded so that the end of the
// run removes it; left empty (the temporary folder is used) when there is
// no such folder.
void MakeWorkFolder();

// The cabinet decoder's notification callback of the extraction thread.
struct CabNotification;
intptr_t ExtractionNotify(int kind, CabNotification* notification);

// Extraction thread: decodes both staged cabinets. Its parameter is an
// ExtractionJobRecord, whose question it asks about a file it cannot write.
DWORD WINAPI ExtractionThreadProc(LPVOID job);

// Clean-up at the end of the process: staged cabinets always, and every
// change of the session that was not committed (a cancelled or failed
// run) undone through the journal.
void CleanupAfterFailure();
