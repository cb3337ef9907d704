// Start-up of the main program: the 64-bit twin relaunch, the build-information
// command, and the ordered start-up sequence before the main window exists.
#pragma once

#include <windows.h>

#include "dovrak/langmodule.h"
#include "kinetra/loadgauge.h"

namespace larkon {

constexpr int kBuildNumber = 8548;
constexpr UINT kExitMissingComponent = 1157;

// Starts "larkon64.exe <commandLine>" (found by the system's search order, which
// begins with this program's folder), waits for it and returns TRUE with its exit
// code. FALSE when the twin could not be started: the caller runs on itself.
BOOL RunWow64Twin(const wchar_t* commandLine, DWORD* exitCode);

// Whether the whole command line matches the shell wildcard "*/BUILDINFO*".
BOOL IsBuildInfoCommandLine(const wchar_t* commandLine);
// The text of the build-information box.
void FormatBuildInfo(wchar_t* buf, size_t cch, const wchar_t* sourceFile, int line, const wchar_t* function,
                     int build, const wchar_t* date, const wchar_t* time);

// What the start-up sequence does to the system, replaceable for tests.
struct STARTUP_ENV {
  // Called with the status text (or the name) of each step as it begins.
  void (*step)(const wchar_t* name);
  BOOL (*enablePrivilege)(const wchar_t* privilege);
  BOOL (*isElevated)();
  HINSTANCE (*shellExecute)(const wchar_t* verb, const wchar_t* file);
  HMODULE (*loadLibrary)(const wchar_t* name);
  int (*messageBox)(const wchar_t* text, const wchar_t* caption, UINT flags);
  // Shows the shutdown-privilege warning; returns the "do not show again" state.
  BOOL (*shutdownWarning)(const wchar_t* text);
  void (*exitProcess)(UINT code);
  // The first-run language choice, asked when no language is stored.
  BOOL (*selectLanguage)(HWND owner);
};

// The real system; SetStartupEnv(nullptr) returns to it.
const STARTUP_ENV& RealStartupEnv();
void SetStartupEnv(const STARTUP_ENV* env);

// Set by the start-up sequence: whether SeDebugPrivilege could be enabled.
extern BOOL g_fullAccess;

// The compatibility core: identity, mutexes, registry footprint and version
// string of the program, on the core object the compatibility runtime provides.
void InitCompatibilityCore(HINSTANCE module, const wchar_t* commandLine, int showCommand);

// Every string, dialog and menu of the program, in the language of this run.
extern UIL_LANGMODULE g_langModule;

// The library's performance source, taken (and so initialised) at start-up
// rather than by the first refresh.
extern kinetra::KN_LOADGAUGESOURCE* g_perfSource;
void TakePerformanceSource();

// The stored language, or the user's first-run choice when none is stored; then
// the language module, told the same language for the next start.
void LoadLanguageComponents();

// The start-up sequence; TRUE when the program goes on to its main window. (It
// ends the process itself after an accepted elevated start or when a component
// is missing; with a test environment that returns from exitProcess, it then
// returns FALSE.)
BOOL InitApplication();

// The 32-bit names of the libraries bound eagerly at start-up, in the 64-bit
// build their 64-bit names.
extern const wchar_t* const kEagerLibraries[4];

}  // namespace larkon
