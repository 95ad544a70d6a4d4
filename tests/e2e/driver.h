// Drives the real setup program from outside, as a person would: finds its
// pages among the windows of its process, reads and sets control texts,
// clicks buttons and answers its message boxes and dialogs.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace e2e {

// The limit of every wait for a state (a page, a process's end, a file):
// there only against a hang, never a measure of speed, so that a loaded
// machine is slower but never fails.
const DWORD kHangWait = 300000;

// A running program started with CreateProcess.
class Process {
public:
    Process(const std::string& program, const std::string& arguments);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool Started() const { return info_.hProcess != nullptr; }
    DWORD Id() const { return info_.dwProcessId; }
    // Why it did not start (GetLastError of CreateProcess), 0 when it did.
    DWORD StartError() const { return startError_; }
    // Waits for the end; the exit code, or -1 on time-out.
    long Wait(DWORD milliseconds);
    void Kill();

private:
    PROCESS_INFORMATION info_ = {};
    DWORD startError_ = 0;
};

// The first top-level window, hidden ones included, for which match
// holds; null when there is none.
HWND FindWindowWhere(const std::function<bool(HWND)>& match);
// The process a window belongs to.
DWORD ProcessOf(HWND window);
// Runs program with arguments to its end, watching all the while that none
// of its windows becomes visible (*shown); the exit code, or -1 when it
// does not end within ten minutes.
long RunUnseen(const std::string& program, const std::string& arguments, bool* shown);

// The visible dialog windows of a process (top-level, class #32770).
std::vector<HWND> Dialogs(DWORD processId);
// The first visible dialog of the process that has control id (0: any)
// and whose title contains titlePart (empty: any). Null on time-out.
HWND WaitForDialog(DWORD processId, int controlId, const std::string& titlePart, DWORD milliseconds);
// Waits until window is gone.
bool WaitGone(HWND window, DWORD milliseconds);

std::string Text(HWND window);
std::string ItemText(HWND dialog, int id);
bool SetItemText(HWND dialog, int id, const std::string& text);
bool ItemEnabled(HWND dialog, int id);
bool HasItem(HWND dialog, int id);
// A button click as the dialog manager would report it.
void Click(HWND dialog, int id);
// Clicks the check box or radio button itself (its state changes).
void Toggle(HWND dialog, int id);

// Top-level windows of any process whose title contains titlePart.
HWND FindTopLevel(const std::string& titlePart);

// Walks welcome, licence (accepted) and information; the destination page,
// or null when a page did not come or go (what went wrong in *error).
HWND WalkToDestination(DWORD processId, DWORD pageWait, std::string* error, std::string* licenceText = nullptr);
// Walks welcome, licence (accepted), information and destination (folder
// typed in), ending with Next on the destination page. Empty on success,
// else what went wrong. The licence page's text goes to licenceText.
std::string WalkToInstall(DWORD processId, const std::string& folder, DWORD pageWait = kHangWait,
                          std::string* licenceText = nullptr);
// A visible dialog owned by owner (a message box or the exit
// confirmation); null on time-out.
HWND WaitForOwnedDialog(HWND owner, DWORD milliseconds);

// The process that started processId; 0 when it is not known.
DWORD ParentProcessOf(DWORD processId);
// Whether the desktop's shell has registered its window with the shell's
// windows, through which a setup starts programs as the signed-in user:
// in a new Wine session it comes up a moment after the first program.
bool DesktopShellReachable();
// Ends the processes that a program started and left running (the product
// it launched, the Explorer window on the Start-menu folder): a process
// that outlives a test would keep its output open.
void EndChildrenOf(DWORD parentProcessId);
// Waits for the processes that a program started to end (the uninstaller's
// copy that finishes a removal): false when one is still running after
// milliseconds.
bool WaitForChildrenOf(DWORD parentProcessId, DWORD milliseconds);
// Closes the windows of the launched demo product and of Explorer on the
// maker's Start-menu folder, which would hold files and folders open.
void CloseLaunchedWindows();
// Finish on a finish page with its "Start" box cleared first: a test that
// does not look for the program must not leave it starting, through the
// desktop's shell, after the test has ended (the next setup would find it
// holding the files).
void FinishWithoutStarting(HWND finish);

