#include "kinetra/taskdata.h"


#include <shellapi.h>

#include <cstddef>
#include <new>

#include "kinetra/handles.h"
#include "kinetra/loadgauge.h"
#include "kinetra/procmem.h"
#include "quarl/base/strfmt.h"

namespace kinetra {
namespace {

constexpr uint32_t kStaticSig1 = quarl::Sig('K', 'N', 'T', 'D');
constexpr uint32_t kStaticSig2 = quarl::Sig('S', 'T', 'A', 'T');
constexpr uint32_t kDynamicSig1 = quarl::Sig('K', 'N', 'T', 'D');
constexpr uint32_t kDynamicSig2 = quarl::Sig('D', 'Y', 'N', 'A');

KN_TASKDATA_SEAMS g_seams;

DWORD WINAPI SystemTicks() { return GetTickCount(); }

void WINAPI SystemTimeNow(LPFILETIME ft) { GetSystemTimeAsFileTime(ft); }

BOOL SourceUserName(DWORD pid, wchar_t* buf, DWORD cch) {
  return GetGlobalLoadGaugeSourcePtr()->GetProcessUsername(pid, buf, cch);
}

DWORD CheckImageFile(const wchar_t* path) {
  HANDLE h = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD err = GetLastError();
    return err == ERROR_SUCCESS ? ERROR_GEN_FAILURE : err;
  }
  CloseHandle(h);
  return ERROR_SUCCESS;
}

void ExtractFirstIcons(const wchar_t* path, HICON* large, HICON* small) {
  ExtractIconExW(path, 0, large, small, 1);
}

HANDLE OpenForQuery(DWORD pid) {
  // Reading the memory counters needs read rights before Vista; where only query
  // rights are granted the other figures still come.
  HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  return h ? h : OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
}

// The sample comes in holding the previous values: what cannot be read stays.
BOOL SampleProcess(DWORD pid, KN_TASK_SAMPLE* out) {
  HANDLE h = OpenForQuery(pid);
  if (!h) return FALSE;
  IO_COUNTERS io;
  if (GetProcessIoCounters(h, &io)) out->io = io;
  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof memory;
  if (GetProcessMemoryInfo(h, &memory, sizeof memory)) out->memory = memory;
  FILETIME creation, exit, kernel, user;
  out->timesOK = GetProcessTimes(h, &creation, &exit, &kernel, &user);
  if (out->timesOK) {
    out->creation = creation;
    out->exit = exit;
    out->kernel = kernel;
    out->user = user;
  }
  CloseHandle(h);
  return TRUE;
}

DWORD PriorityClassOf(DWORD pid) {
  HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
  if (!h) return 0;
  DWORD cls = GetPriorityClass(h);
  CloseHandle(h);
  return cls;
}

void SourceFigures(DWORD pid, KN_TASK_SOURCE_FIGURES* out) {
  KN_LOADGAUGESOURCE* source = GetGlobalLoadGaugeSourcePtr();
  out->cpuUsage = source->GetProcessCPUUsage(pid);
  out->ramUsage = source->GetProcessWorkingSetSize64(pid);
  out->handleCount = source->GetProcessHandleCount(pid);
  out->gdiObjects = source->GetProcessGDIObjectCount(pid);
  out->userObjects = source->GetProcessUSERObjectCount(pid);
  out->privateBytes = source->GetProcessPrivateBytes64(pid);
}

DWORD Ticks() { return (g_seams.ticks ? g_seams.ticks : SystemTicks)(); }

ULONGLONG ToU64(const FILETIME& ft) { return ULONGLONG(ft.dwHighDateTime) << 32 | ft.dwLowDateTime; }

FILETIME ToFileTime(ULONGLONG v) { return FILETIME{DWORD(v), DWORD(v >> 32)}; }

// Bytes per second over the elapsed milliseconds, in signed 64 bits.
LONGLONG Rate(ULONGLONG now, ULONGLONG before, DWORD elapsedMs) {
  return LONGLONG(now - before) * 1000 / LONGLONG(elapsedMs);
}

DWORD TransferRate(ULONGLONG now, ULONGLONG before, DWORD elapsedMs) {
  LONGLONG r = Rate(now, before, elapsedMs);
  if (r < 0) return 0;
  return r > LONGLONG(0xFFFFFFFF) ? 0xFFFFFFFFu : DWORD(r);
}

bool RetryDue(DWORD attempts, DWORD limit, DWORD last, DWORD now) {
  if (attempts >= limit) return false;
  return attempts == 0 || now - last > _TASKDATASTATIC::kRetrySpacingMs;
}

}  // namespace

