// Fonts as GDI objects, and the small geometry helpers.
#include "platform/gdi/font.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "platform/base/geometry.h"

namespace {

LOGFONTA Sample() {
    LOGFONTA lf{};
    lf.lfHeight = -12;
    lf.lfWeight = FW_BOLD;
    lf.lfUnderline = 1;
    std::snprintf(lf.lfFaceName, LF_FACESIZE, "%s", "Segoe UI");
    return lf;
}

TEST(Fonts, GetObjectGivesTheRecordBackAsFarAsTheBufferGoes) {
    LOGFONTA lf = Sample();
    HFONT font = CreateFontIndirectA(&lf);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(GetObjectA(font, 0, nullptr), static_cast<int>(sizeof(LOGFONTA)));
    LOGFONTA back{};
    EXPECT_EQ(GetObjectA(font, sizeof back, &back), static_cast<int>(sizeof(LOGFONTA)));
    EXPECT_EQ(std::memcmp(&back, &lf, sizeof lf), 0);
    LONG height = 0;
    EXPECT_EQ(GetObjectA(font, sizeof height, &height), static_cast<int>(sizeof height));
    EXPECT_EQ(height, -12) << "a short buffer gets the record's start";
    EXPECT_TRUE(DeleteObject(font));
    EXPECT_FALSE(DeleteObject(font)) << "deleted once";
    EXPECT_EQ(GetObjectA(font, sizeof back, &back), 0) << "a deleted handle is refused";
    EXPECT_EQ(GetObjectA(reinterpret_cast<HGDIOBJ>(0x1234), sizeof back, &back), 0);
}

TEST(Fonts, CFontOwnsItsHandleAndFromHandleDoesNot) {
    HGDIOBJ handle;
    LOGFONTA lf = Sample();
    {
        CFont font;
        ASSERT_TRUE(font.CreateFontIndirect(&lf));
        handle = font.GetSafeHandle();
        LOGFONTA back{};
        EXPECT_EQ(font.GetLogFont(&back), static_cast<int>(sizeof back));
        EXPECT_EQ(back.lfWeight, FW_BOLD);
        EXPECT_FALSE(font.CreateFontIndirect(&lf)) << "already holds a font";
    }
    EXPECT_FALSE(DeleteObject(handle)) << "the destructor deleted it";

    HFONT shared = CreateFontIndirectA(&lf);
    CFont* wrapper = CFont::FromHandle(shared);
    ASSERT_NE(wrapper, nullptr);
    EXPECT_EQ(wrapper, CFont::FromHandle(shared));
    EXPECT_EQ(static_cast<HFONT>(*wrapper), shared);
    EXPECT_TRUE(DeleteObject(shared));
    EXPECT_EQ(CFont::FromHandle(nullptr), nullptr);
}

TEST(Fonts, PointFontsUse96PixelsPerInch) {
    CFont font;
    ASSERT_TRUE(font.CreatePointFont(90, "Tahoma"));
    LOGFONTA lf{};
    font.GetLogFont(&lf);
    EXPECT_EQ(lf.lfHeight, -12);
    EXPECT_STREQ(lf.lfFaceName, "Tahoma");
}

TEST(Geometry, MulDivRoundsHalfAwayFromZero) {
    struct Case {
        int a, b, c, expected;
    };
    const Case cases[] = {{9, 96, 72, 12},
                          {10, 7, 4, 18},
                          {-10, 7, 4, -18},
                          {3, 1, 2, 2},
                          {-3, 1, 2, -2},
                          {5, 2, 0, -1},
                          {1 << 30, 8, 2, -1},
                          {7, 3, -2, -11},
                          // The 32-bit extremes: the smallest int is a result that fits, and a
                          // divisor whose magnitude has no int of its own.
                          {-(1 << 30), 4, 2, INT32_MIN},
                          {1 << 30, 4, -2, INT32_MIN},
                          {-(1 << 30), 8, 2, -1},
                          {INT32_MIN, 1, INT32_MIN, 1},
                          {3 << 29, 2, INT32_MIN, -2},
                          {3, 1, INT32_MIN, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.expected) << c.a << "*" << c.b << "/" << c.c;
    }
}

TEST(Geometry, RectanglesAreHalfOpen) {
    CRect r(10, 20, 110, 70);
    EXPECT_EQ(r.Width(), 100);
    EXPECT_EQ(r.Height(), 50);
    struct Case {
        int x, y;
        BOOL inside;
    };
    const Case cases[] = {
        {10, 20, TRUE}, {109, 69, TRUE}, {110, 20, FALSE}, {10, 70, FALSE}, {9, 30, FALSE}};
    for (const Case& c : cases) {
        EXPECT_EQ(r.PtInRect(CPoint(c.x, c.y)), c.inside) << c.x << "," << c.y;
        EXPECT_EQ(PtInRect(&r, POINT{c.x, c.y}), c.inside);
    }
    EXPECT_FALSE(PtInRect(nullptr, POINT{0, 0}));
    r.OffsetRect(5, -20);
    EXPECT_EQ(r, CRect(15, 0, 115, 50));
    CRect overlap;
    CRect other(100, 40, 200, 90);
    EXPECT_TRUE(overlap.IntersectRect(&r, &other));
    EXPECT_EQ(overlap, CRect(100, 40, 115, 50));
    CRect apart(300, 300, 310, 310);
    EXPECT_FALSE(overlap.IntersectRect(&r, &apart));
    EXPECT_TRUE(overlap.IsRectEmpty());
    EXPECT_EQ(CPoint(MAKELPARAM(-5, 7)).x, -5) << "packed points are signed";
}

}  // namespace
