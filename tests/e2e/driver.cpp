// The outside driver of the setup program's windows, files and registry
// entries for the end-to-end tests.
#include "tests/e2e/driver.h"

#include <sddl.h>
#include "tests/common/files.h"

#include <algorithm>
#include <exdisp.h>
#include <objbase.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <string.h>

namespace {

// Every line of a test's output reaches its log at once: a program ended
// by the guest's time limit keeps what it printed up to its end.
const int kUnbuffered = (setvbuf(stdout, nullptr, _IONBF, 0), setvbuf(stderr, nullptr, _IONBF, 0), 0);

} // namespace

namespace e2e {

Process::Process(const std::string& program, const std::string& arguments)
{
    std::string command = "\"" + program + "\" " + arguments;
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info_)) {
        startError_ = GetLastError();
        info_ = PROCESS_INFORMATION();
    }
}

Process::~Process()
{
    if (info_.hProcess) {
        if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(info_.hProcess, 99);
        CloseHandle(info_.hProcess);
        CloseHandle(info_.hThread);
    }
}

long Process::Wait(DWORD milliseconds)
{
    if (!info_.hProcess || WaitForSingleObject(info_.hProcess, milliseconds) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return static_cast<long>(code);
}

void Process::Kill()
{
    if (info_.hProcess)
        TerminateProcess(info_.hProcess, 99);
}

namespace {

struct DialogSearch {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM parameter)
{
    DialogSearch* search = reinterpret_cast<DialogSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window))
        return TRUE;
    char cls[64] = "";
    GetClassNameA(window, cls, sizeof cls);
    if (strcmp(cls, "#32770") == 0)
        search->found.push_back(window);
    return TRUE;
}

struct TitleSearch {
    std::string part;
    HWND found;
};

BOOL CALLBACK MatchTitle(HWND window, LPARAM parameter)
{
    TitleSearch* search = reinterpret_cast<TitleSearch*>(parameter);
    if (Text(window).find(search->part) != std::string::npos) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

namespace {

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<std::pair<const std::function<bool(HWND)>*, HWND>*>(parameter);
    if (!(*search->first)(window))
        return TRUE;
    search->second = window;
    return FALSE;
}

} // namespace

HWND FindWindowWhere(const std::function<bool(HWND)>& match)
{
    std::pair<const std::function<bool(HWND)>*, HWND> search(&match, nullptr);
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.second;
}

DWORD ProcessOf(HWND window)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    return owner;
}

long RunUnseen(const std::string& program, const std::string& arguments, bool* shown)
{
    *shown = false;
    Process process(program, arguments);
    long code = -1;
    WaitUntil([&] {
        *shown = *shown || FindWindowWhere([&](HWND w) { return ProcessOf(w) == process.Id() && IsWindowVisible(w); });
        code = process.Wait(0);
        return code != -1;
    }, 600000);
    return code;
}

std::vector<HWND> Dialogs(DWORD processId)
{
    DialogSearch search = {processId, {}};
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForDialog(DWORD processId, int controlId, const std::string& titlePart, DWORD milliseconds)
{
    DWORD start = GetTickCount();
    do {
        for (HWND dialog : Dialogs(processId)) {
            if (controlId && !GetDlgItem(dialog, controlId))
                continue;
            if (!titlePart.empty() && Text(dialog).find(titlePart) == std::string::npos)
                continue;
            return dialog;
        }
        Sleep(20);
    } while (GetTickCount() - start < milliseconds);
    return nullptr;
}

bool WaitGone(HWND window, DWORD milliseconds)
{
    DWORD start = GetTickCount();
    while (IsWindow(window) && IsWindowVisible(window)) {
        if (GetTickCount() - start > milliseconds)
            return false;
        Sleep(20);
    }
    return true;
}

std::string Text(HWND window)
{
    char buffer[1024] = "";
    // WM_GETTEXT is marshalled across processes; GetWindowText of another
    // process's control would not ask it.
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000,
                        nullptr);
    return buffer;
}

std::string ItemText(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    return item ? Text(item) : std::string();
}

bool SetItemText(HWND dialog, int id, const std::string& text)
{
    HWND item = GetDlgItem(dialog, id);
    if (!item)
        return false;
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(item, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG, 5000,
                               &result) != 0;
}

