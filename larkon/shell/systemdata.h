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

}  // namespace larkon
