#include "kinetra/procctl.h"

#include <tlhelp32.h>

#include <cstring>
#include <string>
#include <vector>

#include "kinetra/handles.h"
#include "quarl/base/strfmt.h"

using kinetra::CloseKeepingError;

namespace {

enum class Kind { Process, Thread };

// Enumeration bounds of the record keys.
constexpr DWORD kMaxValues = 1024;
constexpr DWORD kMaxNameChars = 256;
constexpr DWORD kResumeWaitMs = 1000;

kinetra::SUSPEND_THREAD_FN g_suspendOverride;

DWORD SuspendProcessThread(HANDLE h) {
  kinetra::SUSPEND_THREAD_FN over = g_suspendOverride;
  return over ? over(h) : SuspendThread(h);
}

// Closing must not overwrite the error of the call that failed before it.
HKEY OpenRecordKey(Kind kind) {
  HKEY key = nullptr;
  DWORD err = GetLastError();
  LONG r = RegCreateKeyExW(HKEY_CURRENT_USER,
                           kind == Kind::Process ? PRM_SUSPENDED_PROCESSES_KEY : PRM_SUSPENDED_THREADS_KEY, 0,
                           nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  SetLastError(err);
  return r == ERROR_SUCCESS ? key : nullptr;
}

struct ValueName {
  wchar_t text[16];
  explicit ValueName(DWORD id) { quarl::FormatW(text, 16, L"%d", static_cast<int>(id)); }
};

// The ID a value name stands for: "%d" of the ID, nothing else.
bool ParseId(const wchar_t* name, DWORD* id) {
  const wchar_t* p = name;
  bool negative = *p == L'-';
  if (negative) ++p;
  if (!*p) return false;
  long long v = 0;
  for (int digits = 0; *p; ++p, ++digits) {
    if (*p < L'0' || *p > L'9' || digits >= 10) return false;
    v = v * 10 + (*p - L'0');
  }
  if (negative) v = -v;
  if (v < -2147483648LL || v > 2147483647LL) return false;
  *id = static_cast<DWORD>(static_cast<int>(v));
  return true;
}

// The creation time of the live object with that ID; false (with the system's
// error) when it cannot be opened, its times cannot be read or it has ended (an
// ended object lingers while someone holds a handle to it). Such an object never
// matches a record.
bool ReadCreationTime(Kind kind, DWORD id, FILETIME* created) {
  FILETIME exited, kernel, user;
  DWORD code = 0;
  HANDLE h;
  BOOL ok;
  if (kind == Kind::Process) {
    h = kinetra::OpenProcessForQuery(id);
    if (!h) return false;
    ok = GetProcessTimes(h, created, &exited, &kernel, &user) && GetExitCodeProcess(h, &code);
  } else {
    h = OpenThread(THREAD_QUERY_INFORMATION, FALSE, id);
    if (!h) h = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (!h) return false;
    ok = GetThreadTimes(h, created, &exited, &kernel, &user) && GetExitCodeThread(h, &code);
  }
  if (ok && code != STILL_ACTIVE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    ok = FALSE;
  }
  CloseKeepingError(h);
  return ok != 0;
}

bool SameTime(const BYTE* data, const FILETIME& t) {
  DWORD low, high;
  memcpy(&low, data, 4);
  memcpy(&high, data + 4, 4);
  return low == t.dwLowDateTime && high == t.dwHighDateTime;
}

bool HasValidRecord(Kind kind, DWORD id) {
  HKEY key = OpenRecordKey(kind);
  if (!key) return false;
  bool valid = false;
  FILETIME created;
  if (ReadCreationTime(kind, id, &created)) {
    BYTE data[8];
    DWORD type = 0, size = sizeof data;
    valid = RegQueryValueExW(key, ValueName(id).text, nullptr, &type, data, &size) == ERROR_SUCCESS &&
            type == REG_BINARY && size == sizeof data && SameTime(data, created);
  }
  RegCloseKey(key);
  return valid;
}

bool WriteRecord(Kind kind, DWORD id, const FILETIME& created) {
  HKEY key = OpenRecordKey(kind);
  if (!key) return false;
  BYTE data[8];
  memcpy(data, &created.dwLowDateTime, 4);
  memcpy(data + 4, &created.dwHighDateTime, 4);
  LONG r = RegSetValueExW(key, ValueName(id).text, 0, REG_BINARY, data, sizeof data);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS) SetLastError(DWORD(r));
  return r == ERROR_SUCCESS;
}

void RemoveRecord(Kind kind, DWORD id) {
  HKEY key = OpenRecordKey(kind);
  if (!key) return;
  RegDeleteValueW(key, ValueName(id).text);
  RegCloseKey(key);
}

// The names of the record-shaped values (REG_BINARY, 8 bytes) of the key, read
// in full before anything is deleted, so that deleting does not shift values
// past the walk.
std::vector<std::wstring> RecordNames(HKEY key) {
  std::vector<std::wstring> names;
  for (DWORD index = 0; index < kMaxValues; ++index) {
    wchar_t name[kMaxNameChars + 1];
    DWORD chars = kMaxNameChars + 1, type = 0, size = 0;
    LONG r = RegEnumValueW(key, index, name, &chars, nullptr, &type, nullptr, &size);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r != ERROR_SUCCESS) continue;  // a name too long for us is not one of ours
    if (type == REG_BINARY && size == 8) names.emplace_back(name, chars);
  }
  return names;
}

