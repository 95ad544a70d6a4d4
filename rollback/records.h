// The journal's record format (records.cpp), for the rollback unit's own
// files: the journal writes records, its rollback and recovery read them
// back. Text only; nothing here touches the machine.
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
//   I folder final                    the final path a guarded folder had when the run found it
//   R folder                          folder the run may leave empty: removed at the commit when it is
//   X path                            file the run deletes at its commit (left as it is by a rollback)
//   E root key                        registry key deleted by the run (it existed)
//   P path new                        file in use: its new version written beside it (under our aside name),
//                                     put in place at the next restart once the run has succeeded
//   C                                 the run succeeded
#pragma once

#include <windows.h>

#include "setup/registry_view.h"
#include "setup/text.h"

enum {
    RECORD_FOLDER = 'D',
    RECORD_NEW_FILE = 'N',
    RECORD_MOVED_FILE = 'M',
    RECORD_TEMPORARY = 'T',
    RECORD_KEY = 'K',
    RECORD_NEW_VALUE = 'A',
    RECORD_OLD_VALUE = 'V',
    RECORD_GUARDED = 'G',
    RECORD_GUARD_IDENTITY = 'I',
    RECORD_EMPTIED_FOLDER = 'R',
    RECORD_DELETE_AT_COMMIT = 'X',
    RECORD_DELETED_KEY = 'E',
    RECORD_AT_RESTART = 'P',
    RECORD_COMMITTED = 'C',
};

// Most fields a record has (V: root, key, name, type, data).
const int kMaxRecordFields = 5;
// Moved-aside files carry this prefix; a recovery acts on no other name.
const char kAsidePrefix[] = "~RB";

// One record's line: the kind, then each field escaped after a tab.
Text FormatRecord(char kind, const char* const* fields, int count);
// A record split into its kind and unescaped fields; false for a line that
// is not a well-formed record (a torn last line, say).
struct ParsedRecord {
    char Kind;
    int Count;
    Text Fields[kMaxRecordFields];
};
bool ParseRecord(const char* line, ParsedRecord& out);
// A record read back from a journal file is acted on only when it is one
// our runs write: full plain paths, moved files beside their original
// under our aside name, registry keys under SOFTWARE (journal_reading.cpp).
bool IsPlausibleRecord(const ParsedRecord& r);
// The records a recovery acts on, from the size bytes of a journal file:
// every whole line after the header line (JournalHeader of the maker) that
// is a plausible record, in order; *committed when one of them is the
// commit. False when the bytes are not a journal of ours. A journal of
// any version up to the header's is read; *version tells which.
bool ReadJournalText(const char* data, size_t size, const char* header, TextList& records, bool* committed,
                     int* version = nullptr);
// Registry data as hexadecimal digits, and back: size bytes from exactly
// 2 * size digits, false for anything else.
void AppendHex(Text& text, const unsigned char* data, DWORD size);
bool DecodeHex(const char* hex, unsigned char* data, size_t size);
// "HKLM\key [name]" (HKCU for the user's root; no brackets for a null
// name), as the observer is told of a registry key or value.
Text RegistryValueName(HKEY root, const char* key, const char* name);
// Registry roots by their letter in a record, and back; the letter also
// says the view the key is in (the current view when it is written).
HKEY RootFromLetter(const char* letter);
RegistryView ViewFromLetter(const char* letter);
const char* LetterFromRoot(HKEY root, RegistryView view = CurrentRegistryView());
