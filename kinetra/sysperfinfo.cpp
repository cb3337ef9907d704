#include "kinetra/sysperfinfo.h"

#include "quarl/base/procaddr.h"

namespace kinetra {
namespace {

constexpr LONG kStatusSuccess = 0;
constexpr double kTicksPerSecond = 10000000.0;

SYSPERF_QUERY_FN g_queryOverride;
SYSPERF_POWER_FN g_powerOverride;

template <class T>
T Exchange(T* slot, T fn) {
  return reinterpret_cast<T>(InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(slot),
                                                        reinterpret_cast<PVOID>(fn)));
}

double Clamp(double v) { return v < 0.0 ? 0.0 : (v > 100.0 ? 100.0 : v); }

// Rates over very short intervals can exceed what 32 bits hold; converting such
// a double would be undefined, so they saturate.
DWORD Saturate(double v) {
  if (!(v > 0.0)) return 0;
  if (v >= 4294967295.0) return 0xFFFFFFFF;
  return DWORD(v);
}

double Delta(const LARGE_INTEGER& now, const LARGE_INTEGER& then) {
  return double(ULONGLONG(now.QuadPart) - ULONGLONG(then.QuadPart));
}

template <class T>
BOOL QueryExact(SYSPERF_QUERY_FN query, ULONG infoClass, T* out) {
  ULONG got = 0;
  return query(infoClass, out, ULONG(sizeof(T)), &got) == kStatusSuccess;
}

}  // namespace

SYSPERF_QUERY_FN SetSysPerfQueryOverride(SYSPERF_QUERY_FN fn) { return Exchange(&g_queryOverride, fn); }
SYSPERF_POWER_FN SetSysPerfPowerOverride(SYSPERF_POWER_FN fn) { return Exchange(&g_powerOverride, fn); }

_SYSPERFINFO::_SYSPERFINFO() {
  ZeroMemory(static_cast<void*>(this), sizeof *this);
  Init();
}

_SYSPERFINFO::~_SYSPERFINFO() { Release(); }

void _SYSPERFINFO::Release() {
  HANDLE heap = GetProcessHeap();
  if (cpus_) HeapFree(heap, 0, cpus_);
  if (cpusNext_) HeapFree(heap, 0, cpusNext_);
  if (powerInfo_) HeapFree(heap, 0, powerInfo_);
  if (lockReady_) DeleteCriticalSection(&lock_);
  ZeroMemory(static_cast<void*>(this), sizeof *this);
}

BOOL _SYSPERFINFO::Init() {
  // A second Init starts over; what the first one owned is released, not leaked.
  Release();

  HMODULE nt = GetModuleHandleW(L"ntdll.dll");
  SYSPERF_QUERY_FN over = g_queryOverride;
  query_ = over ? over : quarl::BindProc<SYSPERF_QUERY_FN>(nt, "NtQuerySystemInformation");
  getGuiResources_ = quarl::BindProc<SYSPERF_GUIRES_FN>(GetModuleHandleW(L"user32.dll"), "GetGuiResources");
  getIoCounters_ = quarl::BindProc<SYSPERF_IOCOUNTERS_FN>(GetModuleHandleW(L"kernel32.dll"), "GetProcessIoCounters");
  SYSPERF_POWER_FN powerOver = g_powerOverride;
  if (powerOver) {
    power_ = powerOver;
  } else {
    HMODULE pp = GetModuleHandleW(L"powrprof.dll");
    if (!pp) pp = LoadLibraryW(L"powrprof.dll");  // kept loaded: the object has no end
    power_ = quarl::BindProc<SYSPERF_POWER_FN>(pp, "CallNtPowerInformation");
  }
  if (!query_) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }

  InitializeCriticalSection(&lock_);
  lockReady_ = TRUE;
  if (!QueryExact(query_, kSystemBasicInformation, &basic_) || basic_.NumberOfProcessors == 0) {
    ZeroMemory(&basic_, sizeof basic_);
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  const SIZE_T bytes = SIZE_T(basic_.NumberOfProcessors) * sizeof(CPUREC);
  HANDLE heap = GetProcessHeap();
  cpus_ = static_cast<CPUREC*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, bytes));
  cpusNext_ = static_cast<CPUREC*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, bytes));
  if (!cpus_ || !cpusNext_) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  status_ = 1;
  // The first figures the caller reads then cover the time since Init.
  Update();
  return TRUE;
}

