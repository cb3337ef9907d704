#include "larkon/shell/startup.h"
#include "larkon/shell/stubs.h"
#include "quarl/appinfo.h"
#include "resources/larkon_ids.h"

namespace larkon {
namespace {

INT_PTR CALLBACK ShutdownWarningProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_INITDIALOG:
      SetDlgItemTextW(dlg, IDC_WARN_TEXT, reinterpret_cast<const wchar_t*>(lp));
      SendDlgItemMessageW(dlg, IDC_WARN_HEADING, WM_SETFONT, WPARAM(quarl::hFontBold), FALSE);
      SendDlgItemMessageW(dlg, IDC_WARN_ICON, STM_SETICON, WPARAM(LoadIconW(nullptr, IDI_WARNING)), 0);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL) {
        EndDialog(dlg, IsDlgButtonChecked(dlg, IDC_WARN_CHECK) == BST_CHECKED);
        return TRUE;
      }
      break;
  }
  return FALSE;
}

}  // namespace

BOOL ShowShutdownWarning(HWND owner, const wchar_t* text) {
  INT_PTR r = g_langModule.ShowDialogParam(IDD_SHUTDOWN_WARNING, owner, ShutdownWarningProc,
                                           reinterpret_cast<LPARAM>(text));
  return r == TRUE;
}

}  // namespace larkon
