// The install page: runs the staging thread and then the extraction thread,
// polls them on a 50 ms timer, shows the progress and the file being
// copied, lets the user cancel, and registers the product once every file
// is in place.
#include "wizard/wizard.h"
#include "engine/engine.h"
#include "registration/registration.h"
#include "rollback/rollback.h"
#include "setup/wide.h"

#include <commctrl.h>

namespace {

const UINT_PTR kProgressTimerId = 1;
const UINT kProgressTimerMs = 50;

// From the start of staging to the end of registration the run writes;
// a log-off or shutdown is refused meanwhile, with the page's heading as
// the reason.
bool Writing = false;

// Tells the system why a log-off should wait: the page's heading.
void BlockShutdown(HWND page, bool block)
{
    HWND frame = MainWindowHandle();
    Writing = block;
    if (!frame)
        return;
    if (block) {
        WCHAR reason[256];
        if (GetDlgItemTextW(page, IDC_HEADING, reason, 256))
            ShutdownBlockReasonCreate(frame, reason);
    } else {
        ShutdownBlockReasonDestroy(frame);
    }
}

HANDLE StartWorker(LPTHREAD_START_ROUTINE routine, void* job)
{
    HANDLE thread = CreateThread(nullptr, 0, routine, job, 0, nullptr);
    if (thread)
        SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST);
    return thread;
}

void EndRun(HWND page, INT_PTR result)
{
    if (result == PAGE_NEXT)
        LogEvent("installation run succeeded");
    else if (Context.UserCancelled)
        LogEvent("installation run cancelled: its changes are undone");
    else
        LogEvent("installation run failed (staging status %ld, extraction status %ld): its changes are undone",
                 static_cast<long>(Context.StagingJob.Status), static_cast<long>(Context.ExtractionJob.Status));
    if (result == PAGE_CANCEL)
        Context.CleanupRequired = 1;
    Context.InstallPhase = 3;
    BlockShutdown(page, false);
    EndDialog(page, result);
}

