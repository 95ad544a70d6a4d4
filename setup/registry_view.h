// Which of the registry's two views the program's keys are in. A 32-bit
// program on 64-bit Windows sees the 32-bit view (HKLM\SOFTWARE is
// WOW6432Node) unless it asks for the 64-bit one; a 64-bit product's keys
// belong in the 64-bit view, where Windows and the product itself look.
// The view is chosen once a run knows its product, and every key the
// registry functions of wide.h open, create or delete is then in it.
#pragma once

#include <windows.h>

enum RegistryView {
    REGISTRY_VIEW_DEFAULT,  // the program's own: the 32-bit view for a 32-bit program
    REGISTRY_VIEW_64,       // the 64-bit view (the same as the default on 32-bit Windows)
};

void SetRegistryView(RegistryView view);
RegistryView CurrentRegistryView();
// The access flag that puts a key in the view; 0 on 32-bit Windows and
// for the default view.
REGSAM RegistryViewAccess();
// True on 64-bit Windows (a 32-bit program under WOW64, or a 64-bit
// program).
bool IsWindows64Bit();
// True when the two views are one registry here: on 32-bit Windows, and
// for a 64-bit program, whose own view is the 64-bit one.
bool IsSameRegistryView(RegistryView a, RegistryView b);
// Deletes a key without subkeys in the view.
LONG DeleteKeyInView(HKEY root, const wchar_t* subkey);

// The view kept for a stretch of code and put back after it: the
// recovery of a record made in another view.
class ScopedRegistryView {
public:
    explicit ScopedRegistryView(RegistryView view) : kept_(CurrentRegistryView()) { SetRegistryView(view); }
    ~ScopedRegistryView() { SetRegistryView(kept_); }
    ScopedRegistryView(const ScopedRegistryView&) = delete;
    ScopedRegistryView& operator=(const ScopedRegistryView&) = delete;

private:
    RegistryView kept_;
};
