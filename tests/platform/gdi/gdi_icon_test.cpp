// DrawIcon: icons of a resource module drawn at the system icon size, blended by their alpha.
#include <gtest/gtest.h>

#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/modules/resources.h"
#include "platform/window/messages.h"
#include "platform/window/window_ops.h"
#include "support/platform/res_builder.h"

namespace {

constexpr COLORREF kBackground = RGB(100, 50, 200);

// A square 32-bit icon image; `pixels` top-down as 0xAARRGGBB, the mask all opaque.
resbuild::Bytes IconImage(int size, const std::vector<uint32_t>& pixels) {
    resbuild::Bytes rows;
    for (int y = size - 1; y >= 0; --y) {
        for (int x = 0; x < size; ++x) {
            uint32_t p = pixels[static_cast<size_t>(y * size + x)];
            rows.push_back(p & 0xFF), rows.push_back((p >> 8) & 0xFF);
            rows.push_back((p >> 16) & 0xFF), rows.push_back(p >> 24);
        }
    }
    size_t maskStride = ((static_cast<size_t>(size) + 31) / 32) * 4;
    return resbuild::IconBitmap(size, size, 32, {}, rows,
                                resbuild::Bytes(maskStride * static_cast<size_t>(size), 0));
}

class DrawIconTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::vector<uint32_t> big(32 * 32, 0x00000000);
        big[0] = 0xFFFF0000;            // opaque red at the top left
        big[1] = 0x8000FF00;            // half green
        big[32 * 32 - 1] = 0xFF0000FF;  // opaque blue at the bottom right
        std::vector<uint32_t> small(16 * 16, 0xFF00FF00);
        resbuild::Writer res = resbuild::NewRes();
        resbuild::AddEntry(res, 3, 1, IconImage(32, big));
        resbuild::AddEntry(res, 3, 2, IconImage(16, small));
        resbuild::AddEntry(res, 14, 1, resbuild::GroupIcon({{32, 1}}));
        resbuild::AddEntry(res, 14, 2, resbuild::GroupIcon({{16, 2}}));
        resbuild::AddEntry(res, 14, 3, resbuild::GroupIcon({{16, 2}, {32, 1}}));
        module_ = platform::LoadResourceModuleFromBytes(res.bytes());
        ASSERT_NE(module_, nullptr);
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateCompatibleBitmap(dc_, 40, 40);
        old_ = SelectObject(dc_, bitmap_);
        RECT all{0, 0, 40, 40};
        HBRUSH brush = CreateSolidBrush(kBackground);
        FillRect(dc_, &all, brush);
        DeleteObject(brush);
    }
    void TearDown() override {
        SelectObject(dc_, old_);
        DeleteDC(dc_);
        DeleteObject(bitmap_);
        FreeLibrary(module_);
    }
    HICON Icon(int id) { return LoadIconA(module_, MAKEINTRESOURCE(id)); }

    HMODULE module_ = nullptr;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
};

TEST_F(DrawIconTest, DrawsTheIconsPixelsBlendedByTheirAlpha) {
    ASSERT_EQ(GetSystemMetrics(SM_CXICON), 32);
    ASSERT_TRUE(DrawIcon(dc_, 2, 3, Icon(1)));
    EXPECT_EQ(GetPixel(dc_, 2, 3), RGB(255, 0, 0));
    // Half green over the background, each channel rounded.
    EXPECT_EQ(GetPixel(dc_, 3, 3), RGB(50, 153, 100));
    EXPECT_EQ(GetPixel(dc_, 4, 3), kBackground) << "transparent";
    EXPECT_EQ(GetPixel(dc_, 33, 34), RGB(0, 0, 255));
    EXPECT_EQ(GetPixel(dc_, 34, 35), kBackground) << "beyond the icon";
    EXPECT_EQ(GetPixel(dc_, 1, 3), kBackground);
}

TEST_F(DrawIconTest, TakesTheSystemSizeAndStretchesASmallerImage) {
    ASSERT_TRUE(DrawIcon(dc_, 0, 0, Icon(3)));
    EXPECT_EQ(GetPixel(dc_, 0, 0), RGB(255, 0, 0)) << "the 32-pixel image of the group";
    ASSERT_TRUE(DrawIcon(dc_, 0, 0, Icon(2)));
    EXPECT_EQ(GetPixel(dc_, 0, 0), RGB(0, 255, 0));
    EXPECT_EQ(GetPixel(dc_, 31, 31), RGB(0, 255, 0)) << "16 pixels stretched to 32";
    EXPECT_EQ(GetPixel(dc_, 32, 32), kBackground);
}

TEST_F(DrawIconTest, IsClippedAndRefusesWhatIsNoIcon) {
    EXPECT_TRUE(DrawIcon(dc_, -31, -31, Icon(1)));
    EXPECT_EQ(GetPixel(dc_, 0, 0), RGB(0, 0, 255)) << "the icon's last pixel";
    EXPECT_EQ(GetPixel(dc_, 1, 0), kBackground);
    EXPECT_TRUE(DrawIcon(dc_, 1000, 1000, Icon(1))) << "wholly outside draws nothing";
    EXPECT_FALSE(DrawIcon(dc_, 0, 0, nullptr));
    EXPECT_FALSE(DrawIcon(dc_, 0, 0, reinterpret_cast<HICON>(0x1234)));
    EXPECT_FALSE(DrawIcon(reinterpret_cast<HDC>(0x1234), 0, 0, Icon(1)));
}

}  // namespace
