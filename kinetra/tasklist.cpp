#include "kinetra/tasklist.h"

#include <tlhelp32.h>

#include <cstring>

#include "quarl/base/strfmt.h"

namespace {

TL_TASKLIST g_table;
volatile LONG g_locked;
HANDLE g_thread;
HANDLE g_stop;
volatile LONG g_threadOnce;

// Pause between two rounds of the framework thread.
constexpr DWORD kRoundPause = 250;

TL_TASKLIST* Resolve(TL_TASKLIST* table) { return table ? table : &g_table; }

int Find(const TL_TASKLIST* t, DWORD pid) {
  for (int i = 0; i < t->count; ++i)
    if (t->records[i].pid == pid) return i;
  return -1;
}

void RemoveAt(TL_TASKLIST* t, int index) {
  --t->count;
  memmove(&t->records[index], &t->records[index + 1], (t->count - index) * sizeof(TL_TASKRECORD));
}

DWORD WINAPI FrameworkThread(LPVOID) {
  // A round's table is large; it lives on the heap, not on the thread's stack.
  auto* local = static_cast<TL_TASKLIST*>(HeapAlloc(GetProcessHeap(), 0, sizeof(TL_TASKLIST)));
  if (!local) return 1;
  do {
    TL_CreateNullList(local);
    TLI_LockFramework();
    for (int i = 0; i < g_table.count;) {
      if (Find(local, g_table.records[i].pid) < 0) RemoveAt(&g_table, i);
      else ++i;
    }
    for (int i = 0; i < local->count && g_table.count < kTaskListSlots; ++i)
      if (Find(&g_table, local->records[i].pid) < 0) g_table.records[g_table.count++] = local->records[i];
    TLI_UnlockFramework();
  } while (WaitForSingleObject(g_stop, kRoundPause) == WAIT_TIMEOUT);
  HeapFree(GetProcessHeap(), 0, local);
  return 0;
}

}  // namespace

BOOL TL_CreateNullList(TL_TASKLIST* table) {
  table->count = 0;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return TRUE;
  PROCESSENTRY32W e;
  e.dwSize = sizeof e;
  for (BOOL more = Process32FirstW(snap, &e); more && table->count < kTaskListSlots; more = Process32NextW(snap, &e)) {
    // The idle process by its PID: Wine's snapshot has none, and skipping by
    // position would hide a real process.
    if (e.th32ProcessID == 0) continue;
    TL_TASKRECORD& r = table->records[table->count++];
    r.pid = e.th32ProcessID;
    r.parentPid = e.th32ParentProcessID;
    quarl::CopyW(r.imageName, 256, e.szExeFile);
  }
  CloseHandle(snap);
  return TRUE;
}

BOOL TLI_InitDataCollectorThread() {
  if (InterlockedCompareExchange(&g_threadOnce, 1, 0) != 0) return g_thread != nullptr;
  g_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_thread = g_stop ? CreateThread(nullptr, 0, FrameworkThread, nullptr, 0, nullptr) : nullptr;
  if (!g_thread) InterlockedExchange(&g_threadOnce, 0);
  return g_thread != nullptr;
}

BOOL TLI_StopDataCollectorThread() {
  if (g_thread) {
    SetEvent(g_stop);
    WaitForSingleObject(g_thread, INFINITE);
    CloseHandle(g_thread);
    CloseHandle(g_stop);
    g_thread = g_stop = nullptr;
    InterlockedExchange(&g_threadOnce, 0);
  }
  return TRUE;
}

BOOL TL_InitFramework() {
  TLI_LockFramework();
  TL_CreateNullList(&g_table);
  TLI_UnlockFramework();
  TLI_InitDataCollectorThread();
  return TRUE;
}

int TL_ListGetItemIDbyPID(DWORD pid, TL_TASKLIST* table) { return Find(Resolve(table), pid); }

int TL_ListGetItemCount(TL_TASKLIST* table) {
  while (TLI_IsFrameworkLocked()) Sleep(1);
  return Resolve(table)->count;
}

BOOL TL_ListDeleteItem(int index, TL_TASKLIST* table) {
  TL_TASKLIST* t = Resolve(table);
  TLI_LockFramework();
  BOOL ok = index >= 0 && index < t->count;
  if (ok) RemoveAt(t, index);
  TLI_UnlockFramework();
  return ok;
}

BOOL TL_ListAddItem(const TL_TASKRECORD* record, TL_TASKLIST* table) {
  if (!record) return FALSE;
  TL_TASKLIST* t = Resolve(table);
  TLI_LockFramework();
  BOOL ok = t->count < kTaskListSlots;
  if (ok) t->records[t->count++] = *record;
  TLI_UnlockFramework();
  return ok;
}

BOOL TLI_IsFrameworkLocked() { return g_locked != 0; }

void TLI_LockFramework() {
  while (InterlockedCompareExchange(&g_locked, 1, 0) != 0) Sleep(1);
}

void TLI_UnlockFramework() { InterlockedExchange(&g_locked, 0); }
