// The main window's state, its thread, the refresh worker and shutdown.
#pragma once

#include <windows.h>

#include "larkon/shell/processview.h"

namespace larkon {

// WM_USER is also the dialog manager's DM_GETDEFID; only this marker in wParam
// makes it a refresh request.
constexpr UINT WM_REFRESH = WM_USER;
constexpr WPARAM kRefreshMarker = 4000;

// A properties window follows the topmost state from its opening to its end.
constexpr UINT WM_PROPERTIES_OPENED = WM_USER + 256;
constexpr UINT WM_PROPERTIES_CLOSED = WM_USER + 257;

constexpr UINT kTimerList = 4000, kTimerPanel = 4001, kTimerStatus = 4002, kTimerSlow = 4003;
constexpr DWORD kDefaultInterval = 1000;
constexpr int kDefaultWidth = 656, kDefaultHeight = 580;

struct _STATUSBAR;
struct _TOOLBAR;
struct _PERFWINDOW;

struct _MAINWINDOW {
  // 0 is read as 100 everywhere; other windows read it for their own timers.
  volatile DWORD refreshInterval;
  int showCommand;
  HWND window;
  DWORD selectedProcess;
  _PROCESSLISTVIEW listView;
  wchar_t notesValueName[512];
  DWORD registeredCount;
  HWND registered[128];
  _STATUSBAR* statusBar;
  _TOOLBAR* toolbar;
  _PERFWINDOW* cpuWindow;
  _PERFWINDOW* memWindow;
};

extern _MAINWINDOW g_mainWindow;
extern HWND g_hMainWnd;

inline DWORD EffectiveInterval(DWORD interval) { return interval ? interval : 100; }

// Runs the main window on its own thread and pumps this thread's messages until
// that thread ends; then stops the refresh worker and waits for it.
DWORD RunMainWindow(int showCommand);
DWORD WINAPI RefreshWorker(LPVOID state);
void RefreshViews(_MAINWINDOW* state);
void SaveMainWindowOptions(_MAINWINDOW* state);
// Lays out the children after a size change.
void LayoutMainWindow(_MAINWINDOW* state);

// Number of RefreshViews runs so far (for diagnostics and tests).
extern volatile LONG g_refreshCount;
// When set, signalled after every RefreshViews, so a test can wait for refreshes.
extern HANDLE g_refreshEvent;

}  // namespace larkon
