#include "kinetra/loadgauge.h"

#include <cstring>

#include "kinetra/handles.h"
#include "quarl/base/once.h"
#include "quarl/base/strfmt.h"

namespace kinetra {
namespace {

constexpr DWORD kDefaultUpdate = 250;
constexpr DWORD kDefaultFast = 100;
constexpr ULONG kProcessorFallbackBytes = 2048;

DWORD Saturate32(ULONGLONG v) { return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : DWORD(v); }

DWORD Percent(double v) {
  if (!(v > 0)) return 0;  // also NaN
  if (v >= 100) return 100;
  return DWORD(v);
}

// 100 - available x 100 / total, truncated; 0 while the total is unknown.
DWORD InUsePercent(DWORDLONG available, DWORDLONG total) {
  if (total == 0) return 0;
  return Percent(100.0 - double(available) * 100.0 / double(total));
}

ULONGLONG Abs(ULONGLONG a, ULONGLONG b) { return a > b ? a - b : b - a; }

template <typename T>
BOOL QueryFixed(PFN_NtQuerySystemInformation query, ULONG infoClass, T* out) {
  ULONG len = 0;
  return query(infoClass, out, sizeof(T), &len) == kStatusSuccess;
}

KN_LOADGAUGESOURCE g_source;
volatile LONG g_sourceOnce;

}  // namespace

KN_LOADGAUGESOURCE* GetGlobalLoadGaugeSourcePtr() {
  // Initialised on first use rather than at attach: Init calls into other
  // libraries, which is not safe under the loader lock.
  quarl::RunOnce(&g_sourceOnce, [] { g_source.Init(); });
  return &g_source;
}

KN_LOADGAUGESOURCE::KN_LOADGAUGESOURCE()
    : memory_{},
      guard_(0),
      updateInterval_(0),
      fastInterval_(0),
      lastFast_(0),
      lastFull_(0),
      haveFast_(FALSE),
      haveFull_(FALSE),
      ready_(FALSE),
      seams_{},
      entries_{},
      dataLock_{},
      refreshLock_{},
      basic_{},
      perf_{},
      cache_{},
      processors_(nullptr),
      processorCount_(0),
      current_(nullptr),
      currentCount_(0),
      previous_(nullptr),
      previousCount_(0),
      prevTime_(0),
      prevIdle_(0),
      prevSystemSum_(0),
      cpuTotal_(0),
      cpuSystem_(0),
      findHint_(0),
      sidCache_{},
      sidCacheUsed_(0),
      sidCacheNext_(0) {}

KN_LOADGAUGESOURCE::~KN_LOADGAUGESOURCE() {
  if (!ready_) return;
  HANDLE heap = GetProcessHeap();
  if (current_) HeapFree(heap, 0, current_);
  if (previous_) HeapFree(heap, 0, previous_);
  if (processors_) HeapFree(heap, 0, processors_);
  DeleteCriticalSection(&dataLock_);
  DeleteCriticalSection(&refreshLock_);
}

void KN_LOADGAUGESOURCE::SetSeams(const KN_LOADGAUGE_SEAMS& seams) { seams_ = seams; }

BOOL KN_LOADGAUGESOURCE::Init() {
  if (ready_) return TRUE;
  graph_.Init(180000, 500, 4);
  for (DWORD reg = 0; reg < 4; ++reg) graph_.SetScaleMax(100, reg);
  updateInterval_ = kDefaultUpdate;
  fastInterval_ = kDefaultFast;
  if (!BindSnapshotEntries(&entries_)) return FALSE;
  if (!QueryFixed(entries_.NtQuerySystemInformation, kSystemBasicInformation, &basic_)) return FALSE;
  InitializeCriticalSection(&dataLock_);
  InitializeCriticalSection(&refreshLock_);
  ready_ = TRUE;
  return TRUE;
}

BOOL KN_LOADGAUGESOURCE::SetUpdateInterval(DWORD updateMs, DWORD fastMs) {
  updateInterval_ = updateMs;
  fastInterval_ = fastInterval_ == 0 ? updateMs * 10 / 25 : fastMs;
  return TRUE;
}

DWORD KN_LOADGAUGESOURCE::GetUpdateInterval() const { return updateInterval_ ? updateInterval_ : kDefaultUpdate; }
DWORD KN_LOADGAUGESOURCE::GetHPUpdateInterval() const { return fastInterval_ ? fastInterval_ : kDefaultFast; }

DWORD KN_LOADGAUGESOURCE::Ticks() const { return seams_.ticks ? seams_.ticks() : GetTickCount(); }

BOOL KN_LOADGAUGESOURCE::UpdateIfDue() {
  if (!ready_) return TRUE;
  // Raised by whoever refreshes; a caller meanwhile (a nested call from the fast
  // update, or another thread) reads the data that is there.
  if (InterlockedCompareExchange(&guard_, 1, 0) != 0) return TRUE;
  if (!haveFast_ || Ticks() - lastFast_ > GetHPUpdateInterval()) UpdateHighPerf();
  if (!haveFull_ || Ticks() - lastFull_ > GetUpdateInterval()) {
    lastFull_ = Ticks();
    haveFull_ = TRUE;
    Update();
    lastFull_ = Ticks();
  }
  InterlockedExchange(&guard_, 0);
  return TRUE;
}

BOOL KN_LOADGAUGESOURCE::UpdateHighPerf() {
  if (!ready_) return TRUE;
  lastFast_ = Ticks();
  haveFast_ = TRUE;
  MEMORYSTATUSEX ms = {};
  ms.dwLength = sizeof ms;
  static_assert(sizeof(MEMORYSTATUSEX) == 64);
  BOOL ok = seams_.memoryStatus ? seams_.memoryStatus(&ms) : GlobalMemoryStatusEx(&ms);
  EnterCriticalSection(&dataLock_);
  if (ok) memory_ = ms;
  LeaveCriticalSection(&dataLock_);
  UpdateIfDue();

  DWORD now = Ticks();
  EnterCriticalSection(&dataLock_);
  double total = cpuTotal_;
  ms = memory_;
  LeaveCriticalSection(&dataLock_);
  graph_.SetDataPoint(Percent(total), now, 0);
  graph_.SetDataPoint(InUsePercent(ms.ullAvailPhys, ms.ullTotalPhys), now, 1);
  graph_.SetDataPoint(InUsePercent(ms.ullAvailPageFile, ms.ullTotalPageFile), now, 2);
  UpdateIfDue();
  EnterCriticalSection(&dataLock_);
  double system = cpuSystem_;
  LeaveCriticalSection(&dataLock_);
  graph_.SetDataPoint(Percent(system), now, 3);
  lastFast_ = Ticks();
  return TRUE;
}

void KN_LOADGAUGESOURCE::LookUpAccount(const BYTE* sid, DWORD sidLength, wchar_t* name, size_t cch) {
  // Account lookups ask the security authority; a handful of accounts own all
  // processes, so their names are remembered by SID.
  for (DWORD i = 0; i < sidCacheUsed_; ++i) {
    if (sidCache_[i].sidLength == sidLength && memcmp(sidCache_[i].sid, sid, sidLength) == 0) {
      quarl::CopyW(name, cch, sidCache_[i].name);
      return;
    }
  }
  wchar_t account[260] = L"";
  wchar_t domain[260];
  DWORD accountCch = 260, domainCch = 260;
  SID_NAME_USE use;
  if (!LookupAccountSidW(nullptr, const_cast<BYTE*>(sid), account, &accountCch, domain, &domainCch, &use)) {
    quarl::CopyW(name, cch, L"");
    return;
  }
  if (sidLength <= sizeof sidCache_[0].sid) {
    SID_NAME& slot = sidCache_[sidCacheUsed_ < 16 ? sidCacheUsed_++ : (sidCacheNext_++ % 16)];
    memcpy(slot.sid, sid, sidLength);
    slot.sidLength = sidLength;
    quarl::CopyW(slot.name, 260, account);
  }
  quarl::CopyW(name, cch, account);
}

void KN_LOADGAUGESOURCE::FillExtras(DWORD pid, const wchar_t* knownUser, KN_PROCESS_EXTRAS* out) {
  memset(out, 0, sizeof *out);
  if (seams_.processExtras) {
    if (!seams_.processExtras(pid, out)) memset(out, 0, sizeof *out);
    if (knownUser) quarl::CopyW(out->userName, 260, knownUser);
    return;
  }
  if (pid == 0) return;
  HANDLE process = OpenProcessForQuery(pid);
  if (!process) return;
  // The token's user gives the same account name that impersonating the token
  // and asking for the user name would, without changing this thread's identity.
  HANDLE token = nullptr;
  if (knownUser) {
    quarl::CopyW(out->userName, 260, knownUser);
  } else if (OpenProcessToken(process, TOKEN_QUERY, &token)) {
    alignas(8) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD length = 0;
    if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &length)) {
      PSID sid = reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid;
      if (IsValidSid(sid)) LookUpAccount(static_cast<BYTE*>(sid), GetLengthSid(sid), out->userName, 260);
    }
    CloseHandle(token);
  }
  if (entries_.GetGuiResources) {
    out->userObjects = entries_.GetGuiResources(process, GR_USEROBJECTS);
    out->gdiObjects = entries_.GetGuiResources(process, GR_GDIOBJECTS);
  }
  if (entries_.GetProcessIoCounters && !entries_.GetProcessIoCounters(process, &out->io))
    memset(&out->io, 0, sizeof out->io);
  CloseHandle(process);
}

