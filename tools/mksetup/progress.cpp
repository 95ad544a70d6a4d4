// The progress of packing, on the standard output. A maker at a terminal
// sees one line that changes in place (the share done, the megabytes and
// the rate), a few times a second; a build log gets a plain line now and
// then on a long run and nothing on a short one, never a stream of
// carriage returns; --quiet prints nothing.
#include "tools/mksetup/mksetup.h"

#include <chrono>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace mksetup {

namespace {

// Seconds between updates of the terminal's line, and between plain lines.
const double kTerminalInterval = 0.1;
const double kPlainInterval = 15.0;

double Seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void Show(Progress* p, double now)
{
    double megabytes = double(p->done) / 1048576.0;
    double elapsed = now - p->started;
    int percent = p->total == 0 ? 100 : int(p->done * 100 / p->total);
    char line[160];
    int n = snprintf(line, sizeof line, "mksetup: packing %3d%% (%.1f of %.1f MB, %.1f MB/s)", percent, megabytes,
                     double(p->total) / 1048576.0, elapsed > 0 ? megabytes / elapsed : 0.0);
    size_t width = n < 0 ? 0 : size_t(n) < sizeof line ? size_t(n) : sizeof line - 1;
    if (p->mode == PROGRESS_IN_PLACE) {
        // Blanks over what a longer line before left, since not every
        // console knows the sequence that clears a line.
        printf("\r%s%*s", line, p->width > width ? int(p->width - width) : 0, "");
        p->width = width;
    } else {
        printf("%s\n", line);
    }
    fflush(stdout);
    p->shown = now;
}

}  // namespace

ProgressMode ProgressModeOfOutput(bool quiet)
{
    if (quiet)
        return PROGRESS_OFF;
#ifdef _WIN32
    DWORD mode = 0;
    bool terminal = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
#else
    bool terminal = isatty(STDOUT_FILENO) != 0;
#endif
    return terminal ? PROGRESS_IN_PLACE : PROGRESS_PLAIN;
}

void ProgressBegin(Progress* progress, ProgressMode mode, uint64_t total)
{
    *progress = Progress();
    progress->mode = mode;
    progress->total = total;
    progress->started = progress->shown = Seconds();
    if (mode == PROGRESS_IN_PLACE)
        Show(progress, progress->started);
}

void ProgressAdd(Progress* progress, uint64_t bytes)
{
    progress->done += bytes;
    if (progress->mode == PROGRESS_OFF)
        return;
    double now = Seconds();
    if (now - progress->shown >= (progress->mode == PROGRESS_IN_PLACE ? kTerminalInterval : kPlainInterval))
        Show(progress, now);
}

void ProgressEnd(Progress* progress)
{
    // The terminal's line stays, complete, above what follows.
    if (progress->mode == PROGRESS_IN_PLACE) {
        Show(progress, Seconds());
        printf("\n");
        fflush(stdout);
    }
    progress->mode = PROGRESS_OFF;
}

}  // namespace mksetup
