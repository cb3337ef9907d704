// The rules of the main window's process list view that do not need a window:
// cell texts, the sort comparison and its column-click states, the layout of the
// main window's client area, its sizing limits and the table of registered
// windows.
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

namespace larkon {

constexpr int kProcessColumns = 13;
constexpr int kSortModes = 13;
constexpr DWORD kSortTree = 1;

// One row's values as the process list gives them. Texts may be null: they count
// as empty everywhere.
struct PROCESSROW {
  DWORD index;  // position in the process list
  DWORD pid;
  const wchar_t* imageName;
  DWORD cpuUsage;
  ULONGLONG ioBytes;  // write + read + other transfer deltas
  ULONGLONG ramBytes;
  const wchar_t* description;
  const wchar_t* company;
  const wchar_t* path;
  const wchar_t* user;
  SYSTEMTIME created;  // local time; year 0 or 1601 when unknown
  DWORD handles;
  DWORD userObjects;
  DWORD gdiObjects;
  double treePos;
};

// The text of one cell. timeFormat is string 321 (day, month, year, hour,
// minute, second). Always terminated; cut to cch.
void FormatProcessCell(int column, const PROCESSROW& row, BOOL blankZero, const wchar_t* timeFormat, wchar_t* buf,
                       size_t cch);

// -1 when a comes first, 1 when b does, 0 for equal keys (there is no second key).
int CompareProcessRows(DWORD mode, BOOL reverse, const PROCESSROW& a, const PROCESSROW& b);

// True when some pair of neighbours is out of order (compares as 1).
BOOL ProcessRowsNeedSort(DWORD mode, BOOL reverse, const PROCESSROW* rows, size_t count);

// The sort after a click on a column header (identified by its creation index).
// Returns FALSE when the click changes nothing (column 2).
BOOL ApplyColumnClick(int column, DWORD* mode, BOOL* reverse);

struct MAINLAYOUT {
  RECT list;        // x, y, width, height in the rectangle's four fields
  RECT panel;
  BOOL showPanel;
  BOOL showPanelRight;
};

// The client area's layout below a toolbar of that height (0 without one).
MAINLAYOUT ComputeMainLayout(const RECT& client, int toolbarHeight);

constexpr LONG kMinMainWidth = 350;
constexpr LONG kMinMainHeight = 300;
// Keeps a window being sized at least the minimum size by moving the dragged
// edge (the WM_SIZING edge code).
void LimitMainSizing(WPARAM edge, RECT* window);

constexpr DWORD kMaxRegisteredWindows = 128;
// The windows that follow the main window's topmost state. Appends when there is
// room; FALSE otherwise.
BOOL RegisterFollower(HWND* table, DWORD* count, HWND window);
// Removes the window: the last entry takes its place.
void UnregisterFollower(HWND* table, DWORD* count, HWND window);

// The row whose process counts as selected, for the main window and the
// task-info panel alike: the marked row, or row 2 when nothing is marked; -1
// (no process) when that row does not exist.
int EffectiveMarkRow(int mark, int rowCount);

// What one list refresh does to the rows: the rows whose process is gone, all of
// them in the same pass (highest row first, so the others keep their index), and
// the processes that have no row yet, in list order. A PID that names a new
// process keeps its row; its cells are rewritten like every other row's.
struct ROWPLAN {
  std::vector<int> deleteRows;
  std::vector<DWORD> insertPids;
};
ROWPLAN PlanRowUpdate(const std::vector<DWORD>& rowPids, const std::vector<DWORD>& listPids);

}  // namespace larkon
