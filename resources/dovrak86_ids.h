// Resource and control ids of the compatibility runtime, shared by its resource
// script, its code and its tests.
#pragma once

#define IDI_SKRN_WARNING 108

#define IDD_UIL_SELECT_LANGUAGE 1015
#define IDD_SKRN_WARNING 1018
#define IDD_UIL_LANGUAGE_SETTINGS 1045

// Language dialogs.
#define IDC_UIL_HEADING 1006
#define IDC_UIL_LIST 10005
#define IDC_UIL_TREE 10025

// Warning dialog.
#define IDC_SKRN_HEADING 1006
#define IDC_SKRN_TEXT 10028
#define IDC_SKRN_CHECK 10048

// Strings.
#define IDS_UIL_RESTART 1055
#define IDS_UIL_SETTINGS_CAPTION 1065
#define IDI_UIL_LANGUAGE 109
