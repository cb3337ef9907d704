// Small handle and lock helpers shared inside the library.
#pragma once

#include <windows.h>

#include "quarl/base/objhdr.h"

namespace kinetra {

// Closes a handle and leaves the last error as it was, so that the reason of a
// failure survives the clean-up that follows it.
inline void CloseKeepingError(HANDLE h) {
  DWORD err = GetLastError();
  CloseHandle(h);
  SetLastError(err);
}

// Opens a process to query it; protected processes still give their times,
// token and counters to the limited right, so that is the fallback.
inline HANDLE OpenProcessForQuery(DWORD pid) {
  HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
  if (!h) h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  return h;
}

// A lock on the heap, for records that may be moved as bytes: they keep only its
// address. Null (last error: no memory) when it cannot be allocated.
inline CRITICAL_SECTION* NewHeapLock() {
  auto* lock = static_cast<CRITICAL_SECTION*>(HeapAlloc(GetProcessHeap(), 0, sizeof(CRITICAL_SECTION)));
  if (!lock) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  InitializeCriticalSection(lock);
  return lock;
}

// Marks the record deleted while holding its lock, so a getter that waited for
// the lock sees the mark; then frees the lock and clears the record's pointer.
inline void RetireHeapLock(CRITICAL_SECTION** slot, quarl::OBJHEADER& hdr) {
  CRITICAL_SECTION* lock = *slot;
  EnterCriticalSection(lock);
  quarl::HeaderMarkDeleted(hdr);
  *slot = nullptr;
  LeaveCriticalSection(lock);
  DeleteCriticalSection(lock);
  HeapFree(GetProcessHeap(), 0, lock);
}

}  // namespace kinetra
