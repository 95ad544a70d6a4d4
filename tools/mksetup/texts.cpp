// Text helpers of mksetup: UTF-8 and UTF-16 (the description is UTF-8, the
// resources hold UTF-16), the {Name} macros, and plain text turned into an
// RTF document for the licence and information pages.
#include "tools/mksetup/mksetup.h"

namespace mksetup {

namespace {

// Decodes one UTF-8 sequence at text[i]; -1 when it is not valid.
long NextCodePoint(const std::string& text, size_t* i)
{
    unsigned char c = static_cast<unsigned char>(text[*i]);
    int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
    if (extra < 0 || *i + extra >= text.size())
        return -1;
    long v = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        unsigned char f = static_cast<unsigned char>(text[*i + k]);
        if ((f & 0xC0) != 0x80)
            return -1;
        v = (v << 6) | (f & 0x3F);
    }
    static const long smallest[] = {0, 0x80, 0x800, 0x10000};
    if (v < smallest[extra] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF))
        return -1;
    *i += extra + 1;
    return v;
}

// Code page 1252's characters 0x80-0x9F; 0 where the page has none.
const uint16_t kWindows1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                       0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                       0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                       0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

long FromWindows1252(unsigned char c)
{
    if (c >= 0x80 && c < 0xA0)
        return kWindows1252High[c - 0x80] ? kWindows1252High[c - 0x80] : '?';
    return c;
}

// The code page 1252 byte of a character, or 0 when the page lacks it.
int ToWindows1252(long c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<int>(c);
    for (int i = 0; i < 32; ++i)
        if (kWindows1252High[i] == c)
            return 0x80 + i;
    return 0;
}

}  // namespace

bool ValidUtf8(const std::string& text)
{
    for (size_t i = 0; i < text.size();)
        if (NextCodePoint(text, &i) < 0)
            return false;
    return true;
}

size_t CharacterCount(const std::string& utf8)
{
    size_t n = 0;
    for (unsigned char c : utf8)
        n += (c & 0xC0) != 0x80;
    return n;
}

std::u16string Utf16FromUtf8(const std::string& text)
{
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        long c = NextCodePoint(text, &i);
        if (c < 0) {
            c = 0xFFFD;
            ++i;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

std::string Utf8FromUtf16(const std::u16string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        long c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::vector<std::string> MacroNames(const std::string& text)
{
    // As the setup reads them: a name runs to the first "}" or the end.
    std::vector<std::string> names;
    for (size_t i = text.find('{'); i != std::string::npos; i = text.find('{', i)) {
        size_t end = text.find('}', i + 1);
        names.push_back(text.substr(i + 1, (end == std::string::npos ? text.size() : end) - i - 1));
        if (end == std::string::npos)
            break;
        i = end + 1;
    }
    return names;
}

std::string ExpandKnownMacros(const std::string& text, const std::map<std::string, std::string>& macros)
{
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        size_t open = text.find('{', i);
        size_t end = open == std::string::npos ? std::string::npos : text.find('}', open + 1);
        if (end == std::string::npos) {
            out += text.substr(i);
            break;
        }
        out += text.substr(i, open - i);
        auto known = macros.find(text.substr(open + 1, end - open - 1));
        out += known != macros.end() ? known->second : text.substr(open, end - open + 1);
        i = end + 1;
    }
    return out;
}

bool IsRtf(const Bytes& data)
{
    static const char kMagic[] = "{\\rtf";
    return data.size() >= 5 && std::string(data.begin(), data.begin() + 5) == kMagic;
}

std::string RtfFromPlainText(const std::string& text)
{
    // The same face and size as the demo's own texts; one paragraph per line.
    std::string rtf = "{\\rtf1\\ansi\\ansicpg1252\\deff0\n{\\fonttbl{\\f0\\fswiss\\fcharset0 Tahoma;}}\n"
                      "\\viewkind4\\uc1\\pard\\f0\\fs16\n";
    bool utf8 = ValidUtf8(text);
    size_t i = text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (i < text.size()) {
        long c = utf8 ? NextCodePoint(text, &i) : FromWindows1252(static_cast<unsigned char>(text[i++]));
        if (c == '\r')
            continue;
        if (c == '\n') {
            rtf += "\\par\n";
        } else if (c == '\t') {
            rtf += "\\tab ";
        } else if (c == '\\' || c == '{' || c == '}') {
            rtf += '\\';
            rtf += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x80) {
            rtf += static_cast<char>(c);
        } else if (int b = ToWindows1252(c)) {
            static const char kHex[] = "0123456789abcdef";
            rtf += "\\'";
            rtf += kHex[b >> 4];
            rtf += kHex[b & 15];
        } else if (c >= 0x20) {
            // Beyond code page 1252: the character by number (UTF-16
            // units), a question mark for readers that do not know it.
            std::u16string units;
            if (c >= 0x10000) {
                units += char16_t(0xD800 + ((c - 0x10000) >> 10));
                units += char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
            } else {
                units += char16_t(c);
            }
            for (char16_t u : units)
                rtf += "\\u" + std::to_string(static_cast<int16_t>(u)) + "?";
        }
    }
    rtf += "\\par\n}\n";
    return rtf;
}

std::string Megabytes(uint64_t bytes)
{
    char text[32];
    snprintf(text, sizeof text, "%.2f MB", double(bytes) / 1048576.0);
    return text;
}

}  // namespace mksetup
