// Process snapshots: one call of the system's process information query, kept as
// the raw chain of process records (each followed by its thread records).
#pragma once

#include <windows.h>

#include "kinetra/kinetraapi.h"
#include "kinetra/ntapi.h"
#include "quarl/base/objhdr.h"

namespace kinetra {

// What the list needs of one snapshot item, read by position.
struct KN_SNAPSHOT_ITEM {
  DWORD pid;
  DWORD parentPid;
  ULONGLONG createTime;  // 100 ns since 1601, UTC; 0 when the system gives none
};

// The snapshot the process list builds its table from. Items are the records of
// real processes: the idle-process record (PID 0, absent under Wine) is never an
// item and is never found by PID.
class KINETRA_API _NTPROCESSLIST {
 public:
  _NTPROCESSLIST();
  ~_NTPROCESSLIST();
  _NTPROCESSLIST(const _NTPROCESSLIST&) = delete;
  _NTPROCESSLIST& operator=(const _NTPROCESSLIST&) = delete;

  BOOL Init();
  BOOL ReInit();
  BOOL Delete();
  BOOL IsClassReady() const;

  // A fresh snapshot; false (and no buffer) when it could not be taken.
  BOOL UpdateNull();
  DWORD GetItemProcessID(DWORD item) const;      // 0xFFFFFFFF past the last item
  DWORD GetProcessParentPID(DWORD pid) const;    // 0xFFFFFFFF when not found
  DWORD GetProcessImageName(DWORD pid, wchar_t* buf, DWORD cch) const;  // always 0
  DWORD GetProcessCount() const;
  // The item at that position with its image name (bounded); false past the end.
  BOOL GetItem(DWORD item, KN_SNAPSHOT_ITEM* out, wchar_t* name, DWORD cch) const;
  // The whole record of the item at that position (counters and times); null
  // past the end. Valid until the next snapshot.
  const KN_SYSTEM_PROCESS_INFORMATION* GetItemRecord(DWORD item) const { return ItemRecord(item); }

 private:
  const KN_SYSTEM_PROCESS_INFORMATION* ItemRecord(DWORD item) const;
  BOOL InitAt(void* creator);
  const KN_SYSTEM_PROCESS_INFORMATION* FindRecord(DWORD pid) const;
  void Release();

  quarl::OBJHEADER hdr_;
  SNAPSHOT_ENTRIES api_;
  CRITICAL_SECTION lock_;
  DWORD count_;
  SNAPSHOT_BUFFER snap_;
  // Byte offsets of the items' records, so item lookups do not walk the chain.
  ULONG* items_;
};

}  // namespace kinetra

// The older snapshot variant, used for per-process thread questions. It has no
// signature words; its status word stays 0.
class KINETRA_API TL_NTPROCESSLIST {
 public:
  TL_NTPROCESSLIST();
  ~TL_NTPROCESSLIST();
  TL_NTPROCESSLIST(const TL_NTPROCESSLIST&) = delete;
  TL_NTPROCESSLIST& operator=(const TL_NTPROCESSLIST&) = delete;

  BOOL Init();  // binds and takes the first snapshot
  BOOL UpdateNull();
  // Thread questions search every record, the idle process's too.
  DWORD GetNTProcessThreadCount(DWORD pid);
  // Where the record's thread records begin; null when the PID is absent or its
  // threads do not lie in the snapshot.
  const kinetra::KN_SYSTEM_THREAD_INFORMATION* GetNTProcessThreads(DWORD pid);
  DWORD GetStatus() const { return status_; }
  BOOL IsReady() const { return status_ == 1; }

 private:
  DWORD status_;
  kinetra::SNAPSHOT_ENTRIES api_;
  CRITICAL_SECTION lock_;
  BOOL lockReady_;
  DWORD count_;
  kinetra::SNAPSHOT_BUFFER snap_;
};
