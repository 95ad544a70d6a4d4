// mksetup: a product description and the folders it names become setup.exe.
//
//   mksetup DESCRIPTION -o SETUP.EXE   check, pack and write the setup program
//   mksetup DESCRIPTION --check        check only; nothing is written
//   mksetup --keys                     the description's sections and keys
//
// Options: --stub FILE (the payload-free setup program; default
// setup-nopayload.exe beside mksetup), --set Section.Key=VALUE (a value
// given on the command line, paths taken from the current folder),
// --payload-dir DIR (also write the packed cabinets and containers there),
// --strings-rc FILE (the product's string table as a resource script, for
// building the setup program from source), --depfile FILE (every file the
// output was made from, as make and Ninja read them), --quiet (no progress
// and no summary, only mistakes and failures).
//
// Exit codes: 0 done; 1 a file could not be read or written while packing;
// 2 mistakes in the description or the command line, one line each on the
// standard error, and nothing written.
#include "tools/mksetup/description_keys.h"
#include "tools/mksetup/mksetup.h"

#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#else
#include <unistd.h>
#endif

using namespace mksetup;

namespace {

const char kStubName[] = "setup-nopayload.exe";

struct Options {
    std::string description, output, stub, payloadDir, stringsRc, depfile;
    std::vector<std::string> settings;
    bool check = false;
    bool quiet = false;
};

void PrintUsage()
{
    fputs("usage: mksetup DESCRIPTION -o SETUP.EXE [--stub FILE] [--set Section.Key=VALUE]...\n"
          "               [--payload-dir DIR] [--strings-rc FILE] [--depfile FILE] [--quiet]\n"
          "       mksetup DESCRIPTION --check [--stub FILE] [--set Section.Key=VALUE]...\n"
          "       mksetup --keys\n",
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
        } else if (a == "--quiet") {
            o->quiet = true;
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
                     "#pragma code_page(65001)\n";
    std::map<uint16_t, std::string> tables;
    for (const auto& s : strings) {
        if (s.second.empty())
            continue;
        StringInLanguage at = LanguageOfString(s.first);
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
        tables[at.language] += "    " + std::to_string(at.id) + " \"" + text + "\"\n";
    }
    // LANGUAGE takes the primary and sub-language apart.
    for (const auto& table : tables)
        rc += "\nLANGUAGE " + std::to_string(table.first & 0x3FF) + ", " + std::to_string(table.first >> 10) +
              "\nSTRINGTABLE\nBEGIN\n" + table.second + "END\n";
    return rc;
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
    inputs.push_back(d.english.path);
    for (const LanguageFile& l : d.languages)
        inputs.insert(inputs.end(), {l.path, l.licence, l.information});
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
    // The programs are the maker's: their manifests name maker and product.
    auto text = [&](int id) {
        auto found = d.strings.find(id);
        return found == d.strings.end() ? std::string() : found->second;
    };
    std::string maker = text(5009).empty() ? text(5007) : text(5009), product = text(5004);
    SetAssemblyName(stub, AssemblyName(maker, product, "Setup"));
    if (!ReadWholeFile(d.uninstaller, uninstaller)) {
        problems->Add(where, "the uninstaller " + d.uninstaller + " cannot be read", "name a readable program");
        return;
    }
    PeImage program;
    std::string error;
    bool read = ReadPeImage(*uninstaller, &program, &error);
    ExecutionLevelResult result = read ? SetExecutionLevel(&program, level) : LEVEL_NOT_ASKED;
    bool renamed = read && SetAssemblyName(&program, AssemblyName(maker, product, "Uninstall"));
    // The uninstaller speaks the setup's languages.
    bool translated = read && CarryLanguages(&program, UNINSTALLER_TEXTS, d, d.uninstaller, problems);
    Bytes rewritten;
    OutputFile written;
    OutputCreateInMemory(&written, &rewritten);
    bool changed = result == LEVEL_CHANGED || renamed || translated;
    if (changed && !WritePeImage(program, &written, &error))
        problems->Add(where, "the uninstaller " + d.uninstaller + " " + error, "use the kit's UnInstall.exe");
    else if (changed)
        uninstaller->swap(rewritten);
    else if (result == LEVEL_NOT_ASKED && d.perUser)
        problems->Add(where, "the uninstaller " + d.uninstaller +
                                 " has no manifest that asks for an execution level, which a per-user product needs",
                      "use the kit's UnInstall.exe, or give the program a manifest with a requestedExecutionLevel");
}

// Packs the product, writes the setup program (and what --payload-dir and
// --depfile ask for) from a checked description and stub, with the
// uninstaller's bytes as AskForTheScopesRights left them, and says what it
// packed.
int PackAndReport(const Options& o, const Description& d, PeImage* stub, const Bytes& uninstaller)
{
    PackRequest request;
    request.output = o.output;
    request.payloadDir = o.payloadDir;
    request.uninstaller = &uninstaller;
    request.progress = ProgressModeOfOutput(o.quiet);
    PackFigures packed;
    int status = Pack(request, d, stub, &packed);
    if (status != EXIT_DONE)
        return status;
    if (WriteDepfile(o, d, true) != EXIT_DONE)
        return EXIT_FAILED;
    if (!o.quiet)
        printf("%s: MAIN %s (%zu files, %s installed), ARCHIVIST %s (%zu files), UNINSTALL %zu bytes, "
               "40COMUPD %zu bytes; required space %s bytes; %zu bytes%s\n",
               o.output.c_str(), Megabytes(packed.payload[0]).c_str(), d.main.files.size(),
               Megabytes(d.main.bytes).c_str(), Megabytes(packed.payload[1]).c_str(), d.archivist.files.size(),
               size_t(packed.payload[2]), size_t(packed.payload[3]), d.strings.at(5000).c_str(), size_t(packed.setup),
               stub->hadSignature ? " (the stub's signature left out)" : "");
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
        else if (CarryLanguages(&image, SETUP_TEXTS, d, o.stub, &problems) || true)
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
        if (!o.quiet)
            printf("%s: no mistakes\n", o.description.c_str());
        return EXIT_DONE;
    }
    if (o.output.empty())
        return WriteDepfile(o, d, false);
    return PackAndReport(o, d, &image, uninstaller);
}

}  // namespace

int main(int argc, char** argv)
{
#ifdef _WIN32
    // The arguments as typed, in UTF-8 like every path inside, rather than
    // in the system's code page; the messages go out in UTF-8 too.
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> texts;
    for (int i = 0; wide && i < count; ++i)
        texts.push_back(Utf8FromUtf16(std::u16string(reinterpret_cast<const char16_t*>(wide[i]))));
    if (wide)
        LocalFree(wide);
    std::vector<char*> pointers;
    for (std::string& t : texts)
        pointers.push_back(&t[0]);
    pointers.push_back(nullptr);
    if (!texts.empty()) {
        argc = count;
        argv = pointers.data();
    }
    SetConsoleOutputCP(CP_UTF8);
#else
    // Letters of every script in their capital forms (the check of names
    // that differ only in letter case); nothing else of the locale.
    setlocale(LC_CTYPE, "C.UTF-8");
#endif
    if (argc == 2 && std::string(argv[1]) == "--keys") {
        fputs(KeyTableText().c_str(), stdout);
        return EXIT_DONE;
    }
    Options options;
    if (!ParseArguments(argc, argv, &options))
        return EXIT_MISTAKES;
    return Run(options);
}
