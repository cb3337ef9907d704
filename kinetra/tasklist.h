// The older process table with free functions: one global table kept current by
// a framework thread. Exported for callers of the old interface; the programs of
// the suite use the live process list instead.
#pragma once

#include <windows.h>

#include "kinetra/kinetraapi.h"

constexpr int kTaskListSlots = 164;

struct TL_TASKRECORD {
  DWORD pid;
  DWORD parentPid;
  wchar_t imageName[256];
};

struct TL_TASKLIST {
  int count;
  TL_TASKRECORD records[kTaskListSlots];
};

// Fills the table from a toolhelp snapshot (the idle process left out, at most
// kTaskListSlots processes); true.
KINETRA_API BOOL TL_CreateNullList(TL_TASKLIST* table);
// Fills the global table and starts the framework thread; true.
KINETRA_API BOOL TL_InitFramework();
// Starts the framework thread; true when it runs.
KINETRA_API BOOL TLI_InitDataCollectorThread();
// Asks the framework thread to end and waits for it; true.
KINETRA_API BOOL TLI_StopDataCollectorThread();

// A null table means the global one.
KINETRA_API int TL_ListGetItemIDbyPID(DWORD pid, TL_TASKLIST* table);
KINETRA_API int TL_ListGetItemCount(TL_TASKLIST* table);
KINETRA_API BOOL TL_ListDeleteItem(int index, TL_TASKLIST* table);
// False for a null record or a full table.
KINETRA_API BOOL TL_ListAddItem(const TL_TASKRECORD* record, TL_TASKLIST* table);

KINETRA_API BOOL TLI_IsFrameworkLocked();
// Takes the framework lock, waiting while another holder has it.
KINETRA_API void TLI_LockFramework();
KINETRA_API void TLI_UnlockFramework();