BOOL KN_LOADGAUGESOURCE::Update() {
  if (!ready_) return TRUE;
  PFN_NtQuerySystemInformation query = entries_.NtQuerySystemInformation;
  HANDLE heap = GetProcessHeap();

  // Everything is asked into local buffers first; a failing query leaves the
  // data of the last good refresh untouched.
  union {
    KN_SYSTEM_PERFORMANCE_INFORMATION record;
    BYTE bytes[1024];  // newer systems fill a longer record
  } perf;
  ULONG len = 0;
  if (query(kSystemPerformanceInformation, &perf, sizeof perf, &len) != kStatusSuccess) return TRUE;
  KN_SYSTEM_FILECACHE_INFORMATION cache = {};
  if (!QueryFixed(query, kSystemFileCacheInformation, &cache)) return TRUE;
  ULONG procBytes = 0;
  query(kSystemProcessorPerformanceInformation, nullptr, 0, &procBytes);
  if (procBytes == 0) procBytes = kProcessorFallbackBytes;
  auto* processors = static_cast<KN_SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, procBytes));
  if (!processors) return TRUE;
  len = 0;
  if (query(kSystemProcessorPerformanceInformation, processors, procBytes, &len) != kStatusSuccess) {
    HeapFree(heap, 0, processors);
    return TRUE;
  }
  DWORD processorCount = DWORD((len && len <= procBytes ? len : procBytes) / sizeof *processors);
  SNAPSHOT_BUFFER snap;
  if (!TakeProcessSnapshot(query, &snap)) {
    HeapFree(heap, 0, processors);
    return TRUE;
  }
  KN_SYSTEM_TIMEOFDAY_INFORMATION tod = {};
  if (!QueryFixed(query, kSystemTimeOfDayInformation, &tod)) {
    HeapFree(heap, 0, processors);
    FreeProcessSnapshot(&snap);
    return TRUE;
  }

  EnterCriticalSection(&refreshLock_);
  DWORD n = DWORD(BYTE(basic_.NumberOfProcessors));
  if (n == 0) n = 1;
  DWORD summed = processorCount < n ? processorCount : n;
  LONGLONG systemSum = 0, processorIdle = 0;
  for (DWORD i = 0; i < summed; ++i) {
    systemSum += processors[i].KernelTime.QuadPart + processors[i].DpcTime.QuadPart +
                 processors[i].InterruptTime.QuadPart;
    processorIdle += processors[i].IdleTime.QuadPart;
  }

  DWORD count = 0;
  for (SnapshotWalker w(snap); w.Current(); w.Next()) ++count;
  auto* records = static_cast<KN_PROCESSPERFDATA*>(
      HeapAlloc(heap, HEAP_ZERO_MEMORY, count ? count * sizeof(KN_PROCESSPERFDATA) : 1));
  if (!records) {
    LeaveCriticalSection(&refreshLock_);
    HeapFree(heap, 0, processors);
    FreeProcessSnapshot(&snap);
    return TRUE;
  }

  // Wine's snapshot has no idle process; the processors' idle times add up to
  // the same figure.
  LONGLONG idle = processorIdle;
  for (SnapshotWalker w(snap); w.Current(); w.Next()) {
    if (SnapshotWalker::Pid(w.Current()) == 0) {
      idle = w.Current()->KernelTime.QuadPart;
      break;
    }
  }
  LONGLONG now = tod.CurrentTime.QuadPart;
  double elapsed = prevTime_ != 0 && now > prevTime_ ? double(now - prevTime_) : 0.0;
  double cpuTotal = cpuTotal_, cpuSystem = cpuSystem_;
  if (elapsed > 0) {
    cpuTotal = 100.0 - double(idle - prevIdle_) / elapsed * 100.0 / n;
    cpuSystem = 100.0 - double(systemSum - prevSystemSum_) / elapsed * 100.0 / n;
  }

  // The array being replaced is the previous one for this refresh; only
  // refreshes change it, and they are serialised.
  const KN_PROCESSPERFDATA* prev = current_;
  DWORD prevCount = currentCount_;
  DWORD i = 0, hint = 0;
  for (SnapshotWalker w(snap); w.Current() && i < count; w.Next(), ++i) {
    const KN_SYSTEM_PROCESS_INFORMATION* r = w.Current();
    KN_PROCESSPERFDATA& d = records[i];
    if (CopyImageName(snap, r, d.imageName, 260) == 0) quarl::CopyW(d.imageName, 260, L"System Idle Process");
    d.pid = SnapshotWalker::Pid(r);
    const KN_PROCESSPERFDATA* before = nullptr;
    for (DWORD k = 0; k < prevCount; ++k) {
      DWORD at = (hint + k) % prevCount;
      if (prev[at].pid == d.pid) {
        before = &prev[at];
        hint = at + 1;
        break;
      }
    }
    ULONGLONG kernel = ULONGLONG(r->KernelTime.QuadPart), user = ULONGLONG(r->UserTime.QuadPart);
    d.cpuTime = kernel + user;
    // A PID reused by a younger process shows less time than before: no usage.
    if (before && elapsed > 0 && d.cpuTime > before->cpuTime)
      d.cpuUsage = double(d.cpuTime - before->cpuTime) / elapsed * 100.0 / n;
    d.workingSet = r->WorkingSetSize;
    d.peakWorkingSet = r->PeakWorkingSetSize;
    d.pageFaults = r->PageFaultCount;
    d.virtualSize = r->VirtualSize;
    d.pagedPool = r->QuotaPagedPoolUsage;
    d.nonPagedPool = r->QuotaNonPagedPoolUsage;
    d.basePriority = r->BasePriority;
    d.handleCount = r->HandleCount;
    d.threadCount = r->NumberOfThreads;
    d.sessionId = r->SessionId;
    d.privateBytes = r->PrivatePageCount;
    if (before) {
      d.workingSetDelta = SIZE_T(Abs(d.workingSet, before->workingSet));
      d.pageFaultDelta = DWORD(Abs(d.pageFaults, before->pageFaults));
    }
    d.createTime = r->CreateTime.QuadPart;
    // Only the very same process (PID and creation time) hands its name on.
    const bool sameProcess = before && d.createTime != 0 && before->createTime == d.createTime;
    KN_PROCESS_EXTRAS extras;
    FillExtras(d.pid, sameProcess && before->userName[0] ? before->userName : nullptr, &extras);
    quarl::CopyW(d.userName, 260, extras.userName);
    d.userObjects = extras.userObjects;
    d.gdiObjects = extras.gdiObjects;
    d.io = extras.io;
    d.userTime = user;
    d.kernelTime = kernel;
  }
  prevTime_ = now;
  prevIdle_ = idle;
  prevSystemSum_ = systemSum;

  EnterCriticalSection(&dataLock_);
  perf_ = perf.record;
  cache_ = cache;
  KN_SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION* oldProcessors = processors_;
  processors_ = processors;
  processorCount_ = processorCount;
  cpuTotal_ = cpuTotal;
  cpuSystem_ = cpuSystem;
  KN_PROCESSPERFDATA* dropped = previous_;
  previous_ = current_;
  previousCount_ = currentCount_;
  current_ = records;
  currentCount_ = i;
  LeaveCriticalSection(&dataLock_);
  LeaveCriticalSection(&refreshLock_);

  if (dropped) HeapFree(heap, 0, dropped);
  if (oldProcessors) HeapFree(heap, 0, oldProcessors);
  FreeProcessSnapshot(&snap);
  return TRUE;
}

