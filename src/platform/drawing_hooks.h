// What the window layer needs from the drawing code (internal): device contexts on a window's
// backing image for the messages the layer sends itself (WM_ERASEBKGND, WM_CTLCOLOR...), the
// CDC* of an HDC for the handlers, and the colours a WM_CTLCOLOR handler chose, which the view
// applies to the control. The drawing code defines DrawingHooks(); until it is linked, a weak
// stand-in gives an empty table, and the layer then sends none of those messages (a handler
// must never get a null CDC*).
#pragma once

#include "platform/types.h"

class CDC;

namespace platform {

struct DcColors {
    COLORREF text = 0;
    int bkMode = 0;  // TRANSPARENT 1, OPAQUE 2
    COLORREF bk = 0;
};

struct DrawingHookTable {
    // A DC drawing into the window's backing image, and its release.
    HDC (*windowDc)(HWND hwnd) = nullptr;
    void (*releaseDc)(HWND hwnd, HDC dc) = nullptr;
    CDC* (*dcFromHandle)(HDC dc) = nullptr;
    // The text colour, background mode and background colour set on a DC.
    bool (*dcColors)(HDC dc, DcColors* out) = nullptr;
    // The colour of a solid brush.
    bool (*brushColor)(HBRUSH brush, COLORREF* out) = nullptr;
};

const DrawingHookTable& DrawingHooks();
// Tests: a table used instead of DrawingHooks(); null restores it.
void OverrideDrawingHooks(const DrawingHookTable* table);
const DrawingHookTable& ActiveDrawingHooks();

}  // namespace platform
