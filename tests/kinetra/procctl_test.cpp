#include "kinetra/procctl.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "tests/common/testutil.h"

namespace {

// Child roles. "prm-idle <event>": a process of two threads that says when it
// runs and then waits to be ended. "prm-ask <pid>": a fresh process asking
// whether pid is recorded as suspended (exit code 1 for yes).
DWORD WINAPI IdleThread(LPVOID) {
  Sleep(600000);
  return 0;
}

int IdleChild(const wchar_t* eventName) {
  HANDLE second = CreateThread(nullptr, 0, IdleThread, nullptr, 0, nullptr);
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, eventName);
  if (!second || !ready) return 2;
  SetEvent(ready);
  Sleep(600000);  // ends itself should its parent never do it
  return 0;
}

int AskChild(const wchar_t* pid) { return PRM_IsProcessSuspended(DWORD(wcstoul(pid, nullptr, 10))) ? 1 : 0; }

testutil::ChildRole idleRole(L"prm-idle", IdleChild);
testutil::ChildRole askRole(L"prm-ask", AskChild);

// Starts an idle child and waits until it runs both its threads.
void StartIdle(testutil::Child& child) {
  static int serial;
  std::wstring name = testutil::BitnessName(L"lk-prm-ready-") + std::to_wstring(GetCurrentProcessId()) + L"-" +
                      std::to_wstring(++serial);
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  ASSERT_TRUE(ready);
  ASSERT_TRUE(child.Start(L"prm-idle", name.c_str()));
  DWORD w = WaitForSingleObject(ready, 120000);
  CloseHandle(ready);
  ASSERT_EQ(WAIT_OBJECT_0, w) << "child did not start";
}

// The suspend count of every thread of pid, read without changing it.
std::vector<DWORD> SuspendCounts(DWORD pid) {
  std::vector<DWORD> counts;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 te = {};
  te.dwSize = sizeof te;
  for (BOOL more = Thread32First(snap, &te); more; more = Thread32Next(snap, &te)) {
    if (te.th32OwnerProcessID != pid) continue;
    HANDLE h = OpenThread(THREAD_SUSPEND_RESUME, FALSE, te.th32ThreadID);
    if (!h) continue;
    counts.push_back(SuspendThread(h));
    ResumeThread(h);
    CloseHandle(h);
  }
  CloseHandle(snap);
  return counts;
}

bool AllSuspended(DWORD pid) {
  std::vector<DWORD> c = SuspendCounts(pid);
  if (c.size() < 2) return false;
  for (DWORD n : c)
    if (n != 1) return false;
  return true;
}

bool NoneSuspended(DWORD pid) {
  std::vector<DWORD> c = SuspendCounts(pid);
  if (c.empty()) return false;
  for (DWORD n : c)
    if (n != 0) return false;
  return true;
}

std::wstring Name(DWORD id) { return std::to_wstring(int(id)); }

struct RawValue {
  bool present = false;
  DWORD type = 0;
  std::vector<BYTE> data;
};

RawValue ReadValue(const wchar_t* keyPath, DWORD id) {
  RawValue v;
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return v;
  BYTE buf[64];
  DWORD size = sizeof buf;
  if (RegQueryValueExW(key, Name(id).c_str(), nullptr, &v.type, buf, &size) == ERROR_SUCCESS) {
    v.present = true;
    v.data.assign(buf, buf + size);
  }
  RegCloseKey(key);
  return v;
}

void WriteValue(const wchar_t* keyPath, const std::wstring& name, DWORD type, const void* data, DWORD size) {
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, keyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                           &key, nullptr));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size));
  RegCloseKey(key);
}

void DeleteValue(const wchar_t* keyPath, const std::wstring& name) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, keyPath, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  RegDeleteValueW(key, name.c_str());
  RegCloseKey(key);
}

std::vector<BYTE> Bytes(const FILETIME& t) {
  std::vector<BYTE> b(8);
  memcpy(b.data(), &t.dwLowDateTime, 4);
  memcpy(b.data() + 4, &t.dwHighDateTime, 4);
  return b;
}

FILETIME ProcessCreated(HANDLE process) {
  FILETIME c{}, e, k, u;
  GetProcessTimes(process, &c, &e, &k, &u);
  return c;
}

