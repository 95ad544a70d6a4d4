// What the three parts of the crossing to the wide interfaces share
// (wide.cpp: text, files and the system; wide_registry.cpp; wide_windows.cpp):
// the program's code page, the buffer for what the system gives back, and
// the way a converted name reaches a wide call. Only they include it.
#pragma once

#include "setup/wide.h"

#include <stdlib.h>
#include <string.h>

// The program's char strings are UTF-8; a wide text that is not well
// formed (half of a pair) is refused, never replaced by a stand-in.
const UINT kProgramCodePage = CP_UTF8;
const DWORD kNarrowFlags = WC_ERR_INVALID_CHARS;

// Wide text given back by the system, up to a path's longest form.
const DWORD kMostWide = 32768;

// A wide buffer for what the system gives back: a path fits in the fixed
// part; the rest of the way to kMostWide on the heap.
class WideOut {
public:
    WideOut() : data_(fixed_), size_(MAX_PATH) { fixed_[0] = L'\0'; }
    ~WideOut()
    {
        if (data_ != fixed_)
            free(data_);
    }
    WideOut(const WideOut&) = delete;
    WideOut& operator=(const WideOut&) = delete;

    wchar_t* data() { return data_; }
    DWORD size() const { return size_; }
    // Room for n wide characters, terminator included.
    bool Grow(DWORD n)
    {
        if (n <= size_)
            return true;
        if (n > kMostWide)
            return false;
        wchar_t* grown = static_cast<wchar_t*>(malloc(n * sizeof(wchar_t)));
        if (!grown)
            return false;
        if (data_ != fixed_)
            free(data_);
        data_ = grown;
        size_ = n;
        return true;
    }

private:
    wchar_t fixed_[MAX_PATH];
    wchar_t* data_;
    DWORD size_;
};

// The size in the program's text of wide, terminator included; 0 when a
// letter has no exact form there.
inline DWORD NarrowSize(const wchar_t* wide)
{
    int n = WideCharToMultiByte(kProgramCodePage, kNarrowFlags, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    return static_cast<DWORD>(n);
}

// Hands text the system wrote into wide back as the interfaces' A forms
// do: got is what the wide call returned (its length, or the wide size it
// needs, or 0).
inline DWORD GiveBack(DWORD got, const wchar_t* wide, DWORD wideSize, char* out, size_t size)
{
    if (got == 0) {
        if (size)
            out[0] = '\0';
        return 0;
    }
    if (got >= wideSize) {
        // Too small even for the wide form: the narrow one takes at most
        // three bytes for each wide character.
        if (size)
            out[0] = '\0';
        return got * 3;
    }
    return FromWide(wide, out, size);
}

// Calls fill (a wide interface that writes text into a buffer and returns
// its length, or the size it needs) and gives the text back, growing the
// wide buffer once when the system asks for more than a path.
template <typename Fill>
DWORD Fetch(char* out, size_t size, Fill fill)
{
    WideOut wide;
    DWORD got = fill(wide.data(), wide.size());
    if (got >= wide.size() && wide.Grow(got + 1))
        got = fill(wide.data(), wide.size());
    return GiveBack(got, wide.data(), wide.size(), out, size);
}

// Wide text into out, whole; false when a letter has no form in the
// program's text or memory runs out.
inline bool AssignFromWide(const wchar_t* wide, Text& out)
{
    DWORD size = NarrowSize(wide);
    char* narrow = size ? static_cast<char*>(malloc(size)) : nullptr;
    bool ok = narrow && FromWide(wide, narrow, size) == size - 1 && out.Assign(narrow);
    free(narrow);
    return ok;
}

// Converts text for a wide call, or returns failed from the function with
// the conversion's error as the last error: a name that has no exact wide
// form reaches no interface.
#define WIDE_OR_FAIL(name, text, failed)                                                                          \
    WideText name(text);                                                                                        \
    if (!name.ok())                                                                                             \
        return failed
