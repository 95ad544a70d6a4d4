// Helpers of the wizard tests: a temporary folder removed with its
// contents, file probes, the test module as the program's instance, and
// a way to act on a modal page from inside its own message loop.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "tests/common/files.h"
#include "app/app.h"

#include "setup/setup.h"

class ScratchFolder {
public:
    ScratchFolder()
    {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        char name[MAX_PATH];
        GetTempFileNameA(temp, "wiz", 0, name);
        DeleteFileA(name);
        CreateDirectoryA(name, nullptr);
        path_ = name;
    }
    ~ScratchFolder() { RemoveTree(path_); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "\\" + relative; }

    static void RemoveTree(const std::string& folder) { testfiles::RemoveTree(folder); }

private:
    std::string path_;
};

inline bool IsFolder(const std::string& path)
{
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

inline bool IsFile(const std::string& path)
{
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

inline std::string ReadWholeFile(const std::string& path)
{
    std::string data;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return data;
    char buffer[65536];
    DWORD got;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got)
        data.append(buffer, got);
    CloseHandle(h);
    return data;
}

inline void WriteWholeFile(const std::string& path, const std::string& data)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written;
    WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
    CloseHandle(h);
}

// Counts the "tmp*.tmp" files of a folder: the RTF copies must not stay.
inline int CountTempCopies(const std::string& folder)
{
    int n = 0;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((folder + "\\tmp*.tmp").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do
            ++n;
        while (FindNextFileA(h, &found));
        FindClose(h);
    }
    return n;
}

// Points TMP and TEMP at another folder for one test.
class TempFolderOverride {
public:
    explicit TempFolderOverride(const std::string& folder)
    {
        Save("TMP", tmp_, hadTmp_);
        Save("TEMP", temp_, hadTemp_);
        SetEnvironmentVariableA("TMP", folder.c_str());
        SetEnvironmentVariableA("TEMP", folder.c_str());
    }
    ~TempFolderOverride()
    {
        SetEnvironmentVariableA("TMP", hadTmp_ ? tmp_.c_str() : nullptr);
        SetEnvironmentVariableA("TEMP", hadTemp_ ? temp_.c_str() : nullptr);
    }
    TempFolderOverride(const TempFolderOverride&) = delete;
    TempFolderOverride& operator=(const TempFolderOverride&) = delete;

private:
    static void Save(const char* name, std::string& value, bool& had)
    {
        char buffer[1024];
        DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
        had = n > 0 && n < sizeof buffer;
        value = had ? buffer : "";
    }
    std::string tmp_, temp_;
    bool hadTmp_, hadTemp_;
};

// The test program's languages besides English (resources/carried_languages.txt).
const LANGID kFrench = 0x040C, kDutch = 0x0413;

// A fresh context with the test program as the module that holds the
// templates and strings, the page fonts and the rich-edit library.
inline void PrepareWizardContext(LANGID languageCode = kEnglish)
{
    ResetInstallerContext();
    Context.InstanceHandle = GetModuleHandleA(nullptr);
    Context.LanguageCode = languageCode;
    Context.ScreenDpiY = 96;
    Context.DialogFont = CreateFontA(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "MS Sans Serif");
    Context.BoldFont = CreateFontA(-11, 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "MS Sans Serif");
    Context.TitleFont = CreateFontA(-21, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "MS Sans Serif");
    static HMODULE richEdit = LoadSystemLibrary("RICHED32.DLL");
    (void)richEdit;
}

// Opens a page template modally and runs step on the page from its own
// message loop (every 30 ms, with the tick number) until step ends the
// page or returns false. Message boxes and the exit confirmation that the
// page opens are reached through FindOwnedWindow.
using PageStep = std::function<bool(HWND page, int tick)>;

namespace page_driver {
inline PageStep& CurrentStep()
{
    static PageStep step;
    return step;
}
inline HWND& CurrentPage()
{
    static HWND page;
    return page;
}
inline int& Tick()
{
    static int tick;
    return tick;
}
inline BOOL CALLBACK FindPage(HWND window, LPARAM found)
{
    char name[64];
    GetClassNameA(window, name, sizeof name);
    if (IsWindowVisible(window) && std::string(name) == "#32770" && GetDlgItem(window, 1008) &&
        GetDlgItem(window, 1009)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}
inline void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD)
{
    HWND page = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindPage, reinterpret_cast<LPARAM>(&page));
    if (!page)
        return;
    CurrentPage() = page;
    if (!CurrentStep()(page, Tick()++))
        KillTimer(nullptr, id);
}
} // namespace page_driver

inline INT_PTR RunPage(int templateId, DLGPROC procedure, PageStep step)
{
    page_driver::CurrentStep() = step;
    page_driver::Tick() = 0;
    UINT_PTR timer = SetTimer(nullptr, 0, 30, page_driver::OnTimer);
    INT_PTR result = DialogInLanguage(nullptr, templateId, procedure, 0);
    KillTimer(nullptr, timer);
    page_driver::CurrentStep() = nullptr;
    return result;
}

// The visible top-level window of this thread, other than the page, whose
// owner is the page: a message box or the exit confirmation.
struct OwnedSearch {
    HWND page;
    HWND found;
};

inline BOOL CALLBACK MatchOwnedWindow(HWND w, LPARAM p)
{
    OwnedSearch* s = reinterpret_cast<OwnedSearch*>(p);
    if (w != s->page && IsWindowVisible(w) && GetWindow(w, GW_OWNER) == s->page) {
        s->found = w;
        return FALSE;
    }
    return TRUE;
}

inline HWND FindOwnedWindow(HWND page)
{
    OwnedSearch s = {page, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), MatchOwnedWindow, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

// A window's text in UTF-8, the program's own text.
inline std::string Utf8WindowText(HWND window)
{
    wchar_t wide[1024] = L"";
    GetWindowTextW(window, wide, 1024);
    char buffer[3 * 1024] = "";
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, buffer, sizeof buffer, nullptr, nullptr);
    return buffer;
}

inline std::string ItemText(HWND dialog, int id) { return Utf8WindowText(GetDlgItem(dialog, id)); }

inline void Click(HWND dialog, int id)
{
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}
