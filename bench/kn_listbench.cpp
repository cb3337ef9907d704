// Cost of a pass of the live process list against the floor of one raw native
// snapshot, with N idle child processes running, and the list's memory over many
// passes. Prints one "name: value" line per figure.
//
//   kn_listbench64.exe [N ...]     (default 10 100 300)
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "bench/benchutil.h"
#include "kinetra/ntapi.h"
#include "kinetra/processlist.h"

namespace {

constexpr int kBatches = 15;        // medians over this many batches
constexpr double kBatchMs = 250.0;  // a batch runs about this long, so the
                                    // system's coarse CPU clock still resolves it

ULONGLONG ThreadCpu100ns() {
  FILETIME c, e, k, u;
  GetThreadTimes(GetCurrentThread(), &c, &e, &k, &u);
  return (ULONGLONG(k.dwHighDateTime) << 32 | k.dwLowDateTime) + (ULONGLONG(u.dwHighDateTime) << 32 | u.dwLowDateTime);
}

using bench::NowMs;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Cost {
  double cpuUs;   // this thread's CPU time per call
  double wallUs;  // elapsed time per call (includes the server's share)
};

// Median per-call cost of fn over batches sized to about kBatchMs each.
template <typename Fn>
Cost Measure(Fn fn) {
  double t0 = NowMs();
  int calls = 0;
  while (NowMs() - t0 < 50 || calls < 3) {
    fn();
    ++calls;
  }
  int perBatch = std::max(3, int(kBatchMs / ((NowMs() - t0) / calls)));
  std::vector<double> cpu, wall;
  for (int b = 0; b < kBatches; ++b) {
    ULONGLONG c0 = ThreadCpu100ns();
    double w0 = NowMs();
    for (int i = 0; i < perBatch; ++i) fn();
    wall.push_back((NowMs() - w0) * 1000.0 / perBatch);
    cpu.push_back(double(ThreadCpu100ns() - c0) / 10.0 / perBatch);
  }
  return {Median(cpu), Median(wall)};
}

// One raw class-5 query into a buffer that is already large enough.
class RawSnapshot {
 public:
  RawSnapshot() {
    query_ = reinterpret_cast<kinetra::PFN_NtQuerySystemInformation>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  }
  bool Call() {
    for (;;) {
      ULONG needed = 0;
      LONG status = query_(kinetra::kSystemProcessInformation, buf_.data(), ULONG(buf_.size()), &needed);
      if (status == 0) return true;
      if (buf_.size() > (64u << 20)) return false;
      buf_.resize(std::max<size_t>(buf_.size() * 2, needed + 65536));
    }
  }
  bool Ok() const { return query_ != nullptr; }

 private:
  kinetra::PFN_NtQuerySystemInformation query_;
  std::vector<BYTE> buf_ = std::vector<BYTE>(1 << 20);
};

ULONGLONG PrivateBytes() {
  PROCESS_MEMORY_COUNTERS_EX pmc = {};
  pmc.cb = sizeof pmc;
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof pmc);
  return pmc.PrivateUsage ? pmc.PrivateUsage : pmc.PagefileUsage;
}

// Idle children: this program again, waiting until it is ended.
class Children {
 public:
  ~Children() { Resize(0); }
  bool Resize(size_t n) {
    while (procs_.size() > n) {
      TerminateProcess(procs_.back().hProcess, 0);
      WaitForSingleObject(procs_.back().hProcess, 30000);
      CloseHandle(procs_.back().hProcess);
      CloseHandle(procs_.back().hThread);
      procs_.pop_back();
    }
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    while (procs_.size() < n) {
      std::wstring cmd = L"\"" + std::wstring(self) + L"\" --idle";
      STARTUPINFOW si = {};
      si.cb = sizeof si;
      PROCESS_INFORMATION pi = {};
      if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
      WaitForInputIdle(pi.hProcess, 0);
      procs_.push_back(pi);
    }
    return true;
  }

 private:
  std::vector<PROCESS_INFORMATION> procs_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc > 1 && wcscmp(argv[1], L"--idle") == 0) {
    Sleep(INFINITE);
    return 0;
  }
  std::vector<int> counts;
  for (int i = 1; i < argc; ++i) counts.push_back(_wtoi(argv[i]));
  if (counts.empty()) counts = {10, 100, 300};

  RawSnapshot raw;
  if (!raw.Ok() || !raw.Call()) {
    std::printf("error: no snapshot\n");
    return 1;
  }
  static TL_PROCESSLIST list;
  list.Init();
  if (list.GetItemCount() == 0) {
    std::printf("error: the list did not start\n");
    return 1;
  }
  std::printf("bitness: %d\n", int(sizeof(void*) * 8));
  Children children;
  for (int n : counts) {
    if (!children.Resize(size_t(n))) {
      std::printf("error: could not start %d children\n", n);
      return 1;
    }
    // Steady state: every new process has had its static data and its icon.
    for (int i = 0; i < 20; ++i) list.Update();
    Cost snap = Measure([&] { raw.Call(); });
    Cost pass = Measure([&] { list.Update(); });
    std::printf("n%d.processes: %d\n", n, list.GetItemCount());
    std::printf("n%d.snapshot_cpu_us: %.1f\n", n, snap.cpuUs);
    std::printf("n%d.snapshot_wall_us: %.1f\n", n, snap.wallUs);
    std::printf("n%d.pass_cpu_us: %.1f\n", n, pass.cpuUs);
    std::printf("n%d.pass_wall_us: %.1f\n", n, pass.wallUs);
    std::printf("n%d.ratio_cpu: %.2f\n", n, snap.cpuUs > 0 ? pass.cpuUs / snap.cpuUs : 0.0);
    std::printf("n%d.ratio_wall: %.2f\n", n, snap.wallUs > 0 ? pass.wallUs / snap.wallUs : 0.0);
    std::fflush(stdout);
  }
  // Memory over many passes with 100 children: no growth from pass to pass.
  children.Resize(100);
  for (int i = 0; i < 100; ++i) list.Update();
  ULONGLONG after100 = PrivateBytes();
  for (int i = 100; i < 1000; ++i) list.Update();
  ULONGLONG after1000 = PrivateBytes();
  std::printf("n100.private_bytes_after_100_passes: %llu\n", after100);
  std::printf("n100.private_bytes_after_1000_passes: %llu\n", after1000);
  std::printf("n100.private_bytes_growth: %lld\n", (long long)(after1000 - after100));
  return 0;
}
