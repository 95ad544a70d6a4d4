// Bounded copies, the growable text and the text list.
#include "setup/text.h"

#include <new>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

bool CopyBounded(char* dst, size_t capacity, const char* src)
{
    if (capacity == 0)
        return false;
    dst[0] = '\0';
    return AppendBounded(dst, capacity, src);
}

bool AppendBounded(char* dst, size_t capacity, const char* src)
{
    if (capacity == 0)
        return false;
    size_t used = strnlen(dst, capacity);
    if (used >= capacity) {
        // Not terminated within its buffer: terminate at the limit.
        dst[capacity - 1] = '\0';
        return false;
    }
    if (!src)
        return true;
    size_t room = capacity - 1 - used;
    size_t n = strlen(src);
    bool whole = n <= room;
    if (!whole) {
        // Cut before a whole letter, never inside one.
        n = room;
        while (n > 0 && (static_cast<unsigned char>(src[n]) & 0xC0) == 0x80)
            --n;
    }
    memcpy(dst + used, src, n);
    dst[used + n] = '\0';
    return whole;
}

size_t WideLength(const char* text)
{
    // A letter of four bytes takes two wide units; every other lead byte,
    // one.
    size_t n = 0;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text); *c; ++c)
        if ((*c & 0xC0) != 0x80)
            n += *c >= 0xF0 ? 2 : 1;
    return n;
}

void CutToWideLength(char* text, size_t limit)
{
    size_t n = 0;
    for (unsigned char* c = reinterpret_cast<unsigned char*>(text); *c; ++c) {
        if ((*c & 0xC0) == 0x80)
            continue;
        n += *c >= 0xF0 ? 2 : 1;
        if (n > limit) {
            *c = '\0';
            return;
        }
    }
}

Text::Text() : data_(nullptr), length_(0), capacity_(0) {}

Text::Text(const char* s) : Text() { Assign(s); }

Text::Text(const Text& other) : Text() { Assign(other.c_str(), other.length()); }

Text& Text::operator=(const Text& other)
{
    if (this != &other)
        Assign(other.c_str(), other.length());
    return *this;
}

Text& Text::operator=(const char* s)
{
    Assign(s);
    return *this;
}

Text::~Text() { free(data_); }

bool Text::Reserve(size_t n)
{
    if (n + 1 <= capacity_)
        return true;
    size_t want = capacity_ ? capacity_ : 16;
    while (want < n + 1)
        want *= 2;
    char* p = static_cast<char*>(realloc(data_, want));
    if (!p)
        return false;
    data_ = p;
    capacity_ = want;
    return true;
}

bool Text::Assign(const char* s) { return Assign(s ? s : "", s ? strlen(s) : 0); }

bool Text::Assign(const char* s, size_t n)
{
    if (s >= data_ && data_ && s < data_ + capacity_) {
        // Assigning a part of itself: move within the buffer.
        memmove(data_, s, n);
        data_[n] = '\0';
        length_ = n;
        return true;
    }
    if (!Reserve(n))
        return false;
    memcpy(data_, s, n);
    data_[n] = '\0';
    length_ = n;
    return true;
}

bool Text::Append(const char* s)
{
    if (!s)
        return true;
    size_t n = strlen(s);
    if (!Reserve(length_ + n))
        return false;
    memmove(data_ + length_, s, n);
    length_ += n;
    data_[length_] = '\0';
    return true;
}

bool Text::Append(char c)
{
    char s[2] = {c, '\0'};
    return Append(s);
}

void Text::Truncate(size_t n)
{
    if (n < length_) {
        length_ = n;
        data_[n] = '\0';
    }
}

TextList::TextList() : items_(nullptr), count_(0), capacity_(0) {}

TextList::~TextList() { Clear(); }

bool TextList::Add(const char* s)
{
    if (count_ == capacity_) {
        // Ten more at first, then half as many again as there are: a list
        // of thousands of paths (or journal records) is not copied over a
        // thousand times. A Text is a pointer and two sizes, moved as such.
        size_t want = capacity_ < 20 ? capacity_ + 10 : capacity_ + capacity_ / 2;
        void* p = realloc(static_cast<void*>(items_), want * sizeof(Text));
        if (!p)
            return false;
        items_ = static_cast<Text*>(p);
        capacity_ = want;
    }
    new (&items_[count_]) Text();
    if (!items_[count_].Assign(s)) {
        items_[count_].~Text();
        return false;
    }
    ++count_;
    return true;
}

void TextList::Clear()
{
    for (size_t i = 0; i < count_; ++i)
        items_[i].~Text();
    free(items_);
    items_ = nullptr;
    count_ = 0;
    capacity_ = 0;
}

void ReplaceField(Text& text, const char* field, const char* value)
{
    size_t fieldLength = strlen(field);
    if (fieldLength == 0)
        return;
    Text result;
    const char* p = text.c_str();
    for (;;) {
        const char* found = strstr(p, field);
        if (!found) {
            result.Append(p);
            break;
        }
        for (const char* c = p; c < found; ++c)
            result.Append(*c);
        // The value is inserted as it is: a brace in a file name is not a
        // field of its own.
        result.Append(value);
        p = found + fieldLength;
    }
    text = result;
}

const char* SkipProgramName(const char* commandLine)
{
    const char* p = commandLine;
    if (*p == '"') {
        ++p;
        while (*p && *p != '"')
            ++p;
        if (*p == '"')
            ++p;
    } else {
        while (*p && *p != ' ' && *p != '\t')
            ++p;
    }
    while (*p == ' ' || *p == '\t')
        ++p;
    return p;
}

bool SplitFields(const char* line, char separator, Text* fields, int count)
{
    const char* p = line;
    for (int i = 0; i < count; ++i) {
        const char* end = strchr(p, separator);
        if ((end == nullptr) != (i == count - 1))
            return false;
        fields[i].Assign(p, end ? static_cast<size_t>(end - p) : strlen(p));
        p = end ? end + 1 : p;
    }
    return true;
}

int FormatTextV(char* out, size_t capacity, const char* format, va_list arguments)
{
    if (capacity == 0)
        return 0;
#ifdef _WIN32
    // The system's own: -1 when the text does not fit, and then no
    // terminator.
    int n = _vsnprintf(out, capacity - 1, format, arguments);
#else
    int n = vsnprintf(out, capacity, format, arguments);
#endif
    if (n < 0 || static_cast<size_t>(n) >= capacity - 1) {
        out[capacity - 1] = '\0';
        return static_cast<int>(strlen(out));
    }
    out[n] = '\0';
    return n;
}

int FormatText(char* out, size_t capacity, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int n = FormatTextV(out, capacity, format, arguments);
    va_end(arguments);
    return n;
}
