#include "larkon/shell/processview.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <string>
#include <utility>
#include <vector>

#include "larkon/shell/startup.h"
#include "quarl/regoptions.h"
#include "resources/larkon_ids.h"
#include "tests/common/testutil.h"

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
  // A window without a panel gives the list the panel's share at any height.
  larkon::MAINLAYOUT bare = larkon::ComputeMainLayout({0, 0, 800, 600}, 0, FALSE);
  EXPECT_FALSE(bare.showPanel);
  EXPECT_FALSE(bare.showPanelRight);
  EXPECT_EQ(570, bare.list.bottom);
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

// ---- the list view control under the test display ------------------------------

namespace {

// A process list that is whatever the test says.
class FakeRows final : public larkon::PROCESSROWSOURCE {
 public:
  std::vector<PROCESSROW> rows;
  int Count() override { return int(rows.size()); }
  BOOL Read(int index, PROCESSROW* row) override {
    *row = rows[size_t(index)];
    row->index = DWORD(index);
    return TRUE;
  }
  PROCESSROW& Add(DWORD pid, const wchar_t* name, DWORD cpu = 0) {
    PROCESSROW r = {};
    r.pid = pid;
    r.imageName = name;
    r.cpuUsage = cpu;
    r.treePos = double(rows.size());
    rows.push_back(r);
    return rows.back();
  }
};

// The list view messages that change rows, counted on their way in.
struct MessageCounts {
  int sorts = 0, texts = 0, items = 0, inserts = 0, deletes = 0;
};
MessageCounts* g_counts;

LRESULT CALLBACK CountingProc(HWND w, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR) {
  if (g_counts) {
    switch (msg) {
      case LVM_SORTITEMS:
      case LVM_SORTITEMSEX: ++g_counts->sorts; break;
      case LVM_SETITEMTEXTW: ++g_counts->texts; break;
      case LVM_SETITEMW: ++g_counts->items; break;
      case LVM_INSERTITEMW: ++g_counts->inserts; break;
      case LVM_DELETEITEM: ++g_counts->deletes; break;
    }
  }
  return DefSubclassProc(w, msg, wp, lp);
}

class ProcessListWindow : public testing::Test {
 protected:
  void SetUp() override {
    const std::wstring exe = testutil::SelfDir() + (sizeof(void*) == 4 ? L"Larkon.exe" : L"larkon64.exe");
    module_ = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module_);
    code_ = testutil::BitnessName(L"larkon_listview_test");
    key_ = L"Software\\Quenby Software\\" + code_;
    RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
    ASSERT_TRUE(regOptions.Init(HKEY_CURRENT_USER, key_.c_str()));
    larkon::g_langModule.Init(module_, L"Larkspan", code_.c_str(), 1033);
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&icc);
    frame_ = CreateWindowExW(0, L"STATIC", L"list", WS_OVERLAPPEDWINDOW, 0, 0, 600, 400, nullptr, nullptr, nullptr,
                             nullptr);
    ASSERT_NE(nullptr, frame_);
    OpenList();
  }
  void OpenList() {
    list_ = CreateWindowExW(0, WC_LISTVIEWW, L"",
                            WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
                                LVS_SHAREIMAGELISTS,
                            0, 0, 580, 380, frame_, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, list_);
    view_ = {};
    view_.sortMode = 8;
    larkon::SetUpProcessListView(&view_, list_, nullptr);
    SetWindowSubclass(list_, CountingProc, 1, 0);
    g_counts = &counts_;
  }
  void TearDown() override {
    g_counts = nullptr;
    if (frame_) DestroyWindow(frame_);
    if (HKEY k = larkon::g_langModule.GetKey()) RegCloseKey(k);
    larkon::g_langModule = UIL_LANGMODULE();
    RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
    if (module_) FreeLibrary(module_);
  }
  larkon::VIEWREFRESH Refresh(BOOL blankZero = TRUE) {
    counts_ = {};
    return larkon::RefreshProcessListView(&view_, &rows_, blankZero);
  }
  std::wstring Text(int row, int column) {
    wchar_t buf[600] = L"";
    ListView_GetItemText(list_, row, column, buf, 600);
    return buf;
  }
  // One column of every row, top to bottom.
  std::vector<std::wstring> Column(int column) {
    std::vector<std::wstring> out;
    for (int r = 0; r < ListView_GetItemCount(list_); ++r) out.push_back(Text(r, column));
    return out;
  }
  int Indent(int row) {
    LVITEMW item = {};
    item.mask = LVIF_INDENT;
    item.iItem = row;
    ListView_GetItem(list_, &item);
    return item.iIndent;
  }
  HMODULE module_ = nullptr;
  std::wstring code_, key_;
  HWND frame_ = nullptr, list_ = nullptr;
  larkon::_PROCESSLISTVIEW view_ = {};
  FakeRows rows_;
  MessageCounts counts_;
};

