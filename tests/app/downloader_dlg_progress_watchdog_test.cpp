// The stall watchdog: it acts at the 200th tick in a row without growth, not before, and clears
// the count only once its resume has seen it.
#include <gtest/gtest.h>

#include "app/dl_info.h"
#include "support/app/engine_checks.h"
#include "support/app/engine_fixture.h"
#include "support/platform/test_seams.h"

namespace apptest {
namespace {

using fixtures::Fault;

const char kWatchdogLine[] =
    "File size not changed over 60 seconds, start to pause all threads and resume them after "
    "for retrying.";

class WatchdogTest : public ServedEngineTest {};

TEST_F(WatchdogTest, ItActsAtThe200thTickWithoutGrowthAndClearsTheCountAfterItsResume) {
    struct Case {
        const char* why;
        std::vector<Fault> faults;
        bool probePasses;
    };
    const Case cases[] = {
        {"the probe passes: the resume warns and downloads", {}, true},
        {"the probe fails: the download stays paused", {Fault::HeadStatus(404)}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ForgetLog();
        SetFaults(server_, "/setup.exe", c.faults);
        const size_t boxesBefore = responder_.boxes().size();
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg, Url(), 4, Md5Of(bytes_));
            dlg.ShowWindow(SW_SHOW);
            // A running download whose four connections stopped after 10 bytes each.
            dlg.m_nServerFileSize = kSize;
            dlg.m_pDLInfo = new DLInfo[4]();
            for (int i = 0; i < 4; ++i)
                dlg.m_pDLInfo[i].dwWrittenBytes = 10;
            dlg.m_nLastWritten = 40;
            dlg.m_nStallTicks = CZELVDownloaderDlg::STALL_TICK_LIMIT - 2;
            dlg.m_nStatus = CZELVDownloaderDlg::STATUS_DOWNLOADING;

            dlg.OnTimer(CZELVDownloaderDlg::IDT_PROGRESS);
            EXPECT_EQ(CZELVDownloaderDlg::STALL_TICK_LIMIT - 1, dlg.m_nStallTicks);
            EXPECT_FALSE(LogHas(kWatchdogLine)) << "not at the 199th tick";
            EXPECT_EQ(CZELVDownloaderDlg::STATUS_DOWNLOADING, dlg.m_nStatus.load());

            dlg.OnTimer(CZELVDownloaderDlg::IDT_PROGRESS);
            EXPECT_TRUE(LogHas(kWatchdogLine)) << "at the 200th";
            EXPECT_EQ(0u, dlg.m_nStallTicks) << "cleared after the restart";
            if (c.probePasses) {
                EXPECT_TRUE(WaitSettled(dlg, 60000));
                EXPECT_EQ(CZELVDownloaderDlg::STATUS_FINISHED, dlg.m_nStatus.load());
            } else {
                EXPECT_EQ(CZELVDownloaderDlg::STATUS_PAUSED, dlg.m_nStatus.load());
                EXPECT_TRUE(dlg.GetDlgItem(IDC_STATIC_PROXY_LINK)->IsWindowVisible());
            }
        }));
        // The resume saw the count at 200: its warning box.
        const auto boxes = responder_.boxes();
        ASSERT_EQ(boxesBefore + (c.probePasses ? 1 : 0), boxes.size());
        if (c.probePasses) {
            EXPECT_EQ(FormatText(IDS_RESUME_WARNING, Url().c_str()).GetString(), boxes.back().text);
        }
    }
}

}  // namespace
}  // namespace apptest
