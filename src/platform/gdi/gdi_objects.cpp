// Brushes and bitmaps as GDI objects, the stock objects and system colours, CBrush and CBitmap.
#include <cstring>
#include <functional>
#include <mutex>
#include <unordered_map>

#include "platform/base/lasterror.h"
#include "platform/gdi/gdi_internal.h"

namespace platform {

namespace {

template <typename T>
int CopyDescription(const T& record, int size, void* out) {
    if (out == nullptr)
        return static_cast<int>(sizeof(T));
    int n = size < static_cast<int>(sizeof(T)) ? size : static_cast<int>(sizeof(T));
    std::memcpy(out, &record, static_cast<size_t>(n));
    return n;
}

// Windows' default scheme, by COLOR_xxx index.
constexpr COLORREF kSysColours[] = {
    RGB(200, 200, 200), RGB(0, 0, 0),       RGB(153, 180, 209), RGB(191, 205, 219),
    RGB(240, 240, 240), RGB(255, 255, 255), RGB(100, 100, 100), RGB(0, 0, 0),
    RGB(0, 0, 0),       RGB(0, 0, 0),       RGB(180, 180, 180), RGB(244, 247, 252),
    RGB(171, 171, 171), RGB(0, 120, 215),   RGB(255, 255, 255), RGB(240, 240, 240),
    RGB(160, 160, 160), RGB(109, 109, 109), RGB(0, 0, 0),       RGB(0, 0, 0),
    RGB(255, 255, 255), RGB(105, 105, 105), RGB(227, 227, 227), RGB(0, 0, 0),
    RGB(255, 255, 225), RGB(0, 0, 0),       RGB(0, 102, 204),   RGB(185, 209, 234),
    RGB(215, 228, 242), RGB(0, 120, 215),   RGB(240, 240, 240),
};
constexpr int kSysColourCount = static_cast<int>(sizeof kSysColours / sizeof kSysColours[0]);

HBRUSH NewBrush(UINT style, COLORREF colour) {
    LOGBRUSH lb{style, colour & 0x00FFFFFFu, 0};
    return static_cast<HBRUSH>(NewGdiHandle(std::make_shared<BrushObject>(lb)));
}

HFONT NewStockFont(const char* face, LONG height, LONG weight) {
    LOGFONTA lf{};
    lf.lfHeight = height;
    lf.lfWeight = weight;
    lf.lfCharSet = DEFAULT_CHARSET;
    std::strncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
    return CreateFontIndirectA(&lf);
}

// A handle made once per key, and made again when someone deleted it.
HGDIOBJ Cached(int key, const std::function<HGDIOBJ()>& make) {
    // Never destroyed: DCs made by static destructors still take stock objects.
    static auto* mutex = new std::mutex;
    static auto* handles = new std::unordered_map<int, HGDIOBJ>;
    std::lock_guard<std::mutex> lock(*mutex);
    HGDIOBJ& handle = (*handles)[key];
    if (handle == nullptr || !GdiObjectOf(handle))
        handle = make();
    return handle;
}

constexpr int kStockBitmapKey = 100;
constexpr int kSysBrushKey = 200;

template <class Wrapper, class Handle>
Wrapper* WrapperOf(Handle handle) {
    if (handle == nullptr)
        return nullptr;
    // Kept for the whole run: a caller may hold the pointer as long as it likes.
    static auto* mutex = new std::mutex;
    static auto* wrappers = new std::unordered_map<Handle, std::unique_ptr<Wrapper>>;
    std::lock_guard<std::mutex> lock(*mutex);
    auto& slot = (*wrappers)[handle];
    if (!slot) {
        slot = std::make_unique<Wrapper>();
        slot->m_hObject = handle;
    }
    return slot.get();
}

}  // namespace

bool BitmapSizeAllowed(int64_t w, int64_t h) {
    constexpr int64_t kMaxSide = 1 << 15, kMaxPixels = int64_t{1} << 26;
    return w > 0 && h > 0 && w <= kMaxSide && h <= kMaxSide && w * h <= kMaxPixels;
}

int BrushObject::Describe(int size, void* out) const {
    return CopyDescription(logBrush_, size, out);
}

int BitmapObject::Describe(int size, void* out) const {
    BITMAP bm{};
    bm.bmWidth = image_.width();
    bm.bmHeight = image_.height();
    bm.bmWidthBytes = image_.width() * 4;
    bm.bmPlanes = 1;
    bm.bmBitsPixel = 32;
    return CopyDescription(bm, size, out);
}

bool BrushColour(HBRUSH brush, COLORREF* colour, bool* paints) {
    auto value = reinterpret_cast<uintptr_t>(brush);
    if (value >= 1 && value <= static_cast<uintptr_t>(kSysColourCount)) {
        *colour = GetSysColor(static_cast<int>(value - 1));
        *paints = true;
        return true;
    }
    auto object = GdiObjectAs<BrushObject>(brush);
    if (!object)
        return false;
    *colour = object->logBrush().lbColor;
    *paints = object->logBrush().lbStyle != BS_NULL;
    return true;
}

HBITMAP NewBitmap(QImage image) {
    if (image.isNull() || !BitmapSizeAllowed(image.width(), image.height())) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (image.format() != QImage::Format_RGB32)
        image = image.convertToFormat(QImage::Format_RGB32);
    return static_cast<HBITMAP>(
        NewGdiHandle(std::make_shared<BitmapObject>(std::move(image), false)));
}

HGDIOBJ StockObject(int index) {
    switch (index) {
        case WHITE_BRUSH:
        case LTGRAY_BRUSH:
        case GRAY_BRUSH:
        case DKGRAY_BRUSH:
        case BLACK_BRUSH: {
            static constexpr BYTE kGrey[] = {255, 192, 128, 64, 0};
            BYTE g = kGrey[index];
            return Cached(index, [g] { return NewBrush(BS_SOLID, RGB(g, g, g)); });
        }
        case NULL_BRUSH:
            return Cached(index, [] { return NewBrush(BS_NULL, 0); });
        case SYSTEM_FONT:
            return Cached(index, [] { return NewStockFont("System", 16, FW_BOLD); });
        case DEFAULT_GUI_FONT:
            return Cached(index, [] { return NewStockFont("MS Shell Dlg", -11, FW_NORMAL); });
        default:
            return nullptr;
    }
}

HBITMAP StockBitmap() {
    return static_cast<HBITMAP>(Cached(kStockBitmapKey, [] {
        QImage one(1, 1, QImage::Format_RGB32);
        one.fill(0xFF000000u);
        return NewGdiHandle(std::make_shared<BitmapObject>(std::move(one), true));
    }));
}

}  // namespace platform

