// The main dialog's looks and small interactions, seen through the real view: the product
// picture and the colours in the view's screenshots, the minimised icon, dragging the window by
// its body, and the link lists, which hand only web addresses to the desktop.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/shell/shell.h"
#include "support/app/app_fixture.h"
#include "support/named_pipe.h"
#include "support/platform/test_seams.h"

namespace apptest {
namespace {

using platform::testing::InspectView;
using platform::testing::PumpFor;

// COLORREF of the bitmap files and the DCs (0x00BBGGRR).
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBody = RGB(200, 40, 90);
constexpr COLORREF kCorner = RGB(10, 200, 30);
constexpr COLORREF kOther = RGB(30, 60, 220);

// A 24-bit bottom-up bitmap file of w x h pixels.
std::string BitmapFile(int w, int h, const std::function<COLORREF(int, int)>& colour) {
    const uint32_t stride = (static_cast<uint32_t>(w) * 3 + 3) & ~3u;
    const uint32_t pixels = stride * static_cast<uint32_t>(h);
    std::string out;
    auto u16 = [&](uint32_t v) {
        out.push_back(static_cast<char>(v & 0xFF));
        out.push_back(static_cast<char>((v >> 8) & 0xFF));
    };
    auto u32 = [&](uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    out += "BM";
    u32(54 + pixels);
    u32(0);
    u32(54);
    u32(40);
    u32(static_cast<uint32_t>(w));
    u32(static_cast<uint32_t>(h));
    u16(1);
    u16(24);
    for (int i = 0; i < 6; ++i)
        u32(0);
    for (int y = h - 1; y >= 0; --y) {
        std::string row;
        for (int x = 0; x < w; ++x) {
            const COLORREF c = colour(x, y);
            row.push_back(static_cast<char>(GetBValue(c)));
            row.push_back(static_cast<char>(GetGValue(c)));
            row.push_back(static_cast<char>(GetRValue(c)));
        }
        row.resize(stride, '\0');
        out += row;
    }
    return out;
}

// A screenshot as the view rendered it: 8-bit RGB or RGBA PNG, not interlaced.
struct Picture {
    int width = 0, height = 0;
    std::vector<COLORREF> pixels;
    COLORREF At(int x, int y) const {
        return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
    }
    // The pixels of `r` (a rectangle of the picture) that satisfy `test`.
    int Count(const RECT& r, const std::function<bool(COLORREF)>& test) const {
        int n = 0;
        for (int y = std::max<LONG>(r.top, 0); y < std::min<LONG>(r.bottom, height); ++y)
            for (int x = std::max<LONG>(r.left, 0); x < std::min<LONG>(r.right, width); ++x)
                n += test(At(x, y)) ? 1 : 0;
        return n;
    }
};

uint32_t BigEndian(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i)
        v = (v << 8) | static_cast<unsigned char>(s[at + i]);
    return v;
}

bool DecodePng(const std::string& file, Picture* out) {
    if (file.size() < 8 || file.compare(1, 3, "PNG") != 0)
        return false;
    int channels = 0;
    std::string packed;
    for (size_t at = 8; at + 12 <= file.size();) {
        const uint32_t length = BigEndian(file, at);
        const std::string type = file.substr(at + 4, 4);
        if (at + 12 + length > file.size())
            return false;
        const std::string data = file.substr(at + 8, length);
        if (type == "IHDR") {
            out->width = static_cast<int>(BigEndian(data, 0));
            out->height = static_cast<int>(BigEndian(data, 4));
            const int depth = static_cast<unsigned char>(data[8]);
            const int colourType = static_cast<unsigned char>(data[9]);
            channels = colourType == 2 ? 3 : colourType == 6 ? 4 : 0;
            if (depth != 8 || channels == 0 || data[12] != 0)
                return false;
        } else if (type == "IDAT") {
            packed += data;
        }
        at += 12 + length;
    }
    const size_t rowBytes = static_cast<size_t>(out->width) * static_cast<size_t>(channels);
    std::vector<unsigned char> raw((rowBytes + 1) * static_cast<size_t>(out->height));
    uLongf rawSize = raw.size();
    if (channels == 0 ||
        uncompress(raw.data(), &rawSize, reinterpret_cast<const Bytef*>(packed.data()),
                   packed.size()) != Z_OK ||
        rawSize != raw.size()) {
        return false;
    }
    std::vector<unsigned char> previous(rowBytes, 0), row(rowBytes);
    out->pixels.clear();
    for (int y = 0; y < out->height; ++y) {
        const unsigned char* in = &raw[static_cast<size_t>(y) * (rowBytes + 1)];
        const int filter = in[0];
        for (size_t i = 0; i < rowBytes; ++i) {
            const int a = i >= static_cast<size_t>(channels) ? row[i - channels] : 0;
            const int b = previous[i];
            const int c = i >= static_cast<size_t>(channels) ? previous[i - channels] : 0;
            int predictor = 0;
            switch (filter) {
                case 1:
                    predictor = a;
                    break;
                case 2:
                    predictor = b;
                    break;
                case 3:
                    predictor = (a + b) / 2;
                    break;
                case 4: {
                    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b),
                              pc = std::abs(p - c);
                    predictor = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
                    break;
                }
                default:
                    break;
            }
            row[i] = static_cast<unsigned char>(in[1 + i] + predictor);
        }
        for (int x = 0; x < out->width; ++x) {
            const unsigned char* p = &row[static_cast<size_t>(x) * static_cast<size_t>(channels)];
            out->pixels.push_back(RGB(p[0], p[1], p[2]));
        }
        previous.swap(row);
    }
    return true;
}

bool Bluish(COLORREF c) {
    return GetBValue(c) >= 150 && GetRValue(c) <= 110 && GetGValue(c) <= 110;
}
bool Dark(COLORREF c) {
    return GetRValue(c) < 110 && GetGValue(c) < 110 && GetBValue(c) < 110;
}

RECT Shrunk(RECT r, int by) {
    return RECT{r.left + by, r.top + by, r.right - by, r.bottom - by};
}

// Records what the shell would hand to the desktop's opener.
class RecordingOpener : public platform::ProgramStarter {
  public:
    RecordingOpener() { platform::SetProgramStarter(this); }
    ~RecordingOpener() override { platform::SetProgramStarter(nullptr); }
    DWORD OpenDocument(const std::string& target,
                       std::shared_ptr<platform::KernelObject>*) override {
        opened.push_back(target);
        return ERROR_SUCCESS;
    }
    DWORD StartElevated(const std::string& program, const std::vector<std::string>&,
                        const std::string&, std::shared_ptr<platform::KernelObject>*) override {
        opened.push_back("elevated:" + program);
        return ERROR_SUCCESS;
    }
    std::vector<std::string> opened;
};

class PaintingTest : public DialogTest {
  protected:
    // What the dialog set-up does before any of this Part runs.
    void Prepare(TestDlg& dlg) {
        dlg.m_brBkgnd.CreateSolidBrush(CZELVDownloaderDlg::BKGND_COLOR);
        dlg.m_strCurDir = fixtures::Sandbox::Win(sandbox_.root()).c_str();
        dlg.m_strCurDir += "\\";
        // The body runs inside the set-up, before the modal run shows the dialog.
        dlg.ShowWindow(SW_SHOW);
    }
    std::string PicturePath() const { return sandbox_.Path("product_name.bmp"); }
    void WritePicture(int w, int h, const std::function<COLORREF(int, int)>& colour) {
        sandbox_.WriteFile(PicturePath(), BitmapFile(w, h, colour));
    }
    static void Redraw(TestDlg& dlg) {
        dlg.RedrawWindow(NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        PumpFor(30);
    }
    Picture Grab(HWND hwnd) {
        const std::string path = sandbox_.Path("grab.png");
        Picture picture;
        EXPECT_TRUE(platform::testing::GrabWindow(hwnd, path.c_str()));
        EXPECT_TRUE(DecodePng(fixtures::Sandbox::ReadFile(path), &picture));
        return picture;
    }
    static RECT PictureArea(TestDlg& dlg) {
        return InspectView(dlg.GetDlgItem(IDC_STATIC_PICTURE)->m_hWnd).geometry;
    }
};

// A picture larger than the control is cut at its edges; a smaller one leaves the rest white;
// either starts at the control's top left corner.
TEST_F(PaintingTest, ThePictureIsDrawnFromTheControlsTopLeftCornerAndCutAtItsEdges) {
    struct Case {
        const char* name;
        int extraWidth, extraHeight;
    };
    const Case cases[] = {{"larger", 60, 40}, {"smaller", -40, -30}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg);
            const RECT area = PictureArea(dlg);
            const int w = area.right - area.left + c.extraWidth;
            const int h = area.bottom - area.top + c.extraHeight;
            ASSERT_GT(w, 20);
            ASSERT_GT(h, 20);
            WritePicture(w, h, [](int x, int y) { return x < 12 && y < 12 ? kCorner : kBody; });
            Redraw(dlg);
            const Picture shot = Grab(dlg.m_hWnd);
            RECT client;
            dlg.GetClientRect(&client);
            ASSERT_EQ(shot.width, client.right);
            ASSERT_EQ(shot.height, client.bottom);

            // The frame's own lines lie over the picture's outermost pixels.
            EXPECT_EQ(kCorner, shot.At(area.left + 5, area.top + 5));
            EXPECT_EQ(kBody, shot.At(area.left + 15, area.top + 15));
            const RECT drawn{area.left + 3, area.top + 3,
                             std::min<LONG>(area.left + w, area.right - 3),
                             std::min<LONG>(area.top + h, area.bottom - 3)};
            const RECT body{drawn.left + 12, drawn.top + 12, drawn.right, drawn.bottom};
            EXPECT_EQ(0, shot.Count(body, [](COLORREF p) { return p != kBody; }));
            if (c.extraWidth < 0) {
                const RECT rest{area.left + w + 1, area.top + 3, area.right - 3, area.top + h};
                EXPECT_EQ(0, shot.Count(rest, [](COLORREF p) { return p != kWhite; }));
                const RECT below{area.left + 3, area.top + h + 1, area.left + w, area.bottom - 3};
                EXPECT_EQ(0, shot.Count(below, [](COLORREF p) { return p != kWhite; }));
            }
            // Beside and below the control the dialog stays white.
            EXPECT_EQ(kWhite, shot.At(area.right + 3, area.top + 20));
            EXPECT_EQ(kWhite, shot.At(area.left + 20, area.bottom + 3));
        }));
    }
}

