// LoadImageA of bitmap files written by the test in each layout the loader reads, and of files
// that are missing or malformed.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "platform/base/lasterror.h"
#include "platform/gdi/gdi.h"
#include "support/named_pipe.h"
#include "support/sandbox.h"

namespace {

using Grid = std::vector<std::vector<COLORREF>>;  // rows top-down

constexpr uint32_t kBiRgb = 0, kBiRle8 = 1, kBiBitfields = 3;

struct Format {
    const char* name;
    uint32_t headerSize;  // 12 (core), 40, 108 or 124
    int bits;
    uint32_t compression;
    bool topDown;
    uint32_t masks[3];  // red, green, blue, for bit fields
};

class Bytes {
  public:
    void U8(uint32_t v) { s_.push_back(static_cast<char>(v & 0xFF)); }
    void U16(uint32_t v) { U8(v), U8(v >> 8); }
    void U32(uint32_t v) { U16(v), U16(v >> 16); }
    void PadTo(size_t size) {
        while (s_.size() < size)
            U8(0);
    }
    void Put32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            s_[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    }
    size_t size() const { return s_.size(); }
    std::string& str() { return s_; }

  private:
    std::string s_;
};

// The component `c` (0..255) of a colour in a bit field of `mask`.
uint32_t InField(uint32_t c, uint32_t mask) {
    if (mask == 0)
        return 0;
    int shift = 0;
    while (((mask >> shift) & 1) == 0)
        ++shift;
    uint32_t max = mask >> shift;
    return ((c * max + 127) / 255) << shift;
}

std::string Encode(const Grid& grid, const Format& f) {
    const int h = static_cast<int>(grid.size()), w = static_cast<int>(grid[0].size());
    const bool core = f.headerSize == 12;
    std::vector<COLORREF> palette;
    if (f.bits <= 8) {
        for (const auto& row : grid) {
            for (COLORREF c : row) {
                if (std::find(palette.begin(), palette.end(), c) == palette.end())
                    palette.push_back(c);
            }
        }
        EXPECT_LE(palette.size(), size_t{1} << f.bits) << "the test's grid has too many colours";
        if (core)
            palette.resize(size_t{1} << f.bits, 0);  // a core table is always full
    }
    uint32_t masks[3] = {f.masks[0], f.masks[1], f.masks[2]};
    if (f.compression == kBiRgb && f.bits == 16)
        masks[0] = 0x7C00, masks[1] = 0x3E0, masks[2] = 0x1F;
    if (f.compression == kBiRgb && f.bits == 32)
        masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;

    Bytes b;
    b.U8('B'), b.U8('M'), b.U32(0), b.U32(0), b.U32(0);  // size and offset filled in below
    if (core) {
        b.U32(12), b.U16(w), b.U16(h), b.U16(1), b.U16(f.bits);
    } else {
        b.U32(f.headerSize), b.U32(w), b.U32(f.topDown ? -h : h), b.U16(1), b.U16(f.bits);
        b.U32(f.compression), b.U32(0), b.U32(2835), b.U32(2835);
        b.U32(static_cast<uint32_t>(palette.size())), b.U32(0);
        if (f.headerSize >= 52)
            b.U32(masks[0]), b.U32(masks[1]), b.U32(masks[2]);
        b.PadTo(14 + f.headerSize);
        if (f.compression == kBiBitfields && f.headerSize == 40) {
            b.U32(masks[0]), b.U32(masks[1]), b.U32(masks[2]);
        }
    }
    for (COLORREF c : palette) {
        b.U8(GetBValue(c)), b.U8(GetGValue(c)), b.U8(GetRValue(c));
        if (!core)
            b.U8(0);
    }
    b.Put32(10, static_cast<uint32_t>(b.size()));
    const size_t stride = ((static_cast<size_t>(w) * f.bits + 31) / 32) * 4;
    for (int i = 0; i < h; ++i) {
        const auto& row = grid[f.topDown ? i : h - 1 - i];
        std::vector<uint8_t> out(stride, 0);
        for (int x = 0; x < w; ++x) {
            COLORREF c = row[x];
            if (f.bits <= 8) {
                auto index = static_cast<uint32_t>(std::find(palette.begin(), palette.end(), c) -
                                                   palette.begin());
                size_t bit = static_cast<size_t>(x) * f.bits;
                out[bit / 8] |= static_cast<uint8_t>(index << (8 - f.bits - bit % 8));
            } else if (f.bits == 24) {
                out[x * 3] = GetBValue(c), out[x * 3 + 1] = GetGValue(c),
                        out[x * 3 + 2] = GetRValue(c);
            } else {
                uint32_t v = InField(GetRValue(c), masks[0]) | InField(GetGValue(c), masks[1]) |
                             InField(GetBValue(c), masks[2]);
                if (f.bits == 32 && f.compression == kBiRgb)
                    v |= 0x7F000000u;  // not alpha
                for (int k = 0; k < f.bits / 8; ++k)
                    out[x * (f.bits / 8) + k] = (v >> (8 * k)) & 0xFF;
            }
        }
        for (uint8_t byte : out)
            b.U8(byte);
    }
    b.Put32(2, static_cast<uint32_t>(b.size()));
    return b.str();
}

class LoadImageTest : public fixtures::SandboxTest {
  protected:
    // The bitmap loaded from `bytes`, or null.
    HBITMAP Load(const std::string& bytes, int cx = 0, int cy = 0) {
        std::string path = sandbox_.Path("product_name.bmp");
        sandbox_.WriteFile(path, bytes);
        return static_cast<HBITMAP>(LoadImageA(nullptr, fixtures::Sandbox::Win(path).c_str(),
                                               IMAGE_BITMAP, cx, cy,
                                               LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    }
    static Grid Pixels(HBITMAP bitmap) {
        BITMAP bm{};
        GetObjectA(bitmap, sizeof bm, &bm);
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, bitmap);
        Grid out(static_cast<size_t>(bm.bmHeight));
        for (int y = 0; y < bm.bmHeight; ++y) {
            for (int x = 0; x < bm.bmWidth; ++x)
                out[y].push_back(GetPixel(dc, x, y));
        }
        SelectObject(dc, old);
        DeleteDC(dc);
        return out;
    }
};

// Three columns, so that rows of 24 bits need padding.
const Grid kColours = {{RGB(1, 2, 3), RGB(200, 100, 50), RGB(0, 255, 128)},
                       {RGB(255, 255, 255), RGB(0, 0, 0), RGB(17, 34, 51)}};
// Colours that 5 bits per component hold exactly (132 is 16/31, 66 is 8/31 of 255).
const Grid kFieldColours = {{RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255)},
                            {RGB(132, 255, 66), RGB(0, 0, 0), RGB(255, 255, 255)}};
const Grid kTwoColours = {{RGB(10, 20, 30), RGB(200, 100, 50), RGB(10, 20, 30)},
                          {RGB(200, 100, 50), RGB(200, 100, 50), RGB(10, 20, 30)}};

TEST_F(LoadImageTest, ReadsEachLayoutPixelForPixel) {
    struct Case {
        Format format;
        const Grid* grid;
    } cases[] = {
        {{"24 bits, bottom-up", 40, 24, kBiRgb, false, {}}, &kColours},
        {{"24 bits, top-down", 40, 24, kBiRgb, true, {}}, &kColours},
        {{"24 bits, V4 header", 108, 24, kBiRgb, false, {}}, &kColours},
        {{"24 bits, core header", 12, 24, kBiRgb, false, {}}, &kColours},
        {{"32 bits, reserved byte ignored", 40, 32, kBiRgb, false, {}}, &kColours},
        {{"32 bits, top-down", 40, 32, kBiRgb, true, {}}, &kColours},
        {{"32 bits, fields after the header",
          40,
          32,
          kBiBitfields,
          false,
          {0xFF0000, 0xFF00, 0xFF}},
         &kColours},
        {{"32 bits, odd fields in a V5 header",
          124,
          32,
          kBiBitfields,
          false,
          {0x0000FF00, 0x00FF0000, 0xFF000000}},
         &kColours},
        {{"16 bits, 5-5-5", 40, 16, kBiRgb, false, {}}, &kFieldColours},
        {{"16 bits, 5-6-5 fields", 40, 16, kBiBitfields, true, {0xF800, 0x07E0, 0x001F}},
         &kFieldColours},
        {{"8 bits, palette", 40, 8, kBiRgb, false, {}}, &kColours},
        {{"8 bits, palette, top-down", 40, 8, kBiRgb, true, {}}, &kColours},
        {{"8 bits, core palette", 12, 8, kBiRgb, false, {}}, &kColours},
        {{"4 bits, palette", 40, 4, kBiRgb, false, {}}, &kColours},
        {{"1 bit, palette", 40, 1, kBiRgb, false, {}}, &kTwoColours},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format.name);
        HBITMAP bitmap = Load(Encode(*c.grid, c.format));
        ASSERT_NE(bitmap, nullptr) << GetLastError();
        BITMAP bm{};
        ASSERT_EQ(GetObjectA(bitmap, sizeof bm, &bm), static_cast<int>(sizeof bm));
        EXPECT_EQ(bm.bmWidth, 3);
        EXPECT_EQ(bm.bmHeight, 2);
        EXPECT_EQ(Pixels(bitmap), *c.grid);
        EXPECT_TRUE(DeleteObject(bitmap));
    }
}

