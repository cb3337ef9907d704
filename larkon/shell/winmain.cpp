// Entry point of the main program.
#include <windows.h>
#include <objbase.h>

#include "dovrak/skyren.h"
#include "larkon/shell/mainwindow.h"
#include "larkon/shell/startup.h"
#include "larkon/shell/stubs.h"
#include "quarl/appinfo.h"
#include "quarl/base/strfmt.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int showCommand) {
  const wchar_t* commandLine = GetCommandLineW();

  // A 32-bit copy on a 64-bit system hands over to its twin and passes its exit
  // code on; without a twin it runs itself.
  if (quarl::IsProcessInWow64()) {
    DWORD code;
    if (larkon::RunWow64Twin(commandLine, &code)) return int(code);
  }

  quarl::SetAppInfo(L"Quenby Larkspan 5", L"Larkspan", L"5.1", 5101, L"larkon");
  quarl::SetBuildInfo(__DATE__, __TIME__, larkon::kBuildNumber);
  quarl::SetStoredInstance(instance);
  quarl::PostInit();

  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);

  if (larkon::IsBuildInfoCommandLine(commandLine)) {
    wchar_t text[368];
    larkon::FormatBuildInfo(text, 368, L"winmain.cpp", __LINE__, L"wWinMain", larkon::kBuildNumber,
                            quarl::wcBuildDate, quarl::wcBuildTime);
    SKRN_ShowWarning(nullptr, L"Build Information", text, L"Quenby Larkspan");
    return 0;
  }

  larkon::InitCompatibilityCore(instance, commandLine, showCommand);
  if (!larkon::InitApplication()) return 0;
  larkon::RunMainWindow(showCommand);
  return 0;
}
