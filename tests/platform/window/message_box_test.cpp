#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/kernel/sync.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "support/platform/window_test_support.h"

namespace {

using platform::MessageBoxCall;
using platform::testing::PumpFor;
using platform::testing::PumpUntil;
using wintest::RecordingDialog;
using wintest::StandardTemplate;

class MessageBoxTest : public wintest::WindowTest {};

TEST_F(MessageBoxTest, EveryButtonSetGivesTheAnswerChosen) {
    struct Case {
        UINT type;
        int answer;
    };
    const Case cases[] = {
        {MB_OK, IDOK},
        {MB_OKCANCEL, IDOK},
        {MB_OKCANCEL, IDCANCEL},
        {MB_YESNO, IDYES},
        {MB_YESNO, IDNO},
        {MB_YESNOCANCEL, IDYES},
        {MB_YESNOCANCEL, IDNO},
        {MB_YESNOCANCEL, IDCANCEL},
        {MB_RETRYCANCEL, IDRETRY},
        {MB_RETRYCANCEL, IDCANCEL},
    };
    RecordingDialog dialog;
    RunWith(dialog, StandardTemplate(), [&](RecordingDialog& d) {
        for (const Case& c : cases) {
            responder_.QueueBoxAnswer(c.answer);
            EXPECT_EQ(d.MessageBox("Go on?", "Question", c.type), c.answer) << c.type;
        }
        d.EndDialog(IDOK);
    });
    auto calls = responder_.boxes();
    ASSERT_EQ(calls.size(), std::size(cases));
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].type, cases[i].type);
        EXPECT_EQ(calls[i].text, "Go on?");
        EXPECT_EQ(calls[i].caption, "Question");
        EXPECT_NE(calls[i].owner, nullptr);
        EXPECT_FALSE(calls[i].fromWorker);
    }
}

TEST_F(MessageBoxTest, TheCaptionIsUsedUnchanged) {
    struct Case {
        std::function<int()> ask;
        std::string caption;
    };
    CWnd none;
    const Case cases[] = {
        {[] { return MessageBoxA(nullptr, "text", "", MB_OK); }, ""},
        {[] { return MessageBoxA(nullptr, "text", "Download Error", MB_OK); }, "Download Error"},
        {[] { return MessageBoxA(nullptr, "text", nullptr, MB_OK); }, "Error"},
        {[&] { return none.MessageBox("text", ""); }, ""},
        {[&] { return none.MessageBox("text"); }, AfxGetAppName()},
    };
    for (const Case& c : cases)
        c.ask();
    auto calls = responder_.boxes();
    ASSERT_EQ(calls.size(), std::size(cases));
    for (size_t i = 0; i < calls.size(); ++i)
        EXPECT_EQ(calls[i].caption, cases[i].caption) << i;
}

TEST_F(MessageBoxTest, APostedClickIsDispatchedWhileABoxIsOpen) {
    RecordingDialog dialog;
    size_t clicksWhileOpen = 0;
    RunWith(dialog, StandardTemplate(), [&](RecordingDialog& d) {
        responder_.beforeBoxAnswer = [&](const MessageBoxCall&) {
            PumpUntil([&] { return d.Count(WM_COMMAND, wintest::kButton) > 0; }, 2000);
            clicksWhileOpen = d.Count(WM_COMMAND, wintest::kButton);
        };
        d.PostMessage(WM_COMMAND, MAKEWPARAM(wintest::kButton, BN_CLICKED));
        d.MessageBox("Waiting", "", MB_OK);
        d.EndDialog(IDOK);
    });
    EXPECT_EQ(clicksWhileOpen, 1u);
}