using Strings = std::vector<std::wstring>;

// The main menu of the module's language: no two items of one popup share an
// access key, and the View menu has the places its items are rewritten at.
void ExpectMainMenuShape(HMENU bar, const char* language) {
  ASSERT_NE(nullptr, bar) << language;
  std::vector<HMENU> popups = {bar};
  for (size_t p = 0; p < popups.size(); ++p) {
    std::wstring keys;
    for (int i = 0; i < GetMenuItemCount(popups[p]); ++i) {
      if (HMENU sub = GetSubMenu(popups[p], i)) popups.push_back(sub);
      wchar_t text[128] = L"";
      GetMenuStringW(popups[p], UINT(i), text, 128, MF_BYPOSITION);
      const wchar_t* amp = wcschr(text, L'&');
      if (!amp || !amp[1]) continue;
      wchar_t key = wchar_t(towupper(amp[1]));
      EXPECT_EQ(std::wstring::npos, keys.find(key)) << language << ": " << std::string(1, char(key)) << " twice";
      keys += key;
    }
  }
  HMENU view = GetSubMenu(bar, 1);
  EXPECT_NE(nullptr, GetSubMenu(view, 0)) << language;
  EXPECT_NE(nullptr, GetSubMenu(view, 1)) << language;
  EXPECT_EQ(UINT(IDM_TOPMOST), GetMenuItemID(view, 3)) << language;
}

TEST_F(ProcessListWindow, RowsReadBackAndAnOrderedListIsLeftAlone) {
  std::wstring longPath(400, L'p');
  rows_.Add(12, L"alpha.exe", 3).path = longPath.c_str();
  rows_.Add(4, L"beta.exe");
  rows_.Add(40, L"gamma.exe", 50).ramBytes = 8192;
  larkon::VIEWREFRESH r = Refresh();
  EXPECT_EQ(3, r.added);
  EXPECT_TRUE(r.sorted);  // new rows come in at the top, the sort puts them in place
  EXPECT_EQ(1, counts_.sorts);
  EXPECT_EQ((Strings{L"4", L"12", L"40"}), Column(7));
  EXPECT_EQ((Strings{L"beta.exe", L"alpha.exe", L"gamma.exe"}), Column(0));
  EXPECT_EQ((Strings{L"", L"3 %", L"50 %"}), Column(1));
  EXPECT_EQ((Strings{L"", L"", L"8 KB"}), Column(3));
  EXPECT_EQ(longPath, Text(1, 6));

  // Nothing changed: no sort, no text, no image or indent written.
  r = Refresh();
  EXPECT_FALSE(r.sorted);
  EXPECT_EQ(0, r.added + r.removed);
  EXPECT_EQ(0, counts_.sorts + counts_.texts + counts_.items);

  // One figure changes: one cell is written, the order stays.
  rows_.rows[0].cpuUsage = 7;
  r = Refresh();
  EXPECT_EQ(1, counts_.texts);
  EXPECT_FALSE(r.sorted);
  EXPECT_EQ(L"7 %", Text(1, 1));

  // Only an image changes: one item write, and the row shows it.
  rows_.rows[1].imageIndex = 3;
  Refresh();
  EXPECT_EQ(1, counts_.items);
  LVITEMW img = {};
  img.mask = LVIF_IMAGE;
  img.iItem = 0;
  ListView_GetItem(list_, &img);
  EXPECT_EQ(3, img.iImage);

  // BlankZero off shows the zeros.
  Refresh(FALSE);
  EXPECT_EQ((Strings{L"0 %", L"7 %", L"50 %"}), Column(1));
}

TEST_F(ProcessListWindow, EndedNeighboursGoInOnePassAndAReusedPidShowsItsNewProcess) {
  for (DWORD pid : {8u, 12u, 16u, 20u, 24u}) rows_.Add(pid, L"old.exe");
  Refresh();
  // 12 and 16 end together, 20 is reused by another program, 28 starts.
  rows_.rows = {rows_.rows[0], rows_.rows[3], rows_.rows[4]};
  rows_.rows[1].imageName = L"new.exe";
  rows_.Add(28, L"late.exe");
  larkon::VIEWREFRESH r = Refresh();
  EXPECT_EQ(2, r.removed);
  EXPECT_EQ(2, counts_.deletes);
  EXPECT_EQ(1, r.added);
  EXPECT_EQ((Strings{L"8", L"20", L"24", L"28"}), Column(7));
  EXPECT_EQ((Strings{L"old.exe", L"new.exe", L"old.exe", L"late.exe"}), Column(0));

  rows_.rows.clear();
  r = Refresh();
  EXPECT_EQ(4, r.removed);
  EXPECT_EQ(0, ListView_GetItemCount(list_));
  EXPECT_EQ(larkon::kNoProcess, larkon::GetSelectedProcessID(list_));
}

