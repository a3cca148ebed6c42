#include "platform/modules/res_parser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>

#include "support/platform/res_builder.h"

namespace {

using platform::res::DecodeIconImage;
using platform::res::ParseDialog;
using platform::res::ParseGroupIcon;
using platform::res::ParseResFile;
using platform::res::StringFromBlock;
using resbuild::Bytes;
using resbuild::Writer;

// A copy in a heap block of exactly its size, so that any read past the end is a fault the
// address sanitizer reports.
class Exact {
  public:
    explicit Exact(const Bytes& bytes, size_t length)
        : size_(length), data_(new uint8_t[length == 0 ? 1 : length]) {
        std::memcpy(data_.get(), bytes.data(), length);
    }
    explicit Exact(const Bytes& bytes) : Exact(bytes, bytes.size()) {}
    const uint8_t* data() const { return data_.get(); }
    size_t size() const { return size_; }

  private:
    size_t size_;
    std::unique_ptr<uint8_t[]> data_;
};

Bytes ValidRes() {
    Writer res = resbuild::NewRes();
    resbuild::AddEntry(res, 6, 9, resbuild::StringBlock({u"a", u"bc"}));
    resbuild::AddEntry(res, 14, 0, Bytes{1, 2, 3}, u"AppIcon");
    resbuild::AddEntry(res, 5, 102, Bytes(10, 0));
    return res.bytes();
}

TEST(ResFile, ListsEntriesWithTypesNamesAndData) {
    const Exact blob(ValidRes());
    const auto entries = ParseResFile(blob.data(), blob.size());
    ASSERT_TRUE(entries);
    ASSERT_EQ(entries->size(), 3u);  // the leading empty entry is not one
    EXPECT_EQ((*entries)[0].type.ordinal, 6);
    EXPECT_EQ((*entries)[0].name.ordinal, 9);
    EXPECT_EQ((*entries)[0].language, 0x0409);
    EXPECT_FALSE((*entries)[1].name.isOrdinal);
    EXPECT_EQ((*entries)[1].name.text, "AppIcon");
    ASSERT_EQ((*entries)[1].size, 3u);
    EXPECT_EQ((*entries)[1].data[2], 3);
    EXPECT_EQ((*entries)[2].size, 10u);

    platform::res::Name byName;
    byName.text = "APPICON";
    EXPECT_EQ(platform::res::FindEntry(*entries, 14, byName), &(*entries)[1]);
    platform::res::Name dialog;
    dialog.isOrdinal = true;
    dialog.ordinal = 102;
    EXPECT_EQ(platform::res::FindEntry(*entries, 5, dialog), &(*entries)[2]);
    EXPECT_EQ(platform::res::FindEntry(*entries, 6, dialog), nullptr);

    const auto empty = ParseResFile(nullptr, 0);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
}

TEST(ResFile, MalformedBlobsAreRejected) {
    const Bytes valid = ValidRes();
    Bytes trailing = valid;
    trailing.insert(trailing.end(), {1, 2, 3, 4, 5});
    Writer nameRunsOn;  // a name text with no terminator inside the header
    nameRunsOn.U32(0).U32(32).Ordinal(6);
    for (int i = 0; i < 12; ++i)
        nameRunsOn.U16('A');
    const struct {
        const char* name;
        Bytes bytes;
    } cases[] = {
        {"shorter than a header", {0, 0, 0, 0, 32}},
        {"header size below the minimum", Writer().U32(0).U32(16).U32(0).U32(0).bytes()},
        {"header size past the end", Writer().U32(0).U32(1000).Raw(Bytes(24, 0)).bytes()},
        {"data size past the end",
         Writer().U32(100).U32(32).Ordinal(6).Ordinal(1).Raw(Bytes(16, 0)).bytes()},
        {"data size that wraps around",
         Writer().U32(0xFFFFFFF0u).U32(32).Ordinal(6).Ordinal(1).Raw(Bytes(16, 0)).bytes()},
        {"name not terminated in the header", nameRunsOn.bytes()},
        {"junk after the last entry", trailing},
    };
    for (const auto& c : cases) {
        const Exact blob(c.bytes);
        EXPECT_FALSE(ParseResFile(blob.data(), blob.size())) << c.name;
    }
}

TEST(ResFile, EveryTruncationIsSafe) {
    // A cut at an entry's end (or in the padding after it) leaves a shorter, well-formed file;
    // any other cut is rejected.
    const Bytes valid = ValidRes();
    const Exact whole(valid);
    const auto all = ParseResFile(whole.data(), whole.size());
    ASSERT_TRUE(all);
    std::set<size_t> ends = {0, 32};
    for (const auto& e : *all) {
        const size_t end = static_cast<size_t>(e.data - whole.data()) + e.size;
        for (size_t padded = end; padded <= (end + 3) / 4 * 4; ++padded)
            ends.insert(padded);
    }
    for (size_t length = 0; length < valid.size(); ++length) {
        const Exact blob(valid, length);
        const auto entries = ParseResFile(blob.data(), blob.size());
        EXPECT_EQ(entries.has_value(), ends.count(length) == 1) << length;
        if (entries) {
            EXPECT_LT(entries->size(), all->size()) << length;
        }
    }
}

Bytes DialogEx() {
    Writer w;
    w.U16(1).U16(0xFFFF).U32(7).U32(0x00040000).U32(0x80C800C8).U16(2);
    w.U16(0).U16(0).U16(380).U16(258);
    w.U16(0).U16(0).Sz(u"Caf\u00e9 title");
    w.U16(9).U16(400).U8(1).U8(1).Sz(u"Segoe UI");
    w.Align4().U32(0).U32(0x200).U32(0x50010001);
    w.U16(static_cast<uint16_t>(-5)).U16(20).U16(50).U16(14).U32(1);
    w.Ordinal(0x80).Sz(u"OK").U16(0);
    w.Align4().U32(3).U32(0).U32(0x50000001).U16(14).U16(204).U16(352).U16(9).U32(1014);
    w.Sz(u"MSCTLS_PROGRESS32").Ordinal(128).U16(4).U32(0xDEADBEEF);
    return w.bytes();
}

TEST(DialogTemplate, ExtendedFormGivesEveryField) {
    const Exact bytes(DialogEx());
    const auto t = ParseDialog(bytes.data(), bytes.size());
    ASSERT_TRUE(t);
    EXPECT_EQ(t->helpId, 7u);
    EXPECT_EQ(t->exStyle, 0x00040000u);
    EXPECT_EQ(t->style, 0x80C800C8u);
    EXPECT_EQ(t->cx, 380);
    EXPECT_EQ(t->cy, 258);
    EXPECT_EQ(t->menu, "");
    EXPECT_EQ(t->title, "Caf\xC3\xA9 title");
    EXPECT_EQ(t->pointSize, 9);
    EXPECT_EQ(t->weight, 400);
    EXPECT_EQ(t->italic, 1);
    EXPECT_EQ(t->charset, 1);
    EXPECT_EQ(t->typeface, "Segoe UI");
    ASSERT_EQ(t->items.size(), 2u);
    EXPECT_EQ(t->items[0].windowClass, "Button");
    EXPECT_EQ(t->items[0].text, "OK");
    EXPECT_EQ(t->items[0].x, -5);
    EXPECT_EQ(t->items[0].exStyle, 0x200u);
    EXPECT_EQ(t->items[1].helpId, 3u);
    EXPECT_EQ(t->items[1].id, 1014u);
    EXPECT_EQ(t->items[1].windowClass, "msctls_progress32");
    EXPECT_EQ(t->items[1].text, "#128");
    EXPECT_EQ(t->items[1].cx, 352);
}

Bytes DialogClassic() {
    Writer w;
    w.U32(0x80C80040).U32(0x8).U16(1).U16(1).U16(2).U16(200).U16(100);
    w.U16(0xFFFF).U16(5).U16(0).Sz(u"Old").U16(8).Sz(u"MS Shell Dlg");
    w.Align4().U32(0x50000000).U32(0x20).U16(4).U16(5).U16(60).U16(8).U16(0xFFFF);
    w.Ordinal(0x82).Sz(u"Label").U16(0);
    return w.bytes();
}

TEST(DialogTemplate, ClassicFormGivesEveryField) {
    const Exact bytes(DialogClassic());
    const auto t = ParseDialog(bytes.data(), bytes.size());
    ASSERT_TRUE(t);
    // This form puts the style before the extended style, the other way round from DIALOGEX.
    EXPECT_EQ(t->style, 0x80C80040u);
    EXPECT_EQ(t->exStyle, 0x8u);
    EXPECT_EQ(t->helpId, 0u);
    EXPECT_EQ(t->x, 1);
    EXPECT_EQ(t->y, 2);
    EXPECT_EQ(t->cx, 200);
    EXPECT_EQ(t->cy, 100);
    EXPECT_EQ(t->charset, 1);
    EXPECT_EQ(t->menu, "#5");
    EXPECT_EQ(t->title, "Old");
    EXPECT_EQ(t->pointSize, 8);
    EXPECT_EQ(t->weight, 400);
    EXPECT_EQ(t->typeface, "MS Shell Dlg");
    ASSERT_EQ(t->items.size(), 1u);
    EXPECT_EQ(t->items[0].style, 0x50000000u);
    EXPECT_EQ(t->items[0].exStyle, 0x20u);
    EXPECT_EQ(t->items[0].x, 4);
    EXPECT_EQ(t->items[0].y, 5);
    EXPECT_EQ(t->items[0].cx, 60);
    EXPECT_EQ(t->items[0].cy, 8);
    EXPECT_EQ(t->items[0].id, 0xFFFFFFFFu);  // IDC_STATIC
    EXPECT_EQ(t->items[0].windowClass, "Static");
    EXPECT_EQ(t->items[0].text, "Label");
}

TEST(DialogTemplate, EveryTruncationAndAnOverstatedItemCountAreRejected) {
    const Bytes full = DialogEx();
    for (const Bytes& form : {full, DialogClassic()}) {
        for (size_t length = 0; length < form.size(); ++length) {
            const Exact bytes(form, length);
            EXPECT_FALSE(ParseDialog(bytes.data(), bytes.size())) << length;
        }
    }
    Bytes more = full;
    more[16] = 0xFF;  // cDlgItems
    more[17] = 0xFF;
    const Exact overstated(more);
    EXPECT_FALSE(ParseDialog(overstated.data(), overstated.size()));
}

TEST(StringBlock, TextsAreDecodedToUtf8) {
    const std::u16string lone = {u'x', static_cast<char16_t>(0xD800), u'y'};
    const Bytes block =
        resbuild::StringBlock({u"", u"Plain", u"caf\u00e9", u"\u20ac 5", u"\U0001F600", lone});
    const Exact bytes(block);
    const struct {
        unsigned index;
        const char* expected;
    } cases[] = {
        {0, ""},
        {1, "Plain"},
        {2, "caf\xC3\xA9"},
        {3, "\xE2\x82\xAC 5"},
        {4, "\xF0\x9F\x98\x80"},
        {5, "x\xEF\xBF\xBDy"},  // a lone surrogate becomes U+FFFD
        {15, ""},
    };
    for (const auto& c : cases) {
        const auto text = StringFromBlock(bytes.data(), bytes.size(), c.index);
        ASSERT_TRUE(text) << c.index;
        EXPECT_EQ(*text, c.expected) << c.index;
    }
    EXPECT_FALSE(StringFromBlock(bytes.data(), bytes.size(), 16));
}

TEST(StringBlock, LengthsPastTheBlockAreRejected) {
    const Bytes block = resbuild::StringBlock({u"abc", u"de"});
    for (size_t length = 0; length < 2 + 6 + 2 + 4; ++length) {
        const Exact bytes(block, length);
        EXPECT_FALSE(StringFromBlock(bytes.data(), bytes.size(), 1)) << length;
    }
    const Exact overstated(Writer().U16(0xFFFF).U16('a').bytes());
    EXPECT_FALSE(StringFromBlock(overstated.data(), overstated.size(), 0));
}

TEST(GroupIcon, EntriesAndMalformedGroups) {
    const Exact good(resbuild::GroupIcon({{16, 1}, {0, 4}}));
    const auto items = ParseGroupIcon(good.data(), good.size());
    ASSERT_TRUE(items);
    ASSERT_EQ(items->size(), 2u);
    EXPECT_EQ((*items)[0].width, 16);
    EXPECT_EQ((*items)[0].iconId, 1);
    EXPECT_EQ((*items)[1].width, 0);  // 256
    EXPECT_EQ((*items)[1].bitCount, 32);

    Bytes overstated = resbuild::GroupIcon({{16, 1}});
    overstated[4] = 2;
    Bytes cursor = resbuild::GroupIcon({{16, 1}});
    cursor[2] = 2;
    const Bytes truncated(good.data(), good.data() + good.size() - 1);
    for (const Bytes& bad : {overstated, cursor, truncated, Bytes{0, 0, 1}}) {
        const Exact bytes(bad);
        EXPECT_FALSE(ParseGroupIcon(bytes.data(), bytes.size()));
    }
}

// 2 x 2 images: top row red, green; bottom row blue, white. Bitmap rows are stored bottom-up.
const uint32_t kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF, kWhite = 0xFFFFFFFF;
const Bytes kNoMask(8, 0x00);
const Bytes kPalette = {0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0};

Bytes Palette16() {
    Bytes p = kPalette;
    p.resize(64, 0);
    return p;
}

TEST(IconImage, BitmapsOfEveryDepthDecodeTopDown) {
    const struct {
        const char* name;
        Bytes bytes;
        std::vector<uint32_t> expected;
    } cases[] = {
        {"32-bit with alpha ignores the mask",
         resbuild::IconBitmap(
             2, 2, 32, {},
             {0xFF, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0, 0, 0xFF, 0xFF, 0, 0xFF, 0, 0xFF},
             Bytes(8, 0xFF)),
         {kRed, kGreen, kBlue, 0x80FFFFFF}},
        {"32-bit without alpha takes the mask",
         resbuild::IconBitmap(2, 2, 32, {},
                              {0xFF, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0},
                              {0, 0, 0, 0, 0x80, 0, 0, 0}),
         {kRed & 0x00FFFFFF, kGreen, kBlue, kWhite}},
        {"32-bit with neither alpha nor mask is opaque",
         resbuild::IconBitmap(
             2, 2, 32, {}, {0xFF, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0}, {}),
         {kRed, kGreen, kBlue, kWhite}},
        {"24-bit rows are padded to four bytes",
         resbuild::IconBitmap(2, 2, 24, {},
                              {0xFF, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0xFF, 0, 0xFF, 0, 0, 0},
                              {0x40, 0, 0, 0, 0, 0, 0, 0}),
         {kRed, kGreen, kBlue, kWhite & 0x00FFFFFF}},
        {"8-bit through a palette",
         resbuild::IconBitmap(2, 2, 8, kPalette, {2, 3, 0, 0, 0, 1, 0, 0}, kNoMask, 4),
         {kRed, kGreen, kBlue, kWhite}},
        {"4-bit through a palette",
         resbuild::IconBitmap(2, 2, 4, Palette16(), {0x23, 0, 0, 0, 0x01, 0, 0, 0}, kNoMask),
         {kRed, kGreen, kBlue, kWhite}},
        {"1-bit through a palette",
         resbuild::IconBitmap(2, 2, 1, {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0},
                              {0x80, 0, 0, 0, 0x40, 0, 0, 0}, {0, 0, 0, 0, 0x40, 0, 0, 0}),
         {0xFF000000, 0x00FFFFFF, kWhite, 0xFF000000}},
    };
    for (const auto& c : cases) {
        const Exact bytes(c.bytes);
        const auto image = DecodeIconImage(bytes.data(), bytes.size());
        ASSERT_TRUE(image) << c.name;
        EXPECT_EQ(image->width, 2) << c.name;
        EXPECT_EQ(image->height, 2) << c.name;
        EXPECT_EQ(image->argb, c.expected) << c.name;
    }
}

TEST(IconImage, MalformedBitmapsAndPngAreNotDecoded) {
    const Bytes rows32(16, 0x11);
    Bytes smallHeader = resbuild::IconBitmap(2, 2, 32, {}, rows32, kNoMask);
    smallHeader[0] = 12;
    Bytes headerPastEnd = resbuild::IconBitmap(2, 2, 32, {}, rows32, kNoMask);
    headerPastEnd[1] = 0x10;  // 4136 bytes
    Bytes compressed = resbuild::IconBitmap(2, 2, 32, {}, rows32, kNoMask);
    compressed[16] = 3;
    const Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13};
    const struct {
        const char* name;
        Bytes bytes;
    } cases[] = {
        {"too short for a header", Bytes(10, 0)},
        {"header size below the minimum", smallHeader},
        {"header size past the end", headerPastEnd},
        {"no width", resbuild::IconBitmap(0, 2, 32, {}, rows32, kNoMask)},
        {"no height", resbuild::IconBitmap(2, 0, 32, {}, rows32, kNoMask)},
        {"negative width", resbuild::IconBitmap(-2, 2, 32, {}, rows32, kNoMask)},
        {"huge width", resbuild::IconBitmap(5000, 2, 32, {}, rows32, kNoMask)},
        {"16-bit colour", resbuild::IconBitmap(2, 2, 16, {}, rows32, kNoMask)},
        {"compressed", compressed},
        {"palette larger than the depth allows",
         resbuild::IconBitmap(2, 2, 8, Bytes(1200, 0), Bytes(8, 0), kNoMask, 300)},
        {"colour rows cut short", resbuild::IconBitmap(2, 2, 32, {}, Bytes(12, 0), {})},
        {"24-bit without its mask", resbuild::IconBitmap(2, 2, 24, {}, Bytes(16, 0), {})},
        {"palette cut short", resbuild::IconBitmap(2, 2, 8, Bytes(8, 0), {}, {}, 4)},
        {"PNG", png},
    };
    for (const auto& c : cases) {
        const Exact bytes(c.bytes);
        EXPECT_FALSE(DecodeIconImage(bytes.data(), bytes.size())) << c.name;
    }
    const Exact pngBytes(png);
    EXPECT_TRUE(platform::res::IsPngImage(pngBytes.data(), pngBytes.size()));
}

}  // namespace