void SetTaskDataSeams(const KN_TASKDATA_SEAMS* seams) { g_seams = seams ? *seams : KN_TASKDATA_SEAMS{}; }

BOOL DurationToSystemTime(ULONGLONG duration, SYSTEMTIME* out) {
  if (!out) return FALSE;
  FILETIME ft = ToFileTime(duration);
  if (FileTimeToSystemTime(&ft, out)) return TRUE;
  ZeroMemory(out, sizeof *out);
  return FALSE;
}

// ---- static record ---------------------------------------------------------

_TASKDATASTATIC::_TASKDATASTATIC() {
  static_assert(offsetof(_TASKDATASTATIC, info_) == 0, "the static record begins with its version record");
  static_assert(offsetof(_TASKDATASTATIC, hdr_) == sizeof(_IMAGEINFO), "its own header follows");
  ZeroMemory(static_cast<void*>(&hdr_), size_t(reinterpret_cast<BYTE*>(this + 1) - reinterpret_cast<BYTE*>(&hdr_)));
  InitAt(QUARL_CALLER_ADDRESS());
}

_TASKDATASTATIC::~_TASKDATASTATIC() { Delete(); }

__attribute__((noinline)) BOOL _TASKDATASTATIC::Init() { return InitAt(QUARL_CALLER_ADDRESS()); }

__attribute__((noinline)) BOOL _TASKDATASTATIC::ReInit() {
  Delete();
  return InitAt(QUARL_CALLER_ADDRESS());
}

BOOL _TASKDATASTATIC::InitAt(void* creator) {
  if (IsClassReady()) return TRUE;
  BYTE* from = reinterpret_cast<BYTE*>(&hdr_);
  ZeroMemory(from, size_t(reinterpret_cast<BYTE*>(this + 1) - from));
  if (!info_.IsClassReady() && !info_.Init()) return FALSE;
  lock_ = NewHeapLock();
  if (!lock_) return FALSE;
  quarl::HeaderSet(hdr_, kStaticSig1, kStaticSig2, creator, sizeof *this);
  return TRUE;
}

BOOL _TASKDATASTATIC::Delete() {
  if (!IsClassReady()) return TRUE;
  RetireHeapLock(&lock_, hdr_);
  if (icon_) DestroyIcon(icon_);
  if (iconSmall_) DestroyIcon(iconSmall_);
  icon_ = iconSmall_ = nullptr;
  info_.Delete();
  return TRUE;
}

BOOL _TASKDATASTATIC::IsClassReady() const { return quarl::HeaderIs(hdr_, kStaticSig1, kStaticSig2); }

__attribute__((noinline)) BOOL _TASKDATASTATIC::QueryProcessDataEx(DWORD pid, DWORD parentPid,
                                                                   const FILETIME* creation) {
  (void)creation;
  if (!IsClassReady()) return FALSE;
  if (pid != pid_) {
    // Another process in this record: everything known about the old one goes.
    void* creator = hdr_.creator;
    Delete();
    if (!InitAt(creator)) return FALSE;
    pid_ = pid;
  }
  parentPid_ = parentPid;
  EnterCriticalSection(lock_);
  DWORD now = Ticks();
  FillPath(now);
  FillCommandLine(now);
  FillUser();
  FillInfo();
  LeaveCriticalSection(lock_);
  return TRUE;
}

