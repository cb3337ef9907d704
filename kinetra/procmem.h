// Readers of facts another process keeps in its own memory: its image path, its
// command line, its modules and its environment block. Capacities are in bytes;
// every text result is terminated and cut to the capacity.
#pragma once

#include <windows.h>

#include <tlhelp32.h>

#include <cstddef>

#include "kinetra/kinetraapi.h"

// The normalised image path: the first of the three methods below that works,
// with "\??\" and "\SystemRoot\" resolved and the case tidied.
KINETRA_API BOOL PDM_GetProcessPath(DWORD pid, wchar_t* buf, DWORD capacity);
// The Win32 path the system gives for a process opened with limited rights.
KINETRA_API BOOL PDM_GetProcessPathLimited(DWORD pid, wchar_t* buf, DWORD capacity);
// The image path name from the process parameters in the target's memory.
KINETRA_API BOOL PDM_GetProcessPathVMRead(DWORD pid, wchar_t* buf, DWORD capacity);
// The long path of the first module; false while the process is still starting.
KINETRA_API BOOL PDM_GetProcessPathByModule(DWORD pid, wchar_t* buf, DWORD capacity);
// The command line from the process parameters; false while the process is still
// starting.
KINETRA_API BOOL PDM_GetProcessCmdLine(DWORD pid, wchar_t* buf, DWORD capacity);
// The module at that position of a module snapshot; false past the end.
KINETRA_API BOOL PDM_GetProcessModule(DWORD pid, DWORD index, MODULEENTRY32W* entry);
// Two calls: without a buffer, stores the block's size (at most 8192 bytes); with
// one of at least that size, reads the block into it.
KINETRA_API BOOL PDM_GetProcessEnvironmentBlock(DWORD pid, void* buffer, DWORD* size);

namespace kinetra {

// The front end of PDM_GetProcessPath on its own: resolves the native prefixes
// and tidies the case, in place.
KINETRA_API void NormalizeImagePath(wchar_t* path, size_t cch);

// The process parameters a reader found in a target, at the target's own width.
struct KN_PARAMETERS_VIEW {
  ULONGLONG imagePath;
  USHORT imagePathBytes;
  ULONGLONG commandLine;
  USHORT commandLineBytes;
  ULONGLONG environment;
};

// Finds the parameters of an opened process (query and read rights). A 64-bit
// reader reads a 32-bit target's own 32-bit parameters; a 32-bit reader cannot
// read a 64-bit target and says so (ERROR_NOT_SUPPORTED).
KINETRA_API BOOL ReadProcessParameters(HANDLE process, KN_PARAMETERS_VIEW* out);

}  // namespace kinetra