// Files.
std::string ReadFile(const std::string& path);
// A text file in UTF-8, one in UTF-16 with its mark converted.
std::string ReadText(const std::string& path);
bool WriteFile(const std::string& path, const std::string& data);
bool Exists(const std::string& path);
bool FolderExists(const std::string& path);
void RemoveTree(const std::string& path);
// Every file below folder, as paths relative to it, sorted.
std::vector<std::string> ListFiles(const std::string& folder);
std::string TempFolder(const std::string& name);
// A Unix path handed over by the build, as Wine's Z: drive sees it.
std::string FromUnixPath(const std::string& unix);

// Polls condition every 20 ms until it holds; false on time-out. Tests
// wait for a state, never for a time.
bool WaitUntil(const std::function<bool()>& condition, DWORD milliseconds);

// What a run may change, for comparing before and after: every file below
// the folders (size, content digest, attributes, write time), every folder,
// and every value below the registry keys: HKEY_LOCAL_MACHINE's, or
// HKEY_CURRENT_USER's for a key written "HKCU\\...".
using State = std::map<std::string, std::string>;
// files: single files of a folder shared with others (a link on a
// desktop), each with the runs' aside files beside it.
State Snapshot(const std::vector<std::string>& folders, const std::vector<std::string>& keys,
               const std::vector<std::string>& files = {});
// The differences between two states, one line each, for a failure message.
std::string Differences(const State& before, const State& after);
// A state without what differs between two complete runs: the write
// times of the files a run writes at the time it runs (its links, its
// uninstaller and settings file), and the bytes of its links, which keep
// the time their target was last looked at (their size stays).
State WithoutTimes(State state);
// A product installed for every user of the machine, or for the user alone.
enum class Scope { Machine, User };
// What a run may change, kept and put back exactly, for runs that are cut
// and started again from the same machine: folder trees with their files'
// attributes and times (a folder that was missing is missing again), and
// registry keys with their values (HKEY_LOCAL_MACHINE's, or
// HKEY_CURRENT_USER's for a key written "HKCU\\..."). Folders marked
// private (the setup's own folder: administrators only, or for a per-user
// product the user's alone) and their files are made again with the
// setup's descriptor of that scope, so that the setup trusts them as it
// trusted the originals.
class SavedState {
public:
    struct Folder {
        std::string path;
        bool adminOnly;
        bool file = false;  // path is one file, kept alone with the runs' aside files beside it (a link
                            // among the user's own files)
    };
    // Keeps the copies in store (a folder of the test's own).
    void Save(const std::string& store, const std::vector<Folder>& folders, const std::vector<std::string>& keys,
              Scope scope = Scope::Machine);
    void Restore() const;

private:
    struct Value {
        std::string name;
        DWORD type;
        std::string data;
    };
    struct Key {
        std::string path;
        std::vector<Value> values;
    };
    std::string store_;
    Scope scope_ = Scope::Machine;
    std::vector<Folder> folders_;
    std::vector<bool> existed_;
    std::vector<std::string> keyRoots_;
    std::vector<Key> keys_;
};

// The product's folder of the setup, "<maker> Setup\<product>", under the
// common application data (administrators only), or for a per-user
// product under the user's local application data (the user's only): the
// journal of a run, its private working folders ("run-..."), the copy kept
// for repairs.
std::string SetupFolder(const std::string& productName, const std::string& maker = "Corvane",
                        Scope scope = Scope::Machine);
// The journal a run of the product keeps while it runs.
std::string JournalFile(const std::string& productName, const std::string& maker = "Corvane",
                        Scope scope = Scope::Machine);

// Registry.
bool ReadRegString(HKEY root, const std::string& key, const std::string& value, std::string& data, REGSAM view = 0);
// A text value as it is, a number in decimal, a list of texts as its bytes.
bool ReadRegValue(HKEY root, const std::string& key, const std::string& value, std::string& data);
// view: 0 for the program's own registry view, or KEY_WOW64_32KEY /
// KEY_WOW64_64KEY for one of the two views of 64-bit Windows.
bool KeyExists(HKEY root, const std::string& key, REGSAM view = 0);
// True for a 32-bit program on 64-bit Windows (or a 64-bit Wine prefix).
bool RunsUnderWow64();
void DeleteKeyTree(HKEY root, const std::string& key);

} // namespace e2e
