// The holders of the product's files: the process list and the Restart
// Manager, both loaded at run time (neither exists on the oldest systems
// the setup runs on), and the polite request to close.
#include "setup/file_holders.h"
#include "setup/system_libraries.h"
#include "setup/wide.h"

#include <tlhelp32.h>
#include <string.h>

#include <new>

namespace {

typedef BOOL(WINAPI* QueryImageNameFunction)(HANDLE, DWORD, wchar_t*, DWORD*);

// The Restart Manager's interface, as rstrtmgr.dll exports it.
const DWORD kRmSessionKeyLength = 64;  // CCH_RM_SESSION_KEY, wide characters with the terminator
struct RmUniqueProcess {
    DWORD ProcessId;
    FILETIME StartTime;
};
struct RmProcessInfo {
    RmUniqueProcess Process;
    wchar_t AppName[256];
    wchar_t ServiceShortName[64];
    DWORD ApplicationType;
    ULONG AppStatus;
    DWORD TSSessionId;
    BOOL Restartable;
};
typedef DWORD(WINAPI* RmStartSessionFunction)(DWORD*, DWORD, wchar_t*);
typedef DWORD(WINAPI* RmRegisterResourcesFunction)(DWORD, UINT, const wchar_t**, UINT, RmUniqueProcess*, UINT,
                                                   const wchar_t**);
typedef DWORD(WINAPI* RmGetListFunction)(DWORD, UINT*, UINT*, RmProcessInfo*, DWORD*);
typedef DWORD(WINAPI* RmEndSessionFunction)(DWORD);
typedef DWORD(WINAPI* RmShutdownFunction)(DWORD, ULONG, void*);

template <typename Function> Function Export(HMODULE module, const char* name)
{
    return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

const char* FileNameOf(const char* path)
{
    const char* slash = strrchr(path, '\\');
    return slash ? slash + 1 : path;
}

// The processes whose program lies below folder.
void FindProcessesBelow(const char* folder, FileHolders& out)
{
    QueryImageNameFunction query =
        Export<QueryImageNameFunction>(GetModuleHandleW(L"kernel32.dll"), "QueryFullProcessImageNameW");
    size_t length = strlen(folder);
    if (!query || length == 0)
        return;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId())
            continue;
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        if (!process)
            continue;
        wchar_t image[MAX_PATH];
        DWORD size = MAX_PATH;
        char path[kPathBytes];
        if (query(process, 0, image, &size) && FromWide(image, path, sizeof path) > 0 && strlen(path) > length &&
            SamePrefixNoCase(path, folder, length))
            out.Add(entry.th32ProcessID, FileNameOf(path));
        CloseHandle(process);
    }
    CloseHandle(snapshot);
}

// The Restart Manager's holders of files (at most 64 of them asked for).
void FindWithRestartManager(const TextList& files, FileHolders& out)
{
    HMODULE manager = LoadSystemLibrary("rstrtmgr.dll");
    RmStartSessionFunction start = Export<RmStartSessionFunction>(manager, "RmStartSession");
    RmRegisterResourcesFunction add = Export<RmRegisterResourcesFunction>(manager, "RmRegisterResources");
    RmGetListFunction list = Export<RmGetListFunction>(manager, "RmGetList");
    RmEndSessionFunction end = Export<RmEndSessionFunction>(manager, "RmEndSession");
    DWORD session = 0;
    wchar_t key[kRmSessionKeyLength + 1] = L"";
    if (!start || !add || !list || !end || files.Count() == 0 || start(&session, 0, key) != ERROR_SUCCESS)
        return;
    // The names' wide forms (some 100 KB) on the heap, not the stack; not
    // through operator new, which would bring the C++ runtime's exceptions
    // into the program.
    const size_t kMostFiles = 64;
    struct WideNames {
        WideText text[kMostFiles];
    };
    void* block = HeapAlloc(GetProcessHeap(), 0, sizeof(WideNames));
    if (!block) {
        end(session);
        return;
    }
    WideText* wide = (new (block) WideNames)->text;
    const wchar_t* names[kMostFiles];
    UINT count = 0;
    for (size_t i = 0; i < files.Count() && count < kMostFiles; ++i)
        if (wide[count].Assign(files.At(i)))
            names[count] = wide[count].c_str(), ++count;
    RmProcessInfo found[FileHolders::kMost];
    UINT needed = 0, given = FileHolders::kMost;
    DWORD reasons = 0;
    if (add(session, count, names, 0, nullptr, 0, nullptr) == ERROR_SUCCESS &&
        list(session, &needed, &given, found, &reasons) == ERROR_SUCCESS) {
        for (UINT i = 0; i < given && i < FileHolders::kMost; ++i) {
            char name[kPathBytes];
            if (found[i].Process.ProcessId != GetCurrentProcessId() &&
                FromWide(found[i].AppName, name, sizeof name) > 0)
                out.Add(found[i].Process.ProcessId, name);
        }
    }
    reinterpret_cast<WideNames*>(block)->~WideNames();
    HeapFree(GetProcessHeap(), 0, block);
    end(session);
}

