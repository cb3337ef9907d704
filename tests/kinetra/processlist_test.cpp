#include "kinetra/processlist.h"
#include "kinetra/tasklist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "kinetra/library.h"
#include "quarl/base/strfmt.h"
#include "tests/common/testutil.h"
#include "tests/kinetra/fakesnapshot.h"

namespace {

TEST(ProcessTable, FileNamesParentsAndCreationTimes) {
  fake::Snapshot s;
  s.Add({0, 0, L"", 1});  // idle: never an entry
  fake::Proc a{4, 0, L"System"};
  a.createTime = 5;
  s.Add(a);
  fake::Proc b{300, 4, L"\\SystemRoot\\System32\\SMSS.EXE"};
  b.createTime = 77;
  s.Add(b);
  s.Add({400, 300, L"C:/tools/probe.exe"});
  fake::Script script = fake::Script::Of(s);
  fake::Scope scope(&script);
  static TL_PROCESSNULLLIST table;
  ASSERT_TRUE(table.Create());
  ASSERT_EQ(3, table.GetItemCount());
  EXPECT_FALSE(table.IsTruncated());
  EXPECT_EQ(4u, table.GetItemPID(0));
  EXPECT_STREQ(L"System", table.GetItemImageName(0));
  EXPECT_STREQ(L"SMSS.EXE", table.GetItemImageName(1));  // case is the list's business
  EXPECT_STREQ(L"probe.exe", table.GetItemImageName(2));
  EXPECT_EQ(300u, table.GetItemParentPID(2));
  EXPECT_EQ(77u, table.GetItemCreateTime(1));
  EXPECT_EQ(1, table.SearchForPID(300));
  EXPECT_EQ(-1, table.SearchForPID(0));
}

TEST(ProcessTable, MoreProcessesThanSlotsAreCutNotFailed) {
  fake::Snapshot s;
  for (DWORD i = 0; i < 1030; ++i) s.Add({8 + 4 * i, 4, L"p.exe"});
  fake::Script script = fake::Script::Of(s);
  fake::Scope scope(&script);
  static TL_PROCESSNULLLIST table;
  ASSERT_TRUE(table.Create());
  EXPECT_EQ(kProcessTableSlots, table.GetItemCount());
  EXPECT_TRUE(table.IsTruncated());
  EXPECT_EQ(8u + 4 * 1023, table.GetItemPID(1023));

  // Exactly as many as there are slots: all of them, nothing cut.
  fake::Snapshot exact;
  for (DWORD i = 0; i < 1024; ++i) exact.Add({8 + 4 * i, 4, L"p.exe"});
  script.Load(exact);
  ASSERT_TRUE(table.Create());
  EXPECT_EQ(kProcessTableSlots, table.GetItemCount());
  EXPECT_FALSE(table.IsTruncated());
}

TEST(ProcessTable, NoSnapshotLeavesAnEmptyTable) {
  fake::Snapshot s;
  s.Add({8, 4, L"p.exe"});
  fake::Script script = fake::Script::Of(s);
  script.failStatus = LONG(0xC0000022);
  fake::Scope scope(&script);
  static TL_PROCESSNULLLIST table;
  EXPECT_FALSE(table.Create());
  EXPECT_EQ(0, table.GetItemCount());
}

}  // namespace

