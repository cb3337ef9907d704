#include "quarl/systray.h"

namespace quarl {
namespace {
PFN_Shell_NotifyIconW g_notify = ::Shell_NotifyIconW;
}  // namespace

PFN_Shell_NotifyIconW SetNotifyIconHook(PFN_Shell_NotifyIconW fn) {
  PFN_Shell_NotifyIconW old = g_notify;
  g_notify = fn ? fn : ::Shell_NotifyIconW;
  return old;
}

_SYSTRAYICON::_SYSTRAYICON() : icon() {}

BOOL _SYSTRAYICON::Init(HWND window, HICON iconHandle, const wchar_t* tip, UINT id, UINT callbackMessage) {
  base::TrayInit(icon, window, iconHandle, tip, id, callbackMessage, NIF_MESSAGE | NIF_ICON | NIF_TIP);
  return TRUE;
}

BOOL _SYSTRAYICON::Show() { return base::TrayShow(icon, g_notify); }

BOOL _SYSTRAYICON::ShowBallonTip(const wchar_t* text, const wchar_t* title, UINT, DWORD infoFlags) {
  return base::TrayBalloon(icon, g_notify, text, title, infoFlags);
}

BOOL _SYSTRAYICON::SetIcon(HICON iconHandle) { return base::TraySetIcon(icon, g_notify, iconHandle); }

BOOL _SYSTRAYICON::Delete() { return base::TrayDelete(icon, g_notify); }

}  // namespace quarl
