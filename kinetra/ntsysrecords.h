// System-wide records of NtQuerySystemInformation and of the processor power
// call, declared for the bitness being built. Several of them hold pointer-sized
// fields, so their sizes differ between 32 and 64 bits, and the system rejects a
// query whose length is not the size of its own bitness (length mismatch).
//
// Self-contained on purpose: the system counters are compiled into programs of
// their own as well, so this header needs nothing but <windows.h>.
#pragma once

#include <windows.h>

#include <cstddef>

namespace kinetra {

// System information classes.
constexpr ULONG kSystemBasicInformation = 0;
constexpr ULONG kSystemPerformanceInformation = 2;
constexpr ULONG kSystemTimeOfDayInformation = 3;
constexpr ULONG kSystemProcessorPerformanceInformation = 8;
constexpr ULONG kSystemFileCacheInformation = 21;
// Power information level of the per-processor clock records.
constexpr ULONG kProcessorPowerInformationLevel = 11;

// Class 0: read once, it fixes the page size and the number of processors.
struct KN_SYSTEM_BASIC_INFORMATION {
  ULONG Reserved;
  ULONG TimerResolution;
  ULONG PageSize;
  ULONG NumberOfPhysicalPages;
  ULONG LowestPhysicalPageNumber;
  ULONG HighestPhysicalPageNumber;
  ULONG AllocationGranularity;
  ULONG_PTR MinimumUserModeAddress;
  ULONG_PTR MaximumUserModeAddress;
  ULONG_PTR ActiveProcessorsAffinityMask;
  BYTE NumberOfProcessors;  // the system declares a signed char; read unsigned
};

// Class 2, in the length every system since the first accepts.
struct KN_SYSTEM_PERFORMANCE_INFORMATION {
  LARGE_INTEGER IdleProcessTime;
  LARGE_INTEGER IoReadTransferCount;
  LARGE_INTEGER IoWriteTransferCount;
  LARGE_INTEGER IoOtherTransferCount;
  ULONG IoReadOperationCount;
  ULONG IoWriteOperationCount;
  ULONG IoOtherOperationCount;
  ULONG AvailablePages;
  ULONG CommittedPages;
  ULONG CommitLimit;
  ULONG PeakCommitment;
  ULONG PageFaultCount;
  ULONG CopyOnWriteCount;
  ULONG TransitionCount;
  ULONG CacheTransitionCount;
  ULONG DemandZeroCount;
  ULONG PageReadCount;
  ULONG PageReadIoCount;
  ULONG CacheReadCount;
  ULONG CacheIoCount;
  ULONG DirtyPagesWriteCount;
  ULONG DirtyWriteIoCount;
  ULONG MappedPagesWriteCount;
  ULONG MappedWriteIoCount;
  ULONG PagedPoolPages;
  ULONG NonPagedPoolPages;
  ULONG PagedPoolAllocs;
  ULONG PagedPoolFrees;
  ULONG NonPagedPoolAllocs;
  ULONG NonPagedPoolFrees;
  ULONG FreeSystemPtes;
  ULONG ResidentSystemCodePage;
  ULONG TotalSystemDriverPages;
  ULONG TotalSystemCodePages;
  ULONG NonPagedPoolLookasideHits;
  ULONG PagedPoolLookasideHits;
  ULONG AvailablePagedPoolPages;
  ULONG ResidentSystemCachePage;
  ULONG ResidentPagedPoolPage;
  ULONG ResidentSystemDriverPage;
  ULONG CcFastReadNoWait;
  ULONG CcFastReadWait;
  ULONG CcFastReadResourceMiss;
  ULONG CcFastReadNotPossible;
  ULONG CcFastMdlReadNoWait;
  ULONG CcFastMdlReadWait;
  ULONG CcFastMdlReadResourceMiss;
  ULONG CcFastMdlReadNotPossible;
  ULONG CcMapDataNoWait;
  ULONG CcMapDataWait;
  ULONG CcMapDataNoWaitMiss;
  ULONG CcMapDataWaitMiss;
  ULONG CcPinMappedDataCount;
  ULONG CcPinReadNoWait;
  ULONG CcPinReadWait;
  ULONG CcPinReadNoWaitMiss;
  ULONG CcPinReadWaitMiss;
  ULONG CcCopyReadNoWait;
  ULONG CcCopyReadWait;
  ULONG CcCopyReadNoWaitMiss;
  ULONG CcCopyReadWaitMiss;
  ULONG CcMdlReadNoWait;
  ULONG CcMdlReadWait;
  ULONG CcMdlReadNoWaitMiss;
  ULONG CcMdlReadWaitMiss;
  ULONG CcReadAheadIos;
  ULONG CcLazyWriteIos;
  ULONG CcLazyWritePages;
  ULONG CcDataFlushes;
  ULONG CcDataPages;
  ULONG ContextSwitches;
  ULONG FirstLevelTbFills;
  ULONG SecondLevelTbFills;
  ULONG SystemCalls;
};

// Class 3, the leading part that holds the current time; the system fills as
// much of the record as it is asked for.
struct KN_SYSTEM_TIMEOFDAY_INFORMATION {
  LARGE_INTEGER BootTime;
  LARGE_INTEGER CurrentTime;  // 100 ns units since 1601
  LARGE_INTEGER TimeZoneBias;
  ULONG TimeZoneId;
  ULONG Reserved;
};

// Class 8: one record per processor, times in 100 ns units. The kernel time
// includes the processor's idle time.
struct KN_SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION {
  LARGE_INTEGER IdleTime;
  LARGE_INTEGER KernelTime;
  LARGE_INTEGER UserTime;
  LARGE_INTEGER DpcTime;
  LARGE_INTEGER InterruptTime;
  ULONG InterruptCount;
};

// Class 21.
struct KN_SYSTEM_FILECACHE_INFORMATION {
  SIZE_T CurrentSize;  // bytes
  SIZE_T PeakSize;
  ULONG PageFaultCount;
  SIZE_T MinimumWorkingSet;
  SIZE_T MaximumWorkingSet;
  SIZE_T CurrentSizeIncludingTransitionInPages;
  SIZE_T PeakSizeIncludingTransitionInPages;
  ULONG TransitionRePurposeCount;
  ULONG Flags;
};

// One record per processor of power level 11 (missing from the MinGW headers).
struct KN_PROCESSOR_POWER_INFORMATION {
  ULONG Number;
  ULONG MaxMhz;
  ULONG CurrentMhz;
  ULONG MhzLimit;
  ULONG MaxIdleState;
  ULONG CurrentIdleState;
};

static_assert(sizeof(KN_SYSTEM_PERFORMANCE_INFORMATION) == 312);
static_assert(offsetof(KN_SYSTEM_PERFORMANCE_INFORMATION, IoReadOperationCount) == 32);
static_assert(offsetof(KN_SYSTEM_PERFORMANCE_INFORMATION, PagedPoolPages) == 112);
static_assert(offsetof(KN_SYSTEM_PERFORMANCE_INFORMATION, ContextSwitches) == 296);
static_assert(offsetof(KN_SYSTEM_PERFORMANCE_INFORMATION, SystemCalls) == 308);
static_assert(sizeof(KN_SYSTEM_TIMEOFDAY_INFORMATION) == 32);
static_assert(offsetof(KN_SYSTEM_TIMEOFDAY_INFORMATION, CurrentTime) == 8);
static_assert(sizeof(KN_SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION) == 48);
static_assert(offsetof(KN_SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION, InterruptCount) == 40);
static_assert(sizeof(KN_PROCESSOR_POWER_INFORMATION) == 24);
#ifdef _WIN64
static_assert(offsetof(KN_SYSTEM_BASIC_INFORMATION, MinimumUserModeAddress) == 32);
static_assert(offsetof(KN_SYSTEM_BASIC_INFORMATION, NumberOfProcessors) == 56);
static_assert(sizeof(KN_SYSTEM_BASIC_INFORMATION) == 64);
static_assert(offsetof(KN_SYSTEM_FILECACHE_INFORMATION, MinimumWorkingSet) == 24);
static_assert(offsetof(KN_SYSTEM_FILECACHE_INFORMATION, TransitionRePurposeCount) == 56);
static_assert(sizeof(KN_SYSTEM_FILECACHE_INFORMATION) == 64);
#else
static_assert(offsetof(KN_SYSTEM_BASIC_INFORMATION, MinimumUserModeAddress) == 28);
static_assert(offsetof(KN_SYSTEM_BASIC_INFORMATION, NumberOfProcessors) == 40);
static_assert(sizeof(KN_SYSTEM_BASIC_INFORMATION) == 44);
static_assert(offsetof(KN_SYSTEM_FILECACHE_INFORMATION, MinimumWorkingSet) == 12);
static_assert(offsetof(KN_SYSTEM_FILECACHE_INFORMATION, TransitionRePurposeCount) == 28);
static_assert(sizeof(KN_SYSTEM_FILECACHE_INFORMATION) == 36);
#endif

}  // namespace kinetra
