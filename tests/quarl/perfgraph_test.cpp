#include <windows.h>

#include "quarl/perfgraph.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <iterator>
#include <type_traits>
#include <vector>

#include "quarl/appinfo.h"

namespace {

using quarl::PERFGRAPH;

static_assert(!std::is_copy_constructible_v<PERFGRAPH> && !std::is_copy_assignable_v<PERFGRAPH>,
              "a graph owns its storage, lock and surface: copies are forbidden");

// ---- fake clock and mouse -------------------------------------------------------

DWORD g_ticks;
SYSTEMTIME g_localTime;
DWORD WINAPI FakeTicks() { return g_ticks; }
void WINAPI FakeLocalTime(LPSYSTEMTIME st) { *st = g_localTime; }

// The mouse too: the 32- and 64-bit test programs may run at the same time on
// one display, so the real cursor is not theirs to move.
POINT g_cursor;
BOOL WINAPI FakeCursor(LPPOINT p) {
  *p = g_cursor;
  return TRUE;
}

void UseFakes(PERFGRAPH& g, DWORD ticks) {
  g_ticks = ticks;
  g.SetClock(FakeTicks, FakeLocalTime);
  g.SetCursorSource(FakeCursor);
}

constexpr COLORREF kBlack = 0;
constexpr COLORREF kGrid = 0x005000;

// Feeds more points than the graph can keep, spaced just over one interval, and
// counts how many of them can still be read back: that is the point count N.
DWORD ObservedPointCount(PERFGRAPH& g, DWORD interval, DWORD reg, DWORD limit) {
  for (DWORD i = 0; i < limit; ++i) EXPECT_TRUE(g.SetDataPoint(i + 1, 1000 + i * (interval + 1), reg));
  DWORD readable = 0;
  for (DWORD i = 0; i < limit; ++i)
    if (g.GetDataPoint(1000 + i * (interval + 1) + 1, reg) == i + 1) ++readable;
  return readable;
}

// ---- history ---------------------------------------------------------------------

TEST(PerfGraph, InitBuildsHistoryOfSpanOverIntervalPoints) {
  struct Case {
    DWORD span, interval, regs;
    bool ok;
    DWORD points, regCount;
  } cases[] = {
      {180000, 500, 3, true, 360, 3},  // the suite's graphs
      {100, 500, 1, false, 0, 0},      // span / interval is 0
      {1000, 0, 1, false, 0, 0},       // interval 0
      {0, 500, 1, true, 120, 1},       // span 0 means 60000
      {1999, 500, 0, true, 3, 1},      // count 0 means one register; N rounds down
  };
  for (const Case& c : cases) {
    PERFGRAPH g;
    SetLastError(0);
    EXPECT_EQ(c.ok, !!g.Init(c.span, c.interval, c.regs)) << c.span << "/" << c.interval;
    if (!c.ok) {
      EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError());
      EXPECT_FALSE(g.SetDataPoint(1, 1000, 0));
      continue;
    }
    EXPECT_EQ(c.points, ObservedPointCount(g, c.interval, c.regCount - 1, c.points + 3)) << c.span;
    SetLastError(0);
    EXPECT_FALSE(g.SetDataPoint(1, 1000, c.regCount));
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError());
  }
}

TEST(PerfGraph, ReInitAndDeleteStartOver) {
  PERFGRAPH g;
  ASSERT_TRUE(g.Init(180000, 500, 1));
  ASSERT_TRUE(g.SetDataPoint(7, 1000, 0));
  ASSERT_TRUE(g.Init(180000, 500, 2));
  EXPECT_EQ(0u, g.GetDataPoint(2000, 0));  // a fresh, empty history
  EXPECT_TRUE(g.SetDataPoint(7, 1000, 1));

  g.Delete();
  EXPECT_FALSE(g.IsClassReady());
  EXPECT_FALSE(g.SetDataPoint(8, 3000, 0));
  EXPECT_EQ(0u, g.GetDataPoint(3000, 1));
  ASSERT_TRUE(g.Init(180000, 500, 1));
  EXPECT_TRUE(g.IsClassReady());
  EXPECT_EQ(0u, g.GetDataPoint(3000, 0));
}