BOOL _SYSPERFINFO::Update() {
  if (status_ != 1) return FALSE;
  EnterCriticalSection(&lock_);
  const BYTE n = basic_.NumberOfProcessors;
  // Everything is read into fresh records first: one failed query must leave the
  // last successful refresh whole, as the base of the next one.
  KN_SYSTEM_PERFORMANCE_INFORMATION perf;
  KN_SYSTEM_FILECACHE_INFORMATION cache;
  KN_SYSTEM_TIMEOFDAY_INFORMATION now;
  ULONG got = 0;
  BOOL ok = QueryExact(query_, kSystemPerformanceInformation, &perf) &&
            QueryExact(query_, kSystemFileCacheInformation, &cache) &&
            query_(kSystemProcessorPerformanceInformation, cpusNext_, ULONG(n * sizeof(CPUREC)), &got) ==
                kStatusSuccess &&
            QueryExact(query_, kSystemTimeOfDayInformation, &now);
  if (!ok) {
    LeaveCriticalSection(&lock_);
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  Compute(perf, now, cpusNext_);
  perf_ = perf;
  cache_ = cache;
  time_ = now;
  CPUREC* swap = cpus_;
  cpus_ = cpusNext_;
  cpusNext_ = swap;
  RefreshPower();
  LeaveCriticalSection(&lock_);
  return TRUE;
}

// The shares are kept as the system's figures give them: a processor's kernel
// time includes its idle time, and the user share is divided by the processor
// count for each processor as well as in total.
void _SYSPERFINFO::Compute(const KN_SYSTEM_PERFORMANCE_INFORMATION& perf, const KN_SYSTEM_TIMEOFDAY_INFORMATION& now,
                           const CPUREC* cpus) {
  const BYTE n = basic_.NumberOfProcessors;
  ULONGLONG ticks = ULONGLONG(now.CurrentTime.QuadPart) - ULONGLONG(time_.CurrentTime.QuadPart);
  if (ticks == 0) ticks = 1;  // two refreshes within one tick of the system clock
  const double t = double(ticks);
  const double cores = double(n);

  double kernel = 0, user = 0, dpc = 0, intr = 0;
  for (BYTE i = 0; i < n; ++i) {
    const CPUREC& c = cpus[i];
    const CPUREC& p = cpus_[i];
    const double dIdle = Delta(c.IdleTime, p.IdleTime);
    const double dKernel = Delta(c.KernelTime, p.KernelTime);
    const double dUser = Delta(c.UserTime, p.UserTime);
    const double dDpc = Delta(c.DpcTime, p.DpcTime);
    const double dIntr = Delta(c.InterruptTime, p.InterruptTime);
    kernel += dKernel;
    user += dUser;
    dpc += dDpc;
    intr += dIntr;
    if (i < kCoreSlots) {
      coreUsage_[i] = 100.0 - Clamp(100.0 * dIdle / t);
      coreDpc_[i] = Clamp(100.0 * dDpc / t);
      coreInterrupt_[i] = Clamp(100.0 * dIntr / t);
      coreUser_[i] = 100.0 - Clamp(100.0 * dUser / t / cores);
      coreKernel_[i] = 100.0 - Clamp(100.0 * dKernel / t);
    }
  }
  const double idle = Delta(perf.IdleProcessTime, perf_.IdleProcessTime);
  cpuUsage_ = 100.0 - Clamp(100.0 * idle / t / cores);
  dpc_ = Clamp(100.0 * dpc / t / cores);
  interrupt_ = Clamp(100.0 * intr / t / cores);
  user_ = 100.0 - Clamp(100.0 * user / t / cores);
  kernel_ = 100.0 - Clamp(100.0 * kernel / t / cores);
  systemUsage_ = Clamp(kernel_ - interrupt_ - dpc_);

  // Per second: a count over the interval, scaled by ticks per second (the same
  // as dividing by the seconds, without the rounding of 1e-7).
  auto perSecond = [t](double delta) { return Saturate(delta * kTicksPerSecond / t); };
  contextSwitches_ = perSecond(DWORD(perf.ContextSwitches - perf_.ContextSwitches));
  ioRead_ = perSecond(DWORD(perf.IoReadOperationCount - perf_.IoReadOperationCount));
  ioWrite_ = perSecond(DWORD(perf.IoWriteOperationCount - perf_.IoWriteOperationCount));
  ioOther_ = perSecond(DWORD(perf.IoOtherOperationCount - perf_.IoOtherOperationCount));
  ioReadBytes_ = perSecond(Delta(perf.IoReadTransferCount, perf_.IoReadTransferCount));
  ioWriteBytes_ = perSecond(Delta(perf.IoWriteTransferCount, perf_.IoWriteTransferCount));
  ioOtherBytes_ = perSecond(Delta(perf.IoOtherTransferCount, perf_.IoOtherTransferCount));

  pageFaults_ = perf.PageFaultCount - perf_.PageFaultCount;
  pagesRead_ = perf.PageReadIoCount - perf_.PageReadIoCount;
  pagesWritten_ = perf.DirtyWriteIoCount - perf_.DirtyWriteIoCount;
  pagedAllocs_ = perf.PagedPoolAllocs - perf_.PagedPoolAllocs;
  pagedFrees_ = perf.PagedPoolFrees - perf_.PagedPoolFrees;
  systemCalls_ = perf.SystemCalls - perf_.SystemCalls;
  transition_ = perf.TransitionCount - perf_.TransitionCount;
  demandZero_ = perf.DemandZeroCount - perf_.DemandZeroCount;
}

void _SYSPERFINFO::RefreshPower() {
  const BYTE n = basic_.NumberOfProcessors;
  if (!powerInfo_) {
    powerInfo_ = static_cast<KN_PROCESSOR_POWER_INFORMATION*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, n * sizeof(KN_PROCESSOR_POWER_INFORMATION)));
    powerBytes_ = powerInfo_ ? DWORD(n * sizeof(KN_PROCESSOR_POWER_INFORMATION)) : 0;
  }
  if (!powerInfo_ || !power_) return;
  // Filled aside, so a failed call keeps the clocks of the last good one.
  KN_PROCESSOR_POWER_INFORMATION fresh[256];
  if (power_(POWER_INFORMATION_LEVEL(kProcessorPowerInformationLevel), nullptr, 0, fresh, powerBytes_) ==
      kStatusSuccess)
    CopyMemory(powerInfo_, fresh, powerBytes_);
}