// Deletes the records that no longer name a live object of the same creation
// time. Values of another type or size are not records and are left alone.
void RemoveStaleRecords(Kind kind) {
  HKEY key = OpenRecordKey(kind);
  if (!key) return;
  std::vector<std::wstring> stale;
  for (const std::wstring& name : RecordNames(key)) {
    DWORD id = 0;
    FILETIME created;
    BYTE data[8];
    DWORD type = 0, size = sizeof data;
    bool valid = ParseId(name.c_str(), &id) && ReadCreationTime(kind, id, &created) &&
                 RegQueryValueExW(key, name.c_str(), nullptr, &type, data, &size) == ERROR_SUCCESS &&
                 type == REG_BINARY && size == sizeof data && SameTime(data, created);
    if (!valid) stale.push_back(name);
  }
  for (const std::wstring& name : stale) RegDeleteValueW(key, name.c_str());
  RegCloseKey(key);
}

void ResumeAndClose(std::vector<HANDLE>& threads) {
  DWORD err = GetLastError();
  for (HANDLE h : threads) {
    ResumeThread(h);
    CloseHandle(h);
  }
  threads.clear();
  SetLastError(err);
}

// The resume of one thread, done on a worker so that a caller is never held
// longer than the wait allows.
struct ResumeJob {
  DWORD tid;
  BOOL result;
  DWORD error;
};

DWORD WINAPI ResumeWorker(LPVOID param) {
  ResumeJob* job = static_cast<ResumeJob*>(param);
  if (job->tid == GetCurrentThreadId() || !HasValidRecord(Kind::Thread, job->tid)) return 0;
  HANDLE h = OpenThread(THREAD_SUSPEND_RESUME, FALSE, job->tid);
  if (!h) {
    job->error = GetLastError();
    return 0;
  }
  if (ResumeThread(h) == DWORD(-1)) {
    job->error = GetLastError();
    CloseHandle(h);
    return 0;
  }
  CloseHandle(h);
  RemoveRecord(Kind::Thread, job->tid);
  job->result = TRUE;
  return 1;
}

}  // namespace

kinetra::SUSPEND_THREAD_FN kinetra::SetProcessThreadSuspendOverride(SUSPEND_THREAD_FN fn) {
  return reinterpret_cast<SUSPEND_THREAD_FN>(InterlockedExchangePointer(
      reinterpret_cast<PVOID volatile*>(&g_suspendOverride), reinterpret_cast<PVOID>(fn)));
}

BOOL PRM_TerminateProcess(DWORD pid) {
  HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
  if (!h) return FALSE;
  BOOL ok = TerminateProcess(h, PRM_TERMINATE_EXIT_CODE);
  CloseKeepingError(h);
  return ok;
}

BOOL PRM_SuspendProcess(DWORD pid) {
  if (pid == GetCurrentProcessId() || HasValidRecord(Kind::Process, pid)) return FALSE;
  // Read before anything is suspended: a process whose record could not be
  // told apart from a later one with the same ID is not suspended at all.
  FILETIME created;
  if (!ReadCreationTime(Kind::Process, pid, &created)) return FALSE;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return FALSE;
  // Kept open until the process is recorded, so that a failure can undo every
  // suspend done so far: no process stays half paused, or paused unrecorded.
  std::vector<HANDLE> suspended;
  THREADENTRY32 te = {};
  te.dwSize = sizeof te;
  bool ok = true;
  DWORD err = 0;
  for (BOOL more = Thread32First(snap, &te); more; more = Thread32Next(snap, &te)) {
    if (te.th32OwnerProcessID != pid) continue;
    HANDLE h = OpenThread(THREAD_SUSPEND_RESUME, FALSE, te.th32ThreadID);
    if (h && SuspendProcessThread(h) != DWORD(-1)) {
      suspended.push_back(h);
      continue;
    }
    err = GetLastError();
    if (h) CloseHandle(h);
    ok = false;
    break;
  }
  if (ok && !WriteRecord(Kind::Process, pid, created)) {
    err = GetLastError();
    ok = false;
  }
  if (!ok) {
    ResumeAndClose(suspended);
  } else {
    for (HANDLE h : suspended) CloseHandle(h);
  }
  CloseHandle(snap);
  if (!ok) SetLastError(err);
  return ok ? TRUE : FALSE;
}