namespace {

TEST(TaskList, TableOperationsAreBounded) {
  static TL_TASKLIST table;
  ASSERT_TRUE(TL_CreateNullList(&table));
  EXPECT_GE(TL_ListGetItemIDbyPID(GetCurrentProcessId(), &table), 0);
  EXPECT_EQ(-1, TL_ListGetItemIDbyPID(0, &table));
  EXPECT_LE(table.count, kTaskListSlots);

  table.count = 0;
  TL_TASKRECORD r = {};
  for (int i = 0; i < kTaskListSlots; ++i) {
    r.pid = DWORD(100 + i);
    ASSERT_TRUE(TL_ListAddItem(&r, &table));
  }
  r.pid = 9999;
  EXPECT_FALSE(TL_ListAddItem(&r, &table));  // full
  EXPECT_FALSE(TL_ListAddItem(nullptr, &table));
  EXPECT_FALSE(TL_ListDeleteItem(kTaskListSlots, &table));
  EXPECT_FALSE(TL_ListDeleteItem(-1, &table));
  EXPECT_TRUE(TL_ListDeleteItem(0, &table));
  EXPECT_EQ(kTaskListSlots - 1, TL_ListGetItemCount(&table));
  EXPECT_EQ(101u, table.records[0].pid);
  EXPECT_EQ(0, TL_ListGetItemIDbyPID(101, &table));
  EXPECT_FALSE(TLI_IsFrameworkLocked());
}

TEST(TaskListThreaded, FrameworkThreadKeepsTheGlobalTableAndStops) {
  ASSERT_TRUE(TL_InitFramework());
  EXPECT_GE(TL_ListGetItemIDbyPID(GetCurrentProcessId(), nullptr), 0);
  EXPECT_GT(TL_ListGetItemCount(nullptr), 0);
  EXPECT_TRUE(TLI_StopDataCollectorThread());
  EXPECT_FALSE(TLI_IsFrameworkLocked());
}

}  // namespace

// ---- live list over crafted snapshots ----------------------------------------------

namespace {

// Providers of the per-process records: every process opens and reports the
// creation time set here (or none), nothing is slow, icons on request.
struct ListWorld {
  static std::map<DWORD, ULONGLONG> created;  // PID -> UTC creation; absent: times not OK
  static bool makeIcons;
  static std::vector<HICON> icons;  // every icon handed out

  static DWORD WINAPI Ticks() { return GetTickCount(); }
  static void WINAPI UtcNow(LPFILETIME ft) { *ft = FILETIME{0, 0x02000000}; }
  static BOOL Path(DWORD, wchar_t* buf, DWORD capacity) {
    quarl::CopyW(buf, quarl::CchFromBytes(capacity), L"C:\\fake\\image.exe");
    return TRUE;
  }
  static BOOL Cmd(DWORD, wchar_t* buf, DWORD capacity) {
    quarl::CopyW(buf, quarl::CchFromBytes(capacity), L"image.exe");
    return TRUE;
  }
  static BOOL User(DWORD, wchar_t* buf, DWORD cch) {
    quarl::CopyW(buf, cch, L"alice");
    return TRUE;
  }
  static DWORD CheckFile(const wchar_t*) { return ERROR_SUCCESS; }
  static void Icons(const wchar_t*, HICON* large, HICON* small) {
    if (!makeIcons) return;
    *large = CopyIcon(LoadIconW(nullptr, IDI_APPLICATION));
    *small = CopyIcon(LoadIconW(nullptr, IDI_APPLICATION));
    icons.push_back(*large);
    icons.push_back(*small);
  }
  static BOOL Sample(DWORD pid, kinetra::KN_TASK_SAMPLE* out) {
    auto it = created.find(pid);
    out->timesOK = it != created.end();
    if (out->timesOK) out->creation = FILETIME{DWORD(it->second), DWORD(it->second >> 32)};
    return TRUE;
  }
  static DWORD Priority(DWORD) { return NORMAL_PRIORITY_CLASS; }
  static void Figures(DWORD pid, kinetra::KN_TASK_SOURCE_FIGURES* out) {
    *out = {};
    out->ramUsage = ULONGLONG(pid) << 33;  // past 32 bits
    out->handleCount = pid + 1;
  }
  static kinetra::KN_TASKDATA_SEAMS Seams() {
    return {Ticks, UtcNow, Path, Cmd, User, CheckFile, Icons, Sample, Priority, Figures};
  }
};
std::map<DWORD, ULONGLONG> ListWorld::created;
bool ListWorld::makeIcons;
std::vector<HICON> ListWorld::icons;

fake::Snapshot SnapshotOf(const std::vector<fake::Proc>& procs) {
  fake::Snapshot s;
  for (const fake::Proc& p : procs) s.Add(p);
  return s;
}

class ProcessList : public ::testing::Test {
 protected:
  void SetUp() override {
    ListWorld::created.clear();
    ListWorld::makeIcons = false;
    ListWorld::icons.clear();
    kinetra::KN_TASKDATA_SEAMS seams = ListWorld::Seams();
    kinetra::SetTaskDataSeams(&seams);
    scope_ = std::make_unique<fake::Scope>(&script_);
    list_ = std::make_unique<TL_PROCESSLIST>();
  }
  void TearDown() override {
    list_.reset();
    scope_.reset();
    kinetra::SetTaskDataSeams(nullptr);
  }
  void Show(const std::vector<fake::Proc>& procs) {
    fake::Snapshot s = SnapshotOf(procs);
    script_.Load(s);
  }
  // Starts the list on the first snapshot.
  void Start(const std::vector<fake::Proc>& procs) {
    Show(procs);
    list_->Init();
    ASSERT_EQ(int(procs.size()), list_->GetItemCount());
    list_->Update();
  }
  std::vector<DWORD> Pids() {
    std::vector<DWORD> out;
    for (int i = 0; i < list_->GetItemCount(); ++i) out.push_back(list_->GetItemPID(i));
    return out;
  }