BOOL _SYSPERFINFO::Enter() {
  if (status_ != 1) return FALSE;
  EnterCriticalSection(&lock_);
  return TRUE;
}

DWORD _SYSPERFINFO::Locked(const DWORD& field) {
  if (!Enter()) return 0;
  DWORD v = field;
  LeaveCriticalSection(&lock_);
  return v;
}

double _SYSPERFINFO::Locked(const double& field) {
  if (!Enter()) return 0.0;
  double v = field;
  LeaveCriticalSection(&lock_);
  return v;
}

double _SYSPERFINFO::LockedCore(const double* row, BYTE core) {
  if (core >= kCoreSlots) return 0.0;
  return Locked(row[core]);
}

BYTE _SYSPERFINFO::GetProcessorCount() {
  if (!Enter()) return 0;
  BYTE v = basic_.NumberOfProcessors;
  LeaveCriticalSection(&lock_);
  return v;
}

DWORD _SYSPERFINFO::GetPhysicalPageCount() { return Locked(basic_.NumberOfPhysicalPages); }
DWORD _SYSPERFINFO::GetPhysicalPageSize() { return Locked(basic_.PageSize); }

double _SYSPERFINFO::GetCPUUsage() { return Locked(cpuUsage_); }
double _SYSPERFINFO::GetSystemCPUUsage() { return Locked(systemUsage_); }
double _SYSPERFINFO::GetDPCCPUUsage() { return Locked(dpc_); }
double _SYSPERFINFO::GetInterruptCPUUsage() { return Locked(interrupt_); }
double _SYSPERFINFO::GetKERNELModePercent() { return Locked(kernel_); }
double _SYSPERFINFO::GetUSERModePercent() { return Locked(user_); }

