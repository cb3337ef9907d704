#include "larkon/shell/mainwindow.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <initializer_list>

#include "larkon/shell/startup.h"
#include "larkon/shell/stubs.h"
#include "larkon/shell/systemdata.h"
#include "quarl/appinfo.h"
#include "quarl/base/procaddr.h"
#include "quarl/language.h"
#include "quarl/regoptions.h"
#include "quarl/base/strfmt.h"
#include "resources/larkon_ids.h"

namespace larkon {

_MAINWINDOW g_mainWindow;
HWND g_hMainWnd;
volatile LONG g_refreshCount;
HANDLE g_refreshEvent;

namespace {

HANDLE g_workerStop;  // set when the program shuts down
HANDLE g_worker;


// ---- window set-up --------------------------------------------------------------

void ApplyExplorerTheme(HWND dlg) {
  using PFN = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
  auto setTheme = quarl::BindProc<PFN>(LoadLibraryW(L"uxtheme.dll"), "SetWindowTheme");
  if (!setTheme) return;
  setTheme(GetDlgItem(dlg, IDC_PROCESS_LIST), L"Explorer", nullptr);
  setTheme(GetDlgItem(dlg, IDC_PROCESS_TREE), L"Explorer", nullptr);
}

// ---- list, sort, refresh rate, topmost -------------------------------------------

// A list refresh reads many getters; no pass may change the list between them.
// Without waitForPass a running pass is not waited for: the refresh right after
// it comes anyway.
void RefreshList(_MAINWINDOW* state, BOOL waitForPass) {
  TL_PROCESSLIST* list = state->listView.processList;
  if (waitForPass)
    list->HoldPasses();
  else if (!list->TryHoldPasses())
    return;
  LIVEROWSOURCE source(list);
  RefreshProcessListView(&state->listView, &source, regOptions.GetOptionBOOL(L"BlankZero", TRUE));
  list->ReleasePasses();
}

// The language module's texts live in a small ring shared by all threads: a
// title is copied out before the items take further ones.
void ReplaceViewSubmenuTitled(_MAINWINDOW* state, int position, UINT title, HMENU submenu) {
  wchar_t text[128];
  quarl::CopyW(text, 128, g_langModule.GetLangString(title));
  ReplaceViewSubmenu(GetMenu(state->window), position, submenu, text);
  DrawMenuBar(state->window);
}

void RebuildSortMenu(_MAINWINDOW* state) {
  const _PROCESSLISTVIEW& lv = state->listView;
  ReplaceViewSubmenuTitled(state, 0, IDS_SORT_MENU, BuildSortMenu(lv.sortMode, lv.reverse));
}

void ChangeSort(_MAINWINDOW* state, DWORD mode, BOOL reverse) {
  state->listView.sortMode = mode;
  state->listView.reverse = reverse;
  RefreshList(state, FALSE);
  RebuildSortMenu(state);
}

void SetRefreshInterval(_MAINWINDOW* state, DWORD interval) {
  if (g_perfSource) g_perfSource->SetUpdateInterval(interval, interval / 2);
  if (state->listView.processList) state->listView.processList->SetUpdateInterval(interval);
  state->refreshInterval = interval;
  ReplaceViewSubmenuTitled(state, 1, IDS_RATE_MENU, BuildRateMenu(interval));
}

BOOL IsTopmost(HWND window) { return (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

void SetTopmost(_MAINWINDOW* state, BOOL on) {
  HMENU view = GetSubMenu(GetMenu(state->window), 1);
  if (view)
    ModifyMenuW(view, 3, MF_BYPOSITION | MF_STRING | (on ? MF_CHECKED : MF_UNCHECKED), IDM_TOPMOST,
                g_langModule.GetLangString(IDS_TOPMOST));
  const UINT flags = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
  HWND where = on ? HWND_TOPMOST : HWND_NOTOPMOST;
  for (DWORD i = 0; i < state->registeredCount; ++i) SetWindowPos(state->registered[i], where, 0, 0, 0, 0, flags);
  SetWindowPos(state->window, where, 0, 0, 0, 0, flags);
}

// Menu commands whose windows are not part of the program yet: shown, but grey.
const UINT kUnavailableCommands[] = {IDM_NEW_TASK, IDM_RESUME_ALL, IDM_REBOOT, IDM_LOGOFF,     IDM_POWEROFF,
                                     IDM_OPTIONS,  IDM_INFO,       IDM_LOADSENTRY, IDM_HEAPSENTRY};

void SetUpMenu(_MAINWINDOW* state) {
  HMENU bar = GetMenu(state->window);
  for (UINT id : kUnavailableCommands) EnableMenuItem(bar, id, MF_BYCOMMAND | MF_GRAYED);
  RebuildSortMenu(state);
}

// The Process menu and the per-process notes will follow the selection here.
void SelectionChanged(_MAINWINDOW* state) {
  state->selectedProcess = GetSelectedProcessID(state->listView.listView);
}

// ---- commands ---------------------------------------------------------------------

void OpenShell(HWND dlg, const wchar_t* target) {
  ShellExecuteW(dlg, nullptr, target, nullptr, nullptr, SW_SHOWNORMAL);
}

void OpenHelp(HWND dlg) {
  // The help file lies next to the program.
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) path[0] = 0;
  PathRemoveFileSpecW(path);
  wchar_t file[MAX_PATH];
  quarl::FormatW(file, MAX_PATH, path[0] ? L"%s\\%s" : L"%s%s", path, g_langModule.GetLangString(IDS_HELP_FILE));
  INT_PTR r = reinterpret_cast<INT_PTR>(ShellExecuteW(dlg, nullptr, file, nullptr, nullptr, SW_SHOWNORMAL));
  if (r <= 32) {
    wchar_t text[256], caption[128];
    quarl::CopyW(text, 256, g_langModule.GetLangString(IDS_HELP_MISSING));
    quarl::CopyW(caption, 128, g_langModule.GetLangString(IDS_HELP));
    MessageBoxW(dlg, text, caption, MB_OK | MB_ICONERROR);
  }
}

BOOL OnCommand(HWND dlg, _MAINWINDOW* state, UINT id) {
  _PROCESSLISTVIEW& lv = state->listView;
  DWORD mode = lv.sortMode;
  BOOL reverse = lv.reverse;
  if (ApplySortCommand(id, &mode, &reverse)) {
    ChangeSort(state, mode, reverse);
    return TRUE;
  }
  if (DWORD interval = RateCommandInterval(id)) {
    SetRefreshInterval(state, interval);
    return TRUE;
  }
  switch (id) {
    case IDM_CLOSE:
    case IDM_QUIT_ALT:
    case IDM_QUIT_ELEVATED:
      DestroyWindow(dlg);
      PostQuitMessage(id);
      return TRUE;
    case IDM_TOPMOST:
      SetTopmost(state, !IsTopmost(dlg));
      return TRUE;
    case IDM_HELP:
      OpenHelp(dlg);
      return TRUE;
    case IDM_WEB:
      OpenShell(dlg, L"https://www.quenby-software.example/");
      return TRUE;
    case IDM_UPDATES:
      OpenShell(dlg, g_langModule.GetLangString(IDS_PRODUCT_PAGE));
      return TRUE;
    case IDM_LANGUAGE:
      // The language module keeps a value of its own for the next start; both
      // must name the new language, or the next run would mix two.
      quarl::LanguageSettingsDialog(dlg);
      if (DWORD stored = regOptions.GetOptionDWORD(L"LangID", 0)) g_langModule.SelectLanguage(stored);
      return TRUE;
  }
  return FALSE;
}

BOOL OnNotify(_MAINWINDOW* state, const NMHDR* hdr) {
  _PROCESSLISTVIEW& lv = state->listView;
  if (hdr->hwndFrom != lv.listView) return FALSE;
  // Painting notifications come by the row and never move the selection.
  if (hdr->code != NM_CUSTOMDRAW) SelectionChanged(state);
  if (hdr->code == LVN_COLUMNCLICK) {
    DWORD mode = lv.sortMode;
    BOOL reverse = lv.reverse;
    if (ApplyColumnClick(reinterpret_cast<const NMLISTVIEW*>(hdr)->iSubItem, &mode, &reverse))
      ChangeSort(state, mode, reverse);
    return TRUE;
  }
  return FALSE;  // the control's defaults for everything else
}

void OnTimer(HWND dlg, _MAINWINDOW* state, UINT_PTR id) {
  if (id == kTimerList) {
    if ((GetAsyncKeyState(VK_MENU) & 0x8000) && (GetAsyncKeyState(VK_LCONTROL) & 0x8000) &&
        (GetAsyncKeyState(VK_F11) & 0x8000)) {
      ShowWindow(dlg, SW_SHOW);
      if (IsIconic(dlg)) {
        ShowWindow(dlg, SW_RESTORE);
        SetForegroundWindow(dlg);
      }
    }
  } else if (id == kTimerPanel) {
    SetTimer(dlg, kTimerPanel, EffectiveInterval(state->refreshInterval), nullptr);
  }
}

// ---- window set-up --------------------------------------------------------------

void SetUpListView(_MAINWINDOW* state, HWND dlg) {
  _PROCESSLISTVIEW& lv = state->listView;
  lv.processList = &g_processList;
  SetUpProcessListView(&lv, GetDlgItem(dlg, IDC_PROCESS_LIST), g_processList.GetImageList());
  lv.sortMode = regOptions.GetOptionDWORD(L"TaskListSortMode", 1);
  if (lv.sortMode >= DWORD(kSortModes)) lv.sortMode = 1;
  lv.reverse = regOptions.GetOptionBOOL(L"TaskListSortReverse", FALSE);
  state->selectedProcess = kNoProcess;
}

BOOL OnInitDialog(HWND dlg, _MAINWINDOW* state) {
  state->window = dlg;
  g_hMainWnd = dlg;
  SetWindowLongPtrW(dlg, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
  SetWindowTextW(dlg, quarl::GetAppNameFull());

  HINSTANCE inst = quarl::GetStoredInstance();
  HICON big = static_cast<HICON>(LoadImageW(inst, MAKEINTRESOURCEW(IDI_LARKON), IMAGE_ICON, 32, 32, 0));
  HICON small = static_cast<HICON>(LoadImageW(inst, MAKEINTRESOURCEW(IDI_LARKON), IMAGE_ICON, 16, 16, 0));
  SendMessageW(dlg, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  SendMessageW(dlg, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));

  // The menu of the current language replaces the template's own.
  HMENU old = GetMenu(dlg);
  SetMenu(dlg, g_langModule.LoadLangMenu(IDM_MAIN));
  if (old) DestroyMenu(old);

  SetUpListView(state, dlg);
  SetUpMenu(state);
  SetRefreshInterval(state, regOptions.GetOptionDWORD(L"UpdateInterval", kDefaultInterval));
  SetTopmost(state, regOptions.GetOptionBOOL(L"Topmost", FALSE));
  UINT period = EffectiveInterval(state->refreshInterval);
  SetTimer(dlg, kTimerList, period, nullptr);
  SetTimer(dlg, kTimerPanel, period, nullptr);
  SetTimer(dlg, kTimerStatus, period, nullptr);
  SetTimer(dlg, kTimerSlow, 5000, nullptr);

  ApplyExplorerTheme(dlg);
  // A window stored minimised or hidden opens shown at its stored place.
  if (!quarl::RestoreWindowPlacement(dlg, L"MainWndPlacement", TRUE, FALSE))
    SetWindowPos(dlg, nullptr, 0, 0, kDefaultWidth, kDefaultHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RefreshList(state, TRUE);
  SelectionChanged(state);
  ShowWindow(dlg, SW_SHOW);
  BringWindowToTop(dlg);
  LayoutMainWindow(state);

  g_worker = CreateThread(nullptr, 0, RefreshWorker, state, 0, nullptr);
  return TRUE;
}

void OnDestroy(HWND dlg, _MAINWINDOW* state) {
  for (UINT id : {kTimerList, kTimerPanel, kTimerStatus, kTimerSlow}) KillTimer(dlg, id);
  SaveMainWindowOptions(state);
}

INT_PTR CALLBACK MainDialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  auto state = reinterpret_cast<_MAINWINDOW*>(GetWindowLongPtrW(dlg, GWLP_USERDATA));
  if (msg == WM_INITDIALOG) return OnInitDialog(dlg, reinterpret_cast<_MAINWINDOW*>(lp));
  if (!state) return FALSE;
  switch (msg) {
    case WM_REFRESH:
      if (wp != kRefreshMarker) return FALSE;  // DM_GETDEFID and the like
      RefreshViews(state);
      return TRUE;
    case WM_SIZE:
      if (wp == SIZE_MINIMIZED && regOptions.GetOptionBOOL(L"HideWhenMinimized", FALSE)) ShowWindow(dlg, SW_HIDE);
      LayoutMainWindow(state);
      return TRUE;
    case WM_SIZING:
      LimitMainSizing(wp, reinterpret_cast<RECT*>(lp));
      SetWindowLongPtrW(dlg, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case WM_TIMER:
      OnTimer(dlg, state, wp);
      return TRUE;
    case WM_NOTIFY:
      return OnNotify(state, reinterpret_cast<const NMHDR*>(lp));
    case WM_COMMAND:
      return OnCommand(dlg, state, LOWORD(wp));
    case WM_PROPERTIES_OPENED:
      RegisterFollower(state->registered, &state->registeredCount, reinterpret_cast<HWND>(wp));
      return TRUE;
    case WM_PROPERTIES_CLOSED:
      UnregisterFollower(state->registered, &state->registeredCount, reinterpret_cast<HWND>(wp));
      return TRUE;
    case WM_DESTROY:
      OnDestroy(dlg, state);
      return TRUE;
  }
  return FALSE;
}

DWORD WINAPI MainWindowThread(LPVOID param) {
  auto state = static_cast<_MAINWINDOW*>(param);
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
  HWND dlg = quarl::CreateDialogParamW(quarl::GetStoredInstance(), MAKEINTRESOURCEW(IDD_MAIN), nullptr,
                                       MainDialogProc, reinterpret_cast<LPARAM>(state));
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (IsWindow(dlg) && IsDialogMessageW(dlg, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 1;
}

}  // namespace

void LayoutMainWindow(_MAINWINDOW* state) {
  HWND dlg = state->window;
  if (!dlg) return;
  RECT rc;
  GetClientRect(dlg, &rc);
  SetWindowPos(GetDlgItem(dlg, IDC_PROCESS_TREE), nullptr, 0, 0, 0, 0, SWP_NOZORDER | SWP_NOACTIVATE);
  // The toolbar and the task-info panel take their shares once they exist.
  MAINLAYOUT layout = ComputeMainLayout(rc, 0, FALSE);
  const RECT& l = layout.list;
  SetWindowPos(state->listView.listView, nullptr, l.left, l.top, l.right > 0 ? l.right : 0,
               l.bottom > 0 ? l.bottom : 0, SWP_NOZORDER | SWP_NOACTIVATE);
}

void RefreshViews(_MAINWINDOW* state) {
  // The panel, status bar and Process menu refresh here as they land.
  RefreshList(state, TRUE);
  SelectionChanged(state);
  InterlockedIncrement(&g_refreshCount);
  if (g_refreshEvent) SetEvent(g_refreshEvent);
}

DWORD WINAPI RefreshWorker(LPVOID param) {
  auto state = static_cast<_MAINWINDOW*>(param);
  while (IsWindow(state->window)) {
    DWORD start = GetTickCount();
    RefreshSystemData();
    HWND wnd = state->window;
    // Always one message to the window's thread, never the views' control calls
    // from here: each of those would cross threads on its own (hundreds per
    // refresh), where this way they are plain calls on that thread.
    if (IsWindowVisible(wnd)) SendMessageW(wnd, WM_REFRESH, kRefreshMarker, 0);
    // Paced from the start of the cycle; the stop event ends the wait at shutdown.
    DWORD elapsed = GetTickCount() - start;
    DWORD interval = EffectiveInterval(state->refreshInterval);
    if (elapsed < interval && WaitForSingleObject(g_workerStop, interval - elapsed) == WAIT_OBJECT_0) break;
    if (WaitForSingleObject(g_workerStop, 0) == WAIT_OBJECT_0) break;
  }
  return 0;
}

void SaveMainWindowOptions(_MAINWINDOW* state) {
  HWND dlg = state->window;
  quarl::SaveWindowPlacement(dlg, L"MainWndPlacement");
  regOptions.SetOptionDWORD(L"TaskListSortMode", state->listView.sortMode);
  regOptions.SetOptionBOOL(L"TaskListSortReverse", state->listView.reverse);
  regOptions.SetOptionDWORD(L"UpdateInterval", EffectiveInterval(state->refreshInterval));
  regOptions.SetOptionBOOL(L"Topmost", IsTopmost(dlg));
  int columns[kProcessColumns] = {};
  if (state->listView.listView) ListView_GetColumnOrderArray(state->listView.listView, kProcessColumns, columns);
  regOptions.SetOptionBINARY(L"TaskListColumns", columns, sizeof columns);

  for (WPARAM kind : {ICON_BIG, ICON_SMALL}) {
    HICON icon = reinterpret_cast<HICON>(SendMessageW(dlg, WM_SETICON, kind, 0));
    if (icon) DestroyIcon(icon);
  }
}

DWORD RunMainWindow(int showCommand) {
  g_mainWindow.window = nullptr;
  g_mainWindow.showCommand = showCommand;
  g_workerStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = CreateThread(nullptr, 0, MainWindowThread, &g_mainWindow, 0, nullptr);
  if (!thread) {
    CloseHandle(g_workerStop);
    g_workerStop = nullptr;
    return 0;
  }
  for (;;) {
    DWORD r = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT);
    if (r != WAIT_OBJECT_0 + 1 || WaitForSingleObject(thread, 0) == WAIT_OBJECT_0) break;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  DWORD code = 0;
  GetExitCodeThread(thread, &code);
  // The worker may be mid-cycle; it must be gone before the program's static
  // objects are released. Its window is gone, so it cannot block on it.
  SetEvent(g_workerStop);
  if (g_worker) {
    WaitForSingleObject(g_worker, INFINITE);
    CloseHandle(g_worker);
    g_worker = nullptr;
  }
  CloseHandle(g_workerStop);
  g_workerStop = nullptr;
  CloseHandle(thread);
  return code;
}

}  // namespace larkon
