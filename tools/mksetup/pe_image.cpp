// The payload-free setup program as a PE image: its resource tree read
// into a flat list, and the image written back with a new resource
// section, streamed out so that a payload kept in files never has to fit
// in memory. The resource section keeps its place; the sections after it
// (the base relocations) move behind the new one, and an Authenticode
// certificate table, which the new image would no longer match, is left
// out: the maker signs the finished setup program, and the signature then
// sits after the sections, where it disturbs nothing.
#include "tools/mksetup/mksetup.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

namespace mksetup {

namespace {

const uint32_t kSectionHeaderSize = 40;
const int kCertificateDirectory = 4;
const int kResourceDirectory = 2;
const uint32_t kSubdirectoryFlag = 0x80000000;
const uint32_t kNameFlag = 0x80000000;

void Set16(Bytes* b, size_t at, uint32_t v)
{
    (*b)[at] = uint8_t(v);
    (*b)[at + 1] = uint8_t(v >> 8);
}
void Set32(Bytes* b, size_t at, uint32_t v)
{
    Set16(b, at, v & 0xFFFF);
    Set16(b, at + 2, v >> 16);
}
uint32_t AlignUp(uint32_t v, uint32_t alignment) { return (v + alignment - 1) / alignment * alignment; }

struct Section {
    std::string name;
    uint32_t virtualSize, virtualAddress, rawSize, rawPointer;
};

Section SectionAt(const PeImage& image, int i)
{
    size_t at = image.sectionTable + size_t(i) * kSectionHeaderSize;
    Section s;
    s.name = std::string(reinterpret_cast<const char*>(&image.file[at]), strnlen(reinterpret_cast<const char*>(&image.file[at]), 8));
    s.virtualSize = Get32(image.file, at + 8);
    s.virtualAddress = Get32(image.file, at + 12);
    s.rawSize = Get32(image.file, at + 16);
    s.rawPointer = Get32(image.file, at + 20);
    return s;
}

uint32_t DirectoryOffset(const PeImage& image, int entry)
{
    return image.optionalOffset + (image.wide ? 112 : 96) + 8 * entry;
}

uint32_t DirectoryCount(const PeImage& image) { return Get32(image.file, image.optionalOffset + (image.wide ? 108 : 92)); }

// The resource tree, read with every offset checked against the section.
struct TreeReader {
    const Bytes& file;
    uint32_t base, size, rva;
    std::vector<Resource>* out;
    std::string* error;
    // A linker gives every entry and every resource's data bytes of their
    // own in the section; a tree whose directories or data are shared would
    // be walked into millions of resources from a few kilobytes.
    uint64_t entries = 0, dataBytes = 0;

    bool In(uint32_t offset, uint32_t count) const { return offset <= size && count <= size - offset; }

    bool Label(uint32_t entry, ResourceName* name)
    {
        if (!(entry & kNameFlag)) {
            name->id = uint16_t(entry);
            return true;
        }
        uint32_t at = entry & ~kNameFlag;
        if (!In(at, 2) || !In(at + 2, 2u * Get16(file, base + at)))
            return false;
        for (uint16_t i = 0; i < Get16(file, base + at); ++i)
            name->name += char16_t(Get16(file, base + at + 2 + 2 * i));
        return true;
    }

