#include "quarl/systray.h"

#include "quarl/base/strfmt.h"

namespace quarl {
namespace {
PFN_Shell_NotifyIconW g_notify = ::Shell_NotifyIconW;
constexpr UINT kInterfaceVersion = 3;
constexpr UINT kBalloonTimeoutMs = 10000;
}  // namespace

PFN_Shell_NotifyIconW SetNotifyIconHook(PFN_Shell_NotifyIconW fn) {
  PFN_Shell_NotifyIconW old = g_notify;
  g_notify = fn ? fn : ::Shell_NotifyIconW;
  return old;
}

_SYSTRAYICON::_SYSTRAYICON() : shown(FALSE), nid() {}

BOOL _SYSTRAYICON::Init(HWND window, HICON icon, const wchar_t* tip, UINT id, UINT callbackMessage) {
  nid = NOTIFYICONDATAW();
  // The record's own size for this bitness (956 bytes in 32-bit, 976 in 64-bit).
  nid.cbSize = sizeof nid;
  nid.hWnd = window;
  nid.uID = id;
  nid.hIcon = icon;
  nid.uVersion = kInterfaceVersion;
  nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  CopyW(nid.szTip, 128, tip);
  nid.uCallbackMessage = callbackMessage;
  return TRUE;
}

BOOL _SYSTRAYICON::Show() {
  if (shown) return FALSE;
  shown = TRUE;
  g_notify(NIM_ADD, &nid);
  g_notify(NIM_SETVERSION, &nid);
  return TRUE;
}

BOOL _SYSTRAYICON::ShowBallonTip(const wchar_t* text, const wchar_t* title, UINT, DWORD infoFlags) {
  CopyW(nid.szInfo, 256, text);
  CopyW(nid.szInfoTitle, 64, title);
  nid.uFlags |= NIF_INFO;
  nid.dwInfoFlags = infoFlags;
  nid.uTimeout = kBalloonTimeoutMs;
  g_notify(NIM_MODIFY, &nid);
  // The balloon is shown once: later modifications (a new icon every refresh)
  // must not bring it back, and the shared field holds the version again.
  nid.uFlags &= ~UINT(NIF_INFO);
  nid.szInfo[0] = 0;
  nid.szInfoTitle[0] = 0;
  nid.uVersion = kInterfaceVersion;
  return TRUE;
}

BOOL _SYSTRAYICON::SetIcon(HICON icon) {
  nid.hIcon = icon;
  g_notify(NIM_MODIFY, &nid);
  return TRUE;
}

BOOL _SYSTRAYICON::Delete() {
  if (!shown) return FALSE;
  shown = FALSE;
  return g_notify(NIM_DELETE, &nid);
}

}  // namespace quarl
