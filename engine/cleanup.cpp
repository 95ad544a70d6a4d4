// Clean-up at the end of the process: the staged cabinets are always
// deleted; a cancelled or failed run is rolled back through its journal.
#include "engine/engine.h"
#include "rollback/rollback.h"

void CleanupAfterFailure()
{
    // Nothing is undone while a worker could still write: a cancelled one
    // is stopped and waited for.
    StopAndJoinWorkers();
    ReleaseStagedCabinets();

    if (!Context.MainCabTempPath.empty())
        DeleteExistingFile(Context.MainCabTempPath.c_str());
    if (!Context.ArchivistCabTempPath.empty())
        DeleteExistingFile(Context.ArchivistCabTempPath.c_str());

    // Whatever the journal still holds was not committed: a cancelled or
    // failed run, or a session that ended before its run (the folders it
    // made). Moved files come back, new ones go, and only the folders
    // this session created are removed, when they are empty. After a
    // successful run the journal is empty but for temporary files.
    JournalRollBack(SessionJournal, false);
}
