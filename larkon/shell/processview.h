// The rules of the main window's process list view that do not need a window:
// cell texts, the sort comparison and its column-click states, the layout of the
// main window's client area, its sizing limits and the table of registered
// windows.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <cstddef>
#include <vector>

class TL_PROCESSLIST;

namespace larkon {

// The process list view's state (part of the main window's; its address is the
// list view's user data).
struct _PROCESSLISTVIEW {
  DWORD sortMode;
  BOOL reverse;
  TL_PROCESSLIST* processList;
  HWND listView;
  DWORD spare[2];
};

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
  int imageIndex;   // in the process list's image list
  int parentCount;  // tree depth, the indent in the tree order
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

// The client area's layout below a toolbar of that height (0 without one); a
// window without a task-info panel gives the list the panel's share.
MAINLAYOUT ComputeMainLayout(const RECT& client, int toolbarHeight, BOOL havePanel = TRUE);

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

// ---- the list view itself ---------------------------------------------------------

// Where the view's rows come from: the live process list, a fixed table in tests.
class PROCESSROWSOURCE {
 public:
  virtual int Count() = 0;
  // The values of the item at that list index; FALSE when it cannot be read.
  virtual BOOL Read(int index, PROCESSROW* row) = 0;

 protected:
  ~PROCESSROWSOURCE() = default;
};

// The live list, read through its getters (each takes the list's lock). The
// texts point into the list's items, which stay readable for a whole pass.
class LIVEROWSOURCE final : public PROCESSROWSOURCE {
 public:
  explicit LIVEROWSOURCE(TL_PROCESSLIST* list) : list_(list) {}
  int Count() override;
  BOOL Read(int index, PROCESSROW* row) override;

 private:
  TL_PROCESSLIST* list_;
};

// The 13 columns (headers in the current language), the row images, the styles
// and the stored column order ("TaskListColumns", used only when it is 52 bytes
// and names every column once).
void SetUpProcessListView(_PROCESSLISTVIEW* view, HWND listView, HIMAGELIST images);
// The column order of creation, 0 to 12.
void RestoreProcessColumns(_PROCESSLISTVIEW* view);

struct VIEWREFRESH {
  int removed;
  int added;
  BOOL sorted;
};
// One list refresh: rows of gone processes removed, new ones added at the top,
// indent and image written only when they changed, texts only when they differ,
// and one sort only when some neighbours are out of order.
VIEWREFRESH RefreshProcessListView(_PROCESSLISTVIEW* view, PROCESSROWSOURCE* source, BOOL blankZero);

constexpr DWORD kNoProcess = 0xFFFFFFFF;
// The process of the selection mark (row 2 when there is no mark), kNoProcess
// when that row does not exist.
DWORD GetSelectedProcessID(HWND listView);

// ---- the View menu ------------------------------------------------------------------

// The sort after a command of the sort submenu; FALSE for other commands.
BOOL ApplySortCommand(UINT command, DWORD* mode, BOOL* reverse);
// The interval of a refresh-rate command in ms; 0 for other commands.
DWORD RateCommandInterval(UINT command);
// The sort and refresh-rate submenus with the current state checked.
HMENU BuildSortMenu(DWORD mode, BOOL reverse);
HMENU BuildRateMenu(DWORD interval);
// Puts a new submenu with that text at the position of the View menu (position
// 1 of the bar), destroying the one it replaces.
void ReplaceViewSubmenu(HMENU bar, int position, HMENU submenu, const wchar_t* text);

}  // namespace larkon
