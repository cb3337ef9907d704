#include "larkon/shell/startup.h"

#include <shellapi.h>
#include <shlwapi.h>

#include "dovrak/core.h"
#include "larkon/shell/stubs.h"
#include "larkon/shell/systemdata.h"
#include "quarl/appinfo.h"
#include "quarl/language.h"
#include "quarl/base/strfmt.h"
#include "quarl/regoptions.h"
#include "resources/larkon_ids.h"

namespace larkon {

BOOL g_fullAccess = FALSE;
kinetra::KN_LOADGAUGESOURCE* g_perfSource;

void TakePerformanceSource() { g_perfSource = kinetra::GetGlobalLoadGaugeSourcePtr(); }

UIL_LANGMODULE g_langModule;

#ifdef _WIN64
const wchar_t* const kEagerLibraries[4] = {L"shell32.dll", L"comdlg32.dll", L"linkgauge64.dll", L"kinetra64.dll"};
#else
const wchar_t* const kEagerLibraries[4] = {L"shell32.dll", L"comdlg32.dll", L"linkgauge.dll", L"kinetra.dll"};
#endif

BOOL RunWow64Twin(const wchar_t* commandLine, DWORD* exitCode) {
  wchar_t cmd[512];
  quarl::FormatW(cmd, 512, L"larkon64.exe %s", commandLine ? commandLine : L"");
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, cmd, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return FALSE;
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  *exitCode = code;
  return TRUE;
}

BOOL IsBuildInfoCommandLine(const wchar_t* commandLine) {
  return commandLine && PathMatchSpecW(commandLine, L"*/BUILDINFO*");
}

void FormatBuildInfo(wchar_t* buf, size_t cch, const wchar_t* sourceFile, int line, const wchar_t* function,
                     int build, const wchar_t* date, const wchar_t* time) {
  quarl::FormatW(buf, cch, L"Address:\t%s[%i]:%s\nBuild:\t\t%i\nTimestamp:\t%s (%s)", sourceFile, line, function,
                 build, date, time);
}

// ---- the real system ------------------------------------------------------------

namespace {

void RealStep(const wchar_t*) {
  // The start-up status window is never created; the texts only mark the steps.
}

BOOL RealIsElevated() {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return FALSE;
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  BOOL ok = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
  CloseHandle(token);
  return ok && elevation.TokenIsElevated;
}

HINSTANCE RealShellExecute(const wchar_t* verb, const wchar_t* file) {
  return ShellExecuteW(nullptr, verb, file, nullptr, nullptr, SW_SHOWNORMAL);
}

HMODULE RealLoadLibrary(const wchar_t* name) { return LoadLibraryW(name); }

int RealMessageBox(const wchar_t* text, const wchar_t* caption, UINT flags) {
  return MessageBoxW(nullptr, text, caption, flags);
}

BOOL RealShutdownWarning(const wchar_t* text) { return ShowShutdownWarning(nullptr, text); }

void RealExitProcess(UINT code) { ExitProcess(code); }

const STARTUP_ENV kRealEnv = {RealStep,        quarl::EnablePrivilege, RealIsElevated,
                              RealShellExecute, RealLoadLibrary,       RealMessageBox,
                              RealShutdownWarning, RealExitProcess,    quarl::SelectLanguageDialog};
const STARTUP_ENV* g_env = &kRealEnv;

}  // namespace

const STARTUP_ENV& RealStartupEnv() { return kRealEnv; }
void SetStartupEnv(const STARTUP_ENV* env) { g_env = env ? env : &kRealEnv; }

// ---- the sequence ---------------------------------------------------------------

void InitCompatibilityCore(HINSTANCE module, const wchar_t* commandLine, int showCommand) {
  BRVT_EXECORE* core = brvt::lpExeCore;
  if (!core) return;  // the library could not allocate it; the program runs without
  core->Init(module, commandLine, showCommand, L"Quenby Larkspan 5", L"Larkspan", L"larkon", L"5.1", 5101);
  core->SetBuildInfo(DWORD(kBuildNumber), TRUE, __DATE__, __TIME__);
}

void LoadLanguageComponents() {
  // Asked before any window exists, so that the choice applies to all of them.
  if (!quarl::LoadLangSettings()) g_env->selectLanguage(nullptr);
  g_langModule.Init(quarl::GetStoredInstance(), quarl::GetAppName(), quarl::GetAppCode(), quarl::GetCurrentLangID());
  g_langModule.SelectLanguage(quarl::GetCurrentLangID());
}

BOOL InitApplication() {
  const STARTUP_ENV& env = *g_env;

  env.step(L"Starting...");
  g_fullAccess = env.enablePrivilege(L"SeDebugPrivilege");
  // An elevated copy that still lacks the privilege must not ask again, or each
  // copy would start the next one for ever.
  if (!g_fullAccess && regOptions.GetOptionBOOL(L"RequestElevation", FALSE) && !env.isElevated()) {
    wchar_t self[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (reinterpret_cast<INT_PTR>(env.shellExecute(L"runas", self)) > 32) {
      env.exitProcess(0);
      return FALSE;
    }
  }

  env.step(L"Loading Language Components...");
  LoadLanguageComponents();

  env.step(L"Loading Program Components...");
  // Everything the program would otherwise bind on first use is bound now, so a
  // missing library is reported here and not by a fault in the middle of work.
  for (const wchar_t* name : kEagerLibraries) {
    if (!env.loadLibrary(name)) {
      env.messageBox(L"A component required for the execution of Larkspan was not found.\n"
                     L"Reinstall the application to resolve this problem.",
                     L"Larkspan", MB_OK | MB_ICONERROR | MB_SYSTEMMODAL);
      env.exitProcess(kExitMissingComponent);
      return FALSE;
    }
  }

  env.step(L"ShutdownPrivilege");
  if (!env.enablePrivilege(L"SeShutdownPrivilege") && !regOptions.GetOptionBOOL(L"ShutdownPrivilegeNoWarn", FALSE)) {
    BOOL noWarn = env.shutdownWarning(
        L"Larkspan was denied the Shutdown privilege. The application will run without problems but some "
        L"functionality may not be available.");
    regOptions.SetOptionBOOL(L"ShutdownPrivilegeNoWarn", noWarn);
  }

  env.step(L"Launcher");
  RegisterLauncher(regOptions.GetOptionBOOL(L"LaunchOnCAF", FALSE));

  env.step(L"SystemGraphs");
  SetUpSystemGraphs();

  env.step(L"PerformanceSource");
  TakePerformanceSource();

  env.step(g_langModule.GetLangString(IDS_INIT_PROCESS_LIST));
  InitProcessList();

  env.step(g_langModule.GetLangString(IDS_CREATE_THREADS));
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);

  env.step(g_langModule.GetLangString(IDS_LOADING));
  return TRUE;
}

}  // namespace larkon
