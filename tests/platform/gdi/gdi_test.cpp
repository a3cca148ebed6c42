// Drawing into memory DCs: fills, raster operations, DC attributes, brushes and bitmaps as GDI
// objects, and the CDC / CBrush / CBitmap classes.
#include "platform/gdi/gdi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/base/lasterror.h"

namespace {

constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);

// A bitmap of w x h pixels given top-down as COLORREFs, selected into its own memory DC.
class MemoryDc {
  public:
    MemoryDc(int w, int h, const std::vector<COLORREF>& pixels = {}) : w_(w), h_(h) {
        std::vector<BYTE> bits(static_cast<size_t>(w) * h * 4, 0);
        for (size_t i = 0; i < pixels.size() && i * 4 < bits.size(); ++i) {
            bits[i * 4] = GetBValue(pixels[i]);
            bits[i * 4 + 1] = GetGValue(pixels[i]);
            bits[i * 4 + 2] = GetRValue(pixels[i]);
        }
        bitmap_ = CreateBitmap(w, h, 1, 32, bits.data());
        dc_ = CreateCompatibleDC(nullptr);
        old_ = SelectObject(dc_, bitmap_);
    }
    ~MemoryDc() {
        SelectObject(dc_, old_);
        DeleteDC(dc_);
        DeleteObject(bitmap_);
    }
    HDC dc() const { return dc_; }
    HBITMAP bitmap() const { return bitmap_; }
    COLORREF At(int x, int y) const { return GetPixel(dc_, x, y); }
    std::vector<COLORREF> All() const {
        std::vector<COLORREF> out;
        for (int y = 0; y < h_; ++y) {
            for (int x = 0; x < w_; ++x)
                out.push_back(At(x, y));
        }
        return out;
    }

  private:
    int w_, h_;
    HBITMAP bitmap_;
    HDC dc_;
    HGDIOBJ old_;
};

TEST(Fill, PaintsTheExactColourInsideTheHalfOpenRectangleOnly) {
    const COLORREF colours[] = {RGB(1, 2, 3), kRed,       kBlue, RGB(0, 255, 0),
                                kWhite,       0xAB123456u /* the top byte is not a colour */};
    for (COLORREF colour : colours) {
        SCOPED_TRACE(testing::Message() << std::hex << colour);
        MemoryDc target(4, 4);
        HBRUSH brush = CreateSolidBrush(colour);
        RECT rect{1, 1, 3, 3};
        ASSERT_NE(FillRect(target.dc(), &rect, brush), 0);
        COLORREF want = colour & 0xFFFFFF;
        EXPECT_EQ(target.At(1, 1), want);
        EXPECT_EQ(target.At(2, 2), want);
        EXPECT_EQ(target.At(3, 3), kBlack) << "right and bottom are outside";
        EXPECT_EQ(target.At(3, 1), kBlack);
        EXPECT_EQ(target.At(1, 3), kBlack);
        EXPECT_EQ(target.At(0, 0), kBlack);
        DeleteObject(brush);
    }
}

TEST(Fill, IsClippedToThePictureAndTakesSystemAndNullBrushes) {
    MemoryDc target(3, 3);
    RECT huge{-1000000, -5, 2, 2000000000};
    ASSERT_NE(FillRect(target.dc(), &huge, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1)), 0);
    EXPECT_EQ(target.All(), (std::vector<COLORREF>{kWhite, kWhite, kBlack, kWhite, kWhite, kBlack,
                                                   kWhite, kWhite, kBlack}));

    RECT all{0, 0, 3, 3};
    EXPECT_NE(FillRect(target.dc(), &all, static_cast<HBRUSH>(GetStockObject(NULL_BRUSH))), 0);
    EXPECT_EQ(target.At(0, 0), kWhite) << "a null brush paints nothing";
    EXPECT_NE(FillRect(target.dc(), &all, GetSysColorBrush(COLOR_BTNFACE)), 0);
    EXPECT_EQ(target.At(2, 2), GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(GetSysColorBrush(COLOR_BTNFACE), GetSysColorBrush(COLOR_BTNFACE));

    RECT empty{2, 2, 1, 1};
    EXPECT_NE(FillRect(target.dc(), &empty, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH))), 0);
    EXPECT_EQ(target.At(1, 1), GetSysColor(COLOR_BTNFACE));
}

