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

// Extraction thread: decodes both staged cabinets. Its parameter is an
// ExtractionJobRecord.
DWORD WINAPI ExtractionThreadProc(LPVOID job);

// Sets the progress bar of the install page from ProgressPos/ProgressMax.
void ShowProgress(HWND page);
// The percentage that ShowProgress shows.
unsigned ProgressPercent(uint32_t pos, uint32_t max);

// The install page (template 104).
INT_PTR CALLBACK InstallPageProc(HWND, UINT, WPARAM, LPARAM);
