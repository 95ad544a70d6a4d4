// The installer context.
#include "setup/setup.h"

InstallerContext Context;

InstallerContext::InstallerContext()
    : LanguageCode(kEnglish), Languages(), InstanceHandle(nullptr), RichEditModule(nullptr), ModulePath(),
      RepairMode(0), LowDiskSpace(0), ProgressTotal(0), UpdateCommonControls(0), RestartForFiles(0), RestartNow(0),
      LeaveApplicationsRunning(0), HoldersRunning(0), LicenceAccepted(0),
      UserCancelled(0), CleanupRequired(0), ExitCode(EXIT_INSTALLED), Silent(0), StartProductAtEnd(0), RunLog(nullptr), CurrentFile(),
      CurrentDir(), TextBuffer(), InstallPhase(0), ProgressPos(0), ProgressMax(0),
      StagingThread(nullptr), ExtractionThread(nullptr), ProgressTimer(0), TimerBusy(0), StagingJob(),
      ExtractionJob(), PathChanged(0), FileTypesChanged(0), CurrentFileSize(0), ExtractingArchivist(0), ComctlVersion(), ComctlVersionState(-1), ComctlNoticeShown(0),
      ScreenDpiY(0), DialogFont(nullptr), BoldFont(nullptr), TitleFont(nullptr)
{
    InitializeCriticalSection(&CurrentLock);
    InitializeCriticalSection(&LogLock);
}

InstallerContext::~InstallerContext()
{
    if (RunLog)
        CloseHandle(RunLog);
    DeleteCriticalSection(&LogLock);
    DeleteCriticalSection(&CurrentLock);
}

void SetCurrentFileAndDir(const char* file, const char* dir)
{
    EnterCriticalSection(&Context.CurrentLock);
    CopyBounded(Context.CurrentFile, sizeof Context.CurrentFile, file);
    CopyBounded(Context.CurrentDir, sizeof Context.CurrentDir, dir);
    LeaveCriticalSection(&Context.CurrentLock);
}

void GetCurrentFileAndDir(char* file, size_t fileSize, char* dir, size_t dirSize)
{
    EnterCriticalSection(&Context.CurrentLock);
    CopyBounded(file, fileSize, Context.CurrentFile);
    CopyBounded(dir, dirSize, Context.CurrentDir);
    LeaveCriticalSection(&Context.CurrentLock);
}