TEST(Fill, RefusesBadArguments) {
    MemoryDc target(2, 2);
    HBRUSH brush = CreateSolidBrush(kRed);
    RECT rect{0, 0, 2, 2};
    EXPECT_EQ(FillRect(target.dc(), nullptr, brush), 0);
    EXPECT_EQ(FillRect(reinterpret_cast<HDC>(0x99), &rect, brush), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(FillRect(target.dc(), &rect, reinterpret_cast<HBRUSH>(0x123456)), 0);
    DeleteObject(brush);
    EXPECT_EQ(FillRect(target.dc(), &rect, brush), 0) << "a deleted brush";
    EXPECT_EQ(target.At(0, 0), kBlack);
}

// Each raster operation on one pixel, against its definition per bit.
TEST(BitBlt, RasterOperationsCombineSourceDestinationAndPattern) {
    const COLORREF s = RGB(0xF0, 0x0F, 0xAA), d = RGB(0xCC, 0x33, 0x55), p = RGB(0x12, 0xE4, 0x78);
    struct Case {
        const char* name;
        DWORD rop;
        COLORREF want;
    } cases[] = {
        {"SRCCOPY", SRCCOPY, s},
        {"SRCAND", SRCAND, s & d},
        {"SRCPAINT", SRCPAINT, s | d},
        {"SRCINVERT", SRCINVERT, s ^ d},
        {"SRCERASE", SRCERASE, s & ~d & 0xFFFFFF},
        {"NOTSRCCOPY", NOTSRCCOPY, ~s & 0xFFFFFF},
        {"NOTSRCERASE", NOTSRCERASE, ~(s | d) & 0xFFFFFF},
        {"MERGEPAINT", MERGEPAINT, (~s | d) & 0xFFFFFF},
        {"DSTINVERT", DSTINVERT, ~d & 0xFFFFFF},
        {"PATCOPY", PATCOPY, p},
        {"PATINVERT", PATINVERT, p ^ d},
        {"BLACKNESS", BLACKNESS, kBlack},
        {"WHITENESS", WHITENESS, kWhite},
    };
    HBRUSH pattern = CreateSolidBrush(p);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryDc src(1, 1, {s});
        MemoryDc dest(2, 1, {d, d});
        SelectObject(dest.dc(), pattern);
        ASSERT_TRUE(BitBlt(dest.dc(), 0, 0, 1, 1, src.dc(), 0, 0, c.rop));
        EXPECT_EQ(dest.At(0, 0), c.want);
        EXPECT_EQ(dest.At(1, 0), d) << "outside the rectangle";
        EXPECT_EQ(src.At(0, 0), s) << "the source is only read";
        SelectObject(dest.dc(), GetStockObject(WHITE_BRUSH));
    }
    DeleteObject(pattern);
}

TEST(BitBlt, SrcAndKeepsPerChannelTheBitsBothPicturesHave) {
    // A picture ANDed onto white is the picture; onto a colour it is cut to that colour.
    MemoryDc picture(2, 2, {kRed, RGB(10, 200, 30), kBlue, RGB(255, 255, 0)});
    MemoryDc white(2, 2, {kWhite, kWhite, kWhite, kWhite});
    ASSERT_TRUE(BitBlt(white.dc(), 0, 0, 2, 2, picture.dc(), 0, 0, SRCAND));
    EXPECT_EQ(white.All(), picture.All());
    COLORREF tint = RGB(0x0F, 0xF0, 0xFF);
    MemoryDc tinted(2, 2, {tint, tint, tint, tint});
    ASSERT_TRUE(BitBlt(tinted.dc(), 0, 0, 2, 2, picture.dc(), 0, 0, SRCAND));
    EXPECT_EQ(tinted.All(), (std::vector<COLORREF>{RGB(0x0F, 0, 0), RGB(10, 192, 30),
                                                   RGB(0, 0, 255), RGB(0x0F, 0xF0, 0)}));
}

