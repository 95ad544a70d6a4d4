// Registration of the installed product: its own key with the list of
// installed files, the application path entry, the entry in the list of
// installed programs, and the uninstaller with its settings file.
#include "registration/registration.h"
#include "rollback/cut_points.h"

#include "rollback/rollback.h"
#include "setup/wide.h"

#include <string.h>

namespace {

const char kAppPathKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\{ExeName}";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{ProductName}";
// The uninstaller's arguments: product name and program file name.
const char kUninstallArguments[] = "\"{ProductName}\" \"{ExeName}\"";

Text Expanded(const char* pattern)
{
    Text text(pattern);
    ExpandMacros(text);
    return text;
}

// TargetDir followed by an expanded file-name pattern. Only the pattern
// goes through the macros: the folder the user chose is taken as it is, so
// a brace in it or a long path is never rewritten or cut.
Text InTargetDir(const char* pattern)
{
    Text path(Context.TargetDir);
    path.Append(Expanded(pattern).c_str());
    return path;
}

// "File%04d": at least four digits, more once the counter needs them.
void FileValueName(char* name, size_t size, unsigned long counter)
{
    char digits[16];
    size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + counter % 10);
        counter /= 10;
    } while (counter != 0 && n < sizeof digits);
    while (n < 4)
        digits[n++] = '0';
    char reversed[sizeof digits + 1];
    for (size_t i = 0; i < n; ++i)
        reversed[i] = digits[n - 1 - i];
    reversed[n] = '\0';
    CopyBounded(name, size, "File");
    AppendBounded(name, size, reversed);
}

// One text value through the run's journal, in the scope's hive (the
// machine's, or the user's for a per-user product): the value's earlier
// state is recorded first, so that a rollback restores it. The stored
// length is the text without its terminating NUL.
void SetRecordedString(const char* subkey, const char* valueName, const char* data)
{
    RecordedSetRegistryValue(SessionJournal, ScopeRegistryRoot(), subkey, valueName, REG_SZ, data,
                             static_cast<DWORD>(lstrlenA(data)));
}

void SetRecordedNumber(const char* subkey, const char* valueName, DWORD number)
{
    RecordedSetRegistryValue(SessionJournal, ScopeRegistryRoot(), subkey, valueName, REG_DWORD, &number,
                             sizeof number);
}

unsigned long long FileSize(const char* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExU(path, GetFileExInfoStandard, &data) || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return 0;
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// What Programs and Features and deployment tools read besides the name
// and the command: the icon, version, publisher and web address, the
// folder, the command without questions, and the uninstaller's choice of
// repair or removal behind "Change" (so no separate "Repair").
void RegisterUninstallDetails(const char* uninstallKey, const char* command)
{
    SetRecordedString(uninstallKey, "DisplayIcon", InTargetDir("{ExeName}").c_str());
    SetRecordedString(uninstallKey, "DisplayVersion", LoadStringAsText(IDS_PRODUCT_VERSION).c_str());
    SetRecordedString(uninstallKey, "Publisher", LoadStringAsText(IDS_PUBLISHER).c_str());
    SetRecordedString(uninstallKey, "URLInfoAbout", LoadStringAsText(IDS_WEB_ADDRESS).c_str());
    SetRecordedString(uninstallKey, "InstallLocation", FolderWithoutBackslash(Context.TargetDir.c_str()).c_str());
    Text quiet(command);
    quiet.Append(" /S");
    SetRecordedString(uninstallKey, "QuietUninstallString", quiet.c_str());
    SetRecordedString(uninstallKey, "ModifyPath", command);
    SetRecordedNumber(uninstallKey, "NoRepair", 1);
}

// Writes a new file through the journal: an existing one is moved aside
// first. False when the place cannot be freed.
bool FreeForWriting(const Text& path)
{
    bool free = PrepareFileForWriting(SessionJournal, path.c_str());
    // Written by path next, not through CreatePreparedFile.
    MakeRecordsDurable(SessionJournal);
    return free;
}

// Writes the file FreeForWriting made room for through the handle the
// journal checked (write fills it); a file that could not be made or
// written goes again, and what was there before comes back.
template <typename Write> bool WritePreparedFile(const Text& path, Write write)
{
    HANDLE file = CreatePreparedFile(SessionJournal, path.c_str());
    if (file == INVALID_HANDLE_VALUE) {
        PutBackFile(SessionJournal, path.c_str());
        return false;
    }
    bool written = write(file);
    CloseHandle(file);
    if (!written)
        DiscardCreatedFile(SessionJournal, path.c_str());
    return written;
}

// Keeps a copy of this setup program for later repairs where only
// administrators can change it (the product's folder under the common
// application data, as Windows Installer keeps its packages; the user's
// private folder for a per-user product), and returns its path: the
// uninstaller, which runs elevated, starts nothing else. A repair started
// from that copy keeps it as it is. Empty when no copy could be kept.
Text KeepRepairCopy()
{
    char folder[kPathBytes], self[kPathBytes];
    DWORD n = GetModuleFileNameU(nullptr, self, sizeof self);
    if (n == 0 || n >= sizeof self ||
        !GetProductAdminFolder(SessionJournal.MakerName.c_str(), SessionJournal.ProductName.c_str(), folder,
                               sizeof folder))
        return Text();
    Text copy(folder);
    copy.Append("\\setup.exe");
    if (SameTextNoCase(self, copy.c_str()))
        return copy;
    if (!FreeForWriting(copy))
        return Text();
    if (!CopyFileU(self, copy.c_str(), TRUE)) {
        PutBackFile(SessionJournal, copy.c_str());
        return Text();
    }
    PassCutPoint();
    return copy;
}

} // namespace

