// mksetup, the maker's packaging tool: a product description (an INI file)
// and the folders it names become setup.exe, by writing the payload, the
// product's strings and texts into a copy of the payload-free setup
// program. The parts: the description and its checks, the product's files,
// the files written as they are made, the progress, the packing, the PE
// image and its resources, the resources of the setup program.
// A maker's tool beside the program: it uses the cabinet writer and the
// container format (cab/) and nothing else of the setup's code.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace mksetup {

typedef std::vector<uint8_t> Bytes;

// Little-endian fields of the images mksetup reads (the setup program's PE
// file and its resources); the caller has checked that they lie inside.
inline uint16_t Get16(const Bytes& b, size_t at) { return uint16_t(b[at] | (b[at + 1] << 8)); }
inline uint32_t Get32(const Bytes& b, size_t at) { return uint32_t(Get16(b, at)) | (uint32_t(Get16(b, at + 2)) << 16); }

// ---------------------------------------------------------------------------
// Mistakes. Each is one line: where (file and line of the description, or
// the command line), what is wrong and how to mend it.
struct Origin {
    std::string file;  // the description as named on the command line; empty: the command line
    int line = 0;
};

struct Problems {
    std::vector<std::string> lines;
    void Add(const Origin& where, const std::string& what, const std::string& fix);
    bool Any() const { return !lines.empty(); }
};

// ---------------------------------------------------------------------------
// The product description.
enum Language { ENGLISH = 0, FRENCH = 1, DUTCH = 2, LANGUAGE_COUNT = 3 };
// A description language's Windows language identifier, and the
// description language of an identifier (English for any other).
uint16_t LanguageId(Language language);
Language DescriptionLanguage(uint16_t id);

struct Value {
    std::string text;  // UTF-8
    Origin origin;
    bool given = false;  // written in the description or on the command line
};

// A file of a product folder, as the cabinet will list it.
struct ProductFile {
    std::string name;  // relative, folders separated by '\'
    std::string path;  // where it is read from
    uint64_t size = 0;
    uint16_t date = 0, time = 0, attributes = 0;
};

struct ProductFolder {
    std::string path;  // empty: no folder (an empty cabinet)
    std::vector<ProductFile> files;
    std::vector<std::string> folders;  // the folder and its sub-folders, where read
    uint64_t bytes = 0;
};


// The string table entries the description writes, by resource string ID,
// as the setup program will hold them (UTF-8).
// A language file (languages.cpp): a language's own name and Windows
// identifier, and its texts of the setup program and of the uninstaller.
// [Product] holds mksetup's texts for a product's language keys that a
// description leaves out (HeaderTitle, BrowseTitle, ...).
enum LanguageTexts { SETUP_TEXTS = 0, UNINSTALLER_TEXTS = 1, PRODUCT_TEXTS = 2 };
typedef std::map<int, std::string> StringTable;
struct LanguageFile {
    std::string path, code;  // code: the file's name without ".txt"
    std::string name;        // UTF-8
    uint16_t id = 0;
    std::map<std::string, std::string> texts[3];  // by key: "8000", "D100", "D100.4"; HeaderTitle
    std::map<std::string, int> lines[3];
    // The product in this language: its strings by ID (the description's
    // [<code>] section, else the file's [Product]), the pack-time macros
    // ({Edition} of that section) and its licence and information files.
    StringTable product;
    std::map<std::string, std::string> macros;
    std::string licence, information;
};