TEST(BitBlt, CopiesFromTheSourceOffsetAndOnlyWhatTheSourceHolds) {
    std::vector<COLORREF> nine;
    for (int i = 0; i < 9; ++i)
        nine.push_back(RGB(i * 20, 0, 0));
    MemoryDc src(3, 3, nine);
    {
        MemoryDc dest(2, 2);
        ASSERT_TRUE(BitBlt(dest.dc(), 0, 0, 2, 2, src.dc(), 1, 1, SRCCOPY));
        EXPECT_EQ(dest.All(), (std::vector<COLORREF>{nine[4], nine[5], nine[7], nine[8]}));
    }
    {
        // Beyond the source's edges the destination keeps its pixels.
        MemoryDc dest(4, 4, std::vector<COLORREF>(16, kBlue));
        ASSERT_TRUE(BitBlt(dest.dc(), 1, 1, 4, 4, src.dc(), 1, 1, SRCCOPY));
        EXPECT_EQ(dest.At(1, 1), nine[4]);
        EXPECT_EQ(dest.At(2, 2), nine[8]);
        EXPECT_EQ(dest.At(3, 3), kBlue);
        EXPECT_EQ(dest.At(3, 1), kBlue);
        EXPECT_EQ(dest.At(0, 0), kBlue);
    }
    {
        // Negative places: only the part that lands inside is drawn.
        MemoryDc dest(2, 2, std::vector<COLORREF>(4, kBlue));
        ASSERT_TRUE(BitBlt(dest.dc(), -1, -1, 3, 3, src.dc(), 0, 0, SRCCOPY));
        EXPECT_EQ(dest.All(), (std::vector<COLORREF>{nine[4], nine[5], nine[7], nine[8]}));
    }
}

TEST(BitBlt, WithinOnePictureCopiesAsIfThroughABuffer) {
    MemoryDc strip(4, 1, {RGB(1, 0, 0), RGB(2, 0, 0), RGB(3, 0, 0), RGB(4, 0, 0)});
    ASSERT_TRUE(BitBlt(strip.dc(), 1, 0, 3, 1, strip.dc(), 0, 0, SRCCOPY));
    EXPECT_EQ(strip.All(),
              (std::vector<COLORREF>{RGB(1, 0, 0), RGB(1, 0, 0), RGB(2, 0, 0), RGB(3, 0, 0)}));
}

TEST(BitBlt, FromAMemoryDcWithoutABitmapDrawsNothing) {
    // The case of a picture that failed to load: its NULL was never selected.
    HDC empty = CreateCompatibleDC(nullptr);
    EXPECT_EQ(SelectObject(empty, nullptr), nullptr);
    MemoryDc dest(3, 3, std::vector<COLORREF>(9, kWhite));
    EXPECT_TRUE(BitBlt(dest.dc(), 0, 0, 3, 3, empty, 0, 0, SRCAND));
    EXPECT_EQ(dest.All(), std::vector<COLORREF>(9, kWhite));
    EXPECT_EQ(GetPixel(empty, 0, 0), CLR_INVALID);
    EXPECT_TRUE(DeleteDC(empty));
}