// Without a usable file the picture area shows the white background and nothing fails.
TEST_F(PaintingTest, WithoutAUsablePictureFileThePictureAreaStaysWhite) {
    struct Case {
        const char* name;
        std::function<void()> make;
    };
    const std::vector<Case> cases = {
        {"missing", [] {}},
        {"not a bitmap", [this] { sandbox_.WriteFile(PicturePath(), "GIF89a not a bitmap"); }},
        {"a folder of that name", [this] { std::filesystem::create_directories(PicturePath()); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::error_code ignored;
        std::filesystem::remove_all(PicturePath(), ignored);
        c.make();
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg);
            Redraw(dlg);
            const Picture shot = Grab(dlg.m_hWnd);
            const RECT inside = Shrunk(PictureArea(dlg), 3);
            EXPECT_EQ(0, shot.Count(inside, [](COLORREF p) { return p != kWhite; }));
        }));
    }
}

// A named pipe of the picture's name is no picture, and is never waited on: the real set-up
// runs to its end, and the dialog paints with a white picture area, again and again.
TEST_F(PaintingTest, ANamedPipeForThePictureHoldsNeitherTheSetUpNorThePainting) {
    sandbox_.WriteFile(sandbox_.Path("DownloadCfg.ini"),
                       "[Download#1]\nProductName=A\nURL=http://127.0.0.1:9/a.exe\n");
    ASSERT_TRUE(fixtures::MakeNamedPipe(PicturePath()));
    const WorkingFolder cwd(sandbox_.root());
    EXPECT_TRUE(fixtures::ReturnsWithoutWaitingOn(PicturePath(), [&] {
        ASSERT_TRUE(RunSetUp([&](TestDlg& dlg) {
            EXPECT_EQ(1, dlg.m_cbProduct.GetCount()) << "the set-up read the configuration";
            EXPECT_EQ(BST_CHECKED, dlg.IsDlgButtonChecked(IDC_CHECK_LAUNCH))
                << "and ran to its last step";
            dlg.ShowWindow(SW_SHOW);
            for (int i = 0; i < 3; ++i)
                Redraw(dlg);
            const RECT inside = Shrunk(PictureArea(dlg), 3);
            EXPECT_EQ(0, Grab(dlg.m_hWnd).Count(inside, [](COLORREF p) { return p != kWhite; }));
        }));
    }));
}