TEST_F(ProcessListWindow, TreeIndentsAndSortChanges) {
  // A root with a child and a grandchild, and a second root, in tree order.
  rows_.Add(4, L"root.exe").parentCount = 0;
  rows_.Add(30, L"child.exe", 9).parentCount = 1;
  rows_.Add(31, L"grandchild.exe", 1).parentCount = 2;
  rows_.Add(8, L"other.exe", 5).parentCount = 0;
  view_.sortMode = larkon::kSortTree;
  Refresh();
  EXPECT_EQ((Strings{L"4", L"30", L"31", L"8"}), Column(7));
  EXPECT_EQ(1, Indent(1));
  EXPECT_EQ(2, Indent(2));

  // Out of the tree: the indents go, each written once.
  view_.sortMode = 3;  // CPU, highest first
  Refresh();
  EXPECT_EQ((Strings{L"30", L"8", L"31", L"4"}), Column(7));
  EXPECT_EQ(2, counts_.items);
  for (int row = 0; row < 4; ++row) EXPECT_EQ(0, Indent(row)) << row;
  view_.reverse = TRUE;
  Refresh();
  EXPECT_EQ((Strings{L"4", L"31", L"8", L"30"}), Column(7));

  // The selection: row 2 when nothing is marked.
  EXPECT_EQ(8u, larkon::GetSelectedProcessID(list_));
  ListView_SetSelectionMark(list_, 0);
  EXPECT_EQ(4u, larkon::GetSelectedProcessID(list_));
}

TEST_F(ProcessListWindow, ASingleRowNeedsNoSort) {
  rows_.Add(5, L"only.exe");
  EXPECT_FALSE(Refresh().sorted);
  EXPECT_EQ(0, counts_.sorts);
  EXPECT_EQ(larkon::kNoProcess, larkon::GetSelectedProcessID(list_));  // row 2 does not exist
}

TEST_F(ProcessListWindow, HeadersAndTheStoredColumnOrder) {
  HWND header = ListView_GetHeader(list_);
  EXPECT_EQ(larkon::kProcessColumns, Header_GetItemCount(header));
  auto headerText = [&](int column) {
    wchar_t buf[64] = L"";
    HDITEMW item = {};
    item.mask = HDI_TEXT;
    item.pszText = buf;
    item.cchTextMax = 64;
    Header_GetItem(header, column, &item);
    return std::wstring(buf);
  };
  EXPECT_EQ(L"Process", headerText(0));
  EXPECT_EQ(L"I/O", headerText(2));
  EXPECT_EQ(L"GDI Objects", headerText(12));
  HMENU english = larkon::g_langModule.LoadLangMenu(IDM_MAIN);
  ExpectMainMenuShape(english, "English");
  DestroyMenu(english);

  struct Case {
    std::vector<int> stored;
    bool applied;
  } cases[] = {
      {{12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0}, true},
      {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, false},         // 48 bytes
      {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false},        // a column shown 13 times
      {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13}, false},     // no such column
  };
  for (const Case& c : cases) {
    regOptions.SetOptionBINARY(L"TaskListColumns", c.stored.data(), DWORD(c.stored.size() * sizeof(int)));
    DestroyWindow(list_);
    OpenList();
    int order[larkon::kProcessColumns] = {};
    ListView_GetColumnOrderArray(list_, larkon::kProcessColumns, order);
    EXPECT_EQ(c.applied ? 12 : 0, order[0]) << c.stored.size();
    EXPECT_EQ(c.applied ? 0 : 12, order[12]) << c.stored.size();
  }
  larkon::RestoreProcessColumns(&view_);
  int order[larkon::kProcessColumns] = {};
  ListView_GetColumnOrderArray(list_, larkon::kProcessColumns, order);
  for (int i = 0; i < larkon::kProcessColumns; ++i) EXPECT_EQ(i, order[i]);
}

