// The live process list and the flat table of running processes each of its
// passes is built from.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include "kinetra/kinetraapi.h"
#include "kinetra/proctree.h"
#include "kinetra/taskdata.h"

// As many processes as the list has slots; more are cut (and said so), never a
// reason for a pass to fail.
constexpr int kProcessTableSlots = 1024;

struct TL_PROCESSNULLENTRY {
  wchar_t imageName[256];  // the file-name part of the image name
  DWORD pid;
  DWORD parentPid;         // 0xFFFFFFFF when the snapshot does not know it
  ULONGLONG createTime;    // UTC, 100 ns; tells a reused PID from the process before
  // The counters and times the snapshot carries, as the dynamic record takes
  // them, so a pass need not open every process; valid when createTime is set.
  kinetra::KN_TASK_SAMPLE sample;
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
  // Null when the snapshot gave no times for the process (it must be opened).
  const kinetra::KN_TASK_SAMPLE* GetItemSample(int index) const {
    return entries_[index].createTime ? &entries_[index].sample : nullptr;
  }
  int SearchForPID(DWORD pid) const;
  // True when the last snapshot held more processes than the table has slots.
  BOOL IsTruncated() const { return truncated_; }

 private:
  int count_;
  BOOL truncated_;
  TL_PROCESSNULLENTRY entries_[kProcessTableSlots];
};

// One process of the live list. Items live on the heap and only their pointers
// move: the records own a lock, icons and a graph, so an item is never copied.
struct KINETRA_API TL_PROCESSDATA {
  TL_PROCESSDATA() = default;
  TL_PROCESSDATA(const TL_PROCESSDATA&) = delete;
  TL_PROCESSDATA& operator=(const TL_PROCESSDATA&) = delete;

  DWORD pid = 0;
  DWORD parentPid = 0;   // as the snapshot reports it
  wchar_t imageName[256] = {};
  int imageListIndex = 0;  // 0 (the generic icon) until the item's own icon was added
  ULONGLONG createTime = 0;  // from the snapshot (UTC, 100 ns); 0 when it gave none
  kinetra::_TASKDATASTATIC staticData;
  kinetra::_TASKDATADYNAMIC dynamicData;
  TL_PROCESSDATA* nextRetired = nullptr;
  DWORD priorityClass = 0;   // as last asked of the process
  DWORD priorityAsked = 0;   // pass number of that question
};

// The live list of running processes, brought up to date in passes (by Update on
// the caller's thread or by the list's own collector thread, never both at once).
//
// Readers on other threads go through the accessors, which take the list's lock
// for up to about 100 ms (then they give their failure value). Texts and record
// pointers an accessor returns point into the item; an item that leaves the list
// is kept, untouched, until the end of the pass after the one that removed it,
// and only then destroyed (icons, graph, locks). So a pointer stays readable for
// at least one whole pass after it was taken; readers copy values out before that.
class KINETRA_API TL_PROCESSLIST {
 public:
  static constexpr DWORD kDefaultInterval = 250;  // ms between collector passes
  static constexpr DWORD kStaticBudgetMs = 1000;  // static-data work per pass
  static constexpr int kWaitTries = 100;          // 1 ms apart
  // The priority class is the one figure the snapshot does not carry; asking the
  // process costs three server calls, so it is asked every this many passes.
  static constexpr DWORD kPriorityPasses = 8;

  TL_PROCESSLIST();
  ~TL_PROCESSLIST();
  TL_PROCESSLIST(const TL_PROCESSLIST&) = delete;
  TL_PROCESSLIST& operator=(const TL_PROCESSLIST&) = delete;

  // Creates the image list and takes the first pass; always 0: callers see success
  // through a nonzero item count.
  int Init();
  // One pass on the caller's thread; true.
  BOOL Update();
  BOOL UpdateProcessList();
  BOOL UpdateDynamicData();
  BOOL UpdateStaticData(DWORD deadline);
  BOOL CreateNullList();
  // True when the last snapshot held more processes than the list has slots.
  BOOL IsTruncated() const { return truncated_; }

  BOOL StartDataThread();
  // Asks the collector to end and waits for the end of its pass; true.
  BOOL StopDataThread();
  BOOL ReadRequestPending() { return StartDataThread(); }
  BOOL ReadRequestCompleted() { return StopDataThread(); }
  DWORD GetUpdateInterval() const { return interval_ ? interval_ : kDefaultInterval; }
  BOOL SetUpdateInterval(DWORD ms);
  HIMAGELIST GetImageList() const { return imageList_; }
  // While set, readers wait (and time out).
  BOOL SetReadOnly(BOOL readOnly);
  // A reader that takes many related values (a whole table of rows) holds passes
  // off meanwhile, so that none changes the list between two of its getters:
  // HoldPasses waits for a running pass, TryHoldPasses does not.
  void HoldPasses() { EnterCriticalSection(&passLock_); }
  BOOL TryHoldPasses() { return TryEnterCriticalSection(&passLock_); }
  void ReleasePasses() { LeaveCriticalSection(&passLock_); }

  // Index of the first item with that PID; -1 when none or when the list cannot
  // be read in time.
  int GetItemByPID(DWORD pid);
  int GetItemCount();
  // Tree depth and tree sort key; callers pass depth 0.
  int GetItemParentCount(int index, int depth);
  double GetItemTreePos(int index, int depth);

