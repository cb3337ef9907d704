#include "kinetra/processlist.h"

#include <algorithm>
#include <new>

#include "kinetra/library.h"
#include "kinetra/ntprocesslist.h"
#include "quarl/base/strfmt.h"

namespace {

FILETIME FileTimeOf(LONGLONG v) { return FILETIME{DWORD(ULONGLONG(v)), DWORD(ULONGLONG(v) >> 32)}; }

void FillSample(const kinetra::KN_SYSTEM_PROCESS_INFORMATION& r, TL_PROCESSNULLENTRY* e) {
  kinetra::KN_TASK_SAMPLE& s = e->sample;
  s = {};
  s.io.ReadOperationCount = ULONGLONG(r.ReadOperationCount.QuadPart);
  s.io.WriteOperationCount = ULONGLONG(r.WriteOperationCount.QuadPart);
  s.io.OtherOperationCount = ULONGLONG(r.OtherOperationCount.QuadPart);
  s.io.ReadTransferCount = ULONGLONG(r.ReadTransferCount.QuadPart);
  s.io.WriteTransferCount = ULONGLONG(r.WriteTransferCount.QuadPart);
  s.io.OtherTransferCount = ULONGLONG(r.OtherTransferCount.QuadPart);
  s.memory.cb = sizeof s.memory;
  s.memory.PageFaultCount = r.PageFaultCount;
  s.memory.PeakWorkingSetSize = r.PeakWorkingSetSize;
  s.memory.WorkingSetSize = r.WorkingSetSize;
  s.memory.QuotaPeakPagedPoolUsage = r.QuotaPeakPagedPoolUsage;
  s.memory.QuotaPagedPoolUsage = r.QuotaPagedPoolUsage;
  s.memory.QuotaPeakNonPagedPoolUsage = r.QuotaPeakNonPagedPoolUsage;
  s.memory.QuotaNonPagedPoolUsage = r.QuotaNonPagedPoolUsage;
  s.memory.PagefileUsage = r.PagefileUsage;
  s.memory.PeakPagefileUsage = r.PeakPagefileUsage;
  s.timesOK = r.CreateTime.QuadPart != 0;
  s.creation = FileTimeOf(r.CreateTime.QuadPart);
  s.kernel = FileTimeOf(r.KernelTime.QuadPart);
  s.user = FileTimeOf(r.UserTime.QuadPart);
}

}  // namespace

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
    FillSample(*snapshot.GetItemRecord(i), &e);
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

// ---- live list ---------------------------------------------------------------

namespace {

using kinetra::_TASKDATADYNAMIC;
using kinetra::_TASKDATASTATIC;

constexpr SYSTEMTIME kNoTime = {};

ULONGLONG ToU64(const FILETIME& ft) { return ULONGLONG(ft.dwHighDateTime) << 32 | ft.dwLowDateTime; }

bool HasLowerCase(const wchar_t* s) {
  for (; *s; ++s)
    if (IsCharLowerW(*s)) return true;
  return false;
}

struct PidSlot {
  DWORD pid;
  int index;
};

// Sorts by PID, the first of equal PIDs in front.
void SortByPid(PidSlot* slots, int count) {
  std::sort(slots, slots + count,
            [](const PidSlot& x, const PidSlot& y) { return x.pid != y.pid ? x.pid < y.pid : x.index < y.index; });
}

int FindPid(const PidSlot* slots, int count, DWORD pid) {
  int lo = 0, hi = count;
  while (lo < hi) {
    int mid = lo + (hi - lo) / 2;
    if (slots[mid].pid < pid)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo < count && slots[lo].pid == pid ? slots[lo].index : -1;
}

bool TickPassed(DWORD deadline) { return LONG(GetTickCount() - deadline) > 0; }

}  // namespace

class TL_PROCESSLIST::ReadGuard {
 public:
  explicit ReadGuard(TL_PROCESSLIST* list) : list_(list), ok_(list->WaitForReadOK()) {}
  ~ReadGuard() {
    if (ok_) list_->ReadDone();
  }
  ReadGuard(const ReadGuard&) = delete;
  ReadGuard& operator=(const ReadGuard&) = delete;
  explicit operator bool() const { return ok_ != FALSE; }

