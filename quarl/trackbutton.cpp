#include "quarl/trackbutton.h"

#include <commctrl.h>

#include "quarl/appinfo.h"
#include <initializer_list>

#include "quarl/base/objhdr.h"
#include "quarl/winhelpers.h"

namespace quarl {
namespace {

constexpr uint32_t kSigLive = Sig('Q', 'T', 'B', 'N');
constexpr uint32_t kSigTag = Sig('T', 'R', 'A', 'K');
constexpr int kBmpHot = 107, kBmpPressed = 108, kBmpFramed = 109, kBmpFocused = 110;
constexpr COLORREF kTextColour = 0x640000;
constexpr COLORREF kClassicFrame = 0x6A240A, kClassicPressed = 0xB59285, kClassicHot = 0xD2BDB6;

struct TRACKBUTTON {
  OBJHEADER hdr;
  WNDPROC previous;
  HBITMAP hot, focused, pressed, framedBitmap;
  BOOL framed;
  HWND button;
  BOOL hotFlag;
};

TRACKBUTTON* RecordOf(HWND button) {
  auto r = reinterpret_cast<TRACKBUTTON*>(GetWindowLongPtrW(button, GWLP_USERDATA));
  return r && r->hdr.sig1 == kSigLive ? r : nullptr;
}

COLORREF Shift(COLORREF c, int by) {
  auto ch = [by](int v) { return v + by < 0 ? 0 : v + by > 255 ? 255 : v + by; };
  return RGB(ch(GetRValue(c)), ch(GetGValue(c)), ch(GetBValue(c)));
}

void FrameAndFill(HDC dc, const RECT& c, COLORREF frame, COLORREF fill, HBRUSH fillBrush) {
  HBRUSH f = CreateSolidBrush(frame);
  FrameRect(dc, &c, f);
  DeleteObject(f);
  RECT in = c;
  InflateRect(&in, -1, -1);
  if (fillBrush) {
    FillRect(dc, &in, fillBrush);
  } else {
    HBRUSH b = CreateSolidBrush(fill);
    FillRect(dc, &in, b);
    DeleteObject(b);
  }
}

// The 5 x 22 template: 2 x 2 corners, 1 x 2 top and bottom edges, 2 x 18 side
// edges and a 1 x 4 centre, stretched over the client rectangle.
void NineSlice(HDC dc, const RECT& c, HBITMAP bmp) {
  HDC mem = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(mem, bmp);
  const int w = c.right - c.left, h = c.bottom - c.top;
  SetStretchBltMode(dc, COLORONCOLOR);
  BitBlt(dc, c.left, c.top, 2, 2, mem, 0, 0, SRCCOPY);
  BitBlt(dc, c.right - 2, c.top, 2, 2, mem, 3, 0, SRCCOPY);
  BitBlt(dc, c.left, c.bottom - 2, 2, 2, mem, 0, 20, SRCCOPY);
  BitBlt(dc, c.right - 2, c.bottom - 2, 2, 2, mem, 3, 20, SRCCOPY);
  StretchBlt(dc, c.left + 2, c.top, w - 4, 2, mem, 2, 0, 1, 2, SRCCOPY);
  StretchBlt(dc, c.left + 2, c.bottom - 2, w - 4, 2, mem, 2, 20, 1, 2, SRCCOPY);
  StretchBlt(dc, c.left, c.top + 2, 2, h - 4, mem, 0, 2, 2, 18, SRCCOPY);
  StretchBlt(dc, c.right - 2, c.top + 2, 2, h - 4, mem, 3, 2, 2, 18, SRCCOPY);
  StretchBlt(dc, c.left + 2, c.top + 2, w - 4, h - 4, mem, 2, 2, 1, 4, SRCCOPY);
  SelectObject(mem, old);
  DeleteDC(mem);
}

void Paint(TRACKBUTTON* r, HDC dc) {
  HWND btn = r->button;
  RECT c;
  GetClientRect(btn, &c);
  HBRUSH back = reinterpret_cast<HBRUSH>(SendMessageW(GetParent(btn), WM_CTLCOLORDLG, 0, 0));
  if (!back) back = GetSysColorBrush(COLOR_BTNFACE);
  FillRect(dc, &c, back);

  const LRESULT state = SendMessageW(btn, BM_GETSTATE, 0, 0);
  const bool pressed = state & BST_PUSHED, focused = state & BST_FOCUS;
  if (IsThemeActive()) {
    HBITMAP bmp = pressed ? r->pressed : r->hotFlag ? r->hot : focused ? r->focused : r->framed ? r->framedBitmap : nullptr;
    if (bmp) {
      NineSlice(dc, c, bmp);
      // Rounded corners: the corner pixels take the background.
      const POINT corners[4] = {{c.left, c.top}, {c.right - 1, c.top}, {c.left, c.bottom - 1}, {c.right - 1, c.bottom - 1}};
      for (const POINT& p : corners) {
        RECT px = {p.x, p.y, p.x + 1, p.y + 1};
        FillRect(dc, &px, back);
      }
    }
  } else {
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    if (pressed) FrameAndFill(dc, c, kClassicFrame, kClassicPressed, nullptr);
    else if (r->hotFlag) FrameAndFill(dc, c, kClassicFrame, kClassicHot, nullptr);
    else if (focused) FrameAndFill(dc, c, Shift(face, -32), Shift(face, 4), nullptr);
    else if (r->framed) FrameAndFill(dc, c, Shift(face, -32), 0, back);
  }

  RECT t = c;
  InflateRect(&t, -6, -2);
  HICON icon = reinterpret_cast<HICON>(SendMessageW(btn, WM_GETICON, ICON_SMALL, 0));
  if (icon) t.left += 21;
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, kTextColour);
  HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(btn, WM_GETFONT, 0, 0)));
  wchar_t text[256] = L"";
  GetWindowTextW(btn, text, 256);
  const LRESULT ui = SendMessageW(btn, WM_QUERYUISTATE, 0, 0);
  const UINT prefix = (ui & UISF_HIDEACCEL) ? DT_HIDEPREFIX : 0;

  RECT s = t, m = t;
  DrawTextW(dc, text, -1, &s, DT_SINGLELINE | DT_END_ELLIPSIS | DT_CALCRECT | prefix);
  DrawTextW(dc, text, -1, &m, DT_WORDBREAK | DT_CALCRECT | prefix);
  const int h = c.bottom - c.top;
  if (TrackButtonIsOneLine(s, m, c)) {
    OffsetRect(&s, 0, -1 - (s.bottom - c.bottom) / 2);
    s.right = t.right;
    DrawTextW(dc, text, -1, &s, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | prefix);
    if (icon) DrawIconEx(dc, c.left + 6, c.top + h / 2 - 8, icon, 16, 16, 0, nullptr, DI_NORMAL);
  } else {
    OffsetRect(&m, 0, -1 - (m.bottom - c.bottom) / 2);
    DrawTextW(dc, text, -1, &m, DT_WORDBREAK | prefix);
    if (icon) DrawIconEx(dc, c.left + 6, m.top + 2, icon, 16, 16, 0, nullptr, DI_NORMAL);
  }
  SelectObject(dc, oldFont);
  if (!(ui & UISF_HIDEFOCUS) && GetFocus() == btn) {
    RECT f = c;
    InflateRect(&f, -2, -2);
    DrawFocusRect(dc, &f);
  }
  // The parent hands out a brush that may be deleted (a system brush ignores it).
  DeleteObject(back);
}

