// What a run's workers hold and how they end: a worker that lives on after
// a cancel is stopped and waited for, the staged cabinets are released,
// and each run gets a private working folder of its own.
#include "engine/engine.h"
#include "rollback/rollback.h"

namespace {

// Joins one worker thread.
void JoinWorker(HANDLE& thread)
{
    if (!thread)
        return;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    thread = nullptr;
}

// Records a private folder before it is made.
void RecordBeforeMaking(const char* folder, void* journal)
{
    RecordCreatedFolder(*static_cast<RunJournal*>(journal), folder);
}

} // namespace

void StopAndJoinWorkers()
{
    if (!Context.StagingThread && !Context.ExtractionThread)
        return;
    // A worker that lives on belongs to a cancelled run (or to a program
    // that is ending): it skips whatever is left and ends, and a question
    // it has up is answered.
    InterlockedExchange(reinterpret_cast<volatile LONG*>(&Context.UserCancelled), 1);
    PauseWorkers(false);
    if (Context.ExtractionJob.AnswerCopyError)
        Context.ExtractionJob.AnswerCopyError();
    JoinWorker(Context.StagingThread);
    JoinWorker(Context.ExtractionThread);
}

void ReleaseStagedCabinets()
{
    HANDLE* files[] = {&Context.StagingJob.MainCabFile, &Context.StagingJob.ArchivistCabFile};
    for (HANDLE* file : files) {
        if (*file && *file != INVALID_HANDLE_VALUE)
            CloseHandle(*file);
        *file = nullptr;
    }
}

void MakeWorkFolder()
{
    Context.WorkFolder.Clear();
    char product[kPathBytes], folder[kPathBytes];
    if (!GetProductAdminFolder(SessionJournal.MakerName.c_str(), SessionJournal.ProductName.c_str(), product,
                               sizeof product) ||
        !CreateRandomAdminFolder(product, "run-", folder, sizeof folder, RecordBeforeMaking, &SessionJournal))
        return;
    Context.WorkFolder = folder;
}