// Committed private memory of this process, from its address-space map (Wine's
// process memory counters do not follow heap commits).
uint64_t CommittedPrivateBytes() {
  uint64_t sum = 0;
  MEMORY_BASIC_INFORMATION mi;
  const char* p = nullptr;
  while (VirtualQuery(p, &mi, sizeof mi) == sizeof mi) {
    if (mi.State == MEM_COMMIT && mi.Type == MEM_PRIVATE) sum += mi.RegionSize;
    const char* next = static_cast<const char*>(mi.BaseAddress) + mi.RegionSize;
    if (next <= p) break;
    p = next;
  }
  return sum;
}

TEST(PerfGraph, DeleteAndReInitReleaseThePointStorage) {
  // About 96 MB of points per Init: 30 rounds leak 2.9 GB if the storage stays,
  // which a 32-bit process cannot even allocate.
  const DWORD span = 8000000, interval = 1;
  const uint64_t before = CommittedPrivateBytes();
  {
    PERFGRAPH g;
    for (int i = 0; i < 15; ++i) {
      ASSERT_TRUE(g.Init(span, interval, 1)) << i;
      g.Delete();
    }
    for (int i = 0; i < 15; ++i) ASSERT_TRUE(g.Init(span, interval, 1)) << i;
  }
  EXPECT_LT(CommittedPrivateBytes(), before + 300u * 1024 * 1024);
}

TEST(PerfGraph, SetDataPointRejectsCloseTooOldAndBeyondHistory) {
  PERFGRAPH g;
  ASSERT_TRUE(g.Init(1999, 500, 1));  // N = 3
  struct Step {
    DWORD time;
    bool accepted;
  } steps[] = {
      {1000, true},
      {1400, false},  // not more than one interval newer than 1000
      {1500, false},  // exactly one interval
      {1600, true},
      {2200, true},
      {200, false},   // older than the span before the newest point
      {400, false},   // within the span, but all 3 kept points are newer
  };
  for (const Step& s : steps) {
    SetLastError(0);
    EXPECT_EQ(s.accepted, !!g.SetDataPoint(s.time, s.time, 0)) << s.time;
    EXPECT_EQ(0u, GetLastError()) << s.time;  // rejections carry no error code
  }
  EXPECT_EQ(1000u, g.GetDataPoint(1450, 0));  // the dropped 1400 left 1000 in force
  EXPECT_EQ(1600u, g.GetDataPoint(1700, 0));
}

TEST(PerfGraph, GetDataPointHoldsEachValueUntilTheNextNewerPoint) {
  PERFGRAPH g;
  ASSERT_TRUE(g.Init(180000, 500, 1));
  EXPECT_EQ(0u, g.GetDataPoint(1000, 0));  // no points yet
  ASSERT_TRUE(g.SetDataPoint(10, 1000, 0));
  ASSERT_TRUE(g.SetDataPoint(20, 2000, 0));
  struct {
    DWORD time, value;
  } cases[] = {{2500, 20}, {2000, 10}, {1500, 10}, {1000, 10}, {500, 0}};
  for (const auto& c : cases) EXPECT_EQ(c.value, g.GetDataPoint(c.time, 0)) << c.time;
}

