#include "kinetra/ntprocesslist.h"

#include "quarl/base/strfmt.h"

namespace kinetra {
namespace {
constexpr uint32_t kSig1 = quarl::Sig('K', 'N', 'N', 'T');
constexpr uint32_t kSig2 = quarl::Sig('P', 'L', 'S', 'T');
constexpr DWORD kNotFound = 0xFFFFFFFF;
}  // namespace

_NTPROCESSLIST::_NTPROCESSLIST() {
  ZeroMemory(static_cast<void*>(this), sizeof *this);
  InitAt(QUARL_CALLER_ADDRESS());
}

_NTPROCESSLIST::~_NTPROCESSLIST() { Delete(); }

__attribute__((noinline)) BOOL _NTPROCESSLIST::Init() { return InitAt(QUARL_CALLER_ADDRESS()); }

__attribute__((noinline)) BOOL _NTPROCESSLIST::ReInit() {
  Delete();
  return InitAt(QUARL_CALLER_ADDRESS());
}

BOOL _NTPROCESSLIST::InitAt(void* creator) {
  if (IsClassReady()) Release();
  ZeroMemory(static_cast<void*>(this), sizeof *this);
  InitializeCriticalSection(&lock_);
  if (!BindSnapshotEntries(&api_)) {
    DeleteCriticalSection(&lock_);
    return FALSE;
  }
  quarl::HeaderSet(hdr_, kSig1, kSig2, creator, sizeof *this);
  return TRUE;
}

void _NTPROCESSLIST::Release() {
  FreeProcessSnapshot(&snap_);
  if (items_) HeapFree(GetProcessHeap(), 0, items_);
  items_ = nullptr;
  count_ = 0;
  DeleteCriticalSection(&lock_);
}

BOOL _NTPROCESSLIST::Delete() {
  if (IsClassReady()) Release();
  quarl::HeaderMarkDeleted(hdr_);
  return TRUE;
}

BOOL _NTPROCESSLIST::IsClassReady() const { return quarl::HeaderIs(hdr_, kSig1, kSig2); }

BOOL _NTPROCESSLIST::UpdateNull() {
  if (!IsClassReady()) return FALSE;
  EnterCriticalSection(&lock_);
  FreeProcessSnapshot(&snap_);
  if (items_) HeapFree(GetProcessHeap(), 0, items_);
  items_ = nullptr;
  count_ = 0;
  BOOL ok = TakeProcessSnapshot(api_.NtQuerySystemInformation, &snap_);
  if (ok) {
    DWORD found = 0;
    for (SnapshotWalker w(snap_); w.Current(); w.Next())
      if (SnapshotWalker::Pid(w.Current()) != 0) ++found;
    items_ = static_cast<ULONG*>(HeapAlloc(GetProcessHeap(), 0, (found ? found : 1) * sizeof(ULONG)));
    if (!items_) {
      FreeProcessSnapshot(&snap_);
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      ok = FALSE;
    } else {
      for (SnapshotWalker w(snap_); w.Current() && count_ < found; w.Next())
        if (SnapshotWalker::Pid(w.Current()) != 0) items_[count_++] = w.Offset();
    }
  }
  LeaveCriticalSection(&lock_);
  return ok;
}

DWORD _NTPROCESSLIST::GetProcessCount() const { return IsClassReady() ? count_ : 0; }

DWORD _NTPROCESSLIST::GetItemProcessID(DWORD item) const {
  if (!IsClassReady() || item >= count_) return kNotFound;
  return SnapshotWalker::Pid(reinterpret_cast<const KN_SYSTEM_PROCESS_INFORMATION*>(snap_.data + items_[item]));
}

const KN_SYSTEM_PROCESS_INFORMATION* _NTPROCESSLIST::ItemRecord(DWORD item) const {
  if (!IsClassReady() || item >= count_) return nullptr;
  return reinterpret_cast<const KN_SYSTEM_PROCESS_INFORMATION*>(snap_.data + items_[item]);
}

BOOL _NTPROCESSLIST::GetItem(DWORD item, KN_SNAPSHOT_ITEM* out, wchar_t* name, DWORD cch) const {
  const KN_SYSTEM_PROCESS_INFORMATION* r = ItemRecord(item);
  if (!r) return FALSE;
  out->pid = SnapshotWalker::Pid(r);
  out->parentPid = SnapshotWalker::ParentPid(r);
  out->createTime = ULONGLONG(r->CreateTime.QuadPart);
  if (name && cch) CopyImageName(snap_, r, name, cch);
  return TRUE;
}

const KN_SYSTEM_PROCESS_INFORMATION* _NTPROCESSLIST::FindRecord(DWORD pid) const {
  if (!IsClassReady() || pid == 0) return nullptr;
  for (DWORD i = 0; i < count_; ++i) {
    auto r = reinterpret_cast<const KN_SYSTEM_PROCESS_INFORMATION*>(snap_.data + items_[i]);
    if (SnapshotWalker::Pid(r) == pid) return r;
  }
  return nullptr;
}

DWORD _NTPROCESSLIST::GetProcessParentPID(DWORD pid) const {
  const KN_SYSTEM_PROCESS_INFORMATION* r = FindRecord(pid);
  return r ? SnapshotWalker::ParentPid(r) : kNotFound;
}

DWORD _NTPROCESSLIST::GetProcessImageName(DWORD pid, wchar_t* buf, DWORD cch) const {
  const KN_SYSTEM_PROCESS_INFORMATION* r = FindRecord(pid);
  if (r && buf && cch) CopyImageName(snap_, r, buf, cch);
  return 0;
}

}  // namespace kinetra

