// The registry through its wide interfaces (wide.h): names and the data of
// text values in the program's text, and a value's data exactly as the
// registry keeps it for giving it back.
#include "setup/registry_view.h"
#include "setup/wide_internal.h"

namespace {

bool IsTextType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// A value name for the registry: null stays null (the key's default value).
bool ValueName(const char* name, WideText& wide) { return !name || wide.Assign(name); }

// Text data of size bytes in code page as wide text with its terminator
// (a list keeps its inner terminators); false when it does not convert.
bool WideData(UINT codePage, const BYTE* data, DWORD size, wchar_t** out, DWORD* bytes)
{
    const char* text = reinterpret_cast<const char*>(data);
    int length = static_cast<int>(size);
    // Without the terminator: one is added.
    while (length > 0 && text[length - 1] == '\0')
        --length;
    int n = length ? MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text, length, nullptr, 0) : 0;
    if (length && n <= 0)
        return false;
    // A list ends in two terminators; any other text in one.
    wchar_t* wide = static_cast<wchar_t*>(calloc(static_cast<size_t>(n) + 2, sizeof(wchar_t)));
    if (!wide)
        return false;
    if (length)
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text, length, wide, n);
    *out = wide;
    *bytes = static_cast<DWORD>((static_cast<size_t>(n) + 1) * sizeof(wchar_t));
    return true;
}

LONG SetText(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size)
{
    WideText wideName;
    if (!ValueName(name, wideName))
        return ERROR_NO_UNICODE_TRANSLATION;
    if (!IsTextType(type))
        return RegSetValueExW(key, name ? wideName.c_str() : nullptr, 0, type, data, size);
    wchar_t* wide = nullptr;
    DWORD bytes = 0;
    if (!WideData(kProgramCodePage, data, size, &wide, &bytes))
        return ERROR_NO_UNICODE_TRANSLATION;
    if (type == REG_MULTI_SZ)
        bytes += sizeof(wchar_t);
    LONG result = RegSetValueExW(key, name ? wideName.c_str() : nullptr, 0, type, reinterpret_cast<BYTE*>(wide), bytes);
    free(wide);
    return result;
}

} // namespace

LONG RegOpenKeyExU(HKEY root, const char* subkey, REGSAM access, HKEY* key)
{
    WIDE_OR_FAIL(wide, subkey, ERROR_NO_UNICODE_TRANSLATION);
    return RegOpenKeyExW(root, wide.c_str(), 0, access | RegistryViewAccess(), key);
}

LONG RegCreateKeyExU(HKEY root, const char* subkey, REGSAM access, HKEY* key)
{
    WIDE_OR_FAIL(wide, subkey, ERROR_NO_UNICODE_TRANSLATION);
    return RegCreateKeyExW(root, wide.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access | RegistryViewAccess(), nullptr,
                           key, nullptr);
}

LONG RegDeleteKeyU(HKEY root, const char* subkey)
{
    WIDE_OR_FAIL(wide, subkey, ERROR_NO_UNICODE_TRANSLATION);
    return DeleteKeyInView(root, wide.c_str());
}

LONG RegDeleteValueU(HKEY key, const char* name)
{
    WideText wide;
    if (!ValueName(name, wide))
        return ERROR_NO_UNICODE_TRANSLATION;
    return RegDeleteValueW(key, name ? wide.c_str() : nullptr);
}

namespace {

// A subkey's or value's name, up to the registry's longest (16383).
template <typename Enumerate>
LONG EnumeratedName(char* out, DWORD* length, Enumerate enumerate)
{
    const DWORD kLongestName = 16384;
    wchar_t* wide = static_cast<wchar_t*>(malloc(kLongestName * sizeof(wchar_t)));
    if (!wide)
        return ERROR_NOT_ENOUGH_MEMORY;
    DWORD wideLength = kLongestName;
    LONG result = enumerate(wide, &wideLength);
    if (result == ERROR_SUCCESS) {
        DWORD n = FromWide(wide, out, *length);
        if (n == 0 && wide[0])
            result = ERROR_NO_UNICODE_TRANSLATION;
        else if (n >= *length)
            result = ERROR_MORE_DATA;
        else
            *length = n;
    }
    free(wide);
    return result;
}

} // namespace