bool ItemEnabled(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    return item && IsWindowEnabled(item);
}

bool HasItem(HWND dialog, int id) { return GetDlgItem(dialog, id) != nullptr; }

void Click(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void Toggle(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    if (item)
        PostMessageA(item, BM_CLICK, 0, 0);
}

HWND FindTopLevel(const std::string& titlePart)
{
    TitleSearch search = {titlePart, nullptr};
    EnumWindows(MatchTitle, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool DesktopShellReachable()
{
    const CLSID shellWindows = {0x9BA05972, 0xF6A8, 0x11CF, {0xA4, 0x42, 0x00, 0xA0, 0xC9, 0x0A, 0x8F, 0x39}};
    const IID shellWindowsInterface = {0x85CB6900, 0x4D95, 0x11CF, {0x96, 0x0C, 0x00, 0x80, 0xC7, 0xF4, 0xEE, 0x85}};
    CoInitialize(nullptr);
    IShellWindows* windows = nullptr;
    IDispatch* desktop = nullptr;
    bool reachable = false;
    if (SUCCEEDED(CoCreateInstance(shellWindows, nullptr, CLSCTX_LOCAL_SERVER, shellWindowsInterface,
                                   reinterpret_cast<void**>(&windows)))) {
        VARIANT location, root;
        memset(&location, 0, sizeof location);
        memset(&root, 0, sizeof root);
        location.vt = VT_I4;
        location.lVal = CSIDL_DESKTOP;
        long window = 0;
        reachable = windows->FindWindowSW(&location, &root, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, &desktop) == S_OK &&
                    desktop;
        if (desktop)
            desktop->Release();
        windows->Release();
    }
    CoUninitialize();
    return reachable;
}

DWORD ParentProcessOf(DWORD processId)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    DWORD parent = 0;
    for (BOOL more = Process32First(snapshot, &entry); more && !parent; more = Process32Next(snapshot, &entry))
        if (entry.th32ProcessID == processId)
            parent = entry.th32ParentProcessID;
    CloseHandle(snapshot);
    return parent;
}

// Calls act with a handle (access) to each running process that parent
// started.
void ForEachChildOf(DWORD parent, DWORD access, const std::function<void(HANDLE)>& act)
{
    // A process keeps the number of a parent long gone, which a later
    // process may be given: only those started after the parent are its
    // children (Wine's desktop once passed for the uninstaller's child,
    // and was waited for until the limit).
    FILETIME parentStart = {}, end, kernel, user;
    HANDLE parentHandle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parent);
    bool dated = parentHandle && GetProcessTimes(parentHandle, &parentStart, &end, &kernel, &user);
    if (parentHandle)
        CloseHandle(parentHandle);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (entry.th32ParentProcessID != parent)
            continue;
        HANDLE child = OpenProcess(access | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        if (!child)
            continue;
        FILETIME start;
        if (!dated || !GetProcessTimes(child, &start, &end, &kernel, &user) || CompareFileTime(&start, &parentStart) >= 0)
            act(child);
        CloseHandle(child);
    }
    CloseHandle(snapshot);
}

void EndChildrenOf(DWORD parent)
{
    ForEachChildOf(parent, PROCESS_TERMINATE | SYNCHRONIZE, [](HANDLE child) {
        TerminateProcess(child, 0);
        WaitForSingleObject(child, 5000);
    });
}

bool WaitForChildrenOf(DWORD parent, DWORD milliseconds)
{
    bool ended = true;
    ForEachChildOf(parent, SYNCHRONIZE,
                   [&](HANDLE child) { ended = WaitForSingleObject(child, milliseconds) == WAIT_OBJECT_0 && ended; });
    return ended;
}

void CloseLaunchedWindows()
{
    for (const char* title : {"GlyphForge (demo)", "Corvane"}) {
        bool product = title[0] == 'G';
        for (int i = 0; i < 5; ++i) {
            HWND w = FindTopLevel(title);
            if (!w)
                break;
            // The product's window gone means its process has ended too:
            // one still ending holds its files, and the next setup would
            // find it. (The other is Explorer's, which stays.)
            HANDLE process = product ? OpenProcess(SYNCHRONIZE, FALSE, ProcessOf(w)) : nullptr;
            PostMessageA(w, WM_CLOSE, 0, 0);
            WaitGone(w, 2000);
            if (process) {
                WaitForSingleObject(process, 10000);
                CloseHandle(process);
            }
        }
    }
}

void FinishWithoutStarting(HWND finish)
{
    SendDlgItemMessageA(finish, 1042, BM_SETCHECK, BST_UNCHECKED, 0);
    Click(finish, IDOK);
}

HWND WalkToDestination(DWORD processId, DWORD pageWait, std::string* error, std::string* licenceText)
{
    HWND welcome = WaitForDialog(processId, 1010, "", pageWait);
    if (!welcome) {
        // What the program shows instead: a message before the first page.
        *error = "no welcome page";
        for (HWND shown : Dialogs(processId))
            *error += "; shown: \"" + Text(shown) + "\" " + ItemText(shown, 0xFFFF).substr(0, 200);
        return nullptr;
    }
    Click(welcome, IDOK);
    if (!WaitGone(welcome, pageWait))
        return *error = "welcome page stays", nullptr;
    HWND licence = WaitForDialog(processId, 1012, "", pageWait);
    if (!licence)
        return *error = "no licence page", nullptr;
    if (ItemEnabled(licence, IDOK))
        return *error = "Next enabled before the licence was accepted", nullptr;
    if (licenceText)
        *licenceText = ItemText(licence, 1011);
    Toggle(licence, 1012);
    if (!WaitUntil([&] { return ItemEnabled(licence, IDOK); }, pageWait))
        return *error = "Next stays disabled after accepting", nullptr;
    Click(licence, IDOK);
    if (!WaitGone(licence, pageWait))
        return *error = "licence page stays", nullptr;
    // A product without important information has no information page.
    HWND information = nullptr;
    WaitUntil([&] {
        information = WaitForDialog(processId, 1011, "Important Information", 0);
        return information || WaitForDialog(processId, 1014, "", 0);
    }, pageWait);
    if (information) {
        Click(information, IDOK);
        if (!WaitGone(information, pageWait))
            return *error = "information page stays", nullptr;
    }
    HWND destination = WaitForDialog(processId, 1014, "", pageWait);
    if (!destination)
        return *error = "no destination page", nullptr;
    return destination;
}

std::string WalkToInstall(DWORD processId, const std::string& folder, DWORD pageWait, std::string* licenceText)
{
    std::string error;
    HWND destination = WalkToDestination(processId, pageWait, &error, licenceText);
    if (!destination)
        return error;
    if (!SetItemText(destination, 1014, folder))
        return "cannot type the folder";
    Click(destination, IDOK);
    if (!WaitGone(destination, pageWait))
        return "destination page stays";
    return "";
}

namespace {

struct OwnedSearch {
    HWND owner;
    HWND found;
};

BOOL CALLBACK MatchOwned(HWND window, LPARAM parameter)
{
    OwnedSearch* search = reinterpret_cast<OwnedSearch*>(parameter);
    if (IsWindowVisible(window) && GetWindow(window, GW_OWNER) == search->owner) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

HWND WaitForOwnedDialog(HWND owner, DWORD milliseconds)
{
    OwnedSearch search = {owner, nullptr};
    WaitUntil([&] {
        EnumWindows(MatchOwned, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
    }, milliseconds);
    return search.found;
}

std::string ReadFile(const std::string& path) { return testfiles::ReadFile(path); }

std::string ReadText(const std::string& path) { return testfiles::ReadText(path); }

bool WriteFile(const std::string& path, const std::string& data) { return testfiles::WriteFile(path, data); }

bool Exists(const std::string& path)
{
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& path)
{
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

void RemoveTree(const std::string& folder) { testfiles::RemoveTree(folder); }

std::vector<std::string> ListFiles(const std::string& folder)
{
    std::vector<std::string> out;
    testfiles::WalkTree(folder, [&](const std::string& path, const WIN32_FIND_DATAA& entry) {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            out.push_back(path.substr(folder.size() + 1));
        return true;
    });
    std::sort(out.begin(), out.end());
    return out;
}

std::string TempFolder(const std::string& name)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string path = std::string(temp) + name;
    RemoveTree(path);
    return path;
}

std::string FromUnixPath(const std::string& unix)
{
    std::string path = "Z:" + unix;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD milliseconds)
{
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > milliseconds)
            return false;
        Sleep(20);
    }
    return true;
}

namespace {

// FNV-1a over eight bytes at a time: the cut tests take a snapshot after
// every cut.
std::string Digest(const std::string& data)
{
    unsigned long long h = 1469598103934665603ull;
    size_t i = 0;
    for (; i + 8 <= data.size(); i += 8) {
        unsigned long long word;
        memcpy(&word, data.data() + i, 8);
        h = (h ^ word) * 1099511628211ull;
    }
    for (; i < data.size(); ++i)
        h = (h ^ static_cast<unsigned char>(data[i])) * 1099511628211ull;
    char text[40];
    snprintf(text, sizeof text, "%zu:%016llx", data.size(), h);
    return text;
}

void SnapshotFile(const std::string& path, const WIN32_FIND_DATAA& entry, State& state)
{
    char info[64];
    snprintf(info, sizeof info, " attributes %lx time %lx%08lx", entry.dwFileAttributes,
             entry.ftLastWriteTime.dwHighDateTime, entry.ftLastWriteTime.dwLowDateTime);
    state[path] = Digest(ReadFile(path)) + info;
}

// A file and the aside files of runs beside it (~RB....tmp), which stand
// for it while a run replaces or removes it.
std::vector<std::string> FileAndAsides(const std::string& path)
{
    std::vector<std::string> found;
    if (Exists(path))
        found.push_back(path);
    std::string folder = path.substr(0, path.rfind('\\'));
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "\\~RB*.tmp").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do
            found.push_back(folder + "\\" + entry.cFileName);
        while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    return found;
}

void SnapshotFolder(const std::string& folder, State& state)
{
    testfiles::WalkTree(folder, [&](const std::string& path, const WIN32_FIND_DATAA& entry) {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            state[path + "\\"] = "folder";
        else
            SnapshotFile(path, entry, state);
        return true;
    });
}

void SnapshotKey(HKEY root, const std::string& hive, const std::string& key, State& state)
{
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
        return;
    state[hive + key + "\\"] = "key";
    std::vector<char> data(1 << 16);
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD nameLength = sizeof name, size = static_cast<DWORD>(data.size()), type = 0;
        if (RegEnumValueA(k, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
            ERROR_SUCCESS)
            break;
        state[hive + key + "\\" + name] = std::to_string(type) + ":" + std::string(data.data(), size);
    }
    char sub[256];
    for (DWORD i = 0; RegEnumKeyA(k, i, sub, sizeof sub) == ERROR_SUCCESS; ++i)
        SnapshotKey(root, hive, key + "\\" + sub, state);
    RegCloseKey(k);
}

} // namespace

// The hive a key of a state names ("HKCU\\..." or the machine's), and the
// key below it.
HKEY RootOfKey(const std::string& key, std::string* below)
{
    bool user = key.compare(0, 5, "HKCU\\") == 0;
    *below = user ? key.substr(5) : key;
    return user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

State Snapshot(const std::vector<std::string>& folders, const std::vector<std::string>& keys,
               const std::vector<std::string>& files)
{
    State state;
    for (const std::string& folder : folders)
        SnapshotFolder(folder, state);
    for (const std::string& path : files)
        for (const std::string& file : FileAndAsides(path)) {
            WIN32_FIND_DATAA entry;
            HANDLE found = FindFirstFileA(file.c_str(), &entry);
            if (found != INVALID_HANDLE_VALUE) {
                FindClose(found);
                SnapshotFile(file, entry, state);
            }
        }
    for (const std::string& key : keys) {
        std::string below;
        HKEY root = RootOfKey(key, &below);
        SnapshotKey(root, root == HKEY_CURRENT_USER ? "HKCU\\" : "HKLM\\", below, state);
    }
    return state;
}

std::string Differences(const State& before, const State& after)
{
    std::string out;
    for (const auto& entry : before) {
        auto other = after.find(entry.first);
        if (other == after.end())
            out += "gone: " + entry.first + "\n";
        else if (other->second != entry.second)
            out += "changed: " + entry.first + "\n";
    }
    for (const auto& entry : after)
        if (before.find(entry.first) == before.end())
            out += "new: " + entry.first + "\n";
    return out;
}

State WithoutTimes(State state)
{
    for (auto& entry : state) {
        size_t time = entry.second.find(" time ");
        if (time != std::string::npos)
            entry.second.resize(time);
        size_t n = entry.first.size();
        if (n > 4 && entry.first.compare(n - 4, 4, ".lnk") == 0)
            entry.second.resize(entry.second.find(':'));
    }
    return state;
}

namespace {

// This process's account, as text.
std::string CurrentUserSid()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return "";
    char buffer[256];
    DWORD size = 0;
    std::string text;
    char* sid = nullptr;
    if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
        ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
        text = sid;
        LocalFree(sid);
    }
    CloseHandle(token);
    return text;
}

// The descriptor the setup gives its private folders: administrators only
// for every user's installation, the user alone for a per-user one.
struct AdminOnlyDescriptor {
    explicit AdminOnlyDescriptor(Scope scope = Scope::Machine)
    {
        std::string user = scope == Scope::User ? CurrentUserSid() : "";
        std::string sddl = user.empty() ? "O:BAG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"
                                        : "O:" + user + "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;" + user + ")";
        ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr);
        attributes = {sizeof attributes, descriptor, FALSE};
    }
    ~AdminOnlyDescriptor() { LocalFree(descriptor); }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    SECURITY_ATTRIBUTES attributes;
};

