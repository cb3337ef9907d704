#include "kinetra/sysperfinfo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <vector>

using kinetra::_SYSPERFINFO;

namespace {

using CPUREC = kinetra::KN_SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION;
constexpr LONG kMismatch = static_cast<LONG>(0xC0000004);
constexpr LONG kUnsuccessful = static_cast<LONG>(0xC0000001);
constexpr ULONGLONG kSecond = 10000000;  // system clock ticks

// The machine the fake query describes: what each class delivers now.
struct FakeMachine {
  kinetra::KN_SYSTEM_BASIC_INFORMATION basic{};
  kinetra::KN_SYSTEM_PERFORMANCE_INFORMATION perf{};
  kinetra::KN_SYSTEM_FILECACHE_INFORMATION cache{};
  kinetra::KN_SYSTEM_TIMEOFDAY_INFORMATION time{};
  std::vector<CPUREC> cpus;
  std::vector<kinetra::KN_PROCESSOR_POWER_INFORMATION> power;
  ULONG failClass = 0xFFFFFFFF;  // this class fails
  bool powerFails = false;
  std::map<ULONG, int> calls;

  FakeMachine(BYTE processors, ULONG pageSize = 4096) {
    basic.PageSize = pageSize;
    basic.NumberOfPhysicalPages = 1000;
    basic.NumberOfProcessors = processors;
    cpus.resize(processors);
    power.resize(processors);
    for (BYTE i = 0; i < processors; ++i) power[i] = {i, 3000u + i, 1000u + i, 3000, 2, 1};
    time.CurrentTime.QuadPart = 130000000000000000LL;  // some day in 2012
  }
  void Advance(ULONGLONG ticks) { time.CurrentTime.QuadPart += LONGLONG(ticks); }
};

FakeMachine* g_machine;

template <class T>
LONG Serve(const T* rec, ULONG size, PVOID buffer, ULONG length, PULONG returned) {
  if (returned) *returned = size;
  // The system accepts only its own record size (that of the caller's bitness).
  if (!buffer || length != size) return kMismatch;
  memcpy(buffer, rec, size);
  return 0;
}

LONG NTAPI FakeQuery(ULONG infoClass, PVOID buffer, ULONG length, PULONG returned) {
  FakeMachine& m = *g_machine;
  ++m.calls[infoClass];
  if (infoClass == m.failClass) return kUnsuccessful;
  switch (infoClass) {
    case kinetra::kSystemBasicInformation:
      return Serve(&m.basic, sizeof m.basic, buffer, length, returned);
    case kinetra::kSystemPerformanceInformation:
      return Serve(&m.perf, sizeof m.perf, buffer, length, returned);
    case kinetra::kSystemTimeOfDayInformation:
      return Serve(&m.time, sizeof m.time, buffer, length, returned);
    case kinetra::kSystemFileCacheInformation:
      return Serve(&m.cache, sizeof m.cache, buffer, length, returned);
    case kinetra::kSystemProcessorPerformanceInformation:
      return Serve(m.cpus.data(), ULONG(m.cpus.size() * sizeof(CPUREC)), buffer, length, returned);
  }
  return static_cast<LONG>(0xC0000003);
}

LONG WINAPI FakePower(POWER_INFORMATION_LEVEL level, PVOID, ULONG, PVOID out, ULONG outLength) {
  FakeMachine& m = *g_machine;
  if (level != POWER_INFORMATION_LEVEL(kinetra::kProcessorPowerInformationLevel) || m.powerFails)
    return kUnsuccessful;
  ULONG need = ULONG(m.power.size() * sizeof m.power[0]);
  if (outLength < need) return static_cast<LONG>(0xC0000023);
  memcpy(out, m.power.data(), need);
  return 0;
}

// Objects constructed while it lives see the fake machine.
class MachineScope {
 public:
  explicit MachineScope(FakeMachine* m) {
    g_machine = m;
    prevQuery_ = kinetra::SetSysPerfQueryOverride(FakeQuery);
    prevPower_ = kinetra::SetSysPerfPowerOverride(FakePower);
  }
  ~MachineScope() {
    kinetra::SetSysPerfQueryOverride(prevQuery_);
    kinetra::SetSysPerfPowerOverride(prevPower_);
    g_machine = nullptr;
  }

