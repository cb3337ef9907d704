// The logic of the control helpers that both runtimes offer (list-view
// shortcuts, the static link, the notification-area icon record); each runtime
// keeps its own fonts, seams and exported names around these.
#pragma once

#include <windows.h>
#include <shellapi.h>

namespace quarl::base {

// Sets a window's text only when `same` finds it different from the whole current
// text, so that unchanged texts neither flicker nor cost a repaint. TRUE when
// equal or set; FALSE when the current text could not be read into memory.
using PFN_SameText = bool (*)(const wchar_t* current, const wchar_t* text);
BOOL SetWindowTextWhenChanged(HWND window, const wchar_t* text, PFN_SameText same);

int ListViewAddColumn(HWND listView, int index, const wchar_t* text, int width, int format);
// -1 for item -1 (the list view is not asked); 0 when the item does not exist.
LPARAM ListViewGetItemParam(HWND listView, int item);

// How one runtime's static links look and behave.
struct STATICLINK_STYLE {
  HFONT normal;
  HFONT underline;
  BOOL(WINAPI* cursorPos)(LPPOINT);
  // Whether a click inside the link also puts it back to its normal look at once.
  bool clickResets;
};
// The colour message (the brush for this control, else 0), the hover look on
// mouse moves, and the command on a click inside the link. The hot flag lives
// in the control's user-data word.
LRESULT HandleStaticLink(const STATICLINK_STYLE& style, HWND dialog, int id, UINT message, WPARAM wParam,
                         LPARAM lParam);

using PFN_NotifyIcon = BOOL(WINAPI*)(DWORD message, PNOTIFYICONDATAW data);

// A notification-area icon: the shown flag and the system's record (its own
// size for this bitness). Each runtime's class wraps one of these.
struct TRAYICON {
  BOOL shown;
  NOTIFYICONDATAW nid;
};
// Fills the record with the given flags (the tip cut to 127 characters).
void TrayInit(TRAYICON& t, HWND window, HICON icon, const wchar_t* tip, UINT id, UINT callbackMessage, UINT flags);
BOOL TrayShow(TRAYICON& t, PFN_NotifyIcon notify);
// The balloon is sent once: afterwards its texts and the info flag are cleared
// (an Init that set the flag included), so that the icon changes of every
// refresh neither bring it back (texts kept) nor dismiss it (empty texts with
// the flag), and the field the system shares with the version holds it again.
BOOL TrayBalloon(TRAYICON& t, PFN_NotifyIcon notify, const wchar_t* text, const wchar_t* title, DWORD infoFlags);
BOOL TraySetIcon(TRAYICON& t, PFN_NotifyIcon notify, HICON icon);
BOOL TrayDelete(TRAYICON& t, PFN_NotifyIcon notify);

}  // namespace quarl::base
