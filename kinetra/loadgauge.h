// The library's one performance source: per-process figures by PID and system
// figures, all taken from one system snapshot that is refreshed lazily, at most
// once per update interval however many callers ask in between.
#pragma once

#include <windows.h>

#include "kinetra/kinetraapi.h"
#include "kinetra/ntapi.h"
#include "kinetra/ntsysrecords.h"
#include "quarl/perfgraph.h"

namespace kinetra {

// What only an opened process gives: its account name and the counters that need
// a handle.
struct KN_PROCESS_EXTRAS {
  wchar_t userName[260];
  DWORD userObjects;
  DWORD gdiObjects;
  IO_COUNTERS io;
};

// One record per process of the last snapshot, in snapshot order. Sizes are kept
// at the width of the build; the 32-bit getters saturate instead of wrapping.
struct KN_PROCESSPERFDATA {
  wchar_t imageName[260];
  DWORD pid;
  wchar_t userName[260];
  DWORD sessionId;
  double cpuUsage;  // percent
  ULONGLONG cpuTime;  // kernel + user, 100 ns
  SIZE_T workingSet;
  SIZE_T peakWorkingSet;
  SIZE_T workingSetDelta;
  DWORD pageFaults;
  DWORD pageFaultDelta;
  SIZE_T virtualSize;
  SIZE_T pagedPool;
  SIZE_T nonPagedPool;
  LONG basePriority;
  DWORD handleCount;
  DWORD threadCount;
  DWORD userObjects;
  DWORD gdiObjects;
  IO_COUNTERS io;
  SIZE_T privateBytes;
  ULONGLONG userTime;
  ULONGLONG kernelTime;
  LONGLONG createTime;  // from the snapshot; 0 when it gave none
};

using PFN_LoadGaugeTicks = DWORD(WINAPI*)();
using PFN_LoadGaugeMemoryStatus = BOOL(WINAPI*)(LPMEMORYSTATUSEX);
// Fills the extras of one process; false when it cannot be opened (the record then
// keeps an empty name and zero counters).
using PFN_LoadGaugeProcessExtras = BOOL (*)(DWORD pid, KN_PROCESS_EXTRAS* out);

// Replacements for the calls that Wine answers with nothing or that a test must
// control; a null member keeps the system's call. The system query itself is
// replaced through SetSystemQueryOverride before Init.
struct KN_LOADGAUGE_SEAMS {
  PFN_LoadGaugeTicks ticks;
  PFN_LoadGaugeMemoryStatus memoryStatus;
  PFN_LoadGaugeProcessExtras processExtras;
};

// Copies are forbidden: the object owns its graph, its locks and its arrays.
class KINETRA_API KN_LOADGAUGESOURCE {
 public:
  KN_LOADGAUGESOURCE();
  ~KN_LOADGAUGESOURCE();
  KN_LOADGAUGESOURCE(const KN_LOADGAUGESOURCE&) = delete;
  KN_LOADGAUGESOURCE& operator=(const KN_LOADGAUGESOURCE&) = delete;

  BOOL Init();
  BOOL Delete() { return TRUE; }
  // Set before Init, not while other threads ask.
  void SetSeams(const KN_LOADGAUGE_SEAMS& seams);

  BOOL SetUpdateInterval(DWORD updateMs, DWORD fastMs);
  DWORD GetUpdateInterval() const;
  DWORD GetHPUpdateInterval() const;

  // The four-series history (total CPU, physical memory, page file, processor
  // system usage; percent), for drawing.
  quarl::PERFGRAPH* GetGraph() { return &graph_; }

  DWORD GetProcessCPUUsage(DWORD pid);
  ULONGLONG GetProcessCPUTime(DWORD pid);
  DWORD GetProcessWorkingSetSize(DWORD pid);
  // Full width, for figures above 4 GB.
  ULONGLONG GetProcessWorkingSetSize64(DWORD pid);
  DWORD GetProcessRAMUsage(DWORD pid);
  DWORD GetProcessPeakWorkingSizeBytes(DWORD pid);
  DWORD GetProcessWorkingSetSizeDelta(DWORD pid);
  DWORD GetProcessPageFaultCount(DWORD pid);
  DWORD GetProcessPageFaultCountDelta(DWORD pid);
  DWORD GetProcessVirtualMemorySize(DWORD pid);
  DWORD GetProcessPagedPoolUsagePages(DWORD pid);
  DWORD GetProcessNonPagedPoolUsagePages(DWORD pid);
  DWORD GetProcessHandleCount(DWORD pid);
  DWORD GetProcessThreadCount(DWORD pid);
  DWORD GetProcessUSERObjectCount(DWORD pid);
  DWORD GetProcessGDIObjectCount(DWORD pid);
  DWORD GetProcessPrivateBytes(DWORD pid);
  ULONGLONG GetProcessPrivateBytes64(DWORD pid);
  DWORD GetProcessSessionID(DWORD pid);
  // Copies at most cch characters (terminated); false when the PID is unknown.
  BOOL GetProcessUsername(DWORD pid, wchar_t* buf, DWORD cch);
  // Asked of the process directly; 0 when it cannot be opened.
  DWORD GetProcessPriorityClass(DWORD pid);