DWORD KN_LOADGAUGESOURCE::FindLocked(DWORD pid) const {
  DWORD count = currentCount_;
  DWORD hint = DWORD(findHint_);
  for (DWORD k = 0; k < count; ++k) {
    DWORD at = (hint + k) % count;
    if (current_[at].pid == pid) {
      InterlockedExchange(&findHint_, LONG(at));
      return at;
    }
  }
  return count;
}

DWORD KN_LOADGAUGESOURCE::GetProcessPerfDataID(DWORD pid) {
  UpdateIfDue();
  if (!ready_) return 0;
  EnterCriticalSection(&dataLock_);
  DWORD at = FindLocked(pid);
  LeaveCriticalSection(&dataLock_);
  return at;
}

template <typename T, typename F>
T KN_LOADGAUGESOURCE::ReadRecord(DWORD pid, F field) {
  UpdateIfDue();
  if (!ready_) return T();
  EnterCriticalSection(&dataLock_);
  DWORD at = FindLocked(pid);
  T value = at < currentCount_ ? T(field(current_[at])) : T();
  LeaveCriticalSection(&dataLock_);
  return value;
}

template <typename T, typename F>
T KN_LOADGAUGESOURCE::ReadSystem(F field) {
  UpdateIfDue();
  if (!ready_) return T();
  EnterCriticalSection(&dataLock_);
  T value = T(field());
  LeaveCriticalSection(&dataLock_);
  return value;
}