struct Description {
    std::string file;       // as named on the command line
    std::string folder;     // its folder, for relative paths
    std::map<std::string, Value> values;           // "Section.Key", sections and keys as the table spells them
    std::vector<Value> removeAlso;                  // files the product creates later
    std::vector<Value> registryValues;              // [Registry] Value lines, as written
    std::vector<Value> pathFolders;                 // [Path] Folder lines, as written
    std::vector<Value> fileTypes;                   // [FileTypes] Type lines, as written
    std::vector<Value> links;                       // [Links] Link lines, as written
    std::vector<Value> tasks;                       // [Tasks] Task lines, as written
    std::vector<Value> languageFiles;               // [Languages] File lines, as written
    std::set<std::string> taskNames;                // their names, in lower case
    ProductFolder main, archivist;
    std::string uninstaller, comctlUpdate;          // resolved paths
    bool perUser = false;                           // [Product] Scope = user
    bool sixtyFourBit = false;                      // [Product] Architecture = x64
    StringTable strings;                            // filled by CheckDescription
    std::string licence[LANGUAGE_COUNT], information[LANGUAGE_COUNT];  // resolved paths
    // Pack-time macro values of each language ({AppName}, {Edition}, ...).
    std::map<std::string, std::string> macros[LANGUAGE_COUNT];
    // The maker's art, read and checked: 0 the icon, else the bitmap's ID.
    std::map<int, Bytes> art;
    std::vector<std::string> artFiles;
    // The languages to carry: all the programs' own and the files', or
    // those codes; the files to add, checked against English's.
    bool carryAll = true;
    std::vector<std::string> carryCodes;  // lower case
    LanguageFile english;
    std::vector<LanguageFile> languages;
};

// Reads the description (UTF-8, optional BOM) and applies the command
// line's "Section.Key=value" settings. Mistakes of form (unknown section or
// key, a line that is not "key = value", a repeated key) go to problems.
bool ReadDescription(const std::string& file, const std::vector<std::string>& settings, Description* d,
                     Problems* problems);
// The same for the description's text as read from file (which names it
// in the problems and gives the folder relative paths start from).
void ReadDescriptionText(const std::string& file, std::string text, const std::vector<std::string>& settings,
                         Description* d, Problems* problems);

// Checks every value, lays out the product folders and works out the
// string table. stubFolder is where the payload-free setup program lies
// (the default uninstaller and common-controls update are looked for
// beside it).
void CheckDescription(const std::string& stubFolder, Description* d, Problems* problems);

// The required space (string 5000) and the progress's extraction share
// (string 5001) of a product: the installed bytes with the uninstaller,
// plus 5 % and 64 KB; the bytes of both folders.
uint64_t RequiredSpace(uint64_t installedBytes);

// The product's own registry values ([Registry] Value lines), checked and
// written into strings 5100 on (registry_values.cpp). After the names and
// the scope are known.
void CheckRegistryValues(Description* d, Problems* problems);
// The [FileTypes] lines, each four registry values after the [Registry]
// ones: the extension, the ProgID's description, icon and open command.
void CheckFileTypes(Description* d, Problems* problems);
// True when name is a file of the main folder (sub-folders with \).
bool HasMainFile(const Description& d, const std::string& name);
// For a 64-bit product: the program name (a file of the main folder) must
// be an x64 image; the mistake goes against v's line.
void CheckProgramArchitecture(const Description& d, const std::string& name, const Value& v, Problems* problems);
// The [Path] folders, each "{TargetDir}" and a sub-folder, into strings
// 5200 on.
void CheckPathFolders(Description* d, Problems* problems);
// The [Languages] section: the language files to carry (the kit's in
// stubFolder's languages folder, and the maker's), read and checked.
void ChooseLanguages(const std::string& stubFolder, Description* d, Problems* problems);
// A language file read; mistakes of form go to problems (false then).
bool ReadLanguageFile(const std::string& path, LanguageFile* file, Problems* problems);
// Checks a language file against English's: each of English's texts, with
// the same macros and tabs, and no other. A text it lacks is a mistake,
// or with fallBack English's text.
void CheckLanguageFile(const LanguageFile& english, bool fallBack, LanguageFile* file, Problems* problems);
// The optional tasks ([Tasks] Task lines) into strings 5700 on, their
// texts into 8030 on (tasks.cpp); before the lines that name them.
void CheckTasks(Description* d, Problems* problems);
// Takes a last field "task=name" off fields into *task (empty without
// one); false, with the mistake told, for a name that is no task.
bool TakeTask(const Description& d, std::vector<std::string>* fields, const Value& v, std::string* task,
              Problems* problems);
