// LoadImageA: bitmap files (.bmp) read into bitmaps, and icons of a module.
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/lasterror.h"
#include "platform/base/path.h"
#include "platform/base/regular_file.h"
#include "platform/gdi/gdi_internal.h"
#include "platform/modules/dib.h"
#include "platform/modules/resources.h"

namespace platform {

namespace {

constexpr size_t kFileHeader = 14;
constexpr off_t kMaxFile = off_t{1} << 28;

// A .bmp file: its 14-byte header, whose last field says where the pixels begin, then the
// bitmap in any of the forms a file may hold.
bool DecodeBmp(const std::vector<uint8_t>& file, QImage* out) {
    const size_t size = file.size();
    const uint8_t* data = file.data();
    if (size < kFileHeader + 12 || data[0] != 'B' || data[1] != 'M')
        return false;
    const uint32_t offBits = uint32_t{data[10]} | (uint32_t{data[11]} << 8) |
                             (uint32_t{data[12]} << 16) | (uint32_t{data[13]} << 24);
    DibRules rules;
    rules.coreHeader = true;
    rules.bitFields = true;
    rules.sizeAllowed = &BitmapSizeAllowed;
    rules.pixelOffset = int64_t{offBits} - static_cast<int64_t>(kFileHeader);
    const std::optional<DibImage> dib = DecodeDib(data + kFileHeader, size - kFileHeader, rules);
    if (!dib)
        return false;
    QImage image(dib->width, dib->height, QImage::Format_RGB32);
    if (image.isNull())
        return false;
    const size_t width = static_cast<size_t>(dib->width);
    for (int y = 0; y < dib->height; ++y) {
        std::memcpy(image.scanLine(y), dib->argb.data() + static_cast<size_t>(y) * width,
                    width * sizeof(uint32_t));
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
