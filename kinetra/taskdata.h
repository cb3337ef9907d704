// The two records every process of the live process list carries: the static
// record (image path, command line, user, icons and version texts), filled lazily
// with capped and spaced retries because those queries are slow and often denied,
// and the dynamic record (counters, rates, times and a small history graph),
// refreshed on every pass.
#pragma once

#include <windows.h>

#include <psapi.h>

#include <cstdint>

#include "kinetra/imageinfo.h"
#include "kinetra/kinetraapi.h"
#include "quarl/base/objhdr.h"
#include "quarl/perfgraph.h"

namespace kinetra {

// What one open of a process gives the dynamic record.
struct KN_TASK_SAMPLE {
  IO_COUNTERS io;
  PROCESS_MEMORY_COUNTERS memory;
  BOOL timesOK;  // the four times below are valid
  FILETIME creation, exit, kernel, user;
};

// What the dynamic record takes from the global performance source.
struct KN_TASK_SOURCE_FIGURES {
  DWORD cpuUsage;  // whole percent
  ULONGLONG ramUsage;  // working set, bytes
  ULONGLONG privateBytes;
  DWORD handleCount;
  DWORD gdiObjects;
  DWORD userObjects;
};

// The providers both records call. A null member keeps the system's (or the
// library's) own call. Set before use, not while another thread fills records.
struct KN_TASKDATA_SEAMS {
  DWORD(WINAPI* ticks)();
  void(WINAPI* systemTimeAsFileTime)(LPFILETIME);
  // Static record; capacities in bytes, as the process memory readers take them.
  BOOL (*processPath)(DWORD pid, wchar_t* buf, DWORD capacity);
  BOOL (*commandLine)(DWORD pid, wchar_t* buf, DWORD capacity);
  // Capacity in characters; false when the source does not know the PID.
  BOOL (*userName)(DWORD pid, wchar_t* buf, DWORD cch);
  // Opens the image file without access rights: ERROR_SUCCESS or the error.
  DWORD (*checkImageFile)(const wchar_t* path);
  // The first large and small icon of the file; either may stay null.
  void (*extractIcons)(const wchar_t* path, HICON* large, HICON* small);
  // Dynamic record: false when the process cannot be opened. The sample comes in
  // holding the previous values; what the provider cannot read it leaves alone.
  BOOL (*sampleProcess)(DWORD pid, KN_TASK_SAMPLE* out);
  DWORD (*priorityClass)(DWORD pid);  // 0 when the process cannot be opened
  void (*sourceFigures)(DWORD pid, KN_TASK_SOURCE_FIGURES* out);
};
KINETRA_API void SetTaskDataSeams(const KN_TASKDATA_SEAMS* seams);

// A duration (100 ns units) as the records carry it: the date that lies that far
// after 1 January 1601, 00:00, so whole days count in the day field (one day reads
// 2 January 1601). False, with an all-zero record, past the system's date range.
KINETRA_API BOOL DurationToSystemTime(ULONGLONG duration, SYSTEMTIME* out);

// The records own a lock, icons and a graph, so copies are forbidden. A record
// may be moved to another address as bytes when the old bytes are forgotten
// afterwards (no Delete, no destructor on them): everything it owns is reached
// through pointers and handles, never through its own address.
class KINETRA_API _TASKDATASTATIC {
 public:
  static constexpr DWORD kPathChars = 768;
  static constexpr DWORD kCommandLineChars = 768;
  static constexpr DWORD kUserChars = 256;
  static constexpr DWORD kPathAttempts = 5;
  static constexpr DWORD kCommandLineAttempts = 5;
  static constexpr DWORD kUserAttempts = 10;
  static constexpr DWORD kRetrySpacingMs = 1000;

  _TASKDATASTATIC();
  ~_TASKDATASTATIC();
  _TASKDATASTATIC(const _TASKDATASTATIC&) = delete;
  _TASKDATASTATIC& operator=(const _TASKDATASTATIC&) = delete;

  BOOL Init();
  BOOL ReInit();
  BOOL Delete();
  BOOL IsClassReady() const;

  // One lazy fill step. The creation time is accepted and not used.
  BOOL QueryProcessDataEx(DWORD pid, DWORD parentPid, const FILETIME* creation);
  BOOL QueryProcessData(DWORD pid, DWORD parentPid) { return QueryProcessDataEx(pid, parentPid, nullptr); }

  const wchar_t* GetPathName() const;
  const wchar_t* GetCommandLineW() const;
  const wchar_t* GetUsername() const;
  const wchar_t* GetInfoCompanyName() const;
  const wchar_t* GetInfoDescription() const;
  const wchar_t* GetInfoCopyright() const;
  const wchar_t* GetInfoProductName() const;
  // The description, as the views' version column shows it.
  const wchar_t* GetInfoFileVersion() const;
  // The whole version record of the image, for readers that want more of it.
  _IMAGEINFO* GetImageInfo() { return &info_; }

  DWORD GetProcessID() const;
  DWORD GetParentPID() const;
  BOOL IsInfoOK() const;
  BOOL IsPathOK() const;
  BOOL IsUserOK() const;
  BOOL IsCommandLineOK() const;
  HICON GetIcon() const;
  HICON GetIconSmall() const;
  DWORD GetPathAttempts() const;
  DWORD GetCommandLineAttempts() const;
  DWORD GetUserAttempts() const;