 private:
  TL_PROCESSLIST* list_;
  BOOL ok_;
};

TL_PROCESSLIST::TL_PROCESSLIST()
    : items_(),
      imageList_(nullptr),
      thread_(nullptr),
      threadId_(0),
      stopEvent_(nullptr),
      count_(0),
      interval_(0),
      alive_(0),
      initOK_(0),
      readOnly_(0),
      writeHeld_(0),
      truncated_(FALSE),
      retiredNow_(nullptr),
      retiredPrev_(nullptr),
      freeIcons_(),
      freeIconCount_(0),
      generation_(1),
      treeGeneration_(0) {
  InitializeCriticalSection(&lock_);
  InitializeCriticalSection(&passLock_);
}

TL_PROCESSLIST::~TL_PROCESSLIST() {
  StopDataThread();
  for (int i = 0; i < count_; ++i) DestroyItem(items_[i]);
  count_ = 0;
  FreeRetired(retiredNow_);
  FreeRetired(retiredPrev_);
  if (imageList_) ImageList_Destroy(imageList_);
  if (stopEvent_) CloseHandle(stopEvent_);
  DeleteCriticalSection(&passLock_);
  DeleteCriticalSection(&lock_);
}

int TL_PROCESSLIST::Init() {
  if (initOK_) return 0;
  InterlockedExchange(&alive_, 1);
  BOOL ok = FALSE;
  if (!imageList_) {
    // 32-bit colour with alpha from Vista on; older systems draw it wrongly.
    UINT depth = LOBYTE(LOWORD(GetVersion())) >= 6 ? ILC_COLOR32 : ILC_COLOR24;
    imageList_ = ImageList_Create(16, 16, depth | ILC_MASK, 256, 256);
    if (imageList_) {
      ImageList_SetBkColor(imageList_, RGB(255, 255, 255));
      if (ImageList_AddIcon(imageList_, kinetra::GetGenericProgramIcon(FALSE)) != 0) {
        // Entry 0 must be the generic icon: without it every index is off.
        ImageList_Destroy(imageList_);
        imageList_ = nullptr;
      }
    }
  }
  if (imageList_) ok = UpdateProcessList();
  if (ok) {
    InterlockedExchange(&initOK_, 1);
  } else {
    InterlockedExchange(&initOK_, 0);
    InterlockedExchange(&alive_, 0);
  }
  return 0;
}

BOOL TL_PROCESSLIST::IsInitOK() const { return alive_ ? TRUE : initOK_ ? TRUE : FALSE; }

BOOL TL_PROCESSLIST::Update() {
  EnterCriticalSection(&passLock_);
  UpdateProcessList();
  UpdateDynamicData();
  UpdateStaticData(GetTickCount() + kStaticBudgetMs);
  LeaveCriticalSection(&passLock_);
  return TRUE;
}

BOOL TL_PROCESSLIST::CreateNullList() {
  EnterCriticalSection(&passLock_);
  BOOL ok = table_.Create();
  truncated_ = table_.IsTruncated();
  LeaveCriticalSection(&passLock_);
  return ok;
}

BOOL TL_PROCESSLIST::UpdateProcessList() {
  if (!IsInitOK()) return FALSE;
  EnterCriticalSection(&passLock_);
  if (!CreateNullList() || !WaitForWriteOK()) {
    LeaveCriticalSection(&passLock_);
    return FALSE;
  }
  // Items removed two passes ago can no longer be held by a reader.
  FreeRetired(retiredPrev_);
  retiredPrev_ = retiredNow_;
  retiredNow_ = nullptr;

  const int entries = table_.GetItemCount();
  PidSlot byPid[kProcessTableSlots];
  for (int e = 0; e < entries; ++e) byPid[e] = {table_.GetItemPID(e), e};
  SortByPid(byPid, entries);

  // Removal: items whose process is gone, or whose PID now names a process that
  // started at another time, leave; the others keep their order.
  bool changed = false;
  int kept = 0;
  for (int i = 0; i < count_; ++i) {
    TL_PROCESSDATA* item = items_[i];
    int e = FindPid(byPid, entries, item->pid);
    bool same = e >= 0;
    if (same) {
      ULONGLONG t = table_.GetItemCreateTime(e);
      same = !t || !item->createTime || t == item->createTime;
    }
    if (same) {
      items_[kept++] = item;
    } else {
      item->nextRetired = retiredNow_;
      retiredNow_ = item;
      changed = true;
    }
  }
  for (int i = kept; i < count_; ++i) items_[i] = nullptr;
  count_ = kept;

  // Addition, in table order, of every process no item stands for.
  PidSlot have[kProcessTableSlots];
  for (int i = 0; i < count_; ++i) have[i] = {items_[i]->pid, i};
  SortByPid(have, count_);
  const int known = count_;
  for (int e = 0; e < entries && count_ < kProcessTableSlots; ++e) {
    if (FindPid(have, known, table_.GetItemPID(e)) >= 0) continue;
    if (AddItemNull(table_.GetItemPID(e), table_.GetItemParentPID(e), table_.GetItemImageName(e),
                    table_.GetItemCreateTime(e)))
      changed = true;
  }
  if (changed) ++generation_;
  WriteDone();
  LeaveCriticalSection(&passLock_);
  return TRUE;
}

BOOL TL_PROCESSLIST::AddItemNull(DWORD pid, DWORD parentPid, const wchar_t* name, ULONGLONG createTime) {
  TL_PROCESSDATA* item = new (std::nothrow) TL_PROCESSDATA;
  if (!item) return FALSE;
  item->pid = pid;
  item->parentPid = parentPid;
  item->createTime = createTime;
  quarl::CopyW(item->imageName, 256, name ? name : L"");
  // Names written all in capitals (SMSS.EXE) read better in lower case.
  if (!HasLowerCase(item->imageName)) CharLowerBuffW(item->imageName, DWORD(wcslen(item->imageName)));
  if (AddItem(item)) return TRUE;
  DestroyItem(item);
  return FALSE;
}

BOOL TL_PROCESSLIST::AddItem(TL_PROCESSDATA* item) {
  if (!item || !WaitForWriteOK()) return FALSE;
  BOOL ok = count_ < kProcessTableSlots;
  if (ok) {
    item->imageListIndex = 0;
    items_[count_++] = item;
    ++generation_;
  }
  WriteDone();
  return ok;
}

BOOL TL_PROCESSLIST::DeleteItem(int index) {
  if (!WaitForWriteOK()) return FALSE;
  BOOL ok = DeleteItemNoLock(index);
  WriteDone();
  return ok;
}

BOOL TL_PROCESSLIST::DeleteItemNoLock(int index) {
  TL_PROCESSDATA* item = ItemNoLock(index);
  if (!item) return FALSE;
  --count_;
  for (int i = index; i < count_; ++i) items_[i] = items_[i + 1];
  items_[count_] = nullptr;
  item->nextRetired = retiredNow_;
  retiredNow_ = item;
  ++generation_;
  return TRUE;
}

void TL_PROCESSLIST::FreeRetired(TL_PROCESSDATA*& list) {
  while (list) {
    TL_PROCESSDATA* next = list->nextRetired;
    DestroyItem(list);
    list = next;
  }
}

void TL_PROCESSLIST::DestroyItem(TL_PROCESSDATA* item) {
  if (item->imageListIndex > 0 && freeIconCount_ < kFreeIconSlots) freeIcons_[freeIconCount_++] = item->imageListIndex;
  delete item;  // the records' destructors release icons, graph and lock
}

int TL_PROCESSLIST::AddIcon(HICON icon) {
  if (!imageList_) return -1;
  while (freeIconCount_ > 0) {
    int at = freeIcons_[--freeIconCount_];
    if (ImageList_ReplaceIcon(imageList_, at, icon) == at) return at;
  }
  return ImageList_AddIcon(imageList_, icon);
}

BOOL TL_PROCESSLIST::UpdateDynamicData() {
  EnterCriticalSection(&passLock_);
  ++passNo_;
  // Only a pass changes the array, and passes are serialised: no lock needed to
  // walk it here. Readers may see a refresh half done, as the records allow.
  // The snapshot of this pass already carries the counters and times: the
  // process is opened only where it gave none.
  const int entries = table_.GetItemCount();
  int next = 0;  // items and table mostly run in the same order
  for (int i = 0; i < count_; ++i) {
    TL_PROCESSDATA* item = items_[i];
    int e = next < entries && table_.GetItemPID(next) == item->pid ? next : table_.SearchForPID(item->pid);
    if (e >= 0) next = e + 1;
    const kinetra::KN_TASK_SAMPLE* known =
        e >= 0 && table_.GetItemCreateTime(e) == item->createTime ? table_.GetItemSample(e) : nullptr;
    // The snapshot's base priority is no priority class on every system (Wine
    // numbers it its own way): the class is asked of the process, on its first
    // pass and then every few passes, spread over the items.
    DWORD priority = 0;
    if (known && item->priorityClass && passNo_ - item->priorityAsked < kPriorityPasses) priority = item->priorityClass;
    item->dynamicData.QueryProcessDataFrom(item->pid, known, priority);
    if (!priority) {
      item->priorityClass = item->dynamicData.GetProcessPriority();
      item->priorityAsked = passNo_ - DWORD(i) % kPriorityPasses;
    }
  }
  // Creation times feed the parents' age test: the tree order is due again.
  EnterCriticalSection(&lock_);
  ++generation_;
  LeaveCriticalSection(&lock_);
  LeaveCriticalSection(&passLock_);
  return TRUE;
}

BOOL TL_PROCESSLIST::UpdateStaticData(DWORD deadline) {
  EnterCriticalSection(&passLock_);
  // Newest items last: they get their static data first.
  for (int i = count_ - 1; i >= 0; --i) {
    TL_PROCESSDATA* item = items_[i];
    const _TASKDATADYNAMIC& dyn = item->dynamicData;
    const FILETIME* creation = dyn.IsProcessTimesOK() ? dyn.GetCreationLPFileTime() : nullptr;
    item->staticData.QueryProcessDataEx(item->pid, item->parentPid, creation);
    if (item->imageListIndex == 0) {
      HICON small = item->staticData.GetIconSmall();
      if (small) {
        int at = AddIcon(small);
        if (at > 0) item->imageListIndex = at;
      }
    }
    if (TickPassed(deadline)) break;
  }
  LeaveCriticalSection(&passLock_);
  return TRUE;
}

// ---- collector ---------------------------------------------------------------

DWORD WINAPI TL_PROCESSLIST::CollectorMain(LPVOID self) {
  TL_PROCESSLIST* list = static_cast<TL_PROCESSLIST*>(self);
  do {
    list->Update();
  } while (WaitForSingleObject(list->stopEvent_, list->GetUpdateInterval()) == WAIT_TIMEOUT);
  return 0;
}

BOOL TL_PROCESSLIST::StartDataThread() {
  if (thread_) return FALSE;
  if (!stopEvent_) stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!stopEvent_) return FALSE;
  ResetEvent(stopEvent_);
  thread_ = CreateThread(nullptr, 0, CollectorMain, this, 0, &threadId_);
  return thread_ != nullptr;
}

