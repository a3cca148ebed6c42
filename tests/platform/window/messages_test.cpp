#include "platform/window/messages.h"
#include "platform/window/message_box.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/base/exceptions.h"
#include "platform/base/lasterror.h"
#include "platform/kernel/sync.h"
#include "platform/window/window_ops.h"
#include "support/platform/window_test_support.h"

namespace {

using platform::WindowKind;
using platform::WindowState;
using wintest::WindowTest;

// A dialog window in the model with one push button, without a modal run.
struct Window {
    HWND dialog;
    HWND button;
    explicit Window(CWnd* attach = nullptr) {
        WindowState d;
        d.kind = WindowKind::Dialog;
        d.rect = RECT{100, 100, 300, 200};
        dialog = platform::CreateModelWindow(d);
        WindowState b;
        b.parent = dialog;
        b.id = wintest::kButton;
        b.kind = WindowKind::PushButton;
        b.windowClass = "Button";
        b.visible = true;
        b.rect = RECT{10, 10, 60, 30};
        button = platform::CreateModelWindow(b);
        if (attach != nullptr)
            attach->Attach(dialog);
    }
    ~Window() { platform::DestroyModelWindow(dialog); }
};

class Base : public CWnd {
  public:
    std::vector<std::string> calls;

  protected:
    afx_msg void OnOnlyInBase() { calls.push_back("base:1"); }
    afx_msg void OnBoth() { calls.push_back("base:2"); }
    afx_msg LRESULT OnCustom(WPARAM w, LPARAM l) {
        calls.push_back("base:custom");
        return static_cast<LRESULT>(w + l);
    }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(Base, CWnd)
ON_BN_CLICKED(1, &Base::OnOnlyInBase)
ON_BN_CLICKED(2, &Base::OnBoth)
ON_MESSAGE(WM_USER + 7, &Base::OnCustom)
END_MESSAGE_MAP()

class Derived : public Base {
  protected:
    afx_msg void OnBoth() { calls.push_back("derived:2"); }
    afx_msg void OnThrow() { AfxThrowInvalidArgException(); }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(Derived, Base)
ON_BN_CLICKED(2, &Derived::OnBoth)
ON_BN_CLICKED(3, &Derived::OnThrow)
END_MESSAGE_MAP()

TEST_F(WindowTest, MessageMapFindsBaseEntriesAndDerivedEntriesWin) {
    Derived wnd;
    Window w(&wnd);
    struct Case {
        WPARAM wParam;
        const char* expected;
    };
    const Case cases[] = {
        {MAKEWPARAM(1, BN_CLICKED), "base:1"},
        {MAKEWPARAM(2, BN_CLICKED), "derived:2"},
        {MAKEWPARAM(2, CBN_SELCHANGE), nullptr},  // another code of the same control
        {MAKEWPARAM(9, BN_CLICKED), nullptr},     // no entry anywhere
    };
    for (const Case& c : cases) {
        wnd.calls.clear();
        SendMessageA(w.dialog, WM_COMMAND, c.wParam, 0);
        if (c.expected == nullptr) {
            EXPECT_TRUE(wnd.calls.empty()) << c.wParam;
        } else {
            ASSERT_EQ(wnd.calls.size(), 1u) << c.wParam;
            EXPECT_EQ(wnd.calls[0], c.expected);
        }
    }
    EXPECT_EQ(SendMessageA(w.dialog, WM_USER + 7, 40, 2), 42);
    wnd.Detach();
}

TEST_F(WindowTest, PostedMessagesArriveInOrderOnTheUiThread) {
    Derived wnd;
    Window w(&wnd);
    std::thread worker([&] {
        PostMessageA(w.dialog, WM_COMMAND, MAKEWPARAM(1, BN_CLICKED), 0);
        PostMessageA(w.dialog, WM_COMMAND, MAKEWPARAM(2, BN_CLICKED), 0);
        PostMessageA(w.dialog, WM_USER + 7, 1, 1);
    });
    worker.join();
    EXPECT_TRUE(wnd.calls.empty()) << "posting never runs a handler at once";
    ASSERT_TRUE(platform::testing::PumpUntil([&] { return wnd.calls.size() == 3; }, 2000));
    EXPECT_EQ(wnd.calls, (std::vector<std::string>{"base:1", "derived:2", "base:custom"}));
    wnd.Detach();
}

TEST_F(WindowTest, AHandlersExceptionIsReportedInABoxAndDeleted) {
    Derived wnd;
    Window w(&wnd);
    PostMessageA(w.dialog, WM_COMMAND, MAKEWPARAM(3, BN_CLICKED), 0);
    PostMessageA(w.dialog, WM_COMMAND, MAKEWPARAM(1, BN_CLICKED), 0);
    ASSERT_TRUE(platform::testing::PumpUntil([&] { return !wnd.calls.empty(); }, 2000));
    auto boxes = responder_.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "An invalid argument was encountered.");
    EXPECT_EQ(boxes[0].owner, w.dialog);
    EXPECT_EQ(boxes[0].type & MB_TYPEMASK, MB_OK);
    EXPECT_EQ(boxes[0].caption, program_invocation_short_name) << "no application object";
    EXPECT_EQ(wnd.calls, std::vector<std::string>{"base:1"}) << "dispatch goes on";
    wnd.Detach();
}

TEST_F(WindowTest, AStaleWindowIsRefusedByEveryCall) {
    HWND stale;
    HWND staleButton;
    CWnd* wrapper;
    {
        Window w;
        stale = w.dialog;
        staleButton = w.button;
        wrapper = CWnd::FromHandle(w.dialog)->GetDlgItem(wintest::kButton);
        ASSERT_NE(wrapper, nullptr);
        EXPECT_EQ(wrapper->m_hWnd, w.button);
    }
    char text[8] = "x";
    SetLastError(0);
    EXPECT_EQ(SendMessageA(stale, WM_GETTEXTLENGTH, 0, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_FALSE(PostMessageA(stale, WM_CLOSE, 0, 0));
    EXPECT_FALSE(SetWindowTextA(staleButton, "new"));
    EXPECT_EQ(GetWindowTextA(staleButton, text, sizeof text), 0);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(SetTimer(stale, 1, 10, nullptr), 0u);
    EXPECT_FALSE(EnableWindow(staleButton, FALSE));
    EXPECT_FALSE(IsWindow(stale));
    EXPECT_EQ(GetDlgItem(stale, wintest::kButton), nullptr);
    EXPECT_EQ(CWnd::FromHandle(stale), nullptr);
    // A wrapper handed out earlier stays a valid object that refers to no window.
    EXPECT_EQ(wrapper->m_hWnd, nullptr);
    wrapper->SetWindowText("ignored");
    EXPECT_EQ(CWnd::FromHandle(reinterpret_cast<HWND>(0x12345678)), nullptr) << "made up";
    EXPECT_EQ(MessageBoxA(stale, "text", "caption", MB_OK), 0);
    EXPECT_TRUE(responder_.boxes().empty());
}

TEST_F(WindowTest, PostedMessagesOfADestroyedWindowAreDropped) {
    auto* wnd = new Derived;
    auto* w = new Window(wnd);
    PostMessageA(w->dialog, WM_COMMAND, MAKEWPARAM(1, BN_CLICKED), 0);
    wnd->Detach();
    delete w;
    delete wnd;  // a handler would now run on a deleted object
    platform::testing::PumpFor(30);
    SUCCEED();
}

// The application's window operations act on the model at once from any thread, while the
// user-interface thread is blocked and dispatches nothing; only a message that needs the
// handler is served there, in the wait.
TEST_F(WindowTest, AWorkerChangesControlsAtOnceWhileTheUiThreadIsBlocked) {
    Derived wnd;
    Window w(&wnd);
    WindowState p;
    p.parent = w.dialog;
    p.id = wintest::kProgress;
    p.kind = WindowKind::Progress;
    p.visible = true;
    HWND progress = platform::CreateModelWindow(p);

    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::string textSeen;
    LRESULT posSeen = -1, rangeSeen = -1;
    BOOL enabledSeen = TRUE, visibleSeen = TRUE;
    LRESULT customResult = -1;
    std::thread worker([&] {
        SetDlgItemTextA(w.dialog, wintest::kButton, "Pause");
        SendMessageA(progress, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
        SendMessageA(progress, PBM_SETPOS, 37, 0);
        EnableWindow(w.button, FALSE);
        ShowWindow(w.button, SW_HIDE);
        char text[32];
        GetDlgItemTextA(w.dialog, wintest::kButton, text, sizeof text);
        textSeen = text;
        posSeen = SendMessageA(progress, PBM_GETPOS, 0, 0);
        rangeSeen = SendMessageA(progress, PBM_GETRANGE, FALSE, 0);
        enabledSeen = IsWindowEnabled(w.button);
        visibleSeen = IsWindowVisible(w.button);
        // A message that needs the handler: the wait serves it.
        customResult = SendMessageA(w.dialog, WM_USER + 7, 5, 5);
        SetEvent(done);
    });
    EXPECT_EQ(WaitForSingleObject(done, 10000), WAIT_OBJECT_0);
    worker.join();
    EXPECT_EQ(textSeen, "Pause");
    EXPECT_EQ(posSeen, 37);
    EXPECT_EQ(rangeSeen, 100);
    EXPECT_FALSE(enabledSeen);
    EXPECT_FALSE(visibleSeen);
    EXPECT_EQ(customResult, 10);
    EXPECT_EQ(wnd.calls, std::vector<std::string>{"base:custom"});
    char text[32];
    GetDlgItemTextA(w.dialog, wintest::kButton, text, sizeof text);
    EXPECT_STREQ(text, "Pause");
    platform::testing::PumpFor(20);
    EXPECT_EQ(wnd.calls, std::vector<std::string>{"base:custom"}) << "handled once, not again";
    CloseHandle(done);
    wnd.Detach();
}

TEST_F(WindowTest, TextOperationsCopyWhatFitsAtACharacterBoundary) {
    Window w;
    // "Grüße": the ü and ß take two bytes each.
    SetWindowTextA(w.button,
                   "Gr\xC3\xBC\xC3\x9F"
                   "e");
    struct Case {
        int size;
        const char* expected;
        int length;
    };
    const Case cases[] = {
        {64,
         "Gr\xC3\xBC\xC3\x9F"
         "e",
         7},
        {8,
         "Gr\xC3\xBC\xC3\x9F"
         "e",
         7},
        {4, "Gr", 2},  // three bytes would cut the ü in half
        {5, "Gr\xC3\xBC", 4},
        {1, "", 0},
    };
    for (const Case& c : cases) {
        char buffer[64];
        EXPECT_EQ(GetWindowTextA(w.button, buffer, c.size), c.length) << c.size;
        EXPECT_STREQ(buffer, c.expected) << c.size;
    }
    EXPECT_EQ(GetWindowTextLengthA(w.button), 7);
    CString all;
    CWnd::FromHandle(w.dialog)->GetDlgItemText(wintest::kButton, all);
    EXPECT_EQ(all,
              "Gr\xC3\xBC\xC3\x9F"
              "e");
}

TEST_F(WindowTest, EnableAndShowReportThePreviousStateAndVisibilityFollowsParents) {
    Window w;
    ShowWindow(w.dialog, SW_SHOW);
    EXPECT_FALSE(EnableWindow(w.button, FALSE)) << "was enabled";
    EXPECT_TRUE(EnableWindow(w.button, TRUE)) << "was disabled";
    EXPECT_TRUE(ShowWindow(w.button, SW_HIDE)) << "was visible";
    EXPECT_FALSE(ShowWindow(w.button, SW_SHOW)) << "was hidden";
    EXPECT_TRUE(IsWindowVisible(w.button));
    ShowWindow(w.dialog, SW_HIDE);
    EXPECT_FALSE(IsWindowVisible(w.button)) << "a hidden parent hides its children";
    ShowWindow(w.dialog, SW_MINIMIZE);
    EXPECT_TRUE(IsIconic(w.dialog));
    ShowWindow(w.dialog, SW_RESTORE);
    EXPECT_FALSE(IsIconic(w.dialog));
}

TEST_F(WindowTest, GeometryOfControlsIsRelativeToTheDialogsClientArea) {
    Window w;
    RECT client;
    ASSERT_TRUE(GetClientRect(w.button, &client));
    EXPECT_EQ(client.left, 0);
    EXPECT_EQ(client.right, 50);
    EXPECT_EQ(client.bottom, 20);
    POINT p{1, 2};
    ClientToScreen(w.button, &p);
    EXPECT_EQ(p.x, 111);
    EXPECT_EQ(p.y, 112);
    ScreenToClient(w.dialog, &p);
    EXPECT_EQ(p.x, 11);
    EXPECT_EQ(p.y, 12);
    CRect onScreen;
    CWnd::FromHandle(w.dialog)->GetClientRect(&onScreen);
    CWnd::FromHandle(w.dialog)->ClientToScreen(&onScreen);
    EXPECT_EQ(onScreen, CRect(100, 100, 300, 200));
}

TEST_F(WindowTest, DefaultHitTestIsClientInsideTheClientAreaOnly) {
    CWnd wnd;
    Window w(&wnd);
    struct Case {
        int x, y;
        LRESULT expected;
    };
    const Case cases[] = {
        {100, 100, HTCLIENT}, {299, 199, HTCLIENT}, {300, 150, HTNOWHERE}, {150, 99, HTNOWHERE}};
    for (const Case& c : cases) {
        EXPECT_EQ(SendMessageA(w.dialog, WM_NCHITTEST, 0, MAKELPARAM(c.x, c.y)), c.expected)
            << c.x << "," << c.y;
    }
    wnd.Detach();
}

}  // namespace