TEST(PerfGraph, ScalingInSixtyFourBitsWithSaturatedMaximum) {
  struct Case {
    DWORD fixedMax, value, scaled;
  } cases[] = {
      {0, 1000, 80},               // automatic maximum 1250
      {10000, 12000, 120},         // may exceed 100
      {0, 43000000, 80},           // 41 GB in KB: value × 100 wraps 32 bits
      {100000000, 50000000, 50},   // likewise with a fixed maximum
      {0, 4000000000u, 93},        // ×1.25 held at 0xFFFFFFFF instead of wrapping
      {1, 0xFFFFFFFFu, 0xFFFFFFFFu},  // the percentage itself saturates
  };
  for (const Case& c : cases) {
    PERFGRAPH g;
    ASSERT_TRUE(g.Init(180000, 500, 1));
    EXPECT_EQ(0u, g.GetScaledDataPoint(1000, 0));  // automatic maximum still 0
    ASSERT_TRUE(g.SetScaleMax(c.fixedMax, 0));
    ASSERT_TRUE(g.SetDataPoint(c.value, 1000, 0));
    EXPECT_EQ(c.scaled, g.GetScaledDataPoint(2000, 0)) << c.value;
  }
  // Back to automatic scaling: 1000 against 1250.
  PERFGRAPH g;
  ASSERT_TRUE(g.Init(180000, 500, 1));
  ASSERT_TRUE(g.SetScaleMax(10000, 0));
  ASSERT_TRUE(g.SetDataPoint(1000, 1000, 0));
  EXPECT_EQ(10u, g.GetScaledDataPoint(2000, 0));
  ASSERT_TRUE(g.SetScaleMax(0, 0));
  EXPECT_EQ(80u, g.GetScaledDataPoint(2000, 0));
}

TEST(PerfGraph, KeepsWorkingAcrossTheTickCountWrap) {
  PERFGRAPH g;
  ASSERT_TRUE(g.Init(180000, 500, 1));
  struct {
    DWORD time, value;
  } points[] = {{0xFFFFFB00u, 20}, {0xFFFFFD00u, 40}, {0xFFFFFF00u, 60}, {300, 80}, {900, 90}};
  for (const auto& p : points) EXPECT_TRUE(g.SetDataPoint(p.value, p.time, 0)) << p.time;
  EXPECT_FALSE(g.SetDataPoint(1, 1200, 0));  // still one interval from 900
  struct {
    DWORD time, value;
  } reads[] = {{1000, 90}, {600, 80}, {300, 80}, {0, 60}, {0xFFFFFE00u, 40},
               {0xFFFFFC00u, 20}, {0xFFFFFA00u, 0}};
  for (const auto& r : reads) EXPECT_EQ(r.value, g.GetDataPoint(r.time, 0)) << std::hex << r.time;
}

TEST(PerfGraph, RegisterOutOfRangeAndNotReady) {
  PERFGRAPH g;
  ASSERT_TRUE(g.Init(180000, 500, 2));
  const std::function<DWORD()> ops[] = {
      [&] { return DWORD(g.SetDataPoint(1, 1000, 2)); },
      [&] { return g.GetDataPoint(1000, 2); },
      [&] { return g.GetScaledDataPoint(1000, 2); },
      [&] { return DWORD(g.SetScaleMax(5, 2)); },
      [&] { return DWORD(g.SetRegisterDisplayInfo(L"n", L"u", 1, 0, 2)); },
  };
  for (size_t i = 0; i < std::size(ops); ++i) {
    SetLastError(0);
    EXPECT_EQ(0u, ops[i]()) << i;
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError()) << i;
  }
  SetLastError(0);
  EXPECT_FALSE(g.RenderBar(1, 0));
  EXPECT_EQ(DWORD(ERROR_NOT_SUPPORTED), GetLastError());

  PERFGRAPH idle;  // never initialised: everything but RenderIcon does nothing
  EXPECT_FALSE(idle.SetDataPoint(1, 1000, 0));
  EXPECT_EQ(0u, idle.GetDataPoint(1000, 0));
  EXPECT_EQ(nullptr, idle.RenderOpen(GetDesktopWindow(), nullptr, 500));
  EXPECT_FALSE(idle.RenderGrid());
  EXPECT_FALSE(idle.RenderClose());
  EXPECT_FALSE(idle.UpdateGraph(GetDesktopWindow(), nullptr));
  EXPECT_TRUE(idle.RenderIcon(nullptr));
}

// ---- rendering -------------------------------------------------------------------

