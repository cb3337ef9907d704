// Window and control helpers shared by every window of the suite: label fonts,
// text setters that do not flicker, border restyling, centring, a short-lived
// store for the brushes of colour messages, and list-view shortcuts.
#pragma once

#include <windows.h>

#include "quarl/quarlapi.h"

namespace quarl {

constexpr int kTempStoreSlots = 12;
// ERROR_NOT_CAPABLE, which the MinGW headers lack.
constexpr DWORD kErrorNotCapable = 775;
extern QUARL_API HGDIOBJ hStoredObject[kTempStoreSlots];
extern QUARL_API volatile LONG nStoredObjectNext;

// WM_SETFONT with the bold, normal or underlined label font, redrawn.
QUARL_API LRESULT Embold(HWND dialog, int id);
QUARL_API LRESULT Emnormal(HWND dialog, int id);
QUARL_API LRESULT Emuline(HWND dialog, int id);

// Set the text only when it differs from the current one (no repaint, no
// WM_SETTEXT otherwise). 1 when equal, else the system's result; 0 without memory.
QUARL_API BOOL SetWindowTextW(HWND window, const wchar_t* text);
QUARL_API BOOL SetDlgItemTextW(HWND dialog, int id, const wchar_t* text);

// A static edge in place of a border or client edge.
QUARL_API BOOL EmStaticEdge(HWND dialog, int id);
// Not available: last error ERROR_NOT_CAPABLE, result 0.
QUARL_API BOOL EmSegoeWnd(HWND window);

// Whether visual styles are active (false when the theme library is missing).
QUARL_API BOOL IsThemeActive();
// Seam: tests force the themed (1) or the classic (0) look; -1 asks the system.
QUARL_API void SetThemeActiveOverride(int state);

// A static control that acts as a link: the dialog procedure passes every
// message through this for each link control. The result is the brush for
// WM_CTLCOLORSTATIC of this control, else 0. The hot state lives in the
// control's user-data word.
QUARL_API LRESULT HandleStaticLink(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
// Seam: where the link tests read the cursor from.
using PFN_GetCursorPos = BOOL(WINAPI*)(LPPOINT);
QUARL_API PFN_GetCursorPos SetCursorPosSource(PFN_GetCursorPos fn);

// Centres window over `over`, kept on the desktop; the result of the final move.
QUARL_API BOOL CenterWindow(HWND window, HWND over);
// The arithmetic of CenterWindow: where a window of rectangle w goes, centred
// over o and kept inside the desktop d (top-left corner wins).
QUARL_API POINT CenteredPosition(const RECT& w, const RECT& o, const RECT& d);

// Keeps a GDI object alive through the next 11 stores; the 12th deletes it.
// Safe from several threads at once.
QUARL_API HGDIOBJ GDITempStore(HGDIOBJ object);

QUARL_API int ListViewAddColumn(HWND listView, int index, const wchar_t* text, int width, int format);
// Sets the cell text only when it differs; always 1.
QUARL_API BOOL ListViewSetItemText(HWND listView, int item, int subItem, const wchar_t* text);
// -1 for item -1; 0 when the item does not exist.
QUARL_API LPARAM ListViewGetItemParam(HWND listView, int item);

}  // namespace quarl
