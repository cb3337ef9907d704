#include "quarl/winhelpers.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

#include <vector>

#include "quarl/appinfo.h"

namespace {

// Counts the given message on its way into a subclassed window.
struct MessageCounter {
  static inline UINT watched;
  static inline int count;
  static inline WNDPROC previous;
  static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == watched) ++count;
    return CallWindowProcW(previous, w, m, wp, lp);
  }
  static void Attach(HWND w, UINT message) {
    watched = message;
    count = 0;
    previous = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Proc)));
  }
  static void Detach(HWND w) { SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous)); }
};

TEST(WindowText, UnchangedTextSendsNothing) {
  HWND w = CreateWindowExW(0, L"STATIC", L"same", WS_POPUP, 0, 0, 50, 20, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, w);
  MessageCounter::Attach(w, WM_SETTEXT);
  EXPECT_TRUE(quarl::SetWindowTextW(w, L"same"));
  EXPECT_EQ(0, MessageCounter::count);
  EXPECT_TRUE(quarl::SetWindowTextW(w, L"other"));
  EXPECT_EQ(1, MessageCounter::count);
  EXPECT_TRUE(quarl::SetWindowTextW(w, L"other"));
  EXPECT_EQ(1, MessageCounter::count);
  MessageCounter::Detach(w);
  DestroyWindow(w);
}

TEST(WindowText, TheWholeTextIsCompared) {
  HWND w = CreateWindowExW(0, L"EDIT", L"", WS_POPUP, 0, 0, 50, 20, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, w);
  SendMessageW(w, EM_SETLIMITTEXT, 0, 0);
  // A long text, then its first 1023 characters: the window must show the cut
  // one (a fixed 1024-character read took them for equal).
  const std::wstring longer = std::wstring(1023, L'x') + L"tail", start(1023, L'x');
  ASSERT_TRUE(quarl::SetWindowTextW(w, longer.c_str()));
  MessageCounter::Attach(w, WM_SETTEXT);
  EXPECT_TRUE(quarl::SetWindowTextW(w, start.c_str()));
  EXPECT_EQ(1, MessageCounter::count);
  EXPECT_EQ(1023, GetWindowTextLengthW(w));
  EXPECT_TRUE(quarl::SetWindowTextW(w, longer.c_str()));
  EXPECT_TRUE(quarl::SetWindowTextW(w, longer.c_str()));  // long and unchanged: nothing sent
  EXPECT_EQ(2, MessageCounter::count);
  MessageCounter::Detach(w);
  DestroyWindow(w);
}

TEST(TempStore, ThirteenthStoreDeletesTheFirst) {
  HBRUSH first = CreateSolidBrush(RGB(1, 2, 3));
  EXPECT_EQ(first, quarl::GDITempStore(first));
  for (int i = 0; i < 11; ++i) quarl::GDITempStore(CreateSolidBrush(RGB(i, 0, 0)));
  EXPECT_EQ(DWORD(OBJ_BRUSH), GetObjectType(first));  // alive through 11 more stores
  quarl::GDITempStore(CreateSolidBrush(0));
  EXPECT_EQ(0u, GetObjectType(first));  // the 12th after it deleted it
}

DWORD WINAPI StoreMany(LPVOID p) {
  auto out = static_cast<std::vector<HBRUSH>*>(p);
  for (HBRUSH& b : *out) quarl::GDITempStore(b);
  return 0;
}

TEST(TempStoreThreaded, ThreadsNeverShareASlot) {
  // Two threads storing at once: in the end exactly twelve brushes are alive,
  // so none was deleted twice and none was lost without being deleted.
  std::vector<HBRUSH> a(400), b(400);
  for (size_t i = 0; i < a.size(); ++i) {
    a[i] = CreateSolidBrush(RGB(i & 0xFF, 1, 0));
    b[i] = CreateSolidBrush(RGB(i & 0xFF, 2, 0));
  }
  HANDLE t[2] = {CreateThread(nullptr, 0, StoreMany, &a, 0, nullptr),
                 CreateThread(nullptr, 0, StoreMany, &b, 0, nullptr)};
  WaitForMultipleObjects(2, t, TRUE, INFINITE);
  CloseHandle(t[0]);
  CloseHandle(t[1]);
  int alive = 0;
  for (HBRUSH h : a) alive += GetObjectType(h) == OBJ_BRUSH;
  for (HBRUSH h : b) alive += GetObjectType(h) == OBJ_BRUSH;
  EXPECT_EQ(quarl::kTempStoreSlots, alive);
}