void RegisterProduct()
{
    // No write is examined: a value that cannot be stored is skipped and
    // the next one is tried.
    Text productKey = ProductKeyPath();
    Text appPathKey = Expanded(kAppPathKey), uninstallKey = Expanded(kUninstallKey);
    // Before this build's: Windows may keep one application path for both
    // views.
    const char* otherBuilds[] = {productKey.c_str(), uninstallKey.c_str(), appPathKey.c_str()};
    RemoveOtherBuildsRegistration(otherBuilds, 3);
    SetRecordedString(productKey.c_str(), "InstallDir", Context.TargetDir.c_str());
    // The version now installed: what the next setup of the product
    // compares its own with.
    SetRecordedString(productKey.c_str(), "Version", LoadStringAsText(IDS_PRODUCT_VERSION).c_str());

    // A repair keeps the list of the first installation as it is. Any
    // other run replaces it whole: values of an earlier, longer list would
    // name files that are not this installation's.
    if (!Context.RepairMode) {
        Text filesKey(productKey);
        filesKey.Append("\\Files");
        RecordedDeleteRegistryValues(SessionJournal, ScopeRegistryRoot(), filesKey.c_str(), "");
        for (size_t i = 0; i < Context.InstalledFiles.Count(); ++i) {
            char name[32];
            FileValueName(name, sizeof name, static_cast<unsigned long>(i));
            SetRecordedString(filesKey.c_str(), name, Context.InstalledFiles.At(i));
        }
    }

    SetRecordedString(appPathKey.c_str(), "", InTargetDir("{ExeName}").c_str());
    SetRecordedString(appPathKey.c_str(), "Path", FolderWithoutBackslash(Context.TargetDir.c_str()).c_str());

    SetRecordedString(uninstallKey.c_str(), "DisplayName", LoadStringAsText(IDS_APP_NAME).c_str());
    // The program's path is quoted: with a blank in the folder an unquoted
    // "C:\Program Files\..." would start C:\Program.exe instead.
    Text command("\"");
    command.Append(InTargetDir("UnInstall.exe").c_str());
    command.Append("\" ");
    command.Append(Expanded(kUninstallArguments).c_str());
    SetRecordedString(uninstallKey.c_str(), "UninstallString", command.c_str());
    RegisterUninstallDetails(uninstallKey.c_str(), command.c_str());
}

void RegisterInstalledSize()
{
    // What the uninstaller takes away with the product's folder: the listed
    // files there, and the uninstaller with its settings file, which are
    // written after the list.
    unsigned long long bytes = FileSize(InTargetDir("UnInstall.exe").c_str()) +
                               FileSize(InTargetDir("UnInstall.ini").c_str());
    size_t folderLength = Context.TargetDir.length();
    for (size_t i = 0; i < Context.InstalledFiles.Count(); ++i) {
        const char* path = Context.InstalledFiles.At(i);
        if (folderLength > 0 && _strnicmp(path, Context.TargetDir.c_str(), folderLength) == 0)
            bytes += FileSize(path);
    }
    DWORD kilobytes = static_cast<DWORD>((bytes + 1023) / 1024);
    RecordedSetRegistryValue(SessionJournal, ScopeRegistryRoot(), Expanded(kUninstallKey).c_str(), "EstimatedSize",
                             REG_DWORD, &kilobytes, sizeof kilobytes);
}

