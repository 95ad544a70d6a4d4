// Wizard user interface: the off-screen main window with its page messages
// and sequencer, the services every page uses, and the page procedures,
// the install page among them. Calls down into the engine, the
// registration, the rollback unit and the core; only the program's start
// (app/) is above it.
#pragma once

#include <windows.h>

#include "setup/file_holders.h"
#include "setup/setup.h"

// Page messages, posted by the main window to itself with wParam and lParam 0.
enum PageMessage {
    WM_PAGE_WELCOME = WM_USER + 1,      // 1025
    WM_PAGE_QUIT = WM_USER + 2,         // 1026, no page: destroys the main window
    WM_PAGE_LICENCE = WM_USER + 3,      // 1027
    WM_PAGE_INFORMATION = WM_USER + 4,  // 1028
    WM_PAGE_DESTINATION = WM_USER + 5,  // 1029
    WM_PAGE_DISK_SPACE = WM_USER + 6,   // 1030
    WM_PAGE_INSTALL = WM_USER + 7,      // 1031
    WM_PAGE_FINISH = WM_USER + 8,       // 1032
    WM_PAGE_ERROR = WM_USER + 9,        // 1033
    WM_PAGE_INTERRUPTED = WM_USER + 10, // 1034
    WM_PAGE_TASKS = WM_USER + 11,       // 1035
    WM_PAGE_PROGRAMS = WM_USER + 12,    // 1036
};

// Page results passed to EndDialog.
enum PageResult { PAGE_CANCEL = 0, PAGE_NEXT = 1, PAGE_BACK = 3 };

// Dialog templates, under the same numbers in every language carried.
enum DialogTemplate {
    IDD_LICENCE = 100,
    IDD_COPY_ERROR = 101,
    IDD_DESTINATION = 102,
    IDD_INFORMATION = 103,
    IDD_INSTALL = 104,
    IDD_FINISH = 105,
    IDD_ERROR = 106,
    IDD_INTERRUPTED = 107,
    IDD_WELCOME = 108,
    IDD_DISK_SPACE = 109,
    IDD_REPAIR_FINISHED = 110,
    IDD_CONFIRM_EXIT = 111,
    IDD_TASKS = 112,
    IDD_PROGRAMS = 113,
    IDD_LANGUAGE = 114,
};

// Control IDs shared by the templates.
enum ControlId {
    IDC_BACK = 1001,
    IDC_COPY_LABEL = 1002,
    IDC_COPY_FILE = 1003,
    IDC_COPY_TO = 1004,
    IDC_COPY_HINT = 1007,
    IDC_HEADER_LINE = 1008, // also {CopyDir} in the copy-error dialog
    IDC_FOOTER_LINE = 1009,
    IDC_NOTICE = 1010,
    IDC_RICHTEXT = 1011,
    IDC_AGREE = 1012,
    IDC_HEADING = 1013,
    IDC_FOLDER_EDIT = 1014,
    IDC_BROWSE = 1015,
    IDC_PROGRESS = 1016,
    IDC_CURRENT_FILE = 1017,
    IDC_CURRENT_DIR = 1018,
    IDC_WEBSITE = 1020,
    IDC_BODY = 1026,
    IDC_DETAIL = 1039,
    IDC_CLOSING = 1040,
    IDC_LIST_NAME = 1041, // the finish page's name of the product in the list of installed programs
    IDC_START_PRODUCT = 1042, // the finish page's checkbox that starts the program, made by the page
    IDC_RESTART_NOW = 1043,   // the finish page's checkbox that restarts Windows for files in use, made by the page
    IDC_FIRST_TASK = 1050,    // the tasks page's checkboxes, made by the page: 1050 to 1057
    IDC_PROGRAM_LIST = 1060,  // the programs page: the programs that use the installation's files
    IDC_CLOSE_PROGRAMS = 1061,
    IDC_LEAVE_PROGRAMS = 1062,
    IDC_LANGUAGE_LIST = 1070,  // the language choice: the languages carried, by their own names
};

// Bitmaps of the page header and footer, icon of the copy-error dialog.
enum { IDB_HEADER_LARGE = 960, IDB_HEADER_SMALL = 961, IDB_FOOTER = 962, IDI_COPY_ERROR = 950 };

// ---------------------------------------------------------------------------
// Main window and sequencer.

// Builds the main window object: default TargetDir, progress defaults and
// header texts.
void BuildMainWindowObject();
// Creates the off-screen main window; null on failure.
HWND CreateMainWindow();
HWND MainWindowHandle();

// The page procedure that each page message opens. Tests replace entries
// to drive the sequencer with pages of their own.
struct PageProcedures {
    DLGPROC Welcome;
    DLGPROC Licence;
    DLGPROC Information;
    DLGPROC Destination;
    DLGPROC DiskSpace;
    DLGPROC Install;
    DLGPROC Finish;
    DLGPROC Error;
    DLGPROC Interrupted;
    DLGPROC Tasks;
    DLGPROC Programs;
};
extern PageProcedures Pages;
void UseDefaultPages();