// The product's own links ([Links] Link lines) into strings 5300 on
// (links.cpp).
void CheckLinks(Description* d, Problems* problems);
// The fields of a line separated by '|'; a field in double quotes keeps
// its blanks and may hold '|' ("" stands for one quote). False for an
// unclosed quote.
bool SplitFields(const std::string& line, std::vector<std::string>* fields);
// ASCII letters in lower case; blanks and tabs off both ends; true for a
// text with a control character (a tab among them).
std::string Lower(std::string s);
std::string Trim(const std::string& s);
bool HasControl(const std::string& text);
// True for a macro the setup expands itself ({TargetDir}, {AppName}, ...).
bool IsSetupMacro(const std::string& name);

// The value of a key, with the fallback to English for a language section.
const Value* FindValue(const Description& d, const std::string& sectionKey);
// A path a value names: from the description's folder, or as written on
// the command line.
std::string ResolvePath(const Description& d, const Value& v);

// ---------------------------------------------------------------------------
// Texts.
std::u16string Utf16FromUtf8(const std::string& text);
std::string Utf8FromUtf16(const std::u16string& text);
bool ValidUtf8(const std::string& text);
size_t CharacterCount(const std::string& utf8);
// Replaces the listed {Name} macros; others stay as they are.
std::string ExpandKnownMacros(const std::string& text, const std::map<std::string, std::string>& macros);
// The macro names in text, in order.
std::vector<std::string> MacroNames(const std::string& text);
// A plain-text file (UTF-8, else code page 1252) as an RTF document.
std::string RtfFromPlainText(const std::string& text);
// A byte count in megabytes of 1,048,576 bytes, as "12.34 MB".
std::string Megabytes(uint64_t bytes);
bool IsRtf(const Bytes& data);

// ---------------------------------------------------------------------------
// Files.
bool ReadWholeFile(const std::string& path, Bytes* data);
bool IsFile(const std::string& path);
bool IsFolder(const std::string& path);
// Creates a folder and the folders above it that are missing, noting in
// created (if given) each one made, outermost first.
bool MakeFolder(const std::string& path, std::vector<std::string>* created = nullptr);
// Removes the folders MakeFolder noted, innermost first, where empty.
void RemoveEmptyFolders(const std::vector<std::string>& created);
// Renames from to to in one step, replacing a file there: to is the
// earlier file or the new one, never neither.
bool RenameOver(const std::string& from, const std::string& to);
// fopen and remove for a path in UTF-8, on Windows too.
FILE* OpenFile(const std::string& path, const char* mode);
int RemoveFile(const std::string& path);
uint64_t FileSize(const std::string& path);
std::string JoinPath(const std::string& folder, const std::string& relative);
std::string FolderOf(const std::string& path);
// The names in a folder, sorted, "." and ".." left out; false when it
// cannot be read.
bool ListFolderNames(const std::string& path, std::vector<std::string>* names);
bool IsAbsolutePath(const std::string& path);
// Lists every file under folder->path (files of a folder sorted by name,
// before its sub-folders, also sorted), with dates and attributes; names
// that a cabinet cannot carry go to problems against where.
void ListProductFolder(ProductFolder* folder, const Origin& where, Problems* problems);

// ---------------------------------------------------------------------------
// Files written as they are made, never held whole in memory. Each is
// written under a temporary name and put in its target's place only when
// complete, so that a failure never leaves half a file under the target's
// name.
struct OutputFile {
    std::string path;  // the file being written (the temporary name)
    FILE* file = nullptr;
    Bytes* memory = nullptr;  // instead of a file: a program rewritten to be packed
    uint64_t size = 0;
    bool failed = false;
};
// Creates path anew; false when it cannot be created.
bool OutputCreate(OutputFile* out, const std::string& path);
// Writes into *memory (emptied first) rather than a file.
void OutputCreateInMemory(OutputFile* out, Bytes* memory);
bool OutputWrite(OutputFile* out, const void* data, size_t count);
// Overwrites bytes written earlier (a header field known only at the end);
// nothing may be written after it.
bool OutputPatch(OutputFile* out, uint32_t offset, const void* data, size_t count);
// Closes the file; false when any write failed (the file stays).
bool OutputClose(OutputFile* out);
// Closes the file if open and deletes it.
void OutputDiscard(OutputFile* out);
// Puts the finished file made in target's place, unless target already
// holds the same bytes: then it is left alone, so that a build does not
// redo what depends on it. made is gone afterwards, either way.
bool ReplaceWithFile(const std::string& made, const std::string& target);
// The same for bytes in memory, through target + ".part".
bool WriteReplacing(const std::string& target, const Bytes& data);

