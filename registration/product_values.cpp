// The product's own registry values: the lines of its description that
// mksetup wrote as strings 5100 on ("root", key, name, type, data and what
// the removal does, separated by tabs). Each is stored through the run's
// journal; the settings file learns what was there before the product,
// so that the uninstaller gives that back; and an upgrade gives back the
// values the earlier version declared and this one does not. The same for
// the product's folders on the PATH (strings 5200 on): added unless there,
// listed when this product added them, taken out when no longer declared.
#include "registration/registration.h"
#include "rollback/cut_points.h"

#include <stdlib.h>
#include <string.h>

#include "rollback/records.h" // the hexadecimal form of binary data
#include "rollback/rollback.h"
#include "setup/wide.h"

namespace {

const int kFirstValueString = 5100;
const int kLastValueString = 5199;
const int kValueFields = 6;
const int kFirstPathString = 5200;
// The task that makes each line ("" for none): strings 5400 on for the
// values, 5500 on for the folders.
const int kFirstValueTaskString = 5400;
const int kFirstPathTaskString = 5500;
const int kLastPathString = 5207;

// The data of a value of the type named, as RegSetValueExU takes it: text
// without its terminator (a list with one between its strings), numbers in
// their bytes. False for data that does not fit the type.
bool ValueData(const char* typeName, const Text& text, DWORD* type, unsigned char** data, DWORD* size)
{
    *data = nullptr;
    *size = 0;
    char* end = nullptr;
    if (strcmp(typeName, "string") == 0 || strcmp(typeName, "expand") == 0 || strcmp(typeName, "multi") == 0) {
        *type = typeName[0] == 's' ? REG_SZ : typeName[0] == 'e' ? REG_EXPAND_SZ : REG_MULTI_SZ;
        *size = static_cast<DWORD>(text.length());
        *data = static_cast<unsigned char*>(malloc(*size + 1));
        if (!*data)
            return false;
        memcpy(*data, text.c_str(), *size + 1);
        if (*type == REG_MULTI_SZ)
            for (DWORD i = 0; i < *size; ++i)
                if ((*data)[i] == '\n')
                    (*data)[i] = '\0';
        return true;
    }
    if (strcmp(typeName, "dword") == 0 || strcmp(typeName, "qword") == 0) {
        unsigned long long n = strtoull(text.c_str(), &end, 10);
        *type = typeName[0] == 'd' ? REG_DWORD : REG_QWORD;
        *size = *type == REG_DWORD ? 4 : 8;
        *data = static_cast<unsigned char*>(malloc(8));
        if (!*data || end == text.c_str() || *end)
            return false;
        for (DWORD i = 0; i < *size; ++i)
            (*data)[i] = static_cast<unsigned char>(n >> (8 * i));
        return true;
    }
    if (strcmp(typeName, "binary") == 0) {
        *type = REG_BINARY;
        *size = static_cast<DWORD>(text.length() / 2);
        *data = static_cast<unsigned char*>(malloc(*size + 1));
        return *data && DecodeHex(text.c_str(), *data, *size);
    }
    return false;
}


bool Listed(const TextList& list, const char* text)
{
    for (size_t i = 0; i < list.Count(); ++i)
        if (SameTextNoCase(list.At(i), text))
            return true;
    return false;
}

// The product's folders on the PATH. One this product added before
// (listed by the earlier installation) and still there stays listed; one
// another program had put there is not this product's to take away.
void RegisterPathEntries(const TextList& earlier)
{
    TextList declared;
    for (int id = kFirstPathString; id <= kLastPathString; ++id) {
        Text folder = LoadStringAsText(id);
        if (folder.empty())
            break;
        // A folder of a task not chosen is not declared: an earlier one
        // goes.
        if (!TaskChosen(LoadStringAsText(id - kFirstPathString + kFirstPathTaskString).c_str()))
            continue;
        folder = FolderWithoutBackslash(ExpandEachMacro(folder.c_str()).c_str());
        declared.Add(folder.c_str());
        bool added = false;
        if (!AddPathEntry(SessionJournal, folder.c_str(), &added)) {
            LogEvent("%s could NOT be added to the PATH", folder.c_str());
            continue;
        }
        Context.PathChanged |= added;
        LogEvent(added ? "%s added to the PATH" : "%s is on the PATH already", folder.c_str());
        if (added || Listed(earlier, folder.c_str()))
            Context.PathEntries.Add(folder.c_str());
    }
    for (size_t i = 0; i < earlier.Count(); ++i) {
        if (Listed(declared, earlier.At(i)))
            continue;
        if (RemovePathEntry(SessionJournal, earlier.At(i))) {
            Context.PathChanged = 1;
            LogEvent("%s taken out of the PATH: the earlier version's", earlier.At(i));
        } else {
            Context.PathEntries.Add(earlier.At(i));
        }
    }
}

// Stores one declared value and, unless the removal keeps it, notes its
// record for the settings file: the earlier state the earlier
// installation's record kept, else what is there now.
void StoreValue(const Text* f, const TextList& earlier, bool* declared)
{
    ProductValueRecord record;
    record.Root = strcmp(f[0].c_str(), "HKCU") == 0 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    record.Key = ExpandEachMacro(f[1].c_str());
    record.Name = ExpandEachMacro(f[2].c_str());
    // "removekey-ifsame" (a file type's extension): the removal leaves a
    // value that another program has changed since.
    record.RemoveKey = strncmp(f[5].c_str(), "removekey", 9) == 0;
    bool ifSame = strstr(f[5].c_str(), "-ifsame") != nullptr;
    bool keep = strcmp(f[5].c_str(), "keep") == 0;
    bool carried = false;
    for (size_t i = 0; i < earlier.Count(); ++i) {
        ProductValueRecord before;
        if (ParseProductValueRecord(earlier.At(i), before) &&
            SameProductValue(before, record.Root, record.Key.c_str(), record.Name.c_str())) {
            record.HadEarlier = before.HadEarlier;
            record.EarlierType = before.EarlierType;
            record.EarlierData = before.EarlierData;
            declared[i] = carried = true;
        }
    }
    if (!keep && !carried && !ReadEarlierValueState(record)) {
        LogEvent("%s [%s] was there before and is too large to keep: the removal leaves it", record.Key.c_str(),
                 record.Name.c_str());
        keep = true;
    }
    Text dataText = strcmp(f[3].c_str(), "string") == 0 || strcmp(f[3].c_str(), "expand") == 0 ||
                            strcmp(f[3].c_str(), "multi") == 0
                        ? ExpandEachMacro(f[4].c_str())
                        : f[4];
    DWORD type = 0, size = 0;
    unsigned char* data = nullptr;
    bool stored = ValueData(f[3].c_str(), dataText, &type, &data, &size) &&
                  RecordedSetRegistryValue(SessionJournal, record.Root, record.Key.c_str(), record.Name.c_str(), type,
                                           data, size);
    free(data);
    if (stored && ifSame)
        record.Written = ValueDataHex(record.Root, record.Key.c_str(), record.Name.c_str());
    if (stored && IsFileTypeRecord(record))
        Context.FileTypesChanged = 1;
    if (!stored)
        LogEvent("the product's value %s [%s] could NOT be stored", record.Key.c_str(), record.Name.c_str());
    // Listed even when it could not be stored: an earlier state carried
    // from the earlier installation is still to be given back.
    if (!keep)
        Context.ProductValueRecords.Add(FormatProductValueRecord(record).c_str());
}

} // namespace

