// The Qt view: user input through the real widgets (model first, then the notification; a
// control that is disabled or hidden in the model takes nothing), the widgets following the
// model, dragging by the client area, colours from WM_CTLCOLOR, screenshots.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "platform/gdi/font.h"
#include "platform/window/drawing_port.h"
#include "platform/window/window_model.h"
#include "platform/window/window_ops.h"
#include "support/platform/res_builder.h"
#include "support/platform/window_test_support.h"

namespace {

using platform::testing::ChooseItem;
using platform::testing::Click;
using platform::testing::InspectView;
using platform::testing::PumpFor;
using platform::testing::PumpUntil;
using wintest::RecordingDialog;
using wintest::StandardTemplate;

class ViewTest : public wintest::WindowTest {};

HWND Item(CWnd& d, int id) {
    return ::GetDlgItem(d.m_hWnd, id);
}

// The window functions give the size of the screen the view shows its windows on.
TEST_F(ViewTest, TheSystemMetricsGiveTheViewsScreen) {
    const SIZE screen = platform::testing::ViewScreenSize();
    ASSERT_GT(screen.cx, 0);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), screen.cx);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), screen.cy);
}

TEST_F(ViewTest, AControlThatIsDisabledOrHiddenInTheModelTakesNoClick) {
    struct Case {
        const char* name;
        std::function<void(HWND)> change;
        bool letViewCatchUp;
    };
    const Case cases[] = {
        {"disabled, view behind", [](HWND b) { EnableWindow(b, FALSE); }, false},
        {"disabled, view caught up", [](HWND b) { EnableWindow(b, FALSE); }, true},
        {"hidden, view behind", [](HWND b) { ShowWindow(b, SW_HIDE); }, false},
        {"hidden, view caught up", [](HWND b) { ShowWindow(b, SW_HIDE); }, true},
        {"dialog disabled", [](HWND b) { EnableWindow(GetParent(b), FALSE); }, false},
    };
    for (const Case& c : cases) {
        RecordingDialog dialog;
        size_t clicks = 99, posted = 0;
        RunWith(dialog, StandardTemplate(), [&](RecordingDialog& d) {
            HWND button = Item(d, wintest::kButton);
            c.change(button);
            if (c.letViewCatchUp)
                PumpFor(20);
            Click(button);
            PumpFor(30);
            clicks = d.Count(WM_COMMAND, wintest::kButton);
            // A posted click reaches the handler whatever the button's state.
            d.PostMessage(WM_COMMAND, MAKEWPARAM(wintest::kButton, BN_CLICKED),
                          reinterpret_cast<LPARAM>(button));
            PumpUntil([&] { return d.Count(WM_COMMAND, wintest::kButton) > 0; }, 2000);
            posted = d.Count(WM_COMMAND, wintest::kButton);
            EnableWindow(d.m_hWnd, TRUE);
            d.EndDialog(IDOK);
        });
        EXPECT_EQ(clicks, 0u) << c.name;
        EXPECT_EQ(posted, 1u) << c.name;
    }
}

