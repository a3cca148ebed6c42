// Window DCs on a running dialog: a control's DC draws into the control, clipped to it, over
// what the dialog drew beneath; the painting and colour messages get real DCs; what a
// WM_CTLCOLOR handler chooses reaches the view.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

#include "platform/afx/paint_dc.h"
#include "platform/base/cstring.h"
#include "platform/base/lasterror.h"
#include "platform/gdi/gdi.h"
#include "platform/window/window_ops.h"
#include "support/platform/window_test_support.h"

namespace {

using platform::testing::InspectView;
using platform::testing::PumpUntil;
using wintest::RecordingDialog;
using wintest::StandardTemplate;

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kLinkBlue = 0xFF0000;  // COLORREF: blue in the third byte

// The rectangle of a control in its dialog's client area.
RECT PlaceOf(HWND control) {
    platform::WindowState s;
    EXPECT_TRUE(platform::ReadWindow(control, &s));
    return s.rect;
}

// Pixel (x, y) of the test pictures: different along both axes.
COLORREF Pattern(int x, int y) {
    return RGB(x * 3 % 256, y * 5 % 256, 0x5A);
}

// A bitmap of w x h whose pixel (x, y) is colour(x, y).
class Picture {
  public:
    Picture(int w, int h, COLORREF (*colour)(int, int)) {
        std::vector<BYTE> bits;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                COLORREF c = colour(x, y);
                bits.insert(bits.end(), {GetBValue(c), GetGValue(c), GetRValue(c), 0});
            }
        }
        bitmap_ = CreateBitmap(w, h, 1, 32, bits.data());
    }
    ~Picture() { DeleteObject(bitmap_); }
    // Copies the picture to (0, 0) of `dc` over w x h, as the main dialog draws its picture.
    BOOL DrawTo(HDC dc, int w, int h, DWORD rop) {
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(memory, bitmap_);
        BOOL done = BitBlt(dc, 0, 0, w, h, memory, 0, 0, rop);
        SelectObject(memory, old);
        DeleteDC(memory);
        return done;
    }

  private:
    HBITMAP bitmap_;
};

void Fill(HWND hwnd, COLORREF colour) {
    HDC dc = GetDC(hwnd);
    RECT client;
    GetClientRect(hwnd, &client);
    HBRUSH brush = CreateSolidBrush(colour);
    EXPECT_NE(FillRect(dc, &client, brush), 0);
    DeleteObject(brush);
    ReleaseDC(hwnd, dc);
}

COLORREF PixelOf(HWND hwnd, int x, int y) {
    HDC dc = GetDC(hwnd);
    COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(hwnd, dc);
    return c;
}

class WindowDcTest : public wintest::WindowTest {};

// Ends the dialog however the test's body leaves.
struct EndsDialog {
    CDialog& dialog;
    ~EndsDialog() { dialog.EndDialog(IDOK); }
};

TEST_F(WindowDcTest, AControlsDcIsClippedToTheControlAndLeavesTheDialogAlone) {
    RecordingDialog dialog;
    RunWith(dialog, StandardTemplate(), [&](RecordingDialog& d) {
        EndsDialog end{d};
        HWND frame = ::GetDlgItem(d.m_hWnd, wintest::kFrame);
        RECT place = PlaceOf(frame);
        RECT client, dialogClient;
        GetClientRect(frame, &client);
        GetClientRect(d.m_hWnd, &dialogClient);
        ASSERT_GT(client.right, 2);
        Fill(d.m_hWnd, kWhite);
        // A picture larger than the control, copied over the dialog's size.
        Picture picture(client.right + 40, client.bottom + 40, &Pattern);
        HDC dc = GetDC(frame);
        EXPECT_TRUE(picture.DrawTo(dc, dialogClient.right, dialogClient.bottom, SRCCOPY));
        EXPECT_EQ(GetPixel(dc, 0, 0), Pattern(0, 0));
        EXPECT_EQ(GetPixel(dc, client.right - 1, client.bottom - 1),
                  Pattern(client.right - 1, client.bottom - 1));
        EXPECT_EQ(GetPixel(dc, client.right, 0), CLR_INVALID) << "outside the control";
        ReleaseDC(frame, dc);
        EXPECT_EQ(PixelOf(d.m_hWnd, place.right, place.top), kWhite) << "right of the control";
        EXPECT_EQ(PixelOf(d.m_hWnd, place.left, place.bottom), kWhite) << "below it";
        EXPECT_EQ(PixelOf(d.m_hWnd, place.left, place.top), kWhite)
            << "the picture went into the control's own image";
    });
}

