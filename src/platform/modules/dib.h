// Device-independent bitmaps: the pixels of a .bmp file and of an icon image, from the header
// on (BITMAPINFOHEADER or BITMAPCOREHEADER, the colour table, the pixel rows). Internal to the
// layer. The bytes are untrusted: every size is checked against them and nothing is read past
// them; anything malformed or refused by the caller's rules gives no image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace platform {

// What one kind of caller accepts.
struct DibRules {
    // The 12-byte core header, whose colour table has 3-byte entries.
    bool coreHeader = false;
    // BI_BITFIELDS and BI_ALPHABITFIELDS, and 16 bits per pixel.
    bool bitFields = false;
    // An icon image: the header gives twice the height (the rows of the AND mask follow the
    // colour rows), rows are bottom-up, 32-bit pixels keep their alpha, and a colour table
    // longer than the depth allows is refused.
    bool icon = false;
    // Whether an image of this width and height is accepted.
    bool (*sizeAllowed)(int64_t width, int64_t height) = nullptr;
    // Where the pixel rows begin, counted from the header's first byte; unset: right after the
    // colour table.
    std::optional<int64_t> pixelOffset;
};

struct DibImage {
    int width = 0, height = 0;
    std::vector<uint32_t> argb;  // 0xAARRGGBB, rows top-down, not premultiplied
};

// The image whose header begins at `header`, with `size` bytes up to the end of the data.
std::optional<DibImage> DecodeDib(const uint8_t* header, size_t size, const DibRules& rules);

}  // namespace platform
