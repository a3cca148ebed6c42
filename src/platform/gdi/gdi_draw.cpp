// Drawing operations: fills, raster operations, icons, pixels and text.
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <algorithm>

#include "platform/base/lasterror.h"
#include "platform/gdi/gdi_internal.h"
#include "platform/gdi/qt_mapping.h"
#include "platform/modules/resources.h"
#include "platform/window/messages.h"
#include "platform/window/window_ops.h"

namespace platform {

namespace {

// Coordinates far outside any picture are pulled in, so sizes never overflow.
constexpr int64_t kFar = int64_t{1} << 24;

QRect Area(int64_t x, int64_t y, int64_t w, int64_t h) {
    auto pull = [](int64_t v) { return std::clamp(v, -kFar, kFar); };
    int64_t left = pull(x), top = pull(y), right = pull(x + w), bottom = pull(y + h);
    if (right <= left || bottom <= top)
        return QRect();
    return QRect(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                 static_cast<int>(bottom - top));
}

QRect AreaOf(const RECT& r) {
    return Area(r.left, r.top, int64_t{r.right} - r.left, int64_t{r.bottom} - r.top);
}

uint32_t* Row(QImage* image, int y) {
    return reinterpret_cast<uint32_t*>(image->scanLine(y));
}

void Fill(Surface& s, const QRect& area, COLORREF colour) {
    uint32_t pixel = ToPixel(colour);
    for (int y = area.top(); y <= area.bottom(); ++y) {
        uint32_t* row = Row(s.image(), y);
        std::fill(row + area.left(), row + area.right() + 1, pixel);
    }
    s.Drawn(area);
}

// A ternary raster operation: bit k of `index` is the result for pattern, source and
// destination bits (P << 2) | (S << 1) | D.
uint32_t Rop3(uint8_t index, uint32_t p, uint32_t s, uint32_t d) {
    uint32_t r = 0;
    for (int k = 0; k < 8; ++k) {
        if (((index >> k) & 1) == 0)
            continue;
        r |= ((k & 4) ? p : ~p) & ((k & 2) ? s : ~s) & ((k & 1) ? d : ~d);
    }
    return r & 0x00FFFFFFu;
}

// Whether the result depends on the input of bit `bit` (1: D, 2: S, 4: P).
bool Uses(uint8_t index, int bit) {
    for (int k = 0; k < 8; ++k) {
        if (((index >> k) & 1) != ((index >> (k ^ bit)) & 1))
            return true;
    }
    return false;
}

// Raster operations are known by their index byte; the low word only encodes them.
bool KnownRop(DWORD rop) {
    return (rop >> 24) == 0;
}

BOOL Blit(HDC dest, int x, int y, int w, int h, HDC src, int sx, int sy, DWORD rop) {
    if (!KnownRop(rop)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto index = static_cast<uint8_t>(rop >> 16);
    bool usesSource = Uses(index, 2), usesPattern = Uses(index, 4), usesDest = Uses(index, 1);
    Surface d;
    if (!d.Open(dest))
        return FALSE;
    Surface s;
    if (usesSource && !s.Open(src))
        return FALSE;
    QRect target = Area(x, y, w, h).intersected(d.clip());
    QImage source;
    if (usesSource) {
        // Only what the source's picture holds is copied.
        auto shift = [](int64_t to, int64_t from) {
            return static_cast<int>(std::clamp(to - from, -2 * kFar, 2 * kFar));
        };
        const int dx = shift(sx, x), dy = shift(sy, y);
        QRect from = target.translated(dx, dy).intersected(s.clip());
        target = from.translated(-dx, -dy);
        source = s.Shown(from);  // a copy: source and destination may be one picture
    }
    if (target.isEmpty())
        return TRUE;
    uint32_t pattern = 0;
    if (usesPattern) {
        COLORREF colour = 0;
        bool paints = false;
        if (!BrushColour(d.state().brush, &colour, &paints) || !paints)
            return TRUE;
        pattern = ToPixel(colour);
    }
    if (usesDest)
        d.Settle(target);
    for (int row = 0; row < target.height(); ++row) {
        uint32_t* out = Row(d.image(), target.top() + row) + target.left();
        const uint32_t* in =
            usesSource ? reinterpret_cast<const uint32_t*>(source.constScanLine(row)) : nullptr;
        for (int col = 0; col < target.width(); ++col) {
            uint32_t sp = in != nullptr ? in[col] : 0;
            out[col] = 0xFF000000u | Rop3(index, pattern, sp, out[col]);
        }
    }
    d.Drawn(target);
    return TRUE;
}

// The icon's image for w x h: that size, else the smallest larger one, else the largest;
// stretched to the size.
QImage IconPicture(const std::vector<IconImage>& images, int w, int h) {
    const IconImage* best = nullptr;
    auto score = [&](const IconImage& i) {
        if (i.width == w && i.height == h)
            return int64_t{0};
        int64_t area = int64_t{i.width} * i.height;
        return i.width >= w && i.height >= h ? area : (int64_t{1} << 40) - area;
    };
    for (const IconImage& i : images) {
        if (i.width <= 0 || i.height <= 0 ||
            i.argb.size() != static_cast<size_t>(i.width) * static_cast<size_t>(i.height)) {
            continue;
        }
        if (best == nullptr || score(i) < score(*best))
            best = &i;
    }
    if (best == nullptr)
        return QImage();
    QImage picture = IconQImage(*best);
    if (picture.width() != w || picture.height() != h) {
        picture = picture.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                      .convertToFormat(QImage::Format_ARGB32);
    }
    return picture;
}

// A straight-alpha pixel over an opaque one.
uint32_t Blend(uint32_t src, uint32_t dst) {
    uint32_t a = src >> 24;
    uint32_t out = 0xFF000000u;
    for (int shift = 0; shift <= 16; shift += 8) {
        uint32_t s = (src >> shift) & 0xFF, d = (dst >> shift) & 0xFF;
        out |= ((s * a + d * (255 - a) + 127) / 255) << shift;
    }
    return out;
}

}  // namespace

bool FillSolid(HDC dc, const RECT& rect, COLORREF colour) {
    Surface s;
    if (!s.Open(dc))
        return false;
    QRect area = AreaOf(rect).intersected(s.clip());
    if (!area.isEmpty())
        Fill(s, area, colour);
    return true;
}

}  // namespace platform

int FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
    if (rect == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    COLORREF colour = 0;
    bool paints = false;
    if (!platform::BrushColour(brush, &colour, &paints)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (!paints)
        return platform::ReadDc(dc, nullptr) ? 1 : 0;
    return platform::FillSolid(dc, *rect, colour) ? 1 : 0;
}

BOOL BitBlt(HDC dest, int x, int y, int w, int h, HDC src, int sx, int sy, DWORD rop) {
    return platform::Blit(dest, x, y, w, h, src, sx, sy, rop);
}

BOOL PatBlt(HDC dc, int x, int y, int w, int h, DWORD rop) {
    if (platform::Uses(static_cast<uint8_t>(rop >> 16), 2)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return platform::Blit(dc, x, y, w, h, nullptr, 0, 0, rop);
}

BOOL DrawIcon(HDC dc, int x, int y, HICON icon) {
    const std::vector<platform::IconImage>* images = platform::IconImages(icon);
    if (images == nullptr) {
        SetLastError(ERROR_INVALID_CURSOR_HANDLE);
        return FALSE;
    }
    platform::Surface s;
    if (!s.Open(dc))
        return FALSE;
    int w = GetSystemMetrics(SM_CXICON), h = GetSystemMetrics(SM_CYICON);
    QImage picture = platform::IconPicture(*images, w, h);
    if (picture.isNull()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    QRect area = platform::Area(x, y, w, h).intersected(s.clip());
    if (area.isEmpty())
        return TRUE;
    s.Settle(area);
    for (int row = area.top(); row <= area.bottom(); ++row) {
        const auto* in = reinterpret_cast<const uint32_t*>(picture.constScanLine(row - y));
        uint32_t* out = platform::Row(s.image(), row);
        for (int col = area.left(); col <= area.right(); ++col) {
            out[col] = platform::Blend(in[col - x], out[col]);
        }
    }
    s.Drawn(area);
    return TRUE;
}

COLORREF GetPixel(HDC dc, int x, int y) {
    platform::Surface s;
    if (!s.Open(dc) || !s.clip().contains(x, y))
        return CLR_INVALID;
    QImage one = s.Shown(QRect(x, y, 1, 1));
    return platform::ToColour(reinterpret_cast<const uint32_t*>(one.constScanLine(0))[0]);
}

COLORREF SetPixel(HDC dc, int x, int y, COLORREF color) {
    platform::Surface s;
    if (!s.Open(dc) || !s.clip().contains(x, y))
        return CLR_INVALID;
    platform::Row(s.image(), y)[x] = platform::ToPixel(color);
    s.Drawn(QRect(x, y, 1, 1));
    return color & 0x00FFFFFFu;
}

BOOL TextOutA(HDC dc, int x, int y, LPCSTR text, int length) {
    if (text == nullptr || length < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    platform::Surface s;
    if (!s.Open(dc))
        return FALSE;
    // Fonts need the application object of the user interface.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    if (length == 0 || s.image() == nullptr)
        return TRUE;
    QString shown = QString::fromUtf8(text, length);
    QFont font = platform::QtFontFor(s.state().font);
    QFontMetrics metrics(font);
    QRect cell = platform::Area(x, y, metrics.horizontalAdvance(shown), metrics.height());
    QRect area = cell.intersected(s.clip());
    if (area.isEmpty())
        return TRUE;
    s.Settle(area);
    {
        QPainter painter(s.image());
        painter.setClipRect(s.clip());
        if (s.state().bkMode == OPAQUE)
            painter.fillRect(cell, platform::QtColor(s.state().bk));
        painter.setFont(font);
        painter.setPen(platform::QtColor(s.state().text));
        painter.drawText(x, y + metrics.ascent(), shown);
    }
    s.Drawn(area);
    return TRUE;
}
