#include "larkon/shell/stubs.h"

namespace larkon {

void RegisterLauncher(BOOL) {}
void SetUpSystemGraphs() {}
void TakePerformanceSource() {}
void InitProcessList() {}
void RefreshSystemData() {}

}  // namespace larkon
