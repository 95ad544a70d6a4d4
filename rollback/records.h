// The journal's record format, shared by the two halves of the rollback
// unit: the changes (file_changes.cpp) write records, the journal
// (journal.cpp) keeps them on disk, reads them back and undoes them.
//
// One record per line: a kind letter, then fields separated by tabs, each
// field with '%', control characters and bytes from 0x7F up written as %XX
// so that any path, key or registry data survives the round trip.
//   D folder                          folder created by the session
//   N path                            file created where there was none
//   M path aside                      existing file renamed to aside (same folder)
//   T path                            temporary file of the run
//   K root key                        registry key created (root "M" HKLM, "U" HKCU)
//   A root key name                   registry value stored where there was none
//   V root key name type hexdata      registry value replaced or deleted: its earlier state
//   G folder                          folder guarded against links
//   C                                 the run succeeded
#pragma once

#include "rollback/rollback.h"

enum {
    RECORD_FOLDER = 'D',
    RECORD_NEW_FILE = 'N',
    RECORD_MOVED_FILE = 'M',
    RECORD_TEMPORARY = 'T',
    RECORD_KEY = 'K',
    RECORD_NEW_VALUE = 'A',
    RECORD_OLD_VALUE = 'V',
    RECORD_GUARDED = 'G',
    RECORD_COMMITTED = 'C',
};

// Most fields a record has (V: root, key, name, type, data).
const int kMaxRecordFields = 5;

// Appends one record with its fields, to memory and to the journal file
// (created in the product's administrators-only folder on the first
// record). flushNow puts it on the disk before the caller makes the change
// it announces: done for changes that would lose something if the record
// were missing after a power cut (a file moved aside, a value replaced).
bool AppendRecord(RunJournal& journal, char kind, const char* const* fields, int count, bool flushNow);

// A record split into its kind and unescaped fields; false for a line that
// is not a well-formed record (a torn last line, say).
struct ParsedRecord {
    char Kind;
    int Count;
    Text Fields[kMaxRecordFields];
};
bool ParseRecord(const char* line, ParsedRecord& out);

// A new security descriptor that gives Administrators and SYSTEM full
// control and nobody else any right (owner Administrators), for
// SECURITY_ATTRIBUTES; release it with LocalFree. Null when it cannot be
// made.
PSECURITY_DESCRIPTOR NewAdminOnlyDescriptor();

// Tells the journal's observer, when there is one, of an event: the text
// followed by up to two details (paths, names), each after a blank.
void TellObserver(const RunJournal& journal, const char* text, const char* detail = nullptr,
                  const char* more = nullptr);

// "HKLM\key [name]" (HKCU for the user's root; no brackets for a null
// name), as the observer is told of a registry key or value.
Text RegistryValueName(HKEY root, const char* key, const char* name);

// Registry roots by their letter in a record, and back.
HKEY RootFromLetter(const char* letter);
const char* LetterFromRoot(HKEY root);