    bool Directory(uint32_t at, int depth, Resource current)
    {
        if (depth > 2 || !In(at, 16))
            return false;
        uint32_t count = uint32_t(Get16(file, base + at + 12)) + Get16(file, base + at + 14);
        entries += count;
        if (!In(at + 16, 8 * count) || entries > size / 8)
            return false;
        for (uint32_t k = 0; k < count; ++k) {
            uint32_t entry = Get32(file, base + at + 16 + 8 * k);
            uint32_t target = Get32(file, base + at + 20 + 8 * k);
            ResourceName label;
            if (!Label(entry, &label))
                return false;
            if (depth == 0)
                current.type = label;
            else if (depth == 1)
                current.name = label;
            else
                current.language = label.id;
            if (target & kSubdirectoryFlag) {
                if (!Directory(target & ~kSubdirectoryFlag, depth + 1, current))
                    return false;
                continue;
            }
            if (depth != 2 || !In(target, 16))
                return false;
            uint32_t dataRva = Get32(file, base + target);
            uint32_t dataSize = Get32(file, base + target + 4);
            // The demo's and any setup program's data lies inside the
            // section itself.
            dataBytes += dataSize;
            if (dataRva < rva || !In(dataRva - rva, dataSize) || dataBytes > size)
                return false;
            current.codePage = Get32(file, base + target + 8);
            current.data.assign(file.begin() + base + (dataRva - rva), file.begin() + base + (dataRva - rva) + dataSize);
            out->push_back(current);
        }
        return true;
    }
};

// The resource section as it will be written: the tree (directories,
// data entries and names) in memory, then each resource's data at its
// offset.
struct ResourceLayout {
    Bytes tree;
    std::vector<std::pair<const Resource*, uint32_t>> data;  // in the order written, with their offsets
    uint32_t size = 0;                                       // the whole section, aligned to 8 bytes
};

// Lays out the resource tree: the directories (types, then names, then
// languages, each sorted as the loader's binary search wants: named
// entries by name first, then IDs upwards), the data entries, the names,
// then the data, each aligned to 8 bytes. Only the sizes of the data are
// needed, so that a payload kept in a file is never read for it.
ResourceLayout LayOutResourceSection(const std::vector<Resource>& all, uint32_t rva)
{
    // Sorted by reference: the payload is not copied for it.
    std::vector<const Resource*> sorted;
    for (const Resource& r : all)
        sorted.push_back(&r);
    std::sort(sorted.begin(), sorted.end(), [](const Resource* a, const Resource* b) {
        if (!(a->type == b->type))
            return a->type < b->type;
        if (!(a->name == b->name))
            return a->name < b->name;
        return a->language < b->language;
    });
    struct Sorted {
        const std::vector<const Resource*>& items;
        const Resource& operator[](size_t i) const { return *items[i]; }
        size_t size() const { return items.size(); }
    } resources{sorted};
    // Sizes of the directory area first, to know where the rest goes.
    struct Level {
        ResourceName label;
        size_t first, count;  // resources covered
    };
    std::vector<Level> types;
    for (size_t i = 0; i < resources.size(); ++i)
        if (i == 0 || !(resources[i].type == resources[i - 1].type))
            types.push_back({resources[i].type, i, 0});
    for (Level& t : types)
        while (t.first + t.count < resources.size() && resources[t.first + t.count].type == t.label)
            ++t.count;
    std::vector<std::vector<Level>> names(types.size());
    uint32_t directoryBytes = 16 + 8 * uint32_t(types.size());
    for (size_t t = 0; t < types.size(); ++t) {
        for (size_t i = types[t].first; i < types[t].first + types[t].count; ++i)
            if (i == types[t].first || !(resources[i].name == resources[i - 1].name))
                names[t].push_back({resources[i].name, i, 0});
        for (Level& n : names[t])
            while (n.first + n.count < types[t].first + types[t].count &&
                   resources[n.first + n.count].name == n.label)
                ++n.count;
        directoryBytes += 16 + 8 * uint32_t(names[t].size());
        for (Level& n : names[t])
            directoryBytes += 16 + 8 * uint32_t(n.count);
    }
    uint32_t dataEntries = directoryBytes;
    uint32_t stringArea = dataEntries + 16 * uint32_t(resources.size());

    ResourceLayout layout;
    Bytes& out = layout.tree;
    out.resize(stringArea);
    std::vector<std::pair<std::u16string, uint32_t>> strings;  // written once each
    auto labelField = [&](const ResourceName& label) -> uint32_t {
        if (label.name.empty())
            return label.id;
        for (const auto& s : strings)
            if (s.first == label.name)
                return kNameFlag | s.second;
        uint32_t at = uint32_t(out.size());
        out.resize(out.size() + 2 + 2 * label.name.size());
        Set16(&out, at, uint32_t(label.name.size()));
        for (size_t i = 0; i < label.name.size(); ++i)
            Set16(&out, at + 2 + 2 * i, label.name[i]);
        strings.push_back({label.name, at});
        return kNameFlag | at;
    };
    auto writeDirectory = [&](uint32_t at, const std::vector<ResourceName>& labels, const std::vector<uint32_t>& targets) {
        uint16_t named = 0;
        for (const ResourceName& l : labels)
            named += !l.name.empty();
        Set16(&out, at + 12, named);
        Set16(&out, at + 14, uint32_t(labels.size()) - named);
        for (size_t k = 0; k < labels.size(); ++k) {
            Set32(&out, at + 16 + 8 * k, labelField(labels[k]));
            Set32(&out, at + 20 + 8 * k, targets[k]);
        }
    };

    uint32_t next = 16 + 8 * uint32_t(types.size());
    std::vector<ResourceName> typeLabels;
    std::vector<uint32_t> typeTargets;
    uint32_t dataEntry = dataEntries;
    std::vector<uint32_t> entryOf(resources.size());
    for (size_t t = 0; t < types.size(); ++t) {
        typeLabels.push_back(types[t].label);
        typeTargets.push_back(kSubdirectoryFlag | next);
        uint32_t nameDirectory = next;
        next += 16 + 8 * uint32_t(names[t].size());
        std::vector<ResourceName> nameLabels;
        std::vector<uint32_t> nameTargets;
        for (const Level& n : names[t]) {
            nameLabels.push_back(n.label);
            nameTargets.push_back(kSubdirectoryFlag | next);
            std::vector<ResourceName> languageLabels;
            std::vector<uint32_t> languageTargets;
            for (size_t i = n.first; i < n.first + n.count; ++i) {
                languageLabels.push_back(ResourceById(resources[i].language));
                languageTargets.push_back(dataEntry);
                entryOf[i] = dataEntry;
                dataEntry += 16;
            }
            writeDirectory(next, languageLabels, languageTargets);
            next += 16 + 8 * uint32_t(n.count);
        }
        writeDirectory(nameDirectory, nameLabels, nameTargets);
    }
    writeDirectory(0, typeLabels, typeTargets);

    // The data follows the names; WritePeImage has checked that their sizes
    // together leave room in 32 bits.
    uint32_t at = uint32_t(out.size());
    for (size_t i = 0; i < resources.size(); ++i) {
        at = AlignUp(at, 8);
        Set32(&out, entryOf[i], rva + at);
        Set32(&out, entryOf[i] + 4, resources[i].Size());
        Set32(&out, entryOf[i] + 8, resources[i].codePage);
        layout.data.push_back({&resources[i], at});
        at += resources[i].Size();
    }
    layout.size = AlignUp(at, 8);
    return layout;
}

// The PE checksum, worked out as the image is written: the image's 16-bit
// words summed with end-around carry, the checksum field itself left out,
// plus the file's length. Summing little-endian 32-bit words and folding
// at the end gives the same sum (65536 is 1 modulo 65535), four times
// faster; the checksum field is written as zeros, which add nothing.
struct Checksum {
    uint64_t sum = 0;
    uint64_t length = 0;
    uint8_t pending[4] = {0, 0, 0, 0};
    unsigned pendingCount = 0;