// A hidden window of known place and size for the graph to measure, and a 32-bit
// memory bitmap that stands in for its DC.
class Canvas {
 public:
  Canvas(int x, int y, int w, int h) : w_(w), h_(h) {
    wnd_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, x, y, w, h, nullptr, nullptr, nullptr, nullptr);
    dc_ = CreateCompatibleDC(nullptr);
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    bmp_ = CreateDIBSection(dc_, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    old_ = SelectObject(dc_, bmp_);
    Clear(0x123456);
  }
  ~Canvas() {
    SelectObject(dc_, old_);
    DeleteObject(bmp_);
    DeleteDC(dc_);
    DestroyWindow(wnd_);
  }
  void Clear(COLORREF c) {
    HBRUSH b = CreateSolidBrush(c);
    RECT r = {0, 0, w_, h_};
    FillRect(dc_, &r, b);
    DeleteObject(b);
  }
  COLORREF Px(int x, int y) const { return GetPixel(dc_, x, y); }
  int CountColumns(int y, COLORREF c) const {
    int n = 0;
    for (int x = 0; x < w_; ++x) n += Px(x, y) == c;
    return n;
  }
  bool AnyPixel(RECT r, COLORREF c) const {
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x)
        if (Px(x, y) == c) return true;
    return false;
  }
  HWND wnd_;
  HDC dc_;
  int w_, h_;

 private:
  HBITMAP bmp_;
  HGDIOBJ old_;
};

TEST(PerfGraphRender, BlackBackgroundAndScrollingGrid) {
  Canvas c(0, 0, 100, 50);
  PERFGRAPH g;
  ASSERT_TRUE(g.Init(180000, 500, 1));
  UseFakes(g, 100000);
  ASSERT_NE(nullptr, g.RenderOpen(c.wnd_, c.dc_, 500));
  ASSERT_TRUE(g.RenderClose());
  EXPECT_EQ(c.w_, c.CountColumns(0, kBlack));
  EXPECT_EQ(c.w_, c.CountColumns(c.h_ - 1, kBlack));

  auto verticalLines = [&](int* first) {
    *first = -1;
    for (int x = 0; x < c.w_; ++x)
      if (c.Px(x, 5) == kGrid) {
        if (*first < 0) *first = x;
        EXPECT_EQ(0, (x - *first) % 10) << x;
      }
  };
  ASSERT_NE(nullptr, g.RenderOpen(c.wnd_, c.dc_, 500));
  ASSERT_TRUE(g.RenderGrid());
  ASSERT_TRUE(g.RenderClose());
  for (int y : {10, 20, 30, 40}) EXPECT_EQ(c.w_, c.CountColumns(y, kGrid)) << y;
  EXPECT_EQ(10, c.CountColumns(5, kGrid));
  int before;
  verticalLines(&before);
  ASSERT_GE(before, 0);
  EXPECT_EQ(kBlack, c.Px((before + 5) % 10, 15));

  // One step later the lines have moved two pixels to the left, with the data.
  g_ticks += 500;
  ASSERT_NE(nullptr, g.RenderOpen(c.wnd_, c.dc_, 500));
  ASSERT_TRUE(g.RenderGrid());
  ASSERT_TRUE(g.RenderClose());
  int after;
  verticalLines(&after);
  EXPECT_EQ((before + 8) % 10, after);
}

TEST(PerfGraphRender, OneMillisecondStepGridDoesNotDivideByZero) {
  Canvas c(0, 0, 40, 30);
  PERFGRAPH g;
  ASSERT_TRUE(g.Init(1000, 1, 1));
  UseFakes(g, 5000);
  ASSERT_NE(nullptr, g.RenderOpen(c.wnd_, c.dc_, 1));
  EXPECT_TRUE(g.RenderGrid());
  ASSERT_TRUE(g.RenderClose());
  EXPECT_EQ(c.w_, c.CountColumns(10, kGrid));
}

TEST(PerfGraphRender, PixelColumnsToTimes) {
  Canvas c(0, 0, 300, 20);
  PERFGRAPH g;
  ASSERT_TRUE(g.Init(180000, 500, 1));
  UseFakes(g, 123456);
  ASSERT_NE(nullptr, g.RenderOpen(c.wnd_, c.dc_, 100));  // below the interval: 500 applies
  EXPECT_EQ(123000u, g.RenderPosXToMs(300));
  EXPECT_EQ(123000u, g.RenderPosXToMs(299));
  EXPECT_EQ(122500u, g.RenderPosXToMs(298));
  EXPECT_EQ(123456u - 75000 - (123456u - 75000) % 500, g.RenderPosXToMs(0));  // 75 s across
  g.RenderClose();
}

