#include <windows.h>

#include "quarl/appinfo.h"

namespace {

HFONT MakeFont(int weight, BOOL underline) {
  return CreateFontW(13, 0, 0, 0, weight, FALSE, underline, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");
}

}  // namespace

// Only gdi32 work happens here, and gdi32 is attached before this library; every
// other piece of set-up is done on first use.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    quarl::hInstQUARLDll = instance;
    quarl::hFontBold = MakeFont(FW_BOLD, FALSE);
    quarl::hFontNormal = MakeFont(FW_NORMAL, FALSE);
    quarl::hFontUnderline = MakeFont(FW_NORMAL, TRUE);
  }
  return TRUE;
}
