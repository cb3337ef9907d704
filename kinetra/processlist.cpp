#include "kinetra/processlist.h"

#include "kinetra/ntprocesslist.h"
#include "quarl/base/strfmt.h"

BOOL TL_PROCESSNULLLIST::Create() {
  count_ = 0;
  truncated_ = FALSE;
  kinetra::_NTPROCESSLIST snapshot;
  if (!snapshot.UpdateNull()) return FALSE;
  DWORD items = snapshot.GetProcessCount();
  wchar_t name[260];
  for (DWORD i = 0; i < items; ++i) {
    if (count_ == kProcessTableSlots) {
      truncated_ = TRUE;
      break;
    }
    kinetra::KN_SNAPSHOT_ITEM item;
    if (!snapshot.GetItem(i, &item, name, 260)) break;
    TL_PROCESSNULLENTRY& e = entries_[count_++];
    e.pid = item.pid;
    e.parentPid = item.parentPid;
    e.createTime = item.createTime;
    const wchar_t* file = name;
    for (const wchar_t* p = name; *p; ++p)
      if (*p == L'\\' || *p == L'/') file = p + 1;
    quarl::CopyW(e.imageName, 256, file);
  }
  return TRUE;
}

int TL_PROCESSNULLLIST::SearchForPID(DWORD pid) const {
  for (int i = 0; i < count_; ++i)
    if (entries_[i].pid == pid) return i;
  return -1;
}