BOOL TL_PROCESSLIST::StopDataThread() {
  if (!thread_) return TRUE;
  SetEvent(stopEvent_);
  // The pass in progress ends first: the thread is never cut off mid-change.
  WaitForSingleObject(thread_, INFINITE);
  CloseHandle(thread_);
  thread_ = nullptr;
  threadId_ = 0;
  return TRUE;
}

BOOL TL_PROCESSLIST::SetUpdateInterval(DWORD ms) {
  interval_ = ms;
  return TRUE;
}

// ---- lock --------------------------------------------------------------------

BOOL TL_PROCESSLIST::SetReadOnly(BOOL readOnly) {
  InterlockedExchange(&readOnly_, readOnly ? 1 : 0);
  return TRUE;
}

BOOL TL_PROCESSLIST::SetListLock(BOOL locked) {
  InterlockedExchange(&readOnly_, locked ? 1 : 0);
  InterlockedExchange(&writeHeld_, locked ? 1 : 0);
  return TRUE;
}

BOOL TL_PROCESSLIST::WaitForReadOK() {
  if (!IsInitOK()) return FALSE;
  for (int i = 0;; ++i) {
    if (!readOnly_ && TryEnterCriticalSection(&lock_)) return TRUE;
    if (i == kWaitTries) return FALSE;
    Sleep(1);
  }
}