TEST(BitBlt, RefusesBadDcsAndUnknownOperations) {
    MemoryDc a(2, 2, std::vector<COLORREF>(4, kBlue)), b(2, 2);
    HDC bad = reinterpret_cast<HDC>(0x4242);
    EXPECT_FALSE(BitBlt(bad, 0, 0, 2, 2, b.dc(), 0, 0, SRCCOPY));
    EXPECT_FALSE(BitBlt(a.dc(), 0, 0, 2, 2, bad, 0, 0, SRCCOPY));
    EXPECT_FALSE(BitBlt(a.dc(), 0, 0, 2, 2, nullptr, 0, 0, SRCAND)) << "needs a source";
    EXPECT_FALSE(BitBlt(a.dc(), 0, 0, 2, 2, b.dc(), 0, 0, 0xFF00CC20u));
    EXPECT_TRUE(BitBlt(a.dc(), 0, 0, 0, 2, b.dc(), 0, 0, SRCCOPY)) << "an empty copy";
    EXPECT_EQ(a.All(), std::vector<COLORREF>(4, kBlue));
    EXPECT_TRUE(BitBlt(a.dc(), 0, 0, 2, 2, b.dc(), 2147483647, -2147483647 - 1, SRCCOPY))
        << "a source far away holds nothing";
    EXPECT_TRUE(BitBlt(a.dc(), -2147483647 - 1, 0, 2147483647, 2, b.dc(), 2147483647, 0, SRCCOPY));
    EXPECT_EQ(a.All(), std::vector<COLORREF>(4, kBlue));
    EXPECT_TRUE(BitBlt(a.dc(), 0, 0, 1, 1, nullptr, 0, 0, BLACKNESS)) << "needs no source";
    EXPECT_EQ(a.At(0, 0), kBlack);
    EXPECT_FALSE(PatBlt(a.dc(), 0, 0, 2, 2, SRCCOPY));
    EXPECT_TRUE(PatBlt(a.dc(), 0, 0, 2, 2, WHITENESS));
    EXPECT_EQ(a.At(1, 1), kWhite);
}

TEST(Pixels, SetAndGetInsideThePictureOnly) {
    MemoryDc target(2, 2);
    EXPECT_EQ(SetPixel(target.dc(), 1, 0, RGB(7, 8, 9)), RGB(7, 8, 9));
    EXPECT_EQ(target.At(1, 0), RGB(7, 8, 9));
    EXPECT_EQ(SetPixel(target.dc(), 2, 0, kRed), CLR_INVALID);
    EXPECT_EQ(GetPixel(target.dc(), -1, 0), CLR_INVALID);
    EXPECT_EQ(GetPixel(target.dc(), 0, 2), CLR_INVALID);
}

TEST(DcAttributes, StartAsOnWindowsAndReturnThePreviousValue) {
    HDC dc = CreateCompatibleDC(nullptr);
    EXPECT_EQ(SetTextColor(dc, 0xFF0000), kBlack);
    EXPECT_EQ(GetTextColor(dc), 0xFF0000u);
    EXPECT_EQ(SetBkMode(dc, TRANSPARENT), OPAQUE);
    EXPECT_EQ(GetBkMode(dc), TRANSPARENT);
    EXPECT_EQ(SetBkMode(dc, 7), 0) << "no such mode";
    EXPECT_EQ(GetBkMode(dc), TRANSPARENT);
    EXPECT_EQ(SetBkColor(dc, kBlue), kWhite);
    EXPECT_EQ(GetBkColor(dc), kBlue);
    DeleteDC(dc);
    EXPECT_EQ(GetTextColor(dc), CLR_INVALID);
    EXPECT_EQ(SetTextColor(dc, kRed), CLR_INVALID);
    EXPECT_EQ(SetBkMode(dc, OPAQUE), 0);
    EXPECT_EQ(GetBkMode(dc), 0);
    EXPECT_EQ(SetBkColor(dc, kRed), CLR_INVALID);
    EXPECT_EQ(GetBkColor(dc), CLR_INVALID);
    EXPECT_FALSE(DeleteDC(dc)) << "deleted once";
}

