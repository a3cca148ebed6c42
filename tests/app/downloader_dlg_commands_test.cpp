// What the start and the resume make of their probe: the warning that the download may not
// resume where it stopped, a start that stops without a size, the proxy-settings link, and a
// resume that stops at a failed probe.
#include <gtest/gtest.h>

#include "support/app/engine_checks.h"
#include "support/app/engine_fixture.h"

namespace apptest {
namespace {

using fixtures::Fault;

class CommandWarningsTest : public ServedEngineTest {
  protected:
    // Serves with `faults`, slowly enough that no download ends before the test pauses it.
    void Serve(std::vector<Fault> faults) {
        faults.push_back(Fault::RateLimit(64 * 1024));
        SetFaults(server_, "/setup.exe", faults);
    }
    // The warning boxes shown since `first`.
    size_t WarningsSince(size_t first) const {
        const std::string warning = FormatText(IDS_RESUME_WARNING, Url().c_str()).GetString();
        const auto boxes = responder_.boxes();
        size_t count = 0;
        for (size_t i = first; i < boxes.size(); ++i) {
            if (boxes[i].text == warning) {
                EXPECT_EQ(Res(IDS_ERROR_CAPTION), boxes[i].caption);
                ++count;
            }
        }
        return count;
    }
    static void StopWorker(TestDlg& dlg) {
        dlg.OnPause();
        EXPECT_TRUE(WaitSettled(dlg));
    }
    static bool LinkShown(TestDlg& dlg) {
        return dlg.GetDlgItem(IDC_STATIC_PROXY_LINK)->IsWindowVisible() != FALSE;
    }
};

TEST_F(CommandWarningsTest, StartAndResumeWarnWhenTheDownloadMayNotResumeAndStillStart) {
    constexpr UINT kLimit = CZELVDownloaderDlg::STALL_TICK_LIMIT;
    struct Case {
        const char* why;
        bool resume;  // from the paused state; else a new start
        std::vector<Fault> faults;
        UINT stallTicks;
        size_t warnings;
    };
    // A start without a size warns too, and stops there (the next test).
    const Case cases[] = {
        {"start, a size", false, {}, 0, 0},
        // Only a resume warns about a server without byte ranges, or a stall.
        {"start, no byte ranges", false, {Fault::NoAcceptRanges()}, 0, 0},
        {"start, 200 ticks without growth", false, {}, kLimit, 0},
        {"resume, a size, ranges, no stall", true, {}, 0, 0},
        {"resume, no size", true, {Fault::NoContentLength()}, 0, 1},
        {"resume, no byte ranges", true, {Fault::NoAcceptRanges()}, 0, 1},
        {"resume, 199 ticks without growth", true, {}, kLimit - 1, 0},
        {"resume, 200 ticks without growth", true, {}, kLimit, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Serve(c.faults);
        const size_t boxesBefore = responder_.boxes().size();
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg, Url());
            dlg.m_nStallTicks = c.stallTicks;
            if (c.resume) {
                dlg.m_nStatus = CZELVDownloaderDlg::STATUS_PAUSED;
                EXPECT_EQ(1, dlg.OnResume());
            } else {
                dlg.OnStart();
            }
            EXPECT_EQ(c.warnings, WarningsSince(boxesBefore));
            EXPECT_EQ(CZELVDownloaderDlg::STATUS_DOWNLOADING, dlg.m_nStatus.load())
                << "the download goes on";
            StopWorker(dlg);
        }));
    }
}

TEST_F(CommandWarningsTest, AStartWhoseProbeGivesNoSizeStopsAfterItsWarning) {
    Serve({Fault::NoContentLength()});
    const size_t boxesBefore = responder_.boxes().size();
    const size_t requestsBefore = server_.Requests().size();
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg, Url());
        dlg.OnBnClickedAction();
        EXPECT_EQ(1u, WarningsSince(boxesBefore)) << "the warning is kept";
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_START_NEW, dlg.m_nStatus.load());
        EXPECT_EQ(0, dlg.m_nLiveWorkers.load());
        EXPECT_EQ(nullptr, dlg.m_hThread) << "no run started";
        EXPECT_EQ(Res(IDS_BUTTON_START), dlg.Text(IDC_BUTTON_ACTION));
        EXPECT_TRUE(dlg.Enabled(IDC_BUTTON_ACTION));
        EXPECT_EQ(Res(IDS_START_WITHOUT_SIZE), dlg.Text(IDC_STATIC_STATUS));
    }));
    EXPECT_TRUE(LogHas("ERROR: " + Res(IDS_START_WITHOUT_SIZE)));
    EXPECT_FALSE(fixtures::Sandbox::Exists(target_)) << "nothing is written";
    EXPECT_TRUE(StoreEmpty());
    const auto requests = server_.Requests();
    for (size_t i = requestsBefore; i < requests.size(); ++i)
        EXPECT_EQ("HEAD", requests[i].method) << "nothing is downloaded";
}

TEST_F(CommandWarningsTest, AResumeShowsTheProxyLinkByItsProbeAndStopsAtAFailedOne) {
    struct Case {
        const char* why;
        std::vector<Fault> faults;
        bool linkBefore;
        bool passes;
    };
    const Case cases[] = {
        {"a passing probe hides the link", {}, true, true},
        {"a refused probe shows it", {Fault::HeadStatus(404)}, false, false},
        {"a probe that gets no answer shows it", {Fault::NeverAnswer()}, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ForgetLog();
        Serve(c.faults);
        const size_t requestsBefore = server_.Requests().size();
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg, Url());
            dlg.m_nHeaderTimeout = 1;
            dlg.ShowWindow(SW_SHOW);
            dlg.GetDlgItem(IDC_STATIC_PROXY_LINK)->ShowWindow(c.linkBefore ? SW_SHOW : SW_HIDE);
            dlg.m_nStatus = CZELVDownloaderDlg::STATUS_PAUSED;
            EXPECT_EQ(c.passes ? 1 : 0, dlg.OnResume());
            EXPECT_EQ(!c.passes, LinkShown(dlg));
            if (c.passes) {
                StopWorker(dlg);
                return;
            }
            EXPECT_EQ(CZELVDownloaderDlg::STATUS_PAUSED, dlg.m_nStatus.load());
            EXPECT_EQ(nullptr, dlg.m_hThread) << "no worker started";
            if (dlg.m_hThread != nullptr)
                StopWorker(dlg);
        }));
        if (!c.passes) {
            EXPECT_FALSE(LogHas("Begin thread to perform download!!!"));
            EXPECT_FALSE(LogHas("----- OnResume()")) << "it returns at once";
            const auto requests = server_.Requests();
            for (size_t i = requestsBefore; i < requests.size(); ++i)
                EXPECT_EQ("HEAD", requests[i].method) << "nothing is downloaded";
        }
    }
}

}  // namespace
}  // namespace apptest