void _TASKDATASTATIC::FillPath(DWORD now) {
  if (pathOK_ || !RetryDue(pathAttempts_, kPathAttempts, lastPathAttempt_, now)) return;
  ++pathAttempts_;
  lastPathAttempt_ = now;
  wchar_t buf[kPathChars] = {};
  BOOL ok = (g_seams.processPath ? g_seams.processPath : PDM_GetProcessPath)(pid_, buf, sizeof buf);
  if (ok) {
    buf[kPathChars - 1] = L'\0';
    quarl::CopyW(path_, kPathChars, buf);
    // A path to a file that is gone is no path; access denied still names a file.
    DWORD err = (g_seams.checkImageFile ? g_seams.checkImageFile : CheckImageFile)(path_);
    if (err != ERROR_SUCCESS && err != ERROR_ACCESS_DENIED) {
      ok = FALSE;
      commandLineOK_ = FALSE;
    }
  }
  pathOK_ = ok;
}

void _TASKDATASTATIC::FillCommandLine(DWORD now) {
  if (commandLineOK_ || !RetryDue(commandLineAttempts_, kCommandLineAttempts, lastCommandLineAttempt_, now)) return;
  ++commandLineAttempts_;
  lastCommandLineAttempt_ = now;
  wchar_t buf[kCommandLineChars] = {};
  BOOL ok = (g_seams.commandLine ? g_seams.commandLine : PDM_GetProcessCmdLine)(pid_, buf, sizeof buf);
  if (ok) {
    buf[kCommandLineChars - 1] = L'\0';
    quarl::CopyW(commandLine_, kCommandLineChars, buf);
  }
  commandLineOK_ = ok;
}

void _TASKDATASTATIC::FillUser() {
  if (userOK_ || userAttempts_ >= kUserAttempts) return;
  ++userAttempts_;
  wchar_t buf[kUserChars] = {};
  BOOL ok = (g_seams.userName ? g_seams.userName : SourceUserName)(pid_, buf, kUserChars);
  buf[kUserChars - 1] = L'\0';
  if (ok) quarl::CopyW(userName_, kUserChars, buf);
  // A process whose token could not be read yet has an empty name: try again.
  userOK_ = ok && buf[0];
}

void _TASKDATASTATIC::FillInfo() {
  if (!pathOK_ || infoOK_) return;
  info_.LoadVersionInfo(path_);
  HICON large = nullptr, small = nullptr;
  (g_seams.extractIcons ? g_seams.extractIcons : ExtractFirstIcons)(path_, &large, &small);
  icon_ = large;
  iconSmall_ = small;
  infoOK_ = TRUE;
}

const wchar_t* _TASKDATASTATIC::GetPathName() const { return IsClassReady() ? path_ : L""; }
const wchar_t* _TASKDATASTATIC::GetCommandLineW() const { return IsClassReady() ? commandLine_ : L""; }
const wchar_t* _TASKDATASTATIC::GetUsername() const { return IsClassReady() ? userName_ : L""; }

const wchar_t* _TASKDATASTATIC::GetInfoCompanyName() const {
  return IsClassReady() ? info_.GetCompanyNameStr() : L"";
}
const wchar_t* _TASKDATASTATIC::GetInfoDescription() const { return IsClassReady() ? info_.GetDescription() : L""; }
const wchar_t* _TASKDATASTATIC::GetInfoCopyright() const { return IsClassReady() ? info_.GetCopyrightStr() : L""; }
const wchar_t* _TASKDATASTATIC::GetInfoProductName() const {
  return IsClassReady() ? info_.GetProductNameStr() : L"";
}
const wchar_t* _TASKDATASTATIC::GetInfoFileVersion() const { return GetInfoDescription(); }

DWORD _TASKDATASTATIC::GetProcessID() const { return IsClassReady() ? pid_ : 0; }
DWORD _TASKDATASTATIC::GetParentPID() const { return IsClassReady() ? parentPid_ : 0; }
BOOL _TASKDATASTATIC::IsInfoOK() const { return IsClassReady() && infoOK_; }
BOOL _TASKDATASTATIC::IsPathOK() const { return IsClassReady() && pathOK_; }
BOOL _TASKDATASTATIC::IsUserOK() const { return IsClassReady() && userOK_; }
BOOL _TASKDATASTATIC::IsCommandLineOK() const { return IsClassReady() && commandLineOK_; }
HICON _TASKDATASTATIC::GetIcon() const { return IsClassReady() ? icon_ : nullptr; }
HICON _TASKDATASTATIC::GetIconSmall() const { return IsClassReady() ? iconSmall_ : nullptr; }
DWORD _TASKDATASTATIC::GetPathAttempts() const { return IsClassReady() ? pathAttempts_ : 0; }
DWORD _TASKDATASTATIC::GetCommandLineAttempts() const { return IsClassReady() ? commandLineAttempts_ : 0; }
DWORD _TASKDATASTATIC::GetUserAttempts() const { return IsClassReady() ? userAttempts_ : 0; }