  DWORD GetSystemProcessorUsage();
  DWORD GetSystemProcessorSystemUsage();
  DWORD GetSystemProcessCount();
  DWORD GetSystemThreadCount();
  DWORD GetSystemHandleCount() { return 0; }
  DWORD GetSystemCommitChargeTotalKB();
  DWORD GetSystemCommitChargeLimitKB();
  DWORD GetSystemCommitChargePeakKB();
  DWORD GetSystemKernelMemoryPagedKB();
  DWORD GetSystemKernelMemoryNonPagedKB();
  DWORD GetSystemKernelMemoryTotalKB();
  DWORD GetSystemPhysicalMemoryTotalKB();
  DWORD GetSystemPhysicalMemoryAvailableKB();
  DWORD GetSystemPhysicalMemorySystemCacheKB();
  ULONGLONG GetMemoryPhysicalTotal();
  ULONGLONG GetMemoryPhysicalAvailable();
  ULONGLONG GetMemoryPhysicalUsage();
  ULONGLONG GetMemoryPagefileTotal();
  ULONGLONG GetMemoryPagefileAvailable();
  ULONGLONG GetMemoryPagefileUsage();
  ULONGLONG GetMemoryPhysicalPercentUsed();
  ULONGLONG GetMemoryPagefilePercentUsed();

 protected:
  BOOL UpdateIfDue();
  BOOL Update();
  BOOL UpdateHighPerf();
  // Index of the record with that PID; at or past the record count when none.
  DWORD GetProcessPerfDataID(DWORD pid);

 private:
  struct SID_NAME {
    BYTE sid[68];
    DWORD sidLength;
    wchar_t name[260];
  };

  DWORD Ticks() const;
  DWORD FindLocked(DWORD pid) const;
  template <typename T, typename F>
  T ReadRecord(DWORD pid, F field);
  template <typename T, typename F>
  T ReadSystem(F field);
  // knownUser: the name of the same process from the last refresh, or null; a
  // process keeps its token's user for life, so it is not asked again.
  void FillExtras(DWORD pid, const wchar_t* knownUser, KN_PROCESS_EXTRAS* out);
  void LookUpAccount(const BYTE* sid, DWORD sidLength, wchar_t* name, size_t cch);
  ULONGLONG PagesToKB(ULONGLONG pages) const;

  quarl::PERFGRAPH graph_;
  MEMORYSTATUSEX memory_;
  volatile LONG guard_;
  DWORD updateInterval_;
  DWORD fastInterval_;
  DWORD lastFast_;
  DWORD lastFull_;
  BOOL haveFast_;
  BOOL haveFull_;

  BOOL ready_;
  KN_LOADGAUGE_SEAMS seams_;
  SNAPSHOT_ENTRIES entries_;
  // Guards everything a getter reads. Held only to copy values or swap arrays.
  CRITICAL_SECTION dataLock_;
  // Serialises full refreshes, which read the previous array and open processes
  // without holding the data lock.
  CRITICAL_SECTION refreshLock_;
  KN_SYSTEM_BASIC_INFORMATION basic_;
  KN_SYSTEM_PERFORMANCE_INFORMATION perf_;
  KN_SYSTEM_FILECACHE_INFORMATION cache_;
  KN_SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION* processors_;
  DWORD processorCount_;
  KN_PROCESSPERFDATA* current_;
  DWORD currentCount_;
  KN_PROCESSPERFDATA* previous_;
  DWORD previousCount_;
  LONGLONG prevTime_;
  LONGLONG prevIdle_;
  LONGLONG prevSystemSum_;
  double cpuTotal_;
  double cpuSystem_;
  // Last index found, tried first: callers ask PID after PID in snapshot order.
  mutable volatile LONG findHint_;
  SID_NAME sidCache_[16];
  DWORD sidCacheUsed_;
  DWORD sidCacheNext_;
};

// The library's single source, initialised on first use.
KINETRA_API KN_LOADGAUGESOURCE* GetGlobalLoadGaugeSourcePtr();

}  // namespace kinetra
