#include "larkon/shell/systemdata.h"

namespace larkon {

TL_PROCESSLIST g_processList;

void InitProcessList() { g_processList.Init(); }

void RefreshSystemData() { g_processList.Update(); }

}  // namespace larkon
