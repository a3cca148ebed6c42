// A dropped run and a return to a new start: a drop saves the progress and stops the timer, the
// count of drops runs on across the box and across downloads, and a discard empties the status
// line.
#include <gtest/gtest.h>

#include "app/dl_info.h"
#include "support/app/engine_checks.h"
#include "support/app/engine_fixture.h"
#include "support/platform/test_seams.h"

namespace apptest {
namespace {

using fixtures::Fault;
using platform::testing::PumpUntil;

const char kDropLine[] = "Detect this download process is dropped!!";

class DropsTest : public ServedEngineTest {
  protected:
    size_t FailureBoxesSince(size_t first) const {
        const std::string failure = FormatText(IDS_DOWNLOAD_FAILED, Url().c_str()).GetString();
        const auto boxes = responder_.boxes();
        size_t count = 0;
        for (size_t i = first; i < boxes.size(); ++i)
            count += boxes[i].text == failure;
        return count;
    }
    // Pumps until the download has ended as `status` with no worker left.
    static bool SettlesAs(TestDlg& dlg, int status) {
        return PumpUntil([&] { return dlg.m_nStatus == status && dlg.m_nLiveWorkers.load() == 0; },
                         60000);
    }
    // Pumps until the failure box has been shown `count` times and the run has ended.
    bool SettlesAfterBoxes(TestDlg& dlg, size_t first, size_t count) {
        return PumpUntil(
            [&] {
                return FailureBoxesSince(first) == count && dlg.m_nLiveWorkers.load() == 0 &&
                       dlg.m_nStatus == CZELVDownloaderDlg::STATUS_PAUSED;
            },
            60000);
    }
};

TEST_F(DropsTest, ADropWhoseSaveTheStoreRefusesSaysSo) {
    server_.AddFault("/setup.exe", Fault::DropAfter(20000));
    platform::testing::RegistryHold hold;  // another process holds the store throughout
    ASSERT_TRUE(hold.held());
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        dlg.m_nRetryCount = 1;
        Start(dlg, 4);
        ASSERT_TRUE(SettlesAfterBoxes(dlg, 0, 1));
    }));
    // Once for the start, once for the drop.
    EXPECT_EQ(2u, Occurrences(Log(), "ERROR: " + Res(IDS_PROGRESS_NOT_SAVED)));
}

TEST_F(DropsTest, ADropSavesTheProgressAndStopsTheTimer) {
    server_.AddFault("/setup.exe", Fault::DropAfter(20000));
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        dlg.m_nRetryCount = 1;  // this drop shows the box: no automatic resume
        Start(dlg, 4);
        ASSERT_TRUE(SettlesAfterBoxes(dlg, 0, 1));
        EXPECT_FALSE(ProgressTimerArmed(dlg));
        ASSERT_NE(nullptr, dlg.m_pDLInfo);
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE(i);
            const std::string key =
                "SOFTWARE\\Corvantis\\Downloader\\Progress\\Connect" + std::to_string(i);
            DWORD start = 0, written = 0;
            ASSERT_TRUE(ReadSavedNumber(key, "StartRange", &start));
            ASSERT_TRUE(ReadSavedNumber(key, "WrittenBytes", &written));
            EXPECT_EQ(dlg.m_pDLInfo[i].dwStartRange, start);
            EXPECT_EQ(dlg.m_pDLInfo[i].dwWrittenBytes.load(), written);
        }
    }));
}

TEST_F(DropsTest, AfterTheBoxTheFourthAndFifthDropsResumeByThemselves) {
    // One connection, so that every dropped request is one dropped run.
    server_.AddFault("/setup.exe", Fault::DropAfter(20000).Times(5));
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Start(dlg, 1);
        ASSERT_TRUE(SettlesAfterBoxes(dlg, 0, 1)) << "the third drop shows the box";
        EXPECT_EQ(3u, Occurrences(Log(), kDropLine));
        EXPECT_EQ(CZELVDownloaderDlg::DEFAULT_RETRY_COUNT, dlg.m_nRetryCount.load());

        dlg.OnBnClickedAction();  // the user resumes
        EXPECT_TRUE(SettlesAs(dlg, CZELVDownloaderDlg::STATUS_FINISHED));
        EXPECT_EQ(5u, Occurrences(Log(), kDropLine));
        EXPECT_EQ(1u, FailureBoxesSince(0)) << "drops 4 and 5 resumed by themselves";
        EXPECT_EQ(1, dlg.m_nRetryCount.load());
    }));
    EXPECT_TRUE(TargetBytes() == bytes_);
}

TEST_F(DropsTest, TheCountOfDropsCarriesOverToTheNextDownload) {
    server_.AddFault("/setup.exe", Fault::DropAfter(20000).Times(1));
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Start(dlg, 1);
        ASSERT_TRUE(SettlesAs(dlg, CZELVDownloaderDlg::STATUS_FINISHED));
        EXPECT_EQ(0u, FailureBoxesSince(0)) << "the first drop resumed by itself";

        // A new download in the same run of the program.
        std::remove(target_.c_str());
        dlg.m_nStatus = CZELVDownloaderDlg::STATUS_START_NEW;
        server_.AddFault("/setup.exe", Fault::DropAfter(20000).Times(2));
        dlg.OnBnClickedAction();
        ASSERT_TRUE(SettlesAfterBoxes(dlg, 0, 1)) << "its second drop is the third in all";
        EXPECT_EQ(3u, Occurrences(Log(), kDropLine));
    }));
}

TEST_F(EngineTest, ADiscardEmptiesTheStatusLineAndAKeptFileKeepsIt) {
    for (BOOL deleteFile : {TRUE, FALSE}) {
        SCOPED_TRACE(deleteFile);
        sandbox_.WriteFile(target_, "partial");
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg, "http://127.0.0.1:9/setup.exe");
            dlg.m_nStatus = CZELVDownloaderDlg::STATUS_PAUSED;
            dlg.SetDlgItemText(IDC_STATIC_STATUS, "status before");
            dlg.BackToStartNewEnv(deleteFile);
            EXPECT_EQ(deleteFile ? "" : "status before", dlg.Text(IDC_STATIC_STATUS));
        }));
        EXPECT_EQ(!deleteFile, fixtures::Sandbox::Exists(target_));
    }
}

}  // namespace
}  // namespace apptest
