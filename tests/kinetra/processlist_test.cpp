#include "kinetra/processlist.h"
#include "kinetra/tasklist.h"

#include <gtest/gtest.h>

#include <string>

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