TEST(SelectObject, GivesBackThePreviousObjectOfEachKind) {
    HDC dc = CreateCompatibleDC(nullptr);
    HBRUSH brush = CreateSolidBrush(kRed);
    EXPECT_EQ(SelectObject(dc, brush), GetStockObject(WHITE_BRUSH));
    EXPECT_EQ(SelectObject(dc, GetStockObject(WHITE_BRUSH)), brush);

    LOGFONTA lf{};
    lf.lfHeight = -12;
    HFONT font = CreateFontIndirectA(&lf);
    HGDIOBJ firstFont = SelectObject(dc, font);
    EXPECT_EQ(firstFont, GetStockObject(SYSTEM_FONT));
    EXPECT_EQ(SelectObject(dc, firstFont), font);

    HBITMAP bitmap = CreateCompatibleBitmap(dc, 2, 2);
    HGDIOBJ stock = SelectObject(dc, bitmap);
    ASSERT_NE(stock, nullptr) << "a new memory DC holds a stock bitmap";
    BITMAP bm{};
    EXPECT_EQ(GetObjectA(stock, sizeof bm, &bm), static_cast<int>(sizeof bm));
    EXPECT_EQ(bm.bmWidth, 1);

    HDC other = CreateCompatibleDC(dc);
    EXPECT_EQ(SelectObject(other, bitmap), nullptr) << "a bitmap is in one DC at a time";
    EXPECT_EQ(SelectObject(dc, stock), bitmap);
    EXPECT_NE(SelectObject(other, bitmap), nullptr) << "free again once selected out";
    DeleteDC(other);
    EXPECT_NE(SelectObject(dc, bitmap), nullptr) << "free again once its DC is gone";

    EXPECT_EQ(SelectObject(dc, reinterpret_cast<HGDIOBJ>(0x5555)), nullptr);
    EXPECT_EQ(SelectObject(reinterpret_cast<HDC>(0x5555), brush), nullptr);
    DeleteDC(dc);
    DeleteObject(bitmap);
    DeleteObject(brush);
    DeleteObject(font);
}

TEST(GdiObjects, GetObjectDescribesBrushesAndBitmaps) {
    HBRUSH brush = CreateSolidBrush(0x00123456);
    LOGBRUSH lb{};
    EXPECT_EQ(GetObjectA(brush, 0, nullptr), static_cast<int>(sizeof(LOGBRUSH)));
    EXPECT_EQ(GetObjectA(brush, sizeof lb, &lb), static_cast<int>(sizeof lb));
    EXPECT_EQ(lb.lbStyle, static_cast<UINT>(BS_SOLID));
    EXPECT_EQ(lb.lbColor, 0x00123456u);
    UINT style = 99;
    EXPECT_EQ(GetObjectA(brush, sizeof style, &style), static_cast<int>(sizeof style));
    EXPECT_EQ(style, static_cast<UINT>(BS_SOLID)) << "a short buffer gets the record's start";
    EXPECT_TRUE(DeleteObject(brush));
    EXPECT_EQ(GetObjectA(brush, sizeof lb, &lb), 0);

    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, 5, 3);
    BITMAP bm{};
    EXPECT_EQ(GetObjectA(bitmap, 0, nullptr), static_cast<int>(sizeof(BITMAP)));
    ASSERT_EQ(GetObjectA(bitmap, sizeof bm, &bm), static_cast<int>(sizeof bm));
    EXPECT_EQ(bm.bmWidth, 5);
    EXPECT_EQ(bm.bmHeight, 3);
    EXPECT_EQ(bm.bmWidthBytes, 20);
    EXPECT_EQ(bm.bmPlanes, 1);
    EXPECT_EQ(bm.bmBitsPixel, 32);
    EXPECT_TRUE(DeleteObject(bitmap));
    EXPECT_FALSE(DeleteObject(bitmap));
    DeleteDC(dc);
}