// What the end of the wizard does instead of a real restart or launch, so
// that tests can watch it. Null means the real thing.
struct WizardEndHooks {
    void (*Restart)();
    void (*Launch)(const char* commandLine);
};
extern WizardEndHooks EndHooks;

// The command line that starts the installed product: its path, quoted,
// and the maker's arguments (RunArguments) after it.
Text ProductLaunchCommand();
// True when the end of this run offers to start the product: an
// installation (no repair, no restart for the common controls) of a
// product whose maker did not say RunAfter = no.
bool OffersProductAtEnd();
// How the end of the wizard starts the installed product: ShellExecuteA
// until the program's start puts the desktop shell's way here.
extern ShellOpenFunction StartProduct;

// ---------------------------------------------------------------------------
// Page services.
int PaintPageHeader(HWND dialog, HDC dc);
BOOL CenterOnWorkArea(HWND window);
// Pure placement rule of CenterOnWorkArea, for one axis.
int CenteredPosition(int workStart, int workEnd, int size);
const char* LoadResourceText(int id);
BOOL CALLBACK SetChildFont(HWND child, LPARAM font);
int ConfirmExit(HWND owner);
void DrawBitmap(HDC dc, HBITMAP bitmap, int x, int y);

// The common initialisation steps 1 to 5 of every page: hide, expand the
// title, centre, fonts; BoldFont on 1013.
void BeginPageInit(HWND page);
// The page dialog that is open now, or null between pages.
HWND CurrentPageWindow();
// WM_ERASEBKGND of every page.
INT_PTR ErasePageBackground(HWND page, WPARAM wParam, LPARAM lParam);
// Cancel on the pages with Next/Back: the exit confirmation, then result 0.
void CancelWithConfirmation(HWND page);

// ---------------------------------------------------------------------------
// Page procedures.
INT_PTR CALLBACK WelcomePageProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK LicencePageProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK InformationPageProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK DestinationPageProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK DiskSpacePageProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK FinishPageProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK TasksPageProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK ProgramsPageProc(HWND, UINT, WPARAM, LPARAM);
// The language choice before the first page, for a product that asks for
// it ([Languages] Ask, string IDS_ASK_LANGUAGE) and carries more than one:
// the user picks one of the languages carried, and everything after
// speaks it. False when the user cancels; true, the language unchanged,
// when nothing is asked or the dialog cannot be shown.
bool ChooseLanguageAtStart();

// The programs that use the installation's files (pages_programs.cpp):
// found for the installation this run replaces (else the destination), the
// programs page shown before the install page when there are any, and a
// silent run's answer: asked to close unless /NOCLOSEAPPLICATIONS.
bool FindHoldersOfTheInstallation(FileHolders& out);
void CloseHoldersWithoutPages();
INT_PTR CALLBACK ErrorPageProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK InterruptedPageProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK InstallPageProc(HWND, UINT, WPARAM, LPARAM);

// ---------------------------------------------------------------------------
// The installation run's steps (install_run.cpp), in this order, with the
// staging worker between the first two and the extraction worker between
// the last two.

// Starts a run from a clean record: the session's earlier run undone, the
// lists emptied, the run's working folder made, the staging job filled.
void BeginInstallRun();
// Staging has ended: its cabinets go to the extraction, and the folders
// the run writes into are guarded.
void TakeOverStagedCabinets();
// Fills the extraction job, with the copy-error dialog as its question.
void PrepareExtraction();
// Every file is in place: the links, the removal of what an earlier
// version left, the registry entries and the uninstaller, then the commit.
void RegisterInstallation();

// ---------------------------------------------------------------------------
// The install page's run (install_page.cpp, copy_error.cpp).

// True while the run writes files or registers the product: a log-off or
// shutdown is refused then.
bool InstallRunIsWriting();
// Sets the progress bar of the install page from ProgressPos/ProgressMax.
void ShowProgress(HWND page);
// The percentage that ShowProgress shows.
unsigned ProgressPercent(uint32_t pos, uint32_t max);
// The extraction's question about a file it cannot write: the copy-error
// dialog (Retry, Ignore or Abort), on the extraction thread; Abort in a
// silent run. The answer goes to the log.
int CopyErrorDialog();
// Answers a copy-error dialog that is up on the extraction thread, as a
// confirmed cancel does.
void AnswerCopyErrorDialog();

// What Next on the destination page does, for a run without pages: the
// common-controls update taken when it is due (the restart is left to
// whoever started the run), the progress total, the space check and the
// folder. False, with the reason in the log, when the run cannot go on.
bool PrepareDestinationWithoutPages();