double _SYSPERFINFO::GetCoreCPUUsage(BYTE core) { return LockedCore(coreUsage_, core); }
double _SYSPERFINFO::GetCoreSystemCPUUsage(BYTE core) { return LockedCore(coreSystem_, core); }
double _SYSPERFINFO::GetCoreDPCCPUUsage(BYTE core) { return LockedCore(coreDpc_, core); }
double _SYSPERFINFO::GetCoreInterruptCPUUsage(BYTE core) { return LockedCore(coreInterrupt_, core); }
double _SYSPERFINFO::GetCoreKERNELModePercent(BYTE core) { return LockedCore(coreKernel_, core); }
double _SYSPERFINFO::GetCoreUSERModePercent(BYTE core) { return LockedCore(coreUser_, core); }

DWORD _SYSPERFINFO::GetCoreFrequencyCurrentMHz(BYTE core) {
  if (!Enter()) return 0;
  DWORD v = core < powerBytes_ / sizeof(KN_PROCESSOR_POWER_INFORMATION) ? powerInfo_[core].CurrentMhz : 0;
  LeaveCriticalSection(&lock_);
  return v;
}

DWORD _SYSPERFINFO::GetCoreFrequencyMaximumMHz(BYTE core) {
  if (!Enter()) return 0;
  DWORD v = core < powerBytes_ / sizeof(KN_PROCESSOR_POWER_INFORMATION) ? powerInfo_[core].MaxMhz : 0;
  LeaveCriticalSection(&lock_);
  return v;
}

#define KN_PAGES_KB(getter, expr)     \
  DWORD _SYSPERFINFO::getter() {      \
    if (!Enter()) return 0;           \
    DWORD v = PagesToKB(expr);        \
    LeaveCriticalSection(&lock_);     \
    return v;                         \
  }
KN_PAGES_KB(GetCommitChargeTotalKB, perf_.CommittedPages)
KN_PAGES_KB(GetCommitChargeLimitKB, perf_.CommitLimit)
KN_PAGES_KB(GetCommitChargePeakKB, perf_.PeakCommitment)
KN_PAGES_KB(GetKernelMemoryPagedKB, perf_.PagedPoolPages)
KN_PAGES_KB(GetKernelMemoryNonPagedKB, perf_.NonPagedPoolPages)
KN_PAGES_KB(GetKernelMemoryTotalKB, perf_.PagedPoolPages + perf_.NonPagedPoolPages)
KN_PAGES_KB(GetPhysicalMemoryTotalKB, basic_.NumberOfPhysicalPages)
KN_PAGES_KB(GetPhysicalMemoryAvailableKB, perf_.AvailablePages)
#undef KN_PAGES_KB

DWORD _SYSPERFINFO::GetPhysicalMemorySystemCacheKB() {
  if (!Enter()) return 0;
  DWORD v = DWORD(cache_.CurrentSize / 1024);
  LeaveCriticalSection(&lock_);
  return v;
}

DWORD _SYSPERFINFO::GetContextSwitchDelta() { return Locked(contextSwitches_); }
DWORD _SYSPERFINFO::GetIOReadDelta() { return Locked(ioRead_); }
DWORD _SYSPERFINFO::GetIOWriteDelta() { return Locked(ioWrite_); }
DWORD _SYSPERFINFO::GetIOOtherDelta() { return Locked(ioOther_); }
DWORD _SYSPERFINFO::GetIOReadTransferDelta() { return Locked(ioReadBytes_); }
DWORD _SYSPERFINFO::GetIOWriteTransferDelta() { return Locked(ioWriteBytes_); }
DWORD _SYSPERFINFO::GetIOOtherTransferDelta() { return Locked(ioOtherBytes_); }
DWORD _SYSPERFINFO::GetPagefaultDelta() { return Locked(pageFaults_); }
DWORD _SYSPERFINFO::GetPagesReadDelta() { return Locked(pagesRead_); }
DWORD _SYSPERFINFO::GetPagesWrittenDelta() { return Locked(pagesWritten_); }
DWORD _SYSPERFINFO::GetPagedPoolAllocDelta() { return Locked(pagedAllocs_); }
DWORD _SYSPERFINFO::GetPagedPoolFreeDelta() { return Locked(pagedFrees_); }
DWORD _SYSPERFINFO::GetSystemCallsDelta() { return Locked(systemCalls_); }
DWORD _SYSPERFINFO::GetDemandZeroFaultDelta() { return Locked(demandZero_); }
DWORD _SYSPERFINFO::GetTransistionFaultDelta() { return Locked(transition_); }

}  // namespace kinetra
