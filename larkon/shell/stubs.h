// Start-up steps whose subsystems are not part of the program yet. Each keeps
// its place in the start-up order and is replaced when its subsystem lands.
#pragma once

#include <windows.h>

namespace larkon {

// The launcher's registration (resident hot-key starter).
void RegisterLauncher(BOOL launchOnCtrlAltF11);
// Icon table, system counters and the CPU and memory history graphs.
void SetUpSystemGraphs();

// Dialog 175: the denied shutdown privilege. Returns the "do not show this
// warning again" state.
BOOL ShowShutdownWarning(HWND owner, const wchar_t* text);

}  // namespace larkon