// ---------------------------------------------------------------------------
// Progress while packing, on the standard output: one line updated in
// place on a terminal, an occasional plain line when the output goes to a
// file or a pipe (a build log), nothing when asked to be quiet.
enum ProgressMode { PROGRESS_OFF, PROGRESS_IN_PLACE, PROGRESS_PLAIN };
struct Progress {
    ProgressMode mode = PROGRESS_OFF;
    uint64_t total = 0, done = 0;
    double started = 0, shown = 0;  // seconds
    size_t width = 0;               // of the line on the terminal
};
// The mode for the standard output as it is: a terminal or not.
ProgressMode ProgressModeOfOutput(bool quiet);
void ProgressBegin(Progress* progress, ProgressMode mode, uint64_t total);
void ProgressAdd(Progress* progress, uint64_t bytes);
void ProgressEnd(Progress* progress);

// ---------------------------------------------------------------------------
// The PE image and its resources.
struct ResourceName {
    uint16_t id = 0;
    std::u16string name;  // upper case; empty: the ID names it
    bool operator<(const ResourceName& other) const;
    bool operator==(const ResourceName& other) const { return id == other.id && name == other.name; }
};
ResourceName ResourceById(uint16_t id);
ResourceName ResourceByName(const char* name);

struct Resource {
    ResourceName type, name;
    uint16_t language = 0x0409;
    uint32_t codePage = 0;
    Bytes data;
    // A payload too large to hold in memory (a packed cabinet) stays in its
    // file; its bytes are copied from there as the image is written.
    std::string file;
    uint32_t fileSize = 0;
    uint32_t Size() const { return file.empty() ? uint32_t(data.size()) : fileSize; }
};

struct PeImage {
    Bytes file;
    std::vector<Resource> resources;
    // Where the image keeps what the writer changes.
    uint32_t peOffset = 0, optionalOffset = 0, sectionTable = 0;
    uint16_t sectionCount = 0;
    bool wide = false;  // PE32+ (the 64-bit twin)
    int resourceSection = -1;
    bool hadSignature = false;
};

// The machine of a Windows program's image (0x14C x86, 0x8664 x64), read
// from its header; 0 for a file that is not one.
uint16_t ImageMachine(const std::string& path);
// Reads a setup program; false with the reason in error.
bool ReadPeImage(const Bytes& file, PeImage* image, std::string* error);
// False, with the reason in error, when the image with its resources would
// be larger than a Windows program may be.
bool PeImageFits(const PeImage& image, std::string* error);
// Writes the image with its resources anew into out: the resource section
// rebuilt in place, the sections after it (the relocations) moved behind
// it, no certificate table, the checksum recomputed. False with the reason
// in error.
bool WritePeImage(const PeImage& image, OutputFile* out, std::string* error);

// A resource's language: US English, the language of the programs' own
// resources and of everything not written in a language; any, to find one.
const uint16_t kEnglishLanguage = 0x0409;
const uint16_t kAnyLanguage = 0xFFFF;

Resource* FindImageResource(PeImage* image, const ResourceName& type, const ResourceName& name,
                            uint16_t language = kAnyLanguage);
// Replaces the data of the resource in that language, or adds it.
void SetResource(PeImage* image, const ResourceName& type, const ResourceName& name, Bytes data,
                 uint16_t language = kEnglishLanguage);
// Takes the resource in that language out of the image, when it is there.
void RemoveResource(PeImage* image, const ResourceName& type, const ResourceName& name,
                    uint16_t language = kEnglishLanguage);
// The same with the data kept in a file of size bytes.
void SetResourceFile(PeImage* image, const ResourceName& type, const ResourceName& name, const std::string& path,
                     uint32_t size);