BOOL TL_PROCESSLIST::WaitForWriteOK() {
  if (!IsInitOK()) return FALSE;
  for (int i = 0;; ++i) {
    if (!writeHeld_ && TryEnterCriticalSection(&lock_)) return TRUE;
    if (i == kWaitTries) return FALSE;
    Sleep(1);
  }
}

void TL_PROCESSLIST::ReadDone() { LeaveCriticalSection(&lock_); }
void TL_PROCESSLIST::WriteDone() { LeaveCriticalSection(&lock_); }

// ---- look-ups and tree order ---------------------------------------------------

TL_PROCESSDATA* TL_PROCESSLIST::ItemNoLock(int index) const {
  if (index < 0 || index >= kProcessTableSlots || index >= count_) return nullptr;
  return items_[index];
}

int TL_PROCESSLIST::GetItemByPIDNoLock(DWORD pid) const {
  for (int i = 0; i < count_; ++i)
    if (items_[i]->pid == pid) return i;
  return -1;
}

int TL_PROCESSLIST::GetItemByPID(DWORD pid) {
  ReadGuard g(this);
  return g ? GetItemByPIDNoLock(pid) : -1;
}

int TL_PROCESSLIST::GetItemCount() {
  ReadGuard g(this);
  return g ? count_ : 0;
}