// Points every second from `from` to `to` (both included) with one value.
void FeedFlat(PERFGRAPH& g, DWORD value, DWORD from, DWORD to) {
  for (DWORD t = from; t <= to; t += 1000) ASSERT_TRUE(g.SetDataPoint(value, t, 0)) << t;
}

TEST(PerfGraphRender, FillReachesTheScaledHeightAndClipsAboveTheTop) {
  // 100 × 50 pixels, 500 ms step: column 60 shows 90000, where the data begin.
  struct Case {
    DWORD fixedMax, value;
    int top;  // first filled row
  } cases[] = {
      {100, 30, 35}, {10000, 12000, 0}, {100000000, 50000000, 25}, {1, 0xFFFFFFFFu, 0}};
  Canvas c(0, 0, 100, 50);
  const COLORREF fill = 0x00A0C0;
  for (const Case& k : cases) {
    PERFGRAPH g;
    ASSERT_TRUE(g.Init(180000, 500, 1));
    UseFakes(g, 100000);
    g.SetScaleMax(k.fixedMax, 0);
    FeedFlat(g, k.value, 90000, 100000);
    ASSERT_NE(nullptr, g.RenderOpen(c.wnd_, c.dc_, 500));
    ASSERT_TRUE(g.RenderFill(fill, 0));
    ASSERT_TRUE(g.RenderClose());
    for (int x : {60, 80, 99}) {
      EXPECT_EQ(fill, c.Px(x, k.top)) << k.value << " x " << x;
      EXPECT_EQ(fill, c.Px(x, 49)) << k.value << " x " << x;
      if (k.top > 0) {
        EXPECT_EQ(kBlack, c.Px(x, k.top - 1)) << k.value << " x " << x;
      }
    }
    EXPECT_EQ(kBlack, c.Px(59, 49)) << k.value;  // before the first point
  }
}

TEST(PerfGraphRender, LineRisesWithAVerticalEdgeAndZeroLiesBelowTheBottom) {
  Canvas c(0, 0, 100, 50);
  PERFGRAPH g;
  ASSERT_TRUE(g.Init(180000, 500, 1));
  UseFakes(g, 100000);
  g.SetScaleMax(100, 0);
  FeedFlat(g, 30, 90000, 100000);
  const COLORREF line = 0x40FF40;
  ASSERT_NE(nullptr, g.RenderOpen(c.wnd_, c.dc_, 500));
  ASSERT_TRUE(g.RenderLine(line, 0));
  ASSERT_TRUE(g.RenderClose());
  EXPECT_EQ(line, c.Px(70, 35));
  EXPECT_EQ(kBlack, c.Px(70, 36));
  EXPECT_EQ(kBlack, c.Px(70, 34));
  // The column before the data: an edge from the bottom up to the line's row.
  for (int y : {49, 40, 35}) EXPECT_EQ(line, c.Px(59, y)) << y;
  EXPECT_EQ(kBlack, c.Px(59, 34));
  EXPECT_EQ(kBlack, c.Px(58, 40));
  EXPECT_EQ(0, c.CountColumns(49, line) - 1);  // only the edge column touches row 49
}