// Copies a tree with its files' attributes and times; security, when
// given, goes onto every folder and file made.
void CopyTree(const std::string& from, const std::string& to, SECURITY_ATTRIBUTES* security)
{
    CreateDirectoryA(to.c_str(), security);
    testfiles::WalkTree(from, [&](const std::string& path, const WIN32_FIND_DATAA& entry) {
        std::string target = to + path.substr(from.size());
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            CreateDirectoryA(target.c_str(), security);
        } else if (!security) {
            CopyFileA(path.c_str(), target.c_str(), FALSE);
        } else {
            std::string data = testfiles::ReadFile(path);
            HANDLE h = CreateFileA(target.c_str(), GENERIC_WRITE, 0, security, CREATE_ALWAYS, 0, nullptr);
            DWORD written = 0;
            ::WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
            SetFileTime(h, &entry.ftCreationTime, nullptr, &entry.ftLastWriteTime);
            CloseHandle(h);
            SetFileAttributesA(target.c_str(), entry.dwFileAttributes);
        }
        return true;
    });
}

} // namespace

void SavedState::Save(const std::string& store, const std::vector<Folder>& folders, const std::vector<std::string>& keys,
                      Scope scope)
{
    store_ = store;
    scope_ = scope;
    folders_ = folders;
    existed_.clear();
    RemoveTree(store);
    CreateDirectoryA(store.c_str(), nullptr);
    for (size_t i = 0; i < folders.size(); ++i) {
        const std::string& path = folders[i].path, copy = store + "\\" + std::to_string(i);
        existed_.push_back(FolderExists(path));
        if (folders[i].file) {
            CreateDirectoryA(copy.c_str(), nullptr);
            for (const std::string& file : FileAndAsides(path))
                CopyFileA(file.c_str(), (copy + file.substr(file.rfind('\\'))).c_str(), FALSE);
        } else if (existed_.back()) {
            CopyTree(path, copy, nullptr);
        }
    }
    keyRoots_ = keys;
    keys_.clear();
    std::function<void(const std::string&)> save = [&](const std::string& key) {
        std::string below;
        HKEY k, root = RootOfKey(key, &below);
        if (RegOpenKeyExA(root, below.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
            return;
        Key saved{key, {}};
        std::vector<char> data(1 << 16);
        for (DWORD i = 0;; ++i) {
            char name[256];
            DWORD n = sizeof name, size = static_cast<DWORD>(data.size()), type = 0;
            if (RegEnumValueA(k, i, name, &n, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
                ERROR_SUCCESS)
                break;
            saved.values.push_back({name, type, std::string(data.data(), size)});
        }
        keys_.push_back(saved);
        std::vector<std::string> subkeys;
        char sub[256];
        for (DWORD i = 0; RegEnumKeyA(k, i, sub, sizeof sub) == ERROR_SUCCESS; ++i)
            subkeys.push_back(sub);
        RegCloseKey(k);
        for (const std::string& s : subkeys)
            save(key + "\\" + s);
    };
    for (const std::string& key : keys)
        save(key);
}

void SavedState::Restore() const
{
    AdminOnlyDescriptor admin(scope_);
    for (size_t i = 0; i < folders_.size(); ++i) {
        const Folder& folder = folders_[i];
        if (folder.file) {
            for (const std::string& file : FileAndAsides(folder.path))
                DeleteFileA(file.c_str());
            std::string copy = store_ + "\\" + std::to_string(i);
            for (const std::string& name : ListFiles(copy))
                CopyFileA((copy + "\\" + name).c_str(),
                          (folder.path.substr(0, folder.path.rfind('\\') + 1) + name).c_str(), FALSE);
            continue;
        }
        RemoveTree(folder.path);
        if (!existed_[i])
            continue;
        SECURITY_ATTRIBUTES* security = folder.adminOnly ? &admin.attributes : nullptr;
        std::string parent = folder.path.substr(0, folder.path.rfind('\\'));
        CreateDirectoryA(parent.c_str(), security);
        CopyTree(store_ + "\\" + std::to_string(i), folder.path, security);
    }
    std::string below;
    for (const std::string& key : keyRoots_) {
        HKEY root = RootOfKey(key, &below);
        DeleteKeyTree(root, below);
    }
    for (const Key& key : keys_) {
        HKEY k, root = RootOfKey(key.path, &below);
        if (RegCreateKeyExA(root, below.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr) != ERROR_SUCCESS)
            continue;
        for (const Value& v : key.values)
            RegSetValueExA(k, v.name.c_str(), 0, v.type, reinterpret_cast<const BYTE*>(v.data.data()),
                           static_cast<DWORD>(v.data.size()));
        RegCloseKey(k);
    }
}

std::string SetupFolder(const std::string& productName, const std::string& maker, Scope scope)
{
    char base[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, scope == Scope::User ? CSIDL_LOCAL_APPDATA : CSIDL_COMMON_APPDATA, nullptr, 0, base);
    return std::string(base) + "\\" + maker + " Setup\\" + productName;
}

std::string JournalFile(const std::string& productName, const std::string& maker, Scope scope)
{
    return SetupFolder(productName, maker, scope) + "\\setup.journal";
}

bool ReadRegString(HKEY root, const std::string& key, const std::string& value, std::string& data, REGSAM view)
{
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE | view, &k) != ERROR_SUCCESS)
        return false;
    char buffer[2048];
    DWORD size = sizeof buffer - 1;
    DWORD type = 0;
    LONG rc = RegQueryValueExA(k, value.empty() ? nullptr : value.c_str(), nullptr, &type,
                               reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(k);
    if (rc != ERROR_SUCCESS || type != REG_SZ)
        return false;
    buffer[size] = '\0';
    data = buffer;
    return true;
}

bool ReadRegValue(HKEY root, const std::string& key, const std::string& value, std::string& data)
{
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, &k) != ERROR_SUCCESS)
        return false;
    DWORD number = 0, size = sizeof number, type = 0;
    LONG rc = RegQueryValueExA(k, value.empty() ? nullptr : value.c_str(), nullptr, &type,
                               reinterpret_cast<BYTE*>(&number), &size);
    if (rc == ERROR_SUCCESS && type == REG_DWORD && size == sizeof number) {
        RegCloseKey(k);
        data = std::to_string(number);
        return true;
    }
    if ((rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) && type == REG_MULTI_SZ) {
        // A list of names, its bytes as they are.
        data.assign(size, '\0');
        rc = RegQueryValueExA(k, value.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&data[0]), &size);
        RegCloseKey(k);
        data.resize(rc == ERROR_SUCCESS ? size : 0);
        return rc == ERROR_SUCCESS;
    }
    RegCloseKey(k);
    return ReadRegString(root, key, value, data);
}

bool KeyExists(HKEY root, const std::string& key, REGSAM view)
{
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE | view, &k) != ERROR_SUCCESS)
        return false;
    RegCloseKey(k);
    return true;
}

bool RunsUnderWow64()
{
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

void DeleteKeyTree(HKEY root, const std::string& key)
{
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_ALL_ACCESS, &k) == ERROR_SUCCESS) {
        char name[256];
        while (RegEnumKeyA(k, 0, name, sizeof name) == ERROR_SUCCESS)
            DeleteKeyTree(root, key + "\\" + name);
        RegCloseKey(k);
    }
    RegDeleteKeyA(root, key.c_str());
}

} // namespace e2e
