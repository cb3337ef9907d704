#include "larkon/shell/stubs.h"

#include "quarl/base/strfmt.h"

namespace larkon {

void InitLanguageModule(HINSTANCE, const wchar_t*, const wchar_t*, DWORD) {}
void RegisterLauncher(BOOL) {}
void SetUpSystemGraphs() {}
void TakePerformanceSource() {}
void InitProcessList() {}
void RefreshSystemData() {}

void ShowWarning(HWND owner, const wchar_t* heading, const wchar_t* text, const wchar_t* caption) {
  wchar_t whole[1024];
  quarl::FormatW(whole, 1024, L"%s\n\n%s", heading, text);
  MessageBoxW(owner, whole, caption, MB_OK | MB_ICONWARNING);
}

}  // namespace larkon
