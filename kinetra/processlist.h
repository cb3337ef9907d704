// The live process list and the flat table of running processes each of its
// passes is built from.
#pragma once

#include <windows.h>

#include "kinetra/kinetraapi.h"

// As many processes as the list has slots; more are cut (and said so), never a
// reason for a pass to fail.
constexpr int kProcessTableSlots = 1024;

struct TL_PROCESSNULLENTRY {
  wchar_t imageName[256];  // the file-name part of the image name
  DWORD pid;
  DWORD parentPid;         // 0xFFFFFFFF when the snapshot does not know it
  ULONGLONG createTime;    // UTC, 100 ns; tells a reused PID from the process before
};

// One native snapshot as a flat table, idle process left out, snapshot order.
class KINETRA_API TL_PROCESSNULLLIST {
 public:
  TL_PROCESSNULLLIST() : count_(0), truncated_(FALSE) {}

  // Rebuilds the table from a fresh snapshot; false only when no snapshot could
  // be taken (the table is then empty).
  BOOL Create();
  int GetItemCount() const { return count_; }
  // No bounds checks: callers pass indices below the count.
  DWORD GetItemPID(int index) const { return entries_[index].pid; }
  DWORD GetItemParentPID(int index) const { return entries_[index].parentPid; }
  const wchar_t* GetItemImageName(int index) const { return entries_[index].imageName; }
  ULONGLONG GetItemCreateTime(int index) const { return entries_[index].createTime; }
  int SearchForPID(DWORD pid) const;
  // True when the last snapshot held more processes than the table has slots.
  BOOL IsTruncated() const { return truncated_; }

 private:
  int count_;
  BOOL truncated_;
  TL_PROCESSNULLENTRY entries_[kProcessTableSlots];
};