TEST_F(MessageBoxTest, AWorkersBoxIsAnsweredWhileTheUiThreadWaitsForThatWorker) {
    RecordingDialog dialog;
    int answer = 0;
    size_t clicksDuringWait = 99;
    std::thread::id answeredOn;
    RunWith(dialog, StandardTemplate(), [&](RecordingDialog& d) {
        HWND hwnd = d.m_hWnd;
        responder_.QueueBoxAnswer(IDRETRY);
        responder_.beforeBoxAnswer = [&](const MessageBoxCall&) {
            answeredOn = std::this_thread::get_id();
            PumpFor(20);  // a box that stays open a while: still nothing else is dispatched
        };
        HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        std::thread worker([&] {
            PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(wintest::kButton, BN_CLICKED), 0);
            answer = MessageBoxA(hwnd, "The transfer dropped.", "Download Error", MB_RETRYCANCEL);
            SetEvent(done);
        });
        EXPECT_EQ(WaitForSingleObject(done, 20000), WAIT_OBJECT_0);
        clicksDuringWait = d.Count(WM_COMMAND, wintest::kButton);
        worker.join();
        CloseHandle(done);
        PumpUntil([&] { return d.Count(WM_COMMAND, wintest::kButton) > 0; }, 2000);
        d.EndDialog(IDOK);
    });
    EXPECT_EQ(answer, IDRETRY);
    EXPECT_EQ(answeredOn, std::this_thread::get_id()) << "the responder runs on the UI thread";
    EXPECT_EQ(clicksDuringWait, 0u) << "posted messages wait until the kernel wait ends";
    EXPECT_EQ(dialog.Count(WM_COMMAND, wintest::kButton), 1u);
    auto calls = responder_.boxes();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(calls[0].fromWorker);
    EXPECT_EQ(calls[0].caption, "Download Error");
}

TEST_F(MessageBoxTest, AWorkersBoxIsShownByTheUiThreadsOwnLoop) {
    std::atomic<int> answer{0};
    responder_.QueueBoxAnswer(IDYES);
    std::thread worker([&] { answer = MessageBoxA(nullptr, "Keep it?", "", MB_YESNO); });
    EXPECT_TRUE(PumpUntil([&] { return answer.load() != 0; }, 5000));
    worker.join();
    EXPECT_EQ(answer.load(), IDYES);
}

TEST_F(MessageBoxTest, TheRealBoxHasTheGivenTitleButtonsAndNoIcon) {
    platform::testing::InstallResponder(nullptr);
    struct Case {
        const char* caption;
        UINT type;
        int press;
        size_t buttons;
        bool icon;
    };
    const Case cases[] = {
        {"", MB_YESNO, IDNO, 2, false},
        {"Setup", MB_RETRYCANCEL, IDRETRY, 2, false},
        {"Setup", MB_OK | MB_ICONEXCLAMATION, IDOK, 1, true},
    };
    RecordingDialog dialog;
    std::vector<platform::testing::ShownBox> seen;
    dialog.onTimer = [&](RecordingDialog& d, UINT_PTR id) {
        if (id != 9)
            return;
        platform::testing::ShownBox box = platform::testing::FindShownMessageBox();
        if (!box.found)
            return;
        d.KillTimer(9);
        seen.push_back(box);
        platform::testing::AnswerShownMessageBox(cases[seen.size() - 1].press);
    };
    std::vector<int> answers;
    RunWith(dialog, StandardTemplate(), [&](RecordingDialog& d) {
        for (const Case& c : cases) {
            d.SetTimer(9, 20);  // answered from a tick dispatched inside the box's loop
            answers.push_back(d.MessageBox("Body text", c.caption, c.type));
        }
        d.EndDialog(IDOK);
    });
    platform::testing::InstallResponder(&responder_);
    ASSERT_EQ(seen.size(), std::size(cases));
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].title, cases[i].caption) << i;
        EXPECT_EQ(seen[i].text, "Body text");
        EXPECT_EQ(seen[i].buttons.size(), cases[i].buttons) << i;
        EXPECT_EQ(seen[i].hasIcon, cases[i].icon) << i;
        EXPECT_EQ(answers[i], cases[i].press) << i;
    }
}

}  // namespace
