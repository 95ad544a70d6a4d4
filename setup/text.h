// Text handling shared by the whole program: bounded copies into fixed
// buffers, a growable string and an ordered list of strings. Nothing here
// throws; allocation failures leave the text as it was.
#pragma once

#include <stdarg.h>
#include <stddef.h>

// The formats of FormatText are the C library's own (Windows: the
// system's printf), which the compiler checks as such.
#ifdef _WIN32
#define TEXT_FORMAT(text, first) __attribute__((format(ms_printf, text, first)))
#else
#define TEXT_FORMAT(text, first) __attribute__((format(printf, text, first)))
#endif

// The program's text is UTF-8. The system counts the length of a name or
// a path in wide units (MAX_PATH of them for a path, 255 for a name);
// a buffer holds that many in UTF-8 with three bytes each.
const size_t kPathBytes = 3 * 260;
// The length of text in the system's wide units: what its limits count.
size_t WideLength(const char* text);
// Cuts text after its first limit wide units, before a whole letter.
void CutToWideLength(char* text, size_t limit);

// Copies src into dst (capacity bytes, terminator included), cutting it
// at capacity - 1 bytes, before a whole letter. Returns false when the
// text was cut.
bool CopyBounded(char* dst, size_t capacity, const char* src);

// Appends src to the text already in dst, cutting it at the same limit.
// Returns false when the result was cut.
bool AppendBounded(char* dst, size_t capacity, const char* src);

// Formats into out (capacity bytes, terminator included) through the
// system's C library, whose printf the program shares instead of linking
// a formatter of its own: %s, %c, %d, %u, %ld, %lu, %lX with widths and
// zeros; 64-bit numbers as %I64u. Text that does not fit is cut (the
// end of a letter may be lost). The length written.
int FormatText(char* out, size_t capacity, const char* format, ...) TEXT_FORMAT(3, 4);
int FormatTextV(char* out, size_t capacity, const char* format, va_list arguments);

// Growable text (UTF-8); stands in for the framework's string class.
class Text {
public:
    Text();
    Text(const char* s);
    Text(const Text& other);
    Text& operator=(const Text& other);
    Text& operator=(const char* s);
    ~Text();

    const char* c_str() const { return data_ ? data_ : ""; }
    size_t length() const { return length_; }
    bool empty() const { return length_ == 0; }
    char last() const { return length_ ? data_[length_ - 1] : '\0'; }

    bool Assign(const char* s);
    bool Assign(const char* s, size_t n);
    bool Append(const char* s);
    bool Append(char c);
    void Truncate(size_t n);
    void Clear() { Truncate(0); }

private:
    bool Reserve(size_t n);
    char* data_;
    size_t length_;
    size_t capacity_;
};

// Ordered list of texts, grown ten entries at a time at first.
class TextList {
public:
    TextList();
    ~TextList();
    TextList(const TextList&) = delete;
    TextList& operator=(const TextList&) = delete;

    bool Add(const char* s);
    size_t Count() const { return count_; }
    const char* At(size_t i) const { return items_[i].c_str(); }
    void Clear();

private:
    Text* items_;
    size_t count_;
    size_t capacity_;
};

// Skips the program name (quoted, or up to the first blank) at the start
// of a command line, and the blanks after it.
const char* SkipProgramName(const char* commandLine);

// Splits line at each separator into exactly count fields; false for a
// line with fewer or more.
bool SplitFields(const char* line, char separator, Text* fields, int count);

// Replaces every occurrence of field ("{Name}", say) in text with value,
// inserted as it is: a brace in a file name is not a field of its own.
void ReplaceField(Text& text, const char* field, const char* value);
