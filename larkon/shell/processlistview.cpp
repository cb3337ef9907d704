// The process list view control over the live list, and the View menu's
// submenus. The rules behind them (cells, comparison, row plan) are in
// processview.cpp.
#include <windows.h>

#include <commctrl.h>

#include <unordered_map>

#include "kinetra/processlist.h"
#include "kinetra/taskdata.h"
#include "larkon/shell/mainwindow.h"
#include "larkon/shell/processview.h"
#include "larkon/shell/startup.h"
#include "quarl/base/strfmt.h"
#include "quarl/language.h"
#include "quarl/regoptions.h"
#include "quarl/winhelpers.h"
#include "resources/larkon_ids.h"

namespace larkon {
namespace {

constexpr int kCellChars = 512;

struct COLUMNDEF {
  UINT header;  // string id; 0 for the compiled-in I/O pair
  int width;
  int format;
};
const COLUMNDEF kColumns[kProcessColumns] = {
    {IDS_COL_PROCESS, 160, LVCFMT_LEFT},     {IDS_COL_CPU, 50, LVCFMT_RIGHT},     {0, 70, LVCFMT_RIGHT},
    {IDS_COL_MEMORY, 70, LVCFMT_RIGHT},      {IDS_COL_DESCRIPTION, 250, LVCFMT_LEFT},
    {IDS_COL_COMPANY, 180, LVCFMT_LEFT},     {IDS_COL_PATH, 300, LVCFMT_LEFT},    {IDS_COL_PID, 70, LVCFMT_RIGHT},
    {IDS_COL_START, 120, LVCFMT_LEFT},       {IDS_COL_USER, 120, LVCFMT_LEFT},    {IDS_COL_HANDLES, 50, LVCFMT_RIGHT},
    {IDS_COL_USEROBJECTS, 60, LVCFMT_RIGHT}, {IDS_COL_GDIOBJECTS, 50, LVCFMT_RIGHT},
};

using ROWMAP = std::unordered_map<DWORD, const PROCESSROW*>;

struct SORTCONTEXT {
  DWORD mode;
  BOOL reverse;
  const ROWMAP* rows;
};

int CALLBACK CompareByPid(LPARAM a, LPARAM b, LPARAM context) {
  auto ctx = reinterpret_cast<const SORTCONTEXT*>(context);
  auto ra = ctx->rows->find(DWORD(a));
  auto rb = ctx->rows->find(DWORD(b));
  if (ra == ctx->rows->end() || rb == ctx->rows->end()) return 0;
  return CompareProcessRows(ctx->mode, ctx->reverse, *ra->second, *rb->second);
}

// A compiled-in text in the language of the module's other texts, so that one
// header row never mixes two languages.
const wchar_t* LanguagePair(const wchar_t* english, const wchar_t* german) {
  WORD language = g_langModule.GetLanguage();
  if (!language) return quarl::HardcodeLangString(english, german);
  return PRIMARYLANGID(language) == LANG_GERMAN ? german : english;
}

DWORD RowPid(HWND listView, int row) { return DWORD(quarl::ListViewGetItemParam(listView, row)); }

// A stored column order is used only when it names every column exactly once;
// anything else would leave the header with a column shown twice or never.
BOOL IsColumnOrder(const int* order) {
  bool seen[kProcessColumns] = {};
  for (int i = 0; i < kProcessColumns; ++i) {
    if (order[i] < 0 || order[i] >= kProcessColumns || seen[order[i]]) return FALSE;
    seen[order[i]] = true;
  }
  return TRUE;
}

struct SORTITEM {
  UINT command;
  UINT text;
  DWORD mode;
};
// In menu order; command 0 marks a separator.
const SORTITEM kSortItems[] = {
    {IDM_SORT_TREE, IDS_SORT_TREE, 1},
    {IDM_SORT_START, IDS_SORT_START, 0},
    {0, 0, 0xFF},
    {IDM_SORT_NAME, IDS_SORT_NAME, 2},
    {IDM_SORT_PID, IDS_SORT_PID, 8},
    {IDM_SORT_CPU, IDS_SORT_CPU, 3},
    {IDM_SORT_MEMORY, IDS_SORT_MEMORY, 4},
    {IDM_SORT_DESCRIPTION, IDS_SORT_DESCRIPTION, 5},
    {IDM_SORT_COMPANY, IDS_SORT_COMPANY, 6},
    {IDM_SORT_PATH, IDS_SORT_PATH, 7},
    {IDM_SORT_USER, IDS_SORT_USER, 9},
    {IDM_SORT_HANDLES, IDS_SORT_HANDLES, 10},
    {IDM_SORT_USEROBJECTS, IDS_SORT_USEROBJECTS, 11},
    {IDM_SORT_GDIOBJECTS, IDS_SORT_GDIOBJECTS, 12},
};

struct RATEITEM {
  UINT command;
  UINT text;
  DWORD interval;
};
const RATEITEM kRateItems[] = {
    {IDM_RATE_3S, IDS_RATE_3S, 3000},     {IDM_RATE_1S, IDS_RATE_1S, 1000},
    {IDM_RATE_500MS, IDS_RATE_500MS, 500}, {IDM_RATE_250MS, IDS_RATE_250MS, 250},
    {IDM_RATE_100MS, IDS_RATE_100MS, 100},
};

}  // namespace

// ---- rows from the live list ----------------------------------------------------

int LIVEROWSOURCE::Count() { return list_ ? list_->GetItemCount() : 0; }

BOOL LIVEROWSOURCE::Read(int i, PROCESSROW* row) {
  *row = PROCESSROW{};
  row->index = DWORD(i);
  row->pid = list_->GetItemPID(i);
  // The idle process is never an item: 0 is the getters' failure value.
  if (row->pid == 0) return FALSE;
  row->imageName = list_->GetItemImageName(i);
  row->cpuUsage = list_->GetItemCPUUsage(i);
  if (const kinetra::_TASKDATADYNAMIC* dyn = list_->GetItemDynamicData(i)) {
    row->ioBytes = ULONGLONG(dyn->GetIOWriteTransferDelta()) + dyn->GetIOReadTransferDelta() +
                   dyn->GetIOOtherTransferDelta();
    row->gdiObjects = dyn->GetGDIObjectCount();
  }
  row->ramBytes = list_->GetItemRAMUsage(i);
  row->description = list_->GetItemInfoDescription(i);
  row->company = list_->GetItemInfoCompanyName(i);
  row->path = list_->GetItemPathName(i);
  if (const kinetra::_TASKDATASTATIC* st = list_->GetItemStaticData(i)) row->user = st->GetUsername();
  row->created = list_->GetItemCreationTime(i);
  row->handles = list_->GetItemHandleCount(i);
  row->userObjects = list_->GetItemUserObjectCount(i);
  row->treePos = list_->GetItemTreePos(i, 0);
  row->imageIndex = list_->GetItemImageListIndex(i);
  row->parentCount = list_->GetItemParentCount(i, 0);
  return TRUE;
}

// ---- the control ------------------------------------------------------------------

void SetUpProcessListView(_PROCESSLISTVIEW* view, HWND listView, HIMAGELIST images) {
  view->listView = listView;
  SetWindowLongPtrW(listView, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view));
  ListView_SetExtendedListViewStyle(listView, LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP);
  if (images) {
    // The images belong to the process list, which outlives this control.
    SetWindowLongW(listView, GWL_STYLE, GetWindowLongW(listView, GWL_STYLE) | LVS_SHAREIMAGELISTS);
    ListView_SetImageList(listView, images, LVSIL_SMALL);
  }
  for (int c = 0; c < kProcessColumns; ++c) {
    const COLUMNDEF& col = kColumns[c];
    const wchar_t* text =
        col.header ? g_langModule.GetLangString(col.header) : LanguagePair(L"I/O", L"E/A");
    quarl::ListViewAddColumn(listView, c, text, col.width, col.format);
  }
  int order[kProcessColumns];
  DWORD read = 0;
  if (regOptions.GetOptionBINARY(L"TaskListColumns", order, sizeof order, &read) && read == sizeof order &&
      IsColumnOrder(order))
    ListView_SetColumnOrderArray(listView, kProcessColumns, order);
}

