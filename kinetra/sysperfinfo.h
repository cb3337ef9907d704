// System-wide performance counters: CPU shares in total and per processor,
// memory figures in KB, I/O and context-switch rates, and processor clocks.
// Every figure is the difference between two consecutive Update calls, measured
// against the system's own clock.
//
// This header and sysperfinfo.cpp depend only on the Windows API and quarl/base,
// so that a program can compile its own copy (define KN_SYSPERF_STANDALONE for
// that); inside the process information library the class is exported.
#pragma once

#include <windows.h>

#include "kinetra/ntsysrecords.h"

#if defined(KN_SYSPERF_STANDALONE)
#define KN_SYSPERF_API
#elif defined(KINETRA_BUILDING)
#define KN_SYSPERF_API __declspec(dllexport)
#else
#define KN_SYSPERF_API __declspec(dllimport)
#endif

namespace kinetra {

using SYSPERF_QUERY_FN = LONG(NTAPI*)(ULONG infoClass, PVOID buffer, ULONG length, PULONG returnLength);
using SYSPERF_POWER_FN = LONG(WINAPI*)(POWER_INFORMATION_LEVEL level, PVOID in, ULONG inLength, PVOID out,
                                       ULONG outLength);
using SYSPERF_GUIRES_FN = DWORD(WINAPI*)(HANDLE, DWORD);
using SYSPERF_IOCOUNTERS_FN = BOOL(WINAPI*)(HANDLE, PIO_COUNTERS);

// Seams: while set, objects initialised afterwards query fn instead of ntdll or
// powrprof. Each returns the previous override (null: none). A program that
// carries its own copy of this code has its own seams.
KN_SYSPERF_API SYSPERF_QUERY_FN SetSysPerfQueryOverride(SYSPERF_QUERY_FN fn);
KN_SYSPERF_API SYSPERF_POWER_FN SetSysPerfPowerOverride(SYSPERF_POWER_FN fn);

class KN_SYSPERF_API _SYSPERFINFO {
 public:
  // The per-processor shares are kept for this many processors; further ones
  // count in the totals only.
  static constexpr BYTE kCoreSlots = 16;

  _SYSPERFINFO();
  ~_SYSPERFINFO();
  _SYSPERFINFO(const _SYSPERFINFO&) = delete;
  _SYSPERFINFO& operator=(const _SYSPERFINFO&) = delete;

  BOOL Init();
  // One refresh. A failed query keeps every figure of the last successful one,
  // and the next success measures against that one.
  BOOL Update();

  BOOL IsReady() const { return status_ == 1; }
  DWORD GetStatus() const { return status_; }

  BYTE GetProcessorCount();
  DWORD GetPhysicalPageCount();
  DWORD GetPhysicalPageSize();

  double GetCPUUsage();
  double GetSystemCPUUsage();
  double GetDPCCPUUsage();
  double GetInterruptCPUUsage();
  double GetKERNELModePercent();
  double GetUSERModePercent();

  double GetCoreCPUUsage(BYTE core);
  double GetCoreSystemCPUUsage(BYTE core);  // never computed: 0
  double GetCoreDPCCPUUsage(BYTE core);
  double GetCoreInterruptCPUUsage(BYTE core);
  double GetCoreKERNELModePercent(BYTE core);
  double GetCoreUSERModePercent(BYTE core);

  DWORD GetCoreFrequencyCurrentMHz(BYTE core);
  DWORD GetCoreFrequencyMaximumMHz(BYTE core);

  DWORD GetCommitChargeTotalKB();
  DWORD GetCommitChargeLimitKB();
  DWORD GetCommitChargePeakKB();
  DWORD GetKernelMemoryPagedKB();
  DWORD GetKernelMemoryNonPagedKB();
  DWORD GetKernelMemoryTotalKB();
  DWORD GetPhysicalMemoryTotalKB();
  DWORD GetPhysicalMemoryAvailableKB();
  DWORD GetPhysicalMemorySystemCacheKB();

  // Per second.
  DWORD GetContextSwitchDelta();
  DWORD GetIOReadDelta();
  DWORD GetIOWriteDelta();
  DWORD GetIOOtherDelta();
  DWORD GetIOReadTransferDelta();
  DWORD GetIOWriteTransferDelta();
  DWORD GetIOOtherTransferDelta();
  // Per refresh.
  DWORD GetPagefaultDelta();
  DWORD GetPagesReadDelta();
  DWORD GetPagesWrittenDelta();
  DWORD GetPagedPoolAllocDelta();
  DWORD GetPagedPoolFreeDelta();
  DWORD GetSystemCallsDelta();
  DWORD GetDemandZeroFaultDelta();
  DWORD GetTransistionFaultDelta();

 private:
  using CPUREC = KN_SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION;

  void Release();
  BOOL Enter();  // false (and no lock taken) unless ready
  DWORD Locked(const DWORD& field);
  double Locked(const double& field);
  double LockedCore(const double* row, BYTE core);
  DWORD PagesToKB(DWORD pages) const { return pages * (basic_.PageSize / 1024); }
  void Compute(const KN_SYSTEM_PERFORMANCE_INFORMATION& perf, const KN_SYSTEM_TIMEOFDAY_INFORMATION& now,
               const CPUREC* cpus);
  void RefreshPower();

  DWORD status_;
  SYSPERF_QUERY_FN query_;
  SYSPERF_GUIRES_FN getGuiResources_;      // bound, not used here
  SYSPERF_IOCOUNTERS_FN getIoCounters_;    // bound, not used here
  SYSPERF_POWER_FN power_;
  CRITICAL_SECTION lock_;
  BOOL lockReady_;
  KN_SYSTEM_BASIC_INFORMATION basic_;
  // The records of the last successful refresh: the previous values of the next.
  KN_SYSTEM_PERFORMANCE_INFORMATION perf_;
  KN_SYSTEM_FILECACHE_INFORMATION cache_;
  KN_SYSTEM_TIMEOFDAY_INFORMATION time_;
  CPUREC* cpus_;      // one per processor
  CPUREC* cpusNext_;  // what a refresh fills; swapped in when all queries worked
  KN_PROCESSOR_POWER_INFORMATION* powerInfo_;
  DWORD powerBytes_;

  double cpuUsage_, systemUsage_, dpc_, kernel_, user_, interrupt_;
  double coreUsage_[kCoreSlots], coreSystem_[kCoreSlots], coreDpc_[kCoreSlots], coreKernel_[kCoreSlots],
      coreUser_[kCoreSlots], coreInterrupt_[kCoreSlots];

  DWORD demandZero_, transition_, systemCalls_, pageFaults_, pagesRead_, pagesWritten_, pagedAllocs_,
      pagedFrees_;
  DWORD contextSwitches_, ioRead_, ioWrite_, ioOther_, ioReadBytes_, ioWriteBytes_, ioOtherBytes_;
};

}  // namespace kinetra
