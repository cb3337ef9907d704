#include "quarl/fatalerror.h"

#include "quarl/appinfo.h"
#include "quarl/base/strfmt.h"

namespace quarl {

static PFN_FatalErrorHook g_fatalHook = nullptr;

PFN_FatalErrorHook SetFatalErrorHook(PFN_FatalErrorHook fn) {
  PFN_FatalErrorHook old = g_fatalHook;
  g_fatalHook = fn;
  return old;
}

static void ShowAndEnd(const wchar_t* text, void* codeAddress, DWORD errorCode) {
  if (g_fatalHook) {
    g_fatalHook(text, codeAddress, errorCode);
    return;
  }
  MessageBoxW(nullptr, text, wcAppNameFull[0] ? wcAppNameFull : L"Error",
              MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
  ExitProcess(kExitFatalError);
}

void ReportFatalError(const wchar_t* message) { ShowAndEnd(message, nullptr, 0); }

void ReportFatalError(const wchar_t* message, void* codeAddress, DWORD errorCode) {
  wchar_t sys[256] = L"";
  FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, errorCode, 0,
                 sys, 256, nullptr);
  wchar_t text[512];
  FormatW(text, 512, L"%s (0x%p)\r\n\r\n%u: %s", message, codeAddress, unsigned(errorCode), sys);
  ShowAndEnd(text, codeAddress, errorCode);
}

}  // namespace quarl