TEST_F(LoadImageTest, MissingOrMalformedFilesGiveNull) {
    const std::string good = Encode(kColours, {"", 40, 24, kBiRgb, false, {}});
    const std::string palette = Encode(kColours, {"", 40, 8, kBiRgb, false, {}});
    auto withField = [](std::string s, size_t at, uint32_t v, size_t width) {
        std::string field;
        for (size_t i = 0; i < width; ++i)
            field += static_cast<char>((v >> (8 * i)) & 0xFF);
        return s.replace(at, width, field);
    };
    auto with32 = [&](const std::string& s, size_t at, uint32_t v) {
        return withField(s, at, v, 4);
    };
    auto with16 = [&](const std::string& s, size_t at, uint32_t v) {
        return withField(s, at, v, 2);
    };
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"only the file header", good.substr(0, 14)},
        {"not a bitmap", "XM" + good.substr(2)},
        {"pixels cut short", good.substr(0, good.size() - 5)},
        {"zero width", with32(good, 18, 0)},
        {"zero height", with32(good, 22, 0)},
        {"the lowest height", with32(good, 22, 0x80000000u)},
        {"too large", with32(with32(good, 18, 1u << 20), 22, 1u << 20)},
        {"7 bits per pixel", with16(good, 28, 7)},
        {"two planes", with16(good, 26, 2)},
        {"run-length content", with32(with16(good, 28, 8), 30, kBiRle8)},
        {"pixels beyond the end", with32(good, 10, 1000000)},
        {"pixels inside the header", with32(good, 10, 20)},
        {"a header of 20 bytes", with32(good, 14, 20)},
        {"a header larger than the file", with32(good, 14, 100000)},
        {"palette cut short", palette.substr(0, 14 + 40 + 8)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(0);
        HBITMAP bitmap = Load(c.bytes);
        EXPECT_EQ(bitmap, nullptr);
        if (bitmap != nullptr)
            DeleteObject(bitmap);
        EXPECT_NE(GetLastError(), 0u);
    }

    const std::string missing = fixtures::Sandbox::Win(sandbox_.Path("none.bmp"));
    EXPECT_EQ(LoadImageA(nullptr, missing.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    const std::string folder = fixtures::Sandbox::Win(sandbox_.root());
    EXPECT_EQ(LoadImageA(nullptr, folder.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE), nullptr);
    const std::string tooLong = "\\" + std::string(300, 'a') + ".bmp";
    EXPECT_EQ(LoadImageA(nullptr, tooLong.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(LoadImageA(nullptr, nullptr, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE), nullptr);

    // A named pipe is refused at once; waiting for its other end would hold the painting.
    const std::string pipe = sandbox_.Path("pipe.bmp");
    ASSERT_TRUE(fixtures::MakeNamedPipe(pipe));
    EXPECT_TRUE(fixtures::ReturnsWithoutWaitingOn(pipe, [&] {
        const std::string win = fixtures::Sandbox::Win(pipe);
        EXPECT_EQ(LoadImageA(nullptr, win.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
    }));
}

TEST_F(LoadImageTest, KindsOtherThanABitmapFileAreRefused) {
    std::string path = sandbox_.Path("product_name.bmp");
    sandbox_.WriteFile(path, Encode(kColours, {"", 40, 24, kBiRgb, false, {}}));
    std::string win = fixtures::Sandbox::Win(path);
    EXPECT_EQ(LoadImageA(nullptr, win.c_str(), IMAGE_ICON, 0, 0, LR_LOADFROMFILE), nullptr);
    EXPECT_EQ(LoadImageA(nullptr, win.c_str(), IMAGE_BITMAP, 0, 0, 0), nullptr)
        << "without LR_LOADFROMFILE the name is a resource";
}

TEST_F(LoadImageTest, GivenSizesStretchThePicture) {
    const Grid red = {{RGB(255, 0, 0), RGB(255, 0, 0)}, {RGB(255, 0, 0), RGB(255, 0, 0)}};
    const Format format{"", 40, 24, kBiRgb, false, {}};
    struct Case {
        int cx, cy;
        LONG width, height;
    } cases[] = {{6, 4, 6, 4}, {0, 5, 2, 5}, {3, 0, 3, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.cx << " x " << c.cy);
        HBITMAP bitmap = Load(Encode(red, format), c.cx, c.cy);
        ASSERT_NE(bitmap, nullptr);
        Grid pixels = Pixels(bitmap);
        ASSERT_EQ(pixels.size(), static_cast<size_t>(c.height));
        for (const auto& row : pixels) {
            EXPECT_EQ(row, std::vector<COLORREF>(static_cast<size_t>(c.width), RGB(255, 0, 0)));
        }
        DeleteObject(bitmap);
    }
    // Refused before stretching: the stretched picture would be past the largest bitmap.
    for (const auto& [cx, cy] : {std::pair{40000, 2}, std::pair{32768, 2049}}) {
        SCOPED_TRACE(testing::Message() << cx << " x " << cy);
        SetLastError(0);
        EXPECT_EQ(Load(Encode(red, format), cx, cy), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    }
}

TEST_F(LoadImageTest, EveryLoadReadsTheFileAgain) {
    const Format format{"", 40, 24, kBiRgb, false, {}};
    HBITMAP first = Load(Encode({{RGB(255, 0, 0)}}, format));
    HBITMAP second = Load(Encode({{RGB(0, 0, 255)}}, format));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(Pixels(first), (Grid{{RGB(255, 0, 0)}}));
    EXPECT_EQ(Pixels(second), (Grid{{RGB(0, 0, 255)}}));
    DeleteObject(first);
    DeleteObject(second);
}

TEST_F(LoadImageTest, DamagedFilesAreReadSafelyOrRefused) {
    // Under the address sanitizer this finds any read outside the file's bytes.
    const std::string seeds[] = {
        Encode(kColours, {"", 40, 8, kBiRgb, false, {}}),
        Encode(kColours, {"", 124, 32, kBiBitfields, true, {0xFF00, 0xFF0000, 0xFF000000}}),
        Encode(kTwoColours, {"", 12, 1, kBiRgb, false, {}}),
    };
    std::mt19937 random(20240611);
    int loaded = 0;
    for (int round = 0; round < 300; ++round) {
        std::string bytes = seeds[round % 3];
        int changes = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < changes; ++i) {
            // Mostly the headers and tables, where the sizes and offsets are.
            size_t at = random() % std::min<size_t>(bytes.size(), 80);
            bytes[at] = static_cast<char>(random() % 256);
        }
        if (random() % 4 == 0)
            bytes.resize(random() % bytes.size());
        HBITMAP bitmap = Load(bytes);
        if (bitmap == nullptr)
            continue;
        ++loaded;
        BITMAP bm{};
        ASSERT_EQ(GetObjectA(bitmap, sizeof bm, &bm), static_cast<int>(sizeof bm));
        EXPECT_GT(bm.bmWidth, 0);
        EXPECT_GT(bm.bmHeight, 0);
        DeleteObject(bitmap);
    }
    EXPECT_GT(loaded, 0) << "some damage leaves a readable picture";
}

}  // namespace