  fake::Script script_;
  std::unique_ptr<fake::Scope> scope_;
  std::unique_ptr<TL_PROCESSLIST> list_;
};

TEST_F(ProcessList, NewProcessesAppendInSnapshotOrderWithCapitalNamesLowered) {
  Start({{4, 0, L"System"}, {300, 4, L"\\SystemRoot\\System32\\SMSS.EXE"}, {400, 300, L"C:\\x\\Probe.exe"},
         {500, 300, L"CSRSS.EXE"}, {600, 4, L"NO_LOWER-1.EXE"}});
  EXPECT_EQ((std::vector<DWORD>{4, 300, 400, 500, 600}), Pids());
  EXPECT_STREQ(L"System", list_->GetItemImageName(0));
  EXPECT_STREQ(L"smss.exe", list_->GetItemImageName(1));
  EXPECT_STREQ(L"Probe.exe", list_->GetItemImageName(2));  // mixed case stays
  EXPECT_STREQ(L"csrss.exe", list_->GetItemImageName(3));
  EXPECT_STREQ(L"no_lower-1.exe", list_->GetItemImageName(4));
  EXPECT_EQ(300u, list_->GetItemParentPID(2));
  EXPECT_EQ(2, list_->GetItemByPID(400));

  // New ones arrive at the end in the snapshot's order, not in PID order.
  Show({{4, 0, L"System"}, {300, 4, L"SMSS.EXE"}, {400, 300, L"Probe.exe"}, {500, 300, L"CSRSS.EXE"},
        {600, 4, L"x.exe"}, {900, 4, L"n1.exe"}, {700, 4, L"n2.exe"}});
  list_->Update();
  EXPECT_EQ((std::vector<DWORD>{4, 300, 400, 500, 600, 900, 700}), Pids());
}

TEST_F(ProcessList, ExitsKeepTheOthersAndTheirItems) {
  Start({{10, 0, L"a.exe"}, {20, 10, L"b.exe"}, {30, 10, L"c.exe"}, {40, 10, L"d.exe"}, {50, 10, L"e.exe"}});
  kinetra::_TASKDATASTATIC* d = list_->GetItemStaticData(3);
  kinetra::_TASKDATADYNAMIC* e = list_->GetItemDynamicData(4);
  // Two adjacent exits and one at the end, one newcomer.
  Show({{10, 0, L"a.exe"}, {40, 10, L"d.exe"}, {60, 10, L"f.exe"}});
  list_->Update();
  EXPECT_EQ((std::vector<DWORD>{10, 40, 60}), Pids());
  EXPECT_EQ(d, list_->GetItemStaticData(1));  // the same item, moved down
  EXPECT_STREQ(L"d.exe", list_->GetItemImageName(1));
  EXPECT_STREQ(L"f.exe", list_->GetItemImageName(2));
  // A removed item's records stay readable until the pass after next.
  EXPECT_EQ(50u, e->GetProcessID());
  EXPECT_STREQ(L"C:\\fake\\image.exe", d->GetPathName());
  // All but one gone at once, the first among them.
  Show({{60, 10, L"f.exe"}});
  list_->Update();
  EXPECT_EQ((std::vector<DWORD>{60}), Pids());
  EXPECT_EQ(-1, list_->GetItemByPID(10));
}

TEST_F(ProcessList, ReappearingPidKeepsItsItemUnlessItStartedAnew) {
  fake::Proc a{10, 0, L"a.exe"}, b{20, 10, L"b.exe"}, c{30, 10, L"c.exe"};
  b.createTime = 1000;
  Start({a, b, c});
  kinetra::_TASKDATASTATIC* first = list_->GetItemStaticData(1);
  // The same process (same creation time), or one the snapshot gives no time for.
  list_->Update();
  EXPECT_EQ(first, list_->GetItemStaticData(1));
  fake::Proc bNoTime = b;
  bNoTime.createTime = 0;
  Show({a, bNoTime, c});
  list_->Update();
  EXPECT_EQ(first, list_->GetItemStaticData(1));
  // The PID now names a process started later: a new item, at the end.
  fake::Proc reused{20, 30, L"other.exe"};
  reused.createTime = 5000;
  Show({a, reused, c});
  list_->Update();
  EXPECT_EQ((std::vector<DWORD>{10, 30, 20}), Pids());
  EXPECT_STREQ(L"other.exe", list_->GetItemImageName(2));
  EXPECT_EQ(30u, list_->GetItemParentPID(2));
}

TEST_F(ProcessList, OutOfRangeIndicesGiveFailureValues) {
  Start({{10, 0, L"a.exe"}, {20, 10, L"b.exe"}});
  for (int index : {-1, 2, 1023, 1024, 0x7FFFFFFF}) {
    SCOPED_TRACE(index);
    EXPECT_EQ(0u, list_->GetItemPID(index));
    EXPECT_EQ(0u, list_->GetItemParentPID(index));
    EXPECT_EQ(nullptr, list_->GetItemImageName(index));
    EXPECT_EQ(nullptr, list_->GetItemDisplayName(index));
    EXPECT_EQ(nullptr, list_->GetItemPathName(index));
    EXPECT_EQ(nullptr, list_->GetItemInfoDescription(index));
    EXPECT_EQ(0u, list_->GetItemRAMUsage(index));
    EXPECT_EQ(0u, list_->GetItemHandleCount(index));
    EXPECT_FALSE(list_->GetItemProcessTimesOK(index));
    EXPECT_EQ(0, list_->GetItemCreationTime(index).wYear);
    EXPECT_EQ(nullptr, list_->GetItemStaticData(index));
    EXPECT_EQ(nullptr, list_->GetItemDynamicData(index));
    EXPECT_EQ(0, list_->GetItemImageListIndex(index));
    EXPECT_EQ(nullptr, list_->GetItemIcon(index));
    EXPECT_EQ(nullptr, list_->GetItemIconSmall(index));
    EXPECT_EQ(0, list_->GetItemParentCount(index, 0));
    EXPECT_EQ(0.0, list_->GetItemTreePos(index, 0));
  }
  // Valid items: values of both records, 64-bit memory figures whole.
  EXPECT_EQ(ULONGLONG(20) << 33, list_->GetItemRAMUsage(1));
  EXPECT_EQ(21u, list_->GetItemHandleCount(1));
  EXPECT_STREQ(L"C:\\fake\\image.exe", list_->GetItemPathName(1));
  EXPECT_STREQ(L"b.exe", list_->GetItemDisplayName(1));  // no description: the image name
  EXPECT_EQ(kinetra::GetGenericProgramIcon(FALSE), list_->GetItemIconSmall(1));
  EXPECT_EQ(kinetra::GetGenericProgramIcon(TRUE), list_->GetItemIcon(1));
}

TEST_F(ProcessList, NotInitialisedListAnswersNothing) {
  EXPECT_EQ(0, list_->GetItemCount());
  EXPECT_EQ(-1, list_->GetItemByPID(4));
  EXPECT_EQ(0u, list_->GetItemPID(0));
  EXPECT_FALSE(list_->UpdateProcessList());
}

TEST_F(ProcessList, ReadOnlyMakesReadersTimeOutAfterAbout100ms) {
  Start({{10, 0, L"a.exe"}, {20, 10, L"b.exe"}});
  list_->SetReadOnly(TRUE);
  DWORD t0 = GetTickCount();
  EXPECT_EQ(0, list_->GetItemCount());
  DWORD waited = GetTickCount() - t0;
  EXPECT_GE(waited, 90u);
  EXPECT_LT(waited, 3000u);
  // A time-out is not the valid index 0.
  EXPECT_EQ(-1, list_->GetItemByPID(10));
  EXPECT_EQ(0u, list_->GetItemPID(0));
  list_->SetReadOnly(FALSE);
  EXPECT_EQ(2, list_->GetItemCount());
  EXPECT_EQ(0, list_->GetItemByPID(10));
}

TEST_F(ProcessList, MoreProcessesThanSlotsAreCutVisibly) {
  std::vector<fake::Proc> many;
  for (DWORD i = 0; i < 1030; ++i) many.push_back({8 + 4 * i, 4, L"p.exe"});
  Show(many);
  list_->Init();
  EXPECT_EQ(kProcessTableSlots, list_->GetItemCount());
  EXPECT_TRUE(list_->IsTruncated());
  EXPECT_EQ(8u + 4 * 1023, list_->GetItemPID(1023));
  EXPECT_EQ(0u, list_->GetItemPID(1024));
  list_->Update();
  EXPECT_EQ(kProcessTableSlots, list_->GetItemCount());
}

TEST_F(ProcessList, ParentAgeTestAndTreeOrder) {
  // 100: root; 200 child of 100; 300 child of 200; 400 names 200 as parent but
  // is older than it: 200 is a younger process that got a reused PID.
  ListWorld::created = {{100, 10}, {200, 20}, {300, 30}, {400, 15}};
  Start({{100, 0, L"r.exe"}, {200, 100, L"a.exe"}, {300, 200, L"b.exe"}, {400, 200, L"c.exe"}});
  EXPECT_EQ(200u, list_->GetItemParentPID(2));
  EXPECT_EQ(kinetra::kNoParent, list_->GetItemParentPID(3));
  EXPECT_EQ(0, list_->GetItemParentCount(0, 0));
  EXPECT_EQ(1, list_->GetItemParentCount(1, 0));
  EXPECT_EQ(2, list_->GetItemParentCount(2, 0));
  EXPECT_EQ(0, list_->GetItemParentCount(3, 0));  // placed as a root
  // The keys of few items: root index + index / 100^depth + index / 100^7.
  EXPECT_DOUBLE_EQ(0.0, list_->GetItemTreePos(0, 0));
  EXPECT_DOUBLE_EQ(0.01 + 1e-14, list_->GetItemTreePos(1, 0));
  EXPECT_DOUBLE_EQ((0.01 + 1e-14) + 0.0002 + 2e-14, list_->GetItemTreePos(2, 0));
  EXPECT_DOUBLE_EQ(3.0, list_->GetItemTreePos(3, 0));
}

TEST_F(ProcessList, ParentCycleAndDepthCapThroughTheList) {
  // 10 and 20 name each other as parents (no creation times to tell which is
  // wrong); 30 hangs below the cycle. A chain of 16 below root 100.
  std::vector<fake::Proc> procs = {{10, 20, L"a.exe"}, {20, 10, L"b.exe"}, {30, 20, L"c.exe"}, {100, 0, L"r.exe"}};
  for (DWORD k = 1; k <= 16; ++k) procs.push_back({100 + 4 * k, 100 + 4 * (k - 1), L"p.exe"});
  Start(procs);
  EXPECT_EQ(0, list_->GetItemParentCount(0, 0));
  EXPECT_EQ(0, list_->GetItemParentCount(1, 0));
  EXPECT_EQ(0.0, list_->GetItemTreePos(0, 0));
  EXPECT_EQ(0.0, list_->GetItemTreePos(1, 0));
  EXPECT_EQ(0.0, list_->GetItemTreePos(2, 0));
  EXPECT_EQ(12, list_->GetItemParentCount(15, 0));
  EXPECT_EQ(13, list_->GetItemParentCount(19, 0));  // the count stops at 13 levels
  // Whatever the caps do, every item of the chain still sorts after its parent.
  for (int i = 4; i < 20; ++i) EXPECT_LT(list_->GetItemTreePos(i - 1, 0), list_->GetItemTreePos(i, 0)) << i;
}

// The tree order the list gives, as indices sorted by key.
std::vector<int> TreeOrder(TL_PROCESSLIST& list) {
  std::vector<int> order(list.GetItemCount());
  for (size_t i = 0; i < order.size(); ++i) order[i] = int(i);
  std::vector<double> keys(order.size());
  for (size_t i = 0; i < order.size(); ++i) keys[i] = list.GetItemTreePos(int(i), 0);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return keys[a] < keys[b]; });
  return order;
}

