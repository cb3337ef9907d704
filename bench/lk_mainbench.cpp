// Processor time per second of the main program at its fastest refresh (0.1 s)
// against Wine's own task manager on its process page at its fastest update
// speed, both running at the same time with 100 idle child processes of this
// bench. Prints one "name: value" line per figure.
//
//   lk_mainbench64.exe [seconds [interval]]   (measured span, default 20; the main
//                                            program's refresh in ms, default 100)
//
// Both programs store their options when they close. The bench sets what it
// needs before it starts them, closes them the way a user would, and then puts
// every value of both option keys back as it found them (a key that did not
// exist is removed again).
#include <windows.h>

#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bench/benchutil.h"
#include "kinetra/ntapi.h"
#include "resources/larkon_ids.h"

namespace {

constexpr int kIdleChildren = 100;
constexpr double kDefaultSpanS = 20.0;
constexpr double kWarmUpMs = 3000.0;
constexpr DWORD kSampleMs = 250;        // snapshot interval during the span
constexpr DWORD kWindowWaitMs = 60000;  // start-up allowance for each program
constexpr DWORD kCloseWaitMs = 10000;   // for each polite request to close

// ---- the main program ---------------------------------------------------------

const wchar_t kMainImage[] = L"larkon64.exe";
const wchar_t kMainKey[] = L"Software\\Quenby Software\\larkon";
const wchar_t kMainMutex[] = L"Quenby.larkon/running";
DWORD g_mainIntervalMs = 100;  // its fastest refresh unless told otherwise
constexpr DWORD kFallbackLang = 1033;   // without a stored language it asks for one first

// ---- Wine's task manager (ids from its resource script) --------------------------

const wchar_t kTaskmgrKey[] = L"Software\\Wine\\TaskManager";
const wchar_t kTaskmgrValue[] = L"Preferences";
constexpr int kTmTabControl = 1015;
constexpr int kTmProcessList = 1018;
constexpr WORD kTmSpeedHigh = 32781;  // View > Update Speed > High
constexpr int kTmProcessTab = 1;
constexpr int kTmSpeedCodeHigh = 1;
constexpr DWORD kTmHighPeriodMs = 1000;  // its timer at "High", the fastest it has

// The head of the settings record it stores on exit; only these fields are read.
struct TASKMGR_SETTINGS_HEAD {
  BOOL maximized;
  int left, top, right, bottom;
  int activeTabPage;
  BOOL alwaysOnTop, minimizeOnUse, hideWhenMinimized, show16BitTasks;
  int updateSpeed;  // 0 paused, 1 high, 2 normal, 4 low
};
static_assert(offsetof(TASKMGR_SETTINGS_HEAD, activeTabPage) == 20, "record layout of Wine's task manager");
static_assert(offsetof(TASKMGR_SETTINGS_HEAD, updateSpeed) == 40, "record layout of Wine's task manager");
static_assert(sizeof(TASKMGR_SETTINGS_HEAD) == 44, "record layout of Wine's task manager");

// ---- small helpers --------------------------------------------------------------

using bench::NowMs;

std::wstring ModuleFolder() {
  wchar_t self[MAX_PATH] = L"";
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self);
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::string Narrow(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size_t(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

bool Ended(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }

// ---- option keys ----------------------------------------------------------------

// Every value (and the list of subkeys) of one key as it was, put back on Restore
// or destruction. A key that did not exist is deleted again with whatever was
// created under it, and so are its parents that did not exist and stayed empty.
class KeySnapshot {
 public:
  KeySnapshot(HKEY root, const wchar_t* path) : root_(root), path_(path) { ok_ = Take(); }
  ~KeySnapshot() { Restore(); }
  KeySnapshot(const KeySnapshot&) = delete;
  KeySnapshot& operator=(const KeySnapshot&) = delete;

  bool Ok() const { return ok_; }
  bool Existed() const { return existed_; }

  bool Restore() {
    if (!ok_ || restored_) return restoredOk_;
    restored_ = true;
    restoredOk_ = existed_ ? PutBack() : Remove();
    return restoredOk_;
  }

 private:
  struct Value {
    std::wstring name;
    DWORD type;
    std::vector<BYTE> data;
  };

  bool Take() {
    HKEY key;
    LONG rc = RegOpenKeyExW(root_, path_.c_str(), 0, KEY_READ, &key);
    if (rc == ERROR_FILE_NOT_FOUND) {
      existed_ = false;
      // The outermost missing parent: what Remove may delete up to.
      for (size_t at = path_.find(L'\\'); at != std::wstring::npos; at = path_.find(L'\\', at + 1)) {
        std::wstring parent = path_.substr(0, at);
        HKEY p;
        if (RegOpenKeyExW(root_, parent.c_str(), 0, KEY_READ, &p) != ERROR_SUCCESS) {
          firstMissing_ = parent;
          break;
        }
        RegCloseKey(p);
      }
      if (firstMissing_.empty()) firstMissing_ = path_;
      return true;
    }
    if (rc != ERROR_SUCCESS) return false;
    existed_ = true;
    values_ = ReadValues(key);
    subKeys_ = ReadSubKeys(key);
    RegCloseKey(key);
    return true;
  }

  static std::vector<Value> ReadValues(HKEY key) {
    std::vector<Value> values;
    DWORD nameMax = 0, dataMax = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &nameMax, &dataMax, nullptr,
                     nullptr);
    std::vector<wchar_t> name(nameMax + 2);
    std::vector<BYTE> data(dataMax + 2);
    for (DWORD i = 0;; ++i) {
      DWORD nameLen = DWORD(name.size()), dataLen = DWORD(data.size()), type = 0;
      LONG rc = RegEnumValueW(key, i, name.data(), &nameLen, nullptr, &type, data.data(), &dataLen);
      if (rc != ERROR_SUCCESS) break;
      values.push_back({std::wstring(name.data(), nameLen), type, std::vector<BYTE>(data.begin(), data.begin() + dataLen)});
    }
    return values;
  }

  static std::vector<std::wstring> ReadSubKeys(HKEY key) {
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
      DWORD len = 256;
      if (RegEnumKeyExW(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      names.emplace_back(name, len);
    }
    return names;
  }

  bool PutBack() {
    HKEY key;
    if (RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
      return false;
    bool ok = true;
    for (const Value& now : ReadValues(key)) {
      bool kept = false;
      for (const Value& v : values_) kept = kept || _wcsicmp(v.name.c_str(), now.name.c_str()) == 0;
      if (!kept) ok = RegDeleteValueW(key, now.name.c_str()) == ERROR_SUCCESS && ok;
    }
    for (const Value& v : values_)
      ok = RegSetValueExW(key, v.name.c_str(), 0, v.type, v.data.data(), DWORD(v.data.size())) == ERROR_SUCCESS && ok;
    for (const std::wstring& now : ReadSubKeys(key)) {
      bool kept = false;
      for (const std::wstring& s : subKeys_) kept = kept || _wcsicmp(s.c_str(), now.c_str()) == 0;
      if (!kept) ok = RegDeleteTreeW(key, now.c_str()) == ERROR_SUCCESS && ok;
    }
    RegCloseKey(key);
    return ok;
  }

  bool Remove() {
    LONG rc = RegDeleteTreeW(root_, path_.c_str());
    if (rc == ERROR_SUCCESS) rc = RegDeleteKeyW(root_, path_.c_str());
    bool ok = rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
    std::wstring key = path_;
    while (key != firstMissing_) {
      size_t at = key.find_last_of(L'\\');
      if (at == std::wstring::npos) break;
      key.resize(at);
      HKEY k;
      if (RegOpenKeyExW(root_, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) continue;
      DWORD subKeys = 1, values = 1;
      RegQueryInfoKeyW(k, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                       nullptr);
      RegCloseKey(k);
      if (subKeys || values) break;
      RegDeleteKeyW(root_, key.c_str());
    }
    return ok;
  }

  HKEY root_;
  std::wstring path_;
  std::wstring firstMissing_;
  bool ok_ = false;
  bool existed_ = false;
  bool restored_ = false;
  bool restoredOk_ = false;
  std::vector<Value> values_;
  std::vector<std::wstring> subKeys_;
};

LONG SetDword(const wchar_t* path, const wchar_t* name, DWORD value) {
  HKEY key;
  LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
  return rc;
}

// The stored number when the value is a 4-byte REG_DWORD.
bool GetDword(const wchar_t* path, const wchar_t* name, DWORD* value) {
  DWORD size = sizeof *value;
  return RegGetValueW(HKEY_CURRENT_USER, path, name, RRF_RT_REG_DWORD, nullptr, value, &size) == ERROR_SUCCESS;
}

// ---- processes of our own ----------------------------------------------------------

// Everything the bench starts is in this job: should the bench itself be ended
// early, closing the job's last handle ends them too.
class Job {
 public:
  Job() {
    job_ = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job_ && !SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
      CloseHandle(job_);
      job_ = nullptr;
    }
  }
  ~Job() {
    if (job_) CloseHandle(job_);
  }
  Job(const Job&) = delete;
  Job& operator=(const Job&) = delete;

  // Starts the command suspended, puts it into the job and lets it run.
  bool Start(std::wstring cmd, const wchar_t* folder, PROCESS_INFORMATION* pi) {
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, folder, &si, pi))
      return false;
    if (job_) AssignProcessToJobObject(job_, pi->hProcess);
    ResumeThread(pi->hThread);
    return true;
  }

 private:
  HANDLE job_ = nullptr;
};

// Idle children: this program again, waiting for its parent (the bench) to end,
// so that none outlives it even when the bench is stopped early.
class Children {
 public:
  explicit Children(Job& job) : job_(job) {}
  ~Children() { EndAll(); }
  Children(const Children&) = delete;
  Children& operator=(const Children&) = delete;

  bool Start(int n) {
    wchar_t self[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring cmd = L"\"" + std::wstring(self) + L"\" --idle " + std::to_wstring(GetCurrentProcessId());
    while (int(procs_.size()) < n) {
      PROCESS_INFORMATION pi = {};
      if (!job_.Start(cmd, nullptr, &pi)) return false;
      procs_.push_back(pi);
    }
    return true;
  }

  // Ends every child by its handle; the number that were still running.
  int EndAll() {
    int running = 0;
    for (PROCESS_INFORMATION& pi : procs_) {
      if (!Ended(pi.hProcess)) ++running;
      TerminateProcess(pi.hProcess, 0);
      WaitForSingleObject(pi.hProcess, 30000);
      CloseHandle(pi.hProcess);
      CloseHandle(pi.hThread);
    }
    procs_.clear();
    return running;
  }

 private:
  Job& job_;
  std::vector<PROCESS_INFORMATION> procs_;
};

int RunIdleChild(const wchar_t* parentPid) {
  HANDLE parent = OpenProcess(SYNCHRONIZE, FALSE, DWORD(_wtoi(parentPid)));
  if (!parent) return 1;
  WaitForSingleObject(parent, INFINITE);
  return 0;
}

// One of the two measured programs, started by the bench and closed by it.
class Program {
 public:
  Program(const char* label, int markerControl) : label_(label), marker_(markerControl) {}
  ~Program() { Close(); }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool Start(Job& job, const std::wstring& image, const std::wstring& folder) {
    return job.Start(L"\"" + image + L"\"", folder.empty() ? nullptr : folder.c_str(), &pi_);
  }

  // Waits until its main window, the visible one with the marker control, is up.
  bool WaitForWindow() {
    double t0 = NowMs();
    while (NowMs() - t0 < kWindowWaitMs) {
      window_ = FindWindowOf(pi_.dwProcessId, marker_, true);
      if (window_) return true;
      if (Ended(pi_.hProcess)) {
        DWORD code = 0;
        GetExitCodeProcess(pi_.hProcess, &code);
        std::printf("error: %s ended at start-up (exit code %lu)\n", label_, code);
        return false;
      }
      Sleep(50);
    }
    // A message box or dialog in the way: say which.
    HWND other = FindWindowOf(pi_.dwProcessId, 0, true);
    wchar_t title[256] = L"";
    if (other) GetWindowTextW(other, title, 256);
    std::printf("error: no main window of %s after %lu s%s%s%s\n", label_, kWindowWaitMs / 1000,
                other ? " (it shows \"" : "", other ? Narrow(title).c_str() : "", other ? "\")" : "");
    return false;
  }

  // Closes it the way a user would: WM_CLOSE, then the Close command (2) to its
  // main window. Only when it still runs is it ended by its handle. True when it
  // went by itself.
  bool Close() {
    if (!pi_.hProcess) return closedByItself_;
    closedByItself_ = true;
    if (!Ended(pi_.hProcess)) {
      HWND wnd = FindWindowOf(pi_.dwProcessId, marker_, false);
      if (wnd) PostMessageW(wnd, WM_CLOSE, 0, 0);
      if (WaitForSingleObject(pi_.hProcess, kCloseWaitMs) != WAIT_OBJECT_0) {
        wnd = FindWindowOf(pi_.dwProcessId, marker_, false);
        if (wnd) PostMessageW(wnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
        if (WaitForSingleObject(pi_.hProcess, kCloseWaitMs) != WAIT_OBJECT_0) {
          closedByItself_ = false;
          std::printf("warning: %s did not close; ended by its handle\n", label_);
          TerminateProcess(pi_.hProcess, 1);
          WaitForSingleObject(pi_.hProcess, 30000);
        }
      }
    }
    CloseHandle(pi_.hThread);
    CloseHandle(pi_.hProcess);
    pi_ = PROCESS_INFORMATION{};
    window_ = nullptr;
    return closedByItself_;
  }

  bool Running() const { return pi_.hProcess && !Ended(pi_.hProcess); }
  HANDLE Process() const { return pi_.hProcess; }
  DWORD Pid() const { return pi_.dwProcessId; }
  HWND Window() const { return window_; }
  const char* Label() const { return label_; }

 private:
  struct Search {
    DWORD pid;
    int marker;
    bool visibleOnly;
    HWND found;
  };

  static BOOL CALLBACK Visit(HWND w, LPARAM lp) {
    auto& s = *reinterpret_cast<Search*>(lp);
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner != s.pid || GetWindow(w, GW_OWNER)) return TRUE;
    if (s.visibleOnly && !IsWindowVisible(w)) return TRUE;
    if (s.marker && !GetDlgItem(w, s.marker)) return TRUE;
    s.found = w;
    return FALSE;
  }

  // The process's unowned top-level window holding the marker control (any
  // window when marker is 0).
  static HWND FindWindowOf(DWORD pid, int marker, bool visibleOnly) {
    Search s = {pid, marker, visibleOnly, nullptr};
    EnumWindows(Visit, reinterpret_cast<LPARAM>(&s));
    return s.found;
  }

  const char* label_;
  int marker_;
  PROCESS_INFORMATION pi_ = {};
  HWND window_ = nullptr;
  bool closedByItself_ = false;
};

// ---- processor time -------------------------------------------------------------

// The system's process snapshot (the native class-5 query).
class Snapshot {
 public:
  Snapshot() {
    query_ = reinterpret_cast<kinetra::PFN_NtQuerySystemInformation>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  }
  bool Take() {
    if (!query_) return false;
    for (;;) {
      ULONG needed = 0;
      LONG status = query_(kinetra::kSystemProcessInformation, buf_.data(), ULONG(buf_.size()), &needed);
      if (status == kinetra::kStatusSuccess) return true;
      if (status != kinetra::kStatusInfoLengthMismatch || buf_.size() > (64u << 20)) return false;
      buf_.resize(std::max<size_t>(buf_.size() * 2, needed + 65536));
    }
  }
  // The record of that process in the last snapshot, or null.
  const kinetra::KN_SYSTEM_PROCESS_INFORMATION* Find(DWORD pid) const {
    const kinetra::KN_SYSTEM_PROCESS_INFORMATION* found = nullptr;
    ForEach([&](const kinetra::KN_SYSTEM_PROCESS_INFORMATION& r) {
      if (DWORD(ULONG_PTR(r.UniqueProcessId)) == pid) found = &r;
    });
    return found;
  }
  // Processes in the last snapshot; an idle-process record (PID 0) is no process.
  int Count() const {
    int n = 0;
    ForEach([&](const kinetra::KN_SYSTEM_PROCESS_INFORMATION& r) { n += r.UniqueProcessId != nullptr; });
    return n;
  }

 private:
  template <typename Fn>
  void ForEach(Fn fn) const {
    size_t at = 0;
    while (at + sizeof(kinetra::KN_SYSTEM_PROCESS_INFORMATION) <= buf_.size()) {
      auto r = reinterpret_cast<const kinetra::KN_SYSTEM_PROCESS_INFORMATION*>(buf_.data() + at);
      fn(*r);
      if (r->NextEntryOffset == 0) break;
      at += r->NextEntryOffset;
    }
  }

  kinetra::PFN_NtQuerySystemInformation query_;
  std::vector<BYTE> buf_ = std::vector<BYTE>(1 << 20);
};

// A process's processor time over the span, summed from its threads' own times
// in successive snapshots. Wine's GetProcessTimes gives the caller's own times
// for any other process's handle, while the snapshot's thread times are real
// (and are what Windows reports too). Each thread counts what it gained since it
// was last seen; a thread that appears during the span counts all it has, and
// one that ends loses at most one sampling interval.
class CpuTally {
 public:
  // False when the process is not in the snapshot (it has ended).
  bool Sample(const Snapshot& snap, DWORD pid, bool baseline) {
    const kinetra::KN_SYSTEM_PROCESS_INFORMATION* r = snap.Find(pid);
    if (!r) return false;
    auto threads = reinterpret_cast<const kinetra::KN_SYSTEM_THREAD_INFORMATION*>(r + 1);
    std::map<ULONG_PTR, ULONGLONG> now;
    for (ULONG i = 0; i < r->NumberOfThreads; ++i) {
      const kinetra::KN_SYSTEM_THREAD_INFORMATION& t = threads[i];
      ULONGLONG cpu = ULONGLONG(t.KernelTime.QuadPart) + ULONGLONG(t.UserTime.QuadPart);
      ULONG_PTR tid = ULONG_PTR(t.ClientId.UniqueThread);
      now[tid] = cpu;
      auto seen = last_.find(tid);
      ULONGLONG gained = 0;
      if (seen != last_.end())
        gained = cpu >= seen->second ? cpu - seen->second : 0;
      else if (!baseline)
        gained = cpu;
      total_ += gained;
      perThread_[tid] += gained;
    }
    last_.swap(now);
    threads_ = r->NumberOfThreads;
    return true;
  }
  double Ms() const { return double(total_) / 10000.0; }
  // Each thread's share, largest first, in ms.
  std::vector<double> ThreadMs() const {
    std::vector<double> out;
    for (const auto& t : perThread_) out.push_back(double(t.second) / 10000.0);
    std::sort(out.rbegin(), out.rend());
    return out;
  }
  ULONG Threads() const { return threads_; }

 private:
  std::map<ULONG_PTR, ULONGLONG> last_;
  std::map<ULONG_PTR, ULONGLONG> perThread_;
  ULONGLONG total_ = 0;  // 100 ns units
  ULONG threads_ = 0;
};

struct Memory {
  ULONGLONG privateBytes;
  ULONGLONG workingSet;
  bool fromPagefile;  // PrivateUsage was 0 (as Wine reports it); the commit instead
};

Memory MemoryOf(HANDLE process) {
  PROCESS_MEMORY_COUNTERS_EX pmc = {};
  pmc.cb = sizeof pmc;
  if (!GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof pmc)) return {0, 0, false};
  bool fallback = pmc.PrivateUsage == 0;
  return {fallback ? pmc.PagefileUsage : pmc.PrivateUsage, pmc.WorkingSetSize, fallback};
}

// ---- the two programs' settings ----------------------------------------------------

// Fastest refresh, a stored language and no first-run warning, so the program
// opens straight into its main window.
bool PrepareMainOptions() {
  DWORD lang = 0;
  if (!GetDword(kMainKey, L"LangID", &lang) || lang == 0) lang = kFallbackLang;
  bool ok = SetDword(kMainKey, L"UpdateInterval", g_mainIntervalMs) == ERROR_SUCCESS &&
            SetDword(kMainKey, L"LangID", lang) == ERROR_SUCCESS &&
            SetDword(kMainKey, L"ShutdownPrivilegeNoWarn", 1) == ERROR_SUCCESS &&
            // An elevation request would start a second copy and end this one.
            SetDword(kMainKey, L"RequestElevation", 0) == ERROR_SUCCESS;
  std::printf("larkon64 options: UpdateInterval=%lu LangID=%lu ShutdownPrivilegeNoWarn=1 RequestElevation=0\n",
              g_mainIntervalMs, lang);
  return ok;
}

std::wstring TaskmgrImage() {
  wchar_t dir[MAX_PATH] = L"";
  GetSystemDirectoryW(dir, MAX_PATH);
  return std::wstring(dir) + L"\\taskmgr.exe";
}

// Starts Wine's task manager in the native bitness (a 32-bit bench would
// otherwise be handed the 32-bit copy).
bool StartTaskmgr(Program& tm, Job& job) {
#ifdef _WIN64
  return tm.Start(job, TaskmgrImage(), std::wstring());
#else
  PVOID old = nullptr;
  BOOL off = Wow64DisableWow64FsRedirection(&old);
  bool ok = tm.Start(job, TaskmgrImage(), std::wstring());
  if (off) Wow64RevertWow64FsRedirection(old);
  return ok;
#endif
}

// The process page and "High" speed, chosen the way its tab and its View menu
// would; then checks that the process page is the one shown.
bool ShowTaskmgrProcessPage(HWND tm) {
  HWND tab = GetDlgItem(tm, kTmTabControl);
  DWORD_PTR r = 0;
  if (!tab || !SendMessageTimeoutW(tab, TCM_SETCURFOCUS, kTmProcessTab, 0, SMTO_ABORTIFHUNG, 5000, &r)) return false;
  if (!SendMessageTimeoutW(tm, WM_COMMAND, MAKEWPARAM(kTmSpeedHigh, 0), 0, SMTO_ABORTIFHUNG, 5000, &r)) return false;
  if (SendMessageTimeoutW(tab, TCM_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, 5000, &r) == 0 || int(r) != kTmProcessTab)
    return false;
  // The page is a child dialog of the main window holding the process list.
  HWND page = nullptr;
  for (HWND c = GetWindow(tm, GW_CHILD); c && !page; c = GetWindow(c, GW_HWNDNEXT))
    if (GetDlgItem(c, kTmProcessList)) page = c;
  return page && IsWindowVisible(page);
}

// Items in a list view: the control of that id in the window, or, for a list
// on a page (a child dialog with id 0), the control of pageListId on any page.
int ListItems(HWND wnd, int listId, int pageListId) {
  HWND list = listId ? GetDlgItem(wnd, listId) : nullptr;
  for (HWND c = GetWindow(wnd, GW_CHILD); c && !list && pageListId; c = GetWindow(c, GW_HWNDNEXT))
    list = GetDlgItem(c, pageListId);
  DWORD_PTR n = 0;
  if (!list || !SendMessageTimeoutW(list, LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &n)) return -1;
  return int(n);
}

// Side by side, so neither covers the other's list while they paint.
void ArrangeSideBySide(HWND left, HWND right) {
  RECT work = {}, a = {}, b = {};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  GetWindowRect(left, &a);
  GetWindowRect(right, &b);
  const UINT flags = SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE;
  SetWindowPos(left, nullptr, work.left, work.top, 0, 0, flags);
  SetWindowPos(right, nullptr, work.right - (b.right - b.left), work.top, 0, 0, flags);
  bool overlap = (a.right - a.left) + (b.right - b.left) > work.right - work.left;
  std::printf("windows: %ldx%ld and %ldx%ld on a %ldx%ld work area%s\n", a.right - a.left, a.bottom - a.top,
              b.right - b.left, b.bottom - b.top, work.right - work.left, work.bottom - work.top,
              overlap ? " (they overlap)" : "");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc > 2 && wcscmp(argv[1], L"--idle") == 0) return RunIdleChild(argv[2]);
  double spanS = argc > 1 ? _wtof(argv[1]) : kDefaultSpanS;
  if (argc > 2 && _wtoi(argv[2]) > 0) g_mainIntervalMs = DWORD(_wtoi(argv[2]));
  if (!(spanS > 0)) {
    std::printf("usage: lk_mainbench64.exe [seconds]\n");
    return 2;
  }
  std::printf("bitness: %d\n", int(sizeof(void*) * 8));

  const std::wstring folder = ModuleFolder();
  const std::wstring mainImage = folder + kMainImage;
  if (GetFileAttributesW(mainImage.c_str()) == INVALID_FILE_ATTRIBUTES) {
    std::printf("error: %s not found\n", Narrow(mainImage).c_str());
    return 1;
  }
  if (HANDLE running = OpenMutexW(SYNCHRONIZE, FALSE, kMainMutex)) {
    CloseHandle(running);
    std::printf("error: the main program is already running; close it first\n");
    return 1;
  }
  Snapshot snap;
  if (!snap.Take()) {
    std::printf("error: no process snapshot\n");
    return 1;
  }

  // Declared in this order so that on every way out the programs close first,
  // then the children end, then the keys are put back.
  Job job;
  KeySnapshot mainKey(HKEY_CURRENT_USER, kMainKey);
  KeySnapshot tmKey(HKEY_CURRENT_USER, kTaskmgrKey);
  if (!mainKey.Ok() || !tmKey.Ok()) {
    std::printf("error: the option keys cannot be read; nothing was changed\n");
    return 1;
  }
  Children children(job);
  Program larkon("larkon64", IDC_PROCESS_LIST);
  Program tm("taskmgr", kTmTabControl);

  if (!PrepareMainOptions()) {
    std::printf("error: the main program's options cannot be set\n");
    return 1;
  }
  if (!children.Start(kIdleChildren)) {
    std::printf("error: could not start %d idle children\n", kIdleChildren);
    return 1;
  }
  if (!larkon.Start(job, mainImage, folder)) {
    std::printf("error: could not start %s\n", Narrow(mainImage).c_str());
    return 1;
  }
  if (!StartTaskmgr(tm, job)) {
    std::printf("error: could not start %s\n", Narrow(TaskmgrImage()).c_str());
    return 1;
  }
  if (!larkon.WaitForWindow() || !tm.WaitForWindow()) return 1;
  if (!ShowTaskmgrProcessPage(tm.Window())) {
    std::printf("error: taskmgr's process page at update speed High could not be chosen\n");
    return 1;
  }
  ArrangeSideBySide(larkon.Window(), tm.Window());

  double t0 = NowMs();
  while (NowMs() - t0 < kWarmUpMs) {
    if (!larkon.Running() || !tm.Running()) {
      std::printf("error: %s ended during the warm-up\n", larkon.Running() ? tm.Label() : larkon.Label());
      return 1;
    }
    Sleep(100);
  }

  CpuTally mainCpu, tmCpu;
  if (!snap.Take() || !mainCpu.Sample(snap, larkon.Pid(), true) || !tmCpu.Sample(snap, tm.Pid(), true)) {
    std::printf("error: the programs are not in the process snapshot\n");
    return 1;
  }
  const int processesAtStart = snap.Count();
  int processesMin = processesAtStart, processesMax = processesAtStart;
  const double w0 = NowMs();
  double wallMs = 0;
  do {
    Sleep(kSampleMs);
    if (!snap.Take()) {
      std::printf("error: no process snapshot\n");
      return 1;
    }
    wallMs = NowMs() - w0;
    if (!mainCpu.Sample(snap, larkon.Pid(), false) || !tmCpu.Sample(snap, tm.Pid(), false)) {
      std::printf("error: a program ended during the span\n");
      return 1;
    }
    int n = snap.Count();
    processesMin = n < processesMin ? n : processesMin;
    processesMax = n > processesMax ? n : processesMax;
  } while (wallMs < spanS * 1000.0);

  const double mainRate = mainCpu.Ms() * 1000.0 / wallMs;
  const double tmRate = tmCpu.Ms() * 1000.0 / wallMs;
  std::printf("span s: %.1f\n", wallMs / 1000.0);
  std::printf("idle children: %d\n", kIdleChildren);
  std::printf("processes in system: %d (min %d, max %d)\n", snap.Count(), processesMin, processesMax);
  std::printf("larkon64 refresh period ms: %lu\n", g_mainIntervalMs);
  std::printf("taskmgr refresh period ms: %lu (update speed High, the fastest; process page shown)\n",
              kTmHighPeriodMs);
  std::printf("cpu source: thread times of the system process snapshot, sampled every %lu ms\n", kSampleMs);
  std::printf("larkon64 threads: %lu\n", mainCpu.Threads());
  std::printf("taskmgr threads: %lu\n", tmCpu.Threads());
  std::printf("larkon64 list items: %d\n", ListItems(larkon.Window(), IDC_PROCESS_LIST, 0));
  std::printf("taskmgr list items: %d\n", ListItems(tm.Window(), 0, kTmProcessList));
  std::printf("larkon64 cpu ms/s: %.2f\n", mainRate);
  std::printf("taskmgr cpu ms/s: %.2f\n", tmRate);
  for (const auto& [label, tally] : {std::pair<const char*, const CpuTally*>{"larkon64", &mainCpu}, {"taskmgr", &tmCpu}}) {
    std::printf("%s cpu ms/s by thread:", label);
    for (double ms : tally->ThreadMs()) std::printf(" %.2f", ms * 1000.0 / wallMs);
    std::printf("\n");
  }
  if (tmRate > 0)
    std::printf("ratio larkon/taskmgr: %.3f\n", mainRate / tmRate);
  else
    std::printf("ratio larkon/taskmgr: n/a (taskmgr used no measurable time)\n");
  for (const Program* p : {&larkon, &tm}) {
    Memory m = MemoryOf(p->Process());
    std::printf("%s private bytes: %llu%s\n", p->Label(), m.privateBytes,
                m.fromPagefile ? " (PrivateUsage is 0 here; pagefile usage instead)" : "");
    std::printf("%s working set bytes: %llu\n", p->Label(), m.workingSet);
  }
  std::fflush(stdout);

  // Closed first: each stores its options on the way out, and those are read
  // back before the keys are put back.
  bool mainClosed = larkon.Close();
  bool tmClosed = tm.Close();
  std::printf("larkon64 closed by itself: %s\n", mainClosed ? "yes" : "no");
  std::printf("taskmgr closed by itself: %s\n", tmClosed ? "yes" : "no");
  DWORD stored = 0;
  if (GetDword(kMainKey, L"UpdateInterval", &stored))
    std::printf("larkon64 stored UpdateInterval: %lu\n", stored);
  std::vector<BYTE> prefs(4096);
  DWORD prefsSize = DWORD(prefs.size());
  if (RegGetValueW(HKEY_CURRENT_USER, kTaskmgrKey, kTaskmgrValue, RRF_RT_REG_BINARY, nullptr, prefs.data(),
                   &prefsSize) == ERROR_SUCCESS &&
      prefsSize >= sizeof(TASKMGR_SETTINGS_HEAD)) {
    TASKMGR_SETTINGS_HEAD head;
    std::memcpy(&head, prefs.data(), sizeof head);
    bool asChosen = head.activeTabPage == kTmProcessTab && head.updateSpeed == kTmSpeedCodeHigh;
    std::printf("taskmgr stored page: %d, update speed code: %d%s\n", head.activeTabPage, head.updateSpeed,
                asChosen ? " (processes, High)" : " (not as chosen)");
  }
  int childrenRunning = children.EndAll();
  std::printf("idle children still running at the end: %d\n", childrenRunning);
  bool mainRestored = mainKey.Restore();
  bool tmRestored = tmKey.Restore();
  bool restored = mainRestored && tmRestored;
  std::printf("option keys restored: %s\n", restored ? "yes" : "no");
  return restored && mainClosed && tmClosed && childrenRunning == kIdleChildren ? 0 : 1;
}