FILETIME ThreadCreated(HANDLE thread) {
  FILETIME c{}, e, k, u;
  GetThreadTimes(thread, &c, &e, &k, &u);
  return c;
}

// The record keys are shared by every program of the Wine session, the test
// programs of the other bitness included; tests that write records or resume
// all of them take turns.
class RecordsLocked : public testing::Test {
 protected:
  void SetUp() override {
    lock_ = CreateMutexW(nullptr, FALSE, L"lk-test-suspension-records");
    ASSERT_TRUE(lock_);
    DWORD w = WaitForSingleObject(lock_, 900000);
    ASSERT_TRUE(w == WAIT_OBJECT_0 || w == WAIT_ABANDONED);
  }
  void TearDown() override {
    if (lock_) {
      ReleaseMutex(lock_);
      CloseHandle(lock_);
    }
  }

 private:
  HANDLE lock_ = nullptr;
};

class ProcCtl : public RecordsLocked {};
class ProcCtlSpawn : public RecordsLocked {};
// Starts threads of its own (and the thread resume always does): the 32-bit
// emulator does not survive threads ending.
class ProcCtlThreaded : public RecordsLocked {};

DWORD WINAPI WaitOnEvent(LPVOID event) {
  WaitForSingleObject(static_cast<HANDLE>(event), 120000);
  return 7;
}

TEST_F(ProcCtl, OwnProcessIsNeitherSuspendedNorResumed) {
  const DWORD self = GetCurrentProcessId();
  EXPECT_FALSE(PRM_SuspendProcess(self));
  EXPECT_FALSE(ReadValue(PRM_SUSPENDED_PROCESSES_KEY, self).present);
  // Even a valid record of this process does not let it resume itself.
  std::vector<BYTE> created = Bytes(ProcessCreated(GetCurrentProcess()));
  WriteValue(PRM_SUSPENDED_PROCESSES_KEY, Name(self), REG_BINARY, created.data(), 8);
  EXPECT_TRUE(PRM_IsProcessSuspended(self));
  EXPECT_FALSE(PRM_ResumeProcess(self));
  EXPECT_TRUE(ReadValue(PRM_SUSPENDED_PROCESSES_KEY, self).present);
  DeleteValue(PRM_SUSPENDED_PROCESSES_KEY, Name(self));
}

TEST_F(ProcCtlThreaded, ThreadSuspendIsRecordedAndResumeReportsWhatItDid) {
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD tid = 0;
  HANDLE t = CreateThread(nullptr, 0, WaitOnEvent, release, 0, &tid);
  ASSERT_TRUE(t);
  EXPECT_FALSE(PRM_SuspendThread(GetCurrentThreadId()));
  EXPECT_FALSE(PRM_IsThreadSuspended(tid));
  EXPECT_FALSE(PRM_ResumeThread(tid));  // not recorded: nothing was resumed

  ASSERT_TRUE(PRM_SuspendThread(tid));
  RawValue v = ReadValue(PRM_SUSPENDED_THREADS_KEY, tid);
  EXPECT_EQ(DWORD(REG_BINARY), v.type);
  EXPECT_EQ(Bytes(ThreadCreated(t)), v.data);
  EXPECT_TRUE(PRM_IsThreadSuspended(tid));
  EXPECT_FALSE(PRM_SuspendThread(tid));  // already recorded: not suspended twice
  EXPECT_EQ(1u, SuspendThread(t));
  ResumeThread(t);

  EXPECT_TRUE(PRM_ResumeThread(tid));
  EXPECT_EQ(0u, SuspendThread(t));
  ResumeThread(t);
  EXPECT_FALSE(ReadValue(PRM_SUSPENDED_THREADS_KEY, tid).present);
  EXPECT_FALSE(PRM_IsThreadSuspended(tid));
  EXPECT_FALSE(PRM_ResumeThread(tid));

  EXPECT_TRUE(PRM_TerminateThread(tid));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(t, 10000));
  DWORD code = 0;
  GetExitCodeThread(t, &code);
  EXPECT_EQ(PRM_TERMINATE_EXIT_CODE, code);
  CloseHandle(t);
  CloseHandle(release);
}