// ---------------------------------------------------------------------------
// The setup program's resources.
enum { RT_ICON_ID = 3, RT_BITMAP_ID = 2, RT_DIALOG_ID = 5, RT_STRING_ID = 6, RT_GROUP_ICON_ID = 14 };

// Whether the program carries a language (its LANGUAGES list names it,
// or it has no list); English always.
bool CarriesLanguage(PeImage* image, uint16_t language);
// Puts the string table entries into the image's string blocks, but not
// those of a language the program does not carry; IDs with an empty text
// are cleared.
void SetStrings(PeImage* image, const StringTable& strings);
// Reads one string of the image's string table in a language ("" when
// missing).
std::string GetString(const PeImage& image, int id, uint16_t language = kEnglishLanguage);
// Where a string of the description's table goes: its ID and language in
// the setup's resources (a language's texts are kept at the English ID
// plus 100 for French, 200 for Dutch).
struct StringInLanguage {
    int id;
    uint16_t language;
};
StringInLanguage LanguageOfString(int id);
// Writes the languages the description carries into a program (the setup
// program's or the uninstaller's texts): drops the program's own it does
// not ask for, adds each language file's string table and dialog
// templates (made from the program's English ones) and writes the list
// the program chooses from. False, and nothing changed, for a program
// without that list. A language file's keys that do not name the
// program's English texts go to problems.
bool CarryLanguages(PeImage* image, LanguageTexts which, const Description& d, const std::string& program,
                    Problems* problems);
// Expands the pack-time macros in every dialog template's caption and
// control texts, in the template's language. Texts the setup cuts to fit
// its buffers (captions: 127 characters, control texts: 255) that would
// now be longer go to problems, against the key whose value made them so.
void ExpandDialogTemplates(PeImage* image, const Description& d, Problems* problems);
// The rights a program asks for at its start (execution_level.cpp): the
// level of the requestedExecutionLevel in its manifest, "asInvoker" or
// "requireAdministrator", set in place.
enum ExecutionLevelResult {
    LEVEL_CHANGED,    // the manifest now asks for level
    LEVEL_UNCHANGED,  // it asked for it already: not a byte changed
    LEVEL_NOT_ASKED,  // no manifest, or none with a requestedExecutionLevel
};
ExecutionLevelResult SetExecutionLevel(PeImage* image, const std::string& level);
// The assembly name of a maker's program, "<Maker>.<ProductName>.<role>",
// each part cut down to the letters and digits an identity may hold.
std::string AssemblyName(const std::string& maker, const std::string& product, const char* role);
// Sets the name of the manifest's assemblyIdentity, every other byte kept;
// true when it changed.
bool SetAssemblyName(PeImage* image, const std::string& name);

// Checks the maker's icon (id 0) or header or footer bitmap (its ID):
// false with what is wrong in error.
bool CheckArt(const Bytes& file, int id, std::string* error);
// A checked icon as icon group 1 (the program's icon, its images replacing
// the old ones), or a checked bitmap as the bitmap of that ID.
void SetArt(PeImage* image, int id, const Bytes& file);

// ---------------------------------------------------------------------------
// Packing.
enum ExitCode { EXIT_DONE = 0, EXIT_FAILED = 1, EXIT_MISTAKES = 2 };

struct PackRequest {
    std::string output, payloadDir;  // payloadDir empty: the cabinets and containers are not kept
    const Bytes* uninstaller = nullptr;  // the uninstaller's bytes, its manifest asking for the scope's rights
    ProgressMode progress = PROGRESS_OFF;
};

struct PackFigures {
    uint64_t payload[4] = {0, 0, 0, 0};  // MAIN, ARCHIVIST, UNINSTALL, 40COMUPD as packed
    uint64_t setup = 0;                  // the setup program's size
};

// Packs the product of a checked description into the checked stub and
// writes the setup program (and what --payload-dir asks for). Returns the
// exit code; failures are reported on the standard error.
int Pack(const PackRequest& request, const Description& d, PeImage* stub, PackFigures* figures);
// Reports a file that could not be read or written: EXIT_FAILED.
int Fail(const std::string& message);

}  // namespace mksetup