// ---- dynamic record --------------------------------------------------------

_TASKDATADYNAMIC::_TASKDATADYNAMIC() {
  static_assert(offsetof(_TASKDATADYNAMIC, graph_) == 0, "the dynamic record begins with its graph");
  ZeroMemory(static_cast<void*>(this), sizeof *this);
  Clear(QUARL_CALLER_ADDRESS());
}

_TASKDATADYNAMIC::~_TASKDATADYNAMIC() { Delete(); }

__attribute__((noinline)) BOOL _TASKDATADYNAMIC::Init() {
  if (!IsClassReady()) Clear(QUARL_CALLER_ADDRESS());
  return TRUE;
}

__attribute__((noinline)) BOOL _TASKDATADYNAMIC::ReInit() {
  Clear(QUARL_CALLER_ADDRESS());
  return TRUE;
}

BOOL _TASKDATADYNAMIC::Delete() {
  ReleaseGraph();
  quarl::HeaderMarkDeleted(hdr_);
  return TRUE;
}

BOOL _TASKDATADYNAMIC::IsClassReady() const { return quarl::HeaderIs(hdr_, kDynamicSig1, kDynamicSig2); }

void _TASKDATADYNAMIC::ReleaseGraph() {
  // Whatever state the record is in, a graph it points to is its own.
  delete graph_;
  graph_ = nullptr;
}

void _TASKDATADYNAMIC::Clear(void* creator) {
  ReleaseGraph();
  ZeroMemory(static_cast<void*>(this), sizeof *this);
  quarl::HeaderSet(hdr_, kDynamicSig1, kDynamicSig2, creator, sizeof *this);
}

void _TASKDATADYNAMIC::StartGraph() {
  graph_ = new (std::nothrow) quarl::PERFGRAPH;
  if (!graph_) return;
  if (g_seams.ticks) graph_->SetClock(g_seams.ticks, nullptr);
  if (!graph_->Init(kGraphSpanMs, kGraphIntervalMs, 2)) {
    ReleaseGraph();
    return;
  }
  graph_->SetScaleMax(100, 0);
}