TEST(PerfGraphRender, PreWrapColumnsShowPreWrapValues) {
  Canvas c(0, 0, 40, 50);
  PERFGRAPH g;
  ASSERT_TRUE(g.Init(180000, 500, 1));
  g.SetScaleMax(100, 0);
  struct {
    DWORD time, value;
  } points[] = {{0xFFFFF000u, 20}, {0xFFFFFB00u, 20}, {0xFFFFFF00u, 60}, {300, 80}, {900, 90}};
  for (const auto& p : points) ASSERT_TRUE(g.SetDataPoint(p.value, p.time, 0));
  UseFakes(g, 1000);
  ASSERT_NE(nullptr, g.RenderOpen(c.wnd_, c.dc_, 500));
  ASSERT_TRUE(g.RenderFill(0xFFFFFF, 0));
  ASSERT_TRUE(g.RenderClose());
  // Column 40 - 10 shows 2500 ms before 1000, before the wrap: 20 % there.
  const DWORD t = g.RenderPosXToMs(30);
  ASSERT_TRUE(int32_t(t) < 0) << t;
  EXPECT_EQ(20u, g.GetScaledDataPoint(t, 0));
  EXPECT_EQ(0xFFFFFFu, c.Px(30, 40));
  EXPECT_EQ(kBlack, c.Px(30, 39));
  // The right edge shows 500, where the point at 300 (80 %) is in force.
  EXPECT_EQ(0xFFFFFFu, c.Px(39, 10));
  EXPECT_EQ(kBlack, c.Px(39, 9));
}

TEST(PerfGraphRender, OneCallGraphTitleAndIcon) {
  Canvas c(0, 0, 120, 50);
  PERFGRAPH g;
  ASSERT_TRUE(g.Init(180000, 500, 1));
  UseFakes(g, 100000);
  g.SetScaleMax(100, 0);
  FeedFlat(g, 50, 60000, 100000);
  // Fill in the colour shifted right by one bit, the grid, the line in the colour.
  ASSERT_TRUE(g.RenderGraph(c.wnd_, c.dc_, 0x00FF00, 500, 12345));
  // Row 25 is the line (drawn last); below it the fill, crossed by 12 grid lines.
  EXPECT_EQ(c.w_, c.CountColumns(25, 0x00FF00));
  EXPECT_EQ(c.w_ - 12, c.CountColumns(45, 0x007F80));
  EXPECT_EQ(c.w_, c.CountColumns(10, kGrid));

  ASSERT_NE(nullptr, g.RenderOpen(c.wnd_, c.dc_, 500));
  ASSERT_TRUE(g.RenderIcon(LoadIconW(nullptr, IDI_APPLICATION)));
  ASSERT_TRUE(g.RenderTitle(L"CPU Usage", 0x00FFFF));
  ASSERT_TRUE(g.RenderClose());
  EXPECT_FALSE(c.AnyPixel({0, 0, 120, 5}, 0x00FFFF));
  EXPECT_TRUE(c.AnyPixel({24, 6, 120, 21}, 0x00FFFF));
  bool iconDrawn = false;
  for (int y = 5; y < 21; ++y)
    for (int x = 5; x < 21; ++x) iconDrawn |= c.Px(x, y) != kBlack;
  EXPECT_TRUE(iconDrawn);
  EXPECT_EQ(kBlack, c.Px(22, 10));  // the icon stays within 16 pixels
}

// ---- hover readout and lock ----------------------------------------------------