void RestoreProcessColumns(_PROCESSLISTVIEW* view) {
  int order[kProcessColumns];
  for (int i = 0; i < kProcessColumns; ++i) order[i] = i;
  ListView_SetColumnOrderArray(view->listView, kProcessColumns, order);
  InvalidateRect(view->listView, nullptr, TRUE);
}

VIEWREFRESH RefreshProcessListView(_PROCESSLISTVIEW* view, PROCESSROWSOURCE* source, BOOL blankZero) {
  VIEWREFRESH result = {};
  HWND lv = view->listView;
  wchar_t timeFormat[64];
  quarl::CopyW(timeFormat, 64, g_langModule.GetLangString(IDS_START_TIME_FORMAT));

  std::vector<PROCESSROW> rows;
  int count = source->Count();
  rows.reserve(count > 0 ? size_t(count) : 0);
  for (int i = 0; i < count; ++i) {
    PROCESSROW r;
    if (source->Read(i, &r)) rows.push_back(r);
  }
  std::vector<DWORD> listPids;
  listPids.reserve(rows.size());
  ROWMAP byPid;
  for (const PROCESSROW& r : rows) {
    listPids.push_back(r.pid);
    byPid.emplace(r.pid, &r);
  }

  int rowCount = ListView_GetItemCount(lv);
  std::vector<DWORD> rowPids(size_t(rowCount > 0 ? rowCount : 0));
  for (int j = 0; j < rowCount; ++j) rowPids[size_t(j)] = RowPid(lv, j);
  ROWPLAN plan = PlanRowUpdate(rowPids, listPids);
  for (int row : plan.deleteRows) ListView_DeleteItem(lv, row);
  result.removed = int(plan.deleteRows.size());

  const BOOL tree = view->sortMode == kSortTree;
  for (DWORD pid : plan.insertPids) {
    const PROCESSROW& r = *byPid[pid];
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM | LVIF_INDENT;
    item.pszText = const_cast<wchar_t*>(r.imageName ? r.imageName : L"");
    item.iImage = r.imageIndex;
    item.iIndent = tree ? r.parentCount : 0;
    item.lParam = LPARAM(pid);
    if (ListView_InsertItem(lv, &item) >= 0) ++result.added;
  }

  // Rows by process, and the data in the rows' order for the sort check.
  rowCount = ListView_GetItemCount(lv);
  std::vector<PROCESSROW> shown;
  shown.reserve(size_t(rowCount > 0 ? rowCount : 0));
  wchar_t cell[kCellChars];
  for (int j = 0; j < rowCount; ++j) {
    auto it = byPid.find(RowPid(lv, j));
    if (it == byPid.end()) continue;
    const PROCESSROW& r = *it->second;
    shown.push_back(r);

    LVITEMW item = {};
    item.mask = LVIF_IMAGE | LVIF_INDENT;
    item.iItem = j;
    ListView_GetItem(lv, &item);
    int indent = tree ? r.parentCount : 0;
    if (item.iIndent != indent || item.iImage != r.imageIndex) {
      item.iIndent = indent;
      item.iImage = r.imageIndex;
      ListView_SetItem(lv, &item);
    }
    for (int c = 0; c < kProcessColumns; ++c) {
      FormatProcessCell(c, r, blankZero, timeFormat[0] ? timeFormat : nullptr, cell, kCellChars);
      quarl::ListViewSetItemText(lv, j, c, cell);
    }
  }

  if (ProcessRowsNeedSort(view->sortMode, view->reverse, shown.data(), shown.size())) {
    SORTCONTEXT ctx = {view->sortMode, view->reverse, &byPid};
    ListView_SortItems(lv, CompareByPid, reinterpret_cast<LPARAM>(&ctx));
    result.sorted = TRUE;
  }
  return result;
}