LONG RegEnumKeyExU(HKEY key, DWORD index, char* out, DWORD* length)
{
    return EnumeratedName(out, length, [&](wchar_t* wide, DWORD* wideLength) {
        return RegEnumKeyExW(key, index, wide, wideLength, nullptr, nullptr, nullptr, nullptr);
    });
}

LONG RegEnumValueU(HKEY key, DWORD index, char* out, DWORD* length)
{
    return EnumeratedName(out, length, [&](wchar_t* wide, DWORD* wideLength) {
        return RegEnumValueW(key, index, wide, wideLength, nullptr, nullptr, nullptr, nullptr);
    });
}

LONG RegQueryStoredValue(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size)
{
    WideText wide;
    if (!ValueName(name, wide))
        return ERROR_NO_UNICODE_TRANSLATION;
    return RegQueryValueExW(key, name ? wide.c_str() : nullptr, nullptr, type, data, size);
}

LONG RegSetStoredValue(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size)
{
    WideText wide;
    if (!ValueName(name, wide))
        return ERROR_NO_UNICODE_TRANSLATION;
    return RegSetValueExW(key, name ? wide.c_str() : nullptr, 0, type, data, size);
}

LONG RegQueryValueExU(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size)
{
    DWORD storedType = 0, storedSize = 0;
    LONG result = RegQueryStoredValue(key, name, &storedType, nullptr, &storedSize);
    if (result != ERROR_SUCCESS)
        return result;
    if (type)
        *type = storedType;
    if (!IsTextType(storedType))
        return RegQueryStoredValue(key, name, type, data, size);
    // Text: read whole as wide text, terminated however it was stored.
    DWORD units = storedSize / sizeof(wchar_t);
    wchar_t* wide = static_cast<wchar_t*>(calloc(units + 2, sizeof(wchar_t)));
    if (!wide)
        return ERROR_NOT_ENOUGH_MEMORY;
    result = RegQueryStoredValue(key, name, nullptr, reinterpret_cast<BYTE*>(wide), &storedSize);
    if (result == ERROR_SUCCESS) {
        units = storedSize / sizeof(wchar_t);
        while (units > 0 && wide[units - 1] == L'\0')
            --units;
        // A list's inner terminators are kept: converted as one run.
        int n = units ? WideCharToMultiByte(kProgramCodePage, kNarrowFlags, wide, static_cast<int>(units), nullptr,
                                            0, nullptr, nullptr)
                      : 0;
        DWORD needed = static_cast<DWORD>(n) + (storedType == REG_MULTI_SZ ? 2 : 1);
        if (units && n <= 0) {
            result = ERROR_NO_UNICODE_TRANSLATION;
        } else if (!data) {
            *size = needed;
        } else if (needed > *size) {
            *size = needed;
            result = ERROR_MORE_DATA;
        } else {
            if (n)
                WideCharToMultiByte(kProgramCodePage, kNarrowFlags, wide, static_cast<int>(units), reinterpret_cast<char*>(data),
                                    n, nullptr, nullptr);
            memset(data + n, 0, needed - static_cast<DWORD>(n));
            *size = needed;
        }
    }
    free(wide);
    return result;
}

LONG RegSetValueExU(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size)
{
    return SetText(key, name, type, data, size);
}

bool StoredDataFromCodePage(DWORD type, const BYTE* data, DWORD size, BYTE** out, DWORD* outSize)
{
    if (!IsTextType(type)) {
        *out = static_cast<BYTE*>(malloc(size ? size : 1));
        if (!*out)
            return false;
        memcpy(*out, data, size);
        *outSize = size;
        return true;
    }
    wchar_t* wide = nullptr;
    if (!WideData(CP_ACP, data, size, &wide, outSize))
        return false;
    if (type == REG_MULTI_SZ)
        *outSize += sizeof(wchar_t);
    *out = reinterpret_cast<BYTE*>(wide);
    return true;
}
