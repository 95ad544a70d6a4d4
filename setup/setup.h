// Setup core: the installer context that every part of the program shares,
// the language choice, the string-resource IDs, the template macros, and
// the services every page and step uses: strings and message boxes, the
// page fonts, system libraries loaded safely, the log's writer and the
// unpacking of a container. Above the cabinet formats (cab/) and below
// everything else: nothing here calls the rollback unit, the engine, the
// registration, the wizard or the program's start.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "setup/languages.h"
#include "setup/paths.h"
#include "setup/registry_view.h"
#include "setup/system_libraries.h"
#include "setup/text.h"

// ---------------------------------------------------------------------------
// String-resource IDs, the same in every language the program carries: a
// language's string table holds its texts under these IDs (setup/languages.h).
// 1, 900-999, 5000-5999 and 7004 are the product's, in US English only.
enum StringId {
    IDS_MAIN_TITLE = 1,
    IDS_EXTRA_PATH_FIRST = 900,
    IDS_EXTRA_PATH_LAST = 999,
    IDS_REQUIRED_SPACE = 5000,    // bytes of free space needed, decimal
    IDS_PROGRESS_EXTRA = 5001,    // bytes added to the cabinets' sizes
    IDS_DEFAULT_FOLDER = 5002,    // default destination, with macros
    IDS_APP_NAME = 5003,          // {AppName}, also "DisplayName"
    IDS_PRODUCT_NAME = 5004,      // {ProductName}
    IDS_EXE_NAME = 5005,          // {ExeName}
    IDS_PRODUCT_VERSION = 5006,   // "DisplayVersion" of the uninstall entry
    IDS_PUBLISHER = 5007,         // "Publisher" of the uninstall entry
    IDS_WEB_ADDRESS = 5008,       // "URLInfoAbout" of the uninstall entry
    IDS_MAKER = 5009,             // the maker's registry key under SOFTWARE, and its setup folder's name
    IDS_SIBLING = 5010,           // the sibling product's name; empty: the product has none
    IDS_SIBLING_FOLDER = 5011,    // the sibling product's folder in the user's Documents
    IDS_INSTALL_SCOPE = 5012,     // "machine" (every user, administrator rights) or "user" (the user alone)
    IDS_RUN_AFTER = 5013,         // "no": the program is not offered at the end; else it is
    IDS_RUN_ARGUMENTS = 5014,     // the program's arguments when started at the end, with macros
    IDS_ARCHITECTURE = 5015,      // "x64": the product's programs are 64-bit; else 32-bit ("x86")
    IDS_ASK_LANGUAGE = 5016,      // "yes": the user chooses the language before the first page
    IDS_START_MENU_FOLDER = 7004, // {AppCorvane}
    IDS_CANCEL_QUESTION = 8000,
    IDS_FOLDER_NOT_CREATED = 8001,
    IDS_EDITION = 8002,           // {Edition}
    IDS_RESTART_NOTE = 8003,
    IDS_COMCTL_QUESTION = 8004,
    IDS_HEADER_TITLE = 8005,
    IDS_HEADER_SUBTITLE = 8006,
    IDS_HELP_LINK = 8007,
    IDS_UNINSTALL_LINK = 8008,
    IDS_BROWSE_TITLE = 8009,
    IDS_HELP_NAME = 8010,         // {HelpName}
    IDS_FULL_PATH_NEEDED = 8011,  // the destination is not a full path
    IDS_SETUP_DAMAGED = 8012,     // a payload resource failed its check
    IDS_RUN_RECOVERED = 8013,     // an unfinished earlier run was undone or completed
    IDS_ALREADY_RUNNING = 8014,   // another setup of the product is running
    IDS_USAGE = 8015,             // the switches and exit codes, shown by /?
    IDS_INVALID_COMMAND_LINE = 8016, // a switch not understood, followed by the usage
    IDS_WEBSITE = 8017,           // the finish page's web address; empty: no web button
    IDS_DOWNGRADE_QUESTION = 8018, // a newer version is installed: replace it with this older one?
    IDS_COMCTL_NOT_OFFERED = 8019, // a per-user installation cannot update the common controls
    IDS_START_PRODUCT = 8020,     // the finish page's checkbox that starts the program
    IDS_FINISH_CLOSES = 8021,     // the finish page's last line for a product not started at the end
    IDS_NEEDS_64BIT = 8022,       // a 64-bit product refused on 32-bit Windows
    IDS_FILES_RESTART_NOTE = 8023, // the finish page's last line when replaced files wait for a restart
    IDS_COPY_HELD_BY = 8024,       // the copy-error dialog's hint for a file a known program holds
    IDS_COPY_IN_USE = 8025,        // the same when the program is not known
    IDS_RESTART_NOW = 8026,        // the finish page's checkbox that restarts Windows for files in use
    IDS_PROGRAMS_STAY = 8027,      // the programs page's second question: programs that did not close
    IDS_TASK_TEXT = 8030,         // the texts of the product's tasks, 8030 to 8037
};