DWORD GetSelectedProcessID(HWND listView) {
  int mark = ListView_GetSelectionMark(listView);
  if (mark < 0) ListView_SetSelectionMark(listView, 2);
  int row = EffectiveMarkRow(mark, ListView_GetItemCount(listView));
  return row < 0 ? kNoProcess : RowPid(listView, row);
}

// ---- the View menu ------------------------------------------------------------------

BOOL ApplySortCommand(UINT command, DWORD* mode, BOOL* reverse) {
  if (command == IDM_SORT_REVERSE) {
    *reverse = !*reverse;
    return TRUE;
  }
  for (const SORTITEM& s : kSortItems) {
    if (s.command && s.command == command) {
      *mode = s.mode;
      return TRUE;
    }
  }
  return FALSE;
}

DWORD RateCommandInterval(UINT command) {
  for (const RATEITEM& r : kRateItems)
    if (r.command == command) return r.interval;
  return 0;
}

HMENU BuildSortMenu(DWORD mode, BOOL reverse) {
  HMENU menu = CreatePopupMenu();
  for (const SORTITEM& s : kSortItems) {
    if (!s.command) {
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
      continue;
    }
    AppendMenuW(menu, MF_STRING | (s.mode == mode ? MF_CHECKED : 0), s.command, g_langModule.GetLangString(s.text));
  }
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING | (reverse ? MF_CHECKED : 0), IDM_SORT_REVERSE,
              g_langModule.GetLangString(IDS_SORT_REVERSE));
  return menu;
}

HMENU BuildRateMenu(DWORD interval) {
  HMENU menu = CreatePopupMenu();
  DWORD current = EffectiveInterval(interval);
  for (const RATEITEM& r : kRateItems)
    AppendMenuW(menu, MF_STRING | (r.interval == current ? MF_CHECKED : 0), r.command,
                g_langModule.GetLangString(r.text));
  return menu;
}

void ReplaceViewSubmenu(HMENU bar, int position, HMENU submenu, const wchar_t* text) {
  HMENU view = GetSubMenu(bar, 1);
  if (!view) {
    DestroyMenu(submenu);
    return;
  }
  HMENU old = GetSubMenu(view, position);
  // Inserting before removing keeps the other items' positions.
  if (!InsertMenuW(view, UINT(position), MF_BYPOSITION | MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(submenu),
                   text)) {
    DestroyMenu(submenu);
    return;
  }
  RemoveMenu(view, UINT(position + 1), MF_BYPOSITION);
  if (old) DestroyMenu(old);
}

}  // namespace larkon
