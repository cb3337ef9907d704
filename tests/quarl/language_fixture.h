// Resource ids of the language tests' own resources (in the test program).
#pragma once

#define IDS_FX_ENGLISH_ONLY 400
#define IDS_FX_LONG 401
#define IDS_FX_LAST 415
#define IDS_FX_MISSING 403
#define IDD_FX_BOTH 500
#define IDD_FX_ENGLISH_ONLY 501
#define IDM_FX_BOTH 600
#define IDM_FX_ITEM 601
