#include "larkon/shell/processview.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using larkon::PROCESSROW;

namespace {

std::wstring Cell(int column, const PROCESSROW& row, BOOL blankZero) {
  wchar_t buf[512];
  larkon::FormatProcessCell(column, row, blankZero, L"%.2d/%.2d/%.4d %.2d:%.2d:%.2d", buf, 512);
  return buf;
}

TEST(ProcessCells, BlankZeroAndUnits) {
  struct Case {
    int column;
    ULONGLONG value;
    BOOL blank;
    const wchar_t* want;
  } cases[] = {
      {1, 0, TRUE, L""},          {1, 0, FALSE, L"0 %"},        {1, 37, TRUE, L"37 %"},
      {2, 0, TRUE, L""},          {2, 0, FALSE, L"0 KB/s"},     {2, 512, TRUE, L"0.5 KB/s"},
      {2, 1024, TRUE, L"1.0 KB/s"}, {2, 2048, TRUE, L"2 KB/s"}, {2, 512, FALSE, L"0 KB/s"},
      {2, 5000000000ull, TRUE, L"4882812 KB/s"},  // beyond 32 bits: unsigned and whole
      {3, 0, TRUE, L""},          {3, 0, FALSE, L"0 KB"},       {3, 4096, TRUE, L"4 KB"},
      {3, 6ull << 32, TRUE, L"25165824 KB"},
  };
  for (const Case& c : cases) {
    PROCESSROW row = {};
    if (c.column == 1) row.cpuUsage = DWORD(c.value);
    if (c.column == 2) row.ioBytes = c.value;
    if (c.column == 3) row.ramBytes = c.value;
    EXPECT_EQ(c.want, Cell(c.column, row, c.blank)) << c.column << " " << c.value << " " << c.blank;
  }
}

TEST(ProcessCells, TextsTimesAndCounts) {
  PROCESSROW row = {};
  // Texts the list does not have (null) are empty cells.
  for (int column : {0, 4, 5, 6, 9}) EXPECT_EQ(L"", Cell(column, row, TRUE)) << column;
  for (WORD year : {0, 1601}) {
    row.created.wYear = year;
    EXPECT_EQ(L"", Cell(8, row, TRUE)) << year;
  }
  row.created = {2026, 12, 5, 11, 9, 5, 7, 0};
  EXPECT_EQ(L"11/12/2026 09:05:07", Cell(8, row, TRUE));
  row.pid = 4000000000u;
  row.handles = 123;
  row.userObjects = 0;
  row.gdiObjects = 9;
  EXPECT_EQ(L"4000000000", Cell(7, row, TRUE));
  EXPECT_EQ(L"123", Cell(10, row, TRUE));
  EXPECT_EQ(L"0", Cell(11, row, TRUE));  // counts are never blanked
  EXPECT_EQ(L"9", Cell(12, row, TRUE));
  row.imageName = L"probe.exe";
  row.path = L"C:\\tools\\probe.exe";
  EXPECT_EQ(L"probe.exe", Cell(0, row, TRUE));
  EXPECT_EQ(L"C:\\tools\\probe.exe", Cell(6, row, TRUE));
  wchar_t small[5];
  larkon::FormatProcessCell(6, row, TRUE, nullptr, small, 5);
  EXPECT_STREQ(L"C:\\t", small);
}

// Three rows of a fake snapshot; every mode sorts them by its key, reverse
// turns the order round, and equal keys compare equal.
TEST(ProcessSort, EveryModeAndItsReverse) {
  std::vector<PROCESSROW> rows(3);
  const wchar_t* names[] = {L"beta.exe", L"Alpha.exe", L"gamma.exe"};
  for (DWORD i = 0; i < 3; ++i) {
    PROCESSROW& r = rows[i];
    r.index = i;
    r.pid = 100 - i * 10;
    r.imageName = names[i];
    r.cpuUsage = i * 5;
    r.ramBytes = (3 - i) * 1000;
    r.description = i == 1 ? nullptr : names[2 - i];
    r.company = names[(i + 1) % 3];
    r.path = names[(i + 2) % 3];
    r.user = names[i];
    r.handles = i == 2 ? 7 : 50;
    r.userObjects = i;
    r.gdiObjects = 10 - i;
    r.treePos = i == 0 ? 2.0 : (i == 1 ? 0.0 : 1.07);
  }
  // The expected order by index, per mode (null description first: empty).
  struct Case {
    DWORD mode;
    std::vector<DWORD> order;
  } cases[] = {
      {0, {2, 1, 0}},  {1, {1, 2, 0}},  {2, {1, 0, 2}},  {3, {2, 1, 0}},  {4, {0, 1, 2}},
      {5, {1, 2, 0}},  {6, {0, 2, 1}},  {7, {2, 1, 0}},  {8, {2, 1, 0}},  {9, {1, 0, 2}},
      {11, {2, 1, 0}}, {12, {0, 1, 2}},
  };
  for (const Case& c : cases) {
    for (BOOL reverse : {FALSE, TRUE}) {
      std::vector<PROCESSROW> sorted = rows;
      std::stable_sort(sorted.begin(), sorted.end(), [&](const PROCESSROW& a, const PROCESSROW& b) {
        return larkon::CompareProcessRows(c.mode, reverse, a, b) < 0;
      });
      std::vector<DWORD> got;
      for (const PROCESSROW& r : sorted) got.push_back(r.index);
      std::vector<DWORD> want = c.order;
      if (reverse) std::reverse(want.begin(), want.end());
      EXPECT_EQ(want, got) << "mode " << c.mode << (reverse ? " reversed" : "");
      EXPECT_FALSE(larkon::ProcessRowsNeedSort(c.mode, reverse, sorted.data(), sorted.size()));
    }
  }
  // Handle counts 50, 50, 7: the equal pair compares 0 either way.
  EXPECT_EQ(0, larkon::CompareProcessRows(10, FALSE, rows[0], rows[1]));
  EXPECT_EQ(0, larkon::CompareProcessRows(10, TRUE, rows[0], rows[1]));
  EXPECT_EQ(-1, larkon::CompareProcessRows(10, FALSE, rows[0], rows[2]));
  // Out of order in the last pair only.
  std::vector<PROCESSROW> lastPair = {rows[2], rows[1], rows[0]};  // mode 8: PIDs 80, 90, 100 in order
  EXPECT_FALSE(larkon::ProcessRowsNeedSort(8, FALSE, lastPair.data(), 3));
  std::swap(lastPair[1], lastPair[2]);
  EXPECT_TRUE(larkon::ProcessRowsNeedSort(8, FALSE, lastPair.data(), 3));
  EXPECT_FALSE(larkon::ProcessRowsNeedSort(8, FALSE, lastPair.data(), 1));  // one row: nothing to sort
  EXPECT_FALSE(larkon::ProcessRowsNeedSort(8, FALSE, nullptr, 0));
}

TEST(ProcessSort, ColumnClicks) {
  DWORD mode = 1;
  BOOL reverse = FALSE;
  // Column 0 from the tree: name, name reversed, the tree again.
  DWORD wantModes[] = {2, 2, 1};
  BOOL wantReverse[] = {FALSE, TRUE, FALSE};
  for (int k = 0; k < 3; ++k) {
    EXPECT_TRUE(larkon::ApplyColumnClick(0, &mode, &reverse));
    EXPECT_EQ(wantModes[k], mode);
    EXPECT_EQ(wantReverse[k], reverse);
  }
  // CPU twice: descending, then reversed; then the PID column keeps the flag.
  EXPECT_TRUE(larkon::ApplyColumnClick(1, &mode, &reverse));
  EXPECT_EQ(3u, mode);
  EXPECT_FALSE(reverse);
  EXPECT_TRUE(larkon::ApplyColumnClick(1, &mode, &reverse));
  EXPECT_TRUE(reverse);
  EXPECT_TRUE(larkon::ApplyColumnClick(7, &mode, &reverse));
  EXPECT_EQ(8u, mode);
  EXPECT_TRUE(reverse);
  // Column 0 from any state but the three: the tree, unreversed.
  EXPECT_TRUE(larkon::ApplyColumnClick(0, &mode, &reverse));
  EXPECT_EQ(1u, mode);
  EXPECT_FALSE(reverse);
  // The I/O column and unknown columns change nothing.
  EXPECT_FALSE(larkon::ApplyColumnClick(2, &mode, &reverse));
  EXPECT_FALSE(larkon::ApplyColumnClick(13, &mode, &reverse));
  EXPECT_FALSE(larkon::ApplyColumnClick(-1, &mode, &reverse));
  EXPECT_EQ(1u, mode);
  int columns[] = {3, 4, 5, 6, 8, 9, 10, 11, 12};
  DWORD modes[] = {4, 5, 6, 7, 0, 9, 10, 11, 12};
  for (int k = 0; k < 9; ++k) {
    larkon::ApplyColumnClick(columns[k], &mode, &reverse);
    EXPECT_EQ(modes[k], mode) << columns[k];
  }
}

TEST(MainLayout, RectanglesAndThresholds) {
  struct Case {
    RECT client;
    int toolbar;
    BOOL panel, right;
    RECT list;
  } cases[] = {
      {{0, 0, 800, 600}, 0, TRUE, TRUE, {2, 3, 796, 390}},
      {{0, 0, 800, 600}, 40, TRUE, TRUE, {2, 43, 796, 350}},
      {{0, 0, 599, 600}, 0, TRUE, FALSE, {2, 3, 595, 390}},
      {{0, 0, 800, 439}, 40, FALSE, FALSE, {2, 43, 796, 369}},  // 399 high below the toolbar
      {{0, 0, 800, 440}, 40, TRUE, TRUE, {2, 43, 796, 190}},
  };
  for (const auto& c : cases) {
    larkon::MAINLAYOUT l = larkon::ComputeMainLayout(c.client, c.toolbar);
    SCOPED_TRACE(testing::Message() << c.client.right << "x" << c.client.bottom << " toolbar " << c.toolbar);
    EXPECT_EQ(c.panel, l.showPanel);
    EXPECT_EQ(c.right, l.showPanelRight);
    EXPECT_EQ(c.list.left, l.list.left);
    EXPECT_EQ(c.list.top, l.list.top);
    EXPECT_EQ(c.list.right, l.list.right);
    EXPECT_EQ(c.list.bottom, l.list.bottom);
    EXPECT_EQ(11, l.panel.left);
    EXPECT_EQ(c.client.bottom - 192, l.panel.top);
    EXPECT_EQ(c.client.right - 22, l.panel.right);
    EXPECT_EQ(161, l.panel.bottom);
  }
}

TEST(MainLayout, SizingStopsAtTheMinimumOnTheDraggedEdge) {
  struct Case {
    WPARAM edge;
    RECT in, out;
  } cases[] = {
      {WMSZ_RIGHT, {100, 100, 300, 500}, {100, 100, 450, 500}},
      {WMSZ_LEFT, {100, 100, 300, 500}, {-50, 100, 300, 500}},
      {WMSZ_BOTTOM, {100, 100, 600, 200}, {100, 100, 600, 400}},
      {WMSZ_TOP, {100, 100, 600, 200}, {100, -100, 600, 200}},
      {WMSZ_TOPLEFT, {100, 100, 200, 200}, {-150, -100, 200, 200}},
      {WMSZ_BOTTOMRIGHT, {100, 100, 200, 200}, {100, 100, 450, 400}},
      {WMSZ_BOTTOMLEFT, {100, 100, 200, 200}, {-150, 100, 200, 400}},
      {WMSZ_TOPRIGHT, {100, 100, 200, 200}, {100, -100, 450, 200}},
      {WMSZ_RIGHT, {0, 0, 800, 600}, {0, 0, 800, 600}},  // large enough: untouched
  };
  for (const auto& c : cases) {
    RECT r = c.in;
    larkon::LimitMainSizing(c.edge, &r);
    EXPECT_TRUE(EqualRect(&r, &c.out)) << c.edge << ": " << r.left << "," << r.top << "," << r.right << "," << r.bottom;
  }
}

TEST(MainWindowTables, FollowersAndTheSelectionMark) {
  HWND table[larkon::kMaxRegisteredWindows] = {};
  DWORD count = 0;
  for (ULONG_PTR i = 1; i <= 128; ++i) ASSERT_TRUE(larkon::RegisterFollower(table, &count, HWND(i)));
  EXPECT_FALSE(larkon::RegisterFollower(table, &count, HWND(ULONG_PTR(999))));  // the 129th
  EXPECT_EQ(128u, count);
  larkon::UnregisterFollower(table, &count, HWND(ULONG_PTR(5)));
  EXPECT_EQ(127u, count);
  EXPECT_EQ(HWND(ULONG_PTR(128)), table[4]);  // the last entry took its place
  larkon::UnregisterFollower(table, &count, HWND(ULONG_PTR(999)));  // not registered
  EXPECT_EQ(127u, count);
  for (ULONG_PTR i = 1; i <= 128; ++i)
    EXPECT_EQ(i != 5, std::find(table, table + count, HWND(i)) != table + count) << i;

  struct Case {
    int mark, rows, want;
  } marks[] = {{-1, 5, 2}, {-1, 3, 2}, {-1, 2, -1}, {-1, 0, -1}, {0, 1, 0}, {4, 5, 4}, {5, 5, -1}};
  for (const auto& m : marks) EXPECT_EQ(m.want, larkon::EffectiveMarkRow(m.mark, m.rows)) << m.mark << "/" << m.rows;
}

}  // namespace

namespace {

TEST(ProcessRows, RefreshPlanAsADiff) {
  struct Case {
    std::vector<DWORD> rows, list;
    std::vector<int> deleted;
    std::vector<DWORD> inserted;
  } cases[] = {
      {{}, {}, {}, {}},
      {{}, {8, 12, 16}, {}, {8, 12, 16}},
      {{8, 12, 16, 20}, {8, 20}, {2, 1}, {}},          // two neighbours end in one pass
      {{8, 12, 16, 20}, {}, {3, 2, 1, 0}, {}},
      {{8, 12}, {12, 8, 24, 4}, {}, {24, 4}},          // new processes in list order
      {{8, 12, 8}, {8, 12}, {2}, {}},                   // a stray second row goes
      {{8, 12}, {8, 12}, {}, {}},                        // a reused PID keeps its row
      {{16, 8, 12}, {12, 40, 16}, {1}, {40}},
  };
  for (const Case& c : cases) {
    larkon::ROWPLAN plan = larkon::PlanRowUpdate(c.rows, c.list);
    EXPECT_EQ(c.deleted, plan.deleteRows);
    EXPECT_EQ(c.inserted, plan.insertPids);
  }
}

}  // namespace