TEST_F(ViewTest, TheModelHasChangedWhenTheNotificationArrives) {
    RecordingDialog dialog;
    std::vector<wintest::Event> seen;
    RunWith(dialog, StandardTemplate(), [&](RecordingDialog& d) {
        CComboBox combo;
        combo.Attach(Item(d, wintest::kCombo));
        for (const char* t : {"Product A", "Product B", "Product C"})
            combo.AddString(t);
        combo.SetCurSel(0);
        combo.Detach();
        for (const char* t : {"Tips", "FAQ"}) {
            ::SendMessageA(Item(d, wintest::kList), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(t));
        }
        PumpFor(20);
        ChooseItem(Item(d, wintest::kCombo), 2);
        ChooseItem(Item(d, wintest::kList), 1);
        Click(Item(d, wintest::kCheck));
        PumpUntil([&] { return d.Count(WM_COMMAND, wintest::kCheck) == 1; }, 2000);
        Click(Item(d, wintest::kCheck));
        platform::testing::TypeText(Item(d, wintest::kEdit), "proxy.example:8080");
        Click(Item(d, wintest::kLink));
        Click(Item(d, wintest::kLabel));  // no SS_NOTIFY: no notification
        PumpUntil([&] { return d.events.size() >= 6; }, 2000);
        PumpFor(30);
        seen = d.events;
        d.EndDialog(IDOK);
    });
    std::string got;
    for (const auto& e : seen)
        got += std::to_string(e.id) + "/" + std::to_string(e.code) + " ";
    ASSERT_EQ(seen.size(), 6u) << got;
    EXPECT_EQ(seen[0].id, wintest::kCombo);
    EXPECT_EQ(seen[0].code, CBN_SELCHANGE);
    EXPECT_EQ(seen[0].selection, 2);
    EXPECT_EQ(seen[1].id, wintest::kList);
    EXPECT_EQ(seen[1].selection, 1);
    EXPECT_EQ(seen[2].id, wintest::kCheck);
    EXPECT_EQ(seen[2].check, BST_CHECKED);
    EXPECT_EQ(seen[3].check, BST_UNCHECKED);
    EXPECT_EQ(seen[4].id, wintest::kEdit);
    EXPECT_EQ(seen[4].code, EN_CHANGE);
    EXPECT_EQ(seen[4].text, "proxy.example:8080");
    EXPECT_EQ(seen[5].id, wintest::kLink);
    EXPECT_EQ(seen[5].code, STN_CLICKED);
}

TEST_F(ViewTest, TheWidgetsFollowTheModelChangedFromAWorker) {
    RecordingDialog dialog;
    RunWith(dialog, StandardTemplate(), [&](RecordingDialog& d) {
        HWND dlg = d.m_hWnd;
        LOGFONTA lf{};
        lf.lfHeight = 16;
        lf.lfWeight = FW_BOLD;
        lf.lfUnderline = 1;
        std::snprintf(lf.lfFaceName, LF_FACESIZE, "%s", "Segoe UI");
        HFONT bold = CreateFontIndirectA(&lf);
        std::thread([&] {
            SetWindowTextA(dlg, "Setup Downloader");
            SetDlgItemTextA(dlg, wintest::kButton, "Pause");
            SetDlgItemTextA(dlg, wintest::kLabel, "1.5 MB of 9.0 MB");
            HWND bar = GetDlgItem(dlg, wintest::kProgress);
            SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
            SendMessageA(bar, PBM_SETPOS, 64, 0);
            SendMessageA(bar, PBM_SETBKCOLOR, 0, RGB(0xDE, 0xDE, 0xDE));
            SendMessageA(bar, PBM_SETBARCOLOR, 0, RGB(0, 0xE6, 0));
            SendDlgItemMessageA(dlg, wintest::kCheck, BM_SETCHECK, BST_CHECKED, 0);
            SendDlgItemMessageA(dlg, wintest::kCombo, CB_ADDSTRING, 0,
                                reinterpret_cast<LPARAM>("Only product"));
            SendDlgItemMessageA(dlg, wintest::kCombo, CB_SETCURSEL, 0, 0);
            EnableWindow(GetDlgItem(dlg, IDOK), FALSE);
            ShowWindow(GetDlgItem(dlg, wintest::kLink), SW_HIDE);
            SendDlgItemMessageA(dlg, wintest::kLabel, WM_SETFONT, reinterpret_cast<WPARAM>(bold),
                                TRUE);
        }).join();
        PumpFor(30);
        EXPECT_EQ(InspectView(dlg).text, "Setup Downloader");
        EXPECT_EQ(InspectView(Item(d, wintest::kButton)).text, "Pause");
        auto label = InspectView(Item(d, wintest::kLabel));
        EXPECT_EQ(label.text, "1.5 MB of 9.0 MB");
        EXPECT_EQ(label.fontWeight, 700);
        EXPECT_TRUE(label.fontUnderline);
        auto bar = InspectView(Item(d, wintest::kProgress));
        EXPECT_EQ(bar.minimum, 0);
        EXPECT_EQ(bar.maximum, 100);
        EXPECT_EQ(bar.value, 64);
        EXPECT_EQ(bar.backgroundColor, 0xDEDEDEu);
        EXPECT_EQ(bar.barColor, 0x00E600u);
        EXPECT_EQ(InspectView(Item(d, wintest::kCheck)).check, 1);
        auto combo = InspectView(Item(d, wintest::kCombo));
        EXPECT_EQ(combo.items, std::vector<std::string>{"Only product"});
        EXPECT_EQ(combo.current, 0);
        EXPECT_FALSE(InspectView(Item(d, IDOK)).enabled);
        EXPECT_FALSE(InspectView(Item(d, wintest::kLink)).shown);
        d.EndDialog(IDCANCEL);
        DeleteObject(bold);
    });
}

