// What the window layer needs from the drawing code (internal): device contexts on a window's
// backing image for the messages the layer sends itself (WM_ERASEBKGND, WM_CTLCOLOR...), the
// CDC* of an HDC for the handlers, and the colours a WM_CTLCOLOR handler chose, which the view
// applies to the control. The session of the user interface installs the drawing code's port
// when it starts; without a port the layer sends none of those messages (a handler must never
// get a null CDC*).
#pragma once

#include "platform/base/types.h"

class CDC;

namespace platform {

struct DcColors {
    COLORREF text = 0;
    int bkMode = 0;  // TRANSPARENT 1, OPAQUE 2
    COLORREF bk = 0;
};

struct DrawingPort {
    // A DC drawing into the window's backing image, and its release.
    HDC (*windowDc)(HWND hwnd) = nullptr;
    void (*releaseDc)(HWND hwnd, HDC dc) = nullptr;
    CDC* (*dcFromHandle)(HDC dc) = nullptr;
    // The text colour, background mode and background colour set on a DC.
    bool (*dcColors)(HDC dc, DcColors* out) = nullptr;
    // The colour of a solid brush.
    bool (*brushColor)(HBRUSH brush, COLORREF* out) = nullptr;
};

// Installs `port` (the caller keeps it alive meanwhile; null: none) and returns the one it
// replaces.
const DrawingPort* SetDrawingPort(const DrawingPort* port);
const DrawingPort* InstalledDrawingPort();

// The CDC* that WM_ERASEBKGND / WM_CTLCOLOR / WM_ICONERASEBKGND handlers get for an HDC, from the
// installed port; null without one.
CDC* DcFromHandle(HDC dc);

}  // namespace platform