using R = const KN_PROCESSPERFDATA&;

DWORD KN_LOADGAUGESOURCE::GetProcessCPUUsage(DWORD pid) {
  return ReadRecord<DWORD>(pid, [](R r) { return r.cpuUsage > 0 ? Saturate32(ULONGLONG(r.cpuUsage)) : 0; });
}
ULONGLONG KN_LOADGAUGESOURCE::GetProcessCPUTime(DWORD pid) {
  return ReadRecord<ULONGLONG>(pid, [](R r) { return r.cpuTime; });
}
DWORD KN_LOADGAUGESOURCE::GetProcessWorkingSetSize(DWORD pid) {
  return ReadRecord<DWORD>(pid, [](R r) { return Saturate32(r.workingSet); });
}
ULONGLONG KN_LOADGAUGESOURCE::GetProcessWorkingSetSize64(DWORD pid) {
  return ReadRecord<ULONGLONG>(pid, [](R r) { return ULONGLONG(r.workingSet); });
}
DWORD KN_LOADGAUGESOURCE::GetProcessRAMUsage(DWORD pid) { return GetProcessWorkingSetSize(pid); }
DWORD KN_LOADGAUGESOURCE::GetProcessPeakWorkingSizeBytes(DWORD pid) {
  return ReadRecord<DWORD>(pid, [](R r) { return Saturate32(r.peakWorkingSet); });
}
DWORD KN_LOADGAUGESOURCE::GetProcessWorkingSetSizeDelta(DWORD pid) {
  return ReadRecord<DWORD>(pid, [](R r) { return Saturate32(r.workingSetDelta); });
}
DWORD KN_LOADGAUGESOURCE::GetProcessPageFaultCount(DWORD pid) {
  return ReadRecord<DWORD>(pid, [](R r) { return r.pageFaults; });
}
DWORD KN_LOADGAUGESOURCE::GetProcessPageFaultCountDelta(DWORD pid) {
  return ReadRecord<DWORD>(pid, [](R r) { return r.pageFaultDelta; });
}
DWORD KN_LOADGAUGESOURCE::GetProcessVirtualMemorySize(DWORD pid) {
  return ReadRecord<DWORD>(pid, [](R r) { return Saturate32(r.virtualSize); });
}
DWORD KN_LOADGAUGESOURCE::GetProcessPagedPoolUsagePages(DWORD pid) {
  return ReadRecord<DWORD>(pid, [](R r) { return Saturate32(r.pagedPool); });
}
DWORD KN_LOADGAUGESOURCE::GetProcessNonPagedPoolUsagePages(DWORD pid) {
  return ReadRecord<DWORD>(pid, [](R r) { return Saturate32(r.nonPagedPool); });
}
DWORD KN_LOADGAUGESOURCE::GetProcessHandleCount(DWORD pid) {
  return ReadRecord<DWORD>(pid, [](R r) { return r.handleCount; });
}
DWORD KN_LOADGAUGESOURCE::GetProcessThreadCount(DWORD pid) {
  return ReadRecord<DWORD>(pid, [](R r) { return r.threadCount; });
}
DWORD KN_LOADGAUGESOURCE::GetProcessUSERObjectCount(DWORD pid) {
  return ReadRecord<DWORD>(pid, [](R r) { return r.userObjects; });
}
DWORD KN_LOADGAUGESOURCE::GetProcessGDIObjectCount(DWORD pid) {
  return ReadRecord<DWORD>(pid, [](R r) { return r.gdiObjects; });
}
DWORD KN_LOADGAUGESOURCE::GetProcessPrivateBytes(DWORD pid) {
  return ReadRecord<DWORD>(pid, [](R r) { return Saturate32(r.privateBytes); });
}
ULONGLONG KN_LOADGAUGESOURCE::GetProcessPrivateBytes64(DWORD pid) {
  return ReadRecord<ULONGLONG>(pid, [](R r) { return ULONGLONG(r.privateBytes); });
}
DWORD KN_LOADGAUGESOURCE::GetProcessSessionID(DWORD pid) {
  return ReadRecord<DWORD>(pid, [](R r) { return r.sessionId; });
}