    void Add(const uint8_t* p, size_t n)
    {
        length += n;
        while (n > 0 && pendingCount > 0) {
            pending[pendingCount++] = *p++;
            --n;
            if (pendingCount == 4) {
                sum += Word(pending);
                pendingCount = 0;
            }
        }
        size_t whole = n / 4 * 4;
        for (size_t i = 0; i < whole; i += 4)
            sum += Word(p + i);
        for (size_t i = whole; i < n; ++i)
            pending[pendingCount++] = p[i];
    }

    uint32_t Result() const
    {
        uint64_t s = sum;
        // An odd last byte is the low byte of a word whose high byte is 0.
        uint8_t last[4] = {0, 0, 0, 0};
        for (unsigned i = 0; i < pendingCount; ++i)
            last[i] = pending[i];
        s += Word(last);
        while (s >> 16)
            s = (s & 0xFFFF) + (s >> 16);
        return uint32_t(s + length);
    }

    static uint32_t Word(const uint8_t* p)
    {
        return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
    }
};

// Writes the image's bytes in order, summing them for the checksum.
struct ImageWriter {
    OutputFile* out;
    Checksum checksum;
    bool Put(const uint8_t* data, size_t count)
    {
        checksum.Add(data, count);
        return OutputWrite(out, data, count);
    }
    bool Put(const Bytes& data) { return Put(data.data(), data.size()); }
    bool Zeros(size_t count)
    {
        static const uint8_t kZeros[4096] = {};
        while (count > 0) {
            size_t n = std::min(count, sizeof kZeros);
            if (!Put(kZeros, n))
                return false;
            count -= n;
        }
        return true;
    }
    // A resource's data kept in a file, copied through a small buffer.
    bool CopyFile(const std::string& path, uint32_t size, std::string* error)
    {
        FILE* file = OpenFile(path, "rb");
        if (!file) {
            *error = path + " cannot be read";
            return false;
        }
        Bytes buffer(1 << 20);
        uint64_t left = size;
        bool ok = true;
        while (ok && left > 0) {
            size_t want = size_t(std::min<uint64_t>(left, buffer.size()));
            if (fread(buffer.data(), 1, want, file) != want) {
                *error = path + " cannot be read";
                ok = false;
            } else if (!Put(buffer.data(), want)) {
                ok = false;
            }
            left -= want;
        }
        fclose(file);
        return ok;
    }
};

}  // namespace

bool ResourceName::operator<(const ResourceName& other) const
{
    // Named entries come before IDs; names in the order of their UTF-16
    // units, as the loader compares them (mksetup writes them upper case).
    if (name.empty() != other.name.empty())
        return !name.empty();
    if (!name.empty())
        return name < other.name;
    return id < other.id;
}

ResourceName ResourceById(uint16_t id)
{
    ResourceName n;
    n.id = id;
    return n;
}

ResourceName ResourceByName(const char* name)
{
    ResourceName n;
    for (const char* p = name; *p; ++p)
        n.name += char16_t(*p >= 'a' && *p <= 'z' ? *p - 'a' + 'A' : *p);
    return n;
}

uint16_t ImageMachine(const std::string& path)
{
    // The DOS header's pointer, then the PE signature and the machine.
    FILE* f = OpenFile(path, "rb");
    if (!f)
        return 0;
    Bytes head(0x40);
    uint16_t machine = 0;
    if (fread(head.data(), 1, head.size(), f) == head.size() && head[0] == 'M' && head[1] == 'Z' &&
        fseek(f, long(Get32(head, 0x3C)), SEEK_SET) == 0) {
        Bytes pe(6);
        if (Get32(head, 0x3C) < (1u << 24) && fread(pe.data(), 1, pe.size(), f) == pe.size() &&
            memcmp(pe.data(), "PE\0\0", 4) == 0)
            machine = Get16(pe, 4);
    }
    fclose(f);
    return machine;
}

bool ReadPeImage(const Bytes& file, PeImage* image, std::string* error)
{
    *image = PeImage();
    image->file = file;
    if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z') {
        *error = "is not a Windows program";
        return false;
    }
    image->peOffset = Get32(file, 0x3C);
    if (size_t(image->peOffset) + 24 > file.size() || memcmp(&file[image->peOffset], "PE\0\0", 4) != 0) {
        *error = "is not a Windows program";
        return false;
    }
    image->sectionCount = Get16(file, image->peOffset + 6);
    uint16_t optionalSize = Get16(file, image->peOffset + 20);
    image->optionalOffset = image->peOffset + 24;
    image->sectionTable = image->optionalOffset + optionalSize;
    if (size_t(image->sectionTable) + size_t(image->sectionCount) * kSectionHeaderSize > file.size() ||
        optionalSize < 96) {
        *error = "has a damaged header";
        return false;
    }
    uint16_t magic = Get16(file, image->optionalOffset);
    image->wide = magic == 0x20B;
    if (magic != 0x10B && !image->wide) {
        *error = "has a damaged header";
        return false;
    }
    // Windows loads only powers of two from 512 bytes to 64 KB in the file,
    // and sections aligned at least as far in memory; anything else would
    // also have the new resource section padded out to gigabytes.
    uint32_t fileAlignment = Get32(file, image->optionalOffset + 36);
    uint32_t sectionAlignment = Get32(file, image->optionalOffset + 32);
    if ((fileAlignment & (fileAlignment - 1)) != 0 || fileAlignment < 512 || fileAlignment > 0x10000 ||
        (sectionAlignment & (sectionAlignment - 1)) != 0 || sectionAlignment < fileAlignment) {
        *error = "has a damaged section alignment";
        return false;
    }
    if (DirectoryCount(*image) <= kCertificateDirectory ||
        DirectoryOffset(*image, kCertificateDirectory) + 8 > image->sectionTable) {
        *error = "has no resource directory";
        return false;
    }
    uint32_t resourceRva = Get32(file, DirectoryOffset(*image, kResourceDirectory));
    uint32_t end = 0;
    for (int i = 0; i < image->sectionCount; ++i) {
        Section s = SectionAt(*image, i);
        if (size_t(s.rawPointer) + s.rawSize > file.size()) {
            *error = "is cut short";
            return false;
        }
        end = std::max(end, s.rawPointer + s.rawSize);
        if (s.virtualAddress == resourceRva && resourceRva != 0)
            image->resourceSection = i;
    }
    if (image->resourceSection < 0) {
        *error = "has no resource section of its own";
        return false;
    }
    // After the resources may come only sections that can move: the base
    // relocations.
    for (int i = image->resourceSection + 1; i < image->sectionCount; ++i)
        if (SectionAt(*image, i).name != ".reloc") {
            *error = "has a section " + SectionAt(*image, i).name + " after its resources, which mksetup cannot move";
            return false;
        }
    uint32_t certificate = Get32(file, DirectoryOffset(*image, kCertificateDirectory));
    uint32_t certificateSize = Get32(file, DirectoryOffset(*image, kCertificateDirectory) + 4);
    image->hadSignature = certificateSize != 0;
    // The certificate table, if any, is the only thing allowed after the
    // sections: anything else would be lost in the new image.
    bool tidyEnd = image->hadSignature ? certificate >= end && uint64_t(certificate) + certificateSize == file.size()
                                       : end == file.size();
    if (!tidyEnd) {
        *error = "carries data after its sections that mksetup would lose";
        return false;
    }
    Section rsrc = SectionAt(*image, image->resourceSection);
    TreeReader reader{file, rsrc.rawPointer, std::min(rsrc.rawSize, rsrc.virtualSize), rsrc.virtualAddress,
                      &image->resources, error};
    if (!reader.Directory(0, 0, Resource())) {
        *error = "has a damaged resource tree";
        return false;
    }
    return true;
}

