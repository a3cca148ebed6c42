// Shared parts of the window tests: dialog templates built in code, a dialog class that
// records what reaches its message map, and a fixture that starts the user interface (the
// offscreen Qt platform) with a sandbox. Included by exactly one .cpp per test program, since it
// defines the recording dialog's message map.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/afx/app.h"
#include "platform/afx/dialog.h"
#include "platform/gdi/font.h"
#include "platform/modules/resources.h"
#include "platform/window/window_model.h"
#include "platform/window/window_ops.h"
#include "support/platform/test_seams.h"
#include "support/sandbox.h"

namespace wintest {

// Control ids of the test dialogs.
constexpr int kButton = 1001;
constexpr int kCheck = 1002;
constexpr int kCombo = 1003;
constexpr int kList = 1004;
constexpr int kEdit = 1005;
constexpr int kProgress = 1006;
constexpr int kLink = 1007;
constexpr int kLabel = 1008;
constexpr int kFrame = 1009;

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

inline platform::DialogItemTemplate Item(const char* windowClass, int id, DWORD style,
                                         const char* text, short x, short y, short cx, short cy) {
    platform::DialogItemTemplate item;
    item.windowClass = windowClass;
    item.id = static_cast<DWORD>(id);
    item.style = kChild | style;
    item.text = text;
    item.x = x;
    item.y = y;
    item.cx = cx;
    item.cy = cy;
    return item;
}

// A dialog of 200 x 120 dialog units in 9-point "Segoe UI" with one control of each kind, and
// OK / Cancel.
inline platform::DialogTemplate StandardTemplate() {
    platform::DialogTemplate t;
    t.style = DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU;
    t.cx = 200;
    t.cy = 120;
    t.title = "Test dialog";
    t.pointSize = 9;
    t.weight = FW_NORMAL;
    t.typeface = "Segoe UI";
    t.items = {
        Item("Button", kButton, BS_PUSHBUTTON | WS_TABSTOP, "&Press", 10, 10, 50, 14),
        Item("Button", kCheck, BS_AUTOCHECKBOX | WS_TABSTOP, "Tick", 70, 10, 60, 10),
        Item("ComboBox", kCombo, CBS_DROPDOWNLIST | WS_TABSTOP, "", 10, 30, 100, 60),
        Item("ListBox", kList, LBS_NOTIFY | WS_TABSTOP, "", 120, 30, 70, 40),
        Item("Edit", kEdit, ES_AUTOHSCROLL | WS_TABSTOP, "", 10, 50, 100, 13),
        Item("msctls_progress32", kProgress, PBS_SMOOTH, "", 10, 75, 180, 8),
        Item("Static", kLink, SS_NOTIFY | SS_NOPREFIX, "Link", 10, 88, 40, 9),
        Item("Static", kLabel, SS_LEFT, "Label", 60, 88, 60, 9),
        Item("Static", kFrame, SS_ETCHEDFRAME, "", 130, 75, 60, 10),
        Item("Button", IDOK, BS_DEFPUSHBUTTON | WS_TABSTOP, "OK", 90, 100, 50, 14),
        Item("Button", IDCANCEL, BS_PUSHBUTTON | WS_TABSTOP, "Cancel", 145, 100, 50, 14),
    };
    return t;
}

struct Event {
    Event(UINT m, int i, int c) : message(m), id(i), code(c) {}
    UINT message;
    int id;    // WM_COMMAND: the control id; WM_TIMER: the timer id
    int code;  // WM_COMMAND: the notification code
    // The state the handler saw when it ran.
    int check = -1;
    int selection = -1;
    std::string text;
};

// Records every command and timer that reaches its map, with the control's state at that
// moment; hooks let a test act inside OnInitDialog and the handlers.
class RecordingDialog : public CDialog {
  public:
    RecordingDialog() : CDialog(0) {}

    std::vector<Event> events;
    std::function<void(RecordingDialog&)> onInit;
    std::function<void(RecordingDialog&, const Event&)> onEvent;
    std::function<void(RecordingDialog&, UINT_PTR)> onTimer;
    bool visibleInInit = true;
    bool shownInInit = true;
    int exchanges = 0;
    int savingExchanges = 0;

    size_t Count(UINT message, int id, int code = -1) const {
        size_t n = 0;
        for (const Event& e : events) {
            if (e.message == message && e.id == id && (code < 0 || e.code == code))
                ++n;
        }
        return n;
    }

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        visibleInInit = IsWindowVisible();
        shownInInit = platform::testing::InspectView(m_hWnd).shown;
        if (onInit)
            onInit(*this);
        return TRUE;
    }