TEST(Centring, PositionTable) {
  const RECT desk = {0, 0, 1280, 1024};
  struct Case {
    RECT w, over;
    POINT want;
  } cases[] = {
      {{0, 0, 200, 100}, {100, 100, 500, 400}, {200, 200}},        // centred over
      {{0, 0, 201, 101}, {100, 100, 500, 400}, {200, 200}},        // halves toward zero
      {{0, 0, 400, 300}, {1100, 900, 1280, 1024}, {880, 724}},     // kept inside right/bottom
      {{0, 0, 2000, 1500}, {100, 100, 500, 400}, {0, 0}},          // larger than the desktop
      {{0, 0, 300, 300}, {-200, -200, 0, 0}, {0, 0}},              // off the top-left
  };
  for (const Case& c : cases) {
    POINT p = quarl::CenteredPosition(c.w, c.over, desk);
    EXPECT_EQ(c.want.x, p.x);
    EXPECT_EQ(c.want.y, p.y);
  }
}

TEST(Centring, MovesTheWindow) {
  HWND over = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 100, 100, 400, 300, nullptr, nullptr, nullptr, nullptr);
  HWND w = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
  EXPECT_TRUE(quarl::CenterWindow(w, over));
  RECT rc;
  GetWindowRect(w, &rc);
  EXPECT_EQ(200, rc.left);
  EXPECT_EQ(200, rc.top);
  EXPECT_EQ(200, rc.right - rc.left);
  DestroyWindow(w);
  DestroyWindow(over);
}

class ListViewHelpers : public testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&icc);
    lv_ = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_POPUP | LVS_REPORT, 0, 0, 300, 200, nullptr, nullptr, nullptr,
                          nullptr);
    ASSERT_NE(nullptr, lv_);
  }
  void TearDown() override { DestroyWindow(lv_); }
  HWND lv_ = nullptr;
};

TEST_F(ListViewHelpers, ColumnsCellsAndParameters) {
  EXPECT_EQ(0, quarl::ListViewAddColumn(lv_, 0, L"Process", 160, LVCFMT_LEFT));
  EXPECT_EQ(1, quarl::ListViewAddColumn(lv_, 1, L"PID", 60, LVCFMT_RIGHT));
  LVITEMW it = {};
  it.mask = LVIF_TEXT | LVIF_PARAM;
  it.pszText = const_cast<wchar_t*>(L"a.exe");
  it.lParam = 1234;
  ASSERT_EQ(0, ListView_InsertItem(lv_, &it));

  MessageCounter::Attach(lv_, LVM_SETITEMTEXTW);
  EXPECT_TRUE(quarl::ListViewSetItemText(lv_, 0, 1, L"1234"));
  EXPECT_TRUE(quarl::ListViewSetItemText(lv_, 0, 1, L"1234"));
  EXPECT_EQ(1, MessageCounter::count);  // the second one changed nothing
  EXPECT_TRUE(quarl::ListViewSetItemText(lv_, 0, 1, L"1235"));
  EXPECT_EQ(2, MessageCounter::count);
  MessageCounter::Detach(lv_);
  wchar_t buf[16];
  ListView_GetItemText(lv_, 0, 1, buf, 16);
  EXPECT_STREQ(L"1235", buf);

  EXPECT_EQ(1234, quarl::ListViewGetItemParam(lv_, 0));
  EXPECT_EQ(0, quarl::ListViewGetItemParam(lv_, 5));
  EXPECT_EQ(-1, quarl::ListViewGetItemParam(nullptr, -1));  // never asks the control
}