// The copy is ANDed onto the control: a new file must not mix with the last erase's picture.
TEST_F(PaintingTest, AReplacedPictureShowsAtTheNextErase) {
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg);
        WritePicture(1000, 600, [](int, int) { return kBody; });
        Redraw(dlg);
        const RECT inside = Shrunk(PictureArea(dlg), 3);
        EXPECT_EQ(0, Grab(dlg.m_hWnd).Count(inside, [](COLORREF p) { return p != kBody; }));
        WritePicture(1000, 600, [](int, int) { return kOther; });
        Redraw(dlg);
        EXPECT_EQ(0, Grab(dlg.m_hWnd).Count(inside, [](COLORREF p) { return p != kOther; }));
        std::remove(PicturePath().c_str());
        Redraw(dlg);
        EXPECT_EQ(0, Grab(dlg.m_hWnd).Count(inside, [](COLORREF p) { return p != kWhite; }));
    }));
}

TEST_F(PaintingTest, TheSamplePictureShows) {
    sandbox_.WriteFile(PicturePath(),
                       fixtures::Sandbox::ReadFile(ZELV_SAMPLES_DIR "/product_name.bmp"));
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg);
        Redraw(dlg);
        const RECT inside = Shrunk(PictureArea(dlg), 3);
        const int area = (inside.right - inside.left) * (inside.bottom - inside.top);
        EXPECT_GT(Grab(dlg.m_hWnd).Count(inside, [](COLORREF p) { return p != kWhite; }), area / 4);
    }));
}

