#include "larkon/shell/mainwindow.h"

#include <commctrl.h>

#include <initializer_list>

#include "larkon/shell/startup.h"
#include "larkon/shell/stubs.h"
#include "quarl/appinfo.h"
#include "quarl/base/procaddr.h"
#include "quarl/language.h"
#include "quarl/regoptions.h"
#include "resources/larkon_ids.h"

namespace larkon {

_MAINWINDOW g_mainWindow;
HWND g_hMainWnd;
volatile LONG g_refreshCount;

namespace {

HANDLE g_workerStop;  // set when the program shuts down
HANDLE g_worker;

constexpr int kColumnCount = 13;

// ---- window set-up --------------------------------------------------------------

void ApplyExplorerTheme(HWND dlg) {
  using PFN = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
  auto setTheme = quarl::BindProc<PFN>(LoadLibraryW(L"uxtheme.dll"), "SetWindowTheme");
  if (!setTheme) return;
  setTheme(GetDlgItem(dlg, IDC_PROCESS_LIST), L"Explorer", nullptr);
  setTheme(GetDlgItem(dlg, IDC_PROCESS_TREE), L"Explorer", nullptr);
}

void SetUpListView(_MAINWINDOW* state, HWND dlg) {
  _PROCESSLISTVIEW& lv = state->listView;
  lv.listView = GetDlgItem(dlg, IDC_PROCESS_LIST);
  SetWindowLongPtrW(lv.listView, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&lv));
  ListView_SetExtendedListViewStyle(lv.listView, LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP);
  lv.sortMode = regOptions.GetOptionDWORD(L"TaskListSortMode", 1);
  if (lv.sortMode > 12) lv.sortMode = 1;
  lv.reverse = regOptions.GetOptionBOOL(L"TaskListSortReverse", FALSE);
  state->refreshInterval = regOptions.GetOptionDWORD(L"UpdateInterval", kDefaultInterval);
  if (regOptions.GetOptionBOOL(L"Topmost", FALSE))
    SetWindowPos(dlg, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
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
  UINT period = EffectiveInterval(state->refreshInterval);
  SetTimer(dlg, kTimerList, period, nullptr);
  SetTimer(dlg, kTimerPanel, period, nullptr);
  SetTimer(dlg, kTimerStatus, period, nullptr);
  SetTimer(dlg, kTimerSlow, 5000, nullptr);

  ApplyExplorerTheme(dlg);
  // A window stored minimised or hidden opens shown at its stored place.
  if (!quarl::RestoreWindowPlacement(dlg, L"MainWndPlacement", TRUE, FALSE))
    SetWindowPos(dlg, nullptr, 0, 0, kDefaultWidth, kDefaultHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
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
  switch (msg) {
    case WM_INITDIALOG:
      return OnInitDialog(dlg, reinterpret_cast<_MAINWINDOW*>(lp));
    case WM_REFRESH:
      if (wp != kRefreshMarker || !state) return FALSE;  // DM_GETDEFID and the like
      RefreshViews(state);
      return TRUE;
    case WM_SIZE:
      if (state) LayoutMainWindow(state);
      return TRUE;
    case WM_TIMER:
      // The list, panel and status timers get their work with the views.
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wp)) {
        case IDM_CLOSE:
        case IDM_QUIT_ALT:
        case IDM_QUIT_ELEVATED:
          DestroyWindow(dlg);
          PostQuitMessage(LOWORD(wp));
          return TRUE;
      }
      return FALSE;
    case WM_DESTROY:
      if (state) OnDestroy(dlg, state);
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
  // The toolbar, task-info panel and status bar take their shares when they exist.
  int height = rc.bottom - rc.top - 30;
  SetWindowPos(state->listView.listView, nullptr, rc.left + 2, rc.top + 3, rc.right - rc.left - 4,
               height > 0 ? height : 0, SWP_NOZORDER | SWP_NOACTIVATE);
}

void RefreshViews(_MAINWINDOW*) {
  // The list, panel, status bar and Process menu refresh here as they land.
  InterlockedIncrement(&g_refreshCount);
}

DWORD WINAPI RefreshWorker(LPVOID param) {
  auto state = static_cast<_MAINWINDOW*>(param);
  while (IsWindow(state->window)) {
    DWORD start = GetTickCount();
    RefreshSystemData();
    HWND wnd = state->window;
    if (IsWindowVisible(wnd)) {
      if (GetForegroundWindow() == wnd)
        RefreshViews(state);
      else
        SendMessageW(wnd, WM_REFRESH, kRefreshMarker, 0);
    }
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
  regOptions.SetOptionBOOL(L"Topmost", (GetWindowLongW(dlg, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0);
  int columns[kColumnCount] = {};
  if (state->listView.listView) ListView_GetColumnOrderArray(state->listView.listView, kColumnCount, columns);
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
  if (!thread) return 0;
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
  return code;
}

}  // namespace larkon