TEST(ControlLook, EdgesThemeAndSegoe) {
  HWND dlg = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 200, 200, nullptr, nullptr, nullptr, nullptr);
  HWND c = CreateWindowExW(WS_EX_CLIENTEDGE, L"STATIC", L"", WS_CHILD | WS_BORDER, 0, 0, 50, 20, dlg,
                           reinterpret_cast<HMENU>(7), nullptr, nullptr);
  EXPECT_TRUE(quarl::EmStaticEdge(dlg, 7));
  EXPECT_FALSE(GetWindowLongPtrW(c, GWL_STYLE) & WS_BORDER);
  LONG_PTR ex = GetWindowLongPtrW(c, GWL_EXSTYLE);
  EXPECT_FALSE(ex & WS_EX_CLIENTEDGE);
  EXPECT_TRUE(ex & WS_EX_STATICEDGE);
  RECT rc;
  GetWindowRect(c, &rc);
  EXPECT_EQ(50, rc.right - rc.left);  // back to its size

  quarl::Embold(dlg, 7);
  EXPECT_EQ(reinterpret_cast<LRESULT>(quarl::hFontBold), SendMessageW(c, WM_GETFONT, 0, 0));

  SetLastError(0);
  EXPECT_FALSE(quarl::EmSegoeWnd(dlg));
  EXPECT_EQ(quarl::kErrorNotCapable, GetLastError());

  quarl::SetThemeActiveOverride(0);
  EXPECT_FALSE(quarl::IsThemeActive());
  quarl::SetThemeActiveOverride(1);
  EXPECT_TRUE(quarl::IsThemeActive());
  quarl::SetThemeActiveOverride(-1);
  EXPECT_TRUE(quarl::IsThemeActive());  // Wine has visual styles on
  DestroyWindow(dlg);
}

POINT g_cursor;
BOOL WINAPI FakeCursor(LPPOINT p) {
  *p = g_cursor;
  return TRUE;
}
int g_commands, g_lastCommand;
LRESULT CALLBACK LinkDialogProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_COMMAND) {
    ++g_commands;
    g_lastCommand = LOWORD(wp);
    return 0;
  }
  return DefWindowProcW(w, m, wp, lp);
}

TEST(StaticLink, HotStateFontAndClick) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = LinkDialogProc;
  wc.lpszClassName = L"LkLinkTestDialog";
  RegisterClassW(&wc);
  HWND dlg = CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 100, 100, 300, 200, nullptr, nullptr, nullptr,
                             nullptr);
  HWND link = CreateWindowExW(0, L"STATIC", L"www", WS_CHILD | WS_VISIBLE, 10, 10, 100, 20, dlg,
                              reinterpret_cast<HMENU>(9), nullptr, nullptr);
  ASSERT_NE(nullptr, link);
  quarl::SetCursorPosSource(FakeCursor);
  MessageCounter::Attach(link, WM_SETFONT);
  g_commands = 0;

  g_cursor = {130, 115};  // inside the link
  EXPECT_EQ(0, quarl::HandleStaticLink(dlg, 9, WM_MOUSEMOVE, 0, 0));
  quarl::HandleStaticLink(dlg, 9, WM_MOUSEMOVE, 0, 0);
  EXPECT_EQ(1, MessageCounter::count);  // underlined once
  EXPECT_EQ(reinterpret_cast<LRESULT>(quarl::hFontUnderline), SendMessageW(link, WM_GETFONT, 0, 0));
  EXPECT_EQ(1, GetWindowLongPtrW(link, GWLP_USERDATA));

  g_cursor = {300, 250};  // outside
  quarl::HandleStaticLink(dlg, 9, WM_MOUSEMOVE, 0, 0);
  EXPECT_EQ(reinterpret_cast<LRESULT>(quarl::hFontNormal), SendMessageW(link, WM_GETFONT, 0, 0));
  EXPECT_EQ(0, GetWindowLongPtrW(link, GWLP_USERDATA));
  quarl::HandleStaticLink(dlg, 9, WM_LBUTTONUP, 0, 0);
  EXPECT_EQ(0, g_commands);  // a click outside sends nothing

  g_cursor = {111, 111};
  quarl::HandleStaticLink(dlg, 9, WM_LBUTTONUP, 0, 0);
  EXPECT_EQ(1, g_commands);
  EXPECT_EQ(9, g_lastCommand);

  HDC dc = GetDC(link);
  EXPECT_EQ(reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE)),
            quarl::HandleStaticLink(dlg, 9, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                    reinterpret_cast<LPARAM>(link)));
  EXPECT_EQ(COLORREF(0x640000), GetTextColor(dc));
  EXPECT_EQ(0, quarl::HandleStaticLink(dlg, 9, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                       reinterpret_cast<LPARAM>(dlg)));
  ReleaseDC(link, dc);
  MessageCounter::Detach(link);
  quarl::SetCursorPosSource(nullptr);
  DestroyWindow(dlg);
}

}  // namespace