TEST_F(ProcessList, TreeOrderOf150ProcessesInADeepTree) {
  // Ten chains of depth up to 8 hanging off one root, interleaved in the
  // snapshot, so children lie at indices far beyond 100.
  std::vector<fake::Proc> procs = {{4, 0, L"root.exe"}};
  std::map<DWORD, std::vector<DWORD>> children;
  std::vector<DWORD> last(10, 4);
  for (DWORD i = 1; i < 150; ++i) {
    DWORD chain = i % 10;
    DWORD pid = 4 + 4 * i;
    DWORD parent = (i / 10) % 8 == 0 ? 4 : last[chain];
    procs.push_back({pid, parent, L"p.exe"});
    children[parent].push_back(pid);
    last[chain] = pid;
  }
  Start(procs);
  ASSERT_EQ(150, list_->GetItemCount());
  // Expected: each parent followed by its children in index order, each child
  // followed by its own subtree.
  std::vector<DWORD> expected;
  std::vector<DWORD> stack = {4};
  while (!stack.empty()) {
    DWORD pid = stack.back();
    stack.pop_back();
    expected.push_back(pid);
    const std::vector<DWORD>& c = children[pid];
    for (auto it = c.rbegin(); it != c.rend(); ++it) stack.push_back(*it);
  }
  std::vector<DWORD> got;
  for (int i : TreeOrder(*list_)) got.push_back(list_->GetItemPID(i));
  EXPECT_EQ(expected, got);
  for (int i = 0; i < 150; ++i) {
    DWORD parent = list_->GetItemParentPID(i);
    int p = list_->GetItemByPID(parent);
    int expectDepth = p < 0 ? 0 : 1 + list_->GetItemParentCount(p, 0);
    EXPECT_EQ(std::min(expectDepth, 12), list_->GetItemParentCount(i, 0)) << i;
  }
}