// Every kind of control and the dialog get the white brush; statics draw transparently, the
// proxy link and the link lists in blue; other controls keep the colours they had.
TEST_F(PaintingTest, CtlColorChoosesTheBrushTextColourAndBackgroundModePerControl) {
    struct Case {
        UINT message;
        int id;  // 0: the dialog itself
        COLORREF text;
        int bkMode;
    };
    constexpr COLORREF kUnset = RGB(1, 2, 3);
    constexpr COLORREF kBlue = CZELVDownloaderDlg::LINK_TEXT_COLOR;
    const Case cases[] = {
        {WM_CTLCOLORSTATIC, IDC_STATIC_PROXY_LINK, kBlue, TRANSPARENT},
        {WM_CTLCOLORSTATIC, IDC_STATIC_TITLE, kUnset, TRANSPARENT},
        {WM_CTLCOLORSTATIC, IDC_STATIC_STATUS, kUnset, TRANSPARENT},
        {WM_CTLCOLORSTATIC, IDC_STATIC_PICTURE, kUnset, TRANSPARENT},
        {WM_CTLCOLORLISTBOX, IDC_LIST_GUIDE, kBlue, OPAQUE},
        {WM_CTLCOLORLISTBOX, IDC_LIST_FAQ, kBlue, OPAQUE},
        {WM_CTLCOLORLISTBOX, IDC_COMBO_PRODUCT, kBlue, OPAQUE},
        {WM_CTLCOLORBTN, IDC_BUTTON_ACTION, kUnset, OPAQUE},
        {WM_CTLCOLOREDIT, IDC_BUTTON_BROWSE, kUnset, OPAQUE},
        {WM_CTLCOLORDLG, 0, kUnset, OPAQUE},
    };
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg);
        ASSERT_EQ(kWhite, CZELVDownloaderDlg::BKGND_COLOR);
        LOGBRUSH brush{};
        ASSERT_TRUE(dlg.m_brBkgnd.GetLogBrush(&brush));
        EXPECT_EQ(kWhite, brush.lbColor);
        EXPECT_EQ(RGB(0, 0, 255), kBlue) << "blue, the high byte of a COLORREF";
        for (const Case& c : cases) {
            SCOPED_TRACE(c.id);
            HWND control = c.id == 0 ? dlg.m_hWnd : dlg.GetDlgItem(c.id)->m_hWnd;
            HDC dc = GetDC(control);
            ASSERT_NE(nullptr, dc);
            SetTextColor(dc, kUnset);
            SetBkMode(dc, OPAQUE);
            const LRESULT result = dlg.SendMessage(c.message, reinterpret_cast<WPARAM>(dc),
                                                   reinterpret_cast<LPARAM>(control));
            EXPECT_EQ(reinterpret_cast<LRESULT>(static_cast<HBRUSH>(dlg.m_brBkgnd)), result);
            EXPECT_EQ(c.text, GetTextColor(dc));
            EXPECT_EQ(c.bkMode, GetBkMode(dc));
            ReleaseDC(control, dc);
        }
    }));
}