void RunComctlUpdate()
{
    // A private folder of its own: the run's first one went with the
    // commit. Both the folder and the package are deleted at the end of the
    // process if they are still there then.
    MakeWorkFolder();
    char package[kPathBytes];
    if (!UnpackComctlUpdate(package))
        return;
    RecordTemporaryFile(SessionJournal, package);
    // Held open until it has been started: nobody writes, renames or
    // deletes it in between.
    HANDLE held = CreateFileU(package, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    // Quoted: the folder may hold blanks.
    char command[kPathBytes + 32];
    CopyBounded(command, sizeof command, "\"");
    AppendBounded(command, sizeof command, package);
    AppendBounded(command, sizeof command, "\" /r:n /q:a");
    if (held != INVALID_HANDLE_VALUE) {
        PROCESS_INFORMATION process;
        if (CreateProcessU(package, command, FALSE, 0, nullptr, &process, SW_HIDE)) {
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
        CloseHandle(held);
    }
    // While the package runs its file cannot be deleted: that is how its
    // end is noticed, for at most ten seconds.
    for (int i = 0; i < 20; ++i) {
        Sleep(500);
        if (DeleteFileU(package))
            break;
    }
}

void FinishSuccessfulRun(HWND page)
{
    // Registration is not interrupted halfway: from here Cancel does
    // nothing, and its button says so.
    Context.InstallPhase = 3;
    EnableWindow(GetDlgItem(page, IDCANCEL), FALSE);
    Context.ProgressPos = static_cast<uint32_t>(Context.ExtractionJob.Done);
    Context.ProgressMax = static_cast<uint32_t>(Context.ExtractionJob.Total);
    ShowProgress(page);
    RegisterInstallation();
    SetActiveWindow(page);
    if (Context.UpdateCommonControls)
        RunComctlUpdate();
    EndRun(page, PAGE_NEXT);
}

void StartExtraction(HWND page)
{
    PrepareExtraction();
    Context.ExtractionThread = StartWorker(ExtractionThreadProc, &Context.ExtractionJob);
    if (!Context.ExtractionThread)
        EndRun(page, PAGE_CANCEL);
}

void OnTimer(HWND page)
{
    char file[kPathBytes], dir[kPathBytes];
    GetCurrentFileAndDir(file, sizeof file, dir, sizeof dir);
    SetDlgItemTextU(page, IDC_CURRENT_FILE, file);
    SetDlgItemTextU(page, IDC_CURRENT_DIR, dir);

    if (Context.InstallPhase == 1) {
        if (WaitForSingleObject(Context.StagingThread, 0) == WAIT_TIMEOUT) {
            Context.ProgressPos = static_cast<uint32_t>(Context.StagingJob.Done);
            Context.ProgressMax = static_cast<uint32_t>(Context.StagingJob.Total);
            ShowProgress(page);
            return;
        }
        TakeOverStagedCabinets();
        CloseHandle(Context.StagingThread);
        Context.StagingThread = nullptr;
        if (Context.UserCancelled || Context.StagingJob.Status != 0) {
            EndRun(page, PAGE_CANCEL);
            return;
        }
        StartExtraction(page);
        if (Context.InstallPhase != 2)
            return;
    }

    if (Context.InstallPhase == 2) {
        if (WaitForSingleObject(Context.ExtractionThread, 0) == WAIT_TIMEOUT) {
            Context.ProgressPos = static_cast<uint32_t>(Context.ExtractionJob.Done);
            Context.ProgressMax = static_cast<uint32_t>(Context.ExtractionJob.Total);
            ShowProgress(page);
            return;
        }
        CloseHandle(Context.ExtractionThread);
        Context.ExtractionThread = nullptr;
        if (Context.UserCancelled || Context.ExtractionJob.Status != 0) {
            EndRun(page, PAGE_CANCEL);
            return;
        }
        FinishSuccessfulRun(page);
    }
}

BOOL OnInitDialog(HWND page)
{
    BeginPageInit(page);
    SendDlgItemMessageW(page, IDC_CURRENT_FILE, WM_SETFONT, reinterpret_cast<WPARAM>(Context.BoldFont), 0);
    SendDlgItemMessageW(page, IDC_CURRENT_DIR, WM_SETFONT, reinterpret_cast<WPARAM>(Context.BoldFont), 0);
    ExpandItemText(page, IDC_HEADING);
    SetDlgItemTextU(page, IDC_CURRENT_FILE, "");
    SetDlgItemTextU(page, IDC_CURRENT_DIR, "");
    SendDlgItemMessageW(page, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendDlgItemMessageW(page, IDC_PROGRESS, PBM_SETPOS, 0, 0);
    if (!Context.Silent)
        ShowWindow(page, SW_SHOW);

    // Each opening starts a run from a clean record, while log-offs wait.
    BlockShutdown(page, true);
    BeginInstallRun();
    Context.TimerBusy = 0;
    Context.StagingThread = StartWorker(StagingThreadProc, &Context.StagingJob);
    if (!Context.StagingThread) {
        EndRun(page, PAGE_CANCEL);
        return TRUE;
    }
    Context.ProgressTimer = SetTimer(page, kProgressTimerId, kProgressTimerMs, nullptr);
    return TRUE;
}

void OnCancel(HWND page)
{
    if (Context.InstallPhase != 1 && Context.InstallPhase != 2)
        return;
    // The worker stops at its next chunk or file boundary instead of being
    // suspended wherever it is, which could be inside the heap that the
    // question itself needs. The timer must not end the page meanwhile.
    PauseWorkers(true);
    int32_t wasBusy = Context.TimerBusy;
    Context.TimerBusy = 1;
    // Without a window nobody could answer: a request to stop a silent
    // run (its frame closed, say) is taken as it comes.
    int answer = IDYES;
    if (!Context.Silent)
        answer = MessageBoxFromString(page, IDS_CANCEL_QUESTION, MB_YESNO | MB_ICONQUESTION);
    if (answer == IDYES) {
        Context.CleanupRequired = 1;
        InterlockedExchange(reinterpret_cast<volatile LONG*>(&Context.UserCancelled), 1);
        // A copy-error dialog that is up now belongs to the cancelled run:
        // it is answered, and the worker writes nothing more.
        AnswerCopyErrorDialog();
    }
    PauseWorkers(false);
    Context.TimerBusy = wasBusy;
    if (answer == IDYES)
        EndRun(page, PAGE_CANCEL);
}

} // namespace

bool InstallRunIsWriting() { return Writing; }

unsigned ProgressPercent(uint32_t pos, uint32_t max)
{
    if (max == 0)
        return 0;
    // Computed in 64 bits: pos * 100 overflows 32 bits beyond 42 MB.
    unsigned long long percent = (static_cast<unsigned long long>(pos) * 100 + 1) / max;
    return percent > 100 ? 100u : static_cast<unsigned>(percent);
}

void ShowProgress(HWND page)
{
    unsigned percent = ProgressPercent(Context.ProgressPos, Context.ProgressMax);
    SendDlgItemMessageW(page, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendDlgItemMessageW(page, IDC_PROGRESS, PBM_SETPOS, percent, 0);
}

INT_PTR CALLBACK InstallPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(page);
    case WM_TIMER:
        if (Context.TimerBusy)
            return DefWindowProcW(page, message, wParam, lParam);
        Context.TimerBusy = 1;
        OnTimer(page);
        Context.TimerBusy = 0;
        return DefWindowProcW(page, message, wParam, lParam);
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            OnCancel(page);
            return TRUE;
        }
        return FALSE;
    case WM_ERASEBKGND:
        return ErasePageBackground(page, wParam, lParam);
    case WM_WINDOWPOSCHANGING:
        // The dialog manager shows a modal page once its queue is idle; a
        // silent run's page stays hidden all the same.
        if (Context.Silent)
            reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~SWP_SHOWWINDOW;
        return FALSE;
    case WM_DESTROY:
        if (Context.ProgressTimer) {
            KillTimer(page, Context.ProgressTimer);
            Context.ProgressTimer = 0;
        }
        return FALSE;
    }
    return FALSE;
}