Text EarlierSettingsFile()
{
    const Text& folder = Context.RepairMode ? Context.RepairDir : Context.EarlierDir;
    if (folder.empty())
        return Text();
    Text settings(folder);
    if (settings.last() != '\\')
        settings.Append('\\');
    settings.Append("UnInstall.ini");
    return FileExists(settings.c_str()) ? settings : Text();
}

void RegisterProductValues()
{
    Context.ProductValueRecords.Clear();
    Context.PathEntries.Clear();
    Context.PathChanged = 0;
    Context.FileTypesChanged = 0;
    TextList earlier, earlierPath;
    Text settings = EarlierSettingsFile();
    if (!settings.empty()) {
        ReadProductValueRecords(settings.c_str(), earlier);
        ReadPathEntries(settings.c_str(), earlierPath);
    }
    bool* declared = static_cast<bool*>(calloc(earlier.Count() + 1, sizeof(bool)));
    if (!declared)
        return;
    for (int id = kFirstValueString; id <= kLastValueString; ++id) {
        Text line = LoadStringAsText(id);
        Text fields[kValueFields];
        if (line.empty())
            break;
        if (TaskChosen(LoadStringAsText(id - kFirstValueString + kFirstValueTaskString).c_str()) &&
            SplitFields(line.c_str(), '\t', fields, kValueFields))
            StoreValue(fields, earlier, declared);
    }
    // What the earlier version declared and this one does not goes back
    // to what was there before the product.
    for (size_t i = 0; i < earlier.Count(); ++i) {
        ProductValueRecord record;
        if (declared[i] || !ParseProductValueRecord(earlier.At(i), record))
            continue;
        if (IsFileTypeRecord(record))
            Context.FileTypesChanged = 1;
        if (!GiveBackProductValue(SessionJournal, record)) {
            LogEvent("the earlier version's value %s [%s] could NOT be given back: it stays listed",
                     record.Key.c_str(), record.Name.c_str());
            Context.ProductValueRecords.Add(earlier.At(i));
        }
    }
    free(declared);
    RegisterPathEntries(earlierPath);
    PassCutPoint();
}