// What the view shows: blue link texts, black other texts on white, white list backgrounds.
TEST_F(PaintingTest, TheViewShowsTheLinkAndListTextsInBlueOnWhite) {
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg);
        dlg.GetDlgItem(IDC_STATIC_PROXY_LINK)->ShowWindow(SW_SHOW);
        dlg.m_lbGuide.AddString("First steps");
        dlg.m_lbFAQ.AddString("Where is the file saved?");
        Redraw(dlg);

        struct Case {
            int id;
            bool blue;
        };
        const Case cases[] = {{IDC_STATIC_PROXY_LINK, true}, {IDC_LIST_GUIDE, true},
                              {IDC_LIST_FAQ, true},          {IDC_STATIC_TITLE, false},
                              {IDC_STATIC_PRODUCT, false},   {IDC_STATIC_TIPS_TITLE, false}};
        // The view lays the lists' entries out after a delay of its own.
        ASSERT_TRUE(platform::testing::PumpUntil(
            [&] {
                return InspectView(dlg.m_lbGuide.m_hWnd).items.size() == 1 &&
                       InspectView(dlg.m_lbFAQ.m_hWnd).items.size() == 1;
            },
            2000));
        PumpFor(50);
        const Picture shot = Grab(dlg.m_hWnd);
        for (const Case& c : cases) {
            SCOPED_TRACE(c.id);
            const platform::testing::ViewState view = InspectView(dlg.GetDlgItem(c.id)->m_hWnd);
            EXPECT_EQ(c.blue ? 0x0000FFu : 0u, view.textColor);
            if (view.widgetKind == "list") {
                EXPECT_EQ(0xFFFFFFu, view.backgroundColor);
            } else {
                EXPECT_TRUE(view.transparent);
            }
            EXPECT_EQ(c.blue, shot.Count(view.geometry, Bluish) > 0);
            EXPECT_EQ(!c.blue, shot.Count(view.geometry, Dark) > 0);
            // White around the letters: the dialog's background shows through or the list's.
            const RECT& g = view.geometry;
            EXPECT_EQ(kWhite, shot.At(g.left + 1, g.bottom - 2));
            if (view.widgetKind != "list") {
                const int all = (g.right - g.left) * (g.bottom - g.top);
                EXPECT_GT(shot.Count(g, [](COLORREF p) { return p == kWhite; }), all / 2);
            }
        }
        // The dialog's background where no control lies.
        RECT client;
        dlg.GetClientRect(&client);
        EXPECT_EQ(kWhite, shot.At(3, client.bottom - 4));
        EXPECT_EQ(kWhite, shot.At(client.right - 4, 3));
    }));
}

TEST_F(PaintingTest, TheHitTestAnswersCaptionInsideTheClientAreaOnly) {
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg);
        RECT client;
        dlg.GetClientRect(&client);
        RECT button;
        dlg.GetDlgItem(IDC_BUTTON_ACTION)->GetWindowRect(&button);
        struct Case {
            const char* name;
            POINT client;  // in client coordinates, or screen when `screen`
            bool screen;
            LRESULT hit;
        };
        const Case cases[] = {
            {"top left corner", {0, 0}, false, HTCAPTION},
            {"middle", {client.right / 2, client.bottom / 2}, false, HTCAPTION},
            {"last pixel", {client.right - 1, client.bottom - 1}, false, HTCAPTION},
            {"over a control", {button.left + 2, button.top + 2}, true, HTCAPTION},
            {"right edge", {client.right, 5}, false, HTNOWHERE},
            {"bottom edge", {5, client.bottom}, false, HTNOWHERE},
            {"left of it", {-1, 5}, false, HTNOWHERE},
            {"above it", {5, -1}, false, HTNOWHERE},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            POINT p = c.client;
            if (!c.screen)
                dlg.ClientToScreen(&p);
            EXPECT_EQ(c.hit, dlg.SendMessage(WM_NCHITTEST, 0, MAKELPARAM(p.x, p.y)));
        }
    }));
}

