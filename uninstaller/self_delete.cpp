// Removal of the uninstaller's own file. Windows keeps a running program's
// file open, so the uninstaller cannot delete itself: its commit moves the
// program aside within its folder and keeps the removal's journal for a
// copy of the program, made in a private folder (administrators only, a
// name nobody can guess) and started with "/finish". The copy waits for
// the uninstaller to end and for the system to let go of the program's
// file, then finishes the journal under the product's run lock: the aside
// file goes, and the folders that leave empty. It never deletes a file by
// the name an installation gives it, which a new installation may already
// have taken again. It has its own file and folder deleted at the next
// restart. A per-user uninstaller has no right to deletions at the restart
// (the machine's hive keeps them): its copy goes into the user's temporary
// folder and stays there.
#include "uninstaller/uninstaller.h"

#include "rollback/rollback.h"
#include "rollback/verified_files.h"
#include "setup/paths.h"
#include "setup/wide.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// How long the copy waits for the uninstaller to end, and how long it then
// waits for the system to let go of the program's file (it may hold the
// image a moment longer than the process).
const DWORD kWaitForEndMs = 60000;
const int kReleaseTries = 100;
const DWORD kReleasePauseMs = 100;

bool ParseHandle(const char* text, HANDLE* handle)
{
    size_t n = strlen(text);
    if (n == 0 || n > 20 || strspn(text, "0123456789") != n)
        return false;
    *handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(strtoull(text, nullptr, 10)));
    return *handle != nullptr;
}

// The name the commit gave the running program, beside its old name: the
// only file "/finish" deletes by itself, so that the switch is no general
// way to delete files.
bool IsAsidePath(const char* path) { return IsRemovablePath(path) && IsAsideName(path); }

// Waits until nothing holds path any more (the program's image let go),
// or it is gone: opened without sharing, it is free.
void WaitUntilReleased(const char* path)
{
    for (int i = 0; i < kReleaseTries; ++i) {
        HANDLE file = CreateFileU(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            return;
        }
        if (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND)
            return;
        Sleep(kReleasePauseMs);
    }
}

// A new private folder for the copy; false when there is none to be had,
// and the temporary folder is used as before.
bool MakeCopyFolder(const char* makerName, char* folder, size_t size)
{
    char maker[kPathBytes];
    return GetMakerAdminFolder(makerName, maker, sizeof maker) &&
           CreateRandomAdminFolder(maker, "remove-", folder, size);
}

// The program's folder as the copy found it at its start, every link
// resolved: the aside file is deleted through a handle whose final path is
// below that, so that the folder swapped for a link while the copy waits
// leads the deletion nowhere.
void GuardProgramFolder(const char* programPath, GuardedFolders& guarded)
{
    char folder[kPathBytes];
    char final[kPathBytes];
    if (!CopyBounded(folder, sizeof folder, FolderOf(programPath).c_str()))
        return;
    StripTrailingBackslash(folder);
    FinalFormOfPath(folder, final, sizeof final);
    guarded.Folders.Add(folder);
    guarded.Finals[0] = final;
}

} // namespace

