// Times the installation engine alone (staging of the demo payload's
// cabinets from the resources, then their extraction) against a plain copy
// of the same uncompressed files, in one run under Wine, and prints
// engine_vs_copy (lower is better).
//   engine-bench [DEMO_MAIN_DIR] [ROUNDS]
#include <windows.h>

#include <algorithm>
#include <stdio.h>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "registration/registration.h"
#include "tests/common/files.h"

namespace {

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

} // namespace

int main(int argc, char** argv)
{
    std::string source = argc > 1 ? argv[1] : "";
    int rounds = argc > 2 ? atoi(argv[2]) : 7;
    if (source.empty()) {
        fprintf(stderr, "usage: engine-bench DEMO_MAIN_DIR [ROUNDS]\n");
        return 2;
    }
    Context.InstanceHandle = GetModuleHandleA(nullptr);
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string work = std::string(temp) + "engine-bench";
    RemoveTree(work);
    CreateDirectoryA(work.c_str(), nullptr);
    // The plain copy reads from the same kind of disk the engine writes to.
    std::string plainSource = work + "\\source";
    unsigned long long bytes = CopyTree(source, plainSource);

    std::vector<double> engine, copy, stagingTimes;
    for (int i = 0; i < rounds; ++i) {
        std::string target = work + "\\engine\\";
        std::string archivist = work + "\\archivist\\";
        double t0 = Now();
        StagingJobRecord& staging = Context.StagingJob;
        staging = StagingJobRecord();
        staging.ModuleHandle = Context.InstanceHandle;
        StagingThreadProc(&staging);
        stagingTimes.push_back(Now() - t0);
        ExtractionJobRecord& extraction = Context.ExtractionJob;
        extraction = ExtractionJobRecord();
        CopyBounded(extraction.MainCabPath, sizeof extraction.MainCabPath, staging.MainCabTemp);
        CopyBounded(extraction.ArchivistCabPath, sizeof extraction.ArchivistCabPath, staging.ArchivistCabTemp);
        Context.ExtractTargetDir = target.c_str();
        Context.ArchivistDir = archivist.c_str();
        ExtractionThreadProc(&extraction);
        double t1 = Now();
        if (staging.Status != 0 || extraction.Status != 0) {
            fprintf(stderr, "engine failed: staging %d, extraction %d\n", static_cast<int>(staging.Status),
                    static_cast<int>(extraction.Status));
            return 1;
        }
        engine.push_back(t1 - t0);
        DeleteExistingFile(staging.MainCabTemp);
        DeleteExistingFile(staging.ArchivistCabTemp);
        RemoveTree(work + "\\engine");
        RemoveTree(work + "\\archivist");
        Context.InstalledFiles.Clear();

        double t2 = Now();
        CopyTree(plainSource, work + "\\copy");
        double t3 = Now();
        copy.push_back(t3 - t2);
        RemoveTree(work + "\\copy");
    }
    RemoveTree(work);

    double e = Median(engine), c = Median(copy);
    printf("payload: %.2f MB uncompressed in the product folder, %d rounds\n", bytes / 1048576.0, rounds);
    printf("engine (staging + extraction): %.1f ms median, %.1f MB/s\n", e * 1000, bytes / 1048576.0 / e);
    printf("  of which staging:            %.1f ms median\n", Median(stagingTimes) * 1000);
    printf("plain copy of the same files:  %.1f ms median, %.1f MB/s\n", c * 1000, bytes / 1048576.0 / c);
    printf("engine_vs_copy: %.2f\n", e / c);
    return 0;
}
