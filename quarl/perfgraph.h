// The suite's one graph engine: a short, time-stamped history of one or more value
// series (registers) and a scrolling strip-chart renderer with a hover readout.
#pragma once

#include <windows.h>

#include "quarl/base/objhdr.h"
#include "quarl/quarlapi.h"

namespace quarl {

// Clock seams: the tick count in milliseconds and the local wall-clock time.
using PFN_PerfGraphTicks = DWORD(WINAPI*)();
using PFN_PerfGraphLocalTime = void(WINAPI*)(LPSYSTEMTIME);
// Cursor seam: the mouse position in screen coordinates, as GetCursorPos gives it.
using PFN_PerfGraphCursor = BOOL(WINAPI*)(LPPOINT);

// Copies are forbidden: the object owns its point storage, its lock and a GDI
// surface. Owners that move graphs around move them by pointer.
class QUARL_API PERFGRAPH {
 public:
  struct POINTREC {
    DWORD value;
    DWORD time;
    DWORD used;  // 0: empty slot
  };
  struct REGISTER {
    POINTREC* points;  // N + 1 records, newest first; the last takes the dropped point
    DWORD autoMax;
    DWORD fixedMax;  // 0: the automatic maximum applies
    wchar_t name[128];
    wchar_t unit[32];
    DWORD divisor;
    COLORREF colour;
  };

  PERFGRAPH();
  ~PERFGRAPH();
  PERFGRAPH(const PERFGRAPH&) = delete;
  PERFGRAPH& operator=(const PERFGRAPH&) = delete;

  BOOL Init(DWORD spanMs, DWORD intervalMs, DWORD registerCount);
  // Releases the drawing surface and the point storage; the object is then not
  // ready until the next Init. Returns 0.
  BOOL Delete();
  BOOL IsClassReady() const;

  BOOL SetDataPoint(DWORD value, DWORD time, DWORD reg);
  DWORD GetDataPoint(DWORD time, DWORD reg);
  DWORD GetScaledDataPoint(DWORD time, DWORD reg);
  BOOL SetScaleMax(DWORD maximum, DWORD reg);
  BOOL SetRegisterDisplayInfo(const wchar_t* name, const wchar_t* unit, DWORD divisor,
                              COLORREF colour, DWORD reg);

  HDC RenderOpen(HWND window, HDC dc, DWORD stepMs);
  BOOL RenderGrid();
  BOOL RenderFill(COLORREF colour, DWORD reg);
  BOOL RenderLine(COLORREF colour, DWORD reg);
  BOOL RenderIcon(HICON icon);
  BOOL RenderTitle(const wchar_t* text, COLORREF colour);
  BOOL RenderBar(DWORD value, DWORD reg);
  BOOL RenderClose();
  BOOL RenderCloseEx(BOOL showTime = TRUE);
  DWORD RenderPosXToMs(LONG x);
  BOOL UpdateGraph(HWND window, HDC dc, BOOL showTime = TRUE);
  BOOL RenderGraph(HWND window, HDC dc, COLORREF colour, DWORD stepMs, DWORD unused);

  // Test seams; null restores the system's clock. Set before use, not while
  // another thread works with the graph.
  void SetClock(PFN_PerfGraphTicks ticks, PFN_PerfGraphLocalTime localTime);
  void SetCursorSource(PFN_PerfGraphCursor cursor);

 protected:
  BOOL IsInitOK() const;

 private:
  void InitAt(void* creator);
  void ReleaseStorage();
  void ReleaseSurface();
  BOOL CheckRegister(DWORD reg) const;
  DWORD PosToMs(LONG x) const;
  DWORD ScaledAt(DWORD time, DWORD reg) const;
  DWORD ValueAt(DWORD time, DWORD reg) const;
  LONG ScaledToY(DWORD percent) const;
  void DrawReadout(HDC scratch, LONG cursorX, BOOL showTime);

  OBJHEADER hdr_;
  DWORD ready_;
  REGISTER* regs_;
  DWORD regCount_;
  DWORD pointCount_;
  DWORD span_;
  DWORD interval_;
  CRITICAL_SECTION lock_;
  DWORD step_;
  DWORD refTime_;
  HWND window_;
  HDC targetDC_;
  BOOL ownDC_;
  HDC surfaceDC_;
  HBITMAP surfaceBitmap_;
  RECT client_;
  RECT draw_;
  BOOL hover_;
  // Set while RenderOpen holds the lock, so a stray RenderClose never releases a
  // lock it does not hold.
  BOOL rendering_;
  PFN_PerfGraphTicks ticks_;
  PFN_PerfGraphLocalTime localTime_;
  PFN_PerfGraphCursor cursor_;
};

}  // namespace quarl
