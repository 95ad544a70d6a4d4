// Template macros: {Name} placeholders expanded from the installer context,
// the string table, the registry and free-space measurements, and the small
// services that those values need.
#include "setup/setup.h"
#include "setup/wide.h"

#include <shlobj.h>
#include <stdio.h>
#include <string.h>

namespace {

const size_t kMacroLength = 255;                  // input, output and each value, in characters
const size_t kMacroBuffer = 3 * kMacroLength + 1; // their bytes

// The user's local application data (without a trailing backslash), the
// home of per-user installations: empty when the shell cannot name it.
void LocalAppDataFolder(char* value)
{
    LPITEMIDLIST list = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_LOCAL_APPDATA, &list)) || !list)
        return;
    char path[kPathBytes];
    if (SHGetPathFromIDListU(list, path))
        CopyBounded(value, kMacroBuffer, path);
    CoTaskMemFree(list);
}

// Works out the value of one macro name into value (kMacroBuffer bytes).
void MacroValue(const char* name, char* value)
{
    char number[64];
    if (strcmp(name, "ProgramFilesDir") == 0 || strcmp(name, "CommonFilesDir") == 0) {
        char buffer[kPathBytes];
        if (ReadRegistryString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", name, buffer))
            CopyBounded(value, kMacroBuffer, buffer);
    } else if (strcmp(name, "LocalAppDataDir") == 0) {
        LocalAppDataFolder(value);
    } else if (strcmp(name, "ProductName") == 0) {
        LoadStringText(IDS_PRODUCT_NAME, value, kMacroBuffer);
    } else if (strcmp(name, "AppName") == 0) {
        LoadStringText(IDS_APP_NAME, value, kMacroBuffer);
    } else if (strcmp(name, "Edition") == 0) {
        LoadStringText(IDS_EDITION, value, kMacroBuffer);
    } else if (strcmp(name, "AppCorvane") == 0) {
        LoadStringText(IDS_START_MENU_FOLDER, value, kMacroBuffer);
    } else if (strcmp(name, "ExeName") == 0) {
        LoadStringText(IDS_EXE_NAME, value, kMacroBuffer);
    } else if (strcmp(name, "HelpName") == 0) {
        LoadStringText(IDS_HELP_NAME, value, kMacroBuffer);
    } else if (strcmp(name, "TargetDir") == 0 || strcmp(name, "PF") == 0) {
        CopyBounded(value, kMacroBuffer, Context.TargetDir.c_str());
    } else if (strcmp(name, "AL") == 0) {
        CopyBounded(value, kMacroBuffer, GetArchivistDir().c_str());
    } else if (strcmp(name, "TargetDrive") == 0) {
        const char* t = Context.TargetDir.c_str();
        char drive[3] = {0, 0, 0};
        if (t[0]) {
            // A drive's letter is one of A to Z.
            drive[0] = t[0] >= 'a' && t[0] <= 'z' ? static_cast<char>(t[0] - 'a' + 'A') : t[0];
            drive[1] = t[1];
        }
        CopyBounded(value, kMacroBuffer, drive);
    } else if (strcmp(name, "EspaceLibre") == 0) {
        char root[3] = {0, 0, 0};
        const char* t = Context.TargetDir.c_str();
        if (t[0]) {
            root[0] = t[0];
            root[1] = t[1];
        }
        FormatKilobytesMb(number, sizeof number, GetFreeKilobytes(root));
        CopyBounded(value, kMacroBuffer, number);
    } else if (strcmp(name, "EspaceRequis") == 0) {
        FormatBytesMb(number, sizeof number, static_cast<int32_t>(LoadStringNumber(IDS_REQUIRED_SPACE)));
        CopyBounded(value, kMacroBuffer, number);
    } else if (strcmp(name, "CopyDir") == 0) {
        CopyBounded(value, kMacroBuffer, Context.CopyDir.c_str());
    } else if (strcmp(name, "CopyFile") == 0) {
        CopyBounded(value, kMacroBuffer, Context.CopyFile.c_str());
    } else {
        CopyBounded(value, kMacroBuffer, "##UNKNOWN MACRO##");
    }
}

} // namespace

void ExpandMacros(Text& text)
{
    char input[kMacroBuffer];
    char output[kMacroBuffer];
    char value[kMacroBuffer];
    char name[kMacroBuffer];

    // Over-long texts are cut at 255 characters, as are the result and
    // every value; nothing is ever written past these buffers.
    CopyBounded(input, sizeof input, text.c_str());
    CutToWideLength(input, kMacroLength);
    output[0] = '\0';
    size_t i = 0;
    while (input[i] != '\0') {
        if (input[i] == '{') {
            size_t n = 0;
            while (input[i + 1 + n] != '\0' && input[i + 1 + n] != '}')
                ++n;
            memcpy(name, input + i + 1, n);
            name[n] = '\0';
            // A "{" without its "}" takes the rest of the text as the name;
            // expansion then stops at the end of the text.
            i += n + 1;
            if (input[i] == '}')
                ++i;
            value[0] = '\0';
            MacroValue(name, value);
            CutToWideLength(value, kMacroLength);
            AppendBounded(output, sizeof output, value);
        } else {
            char c[2] = {input[i], '\0'};
            AppendBounded(output, sizeof output, c);
            ++i;
        }
    }
    CutToWideLength(output, kMacroLength);
    text.Assign(output);
}