 private:
  kinetra::SYSPERF_QUERY_FN prevQuery_;
  kinetra::SYSPERF_POWER_FN prevPower_;
};

void AddTimes(CPUREC& c, double idle, double kernel, double user, double dpc, double intr) {
  c.IdleTime.QuadPart += LONGLONG(idle);
  c.KernelTime.QuadPart += LONGLONG(kernel);
  c.UserTime.QuadPart += LONGLONG(user);
  c.DpcTime.QuadPart += LONGLONG(dpc);
  c.InterruptTime.QuadPart += LONGLONG(intr);
}

TEST(SysPerfInfo, SharesFromTwoSampleSetsAreExact) {
  FakeMachine m(2);
  // Counters that are not zero at the start: only their changes may count.
  m.perf.IdleProcessTime.QuadPart = 987654321;
  AddTimes(m.cpus[0], 4e8, 9e8, 3e8, 1e7, 2e7);
  AddTimes(m.cpus[1], 5e8, 8e8, 2e8, 3e7, 1e7);
  MachineScope scope(&m);
  _SYSPERFINFO p;
  ASSERT_TRUE(p.IsReady());
  EXPECT_EQ(1u, p.GetStatus());
  EXPECT_EQ(2, p.GetProcessorCount());

  m.Advance(kSecond);
  m.perf.IdleProcessTime.QuadPart += LONGLONG(kSecond);  // one of two processors' worth
  AddTimes(m.cpus[0], 2.5e6, 5e6, 4e6, 1e6, 5e5);
  AddTimes(m.cpus[1], 7.5e6, 8e6, 1e6, 0, 1.5e6);
  ASSERT_TRUE(p.Update());

  EXPECT_DOUBLE_EQ(50.0, p.GetCPUUsage());
  EXPECT_DOUBLE_EQ(5.0, p.GetDPCCPUUsage());
  EXPECT_DOUBLE_EQ(10.0, p.GetInterruptCPUUsage());
  EXPECT_DOUBLE_EQ(75.0, p.GetUSERModePercent());     // 100 - 25
  EXPECT_DOUBLE_EQ(35.0, p.GetKERNELModePercent());   // 100 - 65: kernel time includes idle
  EXPECT_DOUBLE_EQ(20.0, p.GetSystemCPUUsage());      // 35 - 10 - 5

  struct Core {
    double usage, dpc, intr, user, kernel;
  } want[] = {{75, 10, 5, 80, 50}, {25, 0, 15, 95, 20}};
  for (BYTE i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    EXPECT_DOUBLE_EQ(want[i].usage, p.GetCoreCPUUsage(i));
    EXPECT_DOUBLE_EQ(want[i].dpc, p.GetCoreDPCCPUUsage(i));
    EXPECT_DOUBLE_EQ(want[i].intr, p.GetCoreInterruptCPUUsage(i));
    EXPECT_DOUBLE_EQ(want[i].user, p.GetCoreUSERModePercent(i));  // divided by N as well
    EXPECT_DOUBLE_EQ(want[i].kernel, p.GetCoreKERNELModePercent(i));
    EXPECT_DOUBLE_EQ(0.0, p.GetCoreSystemCPUUsage(i));
  }
}

TEST(SysPerfInfo, SharesAreClampedToZeroToHundred) {
  FakeMachine m(2);
  MachineScope scope(&m);
  _SYSPERFINFO p;
  m.Advance(kSecond);
  m.perf.IdleProcessTime.QuadPart += LONGLONG(3 * kSecond);  // more than there was
  AddTimes(m.cpus[0], 2e7, 1e6, 0, 3e7, 3e7);
  ASSERT_TRUE(p.Update());
  EXPECT_DOUBLE_EQ(0.0, p.GetCPUUsage());
  EXPECT_DOUBLE_EQ(0.0, p.GetCoreCPUUsage(0));
  EXPECT_DOUBLE_EQ(100.0, p.GetCoreDPCCPUUsage(0));
  EXPECT_DOUBLE_EQ(100.0, p.GetCoreInterruptCPUUsage(0));
  // Kernel-mode percent 95 less shares of 100 and 100: clamped at 0.
  EXPECT_DOUBLE_EQ(95.0, p.GetKERNELModePercent());
  EXPECT_DOUBLE_EQ(0.0, p.GetSystemCPUUsage());
}

TEST(SysPerfInfo, RatesPerSecondAndChangesPerRefresh) {
  FakeMachine m(1);
  auto& s = m.perf;
  s.ContextSwitches = 0xFFFFFFF0;  // wraps during the interval
  s.IoReadOperationCount = 100;
  s.IoReadTransferCount.QuadPart = 0xFFFFFFFF00LL;
  s.PageFaultCount = 0xFFFFFFFE;
  s.PageReadIoCount = 50;
  MachineScope scope(&m);
  _SYSPERFINFO p;

  m.Advance(2 * kSecond);
  s.ContextSwitches += 0x30;
  s.IoReadOperationCount += 1000;
  s.IoWriteOperationCount += 2;
  s.IoOtherOperationCount += 3;
  s.IoReadTransferCount.QuadPart += 0x200000;
  s.IoWriteTransferCount.QuadPart += 10000000000LL;  // 5e9 per second: more than 32 bits
  s.IoOtherTransferCount.QuadPart += 7;
  s.PageFaultCount += 5;
  s.PageReadIoCount += 6;
  s.DirtyWriteIoCount += 7;
  s.PagedPoolAllocs += 8;
  s.PagedPoolFrees += 9;
  s.SystemCalls += 10;
  s.TransitionCount += 11;
  s.DemandZeroCount += 12;
  ASSERT_TRUE(p.Update());

  struct {
    const char* what;
    DWORD got, want;
  } cases[] = {
      {"context switches", p.GetContextSwitchDelta(), 24},
      {"reads", p.GetIOReadDelta(), 500},
      {"writes", p.GetIOWriteDelta(), 1},
      {"other", p.GetIOOtherDelta(), 1},  // 1.5 truncated
      {"read bytes", p.GetIOReadTransferDelta(), 0x100000},
      {"write bytes", p.GetIOWriteTransferDelta(), 0xFFFFFFFF},  // saturated, not wrapped
      {"other bytes", p.GetIOOtherTransferDelta(), 3},
      {"page faults", p.GetPagefaultDelta(), 5},
      {"pages read", p.GetPagesReadDelta(), 6},
      {"pages written", p.GetPagesWrittenDelta(), 7},
      {"pool allocs", p.GetPagedPoolAllocDelta(), 8},
      {"pool frees", p.GetPagedPoolFreeDelta(), 9},
      {"system calls", p.GetSystemCallsDelta(), 10},
      {"transition", p.GetTransistionFaultDelta(), 11},
      {"demand zero", p.GetDemandZeroFaultDelta(), 12},
  };
  for (auto& c : cases) EXPECT_EQ(c.want, c.got) << c.what;
}

TEST(SysPerfInfo, RefreshWithinOneClockTickCountsAsOneTick) {
  FakeMachine m(2);
  MachineScope scope(&m);
  _SYSPERFINFO p;
  ASSERT_TRUE(p.Update());  // same clock: nothing changed at all
  for (double v : {p.GetCPUUsage(), p.GetSystemCPUUsage(), p.GetDPCCPUUsage(), p.GetInterruptCPUUsage(),
                   p.GetKERNELModePercent(), p.GetUSERModePercent(), p.GetCoreCPUUsage(0),
                   p.GetCoreUSERModePercent(1)})
    EXPECT_TRUE(std::isfinite(v));
  EXPECT_DOUBLE_EQ(100.0, p.GetCPUUsage());
  EXPECT_DOUBLE_EQ(0.0, p.GetDPCCPUUsage());

  m.perf.IdleProcessTime.QuadPart += 3;
  m.perf.ContextSwitches += 2;
  AddTimes(m.cpus[1], 1, 0, 0, 1, 0);
  ASSERT_TRUE(p.Update());
  EXPECT_DOUBLE_EQ(0.0, p.GetCPUUsage());  // 150 % idle, clamped
  EXPECT_DOUBLE_EQ(50.0, p.GetDPCCPUUsage());
  EXPECT_DOUBLE_EQ(0.0, p.GetCoreCPUUsage(1));
  EXPECT_DOUBLE_EQ(100.0, p.GetCoreDPCCPUUsage(1));
  EXPECT_EQ(20000000u, p.GetContextSwitchDelta());  // two in one tick
  m.perf.ContextSwitches += 1000;
  ASSERT_TRUE(p.Update());
  EXPECT_EQ(0xFFFFFFFFu, p.GetContextSwitchDelta());
}

TEST(SysPerfInfo, MemoryInKilobytesFollowsThePageSize) {
  struct {
    ULONG pageSize;
    DWORD kbPerPage;
  } sizes[] = {{4096, 4}, {8192, 8}, {65536, 64}, {1000, 0}};  // whole KB per page only
  for (auto& c : sizes) {
    SCOPED_TRACE(c.pageSize);
    FakeMachine m(1, c.pageSize);
    m.perf.AvailablePages = 250;
    m.perf.CommittedPages = 300;
    m.perf.CommitLimit = 2000;
    m.perf.PeakCommitment = 400;
    m.perf.PagedPoolPages = 10;
    m.perf.NonPagedPoolPages = 20;
    m.cache.CurrentSize = 10 * 1048576 + 1023;
    MachineScope scope(&m);
    _SYSPERFINFO p;
    ASSERT_TRUE(p.IsReady());
    const DWORD k = c.kbPerPage;
    EXPECT_EQ(c.pageSize, p.GetPhysicalPageSize());
    EXPECT_EQ(1000u, p.GetPhysicalPageCount());
    EXPECT_EQ(1000 * k, p.GetPhysicalMemoryTotalKB());
    EXPECT_EQ(250 * k, p.GetPhysicalMemoryAvailableKB());
    EXPECT_EQ(300 * k, p.GetCommitChargeTotalKB());
    EXPECT_EQ(2000 * k, p.GetCommitChargeLimitKB());
    EXPECT_EQ(400 * k, p.GetCommitChargePeakKB());
    EXPECT_EQ(10 * k, p.GetKernelMemoryPagedKB());
    EXPECT_EQ(20 * k, p.GetKernelMemoryNonPagedKB());
    EXPECT_EQ(30 * k, p.GetKernelMemoryTotalKB());
    EXPECT_EQ(10240u, p.GetPhysicalMemorySystemCacheKB());
  }
}

TEST(SysPerfInfo, TwentyProcessorsKeepSixteenCoreSlotsAndCountAllInTotals) {
  FakeMachine m(20);
  MachineScope scope(&m);
  _SYSPERFINFO p;
  ASSERT_TRUE(p.IsReady());
  EXPECT_EQ(20, p.GetProcessorCount());
  m.Advance(kSecond);
  for (BYTE i = 0; i < 20; ++i) AddTimes(m.cpus[i], i * 1e5, 0, 0, 1e5, 0);
  ASSERT_TRUE(p.Update());  // asked for all twenty records, or the fake refuses
  for (BYTE i = 0; i < 16; ++i) EXPECT_DOUBLE_EQ(100.0 - i, p.GetCoreCPUUsage(i)) << int(i);
  for (BYTE i : {16, 19, 20, 255}) {
    EXPECT_DOUBLE_EQ(0.0, p.GetCoreCPUUsage(i)) << int(i);
    EXPECT_DOUBLE_EQ(0.0, p.GetCoreDPCCPUUsage(i)) << int(i);
    EXPECT_DOUBLE_EQ(0.0, p.GetCoreKERNELModePercent(i)) << int(i);
  }
  EXPECT_DOUBLE_EQ(1.0, p.GetDPCCPUUsage());  // all twenty processors, not sixteen
  // Clocks are per power record, not per core slot.
  EXPECT_EQ(1019u, p.GetCoreFrequencyCurrentMHz(19));
  EXPECT_EQ(3019u, p.GetCoreFrequencyMaximumMHz(19));
  EXPECT_EQ(0u, p.GetCoreFrequencyCurrentMHz(20));
}

TEST(SysPerfInfo, FailedQueryKeepsFiguresAndNextRefreshMeasuresFromLastGoodOne) {
  for (ULONG failing : {kinetra::kSystemPerformanceInformation, kinetra::kSystemFileCacheInformation,
                        kinetra::kSystemProcessorPerformanceInformation, kinetra::kSystemTimeOfDayInformation}) {
    SCOPED_TRACE(failing);
    FakeMachine m(2);
    MachineScope scope(&m);
    _SYSPERFINFO p;
    m.Advance(kSecond);
    m.perf.IdleProcessTime.QuadPart += LONGLONG(kSecond);
    m.perf.ContextSwitches += 100;
    m.perf.CommittedPages = 100;
    m.cache.CurrentSize = 1048576;
    AddTimes(m.cpus[0], 5e6, 0, 0, 0, 0);
    ASSERT_TRUE(p.Update());
    ASSERT_DOUBLE_EQ(50.0, p.GetCPUUsage());

    // A refresh that fails part way: whatever came before the failing query
    // must not show, nor become the base of the next refresh.
    m.Advance(kSecond);
    m.perf.IdleProcessTime.QuadPart += LONGLONG(kSecond);
    m.perf.ContextSwitches += 100;
    m.perf.CommittedPages = 500;
    m.cache.CurrentSize = 5 * 1048576;
    AddTimes(m.cpus[0], 1e7, 0, 0, 0, 0);
    m.failClass = failing;
    EXPECT_FALSE(p.Update());
    EXPECT_DOUBLE_EQ(50.0, p.GetCPUUsage());
    EXPECT_DOUBLE_EQ(50.0, p.GetCoreCPUUsage(0));
    EXPECT_EQ(100u, p.GetContextSwitchDelta());
    EXPECT_EQ(400u, p.GetCommitChargeTotalKB());
    EXPECT_EQ(1024u, p.GetPhysicalMemorySystemCacheKB());

    m.failClass = 0xFFFFFFFF;
    m.Advance(kSecond);
    m.perf.ContextSwitches += 300;
    m.perf.CommittedPages = 600;
    ASSERT_TRUE(p.Update());
    // Two seconds since the last good refresh: 1 s idle of 4 processor-seconds.
    EXPECT_DOUBLE_EQ(75.0, p.GetCPUUsage());
    EXPECT_DOUBLE_EQ(50.0, p.GetCoreCPUUsage(0));
    EXPECT_EQ(200u, p.GetContextSwitchDelta());
    EXPECT_EQ(2400u, p.GetCommitChargeTotalKB());
  }
}

TEST(SysPerfInfo, ClocksComeFromThePowerCallAndSurviveItsFailure) {
  FakeMachine m(2);
  m.powerFails = true;
  MachineScope scope(&m);
  _SYSPERFINFO p;
  EXPECT_EQ(0u, p.GetCoreFrequencyCurrentMHz(0));
  m.powerFails = false;
  ASSERT_TRUE(p.Update());
  EXPECT_EQ(1001u, p.GetCoreFrequencyCurrentMHz(1));
  EXPECT_EQ(3000u, p.GetCoreFrequencyMaximumMHz(0));
  m.power[1].CurrentMhz = 2500;
  ASSERT_TRUE(p.Update());
  EXPECT_EQ(2500u, p.GetCoreFrequencyCurrentMHz(1));  // read every refresh
  m.powerFails = true;
  m.power[1].CurrentMhz = 1;
  ASSERT_TRUE(p.Update());
  EXPECT_EQ(2500u, p.GetCoreFrequencyCurrentMHz(1));
  EXPECT_EQ(0u, p.GetCoreFrequencyCurrentMHz(2));
}

TEST(SysPerfInfo, WithoutBasicInformationNothingIsReady) {
  struct {
    const char* what;
    bool failBasic;
    BYTE processors;
  } cases[] = {{"basic query fails", true, 2}, {"no processors", false, 0}};
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeMachine m(c.processors);
    if (c.failBasic) m.failClass = kinetra::kSystemBasicInformation;
    m.perf.CommittedPages = 10;
    MachineScope scope(&m);
    _SYSPERFINFO p;
    EXPECT_FALSE(p.IsReady());
    EXPECT_EQ(0u, p.GetStatus());
    EXPECT_FALSE(p.Update());
    EXPECT_EQ(0, m.calls[kinetra::kSystemPerformanceInformation]);
    EXPECT_EQ(0, p.GetProcessorCount());
    EXPECT_EQ(0u, p.GetPhysicalPageSize());
    EXPECT_EQ(0u, p.GetCommitChargeTotalKB());
    EXPECT_DOUBLE_EQ(0.0, p.GetCPUUsage());
    EXPECT_DOUBLE_EQ(0.0, p.GetCoreCPUUsage(0));
    EXPECT_EQ(0u, p.GetCoreFrequencyMaximumMHz(0));
  }
}