TEST_F(ViewTest, EachControlKindHasItsWidget) {
    platform::DialogTemplate t = StandardTemplate();
    t.items.push_back(wintest::Item("Edit", 1020, ES_PASSWORD, "", 120, 50, 70, 13));
    RecordingDialog dialog;
    RunWith(dialog, t, [&](RecordingDialog& d) {
        struct Case {
            int id;
            const char* kind;
        };
        const Case cases[] = {{wintest::kButton, "button"}, {wintest::kCheck, "check"},
                              {wintest::kCombo, "combo"},   {wintest::kList, "list"},
                              {wintest::kEdit, "edit"},     {wintest::kProgress, "progress"},
                              {wintest::kLink, "link"},     {wintest::kLabel, "label"},
                              {wintest::kFrame, "frame"},   {1020, "edit"}};
        for (const Case& c : cases)
            EXPECT_EQ(InspectView(Item(d, c.id)).widgetKind, c.kind);
        EXPECT_EQ(InspectView(d.m_hWnd).widgetKind, "dialog");
        EXPECT_TRUE(InspectView(Item(d, 1020)).password);
        EXPECT_FALSE(InspectView(Item(d, wintest::kEdit)).password);
        EXPECT_EQ(InspectView(Item(d, wintest::kButton)).text, "&Press") << "Qt's mnemonic";
        d.EndDialog(IDOK);
    });
}

class DraggableDialog : public RecordingDialog {
  public:
    bool byClientArea = true;
    std::vector<POINT> moves;

  protected:
    afx_msg LRESULT OnNcHitTest(CPoint point) {
        CRect client;
        GetClientRect(&client);
        ClientToScreen(&client);
        if (byClientArea && client.PtInRect(point))
            return HTCAPTION;
        return CWnd::OnNcHitTest(point);
    }
    afx_msg void OnMove(int x, int y) { moves.push_back(POINT{x, y}); }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(DraggableDialog, RecordingDialog)
ON_WM_NCHITTEST()
ON_WM_MOVE()
END_MESSAGE_MAP()

TEST_F(ViewTest, APressOnTheClientAreaMovesTheWindowWhenTheHitTestSaysCaption) {
    for (bool caption : {true, false}) {
        DraggableDialog dialog;
        dialog.byClientArea = caption;
        RECT before{}, after{};
        RunWith(dialog, StandardTemplate(), [&](RecordingDialog& d) {
            GetWindowRect(d.m_hWnd, &before);
            RECT client;
            GetClientRect(d.m_hWnd, &client);
            // The bottom left corner holds no control.
            platform::testing::Drag(d.m_hWnd, POINT{2, client.bottom - 3}, 30, 20);
            PumpFor(30);
            GetWindowRect(d.m_hWnd, &after);
            d.EndDialog(IDOK);
        });
        if (caption) {
            EXPECT_EQ(after.left - before.left, 30);
            EXPECT_EQ(after.top - before.top, 20);
            ASSERT_FALSE(dialog.moves.empty());
            EXPECT_EQ(dialog.moves.back().x, after.left);
            EXPECT_EQ(dialog.moves.back().y, after.top);
        } else {
            EXPECT_EQ(after.left, before.left);
            EXPECT_EQ(after.top, before.top);
            EXPECT_TRUE(dialog.moves.empty());
        }
    }
}

// Device contexts that are only numbers: enough to see which messages carry which.
struct FakeDrawing {
    static inline int released = 0;
    static HDC WindowDc(HWND hwnd) {
        return reinterpret_cast<HDC>(reinterpret_cast<uintptr_t>(hwnd) + 1);
    }
    static void Release(HWND, HDC) { ++released; }
    static CDC* FromHandle(HDC dc) { return reinterpret_cast<CDC*>(dc); }
    static bool Colours(HDC, platform::DcColors* out) {
        out->text = RGB(0, 0, 255);
        out->bkMode = 1;
        return true;
    }
    static bool Brush(HBRUSH brush, COLORREF* out) {
        if (brush != reinterpret_cast<HBRUSH>(0x77))
            return false;
        *out = RGB(255, 255, 255);
        return true;
    }
};

class ColourDialog : public RecordingDialog {
  public:
    struct Asked {
        CDC* dc;
        int id;
        UINT kind;
    };
    std::vector<Asked> asked;
    std::vector<CDC*> erased;
    int paints = 0;

