// Removal of the uninstaller's own file. Windows keeps a running program's
// file open, so the uninstaller cannot delete itself: it leaves a copy of
// itself in a private folder (administrators only, a name nobody can
// guess), started with "/finish", which waits for the uninstaller to end,
// deletes its file and the folder it leaves empty, and has its own file
// and folder deleted at the next restart. A per-user uninstaller has no
// right to deletions at the restart (the machine's hive keeps them): its
// copy goes into the user's temporary folder and stays there.
#include "uninstaller/uninstaller.h"

#include "rollback/rollback.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// How long the copy waits for the uninstaller to end, and how long it keeps
// trying to delete the file afterwards (the system may hold the image a
// moment longer than the process).
const DWORD kWaitForEndMs = 60000;
const int kDeleteTries = 100;
const DWORD kDeletePauseMs = 100;

bool ParseHandle(const char* text, HANDLE* handle)
{
    size_t n = strlen(text);
    if (n == 0 || n > 20 || strspn(text, "0123456789") != n)
        return false;
    *handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(strtoull(text, nullptr, 10)));
    return *handle != nullptr;
}

// Only the uninstaller's own file name is ever deleted by "/finish": the
// switch is no general way to delete files.
bool IsUninstallerPath(const char* path)
{
    if (!IsRemovablePath(path))
        return false;
    const char* name = strrchr(path, '\\');
    return name && lstrcmpiA(name + 1, "UnInstall.exe") == 0;
}

// True when process (a handle the uninstaller handed down) runs the
// program at path: "/finish" deletes the file of the uninstaller that
// started it and nothing else, whatever a command line says.
bool ProcessRunsProgram(HANDLE process, const char* path)
{
    typedef BOOL(WINAPI * QueryImageName)(HANDLE, DWORD, LPSTR, PDWORD);
    QueryImageName query = reinterpret_cast<QueryImageName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryFullProcessImageNameA")));
    char image[MAX_PATH];
    DWORD size = sizeof image;
    return query && query(process, 0, image, &size) && lstrcmpiA(image, path) == 0;
}

// A new private folder for the copy; false when there is none to be had,
// and the temporary folder is used as before.
bool MakeCopyFolder(const char* makerName, char* folder, size_t size)
{
    char maker[MAX_PATH];
    return GetMakerAdminFolder(makerName, maker, sizeof maker) &&
           CreateRandomAdminFolder(maker, "remove-", folder, size);
}

} // namespace

bool StartSelfRemoval(const char* makerName, const char* productName, const char* ownProgram)
{
    // The copy runs elevated: where a standard user could write, the user
    // could swap it before it starts.
    char temp[MAX_PATH];
    char copy[MAX_PATH];
    bool perUser = CurrentInstallScope() == SCOPE_USER;
    if (!perUser && MakeCopyFolder(makerName, temp, sizeof temp)) {
        if (!CopyBounded(copy, sizeof copy, temp) || !AppendBounded(copy, sizeof copy, "\\UnInstall.exe") ||
            !CopyFileA(ownProgram, copy, TRUE)) {
            RemoveDirectoryA(temp);
            return false;
        }
    } else {
        DWORD n = GetTempPathA(sizeof temp, temp);
        if (n == 0 || n >= sizeof temp)
            return false;
        // GetTempFileNameA reserves a unique name; the copy takes that name
        // with ".exe" after it, and the reservation goes again.
        char reserved[MAX_PATH];
        if (!GetTempFileNameA(temp, "uns", 0, reserved))
            return false;
        bool fits = CopyBounded(copy, sizeof copy, reserved) && AppendBounded(copy, sizeof copy, ".exe");
        if (!fits || !CopyFileA(ownProgram, copy, FALSE)) {
            DeleteFileA(reserved);
            return false;
        }
        DeleteFileA(reserved);
    }

    // The copy waits on a handle of this process that it inherits, so it
    // cannot mistake another process that later gets the same id.
    HANDLE self = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self,
                         SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, TRUE, 0)) {
        DeleteFileA(copy);
        return false;
    }
    char handleText[32];
    snprintf(handleText, sizeof handleText, "%llu",
             static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(self)));

    Text command("\"");
    command.Append(copy);
    command.Append("\" /finish ");
    command.Append(handleText);
    command.Append(" \"");
    command.Append(ownProgram);
    command.Append(perUser ? "\" user \"" : "\" machine \"");
    command.Append(makerName);
    command.Append("\" \"");
    command.Append(productName);
    command.Append('"');
    char* commandLine = static_cast<char*>(malloc(command.length() + 1));
    bool started = false;
    if (commandLine) {
        memcpy(commandLine, command.c_str(), command.length() + 1);
        STARTUPINFOA startup;
        ZeroMemory(&startup, sizeof startup);
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process;
        // Its own folder as its current folder: the copy must not hold the
        // product's folder open while it removes it.
        started = CreateProcessA(copy, commandLine, nullptr, nullptr, TRUE, 0, nullptr, temp, &startup, &process) !=
                  FALSE;
        if (started) {
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
        free(commandLine);
    }
    CloseHandle(self);
    if (!started)
        DeleteFileA(copy);
    return started;
}

bool FinishSelfRemoval(const char* handleText, const char* programPath, const char* makerName,
                       const char* productName)
{
    // Only the file of the uninstaller that handed down its own process
    // handle: without one, or for any other path, nothing is deleted.
    HANDLE original = nullptr;
    bool own = false;
    if (ParseHandle(handleText, &original)) {
        own = ProcessRunsProgram(original, programPath);
        WaitForSingleObject(original, kWaitForEndMs);
        CloseHandle(original);
    }

    bool gone = false;
    if (own && IsUninstallerPath(programPath)) {
        for (int i = 0; i < kDeleteTries && !gone; ++i) {
            gone = DeleteOneFile(programPath) == ERROR_SUCCESS;
            if (!gone)
                Sleep(kDeletePauseMs);
        }
        if (gone) {
            TextList protectedFolders;
            CollectProtectedFolders(protectedFolders, "");
            RemoveEmptyFolders(FolderOf(programPath).c_str(), protectedFolders);
        } else if (CurrentInstallScope() == SCOPE_MACHINE) {
            // Still held (a virus scanner, say): the next restart takes it.
            MoveFileExA(programPath, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        }
    }

    // The removal's journal waited for the program to be gone: its next
    // session finishes it (and leaves no journal when nothing is left).
    if (own && IsPlainName(makerName) && IsPlainName(productName)) {
        RunJournal journal;
        JournalRecovery recovered;
        if (JournalStartSession(journal, makerName, productName, &recovered) == JOURNAL_STARTED)
            JournalEndSession(journal);
    }

    // This copy cannot delete itself either; the temporary folder is
    // cleaned of it at the next restart (a per-user copy is left to the
    // user's own clean-ups of that folder).
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    if (n > 0 && n < sizeof self && CurrentInstallScope() == SCOPE_MACHINE) {
        MoveFileExA(self, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        // Its private folder goes after it (a folder is removed at the
        // restart when it is empty by then).
        char folder[MAX_PATH];
        CopyBounded(folder, sizeof folder, FolderOf(self).c_str());
        StripTrailingBackslash(folder);
        if (strstr(folder, "\\remove-"))
            MoveFileExA(folder, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    return gone;
}