TEST(SysPerfInfo, InitAgainStartsOver) {
  FakeMachine m(2);
  MachineScope scope(&m);
  _SYSPERFINFO p;
  m.Advance(kSecond);
  m.perf.IdleProcessTime.QuadPart += LONGLONG(kSecond);
  ASSERT_TRUE(p.Update());
  ASSERT_DOUBLE_EQ(50.0, p.GetCPUUsage());
  m.basic.NumberOfProcessors = 1;
  m.cpus.resize(1);
  m.power.resize(1);
  ASSERT_TRUE(p.Init());
  EXPECT_EQ(1, p.GetProcessorCount());
  m.Advance(kSecond);
  m.perf.IdleProcessTime.QuadPart += LONGLONG(kSecond / 4);
  ASSERT_TRUE(p.Update());  // sized for one processor now
  EXPECT_DOUBLE_EQ(75.0, p.GetCPUUsage());
  EXPECT_EQ(0u, p.GetCoreFrequencyCurrentMHz(1));
}

// The real system under Wine: every record size is accepted by the system of
// this bitness, and the figures are plausible.
TEST(SysPerfInfo, LiveSystemFigures) {
  _SYSPERFINFO p;
  ASSERT_TRUE(p.IsReady());
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  EXPECT_EQ(si.dwNumberOfProcessors, p.GetProcessorCount());
  EXPECT_EQ(si.dwPageSize, p.GetPhysicalPageSize());
  MEMORYSTATUSEX ms = {};
  ms.dwLength = sizeof ms;
  ASSERT_TRUE(GlobalMemoryStatusEx(&ms));
  const double totalKB = double(ms.ullTotalPhys) / 1024;
  EXPECT_NEAR(totalKB, p.GetPhysicalMemoryTotalKB(), totalKB / 100);
  EXPECT_GT(p.GetPhysicalMemoryAvailableKB(), 0u);
  ASSERT_TRUE(p.Update());
  ASSERT_TRUE(p.Update());
  for (double v : {p.GetCPUUsage(), p.GetSystemCPUUsage(), p.GetKERNELModePercent(), p.GetUSERModePercent(),
                   p.GetCoreCPUUsage(0)}) {
    EXPECT_GE(v, 0.0);
    EXPECT_LE(v, 100.0);
  }
  EXPECT_GT(p.GetCoreFrequencyMaximumMHz(0), 0u);
  EXPECT_EQ(0u, p.GetCoreFrequencyMaximumMHz(BYTE(si.dwNumberOfProcessors)));
}

}  // namespace
