// Packing: the product's folders become cabinets and the setup program is
// written around them, all as a stream. Each file is read once, its blocks
// compressed on the cabinet writer's worker threads and the cabinet written
// to a temporary file beside the output as it goes; the setup program is
// then written with the cabinets copied into its resources. Memory stays
// at a few megabytes however large the product; the temporary files go on
// every path, and only a finished setup program takes the output's name.
#include "tools/mksetup/mksetup.h"

#include <stdlib.h>

#include <thread>

#include "cab/cab_writer.h"
#include "cab/container_format.h"

namespace mksetup {

namespace {

// zlib's default level (the writer shortens its search for matches).
const int kCompressionLevel = 6;
// Enough workers for any machine mksetup runs on; each holds two batches.
const unsigned kMostThreads = 8;

// Serves the folder's files to the cabinet writer, one after the other,
// and counts the bytes for the progress.
struct FileStream {
    const std::vector<ProductFile>* files;
    Progress* progress;
    size_t next = 0;
    FILE* current = nullptr;
    uint64_t left = 0;  // of the current file
    std::string failed;
};

bool ReadFolderBytes(void* user, uint8_t* buffer, uint32_t count)
{
    FileStream* s = static_cast<FileStream*>(user);
    ProgressAdd(s->progress, count);
    while (count > 0) {
        if (!s->current) {
            if (s->next >= s->files->size())
                return false;
            const ProductFile& f = (*s->files)[s->next++];
            s->current = OpenFile(f.path, "rb");
            s->left = f.size;
            if (!s->current) {
                s->failed = f.path;
                return false;
            }
        }
        size_t want = s->left < count ? size_t(s->left) : count;
        size_t got = fread(buffer, 1, want, s->current);
        // A file that shrank since it was listed cannot fill its entry.
        if (got != want) {
            s->failed = (*s->files)[s->next - 1].path;
            return false;
        }
        buffer += got;
        count -= uint32_t(got);
        s->left -= got;
        if (s->left == 0) {
            fclose(s->current);
            s->current = nullptr;
        }
    }
    return true;
}

// A cabinet's file with the most bytes it may take: packing stops as soon
// as the cabinet passes it, not after the last file.
struct BudgetedOutput {
    OutputFile* out;
    uint64_t budget;
    bool over;
};

bool WriteToOutput(void* user, const uint8_t* data, uint32_t count)
{
    BudgetedOutput* b = static_cast<BudgetedOutput*>(user);
    if (b->out->size + count > b->budget) {
        b->over = true;
        return false;
    }
    return OutputWrite(b->out, data, count);
}

bool PatchOutput(void* user, uint32_t offset, const uint8_t* data, uint32_t count)
{
    return OutputPatch(static_cast<BudgetedOutput*>(user)->out, offset, data, count);
}

// Packs a folder into a cabinet at path, of budget bytes at most; its size
// goes to *size. Over the budget: false with *over set.
bool PackFolder(const ProductFolder& folder, const std::string& path, Progress* progress, uint64_t budget,
                uint32_t* size, bool* over, std::string* error)
{
    std::vector<CabWriterEntry> entries;
    for (const ProductFile& f : folder.files)
        entries.push_back({f.name, uint32_t(f.size), f.date, f.time, f.attributes});
    OutputFile out;
    if (!OutputCreate(&out, path)) {
        *error = "cannot write " + path;
        return false;
    }
    FileStream stream;
    stream.files = &folder.files;
    stream.progress = progress;
    unsigned threads = std::thread::hardware_concurrency();
    BudgetedOutput budgeted = {&out, budget, false};
    CabWriterSink sink = {&budgeted, WriteToOutput, PatchOutput};
    CabWriterResult result = WriteCabinetTo(entries, ReadFolderBytes, &stream, kCompressionLevel,
                                            threads == 0 ? 1 : threads > kMostThreads ? kMostThreads : threads, sink,
                                            size);
    if (stream.current)
        fclose(stream.current);
    bool closed = OutputClose(&out);
    if (result != CAB_WRITER_OK || !closed) {
        OutputDiscard(&out);
        *over = budgeted.over;
        if (!stream.failed.empty())
            *error = stream.failed + " could not be read";
        else if (result == CAB_WRITER_WRITE_FAILED || !closed)
            *error = "cannot write " + path;
        else
            *error = CabWriterResultText(result);
        return false;
    }
    return true;
}

bool PackContainer(const Bytes& data, Bytes* container)
{
    if (data.size() > 0xFFFFFF00u)
        return false;
    uint32_t size = 0;
    unsigned char* packed = EncodeContainer(data.data(), uint32_t(data.size()), &size);
    if (!packed)
        return false;
    container->assign(packed, packed + size);
    free(packed);
    return true;
}

// The licence or information text of a language as an RTF document.
bool TextResource(const std::string& path, Bytes* rtf)
{
    Bytes data;
    if (!ReadWholeFile(path, &data))
        return false;
    if (IsRtf(data)) {
        *rtf = data;
    } else {
        std::string converted = RtfFromPlainText(std::string(data.begin(), data.end()));
        rtf->assign(converted.begin(), converted.end());
    }
    return true;
}

const char* const kPayloadNames[] = {"MAIN", "ARCHIVIST", "UNINSTALL", "40COMUPD"};
const char* const kPayloadFiles[] = {"MAIN.cab", "ARCHIVIST.cab", "UNINSTALL.cvzb", "40COMUPD.cvzb"};

ResourceName PayloadType(int i) { return ResourceByName(i < 2 ? "CAB" : "CVZB"); }

int PackThrough(const PackRequest& request, const Description& d, PeImage* image, const std::string* cabinets,
                std::vector<std::string>* folders, PackFigures* figures)
{
    // The progress total adds the staged cabinets to the extracted bytes,
    // so a product that does not compress reaches the limit at half its
    // size: refused before packing when the product alone passes it, and
    // as soon as its cabinets do.
    const uint64_t kCeiling = 0x7FFFFFFFull;
    uint64_t extracted = d.main.bytes + d.archivist.bytes;
    auto overTheCeiling = [&](const std::string& cabinetBytes) {
        Problems problems;
        const Value* main = FindValue(d, "Files.Main");
        problems.Add(main ? main->origin : Origin{d.file, 0},
                     "the product (" + Megabytes(extracted) + ") and its cabinets (" + cabinetBytes +
                         ") come to more than the 2048 MB the setup's progress counts; a product that does not "
                         "compress can be 1023 MB at most",
                     "make the folders smaller");
        fprintf(stderr, "%s\n", problems.lines[0].c_str());
        return EXIT_MISTAKES;
    };
    if (extracted > kCeiling)
        return overTheCeiling("not packed");
    std::string error;
    Progress progress;
    ProgressBegin(&progress, request.progress, extracted);
    uint32_t cabinetSizes[2] = {0, 0};
    bool over = false;
    bool packed = PackFolder(d.main, cabinets[0], &progress, kCeiling - extracted, &cabinetSizes[0], &over, &error) &&
                  PackFolder(d.archivist, cabinets[1], &progress, kCeiling - extracted - cabinetSizes[0],
                             &cabinetSizes[1], &over, &error);
    ProgressEnd(&progress);
    if (over)
        return overTheCeiling("more than " + Megabytes(kCeiling - extracted) + " before they were done");
    if (!packed)
        return Fail(error);
    Bytes containers[2];
    if (!request.uninstaller || !PackContainer(*request.uninstaller, &containers[0]))
        return Fail("cannot pack " + d.uninstaller);
    Bytes comctlUpdate;
    if (!ReadWholeFile(d.comctlUpdate, &comctlUpdate) || !PackContainer(comctlUpdate, &containers[1]))
        return Fail("cannot read or pack " + d.comctlUpdate);

    SetStrings(image, d.strings);
    for (int l = 0; l < LANGUAGE_COUNT; ++l) {
        uint16_t language = LanguageId(static_cast<Language>(l));
        if (!CarriesLanguage(image, language))
            continue;
        Bytes licence, information;
        if (!TextResource(d.licence[l], &licence))
            return Fail("cannot read " + d.licence[l]);
        SetResource(image, ResourceByName("RTF"), ResourceByName("AGREEMENT"), licence, language);
        // Without information the stub's own goes: the wizard then has no
        // information page.
        if (d.information[l].empty()) {
            RemoveResource(image, ResourceByName("RTF"), ResourceByName("INFORMATION"), language);
            continue;
        }
        if (!TextResource(d.information[l], &information))
            return Fail("cannot read " + d.information[l]);
        SetResource(image, ResourceByName("RTF"), ResourceByName("INFORMATION"), information, language);
    }
    // A language of a file with its own licence or information; without,
    // the setup shows the English ones.
    for (const LanguageFile& file : d.languages) {
        for (const std::string* path : {&file.licence, &file.information}) {
            Bytes text;
            if (path->empty())
                continue;
            if (!TextResource(*path, &text))
                return Fail("cannot read " + *path);
            SetResource(image, ResourceByName("RTF"),
                        ResourceByName(path == &file.licence ? "AGREEMENT" : "INFORMATION"), text, file.id);
        }
    }
    for (const auto& art : d.art)
        SetArt(image, art.first, art.second);
    for (int i = 0; i < 4; ++i) {
        figures->payload[i] = i < 2 ? cabinetSizes[i] : containers[i - 2].size();
        if (i < 2)
            SetResourceFile(image, PayloadType(i), ResourceByName(kPayloadNames[i]), cabinets[i], cabinetSizes[i]);
        else
            SetResource(image, PayloadType(i), ResourceByName(kPayloadNames[i]), std::move(containers[i - 2]));
    }

    if (!PeImageFits(*image, &error)) {
        fprintf(stderr, "%s: the setup program %s; fix: make the folders smaller\n", d.file.c_str(), error.c_str());
        return EXIT_MISTAKES;
    }
    OutputFile setup;
    bool written = OutputCreate(&setup, cabinets[2]) && WritePeImage(*image, &setup, &error);
    if (!OutputClose(&setup) || !written) {
        OutputDiscard(&setup);
        return Fail("cannot write " + request.output + (error.empty() ? "" : ": " + error));
    }
    figures->setup = setup.size;
    if (!request.payloadDir.empty()) {
        if (!MakeFolder(request.payloadDir, folders))
            return Fail("cannot create the folder " + request.payloadDir);
        for (int i = 0; i < 4; ++i) {
            std::string target = JoinPath(request.payloadDir, kPayloadFiles[i]);
            bool ok = i < 2 ? ReplaceWithFile(cabinets[i], target)
                            : WriteReplacing(target, FindImageResource(image, PayloadType(i),
                                                                       ResourceByName(kPayloadNames[i]))->data);
            if (!ok)
                return Fail("cannot write " + target);
        }
    }
    if (!ReplaceWithFile(cabinets[2], request.output))
        return Fail("cannot write " + request.output);
    return EXIT_DONE;
}

}  // namespace

int Fail(const std::string& message)
{
    fprintf(stderr, "mksetup: %s\n", message.c_str());
    return EXIT_FAILED;
}

int Pack(const PackRequest& request, const Description& d, PeImage* stub, PackFigures* figures)
{
    // The cabinets and the setup program are made under temporary names
    // beside the output; whatever is left of them goes, however it ended,
    // and so do the folders made for them when the run failed.
    const std::string made[3] = {request.output + ".MAIN.part", request.output + ".ARCHIVIST.part",
                                 request.output + ".part"};
    std::vector<std::string> folders;
    if (!MakeFolder(FolderOf(request.output), &folders))
        return Fail("cannot create the folder " + FolderOf(request.output));
    int status = PackThrough(request, d, stub, made, &folders, figures);
    for (const std::string& path : made)
        RemoveFile(path);
    if (status != EXIT_DONE)
        RemoveEmptyFolders(folders);
    return status;
}

}  // namespace mksetup
