// System-wide records of NtQuerySystemInformation, declared for the bitness being
// built. Depends on nothing but the Windows headers, so a program that carries its
// own copy of the counters can include it as well.
#pragma once

#include <windows.h>

#include <cstddef>

namespace kinetra {

constexpr ULONG kSystemBasicInformation = 0;
constexpr ULONG kSystemPerformanceInformation = 2;
constexpr ULONG kSystemTimeOfDayInformation = 3;
constexpr ULONG kSystemProcessorPerformanceInformation = 8;
constexpr ULONG kSystemFileCacheInformation = 21;

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
  CCHAR NumberOfProcessors;
};

// The part of the performance record every system version fills in the same
// place; newer systems append fields, so it is asked into a larger buffer.
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

struct KN_SYSTEM_TIMEOFDAY_INFORMATION {
  LARGE_INTEGER BootTime;
  LARGE_INTEGER CurrentTime;
  LARGE_INTEGER TimeZoneBias;
  ULONG TimeZoneId;
  ULONG Reserved;
  ULONGLONG BootTimeBias;
  ULONGLONG SleepTimeBias;
};

// One per processor.
struct KN_SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION {
  LARGE_INTEGER IdleTime;
  LARGE_INTEGER KernelTime;  // includes the idle time
  LARGE_INTEGER UserTime;
  LARGE_INTEGER DpcTime;
  LARGE_INTEGER InterruptTime;
  ULONG InterruptCount;
};

struct KN_SYSTEM_FILECACHE_INFORMATION {
  SIZE_T CurrentSize;
  SIZE_T PeakSize;
  ULONG PageFaultCount;
  SIZE_T MinimumWorkingSet;
  SIZE_T MaximumWorkingSet;
  SIZE_T CurrentSizeIncludingTransitionInPages;
  SIZE_T PeakSizeIncludingTransitionInPages;
  ULONG TransitionRePurposeCount;
  ULONG Flags;
};

static_assert(offsetof(KN_SYSTEM_PERFORMANCE_INFORMATION, AvailablePages) == 44);
static_assert(offsetof(KN_SYSTEM_PERFORMANCE_INFORMATION, PagedPoolPages) == 112);
static_assert(sizeof(KN_SYSTEM_PERFORMANCE_INFORMATION) == 312);
static_assert(sizeof(KN_SYSTEM_TIMEOFDAY_INFORMATION) == 48);
static_assert(sizeof(KN_SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION) == 48);
#ifdef _WIN64
static_assert(sizeof(KN_SYSTEM_BASIC_INFORMATION) == 64);
static_assert(sizeof(KN_SYSTEM_FILECACHE_INFORMATION) == 64);
#else
static_assert(sizeof(KN_SYSTEM_BASIC_INFORMATION) == 44);
static_assert(sizeof(KN_SYSTEM_FILECACHE_INFORMATION) == 36);
#endif

}  // namespace kinetra