 private:
  BOOL InitAt(void* creator);
  void Release();
  void FillPath(DWORD now);
  void FillCommandLine(DWORD now);
  void FillUser();
  void FillInfo();

  _IMAGEINFO info_;  // first: the record begins with the complete version record
  quarl::OBJHEADER hdr_;
  CRITICAL_SECTION* lock_;
  DWORD pid_;
  DWORD parentPid_;
  HICON icon_;
  HICON iconSmall_;
  BOOL infoOK_;
  BOOL pathOK_;
  wchar_t path_[kPathChars];
  DWORD lastPathAttempt_;
  DWORD pathAttempts_;
  BOOL userOK_;
  DWORD userAttempts_;
  wchar_t userName_[kUserChars];
  BOOL commandLineOK_;
  DWORD lastCommandLineAttempt_;
  DWORD commandLineAttempts_;
  wchar_t commandLine_[kCommandLineChars];
};

// Written by one collecting thread and read by display threads as plain values,
// without a lock: a reader may see a refresh half done.
class KINETRA_API _TASKDATADYNAMIC {
 public:
  static constexpr DWORD kGraphSpanMs = 180000;
  static constexpr DWORD kGraphIntervalMs = 500;

  _TASKDATADYNAMIC();
  ~_TASKDATADYNAMIC();
  _TASKDATADYNAMIC(const _TASKDATADYNAMIC&) = delete;
  _TASKDATADYNAMIC& operator=(const _TASKDATADYNAMIC&) = delete;

  BOOL Init();
  BOOL ReInit();
  BOOL Delete();
  BOOL IsClassReady() const;

  // One refresh; false only when not ready.
  BOOL QueryProcessData(DWORD pid) { return QueryProcessDataFrom(pid, nullptr, 0); }
  // The same with the counters and times the caller already has (from a process
  // snapshot), so the process need not be opened for them; a null sample opens
  // it, and so does a priority class of 0 for the priority. The providers set
  // through SetTaskDataSeams still take precedence.
  BOOL QueryProcessDataFrom(DWORD pid, const KN_TASK_SAMPLE* known, DWORD priorityClass);

  DWORD GetProcessID() const;
  DWORD GetCPUUsage() const;
  ULONGLONG GetRAMUsage() const;
  ULONGLONG GetPrivateBytes() const;
  DWORD GetHandleCount() const;
  DWORD GetGDIObjectCount() const;
  DWORD GetUserObjectCount() const;
  DWORD GetProcessPriority() const;

  DWORD GetPagefaultCount() const;
  ULONGLONG GetPhysicalMemoryBytes() const;
  ULONGLONG GetPhysicalMemoryPeak() const;
  ULONGLONG GetPagefileBytes() const;
  ULONGLONG GetPagefilePeak() const;
  // Bytes per second; negative when the figure shrank.
  LONGLONG GetPhysicalMemoryDelta() const;
  LONGLONG GetPagefileDelta() const;
  ULONGLONG GetTotalMemoryBytes() const;
  ULONGLONG GetTotalMemoryPeak() const;
  LONGLONG GetTotalMemoryDelta() const;

  ULONGLONG GetIOReadOperationCount() const;
  ULONGLONG GetIOWriteOperationCount() const;
  ULONGLONG GetIOOtherOperationCount() const;
  ULONGLONG GetIOReadTransferBytes() const;
  ULONGLONG GetIOWriteTransferBytes() const;
  ULONGLONG GetIOOtherTransferBytes() const;
  DWORD GetIOReadTransferDelta() const;
  DWORD GetIOWriteTransferDelta() const;
  DWORD GetIOOtherTransferDelta() const;

  // Durations, encoded as DurationToSystemTime does.
  SYSTEMTIME GetRuntime() const;
  SYSTEMTIME GetKernelTime() const;
  SYSTEMTIME GetUserTime() const;
  SYSTEMTIME GetCPUTime() const;
  SYSTEMTIME GetCreationTime() const;  // local time
  const FILETIME* GetCreationLPFileTime() const;  // UTC
  BOOL IsProcessTimesOK() const;

  // CPU usage in percent (series 0, scale 100) and working set in KB (series 1);
  // null before the first refresh.
  quarl::PERFGRAPH* GetGraph() const;

 private:
  void Clear(void* creator);
  void ReleaseGraph();
  void StartGraph();

  quarl::PERFGRAPH* graph_;
  quarl::OBJHEADER hdr_;
  DWORD pid_;
  DWORD lastUpdate_;
  BOOL haveSample_;  // a refresh for this PID has run: rates have a base
  ULONGLONG prevWorkingSet_;
  ULONGLONG prevPagefile_;
  LONGLONG workingSetRate_;
  LONGLONG pagefileRate_;
  DWORD readRate_, writeRate_, otherRate_;
  ULONGLONG ramUsage_;
  DWORD priority_;
  DWORD cpuUsage_;
  ULONGLONG privateBytes_;
  DWORD handleCount_, gdiObjects_, userObjects_;
  BOOL timesOK_;
  FILETIME runtimeFt_, creationUtc_, creationLocal_, exitFt_, kernelFt_, userFt_;
  SYSTEMTIME runtime_, user_, kernel_, creation_, cpuTime_;
  IO_COUNTERS io_;
  PROCESS_MEMORY_COUNTERS memory_;
};

}  // namespace kinetra
