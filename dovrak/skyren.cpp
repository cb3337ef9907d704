#include "dovrak/skyren.h"

#include "dovrak/libstart.h"
#include "dovrak/runtime.h"
#include "quarl/base/procaddr.h"
#include "resources/dovrak86_ids.h"

// ---- the warning dialog -------------------------------------------------------------

namespace {

constexpr int kLeft = 54, kTop = 11, kClientWidth = 354, kOkRightSpace = 10, kMinOkTop = 43, kBottomSpace = 53;

int MeasureHeight(HWND control, HFONT font, const wchar_t* text) {
  HDC dc = GetDC(control);
  if (!dc) return 0;
  HGDIOBJ old = SelectObject(dc, font);
  RECT rc = {0, 0, SKRN_WARNING_TEXT_WIDTH, 0};
  DrawTextW(dc, text, -1, &rc, DT_CALCRECT | DT_WORDBREAK);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return rc.bottom - rc.top;
}

void Place(HWND dialog, int id, const RECT& rc, const wchar_t* text) {
  HWND control = GetDlgItem(dialog, id);
  SetWindowPos(control, nullptr, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowTextW(control, text);
  ShowWindow(control, SW_SHOW);
}

BOOL OnInitWarning(HWND dialog, const SKRN_WARNINGPARAM* p) {
  if (!p) {
    MessageBoxW(nullptr, L"Skyren has encountered an unexpected error.", L"Quenby Skyren DLL", MB_OK | MB_ICONERROR);
    EndDialog(dialog, 0);
    return TRUE;
  }
  if (p->title[0]) SetWindowTextW(dialog, p->title);
  const BOOL hasHeading = p->heading[0] != 0, hasText = p->text[0] != 0;
  const int h1 = hasHeading ? MeasureHeight(GetDlgItem(dialog, IDC_SKRN_HEADING), BRVT_hFontBold, p->heading) : 0;
  const int h2 = hasText ? MeasureHeight(GetDlgItem(dialog, IDC_SKRN_TEXT), BRVT_hFontNormal, p->text) : 0;
  RECT ok;
  GetWindowRect(GetDlgItem(dialog, IDOK), &ok);
  const SKRN_WARNINGLAYOUT layout = SKRN_LayoutWarning(hasHeading, h1, hasText, h2, ok.right - ok.left);
  if (layout.showHeading) Place(dialog, IDC_SKRN_HEADING, layout.heading, p->heading);
  if (layout.showText) Place(dialog, IDC_SKRN_TEXT, layout.text, p->text);
  SetWindowPos(GetDlgItem(dialog, IDOK), nullptr, layout.ok.x, layout.ok.y, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  const SIZE size = SKRN_WarningWindowSize(layout, DWORD(GetWindowLongW(dialog, GWL_STYLE)),
                                           DWORD(GetWindowLongW(dialog, GWL_EXSTYLE)));
  SetWindowPos(dialog, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  SendDlgItemMessageW(dialog, IDC_SKRN_HEADING, WM_SETFONT, reinterpret_cast<WPARAM>(BRVT_hFontBold), TRUE);
  return TRUE;
}

INT_PTR CALLBACK WarningProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitWarning(dialog, reinterpret_cast<const SKRN_WARNINGPARAM*>(lParam));
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}

}  // namespace

SKRN_WARNINGLAYOUT SKRN_LayoutWarning(BOOL hasHeading, int headingHeight, BOOL hasText, int textHeight, int okWidth) {
  SKRN_WARNINGLAYOUT l = {};
  int y = kTop;
  if (hasHeading) {
    l.showHeading = TRUE;
    l.heading = {kLeft, kTop, kLeft + SKRN_WARNING_TEXT_WIDTH, kTop + headingHeight};
    y = headingHeight + 18;
  }
  if (hasText) {
    l.showText = TRUE;
    l.text = {kLeft, y, kLeft + SKRN_WARNING_TEXT_WIDTH, y + textHeight};
    y += textHeight + 11;
  }
  if (y < kMinOkTop) y = kMinOkTop;
  l.ok = {kClientWidth - kOkRightSpace - okWidth, y};
  l.client = {kClientWidth, y + kBottomSpace};
  return l;
}

SIZE SKRN_WarningWindowSize(const SKRN_WARNINGLAYOUT& layout, DWORD style, DWORD exStyle) {
  RECT rc = {0, 0, layout.client.cx, layout.client.cy};
  AdjustWindowRectEx(&rc, style, FALSE, exStyle);
  return {rc.right - rc.left, rc.bottom - rc.top};
}

INT_PTR SKRN_ShowWarning(HWND owner, const wchar_t* heading, const wchar_t* text, const wchar_t* title) {
  const SKRN_WARNINGPARAM param = {title ? title : L"", heading ? heading : L"", text ? text : L"", 0};
  return DialogBoxParamW(g_brvtModule, MAKEINTRESOURCEW(IDD_SKRN_WARNING), owner, WarningProc,
                         reinterpret_cast<LPARAM>(&param));
}

INT_PTR SKRN_ShowInfo(HWND owner, const wchar_t* heading, const wchar_t* text, const wchar_t* title) {
  return SKRN_ShowWarning(owner, heading, text, title);
}

// ---- the notification-area icon -------------------------------------------------------

namespace {
quarl::base::PFN_NotifyIcon g_notify = ::Shell_NotifyIconW;
}  // namespace

quarl::base::PFN_NotifyIcon SKRN_SetNotifyIconHook(quarl::base::PFN_NotifyIcon fn) {
  quarl::base::PFN_NotifyIcon old = g_notify;
  g_notify = fn ? fn : ::Shell_NotifyIconW;
  return old;
}

SKRN_SYSTRAYICON::SKRN_SYSTRAYICON() : icon() {}

BOOL SKRN_SYSTRAYICON::Init(HWND window, HICON iconHandle, const wchar_t* tip, UINT id, UINT callbackMessage) {
  quarl::base::TrayInit(icon, window, iconHandle, tip, id, callbackMessage, NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO);
  return TRUE;
}

BOOL SKRN_SYSTRAYICON::Show() { return quarl::base::TrayShow(icon, g_notify); }

BOOL SKRN_SYSTRAYICON::ShowBallonTip(const wchar_t* text, const wchar_t* title, UINT, DWORD infoFlags) {
  return quarl::base::TrayBalloon(icon, g_notify, text, title, infoFlags);
}

BOOL SKRN_SYSTRAYICON::SetIcon(HICON iconHandle) { return quarl::base::TraySetIcon(icon, g_notify, iconHandle); }

BOOL SKRN_SYSTRAYICON::Delete() { return quarl::base::TrayDelete(icon, g_notify); }

// ---- link, list view, run dialog -----------------------------------------------------------

namespace {
BOOL(WINAPI* g_cursorPos)(LPPOINT) = ::GetCursorPos;
}  // namespace

BOOL(WINAPI* SKRN_SetCursorPosSource(BOOL(WINAPI* fn)(LPPOINT)))(LPPOINT) {
  auto old = g_cursorPos;
  g_cursorPos = fn ? fn : ::GetCursorPos;
  return old;
}

LRESULT SKRN_HandleStaticLink(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
  const quarl::base::STATICLINK_STYLE style = {BRVT_hFontNormal, BRVT_hFontUnderline, g_cursorPos, false};
  return quarl::base::HandleStaticLink(style, dialog, id, message, wParam, lParam);
}

int SKRN_ListViewAddColumn(HWND listView, int index, const wchar_t* text, int width, int format) {
  return quarl::base::ListViewAddColumn(listView, index, text, width, format);
}

LPARAM SKRN_ListViewGetItemParam(HWND listView, int item) { return quarl::base::ListViewGetItemParam(listView, item); }

void SKRN_OpenRunDialog(HWND owner, const wchar_t* title, const wchar_t* prompt) {
  // The shell's run-file dialog, exported by ordinal only; the wide form on NT.
  using PFN_RunFileDlg = void(WINAPI*)(HWND owner, HICON icon, LPCWSTR directory, LPCWSTR title, LPCWSTR prompt,
                                       UINT flags);
  constexpr UINT kRunFileCalcDirectory = 4;
  HMODULE shell = LoadLibraryW(L"SHELL32.DLL");
  if (!shell) return;
  auto run = quarl::BindProc<PFN_RunFileDlg>(shell, MAKEINTRESOURCEA(61));
  if (run) run(owner, nullptr, nullptr, title, prompt, kRunFileCalcDirectory);
  FreeLibrary(shell);
}