TEST(GdiObjects, BitmapsAreMadeBlackWithinLimits) {
    HDC dc = CreateCompatibleDC(nullptr);
    struct Case {
        int w, h;
        bool made;
        LONG width, height;
    } cases[] = {
        {3, 2, true, 3, 2},
        {0, 5, true, 1, 1},
        {-1, 5, false, 0, 0},
        {1 << 20, 1, false, 0, 0},
        {40000, 40000, false, 0, 0},
        {32768, 2049, false, 0, 0},  // each side allowed, but too many pixels
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << " x " << c.h);
        HBITMAP bitmap = CreateCompatibleBitmap(dc, c.w, c.h);
        EXPECT_EQ(bitmap != nullptr, c.made);
        if (bitmap == nullptr)
            continue;
        BITMAP bm{};
        GetObjectA(bitmap, sizeof bm, &bm);
        EXPECT_EQ(bm.bmWidth, c.width);
        EXPECT_EQ(bm.bmHeight, c.height);
        HGDIOBJ old = SelectObject(dc, bitmap);
        EXPECT_EQ(GetPixel(dc, 0, 0), kBlack);
        SelectObject(dc, old);
        DeleteObject(bitmap);
    }
    EXPECT_EQ(CreateCompatibleBitmap(reinterpret_cast<HDC>(0x77), 2, 2), nullptr);
    EXPECT_EQ(CreateBitmap(2, 2, 1, 24, nullptr), nullptr) << "only 32 bits per pixel";
    DeleteDC(dc);
}

TEST(Classes, CBrushOwnsItsHandle) {
    HGDIOBJ handle;
    {
        CBrush brush;
        EXPECT_EQ(brush.GetSafeHandle(), nullptr);
        ASSERT_TRUE(brush.CreateSolidBrush(kBlue));
        EXPECT_FALSE(brush.CreateSolidBrush(kRed)) << "already holds a brush";
        handle = brush.GetSafeHandle();
        LOGBRUSH lb{};
        EXPECT_EQ(brush.GetLogBrush(&lb), static_cast<int>(sizeof lb));
        EXPECT_EQ(lb.lbColor, kBlue);
        MemoryDc target(1, 1);
        RECT rect{0, 0, 1, 1};
        EXPECT_NE(FillRect(target.dc(), &rect, brush), 0) << "usable as an HBRUSH";
        EXPECT_EQ(target.At(0, 0), kBlue);
    }
    EXPECT_FALSE(DeleteObject(handle)) << "the destructor deleted it";

    CBrush attached;
    ASSERT_TRUE(attached.Attach(CreateSolidBrush(kWhite)));
    HGDIOBJ made = attached.GetSafeHandle();
    EXPECT_TRUE(attached.DeleteObject());
    EXPECT_EQ(attached.GetSafeHandle(), nullptr);
    EXPECT_EQ(GetObjectA(made, 0, nullptr), 0);

    HBRUSH shared = CreateSolidBrush(kRed);
    CBrush* wrapper = CBrush::FromHandle(shared);
    ASSERT_NE(wrapper, nullptr);
    EXPECT_EQ(wrapper, CBrush::FromHandle(shared));
    EXPECT_EQ(static_cast<HBRUSH>(*wrapper), shared);
    EXPECT_TRUE(DeleteObject(shared));
}

TEST(Classes, CDcOwnsAnAttachedDcAndFromHandleGivesOneObjectPerDc) {
    HDC handle;
    {
        CDC dc;
        ASSERT_TRUE(dc.CreateCompatibleDC(nullptr));
        handle = dc.GetSafeHdc();
        EXPECT_EQ(CDC::FromHandle(handle), &dc) << "the attached object";
        EXPECT_FALSE(dc.CreateCompatibleDC(nullptr)) << "already holds a DC";
    }
    EXPECT_FALSE(DeleteDC(handle)) << "the destructor deleted it";
    EXPECT_EQ(CDC::FromHandle(handle), nullptr);

    HDC plain = CreateCompatibleDC(nullptr);
    CDC* temporary = CDC::FromHandle(plain);
    ASSERT_NE(temporary, nullptr);
    EXPECT_EQ(temporary, CDC::FromHandle(plain));
    EXPECT_EQ(temporary->GetSafeHdc(), plain);
    EXPECT_EQ(temporary->SetBkMode(TRANSPARENT), OPAQUE) << "acts on the DC";
    EXPECT_EQ(GetBkMode(plain), TRANSPARENT);
    CDC owner;
    EXPECT_TRUE(owner.Attach(plain));
    EXPECT_EQ(CDC::FromHandle(plain), &owner);
    CDC second;
    EXPECT_FALSE(second.Attach(plain)) << "one owner at a time";
    EXPECT_EQ(owner.Detach(), plain);
    EXPECT_TRUE(DeleteDC(plain));
}