TEST_F(ProcCtl, WorkingSetLimitsAndPageOut) {
  const DWORD self = GetCurrentProcessId();
  SIZE_T mn = 0, mx = 0;
  ASSERT_TRUE(PRM_GetProcessWorkingSetSize(self, &mn, &mx));
  EXPECT_GT(mx, 0u);
  EXPECT_TRUE(PRM_GetProcessWorkingSetSize(self, nullptr, nullptr));
  EXPECT_TRUE(PRM_SetProcessWorkingSetSize(self, PRM_PAGE_OUT, PRM_PAGE_OUT));
  EXPECT_TRUE(PRM_SetProcessWorkingSetSize(self, mn, mx));

  SIZE_T untouched = 12345;
  EXPECT_FALSE(PRM_GetProcessWorkingSetSize(0x7FFFFFFC, &untouched, nullptr));
  EXPECT_EQ(12345u, untouched);
  EXPECT_FALSE(PRM_SetProcessWorkingSetSize(0x7FFFFFFC, PRM_PAGE_OUT, PRM_PAGE_OUT));
  EXPECT_FALSE(PRM_SetProcessPriority(0x7FFFFFFC, NORMAL_PRIORITY_CLASS));
  EXPECT_FALSE(PRM_TerminateProcess(0x7FFFFFFC));
}

TEST_F(ProcCtlSpawn, SuspensionIsRecordedWithCreationTimeAndSeenByAnotherProcess) {
  testutil::Child child;
  ASSERT_NO_FATAL_FAILURE(StartIdle(child));
  const DWORD pid = child.Pid();
  ASSERT_FALSE(PRM_IsProcessSuspended(pid));
  EXPECT_FALSE(PRM_ResumeProcess(pid));  // not recorded

  ASSERT_TRUE(PRM_SuspendProcess(pid));
  EXPECT_TRUE(AllSuspended(pid));
  RawValue v = ReadValue(PRM_SUSPENDED_PROCESSES_KEY, pid);
  ASSERT_TRUE(v.present);
  EXPECT_EQ(DWORD(REG_BINARY), v.type);
  EXPECT_EQ(Bytes(ProcessCreated(child.Handle())), v.data);
  EXPECT_FALSE(PRM_SuspendProcess(pid));  // already recorded
  EXPECT_TRUE(AllSuspended(pid));         // and not suspended a second time

  testutil::Child asker;
  ASSERT_TRUE(asker.Start(L"prm-ask", std::to_wstring(pid).c_str()));
  EXPECT_EQ(1u, asker.WaitExit(120000));

  ASSERT_TRUE(PRM_ResumeProcess(pid));
  EXPECT_TRUE(NoneSuspended(pid));
  EXPECT_FALSE(ReadValue(PRM_SUSPENDED_PROCESSES_KEY, pid).present);
  EXPECT_FALSE(PRM_IsProcessSuspended(pid));
  EXPECT_FALSE(PRM_ResumeProcess(pid));
}

DWORD g_suspendCalls;
DWORD WINAPI SecondSuspendFails(HANDLE thread) {
  if (++g_suspendCalls == 2) {
    SetLastError(ERROR_ACCESS_DENIED);
    return DWORD(-1);
  }
  return SuspendThread(thread);
}

TEST_F(ProcCtlSpawn, PartlyFailedSuspendIsUndone) {
  testutil::Child child;
  ASSERT_NO_FATAL_FAILURE(StartIdle(child));
  g_suspendCalls = 0;
  kinetra::SUSPEND_THREAD_FN prev = kinetra::SetProcessThreadSuspendOverride(SecondSuspendFails);
  BOOL ok = PRM_SuspendProcess(child.Pid());
  DWORD err = GetLastError();
  kinetra::SetProcessThreadSuspendOverride(prev);
  EXPECT_FALSE(ok);
  EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), err);
  EXPECT_EQ(2u, g_suspendCalls);  // it stopped at the failure
  EXPECT_TRUE(NoneSuspended(child.Pid()));
  EXPECT_FALSE(ReadValue(PRM_SUSPENDED_PROCESSES_KEY, child.Pid()).present);
  // Nothing is left behind that blocks a proper attempt.
  ASSERT_TRUE(PRM_SuspendProcess(child.Pid()));
  EXPECT_TRUE(AllSuspended(child.Pid()));
  EXPECT_TRUE(PRM_ResumeProcess(child.Pid()));
}

