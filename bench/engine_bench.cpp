// Times the installation engine alone (staging of a setup program's
// cabinets from its resources, then their extraction, with every change
// recorded in the run's journal on disk) against a plain copy of the same
// uncompressed files, in one run under Wine, and prints engine_vs_copy
// (lower is better). Also times a reinstall over the same files (each one
// moved aside, then the moved files deleted when the run commits), the
// same run with the journal kept in memory only, and the payload check
// that runs before the first page; last, the peak memory of the process,
// which runs the engine as the setup program does (its own image mapped,
// the payload read from there).
//   engine-bench SETUP_EXE PRODUCT_DIR [ROUNDS]
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <stdio.h>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "rollback/rollback.h"
#include "registration/registration.h"
#include "tests/common/files.h"

namespace {

const char kBenchMaker[] = "Engine Bench";
const char kBenchProduct[] = "Engine Bench Product";

double Now()
{
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

void RemoveTree(const std::string& folder) { testfiles::RemoveTree(folder); }

// Copies a tree file by file, creating folders: the plain copy.
unsigned long long CopyTree(const std::string& from, const std::string& to)
{
    unsigned long long bytes = 0;
    CreateDirectoryA(to.c_str(), nullptr);
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((from + "\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            bytes += CopyTree(from + "\\" + name, to + "\\" + name);
        } else {
            CopyFileA((from + "\\" + name).c_str(), (to + "\\" + name).c_str(), FALSE);
            bytes += found.nFileSizeLow;
        }
    } while (FindNextFileA(h, &found));
    FindClose(h);
    return bytes;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The phases of one run of the engine, in seconds.
struct Phases {
    double Staging = 0, Extraction = 0, Commit = 0;
};

// One run of the engine into target, as the install page drives it, then
// its commit; the phases' times go to *phases. False when a worker failed.
bool RunEngine(const std::string& target, const std::string& archivist, Phases* phases)
{
    double t0 = Now();
    // With a journal on disk the run stages into its private folder, and
    // guards the folders it writes into against links as the install page
    // does (every change below them is checked to land there).
    if (!SessionJournal.ProductName.empty()) {
        MakeWorkFolder();
        JournalGuardFolder(SessionJournal, target.c_str());
        JournalGuardFolder(SessionJournal, archivist.c_str());
    }
    StagingJobRecord& stagingJob = Context.StagingJob;
    stagingJob = StagingJobRecord();
    stagingJob.ModuleHandle = Context.InstanceHandle;
    StagingThreadProc(&stagingJob);
    double t1 = Now();
    phases->Staging = t1 - t0;
    ExtractionJobRecord& extraction = Context.ExtractionJob;
    extraction = ExtractionJobRecord();
    CopyBounded(extraction.MainCabPath, sizeof extraction.MainCabPath, stagingJob.MainCabTemp);
    CopyBounded(extraction.ArchivistCabPath, sizeof extraction.ArchivistCabPath, stagingJob.ArchivistCabTemp);
    Context.ExtractTargetDir = target.c_str();
    Context.ArchivistDir = archivist.c_str();
    Context.InstalledFiles.Clear();
    ExtractionThreadProc(&extraction);
    ReleaseStagedCabinets();
    double t2 = Now();
    phases->Extraction = t2 - t1;
    JournalCommit(SessionJournal);
    phases->Commit = Now() - t2;
    if (stagingJob.Status != 0 || extraction.Status != 0) {
        fprintf(stderr, "engine failed: staging %d, extraction %d\n", static_cast<int>(stagingJob.Status),
                static_cast<int>(extraction.Status));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::string program = argc > 1 ? argv[1] : "";
    std::string source = argc > 2 ? argv[2] : "";
    int rounds = argc > 3 ? atoi(argv[3]) : 7;
    if (program.empty() || source.empty() || rounds < 1) {
        fprintf(stderr, "usage: engine-bench SETUP_EXE PRODUCT_DIR [ROUNDS]\n");
        return 2;
    }
    // The setup program's resources are read from it as data.
    Context.InstanceHandle = LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!Context.InstanceHandle) {
        fprintf(stderr, "cannot read %s\n", program.c_str());
        return 2;
    }
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string work = std::string(temp) + "engine-bench";
    RemoveTree(work);
    CreateDirectoryA(work.c_str(), nullptr);
    // The plain copy reads from the same kind of disk the engine writes to.
    std::string plainSource = work + "\\source";
    unsigned long long bytes = CopyTree(source, plainSource);
    std::string target = work + "\\engine\\";
    std::string archivist = work + "\\archivist\\";

    std::vector<double> check, fresh, inMemory, reinstall, copy;
    // Each phase of the fresh installation [0] and of the reinstall [1].
    std::vector<double> staging[2], extraction[2], commit[2];
    Phases phases;
    auto keep = [&](int run) {
        staging[run].push_back(phases.Staging);
        extraction[run].push_back(phases.Extraction);
        commit[run].push_back(phases.Commit);
    };
    for (int i = 0; i < rounds; ++i) {
        double t0 = Now();
        if (!CheckPayload()) {
            fprintf(stderr, "the payload check fails\n");
            return 1;
        }
        check.push_back(Now() - t0);

        // A fresh installation, its journal on disk as in a real run.
        JournalRecovery recovered;
        JournalStartSession(SessionJournal, kBenchMaker, kBenchProduct, &recovered);
        t0 = Now();
        if (!RunEngine(target, archivist, &phases))
            return 1;
        fresh.push_back(Now() - t0);
        keep(0);
        // The same again over the installed files: every one moved aside.
        t0 = Now();
        if (!RunEngine(target, archivist, &phases))
            return 1;
        reinstall.push_back(Now() - t0);
        keep(1);
        JournalEndSession(SessionJournal);
        RemoveTree(work + "\\engine");
        RemoveTree(work + "\\archivist");

        // A fresh installation whose journal stays in memory.
        SessionJournal.ProductName.Clear();
        Context.WorkFolder.Clear();
        t0 = Now();
        if (!RunEngine(target, archivist, &phases))
            return 1;
        inMemory.push_back(Now() - t0);
        RemoveTree(work + "\\engine");
        RemoveTree(work + "\\archivist");

        t0 = Now();
        CopyTree(plainSource, work + "\\copy");
        copy.push_back(Now() - t0);
        RemoveTree(work + "\\copy");
    }
    RemoveTree(work);

    double e = Median(fresh), c = Median(copy), m = Median(inMemory), r = Median(reinstall), k = Median(check);
    double mb = static_cast<double>(bytes) / 1048576.0;
    printf("payload: %.2f MB uncompressed in the product folder, %d rounds\n", mb, rounds);
    printf("payload check before the first page: %.1f ms median\n", k * 1000);
    printf("engine, journal on disk (staging + extraction): %.1f ms median, %.1f MB/s\n", e * 1000, mb / e);
    printf("  staging %.1f, extraction %.1f, commit %.1f ms median\n", Median(staging[0]) * 1000,
           Median(extraction[0]) * 1000, Median(commit[0]) * 1000);
    printf("engine, journal in memory only:                %.1f ms median\n", m * 1000);
    printf("reinstall over the same files (moved aside):   %.1f ms median\n", r * 1000);
    printf("  staging %.1f, extraction %.1f, commit %.1f ms median\n", Median(staging[1]) * 1000,
           Median(extraction[1]) * 1000, Median(commit[1]) * 1000);
    printf("plain copy of the same files:                  %.1f ms median, %.1f MB/s\n", c * 1000, mb / c);
    printf("engine_vs_copy: %.2f\n", e / c);
    printf("reinstall_vs_copy: %.2f\n", r / c);
    printf("check_vs_engine: %.3f\n", k / e);
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory))
        printf("engine_peak_mb: %.0f\n", static_cast<double>(memory.PeakWorkingSetSize) / 1048576.0);
    return 0;
}