BOOL _TASKDATADYNAMIC::QueryProcessDataFrom(DWORD pid, const KN_TASK_SAMPLE* known, DWORD priorityClass) {
  if (!IsClassReady()) return FALSE;
  if (pid != pid_ || !haveSample_) {
    Clear(hdr_.creator);
    pid_ = pid;
    StartGraph();
  }

  const ULONGLONG prevWorkingSet = memory_.WorkingSetSize;
  const ULONGLONG prevPagefile = memory_.PagefileUsage;
  const IO_COUNTERS prevIo = io_;
  prevWorkingSet_ = prevWorkingSet;
  prevPagefile_ = prevPagefile;

  KN_TASK_SAMPLE sample = {};
  sample.io = io_;
  sample.memory = memory_;
  sample.creation = creationUtc_;
  sample.exit = exitFt_;
  sample.kernel = kernelFt_;
  sample.user = userFt_;
  timesOK_ = FALSE;
  BOOL sampled;
  if (g_seams.sampleProcess) {
    sampled = g_seams.sampleProcess(pid, &sample);
  } else if (known) {
    sample = *known;
    sampled = TRUE;
  } else {
    sampled = SampleProcess(pid, &sample);
  }
  if (sampled) {
    io_ = sample.io;
    memory_ = sample.memory;
    if (sample.timesOK) {
      timesOK_ = TRUE;
      creationUtc_ = sample.creation;
      exitFt_ = sample.exit;
      kernelFt_ = sample.kernel;
      userFt_ = sample.user;
      if (!FileTimeToLocalFileTime(&creationUtc_, &creationLocal_)) creationLocal_ = creationUtc_;
      FILETIME nowFt;
      (g_seams.systemTimeAsFileTime ? g_seams.systemTimeAsFileTime : SystemTimeNow)(&nowFt);
      // A creation time ahead of the clock (the clock was set back) is no run time.
      ULONGLONG now = ToU64(nowFt), created = ToU64(creationUtc_);
      runtimeFt_ = ToFileTime(now > created ? now - created : 0);
      if (!FileTimeToSystemTime(&creationLocal_, &creation_)) ZeroMemory(&creation_, sizeof creation_);
      DurationToSystemTime(ToU64(kernelFt_), &kernel_);
      DurationToSystemTime(ToU64(userFt_), &user_);
      DurationToSystemTime(ToU64(runtimeFt_), &runtime_);
      DurationToSystemTime(ToU64(kernelFt_) + ToU64(userFt_), &cpuTime_);
    }
  }

  const DWORD now = Ticks();
  DWORD elapsed = now + 1 - lastUpdate_;
  if (elapsed == 0) elapsed = 1;
  if (haveSample_) {
    readRate_ = TransferRate(io_.ReadTransferCount, prevIo.ReadTransferCount, elapsed);
    writeRate_ = TransferRate(io_.WriteTransferCount, prevIo.WriteTransferCount, elapsed);
    otherRate_ = TransferRate(io_.OtherTransferCount, prevIo.OtherTransferCount, elapsed);
    pagefileRate_ = Rate(memory_.PagefileUsage, prevPagefile, elapsed);
    workingSetRate_ = Rate(memory_.WorkingSetSize, prevWorkingSet, elapsed);
  }
  // The first refresh for a process has nothing to measure against: its rates
  // stay 0 instead of spreading the whole counters over the time since boot.
  lastUpdate_ = now;
  haveSample_ = TRUE;

  if (g_seams.priorityClass)
    priority_ = g_seams.priorityClass(pid);
  else
    priority_ = known && priorityClass ? priorityClass : PriorityClassOf(pid);

  KN_TASK_SOURCE_FIGURES figures = {};
  (g_seams.sourceFigures ? g_seams.sourceFigures : SourceFigures)(pid, &figures);
  cpuUsage_ = figures.cpuUsage;
  ramUsage_ = figures.ramUsage;
  handleCount_ = figures.handleCount;
  gdiObjects_ = figures.gdiObjects;
  userObjects_ = figures.userObjects;
  privateBytes_ = figures.privateBytes;

  if (graph_) {
    ULONGLONG kb = ramUsage_ / 1024;
    graph_->SetDataPoint(cpuUsage_, now, 0);
    graph_->SetDataPoint(kb > 0xFFFFFFFFull ? 0xFFFFFFFFu : DWORD(kb), now, 1);
  }
  return TRUE;
}

DWORD _TASKDATADYNAMIC::GetProcessID() const { return IsClassReady() ? pid_ : 0; }
DWORD _TASKDATADYNAMIC::GetCPUUsage() const { return IsClassReady() ? cpuUsage_ : 0; }
ULONGLONG _TASKDATADYNAMIC::GetRAMUsage() const { return IsClassReady() ? ramUsage_ : 0; }
ULONGLONG _TASKDATADYNAMIC::GetPrivateBytes() const { return IsClassReady() ? privateBytes_ : 0; }
DWORD _TASKDATADYNAMIC::GetHandleCount() const { return IsClassReady() ? handleCount_ : 0; }
DWORD _TASKDATADYNAMIC::GetGDIObjectCount() const { return IsClassReady() ? gdiObjects_ : 0; }
DWORD _TASKDATADYNAMIC::GetUserObjectCount() const { return IsClassReady() ? userObjects_ : 0; }
DWORD _TASKDATADYNAMIC::GetProcessPriority() const { return IsClassReady() ? priority_ : 0; }

