// The picture behind a DC. Windows of a dialog draw as layers (one backing image each) that
// the view paints parents first; to behave like the one shared surface of Windows, what a
// window's DC reads is its image seen over its parents', and what it draws hides the drawing
// of its children beneath, unless it clips its children.
#include "platform/base/lasterror.h"
#include "platform/gdi/gdi_internal.h"
#include "platform/window/messages.h"
#include "platform/window/ui_queue.h"
#include "platform/window/window_model.h"

namespace platform {

namespace {

// A premultiplied pixel over an opaque one.
uint32_t Over(uint32_t src, uint32_t dst) {
    uint32_t a = src >> 24;
    if (a == 255)
        return src;
    if (a == 0)
        return dst;
    uint32_t out = 0xFF000000u;
    for (int shift = 0; shift <= 16; shift += 8) {
        uint32_t s = (src >> shift) & 0xFF, d = (dst >> shift) & 0xFF;
        uint32_t c = s + (d * (255 - a) + 127) / 255;
        out |= (c > 255 ? 255 : c) << shift;
    }
    return out;
}

QRect ClientArea(const WindowState& s) {
    return QRect(0, 0, std::max<LONG>(s.rect.right - s.rect.left, 0),
                 std::max<LONG>(s.rect.bottom - s.rect.top, 0));
}

QImage* ImageOf(HWND hwnd) {
    QImage* image = BackingImage(hwnd);
    if (image != nullptr && image->format() != QImage::Format_ARGB32_Premultiplied) {
        *image = image->convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    return image;
}

// Fills `out` (the size of `area`) with what the window shows at `area` of its client area.
void ShownIn(HWND hwnd, const QRect& area, QImage* out) {
    WindowState s;
    if (!ReadWindow(hwnd, &s))
        return;
    if (s.parent != nullptr && IsModelWindow(s.parent)) {
        ShownIn(s.parent, area.translated(s.rect.left, s.rect.top), out);
    }
    QImage* image = ImageOf(hwnd);
    if (image == nullptr)
        return;
    QRect part = area.intersected(image->rect()).intersected(ClientArea(s));
    for (int y = part.top(); y <= part.bottom(); ++y) {
        const auto* in = reinterpret_cast<const uint32_t*>(image->constScanLine(y));
        auto* row = reinterpret_cast<uint32_t*>(out->scanLine(y - area.top()));
        for (int x = part.left(); x <= part.right(); ++x) {
            row[x - area.left()] = Over(in[x], row[x - area.left()]);
        }
    }
}

// Drawing into `area` of a window covers its descendants' drawing there.
void HideDescendants(HWND hwnd, const QRect& area) {
    for (HWND child : ChildrenOf(hwnd)) {
        WindowState s;
        if (!ReadWindow(child, &s))
            continue;
        QRect place(s.rect.left, s.rect.top, ClientArea(s).width(), ClientArea(s).height());
        QRect local = area.intersected(place).translated(-s.rect.left, -s.rect.top);
        if (local.isEmpty())
            continue;
        if (QImage* image = ImageOf(child)) {
            QRect part = local.intersected(image->rect());
            for (int y = part.top(); y <= part.bottom(); ++y) {
                auto* row = reinterpret_cast<uint32_t*>(image->scanLine(y));
                std::fill(row + part.left(), row + part.right() + 1, 0u);
            }
            BackingImageChanged(child);
        }
        HideDescendants(child, local);
    }
}

}  // namespace

bool Surface::Open(HDC dc) {
    image_ = nullptr;
    clip_ = QRect();
    if (!ReadDc(dc, &state_)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    switch (state_.kind) {
        case DcState::Kind::Screen:
            break;
        case DcState::Kind::Memory:
            if (state_.bitmap && !state_.bitmap->stock()) {
                image_ = state_.bitmap->image();
                clip_ = image_->rect();
            }
            break;
        case DcState::Kind::Window: {
            // Backing images belong to the user-interface thread; another thread's drawing
            // would race with the view.
            if (UiRunning() && !OnUiThread()) {
                SetLastError(ERROR_ACCESS_DENIED);
                return false;
            }
            WindowState s;
            if (!ReadWindow(state_.hwnd, &s)) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return false;
            }
            image_ = ImageOf(state_.hwnd);
            if (image_ != nullptr)
                clip_ = ClientArea(s).intersected(image_->rect());
            break;
        }
    }
    return true;
}

QImage Surface::Shown(const QRect& area) const {
    QImage out(area.size(), QImage::Format_RGB32);
    out.fill(ToPixel(kFaceColour));
    if (image_ == nullptr || area.isEmpty())
        return out;
    if (state_.kind == DcState::Kind::Window) {
        ShownIn(state_.hwnd, area, &out);
        return out;
    }
    QRect part = area.intersected(image_->rect());
    for (int y = part.top(); y <= part.bottom(); ++y) {
        const auto* in = reinterpret_cast<const uint32_t*>(image_->constScanLine(y));
        auto* row = reinterpret_cast<uint32_t*>(out.scanLine(y - area.top()));
        for (int x = part.left(); x <= part.right(); ++x)
            row[x - area.left()] = in[x];
    }
    return out;
}

void Surface::Settle(const QRect& area) {
    if (state_.kind != DcState::Kind::Window || image_ == nullptr)
        return;
    QRect part = area.intersected(clip_);
    if (part.isEmpty())
        return;
    QImage shown = Shown(part);
    for (int y = part.top(); y <= part.bottom(); ++y) {
        const auto* in = reinterpret_cast<const uint32_t*>(shown.constScanLine(y - part.top()));
        auto* row = reinterpret_cast<uint32_t*>(image_->scanLine(y));
        std::copy(in, in + part.width(), row + part.left());
    }
}

void Surface::Drawn(const QRect& area) {
    if (state_.kind != DcState::Kind::Window || image_ == nullptr || area.isEmpty())
        return;
    WindowState s;
    if (ReadWindow(state_.hwnd, &s) && (s.style & WS_CLIPCHILDREN) == 0) {
        HideDescendants(state_.hwnd, area);
    }
    BackingImageChanged(state_.hwnd);
}

}  // namespace platform
