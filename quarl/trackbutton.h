// An owner-painted push button with hover feedback: themed from four nine-slice
// bitmaps, or in the classic colours when visual styles are off.
#pragma once

#include <windows.h>

#include "quarl/quarlapi.h"

namespace quarl {

// Subclasses the button; its state lives until the button is destroyed. The
// caller gives it a small icon with WM_SETICON when it wants one. FALSE when the
// state could not be allocated (the button then stays a plain button).
QUARL_API BOOL SubClassTrackButton(HWND button, BOOL framed);
// Paints a subclassed button into dc, as its WM_PAINT does into its own DC.
QUARL_API BOOL DrawTrackButton(HWND button, HDC dc);
// The text layout decision: one line (single, ellipsis) when the wrapped text is
// no taller than the single line, or when it would fill the button anyway.
QUARL_API BOOL TrackButtonIsOneLine(const RECT& single, const RECT& wrapped, const RECT& client);

}  // namespace quarl