BOOL TL_PROCESSLIST::CreationOf(const TL_PROCESSDATA* item, ULONGLONG* created) {
  const _TASKDATADYNAMIC& dyn = item->dynamicData;
  if (dyn.IsProcessTimesOK()) {
    *created = ToU64(*dyn.GetCreationLPFileTime());
    return TRUE;
  }
  // Before the first refresh (or when the process cannot be opened) the
  // snapshot's creation time still tells a reused PID.
  *created = item->createTime;
  return item->createTime != 0;
}

DWORD TL_PROCESSLIST::GetItemParentPIDNoLock(int index) const {
  const TL_PROCESSDATA* item = ItemNoLock(index);
  if (!item) return 0;
  ULONGLONG own, parent;
  if (!CreationOf(item, &own)) return item->parentPid;
  int p = GetItemByPIDNoLock(item->parentPid);
  if (p < 0 || !CreationOf(items_[p], &parent)) return item->parentPid;
  // A parent that is not older than its child is a younger process that got
  // the PID after the real parent ended.
  return parent < own ? item->parentPid : kinetra::kNoParent;
}

const kinetra::KN_PROCESSTREE* TL_PROCESSLIST::TreeNoLock() {
  if (treeGeneration_ == generation_) return &tree_;
  kinetra::KN_TREENODE* nodes =
      static_cast<kinetra::KN_TREENODE*>(HeapAlloc(GetProcessHeap(), 0, (count_ + 1) * sizeof(kinetra::KN_TREENODE)));
  if (!nodes) return nullptr;
  // First by PID only, to find each parent without a search per item.
  for (int i = 0; i < count_; ++i) nodes[i] = {items_[i]->pid, items_[i]->parentPid};
  BOOL ok = tree_.Build(nodes, DWORD(count_));
  if (ok) {
    for (int i = 0; i < count_; ++i) {
      ULONGLONG own, parent;
      LONG p = tree_.IndexOf(items_[i]->parentPid);
      if (p >= 0 && CreationOf(items_[i], &own) && CreationOf(items_[p], &parent) && !(parent < own))
        nodes[i].parent = kinetra::kNoParent;
    }
    ok = tree_.Build(nodes, DWORD(count_));
  }
  HeapFree(GetProcessHeap(), 0, nodes);
  if (!ok) {
    treeGeneration_ = 0;
    return nullptr;
  }
  treeGeneration_ = generation_;
  return &tree_;
}

int TL_PROCESSLIST::GetItemParentCount(int index, int depth) {
  ReadGuard g(this);
  if (!g || depth < 0 || depth > 12 || !ItemNoLock(index)) return 0;
  const kinetra::KN_PROCESSTREE* tree = TreeNoLock();
  if (!tree) return 0;
  int d = int(tree->Depth(DWORD(index)));
  return d > 13 - depth ? 13 - depth : d;
}

double TL_PROCESSLIST::GetItemTreePos(int index, int depth) {
  ReadGuard g(this);
  if (!g || depth < 0 || depth > 15 || !ItemNoLock(index)) return 0.0;
  const kinetra::KN_PROCESSTREE* tree = TreeNoLock();
  return tree ? tree->Key(DWORD(index)) : 0.0;
}

// ---- accessors -----------------------------------------------------------------

#define TL_ITEM_ACCESSOR(Type, Name, fail, expr)              \
  Type TL_PROCESSLIST::Name##NoLock(int index) const {      \
    const TL_PROCESSDATA* item = ItemNoLock(index);         \
    if (!item) return fail;                                 \
    return expr;                                            \
  }                                                         \
  Type TL_PROCESSLIST::Name(int index) {                    \
    ReadGuard g(this);                                      \
    return g ? Name##NoLock(index) : fail;                  \
  }

