#include "quarl/perfgraph.h"

#include <cstdint>

#include "quarl/appinfo.h"
#include "quarl/base/strfmt.h"

namespace quarl {
namespace {

constexpr uint32_t kSig1 = Sig('Q', 'R', 'L', 'P');
constexpr uint32_t kSig2 = Sig('G', 'R', 'P', 'H');
constexpr DWORD kReadyMarker = 0xAABBCCDD;
constexpr DWORD kDefaultSpan = 60000;
constexpr COLORREF kGridColour = 0x005000;

// Tick times are compared by their signed distance, so the history keeps working
// when the tick count wraps after 49.7 days (points lie far less than 24.8 days
// apart).
inline bool After(DWORD a, DWORD b) { return int32_t(a - b) > 0; }
inline bool AtOrAfter(DWORD a, DWORD b) { return int32_t(a - b) >= 0; }

DWORD SaturateToDword(uint64_t v) { return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : DWORD(v); }

void* ZeroAlloc(uint64_t bytes) {
  if (bytes == 0 || bytes > SIZE_MAX) return nullptr;
  return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, SIZE_T(bytes));
}

struct Pen {
  Pen(HDC dc, COLORREF c) : dc_(dc), pen_(CreatePen(PS_SOLID, 1, c)) {
    old_ = pen_ ? SelectObject(dc_, pen_) : nullptr;
  }
  ~Pen() {
    if (old_) SelectObject(dc_, old_);
    if (pen_) DeleteObject(pen_);
  }
  HDC dc_;
  HPEN pen_;
  HGDIOBJ old_;
};

}  // namespace

PERFGRAPH::PERFGRAPH() {
  ZeroMemory(static_cast<void*>(this), sizeof *this);
  // The lock lives as long as the object, so Init and Delete can run under it.
  InitializeCriticalSection(&lock_);
  ticks_ = ::GetTickCount;
  localTime_ = ::GetLocalTime;
  cursor_ = ::GetCursorPos;
  HeaderSet(hdr_, kSig1, kSig2, QUARL_CALLER_ADDRESS(), sizeof *this);
}

PERFGRAPH::~PERFGRAPH() {
  Delete();
  DeleteCriticalSection(&lock_);
}

void PERFGRAPH::SetCursorSource(PFN_PerfGraphCursor cursor) {
  cursor_ = cursor ? cursor : ::GetCursorPos;
}

void PERFGRAPH::SetClock(PFN_PerfGraphTicks ticks, PFN_PerfGraphLocalTime localTime) {
  ticks_ = ticks ? ticks : ::GetTickCount;
  localTime_ = localTime ? localTime : ::GetLocalTime;
}

BOOL PERFGRAPH::IsClassReady() const { return HeaderIs(hdr_, kSig1, kSig2); }
BOOL PERFGRAPH::IsInitOK() const { return IsClassReady() && ready_ == kReadyMarker; }

void PERFGRAPH::ReleaseStorage() {
  if (regs_) {
    for (DWORD i = 0; i < regCount_; ++i)
      if (regs_[i].points) HeapFree(GetProcessHeap(), 0, regs_[i].points);
    HeapFree(GetProcessHeap(), 0, regs_);
  }
  regs_ = nullptr;
  regCount_ = 0;
  pointCount_ = 0;
}

void PERFGRAPH::ReleaseSurface() {
  // Deleting the DC first deselects its bitmap, which can then be deleted.
  if (surfaceDC_) DeleteDC(surfaceDC_);
  if (surfaceBitmap_) DeleteObject(surfaceBitmap_);
  surfaceDC_ = nullptr;
  surfaceBitmap_ = nullptr;
}