using kinetra::SnapshotWalker;

TL_NTPROCESSLIST::TL_NTPROCESSLIST() {
  ZeroMemory(static_cast<void*>(this), sizeof *this);
}

TL_NTPROCESSLIST::~TL_NTPROCESSLIST() {
  if (lockReady_) {
    kinetra::FreeProcessSnapshot(&snap_);
    DeleteCriticalSection(&lock_);
  }
}

BOOL TL_NTPROCESSLIST::Init() {
  if (lockReady_) {
    kinetra::FreeProcessSnapshot(&snap_);
    DeleteCriticalSection(&lock_);
  }
  ZeroMemory(static_cast<void*>(this), sizeof *this);
  if (!kinetra::BindSnapshotEntries(&api_)) return FALSE;
  InitializeCriticalSection(&lock_);
  lockReady_ = TRUE;
  return UpdateNull();
}

BOOL TL_NTPROCESSLIST::UpdateNull() {
  if (!lockReady_) return FALSE;
  EnterCriticalSection(&lock_);
  kinetra::FreeProcessSnapshot(&snap_);
  count_ = 0;
  BOOL ok = kinetra::TakeProcessSnapshot(api_.NtQuerySystemInformation, &snap_);
  if (ok)
    for (SnapshotWalker w(snap_); w.Current(); w.Next()) ++count_;
  LeaveCriticalSection(&lock_);
  return ok;
}

DWORD TL_NTPROCESSLIST::GetNTProcessThreadCount(DWORD pid) {
  if (!lockReady_) return 0;
  DWORD n = 0;
  EnterCriticalSection(&lock_);
  for (SnapshotWalker w(snap_); w.Current(); w.Next()) {
    if (SnapshotWalker::Pid(w.Current()) == pid) {
      n = w.Current()->NumberOfThreads;
      break;
    }
  }
  LeaveCriticalSection(&lock_);
  return n;
}

const kinetra::KN_SYSTEM_THREAD_INFORMATION* TL_NTPROCESSLIST::GetNTProcessThreads(DWORD pid) {
  if (!lockReady_) return nullptr;
  const kinetra::KN_SYSTEM_THREAD_INFORMATION* t = nullptr;
  EnterCriticalSection(&lock_);
  for (SnapshotWalker w(snap_); w.Current(); w.Next()) {
    if (SnapshotWalker::Pid(w.Current()) == pid) {
      t = w.Threads();
      break;
    }
  }
  LeaveCriticalSection(&lock_);
  return t;
}