  DWORD GetItemPID(int index);
  DWORD GetItemParentPID(int index);  // after the age test
  const wchar_t* GetItemImageName(int index);
  const wchar_t* GetItemDisplayName(int index);
  const wchar_t* GetItemPathName(int index);
  const wchar_t* GetItemInfoCompanyName(int index);
  const wchar_t* GetItemInfoCopyright(int index);
  const wchar_t* GetItemInfoDescription(int index);
  const wchar_t* GetItemInfoFileVersion(int index);
  const wchar_t* GetItemInfoProductName(int index);
  DWORD GetItemCPUUsage(int index);
  ULONGLONG GetItemRAMUsage(int index);
  DWORD GetItemHandleCount(int index);
  DWORD GetItemProcessPriority(int index);
  DWORD GetItemUserObjectCount(int index);
  DWORD GetItemGDIObjectCount(int index);
  BOOL GetItemProcessTimesOK(int index);
  SYSTEMTIME GetItemRuntime(int index);
  SYSTEMTIME GetItemKernelTime(int index);
  SYSTEMTIME GetItemUserTime(int index);
  SYSTEMTIME GetItemCreationTime(int index);
  kinetra::_TASKDATASTATIC* GetItemStaticData(int index);
  kinetra::_TASKDATADYNAMIC* GetItemDynamicData(int index);
  int GetItemImageListIndex(int index);
  HICON GetItemIcon(int index);
  HICON GetItemIconSmall(int index);

 private:
  class ReadGuard;
  static DWORD WINAPI CollectorMain(LPVOID self);

  BOOL SetListLock(BOOL locked);
  BOOL WaitForReadOK();
  BOOL WaitForWriteOK();
  void ReadDone();
  void WriteDone();
  BOOL IsInitOK() const;
  BOOL AddItem(TL_PROCESSDATA* item);
  BOOL AddItemNull(DWORD pid, DWORD parentPid, const wchar_t* name, ULONGLONG createTime);
  BOOL DeleteItem(int index);
  BOOL DeleteItemNoLock(int index);
  void FreeRetired(TL_PROCESSDATA*& list);
  void DestroyItem(TL_PROCESSDATA* item);
  int AddIcon(HICON icon);
  const kinetra::KN_PROCESSTREE* TreeNoLock();
  TL_PROCESSDATA* ItemNoLock(int index) const;
  static BOOL CreationOf(const TL_PROCESSDATA* item, ULONGLONG* created);

  int GetItemByPIDNoLock(DWORD pid) const;
  DWORD GetItemPIDNoLock(int index) const;
  DWORD GetItemParentPIDNoLock(int index) const;
  const wchar_t* GetItemImageNameNoLock(int index) const;
  const wchar_t* GetItemPathNameNoLock(int index) const;
  const wchar_t* GetItemInfoCompanyNameNoLock(int index) const;
  const wchar_t* GetItemInfoCopyrightNoLock(int index) const;
  const wchar_t* GetItemInfoDescriptionNoLock(int index) const;
  const wchar_t* GetItemInfoFileVersionNoLock(int index) const;
  const wchar_t* GetItemInfoProductNameNoLock(int index) const;
  DWORD GetItemCPUUsageNoLock(int index) const;
  ULONGLONG GetItemRAMUsageNoLock(int index) const;
  DWORD GetItemHandleCountNoLock(int index) const;
  DWORD GetItemProcessPriorityNoLock(int index) const;
  DWORD GetItemUserObjectCountNoLock(int index) const;
  DWORD GetItemGDIObjectCountNoLock(int index) const;
  BOOL GetItemProcessTimesOKNoLock(int index) const;
  SYSTEMTIME GetItemRuntimeNoLock(int index) const;
  SYSTEMTIME GetItemKernelTimeNoLock(int index) const;
  SYSTEMTIME GetItemUserTimeNoLock(int index) const;
  SYSTEMTIME GetItemCreationTimeNoLock(int index) const;
  kinetra::_TASKDATASTATIC* GetItemStaticDataNoLock(int index) const;
  kinetra::_TASKDATADYNAMIC* GetItemDynamicDataNoLock(int index) const;

  TL_PROCESSDATA* items_[kProcessTableSlots];
  TL_PROCESSNULLLIST table_;
  HIMAGELIST imageList_;
  HANDLE thread_;
  DWORD threadId_;
  HANDLE stopEvent_;
  int count_;
  DWORD interval_;
  volatile LONG alive_;
  volatile LONG initOK_;
  volatile LONG readOnly_;   // readers wait while set
  volatile LONG writeHeld_;  // writers wait while set
  BOOL truncated_;
  // The array's lock: readers and the pass's changes, tried for ~100 ms. A
  // critical section rather than a slim lock so nested reads are safe and the
  // list runs on systems without the slim lock's try calls.
  CRITICAL_SECTION lock_;
  CRITICAL_SECTION passLock_;  // one pass at a time
  // Removed items: those of the current pass and of the pass before.
  TL_PROCESSDATA* retiredNow_;
  TL_PROCESSDATA* retiredPrev_;
  // Image-list entries of destroyed items, reused for new icons, so churn does
  // not grow the image list. Entries in use never exceed the live and retired
  // items together, so this many free ones are the most there can be.
  static constexpr int kFreeIconSlots = 3 * kProcessTableSlots;
  int freeIcons_[kFreeIconSlots];
  int freeIconCount_;
  // The tree order, built on the first question after a change.
  kinetra::KN_PROCESSTREE tree_;
  DWORD generation_;
  DWORD treeGeneration_;
  DWORD passNo_ = 0;
};
