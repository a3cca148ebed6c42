#include "platform/afx/dialog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/view/qt_view.h"
#include "platform/window/user_input.h"
#include "platform/window/window_ops.h"
#include "support/platform/window_test_support.h"

namespace {

using platform::testing::InspectView;
using platform::testing::PumpUntil;
using wintest::RecordingDialog;
using wintest::StandardTemplate;

class TestApp : public CWinApp {
  public:
    int helps = 0;

  protected:
    afx_msg void OnHelpCommand() { ++helps; }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(TestApp, CWinApp)
ON_COMMAND(ID_HELP, &TestApp::OnHelpCommand)
END_MESSAGE_MAP()

TestApp theTestApp;

class DialogTest : public wintest::WindowTest {};

TEST_F(DialogTest, AMissingTemplateGivesMinusOneAndMakesNoWindow) {
    AfxSetResourceHandle(nullptr);
    RecordingDialog dialog;
    bool initialised = false;
    dialog.onInit = [&](RecordingDialog&) { initialised = true; };
    size_t before = platform::testing::WindowCount();
    EXPECT_EQ(dialog.DoModal(), -1);
    EXPECT_EQ(platform::testing::WindowCount(), before);
    EXPECT_FALSE(initialised);
    EXPECT_EQ(dialog.m_hWnd, nullptr);
    CDialog other(102);
    EXPECT_EQ(other.DoModal(), -1);
}

TEST_F(DialogTest, OnInitDialogRunsBeforeTheWindowIsShownAndEndDialogsValueComesBack) {
    RecordingDialog dialog;
    bool shownWhileRunning = false;
    INT_PTR result = RunWith(dialog, StandardTemplate(), [&](RecordingDialog& d) {
        shownWhileRunning = InspectView(d.m_hWnd).shown && d.IsWindowVisible();
        d.EndDialog(42);
    });
    EXPECT_EQ(result, 42);
    EXPECT_FALSE(dialog.visibleInInit);
    EXPECT_FALSE(dialog.shownInInit);
    EXPECT_TRUE(shownWhileRunning);
    EXPECT_EQ(dialog.exchanges, 1) << "CDialog::OnInitDialog exchanges once";
    EXPECT_EQ(dialog.savingExchanges, 0);
    EXPECT_EQ(dialog.m_hWnd, nullptr);
}

TEST_F(DialogTest, EndDialogInsideOnInitDialogEndsWithoutShowingTheWindow) {
    RecordingDialog dialog;
    HWND made = nullptr;
    dialog.onInit = [&](RecordingDialog& d) {
        made = d.m_hWnd;
        d.EndDialog(IDRETRY);
    };
    EXPECT_EQ(platform::testing::RunModal(dialog, StandardTemplate()), IDRETRY);
    EXPECT_NE(made, nullptr);
    EXPECT_FALSE(IsWindow(made));
}

TEST_F(DialogTest, EveryWayOfClosingEndsWithItsResultThroughTheDefaultHandlers) {
    struct Case {
        const char* name;
        std::function<void(RecordingDialog&)> act;
        INT_PTR expected;
        int savingExchanges;  // OnOK exchanges with saving before it ends the dialog
    };
    const Case cases[] = {
        {"Esc", [](RecordingDialog& d) { platform::testing::PressKey(d.m_hWnd, VK_ESCAPE); },
         IDCANCEL, 0},
        {"Enter in the edit field",
         [](RecordingDialog& d) {
             platform::testing::PressKey(::GetDlgItem(d.m_hWnd, wintest::kEdit), VK_RETURN);
         },
         IDOK, 1},
        {"close box", [](RecordingDialog& d) { platform::testing::PressCloseBox(d.m_hWnd); },
         IDCANCEL, 0},
        {"posted WM_CLOSE", [](RecordingDialog& d) { d.PostMessage(WM_CLOSE); }, IDCANCEL, 0},
        {"click on OK",
         [](RecordingDialog& d) { platform::testing::Click(::GetDlgItem(d.m_hWnd, IDOK)); }, IDOK,
         1},
        {"click on Cancel",
         [](RecordingDialog& d) { platform::testing::Click(::GetDlgItem(d.m_hWnd, IDCANCEL)); },
         IDCANCEL, 0},
        {"posted IDOK command", [](RecordingDialog& d) { d.PostMessage(WM_COMMAND, IDOK); }, IDOK,
         1},
    };
    for (const Case& c : cases) {
        RecordingDialog dialog;
        INT_PTR result = RunWith(dialog, StandardTemplate(), [&](RecordingDialog& d) {
            c.act(d);
            // A dialog that did not end is ended after a while, so the test goes on.
            if (!PumpUntil([&] { return platform::ModalEnded(d.m_hWnd, nullptr); }, 2000)) {
                d.EndDialog(-7);
            }
        });
        EXPECT_EQ(result, c.expected) << c.name;
        EXPECT_EQ(dialog.savingExchanges, c.savingExchanges) << c.name;
    }
}

// A click and a tick that wait in the queue behind the close reach no handler of the ended
// dialog: its loop would have taken nothing more for it.
TEST_F(DialogTest, NothingQueuedBehindTheCloseReachesTheEndedDialog) {
    constexpr UINT_PTR kTick = 5;
    RecordingDialog dialog;
    dialog.onInit = [&](RecordingDialog& d) {
        d.SetTimer(kTick, 10);
        // The tick is due when the loop's first round begins.
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        d.PostMessage(WM_CLOSE);
        d.PostMessage(WM_COMMAND, MAKEWPARAM(wintest::kButton, BN_CLICKED),
                      reinterpret_cast<LPARAM>(::GetDlgItem(d.m_hWnd, wintest::kButton)));
    };
    EXPECT_EQ(platform::testing::RunModal(dialog, StandardTemplate()), IDCANCEL);
    EXPECT_EQ(dialog.Count(WM_COMMAND, wintest::kButton), 0u) << "the click came after the end";
    EXPECT_EQ(dialog.Count(WM_TIMER, static_cast<int>(kTick)), 0u) << "so did the tick";
}

TEST_F(DialogTest, EnterGoesToTheDefaultButtonAndNowhereWhenItIsDisabled) {
    platform::DialogTemplate t = StandardTemplate();
    for (auto& item : t.items) {
        // kButton becomes the default button, OK an ordinary one.
        if (item.id == static_cast<DWORD>(wintest::kButton))
            item.style |= BS_DEFPUSHBUTTON;
        if (item.id == IDOK)
            item.style &= ~static_cast<DWORD>(BS_DEFPUSHBUTTON);
    }
    RecordingDialog dialog;
    INT_PTR result = RunWith(dialog, t, [&](RecordingDialog& d) {
        HWND edit = ::GetDlgItem(d.m_hWnd, wintest::kEdit);
        platform::testing::PressKey(edit, VK_RETURN);
        PumpUntil([&] { return d.Count(WM_COMMAND, wintest::kButton) > 0; }, 2000);
        ::EnableWindow(::GetDlgItem(d.m_hWnd, wintest::kButton), FALSE);
        platform::testing::PressKey(edit, VK_RETURN);
        platform::testing::PumpFor(50);
        d.EndDialog(3);
    });
    EXPECT_EQ(result, 3) << "Enter did not give IDOK";
    EXPECT_EQ(dialog.Count(WM_COMMAND, wintest::kButton, BN_CLICKED), 1u);
}

class BindingDialog : public CDialog {
  public:
    BindingDialog() : CDialog(0) {}
    CComboBox m_combo;
    CListBox m_list;
    CProgressCtrl m_progress;
    CButton m_missing;
    BOOL firstExchange = TRUE;
    CWnd* comboByItem = nullptr;