bool StartSelfRemoval(const char* makerName, const char* productName, const char* program)
{
    // The copy runs elevated: where a standard user could write, the user
    // could swap it before it starts.
    char temp[kPathBytes];
    char copy[kPathBytes];
    bool perUser = CurrentInstallScope() == SCOPE_USER;
    if (!perUser && MakeCopyFolder(makerName, temp, sizeof temp)) {
        if (!CopyBounded(copy, sizeof copy, temp) || !AppendBounded(copy, sizeof copy, "\\UnInstall.exe") ||
            !CopyFileU(program, copy, TRUE)) {
            RemoveDirectoryU(temp);
            return false;
        }
    } else {
        DWORD n = GetTempPathU(sizeof temp, temp);
        if (n == 0 || n >= sizeof temp)
            return false;
        // GetTempFileNameA reserves a unique name; the copy takes that name
        // with ".exe" after it, and the reservation goes again.
        char reserved[kPathBytes];
        if (!GetTempFileNameU(temp, "uns", 0, reserved))
            return false;
        bool fits = CopyBounded(copy, sizeof copy, reserved) && AppendBounded(copy, sizeof copy, ".exe");
        if (!fits || !CopyFileU(program, copy, FALSE)) {
            DeleteFileU(reserved);
            return false;
        }
        DeleteFileU(reserved);
    }

    // The copy waits on a handle of this process that it inherits, so it
    // cannot mistake another process that later gets the same id.
    HANDLE self = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self,
                         SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, TRUE, 0)) {
        DeleteFileU(copy);
        return false;
    }
    char handleText[32];
    FormatText(handleText, sizeof handleText, "%I64u", static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(self)));

    Text command("\"");
    command.Append(copy);
    command.Append("\" /finish ");
    command.Append(handleText);
    command.Append(" \"");
    command.Append(program);
    command.Append(perUser ? "\" user \"" : "\" machine \"");
    command.Append(makerName);
    command.Append("\" \"");
    command.Append(productName);
    command.Append('"');
    // Its own folder as its current folder: the copy must not hold the
    // product's folder open while it removes it.
    PROCESS_INFORMATION process;
    bool started = CreateProcessU(copy, command.c_str(), TRUE, 0, temp, &process) != FALSE;
    if (started) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(self);
    if (!started)
        DeleteFileU(copy);
    return started;
}

bool FinishSelfRemoval(const char* handleText, const char* programPath, const char* makerName,
                       const char* productName)
{
    // A session of the product that starts while this copy works waits for
    // it (TakeRunLock), from now until the journal is finished.
    bool named = IsPlainName(makerName) && IsPlainName(productName);
    HANDLE marker = named ? HoldFinishingMarker(makerName, productName) : nullptr;
    HANDLE original = nullptr;
    bool aside = IsAsidePath(programPath);
    GuardedFolders guarded;
    if (aside)
        GuardProgramFolder(programPath, guarded);
    if (ParseHandle(handleText, &original)) {
        WaitForSingleObject(original, kWaitForEndMs);
        CloseHandle(original);
    }
    if (aside)
        WaitUntilReleased(programPath);

    // The removal's journal waited for the program to be gone: its next
    // session deletes it under its aside name and removes the folders that
    // leaves empty. Taken by another session meanwhile (a setup started in
    // the moment between), the journal was finished there; the program's
    // aside file, which the system may still have held then, is this
    // removal's own to delete.
    if (named) {
        RunJournal journal;
        journal.Finishing = true;
        JournalRecovery recovered;
        JournalStart started = JournalStartSession(journal, makerName, productName, &recovered);
        if (aside && guarded.Count() && GetFileAttributesU(programPath) != INVALID_FILE_ATTRIBUTES)
            DeleteFileAt(guarded, programPath);
        if (started == JOURNAL_STARTED)
            JournalEndSession(journal);
    }
    ReleaseFinishingMarker(marker);
    bool gone = GetFileAttributesU(programPath) == INVALID_FILE_ATTRIBUTES;
    if (!gone && aside && CurrentInstallScope() == SCOPE_MACHINE)
        MoveFileExU(programPath, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);

    // This copy cannot delete itself either; the temporary folder is
    // cleaned of it at the next restart (a per-user copy is left to the
    // user's own clean-ups of that folder).
    char self[kPathBytes];
    DWORD n = GetModuleFileNameU(nullptr, self, sizeof self);
    if (n > 0 && n < sizeof self && CurrentInstallScope() == SCOPE_MACHINE) {
        MoveFileExU(self, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        // Its private folder goes after it (a folder is removed at the
        // restart when it is empty by then).
        char folder[kPathBytes];
        CopyBounded(folder, sizeof folder, FolderOf(self).c_str());
        StripTrailingBackslash(folder);
        if (strstr(folder, "\\remove-"))
            MoveFileExU(folder, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    return gone;
}