BOOL PRM_ResumeProcess(DWORD pid) {
  if (pid == GetCurrentProcessId() || !HasValidRecord(Kind::Process, pid)) return FALSE;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return FALSE;
  THREADENTRY32 te = {};
  te.dwSize = sizeof te;
  bool ok = true;
  DWORD err = 0;
  for (BOOL more = Thread32First(snap, &te); more; more = Thread32Next(snap, &te)) {
    if (te.th32OwnerProcessID != pid) continue;
    HANDLE h = OpenThread(THREAD_SUSPEND_RESUME, FALSE, te.th32ThreadID);
    if (h && ResumeThread(h) != DWORD(-1)) {
      CloseHandle(h);
      continue;
    }
    err = GetLastError();
    if (h) CloseHandle(h);
    ok = false;
    break;
  }
  CloseHandle(snap);
  if (!ok) {
    SetLastError(err);
    return FALSE;  // the record stays: the process still counts as paused
  }
  RemoveRecord(Kind::Process, pid);
  return TRUE;
}

BOOL PRM_IsProcessSuspended(DWORD pid) { return HasValidRecord(Kind::Process, pid) ? TRUE : FALSE; }

BOOL PRM_ResumeAll() {
  RemoveStaleRecords(Kind::Process);
  RemoveStaleRecords(Kind::Thread);
  HKEY key = OpenRecordKey(Kind::Process);
  if (!key) return TRUE;  // nothing recorded
  std::vector<std::wstring> names = RecordNames(key);
  RegCloseKey(key);
  BOOL all = TRUE;
  for (const std::wstring& name : names) {
    DWORD pid = 0;
    if (ParseId(name.c_str(), &pid) && !PRM_ResumeProcess(pid)) all = FALSE;
  }
  return all;
}

BOOL PRM_SetProcessPriority(DWORD pid, DWORD priorityClass) {
  HANDLE h = OpenProcess(PROCESS_SET_INFORMATION, FALSE, pid);
  if (!h) return FALSE;
  BOOL ok = SetPriorityClass(h, priorityClass);
  CloseKeepingError(h);
  return ok;
}

BOOL PRM_SetProcessWorkingSetSize(DWORD pid, SIZE_T minimum, SIZE_T maximum) {
  HANDLE h = OpenProcess(PROCESS_SET_QUOTA, FALSE, pid);
  if (!h) return FALSE;
  BOOL ok = SetProcessWorkingSetSize(h, minimum, maximum);
  CloseKeepingError(h);
  return ok;
}

BOOL PRM_GetProcessWorkingSetSize(DWORD pid, SIZE_T* minimum, SIZE_T* maximum) {
  HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
  if (!h) return FALSE;
  SIZE_T mn = 0, mx = 0;
  BOOL ok = GetProcessWorkingSetSize(h, &mn, &mx);
  CloseKeepingError(h);
  if (ok) {
    if (minimum) *minimum = mn;
    if (maximum) *maximum = mx;
  }
  return ok;
}

BOOL PRM_TerminateThread(DWORD tid) {
  HANDLE h = OpenThread(THREAD_TERMINATE, FALSE, tid);
  if (!h) return FALSE;
  BOOL ok = TerminateThread(h, PRM_TERMINATE_EXIT_CODE);
  CloseKeepingError(h);
  return ok;
}

BOOL PRM_SuspendThread(DWORD tid) {
  if (tid == GetCurrentThreadId() || HasValidRecord(Kind::Thread, tid)) return FALSE;
  FILETIME created;
  if (!ReadCreationTime(Kind::Thread, tid, &created)) return FALSE;
  HANDLE h = OpenThread(THREAD_SUSPEND_RESUME, FALSE, tid);
  if (!h) return FALSE;
  BOOL ok = SuspendThread(h) != DWORD(-1);
  if (ok && !WriteRecord(Kind::Thread, tid, created)) {
    DWORD err = GetLastError();
    ResumeThread(h);
    SetLastError(err);
    ok = FALSE;
  }
  CloseKeepingError(h);
  return ok;
}

BOOL PRM_ResumeThread(DWORD tid) {
  auto* job = static_cast<ResumeJob*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(ResumeJob)));
  if (!job) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  job->tid = tid;
  HANDLE worker = CreateThread(nullptr, 0, ResumeWorker, job, 0, nullptr);
  if (!worker) {
    DWORD err = GetLastError();
    HeapFree(GetProcessHeap(), 0, job);
    SetLastError(err);
    return FALSE;
  }
  if (WaitForSingleObject(worker, kResumeWaitMs) == WAIT_OBJECT_0) {
    BOOL result = job->result;
    DWORD err = job->error;
    CloseHandle(worker);
    HeapFree(GetProcessHeap(), 0, job);
    if (err) SetLastError(err);
    return result;
  }
  TerminateThread(worker, ERROR_TIMEOUT);
  // The job is freed only once the worker surely no longer touches it.
  if (WaitForSingleObject(worker, kResumeWaitMs) == WAIT_OBJECT_0) HeapFree(GetProcessHeap(), 0, job);
  CloseHandle(worker);
  SetLastError(ERROR_TIMEOUT);
  return FALSE;
}

BOOL PRM_IsThreadSuspended(DWORD tid) { return HasValidRecord(Kind::Thread, tid) ? TRUE : FALSE; }