// Draws `text` as the readout's clock line would, on black, for comparison.
void ReferenceClock(Canvas& ref, const wchar_t* text) {
  ref.Clear(kBlack);
  HGDIOBJ old = SelectObject(ref.dc_, quarl::hFontBold);
  SetBkMode(ref.dc_, TRANSPARENT);
  SetTextColor(ref.dc_, 0xFFFFFF);
  RECT r = {25, 24, 500, 50};
  DrawTextW(ref.dc_, text, -1, &r, DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(ref.dc_, old);
}

bool SameRows(const Canvas& a, const Canvas& b, int top, int bottom) {
  for (int y = top; y < bottom; ++y)
    for (int x = 0; x < a.w_; ++x)
      if (a.Px(x, y) != b.Px(x, y)) return false;
  return true;
}

class PerfGraphHover : public testing::Test {
 protected:
  static constexpr int kX = 300, kY = 200, kW = 160, kH = 100;
  void SetUp() override {
    ASSERT_TRUE(g_.Init(180000, 500, 3));
    UseFakes(g_, 100000);
    g_localTime = {2026, 12, 5, 11, 12, 34, 56, 0};
    g_.SetRegisterDisplayInfo(L"CPU", L"%", 0, 0x0000FF, 0);
    g_.SetRegisterDisplayInfo(L"", L"", 1, 0x00FF00, 1);  // hides itself and register 2
    g_.SetRegisterDisplayInfo(L"IO", L"KB/s", 1024, 0xFF0000, 2);
    for (DWORD reg = 0; reg < 3; ++reg)
      for (DWORD t = 60000; t <= 100000; t += 1000) ASSERT_TRUE(g_.SetDataPoint(5000, t, reg));
  }
  void Hover(bool inside) {
    // Column 144 of the window shows 4 seconds before the clock.
    g_cursor = inside ? POINT{kX + kW - 16, kY + 50} : POINT{kX - 50, kY - 50};
  }
  PERFGRAPH g_;
  Canvas c_{kX, kY, kW, kH};
};

TEST_F(PerfGraphHover, ReadoutWhileHoveringAndOnceMoreAfterLeaving) {
  Hover(true);
  ASSERT_NE(nullptr, g_.RenderOpen(c_.wnd_, c_.dc_, 500));
  ASSERT_TRUE(g_.RenderCloseEx(TRUE));
  // Legend mark of register 0 at rows 31 and 32, shifted 18 by the clock line.
  for (int x : {8, 17}) {
    EXPECT_EQ(COLORREF(0x0000FF), c_.Px(x, 49)) << x;
    EXPECT_EQ(COLORREF(0x0000FF), c_.Px(x, 50)) << x;
  }
  EXPECT_EQ(kBlack, c_.Px(18, 49));
  EXPECT_TRUE(c_.AnyPixel({25, 42, kW, 58}, 0xFFFFFF));  // label and value
  // The empty name ends the list: no row for register 1 or 2.
  EXPECT_FALSE(c_.AnyPixel({0, 58, kW, kH}, 0xFFFFFF));
  EXPECT_FALSE(c_.AnyPixel({0, 58, kW, kH}, 0xFF0000));
  // Clock: 12:34:56 local now, minus the 4 seconds between the column and the clock.
  Canvas ref(0, 0, kW, kH);
  ReferenceClock(ref, L"12:34:52");
  EXPECT_TRUE(SameRows(c_, ref, 24, 42));
  ReferenceClock(ref, L"12:34:56");
  EXPECT_FALSE(SameRows(c_, ref, 24, 42));

  // Leaving: one more redraw, from the clean surface, then nothing to do.
  Hover(false);
  c_.Clear(0x123456);
  EXPECT_TRUE(g_.UpdateGraph(c_.wnd_, c_.dc_));
  EXPECT_EQ(kBlack, c_.Px(8, 49));
  EXPECT_FALSE(c_.AnyPixel({0, 0, kW, kH}, 0xFFFFFF));
  c_.Clear(0x123456);
  EXPECT_FALSE(g_.UpdateGraph(c_.wnd_, c_.dc_));
  EXPECT_EQ(COLORREF(0x123456), c_.Px(8, 49));  // nothing drawn
  // RenderCloseEx then copies the plain surface itself.
  ASSERT_NE(nullptr, g_.RenderOpen(c_.wnd_, c_.dc_, 500));
  ASSERT_TRUE(g_.RenderCloseEx(TRUE));
  EXPECT_EQ(kBlack, c_.Px(8, 49));
}

TEST_F(PerfGraphHover, WithoutTheClockRowsStartHigher) {
  Hover(true);
  ASSERT_NE(nullptr, g_.RenderOpen(c_.wnd_, c_.dc_, 500));
  ASSERT_TRUE(g_.RenderCloseEx(FALSE));
  EXPECT_EQ(COLORREF(0x0000FF), c_.Px(10, 31));
  EXPECT_EQ(COLORREF(0x0000FF), c_.Px(10, 32));
  EXPECT_EQ(kBlack, c_.Px(10, 49));
  Hover(false);
  g_.UpdateGraph(c_.wnd_, c_.dc_, FALSE);
}

// The readout rows of a one-register graph whose value stands still under the
// cursor, as pixels, for comparing value texts.
std::vector<COLORREF> ReadoutRow(DWORD value, DWORD divisor) {
  Canvas c(300, 200, 160, 100);
  PERFGRAPH g;
  EXPECT_TRUE(g.Init(180000, 500, 1));
  UseFakes(g, 100000);
  g.SetRegisterDisplayInfo(L"IO", L"KB/s", divisor, 0xFF0000, 0);
  FeedFlat(g, value, 60000, 100000);
  g_cursor = {300 + 100, 200 + 50};
  EXPECT_NE(nullptr, g.RenderOpen(c.wnd_, c.dc_, 500));
  EXPECT_TRUE(g.RenderCloseEx(FALSE));
  std::vector<COLORREF> row;
  for (int y = 24; y < 40; ++y)
    for (int x = 0; x < c.w_; ++x) row.push_back(c.Px(x, y));
  return row;
}

TEST(PerfGraphReadout, ValueTextIsTheValueOverTheDivisor) {
  const std::vector<COLORREF> shown5000 = ReadoutRow(5000, 1);
  EXPECT_NE(std::count(shown5000.begin(), shown5000.end(), COLORREF(0xFFFFFF)), 0);
  EXPECT_EQ(shown5000, ReadoutRow(5000000, 1000));
  EXPECT_EQ(shown5000, ReadoutRow(5000999, 1000));  // integer division
  EXPECT_EQ(shown5000, ReadoutRow(5000, 0));        // divisor 0 counts as 1
  EXPECT_NE(shown5000, ReadoutRow(6000, 1));
}

// Another thread that does one data operation on the graph: it gets through
// only while the lock is free. A thread still stuck at the end is ended, so a
// leaked lock fails the test instead of hanging it.
class Prober {
 public:
  explicit Prober(PERFGRAPH& g) : g_(g) {}
  ~Prober() {
    if (thread_) {
      TerminateThread(thread_, 1);
      CloseHandle(thread_);
    }
  }
  bool GetsThrough(DWORD waitMs) {
    if (!thread_) thread_ = CreateThread(nullptr, 0, ReadOnce, &g_, 0, nullptr);
    if (!thread_ || WaitForSingleObject(thread_, waitMs) != WAIT_OBJECT_0) return false;
    CloseHandle(thread_);
    thread_ = nullptr;
    return true;
  }

 private:
  static DWORD WINAPI ReadOnce(void* p) { return static_cast<PERFGRAPH*>(p)->GetDataPoint(1000, 0); }
  PERFGRAPH& g_;
  HANDLE thread_ = nullptr;
};

TEST_F(PerfGraphHover, RenderingHoldsTheLockAndEveryExitReleasesIt) {
  Prober other(g_);
  // A rendering holds the lock, and data operations take it.
  ASSERT_NE(nullptr, g_.RenderOpen(c_.wnd_, c_.dc_, 500));
  EXPECT_FALSE(other.GetsThrough(200));
  ASSERT_TRUE(g_.RenderClose());
  ASSERT_TRUE(other.GetsThrough(10000));

  // A failed RenderOpen.
  EXPECT_EQ(nullptr, g_.RenderOpen(nullptr, c_.dc_, 500));
  ASSERT_TRUE(other.GetsThrough(10000));
  EXPECT_FALSE(g_.RenderClose());  // nothing open: no stray release

  // UpdateGraph's exit for a window that has gone, after the mouse was over it.
  Hover(true);
  ASSERT_NE(nullptr, g_.RenderOpen(c_.wnd_, c_.dc_, 500));
  ASSERT_TRUE(g_.RenderCloseEx(TRUE));
  ASSERT_TRUE(other.GetsThrough(10000));
  EXPECT_FALSE(g_.UpdateGraph(nullptr, c_.dc_));
  ASSERT_TRUE(other.GetsThrough(10000));
  Hover(false);
  EXPECT_FALSE(g_.UpdateGraph(c_.wnd_, c_.dc_));
  ASSERT_TRUE(other.GetsThrough(10000));
}

}  // namespace