TEST_F(ProcCtlSpawn, StaleRecordsReadAsNotSuspendedAndResumeAllDeletesThem) {
  testutil::Child live;
  ASSERT_NO_FATAL_FAILURE(StartIdle(live));
  // The same ID with an older creation time: what a reused ID looks like.
  FILETIME older = ProcessCreated(live.Handle());
  older.dwLowDateTime -= 1;
  std::vector<BYTE> olderBytes = Bytes(older);
  WriteValue(PRM_SUSPENDED_PROCESSES_KEY, Name(live.Pid()), REG_BINARY, olderBytes.data(), 8);

  // A process that has ended since it was recorded.
  testutil::Child ended;
  ASSERT_NO_FATAL_FAILURE(StartIdle(ended));
  std::vector<BYTE> endedBytes = Bytes(ProcessCreated(ended.Handle()));
  const DWORD endedPid = ended.Pid();
  ASSERT_TRUE(PRM_TerminateProcess(endedPid));
  ASSERT_EQ(PRM_TERMINATE_EXIT_CODE, ended.WaitExit(30000));
  WriteValue(PRM_SUSPENDED_PROCESSES_KEY, Name(endedPid), REG_BINARY, endedBytes.data(), 8);

  // IDs whose creation time cannot be read: a zero record must not match them.
  const BYTE zeros[8] = {};
  const DWORD unreadable[] = {0, 0x7FFFFFFC};
  for (DWORD id : unreadable) WriteValue(PRM_SUSPENDED_PROCESSES_KEY, Name(id), REG_BINARY, zeros, 8);
  // A thread that has ended, recorded with its real creation time.
  DWORD tid = 0;
  HANDLE release = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  HANDLE t = CreateThread(nullptr, 0, WaitOnEvent, release, 0, &tid);
  ASSERT_TRUE(t);
  WaitForSingleObject(t, 10000);
  std::vector<BYTE> threadBytes = Bytes(ThreadCreated(t));
  CloseHandle(t);
  CloseHandle(release);
  WriteValue(PRM_SUSPENDED_THREADS_KEY, Name(tid), REG_BINARY, threadBytes.data(), 8);

  EXPECT_FALSE(PRM_IsProcessSuspended(live.Pid()));
  EXPECT_FALSE(PRM_IsProcessSuspended(endedPid));
  for (DWORD id : unreadable) EXPECT_FALSE(PRM_IsProcessSuspended(id)) << id;
  EXPECT_FALSE(PRM_IsThreadSuspended(tid));
  EXPECT_FALSE(PRM_ResumeProcess(live.Pid()));
  // Reading leaves them in place; only resume-all cleans.
  EXPECT_TRUE(ReadValue(PRM_SUSPENDED_PROCESSES_KEY, live.Pid()).present);

  EXPECT_TRUE(PRM_ResumeAll());
  EXPECT_FALSE(ReadValue(PRM_SUSPENDED_PROCESSES_KEY, live.Pid()).present);
  EXPECT_FALSE(ReadValue(PRM_SUSPENDED_PROCESSES_KEY, endedPid).present);
  for (DWORD id : unreadable) EXPECT_FALSE(ReadValue(PRM_SUSPENDED_PROCESSES_KEY, id).present) << id;
  EXPECT_FALSE(ReadValue(PRM_SUSPENDED_THREADS_KEY, tid).present);
  EXPECT_TRUE(NoneSuspended(live.Pid()));  // a stale record resumes nothing

  // The reused ID can be suspended as any other process.
  ASSERT_TRUE(PRM_SuspendProcess(live.Pid()));
  EXPECT_TRUE(PRM_IsProcessSuspended(live.Pid()));
  EXPECT_TRUE(PRM_ResumeProcess(live.Pid()));
}

