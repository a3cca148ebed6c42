// LoadImageA: bitmap files (.bmp) read into bitmaps, and icons of a module.
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/gdi_internal.h"
#include "platform/lasterror.h"
#include "platform/path.h"
#include "platform/regular_file.h"
#include "platform/resources.h"

namespace platform {

namespace {

constexpr uint32_t kBiRgb = 0, kBiBitfields = 3, kBiAlphaBitfields = 6;
constexpr size_t kFileHeader = 14;
constexpr off_t kMaxFile = off_t{1} << 28;

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

bool DecodeBmp(const std::vector<uint8_t>& file, QImage* out) {
    const size_t size = file.size();
    const uint8_t* data = file.data();
    if (size < kFileHeader + 12 || data[0] != 'B' || data[1] != 'M')
        return false;
    const uint32_t offBits = U32(data + 10);
    const uint32_t headerSize = U32(data + kFileHeader);
    const uint8_t* h = data + kFileHeader;
    const bool core = headerSize == 12;
    if (!core && (headerSize < 40 || headerSize > size - kFileHeader))
        return false;

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
        topDown = height < 0;
        if (topDown)
            height = -height;
    }
    if (planes != 1 || !BitmapSizeAllowed(width, height))
        return false;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return false;

    size_t tableStart = kFileHeader + headerSize;
    uint32_t masks[3] = {0, 0, 0};
    if (compression == kBiBitfields || compression == kBiAlphaBitfields) {
        if (bits != 16 && bits != 32)
            return false;
        const uint8_t* at = h + 40;
        if (headerSize < 52) {
            // The masks follow a plain header.
            size_t count = compression == kBiAlphaBitfields ? 16 : 12;
            if (tableStart + count > size)
                return false;
            at = data + tableStart;
            tableStart += count;
        }
        for (int i = 0; i < 3; ++i)
            masks[i] = U32(at + 4 * i);
    } else if (compression != kBiRgb) {
        return false;  // run-length, JPEG and PNG contents are not read
    } else if (bits == 16) {
        masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
    } else if (bits == 32) {
        masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
    }

    std::vector<uint32_t> palette;
    if (bits <= 8) {
        size_t entry = core ? 3 : 4;
        size_t count = size_t{1} << bits;
        if (coloursUsed != 0 && coloursUsed < count)
            count = coloursUsed;
        if (tableStart + count * entry > size)
            return false;
        for (size_t i = 0; i < count; ++i) {
            const uint8_t* c = data + tableStart + i * entry;
            palette.push_back(0xFF000000u | (uint32_t{c[2]} << 16) | (uint32_t{c[1]} << 8) | c[0]);
        }
    }

    const uint64_t stride = ((static_cast<uint64_t>(width) * bits + 31) / 32) * 4;
    const uint64_t start = offBits;
    if (start < kFileHeader + headerSize || start > size ||
        stride * static_cast<uint64_t>(height) > size - start) {
        return false;
    }

    const Channel red(masks[0]), green(masks[1]), blue(masks[2]);
    QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGB32);
    if (image.isNull())
        return false;
    for (int64_t y = 0; y < height; ++y) {
        const uint8_t* in =
            data + start + stride * static_cast<uint64_t>(topDown ? y : height - 1 - y);
        auto* row = reinterpret_cast<uint32_t*>(image.scanLine(static_cast<int>(y)));
        for (int64_t x = 0; x < width; ++x) {
            uint32_t pixel;
            if (bits <= 8) {
                uint64_t bit = static_cast<uint64_t>(x) * bits;
                unsigned index = (in[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                pixel = index < palette.size() ? palette[index] : 0xFF000000u;
            } else if (bits == 24) {
                const uint8_t* c = in + x * 3;
                pixel = 0xFF000000u | (uint32_t{c[2]} << 16) | (uint32_t{c[1]} << 8) | c[0];
            } else {
                uint32_t raw = bits == 16 ? U16(in + x * 2) : U32(in + x * 4);
                pixel = 0xFF000000u | (red.Of(raw) << 16) | (green.Of(raw) << 8) | blue.Of(raw);
            }
            row[x] = pixel;
        }
    }
    *out = std::move(image);
    return true;
}

// The whole file, or false with the Windows error set.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* out) {
    struct stat st {};
    const int fd = OpenRegularFile(path, &st);
    if (fd < 0) {
        SetLastError(errno == EISDIR   ? ERROR_ACCESS_DENIED
                     : errno == EINVAL ? ERROR_INVALID_DATA
                                       : WindowsErrorFromErrno(errno));
        return false;
    }
    std::string bytes;
    const bool small = st.st_size <= kMaxFile;
    const bool read = small && ReadRest(fd, &bytes);
    ::close(fd);
    if (!read) {
        SetLastError(small ? ERROR_READ_FAULT : ERROR_INVALID_DATA);
        return false;
    }
    out->assign(bytes.begin(), bytes.end());
    return true;
}

HANDLE LoadBitmapFile(LPCSTR name, int cx, int cy) {
    if (name == nullptr || IS_INTRESOURCE(name)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (IsPathTooLong(name)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    std::vector<uint8_t> file;
    if (!ReadWholeFile(ToNativePath(name), &file))
        return nullptr;
    QImage image;
    if (!DecodeBmp(file, &image)) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    int w = cx > 0 ? cx : image.width(), h = cy > 0 ? cy : image.height();
    if (w != image.width() || h != image.height()) {
        if (!BitmapSizeAllowed(w, h)) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        image = image.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    return NewBitmap(std::move(image));
}

}  // namespace

}  // namespace platform

HANDLE LoadImageA(HINSTANCE module, LPCSTR name, UINT type, int cx, int cy, UINT flags) {
    if ((flags & LR_LOADFROMFILE) != 0) {
        if (type != IMAGE_BITMAP) {
            SetLastError(ERROR_NOT_SUPPORTED);
            return nullptr;
        }
        return platform::LoadBitmapFile(name, cx, cy);
    }
    if (type == IMAGE_ICON)
        return LoadIconA(module, name);
    // Resource modules here carry no bitmaps.
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
}
