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

// Main window: process list columns, View menu, help.
#define IDS_SORT_MENU 156
#define IDS_SORT_TREE 157
#define IDS_SORT_START 158
#define IDS_SORT_NAME 159
#define IDS_SORT_PID 160
#define IDS_SORT_CPU 161
#define IDS_SORT_MEMORY 162
#define IDS_SORT_DESCRIPTION 163
#define IDS_SORT_COMPANY 164
#define IDS_SORT_PATH 165
#define IDS_SORT_USER 166
#define IDS_SORT_HANDLES 167
#define IDS_SORT_USEROBJECTS 168
#define IDS_SORT_GDIOBJECTS 169
#define IDS_SORT_REVERSE 170
#define IDS_RATE_3S 171
#define IDS_RATE_1S 172
#define IDS_RATE_500MS 173
#define IDS_RATE_250MS 174
#define IDS_RATE_100MS 175
#define IDS_RATE_MENU 200
#define IDS_TOPMOST 201
#define IDS_COL_PROCESS 193
#define IDS_COL_CPU 262
#define IDS_COL_MEMORY 333
#define IDS_COL_DESCRIPTION 232
#define IDS_COL_COMPANY 233
#define IDS_COL_PATH 254
#define IDS_COL_PID 334
#define IDS_COL_START 335
#define IDS_COL_USER 336
#define IDS_COL_HANDLES 337
#define IDS_COL_GDIOBJECTS 338
#define IDS_COL_USEROBJECTS 339
#define IDS_START_TIME_FORMAT 321
#define IDS_HELP_MISSING 340
#define IDS_HELP 341
#define IDS_HELP_FILE 342
#define IDS_PRODUCT_PAGE 343