// Exit codes of setup.exe: those of Windows Installer, which deployment
// tools already understand.
enum SetupExitCode {
    EXIT_INSTALLED = 0,
    EXIT_CANCELLED = 1602,
    EXIT_FAILED = 1603,        // the run failed and was rolled back, or the setup is damaged
    EXIT_ALREADY_RUNNING = 1618,
    EXIT_NOT_SUPPORTED = 1633,        // a 64-bit product on 32-bit Windows; nothing was changed
    EXIT_NEWER_INSTALLED = 1638,      // a newer version of the product is installed; nothing was changed
    EXIT_INVALID_COMMAND_LINE = 1639, // nothing was changed
    EXIT_RESTART_NEEDED = 3010,       // installed; the common-controls update or files in use need a restart
    EXIT_RESTART_STARTED = 1641,      // installed; the run restarts Windows for files in use
};

// Frame resource of the main window (title string, icon, menu, accelerators).
enum { IDR_MAINFRAME = 1 };
enum {
    ID_FILE_INSTALL = 32785,
    ID_FILE_INFOS = 32786,
    ID_FILE_BROWSE = 32787,
    ID_FILE_QUIT = 32788,
};

// ---------------------------------------------------------------------------
// Worker records. Their field order is fixed; the workers write them and the
// install page reads the results once the worker's handle is signalled.
struct StagingJobRecord {
    HINSTANCE ModuleHandle;
    char MainCabTemp[kPathBytes];
    char ArchivistCabTemp[kPathBytes];
    volatile int32_t Status; // 0 done, 1 missing, 2 not loaded, 3 not locked, 4 not created, 5 write failed
    volatile int32_t Total;
    volatile int32_t Done;
    // The staged cabinets stay open from their creation until the run no
    // longer needs them (nobody can write, rename or delete them
    // meanwhile), and go when they are closed.
    HANDLE MainCabFile;
    HANDLE ArchivistCabFile;
};

struct ExtractionJobRecord {
    char MainCabPath[kPathBytes];
    char ArchivistCabPath[kPathBytes];
    volatile int32_t Status; // 0 done, 1 no decoder, 2 not opened, 3 not a cabinet, 4 copy failed, 5 not destroyed
    volatile int32_t Total;
    volatile int32_t Done;
    // How the worker asks what to do about a file it cannot write: Retry
    // (IDRETRY), Ignore (IDIGNORE) or Abort (IDCANCEL), on the worker's
    // own thread; and how a confirmed cancel answers that question while
    // it is up. Given by whoever starts the worker (the install page puts
    // its copy-error dialog here); without them every such file aborts.
    int (*AskCopyError)();
    void (*AnswerCopyError)();
};

// The process-wide installer context. Every field starts at zero or empty
// unless a default is given.
struct InstallerContext {
    InstallerContext();
    ~InstallerContext();
    InstallerContext(const InstallerContext&) = delete;
    InstallerContext& operator=(const InstallerContext&) = delete;

    // Process and language: the carried language spoken, and what the
    // program carries.
    LANGID LanguageCode;
    LanguageList Languages;
    HINSTANCE InstanceHandle;
    HMODULE RichEditModule;
    char ModulePath[kPathBytes];
    int32_t RepairMode;
    Text RepairDir;
    Text TargetDir;
    int32_t LowDiskSpace;
    int32_t ProgressTotal;
    int32_t UpdateCommonControls;
    // Files the run replaced are still held by a program: a restart
    // completes the installation (exit code 3010).
    int32_t RestartForFiles;
    // The user chose to restart Windows now for them (exit code 1641).
    int32_t RestartNow;
    // /NOCLOSEAPPLICATIONS, or "Do not close them" on the page: the
    // programs that hold the installation's files are left running.
    int32_t LeaveApplicationsRunning;
    // Such programs run on (left running, or they did not close): a file
    // one holds without delete sharing gets its new version at the next
    // restart instead of a copy error (every user's installation only).
    int32_t HoldersRunning;
    int32_t LicenceAccepted;
    volatile int32_t UserCancelled;
    int32_t CleanupRequired;
    // What the process returns: one of SetupExitCode.
    int32_t ExitCode;
    // /S: no window at all; every question gets the safe answer (abort
    // and roll back) and the end neither launches nor restarts anything
    // (unless /RUN asks for the program).
    int32_t Silent;
    // The program is started when the run has succeeded: /RUN in a silent
    // run, the finish page's checkbox otherwise.
    int32_t StartProductAtEnd;
    // The product's optional tasks chosen for this run (their names).
    TextList ChosenTasks;
    // /D=: the destination given on the command line, in its full form;
    // empty when none was given.
    Text GivenFolder;
    // /LOG=: the run's log, open for appending; null when there is none.
    HANDLE RunLog;
    CRITICAL_SECTION LogLock;

