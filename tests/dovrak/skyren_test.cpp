// The compatibility runtime's user-interface helpers: the self-sizing warning
// dialog, the tray icon, the static link, list-view shortcuts and the run dialog.
#include "dovrak/skyren.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dovrak/runtime.h"
#include "resources/dovrak86_ids.h"
#include "tests/common/testutil.h"

namespace {

// ---- warning dialog --------------------------------------------------------------------

TEST(WarningLayout, FollowsTheHeightsOfHeadingAndText) {
  struct Case {
    BOOL heading;
    int h1;
    BOOL text;
    int h2;
    RECT headingRect, textRect;
    LONG okTop;
  } cases[] = {
      {FALSE, 0, FALSE, 0, {}, {}, 43},                                  // empty: the least height
      {TRUE, 13, FALSE, 0, {54, 11, 344, 24}, {}, 43},                   // 31, raised to 43
      {TRUE, 40, FALSE, 0, {54, 11, 344, 51}, {}, 58},                   // the button follows the heading
      {FALSE, 0, TRUE, 13, {}, {54, 11, 344, 24}, 43},                   // 35, raised
      {FALSE, 0, TRUE, 52, {}, {54, 11, 344, 63}, 74},                   // 11 + 52 + 11
      {TRUE, 13, TRUE, 26, {54, 11, 344, 24}, {54, 31, 344, 57}, 68},    // text below the heading
      {TRUE, 26, TRUE, 104, {54, 11, 344, 37}, {54, 44, 344, 148}, 159},
  };
  for (const Case& c : cases) {
    const SKRN_WARNINGLAYOUT l = SKRN_LayoutWarning(c.heading, c.h1, c.text, c.h2);
    const std::string at = std::to_string(c.h1) + "/" + std::to_string(c.h2);
    EXPECT_EQ(c.heading, l.showHeading) << at;
    EXPECT_EQ(c.text, l.showText) << at;
    if (c.heading) {
      EXPECT_TRUE(EqualRect(&c.headingRect, &l.heading)) << at;
    }
    if (c.text) {
      EXPECT_TRUE(EqualRect(&c.textRect, &l.text)) << at;
    }
    EXPECT_EQ(269, l.ok.x) << at;
    EXPECT_EQ(c.okTop, l.ok.y) << at;
    EXPECT_EQ(354, l.client.cx) << at;
    EXPECT_EQ(c.okTop + 53, l.client.cy) << at;
  }
}

struct WarningArgs {
  const wchar_t* heading;
  const wchar_t* text;
  const wchar_t* title;
  bool info;
};
INT_PTR RunWarning(void* p) {
  auto a = static_cast<WarningArgs*>(p);
  return a->info ? SKRN_ShowInfo(nullptr, a->heading, a->text, a->title)
                 : SKRN_ShowWarning(nullptr, a->heading, a->text, a->title);
}

std::wstring Text(HWND w) {
  wchar_t buf[512] = L"";
  GetWindowTextW(w, buf, 512);
  return buf;
}
RECT ClientRectOf(HWND dialog, int id) {
  RECT rc;
  HWND c = GetDlgItem(dialog, id);
  GetWindowRect(c, &rc);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rc), 2);
  return rc;
}
int Measured(HWND dialog, int id, HFONT font, const wchar_t* text) {
  HDC dc = GetDC(GetDlgItem(dialog, id));
  HGDIOBJ old = SelectObject(dc, font);
  RECT rc = {0, 0, SKRN_WARNING_TEXT_WIDTH, 0};
  DrawTextW(dc, text, -1, &rc, DT_CALCRECT | DT_WORDBREAK);
  SelectObject(dc, old);
  ReleaseDC(GetDlgItem(dialog, id), dc);
  return rc.bottom;
}

