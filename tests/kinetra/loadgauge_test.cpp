#include "kinetra/loadgauge.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "quarl/base/strfmt.h"
#include "tests/kinetra/fakesnapshot.h"

using kinetra::KN_LOADGAUGESOURCE;
using kinetra::KN_PROCESS_EXTRAS;

namespace {

// Opens the refresh steps to the tests.
class Source : public KN_LOADGAUGESOURCE {
 public:
  using KN_LOADGAUGESOURCE::GetProcessPerfDataID;
  using KN_LOADGAUGESOURCE::Update;
  using KN_LOADGAUGESOURCE::UpdateHighPerf;
  using KN_LOADGAUGESOURCE::UpdateIfDue;
};

constexpr LONGLONG kSecond = 10000000;  // 100 ns units

// A two-processor machine with 1 GB of 4 KB pages, whose clock, memory status and
// per-process extras the test sets.
class LoadGauge : public testing::Test {
 protected:
  static DWORD tick;
  static MEMORYSTATUSEX memory;
  static int memoryCalls;
  static std::map<DWORD, KN_PROCESS_EXTRAS> extras;

  static DWORD WINAPI Ticks() { return tick; }
  static BOOL WINAPI Memory(LPMEMORYSTATUSEX out) {
    ++memoryCalls;
    *out = memory;
    out->dwLength = sizeof *out;
    return TRUE;
  }
  static BOOL Extras(DWORD pid, KN_PROCESS_EXTRAS* out) {
    auto it = extras.find(pid);
    if (it == extras.end()) return FALSE;
    *out = it->second;
    return TRUE;
  }

  void SetUp() override {
    tick = 1000000;
    memory = {};
    memory.ullTotalPhys = 1000;
    memory.ullAvailPhys = 250;
    memory.ullTotalPageFile = 400;
    memory.ullAvailPageFile = 300;
    memoryCalls = 0;
    extras.clear();

    kinetra::KN_SYSTEM_BASIC_INFORMATION basic = {};
    basic.PageSize = 4096;
    basic.NumberOfPhysicalPages = 262144;
    basic.NumberOfProcessors = 2;
    script.SetRecord(kinetra::kSystemBasicInformation, basic);
    kinetra::KN_SYSTEM_PERFORMANCE_INFORMATION perf = {};
    perf.AvailablePages = 1000;
    perf.CommittedPages = 2000;
    perf.CommitLimit = 3000;
    perf.PeakCommitment = 2500;
    perf.PagedPoolPages = 10;
    perf.NonPagedPoolPages = 5;
    script.SetRecord(kinetra::kSystemPerformanceInformation, perf);
    kinetra::KN_SYSTEM_FILECACHE_INFORMATION cache = {};
    cache.CurrentSize = 8 * 1024 * 1024;
    script.SetRecord(kinetra::kSystemFileCacheInformation, cache);
    SetSample(kSecond, 0, 0);
    Load({});
  }

  // The clock and the processors' summed kernel time (idle included) at a sample.
  void SetSample(LONGLONG now, LONGLONG kernelEach, LONGLONG idleEach) {
    kinetra::KN_SYSTEM_TIMEOFDAY_INFORMATION tod = {};
    tod.CurrentTime.QuadPart = now;
    script.SetRecord(kinetra::kSystemTimeOfDayInformation, tod);
    std::vector<kinetra::KN_SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION> cpus(2);
    for (auto& c : cpus) {
      c.KernelTime.QuadPart = kernelEach;
      c.IdleTime.QuadPart = idleEach;
    }
    script.SetRecords(kinetra::kSystemProcessorPerformanceInformation, cpus);
  }

  void Load(std::initializer_list<fake::Proc> procs) {
    fake::Snapshot s;
    for (const fake::Proc& p : procs) s.Add(p);
    script.Load(s);
  }