    BOOL OnInitDialog() override {
        firstExchange = UpdateData(FALSE);
        comboByItem = GetDlgItem(wintest::kCombo);
        m_combo.AddString("first");
        return TRUE;
    }
    void DoDataExchange(CDataExchange* dx) override {
        DDX_Control(dx, wintest::kCombo, m_combo);
        DDX_Control(dx, wintest::kList, m_list);
        DDX_Control(dx, wintest::kProgress, m_progress);
        DDX_Control(dx, 4444, m_missing);
    }
};

TEST_F(DialogTest, DataExchangeBindsControlsAndFailsVisiblyForAMissingOne) {
    BindingDialog dialog;
    // The template has no control 4444. Once the set-up's failure box is up, OK (whose
    // exchange fails again, so it must not end the dialog) and then Cancel are posted.
    bool posted = false;
    responder_.beforeBoxAnswer = [&](const platform::MessageBoxCall&) {
        if (posted || dialog.m_hWnd == nullptr)
            return;
        posted = true;
        dialog.PostMessage(WM_COMMAND, IDOK);
        dialog.PostMessage(WM_COMMAND, IDCANCEL);
    };
    INT_PTR result = platform::testing::RunModal(dialog, StandardTemplate());
    EXPECT_EQ(result, IDCANCEL) << "OK must not end a dialog whose exchange fails";
    EXPECT_FALSE(dialog.firstExchange);
    EXPECT_EQ(dialog.comboByItem, &dialog.m_combo) << "GetDlgItem gives the bound member";
    auto calls = responder_.boxes();
    ASSERT_EQ(calls.size(), 2u) << "the set-up's and OK's exchange each report the failure";
    EXPECT_NE(calls[0].text.find("unsupported"), std::string::npos) << calls[0].text;
    EXPECT_NE(calls[0].owner, nullptr);
    EXPECT_EQ(dialog.m_missing.m_hWnd, nullptr);
    EXPECT_EQ(dialog.m_combo.m_hWnd, nullptr) << "unbound when the window is gone";
    EXPECT_EQ(dialog.m_combo.GetCurSel(), CB_ERR) << "an unbound list answers CB_ERR";
}

TEST_F(DialogTest, ControlsGetTheTemplatesFontAndPixelPositionsFromItsBaseUnits) {
    RecordingDialog dialog;
    LOGFONTA lf{};
    RECT client{}, button{}, combo{};
    SIZE units{};
    RunWith(dialog, StandardTemplate(), [&](RecordingDialog& d) {
        HWND b = ::GetDlgItem(d.m_hWnd, wintest::kButton);
        HFONT font = reinterpret_cast<HFONT>(::SendMessageA(b, WM_GETFONT, 0, 0));
        platform::LogFontOf(font, &lf);
        units = platform::DialogBaseUnits(font);
        ::GetClientRect(d.m_hWnd, &client);
        platform::WindowState s;
        platform::ReadWindow(b, &s);
        button = s.rect;
        platform::ReadWindow(::GetDlgItem(d.m_hWnd, wintest::kCombo), &s);
        combo = s.rect;
        d.EndDialog(IDOK);
    });
    EXPECT_EQ(lf.lfHeight, -12) << "9 points at 96 pixels per inch";
    EXPECT_STREQ(lf.lfFaceName, "Segoe UI");
    EXPECT_EQ(lf.lfWeight, FW_NORMAL);
    ASSERT_GT(units.cx, 0);
    EXPECT_EQ(client.right, MulDiv(200, units.cx, 4));
    EXPECT_EQ(client.bottom, MulDiv(120, units.cy, 8));
    EXPECT_EQ(button.left, MulDiv(10, units.cx, 4));
    EXPECT_EQ(button.top, MulDiv(10, units.cy, 8));
    EXPECT_EQ(button.right, MulDiv(60, units.cx, 4));
    EXPECT_EQ(button.bottom, MulDiv(24, units.cy, 8));
    EXPECT_LT(combo.bottom - combo.top, MulDiv(60, units.cy, 8)) << "not the drop-down's height";
}

TEST_F(DialogTest, ANestedDialogDisablesItsOwnerUntilItEnds) {
    RecordingDialog outer;
    BOOL ownerEnabledInside = TRUE;
    bool innerModal = false;
    bool innermostFound = false;
    INT_PTR innerResult = 0;
    RunWith(outer, StandardTemplate(), [&](RecordingDialog& o) {
        RecordingDialog inner;
        inner.m_pParentWnd = &o;
        innerResult = RunWith(inner, StandardTemplate(), [&](RecordingDialog& i) {
            ownerEnabledInside = o.IsWindowEnabled();
            innerModal = InspectView(i.m_hWnd).modal;
            innermostFound = platform::testing::InnermostModalDialog() == i.m_hWnd;
            // The owner's controls take no input meanwhile.
            platform::testing::Click(::GetDlgItem(o.m_hWnd, wintest::kButton));
            platform::testing::PumpFor(30);
            i.EndDialog(IDOK);
        });
        EXPECT_TRUE(o.IsWindowEnabled());
        EXPECT_EQ(platform::testing::InnermostModalDialog(), o.m_hWnd);
        o.EndDialog(IDCANCEL);
    });
    EXPECT_FALSE(ownerEnabledInside);
    EXPECT_TRUE(innerModal);
    EXPECT_TRUE(innermostFound);
    EXPECT_EQ(platform::testing::InnermostModalDialog(), nullptr);
    EXPECT_EQ(innerResult, IDOK);
    EXPECT_EQ(outer.Count(WM_COMMAND, wintest::kButton), 0u);
}

TEST_F(DialogTest, UnhandledCommandsReachTheApplicationAndTheMainWindowIsForgotten) {
    RecordingDialog dialog;
    theTestApp.m_pMainWnd = &dialog;
    theTestApp.helps = 0;
    HWND innerOwner = nullptr;
    RunWith(dialog, StandardTemplate(), [&](RecordingDialog& d) {
        d.PostMessage(WM_COMMAND, ID_HELP);
        PumpUntil([&] { return theTestApp.helps > 0; }, 2000);
        // A dialog without a parent is owned by the main window.
        RecordingDialog inner;
        RunWith(inner, StandardTemplate(), [&](RecordingDialog& i) {
            platform::WindowState s;
            platform::ReadWindow(i.m_hWnd, &s);
            innerOwner = s.owner;
            i.EndDialog(IDOK);
        });
        innerOwner = innerOwner == d.m_hWnd ? innerOwner : nullptr;
        d.EndDialog(IDOK);
    });
    EXPECT_EQ(theTestApp.helps, 1);
    EXPECT_NE(innerOwner, nullptr);
    EXPECT_EQ(theTestApp.m_pMainWnd, nullptr) << "the main window's reference ends with it";
}

}  // namespace
