#include "quarl/winhelpers.h"

#include <commctrl.h>

#include "quarl/appinfo.h"
#include "quarl/base/controls.h"
#include "quarl/base/once.h"
#include "quarl/base/procaddr.h"

namespace quarl {

QUARL_API HGDIOBJ hStoredObject[kTempStoreSlots];
QUARL_API volatile LONG nStoredObjectNext;

namespace {

LRESULT SetFont(HWND dialog, int id, HFONT font) {
  return SendDlgItemMessageW(dialog, id, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

volatile LONG g_themeOnce;
BOOL(WINAPI* g_isThemeActive)();
volatile LONG g_themeOverride = -1;

}  // namespace

LRESULT Embold(HWND dialog, int id) { return SetFont(dialog, id, hFontBold); }
LRESULT Emnormal(HWND dialog, int id) { return SetFont(dialog, id, hFontNormal); }
LRESULT Emuline(HWND dialog, int id) { return SetFont(dialog, id, hFontUnderline); }

BOOL SetWindowTextW(HWND window, const wchar_t* text) {
  return base::SetWindowTextWhenChanged(window, text, [](const wchar_t* current, const wchar_t* wanted) {
    return CompareStringW(LOCALE_USER_DEFAULT, 0, current, -1, wanted, -1) == CSTR_EQUAL;
  });
}

BOOL SetDlgItemTextW(HWND dialog, int id, const wchar_t* text) {
  return quarl::SetWindowTextW(GetDlgItem(dialog, id), text);
}

BOOL EmStaticEdge(HWND dialog, int id) {
  HWND c = GetDlgItem(dialog, id);
  SetWindowLongPtrW(c, GWL_STYLE, GetWindowLongPtrW(c, GWL_STYLE) & ~LONG_PTR(WS_BORDER));
  SetWindowLongPtrW(c, GWL_EXSTYLE,
                    (GetWindowLongPtrW(c, GWL_EXSTYLE) & ~LONG_PTR(WS_EX_CLIENTEDGE)) | WS_EX_STATICEDGE);
  // A size change makes the system recompute the frame.
  RECT rc;
  GetWindowRect(c, &rc);
  const UINT flags = SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE;
  SetWindowPos(c, nullptr, 0, 0, rc.right - rc.left + 1, rc.bottom - rc.top, flags);
  SetWindowPos(c, nullptr, 0, 0, rc.right - rc.left, rc.bottom - rc.top, flags);
  return TRUE;
}

BOOL EmSegoeWnd(HWND) {
  SetLastError(kErrorNotCapable);
  return FALSE;
}

void SetThemeActiveOverride(int state) { InterlockedExchange(&g_themeOverride, state); }

BOOL IsThemeActive() {
  if (g_themeOverride >= 0) return g_themeOverride != 0;
  RunOnce(&g_themeOnce, [] {
    g_isThemeActive = BindProc<BOOL(WINAPI*)()>(LoadLibraryW(L"uxtheme.dll"), "IsThemeActive");
  });
  return g_isThemeActive && g_isThemeActive();
}

namespace {
PFN_GetCursorPos g_cursorPos = ::GetCursorPos;
}  // namespace

PFN_GetCursorPos SetCursorPosSource(PFN_GetCursorPos fn) {
  PFN_GetCursorPos old = g_cursorPos;
  g_cursorPos = fn ? fn : ::GetCursorPos;
  return old;
}

LRESULT HandleStaticLink(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
  const base::STATICLINK_STYLE style = {hFontNormal, hFontUnderline, g_cursorPos, true};
  return base::HandleStaticLink(style, dialog, id, message, wParam, lParam);
}

POINT CenteredPosition(const RECT& w, const RECT& o, const RECT& d) {
  const LONG width = w.right - w.left, height = w.bottom - w.top;
  LONG left = o.left + (o.right - o.left) / 2 - width / 2;
  LONG top = o.top + (o.bottom - o.top) / 2 - height / 2;
  if (left + width > d.right) left -= left + width - d.right;
  if (top + height > d.bottom) top -= top + height - d.bottom;
  if (left < 0) left = 0;
  if (top < 0) top = 0;
  return {left, top};
}

BOOL CenterWindow(HWND window, HWND over) {
  RECT w, o, d;
  GetWindowRect(window, &w);
  GetWindowRect(over, &o);
  GetWindowRect(GetDesktopWindow(), &d);
  POINT p = CenteredPosition(w, o, d);
  return SetWindowPos(window, nullptr, p.x, p.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HGDIOBJ GDITempStore(HGDIOBJ object) {
  // The slot is claimed atomically, so painting threads never share one; the
  // order is 1, 2, ..., 11, 0, 1, ...
  DWORD slot = DWORD(InterlockedIncrement(&nStoredObjectNext)) % kTempStoreSlots;
  HGDIOBJ old = InterlockedExchangePointer(&hStoredObject[slot], object);
  if (old) DeleteObject(old);
  return object;
}

int ListViewAddColumn(HWND listView, int index, const wchar_t* text, int width, int format) {
  return base::ListViewAddColumn(listView, index, text, width, format);
}

BOOL ListViewSetItemText(HWND listView, int item, int subItem, const wchar_t* text) {
  // Room for a whole cell of 512 characters and one more, so that a longer
  // text is never taken as equal to its cut copy.
  wchar_t current[513] = L"";
  LVITEMW li = {};
  li.iSubItem = subItem;
  li.pszText = current;
  li.cchTextMax = 513;
  SendMessageW(listView, LVM_GETITEMTEXTW, WPARAM(item), reinterpret_cast<LPARAM>(&li));
  if (wcscmp(current, text ? text : L"") != 0) {
    li.pszText = const_cast<wchar_t*>(text);
    SendMessageW(listView, LVM_SETITEMTEXTW, WPARAM(item), reinterpret_cast<LPARAM>(&li));
  }
  return TRUE;
}

LPARAM ListViewGetItemParam(HWND listView, int item) { return base::ListViewGetItemParam(listView, item); }

}  // namespace quarl
