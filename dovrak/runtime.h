// The compatibility runtime's process-wide data (set when the library loads) and
// its small start-up and window-text helpers.
#pragma once

#include <windows.h>

#include "dovrak/dovrakapi.h"

extern BRVT_API int BRVT_BrevantVersion;                 // 8101
extern BRVT_API wchar_t BRVT_BrevantVersionString[16];  // "8.1"
extern BRVT_API HANDLE BRVT_Brevant8Mutex;
extern BRVT_API HANDLE BRVT_Brevant8VersionMutex;
extern BRVT_API HANDLE BRVT_BrevantMutex;
extern BRVT_API HANDLE BRVT_BrevantVersionMutex;
extern BRVT_API wchar_t BRVT_WinDir[512];
extern BRVT_API wchar_t BRVT_SysDir[512];
extern BRVT_API HBRUSH BRVT_hWhite;
extern BRVT_API HBRUSH BRVT_hBlack;
extern BRVT_API HFONT BRVT_hFontNormal;
extern BRVT_API HFONT BRVT_hFontBold;
extern BRVT_API HFONT BRVT_hFontUnderline;
extern BRVT_API HFONT BRVT_hFontItalic;

// Set by BRVT_AppInit.
extern BRVT_API wchar_t BRVT_AppName[256];
extern BRVT_API wchar_t BRVT_AppCode[256];
extern BRVT_API int BRVT_AppVer;
extern BRVT_API HINSTANCE BRVT_AppInst;
extern BRVT_API HANDLE BRVT_AppMutex;
extern BRVT_API HANDLE BRVT_AppVerMutex;
extern BRVT_API BOOL BRVT_SecondCopyRunning;

// The older single-call start, with UTF-8 texts: "Quenby <name> Running"
// (initially owned; whether it existed is BRVT_SecondCopyRunning) and
// "Quenby <name> Version <n>". TRUE.
BRVT_API BOOL BRVT_AppInit(const char* name, const char* code, int versionNumber, HINSTANCE module);

// Font styles of BRVT_LoadFont; any other value gives the plain font.
constexpr int BRVT_FONT_BOLD = 1005;
constexpr int BRVT_FONT_UNDERLINE = 1006;
constexpr int BRVT_FONT_ITALIC = 1007;
// The system's variable-pitch font with the given face (UTF-8, up to 31
// characters) and height; the caller owns it.
BRVT_API HFONT BRVT_LoadFont(const char* faceName, int style, int height);
BRVT_API void BRVT_SetWindowFont(HWND window, HFONT font, BOOL redraw);

// Set the text only when it differs from the current one (the whole text is
// compared, exactly), so an unchanged text does not flicker. TRUE when equal or
// set; FALSE without memory or when setting fails.
BRVT_API BOOL BRVT_SetWindowText(HWND window, const wchar_t* text);
BRVT_API BOOL BRVT_SetDlgItemText(HWND dialog, int id, const wchar_t* text);
