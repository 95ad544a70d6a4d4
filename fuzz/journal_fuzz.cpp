// Fuzz target for what a recovery reads back from the journal file of an
// earlier run (ReadJournalText, ParseRecord, IsPlausibleRecord): the input
// is the whole file. Nothing here touches the machine. Besides memory
// safety it checks that every record taken is a plausible, well-formed one
// that survives being written again, that the commit is seen exactly when
// a commit record is taken, and that the file cut at any byte (a power cut
// while it was written) reads as a prefix of the same records: a torn last
// record counts as never written.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "rollback/records.h"

namespace {

// The demo's journals begin so (JournalHeader of its maker, "Corvane").
const char kHeader[] = "CORVANE SETUP JOURNAL 2";

void CheckRecord(const char* line)
{
    ParsedRecord r;
    if (!ParseRecord(line, r) || !IsPlausibleRecord(r))
        abort();
    // Written again from its fields, the record reads back the same.
    const char* fields[kMaxRecordFields];
    for (int i = 0; i < r.Count; ++i)
        fields[i] = r.Fields[i].c_str();
    Text again = FormatRecord(r.Kind, fields, r.Count);
    ParsedRecord back;
    if (!ParseRecord(again.c_str(), back) || back.Kind != r.Kind || back.Count != r.Count)
        abort();
    for (int i = 0; i < r.Count; ++i)
        if (strcmp(back.Fields[i].c_str(), r.Fields[i].c_str()) != 0)
            abort();
    if (r.Kind == RECORD_OLD_VALUE) {
        // The earlier data of a value, as the rollback decodes it.
        const char* hex = r.Fields[4].c_str();
        size_t n = strlen(hex);
        unsigned char* data = static_cast<unsigned char*>(malloc(n / 2 + 1));
        if (n % 2 == 0 && DecodeHex(hex, data, n / 2)) {
            Text hexAgain;
            AppendHex(hexAgain, data, static_cast<DWORD>(n / 2));
            if (strcasecmp(hexAgain.c_str(), hex) != 0)
                abort();
        }
        free(data);
    }
    if (r.Kind == RECORD_KEY || r.Kind == RECORD_NEW_VALUE || r.Kind == RECORD_OLD_VALUE) {
        Text name = RegistryValueName(RootFromLetter(r.Fields[0].c_str()), r.Fields[1].c_str(),
                                      r.Kind == RECORD_KEY ? nullptr : r.Fields[2].c_str());
        if (name.empty())
            abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A private copy without a terminator: the reader must stay within size.
    char* file = static_cast<char*>(malloc(size ? size : 1));
    memcpy(file, data, size);

    TextList records;
    bool committed = false;
    bool ours = ReadJournalText(file, size, kHeader, records, &committed);
    bool sawCommit = false;
    for (size_t i = 0; i < records.Count(); ++i) {
        CheckRecord(records.At(i));
        sawCommit = sawCommit || strcmp(records.At(i), "C") == 0;
    }
    if (!ours && records.Count() != 0)
        abort();
    if (committed != sawCommit)
        abort();

    // The same file cut short at a byte the input chooses.
    size_t cut = 0;
    for (size_t i = 0; i < size; ++i)
        cut = cut * 31 + data[i];
    cut = size ? cut % (size + 1) : 0;
    TextList prefix;
    bool prefixCommitted = false;
    bool prefixOurs = ReadJournalText(file, cut, kHeader, prefix, &prefixCommitted);
    if (prefixOurs && !ours)
        abort();
    if (prefix.Count() > records.Count() || (prefixCommitted && !committed))
        abort();
    for (size_t i = 0; i < prefix.Count(); ++i)
        if (strcmp(prefix.At(i), records.At(i)) != 0)
            abort();
    free(file);
    return 0;
}