TEST(Classes, CDcSelectsAndDrawsThroughItsHandle) {
    CDC src, dest;
    ASSERT_TRUE(src.CreateCompatibleDC(nullptr));
    ASSERT_TRUE(dest.CreateCompatibleDC(&src));
    CBitmap picture, canvas;
    BYTE bits[] = {0x00, 0x80, 0xFF, 0};  // one pixel, BGRA
    ASSERT_TRUE(picture.CreateBitmap(1, 1, 1, 32, bits));
    ASSERT_TRUE(canvas.CreateCompatibleBitmap(&src, 3, 1));
    BITMAP bm{};
    EXPECT_EQ(canvas.GetBitmap(&bm), static_cast<int>(sizeof bm));
    EXPECT_EQ(bm.bmWidth, 3);
    CBitmap* oldSrc = src.SelectObject(&picture);
    CBitmap* oldDest = dest.SelectObject(&canvas);
    ASSERT_NE(oldSrc, nullptr);
    ASSERT_NE(oldDest, nullptr);

    dest.FillSolidRect(0, 0, 3, 1, kBlue);
    EXPECT_EQ(dest.GetBkColor(), kBlue) << "FillSolidRect leaves its colour as the background";
    EXPECT_TRUE(dest.BitBlt(1, 0, 1, 1, &src, 0, 0, SRCCOPY));
    EXPECT_EQ(dest.GetPixel(1, 0), RGB(0xFF, 0x80, 0x00));
    CBrush red(kRed);
    RECT last{2, 0, 3, 1};
    dest.FillRect(&last, &red);
    EXPECT_EQ(dest.GetPixel(2, 0), kRed);
    EXPECT_EQ(dest.GetPixel(0, 0), kBlue);

    CBrush* oldBrush = dest.SelectObject(&red);
    ASSERT_NE(oldBrush, nullptr);
    EXPECT_EQ(oldBrush->GetSafeHandle(), GetStockObject(WHITE_BRUSH));
    EXPECT_TRUE(dest.PatBlt(0, 0, 1, 1, PATCOPY));
    EXPECT_EQ(dest.GetPixel(0, 0), kRed);
    dest.SelectObject(oldBrush);
    src.SelectObject(oldSrc);
    dest.SelectObject(oldDest);
}

TEST(Text, NeedsTheUserInterfacesFonts) {
    MemoryDc target(20, 20);
    EXPECT_FALSE(TextOutA(target.dc(), 0, 0, "A", 1)) << "no application object in this program";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_FALSE(TextOutA(target.dc(), 0, 0, nullptr, 1));
}

TEST(Threads, DcsOfDifferentThreadsDoNotDisturbEachOther) {
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &wrong] {
            const COLORREF colour = RGB(10 * t + 1, 20, 30);
            for (int i = 0; i < 200; ++i) {
                MemoryDc a(3, 3), b(3, 3);
                HBRUSH brush = CreateSolidBrush(colour);
                RECT all{0, 0, 3, 3};
                FillRect(a.dc(), &all, brush);
                SelectObject(b.dc(), GetStockObject(NULL_BRUSH));
                BitBlt(b.dc(), 0, 0, 3, 3, a.dc(), 0, 0, SRCCOPY);
                CDC::FromHandle(b.dc())->SetTextColor(colour);
                if (b.At(2, 2) != colour || GetTextColor(b.dc()) != colour)
                    ++wrong;
                FillRect(a.dc(), &all, GetSysColorBrush(COLOR_WINDOW));
                DeleteObject(brush);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
