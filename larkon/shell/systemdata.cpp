#include "larkon/shell/systemdata.h"

namespace larkon {
namespace {

struct PassLock {
  CRITICAL_SECTION cs;
  PassLock() { InitializeCriticalSection(&cs); }
  ~PassLock() { DeleteCriticalSection(&cs); }
};
PassLock g_pass;

}  // namespace

TL_PROCESSLIST g_processList;

void InitProcessList() { g_processList.Init(); }

void RefreshSystemData() {
  LockSystemData();
  g_processList.Update();
  UnlockSystemData();
}

void LockSystemData() { EnterCriticalSection(&g_pass.cs); }
BOOL TryLockSystemData() { return TryEnterCriticalSection(&g_pass.cs); }
void UnlockSystemData() { LeaveCriticalSection(&g_pass.cs); }

}  // namespace larkon
