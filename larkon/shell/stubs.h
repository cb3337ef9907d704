// Start-up steps whose subsystems are not part of the program yet. Each keeps
// its place in the start-up order and is replaced when its subsystem lands.
#pragma once

#include <windows.h>

namespace larkon {

// The language module: every localized string, dialog and menu of the program,
// in the given language.
void InitLanguageModule(HINSTANCE module, const wchar_t* appName, const wchar_t* appCode, DWORD language);
// The launcher's registration (resident hot-key starter).
void RegisterLauncher(BOOL launchOnCtrlAltF11);
// Icon table, system counters and the CPU and memory history graphs.
void SetUpSystemGraphs();
// The library's global performance source.
void TakePerformanceSource();
// The live process list (its collector thread stays unstarted).
void InitProcessList();
// One pass of the system-wide data: process list, counters, tray image, graphs.
void RefreshSystemData();

// The warning box of the compatibility runtime: a heading over a text.
void ShowWarning(HWND owner, const wchar_t* heading, const wchar_t* text, const wchar_t* caption);

// Dialog 175: the denied shutdown privilege. Returns the "do not show this
// warning again" state.
BOOL ShowShutdownWarning(HWND owner, const wchar_t* text);

}  // namespace larkon