// A press on the body moves the window (the view's answer to HTCAPTION), and the picture is
// drawn again after the move, from the file as it is then.
TEST_F(PaintingTest, DraggingTheBodyMovesTheWindowAndRedrawsThePicture) {
    struct Case {
        const char* name;
        std::function<POINT(TestDlg&)> where;
    };
    const std::vector<Case> cases = {
        {"background",
         [](TestDlg& dlg) {
             RECT client;
             dlg.GetClientRect(&client);
             return POINT{3, client.bottom - 4};
         }},
        {"picture",
         [](TestDlg& dlg) {
             const RECT area = PictureArea(dlg);
             return POINT{area.left + 20, area.top + 20};
         }},
        {"static text",
         [](TestDlg& dlg) {
             const RECT text = InspectView(dlg.GetDlgItem(IDC_STATIC_TITLE)->m_hWnd).geometry;
             return POINT{text.left + 2, text.top + 2};
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg);
            WritePicture(1000, 600, [](int, int) { return kBody; });
            Redraw(dlg);
            const RECT inside = Shrunk(PictureArea(dlg), 3);
            RECT before{}, after{};
            dlg.GetWindowRect(&before);
            WritePicture(1000, 600, [](int, int) { return kOther; });

            ASSERT_TRUE(platform::testing::Drag(dlg.m_hWnd, c.where(dlg), 30, 20));
            ASSERT_TRUE(platform::testing::PumpUntil(
                [&] {
                    dlg.GetWindowRect(&after);
                    return after.left == before.left + 30 && after.top == before.top + 20;
                },
                2000));
            PumpFor(30);
            const RECT shown = InspectView(dlg.m_hWnd).geometry;
            EXPECT_EQ(before.left + 30, shown.left);
            EXPECT_EQ(before.top + 20, shown.top);
            EXPECT_EQ(0, Grab(dlg.m_hWnd).Count(inside, [](COLORREF p) { return p != kOther; }))
                << "drawn again after the move";
        }));
    }
}

TEST_F(PaintingTest, TheMinimisedDialogShowsItsIconCentred) {
    struct Case {
        int width, height;
        int x, y;  // (client - 32 + 1) / 2, toward zero
    };
    const Case cases[] = {{36, 36, 2, 2}, {37, 40, 3, 4}, {32, 33, 0, 1}, {20, 60, -5, 14}};
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg);
        EXPECT_EQ(reinterpret_cast<LRESULT>(dlg.m_hIcon), dlg.SendMessage(WM_QUERYDRAGICON));
        ASSERT_EQ(32, GetSystemMetrics(SM_CXICON));

        // The icon as it looks on the white background.
        HDC screen = GetDC(NULL);
        HDC memory = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, 32, 32);
        HGDIOBJ old = SelectObject(memory, bitmap);
        RECT square{0, 0, 32, 32};
        FillRect(memory, &square, dlg.m_brBkgnd);
        ASSERT_TRUE(DrawIcon(memory, 0, 0, dlg.m_hIcon));
        int notWhite = 0;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                notWhite += GetPixel(memory, x, y) != kWhite ? 1 : 0;
        ASSERT_GT(notWhite, 100) << "the icon must be visible to be found";

        RECT window;
        dlg.GetWindowRect(&window);
        dlg.ShowWindow(SW_MINIMIZE);
        ASSERT_TRUE(dlg.IsIconic());
        for (const Case& c : cases) {
            SCOPED_TRACE(c.width);
            dlg.MoveWindow(window.left, window.top, c.width, c.height, FALSE);
            Redraw(dlg);
            HDC dc = GetDC(dlg.m_hWnd);
            int wrong = 0;
            for (int y = 0; y < c.height; ++y) {
                for (int x = 0; x < c.width; ++x) {
                    const int ix = x - c.x, iy = y - c.y;
                    const bool onIcon = ix >= 0 && ix < 32 && iy >= 0 && iy < 32;
                    const COLORREF want = onIcon ? GetPixel(memory, ix, iy) : kWhite;
                    wrong += GetPixel(dc, x, y) != want ? 1 : 0;
                }
            }
            EXPECT_EQ(0, wrong);
            ReleaseDC(dlg.m_hWnd, dc);
        }
        SelectObject(memory, old);
        DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(NULL, screen);
        dlg.ShowWindow(SW_RESTORE);
    }));
}

