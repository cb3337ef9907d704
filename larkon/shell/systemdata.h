// The system-wide data the refresh worker renews every cycle.
#pragma once

#include "kinetra/processlist.h"

namespace larkon {

// The live process list behind the main window's list. Its own collector thread
// stays unstarted: the refresh worker takes every pass.
extern TL_PROCESSLIST g_processList;
void InitProcessList();
// One pass of the system-wide data (the process list first).
void RefreshSystemData();
// Held by each pass: a reader of the whole list (a list refresh) takes it so that
// no pass changes the list between its getters.
void LockSystemData();
BOOL TryLockSystemData();
void UnlockSystemData();

}  // namespace larkon
