// Resource ids of the language module tests' own resources (in the test program).
#pragma once

#define IDS_LM_BOTH 400
#define IDS_LM_ENGLISH_ONLY 401
#define IDS_LM_MISSING 402
#define IDS_LM_ENGLISH_BLOCK 480
#define IDD_LM_BOTH 500
#define IDD_LM_ENGLISH_ONLY 501
#define IDM_LM_BOTH 600
#define IDM_LM_ITEM 601