// The Restart Manager's own request to the holders still running (one
// without a top-level window, a console program): without
// RmForceShutdown it asks them as Windows does at log-off and ends
// nothing. Nothing where there is no Restart Manager.
void AskThroughRestartManager(const FileHolders& holders)
{
    HMODULE manager = LoadSystemLibrary("rstrtmgr.dll");
    RmStartSessionFunction start = Export<RmStartSessionFunction>(manager, "RmStartSession");
    RmRegisterResourcesFunction add = Export<RmRegisterResourcesFunction>(manager, "RmRegisterResources");
    RmShutdownFunction shutdown = Export<RmShutdownFunction>(manager, "RmShutdown");
    RmEndSessionFunction end = Export<RmEndSessionFunction>(manager, "RmEndSession");
    if (!start || !add || !shutdown || !end)
        return;
    // A process is named by its id and its start time, so that another
    // that took the id meanwhile is not asked.
    RmUniqueProcess processes[FileHolders::kMost];
    UINT count = 0;
    for (size_t i = 0; i < holders.Count; ++i) {
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, holders.Items[i].ProcessId);
        if (!process)
            continue;
        FILETIME created, exited, kernel, user;
        if (GetProcessTimes(process, &created, &exited, &kernel, &user)) {
            processes[count].ProcessId = holders.Items[i].ProcessId;
            processes[count].StartTime = created;
            ++count;
        }
        CloseHandle(process);
    }
    DWORD session = 0;
    wchar_t key[kRmSessionKeyLength + 1] = L"";
    if (count == 0 || start(&session, 0, key) != ERROR_SUCCESS)
        return;
    if (add(session, 0, nullptr, count, processes, 0, nullptr) == ERROR_SUCCESS)
        shutdown(session, 0, nullptr);
    end(session);
}

BOOL CALLBACK AskWindowToClose(HWND window, LPARAM parameter)
{
    const FileHolders& holders = *reinterpret_cast<const FileHolders*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    for (size_t i = 0; i < holders.Count; ++i)
        if (holders.Items[i].ProcessId == owner && !GetWindow(window, GW_OWNER))
            PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

} // namespace

FindFileHoldersFunction FindFileHolders = FindFileHoldersOnSystem;

void FileHolders::Add(DWORD processId, const char* name)
{
    for (size_t i = 0; i < Count; ++i)
        if (Items[i].ProcessId == processId)
            return;
    if (Count == kMost)
        return;
    Items[Count].ProcessId = processId;
    Items[Count].Name = name;
    ++Count;
}

void FindFileHoldersOnSystem(const char* folder, const TextList& files, FileHolders& out)
{
    out.Count = 0;
    FindProcessesBelow(folder, out);
    FindWithRestartManager(files, out);
}

void CloseFileHolders(const FileHolders& holders, DWORD milliseconds, FileHolders& stillRunning)
{
    stillRunning.Count = 0;
    EnumWindows(AskWindowToClose, reinterpret_cast<LPARAM>(&holders));
    DWORD started = GetTickCount();
    for (size_t i = 0; i < holders.Count; ++i) {
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, holders.Items[i].ProcessId);
        if (!process)
            continue;
        DWORD spent = GetTickCount() - started;
        if (WaitForSingleObject(process, spent < milliseconds ? milliseconds - spent : 0) != WAIT_OBJECT_0)
            stillRunning.Add(holders.Items[i].ProcessId, holders.Items[i].Name.c_str());
        CloseHandle(process);
    }
    if (stillRunning.Count == 0)
        return;
    // Those that did not answer the windows' request get the Restart
    // Manager's, which returns once they have ended or refused.
    FileHolders asked = stillRunning;
    AskThroughRestartManager(asked);
    stillRunning.Count = 0;
    for (size_t i = 0; i < asked.Count; ++i) {
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, asked.Items[i].ProcessId);
        if (process && WaitForSingleObject(process, 0) != WAIT_OBJECT_0)
            stillRunning.Add(asked.Items[i].ProcessId, asked.Items[i].Name.c_str());
        if (process)
            CloseHandle(process);
    }
}

bool EndFileHolders(const FileHolders& holders, DWORD milliseconds)
{
    bool ended = true;
    DWORD started = GetTickCount();
    for (size_t i = 0; i < holders.Count; ++i) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, holders.Items[i].ProcessId);
        if (!process)
            continue;
        TerminateProcess(process, 1);
        DWORD spent = GetTickCount() - started;
        ended = WaitForSingleObject(process, spent < milliseconds ? milliseconds - spent : 0) == WAIT_OBJECT_0 && ended;
        CloseHandle(process);
    }
    return ended;
}

Text DescribeFileHolders(const FileHolders& holders)
{
    Text text;
    for (size_t i = 0; i < holders.Count; ++i) {
        char number[32];
        wsprintfA(number, " (%lu)", static_cast<unsigned long>(holders.Items[i].ProcessId));
        if (i)
            text.Append(", ");
        text.Append(holders.Items[i].Name.c_str());
        text.Append(number);
    }
    return text;
}