TEST_F(ProcessList, RemovedItemsLoseTheirIconsAndTheirImageListEntries) {
  ListWorld::makeIcons = true;
  Start({{10, 0, L"a.exe"}, {20, 10, L"b.exe"}});
  ASSERT_EQ(4u, ListWorld::icons.size());
  EXPECT_GT(list_->GetItemImageListIndex(1), 0);
  int entries = ImageList_GetImageCount(list_->GetImageList());
  EXPECT_EQ(3, entries);  // the generic icon and one per item
  HICON small = list_->GetItemIconSmall(1);
  EXPECT_EQ(ListWorld::icons[1], small);  // the newest items get theirs first
  ICONINFO ii;
  // Process 20 ends; its item is kept through that pass and the next, then destroyed.
  Show({{10, 0, L"a.exe"}});
  for (int pass = 0; pass < 2; ++pass) {
    list_->Update();
    ASSERT_TRUE(GetIconInfo(small, &ii)) << pass;
    DeleteObject(ii.hbmColor);
    DeleteObject(ii.hbmMask);
  }
  list_->Update();
  EXPECT_FALSE(GetIconInfo(small, &ii));
  // New processes keep coming and going: the image list does not grow with them.
  for (DWORD round = 0; round < 20; ++round) {
    Show({{10, 0, L"a.exe"}, {100 + round * 4, 10, L"n.exe"}});
    list_->Update();
  }
  EXPECT_LE(ImageList_GetImageCount(list_->GetImageList()), entries + 2);
  EXPECT_GT(list_->GetItemImageListIndex(1), 0);
}

}  // namespace