TEST_F(WindowDcTest, APictureAndedOntoAControlCombinesWithTheDialogBeneath) {
    RecordingDialog dialog;
    RunWith(dialog, StandardTemplate(), [&](RecordingDialog& d) {
        EndsDialog end{d};
        HWND frame = ::GetDlgItem(d.m_hWnd, wintest::kFrame);
        RECT client;
        GetClientRect(frame, &client);
        const int w = client.right, h = client.bottom;
        Picture first(w, h, &Pattern);
        Picture second(w, h, [](int x, int y) { return RGB(y % 256, 0x81, x % 256); });
        HDC dc = GetDC(frame);

        Fill(d.m_hWnd, kWhite);
        EXPECT_EQ(GetPixel(dc, 1, 1), kWhite) << "the dialog's fill shows through";
        EXPECT_TRUE(first.DrawTo(dc, w, h, SRCAND));
        EXPECT_EQ(GetPixel(dc, 1, 1), Pattern(1, 1)) << "white AND picture is the picture";

        // The dialog's next erase covers the old picture; the new one is not mixed with it.
        Fill(d.m_hWnd, kWhite);
        EXPECT_EQ(GetPixel(dc, 1, 1), kWhite);
        EXPECT_TRUE(second.DrawTo(dc, w, h, SRCAND));
        EXPECT_EQ(GetPixel(dc, w - 1, 2), RGB(2, 0x81, (w - 1) % 256));

        const COLORREF tint = RGB(0x0F, 0xF0, 0xFF);
        Fill(d.m_hWnd, tint);
        EXPECT_TRUE(first.DrawTo(dc, w, h, SRCAND));
        EXPECT_EQ(GetPixel(dc, 3, 4), Pattern(3, 4) & tint);
        ReleaseDC(frame, dc);
    });
}

TEST_F(WindowDcTest, ADialogThatClipsItsChildrenLeavesTheirDrawing) {
    RecordingDialog dialog;
    RunWith(dialog, StandardTemplate(), [&](RecordingDialog& d) {
        EndsDialog end{d};
        platform::ChangeWindow(d.m_hWnd,
                               [](platform::WindowState& s) { s.style |= WS_CLIPCHILDREN; });
        HWND frame = ::GetDlgItem(d.m_hWnd, wintest::kFrame);
        Fill(frame, RGB(1, 2, 3));
        Fill(d.m_hWnd, kWhite);
        EXPECT_EQ(PixelOf(frame, 0, 0), RGB(1, 2, 3));
    });
}

TEST_F(WindowDcTest, WindowDcsHoldNoBitmapAndRefuseToDrawOnceTheWindowIsGone) {
    HWND gone = nullptr;
    HDC orphan = nullptr;
    RecordingDialog dialog;
    RunWith(dialog, StandardTemplate(), [&](RecordingDialog& d) {
        EndsDialog end{d};
        HDC dc = GetDC(d.m_hWnd);
        HDC memory = CreateCompatibleDC(dc);
        HBITMAP bitmap = CreateCompatibleBitmap(dc, 4, 4);
        EXPECT_EQ(SelectObject(dc, bitmap), nullptr) << "bitmaps go into memory DCs only";
        EXPECT_EQ(WindowFromDC(dc), d.m_hWnd);
        EXPECT_EQ(WindowFromDC(memory), nullptr);
        DeleteDC(memory);
        DeleteObject(bitmap);
        ReleaseDC(d.m_hWnd, dc);
        gone = ::GetDlgItem(d.m_hWnd, wintest::kLabel);
        orphan = GetDC(gone);
    });
    ASSERT_NE(orphan, nullptr);
    EXPECT_FALSE(IsWindow(gone));
    RECT rect{0, 0, 5, 5};
    EXPECT_EQ(FillRect(orphan, &rect, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH))), 0)
        << "nothing left to draw into";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(GetPixel(orphan, 0, 0), CLR_INVALID);
    EXPECT_EQ(ReleaseDC(gone, orphan), 1);
    EXPECT_EQ(GetDC(gone), nullptr);
}