    // Texts shown by the interface.
    Text HeaderTitle;
    Text HeaderSubtitle;
    // Written by the extraction thread, shown by the install page: always
    // go through SetCurrentFileAndDir / GetCurrentFileAndDir.
    char CurrentFile[kPathBytes];
    char CurrentDir[kPathBytes];
    CRITICAL_SECTION CurrentLock;
    Text CopyFile;
    Text CopyDir;
    // Why the file at hand cannot be written when it is in use: the
    // program that holds it ("" when none is known), and whether it is.
    Text CopyHolder;
    int32_t CopyInUse = 0;
    char TextBuffer[kPathBytes];

    // Installation records and engine state.
    TextList InstalledFiles;
    int32_t InstallPhase;
    uint32_t ProgressPos;
    uint32_t ProgressMax;
    HANDLE StagingThread;
    HANDLE ExtractionThread;
    UINT_PTR ProgressTimer;
    int32_t TimerBusy;
    StagingJobRecord StagingJob;
    ExtractionJobRecord ExtractionJob;
    Text MainCabTempPath;
    Text ArchivistCabTempPath;
    Text ExtractTargetDir;
    // An installation of the product found at start (its product key's
    // "InstallDir" and "Version"): the folder the destination page offers
    // and whose files the run replaces. Empty when there is none; the
    // version is empty when that installation recorded none.
    Text EarlierDir;
    Text EarlierVersion;
    // The registry view its keys are in: another than this run's for a
    // 32-bit build of the product that a 64-bit one replaces.
    RegistryView EarlierView = REGISTRY_VIEW_DEFAULT;
    // Every path the payload carries, written or not (a file skipped with
    // Ignore, a sibling file already there): what an earlier version's
    // files are held against.
    TextList CarriedFiles;
    // The product's own registry values that the removal gives back, as
    // the settings file keeps them (one record each).
    TextList ProductValueRecords;
    // The product's folders on the PATH that the removal takes out, and
    // whether the run changed the PATH (the programs are told at the end).
    TextList PathEntries;
    int32_t PathChanged;
    // The run wrote or took away a file type (under Software\Classes): the
    // shell is told at the end.
    int32_t FileTypesChanged;
    // The run's private working folder (administrators only, a name
    // nobody can guess) for the staged cabinets and the update package;
    // empty: the temporary folder.
    Text WorkFolder;
    Text ArchivistDir;
    Text ExtractDir;
    int32_t CurrentFileSize;
    int32_t ExtractingArchivist;
    struct {
        uint16_t Minor;
        uint16_t Major;
    } ComctlVersion;
    int32_t ComctlVersionState;
    // A per-user run has told the user once that it cannot update the
    // common controls.
    int32_t ComctlNoticeShown;

    // Display resources.
    int32_t ScreenDpiY;
    HFONT DialogFont;
    HFONT BoldFont;
    HFONT TitleFont;
};

extern InstallerContext Context;

// The product's optional tasks (tasks.cpp): at most kMostTasks, each a
// name, a default and a text in each language (string IDS_TASK_TEXT + i).
const int kMostTasks = 8;
int TaskCount();
Text TaskName(int i);
// The defaults, or the tasks an earlier installation chose (its list,
// names separated by commas) when it names any choice at all.
void ChooseDefaultTasks(const char* earlierChoice);
// True, with the name in unknown, when list names a task the product has
// not.
bool UnknownTask(const char* list, Text& unknown);
// The tasks list names (/TASKS=), and no others.
void ChooseTasks(const char* list);
// True for a chosen task, and for none ("": made whatever is chosen).
bool TaskChosen(const char* name);
// The chosen tasks' names, separated by commas.
Text ChosenTaskList();

// The extraction thread's hand-over of the current file and folder.
void SetCurrentFileAndDir(const char* file, const char* dir);
void GetCurrentFileAndDir(char* file, size_t fileSize, char* dir, size_t dirSize);

// ---------------------------------------------------------------------------
// Strings and message boxes (strings.cpp).

