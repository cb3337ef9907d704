#include "larkon/shell/processview.h"

#include <algorithm>
#include <unordered_set>

#include "quarl/base/strfmt.h"

namespace larkon {
namespace {

const wchar_t* Text(const wchar_t* s) { return s ? s : L""; }

int Reverse(int order, BOOL reverse) { return reverse ? -order : order; }

template <typename T>
int Ascending(T a, T b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

int CompareText(const wchar_t* a, const wchar_t* b) {
  switch (CompareStringW(LOCALE_USER_DEFAULT, 0, Text(a), -1, Text(b), -1)) {
    case CSTR_LESS_THAN:
      return -1;
    case CSTR_GREATER_THAN:
      return 1;
    default:
      return 0;  // equal, or the comparison failed
  }
}

}  // namespace

void FormatProcessCell(int column, const PROCESSROW& row, BOOL blankZero, const wchar_t* timeFormat, wchar_t* buf,
                       size_t cch) {
  switch (column) {
    case 0:
      quarl::CopyW(buf, cch, Text(row.imageName));
      break;
    case 1:
      if (blankZero && row.cpuUsage == 0)
        quarl::CopyW(buf, cch, L"");
      else
        quarl::FormatW(buf, cch, L"%u %%", row.cpuUsage);
      break;
    case 2:
      if (blankZero && row.ioBytes == 0)
        quarl::CopyW(buf, cch, L"");
      else if (blankZero && row.ioBytes <= 1024)
        quarl::FormatW(buf, cch, L"%.01f KB/s", double(row.ioBytes) / 1024.0);
      else
        quarl::FormatW(buf, cch, L"%I64u KB/s", row.ioBytes / 1024);
      break;
    case 3:
      if (blankZero && row.ramBytes == 0)
        quarl::CopyW(buf, cch, L"");
      else
        quarl::FormatW(buf, cch, L"%I64u KB", row.ramBytes / 1024);
      break;
    case 4:
      quarl::CopyW(buf, cch, Text(row.description));
      break;
    case 5:
      quarl::CopyW(buf, cch, Text(row.company));
      break;
    case 6:
      quarl::CopyW(buf, cch, Text(row.path));
      break;
    case 7:
      quarl::FormatW(buf, cch, L"%u", row.pid);
      break;
    case 8: {
      const SYSTEMTIME& t = row.created;
      if (t.wYear == 0 || t.wYear == 1601)
        quarl::CopyW(buf, cch, L"");
      else
        quarl::FormatW(buf, cch, timeFormat ? timeFormat : L"%.2d/%.2d/%.4d %.2d:%.2d:%.2d", t.wDay, t.wMonth, t.wYear,
                       t.wHour, t.wMinute, t.wSecond);
      break;
    }
    case 9:
      quarl::CopyW(buf, cch, Text(row.user));
      break;
    case 10:
      quarl::FormatW(buf, cch, L"%u", row.handles);
      break;
    case 11:
      quarl::FormatW(buf, cch, L"%u", row.userObjects);
      break;
    case 12:
      quarl::FormatW(buf, cch, L"%u", row.gdiObjects);
      break;
    default:
      quarl::CopyW(buf, cch, L"");
  }
}

int CompareProcessRows(DWORD mode, BOOL reverse, const PROCESSROW& a, const PROCESSROW& b) {
  int order = 0;
  switch (mode) {
    case 0: order = -Ascending(a.index, b.index); break;  // the newest first
    case 1: order = Ascending(a.treePos, b.treePos); break;
    case 2: order = CompareText(a.imageName, b.imageName); break;
    case 3: order = -Ascending(a.cpuUsage, b.cpuUsage); break;
    case 4: order = -Ascending(a.ramBytes, b.ramBytes); break;
    case 5: order = CompareText(a.description, b.description); break;
    case 6: order = CompareText(a.company, b.company); break;
    case 7: order = CompareText(a.path, b.path); break;
    case 8: order = Ascending(a.pid, b.pid); break;
    case 9: order = CompareText(a.user, b.user); break;
    case 10: order = -Ascending(a.handles, b.handles); break;
    case 11: order = -Ascending(a.userObjects, b.userObjects); break;
    case 12: order = -Ascending(a.gdiObjects, b.gdiObjects); break;
    default: order = 0;
  }
  return Reverse(order, reverse);
}

BOOL ProcessRowsNeedSort(DWORD mode, BOOL reverse, const PROCESSROW* rows, size_t count) {
  for (size_t i = 1; i < count; ++i)
    if (CompareProcessRows(mode, reverse, rows[i - 1], rows[i]) == 1) return TRUE;
  return FALSE;
}

BOOL ApplyColumnClick(int column, DWORD* mode, BOOL* reverse) {
  if (column == 0) {
    if (*mode == kSortTree && !*reverse) {
      *mode = 2;
    } else if (*mode == 2 && !*reverse) {
      *reverse = TRUE;
    } else {
      *mode = kSortTree;
      *reverse = FALSE;
    }
    return TRUE;
  }
  static const int kModeOfColumn[kProcessColumns] = {-1, 3, -1, 4, 5, 6, 7, 8, 0, 9, 10, 11, 12};
  if (column < 0 || column >= kProcessColumns || kModeOfColumn[column] < 0) return FALSE;
  DWORD wanted = DWORD(kModeOfColumn[column]);
  if (*mode == wanted) *reverse = !*reverse;
  *mode = wanted;
  return TRUE;
}

MAINLAYOUT ComputeMainLayout(const RECT& client, int toolbarHeight, BOOL havePanel) {
  MAINLAYOUT l = {};
  LONG top = client.top + (toolbarHeight > 0 ? toolbarHeight : 0);
  LONG width = client.right - client.left;
  LONG height = client.bottom - top;
  l.showPanel = havePanel && height >= 400;
  l.showPanelRight = l.showPanel && width >= 600;
  l.list = {client.left + 2, top + 3, width - 4, height - 30 - (l.showPanel ? 180 : 0)};
  l.panel = {client.left + 11, client.bottom - 192, width - 22, 161};
  return l;
}

void LimitMainSizing(WPARAM edge, RECT* r) {
  BOOL left = edge == WMSZ_LEFT || edge == WMSZ_TOPLEFT || edge == WMSZ_BOTTOMLEFT;
  BOOL top = edge == WMSZ_TOP || edge == WMSZ_TOPLEFT || edge == WMSZ_TOPRIGHT;
  if (r->right - r->left < kMinMainWidth) {
    if (left)
      r->left = r->right - kMinMainWidth;
    else
      r->right = r->left + kMinMainWidth;
  }
  if (r->bottom - r->top < kMinMainHeight) {
    if (top)
      r->top = r->bottom - kMinMainHeight;
    else
      r->bottom = r->top + kMinMainHeight;
  }
}

BOOL RegisterFollower(HWND* table, DWORD* count, HWND window) {
  if (*count >= kMaxRegisteredWindows) return FALSE;
  table[(*count)++] = window;
  return TRUE;
}

void UnregisterFollower(HWND* table, DWORD* count, HWND window) {
  for (DWORD i = 0; i < *count; ++i) {
    if (table[i] == window) {
      table[i] = table[*count - 1];
      table[--*count] = nullptr;
      return;
    }
  }
}

ROWPLAN PlanRowUpdate(const std::vector<DWORD>& rowPids, const std::vector<DWORD>& listPids) {
  ROWPLAN plan;
  std::unordered_set<DWORD> listed(listPids.begin(), listPids.end());
  std::unordered_set<DWORD> kept;
  for (int row = 0; row < int(rowPids.size()); ++row) {
    // A second row of the same process is as stale as one of a gone process.
    if (!listed.count(rowPids[row]) || !kept.insert(rowPids[row]).second) plan.deleteRows.push_back(row);
  }
  std::reverse(plan.deleteRows.begin(), plan.deleteRows.end());
  for (DWORD pid : listPids)
    if (kept.insert(pid).second) plan.insertPids.push_back(pid);
  return plan;
}

int EffectiveMarkRow(int mark, int rowCount) {
  if (mark < 0) mark = 2;
  return mark < rowCount ? mark : -1;
}

}  // namespace larkon