BOOL KN_LOADGAUGESOURCE::GetProcessUsername(DWORD pid, wchar_t* buf, DWORD cch) {
  UpdateIfDue();
  if (!ready_) return FALSE;
  EnterCriticalSection(&dataLock_);
  DWORD at = FindLocked(pid);
  BOOL found = at < currentCount_;
  if (found) quarl::CopyW(buf, cch, current_[at].userName);
  LeaveCriticalSection(&dataLock_);
  return found;
}

DWORD KN_LOADGAUGESOURCE::GetProcessPriorityClass(DWORD pid) {
  HANDLE h = OpenProcessForQuery(pid);
  if (!h) return 0;
  DWORD cls = GetPriorityClass(h);
  CloseHandle(h);
  return cls;
}

DWORD KN_LOADGAUGESOURCE::GetSystemProcessorUsage() {
  return ReadSystem<DWORD>([this] { return Percent(cpuTotal_); });
}
DWORD KN_LOADGAUGESOURCE::GetSystemProcessorSystemUsage() {
  return ReadSystem<DWORD>([this] { return Percent(cpuSystem_); });
}
DWORD KN_LOADGAUGESOURCE::GetSystemProcessCount() {
  return ReadSystem<DWORD>([this] { return currentCount_; });
}
DWORD KN_LOADGAUGESOURCE::GetSystemThreadCount() {
  return ReadSystem<DWORD>([this] {
    ULONGLONG sum = 0;
    for (DWORD i = 0; i < currentCount_; ++i) sum += current_[i].threadCount;
    return Saturate32(sum);
  });
}