// Paints as the main dialog does: the background on erase, a mark in WM_PAINT.
class PaintingDialog : public RecordingDialog {
  public:
    std::vector<CDC*> erased;
    int paints = 0;
    int erasesInPaint = 0;
    CBrush background;
    std::vector<std::pair<int, UINT>> asked;

  protected:
    afx_msg BOOL OnEraseBkgnd(CDC* dc) {
        erased.push_back(dc);
        if (dc == nullptr)
            return FALSE;
        RECT client;
        GetClientRect(&client);
        dc->FillRect(&client, &background);
        return TRUE;
    }
    afx_msg void OnPaint() {
        ++paints;
        CPaintDC dc(this);
        erasesInPaint = static_cast<int>(erased.size());
        dc.FillSolidRect(0, 0, 3, 3, RGB(9, 9, 9));
    }
    afx_msg HBRUSH OnCtlColor(CDC* dc, CWnd* control, UINT kind) {
        CWnd::OnCtlColor(dc, control, kind);
        int id = control != nullptr ? control->GetDlgCtrlID() : 0;
        asked.emplace_back(id, kind);
        if (kind == CTLCOLOR_STATIC) {
            if (id == wintest::kLink)
                dc->SetTextColor(kLinkBlue);
            dc->SetBkMode(TRANSPARENT);
        } else if (kind == CTLCOLOR_LISTBOX) {
            dc->SetTextColor(kLinkBlue);
        }
        return background;
    }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(PaintingDialog, RecordingDialog)
ON_WM_ERASEBKGND()
ON_WM_PAINT()
ON_WM_CTLCOLOR()
END_MESSAGE_MAP()

TEST_F(WindowDcTest, EraseAndPaintHandlersDrawIntoTheDialog) {
    PaintingDialog dialog;
    ASSERT_TRUE(dialog.background.CreateSolidBrush(RGB(0, 128, 255)));
    RunWith(dialog, StandardTemplate(), [&](RecordingDialog& d) {
        EndsDialog end{d};
        ASSERT_TRUE(PumpUntil([&] { return dialog.paints > 0; }, 2000));
        ASSERT_FALSE(dialog.erased.empty());
        EXPECT_NE(dialog.erased[0], nullptr);
        EXPECT_EQ(PixelOf(d.m_hWnd, 50, 60), RGB(0, 128, 255));
        EXPECT_EQ(PixelOf(d.m_hWnd, 2, 2), RGB(9, 9, 9));
        EXPECT_EQ(PixelOf(d.m_hWnd, 3, 3), RGB(0, 128, 255));

        // Redrawn at once: erased, then painted, within the call.
        Fill(d.m_hWnd, RGB(1, 1, 1));
        size_t erases = dialog.erased.size();
        int paints = dialog.paints;
        d.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        EXPECT_EQ(dialog.erased.size(), erases + 1);
        EXPECT_EQ(dialog.paints, paints + 1);
        EXPECT_EQ(dialog.erasesInPaint, static_cast<int>(erases + 1)) << "erase comes first";
        EXPECT_EQ(PixelOf(d.m_hWnd, 50, 60), RGB(0, 128, 255));

        // A paint DC begun while an erase is owed erases first, and validates the window.
        d.InvalidateRect(nullptr, TRUE);
        {
            CPaintDC dc(&d);
            EXPECT_NE(dc.GetSafeHdc(), nullptr);
            EXPECT_EQ(dialog.erased.size(), erases + 2);
            EXPECT_FALSE(dc.m_ps.fErase) << "the handler erased";
        }
        EXPECT_FALSE(platform::TakeInvalid(d.m_hWnd, nullptr));
    });
}

TEST_F(WindowDcTest, ColoursAHandlerChoosesReachTheView) {
    PaintingDialog dialog;
    ASSERT_TRUE(dialog.background.CreateSolidBrush(RGB(0xFA, 0xF0, 0xE6)));
    platform::testing::ViewState link, label, list;
    RunWith(dialog, StandardTemplate(), [&](RecordingDialog& d) {
        EndsDialog end{d};
        ::SendMessageA(::GetDlgItem(d.m_hWnd, wintest::kList), LB_ADDSTRING, 0,
                       reinterpret_cast<LPARAM>("FAQ"));
        PumpUntil([&] { return dialog.paints > 0 && !dialog.asked.empty(); }, 2000);
        platform::testing::PumpFor(20);
        link = InspectView(::GetDlgItem(d.m_hWnd, wintest::kLink));
        label = InspectView(::GetDlgItem(d.m_hWnd, wintest::kLabel));
        list = InspectView(::GetDlgItem(d.m_hWnd, wintest::kList));
    });
    EXPECT_EQ(link.textColor, 0x0000FFu) << "shown as 0xRRGGBB";
    EXPECT_TRUE(link.transparent);
    EXPECT_EQ(label.textColor, 0x000000u) << "a DC's text colour starts black";
    EXPECT_TRUE(label.transparent);
    EXPECT_EQ(list.textColor, 0x0000FFu);
    EXPECT_FALSE(list.transparent);
    EXPECT_EQ(list.backgroundColor, 0xFAF0E6u) << "the handler's brush";
}

TEST_F(WindowDcTest, AnotherThreadCannotDrawIntoAWindow) {
    RecordingDialog dialog;
    RunWith(dialog, StandardTemplate(), [&](RecordingDialog& d) {
        EndsDialog end{d};
        Fill(d.m_hWnd, kWhite);
        HDC dc = GetDC(d.m_hWnd);
        int filled = -1;
        DWORD error = 0;
        std::thread worker([&] {
            RECT rect{0, 0, 10, 10};
            filled = FillRect(dc, &rect, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
            error = GetLastError();
        });
        worker.join();
        EXPECT_EQ(filled, 0);
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(GetPixel(dc, 5, 5), kWhite);
        ReleaseDC(d.m_hWnd, dc);
    });
}

TEST_F(WindowDcTest, TextIsDrawnInTheTextColourOverItsCellWhenOpaque) {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, 60, 30);
    HGDIOBJ old = SelectObject(dc, bitmap);
    auto count = [&](auto test) {
        int n = 0;
        for (int y = 0; y < 30; ++y) {
            for (int x = 0; x < 60; ++x)
                n += test(GetPixel(dc, x, y)) ? 1 : 0;
        }
        return n;
    };
    auto reddish = [](COLORREF c) { return GetRValue(c) > 150 && GetGValue(c) < 100; };
    auto blue = [](COLORREF c) { return c == RGB(0, 0, 255); };
    RECT all{0, 0, 60, 30};
    SetTextColor(dc, RGB(255, 0, 0));
    SetBkColor(dc, RGB(0, 0, 255));
    for (int mode : {OPAQUE, TRANSPARENT}) {
        SCOPED_TRACE(mode == OPAQUE ? "opaque" : "transparent");
        FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        SetBkMode(dc, mode);
        ASSERT_TRUE(TextOutA(dc, 4, 4, "HH", 2));
        EXPECT_GT(count(reddish), 10) << "the glyphs";
        EXPECT_EQ(count(blue) > 10, mode == OPAQUE) << "the cell";
        EXPECT_EQ(GetPixel(dc, 0, 0), RGB(255, 255, 255)) << "left of the text";
        EXPECT_EQ(GetPixel(dc, 59, 29), RGB(255, 255, 255));
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

// Draws a picture file into the frame on every erase, reading the file each time.
class PictureDialog : public RecordingDialog {
  public:
    CString folder;  // Windows form, ending in '\\'
    CBrush white;
    int erases = 0;

  protected:
    afx_msg BOOL OnEraseBkgnd(CDC* dc) {
        ++erases;
        CRect rect;
        GetClientRect(&rect);
        dc->FillRect(&rect, &white);
        HBITMAP picture = (HBITMAP)LoadImageA(nullptr, folder + "product_name.bmp", IMAGE_BITMAP, 0,
                                              0, LR_LOADFROMFILE | LR_CREATEDIBSECTION);
        CWnd* frame = GetDlgItem(wintest::kFrame);
        HDC frameDc = ::GetDC(frame->m_hWnd);
        HDC memory = CreateCompatibleDC(frameDc);
        HGDIOBJ old = SelectObject(memory, picture);
        BitBlt(frameDc, 0, 0, rect.Width(), rect.Height(), memory, 0, 0, SRCAND);
        SelectObject(memory, old);
        DeleteDC(memory);
        DeleteObject(picture);
        ::ReleaseDC(frame->m_hWnd, frameDc);
        return TRUE;
    }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(PictureDialog, RecordingDialog)
ON_WM_ERASEBKGND()
END_MESSAGE_MAP()

// A 24-bit bitmap file of w x h pixels of one colour.
std::string BitmapFile(int w, int h, COLORREF colour) {
    const int stride = (w * 3 + 3) / 4 * 4;
    std::string bytes = "BM";
    auto u32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    auto u16 = [&](uint32_t v) {
        bytes += static_cast<char>(v & 0xFF), bytes += static_cast<char>(v >> 8);
    };
    u32(54 + stride * h), u32(0), u32(54);
    u32(40), u32(w), u32(h), u16(1), u16(24), u32(0), u32(0), u32(0), u32(0), u32(0), u32(0);
    for (int y = 0; y < h; ++y) {
        std::string row(stride, '\0');
        for (int x = 0; x < w; ++x) {
            row[x * 3] = static_cast<char>(GetBValue(colour));
            row[x * 3 + 1] = static_cast<char>(GetGValue(colour));
            row[x * 3 + 2] = static_cast<char>(GetRValue(colour));
        }
        bytes += row;
    }
    return bytes;
}

TEST_F(WindowDcTest, APictureFileIsDrawnAgainAtEveryEraseAsItIsThen) {
    PictureDialog dialog;
    ASSERT_TRUE(dialog.white.CreateSolidBrush(kWhite));
    dialog.folder = fixtures::Sandbox::Win(sandbox_.root() + "/").c_str();
    const std::string file = sandbox_.Path("product_name.bmp");
    RunWith(dialog, StandardTemplate(), [&](RecordingDialog& d) {
        EndsDialog end{d};
        HWND frame = ::GetDlgItem(d.m_hWnd, wintest::kFrame);
        RECT client;
        GetClientRect(frame, &client);
        const UINT now = RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW;
        struct Step {
            const char* name;
            bool write;
            COLORREF colour;
            COLORREF shown;
        } steps[] = {
            {"a picture larger than the control", true, RGB(200, 10, 90), RGB(200, 10, 90)},
            {"the file replaced", true, RGB(5, 180, 60), RGB(5, 180, 60)},
            {"the file gone: the white fill", false, 0, kWhite},
        };
        for (const Step& step : steps) {
            SCOPED_TRACE(step.name);
            if (step.write) {
                sandbox_.WriteFile(file,
                                   BitmapFile(client.right + 30, client.bottom + 30, step.colour));
            } else {
                std::remove(file.c_str());
            }
            int erases = dialog.erases;
            d.RedrawWindow(nullptr, nullptr, now);
            EXPECT_EQ(dialog.erases, erases + 1);
            EXPECT_EQ(PixelOf(frame, 0, 0), step.shown);
            EXPECT_EQ(PixelOf(frame, client.right - 1, client.bottom - 1), step.shown);
            RECT place = PlaceOf(frame);
            EXPECT_EQ(PixelOf(d.m_hWnd, place.right + 1, place.top), kWhite) << "cut at the edge";
        }
    });
}

}  // namespace
