// A notification-area icon.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "quarl/base/controls.h"
#include "quarl/quarlapi.h"

namespace quarl {

class QUARL_API _SYSTRAYICON {
 public:
  _SYSTRAYICON();

  // Fills the record; nothing is shown yet. The tip is cut to 127 characters.
  BOOL Init(HWND window, HICON icon, const wchar_t* tip, UINT id, UINT callbackMessage);
  // 0 when already shown; otherwise adds the icon and sets its interface version.
  BOOL Show();
  // Shows a balloon once (text cut to 255, title to 63 characters).
  BOOL ShowBallonTip(const wchar_t* text, const wchar_t* title, UINT unused, DWORD infoFlags);
  BOOL SetIcon(HICON icon);
  // 0 when not shown; otherwise removes the icon and returns the system's result.
  BOOL Delete();

  BOOL IsShown() const { return icon.shown; }
  const NOTIFYICONDATAW& Data() const { return icon.nid; }

 private:
  base::TRAYICON icon;  // the shown flag, then the system's record
};

// Seam: tests watch what is sent to the notification area.
using PFN_Shell_NotifyIconW = base::PFN_NotifyIcon;
QUARL_API PFN_Shell_NotifyIconW SetNotifyIconHook(PFN_Shell_NotifyIconW fn);

}  // namespace quarl
