// mksetup: a product description and the folders it names become setup.exe.
//
//   mksetup DESCRIPTION -o SETUP.EXE   check, pack and write the setup program
//   mksetup DESCRIPTION --check        check only; nothing is written
//
// Options: --stub FILE (the payload-free setup program; default
// setup-nopayload.exe beside mksetup), --set Section.Key=VALUE (a value
// given on the command line, paths taken from the current folder),
// --payload-dir DIR (also write the packed cabinets and containers there),
// --strings-rc FILE (the product's string table as a resource script, for
// building the setup program from source), --depfile FILE (every file the
// output was made from, as make and Ninja read them).
//
// Exit codes: 0 done; 1 a file could not be read or written while packing;
// 2 mistakes in the description or the command line, one line each on the
// standard error, and nothing written.
#include "tools/mksetup/mksetup.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <thread>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "cab/cab_writer.h"
#include "cab/container_format.h"

using namespace mksetup;

namespace {

enum { EXIT_DONE = 0, EXIT_FAILED = 1, EXIT_MISTAKES = 2 };

const char kStubName[] = "setup-nopayload.exe";
// zlib's default level (the writer shortens its search for matches).
const int kCompressionLevel = 6;

struct Options {
    std::string description, output, stub, payloadDir, stringsRc, depfile;
    std::vector<std::string> settings;
    bool check = false;
};

void PrintUsage()
{
    fputs("usage: mksetup DESCRIPTION -o SETUP.EXE [--stub FILE] [--set Section.Key=VALUE]...\n"
          "               [--payload-dir DIR] [--strings-rc FILE] [--depfile FILE]\n"
          "       mksetup DESCRIPTION --check [--stub FILE] [--set Section.Key=VALUE]...\n",
          stderr);
}

// The folder mksetup itself was started from, where the payload-free setup
// program and its companions lie.
std::string OwnFolder(const char* argv0)
{
#ifdef _WIN32
    if (_pgmptr && *_pgmptr)
        return FolderOf(_pgmptr);
#else
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n > 0) {
        path[n] = '\0';
        return FolderOf(path);
    }
#endif
    return FolderOf(argv0);
}

bool ParseArguments(int argc, char** argv, Options* o)
{
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == "--check") {
            o->check = true;
        } else if ((a == "-o" || a == "--stub" || a == "--set" || a == "--payload-dir" || a == "--strings-rc" ||
                    a == "--depfile") &&
                   hasValue) {
            std::string v = argv[++i];
            if (a == "-o")
                o->output = v;
            else if (a == "--stub")
                o->stub = v;
            else if (a == "--set")
                o->settings.push_back(v);
            else if (a == "--payload-dir")
                o->payloadDir = v;
            else if (a == "--depfile")
                o->depfile = v;
            else
                o->stringsRc = v;
        } else if (!a.empty() && a[0] != '-' && o->description.empty()) {
            o->description = a;
        } else {
            fprintf(stderr, "mksetup: unexpected argument \"%s\"\n", a.c_str());
            return false;
        }
    }
    if (o->description.empty() || (o->output.empty() && !o->check && o->stringsRc.empty()) ||
        (o->check && !o->output.empty())) {
        PrintUsage();
        return false;
    }
    if (o->stub.empty())
        o->stub = JoinPath(OwnFolder(argv[0]), kStubName);
    return true;
}

// The string table as windres reads it (UTF-8 with code page 65001).
std::string StringsResourceScript(const StringTable& strings)
{
    std::string rc = "// The product's strings, written by mksetup from its description.\n"
                     "#pragma code_page(65001)\n\nSTRINGTABLE\nBEGIN\n";
    for (const auto& s : strings) {
        if (s.second.empty())
            continue;
        std::string text;
        for (char c : s.second) {
            if (c == '"')
                text += "\"\"";
            else if (c == '\\')
                text += "\\\\";
            else if (c == '\n')
                text += "\\n";
            else
                text += c;
        }
        rc += "    " + std::to_string(s.first) + " \"" + text + "\"\n";
    }
    return rc + "END\n";
}

// Serves the folder's files to the cabinet writer, one after the other.
struct FileStream {
    const std::vector<ProductFile>* files;
    size_t next = 0;
    FILE* current = nullptr;
    uint64_t left = 0;  // of the current file
    std::string failed;
};

