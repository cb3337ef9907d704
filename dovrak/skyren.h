// The compatibility runtime's user-interface helpers: the warning dialog that
// sizes itself to its texts, a notification-area icon, the static link, two
// list-view shortcuts and the shell's run dialog.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "dovrak/dovrakapi.h"
#include "quarl/base/controls.h"

// Dialog 1018 of the library over the owner: the heading in bold above the text,
// the title as caption (the template's when empty); any text may be null.
// 1 (OK) or 2 (cancel, Escape, close box).
BRVT_API INT_PTR SKRN_ShowWarning(HWND owner, const wchar_t* heading, const wchar_t* text, const wchar_t* title);
// The same dialog under its second name.
BRVT_API INT_PTR SKRN_ShowInfo(HWND owner, const wchar_t* heading, const wchar_t* text, const wchar_t* title);

// What the warning dialog hands its procedure; the texts are never null.
struct SKRN_WARNINGPARAM {
  const wchar_t* title;
  const wchar_t* heading;
  const wchar_t* text;
  DWORD reserved;  // 0
};

// Where the warning dialog puts its parts (client pixels), from the measured
// heights of the word-wrapped heading and text (ignored when that text is empty).
struct SKRN_WARNINGLAYOUT {
  BOOL showHeading;
  RECT heading;
  BOOL showText;
  RECT text;
  POINT ok;     // the OK button's top-left corner; it keeps its size
  SIZE client;  // the client area the window is sized for
};
// The OK button keeps 10 pixels to the right edge: at x 269 for the template's
// 75-pixel button, further left where the dialog font makes it wider.
constexpr int SKRN_WARNING_TEXT_WIDTH = 290;
constexpr int SKRN_WARNING_OK_WIDTH = 75;
BRVT_API SKRN_WARNINGLAYOUT SKRN_LayoutWarning(BOOL hasHeading, int headingHeight, BOOL hasText, int textHeight,
                                               int okWidth = SKRN_WARNING_OK_WIDTH);
// The window size that gives the layout's client area: the whole frame around
// it (left and top edges included, so nothing on the right or bottom is cut).
BRVT_API SIZE SKRN_WarningWindowSize(const SKRN_WARNINGLAYOUT& layout, DWORD style, DWORD exStyle);

// A notification-area icon; as quarl::_SYSTRAYICON, except that Init also sets
// the info flag, so the (empty) balloon fields travel with every add and change
// until a balloon has been shown.
class BRVT_API SKRN_SYSTRAYICON {
 public:
  SKRN_SYSTRAYICON();
  BOOL Init(HWND window, HICON icon, const wchar_t* tip, UINT id, UINT callbackMessage);
  BOOL Show();
  BOOL ShowBallonTip(const wchar_t* text, const wchar_t* title, UINT unused, DWORD infoFlags);
  BOOL SetIcon(HICON icon);
  BOOL Delete();

  BOOL IsShown() const { return icon.shown; }
  const NOTIFYICONDATAW& Data() const { return icon.nid; }

 private:
  quarl::base::TRAYICON icon;  // the shown flag, then the system's record
};
// Seam: tests watch what is sent to the notification area. Null restores the system.
BRVT_API quarl::base::PFN_NotifyIcon SKRN_SetNotifyIconHook(quarl::base::PFN_NotifyIcon fn);

// A static control as a link, with the runtime's fonts. A click inside sends the
// dialog WM_COMMAND with the id and leaves the hover look until the cursor has
// left the link. The result is the brush for WM_CTLCOLORSTATIC of this control,
// else 0.
BRVT_API LRESULT SKRN_HandleStaticLink(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
// Seam: where the link reads the cursor from. Null restores the system.
BRVT_API BOOL(WINAPI* SKRN_SetCursorPosSource(BOOL(WINAPI* fn)(LPPOINT)))(LPPOINT);

BRVT_API int SKRN_ListViewAddColumn(HWND listView, int index, const wchar_t* text, int width, int format);
BRVT_API LPARAM SKRN_ListViewGetItemParam(HWND listView, int item);

// The shell's run-file dialog (SHELL32 ordinal 61) with the title and prompt; the
// shell works out the working folder from the file name. Nothing happens when
// the shell lacks that entry.
BRVT_API void SKRN_OpenRunDialog(HWND owner, const wchar_t* title, const wchar_t* prompt);
