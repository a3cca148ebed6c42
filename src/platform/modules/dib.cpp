#include "platform/modules/dib.h"

#include <algorithm>
#include <new>

namespace platform {

namespace {

constexpr uint32_t kBiRgb = 0, kBiBitfields = 3, kBiAlphaBitfields = 6;
constexpr uint32_t kOpaque = 0xFF000000u;

uint16_t U16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t U32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// One colour of a bit-field pixel, scaled to 8 bits.
struct Channel {
    uint32_t mask = 0, max = 0;
    int shift = 0;
    explicit Channel(uint32_t m) : mask(m) {
        if (m == 0)
            return;
        while (((m >> shift) & 1) == 0)
            ++shift;
        max = m >> shift;
    }
    uint32_t Of(uint32_t pixel) const {
        if (max == 0)
            return 0;
        uint64_t v = (pixel & mask) >> shift;
        return static_cast<uint32_t>((v * 255 + max / 2) / max);
    }
};

// The AND mask of an icon: transparency where the colours carry none. A 32-bit image with any
// alpha is drawn by its alpha alone, and one with neither alpha nor mask is opaque.
void ApplyMask(const uint8_t* mask, size_t stride, unsigned bits, bool anyAlpha, DibImage* image) {
    const size_t w = static_cast<size_t>(image->width), h = static_cast<size_t>(image->height);
    if (bits == 32 && !anyAlpha && mask == nullptr) {
        for (uint32_t& px : image->argb)
            px |= kOpaque;
        return;
    }
    if (mask == nullptr || (bits == 32 && anyAlpha))
        return;
    for (size_t y = 0; y < h; ++y) {
        const uint8_t* row = mask + (h - 1 - y) * stride;
        for (size_t x = 0; x < w; ++x) {
            uint32_t& px = image->argb[y * w + x];
            const bool transparent = (row[x / 8] >> (7 - x % 8)) & 1;
            px = transparent ? (px & 0x00FFFFFFu) : (px | kOpaque);
        }
    }
}

}  // namespace

std::optional<DibImage> DecodeDib(const uint8_t* header, size_t size, const DibRules& rules) {
    if (header == nullptr || size < 12 || rules.sizeAllowed == nullptr)
        return std::nullopt;
    const uint8_t* const h = header;
    const uint32_t headerSize = U32(h);
    const bool core = rules.coreHeader && headerSize == 12;
    if (!core && (headerSize < 40 || headerSize > size))
        return std::nullopt;

    int64_t width, height;
    unsigned planes, bits;
    uint32_t compression = kBiRgb, coloursUsed = 0;
    bool topDown = false;
    if (core) {
        width = U16(h + 4);
        height = U16(h + 6);
        planes = U16(h + 8);
        bits = U16(h + 10);
    } else {
        width = static_cast<int32_t>(U32(h + 4));
        height = static_cast<int32_t>(U32(h + 8));
        planes = U16(h + 12);
        bits = U16(h + 14);
        compression = U32(h + 16);
        coloursUsed = U32(h + 32);
        if (rules.icon) {
            height /= 2;
        } else if (height < 0) {
            topDown = true;
            height = -height;
        }
    }
    if (planes != 1 || !rules.sizeAllowed(width, height))
        return std::nullopt;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32 &&
        !(bits == 16 && rules.bitFields)) {
        return std::nullopt;
    }

    size_t tableStart = headerSize;
    uint32_t masks[3] = {0, 0, 0};
    if (rules.bitFields && (compression == kBiBitfields || compression == kBiAlphaBitfields)) {
        if (bits != 16 && bits != 32)
            return std::nullopt;
        const uint8_t* at = h + 40;
        if (headerSize < 52) {
            // The masks follow a plain header.
            size_t count = compression == kBiAlphaBitfields ? 16 : 12;
            if (tableStart + count > size)
                return std::nullopt;
            at = h + tableStart;
            tableStart += count;
        }
        for (int i = 0; i < 3; ++i)
            masks[i] = U32(at + 4 * i);
    } else if (compression != kBiRgb) {
        return std::nullopt;  // run-length, JPEG and PNG contents are not read
    } else if (bits == 16) {
        masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
    } else if (bits == 32) {
        masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
    }

    std::vector<uint32_t> palette;
    size_t tableEnd = tableStart;
    if (bits <= 8) {
        const size_t entry = core ? 3 : 4;
        const size_t most = size_t{1} << bits;
        if (rules.icon && coloursUsed > most)
            return std::nullopt;
        const size_t count = coloursUsed != 0 ? std::min<size_t>(coloursUsed, most) : most;
        if (tableStart + count * entry > size)
            return std::nullopt;
        for (size_t i = 0; i < count; ++i) {
            const uint8_t* c = h + tableStart + i * entry;
            palette.push_back(kOpaque | (uint32_t{c[2]} << 16) | (uint32_t{c[1]} << 8) | c[0]);
        }
        tableEnd = tableStart + count * entry;
    }

    const uint64_t stride = ((static_cast<uint64_t>(width) * bits + 31) / 32) * 4;
    uint64_t start = tableEnd;
    if (rules.pixelOffset) {
        if (*rules.pixelOffset < static_cast<int64_t>(headerSize) ||
            static_cast<uint64_t>(*rules.pixelOffset) > size) {
            return std::nullopt;
        }
        start = static_cast<uint64_t>(*rules.pixelOffset);
    }
    if (stride * static_cast<uint64_t>(height) > size - start)
        return std::nullopt;
    const size_t w = static_cast<size_t>(width), rows = static_cast<size_t>(height);
    const uint8_t* mask = nullptr;
    const size_t maskStride = (w + 31) / 32 * 4;
    if (rules.icon) {
        const size_t maskAt = start + stride * rows;
        if (size - maskAt >= maskStride * rows)
            mask = h + maskAt;
        else if (bits != 32)
            return std::nullopt;
    }

    DibImage image;
    image.width = static_cast<int>(width);
    image.height = static_cast<int>(height);
    try {
        image.argb.resize(w * rows);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    const Channel red(masks[0]), green(masks[1]), blue(masks[2]);
    bool anyAlpha = false;
    for (size_t y = 0; y < rows; ++y) {
        const uint8_t* in = h + start + stride * (topDown ? y : rows - 1 - y);
        uint32_t* out = image.argb.data() + y * w;
        for (size_t x = 0; x < w; ++x) {
            uint32_t pixel;
            if (bits <= 8) {
                const size_t bit = x * bits;
                const unsigned index = (in[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                pixel = index < palette.size() ? palette[index] : kOpaque;
            } else if (bits == 24) {
                const uint8_t* c = in + x * 3;
                pixel = kOpaque | (uint32_t{c[2]} << 16) | (uint32_t{c[1]} << 8) | c[0];
            } else if (bits == 32 && rules.icon) {
                const uint8_t* c = in + x * 4;
                pixel =
                    (uint32_t{c[3]} << 24) | (uint32_t{c[2]} << 16) | (uint32_t{c[1]} << 8) | c[0];
                anyAlpha = anyAlpha || c[3] != 0;
            } else {
                const uint32_t raw = bits == 16 ? U16(in + x * 2) : U32(in + x * 4);
                pixel = kOpaque | (red.Of(raw) << 16) | (green.Of(raw) << 8) | blue.Of(raw);
            }
            out[x] = pixel;
        }
    }
    if (rules.icon)
        ApplyMask(mask, maskStride, bits, anyAlpha, &image);
    return image;
}

}  // namespace platform