bool ReadFolderBytes(void* user, uint8_t* buffer, uint32_t count)
{
    FileStream* s = static_cast<FileStream*>(user);
    while (count > 0) {
        if (!s->current) {
            if (s->next >= s->files->size())
                return false;
            const ProductFile& f = (*s->files)[s->next++];
            s->current = fopen(f.path.c_str(), "rb");
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

bool PackFolder(const ProductFolder& folder, Bytes* cabinet, std::string* error)
{
    std::vector<CabWriterEntry> entries;
    for (const ProductFile& f : folder.files)
        entries.push_back({f.name, uint32_t(f.size), f.date, f.time, f.attributes});
    FileStream stream;
    stream.files = &folder.files;
    unsigned threads = std::thread::hardware_concurrency();
    CabWriterResult result = WriteCabinet(entries, ReadFolderBytes, &stream, kCompressionLevel,
                                          threads == 0 ? 1 : threads > 8 ? 8 : threads, cabinet);
    if (stream.current)
        fclose(stream.current);
    if (result != CAB_WRITER_OK) {
        *error = stream.failed.empty() ? CabWriterResultText(result) : stream.failed + " could not be read";
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

std::string Megabytes(uint64_t bytes)
{
    char text[32];
    snprintf(text, sizeof text, "%.2f MB", double(bytes) / 1048576.0);
    return text;
}

std::string DepfilePath(const std::string& path)
{
    std::string out;
    for (char c : path) {
        if (c == ' ' || c == '#')
            out += '\\';
        if (c == '$')
            out += '$';
        out += c;
    }
    return out;
}

// The inputs of target, one a line, as make and Ninja read a depfile.
std::string Depfile(const std::string& target, const Options& o, const Description& d, bool stubRead)
{
    std::vector<std::string> inputs = {o.description, d.uninstaller, d.comctlUpdate};
    if (stubRead)
        inputs.push_back(o.stub);
    for (const ProductFolder* folder : {&d.main, &d.archivist}) {
        inputs.insert(inputs.end(), folder->folders.begin(), folder->folders.end());
        for (const ProductFile& f : folder->files)
            inputs.push_back(f.path);
    }
    for (int l = 0; l < LANGUAGE_COUNT; ++l) {
        inputs.push_back(d.licence[l]);
        inputs.push_back(d.information[l]);
    }
    inputs.insert(inputs.end(), d.artFiles.begin(), d.artFiles.end());
    std::string text = DepfilePath(target) + ":";
    std::vector<std::string> written;
    for (const std::string& input : inputs) {
        if (input.empty() || std::find(written.begin(), written.end(), input) != written.end())
            continue;
        written.push_back(input);
        text += " \\\n  " + DepfilePath(input);
    }
    return text + "\n";
}

int Fail(const std::string& message)
{
    fprintf(stderr, "mksetup: %s\n", message.c_str());
    return EXIT_FAILED;
}

// Writes through a temporary file beside the target, so that a failed
// write never leaves half a setup program under its name. A file that
// already holds the same bytes is left alone, so that a build does not
// redo what depends on it.
bool WriteReplacing(const std::string& path, const Bytes& data)
{
    Bytes present;
    if (IsFile(path) && FileSize(path) == data.size() && ReadWholeFile(path, &present) && present == data)
        return true;
    std::string temporary = path + ".part";
    if (!WriteWholeFile(temporary, data))
        return false;
    remove(path.c_str());
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        remove(temporary.c_str());
        return false;
    }
    return true;
}

int WriteDepfile(const Options& o, const Description& d, bool stubRead)
{
    if (o.depfile.empty())
        return EXIT_DONE;
    std::string text = Depfile(o.output.empty() ? o.stringsRc : o.output, o, d, stubRead);
    if (!WriteReplacing(o.depfile, Bytes(text.begin(), text.end())))
        return Fail("cannot write " + o.depfile);
    return EXIT_DONE;
}

// The rights the setup program and the uninstaller it carries ask for at
// their start: administrator rights for a product of every user, none for
// a per-user one, whose setup a standard user starts without a prompt.
// The uninstaller (its bytes, as it will be packed) is read here; one
// without a manifest is packed as it is for every user's product, but a
// per-user product cannot carry it: Windows would ask for administrator
// rights for any program named like an uninstaller.
void AskForTheScopesRights(const Options& o, const Description& d, PeImage* stub, Bytes* uninstaller,
                           Problems* problems)
{
    const char* level = d.perUser ? "asInvoker" : "requireAdministrator";
    const Value* scope = FindValue(d, "Product.Scope");
    const Value* named = FindValue(d, "Files.Uninstaller");
    Origin scopeOrigin = scope ? scope->origin : Origin{d.file, 0};
    Origin where = named ? named->origin : scopeOrigin;
    if (SetExecutionLevel(stub, level) == LEVEL_NOT_ASKED && d.perUser)
        problems->Add(scopeOrigin, o.stub + " has no manifest that asks for an execution level",
                      "name the payload-free setup program with --stub");
    if (!ReadWholeFile(d.uninstaller, uninstaller)) {
        problems->Add(where, "the uninstaller " + d.uninstaller + " cannot be read", "name a readable program");
        return;
    }
    PeImage program;
    std::string error;
    ExecutionLevelResult result = ReadPeImage(*uninstaller, &program, &error) ? SetExecutionLevel(&program, level)
                                                                               : LEVEL_NOT_ASKED;
    if (result == LEVEL_CHANGED && !WritePeImage(program, uninstaller, &error))
        problems->Add(where, "the uninstaller " + d.uninstaller + " " + error, "use the kit's UnInstall.exe");
    else if (result == LEVEL_NOT_ASKED && d.perUser)
        problems->Add(where, "the uninstaller " + d.uninstaller +
                                 " has no manifest that asks for an execution level, which a per-user product needs",
                      "use the kit's UnInstall.exe, or give the program a manifest with a requestedExecutionLevel");
}

// Packs the product and writes the setup program (and what --payload-dir
// and --depfile ask for) from a checked description and stub, with the
// uninstaller's bytes as AskForTheScopesRights left them.
int Pack(const Options& o, const Description& d, PeImage* stub, const Bytes& uninstaller)
{
    PeImage& image = *stub;
    Bytes mainCab, archivistCab, uninstall, comupd, comupdFile;
    std::string error;
    if (!PackFolder(d.main, &mainCab, &error) || !PackFolder(d.archivist, &archivistCab, &error))
        return Fail(error);
    if (!PackContainer(uninstaller, &uninstall))
        return Fail("cannot pack " + d.uninstaller);
    if (!ReadWholeFile(d.comctlUpdate, &comupdFile) || !PackContainer(comupdFile, &comupd))
        return Fail("cannot read or pack " + d.comctlUpdate);
    uint64_t extracted = d.main.bytes + d.archivist.bytes;
    // The progress total adds the staged cabinets to the extracted bytes.
    if (extracted + mainCab.size() + archivistCab.size() > 0x7FFFFFFFull) {
        fprintf(stderr, "%s: the product is too large for the setup's progress (2 GiB with its cabinets); "
                        "fix: make the folders smaller\n", d.file.c_str());
        return EXIT_MISTAKES;
    }

    SetStrings(&image, d.strings);
    static const char* const kSuffixes[] = {"", "_FR", "_DU"};
    for (int l = 0; l < LANGUAGE_COUNT; ++l) {
        Bytes licence, information;
        if (!TextResource(d.licence[l], &licence))
            return Fail("cannot read " + d.licence[l]);
        if (!TextResource(d.information[l], &information))
            return Fail("cannot read " + d.information[l]);
        SetResource(&image, ResourceByName("RTF"), ResourceByName((std::string("AGREEMENT") + kSuffixes[l]).c_str()),
                    licence);
        SetResource(&image, ResourceByName("RTF"),
                    ResourceByName((std::string("INFORMATION") + kSuffixes[l]).c_str()), information);
    }
    for (const auto& art : d.art)
        SetArt(&image, art.first, art.second);
    const std::pair<const char*, Bytes*> payload[] = {
        {"MAIN", &mainCab}, {"ARCHIVIST", &archivistCab}, {"UNINSTALL", &uninstall}, {"40COMUPD", &comupd}};
    const char* const kPayloadFiles[] = {"MAIN.cab", "ARCHIVIST.cab", "UNINSTALL.cvzb", "40COMUPD.cvzb"};
    size_t packed[4];
    for (int i = 0; i < 4; ++i) {
        packed[i] = payload[i].second->size();
        SetResource(&image, ResourceByName(i < 2 ? "CAB" : "CVZB"), ResourceByName(payload[i].first),
                    std::move(*payload[i].second));
    }

    Bytes setup;
    if (!WritePeImage(image, &setup, &error)) {
        fprintf(stderr, "%s: the setup program %s; fix: make the folders smaller\n", d.file.c_str(), error.c_str());
        return EXIT_MISTAKES;
    }
    if (!o.payloadDir.empty()) {
        if (!MakeFolder(o.payloadDir))
            return Fail("cannot create the folder " + o.payloadDir);
        for (int i = 0; i < 4; ++i) {
            const Resource* piece = FindImageResource(&image, ResourceByName(i < 2 ? "CAB" : "CVZB"),
                                                      ResourceByName(payload[i].first));
            if (!WriteReplacing(JoinPath(o.payloadDir, kPayloadFiles[i]), piece->data))
                return Fail("cannot write " + JoinPath(o.payloadDir, kPayloadFiles[i]));
        }
    }
    if (!WriteReplacing(o.output, setup))
        return Fail("cannot write " + o.output);
    if (WriteDepfile(o, d, true) != EXIT_DONE)
        return EXIT_FAILED;
    printf("%s: MAIN %s (%zu files, %s installed), ARCHIVIST %s (%zu files), UNINSTALL %zu bytes, "
           "40COMUPD %zu bytes; required space %s bytes; %zu bytes%s\n",
           o.output.c_str(), Megabytes(packed[0]).c_str(), d.main.files.size(), Megabytes(d.main.bytes).c_str(),
           Megabytes(packed[1]).c_str(), d.archivist.files.size(), packed[2], packed[3],
           d.strings.at(5000).c_str(), setup.size(), image.hadSignature ? " (the stub's signature left out)" : "");
    return EXIT_DONE;
}

int Run(const Options& o)
{
    Description d;
    Problems problems;
    ReadDescription(o.description, o.settings, &d, &problems);
    if (!problems.Any())
        CheckDescription(FolderOf(o.stub), &d, &problems);

    PeImage image;
    Bytes uninstaller;
    if (!problems.Any() && (o.check || !o.output.empty())) {
        Bytes stub;
        std::string error;
        if (!ReadWholeFile(o.stub, &stub))
            problems.Add(Origin(), "the payload-free setup program " + o.stub + " cannot be read",
                         "put " + std::string(kStubName) + " beside mksetup, or name one with --stub");
        else if (!ReadPeImage(stub, &image, &error))
            problems.Add(Origin(), o.stub + " " + error, "name the payload-free setup program with --stub");
        else if (!FindImageResource(&image, ResourceById(RT_DIALOG_ID), ResourceById(100)) ||
                 GetString(image, 8000).empty())
            problems.Add(Origin(), o.stub + " is not a payload-free setup program (it lacks the wizard's pages)",
                         "name the payload-free setup program with --stub");
        else
            ExpandDialogTemplates(&image, d, &problems);
        if (!problems.Any())
            AskForTheScopesRights(o, d, &image, &uninstaller, &problems);
    }
    if (problems.Any()) {
        for (const std::string& line : problems.lines)
            fprintf(stderr, "%s\n", line.c_str());
        return EXIT_MISTAKES;
    }
    if (!o.stringsRc.empty()) {
        std::string rc = StringsResourceScript(d.strings);
        if (!WriteReplacing(o.stringsRc, Bytes(rc.begin(), rc.end())))
            return Fail("cannot write " + o.stringsRc);
    }
    if (o.check) {
        printf("%s: no mistakes\n", o.description.c_str());
        return EXIT_DONE;
    }
    if (o.output.empty())
        return WriteDepfile(o, d, false);
    return Pack(o, d, &image, uninstaller);
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseArguments(argc, argv, &options))
        return EXIT_MISTAKES;
    return Run(options);
}
