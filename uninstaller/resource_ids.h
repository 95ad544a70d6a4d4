// Resource IDs of the uninstaller, shared by its code and its .rc file:
// the same in every language it carries.
#pragma once

// Dialog templates.
#define IDD_UNINSTALL_CHOICE 100 // remove, repair or cancel
#define IDD_UNINSTALL_IN_USE 101 // a file cannot be deleted: retry or ignore

// Controls.
#define IDC_CHOICE_TEXT 1001
#define IDC_REPAIR_NOTE 1002
#define IDC_REMOVE 1003
#define IDC_REPAIR 1004
#define IDC_IN_USE_TEXT 1005

// Strings. {ProductName},
// {File}, {Folder}, {Setup} and {Count} are filled in by the program.
#define IDS_UNINSTALL_CAPTION 1000
#define IDS_CHOICE_TEXT 1001
#define IDS_REPAIR_UNAVAILABLE 1002
#define IDS_CONFIRM_REMOVE 1003
#define IDS_FILE_IN_USE 1004
#define IDS_REMOVED 1005
#define IDS_FILES_LEFT 1006
#define IDS_SIBLING_LEFT 1007
#define IDS_FOLDER_KEPT 1008
#define IDS_SETTINGS_MISSING 1009
#define IDS_LIST_MISSING 1010
#define IDS_REPAIR_NOT_STARTED 1011
#define IDS_MORE_FILES 1012
#define IDS_GENERIC_CAPTION 1013
#define IDS_OTHER_INSTALLATION 1014
#define IDS_SETUP_RUNNING 1015
#define IDS_RUN_RECOVERED 1016
#define IDS_OTHER_PRODUCT 1017
#define IDS_REPAIR_REFUSED 1018
#define IDS_REMOVAL_CANCELLED 1019
#define IDS_PROGRAMS_RUNNING 1020