DWORD _TASKDATADYNAMIC::GetPagefaultCount() const { return IsClassReady() ? memory_.PageFaultCount : 0; }
ULONGLONG _TASKDATADYNAMIC::GetPhysicalMemoryBytes() const { return IsClassReady() ? memory_.WorkingSetSize : 0; }
ULONGLONG _TASKDATADYNAMIC::GetPhysicalMemoryPeak() const {
  return IsClassReady() ? memory_.PeakWorkingSetSize : 0;
}
ULONGLONG _TASKDATADYNAMIC::GetPagefileBytes() const { return IsClassReady() ? memory_.PagefileUsage : 0; }
ULONGLONG _TASKDATADYNAMIC::GetPagefilePeak() const { return IsClassReady() ? memory_.PeakPagefileUsage : 0; }
LONGLONG _TASKDATADYNAMIC::GetPhysicalMemoryDelta() const { return IsClassReady() ? workingSetRate_ : 0; }
LONGLONG _TASKDATADYNAMIC::GetPagefileDelta() const { return IsClassReady() ? pagefileRate_ : 0; }
ULONGLONG _TASKDATADYNAMIC::GetTotalMemoryBytes() const { return GetPhysicalMemoryBytes() + GetPagefileBytes(); }
ULONGLONG _TASKDATADYNAMIC::GetTotalMemoryPeak() const { return GetPhysicalMemoryPeak() + GetPagefilePeak(); }
LONGLONG _TASKDATADYNAMIC::GetTotalMemoryDelta() const { return GetPhysicalMemoryDelta() + GetPagefileDelta(); }

ULONGLONG _TASKDATADYNAMIC::GetIOReadOperationCount() const { return IsClassReady() ? io_.ReadOperationCount : 0; }
ULONGLONG _TASKDATADYNAMIC::GetIOWriteOperationCount() const {
  return IsClassReady() ? io_.WriteOperationCount : 0;
}
ULONGLONG _TASKDATADYNAMIC::GetIOOtherOperationCount() const {
  return IsClassReady() ? io_.OtherOperationCount : 0;
}
ULONGLONG _TASKDATADYNAMIC::GetIOReadTransferBytes() const { return IsClassReady() ? io_.ReadTransferCount : 0; }
ULONGLONG _TASKDATADYNAMIC::GetIOWriteTransferBytes() const { return IsClassReady() ? io_.WriteTransferCount : 0; }
ULONGLONG _TASKDATADYNAMIC::GetIOOtherTransferBytes() const { return IsClassReady() ? io_.OtherTransferCount : 0; }
DWORD _TASKDATADYNAMIC::GetIOReadTransferDelta() const { return IsClassReady() ? readRate_ : 0; }
DWORD _TASKDATADYNAMIC::GetIOWriteTransferDelta() const { return IsClassReady() ? writeRate_ : 0; }
DWORD _TASKDATADYNAMIC::GetIOOtherTransferDelta() const { return IsClassReady() ? otherRate_ : 0; }

SYSTEMTIME _TASKDATADYNAMIC::GetRuntime() const { return IsClassReady() ? runtime_ : SYSTEMTIME{}; }
SYSTEMTIME _TASKDATADYNAMIC::GetKernelTime() const { return IsClassReady() ? kernel_ : SYSTEMTIME{}; }
SYSTEMTIME _TASKDATADYNAMIC::GetUserTime() const { return IsClassReady() ? user_ : SYSTEMTIME{}; }
SYSTEMTIME _TASKDATADYNAMIC::GetCPUTime() const { return IsClassReady() ? cpuTime_ : SYSTEMTIME{}; }
SYSTEMTIME _TASKDATADYNAMIC::GetCreationTime() const { return IsClassReady() ? creation_ : SYSTEMTIME{}; }
const FILETIME* _TASKDATADYNAMIC::GetCreationLPFileTime() const { return IsClassReady() ? &creationUtc_ : nullptr; }
BOOL _TASKDATADYNAMIC::IsProcessTimesOK() const { return IsClassReady() && timesOK_; }
quarl::PERFGRAPH* _TASKDATADYNAMIC::GetGraph() const { return IsClassReady() ? graph_ : nullptr; }

}  // namespace kinetra
