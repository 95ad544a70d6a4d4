// Times how long a setup program takes from its start to its first page
// (its first visible dialog), under Wine with the server already running,
// and with a second program as the yardstick prints first_page_ratio
// (lower is better). Between the two, the checks that run before the first
// page show: the payload check, the run lock and the journal recovery.
//   first-page-bench PROGRAM [YARDSTICK] [ROUNDS]
#include <windows.h>

#include <algorithm>
#include <stdio.h>
#include <string>
#include <vector>

namespace {

double Now()
{
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

struct Search {
    DWORD processId;
    bool found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM parameter)
{
    Search* search = reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char name[16] = "";
    GetClassNameA(window, name, sizeof name);
    if (owner == search->processId && IsWindowVisible(window) && strcmp(name, "#32770") == 0) {
        search->found = true;
        return FALSE;
    }
    return TRUE;
}

// Seconds from the start of program to its first visible dialog; -1 when
// none came within 30 s.
double TimeToFirstDialog(const std::string& program)
{
    std::string command = "\"" + program + "\"";
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    double start = Now();
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    Search search = {process.dwProcessId, false};
    double elapsed = -1;
    while (Now() - start < 30) {
        EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            elapsed = Now() - start;
            break;
        }
        Sleep(1);
    }
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return elapsed;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: first-page-bench PROGRAM [YARDSTICK] [ROUNDS]\n");
        return 2;
    }
    std::string yardstick = argc > 2 ? argv[2] : "";
    int rounds = argc > 3 ? atoi(argv[3]) : 5;
    if (rounds < 1)
        rounds = 1;
    std::vector<double> program, other;
    // One start of each first, not counted: it warms the disk cache.
    TimeToFirstDialog(argv[1]);
    if (!yardstick.empty())
        TimeToFirstDialog(yardstick);
    for (int i = 0; i < rounds; ++i) {
        double a = TimeToFirstDialog(argv[1]);
        double b = yardstick.empty() ? 0 : TimeToFirstDialog(yardstick);
        if (a < 0 || b < 0) {
            fprintf(stderr, "no dialog came\n");
            return 1;
        }
        program.push_back(a);
        other.push_back(b);
    }
    printf("first page: %.0f ms median of %d\n", Median(program) * 1000, rounds);
    if (!yardstick.empty()) {
        printf("yardstick:  %.0f ms median\n", Median(other) * 1000);
        printf("first_page_ratio: %.2f\n", Median(program) / Median(other));
    }
    return 0;
}
