#include "quarl/base/controls.h"

#include <commctrl.h>

#include "quarl/base/strfmt.h"

namespace quarl::base {

BOOL SetWindowTextWhenChanged(HWND window, const wchar_t* text, PFN_SameText same) {
  if (!text) text = L"";
  // The whole current text: one that merely begins like the new one, or is cut
  // where a fixed buffer would end, must not count as equal.
  const int length = GetWindowTextLengthW(window);
  auto current = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, (size_t(length) + 1) * sizeof(wchar_t)));
  if (!current) return FALSE;
  current[0] = 0;
  ::GetWindowTextW(window, current, length + 1);
  const bool equal = same(current, text);
  HeapFree(GetProcessHeap(), 0, current);
  return equal ? TRUE : ::SetWindowTextW(window, text);
}

int ListViewAddColumn(HWND listView, int index, const wchar_t* text, int width, int format) {
  LVCOLUMNW col = {};
  col.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
  col.fmt = format;
  col.cx = width;
  col.pszText = const_cast<wchar_t*>(text);
  return int(SendMessageW(listView, LVM_INSERTCOLUMNW, WPARAM(index), reinterpret_cast<LPARAM>(&col)));
}

LPARAM ListViewGetItemParam(HWND listView, int item) {
  if (item == -1) return -1;
  LVITEMW li = {};
  li.mask = LVIF_PARAM | LVIF_INDENT;
  li.iItem = item;
  if (!SendMessageW(listView, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&li))) return 0;
  return li.lParam;
}

// ---- static link --------------------------------------------------------------------

namespace {

constexpr COLORREF kLinkColour = 0x640000;

bool CursorIn(const STATICLINK_STYLE& style, HWND control) {
  POINT pt = {};
  RECT rc;
  style.cursorPos(&pt);
  GetWindowRect(control, &rc);
  return PtInRect(&rc, pt) != 0;
}

void SetLinkCursor(HWND dialog, LPCWSTR which) {
  HCURSOR c = LoadCursorW(nullptr, which);
  SetClassLongPtrW(dialog, GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(c));
  SetCursor(c);
}

void SetLinkLook(const STATICLINK_STYLE& style, HWND dialog, HWND link, bool hot) {
  SendMessageW(link, WM_SETFONT, reinterpret_cast<WPARAM>(hot ? style.underline : style.normal), TRUE);
  SetLinkCursor(dialog, hot ? IDC_HAND : IDC_ARROW);
  SetWindowLongPtrW(link, GWLP_USERDATA, hot ? 1 : 0);
}

}  // namespace

LRESULT HandleStaticLink(const STATICLINK_STYLE& style, HWND dialog, int id, UINT message, WPARAM wParam,
                         LPARAM lParam) {
  HWND link = GetDlgItem(dialog, id);
  switch (message) {
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lParam) != link) return 0;
      SetTextColor(reinterpret_cast<HDC>(wParam), kLinkColour);
      SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    case WM_MOUSEMOVE: {
      const bool hot = GetWindowLongPtrW(link, GWLP_USERDATA) != 0;
      const bool in = CursorIn(style, link);
      if (in != hot) SetLinkLook(style, dialog, link, in);
      return 0;
    }
    case WM_LBUTTONUP:
      if (CursorIn(style, link)) {
        if (style.clickResets) SetLinkLook(style, dialog, link, false);
        SendMessageW(dialog, WM_COMMAND, WPARAM(id), 0);
      }
      return 0;
  }
  return 0;
}

// ---- notification-area icon ----------------------------------------------------------

namespace {
constexpr UINT kInterfaceVersion = 3;
constexpr UINT kBalloonTimeoutMs = 10000;
}  // namespace

void TrayInit(TRAYICON& t, HWND window, HICON icon, const wchar_t* tip, UINT id, UINT callbackMessage, UINT flags) {
  t.nid = NOTIFYICONDATAW();
  // The record's own size for this bitness (956 bytes in 32-bit, 976 in 64-bit).
  t.nid.cbSize = sizeof t.nid;
  t.nid.hWnd = window;
  t.nid.uID = id;
  t.nid.hIcon = icon;
  t.nid.uVersion = kInterfaceVersion;
  t.nid.uFlags = flags;
  CopyW(t.nid.szTip, 128, tip);
  t.nid.uCallbackMessage = callbackMessage;
}

BOOL TrayShow(TRAYICON& t, PFN_NotifyIcon notify) {
  if (t.shown) return FALSE;
  t.shown = TRUE;
  notify(NIM_ADD, &t.nid);
  notify(NIM_SETVERSION, &t.nid);
  return TRUE;
}

BOOL TrayBalloon(TRAYICON& t, PFN_NotifyIcon notify, const wchar_t* text, const wchar_t* title, DWORD infoFlags) {
  CopyW(t.nid.szInfo, 256, text);
  CopyW(t.nid.szInfoTitle, 64, title);
  t.nid.uFlags |= NIF_INFO;
  t.nid.dwInfoFlags = infoFlags;
  t.nid.uTimeout = kBalloonTimeoutMs;
  notify(NIM_MODIFY, &t.nid);
  t.nid.uFlags &= ~UINT(NIF_INFO);
  t.nid.szInfo[0] = 0;
  t.nid.szInfoTitle[0] = 0;
  t.nid.dwInfoFlags = 0;
  t.nid.uVersion = kInterfaceVersion;
  return TRUE;
}

BOOL TraySetIcon(TRAYICON& t, PFN_NotifyIcon notify, HICON icon) {
  t.nid.hIcon = icon;
  notify(NIM_MODIFY, &t.nid);
  return TRUE;
}

BOOL TrayDelete(TRAYICON& t, PFN_NotifyIcon notify) {
  if (!t.shown) return FALSE;
  t.shown = FALSE;
  return notify(NIM_DELETE, &t.nid);
}

}  // namespace quarl::base
