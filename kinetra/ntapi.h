// Native system interface used across the process information library: the
// records that NtQuerySystemInformation fills, declared for the bitness being
// built (their offsets differ between 32 and 64 bits), and the entry points bound
// from ntdll at run time.
#pragma once

#include <windows.h>

#include <cstddef>

#include "kinetra/kinetraapi.h"

namespace kinetra {

using NTSTATUS_T = LONG;

constexpr NTSTATUS_T kStatusSuccess = 0;
constexpr NTSTATUS_T kStatusInfoLengthMismatch = static_cast<NTSTATUS_T>(0xC0000004);
constexpr ULONG kSystemProcessInformation = 5;

struct KN_UNICODE_STRING {
  USHORT Length;  // bytes, without terminator
  USHORT MaximumLength;
  PWSTR Buffer;
};

struct KN_CLIENT_ID {
  HANDLE UniqueProcess;
  HANDLE UniqueThread;
};

// One thread record; a process record's threads follow it directly.
struct KN_SYSTEM_THREAD_INFORMATION {
  LARGE_INTEGER KernelTime;
  LARGE_INTEGER UserTime;
  LARGE_INTEGER CreateTime;
  ULONG WaitTime;
  PVOID StartAddress;
  KN_CLIENT_ID ClientId;
  LONG Priority;
  LONG BasePriority;
  ULONG ContextSwitches;
  ULONG ThreadState;
  ULONG WaitReason;
};

// One process record of the system process information class.
struct KN_SYSTEM_PROCESS_INFORMATION {
  ULONG NextEntryOffset;  // 0 in the last record
  ULONG NumberOfThreads;
  LARGE_INTEGER WorkingSetPrivateSize;
  ULONG HardFaultCount;
  ULONG NumberOfThreadsHighWatermark;
  ULONGLONG CycleTime;
  LARGE_INTEGER CreateTime;
  LARGE_INTEGER UserTime;
  LARGE_INTEGER KernelTime;
  KN_UNICODE_STRING ImageName;  // points into the same buffer
  LONG BasePriority;
  HANDLE UniqueProcessId;
  HANDLE InheritedFromUniqueProcessId;
  ULONG HandleCount;
  ULONG SessionId;
  ULONG_PTR UniqueProcessKey;
  SIZE_T PeakVirtualSize;
  SIZE_T VirtualSize;
  ULONG PageFaultCount;
  SIZE_T PeakWorkingSetSize;
  SIZE_T WorkingSetSize;
  SIZE_T QuotaPeakPagedPoolUsage;
  SIZE_T QuotaPagedPoolUsage;
  SIZE_T QuotaPeakNonPagedPoolUsage;
  SIZE_T QuotaNonPagedPoolUsage;
  SIZE_T PagefileUsage;
  SIZE_T PeakPagefileUsage;
  SIZE_T PrivatePageCount;
  LARGE_INTEGER ReadOperationCount;
  LARGE_INTEGER WriteOperationCount;
  LARGE_INTEGER OtherOperationCount;
  LARGE_INTEGER ReadTransferCount;
  LARGE_INTEGER WriteTransferCount;
  LARGE_INTEGER OtherTransferCount;
  // KN_SYSTEM_THREAD_INFORMATION Threads[NumberOfThreads] follow here.
};

#ifdef _WIN64
static_assert(offsetof(KN_SYSTEM_PROCESS_INFORMATION, ImageName) == 56);
static_assert(offsetof(KN_SYSTEM_PROCESS_INFORMATION, UniqueProcessId) == 80);
static_assert(offsetof(KN_SYSTEM_PROCESS_INFORMATION, InheritedFromUniqueProcessId) == 88);
static_assert(sizeof(KN_SYSTEM_PROCESS_INFORMATION) == 256);
static_assert(sizeof(KN_SYSTEM_THREAD_INFORMATION) == 80);
#else
static_assert(offsetof(KN_SYSTEM_PROCESS_INFORMATION, ImageName.Buffer) == 60);
static_assert(offsetof(KN_SYSTEM_PROCESS_INFORMATION, UniqueProcessId) == 68);
static_assert(offsetof(KN_SYSTEM_PROCESS_INFORMATION, InheritedFromUniqueProcessId) == 72);
static_assert(offsetof(KN_SYSTEM_PROCESS_INFORMATION, ReadOperationCount) == 136);
static_assert(sizeof(KN_SYSTEM_PROCESS_INFORMATION) == 184);
static_assert(sizeof(KN_SYSTEM_THREAD_INFORMATION) == 64);
#endif

using PFN_NtQuerySystemInformation = NTSTATUS_T(NTAPI*)(ULONG infoClass, PVOID buffer, ULONG length,
                                                        PULONG returnLength);
using PFN_NtQueryObject = NTSTATUS_T(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
using PFN_NtQueryInformationFile = NTSTATUS_T(NTAPI*)(HANDLE, PVOID, PVOID, ULONG, ULONG);
using PFN_NtQueryInformationThread = NTSTATUS_T(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
using PFN_NtQueryInformationProcess = NTSTATUS_T(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
using PFN_GetGuiResources = DWORD(WINAPI*)(HANDLE, DWORD);
using PFN_GetProcessIoCounters = BOOL(WINAPI*)(HANDLE, PIO_COUNTERS);

// The library-wide native entry points, bound from ntdll on first use (never
// under the loader lock). A missing entry point is null.
struct NTAPI_ENTRIES {
  PFN_NtQueryObject NtQueryObject;
  PFN_NtQuerySystemInformation NtQuerySystemInformation;
  PFN_NtQueryInformationFile NtQueryInformationFile;
  PFN_NtQueryInformationThread NtQueryInformationThread;
  PFN_NtQueryInformationProcess NtQueryInformationProcess;
};
KINETRA_API const NTAPI_ENTRIES& GetNtApi();

// The entry points each snapshot object binds for itself when it is initialised.
struct SNAPSHOT_ENTRIES {
  PFN_NtQuerySystemInformation NtQuerySystemInformation;
  PFN_GetGuiResources GetGuiResources;
  PFN_GetProcessIoCounters GetProcessIoCounters;
};
// Fills e from the loaded modules; false when NtQuerySystemInformation is missing.
KINETRA_API BOOL BindSnapshotEntries(SNAPSHOT_ENTRIES* e);

// Seam: while set, every object initialised afterwards takes its system snapshots
// from fn instead of ntdll. Returns the previous override (null: none).
KINETRA_API PFN_NtQuerySystemInformation SetSystemQueryOverride(PFN_NtQuerySystemInformation fn);

// One filled snapshot buffer of the process information class.
struct SNAPSHOT_BUFFER {
  BYTE* data;  // HeapAlloc'ed; null when there is none
  ULONG size;  // bytes the system filled (or allocated, when it did not say)
};

// Copies a record's image name (by its length, bounded); empty when the name does
// not lie inside the snapshot. Returns the name's length in characters before cutting.
KINETRA_API size_t CopyImageName(const SNAPSHOT_BUFFER& snap, const KN_SYSTEM_PROCESS_INFORMATION* record,
                                 wchar_t* buf, size_t cch);

// Takes a snapshot: sizes it, allocates, fills, and on a length mismatch grows by
// 64 KB and tries again (a bounded number of times). On any failure no buffer is
// kept and the last error says why (8 for no memory).
KINETRA_API BOOL TakeProcessSnapshot(PFN_NtQuerySystemInformation query, SNAPSHOT_BUFFER* out);
KINETRA_API void FreeProcessSnapshot(SNAPSHOT_BUFFER* snap);

// Steps through the records of a filled buffer, never leaving it: a next-entry
// offset that points outside the buffer (or back) ends the walk, as does a record
// that does not fit.
class KINETRA_API SnapshotWalker {
 public:
  explicit SnapshotWalker(const SNAPSHOT_BUFFER& snap) : base_(snap.data), size_(snap.size) {
    offset_ = (base_ && size_ >= sizeof(KN_SYSTEM_PROCESS_INFORMATION)) ? 0 : kEnd;
  }
  const KN_SYSTEM_PROCESS_INFORMATION* Current() const {
    return offset_ == kEnd ? nullptr
                           : reinterpret_cast<const KN_SYSTEM_PROCESS_INFORMATION*>(base_ + offset_);
  }
  ULONG Offset() const { return offset_; }
  void Next();
  // The thread records of the current record when they lie wholly in the buffer.
  const KN_SYSTEM_THREAD_INFORMATION* Threads() const;

  static DWORD Pid(const KN_SYSTEM_PROCESS_INFORMATION* r) {
    return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(r->UniqueProcessId));
  }
  static DWORD ParentPid(const KN_SYSTEM_PROCESS_INFORMATION* r) {
    return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(r->InheritedFromUniqueProcessId));
  }

 private:
  static constexpr ULONG kEnd = 0xFFFFFFFF;
  const BYTE* base_;
  ULONG size_;
  ULONG offset_;
};

}  // namespace kinetra
