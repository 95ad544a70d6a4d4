// The installation run's steps, in the order the install page takes them
// and without a window of their own: the start of a run from a clean
// record, the hand-over of the staged cabinets to the extraction, and the
// registration with the commit. The page runs the two workers between
// them on threads of their own; a test may run them one after the other.
#include "wizard/wizard.h"
#include "engine/engine.h"
#include "registration/registration.h"
#include "rollback/rollback.h"

namespace {

// The folders of the run and the space on the destination's volume, for
// the log.
void LogRunFolders()
{
    char folder[kPathBytes];
    CopyBounded(folder, sizeof folder, Context.TargetDir.c_str());
    LogEvent("%s into %s: %ld KB free on its volume, %ld KB needed", Context.RepairMode ? "repair" : "installation",
             folder, static_cast<long>(GetFreeKilobytes(folder)),
             static_cast<long>(LoadStringNumber(IDS_REQUIRED_SPACE) / 1024));
    Text sibling = GetArchivistDir();
    if (!sibling.empty())
        LogEvent("the sibling product's folder: %s", sibling.c_str());
}

} // namespace

void BeginInstallRun()
{
    // A run started again after Back from the error or interrupted page
    // first waits for the earlier worker, then undoes the earlier run (its
    // staged cabinets included); the folders the session made stay for
    // this run.
    StopAndJoinWorkers();
    ReleaseStagedCabinets();
    JournalRollBack(SessionJournal, true);
    Context.MainCabTempPath.Clear();
    Context.ArchivistCabTempPath.Clear();
    Context.InstalledFiles.Clear();
    Context.CarriedFiles.Clear();
    Context.ExtractTargetDir.Clear();
    Context.ArchivistDir.Clear();
    SetCurrentFileAndDir("", "");
    MakeWorkFolder();

    LogRunFolders();
    Context.UserCancelled = 0;
    Context.CleanupRequired = 0;
    Context.ExtractingArchivist = 0;
    Context.InstallPhase = 1;
    StagingJobRecord& job = Context.StagingJob;
    job.ModuleHandle = Context.InstanceHandle;
    job.MainCabTemp[0] = '\0';
    job.ArchivistCabTemp[0] = '\0';
    job.Status = 0;
    job.Done = 0;
    job.Total = Context.ProgressTotal;
}

void TakeOverStagedCabinets()
{
    Context.MainCabTempPath = Context.StagingJob.MainCabTemp;
    Context.ArchivistCabTempPath = Context.StagingJob.ArchivistCabTemp;
    Context.ExtractTargetDir = Context.TargetDir;
    Context.ArchivistDir = GetArchivistDir();
    // Below the folders the run writes into, nothing goes through a link
    // that somebody placed there.
    JournalGuardFolder(SessionJournal, Context.ExtractTargetDir.c_str());
    if (!Context.ArchivistDir.empty())
        JournalGuardFolder(SessionJournal, Context.ArchivistDir.c_str());
}

void PrepareExtraction()
{
    Context.InstallPhase = 2;
    ExtractionJobRecord& job = Context.ExtractionJob;
    CopyBounded(job.MainCabPath, sizeof job.MainCabPath, Context.MainCabTempPath.c_str());
    CopyBounded(job.ArchivistCabPath, sizeof job.ArchivistCabPath, Context.ArchivistCabTempPath.c_str());
    job.Total = Context.ProgressTotal;
    job.Done = Context.StagingJob.Done;
    job.Status = 0;
    job.AskCopyError = CopyErrorDialog;
    job.AnswerCopyError = AnswerCopyErrorDialog;
}

void RegisterInstallation()
{
    CreateShortcuts();
    RegisterProductValues();
    // Before the list is replaced: what an earlier version listed and this
    // one no longer carries goes with the commit.
    RemoveDroppedFiles();
    RegisterProduct();
    WriteUninstaller();
    RegisterInstalledSize();
    // The product is complete: what the run replaced can go, and so can the
    // staged cabinets. The update package runs afterwards and cannot be
    // undone anyway.
    ReleaseStagedCabinets();
    JournalCommit(SessionJournal);
    Context.RestartForFiles = SessionJournal.WaitingForRestart.Count() > 0;
    if (Context.RestartForFiles)
        LogEvent("%lu replaced file(s) still in use: a restart completes the installation",
                 static_cast<unsigned long>(SessionJournal.WaitingForRestart.Count()));
    // Programs started from now on (a new console) find the product's
    // folders on the PATH.
    if (Context.PathChanged)
        AnnounceEnvironmentChange();
    // Explorer shows the file types' icons and opens them with the product.
    if (Context.FileTypesChanged)
        AnnounceFileTypesChange();
}
