#include "dovrak/runtime.h"

#include <commctrl.h>

#include <string>

#include "dovrak/core.h"
#include "dovrak/libstart.h"
#include "quarl/base/controls.h"
#include "quarl/base/once.h"
#include "quarl/base/strfmt.h"

BRVT_API int BRVT_BrevantVersion = 8101;
BRVT_API wchar_t BRVT_BrevantVersionString[16] = L"8.1";
BRVT_API HANDLE BRVT_Brevant8Mutex;
BRVT_API HANDLE BRVT_Brevant8VersionMutex;
BRVT_API HANDLE BRVT_BrevantMutex;
BRVT_API HANDLE BRVT_BrevantVersionMutex;
BRVT_API wchar_t BRVT_WinDir[512];
BRVT_API wchar_t BRVT_SysDir[512];
BRVT_API HBRUSH BRVT_hWhite;
BRVT_API HBRUSH BRVT_hBlack;
BRVT_API HFONT BRVT_hFontNormal;
BRVT_API HFONT BRVT_hFontBold;
BRVT_API HFONT BRVT_hFontUnderline;
BRVT_API HFONT BRVT_hFontItalic;

BRVT_API wchar_t BRVT_AppName[256];
BRVT_API wchar_t BRVT_AppCode[256];
BRVT_API int BRVT_AppVer;
BRVT_API HINSTANCE BRVT_AppInst;
BRVT_API HANDLE BRVT_AppMutex;
BRVT_API HANDLE BRVT_AppVerMutex;
BRVT_API BOOL BRVT_SecondCopyRunning;

HINSTANCE g_brvtModule;
BOOL g_brvtWinDirFailed;
BOOL g_brvtSysDirFailed;

namespace {

volatile LONG g_startOnce;
BRVT_DLLCORE g_libraryCore;

std::wstring Widen(const char* utf8) {
  if (!utf8 || !*utf8) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring w(size_t(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8, -1, &w[0], n);
  w.resize(size_t(n - 1));
  return w;
}

}  // namespace

void BRVT_StartLibrary() {
  quarl::RunOnce(&g_startOnce, [] {
    g_libraryCore.Init(g_brvtModule, L"Quenby Brevant 8", L"Brevant 8", L"Brevant", L"8.1", 8101);
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    const wchar_t* caption = L"Quenby Brevant 8 DLL";
    if (g_brvtWinDirFailed)
      MessageBoxW(nullptr,
                  L"Brevant has failed to locate the Windows directory.\nThis application might not run properly.",
                  caption, MB_OK | MB_ICONERROR);
    if (g_brvtSysDirFailed)
      MessageBoxW(nullptr,
                  L"Brevant has failed to locate the System directory.\nThis application might not run properly.",
                  caption, MB_OK | MB_ICONERROR);
  });
}

void BRVT_ReportInternalError() {
  BRVT_StartLibrary();
  g_libraryCore.InternalError();
}

BOOL BRVT_AppInit(const char* name, const char* code, int versionNumber, HINSTANCE module) {
  BRVT_StartLibrary();
  quarl::CopyW(BRVT_AppName, 256, Widen(name).c_str());
  quarl::CopyW(BRVT_AppCode, 256, Widen(code).c_str());
  BRVT_AppVer = versionNumber;
  BRVT_AppInst = module;
  wchar_t mutexName[320];
  quarl::FormatW(mutexName, 320, L"Quenby %s Running", BRVT_AppName);
  BRVT_AppMutex = CreateMutexW(nullptr, TRUE, mutexName);
  BRVT_SecondCopyRunning = BRVT_AppMutex && GetLastError() == ERROR_ALREADY_EXISTS;
  quarl::FormatW(mutexName, 320, L"Quenby %s Version %i", BRVT_AppName, versionNumber);
  BRVT_AppVerMutex = CreateMutexW(nullptr, FALSE, mutexName);
  return TRUE;
}

HFONT BRVT_LoadFont(const char* faceName, int style, int height) {
  LOGFONTW lf = {};
  GetObjectW(GetStockObject(ANSI_VAR_FONT), sizeof lf, &lf);
  quarl::CopyW(lf.lfFaceName, LF_FACESIZE, Widen(faceName).c_str());
  lf.lfHeight = height;
  lf.lfWidth = 0;
  lf.lfWeight = style == BRVT_FONT_BOLD ? FW_BOLD : FW_NORMAL;
  lf.lfUnderline = style == BRVT_FONT_UNDERLINE;
  lf.lfItalic = style == BRVT_FONT_ITALIC;
  return CreateFontIndirectW(&lf);
}

void BRVT_SetWindowFont(HWND window, HFONT font, BOOL redraw) {
  SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), MAKELPARAM(redraw, 0));
}

BOOL BRVT_SetWindowText(HWND window, const wchar_t* text) {
  return quarl::base::SetWindowTextWhenChanged(
      window, text, [](const wchar_t* current, const wchar_t* wanted) { return wcscmp(current, wanted) == 0; });
}

BOOL BRVT_SetDlgItemText(HWND dialog, int id, const wchar_t* text) {
  return BRVT_SetWindowText(GetDlgItem(dialog, id), text);
}
