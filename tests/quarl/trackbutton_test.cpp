#include "quarl/trackbutton.h"

#include <gtest/gtest.h>

#include <vector>

#include "quarl/appinfo.h"
#include "quarl/winhelpers.h"

namespace {

TEST(TrackButtonLayout, OneLineOrWrapped) {
  const RECT client = {0, 0, 120, 40};
  struct Case {
    RECT single, wrapped;
    bool oneLine;
  } cases[] = {
      {{6, 2, 80, 15}, {6, 2, 80, 15}, true},     // fits on one line
      {{6, 2, 114, 15}, {6, 2, 100, 28}, false},  // two lines fit in the button: wrapped
      {{6, 2, 114, 15}, {6, 2, 100, 38}, true},   // would fill the button: one line, cut
      {{6, 2, 114, 15}, {6, 2, 100, 41}, true},
  };
  for (const Case& c : cases) EXPECT_EQ(c.oneLine, bool(quarl::TrackButtonIsOneLine(c.single, c.wrapped, client)));
}

// A parent that hands out a known background and a button to subclass.
class TrackButton : public testing::Test {
 protected:
  static constexpr COLORREF kBack = RGB(200, 210, 220);
  static LRESULT CALLBACK ParentProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_CTLCOLORDLG) return reinterpret_cast<LRESULT>(CreateSolidBrush(kBack));
    return DefWindowProcW(w, m, wp, lp);
  }
  static inline std::vector<UINT> seen;
  static inline WNDPROC original;
  static LRESULT CALLBACK Watch(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_DESTROY || m == WM_NCDESTROY) seen.push_back(m);
    return CallWindowProcW(original, w, m, wp, lp);
  }
  void SetUp() override {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ParentProc;
    wc.lpszClassName = L"LkTrackParent";
    RegisterClassW(&wc);
    parent_ = CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr, nullptr, nullptr);
    button_ = CreateWindowExW(0, L"BUTTON", L"Go", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 10, 10, 120, 40, parent_,
                              reinterpret_cast<HMENU>(1), nullptr, nullptr);
    ASSERT_NE(nullptr, button_);
    seen.clear();
    original = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(button_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Watch)));
    ASSERT_TRUE(quarl::SubClassTrackButton(button_, FALSE));
    dc_ = CreateCompatibleDC(nullptr);
    HDC screen = GetDC(nullptr);
    bmp_ = CreateCompatibleBitmap(screen, 120, 40);
    ReleaseDC(nullptr, screen);
    old_ = SelectObject(dc_, bmp_);
  }
  void TearDown() override {
    quarl::SetThemeActiveOverride(-1);
    SelectObject(dc_, old_);
    DeleteObject(bmp_);
    DeleteDC(dc_);
    if (IsWindow(parent_)) DestroyWindow(parent_);
  }
  COLORREF Draw(int x, int y) {
    quarl::DrawTrackButton(button_, dc_);
    return GetPixel(dc_, x, y);
  }
  HWND parent_ = nullptr, button_ = nullptr;
  HDC dc_ = nullptr;
  HBITMAP bmp_ = nullptr;
  HGDIOBJ old_ = nullptr;
};

TEST_F(TrackButton, ClassicLookFollowsTheState) {
  quarl::SetThemeActiveOverride(0);
  EXPECT_EQ(kBack, Draw(1, 1));  // plain: only the background
  SendMessageW(button_, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(COLORREF(0x6A240A), Draw(0, 20));  // hot frame
  EXPECT_EQ(COLORREF(0xD2BDB6), Draw(2, 2));   // hot fill
  SendMessageW(button_, BM_SETSTATE, TRUE, 0);
  EXPECT_EQ(COLORREF(0xB59285), Draw(2, 2));  // pressed wins over hot
  SendMessageW(button_, BM_SETSTATE, FALSE, 0);
  SendMessageW(button_, WM_MOUSELEAVE, 0, 0);
  EXPECT_EQ(kBack, Draw(2, 2));
}

TEST_F(TrackButton, ThemedLookUsesTheTemplatesWithRoundedCorners) {
  quarl::SetThemeActiveOverride(1);
  EXPECT_EQ(kBack, Draw(1, 1));
  // The hot template as the library holds it, read through the same kind of DC.
  HBITMAP hot = LoadBitmapW(quarl::GetQUARLInstance(), MAKEINTRESOURCEW(107));
  ASSERT_NE(nullptr, hot);
  HDC mem = CreateCompatibleDC(dc_);
  HGDIOBJ old = SelectObject(mem, hot);
  const COLORREF edge = GetPixel(mem, 2, 0), centre = GetPixel(mem, 2, 2);
  SelectObject(mem, old);
  DeleteDC(mem);
  DeleteObject(hot);
  EXPECT_NE(edge, centre);

  SendMessageW(button_, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(kBack, Draw(0, 0));    // corner pixel rounded off
  EXPECT_EQ(edge, Draw(60, 0));    // the top edge, stretched
  EXPECT_EQ(centre, Draw(3, 30));  // the centre, stretched
}

TEST_F(TrackButton, DestroyRestoresTheProcedureAndPassesTheLastMessageOn) {
  DestroyWindow(parent_);
  // Both messages reached the procedure under the track button.
  EXPECT_EQ((std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}), seen);
}

}  // namespace