  protected:
    afx_msg HBRUSH OnCtlColor(CDC* dc, CWnd* control, UINT kind) {
        asked.push_back({dc, control != nullptr ? control->GetDlgCtrlID() : 0, kind});
        return reinterpret_cast<HBRUSH>(0x77);
    }
    afx_msg BOOL OnEraseBkgnd(CDC* dc) {
        erased.push_back(dc);
        return TRUE;
    }
    afx_msg void OnPaint() {
        ++paints;
        CWnd::OnPaint();
    }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(ColourDialog, RecordingDialog)
ON_WM_CTLCOLOR()
ON_WM_ERASEBKGND()
ON_WM_PAINT()
END_MESSAGE_MAP()

TEST_F(ViewTest, PaintingAndColourMessagesCarryTheDrawingCodesDeviceContexts) {
    platform::DrawingPort hooks;
    hooks.windowDc = &FakeDrawing::WindowDc;
    hooks.releaseDc = &FakeDrawing::Release;
    hooks.dcFromHandle = &FakeDrawing::FromHandle;
    hooks.dcColors = &FakeDrawing::Colours;
    hooks.brushColor = &FakeDrawing::Brush;
    const platform::DrawingPort* before = platform::SetDrawingPort(&hooks);
    ColourDialog dialog;
    HWND dlg = nullptr;
    platform::testing::ViewState link, list;
    RunWith(dialog, StandardTemplate(), [&](RecordingDialog& d) {
        dlg = d.m_hWnd;
        ::SendMessageA(Item(d, wintest::kList), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("FAQ"));
        PumpUntil([&] { return dialog.paints > 0; }, 2000);
        PumpFor(30);
        link = InspectView(Item(d, wintest::kLink));
        list = InspectView(Item(d, wintest::kList));
        d.EndDialog(IDOK);
    });
    platform::SetDrawingPort(before);
    ASSERT_FALSE(dialog.erased.empty()) << "showing the dialog erases its background";
    EXPECT_EQ(dialog.erased[0], FakeDrawing::FromHandle(FakeDrawing::WindowDc(dlg)));
    EXPECT_GT(dialog.paints, 0);
    auto kindOf = [&](int id) -> int {
        for (auto& a : dialog.asked) {
            if (a.id == id)
                return static_cast<int>(a.kind);
        }
        return -1;
    };
    EXPECT_EQ(kindOf(wintest::kLink), CTLCOLOR_STATIC);
    EXPECT_EQ(kindOf(wintest::kLabel), CTLCOLOR_STATIC);
    EXPECT_EQ(kindOf(wintest::kList), CTLCOLOR_LISTBOX);
    EXPECT_EQ(kindOf(wintest::kButton), CTLCOLOR_BTN);
    EXPECT_EQ(kindOf(wintest::kEdit), CTLCOLOR_EDIT);
    EXPECT_EQ(link.textColor, 0x0000FFu) << "COLORREF 0xFF0000 is blue";
    EXPECT_TRUE(link.transparent);
    EXPECT_EQ(list.textColor, 0x0000FFu);
    EXPECT_EQ(list.backgroundColor, 0xFFFFFFu);
    EXPECT_GT(FakeDrawing::released, 0);
}

TEST_F(ViewTest, WithoutTheDrawingCodeNoHandlerGetsANullDeviceContext) {
    const platform::DrawingPort* before = platform::SetDrawingPort(nullptr);
    ColourDialog dialog;
    RunWith(dialog, StandardTemplate(), [&](RecordingDialog& d) {
        PumpUntil([&] { return dialog.paints > 0; }, 2000);
        PumpFor(20);
        d.EndDialog(IDOK);
    });
    platform::SetDrawingPort(before);
    EXPECT_TRUE(dialog.erased.empty());
    EXPECT_TRUE(dialog.asked.empty());
    EXPECT_GT(dialog.paints, 0) << "WM_PAINT still comes";
}

// The user interface starts with the drawing code's port installed, in every process that runs
// it: handlers get the erase and colour messages with device contexts that draw.
TEST_F(ViewTest, TheUserInterfaceStartsWithTheDrawingCodesDeviceContexts) {
    ColourDialog dialog;
    RunWith(dialog, StandardTemplate(), [&](RecordingDialog& d) {
        PumpUntil([&] { return !dialog.erased.empty() && !dialog.asked.empty(); }, 10000);
        d.EndDialog(IDOK);
    });
    ASSERT_FALSE(dialog.erased.empty());
    EXPECT_NE(dialog.erased[0], nullptr);
    ASSERT_FALSE(dialog.asked.empty());
    EXPECT_NE(dialog.asked[0].dc, nullptr);
}

TEST_F(ViewTest, TheDialogTakesTheIconOfWmSetIcon) {
    resbuild::Writer res = resbuild::NewRes();
    const resbuild::Bytes red = {0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF,
                                 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF};
    resbuild::AddEntry(res, 3, 1, resbuild::IconBitmap(2, 2, 32, {}, red, resbuild::Bytes(8, 0)));
    resbuild::AddEntry(res, 14, 128, resbuild::GroupIcon({{2, 1}}));
    HMODULE module = platform::LoadResourceModuleFromBytes(res.bytes());
    HICON icon = LoadIconA(module, MAKEINTRESOURCEA(128));
    ASSERT_NE(icon, nullptr);
    RecordingDialog dialog;
    bool before = true, after = false;
    RunWith(dialog, StandardTemplate(), [&](RecordingDialog& d) {
        before = InspectView(d.m_hWnd).hasIcon;
        ::SendMessageA(d.m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        PumpFor(20);
        after = InspectView(d.m_hWnd).hasIcon;
        d.EndDialog(IDOK);
    });
    FreeLibrary(module);
    EXPECT_FALSE(before);
    EXPECT_TRUE(after);
}

TEST_F(ViewTest, GrabWindowWritesAPicture) {
    RecordingDialog dialog;
    std::string path = sandbox_.Path("dialog.png");
    bool grabbed = false;
    RunWith(dialog, StandardTemplate(), [&](RecordingDialog& d) {
        grabbed = platform::testing::GrabWindow(d.m_hWnd, path.c_str());
        d.EndDialog(IDOK);
    });
    ASSERT_TRUE(grabbed);
    std::string bytes = fixtures::Sandbox::ReadFile(path);
    ASSERT_GT(bytes.size(), 8u);
    EXPECT_EQ(bytes.substr(1, 3), "PNG");
}

}  // namespace