ULONGLONG KN_LOADGAUGESOURCE::PagesToKB(ULONGLONG pages) const { return pages * (basic_.PageSize / 1024); }

DWORD KN_LOADGAUGESOURCE::GetSystemCommitChargeTotalKB() {
  return ReadSystem<DWORD>([this] { return Saturate32(PagesToKB(perf_.CommittedPages)); });
}
DWORD KN_LOADGAUGESOURCE::GetSystemCommitChargeLimitKB() {
  return ReadSystem<DWORD>([this] { return Saturate32(PagesToKB(perf_.CommitLimit)); });
}
DWORD KN_LOADGAUGESOURCE::GetSystemCommitChargePeakKB() {
  return ReadSystem<DWORD>([this] { return Saturate32(PagesToKB(perf_.PeakCommitment)); });
}
DWORD KN_LOADGAUGESOURCE::GetSystemKernelMemoryPagedKB() {
  return ReadSystem<DWORD>([this] { return Saturate32(PagesToKB(perf_.PagedPoolPages)); });
}
DWORD KN_LOADGAUGESOURCE::GetSystemKernelMemoryNonPagedKB() {
  return ReadSystem<DWORD>([this] { return Saturate32(PagesToKB(perf_.NonPagedPoolPages)); });
}
DWORD KN_LOADGAUGESOURCE::GetSystemKernelMemoryTotalKB() {
  return ReadSystem<DWORD>(
      [this] { return Saturate32(PagesToKB(ULONGLONG(perf_.PagedPoolPages) + perf_.NonPagedPoolPages)); });
}
DWORD KN_LOADGAUGESOURCE::GetSystemPhysicalMemoryTotalKB() {
  return ReadSystem<DWORD>([this] { return Saturate32(PagesToKB(basic_.NumberOfPhysicalPages)); });
}
DWORD KN_LOADGAUGESOURCE::GetSystemPhysicalMemoryAvailableKB() {
  return ReadSystem<DWORD>([this] { return Saturate32(PagesToKB(perf_.AvailablePages)); });
}
DWORD KN_LOADGAUGESOURCE::GetSystemPhysicalMemorySystemCacheKB() {
  return ReadSystem<DWORD>([this] { return Saturate32(cache_.CurrentSize / 1024); });
}