// Loads string id in the language spoken (US English for a text it
// lacks) into buffer; empty when missing.
void LoadStringText(int id, char* buffer, int size);
// Resource name of type in the language spoken, else in US English, else
// in any; null when the program has none by that name.
HRSRC FindLocalizedResource(const char* name, const char* type);
// The modal dialog of template templateId in the language spoken, as
// DialogBoxParam opens it; -1 when the program has no such template.
INT_PTR DialogInLanguage(HWND owner, int templateId, DLGPROC procedure, LPARAM parameter);
// Loads string id into a growable text; empty when missing.
Text LoadStringAsText(int id);
// Reads string id as a signed decimal number (leading blanks and a sign
// allowed, stops at the first other character; no digits gives 0).
long LoadStringNumber(int id);
// Message box whose text is string resource id (no language offset added
// here), captioned with the program's title. Returns the button pressed.
int MessageBoxFromString(HWND owner, int id, UINT style);
// The same with the text's template macros expanded.
int MessageBoxExpanded(HWND owner, int id, UINT style);

// ---------------------------------------------------------------------------
// The page fonts (fonts.cpp).

// DialogFont, BoldFont and TitleFont for ScreenDpiY: Tahoma when the
// system has it, else MS Sans Serif.
void CreatePageFonts();

// ---------------------------------------------------------------------------
// System libraries (system_libraries.cpp).

// How the program opens a folder or a web address, or starts a program:
// ShellExecuteA's form. The program's start puts the desktop shell's way
// (as the signed-in user) wherever one of these is kept.
typedef HINSTANCE(WINAPI* ShellOpenFunction)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);


// ---------------------------------------------------------------------------
// The run's log (run_log.cpp): what administrators read after an
// unattended run.

// Opens path for appending, creating it when missing. A log that cannot be
// opened or written never stops the run: it is simply not there.
bool OpenRunLog(const char* path);
void CloseRunLog();
// One line of the log: the local date and time, then the text made from
// format (printf rules, cut at 1,000 characters). Any thread.
void LogEvent(const char* format, ...) TEXT_FORMAT(1, 2);
// The journal's observer: every change recorded, undone or committed.
void LogJournalEvent(const char* event);

// ---------------------------------------------------------------------------
// Containers (container.cpp).

// Writes the content of a "CVZB" container to path. 1 on success, 0 on any
// failure (no output file is left behind then).
int UnpackContainer(const void* data, uint32_t size, const char* path);
// The same into a file the caller opened for writing (and closes): 1 when
// every byte is written and flushed; else 0, and the caller takes the file
// away.
int UnpackContainerTo(const void* data, uint32_t size, HANDLE file);

// ---------------------------------------------------------------------------
// The product's identity (product.cpp): the maker's key and the product's,
// and the order of versions.

// "SOFTWARE\<Maker>\" followed by subKey: the maker's key, under which the
// product key ("SOFTWARE\<Maker>\<ProductName>") and the maker's settings
// ("folders") live.
Text MakerKeyPath(const char* subKey);
// "SOFTWARE\<Maker>\<ProductName>".
Text ProductKeyPath();
// Dotted versions compared part by part as numbers ("3.10" is newer than
// "3.9"; a missing part counts as 0): below 0 when a is older than b, 0 the
// same, above 0 newer. A part that is not a number counts as 0.
int CompareVersions(const char* a, const char* b);
// True for a product whose programs are 64-bit (string 5015 "x64").
bool ProductIs64Bit();

// ---------------------------------------------------------------------------
// Template macros.
void ExpandMacros(Text& text);
// The same with every macro expanded on its own and nothing cut: a
// registry value or a link that holds a long folder keeps it whole.
Text ExpandEachMacro(const char* pattern);
void ExpandItemText(HWND dialog, int id);
// A text value into buffer (kPathBytes bytes); false when it is not there.
bool ReadRegistryString(HKEY root, const char* keyPath, const char* valueName, char* buffer);
Text ReadMakerSetting(const char* subKey, const char* valueName, const char* defaultText);
// The sibling product's folder, ending with a backslash: the maker's
// "folders" setting, else the sibling's folder in the user's Documents.
// Empty for a product without a sibling.
Text GetArchivistDir();
int32_t GetFreeKilobytes(const char* path);
// Cuts a full path to the root of its volume: C:\ or \\server\share\.
void CutToVolumeRoot(char* path);
// Bytes to kilobytes, saturated at the largest int32 so that a huge disk
// never reads as a negative (too small) one.
int32_t SaturatedKilobytes(unsigned long long bytes);
void FormatKilobytesMb(char* buffer, size_t size, int32_t kilobytes);
void FormatBytesMb(char* buffer, size_t size, int32_t bytes);
// Parses text as LoadStringNumber does.
long ParseDecimal(const char* text);
