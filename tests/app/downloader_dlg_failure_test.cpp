#include <gtest/gtest.h>

#include <atomic>

#include "platform/kernel/sync.h"
#include "platform/kernel/thread.h"
#include "support/app/app_fixture.h"

namespace apptest {
namespace {

const int kGroup[] = {IDC_BUTTON_EXIT, IDC_BUTTON_ACTION, IDC_COMBO_PRODUCT, IDC_BUTTON_BROWSE};

std::vector<bool> GroupState(const TestDlg& dlg) {
    std::vector<bool> state;
    for (int id : kGroup)
        state.push_back(dlg.Enabled(id));
    return state;
}

TEST_F(DialogTest, FailureBoxShowsItsTextAndLeavesOnlyTheExitButton) {
    struct Case {
        const char* caption;
        const char* text;
        bool box;
    };
    const Case cases[] = {
        {"", "", false},
        {"Download problem", "The download of http://h/a.exe failed.", true},
        {"", "A text under an empty caption", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const size_t boxesBefore = responder_.boxes().size();
        std::string logPath;
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            logPath = dlg.OpenLog();
            dlg.SetDlgItemText(IDC_STATIC_STATUS, "status before");
            dlg.MessageHandler(c.caption, c.text);
            EXPECT_EQ((std::vector<bool>{true, false, false, false}), GroupState(dlg));
            EXPECT_EQ("status before", dlg.Text(IDC_STATIC_STATUS)) << "never in the status line";
            dlg.EnableControls(TRUE);
            EXPECT_EQ((std::vector<bool>{true, true, true, true}), GroupState(dlg));
            dlg.EnableControls(FALSE);
            EXPECT_EQ((std::vector<bool>{false, false, false, false}), GroupState(dlg));
        }));
        const auto boxes = responder_.boxes();
        ASSERT_EQ(boxesBefore + (c.box ? 1 : 0), boxes.size());
        if (c.box) {
            EXPECT_EQ(c.text, boxes.back().text);
            EXPECT_EQ(c.caption, boxes.back().caption) << "the caption is used unchanged";
            EXPECT_EQ(static_cast<UINT>(MB_OK), boxes.back().type) << "OK alone, no icon";
        }
        std::vector<std::string> expected = {"FATAL ERROR:+++++ MessageHandler()"};
        if (c.box)
            expected.push_back(std::string("FATAL ERROR:") + c.text);
        expected.push_back("FATAL ERROR:----- MessageHandler()");
        auto lines = LogLines(logPath);
        ASSERT_GE(lines.size(), expected.size());
        lines.erase(lines.begin(), lines.end() - static_cast<long>(expected.size()));
        EXPECT_EQ(expected, lines);
    }
}

// A failure box asked for on the worker while the user-interface thread waits for that worker
// is shown all the same, and neither thread stalls.
TEST_F(DialogTest, FailureBoxFromAWorkerIsShownWhileTheInterfaceWaitsForIt) {
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        dlg.OpenLog();
        struct Job {
            TestDlg* dlg;
            std::atomic<bool> done{false};
        } job{&dlg};
        CWinThread* thread = AfxBeginThread(
            [](LPVOID param) -> UINT {
                auto* j = static_cast<Job*>(param);
                j->dlg->MessageHandler("Download problem", "Dropped connections");
                j->done = true;
                return 0;
            },
            &job);
        ASSERT_NE(nullptr, thread);
        HANDLE handle = nullptr;
        ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), thread->m_hThread, GetCurrentProcess(),
                                    &handle, 0, FALSE, DUPLICATE_SAME_ACCESS));
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(handle, 10000));
        CloseHandle(handle);
        EXPECT_TRUE(job.done);
        EXPECT_EQ((std::vector<bool>{true, false, false, false}), GroupState(dlg));
    }));
    const auto boxes = responder_.boxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_TRUE(boxes[0].fromWorker);
    EXPECT_EQ("Dropped connections", boxes[0].text);
}

}  // namespace
}  // namespace apptest
