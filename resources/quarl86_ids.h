// Resource and control ids of the application runtime, shared by its resource
// script, its code and its tests.
#pragma once

#define IDI_QUARL_LANGUAGE 106

#define IDD_QUARL_SELECT_LANGUAGE 103
#define IDD_QUARL_LANGUAGE_SETTINGS 104

// Controls of both language dialogs.
#define IDC_QL_LIST 1005
#define IDC_QL_PROMPT 1021
#define IDC_QL_BAND 1024
#define IDC_QL_TITLE 1037
#define IDC_QL_ICON 1038