// ---- threads ------------------------------------------------------------------------

namespace {

class ProcessListThreaded : public ProcessList {};

TEST_F(ProcessListThreaded, CollectorKeepsTheListAndStopsOnRequest) {
  Show({{10, 0, L"a.exe"}, {20, 10, L"b.exe"}});
  list_->Init();
  Show({{10, 0, L"a.exe"}, {20, 10, L"b.exe"}, {30, 10, L"c.exe"}});
  list_->SetUpdateInterval(5);
  EXPECT_EQ(5u, list_->GetUpdateInterval());
  ASSERT_TRUE(list_->StartDataThread());
  EXPECT_FALSE(list_->StartDataThread());  // one collector
  // No event tells of a pass from outside: look for the new process a while.
  DWORD t0 = GetTickCount();
  while (list_->GetItemByPID(30) < 0 && GetTickCount() - t0 < 20000) Sleep(5);
  EXPECT_EQ(2, list_->GetItemByPID(30));
  EXPECT_TRUE(list_->StopDataThread());
  EXPECT_TRUE(list_->StopDataThread());
  EXPECT_EQ(3, list_->GetItemCount());
}

struct Hammer {
  TL_PROCESSLIST* list;
  volatile LONG stop;
  volatile LONG reads;
};

DWORD WINAPI ReadAll(LPVOID p) {
  Hammer* h = static_cast<Hammer*>(p);
  wchar_t copy[256];
  while (!h->stop) {
    int n = h->list->GetItemCount();
    for (int i = 0; i < n; ++i) {
      const wchar_t* name = h->list->GetItemImageName(i);
      if (name) quarl::CopyW(copy, 256, name);
      kinetra::_TASKDATASTATIC* s = h->list->GetItemStaticData(i);
      if (s) quarl::CopyW(copy, 256, s->GetPathName());
      h->list->GetItemTreePos(i, 0);
      h->list->GetItemParentPID(i);
    }
    InterlockedIncrement(&h->reads);
  }
  return 0;
}

TEST_F(ProcessListThreaded, ReadersDuringPassesThatRemoveAndAdd) {
  ListWorld::makeIcons = true;
  Start({{4, 0, L"root.exe"}});
  Hammer h{list_.get(), 0, 0};
  HANDLE readers[2];
  for (HANDLE& r : readers) r = CreateThread(nullptr, 0, ReadAll, &h, 0, nullptr);
  for (DWORD round = 0; round < 60; ++round) {
    std::vector<fake::Proc> procs = {{4, 0, L"root.exe"}};
    for (DWORD k = 0; k < 30; ++k)
      if ((k + round) % 3) procs.push_back({8 + 4 * (k + round % 7), 4, L"p.exe"});
    Show(procs);
    list_->Update();
  }
  h.stop = 1;
  WaitForMultipleObjects(2, readers, TRUE, INFINITE);
  for (HANDLE r : readers) CloseHandle(r);
  EXPECT_GT(h.reads, 0);
}

}  // namespace