HBRUSH CreateSolidBrush(COLORREF color) {
    return platform::NewBrush(BS_SOLID, color);
}

DWORD GetSysColor(int index) {
    return index >= 0 && index < platform::kSysColourCount ? platform::kSysColours[index] : 0;
}

HBRUSH GetSysColorBrush(int index) {
    if (index < 0 || index >= platform::kSysColourCount)
        return nullptr;
    return static_cast<HBRUSH>(platform::Cached(platform::kSysBrushKey + index, [index] {
        return platform::NewBrush(BS_SOLID, GetSysColor(index));
    }));
}

HGDIOBJ GetStockObject(int index) {
    return platform::StockObject(index);
}

HBITMAP CreateCompatibleBitmap(HDC dc, int w, int h) {
    if (!platform::ReadDc(dc, nullptr)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (w < 0 || h < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // Windows gives a 1 x 1 bitmap for an empty size.
    if (w == 0 || h == 0)
        w = h = 1;
    if (!platform::BitmapSizeAllowed(w, h)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(0xFF000000u);
    return platform::NewBitmap(std::move(image));
}

HBITMAP CreateBitmap(int w, int h, UINT planes, UINT bitsPerPixel, const void* bits) {
    if (planes != 1 || bitsPerPixel != 32) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    if (!platform::BitmapSizeAllowed(w, h)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(0xFF000000u);
    if (bits != nullptr) {
        const auto* in = static_cast<const uint8_t*>(bits);
        for (int y = 0; y < h; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(image.scanLine(y));
            for (int x = 0; x < w; ++x, in += 4) {
                row[x] = 0xFF000000u | (uint32_t{in[2]} << 16) | (uint32_t{in[1]} << 8) | in[0];
            }
        }
    }
    return platform::NewBitmap(std::move(image));
}

// --- CBrush and CBitmap --------------------------------------------------------------------------

namespace {
template <class Owner>
BOOL AttachNew(Owner* owner, HGDIOBJ made) {
    if (made == nullptr)
        return FALSE;
    if (!owner->Attach(made)) {
        DeleteObject(made);
        return FALSE;
    }
    return TRUE;
}
}  // namespace

BOOL CBrush::CreateSolidBrush(COLORREF color) {
    return AttachNew(this, ::CreateSolidBrush(color));
}

int CBrush::GetLogBrush(LOGBRUSH* logBrush) const {
    return GetObject(static_cast<int>(sizeof(LOGBRUSH)), logBrush);
}

CBrush* CBrush::FromHandle(HBRUSH brush) {
    return platform::WrapperOf<CBrush>(brush);
}

BOOL CBitmap::CreateCompatibleBitmap(CDC* dc, int w, int h) {
    return AttachNew(this, ::CreateCompatibleBitmap(dc != nullptr ? dc->m_hDC : nullptr, w, h));
}

BOOL CBitmap::CreateBitmap(int w, int h, UINT planes, UINT bitsPerPixel, const void* bits) {
    return AttachNew(this, ::CreateBitmap(w, h, planes, bitsPerPixel, bits));
}

int CBitmap::GetBitmap(BITMAP* bitmap) const {
    return GetObject(static_cast<int>(sizeof(BITMAP)), bitmap);
}

CBitmap* CBitmap::FromHandle(HBITMAP bitmap) {
    return platform::WrapperOf<CBitmap>(bitmap);
}
