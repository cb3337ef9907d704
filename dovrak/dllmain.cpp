#include <windows.h>

#include <new>

#include "dovrak/core.h"
#include "dovrak/libstart.h"
#include "dovrak/runtime.h"
#include "quarl/base/strfmt.h"

namespace {

HFONT MakeFont(int weight, BOOL underline, BOOL italic) {
  LOGFONTW lf = {};
  GetObjectW(GetStockObject(ANSI_VAR_FONT), sizeof lf, &lf);
  quarl::CopyW(lf.lfFaceName, LF_FACESIZE, L"Tahoma");
  lf.lfHeight = 13;
  lf.lfWidth = 0;
  lf.lfWeight = weight;
  lf.lfUnderline = BYTE(underline);
  lf.lfItalic = BYTE(italic);
  return CreateFontIndirectW(&lf);
}

BOOL ReadDirectory(UINT (WINAPI* read)(LPWSTR, UINT), wchar_t* out) {
  UINT n = read(out, 512);
  if (n == 0 || n >= 512) {
    out[0] = 0;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

// Under the loader lock only kernel32 and gdi32 work happens here (both are
// attached before this library). The registry footprint, the common controls
// and any message box wait for the program's first call (BRVT_StartLibrary).
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  DisableThreadLibraryCalls(instance);
  g_brvtModule = instance;

  BRVT_Brevant8Mutex = CreateMutexW(nullptr, TRUE, L"Quenby Brevant8 Loaded");
  BRVT_Brevant8VersionMutex = CreateMutexW(nullptr, TRUE, L"Quenby Brevant8 Version 8101");
  BRVT_BrevantMutex = CreateMutexW(nullptr, TRUE, L"Quenby Brevant Loaded");
  BRVT_BrevantVersionMutex = CreateMutexW(nullptr, TRUE, L"Quenby Brevant Version 8101");

  g_brvtWinDirFailed = !ReadDirectory(GetWindowsDirectoryW, BRVT_WinDir);
  g_brvtSysDirFailed = !ReadDirectory(GetSystemDirectoryW, BRVT_SysDir);

  BRVT_hWhite = CreateSolidBrush(RGB(255, 255, 255));
  BRVT_hBlack = CreateSolidBrush(RGB(0, 0, 0));
  BRVT_hFontNormal = MakeFont(FW_NORMAL, FALSE, FALSE);
  BRVT_hFontBold = MakeFont(FW_BOLD, FALSE, FALSE);
  BRVT_hFontUnderline = MakeFont(FW_NORMAL, TRUE, FALSE);
  BRVT_hFontItalic = MakeFont(FW_NORMAL, FALSE, TRUE);

  brvt::lpExeCore = new (std::nothrow) BRVT_EXECORE;
  return TRUE;
}