// The real dialog under the test display: what it shows, where, and its size.
TEST(WarningDialog, PlacesItsPartsAndSizesItself) {
  const wchar_t* longText =
      L"Larkspan could not terminate the process. The process may have ended already, or it may be protected "
      L"against access by other users; restart Larkspan with full access to try again.";
  struct Case {
    WarningArgs args;
    const wchar_t* caption;
    INT_PTR dismiss;
  } cases[] = {
      {{L"Build Information", longText, L"Quenby Larkspan", false}, L"Quenby Larkspan", IDOK},
      {{nullptr, L"Larkspan cannot pause itself.", L"Pause Process", true}, L"Pause Process", IDCANCEL},
      {{L"Thread not found.", nullptr, L"", false}, L"Warning", IDOK},  // the template's caption
      {{nullptr, nullptr, nullptr, false}, L"Warning", IDCANCEL},
  };
  for (Case& c : cases) {
    testutil::ModalRun run(RunWarning, &c.args);
    HWND dialog = run.NextWindow();
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(c.caption, Text(dialog));
    const bool hasHeading = c.args.heading && *c.args.heading, hasText = c.args.text && *c.args.text;
    HWND heading = GetDlgItem(dialog, IDC_SKRN_HEADING), text = GetDlgItem(dialog, IDC_SKRN_TEXT);
    // The dialog itself is shown only once it is activated: the controls' own style.
    auto shown = [](HWND w) { return (GetWindowLongW(w, GWL_STYLE) & WS_VISIBLE) != 0; };
    EXPECT_EQ(hasHeading, shown(heading));
    EXPECT_EQ(hasText, shown(text));
    EXPECT_FALSE(shown(GetDlgItem(dialog, IDC_SKRN_CHECK)));
    EXPECT_EQ(reinterpret_cast<LRESULT>(BRVT_hFontBold), SendMessageW(heading, WM_GETFONT, 0, 0));

    const int h1 = hasHeading ? Measured(dialog, IDC_SKRN_HEADING, BRVT_hFontBold, c.args.heading) : 0;
    const int h2 = hasText ? Measured(dialog, IDC_SKRN_TEXT, BRVT_hFontNormal, c.args.text) : 0;
    RECT okSize;
    GetWindowRect(GetDlgItem(dialog, IDOK), &okSize);
    const SKRN_WARNINGLAYOUT l = SKRN_LayoutWarning(hasHeading, h1, hasText, h2, okSize.right - okSize.left);
    if (hasHeading) {
      RECT rc = ClientRectOf(dialog, IDC_SKRN_HEADING);
      EXPECT_TRUE(EqualRect(&l.heading, &rc)) << rc.left << "," << rc.top << "," << rc.right << "," << rc.bottom;
      EXPECT_EQ(c.args.heading, Text(heading));
    }
    if (hasText) {
      RECT rc = ClientRectOf(dialog, IDC_SKRN_TEXT);
      EXPECT_TRUE(EqualRect(&l.text, &rc)) << rc.left << "," << rc.top << "," << rc.right << "," << rc.bottom;
      EXPECT_EQ(c.args.text, Text(text));
    }
    if (hasText && wcslen(c.args.text) > 100) {
      EXPECT_GT(h2, h1);  // the long text wraps
    }
    RECT ok = ClientRectOf(dialog, IDOK);
    EXPECT_EQ(l.ok.x, ok.left);
    EXPECT_EQ(l.ok.y, ok.top);
    // The whole client area of the layout: nothing on the right or bottom is cut.
    RECT client;
    GetClientRect(dialog, &client);
    EXPECT_EQ(354, client.right);
    EXPECT_EQ(l.client.cy, client.bottom);
    EXPECT_LE(ok.right, client.right - 10);
    SendMessageW(dialog, WM_COMMAND, WPARAM(c.dismiss), 0);
    EXPECT_EQ(c.dismiss, run.Finish());
  }
}

TEST(WarningLayout, OkKeepsItsMarginWhateverItsWidth) {
  EXPECT_EQ(269, SKRN_LayoutWarning(FALSE, 0, FALSE, 0, 75).ok.x);  // the template's button in Tahoma
  EXPECT_EQ(254, SKRN_LayoutWarning(FALSE, 0, FALSE, 0, 90).ok.x);  // a wider dialog font
}

// ---- tray icon ---------------------------------------------------------------------------

struct Sent {
  DWORD message;
  UINT flags;
  std::wstring info;
};
std::vector<Sent> g_sent;
BOOL WINAPI Record(DWORD message, PNOTIFYICONDATAW d) {
  g_sent.push_back({message, d->uFlags, d->szInfo});
  return TRUE;
}

TEST(SkyrenTray, BalloonFieldsTravelUntilABalloonWasShown) {
  g_sent.clear();
  SKRN_SetNotifyIconHook(Record);
  SKRN_SYSTRAYICON icon;
  EXPECT_FALSE(icon.IsShown());
  EXPECT_FALSE(icon.Delete());
  icon.Init(nullptr, LoadIconW(nullptr, IDI_APPLICATION), L"Larkspan", 1035, 4500);
  EXPECT_EQ(sizeof(NOTIFYICONDATAW), icon.Data().cbSize);
  EXPECT_EQ(4500u, icon.Data().uCallbackMessage);
  EXPECT_TRUE(icon.Show());
  EXPECT_FALSE(icon.Show());
  icon.SetIcon(LoadIconW(nullptr, IDI_WARNING));
  icon.ShowBallonTip(L"CPU load is high", L"Larkspan", 0, NIIF_INFO);
  icon.SetIcon(LoadIconW(nullptr, IDI_APPLICATION));
  EXPECT_TRUE(icon.Delete());
  SKRN_SetNotifyIconHook(nullptr);

  const UINT all = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO;
  ASSERT_EQ(6u, g_sent.size());
  EXPECT_EQ(DWORD(NIM_ADD), g_sent[0].message);
  EXPECT_EQ(all, g_sent[0].flags);  // empty balloon fields with the add
  EXPECT_EQ(L"", g_sent[0].info);
  EXPECT_EQ(DWORD(NIM_SETVERSION), g_sent[1].message);
  EXPECT_EQ(all, g_sent[2].flags);  // and with a change
  EXPECT_EQ(L"CPU load is high", g_sent[3].info);
  EXPECT_EQ(all, g_sent[3].flags);
  // After the balloon the next refresh's icon neither shows it again nor dismisses it.
  EXPECT_EQ(DWORD(NIM_MODIFY), g_sent[4].message);
  EXPECT_EQ(all & ~UINT(NIF_INFO), g_sent[4].flags);
  EXPECT_EQ(L"", g_sent[4].info);
  EXPECT_EQ(DWORD(NIM_DELETE), g_sent[5].message);
}

