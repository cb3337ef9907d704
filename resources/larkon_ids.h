// Resource and control ids of the main program, shared by its resource script
// and its code.
#pragma once

#define IDI_LARKON 130

#define IDD_MAIN 129
#define IDM_MAIN 131
#define IDD_SHUTDOWN_WARNING 175

// Main window controls.
#define IDC_PROCESS_LIST 5001
#define IDC_PROCESS_TREE 1173

// Shutdown-privilege warning controls.
#define IDC_WARN_CHECK 1001
#define IDC_WARN_TEXT 1002
#define IDC_WARN_HEADING 1003
#define IDC_WARN_ICON 1004

// Commands.
#define IDM_CLOSE 2
#define IDM_QUIT_ALT 8
#define IDM_QUIT_ELEVATED 281

// Strings.
#define IDS_LANGUAGE_NAME 1
#define IDS_INIT_PROCESS_LIST 104
#define IDS_CREATE_THREADS 105
#define IDS_LOADING 106
#define IDS_LOADING_RESOURCES 147
#define IDS_LOADING_TRAY 148
#define IDS_LOADING_TOOLBAR 149
#define IDS_LOADING_UI 150