ULONGLONG KN_LOADGAUGESOURCE::GetMemoryPhysicalTotal() {
  return ReadSystem<ULONGLONG>([this] { return memory_.ullTotalPhys; });
}
ULONGLONG KN_LOADGAUGESOURCE::GetMemoryPhysicalAvailable() {
  return ReadSystem<ULONGLONG>([this] { return memory_.ullAvailPhys; });
}
ULONGLONG KN_LOADGAUGESOURCE::GetMemoryPhysicalUsage() {
  return ReadSystem<ULONGLONG>([this] { return memory_.ullTotalPhys - memory_.ullAvailPhys; });
}
ULONGLONG KN_LOADGAUGESOURCE::GetMemoryPagefileTotal() {
  return ReadSystem<ULONGLONG>([this] { return memory_.ullTotalPageFile; });
}
ULONGLONG KN_LOADGAUGESOURCE::GetMemoryPagefileAvailable() {
  return ReadSystem<ULONGLONG>([this] { return memory_.ullAvailPageFile; });
}
ULONGLONG KN_LOADGAUGESOURCE::GetMemoryPagefileUsage() {
  return ReadSystem<ULONGLONG>([this] { return memory_.ullTotalPageFile - memory_.ullAvailPageFile; });
}
ULONGLONG KN_LOADGAUGESOURCE::GetMemoryPhysicalPercentUsed() {
  return ReadSystem<ULONGLONG>([this] {
    ULONGLONG t = memory_.ullTotalPhys;
    return t ? (t - memory_.ullAvailPhys) * 100 / t : 0;
  });
}
ULONGLONG KN_LOADGAUGESOURCE::GetMemoryPagefilePercentUsed() {
  return ReadSystem<ULONGLONG>([this] {
    ULONGLONG t = memory_.ullTotalPageFile;
    return t ? (t - memory_.ullAvailPageFile) * 100 / t : 0;
  });
}

}  // namespace kinetra
