// Fuzz target for mksetup's reading of a payload-free setup program
// (ReadPeImage and the walk of its resource tree) and its writing back
// (WritePeImage). The input is the whole program file. Besides memory
// safety it checks that an image mksetup writes reads back with the same
// resources, and that a string table entry it sets can be read again.
#include <stdint.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <tuple>

#include "tools/mksetup/mksetup.h"

using namespace mksetup;

namespace {

bool SameResources(std::vector<Resource> a, std::vector<Resource> b)
{
    auto order = [](const Resource& x, const Resource& y) {
        if (!(x.type == y.type))
            return x.type < y.type;
        if (!(x.name == y.name))
            return x.name < y.name;
        return x.language < y.language;
    };
    std::stable_sort(a.begin(), a.end(), order);
    std::stable_sort(b.begin(), b.end(), order);
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (!(a[i].type == b[i].type) || !(a[i].name == b[i].name) || a[i].language != b[i].language ||
            a[i].codePage != b[i].codePage || a[i].data != b[i].data)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Bytes file(data, data + size);
    PeImage image;
    std::string error;
    if (!ReadPeImage(file, &image, &error)) {
        if (error.empty())
            abort();
        return 0;
    }
    Bytes written;
    OutputFile out;
    OutputCreateInMemory(&out, &written);
    if (!WritePeImage(image, &out, &error))
        return 0;
    PeImage again;
    if (!ReadPeImage(written, &again, &error) || !SameResources(image.resources, again.resources))
        abort();

    // A resource changed as mksetup changes them, written and read back.
    SetStrings(&again, {{5000, "1234"}, {8000, "Corvane GlyphForge"}});
    Bytes rewritten;
    OutputCreateInMemory(&out, &rewritten);
    PeImage third;
    if (WritePeImage(again, &out, &error)) {
        if (!ReadPeImage(rewritten, &third, &error) || GetString(third, 8000) != "Corvane GlyphForge")
            abort();
    }
    return 0;
}
