// Removal of the uninstaller's own file. Windows keeps a running program's
// file open, so the uninstaller cannot delete itself: it leaves a copy of
// itself in the temporary folder, started with "/finish", which waits for
// the uninstaller to end, deletes its file and the folder it leaves empty,
// and has its own file deleted at the next restart.
#include "uninstaller/uninstaller.h"

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

} // namespace

bool StartSelfRemoval(const char* ownProgram)
{
    char temp[MAX_PATH];
    DWORD n = GetTempPathA(sizeof temp, temp);
    if (n == 0 || n >= sizeof temp)
        return false;
    // GetTempFileNameA reserves a unique name; the copy takes that name
    // with ".exe" after it, and the reservation goes again.
    char reserved[MAX_PATH];
    if (!GetTempFileNameA(temp, "uns", 0, reserved))
        return false;
    char copy[MAX_PATH];
    bool fits = CopyBounded(copy, sizeof copy, reserved) && AppendBounded(copy, sizeof copy, ".exe");
    if (!fits || !CopyFileA(ownProgram, copy, FALSE)) {
        DeleteFileA(reserved);
        return false;
    }
    DeleteFileA(reserved);

    // The copy waits on a handle of this process that it inherits, so it
    // cannot mistake another process that later gets the same id.
    HANDLE self = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self, SYNCHRONIZE, TRUE,
                         0)) {
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
    command.Append('"');
    char* commandLine = static_cast<char*>(malloc(command.length() + 1));
    bool started = false;
    if (commandLine) {
        memcpy(commandLine, command.c_str(), command.length() + 1);
        STARTUPINFOA startup;
        ZeroMemory(&startup, sizeof startup);
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process;
        // The temporary folder as its current folder: the copy must not
        // hold the product's folder open while it removes it.
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

bool FinishSelfRemoval(const char* handleText, const char* programPath)
{
    HANDLE original = nullptr;
    if (ParseHandle(handleText, &original)) {
        WaitForSingleObject(original, kWaitForEndMs);
        CloseHandle(original);
    }

    bool gone = false;
    if (IsUninstallerPath(programPath)) {
        for (int i = 0; i < kDeleteTries && !gone; ++i) {
            gone = DeleteOneFile(programPath) == ERROR_SUCCESS;
            if (!gone)
                Sleep(kDeletePauseMs);
        }
        if (gone) {
            TextList protectedFolders;
            CollectProtectedFolders(protectedFolders);
            RemoveEmptyFolders(FolderOf(programPath).c_str(), protectedFolders);
        } else {
            // Still held (a virus scanner, say): the next restart takes it.
            MoveFileExA(programPath, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        }
    }

    // This copy cannot delete itself either; the temporary folder is
    // cleaned of it at the next restart.
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    if (n > 0 && n < sizeof self)
        MoveFileExA(self, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return gone;
}