void WriteUninstaller()
{
    HINSTANCE module = Context.InstanceHandle ? Context.InstanceHandle : GetModuleHandleW(nullptr);
    HRSRC resource = FindResourceU(module, "UNINSTALL", "CVZB");
    if (!resource)
        return;

    Text programPath = InTargetDir("UnInstall.exe");
    DWORD size = SizeofResource(module, resource);
    HGLOBAL loaded = LoadResource(module, resource);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    // A resource that cannot be loaded still leaves the settings file; a
    // container that cannot be unpacked leaves none, so that a later
    // repair start does not take the folder for an installation. The
    // uninstaller of an earlier installation is kept aside until the run
    // has succeeded.
    if (data) {
        if (!FreeForWriting(programPath))
            return;
        if (!WritePreparedFile(programPath, [&](HANDLE file) { return UnpackContainerTo(data, size, file) != 0; }))
            return;
        PassCutPoint();
    }

    // A settings file of its own: an earlier one (moved aside) leaves no
    // stale key in it.
    Text settingsPath = InTargetDir("UnInstall.ini");
    if (!FreeForWriting(settingsPath))
        return;
    Text repair = KeepRepairCopy();
    Text settings("[uninstall]\r\n");
    auto add = [&](const char* key, const char* value) {
        settings.Append(key);
        settings.Append('=');
        settings.Append(value);
        settings.Append("\r\n");
    };
    add("args", Expanded(kUninstallArguments).c_str());
    add("repair", repair.c_str());
    // The sibling product's folder of this installation, which the
    // uninstaller leaves alone, whoever runs it later; the maker, whose
    // registry key and setup folder the uninstaller looks in; the sibling's
    // name (none for a product without one) and the version installed.
    add("archivist", Context.ArchivistDir.c_str());
    add("maker", LoadStringAsText(IDS_MAKER).c_str());
    add("sibling", LoadStringAsText(IDS_SIBLING).c_str());
    add("version", LoadStringAsText(IDS_PRODUCT_VERSION).c_str());
    // The tasks chosen, which a repair and the next upgrade choose again.
    if (TaskCount() > 0)
        add("tasks", ChosenTaskList().c_str());
    // The language of the installation: the uninstaller speaks it to a
    // user whose display language it does not carry.
    const CarriedLanguage* spoken = FindCarriedLanguage(Context.Languages, Context.LanguageCode);
    add("language", spoken ? spoken->Code : "en");
    // A per-user installation says so: the uninstaller then takes the
    // product out of the user's hive and folders. Without the key it is
    // every user's, as every installation was before there were scopes.
    if (CurrentInstallScope() == SCOPE_USER)
        add("scope", InstallScopeName(SCOPE_USER));
    // A 64-bit product's keys are in the registry's 64-bit view, where its
    // uninstaller (a 32-bit program too) must look for them.
    if (CurrentRegistryView() == REGISTRY_VIEW_64)
        add("architecture", "x64");
    // The product's own values that the removal gives back.
    if (Context.ProductValueRecords.Count() > 0)
        settings.Append("[registry]\r\n");
    for (size_t i = 0; i < Context.ProductValueRecords.Count(); ++i) {
        char key[32];
        wsprintfA(key, "value%u", static_cast<unsigned>(i));
        add(key, Context.ProductValueRecords.At(i));
    }
    if (Context.PathEntries.Count() > 0)
        settings.Append("[path]\r\n");
    for (size_t i = 0; i < Context.PathEntries.Count(); ++i) {
        char key[32];
        wsprintfA(key, "entry%u", static_cast<unsigned>(i));
        add(key, Context.PathEntries.At(i));
    }
    // Written whole, and on the disk before a restart can follow the
    // installation; the profile functions would open the path anew for
    // every key. In UTF-16 with its mark: the uninstaller's wide profile
    // functions then read every letter (a file without the mark they read
    // in the system's code page, as older versions wrote it).
    WideText wide(settings.c_str());
    if (!wide.ok())
        return;
    WritePreparedFile(settingsPath, [&](HANDLE file) {
        const wchar_t kMark = 0xFEFF;
        DWORD bytes = static_cast<DWORD>(wcslen(wide.c_str()) * sizeof(wchar_t));
        DWORD written = 0, markWritten = 0;
        return WriteFile(file, &kMark, sizeof kMark, &markWritten, nullptr) && markWritten == sizeof kMark &&
               WriteFile(file, wide.c_str(), bytes, &written, nullptr) && written == bytes && FlushFileBuffers(file);
    });
    PassCutPoint();
}
