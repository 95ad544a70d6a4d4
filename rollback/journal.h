// What the journal's keeping (journal.cpp) offers to its rollback and
// recovery (recovery.cpp): the records appended and rewritten, the
// journal's file, the run lock and the observer. For the rollback unit's
// own files.
#pragma once

#include "rollback/records.h"
#include "rollback/rollback.h"

// Appends one record with its fields, to memory and to the journal file
// (created in the product's administrators-only folder on the first
// record). Every record is on the disk before the change it announces:
// flushNow puts it there at once; otherwise MakeRecordsDurable does, just
// before the change, for every record written since the last flush, so
// that a change announced by several records (a key's levels and its
// value) costs one flush.
bool AppendRecord(RunJournal& journal, char kind, const char* const* fields, int count, bool flushNow);
// Records the final path of the guarded folder named folder, once: when it
// is first guarded, or made by the run. Nothing for a folder not guarded,
// not there, or known already.
void LearnGuardedFolder(RunJournal& journal, const char* folder);
// Closes the journal's file, leaving it on the disk as it is.
void CloseJournalFile(RunJournal& journal);
// Writes the header and every record held in memory over the file's
// content. An empty journal is no file at all.
void RewriteJournalFile(RunJournal& journal);
// "<the product's administrators-only folder>\setup.journal". The folder
// is made only for writing; a journal is read only from a folder that is
// there and administrators-only.
bool JournalPath(const char* makerName, const char* productName, bool makeFolder, char* path, size_t size);
// The first line of the maker's journal files: "<MAKER> SETUP JOURNAL 2".
// Version 1, written by the program of the ANSI interfaces, had its names
// in the system's code page and the data of text values as that code page
// had it; version 2 has them in the program's text and the data as the
// registry keeps it.
Text JournalHeader(const char* makerName);
// "<folder>\~RB<run><n>.tmp" beside path: the run's aside names are
// unique within it and unlikely to meet anything else's. False when it
// does not fit a path.
bool MakeAsideName(RunJournal& journal, const char* path, char* aside, size_t size);
// Takes the run lock of the journal's product for the session; false when
// another session of the product holds it. A removal's copy that is
// finishing (its marker is there) is waited for.
bool TakeRunLock(RunJournal& journal);
void ReleaseRunLock(RunJournal& journal);
// Tells the journal's observer, when there is one, of an event: the text
// followed by up to two details (paths, names), each after a blank.
void TellObserver(const RunJournal& journal, const char* text, const char* detail = nullptr,
                  const char* more = nullptr);