__attribute__((noinline)) BOOL PERFGRAPH::Init(DWORD spanMs, DWORD intervalMs, DWORD registerCount) {
  EnterCriticalSection(&lock_);
  HeaderSet(hdr_, kSig1, kSig2, QUARL_CALLER_ADDRESS(), sizeof *this);
  ready_ = 0;
  ReleaseStorage();
  span_ = spanMs ? spanMs : kDefaultSpan;
  interval_ = intervalMs;
  step_ = intervalMs;
  regCount_ = 0;
  DWORD regs = registerCount ? registerCount : 1;
  DWORD n = intervalMs ? span_ / intervalMs : 0;
  BOOL ok = FALSE;
  if (n == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
  } else {
    regs_ = static_cast<REGISTER*>(ZeroAlloc(uint64_t(regs) * sizeof(REGISTER)));
    ok = regs_ != nullptr;
    if (ok) regCount_ = regs;
    for (DWORD i = 0; ok && i < regs; ++i) {
      regs_[i].points = static_cast<POINTREC*>(ZeroAlloc((uint64_t(n) + 1) * sizeof(POINTREC)));
      ok = regs_[i].points != nullptr;
    }
    if (ok) {
      pointCount_ = n;
      ready_ = kReadyMarker;
    } else {
      ReleaseStorage();
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
  }
  LeaveCriticalSection(&lock_);
  return ok;
}

BOOL PERFGRAPH::Delete() {
  if (!IsClassReady()) return FALSE;
  EnterCriticalSection(&lock_);
  ReleaseSurface();
  ReleaseStorage();
  ready_ = 0;
  HeaderMarkDeleted(hdr_);
  LeaveCriticalSection(&lock_);
  return FALSE;
}

BOOL PERFGRAPH::CheckRegister(DWORD reg) const {
  if (reg < regCount_) return TRUE;
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

// ---- data -----------------------------------------------------------------------

BOOL PERFGRAPH::SetDataPoint(DWORD value, DWORD time, DWORD reg) {
  if (!IsInitOK()) return FALSE;
  EnterCriticalSection(&lock_);
  BOOL ok = FALSE;
  if (CheckRegister(reg)) {
    REGISTER& r = regs_[reg];
    POINTREC* p = r.points;
    const DWORD n = pointCount_;
    bool reject = p[0].used && After(p[0].time, time) && p[0].time - time > span_;
    DWORD j = 0;
    for (; !reject && j < n; ++j) {
      if (!p[j].used) break;
      if (AtOrAfter(p[j].time, time)) continue;
      // Samples closer than one interval to the older neighbour are dropped.
      if (time - p[j].time <= interval_) reject = true;
      break;
    }
    if (!reject && j < n) {
      if (j == 0) MoveMemory(p + 1, p, SIZE_T(n) * sizeof(POINTREC));
      p[j].value = value;
      p[j].time = time;
      p[j].used = 1;
      if (value > r.autoMax) {
        // ×1.25 in single precision as the graphs always scaled, held below the
        // top of the range instead of wrapping for values above 3,435,973,836.
        float grown = float(value) * 1.25f;
        r.autoMax = grown >= 4294967296.0f ? 0xFFFFFFFFu : DWORD(grown);
      }
      ok = TRUE;
    }
  }
  LeaveCriticalSection(&lock_);
  return ok;
}

DWORD PERFGRAPH::ValueAt(DWORD time, DWORD reg) const {
  const POINTREC* p = regs_[reg].points;
  if (!p[0].used) return 0;
  if (After(time, p[0].time)) return p[0].value;
  for (DWORD i = 1; i < pointCount_ && p[i].used; ++i)
    if (AtOrAfter(p[i - 1].time, time) && AtOrAfter(time, p[i].time)) return p[i].value;
  return 0;
}

DWORD PERFGRAPH::ScaledAt(DWORD time, DWORD reg) const {
  const REGISTER& r = regs_[reg];
  DWORD max = r.fixedMax ? r.fixedMax : r.autoMax;
  if (max == 0) return 0;
  // In 64 bits: value × 100 wraps 32 bits above 42,949,672.
  return SaturateToDword(uint64_t(ValueAt(time, reg)) * 100 / max);
}

DWORD PERFGRAPH::GetDataPoint(DWORD time, DWORD reg) {
  if (!IsInitOK()) return 0;
  EnterCriticalSection(&lock_);
  DWORD v = CheckRegister(reg) ? ValueAt(time, reg) : 0;
  LeaveCriticalSection(&lock_);
  return v;
}

DWORD PERFGRAPH::GetScaledDataPoint(DWORD time, DWORD reg) {
  if (!IsInitOK()) return 0;
  EnterCriticalSection(&lock_);
  DWORD v = CheckRegister(reg) ? ScaledAt(time, reg) : 0;
  LeaveCriticalSection(&lock_);
  return v;
}

BOOL PERFGRAPH::SetScaleMax(DWORD maximum, DWORD reg) {
  if (!IsInitOK()) return FALSE;
  EnterCriticalSection(&lock_);
  BOOL ok = CheckRegister(reg);
  if (ok) regs_[reg].fixedMax = maximum;
  LeaveCriticalSection(&lock_);
  return ok;
}

BOOL PERFGRAPH::SetRegisterDisplayInfo(const wchar_t* name, const wchar_t* unit, DWORD divisor,
                                       COLORREF colour, DWORD reg) {
  if (!IsInitOK()) return FALSE;
  EnterCriticalSection(&lock_);
  BOOL ok = CheckRegister(reg);
  if (ok) {
    REGISTER& r = regs_[reg];
    CopyW(r.name, 128, name ? name : L"");
    CopyW(r.unit, 32, unit ? unit : L"");
    r.divisor = divisor ? divisor : 1;
    r.colour = colour;
  }
  LeaveCriticalSection(&lock_);
  return ok;
}

// ---- rendering --------------------------------------------------------------------

DWORD PERFGRAPH::PosToMs(LONG x) const {
  // 64-bit product: a wide window times a long step exceeds 32 bits.
  int64_t back = (int64_t(draw_.right) - x) * int64_t(step_) / 2;
  DWORD t = refTime_ - DWORD(uint64_t(back));
  return step_ ? t - t % step_ : t;
}

DWORD PERFGRAPH::RenderPosXToMs(LONG x) {
  if (!IsInitOK()) return 0;
  EnterCriticalSection(&lock_);
  DWORD t = PosToMs(x);
  LeaveCriticalSection(&lock_);
  return t;
}

LONG PERFGRAPH::ScaledToY(DWORD percent) const {
  int64_t height = int64_t(draw_.bottom) - draw_.top;
  int64_t y = draw_.bottom - int64_t(percent) * height / 100;
  // Values above the scale are clipped one row above the top, not wrapped.
  return y < draw_.top - 1 ? draw_.top - 1 : LONG(y);
}

HDC PERFGRAPH::RenderOpen(HWND window, HDC dc, DWORD stepMs) {
  if (!IsInitOK()) return nullptr;
  EnterCriticalSection(&lock_);
  // Opened twice on this thread: keep one hold of the lock, not two.
  if (rendering_) LeaveCriticalSection(&lock_);
  rendering_ = FALSE;
  ReleaseSurface();
  window_ = window;
  if (!window) {
    LeaveCriticalSection(&lock_);
    return nullptr;
  }
  targetDC_ = dc;
  ownDC_ = FALSE;
  if (!targetDC_) {
    targetDC_ = GetDC(window);
    ownDC_ = targetDC_ != nullptr;
  }
  step_ = stepMs > interval_ ? stepMs : interval_;
  refTime_ = ticks_();
  GetClientRect(window, &client_);
  draw_ = {0, 0, client_.right - client_.left, client_.bottom - client_.top};
  if (targetDC_) {
    surfaceDC_ = CreateCompatibleDC(targetDC_);
    surfaceBitmap_ = CreateCompatibleBitmap(targetDC_, draw_.right, draw_.bottom);
  }
  if (!surfaceDC_ || !surfaceBitmap_) {
    ReleaseSurface();
    if (ownDC_) ReleaseDC(window, targetDC_);
    ownDC_ = FALSE;
    targetDC_ = nullptr;
    LeaveCriticalSection(&lock_);
    return nullptr;
  }
  SelectObject(surfaceDC_, surfaceBitmap_);
  PatBlt(surfaceDC_, 0, 0, draw_.right, draw_.bottom, BLACKNESS);
  rendering_ = TRUE;
  return surfaceDC_;
}

BOOL PERFGRAPH::RenderGrid() {
  if (!IsInitOK()) return FALSE;
  EnterCriticalSection(&lock_);
  BOOL ok = surfaceDC_ != nullptr;
  if (ok) {
    Pen pen(surfaceDC_, kGridColour);
    // A step below 2 ms would make the half step 0.
    DWORD h = step_ / 2 ? step_ / 2 : 1;
    uint64_t a = PosToMs(draw_.right) / h;
    uint64_t b = PosToMs(draw_.right - 1) / h;
    LONG p = LONG(((a + b) / 2) % 10);
    for (LONG x = draw_.left - p; x <= draw_.right; x += 10) {
      MoveToEx(surfaceDC_, x, draw_.top, nullptr);
      LineTo(surfaceDC_, x, draw_.bottom);
    }
    for (LONG y = draw_.top + 10; y < draw_.bottom; y += 10) {
      MoveToEx(surfaceDC_, draw_.left, y, nullptr);
      LineTo(surfaceDC_, draw_.right, y);
    }
  }
  LeaveCriticalSection(&lock_);
  return ok;
}

BOOL PERFGRAPH::RenderFill(COLORREF colour, DWORD reg) {
  if (!IsInitOK()) return FALSE;
  EnterCriticalSection(&lock_);
  BOOL ok = CheckRegister(reg) && surfaceDC_;
  if (ok) {
    Pen pen(surfaceDC_, colour);
    for (LONG x = draw_.left - 1; x <= draw_.right - 1; ++x) {
      MoveToEx(surfaceDC_, x, ScaledToY(ScaledAt(PosToMs(x), reg)), nullptr);
      LineTo(surfaceDC_, x, draw_.bottom);
    }
  }
  LeaveCriticalSection(&lock_);
  return ok;
}

BOOL PERFGRAPH::RenderLine(COLORREF colour, DWORD reg) {
  if (!IsInitOK()) return FALSE;
  EnterCriticalSection(&lock_);
  BOOL ok = CheckRegister(reg) && surfaceDC_;
  if (ok) {
    Pen pen(surfaceDC_, colour);
    DWORD p = ScaledAt(PosToMs(draw_.left - 1), reg);
    for (LONG x = draw_.left - 1; x <= draw_.right - 1; ++x) {
      DWORD next = ScaledAt(PosToMs(x + 1), reg);
      LONG yNext = ScaledToY(next);
      if (p != 0) {
        MoveToEx(surfaceDC_, x, ScaledToY(p), nullptr);
        LineTo(surfaceDC_, x + 1, yNext);
      } else {
        // Data that begins after a gap rises with a vertical edge.
        MoveToEx(surfaceDC_, x, draw_.bottom, nullptr);
        LineTo(surfaceDC_, x, yNext - 1);
      }
      p = next;
    }
  }
  LeaveCriticalSection(&lock_);
  return ok;
}

BOOL PERFGRAPH::RenderIcon(HICON icon) {
  if (surfaceDC_ && icon) DrawIconEx(surfaceDC_, 5, 5, icon, 16, 16, 0, nullptr, DI_NORMAL);
  return TRUE;
}

BOOL PERFGRAPH::RenderTitle(const wchar_t* text, COLORREF colour) {
  if (!IsInitOK()) return FALSE;
  EnterCriticalSection(&lock_);
  BOOL ok = surfaceDC_ && text;
  if (ok) {
    HGDIOBJ oldFont = SelectObject(surfaceDC_, hFontBold);
    int oldMode = SetBkMode(surfaceDC_, TRANSPARENT);
    COLORREF oldColour = GetTextColor(surfaceDC_);
    const UINT flags = DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS;
    RECT r = {26, 8, 26, 23};
    DrawTextW(surfaceDC_, text, -1, &r, flags | DT_CALCRECT);
    // A title longer than the graph ends in an ellipsis at its right edge.
    if (r.right > draw_.right) r.right = draw_.right;
    r.top = 8;
    r.bottom = 23;
    SetTextColor(surfaceDC_, 0);
    DrawTextW(surfaceDC_, text, -1, &r, flags);
    OffsetRect(&r, -2, -2);
    SetTextColor(surfaceDC_, colour);
    DrawTextW(surfaceDC_, text, -1, &r, flags);
    SetTextColor(surfaceDC_, oldColour);
    SetBkMode(surfaceDC_, oldMode);
    if (oldFont) SelectObject(surfaceDC_, oldFont);
  }
  LeaveCriticalSection(&lock_);
  return ok;
}

BOOL PERFGRAPH::RenderBar(DWORD, DWORD) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

BOOL PERFGRAPH::RenderClose() {
  if (!IsInitOK()) return FALSE;
  EnterCriticalSection(&lock_);
  BOOL ok = rendering_;
  if (ok) {
    BitBlt(targetDC_, 0, 0, draw_.right, draw_.bottom, surfaceDC_, 0, 0, SRCCOPY);
    if (ownDC_) ReleaseDC(window_, targetDC_);
    ownDC_ = FALSE;
    rendering_ = FALSE;
    LeaveCriticalSection(&lock_);  // the hold taken by RenderOpen
  }
  LeaveCriticalSection(&lock_);
  return ok;
}

BOOL PERFGRAPH::RenderCloseEx(BOOL showTime) {
  if (!IsInitOK()) return FALSE;
  EnterCriticalSection(&lock_);
  BOOL ok = rendering_;
  if (ok) {
    rendering_ = FALSE;
    LeaveCriticalSection(&lock_);  // the hold taken by RenderOpen
    // Still held once here, so no other rendering slips in before the copy.
    if (!UpdateGraph(window_, targetDC_, showTime))
      BitBlt(targetDC_, 0, 0, draw_.right, draw_.bottom, surfaceDC_, 0, 0, SRCCOPY);
    if (ownDC_) ReleaseDC(window_, targetDC_);
    ownDC_ = FALSE;
  }
  LeaveCriticalSection(&lock_);
  return ok;
}

BOOL PERFGRAPH::RenderGraph(HWND window, HDC dc, COLORREF colour, DWORD stepMs, DWORD) {
  if (!RenderOpen(window, dc, stepMs)) return FALSE;
  RenderFill(colour >> 1, 0);
  RenderGrid();
  RenderLine(colour, 0);
  return RenderClose();
}

// ---- hover readout ----------------------------------------------------------------

void PERFGRAPH::DrawReadout(HDC dc, LONG cursorX, BOOL showTime) {
  const DWORD t = PosToMs(cursorX);
  SYSTEMTIME now;
  localTime_(&now);
  FILETIME ft;
  SystemTimeToFileTime(&now, &ft);
  ULARGE_INTEGER u;
  u.LowPart = ft.dwLowDateTime;
  u.HighPart = ft.dwHighDateTime;
  // Signed distance: a column just ahead of the clock shows a time just ahead.
  u.QuadPart -= uint64_t(int64_t(int32_t(ticks_() - t)) * 10000);
  ft.dwLowDateTime = u.LowPart;
  ft.dwHighDateTime = u.HighPart;
  SYSTEMTIME shown = {};
  FileTimeToSystemTime(&ft, &shown);

  HGDIOBJ oldFont = SelectObject(dc, hFontBold);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, 0xFFFFFF);
  const UINT flags = DT_SINGLELINE | DT_NOPREFIX;
  wchar_t text[200];
  LONG o = 0;
  if (showTime) {
    FormatW(text, 200, L"%.2d:%.2d:%.2d", shown.wHour, shown.wMinute, shown.wSecond);
    RECT r = {25, 24, 500, 50};
    DrawTextW(dc, text, -1, &r, flags);
    o = 18;
  }
  DWORD shownRegs = 0;
  while (shownRegs < regCount_ && regs_[shownRegs].name[0]) ++shownRegs;

  LONG labelRight = 0;
  for (DWORD k = 0; k < shownRegs; ++k) {
    const REGISTER& r = regs_[k];
    const LONG top = 24 + o + 16 * LONG(k);
    FormatW(text, 200, L"%s:", r.name);
    RECT rc = {25, top, 25, top + 16};
    DrawTextW(dc, text, -1, &rc, flags | DT_CALCRECT);
    if (rc.right > labelRight) labelRight = rc.right;
    if (ValueAt(t, k) != 0) {
      Pen pen(dc, r.colour);
      for (LONG y = 31 + o + 16 * LONG(k); y <= 32 + o + 16 * LONG(k); ++y) {
        MoveToEx(dc, 8, y, nullptr);
        LineTo(dc, 18, y);
      }
      rc.top = top;
      rc.bottom = top + 16;
      DrawTextW(dc, text, -1, &rc, flags);
    }
  }
  const LONG valueLeft = labelRight + 8;
  LONG valueRight = valueLeft;
  for (int pass = 0; pass < 2; ++pass) {
    for (DWORD k = 0; k < shownRegs; ++k) {
      const REGISTER& r = regs_[k];
      const LONG top = 24 + o + 16 * LONG(k);
      DWORD v = ValueAt(t, k);
      FormatW(text, 200, L"%d %s", int(v / (r.divisor ? r.divisor : 1)), r.unit);
      if (pass == 0) {
        RECT rc = {valueLeft, top, valueLeft, top + 16};
        DrawTextW(dc, text, -1, &rc, flags | DT_CALCRECT);
        if (rc.right > valueRight) valueRight = rc.right;
      } else if (v != 0) {
        RECT rc = {valueLeft, top, valueRight, top + 16};
        DrawTextW(dc, text, -1, &rc, flags | DT_RIGHT);
      }
    }
  }
  if (oldFont) SelectObject(dc, oldFont);
}

BOOL PERFGRAPH::UpdateGraph(HWND window, HDC dc, BOOL showTime) {
  if (!IsInitOK()) return FALSE;
  POINT cursor = {};
  cursor_(&cursor);
  RECT wr = {};
  if (window) GetWindowRect(window, &wr);
  const BOOL inside = PtInRect(&wr, cursor);
  EnterCriticalSection(&lock_);
  // Nothing to do while the mouse stays away; one more redraw when it has just left.
  BOOL ok = inside || hover_;
  hover_ = inside;
  ok = ok && window && surfaceDC_;
  if (ok) {
    HDC target = dc ? dc : GetDC(window);
    HDC scratch = target ? CreateCompatibleDC(target) : nullptr;
    HBITMAP bitmap = target ? CreateCompatibleBitmap(target, draw_.right, draw_.bottom) : nullptr;
    ok = scratch && bitmap;
    if (ok) {
      HGDIOBJ oldBitmap = SelectObject(scratch, bitmap);
      // The readout goes onto a copy; the kept surface stays clean for the next call.
      BitBlt(scratch, 0, 0, draw_.right, draw_.bottom, surfaceDC_, 0, 0, SRCCOPY);
      if (inside) DrawReadout(scratch, cursor.x - wr.left, showTime);
      BitBlt(target, 0, 0, draw_.right, draw_.bottom, scratch, 0, 0, SRCCOPY);
      SelectObject(scratch, oldBitmap);
    }
    if (scratch) DeleteDC(scratch);
    if (bitmap) DeleteObject(bitmap);
    if (target && !dc) ReleaseDC(window, target);
  }
  LeaveCriticalSection(&lock_);
  return ok;
}

}  // namespace quarl