TL_ITEM_ACCESSOR(DWORD, GetItemPID, 0, item->pid)
TL_ITEM_ACCESSOR(const wchar_t*, GetItemImageName, nullptr, item->imageName)
TL_ITEM_ACCESSOR(const wchar_t*, GetItemPathName, nullptr, item->staticData.GetPathName())
TL_ITEM_ACCESSOR(const wchar_t*, GetItemInfoCompanyName, nullptr, item->staticData.GetInfoCompanyName())
TL_ITEM_ACCESSOR(const wchar_t*, GetItemInfoCopyright, nullptr, item->staticData.GetInfoCopyright())
TL_ITEM_ACCESSOR(const wchar_t*, GetItemInfoDescription, nullptr, item->staticData.GetInfoDescription())
TL_ITEM_ACCESSOR(const wchar_t*, GetItemInfoFileVersion, nullptr, item->staticData.GetInfoFileVersion())
TL_ITEM_ACCESSOR(const wchar_t*, GetItemInfoProductName, nullptr, item->staticData.GetInfoProductName())
TL_ITEM_ACCESSOR(DWORD, GetItemCPUUsage, 0, item->dynamicData.GetCPUUsage())
TL_ITEM_ACCESSOR(ULONGLONG, GetItemRAMUsage, 0, item->dynamicData.GetRAMUsage())
TL_ITEM_ACCESSOR(DWORD, GetItemHandleCount, 0, item->dynamicData.GetHandleCount())
TL_ITEM_ACCESSOR(DWORD, GetItemProcessPriority, 0, item->dynamicData.GetProcessPriority())
TL_ITEM_ACCESSOR(DWORD, GetItemUserObjectCount, 0, item->dynamicData.GetUserObjectCount())
TL_ITEM_ACCESSOR(DWORD, GetItemGDIObjectCount, 0, item->dynamicData.GetGDIObjectCount())
TL_ITEM_ACCESSOR(BOOL, GetItemProcessTimesOK, FALSE, item->dynamicData.IsProcessTimesOK())
TL_ITEM_ACCESSOR(SYSTEMTIME, GetItemRuntime, kNoTime, item->dynamicData.IsClassReady() ? item->dynamicData.GetRuntime() : kNoTime)
TL_ITEM_ACCESSOR(SYSTEMTIME, GetItemKernelTime, kNoTime,
                 item->dynamicData.IsClassReady() ? item->dynamicData.GetKernelTime() : kNoTime)
TL_ITEM_ACCESSOR(SYSTEMTIME, GetItemUserTime, kNoTime, item->dynamicData.IsClassReady() ? item->dynamicData.GetUserTime() : kNoTime)
TL_ITEM_ACCESSOR(SYSTEMTIME, GetItemCreationTime, kNoTime,
                 item->dynamicData.IsClassReady() ? item->dynamicData.GetCreationTime() : kNoTime)
TL_ITEM_ACCESSOR(_TASKDATASTATIC*, GetItemStaticData, nullptr, const_cast<_TASKDATASTATIC*>(&item->staticData))
TL_ITEM_ACCESSOR(_TASKDATADYNAMIC*, GetItemDynamicData, nullptr, const_cast<_TASKDATADYNAMIC*>(&item->dynamicData))

#undef TL_ITEM_ACCESSOR

DWORD TL_PROCESSLIST::GetItemParentPID(int index) {
  ReadGuard g(this);
  return g ? GetItemParentPIDNoLock(index) : 0;
}

const wchar_t* TL_PROCESSLIST::GetItemDisplayName(int index) {
  ReadGuard g(this);
  const TL_PROCESSDATA* item = g ? ItemNoLock(index) : nullptr;
  if (!item) return nullptr;
  const wchar_t* description = item->staticData.GetInfoDescription();
  size_t n = description ? wcslen(description) : 0;
  return n >= 1 && n <= 127 ? description : item->imageName;
}

int TL_PROCESSLIST::GetItemImageListIndex(int index) {
  ReadGuard g(this);
  const TL_PROCESSDATA* item = g ? ItemNoLock(index) : nullptr;
  return item ? item->imageListIndex : 0;
}

HICON TL_PROCESSLIST::GetItemIcon(int index) {
  ReadGuard g(this);
  const TL_PROCESSDATA* item = g ? ItemNoLock(index) : nullptr;
  if (!item) return nullptr;
  HICON icon = item->staticData.GetIcon();
  return icon ? icon : kinetra::GetGenericProgramIcon(TRUE);
}

HICON TL_PROCESSLIST::GetItemIconSmall(int index) {
  ReadGuard g(this);
  const TL_PROCESSDATA* item = g ? ItemNoLock(index) : nullptr;
  if (!item) return nullptr;
  HICON icon = item->staticData.GetIconSmall();
  return icon ? icon : kinetra::GetGenericProgramIcon(FALSE);
}