  // A source on the fake; its clock stands still until the test moves it.
  void Start(Source& source) {
    source.SetSeams({Ticks, Memory, Extras});
    ASSERT_TRUE(source.Init());
  }

  fake::Script script;
  fake::Scope scope{&script};
};

DWORD LoadGauge::tick;
MEMORYSTATUSEX LoadGauge::memory;
int LoadGauge::memoryCalls;
std::map<DWORD, KN_PROCESS_EXTRAS> LoadGauge::extras;

fake::Proc P(DWORD pid, const wchar_t* name, LONGLONG kernel, LONGLONG user, SIZE_T ws, ULONG faults,
             ULONG threads = 1) {
  fake::Proc p{pid, 0, name, threads};
  p.kernelTime = kernel;
  p.userTime = user;
  p.workingSet = ws;
  p.pageFaults = faults;
  return p;
}

TEST_F(LoadGauge, PerProcessFiguresAndChangesFromTwoSnapshots) {
  Load({P(0, L"", 2 * kSecond, 0, 0, 0, 2), P(4, L"System", 0, 0, 5000000, 90, 40),
        P(100, L"a.exe", kSecond, kSecond, 10000000, 100, 3), P(200, L"gone.exe", 0, 0, 4096, 1)});
  Source source;
  Start(source);
  source.Update();
  EXPECT_EQ(4u, source.GetSystemProcessCount());  // the idle record counts
  EXPECT_EQ(46u, source.GetSystemThreadCount());
  EXPECT_EQ(0u, source.GetProcessCPUUsage(100));  // nothing to compare with yet
  EXPECT_EQ(0u, source.GetSystemProcessorUsage());

  // One second later: a.exe used a quarter of one processor's second on each of
  // two processors: 2.5e6 / 1e7 x 100 / 2 = 12.5 percent.
  SetSample(2 * kSecond, 0, 0);
  Load({P(0, L"", 3 * kSecond, 0, 0, 0, 2), P(4, L"System", 0, 0, 4000000, 90, 40),
        P(100, L"a.exe", kSecond + 2000000, kSecond + 500000, 12000000, 150, 3),
        P(300, L"new.exe", 7 * kSecond, 0, 4096, 9)});
  source.Update();
  EXPECT_EQ(12u, source.GetProcessCPUUsage(100));  // whole percent, fraction cut
  EXPECT_EQ(ULONGLONG(2 * kSecond + 2500000), source.GetProcessCPUTime(100));
  EXPECT_EQ(12000000u, source.GetProcessWorkingSetSize(100));
  EXPECT_EQ(12000000u, source.GetProcessRAMUsage(100));
  EXPECT_EQ(2000000u, source.GetProcessWorkingSetSizeDelta(100));
  EXPECT_EQ(1000000u, source.GetProcessWorkingSetSizeDelta(4));  // shrinking counts too
  EXPECT_EQ(150u, source.GetProcessPageFaultCount(100));
  EXPECT_EQ(50u, source.GetProcessPageFaultCountDelta(100));
  EXPECT_EQ(3u, source.GetProcessThreadCount(100));
  // A process new in this snapshot has no usage and no changes, whatever its times.
  EXPECT_EQ(0u, source.GetProcessCPUUsage(300));
  EXPECT_EQ(0u, source.GetProcessWorkingSetSizeDelta(300));
  EXPECT_EQ(0u, source.GetProcessPageFaultCountDelta(300));
  // Gone or never seen: nothing.
  EXPECT_EQ(0u, source.GetProcessWorkingSetSize(200));
  EXPECT_EQ(0u, source.GetProcessCPUUsage(999));
  EXPECT_GE(source.GetProcessPerfDataID(999), source.GetSystemProcessCount());
  EXPECT_EQ(2u, source.GetProcessPerfDataID(100));
  // The idle process's kernel time grew by a second over two processors.
  EXPECT_EQ(50u, source.GetSystemProcessorUsage());
}

TEST_F(LoadGauge, SystemUsageWithoutIdleRecordComesFromTheProcessors) {
  // Wine's snapshot has no idle process; the processors' idle times stand in.
  Load({P(32, L"services.exe", 0, 0, 0, 0)});
  Source source;
  Start(source);
  SetSample(kSecond, 10 * kSecond, 4 * kSecond);
  source.Update();
  SetSample(2 * kSecond, 10 * kSecond + 7500000, 4 * kSecond + 2500000);
  source.Update();
  EXPECT_EQ(75u, source.GetSystemProcessorUsage());        // 100 - 0.5 x 100 / 2
  EXPECT_EQ(25u, source.GetSystemProcessorSystemUsage());  // 100 - 1.5 x 100 / 2
}

TEST_F(LoadGauge, NoElapsedTimeAndNoMemoryTotalsDivideByNothing) {
  memory = {};
  Load({P(100, L"a.exe", kSecond, 0, 0, 0)});
  Source source;
  Start(source);
  source.Update();
  // Same clock again: T = 0.
  Load({P(100, L"a.exe", 2 * kSecond, 0, 0, 0)});
  source.Update();
  EXPECT_EQ(0u, source.GetProcessCPUUsage(100));
  EXPECT_EQ(0u, source.GetSystemProcessorUsage());
  source.UpdateHighPerf();
  EXPECT_EQ(0u, source.GetMemoryPhysicalPercentUsed());
  EXPECT_EQ(0u, source.GetMemoryPagefilePercentUsed());
  for (DWORD reg = 0; reg < 4; ++reg) EXPECT_EQ(0u, source.GetGraph()->GetDataPoint(tick + 1, reg)) << reg;
}

TEST_F(LoadGauge, SystemFiguresAndTheGraph) {
  Load({P(4, L"System", 0, 0, 0, 0)});
  Source source;
  Start(source);
  source.UpdateHighPerf();
  EXPECT_EQ(8000u, source.GetSystemCommitChargeTotalKB());
  EXPECT_EQ(12000u, source.GetSystemCommitChargeLimitKB());
  EXPECT_EQ(10000u, source.GetSystemCommitChargePeakKB());
  EXPECT_EQ(40u, source.GetSystemKernelMemoryPagedKB());
  EXPECT_EQ(20u, source.GetSystemKernelMemoryNonPagedKB());
  EXPECT_EQ(60u, source.GetSystemKernelMemoryTotalKB());
  EXPECT_EQ(1048576u, source.GetSystemPhysicalMemoryTotalKB());
  EXPECT_EQ(4000u, source.GetSystemPhysicalMemoryAvailableKB());
  EXPECT_EQ(8192u, source.GetSystemPhysicalMemorySystemCacheKB());
  EXPECT_EQ(0u, source.GetSystemHandleCount());
  EXPECT_EQ(1000u, source.GetMemoryPhysicalTotal());
  EXPECT_EQ(250u, source.GetMemoryPhysicalAvailable());
  EXPECT_EQ(750u, source.GetMemoryPhysicalUsage());
  EXPECT_EQ(75u, source.GetMemoryPhysicalPercentUsed());
  EXPECT_EQ(100u, source.GetMemoryPagefileUsage());
  EXPECT_EQ(25u, source.GetMemoryPagefilePercentUsed());
  quarl::PERFGRAPH* g = source.GetGraph();
  EXPECT_EQ(75u, g->GetDataPoint(tick + 1, 1));
  EXPECT_EQ(25u, g->GetDataPoint(tick + 1, 2));
}

TEST_F(LoadGauge, GettersShareOneSnapshotPerInterval) {
  Load({P(100, L"a.exe", 0, 0, 4096, 0)});
  Source source;
  Start(source);
  for (int i = 0; i < 20; ++i) {
    source.GetProcessWorkingSetSize(100);
    source.GetSystemProcessorUsage();
    source.GetMemoryPhysicalTotal();
  }
  EXPECT_EQ(1, script.calls[kinetra::kSystemProcessInformation]);
  EXPECT_EQ(1, memoryCalls);
  tick += 100;  // not more than the fast interval yet
  source.GetProcessHandleCount(100);
  EXPECT_EQ(1, memoryCalls);
  tick += 1;
  source.GetProcessHandleCount(100);
  EXPECT_EQ(2, memoryCalls);
  EXPECT_EQ(1, script.calls[kinetra::kSystemProcessInformation]);
  tick += 149;  // 250 since the refresh: not more than the interval
  source.GetProcessHandleCount(100);
  EXPECT_EQ(1, script.calls[kinetra::kSystemProcessInformation]);
  tick += 1;
  source.GetProcessHandleCount(100);
  EXPECT_EQ(2, script.calls[kinetra::kSystemProcessInformation]);
}

TEST_F(LoadGauge, SetUpdateIntervalRules) {
  Source source;
  Start(source);
  EXPECT_EQ(250u, source.GetUpdateInterval());
  EXPECT_EQ(100u, source.GetHPUpdateInterval());
  struct Case {
    DWORD update, fast, wantUpdate, wantFast;
  } cases[] = {
      {500, 0, 500, 100},   // the stored fast interval was 100: 0 is stored, read as 100
      {500, 0, 500, 200},   // stored 0: 500 x 10 / 25
      {1000, 0, 1000, 0},      // stored 200: the argument (0) is stored again
      {1000, 50, 1000, 400},   // stored 0: computed, the argument is ignored
      {3000, 1500, 3000, 1500},
      {0, 0, 250, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.update << "," << c.fast);
    EXPECT_TRUE(source.SetUpdateInterval(c.update, c.fast));
    EXPECT_EQ(c.wantUpdate, source.GetUpdateInterval());
    EXPECT_EQ(c.wantFast ? c.wantFast : 100u, source.GetHPUpdateInterval());
  }
}

TEST_F(LoadGauge, FailedQueryKeepsTheLastData) {
  Load({P(100, L"a.exe", 0, 0, 4096, 0), P(101, L"b.exe", 0, 0, 0, 0)});
  Source source;
  Start(source);
  source.Update();
  ASSERT_EQ(2u, source.GetSystemProcessCount());
  Load({P(100, L"a.exe", 0, 0, 8192, 0)});
  for (ULONG failing : {kinetra::kSystemPerformanceInformation, kinetra::kSystemFileCacheInformation,
                        kinetra::kSystemProcessorPerformanceInformation, kinetra::kSystemProcessInformation,
                        kinetra::kSystemTimeOfDayInformation}) {
    SCOPED_TRACE(failing);
    script.failClass = failing;
    script.failStatus = LONG(0xC0000001);
    source.Update();
    EXPECT_EQ(2u, source.GetSystemProcessCount());
    EXPECT_EQ(4096u, source.GetProcessWorkingSetSize(100));
  }
  script.failStatus = 0;
  source.Update();
  EXPECT_EQ(1u, source.GetSystemProcessCount());
  EXPECT_EQ(8192u, source.GetProcessWorkingSetSize(100));
}

TEST_F(LoadGauge, ExtrasComeFromTheOpenedProcess) {
  KN_PROCESS_EXTRAS e = {};
  quarl::CopyW(e.userName, 260, L"alice");
  e.userObjects = 31;
  e.gdiObjects = 47;
  extras[100] = e;
  Load({P(100, L"a.exe", 0, 0, 0, 0), P(200, L"locked.exe", 0, 0, 0, 0)});
  Source source;
  Start(source);
  EXPECT_EQ(31u, source.GetProcessUSERObjectCount(100));
  EXPECT_EQ(47u, source.GetProcessGDIObjectCount(100));
  wchar_t name[256];
  EXPECT_TRUE(source.GetProcessUsername(100, name, 256));
  EXPECT_STREQ(L"alice", name);
  EXPECT_TRUE(source.GetProcessUsername(100, name, 3));
  EXPECT_STREQ(L"al", name);
  // Cannot be opened: an empty name and no counters, but a record.
  quarl::CopyW(name, 256, L"x");
  EXPECT_TRUE(source.GetProcessUsername(200, name, 256));
  EXPECT_STREQ(L"", name);
  EXPECT_EQ(0u, source.GetProcessGDIObjectCount(200));
  quarl::CopyW(name, 256, L"untouched");
  EXPECT_FALSE(source.GetProcessUsername(999, name, 256));
  EXPECT_STREQ(L"untouched", name);
}

TEST_F(LoadGauge, AUserNameIsAskedOncePerProcess) {
  // The extras would now give another name: the same process keeps the one it
  // had; a new process under a reused PID, or one without a creation time, asks.
  KN_PROCESS_EXTRAS e = {};
  quarl::CopyW(e.userName, 260, L"alice");
  e.gdiObjects = 5;
  extras[100] = extras[200] = extras[300] = e;
  fake::Proc a = P(100, L"a.exe", 0, 0, 0, 0), b = P(200, L"b.exe", 0, 0, 0, 0), c = P(300, L"c.exe", 0, 0, 0, 0);
  a.createTime = b.createTime = 5 * kSecond;
  Load({a, b, c});
  Source source;
  Start(source);
  source.Update();
  for (auto& [pid, x] : extras) {
    quarl::CopyW(x.userName, 260, L"bob");
    x.gdiObjects = 6;
  }
  b.createTime = 9 * kSecond;  // 200 is another process now
  Load({a, b, c});
  SetSample(3 * kSecond, 0, 0);
  ASSERT_TRUE(source.Update());
  wchar_t name[64];
  ASSERT_TRUE(source.GetProcessUsername(100, name, 64));
  EXPECT_STREQ(L"alice", name);
  EXPECT_EQ(6u, source.GetProcessGDIObjectCount(100));  // the counters are still asked
  ASSERT_TRUE(source.GetProcessUsername(200, name, 64));
  EXPECT_STREQ(L"bob", name);
  ASSERT_TRUE(source.GetProcessUsername(300, name, 64));
  EXPECT_STREQ(L"bob", name);
}

TEST(LoadGaugeLive, GlobalSourceKnowsThisProcess) {
  KN_LOADGAUGESOURCE* source = kinetra::GetGlobalLoadGaugeSourcePtr();
  ASSERT_EQ(source, kinetra::GetGlobalLoadGaugeSourcePtr());
  DWORD self = GetCurrentProcessId();
  EXPECT_GT(source->GetProcessWorkingSetSize(self), 0u);
  EXPECT_GE(source->GetProcessThreadCount(self), 1u);
  EXPECT_GT(source->GetSystemProcessCount(), 1u);
  EXPECT_GE(source->GetSystemThreadCount(), source->GetSystemProcessCount());
  EXPECT_GT(source->GetMemoryPhysicalTotal(), 0u);
  EXPECT_GT(source->GetSystemPhysicalMemoryTotalKB(), 0u);
  EXPECT_LE(source->GetSystemProcessorUsage(), 100u);
  EXPECT_EQ(DWORD(NORMAL_PRIORITY_CLASS), source->GetProcessPriorityClass(self));
  wchar_t name[256] = L"", expected[256];
  DWORD cch = 256;
  ASSERT_TRUE(GetUserNameW(expected, &cch));
  EXPECT_TRUE(source->GetProcessUsername(self, name, 256));
  EXPECT_STREQ(expected, name);
  // The lookup did not leave this thread impersonating anyone.
  HANDLE token = nullptr;
  EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token));
  EXPECT_EQ(DWORD(ERROR_NO_TOKEN), GetLastError());
}

}  // namespace