TEST_F(ProcessListWindow, GermanHeadersAndMenus) {
  if (HKEY k = larkon::g_langModule.GetKey()) RegCloseKey(k);
  larkon::g_langModule = UIL_LANGMODULE();
  RegDeleteTreeW(HKEY_CURRENT_USER, (key_ + L"\\UILang").c_str());
  larkon::g_langModule.Init(module_, L"Larkspan", code_.c_str(), 1031);
  DestroyWindow(list_);
  OpenList();
  HWND header = ListView_GetHeader(list_);
  wchar_t buf[64] = L"";
  HDITEMW item = {};
  item.mask = HDI_TEXT;
  item.pszText = buf;
  item.cchTextMax = 64;
  Header_GetItem(header, 2, &item);
  EXPECT_STREQ(L"E/A", buf);
  Header_GetItem(header, 1, &item);
  EXPECT_STREQ(L"CPU-Auslastung", buf);
  HMENU german = larkon::g_langModule.LoadLangMenu(IDM_MAIN);
  ExpectMainMenuShape(german, "German");
  DestroyMenu(german);

  HMENU sort = larkon::BuildSortMenu(4, TRUE);
  GetMenuStringW(sort, IDM_SORT_MEMORY, buf, 64, MF_BYCOMMAND);
  EXPECT_STREQ(L"Nach Speicherauslastung sortieren", buf);
  EXPECT_EQ(UINT(MF_CHECKED), GetMenuState(sort, IDM_SORT_MEMORY, MF_BYCOMMAND) & MF_CHECKED);
  EXPECT_EQ(UINT(MF_CHECKED), GetMenuState(sort, IDM_SORT_REVERSE, MF_BYCOMMAND) & MF_CHECKED);
  EXPECT_EQ(0u, GetMenuState(sort, IDM_SORT_TREE, MF_BYCOMMAND) & MF_CHECKED);
  EXPECT_EQ(16, GetMenuItemCount(sort));  // 13 modes, the reverse flag, two separators
  DestroyMenu(sort);
}

TEST(ViewMenu, CommandsAndRates) {
  struct Case {
    UINT command;
    DWORD mode;
    BOOL reverse;
  } cases[] = {
      {IDM_SORT_TREE, 1, TRUE},   {IDM_SORT_START, 0, TRUE},        {IDM_SORT_NAME, 2, TRUE},
      {IDM_SORT_PID, 8, TRUE},    {IDM_SORT_CPU, 3, TRUE},          {IDM_SORT_MEMORY, 4, TRUE},
      {IDM_SORT_DESCRIPTION, 5, TRUE}, {IDM_SORT_COMPANY, 6, TRUE}, {IDM_SORT_PATH, 7, TRUE},
      {IDM_SORT_USER, 9, TRUE},   {IDM_SORT_HANDLES, 10, TRUE},     {IDM_SORT_USEROBJECTS, 11, TRUE},
      {IDM_SORT_GDIOBJECTS, 12, TRUE}, {IDM_SORT_REVERSE, 5, FALSE},  // keeps the mode, turns the flag
  };
  for (const Case& c : cases) {
    DWORD mode = 5;
    BOOL reverse = TRUE;  // a sort command keeps the flag
    EXPECT_TRUE(larkon::ApplySortCommand(c.command, &mode, &reverse)) << c.command;
    EXPECT_EQ(c.mode, mode) << c.command;
    EXPECT_EQ(c.reverse, reverse) << c.command;
  }
  DWORD mode = 5;
  BOOL reverse = FALSE;
  EXPECT_FALSE(larkon::ApplySortCommand(IDM_TOPMOST, &mode, &reverse));
  EXPECT_EQ(5u, mode);

  const std::pair<UINT, DWORD> rates[] = {{IDM_RATE_3S, 3000}, {IDM_RATE_1S, 1000}, {IDM_RATE_500MS, 500},
                                          {IDM_RATE_250MS, 250}, {IDM_RATE_100MS, 100}, {IDM_TOPMOST, 0}};
  for (const auto& r : rates) EXPECT_EQ(r.second, larkon::RateCommandInterval(r.first)) << r.first;
  for (DWORD interval : {0u, 100u, 3000u}) {
    HMENU menu = larkon::BuildRateMenu(interval);
    UINT checked = 0;
    for (int i = 0; i < GetMenuItemCount(menu); ++i)
      if (GetMenuState(menu, UINT(i), MF_BYPOSITION) & MF_CHECKED) checked = GetMenuItemID(menu, i);
    EXPECT_EQ(interval == 3000 ? UINT(IDM_RATE_3S) : UINT(IDM_RATE_100MS), checked) << interval;
    DestroyMenu(menu);
  }
}

}  // namespace