TEST_F(ProcCtlSpawn, ValuesNotShapedLikeRecordsNeitherCountNorAreRemoved) {
  testutil::Child child;
  ASSERT_NO_FATAL_FAILURE(StartIdle(child));
  const DWORD pid = child.Pid();
  std::vector<BYTE> created = Bytes(ProcessCreated(child.Handle()));
  std::vector<BYTE> longer = created;
  longer.resize(12);
  const DWORD dword = 1;
  const wchar_t text[] = L"12345678";
  struct {
    const char* what;
    DWORD type;
    const void* data;
    DWORD size;
  } cases[] = {
      {"REG_QWORD with the creation time", REG_QWORD, created.data(), 8},
      {"REG_DWORD", REG_DWORD, &dword, 4},
      {"REG_SZ", REG_SZ, text, sizeof text},
      {"REG_BINARY of 4 bytes", REG_BINARY, created.data(), 4},
      {"REG_BINARY of 12 bytes", REG_BINARY, longer.data(), 12},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteValue(PRM_SUSPENDED_PROCESSES_KEY, Name(pid), c.type, c.data, c.size);
    EXPECT_FALSE(PRM_IsProcessSuspended(pid));
    EXPECT_FALSE(PRM_ResumeProcess(pid));
    EXPECT_TRUE(PRM_ResumeAll());  // not a record: not a failed resume either
    RawValue v = ReadValue(PRM_SUSPENDED_PROCESSES_KEY, pid);
    EXPECT_TRUE(v.present);
    EXPECT_EQ(c.type, v.type);
    EXPECT_EQ(c.size, v.data.size());
    DeleteValue(PRM_SUSPENDED_PROCESSES_KEY, Name(pid));
  }
}

TEST_F(ProcCtlSpawn, ResumeAllResumesEveryRecordedProcess) {
  testutil::Child children[3];
  for (auto& c : children) {
    ASSERT_NO_FATAL_FAILURE(StartIdle(c));
    ASSERT_TRUE(PRM_SuspendProcess(c.Pid()));
  }
  for (auto& c : children) EXPECT_TRUE(AllSuspended(c.Pid()));
  EXPECT_TRUE(PRM_ResumeAll());
  for (auto& c : children) {
    EXPECT_TRUE(NoneSuspended(c.Pid())) << c.Pid();
    EXPECT_FALSE(ReadValue(PRM_SUSPENDED_PROCESSES_KEY, c.Pid()).present) << c.Pid();
  }
}

TEST_F(ProcCtlSpawn, TerminateEndsWithItsExitCode) {
  testutil::Child child;
  ASSERT_NO_FATAL_FAILURE(StartIdle(child));
  ASSERT_TRUE(PRM_TerminateProcess(child.Pid()));
  EXPECT_EQ(PRM_TERMINATE_EXIT_CODE, child.WaitExit(30000));
}

TEST_F(ProcCtlSpawn, PriorityClassRoundTrip) {
  testutil::Child child;
  ASSERT_NO_FATAL_FAILURE(StartIdle(child));
  for (DWORD cls : {IDLE_PRIORITY_CLASS, BELOW_NORMAL_PRIORITY_CLASS, ABOVE_NORMAL_PRIORITY_CLASS,
                    HIGH_PRIORITY_CLASS, NORMAL_PRIORITY_CLASS}) {
    EXPECT_TRUE(PRM_SetProcessPriority(child.Pid(), cls)) << cls;
    EXPECT_EQ(cls, GetPriorityClass(child.Handle()));
  }
  EXPECT_FALSE(PRM_SetProcessPriority(child.Pid(), 0x12345));
}

TEST_F(ProcCtlSpawn, NoHandleIsLeftOpen) {
  testutil::Child child;
  ASSERT_NO_FATAL_FAILURE(StartIdle(child));
  const DWORD pid = child.Pid();
  // Warm up whatever the system keeps open after first use (registry roots).
  PRM_IsProcessSuspended(pid);
  PRM_ResumeThread(0x7FFFFFFC);
  DWORD before = 0, after = 0;
  ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &before));
  for (int round = 0; round < 3; ++round) {
    EXPECT_FALSE(PRM_SuspendProcess(0x7FFFFFFC));
    EXPECT_FALSE(PRM_ResumeProcess(pid));
    EXPECT_TRUE(PRM_SuspendProcess(pid));
    EXPECT_FALSE(PRM_SuspendProcess(pid));
    EXPECT_TRUE(PRM_IsProcessSuspended(pid));
    EXPECT_TRUE(PRM_ResumeProcess(pid));
    EXPECT_FALSE(PRM_ResumeThread(0x7FFFFFFC));
    EXPECT_TRUE(PRM_ResumeAll());
    EXPECT_TRUE(PRM_SetProcessPriority(pid, NORMAL_PRIORITY_CLASS));
    EXPECT_TRUE(PRM_GetProcessWorkingSetSize(pid, nullptr, nullptr));
  }
  ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &after));
  EXPECT_EQ(before, after);
}

}  // namespace