void Free(TRACKBUTTON* r) {
  for (HBITMAP b : {r->hot, r->focused, r->pressed, r->framedBitmap})
    if (b) DeleteObject(b);
  HeaderMarkDeleted(r->hdr);
  HeapFree(GetProcessHeap(), 0, r);
}

void Redraw(HWND w) {
  InvalidateRect(w, nullptr, TRUE);
  UpdateWindow(w);
}

LRESULT CALLBACK TrackProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  TRACKBUTTON* r = RecordOf(w);
  if (!r) return DefWindowProcW(w, msg, wp, lp);
  switch (msg) {
    case WM_PAINT: {
      ValidateRect(w, nullptr);
      HDC dc = GetDC(w);
      Paint(r, dc);
      ReleaseDC(w, dc);
      return 0;
    }
    case WM_MOUSEMOVE:
      if (!r->hotFlag) {
        r->hotFlag = TRUE;
        TRACKMOUSEEVENT tme = {sizeof tme, TME_LEAVE, w, 0};
        TrackMouseEvent(&tme);
        Redraw(w);
      }
      return 1;
    case WM_MOUSELEAVE:
      if (r->hotFlag) {
        r->hotFlag = FALSE;
        Redraw(w);
      }
      return 1;
    case WM_NCDESTROY: {
      // The last message: the button gets its own procedure back and the
      // message still reaches it, so what it frees there is freed.
      WNDPROC previous = r->previous;
      SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
      SetWindowLongPtrW(w, GWLP_USERDATA, 0);
      Free(r);
      return CallWindowProcW(previous, w, msg, wp, lp);
    }
  }
  return CallWindowProcW(r->previous, w, msg, wp, lp);
}

}  // namespace

BOOL TrackButtonIsOneLine(const RECT& single, const RECT& wrapped, const RECT& client) {
  return wrapped.bottom == single.bottom || wrapped.bottom - wrapped.top >= client.bottom - client.top - 4;
}

__attribute__((noinline)) BOOL SubClassTrackButton(HWND button, BOOL framed) {
  auto r = static_cast<TRACKBUTTON*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(TRACKBUTTON)));
  if (!r) return FALSE;
  HeaderSet(r->hdr, kSigLive, kSigTag, QUARL_CALLER_ADDRESS(), sizeof *r);
  HINSTANCE lib = hInstQUARLDll;
  r->hot = LoadBitmapW(lib, MAKEINTRESOURCEW(kBmpHot));
  r->focused = LoadBitmapW(lib, MAKEINTRESOURCEW(kBmpFocused));
  r->pressed = LoadBitmapW(lib, MAKEINTRESOURCEW(kBmpPressed));
  r->framedBitmap = LoadBitmapW(lib, MAKEINTRESOURCEW(kBmpFramed));
  r->framed = framed;
  r->button = button;
  SetWindowLongPtrW(button, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(r));
  r->previous = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TrackProc)));
  return TRUE;
}

BOOL DrawTrackButton(HWND button, HDC dc) {
  TRACKBUTTON* r = RecordOf(button);
  if (!r) return FALSE;
  Paint(r, dc);
  return TRUE;
}

}  // namespace quarl
