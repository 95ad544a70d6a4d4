// The journal's record format: a record's fields escaped into one line
// and read back, the hexadecimal form of registry data, and the letters
// that name the registry roots. Text only; nothing here touches the
// machine.
#include "rollback/records.h"

#include <string.h>

namespace {

const char kHex[] = "0123456789ABCDEF";

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }
int HexValue(char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }

void AppendEscaped(Text& line, const char* field)
{
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(field); *c; ++c) {
        if (*c < 0x20 || *c >= 0x7F || *c == '%') {
            char escaped[4] = {'%', kHex[*c >> 4], kHex[*c & 15], '\0'};
            line.Append(escaped);
        } else {
            line.Append(static_cast<char>(*c));
        }
    }
}

} // namespace

Text FormatRecord(char kind, const char* const* fields, int count)
{
    Text line;
    line.Append(kind);
    for (int i = 0; i < count; ++i) {
        line.Append('\t');
        AppendEscaped(line, fields[i]);
    }
    return line;
}

bool ParseRecord(const char* line, ParsedRecord& out)
{
    out.Count = 0;
    out.Kind = line[0];
    if (out.Kind == '\0' || (line[1] != '\0' && line[1] != '\t'))
        return false;
    const char* p = line + 1;
    while (*p == '\t') {
        if (out.Count == kMaxRecordFields)
            return false;
        Text& field = out.Fields[out.Count++];
        field.Clear();
        for (++p; *p && *p != '\t'; ++p) {
            if (*p == '%') {
                if (!IsHexDigit(p[1]) || !IsHexDigit(p[2]))
                    return false;
                field.Append(static_cast<char>(HexValue(p[1]) * 16 + HexValue(p[2])));
                p += 2;
            } else {
                field.Append(*p);
            }
        }
    }
    return *p == '\0';
}

void AppendHex(Text& text, const unsigned char* data, DWORD size)
{
    for (DWORD i = 0; i < size; ++i) {
        text.Append(kHex[data[i] >> 4]);
        text.Append(kHex[data[i] & 15]);
    }
}

bool DecodeHex(const char* hex, unsigned char* data, size_t size)
{
    size_t n = strlen(hex);
    if (n != 2 * size)
        return false;
    for (size_t i = 0; i < size; ++i) {
        if (!IsHexDigit(hex[2 * i]) || !IsHexDigit(hex[2 * i + 1]))
            return false;
        data[i] = static_cast<unsigned char>(HexValue(hex[2 * i]) * 16 + HexValue(hex[2 * i + 1]));
    }
    return true;
}

Text RegistryValueName(HKEY root, const char* key, const char* name)
{
    Text text(root == HKEY_CURRENT_USER ? "HKCU\\" : "HKLM\\");
    text.Append(key);
    if (name) {
        text.Append(" [");
        text.Append(name);
        text.Append("]");
    }
    return text;
}

// "M" and "U" name the roots in the program's default view; "M64" and
// "U64" in the 64-bit view (a 64-bit product's keys).
HKEY RootFromLetter(const char* letter)
{
    if (strcmp(letter, "M") == 0 || strcmp(letter, "M64") == 0)
        return HKEY_LOCAL_MACHINE;
    if (strcmp(letter, "U") == 0 || strcmp(letter, "U64") == 0)
        return HKEY_CURRENT_USER;
    return nullptr;
}

RegistryView ViewFromLetter(const char* letter)
{
    return letter[0] && strcmp(letter + 1, "64") == 0 ? REGISTRY_VIEW_64 : REGISTRY_VIEW_DEFAULT;
}

const char* LetterFromRoot(HKEY root, RegistryView view)
{
    bool wide = view == REGISTRY_VIEW_64;
    if (root == HKEY_LOCAL_MACHINE)
        return wide ? "M64" : "M";
    if (root == HKEY_CURRENT_USER)
        return wide ? "U64" : "U";
    return nullptr;
}
