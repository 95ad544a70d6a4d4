// Starting a program or document as the signed-in user rather than as the
// elevated setup: the desktop's own shell (Explorer) is asked to do it, so
// that the installed program, the web site and the Start-menu folder open
// with the user's ordinary rights, and after an over-the-shoulder
// elevation in the user's own account, not the administrator's.
#include "app/app.h"
#include "setup/wide.h"

#include <exdisp.h>
#include <objbase.h>
#include <servprov.h>
#include <shldisp.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <string.h>

// shellapi.h maps ShellExecute to ShellExecuteA; here it names the shell
// object's own method.
#undef ShellExecute

namespace {

// The shell's class and interface identifiers, spelled out here so that no
// GUID library decides which names exist.
const CLSID kClsidShellWindows = {0x9BA05972, 0xF6A8, 0x11CF, {0xA4, 0x42, 0x00, 0xA0, 0xC9, 0x0A, 0x8F, 0x39}};
const IID kIidShellWindows = {0x85CB6900, 0x4D95, 0x11CF, {0x96, 0x0C, 0x00, 0x80, 0xC7, 0xF4, 0xEE, 0x85}};
const IID kIidServiceProvider = {0x6D5140C1, 0x7436, 0x11CE, {0x80, 0x34, 0x00, 0xAA, 0x00, 0x60, 0x09, 0xFA}};
const GUID kSidTopLevelBrowser = {0x4C96BE40, 0x915C, 0x11CF, {0x99, 0xD3, 0x00, 0xAA, 0x00, 0x4A, 0xE8, 0x37}};
const IID kIidShellBrowser = {0x000214E2, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kIidDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kIidShellFolderViewDual = {0xE7A1AF80, 0x4D96, 0x11CF, {0x96, 0x0C, 0x00, 0x80, 0xC7, 0xF4, 0xEE, 0x85}};
const IID kIidShellDispatch2 = {0xA4C6892C, 0x3BA9, 0x11D2, {0x9D, 0xEA, 0x00, 0xC0, 0x4F, 0xB1, 0x61, 0x62}};

typedef BSTR(WINAPI* AllocString)(const OLECHAR*);
typedef void(WINAPI* FreeString)(BSTR);

template <typename T> void Release(T*& p)
{
    if (p)
        p->Release();
    p = nullptr;
}

// A wide BSTR of text, or null.
BSTR MakeString(AllocString alloc, const char* text)
{
    WideText wide;
    if (!text || !wide.Assign(text))
        return nullptr;
    return alloc(wide.c_str());
}

// A VARIANT holding text, or an empty one.
VARIANT StringVariant(BSTR text)
{
    VARIANT v;
    memset(&v, 0, sizeof v);
    if (text) {
        v.vt = VT_BSTR;
        v.bstrVal = text;
    }
    return v;
}

} // namespace

bool StartAsDesktopUser(const char* file, const char* parameters, const char* verb, int show)
{
    // oleaut32 only for its strings, from the system folder.
    HMODULE oleaut = LoadSystemLibrary("oleaut32.dll");
    if (!oleaut)
        return false;
    AllocString alloc =
        reinterpret_cast<AllocString>(reinterpret_cast<void*>(GetProcAddress(oleaut, "SysAllocString")));
    FreeString freeString = reinterpret_cast<FreeString>(reinterpret_cast<void*>(GetProcAddress(oleaut, "SysFreeString")));
    bool started = false;
    IShellWindows* windows = nullptr;
    IDispatch* desktop = nullptr;
    IServiceProvider* provider = nullptr;
    IShellBrowser* browser = nullptr;
    IShellView* view = nullptr;
    IDispatch* background = nullptr;
    IShellFolderViewDual* folderView = nullptr;
    IDispatch* application = nullptr;
    IShellDispatch2* shell = nullptr;
    if (alloc && freeString &&
        SUCCEEDED(CoCreateInstance(kClsidShellWindows, nullptr, CLSCTX_LOCAL_SERVER, kIidShellWindows,
                                   reinterpret_cast<void**>(&windows)))) {
        VARIANT location, root;
        memset(&location, 0, sizeof location);
        memset(&root, 0, sizeof root);
        location.vt = VT_I4;
        location.lVal = CSIDL_DESKTOP;
        long window = 0;
        if (windows->FindWindowSW(&location, &root, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, &desktop) == S_OK &&
            desktop &&
            SUCCEEDED(desktop->QueryInterface(kIidServiceProvider, reinterpret_cast<void**>(&provider))) &&
            SUCCEEDED(provider->QueryService(kSidTopLevelBrowser, kIidShellBrowser, reinterpret_cast<void**>(&browser))) &&
            SUCCEEDED(browser->QueryActiveShellView(&view)) && view &&
            SUCCEEDED(view->GetItemObject(SVGIO_BACKGROUND, kIidDispatch, reinterpret_cast<void**>(&background))) &&
            SUCCEEDED(background->QueryInterface(kIidShellFolderViewDual, reinterpret_cast<void**>(&folderView))) &&
            SUCCEEDED(folderView->get_Application(&application)) && application &&
            SUCCEEDED(application->QueryInterface(kIidShellDispatch2, reinterpret_cast<void**>(&shell)))) {
            BSTR fileText = MakeString(alloc, file);
            BSTR parameterText = MakeString(alloc, parameters);
            BSTR verbText = MakeString(alloc, verb);
            VARIANT parameterVariant = StringVariant(parameterText);
            VARIANT folderVariant = StringVariant(nullptr);
            VARIANT verbVariant = StringVariant(verbText);
            VARIANT showVariant;
            memset(&showVariant, 0, sizeof showVariant);
            showVariant.vt = VT_I4;
            showVariant.lVal = show;
            started = fileText && SUCCEEDED(shell->ShellExecute(fileText, parameterVariant, folderVariant, verbVariant,
                                                                 showVariant));
            BSTR texts[] = {fileText, parameterText, verbText};
            for (BSTR text : texts)
                if (text)
                    freeString(text);
        }
    }
    Release(shell);
    Release(application);
    Release(folderView);
    Release(background);
    Release(view);
    Release(browser);
    Release(provider);
    Release(desktop);
    Release(windows);
    FreeLibrary(oleaut);
    return started;
}

HINSTANCE WINAPI OpenAsDesktopUser(HWND window, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                                   INT show)
{
    if (StartAsDesktopUser(file, parameters, verb ? verb : "open", show)) {
        LogEvent("started as the signed-in user, through the desktop's shell: %s", file);
        // ShellExecute's way of saying it worked: a value above 32.
        return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(33));
    }
    LogEvent("the desktop's shell cannot be reached: started by the setup itself: %s", file);
    return ShellExecuteU(window, verb, file, parameters, directory, show);
}