// ---- live processes ---------------------------------------------------------------

namespace {

// Starts this test program as a waiting child ("wait" role) and waits until it runs.
std::unique_ptr<testutil::Child> StartIdleChild(int n) {
  std::wstring name = testutil::BitnessName((L"lk-pslist-ready-" + std::to_wstring(n)).c_str());
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  auto child = std::make_unique<testutil::Child>();
  bool ok = child->Start(L"wait", name.c_str());
  HANDLE both[2] = {ready, child->Handle()};
  ok = ok && WaitForMultipleObjects(2, both, FALSE, 300000) == WAIT_OBJECT_0;
  CloseHandle(ready);
  if (!ok) child.reset();
  return child;
}

std::set<DWORD> ListPids(TL_PROCESSLIST& list) {
  std::set<DWORD> out;
  for (int i = 0; i < list.GetItemCount(); ++i) out.insert(list.GetItemPID(i));
  return out;
}

std::set<DWORD> SnapshotPids() {
  static TL_PROCESSNULLLIST table;
  std::set<DWORD> out;
  if (!table.Create()) return out;
  for (int i = 0; i < table.GetItemCount(); ++i) out.insert(table.GetItemPID(i));
  return out;
}

// The list after a pass equals a snapshot taken right after it; other programs
// of the session may start or end in between, so a few tries.
bool ListMatchesSnapshot(TL_PROCESSLIST& list) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    list.Update();
    if (ListPids(list) == SnapshotPids()) return true;
  }
  return false;
}