    void DoDataExchange(CDataExchange* dx) override {
        ++exchanges;
        if (dx->m_bSaveAndValidate)
            ++savingExchanges;
    }

  protected:
    void Record(UINT message, int id, int code) {
        Event e(message, id, code);
        if (HWND control = ::GetDlgItem(m_hWnd, id)) {
            e.check = static_cast<int>(::SendMessageA(control, BM_GETCHECK, 0, 0));
            char text[256];
            ::GetWindowTextA(control, text, sizeof text);
            e.text = text;
            if (id == kCombo)
                e.selection = static_cast<int>(::SendMessageA(control, CB_GETCURSEL, 0, 0));
            if (id == kList)
                e.selection = static_cast<int>(::SendMessageA(control, LB_GETCURSEL, 0, 0));
        }
        events.push_back(e);
        if (onEvent)
            onEvent(*this, events.back());
    }
    afx_msg void OnButton() { Record(WM_COMMAND, kButton, BN_CLICKED); }
    afx_msg void OnCheck() { Record(WM_COMMAND, kCheck, BN_CLICKED); }
    afx_msg void OnComboChange() { Record(WM_COMMAND, kCombo, CBN_SELCHANGE); }
    afx_msg void OnListChange() { Record(WM_COMMAND, kList, LBN_SELCHANGE); }
    afx_msg void OnEditChange() { Record(WM_COMMAND, kEdit, EN_CHANGE); }
    afx_msg void OnLink() { Record(WM_COMMAND, kLink, STN_CLICKED); }
    afx_msg void OnLabel() { Record(WM_COMMAND, kLabel, STN_CLICKED); }
    afx_msg void OnTimer(UINT_PTR id) {
        events.emplace_back(WM_TIMER, static_cast<int>(id), 0);
        if (onTimer)
            onTimer(*this, id);
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(RecordingDialog, CDialog)
ON_BN_CLICKED(kButton, &RecordingDialog::OnButton)
ON_BN_CLICKED(kCheck, &RecordingDialog::OnCheck)
ON_CBN_SELCHANGE(kCombo, &RecordingDialog::OnComboChange)
ON_LBN_SELCHANGE(kList, &RecordingDialog::OnListChange)
ON_EN_CHANGE(kEdit, &RecordingDialog::OnEditChange)
ON_STN_CLICKED(kLink, &RecordingDialog::OnLink)
ON_STN_CLICKED(kLabel, &RecordingDialog::OnLabel)
ON_WM_TIMER()
END_MESSAGE_MAP()

// Starts the user interface once per program and gives each test a sandbox and a responder.
class WindowTest : public fixtures::SandboxTest {
  protected:
    void SetUp() override {
        platform::testing::EnsureUi();
        windowsBefore_ = platform::testing::WindowCount();
    }
    void TearDown() override {
        platform::testing::PumpFor(5);
        EXPECT_EQ(platform::testing::WindowCount(), windowsBefore_) << "a window was left behind";
    }
    // Runs `dialog` from `t` with `whileRunning` called (on the user-interface thread, from a
    // posted message) once the dialog is shown; the test acts there and ends the dialog.
    INT_PTR RunWith(RecordingDialog& dialog, const platform::DialogTemplate& t,
                    std::function<void(RecordingDialog&)> whileRunning) {
        auto previous = dialog.onInit;
        dialog.onInit = [previous, whileRunning](RecordingDialog& d) {
            if (previous)
                previous(d);
            d.SetTimer(kRunTimer, 10);
        };
        auto previousTimer = dialog.onTimer;
        bool ran = false;
        dialog.onTimer = [&, previousTimer, whileRunning](RecordingDialog& d, UINT_PTR id) {
            if (id == kRunTimer) {
                d.KillTimer(kRunTimer);
                d.events.pop_back();  // the run's own tick is not the test's
                if (!ran) {
                    ran = true;
                    if (!platform::testing::PumpUntil(
                            [&] { return platform::testing::InspectView(d.m_hWnd).shown; }, 2000)) {
                        ADD_FAILURE() << "the dialog was never shown";
                        d.EndDialog(IDABORT);
                        return;
                    }
                    whileRunning(d);
                }
                return;
            }
            if (previousTimer)
                previousTimer(d, id);
        };
        return platform::testing::RunModal(dialog, t);
    }
    static constexpr UINT_PTR kRunTimer = 0x7E57;
    platform::testing::ScriptedResponder responder_;

  private:
    size_t windowsBefore_ = 0;
};

}  // namespace wintest
