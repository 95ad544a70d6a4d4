// The files mksetup writes, written as they are made: through a buffer to
// a temporary name, then put in the target's place whole. A product of
// gigabytes passes through here a megabyte at a time; nothing is ever held
// whole in memory, and a target is never left half-written.
#include "tools/mksetup/mksetup.h"

#include <string.h>

namespace mksetup {

namespace {

const size_t kBufferSize = 1 << 20;

// True when both files hold the same bytes, compared a block at a time.
bool SameBytes(const std::string& a, const std::string& b)
{
    if (!IsFile(a) || !IsFile(b) || FileSize(a) != FileSize(b))
        return false;
    FILE* first = OpenFile(a, "rb");
    if (!first)
        return false;
    FILE* second = OpenFile(b, "rb");
    if (!second) {
        fclose(first);
        return false;
    }
    Bytes x(kBufferSize), y(kBufferSize);
    bool same = true;
    for (;;) {
        size_t n = fread(x.data(), 1, x.size(), first);
        size_t m = fread(y.data(), 1, y.size(), second);
        if (n != m || memcmp(x.data(), y.data(), n) != 0) {
            same = false;
            break;
        }
        if (n < x.size()) {
            same = !ferror(first) && !ferror(second);
            break;
        }
    }
    fclose(second);
    fclose(first);
    return same;
}

// Copies a finished file to a target on another volume, where a rename
// cannot reach: through target + ".part", like every other output.
bool CopyInto(const std::string& from, const std::string& target)
{
    FILE* in = OpenFile(from, "rb");
    if (!in)
        return false;
    OutputFile out;
    bool ok = OutputCreate(&out, target + ".part");
    Bytes buffer(kBufferSize);
    while (ok) {
        size_t n = fread(buffer.data(), 1, buffer.size(), in);
        if (n > 0)
            ok = OutputWrite(&out, buffer.data(), n);
        if (n < buffer.size()) {
            ok = ok && !ferror(in);
            break;
        }
    }
    fclose(in);
    if (!OutputClose(&out) || !ok) {
        OutputDiscard(&out);
        return false;
    }
    if (!RenameOver(out.path, target)) {
        OutputDiscard(&out);
        return false;
    }
    return true;
}

}  // namespace

bool OutputCreate(OutputFile* out, const std::string& path)
{
    *out = OutputFile();
    out->path = path;
    out->file = OpenFile(path, "wb");
    if (!out->file)
        return false;
    setvbuf(out->file, nullptr, _IOFBF, kBufferSize);
    return true;
}

void OutputCreateInMemory(OutputFile* out, Bytes* memory)
{
    *out = OutputFile();
    memory->clear();
    out->memory = memory;
}

bool OutputWrite(OutputFile* out, const void* data, size_t count)
{
    if (out->memory && !out->failed) {
        const uint8_t* bytes = static_cast<const uint8_t*>(data);
        out->memory->insert(out->memory->end(), bytes, bytes + count);
        out->size += count;
        return true;
    }
    if (out->failed || !out->file)
        return false;
    if (count > 0 && fwrite(data, 1, count, out->file) != count) {
        out->failed = true;
        return false;
    }
    out->size += count;
    return true;
}

bool OutputPatch(OutputFile* out, uint32_t offset, const void* data, size_t count)
{
    if (out->memory && !out->failed && offset <= out->size && count <= out->size - offset) {
        memcpy(out->memory->data() + offset, data, count);
        return true;
    }
    // The C library seeks with a long, 32 bits on Windows: the fields
    // patched lie in the headers, at the start of the file.
    if (out->failed || !out->file || offset > 0x7FFFFFFF || offset > out->size || count > out->size - offset ||
        fflush(out->file) != 0 || fseek(out->file, long(offset), SEEK_SET) != 0 ||
        fwrite(data, 1, count, out->file) != count) {
        out->failed = true;
        return false;
    }
    return true;
}

bool OutputClose(OutputFile* out)
{
    if (out->file) {
        if (fclose(out->file) != 0)
            out->failed = true;
        out->file = nullptr;
    }
    return !out->failed;
}

void OutputDiscard(OutputFile* out)
{
    OutputClose(out);
    if (!out->path.empty())
        RemoveFile(out->path);
}

bool ReplaceWithFile(const std::string& made, const std::string& target)
{
    if (SameBytes(made, target)) {
        RemoveFile(made);
        return true;
    }
    // One rename puts it in place: the earlier file stays until then, and
    // stays whole when the new one cannot come.
    if (RenameOver(made, target))
        return true;
    bool ok = CopyInto(made, target);
    RemoveFile(made);
    return ok;
}

bool WriteReplacing(const std::string& target, const Bytes& data)
{
    OutputFile out;
    bool ok = OutputCreate(&out, target + ".part");
    ok = ok && OutputWrite(&out, data.data(), data.size());
    if (!OutputClose(&out) || !ok) {
        OutputDiscard(&out);
        return false;
    }
    return ReplaceWithFile(out.path, target);
}

}  // namespace mksetup
