#include "larkon/shell/stubs.h"

namespace larkon {

void RegisterLauncher(BOOL) {}
void SetUpSystemGraphs() {}
void InitProcessList() {}
void RefreshSystemData() {}

}  // namespace larkon