bool PeImageFits(const PeImage& image, std::string* error)
{
    Section rsrc = SectionAt(image, image.resourceSection);
    uint64_t dataBytes = 0;
    for (const Resource& r : image.resources)
        dataBytes += r.Size();
    // Counted wide first, so that the layout's 32-bit offsets cannot wrap.
    if (dataBytes > 0x7FFFFFFF ||
        uint64_t(rsrc.virtualAddress) + LayOutResourceSection(image.resources, rsrc.virtualAddress).size +
                (64u << 20) > 0x7FFFFFFF) {
        *error = "would grow past the 2 GB a Windows program may map";
        return false;
    }
    return true;
}

bool WritePeImage(const PeImage& image, OutputFile* out, std::string* error)
{
    uint32_t fileAlignment = Get32(image.file, image.optionalOffset + 36);
    uint32_t sectionAlignment = Get32(image.file, image.optionalOffset + 32);
    if (fileAlignment == 0 || sectionAlignment == 0) {
        *error = "has no section alignment";
        return false;
    }
    Section rsrc = SectionAt(image, image.resourceSection);
    if (!PeImageFits(image, error))
        return false;
    ResourceLayout layout = LayOutResourceSection(image.resources, rsrc.virtualAddress);
    uint32_t rawSize = AlignUp(layout.size, fileAlignment);

    // The headers and the sections before the resources, with the fields
    // that the new resource section changes; everything after them is
    // streamed out.
    Bytes head(image.file.begin(), image.file.begin() + rsrc.rawPointer);
    size_t header = image.sectionTable + size_t(image.resourceSection) * kSectionHeaderSize;
    Set32(&head, header + 8, layout.size);
    Set32(&head, header + 16, rawSize);
    uint32_t nextAddress = AlignUp(rsrc.virtualAddress + layout.size, sectionAlignment);
    uint32_t lastEnd = nextAddress;
    uint32_t filePointer = rsrc.rawPointer + rawSize;
    for (int i = image.resourceSection + 1; i < image.sectionCount; ++i) {
        Section s = SectionAt(image, i);
        size_t at = image.sectionTable + size_t(i) * kSectionHeaderSize;
        // A data directory that lay in the moved section moves with it.
        for (uint32_t e = 0; e < DirectoryCount(image) && DirectoryOffset(image, e) + 8 <= image.sectionTable; ++e) {
            uint32_t rva = Get32(head, DirectoryOffset(image, e));
            if (e != kCertificateDirectory && rva >= s.virtualAddress && rva < s.virtualAddress + std::max(s.virtualSize, s.rawSize))
                Set32(&head, DirectoryOffset(image, e), rva - s.virtualAddress + nextAddress);
        }
        Set32(&head, at + 12, nextAddress);
        Set32(&head, at + 20, filePointer);
        filePointer += s.rawSize;
        nextAddress = AlignUp(nextAddress + std::max(s.virtualSize, s.rawSize), sectionAlignment);
        lastEnd = nextAddress;
    }
    Set32(&head, DirectoryOffset(image, kResourceDirectory) + 4, layout.size);
    Set32(&head, DirectoryOffset(image, kCertificateDirectory), 0);
    Set32(&head, DirectoryOffset(image, kCertificateDirectory) + 4, 0);
    Set32(&head, image.optionalOffset + 56, lastEnd);  // SizeOfImage
    uint32_t initialised = Get32(head, image.optionalOffset + 8);
    Set32(&head, image.optionalOffset + 8, initialised - rsrc.rawSize + rawSize);
    // Zero while the sum is taken; written last.
    Set32(&head, image.optionalOffset + 64, 0);

    ImageWriter writer{out, Checksum()};
    bool ok = writer.Put(head) && writer.Put(layout.tree);
    uint64_t at = layout.tree.size();
    for (const auto& placed : layout.data) {
        if (!ok)
            break;
        const Resource& r = *placed.first;
        ok = writer.Zeros(size_t(placed.second - at));
        if (ok)
            ok = r.file.empty() ? writer.Put(r.data) : writer.CopyFile(r.file, r.fileSize, error);
        at = placed.second + uint64_t(r.Size());
    }
    if (ok)
        ok = writer.Zeros(size_t(rawSize - at));
    for (int i = image.resourceSection + 1; ok && i < image.sectionCount; ++i) {
        Section s = SectionAt(image, i);
        ok = writer.Put(image.file.data() + s.rawPointer, s.rawSize);
    }
    uint8_t checksum[4];
    uint32_t value = writer.checksum.Result();
    for (int i = 0; i < 4; ++i)
        checksum[i] = uint8_t(value >> (8 * i));
    if (ok)
        ok = OutputPatch(out, image.optionalOffset + 64, checksum, 4);
    if (!ok && error->empty())
        *error = "cannot be written";
    return ok;
}

Resource* FindImageResource(PeImage* image, const ResourceName& type, const ResourceName& name, uint16_t language)
{
    for (Resource& r : image->resources)
        if (r.type == type && r.name == name && (language == kAnyLanguage || r.language == language))
            return &r;
    return nullptr;
}

void SetResource(PeImage* image, const ResourceName& type, const ResourceName& name, Bytes data, uint16_t language)
{
    Resource* r = FindImageResource(image, type, name, language);
    if (!r) {
        image->resources.push_back(Resource());
        r = &image->resources.back();
        r->type = type;
        r->name = name;
        r->language = language;
    }
    r->data = std::move(data);
    r->file.clear();
    r->fileSize = 0;
}

void RemoveResource(PeImage* image, const ResourceName& type, const ResourceName& name, uint16_t language)
{
    Resource* r = FindImageResource(image, type, name, language);
    if (r)
        image->resources.erase(image->resources.begin() + (r - image->resources.data()));
}

void SetResourceFile(PeImage* image, const ResourceName& type, const ResourceName& name, const std::string& path,
                     uint32_t size)
{
    SetResource(image, type, name, Bytes());
    Resource* r = FindImageResource(image, type, name);
    r->file = path;
    r->fileSize = size;
}

}  // namespace mksetup
