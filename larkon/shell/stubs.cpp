#include "larkon/shell/stubs.h"

namespace larkon {

void RegisterLauncher(BOOL) {}
void SetUpSystemGraphs() {}

}  // namespace larkon
