// Library-internal: the part of the library's start that must not run under the
// loader lock.
#pragma once

#include <windows.h>

// Runs once, on the first call of an entry point that starts a program's core:
// the library's own core and footprint, the common controls, and the report of
// a directory that could not be read.
void BRVT_StartLibrary();
// The library core's message box "The module has encountered an internal error."
// (the library is started first, so the box carries the runtime's name).
void BRVT_ReportInternalError();
// Set at process attach.
extern HINSTANCE g_brvtModule;
extern BOOL g_brvtWinDirFailed;
extern BOOL g_brvtSysDirFailed;