TEST(ProcessListSpawn, ChildrenThatStartAndEndBetweenPasses) {
  static TL_PROCESSLIST list;
  list.Init();
  ASSERT_GT(list.GetItemCount(), 0);
  EXPECT_GE(list.GetItemByPID(GetCurrentProcessId()), 0);
  std::vector<std::unique_ptr<testutil::Child>> children;
  int started = 0;
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    for (int k = 0; k < 3; ++k) {
      children.push_back(StartIdleChild(started++));
      ASSERT_TRUE(children.back());
    }
    // End the oldest two (by their handles) before the pass sees the new ones.
    std::vector<DWORD> ended;
    for (int k = 0; k < 2 && children.size() > 1; ++k) {
      ended.push_back(children.front()->Pid());
      TerminateProcess(children.front()->Handle(), 0);
      children.front()->WaitExit(30000);
      children.erase(children.begin());
    }
    ASSERT_TRUE(ListMatchesSnapshot(list));
    for (auto& c : children) {
      int at = list.GetItemByPID(c->Pid());
      ASSERT_GE(at, 0);
      EXPECT_EQ(GetCurrentProcessId(), list.GetItemParentPID(at));
      EXPECT_GE(list.GetItemParentCount(at, 0), 1);
      // Counters and times taken from the pass's snapshot.
      EXPECT_TRUE(list.GetItemProcessTimesOK(at));
      EXPECT_EQ(DWORD(NORMAL_PRIORITY_CLASS), list.GetItemProcessPriority(at));
      EXPECT_GT(list.GetItemDynamicData(at)->GetPhysicalMemoryBytes(), 0u);
    }
    for (DWORD pid : ended) {
      int at = list.GetItemByPID(pid);
      // A reused PID is another process; ours must not be there as our child.
      if (at >= 0) {
        EXPECT_NE(GetCurrentProcessId(), list.GetItemParentPID(at));
      }
    }
  }
}

}  // namespace
