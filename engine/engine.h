// Payload and installation engine: the install page, the staging thread,
// the compressed container and the extraction thread with its callbacks.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "setup/setup.h"

// Staging thread: copies the "MAIN" and "ARCHIVIST" cabinet resources into
// temporary files. Its parameter is a StagingJobRecord.
DWORD WINAPI StagingThreadProc(LPVOID job);

// Writes the content of a "CVZB" container to path. 1 on success, 0 on any
// failure (no output file is left behind then).
int UnpackContainer(const void* data, uint32_t size, const char* path);

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
// Answers a copy-error dialog that is up on the extraction thread, as a
// confirmed cancel does.
void AnswerCopyErrorDialog();
// True while the run writes files or registers the product: a log-off or
// shutdown is refused then.
bool InstallRunIsWriting();

// The cabinet decoder's notification callback of the extraction thread.
struct CabNotification;
intptr_t ExtractionNotify(int kind, CabNotification* notification);

// Extraction thread: decodes both staged cabinets. Its parameter is an
// ExtractionJobRecord.
DWORD WINAPI ExtractionThreadProc(LPVOID job);

// Sets the progress bar of the install page from ProgressPos/ProgressMax.
void ShowProgress(HWND page);
// The percentage that ShowProgress shows.
unsigned ProgressPercent(uint32_t pos, uint32_t max);

// The install page (template 104).
INT_PTR CALLBACK InstallPageProc(HWND, UINT, WPARAM, LPARAM);