Text ExpandEachMacro(const char* pattern)
{
    Text out;
    for (const char* p = pattern; *p;) {
        const char* close = *p == '{' ? strchr(p, '}') : nullptr;
        if (!close) {
            out.Append(*p++);
            continue;
        }
        Text macro;
        macro.Assign(p, static_cast<size_t>(close - p + 1));
        if (strcmp(macro.c_str(), "{TargetDir}") == 0 || strcmp(macro.c_str(), "{PF}") == 0)
            macro = Context.TargetDir;
        else
            ExpandMacros(macro);
        out.Append(macro.c_str());
        p = close + 1;
    }
    return out;
}

void ExpandItemText(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    if (!item)
        return;
    char buffer[3 * 255 + 1];
    buffer[0] = '\0';
    GetWindowTextU(item, buffer, sizeof buffer);
    Text t(buffer);
    ExpandMacros(t);
    SetWindowTextU(item, t.c_str());
}

bool ReadRegistryString(HKEY root, const char* keyPath, const char* valueName, char* buffer)
{
    HKEY key;
    if (RegOpenKeyExU(root, keyPath, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = kPathBytes - 1;
    LONG rc = RegQueryValueExU(key, valueName, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        return false;
    if (size > kPathBytes - 1)
        size = kPathBytes - 1;
    if (size == 0 || buffer[size - 1] != '\0')
        buffer[size] = '\0';
    // What a path holds, and no more.
    return WideLength(buffer) < MAX_PATH;
}

Text ReadMakerSetting(const char* subKey, const char* valueName, const char* defaultText)
{
    char keyPath[kPathBytes];
    CopyBounded(keyPath, sizeof keyPath, MakerKeyPath(subKey).c_str());
    char buffer[kPathBytes];
    if (ReadRegistryString(HKEY_CURRENT_USER, keyPath, valueName, buffer))
        return Text(buffer);
    return Text(defaultText ? defaultText : "");
}

Text GetArchivistDir()
{
    // A product without a sibling has no sibling's folder.
    if (LoadStringAsText(IDS_SIBLING).empty())
        return Text();
    Text v = ReadMakerSetting("folders", "ArchivistLocation", "");
    if (v.empty()) {
        char documents[kPathBytes];
        documents[0] = '\0';
        LPITEMIDLIST list = nullptr;
        if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_PERSONAL, &list)) && list) {
            if (!SHGetPathFromIDListU(list, documents))
                documents[0] = '\0';
            CoTaskMemFree(list);
        }
        if (documents[0] == '\0')
            CopyBounded(documents, sizeof documents, "C:\\My Documents");
        v.Assign(documents);
        if (v.last() != '\\')
            v.Append('\\');
        v.Append(LoadStringAsText(IDS_SIBLING_FOLDER).c_str());
    }
    if (v.last() != '\\')
        v.Append('\\');
    return v;
}

void CutToVolumeRoot(char* root)
{
    if (root[0] == '\\' && root[1] == '\\') {
        // Network path: keep \\server\share\ when the share is followed by a
        // backslash, otherwise the whole text.
        char* p = strchr(root + 2, '\\');
        if (p) {
            char* q = strchr(p + 1, '\\');
            if (q)
                q[1] = '\0';
        }
    } else {
        char* p = strchr(root, '\\');
        if (p)
            p[1] = '\0';
    }
}

int32_t SaturatedKilobytes(unsigned long long bytes)
{
    // 2 TiB or more would wrap to a negative count: saturate.
    unsigned long long k = bytes >> 10;
    return k > 0x7FFFFFFFull ? 0x7FFFFFFF : static_cast<int32_t>(k);
}

int32_t GetFreeKilobytes(const char* path)
{
    char root[kPathBytes];
    root[0] = '\0';
    DWORD n = GetFullPathNameU(path, sizeof root, root, nullptr);
    if (n == 0 || n >= sizeof root)
        CopyBounded(root, sizeof root, path);

    CutToVolumeRoot(root);

    ULARGE_INTEGER available, total, free;
    if (!GetDiskFreeSpaceExU(root, &available, &total, &free))
        return -1;
    return SaturatedKilobytes(free.QuadPart);
}

void FormatKilobytesMb(char* buffer, size_t size, int32_t kilobytes)
{
    // The digit after the comma is the hundreds digit of the kilobyte count,
    // not a rounded tenth: 2047 KB read 1,0 Mb.
    char text[64];
    FormatText(text, sizeof text, "%ld,%ld Mb", static_cast<long>(kilobytes / 1024), static_cast<long>((kilobytes / 100) % 10));
    CopyBounded(buffer, size, text);
}

void FormatBytesMb(char* buffer, size_t size, int32_t bytes)
{
    FormatKilobytesMb(buffer, size, bytes / 1024);
}

long ParseDecimal(const char* text)
{
    const char* p = text;
    while (*p == ' ' || *p == '\t')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    long long v = 0;
    while (*p >= '0' && *p <= '9') {
        v = v * 10 + (*p++ - '0');
        if (v > 0x7FFFFFFFll)
            v = 0x7FFFFFFFll; // a number too long for 32 bits saturates
    }
    return static_cast<long>(negative ? -v : v);
}
