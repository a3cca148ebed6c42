// What the gdi*.cpp files share (internal; includes Qt): the brush and bitmap objects, the
// state of a DC, and the surface a DC draws into.
#pragma once

#include <QImage>
#include <QRect>
#include <cstdint>
#include <memory>

#include "platform/gdi/gdi.h"
#include "platform/window/drawing_port.h"

namespace platform {

class BrushObject : public GdiObject {
  public:
    explicit BrushObject(const LOGBRUSH& logBrush) : logBrush_(logBrush) {}
    int Describe(int size, void* out) const override;
    const LOGBRUSH& logBrush() const { return logBrush_; }

  private:
    LOGBRUSH logBrush_;
};

// Pixels are 0xFFRRGGBB (QImage::Format_RGB32), rows top-down.
class BitmapObject : public GdiObject {
  public:
    // The stock bitmap of a new memory DC holds no pixels: nothing is drawn into or read from it.
    BitmapObject(QImage image, bool stock) : image_(std::move(image)), stock_(stock) {}
    int Describe(int size, void* out) const override;
    QImage* image() { return &image_; }
    bool stock() const { return stock_; }
    // The DC it is selected into; guarded by the DC table's lock (gdi_dc.cpp).
    HDC selectedInto = nullptr;

  private:
    QImage image_;
    bool stock_;
};

// A solid brush's colour, a system-colour brush ((HBRUSH)(COLOR_xxx + 1)) included. False for
// a handle that is not a brush; `paints` false for a null brush.
bool BrushColour(HBRUSH brush, COLORREF* colour, bool* paints);
// Fills `rect` of the DC's picture with an opaque colour; false for a bad DC.
bool FillSolid(HDC dc, const RECT& rect, COLORREF colour);
// The largest bitmap the layer makes (32768 pixels a side, 256 MiB of pixels), so that sizes
// taken from files or callers never make a huge allocation.
bool BitmapSizeAllowed(int64_t w, int64_t h);
// A new bitmap of w x h pixels of `image` (Format_RGB32); null when too large.
HBITMAP NewBitmap(QImage image);
// The stock objects: created once, made again if someone deleted them.
HGDIOBJ StockObject(int index);
HBITMAP StockBitmap();

// The state of a live DC, copied out of the DC table.
struct DcState {
    enum class Kind { Screen, Window, Memory } kind = Kind::Screen;
    HWND hwnd = nullptr;                   // window DCs
    std::shared_ptr<BitmapObject> bitmap;  // memory DCs
    HBRUSH brush = nullptr;
    HFONT font = nullptr;
    COLORREF text = 0, bk = 0xFFFFFF;
    int bkMode = OPAQUE;
};
bool ReadDc(HDC dc, DcState* out);

// The drawing code's side of the window layer's drawing port (drawing_port.h).
const DrawingPort& GdiDrawingPort();

// Where a DC's drawing goes. For a window DC the pixels are the window's backing image, seen
// over its parents' (Shown), and drawing hides its children's drawing beneath (Drawn).
class Surface {
  public:
    // False (with ERROR_INVALID_HANDLE) for a bad DC.
    bool Open(HDC dc);
    const DcState& state() const { return state_; }
    // The drawable area in DC coordinates (empty for the screen DC and the stock bitmap).
    const QRect& clip() const { return clip_; }
    QImage* image() const { return image_; }
    // The pixels of `area` (within the clip) as shown: opaque, Format_RGB32.
    QImage Shown(const QRect& area) const;
    // Makes the pixels of `area` opaque as shown, for drawing that reads them.
    void Settle(const QRect& area);
    // To be called after drawing into `area`.
    void Drawn(const QRect& area);

  private:
    DcState state_;
    QImage* image_ = nullptr;
    QRect clip_;
};

// The colour shown where no window has drawn anything.
constexpr COLORREF kFaceColour = 0xF0F0F0;

inline uint32_t ToPixel(COLORREF c) {
    return 0xFF000000u | (static_cast<uint32_t>(GetRValue(c)) << 16) |
           (static_cast<uint32_t>(GetGValue(c)) << 8) | GetBValue(c);
}
inline COLORREF ToColour(uint32_t pixel) {
    return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
}

}  // namespace platform