// The entries of both lists: web addresses open in the browser, nothing else does.
TEST_F(PaintingTest, ChoosingALinkOpensOnlyWebAddresses) {
    struct Entry {
        const char* url;
        bool opens;
    };
    const Entry entries[] = {
        {"http://tips.example.test/start", true},
        {"https://faq.example.test/where?file=1#top", true},
        {"HTTPS://FAQ.Example.test/", true},
        {"ftp://files.example.test/setup.exe", false},
        {"file:///etc/passwd", false},
        {"javascript:alert(1)", false},
        {"mailto:someone@example.test", false},
        {"smb://server/share", false},
        {"\\usr\\bin\\xterm", false},
        {"C:\\Windows\\notepad.exe", false},
        {"http:/tips.example.test", false},
        {"https://", false},
        {"http:///etc/passwd", false},
        {"http://tips.example.test/a b", false},
        {"http://tips.example.test/\x01", false},
        {"httpx://tips.example.test", false},
        {"", false},
    };
    struct List {
        int id;
        CListBox TestDlg::*box;
        CStringArray TestDlg::*urls;
    };
    const List lists[] = {{IDC_LIST_GUIDE, &TestDlg::m_lbGuide, &TestDlg::m_arrGuideURL},
                          {IDC_LIST_FAQ, &TestDlg::m_lbFAQ, &TestDlg::m_arrFAQURL}};
    std::string log;
    size_t seen = 0;
    for (const List& list : lists) {
        SCOPED_TRACE(list.id);
        RecordingOpener opener;
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg);
            log = dlg.OpenLog();
            CListBox& box = dlg.*list.box;
            for (const Entry& e : entries) {
                box.AddString(e.url);
                (dlg.*list.urls).Add(e.url);
            }
            for (int i = 0; i < static_cast<int>(std::size(entries)); ++i) {
                SCOPED_TRACE(entries[i].url);
                opener.opened.clear();
                // The second choice of the same entry works as the first: the selection was
                // cleared at once.
                for (int round = 0; round < 2; ++round) {
                    ASSERT_TRUE(platform::testing::ChooseItem(box.m_hWnd, i));
                    PumpFor(20);
                    EXPECT_EQ(LB_ERR, box.GetCurSel());
                    EXPECT_EQ(-1, InspectView(box.m_hWnd).current);
                }
                const std::vector<std::string> want =
                    entries[i].opens ? std::vector<std::string>(2, entries[i].url)
                                     : std::vector<std::string>();
                EXPECT_EQ(want, opener.opened);
            }
        }));
        // Both runs write to the same log.
        const std::vector<std::string> all = LogLines(log);
        const std::vector<std::string> lines(all.begin() + static_cast<std::ptrdiff_t>(seen),
                                             all.end());
        seen = all.size();
        for (const Entry& e : entries) {
            const std::string line =
                std::string("ERROR: Link not opened, only http and https addresses are: ") + e.url;
            EXPECT_EQ(e.opens ? 0 : 2, std::count(lines.begin(), lines.end(), line)) << e.url;
        }
    }
}

// An entry without its address (the list longer than the addresses) opens nothing.
TEST_F(PaintingTest, AnEntryWithoutAnAddressOpensNothing) {
    RecordingOpener opener;
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg);
        dlg.m_lbGuide.AddString("with an address");
        dlg.m_lbGuide.AddString("without one");
        dlg.m_arrGuideURL.Add("http://tips.example.test/");
        ASSERT_TRUE(platform::testing::ChooseItem(dlg.m_lbGuide.m_hWnd, 1));
        PumpFor(20);
        EXPECT_TRUE(opener.opened.empty());
        EXPECT_EQ(LB_ERR, dlg.m_lbGuide.GetCurSel());
        ASSERT_TRUE(platform::testing::ChooseItem(dlg.m_lbGuide.m_hWnd, 0));
        PumpFor(20);
        EXPECT_EQ(std::vector<std::string>{"http://tips.example.test/"}, opener.opened);
    }));
}

}  // namespace
}  // namespace apptest