// ---- static link and list view -------------------------------------------------------------

POINT g_cursor;
BOOL WINAPI FakeCursor(LPPOINT p) {
  *p = g_cursor;
  return TRUE;
}
int g_commands;
LRESULT CALLBACK LinkHost(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_COMMAND && LOWORD(wp) == 9) ++g_commands;
  return DefWindowProcW(w, m, wp, lp);
}

TEST(SkyrenLink, AClickKeepsTheHoverLookUntilTheCursorLeaves) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = LinkHost;
  wc.lpszClassName = L"LkSkyrenLinkHost";
  RegisterClassW(&wc);
  HWND dlg = CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 100, 100, 200, 100, nullptr, nullptr, nullptr,
                             nullptr);
  HWND link = CreateWindowExW(0, L"STATIC", L"link", WS_CHILD | WS_VISIBLE, 10, 10, 50, 14, dlg,
                              reinterpret_cast<HMENU>(9), nullptr, nullptr);
  SKRN_SetCursorPosSource(FakeCursor);
  g_commands = 0;
  g_cursor = {115, 115};  // inside
  SKRN_HandleStaticLink(dlg, 9, WM_MOUSEMOVE, 0, 0);
  EXPECT_EQ(reinterpret_cast<LRESULT>(BRVT_hFontUnderline), SendMessageW(link, WM_GETFONT, 0, 0));
  SKRN_HandleStaticLink(dlg, 9, WM_LBUTTONUP, 0, 0);
  EXPECT_EQ(1, g_commands);
  EXPECT_EQ(reinterpret_cast<LRESULT>(BRVT_hFontUnderline), SendMessageW(link, WM_GETFONT, 0, 0));
  EXPECT_EQ(1, GetWindowLongPtrW(link, GWLP_USERDATA));
  g_cursor = {300, 300};
  SKRN_HandleStaticLink(dlg, 9, WM_LBUTTONUP, 0, 0);
  EXPECT_EQ(1, g_commands);  // a click outside sends nothing
  SKRN_HandleStaticLink(dlg, 9, WM_MOUSEMOVE, 0, 0);
  EXPECT_EQ(reinterpret_cast<LRESULT>(BRVT_hFontNormal), SendMessageW(link, WM_GETFONT, 0, 0));
  EXPECT_EQ(0, GetWindowLongPtrW(link, GWLP_USERDATA));
  SKRN_SetCursorPosSource(nullptr);
  DestroyWindow(dlg);
}

TEST(SkyrenListView, ColumnsAndParameters) {
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&icc);
  HWND lv = CreateWindowExW(0, WC_LISTVIEWW, L"", LVS_REPORT, 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, lv);
  EXPECT_EQ(0, SKRN_ListViewAddColumn(lv, 0, L"Process", 80, LVCFMT_LEFT));
  EXPECT_EQ(1, SKRN_ListViewAddColumn(lv, 5, L"PID", 40, LVCFMT_RIGHT));
  LVITEMW item = {};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.pszText = const_cast<wchar_t*>(L"a");
  item.lParam = 4242;
  ASSERT_EQ(0, SendMessageW(lv, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  EXPECT_EQ(4242, SKRN_ListViewGetItemParam(lv, 0));
  EXPECT_EQ(0, SKRN_ListViewGetItemParam(lv, 7));
  EXPECT_EQ(-1, SKRN_ListViewGetItemParam(lv, -1));
  DestroyWindow(lv);
}

// ---- the shell's run dialog -------------------------------------------------------------------

INT_PTR RunShellRun(void*) {
  SKRN_OpenRunDialog(nullptr, L"Run Program", L"Type the name of a program to start.");
  return 1;
}

TEST(SkyrenRunDialog, ShowsTheShellsDialogWithTheTitle) {
  testutil::ModalRun run(RunShellRun, nullptr);
  HWND dialog = run.NextWindow();
  ASSERT_NE(nullptr, dialog);
  EXPECT_EQ(L"Run Program", Text(dialog));
  PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(1, run.Finish());
}

}  // namespace
